// A byte image inside a one-pixel border of 0.
#include "ImageTools.h"

#include <algorithm>
#include <cstring>

ZoCPaddedImage::ZoCPaddedImage(const uint8_t* pixels, int width, int height, ptrdiff_t stride) {
    // A null or negative-sized source gives an empty image; an empty one still gets its border.
    if (width < 0 || height < 0 || ((width > 0 && height > 0) && (pixels == nullptr || stride < width)))
        width = height = 0;
    m_iWidth = width;
    m_iHeight = height;
    m_iStride = static_cast<ptrdiff_t>(width) + 2;
    m_pixels.assign(static_cast<size_t>(m_iStride) * (static_cast<size_t>(height) + 2), 0);
    for (int y = 0; y < height; ++y)
        std::memcpy(m_pixels.data() + offset(0, y), pixels + y * stride, static_cast<size_t>(width));
}

void ZoCPaddedImage::FillSpan(int y, int x0, int x1, uint8_t value) {
    if (y < 0 || y >= m_iHeight)
        return;
    x0 = std::max(x0, 0);
    x1 = std::min(x1, m_iWidth - 1);
    if (x0 > x1)
        return;
    std::memset(m_pixels.data() + offset(x0, y), value, static_cast<size_t>(x1 - x0 + 1));
}

bool ZoCPaddedImage::FindNext(uint8_t value, int& x, int& y) const {
    int startX = std::max(x, 0);
    for (int row = std::max(y, 0); row < m_iHeight; ++row, startX = 0) {
        if (startX >= m_iWidth)
            continue;
        // memchr looks at whole machine words at a time: the scan over empty rows costs little.
        const uint8_t* begin = m_pixels.data() + offset(startX, row);
        const void* hit = std::memchr(begin, value, static_cast<size_t>(m_iWidth - startX));
        if (hit) {
            x = startX + static_cast<int>(static_cast<const uint8_t*>(hit) - begin);
            y = row;
            return true;
        }
    }
    return false;
}
