// Joint sequence generators: travel times, the cone positions and the least-travel order.
#include "SteeringTestSupport.h"

#include <numeric>
#include <random>

using Generator = ZoCJointSequenceGenerator;

TEST(ZoCJointSequenceGenerator, TravelTimesFollowTheTablesAStepTakesItsSlowestJointsTime) {
    // Joint (1-based), distance, time: the disc the short way modulo full turns, beyond a table in
    // proportion (L1: 84 takes twice 42's time); joints 0 and 6 do not exist.
    using Row = std::tuple<int, float, float>;
    for (const auto& [joint, distance, time] :
         {Row{2, 15, 0.62f}, Row{5, 200, 1.23f}, Row{5, 400, 0.44f}, Row{5, 920, 1.23f}, Row{1, 1, 0.13f},
          Row{4, 84, 10.28f}, Row{1, 84, 2.86f}, Row{1, 6, 0.41f}, Row{3, 110, 1.40f}, Row{3, 220, 2.80f},
          Row{2, 5, 0.245f}, Row{5, 10, 0.16f}, Row{0, 10, 0}, Row{6, 10, 0}})
        EXPECT_FLOAT_EQ(Generator::TravelTime(joint, distance), time) << joint << " " << distance;
    for (int joint = 1; joint <= 5; ++joint)
        for (float d = 0.25f; d <= (joint == 5 ? 180.0f : 150.0f); d += 0.25f)
            ASSERT_GE(Generator::TravelTime(joint, d), Generator::TravelTime(joint, d - 0.25f)) << joint << d;
    // A step takes its slowest joint's time: L1 10 mm: 0.52 s; the disc 20 degrees: 0.32 s.
    Joints from = homeAt(0), to = homeAt(20);
    to[0] = 10;
    EXPECT_FLOAT_EQ(ZoCJawScanJointSequenceGenerator::StepTime(from, to), 0.52f);
    to[0] = 0;
    EXPECT_FLOAT_EQ(ZoCJawScanJointSequenceGenerator::StepTime(from, to), 0.32f);
    Generator generator(2, 60.0f);
    const float a[5] = {0, 90, 90, 0, 350}, b[5] = {0, 90, 90, 0, -340};
    generator.SetPositionValues(0, a);
    generator.SetPositionValues(1, b);
    const int order[2] = {0, 1};
    Request start;
    start.m_config[4] = 10;
    // 350 -> -340 (= 20): 30 degrees; from the start at 10 to 350: 20 degrees; none before the first.
    EXPECT_DOUBLE_EQ(generator.StepTime(order, 1, 4, start), Generator::TravelTime(5, 30));
    EXPECT_DOUBLE_EQ(generator.StepTime(order, 0, 4, start), Generator::TravelTime(5, 20));
    EXPECT_DOUBLE_EQ(generator.StepTime(order, -1, 4, start), 0.0);
}

TEST(ZoCRotScanJointSequenceGenerator, ConeAtSixtyDegreesGivesTheTableInDegreesSteeperTiltsAreCapped) {
    ZoCRotScanJointSequenceGenerator generator(60), steep(80);
    auto positions = [](const Generator& g) {  // L2, L3 of positions 0 .. 8 and -1
        std::vector<float> out;
        for (int i : {0, 1, 2, 3, 4, 5, 6, 7, 8, -1}) {
            float l2 = 5, l3 = 5;
            g.GetPosition(i, l2, l3);
            out.insert(out.end(), {l2, l3});
        }
        return out;
    };
    const std::vector<float> table = {150, 90, 135, 135, 90,  150, 45, 135, 30, 90,
                                      45,  45, 90,  30,  135, 45,  0,  0,   0,  0};
    // The generator starts with the table, and the cone at 60 degrees gives it again.
    EXPECT_THAT(positions(generator), near(table, 1e-3));
    generator.FillComponent(1);
    generator.FillComponent(2);
    EXPECT_THAT(positions(generator), near(table, 1e-3));
    steep.FillComponent(1);
    EXPECT_NEAR(steep.GetTilt(), 1.0471976f, 1e-7);
    EXPECT_NEAR(positions(steep)[0], 150, 1e-3);
    // Filling a component turns every position into degrees; beyond the cone's eight the value stays.
    Generator wide(10, 60);
    const float radians[5] = {0, 0.5f, 0.25f, 0, 0};
    wide.SetPositionValues(9, radians);
    wide.FillComponent(1);
    const float* v = wide.GetPositionValues(9);
    EXPECT_THAT(std::vector<float>(v + 1, v + 3), near({0.5f * 180 / 3.14159265f, 0.25f}, 1e-4));
}

TEST(ZoCRotScanJointSequenceGenerator, OptimisedOrderIsNoLongerThanAnyOtherCoincidingPositionsHaveNone) {
    // At 60 degrees a component alone starts at its highest value (L2: 0, L3: 2), the first such order.
    for (const auto& [tilt, weight] : {std::pair{45.0f, 0.6666667f}, {60.0f, 0.0f}, {60.0f, 1.0f}}) {
        SCOPED_TRACE(testing::Message() << tilt << " " << weight);
        ZoCRotScanJointSequenceGenerator generator(tilt), reference(tilt);
        reference.FillComponent(1);
        reference.FillComponent(2);
        ASSERT_TRUE(generator.Optimize(weight));
        std::vector<int> best(8), order(8);
        generator.GetBestOrder(best.data());
        auto cost = [&, w = weight](const std::vector<int>& o) {  // weighted L2 and L3 travel along an order
            float sum = 0;
            for (size_t i = 1; i < o.size(); ++i) {
                const float *p = reference.GetPositionValues(o[i]),
                            *q = reference.GetPositionValues(o[i - 1]);
                sum += w * std::fabs(p[1] - q[1]) + (1 - w) * std::fabs(p[2] - q[2]);
            }
            return sum;
        };
        std::iota(order.begin(), order.end(), 0);
        do {
            ASSERT_GE(cost(order) + 1e-3f, cost(best));
        } while (std::next_permutation(order.begin(), order.end()));
        for (int i = 0; i < 8; ++i)  // the positions were rearranged into the best order
            EXPECT_EQ(generator.GetPositionValues(i)[1], reference.GetPositionValues(best[i])[1]);
        if (tilt == 60) {
            EXPECT_EQ(best[0], weight == 1 ? 0 : 2);
        }
    }
    // Coinciding positions, or a single one, find no order.
    Generator flat(4, 0.0f);  // a zero tilt puts every cone position at 90, 90
    EXPECT_FALSE(flat.Optimize(0.5f));
    EXPECT_FALSE(Generator(1, 60.0f).Optimize(0.5f));  // one position has no travel to shorten
    int best[4];
    flat.GetBestOrder(best);
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
    std::vector<int> order;
    EXPECT_FALSE(ZoCJawScanJointSequenceGenerator(0, 60).FindLeastTimeOrder(Joints(), order));
    EXPECT_FALSE(ZoCJawScanJointSequenceGenerator(0, 60).FindLeastTimeOrderExhaustive(Joints(), order));
}
