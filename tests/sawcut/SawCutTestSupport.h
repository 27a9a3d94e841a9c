// Bitmaps drawn for the saw-cut tests, and independent region computations to check the
// boundary tracer and the pixel polygon against.
#pragma once

#include "ImageTools.h"
#include "ZoCSawCutExtractor.h"

#include <cmath>
#include <cstdint>
#include <queue>
#include <random>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace sawcuttest {

using Bitmap = ZoCSawCutExtractor::ZoNBitmap;
constexpr uint8_t c_uValid = ZoCSawCutExtractor::cuValid;

// A bitmap from rows of text: '#' valid, anything else empty.
inline Bitmap FromText(const std::vector<std::string>& rows) {
    Bitmap b(rows.empty() ? 0 : static_cast<int>(rows[0].size()), static_cast<int>(rows.size()));
    for (int y = 0; y < b.height; ++y)
        for (int x = 0; x < b.width; ++x)
            b.At(x, y) = rows[static_cast<size_t>(y)][static_cast<size_t>(x)] == '#' ? c_uValid : 0;
    return b;
}

// Fills the axis-parallel rectangle of pixels x0..x1, y0..y1 (inclusive, clipped).
inline void FillRect(Bitmap& b, int x0, int y0, int x1, int y1, uint8_t value = c_uValid) {
    for (int y = std::max(y0, 0); y <= std::min(y1, b.height - 1); ++y)
        for (int x = std::max(x0, 0); x <= std::min(x1, b.width - 1); ++x)
            b.At(x, y) = value;
}

// Fills the pixels whose centres lie in the rectangle with centre c, half sizes (halfLength
// along `angleDeg`, halfWidth across it).
inline void FillRotatedRect(Bitmap& b, double cx, double cy, double halfLength, double halfWidth,
                            double angleDeg, uint8_t value = c_uValid) {
    const double a = angleDeg * 3.14159265358979 / 180.0, ux = std::cos(a), uy = std::sin(a);
    for (int y = 0; y < b.height; ++y)
        for (int x = 0; x < b.width; ++x) {
            const double dx = x - cx, dy = y - cy;
            if (std::fabs(dx * ux + dy * uy) <= halfLength && std::fabs(-dx * uy + dy * ux) <= halfWidth)
                b.At(x, y) = value;
        }
}

inline ZoCPaddedImage Padded(const Bitmap& b) {
    return ZoCPaddedImage(b.pixels.data(), b.width, b.height, b.width);
}

using PixelSet = std::set<std::pair<int, int>>;  // (y, x): row-major order

// The 8-connected component of `value` pixels containing (x, y), by breadth-first search.
inline PixelSet Component(const Bitmap& b, int x, int y, uint8_t value = c_uValid) {
    PixelSet seen;
    std::queue<std::pair<int, int>> todo;
    seen.insert({y, x});
    todo.push({y, x});
    while (!todo.empty()) {
        const auto [cy, cx] = todo.front();
        todo.pop();
        for (int dy = -1; dy <= 1; ++dy)
            for (int dx = -1; dx <= 1; ++dx) {
                const int nx = cx + dx, ny = cy + dy;
                if (nx < 0 || ny < 0 || nx >= b.width || ny >= b.height || b.At(nx, ny) != value)
                    continue;
                if (seen.insert({ny, nx}).second)
                    todo.push({ny, nx});
            }
    }
    return seen;
}

// The pixels not in `component` that are 4-connected to the outside of the image (the
// component alone decides: other regions count as background).
inline std::vector<uint8_t> OutsideOf(const PixelSet& component, int width, int height) {
    const int w = width + 2, h = height + 2;  // one pixel of outside all round
    std::vector<uint8_t> outside(static_cast<size_t>(w * h), 0);
    auto blocked = [&](int x, int y) { return component.count({y - 1, x - 1}) > 0; };
    std::queue<std::pair<int, int>> todo;
    outside[0] = 1;
    todo.push({0, 0});
    const int dx[4] = {1, -1, 0, 0}, dy[4] = {0, 0, 1, -1};
    while (!todo.empty()) {
        const auto [x, y] = todo.front();
        todo.pop();
        for (int k = 0; k < 4; ++k) {
            const int nx = x + dx[k], ny = y + dy[k];
            if (nx < 0 || ny < 0 || nx >= w || ny >= h || outside[static_cast<size_t>(ny * w + nx)] ||
                blocked(nx, ny))
                continue;
            outside[static_cast<size_t>(ny * w + nx)] = 1;
            todo.push({nx, ny});
        }
    }
    return outside;
}

// The component with its holes filled: every pixel not outside.
inline PixelSet Filled(const PixelSet& component, int width, int height) {
    const std::vector<uint8_t> outside = OutsideOf(component, width, height);
    PixelSet filled;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            if (!outside[static_cast<size_t>((y + 1) * (width + 2) + x + 1)])
                filled.insert({y, x});
    return filled;
}

// The component's pixels that touch the outside across a side (4-neighbourhood).
inline PixelSet OuterBorder(const PixelSet& component, int width, int height) {
    const std::vector<uint8_t> outside = OutsideOf(component, width, height);
    PixelSet border;
    const int dx[4] = {1, -1, 0, 0}, dy[4] = {0, 0, 1, -1};
    for (const auto& [y, x] : component)
        for (int k = 0; k < 4; ++k)
            if (outside[static_cast<size_t>((y + 1 + dy[k]) * (width + 2) + x + 1 + dx[k])]) {
                border.insert({y, x});
                break;
            }
    return border;
}

inline PixelSet AreaOf(const ZoCPixelPolygon& polygon) {
    PixelSet area;
    for (ZoCPixelPolygon::CIterArea it(polygon); it; ++it)
        area.insert({it->y, it->x});
    return area;
}

inline PixelSet MarginOf(const ZoCPixelPolygon& polygon) {
    PixelSet margin;
    for (ZoCPixelPolygon::CIterMargin it(polygon); it; ++it)
        margin.insert({it->y, it->x});
    return margin;
}

// A random bitmap: each pixel valid with probability `density`.
inline Bitmap RandomBitmap(std::mt19937_64& rng, int width, int height, double density) {
    Bitmap b(width, height);
    std::bernoulli_distribution valid(density);
    for (uint8_t& p : b.pixels)
        p = valid(rng) ? c_uValid : 0;
    return b;
}

// The extractor with its steps opened for the tests.
class ExtractorProbe : public ZoCSawCutExtractor {
public:
    using ZoCSawCutExtractor::buildSawCut;
    using ZoCSawCutExtractor::combineSegments;
    using ZoCSawCutExtractor::computeTangents;
    using ZoCSawCutExtractor::contourLength;
    using ZoCSawCutExtractor::extend;
    using ZoCSawCutExtractor::findSawCuts;
    using ZoCSawCutExtractor::findSegment;
    using ZoCSawCutExtractor::guideLineCosine;
    using ZoCSawCutExtractor::intersectGuideLine;
    using ZoCSawCutExtractor::pairScore;
    using ZoCSawCutExtractor::ZoCSawCutExtractor;
};

// A guide line through three points at t = 0, 1/2 and 1.
inline ZoCSawCutExtractor::ZoNGuideLine GuideThrough(double x0, double y0, double xm, double ym, double x1,
                                                     double y1) {
    double t[3] = {0.0, 0.5, 1.0}, xs[3] = {x0, xm, x1}, ys[3] = {y0, ym, y1};
    return {ZoCPolynomial::Fit(3, t, xs, 2), ZoCPolynomial::Fit(3, t, ys, 2)};
}

inline std::vector<ZoCSawCutExtractor::ZoNSawCut> cutsOf(const Bitmap& b,
                                                        const ZoCSawCutExtractor::ZoNGuideLine& guide = {}) {
    ZoCSawCutExtractor extractor(b, guide);
    std::vector<ZoCSawCutExtractor::ZoNSawCut> cuts;
    extractor.detectSawCuts(cuts);
    return cuts;
}

inline CbVector2f V(double x, double y) {
    return {static_cast<float>(x), static_cast<float>(y)};
}

}  // namespace sawcuttest
