// Jaw steering: the tilted scans along the jaw line, in four phases, and the geometry that
// turns a jaw-line point into joint values.
#include "ZoCAcquisitionSteeringOrbal2Jaw.h"

#include "ZoCJawScanJointSequenceGenerator.h"

#include <algorithm>
#include <cfloat>
#include <cmath>

namespace {
constexpr float c_fPi = 3.1415927f;
constexpr float c_fDegToRad = 0.017453292f;
constexpr float c_fSixtyDegrees = 1.0471976f;
constexpr float c_fFifteenDegrees = 0.2617994f;
constexpr int c_iMaxLLSequence = 30;

// Tilt factors of the four phases: regular and triple-tray mode.
struct PhaseFactors {
    float forward, farEnd, back, nearEnd;
    int extraForward;  // the triple tray takes one more forward image
};
constexpr PhaseFactors c_regular{0.6666667f, 0.75f, 1.1666666f, 0.75f, 0};
constexpr PhaseFactors c_tripleTray{0.45f, 0.25f, 0.16666667f, 0.5f, 1};
}  // namespace

void ZoCAcquisitionSteeringOrbal2Jaw::setJointParamsL2L3L5(float l2, float l3, float l5, NSConfigurationRequest& req) {
    req.m_config[1] = l2;
    req.m_config[2] = l3;
    req.m_config[4] = l5;
}

float ZoCAcquisitionSteeringOrbal2Jaw::getLLAzimut(CbVector3f v) { return -std::atan2(v.y, v.x); }

bool ZoCAcquisitionSteeringOrbal2Jaw::GetJointConfigurationAlongLL(CJointPositionSequence& seq, bool& tooHigh) {
    seq.RemoveAll();
    NCJointConfiguration neutral;
    if (!refreshNeutralAndLimits(neutral)) return false;
    NSConfigurationRequest req;
    req.m_config = neutral;
    for (int j = 0; j < 5; ++j) req.m_config[j] = m_startJointPos[j];
    tooHigh = calculateJointPositionsForTiltedRecordsAlongLL_Phases(seq, req, m_bExtended, m_bTripleTray);
    const int start = getStartIndexForLLSequence(seq);
    m_lastRequest = req;
    reArrangeSequence(seq, start);
    return !tooHigh;
}

bool ZoCAcquisitionSteeringOrbal2Jaw::calculateJointPositionsForTiltedRecordsAlongLL_Phases(
    CJointPositionSequence& seq, NSConfigurationRequest& req, bool extended, bool tripleTray) {
    int nSeg = extended ? 7 : 5;
    float tilt = c_fSixtyDegrees;
    const float offset = calculateOffsetAngleDiscToCamForLL();
    const float a = m_axisChain.GetDHJoint(2).GetLengthParam();
    const int used = m_iNumUsedPts;

    // A short jaw line gets fewer segments.
    const float fill = static_cast<float>(used) / static_cast<float>(m_iMaxNumPts);
    if (fill < 1.0f - 1.0f / static_cast<float>(nSeg))
        nSeg = std::max(1, static_cast<int>(static_cast<float>(nSeg) * fill + 0.5f));
    const int segLen = used / nSeg, half = segLen / 2;

    // The arch point that faces the camera sets the height of the model.
    int front = 0;
    float frontAngle = FLT_MAX;
    for (int i = 0; i < used; ++i) {
        const float angle = std::fabs(limitAngleL5(getLLAzimut(m_aLL[static_cast<size_t>(i)]) - offset));
        if (angle < frontAngle) {
            frontAngle = angle;
            front = i;
        }
    }
    const float zF = calcZLevelOfLL(front, half - 1);
    float limit = 89.99f;
    if (a < zF) {
        // A model higher than the L3 length is tilted less, and the tilt joints narrowed.
        tilt = std::clamp(std::asin(a / zF), c_fFifteenDegrees, c_fSixtyDegrees);
        if (tilt < c_fSixtyDegrees) limit = std::min(tilt * c_fRadToDeg + 30.0f, 60.0f);
    }
    const float r = calcAvgRadialShift();
    req.m_config[3] = zF;
    const float zc = calcZcorrection(r, tilt, req, true);
    const bool tooHigh = zc >= m_axisChain.GetDHJoint(0).GetMaxPosition() + 12.500001f;
    SetLimitsForJointParameters(limit, limit);

    const int nC = tripleTray ? nSeg + 1 : nSeg + 3;
    if (nSeg + 2 + (nSeg + 3) + (extended ? nSeg + 3 : 0) > c_iMaxLLSequence) return tooHigh;

    const PhaseFactors& f = tripleTray ? c_tripleTray : c_regular;
    int image = 0;
    // Phase A: forward along the arch, tilted to one side.
    const int nA = nSeg + f.extraForward;
    const int sA = (used - segLen) / std::max(1, nA - 1);
    for (int k = 0; k < nA; ++k) emitLLImage(f.forward * tilt, half + k * sA, -1, 0, true, half, offset, a, image, req, seq);
    // Phase B: the far end, tilted to the other side.
    emitLLImage(f.farEnd * tilt, half + (nA - 1) * sA, +1, 0, true, half, offset, a, image, req, seq);
    // Phase C: back along the arch, 5 lower and tilted more steeply (twice per stop when extended).
    const int third = segLen / 3;
    const int start = (nA - 1) * sA - third + half;
    const int sC = (start - half - third) / std::max(1, nC - 1);
    for (int k = 0; k < nC; ++k) {
        const int idx = start - k * sC;
        req.m_config[3] = calcZLevelOfLL(idx, half - 1) - 5.0f;
        for (int m = 1; m <= (extended ? 2 : 1); ++m)
            emitLLImage(f.back * tilt / static_cast<float>(m), idx, +1, -5, false, half, offset, a, image, req, seq);
    }
    // Phase D: the near end.
    emitLLImage(f.nearEnd * tilt, half, +1, 0, true, half, offset, a, image, req, seq);
    return tooHigh;
}

void ZoCAcquisitionSteeringOrbal2Jaw::emitLLImage(float tilt, int idx, float sign, float zShift, bool setL4, int half,
                                                  float offset, float a, int& imageIndex, NSConfigurationRequest& req,
                                                  CJointPositionSequence& seq) {
    float t2 = 0, t3 = 0, l5 = 0, radius = 0;
    calcJointParams(tilt, idx, offset, a, t2, t3, l5, radius);
    if (setL4) req.m_config[3] = calcZLevelOfLL(idx, half - 1) + zShift;
    req.m_config[0] = calcZcorrection(radius, sign * t3, req, false);
    setJointParamsL2L3L5(m_afHomeJoints[1] + sign * t2 * c_fRadToDeg, m_afHomeJoints[2] + sign * t3 * c_fRadToDeg, l5,
                         req);
    appendRequest(L"%03d_UL_%d", imageIndex++, req, seq);
}

void ZoCAcquisitionSteeringOrbal2Jaw::calcJointParams(float tilt, int index, float offset, float radialOffset,
                                                      float& t2, float& t3, float& l5, float& radius) const {
    const CbVector3f& p = m_aLL[static_cast<size_t>(std::clamp(index, 0, m_iMaxNumPts - 1))];
    radius = std::sqrt(p.x * p.x + p.y * p.y) - radialOffset;
    l5 = c_fRadToDeg * limitAngleL5(getLLAzimut(p) - offset);
    // The tilt is split over the two tilt joints for a fixed tilt azimuth of pi.
    t2 = std::asin(std::sin(c_fPi) * std::sin(tilt));
    t3 = std::asin(std::cos(c_fPi) * std::sin(tilt) / std::cos(t2));
    limitTiltAngles(t2, t3);
}

bool ZoCAcquisitionSteeringOrbal2Jaw::limitTiltAngles(float& t2, float& t3) const {
    bool changed = false;
    float* tilts[2] = {&t2, &t3};
    for (int k = 0; k < 2; ++k) {
        const ZoCOrbal2DenavitHartenbergJoint& joint = m_axisChain.GetDHJoint(k + 1);
        const float theta = joint.GetAngleOffset() * c_fDegToRad;
        const float lo = joint.GetMinPosition() * c_fDegToRad, hi = joint.GetMaxPosition() * c_fDegToRad;
        float& t = *tilts[k];
        if (theta + t < lo) {
            t = lo - theta;
            changed = true;
        } else if (theta + t > hi) {
            t = hi - theta;
            changed = true;
        }
    }
    return changed;
}

float ZoCAcquisitionSteeringOrbal2Jaw::calcZLevelOfLL(int idx, int h) const {
    const int lo = idx - h, hi = idx + h;
    if (lo >= 0 && hi < m_iNumUsedPts && lo < hi) {
        double sum = 0;
        int count = 0;
        for (int i = lo; i < hi; i += 4, ++count) sum += m_aLL[static_cast<size_t>(i)].z;
        return static_cast<float>(-sum / count);
    }
    return -m_aLL[static_cast<size_t>(std::clamp(idx, 0, m_iMaxNumPts - 1))].z;
}

float ZoCAcquisitionSteeringOrbal2Jaw::calcZcorrection(float radius, float angle, NSConfigurationRequest& req,
                                                       bool unclamped) const {
    const float l1Start = m_startJointPos[0];
    const ZoCOrbal2DenavitHartenbergJoint& l4 = m_axisChain.GetDHJoint(3);
    float dz = 0;
    if (req.m_config[3] < l4.GetMinPosition()) {
        dz = l4.GetMinPosition() - req.m_config[3];
        req.m_config[3] = l4.GetMinPosition();
    } else if (req.m_config[3] > l4.GetMaxPosition()) {
        dz = l4.GetMaxPosition() - req.m_config[3];
        req.m_config[3] = l4.GetMaxPosition();
    }
    const float l1 = l1Start - (std::cos(angle) * dz + std::sin(angle) * radius);
    if (unclamped) return l1;
    const ZoCOrbal2DenavitHartenbergJoint& joint = m_axisChain.GetDHJoint(0);
    return std::clamp(l1, joint.GetMinPosition(), joint.GetMaxPosition());
}

float ZoCAcquisitionSteeringOrbal2Jaw::calcAvgRadialShift() const {
    const float a = m_axisChain.GetDHJoint(2).GetLengthParam();
    double sum = 0;
    int count = 0;
    for (int i = 0; i < m_iNumUsedPts; ++i) {
        const CbVector3f& p = m_aLL[static_cast<size_t>(i)];
        const float shift = std::sqrt(p.x * p.x + p.y * p.y) - a;
        if (shift > 0) {
            sum += shift;
            ++count;
        }
    }
    return count > 0 ? static_cast<float>(sum / count) : 0.0f;
}

float ZoCAcquisitionSteeringOrbal2Jaw::calculateOffsetAngleDiscToCamForLL() const {
    const ZoCCamProjCalib* calib = cameraCalibration();
    long width = 0, height = 0;
    if (!calib || !calib->GetCameraImageSize(width, height)) return 0;
    double point[3];
    calib->ImagePointToCameraSpace(static_cast<double>(width) / 2, static_cast<double>(height) / 2, point);
    NCJointConfiguration neutral;
    m_axisChain.GetNeutralConfiguration(neutral);
    const CbVector3f q = m_axisChain.GetCamToDiscTransformation(neutral, false).TransformPoint(
        CbVector3f(static_cast<float>(point[0]), static_cast<float>(point[1]), static_cast<float>(point[2])));
    return limitAngleL5(-std::atan2(q.y, q.x));
}

int ZoCAcquisitionSteeringOrbal2Jaw::getStartIndexForLLSequence(const CJointPositionSequence& seq) const {
    ZoCJawScanJointSequenceGenerator generator(static_cast<int>(seq.GetCount()), 60.0f);
    return generator.ChooseStartIndex(seq, m_lastRequest.m_config);
}

void ZoCAcquisitionSteeringOrbal2Jaw::reArrangeSequence(CJointPositionSequence& seq, int start) {
    const int64_t n = seq.GetCount();
    if (n == 0) return;
    CJointPositionSequence old = seq;
    for (int64_t i = 0; i < n; ++i) seq[i] = old[(start + i) % n];
    for (int j = 0; j < 5; ++j) m_lastRequest.m_config[j] = seq[n - 1].m_config[j];
}
