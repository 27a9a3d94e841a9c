// Cubic Hermite spline with Catmull-Rom tangents, sampled for arc-length queries.
#include "Geometry.h"

#include <algorithm>

namespace {
// The curve parameter clamped to [0, n - 1]; NaN reads as the start, so that the segment index
// is always a valid integer.
float clampParameter(float t, int n) {
    return t > 0 ? std::min(t, static_cast<float>(n - 1)) : 0.0f;
}
}  // namespace

CyHermiteSpline::CyHermiteSpline(std::vector<CbVector3f> controlPoints) {
    SetControlPoints(std::move(controlPoints));
}

void CyHermiteSpline::SetControlPoints(std::vector<CbVector3f> controlPoints) {
    m_points = std::move(controlPoints);
    Adjust();
}

void CyHermiteSpline::AddControlPoint(const CbVector3f& p) {
    m_points.push_back(p);
    Adjust();
}

void CyHermiteSpline::Adjust() {
    const size_t n = m_points.size();
    m_tangents.assign(n, CbVector3f());
    if (n < 2) return;
    // Interior points: half the chord of the neighbours; end points: the one-sided chord.
    m_tangents[0] = m_points[1] - m_points[0];
    m_tangents[n - 1] = m_points[n - 1] - m_points[n - 2];
    for (size_t i = 1; i + 1 < n; ++i) m_tangents[i] = (m_points[i + 1] - m_points[i - 1]) * 0.5f;
    m_subdivision.Clear();
    m_cumulative.clear();
    m_length = 0;
}

CbVector3f CyHermiteSpline::ComputePosition(float t) const {
    const int n = GetNumControlPoints();
    if (n == 0) return {};
    if (n == 1) return m_points[0];
    t = clampParameter(t, n);
    const int i = std::min(static_cast<int>(t), n - 2);
    const float u = t - static_cast<float>(i);
    const float u2 = u * u, u3 = u2 * u;
    const float h00 = 2 * u3 - 3 * u2 + 1, h10 = u3 - 2 * u2 + u, h01 = -2 * u3 + 3 * u2, h11 = u3 - u2;
    const size_t a = static_cast<size_t>(i), b = a + 1;
    return m_points[a] * h00 + m_tangents[a] * h10 + m_points[b] * h01 + m_tangents[b] * h11;
}

void CyHermiteSpline::ComputeDirectionVectors(float t, CbVector3f& tangent, CbVector3f& normal) const {
    const int n = GetNumControlPoints();
    tangent = CbVector3f();
    normal = CbVector3f();
    if (n < 2) return;
    t = clampParameter(t, n);
    const int i = std::min(static_cast<int>(t), n - 2);
    const float u = t - static_cast<float>(i), u2 = u * u;
    const float d00 = 6 * u2 - 6 * u, d10 = 3 * u2 - 4 * u + 1, d01 = -6 * u2 + 6 * u, d11 = 3 * u2 - 2 * u;
    const size_t a = static_cast<size_t>(i), b = a + 1;
    tangent = (m_points[a] * d00 + m_tangents[a] * d10 + m_points[b] * d01 + m_tangents[b] * d11).Normalized();
    normal = CbVector3f(0, 0, 1).Cross(tangent).Normalized();
}

float CyHermiteSpline::SubdivideByLength(int samplesPerSegment) {
    m_subdivision.Clear();
    m_cumulative.clear();
    m_length = 0;
    const int n = GetNumControlPoints();
    if (n == 0) return 0;
    samplesPerSegment = std::max(1, samplesPerSegment);
    const int total = std::max(1, (n - 1) * samplesPerSegment);
    double length = 0;
    for (int k = 0; k <= total; ++k) {
        const CbVector3f p = ComputePosition(static_cast<float>(n - 1) * static_cast<float>(k) / total);
        if (k > 0) length += (p - m_subdivision[m_subdivision.GetCount() - 1]).Length();
        m_subdivision.Add(p);
        m_cumulative.push_back(static_cast<float>(length));
    }
    m_length = static_cast<float>(length);
    return m_length;
}

CbVector3f CyHermiteSpline::ComputePositionAtLength(float s) const {
    if (m_cumulative.empty()) return GetNumControlPoints() ? m_points[0] : CbVector3f();
    // Written so that NaN in s or in the length (knots at NaN, Inf or so far apart that the
    // length overflows) ends at one of the two ends rather than outside the samples.
    if (!(s > 0)) return m_subdivision[0];
    if (!(s < m_length) || m_cumulative.size() < 2) return m_subdivision[m_subdivision.GetCount() - 1];
    const auto it = std::upper_bound(m_cumulative.begin(), m_cumulative.end(), s);
    const size_t hi = std::clamp<size_t>(static_cast<size_t>(it - m_cumulative.begin()), 1, m_cumulative.size() - 1);
    const size_t lo = hi - 1;
    const float span = m_cumulative[hi] - m_cumulative[lo];
    const float f = span > 0 ? (s - m_cumulative[lo]) / span : 0.0f;
    const CbVector3f& a = m_subdivision[static_cast<int>(lo)];
    const CbVector3f& b = m_subdivision[static_cast<int>(hi)];
    return a + (b - a) * f;
}
