// Coordinate fields built from rays and ranges, and surfels derived from them.
#include "ImageDatabase.h"
#include "ImageDatabaseFixtures.h"

#include <gtest/gtest.h>

using imagedbtest::PinholeRays;
using imagedbtest::PlaneRanges;

TEST(ZoCFieldCoord, UnmeasuredPixelsHoldExactlyTheInvalidValue) {
    const ZoCFieldRay rays = PinholeRays(6, 5);
    const ZoCFieldCoord points(&rays, PlaneRanges(rays, 40.0f, 3), nullptr);
    for (int y = 0; y < 5; ++y)
        for (int x = 0; x < 6; ++x) {
            const bool hole = (x + y) % 3 == 0;
            EXPECT_EQ(points.At(x, y) == points.GetInvalidValue(), hole) << x << "," << y;
            if (!hole) {
                EXPECT_NEAR(points.At(x, y).z, 40.0f, 1e-4);
            }
        }
}

TEST(ZoCFieldCoord, RayFieldOfAnotherSizeGivesNoPoints) {
    const ZoCFieldRay rays = PinholeRays(6, 5);
    const ZoCFieldCoord points(&rays, ZoCFieldRange(7, 5, 10.0f), nullptr);
    EXPECT_TRUE(points.RectValid().IsEmpty());
    EXPECT_TRUE(points.GetBBox().IsEmpty());
}

TEST(ZoCFieldCoord, CopiesOutliveTheFieldsTheyWereBuiltFrom) {
    ZoCFieldCoord copy;
    {
        const ZoCFieldRay rays = PinholeRays(4, 4);
        const ZoCFieldRange range = PlaneRanges(rays, 10.0f);
        const CbMatrix4Rf shift = CbMatrix4Rf::Translation(0, 0, 5);
        copy = ZoCFieldCoord(&rays, range, &shift);
    }
    EXPECT_NEAR(copy.At(1, 1).z, 15.0f, 1e-5);
    EXPECT_NEAR(copy.GetBBox().GetDepth(), 0.0f, 1e-5);
}

TEST(ZoCSurfel, PlaneGivesItsNormalTurnedTowardsTheViewer) {
    const ZoCFieldRay rays = PinholeRays(10, 8);
    const ZoCFieldCoord points(&rays, PlaneRanges(rays, 30.0f), nullptr);
    for (float viewerZ : {0.0f, 100.0f}) {
        ZoCSurfelCollection surfels;
        // Valid 3x3-spaced samples with both neighbours inside the 10 x 8 field: x in {0,3,6}, y in {0,3}.
        EXPECT_EQ(AppendSurfels(points, {0, 0, viewerZ}, 3, surfels), 6);
        ASSERT_EQ(surfels.size(), 6u);
        for (const ZoCSurfel& s : surfels) {
            EXPECT_NEAR(s.m_normal.z, viewerZ < 30.0f ? -1.0f : 1.0f, 1e-5);
            EXPECT_NEAR(s.m_position.z, 30.0f, 1e-4);
            EXPECT_GT(s.m_fRadius, 0.0f);
        }
    }
}

TEST(ZoCSurfel, SkipsSamplesWithAnUnmeasuredNeighbourAndAppends) {
    const ZoCFieldRay rays = PinholeRays(4, 4);
    ZoCFieldRange range = PlaneRanges(rays, 30.0f);
    range.At(1, 0) = 0;  // right neighbour of (0, 0)
    const ZoCFieldCoord points(&rays, range, nullptr);
    ZoCSurfelCollection surfels(1);  // something already there stays
    // 3 x 3 samples minus (1, 0) itself and (0, 0), whose right neighbour it is.
    EXPECT_EQ(AppendSurfels(points, {0, 0, 0}, 0, surfels), 7);
    EXPECT_EQ(surfels.size(), 8u);
}
