#include "ZoCAcquisitionSteeringOrbal2.h"

#include "ZoCOrbal2AxisCalibration.h"
#include "ZoCPlanningFrame.h"

#include <algorithm>
#include <cmath>
#include <limits>

std::atomic<int> ZoCAcquisitionSteeringOrbal2::m_iRequestCounter{1};
std::atomic<int> ZoCAcquisitionSteeringOrbal2::m_iCurrStumpIndex{0};

Logging::CLogger& ZoCAcquisitionSteeringOrbal2::logger() {
    static Logging::CLogger instance("ZAZ.ZoOrbal2.Steering.ZoCAcquisitionSteeringOrbal2");
    return instance;
}

bool ZoCAcquisitionSteeringOrbal2::LocalProgress::GoOn() {
    const CbEvent* event = m_pInterruptEvent.load();
    if (event && event->IsSet()) return false;
    return !m_bInterrupt.load();
}

ZoCAcquisitionSteeringOrbal2::LocalProgress& ZoCAcquisitionSteeringOrbal2::GetProgressCallback() {
    static LocalProgress progress;
    return progress;
}

bool ZoCAcquisitionSteeringOrbal2::SetInterrupt(bool interrupt) {
    GetProgressCallback().SetInterrupt(interrupt);
    return true;
}

bool ZoCAcquisitionSteeringOrbal2::SetInterruptEvent(const CbEvent* event) {
    GetProgressCallback().SetInterruptEvent(event);
    return true;
}

// ---------------------------------------------------------------------------------------------
// Construction

ZoCAcquisitionSteeringOrbal2::ZoCAcquisitionSteeringOrbal2(const ZoCOrbal2AxisChain& chain, EAcquisitionType type)
    : m_axisChain(chain), m_eAcquisitionType(type) {
    m_pAxisCalibration = std::make_unique<ZoCOrbal2AxisCalibration>();
    ZoCWinLog().Log("!!!Achtung: m_iCurrStumpIndex muss noch aus der ImageArea abgeleitet werden!!!!");
    initJointPositionsAndLimits();
    buildJointParameterRecords(m_jointParams);

    m_pPlanning.reset(GetZoCOrbal2AcquisitionPlanning());
    m_pPlanning->SetAcquisitionType(m_eAcquisitionType);
    m_pPlanning->SetProgressCallback(&GetProgressCallback());

    NCJointConfiguration neutral;
    m_axisChain.GetNeutralConfiguration(neutral);
    m_planningTrafo = ZoCPlanningFrame::PlanningTransformation(m_axisChain.GetCamToDiscTransformation(neutral, false));
    m_pPlanning->SetPlanningTransformation(m_planningTrafo);

    m_pPutScanThread = std::make_unique<ZoNPutScanThread>(*this);
    m_pPutScanThread->Start();
}

ZoCAcquisitionSteeringOrbal2::~ZoCAcquisitionSteeringOrbal2() {
    // The worker uses the planning object: it goes first.
    m_pPutScanThread.reset();
    m_pPlanning.reset();
}

void ZoCAcquisitionSteeringOrbal2::initJointPositionsAndLimits() {
    std::fill(std::begin(m_afHomeJoints), std::end(m_afHomeJoints), 0.0f);
    std::fill(std::begin(m_afUpperLimits), std::end(m_afUpperLimits), 0.0f);
    std::fill(std::begin(m_afLowerLimits), std::end(m_afLowerLimits), 0.0f);
}

// ---------------------------------------------------------------------------------------------
// Requests

int ZoCAcquisitionSteeringOrbal2::GetNewRequestNumber() { return m_iRequestCounter.fetch_add(1); }

void ZoCAcquisitionSteeringOrbal2::AssociateRequestAndDHParameters(const CString& name, const float* joints) {
    NSRequestAssociation association;
    association.m_strName = name;
    for (int i = 0; i < 5; ++i) association.m_afJoints[i] = joints[i];
    std::lock_guard<std::mutex> lock(m_associationsMutex);
    m_associations.AddTail(association);
}

void ZoCAcquisitionSteeringOrbal2::AssociateRequestAndImageSourceID(const CString& name, const GUID& id) {
    std::lock_guard<std::mutex> lock(m_associationsMutex);
    for (NSRequestAssociation& a : m_associations) {
        if (a.m_strName == name) {
            a.m_imageSourceId = id;
            return;
        }
    }
}

const float* ZoCAcquisitionSteeringOrbal2::GetDHParametersForImageSourceID(const GUID& id) const {
    std::lock_guard<std::mutex> lock(m_associationsMutex);
    for (const NSRequestAssociation& a : m_associations)
        if (a.m_imageSourceId == id) return a.m_afJoints;
    return nullptr;
}

bool ZoCAcquisitionSteeringOrbal2::CheckAcquisitionType(ECAIAcquireMode mode) const {
    const int m = static_cast<int>(mode);
    switch (m_eAcquisitionType) {
        case ZoCOrbal2AcquisitionPlanning::eTypeJaw:
        case ZoCOrbal2AcquisitionPlanning::eTypeTripleTray:
            // Modes 4-7, 12-17 and 19-23.
            return m >= 0 && m <= 23 && ((0xFBF0F0u >> m) & 1u) != 0;
        case ZoCOrbal2AcquisitionPlanning::eTypeGyration:
            return m >= 9 && m <= 11;
        default:
            return false;
    }
}

// ---------------------------------------------------------------------------------------------
// Device description handed to the planning

void ZoCAcquisitionSteeringOrbal2::buildJointParameterRecords(
    ZoCOrbal2AcquisitionPlanning::NSJointParameter records[5]) const {
    for (int i = 0; i < 5; ++i) {
        const ZoCOrbal2DenavitHartenbergJoint& joint = m_axisChain.GetDHJoint(i);
        for (int k = 0; k < 4; ++k) records[i].dh[k] = joint.GetParam(k);
        if (joint.GetKind() == 0 || joint.GetKind() == 1) records[i].kind = joint.GetKind();
        records[i].minPosition = joint.GetMinPosition();
        records[i].maxPosition = joint.GetMaxPosition();
    }
}

void ZoCAcquisitionSteeringOrbal2::setJointParameters() {
    ZoCOrbal2AcquisitionPlanning::NSJointParameter records[5];
    buildJointParameterRecords(records);
    m_pPlanning->SetJointParameters(records);
}

void ZoCAcquisitionSteeringOrbal2::SetLimitsForJointParameters(float a, float b) {
    buildJointParameterRecords(m_jointParams);
    const float halfWidth[2] = {std::min(std::fabs(a), 89.99f), std::min(std::fabs(b), 89.99f)};
    for (int k = 0; k < 2; ++k) {
        ZoCOrbal2AcquisitionPlanning::NSJointParameter& joint = m_jointParams[k + 1];
        const float centre = joint.dh[0];
        joint.minPosition = std::max(joint.minPosition, centre - halfWidth[k]);
        joint.maxPosition = std::min(joint.maxPosition, centre + halfWidth[k]);
    }
    m_pPlanning->SetJointParameters(m_jointParams);
}

void ZoCAcquisitionSteeringOrbal2::initScanPlan() {
    std::unique_ptr<ZoCOrbal2AcquisitionPlanning> fresh(GetZoCOrbal2AcquisitionPlanning());
    // The worker may be handing a scan to the old object: let the queue drain first.
    if (m_pPutScanThread) m_pPutScanThread->WaitForEmptyQueue();
    if (fresh.get() != m_pPlanning.get()) m_pPlanning.reset(fresh.release());
    m_pPlanning->SetAcquisitionType(m_eAcquisitionType);
    m_pPlanning->SetProgressCallback(&GetProgressCallback());
}

bool ZoCAcquisitionSteeringOrbal2::setCameraAndProjectorParameters(const ZoCCamProjCalib& calib) {
    CCoordinate3<double> cView, pView, cUp, pUp, cEye, pEye;
    double cFov = 0, pFov = 0;
    long cWidth = 0, cHeight = 0, pWidth = 0, pHeight = 0;
    const ZoCAbstractCamCalib& camera = calib.GetCamera();
    const bool ok = camera.GetViewDirection(cView) && calib.GetPViewDirection(pView) && camera.GetUpDirection(cUp) &&
                    calib.GetPUpDirection(pUp) && camera.GetEyePt(cEye) && calib.GetPEyePt(pEye) &&
                    camera.GetFOV(cFov) && calib.GetProjector().GetFOV(pFov) &&
                    calib.GetCameraImageSize(cWidth, cHeight) && calib.GetPGridSize(pWidth, pHeight);
    if (!ok) return false;
    auto block = [](const CCoordinate3<double>& view, const CCoordinate3<double>& up, const CCoordinate3<double>& eye,
                    double fov, long width, long height) {
        ZoCOrbal2AcquisitionPlanning::NSSensorParameters p;
        const CCoordinate3<double>* src[3] = {&view, &up, &eye};
        float* dst[3] = {p.view, p.up, p.eye};
        for (int k = 0; k < 3; ++k) {
            dst[k][0] = static_cast<float>(src[k]->x);
            dst[k][1] = static_cast<float>(src[k]->y);
            dst[k][2] = static_cast<float>(src[k]->z);
        }
        p.fov = static_cast<float>(fov);
        p.width = static_cast<int>(width);
        p.height = static_cast<int>(height);
        return p;
    };
    m_pPlanning->SetCameraParameters(block(cView, cUp, cEye, cFov, cWidth, cHeight));
    m_pPlanning->SetProjectorParameters(block(pView, pUp, pEye, pFov, pWidth, pHeight));
    m_pCamProjCalib = calib.Clone();
    return true;
}

// ---------------------------------------------------------------------------------------------
// Scan parameters

void ZoCAcquisitionSteeringOrbal2::setJointParamsL2L3L5(float l2, float l3, float l5) {
    m_fScanL2 = l2;
    m_fScanL3 = l3;
    m_fScanL5 = l5;
}

void ZoCAcquisitionSteeringOrbal2::getScanParamsL2L3L5(float& l2, float& l3, float& l5) const {
    l2 = m_fScanL2;
    l3 = m_fScanL3;
    l5 = m_fScanL5;
}

void ZoCAcquisitionSteeringOrbal2::setJointParamsL2L3L5(float l2, float l3, float l5, int i) {
    if (i < 0 || i >= c_iMaxRotationImages) return;
    m_afImageJoints[1][i] = l2;
    m_afImageJoints[2][i] = l3;
    m_afImageJoints[4][i] = l5;
}

void ZoCAcquisitionSteeringOrbal2::getJointParamsL2L3L5(float& l2, float& l3, float& l5, int i) const {
    if (i < 0 || i >= c_iMaxRotationImages) return;
    l2 = m_afImageJoints[1][i];
    l3 = m_afImageJoints[2][i];
    l5 = m_afImageJoints[4][i];
}

void ZoCAcquisitionSteeringOrbal2::setJointParamsForOptimization(float l1, float l2, float l3, float l4, float l5,
                                                                  int i) {
    if (i < 0 || i >= c_iMaxRotationImages) return;
    const float values[5] = {l1, l2, l3, l4, l5};
    for (int j = 0; j < 5; ++j) m_afImageJoints[j][i] = values[j];
}

// ---------------------------------------------------------------------------------------------
// Frames and regions

bool ZoCAcquisitionSteeringOrbal2::enlargeFrame(CRect& r, int grow, int minSize) const {
    long width = 0, height = 0;
    // Without a camera there is no image to keep the region inside: leave it as it is.
    if (!m_pCamProjCalib || !m_pCamProjCalib->GetCameraImageSize(width, height)) return true;
    const int w = static_cast<int>(width), h = static_cast<int>(height);
    const int m = std::min({minSize, w, h});
    const int half = m / 2;
    const int hx = std::max(std::max(grow, 0) + r.right - r.left, m) / 2;
    const int hy = std::max(std::max(grow, 0) + r.bottom - r.top, m) / 2;
    int cx = std::max((r.left + r.right) / 2, half);
    int cy = std::max((r.top + r.bottom) / 2, half);
    if (cx >= w - half) cx = w - half - 1;
    if (cy >= h - half) cy = h - half - 1;
    r.left = std::max(cx - hx, 0);
    r.right = std::min(cx + hx, w - 1);
    r.top = std::max(cy - hy, 0);
    r.bottom = std::min(cy + hy, h - 1);
    return true;
}

float ZoCAcquisitionSteeringOrbal2::getZLimitOfRotScan(const std::vector<ZoCFieldCoord>& fields) const {
    float zMin = std::numeric_limits<float>::max();
    for (const ZoCFieldCoord& field : fields) {
        const CyBoundingBox3D box = field.GetBBox();
        // An empty field (no valid point) has no corners; its +-largest-float box would drag
        // the limit below every point of the others.
        if (box.IsEmpty()) continue;
        for (int c = 0; c < 8; ++c) {
            const CbVector3f p = ZoCPlanningFrame::ImageAreaToDisc(m_trafoImageAreaToDisc, box.GetCorner(c));
            zMin = std::min(zMin, p.z);
        }
    }
    return zMin;
}

// ---------------------------------------------------------------------------------------------
// Scans

void ZoCAcquisitionSteeringOrbal2::PutScan(const ZoCFieldCoord& field, const GUID& id) {
    if (m_pPutScanThread) m_pPutScanThread->PutScan(field, id);
}

void ZoCAcquisitionSteeringOrbal2::PutScanGroup(const std::vector<ZoCFieldCoord>& fields, const GUID& id) {
    if (m_pPutScanThread) m_pPutScanThread->PutScanGroup(fields, id);
}

void ZoCAcquisitionSteeringOrbal2::CancelPutScan() {
    if (m_pPutScanThread) m_pPutScanThread->CancelPutScan();
}

bool ZoCAcquisitionSteeringOrbal2::Evaluate(ZoCOrbal2AcquisitionPlanning::NSEvaluationResult& result) {
    if (m_pPutScanThread) m_pPutScanThread->WaitForEmptyQueue();
    m_pPlanning->Evaluate(result);
    return true;
}
