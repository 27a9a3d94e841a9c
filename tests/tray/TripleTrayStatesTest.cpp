// The stage machine of the double-arch tray scan: transitions, area types, acquire modes, the
// stages' fixed scans as joint values of the chain, and the planning set-up per stage.
#include "AcquisitionPlanningStore.h"
#include "ZoOrbal2.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <memory>

namespace {

using Steering = ZoCAcquisitionSteeringOrbal2TripleTray;
using State = ZoCAcquisitionSteeringOrbal2StateBase;

ECAIAcquireMode mode(int m) {
    return static_cast<ECAIAcquireMode>(m);
}

// The modes 0..23 a stage allows, as a bit mask.
unsigned allowedMask(const State& state) {
    unsigned mask = 0;
    for (int m = 0; m <= 23; ++m)
        mask |= state.IsAcquireModeAllowed(mode(m)) ? 1u << m : 0u;
    return mask;
}

unsigned bits(std::initializer_list<int> modes) {
    unsigned mask = 0;
    for (int m : modes)
        mask |= 1u << m;
    return mask;
}

AcquisitionPlanningStore& store(const Steering& s) {
    return dynamic_cast<AcquisitionPlanningStore&>(*s.GetAcquisitionPlanning());
}

}  // namespace

TEST(ZoCAcquisitionSteeringOrbal2StateContext, WalksTheStagesKeepingOnlyThePreviousOne) {
    ZoCAcquisitionSteeringOrbal2StateContext context;
    EXPECT_EQ(context.GetCurrentState()->GetAreaType(), -1);
    EXPECT_EQ(context.GetCurrentState()->GetContext(), &context);
    EXPECT_FALSE(context.GetPreviousState());
    std::weak_ptr<State> first = context.GetCurrentState();
    const int expectedModes[] = {5, 6, 7, 23, 23};
    for (int step = 0; step < 5; ++step) {
        SCOPED_TRACE(step);
        const auto before = context.GetCurrentState();
        EXPECT_EQ(before->GetAcquireMode(), expectedModes[step]);
        EXPECT_EQ(before->IsFirstState(), step == 0);
        EXPECT_EQ(before->IsEndState(), step >= 3);
        EXPECT_EQ(before->GetStartPosition() == nullptr, step >= 3);
        EXPECT_TRUE(before->EnableAutofocusForFixed());
        const auto next = before->Next();
        EXPECT_EQ(next, context.GetCurrentState());
        EXPECT_EQ(next == before, step >= 3);  // the end stays itself
        if (step < 3) {
            EXPECT_EQ(context.GetPreviousState(), before);
        }
        EXPECT_EQ(first.expired(), step >= 1);  // the stage before the previous is released
    }
}

TEST(ZoCAcquisitionSteeringOrbal2States, AllowedModesAndNextAreaTypesFollowTheStageTable) {
    EXPECT_EQ(allowedMask(ZoCAcquisitionSteeringOrbal2StateSide1()), bits({5, 19, 20, 21, 22}));
    EXPECT_EQ(allowedMask(ZoCAcquisitionSteeringOrbal2StateSide2()), bits({6, 19, 20, 21, 22}));
    EXPECT_EQ(allowedMask(ZoCAcquisitionSteeringOrbal2StateSideTurnAround()), bits({7, 19, 22}));
    EXPECT_EQ(allowedMask(ZoCAcquisitionSteeringOrbal2StateEnd()), bits({23}));
    ZoCAcquisitionSteeringOrbal2StateSide1 side;
    const int expected[][2] = {{-1, -1}, {0, 2}, {1, -1}, {2, 0}, {3, -1}};
    for (const auto& [area, next] : expected) {
        side.SetAreaType(area);
        EXPECT_EQ(side.GetNextAreaType(), next) << "area " << area;
    }
    EXPECT_EQ(ZoCAcquisitionSteeringOrbal2StateSide2().GetNextAreaType(), 1);
    EXPECT_EQ(ZoCAcquisitionSteeringOrbal2StateSideTurnAround().GetNextAreaType(), -1);
    EXPECT_EQ(ZoCAcquisitionSteeringOrbal2StateEnd().GetNextAreaType(), -1);
    EXPECT_TRUE(ZoCAcquisitionSteeringOrbal2StateEnd().GetMotorPositions().empty());
    EXPECT_EQ(&ZoCAcquisitionSteeringOrbal2StateSide1().GetMotorPositions(), &ZoCTripleTrayStageTables::Side1());
}

TEST(ZoCAcquisitionSteeringOrbal2TripleTray, LowerJawFirstThenUpperThenBiteThenEnd) {
    Steering steering(ZoCOrbal2DeviceConfig(), eAreaTypeLowerJaw);
    EXPECT_EQ(steering.GetAreaType(), eAreaTypeLowerJaw);
    EXPECT_EQ(steering.GetNextAreaType(), eAreaTypeUpperJaw);
    EXPECT_EQ(store(steering).AcquisitionType(), ZoCOrbal2AcquisitionPlanning::eTypeTripleTray);
    EXPECT_EQ(store(steering).ModeFlag(), true);
    EXPECT_EQ(steering.GetLowerThreshold(), 400.0f);  // negated for a tray
    const struct {
        EAreaType area;
        int acquireMode;
        bool allows20;
    } stages[] = {{eAreaTypeUpperJaw, 6, true}, {eAreaTypeBite, 7, false}, {eAreaTypeNone, 23, false},
                  {eAreaTypeNone, 23, false}};
    for (const auto& stage : stages) {
        const ZoCOrbal2AcquisitionPlanning* before = steering.GetAcquisitionPlanning();
        EXPECT_EQ(steering.SetNextState(), stage.area);
        EXPECT_NE(steering.GetAcquisitionPlanning(), before);  // every stage plans afresh
        EXPECT_EQ(store(steering).AcquisitionType(), ZoCOrbal2AcquisitionPlanning::eTypeTripleTray);
        EXPECT_EQ(steering.GetAreaType(), stage.area);
        EXPECT_EQ(steering.GetAcquireMode(), stage.acquireMode);
        EXPECT_EQ(steering.IsAcquireModeAllowed(mode(20)), stage.allows20);
    }
    EXPECT_EQ(steering.GetStartPositionForFixed(), nullptr);
    steering.setFirstState(eAreaTypeUpperJaw);
    EXPECT_EQ(steering.GetAcquireMode(), 5);
    EXPECT_EQ(steering.GetNextAreaType(), eAreaTypeLowerJaw);
    EXPECT_EQ(Steering(ZoCOrbal2DeviceConfig(), eAreaTypeBite).GetNextAreaType(), eAreaTypeNone);
}

// The stages' fixed scans, through the joint values of the plan and the chain's kinematics:
// the side views look at the jaw from spread places and angles, the turn-around turns the disc
// about half a round while it tilts up, and every view stays within the joint limits.
TEST(ZoCAcquisitionSteeringOrbal2TripleTray, FixedScansSpreadOverTheJawAndTheTurnAroundTurnsHalfARound) {
    const ZoCOrbal2DeviceConfig device;
    Steering steering(device, eAreaTypeUpperJaw);
    CCoordinate3<double> eye, view;
    device.m_camProjCalib.GetCamera().GetEyePt(eye);
    device.m_camProjCalib.GetCamera().GetViewDirection(view);
    ZoCOrbal2AxisChain::NSConfigurationRequest unused;
    for (const size_t views : {9u, 9u, 15u}) {
        ZoCOrbal2AxisChain::CJointPositionSequence seq;
        ASSERT_TRUE(steering.GetJointConfigurationForFixed(seq, 1));
        ASSERT_EQ(seq.GetCount(), static_cast<int64_t>(views));
        EXPECT_EQ(steering.CreateTripleTrayConfiguration(unused, 0).size(), views);
        EXPECT_EQ(seq[0].m_config, Steering::ConvertSimMotPosToJointConfig(steering.GetMotorPositionOfFirstImage()));
        std::vector<CbVector3f> aims;  // where the camera axis meets the disc plane, disc frame
        float minTilt = 90, maxTilt = 0;
        for (int64_t k = 0; k < seq.GetCount(); ++k) {
            for (int j = 0; j < 5; ++j) {
                float lo, hi;
                device.m_axisChain.GetMinMaxPosition(j, lo, hi);
                EXPECT_TRUE(seq[k].m_config[j] >= lo && seq[k].m_config[j] <= hi) << k << " L" << j + 1;
            }
            const CbMatrix4Rf toDisc = device.m_axisChain.GetCamToDiscTransformation(seq[k].m_config, false);
            const CbVector3f e = toDisc.TransformPoint(CbVector3f(eye.x, eye.y, eye.z));
            const CbVector3f v = toDisc.TransformDirection(CbVector3f(view.x, view.y, view.z));
            aims.push_back(e + v * (-e.z / v.z));
            const float tilt = std::acos(std::fabs(v.z)) * 57.29578f;
            minTilt = std::min(minTilt, tilt);
            maxTilt = std::max(maxTilt, tilt);
        }
        float spread = 0;
        for (const CbVector3f& a : aims)
            for (const CbVector3f& b : aims)
                spread = std::max(spread, (a - b).Length());
        EXPECT_GT(spread, 30.0f) << views;  // mm over the jaw, not one spot
        EXPECT_LT(spread, 80.0f) << views;
        EXPECT_GT(maxTilt - minTilt, views == 9 ? 30.0f : 15.0f) << views;  // degrees
        if (views == 15) {
            const float turn = seq[14].m_config[4] - seq[0].m_config[4];
            EXPECT_GT(turn, 160.0f);
            EXPECT_LT(turn, 200.0f);
            for (int64_t k = 1; k < 15; ++k) {
                EXPECT_GT(seq[k].m_config[2], seq[k - 1].m_config[2]) << k;  // L3 tilts up
                // L1 and L4 stand still; L2 follows in steps of 6 degrees after the eighth view.
                EXPECT_EQ(seq[k].m_config[0], seq[0].m_config[0]) << k;
                EXPECT_EQ(seq[k].m_config[3], seq[0].m_config[3]) << k;
                EXPECT_EQ(seq[k].m_config[1] - seq[0].m_config[1], k < 8 ? 0.0f : 6.0f * static_cast<float>(k - 7)) << k;
            }
        }
        steering.SetNextState();
    }
    EXPECT_TRUE(steering.CreateTripleTrayConfiguration(unused, 0).empty());
}

// Re-initialising the plan acts only for the two side stages: it looks from the stage's first
// position, hands the chain's unnarrowed limits and the reference joints to the planning.
TEST(ZoCAcquisitionSteeringOrbal2TripleTray, ReInitLooksFromTheFirstPositionOfASideOnly) {
    Steering steering(ZoCOrbal2DeviceConfig(), eAreaTypeUpperJaw);
    AcquisitionPlanningStore& planning = store(steering);
    steering.SetLimitsForJointParameters(10, 10);  // narrowed tilt limits, which re-init lifts
    for (const int m : {7, 19, 4, 5, 6}) {
        SCOPED_TRACE(m);
        const int updates = planning.UpdateCalls(), limits = planning.JointParameterCalls();
        steering.ReInitScanPlan(mode(m));
        const bool acts = m == 5 || m == 6;
        EXPECT_EQ(planning.UpdateCalls(), updates + (acts ? 1 : 0));
        EXPECT_EQ(planning.JointParameterCalls(), limits + (acts ? 1 : 0));
        EXPECT_EQ(planning.ReferenceConfiguration().has_value(), acts);
    }
    const auto c = Steering::ConvertSimMotPosToJointConfig(steering.GetMotorPositionOfFirstImage());
    for (int j = 0; j < 5; ++j) {
        EXPECT_EQ((*planning.ReferenceConfiguration())[j], c[j]);
        float lo, hi;
        steering.GetAxisChain().GetMinMaxPosition(j, lo, hi);
        EXPECT_EQ((*planning.JointParameters())[static_cast<size_t>(j)].minPosition, lo) << j;
    }
    // The planning transformation: camera-to-disc with row 2 and column 1 negated, inverted.
    CbMatrix4Rf t = steering.GetAxisChain().GetCamToDiscTransformation(c, false);
    t.NegateRow(2);
    t.NegateColumn(1);
    const CbMatrix4Rf product = *planning.PlanningTransformation() * t;
    for (int r = 0; r < 4; ++r)
        for (int k = 0; k < 4; ++k)
            EXPECT_NEAR(product(r, k), r == k ? 1.0f : 0.0f, 1e-4f) << r << "," << k;
    EXPECT_EQ(planning.ModeFlag(), true);
}

TEST(ZoCAcquisitionSteeringOrbal2TripleTray, CheckAndDivideSequenceNeverDivides) {
    Steering steering(ZoCOrbal2DeviceConfig(), eAreaTypeUpperJaw);
    ZoCOrbal2AxisChain::CJointPositionSequence in, first, second;
    ZoCOrbal2AxisChain::NSConfigurationRequest req;
    second.Add(req);
    bool a = true, b = false;
    EXPECT_FALSE(steering.CheckAndDivideSequence(in, first, second, a, b));
    EXPECT_EQ(second.GetCount(), 1);  // untouched
    EXPECT_TRUE(a);
    in.Add(req);
    in.Add(req);
    EXPECT_FALSE(steering.CheckAndDivideSequence(in, first, second, a, b));
    EXPECT_EQ(std::pair(first.GetCount(), second.GetCount()), std::pair(int64_t{2}, int64_t{0}));
    EXPECT_EQ(std::pair(a, b), std::pair(false, true));
    EXPECT_FALSE(steering.CheckIfCollisionsAreLikely(in));
}
