// The centre line of a dental arch on the plate: a horseshoe (an elliptic arc of more than a
// half turn) in the disc's xy plane, walked by arc length. The incisors lie at negative y, the
// open end of the horseshoe towards positive y.
#pragma once

#include "Geometry.h"

#include <vector>

namespace Sim {

class ArchCurve {
public:
    // Half axes of the ellipse (mm), the half opening angle (degrees; 90 is a half ellipse) and
    // the y offset that moves the arch on the plate.
    ArchCurve(float halfWidth, float halfDepth, float halfAngleDeg, float yOffset);

    float GetLength() const { return m_fLength; }
    // Point on the plate (z = 0) at arc length s, clamped to [0, length].
    CbVector3f Position(float s) const;
    // Unit tangent in the direction of growing s.
    CbVector3f Tangent(float s) const;
    // Unit horizontal normal pointing away from the inside of the horseshoe (buccal side).
    CbVector3f Outward(float s) const;

private:
    float angleAt(float s) const;
    float m_fHalfWidth, m_fHalfDepth, m_fHalfAngle, m_fYOffset;
    std::vector<float> m_cumulative;  // arc length at evenly spaced angles
    float m_fLength = 0;
};

// The arch of the built-in jaw models: 40 mm wide and 34 mm deep along the centre line, so that
// with teeth and base the model is about 52 x 46 mm; centred on the disc.
ArchCurve DefaultArch();

}  // namespace Sim
