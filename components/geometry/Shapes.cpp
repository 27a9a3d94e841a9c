// Bounding boxes and polylines.
#include "Geometry.h"

#include <limits>

CyBoundingBox3D::CyBoundingBox3D()
    : m_min(std::numeric_limits<float>::max(), std::numeric_limits<float>::max(),
            std::numeric_limits<float>::max()),
      m_max(-std::numeric_limits<float>::max(), -std::numeric_limits<float>::max(),
            -std::numeric_limits<float>::max()) {}

void CyBoundingBox3D::Add(const CbVector3f& p) {
    m_min = {std::min(m_min.x, p.x), std::min(m_min.y, p.y), std::min(m_min.z, p.z)};
    m_max = {std::max(m_max.x, p.x), std::max(m_max.y, p.y), std::max(m_max.z, p.z)};
}

CbVector3f CyBoundingBox3D::GetCorner(int i) const {
    return {(i & 1) ? m_max.x : m_min.x, (i & 2) ? m_max.y : m_min.y, (i & 4) ? m_max.z : m_min.z};
}

float CyPolyline3D::GetLength() const {
    double length = 0;
    for (size_t i = 1; i < m_points.size(); ++i) length += (m_points[i] - m_points[i - 1]).Length();
    return static_cast<float>(length);
}

float CyPolyline3D::ComputeClosedArea(const CbVector3f& axis) const {
    // Shoelace formula on the cross products, projected onto the unit axis.
    const CbVector3f n = axis.Normalized();
    double area2 = 0;
    const size_t count = m_points.size();
    for (size_t i = 0; i < count; ++i) {
        const CbVector3f& a = m_points[i];
        const CbVector3f& b = m_points[(i + 1) % count];
        area2 += static_cast<double>(a.Cross(b).Dot(n));
    }
    return static_cast<float>(0.5 * area2);
}
