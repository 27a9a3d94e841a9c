// The reference device: kinematics, limits and the pinhole sensor.
#include "AxisChain.h"
#include "ReferenceDevice.h"

#include <gtest/gtest.h>

#include <cmath>

namespace {
using Config = ZoCOrbal2AxisChain::NCJointConfiguration;
Config config(float l1, float l2, float l3, float l4, float l5) {
    Config c;
    c.Set(l1, l2, l3, l4, l5);
    return c;
}
// Where the camera frame's origin (the tilt centre at L1 = 0) lies on the disc.
CbVector3f tiltCentreOnDisc(const ZoCOrbal2AxisChain& chain, const Config& c) {
    return chain.GetCamToDiscTransformation(c, false).TransformPoint({0, 0, 0});
}
}  // namespace

TEST(ReferenceDevice, NeutralConfigurationHasTiltsAtNinety) {
    ZoCOrbal2AxisChain chain;
    Config neutral;
    ASSERT_TRUE(chain.GetNeutralConfiguration(neutral));
    EXPECT_EQ(neutral, config(0, 90, 90, 0, 0));
}

TEST(ReferenceDevice, TiltCentreLiesTheLengthOfL3FromTheDiscAxis) {
    ZoCOrbal2AxisChain chain;
    for (float l5 : {0.0f, 45.0f, 200.0f}) {
        const CbVector3f p = tiltCentreOnDisc(chain, config(0, 90, 90, 0, l5));
        EXPECT_NEAR(std::hypot(p.x, p.y), ReferenceDevice::c_fLengthL3, 1e-4);
        EXPECT_NEAR(p.z, 0, 1e-4);
    }
}

TEST(ReferenceDevice, DiscRotationTurnsTheDiscFrameAboutItsAxis) {
    ZoCOrbal2AxisChain chain;
    const CbVector3f a = tiltCentreOnDisc(chain, config(0, 90, 90, 0, 0));
    const CbVector3f b = tiltCentreOnDisc(chain, config(0, 90, 90, 0, 90));
    // Turning the disc by +90 degrees moves a fixed point of space by -90 degrees on the disc.
    EXPECT_NEAR(b.x, a.y, 1e-4);
    EXPECT_NEAR(b.y, -a.x, 1e-4);
}

TEST(ReferenceDevice, LinearAxesMoveTheDiscAwayFromTheCameraAlongItsAxisAtHome) {
    ZoCOrbal2AxisChain chain;
    const CbVector3f home = tiltCentreOnDisc(chain, config(0, 90, 90, 0, 0));
    const CbVector3f l1 = tiltCentreOnDisc(chain, config(10, 90, 90, 0, 0));
    const CbVector3f l4 = tiltCentreOnDisc(chain, config(0, 90, 90, 10, 0));
    // The tilt centre appears 10 mm lower (more negative disc z) when the disc moves away.
    EXPECT_NEAR(l1.z - home.z, -10, 1e-4);
    EXPECT_NEAR(l4.z - home.z, -10, 1e-4);
    EXPECT_NEAR(l1.x, home.x, 1e-4);
}

TEST(ReferenceDevice, ImageAreaUnitsScaleOnlyTheTranslation) {
    ZoCOrbal2AxisChain chain;
    const Config c = config(-20, 70, 110, 5, 33);
    const CbMatrix4Rf mm = chain.GetCamToDiscTransformation(c, false);
    const CbMatrix4Rf ia = chain.GetCamToDiscTransformation(c, true);
    for (int col = 0; col < 3; ++col)
        for (int row = 0; row < 3; ++row) EXPECT_FLOAT_EQ(ia(row, col), mm(row, col));
    for (int row = 0; row < 3; ++row) EXPECT_NEAR(ia(row, 3), 40 * mm(row, 3), 1e-3);
}

TEST(ReferenceDevice, LimitsAdmitThePlannersSequences) {
    ZoCOrbal2AxisChain chain;
    float lo = 0, hi = 0;
    ASSERT_TRUE(chain.GetMinMaxPosition(4, lo, hi));
    // Disc angles in degrees and in radians both lie inside.
    EXPECT_LE(lo, -360);
    EXPECT_GE(hi, 360);
    ASSERT_TRUE(chain.GetMinMaxPosition(1, lo, hi));
    EXPECT_LE(lo, 30);
    EXPECT_GE(hi, 150);
    ASSERT_TRUE(chain.GetMinMaxPosition(2, lo, hi));
    EXPECT_LE(lo, 90 - 105);  // the rotation scan's steepest tilt
    ASSERT_TRUE(chain.GetMinMaxPosition(0, lo, hi));
    EXPECT_GE(hi, 48);  // the buccal ring
    EXPECT_FALSE(chain.GetMinMaxPosition(5, lo, hi));
}

TEST(ReferenceDevice, ChainWithoutNeutralConfigurationSaysSo) {
    ZoCOrbal2AxisChain chain(ReferenceDevice::Joints(), ReferenceDevice::Home(), false);
    Config c = config(1, 2, 3, 4, 5);
    EXPECT_FALSE(chain.GetNeutralConfiguration(c));
    EXPECT_EQ(c, config(1, 2, 3, 4, 5));
}

TEST(ZoCCamProjCalib, ImageCentreLooksAtTheTiltCentre) {
    ZoCCamProjCalib calib;
    long w = 0, h = 0;
    ASSERT_TRUE(calib.GetCameraImageSize(w, h));
    double p[3];
    calib.ImagePointToCameraSpace(w / 2.0, h / 2.0, p);
    EXPECT_NEAR(p[0], 0, 1e-9);
    EXPECT_NEAR(p[1], 0, 1e-9);
    EXPECT_NEAR(p[2], 0, 1e-9);
    // 200 pixels to the right: along the camera's right, square to its view and up directions.
    double q[3];
    calib.ImagePointToCameraSpace(w / 2.0 + 200, h / 2.0, q);
    CCoordinate3<double> view, up;
    ASSERT_TRUE(calib.GetCamera().GetViewDirection(view) && calib.GetCamera().GetUpDirection(up));
    EXPECT_GT(std::sqrt(q[0] * q[0] + q[1] * q[1] + q[2] * q[2]), 1.0);
    EXPECT_NEAR(q[0] * view.x + q[1] * view.y + q[2] * view.z, 0, 1e-6);
    EXPECT_NEAR(q[0] * up.x + q[1] * up.y + q[2] * up.z, 0, 1e-6);
}

// The projector stands the baseline beside the camera's eye, square to its view and up
// directions, and aims at the tilt centre (the origin).
TEST(ZoCCamProjCalib, ProjectorStandsBesideTheCameraAimingAtTheTiltCentre) {
    const ZoCCamProjCalib calib;
    CCoordinate3<double> eye, view, up, peye, pview;
    ASSERT_TRUE(calib.GetCamera().GetEyePt(eye) && calib.GetCamera().GetViewDirection(view) &&
                calib.GetCamera().GetUpDirection(up) && calib.GetPEyePt(peye) && calib.GetPViewDirection(pview));
    const double d[3] = {peye.x - eye.x, peye.y - eye.y, peye.z - eye.z};
    EXPECT_NEAR(std::sqrt(d[0] * d[0] + d[1] * d[1] + d[2] * d[2]), ReferenceDevice::c_dProjectorBaseline, 1e-6);
    EXPECT_NEAR(d[0] * view.x + d[1] * view.y + d[2] * view.z, 0, 1e-6);
    EXPECT_NEAR(d[0] * up.x + d[1] * up.y + d[2] * up.z, 0, 1e-6);
    const double pl = std::sqrt(peye.x * peye.x + peye.y * peye.y + peye.z * peye.z);
    EXPECT_NEAR(pview.x, -peye.x / pl, 1e-9);
    EXPECT_NEAR(pview.y, -peye.y / pl, 1e-9);
    EXPECT_NEAR(pview.z, -peye.z / pl, 1e-9);
}

// A camera looking along x with y up: its right is z (view x up), so pixels right of the centre
// lie towards +z or -z at the distance asked, 100 pixels being 100 / f of it.
TEST(ZoCAbstractCamCalib, PixelsRightOfTheCentreLieAlongViewCrossUp) {
    const ZoCAbstractCamCalib camera({0, 0, 0}, {1, 0, 0}, {0, 1, 0}, 90.0, 200, 100);
    double p[3];
    camera.PixelToPoint(200, 50, 10.0, p);  // f = 100 for 90 degrees over 200 pixels
    EXPECT_NEAR(p[0], 10.0, 1e-9);
    EXPECT_NEAR(p[1], 0.0, 1e-9);
    EXPECT_NEAR(std::fabs(p[2]), 10.0, 1e-9);
}

TEST(ZoCCamProjCalib, ProjectionInvertsThePixelRay) {
    ZoCCamProjCalib calib;
    for (double u : {0.0, 100.5, 640.0, 1279.0})
        for (double v : {0.0, 511.0, 1023.0}) {
            double p[3], out[3];
            calib.ImagePointToCameraSpace(u, v, p);
            ASSERT_TRUE(calib.ProjectToImage(p, out));
            EXPECT_NEAR(out[0], u, 1e-6);
            EXPECT_NEAR(out[1], v, 1e-6);
        }
}

TEST(ZoCCamProjCalib, PointsBehindTheEyeDoNotProject) {
    ZoCCamProjCalib calib;
    CCoordinate3<double> eye, view;
    ASSERT_TRUE(calib.GetCamera().GetEyePt(eye));
    ASSERT_TRUE(calib.GetCamera().GetViewDirection(view));
    const double behind[3] = {eye.x - view.x, eye.y - view.y, eye.z - view.z};
    double out[3];
    EXPECT_FALSE(calib.ProjectToImage(behind, out));
}

TEST(ZoCCamProjCalib, MissingSensorValuesAreReported) {
    ZoCCamProjCalib calib(ZoCAbstractCamCalib(), ZoCAbstractCamCalib(), 100);
    CCoordinate3<double> v;
    double fov;
    long w, h;
    EXPECT_FALSE(calib.GetCamera().GetViewDirection(v));
    EXPECT_FALSE(calib.GetPEyePt(v));
    EXPECT_FALSE(calib.GetCamera().GetFOV(fov));
    EXPECT_FALSE(calib.GetCameraImageSize(w, h));
    EXPECT_FALSE(calib.GetPGridSize(w, h));
}

namespace {
bool robustMean(const float* values, const float* weights, int count, float& mean, float& deviation) {
    return RobustMean<float, float, float>(values, weights, count, mean, deviation);
}
}  // namespace

TEST(RobustMean, DiscountsAFarOutlier) {
    std::vector<float> values(50, 10.0f), weights(50, 1.0f);
    for (int i = 0; i < 50; ++i) values[static_cast<size_t>(i)] += 0.01f * static_cast<float>(i % 5);
    values.push_back(1000.0f);
    weights.push_back(1.0f);
    float mean = 0, deviation = 0;
    ASSERT_TRUE(robustMean(values.data(), weights.data(), 51, mean, deviation));
    EXPECT_NEAR(mean, 10.02f, 1e-3);
}

TEST(RobustMean, NoPositiveWeightGivesFalse) {
    const float values[2] = {1, 2}, weights[2] = {0, -1};
    float mean = 5, deviation = 5;
    EXPECT_FALSE(robustMean(values, weights, 2, mean, deviation));
    EXPECT_FALSE(robustMean(values, weights, 0, mean, deviation));
    const float good[2] = {1, 1};
    EXPECT_FALSE(robustMean(nullptr, good, 2, mean, deviation));
    EXPECT_FALSE(robustMean(values, nullptr, 2, mean, deviation));
}

TEST(MotorPosition, SimulatorIncrementsConvertToJointValuesFromHome) {
    SimulatorMotorPosition motors;
    motors.m_afValues[0] = 4;    // 2 mm at 2 increments per mm
    motors.m_afValues[4] = 10;   // 10 degrees at 1 increment per degree
    const Config c = motors.ConvertToSteeringPos().ConvertToJointConfiguration();
    EXPECT_FLOAT_EQ(c[0], 2);
    EXPECT_FLOAT_EQ(c[1], 90);
    EXPECT_FLOAT_EQ(c[4], 10);
}
