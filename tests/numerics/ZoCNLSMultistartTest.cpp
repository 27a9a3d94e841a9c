// Multistart series and the samplers of starting points inside the constraint polytope.
#include "NumericsTestSupport.h"
#include "CapturingLogSink.h"
#include "ZoCNLSSolver.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <limits>
#include <random>
#include <string>
#include <vector>

namespace {

using Access = ZoCNLSSolverTestAccess;

using testsupport::fromRows;
using testsupport::vectorOf;

using testsupport::LambdaObjective;
using testsupport::solveLogged;
using testsupport::startsWith;

long countPrefix(const std::vector<std::string>& lines, const std::string& prefix) {
    return std::count_if(lines.begin(), lines.end(),
                         [&](const std::string& l) { return startsWith(l, prefix); });
}

// Two valleys in [-2, 2]: a perfect fit at x = 1 and a worse local minimum near x = -1.
LambdaObjective twoValleys() {
    LambdaObjective f(1, 2, [](const ZoTVector<double>& x) {
        return vectorOf({x[0] * x[0] - 1, 0.3 * (x[0] - 1)});
    });
    f.AddBounds(0, -2, 2);
    return f;
}

// The triangle x >= 0, y >= 0, x + y <= 1.
const ZoTMatrix<double> c_triangleA = fromRows({{-1, 0}, {0, -1}, {1, 1}});
const ZoTVector<double> c_triangleB = vectorOf({0, 0, 1});

std::function<double(double, double)> uniformOn(std::mt19937_64& rng) {
    return [&rng](double a, double b) {
        return a + std::generate_canonical<double, std::numeric_limits<double>::digits>(rng) * (b - a);
    };
}

}  // namespace

TEST(ZoCNLSMultistart, ShrinkAndDistancesAlongDirections) {
    LambdaObjective f(1, 1, [](const ZoTVector<double>& x) { return x; });
    ZoCNLSSolver s(f, false, 0);
    ZoTMatrix<double> row = fromRows({{3, 4}});
    ZoTVector<double> rhs = vectorOf({2});
    Access::shrink(s, row, rhs, 0.1);  // inward by eps times the row's norm
    EXPECT_DOUBLE_EQ(rhs[0], 1.5);
    EXPECT_EQ(row(0, 0), 3.0);
    double back = 0, fwd = 0;
    Access::distances(s, fromRows({{-1}, {1}}), vectorOf({0, 1}), vectorOf({0.25}), vectorOf({1}), back, fwd);
    EXPECT_DOUBLE_EQ(back, 0.25);
    EXPECT_DOUBLE_EQ(fwd, 0.75);
    // Along a direction parallel to every face both distances stay infinite.
    Access::distances(s, fromRows({{1, 0}}), vectorOf({1}), vectorOf({0, 0}), vectorOf({0, 1}), back, fwd);
    EXPECT_TRUE(std::isinf(back) && std::isinf(fwd));
}

TEST(ZoCNLSMultistart, SamplersStayInsideSpreadUniformlyOverTriangleAndStayFiniteInHalfPlane) {
    LambdaObjective f(2, 1, [](const ZoTVector<double>& x) { return vectorOf({x[0]}); });
    ZoCNLSSolver s(f, false, 0);
    for (int sampler = 0; sampler < 2; ++sampler) {
        std::mt19937_64 rng(5489);
        std::function<double(double, double)> uniform = uniformOn(rng);
        ZoTVector<double> x = vectorOf({0.2, 0.2});
        double sumX = 0, sumY = 0;
        const int samples = 20000;
        for (int i = 0; i < samples; ++i) {
            if (sampler == 0)
                Access::gibbs(s, c_triangleA, c_triangleB, rng, uniform, x);
            else
                Access::hitAndRun(s, c_triangleA, c_triangleB, rng, uniform, x);
            ASSERT_GE(x[0], -1e-15);
            ASSERT_GE(x[1], -1e-15);
            ASSERT_LE(x[0] + x[1], 1 + 1e-15);
            sumX += x[0];
            sumY += x[1];
        }
        // The centroid of the triangle is (1/3, 1/3).
        EXPECT_NEAR(sumX / samples, 1.0 / 3, 0.02) << "sampler " << sampler;
        EXPECT_NEAR(sumY / samples, 1.0 / 3, 0.02) << "sampler " << sampler;
    }
    // In a half-plane the open directions still give finite points.
    std::mt19937_64 rng(47110815);
    std::function<double(double, double)> uniform = uniformOn(rng);
    ZoTVector<double> x = vectorOf({0, 0});
    for (int i = 0; i < 50; ++i) {
        Access::gibbs(s, fromRows({{1, 0}}), vectorOf({1}), rng, uniform, x);
        Access::hitAndRun(s, fromRows({{1, 0}}), vectorOf({1}), rng, uniform, x);
    }
    EXPECT_TRUE(std::isfinite(x[0]) && std::isfinite(x[1]));
}

TEST(ZoCNLSMultistart, NoRunsEqualsSingleRunAndNoBoundsSkipsWithWarning) {
    LambdaObjective f = twoValleys();
    const auto a = solveLogged(f, {-1.5}, 100, 0, ZoCNLSSolver::eHitAndRun);
    const auto b = solveLogged(f, {-1.5}, 100, 0, ZoCNLSSolver::eGibbs);
    EXPECT_EQ(a.result, b.result);
    EXPECT_EQ(a.p[0], b.p[0]);
    EXPECT_EQ(a.lines, b.lines);
    EXPECT_EQ(countPrefix(a.lines, "(NLS) SAMPLING") + countPrefix(a.lines, "(NLS) final"), 0);
    LambdaObjective free(1, 1, [](const ZoTVector<double>& x) { return vectorOf({x[0] * x[0] - 2}); });
    const auto o = solveLogged(free, {1}, 100, 3, ZoCNLSSolver::eHitAndRun);
    EXPECT_LE(o.result, ZoCNLSSolver::eSmallStepSize);
    const std::string warning = "(NLS) warning: skipping multistart (no inequality constraints!)\n";
    EXPECT_EQ(countPrefix(o.lines, warning), 1);
    EXPECT_EQ(o.lines.back(), warning);
}

TEST(ZoCNLSMultistart, PerfectFirstRunEndsSeriesBeforeSampling) {
    LambdaObjective f = twoValleys();
    const auto o = solveLogged(f, {1}, 100, 4, ZoCNLSSolver::eHitAndRun);
    EXPECT_EQ(o.result, ZoCNLSSolver::eSmallGradient);
    EXPECT_EQ(countPrefix(o.lines, "(NLS) SAMPLING"), 0);
    ASSERT_GE(o.lines.size(), 2u);
    EXPECT_EQ(o.lines[o.lines.size() - 2],
              "(NLS) obtained the best possible residual - omitting further multistart runs\n");
    EXPECT_EQ(o.lines.back(), "(NLS) final residual RMSE=0\n");
}

TEST(ZoCNLSMultistart, SeriesEscapesLocalMinimumAndStopsAtPerfectFit) {
    for (auto sampler : {ZoCNLSSolver::eGibbs, ZoCNLSSolver::eHitAndRun}) {
        LambdaObjective f = twoValleys();
        const auto o = solveLogged(f, {-1.5}, 200, 10, sampler);
        EXPECT_NEAR(o.p[0], 1.0, 1e-7) << "sampler " << sampler;
        EXPECT_LT(o.residual, 1e-7);
        EXPECT_EQ(countPrefix(o.lines, "(NLS) SAMPLING FOR MULTISTART RUN 1 OF 10 (try #1)\n"), 1);
        EXPECT_TRUE(startsWith(o.lines.back(), "(NLS) final residual RMSE="));
    }
}

TEST(ZoCNLSMultistart, RepeatedCallsGiveIdenticalSeries) {
    // A valley floor that no run fits perfectly, so that all five runs take place.
    LambdaObjective f(2, 3, [](const ZoTVector<double>& x) {
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
    LambdaObjective f(1, 1, [](const ZoTVector<double>& x) { return x; });
    f.AddLowerBound(0, 2);
    f.AddUpperBound(0, 1);
    const double inf = std::numeric_limits<double>::infinity();
    const auto o = solveLogged(f, {5}, 10, 2, ZoCNLSSolver::eGibbs, inf);
    EXPECT_EQ(o.result, ZoCNLSSolver::eConstraintsViolated);
    EXPECT_EQ(o.p[0], 5.0);
    EXPECT_TRUE(std::isinf(o.residual));
    const std::vector<std::string> expected = {
        "(NLS) infeasible constraints detected\n",
        "(NLS) SAMPLING FOR MULTISTART RUN 1 OF 2 (try #1)\n",
        "(NLS) warmup failed.\n",
        "(NLS) SAMPLING FOR MULTISTART RUN 2 OF 2 (try #1)\n",
        "(NLS) warmup failed.\n",
        "(NLS) final residual RMSE=inf\n",
    };
    EXPECT_EQ(o.lines, expected);
}

TEST(ZoCNLSMultistart, FiveConsecutiveFailuresAbortTheSeries) {
    // x1 is fixed at 5 by an equality but bounded by 4: every run finds its free-variable
    // inequalities infeasible, while the sampler, working on the full parameters, succeeds.
    LambdaObjective f(2, 1, [](const ZoTVector<double>& x) { return vectorOf({x[0]}); });
    f.AddBounds(0, -1, 1);
    f.AddBounds(1, 0, 4);
    ASSERT_TRUE(f.AddEquality(1, 5.0));
    const auto o =
        solveLogged(f, {0.5, 3}, 10, 3, ZoCNLSSolver::eHitAndRun, std::numeric_limits<double>::infinity());
    EXPECT_EQ(o.result, ZoCNLSSolver::eConstraintsViolated);
    EXPECT_EQ(countPrefix(o.lines, "(NLS) multistart run #1/#3 failed: constraint violation\n"), 5);
    for (int attempt = 1; attempt <= 5; ++attempt)
        EXPECT_EQ(countPrefix(o.lines, "(NLS) SAMPLING FOR MULTISTART RUN 1 OF 3 (try #" +
                                           std::to_string(attempt) + ")\n"),
                  1);
    ASSERT_GE(o.lines.size(), 2u);
    EXPECT_EQ(o.lines[o.lines.size() - 2], "(NLS) multistart series aborted (too many errors)\n");
    EXPECT_EQ(o.p[0], 0.5);  // the start is returned
    EXPECT_EQ(o.p[1], 3.0);
}
