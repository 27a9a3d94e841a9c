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
    using Vec = ZoTVector<double>;
    using Mat = ZoTMatrix<double>;
    using Uniform = std::function<double(double, double)>;
    static ZoCNLSSolver::EResult run(ZoCNLSSolver& s, Vec& p, double& r, int maxIter, double tau) {
        return s.run(p, r, maxIter, tau);
    }
    static Vec computeWeight(ZoCNLSSolver& s, const Vec& r) { return s.computeWeight(r); }
    static double psiTukey(const ZoCNLSSolver& s, double u) { return s.psiTukey(u); }
    static double psiHuber(const ZoCNLSSolver& s, double u) { return s.psiHuber(u); }
    static Vec cutBack(ZoCNLSSolver& s, const Mat& A, const Vec& b, const Vec& z, const Vec& d) {
        return s.cutBack(A, b, z, d, false);
    }
    static bool checkConstraints(const ZoCNLSSolver& s, const Mat& A, const Vec& b, const Vec& z) {
        return s.checkConstraints(A, b, z);
    }
    static void shrink(const ZoCNLSSolver& s, Mat& A, Vec& b, double eps) { s.shrinkConstraints(A, b, eps); }
    static void distances(const ZoCNLSSolver& s, const Mat& A, const Vec& b, const Vec& x, const Vec& d,
                          double& back, double& fwd) {
        s.distanceToConstraints(A, b, x, d, back, fwd);
    }
    // The Gibbs sampler (hitAndRun false) or the hit-and-run one, one step from x.
    static void sample(ZoCNLSSolver& s, bool hitAndRun, const Mat& A, const Vec& b, std::mt19937_64& rng,
                       Uniform& u, Vec& x) {
        if (hitAndRun)
            s.sampleHitAndRun(A, b, rng, u, x);
        else
            s.sampleGibbs(A, b, rng, u, x);
    }
};

namespace testsupport {

using Vec = ZoTVector<double>;
using Mat = ZoTMatrix<double>;

inline Mat fromRows(const std::vector<std::vector<double>>& rows) {
    Mat m(static_cast<int>(rows.size()), static_cast<int>(rows.front().size()));
    for (int r = 0; r < m.rows; ++r)
        for (int c = 0; c < m.cols; ++c)
            m(r, c) = rows[r][c];
    return m;
}

inline Vec vectorOf(const std::vector<double>& values) {
    Vec v(static_cast<int>(values.size()));
    std::copy(values.begin(), values.end(), v.data);
    return v;
}

template <typename T>
std::vector<T> values(const ZoTVector<T>& v) {
    return std::vector<T>(v.data, v.data + v.size);
}

// Largest elementwise difference of two matrices; 1e300 when their shapes differ.
inline double maxDifference(const Mat& a, const Mat& b) {
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

inline bool startsWith(const std::string& line, const std::string& prefix) {
    return line.rfind(prefix, 0) == 0;
}

inline long countPrefix(const std::vector<std::string>& lines, const std::string& prefix) {
    return std::count_if(lines.begin(), lines.end(),
                         [&](const std::string& l) { return startsWith(l, prefix); });
}

// A least-squares problem whose residuals a test gives as a function; counts the evaluations.
class LambdaObjective : public ZoCNLSObjectiveFunction {
  public:
    using Residuals = std::function<Vec(const Vec&)>;
    LambdaObjective(int n, int m, Residuals f) : ZoCNLSObjectiveFunction(n, m), m_f(std::move(f)) {}
    Vec Error(const Vec& x) override {
        ++evaluations;
        return m_f(x);
    }
    // Residual standard deviations when given, the base's default otherwise.
    Vec StdDev() override { return stdDev.empty() ? ZoCNLSObjectiveFunction::StdDev() : vectorOf(stdDev); }
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
    Vec p;
    double residual = 0;
    std::vector<std::string> lines;
};

inline SolveOutcome solveLogged(ZoCNLSObjectiveFunction& f, const std::vector<double>& start, int maxIter,
                                int multistartRuns = 0, ZoCNLSSolver::ESampler sampler = ZoCNLSSolver::eGibbs,
                                double residual = 0) {
    ZoCNLSSolver solver(f, false, 0);
    ScopedLogCapture capture;
    SolveOutcome o{ZoCNLSSolver::eLSFailed, vectorOf(start), residual, {}};
    o.result = solver.Run(o.p, o.residual, maxIter, 1e-3, multistartRuns, sampler);
    o.lines = logLines(capture);
    return o;
}

}  // namespace testsupport
