// Image database component: per-pixel fields of a recorded 3D image. Fields share their
// storage, so copies are cheap and stay valid after the host releases the original.
#pragma once

#include "Geometry.h"

#include <cstdint>
#include <limits>
#include <memory>
#include <vector>

// Pixel rectangle; right and bottom are exclusive.
struct ZoCRect2 {
    int left = 0, top = 0, right = 0, bottom = 0;
    int Width() const { return right - left; }
    int Height() const { return bottom - top; }
    bool IsEmpty() const { return right <= left || bottom <= top; }
    friend bool operator==(const ZoCRect2&, const ZoCRect2&) = default;
};

// A width x height grid of values, stored row by row.
template <class T>
class ZoCField {
public:
    ZoCField() = default;
    ZoCField(int width, int height, T fill = T())
        : m_iWidth(width), m_iHeight(height),
          m_data(std::make_shared<std::vector<T>>(static_cast<size_t>(width) * static_cast<size_t>(height), fill)) {}

    int GetWidth() const { return m_iWidth; }
    int GetHeight() const { return m_iHeight; }
    bool IsEmpty() const { return !m_data || m_data->empty(); }
    const T& At(int x, int y) const { return (*m_data)[index(x, y)]; }
    // Writable access; detaches from copies that share the storage.
    T& At(int x, int y) {
        detach();
        return (*m_data)[index(x, y)];
    }
    const T* Data() const { return m_data ? m_data->data() : nullptr; }
    T* MutableData() {
        detach();
        return m_data ? m_data->data() : nullptr;
    }
    // Smallest rectangle within `within` that holds every value above `threshold`; empty
    // (all zero) when there is none.
    ZoCRect2 RectValid(T threshold, const ZoCRect2& within) const {
        ZoCRect2 r{within.right, within.bottom, within.left, within.top};
        const ZoCRect2 w = clip(within);
        for (int y = w.top; y < w.bottom; ++y)
            for (int x = w.left; x < w.right; ++x)
                if (At(x, y) > threshold) {
                    r.left = std::min(r.left, x);
                    r.top = std::min(r.top, y);
                    r.right = std::max(r.right, x + 1);
                    r.bottom = std::max(r.bottom, y + 1);
                }
        return r.IsEmpty() ? ZoCRect2{} : r;
    }
    ZoCRect2 FullRect() const { return {0, 0, m_iWidth, m_iHeight}; }

private:
    size_t index(int x, int y) const {
        return static_cast<size_t>(y) * static_cast<size_t>(m_iWidth) + static_cast<size_t>(x);
    }
    ZoCRect2 clip(const ZoCRect2& r) const {
        return {std::max(r.left, 0), std::max(r.top, 0), std::min(r.right, m_iWidth), std::min(r.bottom, m_iHeight)};
    }
    void detach() {
        if (m_data && m_data.use_count() > 1) m_data = std::make_shared<std::vector<T>>(*m_data);
    }
    int m_iWidth = 0;
    int m_iHeight = 0;
    std::shared_ptr<std::vector<T>> m_data;
};

// Range along each pixel's viewing ray; values <= 0 mark pixels without a measurement.
class ZoCFieldRange : public ZoCField<float> {
public:
    using ZoCField<float>::ZoCField;
};
class ZoCFieldIntensity : public ZoCField<uint8_t> {
public:
    using ZoCField<uint8_t>::ZoCField;
};
// Non-zero where the pixel belongs to the object.
class ZoCFieldMask : public ZoCField<uint8_t> {
public:
    using ZoCField<uint8_t>::ZoCField;
};

struct ZoCRay {
    CbVector3f m_origin;
    CbVector3f m_direction;
    CbVector3f GetCoord(float range) const { return m_origin + m_direction * range; }
};

// The viewing ray of every pixel. An orthographic field with 25 micrometre pixels (one
// image-area unit per pixel) reports IsOrtho25().
class ZoCFieldRay {
public:
    ZoCFieldRay() = default;
    ZoCFieldRay(int width, int height, std::vector<ZoCRay> rays, bool ortho25 = false);

    int GetWidth() const { return m_iWidth; }
    int GetHeight() const { return m_iHeight; }
    const ZoCRay& GetRay(int x, int y) const;
    CbVector3f GetCoord(int x, int y, float range) const { return GetRay(x, y).GetCoord(range); }
    bool IsOrtho25() const { return m_bOrtho25; }

private:
    int m_iWidth = 0;
    int m_iHeight = 0;
    std::shared_ptr<const std::vector<ZoCRay>> m_rays;
    bool m_bOrtho25 = false;
};

// A grid of 3D points. Empty cells hold exactly GetInvalidValue().
class ZoCFieldCoord {
public:
    ZoCFieldCoord() = default;
    // Points of the pixels with a positive range, taken through `transform` when given.
    ZoCFieldCoord(const ZoCFieldRay* rays, const ZoCFieldRange& range, const CbMatrix4Rf* transform);
    // A grid given point by point (row by row); cells equal to the invalid value are empty.
    ZoCFieldCoord(int width, int height, std::vector<CbVector3f> points);

    static CbVector3f InvalidValue() {
        const float m = std::numeric_limits<float>::max();
        return {m, m, m};
    }
    CbVector3f GetInvalidValue() const { return InvalidValue(); }
    int GetWidth() const { return m_iWidth; }
    int GetHeight() const { return m_iHeight; }
    // Smallest rectangle that holds every valid point.
    const ZoCRect2& RectValid() const { return m_rectValid; }
    CyBoundingBox3D GetBBox() const { return m_bbox; }
    // Raw access: the point of column x, row y is at Data() + x * ColumnStride() + y * RowStride() bytes.
    const uint8_t* Data() const;
    int64_t ColumnStride() const { return static_cast<int64_t>(sizeof(CbVector3f)); }
    int64_t RowStride() const { return static_cast<int64_t>(sizeof(CbVector3f)) * m_iWidth; }
    const CbVector3f& At(int x, int y) const;
    bool IsValid(int x, int y) const { return !(At(x, y) == InvalidValue()); }

private:
    void measure();
    int m_iWidth = 0;
    int m_iHeight = 0;
    std::shared_ptr<const std::vector<CbVector3f>> m_points;
    ZoCRect2 m_rectValid;
    CyBoundingBox3D m_bbox;
};
