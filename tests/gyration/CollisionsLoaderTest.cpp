// The process-wide collision table and its loader: one read per process, at once for later
// steerings, and a second steering that arrives while the first load reads the file.
#include "CapturingLogSink.h"
#include "TestSupport.h"
#include "ZoOrbal2.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

namespace {

using Loader = ZoCTripleTrayCollisionsLoader;
namespace fs = std::filesystem;
constexpr unsigned long c_dwHandshakeTimeout = 120000;  // ms; a broken handshake fails, never hangs

std::string scratchPath(const std::string& name) {
    return (fs::path(testsupport::ScratchDirectory()) / name).string();
}

std::string scratchFile(const std::string& name, const std::string& content) {
    const std::string path = scratchPath(name);
    std::ofstream(path, std::ios::binary) << content;
    return path;
}

size_t countStarts(const CapturingLogSink& sink) {
    size_t n = 0;
    for (const std::wstring& m : sink.Messages("ZAZ.ZoOrbal2.Steering.TripleTrayCollisionsLoader"))
        if (m == L"Beginne mit dem Laden der Kollisionstabelle")
            ++n;
    return n;
}

// Points the loader at a file for one test, with an empty table, and back at the default.
class ScopedTable {
public:
    explicit ScopedTable(std::string path) : m_path(std::move(path)) {
        Loader::ResetTable();
        Loader::m_pszFileName = m_path.c_str();
    }
    ~ScopedTable() {
        Loader::ResetTable();
        Loader::m_pszFileName = Loader::c_pszDefaultFileName;
    }

private:
    std::string m_path;
};

// What a callback saw; readable once `done` is set.
struct NSSeen {
    CbEvent done{true, false};
    size_t nodes = 0;
    bool childs = false;
    std::thread::id thread;
    Loader::TCallback Callback() {
        return [this](const Loader::TCollisionTree& tree) {
            nodes = tree.CountDescendants();
            childs = tree.HasChilds();
            thread = std::this_thread::get_id();
            done.Set();
        };
    }
};

// `count` records sharing prefixes, and the number of nodes they give.
std::string tableText(int first, int count, size_t& nodes, Loader::TCollisionTree& reference) {
    std::string text;
    for (int i = first; i < first + count; ++i) {
        const std::string line = std::to_string(i % 3) + " " + std::to_string(i % 5) + ", " +
                                 std::to_string(i % 7) + "; " + std::to_string(i) + " " + std::to_string(i) +
                                 " " + std::to_string(i + 1) + "\n";
        text += line;
        Loader::AddRecord(LineParser::ParseLine(line.data(), line.size() - 1, 1), reference);
    }
    nodes = reference.CountDescendants();
    return text;
}

}  // namespace

TEST(ZoCTripleTrayCollisionsLoader, LoadsOnItsOwnThreadAndHandsTheTableAtOnceToLaterSteerings) {
    ScopedLogCapture capture;
    Loader::TCollisionTree reference;
    size_t nodes = 0;
    const ScopedTable table(scratchFile("table.txt", "# table\n" + tableText(0, 40, nodes, reference)));
    NSSeen first, later;
    {
        Loader loader;
        loader.LoadAsync(first.Callback());
        ASSERT_TRUE(first.done.Wait(c_dwHandshakeTimeout));
    }
    EXPECT_NE(first.thread, std::this_thread::get_id());
    EXPECT_EQ(first.nodes, nodes);
    EXPECT_TRUE(Loader::IsLoaded());
    Loader another;
    another.LoadAsync(later.Callback());
    EXPECT_TRUE(later.done.IsSet());  // called back before LoadAsync returned
    EXPECT_EQ(later.thread, std::this_thread::get_id());
    EXPECT_EQ(later.nodes, nodes);
    EXPECT_EQ(countStarts(capture.Sink()), 1u);
    const auto messages = capture.Sink().Messages("ZAZ.ZoOrbal2.Steering.TripleTrayCollisionsLoader");
    ASSERT_EQ(messages.size(), 2u);
    EXPECT_EQ(messages[1], L"Kollisionstabelle erfolgreich geladen");
}

TEST(ZoCTripleTrayCollisionsLoader, ASecondSteeringArrivingDuringTheFirstLoadGetsTheWholeTableFromThatLoad) {
    ScopedLogCapture capture;
    const std::string fifo = scratchPath("table.fifo");
    fs::remove(fifo);
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    const ScopedTable table(fifo);
    Loader::TCollisionTree reference;
    size_t half = 0, nodes = 0;
    const std::string firstHalf = tableText(0, 30, half, reference);
    const std::string secondHalf = tableText(30, 30, nodes, reference);
    NSSeen first, second;
    {
        Loader firstSteering, secondSteering;
        firstSteering.LoadAsync(first.Callback());
        // Opening a pipe for writing returns once the load has opened it for reading.
        std::ofstream writer(fifo);
        writer << firstHalf << std::flush;
        EXPECT_FALSE(Loader::ResetTable());  // a load is running
        secondSteering.LoadAsync(second.Callback());
        // The first load cannot end before the pipe closes: nobody has been called back.
        EXPECT_FALSE(first.done.IsSet());
        EXPECT_FALSE(second.done.IsSet());
        writer << secondHalf;
        writer.close();
        ASSERT_TRUE(first.done.Wait(c_dwHandshakeTimeout));
        ASSERT_TRUE(second.done.Wait(c_dwHandshakeTimeout));
    }
    EXPECT_EQ(first.nodes, nodes);
    EXPECT_EQ(second.nodes, nodes);  // never the half that had arrived when it asked
    EXPECT_GT(nodes, half);
    EXPECT_NE(second.thread, std::this_thread::get_id());
    EXPECT_EQ(countStarts(capture.Sink()), 1u);  // the file was read once
    fs::remove(fifo);
}

TEST(ZoCTripleTrayCollisionsLoader, AnEmptyFileLeavesTheTableEmptyAndTheNextRequestReadsAgain) {
    ScopedLogCapture capture;
    const std::string path = scratchFile("changing.txt", "# nothing yet\n");
    const ScopedTable table(path);
    NSSeen empty, filled;  // outlive the loader, whose thread signals them
    Loader loader;
    loader.LoadAsync(empty.Callback());
    ASSERT_TRUE(empty.done.Wait(c_dwHandshakeTimeout));
    EXPECT_FALSE(empty.childs);
    EXPECT_FALSE(Loader::IsLoaded());
    scratchFile("changing.txt", "1 2 3 4 5 6\n");
    loader.LoadAsync(filled.Callback());
    ASSERT_TRUE(filled.done.Wait(c_dwHandshakeTimeout));
    EXPECT_EQ(filled.nodes, 5u);
    EXPECT_EQ(countStarts(capture.Sink()), 2u);
}

TEST(ZoCTripleTrayCollisionsLoader, AMissingFileIsReportedAndLeavesTheTableEmpty) {
    ScopedLogCapture capture;
    const std::string path = scratchPath("missing-table.txt");
    fs::remove(path);
    const ScopedTable table(path);
    NSSeen seen;
    {
        Loader loader;
        loader.LoadAsync(seen.Callback());
        ASSERT_TRUE(seen.done.Wait(c_dwHandshakeTimeout));
    }
    EXPECT_FALSE(seen.childs);
    const auto messages = capture.Sink().Messages("ZAZ.ZoOrbal2.Steering.TripleTrayCollisionsLoader");
    ASSERT_EQ(messages.size(), 2u);
    EXPECT_EQ(messages[1], L"Kollisionstabelle '" + std::wstring(path.begin(), path.end()) +
                               L"' konnte nicht gelesen werden");
}

TEST(ZoCTripleTrayCollisionsLoader, ReadsTheDefaultFileNameFromTheWorkingDirectory) {
    EXPECT_STREQ(Loader::m_pszFileName.load(), "DoubleArchJointCollisions.txt");
}
