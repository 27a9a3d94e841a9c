// Logging: named loggers and the run-time log reach the process-wide sink.
#include "CapturingLogSink.h"
#include "Logging.h"

#include <gtest/gtest.h>

TEST(Logging, CapturesMessagesWithTheirOrigin) {
    ScopedLogCapture capture;
    Logging::CLogger logger("ZAZ.Test");
    ASSERT_TRUE(logger.IsLogLevelEnabled(Logging::Info));
    logger.Warn("file.cpp", 12, "Fn", L"Condition failed: %ls", L"Kein Wert");
    const auto entries = capture.Sink().Entries();
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].level, Logging::Warn);
    EXPECT_EQ(entries[0].logger, "ZAZ.Test");
    EXPECT_EQ(entries[0].file, "file.cpp");
    EXPECT_EQ(entries[0].line, 12);
    EXPECT_EQ(entries[0].function, "Fn");
    EXPECT_EQ(entries[0].message, L"Condition failed: Kein Wert");
}

TEST(Logging, SinkLevelFiltersAndDisablesLowerLevels) {
    ScopedLogCapture capture(Logging::Error);
    Logging::CLogger logger("ZAZ.Test");
    EXPECT_FALSE(logger.IsLogLevelEnabled(Logging::Warn));
    logger.Info("f", 1, "g", L"dropped");
    logger.Error("f", 1, "g", L"kept %d", 7);
    ASSERT_EQ(capture.Sink().Entries().size(), 1u);
    EXPECT_EQ(capture.Sink().Entries()[0].message, L"kept 7");
}

TEST(Logging, RunTimeLogWritesOneInfoEntryPerCall) {
    ScopedLogCapture capture;
    ZoCWinLog().Log("(NLS) line\n");
    ZoCWinLog().Log(L"wide");
    EXPECT_EQ(capture.Sink().Messages("ZoCWinLog"), (std::vector<std::wstring>{L"(NLS) line\n", L"wide"}));
}

TEST(Logging, RestoringTheDefaultSinkStopsCapture) {
    std::shared_ptr<CapturingLogSink> sink = std::make_shared<CapturingLogSink>();
    auto previous = Logging::SetLogSink(sink);
    Logging::SetLogSink(previous);
    ZoCWinLog().Log("after");
    EXPECT_TRUE(sink->Entries().empty());
}
