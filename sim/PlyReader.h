// Reads a user's model from a PLY file: ASCII, binary little- or big-endian. The vertices' x, y
// and z and the faces' vertex lists are read (polygons as fans of triangles); every other element
// and property is skipped by its declared type. Every malformed input gives false and a message
// saying what is wrong, and nothing is allocated beyond what the file's size justifies: a damaged
// file must never hang or crash the program that reads it.
#pragma once

#include "TriangleMesh.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace Sim {

class PlyReader {
  public:
    // Parses the bytes of a PLY file into `mesh` (replaced; empty on failure).
    bool Parse(std::string_view bytes, TriangleMesh& mesh);
    const std::string& GetError() const { return m_error; }

  private:
    struct NSProperty {
        std::string name;
        int size = 0;       // bytes of a scalar, or of a list's items
        int countSize = 0;  // bytes of a list's count; 0 for a scalar
        char kind = 'f';    // 'i' signed, 'u' unsigned, 'f' floating; of the items for a list
    };
    struct NSElement {
        std::string name;
        uint64_t count = 0;
        std::vector<NSProperty> properties;
    };

    bool parseHeader(std::string_view bytes, size_t& bodyStart);
    bool parseHeaderLine(const std::vector<std::string>& words, int lineNumber);
    bool readBody(std::string_view body, TriangleMesh& mesh);
    bool readValue(std::string_view body, size_t& at, int size, char kind, double& value);
    bool checkGeometry(TriangleMesh& mesh);
    bool fail(std::string message);

    std::string m_error;
    enum class NEFormat { eNone, eAscii, eLittleEndian, eBigEndian };
    NEFormat m_format = NEFormat::eNone;
    std::vector<NSElement> m_elements;
};

}  // namespace Sim
