#include "ZoCNLSSolver.h"

#include "ZoCLinearProgram.h"
#include "ZoDebugPrint.h"
#include "ZoLapack.h"

#include <algorithm>
#include <cmath>
#include <cstdarg>
#include <limits>
#include <stdexcept>
#include <string>

namespace {

constexpr double c_dMachineEpsilon = 2.220446049250313e-16;
// Twice the machine epsilon: gradients, residuals and relative steps below it are noise.
constexpr double c_dTiny = 4.440892098500626e-16;
// 2^52: a step this much larger than the variables means the damped system was near singular.
constexpr double c_dHugeStepFactor = 4503599627370496.0;
// A nearest constraint closer than this, relative to |z|, counts as the one the step starts on.
// Deliberately relative, like the small-step stop: with an absolute 2.2e-15 a point that rounding
// leaves 1e-13 inside a bound at |z| ~ 1000 is "not on it", its step is cut to that sliver and
// the run stops with "small step size" far from the minimum. Relative, the step is projected
// onto the bound and slides along it. The same relative amount shortens a step that rounding
// carries just outside its bound (see shortenIntoPolytope).
constexpr double c_dOnConstraint = 2.220446049250313e-15;
constexpr int c_iShortenTries = 4;
// Feasible starts lie this far (relative to each row's norm) inside every constraint.
constexpr double c_dShrinkFeasibleStart = 2.220446049250313e-14;
// Tukey biweight tuning constant and the MAD-to-standard-deviation factor of normal data.
constexpr double c_dTukeyC = 4.6851;
constexpr double c_dMadToSigma = 0.6745;
constexpr double c_dHuberC = 1.345;
constexpr double c_dInfinity = std::numeric_limits<double>::infinity();

constexpr std::uint_fast64_t c_uMultistartSeed = 47110815;
constexpr int c_iWarmUpTries = 5;
constexpr int c_iMaxConsecutiveErrors = 5;

const char* const c_resultTexts[] = {
    "small gradient (++)",        "small step size (++)",    "maxiter exceeded (-)",
    "almost singular matrix (-)", "LS solution failed (--)", "constraints violated (-)",
};

// Shared by all solvers so that the lines of one run stay whole in the log.
ZoCPendingLogText& solverLog() {
    static ZoCPendingLogText buffer;
    return buffer;
}

// H = J^T diag(w) J and g = J^T diag(w) r.
void weightedNormalEquations(const ZoTMatrix<double>& J, const ZoTVector<double>& w,
                             const ZoTVector<double>& r, ZoTMatrix<double>& H, ZoTVector<double>& g) {
    const int m = J.rows, k = J.cols;
    H = ZoTMatrix<double>(k, k);
    g = ZoTVector<double>(k);
    for (int a = 0; a < k; ++a) {
        for (int i = 0; i < m; ++i)
            g[a] += J(i, a) * w[i] * r[i];
        for (int b = 0; b <= a; ++b) {
            double sum = 0.0;
            for (int i = 0; i < m; ++i)
                sum += J(i, a) * w[i] * J(i, b);
            H(a, b) = H(b, a) = sum;
        }
    }
}

bool allFinite(const ZoTVector<double>& v) {
    return std::all_of(v.data, v.data + v.size, [](double e) { return std::isfinite(e); });
}
bool allFinite(const ZoTMatrix<double>& M) {
    return std::all_of(M.data, M.data + M.rows * M.cols, [](double e) { return std::isfinite(e); });
}

double largestDiagonal(const ZoTMatrix<double>& H) {
    double largest = 0.0;
    for (int i = 0; i < std::min(H.rows, H.cols); ++i)
        largest = std::max(largest, H(i, i));
    return largest;
}

}  // namespace

ZoCNLSSolver::ZoCNLSSolver(ZoCNLSObjectiveFunction& objective, bool robust, int samplingSteps)
    : m_objective(objective),
      m_robust(robust),
      m_samplingSteps(samplingSteps < 1 ? 2 * objective.GetNumParams() : samplingSteps) {}

const char* ZoCNLSSolver::ResultText(EResult result) {
    const int index = static_cast<int>(result);
    return index >= 0 && index <= eConstraintsViolated ? c_resultTexts[index] : "";
}

void ZoCNLSSolver::log(const char* format, ...) const {
    if (!m_logging)
        return;
    va_list args;
    va_start(args, format);
    solverLog().Append(format, args);
    va_end(args);
}

ZoCNLSSolver::EResult ZoCNLSSolver::run(ZoTVector<double>& params, double& residual, int maxIter,
                                        double tau) {
    const int m = m_objective.GetNumMeasurements();
    const double sqrtM = std::sqrt(static_cast<double>(m));
    const ZoTVector<int>& freeIndices = m_objective.GetFreeVariablesIndices();
    const int k = freeIndices.size;
    ZoTMatrix<double> Af;
    ZoTVector<double> bf;
    m_objective.GetFreeVariablesInequalities(Af, bf);
    const bool constrained = bf.size > 0;
    ZoTVector<double> z(k);
    for (int j = 0; j < k; ++j)
        z[j] = params[freeIndices[j]];
    // Early ends return the current point without the closing log line.
    auto endEarly = [&](EResult result) {
        params = m_objective.BuildParamsFromFree(z);
        return result;
    };
    if (constrained && !checkConstraints(Af, bf, z) && !findFeasibleStart(Af, bf, z))
        return endEarly(eConstraintsViolated);
    ZoTVector<double> r = evaluate(z);
    if (r.size == 0)
        return endEarly(eLSFailed);
    ZoTMatrix<double> J = m_objective.Jacobian(z);
    checkJacobianShape(J, m, k);
    ZoTMatrix<double> H;
    ZoTVector<double> g;
    // Residuals or derivatives that are NaN or infinite leave nothing to minimise: the run ends
    // as a failed solve instead of reading NaN gradients as "small".
    bool finite = allFinite(r) && allFinite(J);
    if (finite)
        weightedNormalEquations(J, computeWeight(r), r, H, g);
    double mu = tau * std::max(0.0, largestDiagonal(H));
    double nu = 1.0;  // the first rejection keeps the damping, later ones double it
    residual = r.Norm() / sqrtM;
    log("(NLS) iter. 0: residual RMSE=%g\n", residual);

    EResult result = eMaxIterExceeded;
    int iterations = maxIter;
    for (int iter = 1; iter <= maxIter; ++iter) {
        if (!finite) {
            log("(NLS) residuals or their derivatives are not finite\n");
            result = eLSFailed;
            iterations = iter;
            break;
        }
        if (k == 0 || g.MaxAbs() <= c_dTiny || r.MaxAbs() <= c_dTiny) {
            result = eSmallGradient;
            iterations = iter;
            break;
        }
        ZoTMatrix<double> damped(H);
        for (int i = 0; i < k; ++i)
            damped(i, i) += mu;
        ZoTVector<double> delta(k);
        if (!lapack::lssolve(damped, g * -1.0, delta, nullptr)) {
            result = eLSFailed;
            iterations = iter;
            break;
        }
        if (constrained) {
            delta = cutBack(Af, bf, z, delta, false);
            if (!checkConstraints(Af, bf, z + delta))
                delta = shortenIntoPolytope(Af, bf, z, delta);
            if (!checkConstraints(Af, bf, z + delta)) {
                log("(NLS) warning: intermediate solution violates constraints\n");
                continue;
            }
        }
        const double stepNorm = delta.Norm(), scale = z.Norm() + c_dTiny;
        if (stepNorm <= c_dTiny * scale || stepNorm >= c_dHugeStepFactor * scale) {
            result = stepNorm <= c_dTiny * scale ? eSmallStepSize : eAlmostSingular;
            iterations = iter;
            break;
        }
        const ZoTVector<double> zTrial = z + delta;
        const ZoTVector<double> rTrial = evaluate(zTrial);
        const double actualGain = 0.5 * (r.Dot(r) - rTrial.Dot(rTrial));
        const double predictedGain = 0.5 * delta.Dot(delta * mu - g);
        if (!(predictedGain > 0 && actualGain > 0)) {
            mu *= nu;
            nu *= 2.0;
            continue;
        }
        // The trial's Jacobian is needed only once the trial is accepted; a rejected trial's
        // would never be read, so it is not computed (the iterates are the same either way).
        z = zTrial;
        r = rTrial;
        J = m_objective.Jacobian(z);
        checkJacobianShape(J, m, k);
        finite = allFinite(r) && allFinite(J);
        if (finite)
            weightedNormalEquations(J, computeWeight(r), r, H, g);
        const double rho = actualGain / predictedGain;
        mu *= std::max(1.0 / 3.0, std::pow(2.0 - 2.0 * rho, 3));
        nu = 2.0;
        if (iter % 5 == 0)
            log("(NLS) iter. %i: residual RMSE=%g\n", iter, r.Norm() / sqrtM);
    }
    residual = r.Norm() / sqrtM;
    log("(NLS) stopped after %i iterations ('%s', residual RMSE=%g)\n", iterations, ResultText(result),
        residual);
    params = m_objective.BuildParamsFromFree(z);
    return result;
}

// The residuals at z. An objective that returns some residuals but not the declared number
// breaks its contract; it is refused rather than read past its end. (No residuals at all is
// the run's stated failure, result 4.)
ZoTVector<double> ZoCNLSSolver::evaluate(const ZoTVector<double>& z) {
    ZoTVector<double> r = m_objective.Error(m_objective.BuildParamsFromFree(z));
    if (r.size != 0 && r.size != m_objective.GetNumMeasurements())
        throw std::length_error("ZoCNLSSolver: Error() returned " + std::to_string(r.size) + " residuals, " +
                                std::to_string(m_objective.GetNumMeasurements()) + " declared");
    return r;
}

void ZoCNLSSolver::checkJacobianShape(const ZoTMatrix<double>& J, int m, int k) {
    if (J.rows != m || J.cols != k)
        throw std::length_error("ZoCNLSSolver: Jacobian() must be " + std::to_string(m) + " x " +
                                std::to_string(k));
}

// A step cut back exactly to a bound can end a rounding error outside it. It is shortened by
// the on-constraint distance relative to |z|, growing fourfold per try, so that the trial lies
// inside; a step that disappears that way is 0 and stops the run as a small step.
ZoTVector<double> ZoCNLSSolver::shortenIntoPolytope(const ZoTMatrix<double>& A, const ZoTVector<double>& b,
                                                    const ZoTVector<double>& z,
                                                    const ZoTVector<double>& delta) {
    const double length = delta.Norm();
    if (!(length > 0))
        return delta;
    double cut = c_dOnConstraint * (z.Norm() + c_dTiny);
    for (int attempt = 0; attempt < c_iShortenTries; ++attempt, cut *= 4) {
        const ZoTVector<double> shorter = delta * (std::max(0.0, length - cut) / length);
        if (checkConstraints(A, b, z + shorter))
            return shorter;
    }
    return delta;
}

// Weights 1 / sd^2, multiplied by the Tukey biweight of the residual on the robust scale
// MAD / 0.6745. When more than half of the residuals are equal the scale is 0 and there is no
// yardstick for outliers: the residuals then keep their plain weights.
ZoTVector<double> ZoCNLSSolver::computeWeight(const ZoTVector<double>& r) {
    ZoTVector<double> w = m_objective.StdDev();
    if (r.size == 0)
        return w;
    if (w.size != r.size)
        throw std::length_error("ZoCNLSSolver: StdDev() must have one entry per residual");
    const double median = r.Median();
    ZoTVector<double> deviations(r.size);
    for (int i = 0; i < r.size; ++i)
        deviations[i] = std::abs(r[i] - median);
    const double scale = deviations.Median() / c_dMadToSigma;
    for (int i = 0; i < w.size; ++i) {
        w[i] = 1.0 / (w[i] * w[i]);
        if (!m_robust || !(scale > 0) || i >= r.size)
            continue;
        const double u = r[i] / scale;
        const double t = u / c_dTukeyC;
        w[i] *= std::abs(u) <= c_dTukeyC ? (1.0 - t * t) * (1.0 - t * t) : 0.0;
    }
    return w;
}

double ZoCNLSSolver::psiHuber(double u) const {
    if (std::abs(u) <= c_dHuberC)
        return u;
    return u < 0 ? -c_dHuberC : c_dHuberC;
}

double ZoCNLSSolver::psiTukey(double u) const {
    if (std::abs(u) > c_dTukeyC)
        return 0.0;
    const double t = u / c_dTukeyC;
    return u * (1.0 - t * t) * (1.0 - t * t);
}

// Shortens the step to the nearest constraint hyperplane ahead of z. A step that starts on a
// constraint (nearest one closer than 2.2e-15 |z|) is first projected once onto that
// hyperplane, so that it can slide along the bound instead of stalling.
ZoTVector<double> ZoCNLSSolver::cutBack(const ZoTMatrix<double>& A, const ZoTVector<double>& b,
                                        const ZoTVector<double>& z, const ZoTVector<double>& delta,
                                        bool projected) {
    const double length = delta.Norm();
    if (length == 0.0)
        return delta;  // no direction to cut along
    const ZoTVector<double> d = delta * (1.0 / length);
    double nearest = c_dInfinity;
    int active = -1;
    for (int i = 0; i < A.rows; ++i) {
        const ZoTVector<double> a = A.Row(i);
        const double t = (b[i] - a.Dot(z)) / a.Dot(d);
        const ZoTVector<double> y = z + d * t;
        if ((y - z).Dot(d) >= 0 && std::abs(t) < nearest) {
            nearest = std::abs(t);
            active = i;
        }
    }
    if (projected || nearest >= c_dOnConstraint * (z.Norm() + c_dTiny))
        return length <= nearest ? delta : d * nearest;
    ZoTVector<double> normal = A.Row(active);
    normal = normal * (1.0 / normal.Norm());
    return cutBack(A, b, z, delta - normal * delta.Dot(normal), true);
}

// No tolerance; a NaN row value is no violation.
bool ZoCNLSSolver::checkConstraints(const ZoTMatrix<double>& A, const ZoTVector<double>& b,
                                    const ZoTVector<double>& z) const {
    const ZoTVector<double> Az = A * z;
    for (int i = 0; i < A.rows; ++i)
        if (Az[i] > b[i])
            return false;
    return true;
}

// A point slightly inside the free-variable polytope (and with z >= 0): the linear programme
// "maximise -sum z" over the shrunk constraints.
bool ZoCNLSSolver::findFeasibleStart(const ZoTMatrix<double>& Af, const ZoTVector<double>& bf,
                                     ZoTVector<double>& z) {
    ZoTMatrix<double> A(Af);
    ZoTVector<double> b(bf);
    shrinkConstraints(A, b, c_dShrinkFeasibleStart);
    ZoTVector<double> c(A.cols);
    for (int j = 0; j < c.size; ++j)
        c[j] = -1.0;
    ZoCLinearProgram programme(A, b, c);
    if (!programme.Solve()) {
        log("(NLS) infeasible constraints detected\n");
        return false;
    }
    log("(NLS) constructed initial feasible solution\n");
    z = programme.GetSolution();
    z.Print();
    return true;
}

void ZoCNLSSolver::shrinkConstraints(ZoTMatrix<double>& A, ZoTVector<double>& b, double eps) const {
    for (int i = 0; i < A.rows; ++i)
        b[i] -= eps * A.Row(i).Norm();
}

void ZoCNLSSolver::distanceToConstraints(const ZoTMatrix<double>& A, const ZoTVector<double>& b,
                                         const ZoTVector<double>& x, const ZoTVector<double>& d,
                                         double& distBackward, double& distForward) const {
    distBackward = distForward = c_dInfinity;
    for (int i = 0; i < A.rows; ++i) {
        const ZoTVector<double> a = A.Row(i);
        const double t = (b[i] - a.Dot(x)) / a.Dot(d);
        const ZoTVector<double> offset = d * t;  // y - x
        const double distance = offset.Norm();
        if (std::isnan(distance))
            continue;  // d parallel to the hyperplane
        if (offset.Dot(d) >= 0)
            distForward = std::min(distForward, distance);
        else
            distBackward = std::min(distBackward, distance);
    }
}

// A chord with an open end (the polytope is unbounded in that direction) would give an
// infinite or NaN sample; such a move is skipped so that x stays finite.
void ZoCNLSSolver::sampleGibbs(const ZoTMatrix<double>& A, const ZoTVector<double>& b, std::mt19937_64&,
                               std::function<double(double, double)>& uniform, ZoTVector<double>& x) {
    for (int j = 0; j < x.size; ++j) {
        ZoTVector<double> d(x.size);
        d[j] = 1.0;
        double backward = 0, forward = 0;
        distanceToConstraints(A, b, x, d, backward, forward);
        if (!std::isfinite(backward) || !std::isfinite(forward))
            continue;
        x[j] += uniform(-backward, forward);
    }
}

void ZoCNLSSolver::sampleHitAndRun(const ZoTMatrix<double>& A, const ZoTVector<double>& b,
                                   std::mt19937_64& rng, std::function<double(double, double)>& uniform,
                                   ZoTVector<double>& x) {
    std::normal_distribution<double> normal(0.0, 1.0);
    ZoTVector<double> d(x.size);
    for (int j = 0; j < d.size; ++j)
        d[j] = normal(rng);
    d = d * (1.0 / d.Norm());
    double backward = 0, forward = 0;
    distanceToConstraints(A, b, x, d, backward, forward);
    if (!std::isfinite(backward) || !std::isfinite(forward))
        return;
    x = x + d * uniform(-backward, forward);
}

// Up to five Markov chains of m_samplingSteps steps over the full problem's inequalities; the
// first chain starts at params, every further one at xStart. On failure params is xStart.
bool ZoCNLSSolver::warmUp(ESampler sampler, std::mt19937_64& rng,
                          std::function<double(double, double)>& uniform, const ZoTVector<double>& xStart,
                          ZoTVector<double>& params) {
    const ZoTMatrix<double>& A = m_objective.GetInequalitiesLHS();
    const ZoTVector<double>& b = m_objective.GetInequalitiesRHS();
    for (int attempt = 0; attempt < c_iWarmUpTries; ++attempt) {
        for (int step = 0; step < m_samplingSteps; ++step) {
            if (sampler == eGibbs)
                sampleGibbs(A, b, rng, uniform, params);
            if (sampler == eHitAndRun)
                sampleHitAndRun(A, b, rng, uniform, params);
        }
        if (checkConstraints(A, b, params))
            return true;
        params = xStart;
    }
    log("(NLS) warmup failed.\n");
    return false;
}

ZoCNLSSolver::EResult ZoCNLSSolver::Run(ZoTVector<double>& params, double& residual, int maxIter, double tau,
                                        int multistartRuns, ESampler sampler) {
    if (params.size != m_objective.GetNumParams())
        throw std::invalid_argument("ZoCNLSSolver::Run: params must have one entry per parameter");
    if (maxIter < 0 || !(tau > 0))
        throw std::invalid_argument("ZoCNLSSolver::Run: maxIter must be >= 0 and tau > 0");
    const ZoTVector<double> xStart(params);
    EResult result = run(params, residual, maxIter, tau);
    if (multistartRuns <= 0)
        return result;
    if (!m_objective.HasInequalities()) {
        log("(NLS) warning: skipping multistart (no inequality constraints!)\n");
        return result;
    }
    std::mt19937_64 rng(c_uMultistartSeed);
    std::function<double(double, double)> uniform = [&rng](double a, double b) {
        return a + std::generate_canonical<double, std::numeric_limits<double>::digits>(rng) * (b - a);
    };
    ZoTVector<double> best(params);
    double bestResidual = residual;
    if (result == eConstraintsViolated) {
        params = best = xStart;
        bestResidual = c_dInfinity;
    }
    const double tolBest = params.size * 2.220446049250313e-15;

    int done = 0, runNo = 1, errors = 0;
    bool leftEarly = false;
    while (done < multistartRuns) {
        if (bestResidual <= tolBest || errors >= c_iMaxConsecutiveErrors) {
            leftEarly = true;
            break;
        }
        log("(NLS) SAMPLING FOR MULTISTART RUN %i OF %i (try #%i)\n", runNo, multistartRuns, errors + 1);
        if (warmUp(sampler, rng, uniform, xStart, params)) {
            const EResult r = run(params, residual, maxIter, tau);
            if (r <= eMaxIterExceeded || r == eLSFailed) {
                errors = 0;
            } else {
                // A failed run is repeated, up to five failures in a row.
                log(r == eAlmostSingular ? "(NLS) multistart run #%i/#%i failed: close to singular matrix\n"
                                         : "(NLS) multistart run #%i/#%i failed: constraint violation\n",
                    runNo, multistartRuns);
                --done;
                --runNo;
                ++errors;
            }
            if (residual < bestResidual) {
                best = params;
                bestResidual = residual;
                result = r;
            }
            params = xStart;
        }
        ++done;
        ++runNo;
    }
    if (leftEarly)
        log(bestResidual <= tolBest
                ? "(NLS) obtained the best possible residual - omitting further multistart runs\n"
                : "(NLS) multistart series aborted (too many errors)\n");
    params = best;
    residual = bestResidual;
    log("(NLS) final residual RMSE=%g\n", bestResidual);
    return result;
}
