// The joint collision table: the interval file syntax, what the reader refuses, the tree of axis
// values against record-by-record insertion, the sample table of the reference device, and the
// process-wide loader with its thread.
#include "AcquisitionPlanningStore.h"
#include "CapturingLogSink.h"
#include "TestSupport.h"
#include "ZoOrbal2.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <numeric>
#include <random>
#include <string>
#include <thread>
#include <vector>

namespace {

using LineParser::LineRep;
using Loader = ZoCTripleTrayCollisionsLoader;
namespace fs = std::filesystem;
constexpr unsigned long c_dwHandshakeTimeout = 120000;  // ms; a broken handshake fails, never hangs
const char* const c_pszLoaderLogger = "ZAZ.ZoOrbal2.Steering.TripleTrayCollisionsLoader";

LineRep parse(const std::string& line) {
    return LineParser::ParseLine(line.data(), line.size(), 7);
}

// Per process: suites of other build trees may share the scratch folder and its file names.
std::string scratchPath(const std::string& name) {
    return (fs::path(testsupport::ScratchDirectory()) / (std::to_string(getpid()) + "-" + name)).string();
}

std::string scratchFile(const std::string& name, const std::string& content) {
    std::ofstream(scratchPath(name), std::ios::binary) << content;
    return scratchPath(name);
}

// The lines a parser delivers, LoadData's result and the problem the parser names.
struct NSRead {
    std::vector<LineRep> reps;
    bool ok = false;
    std::string problem;
};
NSRead readAll(const std::string& path) {
    NSRead read;
    IntervalFileParser parser([&read](const LineRep& rep) { read.reps.push_back(rep); });
    read.ok = parser.LoadData(path.c_str());
    if (const char* problem = parser.GetProblem())
        read.problem = problem;
    return read;
}

// The tree the prescribed procedure gives: every valid record inserted in file order.
Loader::TCollisionTree insertOneByOne(const std::vector<LineRep>& reps) {
    Loader::TCollisionTree tree;
    for (const LineRep& rep : reps)
        if (rep.m_bValid)
            Loader::AddRecord(rep, tree);
    return tree;
}

// Same nodes, kinds and child order all the way down.
bool sameTree(const AxisNode& a, const AxisNode& b) {
    if (!(a == b) || a.GetNumChilds() != b.GetNumChilds())
        return false;
    for (auto i = a.begin(), j = b.begin(); i != a.end(); ++i, ++j)
        if (!sameTree(*i, *j))
            return false;
    return true;
}

size_t count(const std::vector<std::wstring>& messages, const std::wstring& text) {
    return static_cast<size_t>(std::count(messages.begin(), messages.end(), text));
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Line syntax and the reader

TEST(IntervalFileParser, ReadsSixNumbersAndRefusesEverythingElseWithItsReason) {
    for (const std::string line : {"1 2 3 4 5 6", "1,2;3\t4  5 ,6", "  1 2 3 4 5 6  # a comment", "+1 2 3 4 5 6"}) {
        const LineRep rep = parse(line);
        ASSERT_TRUE(rep.m_bValid) << line;
        EXPECT_EQ(rep.m_iLineNumber, 7);
        for (int i = 0; i < 6; ++i)
            EXPECT_EQ(rep.m_afValues[i], static_cast<float>(i + 1)) << line;
    }
    EXPECT_TRUE(parse("-1.5 2e1 0.25 -0 7.5 7.5").m_bValid);  // a single angle is an interval too
    EXPECT_EQ(parse("-1.5 2e1 0.25 -0 7.5 7.5").m_afValues[1], 20.0f);
    std::string longest = "1 2 3 4 5 6";
    longest.resize(LineParser::c_iMaxLineLength, ' ');
    EXPECT_TRUE(parse(longest).m_bValid);
    const std::vector<std::pair<std::string, std::string>> refused = {
        {"", "comment line"}, {"   \t ", "comment line"}, {"# 1 2 3 4 5 6", "comment line"},
        {"1 2 3 4 5", "fewer than six values"}, {"1 2 3 4 5 6 7", "more than six values"},
        {"1 2 x 4 5 6", "not a number"}, {"1 2 3 4 5 6x", "not a number"}, {"1 -+2 3 4 5 6", "not a number"},
        {"1 2 3 4 1e50 6", "not a number"}, {"1 2 3 4 nan 6", "not a finite number"},
        {"inf 2 3 4 5 6", "not a finite number"}, {"1 2 3 4 6 5", "interval lower end above its upper end"},
        {std::string("1 2 3\0 4 5 6", 12), "not a number"}, {longest + " ", "line too long"}};
    for (const auto& [line, problem] : refused) {
        EXPECT_FALSE(parse(line).m_bValid) << line;
        EXPECT_EQ(std::string(parse(line).m_pszProblem), problem) << line;
    }
}

TEST(IntervalFileParser, DeliversEveryLineInOrderAndSkipsAnOverlongOneWhole) {
    const std::string path =
        scratchFile("order.txt", "# head\r\n1 2 3 4 5 6\r\n\n" + std::string(5000, '7') + "\n7 8 9 10 11 12");
    const NSRead read = readAll(path);
    const std::vector<LineRep>& reps = read.reps;
    EXPECT_TRUE(read.ok);
    ASSERT_EQ(reps.size(), 5u);
    const std::vector<bool> valid = {false, true, false, false, true};
    for (size_t i = 0; i < reps.size(); ++i) {
        EXPECT_EQ(reps[i].m_iLineNumber, static_cast<int>(i + 1));
        EXPECT_EQ(reps[i].m_bValid, valid[i]) << i;
    }
    EXPECT_EQ(std::string(reps[3].m_pszProblem), "line too long");
    EXPECT_EQ(reps[4].m_afValues[5], 12.0f);  // the last line needs no line end
    const NSRead empty = readAll(scratchFile("empty.txt", ""));
    EXPECT_TRUE(empty.ok && empty.reps.empty());
    // A lone CR is a line end, not text; a last line of one byte after a full block still counts.
    EXPECT_EQ(std::string(readAll(scratchFile("cr.txt", "\r\n")).reps.at(0).m_pszProblem), "comment line");
    EXPECT_EQ(readAll(scratchFile("tail.txt", std::string(4096, '\n') + "7")).reps.size(), 4097u);
}

TEST(IntervalFileParser, ReadsOnlyRegularFilesWithinTheSizeLimitUntilCancelled) {
    const std::string fifo = scratchPath("refused.fifo");
    fs::remove(fifo);
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    // A sparse file: large on disk only in name.
    const std::string huge = scratchPath("huge.txt");
    fs::remove(huge);
    std::ofstream(huge) << "1 2 3 4 5 6\n";
    fs::resize_file(huge, IntervalFileParser::c_uMaxFileBytes + 1);
    const std::vector<std::pair<std::string, std::string>> cases = {
        {scratchPath("no-such-table.txt"), "cannot open the file"}, {fifo, "not a regular file"},
        {"/dev/zero", "not a regular file"}, {testsupport::ScratchDirectory(), "not a regular file"},
        {huge, "larger than the table limit"}};
    for (const auto& [path, problem] : cases) {
        const NSRead read = readAll(path);
        EXPECT_TRUE(!read.ok && read.reps.empty()) << path;
        EXPECT_EQ(read.problem, problem) << path;
    }
    EXPECT_FALSE(IntervalFileParser(nullptr).LoadData(nullptr));
    fs::remove(fifo);
    fs::remove(huge);
    // A cancelled read stops before the next line.
    std::atomic<bool> cancel{false};
    std::vector<int> lines;
    IntervalFileParser parser([&](const LineRep& rep) {
        lines.push_back(rep.m_iLineNumber);
        cancel = rep.m_iLineNumber == 3;
    });
    parser.SetCancelFlag(&cancel);
    EXPECT_FALSE(parser.LoadData(scratchFile("cancel.txt", std::string(10, '\n')).c_str()));
    EXPECT_EQ(lines, (std::vector<int>{1, 2, 3}));
    EXPECT_EQ(std::string(parser.GetProblem()), "cancelled");
}

// Random bytes and random tables: the reader delivers one record per line, valid records hold
// what the syntax promises, and the table built from a file is the one that inserting its valid
// records one by one gives (shared prefixes, child order, duplicates).
TEST(ZoCTripleTrayCollisionsLoader, ReadTableGivesTheTreeOfRecordByRecordInsertion) {
    std::mt19937_64 rng(47110815);
    const std::string numberish = "0123456789 .,;-+e\tna#\r\n";
    Loader::TCollisionTree grown;  // every structured table read into one tree, one after another
    std::vector<LineRep> grownReps;
    for (int trial = 0; trial < 90; ++trial) {
        std::string bytes;
        if (trial % 3 == 2) {
            // Records over a few values each, so that paths share prefixes and repeat.
            for (int line = static_cast<int>(rng() % 400); line > 0; --line) {
                for (int k = 0; k < 6; ++k)
                    bytes += std::to_string(k == 5 ? 3 + rng() % 3 : rng() % 3) + (k < 5 ? " " : "\n");
                if (rng() % 10 == 0)
                    bytes += "noise\n";
            }
        } else {
            bytes.resize(rng() % 6000);
            for (char& c : bytes)
                c = trial % 3 == 0 ? static_cast<char>(rng() & 0xFF) : numberish[rng() % numberish.size()];
        }
        const std::string path = scratchFile("random.txt", bytes);
        const std::vector<LineRep> reps = readAll(path).reps;
        size_t lines = static_cast<size_t>(std::count(bytes.begin(), bytes.end(), '\n'));
        lines += !bytes.empty() && bytes.back() != '\n';
        ASSERT_EQ(reps.size(), lines) << "trial " << trial;
        for (const LineRep& rep : reps)
            if (rep.m_bValid) {
                for (float v : rep.m_afValues)
                    EXPECT_TRUE(std::isfinite(v));
                EXPECT_LE(rep.m_afValues[4], rep.m_afValues[5]);
            }
        Loader::TCollisionTree tree;
        EXPECT_TRUE(Loader::ReadTable(path.c_str(), tree));
        EXPECT_TRUE(sameTree(tree, insertOneByOne(reps))) << "trial " << trial;
        if (trial % 3 == 2) {
            // A tree that already holds records takes a further table's records along its paths.
            EXPECT_TRUE(Loader::ReadTable(path.c_str(), grown));
            grownReps.insert(grownReps.end(), reps.begin(), reps.end());
            EXPECT_TRUE(sameTree(grown, insertOneByOne(grownReps))) << "trial " << trial;
        }
    }
}

TEST(ZoCTripleTrayCollisionsLoader, RecordsSharingAPrefixShareItsPath) {
    Loader::TCollisionTree tree;
    EXPECT_EQ(tree.GetValue(), 3.4028235e38f);
    for (const char* line : {"1 2 3 4 5 6", "1 2 3 7 5 6", "1 2 3 4 5 6"})
        Loader::AddRecord(parse(line), tree);
    ASSERT_EQ(tree.GetNumChilds(), 1u);
    const AxisNode& third = *tree.begin()->begin()->begin();
    EXPECT_EQ(third, AxisNode(3.0f));
    ASSERT_EQ(third.GetNumChilds(), 2u);
    EXPECT_EQ(std::next(third.begin())->GetValue(), 7.0f);
    EXPECT_EQ(*third.begin()->begin(), AxisNode(5.0f, 6.0f));
    EXPECT_EQ(tree.CountDescendants(), 3u + 2u * 2u);
    EXPECT_FALSE(AxisNode(5.0f) == AxisNode(5.0f, 5.0f));  // a value and a one-value interval differ
}

// Many records that share no prefix: inserting them one by one searches ever longer child lists
// (minutes for this table); the table reader sorts them first.
TEST(ZoCTripleTrayCollisionsLoader, ATableOfManyDistinctRecordsIsReadWhole) {
    std::string text;
    for (int i = 0; i < 60000; ++i)
        text += std::to_string(i) + " 1 2 3 4 5\n";
    Loader::TCollisionTree tree;
    ASSERT_TRUE(Loader::ReadTable(scratchFile("many.txt", text).c_str(), tree));
    ASSERT_EQ(tree.GetNumChilds(), 60000u);
    EXPECT_EQ(std::prev(tree.end())->GetValue(), 59999.0f);  // in file order
    EXPECT_EQ(tree.CountDescendants(), 5u * 60000u);
}

namespace {

const fs::path c_sampleTable = fs::path(__FILE__).parent_path() / "../../data/DoubleArchJointCollisions.txt";

// The sample table's model (data/make_double_arch_collisions.py): tray corners on the disc and a
// cylinder about each sensor's optical axis, from 50 mm behind the eye to 75 mm before it.
bool trayHitsASensor(const ZoCOrbal2DeviceConfig& device, const ZoCOrbal2AxisChain::NCJointConfiguration& config) {
    const CbMatrix4Rf discToCamera = device.m_axisChain.GetCamToDiscTransformation(config, false).Inverted();
    std::vector<CbVector3f> corners;  // the tray's body, then its handle
    for (const auto& [xs, ys, zs] : {std::array<std::vector<float>, 3>{{{-35, 0, 35}, {-30, 30}, {0, -25}}},
                                     std::array<std::vector<float>, 3>{{{35, 80}, {-8, 8}, {-5, -15}}}})
        for (float x : xs)
            for (float y : ys)
                for (float z : zs)
                    corners.emplace_back(x, y, z);
    for (const ZoCAbstractCamCalib* sensor : {&device.m_camProjCalib.GetCamera(), &device.m_camProjCalib.GetProjector()}) {
        CCoordinate3<double> eye, view;
        sensor->GetEyePt(eye);
        sensor->GetViewDirection(view);
        for (const CbVector3f& corner : corners) {
            const CbVector3f p = discToCamera.TransformPoint(corner);
            const double d[3] = {p.x - eye.x, p.y - eye.y, p.z - eye.z};
            const double depth = d[0] * view.x + d[1] * view.y + d[2] * view.z;
            const double lateral = d[0] * d[0] + d[1] * d[1] + d[2] * d[2] - depth * depth;
            if (depth >= -50 && depth <= 75 && lateral < 45.0 * 45.0)
                return true;
        }
    }
    return false;
}

}  // namespace

TEST(ZoCTripleTrayCollisionsLoader, TheSampleTableHoldsCollisionsOfTheReferenceDevice) {
    const ZoCOrbal2DeviceConfig device;
    int records = 0, checked = 0;
    const NSRead table = readAll(c_sampleTable.string());
    for (const LineRep& rep : table.reps) {
        if (!rep.m_bValid) {
            EXPECT_EQ(std::string(rep.m_pszProblem), "comment line") << "line " << rep.m_iLineNumber;
            continue;
        }
        if (++records % 37 != 0)
            continue;  // a spread of records
        const float* v = rep.m_afValues;
        ZoCOrbal2AxisChain::NCJointConfiguration config;
        config.Set(v[0], v[1], v[2], v[3], v[4]);
        EXPECT_TRUE(trayHitsASensor(device, config)) << "line " << rep.m_iLineNumber;
        config[4] = 0.5f * (v[4] + v[5]);
        EXPECT_TRUE(trayHitsASensor(device, config)) << "line " << rep.m_iLineNumber;
        ++checked;
    }
    ASSERT_TRUE(table.ok) << c_sampleTable;
    EXPECT_GT(checked, 10);
    for (float l5 = 0; l5 < 360; l5 += 15) {  // clear of the sensor at home, whatever the disc's turn
        ZoCOrbal2AxisChain::NCJointConfiguration home;
        home.Set(0, 90, 90, 0, l5);
        EXPECT_FALSE(trayHitsASensor(device, home)) << l5;
    }
}

// ---------------------------------------------------------------------------------------------
// The loader

namespace {

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
    std::thread::id thread;
    Loader::TCallback Callback() {
        return [this](const Loader::TCollisionTree& tree) {
            nodes = tree.CountDescendants();
            thread = std::this_thread::get_id();
            done.Set();
        };
    }
};

// A log sink that holds the loader's thread where a read begins until the test lets it go, or
// until a loader says that it cancels its load.
struct GateSink : CapturingLogSink {
    CbEvent atStart{true, false}, release{true, false};
    void Write(const Logging::NSLogEntry& entry) override {
        CapturingLogSink::Write(entry);
        if (entry.message == L"Laden der Kollisionstabelle wird abgebrochen")
            release.Set();
        if (entry.message == L"Beginne mit dem Laden der Kollisionstabelle") {
            atStart.Set();
            release.Wait(c_dwHandshakeTimeout);
        }
    }
};

class ScopedGate {
public:
    ScopedGate() : m_previous(Logging::SetLogSink(m_sink)) {}
    ~ScopedGate() { Logging::SetLogSink(m_previous); }
    GateSink& operator*() { return *m_sink; }

private:
    std::shared_ptr<GateSink> m_sink = std::make_shared<GateSink>();
    std::shared_ptr<Logging::ILogSink> m_previous;
};

}  // namespace

TEST(ZoCTripleTrayCollisionsLoader, ReadsOnceOnItsThreadForEveryLoaderThatAsksMeanwhileAndAfter) {
    ScopedGate gate;
    const ScopedTable table(scratchFile("table.txt", "1 2 3 4 5 6\n1 2 3 7 5 6\nbad\n"));
    NSSeen first, meanwhile, later;
    {
        Loader firstSteering, secondSteering;
        firstSteering.LoadAsync(first.Callback());
        ASSERT_TRUE((*gate).atStart.Wait(c_dwHandshakeTimeout));
        EXPECT_FALSE(Loader::ResetTable());  // a load is running
        secondSteering.LoadAsync(meanwhile.Callback());
        EXPECT_FALSE(meanwhile.done.IsSet());  // never a half-built table
        (*gate).release.Set();
        ASSERT_TRUE(first.done.Wait(c_dwHandshakeTimeout));
        ASSERT_TRUE(meanwhile.done.Wait(c_dwHandshakeTimeout));
    }
    Loader another;
    another.LoadAsync(later.Callback());
    EXPECT_TRUE(later.done.IsSet());  // called back before LoadAsync returned
    EXPECT_EQ(later.thread, std::this_thread::get_id());
    EXPECT_NE(first.thread, std::this_thread::get_id());
    EXPECT_NE(meanwhile.thread, std::this_thread::get_id());
    for (const NSSeen* seen : {&first, &meanwhile, &later})
        EXPECT_EQ(seen->nodes, 7u);
    EXPECT_EQ((*gate).Messages(c_pszLoaderLogger),
              (std::vector<std::wstring>{L"Beginne mit dem Laden der Kollisionstabelle",
                                         L"Kollisionstabelle: Einträge gelesen: 2, Zeilen übersprungen: 1 (erste: Zeile 3, "
                                         L"not a number)",
                                         L"Kollisionstabelle erfolgreich geladen"}));
}

TEST(ZoCTripleTrayCollisionsLoader, TablesWithoutRecordsSaySoAndTheNextRequestReadsAgainForEveryStage) {
    EXPECT_STREQ(Loader::m_pszFileName.load(), "DoubleArchJointCollisions.txt");  // the working directory's
    const std::string fifo = scratchPath("table.fifo");
    fs::remove(fifo);
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    const std::string narrowPath = scratchFile("changing.txt", "# nothing yet\nbad\n");
    const std::wstring path(narrowPath.begin(), narrowPath.end()), pipe(fifo.begin(), fifo.end());
    for (const auto& [file, said] : std::vector<std::pair<std::string, std::wstring>>{
             {narrowPath, L"Kollisionstabelle '" + path + L"' enthält keine gültigen Einträge (Zeilen übersprungen: 1)"},
             {fifo, L"Kollisionstabelle '" + pipe + L"' konnte nicht gelesen werden: not a regular file"}}) {
        ScopedLogCapture capture;
        const ScopedTable table(file);
        NSSeen empty;
        Loader loader;
        loader.LoadAsync(empty.Callback());
        ASSERT_TRUE(empty.done.Wait(c_dwHandshakeTimeout));
        EXPECT_EQ(empty.nodes, 0u);
        EXPECT_FALSE(Loader::IsLoaded());
        EXPECT_EQ(count(capture.Sink().Messages(c_pszLoaderLogger), said), 1u);
    }
    fs::remove(fifo);
    // Once loaded, the table goes to the steering's planning at once, and again to the new
    // planning of every later stage.
    const ScopedTable table(scratchFile("changing.txt", "1 2 3 4 5 6\n"));
    NSSeen filled;
    {
        Loader loader;
        loader.LoadAsync(filled.Callback());
        ASSERT_TRUE(filled.done.Wait(c_dwHandshakeTimeout));
    }
    EXPECT_EQ(filled.nodes, 5u);
    ZoCAcquisitionSteeringOrbal2TripleTray steering(ZoCOrbal2DeviceConfig(), eAreaTypeUpperJaw);
    for (int stage = 0; stage < 4; ++stage, steering.SetNextState()) {
        const auto& planning = dynamic_cast<const AcquisitionPlanningStore&>(*steering.GetAcquisitionPlanning());
        ASSERT_NE(planning.CollisionTree(), nullptr) << stage;
        EXPECT_EQ(planning.CollisionTree()->CountDescendants(), 5u) << stage;
    }
}

// The steering goes while its table is being read: a huge table is not read to its end, nothing
// reaches the steering, and the table stays empty for the next one.
TEST(ZoCTripleTrayCollisionsLoader, DestroyingTheSteeringCancelsItsRunningLoad) {
    const std::string huge = scratchPath("slow.txt");
    fs::remove(huge);
    {
        std::ofstream file(huge);
        file.seekp(static_cast<std::streamoff>(IntervalFileParser::c_uMaxFileBytes) - 100);  // sparse zeros
        file << "\n1 2 3 4 5 6\n";
    }
    ScopedGate gate;
    const ScopedTable table(huge);
    auto steering = std::make_unique<ZoCAcquisitionSteeringOrbal2TripleTray>(ZoCOrbal2DeviceConfig(), eAreaTypeUpperJaw);
    ASSERT_TRUE((*gate).atStart.Wait(c_dwHandshakeTimeout));
    const auto before = std::chrono::steady_clock::now();
    steering.reset();
    EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::seconds(20));  // returns at all
    EXPECT_FALSE(Loader::IsLoaded());
    const auto messages = (*gate).Messages(c_pszLoaderLogger);
    EXPECT_EQ(count(messages, L"Laden der Kollisionstabelle abgebrochen"), 1u);
    EXPECT_EQ(count(messages, L"Kollisionstabelle erfolgreich geladen"), 0u);
    fs::remove(huge);
}

// ---------------------------------------------------------------------------------------------
// The loader's thread pool

TEST(ZoCThreadPool, RunsTasksInOrderOnItsThreadsAndDeliversResultsAndExceptions) {
    std::vector<int> done;
    std::atomic<int> started{0}, stopped{0};
    {
        ZoCThreadPool pool(1, [&] { ++started; }, [&] { ++stopped; });
        std::vector<std::future<void>> futures;
        for (int i = 0; i < 20; ++i)
            futures.push_back(pool.Submit([i, &done] { done.push_back(i); }));
        auto failure = pool.Submit([]() -> int { throw std::runtime_error("no table"); });
        auto after = pool.Submit([] { return std::this_thread::get_id(); });  // the worker survives
        EXPECT_THROW(failure.get(), std::runtime_error);
        EXPECT_NE(after.get(), std::this_thread::get_id());
    }
    std::vector<int> expected(20);
    std::iota(expected.begin(), expected.end(), 0);
    EXPECT_EQ(done, expected);
    EXPECT_EQ(std::make_pair(started.load(), stopped.load()), std::make_pair(1, 1));
    EXPECT_EQ(ZoCThreadPool(0).GetNumThreads(), 1);
    EXPECT_EQ(ZoCThreadPool(3).GetNumThreads(), 3);
}

TEST(ZoCThreadPool, DestructionDropsWaitingTasksAndWaitsForTheRunningOne) {
    CbEvent started(true, false), release(true, false);
    auto pool = std::make_unique<ZoCThreadPool>(1);
    auto running = pool->Submit([&] {
        started.Set();
        release.Wait();
        return 1;
    });
    auto waiting = pool->Submit([] { return 2; });
    ASSERT_TRUE(started.Wait(c_dwHandshakeTimeout));
    EXPECT_EQ(pool->GetPendingCount(), 1u);
    std::thread destroyer([&pool] { pool.reset(); });
    // The destructor drops the waiting task first: its promise breaks, which makes its future ready.
    waiting.wait();
    release.Set();
    destroyer.join();
    EXPECT_EQ(running.get(), 1);
    EXPECT_THROW(waiting.get(), std::future_error);
}
