// Levenberg-Marquardt runs (results, damping, weights, constraints, log), multistart series and samplers.
#include "NumericsTestSupport.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

using namespace testsupport;
using A = ZoCNLSSolverTestAccess;
using S = ZoCNLSSolver;
using Lines = std::vector<std::string>;
using F = LambdaObjective;

namespace {

const std::string c_iter0 = "(NLS) iter. 0", c_stop = "(NLS) stopped after ",
                  c_lsFailed = "(NLS) stopped after 1 iterations ('LS solution failed (--)'",
                  c_notFinite = "(NLS) residuals or their derivatives are not finite\n",
                  c_final = "(NLS) final residual RMSE=", c_sampling = "(NLS) SAMPLING FOR MULTISTART RUN ";

// y = a exp(b t) sampled without noise at t = 0, 0.1, ..., 1.9.
F exponentialFit(double a, double b) {
    return F(2, 20, [a, b](const Vec& x) {
        Vec r(20);
        for (int i = 0; i < 20; ++i)
            r[i] = x[0] * std::exp(x[1] * 0.1 * i) - a * std::exp(b * 0.1 * i);
        return r;
    });
}

// Residuals x - (a, b), with the given bounds.
F offset(double a, double b, const Rows& bounds) {
    return F(2, 2, bounds, [a, b](const Vec& x) { return vectorOf({x[0] - a, x[1] - b}); });
}

// Two valleys in [-2, 2]: a perfect fit at x = 1 and a worse local minimum near x = -1.
F twoValleys() {
    return F(1, 2, {{0, -2, 2}}, [](const Vec& x) { return vectorOf({x[0] * x[0] - 1, 0.3 * (x[0] - 1)}); });
}

const int c_converged = -1;  // small gradient or small step

struct RunCase {
    const char* name;
    F f;
    Reals start;
    int maxIter, result;
    Reals p;                          // expected end point, within tol relative to max(1, |p|)
    double tol = 0, residual = NAN;   // residual NaN: not checked
    Lines lines = {c_iter0, c_stop};  // prefixes of the first lines and of the last one
    bool robust = false;              // robust weights, logging off, a multistart of three requested
};

}  // namespace

// Runs from starts away from known minima, inside bounds, on them, infeasible, and runs that stop
// early: result, end point (the start where nothing was solved, feasible where bounded), residual,
// and log: the expected lines, the last one last, in between only progress lines every fifth iteration.
TEST(ZoCNLSSolver, RunsEndWithTheirResultPointResidualAndLog) {
    auto linear = [](const Vec& x) { return vectorOf({x[0] - 1, x[0] + 1}); };
    F fixed = exponentialFit(2.0, -0.5), exact = F(1, 2, linear);
    fixed.AddEquality(1, -0.5);
    exact.stdDev = {1, 0};  // a residual known exactly has weight 1 / 0^2
    const F far = offset(2000, 2e5, {{0, -5000, 1000}});
    F past = F(1, 1, [](const Vec& x) { return vectorOf({x[0] - 3}); });
    past.AddUpperBound(0, 0.9);
    const Lines bad = {c_iter0, c_notFinite, c_lsFailed};
    // A line y = 1 + 2 t with three corrupted samples out of 30.
    const F outliers = F(2, 30, [](const Vec& x) {
        Vec r(30);
        for (int i = 0; i < 30; ++i)
            r[i] = x[0] + x[1] * i / 10.0 - (1 + 0.2 * i + 0.01 * std::sin(7.0 * i) + (i % 10 == 3 ? 25 : 0));
        return r;
    });
    // clang-format off
    RunCase cases[] = {
        {"no iterations", F(1, 2, linear), {3}, 0, S::eMaxIterExceeded, {3}, 0, std::sqrt(10.0),
         {"(NLS) iter. 0: residual RMSE=3.16228\n",
          "(NLS) stopped after 0 iterations ('maxiter exceeded (-)', residual RMSE=3.16228)\n"}},
        {"exact start", exponentialFit(2.0, -0.5), {2, -0.5}, 100, S::eSmallGradient, {2, -0.5}, 0, 0,
         {"(NLS) iter. 0: residual RMSE=0\n",
          "(NLS) stopped after 1 iterations ('small gradient (++)', residual RMSE=0)\n"}},
        // From z = 0 the limit is 2^52 * 4.44e-16 = 2: a Gauss-Newton step of length 5 exceeds it.
        {"huge step", F(1, 1, [](const Vec& x) { return vectorOf({x[0] - 5}); }), {0}, 10, S::eAlmostSingular,
         {0}, 0, 5, {"(NLS) iter. 0: residual RMSE=5\n",
         "(NLS) stopped after 1 iterations ('almost singular matrix (-)', residual RMSE=5)\n"}},
        {"no residuals", F(2, 0, [](const Vec&) { return Vec(); }), {1, 2}, 10, S::eLSFailed, {1, 2}, 0, 42,
         {}},
        {"NaN residual", F(1, 2, [](const Vec& x) { return vectorOf({x[0] - 1, NAN}); }), {4}, 20,
         S::eLSFailed, {4}, 0, NAN, bad},
        {"Inf residual", F(1, 2, [](const Vec& x) { return vectorOf({x[0] - 1, c_dInf}); }), {4}, 20,
         S::eLSFailed, {4}, 0, NAN, bad},
        // Finite at the start only: the difference quotients around it are NaN.
        {"NaN derivative", F(1, 1, [](const Vec& x) { return vectorOf({x[0] == 4 ? 3 : NAN}); }), {4}, 20,
         S::eLSFailed, {4}, 0, 3, bad},
        {"zero deviation", exact, {4}, 20, S::eLSFailed, {}, 0, NAN, {c_iter0, c_lsFailed}},
        {"distant start", exponentialFit(2.0, -0.5), {1.0, 0.3}, 500, c_converged, {2.0, -0.5}, 1e-7, 0},
        // Unconstrained minimum at (3, -1); x0 <= 1 moves it to (1, -1).
        {"on the bound", offset(3, -1, {{0, -5, 1}}), {0, 0}, 500, c_converged, {1, -1}, 1e-8,
         std::sqrt(2.0)},
        {"fixed parameter", fixed, {7, 123}, 500, c_converged, {2, -0.5}, 1e-9},
        // Minimum (1000, 2e5) on x0 <= 1000. At |z| ~ 1e5 a start a rounding error or 1e-12 inside
        // the bound is "on" it: the step slides along the bound instead of being cut to a sliver.
        {"start on bound", far, {1000, 1e5}, 500, c_converged, {1000, 2e5}, 1e-9},
        {"start 1e-12 inside", far, {1000 - 1e-12, 1e5}, 500, c_converged, {1000, 2e5}, 1e-9},
        {"start 1 ulp inside", far, {std::nextafter(1000.0, 0.0), 1e5}, 500, c_converged, {1000, 2e5}, 1e-9},
        // 0.3 + 0.6 lands on 0.9 + 1 ulp: the cut-back step is pulled back inside and taken.
        {"rounded past bound", past, {0.3}, 150, S::eSmallStepSize, {0.9}, 1e-12},
        // An infeasible start is replaced by the programme's: the least sum of the variables just
        // inside the lower bounds (2, 0).
        {"infeasible start", offset(3, 0.5, {{0, 2, 4}, {1, 0, 1}}), {10, 10}, 100, c_converged, {3, 0.5},
         1e-8, NAN, {"(NLS) constructed initial feasible solution\n", "2-vector:\n", "\t2,\t2.22045e-14;\n",
         c_iter0, c_stop}},
        // Robust weights ignore the gross outliers; the run and its skipped multistart stay silent.
        {"robust fit", outliers, {0.5, 0.5}, 100, c_converged, {1, 2}, 0.01, NAN, {}, true},
    };
    // clang-format on
    for (auto& t : cases) {
        const auto o = solveLogged(t.f, t.start, t.maxIter, t.robust ? 3 : 0, S::eGibbs, 42, t.robust);
        EXPECT_TRUE(t.result == c_converged ? o.result <= S::eSmallStepSize : o.result == t.result)
            << t.name << ": " << o.result;
        for (size_t i = 0; i < t.p.size(); ++i)
            EXPECT_NEAR(o.p[i], t.p[i], t.tol * std::max(1.0, std::abs(t.p[i]))) << t.name;
        EXPECT_TRUE(std::isnan(t.residual) || std::abs(o.residual - t.residual) < 1e-7) << t.name;
        const Reals slack = values(t.f.GetInequalitiesRHS() - t.f.GetInequalitiesLHS() * o.p);
        EXPECT_TRUE(std::all_of(slack.begin(), slack.end(), [](double s) { return s >= 0; })) << t.name;
        if (t.f.HasEqualities()) {
            EXPECT_EQ((t.f.GetEqualitiesLHS() * o.p - t.f.GetEqualitiesRHS()).MaxAbs(), 0.0) << t.name;
        }
        ASSERT_EQ(o.lines.empty(), t.lines.empty()) << t.name;
        ASSERT_GE(o.lines.size(), t.lines.size()) << t.name;
        for (size_t i = 0, head = t.lines.size() - 1; i < o.lines.size(); ++i) {
            int iteration = 0;
            const bool last = i + 1 == o.lines.size();
            EXPECT_TRUE(i < head || last
                            ? o.lines[i].rfind(t.lines[last ? head : i], 0) == 0
                            : std::sscanf(o.lines[i].c_str(), "(NLS) iter. %d:", &iteration) == 1 &&
                                  iteration % 5 == 0)
                << t.name << ": " << o.lines[i];
        }
    }
    F plain = outliers;  // the plain fit is pulled away
    EXPECT_GT(std::abs(solveLogged(plain, {0.5, 0.5}, 100).p[0] - 1.0), 1.0);
    EXPECT_STREQ(S::ResultText(S::eConstraintsViolated), "constraints violated (-)");
    EXPECT_STREQ(S::ResultText(S::eSmallStepSize), "small step size (++)");
    // Refused: params of the wrong size, a negative iteration count, fewer residuals than declared.
    F f = F(2, 3, [](const Vec& x) { return vectorOf({x[0], x[1]}); });
    S solver(f, false, 0);
    double residual = 0;
    Vec shortParams = vectorOf({1}), p = vectorOf({1, 2});
    EXPECT_THROW(solver.Run(shortParams, residual, 10, 1e-3, 0, S::eGibbs), std::invalid_argument);
    EXPECT_THROW(solver.Run(p, residual, -1, 1e-3, 0, S::eGibbs), std::invalid_argument);
    EXPECT_THROW(solver.Run(p, residual, 10, 1e-3, 0, S::eGibbs), std::length_error);
}

// Residual x with Jacobian 1 keeps gradient and normal matrix fixed, so each trial reveals the
// damping: trial = z - r / (1 + mu). Any point below 0.95 makes things worse.
TEST(ZoCNLSSolver, DampingKeptOnFirstRejectionThenDoubledAndAfterAcceptanceCutToAThird) {
    class Trap : public ZoCNLSObjectiveFunction {
      public:
        Trap() : ZoCNLSObjectiveFunction(1, 1) {}
        Vec Error(const Vec& x) override {
            return trials.push_back(x[0]), vectorOf({x[0] < 0.95 ? 10.0 : x[0]});
        }
        Mat Jacobian(const Vec& z) override { return jacobianAt.push_back(z[0]), fromRows({{1.0}}); }
        Reals trials, jacobianAt;
    } f;
    S solver(f, false, 0);
    solver.SetLogging(false);
    Vec p = vectorOf({1.0});
    double residual = 0;
    (solver.*A::run)(p, residual, 7, 1.0);  // mu starts at tau * H = 1
    // mu: 1, 1 (nu was 1), 2, 8, 64 (accepted, gain ratio 1: mu / 3, nu 2), 64 / 3, 128 / 3 (accepted).
    const double a = 1 - 1.0 / 65, b = a * (1 - 1 / (1 + 128.0 / 3));
    const Reals expected = {1, 0.5, 0.5, 1 - 1.0 / 3, 1 - 1.0 / 9, a, a * (1 - 1 / (1 + 64.0 / 3)), b};
    EXPECT_LT(maxDifference(f.trials, expected), 1e-12);
    EXPECT_NEAR(p[0], b, 1e-12);
    EXPECT_LT(maxDifference(f.jacobianAt, {1, a, b}), 1e-12);  // asked at the start and accepted points only
}

// Robust: Tukey's biweight on the residuals scaled by 1.4826 MAD (plain weights when more than half
// are equal); plain: inverse variances.
TEST(ZoCNLSSolver, WeightsFollowBiweightOnRobustScaleOrInverseVariance) {
    F f = F(1, 7, [](const Vec&) { return Vec(7); }), g = F(1, 2, [](const Vec&x) { return x; });
    g.stdDev = {0.5, 4};
    S robust(f, true, 0), plain(f, false, 0), weighted(g, false, 0);
    const Vec r = vectorOf({-1, -0.5, 0, 0.5, 1, 2, 40});
    const Vec w = (robust.*A::computeWeight)(r);
    // median 0.5, absolute deviations {1.5, 1, 0.5, 0, 0.5, 1.5, 39.5}: MAD 1, scale 1 / 0.6745.
    for (int i = 0; i < 7; ++i) {
        const double u = r[i] * 0.6745;
        EXPECT_NEAR(w[i], i == 6 ? 0.0 : u == 0 ? 1.0 : (robust.*A::psiTukey)(u) / u, 1e-12) << i;
    }
    EXPECT_EQ(values((robust.*A::computeWeight)(vectorOf({0, 0, 0, 0, 5, 9, 40}))), Reals(7, 1.0));
    EXPECT_EQ(values((plain.*A::computeWeight)(r)), Reals(7, 1.0));
    EXPECT_EQ(Reals({(robust.*A::psiHuber)(1.0), (robust.*A::psiHuber)(-5.0), (robust.*A::psiTukey)(5.0)}),
              Reals({1.0, -1.345, 0.0}));
    EXPECT_NEAR((robust.*A::psiTukey)(4.6851 / 2), 4.6851 / 2 * 0.5625, 1e-12);
    EXPECT_EQ(values((weighted.*A::computeWeight)(vectorOf({1, 2}))), (Reals{4, 1.0 / 16}));
}

// From a point inside, the step is cut at the nearest bound; from a point on one, projected onto it.
// The check has no tolerance and lets NaN pass; shrinking moves a face inward by eps times its norm.
TEST(ZoCNLSSolver, StepsAreCutAtTheNearestBoundAndProjectedFromOne) {
    F f = F(2, 1, [](const Vec& x) { return vectorOf({x[0]}); });
    S s(f, false, 0);
    const Mat a = fromRows({{1, 0}}), box = fromRows({{1, 0}, {0, 1}}), one = fromRows({{1}});
    struct {
        const Mat& a;
        Reals b, z, d, expected;
    } cases[] = {
        {a, {1}, {0, 0}, {4, 3}, {1, 0.75}},    // cut at x0 = 1
        {a, {1}, {0, 0}, {0.5, 3}, {0.5, 3}},   // no constraint reached: unchanged
        {box, {1, 2}, {1, 0}, {1, 1}, {0, 1}},  // from a point on x0 = 1: projected onto it
        {box, {1, 2}, {1, 0}, {1, 5}, {0, 2}},  // ... then shortened at x1 <= 2
    };
    for (const auto& t : cases) {
        const Vec step = (s.*A::cutBack)(t.a, vectorOf(t.b), vectorOf(t.z), vectorOf(t.d), false);
        EXPECT_LT((step - vectorOf(t.expected)).MaxAbs(), 1e-12);
    }
    auto check = [&](double z) { return (s.*A::checkConstraints)(one, vectorOf({1}), vectorOf({z})); };
    EXPECT_EQ(std::vector<bool>({check(1), check(1 + 1e-15), check(NAN)}),
              std::vector<bool>({true, false, true}));
    Mat row = fromRows({{3, 4}});
    Vec rhs = vectorOf({2});
    (s.*A::shrink)(row, rhs, 0.1);
    EXPECT_NEAR(rhs[0], 1.5, 1e-15);
    EXPECT_EQ(row(0, 0), 3.0);
}

// Distances along a direction to the faces behind and ahead; infinite along a parallel direction.
// Both samplers stay in the triangle x, y >= 0, x + y <= 1 with mean at its centroid (1/3, 1/3), and
// give finite points in a half-plane whose open directions are unbounded.
TEST(ZoCNLSMultistart, SamplersStayInsideSpreadUniformlyOverTriangleAndStayFiniteInHalfPlane) {
    F f = F(2, 1, [](const Vec& x) { return vectorOf({x[0]}); });
    S s(f, false, 0);
    double back = 0, fwd = 0;
    (s.*A::distances)(fromRows({{-1}, {1}}), vectorOf({0, 1}), vectorOf({0.25}), vectorOf({1}), back, fwd);
    EXPECT_EQ(Reals({back, fwd}), Reals({0.25, 0.75}));
    (s.*A::distances)(fromRows({{1, 0}}), vectorOf({1}), vectorOf({0, 0}), vectorOf({0, 1}), back, fwd);
    EXPECT_EQ(Reals({back, fwd}), Reals({c_dInf, c_dInf}));
    const Mat triangle = fromRows({{-1, 0}, {0, -1}, {1, 1}}), halfPlane = fromRows({{1, 0}});
    for (auto sample : {A::gibbs, A::hitAndRun}) {
        std::mt19937_64 rng(5489);
        A::Uniform uniform = [&rng](double a, double b) {
            return a + std::generate_canonical<double, std::numeric_limits<double>::digits>(rng) * (b - a);
        };
        Vec x = vectorOf({0.2, 0.2}), sum(2);
        for (int i = 0; i < 20000; ++i) {
            (s.*sample)(triangle, vectorOf({0, 0, 1}), rng, uniform, x);
            ASSERT_TRUE(x[0] >= -1e-15 && x[1] >= -1e-15 && x[0] + x[1] <= 1 + 1e-15) << x[0] << " " << x[1];
            sum = sum + x;
        }
        EXPECT_LT((sum * (1.0 / 20000) - vectorOf({1.0 / 3, 1.0 / 3})).MaxAbs(), 0.02);
        for (int i = 0; i < 50; ++i)
            (s.*sample)(halfPlane, vectorOf({1}), rng, uniform, x);
        EXPECT_TRUE(std::isfinite(x[0]) && std::isfinite(x[1]) && x[0] <= 1);
    }
}

// No runs: one plain run whatever the sampler; no inequalities: the series is skipped with a warning;
// a perfect first run ends the series before any sampling; otherwise the series escapes the local
// minimum and stops at the perfect fit; a valley floor no run fits perfectly takes all five runs; a
// repeated call repeats the series exactly.
TEST(ZoCNLSMultistart, SeriesEscapesLocalMinimaStopsAtPerfectFitAndRepeatsExactly) {
    F f = twoValleys();
    const auto a = solveLogged(f, {-1.5}, 100, 0, S::eHitAndRun),
               b = solveLogged(f, {-1.5}, 100, 0, S::eGibbs);
    EXPECT_EQ(countPrefix(a.lines, c_sampling) + countPrefix(a.lines, c_final), 0);
    EXPECT_EQ(a.result, b.result);
    EXPECT_EQ(a.p[0], b.p[0]);
    EXPECT_EQ(a.lines, b.lines);
    F free = F(1, 1, [](const Vec& x) { return vectorOf({x[0] * x[0] - 2}); });
    const auto o = solveLogged(free, {1}, 100, 3, S::eHitAndRun);
    EXPECT_LE(o.result, S::eSmallStepSize);
    const std::string warning = "(NLS) warning: skipping multistart (no inequality constraints!)\n";
    EXPECT_EQ(countPrefix(o.lines, warning), 1);
    EXPECT_EQ(o.lines.back(), warning);
    const auto perfect = solveLogged(f, {1}, 100, 4, S::eHitAndRun);
    EXPECT_EQ(perfect.result, S::eSmallGradient);
    EXPECT_EQ(countPrefix(perfect.lines, c_sampling), 0);
    ASSERT_GE(perfect.lines.size(), 2u);
    EXPECT_EQ(Lines(perfect.lines.end() - 2, perfect.lines.end()),
              Lines({"(NLS) obtained the best possible residual - omitting further multistart runs\n",
                     c_final + "0\n"}));
    for (auto sampler : {S::eGibbs, S::eHitAndRun}) {
        const auto o = solveLogged(f, {-1.5}, 200, 10, sampler);
        EXPECT_NEAR(o.p[0], 1.0, 1e-7) << "sampler " << sampler;
        EXPECT_LT(o.residual, 1e-7);
        EXPECT_EQ(countPrefix(o.lines, c_sampling + "1 OF 10 (try #1)\n"), 1);
        EXPECT_EQ(o.lines.back().rfind(c_final, 0), 0u);
    }
    auto valleyFloor = [](const Vec& x) {
        return vectorOf({std::sin(3 * x[0]) + x[1] * x[1], x[0] - x[1], 0.5});
    };
    F floor(2, 3, {{0, -2, 2}, {1, -2, 2}}, valleyFloor);
    const auto first = solveLogged(floor, {1.5, -1.5}, 50, 5, S::eHitAndRun),
               second = solveLogged(floor, {1.5, -1.5}, 50, 5, S::eHitAndRun);
    EXPECT_EQ(countPrefix(first.lines, c_sampling), 5);
    EXPECT_EQ(second.lines, first.lines);
    EXPECT_EQ(second.p[0], first.p[0]);
}

// Where nothing is feasible the start is returned: with contradicting bounds neither the run nor
// the sampler finds a point, and failed warm-ups count as done runs. With x1 fixed at 5 but bounded
// by 4 every run finds its free-variable inequalities infeasible while the sampler, working on the
// full parameters, succeeds: five failed runs in a row abort the series.
TEST(ZoCNLSMultistart, FailedWarmUpsCountAsDoneAndFiveFailedRunsAbortTheSeries) {
    const std::string infeasible = "(NLS) infeasible constraints detected\n", final = c_final + "inf\n";
    F contradicting(1, 1, [](const Vec&x) { return x; }),
        fixed(2, 1, {{0, -1, 1}, {1, 0, 4}}, [](const Vec&x) { return vectorOf({x[0]}); });
    contradicting.AddLowerBound(0, 2);
    contradicting.AddUpperBound(0, 1);
    ASSERT_TRUE(fixed.AddEquality(1, 5.0));
    Lines aborted = {infeasible};
    for (int attempt = 1; attempt <= 5; ++attempt)
        aborted.insert(aborted.end(),
                       {c_sampling + "1 OF 3 (try #" + std::to_string(attempt) + ")\n", infeasible,
                        "(NLS) multistart run #1/#3 failed: constraint violation\n"});
    aborted.insert(aborted.end(), {"(NLS) multistart series aborted (too many errors)\n", final});
    const auto o = solveLogged(contradicting, {5}, 10, 2, S::eGibbs, c_dInf),
               five = solveLogged(fixed, {0.5, 3}, 10, 3, S::eHitAndRun, c_dInf);
    EXPECT_EQ(std::vector<int>({o.result, five.result}), std::vector<int>(2, S::eConstraintsViolated));
    EXPECT_EQ(Reals({o.p[0], o.residual, five.p[0], five.p[1]}), Reals({5, c_dInf, 0.5, 3}));
    EXPECT_EQ(o.lines, Lines({infeasible, c_sampling + "1 OF 2 (try #1)\n", "(NLS) warmup failed.\n",
                              c_sampling + "2 OF 2 (try #1)\n", "(NLS) warmup failed.\n", final}));
    EXPECT_EQ(five.lines, aborted);
}
