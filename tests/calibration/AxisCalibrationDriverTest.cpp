// The calibration driver: state, samples, conversion, runs, failures, parameters, statistics, log.
#include "CalibrationTestSupport.h"

namespace {

using Calibration = ZoCOrbal2AxisCalibration;
using Access = ZoCOrbal2AxisCalibrationTestAccess;
using Config = ZoCOrbal2AxisChain::NCJointConfiguration;
using Objective = ZoCOrbal2AxisCalibrationObjFunction;
using calibtest::Entries;

// The simulation table's chain calibrated from the whole default sequence, once for the suite.
Calibration& simulated() {
    static Calibration calibration;
    static const bool solved = [] {
        ScopedLogCapture quiet;
        calibtest::AddDefaultSequence(calibration, calibtest::SimulationTableChain());
        return calibration.Run(0, 0, 0);
    }();
    EXPECT_TRUE(solved);
    return calibration;
}

}  // namespace

// Fresh or reset: nothing solved, infinite variances; a reset keeps samples and log; no run below two.
TEST(ZoCOrbal2AxisCalibration, ResetForgetsTheSolutionButKeepsSamplesAndLogFile) {
    ScopedLogCapture quiet;
    Calibration calibration;
    auto expectReset = [&calibration] {
        EXPECT_EQ(std::make_pair(static_cast<int>(calibration.GetResult()), calibration.GetRMSE()),
                  std::make_pair(-1, std::numeric_limits<double>::max()));
        EXPECT_EQ(Entries(calibration.GetParameters()),
                  Entries(calibration.GetObjective()->GetInitialParameters()));
        const ZoTMatrix<double> covariance = calibration.GetJointParametersCovariance();
        EXPECT_EQ(std::make_pair(covariance.rows, Entries(covariance)),
                  std::make_pair(20, std::vector<double>(400, std::numeric_limits<double>::infinity())));
    };
    expectReset();
    EXPECT_TRUE(calibration.GetCalibrationSet().empty() && calibration.GetLogfileName().IsEmpty());
    EXPECT_FALSE(calibration.Run(0, 0, 0));
    calibtest::AddDefaultSequence(calibration, calibtest::SimulationTableChain(), 1);
    EXPECT_FALSE(calibration.Run(0, 0, 0));
    expectReset();
    calibtest::AddDefaultSequence(calibration, calibtest::SimulationTableChain());
    ASSERT_TRUE(calibration.Run(0, 0, 0));
    calibration.SetLogfileName(L"kept.log");
    calibration.Reset();
    expectReset();
    EXPECT_EQ(
        std::make_tuple(calibration.GetCalibrationSet().size(), calibration.GetObjective()->GetNumSamples(),
                        std::wstring(calibration.GetLogfileName().GetString())),
        std::make_tuple(size_t{27}, 0, std::wstring(L"kept.log")));
}

// Element (r, c) of a registration is stored as (r, c) by every overload; a sixth axis is no joint.
TEST(ZoCOrbal2AxisCalibration, StoresRegistrationsElementByElement) {
    Calibration calibration;
    const CbMatrix4Rf registration =
        CbMatrix4Rf::FromRows({1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 0, 0, 0, 1});
    const double asDouble[5] = {1.5, 2.5, 3.5, 4.5, 5.5};
    const float asFloat[5] = {1.5f, 2.5f, 3.5f, 4.5f, 5.5f};
    Config config(asFloat);
    config[5] = 99.0f;
    calibration.AddInputResponse(asDouble, registration);
    calibration.AddInputResponse(asFloat, registration);
    calibration.AddInputResponse(config, registration);
    ASSERT_EQ(calibration.GetCalibrationSet().size(), 3u);
    for (const auto& sample : calibration.GetCalibrationSet())
        EXPECT_EQ(std::make_pair(Entries(sample.input), Entries(sample.response)),
                  std::make_pair(std::vector<double>(asDouble, asDouble + 5),
                                 Entries(calibtest::ToMatrix(registration))));
    EXPECT_EQ(calibration.GetCalibrationSet()[0].response(0, 3), 4.0);
}

// The conversion uses the nominal chain (the reference device's), also after a calibration.
TEST(ZoCOrbal2AxisCalibration, ConvertsJointsWithTheNominalChain) {
    for (const auto& entry : Calibration::c_defaultCalibrationSequence) {
        CbMatrix4Rf converted;
        ASSERT_TRUE(simulated().ConvertJointConfig(Config(entry.values), converted));
        const CbMatrix4Rf expected =
            ZoCOrbal2AxisChain().GetCamToDiscTransformation(Config(entry.values), true);
        for (int i = 0; i < 16; ++i)
            EXPECT_NEAR(converted[i], expected[i], i >= 12 ? 2e-3 : 1e-6) << i;
    }
}

// A copy (or assignment) takes the objective and the solver; the source can no longer convert or run.
TEST(ZoCOrbal2AxisCalibration, CopyTakesOverObjectiveAndSolver) {
    Calibration source;
    calibtest::AddDefaultSequence(source, ZoCOrbal2AxisChain(), 3);
    source.SetLogfileName(L"copied.log");
    Calibration copy(source), assigned;
    EXPECT_TRUE(source.GetObjective() == nullptr && source.GetSolver() == nullptr);
    CbMatrix4Rf converted = CbMatrix4Rf::Translation(1, 2, 3);
    EXPECT_FALSE(source.ConvertJointConfig(Config(), converted) || source.Run(0, 0, 0));
    EXPECT_EQ(converted, c_matIdentity);
    assigned = copy;
    EXPECT_TRUE(copy.GetObjective() == nullptr && assigned.ConvertJointConfig(Config(), converted));
    EXPECT_EQ(std::make_pair(assigned.GetCalibrationSet().size(),
                             std::wstring(assigned.GetLogfileName().GetString())),
              std::make_pair(size_t{3}, std::wstring(L"copied.log")));
}

// Counts no subset can serve use every sample (seven residuals each), others a subset (twelve).
TEST(ZoCOrbal2AxisCalibration, RunChoosesTheSamplesByTheRequestedCount) {
    ScopedLogCapture capture;
    const struct {
        int count, samples, perSample, restarts;
    } cases[] = {{0, 26, 7, 0}, {26, 26, 7, 2}, {40, 26, 7, 0}, {11, 26, 7, 0}, {16, 16, 12, 0}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.count);
        Calibration calibration;
        calibtest::AddDefaultSequence(calibration, calibtest::SimulationTableChain());
        capture.Sink().Clear();
        EXPECT_TRUE(calibration.Run(c.count, 0, c.restarts));
        EXPECT_LT(calibration.GetRMSE(), 1e-4);
        const Objective& o = *calibration.GetObjective();
        EXPECT_EQ(std::make_tuple(o.GetNumSamples(), o.GetErrorsPerSample(), o.GetNumMeasurements()),
                  std::make_tuple(c.samples, c.perSample, (c.samples - 1) * c.perSample));
        const std::vector<std::string> lines = calibtest::Narrow(capture.Sink().Messages("ZoCWinLog"));
        EXPECT_EQ(std::any_of(lines.begin(), lines.end(), [](auto& l) { return l.find("OED") != l.npos; }),
                  c.samples == 16);
    }
}

// Registrations no chain produces keep the solver crawling until it runs out of iterations (the
// residual still falls 1.5 % over the last 50); a failure before a restart logs nothing.
TEST(ZoCOrbal2AxisCalibration, FailedSolveIsLoggedWithItsCode) {
    ScopedLogCapture quiet;
    Calibration calibration;
    const std::string logFile = calibtest::LogToFreshDirectory(calibration, "failed_solve");
    std::mt19937_64 rng(12);
    auto uniform = [&rng] {
        return static_cast<float>(static_cast<double>(rng()) / 18446744073709551616.0 * 2 - 1);
    };
    for (int i = 0; i < 10; ++i) {
        const float rx = uniform() * 0.3f, ry = uniform() * 0.3f;
        const float tx = uniform() * 300, ty = uniform() * 300, tz = uniform() * 300;
        const CbMatrix4Rf m =
            CbMatrix4Rf::RotationX(rx) * CbMatrix4Rf::RotationY(ry) * CbMatrix4Rf::Translation(tx, ty, tz);
        calibration.AddInputResponse(Calibration::c_defaultCalibrationSequence[i].values, m);
    }
    EXPECT_FALSE(calibration.Run(0, 0, 0));
    ASSERT_EQ(calibration.GetResult(), ZoCNLSSolver::eMaxIterExceeded);
    EXPECT_EQ(calibtest::ReadFile(logFile), "(CALIB) sorry, calibration failed (NLS error code 2)\n");
    std::filesystem::remove(logFile);
    calibration.Reset();  // the same start, so the first solve fails again
    EXPECT_FALSE(calibration.Run(0, 0, 3));
    EXPECT_FALSE(std::filesystem::exists(logFile));
}

// A non-finite registration or joint stops the run before the solver; the log names the sample.
TEST(ZoCOrbal2AxisCalibration, NonFiniteSampleIsRefusedWithItsNumber) {
    ScopedLogCapture quiet;
    const float nan = std::numeric_limits<float>::quiet_NaN(), inf = std::numeric_limits<float>::infinity();
    const struct {
        int sample, element;  // element 0..15 of the registration, 16.. a joint value
        float value;
    } cases[] = {{12, 13, nan}, {0, 0, inf}, {25, 17, -inf}};
    for (const auto& c : cases) {
        Calibration calibration;
        const std::string logFile = calibtest::LogToFreshDirectory(calibration, "non_finite");
        std::mt19937_64 rng(1);
        for (int i = 0; i < 26; ++i) {
            float joints[5];
            std::copy_n(Calibration::c_defaultCalibrationSequence[i].values, 5, joints);
            CbMatrix4Rf m = calibtest::Registration(calibtest::SimulationTableChain(), joints, {}, rng);
            if (i == c.sample)
                (c.element < 16 ? m[c.element] : joints[c.element - 16]) = c.value;
            calibration.AddInputResponse(joints, m);
        }
        EXPECT_FALSE(calibration.Run(0, 0, 0) || static_cast<int>(calibration.GetResult()) != -1) << c.sample;
        EXPECT_EQ(calibtest::ReadFile(logFile), "(CALIB) sorry, calibration failed (sample " +
                                                    std::to_string(c.sample + 1) + " is not finite)\n");
    }
}

// One configuration recorded 26 times determines no free parameter; each report names them all.
TEST(ZoCOrbal2AxisCalibration, ReportNamesTheParametersTheSamplesCannotDetermine) {
    ScopedLogCapture quiet;
    Calibration same;
    const std::string logFile = calibtest::LogToFreshDirectory(same, "undetermined");
    std::mt19937_64 rng(1);
    const float* joints = Calibration::c_defaultCalibrationSequence[3].values;
    const CbMatrix4Rf m = calibtest::Registration(calibtest::SimulationTableChain(), joints, {}, rng);
    for (int i = 0; i < 26; ++i)
        same.AddInputResponse(joints, m);
    same.Run(0, 0, 0);
    same.GenerateReport();
    const std::vector<std::string> lines = calibtest::Lines(calibtest::ReadFile(logFile));
    EXPECT_EQ(std::count(lines.begin(), lines.end(),
                         "(CALIB)  warning: these samples cannot determine JOINT1.theta, JOINT1.d, JOINT1.a, "
                         "JOINT1.alpha, JOINT2.theta, JOINT2.d, JOINT2.a, JOINT2.alpha, JOINT3.theta, "
                         "JOINT3.d, JOINT3.a, JOINT3.alpha"),
              2);  // the run's report and the one asked for
    const std::string fullLog = calibtest::LogToFreshDirectory(simulated(), "determined");
    simulated().GenerateReport();
    EXPECT_EQ(calibtest::ReadFile(fullLog).find("cannot determine"), std::string::npos);
}

// Indices and pointers outside the contract are refused, never read through.
TEST(ZoCOrbal2AxisCalibration, RefusesArgumentsOutsideTheContract) {
    Calibration calibration;
    double v[4];
    for (int joint : {-1, 5, 1000}) {
        EXPECT_THROW(calibration.GetJointParameters(joint, v[0], v[1], v[2], v[3]), std::invalid_argument);
        EXPECT_THROW(calibration.GetJointParametersStdDev(joint, v[0], v[1], v[2], v[3]),
                     std::invalid_argument);
        EXPECT_THROW(calibration.SetJointParameters(joint, 0, 0, 0, 0), std::invalid_argument);
        EXPECT_THROW(calibration.GetObjective()->ImportJointParameters(calibration.GetParameters(), joint),
                     std::invalid_argument);
    }
    EXPECT_THROW(calibration.SetJointParameters(1, 0, std::nan(""), 0, 0), std::invalid_argument);
    EXPECT_THROW(calibration.GetObjective()->ImportJointParameters(ZoTVector<double>(19), 0),
                 std::invalid_argument);
    EXPECT_THROW(calibration.AddInputResponse(static_cast<const float*>(nullptr), c_matIdentity),
                 std::invalid_argument);
    EXPECT_THROW(
        calibration.GetObjective()->ReplaceInputResponseSample(0, ZoTVector<double>(5), ZoTMatrix<double>(4)),
        std::invalid_argument);
    EXPECT_TRUE(calibration.GetCalibrationSet().empty());
    const calibtest::ScopedCurrentDirectory inside(calibtest::FreshDirectory("null_sensor"));
    calibration.GenerateCalibCheckerOutput(0, nullptr);
    EXPECT_TRUE(std::filesystem::is_empty("."));
}

// Tilt angles are stored as given and read back from their home position (90 degrees).
TEST(ZoCOrbal2AxisCalibration, TiltAnglesAreReportedFromTheirHomePosition) {
    Calibration calibration;
    double v[8];
    calibration.SetJointParameters(1, 1.25, -2.0, 0.5, 91.0);
    calibration.SetJointParameters(0, 50.0, 4.5, -0.25, 90.5);
    EXPECT_EQ(calibration.GetParameters()[4], 1.25);
    calibration.GetJointParameters(1, v[0], v[1], v[2], v[3]);
    calibration.GetJointParameters(0, v[4], v[5], v[6], v[7]);
    EXPECT_EQ(std::vector<double>(v, v + 8), std::vector<double>({91.25, -2, 0.5, 91, 50, 4.5, -0.25, 90.5}));
}

// Fewer samples carry less information; set parameters make the statistics stale until read.
TEST(ZoCOrbal2AxisCalibration, StatisticsFollowTheParametersAndTheSamples) {
    ScopedLogCapture quiet;
    Calibration& all = simulated();
    Calibration fewer;
    calibtest::AddDefaultSequence(fewer, calibtest::SimulationTableChain(), 13);
    ASSERT_TRUE(fewer.Run(0, 0, 0));
    const double criterion = all.GetJointParametersDCriterion(),
                 fewerCriterion = fewer.GetJointParametersDCriterion();
    EXPECT_TRUE(criterion > fewerCriterion && fewerCriterion > 0.0) << criterion << " " << fewerCriterion;
    fewer.SetJointParameters(2, 3.0, 1.0, 20.0, 95.0);
    EXPECT_NE(fewer.GetJointParametersDCriterion(), fewerCriterion);
}

// Only whole lines reach the file; without a file that opens, the line is dropped for good.
TEST(ZoCOrbal2AxisCalibration, LogWritesWholeLinesOnlyAndDropsThemWithoutAFile) {
    Calibration calibration;
    Access::log(calibration, "lost without a name\n");
    calibration.SetLogfileName(L".");  // a folder
    Access::log(calibration, "lost in a folder\n");
    const std::string logFile = calibtest::LogToFreshDirectory(calibration, "log_lines");
    Access::log(calibration, "(CALIB) first ");
    EXPECT_FALSE(std::filesystem::exists(logFile));
    Access::log(calibration, "half\n(CALIB) second");
    EXPECT_EQ(calibtest::ReadFile(logFile), "(CALIB) first half\n(CALIB) second");
    Access::log(calibration, " half\n");
    EXPECT_EQ(calibtest::ReadFile(logFile), "(CALIB) first half\n(CALIB) second half\n");
}

// Each sample's prediction and registration as angle (either way round), axis and translation (mm).
TEST(ZoCOrbal2AxisCalibration, ChecksEverySampleAgainstTheCalibratedChain) {
    ScopedLogCapture quiet;
    Calibration calibration;
    calibtest::AddDefaultSequence(calibration, ZoCOrbal2AxisChain(), 4);
    const std::string logFile = calibtest::LogToFreshDirectory(calibration, "check_trafos");
    EXPECT_TRUE(Access::checkTrafos(calibration));
    const std::vector<std::string> text = calibtest::Lines(calibtest::ReadFile(logFile));
    ASSERT_EQ(text.size(), 1u + 4 * 4 + 1);
    EXPECT_EQ(text[0] + text.back(), "(CALIB) *** CHECKING TRAFOS ***");
    for (size_t i = 0; i < 4; ++i) {
        const std::string n = "(CALIB) #" + std::to_string(i + 1), &pre = text[2 + 4 * i],
                          &reg = text[3 + 4 * i];
        EXPECT_EQ(std::make_tuple(text[1 + 4 * i], pre.substr(0, n.size() + 5), text[4 + 4 * i]),
                  std::make_tuple("(CALIB) --------------", n + " PRE:",
                                  n + " DIF: 0.00 deg, cos similarity: 1.00, dTrans (0.00,0.00,0.00)"));
        EXPECT_EQ(pre.substr(pre.find(':')), reg.substr(reg.find(':')));
        double angle = 0;
        Eigen::Vector3d axis, t;
        ASSERT_EQ(
            std::sscanf(reg.c_str(), (n + " REG: %lf deg around (%lf,%lf,%lf), trans (%lf,%lf,%lf)").c_str(),
                        &angle, &axis[0], &axis[1], &axis[2], &t[0], &t[1], &t[2]),
            7)
            << reg;
        const Eigen::Matrix4d M = calibtest::AsEigen(calibration.GetCalibrationSet()[i].response);
        EXPECT_NEAR(std::min(angle, 360 - angle),
                    Eigen::AngleAxisd(M.topLeftCorner<3, 3>()).angle() * 180 / M_PI, 0.006);
        EXPECT_LT((t - M.col(3).head<3>() * 0.025).cwiseAbs().maxCoeff(), 0.006) << reg;
        EXPECT_NEAR(axis.norm(), 1.0, 0.015);
    }
}
