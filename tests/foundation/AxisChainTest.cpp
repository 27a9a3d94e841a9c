// The reference device: kinematics, limits and the pinhole sensor; the robust mean.
#include "AxisChain.h"
#include "ReferenceDevice.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>
#include <span>

namespace {
using Config = ZoCOrbal2AxisChain::NCJointConfiguration;
using testing::DoubleNear;
using testing::FloatNear;
using testing::Pointwise;
Config config(float l1, float l2, float l3, float l4, float l5) {
    Config c;
    c.Set(l1, l2, l3, l4, l5);
    return c;
}
CbVector3f vec(const CCoordinate3<double>& c) {
    return CbVector3f(static_cast<float>(c.x), static_cast<float>(c.y), static_cast<float>(c.z));
}
}  // namespace

// The tilt centre: L3 off the disc axis, turned by -L5, sunk by L1 + L4; image-area shifts; motor increments.
TEST(ReferenceDevice, TiltCentreTurnsWithTheDiscAndSinksWithTheLinearAxes) {
    const ZoCOrbal2AxisChain chain;
    Config neutral;
    ASSERT_TRUE(chain.GetNeutralConfiguration(neutral));
    EXPECT_EQ(neutral, config(0, 90, 90, 0, 0));
    const CbVector3f home = chain.GetCamToDiscTransformation(neutral, false).TransformPoint({0, 0, 0});
    EXPECT_NEAR(std::hypot(home.x, home.y), ReferenceDevice::c_fLengthL3, 1e-4);
    const float moves[][3] = {{0, 0, 45}, {0, 0, 90}, {0, 0, 200}, {10, 0, 0}, {0, 10, 0}, {-20, 5, 33}};
    for (const auto& m : moves) {
        const Config c = config(m[0], 90, 90, m[1], m[2]);
        const float a = m[2] * 0.017453292f;
        const CbVector3f want(home.x * std::cos(a) + home.y * std::sin(a),
                              -home.x * std::sin(a) + home.y * std::cos(a), -(m[0] + m[1]));
        const CbMatrix4Rf mm = chain.GetCamToDiscTransformation(c, false),
                          ia = chain.GetCamToDiscTransformation(c, true);
        EXPECT_NEAR((mm.TransformPoint({0, 0, 0}) - want).Length(), 0, 1e-4) << "move " << &m - moves;
        const CbMatrix4Rf scaled = CbMatrix4Rf::Scaling(40) * mm * CbMatrix4Rf::Scaling(1 / 40.0f);
        EXPECT_THAT(std::span(ia.Data(), 16), Pointwise(FloatNear(1e-3f), std::span(scaled.Data(), 16)));
    }
    const ZoCOrbal2AxisChain noNeutral(ReferenceDevice::Joints(), ReferenceDevice::Home(), false);
    Config c = config(1, 2, 3, 4, 5);
    EXPECT_FALSE(noNeutral.GetNeutralConfiguration(c));
    EXPECT_EQ(c, config(1, 2, 3, 4, 5));
    float lo = 0, hi = 0;  // there is no sixth joint
    EXPECT_FALSE(chain.GetMinMaxPosition(5, lo, hi));
    SimulatorMotorPosition motors;  // the simulator's increments from home: 2 per mm, 1 per degree
    motors.m_afValues[0] = 4;
    motors.m_afValues[4] = 10;
    EXPECT_EQ(motors.ConvertToSteeringPos().ConvertToJointConfiguration(), config(2, 90, 90, 0, 10));
}

// Along x with y up, f = 100 pixels (90 degrees over 200), right = view x up; nothing behind projects.
TEST(ZoCAbstractCamCalib, PixelsLieOnTheirPinholeRaysAndProjectBack) {
    const ZoCAbstractCamCalib camera({0, 0, 0}, {2, 0, 0}, {0.5, 1, 0}, 90.0, 200, 100);
    double p[3], u = 0, v = 0;
    for (const auto& [pu, pv, point] : std::vector<std::tuple<double, double, std::array<double, 3>>>{
             {100, 50, {10, 0, 0}}, {200, 50, {10, 0, 10}}, {100, 0, {10, 5, 0}}, {150, 75, {10, -2.5, 5}}}) {
        camera.PixelToPoint(pu, pv, 10.0, p);
        EXPECT_THAT(p, Pointwise(DoubleNear(1e-9), point)) << pu << "," << pv;
        ASSERT_TRUE(camera.Project(point.data(), u, v));
        EXPECT_LT(std::hypot(u - pu, v - pv), 1e-9);
    }
    const double behind[3] = {-1, 0, 0};
    EXPECT_FALSE(camera.Project(behind, u, v));
}

// The camera looks at the tilt centre from 45 degrees up; the projector stands the baseline beside it,
// square to view and up, aiming at the centre. Missing sensor values are reported.
TEST(ZoCCamProjCalib, ReferenceSensorLooksAtTheTiltCentreWithTheProjectorBesideIt) {
    const ZoCCamProjCalib calib;
    long w = 0, h = 0;
    ASSERT_TRUE(calib.GetCameraImageSize(w, h));
    double p[3];
    calib.ImagePointToCameraSpace(w / 2.0, h / 2.0, p);
    EXPECT_THAT(p, Pointwise(DoubleNear(1e-9), {0.0, 0.0, 0.0}));
    CCoordinate3<double> e, v, u, pe, pv;
    ASSERT_TRUE(calib.GetCamera().GetEyePt(e) && calib.GetCamera().GetViewDirection(v) &&
                calib.GetCamera().GetUpDirection(u) && calib.GetPEyePt(pe) && calib.GetPViewDirection(pv));
    const CbVector3f eye = vec(e), view = vec(v), up = vec(u), beside = vec(pe) - eye;
    const float distance = static_cast<float>(ReferenceDevice::c_dWorkingDistance);
    EXPECT_NEAR((eye + view * distance).Length(), 0, 1e-4);
    EXPECT_NEAR(std::fabs(eye.z), distance * std::sqrt(0.5f), 1e-4);
    EXPECT_NEAR(beside.Length(), ReferenceDevice::c_dProjectorBaseline, 1e-4);
    EXPECT_NEAR(std::hypot(beside.Dot(view), beside.Dot(up)), 0, 1e-4);
    EXPECT_NEAR((vec(pe).Normalized() + vec(pv)).Length(), 0, 1e-6);
    const ZoCCamProjCalib empty(ZoCAbstractCamCalib(), ZoCAbstractCamCalib(), 100);
    EXPECT_FALSE(empty.GetCamera().GetViewDirection(v) || empty.GetPEyePt(v) ||
                 empty.GetCameraImageSize(w, h) || empty.GetPGridSize(w, h));
}

// A far outlier is discounted; no positive weight, no values or no weights give false.
TEST(RobustMean, DiscountsAFarOutlierAndRefusesMissingValuesOrWeights) {
    std::vector<float> values(50, 10.0f), weights(51, 1.0f);
    for (size_t i = 0; i < 50; ++i)
        values[i] += 0.01f * static_cast<float>(i % 5);
    values.push_back(1000.0f);
    float mean = 0, deviation = 0;
    const auto robust = &RobustMean<float, float, float>;
    ASSERT_TRUE(robust(values.data(), weights.data(), 51, mean, deviation));
    EXPECT_NEAR(mean, 10.02f, 1e-3);
    EXPECT_NEAR(deviation, std::sqrt(0.0002f), 1e-4);  // 0, 0.01, ..., 0.04 about 0.02
    const float bad[2] = {0, -1};
    EXPECT_FALSE(robust(values.data(), bad, 2, mean, deviation) ||
                 robust(values.data(), bad, 0, mean, deviation));
    EXPECT_FALSE(robust(nullptr, weights.data(), 2, mean, deviation) ||
                 robust(values.data(), nullptr, 2, mean, deviation));
}
