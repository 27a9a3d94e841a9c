// Coordinate fields built from rays and ranges, and surfels derived from them.
#include "ImageDatabase.h"
#include "ImageDatabaseFixtures.h"

#include <gmock/gmock.h>

using imagedbtest::PinholeRays;
using imagedbtest::PlaneRanges;

// Measured pixels on their rays, then moved; holes invalid and out of the box; rays of another size: none.
TEST(ZoCFieldCoord, PutsMeasuredPixelsOnTheirRaysAndMarksTheRestInvalid) {
    const ZoCFieldRay rays = PinholeRays(6, 5);
    const CbMatrix4Rf shift = CbMatrix4Rf::Translation(0, 0, 5);
    const ZoCFieldCoord points(&rays, PlaneRanges(rays, 40.0f, 3), &shift);
    for (int y = 0; y < 5; ++y)
        for (int x = 0; x < 6; ++x)
            EXPECT_EQ(points.IsValid(x, y), (x + y) % 3 != 0) << x << "," << y;
    EXPECT_NEAR(points.At(1, 1).z, 45.0f, 1e-4);
    EXPECT_NEAR(points.GetBBox().GetDepth(), 0.0f, 1e-4);  // every valid point on the moved plane
    const ZoCFieldCoord mismatched(&rays, ZoCFieldRange(7, 5, 10.0f), nullptr);
    EXPECT_TRUE(mismatched.RectValid().IsEmpty() && mismatched.GetBBox().IsEmpty());
}

// Samples 3 pixels (0.9) apart on z = 30: radius half that, normal to the viewer; holes skipped; appended.
TEST(ZoCSurfel, PlaneGivesItsNormalTowardsTheViewerAndHalfTheSpacingAsRadius) {
    const ZoCFieldRay rays = PinholeRays(10, 8);
    const ZoCFieldCoord points(&rays, PlaneRanges(rays, 30.0f), nullptr);
    for (const float viewerZ : {0.0f, 100.0f}) {
        ZoCSurfelCollection surfels;
        // Samples with both neighbours inside the 10 x 8 field: x in {0, 3, 6}, y in {0, 3}.
        EXPECT_EQ(AppendSurfels(points, {0, 0, viewerZ}, 3, surfels), 6);
        for (const ZoCSurfel& s : surfels)
            EXPECT_THAT((std::vector<float>{s.m_normal.z, s.m_position.z, s.m_fRadius}),
                        testing::Pointwise(testing::FloatNear(1e-4f),
                                           {viewerZ < 30.0f ? -1.0f : 1.0f, 30.0f, 0.45f}));
    }
    ZoCFieldRange range = PlaneRanges(rays, 30.0f);
    range.At(1, 0) = 0;  // right neighbour of (0, 0)
    ZoCSurfelCollection surfels(1);
    // Step 0 counts as 1: 9 x 7 samples minus (1, 0) itself and (0, 0), whose right neighbour it is.
    EXPECT_EQ(AppendSurfels(ZoCFieldCoord(&rays, range, nullptr), {0, 0, 0}, 0, surfels), 61);
    EXPECT_EQ(surfels.size(), 62u);
}
