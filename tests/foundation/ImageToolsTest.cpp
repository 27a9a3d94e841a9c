// Image tools: a raster-scanned region's area is the region and the holes a 4-connected outside flood misses.
#include "ImageTools.h"

#include <gtest/gtest.h>

#include <queue>
#include <random>
#include <set>

TEST(ZoCPaddedImage, ANullSourceANegativeSizeOrRowsShorterThanTheWidthGiveAnEmptyImage) {
    const uint8_t pixel = 1;
    for (const ZoCPaddedImage& image : {ZoCPaddedImage(nullptr, 3, 3, 3), ZoCPaddedImage(&pixel, -1, 1, 1),
                                        ZoCPaddedImage(&pixel, 1, -1, 1), ZoCPaddedImage(&pixel, 2, 1, 1)})
        EXPECT_TRUE(image.IsEmpty());
}

TEST(ZoCPixelPolygon, AreaIsTheRegionWithItsHolesFilled) {
    const auto flood = [](int x, int y, bool diagonal, auto open) {
        std::set<std::pair<int, int>> seen = {{y, x}};
        for (std::queue<std::pair<int, int>> todo({{y, x}}); !todo.empty(); todo.pop())
            for (int d = 0; d < 9; ++d) {
                const int nx = todo.front().second + d % 3 - 1, ny = todo.front().first + d / 3 - 1;
                if ((diagonal || d % 2 == 1) && open(nx, ny) && seen.insert({ny, nx}).second)
                    todo.push({ny, nx});
            }
        return seen;
    };
    std::mt19937_64 rng(47110815);
    for (int trial = 0; trial < 12; ++trial) {
        const int w = 5 + trial, h = 20 - trial;
        std::vector<uint8_t> pixels(static_cast<size_t>(w * h));
        for (uint8_t& p : pixels)
            p = rng() % 5 < 2;
        for (int k = 0; k < 9; ++k)  // a ring around one pixel
            pixels[static_cast<size_t>((1 + trial % (h - 3) + k / 3) * w + trial % (w - 2) + k % 3)] = k != 4;
        ZoCPaddedImage image(pixels.data(), w, h, w);
        for (ZoNPixel at; image.FindNext(1, at.x, at.y);) {
            const auto region = flood(at.x, at.y, true, [&](int x, int y) { return image.At(x, y) == 1; });
            const auto outside = flood(-1, -1, false, [&](int x, int y) {
                return x >= -1 && y >= -1 && x <= w && y <= h && !region.count({y, x});
            });
            std::vector<std::pair<int, int>> filled, area;
            for (int k = 0; k < w * h; ++k)
                if (!outside.count({k / w, k % w}))
                    filled.push_back({k / w, k % w});
            const ZoCPixelPolygon polygon(ZoCBoundaryTracer::TraceOuterBoundary(image, at, 1), 0);
            for (const ZoCPixelPolygon::ZoNSpan& s : polygon.GetAreaSpans())
                for (int x = s.x0; x <= s.x1; ++x)
                    area.push_back({s.y, x});
            EXPECT_EQ(std::pair(area, polygon.GetArea()), std::pair(filled, std::ssize(filled))) << trial;
            for (const auto& [y, x] : filled)
                image.Set(x, y, 0);
        }
    }
}
