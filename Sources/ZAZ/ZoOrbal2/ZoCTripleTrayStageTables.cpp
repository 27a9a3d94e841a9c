// The fixed motor positions of the double-arch tray stages.
#include "ZoCTripleTrayStageTables.h"

SimulatorMotorPosition ZoCTripleTrayStageTables::Make(float a, float b, float c, float d, float e) {
    SimulatorMotorPosition p;
    const float values[5] = {a, b, c, d, e};
    for (int i = 0; i < 5; ++i)
        p.m_afValues[i] = values[i];
    return p;
}

const ZoCTripleTrayStageTables::TMotorPositions& ZoCTripleTrayStageTables::Side1() {
    static const TMotorPositions positions = {
        Make(-30, 20, 60, -17, 221), Make(-5, 50, 50, -15, 235),  Make(0, 0, 50, 0, 208),
        Make(-30, -10, 60, -5, 198), Make(-10, 50, 70, -24, 248), Make(-35, -20, 80, -24, 178),
        Make(5, 50, 0, -24, 248),    Make(25, 40, -30, -10, 308), Make(-30, -40, 80, -24, 150)};
    return positions;
}

const SimulatorMotorPosition& ZoCTripleTrayStageTables::Side1Start() {
    static const SimulatorMotorPosition start = Make(0, 30, 50, -20, 248);
    return start;
}

const ZoCTripleTrayStageTables::TMotorPositions& ZoCTripleTrayStageTables::Side2() {
    static const TMotorPositions positions = {
        Make(-5, -40, 49, -12, 330), Make(-30, -20, 60, -15, -2), Make(5, -10, 60, 10, -2),
        Make(-25, 10, 40, -5, 28),   Make(-30, 20, 80, -24, 50),  Make(0, -50, 70, -15, -52),
        Make(15, -50, -20, -5, 288), Make(15, 0, -60, 0, 198),    Make(25, 10, -40, 5, 218)};
    return positions;
}

const SimulatorMotorPosition& ZoCTripleTrayStageTables::Side2Start() {
    static const SimulatorMotorPosition start = Make(0, -20, 50, -15, 8);
    return start;
}

// Fifteen positions: the disc turns from 8 to 194 while the tray tilts up, first with the
// second motor held at -30, then rising in steps of 6.
const ZoCTripleTrayStageTables::TMotorPositions& ZoCTripleTrayStageTables::SideTurnAround() {
    static const TMotorPositions positions = [] {
        const float second[15] = {-30, -30, -30, -30, -30, -30, -30, -30, -24, -18, -12, -6, 0, 6, 12};
        const float third[15] = {60, 64, 68, 72, 76, 80, 84, 90, 92, 94, 96, 98, 100, 103, 105};
        const float fifth[15] = {8, 21, 34, 48, 61, 74, 88, 101, 114, 128, 141, 154, 168, 181, 194};
        TMotorPositions list;
        for (int i = 0; i < 15; ++i)
            list.push_back(Make(0, second[i], third[i], 4, fifth[i]));
        return list;
    }();
    return positions;
}

const SimulatorMotorPosition& ZoCTripleTrayStageTables::SideTurnAroundStart() {
    static const SimulatorMotorPosition start = Make(0, -30, 60, -5, 8);
    return start;
}
