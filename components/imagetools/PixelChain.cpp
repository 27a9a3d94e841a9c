// The closed boundary chain of one region.
#include "ImageTools.h"

#include <algorithm>

ZoCPixelChain::ZoCPixelChain(ZoNPixel start, std::vector<uint8_t> steps)
    : m_bValid(true), m_start(start), m_steps(std::move(steps)) {
    for (uint8_t& s : m_steps)
        s &= 7u;
}

size_t ZoCPixelChain::GetStraightStepCount() const {
    return static_cast<size_t>(std::count_if(m_steps.begin(), m_steps.end(),
                                             [](uint8_t d) { return !ZoNPixelStep::IsDiagonal(d); }));
}

std::vector<ZoNPixel> ZoCPixelChain::GetPixels() const {
    std::vector<ZoNPixel> pixels;
    if (!m_bValid)
        return pixels;
    pixels.reserve(std::max<size_t>(m_steps.size(), 1));
    ZoNPixel p = m_start;
    pixels.push_back(p);
    // The last step returns to the start, which is already listed.
    for (size_t i = 0; i + 1 < m_steps.size(); ++i) {
        p.x += ZoNPixelStep::c_aiDx[m_steps[i]];
        p.y += ZoNPixelStep::c_aiDy[m_steps[i]];
        pixels.push_back(p);
    }
    return pixels;
}
