// The planning's coverage of the surface around the jaw line.
#include "CoverageMap.h"

#include <gtest/gtest.h>

#include <cmath>

namespace {

constexpr float c_fDeg = 0.017453292f;

// A straight jaw line along x, 40 mm long, with the surface seen from above along +z.
std::vector<CbVector3f> straightLine() { return {{0, 0, 0}, {20, 0, 0}, {40, 0, 0}}; }

// Points on the cylinder of radius r about the x axis between the angles from..to (degrees from
// up, positive towards -y, the lateral side of a line running along +x with up +z).
std::vector<float> cylinder(float r, float fromDeg, float toDeg, float x0 = 0, float x1 = 40) {
    std::vector<float> xyz;
    for (float x = x0; x <= x1; x += 0.25f)
        for (float phi = fromDeg; phi <= toDeg; phi += 1.0f) {
            const float a = phi * c_fDeg;
            xyz.insert(xyz.end(), {x, -r * std::sin(a), r * std::cos(a)});
        }
    return xyz;
}

}  // namespace

TEST(CoverageMap, FullyScannedSurfaceIsCovered) {
    CoverageMap map;
    map.SetCenterLine(straightLine(), {0, 0, 1});
    ASSERT_TRUE(map.HasSurface());
    EXPECT_EQ(map.NumCells(), 41u * CoverageMap::c_iNumSectors);
    EXPECT_EQ(map.Coverage(), 0.0);
    const auto points = cylinder(5, -119.5f, 119.5f, -0.5f, 40.5f);
    map.AddPoints(points.data(), points.size());
    EXPECT_EQ(map.Coverage(), 1.0);
    EXPECT_TRUE(map.Gaps(5).empty());
}

TEST(CoverageMap, HalfScannedSurfaceLeavesOneGapOnTheOtherSide) {
    CoverageMap map;
    map.SetCenterLine(straightLine(), {0, 0, 1});
    const auto points = cylinder(5, -119.5f, -0.5f, -0.5f, 40.5f);
    map.AddPoints(points.data(), points.size());
    EXPECT_NEAR(map.Coverage(), 0.5, 1e-9);
    const auto gaps = map.Gaps(5);
    ASSERT_EQ(gaps.size(), 1u);
    // 41 samples x 6 sectors of 20 degrees at the radius of the covered side.
    EXPECT_NEAR(gaps[0].area, 41 * 5 * 120 * c_fDeg, 1.0);
    EXPECT_EQ(gaps[0].cells.size(), 41u * 6u);
    EXPECT_LT(gaps[0].normal.y, -0.3f);  // the uncovered side faces -y
    EXPECT_NEAR((gaps[0].target - CbVector3f(gaps[0].target.x, 0, 0)).Length(), 5.0f, 0.05f);
}

TEST(CoverageMap, GapsAreOrderedByAreaAndCountsNeedThreePoints) {
    CoverageMap map;
    map.SetCenterLine(straightLine(), {0, 0, 1});
    // Everything but a long strip and a short strip.
    auto points = cylinder(5, -119.5f, -60.5f, -0.5f, 40.5f);
    const auto middle = cylinder(5, -39.5f, 119.5f, -0.5f, 40.5f);
    points.insert(points.end(), middle.begin(), middle.end());
    map.AddPoints(points.data(), points.size());
    const auto gaps = map.Gaps(5);
    ASSERT_EQ(gaps.size(), 1u);  // the strip between -60 and -40 degrees
    EXPECT_EQ(gaps[0].cells.size(), 41u);
    CoverageMap sparse;
    sparse.SetCenterLine(straightLine(), {0, 0, 1});
    const float two[6] = {10, 0, 5, 10.1f, 0, 5};
    sparse.AddPoints(two, 6);
    EXPECT_EQ(sparse.NumCoveredCells(), 0u);
    const float three[9] = {10, 0, 5, 10.1f, 0, 5, 10.2f, 0, 5};
    sparse.AddPoints(three, 9);
    EXPECT_EQ(sparse.NumCoveredCells(), 1u);
}

TEST(CoverageMap, PointsFarFromTheLineOrBelowItDoNotCount) {
    CoverageMap map;
    map.SetCenterLine(straightLine(), {0, 0, 1});
    const float far[9] = {10, 0, 20, 10, 0, 20, 10, 0, 20};       // 20 mm above
    const float below[9] = {10, 0, -5, 10, 0, -5, 10, 0, -5};     // straight down: 180 degrees
    map.AddPoints(far, 9);
    map.AddPoints(below, 9);
    EXPECT_EQ(map.NumCoveredCells(), 0u);
}

TEST(CoverageMap, DegenerateLinesHaveNoSurface) {
    CoverageMap map;
    map.SetCenterLine({}, {0, 0, 1});
    EXPECT_FALSE(map.HasSurface());
    map.SetCenterLine({{1, 1, 1}}, {0, 0, 1});
    EXPECT_FALSE(map.HasSurface());
    const float p[3] = {1, 1, 1};
    map.AddPoints(p, 3);
    EXPECT_EQ(map.Coverage(), 0.0);
    EXPECT_TRUE(map.Gaps(3).empty());
}
