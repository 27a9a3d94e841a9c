// The polygon around one jaw of a double-arch tray: the band on both sides of the jaw line that
// holds teeth. The points of the jaw's overview become a height image; walking along the jaw
// line, the jaw's edges are found across it and joined into a closed polygon.
#pragma once

#include "Geometry.h"
#include "JawCenterlineTools.h"
#include "Logging.h"

#include <memory>
#include <utility>
#include <vector>

class ZoCCreateJawBoundaries : public jawcenterline::ZoCGrayImage {
  public:
    using TImagePos = jawcenterline::ZoNImagePos;
    using TPolyline = std::vector<TImagePos>;

    static constexpr int c_iNumSplineSteps = 100;              // samples along the jaw line
    static constexpr int c_iInnerBand = 20;                    // pixels on each side that belong to the jaw
    static constexpr int c_iDefaultEdgeOffset = 80;            // edge when the cross line shows none
    static constexpr double c_dSimplifyTolerance = 3.0;        // pixels
    static constexpr double c_dMinChordLength = 2.220446e-16;  // shorter chords are not split

    // One jaw-line sample with the edges found across the line there.
    struct ZoNEdgeSample {
        TImagePos m_pos;
        std::shared_ptr<jawcenterline::ZoCImageContourExtractor> m_extractor;
        int m_iLower = -c_iDefaultEdgeOffset;
        int m_iUpper = c_iDefaultEdgeOffset;
    };

    explicit ZoCCreateJawBoundaries(const jawcenterline::ZoCJawCenterLineFinderParameter& parameter =
                                        jawcenterline::ZoCJawCenterLineFinderParameter());
    // The image refers to itself through the extractors of a running computation.
    ZoCCreateJawBoundaries(const ZoCCreateJawBoundaries&) = delete;
    ZoCCreateJawBoundaries& operator=(const ZoCCreateJawBoundaries&) = delete;

    // Computes the polygon around the jaw from its points and the jaw line (same frame, z up).
    // A failed precondition leaves the polygon as it was; a failure later leaves it empty.
    void Calculate(const std::vector<CbVector3f>& points, const CyHermiteSpline& jawLine);
    // Grids the points into this height image; false (image unchanged) for an empty array or
    // an invalid grid.
    bool CreateGriddedImage(const std::vector<CbVector3f>& points);
    // The edges across the jaw line, one sample per step along it after the first.
    std::vector<ZoNEdgeSample> FindEdges(const CyHermiteSpline& jawLine) const;
    // Lower and upper edge offsets of a weighted profile: the offset of the smallest value
    // below -c_iInnerBand, respectively above c_iInnerBand (the first of equal values).
    static std::pair<int, int> EdgesOfProfile(const std::vector<std::pair<int, float>>& profile);
    // The lower edges in order and the upper edges in order; logs an error when there are none.
    static std::pair<TPolyline, TPolyline> ConvertToPolylines(const std::vector<ZoNEdgeSample>& samples);
    // Douglas-Peucker: keeps the end points and every point further than `tolerance` from the
    // chord of its span.
    static TPolyline SimplifyDouglasPeucker(const TPolyline& line, double tolerance = c_dSimplifyTolerance);

    const std::vector<CbVector3f>& GetPolygon() const { return m_polygon; }
    const jawcenterline::ZoCJawCenterLineFinderParameter& GetParameter() const { return m_parameter; }

  private:
    static Logging::CLogger& logger();
    std::vector<CbVector3f> polygonOf(const TPolyline& first, const TPolyline& second) const;

    jawcenterline::ZoCJawCenterLineFinderParameter m_parameter;
    std::vector<CbVector3f> m_polygon;
};
