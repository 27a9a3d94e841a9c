// Levenberg-Marquardt runs: convergence, damping, weights, constraints, stop results and log.
#include "NumericsTestSupport.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <stdexcept>
#include <string>
#include <vector>

using namespace testsupport;
using Access = ZoCNLSSolverTestAccess;

namespace {

std::string format(const char* pattern, double value) {
    char buffer[128];
    std::snprintf(buffer, sizeof buffer, pattern, value);
    return buffer;
}

// y = a exp(b t) sampled without noise at t = 0, 0.1, ..., 1.9.
LambdaObjective exponentialFit(double a, double b) {
    return LambdaObjective(2, 20, [a, b](const Vec& x) {
        Vec r(20);
        for (int i = 0; i < 20; ++i)
            r[i] = x[0] * std::exp(x[1] * 0.1 * i) - a * std::exp(b * 0.1 * i);
        return r;
    });
}

}  // namespace

// Runs that stop early: the result, an untouched start or residual where nothing was solved, and
// the exact log (an expected line that is cut short is matched as a prefix).
TEST(ZoCNLSSolver, StopsWithTheirResultAndLog) {
    const double rmse = std::sqrt((4.0 + 16.0) / 2.0), inf = std::numeric_limits<double>::infinity();
    const std::string failed = "(NLS) stopped after 1 iterations ('LS solution failed (--)'";
    const std::string notFinite = "(NLS) residuals or their derivatives are not finite\n";
    auto linear = [](const Vec& x) { return vectorOf({x[0] - 1, x[0] + 1}); };
    auto withDeviations = [&](std::vector<double> deviations) {
        LambdaObjective f(1, 2, linear);
        f.stdDev = deviations;
        return f;
    };
    struct {
        const char* name;
        LambdaObjective f;
        std::vector<double> start;
        int maxIter;
        ZoCNLSSolver::EResult result;
        double p, residual;  // NaN when not checked
        std::vector<std::string> lines;
        // clang-format off
    } cases[] = {
        {"zero iterations", LambdaObjective(1, 2, linear), {3}, 0, ZoCNLSSolver::eMaxIterExceeded, 3, rmse,
         {format("(NLS) iter. 0: residual RMSE=%g\n", rmse),
          format("(NLS) stopped after 0 iterations ('maxiter exceeded (-)', residual RMSE=%g)\n", rmse)}},
        {"exact start", exponentialFit(2.0, -0.5), {2, -0.5}, 100, ZoCNLSSolver::eSmallGradient, 2, 0,
         {"(NLS) iter. 0: residual RMSE=0\n",
          "(NLS) stopped after 1 iterations ('small gradient (++)', residual RMSE=0)\n"}},
        // From z = 0 the limit is 2^52 * 4.44e-16 = 2: a Gauss-Newton step of length 5 exceeds it.
        {"huge step", LambdaObjective(1, 1, [](const Vec& x) { return vectorOf({x[0] - 5}); }), {0}, 10,
         ZoCNLSSolver::eAlmostSingular, 0, 5, {"(NLS) iter. 0: residual RMSE=5\n",
         "(NLS) stopped after 1 iterations ('almost singular matrix (-)', residual RMSE=5)\n"}},
        {"no residuals", LambdaObjective(2, 0, [](const Vec&) { return Vec(); }), {1, 2}, 10,
         ZoCNLSSolver::eLSFailed, 1, 42, {}},
        {"NaN residual", LambdaObjective(1, 2, [](const Vec& x) { return vectorOf({x[0] - 1, NAN}); }), {4}, 20,
         ZoCNLSSolver::eLSFailed, 4, NAN, {"(NLS) iter. 0", notFinite, failed}},
        {"Inf residual", LambdaObjective(1, 2, [=](const Vec& x) { return vectorOf({x[0] - 1, inf}); }), {4}, 20,
         ZoCNLSSolver::eLSFailed, 4, NAN, {"(NLS) iter. 0", notFinite, failed}},
        // Finite at the start only: the difference quotients around it are NaN.
        {"NaN derivative", LambdaObjective(1, 1, [](const Vec& x) { return vectorOf({x[0] == 4 ? 3 : NAN}); }),
         {4}, 20, ZoCNLSSolver::eLSFailed, 4, 3, {"(NLS) iter. 0", notFinite, failed}},
        // A residual known exactly has weight 1 / 0^2.
        {"zero deviation", withDeviations({1, 0}), {4}, 20, ZoCNLSSolver::eLSFailed, NAN, NAN,
         {"(NLS) iter. 0", failed}},
    };
    // clang-format on
    for (auto& test : cases) {
        const auto o = solveLogged(test.f, test.start, test.maxIter, 0, ZoCNLSSolver::eGibbs, 42);
        EXPECT_EQ(o.result, test.result) << test.name;
        EXPECT_TRUE(std::isnan(test.p) || o.p[0] == test.p) << test.name;
        EXPECT_TRUE(std::isnan(test.residual) || std::abs(o.residual - test.residual) < 1e-12) << test.name;
        ASSERT_EQ(o.lines.size(), test.lines.size()) << test.name;
        for (size_t i = 0; i < o.lines.size(); ++i)
            EXPECT_TRUE(startsWith(o.lines[i], test.lines[i])) << test.name << ": " << o.lines[i];
    }
    EXPECT_STREQ(ZoCNLSSolver::ResultText(ZoCNLSSolver::eConstraintsViolated), "constraints violated (-)");
    EXPECT_STREQ(ZoCNLSSolver::ResultText(ZoCNLSSolver::eSmallStepSize), "small step size (++)");
}

// Minima known in closed form, from starts away from them, inside bounds and on them.
TEST(ZoCNLSSolver, ReachesClosedFormMinimaUnderBoundsAndEqualities) {
    auto shifted = [](double a, double b, double upper) {
        LambdaObjective f(2, 2, [a, b](const Vec& x) { return vectorOf({x[0] - a, x[1] - b}); });
        f.AddBounds(0, -5000, upper);
        return f;
    };
    LambdaObjective fixed = exponentialFit(2.0, -0.5);
    fixed.AddEquality(1, -0.5);
    struct {
        const char* name;
        LambdaObjective f;
        std::vector<double> start, expected;
        double tolerance, residual;  // residual: NaN when not checked
        // clang-format off
    } cases[] = {
        {"distant start", exponentialFit(2.0, -0.5), {1.0, 0.3}, {2.0, -0.5}, 1e-7, 0},
        {"rosenbrock", LambdaObjective(2, 2, [](const Vec& x) { return vectorOf({10 * (x[1] - x[0] * x[0]), 1 - x[0]}); }),
         {-1.2, 1}, {1, 1}, 1e-6, NAN},
        // Unconstrained minimum at (3, -1); x0 <= 1 moves it to (1, -1).
        {"on the bound", shifted(3, -1, 1), {0, 0}, {1, -1}, 1e-8, std::sqrt(2.0)},
        {"fixed parameter", fixed, {7, 123}, {2, -0.5}, 1e-9, NAN},
        // Minimum (2000, 2e5); x0 <= 1000 makes it (1000, 2e5). At |z| ~ 1e5 a start a rounding
        // error or 1e-12 inside the bound is "on" it: the step slides along the bound instead of
        // being cut to a sliver that stops the run as a small step.
        {"start on bound", shifted(2000, 2e5, 1000), {1000, 1e5}, {1000, 2e5}, 1e-9, NAN},
        {"start 1e-12 inside", shifted(2000, 2e5, 1000), {1000 - 1e-12, 1e5}, {1000, 2e5}, 1e-9, NAN},
        {"start 1 ulp inside", shifted(2000, 2e5, 1000), {std::nextafter(1000.0, 0.0), 1e5}, {1000, 2e5}, 1e-9, NAN},
    };
    // clang-format on
    for (auto& test : cases) {
        const auto o = solveLogged(test.f, test.start, 500);
        EXPECT_LE(o.result, ZoCNLSSolver::eSmallStepSize) << test.name;
        for (int i = 0; i < 2; ++i)
            EXPECT_NEAR(o.p[i], test.expected[i], test.tolerance * std::max(1.0, std::abs(test.expected[i])))
                << test.name;
        EXPECT_TRUE(!test.f.HasInequalities() || o.p[0] <= test.expected[0]) << test.name;
        EXPECT_TRUE(!test.f.HasEqualities() || o.p[1] == test.expected[1]) << test.name;
        EXPECT_TRUE(std::isnan(test.residual) || std::abs(o.residual - test.residual) < 1e-7) << test.name;
        // Progress lines only for accepted iterations whose number is a multiple of five.
        ASSERT_GE(o.lines.size(), 2u);
        for (size_t i = 1; i + 1 < o.lines.size(); ++i) {
            int iteration = -1;
            ASSERT_EQ(std::sscanf(o.lines[i].c_str(), "(NLS) iter. %d: residual RMSE=", &iteration), 1);
            EXPECT_EQ(iteration % 5, 0) << o.lines[i];
        }
        EXPECT_TRUE(startsWith(o.lines.back(), "(NLS) stopped after ")) << test.name;
    }
}

// Residual x with Jacobian 1 keeps gradient and normal matrix fixed, so each trial reveals the
// damping: trial = z - r / (1 + mu). Any point below 0.95 makes things worse.
TEST(ZoCNLSSolver, DampingKeptOnFirstRejectionThenDoubledAndAfterAcceptanceCutToAThird) {
    class Trap : public ZoCNLSObjectiveFunction {
      public:
        Trap() : ZoCNLSObjectiveFunction(1, 1) {}
        Vec Error(const Vec& x) override {
            trials.push_back(x[0]);
            return vectorOf({x[0] < 0.95 ? 10.0 : x[0]});
        }
        Mat Jacobian(const Vec& z) override {
            jacobianPoints.push_back(z[0]);
            return fromRows({{1.0}});
        }
        std::vector<double> trials, jacobianPoints;
    } f;
    ZoCNLSSolver solver(f, false, 0);
    solver.SetLogging(false);
    Vec p = vectorOf({1.0});
    double residual = 0;
    Access::run(solver, p, residual, 7, 1.0);  // mu starts at tau * H = 1
    // mu: 1, 1 (nu was 1), 2, 8, 64 (accepted, gain ratio 1: mu / 3, nu 2), 64 / 3, 128 / 3 (accepted).
    const double a = 1 - 1.0 / 65, b = a * (1 - 1 / (1 + 128.0 / 3));
    const std::vector<double> expected = {
        1, 0.5, 0.5, 1 - 1.0 / 3, 1 - 1.0 / 9, a, a * (1 - 1 / (1 + 64.0 / 3)), b};
    ASSERT_EQ(f.trials.size(), expected.size());
    for (size_t i = 0; i < expected.size(); ++i)
        EXPECT_NEAR(f.trials[i], expected[i], 1e-15) << "trial " << i;
    EXPECT_NEAR(p[0], b, 1e-15);
    // The overriding Jacobian is asked at the start and at the accepted points only.
    ASSERT_EQ(f.jacobianPoints.size(), 3u);
    EXPECT_NEAR(f.jacobianPoints[1], a, 1e-15);
    EXPECT_NEAR(f.jacobianPoints[2], b, 1e-15);
}

TEST(ZoCNLSSolver, WeightsFollowBiweightOnRobustScaleOrInverseVariance) {
    LambdaObjective f(1, 7, [](const Vec&) { return Vec(7); });
    ZoCNLSSolver robust(f, true, 0), plain(f, false, 0);
    const Vec r = vectorOf({-1, -0.5, 0, 0.5, 1, 2, 40});
    const Vec w = Access::computeWeight(robust, r);
    // median 0.5, absolute deviations {1.5, 1, 0.5, 0, 0.5, 1.5, 39.5}: MAD 1, scale 1 / 0.6745.
    for (int i = 0; i < 7; ++i) {
        const double u = r[i] * 0.6745;
        EXPECT_NEAR(w[i], i == 6 ? 0.0 : u == 0 ? 1.0 : Access::psiTukey(robust, u) / u, 1e-15) << i;
    }
    EXPECT_EQ(values(Access::computeWeight(plain, r)), std::vector<double>(7, 1.0));
    EXPECT_EQ(Access::psiHuber(robust, 1.0), 1.0);
    EXPECT_EQ(Access::psiHuber(robust, -5.0), -1.345);
    EXPECT_EQ(Access::psiTukey(robust, 5.0), 0.0);
    EXPECT_NEAR(Access::psiTukey(robust, 4.6851 / 2), 4.6851 / 2 * 0.5625, 1e-15);
    // Without robustness the weights are the inverse variances.
    LambdaObjective g(1, 2, [](const Vec& x) { return x; });
    g.stdDev = {0.5, 4};
    ZoCNLSSolver weighted(g, false, 0);
    EXPECT_EQ(values(Access::computeWeight(weighted, vectorOf({1, 2}))), (std::vector<double>{4, 1.0 / 16}));
}

TEST(ZoCNLSSolver, RobustFitIgnoresGrossOutliersAndWritesNoLogWhenOff) {
    // A line y = 1 + 2 t with three corrupted samples out of 30.
    LambdaObjective f(2, 30, [](const Vec& x) {
        Vec r(30);
        for (int i = 0; i < 30; ++i)
            r[i] = x[0] + x[1] * i / 10.0 - (1 + 0.2 * i + 0.01 * std::sin(7.0 * i) + (i % 10 == 3 ? 25 : 0));
        return r;
    });
    ZoCNLSSolver robust(f, true, 0);
    robust.SetLogging(false);
    Vec pr = vectorOf({0.5, 0.5});
    double rr = 0;
    ScopedLogCapture capture;
    robust.Run(pr, rr, 100, 1e-3, 3, ZoCNLSSolver::eGibbs);  // its skipped multistart too
    EXPECT_TRUE(logLines(capture).empty());
    EXPECT_NEAR(pr[0], 1.0, 0.02);
    EXPECT_NEAR(pr[1], 2.0, 0.02);
    EXPECT_GT(std::abs(solveLogged(f, {0.5, 0.5}, 100).p[0] - 1.0), 1.0);  // the plain fit is pulled away
}

// From a point inside, the step is cut at the nearest bound; from a point on one, projected onto it.
TEST(ZoCNLSSolver, StepsAreCutAtTheNearestBoundAndProjectedFromOne) {
    LambdaObjective f(2, 1, [](const Vec& x) { return vectorOf({x[0]}); });
    ZoCNLSSolver s(f, false, 0);
    const Mat a = fromRows({{1, 0}}), box = fromRows({{1, 0}, {0, 1}});  // x0 <= 1; x1 <= 2
    struct {
        const Mat& a;
        std::vector<double> b, z, d, expected;
    } cases[] = {
        {a, {1}, {0, 0}, {4, 3}, {1, 0.75}},    // cut at x0 = 1
        {a, {1}, {0, 0}, {0.5, 3}, {0.5, 3}},   // no constraint reached: unchanged
        {box, {1, 2}, {1, 0}, {1, 1}, {0, 1}},  // from a point on x0 = 1: projected onto it
        {box, {1, 2}, {1, 0}, {1, 5}, {0, 2}},  // ... then shortened at x1 <= 2
    };
    for (const auto& test : cases) {
        const Vec step = Access::cutBack(s, test.a, vectorOf(test.b), vectorOf(test.z), vectorOf(test.d));
        EXPECT_LT((step - vectorOf(test.expected)).MaxAbs(), 1e-15);
    }
    // The check itself has no tolerance and lets NaN pass.
    const Mat one = fromRows({{1}});
    EXPECT_TRUE(Access::checkConstraints(s, one, vectorOf({1}), vectorOf({1})));
    EXPECT_FALSE(Access::checkConstraints(s, one, vectorOf({1}), vectorOf({1 + 1e-15})));
    EXPECT_TRUE(Access::checkConstraints(s, one, vectorOf({1}), vectorOf({NAN})));
}

TEST(ZoCNLSSolver, InfeasibleStartIsRepairedByLinearProgramme) {
    LambdaObjective f(2, 2, [](const Vec& x) { return vectorOf({x[0] - 3, x[1] - 0.5}); });
    f.AddBounds(0, 2, 4);
    f.AddBounds(1, 0, 1);
    const auto o = solveLogged(f, {10, 10}, 100);
    EXPECT_LE(o.result, ZoCNLSSolver::eSmallStepSize);
    EXPECT_LT((o.p - vectorOf({3, 0.5})).MaxAbs(), 1e-8);
    // The start minimises the sum of the variables just inside the lower bounds.
    const double inside = 2.220446049250313e-14;
    ASSERT_GE(o.lines.size(), 4u);
    EXPECT_EQ(std::vector<std::string>(o.lines.begin(), o.lines.begin() + 3),
              (std::vector<std::string>{"(NLS) constructed initial feasible solution\n", "2-vector:\n",
                                        format("\t%g,", 2 + inside) + format("\t%g;\n", inside)}));
}

TEST(ZoCNLSSolver, StepThatRoundingPushesPastBoundIsPulledBackInside) {
    // 0.3 + 0.6 lands on 0.9 + 1 ulp: the cut-back step must still be taken.
    LambdaObjective f(1, 1, [](const Vec& x) { return vectorOf({x[0] - 3}); });
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
    LambdaObjective f(2, 3, [](const Vec& x) { return vectorOf({x[0], x[1]}); });
    ZoCNLSSolver solver(f, false, 0);
    double residual = 0;
    Vec shortParams = vectorOf({1}), p = vectorOf({1, 2});
    EXPECT_THROW(solver.Run(shortParams, residual, 10, 1e-3, 0, ZoCNLSSolver::eGibbs), std::invalid_argument);
    EXPECT_THROW(solver.Run(p, residual, -1, 1e-3, 0, ZoCNLSSolver::eGibbs), std::invalid_argument);
    // Two residuals where three are declared.
    EXPECT_THROW(solver.Run(p, residual, 10, 1e-3, 0, ZoCNLSSolver::eGibbs), std::length_error);
}
