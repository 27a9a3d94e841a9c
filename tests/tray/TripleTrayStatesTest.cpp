// The stage machine of the double-arch tray scan: transitions, area types, acquire modes and
// the fixed motor tables, on the states alone and through the steering.
#include "AcquisitionPlanningStore.h"
#include "ZoOrbal2.h"

#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <string>

namespace {

using Steering = ZoCAcquisitionSteeringOrbal2TripleTray;

ECAIAcquireMode mode(int m) {
    return static_cast<ECAIAcquireMode>(m);
}

// The modes 0..23 a stage allows, as a bit mask.
unsigned allowedMask(const ZoCAcquisitionSteeringOrbal2StateBase& state) {
    unsigned mask = 0;
    for (int m = 0; m <= 23; ++m)
        if (state.IsAcquireModeAllowed(mode(m)))
            mask |= 1u << m;
    return mask;
}

unsigned bits(std::initializer_list<int> modes) {
    unsigned mask = 0;
    for (int m : modes)
        mask |= 1u << m;
    return mask;
}

TEST(ZoCAcquisitionSteeringOrbal2StateContext, StartsInFirstSideWithoutAreaTypeAndWithoutPrevious) {
    ZoCAcquisitionSteeringOrbal2StateContext context;
    ASSERT_TRUE(context.GetCurrentState());
    EXPECT_TRUE(context.GetCurrentState()->IsFirstState());
    EXPECT_EQ(context.GetCurrentState()->GetAreaType(), -1);
    EXPECT_EQ(context.GetCurrentState()->GetContext(), &context);
    EXPECT_FALSE(context.GetPreviousState());
}

TEST(ZoCAcquisitionSteeringOrbal2StateContext, WalksSide1Side2TurnAroundEndAndStaysAtEnd) {
    ZoCAcquisitionSteeringOrbal2StateContext context;
    const int expectedModes[] = {5, 6, 7, 23, 23};
    for (int step = 0; step < 5; ++step) {
        SCOPED_TRACE(step);
        EXPECT_EQ(context.GetCurrentState()->GetAcquireMode(), expectedModes[step]);
        EXPECT_EQ(context.GetCurrentState()->IsFirstState(), step == 0);
        EXPECT_EQ(context.GetCurrentState()->IsEndState(), step >= 3);
        const auto before = context.GetCurrentState();
        const auto next = before->Next();
        EXPECT_EQ(next, context.GetCurrentState());
        // A transition keeps the old stage as the previous one; the end stays itself.
        if (step < 3) {
            EXPECT_EQ(context.GetPreviousState(), before);
            EXPECT_NE(next, before);
        } else {
            EXPECT_EQ(next, before);
        }
    }
}

TEST(ZoCAcquisitionSteeringOrbal2StateContext, ReleasesTheStageBeforeThePrevious) {
    ZoCAcquisitionSteeringOrbal2StateContext context;
    std::weak_ptr<ZoCAcquisitionSteeringOrbal2StateBase> first = context.GetCurrentState();
    context.GetCurrentState()->Next();
    EXPECT_FALSE(first.expired());
    context.GetCurrentState()->Next();
    EXPECT_TRUE(first.expired());
}

TEST(ZoCAcquisitionSteeringOrbal2States, AllowedModesFollowTheStageTable) {
    EXPECT_EQ(allowedMask(ZoCAcquisitionSteeringOrbal2StateSide1()), bits({5, 19, 20, 21, 22}));
    EXPECT_EQ(allowedMask(ZoCAcquisitionSteeringOrbal2StateSide2()), bits({6, 19, 20, 21, 22}));
    EXPECT_EQ(allowedMask(ZoCAcquisitionSteeringOrbal2StateSideTurnAround()), bits({7, 19, 22}));
    EXPECT_EQ(allowedMask(ZoCAcquisitionSteeringOrbal2StateEnd()), bits({23}));
}

TEST(ZoCAcquisitionSteeringOrbal2States, NextAreaTypeOfFirstSideIsTheOtherJaw) {
    ZoCAcquisitionSteeringOrbal2StateSide1 side;
    const int expected[][2] = {{-1, -1}, {0, 2}, {1, -1}, {2, 0}, {3, -1}};
    for (const auto& [area, next] : expected) {
        side.SetAreaType(area);
        EXPECT_EQ(side.GetNextAreaType(), next) << "area " << area;
    }
    EXPECT_EQ(ZoCAcquisitionSteeringOrbal2StateSide2().GetNextAreaType(), 1);
    EXPECT_EQ(ZoCAcquisitionSteeringOrbal2StateSideTurnAround().GetNextAreaType(), -1);
    EXPECT_EQ(ZoCAcquisitionSteeringOrbal2StateEnd().GetNextAreaType(), -1);
}

TEST(ZoCAcquisitionSteeringOrbal2States, AutofocusEverywhereAndNoStartOrPositionsAtEnd) {
    ZoCAcquisitionSteeringOrbal2StateEnd end;
    EXPECT_TRUE(end.EnableAutofocusForFixed());
    EXPECT_TRUE(ZoCAcquisitionSteeringOrbal2StateSide1().EnableAutofocusForFixed());
    EXPECT_EQ(end.GetStartPosition(), nullptr);
    EXPECT_TRUE(end.GetMotorPositions().empty());
    ASSERT_NE(ZoCAcquisitionSteeringOrbal2StateSide2().GetStartPosition(), nullptr);
}

void expectPosition(const SimulatorMotorPosition& p, std::initializer_list<float> values) {
    int i = 0;
    for (float v : values)
        EXPECT_EQ(p.m_afValues[i++], v) << "value " << i - 1;
}

TEST(ZoCTripleTrayStageTables, SidesHoldNinePositionsWithTheirStarts) {
    ASSERT_EQ(ZoCTripleTrayStageTables::Side1().size(), 9u);
    ASSERT_EQ(ZoCTripleTrayStageTables::Side2().size(), 9u);
    expectPosition(ZoCTripleTrayStageTables::Side1Start(), {0, 30, 50, -20, 248});
    expectPosition(ZoCTripleTrayStageTables::Side1()[0], {-30, 20, 60, -17, 221});
    expectPosition(ZoCTripleTrayStageTables::Side1()[8], {-30, -40, 80, -24, 150});
    expectPosition(ZoCTripleTrayStageTables::Side2Start(), {0, -20, 50, -15, 8});
    expectPosition(ZoCTripleTrayStageTables::Side2()[1], {-30, -20, 60, -15, -2});
    expectPosition(ZoCTripleTrayStageTables::Side2()[8], {25, 10, -40, 5, 218});
}

TEST(ZoCTripleTrayStageTables, TurnAroundTiltsUpWhileTheDiscTurnsHalfARound) {
    const auto& list = ZoCTripleTrayStageTables::SideTurnAround();
    ASSERT_EQ(list.size(), 15u);
    expectPosition(ZoCTripleTrayStageTables::SideTurnAroundStart(), {0, -30, 60, -5, 8});
    expectPosition(list[0], {0, -30, 60, 4, 8});
    expectPosition(list[7], {0, -30, 90, 4, 101});
    expectPosition(list[8], {0, -24, 92, 4, 114});
    expectPosition(list[14], {0, 12, 105, 4, 194});
    for (size_t i = 1; i < list.size(); ++i) {
        // The disc turns by 13 or 14 each time; the third motor only rises.
        const float turn = list[i].m_afValues[4] - list[i - 1].m_afValues[4];
        EXPECT_TRUE(turn == 13 || turn == 14) << i;
        EXPECT_GT(list[i].m_afValues[2], list[i - 1].m_afValues[2]) << i;
    }
}

TEST(ZoCTripleTrayStageTables, ListsAreBuiltOncePerProcess) {
    EXPECT_EQ(&ZoCTripleTrayStageTables::Side1(), &ZoCTripleTrayStageTables::Side1());
    EXPECT_EQ(&ZoCAcquisitionSteeringOrbal2StateSide1().GetMotorPositions(),
              &ZoCTripleTrayStageTables::Side1());
}

// ---------------------------------------------------------------------------------------------
// Through the steering

AcquisitionPlanningStore& store(const Steering& s) {
    return dynamic_cast<AcquisitionPlanningStore&>(*s.GetAcquisitionPlanning());
}

TEST(ZoCAcquisitionSteeringOrbal2TripleTray, LowerJawFirstThenUpperThenBiteThenEnd) {
    Steering steering(ZoCOrbal2DeviceConfig(), eAreaTypeLowerJaw);
    EXPECT_EQ(steering.GetAreaType(), eAreaTypeLowerJaw);
    EXPECT_EQ(steering.GetNextAreaType(), eAreaTypeUpperJaw);
    EXPECT_EQ(steering.GetAcquireMode(), 5);

    EXPECT_EQ(steering.SetNextState(), eAreaTypeUpperJaw);
    EXPECT_EQ(steering.GetAreaType(), eAreaTypeUpperJaw);
    EXPECT_EQ(steering.GetAcquireMode(), 6);
    EXPECT_TRUE(steering.IsAcquireModeAllowed(mode(20)));

    EXPECT_EQ(steering.SetNextState(), eAreaTypeBite);
    EXPECT_EQ(steering.GetAcquireMode(), 7);
    EXPECT_FALSE(steering.IsAcquireModeAllowed(mode(20)));

    EXPECT_EQ(steering.SetNextState(), eAreaTypeNone);
    EXPECT_EQ(steering.GetAcquireMode(), 23);
    EXPECT_EQ(steering.SetNextState(), eAreaTypeNone);
    EXPECT_TRUE(steering.GetStateContext().GetCurrentState()->IsEndState());
    EXPECT_EQ(steering.GetStartPositionForFixed(), nullptr);

    steering.setFirstState(eAreaTypeUpperJaw);
    EXPECT_EQ(steering.GetAcquireMode(), 5);
    EXPECT_EQ(steering.GetNextAreaType(), eAreaTypeLowerJaw);
}

TEST(ZoCAcquisitionSteeringOrbal2TripleTray, BiteAsFirstSideHasNoNextArea) {
    Steering steering(ZoCOrbal2DeviceConfig(), eAreaTypeBite);
    EXPECT_EQ(steering.GetNextAreaType(), eAreaTypeNone);
}

TEST(ZoCAcquisitionSteeringOrbal2TripleTray, ConstructionSetsTrayTypeWideFramesAndSkipLimit) {
    Steering steering(ZoCOrbal2DeviceConfig(), eAreaTypeUpperJaw);
    EXPECT_EQ(store(steering).AcquisitionType(), ZoCOrbal2AcquisitionPlanning::eTypeTripleTray);
    EXPECT_EQ(store(steering).ModeFlag(), true);
    EXPECT_EQ(steering.GetLowerThreshold(), 400.0f);  // negated for a tray
}

TEST(ZoCAcquisitionSteeringOrbal2TripleTray, EveryNextStateRenewsThePlanning) {
    Steering steering(ZoCOrbal2DeviceConfig(), eAreaTypeUpperJaw);
    const ZoCOrbal2AcquisitionPlanning* before = steering.GetAcquisitionPlanning();
    steering.SetNextState();
    EXPECT_NE(steering.GetAcquisitionPlanning(), before);
    EXPECT_EQ(store(steering).AcquisitionType(), ZoCOrbal2AcquisitionPlanning::eTypeTripleTray);
}

TEST(ZoCAcquisitionSteeringOrbal2TripleTray, TrayConfigurationHasOneRequestPerFixedPosition) {
    Steering steering(ZoCOrbal2DeviceConfig(), eAreaTypeUpperJaw);
    ZoCOrbal2AxisChain::NSConfigurationRequest unused;
    const auto side1 = steering.CreateTripleTrayConfiguration(unused, 0);
    ASSERT_EQ(side1.size(), 9u);
    // Motor increments per joint unit 200, 100, 100, 200, 50 added to the home (0, 90, 90, 0, 0).
    const float expected[5] = {-30.0f / 200, 90 + 20.0f / 100, 90 + 60.0f / 100, -17.0f / 200, 221.0f / 50};
    for (int j = 0; j < 5; ++j)
        EXPECT_FLOAT_EQ(side1[0].m_config[j], expected[j]) << j;
    EXPECT_EQ(side1[0].m_config,
              Steering::ConvertSimMotPosToJointConfig(steering.GetMotorPositionOfFirstImage()));
    steering.SetNextState();
    steering.SetNextState();
    EXPECT_EQ(steering.CreateTripleTrayConfiguration(unused, 0).size(), 15u);
    steering.SetNextState();
    EXPECT_TRUE(steering.CreateTripleTrayConfiguration(unused, 0).empty());
}

TEST(ZoCAcquisitionSteeringOrbal2TripleTray, ReInitLooksFromTheFirstPositionOfASideOnly) {
    Steering steering(ZoCOrbal2DeviceConfig(), eAreaTypeUpperJaw);
    AcquisitionPlanningStore& planning = store(steering);
    const int updates = planning.UpdateCalls();
    steering.ReInitScanPlan(mode(7));
    steering.ReInitScanPlan(mode(19));
    EXPECT_EQ(planning.UpdateCalls(), updates);
    EXPECT_FALSE(planning.ReferenceConfiguration().has_value());

    steering.ReInitScanPlan(mode(5));
    EXPECT_EQ(planning.UpdateCalls(), updates + 1);
    const auto c = Steering::ConvertSimMotPosToJointConfig(ZoCTripleTrayStageTables::Side1()[0]);
    ASSERT_TRUE(planning.ReferenceConfiguration().has_value());
    for (int j = 0; j < 5; ++j)
        EXPECT_EQ((*planning.ReferenceConfiguration())[j], c[j]);
    // The planning transformation: camera-to-disc with row 2 and column 1 negated, inverted.
    CbMatrix4Rf t = steering.GetAxisChain().GetCamToDiscTransformation(c, false);
    t.NegateRow(2);
    t.NegateColumn(1);
    const CbMatrix4Rf product = *planning.PlanningTransformation() * t;
    for (int r = 0; r < 4; ++r)
        for (int k = 0; k < 4; ++k)
            EXPECT_NEAR(product(r, k), r == k ? 1.0f : 0.0f, 1e-4f) << r << "," << k;
    EXPECT_EQ(planning.ModeFlag(), true);
    EXPECT_EQ(planning.JointParameters()->size(), 5u);
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
    EXPECT_EQ(first.GetCount(), 2);
    EXPECT_EQ(second.GetCount(), 0);
    EXPECT_FALSE(a);
    EXPECT_TRUE(b);
    EXPECT_FALSE(steering.CheckIfCollisionsAreLikely(in));
}

}  // namespace
