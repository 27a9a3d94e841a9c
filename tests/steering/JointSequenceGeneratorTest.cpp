// Joint sequence generators: travel times, the cone positions and the least-travel order.
#include "SteeringTestSupport.h"

#include <numeric>
#include <random>

namespace {
// Travel of one component along an order, computed independently of the generator.
float travel(const ZoCJointSequenceGenerator& g, const std::vector<int>& order, int component) {
    float sum = 0;
    for (size_t i = 1; i < order.size(); ++i)
        sum += std::fabs(g.GetPositionValues(order[i])[component] -
                         g.GetPositionValues(order[i - 1])[component]);
    return sum;
}
}  // namespace

TEST(ZoCJointSequenceGenerator, TravelTimesFollowTheTablesAndTheirEndsAndRiseWithDistance) {
    // Joint (1-based), distance, time: the disc the short way modulo full turns, beyond a table in
    // proportion (L1: 84 takes twice 42's time); joints 0 and 6 do not exist.
    struct Case {
        int joint;
        float distance, time;
    };
    for (const Case c : {Case{2, 15, 0.62f}, Case{5, 200, 1.23f}, Case{5, 160, 1.23f}, Case{5, 400, 0.44f},
                         Case{5, 920, 1.23f}, Case{1, 1, 0.13f}, Case{4, 84, 10.28f}, Case{1, 84, 2.86f},
                         Case{1, 6, 0.41f}, Case{3, 110, 1.40f}, Case{3, 220, 2.80f}, Case{2, 5, 0.245f},
                         Case{5, 10, 0.16f}, Case{0, 10, 0}, Case{6, 10, 0}})
        EXPECT_FLOAT_EQ(ZoCJointSequenceGenerator::TravelTime(c.joint, c.distance), c.time)
            << c.joint << " " << c.distance;
    for (int joint = 1; joint <= 5; ++joint)
        for (float d = 0.25f; d <= (joint == 5 ? 180.0f : 150.0f); d += 0.25f)
            ASSERT_GE(ZoCJointSequenceGenerator::TravelTime(joint, d),
                      ZoCJointSequenceGenerator::TravelTime(joint, d - 0.25f))
                << joint << " " << d;
}

TEST(ZoCJointSequenceGenerator, StepTimeIsTheSlowestJointsTimeWithTheDiscTheShortWay) {
    Joints from = homeAt(0), to = homeAt(20);
    to[0] = 10;  // L1 10 mm: 0.52 s; the disc 20 degrees: 0.32 s
    EXPECT_FLOAT_EQ(ZoCJawScanJointSequenceGenerator::StepTime(from, to), 0.52f);
    to[0] = 0;
    EXPECT_FLOAT_EQ(ZoCJawScanJointSequenceGenerator::StepTime(from, to), 0.32f);
    ZoCJointSequenceGenerator generator(2, 60.0f);
    const float a[5] = {0, 90, 90, 0, 350}, b[5] = {0, 90, 90, 0, -340};
    generator.SetPositionValues(0, a);
    generator.SetPositionValues(1, b);
    const int order[2] = {0, 1};
    Request start;
    start.m_config[4] = 10;
    // 350 -> -340 (= 20): 30 degrees; from the start at 10 to 350: 20 degrees.
    EXPECT_DOUBLE_EQ(generator.StepTime(order, 1, 4, start), ZoCJointSequenceGenerator::TravelTime(5, 30));
    EXPECT_DOUBLE_EQ(generator.StepTime(order, 0, 4, start), ZoCJointSequenceGenerator::TravelTime(5, 20));
    EXPECT_DOUBLE_EQ(generator.StepTime(order, -1, 4, start), 0.0);
}

TEST(ZoCRotScanJointSequenceGenerator, ConeAtSixtyDegreesReproducesTheTableAndSteeperTiltsAreCapped) {
    ZoCRotScanJointSequenceGenerator generator(60), steep(80);
    auto positions = [](const ZoCJointSequenceGenerator& g, std::vector<int> indices) {
        std::vector<float> out;  // L2, L3 of each position to a thousandth
        for (int i : indices) {
            float l2 = 5, l3 = 5;
            g.GetPosition(i, l2, l3);
            out.insert(out.end(), {std::round(l2 * 1000) / 1000, std::round(l3 * 1000) / 1000});
        }
        return out;
    };
    const std::vector<float> table = {150, 90, 135, 135, 90,  150, 45, 135, 30, 90,
                                      45,  45, 90,  30,  135, 45,  0,  0,   0,  0};
    EXPECT_EQ(positions(generator, {0, 1, 2, 3, 4, 5, 6, 7, 8, -1}),
              table);  // the generator starts with the table
    generator.FillComponent(1);
    generator.FillComponent(2);
    EXPECT_EQ(positions(generator, {0, 1, 2, 3, 4, 5, 6, 7, 8, -1}),
              table);  // the cone at 60 degrees gives it again
    steep.FillComponent(1);
    EXPECT_NEAR(steep.GetTilt(), 1.0471976f, 1e-7);
    EXPECT_EQ(positions(steep, {0})[0], 150);
}

TEST(ZoCJointSequenceGenerator, FillingAComponentTurnsItIntoDegreesForEveryPosition) {
    ZoCJointSequenceGenerator generator(10, 60);
    const float radians[5] = {0, 0.5f, 0.25f, 0, 0};
    generator.SetPositionValues(8, radians);
    generator.SetPositionValues(9, radians);
    generator.FillComponent(1);
    // Beyond the cone's eight positions the value stays, now in degrees; L3 stays as it was.
    for (int i : {8, 9}) {
        const float* v = generator.GetPositionValues(i);
        EXPECT_THAT(std::vector<float>(v + 1, v + 3), near({0.5f * 180 / 3.14159265f, 0.25f}, 1e-4)) << i;
    }
}

TEST(ZoCRotScanJointSequenceGenerator, OptimisedOrderIsNoLongerThanAnyOtherAndUsesOnlyTheWeightedTravel) {
    // At 60 degrees a component alone starts at its highest value (L2: 0, L3: 2), the first such order.
    for (const auto& [tilt, weight] :
         {std::pair{45.0f, 0.0f}, {45.0f, 0.6666667f}, {45.0f, 1.0f}, {60.0f, 0.0f}, {60.0f, 1.0f}}) {
        SCOPED_TRACE(testing::Message() << tilt << " " << weight);
        ZoCRotScanJointSequenceGenerator generator(tilt), reference(tilt);
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
        for (int i = 0; i < 8; ++i)  // the positions were rearranged into the best order
            EXPECT_EQ(generator.GetPositionValues(i)[1], reference.GetPositionValues(best[i])[1]);
        if (tilt == 60) {
            EXPECT_EQ(best[0], weight == 1 ? 0 : 2);
        }
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

TEST(ZoCJawScanJointSequenceGenerator, PrunedSearchFindsTheExhaustiveSearchsOrderAndAnEmptyTableNone) {
    std::mt19937_64 rng(5489);
    std::uniform_real_distribution<float> l1(-30, 30), tilt(40, 140), l4(-20, 20), disc(-180, 360);
    std::uniform_int_distribution<int> coarse(0, 3);  // coarse values make ties between orders common
    for (int trial = 0; trial < 300; ++trial) {
        const int n = 1 + trial % 8;
        const bool tie = trial % 3 == 0;
        ZoCJawScanJointSequenceGenerator generator(n, 60);
        for (int i = 0; i < n; ++i) {
            const float values[5] = {tie ? 10.0f * coarse(rng) : l1(rng), tie ? 90.0f : tilt(rng),
                                     tie ? 30.0f * coarse(rng) : tilt(rng), tie ? 0.0f : l4(rng),
                                     tie ? 90.0f * coarse(rng) : disc(rng)};
            generator.SetPositionValues(i, values);
        }
        Joints start;
        start.Set(l1(rng), 90, 90, 0, disc(rng));
        std::vector<int> pruned, exhaustive;
        ASSERT_TRUE(generator.FindLeastTimeOrder(start, pruned));
        ASSERT_TRUE(generator.FindLeastTimeOrderExhaustive(start, exhaustive));
        EXPECT_EQ(pruned, exhaustive) << trial;
    }
    ZoCJawScanJointSequenceGenerator empty(0, 60);
    std::vector<int> order;
    EXPECT_FALSE(empty.FindLeastTimeOrder(Joints(), order));
    EXPECT_FALSE(empty.FindLeastTimeOrderExhaustive(Joints(), order));
}
