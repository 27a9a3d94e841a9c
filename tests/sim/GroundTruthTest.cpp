// The built-in models' geometry, and a scan's ground truth on closed-form scenes.
#include "GroundTruth.h"
#include "SceneFixtures.h"
#include "SyntheticModels.h"

#include <gtest/gtest.h>

#include <cmath>
#include <map>

namespace {

using simtest::BoxMesh;

// A 10 x 10 x 5 mm box on the plate (z down: it spans z in [-5, 0]), with a part added.
Sim::TriangleMesh box(const Sim::TriangleMesh& part = {}) {
    Sim::TriangleMesh m = BoxMesh({-5, -5, -5}, {5, 5, 0});
    m.Append(part);
    return m;
}

// A 4 mm square tilted `degrees` below the horizontal (normal (cos a, 0, sin a)), 10 mm up.
Sim::TriangleMesh tilted(float degrees) {
    const float a = degrees * 3.14159265f / 180, c = 2 * std::cos(a), s = 2 * std::sin(a);
    Sim::TriangleMesh m;
    m.vertices = {{s, -2, -10 - c}, {s, 2, -10 - c}, {-s, 2, -10 + c}, {-s, -2, -10 + c}};
    m.triangles = {{0, 1, 2}, {0, 2, 3}};
    return m;
}

}  // namespace

// Closed and consistently wound (each directed edge once, and its reverse), outwards, on the plate.
TEST(SyntheticModels, EveryModelIsClosedFacesOutwardsAndStandsOnThePlate) {
    const Sim::TriangleMesh models[] = {Sim::BuildJawModel().mesh, Sim::BuildSectionedJawModel().jaw.mesh,
                                        Sim::BuildStumpHolderModel().mesh, Sim::BuildScanBodyModel().jaw.mesh,
                                        Sim::BuildDoubleArchTrayModel().mesh};
    for (const Sim::TriangleMesh& mesh : models) {
        SCOPED_TRACE(&mesh - models);
        std::map<std::pair<uint32_t, uint32_t>, int> edges;
        for (const auto& t : mesh.triangles)
            for (size_t k = 0; k < 3; ++k)
                ++edges[{t[k], t[(k + 1) % 3]}];
        for (const auto& [edge, count] : edges)
            ASSERT_TRUE(count == 1 && edges.count({edge.second, edge.first}) == 1);
        EXPECT_GT(simtest::SignedVolume(mesh), 1000.0);
        EXPECT_NEAR(mesh.Bounds().GetMax().z, 0.0f, 1e-4f);
    }
}

TEST(GroundTruth, CountsOnlySurfaceAViewFromAboveThePlateCanReach) {
    // A block under a shell open underneath (as a gum shell cut from an intraoral scan): nothing reaches it.
    Sim::TriangleMesh shell = box(BoxMesh({-2, -2, -3}, {2, 2, 0}));
    shell.triangles.erase(shell.triangles.begin() + 2, shell.triangles.begin() + 4);
    const std::tuple<const char*, Sim::TriangleMesh, double> cases[] = {
        // Area in mm^2: the base faces down, the walls' lowest mm is in the plate's clearance: 100 + 4 x 40.
        {"box", box(), 260},
        // Box: top 100 - 16 under the block, walls 160; block: top 16, walls above the box 16 x 3.
        {"block set 2 mm into the box", box(BoxMesh({-2, -2, -8}, {2, 2, -3})), 84 + 160 + 16 + 48},
        {"block under an open shell", shell, 260},
        {"face 55 degrees down", tilted(55), 16},
        {"face 65 degrees down", tilted(65), 0},
    };
    for (const auto& [name, model, area] : cases) {
        const Sim::GroundTruth truth(model);
        // Boxes are sampled at random (a few mm^2 of play), the squares' weights add up exactly.
        EXPECT_NEAR(truth.ScannableArea(), area, area > 50 ? 4.0 : 1e-3) << name;
        EXPECT_EQ(truth.Coverage(), 0.0) << name;  // nothing measured, and with nothing to scan no NaN
        for (const Sim::GroundTruth::Sample& s : truth.GetSamples())
            ASSERT_LE(s.point.z, -1.0f) << name;
    }
}

TEST(GroundTruth, MeasuredPointsCoverSamplesWithinATenthOfAMillimetre) {
    auto topFace = [](float lift) {  // a grid 0.05 mm apart over the box's top, lifted by `lift`
        std::vector<CbVector3f> points;
        for (float x = -5; x <= 5; x += 0.05f)
            for (float y = -5; y <= 5; y += 0.05f)
                points.push_back({x, y, -5 - lift});
        return points;
    };
    Sim::GroundTruth truth(box());
    truth.AddPoints(topFace(0.15f));  // hovering above the face: covers nothing
    EXPECT_EQ(truth.Coverage(), 0.0);
    truth.AddPoints(topFace(0.06f));
    // The top face and the top 0.1 mm rim of the walls, 0.06 mm below the points.
    EXPECT_NEAR(truth.Coverage(), (100.0 + 4 * 10 * (0.1 - 0.06)) / 260.0, 0.02);
    truth.AddPoints({{NAN, 0, -5}, {1e30f, 0, 0}});  // ignored, never a crash
    truth.Reset();
    EXPECT_EQ(truth.Coverage(), 0.0);
}
