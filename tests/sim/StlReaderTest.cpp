// STL import: what it accepts, what it refuses with a message, and that random bytes never
// crash it.
#include "ModelPlacement.h"
#include "StlReader.h"
#include "SyntheticModels.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <fstream>
#include <limits>
#include <random>

#include <sys/stat.h>

namespace {

const char* const c_ascii =
    "solid tetra exported by hand\n"
    "facet normal 0 0 -1\n outer loop\n  vertex 0 0 0\n  vertex 0 1 0\n  vertex 1 0 0\n endloop\nendfacet\n"
    "facet normal 0 -1 0\n outer loop\n  vertex 0 0 0\n  vertex 1 0 0\n  vertex 0 0 1\n endloop\nendfacet\n"
    "facet normal -1 0 0\n outer loop\n  vertex 0 0 0\n  vertex 0 0 1\n  vertex 0 1 0\n endloop\nendfacet\n"
    "facet normal 1 1 1\n outer loop\n  vertex 1 0 0\n  vertex 0 1 0\n  vertex 0 0 1.5e0\n "
    "endloop\nendfacet\n"
    "endsolid tetra\n";

std::string binary(const std::vector<std::array<float, 9>>& triangles, const char* header = "binary",
                   int64_t announced = -1) {
    std::string bytes(80, '\0');
    std::memcpy(bytes.data(), header, std::strlen(header));
    const auto count =
        static_cast<uint32_t>(announced >= 0 ? announced : static_cast<int64_t>(triangles.size()));
    bytes.append(reinterpret_cast<const char*>(&count), 4);
    for (const auto& t : triangles) {
        const float normal[3] = {0, 0, 0};
        bytes.append(reinterpret_cast<const char*>(normal), 12);
        bytes.append(reinterpret_cast<const char*>(t.data()), 36);
        bytes.append(2, '\0');  // attribute byte count
    }
    return bytes;
}

const std::vector<std::array<float, 9>> c_twoTriangles = {{0, 0, 0, 1, 0, 0, 0, 1, 0},
                                                          {0, 0, 1, 1, 0, 1, 0, 1, 1}};

void expectRefused(const std::string& bytes, const std::string& reasonPart) {
    Sim::StlReader reader;
    Sim::TriangleMesh mesh;
    EXPECT_FALSE(reader.Parse(bytes, mesh));
    EXPECT_TRUE(mesh.IsEmpty());
    EXPECT_NE(reader.GetError().find(reasonPart), std::string::npos) << "message: " << reader.GetError();
}

}  // namespace

TEST(StlReader, ReadsAsciiAndBinaryDroppingDegenerateTriangles) {
    Sim::StlReader reader;
    Sim::TriangleMesh mesh;
    ASSERT_TRUE(reader.Parse(c_ascii, mesh)) << reader.GetError();
    ASSERT_EQ(mesh.triangles.size(), 4u);
    EXPECT_EQ(mesh.vertices[mesh.triangles[3][2]], CbVector3f(0, 0, 1.5f));
    auto triangles = c_twoTriangles;
    triangles.push_back({1, 1, 1, 1, 1, 1, 2, 2, 2});  // zero area: of no use for ray casting
    for (const char* header : {"binary", "solid but binary"}) {  // the size decides, not the header
        ASSERT_TRUE(reader.Parse(binary(triangles, header), mesh)) << reader.GetError();
        ASSERT_EQ(mesh.triangles.size(), 2u);
        EXPECT_EQ(mesh.vertices[mesh.triangles[1][1]], CbVector3f(1, 0, 1));
        EXPECT_EQ(reader.GetDegenerateCount(), 1);
    }
}

// Each broken input is refused with a message saying what is wrong, and nothing half-read.
TEST(StlReader, RefusesBrokenInputWithAMessage) {
    const float nan = std::numeric_limits<float>::quiet_NaN(), inf = std::numeric_limits<float>::infinity();
    auto withBad = [](float bad) {
        auto triangles = c_twoTriangles;
        triangles[1][4] = bad;
        return binary(triangles);
    };
    std::string truncated = binary(c_twoTriangles);
    truncated.resize(truncated.size() - 10);
    auto asciiWith = [](const char* from, size_t length, const char* to) {
        std::string ascii = c_ascii;
        return ascii.replace(ascii.find(from), length, to);
    };
    const std::pair<std::string, std::string> cases[] = {
        {"", "empty"},
        {"abc", "too short"},
        {std::string(80, 'x'), "too short"},  // room for a header but not for the count
        {"solid x", "without 'endsolid'"},     // the name's line ends with the file
        {binary({}), "no triangles"},
        // An absurd count must be caught before anything is allocated for it.
        {binary(c_twoTriangles, "binary", 0xFFFFFFFFll), "holds only 2"},
        {truncated, "holds only 1"},
        {binary(c_twoTriangles) + "abc", "binary STL of 2 triangles has 3 bytes after its last triangle"},
        {withBad(nan), "triangle 1: a vertex coordinate is not a finite number"},
        {withBad(inf), "triangle 1: a vertex coordinate is not a finite number"},
        {asciiWith("1.5e0", 5, "nan"), "not a finite number"},
        {asciiWith("vertex 0 1 0", 6, "vortex"), "line 5: expected 'vertex', found 'vortex'"},
        {"solid x\nfacet normal 0 0 1\n outer loop\n vertex 0 0 zero\n", "malformed vertex coordinate"},
        {"solid x\nfacet normal 0 0\n", "malformed facet normal"},
        {std::string(c_ascii).substr(0, std::strlen(c_ascii) - 16), "without 'endsolid'"},
        {"solid nothing\nendsolid nothing\n", "no usable triangles"},
        // Control bytes and bytes beyond ASCII are escaped: they could steer the user's terminal.
        {asciiWith("vertex 0 1 0", 6, "v\x1b[2J\x07"), "found 'v\\x1B[2J\\x07'"},
        {"solid x\n\x9b" "facet", "expected 'facet', found '\\x9Bfacet'"},
    };
    for (const auto& [bytes, reason] : cases)
        expectRefused(bytes, reason);
}

// A file is read; a missing one, a directory, a FIFO without a writer (refused at once instead of
// waiting for one) and a device are refused with the file's name.
TEST(StlReader, ReadsRegularFilesOnlyAndNamesTheFileInItsMessages) {
    const std::string directory = testsupport::ScratchDirectory();
    const std::string path = directory + "/two_triangles.stl", fifo = directory + "/model_pipe.stl";
    std::ofstream(path, std::ios::binary) << binary(c_twoTriangles);
    Sim::StlReader reader;
    Sim::TriangleMesh mesh;
    EXPECT_TRUE(reader.ReadFile(path, mesh)) << reader.GetError();
    EXPECT_EQ(mesh.triangles.size(), 2u);
    std::remove(fifo.c_str());
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const std::pair<std::string, std::string> cases[] = {
        {directory + "/no_such_model.stl", "cannot open '" + directory + "/no_such_model.stl'"},
        {directory, "'" + directory + "' is a directory, not a file"},
        {fifo, "'" + fifo + "' is not a regular file"},
        {"/dev/zero", "'/dev/zero' is not a regular file"},
    };
    for (const auto& [file, message] : cases) {
        EXPECT_FALSE(reader.ReadFile(file, mesh));
        EXPECT_TRUE(mesh.IsEmpty());
        EXPECT_EQ(reader.GetError(), message);
    }
    std::remove(fifo.c_str());
}

// Random bytes, and valid files with random bytes flipped, are either read or refused with a
// message; never a crash, and never more triangles than the bytes can hold.
TEST(StlReader, RandomBytesAreReadOrRefusedCleanly) {
    std::mt19937_64 random(5489);
    const std::string valid[2] = {binary(c_twoTriangles), c_ascii};
    int refused = 0;
    for (int round = 0; round < 2000; ++round) {
        std::string bytes;
        if (round % 2 == 0) {
            bytes.resize(random() % 400);
            for (char& c : bytes)
                c = static_cast<char>(random());
            if (round % 4 == 0 && bytes.size() >= 84) {  // a plausible count now and then
                const uint32_t count = static_cast<uint32_t>((bytes.size() - 84) / 50 + random() % 3);
                std::memcpy(bytes.data() + 80, &count, 4);
            }
        } else {
            bytes = valid[(round / 2) % 2];
            for (int flips = 1 + static_cast<int>(random() % 4); flips > 0; --flips)
                bytes[random() % bytes.size()] = static_cast<char>(random());
        }
        Sim::StlReader reader;
        Sim::TriangleMesh mesh;
        const bool read = reader.Parse(bytes, mesh);
        refused += !read;
        // Read: something, no more than the bytes hold, all finite. Refused: nothing, and a
        // message without a raw control byte whatever bytes came.
        EXPECT_EQ(mesh.IsEmpty(), !read) << "round " << round;
        EXPECT_LE(mesh.triangles.size() * 50, bytes.size()) << "round " << round;
        for (const CbVector3f& v : mesh.vertices) ASSERT_TRUE(std::isfinite(v.x + v.y + v.z)) << "round " << round;
        EXPECT_EQ(reader.GetError().empty(), read) << "round " << round;
        for (const char c : reader.GetError())
            ASSERT_TRUE(c >= 0x20 && c < 0x7F) << "round " << round << ": " << reader.GetError();
    }
    EXPECT_GT(refused, 1000);
}

// A tetrahedron-like wedge with a flat base, placed with each possible up axis: after placing,
// the base (the file's face opposite `up`) rests on the plate and the apex points up.
TEST(PlaceOnDisc, TurnsTheGivenUpAxisUpByARotationCentredOnTheAxis) {
    const std::pair<Sim::UpAxis, CbVector3f> ups[] = {
        {Sim::UpAxis::PlusX, {1, 0, 0}}, {Sim::UpAxis::MinusX, {-1, 0, 0}}, {Sim::UpAxis::PlusY, {0, 1, 0}},
        {Sim::UpAxis::MinusY, {0, -1, 0}}, {Sim::UpAxis::PlusZ, {0, 0, 1}}, {Sim::UpAxis::MinusZ, {0, 0, -1}}};
    for (const auto& [up, dir] : ups) {
        Sim::TriangleMesh mesh;
        const CbVector3f offset(10, 20, 30);
        mesh.vertices = {offset + dir * 7.0f, offset + CbVector3f(1, 2, 3), offset + CbVector3f(-3, 1, 2)};
        mesh.triangles = {{0, 1, 2}};
        const CbVector3f before = (mesh.vertices[1] - mesh.vertices[0]).Cross(mesh.vertices[2] - mesh.vertices[0]);
        const float heightBefore = (mesh.vertices[0] - mesh.vertices[1]).Dot(dir);
        Sim::PlaceOnDisc(mesh, up);
        const CyBoundingBox3D box = mesh.Bounds();
        EXPECT_FLOAT_EQ(box.GetMax().z, 0.0f);
        EXPECT_NEAR(box.GetMin().x + box.GetMax().x, 0.0f, 1e-5f);
        EXPECT_NEAR(box.GetMin().y + box.GetMax().y, 0.0f, 1e-5f);
        // The apex stands highest by the same height along the new up (-z).
        EXPECT_FLOAT_EQ(mesh.vertices[1].z - mesh.vertices[0].z, heightBefore);
        // A rotation keeps lengths and the winding's sense: the normal keeps its length and
        // its component along up.
        const CbVector3f after = (mesh.vertices[1] - mesh.vertices[0]).Cross(mesh.vertices[2] - mesh.vertices[0]);
        EXPECT_NEAR(after.Length(), before.Length(), 1e-4f);
        EXPECT_NEAR(-after.z, before.Dot(dir), 1e-4f);
    }
    Sim::UpAxis parsed;
    EXPECT_TRUE(Sim::ParseUpAxis("-y", parsed));
    EXPECT_EQ(parsed, Sim::UpAxis::MinusY);
    EXPECT_FALSE(Sim::ParseUpAxis("up", parsed));
}

// The built-in jaw (occlusal side up, flat base) turned so that each file axis in turn points
// out of its teeth, and moved away from the origin: the automatic choice finds that axis.
TEST(ChooseUpAxis, FindsTheOcclusalSideOfAJawInEveryOrientation) {
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
        Sim::TriangleMesh file = jaw;
        for (CbVector3f& v : file.vertices)
            v = turn(v) + CbVector3f(30, -70, 110);
        EXPECT_EQ(Sim::ChooseUpAxis(file), up) << "case " << static_cast<int>(up);
    }
}

// A model that does not fit on the disc is refused with its size; one that fits passes.
TEST(FitsOnDisc, RefusesAModelTooWideOrTooHighWithItsSize) {
    struct Case {
        CbVector3f lo, hi;
        const char* message;
    };
    const Case cases[] = {
        {{-30, -20, -20}, {30, 20, 0}, ""},
        {{-5000, -10, -15}, {5000, 10, 0}, "the model is 10000.0 x 20.0 x 15.0 mm and does not fit on the disc"},
        {{-10, -10, -60}, {10, 10, 0}, "the model is 20.0 x 20.0 x 60.0 mm"},
        {{-40, -40, -10}, {40, 40, 0}, "80.0 x 80.0 x 10.0 mm"},  // its corners lie beyond the disc's rim
    };
    for (const Case& c : cases) {
        Sim::TriangleMesh mesh;
        mesh.vertices = {c.lo, {c.hi.x, c.lo.y, c.hi.z}, c.hi};
        mesh.triangles = {{0, 1, 2}};
        std::string error;
        EXPECT_EQ(Sim::FitsOnDisc(mesh, error), *c.message == '\0');
        EXPECT_NE(error.find(c.message), std::string::npos) << error;
    }
}
