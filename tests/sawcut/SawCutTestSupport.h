// Bitmaps drawn for the saw-cut tests, and the extractor with its steps opened.
#pragma once

#include "ImageTools.h"
#include "ZoCSawCutExtractor.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

namespace sawcuttest {

using Bitmap = ZoCSawCutExtractor::ZoNBitmap;
constexpr uint8_t c_uValid = ZoCSawCutExtractor::cuValid;
constexpr double c_dPi = 3.14159265358979;

// Fills the pixels x0..x1, y0..y1 (inclusive, clipped).
inline void FillRect(Bitmap& b, int x0, int y0, int x1, int y1, uint8_t value = c_uValid) {
    for (int y = std::max(y0, 0); y <= std::min(y1, b.height - 1); ++y)
        for (int x = std::max(x0, 0); x <= std::min(x1, b.width - 1); ++x)
            b.At(x, y) = value;
}

inline CbVector2f V(double x, double y) {
    return {static_cast<float>(x), static_cast<float>(y)};
}

struct ExtractorProbe : ZoCSawCutExtractor {
    using ZoCSawCutExtractor::ZoCSawCutExtractor, ZoCSawCutExtractor::combineSegments,
        ZoCSawCutExtractor::computeTangents, ZoCSawCutExtractor::extend, ZoCSawCutExtractor::findSawCuts,
        ZoCSawCutExtractor::findSegment, ZoCSawCutExtractor::guideLineCosine,
        ZoCSawCutExtractor::intersectGuideLine, ZoCSawCutExtractor::pairScore;
};

}  // namespace sawcuttest
