// Platform layer: wide-string formatting and id generation.
#include "Platform.h"

#include <cstdarg>
#include <cwchar>
#include <mutex>
#include <random>

void CString::Format(const wchar_t* format, ...) {
    std::vector<wchar_t> buffer(256);
    for (;;) {
        va_list args;
        va_start(args, format);
        const int written = std::vswprintf(buffer.data(), buffer.size(), format, args);
        va_end(args);
        // vswprintf reports a too-small buffer with -1; grow until the text fits (bounded).
        if (written >= 0 && static_cast<size_t>(written) < buffer.size()) {
            m_text.assign(buffer.data(), static_cast<size_t>(written));
            return;
        }
        if (buffer.size() >= (1u << 24)) {
            m_text.clear();
            return;
        }
        buffer.resize(buffer.size() * 4);
    }
}

std::string CString::ToUtf8() const {
    std::string out;
    for (wchar_t wc : m_text) {
        const auto c = static_cast<uint32_t>(wc);
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else if (c < 0x800) {
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            out += static_cast<char>(0xE0 | (c >> 12));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | (c >> 18));
            out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return out;
}

bool operator==(const GUID& a, const GUID& b) {
    if (a.Data1 != b.Data1 || a.Data2 != b.Data2 || a.Data3 != b.Data3) return false;
    for (int i = 0; i < 8; ++i)
        if (a.Data4[i] != b.Data4[i]) return false;
    return true;
}

GUID CreateGuid() {
    // Ids only need to be unique within the process; a seeded generator behind a lock does.
    static std::mutex mutex;
    static std::mt19937_64 generator{std::random_device{}()};
    std::lock_guard<std::mutex> lock(mutex);
    GUID id;
    do {
        const uint64_t hi = generator();
        const uint64_t lo = generator();
        id.Data1 = static_cast<uint32_t>(hi >> 32);
        id.Data2 = static_cast<uint16_t>(hi >> 16);
        id.Data3 = static_cast<uint16_t>((hi & 0x0FFF) | 0x4000);  // version 4
        for (int i = 0; i < 8; ++i) id.Data4[i] = static_cast<uint8_t>(lo >> (8 * i));
        id.Data4[0] = static_cast<uint8_t>((id.Data4[0] & 0x3F) | 0x80);
    } while (id.IsNull());
    return id;
}
