// Logging: named loggers and the plain run-time log over one replaceable process-wide sink.
#include "Logging.h"

#include <cstdarg>
#include <cstdio>
#include <cwchar>
#include <mutex>
#include <vector>

namespace Logging {
namespace {

// Default sink: warnings and errors to stderr, one line each.
class StderrSink : public ILogSink {
public:
    int MinimumLevel() const override { return Warn; }
    void Write(const NSLogEntry& entry) override {
        std::lock_guard<std::mutex> lock(m_mutex);
        std::fprintf(stderr, "[%s] %s: %ls\n", entry.level >= Error ? "error" : "warn", entry.logger.c_str(),
                     entry.message.c_str());
    }

private:
    std::mutex m_mutex;
};

std::mutex g_sinkMutex;
std::shared_ptr<ILogSink>& currentSink() {
    static std::shared_ptr<ILogSink> sink = std::make_shared<StderrSink>();
    return sink;
}

std::wstring formatWide(const wchar_t* format, va_list args) {
    std::vector<wchar_t> buffer(512);
    for (;;) {
        va_list copy;
        va_copy(copy, args);
        const int written = std::vswprintf(buffer.data(), buffer.size(), format, copy);
        va_end(copy);
        if (written >= 0 && static_cast<size_t>(written) < buffer.size())
            return std::wstring(buffer.data(), static_cast<size_t>(written));
        if (buffer.size() >= (1u << 22)) return std::wstring(format);
        buffer.resize(buffer.size() * 4);
    }
}

void emit(const std::string& logger, int level, const char* file, int line, const char* function,
          std::wstring message) {
    std::shared_ptr<ILogSink> sink = GetLogSink();
    if (!sink || level < sink->MinimumLevel()) return;
    NSLogEntry entry{level, logger, file ? file : "", line, function ? function : "", std::move(message)};
    sink->Write(entry);
}

}  // namespace

std::shared_ptr<ILogSink> SetLogSink(std::shared_ptr<ILogSink> sink) {
    std::lock_guard<std::mutex> lock(g_sinkMutex);
    std::shared_ptr<ILogSink> previous = currentSink();
    currentSink() = sink ? std::move(sink) : std::make_shared<StderrSink>();
    return previous;
}

std::shared_ptr<ILogSink> GetLogSink() {
    std::lock_guard<std::mutex> lock(g_sinkMutex);
    return currentSink();
}

bool CLogger::IsLogLevelEnabled(int level) const {
    std::shared_ptr<ILogSink> sink = GetLogSink();
    return sink && level >= sink->MinimumLevel();
}

#define ZO_LOGGER_METHOD(NAME, LEVEL)                                                               \
    void CLogger::NAME(const char* file, int line, const char* function, const wchar_t* format, ...) \
        const {                                                                                     \
        va_list args;                                                                               \
        va_start(args, format);                                                                     \
        std::wstring message = formatWide(format, args);                                            \
        va_end(args);                                                                               \
        emit(m_name, LEVEL, file, line, function, std::move(message));                              \
    }
ZO_LOGGER_METHOD(Info, Logging::Info)
ZO_LOGGER_METHOD(Warn, Logging::Warn)
ZO_LOGGER_METHOD(Error, Logging::Error)
#undef ZO_LOGGER_METHOD

}  // namespace Logging

void ZoCWinLog::Log(const char* text) {
    std::wstring wide;
    for (const char* c = text; c && *c; ++c) wide += static_cast<wchar_t>(static_cast<unsigned char>(*c));
    Logging::emit("ZoCWinLog", Logging::Info, nullptr, 0, nullptr, std::move(wide));
}

void ZoCWinLog::Log(const wchar_t* text) {
    Logging::emit("ZoCWinLog", Logging::Info, nullptr, 0, nullptr, text ? text : L"");
}
