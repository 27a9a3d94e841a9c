// Logging component: named loggers with levels, and the run-time library's plain log.
// Everything goes to one process-wide sink that a host can replace with its own.
#pragma once

#include <memory>
#include <string>

namespace Logging {

// Levels as the loggers number them.
enum ELogLevel : int { Trace = 0, Debug = 1, Info = 2, Warn = 3, Error = 4 };

// One finished message. `logger` is the logger's name ("ZoCWinLog" for the plain log).
struct NSLogEntry {
    int level = Info;
    std::string logger;
    std::string file;
    int line = 0;
    std::string function;
    std::wstring message;
};

// Where messages go. Implementations must accept calls from any thread.
class ILogSink {
public:
    virtual ~ILogSink() = default;
    // The least level this sink wants; loggers skip formatting below it.
    virtual int MinimumLevel() const = 0;
    virtual void Write(const NSLogEntry& entry) = 0;
};

// Replaces the process-wide sink; null restores the default (Warn and above to stderr).
// Returns the sink that was installed before.
std::shared_ptr<ILogSink> SetLogSink(std::shared_ptr<ILogSink> sink);
std::shared_ptr<ILogSink> GetLogSink();

class CLogger {
public:
    explicit CLogger(const char* name) : m_name(name) {}

    const std::string& GetName() const { return m_name; }
    bool IsLogLevelEnabled(int level) const;
    void Info(const char* file, int line, const char* function, const wchar_t* format, ...) const;
    void Warn(const char* file, int line, const char* function, const wchar_t* format, ...) const;
    void Error(const char* file, int line, const char* function, const wchar_t* format, ...) const;

private:
    std::string m_name;
};

}  // namespace Logging

// The run-time library's plain log: each call is one Info entry of the logger "ZoCWinLog".
class ZoCWinLog {
public:
    void Log(const char* text);
    void Log(const wchar_t* text);
};
