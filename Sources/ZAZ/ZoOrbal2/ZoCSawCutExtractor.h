// Saw cuts in one overview image. A sectioned model's dies are separated by saw cuts; seen
// from above, each cut is a narrow straight gap between regions that hold data. The extractor
// turns a range image into a bitmap of valid pixels, traces the boundary of every region,
// splits the boundaries into straight edges, pairs edges that face each other across a narrow
// gap, and accepts a pair as a saw cut when it crosses the guide line (the jaw line seen in
// the image) steeply. Everything is in pixel coordinates of the bitmap (x right, y down).
#pragma once

#include "Geometry.h"
#include "ImageDatabase.h"
#include "ImageTools.h"
#include "ZoCPolynomial.h"

#include <cstddef>
#include <cstdint>
#include <vector>

class ZoCSawCutExtractor {
public:
    // Half window of the tangent estimate along a boundary (boundary points on each side).
    static constexpr int ciTangentAngleWindowSize = 5;
    // Degrees a boundary tangent may turn and still count as straight.
    static constexpr double cdMaxTangentAngleDeviation = 7.5;
    // Consecutive deviating boundary points tolerated inside a straight segment.
    static constexpr size_t csMaxTangentAngleDeviationCount = 15;
    // A straight segment must span more than this many boundary points.
    static constexpr size_t csMinLengthForLineSegments = 20;
    // Merging a segment into an edge: least cosine between their normals, largest weighted
    // lateral offset, least ratio of the shorter length to the end-point gap.
    static constexpr double cdMinCosAngleForLineExtension = 0.985;
    static constexpr double cdMaxEndpointDistanceForLineExtension = 7.5;
    static constexpr double cdMinLengthToDistanceRatioForLineExtension = 0.4;
    // Pairing two edges across a gap: least cosine of their facing normals, and the gap's
    // least and largest width (pixels).
    static constexpr double cdMinCosAngleForEdgePairing = 0.985;
    static constexpr double cdMinEdgeDistanceForPairing = 2.0;
    static constexpr double cdMaxEdgeDistanceForPairing = 150.0;
    // A valid cut is at least this long (pixels) and its weighted cosine with the guide line is
    // at most this.
    static constexpr size_t csMinLengthForSawCutValidation = 300;
    static constexpr double cdMinCosAngleForSawCutValidation = 0.707;
    // Offered to callers that merge cuts by their crossings; the extractor itself does not use it.
    static constexpr double cdMaxIntersectionDistanceForSawCutMerging = 1.5;

    // Bits of the mask image that disqualify a pixel for the bitmap (0x040, 0x800): the
    // sensor's marks for measurements it does not trust. An 8-bit mask can carry only 0x040.
    static constexpr unsigned ciMaskBitsRejected = 0x040u | 0x800u;
    // Bitmap values.
    static constexpr uint8_t cuValid = 255;
    static constexpr uint8_t cuEmpty = 0;

    // width x height bytes, row-major: cuValid where the image holds data, cuEmpty elsewhere.
    struct ZoNBitmap {
        int width = 0;
        int height = 0;
        std::vector<uint8_t> pixels;

        ZoNBitmap() = default;
        // All empty; a negative size gives an empty bitmap.
        ZoNBitmap(int w, int h);
        bool IsConsistent() const {
            return width >= 0 && height >= 0 &&
                   pixels.size() == static_cast<size_t>(width) * static_cast<size_t>(height);
        }
        uint8_t& At(int x, int y) { return pixels[static_cast<size_t>(y) * static_cast<size_t>(width) + x]; }
        uint8_t At(int x, int y) const {
            return pixels[static_cast<size_t>(y) * static_cast<size_t>(width) + static_cast<size_t>(x)];
        }
    };

    // The jaw line seen in the image: P(t) = c0 + c1 t + c2 t^2 for t in [0, 1], with x(t)
    // and y(t) as the fitted polynomials and c0, c1, c2 their coefficients of degree 0 to 2.
    struct ZoNGuideLine {
        ZoCPolynomial x;
        ZoCPolynomial y;
        CbVector2f c0, c1, c2;

        ZoNGuideLine() = default;
        // Takes the coefficients from two valid polynomials of degree 2 at most (missing
        // coefficients are 0); invalid polynomials leave every coefficient 0.
        ZoNGuideLine(const ZoCPolynomial& px, const ZoCPolynomial& py);
        CbVector2f At(double t) const;
    };

    // A straight piece of boundary from start to end. Direction, normal (the direction turned a
    // quarter to the left in the image's own axes: (-dy, dx)), centre and length follow the
    // end points; a line of zero length has zero direction and normal.
    class ZoNLine {
    public:
        ZoNLine() = default;
        ZoNLine(const CbVector2f& start, const CbVector2f& end);

        const CbVector2f& GetStart() const { return m_start; }
        const CbVector2f& GetEnd() const { return m_end; }
        const CbVector2f& GetDirection() const { return m_direction; }
        const CbVector2f& GetNormal() const { return m_normal; }
        const CbVector2f& GetCentre() const { return m_centre; }
        double GetLength() const { return m_dLength; }
        void SetStart(const CbVector2f& p);
        void SetEnd(const CbVector2f& p);
        // Moves an end point to p when p lies beyond it along the direction.
        void ExtendTo(const CbVector2f& p);

        bool m_bUsed = false;

    private:
        void update();
        CbVector2f m_start, m_end, m_direction, m_normal, m_centre;
        double m_dLength = 0;
    };

    // Segments merged into one straight boundary piece.
    class ZoNEdge : public ZoNLine {
    public:
        ZoNEdge() = default;
        explicit ZoNEdge(const ZoNLine& line) : ZoNLine(line) {}
        bool m_bPaired = false;
    };

    // The mid-line of a gap between two paired edges.
    class ZoNSawCut : public ZoNLine {
    public:
        using ZoNLine::ZoNLine;
        double m_dHalfWidth = 0;
        bool m_bValid = false;
    };

    // A saw cut in 3D: its centre, the direction it was seen from, the directions along and
    // across it, half its width and its length (as measured in the image), and the cut that
    // absorbed it when cuts of several images are merged (null while free).
    struct ZoNSawCut3D {
        CbVector3f m_centre;
        CbVector3f m_viewDirection;
        CbVector3f m_along;
        CbVector3f m_across;
        double m_dHalfWidth = 0;
        double m_dLength = 0;
        ZoNSawCut3D* m_pClusterLink = nullptr;
    };

    // A bitmap to search, with an empty guide line (no cut can then be valid).
    explicit ZoCSawCutExtractor(const ZoNBitmap& bitmap);
    // A bitmap to search along a guide line.
    ZoCSawCutExtractor(const ZoNBitmap& bitmap, const ZoNGuideLine& guideLine);
    // The bitmap of the range image's valid pixels within its valid rectangle.
    ZoCSawCutExtractor(const CImage& rangeImage, const ZoNGuideLine& guideLine);

    const ZoNBitmap& GetBitmap() const { return m_bitmap; }
    const ZoNGuideLine& GetGuideLine() const { return m_guideLine; }

    // Appends the saw cuts found, valid or not. The bitmap is left as it is.
    void detectSawCuts(std::vector<ZoNSawCut>& out);

    // The bitmap of a range image: its valid rectangle (pixels with a range), each pixel valid
    // when it has a range and no rejected mask bit.
    static ZoNBitmap MakeBitmap(const CImage& rangeImage);
    // The rectangle of a range field's pixels that hold a range; right and bottom exclusive.
    static ZoCRect2 ValidRectangle(const ZoCFieldRange& range);
    // Whether a range value is a measurement (the image database marks missing ones with
    // values at or below 0, -FLT_MAX included).
    static bool IsRange(float value) { return value > 0.0f; }

protected:
    // Boundary points (the polygon's margin pixels in order) and their tangent angles in
    // degrees, in (-180, 180].
    void computeTangents(ZoCPixelPolygon& polygon, std::vector<CbVector2f>& points,
                         std::vector<double>& angles);
    // Looks for the next straight segment from `start`; appends it to `lines` when it is long
    // enough and not an image border. Returns where the next search starts.
    size_t findSegment(std::vector<CbVector2f>& points, std::vector<double>& angles, size_t start,
                       std::vector<ZoNLine>& lines);
    // Merges collinear neighbouring segments into edges.
    void combineSegments(std::vector<ZoNLine>& lines, std::vector<ZoNEdge>& edges);
    // Pairs facing edges into saw cuts and validates them against the guide line.
    void findSawCuts(std::vector<ZoNEdge>& edges, std::vector<ZoNSawCut>& out);

    // The steps' parts.
    static double contourLength(const ZoCPixelChain& chain);
    static bool extend(ZoNEdge& edge, ZoNLine& line);
    static double pairScore(const ZoNEdge& e1, const ZoNEdge& e2);
    static ZoNSawCut buildSawCut(const ZoNEdge& e1, const ZoNEdge& e2);
    double guideLineCosine(const ZoNSawCut& cut) const;
    // The guide-line parameter where the cut's line crosses the guide line; false when none.
    bool intersectGuideLine(const ZoNSawCut& cut, double& t) const;
    bool validate(const ZoNSawCut& cut) const;

private:
    bool nearSameBorder(const CbVector2f& a, const CbVector2f& b) const;
    void eraseRegion(ZoCPaddedImage& image, const ZoCPixelPolygon& polygon) const;

    ZoNGuideLine m_guideLine;
    ZoNBitmap m_bitmap;
};
