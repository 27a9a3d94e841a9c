#include "ZoCOrbal2AxisCalibration.h"

#include "ZoBase64.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <fstream>
#include <iomanip>
#include <limits>
#include <mutex>
#include <sstream>
#include <stdexcept>
#include <string>

namespace {

constexpr double c_dLargest = std::numeric_limits<double>::max();
constexpr double c_dInfinity = std::numeric_limits<double>::infinity();
constexpr double c_dNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double c_dRadToDeg = 57.29577951308238;  // 180 / 3.14159265358979
constexpr double c_dMillimetresPerImageAreaUnit = 0.025;
constexpr size_t c_uBase64LineWidth = 64;
// Quality limits of the checker file.
constexpr double c_dRmseWarning = 20.0;
constexpr double c_dTrafoErrorWarning = 45.0;

using Params = ZoCOrbal2AxisCalibrationObjFunction::ZoSJointParams;
using Objective = ZoCOrbal2AxisCalibrationObjFunction;

// The calibration log's unfinished line, shared by all drivers of the process like the file
// it goes to: lines may be built by several calls.
struct NSPendingCalibrationLog {
    std::mutex mutex;  // guards text
    std::string text;
};

NSPendingCalibrationLog& pendingLog() {
    static NSPendingCalibrationLog pending;
    return pending;
}

std::string formatText(const char* format, va_list args) {
    va_list copy;
    va_copy(copy, args);
    const int length = std::vsnprintf(nullptr, 0, format, copy);
    va_end(copy);
    if (length <= 0)
        return std::string();
    std::string text(static_cast<size_t>(length) + 1, '\0');
    std::vsnprintf(text.data(), text.size(), format, args);
    text.resize(static_cast<size_t>(length));
    return text;
}

std::string timeText(const std::tm& time, const char* format) {
    char buffer[64];
    const size_t length = std::strftime(buffer, sizeof buffer, format, &time);
    return std::string(buffer, length);
}

ZoTMatrix<double> toMatrix(const CbMatrix4Rf& m) {
    ZoTMatrix<double> out(4);
    for (int i = 0; i < 16; ++i)
        out.data[i] = m[i];  // both column by column
    return out;
}

// The raw calibration data as IEEE doubles, little-endian, column by column over N x 12.
std::vector<uint8_t> rawDataBytes(const std::vector<ZoCOrbal2AxisCalibration::ZoSInputResponsePair>& set) {
    const int n = static_cast<int>(set.size());
    ZoTMatrix<double> raw(n, 12);
    for (int r = 0; r < n; ++r) {
        const ZoCOrbal2AxisCalibration::ZoSInputResponsePair& sample = set[static_cast<size_t>(r)];
        const ZoTVector<double> q = Objective::QuaternionFromRotation(sample.response);
        for (int c = 0; c < 5; ++c)
            raw(r, c) = sample.input[c];
        for (int c = 0; c < 4; ++c)
            raw(r, 5 + c) = q[c];
        for (int c = 0; c < 3; ++c)
            raw(r, 9 + c) = sample.response(c, 3);
    }
    std::vector<uint8_t> bytes;
    bytes.reserve(static_cast<size_t>(n) * 96);
    for (int i = 0; i < n * 12; ++i) {
        const uint64_t bits = std::bit_cast<uint64_t>(raw.data[i]);
        for (int b = 0; b < 8; ++b)
            bytes.push_back(static_cast<uint8_t>(bits >> (8 * b)));
    }
    return bytes;
}

bool isFinite(const ZoCOrbal2AxisCalibration::ZoSInputResponsePair& sample) {
    return std::all_of(sample.input.data, sample.input.data + sample.input.size,
                       [](double v) { return std::isfinite(v); }) &&
           std::all_of(sample.response.data, sample.response.data + 16, [](double v) { return std::isfinite(v); });
}

void requireJointIndex(int joint) {
    if (joint < 0 || joint >= 5)
        throw std::invalid_argument("joint index outside 0..4");
}

// The names of the parameters in the report: JOINT1.theta ... JOINT5.alpha.
std::string parameterName(int index) {
    static const char* const fields[4] = {"theta", "d", "a", "alpha"};
    return "JOINT" + std::to_string(index / 4 + 1) + "." + fields[index % 4];
}

ZoTVector<double> unitOrZero(const ZoTVector<double>& v) {
    const double norm = v.Norm();
    return norm > 0 ? v * (1.0 / norm) : v;
}

}  // namespace

const ZoCOrbal2AxisCalibration::ZoNFreeDHParams
    ZoCOrbal2AxisCalibration::c_defaultCalibrationSequence[c_iDefaultSequenceLength] = {
        {{0, 85, 20, -16, 290}},   {{0, 73, 45, -17, 294}},   {{-7, 59, 68, -13, 312}},
        {{-14, 66, 71, -4, 332}},  {{-19, 73, 76, 4, 352}},   {{-6, 82, 90, -5, 356}},
        {{11, 91, 110, -15, 2}},   {{21, 91, 144, -17, 26}},  {{21, 91, 142, -17, 56}},
        {{-36, 87, 20, 1, 261}},   {{18, 83, 118, -18, 117}}, {{1, 88, 91, -13, 139}},
        {{-16, 93, 67, -4, 153}},  {{-14, 116, 43, -6, 158}}, {{-9, 151, 7, -8, 165}},
        {{10, 49, 106, -20, 129}}, {{11, 49, 123, -16, 109}}, {{9, 55, 133, -7, 105}},
        {{-21, 89, 78, 4, 54}},    {{-33, 87, 95, 23, 56}},   {{0, 90, 90, -15, 300}},
        {{0, 90, 90, -15, 0}},     {{0, 90, 90, -15, 60}},    {{0, 90, 90, -15, 120}},
        {{0, 90, 90, -15, 180}},   {{0, 90, 90, -20, 270}},
};

std::tm ZoCOrbal2AxisCalibration::LocalTimeNow() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    return local;
}

// -----------------------------------------------------------------------------------------------
// Construction

ZoCOrbal2AxisCalibration::ZoCOrbal2AxisCalibration() {
    Reset();
}

ZoCOrbal2AxisCalibration::ZoCOrbal2AxisCalibration(ZoCOrbal2AxisCalibration& other)
    : m_calibrationSet(other.m_calibrationSet),
      m_rmse(other.m_rmse),
      m_result(other.m_result),
      m_objective(std::move(other.m_objective)),
      m_solver(std::move(other.m_solver)),
      m_params(other.m_params),
      m_covariance(other.m_covariance),
      m_dCriterion(other.m_dCriterion),
      m_statisticsStale(other.m_statisticsStale),
      m_covarianceFactorised(other.m_covarianceFactorised),
      m_robust(other.m_robust),
      m_firstJointOnly(other.m_firstJointOnly),
      m_calibrateOffsets(other.m_calibrateOffsets),
      m_logfileName(other.m_logfileName),
      m_clock(other.m_clock) {}

ZoCOrbal2AxisCalibration& ZoCOrbal2AxisCalibration::operator=(ZoCOrbal2AxisCalibration& other) {
    if (this == &other)
        return *this;
    m_calibrationSet = other.m_calibrationSet;
    m_rmse = other.m_rmse;
    m_result = other.m_result;
    m_solver.reset();  // it refers to the objective about to go
    m_objective = std::move(other.m_objective);
    m_solver = std::move(other.m_solver);
    m_params = other.m_params;
    m_covariance = other.m_covariance;
    m_dCriterion = other.m_dCriterion;
    m_statisticsStale = other.m_statisticsStale;
    m_covarianceFactorised = other.m_covarianceFactorised;
    m_robust = other.m_robust;
    m_firstJointOnly = other.m_firstJointOnly;
    m_calibrateOffsets = other.m_calibrateOffsets;
    m_logfileName = other.m_logfileName;
    m_clock = other.m_clock;
    return *this;
}

ZoCOrbal2AxisCalibration::~ZoCOrbal2AxisCalibration() = default;

void ZoCOrbal2AxisCalibration::Reset() {
    m_solver.reset();
    m_objective = std::make_unique<Objective>(m_firstJointOnly, m_calibrateOffsets);
    m_solver = std::make_unique<ZoCNLSSolver>(*m_objective, m_robust, -1);
    m_rmse = c_dLargest;
    m_result = static_cast<ZoCNLSSolver::EResult>(-1);
    m_params = m_objective->GetInitialParameters();
    m_covariance = ZoTMatrix<double>(m_params.size);
    std::fill(m_covariance.data, m_covariance.data + m_params.size * m_params.size, c_dInfinity);
    m_dCriterion = c_dInfinity;
    m_statisticsStale = true;
}

// -----------------------------------------------------------------------------------------------
// Samples

void ZoCOrbal2AxisCalibration::AddInputResponse(const double joints[5], const CbMatrix4Rf& registration) {
    if (!joints)
        throw std::invalid_argument("AddInputResponse without joint values");
    ZoTVector<double> input(5);
    std::copy(joints, joints + 5, input.data);
    m_calibrationSet.push_back({input, toMatrix(registration)});
    m_statisticsStale = true;
}

void ZoCOrbal2AxisCalibration::AddInputResponse(const float joints[5], const CbMatrix4Rf& registration) {
    if (!joints)
        throw std::invalid_argument("AddInputResponse without joint values");
    const double values[5] = {joints[0], joints[1], joints[2], joints[3], joints[4]};
    AddInputResponse(values, registration);
}

void ZoCOrbal2AxisCalibration::AddInputResponse(const ZoCOrbal2AxisChain::NCJointConfiguration& config,
                                                const CbMatrix4Rf& registration) {
    const double values[5] = {config[0], config[1], config[2], config[3], config[4]};
    AddInputResponse(values, registration);
}

bool ZoCOrbal2AxisCalibration::ConvertJointConfig(const ZoCOrbal2AxisChain::NCJointConfiguration& config,
                                                  CbMatrix4Rf& out) const {
    if (!m_objective) {
        out = c_matIdentity;
        return false;
    }
    ZoTVector<double> values(5);
    for (int i = 0; i < 5; ++i)
        values[i] = config[i];
    const ZoTMatrix<double> trafo = m_objective->BuildTrafo(Objective::m_defaultJointParams, values);
    for (int i = 0; i < 16; ++i)
        out[i] = static_cast<float>(trafo.data[i]);
    return true;
}

// -----------------------------------------------------------------------------------------------
// Run

bool ZoCOrbal2AxisCalibration::isSuccess(ZoCNLSSolver::EResult result) {
    return result == ZoCNLSSolver::eSmallGradient || result == ZoCNLSSolver::eSmallStepSize ||
           result == ZoCNLSSolver::eLSFailed;
}

// A subset must be smaller than the set (or there is nothing to choose) and at least as large as
// the number of free parameters (or no subset carries a positive-definite information matrix).
bool ZoCOrbal2AxisCalibration::useDesignSearch(int sampleCount) const {
    const int samples = static_cast<int>(m_calibrationSet.size());
    return sampleCount > 0 && sampleCount < samples &&
           sampleCount >= m_objective->GetFreeVariablesIndices().size;
}

bool ZoCOrbal2AxisCalibration::Run(int sampleCount, int multistartRuns, int restarts) {
    if (!m_objective || !m_solver)
        return false;
    // A registration that failed (NaN or infinite entries) or a joint value that was never
    // read would turn every residual into NaN and the solver's stop tests into noise; the set
    // keeps the sample for the raw data, but no calibration is computed from it.
    for (size_t i = 0; i < m_calibrationSet.size(); ++i) {
        if (!isFinite(m_calibrationSet[i])) {
            log("(CALIB) sorry, calibration failed (sample %i is not finite)\n", static_cast<int>(i) + 1);
            return false;
        }
    }
    // From here on the objective's samples and the parameters change; the statistics follow them
    // once the run is through.
    m_statisticsStale = true;
    std::vector<const ZoSInputResponsePair*> working;
    if (useDesignSearch(sampleCount)) {
        ZoTMatrix<double> candidates(static_cast<int>(m_calibrationSet.size()), 5);
        for (int r = 0; r < candidates.rows; ++r)
            for (int c = 0; c < 5; ++c)
                candidates(r, c) = m_calibrationSet[static_cast<size_t>(r)].input[c];
        const ZoTVector<int> chosen =
            m_objective->OptimizeCalibrationSequence(candidates, c_iDesignStarts, sampleCount);
        for (int i = 0; i < chosen.size; ++i)
            working.push_back(&m_calibrationSet[static_cast<size_t>(chosen[i])]);
    }
    if (working.empty())  // no design search, or one that found no informative subset
        for (const ZoSInputResponsePair& sample : m_calibrationSet)
            working.push_back(&sample);
    m_objective->RemoveAllSamples();
    for (const ZoSInputResponsePair* sample : working)
        m_objective->AddInputResponseSample(sample->input, sample->response);
    if (m_objective->GetNumMeasurements() < 2)
        return false;

    m_result =
        m_solver->Run(m_params, m_rmse, c_iMaxIterations, c_dTau, multistartRuns, ZoCNLSSolver::eHitAndRun);
    for (int i = 0; i < restarts; ++i) {
        if (!isSuccess(m_result))
            return false;
        m_objective->PrepareNextOptimizationRun(m_params);
        m_result = m_solver->Run(m_params, m_rmse, c_iMaxIterations, c_dTau, multistartRuns,
                                 ZoCNLSSolver::eHitAndRun);
    }
    updateStatistics();
    if (!isSuccess(m_result)) {
        log("(CALIB) sorry, calibration failed (NLS error code %i)\n", static_cast<int>(m_result));
        return false;
    }
    checkTrafos();
    GenerateReport();
    return true;
}

// -----------------------------------------------------------------------------------------------
// Parameters and statistics

void ZoCOrbal2AxisCalibration::updateStatistics() const {
    const int n = m_params.size;
    if (m_objective)
        m_covariance = m_objective->GetCovariance(m_params, c_dCovarianceTolerance);
    m_covarianceFactorised = m_objective && m_covariance.rows == n && m_covariance.cols == n;
    if (!m_covarianceFactorised) {
        // No objective, or a factorisation that failed: nothing is known about the parameters.
        m_covariance = ZoTMatrix<double>(n);
        std::fill(m_covariance.data, m_covariance.data + n * n, c_dInfinity);
    }
    if (m_objective) {
        const ZoTVector<int>& freeIndices = m_objective->GetFreeVariablesIndices();
        ZoTVector<double> z(freeIndices.size);
        for (int j = 0; j < z.size; ++j)
            z[j] = m_params[freeIndices[j]];
        m_dCriterion = m_objective->GetDCriterionValue(z);
    }
    m_statisticsStale = false;
}

// The stored offsets plus the home position of the joint variable.
void ZoCOrbal2AxisCalibration::jointParameters(int joint, double values[4]) const {
    for (int k = 0; k < 4; ++k)
        values[k] = m_params[4 * joint + k];
    if (!m_objective)
        return;
    const ZoTVector<double> home = m_objective->GetDefaultHomePositionParameters();
    if (m_objective->ImportJointParameters(m_params, joint).type == 'R')
        values[0] += home[4 * joint];
    else
        values[1] += home[4 * joint + 1];
}

void ZoCOrbal2AxisCalibration::jointStdDevs(int joint, double values[4]) const {
    for (int k = 0; k < 4; ++k)
        values[k] = std::sqrt(m_covariance(4 * joint + k, 4 * joint + k));
}

void ZoCOrbal2AxisCalibration::GetJointParameters(int joint, double& theta, double& d, double& a,
                                                  double& alpha) {
    requireJointIndex(joint);
    double values[4];
    jointParameters(joint, values);
    theta = values[0], d = values[1], a = values[2], alpha = values[3];
    if (m_statisticsStale)
        updateStatistics();
}

void ZoCOrbal2AxisCalibration::SetJointParameters(int joint, double theta, double d, double a, double alpha) {
    requireJointIndex(joint);
    if (!std::isfinite(theta) || !std::isfinite(d) || !std::isfinite(a) || !std::isfinite(alpha))
        throw std::invalid_argument("SetJointParameters with a non-finite value");
    m_params[4 * joint] = theta;
    m_params[4 * joint + 1] = d;
    m_params[4 * joint + 2] = a;
    m_params[4 * joint + 3] = alpha;
    m_statisticsStale = true;
}

void ZoCOrbal2AxisCalibration::GetJointParametersStdDev(int joint, double& theta, double& d, double& a,
                                                        double& alpha) {
    requireJointIndex(joint);
    if (m_statisticsStale)
        updateStatistics();
    double values[4];
    jointStdDevs(joint, values);
    theta = values[0], d = values[1], a = values[2], alpha = values[3];
}

ZoTMatrix<double> ZoCOrbal2AxisCalibration::GetJointParametersCovariance() {
    if (m_statisticsStale)
        updateStatistics();
    return m_covariance;
}

double ZoCOrbal2AxisCalibration::GetJointParametersDCriterion() {
    if (m_statisticsStale)
        updateStatistics();
    return m_dCriterion;
}

// -----------------------------------------------------------------------------------------------
// Default calibration sequence

std::unique_ptr<ZoCOrbal2AxisCalibration::ZoNFreeDHParams[]>
ZoCOrbal2AxisCalibration::GetDefaultCalibrationSequence(int& count) const {
    count = std::max(count, c_iDefaultSequenceLength);
    auto entries = std::make_unique<ZoNFreeDHParams[]>(static_cast<size_t>(count));
    std::copy(std::begin(c_defaultCalibrationSequence), std::end(c_defaultCalibrationSequence),
              entries.get());
    return entries;
}

void ZoCOrbal2AxisCalibration::GetDefaultCalibrationSequence(
    ZoCOrbal2AxisChain::CJointPositionSequence& sequence) const {
    sequence.RemoveAll();
    for (const ZoNFreeDHParams& entry : c_defaultCalibrationSequence) {
        ZoCOrbal2AxisChain::NSConfigurationRequest request;
        for (int i = 0; i < 5; ++i)
            request.m_config[i] = entry.values[i];
        request.m_byFlag = 1;
        sequence.Add(request);
    }
}

// -----------------------------------------------------------------------------------------------
// Log

// Complete lines go to the log file, opened for appending and closed at once so that a reader
// can follow it during a calibration; without a file the line is dropped.
void ZoCOrbal2AxisCalibration::log(const char* format, ...) const {
    va_list args;
    va_start(args, format);
    const std::string text = formatText(format, args);
    va_end(args);
    NSPendingCalibrationLog& pending = pendingLog();
    std::lock_guard<std::mutex> lock(pending.mutex);
    pending.text += text;
    if (pending.text.find('\n') == std::string::npos)
        return;
    if (!m_logfileName.IsEmpty()) {
        std::ofstream file(m_logfileName.ToUtf8(), std::ios::out | std::ios::app);
        if (file)
            file << pending.text;
    }
    pending.text.clear();
}

// Predicted (calibrated model) against measured absolute transforms, sample by sample.
bool ZoCOrbal2AxisCalibration::checkTrafos() const {
    log("(CALIB) *** CHECKING TRAFOS ***\n");
    Params joints[5];
    for (int j = 0; j < 5; ++j)
        joints[j] = m_objective->ImportJointParameters(m_params, j);
    int number = 0;
    for (const ZoSInputResponsePair& sample : m_calibrationSet) {
        ++number;
        const ZoTMatrix<double> P = m_objective->BuildTrafo(joints, sample.input);
        const ZoTMatrix<double>& M = sample.response;
        const ZoTVector<double> qP = Objective::QuaternionFromRotation(P);
        const ZoTVector<double> qM = Objective::QuaternionFromRotation(M);
        const ZoTVector<double> axisP = unitOrZero(Objective::QuaternionToAxis(qP));
        const ZoTVector<double> axisM = unitOrZero(Objective::QuaternionToAxis(qM));
        const double angleP = Objective::QuaternionToAngle(qP) * c_dRadToDeg;
        const double angleM = Objective::QuaternionToAngle(qM) * c_dRadToDeg;
        double tP[3], tM[3];
        for (int i = 0; i < 3; ++i) {
            tP[i] = P(i, 3) * c_dMillimetresPerImageAreaUnit;
            tM[i] = M(i, 3) * c_dMillimetresPerImageAreaUnit;
        }
        log("(CALIB) --------------\n");
        log("(CALIB) #%i PRE: %.2f deg around (%.2f,%.2f,%.2f), trans (%.2f,%.2f,%.2f)\n", number, angleP,
            axisP[0], axisP[1], axisP[2], tP[0], tP[1], tP[2]);
        log("(CALIB) #%i REG: %.2f deg around (%.2f,%.2f,%.2f), trans (%.2f,%.2f,%.2f)\n", number, angleM,
            axisM[0], axisM[1], axisM[2], tM[0], tM[1], tM[2]);
        log("(CALIB) #%i DIF: %.2f deg, cos similarity: %.2f, dTrans (%.2f,%.2f,%.2f)\n", number,
            std::abs(angleP - angleM), axisP.Dot(axisM), std::abs(tP[0] - tM[0]), std::abs(tP[1] - tM[1]),
            std::abs(tP[2] - tM[2]));
    }
    log("\n");
    return true;
}

// -----------------------------------------------------------------------------------------------
// Reports

void ZoCOrbal2AxisCalibration::GenerateReport() const {
    const std::string time = timeText(m_clock(), "%Y-%m-%d %H:%M:%S");
    log("(CALIB) *** BEGIN RAW CALIBRATION DATA ***\n");
    log("%s\n", ZoBreakLines(ZoBase64Encode(rawDataBytes(m_calibrationSet)), c_uBase64LineWidth).c_str());
    log("(CALIB) *** END RAW CALIBRATION DATA ***\n\n");
    log("(CALIB) *** AXIS CALIBRATION STATISTICS %s ***\n", time.c_str());
    // Run has just computed them from the same parameters and samples: a second pass would
    // only repeat the same arithmetic.
    if (m_statisticsStale)
        updateStatistics();
    logStatistics();
    logJointTable();
    logCorrelation();
}

// RMSE, D-criterion and the spread of the per-sample transform errors.
void ZoCOrbal2AxisCalibration::logStatistics() const {
    log("(CALIB)  optimizer RMSE = %g\n", m_rmse);
    log("(CALIB)  det(Fisher Information Matrix) = %g\n", m_dCriterion);
    const ZoTVector<double> e =
        m_objective ? m_objective->ComputeTrafoErrors(m_params, false) : ZoTVector<double>();
    const int n = e.size;
    double minimum = c_dNaN, maximum = c_dNaN, mean = c_dNaN, deviation = c_dNaN;
    if (n > 0) {
        double sum = 0.0, sumSquares = 0.0;
        minimum = maximum = e[0];
        for (int i = 0; i < n; ++i) {
            minimum = std::min(minimum, e[i]);
            maximum = std::max(maximum, e[i]);
            sum += e[i];
            sumSquares += e[i] * e[i];
        }
        mean = sum * (1.0 / n);
        // Equal errors can leave the difference a rounding error below zero.
        if (n > 1)
            deviation = std::sqrt(std::max(0.0, (sumSquares - sum * sum / n) / (n - 1)));
    }
    log("(CALIB)  trafo errors: [min,max]=[%.3g,%.3g], (mean,stddev)=[%.3g,%.3g]\n", minimum, maximum, mean,
        deviation);
    logUndeterminedParameters();
}

// The width of a parameter's bounds (infinite without both bounds).
double ZoCOrbal2AxisCalibration::admissibleWidth(int index) const {
    const ZoTMatrix<double>& A = m_objective->GetInequalitiesLHS();
    const ZoTVector<double>& b = m_objective->GetInequalitiesRHS();
    double lower = -c_dInfinity, upper = c_dInfinity;
    for (int r = 0; r < A.rows; ++r) {
        bool single = true;
        for (int c = 0; c < A.cols && single; ++c)
            single = c == index || A(r, c) == 0.0;
        if (!single || A(r, index) == 0.0)
            continue;
        if (A(r, index) > 0)
            upper = std::min(upper, b[r] / A(r, index));
        else
            lower = std::max(lower, b[r] / A(r, index));
    }
    return upper - lower;
}

// Samples that do not move a parameter (the same configuration recorded again and again, or too
// few configurations) leave its variance infinite, or, through rounding, so large that the
// standard deviation exceeds the parameter's whole admissible range: the value reported for it
// is only its start.
void ZoCOrbal2AxisCalibration::logUndeterminedParameters() const {
    if (!m_objective || m_objective->GetNumMeasurements() == 0)  // no samples: nothing was tried
        return;
    const ZoTVector<int>& freeIndices = m_objective->GetFreeVariablesIndices();
    std::vector<int> undetermined;
    for (int j = 0; j < freeIndices.size; ++j) {
        const int index = freeIndices[j];
        if (index < m_covariance.rows && !(std::sqrt(m_covariance(index, index)) <= admissibleWidth(index)))
            undetermined.push_back(index);
    }
    std::sort(undetermined.begin(), undetermined.end());
    std::string names;
    for (const int index : undetermined)
        names += (names.empty() ? "" : ", ") + parameterName(index);
    if (!names.empty())
        log("(CALIB)  warning: these samples cannot determine %s\n", names.c_str());
}

void ZoCOrbal2AxisCalibration::logJointTable() const {
    const int joints = m_firstJointOnly ? 1 : 5;
    double values[5][4], deviations[5][4];
    char kinds[5];
    for (int j = 0; j < joints; ++j) {
        jointParameters(j, values[j]);
        jointStdDevs(j, deviations[j]);
        kinds[j] = m_objective ? m_objective->ImportJointParameters(m_params, j).type
                               : Objective::m_defaultJointParams[j].type;
    }
    log("\n(CALIB) *** AXIS CALIBRATION RESULTS ***\n");
    for (int j = 0; j < joints; ++j)
        log("(CALIB)  JOINT%i = %g,%g,%g,%g,%c\n", j + 1, values[j][0], values[j][1], values[j][2],
            values[j][3], kinds[j]);
    for (int j = 0; j < joints; ++j)
        log("(CALIB)  stddev(JOINT%i) = %g,%g,%g,%g,%c\n", j + 1, deviations[j][0], deviations[j][1],
            deviations[j][2], deviations[j][3], kinds[j]);
    for (int j = 0; j < joints; ++j)
        log("(CALIB)  t(JOINT%i) = %g,%g,%g,%g,%c\n", j + 1, values[j][0] / deviations[j][0],
            values[j][1] / deviations[j][1], values[j][2] / deviations[j][2], values[j][3] / deviations[j][3],
            kinds[j]);
}

// Six characters per entry: a signed number, or a marker for what has no number.
std::string ZoCOrbal2AxisCalibration::correlationEntryText(double value) {
    if (std::isnan(value))
        return " indet";
    if (value > c_dLargest)
        return "  +Inf";
    if (value < -c_dLargest)
        return "  -Inf";
    char text[32];
    std::snprintf(text, sizeof text, " %+5.2f", value);
    return text;
}

void ZoCOrbal2AxisCalibration::logCorrelation() const {
    log("\n(CALIB) *** CORRELATION MATRIX ***\n");
    if (!m_objective)
        return;
    // The objective's correlation of the current parameters is its covariance scaled by the
    // standard deviations; that covariance is the one just stored (the same arithmetic on the
    // same parameters), unless its factorisation failed, when there is no correlation to print.
    if (!m_covarianceFactorised)
        return;
    const ZoTMatrix<double> correlation = ZoCNLSObjectiveFunction::CorrelationOfCovariance(m_covariance);
    for (int r = 0; r < correlation.rows; ++r) {
        log("(CALIB) ");
        for (int c = 0; c < correlation.cols; ++c)
            log("%s", correlationEntryText(correlation(r, c)).c_str());
        log("\n");
    }
}

void ZoCOrbal2AxisCalibration::GenerateCalibCheckerOutput(size_t device, const char* sensor) const {
    if (!sensor)  // no name can be formed: like a file that cannot be created, nothing is written
        return;
    if (m_statisticsStale)
        updateStatistics();
    const ZoTVector<double> e =
        m_objective ? m_objective->ComputeTrafoErrors(m_params, false) : ZoTVector<double>();
    double maxError = c_dNaN;
    for (int i = 0; i < e.size; ++i)
        maxError = i == 0 ? e[i] : std::max(maxError, e[i]);
    int expected = 0;
    GetDefaultCalibrationSequence(expected);
    const size_t registered = m_calibrationSet.size();
    const std::tm time = m_clock();

    std::ostringstream deviceText;
    deviceText << std::setw(6) << std::setfill('0') << device;
    const std::string name =
        "CaliQ7-" + deviceText.str() + "-" + sensor + "-" + timeText(time, "%Y%m%d_%H%M%S") + ".log";
    std::ofstream file(name, std::ios::out | std::ios::trunc);
    if (!file)
        return;
    file << "OrbalQ7 Kalibration am " << timeText(time, "%d.%m.%Y um %H:%M") << std::endl;
    file << "Geraet: " << deviceText.str() << std::endl;
    file << "Sensor: " << sensor << std::endl;
    file << "Kalibrierset: Kalibrierkiefer" << std::endl;
    file << "==========================================" << std::endl;
    file << std::endl;
    file << "OptimizerRMSE" << std::endl;
    file << "Norm: " << 0.0 << "  Value: " << m_rmse << std::endl;
    file << "MaxWarning: " << c_dRmseWarning << "  MinWarning: " << 0.0 << std::endl;
    file << "MaxError: " << c_dRmseWarning << "  MinError: " << 0.0 << std::endl;
    file << std::endl;
    file << "TrafoErrorMax" << std::endl;
    file << "Norm: " << 0.0 << "  Value: " << maxError << std::endl;
    file << "MaxWarning: " << c_dTrafoErrorWarning << "  MinWarning: " << 0.0 << std::endl;
    file << "MaxError: " << c_dTrafoErrorWarning << "  MinError: " << 0.0 << std::endl;
    file << std::endl;
    file << "NumRegisteredImages" << std::endl;
    file << "Norm: " << expected << "  Value: " << registered << std::endl;
    file << "MaxWarning: " << expected << "  MinWarning: " << 0.0 << std::endl;
    file << "MaxError: " << expected << "  MinError: " << 0.0 << std::endl;
}
