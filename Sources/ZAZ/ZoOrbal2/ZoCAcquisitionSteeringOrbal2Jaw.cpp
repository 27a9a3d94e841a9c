// Jaw steering: set-up, the jaw line, its hand-over to the planning, and the overview ring.
#include "ZoCAcquisitionSteeringOrbal2Jaw.h"

#include "ZoCPlanningFrame.h"

#include <algorithm>
#include <cfloat>
#include <cmath>

ZoCAcquisitionSteeringOrbal2Jaw::ZoCAcquisitionSteeringOrbal2Jaw(const ZoCOrbal2DeviceConfig& device, bool tripleTray,
                                                                 bool extended, bool skipLimit)
    : ZoCAcquisitionSteeringOrbal2(device.m_axisChain, tripleTray ? ZoCOrbal2AcquisitionPlanning::eTypeTripleTray
                                                                  : ZoCOrbal2AcquisitionPlanning::eTypeJaw),
      m_fLowerThreshold(tripleTray ? -c_fMaxLowerThresholdZ : c_fMaxLowerThresholdZ),
      m_bTripleTray(tripleTray),
      m_bExtended(extended),
      m_bSkipLimit(skipLimit),
      m_aLL(m_ciMaxNumPts) {
    NCJointConfiguration neutral;
    m_axisChain.GetNeutralConfiguration(neutral);
    m_startJointPos = neutral;
    m_startJointPosOvw = neutral;
    SetTrafoImageAreaToDisc(c_matIdentity);
    m_fOffsetAngle = 0;
    m_fScanL2 = neutral[1];
    m_fScanL3 = neutral[2];
    initROIIndices();

    setCameraAndProjectorParameters(device.m_camProjCalib);
    setJointParameters();
    if (!m_bSkipLimit) {
        SetLimitsForJointParameters(89.99f, 89.99f);
        m_pPlanning->Update();
    }
    m_pPlanning->SetModeFlag(m_bSkipLimit);
    m_lastRequest.m_config = neutral;
}

CbVector3f ZoCAcquisitionSteeringOrbal2Jaw::toDisc(const CbVector3f& p) const {
    return ZoCPlanningFrame::ImageAreaToDisc(m_trafoImageAreaToDisc, p);
}

bool ZoCAcquisitionSteeringOrbal2Jaw::refreshNeutralAndLimits(NCJointConfiguration& neutral) {
    if (!m_axisChain.GetNeutralConfiguration(neutral)) return false;
    for (int j = 0; j < 5; ++j) {
        m_afHomeJoints[j] = neutral[j];
        m_axisChain.GetMinMaxPosition(j, m_afLowerLimits[j], m_afUpperLimits[j]);
    }
    if (m_afLowerLimits[4] == m_afUpperLimits[4]) {
        m_afLowerLimits[4] = 0;
        m_afUpperLimits[4] = 360;
    }
    return true;
}

void ZoCAcquisitionSteeringOrbal2Jaw::appendRequest(const wchar_t* pattern, int index, NSConfigurationRequest& req,
                                                    CJointPositionSequence& seq) {
    req.m_strName.Format(pattern, GetNewRequestNumber(), index);
    req.m_byFlag = 1;
    seq.Add(req);
    AssociateRequestAndDHParameters(req.m_strName, req.m_config.Data());
}

// ---------------------------------------------------------------------------------------------
// Jaw line

namespace {
// Knots farther out than this cannot come from a model on the disc (image-area units, 40 per
// millimetre), and differences of such values would overflow while the spline is sampled.
constexpr float c_fMaxSkeletonCoordinate = 1e15f;

bool isUsableKnot(const CbVector3f& p) {
    return std::fabs(p.x) <= c_fMaxSkeletonCoordinate && std::fabs(p.y) <= c_fMaxSkeletonCoordinate &&
           std::fabs(p.z) <= c_fMaxSkeletonCoordinate;  // false for NaN as well
}
}  // namespace

float ZoCAcquisitionSteeringOrbal2Jaw::ExtractLLFromSkeleton(CyHermiteSpline skeleton, float lowerThreshold) {
    // A skeleton with a NaN, infinite or absurdly far knot gives no jaw line: sampling it
    // would turn lengths and indices into garbage. The steering keeps what it had.
    const std::vector<CbVector3f>& knots = skeleton.GetControlPoints();
    if (!std::all_of(knots.begin(), knots.end(), isUsableKnot)) {
        if (logger().IsLogLevelEnabled(Logging::Error))
            logger().Error(__FILE__, __LINE__, __func__, L"Condition failed: %ls",
                           L"Das Skelett enthaelt Punkte mit nicht endlichen Koordinaten");
        return 0.0f;
    }
    const float length = skeleton.SubdivideByLength();
    m_fLLLength = length;
    const int n = std::clamp(static_cast<int>(0.5f * length), 3, m_iMaxNumPts);
    m_iNumUsedPts = n;
    const float step = length / static_cast<float>(n);
    for (int i = 0; i < n; ++i) m_aLL[static_cast<size_t>(i)] = skeleton.ComputePositionAtLength(static_cast<float>(i) * step);
    m_fLLArea = skeleton.GetSubdivision().ComputeClosedArea(CbVector3f(0, 0, 1));
    m_skeleton = std::move(skeleton);
    if (m_fLLArea < 0) std::reverse(m_aLL.begin(), m_aLL.begin() + n);
    SetLowerThreshold(lowerThreshold);
    for (int i = 0; i < n; ++i) m_aLL[static_cast<size_t>(i)] = toDisc(m_aLL[static_cast<size_t>(i)]);
    return m_fLLArea;
}

void ZoCAcquisitionSteeringOrbal2Jaw::SetLowerThreshold(float value) {
    const float clamped = std::clamp(value, c_fMinLowerThresholdZ, c_fMaxLowerThresholdZ);
    m_fLowerThreshold = m_bTripleTray ? -clamped : clamped;
}

void ZoCAcquisitionSteeringOrbal2Jaw::initROIIndices() {
    std::fill(std::begin(m_aiROIIdx), std::end(m_aiROIIdx), -1);
    std::fill(std::begin(m_aiPrepIdx), std::end(m_aiPrepIdx), -1);
    std::fill(std::begin(m_aiPrepFlags), std::end(m_aiPrepFlags), -1);
}

int ZoCAcquisitionSteeringOrbal2Jaw::GetNumOfPrepsInROI() const {
    int n = 0;
    while (n < m_ciMaxNumIdx && m_aiPrepIdx[n] != -1) ++n;
    return n;
}

int ZoCAcquisitionSteeringOrbal2Jaw::getNumOfROIIntervals() const {
    int n = 0;
    while (n < m_ciMaxNumIdx && m_aiROIIdx[n] != -1) ++n;
    return n % 2 == 0 ? n / 2 : -1;
}

int ZoCAcquisitionSteeringOrbal2Jaw::findIndexOnLL(CbVector3f p, int start) const {
    const int lo = std::max(start - 32, 0), hi = std::min(m_iNumUsedPts, start + 32);
    int best = -1;
    float bestDistance = FLT_MAX;
    for (int i = lo; i < hi; ++i) {
        const float d = (m_aLL[static_cast<size_t>(i)] - p).Length();
        if (d < bestDistance) {
            bestDistance = d;
            best = i;
        }
    }
    return best;
}

void ZoCAcquisitionSteeringOrbal2Jaw::SetROI(CbList<std::pair<float, float>> intervals) {
    initROIIndices();
    float length = m_fLLLength;
    if (intervals.IsEmpty()) intervals.AddTail(m_fLLArea <= 0 ? std::make_pair(length, 0.0f) : std::make_pair(0.0f, length));
    if (length == 0) length = static_cast<float>(m_iMaxNumPts - 1);
    const float k = static_cast<float>(m_iNumUsedPts - 1) / length;
    const int spacing = m_iMaxNumPts / 14;  // between presumed preparations: 146 points
    std::vector<int> roi, preps;
    for (const auto& interval : intervals) {
        // a, b: arc lengths on the skeleton as the host gave them; the indices count along
        // the jaw line, which runs the other way round when the skeleton was clockwise.
        float a = interval.first, b = interval.second;
        int ia, ib;
        if (std::fabs(a) == FLT_MAX || std::fabs(b) == FLT_MAX) {
            m_fLLArea = 1.0f;
            ia = 0;
            ib = m_iNumUsedPts - 1;
            a = 0;
            b = length;
        } else {
            // Only a clockwise skeleton (negative area) has its jaw line reversed; a straight
            // one (area exactly 0) runs along its own arc lengths and is not mirrored.
            const bool mirrored = m_fLLArea < 0;
            ia = static_cast<int>(k * (mirrored ? length - a : a) + 0.5f);
            ib = static_cast<int>(k * (mirrored ? length - b : b) + 0.5f);
            if (ia > ib) {
                std::swap(ia, ib);
                std::swap(a, b);
            }
            ia = std::clamp(ia, 0, m_iNumUsedPts - 1);
            ib = std::clamp(ib, 0, m_iNumUsedPts - 1);
        }
        if (ia == ib) continue;
        // Refine both ends to the jaw-line points nearest to the skeleton's own positions.
        const int foundA = findIndexOnLL(toDisc(m_skeleton.ComputePositionAtLength(a)), ia);
        const int foundB = findIndexOnLL(toDisc(m_skeleton.ComputePositionAtLength(b)), ib);
        if (foundA != -1) ia = foundA;
        if (foundB != -1) ib = foundB;
        roi.push_back(ia);
        roi.push_back(ib);
        const int count = std::max(1, static_cast<int>(static_cast<float>(ib - ia) / static_cast<float>(spacing) + 0.5f));
        for (int j = 0; j < count; ++j)
            preps.push_back(static_cast<int>((static_cast<float>(j) + 0.5f) * static_cast<float>(spacing) + 0.5f) + ia);
    }
    for (size_t i = 0; i < roi.size() && i < m_ciMaxNumIdx; ++i) m_aiROIIdx[i] = roi[i];
    for (size_t i = 0; i < preps.size() && i < m_ciMaxNumIdx; ++i) {
        m_aiPrepIdx[i] = preps[i];
        m_aiPrepFlags[i] = 0;
    }
    intervals.RemoveAll();
}

void ZoCAcquisitionSteeringOrbal2Jaw::GetLL(CbVector3f* out) const {
    for (int i = 0; i < m_iMaxNumPts; ++i) out[i] = i < m_iNumUsedPts ? m_aLL[static_cast<size_t>(i)] : CbVector3f();
}

// ---------------------------------------------------------------------------------------------
// Hand-over to the planning

void ZoCAcquisitionSteeringOrbal2Jaw::PutCenterLine() {
    if (m_pPutScanThread) m_pPutScanThread->WaitForEmptyQueue();
    std::vector<float> points;
    points.reserve(static_cast<size_t>(m_iNumUsedPts) * 3);
    for (int i = 0; i < m_iNumUsedPts; ++i) {
        const CbVector3f q = ZoCPlanningFrame::DiscToPlanning(m_planningTrafo, m_aLL[static_cast<size_t>(i)]);
        points.insert(points.end(), {q.x, q.y, q.z});
    }
    const int numRoi = getNumOfROIIntervals() > 0 ? 2 * getNumOfROIIntervals() : 0;
    const int numPreps = GetNumOfPrepsInROI();
    ZoCOrbal2AcquisitionPlanning::NSCenterLineRecord record;
    record.points = points.data();
    record.numPointFloats = static_cast<int>(points.size());
    record.roiIndices = numRoi > 0 ? m_aiROIIdx : nullptr;
    record.numRoiIndices = numRoi;
    record.prepIndices = numPreps > 0 ? m_aiPrepIdx : nullptr;
    record.prepFlags = numPreps > 0 ? m_aiPrepFlags : nullptr;
    record.numPreps = numPreps;
    record.lowerThreshold = m_fLowerThreshold * ZoCPlanningFrame::c_fImageAreaToDisc;
    m_pPlanning->PutCenterLine(record, m_bSkipLimit);
}

void ZoCAcquisitionSteeringOrbal2Jaw::SetJawlineBorder() {
    if (m_jawBorder.empty()) return;
    m_jawBorderPlanning.clear();
    for (const CbVector3f& p : m_jawBorder) {
        const CbVector3f disc = toDisc(CbVector3f(p.x, p.y, -p.z));
        const CbVector3f q = ZoCPlanningFrame::DiscToPlanning(m_planningTrafo, disc);
        m_jawBorderPlanning.insert(m_jawBorderPlanning.end(), {q.x, q.y, q.z});
    }
    m_pPlanning->PutJawBorder(m_jawBorderPlanning.data(), static_cast<uint64_t>(m_jawBorderPlanning.size()));
}

void ZoCAcquisitionSteeringOrbal2Jaw::PutSawCuts(const std::vector<CbVector3f>& data) {
    if (data.empty()) return;
    const CbMatrix4Rf toDiscRotation = ZoCPlanningFrame::NormalisedRotation(m_trafoImageAreaToDisc);
    const CbMatrix4Rf planningRotation = ZoCPlanningFrame::NormalisedRotation(m_planningTrafo);
    std::vector<float> floats;
    for (size_t i = 0; i + 1 < data.size(); i += 2) {
        CbVector3f point = ZoCPlanningFrame::DiscToPlanning(m_planningTrafo, toDisc(data[i]));
        point.z -= 5.0f;
        const CbVector3f d = toDiscRotation.TransformDirection(data[i + 1]);
        CbVector3f direction = planningRotation.TransformDirection(CbVector3f(d.x, d.y, -d.z));
        if ((i / 2) % 2 == 1) direction = -direction;  // every odd-numbered cut points the other way
        floats.insert(floats.end(), {point.x, point.y, point.z, direction.x, direction.y, direction.z});
    }
    m_pPlanning->PutSawCuts(floats.data(), static_cast<int>(floats.size()));
}

// ---------------------------------------------------------------------------------------------
// Overview

float ZoCAcquisitionSteeringOrbal2Jaw::limitAngleL5(float a) const {
    float lo = m_afLowerLimits[4], hi = m_afUpperLimits[4];
    if (lo == hi) {
        lo = 0;
        hi = 360;
    }
    float shifted;
    if (a > hi) {
        shifted = a - 360.0f;
        if (shifted >= lo) return shifted;
    } else if (a < lo) {
        shifted = a + 360.0f;
        if (shifted <= hi) return shifted;
    } else {
        return a;
    }
    // Still outside: the nearer bound.
    return std::fabs(shifted - lo) > std::fabs(shifted - hi) ? hi : lo;
}

float ZoCAcquisitionSteeringOrbal2Jaw::setJointParamsForOverview(int index, NSConfigurationRequest& req, float step) {
    req.m_config[4] = limitAngleL5(static_cast<float>(index) * step + m_fOffsetAngle);
    return req.m_config[4];
}

void ZoCAcquisitionSteeringOrbal2Jaw::setOverviewScanParams() {
    m_fScanL2 = m_afHomeJoints[1];
    m_fScanL3 = m_afHomeJoints[2];
    m_fOffsetAngle = 0;
}

bool ZoCAcquisitionSteeringOrbal2Jaw::GetJointConfigurationForOverview(CJointPositionSequence& seq) {
    seq.RemoveAll();
    const int count = m_bExtended ? 8 : 6;
    const float step = 360.0f / static_cast<float>(count);
    NCJointConfiguration neutral;
    if (!refreshNeutralAndLimits(neutral)) return false;
    NSConfigurationRequest req;
    req.m_config = m_startJointPosOvw;
    m_fOffsetAngle = req.m_config[4];
    for (int k = 0; k < count; ++k) {
        setJointParamsForOverview(k, req, step);
        appendRequest(L"%03d_U0_%d", k, req, seq);
    }
    m_lastRequest = seq[count - 1];
    m_fOffsetAngle = m_lastRequest.m_config[4];
    return true;
}

bool ZoCAcquisitionSteeringOrbal2Jaw::GetJointConfigurationForRequestsFromFile(NSConfigurationRequest) {
    NCJointConfiguration neutral;
    return refreshNeutralAndLimits(neutral);
}
