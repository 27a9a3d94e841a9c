// The scan-body steering: directions on the cone around the body's axis, the gyration and the
// orientation view solved on the reference device, names, stumps and failure paths.
#include "AcquisitionPlanningStore.h"
#include "ViewCheck.h"
#include "ZoOrbal2.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cwchar>
#include <string>

namespace {

using Scanbody = ZoCAcquisitionSteeringOrbal2Scanbody;
using Sequence = ZoCOrbal2AxisChain::CJointPositionSequence;
using gyrationtest::angleDegrees;
using gyrationtest::viewOf;
constexpr float c_fPi = 3.14159265f;
const ZoCOrbal2DeviceConfig c_device;
int stumpIndex() {
    return ZoCAcquisitionSteeringOrbal2::m_iCurrStumpIndex.load();
}

// A scan body standing upright on the disc: its top `height` mm above the disc point (x, y).
// Image-area units are 40 per mm; the disc's z axis points into the disc.
CyRay uprightBody(float x, float y, float height) {
    return CyRay(CbVector3f(40 * x, 40 * y, -40 * height), CbVector3f(0, 0, -1));
}

std::wstring name(int number, int stump, int index) {
    wchar_t text[32];
    std::swprintf(text, 32, L"%03d_S%d_%d", number, stump, index);
    return text;
}

CbVector3f viewDirection(int k, float cone, float offset, const CbMatrix4Rf& m) {
    float out[3];
    Scanbody::calcViewDirForScanBodyGyration(out, k, cone, 0.7853982f, offset, m);
    return {out[0], out[1], out[2]};
}

}  // namespace

TEST(ZoCAcquisitionSteeringOrbal2Scanbody, TurnsTheZAxisIntoTheRayDirectionWithoutTurnAboutTheVertical) {
    const Scanbody steering(c_device);
    const float directions[][3] = {{0, 0, 1}, {1, 0, 0}, {-1, 2, 0.5f}, {0.3f, -0.4f, 0.8f}, {-0.2f, -0.1f, -1},
                                   {0, 0, -3}, {1e-8f, 2e-8f, 1}};
    for (const auto& d : directions) {
        const CbMatrix4Rf m = steering.calcTrafoZAxisToRayDir(d);
        const CbVector3f want = CbVector3f(d[0], d[1], d[2]).Normalized();
        EXPECT_NEAR((m.TransformDirection(CbVector3f(0, 0, 1)) - want).Length(), 0, 1e-5) << d[0] << " " << d[1];
        EXPECT_NEAR(m.Determinant(), 1.0, 1e-5);
    }
    // Vertical but for rounding: x stays x (a rounding azimuth would turn it anywhere).
    EXPECT_EQ(steering.calcTrafoZAxisToRayDir(directions[0]), c_matIdentity);
    const CbVector3f x = steering.calcTrafoZAxisToRayDir(directions[6]).TransformDirection(CbVector3f(1, 0, 0));
    EXPECT_NEAR((x - CbVector3f(1, 0, 0)).Length(), 0, 1e-6);
}

TEST(ZoCAcquisitionSteeringOrbal2Scanbody, LaysViewDirectionsOnTheConeAtEvenAzimuthsLookingAgainstTheAxis) {
    for (int k = 0; k < 8; ++k) {
        const CbVector3f d = viewDirection(k, 0.6f, 0.0f, c_matIdentity);
        EXPECT_NEAR(std::remainder(std::atan2(d.y, d.x) - k * c_fPi / 4, 2 * c_fPi), 0, 1e-5) << k;
        EXPECT_NEAR(std::acos(-d.z), 0.6f, 1e-5) << k;
    }
    // Around a tilted axis the cone keeps its half-angle from the reversed axis.
    const CbVector3f axis = CbVector3f(0.5f, 0.2f, 0.8f).Normalized();
    const float a[3] = {axis.x, axis.y, axis.z};
    const CbMatrix4Rf m = Scanbody(c_device).calcTrafoZAxisToRayDir(a);
    EXPECT_NEAR(angleDegrees(viewDirection(3, 0.6f, 0.1f, m), -axis), 0.6f * 57.29578f, 1e-3);
    EXPECT_NEAR((viewDirection(0, 0.0f, 0.0f, m) + axis).Length(), 0, 1e-6);
    // Beyond a right angle: straight down, whatever the axis.
    EXPECT_EQ(viewDirection(2, 1.6f, 0.3f, m), CbVector3f(0, 0, -1));
}

TEST(ZoCAcquisitionSteeringOrbal2Scanbody, ConstructionWidensTheTiltsAndKeepsTheImageSize) {
    Scanbody steering(c_device);
    const auto& store = dynamic_cast<AcquisitionPlanningStore&>(*steering.GetAcquisitionPlanning());
    EXPECT_EQ(store.UpdateCalls(), 1);
    EXPECT_EQ(store.AcquisitionType(), ZoCOrbal2AcquisitionPlanning::eTypeGyration);
    const auto records = store.JointParameters();
    ASSERT_TRUE(records.has_value());
    // The tilts may swing 89.99 degrees about their home angle of 90, within their own limits.
    EXPECT_NEAR((*records)[1].minPosition, 30.0f, 1e-4);
    EXPECT_NEAR((*records)[1].maxPosition, 150.0f, 1e-4);
    EXPECT_NEAR((*records)[2].minPosition, 0.01f, 1e-4);
    EXPECT_NEAR((*records)[2].maxPosition, 150.0f, 1e-4);
    EXPECT_EQ(steering.GetTrafoImageAreaToDisc(), c_matIdentity);
    EXPECT_EQ(steering.GetImageWidth(), 1280);
    EXPECT_EQ(steering.GetImageHeight(), 1024);
    // No scan-body planners beyond the gyration and the orientation view.
    Sequence seq;
    ZoCOrbal2AxisChain::NSConfigurationRequest request;
    request.m_config.Set(1, 2, 3, 4, 5);
    const ZoCOrbal2AxisChain::NCJointConfiguration unchanged = request.m_config;
    EXPECT_EQ(steering.CalculateJointParamsForScanbody(), 0);
    EXPECT_EQ(steering.GetCurrStumpIndex(), 0);
    EXPECT_FALSE(steering.GetJointConfigurationForScanbody(uprightBody(0, 0, 10), seq));
    steering.SetJointParamsForScanbody(3, request);
    EXPECT_EQ(request.m_config, unchanged);
    EXPECT_EQ(seq.GetCount(), 0);
}

TEST(ZoCAcquisitionSteeringOrbal2Scanbody, GyratesEightViewsAroundAnUprightBodyThatTheCameraSees) {
    Scanbody steering(c_device);
    const CyRay ray = uprightBody(0, 0, 10);
    Sequence seq;
    const int stump = stumpIndex(), firstNumber = ZoCAcquisitionSteeringOrbal2::m_iRequestCounter.load();
    ASSERT_TRUE(steering.GetGyrationSequenceForUserDefinedRay(ray, seq));
    ASSERT_EQ(seq.GetCount(), 8);
    EXPECT_EQ(stumpIndex(), stump + 1);
    for (int k = 0; k < 8; ++k) {
        SCOPED_TRACE(k);
        EXPECT_EQ(seq[k].m_strName.str(), name(firstNumber + k, stump, k + 5));
        EXPECT_EQ(seq[k].m_byFlag, 1);
        // The body's top shows in the central half of the image, near the sharpest depth.
        const gyrationtest::NSView view = viewOf(c_device, seq[k].m_config, ray.origin * 0.025f);
        EXPECT_NEAR(view.u, 640, 320);
        EXPECT_NEAR(view.v, 512, 256);
        EXPECT_NEAR(view.depth, 150, 19.5);
        // The view leans 50 degrees at most (35 or 42.5, narrowed by tenths) off the axis, at its azimuth.
        const CbVector3f disc = viewOf(c_device, seq[k].m_config, CbVector3f()).viewInDisc;
        const CbVector3f planning =
            steering.GetPlanningTransformation().TransformDirection(CbVector3f(disc.x, disc.y, -disc.z));
        const double cone = angleDegrees(planning, CbVector3f(0, 0, -1));
        EXPECT_GT(cone, 0.6 * 35 - 0.01);
        EXPECT_LT(cone, 50.01);
        EXPECT_NEAR(std::remainder(std::atan2(planning.y, planning.x) - k * c_fPi / 4, 2 * c_fPi), 0, 1e-3);
        for (int j = 0; j < 5; ++j) {
            float lo, hi;
            c_device.m_axisChain.GetMinMaxPosition(j, lo, hi);
            EXPECT_GE(seq[k].m_config[j], lo);
            EXPECT_LE(seq[k].m_config[j], hi);
        }
    }
}

TEST(ZoCAcquisitionSteeringOrbal2Scanbody, AViewOutOfReachOnEveryConeEndsTheGyrationWithoutAdvancing) {
    Scanbody steering(c_device);
    // Above the tilt centre, the views from the far side need tilts beyond the limits.
    const CyRay ray = uprightBody(-19.2f, 14.4f, 10);
    Sequence seq;
    const int stump = stumpIndex();
    ASSERT_TRUE(steering.GetGyrationSequenceForUserDefinedRay(ray, seq));
    const int count = static_cast<int>(seq.GetCount());
    ASSERT_GT(count, 0);
    ASSERT_LT(count, 8);
    EXPECT_EQ(stumpIndex(), stump);
    // The next view is out of reach on all five cones.
    const float coneK = std::cos(2 * static_cast<float>(count) * c_fPi / 4) * 0.13089967f + 0.74176496f;
    const CbVector3f target =
        ZoCPlanningFrame::DiscToPlanning(steering.GetPlanningTransformation(), ray.origin * 0.025f);
    const float point[3] = {target.x, target.y, target.z};
    for (int i = 0; i < 5; ++i) {
        const CbVector3f d = viewDirection(count, coneK * (1 - 0.1f * i), 0.0f, c_matIdentity);
        const float direction[3] = {d.x, d.y, d.z};
        float joints[5], solvedPoint[3], solvedDirection[3];
        int status = 0;
        steering.GetAcquisitionPlanning()->SolveJoints(direction, point, 1.1920929e-07f, joints, solvedPoint,
                                                       solvedDirection, status);
        EXPECT_NE(status, 0) << "cone " << i;
    }
}

// The orientation view looks against the body's axis (straight down beyond a right angle) at its
// top, which it puts in the image centre, and hands back the solved ray. Image-area axes with
// their own scales move points but turn directions only by their rotation.
TEST(ZoCAcquisitionSteeringOrbal2Scanbody, OrientationViewLooksAlongTheAxisAtTheBodysTop) {
    const CbMatrix4Rf stretched = CbMatrix4Rf::FromRows({2, 0, 0, 0, 0, 0.5f, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1});
    struct Case {
        CyRay ray;
        CbMatrix4Rf imageAreaToDisc;
        float cone;
        CbVector3f view;  // in the disc frame; zero: out of reach
    } const cases[] = {
        {uprightBody(0, 0, 10), c_matIdentity, 0, {0, 0, 1}},
        {{{0, 0, -400}, {0.2f, 0, -1}}, stretched, 0, CbVector3f(-0.2f, 0, 1).Normalized()},
        {{{0, 0, -400}, {0.4f, 0.1f, -1}}, c_matIdentity, 2.0f, {0, 0, 1}},
        {{{0, 0, -400}, {0, 0, 1}}, c_matIdentity, 0, {}},  // looking up at the body from beneath the disc
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(&c - cases);
        Scanbody steering(c_device);
        steering.SetTrafoImageAreaToDisc(c.imageAreaToDisc);
        Sequence seq;
        seq.Add(ZoCOrbal2AxisChain::NSConfigurationRequest());  // replaced, not extended
        CbMatrix4Rf trafo = CbMatrix4Rf::Scaling(2);
        CyRay solved(CbVector3f(1, 2, 3), CbVector3f(0, 1, 0));
        const int stump = stumpIndex(), number = ZoCAcquisitionSteeringOrbal2::m_iRequestCounter.load();
        const bool reachable = c.view.Length() > 0;
        EXPECT_EQ(steering.GetJointConfigurationForScanbodyOrientation(c.ray, seq, trafo, c.cone, solved), reachable);
        EXPECT_EQ(stumpIndex(), stump + (reachable ? 1 : 0));
        if (!reachable) {
            EXPECT_EQ(seq.GetCount(), 0);
            EXPECT_EQ(trafo, CbMatrix4Rf::Scaling(2));
            EXPECT_EQ(solved.origin, CbVector3f(1, 2, 3));
            continue;
        }
        ASSERT_EQ(seq.GetCount(), 1);
        EXPECT_EQ(seq[0].m_strName.str(), name(number, stump + 1, 0));
        EXPECT_EQ(seq[0].m_iOrientationScan, 1);
        EXPECT_EQ(seq[0].m_iKeepRegistration, 1);
        EXPECT_EQ(trafo, CbMatrix4Rf::Translation(640, 512, 2048));
        const gyrationtest::NSView view =
            viewOf(c_device, seq[0].m_config, c.imageAreaToDisc.TransformPoint(c.ray.origin) * 0.025f);
        EXPECT_NEAR(view.u, 640, 0.5);
        EXPECT_NEAR(view.v, 512, 0.5);
        EXPECT_NEAR(angleDegrees(view.viewInDisc, c.view), 0, 0.01);
        EXPECT_NEAR((solved.origin - c.ray.origin).Length(), 0, 0.5);  // image-area units
        EXPECT_NEAR((solved.direction - c.view).Length(), 0, 1e-4);
    }
}

// A body far above the disc gets no view (and the stump stays); a planning without camera plans
// nothing and leaves the sequence as it was.
TEST(ZoCAcquisitionSteeringOrbal2Scanbody, GyratesNothingForABodyOutOfSightOrWithoutCamera) {
    ZoCOrbal2DeviceConfig blind;
    blind.m_camProjCalib = ZoCCamProjCalib(ZoCAbstractCamCalib(), ZoCAbstractCamCalib(), 150);
    for (const bool seeing : {true, false}) {
        Scanbody steering(seeing ? c_device : blind);
        Sequence seq;
        seq.Add(ZoCOrbal2AxisChain::NSConfigurationRequest());
        const int stump = stumpIndex();
        EXPECT_EQ(steering.GetGyrationSequenceForUserDefinedRay(uprightBody(0, 0, seeing ? 300 : 10), seq), seeing);
        EXPECT_EQ(seq.GetCount(), seeing ? 0 : 1);
        EXPECT_EQ(stumpIndex(), stump);
        EXPECT_EQ(steering.GetImageWidth(), seeing ? 1280 : 0);
        CbMatrix4Rf trafo;
        CyRay solved;
        if (!seeing) {
            EXPECT_FALSE(steering.GetJointConfigurationForScanbodyOrientation(uprightBody(0, 0, 10), seq, trafo, 0,
                                                                              solved));
            EXPECT_EQ(seq.GetCount(), 1);  // untouched: the readiness query comes first
        }
    }
}
