// The scannable surface of a model as the measured points alone suggest it, and how much of it
// is measured. The planning never sees the model: it closes the measured surface over its holes
// and counts how much of the closed surface lies near a measured point.
//
// The model stands on the plate, so seen from above it is a relief: every column of the plate
// (a square of c_fColumn mm) carries the top of what was measured in it. Columns without points
// that are enclosed by measured columns are holes of the relief (between-crown slots, a missed
// flank); they are closed by interpolating across their rim, column by column from the rim
// inwards. Columns without points that reach the edge of the grid lie beside the model: their
// relief is the plate's clearance, so the model's flanks run down to it.
//
// The closed relief is triangulated over the column centres. Its area above the clearance is the
// scannable surface: flanks and the walls between crowns are steep triangles whose area is that
// of the wall (a step of height d between columns spans c_fColumn x d). A part of the closed
// surface counts as covered when a measured point lies within c_fNear of it across and c_fNearUp
// in height; a wall nobody looked at has points only at its rims and stays uncovered except for
// those rims.
//
// What the relief cannot hold: surface under an overhang (a crown's bulge over its neck) counts
// neither as scannable nor as covered.
#pragma once

#include "Geometry.h"

#include <cstdint>
#include <vector>

class MeasuredSurface {
public:
    static constexpr float c_fColumn = 0.5f;     // mm: side of a relief column
    static constexpr float c_fNear = 0.5f;       // mm: a measured point this close across covers the surface
    static constexpr float c_fNearUp = 0.25f;    // mm: ... and this close in height
    static constexpr float c_fClearance = 1.0f;  // mm: surface lower than this above the plate is not scannable

    // Points with x, y on the plate and z the height above it (mm). Points below the plate, not
    // finite or farther than c_fMaxReach from the disc's centre along any axis are ignored: no
    // model on the disc reaches there, and the grids stay bounded.
    static constexpr float c_fMaxReach = 200.0f;
    void Build(const std::vector<CbVector3f>& points);

    double ScannableArea() const { return m_dScannable; }
    double CoveredArea() const { return m_dCovered; }
    // Covered over scannable area, 0 when nothing is scannable.
    double Coverage() const { return m_dScannable > 0 ? m_dCovered / m_dScannable : 0.0; }

    // A hole of the measured surface, not the relief's misfit where the model bulges over its
    // neck: nothing measured near the relief nor up to c_fHoleDepth behind it.
    static constexpr float c_fHoleDepth = 1.0f;
    // One piece of the closed surface inside a hole (for gap covering).
    struct Patch {
        CbVector3f point;   // centre, plate frame
        CbVector3f normal;  // unit, pointing away from the model
        float area = 0;     // mm^2
    };
    const std::vector<Patch>& UncoveredPatches() const { return m_uncovered; }
    // True when a measured point lies near `p` (plate frame) as the coverage counts it.
    bool IsNearMeasured(const CbVector3f& p) const;
    // True when `p`, on the relief with outward unit normal `n`, lies in a hole as the patches count it.
    bool IsInHole(const CbVector3f& p, const CbVector3f& n) const;
    // The closed relief's height at (x, y), on its triangles; the clearance beside the model.
    float Height(float x, float y) const;
    // True when the straight line from `from` to `to` never passes more than c_fShadowMargin
    // under the closed relief: nothing measured, nor the closed holes, stands between them.
    bool Unobstructed(const CbVector3f& from, const CbVector3f& to) const;
    static constexpr float c_fShadowMargin = 0.25f;  // mm: what the relief's coarseness may hide

private:
    int64_t voxelIndex(int x, int y, int z) const;
    uint8_t flags(const CbVector3f& p) const;
    static constexpr uint8_t c_uNear = 1;

    // Relief columns.
    float m_fOriginX = 0, m_fOriginY = 0;
    int m_iColumnsX = 0, m_iColumnsY = 0;
    std::vector<float> m_heights;
    float m_fTop = 0;  // highest column
    // Occupancy voxels, dilated: c_uNear within the nearness ellipsoid.
    CbVector3f m_voxelOrigin;
    CbVector3f m_voxel;
    int m_aiVoxels[3] = {0, 0, 0};
    std::vector<uint8_t> m_near;
    double m_dScannable = 0;
    double m_dCovered = 0;
    std::vector<Patch> m_uncovered;
};
