// Solids of revolution, sweeps and tooth crowns.
#include "MeshPrimitives.h"

#include <algorithm>
#include <cmath>

namespace Sim {

namespace {
constexpr float c_fPi = 3.14159265358979f;

// Two unit vectors perpendicular to `axis` and to each other, (u, v, axis) right-handed.
void perpendicularPair(const CbVector3f& axis, CbVector3f& u, CbVector3f& v) {
    const CbVector3f helper = std::fabs(axis.x) < 0.9f ? CbVector3f(1, 0, 0) : CbVector3f(0, 1, 0);
    u = helper.Cross(axis).Normalized();
    v = axis.Cross(u);
}

uint32_t addVertex(TriangleMesh& mesh, const CbVector3f& p) {
    mesh.vertices.push_back(p);
    return static_cast<uint32_t>(mesh.vertices.size() - 1);
}

// Signed power that keeps the sign of the base: the superellipsoid's shape function.
float signedPow(float x, float e) {
    return std::copysign(std::pow(std::fabs(x), e), x);
}
}  // namespace

TriangleMesh Lathe(const std::vector<ProfilePoint>& profile, const CbVector3f& base, const CbVector3f& axisIn,
                   int segments) {
    TriangleMesh mesh;
    if (profile.size() < 3 || segments < 3)
        return mesh;
    const CbVector3f axis = axisIn.Normalized();
    CbVector3f u, v;
    perpendicularPair(axis, u, v);
    // One ring of vertices per profile point; a point on the axis is a single pole vertex.
    std::vector<std::vector<uint32_t>> rings;
    for (const ProfilePoint& p : profile) {
        std::vector<uint32_t> ring;
        const CbVector3f centre = base + axis * p.h;
        if (p.a <= 0) {
            ring.assign(static_cast<size_t>(segments), addVertex(mesh, centre));
        } else {
            for (int k = 0; k < segments; ++k) {
                const float phi = 2 * c_fPi * static_cast<float>(k) / static_cast<float>(segments);
                ring.push_back(addVertex(mesh, centre + (u * std::cos(phi) + v * std::sin(phi)) * p.a));
            }
        }
        rings.push_back(std::move(ring));
    }
    for (size_t i = 0; i + 1 < rings.size(); ++i)
        for (int k = 0; k < segments; ++k) {
            const size_t k1 = static_cast<size_t>((k + 1) % segments), k0 = static_cast<size_t>(k);
            const uint32_t a = rings[i][k0], b = rings[i][k1], c = rings[i + 1][k1], d = rings[i + 1][k0];
            // Skip the degenerate halves of quads that touch a pole.
            if (a != b)
                mesh.triangles.push_back({a, b, c});
            if (c != d)
                mesh.triangles.push_back({a, c, d});
        }
    return mesh;
}

std::vector<SweepStation> ArchStations(const ArchCurve& arch, float s0, float s1, int count) {
    std::vector<SweepStation> stations;
    count = std::max(count, 2);
    for (int i = 0; i < count; ++i) {
        const float s = s0 + (s1 - s0) * static_cast<float>(i) / static_cast<float>(count - 1);
        stations.push_back({arch.Position(s), arch.Tangent(s), arch.Outward(s), s});
    }
    return stations;
}

TriangleMesh Sweep(const std::vector<SweepStation>& stations, const CrossSection& section) {
    TriangleMesh mesh;
    if (stations.size() < 2)
        return mesh;
    size_t width = 0;
    std::vector<std::vector<uint32_t>> rings;
    for (const SweepStation& st : stations) {
        const std::vector<ProfilePoint> points = section(st.s);
        if (rings.empty())
            width = points.size();
        if (points.size() != width || width < 3)
            return {};
        std::vector<uint32_t> ring;
        for (const ProfilePoint& p : points)
            ring.push_back(addVertex(mesh, st.origin + st.outward * p.a + Up() * p.h));
        rings.push_back(std::move(ring));
    }
    for (size_t i = 0; i + 1 < rings.size(); ++i)
        for (size_t k = 0; k < width; ++k) {
            const size_t k1 = (k + 1) % width;
            mesh.triangles.push_back({rings[i][k], rings[i + 1][k1], rings[i + 1][k]});
            mesh.triangles.push_back({rings[i][k], rings[i][k1], rings[i + 1][k1]});
        }
    // Caps: fans from the centroid of the end rings (the cross-section is convex).
    for (const bool start : {true, false}) {
        const std::vector<uint32_t>& ring = start ? rings.front() : rings.back();
        CbVector3f centroid;
        for (uint32_t i : ring)
            centroid += mesh.vertices[i];
        const uint32_t c = addVertex(mesh, centroid * (1.0f / static_cast<float>(width)));
        for (size_t k = 0; k < width; ++k) {
            const uint32_t a = ring[k], b = ring[(k + 1) % width];
            mesh.triangles.push_back(start ? std::array<uint32_t, 3>{c, b, a}
                                           : std::array<uint32_t, 3>{c, a, b});
        }
    }
    return mesh;
}

TriangleMesh ToothCrown(const CbVector3f& centre, const CbVector3f& tangent, const CbVector3f& outward,
                        const CbVector3f& halfAxes, float roundness, int segments) {
    // Latitude runs from the top pole (the tip) to the bottom pole; both are single vertices.
    TriangleMesh mesh;
    segments = std::max(segments, 6);
    const int rings = segments / 2;
    const CbVector3f up = Up();
    const uint32_t top = addVertex(mesh, centre + up * halfAxes.z);
    std::vector<std::vector<uint32_t>> ringIds;
    for (int i = 1; i < rings; ++i) {
        const float lat = c_fPi / 2 - c_fPi * static_cast<float>(i) / static_cast<float>(rings);
        const float cl = signedPow(std::cos(lat), roundness), sl = signedPow(std::sin(lat), roundness);
        std::vector<uint32_t> ring;
        for (int k = 0; k < segments; ++k) {
            const float lon = 2 * c_fPi * static_cast<float>(k) / static_cast<float>(segments);
            const float a = halfAxes.x * cl * signedPow(std::cos(lon), roundness);
            const float b = halfAxes.y * cl * signedPow(std::sin(lon), roundness);
            ring.push_back(addVertex(mesh, centre + tangent * a + outward * b + up * (halfAxes.z * sl)));
        }
        ringIds.push_back(std::move(ring));
    }
    const uint32_t bottom = addVertex(mesh, centre - up * halfAxes.z);
    const size_t n = static_cast<size_t>(segments);
    for (size_t k = 0; k < n; ++k)
        mesh.triangles.push_back({top, ringIds.front()[k], ringIds.front()[(k + 1) % n]});
    for (size_t i = 0; i + 1 < ringIds.size(); ++i)
        for (size_t k = 0; k < n; ++k) {
            const size_t k1 = (k + 1) % n;
            mesh.triangles.push_back({ringIds[i][k], ringIds[i + 1][k1], ringIds[i][k1]});
            mesh.triangles.push_back({ringIds[i][k], ringIds[i + 1][k], ringIds[i + 1][k1]});
        }
    for (size_t k = 0; k < n; ++k)
        mesh.triangles.push_back({bottom, ringIds.back()[(k + 1) % n], ringIds.back()[k]});
    return mesh;
}

}  // namespace Sim
