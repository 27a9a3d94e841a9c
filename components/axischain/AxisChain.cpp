// The five-joint chain: DH forward kinematics and limits.
#include "AxisChain.h"
#include "ReferenceDevice.h"

#include <cmath>

namespace {

using Mat4 = std::array<double, 16>;  // row-major, double precision

// The DH convention of the calibration: factor pi/180 as 3.14159265358979 / 180.
constexpr double c_dDegToRad = 3.14159265358979 / 180.0;

Mat4 dhMatrix(double thetaDeg, double d, double a, double alphaDeg) {
    const double t = thetaDeg * c_dDegToRad, al = alphaDeg * c_dDegToRad;
    const double ct = std::cos(t), st = std::sin(t), ca = std::cos(al), sa = std::sin(al);
    return {ct, -st * ca, st * sa, a * ct, st, ct * ca, -ct * sa, a * st, 0, sa, ca, d, 0, 0, 0, 1};
}

Mat4 multiply(const Mat4& x, const Mat4& y) {
    Mat4 m{};
    for (int r = 0; r < 4; ++r)
        for (int c = 0; c < 4; ++c) {
            double sum = 0;
            for (int k = 0; k < 4; ++k) sum += x[static_cast<size_t>(4 * r + k)] * y[static_cast<size_t>(4 * k + c)];
            m[static_cast<size_t>(4 * r + c)] = sum;
        }
    return m;
}

// Inverse of a rigid transformation [R t; 0 1] = [R^T -R^T t; 0 1].
Mat4 rigidInverse(const Mat4& m) {
    Mat4 inv{};
    for (int r = 0; r < 3; ++r) {
        for (int c = 0; c < 3; ++c) inv[static_cast<size_t>(4 * r + c)] = m[static_cast<size_t>(4 * c + r)];
        double t = 0;
        for (int k = 0; k < 3; ++k) t -= m[static_cast<size_t>(4 * k + r)] * m[static_cast<size_t>(4 * k + 3)];
        inv[static_cast<size_t>(4 * r + 3)] = t;
    }
    inv[15] = 1;
    return inv;
}

}  // namespace

ZoCOrbal2AxisChain::NCJointConfiguration::NCJointConfiguration(const float* values) {
    if (!values) return;
    for (int i = 0; i < 5; ++i) m_afValues[static_cast<size_t>(i)] = values[i];
}

void ZoCOrbal2AxisChain::NCJointConfiguration::Set(float a0, float a1, float a2, float a3, float a4) {
    m_afValues[0] = a0;
    m_afValues[1] = a1;
    m_afValues[2] = a2;
    m_afValues[3] = a3;
    m_afValues[4] = a4;
}

ZoCOrbal2AxisChain::ZoCOrbal2AxisChain()
    : ZoCOrbal2AxisChain(ReferenceDevice::Joints(), ReferenceDevice::Home(), true) {}

ZoCOrbal2AxisChain::ZoCOrbal2AxisChain(const std::array<ZoCOrbal2DenavitHartenbergJoint, c_iNumJoints>& joints,
                                       const NCJointConfiguration& home, bool hasNeutral)
    : m_joints(joints), m_home(home), m_bHasNeutral(hasNeutral) {}

bool ZoCOrbal2AxisChain::GetNeutralConfiguration(NCJointConfiguration& config) const {
    if (!m_bHasNeutral) return false;
    config = m_home;
    return true;
}

std::array<double, 16> ZoCOrbal2AxisChain::ForwardKinematics(const NCJointConfiguration& config) const {
    Mat4 p{1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};
    for (int i = 0; i < c_iNumJoints; ++i) {
        const ZoCOrbal2DenavitHartenbergJoint& j = m_joints[static_cast<size_t>(i)];
        const double delta = static_cast<double>(config[i]) - static_cast<double>(m_home[i]);
        const double theta = j.GetTheta() + (j.IsRevolute() ? delta : 0.0);
        const double d = j.GetD() + (j.IsRevolute() ? 0.0 : delta);
        p = multiply(p, dhMatrix(theta, d, j.GetA(), j.GetAlpha()));
    }
    return p;
}

CbMatrix4Rf ZoCOrbal2AxisChain::GetCamToDiscTransformation(const NCJointConfiguration& config,
                                                           bool imageAreaUnits) const {
    Mat4 discToBase = ForwardKinematics(config);
    const double scale = imageAreaUnits ? 40.0 : 1.0;
    for (int r = 0; r < 3; ++r) discToBase[static_cast<size_t>(4 * r + 3)] *= scale;
    // Camera frame = base frame turned by pi about x: (x, y, z)_camera = (x, -y, -z)_base.
    const double c = std::cos(3.14159265358979), s = std::sin(3.14159265358979);
    const Mat4 rx{1, 0, 0, 0, 0, c, -s, 0, 0, s, c, 0, 0, 0, 0, 1};
    const Mat4 camToDisc = multiply(rigidInverse(discToBase), rx);
    CbMatrix4Rf m;
    for (int r = 0; r < 4; ++r)
        for (int col = 0; col < 4; ++col) m(r, col) = static_cast<float>(camToDisc[static_cast<size_t>(4 * r + col)]);
    return m;
}

bool ZoCOrbal2AxisChain::GetMinMaxPosition(int i, float& minPosition, float& maxPosition) const {
    if (i < 0 || i >= c_iNumJoints) return false;
    minPosition = m_joints[static_cast<size_t>(i)].GetMinPosition();
    maxPosition = m_joints[static_cast<size_t>(i)].GetMaxPosition();
    return true;
}

bool ZoCOrbal2AxisChain::ClampToLimits(NCJointConfiguration& config) const {
    bool changed = false;
    for (int i = 0; i < c_iNumJoints; ++i) {
        const float lo = m_joints[static_cast<size_t>(i)].GetMinPosition();
        const float hi = m_joints[static_cast<size_t>(i)].GetMaxPosition();
        const float v = config[i] < lo ? lo : (config[i] > hi ? hi : config[i]);
        changed = changed || v != config[i];
        config[i] = v;
    }
    return changed;
}

ZoCOrbal2AxisChain::NCJointConfiguration SteeringMotorPosition::ConvertToJointConfiguration() const {
    ZoCOrbal2AxisChain::NCJointConfiguration config = ReferenceDevice::Home();
    for (int i = 0; i < 5; ++i) config[i] += m_afValues[i];
    return config;
}

SteeringMotorPosition SimulatorMotorPosition::ConvertToSteeringPos() const {
    SteeringMotorPosition steering;
    for (int i = 0; i < 5; ++i) steering.m_afValues[i] = m_afValues[i] / c_afIncrementsPerUnit[i];
    return steering;
}
