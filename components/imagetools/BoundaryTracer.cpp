// Boundary tracing of 8-connected regions.
#include "ImageTools.h"

namespace {
// Directions that look back at the rows a raster scan has already passed: a region's first
// pixel in row-major order has none of its own pixels there.
constexpr uint8_t c_aAlreadyScanned[4] = {4 /* W */, 3 /* NW */, 2 /* N */, 1 /* NE */};

// Each pixel of an image is entered at most once per direction, so a walk longer than this
// would mean a broken image invariant; the tracer then gives up instead of looping.
int64_t stepLimit(const ZoCPaddedImage& image) {
    return 8 * static_cast<int64_t>(image.GetWidth()) * image.GetHeight() + 8;
}
}  // namespace

// =============================================================================================
// Border following (Suzuki and Abe, 1985), outer border of an 8-connected region.
//
// At the start pixel s (first of its region in row-major order) the neighbours are searched
// clockwise from the west; the first region pixel found, p1, is the predecessor of s on the
// border. Then, at each border pixel c reached from the previous pixel b, the neighbours of c
// are searched counter-clockwise starting just after b; the first region pixel is the next
// border pixel. The walk ends when it is about to step from p1 to s, which closes the chain.
// The search order keeps the outside on the right of every step as seen on the screen.
// =============================================================================================

ZoCPixelChain ZoCBoundaryTracer::TraceOuterBoundary(const ZoCPaddedImage& image, ZoNPixel start,
                                                    uint8_t value) {
    if (start.x < 0 || start.y < 0 || start.x >= image.GetWidth() || start.y >= image.GetHeight())
        return {};
    const ptrdiff_t stride = image.PaddedStride();
    ptrdiff_t offsets[8];
    for (int d = 0; d < 8; ++d)
        offsets[d] = ZoNPixelStep::c_aiDx[d] + ZoNPixelStep::c_aiDy[d] * stride;

    const uint8_t* const s = image.PaddedOrigin() + start.y * stride + start.x;
    if (*s != value)
        return {};
    for (uint8_t d : c_aAlreadyScanned)
        if (s[offsets[d]] == value)
            return {};

    // Predecessor: clockwise from the west.
    int toPredecessor = -1;
    for (int k = 0; k < 8 && toPredecessor < 0; ++k) {
        const int d = (4 - k) & 7;
        if (s[offsets[d]] == value)
            toPredecessor = d;
    }
    std::vector<uint8_t> steps;
    if (toPredecessor < 0)
        return ZoCPixelChain(start, std::move(steps));  // a single pixel

    const uint8_t* const predecessor = s + offsets[toPredecessor];
    const uint8_t* current = s;
    int back = toPredecessor;  // direction from the current pixel to the previous one
    const int64_t limit = stepLimit(image);
    for (int64_t n = 0; n < limit; ++n) {
        // Counter-clockwise from just after the previous pixel; the previous pixel itself is
        // the last candidate, so the search always succeeds.
        int d = back;
        do
            d = (d + 1) & 7;
        while (current[offsets[d]] != value && d != back);
        steps.push_back(static_cast<uint8_t>(d));
        const uint8_t* next = current + offsets[d];
        if (next == s && current == predecessor)
            return ZoCPixelChain(start, std::move(steps));
        back = (d + 4) & 7;
        current = next;
    }
    return {};
}
