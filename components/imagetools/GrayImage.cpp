// The gray height image and its conversion between image and 3D coordinates.
#include "JawCenterlineTools.h"

#include <algorithm>

namespace jawcenterline {

void ZoCGrayImage::Resize(int width, int height) {
    if (width <= 0 || height <= 0)
        width = height = 0;
    m_iWidth = width;
    m_iHeight = height;
    m_pixels.assign(static_cast<size_t>(width) * static_cast<size_t>(height), 0);
}

void ZoCGrayImage::SetAllZero() {
    std::fill(m_pixels.begin(), m_pixels.end(), uint8_t{0});
}

void ZoCGrayImage::SetConversionParameterFrom2DTo3D(const CbVector3f& origin, const CbVector3f& pixelSize) {
    m_origin = origin;
    m_pixelSize = pixelSize;
}

CbVector3f ZoCGrayImage::ConvertFrom3DTo2D(const CbVector3f& p) const {
    auto axis = [](float v, float origin, float size) { return size != 0 ? (v - origin) / size : 0.0f; };
    return {axis(p.x, m_origin.x, m_pixelSize.x), axis(p.y, m_origin.y, m_pixelSize.y),
            axis(p.z, m_origin.z, m_pixelSize.z)};
}

CbVector3f ZoCGrayImage::ConvertFrom2DTo3D(float x, float y, float gray) const {
    return {m_origin.x + x * m_pixelSize.x, m_origin.y + y * m_pixelSize.y,
            m_origin.z + gray * m_pixelSize.z};
}

}  // namespace jawcenterline
