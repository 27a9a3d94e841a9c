#include "ZoCAcquisitionSteeringOrbal2Scanbody.h"

#include "ZoCPlanningFrame.h"

#include <cfloat>
#include <cmath>

namespace {

// The rotation part of `m` with each column scaled to unit length (a vanishing column becomes
// zero), so that a scaled transformation turns directions without stretching them.
CbMatrix4Rf normalisedRotation(const CbMatrix4Rf& m) {
    CbMatrix4Rf r;
    for (int c = 0; c < 3; ++c) {
        const CbVector3f column(m(0, c), m(1, c), m(2, c));
        const float squared = column.Dot(column);
        const float scale = squared <= FLT_MIN ? 0.0f : 1.0f / std::sqrt(squared);
        for (int row = 0; row < 3; ++row)
            r(row, c) = m(row, c) * scale;
    }
    return r;
}

CbVector3f negateZ(const CbVector3f& v) {
    return {v.x, v.y, -v.z};
}

}  // namespace

ZoCAcquisitionSteeringOrbal2Scanbody::ZoCAcquisitionSteeringOrbal2Scanbody(
    const ZoCOrbal2DeviceConfig& device)
    : ZoCAcquisitionSteeringOrbal2Gyration(device) {
    SetLimitsForJointParameters(89.99f, 89.99f);
    m_pPlanning->Update();
    SetTrafoImageAreaToDisc(c_matIdentity);
    long width = 0, height = 0;
    if (cameraCalibration() && cameraCalibration()->GetCameraImageSize(width, height)) {
        m_iImageWidth = static_cast<int>(width);
        m_iImageHeight = static_cast<int>(height);
    }
}

// ---------------------------------------------------------------------------------------------
// Directions

CbMatrix4Rf ZoCAcquisitionSteeringOrbal2Scanbody::calcTrafoZAxisToRayDir(const float* dir) const {
    const CbVector3f v(dir[0], dir[1], dir[2]);
    const float r = std::sqrt(v.x * v.x + v.y * v.y);
    if (!(v.Length() > 0))
        return c_matIdentity;
    // Tilt from z and azimuth; atan2 also covers directions below the disc plane. Along the
    // vertical the azimuth is undefined: a direction that is vertical but for rounding (as an
    // upright axis is after the frame conversions) takes 0, so its views start at azimuth 0.
    const float theta = std::atan2(r, v.z);
    const float phi = r > c_fVerticalTolerance * v.Length() ? std::atan2(v.y, v.x) : 0.0f;
    return CbMatrix4Rf::RotationZ(phi) * CbMatrix4Rf::RotationY(theta);
}

void ZoCAcquisitionSteeringOrbal2Scanbody::calcViewDirForScanBodyGyration(float* out, int k, float cone,
                                                                          float step, float offset,
                                                                          CbMatrix4Rf m) {
    if (cone > 1.5707964f) {
        // Beyond a right angle the cone makes no sense: look straight down on the disc.
        out[0] = 0;
        out[1] = 0;
        out[2] = -1;
        return;
    }
    const float phi = static_cast<float>(k) * step + offset;
    const CbVector3f d = m.TransformPoint(
        CbVector3f(std::sin(cone) * std::cos(phi), std::sin(cone) * std::sin(phi), -std::cos(cone)));
    out[0] = d.x;
    out[1] = d.y;
    out[2] = d.z;
}

void ZoCAcquisitionSteeringOrbal2Scanbody::setAllJointParams(float l1, float l2, float l3, float l4, float l5,
                                                             NSConfigurationRequest& request) {
    request.m_config[0] = l1;
    request.m_config[1] = l2;
    request.m_config[2] = l3;
    request.m_config[3] = l4;
    request.m_config[4] = l5;
}

// ---------------------------------------------------------------------------------------------
// Frames

ZoCAcquisitionSteeringOrbal2Scanbody::NSPlanningRay ZoCAcquisitionSteeringOrbal2Scanbody::toPlanning(
    const CyRay& ray) const {
    NSPlanningRay out;
    const CbVector3f disc = ZoCPlanningFrame::ImageAreaToDisc(m_trafoImageAreaToDisc, ray.origin);
    out.origin = ZoCPlanningFrame::DiscToPlanning(m_planningTrafo, disc);
    const CbVector3f discDirection =
        normalisedRotation(m_trafoImageAreaToDisc).TransformDirection(ray.direction);
    out.direction =
        normalisedRotation(m_planningTrafo).TransformDirection(negateZ(discDirection)).Normalized();
    const float v[3] = {out.direction.x, out.direction.y, out.direction.z};
    out.m = calcTrafoZAxisToRayDir(v);
    // m turns z into the direction, so the direction's azimuth in m's frame is only rounding;
    // below a tolerance it is taken as 0.
    const CbVector3f local = out.m.Inverted().TransformDirection(out.direction);
    out.offset = std::hypot(local.x, local.y) > c_fVerticalTolerance ? std::atan2(local.y, local.x) : 0.0f;
    return out;
}

CyRay ZoCAcquisitionSteeringOrbal2Scanbody::toImageArea(const float point[3],
                                                        const float direction[3]) const {
    const CbMatrix4Rf planningInverse = m_planningTrafo.Inverted();
    const CbMatrix4Rf discToImageArea = m_trafoImageAreaToDisc.Inverted();
    const CbVector3f disc =
        ZoCPlanningFrame::PlanningToDisc(planningInverse, CbVector3f(point[0], point[1], point[2]));
    const CbVector3f origin =
        discToImageArea.TransformPoint(disc * static_cast<float>(ZoCPlanningFrame::c_fDiscToImageArea));
    const CbVector3f discDirection =
        negateZ(normalisedRotation(planningInverse)
                    .TransformDirection(CbVector3f(direction[0], direction[1], direction[2])));
    return CyRay(origin, normalisedRotation(discToImageArea).TransformDirection(discDirection).Normalized());
}

// ---------------------------------------------------------------------------------------------
// Plans

bool ZoCAcquisitionSteeringOrbal2Scanbody::solveView(const float direction[3], const CbVector3f& target,
                                                     float joints[5], float point[3],
                                                     float solvedDirection[3]) {
    const float targetValues[3] = {target.x, target.y, target.z};
    int status = -1;
    m_pPlanning->SolveJoints(direction, targetValues, c_fSolveTolerance, joints, point, solvedDirection,
                             status);
    return status == 0;
}

void ZoCAcquisitionSteeringOrbal2Scanbody::appendScanbodyRequest(int index, NSConfigurationRequest& request,
                                                                 CJointPositionSequence& seq) {
    request.m_strName.Format(L"%03d_S%d_%d", GetNewRequestNumber(), m_iCurrStumpIndex.load(), index);
    request.m_byFlag = 1;
    seq.Add(request);
    AssociateRequestAndDHParameters(request.m_strName, request.m_config.Data());
}

bool ZoCAcquisitionSteeringOrbal2Scanbody::GetGyrationSequenceForUserDefinedRay(const CyRay& ray,
                                                                                CJointPositionSequence& seq) {
    if (!m_pPlanning->IsReadyToPlan(c_dwTimeoutWaitBuild, seq))
        return false;
    seq.RemoveAll();
    const NSPlanningRay planning = toPlanning(ray);
    for (int k = 0; k < c_iNumViews; ++k) {
        // The cone swings between 50 and 35 degrees around the axis; a view out of reach is
        // tried again on narrower cones before the gyration gives up.
        const float phi = static_cast<float>(k) * 2.0f * 3.1415927f / c_iNumViews;
        const float coneK = std::cos(2.0f * phi) * c_fConeSwing + c_fConeMean;
        float joints[5], point[3], solvedDirection[3];
        bool solved = false;
        for (int i = 0; i < c_iNumConeTries && !solved; ++i) {
            const float cone = coneK - static_cast<float>(i) * 0.1f * coneK;
            float direction[3];
            calcViewDirForScanBodyGyration(direction, k, cone, c_fConeStep, planning.offset, planning.m);
            solved = solveView(direction, planning.origin, joints, point, solvedDirection);
        }
        if (!solved)
            break;
        NSConfigurationRequest request;
        setAllJointParams(joints[0], joints[1], joints[2], joints[3], joints[4], request);
        appendScanbodyRequest(k + c_iFirstViewIndex, request, seq);
    }
    if (seq.GetCount() >= c_iNumViews)
        ++m_iCurrStumpIndex;
    return true;
}

bool ZoCAcquisitionSteeringOrbal2Scanbody::GetJointConfigurationForScanbodyOrientation(
    const CyRay& ray, CJointPositionSequence& seq, CbMatrix4Rf& trafo, float cone, CyRay& solvedRay) {
    if (!m_pPlanning->IsReadyToPlan(c_dwTimeoutWaitBuild, seq))
        return false;
    seq.RemoveAll();
    const NSPlanningRay planning = toPlanning(ray);
    float direction[3], joints[5], point[3], solvedDirection[3];
    calcViewDirForScanBodyGyration(direction, 0, cone, 0.0f, planning.offset, planning.m);
    if (!solveView(direction, planning.origin, joints, point, solvedDirection))
        return false;

    NSConfigurationRequest request;
    setAllJointParams(joints[0], joints[1], joints[2], joints[3], joints[4], request);
    ++m_iCurrStumpIndex;
    request.m_iOrientationScan = 1;
    request.m_iKeepRegistration = 1;
    appendScanbodyRequest(0, request, seq);
    trafo = CbMatrix4Rf::Translation(static_cast<float>(m_iImageWidth) * 0.5f,
                                     static_cast<float>(m_iImageHeight) * 0.5f, c_fOrientationDepth);
    solvedRay = toImageArea(point, solvedDirection);
    return true;
}
