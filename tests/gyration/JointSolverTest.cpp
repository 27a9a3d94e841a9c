// The planning's joint solver on the reference device, checked through the chain's kinematics.
#include "AcquisitionPlanningStore.h"
#include "JointSolver.h"
#include "ViewCheck.h"

#include <cfloat>
#include <cmath>
#include <random>

namespace {

using Planning = ZoCOrbal2AcquisitionPlanning;
using namespace gyrationtest;
using testing::FloatNear;
using testing::Pointwise;

// What a gyration steering hands its planning: the reference device's camera and joint records.
AcquisitionPlanningStore& handed() {
    static ZoCAcquisitionSteeringOrbal2Gyration steering(c_device);
    return dynamic_cast<AcquisitionPlanningStore&>(*steering.GetAcquisitionPlanning());
}

// What the camera looks at from a configuration: its focus point and view direction, planning frame.
struct NSLook {
    float point[3], direction[3];
};
NSLook lookAt(const Config& config) {
    const NSView view = viewOf(config, {});
    const CbVector3f p = ZoCPlanningFrame::DiscToPlanning(planningTrafo(), view.focusInDisc),
                     d = toPlanningDirection(view.viewInDisc);
    return {{p.x, p.y, p.z}, {d.x, d.y, d.z}};
}

}  // namespace

TEST(JointSolver, ViewsFoundSurviveTheRoundTripThroughTheChainsCameraToDiscTransformation) {
    Planning& planning = handed();
    std::mt19937_64 rng(47110518);
    for (int trial = 0; trial < 24; ++trial) {
        SCOPED_TRACE(trial);
        // Any configuration within the limits gives a view the solver must find again.
        Config wanted;
        for (int j = 0; j < 5; ++j) {
            float lo, hi;
            c_device.m_axisChain.GetMinMaxPosition(j, lo, hi);
            wanted[j] = j == 4 ? std::uniform_real_distribution<float>(-180, 180)(rng)
                               : std::uniform_real_distribution<float>(lo, hi)(rng);
        }
        const NSLook look = lookAt(wanted);
        float joints[5], point[3], direction[3];
        int status = -1;
        planning.SolveJoints(look.direction, look.point, FLT_EPSILON, joints, point, direction, status);
        ASSERT_EQ(status, 0);
        expectWithinLimits(joints);
        // The solved camera looks at the target along the direction, and the answer says so.
        const NSLook solved = lookAt(Config(joints));
        EXPECT_THAT(solved.point, Pointwise(FloatNear(0.01f), look.point));
        EXPECT_THAT(solved.direction, Pointwise(FloatNear(2e-4f), look.direction));
        EXPECT_THAT(point, Pointwise(FloatNear(1e-3f), solved.point));
        EXPECT_THAT(direction, Pointwise(FloatNear(1e-5f), solved.direction));
    }
}

TEST(JointSolver, ReportsTargetsOutOfReachBadInputAndAMissingSetUp) {
    Planning::NSSensorParameters away = *handed().Camera(), noField = away;
    for (float& v : away.view)
        v = -v;  // facing away from the tilt centre
    noField.fov = 0;
    const ZoCOrbal2AxisChain& chain = c_device.m_axisChain;
    const JointSolver solver(chain, *handed().Camera(), planningTrafo());
    const float down[3] = {0, 0, -1}, up[3] = {0, 0, 1}, zero[3] = {}, infinite[3] = {INFINITY, 0, -1};
    const float above[3] = {0, 0, 10}, nan[3] = {0, NAN, 10};
    const JointSolver::Result beneath = solver.Solve(up, above, 5);  // looking up from beneath the disc
    expectWithinLimits(beneath.joints);
    const std::vector<int> statuses = {
        beneath.status,
        solver.Solve(zero, above, 1).status,
        solver.Solve(down, nan, 1).status,
        solver.Solve(infinite, above, 1).status,
        solver.Solve(down, above, NAN).status,  // a NaN tolerance asks for exactness
        JointSolver(chain, away, planningTrafo()).Solve(down, above, 1).status,
        JointSolver(chain, noField, planningTrafo()).Solve(down, above, 1).status,
        JointSolver(chain, *handed().Camera(), CbMatrix4Rf::Scaling(0)).Solve(down, above, 1).status};
    EXPECT_EQ(statuses,
              (std::vector<int>{JointSolver::eOutOfReach, JointSolver::eInvalidInput,
                                JointSolver::eInvalidInput, JointSolver::eInvalidInput, JointSolver::eSolved,
                                JointSolver::eNotSetUp, JointSolver::eNotSetUp, JointSolver::eNotSetUp}));
    // A planning is ready, and solves, once camera, projector and joints are set.
    AcquisitionPlanningStore store;
    const ZoCOrbal2AxisChain::CJointPositionSequence seq;
    float joints[5], point[3], direction[3];
    int status = 0;
    store.SolveJoints(down, above, 1, joints, point, direction, status);
    EXPECT_EQ(status, JointSolver::eNotSetUp);
    store.SetCameraParameters(*handed().Camera());
    store.SetProjectorParameters(*handed().Camera());
    EXPECT_FALSE(store.IsReadyToPlan(100000, seq));
    store.SetJointParameters(handed().JointParameters()->data());
    EXPECT_TRUE(store.IsReadyToPlan(100000, seq));
}

// Within a tolerance the nearest reachable direction; the region: a quarter of the 1024 rows at 150 mm.
TEST(JointSolver, WithinATolerancePicksTheNearestReachableDirection) {
    const JointSolver solver(c_device.m_axisChain, *handed().Camera(), planningTrafo());
    EXPECT_NEAR(solver.GetRegionRadius(), 150.0 * 1024 / (4 * 640 / std::tan(18 * 3.14159265358979 / 180)),
                1e-4);
    // Above the tilt centre, a view 40 degrees off the vertical from the far side is beyond the tilts.
    const float target[3] = {0, 0, 10}, wanted[3] = {-0.4545195f, 0.4545195f, -0.7660444f};
    ASSERT_EQ(solver.Solve(wanted, target, 0).status, JointSolver::eOutOfReach);
    const JointSolver::Result near = solver.Solve(wanted, target, 17.0f);
    ASSERT_EQ(near.status, JointSolver::eSolved);
    EXPECT_TRUE(near.angleDegrees > 0.01 && near.angleDegrees <= 17.0 + JointSolver::c_dAngleAccuracy);
    const CbVector3f found(near.direction[0], near.direction[1], near.direction[2]);
    EXPECT_NEAR(angleDegrees(found, {wanted[0], wanted[1], wanted[2]}), near.angleDegrees, 1e-3);
    EXPECT_LE(near.positionError, solver.GetRegionRadius());
    // Nothing clearly nearer is within reach.
    EXPECT_EQ(solver.Solve(wanted, target, static_cast<float>(near.angleDegrees) - 0.25f).status,
              JointSolver::eOutOfReach);
}

TEST(JointSolver, StaysWithinTheLimitsOfTheJointRecordsItWasHanded) {
    const struct {
        std::vector<std::pair<size_t, std::pair<float, float>>> narrowed;  // joint: lower and upper limit
        float witness[5];
        int status;
    } cases[] = {
        // Tilts held near home leave only the disc's turn to choose the view's azimuth.
        {{{1, {89, 91}}, {2, {89, 91}}}, {0, 130, 100, 0, 20}, JointSolver::eOutOfReach},
        // A disc that cannot turn past 60 degrees makes a turn of 110 only as one of -250.
        {{{1, {115, 125}}, {2, {95, 105}}, {4, {-300, 60}}}, {0, 120, 100, 0, -250}, JointSolver::eSolved},
        // L1 and L4 a fraction of a millimetre above their lower limits: the last steps may leave a limit.
        {{{0, {28.37f, 50}}, {3, {3.37f, 45}}}, {28.46, 94.41, 112.29, 3.7, 10.01}, JointSolver::eSolved}};
    for (const auto& c : cases) {
        SCOPED_TRACE(&c - cases);
        std::vector<Planning::NSJointParameter> records = *handed().JointParameters();
        for (const auto& [j, limit] : c.narrowed)
            std::tie(records[j].minPosition, records[j].maxPosition) = limit;
        const NSLook look = lookAt(Config(c.witness));
        const JointSolver solver(*handed().Camera(), records.data(), planningTrafo());
        const JointSolver::Result found = solver.Solve(look.direction, look.point, 0);
        EXPECT_EQ(found.status, c.status);
        for (const auto& [j, limit] : c.narrowed)
            EXPECT_TRUE(found.joints[j] >= limit.first && found.joints[j] <= limit.second) << j;
        if (c.status == JointSolver::eSolved) {
            EXPECT_THAT(lookAt(Config(found.joints)).point, Pointwise(FloatNear(0.01f), look.point));
        }
    }
}

// Points on a jaw model (image-area units) seen along rays, and one looked at from beneath the disc.
TEST(JointSolver, LetsTheJawsUserRayPassItsImageCheck) {
    ZoCAcquisitionSteeringOrbal2Jaw jaw(c_device, false, false, false);
    ZoCOrbal2AxisChain::CJointPositionSequence seq;
    for (const CyRay& ray : {CyRay({400, 200, -320}, {0, 0, 1}), CyRay({-600, 300, -400}, {0.5f, 0, 0.866f}),
                             CyRay({200, 200, -480}, {-0.4f, -0.4f, 0.8f})}) {
        SCOPED_TRACE(ray.origin.x);
        ASSERT_TRUE(jaw.GetSequenceForUserDefinedRay(ray, seq));
        ASSERT_EQ(seq.GetCount(), 1);
        EXPECT_EQ(seq[0].m_strName.str().substr(3), L"_UU_0");
        const NSView view = viewOf(seq[0].m_config, ray.origin * 0.025f);
        EXPECT_TRUE(inCentralHalf(view)) << view.u << "," << view.v;
        EXPECT_LT(angleDegrees(view.viewInDisc, ray.direction), 17.0 + JointSolver::c_dAngleAccuracy);
    }
    EXPECT_FALSE(jaw.GetSequenceForUserDefinedRay(CyRay({0, 0, -400}, {0, 0, -1}), seq));
}

// A target seen exactly along the direction from the witness configuration (near the region's edge; L2 at
// its limit): the solver finds an exact view with the target at least about as near the focus point.
TEST(JointSolver, FindsAnExactViewAtLeastAsCentredAsAKnownOne) {
    const JointSolver solver(c_device.m_axisChain, *handed().Camera(), planningTrafo());
    const struct {
        float direction[3], target[3], witness[5];
    } cases[] = {{{0.324702919f, 0.495575547f, -1.05567098f},
                  {20.9309158f, -7.38971519f, -7.91213799f},
                  {10.064703f, 132.736938f, 150, -11.608285f, 7.70149422f}},
                 {{0.550179064f, -1.04103589f, -0.136689901f},
                  {-6.90488815f, 16.0936928f, 47.4776917f},
                  {35.0554047f, 150, 71.822052f, 30.8247528f, 63.3339043f}}};
    for (const auto& c : cases) {
        SCOPED_TRACE(&c - cases);
        const CbVector3f wanted = CbVector3f(c.direction[0], c.direction[1], c.direction[2]).Normalized(),
                         disc = ZoCPlanningFrame::PlanningToDisc(
                             planningTrafo().Inverted(), CbVector3f(c.target[0], c.target[1], c.target[2]));
        // The target's distance from the focus point; infinity for a view off by over 0.006 degrees.
        auto offset = [&](const float joints[5]) {
            const NSView view = viewOf(Config(joints), disc);
            return (toPlanningDirection(view.viewInDisc).Normalized() - wanted).Length() < 1e-4f
                       ? view.fromFocus
                       : INFINITY;
        };
        const double known = offset(c.witness);
        const JointSolver::Result found = solver.Solve(c.direction, c.target, 0);
        EXPECT_EQ(found.status, JointSolver::eSolved);
        EXPECT_LT(offset(found.joints), std::min(known + 0.2, solver.GetRegionRadius()));
    }
}
