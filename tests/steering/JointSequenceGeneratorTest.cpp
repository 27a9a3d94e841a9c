// Joint sequence generators: travel times, the cone positions and the least-travel order.
#include "SteeringTestSupport.h"

#include <algorithm>
#include <numeric>

TEST(ZoCJointSequenceGenerator, TravelTimesFollowTheTablesAndTheirEnds) {
    // Joint (1-based), distance, time. The disc goes the short way modulo full turns (400 ends
    // where 40 does, 920 where 160 does); beyond its table a joint's time grows in proportion
    // (L1 at twice its last distance takes twice its time); joints 0 and 6 do not exist.
    struct Case { int joint; float distance, time; };
    for (const Case c : {Case{2, 15, 0.62f}, Case{5, 200, 1.23f}, Case{5, 160, 1.23f}, Case{5, 400, 0.44f},
                         Case{5, 920, 1.23f}, Case{1, 1, 0.13f}, Case{4, 84, 10.28f}, Case{1, 84, 2.86f},
                         Case{1, 6, 0.41f}, Case{3, 110, 1.40f}, Case{3, 220, 2.80f}, Case{2, 5, 0.245f},
                         Case{5, 10, 0.16f}, Case{0, 10, 0}, Case{6, 10, 0}})
        EXPECT_FLOAT_EQ(ZoCJointSequenceGenerator::TravelTime(c.joint, c.distance), c.time) << c.joint << " " << c.distance;
}

TEST(ZoCJawScanJointSequenceGenerator, StepTimeIsTheSlowestJointsTime) {
    ZoCOrbal2AxisChain::NCJointConfiguration from, to;
    from.Set(0, 90, 90, 0, 0);
    to.Set(10, 90, 90, 0, 20);  // L1 10 mm: 0.52 s; the disc 20 degrees: 0.32 s
    EXPECT_FLOAT_EQ(ZoCJawScanJointSequenceGenerator::StepTime(from, to), 0.52f);
    to[0] = 0;
    EXPECT_FLOAT_EQ(ZoCJawScanJointSequenceGenerator::StepTime(from, to), 0.32f);
}

TEST(ZoCJointSequenceGenerator, TravelTimeRisesWithDistanceForEveryJoint) {
    for (int joint = 1; joint <= 5; ++joint) {
        const float end = joint == 5 ? 180.0f : 150.0f;
        float previous = -1;
        for (float d = 0; d <= end; d += 0.25f) {
            const float t = ZoCJointSequenceGenerator::TravelTime(joint, d);
            EXPECT_GE(t, previous) << "joint " << joint << " distance " << d;
            previous = t;
        }
    }
}

TEST(ZoCRotScanJointSequenceGenerator, ConeAtSixtyDegreesReproducesTheTableAndSteeperTiltsAreCapped) {
    ZoCRotScanJointSequenceGenerator generator(60);
    const float table[8][2] = {{150, 90}, {135, 135}, {90, 150}, {45, 135}, {30, 90}, {45, 45}, {90, 30}, {135, 45}};
    // The generator starts with the table; filling the cone at 60 degrees gives it again.
    for (bool filled : {false, true}) {
        if (filled) {
            generator.FillComponent(1);
            generator.FillComponent(2);
        }
        for (int i = 0; i < 8; ++i) {
            float l2, l3;
            generator.GetPosition(i, l2, l3);
            EXPECT_NEAR(l2, table[i][0], 1e-3) << i << " " << filled;
            EXPECT_NEAR(l3, table[i][1], 1e-3) << i << " " << filled;
        }
    }
    float l2 = 5, l3 = 5;
    generator.GetPosition(8, l2, l3);
    EXPECT_EQ(l2, 0);
    generator.GetPosition(-1, l2, l3);
    EXPECT_EQ(l3, 0);
    // A tilt above sixty degrees is capped.
    ZoCRotScanJointSequenceGenerator steep(80);
    steep.FillComponent(1);
    EXPECT_NEAR(steep.GetTilt(), 1.0471976f, 1e-7);
    steep.GetPosition(0, l2, l3);
    EXPECT_NEAR(l2, 150, 1e-3);
}

TEST(ZoCJointSequenceGenerator, FillingAComponentTurnsItIntoDegreesForEveryPosition) {
    ZoCJointSequenceGenerator generator(10, 60);
    const float radians[5] = {0, 0.5f, 0.25f, 0, 0};
    generator.SetPositionValues(8, radians);
    generator.SetPositionValues(9, radians);
    generator.FillComponent(1);
    // The cone has eight positions; the ninth and tenth keep their value, now in degrees.
    for (int i : {8, 9}) {
        float l2, l3;
        generator.GetPosition(i, l2, l3);
        EXPECT_NEAR(l2, 0.5 * 180 / M_PI, 1e-4) << i;
        EXPECT_EQ(l3, 0.25f) << i;  // the other component stays as it was
    }
}

namespace {
// Travel of one component along an order, computed independently of the generator.
float travel(const ZoCJointSequenceGenerator& g, const std::vector<int>& order, int component) {
    float sum = 0;
    for (size_t i = 1; i < order.size(); ++i)
        sum += std::fabs(g.GetPositionValues(order[i])[component] - g.GetPositionValues(order[i - 1])[component]);
    return sum;
}
}  // namespace

TEST(ZoCRotScanJointSequenceGenerator, OptimisedOrderIsNoLongerThanAnyOther) {
    for (float weight : {0.0f, 0.6666667f, 1.0f}) {
        SCOPED_TRACE(weight);
        ZoCRotScanJointSequenceGenerator generator(45);
        ZoCRotScanJointSequenceGenerator reference(45);
        reference.FillComponent(1);
        reference.FillComponent(2);
        ASSERT_TRUE(generator.Optimize(weight));
        int best[8];
        generator.GetBestOrder(best);
        std::vector<int> order(8);
        std::iota(order.begin(), order.end(), 0);
        auto cost = [&](const std::vector<int>& o) {
            return weight * travel(reference, o, 1) + (1 - weight) * travel(reference, o, 2);
        };
        const float bestCost = cost(std::vector<int>(best, best + 8));
        do {
            ASSERT_GE(cost(order) + 1e-3f, bestCost);
        } while (std::next_permutation(order.begin(), order.end()));
        // The positions were rearranged into the best order.
        for (int i = 0; i < 8; ++i)
            EXPECT_EQ(generator.GetPositionValues(i)[1], reference.GetPositionValues(best[i])[1]);
    }
}

TEST(ZoCRotScanJointSequenceGenerator, WeightOneUsesOnlyL2TravelAndWeightZeroOnlyL3) {
    // Either component's values 30, 45, 45, 90, 90, 135, 135, 150 can be visited monotonically:
    // 120 degrees of travel.
    for (int component : {1, 2}) {
        ZoCRotScanJointSequenceGenerator generator(60), reference(60);
        ASSERT_TRUE(generator.Optimize(component == 1 ? 1.0f : 0.0f));
        int best[8];
        generator.GetBestOrder(best);
        reference.FillComponent(component);
        EXPECT_NEAR(travel(reference, std::vector<int>(best, best + 8), component), 120.0f, 1e-3) << component;
        // The first least-travel order in lexicographic order starts at the highest value
        // (position 0 for L2, position 2 for L3), not at the lowest.
        EXPECT_EQ(best[0], component == 1 ? 0 : 2);
    }
}

TEST(ZoCJointSequenceGenerator, CoincidingPositionsFindNoOrder) {
    ZoCJointSequenceGenerator generator(4, 0.0f);  // a zero tilt puts every cone position at 90, 90
    EXPECT_FALSE(generator.Optimize(0.5f));
    ZoCJointSequenceGenerator single(1, 60.0f);  // one position has no travel to shorten
    EXPECT_FALSE(single.Optimize(0.5f));
    int best[4];
    generator.GetBestOrder(best);
    EXPECT_EQ(std::vector<int>(best, best + 4), (std::vector<int>{0, 1, 2, 3}));
}

TEST(ZoCJointSequenceGenerator, StepTimeTakesTheDiscTheShortWay) {
    ZoCJointSequenceGenerator generator(2, 60.0f);
    const float a[5] = {0, 90, 90, 0, 350}, b[5] = {0, 90, 90, 0, -340};
    generator.SetPositionValues(0, a);
    generator.SetPositionValues(1, b);
    const int order[2] = {0, 1};
    ZoCOrbal2AxisChain::NSConfigurationRequest start;
    start.m_config[4] = 10;
    // 350 -> -340 (= 20): 30 degrees; from the start at 10 to 350: 20 degrees.
    EXPECT_DOUBLE_EQ(generator.StepTime(order, 1, 4, start), ZoCJointSequenceGenerator::TravelTime(5, 30));
    EXPECT_DOUBLE_EQ(generator.StepTime(order, 0, 4, start), ZoCJointSequenceGenerator::TravelTime(5, 20));
    EXPECT_DOUBLE_EQ(generator.StepTime(order, -1, 4, start), 0.0);
}
