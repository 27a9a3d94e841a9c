#include "ViewPrediction.h"

#include "JointSolver.h"

#include <cmath>

namespace {

constexpr float c_fDegToRad = 0.017453292f;

CbMatrix4Rf fromRowMajor(const std::array<double, 16>& a) {
    CbMatrix4Rf m;
    for (int r = 0; r < 4; ++r)
        for (int c = 0; c < 4; ++c) m(r, c) = static_cast<float>(a[static_cast<size_t>(4 * r + c)]);
    return m;
}

CbVector3f vec(const float v[3]) { return {v[0], v[1], v[2]}; }

bool finite(const CbVector3f& v) { return std::isfinite(v.x) && std::isfinite(v.y) && std::isfinite(v.z); }

}  // namespace

bool ViewPrediction::makeFrustum(const Sensor& sensor, Frustum& f) {
    f.eye = vec(sensor.eye);
    f.view = vec(sensor.view);
    const CbVector3f up = vec(sensor.up);
    if (!finite(f.eye) || !finite(f.view) || !finite(up) || !(f.view.Length() > 0)) return false;
    f.view = f.view.Normalized();
    f.right = f.view.Cross(up);
    if (!(f.right.Length() > 1e-6f)) return false;
    f.right = f.right.Normalized();
    f.up = f.right.Cross(f.view);
    // The field of view spans the image's width.
    const float half = 0.5f * sensor.fov * c_fDegToRad;
    if (!(half > 0 && half < 1.5f) || sensor.width <= 0 || sensor.height <= 0) return false;
    f.tanX = std::tan(half);
    f.tanY = f.tanX * static_cast<float>(sensor.height) / static_cast<float>(sensor.width);
    return true;
}

bool ViewPrediction::Frustum::Contains(const CbVector3f& q) const {
    const CbVector3f d = q - eye;
    const float depth = d.Dot(view);
    return depth > 0 && std::fabs(d.Dot(right)) <= tanX * depth && std::fabs(d.Dot(up)) <= tanY * depth;
}

ViewPrediction::ViewPrediction(const Sensor& camera, const Sensor& projector,
                               const ZoCOrbal2AcquisitionPlanning::NSJointParameter records[5])
    : m_chain(JointSolver::ChainFromRecords(records)) {
    ZoCOrbal2AxisChain::NCJointConfiguration home;
    if (!makeFrustum(camera, m_camera) || !makeFrustum(projector, m_projector) || !m_chain.GetNeutralConfiguration(home))
        return;
    try {
        m_baseToCamera = (fromRowMajor(m_chain.ForwardKinematics(home)) * m_chain.GetCamToDiscTransformation(home, false))
                             .Inverted();
    } catch (const CyExceptionNotInvertible&) {
        return;
    }
    m_bSetUp = true;
}

bool ViewPrediction::PoseAt(const float joints[5], Pose& pose) const {
    if (!m_bSetUp) return false;
    for (int j = 0; j < 5; ++j)
        if (!std::isfinite(joints[j])) return false;
    // The plate frame is the disc with its z negated (height above the plate).
    CbMatrix4Rf flip;
    flip(2, 2) = -1;
    pose.plateToCamera = m_baseToCamera * fromRowMajor(m_chain.ForwardKinematics(ZoCOrbal2AxisChain::NCJointConfiguration(joints))) * flip;
    try {
        const CbMatrix4Rf cameraToPlate = pose.plateToCamera.Inverted();
        pose.cameraEye = cameraToPlate.TransformPoint(m_camera.eye);
        pose.projectorEye = cameraToPlate.TransformPoint(m_projector.eye);
    } catch (const CyExceptionNotInvertible&) {
        return false;
    }
    return finite(pose.cameraEye) && finite(pose.projectorEye);
}

bool ViewPrediction::Measures(const Pose& pose, const MeasuredSurface& surface, const CbVector3f& p,
                              const CbVector3f& n) const {
    const CbVector3f q = pose.plateToCamera.TransformPoint(p);
    if (!m_camera.Contains(q) || !m_projector.Contains(q)) return false;
    const float facing = std::cos(c_fMaxIncidenceDeg * c_fDegToRad);
    for (const CbVector3f& eye : {pose.cameraEye, pose.projectorEye}) {
        const CbVector3f toEye = (eye - p).Normalized();
        if (toEye.Dot(n) < facing) return false;
        // Leave the surface a little before looking for what stands in the way.
        if (!surface.Unobstructed(p + n * MeasuredSurface::c_fShadowMargin, eye)) return false;
    }
    return true;
}
