#include "JawSkeleton.h"

#include <algorithm>
#include <cmath>

namespace Sim {

namespace {
constexpr float c_fImageAreaPerMm = 40.0f;
constexpr float c_fCrownDepth = 6.0f;   // mm below the top that still counts as crown
constexpr int c_iBinDegrees = 6;
constexpr int c_iNumBins = 360 / c_iBinDegrees;
constexpr int c_iMinPointsPerBin = 20;

std::vector<CbVector3f> pointsInMillimetres(const std::vector<ZoCFieldCoord>& overview) {
    std::vector<CbVector3f> points;
    for (const ZoCFieldCoord& field : overview) {
        const ZoCRect2& r = field.RectValid();
        for (int y = r.top; y < r.bottom; ++y)
            for (int x = r.left; x < r.right; ++x)
                if (field.IsValid(x, y)) points.push_back(field.At(x, y) * (1.0f / c_fImageAreaPerMm));
    }
    return points;
}
}  // namespace

CyHermiteSpline DeriveJawSkeleton(const std::vector<ZoCFieldCoord>& overview) {
    const std::vector<CbVector3f> points = pointsInMillimetres(overview);
    if (points.empty()) return {};
    // Heights above the plate: the disc's z points down into it.
    std::vector<float> heights;
    heights.reserve(points.size());
    for (const CbVector3f& p : points) heights.push_back(-p.z);
    std::vector<float> sorted = heights;
    const size_t k = static_cast<size_t>(0.99 * static_cast<double>(sorted.size() - 1));
    std::nth_element(sorted.begin(), sorted.begin() + static_cast<long>(k), sorted.end());
    const float top = sorted[k];

    std::vector<CbVector3f> sum(c_iNumBins);
    std::vector<int> count(c_iNumBins, 0);
    for (size_t i = 0; i < points.size(); ++i) {
        if (heights[i] < top - c_fCrownDepth) continue;
        float azimuth = std::atan2(points[i].y, points[i].x) * 57.295776f;
        if (azimuth < 0) azimuth += 360.0f;
        const int bin = std::min(c_iNumBins - 1, static_cast<int>(azimuth / c_iBinDegrees));
        sum[static_cast<size_t>(bin)] += points[i];
        ++count[static_cast<size_t>(bin)];
    }
    std::vector<int> occupied;
    for (int b = 0; b < c_iNumBins; ++b)
        if (count[static_cast<size_t>(b)] >= c_iMinPointsPerBin) occupied.push_back(b);
    if (occupied.size() < 4) return {};
    // Start after the widest empty stretch: the arch's open side.
    size_t start = 0;
    int widest = -1;
    for (size_t i = 0; i < occupied.size(); ++i) {
        const int next = occupied[(i + 1) % occupied.size()];
        const int gap = (next - occupied[i] + c_iNumBins) % c_iNumBins;
        if (gap > widest) {
            widest = gap;
            start = (i + 1) % occupied.size();
        }
    }
    std::vector<CbVector3f> control;
    for (size_t i = 0; i < occupied.size(); ++i) {
        const size_t b = static_cast<size_t>(occupied[(start + i) % occupied.size()]);
        control.push_back(sum[b] * (c_fImageAreaPerMm / static_cast<float>(count[b])));
    }
    return CyHermiteSpline(control);
}

}  // namespace Sim
