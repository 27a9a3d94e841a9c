// The joint collision table: its file reader, its tree, the loader and its pool.
#include "TrayTestSupport.h"

#include <dlfcn.h>

#include <limits>

// The test's thread counts its allocations down to a cancel, which so lands at every point of a read.
thread_local std::atomic<bool>* t_pCancel = nullptr;
thread_local long t_iAllocationsLeft = 0;

// Counts, then allocates as the next definition would (the sanitizers' or the standard library's).
void* operator new(std::size_t size) {
    if (t_pCancel && --t_iAllocationsLeft == 0)
        t_pCancel->store(true);
    static const auto next = reinterpret_cast<void* (*)(std::size_t)>(dlsym(RTLD_NEXT, "_Znwm"));
    return next(size);
}

namespace {

using namespace traytest;
using LineParser::LineRep;
namespace fs = std::filesystem;
const char* const c_pszLoaderLogger = "ZAZ.ZoOrbal2.Steering.TripleTrayCollisionsLoader";

LineRep parse(const std::string& line) {
    return LineParser::ParseLine(line.data(), line.size(), 7);
}

std::vector<float> values(const LineRep& rep) {
    return {rep.m_afValues, rep.m_afValues + 6};
}

// The lines a parser delivers, LoadData's result and the problem the parser names.
std::tuple<std::vector<LineRep>, bool, std::string> readAll(const std::string& path) {
    std::vector<LineRep> reps;
    IntervalFileParser parser([&reps](const LineRep& rep) { reps.push_back(rep); });
    const bool ok = parser.LoadData(path.c_str());
    return {reps, ok, parser.GetProblem() ? parser.GetProblem() : ""};
}

// A sparse file of `size` bytes: zeros, then one record as its last line.
std::string sparseTable(const std::string& name, uint64_t size) {
    const std::string path = scratchPath(name);
    std::ofstream(path, std::ios::binary).seekp(static_cast<std::streamoff>(size) - 13) << "\n1 2 3 4 5 6\n";
    return path;
}

// Record-by-record insertion: every valid record added in file order.
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

// Holds the loader's thread where a read begins until the test or a cancelling loader lets it go.
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

struct ScopedGate {
    std::shared_ptr<GateSink> sink = std::make_shared<GateSink>();
    std::shared_ptr<Logging::ILogSink> previous = Logging::SetLogSink(sink);
    ~ScopedGate() { Logging::SetLogSink(previous); }
    GateSink* operator->() { return sink.get(); }
};

// The loader's messages that equal `text`.
long count(const CapturingLogSink& sink, const std::wstring& text) {
    const auto messages = sink.Messages(c_pszLoaderLogger);
    return std::count(messages.begin(), messages.end(), text);
}

}  // namespace

TEST(IntervalFileParser, ReadsSixNumbersAndRefusesEverythingElseWithItsReason) {
    const std::string longest = "1 2 3 4 5 6" + std::string(LineParser::c_iMaxLineLength - 11, ' ');
    // problem -> the lines refused with it ("" for lines read as 1 2 3 4 5 6)
    const std::vector<std::pair<std::string, std::vector<std::string>>> cases = {
        {"", {"1 2 3 4 5 6", "1,2;3\t4  5 ,6", "  1 2 3 4 5 6  # a comment", "+1 2 3 4 5 6", longest}},
        {"comment line", {"", "   \t ", "# 1 2 3 4 5 6"}},
        {"fewer than six values", {"1 2 3 4 5"}},
        {"more than six values", {"1 2 3 4 5 6 7"}},
        {"not a number", {"1 2 x 4 5 6", "1 2 3 4 5 6x", "1 2 3 4 1e50 6", std::string("1 2 3\0 4 5 6", 12)}},
        {"not a finite number", {"1 2 3 4 nan 6", "inf 2 3 4 5 6"}},
        {"interval lower end above its upper end", {"1 2 3 4 6 5"}},
        {"line too long", {longest + " "}}};
    for (const auto& [problem, lines] : cases)
        for (const std::string& line : lines) {
            const LineRep rep = parse(line);
            EXPECT_EQ(std::tuple(rep.m_bValid, std::string(rep.m_pszProblem), rep.m_iLineNumber),
                      std::tuple(problem.empty(), problem, 7))
                << line;
            EXPECT_TRUE(!rep.m_bValid || values(rep) == std::vector<float>({1, 2, 3, 4, 5, 6})) << line;
        }
    EXPECT_EQ(values(parse("-1.5 2e1 0.25 -0 7.5 7.5")),  // a single angle is an interval too
              (std::vector<float>{-1.5f, 20, 0.25f, 0, 7.5f, 7.5f}));
}

// Line ends CR LF or CR, overlong lines skipped whole; only regular files up to 64 MB; cancelling.
TEST(IntervalFileParser, DeliversEveryLineOfRegularFilesWithinTheSizeLimitUntilCancelled) {
    const std::string limit = sparseTable("limit.txt", IntervalFileParser::c_uMaxFileBytes),
                      huge = sparseTable("huge.txt", IntervalFileParser::c_uMaxFileBytes + 1);
    // file -> LoadData, the parser's problem, lines delivered, the last line's problem
    using Row = std::tuple<bool, std::string, size_t, std::string>;
    for (const auto& [path, expected] : std::vector<std::pair<std::string, Row>>{
             {scratchFile("empty.txt", ""), {true, "", 0, ""}},
             {scratchFile("order.txt", "# head\r\n1 2 3 4 5 6\r\n\n" + std::string(5000, '7')),
              {true, "", 4, "line too long"}},
             {scratchFile("tail.txt", std::string(4096, '\n') + "7"),
              {true, "", 4097, "fewer than six values"}},
             {limit, {true, "", 2, ""}},
             {scratchPath("no-such-table.txt"), {false, "cannot open the file", 0, ""}},
             {huge, {false, "larger than the table limit", 0, ""}}}) {
        const auto [reps, ok, problem] = readAll(path);
        EXPECT_EQ(Row(ok, problem, reps.size(), reps.empty() ? "" : reps.back().m_pszProblem), expected)
            << path;
    }
    EXPECT_FALSE(IntervalFileParser(nullptr).LoadData(nullptr));
    for (const std::string& path : {limit, huge})
        fs::remove(path);
    std::atomic<bool> cancel{false};  // a cancelled read stops before the next line
    std::vector<int> delivered;
    IntervalFileParser parser([&](const LineRep& rep) {
        delivered.push_back(rep.m_iLineNumber);
        cancel = rep.m_iLineNumber == 3;
    });
    parser.SetCancelFlag(&cancel);
    EXPECT_FALSE(parser.LoadData(scratchFile("cancel.txt", std::string(10, '\n')).c_str()));
    EXPECT_EQ(std::pair(delivered, std::string(parser.GetProblem())),
              std::pair(std::vector<int>{1, 2, 3}, std::string("cancelled")));
}

// Random files, read one after another into one tree, give the tree of one-by-one insertion.
TEST(ZoCTripleTrayCollisionsLoader, ReadTableGivesTheTreeOfRecordByRecordInsertion) {
    std::mt19937_64 rng(47110815);
    const std::string numberish = "0123456789 .,;-+e\tna#\r\n";
    Loader::TCollisionTree grown;
    std::vector<LineRep> grownReps;
    for (int trial = 0; trial < 90; ++trial) {
        std::string bytes;
        if (trial % 3 == 2) {  // records over a few values each: paths share prefixes and repeat
            for (int line = static_cast<int>(rng() % 400); line > 0; --line) {
                for (int k = 0; k < 6; ++k)
                    bytes += std::to_string(k == 5 ? 3 + rng() % 3 : rng() % 3) + (k < 5 ? " " : "\n");
                bytes += rng() % 10 == 0 ? "noise\n" : "";
            }
        } else {
            bytes.resize(rng() % 6000);
            for (char& c : bytes)
                c = trial % 3 == 0 ? static_cast<char>(rng() & 0xFF) : numberish[rng() % numberish.size()];
        }
        const std::string path = scratchFile("random.txt", bytes);
        const std::vector<LineRep> reps = std::get<0>(readAll(path));
        grownReps.insert(grownReps.end(), reps.begin(), reps.end());
        EXPECT_TRUE(Loader::ReadTable(path.c_str(), grown));
        EXPECT_TRUE(sameTree(grown, insertOneByOne(grownReps))) << "trial " << trial;
    }
}

// Wherever a cancel lands, the read refuses and leaves the tree empty, or it completes the table.
TEST(ZoCTripleTrayCollisionsLoader, ACancelledReadLeavesNoPartOfTheTable) {
    const std::string path = scratchFile("cut.txt", "1 2 3 4 5 6\n1 2 3 7 5 6\n2 2 3 4 5 6\n9 1 1 1 1 2\n");
    Loader::TCollisionTree full;
    std::atomic<bool> cancel{false};
    t_pCancel = &cancel;
    t_iAllocationsLeft = std::numeric_limits<long>::max();
    ASSERT_TRUE(Loader::ReadTable(path.c_str(), full, &cancel));
    const long allocations = std::numeric_limits<long>::max() - t_iAllocationsLeft;
    std::vector<bool> results;
    for (long n = 1; n <= allocations; ++n) {
        Loader::TCollisionTree tree;
        cancel = false;
        t_iAllocationsLeft = n;
        results.push_back(Loader::ReadTable(path.c_str(), tree, &cancel));
        EXPECT_TRUE(results.back() ? sameTree(tree, full) : !tree.HasChilds()) << n;
    }
    t_pCancel = nullptr;
    EXPECT_TRUE(allocations > 0 && !results.front() && std::is_sorted(results.begin(), results.end()));
}

TEST(ZoCTripleTrayCollisionsLoader, ReadsOnceOnItsThreadForEveryLoaderThatAsksMeanwhileAndAfter) {
    ScopedGate gate;
    const ScopedTable table(scratchFile("table.txt", "1 2 3 4 5 6\n1 2 3 7 5 6\nbad\n"));
    using Seen = std::pair<bool, size_t>;  // on the test's thread, the nodes it saw
    struct NSSeen {
        CbEvent done{true, false};
        Seen seen;
    } first, meanwhile, later;
    auto callback = [here = std::this_thread::get_id()](NSSeen& s) {
        return [&s, here](const Loader::TCollisionTree& tree) {
            s.seen = {std::this_thread::get_id() == here, tree.CountDescendants()};
            s.done.Set();
        };
    };
    {
        Loader firstSteering, secondSteering;
        firstSteering.LoadAsync(callback(first));
        ASSERT_TRUE(gate->atStart.Wait(c_dwHandshakeTimeout));
        EXPECT_FALSE(Loader::ResetTable());  // a load is running
        secondSteering.LoadAsync(callback(meanwhile));
        EXPECT_FALSE(meanwhile.done.IsSet());  // never a half-built table
        gate->release.Set();
        ASSERT_TRUE(first.done.Wait(c_dwHandshakeTimeout) && meanwhile.done.Wait(c_dwHandshakeTimeout));
    }
    Loader().LoadAsync(callback(later));
    EXPECT_TRUE(later.done.IsSet());  // called back before LoadAsync returned, on the caller's thread
    EXPECT_EQ(std::vector<Seen>({first.seen, meanwhile.seen, later.seen}),
              (std::vector<Seen>{{false, 7}, {false, 7}, {true, 7}}));
    EXPECT_EQ(gate->Messages(c_pszLoaderLogger),
              (std::vector<std::wstring>{
                  L"Beginne mit dem Laden der Kollisionstabelle",
                  L"Kollisionstabelle: Einträge gelesen: 2, Zeilen übersprungen: 1 (erste: Zeile 3, "
                  L"not a number)",
                  L"Kollisionstabelle erfolgreich geladen"}));
}

// Tables without records say so and stay unloaded.
TEST(ZoCTripleTrayCollisionsLoader, TablesWithoutRecordsSaySoAndStayUnloaded) {
    EXPECT_STREQ(Loader::m_pszFileName.load(), "DoubleArchJointCollisions.txt");  // the working directory's
    const std::string pipe = scratchPath("table.fifo"),
                      narrow = scratchFile("changing.txt", "# nothing yet\nbad\n");
    fs::remove(pipe);
    ASSERT_EQ(mkfifo(pipe.c_str(), 0600), 0);
    for (const auto& [file, said] : std::vector<std::pair<std::string, std::wstring>>{
             {narrow, L"' enthält keine gültigen Einträge (Zeilen übersprungen: 1)"},
             {pipe, L"' konnte nicht gelesen werden: not a regular file"}}) {
        ScopedLogCapture log;
        const ScopedTable table(file);
        EXPECT_EQ(std::pair(loadTable(), Loader::IsLoaded()), std::pair(size_t{0}, false));
        EXPECT_EQ(count(log.Sink(), L"Kollisionstabelle '" + std::wstring(file.begin(), file.end()) + said),
                  1);
    }
    fs::remove(pipe);
}

// The steering goes while its table is read: the read stops and the table stays empty.
TEST(ZoCTripleTrayCollisionsLoader, DestroyingTheSteeringCancelsItsRunningLoad) {
    const std::string huge = sparseTable("slow.txt", IntervalFileParser::c_uMaxFileBytes);
    ScopedGate gate;
    const ScopedTable table(huge);
    auto steering = std::make_unique<Steering>(ZoCOrbal2DeviceConfig(), eAreaTypeUpperJaw);
    ASSERT_TRUE(gate->atStart.Wait(c_dwHandshakeTimeout));
    steering.reset();
    EXPECT_FALSE(Loader::IsLoaded());
    EXPECT_EQ(count(*gate.sink, L"Laden der Kollisionstabelle abgebrochen"), 1);
    EXPECT_EQ(count(*gate.sink, L"Kollisionstabelle erfolgreich geladen"), 0);
    fs::remove(huge);
}

TEST(ZoCThreadPool, DestructionDropsWaitingTasksAndWaitsForTheRunningOne) {
    CbEvent started(true, false), release(true, false);
    auto pool = std::make_unique<ZoCThreadPool>(1);
    auto running = pool->Submit([&] { return started.Set(), release.Wait(), 1; });
    auto waiting = pool->Submit([] { return 2; });
    ASSERT_TRUE(started.Wait(c_dwHandshakeTimeout));
    std::thread destroyer([&pool] { pool.reset(); });
    waiting.wait();  // the destructor drops the waiting task first: its broken promise makes it ready
    release.Set();
    destroyer.join();
    EXPECT_EQ(running.get(), 1);
    EXPECT_THROW(waiting.get(), std::future_error);
}
