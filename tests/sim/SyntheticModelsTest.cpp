// The built-in models: closed, outward-facing meshes of the stated size, and ground truth that
// matches the geometry.
#include "SyntheticModels.h"

#include <gtest/gtest.h>

#include <cmath>
#include <map>
#include <utility>

namespace {

// Every directed edge has exactly one partner running the other way: the mesh is closed and
// consistently wound (a union of closed parts counts, as parts share no vertices).
bool isClosedAndConsistent(const Sim::TriangleMesh& mesh) {
    std::map<std::pair<uint32_t, uint32_t>, int> edges;
    for (const auto& t : mesh.triangles)
        for (int k = 0; k < 3; ++k)
            ++edges[{t[static_cast<size_t>(k)], t[static_cast<size_t>((k + 1) % 3)]}];
    for (const auto& [edge, count] : edges) {
        const auto reverse = edges.find({edge.second, edge.first});
        if (count != 1 || reverse == edges.end() || reverse->second != 1)
            return false;
    }
    return true;
}

// Signed volume by the divergence theorem: positive when the triangles face outwards.
double signedVolume(const Sim::TriangleMesh& mesh) {
    double v = 0;
    for (const auto& t : mesh.triangles)
        v += mesh.vertices[t[0]].Dot(mesh.vertices[t[1]].Cross(mesh.vertices[t[2]])) / 6.0;
    return v;
}

float horizontalDistance(const CbVector3f& a, const CbVector3f& b) {
    return std::hypot(a.x - b.x, a.y - b.y);
}

}  // namespace

TEST(SyntheticModels, EveryModelIsClosedFacesOutwardsAndStandsOnThePlate) {
    const std::pair<const char*, Sim::TriangleMesh> models[] = {
        {"jaw", Sim::BuildJawModel().mesh},
        {"sectioned jaw", Sim::BuildSectionedJawModel().jaw.mesh},
        {"stump holder", Sim::BuildStumpHolderModel().mesh},
        {"scan body", Sim::BuildScanBodyModel().jaw.mesh},
        {"double-arch tray", Sim::BuildDoubleArchTrayModel().mesh}};
    for (const auto& [name, mesh] : models) {
        EXPECT_TRUE(isClosedAndConsistent(mesh)) << name;
        EXPECT_GT(signedVolume(mesh), 1000.0) << name;
        const CyBoundingBox3D box = mesh.Bounds();
        EXPECT_NEAR(box.GetMax().z, 0.0f, 1e-4f) << name;
        EXPECT_LT(std::hypot(box.GetMax().x, box.GetMax().y), 50.0f) << name << " fits on the disc";
    }
}

TEST(SyntheticModels, JawIsAnArchOfFourteenTeethOfDentalSize) {
    const Sim::JawModel jaw = Sim::BuildJawModel();
    const CyBoundingBox3D box = jaw.mesh.Bounds();
    EXPECT_NEAR(box.GetWidth(), 50.0f, 5.0f);
    EXPECT_NEAR(box.GetHeight(), 45.0f, 5.0f);
    EXPECT_GE(-box.GetMin().z, 20.0f);
    EXPECT_LE(-box.GetMin().z, 25.0f);
    ASSERT_EQ(jaw.teeth.size(), 14u);
    for (const Sim::ToothTruth& tooth : jaw.teeth) {
        // The tip is the crown's highest vertex, above the base's ridge, on the arch.
        EXPECT_LT(tooth.tip.z, -jaw.baseHeight) << tooth.index;
        EXPECT_LT(horizontalDistance(tooth.tip, jaw.arch.Position(tooth.arcLength)), 1e-3f) << tooth.index;
        float highest = 0;
        for (const CbVector3f& v : jaw.mesh.vertices)
            if (horizontalDistance(v, tooth.tip) < 1.0f)
                highest = std::min(highest, v.z);
        EXPECT_NEAR(highest, tooth.tip.z, 1e-4f) << tooth.index;
    }
    // Left and right halves mirror each other about the disc's y axis.
    EXPECT_NEAR(jaw.teeth[0].tip.x, -jaw.teeth[13].tip.x, 1e-3f);
    EXPECT_NEAR(jaw.teeth[0].tip.y, jaw.teeth[13].tip.y, 1e-3f);
}

TEST(SyntheticModels, BuildersRepeatExactly) {
    EXPECT_EQ(Sim::BuildJawModel().mesh.vertices, Sim::BuildJawModel().mesh.vertices);
    EXPECT_EQ(Sim::BuildDoubleArchTrayModel().mesh.vertices, Sim::BuildDoubleArchTrayModel().mesh.vertices);
}

// Nothing of the model lies inside a saw cut's slot, and both faces of the slot are there.
TEST(SyntheticModels, SawCutsAreEmptySlotsWithFacesWhereTheyAreDeclared) {
    const Sim::SectionedJawModel model = Sim::BuildSectionedJawModel();
    ASSERT_EQ(model.cuts.size(), 4u);
    for (const Sim::SawCutTruth& cut : model.cuts) {
        EXPECT_NEAR(cut.normal.Length(), 1.0f, 1e-5f);
        EXPECT_NEAR(cut.normal.Dot(cut.along), 0.0f, 1e-5f);
        EXPECT_NEAR(cut.normal.z, 0.0f, 1e-6f);
        int inside = 0, onFaces[2] = {0, 0};
        for (const CbVector3f& v : model.jaw.mesh.vertices) {
            const CbVector3f rel = v - cut.centre;
            if (std::fabs(rel.Dot(cut.along)) > 8.0f || horizontalDistance(v, cut.centre) > 12.0f)
                continue;
            const float across = rel.Dot(cut.normal);
            if (std::fabs(across) < 0.5f * cut.width - 1e-4f)
                ++inside;
            if (std::fabs(across + 0.5f * cut.width) < 1e-4f)
                ++onFaces[0];
            if (std::fabs(across - 0.5f * cut.width) < 1e-4f)
                ++onFaces[1];
        }
        EXPECT_EQ(inside, 0) << "cut at " << cut.arcLength;
        EXPECT_GE(onFaces[0], 9) << "cut at " << cut.arcLength;  // the base's cross-section
        EXPECT_GE(onFaces[1], 9) << "cut at " << cut.arcLength;
        EXPECT_FLOAT_EQ(cut.depth, model.jaw.baseHeight);
    }
}

TEST(SyntheticModels, StumpsStandAtTheFourAzimuthsWithTheirDeclaredHeights) {
    const Sim::StumpHolderModel holder = Sim::BuildStumpHolderModel();
    for (size_t i = 0; i < 4; ++i) {
        const Sim::StumpTruth& stump = holder.stumps[i];
        EXPECT_FLOAT_EQ(stump.azimuthDeg, 90.0f * static_cast<float>(i));
        const double azimuth = std::atan2(stump.base.y, stump.base.x) * 180.0 / 3.14159265358979;
        EXPECT_NEAR(std::remainder(azimuth - stump.azimuthDeg, 360.0), 0.0, 1e-3);
        float highest = 0;
        for (const CbVector3f& v : holder.mesh.vertices)
            if (horizontalDistance(v, stump.base) < stump.radius)
                highest = std::min(highest, v.z);
        EXPECT_NEAR(-highest, stump.heightAbovePlate, 1e-4f);
        EXPECT_NEAR(stump.tip.z, highest, 1e-4f);
        if (i > 0) {
            EXPECT_NE(stump.heightAbovePlate, holder.stumps[i - 1].heightAbovePlate);
        }
    }
}

TEST(SyntheticModels, ScanBodyAxisRunsThroughTheCylinder) {
    const Sim::ScanBodyModel model = Sim::BuildScanBodyModel();
    EXPECT_EQ(model.jaw.teeth.size(), 13u);
    const CbVector3f up(0, 0, -1);
    EXPECT_NEAR(std::acos(model.axis.direction.Dot(up)) * 180.0 / 3.14159265358979, model.tiltDeg, 1e-3);
    // Vertices of the body's side lie at its radius from the axis; the top is the farthest along it.
    int onSide = 0;
    float farthest = 0;
    for (const CbVector3f& v : model.jaw.mesh.vertices) {
        const CbVector3f rel = v - model.axis.origin;
        const float along = rel.Dot(model.axis.direction);
        const float radial = (rel - model.axis.direction * along).Length();
        if (radial > model.radius + 1e-3f || along < -1e-3f)
            continue;
        farthest = std::max(farthest, along);
        if (along < model.length - 2.0f && std::fabs(radial - model.radius) < 1e-3f)
            ++onSide;
    }
    EXPECT_NEAR(farthest, model.length, 1e-3f);
    EXPECT_EQ(onSide, 2 * 96);  // the rings at the cylinder's bottom and top, 96 segments each
    EXPECT_LT((model.top - (model.axis.origin + model.axis.direction * model.length)).Length(), 1e-4f);
}

TEST(SyntheticModels, TrayHasImpressionsOnBothFaces) {
    const Sim::DoubleArchTrayModel tray = Sim::BuildDoubleArchTrayModel();
    ASSERT_EQ(tray.upperImpressions.size(), 14u);
    ASSERT_EQ(tray.lowerImpressions.size(), 14u);
    EXPECT_LT(tray.topZ, tray.bottomZ);
    // Near each impression's deepest point the face's vertices dip to it (within the sampling of
    // the sweep: 0.2 mm along, 0.5 mm across the arch).
    for (const auto* list : {&tray.upperImpressions, &tray.lowerImpressions}) {
        const bool upper = list == &tray.upperImpressions;
        for (const CbVector3f& deepest : *list) {
            // The face's vertices near the impression's centre: the top face for the upper
            // teeth (from the top down to mid-thickness), the bottom face for the lower ones.
            const float middle = 0.5f * (tray.topZ + tray.bottomZ);
            float extreme = upper ? -1e9f : 1e9f;
            for (const CbVector3f& v : tray.mesh.vertices) {
                if (horizontalDistance(v, deepest) > 0.3f || (upper ? v.z > middle : v.z < middle))
                    continue;
                extreme = upper ? std::max(extreme, v.z) : std::min(extreme, v.z);
            }
            // Upper impressions dip from the top face down (towards larger z), lower ones up.
            EXPECT_NEAR(extreme, deepest.z, 0.05f);
            EXPECT_GT(std::fabs(deepest.z - (upper ? tray.topZ : tray.bottomZ)), 2.0f);
        }
    }
}
