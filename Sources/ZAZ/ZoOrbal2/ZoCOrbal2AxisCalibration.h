// One axis calibration: collects samples (joint values and the registration measured there),
// selects the samples to use (all, or a D-optimal subset), estimates the Denavit-Hartenberg
// parameters of the chain with the constrained Levenberg-Marquardt solver, keeps their
// covariance and D-criterion, and writes the calibration log and the checker file.
//
// The driver always works with the 20-parameter layout of the objective: joint j's theta, d,
// a, alpha are entries 4j..4j+3 of the parameter vector, the joint variable as an offset.
#pragma once

#include "AxisChain.h"
#include "Geometry.h"
#include "Platform.h"
#include "ZoCNLSSolver.h"
#include "ZoCOrbal2AxisCalibrationObjFunction.h"
#include "ZoTMatrix.h"
#include "ZoTVector.h"

#include <cstddef>
#include <ctime>
#include <functional>
#include <memory>
#include <string>
#include <vector>

class ZoCOrbal2AxisCalibration {
  public:
    using ZoSInputResponsePair = ZoCOrbal2AxisCalibrationObjFunction::ZoSInputResponsePair;

    // One configuration of the default calibration sequence, joint 1 first.
    struct ZoNFreeDHParams {
        float values[5];
    };
    static constexpr int c_iDefaultSequenceLength = 26;
    static const ZoNFreeDHParams c_defaultCalibrationSequence[c_iDefaultSequenceLength];

    // The solver's settings for a calibration run.
    static constexpr int c_iMaxIterations = 150;
    static constexpr double c_dTau = 0.001;
    static constexpr int c_iDesignStarts = 10;
    static constexpr double c_dCovarianceTolerance = 1e-8;

    // Local time of the reports; replaceable so that a test can fix it.
    using Clock = std::function<std::tm()>;
    static std::tm LocalTimeNow();

    ZoCOrbal2AxisCalibration();
    // Copies take over the source's objective and solver; the source is left without them
    // (ConvertJointConfig then returns false, Run returns false).
    ZoCOrbal2AxisCalibration(ZoCOrbal2AxisCalibration& other);
    ZoCOrbal2AxisCalibration& operator=(ZoCOrbal2AxisCalibration& other);
    ~ZoCOrbal2AxisCalibration();

    // New objective and solver, parameters back to nominal; samples and log-file name stay.
    void Reset();

    // Null joint values throw std::invalid_argument.
    void AddInputResponse(const double joints[5], const CbMatrix4Rf& registration);
    void AddInputResponse(const float joints[5], const CbMatrix4Rf& registration);
    void AddInputResponse(const ZoCOrbal2AxisChain::NCJointConfiguration& config,
                          const CbMatrix4Rf& registration);
    // Camera -> disc of the nominal chain (not the calibrated one), image-area units.
    bool ConvertJointConfig(const ZoCOrbal2AxisChain::NCJointConfiguration& config, CbMatrix4Rf& out) const;

    // sampleCount 0 uses every sample; a count between the number of free parameters and the
    // number of samples (exclusive) selects a D-optimal subset; any other count uses every
    // sample, since no subset of that size can be searched for.
    // A set holding a sample with a non-finite joint value or registration entry is refused:
    // Run logs "(CALIB) sorry, calibration failed (sample <n> is not finite)" and returns false
    // without solving (deliberate: the solver would report success on NaN residuals).
    bool Run(int sampleCount, int multistartRuns, int restarts);
    ZoCNLSSolver::EResult GetResult() const { return m_result; }

    // Joint 0..4; another index throws std::invalid_argument, as do non-finite values given to
    // SetJointParameters. The values carry the home position of the joint variable (90 degrees for the
    // tilts); SetJointParameters stores its values as they are.
    void GetJointParameters(int joint, double& theta, double& d, double& a, double& alpha);
    void SetJointParameters(int joint, double theta, double d, double a, double alpha);
    void GetJointParametersStdDev(int joint, double& theta, double& d, double& a, double& alpha);
    ZoTMatrix<double> GetJointParametersCovariance();
    double GetJointParametersDCriterion();

    void SetLogfileName(const wchar_t* name) { m_logfileName = CString(name); }
    const CString& GetLogfileName() const { return m_logfileName; }

    // Appends raw data, statistics, parameters and correlations to the log file. With samples,
    // free parameters whose standard deviation is infinite or wider than their bounds (the
    // samples do not move them) are named in one warning line after the trafo errors: "(CALIB)  warning: these samples cannot determine JOINT2.theta, ...".
    void GenerateReport() const;
    // Writes "CaliQ7-<device>-<sensor>-<time>.log" into the current directory; without a sensor
    // text (null) no name can be formed and nothing is written.
    void GenerateCalibCheckerOutput(size_t device, const char* sensor) const;

    // `count` is raised to the table's 26 entries; entries beyond the table are zero.
    std::unique_ptr<ZoNFreeDHParams[]> GetDefaultCalibrationSequence(int& count) const;
    void GetDefaultCalibrationSequence(ZoCOrbal2AxisChain::CJointPositionSequence& sequence) const;

    // Inspection.
    const std::vector<ZoSInputResponsePair>& GetCalibrationSet() const { return m_calibrationSet; }
    const ZoTVector<double>& GetParameters() const { return m_params; }
    double GetRMSE() const { return m_rmse; }
    // The objective also takes the opt-in for exact derivatives (SetExactDerivatives); Reset
    // builds a new objective, with finite differences again.
    ZoCOrbal2AxisCalibrationObjFunction* GetObjective() const { return m_objective.get(); }
    ZoCNLSSolver* GetSolver() const { return m_solver.get(); }
    void SetClock(Clock clock) { m_clock = std::move(clock); }

  private:
    friend class ZoCOrbal2AxisCalibrationTestAccess;

    void updateStatistics() const;
    void log(const char* format, ...) const __attribute__((format(printf, 2, 3)));
    bool checkTrafos() const;
    bool useDesignSearch(int sampleCount) const;
    static bool isSuccess(ZoCNLSSolver::EResult result);
    // The values behind GetJointParameters and GetJointParametersStdDev, statistics as they are.
    void jointParameters(int joint, double values[4]) const;
    void jointStdDevs(int joint, double values[4]) const;
    void logStatistics() const;
    void logUndeterminedParameters() const;
    double admissibleWidth(int index) const;
    void logJointTable() const;
    void logCorrelation() const;
    static std::string correlationEntryText(double value);

    std::vector<ZoSInputResponsePair> m_calibrationSet;
    double m_rmse;
    ZoCNLSSolver::EResult m_result;
    std::unique_ptr<ZoCOrbal2AxisCalibrationObjFunction> m_objective;
    std::unique_ptr<ZoCNLSSolver> m_solver;  // refers to m_objective, so it is destroyed first
    ZoTVector<double> m_params;
    // Refreshed by the const reports, as any reader of the statistics does.
    mutable ZoTMatrix<double> m_covariance;
    mutable double m_dCriterion;
    mutable bool m_statisticsStale;
    mutable bool m_covarianceFactorised = false;  // m_covariance is the objective's, not the fill
    bool m_robust = false;
    bool m_firstJointOnly = false;
    bool m_calibrateOffsets = true;
    CString m_logfileName;
    Clock m_clock = &ZoCOrbal2AxisCalibration::LocalTimeNow;
};
