#include "ZoDebugPrint.h"

#include "Logging.h"

#include <cstdio>
#include <vector>

namespace {

std::string formatText(const char* format, va_list args) {
    va_list copy;
    va_copy(copy, args);
    const int length = std::vsnprintf(nullptr, 0, format, copy);
    va_end(copy);
    if (length <= 0)
        return std::string();
    std::vector<char> buffer(static_cast<size_t>(length) + 1);
    std::vsnprintf(buffer.data(), buffer.size(), format, args);
    return std::string(buffer.data(), static_cast<size_t>(length));
}

}  // namespace

void ZoCPendingLogText::Append(const char* format, va_list args) {
    std::string complete;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_sText += formatText(format, args);
        if (m_sText.find('\n') == std::string::npos)
            return;
        complete.swap(m_sText);
    }
    // Logged outside the lock: a sink may itself be slow or print through us.
    ZoCWinLog().Log(complete.c_str());
}

std::string ZoCPendingLogText::Pending() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_sText;
}

void ZoCPendingLogText::Discard() {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_sText.clear();
}

ZoCPendingLogText& ZoDebugPrintBuffer() {
    static ZoCPendingLogText buffer;
    return buffer;
}

void ZoDebugPrintV(const char* format, va_list args) {
    ZoDebugPrintBuffer().Append(format, args);
}

void ZoDebugPrint(const char* format, ...) {
    va_list args;
    va_start(args, format);
    ZoDebugPrintV(format, args);
    va_end(args);
}
