// How much of a jaw model's surface the recorded points cover, measured around the jaw line.
//
// The jaw line (the arch's centre line over the teeth, in the planning frame) is resampled
// every millimetre. Around each sample the surface is described in the plane across the
// line: a point of the model lies in direction phi from the sample, phi = 0 straight up
// (towards the camera side of the disc), -90 lingual, +90 buccal, down to +-120 degrees. The
// cross-section is cut into sectors of 20 degrees; a cell (sample, sector) is covered once
// three points have fallen into it. The cells form a grid over arc length and angle; its
// uncovered connected parts are the gaps a further view should close.
#pragma once

#include "Geometry.h"

#include <vector>

class CoverageMap {
public:
    static constexpr float c_fSampleSpacing = 1.0f;   // mm along the jaw line
    static constexpr int c_iNumSectors = 12;          // 20 degrees each, over [-120, 120]
    static constexpr float c_fSectorDegrees = 20.0f;
    static constexpr float c_fMaxRadius = 15.0f;      // mm: farther points are not part of the arch
    static constexpr int c_iPointsPerCell = 3;
    static constexpr float c_fDefaultRadius = 5.0f;   // mm: assumed surface distance of an empty sector

    // One uncovered connected region.
    struct Gap {
        std::vector<int> cells;            // indices sample * c_iNumSectors + sector
        float area = 0;                    // mm^2, estimated
        CbVector3f target;                 // estimated surface point at the gap's centre cell
        CbVector3f normal;                 // outward surface direction there
        std::vector<CbVector3f> points;    // estimated surface point of every cell
    };

    // The jaw line in the planning frame and the planning frame's up direction (towards the
    // camera side of the disc). Clears what was recorded.
    void SetCenterLine(const std::vector<CbVector3f>& jawLine, const CbVector3f& up);
    bool HasSurface() const { return !m_samples.empty(); }
    // Adds recorded points (planning frame).
    void AddPoints(const float* xyz, size_t numFloats);
    size_t NumCells() const { return m_counts.size(); }
    size_t NumCoveredCells() const;
    double Coverage() const;
    // Uncovered regions, largest first (at most `maxCount`).
    std::vector<Gap> Gaps(int maxCount) const;
    // Estimated surface point and outward direction of a cell.
    void CellSurface(int cell, CbVector3f& point, CbVector3f& normal) const;

private:
    struct Sample {
        CbVector3f centre, tangent, lateral, up;
    };
    void buildNearestGrid();
    static int centreCell(const std::vector<int>& cells);
    int nearestSample(const CbVector3f& p) const;
    float sectorRadius(int sample, int sector) const;

    std::vector<Sample> m_samples;
    std::vector<int> m_counts;      // points per cell
    std::vector<float> m_radiusSum; // sum of the points' distances per cell
    // Nearest sample of every millimetre voxel around the line (-1: farther than c_fMaxRadius).
    CbVector3f m_gridOrigin;
    int m_aiGridSize[3] = {0, 0, 0};
    std::vector<int> m_nearest;
};
