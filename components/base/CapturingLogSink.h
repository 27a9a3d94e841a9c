// A log sink for tests and hosts that want to read back what the library said.
#pragma once

#include "Logging.h"

#include <mutex>
#include <string>
#include <vector>

class CapturingLogSink : public Logging::ILogSink {
public:
    explicit CapturingLogSink(int minimumLevel = Logging::Trace) : m_minimumLevel(minimumLevel) {}

    int MinimumLevel() const override { return m_minimumLevel; }
    void Write(const Logging::NSLogEntry& entry) override {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_entries.push_back(entry);
    }
    std::vector<Logging::NSLogEntry> Entries() const {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_entries;
    }
    // The messages of one logger, in order.
    std::vector<std::wstring> Messages(const std::string& logger) const {
        std::lock_guard<std::mutex> lock(m_mutex);
        std::vector<std::wstring> out;
        for (const auto& e : m_entries)
            if (e.logger == logger) out.push_back(e.message);
        return out;
    }
    void Clear() {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_entries.clear();
    }

private:
    const int m_minimumLevel;
    mutable std::mutex m_mutex;
    std::vector<Logging::NSLogEntry> m_entries;
};

// Installs a capturing sink for the lifetime of the object and restores the previous one.
class ScopedLogCapture {
public:
    explicit ScopedLogCapture(int minimumLevel = Logging::Trace)
        : m_sink(std::make_shared<CapturingLogSink>(minimumLevel)), m_previous(Logging::SetLogSink(m_sink)) {}
    ~ScopedLogCapture() { Logging::SetLogSink(m_previous); }
    CapturingLogSink& Sink() { return *m_sink; }

private:
    std::shared_ptr<CapturingLogSink> m_sink;
    std::shared_ptr<Logging::ILogSink> m_previous;
};
