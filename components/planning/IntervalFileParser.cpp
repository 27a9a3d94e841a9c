// Interval files: one record of six numbers per line; the syntax is documented with the
// parser's declaration.
#include "AcquisitionPlanning.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <string>

namespace LineParser {
namespace {

bool isSeparator(char c) {
    return c == ' ' || c == '\t' || c == ',' || c == ';';
}

LineRep refused(LineRep rep, const char* problem) {
    rep.m_bValid = false;
    rep.m_pszProblem = problem;
    return rep;
}

}  // namespace

LineRep ParseLine(const char* text, size_t length, int lineNumber) {
    LineRep rep;
    rep.m_iLineNumber = lineNumber;
    if (length > static_cast<size_t>(c_iMaxLineLength))
        return refused(rep, "line too long");
    size_t i = 0;
    for (;;) {
        while (i < length && isSeparator(text[i]))
            ++i;
        if (i == length || text[i] == '#')
            break;
        size_t end = i;
        while (end < length && !isSeparator(text[end]) && text[end] != '#')
            ++end;
        if (rep.m_iNumValues == 6)
            return refused(rep, "more than six values");
        // from_chars knows no plus sign; a number may still carry one.
        const size_t start = text[i] == '+' && end - i > 1 && text[i + 1] != '-' ? i + 1 : i;
        float value = 0;
        const std::from_chars_result r = std::from_chars(text + start, text + end, value);
        if (r.ec != std::errc() || r.ptr != text + end)
            return refused(rep, "not a number");
        if (!std::isfinite(value))
            return refused(rep, "not a finite number");
        rep.m_afValues[rep.m_iNumValues++] = value;
        i = end;
    }
    if (rep.m_iNumValues == 0)
        return refused(rep, "comment line");
    if (rep.m_iNumValues < 6)
        return refused(rep, "fewer than six values");
    if (rep.m_afValues[4] > rep.m_afValues[5])
        return refused(rep, "interval lower end above its upper end");
    rep.m_bValid = true;
    return rep;
}

}  // namespace LineParser

bool IntervalFileParser::LoadData(const char* fileName) {
    m_pszProblem = "";
    if (!fileName)
        return fail("no file name");
    // The type is asked before opening: opening a pipe blocks until a writer comes, and a
    // device such as /dev/zero never ends.
    std::error_code error;
    const std::filesystem::file_status status = std::filesystem::status(fileName, error);
    if (error || !std::filesystem::exists(status))
        return fail("cannot open the file");
    if (!std::filesystem::is_regular_file(status))
        return fail("not a regular file");
    const std::uintmax_t size = std::filesystem::file_size(fileName, error);
    if (error)
        return fail("cannot open the file");
    if (size > c_uMaxFileBytes)
        return fail("larger than the table limit");
    std::ifstream in(fileName, std::ios::binary);
    if (!in)
        return fail("cannot open the file");
    // Lines are collected up to one character beyond the limit, so an overlong line is known
    // as such without holding it whole.
    const size_t keep = static_cast<size_t>(LineParser::c_iMaxLineLength) + 2;
    std::string line;
    size_t fullLength = 0;
    int lineNumber = 0;
    auto deliver = [&] {
        size_t length = fullLength;
        // A CR before the LF belongs to the line end.
        if (length <= line.size() && length > 0 && line[length - 1] == '\r')
            --length;
        // An overlong line is cut short here but still longer than the limit, so it is refused.
        const LineParser::LineRep rep =
            LineParser::ParseLine(line.data(), std::min(length, line.size()), ++lineNumber);
        if (m_callback)
            m_callback(rep);
        line.clear();
        fullLength = 0;
    };
    char buffer[4096];
    // A file that grows while it is read is cut at the limit, too.
    uint64_t total = 0;
    while (in.read(buffer, sizeof buffer) || in.gcount() > 0) {
        if (cancelled())
            return fail("cancelled");
        const std::streamsize n = in.gcount();
        total += static_cast<uint64_t>(n);
        if (total > c_uMaxFileBytes)
            return fail("larger than the table limit");
        for (std::streamsize k = 0; k < n; ++k) {
            const char c = buffer[k];
            if (c == '\n') {
                if (cancelled())
                    return fail("cancelled");
                deliver();
                continue;
            }
            ++fullLength;
            if (line.size() < keep)
                line.push_back(c);
        }
    }
    if (in.bad())
        return fail("cannot read the file");
    if (fullLength > 0)
        deliver();  // the last line without a line end
    return true;
}
