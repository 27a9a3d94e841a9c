// Logging: named loggers and the run-time log reach the process-wide sink.
#include "CapturingLogSink.h"
#include "Logging.h"

#include <gtest/gtest.h>

namespace {
auto fields(const Logging::NSLogEntry& e) {
    return std::tie(e.level, e.logger, e.file, e.line, e.function, e.message);
}
}  // namespace

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
    const auto entries = warn->Entries();
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(fields(entries[0]),
              fields({Logging::Warn, "ZAZ.Test", "file.cpp", 12, "Fn", L"Condition failed: Kein Wert"}));
    EXPECT_EQ(entries[1].message, L"kept 7");
    EXPECT_EQ(all->Messages("ZoCWinLog"), (std::vector<std::wstring>{L"(NLS) line\n", L"wide"}));
    ASSERT_EQ(all->Entries().size(), 2u);
    EXPECT_EQ(all->Entries()[1].level, Logging::Info);
}
