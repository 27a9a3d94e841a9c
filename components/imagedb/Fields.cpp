// Point and ray fields of a recorded image.
#include "ImageDatabase.h"

#include <cmath>

ZoCFieldRay::ZoCFieldRay(int width, int height, std::vector<ZoCRay> rays, bool ortho25)
    : m_iWidth(width), m_iHeight(height), m_rays(std::make_shared<const std::vector<ZoCRay>>(std::move(rays))),
      m_bOrtho25(ortho25) {}

const ZoCRay& ZoCFieldRay::GetRay(int x, int y) const {
    return (*m_rays)[static_cast<size_t>(y) * static_cast<size_t>(m_iWidth) + static_cast<size_t>(x)];
}

ZoCFieldCoord::ZoCFieldCoord(const ZoCFieldRay* rays, const ZoCFieldRange& range, const CbMatrix4Rf* transform)
    : m_iWidth(range.GetWidth()), m_iHeight(range.GetHeight()) {
    std::vector<CbVector3f> points(static_cast<size_t>(m_iWidth) * static_cast<size_t>(m_iHeight), InvalidValue());
    if (rays && rays->GetWidth() == m_iWidth && rays->GetHeight() == m_iHeight) {
        for (int y = 0; y < m_iHeight; ++y)
            for (int x = 0; x < m_iWidth; ++x) {
                const float r = range.At(x, y);
                if (!(r > 0) || !std::isfinite(r)) continue;
                CbVector3f p = rays->GetCoord(x, y, r);
                if (transform) p = transform->TransformPoint(p);
                points[static_cast<size_t>(y) * static_cast<size_t>(m_iWidth) + static_cast<size_t>(x)] = p;
            }
    }
    m_points = std::make_shared<const std::vector<CbVector3f>>(std::move(points));
    measure();
}

ZoCFieldCoord::ZoCFieldCoord(int width, int height, std::vector<CbVector3f> points)
    : m_iWidth(width), m_iHeight(height) {
    points.resize(static_cast<size_t>(width) * static_cast<size_t>(height), InvalidValue());
    m_points = std::make_shared<const std::vector<CbVector3f>>(std::move(points));
    measure();
}

const uint8_t* ZoCFieldCoord::Data() const {
    return m_points ? reinterpret_cast<const uint8_t*>(m_points->data()) : nullptr;
}

const CbVector3f& ZoCFieldCoord::At(int x, int y) const {
    return (*m_points)[static_cast<size_t>(y) * static_cast<size_t>(m_iWidth) + static_cast<size_t>(x)];
}

void ZoCFieldCoord::measure() {
    ZoCRect2 r{m_iWidth, m_iHeight, 0, 0};
    const CbVector3f invalid = InvalidValue();
    for (int y = 0; y < m_iHeight; ++y) {
        const CbVector3f* row = m_points->data() + static_cast<size_t>(y) * static_cast<size_t>(m_iWidth);
        for (int x = 0; x < m_iWidth; ++x) {
            if (row[x] == invalid) continue;
            r.left = std::min(r.left, x);
            r.right = std::max(r.right, x + 1);
            r.top = std::min(r.top, y);
            r.bottom = std::max(r.bottom, y + 1);
            m_bbox.Add(row[x]);
        }
    }
    m_rectValid = r.IsEmpty() ? ZoCRect2{} : r;
}
