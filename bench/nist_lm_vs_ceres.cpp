// Side by side on the NIST StRD nonlinear regression problems: the library's Levenberg-Marquardt
// (robustness off, no constraints, tau 1e-3, numerical Jacobian) and Ceres Solver (automatic
// derivatives, dense QR) on the same residuals, from both certified starting points.
//
// Prints per problem and start the smallest log relative error (LRE, correct digits) of the
// parameters against the certified values, the iterations and the time per solve of each.
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

NSOutcome solveWithLibrary(const nist::NSProblem& problem, const std::vector<double>& start) {
    nist::NistObjective objective(problem);
    NSOutcome outcome;
    auto solveOnce = [&](bool logging, ZoTVector<double>& p) {
        ZoCNLSSolver solver(objective, false, 0);
        solver.SetLogging(logging);
        for (int i = 0; i < p.size; ++i)
            p[i] = start[i];
        double residual = 0.0;
        return solver.Run(p, residual, c_iMaxIterations, 1e-3, 0, ZoCNLSSolver::eHitAndRun);
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
    ZoTVector<double> scratch(problem.NumParams());
    outcome.seconds = timePerCall([&] { solveOnce(false, scratch); });
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

NSOutcome solveWithCeres(const nist::NSProblem& problem, const std::vector<double>& start) {
    NSOutcome outcome;
    auto solveOnce = [&](std::vector<double>& p) {
        p = start;
        ceres::Problem ceresProblem;
        auto* cost = new ceres::DynamicAutoDiffCostFunction<NistResiduals, 4>(new NistResiduals{&problem});
        cost->AddParameterBlock(problem.NumParams());
        cost->SetNumResiduals(problem.NumObservations());
        ceresProblem.AddResidualBlock(cost, nullptr, p.data());
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
    std::vector<double> scratch;
    outcome.seconds = timePerCall([&] { solveOnce(scratch); });
    return outcome;
}
#endif

void printRow(const nist::NSProblem& problem, int start, const NSOutcome& ours, const NSOutcome* peer) {
    std::printf("%-9s %-7s %d | %5.1f %6d %9.3f %-22s", problem.name.c_str(), problem.difficulty.c_str(),
                start, nist::MinimumLogRelativeError(problem, ours.params), ours.iterations,
                ours.seconds * 1e3, ours.status.c_str());
    if (peer)
        std::printf(" | %5.1f %6d %9.3f %-12s %7.2f", nist::MinimumLogRelativeError(problem, peer->params),
                    peer->iterations, peer->seconds * 1e3, peer->status.c_str(),
                    ours.seconds / peer->seconds);
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
        "LRE: smallest number of correct digits over the parameters (>= 4 passes). Time per solve in ms.\n");
    std::printf("%-9s %-7s %s | %5s %6s %9s %-22s", "problem", "level", "s", "LRE", "iter", "ms",
                "ZoCNLSSolver result");
#ifdef ZOORBAL2_HAVE_CERES
    std::printf(" | %5s %6s %9s %-12s %7s", "LRE", "iter", "ms", "Ceres", "t ratio");
#endif
    std::printf("\n");
    int passedOurs = 0, passedPeer = 0, rows = 0;
    for (const std::string& name : names) {
        nist::NSProblem problem;
        if (!nist::Load(directory, name, problem)) {
            std::printf("%-9s cannot be read\n", name.c_str());
            continue;
        }
        for (int start = 1; start <= 2; ++start) {
            const std::vector<double>& x0 = start == 1 ? problem.start1 : problem.start2;
            const NSOutcome ours = solveWithLibrary(problem, x0);
            passedOurs += nist::MinimumLogRelativeError(problem, ours.params) >= 4.0 ? 1 : 0;
            ++rows;
#ifdef ZOORBAL2_HAVE_CERES
            const NSOutcome peer = solveWithCeres(problem, x0);
            passedPeer += nist::MinimumLogRelativeError(problem, peer.params) >= 4.0 ? 1 : 0;
            printRow(problem, start, ours, &peer);
#else
            printRow(problem, start, ours, nullptr);
#endif
        }
    }
    std::printf("LRE >= 4: ZoCNLSSolver %d of %d", passedOurs, rows);
#ifdef ZOORBAL2_HAVE_CERES
    std::printf(", Ceres %d of %d", passedPeer, rows);
#endif
    std::printf("\n");
    return 0;
}
