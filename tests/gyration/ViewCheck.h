// What the reference device's camera sees of a disc point at a configuration: the check the
// scan-body and joint-solver tests apply to solved views.
#pragma once

#include "AxisChain.h"
#include "Geometry.h"

#include <cmath>

namespace gyrationtest {

struct NSView {
    double u = 0, v = 0, depth = 0;  // pixel and depth along the view, mm
    double offAxis = 0;              // distance of the point from the optical axis, mm
    CbVector3f viewInDisc;           // the camera's view direction in the disc frame
};

inline NSView viewOf(const ZoCOrbal2DeviceConfig& device,
                     const ZoCOrbal2AxisChain::NCJointConfiguration& config, const CbVector3f& discPoint) {
    const CbMatrix4Rf camToDisc = device.m_axisChain.GetCamToDiscTransformation(config, false);
    const CbVector3f p = camToDisc.Inverted().TransformPoint(discPoint);
    const double point[3] = {p.x, p.y, p.z};
    NSView view;
    double pixel[3] = {0, 0, 0};
    device.m_camProjCalib.ProjectToImage(point, pixel);
    view.u = pixel[0];
    view.v = pixel[1];
    view.depth = pixel[2];
    CCoordinate3<double> eye, dir;
    device.m_camProjCalib.GetCamera().GetEyePt(eye);
    device.m_camProjCalib.GetCamera().GetViewDirection(dir);
    const double d[3] = {p.x - eye.x, p.y - eye.y, p.z - eye.z};
    const double along = d[0] * dir.x + d[1] * dir.y + d[2] * dir.z;
    view.offAxis = std::sqrt(std::max(0.0, d[0] * d[0] + d[1] * d[1] + d[2] * d[2] - along * along));
    view.viewInDisc = camToDisc.TransformDirection(CbVector3f(dir.x, dir.y, dir.z)).Normalized();
    return view;
}

inline double angleDegrees(const CbVector3f& a, const CbVector3f& b) {
    const double c = a.Normalized().Dot(b.Normalized());
    return std::acos(std::max(-1.0, std::min(1.0, c))) * 57.29577951308232;
}

}  // namespace gyrationtest
