// Side by side on the NIST StRD nonlinear regression problems: the library's Levenberg-Marquardt
// (robustness off, no constraints, tau 1e-3) and Ceres Solver (dense QR) on the same residuals,
// from both certified starting points. Five ways to solve each:
//
//   FD       the library as the calibration uses it: the base Jacobian, central differences with
//            the absolute step 0.000123 in each parameter, on the problem's own parameters.
//   scaled   the same base Jacobian on scaled parameters x_j = s_j u_j with s_j the start value
//            (1 where a start is 0): the solver iterates on u from u = 1, so the absolute step in
//            u is a relative step of 0.000123 in x, whatever the size of the parameter. NIST's
//            parameters range from 1e-9 to 1e4, where one absolute step cannot serve them all;
//            this is the scaling Ceres users apply by hand.
//   exact    the objective overrides Jacobian with exact derivatives (forward-mode dual numbers
//            through the same model functions), on the scaled parameters.
//   Ceres numeric (central differences) and Ceres automatic derivatives.
//
// Prints per problem and start the smallest log relative error (LRE, correct digits) of the
// parameters against the certified values and, for the library's FD column and Ceres automatic,
// the iterations and the time per solve.
//
// Usage: nist_lm_vs_ceres [problem ...]   (all 27 problems when none is named)
#include "../tests/support/NistProblems.h"

#include "Logging.h"
#include "ZoCNLSSolver.h"

#ifdef ZOORBAL2_HAVE_CERES
#include <ceres/ceres.h>
#include <glog/logging.h>
#endif

#include <chrono>
#include <cstdio>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace {

constexpr int c_iMaxIterations = 10000;

struct NSOutcome {
    std::vector<double> params;
    int iterations = -1;
    std::string status;
    double seconds = 0.0;
};

// Reads the solver's iteration count from its closing "(NLS) stopped after %i iterations" line.
class StopLineSink : public Logging::ILogSink {
  public:
    int MinimumLevel() const override { return Logging::Info; }
    void Write(const Logging::NSLogEntry& entry) override {
        std::lock_guard<std::mutex> lock(m_mutex);
        const std::string text(entry.message.begin(), entry.message.end());
        int iterations = 0;
        if (std::sscanf(text.c_str(), "(NLS) stopped after %d iterations", &iterations) == 1)
            m_iterations = iterations;
    }
    int Iterations() const {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_iterations;
    }

  private:
    mutable std::mutex m_mutex;
    int m_iterations = -1;
};

// Mean seconds per call, repeating until 0.2 s have passed (at least once, at most 200 times).
double timePerCall(const std::function<void()>& solve) {
    using Clock = std::chrono::steady_clock;
    const Clock::time_point start = Clock::now();
    int calls = 0;
    double elapsed = 0.0;
    do {
        solve();
        ++calls;
        elapsed = std::chrono::duration<double>(Clock::now() - start).count();
    } while (elapsed < 0.2 && calls < 200);
    return elapsed / calls;
}

// Forward-mode dual number: a value and its derivatives with respect to up to nine parameters
// (ENSO has the most). Enough arithmetic for the NIST model functions.
struct NSDual {
    static constexpr int c_iMax = 9;
    double v = 0.0;
    double d[c_iMax] = {};
    NSDual() = default;
    NSDual(double value) : v(value) {}  // NOLINT: constants mix freely with duals
    template <typename F>
    NSDual chain(double value, F derivative) const {
        NSDual out(value);
        for (int i = 0; i < c_iMax; ++i)
            out.d[i] = derivative * d[i];
        return out;
    }
};
NSDual operator+(const NSDual& a, const NSDual& b) {
    NSDual out(a.v + b.v);
    for (int i = 0; i < NSDual::c_iMax; ++i)
        out.d[i] = a.d[i] + b.d[i];
    return out;
}
NSDual operator-(const NSDual& a) {
    return a.chain(-a.v, -1.0);
}
NSDual operator-(const NSDual& a, const NSDual& b) {
    return a + (-b);
}
NSDual operator*(const NSDual& a, const NSDual& b) {
    NSDual out(a.v * b.v);
    for (int i = 0; i < NSDual::c_iMax; ++i)
        out.d[i] = a.d[i] * b.v + a.v * b.d[i];
    return out;
}
NSDual operator/(const NSDual& a, const NSDual& b) {
    NSDual out(a.v / b.v);
    for (int i = 0; i < NSDual::c_iMax; ++i)
        out.d[i] = (a.d[i] * b.v - a.v * b.d[i]) / (b.v * b.v);
    return out;
}
NSDual exp(const NSDual& a) {
    return a.chain(std::exp(a.v), std::exp(a.v));
}
NSDual log(const NSDual& a) {
    return a.chain(std::log(a.v), 1.0 / a.v);
}
NSDual sin(const NSDual& a) {
    return a.chain(std::sin(a.v), std::cos(a.v));
}
NSDual cos(const NSDual& a) {
    return a.chain(std::cos(a.v), -std::sin(a.v));
}
NSDual atan(const NSDual& a) {
    return a.chain(std::atan(a.v), 1.0 / (1.0 + a.v * a.v));
}
NSDual pow(const NSDual& a, double e) {
    return a.chain(std::pow(a.v, e), e * std::pow(a.v, e - 1.0));
}
NSDual pow(double a, const NSDual& e) {
    return e.chain(std::pow(a, e.v), std::pow(a, e.v) * std::log(a));
}
NSDual pow(const NSDual& a, const NSDual& e) {
    return exp(e * log(a));
}

// The problem on scaled parameters x_j = s_j u_j; with exact set, Jacobian is overridden by the
// dual-number derivatives d r_i / d u_j = -s_j d model / d x_j.
class ScaledNistObjective : public ZoCNLSObjectiveFunction {
  public:
    ScaledNistObjective(const nist::NSProblem& problem, const std::vector<double>& scale, bool exact)
        : ZoCNLSObjectiveFunction(problem.NumParams(), problem.NumObservations()),
          m_problem(problem),
          m_scale(scale),
          m_exact(exact) {}
    ZoTVector<double> Error(const ZoTVector<double>& u) override {
        std::vector<double> x(m_scale.size());
        for (size_t j = 0; j < x.size(); ++j)
            x[j] = m_scale[j] * u[static_cast<int>(j)];
        ZoTVector<double> r(m_problem.NumObservations());
        for (int i = 0; i < r.size; ++i)
            r[i] = m_problem.response[i] - nist::Predict(m_problem.model, x.data(), m_problem.x1[i], x2(i));
        return r;
    }
    ZoTMatrix<double> Jacobian(const ZoTVector<double>& u) override {
        if (!m_exact)
            return ZoCNLSObjectiveFunction::Jacobian(u);
        const int n = static_cast<int>(m_scale.size());
        std::vector<NSDual> x(static_cast<size_t>(n));
        for (int j = 0; j < n; ++j) {
            x[static_cast<size_t>(j)] = NSDual(m_scale[static_cast<size_t>(j)] * u[j]);
            x[static_cast<size_t>(j)].d[j] = m_scale[static_cast<size_t>(j)];
        }
        ZoTMatrix<double> J(m_problem.NumObservations(), n);
        for (int i = 0; i < J.rows; ++i) {
            const NSDual model = nist::Predict(m_problem.model, x.data(), m_problem.x1[i], x2(i));
            for (int j = 0; j < n; ++j)
                J(i, j) = -model.d[j];
        }
        return J;
    }

  private:
    double x2(int i) const { return m_problem.x2.empty() ? 0.0 : m_problem.x2[static_cast<size_t>(i)]; }
    const nist::NSProblem& m_problem;
    std::vector<double> m_scale;
    bool m_exact;
};

enum class EVariant { eFD, eScaled, eExact };

NSOutcome solveWithLibrary(const nist::NSProblem& problem, const std::vector<double>& start,
                           EVariant variant) {
    std::vector<double> scale(start.size(), 1.0);
    if (variant != EVariant::eFD)
        for (size_t j = 0; j < start.size(); ++j)
            scale[j] = start[j] != 0.0 ? start[j] : 1.0;
    ScaledNistObjective objective(problem, scale, variant == EVariant::eExact);
    NSOutcome outcome;
    auto solveOnce = [&](bool logging, ZoTVector<double>& p) {
        ZoCNLSSolver solver(objective, false, 0);
        solver.SetLogging(logging);
        for (int i = 0; i < p.size; ++i)
            p[i] = start[static_cast<size_t>(i)] / scale[static_cast<size_t>(i)];
        double residual = 0.0;
        const ZoCNLSSolver::EResult result =
            solver.Run(p, residual, c_iMaxIterations, 1e-3, 0, ZoCNLSSolver::eHitAndRun);
        for (int i = 0; i < p.size; ++i)
            p[i] *= scale[static_cast<size_t>(i)];
        return result;
    };
    ZoTVector<double> p(problem.NumParams());
    {
        auto sink = std::make_shared<StopLineSink>();
        auto previous = Logging::SetLogSink(sink);
        outcome.status = ZoCNLSSolver::ResultText(solveOnce(true, p));
        Logging::SetLogSink(previous);
        outcome.iterations = sink->Iterations();
    }
    outcome.params.assign(p.data, p.data + p.size);
    if (variant == EVariant::eFD) {
        ZoTVector<double> scratch(problem.NumParams());
        outcome.seconds = timePerCall([&] { solveOnce(false, scratch); });
    }
    return outcome;
}

#ifdef ZOORBAL2_HAVE_CERES
struct NistResiduals {
    const nist::NSProblem* problem;
    template <typename T>
    bool operator()(T const* const* params, T* residuals) const {
        for (int i = 0; i < problem->NumObservations(); ++i)
            residuals[i] = problem->response[i] - nist::Predict(problem->model, params[0], problem->x1[i],
                                                                problem->x2.empty() ? 0.0 : problem->x2[i]);
        return true;
    }
};

NSOutcome solveWithCeres(const nist::NSProblem& problem, const std::vector<double>& start, bool automatic) {
    NSOutcome outcome;
    auto solveOnce = [&](std::vector<double>& p) {
        p = start;
        ceres::Problem ceresProblem;
        if (automatic) {
            auto* cost =
                new ceres::DynamicAutoDiffCostFunction<NistResiduals, 4>(new NistResiduals{&problem});
            cost->AddParameterBlock(problem.NumParams());
            cost->SetNumResiduals(problem.NumObservations());
            ceresProblem.AddResidualBlock(cost, nullptr, p.data());
        } else {
            auto* cost = new ceres::DynamicNumericDiffCostFunction<NistResiduals, ceres::CENTRAL>(
                new NistResiduals{&problem});
            cost->AddParameterBlock(problem.NumParams());
            cost->SetNumResiduals(problem.NumObservations());
            ceresProblem.AddResidualBlock(cost, nullptr, p.data());
        }
        ceres::Solver::Options options;
        options.linear_solver_type = ceres::DENSE_QR;
        options.max_num_iterations = c_iMaxIterations;
        options.function_tolerance = 1e-15;
        options.gradient_tolerance = 1e-15;
        options.parameter_tolerance = 1e-15;
        ceres::Solver::Summary summary;
        ceres::Solve(options, &ceresProblem, &summary);
        return summary;
    };
    std::vector<double> p;
    const ceres::Solver::Summary summary = solveOnce(p);
    outcome.params = p;
    outcome.iterations = summary.num_successful_steps + summary.num_unsuccessful_steps;
    outcome.status = ceres::TerminationTypeToString(summary.termination_type);
    if (automatic) {
        std::vector<double> scratch;
        outcome.seconds = timePerCall([&] { solveOnce(scratch); });
    }
    return outcome;
}
#endif

// LRE of each variant; iterations, time and result for the library's FD and Ceres automatic.
void printRow(const nist::NSProblem& problem, int start, const std::vector<NSOutcome>& outcomes) {
    std::printf("%-9s %-7s %d |", problem.name.c_str(), problem.difficulty.c_str(), start);
    for (const NSOutcome& outcome : outcomes)
        std::printf(" %6.1f", nist::MinimumLogRelativeError(problem, outcome.params));
    const NSOutcome& ours = outcomes.front();
    std::printf(" | %6d %8.3f %-22s", ours.iterations, ours.seconds * 1e3, ours.status.c_str());
    if (outcomes.size() == 5) {
        const NSOutcome& peer = outcomes.back();
        std::printf(" | %6d %8.3f %-12s %7.2f", peer.iterations, peer.seconds * 1e3, peer.status.c_str(),
                    ours.seconds / peer.seconds);
    }
    std::printf("\n");
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> names;
    for (int i = 1; i < argc; ++i)
        names.emplace_back(argv[i]);
    if (names.empty())
        names = nist::AllProblemNames();
    const std::string directory = std::string(ZOORBAL2_SHARED_DATA_DIR) + "/nist";
#ifdef ZOORBAL2_HAVE_CERES
    // Ceres reports every non-finite trial evaluation as a warning; only errors matter here.
    google::InitGoogleLogging(argv[0]);
    FLAGS_minloglevel = google::GLOG_ERROR;
#endif

    std::printf(
        "LRE: smallest number of correct digits over the parameters (>= 4 passes). Time per solve "
        "in ms.\n");
    std::printf("%-9s %-7s %s | %6s %6s %6s", "problem", "level", "s", "FD", "scaled", "exact");
#ifdef ZOORBAL2_HAVE_CERES
    std::printf(" %6s %6s", "C num", "C auto");
#endif
    std::printf(" | %6s %8s %-22s", "iter", "ms", "ZoCNLSSolver FD result");
#ifdef ZOORBAL2_HAVE_CERES
    std::printf(" | %6s %8s %-12s %7s", "iter", "ms", "Ceres auto", "t ratio");
#endif
    std::printf("\n");
    std::vector<int> passed(5, 0);
    int rows = 0;
    for (const std::string& name : names) {
        nist::NSProblem problem;
        if (!nist::Load(directory, name, problem)) {
            std::printf("%-9s cannot be read\n", name.c_str());
            continue;
        }
        for (int start = 1; start <= 2; ++start) {
            const std::vector<double>& x0 = start == 1 ? problem.start1 : problem.start2;
            std::vector<NSOutcome> outcomes;
            for (EVariant variant : {EVariant::eFD, EVariant::eScaled, EVariant::eExact})
                outcomes.push_back(solveWithLibrary(problem, x0, variant));
#ifdef ZOORBAL2_HAVE_CERES
            outcomes.push_back(solveWithCeres(problem, x0, false));
            outcomes.push_back(solveWithCeres(problem, x0, true));
#endif
            for (size_t v = 0; v < outcomes.size(); ++v)
                passed[v] += nist::MinimumLogRelativeError(problem, outcomes[v].params) >= 4.0 ? 1 : 0;
            ++rows;
            printRow(problem, start, outcomes);
        }
    }
    std::printf("LRE >= 4 of %d runs: ZoCNLSSolver FD %d, scaled %d, exact %d", rows, passed[0], passed[1],
                passed[2]);
#ifdef ZOORBAL2_HAVE_CERES
    std::printf("; Ceres numeric %d, automatic %d", passed[3], passed[4]);
#endif
    std::printf("\n");
    return 0;
}
