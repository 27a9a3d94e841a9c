// One stage of a double-arch tray scan. Each stage brings its fixed motor positions, its start
// position, its acquire mode and the acquire modes it allows, and knows the stage after it.
#pragma once

#include "AcquisitionPlanning.h"
#include "AxisChain.h"

#include <memory>
#include <vector>

class ZoCAcquisitionSteeringOrbal2StateContext;

class ZoCAcquisitionSteeringOrbal2StateBase {
  public:
    using TMotorPositions = std::vector<SimulatorMotorPosition>;

    virtual ~ZoCAcquisitionSteeringOrbal2StateBase() = default;
    // Moves the context on to the following stage and returns that stage.
    virtual std::shared_ptr<ZoCAcquisitionSteeringOrbal2StateBase> Next() = 0;
    virtual bool EnableAutofocusForFixed() const { return true; }
    virtual const TMotorPositions& GetMotorPositions() const = 0;
    // Null when the stage has no start position.
    virtual const SimulatorMotorPosition* GetStartPosition() const = 0;
    virtual void SetAreaType(int areaType) { m_iAreaType = areaType; }
    virtual int GetAreaType() const { return m_iAreaType; }
    // The area (jaw) the following stage scans; -1 when there is none.
    virtual int GetNextAreaType() const = 0;
    virtual bool IsAcquireModeAllowed(ECAIAcquireMode mode) const = 0;
    virtual ECAIAcquireMode GetAcquireMode() const = 0;
    virtual bool IsFirstState() const { return false; }
    virtual bool IsEndState() const { return false; }

    void SetContext(ZoCAcquisitionSteeringOrbal2StateContext* context) { m_pContext = context; }
    ZoCAcquisitionSteeringOrbal2StateContext* GetContext() const { return m_pContext; }

  protected:
    int m_iAreaType = -1;
    ZoCAcquisitionSteeringOrbal2StateContext* m_pContext = nullptr;  // not owned
};
