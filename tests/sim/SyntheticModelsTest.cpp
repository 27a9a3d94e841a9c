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

