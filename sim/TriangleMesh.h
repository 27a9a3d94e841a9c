// A triangle mesh in the disc frame (millimetres; z points down into the disc, so a model
// standing on the plate has z <= 0). Triangles wind counter-clockwise seen from outside.
#pragma once

#include "Geometry.h"

#include <array>
#include <cstdint>
#include <vector>

namespace Sim {

struct TriangleMesh {
    std::vector<CbVector3f> vertices;
    std::vector<std::array<uint32_t, 3>> triangles;

    bool IsEmpty() const { return triangles.empty(); }
    // Adds the other mesh's vertices and triangles (a union for ray casting: the first surface
    // a ray meets is on the union's boundary, so closed parts may overlap).
    void Append(const TriangleMesh& other);
    // Moves every vertex through `m` (homogeneous divide).
    void Transform(const CbMatrix4Rf& m);
    CyBoundingBox3D Bounds() const;
};

}  // namespace Sim
