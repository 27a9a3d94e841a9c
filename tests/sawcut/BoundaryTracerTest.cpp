// The image tools behind the saw-cut extractor: padded image, boundary tracer, pixel chain
// and pixel polygon, checked on shapes with known boundaries and against independent flood
// fills on random bitmaps.
#include "ImageTools.h"
#include "SawCutTestSupport.h"

#include <gtest/gtest.h>

#include <numeric>

using namespace sawcuttest;

namespace {
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
