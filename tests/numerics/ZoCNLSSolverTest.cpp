// Levenberg-Marquardt runs: convergence, damping, weights, constraints, stop results and log.
#include "NumericsTestSupport.h"
#include "CapturingLogSink.h"
#include "ZoCNLSSolver.h"

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
using testsupport::LambdaObjective;
using testsupport::logLines;
using testsupport::solveLogged;
using testsupport::startsWith;
using testsupport::vectorOf;
using Vec = ZoTVector<double>;

std::string format(const char* pattern, double value) {
    char buffer[128];
    std::snprintf(buffer, sizeof buffer, pattern, value);
    return buffer;
}

// y = a exp(b t) sampled without noise at t = 0, 0.1, ..., 1.9.
LambdaObjective exponentialFit(double a, double b) {
    return LambdaObjective(2, 20, [a, b](const ZoTVector<double>& x) {
        ZoTVector<double> r(20);
        for (int i = 0; i < 20; ++i)
            r[i] = x[0] * std::exp(x[1] * 0.1 * i) - a * std::exp(b * 0.1 * i);
        return r;
    });
}

// An objective whose Jacobian can be poisoned with NaN.
class Rigged : public LambdaObjective {
  public:
    Rigged(LambdaObjective f, bool nanJacobian) : LambdaObjective(std::move(f)), m_nanJacobian(nanJacobian) {}
    ZoTMatrix<double> Jacobian(const ZoTVector<double>& z) override {
        ZoTMatrix<double> J = LambdaObjective::Jacobian(z);
        if (m_nanJacobian)
            J(J.rows - 1, 0) = std::nan("");
        return J;
    }

  private:
    bool m_nanJacobian;
};

}  // namespace

// Runs that stop early: the result, an untouched start or residual where nothing was solved,
// and the exact log (an expected line that is cut short is matched as a prefix).
TEST(ZoCNLSSolver, StopsWithTheirResultAndLog) {
    const double inf = std::numeric_limits<double>::infinity();
    const double rmse = std::sqrt((4.0 + 16.0) / 2.0);
    const std::string failed = "(NLS) stopped after 1 iterations ('LS solution failed (--)'";
    const std::string notFinite = "(NLS) residuals or their derivatives are not finite\n";
    auto linear = [](const ZoTVector<double>& x) { return vectorOf({x[0] - 1, x[0] + 1}); };
    struct {
        const char* name;
        std::function<LambdaObjective()> make;
        std::vector<double> start;
        int maxIter;
        ZoCNLSSolver::EResult result;
        double p, residual;  // p: NaN when not checked
        std::vector<std::string> lines;
        // clang-format off
    } cases[] = {
        {"zero iterations", [&] { return LambdaObjective(1, 2, linear); }, {3}, 0, ZoCNLSSolver::eMaxIterExceeded,
         3, rmse, {format("(NLS) iter. 0: residual RMSE=%g\n", rmse),
                   format("(NLS) stopped after 0 iterations ('maxiter exceeded (-)', residual RMSE=%g)\n", rmse)}},
        {"exact start", [] { return exponentialFit(2.0, -0.5); }, {2, -0.5}, 100, ZoCNLSSolver::eSmallGradient, 2, 0,
         {"(NLS) iter. 0: residual RMSE=0\n",
          "(NLS) stopped after 1 iterations ('small gradient (++)', residual RMSE=0)\n"}},
        // From z = 0 the limit is 2^52 * 4.44e-16 = 2: a Gauss-Newton step of length 5 exceeds it.
        {"huge step", [] { return LambdaObjective(1, 1, [](const Vec& x) { return vectorOf({x[0] - 5}); }); },
         {0}, 10, ZoCNLSSolver::eAlmostSingular, 0, 5, {"(NLS) iter. 0: residual RMSE=5\n",
         "(NLS) stopped after 1 iterations ('almost singular matrix (-)', residual RMSE=5)\n"}},
        {"no residuals", [] { return LambdaObjective(2, 0, [](const Vec&) { return Vec(); }); },
         {1, 2}, 10, ZoCNLSSolver::eLSFailed, 1, 42, {}},
        {"contradicting bounds", [] { LambdaObjective f(1, 1, [](const Vec& x) { return x; });
                                      f.AddLowerBound(0, 2); f.AddUpperBound(0, 1); return f; },
         {5}, 100, ZoCNLSSolver::eConstraintsViolated, 5, 42, {"(NLS) infeasible constraints detected\n"}},
        {"NaN residual", [] { return LambdaObjective(1, 2, [](const Vec& x) { return vectorOf({x[0] - 1, NAN}); }); },
         {4}, 20, ZoCNLSSolver::eLSFailed, 4, NAN, {"(NLS) iter. 0", notFinite, failed}},
        {"Inf residual", [=] { return LambdaObjective(1, 2, [=](const Vec& x) { return vectorOf({x[0] - 1, inf}); }); },
         {4}, 20, ZoCNLSSolver::eLSFailed, 4, NAN, {"(NLS) iter. 0", notFinite, failed}},
        {"NaN derivative", [&] { return LambdaObjective(1, 2, linear); },
         {4}, 20, ZoCNLSSolver::eLSFailed, 4, NAN, {"(NLS) iter. 0", notFinite, failed}},
        // A residual known exactly has weight 1 / 0^2.
        {"zero deviation", [&] { LambdaObjective f(1, 2, linear); f.stdDev = {1, 0}; return f; },
         {4}, 20, ZoCNLSSolver::eLSFailed, NAN, NAN, {"(NLS) iter. 0", failed}},
    };
    // clang-format on
    for (const auto& test : cases) {
        Rigged f(test.make(), std::string(test.name) == "NaN derivative");
        const auto o = solveLogged(f, test.start, test.maxIter, 0, ZoCNLSSolver::eGibbs, 42);
        EXPECT_EQ(o.result, test.result) << test.name;
        if (!std::isnan(test.p)) {
            EXPECT_EQ(o.p[0], test.p) << test.name;
        }
        if (!std::isnan(test.residual)) {
            EXPECT_DOUBLE_EQ(o.residual, test.residual) << test.name;
        }
        ASSERT_EQ(o.lines.size(), test.lines.size()) << test.name;
        for (size_t i = 0; i < o.lines.size(); ++i)
            EXPECT_TRUE(startsWith(o.lines[i], test.lines[i])) << test.name << ": " << o.lines[i];
    }
    EXPECT_STREQ(ZoCNLSSolver::ResultText(ZoCNLSSolver::eConstraintsViolated), "constraints violated (-)");
    EXPECT_STREQ(ZoCNLSSolver::ResultText(ZoCNLSSolver::eSmallStepSize), "small step size (++)");
}

// Minima known in closed form, from starts away from them, inside bounds and on them.
TEST(ZoCNLSSolver, ReachesClosedFormMinimaUnderBoundsAndEqualities) {
    using R = std::function<Vec(const Vec&)>;
    auto shifted = [](double a, double b) -> R {
        return [a, b](const Vec& x) { return vectorOf({x[0] - a, x[1] - b}); };
    };
    auto bounded = [&] {
        LambdaObjective f(2, 2, shifted(2000, 2e5));
        f.AddUpperBound(0, 1000);
        return f;
    };
    struct {
        const char* name;
        std::function<LambdaObjective()> make;
        std::vector<double> start, expected;
        double tolerance, residual;  // residual: NaN when not checked
        // clang-format off
    } cases[] = {
        {"distant start", [] { return exponentialFit(2.0, -0.5); }, {1.0, 0.3}, {2.0, -0.5}, 1e-7, 0},
        {"rosenbrock", [] { return LambdaObjective(2, 2, [](const Vec& x) {
                                return vectorOf({10 * (x[1] - x[0] * x[0]), 1 - x[0]}); }); },
         {-1.2, 1}, {1, 1}, 1e-6, NAN},
        // Unconstrained minimum at (3, -1); x0 <= 1 moves it to (1, -1).
        {"on the bound", [&] { LambdaObjective f(2, 2, shifted(3, -1)); f.AddBounds(0, -5, 1); return f; },
         {0, 0}, {1, -1}, 1e-8, std::sqrt(2.0)},
        {"fixed parameter", [] { LambdaObjective f = exponentialFit(2.0, -0.5); f.AddEquality(1, -0.5); return f; },
         {7, 123}, {2, -0.5}, 1e-9, NAN},
        // Minimum (2000, 2e5); x0 <= 1000 makes it (1000, 2e5). At |z| ~ 1e5 a start a rounding
        // error or 1e-12 inside the bound is "on" it: the step slides along the bound instead of
        // being cut to a sliver that stops the run as a small step.
        {"start on bound", bounded, {1000, 1e5}, {1000, 2e5}, 1e-9, NAN},
        {"start 1e-12 inside", bounded, {1000 - 1e-12, 1e5}, {1000, 2e5}, 1e-9, NAN},
        {"start 1 ulp inside", bounded, {std::nextafter(1000.0, 0.0), 1e5}, {1000, 2e5}, 1e-9, NAN},
    };
    // clang-format on
    for (const auto& test : cases) {
        LambdaObjective f = test.make();
        const auto o = solveLogged(f, test.start, 500);
        EXPECT_LE(o.result, ZoCNLSSolver::eSmallStepSize) << test.name;
        for (int i = 0; i < 2; ++i)
            EXPECT_NEAR(o.p[i], test.expected[i], test.tolerance * std::max(1.0, std::abs(test.expected[i])))
                << test.name;
        if (f.HasInequalities()) {
            EXPECT_LE(o.p[0], test.expected[0]) << test.name;
        }
        if (f.HasEqualities()) {
            EXPECT_EQ(o.p[1], test.expected[1]) << test.name;
        }
        if (!std::isnan(test.residual)) {
            EXPECT_NEAR(o.residual, test.residual, 1e-7) << test.name;
        }
        if (std::string(test.name) == "rosenbrock") {
            // Progress lines only for accepted iterations whose number is a multiple of five.
            ASSERT_GE(o.lines.size(), 3u);
            for (size_t i = 1; i + 1 < o.lines.size(); ++i) {
                int iteration = -1;
                ASSERT_EQ(std::sscanf(o.lines[i].c_str(), "(NLS) iter. %d: residual RMSE=", &iteration), 1);
                EXPECT_EQ(iteration % 5, 0) << o.lines[i];
            }
            EXPECT_TRUE(startsWith(o.lines.back(), "(NLS) stopped after "));
        }
    }
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

TEST(ZoCNLSSolver, WeightsFollowBiweightOnRobustScaleOrInverseVariance) {
    LambdaObjective f(1, 7, [](const ZoTVector<double>&) { return ZoTVector<double>(7); });
    ZoCNLSSolver robust(f, true, 0), plain(f, false, 0);
    const ZoTVector<double> r = vectorOf({-1, -0.5, 0, 0.5, 1, 2, 40});
    const ZoTVector<double> w = Access::computeWeight(robust, r), unit = Access::computeWeight(plain, r);
    // median 0.5, absolute deviations {1.5, 1, 0.5, 0, 0.5, 1.5, 39.5}: MAD 1.
    const double scale = 1.0 / 0.6745;
    EXPECT_EQ(w[6], 0.0);
    for (int i = 0; i < 7; ++i) {
        const double u = r[i] / scale;
        if (i < 6) {
            EXPECT_NEAR(w[i], u == 0 ? 1.0 : Access::psiTukey(robust, u) / u, 1e-15) << i;
        }
        EXPECT_EQ(unit[i], 1.0);
    }
    EXPECT_EQ(Access::psiHuber(robust, 1.0), 1.0);
    EXPECT_EQ(Access::psiHuber(robust, -5.0), -1.345);
    EXPECT_EQ(Access::psiTukey(robust, 5.0), 0.0);
    EXPECT_NEAR(Access::psiTukey(robust, 4.6851 / 2), 4.6851 / 2 * 0.5625, 1e-15);
    // Without robustness the weights are the inverse variances.
    LambdaObjective g(1, 2, [](const ZoTVector<double>& x) { return x; });
    g.stdDev = {0.5, 4};
    ZoCNLSSolver weighted(g, false, 0);
    const ZoTVector<double> w2 = Access::computeWeight(weighted, vectorOf({1, 2}));
    EXPECT_EQ(w2[0], 4.0);
    EXPECT_EQ(w2[1], 1.0 / 16);
}

TEST(ZoCNLSSolver, RobustFitIgnoresGrossOutliersAndWritesNoLogWhenOff) {
    // A line y = 1 + 2 t with three corrupted samples out of 30.
    LambdaObjective f(2, 30, [](const ZoTVector<double>& x) {
        ZoTVector<double> r(30);
        for (int i = 0; i < 30; ++i) {
            const double t = i / 10.0;
            r[i] = x[0] + x[1] * t - (1 + 2 * t + 0.01 * std::sin(7.0 * i) + (i % 10 == 3 ? 25.0 : 0.0));
        }
        return r;
    });
    ZoCNLSSolver robust(f, true, 0);
    robust.SetLogging(false);
    ZoTVector<double> pr = vectorOf({0.5, 0.5});
    double rr = 0;
    {
        ScopedLogCapture capture;
        robust.Run(pr, rr, 100, 1e-3, 3, ZoCNLSSolver::eGibbs);  // its skipped multistart too
        EXPECT_TRUE(logLines(capture).empty());                  // logging off writes nothing
    }
    const auto plain = solveLogged(f, {0.5, 0.5}, 100);
    EXPECT_NEAR(pr[0], 1.0, 0.02);
    EXPECT_NEAR(pr[1], 2.0, 0.02);
    EXPECT_GT(std::abs(plain.p[0] - 1.0), 1.0);  // the plain fit is pulled away
}

TEST(ZoCNLSSolver, StepsAreCutAtTheNearestBoundAndProjectedFromOne) {
    LambdaObjective f(2, 1, [](const ZoTVector<double>& x) { return vectorOf({x[0]}); });
    ZoCNLSSolver s(f, false, 0);
    const ZoTMatrix<double> a = fromRows({{1, 0}}), box = fromRows({{1, 0}, {0, 1}});  // x0 <= 1; x1 <= 2
    struct {
        const ZoTMatrix<double>& a;
        std::vector<double> b, z, d, expected;
    } cases[] = {
        {a, {1}, {0, 0}, {4, 3}, {1, 0.75}},    // cut at x0 = 1
        {a, {1}, {0, 0}, {0.5, 3}, {0.5, 3}},   // no constraint reached: unchanged
        {box, {1, 2}, {1, 0}, {1, 1}, {0, 1}},  // from a point on x0 = 1: projected onto it
        {box, {1, 2}, {1, 0}, {1, 5}, {0, 2}},  // ... then shortened at x1 <= 2
    };
    for (const auto& test : cases) {
        const ZoTVector<double> step =
            Access::cutBack(s, test.a, vectorOf(test.b), vectorOf(test.z), vectorOf(test.d));
        EXPECT_NEAR(step[0], test.expected[0], 1e-15);
        EXPECT_NEAR(step[1], test.expected[1], 1e-15);
    }
    // The check itself has no tolerance and lets NaN pass.
    const ZoTMatrix<double> one = fromRows({{1}});
    EXPECT_TRUE(Access::checkConstraints(s, one, vectorOf({1}), vectorOf({1})));
    EXPECT_FALSE(Access::checkConstraints(s, one, vectorOf({1}), vectorOf({1 + 1e-15})));
    EXPECT_TRUE(Access::checkConstraints(s, one, vectorOf({1}), vectorOf({std::nan("")})));
}

TEST(ZoCNLSSolver, InfeasibleStartIsRepairedByLinearProgramme) {
    LambdaObjective f(2, 2, [](const ZoTVector<double>& x) { return vectorOf({x[0] - 3, x[1] - 0.5}); });
    f.AddBounds(0, 2, 4);
    f.AddBounds(1, 0, 1);
    const auto o = solveLogged(f, {10, 10}, 100);
    EXPECT_LE(o.result, ZoCNLSSolver::eSmallStepSize);
    EXPECT_NEAR(o.p[0], 3.0, 1e-8);
    EXPECT_NEAR(o.p[1], 0.5, 1e-8);
    ASSERT_GE(o.lines.size(), 4u);
    EXPECT_EQ(o.lines[0], "(NLS) constructed initial feasible solution\n");
    EXPECT_EQ(o.lines[1], "2-vector:\n");
    // The start minimises the sum of the variables just inside the lower bounds.
    EXPECT_EQ(o.lines[2],
              format("\t%g,", 2 + 2.220446049250313e-14) + format("\t%g;\n", 2.220446049250313e-14));
}

TEST(ZoCNLSSolver, StepThatRoundingPushesPastBoundIsPulledBackInside) {
    // 0.3 + 0.6 lands on 0.9 + 1 ulp: the cut-back step must still be taken.
    LambdaObjective f(1, 1, [](const ZoTVector<double>& x) { return vectorOf({x[0] - 3}); });
    f.AddUpperBound(0, 0.9);
    const auto o = solveLogged(f, {0.3}, 150);
    EXPECT_EQ(o.result, ZoCNLSSolver::eSmallStepSize);
    EXPECT_LE(o.p[0], 0.9);
    EXPECT_NEAR(o.p[0], 0.9, 1e-12);
    ASSERT_EQ(o.lines.size(), 2u);  // start and stop, no "violates constraints" warnings
    int iterations = 0;
    ASSERT_EQ(std::sscanf(o.lines[1].c_str(), "(NLS) stopped after %d", &iterations), 1);
    EXPECT_LE(iterations, 3);
}

TEST(ZoCNLSSolver, RefusesArgumentsOutsideItsContract) {
    LambdaObjective f(2, 3, [](const ZoTVector<double>& x) { return vectorOf({x[0], x[1]}); });
    ZoCNLSSolver solver(f, false, 0);
    solver.SetLogging(false);
    double residual = 0;
    ZoTVector<double> shortParams = vectorOf({1}), p = vectorOf({1, 2});
    EXPECT_THROW(solver.Run(shortParams, residual, 10, 1e-3, 0, ZoCNLSSolver::eGibbs), std::invalid_argument);
    EXPECT_THROW(solver.Run(p, residual, -1, 1e-3, 0, ZoCNLSSolver::eGibbs), std::invalid_argument);
    // Two residuals where three are declared.
    EXPECT_THROW(solver.Run(p, residual, 10, 1e-3, 0, ZoCNLSSolver::eGibbs), std::length_error);
}
