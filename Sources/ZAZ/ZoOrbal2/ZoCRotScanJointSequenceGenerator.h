// Eight positions on a cone around the vertical, for rotation and gyration scans.
#pragma once

#include "ZoCJointSequenceGenerator.h"

class ZoCRotScanJointSequenceGenerator : public ZoCJointSequenceGenerator {
public:
    static constexpr int c_iNumPositions = 8;
    explicit ZoCRotScanJointSequenceGenerator(float tiltDegrees);
};
