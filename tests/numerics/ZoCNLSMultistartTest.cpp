// Multistart series and the samplers of starting points inside the constraint polytope.
#include "NumericsTestSupport.h"
#include "CapturingLogSink.h"
#include "ZoCNLSSolver.h"

#include <gtest/gtest.h>

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
using testsupport::logLines;

int countPrefix(const std::vector<std::string>& lines, const std::string& prefix) {
    int n = 0;
    for (const auto& l : lines)
        n += l.rfind(prefix, 0) == 0 ? 1 : 0;
    return n;
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

TEST(ZoCNLSMultistart, SamplersStayInsideAndSpreadUniformlyOverTriangle) {
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
}

TEST(ZoCNLSMultistart, SamplersLeaveOpenDirectionsFinite) {
    LambdaObjective f(2, 1, [](const ZoTVector<double>& x) { return vectorOf({x[0]}); });
    ZoCNLSSolver s(f, false, 0);
    const ZoTMatrix<double> halfPlane = fromRows({{1, 0}});
    std::mt19937_64 rng(47110815);
    std::function<double(double, double)> uniform = uniformOn(rng);
    ZoTVector<double> x = vectorOf({0, 0});
    for (int i = 0; i < 50; ++i) {
        Access::gibbs(s, halfPlane, vectorOf({1}), rng, uniform, x);
        Access::hitAndRun(s, halfPlane, vectorOf({1}), rng, uniform, x);
    }
    EXPECT_TRUE(std::isfinite(x[0]));
    EXPECT_TRUE(std::isfinite(x[1]));
}

TEST(ZoCNLSMultistart, NoMultistartRunsEqualsSingleRun) {
    LambdaObjective f = twoValleys();
    ZoCNLSSolver a(f, false, 0), b(f, false, 0);
    ScopedLogCapture capture;
    ZoTVector<double> pa = vectorOf({-1.5}), pb = vectorOf({-1.5});
    double ra = 0, rb = 0;
    const auto resultA = a.Run(pa, ra, 100, 1e-3, 0, ZoCNLSSolver::eHitAndRun);
    const auto linesA = logLines(capture);
    capture.Sink().Clear();
    b.SetLogging(true);
    const auto resultB = b.Run(pb, rb, 100, 1e-3, 0, ZoCNLSSolver::eGibbs);
    EXPECT_EQ(resultA, resultB);
    EXPECT_EQ(pa[0], pb[0]);
    EXPECT_EQ(linesA, logLines(capture));
    EXPECT_EQ(countPrefix(linesA, "(NLS) SAMPLING"), 0);
    EXPECT_EQ(countPrefix(linesA, "(NLS) final"), 0);
}

TEST(ZoCNLSMultistart, WithoutInequalitiesMultistartIsSkippedWithWarning) {
    LambdaObjective f(1, 1, [](const ZoTVector<double>& x) { return vectorOf({x[0] * x[0] - 2}); });
    ZoCNLSSolver s(f, false, 0);
    ScopedLogCapture capture;
    ZoTVector<double> p = vectorOf({1});
    double r = 0;
    const auto result = s.Run(p, r, 100, 1e-3, 3, ZoCNLSSolver::eHitAndRun);
    EXPECT_LE(result, ZoCNLSSolver::eSmallStepSize);
    const auto lines = logLines(capture);
    EXPECT_EQ(countPrefix(lines, "(NLS) warning: skipping multistart (no inequality constraints!)\n"), 1);
    EXPECT_EQ(lines.back(), "(NLS) warning: skipping multistart (no inequality constraints!)\n");
}

TEST(ZoCNLSMultistart, PerfectFirstRunEndsSeriesBeforeSampling) {
    LambdaObjective f = twoValleys();
    ZoCNLSSolver s(f, false, 0);
    ScopedLogCapture capture;
    ZoTVector<double> p = vectorOf({1});
    double r = 0;
    EXPECT_EQ(s.Run(p, r, 100, 1e-3, 4, ZoCNLSSolver::eHitAndRun), ZoCNLSSolver::eSmallGradient);
    const auto lines = logLines(capture);
    EXPECT_EQ(countPrefix(lines, "(NLS) SAMPLING"), 0);
    ASSERT_GE(lines.size(), 2u);
    EXPECT_EQ(lines[lines.size() - 2],
              "(NLS) obtained the best possible residual - omitting further multistart runs\n");
    EXPECT_EQ(lines.back(), "(NLS) final residual RMSE=0\n");
}

TEST(ZoCNLSMultistart, SeriesEscapesLocalMinimumAndStopsAtPerfectFit) {
    for (auto sampler : {ZoCNLSSolver::eGibbs, ZoCNLSSolver::eHitAndRun}) {
        LambdaObjective f = twoValleys();
        ZoCNLSSolver s(f, false, 0);
        ScopedLogCapture capture;
        ZoTVector<double> p = vectorOf({-1.5});
        double r = 0;
        s.Run(p, r, 200, 1e-3, 10, sampler);
        EXPECT_NEAR(p[0], 1.0, 1e-7) << "sampler " << sampler;
        EXPECT_LT(r, 1e-7);
        const auto lines = logLines(capture);
        EXPECT_EQ(countPrefix(lines, "(NLS) SAMPLING FOR MULTISTART RUN 1 OF 10 (try #1)\n"), 1);
        EXPECT_EQ(lines.back().rfind("(NLS) final residual RMSE=", 0), 0u);
    }
}

TEST(ZoCNLSMultistart, RepeatedCallsGiveIdenticalSeries) {
    std::vector<std::string> first;
    double firstParam = 0;
    for (int call = 0; call < 2; ++call) {
        // A valley floor that no run fits perfectly, so that all five runs take place.
        LambdaObjective f(2, 3, [](const ZoTVector<double>& x) {
            return vectorOf({std::sin(3 * x[0]) + x[1] * x[1], x[0] - x[1], 0.5});
        });
        f.AddBounds(0, -2, 2);
        f.AddBounds(1, -2, 2);
        ZoCNLSSolver s(f, false, 0);
        ScopedLogCapture capture;
        ZoTVector<double> p = vectorOf({1.5, -1.5});
        double r = 0;
        s.Run(p, r, 50, 1e-3, 5, ZoCNLSSolver::eHitAndRun);
        const auto lines = logLines(capture);
        EXPECT_EQ(countPrefix(lines, "(NLS) SAMPLING FOR MULTISTART RUN "), 5);
        if (call == 0) {
            first = lines;
            firstParam = p[0];
        } else {
            EXPECT_EQ(lines, first);
            EXPECT_EQ(p[0], firstParam);
        }
    }
}

TEST(ZoCNLSMultistart, FailedWarmUpsCountAsDoneAndKeepStart) {
    // Bounds that contradict each other: neither the run nor the sampler finds a feasible point.
    LambdaObjective f(1, 1, [](const ZoTVector<double>& x) { return x; });
    f.AddLowerBound(0, 2);
    f.AddUpperBound(0, 1);
    ZoCNLSSolver s(f, false, 0);
    ScopedLogCapture capture;
    ZoTVector<double> p = vectorOf({5});
    double r = std::numeric_limits<double>::infinity();
    EXPECT_EQ(s.Run(p, r, 10, 1e-3, 2, ZoCNLSSolver::eGibbs), ZoCNLSSolver::eConstraintsViolated);
    EXPECT_EQ(p[0], 5.0);
    EXPECT_TRUE(std::isinf(r));
    const std::vector<std::string> expected = {
        "(NLS) infeasible constraints detected\n",
        "(NLS) SAMPLING FOR MULTISTART RUN 1 OF 2 (try #1)\n",
        "(NLS) warmup failed.\n",
        "(NLS) SAMPLING FOR MULTISTART RUN 2 OF 2 (try #1)\n",
        "(NLS) warmup failed.\n",
        "(NLS) final residual RMSE=inf\n",
    };
    EXPECT_EQ(logLines(capture), expected);
}

TEST(ZoCNLSMultistart, FiveConsecutiveFailuresAbortTheSeries) {
    // x1 is fixed at 5 by an equality but bounded by 4: every run finds its free-variable
    // inequalities infeasible, while the sampler, working on the full parameters, succeeds.
    LambdaObjective f(2, 1, [](const ZoTVector<double>& x) { return vectorOf({x[0]}); });
    f.AddBounds(0, -1, 1);
    f.AddBounds(1, 0, 4);
    ASSERT_TRUE(f.AddEquality(1, 5.0));
    ZoCNLSSolver s(f, false, 0);
    ScopedLogCapture capture;
    ZoTVector<double> p = vectorOf({0.5, 3});
    double r = std::numeric_limits<double>::infinity();
    EXPECT_EQ(s.Run(p, r, 10, 1e-3, 3, ZoCNLSSolver::eHitAndRun), ZoCNLSSolver::eConstraintsViolated);
    const auto lines = logLines(capture);
    EXPECT_EQ(countPrefix(lines, "(NLS) multistart run #1/#3 failed: constraint violation\n"), 5);
    for (int attempt = 1; attempt <= 5; ++attempt)
        EXPECT_EQ(countPrefix(lines, "(NLS) SAMPLING FOR MULTISTART RUN 1 OF 3 (try #" +
                                         std::to_string(attempt) + ")\n"),
                  1);
    ASSERT_GE(lines.size(), 2u);
    EXPECT_EQ(lines[lines.size() - 2], "(NLS) multistart series aborted (too many errors)\n");
    EXPECT_EQ(p[0], 0.5);  // the start is returned
    EXPECT_EQ(p[1], 3.0);
}
