// The stages of a double-arch tray scan: one side of the tray, the other side, a turn-around
// pass over the bite, and the end. Side1 -> Side2 -> SideTurnAround -> End -> End.
#pragma once

#include "ZoCAcquisitionSteeringOrbal2StateBase.h"

// Acquire modes of the tray stages (the host's numbers).
struct ZoNTripleTrayAcquireModes {
    static constexpr ECAIAcquireMode c_eSide1 = static_cast<ECAIAcquireMode>(5);
    static constexpr ECAIAcquireMode c_eSide2 = static_cast<ECAIAcquireMode>(6);
    static constexpr ECAIAcquireMode c_eSideTurnAround = static_cast<ECAIAcquireMode>(7);
    static constexpr ECAIAcquireMode c_eEnd = static_cast<ECAIAcquireMode>(23);
};

// The first side: the upper (0) or the lower (2) jaw; the next side scans the other one.
class ZoCAcquisitionSteeringOrbal2StateSide1 : public ZoCAcquisitionSteeringOrbal2StateBase {
  public:
    std::shared_ptr<ZoCAcquisitionSteeringOrbal2StateBase> Next() override;
    const TMotorPositions& GetMotorPositions() const override;
    const SimulatorMotorPosition* GetStartPosition() const override;
    int GetNextAreaType() const override;
    bool IsAcquireModeAllowed(ECAIAcquireMode mode) const override;
    ECAIAcquireMode GetAcquireMode() const override { return ZoNTripleTrayAcquireModes::c_eSide1; }
    bool IsFirstState() const override { return true; }
};

// The second side; the turn-around pass after it scans the bite (area 1).
class ZoCAcquisitionSteeringOrbal2StateSide2 : public ZoCAcquisitionSteeringOrbal2StateBase {
  public:
    std::shared_ptr<ZoCAcquisitionSteeringOrbal2StateBase> Next() override;
    const TMotorPositions& GetMotorPositions() const override;
    const SimulatorMotorPosition* GetStartPosition() const override;
    int GetNextAreaType() const override { return 1; }
    bool IsAcquireModeAllowed(ECAIAcquireMode mode) const override;
    ECAIAcquireMode GetAcquireMode() const override { return ZoNTripleTrayAcquireModes::c_eSide2; }
};

// The turn-around pass: the disc turns through half a circle while the tray tilts up.
class ZoCAcquisitionSteeringOrbal2StateSideTurnAround : public ZoCAcquisitionSteeringOrbal2StateBase {
  public:
    std::shared_ptr<ZoCAcquisitionSteeringOrbal2StateBase> Next() override;
    const TMotorPositions& GetMotorPositions() const override;
    const SimulatorMotorPosition* GetStartPosition() const override;
    int GetNextAreaType() const override { return -1; }
    bool IsAcquireModeAllowed(ECAIAcquireMode mode) const override;
    ECAIAcquireMode GetAcquireMode() const override { return ZoNTripleTrayAcquireModes::c_eSideTurnAround; }
};

// A stage without positions: its own empty list and an unset motor position.
class SteeringStateEmptyBase : public ZoCAcquisitionSteeringOrbal2StateBase {
  public:
    const TMotorPositions& GetMotorPositions() const override { return m_motorPositions; }
    const SimulatorMotorPosition* GetStartPosition() const override { return nullptr; }
    int GetNextAreaType() const override { return -1; }

  protected:
    TMotorPositions m_motorPositions;
    SimulatorMotorPosition m_motorPosition;
};

// A final stage: moving on leaves it where it is.
class SteeringStateEndBase : public SteeringStateEmptyBase {
  public:
    std::shared_ptr<ZoCAcquisitionSteeringOrbal2StateBase> Next() override;
    bool IsEndState() const override { return true; }
};

class ZoCAcquisitionSteeringOrbal2StateEnd : public SteeringStateEndBase {
  public:
    bool IsAcquireModeAllowed(ECAIAcquireMode mode) const override {
        return mode == ZoNTripleTrayAcquireModes::c_eEnd;
    }
    ECAIAcquireMode GetAcquireMode() const override { return ZoNTripleTrayAcquireModes::c_eEnd; }
};
