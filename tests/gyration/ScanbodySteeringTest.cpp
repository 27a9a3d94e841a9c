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

using Sequence = ZoCOrbal2AxisChain::CJointPositionSequence;
using gyrationtest::angleDegrees;
using gyrationtest::viewOf;
constexpr float c_fPi = 3.14159265f;

class TestScanbody : public ZoCAcquisitionSteeringOrbal2Scanbody {
public:
    explicit TestScanbody(const ZoCOrbal2DeviceConfig& device = ZoCOrbal2DeviceConfig())
        : ZoCAcquisitionSteeringOrbal2Scanbody(device) {}
    AcquisitionPlanningStore& Store() {
        return dynamic_cast<AcquisitionPlanningStore&>(*GetAcquisitionPlanning());
    }
};

// A scan body standing upright on the disc: its top `height` mm above the disc centre. Image-area
// units are 40 per mm; the disc's z axis points into the disc.
CyRay uprightBody(float x, float y, float height) {
    return CyRay(CbVector3f(40 * x, 40 * y, -40 * height), CbVector3f(0, 0, -1));
}

CbVector3f discPointOf(const CyRay& ray) {
    return ray.origin * 0.025f;
}

// The planning frame's view direction of a request.
CbVector3f planningView(const ZoCAcquisitionSteeringOrbal2& steering, const ZoCOrbal2DeviceConfig& device,
                        const ZoCOrbal2AxisChain::NSConfigurationRequest& request) {
    const CbVector3f disc = viewOf(device, request.m_config, CbVector3f()).viewInDisc;
    return steering.GetPlanningTransformation().TransformDirection(CbVector3f(disc.x, disc.y, -disc.z));
}

std::wstring name(int number, int stump, int index) {
    wchar_t text[32];
    std::swprintf(text, 32, L"%03d_S%d_%d", number, stump, index);
    return text;
}

}  // namespace

TEST(ZoCAcquisitionSteeringOrbal2Scanbody, TurnsTheZAxisIntoTheRayDirection) {
    TestScanbody steering;
    const float directions[][3] = {{0, 0, 1},           {1, 0, 0},          {-1, 2, 0.5f},
                                   {0.3f, -0.4f, 0.8f}, {-0.2f, -0.1f, -1}, {0, 0, -3}};
    for (const auto& d : directions) {
        const CbMatrix4Rf m = steering.calcTrafoZAxisToRayDir(d);
        const CbVector3f z = m.TransformDirection(CbVector3f(0, 0, 1));
        const CbVector3f want = CbVector3f(d[0], d[1], d[2]).Normalized();
        EXPECT_NEAR((z - want).Length(), 0, 1e-5) << d[0] << " " << d[1] << " " << d[2];
        EXPECT_NEAR(m.Determinant(), 1.0, 1e-5);
    }
}

TEST(ZoCAcquisitionSteeringOrbal2Scanbody, TakesAnAxisThatIsVerticalButForRoundingAsVertical) {
    TestScanbody steering;
    const float rounded[3] = {1e-8f, 2e-8f, 1}, vertical[3] = {0, 0, 1};
    EXPECT_EQ(steering.calcTrafoZAxisToRayDir(vertical), c_matIdentity);
    // No turn about the vertical: x stays x (a rounding azimuth would turn it anywhere).
    const CbVector3f x = steering.calcTrafoZAxisToRayDir(rounded).TransformDirection(CbVector3f(1, 0, 0));
    EXPECT_NEAR((x - CbVector3f(1, 0, 0)).Length(), 0, 1e-6);
}

TEST(ZoCAcquisitionSteeringOrbal2Scanbody, LaysViewDirectionsOnTheConeAtEvenAzimuthsLookingAgainstTheAxis) {
    const float cone = 0.6f;
    for (int k = 0; k < 8; ++k) {
        float out[3];
        ZoCAcquisitionSteeringOrbal2Scanbody::calcViewDirForScanBodyGyration(out, k, cone, 0.7853982f, 0.0f,
                                                                             c_matIdentity);
        EXPECT_NEAR(std::remainder(std::atan2(out[1], out[0]) - k * c_fPi / 4, 2 * c_fPi), 0, 1e-5) << k;
        EXPECT_NEAR(std::acos(-out[2]), cone, 1e-5) << k;
    }
    // Around a tilted axis the cone keeps its half-angle from the reversed axis.
    const CbVector3f axis = CbVector3f(0.5f, 0.2f, 0.8f).Normalized();
    const float a[3] = {axis.x, axis.y, axis.z};
    const CbMatrix4Rf m = TestScanbody().calcTrafoZAxisToRayDir(a);
    float out[3];
    ZoCAcquisitionSteeringOrbal2Scanbody::calcViewDirForScanBodyGyration(out, 3, cone, 0.7853982f, 0.1f, m);
    EXPECT_NEAR(angleDegrees(CbVector3f(out[0], out[1], out[2]), -axis), cone * 57.29578f, 1e-3);
    ZoCAcquisitionSteeringOrbal2Scanbody::calcViewDirForScanBodyGyration(out, 0, 0.0f, 0.0f, 0.0f, m);
    EXPECT_NEAR((CbVector3f(out[0], out[1], out[2]) + axis).Length(), 0, 1e-6);
}

TEST(ZoCAcquisitionSteeringOrbal2Scanbody, BeyondARightAngleLooksStraightDownWhateverTheAxis) {
    const float a[3] = {1, 0, 0};
    const CbMatrix4Rf m = TestScanbody().calcTrafoZAxisToRayDir(a);
    float out[3];
    ZoCAcquisitionSteeringOrbal2Scanbody::calcViewDirForScanBodyGyration(out, 2, 1.6f, 0.7853982f, 0.3f, m);
    EXPECT_EQ(out[0], 0.0f);
    EXPECT_EQ(out[1], 0.0f);
    EXPECT_EQ(out[2], -1.0f);
}

TEST(ZoCAcquisitionSteeringOrbal2Scanbody, ConstructionWidensTheTiltsAndKeepsTheImageSize) {
    TestScanbody steering;
    AcquisitionPlanningStore& store = steering.Store();
    EXPECT_EQ(store.UpdateCalls(), 1);
    const auto records = store.JointParameters();
    ASSERT_TRUE(records.has_value());
    // The tilts may swing 89.99 degrees about their home angle of 90, within their own limits.
    EXPECT_FLOAT_EQ((*records)[1].minPosition, 30.0f);
    EXPECT_FLOAT_EQ((*records)[1].maxPosition, 150.0f);
    EXPECT_NEAR((*records)[2].minPosition, 0.01f, 1e-4);
    EXPECT_FLOAT_EQ((*records)[2].maxPosition, 150.0f);
    EXPECT_EQ(steering.GetTrafoImageAreaToDisc(), c_matIdentity);
    EXPECT_EQ(steering.GetImageWidth(), 1280);
    EXPECT_EQ(steering.GetImageHeight(), 1024);
    EXPECT_EQ(store.AcquisitionType(), ZoCOrbal2AcquisitionPlanning::eTypeGyration);
}

TEST(ZoCAcquisitionSteeringOrbal2Scanbody, OffersNoScanbodyStubPlanners) {
    TestScanbody steering;
    Sequence seq;
    ZoCOrbal2AxisChain::NSConfigurationRequest request;
    request.m_config.Set(1, 2, 3, 4, 5);
    EXPECT_EQ(steering.CalculateJointParamsForScanbody(), 0);
    EXPECT_EQ(steering.GetCurrStumpIndex(), 0);
    EXPECT_FALSE(steering.GetJointConfigurationForScanbody(uprightBody(0, 0, 10), seq));
    steering.SetJointParamsForScanbody(3, request);
    ZoCOrbal2AxisChain::NCJointConfiguration unchanged;
    unchanged.Set(1, 2, 3, 4, 5);
    EXPECT_EQ(request.m_config, unchanged);
    EXPECT_EQ(seq.GetCount(), 0);
}

TEST(ZoCAcquisitionSteeringOrbal2Scanbody, GyratesEightViewsAroundAnUprightBodyThatTheCameraSees) {
    const ZoCOrbal2DeviceConfig device;
    TestScanbody steering(device);
    const CyRay ray = uprightBody(0, 0, 10);
    Sequence seq;
    const int stump = ZoCAcquisitionSteeringOrbal2::m_iCurrStumpIndex.load();
    const int firstNumber = ZoCAcquisitionSteeringOrbal2::m_iRequestCounter.load();
    ASSERT_TRUE(steering.GetGyrationSequenceForUserDefinedRay(ray, seq));
    ASSERT_EQ(seq.GetCount(), 8);
    EXPECT_EQ(ZoCAcquisitionSteeringOrbal2::m_iCurrStumpIndex.load(), stump + 1);
    for (int k = 0; k < 8; ++k) {
        EXPECT_EQ(seq[k].m_strName.str(), name(firstNumber + k, stump, k + 5));
        EXPECT_EQ(seq[k].m_byFlag, 1);
        // The body's top shows in the central half of the image, near the sharpest depth.
        const gyrationtest::NSView view = viewOf(device, seq[k].m_config, discPointOf(ray));
        EXPECT_NEAR(view.u, 640, 320) << k;
        EXPECT_NEAR(view.v, 512, 256) << k;
        EXPECT_NEAR(view.depth, 150, 19.5) << k;
        // The view leans 50 degrees at most (35 or 42.5, narrowed by tenths) off the axis, at the
        // view's own azimuth.
        const CbVector3f planning = planningView(steering, device, seq[k]);
        const double cone = angleDegrees(planning, CbVector3f(0, 0, -1));
        EXPECT_GT(cone, 0.6 * 35 - 0.01) << k;
        EXPECT_LT(cone, 50.01) << k;
        EXPECT_NEAR(std::remainder(std::atan2(planning.y, planning.x) - k * c_fPi / 4, 2 * c_fPi), 0, 1e-3)
            << k;
        for (int j = 0; j < 5; ++j) {
            float lo, hi;
            device.m_axisChain.GetMinMaxPosition(j, lo, hi);
            EXPECT_GE(seq[k].m_config[j], lo);
            EXPECT_LE(seq[k].m_config[j], hi);
        }
    }
}

TEST(ZoCAcquisitionSteeringOrbal2Scanbody, AViewOutOfReachOnEveryConeEndsTheGyrationWithoutAdvancing) {
    TestScanbody steering;
    // Above the tilt centre, the views from the far side need tilts beyond the limits.
    const CyRay ray = uprightBody(-19.2f, 14.4f, 10);
    Sequence seq;
    const int stump = ZoCAcquisitionSteeringOrbal2::m_iCurrStumpIndex.load();
    ASSERT_TRUE(steering.GetGyrationSequenceForUserDefinedRay(ray, seq));
    const int count = static_cast<int>(seq.GetCount());
    ASSERT_GT(count, 0);
    ASSERT_LT(count, 8);
    EXPECT_EQ(ZoCAcquisitionSteeringOrbal2::m_iCurrStumpIndex.load(), stump);
    // The next view is out of reach on all five cones.
    const float phi = static_cast<float>(count) * c_fPi / 4;
    const float coneK = std::cos(2 * phi) * 0.13089967f + 0.74176496f;
    const CbVector3f target =
        ZoCPlanningFrame::DiscToPlanning(steering.GetPlanningTransformation(), discPointOf(ray));
    const float point[3] = {target.x, target.y, target.z};
    for (int i = 0; i < 5; ++i) {
        float direction[3], joints[5], solvedPoint[3], solvedDirection[3];
        int status = 0;
        ZoCAcquisitionSteeringOrbal2Scanbody::calcViewDirForScanBodyGyration(
            direction, count, coneK * (1 - 0.1f * i), 0.7853982f, 0.0f, c_matIdentity);
        steering.GetAcquisitionPlanning()->SolveJoints(direction, point, 1.1920929e-07f, joints, solvedPoint,
                                                       solvedDirection, status);
        EXPECT_NE(status, 0) << "cone " << i;
    }
}

TEST(ZoCAcquisitionSteeringOrbal2Scanbody, ABodyFarAboveTheDiscGetsNoView) {
    TestScanbody steering;
    Sequence seq;
    seq.Add(ZoCOrbal2AxisChain::NSConfigurationRequest());  // replaced, not extended
    const int stump = ZoCAcquisitionSteeringOrbal2::m_iCurrStumpIndex.load();
    EXPECT_TRUE(steering.GetGyrationSequenceForUserDefinedRay(uprightBody(0, 0, 300), seq));
    EXPECT_EQ(seq.GetCount(), 0);
    EXPECT_EQ(ZoCAcquisitionSteeringOrbal2::m_iCurrStumpIndex.load(), stump);
}

TEST(ZoCAcquisitionSteeringOrbal2Scanbody, OrientationViewLooksStraightAlongTheAxisAndReturnsTheSolvedRay) {
    const ZoCOrbal2DeviceConfig device;
    TestScanbody steering(device);
    const CyRay ray = uprightBody(0, 0, 10);
    Sequence seq;
    CbMatrix4Rf trafo;
    CyRay solved;
    const int stump = ZoCAcquisitionSteeringOrbal2::m_iCurrStumpIndex.load();
    const int number = ZoCAcquisitionSteeringOrbal2::m_iRequestCounter.load();
    ASSERT_TRUE(steering.GetJointConfigurationForScanbodyOrientation(ray, seq, trafo, 0.0f, solved));
    ASSERT_EQ(seq.GetCount(), 1);
    EXPECT_EQ(ZoCAcquisitionSteeringOrbal2::m_iCurrStumpIndex.load(), stump + 1);
    EXPECT_EQ(seq[0].m_strName.str(), name(number, stump + 1, 0));
    EXPECT_EQ(seq[0].m_iOrientationScan, 1);
    EXPECT_EQ(seq[0].m_iKeepRegistration, 1);
    EXPECT_EQ(trafo, CbMatrix4Rf::Translation(640, 512, 2048));
    // The camera looks down the axis at the body's top, which it puts in the image centre.
    const gyrationtest::NSView view = viewOf(device, seq[0].m_config, discPointOf(ray));
    EXPECT_NEAR(view.u, 640, 0.5);
    EXPECT_NEAR(view.v, 512, 0.5);
    EXPECT_NEAR(angleDegrees(view.viewInDisc, -ray.direction), 0, 0.01);
    EXPECT_NEAR((solved.origin - ray.origin).Length(), 0, 0.5);  // image-area units
    EXPECT_NEAR((solved.direction + ray.direction.Normalized()).Length(), 0, 1e-4);
}

TEST(ZoCAcquisitionSteeringOrbal2Scanbody, OrientationBeyondARightAngleLooksStraightDownOnTheDisc) {
    const ZoCOrbal2DeviceConfig device;
    TestScanbody steering(device);
    const CyRay tilted(CbVector3f(0, 0, -400), CbVector3f(0.4f, 0.1f, -1));
    Sequence seq;
    CbMatrix4Rf trafo;
    CyRay solved;
    ASSERT_TRUE(steering.GetJointConfigurationForScanbodyOrientation(tilted, seq, trafo, 2.0f, solved));
    ASSERT_EQ(seq.GetCount(), 1);
    EXPECT_NEAR(angleDegrees(viewOf(device, seq[0].m_config, CbVector3f()).viewInDisc, CbVector3f(0, 0, 1)),
                0, 0.01);
    EXPECT_NEAR((solved.direction - CbVector3f(0, 0, 1)).Length(), 0, 1e-4);
}

TEST(ZoCAcquisitionSteeringOrbal2Scanbody, OrientationOutOfReachAddsNothing) {
    TestScanbody steering;
    Sequence seq;
    seq.Add(ZoCOrbal2AxisChain::NSConfigurationRequest());
    CbMatrix4Rf trafo = CbMatrix4Rf::Scaling(2);
    CyRay solved(CbVector3f(1, 2, 3), CbVector3f(0, 1, 0));
    const int stump = ZoCAcquisitionSteeringOrbal2::m_iCurrStumpIndex.load();
    // Looking up at the body from beneath the disc.
    const CyRay below(CbVector3f(0, 0, -400), CbVector3f(0, 0, 1));
    EXPECT_FALSE(steering.GetJointConfigurationForScanbodyOrientation(below, seq, trafo, 0.0f, solved));
    EXPECT_EQ(seq.GetCount(), 0);
    EXPECT_EQ(ZoCAcquisitionSteeringOrbal2::m_iCurrStumpIndex.load(), stump);
    EXPECT_EQ(trafo, CbMatrix4Rf::Scaling(2));
    EXPECT_EQ(solved.origin, CbVector3f(1, 2, 3));
}

TEST(ZoCAcquisitionSteeringOrbal2Scanbody, PlansNothingWhenThePlanningLacksTheCamera) {
    ZoCOrbal2DeviceConfig device;
    device.m_camProjCalib = ZoCCamProjCalib(ZoCAbstractCamCalib(), ZoCAbstractCamCalib(), 150);
    TestScanbody steering(device);
    Sequence seq;
    seq.Add(ZoCOrbal2AxisChain::NSConfigurationRequest());
    CbMatrix4Rf trafo;
    CyRay solved;
    EXPECT_FALSE(steering.GetGyrationSequenceForUserDefinedRay(uprightBody(0, 0, 10), seq));
    EXPECT_FALSE(
        steering.GetJointConfigurationForScanbodyOrientation(uprightBody(0, 0, 10), seq, trafo, 0, solved));
    EXPECT_EQ(seq.GetCount(), 1);  // untouched: the readiness query comes first
    EXPECT_EQ(steering.GetImageWidth(), 0);
}
