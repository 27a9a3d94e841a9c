// Model files: STL read strictly, OBJ and PLY as stated, regular files only; placing on the disc.
#include "ModelFile.h"
#include "ModelPlacement.h"
#include "PlyReader.h"
#include "SceneFixtures.h"
#include "StlReader.h"
#include "SyntheticModels.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <functional>
#include <fstream>
#include <random>

#include <sys/stat.h>

namespace {

using Triangles = std::vector<std::array<float, 9>>;
// A tetrahedron with its right angle at (-1, -1, -1) and legs 2, 3 and 4 long (volume 4), wound outwards.
const Triangles c_tetra = {{-1, -1, -1, -1, 2, -1, 1, -1, -1},
                           {-1, -1, -1, 1, -1, -1, -1, -1, 3},
                           {-1, -1, -1, -1, -1, 3, -1, 2, -1},
                           {1, -1, -1, -1, 2, -1, -1, -1, 3}};
const std::string c_obj = "v -1 -1 -1\nv 1 -1 -1\nv -1 2 -1\nv -1 -1 3\nf 1 3 2\nf 1 2 4\nf 1 4 3\nf 2 3 4\n";
const std::string c_ply =
    "ply\nformat ascii 1.0\nelement vertex 4\nproperty float x\nproperty float y\nproperty float z\n"
    "element face 4\nproperty list uchar int vertex_indices\nend_header\n"
    "-1 -1 -1\n1 -1 -1\n-1 2 -1\n-1 -1 3\n3 0 2 1\n3 0 1 3\n3 0 3 2\n3 1 2 3\n";
const std::string c_ascii =
    "solid two by hand\nfacet normal 0 0 -1\n outer loop\n  vertex 0 0 0\n  vertex 0 1 0\n  vertex 1 0 0\n"
    " endloop\nendfacet\nfacet normal 1 1 1\n outer loop\n  vertex 1 0 0\n  vertex 0 1 0\n"
    "  vertex 0 0 1.5e0\n endloop\nendfacet\nendsolid two\n";

// A pyramid on a 2 x 2 base, 3 high (volume 4), its base a quad, as a binary PLY in either byte
// order with a colour byte after each vertex's z.
std::string binaryPly(bool bigEndian) {
    const float corners[5][3] = {{-1, -1, 0}, {1, -1, 0}, {1, 1, 0}, {-1, 1, 0}, {0, 0, 3}};
    const std::vector<std::vector<int32_t>> faces = {
        {0, 3, 2, 1}, {0, 1, 4}, {1, 2, 4}, {2, 3, 4}, {3, 0, 4}};
    std::string s = std::string("ply\nformat binary_") + (bigEndian ? "big" : "little") +
                    "_endian 1.0\ncomment by hand\nelement vertex 5\nproperty float x\nproperty float y\n"
                    "property float z\nproperty uchar red\nelement face 5\n"
                    "property list uchar int vertex_indices\nend_header\n";
    const auto put = [&](const void* value) {
        std::string bytes(static_cast<const char*>(value), 4);
        s += bigEndian ? std::string(bytes.rbegin(), bytes.rend()) : bytes;
    };
    for (const auto& corner : corners)
        put(&corner[0]), put(&corner[1]), put(&corner[2]), s += '\x7F';
    for (const auto& face : faces) {
        s += static_cast<char>(face.size());
        for (const int32_t& index : face)
            put(&index);
    }
    return s;
}

std::string binary(const Triangles& triangles, const char* header = "binary", uint32_t count = 0xFFFFFFFF) {
    std::string bytes(80, '\0');
    std::memcpy(bytes.data(), header, std::strlen(header));
    count = count == 0xFFFFFFFF ? static_cast<uint32_t>(triangles.size()) : count;
    bytes.append(reinterpret_cast<const char*>(&count), 4);
    for (const auto& t : triangles)
        bytes.append(12, '\0').append(reinterpret_cast<const char*>(t.data()), 36).append(2, '\0');
    return bytes;
}

std::string edited(std::string text, const char* from, const char* to) {
    return text.replace(text.find(from), std::strlen(from), to);
}

std::string scratch(const std::string& name, const std::string& bytes) {
    const std::string path = testsupport::ScratchDirectory() + "/" + name;
    std::ofstream(path, std::ios::binary) << bytes;
    return path;
}

}  // namespace

// Parses 2000 damaged copies of `original(round)` (flipFrom + up to flipSpan - 1 bytes flipped, every
// third cut short): each is read (finite corners, each a vertex it holds, at least `bytesPerTriangle`
// bytes a triangle) or refused with a printable message. Returns how many were refused.
template <class Reader>
int refusedOfDamaged(const std::function<std::string(int)>& original, int flipFrom, int flipSpan,
                     size_t bytesPerTriangle) {
    std::mt19937_64 random(5489);
    int refused = 0;
    for (int round = 0; round < 2000; ++round) {
        std::string bytes = original(round);
        for (int flips = flipFrom + static_cast<int>(random() % flipSpan); flips > 0; --flips)
            bytes[random() % bytes.size()] = static_cast<char>(random());
        bytes.resize(round % 3 ? bytes.size() : random() % bytes.size());
        Reader reader;
        Sim::TriangleMesh mesh;
        const bool read = reader.Parse(bytes, mesh);
        refused += !read;
        EXPECT_TRUE(mesh.IsEmpty() != read && reader.GetError().empty() == read) << "round " << round;
        EXPECT_LE(mesh.triangles.size() * bytesPerTriangle, bytes.size()) << "round " << round;
        for (const CbVector3f& v : mesh.vertices)
            EXPECT_TRUE(std::isfinite(v.x + v.y + v.z)) << "round " << round;
        for (const auto& triangle : mesh.triangles)
            EXPECT_LT(*std::max_element(triangle.begin(), triangle.end()), mesh.vertices.size());
        for (const char c : reader.GetError())
            EXPECT_TRUE(c >= 0x20 && c < 0x7F) << reader.GetError();
    }
    return refused;
}

// Damaged STL and PLY files (ASCII and binary) are read or refused cleanly, never hung on; both often.
TEST(ModelReaders, DamagedBytesAreReadOrRefusedCleanly) {
    const int stl = refusedOfDamaged<Sim::StlReader>(
        [](int round) { return round % 2 ? binary(c_tetra) : c_ascii; }, 1, 8, 50);
    const int ply = refusedOfDamaged<Sim::PlyReader>(
        [](int round) { return round % 2 ? binaryPly(round % 4 == 1) : c_ply; }, 0, 3, 2);
    EXPECT_TRUE(stl > 1000 && stl < 1800 && ply > 1000 && ply < 1800) << stl << " " << ply;
}

// Read as stated: triangles (none of zero area), corners, volume (winding kept); a binary STL may say
// "solid".
TEST(ReadModelFile, ReadsStlObjAndPlyAsTheyStateTheGeometry) {
    Triangles degenerate = c_tetra;
    degenerate.push_back({1, 1, 1, 1, 1, 1, 2, 2, 2});
    const std::tuple<const char*, std::string, size_t, CbVector3f, CbVector3f, double> cases[] = {
        // file, bytes, triangles, smallest and largest corner, volume
        {"tetra.OBJ", c_obj, 4, {-1, -1, -1}, {1, 2, 3}, 4},
        {"tetra.ply", c_ply, 4, {-1, -1, -1}, {1, 2, 3}, 4},
        {"pyramid.ply", binaryPly(false), 6, {-1, -1, 0}, {1, 1, 3}, 4},
        {"pyramid.PLY", binaryPly(true), 6, {-1, -1, 0}, {1, 1, 3}, 4},
        {"tetra.stl", binary(degenerate, "solid but binary"), 4, {-1, -1, -1}, {1, 2, 3}, 4},
        {"two.stl", c_ascii, 2, {0, 0, 0}, {1, 1, 1.5f}, 1.5 / 6}};
    for (const auto& [name, bytes, triangles, lo, hi, volume] : cases) {
        SCOPED_TRACE(name);
        Sim::TriangleMesh mesh;
        std::string error;
        ASSERT_TRUE(Sim::ReadModelFile(scratch(name, bytes), mesh, error)) << error;
        EXPECT_EQ(mesh.triangles.size(), triangles);
        EXPECT_EQ(std::pair(mesh.Bounds().GetMin(), mesh.Bounds().GetMax()), std::pair(lo, hi));
        EXPECT_NEAR(simtest::SignedVolume(mesh), volume, 1e-4);
    }
}

// Refused with the file's name and what is wrong, nothing half-read; a FIFO at once, never waited on.
TEST(ReadModelFile, RefusesWhatIsNotAReadableModelWithTheFilesNameAndWhy) {
    const std::string dir = testsupport::ScratchDirectory() + "/", folder = dir + "folder.stl",
                      fifo = dir + "pipe.stl";
    std::filesystem::create_directories(folder);
    std::filesystem::remove(fifo);
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    int files = 0;
    auto file = [&files](const std::string& bytes, const std::string& why, const char* extension = ".stl") {
        const std::string path = scratch("refused" + std::to_string(++files) + extension, bytes);
        return std::pair{path, "'" + path + "': " + why};
    };
    Triangles infinite = c_tetra;
    infinite[1][4] = std::numeric_limits<float>::infinity();
    const std::string good = binary(c_tetra);
    const std::pair<std::string, std::string> cases[] = {
        {dir + "missing.stl", "cannot open '" + dir + "missing.stl'"},
        {folder, "'" + folder + "' is a directory, not a file"},
        {fifo, "'" + fifo + "' is not a regular file"},
        file("whatever", "unknown model format (STL, PLY or OBJ)", ".3ds"),
        file("", "the file is empty", ".obj"),
        file(c_ply.substr(0, c_ply.find("\n-1 2 -1")),
             "not a readable ply file: element 'vertex' 2 is cut short or not a number", ".ply"),
        file(c_ply.substr(0, c_ply.find("prop", 70)),
             "not a readable ply file: its header has no 'end_header' line", ".ply"),
        file(binaryPly(true).substr(0, binaryPly(true).size() - 3),
             "not a readable ply file: element 'face' 4 is cut short or not a number", ".ply"),
        file(edited(c_ply, "vertex 4", "vertex 4000000000"),
             "not a readable ply file: element 'vertex' claims 4000000000 entries, more than the file holds",
             ".ply"),
        file(edited(c_ply, "float y", "half y"),
             "not a readable ply file: header line 5: unknown property type", ".ply"),
        file(edited(c_ply, "3 1 2 3", "3 1 2 4"),
             "not a readable ply file: a face names a vertex the file does not hold", ".ply"),
        file(c_ply + "7\n", "not a readable ply file: 2 bytes follow the last element", ".ply"),
        file("v 0 0 0\nv 1 0 0\nv 0 1 0\n", "not a readable obj file: ", ".obj"),
        file("v 0 0 0\nv 1 0 0\nv 2 0 0\nf 1 2 3\n", "the model has no usable triangles", ".obj"),
        file("", "the file is empty"),
        file(std::string(80, 'x'), "too short for a binary STL file and not ASCII STL"),  // no count
        file("solid x", "the file ends without 'endsolid'"),  // the name's line ends the file
        file(binary({}), "the model has no triangles"),
        // A count beyond the bytes is caught before anything is allocated.
        file(binary(c_tetra, "binary", 0xFFFFFFFE),
             "binary STL announces 4294967294 triangles but holds only 4"),
        file(good.substr(0, good.size() - 10), "binary STL announces 4 triangles but holds only 3"),
        file(good + "abc", "binary STL of 4 triangles has 3 bytes after its last triangle"),
        file(binary(infinite), "triangle 1: a vertex coordinate is not a finite number"),
        file(edited(c_ascii, "1.5e0", "nan"), "line 15: a vertex coordinate is not a finite number"),
        file(edited(c_ascii, "vertex 0 1 0", "vortex 0 1 0"), "line 5: expected 'vertex', found 'vortex'"),
        file("solid x\nfacet normal 0 0 1\nouter loop\nvertex 0 zero\n",
             "line 4: malformed vertex coordinate"),
        file("solid x\nfacet normal 0 0\n", "line 3: malformed facet normal"),
        file("solid nothing\nendsolid nothing\n", "the model has no usable triangles"),
        // Control bytes and bytes beyond ASCII are escaped: they could steer the user's terminal.
        file(edited(c_ascii, "vertex 0 1 0", "v\x1b[2J\x07 0 1 0"),
             "line 5: expected 'vertex', found 'v\\x1B[2J\\x07'"),
        file("solid x\n\233facet", "line 2: expected 'facet', found '\\x9Bfacet'"),
    };
    for (const auto& [path, message] : cases) {
        Sim::TriangleMesh mesh;
        std::string error;
        EXPECT_FALSE(Sim::ReadModelFile(path, mesh, error)) << path;
        EXPECT_TRUE(mesh.IsEmpty()) << path;
        EXPECT_TRUE(error == message || (message.ends_with(": ") && error.starts_with(message))) << error;
    }
    std::filesystem::remove(fifo);
}

// The jaw turned each way and moved: the up axis is found, and placing by it rotates the jaw back.
TEST(ModelPlacement, FindsTheJawsOcclusalSideInEveryOrientationAndTurnsItUp) {
    using Turn = CbVector3f (*)(const CbVector3f&);  // disc frame (up = -z) to file, a rotation
    const std::pair<Sim::UpAxis, Turn> cases[] = {
        {Sim::UpAxis::PlusZ, [](const CbVector3f& v) { return CbVector3f(v.x, -v.y, -v.z); }},
        {Sim::UpAxis::MinusZ, [](const CbVector3f& v) { return v; }},
        {Sim::UpAxis::PlusX, [](const CbVector3f& v) { return CbVector3f(-v.z, v.y, v.x); }},
        {Sim::UpAxis::MinusX, [](const CbVector3f& v) { return CbVector3f(v.z, v.y, -v.x); }},
        {Sim::UpAxis::PlusY, [](const CbVector3f& v) { return CbVector3f(v.x, -v.z, v.y); }},
        {Sim::UpAxis::MinusY, [](const CbVector3f& v) { return CbVector3f(v.x, v.z, -v.y); }},
    };
    const Sim::TriangleMesh jaw = Sim::BuildJawModel().mesh;
    for (const auto& [up, turn] : cases) {
        SCOPED_TRACE(static_cast<int>(up));
        Sim::TriangleMesh file = jaw;
        for (CbVector3f& v : file.vertices)
            v = turn(v) + CbVector3f(30, -70, 110);
        EXPECT_EQ(Sim::ChooseUpAxis(file), up);
        Sim::PlaceOnDisc(file, up);
        for (size_t i = 0; i < jaw.vertices.size(); ++i)
            ASSERT_NEAR(file.vertices[i].z, jaw.vertices[i].z, 1e-3f);
        EXPECT_NEAR(simtest::SignedVolume(file), simtest::SignedVolume(jaw), 1.0);
    }
}

// A model that does not fit on the disc is refused with its size; one that fits passes.
TEST(FitsOnDisc, RefusesAModelTooWideOrTooHighWithItsSize) {
    const std::tuple<CbVector3f, CbVector3f, const char*> cases[] = {
        {{-30, -20, -20}, {30, 20, 0}, ""},
        {{-5000, -10, -15},
         {5000, 10, 0},
         "the model is 10000.0 x 20.0 x 15.0 mm and does not fit on the disc"},
        {{-10, -10, -60}, {10, 10, 0}, "the model is 20.0 x 20.0 x 60.0 mm"},
        {{-40, -40, -10}, {40, 40, 0}, "80.0 x 80.0 x 10.0 mm"},  // its corners lie beyond the disc's rim
    };
    for (const auto& [lo, hi, message] : cases) {
        Sim::TriangleMesh mesh;
        mesh.vertices = {lo, {hi.x, lo.y, hi.z}, hi};
        mesh.triangles = {{0, 1, 2}};
        std::string error;
        EXPECT_EQ(Sim::FitsOnDisc(mesh, error), *message == '\0');
        EXPECT_NE(error.find(message), std::string::npos) << error;
    }
}
