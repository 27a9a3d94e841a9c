// Shared helpers of the numerics tests: literal matrices, log lines, objectives given as lambdas, runs.
#pragma once

#include "CapturingLogSink.h"
#include "ZoCNLSObjectiveFunction.h"
#include "ZoCNLSSolver.h"
#include "ZoTMatrix.h"
#include "ZoTVector.h"

#include <algorithm>
#include <cmath>
#include <functional>
#include <string>
#include <utility>
#include <vector>

// Reaches the solver's internals for the tests.
class ZoCNLSSolverTestAccess {
  public:
    static ZoCNLSSolver::EResult run(ZoCNLSSolver& s, ZoTVector<double>& p, double& r, int maxIter,
                                     double tau) {
        return s.run(p, r, maxIter, tau);
    }
    static ZoTVector<double> computeWeight(ZoCNLSSolver& s, const ZoTVector<double>& r) {
        return s.computeWeight(r);
    }
    static double psiTukey(const ZoCNLSSolver& s, double u) { return s.psiTukey(u); }
    static double psiHuber(const ZoCNLSSolver& s, double u) { return s.psiHuber(u); }
    static ZoTVector<double> cutBack(ZoCNLSSolver& s, const ZoTMatrix<double>& A, const ZoTVector<double>& b,
                                     const ZoTVector<double>& z, const ZoTVector<double>& d) {
        return s.cutBack(A, b, z, d, false);
    }
    static bool checkConstraints(const ZoCNLSSolver& s, const ZoTMatrix<double>& A,
                                 const ZoTVector<double>& b, const ZoTVector<double>& z) {
        return s.checkConstraints(A, b, z);
    }
    static void shrink(const ZoCNLSSolver& s, ZoTMatrix<double>& A, ZoTVector<double>& b, double eps) {
        s.shrinkConstraints(A, b, eps);
    }
    static void distances(const ZoCNLSSolver& s, const ZoTMatrix<double>& A, const ZoTVector<double>& b,
                          const ZoTVector<double>& x, const ZoTVector<double>& d, double& back, double& fwd) {
        s.distanceToConstraints(A, b, x, d, back, fwd);
    }
    static void gibbs(ZoCNLSSolver& s, const ZoTMatrix<double>& A, const ZoTVector<double>& b,
                      std::mt19937_64& rng, std::function<double(double, double)>& u, ZoTVector<double>& x) {
        s.sampleGibbs(A, b, rng, u, x);
    }
    static void hitAndRun(ZoCNLSSolver& s, const ZoTMatrix<double>& A, const ZoTVector<double>& b,
                          std::mt19937_64& rng, std::function<double(double, double)>& u,
                          ZoTVector<double>& x) {
        s.sampleHitAndRun(A, b, rng, u, x);
    }
};

namespace testsupport {

inline ZoTMatrix<double> fromRows(const std::vector<std::vector<double>>& rows) {
    ZoTMatrix<double> m(static_cast<int>(rows.size()), static_cast<int>(rows.front().size()));
    for (int r = 0; r < m.rows; ++r)
        for (int c = 0; c < m.cols; ++c)
            m(r, c) = rows[r][c];
    return m;
}

inline ZoTVector<double> vectorOf(const std::vector<double>& values) {
    ZoTVector<double> v(static_cast<int>(values.size()));
    for (int i = 0; i < v.size; ++i)
        v[i] = values[i];
    return v;
}

// Largest elementwise difference of two matrices; 1e300 when their shapes differ.
inline double maxDifference(const ZoTMatrix<double>& a, const ZoTMatrix<double>& b) {
    if (a.rows != b.rows || a.cols != b.cols)
        return 1e300;
    double largest = 0;
    for (int i = 0; i < a.rows * a.cols; ++i)
        largest = std::max(largest, std::abs(a.data[i] - b.data[i]));
    return largest;
}

// The solver's and the debug print's log entries, as narrow strings.
inline std::vector<std::string> logLines(ScopedLogCapture& capture) {
    std::vector<std::string> lines;
    for (const auto& m : capture.Sink().Messages("ZoCWinLog"))
        lines.emplace_back(m.begin(), m.end());
    return lines;
}

// A least-squares problem whose residuals a test gives as a function; counts the evaluations.
class LambdaObjective : public ZoCNLSObjectiveFunction {
  public:
    using Residuals = std::function<ZoTVector<double>(const ZoTVector<double>&)>;
    LambdaObjective(int n, int m, Residuals f) : ZoCNLSObjectiveFunction(n, m), m_f(std::move(f)) {}
    ZoTVector<double> Error(const ZoTVector<double>& x) override {
        ++evaluations;
        return m_f(x);
    }
    // Residual standard deviations when given, the base's default otherwise.
    ZoTVector<double> StdDev() override {
        return stdDev.empty() ? ZoCNLSObjectiveFunction::StdDev() : vectorOf(stdDev);
    }
    std::vector<double> stdDev;
    using ZoCNLSObjectiveFunction::errorFDDerivatives;
    using ZoCNLSObjectiveFunction::getCovariance;
    int evaluations = 0;

  private:
    Residuals m_f;
};

// One solver run from a start, with its result, end point, residual and log.
struct SolveOutcome {
    ZoCNLSSolver::EResult result = ZoCNLSSolver::eLSFailed;
    ZoTVector<double> p;
    double residual = 0;
    std::vector<std::string> lines;
};

inline SolveOutcome solveLogged(ZoCNLSObjectiveFunction& f, const std::vector<double>& start, int maxIter,
                                int multistartRuns = 0, ZoCNLSSolver::ESampler sampler = ZoCNLSSolver::eGibbs,
                                double residual = 0) {
    ZoCNLSSolver solver(f, false, 0);
    ScopedLogCapture capture;
    SolveOutcome o;
    o.p = vectorOf(start);
    o.residual = residual;
    o.result = solver.Run(o.p, o.residual, maxIter, 1e-3, multistartRuns, sampler);
    o.lines = logLines(capture);
    return o;
}

inline bool startsWith(const std::string& line, const std::string& prefix) {
    return line.rfind(prefix, 0) == 0;
}

}  // namespace testsupport
