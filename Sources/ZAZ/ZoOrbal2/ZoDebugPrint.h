// Line-buffered diagnostic text for the run-time log.
//
// printf-style fragments are collected in a pending buffer; as soon as the buffer holds a line
// feed, its whole content (line feed included) becomes one entry of ZoCWinLog and the buffer is
// emptied. Matrices, vectors and the calibration print their tables piecewise this way, so one
// table row ends up as one log entry.
#pragma once

#include <cstdarg>
#include <mutex>
#include <string>

// One pending-text buffer. The library keeps one for the debug print and one for the solver log;
// a mutex keeps fragments written from different threads from tearing each other.
class ZoCPendingLogText {
  public:
    // Appends the formatted text; flushes to ZoCWinLog when the pending text holds a line feed.
    void Append(const char* format, va_list args);
    // The text collected so far and not yet logged.
    std::string Pending() const;
    // Drops the text not yet logged (a test or a host resetting a half-written line).
    void Discard();

  private:
    mutable std::mutex m_mutex;  // guards m_sText
    std::string m_sText;
};

// The process-wide buffer behind ZoDebugPrint.
ZoCPendingLogText& ZoDebugPrintBuffer();

// printf-style output to the run-time log, one entry per completed line.
void ZoDebugPrint(const char* format, ...) __attribute__((format(printf, 1, 2)));
void ZoDebugPrintV(const char* format, va_list args);
