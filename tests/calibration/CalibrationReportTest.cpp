// The calibration's report texts: raw data, the log report and the checker file.
#include "CalibrationTestSupport.h"
#include "ZoBase64.h"

#include <bit>

namespace {

using Calibration = ZoCOrbal2AxisCalibration;
using Objective = ZoCOrbal2AxisCalibrationObjFunction;

// A calibration on the fixed clock whose reports go to a fresh log file.
struct NSReportedCalibration {
    explicit NSReportedCalibration(const std::string& name)
        : logFile(calibtest::LogToFreshDirectory(calibration, name)) {
        calibration.SetClock(&calibtest::FixedTime);
    }
    std::vector<std::string> Lines() const { return calibtest::Lines(calibtest::ReadFile(logFile)); }

    Calibration calibration;
    std::string logFile;
};

std::string printed(const char* format, double value) {
    char text[64];
    std::snprintf(text, sizeof text, format, value);
    return text;
}

}  // namespace

// RFC 4648's test vectors; a line break after every full line but the last.
TEST(ZoBase64, EncodesTheStandardTestVectorsAndBreaksLinesButNotAtTheEnd) {
    const std::string foobar = "foobar",
                      encoded[] = {"", "Zg==", "Zm8=", "Zm9v", "Zm9vYg==", "Zm9vYmE=", "Zm9vYmFy"};
    for (size_t n = 0; n <= foobar.size(); ++n)
        EXPECT_EQ(ZoBase64Encode(std::vector<uint8_t>(foobar.begin(), foobar.begin() + long(n))), encoded[n]);
    EXPECT_EQ(ZoBase64Encode({0xFB, 0xFF, 0xBF}), "+/+/");
    EXPECT_EQ(std::make_pair(ZoBreakLines("abcdef", 3), ZoBreakLines("abcdefg", 3)),
              std::make_pair(std::string("abc\ndef"), std::string("abc\ndef\ng")));
}

// Without samples the whole text is known; a second report is appended.
TEST(ZoCOrbal2AxisCalibration, ReportWithoutSamplesIsKnownWordForWord) {
    NSReportedCalibration reported("report_empty");
    reported.calibration.GenerateReport();
    std::string expected =
        "(CALIB) *** BEGIN RAW CALIBRATION DATA ***\n\n(CALIB) *** END RAW CALIBRATION DATA ***\n\n"
        "(CALIB) *** AXIS CALIBRATION STATISTICS 2024-03-05 07:08:09 ***\n"
        "(CALIB)  optimizer RMSE = 1.79769e+308\n"
        "(CALIB)  det(Fisher Information Matrix) = 0\n"
        "(CALIB)  trafo errors: [min,max]=[nan,nan], (mean,stddev)=[nan,nan]\n\n"
        "(CALIB) *** AXIS CALIBRATION RESULTS ***\n"
        "(CALIB)  JOINT1 = 53.1301,0,0,90,T\n(CALIB)  JOINT2 = 90,0,0,90,R\n(CALIB)  JOINT3 = 90,0,24,90,R\n"
        "(CALIB)  JOINT4 = 126.87,0,0,0,T\n(CALIB)  JOINT5 = 0,0,0,0,R\n";
    for (const std::string values : {"inf,inf,inf,inf,", "0,0,0,0,"})
        for (int j = 0; j < 5; ++j)
            expected += std::string(values[0] == 'i' ? "(CALIB)  stddev(JOINT" : "(CALIB)  t(JOINT") +
                        std::to_string(j + 1) + ") = " + values + "TRRTR"[j] + "\n";
    expected += "\n(CALIB) *** CORRELATION MATRIX ***\n";
    std::string row = "(CALIB) ";
    for (int c = 0; c < 20; ++c)
        row += " indet";
    for (int r = 0; r < 20; ++r)
        expected += row + "\n";
    reported.calibration.GenerateReport();
    EXPECT_EQ(calibtest::ReadFile(reported.logFile), expected + expected);
}

// Joints, quaternions and translations of the samples, column by column, in lines of 64 characters.
TEST(ZoCOrbal2AxisCalibration, ReportCarriesTheRawDataColumnByColumn) {
    NSReportedCalibration reported("report_raw");
    calibtest::AddDefaultSequence(reported.calibration, ZoCOrbal2AxisChain(), 3);
    reported.calibration.GenerateReport();
    const std::vector<std::string> text = reported.Lines();
    ASSERT_GE(text.size(), 9u);
    EXPECT_EQ(text[7], "(CALIB) *** END RAW CALIBRATION DATA ***");  // six lines, then the end marker
    EXPECT_TRUE(std::all_of(text.begin() + 1, text.begin() + 7, [](auto& l) { return l.size() == 64; }));
    const std::vector<uint8_t> bytes =
        calibtest::DecodeBase64(std::accumulate(text.begin() + 1, text.begin() + 7, std::string()));
    ASSERT_EQ(bytes.size(), 288u);
    Eigen::Matrix<double, 3, 12> data;  // little-endian doubles, column after column
    for (size_t i = 0; i < 36; ++i) {
        uint64_t bits = 0;
        for (size_t b = 8; b-- > 0;)
            bits = bits << 8 | bytes[8 * i + b];
        data.data()[i] = std::bit_cast<double>(bits);
    }
    for (int row = 0; row < 3; ++row) {
        const Eigen::Matrix4d M =
            calibtest::AsEigen(reported.calibration.GetCalibrationSet()[size_t(row)].response);
        const Eigen::Quaterniond q(data(row, 5), data(row, 6), data(row, 7), data(row, 8));
        EXPECT_LT((q.toRotationMatrix() - M.topLeftCorner<3, 3>()).cwiseAbs().maxCoeff(), 1e-6) << row;
        const float* joints = Calibration::c_defaultCalibrationSequence[row].values;
        EXPECT_TRUE(data.row(row).head<5>() == Eigen::RowVectorXf::Map(joints, 5).cast<double>() &&
                    data.row(row).tail<3>() == M.col(3).head<3>().transpose())  // unscaled image-area units
            << data.row(row);
    }
}

// Minimum, maximum, mean and sample deviation of the trafo errors; one error has a NaN deviation.
TEST(ZoCOrbal2AxisCalibration, ReportSummarisesTheTrafoErrors) {
    for (int samples : {2, 5}) {
        NSReportedCalibration reported("report_errors");
        Objective& objective = *reported.calibration.GetObjective();
        for (int i = 0; i < samples; ++i) {
            const ZoTVector<double> q = calibtest::SequenceInput(i);
            objective.AddInputResponseSample(q, objective.BuildTrafo(Objective::m_simulationJointParams, q));
        }
        reported.calibration.GenerateReport();
        const ZoTVector<double> errors =
            objective.ComputeTrafoErrors(reported.calibration.GetParameters(), false);
        const Eigen::Map<const Eigen::ArrayXd> e(errors.data, errors.size);
        ASSERT_TRUE(e.size() == samples - 1 && e(0) > 1.0);
        const double mean = e.mean();
        const Eigen::Array4d expected(e.minCoeff(), e.maxCoeff(), mean,
                                      std::sqrt((e - mean).square().sum() / double(e.size() - 1)));
        Eigen::Array4d shown;
        const std::string line = reported.Lines()[7];
        ASSERT_EQ(
            std::sscanf(line.c_str(), "(CALIB)  trafo errors: [min,max]=[%lg,%lg], (mean,stddev)=[%lg,%lg]",
                        &shown[0], &shown[1], &shown[2], &shown[3]),
            4)
            << line;
        EXPECT_TRUE(((shown - expected).abs() < 5e-3 * expected || (shown.isNaN() && expected.isNaN())).all())
            << line;
    }
}

TEST(ZoCOrbal2AxisCalibration, CorrelationEntriesAreSixCharactersWide) {
    const double inf = std::numeric_limits<double>::infinity();
    const std::vector<std::pair<double, std::string>> cases = {{std::nan(""), " indet"}, {inf, "  +Inf"},
                                                               {-inf, "  -Inf"},         {1.0, " +1.00"},
                                                               {-0.456, " -0.46"},       {0.0, " +0.00"}};
    for (const auto& [value, text] : cases)
        EXPECT_EQ(ZoCOrbal2AxisCalibrationTestAccess::correlationEntryText(value), text) << value;
}

// A run's comparison and report describe its solution; the checker file rates it.
TEST(ZoCOrbal2AxisCalibration, ReportsAfterACalibrationDescribeTheSolution) {
    ScopedLogCapture quiet;
    NSReportedCalibration reported("report_solution");
    const calibtest::ScopedCurrentDirectory inside(
        std::filesystem::path(reported.logFile).parent_path().string());
    Calibration& calibration = reported.calibration;
    calibtest::AddDefaultSequence(calibration, ZoCOrbal2AxisChain(), 20);
    ASSERT_TRUE(calibration.Run(0, 0, 0));
    const std::vector<std::string> log = reported.Lines();
    const auto begin = std::find(log.begin(), log.end(), "(CALIB) *** BEGIN RAW CALIBRATION DATA ***");
    ASSERT_TRUE(log[0] == "(CALIB) *** CHECKING TRAFOS ***" && log.end() - begin == 44 + 42);
    const std::vector<std::string> text(begin, log.end());
    double v[4], sd[4];
    calibration.GetJointParameters(2, v[0], v[1], v[2], v[3]);
    calibration.GetJointParametersStdDev(2, sd[0], sd[1], sd[2], sd[3]);
    std::string joint3 = "(CALIB)  JOINT3 = ", t3 = "(CALIB)  t(JOINT3) = ";
    for (int k = 0; k < 4; ++k)
        joint3 += printed("%g,", v[k]), t3 += printed("%g,", v[k] / sd[k]);
    EXPECT_EQ(std::vector<std::string>(
                  {text[41], text[44], text[45], text[51], text[57].substr(0, 35), text[61], text[65]}),
              std::vector<std::string>({"(CALIB) *** END RAW CALIBRATION DATA ***",
                                        "(CALIB)  optimizer RMSE = " + printed("%g", calibration.GetRMSE()),
                                        "(CALIB)  det(Fisher Information Matrix) = " +
                                            printed("%g", calibration.GetJointParametersDCriterion()),
                                        joint3 + "R", "(CALIB)  stddev(JOINT4) = 0,0,0,0,T", t3 + "R",
                                        "(CALIB) *** CORRELATION MATRIX ***"}));
    calibration.GenerateCalibCheckerOutput(123456, "S7");
    const auto checker = calibtest::Lines(calibtest::ReadFile("CaliQ7-123456-S7-20240305_070809.log"));
    ASSERT_EQ(checker.size(), 20u);
    const ZoTVector<double> e =
        calibration.GetObjective()->ComputeTrafoErrors(calibration.GetParameters(), false);
    EXPECT_EQ(std::vector<std::string>({checker[1], checker[7], checker[12], checker[17]}),
              std::vector<std::string>(
                  {"Geraet: 123456", "Norm: 0  Value: " + printed("%g", calibration.GetRMSE()),
                   "Norm: 0  Value: " + printed("%g", *std::max_element(e.data, e.data + e.size)),
                   "Norm: 26  Value: 20"}));
}

// Named by device, sensor and time; the same second rewrites the file; a refused name leaves none.
TEST(ZoCOrbal2AxisCalibration, CheckerFileWithoutSamplesIsKnownWordForWord) {
    const std::string directory = calibtest::FreshDirectory("checker_empty");
    const calibtest::ScopedCurrentDirectory inside(directory);
    Calibration calibration;
    calibration.GenerateCalibCheckerOutput(0, "no/such/folder");
    EXPECT_TRUE(std::filesystem::is_empty(directory));
    calibration.SetClock(&calibtest::FixedTime);
    const std::string expected =
        "OrbalQ7 Kalibration am 05.03.2024 um 07:08\nGeraet: 000042\nSensor: abc\nKalibrierset: "
        "Kalibrierkiefer\n"
        "==========================================\n\n"
        "OptimizerRMSE\nNorm: 0  Value: 1.79769e+308\nMaxWarning: 20  MinWarning: 0\nMaxError: 20  MinError: "
        "0\n\n"
        "TrafoErrorMax\nNorm: 0  Value: nan\nMaxWarning: 45  MinWarning: 0\nMaxError: 45  MinError: 0\n\n"
        "NumRegisteredImages\nNorm: 26  Value: 0\nMaxWarning: 26  MinWarning: 0\nMaxError: 26  MinError: 0\n";
    for (int call = 0; call < 2; ++call) {
        calibration.GenerateCalibCheckerOutput(42, "abc");
        EXPECT_EQ(calibtest::ReadFile("CaliQ7-000042-abc-20240305_070809.log"), expected);
    }
}

// The reports' clock reads the calendar, not a zeroed record.
TEST(ZoCOrbal2AxisCalibration, ReportClockIsTheLocalTime) {
    EXPECT_GE(Calibration::LocalTimeNow().tm_year, 124);  // 2024 or later
}
