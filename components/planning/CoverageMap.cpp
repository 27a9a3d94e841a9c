#include "CoverageMap.h"

#include <algorithm>
#include <cmath>
#include <queue>

namespace {

constexpr float c_fDegToRad = 0.017453292f;

// The jaw line resampled at equal arc length.
std::vector<CbVector3f> resample(const std::vector<CbVector3f>& line, float spacing) {
    std::vector<CbVector3f> out;
    if (line.empty()) return out;
    out.push_back(line.front());
    float carried = 0;
    for (size_t i = 1; i < line.size(); ++i) {
        const CbVector3f a = line[i - 1], b = line[i];
        const float length = (b - a).Length();
        float s = spacing - carried;
        while (s <= length) {
            out.push_back(a + (b - a) * (s / length));
            s += spacing;
        }
        carried = length - (s - spacing);
    }
    return out;
}

}  // namespace

void CoverageMap::SetCenterLine(const std::vector<CbVector3f>& jawLine, const CbVector3f& up) {
    m_samples.clear();
    const std::vector<CbVector3f> centres = resample(jawLine, c_fSampleSpacing);
    m_counts.clear();
    m_radiusSum.clear();
    m_nearest.clear();
    if (centres.size() < 2) return;
    const CbVector3f u0 = up.Normalized();
    for (size_t i = 0; i < centres.size(); ++i) {
        const CbVector3f ahead = centres[std::min(i + 1, centres.size() - 1)];
        const CbVector3f behind = centres[i == 0 ? 0 : i - 1];
        const CbVector3f t = (ahead - behind).Normalized();
        // Up within the cross-section; lateral completes it (buccal side of a counter-clockwise arch).
        const CbVector3f u = (u0 - t * u0.Dot(t)).Normalized();
        m_samples.push_back({centres[i], t, t.Cross(u).Normalized(), u});
    }
    m_counts.assign(m_samples.size() * c_iNumSectors, 0);
    m_radiusSum.assign(m_counts.size(), 0.0f);
    buildNearestGrid();
}

void CoverageMap::buildNearestGrid() {
    CyBoundingBox3D box;
    for (const Sample& sample : m_samples) box.Add(sample.centre);
    const float margin = c_fMaxRadius + 1.0f;
    m_gridOrigin = box.GetMin() - CbVector3f(margin, margin, margin);
    const CbVector3f extent = box.GetMax() - box.GetMin();
    for (int k = 0; k < 3; ++k) m_aiGridSize[k] = static_cast<int>(std::ceil(extent[k] + 2 * margin)) + 1;
    m_nearest.assign(static_cast<size_t>(m_aiGridSize[0]) * m_aiGridSize[1] * m_aiGridSize[2], -1);
    const float limit = c_fMaxRadius * c_fMaxRadius;
    size_t v = 0;
    for (int z = 0; z < m_aiGridSize[2]; ++z)
        for (int y = 0; y < m_aiGridSize[1]; ++y)
            for (int x = 0; x < m_aiGridSize[0]; ++x, ++v) {
                const CbVector3f centre = m_gridOrigin + CbVector3f(x + 0.5f, y + 0.5f, z + 0.5f);
                float best = limit;
                for (size_t i = 0; i < m_samples.size(); ++i) {
                    const CbVector3f d = centre - m_samples[i].centre;
                    const float distance = d.Dot(d);
                    if (distance < best) {
                        best = distance;
                        m_nearest[v] = static_cast<int>(i);
                    }
                }
            }
}

int CoverageMap::nearestSample(const CbVector3f& p) const {
    const CbVector3f local = p - m_gridOrigin;
    const int x = static_cast<int>(std::floor(local.x)), y = static_cast<int>(std::floor(local.y)),
              z = static_cast<int>(std::floor(local.z));
    if (x < 0 || y < 0 || z < 0 || x >= m_aiGridSize[0] || y >= m_aiGridSize[1] || z >= m_aiGridSize[2]) return -1;
    return m_nearest[(static_cast<size_t>(z) * m_aiGridSize[1] + static_cast<size_t>(y)) * m_aiGridSize[0] +
                     static_cast<size_t>(x)];
}

void CoverageMap::AddPoints(const float* xyz, size_t numFloats) {
    if (!HasSurface()) return;
    for (size_t k = 0; k + 2 < numFloats; k += 3) {
        const CbVector3f p(xyz[k], xyz[k + 1], xyz[k + 2]);
        const int i = nearestSample(p);
        if (i < 0) continue;
        const Sample& s = m_samples[static_cast<size_t>(i)];
        const CbVector3f d = p - s.centre;
        const float a = d.Dot(s.lateral), b = d.Dot(s.up);
        const float phi = std::atan2(a, b) / c_fDegToRad;
        if (phi < -120.0f || phi >= 120.0f) continue;
        const int sector = std::min(c_iNumSectors - 1, static_cast<int>((phi + 120.0f) / c_fSectorDegrees));
        const size_t cell = static_cast<size_t>(i) * c_iNumSectors + static_cast<size_t>(sector);
        ++m_counts[cell];
        m_radiusSum[cell] += std::sqrt(a * a + b * b);
    }
}

size_t CoverageMap::NumCoveredCells() const {
    return static_cast<size_t>(std::count_if(m_counts.begin(), m_counts.end(), [](int c) { return c >= c_iPointsPerCell; }));
}

double CoverageMap::Coverage() const {
    return m_counts.empty() ? 0.0 : static_cast<double>(NumCoveredCells()) / static_cast<double>(m_counts.size());
}

float CoverageMap::sectorRadius(int sample, int sector) const {
    // The cell's own points, else the nearest covered cells of the same sector along the line.
    for (int reach = 0; reach < static_cast<int>(m_samples.size()); ++reach)
        for (int i : {sample - reach, sample + reach}) {
            if (i < 0 || i >= static_cast<int>(m_samples.size())) continue;
            const size_t cell = static_cast<size_t>(i) * c_iNumSectors + static_cast<size_t>(sector);
            if (m_counts[cell] > 0) return m_radiusSum[cell] / static_cast<float>(m_counts[cell]);
        }
    return c_fDefaultRadius;
}

void CoverageMap::CellSurface(int cell, CbVector3f& point, CbVector3f& normal) const {
    const int sample = cell / c_iNumSectors, sector = cell % c_iNumSectors;
    const Sample& s = m_samples[static_cast<size_t>(sample)];
    const float phi = (-120.0f + (static_cast<float>(sector) + 0.5f) * c_fSectorDegrees) * c_fDegToRad;
    normal = (s.lateral * std::sin(phi) + s.up * std::cos(phi)).Normalized();
    point = s.centre + normal * sectorRadius(sample, sector);
}

int CoverageMap::centreCell(const std::vector<int>& cells) {
    // The cell nearest to the region's mean position in (sample, sector).
    double meanSample = 0, meanSector = 0;
    for (int cell : cells) {
        meanSample += cell / c_iNumSectors;
        meanSector += cell % c_iNumSectors;
    }
    meanSample /= static_cast<double>(cells.size());
    meanSector /= static_cast<double>(cells.size());
    int best = cells.front();
    double bestDistance = 1e300;
    for (int cell : cells) {
        const double ds = cell / c_iNumSectors - meanSample, dk = cell % c_iNumSectors - meanSector;
        if (ds * ds + dk * dk < bestDistance) {
            bestDistance = ds * ds + dk * dk;
            best = cell;
        }
    }
    return best;
}

std::vector<CoverageMap::Gap> CoverageMap::Gaps(int maxCount) const {
    std::vector<Gap> gaps;
    std::vector<char> seen(m_counts.size(), 0);
    const int samples = static_cast<int>(m_samples.size());
    for (size_t start = 0; start < m_counts.size(); ++start) {
        if (seen[start] || m_counts[start] >= c_iPointsPerCell) continue;
        Gap gap;
        std::queue<int> open;
        open.push(static_cast<int>(start));
        seen[start] = 1;
        while (!open.empty()) {
            const int cell = open.front();
            open.pop();
            gap.cells.push_back(cell);
            const int i = cell / c_iNumSectors, k = cell % c_iNumSectors;
            const int neighbours[4][2] = {{i - 1, k}, {i + 1, k}, {i, k - 1}, {i, k + 1}};
            for (const auto& n : neighbours) {
                if (n[0] < 0 || n[0] >= samples || n[1] < 0 || n[1] >= c_iNumSectors) continue;
                const size_t c = static_cast<size_t>(n[0]) * c_iNumSectors + static_cast<size_t>(n[1]);
                if (seen[c] || m_counts[c] >= c_iPointsPerCell) continue;
                seen[c] = 1;
                open.push(static_cast<int>(c));
            }
        }
        for (int cell : gap.cells) {
            CbVector3f p, n;
            CellSurface(cell, p, n);
            gap.points.push_back(p);
            // A cell spans one sample spacing along the line and its sector's arc across it.
            gap.area += c_fSampleSpacing * sectorRadius(cell / c_iNumSectors, cell % c_iNumSectors) *
                        c_fSectorDegrees * c_fDegToRad;
        }
        CellSurface(centreCell(gap.cells), gap.target, gap.normal);
        gaps.push_back(std::move(gap));
    }
    std::stable_sort(gaps.begin(), gaps.end(), [](const Gap& a, const Gap& b) { return a.area > b.area; });
    if (static_cast<int>(gaps.size()) > maxCount) gaps.resize(static_cast<size_t>(std::max(maxCount, 0)));
    return gaps;
}
