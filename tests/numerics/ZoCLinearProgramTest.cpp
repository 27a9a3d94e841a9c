// Simplex over A x <= b, x >= 0.
#include "NumericsTestSupport.h"
#include "ZoCLinearProgram.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

namespace {

using testsupport::fromRows;
using testsupport::vectorOf;

}  // namespace

TEST(ZoCLinearProgram, SingleUpperBoundIsOptimalAtTheBound) {
    ZoCLinearProgram lp(fromRows({{1}}), vectorOf({3}), vectorOf({1}));
    EXPECT_EQ(lp.GetStatus(), ZoCLinearProgram::eNotSolved);
    ASSERT_TRUE(lp.Solve());
    EXPECT_EQ(lp.GetStatus(), ZoCLinearProgram::eOptimal);
    EXPECT_EQ(lp.GetSolution()[0], 3.0);
}

TEST(ZoCLinearProgram, LowerBoundOnlyIsUnbounded) {
    ZoCLinearProgram lp(fromRows({{-1}}), vectorOf({-1}), vectorOf({1}));
    EXPECT_TRUE(lp.Solve());
    EXPECT_EQ(lp.GetStatus(), ZoCLinearProgram::eUnbounded);
}

TEST(ZoCLinearProgram, NegativeUpperBoundOnNonnegativeVariableIsInfeasible) {
    ZoCLinearProgram lp(fromRows({{1}}), vectorOf({-1}), vectorOf({1}));
    EXPECT_FALSE(lp.Solve());
    EXPECT_EQ(lp.GetStatus(), ZoCLinearProgram::eInfeasible);
}

TEST(ZoCLinearProgram, TextbookProgrammeReachesKnownOptimum) {
    // maximise 3x + 5y s.t. x <= 4, 2y <= 12, 3x + 2y <= 18: optimum (2, 6), value 36.
    ZoCLinearProgram lp(fromRows({{1, 0}, {0, 2}, {3, 2}}), vectorOf({4, 12, 18}), vectorOf({3, 5}));
    ASSERT_TRUE(lp.Solve());
    const ZoTVector<double> x = lp.GetSolution();
    ASSERT_EQ(x.size, 2);
    EXPECT_NEAR(x[0], 2.0, 1e-12);
    EXPECT_NEAR(x[1], 6.0, 1e-12);
}

TEST(ZoCLinearProgram, InfeasibleOriginNeedsInitialisationPhase) {
    // x + y >= 2 (as -x - y <= -2), x <= 3, y <= 3; minimise x + 2y: optimum (2, 0).
    ZoCLinearProgram lp(fromRows({{-1, -1}, {1, 0}, {0, 1}}), vectorOf({-2, 3, 3}), vectorOf({-1, -2}));
    ASSERT_TRUE(lp.Solve());
    EXPECT_EQ(lp.GetStatus(), ZoCLinearProgram::eOptimal);
    const ZoTVector<double> x = lp.GetSolution();
    EXPECT_NEAR(x[0], 2.0, 1e-12);
    EXPECT_NEAR(x[1], 0.0, 1e-12);
}

TEST(ZoCLinearProgram, ZeroRightHandSideGoesThroughInitialisationAndStaysFeasible) {
    // Rows with b = 0 take the auxiliary phase; the origin is the optimum of max -x.
    ZoCLinearProgram lp(fromRows({{1, -1}, {-1, 1}}), vectorOf({0, 0}), vectorOf({-1, 0}));
    ASSERT_TRUE(lp.Solve());
    EXPECT_EQ(lp.GetStatus(), ZoCLinearProgram::eOptimal);
    EXPECT_NEAR(lp.GetSolution()[0], 0.0, 1e-15);
}

TEST(ZoCLinearProgram, RandomFeasibleProgrammesSatisfyConstraintsAndBeatSampledPoints) {
    std::mt19937_64 rng(5489);
    std::uniform_real_distribution<double> uniform(0.1, 1.0);
    for (int trial = 0; trial < 20; ++trial) {
        const int q = 3 + trial % 4, k = 2 + trial % 3;
        ZoTMatrix<double> a(q, k);
        ZoTVector<double> b(q), c(k);
        for (int i = 0; i < q * k; ++i)
            a.data[i] = uniform(rng);
        for (int i = 0; i < q; ++i)
            b[i] = uniform(rng) * 5;
        for (int j = 0; j < k; ++j)
            c[j] = uniform(rng);
        ZoCLinearProgram lp(a, b, c);
        ASSERT_TRUE(lp.Solve()) << "trial " << trial;
        const ZoTVector<double> x = lp.GetSolution();
        const ZoTVector<double> ax = a * x;
        for (int i = 0; i < q; ++i)
            EXPECT_LE(ax[i], b[i] + 1e-12) << "trial " << trial;
        for (int j = 0; j < k; ++j)
            EXPECT_GE(x[j], -1e-12);
        // No feasible point drawn at random does better than the optimum.
        for (int s = 0; s < 200; ++s) {
            ZoTVector<double> y(k);
            for (int j = 0; j < k; ++j)
                y[j] = uniform(rng) * 10;
            const ZoTVector<double> ay = a * y;
            bool feasible = true;
            for (int i = 0; i < q; ++i)
                feasible = feasible && ay[i] <= b[i];
            if (feasible) {
                EXPECT_LE(c.Dot(y), c.Dot(x) + 1e-12) << "trial " << trial;
            }
        }
    }
}
