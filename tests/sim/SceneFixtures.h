// Scenes whose recordings can be predicted in closed form: boxes and single quads, with the
// camera's rays and the box intersections computed independently of the scanner's ray casting.
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

// An axis-aligned box as a closed mesh, wound outwards.
inline Sim::TriangleMesh BoxMesh(const CbVector3f& lo, const CbVector3f& hi) {
    Sim::TriangleMesh m;
    for (int i = 0; i < 8; ++i)
        m.vertices.push_back({i & 1 ? hi.x : lo.x, i & 2 ? hi.y : lo.y, i & 4 ? hi.z : lo.z});
    m.triangles = {{0, 2, 1}, {1, 2, 3}, {4, 5, 6}, {5, 7, 6}, {0, 1, 4}, {1, 5, 4},
                   {2, 6, 3}, {3, 6, 7}, {0, 4, 2}, {2, 4, 6}, {1, 3, 5}, {3, 7, 5}};
    return m;
}

// A square of side `size` centred at `centre` with unit normal `normal` (two triangles).
inline Sim::TriangleMesh QuadMesh(const CbVector3f& centre, const CbVector3f& normal, float size) {
    const CbVector3f helper = std::fabs(normal.z) < 0.9f ? CbVector3f(0, 0, 1) : CbVector3f(1, 0, 0);
    const CbVector3f u = helper.Cross(normal).Normalized() * (0.5f * size);
    const CbVector3f v = normal.Cross(u);
    Sim::TriangleMesh m;
    m.vertices = {centre - u - v, centre + u - v, centre + u + v, centre - u + v};
    m.triangles = {{0, 1, 2}, {0, 2, 3}};
    return m;
}

struct BoxHit {
    double t;
    CbVector3f normal;  // outward normal of the face hit
};

// First intersection of a ray with a box (slab method, double precision); none when it misses
// or the box lies behind.
inline std::optional<BoxHit> IntersectBox(const CbVector3f& o, const CbVector3f& d, const CbVector3f& lo,
                                          const CbVector3f& hi) {
    double t0 = 0, t1 = std::numeric_limits<double>::infinity();
    int axis = -1;
    double sign = 0;
    for (int a = 0; a < 3; ++a) {
        if (d[a] == 0) {
            if (o[a] < lo[a] || o[a] > hi[a])
                return std::nullopt;
            continue;
        }
        double n = (lo[a] - o[a]) / static_cast<double>(d[a]), f = (hi[a] - o[a]) / static_cast<double>(d[a]);
        double enterSign = -1;
        if (n > f)
            std::swap(n, f), enterSign = 1;
        if (n > t0)
            t0 = n, axis = a, sign = enterSign;
        t1 = std::min(t1, f);
        if (t0 > t1)
            return std::nullopt;
    }
    if (axis < 0)
        return std::nullopt;  // the origin is inside
    CbVector3f normal;
    normal[axis] = static_cast<float>(sign);
    return BoxHit{t0, normal};
}

// The camera's ray of pixel (x, y) (through its centre) in the disc frame, from the camera
// model and the kinematics alone.
struct DiscRay {
    CbVector3f origin;
    CbVector3f direction;
};
inline DiscRay PixelRayOnDisc(const Sim::VirtualScanner& scanner, const Config& config, double x, double y) {
    const CbMatrix4Rf camToDisc = scanner.GetAxisChain().GetCamToDiscTransformation(config, false);
    double d[3];
    scanner.GetCamera().PixelRay(x + 0.5, y + 0.5, d);
    CCoordinate3<double> eye;
    scanner.GetCamera().GetEyePt(eye);
    return {camToDisc.TransformPoint(
                {static_cast<float>(eye.x), static_cast<float>(eye.y), static_cast<float>(eye.z)}),
            camToDisc.TransformDirection(
                {static_cast<float>(d[0]), static_cast<float>(d[1]), static_cast<float>(d[2])})};
}

inline CbVector3f EyeOnDisc(const CbMatrix4Rf& camToDisc, const ZoCAbstractCamCalib& pinhole) {
    CCoordinate3<double> eye;
    pinhole.GetEyePt(eye);
    return camToDisc.TransformPoint(
        {static_cast<float>(eye.x), static_cast<float>(eye.y), static_cast<float>(eye.z)});
}

// Angle in degrees between two unit vectors.
inline double AngleDeg(const CbVector3f& a, const CbVector3f& b) {
    return std::acos(std::clamp(static_cast<double>(a.Dot(b)), -1.0, 1.0)) * 180.0 / 3.14159265358979;
}

}  // namespace simtest
