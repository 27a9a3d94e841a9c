// Saw cuts in one overview image: bitmap, boundaries, straight edges, facing pairs, guide line.
#include "ZoCSawCutExtractor.h"

#include <algorithm>
#include <cfloat>
#include <cmath>

namespace {
// Plane vectors in double precision; the records store floats.
struct Vec2 {
    double x = 0, y = 0;
    Vec2() = default;
    Vec2(double x_, double y_) : x(x_), y(y_) {}
    explicit Vec2(const CbVector2f& v) : x(v.x), y(v.y) {}
    Vec2 operator+(const Vec2& o) const { return {x + o.x, y + o.y}; }
    Vec2 operator-(const Vec2& o) const { return {x - o.x, y - o.y}; }
    Vec2 operator*(double s) const { return {x * s, y * s}; }
    double Dot(const Vec2& o) const { return x * o.x + y * o.y; }
    double SquaredLength() const { return Dot(*this); }
    double Length() const { return std::sqrt(SquaredLength()); }
    CbVector2f ToFloat() const { return {static_cast<float>(x), static_cast<float>(y)}; }
};

double distance(const CbVector2f& a, const CbVector2f& b) {
    return (Vec2(a) - Vec2(b)).Length();
}

// Unit vector, or zero when the vector is too short to have a direction.
Vec2 unit(const Vec2& v) {
    const double squared = v.SquaredLength();
    return squared <= FLT_MIN ? Vec2() : v * (1.0 / std::sqrt(squared));
}

// Angle between two tangent angles in degrees, in [0, 180].
double angleDifference(double a, double b) {
    const double d = std::fabs(a - b);
    return d >= 180.0 ? 360.0 - d : d;
}

constexpr double c_dPi = 3.1415926535;
// A region whose contour is shorter than this has no boundary straight enough to matter.
constexpr double c_dMinContourLength = 60.0;
// The contour length of a single pixel: the perimeter of a disc of the pixel's area.
constexpr double c_dSinglePixelContourLength = 3.5449077;
// Straight segments along the image border (within this many pixels) are the border, not a gap.
constexpr float c_fBorderMargin = 10.0f;
// Guide-line sampling of the weighted cosine, and the step of its tangent.
constexpr int c_iGuideLineIntervals = 25;
constexpr double c_dGuideLineTangentStep = 0.0001;
// Below this curvature term the guide line is taken as not crossing the cut.
constexpr double c_dMinQuadraticTerm = 1e-5;
// Scale of the end-point gap against which the lateral offset of a merged segment is weighed.
constexpr double c_dGapScale = 100.0;
}  // namespace

// =============================================================================================
// Records
// =============================================================================================

ZoCSawCutExtractor::ZoNBitmap::ZoNBitmap(int w, int h) {
    if (w <= 0 || h <= 0)
        return;
    width = w;
    height = h;
    pixels.assign(static_cast<size_t>(w) * static_cast<size_t>(h), cuEmpty);
}

ZoCSawCutExtractor::ZoNGuideLine::ZoNGuideLine(const ZoCPolynomial& px, const ZoCPolynomial& py)
    : x(px), y(py) {
    if (!px || !py)
        return;
    auto coefficient = [](const ZoCPolynomial& p, int k) {
        return k <= p.GetDegree() ? static_cast<float>(p[static_cast<size_t>(k)]) : 0.0f;
    };
    c0 = {coefficient(px, 0), coefficient(py, 0)};
    c1 = {coefficient(px, 1), coefficient(py, 1)};
    c2 = {coefficient(px, 2), coefficient(py, 2)};
}

CbVector2f ZoCSawCutExtractor::ZoNGuideLine::At(double t) const {
    return (Vec2(c0) + Vec2(c1) * t + Vec2(c2) * (t * t)).ToFloat();
}

ZoCSawCutExtractor::ZoNLine::ZoNLine(const CbVector2f& start, const CbVector2f& end)
    : m_start(start), m_end(end) {
    update();
}

void ZoCSawCutExtractor::ZoNLine::SetStart(const CbVector2f& p) {
    m_start = p;
    update();
}

void ZoCSawCutExtractor::ZoNLine::SetEnd(const CbVector2f& p) {
    m_end = p;
    update();
}

void ZoCSawCutExtractor::ZoNLine::ExtendTo(const CbVector2f& p) {
    const Vec2 direction(m_direction);
    if ((Vec2(p) - Vec2(m_start)).Dot(direction) < 0)
        SetStart(p);
    else if ((Vec2(p) - Vec2(m_end)).Dot(direction) > 0)
        SetEnd(p);
}

void ZoCSawCutExtractor::ZoNLine::update() {
    const Vec2 d = Vec2(m_end) - Vec2(m_start);
    const double squared = d.SquaredLength();
    m_dLength = std::sqrt(squared);
    m_centre = ((Vec2(m_start) + Vec2(m_end)) * 0.5).ToFloat();
    if (squared <= FLT_MIN) {
        m_direction = m_normal = CbVector2f();
        return;
    }
    const Vec2 u = d * (1.0 / m_dLength);
    m_direction = u.ToFloat();
    m_normal = Vec2(-u.y, u.x).ToFloat();
}

// =============================================================================================
// Construction and the bitmap of a range image
// =============================================================================================

ZoCSawCutExtractor::ZoCSawCutExtractor(const ZoNBitmap& bitmap) : m_bitmap(bitmap) {}

ZoCSawCutExtractor::ZoCSawCutExtractor(const ZoNBitmap& bitmap, const ZoNGuideLine& guideLine)
    : m_guideLine(guideLine), m_bitmap(bitmap) {}

ZoCSawCutExtractor::ZoCSawCutExtractor(const CImage& rangeImage, const ZoNGuideLine& guideLine)
    : m_guideLine(guideLine), m_bitmap(MakeBitmap(rangeImage)) {}

ZoCRect2 ZoCSawCutExtractor::ValidRectangle(const ZoCFieldRange& range) {
    if (range.IsEmpty())
        return {};
    return range.RectValid(0.0f, range.FullRect());  // values above 0: the pixels with a range
}

ZoCSawCutExtractor::ZoNBitmap ZoCSawCutExtractor::MakeBitmap(const CImage& rangeImage) {
    const ZoCFieldRange& range = rangeImage.GetFieldRange();
    const ZoCRect2 rect = ValidRectangle(range);
    ZoNBitmap bitmap(rect.Width(), rect.Height());
    if (bitmap.pixels.empty())
        return bitmap;
    const ZoCFieldMask& mask = rangeImage.GetFieldMask();
    // A mask of another size belongs to another image: it is not consulted.
    const bool withMask =
        !mask.IsEmpty() && mask.GetWidth() == range.GetWidth() && mask.GetHeight() == range.GetHeight();
    const size_t stride = static_cast<size_t>(range.GetWidth());
    for (int y = 0; y < bitmap.height; ++y) {
        const size_t row = static_cast<size_t>(rect.top + y) * stride + static_cast<size_t>(rect.left);
        const float* ranges = range.Data() + row;
        const uint16_t* marks = withMask ? mask.Data() + row : nullptr;
        uint8_t* out = &bitmap.At(0, y);
        for (int x = 0; x < bitmap.width; ++x) {
            const bool rejected = marks && (marks[x] & ciMaskBitsRejected) != 0;
            out[x] = IsRange(ranges[x]) && !rejected ? cuValid : cuEmpty;
        }
    }
    return bitmap;
}

// =============================================================================================
// Region by region: trace, erase, collect straight segments; then edges and pairs
// =============================================================================================

void ZoCSawCutExtractor::detectSawCuts(std::vector<ZoNSawCut>& out) {
    if (!m_bitmap.IsConsistent() || m_bitmap.pixels.empty())
        return;
    // A padded working copy: the tracer needs no bounds checks and the bitmap stays as it is.
    ZoCPaddedImage image(m_bitmap.pixels.data(), m_bitmap.width, m_bitmap.height, m_bitmap.width);
    std::vector<ZoNLine> lines;
    std::vector<CbVector2f> points;
    std::vector<double> angles;
    // Every region found is erased, so the search resumes where it found the last one.
    ZoNPixel at;
    while (image.FindNext(cuValid, at.x, at.y)) {
        const ZoCPixelChain chain = ZoCBoundaryTracer::TraceOuterBoundary(image, at, cuValid);
        if (!chain.IsValid()) {
            // A raster scan's first pixel always starts a boundary; should the tracer still
            // refuse, dropping the pixel keeps the search moving.
            image.Set(at.x, at.y, cuEmpty);
            continue;
        }
        ZoCPixelPolygon polygon(chain, contourLength(chain));
        eraseRegion(image, polygon);
        if (polygon.GetContourLength() < c_dMinContourLength)
            continue;
        computeTangents(polygon, points, angles);
        size_t next = 0;
        do
            next = findSegment(points, angles, next, lines);
        while (next < points.size());
    }
    std::vector<ZoNEdge> edges;
    combineSegments(lines, edges);
    if (edges.size() >= 2)
        findSawCuts(edges, out);
}

double ZoCSawCutExtractor::contourLength(const ZoCPixelChain& chain) {
    if (chain.GetSteps().empty())
        return c_dSinglePixelContourLength;
    return static_cast<double>(chain.GetStraightStepCount()) +
           std::sqrt(2.0) * static_cast<double>(chain.GetDiagonalStepCount());
}

void ZoCSawCutExtractor::eraseRegion(ZoCPaddedImage& image, const ZoCPixelPolygon& polygon) const {
    for (const ZoCPixelPolygon::ZoNSpan& span : polygon.GetAreaSpans())
        image.FillSpan(span.y, span.x0, span.x1, cuEmpty);
    for (ZoCPixelPolygon::CIterMargin it(polygon); it; ++it)
        if (it->x >= 0 && it->y >= 0 && it->x < image.GetWidth() && it->y < image.GetHeight())
            image.Set(it->x, it->y, cuEmpty);
}

// =============================================================================================
// Tangents: the chord over 2 x 5 boundary points, summed over the window
// =============================================================================================

void ZoCSawCutExtractor::computeTangents(ZoCPixelPolygon& polygon, std::vector<CbVector2f>& points,
                                         std::vector<double>& angles) {
    points.clear();
    for (ZoCPixelPolygon::CIterMargin it(polygon); it; ++it)
        points.emplace_back(static_cast<float>(it->x), static_cast<float>(it->y));
    const auto n = static_cast<int64_t>(points.size());
    angles.assign(points.size(), 0.0);
    auto at = [&](int64_t i) -> const CbVector2f& { return points[static_cast<size_t>(((i % n) + n) % n)]; };
    for (int64_t i = 0; i < n; ++i) {
        double dx = 0, dy = 0;
        for (int k = 1; k <= ciTangentAngleWindowSize; ++k) {
            dx += static_cast<double>(at(i + k).x) - at(i - k).x;
            dy += static_cast<double>(at(i + k).y) - at(i - k).y;
        }
        angles[static_cast<size_t>(i)] = std::atan2(dy, dx) * 180.0 / c_dPi;
    }
}

// =============================================================================================
// Straight segments: runs of boundary points whose tangent stays within 7.5 degrees of the
// run's first one, tolerating short deviations (a pixel step, a speck on the edge)
// =============================================================================================

size_t ZoCSawCutExtractor::findSegment(std::vector<CbVector2f>& points, std::vector<double>& angles,
                                       size_t start, std::vector<ZoNLine>& lines) {
    const size_t n = std::min(points.size(), angles.size());
    size_t i = start + 1;
    if (i >= n)
        return i;
    // Skip the bend before the run.
    while (angleDifference(angles[i - 1], angles[i]) > cdMaxTangentAngleDeviation)
        if (++i >= n)
            return i;
    const double reference = angles[i];
    size_t last = i, deviations = 0, j = i + 1;
    for (; j < n; ++j) {
        if (angleDifference(reference, angles[j]) < cdMaxTangentAngleDeviation) {
            last = j;
            deviations = 0;
        } else if (deviations + 1 > csMaxTangentAngleDeviationCount) {
            break;
        } else {
            ++deviations;
        }
    }
    if (last - i <= csMinLengthForLineSegments)
        return j;
    if (nearSameBorder(points[i], points[last]))
        return j;
    lines.emplace_back(points[i], points[last]);
    return j;
}

bool ZoCSawCutExtractor::nearSameBorder(const CbVector2f& a, const CbVector2f& b) const {
    const float right = static_cast<float>(m_bitmap.width) - 1.0f - c_fBorderMargin;
    const float bottom = static_cast<float>(m_bitmap.height) - 1.0f - c_fBorderMargin;
    return (a.x <= c_fBorderMargin && b.x <= c_fBorderMargin) || (a.x >= right && b.x >= right) ||
           (a.y <= c_fBorderMargin && b.y <= c_fBorderMargin) || (a.y >= bottom && b.y >= bottom);
}

// =============================================================================================
// Edges: segments merged when nearly parallel, close and in line
// =============================================================================================

void ZoCSawCutExtractor::combineSegments(std::vector<ZoNLine>& lines, std::vector<ZoNEdge>& edges) {
    for (ZoNLine& seed : lines) {
        if (seed.m_bUsed)
            continue;
        seed.m_bUsed = true;
        ZoNEdge edge(seed);
        bool grown;
        do {
            grown = false;
            for (ZoNLine& line : lines)
                grown = extend(edge, line) || grown;
        } while (grown);
        edges.push_back(edge);
    }
}

namespace {
// Signed distance from a's centre, along a's normal, of b's end point nearer to a (the one
// whose smaller distance to a's end points is smaller; the start on a tie).
double lateralOffset(const ZoCSawCutExtractor::ZoNLine& a, const ZoCSawCutExtractor::ZoNLine& b) {
    auto nearest = [&](const CbVector2f& p) {
        return std::min(distance(p, a.GetStart()), distance(p, a.GetEnd()));
    };
    const CbVector2f& p = nearest(b.GetStart()) <= nearest(b.GetEnd()) ? b.GetStart() : b.GetEnd();
    return (Vec2(p) - Vec2(a.GetCentre())).Dot(Vec2(a.GetNormal()));
}
}  // namespace

bool ZoCSawCutExtractor::extend(ZoNEdge& edge, ZoNLine& line) {
    if (line.m_bUsed)
        return false;
    const double c = Vec2(edge.GetNormal()).Dot(Vec2(line.GetNormal()));
    if (c < cdMinCosAngleForLineExtension)
        return false;
    const double gap =
        1.0 + std::min({distance(edge.GetStart(), line.GetStart()), distance(edge.GetStart(), line.GetEnd()),
                        distance(edge.GetEnd(), line.GetStart()), distance(edge.GetEnd(), line.GetEnd())});
    if (std::min(edge.GetLength(), line.GetLength()) / gap < cdMinLengthToDistanceRatioForLineExtension)
        return false;
    // The more parallel, the smaller the weight: a parallel segment may lie further aside.
    const double weight =
        (1.0 - (c - cdMinCosAngleForLineExtension) / (1.0 - cdMinCosAngleForLineExtension)) * 0.6 + 0.4;
    const double scale = gap / c_dGapScale;
    const double offsetOfLine = std::fabs(lateralOffset(edge, line)) * weight / scale;
    const double offsetOfEdge = std::fabs(lateralOffset(line, edge)) * weight / scale;
    if (offsetOfLine > cdMaxEndpointDistanceForLineExtension &&
        offsetOfEdge > cdMaxEndpointDistanceForLineExtension)
        return false;
    edge.ExtendTo(line.GetStart());
    edge.ExtendTo(line.GetEnd());
    line.m_bUsed = true;
    return true;
}

// =============================================================================================
// Pairs: edges whose outward normals face each other across a gap of 2 to 150 pixels
// =============================================================================================

double ZoCSawCutExtractor::pairScore(const ZoNEdge& e1, const ZoNEdge& e2) {
    const double c = -Vec2(e1.GetNormal()).Dot(Vec2(e2.GetNormal()));
    if (c < cdMinCosAngleForEdgePairing)
        return 0.0;
    const double d = distance(e1.GetCentre(), e2.GetCentre());
    if (d > std::min(e1.GetLength(), e2.GetLength()))
        return 0.0;
    auto inGap = [](const ZoNLine& from, const CbVector2f& p) {
        const double s = (Vec2(p) - Vec2(from.GetCentre())).Dot(Vec2(from.GetNormal()));
        return s >= cdMinEdgeDistanceForPairing && s <= cdMaxEdgeDistanceForPairing;
    };
    if (!inGap(e1, e2.GetStart()) || !inGap(e1, e2.GetEnd()) || !inGap(e2, e1.GetStart()) ||
        !inGap(e2, e1.GetEnd()))
        return 0.0;
    double r = e1.GetLength() / e2.GetLength();
    if (r > 1.0)
        r = 1.0 / r;
    return std::sqrt(1.0 / d) * r *
           (std::fabs(c - cdMinCosAngleForEdgePairing) / (1.0 - cdMinCosAngleForEdgePairing) * 0.75 + 0.25);
}

ZoCSawCutExtractor::ZoNSawCut ZoCSawCutExtractor::buildSawCut(const ZoNEdge& e1, const ZoNEdge& e2) {
    const Vec2 n1(e1.GetNormal()), n2(e2.GetNormal()), c1(e1.GetCentre()), c2(e2.GetCentre());
    // Half-way across the gap; paired normals face each other, so the divisor is about 2.
    const double t = (c1 - c2).Dot(n2) / (1.0 - n1.Dot(n2));
    const Vec2 m = c1 + n1 * t;
    const Vec2 n = unit(n1 - n2);
    auto project = [&](const CbVector2f& p) { return (Vec2(p) - n * (Vec2(p) - m).Dot(n)).ToFloat(); };
    ZoNSawCut cut(project(e1.GetStart()), project(e1.GetEnd()));
    cut.ExtendTo(project(e2.GetStart()));
    cut.ExtendTo(project(e2.GetEnd()));
    cut.m_dHalfWidth = std::max(std::fabs((Vec2(cut.GetStart()) - c1).Dot(n1)),
                                std::fabs((Vec2(cut.GetEnd()) - c1).Dot(n1)));
    return cut;
}

void ZoCSawCutExtractor::findSawCuts(std::vector<ZoNEdge>& edges, std::vector<ZoNSawCut>& out) {
    struct Scored {
        double score;
        size_t i, j;
    };
    std::vector<Scored> scored;
    for (size_t i = 0; i < edges.size(); ++i)
        for (size_t j = i + 1; j < edges.size(); ++j) {
            const double s = pairScore(edges[i], edges[j]);
            if (s != 0.0)
                scored.push_back({s, i, j});
        }
    // Best first; a stable order takes the first of equal scores first.
    std::stable_sort(scored.begin(), scored.end(),
                     [](const Scored& a, const Scored& b) { return a.score > b.score; });
    for (const Scored& pair : scored) {
        ZoNEdge& e1 = edges[pair.i];
        ZoNEdge& e2 = edges[pair.j];
        if (e1.m_bPaired || e2.m_bPaired)
            continue;
        ZoNSawCut cut = buildSawCut(e1, e2);
        e1.m_bPaired = e2.m_bPaired = true;
        cut.m_bValid = validate(cut);
        out.push_back(cut);
    }
}

// =============================================================================================
// Validation against the guide line: long, steep to the nearby guide line, and crossing it
// =============================================================================================

bool ZoCSawCutExtractor::validate(const ZoNSawCut& cut) const {
    if (cut.GetLength() < static_cast<double>(csMinLengthForSawCutValidation))
        return false;
    if (guideLineCosine(cut) > cdMinCosAngleForSawCutValidation)
        return false;
    double t = 0;
    return intersectGuideLine(cut, t);
}

// |cos| between the cut and the guide line's tangent, averaged over the guide line with the
// nearest parts weighted most.
double ZoCSawCutExtractor::guideLineCosine(const ZoNSawCut& cut) const {
    double distances[c_iGuideLineIntervals + 1];
    double dmin = DBL_MAX, dmax = DBL_MIN;
    for (int k = 0; k <= c_iGuideLineIntervals; ++k) {
        const double t = static_cast<double>(k) / c_iGuideLineIntervals;
        distances[k] = distance(cut.GetCentre(), m_guideLine.At(t));
        dmin = std::min(dmin, distances[k]);
        dmax = std::max(dmax, distances[k]);
    }
    const double range = dmax - dmin;
    const Vec2 direction(cut.GetDirection());
    double sum = 0, weights = 0;
    for (int k = 0; k <= c_iGuideLineIntervals; ++k) {
        const double t = static_cast<double>(k) / c_iGuideLineIntervals;
        const Vec2 tangent =
            unit(Vec2(m_guideLine.At(std::min(t + c_dGuideLineTangentStep, 1.0))) - Vec2(m_guideLine.At(t)));
        // A guide line at one distance everywhere (a single point) weighs all samples alike.
        const double weight = range > 0 ? 1.0 - (distances[k] - dmin) / range : 1.0;
        sum += std::fabs(direction.Dot(tangent)) * weight;
        weights += weight;
    }
    return weights > 0 ? sum / weights : 0.0;
}

// n . (P(t) - centre) = 0 is a t^2 + b t + c = 0 with a = n . c2, b = n . c1, c = n . (c0 - centre).
bool ZoCSawCutExtractor::intersectGuideLine(const ZoNSawCut& cut, double& t) const {
    const Vec2 n(cut.GetNormal()), centre(cut.GetCentre());
    const double a = n.Dot(Vec2(m_guideLine.c2));
    const double b = n.Dot(Vec2(m_guideLine.c1));
    if (std::fabs(a) < c_dMinQuadraticTerm)
        return false;
    const double h = b / (2.0 * a);
    const double q = n.Dot(centre - Vec2(m_guideLine.c0)) / a + h * h;
    if (q < 0)
        return false;
    const double t1 = std::sqrt(q) - h;
    const double t2 = -h - std::sqrt(q);
    t = t1;
    if (t2 >= 0.0 && t2 <= 1.0) {
        if (t1 < 0)
            t = t2;
        else if (distance(m_guideLine.At(t1), cut.GetCentre()) >
                 distance(m_guideLine.At(t2), cut.GetCentre()))
            t = t2;
    }
    return t >= 0.0 && t <= 1.0;
}
