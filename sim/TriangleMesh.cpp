// Triangle mesh operations.
#include "TriangleMesh.h"

namespace Sim {

void TriangleMesh::Append(const TriangleMesh& other) {
    const auto offset = static_cast<uint32_t>(vertices.size());
    vertices.insert(vertices.end(), other.vertices.begin(), other.vertices.end());
    triangles.reserve(triangles.size() + other.triangles.size());
    for (const auto& t : other.triangles)
        triangles.push_back({t[0] + offset, t[1] + offset, t[2] + offset});
}

void TriangleMesh::Transform(const CbMatrix4Rf& m) {
    for (CbVector3f& v : vertices)
        v = m.TransformPoint(v);
}

CyBoundingBox3D TriangleMesh::Bounds() const {
    CyBoundingBox3D box;
    for (const CbVector3f& v : vertices)
        box.Add(v);
    return box;
}

}  // namespace Sim
