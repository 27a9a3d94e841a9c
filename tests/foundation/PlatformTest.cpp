// Platform and base library: strings, logging, events, threads.
#include "BaseLibrary.h"
#include "CapturingLogSink.h"
#include "Logging.h"
#include "Platform.h"

#include <gtest/gtest.h>

#include <set>
#include <stdexcept>
#include <tuple>

namespace {
// A thread whose loop and hooks record what happened.
struct RecordingThread : CbThread<RecordingThread> {
    explicit RecordingThread(bool throwInRun) : CbThread("Recorder"), throwing(throwInRun) {}
    bool OnThreadStart() { return started = true; }
    void Run() {
        if (++runs > 0 && throwing)
            throw std::runtime_error("loop failed");
    }
    void OnThreadExit(HRESULT hr) { exitCode = hr; }
    bool throwing, started = false;
    int runs = 0;
    HRESULT exitCode = 1;
};
}  // namespace

// Padded request names, texts longer than the first buffer, and UTF-8 of one to four bytes.
TEST(CString, FormatsPaddedRequestNamesLongTextsAndUtf8) {
    CString s, t;
    s.Format(L"%03d_R%li_%li", 7, 12L, 3L);
    t.Format(L"%03d_U0_%d", 1234, 5);
    EXPECT_EQ(std::make_pair(s, t), std::make_pair(CString(L"007_R12_3"), CString(L"1234_U0_5")));
    const std::wstring longText(3000, L'x');
    s.Format(L"%ls-%d", longText.c_str(), 42);
    EXPECT_EQ(s.str(), longText + L"-42");
    EXPECT_EQ(CString(L"a\u00e9\u20ac\U0001F600").ToUtf8(), "a\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80");
}

// Messages at or above the sink's level with their origin; the run-time log as info, until the sink returns.
TEST(Logging, CapturesMessagesWithTheirOriginAboveTheSinksLevelAndTheRunTimeLogAsInfo) {
    auto warn = std::make_shared<CapturingLogSink>(Logging::Warn), all = std::make_shared<CapturingLogSink>();
    auto previous = Logging::SetLogSink(warn);
    Logging::CLogger logger("ZAZ.Test");
    EXPECT_TRUE(logger.IsLogLevelEnabled(Logging::Warn) && !logger.IsLogLevelEnabled(Logging::Info));
    logger.Info("f", 1, "g", L"dropped");
    logger.Warn("file.cpp", 12, "Fn", L"Condition failed: %ls", L"Kein Wert");
    logger.Error("f", 1, "g", L"kept %d", 7);
    Logging::SetLogSink(all);
    ZoCWinLog().Log("(NLS) line\n");
    ZoCWinLog().Log(L"wide");
    Logging::SetLogSink(previous);
    ZoCWinLog().Log("after");
    EXPECT_EQ(warn->Messages("ZAZ.Test"),
              (std::vector<std::wstring>{L"Condition failed: Kein Wert", L"kept 7"}));
    const Logging::NSLogEntry origin = warn->Entries().at(0);
    EXPECT_EQ(std::tie(origin.level, origin.file, origin.line, origin.function),
              std::tuple(int{Logging::Warn}, std::string("file.cpp"), 12, std::string("Fn")));
    EXPECT_EQ(all->Messages("ZoCWinLog"), (std::vector<std::wstring>{L"(NLS) line\n", L"wide"}));
    EXPECT_EQ(all->Entries().at(1).level, Logging::Info);
}

// Scans are registered under fresh ids: never the null id, never one handed out before.
TEST(GUID, FreshIdsAreDistinctAndNeverNull) {
    std::set<std::tuple<uint32_t, uint16_t, uint16_t>> seen;
    for (GUID id = CreateGuid(); seen.size() < 1000 && !id.IsNull(); id = CreateGuid())
        EXPECT_TRUE(seen.insert({id.Data1, id.Data2, id.Data3}).second);
    EXPECT_EQ(seen.size(), 1000u);
}

// A manual-reset event wakes another thread's waiter and stays set; an automatic one releases one wait.
TEST(CbEvent, ManualResetStaysSetAutoResetReleasesOneWait) {
    CbEvent manual(true, false), automatic(false, true);
    EXPECT_FALSE(manual.Wait(0));
    std::thread setter([&] { manual.Set(); });
    EXPECT_TRUE(manual.Wait(INFINITE));
    setter.join();
    EXPECT_TRUE(manual.Wait(0));
    manual.Reset();
    EXPECT_FALSE(manual.Wait(1));
    EXPECT_TRUE(automatic.Wait(0) && !automatic.Wait(0));
}

// Hooks and loop run, the thread finishes (failed, E_FAIL, when the loop throws) and starts again.
TEST(CbThread, RunsHooksAndLoopThenReportsFinishedAndStartsAgain) {
    for (const bool throwing : {false, true}) {
        RecordingThread thread(throwing);
        for (int start = 1; start <= 2; ++start) {
            thread.GetFinishedEvent().Reset();
            ASSERT_TRUE(thread.Start(true));
            ASSERT_TRUE(thread.GetFinishedEvent().Wait(5000));
            thread.Join();
            EXPECT_TRUE(thread.started && !thread.IsAlive());
            EXPECT_EQ(std::make_pair(thread.runs, thread.exitCode),
                      std::make_pair(start, throwing ? E_FAIL : S_OK));
            EXPECT_EQ(thread.GetState(),
                      RecordingThread::c_uFinished | (throwing ? RecordingThread::c_uFailed : 0));
        }
    }
}
