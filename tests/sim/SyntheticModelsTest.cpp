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
