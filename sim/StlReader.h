// Reads a user's model from an STL file, binary or ASCII. Every malformed input gives false and
// a message saying what is wrong; nothing is allocated beyond what the file's size justifies.
#pragma once

#include "TriangleMesh.h"

#include <cstdint>
#include <string>
#include <string_view>

namespace Sim {

class StlReader {
public:
    // Files above this size are refused before they are read (a dental model has well under a
    // million triangles, about 50 MB in binary).
    static constexpr uint64_t c_uMaxFileBytes = 512ull << 20;

    // Reads `path` into `mesh` (replaced; empty on failure). Only regular files are read.
    bool ReadFile(const std::string& path, TriangleMesh& mesh);
    // Reads the bytes of `path` with the checks of ReadFile (regular file, size), not parsed.
    bool ReadBytes(const std::string& path, std::string& bytes);
    // Parses the bytes of an STL file.
    bool Parse(std::string_view bytes, TriangleMesh& mesh);
    const std::string& GetError() const { return m_error; }
    // Triangles with zero area that were dropped.
    int64_t GetDegenerateCount() const { return m_iDegenerate; }

private:
    bool parseBinary(std::string_view bytes, TriangleMesh& mesh);
    bool parseAscii(std::string_view bytes, TriangleMesh& mesh);
    bool addTriangle(const CbVector3f (&corners)[3], TriangleMesh& mesh);
    bool fail(std::string message);

    std::string m_error;
    int64_t m_iDegenerate = 0;
};

// The text with control bytes and bytes beyond ASCII written as \xNN, fit for a message.
std::string EscapeForMessage(std::string_view text);
// The escaped text in single quotes: how messages name a file.
std::string QuoteForMessage(std::string_view text);


}  // namespace Sim
