// Logging: named loggers and the run-time log reach the process-wide sink.
#include "CapturingLogSink.h"
#include "Logging.h"

#include <gtest/gtest.h>

TEST(Logging, CapturesMessagesWithTheirOriginAboveTheSinksLevel) {
    ScopedLogCapture capture(Logging::Warn);
    Logging::CLogger logger("ZAZ.Test");
    EXPECT_TRUE(logger.IsLogLevelEnabled(Logging::Warn));
    EXPECT_FALSE(logger.IsLogLevelEnabled(Logging::Info));
    logger.Info("f", 1, "g", L"dropped");
    logger.Warn("file.cpp", 12, "Fn", L"Condition failed: %ls", L"Kein Wert");
    logger.Error("f", 1, "g", L"kept %d", 7);
    const auto entries = capture.Sink().Entries();
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[0].level, Logging::Warn);
    EXPECT_EQ(entries[0].logger, "ZAZ.Test");
    EXPECT_EQ(entries[0].file, "file.cpp");
    EXPECT_EQ(entries[0].line, 12);
    EXPECT_EQ(entries[0].function, "Fn");
    EXPECT_EQ(entries[0].message, L"Condition failed: Kein Wert");
    EXPECT_EQ(entries[1].message, L"kept 7");
}

TEST(Logging, RunTimeLogWritesOneInfoEntryPerCallUntilTheDefaultSinkReturns) {
    auto sink = std::make_shared<CapturingLogSink>();
    auto previous = Logging::SetLogSink(sink);
    ZoCWinLog().Log("(NLS) line\n");
    ZoCWinLog().Log(L"wide");
    Logging::SetLogSink(previous);
    ZoCWinLog().Log("after");
    EXPECT_EQ(sink->Messages("ZoCWinLog"), (std::vector<std::wstring>{L"(NLS) line\n", L"wide"}));
    ASSERT_EQ(sink->Entries().size(), 2u);
    EXPECT_EQ(sink->Entries()[1].level, Logging::Info);
}
