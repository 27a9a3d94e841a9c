// Image tools component: small image-processing tools the library calls on recorded images.
// Each tool has its own section below.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

// =============================================================================================
// Regions of a binary image: padded image, boundary tracing and pixel polygons
// =============================================================================================
//
// Coordinates are pixel indices: x to the right, y down; a pixel's centre is at its integer
// coordinates. Neighbouring pixels are 8-connected. Step directions between neighbours are
// numbered counter-clockwise as seen on the screen:
//
//      3 2 1        3 NW   2 N   1 NE
//      4 . 0        4 W          0 E
//      5 6 7        5 SW   6 S   7 SE
//
// Even directions are straight steps (length 1), odd ones diagonal (length sqrt 2).

struct ZoNPixelStep {
    static constexpr int c_aiDx[8] = {1, 1, 0, -1, -1, -1, 0, 1};
    static constexpr int c_aiDy[8] = {0, -1, -1, -1, 0, 1, 1, 1};
    static bool IsDiagonal(uint8_t direction) { return (direction & 1u) != 0; }
};

struct ZoNPixel {
    int x = 0;
    int y = 0;
    friend bool operator==(const ZoNPixel&, const ZoNPixel&) = default;
};

// A byte image inside a border of one pixel holding 0, so that looking at the eight
// neighbours of any inner pixel needs no bounds checks.
class ZoCPaddedImage {
public:
    ZoCPaddedImage() = default;
    // Copies width x height bytes, row by row `stride` bytes apart. A negative size or a null
    // source with a non-empty size gives an empty image.
    ZoCPaddedImage(const uint8_t* pixels, int width, int height, ptrdiff_t stride);

    int GetWidth() const { return m_iWidth; }
    int GetHeight() const { return m_iHeight; }
    bool IsEmpty() const { return m_iWidth == 0 || m_iHeight == 0; }
    // Pixel (x, y) with -1 <= x <= width and -1 <= y <= height (the border reads 0).
    uint8_t At(int x, int y) const { return m_pixels[offset(x, y)]; }
    void Set(int x, int y, uint8_t value) { m_pixels[offset(x, y)] = value; }
    // Sets the pixels x0..x1 (inclusive) of row y to `value`, clipped to the inner image.
    void FillSpan(int y, int x0, int x1, uint8_t value);
    // The first inner pixel equal to `value` at or after (x, y) in row-major order; false when
    // there is none. Pixels before (x, y) are not looked at, so a caller that clears what it
    // has found can resume where it stopped.
    bool FindNext(uint8_t value, int& x, int& y) const;

    // Raw access for the tracer: the padded rows are PaddedStride() bytes apart and the inner
    // pixel (x, y) lies at PaddedOrigin() + y * PaddedStride() + x.
    const uint8_t* PaddedOrigin() const { return m_pixels.data() + m_iStride + 1; }
    ptrdiff_t PaddedStride() const { return m_iStride; }

private:
    size_t offset(int x, int y) const {
        return static_cast<size_t>((static_cast<ptrdiff_t>(y) + 1) * m_iStride + x + 1);
    }
    int m_iWidth = 0;
    int m_iHeight = 0;
    ptrdiff_t m_iStride = 0;
    std::vector<uint8_t> m_pixels;
};

// The closed boundary of one region: its start pixel and the steps (directions 0..7) that lead
// from boundary pixel to boundary pixel and back to the start. A region of one pixel has no
// steps.
class ZoCPixelChain {
public:
    ZoCPixelChain() = default;
    ZoCPixelChain(ZoNPixel start, std::vector<uint8_t> steps);

    // False for a default-constructed chain (no region was traced).
    bool IsValid() const { return m_bValid; }
    const ZoNPixel& GetStart() const { return m_start; }
    const std::vector<uint8_t>& GetSteps() const { return m_steps; }
    size_t GetStraightStepCount() const;
    size_t GetDiagonalStepCount() const { return m_steps.size() - GetStraightStepCount(); }
    // The boundary pixels in chain order, starting at the start pixel (one per step; the
    // start pixel alone for a single-pixel region).
    std::vector<ZoNPixel> GetPixels() const;

private:
    bool m_bValid = false;
    ZoNPixel m_start;
    std::vector<uint8_t> m_steps;
};

// Boundary tracing (border following after Suzuki and Abe): the outer boundary of an
// 8-connected region, walked so that the region lies on the left of each step as seen on the
// screen (counter-clockwise on the screen; on a boundary running east the region lies above).
// A boundary pixel where the region is one pixel wide is visited once from each side.
class ZoCBoundaryTracer {
public:
    // The outer boundary of the region of pixels equal to `value` that contains `start`.
    // `start` must be the region's first pixel in row-major order, as a raster scan finds it
    // when every pixel before it differs from `value`. An invalid chain when `start` lies
    // outside the image, differs from `value`, or has a west, north-west, north or north-east
    // neighbour equal to `value` (then it cannot be such a first pixel).
    static ZoCPixelChain TraceOuterBoundary(const ZoCPaddedImage& image, ZoNPixel start, uint8_t value);
};

// A region given by its boundary chain: the polygon through the centres of the boundary
// pixels. Its margin pixels are the boundary pixels in chain order; its area pixels are the
// pixels whose centres lie inside the polygon or on it, holes of the region included. The
// contour length is the caller's measure of the boundary, kept with the polygon.
class ZoCPixelPolygon {
public:
    // Pixels x0..x1 (inclusive) of row y.
    struct ZoNSpan {
        int y = 0;
        int x0 = 0;
        int x1 = 0;
        friend bool operator==(const ZoNSpan&, const ZoNSpan&) = default;
    };

    // Walks the margin pixels in chain order.
    class CIterMargin {
    public:
        explicit CIterMargin(const ZoCPixelPolygon& polygon) : m_polygon(polygon) {}
        explicit operator bool() const { return m_index < m_polygon.m_margin.size(); }
        CIterMargin& operator++() {
            ++m_index;
            return *this;
        }
        const ZoNPixel& operator*() const { return m_polygon.m_margin[m_index]; }
        const ZoNPixel* operator->() const { return &m_polygon.m_margin[m_index]; }

    private:
        const ZoCPixelPolygon& m_polygon;
        size_t m_index = 0;
    };

    // Walks the area pixels row by row, left to right.
    class CIterArea {
    public:
        explicit CIterArea(const ZoCPixelPolygon& polygon);
        explicit operator bool() const { return m_span < m_polygon.m_spans.size(); }
        CIterArea& operator++();
        const ZoNPixel& operator*() const { return m_pixel; }
        const ZoNPixel* operator->() const { return &m_pixel; }

    private:
        const ZoCPixelPolygon& m_polygon;
        size_t m_span = 0;
        ZoNPixel m_pixel;
    };

    ZoCPixelPolygon() = default;
    // An invalid chain gives an empty polygon.
    ZoCPixelPolygon(const ZoCPixelChain& chain, double contourLength);

    double GetContourLength() const { return m_dContourLength; }
    size_t GetMarginCount() const { return m_margin.size(); }
    // Number of area pixels.
    int64_t GetArea() const { return m_iArea; }
    // The area as disjoint spans, by row and then by x.
    const std::vector<ZoNSpan>& GetAreaSpans() const { return m_spans; }

private:
    void computeArea(const std::vector<uint8_t>& steps);

    double m_dContourLength = 0;
    std::vector<ZoNPixel> m_margin;
    std::vector<ZoNSpan> m_spans;
    int64_t m_iArea = 0;
};
