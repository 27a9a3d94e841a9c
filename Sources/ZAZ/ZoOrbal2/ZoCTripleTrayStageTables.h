// The fixed motor positions of the double-arch tray stages (simulator motor increments, see
// SimulatorMotorPosition), built once per process on first use.
#pragma once

#include "AxisChain.h"

#include <vector>

class ZoCTripleTrayStageTables {
  public:
    using TMotorPositions = std::vector<SimulatorMotorPosition>;

    static const TMotorPositions& Side1();
    static const SimulatorMotorPosition& Side1Start();
    static const TMotorPositions& Side2();
    static const SimulatorMotorPosition& Side2Start();
    static const TMotorPositions& SideTurnAround();
    static const SimulatorMotorPosition& SideTurnAroundStart();

    static SimulatorMotorPosition Make(float a, float b, float c, float d, float e);
};
