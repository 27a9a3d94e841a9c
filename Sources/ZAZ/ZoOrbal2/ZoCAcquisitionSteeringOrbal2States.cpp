// The stages of a double-arch tray scan.
#include "ZoCAcquisitionSteeringOrbal2States.h"

#include "ZoCAcquisitionSteeringOrbal2StateContext.h"
#include "ZoCTripleTrayStageTables.h"

namespace {
// Besides its own mode, each side stage lets the host run its free modes 19 to 22.
bool isSideMode(ECAIAcquireMode own, ECAIAcquireMode mode) {
    return mode == own || (mode >= 19 && mode <= 22);
}
}  // namespace

// ---------------------------------------------------------------------------------------------
// Side1

std::shared_ptr<ZoCAcquisitionSteeringOrbal2StateBase> ZoCAcquisitionSteeringOrbal2StateSide1::Next() {
    return m_pContext->TransitionTo<ZoCAcquisitionSteeringOrbal2StateSide2>();
}

const ZoCAcquisitionSteeringOrbal2StateBase::TMotorPositions&
ZoCAcquisitionSteeringOrbal2StateSide1::GetMotorPositions() const {
    return ZoCTripleTrayStageTables::Side1();
}

const SimulatorMotorPosition* ZoCAcquisitionSteeringOrbal2StateSide1::GetStartPosition() const {
    return &ZoCTripleTrayStageTables::Side1Start();
}

// The second side is the other jaw; a first side that is no jaw has none.
int ZoCAcquisitionSteeringOrbal2StateSide1::GetNextAreaType() const {
    return m_iAreaType == 0 ? 2 : (m_iAreaType == 2 ? 0 : -1);
}

bool ZoCAcquisitionSteeringOrbal2StateSide1::IsAcquireModeAllowed(ECAIAcquireMode mode) const {
    return isSideMode(GetAcquireMode(), mode);
}

// ---------------------------------------------------------------------------------------------
// Side2

std::shared_ptr<ZoCAcquisitionSteeringOrbal2StateBase> ZoCAcquisitionSteeringOrbal2StateSide2::Next() {
    return m_pContext->TransitionTo<ZoCAcquisitionSteeringOrbal2StateSideTurnAround>();
}

const ZoCAcquisitionSteeringOrbal2StateBase::TMotorPositions&
ZoCAcquisitionSteeringOrbal2StateSide2::GetMotorPositions() const {
    return ZoCTripleTrayStageTables::Side2();
}

const SimulatorMotorPosition* ZoCAcquisitionSteeringOrbal2StateSide2::GetStartPosition() const {
    return &ZoCTripleTrayStageTables::Side2Start();
}

bool ZoCAcquisitionSteeringOrbal2StateSide2::IsAcquireModeAllowed(ECAIAcquireMode mode) const {
    return isSideMode(GetAcquireMode(), mode);
}

// ---------------------------------------------------------------------------------------------
// SideTurnAround

std::shared_ptr<ZoCAcquisitionSteeringOrbal2StateBase>
ZoCAcquisitionSteeringOrbal2StateSideTurnAround::Next() {
    return m_pContext->TransitionTo<ZoCAcquisitionSteeringOrbal2StateEnd>();
}

const ZoCAcquisitionSteeringOrbal2StateBase::TMotorPositions&
ZoCAcquisitionSteeringOrbal2StateSideTurnAround::GetMotorPositions() const {
    return ZoCTripleTrayStageTables::SideTurnAround();
}

const SimulatorMotorPosition* ZoCAcquisitionSteeringOrbal2StateSideTurnAround::GetStartPosition() const {
    return &ZoCTripleTrayStageTables::SideTurnAroundStart();
}

// Only its own mode and the modes 19 and 22: the bite is not scanned in the free modes 20, 21.
bool ZoCAcquisitionSteeringOrbal2StateSideTurnAround::IsAcquireModeAllowed(ECAIAcquireMode mode) const {
    return mode == GetAcquireMode() || mode == 19 || mode == 22;
}

// ---------------------------------------------------------------------------------------------
// End

std::shared_ptr<ZoCAcquisitionSteeringOrbal2StateBase> SteeringStateEndBase::Next() {
    return m_pContext->GetCurrentState();
}
