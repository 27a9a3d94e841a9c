#include "MeasuredSurface.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>
#include <queue>

namespace {

constexpr float c_fEmpty = -std::numeric_limits<float>::infinity();
// The occupancy grid never grows beyond this many voxels: a cloud spread wider than a jaw gets
// coarser voxels instead of unbounded memory.
constexpr double c_dMaxVoxels = 32.0 * 1024 * 1024;

}  // namespace

int64_t MeasuredSurface::voxelIndex(int x, int y, int z) const {
    if (x < 0 || y < 0 || z < 0 || x >= m_aiVoxels[0] || y >= m_aiVoxels[1] || z >= m_aiVoxels[2]) return -1;
    return (static_cast<int64_t>(z) * m_aiVoxels[1] + y) * m_aiVoxels[0] + x;
}

bool MeasuredSurface::IsNearMeasured(const CbVector3f& p) const { return flags(p) & c_uNear; }

bool MeasuredSurface::IsInHole(const CbVector3f& p, const CbVector3f& n) const {
    // Where the model bulges over its neck, the relief runs outside the surface below the bulge:
    // the measured surface lies behind it. A hole has nothing measured behind it either.
    for (float depth = 0; depth <= c_fHoleDepth; depth += 0.5f * c_fNear)
        if (flags(p - n * depth) & c_uNear) return false;
    return true;
}

uint8_t MeasuredSurface::flags(const CbVector3f& p) const {
    if (m_near.empty()) return 0;
    const CbVector3f d = p - m_voxelOrigin;
    const CbVector3f local(d.x / m_voxel.x, d.y / m_voxel.y, d.z / m_voxel.z);
    if (!(std::isfinite(local.x) && std::isfinite(local.y) && std::isfinite(local.z))) return 0;
    const int64_t v = voxelIndex(static_cast<int>(std::floor(local.x)), static_cast<int>(std::floor(local.y)),
                                 static_cast<int>(std::floor(local.z)));
    return v >= 0 ? m_near[static_cast<size_t>(v)] : uint8_t{0};
}

float MeasuredSurface::Height(float x, float y) const {
    // Column centres are the nodes; each square splits along its rising diagonal as Build does.
    const float u = (x - m_fOriginX) / c_fColumn - 0.5f, v = (y - m_fOriginY) / c_fColumn - 0.5f;
    if (!(u >= 0 && v >= 0 && u < static_cast<float>(m_iColumnsX - 1) && v < static_cast<float>(m_iColumnsY - 1)))
        return c_fClearance;
    const int i = static_cast<int>(u), j = static_cast<int>(v);
    const float fu = u - static_cast<float>(i), fv = v - static_cast<float>(j);
    auto h = [&](int di, int dj) {
        return m_heights[static_cast<size_t>(j + dj) * static_cast<size_t>(m_iColumnsX) + static_cast<size_t>(i + di)];
    };
    if (fu >= fv) return h(0, 0) + (h(1, 0) - h(0, 0)) * fu + (h(1, 1) - h(1, 0)) * fv;
    return h(0, 0) + (h(1, 1) - h(0, 1)) * fu + (h(0, 1) - h(0, 0)) * fv;
}

bool MeasuredSurface::Unobstructed(const CbVector3f& from, const CbVector3f& to) const {
    if (m_heights.empty()) return true;
    const CbVector3f d = to - from;
    const float length = d.Length();
    if (!(length > 0)) return true;
    const float step = 0.5f * c_fColumn;
    for (float t = step; t < length; t += step) {
        const CbVector3f p = from + d * (t / length);
        if (p.z > m_fTop && d.z >= 0) return true;  // above everything and rising
        if (Height(p.x, p.y) > p.z + c_fShadowMargin) return false;
    }
    return true;
}

void MeasuredSurface::Build(const std::vector<CbVector3f>& input) {
    m_heights.clear();
    m_near.clear();
    m_uncovered.clear();
    m_dScannable = m_dCovered = 0;
    m_iColumnsX = m_iColumnsY = 0;
    std::vector<CbVector3f> points;
    points.reserve(input.size());
    CyBoundingBox3D box;
    for (const CbVector3f& p : input)
        if (std::isfinite(p.x) && std::isfinite(p.y) && std::isfinite(p.z) && p.z >= 0 &&
            std::fabs(p.x) <= c_fMaxReach && std::fabs(p.y) <= c_fMaxReach && p.z <= c_fMaxReach) {
            points.push_back(p);
            box.Add(p);
        }
    if (points.empty()) return;

    // Relief: two empty columns around the cloud, so the grid's edge lies beside the model.
    m_fOriginX = box.GetMin().x - 2 * c_fColumn;
    m_fOriginY = box.GetMin().y - 2 * c_fColumn;
    m_iColumnsX = static_cast<int>(std::ceil((box.GetMax().x - m_fOriginX) / c_fColumn)) + 2;
    m_iColumnsY = static_cast<int>(std::ceil((box.GetMax().y - m_fOriginY) / c_fColumn)) + 2;
    const int nx = m_iColumnsX, ny = m_iColumnsY;
    auto at = [nx](int i, int j) { return static_cast<size_t>(j) * static_cast<size_t>(nx) + static_cast<size_t>(i); };
    m_heights.assign(static_cast<size_t>(nx) * static_cast<size_t>(ny), c_fEmpty);
    for (const CbVector3f& p : points) {
        const int i = std::clamp(static_cast<int>((p.x - m_fOriginX) / c_fColumn), 0, nx - 1);
        const int j = std::clamp(static_cast<int>((p.y - m_fOriginY) / c_fColumn), 0, ny - 1);
        float& h = m_heights[at(i, j)];
        h = std::max(h, p.z);
    }
    // Empty columns connected to the grid's edge lie beside the model.
    std::vector<uint8_t> beside(m_heights.size(), 0);
    std::queue<std::pair<int, int>> open;
    auto visit = [&](int i, int j) {
        if (i < 0 || j < 0 || i >= nx || j >= ny) return;
        const size_t k = at(i, j);
        if (beside[k] || m_heights[k] != c_fEmpty) return;
        beside[k] = 1;
        open.push({i, j});
    };
    for (int i = 0; i < nx; ++i) visit(i, 0), visit(i, ny - 1);
    for (int j = 0; j < ny; ++j) visit(0, j), visit(nx - 1, j);
    while (!open.empty()) {
        const auto [i, j] = open.front();
        open.pop();
        visit(i - 1, j), visit(i + 1, j), visit(i, j - 1), visit(i, j + 1);
    }
    for (size_t k = 0; k < m_heights.size(); ++k)
        if (beside[k]) m_heights[k] = c_fClearance;
    m_fTop = *std::max_element(m_heights.begin(), m_heights.end());
    // Holes: from the rim inwards, each column takes the mean of its already known neighbours.
    for (bool pending = true; pending;) {
        pending = false;
        std::vector<std::pair<size_t, float>> filled;
        for (int j = 0; j < ny; ++j)
            for (int i = 0; i < nx; ++i) {
                if (m_heights[at(i, j)] != c_fEmpty) continue;
                float sum = 0;
                int count = 0;
                for (const auto& [di, dj] : {std::pair{-1, 0}, {1, 0}, {0, -1}, {0, 1}}) {
                    const float h = m_heights[at(i + di, j + dj)];  // the edge is never a hole
                    if (h != c_fEmpty) sum += h, ++count;
                }
                if (count > 0)
                    filled.push_back({at(i, j), sum / static_cast<float>(count)});
                else
                    pending = true;
            }
        for (const auto& [k, h] : filled) m_heights[k] = h;
        if (filled.empty()) break;
    }

    // Occupancy, dilated to every voxel whose centre lies within the nearness ellipsoid of an
    // occupied one's: c_fNear across, c_fNearUp along the height.
    // Two voxels per nearness radius keep the dilated shape within a quarter radius of the ellipsoid.
    m_voxel = CbVector3f(c_fNear / 2, c_fNear / 2, c_fNearUp / 2);
    const CbVector3f extent = box.GetMax() - box.GetMin();
    auto voxels = [&] { return static_cast<double>(extent.x + 2) * (extent.y + 2) * (extent.z + 2) / (static_cast<double>(m_voxel.x) * m_voxel.y * m_voxel.z); };
    while (voxels() > c_dMaxVoxels) m_voxel = m_voxel * 2.0f;
    // The ellipsoid is flat because the relief follows the surface closely in height over the crowns
    // but only to a column's width across a wall: a point at a wall's rim must not cover the wall.
    const int reach[3] = {static_cast<int>(std::ceil(c_fNear / m_voxel.x)), static_cast<int>(std::ceil(c_fNear / m_voxel.y)),
                          static_cast<int>(std::ceil(c_fNearUp / m_voxel.z))};
    for (int k = 0; k < 3; ++k) {
        const float margin = static_cast<float>(reach[k] + 1) * m_voxel[k];
        m_voxelOrigin[k] = box.GetMin()[k] - margin;
        m_aiVoxels[k] = static_cast<int>(std::ceil((extent[k] + 2 * margin) / m_voxel[k])) + 1;
    }
    std::vector<uint8_t> occupied(static_cast<size_t>(m_aiVoxels[0]) * m_aiVoxels[1] * m_aiVoxels[2], 0);
    for (const CbVector3f& p : points) {
        const int64_t v = voxelIndex(static_cast<int>((p.x - m_voxelOrigin.x) / m_voxel.x),
                                     static_cast<int>((p.y - m_voxelOrigin.y) / m_voxel.y),
                                     static_cast<int>((p.z - m_voxelOrigin.z) / m_voxel.z));
        if (v >= 0) occupied[static_cast<size_t>(v)] = 1;
    }
    std::vector<std::array<int, 3>> ball;
    for (int dz = -reach[2]; dz <= reach[2]; ++dz)
        for (int dy = -reach[1]; dy <= reach[1]; ++dy)
            for (int dx = -reach[0]; dx <= reach[0]; ++dx) {
                const float ex = dx * m_voxel.x / c_fNear, ey = dy * m_voxel.y / c_fNear, ez = dz * m_voxel.z / c_fNearUp;
                if (ex * ex + ey * ey + ez * ez <= 1.0f) ball.push_back({dx, dy, dz});
            }
    m_near.assign(occupied.size(), 0);
    for (int z = 0; z < m_aiVoxels[2]; ++z)
        for (int y = 0; y < m_aiVoxels[1]; ++y)
            for (int x = 0; x < m_aiVoxels[0]; ++x) {
                if (!occupied[static_cast<size_t>(voxelIndex(x, y, z))]) continue;
                for (const auto& d : ball) {
                    const int64_t v = voxelIndex(x + d[0], y + d[1], z + d[2]);
                    if (v >= 0) m_near[static_cast<size_t>(v)] = c_uNear;
                }
            }

    // The closed relief, two triangles per square of column centres; each triangle sampled on a
    // barycentric grid fine enough that no sample stands for more than a voxel's width.
    auto node = [&](int i, int j) {
        return CbVector3f(m_fOriginX + (static_cast<float>(i) + 0.5f) * c_fColumn,
                          m_fOriginY + (static_cast<float>(j) + 0.5f) * c_fColumn, m_heights[at(i, j)]);
    };
    auto triangle = [&](const CbVector3f& a, const CbVector3f& b, const CbVector3f& c) {
        if (std::max({a.z, b.z, c.z}) <= c_fClearance) return;  // the plate beside the model
        CbVector3f normal = (b - a).Cross(c - a);
        const float area = 0.5f * normal.Length();
        if (area <= 0) return;
        if (normal.z < 0) normal = -normal;
        normal = normal * (0.5f / area);
        const float longest = std::max({(b - a).Length(), (c - b).Length(), (a - c).Length()});
        const int n = std::max(1, static_cast<int>(std::ceil(longest / std::min(m_voxel.x, m_voxel.z))));
        const float share = area / static_cast<float>(n * n);
        Patch missed{{0, 0, 0}, normal, 0};
        // Sub-triangle centroids: n*n triangles of the grid with step 1/n.
        for (int u = 0; u < n; ++u)
            for (int v = 0; u + v < n; ++v)
                for (int flip = 0; flip < (u + v + 1 < n ? 2 : 1); ++flip) {
                    const float fu = (static_cast<float>(u) + (flip ? 2.0f : 1.0f) / 3.0f) / static_cast<float>(n);
                    const float fv = (static_cast<float>(v) + (flip ? 2.0f : 1.0f) / 3.0f) / static_cast<float>(n);
                    const CbVector3f p = a + (b - a) * fu + (c - a) * fv;
                    if (p.z < c_fClearance) continue;
                    m_dScannable += share;
                    if (flags(p) & c_uNear) {
                        m_dCovered += share;
                    } else if (IsInHole(p, normal)) {
                        missed.point += p * share;
                        missed.area += share;
                    }
                }
        if (missed.area > 0) {
            missed.point = missed.point * (1.0f / missed.area);
            m_uncovered.push_back(missed);
        }
    };
    for (int j = 0; j + 1 < ny; ++j)
        for (int i = 0; i + 1 < nx; ++i) {
            const CbVector3f p00 = node(i, j), p10 = node(i + 1, j), p01 = node(i, j + 1), p11 = node(i + 1, j + 1);
            triangle(p00, p10, p11);
            triangle(p00, p11, p01);
        }
}
