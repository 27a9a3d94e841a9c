// STL import: binary (80-byte header, triangle count, 50 bytes per triangle) and ASCII
// ("solid ... facet normal ... outer loop vertex x y z ... endloop endfacet ... endsolid").
#include "StlReader.h"

#include <cctype>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <system_error>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace Sim {

namespace {
constexpr size_t c_uHeaderBytes = 80;
constexpr size_t c_uTriangleBytes = 50;

float readFloat(const char* p) {
    float f;
    std::memcpy(&f, p, sizeof f);  // STL is little-endian, as is every host we build for
    return f;
}

// A whitespace-separated token reader over the ASCII text, tracking the line for messages.
class Tokens {
public:
    explicit Tokens(std::string_view text) : m_text(text) {}
    std::string_view Next() {
        while (m_pos < m_text.size() && std::isspace(static_cast<unsigned char>(m_text[m_pos]))) {
            if (m_text[m_pos] == '\n')
                ++m_line;
            ++m_pos;
        }
        const size_t start = m_pos;
        while (m_pos < m_text.size() && !std::isspace(static_cast<unsigned char>(m_text[m_pos])))
            ++m_pos;
        return m_text.substr(start, m_pos - start);
    }
    // Skips the rest of the current line (the solid's name).
    void SkipLine() {
        while (m_pos < m_text.size() && m_text[m_pos] != '\n')
            ++m_pos;
    }
    int Line() const { return m_line; }

private:
    std::string_view m_text;
    size_t m_pos = 0;
    int m_line = 1;
};

// Closes the descriptor when the reader is done with it, whatever way it leaves.
struct FileDescriptor {
    int fd;
    ~FileDescriptor() {
        if (fd >= 0)
            ::close(fd);
    }
};

bool parseNumber(std::string_view token, float& value) {
    const auto [end, ec] = std::from_chars(token.data(), token.data() + token.size(), value);
    return ec == std::errc() && end == token.data() + token.size();
}
}  // namespace

std::string EscapeForMessage(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (const char c : text) {
        const auto u = static_cast<unsigned char>(c);
        if (u < 0x20 || u >= 0x7F) {
            // Control bytes would move the user's cursor or ring the bell; bytes beyond ASCII
            // are most likely binary garbage, not a name.
            char hex[5];
            std::snprintf(hex, sizeof hex, "\\x%02X", u);
            out += hex;
        } else {
            out += c;
        }
    }
    return out;
}

std::string QuoteForMessage(std::string_view text) {
    std::string out(1, '\'');
    out += EscapeForMessage(text);
    out += '\'';
    return out;
}

bool StlReader::fail(std::string message) {
    m_error = std::move(message);
    return false;
}

bool StlReader::ReadFile(const std::string& path, TriangleMesh& mesh) {
    mesh = {};
    m_iDegenerate = 0;
    std::string bytes;
    if (!ReadBytes(path, bytes))
        return false;
    if (!Parse(bytes, mesh)) {
        m_error = QuoteForMessage(path) + ": " + m_error;
        return false;
    }
    return true;
}

bool StlReader::ReadBytes(const std::string& path, std::string& bytes) {
    bytes.clear();
    m_error.clear();
    const std::string name = QuoteForMessage(path);
    const auto prefixed = [&](const char* what) { return std::string(what) += name; };
    // Opened without blocking and checked on the descriptor itself: a FIFO would otherwise wait
    // for a writer for ever, and a device or a directory has no size to check.
    const FileDescriptor file{::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC)};
    if (file.fd < 0)
        return fail(errno == EISDIR ? name + " is a directory, not a file" : prefixed("cannot open "));
    struct stat info {};
    if (::fstat(file.fd, &info) != 0)
        return fail(prefixed("cannot read "));
    if (S_ISDIR(info.st_mode))
        return fail(name + " is a directory, not a file");
    if (!S_ISREG(info.st_mode))
        return fail(name + " is not a regular file");
    const auto size = static_cast<uint64_t>(info.st_size);
    if (size > c_uMaxFileBytes)
        return fail(name + " is larger than " + std::to_string(c_uMaxFileBytes >> 20) + " MB");
    bytes.assign(static_cast<size_t>(size), '\0');
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t got = ::read(file.fd, bytes.data() + done, bytes.size() - done);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            return fail(prefixed("cannot read "));
        done += static_cast<size_t>(got);
    }
    return true;
}

bool StlReader::Parse(std::string_view bytes, TriangleMesh& mesh) {
    mesh = {};
    m_error.clear();
    m_iDegenerate = 0;
    if (bytes.empty())
        return fail("the file is empty");
    // A binary file's size is fixed by its count. ASCII files begin with "solid", but so do
    // many binary headers, so the size decides first.
    if (bytes.size() >= c_uHeaderBytes + 4) {
        uint32_t count;
        std::memcpy(&count, bytes.data() + c_uHeaderBytes, sizeof count);
        if (bytes.size() == c_uHeaderBytes + 4 + static_cast<uint64_t>(count) * c_uTriangleBytes) {
            if (parseBinary(bytes, mesh))
                return true;
            mesh = {};
            return false;
        }
    }
    bool ok = false;
    if (bytes.substr(0, 5) == "solid")
        ok = parseAscii(bytes, mesh);
    else if (bytes.size() < c_uHeaderBytes + 4)
        ok = fail("too short for a binary STL file and not ASCII STL");
    else
        ok = parseBinary(bytes, mesh);
    if (!ok)
        mesh = {};  // nothing half-read reaches the caller
    return ok;
}

bool StlReader::parseBinary(std::string_view bytes, TriangleMesh& mesh) {
    uint32_t count;
    std::memcpy(&count, bytes.data() + c_uHeaderBytes, sizeof count);
    const uint64_t body = bytes.size() - c_uHeaderBytes - 4;
    const uint64_t available = body / c_uTriangleBytes;
    // The count is checked against the bytes that are there before anything is allocated.
    if (count > available)
        return fail("binary STL announces " + std::to_string(count) + " triangles but holds only " +
                    std::to_string(available));
    // Bytes after the last triangle mean the count or the file is not what it claims to be.
    if (body > static_cast<uint64_t>(count) * c_uTriangleBytes)
        return fail("binary STL of " + std::to_string(count) + " triangles has " +
                    std::to_string(body - static_cast<uint64_t>(count) * c_uTriangleBytes) +
                    " bytes after its last triangle");
    if (count == 0)
        return fail("the model has no triangles");
    mesh.vertices.reserve(static_cast<size_t>(count) * 3);
    mesh.triangles.reserve(count);
    const char* p = bytes.data() + c_uHeaderBytes + 4;
    for (uint32_t i = 0; i < count; ++i, p += c_uTriangleBytes) {
        CbVector3f corners[3];
        for (int c = 0; c < 3; ++c) {
            const char* v = p + 12 + 12 * c;  // after the facet normal
            corners[c] = {readFloat(v), readFloat(v + 4), readFloat(v + 8)};
        }
        if (!addTriangle(corners, mesh))
            return fail("triangle " + std::to_string(i) + ": " + m_error);
    }
    if (mesh.triangles.empty())
        return fail("every triangle of the model is degenerate");
    return true;
}

bool StlReader::parseAscii(std::string_view bytes, TriangleMesh& mesh) {
    Tokens tokens(bytes);
    tokens.Next();  // "solid"
    tokens.SkipLine();
    auto expect = [&](std::string_view word) {
        const std::string_view t = tokens.Next();
        if (t == word)
            return true;
        return fail("line " + std::to_string(tokens.Line()) + ": expected '" + std::string(word) +
                    "', found '" + EscapeForMessage(t.substr(0, 40)) + "'");
    };
    for (;;) {
        const std::string_view t = tokens.Next();
        if (t == "endsolid")
            break;
        if (t.empty())
            return fail("the file ends without 'endsolid'");
        if (t != "facet")
            return fail("line " + std::to_string(tokens.Line()) + ": expected 'facet', found '" +
                        EscapeForMessage(t.substr(0, 40)) + "'");
        if (!expect("normal"))
            return false;
        float unused;
        for (int k = 0; k < 3; ++k)
            if (!parseNumber(tokens.Next(), unused))
                return fail("line " + std::to_string(tokens.Line()) + ": malformed facet normal");
        if (!expect("outer") || !expect("loop"))
            return false;
        CbVector3f corners[3];
        for (CbVector3f& corner : corners) {
            if (!expect("vertex"))
                return false;
            for (int k = 0; k < 3; ++k)
                if (!parseNumber(tokens.Next(), corner[k]))
                    return fail("line " + std::to_string(tokens.Line()) + ": malformed vertex coordinate");
        }
        if (!expect("endloop") || !expect("endfacet"))
            return false;
        if (!addTriangle(corners, mesh))
            return fail("line " + std::to_string(tokens.Line()) + ": " + m_error);
    }
    if (mesh.triangles.empty())
        return fail("the model has no usable triangles");
    return true;
}

bool StlReader::addTriangle(const CbVector3f (&corners)[3], TriangleMesh& mesh) {
    for (const CbVector3f& c : corners)
        if (!std::isfinite(c.x) || !std::isfinite(c.y) || !std::isfinite(c.z))
            return fail("a vertex coordinate is not a finite number");
    const CbVector3f n = (corners[1] - corners[0]).Cross(corners[2] - corners[0]);
    if (!(n.Dot(n) > 0)) {
        ++m_iDegenerate;  // harmless but useless for ray casting
        return true;
    }
    const auto base = static_cast<uint32_t>(mesh.vertices.size());
    for (const CbVector3f& c : corners)
        mesh.vertices.push_back(c);
    mesh.triangles.push_back({base, base + 1, base + 2});
    return true;
}

}  // namespace Sim
