// Levenberg-Marquardt for a ZoCNLSObjectiveFunction, iterating on the free variables of its
// equalities, with optional robust re-weighting (Tukey biweight on a MAD scale), inequalities
// kept by cutting each step back at the nearest constraint, and a multistart series from
// starting points sampled inside the constraint polytope.
//
// Progress goes to ZoCWinLog as lines beginning with "(NLS) ".
#pragma once

#include "ZoCNLSObjectiveFunction.h"
#include "ZoTMatrix.h"
#include "ZoTVector.h"

#include <functional>
#include <random>

class ZoCNLSSolver {
  public:
    enum EResult : int {
        eSmallGradient = 0,        // largest gradient entry or largest residual <= 4.44e-16
        eSmallStepSize = 1,        // step <= 4.44e-16 * (|z| + 4.44e-16)
        eMaxIterExceeded = 2,      // maxIter iterations without another stop
        eAlmostSingular = 3,       // step >= 2^52 * (|z| + 4.44e-16)
        eLSFailed = 4,             // the damped normal equations could not be solved, no residuals,
                                   // or residuals / derivatives not finite
        eConstraintsViolated = 5,  // no feasible starting point
    };
    enum ESampler : int { eGibbs = 0, eHitAndRun = 1 };

    // samplingSteps < 1 chooses 2 sweeps per parameter.
    ZoCNLSSolver(ZoCNLSObjectiveFunction& objective, bool robust, int samplingSteps);
    ZoCNLSSolver(const ZoCNLSSolver&) = default;
    ZoCNLSSolver(ZoCNLSSolver&&) = default;

    void SetLogging(bool logging) { m_logging = logging; }
    void SetRobustness(bool robust) { m_robust = robust; }
    void SetUseProjectionOfUpdates(bool project) { m_useProjectionOfUpdates = project; }

    // One run from params; with multistartRuns > 0 and inequalities, further runs from sampled
    // feasible starts, keeping the best. params and residual (RMSE) receive the best solution.
    // std::invalid_argument when params does not have GetNumParams() entries, maxIter < 0 or
    // tau is not positive; std::length_error when the objective's Error, StdDev or Jacobian do
    // not have the declared sizes. NaN or infinite residuals or derivatives end a run with
    // eLSFailed.
    EResult Run(ZoTVector<double>& params, double& residual, int maxIter, double tau, int multistartRuns,
                ESampler sampler);

    // The log text of a result ("small gradient (++)", ...).
    static const char* ResultText(EResult result);

  private:
    friend class ZoCNLSSolverTestAccess;

    EResult run(ZoTVector<double>& params, double& residual, int maxIter, double tau);
    ZoTVector<double> computeWeight(const ZoTVector<double>& r);
    double psiHuber(double u) const;
    double psiTukey(double u) const;
    ZoTVector<double> cutBack(const ZoTMatrix<double>& A, const ZoTVector<double>& b,
                              const ZoTVector<double>& z, const ZoTVector<double>& delta, bool projected);
    bool checkConstraints(const ZoTMatrix<double>& A, const ZoTVector<double>& b,
                          const ZoTVector<double>& z) const;
    void log(const char* format, ...) const __attribute__((format(printf, 2, 3)));
    ZoTVector<double> evaluate(const ZoTVector<double>& z);
    static void checkJacobianShape(const ZoTMatrix<double>& J, int m, int k);
    ZoTVector<double> shortenIntoPolytope(const ZoTMatrix<double>& A, const ZoTVector<double>& b,
                                          const ZoTVector<double>& z, const ZoTVector<double>& delta);

    bool findFeasibleStart(const ZoTMatrix<double>& Af, const ZoTVector<double>& bf, ZoTVector<double>& z);
    void shrinkConstraints(ZoTMatrix<double>& A, ZoTVector<double>& b, double eps) const;
    void distanceToConstraints(const ZoTMatrix<double>& A, const ZoTVector<double>& b,
                               const ZoTVector<double>& x, const ZoTVector<double>& d, double& distBackward,
                               double& distForward) const;
    void sampleGibbs(const ZoTMatrix<double>& A, const ZoTVector<double>& b, std::mt19937_64& rng,
                     std::function<double(double, double)>& uniform, ZoTVector<double>& x);
    void sampleHitAndRun(const ZoTMatrix<double>& A, const ZoTVector<double>& b, std::mt19937_64& rng,
                         std::function<double(double, double)>& uniform, ZoTVector<double>& x);
    bool warmUp(ESampler sampler, std::mt19937_64& rng, std::function<double(double, double)>& uniform,
                const ZoTVector<double>& xStart, ZoTVector<double>& params);

    ZoCNLSObjectiveFunction& m_objective;
    bool m_logging = true;
    bool m_useProjectionOfUpdates = true;  // kept for callers; the iteration always projects once
    bool m_robust;
    int m_samplingSteps;
};
