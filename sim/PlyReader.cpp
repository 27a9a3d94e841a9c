// PLY import: "ply", a "format" line, "element" lines each followed by their "property" lines,
// "end_header", then the elements' entries in the order declared.
#include "PlyReader.h"

#include "StlReader.h"

#include <cctype>
#include <charconv>
#include <cmath>
#include <cstring>

namespace Sim {

namespace {
// Bytes and kind of a PLY scalar type, or size 0 when the name is none.
std::pair<int, char> scalarType(const std::string& name) {
    static const struct {
        const char* name;
        int size;
        char kind;
    } c_types[] = {{"char", 1, 'i'},  {"int8", 1, 'i'},    {"uchar", 1, 'u'},  {"uint8", 1, 'u'},
                   {"short", 2, 'i'}, {"int16", 2, 'i'},   {"ushort", 2, 'u'}, {"uint16", 2, 'u'},
                   {"int", 4, 'i'},   {"int32", 4, 'i'},   {"uint", 4, 'u'},   {"uint32", 4, 'u'},
                   {"float", 4, 'f'}, {"float32", 4, 'f'}, {"double", 8, 'f'}, {"float64", 8, 'f'}};
    for (const auto& t : c_types)
        if (name == t.name)
            return {t.size, t.kind};
    return {0, 'f'};
}

std::vector<std::string> wordsOf(std::string_view line) {
    std::vector<std::string> words;
    size_t at = 0;
    while (at < line.size()) {
        while (at < line.size() && std::isspace(static_cast<unsigned char>(line[at])))
            ++at;
        const size_t start = at;
        while (at < line.size() && !std::isspace(static_cast<unsigned char>(line[at])))
            ++at;
        if (at > start)
            words.emplace_back(line.substr(start, at - start));
    }
    return words;
}

// A count or vertex index must be a whole number from 0 on.
bool isIndex(double v) {
    return v >= 0 && v < 4294967296.0 && v == std::floor(v);
}
}  // namespace

bool PlyReader::fail(std::string message) {
    m_error = "not a readable ply file: " + std::move(message);
    return false;
}

bool PlyReader::Parse(std::string_view bytes, TriangleMesh& mesh) {
    mesh = {};
    m_error.clear();
    m_format = NEFormat::eNone;
    m_elements.clear();
    size_t bodyStart = 0;
    if (!parseHeader(bytes, bodyStart) || !readBody(bytes.substr(bodyStart), mesh)) {
        mesh = {};
        return false;
    }
    return true;
}

bool PlyReader::parseHeader(std::string_view bytes, size_t& bodyStart) {
    size_t at = 0;
    for (int lineNumber = 1;; ++lineNumber) {
        const size_t end = bytes.find('\n', at);
        if (end == std::string_view::npos)
            return fail(lineNumber == 1 ? "it does not begin with a 'ply' line"
                                        : "its header has no 'end_header' line");
        const std::vector<std::string> words = wordsOf(bytes.substr(at, end - at));
        at = end + 1;
        if (lineNumber == 1) {
            if (words != std::vector<std::string>{"ply"})
                return fail("it does not begin with a 'ply' line");
            continue;
        }
        if (words == std::vector<std::string>{"end_header"})
            break;
        if (!parseHeaderLine(words, lineNumber))
            return false;
    }
    if (m_format == NEFormat::eNone)
        return fail("its header has no 'format' line");
    bodyStart = at;
    return true;
}

bool PlyReader::parseHeaderLine(const std::vector<std::string>& words, int lineNumber) {
    const std::string where = "header line " + std::to_string(lineNumber) + ": ";
    if (words.empty() || words[0] == "comment" || words[0] == "obj_info")
        return true;
    if (words[0] == "format") {
        const std::string name = words.size() == 3 ? words[1] : std::string();
        m_format = name == "ascii"                  ? NEFormat::eAscii
                   : name == "binary_little_endian" ? NEFormat::eLittleEndian
                   : name == "binary_big_endian"    ? NEFormat::eBigEndian
                                                    : NEFormat::eNone;
        if (m_format == NEFormat::eNone)
            return fail(where + "unknown format");
        return true;
    }
    if (words[0] == "element") {
        NSElement element;
        const std::string count = words.size() == 3 ? words[2] : std::string();
        if (std::from_chars(count.data(), count.data() + count.size(), element.count).ptr !=
                count.data() + count.size() ||
            count.empty())
            return fail(where + "an element needs a name and a count");
        element.name = words[1];
        m_elements.push_back(std::move(element));
        return true;
    }
    if (words[0] == "property" && !m_elements.empty()) {
        NSProperty property;
        const bool list = words.size() == 5 && words[1] == "list";
        if (!list && words.size() != 3)
            return fail(where + "a property needs a type and a name");
        const auto [size, kind] = scalarType(words[list ? 3 : 1]);
        property.size = size, property.kind = kind, property.name = words.back();
        if (list) {
            const auto [countSize, countKind] = scalarType(words[2]);
            property.countSize = countKind == 'f' ? 0 : countSize;  // a count is a whole number
            if (property.countSize == 0)
                return fail(where + "a list's count needs an integer type");
        }
        if (size == 0)
            return fail(where + "unknown property type");
        m_elements.back().properties.push_back(std::move(property));
        return true;
    }
    return fail(where + QuoteForMessage(words[0]) + " is not understood");
}

bool PlyReader::readValue(std::string_view body, size_t& at, int size, char kind, double& value) {
    if (m_format == NEFormat::eAscii) {
        while (at < body.size() && std::isspace(static_cast<unsigned char>(body[at])))
            ++at;
        const char* first = body.data() + at;
        const auto [end, error] = std::from_chars(first, body.data() + body.size(), value);
        at += static_cast<size_t>(end - first);
        return error == std::errc() &&
               (at == body.size() || std::isspace(static_cast<unsigned char>(body[at])));
    }
    if (body.size() - at < static_cast<size_t>(size))
        return false;
    unsigned char raw[8];
    std::memcpy(raw, body.data() + at, static_cast<size_t>(size));
    at += static_cast<size_t>(size);
    if (m_format == NEFormat::eBigEndian)  // every host we build for is little-endian
        for (int i = 0; i < size / 2; ++i)
            std::swap(raw[i], raw[size - 1 - i]);
    uint64_t bits = 0;
    std::memcpy(&bits, raw, static_cast<size_t>(size));
    if (kind == 'f') {
        float f;
        double d;
        size == 4 ? (std::memcpy(&f, raw, 4), value = f) : (std::memcpy(&d, raw, 8), value = d);
    } else if (kind == 'u') {
        value = static_cast<double>(bits);
    } else {
        const uint64_t sign = uint64_t{1} << (8 * size - 1);
        value = static_cast<double>(static_cast<int64_t>((bits ^ sign) - sign));
    }
    return true;
}

bool PlyReader::readBody(std::string_view body, TriangleMesh& mesh) {
    const NSElement* vertices = nullptr;
    int axis[3] = {-1, -1, -1};
    for (const NSElement& element : m_elements) {
        // Each entry takes at least a byte per value, so a count the file cannot hold is refused
        // before anything is allocated or looped over.
        const uint64_t least = element.properties.size();
        if (least > 0 && element.count > body.size() / least)
            return fail("element " + QuoteForMessage(element.name) + " claims " +
                        std::to_string(element.count) + " entries, more than the file holds");
        if (element.name != "vertex" || vertices)
            continue;
        vertices = &element;
        for (size_t p = 0; p < element.properties.size(); ++p)
            for (int a = 0; a < 3; ++a)
                if (element.properties[p].name == std::string(1, char('x' + a)) &&
                    element.properties[p].countSize == 0)
                    axis[a] = static_cast<int>(p);
    }
    if (!vertices || axis[0] < 0 || axis[1] < 0 || axis[2] < 0)
        return fail("no 'vertex' element with x, y and z");
    mesh.vertices.reserve(static_cast<size_t>(vertices->count));
    size_t at = 0;
    std::vector<double> values;
    for (const NSElement& element : m_elements) {
        const bool isVertex = &element == vertices, isFace = element.name == "face";
        for (uint64_t entry = 0; entry < element.count && !element.properties.empty(); ++entry) {
            const auto refuse = [&](const char* what) {
                return fail("element " + QuoteForMessage(element.name) + " " + std::to_string(entry) + what);
            };
            CbVector3f point;
            for (size_t p = 0; p < element.properties.size(); ++p) {
                const NSProperty& property = element.properties[p];
                double value = 0;
                if (!readValue(body, at, property.countSize ? property.countSize : property.size,
                               property.countSize ? 'u' : property.kind, value))
                    return refuse(" is cut short or not a number");
                for (int a = 0; a < 3; ++a)
                    if (isVertex && axis[a] == static_cast<int>(p))
                        (a == 0 ? point.x : a == 1 ? point.y : point.z) = static_cast<float>(value);
                if (!property.countSize)
                    continue;
                if (!isIndex(value) || value > static_cast<double>(body.size() - at))
                    return refuse(" has a list longer than the file holds");
                values.assign(static_cast<size_t>(value), 0.0);
                for (double& v : values)
                    if (!readValue(body, at, property.size, property.kind, v))
                        return refuse(" is cut short or not a number");
                const bool corners = property.name == "vertex_indices" || property.name == "vertex_index";
                for (size_t k = 2; isFace && corners && k < values.size(); ++k) {  // a fan
                    if (!isIndex(values[0]) || !isIndex(values[k - 1]) || !isIndex(values[k]))
                        return refuse(" names a vertex by no index");
                    mesh.triangles.push_back({static_cast<uint32_t>(values[0]),
                                              static_cast<uint32_t>(values[k - 1]),
                                              static_cast<uint32_t>(values[k])});
                }
            }
            if (isVertex)
                mesh.vertices.push_back(point);
        }
    }
    while (m_format == NEFormat::eAscii && at < body.size() &&
           std::isspace(static_cast<unsigned char>(body[at])))
        ++at;
    if (at != body.size())
        return fail(std::to_string(body.size() - at) + " bytes follow the last element");
    return checkGeometry(mesh);
}

bool PlyReader::checkGeometry(TriangleMesh& mesh) {
    for (const CbVector3f& v : mesh.vertices)
        if (!std::isfinite(v.x) || !std::isfinite(v.y) || !std::isfinite(v.z))
            return fail("a vertex coordinate is not a finite number");
    std::vector<std::array<uint32_t, 3>> kept;
    for (const auto& t : mesh.triangles) {
        if (t[0] >= mesh.vertices.size() || t[1] >= mesh.vertices.size() || t[2] >= mesh.vertices.size())
            return fail("a face names a vertex the file does not hold");
        const CbVector3f& o = mesh.vertices[t[0]];
        const CbVector3f n = (mesh.vertices[t[1]] - o).Cross(mesh.vertices[t[2]] - o);
        if (n.Dot(n) > 0)
            kept.push_back(t);  // zero-area triangles are of no use for ray casting
    }
    mesh.triangles = std::move(kept);
    if (mesh.triangles.empty())
        return fail("the model has no usable triangles");
    return true;
}

}  // namespace Sim
