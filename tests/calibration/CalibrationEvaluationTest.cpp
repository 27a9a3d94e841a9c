// The fast evaluation of the calibration against the model evaluated as written: the same bits.
#include "CalibrationTestSupport.h"

namespace {

using Calibration = ZoCOrbal2AxisCalibration;
using Objective = ZoCOrbal2AxisCalibrationObjFunction;
using Access = ZoCOrbal2AxisCalibrationObjFunctionTestAccess;
using calibtest::Entries;

// Every joint matrix anew, full products and inversions; the base class's finite differences.
class StraightforwardObjective : public Objective {
  public:
    ZoTMatrix<double> Jacobian(const ZoTVector<double>& z) override {
        return ZoCNLSObjectiveFunction::Jacobian(z);
    }
    ZoTVector<double> Error(const ZoTVector<double>& params) override {
        const std::vector<ZoSInputResponsePair>& samples = GetSamples();
        const std::unique_ptr<ZoSJointParams[]> joints = ImportJointParameters(params);
        ZoTMatrix<double> first = trafo(joints.get(), samples[0].input);
        first.Invert();
        ZoTVector<double> r(GetNumMeasurements());
        for (size_t k = 1; k < samples.size(); ++k) {
            const ZoTVector<double> block =
                Access::trafoDist(*this, first * trafo(joints.get(), samples[k].input), samples[k].response);
            std::copy_n(block.data, block.size, r.data + static_cast<int>(k - 1) * block.size);
        }
        return r;
    }

  private:
    ZoTMatrix<double> trafo(const Objective::ZoSJointParams joints[5], const ZoTVector<double>& q) const {
        ZoTMatrix<double> P = ZoTMatrix<double>::Identity(4);
        for (int i = 4; i >= 0; --i)
            P = Access::getRelativeTransformation(*this, joints[i], q[i]) * P;
        for (int r = 0; r < 3; ++r)
            P(r, 3) *= 40.0;
        P.Invert();
        ZoTMatrix<double> Rx = ZoTMatrix<double>::Identity(4);
        const double c = std::cos(3.14159265358979), s = std::sin(3.14159265358979);
        Rx(1, 1) = c, Rx(1, 2) = -s, Rx(2, 1) = s, Rx(2, 2) = c;
        return P * Rx;
    }
};

std::vector<CbMatrix4Rf> noisyDefaultSequence(std::mt19937_64& rng) {
    std::vector<CbMatrix4Rf> registrations;
    for (const auto& entry : Calibration::c_defaultCalibrationSequence)
        registrations.push_back(
            calibtest::Registration(calibtest::SimulationTableChain(), entry.values, {0.002, 0.5}, rng));
    return registrations;
}

}  // namespace

// Residuals and Jacobian at the start and at random points around it, in every residual mode.
TEST(ZoCOrbal2AxisCalibrationObjFunction, FastResidualsEqualTheStraightforwardOnesToTheBit) {
    std::mt19937_64 rng(3);
    const std::vector<CbMatrix4Rf> registrations = noisyDefaultSequence(rng);
    for (int mode : {7, 12, 1}) {
        Objective fast;
        StraightforwardObjective plain;
        Access::setErrorsPerSample(fast, mode);
        Access::setErrorsPerSample(plain, mode);
        for (size_t i = 0; i < registrations.size(); ++i) {
            // The last three: negative traces, the largest diagonal entry in row 0, 1 and 2.
            constexpr double c_far[3][3] = {{0, -100, 45}, {-60, 60, 45}, {-30, -100, 270}};
            ZoTVector<double> q = calibtest::SequenceInput(static_cast<int>(i));
            if (const size_t f = i + 3 - registrations.size(); i + 3 >= registrations.size())
                q[1] = c_far[f][0], q[2] = c_far[f][1], q[4] = c_far[f][2];
            fast.AddInputResponseSample(q, calibtest::ToMatrix(registrations[i]));
            plain.AddInputResponseSample(q, calibtest::ToMatrix(registrations[i]));
        }
        std::normal_distribution<double> step(0.0, 2.0);
        for (int trial = 0; trial < 8; ++trial) {
            ZoTVector<double> x = fast.GetInitialParameters();
            for (int j = 0; j < 12 && trial > 0 && trial < 6; ++j)
                x[j] += step(rng);
            if (trial == 7) {  // a sample replaced after evaluations at this very point
                fast.ReplaceInputResponseSample(2, fast.GetSamples()[4].input, fast.GetSamples()[2].response);
                plain.ReplaceInputResponseSample(2, plain.GetSamples()[4].input,
                                                 plain.GetSamples()[2].response);
            }
            EXPECT_EQ(Entries(fast.Error(x)), Entries(plain.Error(x)))
                << "mode " << mode << " trial " << trial;
            const ZoTVector<double> z = calibtest::FreeOf(fast, x);
            EXPECT_EQ(Entries(fast.Jacobian(z)), Entries(plain.Jacobian(z)))
                << "mode " << mode << " trial " << trial;
        }
    }
}

// The run equals the solver's on the plain model; the report's reused statistics recomputed ones.
TEST(ZoCOrbal2AxisCalibration, FastRunAndReportEqualTheStraightforwardEvaluation) {
    ScopedLogCapture quiet;
    std::mt19937_64 rng(5);
    const std::vector<CbMatrix4Rf> registrations = noisyDefaultSequence(rng);
    Calibration calibration;
    calibration.SetClock(calibtest::FixedTime);
    const std::string logFile = calibtest::LogToFreshDirectory(calibration, "fast_report");
    StraightforwardObjective plain;
    for (size_t i = 0; i < registrations.size(); ++i) {
        calibration.AddInputResponse(Calibration::c_defaultCalibrationSequence[i].values, registrations[i]);
        plain.AddInputResponseSample(calibration.GetCalibrationSet()[i].input,
                                     calibration.GetCalibrationSet()[i].response);
    }
    ASSERT_TRUE(calibration.Run(0, 0, 0));
    ZoCNLSSolver solver(plain, false, -1);
    ZoTVector<double> params = plain.GetInitialParameters();
    double rmse = 0.0;
    solver.Run(params, rmse, Calibration::c_iMaxIterations, Calibration::c_dTau, 0, ZoCNLSSolver::eHitAndRun);
    EXPECT_EQ(Entries(calibration.GetParameters()), Entries(params));
    EXPECT_EQ(rmse, calibration.GetRMSE());

    const std::string runLog = calibtest::ReadFile(logFile);
    const std::string report = runLog.substr(runLog.find("(CALIB) *** BEGIN RAW"));
    double theta, d, a, alpha;
    calibration.GetJointParameters(0, theta, d, a, alpha);  // joint 1 translates: d carries its home 0
    calibration.SetJointParameters(0, theta, d, a, alpha);  // the same values, statistics stale
    std::remove(logFile.c_str());
    calibration.GenerateReport();
    const std::string again = calibtest::ReadFile(logFile);
    EXPECT_EQ(report, again);

    const ZoTMatrix<double> correlation = plain.GetCorrelation(calibration.GetParameters(), 1e-8);
    std::string expected = "(CALIB) *** CORRELATION MATRIX ***\n";
    for (int r = 0; r < correlation.rows; ++r) {
        expected += "(CALIB) ";
        for (int c = 0; c < correlation.cols; ++c)
            expected += ZoCOrbal2AxisCalibrationTestAccess::correlationEntryText(correlation(r, c));
        expected += "\n";
    }
    EXPECT_EQ(again.substr(again.find("(CALIB) *** CORRELATION")), expected);
}

// The opt-in exact derivatives equal the finite differences up to their error, in every mode.
TEST(ZoCOrbal2AxisCalibrationObjFunction, ExactDerivativesAgreeWithTheFiniteDifferences) {
    std::mt19937_64 rng(7);
    const std::vector<CbMatrix4Rf> registrations = noisyDefaultSequence(rng);
    Objective objective;
    for (size_t i = 0; i < registrations.size(); ++i)
        objective.AddInputResponseSample(calibtest::SequenceInput(static_cast<int>(i)),
                                         calibtest::ToMatrix(registrations[i]));
    for (int mode : {7, 12, 1}) {
        Access::setErrorsPerSample(objective, mode);
        objective.SetNumMeasurements(25 * mode);
        const ZoTVector<double> z = calibtest::FreeOf(
            objective, objective.GetInitialParameters() + calibtest::VectorOf(std::vector<double>(20, 0.5)));
        objective.SetExactDerivatives(true);
        const Eigen::MatrixXd analytic = calibtest::AsEigen(objective.Jacobian(z));
        objective.SetExactDerivatives(false);
        const Eigen::MatrixXd numeric = calibtest::AsEigen(objective.Jacobian(z));
        ASSERT_TRUE(analytic.rows() == numeric.rows() && analytic.cols() == numeric.cols());
        const double difference = (analytic - numeric).cwiseAbs().maxCoeff();
        EXPECT_TRUE(difference > 0.0 && difference < 1e-7 * numeric.cwiseAbs().maxCoeff()) << mode;
    }
}

// A non-finite registration leaves the covariance empty instead of handing NaN to LAPACK.
TEST(ZoCOrbal2AxisCalibrationObjFunction, CovarianceOfNonFiniteResidualsIsEmpty) {
    Objective objective;
    for (int i = 0; i < 14; ++i) {
        ZoTMatrix<double> registration = ZoTMatrix<double>::Identity(4);
        registration(0, 3) = i == 5 ? std::nan("") : 10.0 * i;
        objective.AddInputResponseSample(calibtest::SequenceInput(i), registration);
    }
    EXPECT_EQ(objective.GetCovariance(objective.GetInitialParameters(), 1e-8).rows, 0);
}
