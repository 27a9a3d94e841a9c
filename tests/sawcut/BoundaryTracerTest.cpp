// The image tools behind the saw-cut extractor: padded image, boundary tracer, pixel chain
// and pixel polygon, checked on shapes with known boundaries and against independent flood
// fills on random bitmaps.
#include "ImageTools.h"
#include "SawCutTestSupport.h"

#include <gtest/gtest.h>

#include <numeric>

using namespace sawcuttest;

namespace {
// Traces the region whose first pixel a raster scan finds first.
ZoCPixelChain traceFirst(const Bitmap& b) {
    const ZoCPaddedImage image = Padded(b);
    ZoNPixel at;
    if (!image.FindNext(c_uValid, at.x, at.y))
        return {};
    return ZoCBoundaryTracer::TraceOuterBoundary(image, at, c_uValid);
}

ZoNPixel sum(const ZoCPixelChain& chain) {
    ZoNPixel s;
    for (uint8_t d : chain.GetSteps()) {
        s.x += ZoNPixelStep::c_aiDx[d];
        s.y += ZoNPixelStep::c_aiDy[d];
    }
    return s;
}
}  // namespace

// ---------------------------------------------------------------------------------------------
// ZoCPaddedImage

TEST(ZoCPaddedImage, BorderReadsEmptyAndInnerPixelsAreCopied) {
    const Bitmap b = FromText({"##.", ".#."});
    const ZoCPaddedImage image = Padded(b);
    ASSERT_EQ(image.GetWidth(), 3);
    ASSERT_EQ(image.GetHeight(), 2);
    for (int x = -1; x <= 3; ++x) {
        EXPECT_EQ(image.At(x, -1), 0);
        EXPECT_EQ(image.At(x, 2), 0);
    }
    EXPECT_EQ(image.At(-1, 0), 0);
    EXPECT_EQ(image.At(3, 1), 0);
    EXPECT_EQ(image.At(0, 0), c_uValid);
    EXPECT_EQ(image.At(2, 0), 0);
    EXPECT_EQ(image.At(1, 1), c_uValid);
}

TEST(ZoCPaddedImage, FindNextResumesWithoutLookingBack) {
    const Bitmap b = FromText({"#...", "..#.", "#..#"});
    const ZoCPaddedImage image = Padded(b);
    std::vector<ZoNPixel> found;
    ZoNPixel at;
    while (image.FindNext(c_uValid, at.x, at.y)) {
        found.push_back(at);
        ++at.x;  // past the hit; the search wraps to the next row by itself
    }
    const std::vector<ZoNPixel> expected = {{0, 0}, {2, 1}, {0, 2}, {3, 2}};
    EXPECT_EQ(found, expected);
    ZoNPixel past{0, 3};
    EXPECT_FALSE(image.FindNext(c_uValid, past.x, past.y));
}

TEST(ZoCPaddedImage, FillSpanIsClippedToTheInnerImage) {
    Bitmap b(4, 2);
    FillRect(b, 0, 0, 3, 1);
    ZoCPaddedImage image = Padded(b);
    image.FillSpan(0, -5, 1, 0);
    image.FillSpan(1, 2, 99, 0);
    image.FillSpan(7, 0, 3, 0);  // no such row: nothing happens
    EXPECT_EQ(image.At(-1, 0), 0);
    EXPECT_EQ(image.At(0, 0), 0);
    EXPECT_EQ(image.At(1, 0), 0);
    EXPECT_EQ(image.At(2, 0), c_uValid);
    EXPECT_EQ(image.At(1, 1), c_uValid);
    EXPECT_EQ(image.At(2, 1), 0);
    EXPECT_EQ(image.At(4, 1), 0);
}

TEST(ZoCPaddedImage, BadSourcesGiveAnEmptyImage) {
    const uint8_t pixel = c_uValid;
    for (const ZoCPaddedImage& image : {ZoCPaddedImage(nullptr, 3, 3, 3), ZoCPaddedImage(&pixel, -1, 1, 1),
                                        ZoCPaddedImage(&pixel, 2, 1, 1), ZoCPaddedImage()}) {
        EXPECT_TRUE(image.IsEmpty());
        ZoNPixel at;
        EXPECT_FALSE(image.FindNext(c_uValid, at.x, at.y));
    }
}

// ---------------------------------------------------------------------------------------------
// ZoCBoundaryTracer and ZoCPixelChain

TEST(ZoCBoundaryTracer, RectangleIsWalkedCounterClockwiseOnTheScreen) {
    // 6 x 4 rectangle at (2, 1): down the left side, east along the bottom, up the right side,
    // west along the top.
    Bitmap b(10, 7);
    FillRect(b, 2, 1, 7, 4);
    const ZoCPixelChain chain = traceFirst(b);
    ASSERT_TRUE(chain.IsValid());
    EXPECT_EQ(chain.GetStart(), (ZoNPixel{2, 1}));
    std::vector<uint8_t> expected;
    expected.insert(expected.end(), 3, 6);  // S
    expected.insert(expected.end(), 5, 0);  // E
    expected.insert(expected.end(), 3, 2);  // N
    expected.insert(expected.end(), 5, 4);  // W
    EXPECT_EQ(chain.GetSteps(), expected);
    EXPECT_EQ(chain.GetStraightStepCount(), 16u);
    EXPECT_EQ(chain.GetDiagonalStepCount(), 0u);
}

TEST(ZoCBoundaryTracer, RegionLiesLeftOfEveryStepOfAConvexShape) {
    // A disc: for every step, the neighbour on the right of the step (seen on the screen) is
    // outside and the chain closes.
    Bitmap b(40, 40);
    FillDisc(b, 19.3, 20.1, 13.2);
    const ZoCPixelChain chain = traceFirst(b);
    ASSERT_TRUE(chain.IsValid());
    EXPECT_EQ(sum(chain), (ZoNPixel{0, 0}));
    const std::vector<ZoNPixel> pixels = chain.GetPixels();
    ASSERT_EQ(pixels.size(), chain.GetSteps().size());
    for (size_t i = 0; i < pixels.size(); ++i) {
        const uint8_t d = chain.GetSteps()[i];
        if (ZoNPixelStep::IsDiagonal(d))
            continue;
        const uint8_t right = static_cast<uint8_t>((d + 6) & 7);
        const int rx = pixels[i].x + ZoNPixelStep::c_aiDx[right],
                  ry = pixels[i].y + ZoNPixelStep::c_aiDy[right];
        EXPECT_EQ(b.At(rx, ry), 0) << "step " << i;
        // and each step joins region pixels
        const ZoNPixel& next = pixels[(i + 1) % pixels.size()];
        EXPECT_EQ(next.x - pixels[i].x, ZoNPixelStep::c_aiDx[d]);
        EXPECT_EQ(next.y - pixels[i].y, ZoNPixelStep::c_aiDy[d]);
    }
}

TEST(ZoCBoundaryTracer, ThinShapesAreWalkedOnBothSides) {
    {
        // A single pixel: a valid chain without steps.
        const ZoCPixelChain chain = traceFirst(FromText({"...", ".#.", "..."}));
        ASSERT_TRUE(chain.IsValid());
        EXPECT_TRUE(chain.GetSteps().empty());
        EXPECT_EQ(chain.GetPixels(), (std::vector<ZoNPixel>{{1, 1}}));
    }
    {
        // A horizontal line of 5: east 4 times, back west 4 times.
        const ZoCPixelChain chain = traceFirst(FromText({".....", "#####"}));
        EXPECT_EQ(chain.GetSteps(), (std::vector<uint8_t>{0, 0, 0, 0, 4, 4, 4, 4}));
    }
    {
        // A diagonal line of 3: south-east twice and back.
        const ZoCPixelChain chain = traceFirst(FromText({"#..", ".#.", "..#"}));
        EXPECT_EQ(chain.GetSteps(), (std::vector<uint8_t>{7, 7, 3, 3}));
        EXPECT_EQ(chain.GetDiagonalStepCount(), 4u);
    }
    {
        // Two blobs joined at one pixel: the joint is visited from both sides.
        const ZoCPixelChain chain = traceFirst(FromText({"##...", "##...", "..#..", "...##", "...##"}));
        const std::vector<ZoNPixel> pixels = chain.GetPixels();
        EXPECT_EQ(std::count(pixels.begin(), pixels.end(), ZoNPixel{2, 2}), 2);
        EXPECT_EQ(sum(chain), (ZoNPixel{0, 0}));
    }
}

TEST(ZoCBoundaryTracer, RegionsAtTheImageBorderAreTraced) {
    Bitmap b(5, 4);
    FillRect(b, 0, 0, 4, 3);
    const ZoCPixelChain chain = traceFirst(b);
    ASSERT_TRUE(chain.IsValid());
    EXPECT_EQ(chain.GetSteps().size(), 2u * 4 + 2u * 3);
    EXPECT_EQ(ZoCPixelPolygon(chain, 0).GetArea(), 20);
}

TEST(ZoCBoundaryTracer, RefusesStartsThatCannotBeAFirstPixel) {
    const Bitmap b = FromText({".##", "###"});
    const ZoCPaddedImage image = Padded(b);
    EXPECT_FALSE(ZoCBoundaryTracer::TraceOuterBoundary(image, {0, 0}, c_uValid).IsValid());  // empty pixel
    EXPECT_FALSE(ZoCBoundaryTracer::TraceOuterBoundary(image, {2, 0}, c_uValid).IsValid());  // west is region
    EXPECT_FALSE(ZoCBoundaryTracer::TraceOuterBoundary(image, {0, 1}, c_uValid).IsValid());  // north-east is
    EXPECT_FALSE(ZoCBoundaryTracer::TraceOuterBoundary(image, {3, 0}, c_uValid).IsValid());  // outside
    EXPECT_FALSE(ZoCBoundaryTracer::TraceOuterBoundary(image, {-1, 0}, c_uValid).IsValid());
    EXPECT_TRUE(ZoCBoundaryTracer::TraceOuterBoundary(image, {1, 0}, c_uValid).IsValid());
    EXPECT_FALSE(ZoCPixelChain().IsValid());
    EXPECT_TRUE(ZoCPixelChain().GetPixels().empty());
}

// ---------------------------------------------------------------------------------------------
// ZoCPixelPolygon

TEST(ZoCPixelPolygon, RectangleAreaAndMarginInClosedForm) {
    Bitmap b(12, 9);
    FillRect(b, 3, 2, 9, 6);  // 7 x 5
    const ZoCPixelPolygon polygon(traceFirst(b), 20.0);
    EXPECT_EQ(polygon.GetContourLength(), 20.0);
    EXPECT_EQ(polygon.GetArea(), 35);
    EXPECT_EQ(polygon.GetMarginCount(), 2u * 6 + 2u * 4);
    std::vector<ZoCPixelPolygon::ZoNSpan> expected;
    for (int y = 2; y <= 6; ++y)
        expected.push_back({y, 3, 9});
    EXPECT_EQ(polygon.GetAreaSpans(), expected);
    // The margin is the rectangle's outline, each pixel once.
    PixelSet outline;
    for (int y = 2; y <= 6; ++y)
        for (int x = 3; x <= 9; ++x)
            if (x == 3 || x == 9 || y == 2 || y == 6)
                outline.insert({y, x});
    EXPECT_EQ(MarginOf(polygon), outline);
}

TEST(ZoCPixelPolygon, HolesAreInsideTheArea) {
    const Bitmap b = FromText({
        "........",
        ".######.",
        ".#....#.",
        ".#.##.#.",
        ".#....#.",
        ".######.",
        "........",
    });
    const ZoCPixelPolygon polygon(traceFirst(b), 0);
    EXPECT_EQ(polygon.GetArea(), 30);  // the 6 x 5 rectangle, the island in the hole included
    EXPECT_EQ(polygon.GetMarginCount(), 18u);
}

TEST(ZoCPixelPolygon, AreaIteratorWalksTheSpansInOrder) {
    const Bitmap b = FromText({"..#..", ".###.", "#####", ".#.#."});
    const ZoCPixelPolygon polygon(traceFirst(b), 0);
    std::vector<ZoNPixel> walked;
    for (ZoCPixelPolygon::CIterArea it(polygon); it; ++it)
        walked.push_back(*it);
    const std::vector<ZoNPixel> expected = {{2, 0}, {1, 1}, {2, 1}, {3, 1}, {0, 2}, {1, 2},
                                            {2, 2}, {3, 2}, {4, 2}, {1, 3}, {3, 3}};
    EXPECT_EQ(walked, expected);
    EXPECT_EQ(polygon.GetArea(), 11);
}

TEST(ZoCPixelPolygon, EmptyChainGivesAnEmptyPolygon) {
    const ZoCPixelPolygon polygon(ZoCPixelChain(), 3.0);
    EXPECT_EQ(polygon.GetArea(), 0);
    EXPECT_EQ(polygon.GetMarginCount(), 0u);
    EXPECT_FALSE(ZoCPixelPolygon::CIterArea(polygon));
    EXPECT_FALSE(ZoCPixelPolygon::CIterMargin(polygon));
}

// Every region of a random bitmap, found by a raster scan and erased in turn: the margin is
// the region's outer border and the area the region with its holes filled, both computed
// independently by flood fills; the chain closes on itself.
TEST(ZoCPixelPolygon, RandomRegionsMatchFloodFills) {
    std::mt19937_64 rng(47110815);
    for (int trial = 0; trial < 60; ++trial) {
        SCOPED_TRACE("trial " + std::to_string(trial));
        std::uniform_int_distribution<int> size(1, 24);
        const int w = size(rng), h = size(rng);
        const double density = 0.2 + 0.6 * std::uniform_real_distribution<double>()(rng);
        Bitmap b = RandomBitmap(rng, w, h, density);
        ZoCPaddedImage image = Padded(b);
        ZoNPixel at;
        int regions = 0;
        while (image.FindNext(c_uValid, at.x, at.y)) {
            Bitmap current(w, h);  // what is left of the bitmap
            for (int y = 0; y < h; ++y)
                for (int x = 0; x < w; ++x)
                    current.At(x, y) = image.At(x, y);
            const ZoCPixelChain chain = ZoCBoundaryTracer::TraceOuterBoundary(image, at, c_uValid);
            ASSERT_TRUE(chain.IsValid());
            EXPECT_EQ(sum(chain), (ZoNPixel{0, 0}));
            const ZoCPixelPolygon polygon(chain, 0);
            const PixelSet component = Component(current, at.x, at.y);
            EXPECT_EQ(MarginOf(polygon), OuterBorder(component, w, h)) << "region at " << at.x << "," << at.y;
            const PixelSet area = AreaOf(polygon);
            EXPECT_EQ(area, Filled(component, w, h)) << "region at " << at.x << "," << at.y;
            EXPECT_EQ(polygon.GetArea(), static_cast<int64_t>(area.size()));
            for (const auto& span : polygon.GetAreaSpans())
                image.FillSpan(span.y, span.x0, span.x1, 0);
            ++regions;
        }
        EXPECT_EQ(regions == 0, std::count(b.pixels.begin(), b.pixels.end(), c_uValid) == 0);
    }
}
