#include "ZoCRotScanJointSequenceGenerator.h"

namespace {
// L2 and L3 of the eight cone positions at the largest tilt of 60 degrees.
constexpr float c_afConeTable[8][2] = {{150, 90}, {135, 135}, {90, 150}, {45, 135},
                                       {30, 90},  {45, 45},   {90, 30},  {135, 45}};
}  // namespace

ZoCRotScanJointSequenceGenerator::ZoCRotScanJointSequenceGenerator(float tiltDegrees)
    : ZoCJointSequenceGenerator(c_iNumPositions, 60.0f) {
    SetTiltDegrees(tiltDegrees);
    for (int i = 0; i < c_iNumPositions; ++i) {
        const float values[5] = {0, c_afConeTable[i][0], c_afConeTable[i][1], 0, 0};
        SetPositionValues(i, values);
    }
}
