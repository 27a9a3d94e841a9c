// Levenberg-Marquardt runs (results, damping, weights, constraints, log), multistart series and samplers.
#include "NumericsTestSupport.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

// The solver's internals, as member pointers: (solver.*Access::name)(arguments...).
class ZoCNLSSolverTestAccess {
  public:
    static constexpr auto computeWeight = &ZoCNLSSolver::computeWeight;
    static constexpr auto cutBack = &ZoCNLSSolver::cutBack;
    static constexpr auto checkConstraints = &ZoCNLSSolver::checkConstraints;
    static constexpr auto gibbs = &ZoCNLSSolver::sampleGibbs;
    static constexpr auto hitAndRun = &ZoCNLSSolver::sampleHitAndRun;
};

using namespace testsupport;
using testing::Contains, testing::DoubleNear, testing::Each, testing::Ge, testing::Pointwise,
    testing::StartsWith;
using A = ZoCNLSSolverTestAccess;
using S = ZoCNLSSolver;
using Lines = std::vector<std::string>;
using F = LambdaObjective;

namespace {

const std::string c_iter0 = "(NLS) iter. 0", c_stop = "(NLS) stopped after ",
                  c_lsFailed = "(NLS) stopped after 1 iterations ('LS solution failed (--)'",
                  c_final = "(NLS) final residual RMSE=", c_sampling = "(NLS) SAMPLING FOR MULTISTART RUN ";

// One run from a start: result, end point, residual and log. Robust runs are the quiet ones.
struct Outcome {
    S::EResult result;
    Vec p;
    double residual;
    Lines lines;
};

Outcome solve(F& f, const Reals& start, int maxIter, int runs = 0, S::ESampler sampler = S::eGibbs,
              double residual = 0, bool robust = false) {
    S solver(f, robust, 0);
    solver.SetLogging(!robust);
    ScopedLogCapture capture;
    Outcome o{S::eLSFailed, vectorOf(start), residual, {}};
    o.result = solver.Run(o.p, o.residual, maxIter, 1e-3, runs, sampler);
    o.lines = logLines(capture);
    return o;
}

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

// Result, end point (the start where nothing was solved, feasible where bounded), residual and log:
// the expected lines, the last one last, in between only progress lines every fifth iteration.
TEST(ZoCNLSSolver, RunsEndWithTheirResultPointResidualAndLog) {
    auto linear = [](const Vec& x) { return vectorOf({x[0] - 1, x[0] + 1}); };
    F fixed = exponentialFit(2.0, -0.5), exact = F(1, 2, linear);
    fixed.AddEquality(1, -0.5);
    exact.stdDev = {1, 0};  // a residual known exactly has weight 1 / 0^2
    const F far = offset(2000, 2e5, {{0, -5000, 1000}});
    F past = F(1, 1, [](const Vec& x) { return vectorOf({x[0] - 3}); });
    past.AddUpperBound(0, 0.9);
    const Lines bad = {c_iter0, "(NLS) residuals or their derivatives are not finite\n", c_lsFailed};
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
        // Finite at the start only: the difference quotients around it are not finite.
        {"Inf derivative", F(1, 1, [](const Vec& x) { return vectorOf({x[0] == 4 ? 3 : c_dInf}); }), {4}, 20,
         S::eLSFailed, {4}, 0, 3, bad},
        {"zero deviation", exact, {4}, 20, S::eLSFailed, {}, 0, NAN, {c_iter0, c_lsFailed}},
        {"on the bound", offset(3, -1, {{0, -5, 1}}), {0, 0}, 500, c_converged, {1, -1}, 1e-8,
         std::sqrt(2.0)},
        {"fixed parameter", fixed, {7, 123}, 500, c_converged, {2, -0.5}, 1e-9},
        // Minimum (1000, 2e5) on x0 <= 1000: from the bound or 1e-12 inside (on it at |z| ~ 1e5) it slides.
        {"start on bound", far, {1000, 1e5}, 500, c_converged, {1000, 2e5}, 1e-9},
        {"start 1e-12 inside", far, {1000 - 1e-12, 1e5}, 500, c_converged, {1000, 2e5}, 1e-9},
        // 0.3 + 0.6 lands on 0.9 + 1 ulp: the cut-back step is pulled back inside and taken.
        {"rounded past bound", past, {0.3}, 150, S::eSmallStepSize, {0.9}, 1e-12},
        // An infeasible start is replaced by the least sum of the variables just inside the bounds (2, 0).
        {"infeasible start", offset(3, 0.5, {{0, 2, 4}, {1, 0, 1}}), {10, 10}, 100, c_converged, {3, 0.5},
         1e-8, NAN, {"(NLS) constructed initial feasible solution\n", "2-vector:\n", "\t2,\t2.22045e-14;\n",
         c_iter0, c_stop}},
        // Robust weights ignore the gross outliers; the run and its skipped multistart stay silent.
        {"robust fit", outliers, {0.5, 0.5}, 100, c_converged, {1, 2}, 0.01, NAN, {}, true},
    };
    // clang-format on
    const testing::Matcher<std::string> progress = testing::MatchesRegex("\\(NLS\\) iter\\. [0-9]*[05]: .*");
    for (auto& t : cases) {
        SCOPED_TRACE(t.name);
        const auto o = solve(t.f, t.start, t.maxIter, t.robust ? 3 : 0, S::eGibbs, 42, t.robust);
        EXPECT_TRUE(t.result == c_converged ? o.result <= S::eSmallStepSize : o.result == t.result)
            << o.result;
        for (size_t i = 0; i < t.p.size(); ++i)
            EXPECT_NEAR(o.p[i], t.p[i], t.tol * std::max(1.0, std::abs(t.p[i])));
        EXPECT_TRUE(std::isnan(t.residual) || std::abs(o.residual - t.residual) < 1e-7);
        EXPECT_THAT(values(t.f.GetInequalitiesRHS() - t.f.GetInequalitiesLHS() * o.p), Each(Ge(0.0)));
        EXPECT_EQ((t.f.GetEqualitiesLHS() * o.p - t.f.GetEqualitiesRHS()).MaxAbs(), 0.0);
        ASSERT_TRUE(t.lines.empty() ? o.lines.empty() : o.lines.size() >= t.lines.size());
        for (size_t i = 0; i < o.lines.size(); ++i) {
            const bool last = i + 1 == o.lines.size();
            EXPECT_THAT(o.lines[i], last || i + 1 < t.lines.size()
                                        ? StartsWith(t.lines[last ? t.lines.size() - 1 : i])
                                        : progress);
        }
    }
    EXPECT_STREQ(S::ResultText(S::eConstraintsViolated), "constraints violated (-)");
    EXPECT_STREQ(S::ResultText(S::eSmallStepSize), "small step size (++)");
    // Refused: params of the wrong size, a negative iteration count, fewer residuals than declared.
    F f = F(2, 3, [](const Vec& x) { return vectorOf({x[0], x[1]}); });
    EXPECT_THROW(solve(f, {1}, 10), std::invalid_argument);
    EXPECT_THROW(solve(f, {1, 2}, -1), std::invalid_argument);
    EXPECT_THROW(solve(f, {1, 2}, 10), std::length_error);
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
    solver.Run(p, residual, 7, 1.0, 0, S::eGibbs);  // mu starts at tau * H = 1
    // mu: 1, 1 (nu was 1), 2, 8, 64 (accepted, gain ratio 1: mu / 3, nu 2), 64 / 3, 128 / 3 (accepted).
    const double a = 1 - 1.0 / 65, b = a * (1 - 1 / (1 + 128.0 / 3));
    const auto near = [](const Reals& expected) { return Pointwise(DoubleNear(1e-12), expected); };
    EXPECT_THAT(f.trials, near({1, 0.5, 0.5, 1 - 1.0 / 3, 1 - 1.0 / 9, a, a * (1 - 1 / (1 + 64.0 / 3)), b}));
    EXPECT_THAT(f.jacobianAt, near({1, a, b}));  // asked at the start and accepted points only
}

// Robust: Tukey's biweight (1 - (u / 4.6851)^2)^2 on the residuals scaled by 1.4826 MAD (plain weights
// when more than half are equal); plain: inverse variances.
TEST(ZoCNLSSolver, WeightsFollowBiweightOnRobustScaleOrInverseVariance) {
    F f = F(1, 7, [](const Vec&) { return Vec(7); }), g = F(1, 2, [](const Vec&x) { return x; });
    g.stdDev = {0.5, 4};
    S robust(f, true, 0), weighted(g, false, 0);
    // median 0.5, absolute deviations {1.5, 1, 0.5, 0, 0.5, 1.5, 39.5}: MAD 1, u = 0.6745 r.
    const Reals r = {-1, -0.5, 0, 0.5, 1, 2, 40};
    Reals biweight;
    for (double x : r)
        biweight.push_back(x == 40 ? 0 : std::pow(1 - std::pow(0.6745 * x / 4.6851, 2), 2));
    EXPECT_THAT(values((robust.*A::computeWeight)(vectorOf(r))), Pointwise(DoubleNear(1e-12), biweight));
    EXPECT_EQ(values((robust.*A::computeWeight)(vectorOf({0, 0, 0, 0, 5, 9, 40}))), Reals(7, 1.0));
    EXPECT_EQ(values((weighted.*A::computeWeight)(vectorOf({1, 2}))), (Reals{4, 1.0 / 16}));
}

// Steps from inside are cut at the nearest bound, from a point on one projected onto it; the check has
// no tolerance and lets NaN pass. Samplers skip a chord with an open end: points stay finite in a half-plane.
TEST(ZoCNLSSolver, StepsAreCutAtTheNearestBoundAndSamplesStayFinite) {
    F f = F(2, 1, [](const Vec& x) { return vectorOf({x[0]}); });
    S s(f, false, 0);
    const Mat a = fromRows({{1, 0}}), box = fromRows({{1, 0}, {0, 1}}), one = fromRows({{1}});
    auto cut = [&](const Mat& a, const Reals& b, const Reals& z, const Reals& d) {
        return values((s.*A::cutBack)(a, vectorOf(b), vectorOf(z), vectorOf(d), false));
    };
    EXPECT_THAT(cut(a, {1}, {0, 0}, {4, 3}), Pointwise(DoubleNear(1e-12), Reals{1, 0.75}));  // cut at x0 = 1
    EXPECT_THAT(cut(box, {1, 2}, {1, 0}, {1, 1}), Pointwise(DoubleNear(1e-12), Reals{0, 1}));  // projected
    EXPECT_THAT(cut(box, {1, 2}, {1, 0}, {1, 5}), Pointwise(DoubleNear(1e-12), Reals{0, 2}));  // then cut
    auto check = [&](double z) { return (s.*A::checkConstraints)(one, vectorOf({1}), vectorOf({z})); };
    EXPECT_EQ(std::vector<bool>({check(1), check(1 + 1e-15), check(NAN)}),
              std::vector<bool>({true, false, true}));
    std::mt19937_64 rng(5489);
    std::function<double(double, double)> uniform = [&rng](double a, double b) {
        return a + std::generate_canonical<double, std::numeric_limits<double>::digits>(rng) * (b - a);
    };
    Vec x = vectorOf({0.2, 0.2});
    for (int i = 0; i < 50; ++i)
        for (auto sample : {A::gibbs, A::hitAndRun})
            (s.*sample)(a, vectorOf({1}), rng, uniform, x);  // the half-plane x0 <= 1
    EXPECT_TRUE(std::isfinite(x[0]) && std::isfinite(x[1]) && x[0] <= 1);
}

// No inequalities, a warning; a perfect first run ends it before sampling; otherwise
// it escapes a local minimum to the perfect fit, or takes all runs, and a repeated call repeats it exactly.
TEST(ZoCNLSMultistart, SeriesEscapesLocalMinimaStopsAtPerfectFitAndRepeatsExactly) {
    // Two valleys in [-2, 2]: a perfect fit at x = 1 and a worse local minimum near x = -1.
    F f(1, 2, {{0, -2, 2}}, [](const Vec& x) { return vectorOf({x[0] * x[0] - 1, 0.3 * (x[0] - 1)}); });
    F free = F(1, 1, [](const Vec& x) { return vectorOf({x[0] * x[0] - 2}); });
    EXPECT_EQ(solve(free, {1}, 100, 3, S::eHitAndRun).lines.back(),
              "(NLS) warning: skipping multistart (no inequality constraints!)\n");
    EXPECT_EQ(solve(f, {1}, 100, 4, S::eHitAndRun).lines,
              Lines({"(NLS) iter. 0: residual RMSE=0\n",
                     "(NLS) stopped after 1 iterations ('small gradient (++)', residual RMSE=0)\n",
                     "(NLS) obtained the best possible residual - omitting further multistart runs\n",
                     c_final + "0\n"}));
    for (auto sampler : {S::eGibbs, S::eHitAndRun}) {
        const auto o = solve(f, {-1.5}, 200, 10, sampler);
        EXPECT_NEAR(o.p[0], 1.0, 1e-7) << "sampler " << sampler;
        EXPECT_LT(o.residual, 1e-7);
        EXPECT_THAT(o.lines, Contains(c_sampling + "1 OF 10 (try #1)\n").Times(1));
        EXPECT_THAT(o.lines, testing::Not(Contains("(NLS) warmup failed.\n")));  // samples stay inside
    }
    F floor(2, 3, {{0, -2, 2}, {1, -2, 2}}, [](const Vec& x) {
        return vectorOf({std::sin(3 * x[0]) + x[1] * x[1], x[0] - x[1], 0.5});
    });
    const auto first = solve(floor, {1.5, -1.5}, 50, 5, S::eHitAndRun),
               second = solve(floor, {1.5, -1.5}, 50, 5, S::eHitAndRun);
    EXPECT_THAT(first.lines, Contains(StartsWith(c_sampling)).Times(5));
    EXPECT_EQ(second.lines, first.lines);
    EXPECT_EQ(second.p[0], first.p[0]);
}

// Nothing feasible returns the start; failed warm-ups (contradicting bounds) count as done runs; five
// failed runs in a row (x1 fixed at 5 beyond its bound 4: only the sampler finds points) abort the series.
TEST(ZoCNLSMultistart, FailedWarmUpsCountAsDoneAndFiveFailedRunsAbortTheSeries) {
    const std::string infeasible = "(NLS) infeasible constraints detected\n", final = c_final + "inf\n";
    F contradicting(1, 1, {{0, 2, 1}}, [](const Vec&x) { return x; }),
        fixed(2, 1, {{0, -1, 1}, {1, 0, 4}}, [](const Vec&x) { return vectorOf({x[0]}); });
    ASSERT_TRUE(fixed.AddEquality(1, 5.0));
    Lines aborted = {infeasible};
    for (int attempt = 1; attempt <= 5; ++attempt)
        aborted.insert(aborted.end(),
                       {c_sampling + "1 OF 3 (try #" + std::to_string(attempt) + ")\n", infeasible,
                        "(NLS) multistart run #1/#3 failed: constraint violation\n"});
    aborted.insert(aborted.end(), {"(NLS) multistart series aborted (too many errors)\n", final});
    const auto o = solve(contradicting, {5}, 10, 2, S::eGibbs, c_dInf),
               five = solve(fixed, {0.5, 3}, 10, 3, S::eHitAndRun, c_dInf);
    EXPECT_EQ(std::vector<int>({o.result, five.result}), std::vector<int>(2, S::eConstraintsViolated));
    EXPECT_EQ(Reals({o.p[0], o.residual, five.p[0], five.p[1]}), Reals({5, c_dInf, 0.5, 3}));
    EXPECT_EQ(o.lines, Lines({infeasible, c_sampling + "1 OF 2 (try #1)\n", "(NLS) warmup failed.\n",
                              c_sampling + "2 OF 2 (try #1)\n", "(NLS) warmup failed.\n", final}));
    EXPECT_EQ(five.lines, aborted);
}
