// Pinhole camera and projector.
#include "AxisChain.h"
#include "ReferenceDevice.h"

#include <cmath>

namespace {
double dot(const double* a, const double* b) { return a[0] * b[0] + a[1] * b[1] + a[2] * b[2]; }
void normalize(double* v) {
    const double l = std::sqrt(dot(v, v));
    if (l > 0)
        for (int i = 0; i < 3; ++i) v[i] /= l;
}
void cross(const double* a, const double* b, double* out) {
    out[0] = a[1] * b[2] - a[2] * b[1];
    out[1] = a[2] * b[0] - a[0] * b[2];
    out[2] = a[0] * b[1] - a[1] * b[0];
}
}  // namespace

ZoCAbstractCamCalib::ZoCAbstractCamCalib(const CCoordinate3<double>& eye, const CCoordinate3<double>& view,
                                         const CCoordinate3<double>& up, double fovDegrees, long width,
                                         long height)
    : m_bValid(true), m_eye{eye.x, eye.y, eye.z}, m_view{view.x, view.y, view.z}, m_up{up.x, up.y, up.z},
      m_fFovDegrees(fovDegrees), m_lWidth(width), m_lHeight(height) {
    normalize(m_view);
    // Make up orthogonal to the view direction; right completes the frame (right, up, -view).
    const double along = dot(m_up, m_view);
    for (int i = 0; i < 3; ++i) m_up[i] -= along * m_view[i];
    normalize(m_up);
    cross(m_view, m_up, m_right);
}

bool ZoCAbstractCamCalib::GetViewDirection(CCoordinate3<double>& v) const {
    if (!m_bValid) return false;
    v = {m_view[0], m_view[1], m_view[2]};
    return true;
}
bool ZoCAbstractCamCalib::GetUpDirection(CCoordinate3<double>& v) const {
    if (!m_bValid) return false;
    v = {m_up[0], m_up[1], m_up[2]};
    return true;
}
bool ZoCAbstractCamCalib::GetEyePt(CCoordinate3<double>& v) const {
    if (!m_bValid) return false;
    v = {m_eye[0], m_eye[1], m_eye[2]};
    return true;
}
bool ZoCAbstractCamCalib::GetFOV(double& fov) const {
    if (!m_bValid) return false;
    fov = m_fFovDegrees;
    return true;
}

double ZoCAbstractCamCalib::FocalLengthPixels() const {
    return 0.5 * static_cast<double>(m_lWidth) / std::tan(0.5 * m_fFovDegrees * 3.14159265358979 / 180.0);
}

bool ZoCAbstractCamCalib::Project(const double point[3], double& u, double& v) const {
    const double d[3] = {point[0] - m_eye[0], point[1] - m_eye[1], point[2] - m_eye[2]};
    const double depth = dot(d, m_view);
    if (!(depth > 0)) return false;
    const double f = FocalLengthPixels();
    u = 0.5 * static_cast<double>(m_lWidth) + f * dot(d, m_right) / depth;
    v = 0.5 * static_cast<double>(m_lHeight) - f * dot(d, m_up) / depth;
    return true;
}

void ZoCAbstractCamCalib::PixelRay(double u, double v, double direction[3]) const {
    const double f = FocalLengthPixels();
    const double x = (u - 0.5 * static_cast<double>(m_lWidth)) / f;
    const double y = -(v - 0.5 * static_cast<double>(m_lHeight)) / f;
    for (int i = 0; i < 3; ++i) direction[i] = m_view[i] + x * m_right[i] + y * m_up[i];
    normalize(direction);
}

void ZoCAbstractCamCalib::PixelToPoint(double u, double v, double distance, double point[3]) const {
    double dir[3];
    PixelRay(u, v, dir);
    const double t = distance / dot(dir, m_view);
    for (int i = 0; i < 3; ++i) point[i] = m_eye[i] + t * dir[i];
}

ZoCCamProjCalib::ZoCCamProjCalib() : ZoCCamProjCalib(ReferenceDevice::CamProjCalib()) {}

ZoCCamProjCalib::ZoCCamProjCalib(const ZoCAbstractCamCalib& camera, const ZoCAbstractCamCalib& projector,
                                 double focusDistance)
    : m_camera(camera), m_projector(projector), m_dFocusDistance(focusDistance) {}

bool ZoCCamProjCalib::GetPGridSize(long& width, long& height) const {
    if (!m_projector.IsValid()) return false;
    width = m_projector.GetWidth();
    height = m_projector.GetHeight();
    return true;
}

bool ZoCCamProjCalib::GetCameraImageSize(long& width, long& height) const {
    if (!m_camera.IsValid()) return false;
    width = m_camera.GetWidth();
    height = m_camera.GetHeight();
    return true;
}

bool ZoCCamProjCalib::ProjectToImage(const double point[3], double out[3]) const {
    CCoordinate3<double> eye, view;
    if (!m_camera.GetEyePt(eye) || !m_camera.GetViewDirection(view)) return false;
    out[2] = (point[0] - eye.x) * view.x + (point[1] - eye.y) * view.y + (point[2] - eye.z) * view.z;
    return m_camera.Project(point, out[0], out[1]);
}

void ZoCCamProjCalib::ImagePointToCameraSpace(double u, double v, double point[3]) const {
    m_camera.PixelToPoint(u, v, m_dFocusDistance, point);
}
