// The planning's joint solver on the reference device: views it finds survive the round trip
// through the chain's own camera-to-disc transformation; targets out of reach, bad input and a
// missing set-up are reported; the nearest direction within a tolerance is the nearest.
#include "AcquisitionPlanningStore.h"
#include "JointSolver.h"
#include "ReferenceDevice.h"
#include "ViewCheck.h"
#include "ZoOrbal2.h"

#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <random>

namespace {

using Planning = ZoCOrbal2AcquisitionPlanning;
using gyrationtest::angleDegrees;

Planning::NSSensorParameters cameraOf(const ZoCCamProjCalib& calib) {
    Planning::NSSensorParameters p;
    CCoordinate3<double> v, u, e;
    double fov = 0;
    calib.GetCamera().GetViewDirection(v);
    calib.GetCamera().GetUpDirection(u);
    calib.GetCamera().GetEyePt(e);
    calib.GetCamera().GetFOV(fov);
    const CCoordinate3<double>* src[3] = {&v, &u, &e};
    float* dst[3] = {p.view, p.up, p.eye};
    for (int k = 0; k < 3; ++k) {
        dst[k][0] = static_cast<float>(src[k]->x);
        dst[k][1] = static_cast<float>(src[k]->y);
        dst[k][2] = static_cast<float>(src[k]->z);
    }
    p.fov = static_cast<float>(fov);
    p.width = static_cast<int>(calib.GetCamera().GetWidth());
    p.height = static_cast<int>(calib.GetCamera().GetHeight());
    return p;
}

CbMatrix4Rf planningOf(const ZoCOrbal2AxisChain& chain) {
    ZoCOrbal2AxisChain::NCJointConfiguration home;
    chain.GetNeutralConfiguration(home);
    return ZoCPlanningFrame::PlanningTransformation(chain.GetCamToDiscTransformation(home, false));
}

CbVector3f toPlanningDirection(const CbMatrix4Rf& planning, const CbVector3f& disc) {
    return planning.TransformDirection(CbVector3f(disc.x, disc.y, -disc.z));
}

// What the camera looks at from a configuration: the focus point and view direction, planning frame.
struct NSLook {
    float point[3];
    float direction[3];
};

NSLook lookAt(const ZoCOrbal2DeviceConfig& device, const ZoCOrbal2AxisChain::NCJointConfiguration& config) {
    const CbMatrix4Rf camToDisc = device.m_axisChain.GetCamToDiscTransformation(config, false);
    CCoordinate3<double> eye, view;
    device.m_camProjCalib.GetCamera().GetEyePt(eye);
    device.m_camProjCalib.GetCamera().GetViewDirection(view);
    const double f = ReferenceDevice::c_dWorkingDistance;
    const CbVector3f focus(eye.x + f * view.x, eye.y + f * view.y, eye.z + f * view.z);
    const CbMatrix4Rf planning = planningOf(device.m_axisChain);
    const CbVector3f p = ZoCPlanningFrame::DiscToPlanning(planning, camToDisc.TransformPoint(focus));
    const CbVector3f d =
        toPlanningDirection(planning, camToDisc.TransformDirection(CbVector3f(view.x, view.y, view.z)));
    return {{p.x, p.y, p.z}, {d.x, d.y, d.z}};
}

ZoCOrbal2AxisChain::NCJointConfiguration configOf(const float joints[5]) {
    return ZoCOrbal2AxisChain::NCJointConfiguration(joints);
}

// The joint records a steering hands the planning.
void recordsOf(const ZoCOrbal2AxisChain& chain, Planning::NSJointParameter records[5]) {
    for (int j = 0; j < 5; ++j) {
        const ZoCOrbal2DenavitHartenbergJoint& joint = chain.GetDHJoint(j);
        for (int k = 0; k < 4; ++k)
            records[j].dh[k] = joint.GetParam(k);
        records[j].kind = joint.GetKind();
        records[j].minPosition = joint.GetMinPosition();
        records[j].maxPosition = joint.GetMaxPosition();
    }
}

// The solver of the reference device, as the planning builds it from what it was handed.
JointSolver referenceSolver() {
    const ZoCOrbal2DeviceConfig device;
    return JointSolver(device.m_axisChain, cameraOf(device.m_camProjCalib), planningOf(device.m_axisChain));
}

}  // namespace

TEST(JointSolver, ViewsFoundSurviveTheRoundTripThroughTheChainsCameraToDiscTransformation) {
    const ZoCOrbal2DeviceConfig device;
    ZoCAcquisitionSteeringOrbal2Gyration steering(device);
    Planning& planning = *steering.GetAcquisitionPlanning();
    std::mt19937_64 rng(47110518);
    for (int trial = 0; trial < 24; ++trial) {
        // Any configuration within the limits gives a view the solver must find again.
        ZoCOrbal2AxisChain::NCJointConfiguration wanted;
        for (int j = 0; j < 5; ++j) {
            float lo, hi;
            device.m_axisChain.GetMinMaxPosition(j, lo, hi);
            if (j == 4)
                lo = -180, hi = 180;
            wanted[j] = std::uniform_real_distribution<float>(lo, hi)(rng);
        }
        const NSLook look = lookAt(device, wanted);
        float joints[5], point[3], direction[3];
        int status = -1;
        planning.SolveJoints(look.direction, look.point, FLT_EPSILON, joints, point, direction, status);
        ASSERT_EQ(status, 0) << "trial " << trial;

        const ZoCOrbal2AxisChain::NCJointConfiguration solved = configOf(joints);
        for (int j = 0; j < 5; ++j) {
            float lo, hi;
            device.m_axisChain.GetMinMaxPosition(j, lo, hi);
            EXPECT_GE(joints[j], lo);
            EXPECT_LE(joints[j], hi);
        }
        const CbVector3f target =
            ZoCPlanningFrame::PlanningToDisc(planningOf(device.m_axisChain).Inverted(),
                                             CbVector3f(look.point[0], look.point[1], look.point[2]));
        const gyrationtest::NSView view = gyrationtest::viewOf(device, solved, target);
        EXPECT_LT(view.offAxis, 0.01) << "trial " << trial;
        EXPECT_NEAR(view.depth, ReferenceDevice::c_dWorkingDistance, 0.01) << "trial " << trial;
        const CbVector3f wantedDirection(look.direction[0], look.direction[1], look.direction[2]);
        EXPECT_LT(angleDegrees(toPlanningDirection(planningOf(device.m_axisChain), view.viewInDisc),
                               wantedDirection),
                  0.01);
        // The answer's point and direction are the solved camera's focus point and view.
        const NSLook answer = lookAt(device, solved);
        for (int i = 0; i < 3; ++i) {
            EXPECT_NEAR(point[i], answer.point[i], 1e-3);
            EXPECT_NEAR(direction[i], answer.direction[i], 1e-5);
            EXPECT_NEAR(point[i], look.point[i], 0.01);
        }
    }
}

TEST(JointSolver, ReportsATargetItCannotSeeAsOutOfReachWithJointsWithinTheLimits) {
    const JointSolver solver = referenceSolver();
    const float up[3] = {0, 0, 1};  // looking up at the disc from beneath it
    const float target[3] = {0, 0, 10};
    const JointSolver::Result result = solver.Solve(up, target, 5.0f);
    EXPECT_EQ(result.status, JointSolver::eOutOfReach);
    for (int j = 0; j < 5; ++j) {
        EXPECT_GE(result.joints[j], ReferenceDevice::c_afMin[j]);
        EXPECT_LE(result.joints[j], ReferenceDevice::c_afMax[j]);
    }
    const float farAway[3] = {0, 0, 400};
    const float down[3] = {0, 0, -1};
    EXPECT_EQ(solver.Solve(down, farAway, 0).status, JointSolver::eOutOfReach);
}

TEST(JointSolver, RefusesNonFiniteInputAndAZeroDirection) {
    const JointSolver solver = referenceSolver();
    const float target[3] = {0, 0, 10}, down[3] = {0, 0, -1}, zero[3] = {0, 0, 0};
    const float nanTarget[3] = {0, NAN, 10}, infDirection[3] = {INFINITY, 0, -1};
    EXPECT_EQ(solver.Solve(zero, target, 1).status, JointSolver::eInvalidInput);
    EXPECT_EQ(solver.Solve(down, nanTarget, 1).status, JointSolver::eInvalidInput);
    EXPECT_EQ(solver.Solve(infDirection, target, 1).status, JointSolver::eInvalidInput);
    EXPECT_EQ(solver.Solve(down, target, NAN).status,
              JointSolver::eSolved);  // a NaN tolerance asks for exactness
}

TEST(JointSolver, WithoutCameraJointsOrPlanningFrameIsNotSetUp) {
    AcquisitionPlanningStore store;
    const float target[3] = {0, 0, 10}, down[3] = {0, 0, -1};
    float joints[5], point[3], direction[3];
    int status = 0;
    store.SolveJoints(down, target, 1, joints, point, direction, status);
    EXPECT_EQ(status, JointSolver::eNotSetUp);

    const ZoCOrbal2DeviceConfig device;
    Planning::NSSensorParameters away = cameraOf(device.m_camProjCalib);
    for (float& v : away.view)
        v = -v;  // facing away from the tilt centre
    EXPECT_FALSE(JointSolver(device.m_axisChain, away, planningOf(device.m_axisChain)).IsSetUp());
    Planning::NSSensorParameters noField = cameraOf(device.m_camProjCalib);
    noField.fov = 0;
    EXPECT_FALSE(JointSolver(device.m_axisChain, noField, planningOf(device.m_axisChain)).IsSetUp());
    EXPECT_FALSE(
        JointSolver(device.m_axisChain, cameraOf(device.m_camProjCalib), CbMatrix4Rf::Scaling(0)).IsSetUp());
}

TEST(JointSolver, MeasuresItsRegionFromTheCamerasField) {
    const JointSolver solver = referenceSolver();
    ASSERT_TRUE(solver.IsSetUp());
    EXPECT_NEAR(solver.GetWorkingDistance(), 150.0, 1e-4);
    // A quarter of the 1024 rows at 150 mm, 640 / tan(18 degrees) pixels focal length.
    EXPECT_NEAR(solver.GetRegionRadius(), 150.0 * 1024 / (4 * 640 / std::tan(18 * 3.14159265358979 / 180)),
                1e-4);
}

TEST(JointSolver, WithinATolerancePicksTheNearestReachableDirection) {
    const JointSolver solver = referenceSolver();
    // Above the tilt centre, a view 40 degrees off the vertical from the far side is beyond the tilts.
    const float target[3] = {0, 0, 10};
    const float cone = 40 * 0.017453292f, azimuth = 135 * 0.017453292f;
    const float wanted[3] = {std::sin(cone) * std::cos(azimuth), std::sin(cone) * std::sin(azimuth),
                             -std::cos(cone)};
    ASSERT_EQ(solver.Solve(wanted, target, 0).status, JointSolver::eOutOfReach);
    const JointSolver::Result near = solver.Solve(wanted, target, 17.0f);
    ASSERT_EQ(near.status, JointSolver::eSolved);
    EXPECT_GT(near.angleDegrees, 0.01);
    EXPECT_LE(near.angleDegrees, 17.0 + JointSolver::c_dAngleAccuracy);
    EXPECT_NEAR(angleDegrees(CbVector3f(near.direction[0], near.direction[1], near.direction[2]),
                             CbVector3f(wanted[0], wanted[1], wanted[2])),
                near.angleDegrees, 1e-3);
    EXPECT_LE(near.positionError, solver.GetRegionRadius());
    // Nothing clearly nearer is within reach.
    EXPECT_EQ(solver.Solve(wanted, target, static_cast<float>(near.angleDegrees) - 0.25f).status,
              JointSolver::eOutOfReach);
}

TEST(JointSolver, StaysWithinTheLimitsOfTheJointRecordsItWasHanded) {
    const ZoCOrbal2DeviceConfig device;
    Planning::NSJointParameter records[5];
    recordsOf(device.m_axisChain, records);
    const JointSolver wide(cameraOf(device.m_camProjCalib), records, planningOf(device.m_axisChain));
    // Tilts held near home leave only the disc's turn to choose the view's azimuth.
    for (int j : {1, 2}) {
        records[j].minPosition = 89;
        records[j].maxPosition = 91;
    }
    const JointSolver narrow(cameraOf(device.m_camProjCalib), records, planningOf(device.m_axisChain));

    ZoCOrbal2AxisChain::NCJointConfiguration tilted;
    tilted.Set(0, 130, 100, 0, 20);
    const NSLook look = lookAt(device, tilted);
    EXPECT_EQ(wide.Solve(look.direction, look.point, 0).status, JointSolver::eSolved);
    const JointSolver::Result limited = narrow.Solve(look.direction, look.point, 0);
    EXPECT_EQ(limited.status, JointSolver::eOutOfReach);
    for (int j : {1, 2}) {
        EXPECT_GE(limited.joints[j], 89.0f);
        EXPECT_LE(limited.joints[j], 91.0f);
    }
}

TEST(JointSolver, RebuildsTheReferenceChainFromItsJointRecords) {
    const ZoCOrbal2DeviceConfig device;
    Planning::NSJointParameter records[5];
    recordsOf(device.m_axisChain, records);
    const ZoCOrbal2AxisChain rebuilt = JointSolver::ChainFromRecords(records);
    std::mt19937_64 rng(5489);
    std::uniform_real_distribution<float> any(-60, 60);
    for (int trial = 0; trial < 20; ++trial) {
        ZoCOrbal2AxisChain::NCJointConfiguration config;
        config.Set(any(rng), 90 + any(rng), 90 + any(rng), any(rng) / 2, 3 * any(rng));
        const auto a = device.m_axisChain.ForwardKinematics(config), b = rebuilt.ForwardKinematics(config);
        for (size_t i = 0; i < 16; ++i)
            EXPECT_NEAR(a[i], b[i], 1e-9) << trial;
    }
}

TEST(JointSolver, ThePlanningIsReadyOnceCameraProjectorAndJointsAreSet) {
    const ZoCOrbal2DeviceConfig device;
    AcquisitionPlanningStore store;
    const ZoCOrbal2AxisChain::CJointPositionSequence seq;
    EXPECT_FALSE(store.IsReadyToPlan(100000, seq));
    store.SetCameraParameters(cameraOf(device.m_camProjCalib));
    store.SetProjectorParameters(cameraOf(device.m_camProjCalib));
    EXPECT_FALSE(store.IsReadyToPlan(100000, seq));
    Planning::NSJointParameter records[5];
    recordsOf(device.m_axisChain, records);
    store.SetJointParameters(records);
    EXPECT_TRUE(store.IsReadyToPlan(100000, seq));
}

TEST(JointSolver, LetsTheJawsUserRayPassItsImageCheck) {
    const ZoCOrbal2DeviceConfig device;
    ZoCAcquisitionSteeringOrbal2Jaw jaw(device, false, false, false);
    // Points on a jaw model (image-area units, the disc's z into the disc) and view directions.
    const CyRay rays[] = {{{400, 200, -320}, {0, 0, 1}},
                          {{-600, 300, -400}, {0.5f, 0, 0.866f}},
                          {{0, -500, -200}, {0, 0.3f, 1}},
                          {{200, 200, -480}, {-0.4f, -0.4f, 0.8f}}};
    for (const CyRay& ray : rays) {
        ZoCOrbal2AxisChain::CJointPositionSequence seq;
        ASSERT_TRUE(jaw.GetSequenceForUserDefinedRay(ray, seq)) << ray.origin.x << " " << ray.origin.y;
        ASSERT_EQ(seq.GetCount(), 1);
        const std::wstring& name = seq[0].m_strName.str();
        EXPECT_EQ(name.substr(3), L"_UU_0");
        const gyrationtest::NSView view = gyrationtest::viewOf(device, seq[0].m_config, ray.origin * 0.025f);
        EXPECT_NEAR(view.u, 640, 320);
        EXPECT_NEAR(view.v, 512, 256);
        EXPECT_LT(angleDegrees(view.viewInDisc, ray.direction), 17.0 + JointSolver::c_dAngleAccuracy);
    }
    ZoCOrbal2AxisChain::CJointPositionSequence seq;
    EXPECT_FALSE(
        jaw.GetSequenceForUserDefinedRay(CyRay({0, 0, -400}, {0, 0, -1}), seq));  // from beneath the disc
    EXPECT_EQ(seq.GetCount(), 0);
}
