// Ground truth of a scan: which surface counts and when a sample is covered, on closed-form
// scenes whose areas are known.
#include "GroundTruth.h"
#include "SceneFixtures.h"

#include <gtest/gtest.h>

#include <cmath>

namespace {

// Points on a grid 0.05 mm apart over the box's top face (z = top), lifted by `lift` mm.
std::vector<CbVector3f> topFaceGrid(float half, float top, float lift) {
    std::vector<CbVector3f> points;
    for (float x = -half; x <= half; x += 0.05f)
        for (float y = -half; y <= half; y += 0.05f)
            points.push_back({x, y, top - lift});
    return points;
}

}  // namespace

// A 10 x 10 x 5 mm box on the plate (z down: it spans z in [-5, 0]). Its base points straight
// down and the lowest millimetre of its walls lies within the plate's clearance: what counts is
// the top (100 mm^2) and the walls' upper 4 mm (4 x 40 mm^2).
TEST(GroundTruth, ScannableSurfaceLeavesOutTheBaseAndTheLowestMillimetre) {
    const Sim::GroundTruth truth(simtest::BoxMesh({-5, -5, -5}, {5, 5, 0}));
    EXPECT_NEAR(truth.ScannableArea(), 260.0, 4.0);
    for (const Sim::GroundTruth::Sample& s : truth.GetSamples())
        ASSERT_LE(s.point.z, -1.0f);
    // About one sample per 0.04 mm^2 on the counted surface (the walls' dropped part included).
    EXPECT_NEAR(static_cast<double>(truth.GetSamples().size()), 100 / 0.04 + 160 / 0.04, 100.0);
}

// A 4 x 4 x 5 mm block set 2 mm deep into the box's top, as crowns sit in a jaw's base: the
// block's walls inside the box and the box's top under the block are no surface anyone sees.
TEST(GroundTruth, SurfaceInsideAnotherClosedPartIsLeftOut) {
    Sim::TriangleMesh model = simtest::BoxMesh({-5, -5, -5}, {5, 5, 0});
    model.Append(simtest::BoxMesh({-2, -2, -8}, {2, 2, -3}));
    // Box: top 100 - 16 under the block, walls 160; block: top 16, walls above the box 16 x 3.
    EXPECT_NEAR(Sim::GroundTruth(model).ScannableArea(), 84.0 + 160.0 + 16.0 + 48.0, 4.0);
}

TEST(GroundTruth, MeasuredPointsCoverSamplesWithinATenthOfAMillimetre) {
    Sim::GroundTruth truth(simtest::BoxMesh({-5, -5, -5}, {5, 5, 0}));
    EXPECT_EQ(truth.Coverage(), 0.0);
    truth.AddPoints(topFaceGrid(5.0f, -5.0f, 0.15f));  // hovering above the face: covers nothing
    EXPECT_EQ(truth.Coverage(), 0.0);
    truth.AddPoints(topFaceGrid(5.0f, -5.0f, 0.06f));
    // The top face and the top 0.1 mm rim of the walls, 0.06 mm below the points.
    const double rim = 4 * 10 * (0.1 - 0.06);
    EXPECT_NEAR(truth.Coverage(), (100.0 + rim) / 260.0, 0.02);
    truth.AddPoints({{NAN, 0, -5}, {1e30f, 0, 0}});  // ignored, never a crash
    truth.Reset();
    EXPECT_EQ(truth.Coverage(), 0.0);
}

// Faces tilted by a known angle below the horizontal: up to 60 degrees they count, beyond not.
TEST(GroundTruth, FacesPointingMoreThanSixtyDegreesDownAreLeftOut) {
    for (const float degrees : {-90.0f, 0.0f, 45.0f, 55.0f, 65.0f, 90.0f}) {
        const float a = degrees * 3.14159265f / 180.0f;
        // The normal's down (+z) component is sin(a).
        const CbVector3f normal(std::cos(a), 0, std::sin(a));
        const Sim::GroundTruth truth(simtest::QuadMesh({0, 0, -10}, normal, 4.0f));
        EXPECT_NEAR(truth.ScannableArea(), degrees <= 60 ? 16.0 : 0.0, 1e-3) << degrees << " degrees down";
        EXPECT_EQ(truth.Coverage(), 0.0);  // nothing measured, and with nothing to scan no NaN
    }
}
