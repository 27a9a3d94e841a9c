// What the reference camera sees from a configuration, by the chain's kinematics and the pinhole camera.
#pragma once

#include "ReferenceDevice.h"
#include "ZoOrbal2.h"

#include <gmock/gmock.h>

#include <algorithm>
#include <cmath>
#include <cwchar>
#include <string>
#include <vector>

namespace gyrationtest {

using Config = ZoCOrbal2AxisChain::NCJointConfiguration;
inline const ZoCOrbal2DeviceConfig c_device;

struct NSView {
    double u = 0, v = 0, depth = 0;  // pixel and depth along the view, mm
    double fromFocus = 0;            // distance of the point from the focus point, mm
    CbVector3f focusInDisc, viewInDisc;
};

inline NSView viewOf(const Config& config, const CbVector3f& discPoint) {
    const CbMatrix4Rf camToDisc = c_device.m_axisChain.GetCamToDiscTransformation(config, false);
    const CbVector3f p = camToDisc.Inverted().TransformPoint(discPoint);
    const double point[3] = {p.x, p.y, p.z};
    double pixel[3] = {0, 0, 0};
    c_device.m_camProjCalib.ProjectToImage(point, pixel);
    CCoordinate3<double> eye, dir;
    c_device.m_camProjCalib.GetCamera().GetEyePt(eye);
    c_device.m_camProjCalib.GetCamera().GetViewDirection(dir);
    const CbVector3f view = CbVector3f(dir.x, dir.y, dir.z).Normalized(),
                     focus = CbVector3f(eye.x, eye.y, eye.z) + view * ReferenceDevice::c_dWorkingDistance;
    const CbVector3f viewInDisc = camToDisc.TransformDirection(view).Normalized();
    return {pixel[0], pixel[1], pixel[2], (p - focus).Length(), camToDisc.TransformPoint(focus), viewInDisc};
}

// The planning frame: the disc frame with z out of the disc, at home.
inline CbMatrix4Rf planningTrafo() {
    const Config home(ReferenceDevice::c_afHome);
    return ZoCPlanningFrame::PlanningTransformation(
        c_device.m_axisChain.GetCamToDiscTransformation(home, false));
}

inline CbVector3f toPlanningDirection(const CbVector3f& disc) {
    return planningTrafo().TransformDirection(CbVector3f(disc.x, disc.y, -disc.z));
}

// A request name as the steerings format it, e.g. "%03d_T%li_%li" for number, stump and position.
template <class... Args>
std::wstring formatted(const wchar_t* format, Args... args) {
    wchar_t text[64];
    std::swprintf(text, 64, format, args...);
    return text;
}

// The image's central half, where the steerings put their targets.
inline bool inCentralHalf(const NSView& view) {
    return std::fabs(view.u - 640) < 320 && std::fabs(view.v - 512) < 256;
}

// A plan's sequence with a stale request to replace, and the stump index and request number before it.
struct NSPlan : ZoCOrbal2AxisChain::CJointPositionSequence {
    int stump = ZoCAcquisitionSteeringOrbal2::m_iCurrStumpIndex,
        number = ZoCAcquisitionSteeringOrbal2::m_iRequestCounter;
    NSPlan() { Add(ZoCOrbal2AxisChain::NSConfigurationRequest()); }
    int Advance() const { return ZoCAcquisitionSteeringOrbal2::m_iCurrStumpIndex - stump; }
};

inline std::vector<float> jointsOf(const Config& c) {
    return {c.Data(), c.Data() + 5};
}

inline auto allNear(const std::vector<float>& want, float tolerance) {
    return testing::Pointwise(testing::FloatNear(tolerance), want);
}

inline double angleDegrees(const CbVector3f& a, const CbVector3f& b) {
    return std::acos(std::clamp<double>(a.Normalized().Dot(b.Normalized()), -1, 1)) * 57.29577951308232;
}

inline void expectWithinLimits(const float joints[5]) {
    for (int j = 0; j < 5; ++j) {
        float lo, hi;
        c_device.m_axisChain.GetMinMaxPosition(j, lo, hi);
        EXPECT_TRUE(joints[j] >= lo && joints[j] <= hi) << "joint " << j << ": " << joints[j];
    }
}

}  // namespace gyrationtest
