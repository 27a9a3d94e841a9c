// The polygon around one jaw of a double-arch tray, from a height image of its overview.
#include "ZoCCreateJawBoundaries.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <tuple>

using namespace jawcenterline;

Logging::CLogger& ZoCCreateJawBoundaries::logger() {
    static Logging::CLogger logger("ZAZ.ZoOrbal2.Steering.ZoCCreateJawBoundaries");
    return logger;
}

ZoCCreateJawBoundaries::ZoCCreateJawBoundaries(const ZoCJawCenterLineFinderParameter& parameter)
    : m_parameter(parameter) {}

void ZoCCreateJawBoundaries::Calculate(const std::vector<CbVector3f>& points,
                                       const CyHermiteSpline& jawLine) {
    if (jawLine.GetNumControlPoints() == 0) {
        if (logger().IsLogLevelEnabled(Logging::Error))
            logger().Error(__FILE__, __LINE__, __func__, L"Condition failed: %ls",
                           L"Die Spline ist ungültig, da sie keine Kontrollpunkte besitzt");
        return;
    }
    if (points.empty()) {
        if (logger().IsLogLevelEnabled(Logging::Error))
            logger().Error(__FILE__, __LINE__, __func__, L"Condition failed: %ls",
                           L"Die Punktewolke ist leer");
        return;
    }
    m_polygon.clear();
    if (!CreateGriddedImage(points))
        return;
    const std::pair<TPolyline, TPolyline> lines = ConvertToPolylines(FindEdges(jawLine));
    m_polygon = polygonOf(SimplifyDouglasPeucker(lines.first), SimplifyDouglasPeucker(lines.second));
}

// ---------------------------------------------------------------------------------------------
// Height image

bool ZoCCreateJawBoundaries::CreateGriddedImage(const std::vector<CbVector3f>& points) {
    if (points.empty()) {
        if (logger().IsLogLevelEnabled(Logging::Error))
            logger().Error(__FILE__, __LINE__, __func__, L"Condition failed: %ls",
                           L"Die Punktewolke ist leer");
        return false;
    }
    // The mean in double: a cloud of a million points in image-area units would lose the
    // low digits in a float sum.
    double sum[3] = {0, 0, 0};
    for (const CbVector3f& p : points)
        for (int i = 0; i < 3; ++i)
            sum[i] += p[i];
    const double n = static_cast<double>(points.size());
    const CbVector3f c(static_cast<float>(sum[0] / n), static_cast<float>(sum[1] / n),
                       static_cast<float>(sum[2] / n));
    const ZoCJawCenterLineFinderParameter& g = m_parameter;
    const float halfW = static_cast<float>(g.m_iGridWidth) * g.m_fCellSize / 2;
    const float halfH = static_cast<float>(g.m_iGridHeight) * g.m_fCellSize / 2;
    const CyBoundingBox3D box({c.x - halfW, c.y - halfH, c.z - g.m_fDepthBelow},
                              {c.x + halfW, c.y + halfH, c.z + g.m_fDepthAbove});
    ZoCHeightGridding grid;
    if (!grid.Init(box, {g.m_fCellSize, g.m_fCellSize, g.m_fCellSize}))
        return false;
    grid.Add(points);

    Resize(grid.GetSizeX(), grid.GetSizeY());
    SetAllZero();
    const float depth = box.GetDepth();
    grid.GetCells().ForEach([&](int ix, int iy, const ZoCGridCell3DMaxZ& cell) {
        const float gray = (cell.m_point.z - box.GetMin().z) * 255.0f / depth;
        SetValue(ix, iy, static_cast<uint8_t>(std::clamp(gray, 0.0f, 255.0f)));
    });
    SetConversionParameterFrom2DTo3D(box.GetMin(),
                                     {box.GetWidth() / static_cast<float>(GetWidth()),
                                      box.GetHeight() / static_cast<float>(GetHeight()), depth / 255.0f});
    return true;
}

// ---------------------------------------------------------------------------------------------
// Edges across the jaw line

std::pair<int, int> ZoCCreateJawBoundaries::EdgesOfProfile(
    const std::vector<std::pair<int, float>>& profile) {
    int lower = -c_iDefaultEdgeOffset, upper = c_iDefaultEdgeOffset;
    float lowest = std::numeric_limits<float>::infinity(), uppest = lowest;
    for (const auto& [offset, value] : profile) {
        if (offset < -c_iInnerBand && value < lowest) {
            lowest = value;
            lower = offset;
        } else if (offset > c_iInnerBand && value < uppest) {
            uppest = value;
            upper = offset;
        }
    }
    return {lower, upper};
}

std::vector<ZoCCreateJawBoundaries::ZoNEdgeSample> ZoCCreateJawBoundaries::FindEdges(
    const CyHermiteSpline& jawLine) const {
    std::vector<ZoNEdgeSample> samples;
    // The samples are even in arc length, so that the polygon's vertices are too.
    CyHermiteSpline line = jawLine;
    const double last = line.GetNumControlPoints() > 1 ? line.SubdivideByLength() : 0.0;
    const double step = last / c_iNumSplineSteps;
    CbVector3f previous;
    // The index counts the steps so that rounding cannot add or drop the last sample.
    for (int i = 0; i <= c_iNumSplineSteps; ++i) {
        const CbVector3f q = ConvertFrom3DTo2D(line.ComputePositionAtLength(static_cast<float>(i * step)));
        const float dx = q.x - previous.x, dy = q.y - previous.y;
        const float length = std::hypot(dx, dy);
        if (i == 0 || length == 0) {
            // A spline of one point, or one that stands still here, gives no direction.
            previous = q;
            if (step <= 0)
                break;
            continue;
        }
        const CbVector2f cross(-dy / length, dx / length);
        ZoNEdgeSample sample;
        sample.m_pos = {static_cast<int>(q.x), static_cast<int>(q.y)};
        sample.m_extractor = std::make_shared<ZoCImageContourExtractor>(*this, cross, sample.m_pos);
        sample.m_extractor->SetCurrentImagePos(sample.m_pos);
        std::tie(sample.m_iLower, sample.m_iUpper) = EdgesOfProfile(sample.m_extractor->GetObjectW(0));
        samples.push_back(std::move(sample));
        previous = q;
    }
    return samples;
}

std::pair<ZoCCreateJawBoundaries::TPolyline, ZoCCreateJawBoundaries::TPolyline>
ZoCCreateJawBoundaries::ConvertToPolylines(const std::vector<ZoNEdgeSample>& samples) {
    std::pair<TPolyline, TPolyline> lines;
    if (samples.empty()) {
        if (logger().IsLogLevelEnabled(Logging::Error))
            logger().Error(__FILE__, __LINE__, __func__, L"Condition failed: %ls",
                           L"Kann kein Polygon berechnen, da keine Konturen existieren.");
        return lines;
    }
    for (const ZoNEdgeSample& s : samples) {
        lines.first.push_back(s.m_extractor->GetImagePosByLinesPos(s.m_iLower));
        lines.second.push_back(s.m_extractor->GetImagePosByLinesPos(s.m_iUpper));
    }
    return lines;
}

// ---------------------------------------------------------------------------------------------
// Douglas-Peucker simplification

namespace {
// Distance of p from the line through a and b (|a - b| > 0).
double distanceToChord(const jawcenterline::ZoNImagePos& p, const jawcenterline::ZoNImagePos& a,
                       const jawcenterline::ZoNImagePos& b, double chord) {
    const double cross =
        static_cast<double>(b.x - a.x) * (p.y - a.y) - static_cast<double>(b.y - a.y) * (p.x - a.x);
    return std::fabs(cross) / chord;
}
}  // namespace

ZoCCreateJawBoundaries::TPolyline ZoCCreateJawBoundaries::SimplifyDouglasPeucker(const TPolyline& line,
                                                                                 double tolerance) {
    if (line.size() < 3)
        return line;
    std::vector<size_t> kept = {0, line.size() - 1};
    // Spans still to look at, as (first, last) index pairs; a stack instead of recursion keeps
    // long jaw lines off the call stack.
    std::vector<std::pair<size_t, size_t>> spans = {{0, line.size() - 1}};
    while (!spans.empty()) {
        const auto [first, last] = spans.back();
        spans.pop_back();
        const double chord = std::hypot(static_cast<double>(line[last].x - line[first].x),
                                        static_cast<double>(line[last].y - line[first].y));
        if (chord <= c_dMinChordLength || last - first < 2)
            continue;
        double farthest = -1;
        size_t index = first;
        for (size_t k = first + 1; k < last; ++k) {
            const double d = distanceToChord(line[k], line[first], line[last], chord);
            if (d > farthest) {
                farthest = d;
                index = k;
            }
        }
        if (farthest > tolerance) {
            kept.push_back(index);
            spans.emplace_back(first, index);
            spans.emplace_back(index, last);
        }
    }
    std::sort(kept.begin(), kept.end());
    TPolyline out;
    for (size_t k : kept)
        out.push_back(line[k]);
    return out;
}

std::vector<CbVector3f> ZoCCreateJawBoundaries::polygonOf(const TPolyline& first,
                                                          const TPolyline& second) const {
    std::vector<CbVector3f> polygon;
    auto add = [&](const TImagePos& p) {
        if (IsInside(p.x, p.y))
            polygon.push_back(ConvertFrom2DTo3D(p));
    };
    std::for_each(first.begin(), first.end(), add);
    std::for_each(second.rbegin(), second.rend(), add);
    return polygon;
}
