// Scenes of boxes whose ray hits are computed independently of the scanner's ray casting.
#pragma once

#include "AxisChain.h"
#include "TriangleMesh.h"
#include "VirtualScanner.h"

#include <algorithm>
#include <cmath>
#include <optional>

namespace simtest {

using Config = ZoCOrbal2AxisChain::NCJointConfiguration;

// A quarter of the device's pixels each way (same field of view: a pixel covers about 0.3 mm).
inline Sim::VirtualScannerOptions SmallImage() {
    Sim::VirtualScannerOptions options;
    options.width = 320;
    options.height = 256;
    return options;
}

// An axis-aligned box as a closed mesh, wound outwards.
inline Sim::TriangleMesh BoxMesh(const CbVector3f& lo, const CbVector3f& hi) {
    Sim::TriangleMesh m;
    for (int i = 0; i < 8; ++i)
        m.vertices.push_back({i & 1 ? hi.x : lo.x, i & 2 ? hi.y : lo.y, i & 4 ? hi.z : lo.z});
    m.triangles = {{0, 2, 1}, {1, 2, 3}, {4, 5, 6}, {5, 7, 6}, {0, 1, 4}, {1, 5, 4},
                   {2, 6, 3}, {3, 6, 7}, {0, 4, 2}, {2, 4, 6}, {1, 3, 5}, {3, 7, 5}};
    return m;
}

// Signed volume by the divergence theorem: positive when the triangles face outwards.
inline double SignedVolume(const Sim::TriangleMesh& mesh) {
    double v = 0;
    for (const auto& t : mesh.triangles)
        v += mesh.vertices[t[0]].Dot(mesh.vertices[t[1]].Cross(mesh.vertices[t[2]])) / 6.0;
    return v;
}

struct BoxHit {
    double t;
    CbVector3f normal;  // outward normal of the face hit
};

// First hit of a ray from outside on a box: the nearest face plane crossed ahead within the face.
inline std::optional<BoxHit> IntersectBox(const CbVector3f& o, const CbVector3f& d, const CbVector3f& lo,
                                          const CbVector3f& hi) {
    std::optional<BoxHit> first;
    for (int a = 0; a < 3; ++a)
        for (const float side : {-1.0f, 1.0f}) {
            const double t = ((side < 0 ? lo : hi)[a] - o[a]) / static_cast<double>(d[a]);
            const CbVector3f p = o + d * static_cast<float>(t);
            const int b = (a + 1) % 3, c = (a + 2) % 3;
            if (!(t > 0) || (first && first->t <= t) ||
                !(p[b] >= lo[b] && p[b] <= hi[b] && p[c] >= lo[c] && p[c] <= hi[c]))
                continue;
            first = BoxHit{t, CbVector3f()};
            first->normal[a] = side;
        }
    return first;
}

}  // namespace simtest
