// Triple-tray steering: stages, the planning renewed per stage, and the collision table.
#include "ZoCAcquisitionSteeringOrbal2TripleTray.h"

#include "ZoCAcquisitionSteeringOrbal2States.h"
#include "ZoCPlanningFrame.h"

Logging::CLogger& ZoCAcquisitionSteeringOrbal2TripleTray::logger() {
    static Logging::CLogger logger("ZAZ.ZoOrbal2.Steering.ZoCAcquisitionSteeringOrbal2TripleTray");
    return logger;
}

ZoCAcquisitionSteeringOrbal2TripleTray::ZoCAcquisitionSteeringOrbal2TripleTray(
    const ZoCOrbal2DeviceConfig& device, EAreaType areaType)
    : ZoCAcquisitionSteeringOrbal2Jaw(device, true, false, true) {
    m_iEnlargeGrowth = c_iTrayEnlargeGrowth;
    m_iEnlargeMinSize = c_iTrayEnlargeMinSize;
    setFirstState(areaType);
    LoadAndSetCollisionInfo();
}

// ---------------------------------------------------------------------------------------------
// Stages

void ZoCAcquisitionSteeringOrbal2TripleTray::setFirstState(EAreaType areaType) {
    m_stateContext.TransitionTo<ZoCAcquisitionSteeringOrbal2StateSide1>()->SetAreaType(areaType);
}

EAreaType ZoCAcquisitionSteeringOrbal2TripleTray::SetNextState() {
    const int next = m_stateContext.GetCurrentState()->GetNextAreaType();
    m_stateContext.GetCurrentState()->Next();
    m_stateContext.GetCurrentState()->SetAreaType(next);
    initScanPlan();
    return static_cast<EAreaType>(next);
}

EAreaType ZoCAcquisitionSteeringOrbal2TripleTray::GetAreaType() const {
    return static_cast<EAreaType>(m_stateContext.GetCurrentState()->GetAreaType());
}

EAreaType ZoCAcquisitionSteeringOrbal2TripleTray::GetNextAreaType() const {
    return static_cast<EAreaType>(m_stateContext.GetCurrentState()->GetNextAreaType());
}

ECAIAcquireMode ZoCAcquisitionSteeringOrbal2TripleTray::GetAcquireMode() const {
    return m_stateContext.GetCurrentState()->GetAcquireMode();
}

bool ZoCAcquisitionSteeringOrbal2TripleTray::IsAcquireModeAllowed(ECAIAcquireMode mode) const {
    return m_stateContext.GetCurrentState()->IsAcquireModeAllowed(mode);
}

bool ZoCAcquisitionSteeringOrbal2TripleTray::EnableAutofocusForFixed() const {
    return m_stateContext.GetCurrentState()->EnableAutofocusForFixed();
}

const SimulatorMotorPosition* ZoCAcquisitionSteeringOrbal2TripleTray::GetStartPositionForFixed() const {
    return m_stateContext.GetCurrentState()->GetStartPosition();
}

SimulatorMotorPosition ZoCAcquisitionSteeringOrbal2TripleTray::GetMotorPositionOfFirstImage() const {
    const auto& positions = m_stateContext.GetCurrentState()->GetMotorPositions();
    return positions.empty() ? SimulatorMotorPosition() : positions.front();
}

ZoCAcquisitionSteeringOrbal2TripleTray::NCJointConfiguration
ZoCAcquisitionSteeringOrbal2TripleTray::ConvertSimMotPosToJointConfig(
    const SimulatorMotorPosition& position) {
    return position.ConvertToSteeringPos().ConvertToJointConfiguration();
}

std::vector<ZoCAcquisitionSteeringOrbal2TripleTray::NSConfigurationRequest>
ZoCAcquisitionSteeringOrbal2TripleTray::CreateTripleTrayConfiguration(NSConfigurationRequest&, int) {
    std::vector<NSConfigurationRequest> requests;
    for (const SimulatorMotorPosition& p : m_stateContext.GetCurrentState()->GetMotorPositions()) {
        NSConfigurationRequest req;
        req.m_config = ConvertSimMotPosToJointConfig(p);
        requests.push_back(req);
    }
    return requests;
}

// ---------------------------------------------------------------------------------------------
// Planning

void ZoCAcquisitionSteeringOrbal2TripleTray::initScanPlan() {
    {
        std::lock_guard<std::mutex> lock(m_planningMutex);
        ZoCAcquisitionSteeringOrbal2Jaw::initScanPlan();
    }
    LoadAndSetCollisionInfo();
}

void ZoCAcquisitionSteeringOrbal2TripleTray::LoadAndSetCollisionInfo() {
    m_collisionLoader.LoadAsync([this](const ZoCTripleTrayCollisionsLoader::TCollisionTree& tree) {
        std::lock_guard<std::mutex> lock(m_planningMutex);
        // The planning only reads the table; its interface takes the node as the closed
        // library declares it.
        m_pPlanning->SetCollisionTree(const_cast<ZoCTripleTrayCollisionsLoader::TCollisionTree&>(tree));
    });
}

void ZoCAcquisitionSteeringOrbal2TripleTray::setLimitedJointParameters(ECAIAcquireMode) {
    buildJointParameterRecords(m_jointParams);
    m_pPlanning->SetJointParameters(m_jointParams);
}

void ZoCAcquisitionSteeringOrbal2TripleTray::ReInitScanPlan(ECAIAcquireMode mode) {
    if (mode != ZoNTripleTrayAcquireModes::c_eSide1 && mode != ZoNTripleTrayAcquireModes::c_eSide2)
        return;
    if (const ZoCCamProjCalib* calib = cameraCalibration()) {
        // The base remembers the calibration it accepts; hand over a copy of the same dynamic
        // type (not itself, and not a slice that would lose a host's image size).
        const std::unique_ptr<ZoCCamProjCalib> copy = calib->Clone();
        setCameraAndProjectorParameters(*copy);
    }
    setLimitedJointParameters(mode);
    m_pPlanning->SetModeFlag(true);
    if (m_stateContext.GetCurrentState()->GetMotorPositions().empty()) {
        // Only the side stages have a first position to look from.
        if (logger().IsLogLevelEnabled(Logging::Warn))
            logger().Warn(__FILE__, __LINE__, __func__,
                          L"ReInitScanPlan: Keine Motorposition in diesem Zustand");
        return;
    }
    const NCJointConfiguration c = ConvertSimMotPosToJointConfig(GetMotorPositionOfFirstImage());
    m_planningTrafo =
        ZoCPlanningFrame::PlanningTransformation(m_axisChain.GetCamToDiscTransformation(c, false));
    m_pPlanning->SetPlanningTransformation(m_planningTrafo);
    m_pPlanning->SetReferenceConfiguration(c.Data());
    m_pPlanning->Update();
}

bool ZoCAcquisitionSteeringOrbal2TripleTray::CheckAndDivideSequence(const CJointPositionSequence& in,
                                                                    CJointPositionSequence& first,
                                                                    CJointPositionSequence& second,
                                                                    bool& firstFlag, bool& secondFlag) const {
    if (in.GetCount() == 0)
        return false;
    first.RemoveAll();
    second.RemoveAll();
    for (int64_t i = 0; i < in.GetCount(); ++i)
        first.Add(in[i]);
    firstFlag = false;
    secondFlag = true;
    return false;
}
