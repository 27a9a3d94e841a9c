// The solver on the NIST StRD nonlinear regression problems.
#include "CapturingLogSink.h"
#include "NistProblems.h"
#include "TestSupport.h"
#include "ZoCNLSSolver.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

namespace {

std::string nistDirectory() {
    return testsupport::SharedDataDirectory() + "/nist";
}

std::vector<double> solve(const nist::NSProblem& problem, const std::vector<double>& start) {
    nist::NistObjective objective(problem);
    ZoCNLSSolver solver(objective, false, 0);
    solver.SetLogging(false);
    ZoTVector<double> p(problem.NumParams());
    for (int i = 0; i < p.size; ++i)
        p[i] = start[i];
    double residual = 0;
    solver.Run(p, residual, 1000, 1e-3, 0, ZoCNLSSolver::eHitAndRun);
    return std::vector<double>(p.data, p.data + p.size);
}

}  // namespace

// Guards the reader and the model functions that the solver tests below rely on.
TEST(NistReference, ResidualSumAtCertifiedValuesMatchesCertifiedSum) {
    for (const std::string& name : nist::AllProblemNames()) {
        nist::NSProblem problem;
        ASSERT_TRUE(nist::Load(nistDirectory(), name, problem)) << name;
        ASSERT_EQ(problem.start1.size(), problem.certified.size()) << name;
        const double rss = nist::ResidualSumOfSquares(problem, problem.certified.data());
        if (name == "Lanczos1") {
            EXPECT_LT(rss, 1e-18) << name;  // certified below rounding; the parameters reproduce ~4e-21
        } else {
            EXPECT_NEAR(rss / problem.certifiedRss, 1.0, 1e-8) << name;
        }
    }
}

// The solver's Jacobian uses one absolute finite-difference step (0.000123) for every parameter,
// which suits parameters of moderate size. These problems have such parameters, and the solver
// must reach at least four correct digits in every one of them: the lower-difficulty ones from
// NIST's second start, the higher-difficulty ones from both.
TEST(NistReference, SolvesModeratelyScaledProblemsToFourDigits) {
    const std::pair<const char*, bool> c_problems[] = {
        {"Misra1a", false}, {"Chwirut2", false}, {"Chwirut1", false}, {"Lanczos3", false}, {"Gauss1", false},
        {"Gauss2", false},  {"DanWood", false},  {"Misra1b", false},  {"MGH09", true},     {"Thurber", true},
        {"BoxBOD", true},   {"Rat42", true},     {"Eckerle4", true},  {"Rat43", true}};
    for (const auto& [name, bothStarts] : c_problems) {
        nist::NSProblem problem;
        ASSERT_TRUE(nist::Load(nistDirectory(), name, problem)) << name;
        for (int start = bothStarts ? 1 : 2; start <= 2; ++start) {
            const std::vector<double> solution = solve(problem, start == 1 ? problem.start1 : problem.start2);
            EXPECT_GE(nist::MinimumLogRelativeError(problem, solution), 4.0)
                << name << " from start " << start;
        }
    }
}
