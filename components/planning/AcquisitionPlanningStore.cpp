#include "AcquisitionPlanningStore.h"

#include "JointSolver.h"

ZoCOrbal2AcquisitionPlanning* GetZoCOrbal2AcquisitionPlanning() { return new AcquisitionPlanningStore(); }

using Lock = std::lock_guard<std::mutex>;

void AcquisitionPlanningStore::SetCameraParameters(const NSSensorParameters& camera) {
    Lock lock(m_mutex);
    m_camera = camera;
}

void AcquisitionPlanningStore::SetProjectorParameters(const NSSensorParameters& projector) {
    Lock lock(m_mutex);
    m_projector = projector;
}

void AcquisitionPlanningStore::SetJointParameters(const NSJointParameter joints[5]) {
    Lock lock(m_mutex);
    m_joints = std::vector<NSJointParameter>(joints, joints + 5);
    ++m_jointParameterCalls;
}

void AcquisitionPlanningStore::Update() {
    Lock lock(m_mutex);
    ++m_updateCalls;
}

bool AcquisitionPlanningStore::IsReadyToPlan(unsigned long, const ZoCOrbal2AxisChain::CJointPositionSequence&) {
    Lock lock(m_mutex);
    return m_camera.has_value() && m_projector.has_value() && m_joints.has_value();
}

void AcquisitionPlanningStore::SetCollisionTree(AxisNode& tree) {
    Lock lock(m_mutex);
    m_collisionTree = &tree;
}

void AcquisitionPlanningStore::SetModeFlag(bool flag) {
    Lock lock(m_mutex);
    m_modeFlag = flag;
}

void AcquisitionPlanningStore::SetAcquisitionType(EAcquisitionType type) {
    Lock lock(m_mutex);
    m_type = type;
}

void AcquisitionPlanningStore::PutScan(const NSScanRecord& scan) {
    if (CbEvent* gate = m_pScanGate.load()) {
        if (CbEvent* arrived = m_pScanArrived.load()) arrived->Set();
        gate->Wait();
    }
    StoredScan stored;
    stored.points.assign(scan.points, scan.points + scan.numPointFloats);
    stored.numPixelInts = scan.numPixelInts;
    if (scan.pixels && scan.numPixelInts != 0xFFFFFFFFu)
        stored.pixels.assign(scan.pixels, scan.pixels + scan.numPixelInts);
    for (int i = 0; i < 5; ++i) stored.joints[i] = scan.joints[i];
    Lock lock(m_mutex);
    m_scans.push_back(std::move(stored));
}

void AcquisitionPlanningStore::ClearScans() {
    Lock lock(m_mutex);
    m_scans.clear();
}

void AcquisitionPlanningStore::PutCenterLine(const NSCenterLineRecord& record, bool modeFlag) {
    StoredCenterLine line;
    if (record.points && record.numPointFloats > 0) line.points.assign(record.points, record.points + record.numPointFloats);
    line.roiPresent = record.roiIndices != nullptr;
    if (record.roiIndices && record.numRoiIndices > 0)
        line.roiIndices.assign(record.roiIndices, record.roiIndices + record.numRoiIndices);
    line.prepsPresent = record.prepIndices != nullptr;
    if (record.prepIndices && record.numPreps > 0) line.prepIndices.assign(record.prepIndices, record.prepIndices + record.numPreps);
    if (record.prepFlags && record.numPreps > 0) line.prepFlags.assign(record.prepFlags, record.prepFlags + record.numPreps);
    line.lowerThreshold = record.lowerThreshold;
    line.modeFlag = modeFlag;
    Lock lock(m_mutex);
    m_centerLine = std::move(line);
}

void AcquisitionPlanningStore::PutSawCuts(const float* data, int numFloats) {
    Lock lock(m_mutex);
    m_sawCuts.assign(data, data + (numFloats > 0 ? numFloats : 0));
}




void AcquisitionPlanningStore::ClearProposals() {
    Lock lock(m_mutex);
    m_proposals.clear();
}


void AcquisitionPlanningStore::SolveJoints(const float direction[3], const float point[3], float tolerance,
                                           float joints[5], float solvedPoint[3], float solvedDirection[3],
                                           int& status) {
    std::optional<JointSolver> solver;
    {
        Lock lock(m_mutex);
        if (m_camera && m_joints && m_planning) solver.emplace(*m_camera, m_joints->data(), *m_planning);
    }
    // Without camera, joints or planning frame the result says "not set up".
    const JointSolver::Result result = solver ? solver->Solve(direction, point, tolerance) : JointSolver::Result();
    for (int i = 0; i < 5; ++i) joints[i] = result.joints[i];
    for (int i = 0; i < 3; ++i) {
        solvedPoint[i] = result.point[i];
        solvedDirection[i] = result.direction[i];
    }
    status = result.status;
}

void AcquisitionPlanningStore::SetProgressCallback(NSProgressCallback* callback) {
    Lock lock(m_mutex);
    m_progress = callback;
}

void AcquisitionPlanningStore::SetPlanningTransformation(const CbMatrix4Rf& planning) {
    Lock lock(m_mutex);
    m_planning = planning;
}

void AcquisitionPlanningStore::SetReferenceConfiguration(const float joints[5]) {
    Lock lock(m_mutex);
    m_reference = std::vector<float>(joints, joints + 5);
}

void AcquisitionPlanningStore::PutJawBorder(const float* data, uint64_t numFloats) {
    Lock lock(m_mutex);
    m_jawBorder.assign(data, data + numFloats);
}

#define ZO_STORE_GETTER(TYPE, NAME, MEMBER) \
    TYPE AcquisitionPlanningStore::NAME() const { \
        Lock lock(m_mutex);                      \
        return MEMBER;                           \
    }
ZO_STORE_GETTER(std::optional<ZoCOrbal2AcquisitionPlanning::NSSensorParameters>, Camera, m_camera)
ZO_STORE_GETTER(std::optional<ZoCOrbal2AcquisitionPlanning::NSSensorParameters>, Projector, m_projector)
ZO_STORE_GETTER(std::optional<std::vector<ZoCOrbal2AcquisitionPlanning::NSJointParameter>>, JointParameters, m_joints)
ZO_STORE_GETTER(int, JointParameterCalls, m_jointParameterCalls)
ZO_STORE_GETTER(int, UpdateCalls, m_updateCalls)
ZO_STORE_GETTER(std::optional<ZoCOrbal2AcquisitionPlanning::EAcquisitionType>, AcquisitionType, m_type)
ZO_STORE_GETTER(std::optional<bool>, ModeFlag, m_modeFlag)
ZO_STORE_GETTER(std::optional<CbMatrix4Rf>, PlanningTransformation, m_planning)
ZO_STORE_GETTER(std::optional<std::vector<float>>, ReferenceConfiguration, m_reference)
ZO_STORE_GETTER(ZoCOrbal2AcquisitionPlanning::NSProgressCallback*, ProgressCallback, m_progress)
ZO_STORE_GETTER(AxisNode*, CollisionTree, m_collisionTree)
ZO_STORE_GETTER(std::vector<AcquisitionPlanningStore::StoredScan>, Scans, m_scans)
ZO_STORE_GETTER(size_t, ScanCount, m_scans.size())
ZO_STORE_GETTER(std::optional<AcquisitionPlanningStore::StoredCenterLine>, CenterLine, m_centerLine)
ZO_STORE_GETTER(std::vector<float>, SawCuts, m_sawCuts)
ZO_STORE_GETTER(std::vector<float>, JawBorder, m_jawBorder)
#undef ZO_STORE_GETTER
