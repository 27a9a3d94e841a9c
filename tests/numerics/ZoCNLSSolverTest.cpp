// Levenberg-Marquardt runs (convergence, damping, weights, constraints, stop results and log),
// multistart series and the samplers of their starting points inside the constraint polytope.
#include "NumericsTestSupport.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

using namespace testsupport;
using Access = ZoCNLSSolverTestAccess;

namespace {

// y = a exp(b t) sampled without noise at t = 0, 0.1, ..., 1.9.
LambdaObjective exponentialFit(double a, double b) {
    return LambdaObjective(2, 20, [a, b](const Vec& x) {
        Vec r(20);
        for (int i = 0; i < 20; ++i)
            r[i] = x[0] * std::exp(x[1] * 0.1 * i) - a * std::exp(b * 0.1 * i);
        return r;
    });
}

// Two valleys in [-2, 2]: a perfect fit at x = 1 and a worse local minimum near x = -1.
LambdaObjective twoValleys() {
    LambdaObjective f(1, 2, [](const Vec& x) { return vectorOf({x[0] * x[0] - 1, 0.3 * (x[0] - 1)}); });
    f.AddBounds(0, -2, 2);
    return f;
}

const double c_dInf = std::numeric_limits<double>::infinity();

}  // namespace

// Runs from starts away from known minima, inside bounds, on them, infeasible, and runs that stop
// early: the result, the end point (the start where nothing was solved, feasible where bounded),
// the residual, and the log: the expected lines as prefixes, the last one last, and in between only
// progress lines for accepted iterations whose number is a multiple of five.
TEST(ZoCNLSSolver, RunsEndWithTheirResultPointResidualAndLog) {
    const int converged = -1, failed = ZoCNLSSolver::eLSFailed;  // converged: small gradient or step
    const std::string stop = "(NLS) stopped after ",
                      lsFailed = "(NLS) stopped after 1 iterations ('LS solution failed (--)'";
    const std::string notFinite = "(NLS) residuals or their derivatives are not finite\n",
                      iter0 = "(NLS) iter. 0";
    auto linear = [](const Vec& x) { return vectorOf({x[0] - 1, x[0] + 1}); };
    // Residuals x - (a, b) with lower <= x0 <= upper, and 0 <= x1 <= 1 when boxed.
    auto bounded = [](double a, double b, double lower, double upper, bool boxed = false) {
        LambdaObjective f(2, 2, [a, b](const Vec& x) { return vectorOf({x[0] - a, x[1] - b}); });
        f.AddBounds(0, lower, upper);
        if (boxed)
            f.AddBounds(1, 0, 1);
        return f;
    };
    LambdaObjective fixed = exponentialFit(2.0, -0.5), exact(1, 2, linear);
    LambdaObjective past(1, 1, [](const Vec& x) { return vectorOf({x[0] - 3}); });
    fixed.AddEquality(1, -0.5);
    exact.stdDev = {1, 0};  // a residual known exactly has weight 1 / 0^2
    past.AddUpperBound(0, 0.9);
    const LambdaObjective far = bounded(2000, 2e5, -5000, 1000);
    LambdaObjective rosenbrock(2, 2, [](const Vec& x) {
        return vectorOf({10 * (x[1] - x[0] * x[0]), 1 - x[0]});
    });
    using S = ZoCNLSSolver;
    struct {
        const char* name;
        LambdaObjective f;
        std::vector<double> start;
        int maxIter;
        int result;
        std::vector<double> p;
        double tolerance, residual;  // residual NaN when not checked
        std::vector<std::string> lines;
        // clang-format off
    } cases[] = {
        {"no iterations", LambdaObjective(1, 2, linear), {3}, 0, S::eMaxIterExceeded, {3}, 0, std::sqrt(10.0),
         {"(NLS) iter. 0: residual RMSE=3.16228\n",
          "(NLS) stopped after 0 iterations ('maxiter exceeded (-)', residual RMSE=3.16228)\n"}},
        {"exact start", exponentialFit(2.0, -0.5), {2, -0.5}, 100, S::eSmallGradient, {2, -0.5}, 0, 0,
         {"(NLS) iter. 0: residual RMSE=0\n",
          "(NLS) stopped after 1 iterations ('small gradient (++)', residual RMSE=0)\n"}},
        // From z = 0 the limit is 2^52 * 4.44e-16 = 2: a Gauss-Newton step of length 5 exceeds it.
        {"huge step", LambdaObjective(1, 1, [](const Vec& x) { return vectorOf({x[0] - 5}); }), {0}, 10,
         S::eAlmostSingular, {0}, 0, 5, {"(NLS) iter. 0: residual RMSE=5\n",
         "(NLS) stopped after 1 iterations ('almost singular matrix (-)', residual RMSE=5)\n"}},
        {"no residuals", LambdaObjective(2, 0, [](const Vec&) { return Vec(); }), {1, 2}, 10, failed, {1, 2},
         0, 42, {}},
        {"NaN residual", LambdaObjective(1, 2, [](const Vec& x) { return vectorOf({x[0] - 1, NAN}); }),
         {4}, 20, failed, {4}, 0, NAN, {iter0, notFinite, lsFailed}},
        {"Inf residual", LambdaObjective(1, 2, [](const Vec& x) { return vectorOf({x[0] - 1, c_dInf}); }),
         {4}, 20, failed, {4}, 0, NAN, {iter0, notFinite, lsFailed}},
        // Finite at the start only: the difference quotients around it are NaN.
        {"NaN derivative",
         LambdaObjective(1, 1, [](const Vec& x) { return vectorOf({x[0] == 4 ? 3 : NAN}); }), {4}, 20, failed,
         {4}, 0, 3, {iter0, notFinite, lsFailed}},
        {"zero deviation", exact, {4}, 20, failed, {}, 0, NAN, {iter0, lsFailed}},
        {"distant start", exponentialFit(2.0, -0.5), {1.0, 0.3}, 500, converged, {2.0, -0.5}, 1e-7, 0,
         {iter0, stop}},
        {"rosenbrock", rosenbrock, {-1.2, 1}, 500, converged, {1, 1}, 1e-6, NAN, {iter0, stop}},
        // Unconstrained minimum at (3, -1); x0 <= 1 moves it to (1, -1).
        {"on the bound", bounded(3, -1, -5, 1), {0, 0}, 500, converged, {1, -1}, 1e-8, std::sqrt(2.0),
         {iter0, stop}},
        {"fixed parameter", fixed, {7, 123}, 500, converged, {2, -0.5}, 1e-9, NAN, {iter0, stop}},
        // Minimum (2000, 2e5); x0 <= 1000 makes it (1000, 2e5). At |z| ~ 1e5 a start a rounding
        // error or 1e-12 inside the bound is "on" it: the step slides along the bound instead of
        // being cut to a sliver that stops the run as a small step.
        {"start on bound", far, {1000, 1e5}, 500, converged, {1000, 2e5}, 1e-9, NAN, {iter0, stop}},
        {"start 1e-12 inside", far, {1000 - 1e-12, 1e5}, 500, converged, {1000, 2e5}, 1e-9, NAN,
         {iter0, stop}},
        {"start 1 ulp inside", far, {std::nextafter(1000.0, 0.0), 1e5}, 500, converged, {1000, 2e5}, 1e-9,
         NAN, {iter0, stop}},
        // 0.3 + 0.6 lands on 0.9 + 1 ulp: the cut-back step is pulled back inside and taken.
        {"rounded past bound", past, {0.3}, 150, S::eSmallStepSize, {0.9}, 1e-12, NAN, {iter0, stop}},
        // An infeasible start is replaced by the programme's: the least sum of the variables just
        // inside the lower bounds (2, 0).
        {"infeasible start", bounded(3, 0.5, 2, 4, true), {10, 10}, 100, converged, {3, 0.5}, 1e-8, NAN,
         {"(NLS) constructed initial feasible solution\n", "2-vector:\n", "\t2,\t2.22045e-14;\n", iter0,
          stop}},
    };
    // clang-format on
    for (auto& test : cases) {
        const auto o = solveLogged(test.f, test.start, test.maxIter, 0, ZoCNLSSolver::eGibbs, 42);
        EXPECT_TRUE(test.result == converged ? o.result <= ZoCNLSSolver::eSmallStepSize
                                             : o.result == test.result)
            << test.name << ": " << o.result;
        for (size_t i = 0; i < test.p.size(); ++i)
            EXPECT_NEAR(o.p[i], test.p[i], test.tolerance * std::max(1.0, std::abs(test.p[i]))) << test.name;
        EXPECT_TRUE(std::isnan(test.residual) || std::abs(o.residual - test.residual) < 1e-7) << test.name;
        const Vec slack = test.f.GetInequalitiesRHS() - test.f.GetInequalitiesLHS() * o.p;
        for (int i = 0; i < slack.size; ++i)
            EXPECT_GE(slack[i], 0.0) << test.name;
        if (test.f.HasEqualities()) {
            EXPECT_EQ((test.f.GetEqualitiesLHS() * o.p - test.f.GetEqualitiesRHS()).MaxAbs(), 0.0)
                << test.name;
        }
        ASSERT_EQ(o.lines.empty(), test.lines.empty()) << test.name;
        ASSERT_GE(o.lines.size(), test.lines.size()) << test.name;
        for (size_t i = 0, head = test.lines.size() - 1; i < o.lines.size(); ++i) {
            int iteration = 0;
            const bool last = i + 1 == o.lines.size();
            EXPECT_TRUE(i < head || last
                            ? startsWith(o.lines[i], test.lines[last ? head : i])
                            : std::sscanf(o.lines[i].c_str(), "(NLS) iter. %d:", &iteration) == 1 &&
                                  iteration % 5 == 0)
                << test.name << ": " << o.lines[i];
        }
    }
    EXPECT_STREQ(ZoCNLSSolver::ResultText(ZoCNLSSolver::eConstraintsViolated), "constraints violated (-)");
    EXPECT_STREQ(ZoCNLSSolver::ResultText(ZoCNLSSolver::eSmallStepSize), "small step size (++)");
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
        EXPECT_NEAR(f.trials[i], expected[i], 1e-12) << "trial " << i;
    EXPECT_NEAR(p[0], b, 1e-12);
    // The overriding Jacobian is asked at the start and at the accepted points only.
    ASSERT_EQ(f.jacobianPoints.size(), 3u);
    EXPECT_NEAR(f.jacobianPoints[1], a, 1e-12);
    EXPECT_NEAR(f.jacobianPoints[2], b, 1e-12);
}

TEST(ZoCNLSSolver, WeightsFollowBiweightOnRobustScaleOrInverseVariance) {
    LambdaObjective f(1, 7, [](const Vec&) { return Vec(7); });
    ZoCNLSSolver robust(f, true, 0), plain(f, false, 0);
    const Vec r = vectorOf({-1, -0.5, 0, 0.5, 1, 2, 40});
    const Vec w = Access::computeWeight(robust, r);
    // median 0.5, absolute deviations {1.5, 1, 0.5, 0, 0.5, 1.5, 39.5}: MAD 1, scale 1 / 0.6745.
    for (int i = 0; i < 7; ++i) {
        const double u = r[i] * 0.6745;
        EXPECT_NEAR(w[i], i == 6 ? 0.0 : u == 0 ? 1.0 : Access::psiTukey(robust, u) / u, 1e-12) << i;
    }
    EXPECT_EQ(values(Access::computeWeight(plain, r)), std::vector<double>(7, 1.0));
    // More than half of the residuals equal: no robust scale, plain weights.
    EXPECT_EQ(values(Access::computeWeight(robust, vectorOf({0, 0, 0, 0, 5, 9, 40}))),
              std::vector<double>(7, 1.0));
    EXPECT_EQ(Access::psiHuber(robust, 1.0), 1.0);
    EXPECT_EQ(Access::psiHuber(robust, -5.0), -1.345);
    EXPECT_EQ(Access::psiTukey(robust, 5.0), 0.0);
    EXPECT_NEAR(Access::psiTukey(robust, 4.6851 / 2), 4.6851 / 2 * 0.5625, 1e-12);
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
        EXPECT_LT((step - vectorOf(test.expected)).MaxAbs(), 1e-12);
    }
    // The check itself has no tolerance and lets NaN pass.
    const Mat one = fromRows({{1}});
    EXPECT_TRUE(Access::checkConstraints(s, one, vectorOf({1}), vectorOf({1})));
    EXPECT_FALSE(Access::checkConstraints(s, one, vectorOf({1}), vectorOf({1 + 1e-15})));
    EXPECT_TRUE(Access::checkConstraints(s, one, vectorOf({1}), vectorOf({NAN})));
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

// Where nothing is feasible the start is returned: with contradicting bounds neither the run nor
// the sampler finds a point, and failed warm-ups count as done runs. With x1 fixed at 5 but bounded
// by 4 every run finds its free-variable inequalities infeasible while the sampler, working on the
// full parameters, succeeds: five failed runs in a row abort the series.
TEST(ZoCNLSMultistart, FailedWarmUpsCountAsDoneAndFiveFailedRunsAbortTheSeries) {
    const std::string infeasible = "(NLS) infeasible constraints detected\n",
                      final = "(NLS) final residual RMSE=inf\n";
    LambdaObjective contradicting(1, 1, [](const Vec&x) { return x; }),
        fixed(2, 1, [](const Vec&x) { return vectorOf({x[0]}); });
    contradicting.AddLowerBound(0, 2);
    contradicting.AddUpperBound(0, 1);
    fixed.AddBounds(0, -1, 1);
    fixed.AddBounds(1, 0, 4);
    ASSERT_TRUE(fixed.AddEquality(1, 5.0));
    std::vector<std::string> aborted = {infeasible};
    for (int attempt = 1; attempt <= 5; ++attempt)
        aborted.insert(aborted.end(),
                       {"(NLS) SAMPLING FOR MULTISTART RUN 1 OF 3 (try #" + std::to_string(attempt) + ")\n",
                        infeasible, "(NLS) multistart run #1/#3 failed: constraint violation\n"});
    aborted.insert(aborted.end(), {"(NLS) multistart series aborted (too many errors)\n", final});
    const auto o = solveLogged(contradicting, {5}, 10, 2, ZoCNLSSolver::eGibbs, c_dInf),
               five = solveLogged(fixed, {0.5, 3}, 10, 3, ZoCNLSSolver::eHitAndRun, c_dInf);
    EXPECT_EQ(std::vector<int>({o.result, five.result}),
              std::vector<int>(2, ZoCNLSSolver::eConstraintsViolated));
    EXPECT_EQ(std::vector<double>({o.p[0], o.residual, five.p[0], five.p[1]}),
              std::vector<double>({5, c_dInf, 0.5, 3}));
    EXPECT_EQ(o.lines,
              (std::vector<std::string>{
                  infeasible, "(NLS) SAMPLING FOR MULTISTART RUN 1 OF 2 (try #1)\n", "(NLS) warmup failed.\n",
                  "(NLS) SAMPLING FOR MULTISTART RUN 2 OF 2 (try #1)\n", "(NLS) warmup failed.\n", final}));
    EXPECT_EQ(five.lines, aborted);
}
