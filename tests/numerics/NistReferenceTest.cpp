// The solver on the NIST StRD nonlinear regression problems.
#include "NistProblems.h"
#include "NumericsTestSupport.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <string>

using namespace testsupport;

// Certified values reproduce the certified sums (reader, models); the solver reaches four digits in every
// parameter from NIST's second start (lower difficulty) or both (higher, but badly scaled MGH10, Bennett5).
TEST(NistReference, CertifiedSumsReproducedAndModeratelyScaledProblemsSolvedToFourDigits) {
    for (const std::string& name : nist::AllProblemNames()) {
        nist::NSProblem problem;
        ASSERT_TRUE(nist::Load(SharedDataDirectory() + "/nist", name, problem) && !problem.difficulty.empty())
            << name;
        LambdaObjective objective(problem.NumParams(), problem.NumObservations(), [&](const Vec& b) {
            Vec r(problem.NumObservations());
            for (int i = 0; i < r.size; ++i)
                r[i] = problem.response[i] - nist::Predict(problem.model, b.data, problem.x1[i],
                                                           problem.x2.empty() ? 0.0 : problem.x2[i]);
            return r;
        });
        const Vec r = objective.Error(vectorOf(problem.certified));
        // Lanczos1's certified sum is below rounding; its parameters reproduce ~4e-21.
        EXPECT_TRUE(name == "Lanczos1" ? r.Dot(r) < 1e-18
                                       : std::abs(r.Dot(r) / problem.certifiedRss - 1) < 1e-8)
            << name;
        const bool higher = problem.difficulty == "Higher" && name != "MGH10" && name != "Bennett5";
        for (int start = problem.difficulty == "Lower" ? 2 : higher ? 1 : 3; start <= 2; ++start) {
            ZoCNLSSolver solver(objective, false, 0);
            solver.SetLogging(false);
            Vec p = vectorOf(start == 1 ? problem.start1 : problem.start2);
            double residual = 0;
            solver.Run(p, residual, 1000, 1e-3, 0, ZoCNLSSolver::eHitAndRun);
            EXPECT_GE(nist::MinimumLogRelativeError(problem, values(p)), 4.0)
                << name << " from start " << start;
        }
    }
}
