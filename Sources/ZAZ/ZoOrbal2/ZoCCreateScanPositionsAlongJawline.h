// Scan positions of a double-arch tray laid along its jaw line: points at even spacing along
// the jaw line projected onto the disc plane, each with two view directions tilted across the
// line to either side, mirror images of each other.
//
// The jaw line's length is measured along the spline (spline length units: image-area units
// for the steering's jaw line); positions are found by walking it in steps of c_fWalkStep.
#pragma once

#include "Geometry.h"
#include "Logging.h"

#include <vector>

class ZoCCreateScanPositionsAlongJawline {
  public:
    static constexpr float c_fSpacingUnit = 650.0f;  // spline length per position
    static constexpr float c_fWalkStep = 10.0f;
    static constexpr float c_fTiltAngle = 0.43633232f;  // 25 degrees, radians

    struct ZoNScanPosition {
        CbVector3f m_origin;         // on the projected jaw line (z = 0)
        CbVector3f m_lineDirection;  // unit, back to the previous sample; zero when they coincide
        std::vector<CbVector3f> m_viewDirections;
    };

    // Replaces the positions; each gets its two view directions.
    void Calculate(const CyHermiteSpline& jawLine);
    const std::vector<ZoNScanPosition>& GetScanPositions() const { return m_positions; }

    // Places the positions (without view directions).
    void calculateScanPositions(const CyHermiteSpline& jawLine);
    // The two view directions of a line direction: tilted by +c_fTiltAngle, then by -c_fTiltAngle.
    static std::vector<CbVector3f> ViewDirections(const CbVector3f& lineDirection);
    // Positions of a spline of length L: L / c_fSpacingUnit rounded to the nearest integer.
    static int NumberOfPositions(float length);
    // Arc length between positions: L / n when n > 1, else L / 2.
    static float Spacing(float length);

  private:
    static Logging::CLogger& logger();
    static CbVector3f normalizedOrZero(const CbVector3f& v);

    std::vector<ZoNScanPosition> m_positions;
};
