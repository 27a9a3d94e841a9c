// Scenes of boxes whose ray hits are computed independently of the scanner's ray casting.
#pragma once

#include "AxisChain.h"
#include "TriangleMesh.h"
#include "VirtualScanner.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <optional>

namespace simtest {

using Config = ZoCOrbal2AxisChain::NCJointConfiguration;

inline Config MakeConfig(float l1, float l2, float l3, float l4, float l5) {
    Config c;
    c.Set(l1, l2, l3, l4, l5);
    return c;
}

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

// First hit of a ray on a box (slab method); none when it misses, lies behind or starts inside.
inline std::optional<BoxHit> IntersectBox(const CbVector3f& o, const CbVector3f& d, const CbVector3f& lo,
                                          const CbVector3f& hi) {
    double t0 = 0, t1 = std::numeric_limits<double>::infinity();
    int axis = -1;
    float sign = 0;
    for (int a = 0; a < 3; ++a) {
        if (d[a] == 0) {
            if (o[a] < lo[a] || o[a] > hi[a])
                return std::nullopt;
            continue;
        }
        double n = (lo[a] - o[a]) / static_cast<double>(d[a]), f = (hi[a] - o[a]) / static_cast<double>(d[a]);
        float enterSign = -1;
        if (n > f)
            std::swap(n, f), enterSign = 1;
        if (n > t0)
            t0 = n, axis = a, sign = enterSign;
        t1 = std::min(t1, f);
        if (t0 > t1)
            return std::nullopt;
    }
    if (axis < 0)
        return std::nullopt;
    CbVector3f normal;
    normal[axis] = sign;
    return BoxHit{t0, normal};
}

}  // namespace simtest
