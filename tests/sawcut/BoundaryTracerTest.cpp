// The image tools behind the saw-cut extractor, checked against flood fills on random bitmaps.
#include "SawCutTestSupport.h"

#include <gtest/gtest.h>

#include <queue>
#include <set>

using namespace sawcuttest;

namespace {
using PixelSet = std::set<std::pair<int, int>>;  // (y, x): row-major order

// The pixels reachable from (x, y) through pixels `open` lets in, 8- or 4-connected.
template <class Open>
PixelSet flood(int x, int y, bool diagonal, Open open) {
    PixelSet seen = {{y, x}};
    std::queue<std::pair<int, int>> todo({{y, x}});
    for (; !todo.empty(); todo.pop())
        for (int dy = -1; dy <= 1; ++dy)
            for (int dx = -1; dx <= 1; ++dx) {
                const int nx = todo.front().second + dx, ny = todo.front().first + dy;
                if ((diagonal || dx == 0 || dy == 0) && open(nx, ny) && seen.insert({ny, nx}).second)
                    todo.push({ny, nx});
            }
    return seen;
}
}  // namespace

TEST(ZoCPaddedImage, BadSourcesGiveAnEmptyImage) {
    const uint8_t pixel = c_uValid;
    ZoNPixel at;
    for (const ZoCPaddedImage& image : {ZoCPaddedImage(nullptr, 3, 3, 3), ZoCPaddedImage(&pixel, -1, 1, 1),
                                        ZoCPaddedImage(&pixel, 2, 1, 1), ZoCPaddedImage()})
        EXPECT_TRUE(image.IsEmpty() && !image.FindNext(c_uValid, at.x, at.y));
}

// Each region found by a raster scan and erased in turn: the chain closes, the margin is the region's
// pixels touching the outside across a side, the area the region with its holes filled.
TEST(ZoCPixelPolygon, RandomRegionsMatchFloodFills) {
    std::mt19937_64 rng(47110815);
    for (int trial = 0; trial < 60; ++trial) {
        std::uniform_int_distribution<int> size(1, 24);
        const int w = size(rng), h = size(rng);
        Bitmap b = RandomBitmap(rng, w, h, 0.2 + 0.6 * std::uniform_real_distribution<double>()(rng));
        ZoCPaddedImage image = Padded(b);
        ZoNPixel at;
        int regions = 0;
        for (; image.FindNext(c_uValid, at.x, at.y); ++regions) {
            const PixelSet region = flood(at.x, at.y, true, [&](int x, int y) {
                return x >= 0 && y >= 0 && x < w && y < h && image.At(x, y) == c_uValid;
            });
            const PixelSet outside = flood(-1, -1, false, [&](int x, int y) {
                return x >= -1 && y >= -1 && x <= w && y <= h && !region.count({y, x});
            });
            PixelSet filled, border, area, margin;
            for (int y = 0; y < h; ++y)
                for (int x = 0; x < w; ++x) {
                    if (!outside.count({y, x}))
                        filled.insert({y, x});
                    if (region.count({y, x}) && outside.count({y, x - 1}) + outside.count({y, x + 1}) +
                                                    outside.count({y - 1, x}) + outside.count({y + 1, x}))
                        border.insert({y, x});
                }
            const ZoCPixelChain chain = ZoCBoundaryTracer::TraceOuterBoundary(image, at, c_uValid);
            ASSERT_TRUE(chain.IsValid());
            ZoNPixel sum;
            for (uint8_t d : chain.GetSteps())
                sum = {sum.x + ZoNPixelStep::c_aiDx[d], sum.y + ZoNPixelStep::c_aiDy[d]};
            const ZoCPixelPolygon polygon(chain, 0);
            for (ZoCPixelPolygon::CIterArea it(polygon); it; ++it)
                area.insert({it->y, it->x});
            for (ZoCPixelPolygon::CIterMargin it(polygon); it; ++it)
                margin.insert({it->y, it->x});
            EXPECT_EQ(std::make_tuple(sum, margin, area, polygon.GetArea()),
                      std::make_tuple(ZoNPixel{0, 0}, border, filled, static_cast<int64_t>(filled.size())))
                << "trial " << trial << ", region at " << at.x << "," << at.y;
            for (const auto& span : polygon.GetAreaSpans())
                image.FillSpan(span.y, span.x0, span.x1, 0);
        }
        EXPECT_EQ(regions == 0, std::count(b.pixels.begin(), b.pixels.end(), c_uValid) == 0) << trial;
    }
}
