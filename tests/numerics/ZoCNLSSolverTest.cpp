// Levenberg-Marquardt runs: convergence, damping, weights, constraints, stop results and log.
#include "NumericsTestSupport.h"
#include "CapturingLogSink.h"
#include "ZoCNLSSolver.h"
#include "ZoLapack.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <limits>
#include <stdexcept>
#include <string>
#include <vector>


namespace {

using Access = ZoCNLSSolverTestAccess;

using testsupport::fromRows;
using testsupport::vectorOf;

using testsupport::LambdaObjective;
using testsupport::logLines;

std::string format(const char* pattern, double value) {
    char buffer[128];
    std::snprintf(buffer, sizeof buffer, pattern, value);
    return buffer;
}

// y = a exp(b t) sampled without noise at t = 0, 0.1, ..., 1.9.
LambdaObjective exponentialFit(double a, double b) {
    return LambdaObjective(2, 20, [a, b](const ZoTVector<double>& x) {
        ZoTVector<double> r(20);
        for (int i = 0; i < 20; ++i) {
            const double t = 0.1 * i;
            r[i] = x[0] * std::exp(x[1] * t) - a * std::exp(b * t);
        }
        return r;
    });
}

}  // namespace

TEST(ZoCNLSSolver, ResultTextOfConstraintViolation) {  // the other texts appear in stop messages below
    EXPECT_STREQ(ZoCNLSSolver::ResultText(ZoCNLSSolver::eConstraintsViolated), "constraints violated (-)");
    EXPECT_STREQ(ZoCNLSSolver::ResultText(ZoCNLSSolver::eSmallStepSize), "small step size (++)");
}

TEST(ZoCNLSSolver, ZeroIterationsLogsStartAndStopOnly) {
    LambdaObjective f(1, 2, [](const ZoTVector<double>& x) { return vectorOf({x[0] - 1, x[0] + 1}); });
    ZoCNLSSolver solver(f, false, 0);
    ScopedLogCapture capture;
    ZoTVector<double> p = vectorOf({3});
    double residual = -1;
    EXPECT_EQ(Access::run(solver, p, residual, 0, 1e-3), ZoCNLSSolver::eMaxIterExceeded);
    const double rmse = std::sqrt((4.0 + 16.0) / 2.0);
    EXPECT_DOUBLE_EQ(residual, rmse);
    EXPECT_EQ(p[0], 3.0);
    const auto lines = logLines(capture);
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0], format("(NLS) iter. 0: residual RMSE=%g\n", rmse));
    EXPECT_EQ(lines[1],
              format("(NLS) stopped after 0 iterations ('maxiter exceeded (-)', residual RMSE=%g)\n", rmse));
}

TEST(ZoCNLSSolver, ExactStartStopsInFirstIterationWithSmallGradient) {
    LambdaObjective f = exponentialFit(2.0, -0.5);
    ZoCNLSSolver solver(f, false, 0);
    ScopedLogCapture capture;
    ZoTVector<double> p = vectorOf({2.0, -0.5});
    double residual = -1;
    EXPECT_EQ(solver.Run(p, residual, 100, 1e-3, 0, ZoCNLSSolver::eHitAndRun), ZoCNLSSolver::eSmallGradient);
    EXPECT_EQ(residual, 0.0);
    const auto lines = logLines(capture);
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[1], "(NLS) stopped after 1 iterations ('small gradient (++)', residual RMSE=0)\n");
}

TEST(ZoCNLSSolver, RecoversExponentialModelFromDistantStart) {
    LambdaObjective f = exponentialFit(2.0, -0.5);
    ZoCNLSSolver solver(f, false, 0);
    solver.SetLogging(false);
    ZoTVector<double> p = vectorOf({1.0, 0.3});
    double residual = -1;
    const ZoCNLSSolver::EResult result = solver.Run(p, residual, 200, 1e-3, 0, ZoCNLSSolver::eGibbs);
    EXPECT_LE(result, ZoCNLSSolver::eSmallStepSize);
    EXPECT_NEAR(p[0], 2.0, 1e-7);
    EXPECT_NEAR(p[1], -0.5, 1e-7);
    EXPECT_LT(residual, 1e-7);
}

// With the gradient and normal matrix fixed (analytic Jacobian 1, residual x), rejected trials
// reveal the damping: trial = x - r / (1 + mu).
TEST(ZoCNLSSolver, FirstRejectionKeepsDampingThenItDoublesAndQuadruples) {
    class Trap : public ZoCNLSObjectiveFunction {
      public:
        Trap() : ZoCNLSObjectiveFunction(1, 1) {}
        ZoTVector<double> Error(const ZoTVector<double>& x) override {
            trials.push_back(x[0]);
            return vectorOf({x[0] < 0.95 ? 10.0 : x[0]});  // any step below 0.95 makes things worse
        }
        ZoTMatrix<double> Jacobian(const ZoTVector<double>& z) override {
            jacobianPoints.push_back(z[0]);
            return fromRows({{1.0}});
        }
        std::vector<double> trials, jacobianPoints;
    } f;
    ZoCNLSSolver solver(f, false, 0);
    solver.SetLogging(false);
    ZoTVector<double> p = vectorOf({1.0});
    double residual = 0;
    Access::run(solver, p, residual, 5, 1.0);  // mu starts at tau * H = 1
    ASSERT_GE(f.trials.size(), 6u);
    // mu: 1, 1 (nu was 1), 2, 8, 64 -> trials 1 - 1 / (1 + mu).
    const double expected[] = {0.5, 0.5, 1 - 1.0 / 3, 1 - 1.0 / 9, 1 - 1.0 / 65};
    for (int i = 0; i < 5; ++i)
        EXPECT_NEAR(f.trials[1 + i], expected[i], 1e-15) << "trial " << i;
    EXPECT_NEAR(p[0], 1 - 1.0 / 65, 1e-15);  // the fifth trial was accepted
    // The overriding Jacobian is asked at the start and at the one accepted point only.
    ASSERT_EQ(f.jacobianPoints.size(), 2u);
    EXPECT_EQ(f.jacobianPoints[0], 1.0);
    EXPECT_NEAR(f.jacobianPoints[1], 1 - 1.0 / 65, 1e-15);
}

TEST(ZoCNLSSolver, LogsEveryFifthAcceptedIteration) {
    // Rosenbrock needs well over five iterations from (-1.2, 1).
    LambdaObjective f(2, 2, [](const ZoTVector<double>& x) {
        return vectorOf({10 * (x[1] - x[0] * x[0]), 1 - x[0]});
    });
    ZoCNLSSolver solver(f, false, 0);
    ScopedLogCapture capture;
    ZoTVector<double> p = vectorOf({-1.2, 1});
    double residual = 0;
    solver.Run(p, residual, 500, 1e-3, 0, ZoCNLSSolver::eGibbs);
    EXPECT_NEAR(p[0], 1.0, 1e-6);
    EXPECT_NEAR(p[1], 1.0, 1e-6);
    const auto lines = logLines(capture);
    ASSERT_GE(lines.size(), 3u);
    // Progress lines only for accepted iterations whose number is a multiple of five.
    for (size_t i = 1; i + 1 < lines.size(); ++i) {
        int iteration = -1;
        ASSERT_EQ(std::sscanf(lines[i].c_str(), "(NLS) iter. %d: residual RMSE=", &iteration), 1) << lines[i];
        EXPECT_EQ(iteration % 5, 0) << lines[i];
    }
    EXPECT_EQ(lines.back().rfind("(NLS) stopped after ", 0), 0u);
}

TEST(ZoCNLSSolver, StepHugeAgainstVariablesIsReportedAlmostSingular) {
    // From z = 0 the limit is 2^52 * 4.44e-16 = 2: a Gauss-Newton step of length 5 exceeds it.
    LambdaObjective f(1, 1, [](const ZoTVector<double>& x) { return vectorOf({x[0] - 5}); });
    ZoCNLSSolver solver(f, false, 0);
    ScopedLogCapture capture;
    ZoTVector<double> p = vectorOf({0});
    double residual = 0;
    EXPECT_EQ(Access::run(solver, p, residual, 10, 1e-9), ZoCNLSSolver::eAlmostSingular);
    EXPECT_EQ(p[0], 0.0);
    EXPECT_EQ(logLines(capture).back(),
              "(NLS) stopped after 1 iterations ('almost singular matrix (-)', residual RMSE=5)\n");
}

TEST(ZoCNLSSolver, LoggingOffWritesNothing) {
    LambdaObjective f = exponentialFit(2.0, -0.5);
    ZoCNLSSolver solver(f, false, 0);
    solver.SetLogging(false);
    ScopedLogCapture capture;
    ZoTVector<double> p = vectorOf({1.0, 0.3});
    double residual = 0;
    solver.Run(p, residual, 50, 1e-3, 3, ZoCNLSSolver::eGibbs);
    EXPECT_TRUE(logLines(capture).empty());
}

TEST(ZoCNLSSolver, NoResidualsEndsWithLSFailedAndNoLog) {
    LambdaObjective f(2, 0, [](const ZoTVector<double>&) { return ZoTVector<double>(); });
    ZoCNLSSolver solver(f, false, 0);
    ScopedLogCapture capture;
    ZoTVector<double> p = vectorOf({1, 2});
    double residual = 42;
    EXPECT_EQ(Access::run(solver, p, residual, 10, 1e-3), ZoCNLSSolver::eLSFailed);
    EXPECT_EQ(residual, 42.0);
    EXPECT_TRUE(logLines(capture).empty());
}

TEST(ZoCNLSSolver, WeightsFollowBiweightOnRobustScaleOrInverseVariance) {
    LambdaObjective f(1, 7, [](const ZoTVector<double>&) { return ZoTVector<double>(7); });
    ZoCNLSSolver robust(f, true, 0);
    const ZoTVector<double> r = vectorOf({-1, -0.5, 0, 0.5, 1, 2, 40});
    const ZoTVector<double> w = Access::computeWeight(robust, r);
    // median 0.5, absolute deviations {1.5, 1, 0.5, 0, 0.5, 1.5, 39.5}: MAD 1.
    const double scale = 1.0 / 0.6745;
    EXPECT_EQ(w[6], 0.0);
    for (int i = 0; i < 6; ++i) {
        const double u = r[i] / scale;
        const double expected = u == 0 ? 1.0 : Access::psiTukey(robust, u) / u;
        EXPECT_NEAR(w[i], expected, 1e-15) << i;
    }
    ZoCNLSSolver plain(f, false, 0);
    const ZoTVector<double> unit = Access::computeWeight(plain, r);
    for (int i = 0; i < 7; ++i)
        EXPECT_EQ(unit[i], 1.0);
    EXPECT_EQ(Access::psiHuber(robust, 1.0), 1.0);
    EXPECT_EQ(Access::psiHuber(robust, -5.0), -1.345);
    EXPECT_EQ(Access::psiTukey(robust, 5.0), 0.0);
    EXPECT_NEAR(Access::psiTukey(robust, 4.6851 / 2), 4.6851 / 2 * 0.5625, 1e-15);
    // Without robustness the weights are the inverse variances.
    class Weighted : public LambdaObjective {
      public:
        Weighted() : LambdaObjective(1, 2, [](const ZoTVector<double>& x) { return x; }) {}
        ZoTVector<double> StdDev() override { return vectorOf({0.5, 4}); }
    } g;
    ZoCNLSSolver weighted(g, false, 0);
    const ZoTVector<double> w2 = Access::computeWeight(weighted, vectorOf({1, 2}));
    EXPECT_EQ(w2[0], 4.0);
    EXPECT_EQ(w2[1], 1.0 / 16);
}

TEST(ZoCNLSSolver, RobustFitIgnoresGrossOutliers) {
    // A line y = 1 + 2 t with three corrupted samples out of 30.
    auto residuals = [](const ZoTVector<double>& x) {
        ZoTVector<double> r(30);
        for (int i = 0; i < 30; ++i) {
            const double t = i / 10.0;
            const double y = 1 + 2 * t + 0.01 * std::sin(7.0 * i) + (i % 10 == 3 ? 25.0 : 0.0);
            r[i] = x[0] + x[1] * t - y;
        }
        return r;
    };
    LambdaObjective f(2, 30, residuals);
    ZoCNLSSolver robust(f, true, 0), plain(f, false, 0);
    robust.SetLogging(false);
    plain.SetLogging(false);
    ZoTVector<double> pr = vectorOf({0.5, 0.5}), pp = vectorOf({0.5, 0.5});
    double rr = 0, rp = 0;
    robust.Run(pr, rr, 100, 1e-3, 0, ZoCNLSSolver::eGibbs);
    plain.Run(pp, rp, 100, 1e-3, 0, ZoCNLSSolver::eGibbs);
    EXPECT_NEAR(pr[0], 1.0, 0.02);
    EXPECT_NEAR(pr[1], 2.0, 0.02);
    EXPECT_GT(std::abs(pp[0] - 1.0), 1.0);  // the plain fit is pulled away
}

TEST(ZoCNLSSolver, StepsAreCutAtTheNearestBoundAndProjectedFromOne) {
    LambdaObjective f(2, 1, [](const ZoTVector<double>& x) { return vectorOf({x[0]}); });
    ZoCNLSSolver s(f, false, 0);
    const ZoTMatrix<double> a = fromRows({{1, 0}});  // x0 <= 1
    const ZoTVector<double> b = vectorOf({1});
    const ZoTVector<double> step = Access::cutBack(s, a, b, vectorOf({0, 0}), vectorOf({4, 3}));
    EXPECT_NEAR(step[0], 1.0, 1e-15);
    EXPECT_NEAR(step[1], 0.75, 1e-15);
    const ZoTVector<double> inside = Access::cutBack(s, a, b, vectorOf({0, 0}), vectorOf({0.5, 3}));
    EXPECT_EQ(inside[0], 0.5);  // no constraint reached: unchanged
    EXPECT_EQ(inside[1], 3.0);
    // From a point on x0 = 1, outward steps are projected onto it, then shortened at x1 <= 2.
    const ZoTMatrix<double> box = fromRows({{1, 0}, {0, 1}});
    for (const auto& [dy, ey] : {std::pair{1.0, 1.0}, std::pair{5.0, 2.0}}) {
        const ZoTVector<double> step =
            Access::cutBack(s, box, vectorOf({1, 2}), vectorOf({1, 0}), vectorOf({1, dy}));
        EXPECT_NEAR(step[0], 0.0, 1e-15);
        EXPECT_NEAR(step[1], ey, 1e-15);
    }
}

TEST(ZoCNLSSolver, ConstraintCheckHasNoToleranceAndIgnoresNaN) {
    LambdaObjective f(1, 1, [](const ZoTVector<double>& x) { return x; });
    ZoCNLSSolver s(f, false, 0);
    const ZoTMatrix<double> a = fromRows({{1}});
    EXPECT_TRUE(Access::checkConstraints(s, a, vectorOf({1}), vectorOf({1})));
    EXPECT_FALSE(Access::checkConstraints(s, a, vectorOf({1}), vectorOf({1 + 1e-15})));
    EXPECT_TRUE(Access::checkConstraints(s, a, vectorOf({1}), vectorOf({std::nan("")})));
}

TEST(ZoCNLSSolver, BoundedMinimumLiesOnTheBound) {
    // Unconstrained minimum at (3, -1); x0 <= 1 moves it to (1, -1).
    LambdaObjective f(2, 2, [](const ZoTVector<double>& x) { return vectorOf({x[0] - 3, x[1] + 1}); });
    f.AddBounds(0, -5, 1);
    ZoCNLSSolver solver(f, false, 0);
    ScopedLogCapture capture;
    ZoTVector<double> p = vectorOf({0, 0});
    double residual = 0;
    const ZoCNLSSolver::EResult result = solver.Run(p, residual, 100, 1e-3, 0, ZoCNLSSolver::eGibbs);
    EXPECT_LE(result, ZoCNLSSolver::eSmallStepSize);
    EXPECT_NEAR(p[0], 1.0, 1e-12);
    EXPECT_LE(p[0], 1.0);
    EXPECT_NEAR(p[1], -1.0, 1e-8);
    EXPECT_NEAR(residual, std::sqrt(2.0), 1e-8);
}

TEST(ZoCNLSSolver, InfeasibleStartIsRepairedByLinearProgramme) {
    LambdaObjective f(2, 2, [](const ZoTVector<double>& x) { return vectorOf({x[0] - 3, x[1] - 0.5}); });
    f.AddBounds(0, 2, 4);
    f.AddBounds(1, 0, 1);
    ZoCNLSSolver solver(f, false, 0);
    ScopedLogCapture capture;
    ZoTVector<double> p = vectorOf({10, 10});
    double residual = 0;
    EXPECT_LE(solver.Run(p, residual, 100, 1e-3, 0, ZoCNLSSolver::eGibbs), ZoCNLSSolver::eSmallStepSize);
    EXPECT_NEAR(p[0], 3.0, 1e-8);
    EXPECT_NEAR(p[1], 0.5, 1e-8);
    const auto lines = logLines(capture);
    ASSERT_GE(lines.size(), 4u);
    EXPECT_EQ(lines[0], "(NLS) constructed initial feasible solution\n");
    EXPECT_EQ(lines[1], "2-vector:\n");
    // The start minimises the sum of the variables just inside the lower bounds.
    EXPECT_EQ(lines[2],
              format("\t%g,", 2 + 2.220446049250313e-14) + format("\t%g;\n", 2.220446049250313e-14));
}

TEST(ZoCNLSSolver, InfeasibleConstraintsEndTheRunAtOnce) {
    LambdaObjective f(1, 1, [](const ZoTVector<double>& x) { return x; });
    f.AddLowerBound(0, 2);
    f.AddUpperBound(0, 1);
    ZoCNLSSolver solver(f, false, 0);
    ScopedLogCapture capture;
    ZoTVector<double> p = vectorOf({5});
    double residual = 7;
    EXPECT_EQ(solver.Run(p, residual, 100, 1e-3, 0, ZoCNLSSolver::eGibbs),
              ZoCNLSSolver::eConstraintsViolated);
    EXPECT_EQ(residual, 7.0);
    EXPECT_EQ(p[0], 5.0);
    const auto lines = logLines(capture);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0], "(NLS) infeasible constraints detected\n");
}

TEST(ZoCNLSSolver, FixedParameterStaysAtItsValue) {
    LambdaObjective f = exponentialFit(2.0, -0.5);
    ASSERT_TRUE(f.AddEquality(1, -0.5));
    ZoCNLSSolver solver(f, false, 0);
    solver.SetLogging(false);
    ZoTVector<double> p = vectorOf({7, 123});
    double residual = 0;
    solver.Run(p, residual, 100, 1e-3, 0, ZoCNLSSolver::eGibbs);
    EXPECT_EQ(p[1], -0.5);
    EXPECT_NEAR(p[0], 2.0, 1e-9);
}

TEST(ZoCNLSSolver, StepThatRoundingPushesPastBoundIsPulledBackInside) {
    // 0.3 + 0.6 lands on 0.9 + 1 ulp: the cut-back step must still be taken.
    LambdaObjective f(1, 1, [](const ZoTVector<double>& x) { return vectorOf({x[0] - 3}); });
    f.AddUpperBound(0, 0.9);
    ZoCNLSSolver solver(f, false, 0);
    ScopedLogCapture capture;
    ZoTVector<double> p = vectorOf({0.3});
    double residual = 0;
    EXPECT_EQ(solver.Run(p, residual, 150, 1e-3, 0, ZoCNLSSolver::eGibbs), ZoCNLSSolver::eSmallStepSize);
    EXPECT_LE(p[0], 0.9);
    EXPECT_NEAR(p[0], 0.9, 1e-12);
    const auto lines = logLines(capture);
    ASSERT_EQ(lines.size(), 2u);  // start and stop, no "violates constraints" warnings
    int iterations = 0;
    ASSERT_EQ(std::sscanf(lines[1].c_str(), "(NLS) stopped after %d", &iterations), 1);
    EXPECT_LE(iterations, 3);
}

TEST(ZoCNLSSolver, StartJustInsideBoundReachesSameMinimumAsStartOnIt) {
    // Minimum (2000, 2e5); x0 <= 1000 makes it (1000, 2e5). At |z| ~ 1e5 a start a rounding
    // error or 1e-12 inside the bound is "on" it: the step slides along the bound instead of
    // being cut to a sliver that stops the run as a small step.
    for (double start : {1000.0, 1000.0 - 1e-12, std::nextafter(1000.0, 0.0)}) {
        LambdaObjective f(2, 2, [](const ZoTVector<double>& x) {
            return vectorOf({x[0] - 2000, x[1] - 2e5});
        });
        f.AddUpperBound(0, 1000);
        ZoCNLSSolver solver(f, false, 0);
        solver.SetLogging(false);
        ZoTVector<double> p = vectorOf({start, 1e5});
        double residual = 0;
        EXPECT_LE(solver.Run(p, residual, 150, 1e-3, 0, ZoCNLSSolver::eGibbs), ZoCNLSSolver::eSmallStepSize);
        EXPECT_NEAR(p[0], 1000, 1e-9) << start;
        EXPECT_NEAR(p[1], 2e5, 1e-4) << start;
    }
}

TEST(ZoCNLSSolver, NonFiniteResidualsOrDerivativesEndTheRunAsFailedSolve) {
    class Broken : public LambdaObjective {
      public:
        Broken(Residuals f, bool badJacobian) : LambdaObjective(1, 2, std::move(f)), m_bad(badJacobian) {}
        ZoTMatrix<double> Jacobian(const ZoTVector<double>& z) override {
            ZoTMatrix<double> J = LambdaObjective::Jacobian(z);
            if (m_bad)
                J(1, 0) = std::nan("");
            return J;
        }
        bool m_bad;
    };
    const double inf = std::numeric_limits<double>::infinity();
    auto nan = [](const ZoTVector<double>& x) { return vectorOf({x[0] - 1, std::nan("")}); };
    auto infinite = [inf](const ZoTVector<double>& x) { return vectorOf({x[0] - 1, inf}); };
    auto fine = [](const ZoTVector<double>& x) { return vectorOf({x[0] - 1, x[0] + 1}); };
    Broken cases[] = {{nan, false}, {infinite, false}, {fine, true}};
    for (Broken& f : cases) {
        ZoCNLSSolver solver(f, false, 0);
        ScopedLogCapture capture;
        ZoTVector<double> p = vectorOf({4});
        double residual = 0;
        EXPECT_EQ(solver.Run(p, residual, 20, 1e-3, 0, ZoCNLSSolver::eGibbs), ZoCNLSSolver::eLSFailed);
        EXPECT_EQ(p[0], 4.0);
        const auto lines = logLines(capture);
        ASSERT_EQ(lines.size(), 3u);
        EXPECT_EQ(lines[1], "(NLS) residuals or their derivatives are not finite\n");
        EXPECT_EQ(lines[2].rfind("(NLS) stopped after 1 iterations ('LS solution failed (--)'", 0), 0u);
    }
}

TEST(ZoCNLSSolver, ZeroStandardDeviationMakesTheSolveFail) {
    class Exact : public LambdaObjective {  // a residual known exactly has weight 1 / 0^2
      public:
        Exact() : LambdaObjective(1, 2, [](const ZoTVector<double>& x) { return vectorOf({x[0] - 1, x[0]}); }) {}
        ZoTVector<double> StdDev() override { return vectorOf({1, 0}); }
    } f;
    ZoCNLSSolver solver(f, false, 0);
    ScopedLogCapture capture;
    ZoTVector<double> p = vectorOf({4});
    double residual = 0;
    EXPECT_EQ(solver.Run(p, residual, 20, 1e-3, 0, ZoCNLSSolver::eGibbs), ZoCNLSSolver::eLSFailed);
    EXPECT_EQ(logLines(capture).back().rfind("(NLS) stopped after 1 iterations ('LS solution failed (--)'", 0), 0u);
}

TEST(ZoCNLSSolver, RefusesArgumentsOutsideItsContract) {
    LambdaObjective f(2, 3, [](const ZoTVector<double>& x) { return vectorOf({x[0], x[1]}); });
    ZoCNLSSolver solver(f, false, 0);
    solver.SetLogging(false);
    double residual = 0;
    ZoTVector<double> shortParams = vectorOf({1});
    EXPECT_THROW(solver.Run(shortParams, residual, 10, 1e-3, 0, ZoCNLSSolver::eGibbs), std::invalid_argument);
    ZoTVector<double> p = vectorOf({1, 2});
    EXPECT_THROW(solver.Run(p, residual, -1, 1e-3, 0, ZoCNLSSolver::eGibbs), std::invalid_argument);
    // Two residuals where three are declared.
    EXPECT_THROW(solver.Run(p, residual, 10, 1e-3, 0, ZoCNLSSolver::eGibbs), std::length_error);
}
