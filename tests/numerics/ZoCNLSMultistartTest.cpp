// Multistart series and the samplers of starting points inside the constraint polytope.
#include "NumericsTestSupport.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>
#include <string>
#include <vector>

using namespace testsupport;
using Access = ZoCNLSSolverTestAccess;

namespace {

// Two valleys in [-2, 2]: a perfect fit at x = 1 and a worse local minimum near x = -1.
LambdaObjective twoValleys() {
    LambdaObjective f(1, 2, [](const Vec& x) { return vectorOf({x[0] * x[0] - 1, 0.3 * (x[0] - 1)}); });
    f.AddBounds(0, -2, 2);
    return f;
}

const double c_dInf = std::numeric_limits<double>::infinity();

}  // namespace

TEST(ZoCNLSMultistart, ShrinkAndDistancesAlongDirections) {
    LambdaObjective f(1, 1, [](const Vec& x) { return x; });
    ZoCNLSSolver s(f, false, 0);
    Mat row = fromRows({{3, 4}});
    Vec rhs = vectorOf({2});
    Access::shrink(s, row, rhs, 0.1);  // inward by eps times the row's norm
    EXPECT_DOUBLE_EQ(rhs[0], 1.5);
    EXPECT_EQ(row(0, 0), 3.0);
    double back = 0, fwd = 0;
    Access::distances(s, fromRows({{-1}, {1}}), vectorOf({0, 1}), vectorOf({0.25}), vectorOf({1}), back, fwd);
    EXPECT_EQ(std::vector<double>({back, fwd}), std::vector<double>({0.25, 0.75}));
    // Along a direction parallel to every face both distances stay infinite.
    Access::distances(s, fromRows({{1, 0}}), vectorOf({1}), vectorOf({0, 0}), vectorOf({0, 1}), back, fwd);
    EXPECT_EQ(std::vector<double>({back, fwd}), std::vector<double>({c_dInf, c_dInf}));
}

// Both samplers stay in the triangle x, y >= 0, x + y <= 1 with mean at its centroid (1/3, 1/3),
// and give finite points in a half-plane whose open directions are unbounded.
TEST(ZoCNLSMultistart, SamplersStayInsideSpreadUniformlyOverTriangleAndStayFiniteInHalfPlane) {
    LambdaObjective f(2, 1, [](const Vec& x) { return vectorOf({x[0]}); });
    ZoCNLSSolver s(f, false, 0);
    const Mat triangle = fromRows({{-1, 0}, {0, -1}, {1, 1}}), halfPlane = fromRows({{1, 0}});
    for (bool hitAndRun : {false, true}) {
        std::mt19937_64 rng(5489);
        Access::Uniform uniform = [&rng](double a, double b) {
            return a + std::generate_canonical<double, std::numeric_limits<double>::digits>(rng) * (b - a);
        };
        Vec x = vectorOf({0.2, 0.2}), sum(2);
        const int samples = 20000;
        for (int i = 0; i < samples; ++i) {
            Access::sample(s, hitAndRun, triangle, vectorOf({0, 0, 1}), rng, uniform, x);
            ASSERT_TRUE(x[0] >= -1e-15 && x[1] >= -1e-15 && x[0] + x[1] <= 1 + 1e-15) << x[0] << " " << x[1];
            sum = sum + x;
        }
        EXPECT_LT((sum * (1.0 / samples) - vectorOf({1.0 / 3, 1.0 / 3})).MaxAbs(), 0.02) << hitAndRun;
        for (int i = 0; i < 50; ++i)
            Access::sample(s, hitAndRun, halfPlane, vectorOf({1}), rng, uniform, x);
        EXPECT_TRUE(std::isfinite(x[0]) && std::isfinite(x[1]) && x[0] <= 1) << hitAndRun;
    }
}

TEST(ZoCNLSMultistart, NoRunsEqualsSingleRunAndNoBoundsSkipsWithWarning) {
    LambdaObjective f = twoValleys();
    const auto a = solveLogged(f, {-1.5}, 100, 0, ZoCNLSSolver::eHitAndRun);
    const auto b = solveLogged(f, {-1.5}, 100, 0, ZoCNLSSolver::eGibbs);
    EXPECT_EQ(a.result, b.result);
    EXPECT_EQ(a.p[0], b.p[0]);
    EXPECT_EQ(a.lines, b.lines);
    EXPECT_EQ(countPrefix(a.lines, "(NLS) SAMPLING") + countPrefix(a.lines, "(NLS) final"), 0);
    LambdaObjective free(1, 1, [](const Vec& x) { return vectorOf({x[0] * x[0] - 2}); });
    const auto o = solveLogged(free, {1}, 100, 3, ZoCNLSSolver::eHitAndRun);
    EXPECT_LE(o.result, ZoCNLSSolver::eSmallStepSize);
    const std::string warning = "(NLS) warning: skipping multistart (no inequality constraints!)\n";
    EXPECT_EQ(countPrefix(o.lines, warning), 1);
    EXPECT_EQ(o.lines.back(), warning);
}

// A perfect first run ends the series before any sampling; otherwise the series escapes the local
// minimum and stops at the perfect fit.
TEST(ZoCNLSMultistart, SeriesEscapesLocalMinimumAndStopsAtPerfectFit) {
    LambdaObjective f = twoValleys();
    const auto perfect = solveLogged(f, {1}, 100, 4, ZoCNLSSolver::eHitAndRun);
    EXPECT_EQ(perfect.result, ZoCNLSSolver::eSmallGradient);
    EXPECT_EQ(countPrefix(perfect.lines, "(NLS) SAMPLING"), 0);
    ASSERT_GE(perfect.lines.size(), 2u);
    EXPECT_EQ(perfect.lines[perfect.lines.size() - 2],
              "(NLS) obtained the best possible residual - omitting further multistart runs\n");
    EXPECT_EQ(perfect.lines.back(), "(NLS) final residual RMSE=0\n");
    for (auto sampler : {ZoCNLSSolver::eGibbs, ZoCNLSSolver::eHitAndRun}) {
        const auto o = solveLogged(f, {-1.5}, 200, 10, sampler);
        EXPECT_NEAR(o.p[0], 1.0, 1e-7) << "sampler " << sampler;
        EXPECT_LT(o.residual, 1e-7);
        EXPECT_EQ(countPrefix(o.lines, "(NLS) SAMPLING FOR MULTISTART RUN 1 OF 10 (try #1)\n"), 1);
        EXPECT_TRUE(startsWith(o.lines.back(), "(NLS) final residual RMSE="));
    }
}

TEST(ZoCNLSMultistart, RepeatedCallsGiveIdenticalSeries) {
    // A valley floor that no run fits perfectly, so that all five runs take place.
    LambdaObjective f(2, 3, [](const Vec& x) {
        return vectorOf({std::sin(3 * x[0]) + x[1] * x[1], x[0] - x[1], 0.5});
    });
    f.AddBounds(0, -2, 2);
    f.AddBounds(1, -2, 2);
    const auto first = solveLogged(f, {1.5, -1.5}, 50, 5, ZoCNLSSolver::eHitAndRun);
    const auto second = solveLogged(f, {1.5, -1.5}, 50, 5, ZoCNLSSolver::eHitAndRun);
    EXPECT_EQ(countPrefix(first.lines, "(NLS) SAMPLING FOR MULTISTART RUN "), 5);
    EXPECT_EQ(second.lines, first.lines);
    EXPECT_EQ(second.p[0], first.p[0]);
}

TEST(ZoCNLSMultistart, FailedWarmUpsCountAsDoneAndKeepStart) {
    // Bounds that contradict each other: neither the run nor the sampler finds a feasible point.
    LambdaObjective f(1, 1, [](const Vec& x) { return x; });
    f.AddLowerBound(0, 2);
    f.AddUpperBound(0, 1);
    const auto o = solveLogged(f, {5}, 10, 2, ZoCNLSSolver::eGibbs, c_dInf);
    EXPECT_EQ(o.result, ZoCNLSSolver::eConstraintsViolated);
    EXPECT_EQ(o.p[0], 5.0);
    EXPECT_EQ(o.residual, c_dInf);
    EXPECT_EQ(o.lines, (std::vector<std::string>{
                           "(NLS) infeasible constraints detected\n",
                           "(NLS) SAMPLING FOR MULTISTART RUN 1 OF 2 (try #1)\n", "(NLS) warmup failed.\n",
                           "(NLS) SAMPLING FOR MULTISTART RUN 2 OF 2 (try #1)\n", "(NLS) warmup failed.\n",
                           "(NLS) final residual RMSE=inf\n"}));
}

TEST(ZoCNLSMultistart, FiveConsecutiveFailuresAbortTheSeries) {
    // x1 is fixed at 5 by an equality but bounded by 4: every run finds its free-variable
    // inequalities infeasible, while the sampler, working on the full parameters, succeeds.
    LambdaObjective f(2, 1, [](const Vec& x) { return vectorOf({x[0]}); });
    f.AddBounds(0, -1, 1);
    f.AddBounds(1, 0, 4);
    ASSERT_TRUE(f.AddEquality(1, 5.0));
    const auto o = solveLogged(f, {0.5, 3}, 10, 3, ZoCNLSSolver::eHitAndRun, c_dInf);
    EXPECT_EQ(o.result, ZoCNLSSolver::eConstraintsViolated);
    EXPECT_EQ(countPrefix(o.lines, "(NLS) multistart run #1/#3 failed: constraint violation\n"), 5);
    for (int attempt = 1; attempt <= 5; ++attempt)
        EXPECT_EQ(
            countPrefix(o.lines, "(NLS) SAMPLING FOR MULTISTART RUN 1 OF 3 (try #" + std::to_string(attempt)),
            1);
    ASSERT_GE(o.lines.size(), 2u);
    EXPECT_EQ(o.lines[o.lines.size() - 2], "(NLS) multistart series aborted (too many errors)\n");
    EXPECT_EQ(values(o.p), (std::vector<double>{0.5, 3}));  // the start is returned
}
