// Side by side on the axis calibration: the 26 registrations of the default sequence recorded by a
// perturbed device (the design search's simulation chain), calibrated by the library's driver
// (Run(0, 0, 0): solve, statistics, comparison and report) and by Ceres Solver on the same seven
// residuals per sample from the same start (the nominal chain), with the same bounds on the twelve
// free parameters and the lift and disc joints fixed.
//
// Ceres runs twice: with central differences of the library's own residual function (same
// residuals, same evaluation cost per call), and with automatic derivatives of the same model
// written as a template. The library runs with its default finite differences and with the
// opt-in exact derivatives of its objective. Prints time per calibration and final residual RMSE of each, and the
// time ratios library / Ceres. Times are processor time per calibration.
//
// Usage: calibration_vs_ceres [--profile [seconds [exact]]]
#include "Logging.h"
#include "ReferenceDevice.h"
#include "ZoOrbal2.h"

#ifdef ZOORBAL2_HAVE_CERES
#include <ceres/ceres.h>
#include <glog/logging.h>
#endif

#include <algorithm>
#include <array>
#include <ctime>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <string>
#include <random>
#include <vector>

namespace {

using Objective = ZoCOrbal2AxisCalibrationObjFunction;
using Calibration = ZoCOrbal2AxisCalibration;

struct NSScenario {
    const char* name;
    double rotationDegrees;  // registration noise per axis
    double translationUnits;
};

ZoCOrbal2AxisChain perturbedDevice() {
    using Joint = ZoCOrbal2DenavitHartenbergJoint;
    std::array<Joint, 5> joints;
    for (int i = 0; i < 5; ++i) {
        const Objective::ZoSJointParams& p = Objective::m_simulationJointParams[i];
        joints[static_cast<size_t>(i)] =
            Joint(static_cast<float>(p.theta), static_cast<float>(p.d), static_cast<float>(p.a),
                  static_cast<float>(p.alpha), p.type == 'R' ? Joint::c_iRevolute : Joint::c_iTranslational,
                  ReferenceDevice::c_afMin[i], ReferenceDevice::c_afMax[i]);
    }
    return ZoCOrbal2AxisChain(joints, ReferenceDevice::Home());
}

std::vector<CbMatrix4Rf> recordDefaultSequence(const NSScenario& scenario) {
    const ZoCOrbal2AxisChain device = perturbedDevice();
    std::mt19937_64 rng(11);
    std::normal_distribution<double> normal(0.0, 1.0);
    std::vector<CbMatrix4Rf> registrations;
    for (const auto& entry : Calibration::c_defaultCalibrationSequence) {
        CbMatrix4Rf m =
            device.GetCamToDiscTransformation(ZoCOrbal2AxisChain::NCJointConfiguration(entry.values), true);
        if (scenario.rotationDegrees > 0 || scenario.translationUnits > 0) {
            const double r = scenario.rotationDegrees * 3.14159265358979 / 180.0;
            const float rx = static_cast<float>(normal(rng) * r), ry = static_cast<float>(normal(rng) * r),
                        rz = static_cast<float>(normal(rng) * r);
            const float tx = static_cast<float>(normal(rng) * scenario.translationUnits),
                        ty = static_cast<float>(normal(rng) * scenario.translationUnits),
                        tz = static_cast<float>(normal(rng) * scenario.translationUnits);
            m = m * CbMatrix4Rf::Translation(tx, ty, tz) * CbMatrix4Rf::RotationZ(rz) *
                CbMatrix4Rf::RotationY(ry) * CbMatrix4Rf::RotationX(rx);
        }
        registrations.push_back(m);
    }
    return registrations;
}

// Processor time of this process: both sides run single-threaded, and on a shared machine the
// wall clock would count the other processes too.
double cpuSeconds() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + 1e-9 * static_cast<double>(t.tv_nsec);
}

// Mean processor seconds per call, repeating until 0.5 s have been spent (at least 3 times).
double timePerCall(const std::function<void()>& call) {
    const double start = cpuSeconds();
    int calls = 0;
    double elapsed = 0.0;
    do {
        call();
        ++calls;
        elapsed = cpuSeconds() - start;
    } while (elapsed < 0.5 || calls < 3);
    return elapsed / calls;
}

struct NSOutcome {
    double seconds = 0.0;
    double rmse = 0.0;
    const char* status = "";
    int iterations = -1;
    ZoTVector<double> params;  // the library's estimate
    int evaluations = -1;      // residual vectors computed in one calibration
    int jacobians = -1;        // Jacobians asked for (the library)
};

// The driver's objective, counting what the solver asks of it.
class CountingObjective : public Objective {
  public:
    ZoTVector<double> Error(const ZoTVector<double>& x) override {
        ++errors;
        return Objective::Error(x);
    }
    ZoTMatrix<double> Jacobian(const ZoTVector<double>& z) override {
        ++jacobians;
        return Objective::Jacobian(z);
    }
    int errors = 0, jacobians = 0;
};

// Reads the solver's iteration count from its closing "(NLS) stopped after %i iterations" line.
class StopLineSink : public Logging::ILogSink {
  public:
    int MinimumLevel() const override { return Logging::Info; }
    void Write(const Logging::NSLogEntry& entry) override {
        const std::string text(entry.message.begin(), entry.message.end());
        int iterations = 0;
        if (std::sscanf(text.c_str(), "(NLS) stopped after %d iterations", &iterations) == 1)
            m_iterations = iterations;
    }
    int Iterations() const { return m_iterations; }

  private:
    int m_iterations = -1;
};

NSOutcome calibrateWithLibrary(const std::vector<CbMatrix4Rf>& registrations, bool exactDerivatives) {
    auto calibrate = [&](Calibration& calibration) {
        calibration.GetObjective()->SetExactDerivatives(exactDerivatives);
        for (size_t i = 0; i < registrations.size(); ++i)
            calibration.AddInputResponse(Calibration::c_defaultCalibrationSequence[i].values,
                                         registrations[i]);
        calibration.Run(0, 0, 0);
    };
    NSOutcome outcome;
    Calibration once;
    {
        auto sink = std::make_shared<StopLineSink>();
        auto previous = Logging::SetLogSink(sink);
        calibrate(once);
        Logging::SetLogSink(previous);
        outcome.iterations = sink->Iterations();
    }
    outcome.rmse = once.GetRMSE();
    outcome.params = once.GetParameters();
    outcome.status = ZoCNLSSolver::ResultText(once.GetResult());
    outcome.seconds = timePerCall([&] {
        Calibration calibration;
        calibrate(calibration);
    });
    return outcome;
}

// The solve alone, as Run's step 4 does it: the driver's objective and solver, the nominal start,
// 150 iterations, tau 0.001, no multistart.
NSOutcome solveWithLibrarySolver(const std::vector<CbMatrix4Rf>& registrations) {
    CountingObjective objective;
    for (size_t i = 0; i < registrations.size(); ++i) {
        ZoTVector<double> q(5);
        ZoTMatrix<double> m(4);
        for (int j = 0; j < 5; ++j)
            q[j] = Calibration::c_defaultCalibrationSequence[i].values[j];
        for (int e = 0; e < 16; ++e)
            m.data[e] = registrations[i][e];
        objective.AddInputResponseSample(q, m);
    }
    ZoCNLSSolver solver(objective, false, -1);
    NSOutcome outcome;
    auto solve = [&] {
        ZoTVector<double> params = objective.GetInitialParameters();
        double rmse = 0.0;
        const ZoCNLSSolver::EResult result = solver.Run(params, rmse, Calibration::c_iMaxIterations,
                                                        Calibration::c_dTau, 0, ZoCNLSSolver::eHitAndRun);
        outcome.rmse = rmse;
        outcome.status = ZoCNLSSolver::ResultText(result);
    };
    {
        auto sink = std::make_shared<StopLineSink>();
        auto previous = Logging::SetLogSink(sink);
        solve();
        Logging::SetLogSink(previous);
        outcome.iterations = sink->Iterations();
    }
    outcome.evaluations = objective.errors;
    outcome.jacobians = objective.jacobians;
    outcome.seconds = timePerCall(solve);
    return outcome;
}

#ifdef ZOORBAL2_HAVE_CERES

// The library's objective holding the samples as the driver gives them, and the free-variable
// view that Ceres works on.
struct NSProblemSetup {
    explicit NSProblemSetup(const std::vector<CbMatrix4Rf>& registrations) {
        for (size_t i = 0; i < registrations.size(); ++i) {
            ZoTVector<double> q(5);
            ZoTMatrix<double> m(4);
            for (int j = 0; j < 5; ++j)
                q[j] = Calibration::c_defaultCalibrationSequence[i].values[j];
            for (int e = 0; e < 16; ++e)
                m.data[e] = registrations[i][e];
            objective.AddInputResponseSample(q, m);
        }
        const ZoTVector<int>& free = objective.GetFreeVariablesIndices();
        const ZoTVector<double> start = objective.GetInitialParameters();
        for (int j = 0; j < free.size; ++j)
            z0.push_back(start[free[j]]);
        ZoTMatrix<double> A;
        ZoTVector<double> b;
        objective.GetFreeVariablesInequalities(A, b);
        lower.assign(z0.size(), -1e300);
        upper.assign(z0.size(), 1e300);
        for (int r = 0; r < A.rows; ++r)
            for (int c = 0; c < A.cols; ++c) {
                if (A(r, c) > 0)
                    upper[static_cast<size_t>(c)] = b[r] / A(r, c);
                if (A(r, c) < 0)
                    lower[static_cast<size_t>(c)] = b[r] / A(r, c);
            }
    }
    Objective objective;
    std::vector<double> z0, lower, upper;
};

// Central differences of the library's residual function.
struct NSLibraryResiduals {
    Objective* objective;
    int* evaluations;  // counts the calls
    bool operator()(const double* z, double* residuals) const {
        ++*evaluations;
        ZoTVector<double> free(12);
        for (int j = 0; j < 12; ++j)
            free[j] = z[j];
        const ZoTVector<double> r = objective->Error(objective->BuildParamsFromFree(free));
        for (int i = 0; i < r.size; ++i)
            residuals[i] = r[i];
        return true;
    }
};

// The same model as a template for automatic derivatives: DH chain, translation in image-area
// units, inverted and turned by pi about x, relative to the first sample, compared by quaternion
// and translation.
template <typename T>
using M4 = std::array<T, 16>;  // row-major

template <typename T>
M4<T> multiply(const M4<T>& a, const M4<T>& b) {
    M4<T> m;
    for (int r = 0; r < 4; ++r)
        for (int c = 0; c < 4; ++c) {
            T sum = T(0);
            for (int k = 0; k < 4; ++k)
                sum += a[4 * r + k] * b[4 * k + c];
            m[4 * r + c] = sum;
        }
    return m;
}

template <typename T>
M4<T> dh(const T& theta, const T& d, const T& a, const T& alpha) {
    using std::cos;
    using std::sin;
    const double f = 3.14159265358979 / 180.0;
    const T ct = cos(theta * f), st = sin(theta * f), ca = cos(alpha * f), sa = sin(alpha * f);
    return {ct,   -st * ca, st * sa, a * ct, st,   ct * ca, -ct * sa, a * st,
            T(0), sa,       ca,      d,      T(0), T(0),    T(0),     T(1)};
}

template <typename T>
M4<T> rigidInverse(const M4<T>& m) {
    M4<T> inv;
    for (int r = 0; r < 3; ++r) {
        for (int c = 0; c < 3; ++c)
            inv[4 * r + c] = m[4 * c + r];
        inv[4 * r + 3] = -(m[r] * m[3] + m[4 + r] * m[7] + m[8 + r] * m[11]);
    }
    inv[12] = inv[13] = inv[14] = T(0);
    inv[15] = T(1);
    return inv;
}

template <typename T>
std::array<T, 4> quaternion(const M4<T>& R) {
    using std::sqrt;
    std::array<T, 4> q;
    const T trace = R[0] + R[5] + R[10];
    if (trace > T(0)) {
        const T s = sqrt(trace + T(1));
        const T f = T(0.5) / s;
        q = {s / T(2), (R[9] - R[6]) * f, (R[2] - R[8]) * f, (R[4] - R[1]) * f};
    } else if (R[0] > R[5] && R[0] > R[10]) {
        const T s = T(2) * sqrt(T(1) + R[0] - R[5] - R[10]);
        q = {(R[9] - R[6]) / s, s / T(4), (R[1] + R[4]) / s, (R[2] + R[8]) / s};
    } else if (R[5] > R[10]) {
        const T s = T(2) * sqrt(T(1) + R[5] - R[0] - R[10]);
        q = {(R[2] - R[8]) / s, (R[1] + R[4]) / s, s / T(4), (R[6] + R[9]) / s};
    } else {
        const T s = T(2) * sqrt(T(1) + R[10] - R[0] - R[5]);
        q = {(R[4] - R[1]) / s, (R[2] + R[8]) / s, (R[6] + R[9]) / s, s / T(4)};
    }
    const T norm = sqrt(q[0] * q[0] + q[1] * q[1] + q[2] * q[2] + q[3] * q[3]);
    for (T& v : q)
        v /= norm;
    return q;
}

struct NSTemplateResiduals {
    const Objective* objective;  // samples, fixed parameters, free-variable kernel

    template <typename T>
    M4<T> cameraToDisc(const std::array<T, 20>& x, const ZoTVector<double>& q) const {
        M4<T> p = {T(1), T(0), T(0), T(0), T(0), T(1), T(0), T(0),
                   T(0), T(0), T(1), T(0), T(0), T(0), T(0), T(1)};
        for (int i = 0; i < 5; ++i) {
            const bool revolute = i == 1 || i == 2 || i == 4;
            const T theta = x[4 * i] + (revolute ? T(q[i]) : T(0));
            const T d = x[4 * i + 1] + (revolute ? T(0) : T(q[i]));
            p = multiply(p, dh(theta, d, x[4 * i + 2], x[4 * i + 3]));
        }
        for (int r = 0; r < 3; ++r)
            p[4 * r + 3] *= T(40);
        const double c = std::cos(3.14159265358979), s = std::sin(3.14159265358979);
        const M4<T> rx = {T(1), T(0), T(0), T(0), T(0), T(c), T(-s), T(0),
                          T(0), T(s), T(c), T(0), T(0), T(0), T(0),  T(1)};
        return multiply(rigidInverse(p), rx);
    }

    template <typename T>
    bool operator()(const T* z, T* residuals) const {
        const ZoTMatrix<double>& K = objective->GetEqualityConstraintsKernel();
        std::array<T, 20> x;
        for (int r = 0; r < 20; ++r) {
            x[r] = T(K(r, 0));
            for (int j = 1; j < K.cols; ++j)
                if (K(r, j) != 0.0)
                    x[r] += T(K(r, j)) * z[j - 1];
        }
        const auto& samples = objective->GetSamples();
        const M4<T> firstInverse = rigidInverse(cameraToDisc(x, samples[0].input));
        for (size_t k = 1; k < samples.size(); ++k) {
            const M4<T> predicted = multiply(firstInverse, cameraToDisc(x, samples[k].input));
            const ZoTMatrix<double>& measured = samples[k].response;
            M4<T> m;
            for (int r = 0; r < 4; ++r)
                for (int c = 0; c < 4; ++c)
                    m[4 * r + c] = T(measured(r, c));
            const std::array<T, 4> qp = quaternion(predicted), qm = quaternion(m);
            T* block = residuals + 7 * (k - 1);
            for (int i = 0; i < 4; ++i)
                block[i] = qp[i] - qm[i];
            for (int i = 0; i < 3; ++i)
                block[4 + i] = predicted[4 * i + 3] - m[4 * i + 3];
        }
        return true;
    }
};

NSOutcome calibrateWithCeres(const std::vector<CbMatrix4Rf>& registrations, bool automatic) {
    NSProblemSetup setup(registrations);
    int evaluations = 0;
    const int m = setup.objective.GetNumMeasurements();
    auto solve = [&](std::vector<double>& z) {
        z = setup.z0;
        ceres::Problem problem;
        ceres::CostFunction* cost = nullptr;
        if (automatic)
            cost = new ceres::AutoDiffCostFunction<NSTemplateResiduals, 175, 12>(
                new NSTemplateResiduals{&setup.objective});
        else
            cost = new ceres::NumericDiffCostFunction<NSLibraryResiduals, ceres::CENTRAL, 175, 12>(
                new NSLibraryResiduals{&setup.objective, &evaluations});
        problem.AddResidualBlock(cost, nullptr, z.data());
        for (int j = 0; j < 12; ++j) {
            problem.SetParameterLowerBound(z.data(), j, setup.lower[static_cast<size_t>(j)]);
            problem.SetParameterUpperBound(z.data(), j, setup.upper[static_cast<size_t>(j)]);
        }
        ceres::Solver::Options options;
        options.linear_solver_type = ceres::DENSE_QR;
        options.max_num_iterations = 150;
        ceres::Solver::Summary summary;
        ceres::Solve(options, &problem, &summary);
        return summary;
    };
    NSOutcome outcome;
    std::vector<double> z;
    const ceres::Solver::Summary summary = solve(z);
    outcome.rmse = std::sqrt(2.0 * summary.final_cost / m);
    outcome.status = summary.termination_type == ceres::CONVERGENCE ? "converged" : "not converged";
    outcome.iterations = summary.num_successful_steps + summary.num_unsuccessful_steps;
    outcome.evaluations = evaluations;
    outcome.seconds = timePerCall([&] {
        std::vector<double> scratch;
        solve(scratch);
    });
    return outcome;
}

#endif

void printRow(const char* scenario, const char* who, const NSOutcome& o, double librarySeconds) {
    std::printf("%-22s %-34s %10.2f %14.6g  %-22s %5d", scenario, who, o.seconds * 1e3, o.rmse, o.status,
                o.iterations);
    if (librarySeconds > 0)
        std::printf(" %8.2f", librarySeconds / o.seconds);
    std::printf("\n");
}

// With --profile: only the library's default calibration (with "exact": the opt-in exact
// derivatives), repeated for `seconds` of processor
// time, for a profiler to attach to.
void profileLibrary(double seconds, bool exactDerivatives) {
    const NSScenario scenario{"noise", 0.002, 0.5};
    const std::vector<CbMatrix4Rf> registrations = recordDefaultSequence(scenario);
    const double start = cpuSeconds();
    int calls = 0;
    while (cpuSeconds() - start < seconds) {
        Calibration calibration;
        calibration.GetObjective()->SetExactDerivatives(exactDerivatives);
        for (size_t i = 0; i < registrations.size(); ++i)
            calibration.AddInputResponse(Calibration::c_defaultCalibrationSequence[i].values, registrations[i]);
        calibration.Run(0, 0, 0);
        ++calls;
    }
    std::printf("%d calibrations, %.3f ms each\n", calls, (cpuSeconds() - start) * 1e3 / calls);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc > 1 && std::string(argv[1]) == "--profile") {
        profileLibrary(argc > 2 ? std::atof(argv[2]) : 5.0, argc > 3 && std::string(argv[3]) == "exact");
        return 0;
    }
#ifdef ZOORBAL2_HAVE_CERES
    google::InitGoogleLogging(argv[0]);
    FLAGS_minloglevel = google::GLOG_ERROR;
#else
    (void)argv;
#endif
    const NSScenario scenarios[] = {{"exact registrations", 0.0, 0.0}, {"noise 0.002 deg/0.5 u", 0.002, 0.5}};
    std::printf("%-22s %-34s %10s %14s  %-22s %5s %8s\n", "registrations", "solver", "ms/calib", "RMSE",
                "result", "iter", "lib/peer");
    for (const NSScenario& scenario : scenarios) {
        const std::vector<CbMatrix4Rf> registrations = recordDefaultSequence(scenario);
        const NSOutcome library = calibrateWithLibrary(registrations, false);
        const NSOutcome exact = calibrateWithLibrary(registrations, true);
        const NSOutcome solver = solveWithLibrarySolver(registrations);
        printRow(scenario.name, "ZoCOrbal2AxisCalibration Run(0,0,0)", library, 0.0);
        printRow(scenario.name, "  of which ZoCNLSSolver::Run", solver, 0.0);
#ifdef ZOORBAL2_HAVE_CERES
        const NSOutcome numeric = calibrateWithCeres(registrations, false);
        const NSOutcome automatic = calibrateWithCeres(registrations, true);
        printRow(scenario.name, "Ceres, central differences", numeric, library.seconds);
        printRow(scenario.name, "Ceres, automatic derivatives", automatic, library.seconds);
        printRow(scenario.name, "Run(0,0,0), exact derivatives (opt-in)", exact, 0.0);
        // What each side evaluates: the library's solve computes one residual vector per trial and a
        // Jacobian of 12 columns x 4 stencil points per accepted step (the driver's statistics
        // reuse the last one); Ceres's central differences take 2 points per column, on one
        // residual block of all 175 residuals (per-sample blocks would each recompute the first
        // sample's chain, which every residual depends on).
        std::printf("%-22s   residual vectors per solve: library %d + %d Jacobians x 48 stencil points = %d, "
                    "Ceres central %d\n",
                    scenario.name, solver.evaluations, solver.jacobians, solver.evaluations + 48 * solver.jacobians,
                    numeric.evaluations);
        std::printf("%-22s %-34s %10s %14s  %-22s %5s %8.2f\n", scenario.name,
                    "  (exact derivatives / Ceres automatic)", "", "", "", "", exact.seconds / automatic.seconds);
        // The opt-in's estimate against the default's, parameter by parameter, relative to the
        // estimate or to 1 (degree, millimetre) where it is smaller: a length that is 0 on the
        // device (the second tilt's a) has no relative digits to compare.
        double largest = 0.0;
        int worst = -1;
        for (int j = 0; j < library.params.size; ++j) {
            const double scale = std::max(1.0, std::abs(library.params[j]));
            const double relative = std::abs(exact.params[j] - library.params[j]) / scale;
            if (relative > largest || worst < 0) {
                largest = relative;
                worst = j;
            }
        }
        std::printf("%-22s   exact derivatives against default: largest difference %.2g (parameter %d), relative to max(1, |estimate|)\n",
                    scenario.name, largest, worst);
        std::printf("%-22s %-34s %10s %14s  %-22s %5s %8.2f\n", scenario.name,
                    "  (solve alone / Ceres central)", "", "", "", "", solver.seconds / numeric.seconds);
#endif
    }
    return 0;
}
