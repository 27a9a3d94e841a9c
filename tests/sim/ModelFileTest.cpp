// Model files other than STL (read through Assimp): the same geometry as the file states, and a
// clear refusal for what is broken.
#include "ModelFile.h"
#include "SceneFixtures.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

namespace {

std::string objText(const Sim::TriangleMesh& m) {
    std::ostringstream s;
    s << "# box\no box\n";
    for (const CbVector3f& v : m.vertices) s << "v " << v.x << ' ' << v.y << ' ' << v.z << "\n";
    for (const auto& t : m.triangles) s << "f " << t[0] + 1 << ' ' << t[1] + 1 << ' ' << t[2] + 1 << "\n";
    return s.str();
}

std::string plyText(const Sim::TriangleMesh& m) {
    std::ostringstream s;
    s << "ply\nformat ascii 1.0\nelement vertex " << m.vertices.size()
      << "\nproperty float x\nproperty float y\nproperty float z\nelement face " << m.triangles.size()
      << "\nproperty list uchar int vertex_indices\nend_header\n";
    for (const CbVector3f& v : m.vertices) s << v.x << ' ' << v.y << ' ' << v.z << "\n";
    for (const auto& t : m.triangles) s << "3 " << t[0] << ' ' << t[1] << ' ' << t[2] << "\n";
    return s.str();
}

std::string writeScratch(const std::string& name, const std::string& text) {
    const std::string path = testsupport::ScratchDirectory() + "/" + name;
    std::ofstream(path, std::ios::binary) << text;
    return path;
}

// Sum over the triangles of (twice) their oriented area vectors' lengths: the surface area,
// independent of how the file orders or shares its vertices.
double area(const Sim::TriangleMesh& m) {
    double sum = 0;
    for (const auto& t : m.triangles)
        sum += 0.5 * (m.vertices[t[1]] - m.vertices[t[0]]).Cross(m.vertices[t[2]] - m.vertices[t[0]]).Length();
    return sum;
}

}  // namespace

TEST(ReadModelFile, ReadsObjAndPlyAsTheyStateTheGeometry) {
    const Sim::TriangleMesh box = simtest::BoxMesh({-2, -3, -4}, {2, 3, 0});
    for (const auto& [name, text] : {std::pair{"box.OBJ", objText(box)}, std::pair{"box.ply", plyText(box)}}) {
        Sim::TriangleMesh mesh;
        std::string error;
        ASSERT_TRUE(Sim::ReadModelFile(writeScratch(name, text), mesh, error)) << name << ": " << error;
        EXPECT_EQ(mesh.triangles.size(), 12u) << name;
        EXPECT_NEAR(area(mesh), 2 * (4 * 6 + 4 * 4 + 6 * 4), 1e-3) << name;
        EXPECT_EQ(mesh.Bounds().GetMin(), CbVector3f(-2, -3, -4)) << name;
        EXPECT_EQ(mesh.Bounds().GetMax(), CbVector3f(2, 3, 0)) << name;
        // Outward winding kept: the top face (z = -4 in the file) still points along -z.
        double downArea = 0;
        for (const auto& t : mesh.triangles) {
            const CbVector3f n =
                (mesh.vertices[t[1]] - mesh.vertices[t[0]]).Cross(mesh.vertices[t[2]] - mesh.vertices[t[0]]);
            if (mesh.vertices[t[0]].z == -4 && mesh.vertices[t[1]].z == -4 && mesh.vertices[t[2]].z == -4)
                downArea += 0.5 * n.z;
        }
        EXPECT_NEAR(downArea, -24.0, 1e-3) << name;
    }
}

TEST(ReadModelFile, RefusesBrokenFilesWithTheirName) {
    const Sim::TriangleMesh box = simtest::BoxMesh({-2, -3, -4}, {2, 3, 0});
    std::string truncated = plyText(box);
    truncated.resize(truncated.size() / 2);
    std::filesystem::create_directories(testsupport::ScratchDirectory() + "/folder.obj");
    const std::pair<std::string, std::string> cases[] = {
        {writeScratch("box.3ds", "whatever"), "unknown model format (STL, PLY or OBJ)"},
        {writeScratch("empty.obj", ""), "the file is empty"},
        {writeScratch("half.ply", truncated), "not a readable ply file"},
        {writeScratch("points.obj", "v 0 0 0\nv 1 0 0\nv 0 1 0\n"), "not a readable obj file"},
        {writeScratch("flat.obj", "v 0 0 0\nv 1 0 0\nv 2 0 0\nf 1 2 3\n"), "no usable triangles"},
        {testsupport::ScratchDirectory() + "/folder.obj", "is a directory, not a file"},
    };
    for (const auto& [path, message] : cases) {
        Sim::TriangleMesh mesh;
        std::string error;
        EXPECT_FALSE(Sim::ReadModelFile(path, mesh, error)) << path;
        EXPECT_TRUE(mesh.IsEmpty()) << path;
        EXPECT_EQ(error.rfind("'" + path + "'", 0), 0u) << error;
        EXPECT_NE(error.find(message), std::string::npos) << error;
    }
}
