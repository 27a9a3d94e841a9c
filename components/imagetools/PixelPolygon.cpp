// A region as the polygon through the centres of its boundary pixels.
#include "ImageTools.h"

#include <algorithm>
#include <climits>

namespace {
// Where a non-horizontal polygon edge crosses the scan line just below the centres of a row
// (y + epsilon): at the x of its upper end point, leaning by `slope` (the x change over the
// edge's one-row height). `winding` is +1 for an edge running down the screen, -1 up.
struct Crossing {
    int x;
    int slope;
    int winding;
    bool operator<(const Crossing& o) const { return x != o.x ? x < o.x : slope < o.slope; }
};
}  // namespace

ZoCPixelPolygon::ZoCPixelPolygon(const ZoCPixelChain& chain, double contourLength)
    : m_dContourLength(contourLength), m_margin(chain.GetPixels()) {
    if (!m_margin.empty())
        computeArea(chain.GetSteps());
}

// =============================================================================================
// Scan-line fill with the non-zero winding rule.
//
// The polygon's vertices are pixel centres and its edges join 8-neighbours, so every
// non-horizontal edge spans exactly one row. Each row is cut by the scan line y + epsilon:
// an edge from row y to row y + 1 crosses it at its upper end's x (tilted by its slope, which
// orders crossings at the same x). Between crossings where the running winding number is not
// zero the pixel centres lie inside the polygon. Pixels on the polygon itself are its vertices
// (no other pixel centre lies on an edge between neighbours), so the boundary pixels are
// added to the spans; they also give the lowest rows, which no edge crosses below.
// =============================================================================================

void ZoCPixelPolygon::computeArea(const std::vector<uint8_t>& steps) {
    int top = INT_MAX, bottom = INT_MIN;
    for (const ZoNPixel& p : m_margin) {
        top = std::min(top, p.y);
        bottom = std::max(bottom, p.y);
    }
    const size_t rows = static_cast<size_t>(bottom - top) + 1;

    // Crossings bucketed by row (counting sort): count, then place.
    std::vector<size_t> rowStart(rows + 1, 0);
    const size_t n = m_margin.size();
    const size_t edges = steps.size();  // 0 for a single pixel
    for (size_t i = 0; i < edges; ++i) {
        const int dy = ZoNPixelStep::c_aiDy[steps[i]];
        if (dy != 0)
            ++rowStart[static_cast<size_t>(std::min(m_margin[i].y, m_margin[i].y + dy) - top) + 1];
    }
    for (size_t r = 0; r < rows; ++r)
        rowStart[r + 1] += rowStart[r];
    std::vector<Crossing> crossings(rowStart[rows]);
    std::vector<size_t> fill(rowStart.begin(), rowStart.end() - 1);
    for (size_t i = 0; i < edges; ++i) {
        const uint8_t d = steps[i];
        const int dy = ZoNPixelStep::c_aiDy[d];
        if (dy == 0)
            continue;
        const ZoNPixel& a = m_margin[i];
        const ZoNPixel& b = m_margin[(i + 1) % n];
        const ZoNPixel& upper = dy > 0 ? a : b;
        const ZoNPixel& lower = dy > 0 ? b : a;
        crossings[fill[static_cast<size_t>(upper.y - top)]++] = {upper.x, lower.x - upper.x, dy};
    }

    // Boundary pixels bucketed by row the same way.
    std::vector<size_t> marginStart(rows + 1, 0);
    for (const ZoNPixel& p : m_margin)
        ++marginStart[static_cast<size_t>(p.y - top) + 1];
    for (size_t r = 0; r < rows; ++r)
        marginStart[r + 1] += marginStart[r];
    std::vector<int> marginX(n);
    fill.assign(marginStart.begin(), marginStart.end() - 1);
    for (const ZoNPixel& p : m_margin)
        marginX[fill[static_cast<size_t>(p.y - top)]++] = p.x;

    std::vector<ZoNSpan> rowSpans;
    for (size_t r = 0; r < rows; ++r) {
        const int y = top + static_cast<int>(r);
        rowSpans.clear();
        std::sort(crossings.begin() + static_cast<ptrdiff_t>(rowStart[r]),
                  crossings.begin() + static_cast<ptrdiff_t>(rowStart[r + 1]));
        int winding = 0, spanStart = 0;
        for (size_t c = rowStart[r]; c < rowStart[r + 1]; ++c) {
            if (winding == 0)
                spanStart = crossings[c].x;
            winding += crossings[c].winding;
            if (winding == 0)
                rowSpans.push_back({y, spanStart, crossings[c].x});
        }
        for (size_t m = marginStart[r]; m < marginStart[r + 1]; ++m)
            rowSpans.push_back({y, marginX[m], marginX[m]});
        std::sort(rowSpans.begin(), rowSpans.end(),
                  [](const ZoNSpan& a, const ZoNSpan& b) { return a.x0 < b.x0; });
        // Merge overlapping and touching spans.
        for (const ZoNSpan& s : rowSpans) {
            if (!m_spans.empty() && m_spans.back().y == y && s.x0 <= m_spans.back().x1 + 1)
                m_spans.back().x1 = std::max(m_spans.back().x1, s.x1);
            else
                m_spans.push_back(s);
        }
    }
    for (const ZoNSpan& s : m_spans)
        m_iArea += s.x1 - s.x0 + 1;
}

ZoCPixelPolygon::CIterArea::CIterArea(const ZoCPixelPolygon& polygon) : m_polygon(polygon) {
    if (!m_polygon.m_spans.empty())
        m_pixel = {m_polygon.m_spans[0].x0, m_polygon.m_spans[0].y};
}

ZoCPixelPolygon::CIterArea& ZoCPixelPolygon::CIterArea::operator++() {
    if (m_span >= m_polygon.m_spans.size())
        return *this;
    if (m_pixel.x < m_polygon.m_spans[m_span].x1) {
        ++m_pixel.x;
    } else if (++m_span < m_polygon.m_spans.size()) {
        m_pixel = {m_polygon.m_spans[m_span].x0, m_polygon.m_spans[m_span].y};
    }
    return *this;
}
