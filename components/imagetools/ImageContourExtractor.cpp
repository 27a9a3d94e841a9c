// Profiles of a gray image along a cross line.
#include "JawCenterlineTools.h"

#include <algorithm>
#include <cmath>

namespace jawcenterline {

ZoCImageContourExtractor::ZoCImageContourExtractor(const ZoCGrayImage& image, const CbVector2f& direction,
                                                   const ZoNImagePos& pos, int halfLength)
    : m_image(image), m_pos(pos), m_iHalfLength(std::max(halfLength, 0)) {
    const float length = std::hypot(direction.x, direction.y);
    if (length > 0 && std::isfinite(length))
        m_direction = CbVector2f(direction.x / length, direction.y / length);
}

ZoNImagePos ZoCImageContourExtractor::GetImagePosByLinesPos(int offset) const {
    const float o = static_cast<float>(offset);
    return {m_pos.x + static_cast<int>(std::lround(o * m_direction.x)),
            m_pos.y + static_cast<int>(std::lround(o * m_direction.y))};
}

std::vector<std::pair<int, float>> ZoCImageContourExtractor::GetObjectW(int object) const {
    std::vector<std::pair<int, float>> out;
    if ((object != 0 && object != 1) || (m_direction.x == 0 && m_direction.y == 0))
        return out;
    const int n = 2 * m_iHalfLength + 1;
    std::vector<float> raw(static_cast<size_t>(n));
    std::vector<bool> inside(static_cast<size_t>(n));
    for (int k = 0; k < n; ++k) {
        const ZoNImagePos p = GetImagePosByLinesPos(k - m_iHalfLength);
        inside[k] = m_image.IsInside(p.x, p.y);
        raw[k] = m_image.GetValue(p.x, p.y);
    }
    std::vector<float> values = raw;
    if (object == 0) {
        // Closing: the largest value within the gap radius, then the least of those.
        auto filter = [n](const std::vector<float>& in, bool takeMax) {
            std::vector<float> result(in.size());
            for (int k = 0; k < n; ++k) {
                float v = in[k];
                for (int j = std::max(0, k - c_iGapRadius); j <= std::min(n - 1, k + c_iGapRadius); ++j)
                    v = takeMax ? std::max(v, in[j]) : std::min(v, in[j]);
                result[k] = v;
            }
            return result;
        };
        values = filter(filter(raw, true), false);
        for (int k = 0; k < n; ++k)
            values[k] += c_fDistanceWeight * static_cast<float>(std::abs(k - m_iHalfLength));
    }
    for (int k = 0; k < n; ++k)
        if (inside[k])
            out.emplace_back(k - m_iHalfLength, values[k]);
    return out;
}

}  // namespace jawcenterline
