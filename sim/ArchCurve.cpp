// Horseshoe centre line of a dental arch.
#include "ArchCurve.h"

#include <algorithm>
#include <cmath>

namespace Sim {

namespace {
constexpr float c_fPi = 3.14159265358979f;
constexpr int c_iSamples = 4096;
}  // namespace

ArchCurve::ArchCurve(float halfWidth, float halfDepth, float halfAngleDeg, float yOffset)
    : m_fHalfWidth(halfWidth),
      m_fHalfDepth(halfDepth),
      m_fHalfAngle(halfAngleDeg * c_fPi / 180.0f),
      m_fYOffset(yOffset) {
    // Arc length table over the angle; the ellipse's speed varies, so walking by length needs it.
    m_cumulative.resize(c_iSamples + 1, 0.0f);
    for (int i = 1; i <= c_iSamples; ++i) {
        const float a0 = -m_fHalfAngle + 2 * m_fHalfAngle * static_cast<float>(i - 1) / c_iSamples;
        const float a1 = -m_fHalfAngle + 2 * m_fHalfAngle * static_cast<float>(i) / c_iSamples;
        const float dx = m_fHalfWidth * (std::sin(a1) - std::sin(a0));
        const float dy = m_fHalfDepth * (std::cos(a1) - std::cos(a0));
        m_cumulative[static_cast<size_t>(i)] = m_cumulative[static_cast<size_t>(i - 1)] + std::hypot(dx, dy);
    }
    m_fLength = m_cumulative.back();
}

float ArchCurve::angleAt(float s) const {
    s = std::clamp(s, 0.0f, m_fLength);
    const auto it = std::lower_bound(m_cumulative.begin(), m_cumulative.end(), s);
    const size_t i = std::clamp<size_t>(static_cast<size_t>(it - m_cumulative.begin()), 1, c_iSamples);
    const float l0 = m_cumulative[i - 1], l1 = m_cumulative[i];
    const float f = l1 > l0 ? (s - l0) / (l1 - l0) : 0.0f;
    return -m_fHalfAngle + 2 * m_fHalfAngle * (static_cast<float>(i - 1) + f) / c_iSamples;
}

CbVector3f ArchCurve::Position(float s) const {
    const float a = angleAt(s);
    return {m_fHalfWidth * std::sin(a), -m_fHalfDepth * std::cos(a) + m_fYOffset, 0.0f};
}

CbVector3f ArchCurve::Tangent(float s) const {
    const float a = angleAt(s);
    return CbVector3f(m_fHalfWidth * std::cos(a), m_fHalfDepth * std::sin(a), 0.0f).Normalized();
}

CbVector3f ArchCurve::Outward(float s) const {
    // The angle grows from the left molars over the incisors to the right ones, so the
    // tangent turns counter-clockwise; its right-hand side (t.y, -t.x) faces outwards.
    const CbVector3f t = Tangent(s);
    return {t.y, -t.x, 0.0f};
}

ArchCurve DefaultArch() {
    // The ellipse's centre is moved so that the arch's extent in y is centred on the disc.
    const float halfDepth = 27.0f, halfAngle = 105.0f;
    const float yMin = -halfDepth, yMax = -halfDepth * std::cos(halfAngle * c_fPi / 180.0f);
    return ArchCurve(20.0f, halfDepth, halfAngle, -0.5f * (yMin + yMax));
}

}  // namespace Sim
