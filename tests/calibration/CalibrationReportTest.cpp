// The calibration's report texts: Base64 of the raw data, the log report with its number
// formats, and the checker file with its name.
#include "CalibrationTestSupport.h"
#include "CapturingLogSink.h"
#include "ZoBase64.h"
#include "ZoCOrbal2AxisCalibration.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdlib>
#include <ctime>
#include <cstdio>
#include <filesystem>
#include <limits>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

namespace {

using Calibration = ZoCOrbal2AxisCalibration;
using Objective = ZoCOrbal2AxisCalibrationObjFunction;
using Access = ZoCOrbal2AxisCalibrationTestAccess;

std::vector<uint8_t> bytesOf(const std::string& text) {
    return std::vector<uint8_t>(text.begin(), text.end());
}

// A calibration whose reports go to a fresh log file in the scratch directory.
struct NSReportedCalibration {
    explicit NSReportedCalibration(const std::string& name)
        : logFile(calibtest::LogToFreshDirectory(calibration, name)) {
        calibration.SetClock(&calibtest::FixedTime);
    }
    std::string Log() const { return calibtest::ReadFile(logFile); }

    Calibration calibration;
    std::string logFile;
};

std::string streamed(double value) {
    std::ostringstream text;
    text << value;
    return text.str();
}

}  // namespace

// -----------------------------------------------------------------------------------------------
// Base64

TEST(ZoBase64, EncodesTheStandardTestVectorsAndBreaksLinesButNotAtTheEnd) {
    const std::vector<std::pair<std::string, std::string>> vectors = {
        {"", ""}, {"f", "Zg=="}, {"fo", "Zm8="}, {"foo", "Zm9v"},
        {"foob", "Zm9vYg=="}, {"fooba", "Zm9vYmE="}, {"foobar", "Zm9vYmFy"}, {"\xFB\xFF\xBF", "+/+/"}};
    for (const auto& [plain, encoded] : vectors)
        EXPECT_EQ(ZoBase64Encode(bytesOf(plain)), encoded) << plain;
    EXPECT_EQ(ZoBreakLines("", 64), "");
    EXPECT_EQ(ZoBreakLines("abcdef", 3), "abc\ndef");
    EXPECT_EQ(ZoBreakLines("abcdefg", 3), "abc\ndef\ng");
    EXPECT_EQ(ZoBreakLines(std::string(128, 'x'), 64), std::string(64, 'x') + "\n" + std::string(64, 'x'));
}

// -----------------------------------------------------------------------------------------------
// Log report

// Before any sample: no raw data, nothing known about the parameters. Every number and marker
// is fixed, so the whole text is.
TEST(ZoCOrbal2AxisCalibration, ReportWithoutSamplesIsKnownWordForWord) {
    NSReportedCalibration reported("report_empty");
    reported.calibration.GenerateReport();
    std::string expected =
        "(CALIB) *** BEGIN RAW CALIBRATION DATA ***\n"
        "\n"
        "(CALIB) *** END RAW CALIBRATION DATA ***\n"
        "\n"
        "(CALIB) *** AXIS CALIBRATION STATISTICS 2024-03-05 07:08:09 ***\n"
        "(CALIB)  optimizer RMSE = 1.79769e+308\n"
        "(CALIB)  det(Fisher Information Matrix) = 0\n"
        "(CALIB)  trafo errors: [min,max]=[nan,nan], (mean,stddev)=[nan,nan]\n"
        "\n"
        "(CALIB) *** AXIS CALIBRATION RESULTS ***\n"
        "(CALIB)  JOINT1 = 53.1301,0,0,90,T\n"
        "(CALIB)  JOINT2 = 90,0,0,90,R\n"
        "(CALIB)  JOINT3 = 90,0,24,90,R\n"
        "(CALIB)  JOINT4 = 126.87,0,0,0,T\n"
        "(CALIB)  JOINT5 = 0,0,0,0,R\n";
    for (int j = 0; j < 5; ++j)
        expected += "(CALIB)  stddev(JOINT" + std::to_string(j + 1) + ") = inf,inf,inf,inf," + "TRRTR"[j] + "\n";
    for (int j = 0; j < 5; ++j)
        expected += "(CALIB)  t(JOINT" + std::to_string(j + 1) + ") = 0,0,0,0," + "TRRTR"[j] + "\n";
    expected += "\n(CALIB) *** CORRELATION MATRIX ***\n";
    std::string row = "(CALIB) ";
    for (int c = 0; c < 20; ++c)
        row += " indet";
    for (int r = 0; r < 20; ++r)
        expected += row + "\n";
    EXPECT_EQ(reported.Log(), expected);
    // A second report is appended.
    reported.calibration.GenerateReport();
    EXPECT_EQ(reported.Log(), expected + expected);
}

// Three samples are 288 bytes of raw data: 384 Base64 characters in six lines of 64. Decoded,
// they are the joints, the registrations' quaternions and translations, column by column.
TEST(ZoCOrbal2AxisCalibration, ReportCarriesTheRawDataColumnByColumn) {
    NSReportedCalibration reported("report_raw");
    calibtest::AddDefaultSequence(reported.calibration, ZoCOrbal2AxisChain(), 3);
    reported.calibration.GenerateReport();
    const std::vector<std::string> text = calibtest::Lines(reported.Log());
    ASSERT_GE(text.size(), 9u);
    EXPECT_EQ(text[0], "(CALIB) *** BEGIN RAW CALIBRATION DATA ***");
    std::string block;
    for (size_t i = 1; i <= 6; ++i) {
        EXPECT_EQ(text[i].size(), 64u) << i;
        block += text[i] + (i < 6 ? "\n" : "");
    }
    EXPECT_EQ(text[7], "(CALIB) *** END RAW CALIBRATION DATA ***");
    EXPECT_EQ(text[8], "");
    const std::vector<uint8_t> bytes = calibtest::DecodeBase64(block);
    ASSERT_EQ(bytes.size(), 288u);
    auto value = [&](int row, int column) {
        uint64_t bits = 0;
        for (int b = 7; b >= 0; --b)
            bits = (bits << 8) | bytes[static_cast<size_t>(8 * (3 * column + row) + b)];  // little-endian
        return std::bit_cast<double>(bits);
    };
    const auto& set = reported.calibration.GetCalibrationSet();
    for (int row = 0; row < 3; ++row) {
        SCOPED_TRACE(row);
        const ZoTMatrix<double>& M = set[static_cast<size_t>(row)].response;
        for (int j = 0; j < 5; ++j)
            EXPECT_EQ(value(row, j), Calibration::c_defaultCalibrationSequence[row].values[j]);
        const ZoTVector<double> q =
            calibtest::VectorOf({value(row, 5), value(row, 6), value(row, 7), value(row, 8)});
        EXPECT_NEAR(q.Norm(), 1.0, 1e-12);
        const ZoTMatrix<double> R = Objective::RotationFromQuaternion(q);
        for (int r = 0; r < 3; ++r)
            for (int c = 0; c < 3; ++c)
                EXPECT_NEAR(R(r, c), M(r, c), 1e-6);
        for (int k = 0; k < 3; ++k)
            EXPECT_EQ(value(row, 9 + k), M(k, 3));  // unscaled image-area units
    }
}

// Minimum, maximum, mean and sample deviation of the transform errors, against a two-pass
// computation; one error has no spread, its deviation is NaN.
TEST(ZoCOrbal2AxisCalibration, ReportSummarisesTheTrafoErrors) {
    for (int samples : {2, 5}) {
        NSReportedCalibration reported("report_errors");
        Objective& objective = *reported.calibration.GetObjective();
        for (int i = 0; i < samples; ++i) {
            const ZoTVector<double> q = calibtest::SequenceInput(i);
            objective.AddInputResponseSample(q, objective.BuildTrafo(Objective::m_simulationJointParams, q));
        }
        reported.calibration.GenerateReport();
        const ZoTVector<double> e = objective.ComputeTrafoErrors(reported.calibration.GetParameters(), false);
        ASSERT_EQ(e.size, samples - 1);
        ASSERT_GT(e[0], 1.0);
        const std::vector<double> errors(e.data, e.data + e.size);
        double mean = 0, squares = 0;
        for (double v : errors)
            mean += v / e.size;
        for (double v : errors)
            squares += (v - mean) * (v - mean);
        const std::string line = calibtest::Lines(reported.Log())[7];
        if (samples == 2) {
            char expected[160];
            std::snprintf(expected, sizeof expected,
                          "(CALIB)  trafo errors: [min,max]=[%.3g,%.3g], (mean,stddev)=[%.3g,nan]", e[0], e[0], e[0]);
            EXPECT_EQ(line, expected);
            continue;
        }
        double values[4];
        ASSERT_EQ(std::sscanf(line.c_str(), "(CALIB)  trafo errors: [min,max]=[%lg,%lg], (mean,stddev)=[%lg,%lg]",
                              &values[0], &values[1], &values[2], &values[3]),
                  4);
        const double expected[4] = {*std::min_element(errors.begin(), errors.end()),
                                    *std::max_element(errors.begin(), errors.end()), mean,
                                    std::sqrt(squares / (e.size - 1))};
        for (int i = 0; i < 4; ++i)
            EXPECT_NEAR(values[i], expected[i], 5e-3 * expected[i]) << i;  // three digits
    }
}

TEST(ZoCOrbal2AxisCalibration, CorrelationEntriesAreSixCharactersWide) {
    const double inf = std::numeric_limits<double>::infinity();
    const std::vector<std::pair<double, std::string>> cases = {
        {std::nan(""), " indet"}, {inf, "  +Inf"}, {-inf, "  -Inf"}, {1.0, " +1.00"}, {-0.456, " -0.46"}, {0.0, " +0.00"}};
    for (const auto& [value, text] : cases)
        EXPECT_EQ(Access::correlationEntryText(value), text) << value;
}

// After a calibration the statistics and the correlations are those of the solution; the fixed
// joints have no correlation.
TEST(ZoCOrbal2AxisCalibration, ReportAfterACalibrationDescribesTheSolution) {
    ScopedLogCapture quiet;
    NSReportedCalibration reported("report_solution");
    calibtest::AddDefaultSequence(reported.calibration, ZoCOrbal2AxisChain(), 26);
    ASSERT_TRUE(reported.calibration.Run(0, 0, 0));
    const std::string log = reported.Log();
    // The run itself writes the comparison of all samples, then the report.
    ASSERT_EQ(log.rfind("(CALIB) *** CHECKING TRAFOS ***\n", 0), 0u);
    const std::vector<std::string> text = calibtest::Lines(log.substr(log.find("(CALIB) *** BEGIN RAW")));
    // 26 samples: 2496 bytes, 3328 characters, 52 lines.
    ASSERT_GT(text.size(), 53u);
    EXPECT_EQ(text[52].size(), 64u);
    EXPECT_EQ(text[53], "(CALIB) *** END RAW CALIBRATION DATA ***");
    size_t at = 0;
    while (at < text.size() && text[at].rfind("(CALIB)  optimizer RMSE = ", 0) != 0)
        ++at;
    ASSERT_LT(at + 30, text.size());
    char rmse[64];
    std::snprintf(rmse, sizeof rmse, "(CALIB)  optimizer RMSE = %g", reported.calibration.GetRMSE());
    EXPECT_EQ(text[at], rmse);
    char criterion[80];
    std::snprintf(criterion, sizeof criterion, "(CALIB)  det(Fisher Information Matrix) = %g",
                  reported.calibration.GetJointParametersDCriterion());
    EXPECT_EQ(text[at + 1], criterion);
    double theta, d, a, alpha, sd[4];
    reported.calibration.GetJointParameters(2, theta, d, a, alpha);
    reported.calibration.GetJointParametersStdDev(2, sd[0], sd[1], sd[2], sd[3]);
    char joint3[160], t3[160];
    std::snprintf(joint3, sizeof joint3, "(CALIB)  JOINT3 = %g,%g,%g,%g,R", theta, d, a, alpha);
    std::snprintf(t3, sizeof t3, "(CALIB)  t(JOINT3) = %g,%g,%g,%g,R", theta / sd[0], d / sd[1], a / sd[2],
                  alpha / sd[3]);
    EXPECT_EQ(text[at + 7], joint3);
    EXPECT_EQ(text[at + 17], t3);
    EXPECT_EQ(text[at + 13].substr(0, 35), "(CALIB)  stddev(JOINT4) = 0,0,0,0,T");  // fixed
    EXPECT_EQ(text[at + 21], "(CALIB) *** CORRELATION MATRIX ***");
    EXPECT_EQ(at + 42, text.size());
}

// -----------------------------------------------------------------------------------------------
// Checker file

TEST(ZoCOrbal2AxisCalibration, CheckerFileWithoutSamplesIsKnownWordForWord) {
    const std::string directory = calibtest::FreshDirectory("checker_empty");
    calibtest::ScopedCurrentDirectory inside(directory);
    Calibration calibration;
    calibration.SetClock(&calibtest::FixedTime);
    calibration.GenerateCalibCheckerOutput(42, "abc");
    const std::string name = "CaliQ7-000042-abc-20240305_070809.log";
    ASSERT_TRUE(std::filesystem::exists(name));
    EXPECT_EQ(calibtest::ReadFile(name),
              "OrbalQ7 Kalibration am 05.03.2024 um 07:08\n"
              "Geraet: 000042\n"
              "Sensor: abc\n"
              "Kalibrierset: Kalibrierkiefer\n"
              "==========================================\n"
              "\n"
              "OptimizerRMSE\n"
              "Norm: 0  Value: 1.79769e+308\n"
              "MaxWarning: 20  MinWarning: 0\n"
              "MaxError: 20  MinError: 0\n"
              "\n"
              "TrafoErrorMax\n"
              "Norm: 0  Value: nan\n"
              "MaxWarning: 45  MinWarning: 0\n"
              "MaxError: 45  MinError: 0\n"
              "\n"
              "NumRegisteredImages\n"
              "Norm: 26  Value: 0\n"
              "MaxWarning: 26  MinWarning: 0\n"
              "MaxError: 26  MinError: 0\n");
    // The same second gives the same name: the file is rewritten, not appended to.
    calibration.GenerateCalibCheckerOutput(42, "abc");
    EXPECT_EQ(calibtest::Lines(calibtest::ReadFile(name)).size(), 20u);
}

TEST(ZoCOrbal2AxisCalibration, CheckerFileRatesTheCalibration) {
    ScopedLogCapture quiet;
    const std::string directory = calibtest::FreshDirectory("checker_run");
    calibtest::ScopedCurrentDirectory inside(directory);
    Calibration calibration;
    calibration.SetClock(&calibtest::FixedTime);
    calibtest::AddDefaultSequence(calibration, ZoCOrbal2AxisChain(), 20);
    ASSERT_TRUE(calibration.Run(0, 0, 0));
    calibration.GenerateCalibCheckerOutput(123456, "S7");
    const std::vector<std::string> text = calibtest::Lines(calibtest::ReadFile("CaliQ7-123456-S7-20240305_070809.log"));
    ASSERT_EQ(text.size(), 20u);
    EXPECT_EQ(text[1], "Geraet: 123456");
    const ZoTVector<double> e =
        calibration.GetObjective()->ComputeTrafoErrors(calibration.GetParameters(), false);
    double largest = e[0];
    for (int i = 1; i < e.size; ++i)
        largest = std::max(largest, e[i]);
    EXPECT_EQ(text[7], "Norm: 0  Value: " + streamed(calibration.GetRMSE()));
    EXPECT_EQ(text[12], "Norm: 0  Value: " + streamed(largest));
    EXPECT_EQ(text[17], "Norm: 26  Value: 20");
}

// A name the file system refuses leaves no file and no complaint.
// The reports' clock reads the local calendar time, not a zeroed record.
TEST(ZoCOrbal2AxisCalibration, ReportClockIsTheLocalTime) {
    const std::time_t now = std::time(nullptr);
    std::tm expected{};
    localtime_r(&now, &expected);
    const std::tm local = Calibration::LocalTimeNow();
    EXPECT_GE(local.tm_year, 124);  // 2024 or later
    EXPECT_LE(std::abs(local.tm_year - expected.tm_year), 1);  // a new year may begin in between
}

TEST(ZoCOrbal2AxisCalibration, CheckerFileThatCannotBeCreatedIsSkipped) {
    const std::string directory = calibtest::FreshDirectory("checker_refused");
    calibtest::ScopedCurrentDirectory inside(directory);
    Calibration calibration;
    calibration.GenerateCalibCheckerOutput(0, "no/such/folder");
    EXPECT_TRUE(std::filesystem::is_empty(directory));
}
