#include "GroundTruth.h"

#include <embree3/rtcore.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <numeric>
#include <random>

namespace Sim {

namespace {
constexpr float c_fPi = 3.14159265358979f;
constexpr int c_iCellBias = 1 << 20;  // cell indices are stored shifted to stay positive

uint64_t hashKey(uint64_t key) {
    key ^= key >> 33;
    key *= 0xff51afd7ed558ccdull;
    key ^= key >> 33;
    return key;
}

// Clamped far inside int's range: a sample that far off only shares an edge cell.
int cellIndex(float coordinate, float cell) {
    const float limit = static_cast<float>(c_iCellBias - 2);
    return static_cast<int>(std::floor(std::clamp(coordinate / cell, -limit, limit)));
}

// The closed parts of a mesh, each with a ray-casting scene to tell whether a point lies inside
// it (odd number of crossings along a ray).
class ClosedParts {
public:
    explicit ClosedParts(const TriangleMesh& mesh) : m_partOfTriangle(mesh.triangles.size(), -1) {
        // Parts: triangles connected through shared vertex indices.
        std::vector<uint32_t> parent(mesh.vertices.size());
        std::iota(parent.begin(), parent.end(), 0u);
        auto root = [&](uint32_t v) {
            while (parent[v] != v)
                v = parent[v] = parent[parent[v]];
            return v;
        };
        for (const auto& t : mesh.triangles)
            for (int k = 1; k < 3; ++k)
                parent[root(t[k])] = root(t[0]);
        std::vector<int> partOfRoot(mesh.vertices.size(), -1);
        std::vector<std::vector<uint32_t>> members;
        for (size_t i = 0; i < mesh.triangles.size(); ++i) {
            int& part = partOfRoot[root(mesh.triangles[i][0])];
            if (part < 0) {
                part = static_cast<int>(members.size());
                members.emplace_back();
            }
            members[static_cast<size_t>(part)].push_back(static_cast<uint32_t>(i));
        }
        // Only closed parts enclose anything; with fewer than two, nothing can hide inside another.
        std::vector<int> closedIndex(members.size(), -1);
        size_t closedCount = 0;
        for (size_t p = 0; p < members.size(); ++p)
            if (isClosed(mesh, members[p]))
                closedIndex[p] = static_cast<int>(closedCount++);
        if (closedCount < 2)
            return;
        m_device = rtcNewDevice("threads=1");
        if (!m_device)
            return;
        for (size_t p = 0; p < members.size(); ++p) {
            if (closedIndex[p] < 0)
                continue;
            for (uint32_t t : members[p])
                m_partOfTriangle[t] = closedIndex[p];
            m_parts.push_back(buildPart(mesh, members[p]));
        }
    }
    ~ClosedParts() {
        for (const Part& p : m_parts)
            if (p.scene)
                rtcReleaseScene(p.scene);
        if (m_device)
            rtcReleaseDevice(m_device);
    }
    ClosedParts(const ClosedParts&) = delete;
    ClosedParts& operator=(const ClosedParts&) = delete;

    // Whether `p`, on the surface of triangle `triangle`, lies inside a closed part other than
    // the triangle's own.
    bool InsideAnotherPart(const CbVector3f& p, size_t triangle) const {
        const int own = m_partOfTriangle[triangle];
        for (size_t k = 0; k < m_parts.size(); ++k) {
            const Part& part = m_parts[k];
            if (static_cast<int>(k) == own || !part.scene)
                continue;
            const CbVector3f &lo = part.box.GetMin(), &hi = part.box.GetMax();
            if (p.x < lo.x || p.y < lo.y || p.z < lo.z || p.x > hi.x || p.y > hi.y || p.z > hi.z)
                continue;
            if (crossings(part.scene, p) % 2 == 1)
                return true;
        }
        return false;
    }

private:
    struct Part {
        RTCScene scene = nullptr;
        CyBoundingBox3D box;
    };

    static bool isClosed(const TriangleMesh& mesh, const std::vector<uint32_t>& triangles) {
        std::vector<std::pair<uint32_t, uint32_t>> edges;
        edges.reserve(triangles.size() * 3);
        for (uint32_t t : triangles)
            for (int k = 0; k < 3; ++k) {
                const uint32_t a = mesh.triangles[t][k], b = mesh.triangles[t][(k + 1) % 3];
                edges.emplace_back(std::min(a, b), std::max(a, b));
            }
        std::sort(edges.begin(), edges.end());
        for (size_t i = 0; i < edges.size(); i += 2)
            if (i + 1 >= edges.size() || edges[i] != edges[i + 1] || (i + 2 < edges.size() && edges[i + 2] == edges[i]))
                return false;
        return true;
    }

    Part buildPart(const TriangleMesh& mesh, const std::vector<uint32_t>& triangles) const {
        Part part;
        RTCGeometry geometry = rtcNewGeometry(m_device, RTC_GEOMETRY_TYPE_TRIANGLE);
        auto* vertices = static_cast<float*>(rtcSetNewGeometryBuffer(
            geometry, RTC_BUFFER_TYPE_VERTEX, 0, RTC_FORMAT_FLOAT3, 3 * sizeof(float), 3 * triangles.size()));
        auto* indices = static_cast<uint32_t*>(rtcSetNewGeometryBuffer(
            geometry, RTC_BUFFER_TYPE_INDEX, 0, RTC_FORMAT_UINT3, 3 * sizeof(uint32_t), triangles.size()));
        if (!vertices || !indices) {
            rtcReleaseGeometry(geometry);
            return part;
        }
        for (size_t i = 0; i < triangles.size(); ++i)
            for (int k = 0; k < 3; ++k) {
                const CbVector3f& v = mesh.vertices[mesh.triangles[triangles[i]][k]];
                part.box.Add(v);
                vertices[9 * i + 3 * k] = v.x, vertices[9 * i + 3 * k + 1] = v.y, vertices[9 * i + 3 * k + 2] = v.z;
                indices[3 * i + k] = static_cast<uint32_t>(3 * i + k);
            }
        rtcCommitGeometry(geometry);
        part.scene = rtcNewScene(m_device);
        rtcAttachGeometry(part.scene, geometry);
        rtcReleaseGeometry(geometry);
        rtcCommitScene(part.scene);
        return part;
    }

    // Crossings of a ray from `p` in a direction no model's faces line up with.
    static int crossings(RTCScene scene, const CbVector3f& p) {
        const float d[3] = {0.3714f, 0.5571f, -0.7428f};
        RTCIntersectContext context;
        rtcInitIntersectContext(&context);
        int count = 0;
        float start = 0;
        for (int guard = 0; guard < 256; ++guard) {
            RTCRayHit hit{};
            hit.ray.org_x = p.x, hit.ray.org_y = p.y, hit.ray.org_z = p.z;
            hit.ray.dir_x = d[0], hit.ray.dir_y = d[1], hit.ray.dir_z = d[2];
            hit.ray.tnear = start;
            hit.ray.tfar = std::numeric_limits<float>::infinity();
            hit.ray.mask = 0xFFFFFFFFu;
            hit.hit.geomID = RTC_INVALID_GEOMETRY_ID;
            rtcIntersect1(scene, &context, &hit);
            if (hit.hit.geomID == RTC_INVALID_GEOMETRY_ID)
                break;
            ++count;
            start = hit.ray.tfar + 1e-4f;
        }
        return count;
    }

    RTCDevice m_device = nullptr;
    std::vector<Part> m_parts;
    std::vector<int> m_partOfTriangle;  // index into m_parts, -1 for open parts
};
// The whole model as one ray-casting scene, to tell whether light from above the plate can reach
// a point of its surface at all: a mesh open underneath (crowns set into a gum shell that was cut
// off, segments sawn apart) encloses surface between itself and the plate that no view reaches.
class Enclosure {
public:
    explicit Enclosure(const TriangleMesh& mesh) {
        if (mesh.triangles.empty() || !(m_device = rtcNewDevice("threads=1")))
            return;
        RTCGeometry geometry = rtcNewGeometry(m_device, RTC_GEOMETRY_TYPE_TRIANGLE);
        auto* vertices = static_cast<float*>(rtcSetNewGeometryBuffer(
            geometry, RTC_BUFFER_TYPE_VERTEX, 0, RTC_FORMAT_FLOAT3, 3 * sizeof(float), mesh.vertices.size()));
        auto* indices = static_cast<uint32_t*>(rtcSetNewGeometryBuffer(
            geometry, RTC_BUFFER_TYPE_INDEX, 0, RTC_FORMAT_UINT3, 3 * sizeof(uint32_t), mesh.triangles.size()));
        if (!vertices || !indices) {
            rtcReleaseGeometry(geometry);
            return;
        }
        for (size_t i = 0; i < mesh.vertices.size(); ++i)
            for (int k = 0; k < 3; ++k)
                vertices[3 * i + k] = mesh.vertices[i][k];
        for (size_t i = 0; i < mesh.triangles.size(); ++i)
            for (int k = 0; k < 3; ++k)
                indices[3 * i + k] = mesh.triangles[i][k];
        rtcCommitGeometry(geometry);
        m_scene = rtcNewScene(m_device);
        rtcAttachGeometry(m_scene, geometry);
        rtcReleaseGeometry(geometry);
        rtcCommitScene(m_scene);
        // Straight up, and eight directions around it at 55 and at 20 degrees above the plate.
        m_directions.push_back({0, 0, -1});
        for (float elevation : {55.0f, 20.0f})
            for (int k = 0; k < 8; ++k) {
                const float e = elevation * c_fPi / 180.0f, a = static_cast<float>(k) * c_fPi / 4;
                m_directions.push_back({std::cos(e) * std::cos(a), std::cos(e) * std::sin(a), -std::sin(e)});
            }
    }
    ~Enclosure() {
        if (m_scene)
            rtcReleaseScene(m_scene);
        if (m_device)
            rtcReleaseDevice(m_device);
    }
    Enclosure(const Enclosure&) = delete;
    Enclosure& operator=(const Enclosure&) = delete;

    // True when every one of the directions above the plate that leaves the surface at `p`
    // (outward unit normal `n`) runs into the model: no view from above can see the point.
    bool Enclosed(const CbVector3f& p, const CbVector3f& n) const {
        if (!m_scene)
            return false;
        RTCIntersectContext context;
        rtcInitIntersectContext(&context);
        for (const CbVector3f& d : m_directions) {
            if (d.Dot(n) <= 0.05f)
                continue;  // into the material, or grazing it
            RTCRay ray{};
            const CbVector3f o = p + n * 1e-3f;
            ray.org_x = o.x, ray.org_y = o.y, ray.org_z = o.z;
            ray.dir_x = d.x, ray.dir_y = d.y, ray.dir_z = d.z;
            ray.tnear = 1e-3f;
            ray.tfar = std::numeric_limits<float>::infinity();
            ray.mask = 0xFFFFFFFFu;
            rtcOccluded1(m_scene, &context, &ray);
            if (ray.tfar >= 0)
                return false;  // this one escapes
        }
        return true;
    }

private:
    RTCDevice m_device = nullptr;
    RTCScene m_scene = nullptr;
    std::vector<CbVector3f> m_directions;
};
}  // namespace

uint64_t GroundTruth::cellKey(int x, int y, int z) const {
    auto part = [](int v) { return static_cast<uint64_t>(v + c_iCellBias) & 0x1FFFFF; };
    return (part(x) << 42) | (part(y) << 21) | part(z);
}

GroundTruth::GroundTruth(const TriangleMesh& model, const GroundTruthOptions& options) : m_options(options) {
    std::mt19937_64 random(options.seed);
    std::uniform_real_distribution<float> unit(0.0f, 1.0f);
    // Down is +z in the disc frame; a face points more than maxDownDeg below the horizontal
    // when its normal's down component exceeds sin(maxDownDeg).
    const float downLimit = std::sin(options.maxDownDeg * c_fPi / 180.0f);
    const float perSample = options.spacing * options.spacing;
    const ClosedParts parts(model);
    const Enclosure enclosure(model);
    std::vector<Sample> samples;
    for (size_t ti = 0; ti < model.triangles.size(); ++ti) {
        const auto& t = model.triangles[ti];
        const CbVector3f a = model.vertices[t[0]], b = model.vertices[t[1]], c = model.vertices[t[2]];
        const CbVector3f n = (b - a).Cross(c - a);
        const float twiceArea = n.Length();
        if (!(twiceArea > 0) || n.z / twiceArea > downLimit)
            continue;
        const float area = 0.5f * twiceArea;
        const int count = std::max(1, static_cast<int>(std::ceil(area / perSample)));
        const float weight = area / static_cast<float>(count);
        for (int k = 0; k < count; ++k) {
            // Uniform over the triangle: fold the unit square's upper half back onto it.
            float u = unit(random), v = unit(random);
            if (u + v > 1)
                u = 1 - u, v = 1 - v;
            const CbVector3f p = a + (b - a) * u + (c - a) * v;
            if (-p.z < options.plateClearance || parts.InsideAnotherPart(p, ti) ||
                enclosure.Enclosed(p, n * (1.0f / twiceArea)))
                continue;
            samples.push_back({p, weight});
        }
    }
    const float cell = 2 * options.tolerance;
    std::vector<std::pair<uint64_t, uint32_t>> keyed(samples.size());
    for (size_t i = 0; i < samples.size(); ++i) {
        const CbVector3f& p = samples[i].point;
        keyed[i] = {cellKey(cellIndex(p.x, cell), cellIndex(p.y, cell), cellIndex(p.z, cell)),
                    static_cast<uint32_t>(i)};
    }
    std::sort(keyed.begin(), keyed.end());
    m_samples.reserve(samples.size());
    std::vector<uint64_t> cellKeys;
    for (size_t i = 0; i < keyed.size(); ++i) {
        if (i == 0 || keyed[i].first != keyed[i - 1].first) {
            cellKeys.push_back(keyed[i].first);
            m_cellStart.push_back(static_cast<uint32_t>(i));
        }
        m_samples.push_back(samples[keyed[i].second]);
        m_totalWeight += samples[keyed[i].second].weight;
    }
    m_cellStart.push_back(static_cast<uint32_t>(m_samples.size()));
    m_covered.assign(m_samples.size(), 0);
    // At most half full, so that a miss ends after a slot or two.
    uint64_t capacity = 16;
    while (capacity < 2 * cellKeys.size())
        capacity *= 2;
    m_tableMask = capacity - 1;
    m_tableKeys.assign(capacity, 0);
    m_tableCells.assign(capacity, 0);
    for (size_t i = 0; i < cellKeys.size(); ++i) {
        uint64_t slot = hashKey(cellKeys[i]) & m_tableMask;
        while (m_tableKeys[slot] != 0)
            slot = (slot + 1) & m_tableMask;
        m_tableKeys[slot] = cellKeys[i] + 1;
        m_tableCells[slot] = static_cast<uint32_t>(i);
    }
}

int64_t GroundTruth::findCell(uint64_t key) const {
    for (uint64_t slot = hashKey(key) & m_tableMask;; slot = (slot + 1) & m_tableMask) {
        if (m_tableKeys[slot] == 0)
            return -1;
        if (m_tableKeys[slot] == key + 1)
            return m_tableCells[slot];
    }
}

void GroundTruth::AddPoints(const std::vector<CbVector3f>& points) {
    const float tolerance = m_options.tolerance, cell = 2 * tolerance;
    const float tolerance2 = tolerance * tolerance;
    for (const CbVector3f& p : points) {
        if (!std::isfinite(p.x) || !std::isfinite(p.y) || !std::isfinite(p.z))
            continue;
        // The cells are twice as wide as the tolerance, so the samples within it lie in the
        // 2 x 2 x 2 cells around the point: along each axis its own and the nearer neighbour.
        int c[3], step[3];
        bool far = false;
        for (int a = 0; a < 3; ++a) {
            const float scaled = p[a] / cell;
            far = far || !(std::fabs(scaled) < static_cast<float>(c_iCellBias - 2));
            if (far)
                break;  // far outside anything a model on the disc can hold (and beyond int)
            c[a] = static_cast<int>(std::floor(scaled));
            step[a] = scaled - static_cast<float>(c[a]) < 0.5f ? -1 : 1;
        }
        if (far)
            continue;
        for (int corner = 0; corner < 8; ++corner) {
            const int64_t i = findCell(cellKey(c[0] + (corner & 1 ? step[0] : 0), c[1] + (corner & 2 ? step[1] : 0),
                                               c[2] + (corner & 4 ? step[2] : 0)));
            if (i < 0)
                continue;
            for (uint32_t s = m_cellStart[static_cast<size_t>(i)]; s < m_cellStart[static_cast<size_t>(i) + 1]; ++s) {
                if (m_covered[s])
                    continue;
                const CbVector3f d = m_samples[s].point - p;
                if (d.Dot(d) <= tolerance2) {
                    m_covered[s] = 1;
                    m_coveredWeight += m_samples[s].weight;
                }
            }
        }
    }
}

double GroundTruth::Coverage() const {
    return m_totalWeight > 0 ? m_coveredWeight / m_totalWeight : 0.0;
}

void GroundTruth::Reset() {
    std::fill(m_covered.begin(), m_covered.end(), 0);
    m_coveredWeight = 0;
}

}  // namespace Sim
