#include "ZoBase64.h"

namespace {

const char c_acAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

}  // namespace

// Three bytes become four characters; a last group of one or two bytes is padded with "=".
std::string ZoBase64Encode(const std::vector<uint8_t>& bytes) {
    std::string text;
    text.reserve((bytes.size() + 2) / 3 * 4);
    for (size_t i = 0; i < bytes.size(); i += 3) {
        const size_t available = bytes.size() - i;
        const uint32_t group = (uint32_t{bytes[i]} << 16) |
                               (available > 1 ? uint32_t{bytes[i + 1]} << 8 : 0u) |
                               (available > 2 ? uint32_t{bytes[i + 2]} : 0u);
        text += c_acAlphabet[(group >> 18) & 63];
        text += c_acAlphabet[(group >> 12) & 63];
        text += available > 1 ? c_acAlphabet[(group >> 6) & 63] : '=';
        text += available > 2 ? c_acAlphabet[group & 63] : '=';
    }
    return text;
}

std::string ZoBreakLines(const std::string& text, size_t width) {
    if (width == 0)
        return text;
    std::string broken;
    broken.reserve(text.size() + text.size() / width);
    for (size_t i = 0; i < text.size(); i += width) {
        if (i > 0)
            broken += '\n';
        broken.append(text, i, width);
    }
    return broken;
}
