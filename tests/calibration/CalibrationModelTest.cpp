// The DH model of the chain and the calibration objective: tables, parameter layouts,
// constraints, kinematics against the reference device, residual modes, quaternions.
#include "CalibrationTestSupport.h"
#include "CapturingLogSink.h"
#include "ReferenceDevice.h"
#include "ZoCOrbal2AxisCalibrationObjFunction.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <random>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

namespace {

using Objective = ZoCOrbal2AxisCalibrationObjFunction;
using Access = ZoCOrbal2AxisCalibrationObjFunctionTestAccess;
using Params = Objective::ZoSJointParams;
using calibtest::VectorOf;
using Mat4 = std::array<double, 16>;  // row-major, the tests' own arithmetic

constexpr double c_dDeg = 3.14159265358979 / 180.0;

Mat4 multiply(const Mat4& x, const Mat4& y) {
    Mat4 m{};
    for (int r = 0; r < 4; ++r)
        for (int c = 0; c < 4; ++c)
            for (int k = 0; k < 4; ++k)
                m[4 * r + c] += x[4 * r + k] * y[4 * k + c];
    return m;
}

Mat4 rotZ(double deg) {
    const double c = std::cos(deg * c_dDeg), s = std::sin(deg * c_dDeg);
    return {c, -s, 0, 0, s, c, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};
}
Mat4 rotX(double radians) {
    const double c = std::cos(radians), s = std::sin(radians);
    return {1, 0, 0, 0, 0, c, -s, 0, 0, s, c, 0, 0, 0, 0, 1};
}
Mat4 translation(double x, double y, double z) {
    return {1, 0, 0, x, 0, 1, 0, y, 0, 0, 1, z, 0, 0, 0, 1};
}
// [R t] -> [R^T, -R^T t]
Mat4 rigidInverse(const Mat4& m) {
    Mat4 inv{};
    for (int r = 0; r < 3; ++r) {
        for (int c = 0; c < 3; ++c)
            inv[4 * r + c] = m[4 * c + r];
        for (int k = 0; k < 3; ++k)
            inv[4 * r + 3] -= m[4 * k + r] * m[4 * k + 3];
    }
    inv[15] = 1;
    return inv;
}
Mat4 dh(double theta, double d, double a, double alpha) {
    return multiply(multiply(rotZ(theta), translation(0, 0, d)),
                    multiply(translation(a, 0, 0), rotX(alpha * c_dDeg)));
}
// camera -> disc for records in the model's convention (joint value added to theta or d).
Mat4 cameraToDisc(const Params joints[5], const std::vector<double>& q) {
    Mat4 p = translation(0, 0, 0);
    for (int i = 0; i < 5; ++i) {
        const Params& j = joints[i];
        p = multiply(p, j.type == 'R' ? dh(q[static_cast<size_t>(i)] + j.theta, j.d, j.a, j.alpha)
                                      : dh(j.theta, q[static_cast<size_t>(i)] + j.d, j.a, j.alpha));
    }
    for (int r = 0; r < 3; ++r)
        p[4 * r + 3] *= 40.0;
    return multiply(rigidInverse(p), rotX(3.14159265358979));
}

void expectMatrixNear(const ZoTMatrix<double>& actual, const Mat4& expected, double tolerance) {
    ASSERT_EQ(actual.rows, 4);
    ASSERT_EQ(actual.cols, 4);
    for (int r = 0; r < 4; ++r)
        for (int c = 0; c < 4; ++c)
            EXPECT_NEAR(actual(r, c), expected[4 * r + c], tolerance) << "element " << r << "," << c;
}

ZoTMatrix<double> toMatrix(const Mat4& m) {
    ZoTMatrix<double> out(4);
    for (int r = 0; r < 4; ++r)
        for (int c = 0; c < 4; ++c)
            out(r, c) = m[4 * r + c];
    return out;
}

// A chain in the model's convention close to the nominal one.
std::array<Params, 5> perturbedChain() {
    std::array<Params, 5> j;
    std::copy(std::begin(Objective::m_defaultJointParams), std::end(Objective::m_defaultJointParams),
              j.begin());
    j[0].theta += 1.5, j[0].d += 2.0, j[0].a -= 0.3, j[0].alpha += 0.4;
    j[1].theta += 0.7, j[1].d -= 1.1, j[1].a += 0.2, j[1].alpha -= 0.6;
    j[2].theta -= 0.5, j[2].d += 0.8, j[2].a += 0.4, j[2].alpha += 0.3;
    return j;
}

const std::vector<std::vector<double>> c_configurations = {{0, 90, 90, 0, 0},
                                                           {0, 85, 20, -16, 290},
                                                           {-19, 73, 76, 4, 352},
                                                           {21, 91, 144, -17, 26},
                                                           {-9, 151, 7, -8, 165}};

}  // namespace

// -----------------------------------------------------------------------------------------------
// Tables and layouts

TEST(ZoCOrbal2AxisCalibrationObjFunction, DefaultTablesDifferOnlyInTheTiltAngles) {
    const Params* nominal = Objective::m_defaultJointParams;
    const Params* home = Objective::GetDefaultHomePositionJointParams();
    for (int j = 0; j < 5; ++j) {
        auto fields = [](const Params& p) {
            return std::make_tuple(p.d, p.a, p.alpha, p.type, p.minValue, p.maxValue);
        };
        EXPECT_EQ(nominal[j].theta, home[j].theta - (j == 1 || j == 2 ? 90.0 : 0.0)) << j;
        EXPECT_EQ(fields(nominal[j]), fields(home[j])) << j;
    }
    // atan(4/3) in degrees as a float, and 180 minus it.
    const double angle = static_cast<float>(std::atan(4.0 / 3.0) * 180.0 / 3.14159265358979323846);
    EXPECT_EQ(nominal[0].theta, angle);
    EXPECT_EQ(nominal[3].theta, 180.0 - angle);
    EXPECT_EQ(
        std::string({nominal[0].type, nominal[1].type, nominal[2].type, nominal[3].type, nominal[4].type}),
        "TRRTR");
    EXPECT_EQ(nominal[2].a, 24.0);
    EXPECT_EQ(nominal[2].minValue, -104.0);
}

// Records whose field k of joint j holds 10 j + k, so that every exported entry names its source;
// the parameter count is the layout's length.
TEST(ZoCOrbal2AxisCalibrationObjFunction, ExportsTheLayoutOfEachFlagCombination) {
    Params records[5];
    for (int j = 0; j < 5; ++j)
        records[j] = {10.0 * j, 10.0 * j + 1, 10.0 * j + 2, 10.0 * j + 3, 'X', 0, 0};
    struct NSCase {
        bool first, offsets;
        std::vector<double> layout;
    };
    // Without offsets the joint variable's entry (d of joints 1 and 4, theta of 2, 3, 5) is absent.
    for (const NSCase& c : std::vector<NSCase>{
             {false, true, {0, 1, 2, 3, 10, 11, 12, 13, 20, 21, 22, 23, 30, 31, 32, 33, 40, 41, 42, 43}},
             {false, false, {0, 2, 3, 11, 12, 13, 21, 22, 23, 30, 32, 33, 41, 42, 43}},
             {true, true, {0, 1, 2, 3}},
             {true, false, {0, 2, 3}}}) {
        const Objective objective(c.first, c.offsets);
        const ZoTVector<double> v = objective.ExportJointParameters(records);
        EXPECT_EQ(std::vector<double>(v.data, v.data + v.size), c.layout) << c.first << c.offsets;
        EXPECT_EQ(objective.GetNumParams(), static_cast<int>(c.layout.size()));
    }
    EXPECT_EQ(Objective().GetNumParams(), 20);
    EXPECT_EQ(Objective().GetNumMeasurements(), 0);
    EXPECT_EQ(Objective().GetErrorsPerSample(), 7);
}

TEST(ZoCOrbal2AxisCalibrationObjFunction, ImportTakesMissingEntriesFromTheWorkingRecords) {
    Objective objective(false, false);
    ZoTVector<double> params(15);
    for (int i = 0; i < 15; ++i)
        params[i] = 100 + i;
    const std::unique_ptr<Params[]> joints = objective.ImportJointParameters(params);
    const Params* nominal = Objective::m_defaultJointParams;
    // Joint 1 ('T'): theta, a, alpha from the vector, d from the working record.
    EXPECT_EQ(joints[0].theta, 100);
    EXPECT_EQ(joints[0].d, nominal[0].d);
    EXPECT_EQ(joints[0].a, 101);
    EXPECT_EQ(joints[0].alpha, 102);
    // Joint 3 ('R'): theta from the working record.
    EXPECT_EQ(joints[2].theta, nominal[2].theta);
    EXPECT_EQ(joints[2].d, 106);
    for (int j = 0; j < 5; ++j) {
        EXPECT_EQ(joints[j].type, nominal[j].type);
        EXPECT_EQ(joints[j].minValue, nominal[j].minValue);
        EXPECT_EQ(joints[j].maxValue, nominal[j].maxValue);
    }
    const Params one = objective.ImportJointParameters(params, 4);
    EXPECT_EQ(one.d, 112);
    EXPECT_EQ(one.alpha, 114);
    // The first joint alone: the other joints are copied whole.
    const std::unique_ptr<Params[]> first = Objective(true, true).ImportJointParameters(VectorOf({1, 2, 3, 4}));
    EXPECT_EQ(std::vector<double>({first[0].theta, first[0].d, first[0].a, first[0].alpha}),
              std::vector<double>({1, 2, 3, 4}));
    EXPECT_EQ(first[2].a, 24);
    EXPECT_EQ(first[3].theta, nominal[3].theta);
}

TEST(ZoCOrbal2AxisCalibrationObjFunction, PreparingARunStoresTheImportedRecords) {
    Objective objective;
    const std::array<Params, 5> chain = perturbedChain();
    objective.PrepareNextOptimizationRun(objective.ExportJointParameters(chain.data()));
    for (int j = 0; j < 5; ++j) {
        EXPECT_EQ(objective.GetJointParams()[j].theta, chain[static_cast<size_t>(j)].theta);
        EXPECT_EQ(objective.GetJointParams()[j].alpha, chain[static_cast<size_t>(j)].alpha);
    }
    const ZoTVector<double> home = objective.GetDefaultHomePositionParameters();
    const ZoTVector<double> initial = objective.GetInitialParameters();
    EXPECT_EQ(home[4] - initial[4], 90.0);
    EXPECT_EQ(home[8] - initial[8], 90.0);
}

// -----------------------------------------------------------------------------------------------
// Constraints

TEST(ZoCOrbal2AxisCalibrationObjFunction, BoundsTheFirstThreeJointsLowerBoundFirst) {
    const Objective objective;
    const ZoTMatrix<double>& A = objective.GetInequalitiesLHS();
    const ZoTVector<double>& b = objective.GetInequalitiesRHS();
    struct NSBound {
        int index;
        double lower, upper;
    };
    const std::vector<NSBound> expected = {
        {0, -180, 180},       {1, -178, 25},  {2, -150, 150},  {3, -180, 180},
        {4, -100000, 100000}, {5, -150, 150}, {6, -150, 150},  {7, -180, 180},
        {8, -100000, 100000}, {9, -150, 150}, {10, -150, 150}, {11, -180, 180},
    };
    ASSERT_EQ(A.rows, 24);
    ASSERT_EQ(A.cols, 20);
    for (size_t i = 0; i < expected.size(); ++i) {
        const int lowerRow = static_cast<int>(2 * i), upperRow = lowerRow + 1;
        for (int c = 0; c < 20; ++c) {
            EXPECT_EQ(A(lowerRow, c), c == expected[i].index ? -1.0 : 0.0);
            EXPECT_EQ(A(upperRow, c), c == expected[i].index ? 1.0 : 0.0);
        }
        EXPECT_EQ(b[lowerRow], -expected[i].lower);
        EXPECT_EQ(b[upperRow], expected[i].upper);
    }
}

TEST(ZoCOrbal2AxisCalibrationObjFunction, FixesTheLiftAndTheDisc) {
    Objective objective;
    const ZoTVector<int>& free = objective.GetFreeVariablesIndices();
    // The free variables are joints 1 to 3 (in the elimination's order).
    ASSERT_EQ(free.size, 12);
    std::vector<int> sorted(free.data, free.data + free.size);
    std::sort(sorted.begin(), sorted.end());
    for (int i = 0; i < 12; ++i)
        EXPECT_EQ(sorted[static_cast<size_t>(i)], i);
    const ZoTVector<double> x = objective.BuildParamsFromFree(ZoTVector<double>(12));
    EXPECT_EQ(x[12], 126.869896);  // not the table's 126.8698959350586
    for (int i = 13; i < 20; ++i) {
        EXPECT_EQ(x[i], 0.0);
        EXPECT_TRUE(objective.IsConstant(i));
    }
    for (int i = 0; i < 12; ++i)
        EXPECT_TRUE(objective.IsBounded(i)) << i;
}

TEST(ZoCOrbal2AxisCalibrationObjFunction, ConstraintsFollowTheLayoutWithoutOffsetsOrBeyondTheFirstJoint) {
    const Objective withoutOffsets(false, false);
    EXPECT_EQ(withoutOffsets.GetInequalitiesRHS().size, 18);
    EXPECT_EQ(withoutOffsets.GetFreeVariablesIndices().size, 9);
    EXPECT_EQ(withoutOffsets.GetInequalitiesRHS()[0], 180);  // joint 1's theta, then a (no d)
    EXPECT_EQ(withoutOffsets.GetInequalitiesRHS()[2], 150);
    const Objective firstOnly(true, true);
    EXPECT_EQ(firstOnly.GetInequalitiesRHS().size, 8);
    EXPECT_FALSE(firstOnly.HasEqualities());
    EXPECT_EQ(firstOnly.GetInequalitiesRHS()[3], 25);
}

// -----------------------------------------------------------------------------------------------
// Kinematics

TEST(ZoCOrbal2AxisCalibrationObjFunction, DhMatrixIsRotZTransZTransXRotXWithTheTruncatedPi) {
    for (const auto& v :
         std::vector<std::array<double, 4>>{{0, 0, 0, 0}, {30, 5, -2, 90}, {-123.4, -7, 24, 17.5}})
        expectMatrixNear(Access::dhTransformation(v[0], v[1], v[2], v[3]), dh(v[0], v[1], v[2], v[3]), 1e-14);
    // The degree factor is 3.14159265358979 / 180, a little below pi / 180: half a turn leaves a
    // sine of about 3.2e-15 instead of 1.2e-16.
    const ZoTMatrix<double> m = Access::dhTransformation(180, 0, 0, 0);
    EXPECT_NEAR(m(1, 0), 3.14159265358979323846 - 3.14159265358979, 3e-16);
    EXPECT_GT(m(1, 0), 3e-15);
}

// The reference device's chain is the nominal model: both give the same registrations (the
// device's in single precision).
TEST(ZoCOrbal2AxisCalibrationObjFunction, NominalTrafoIsTheReferenceDevicesRegistration) {
    const Objective objective;
    const ZoCOrbal2AxisChain device;
    for (const std::vector<double>& q : c_configurations) {
        SCOPED_TRACE(q[4]);
        const float values[5] = {static_cast<float>(q[0]), static_cast<float>(q[1]), static_cast<float>(q[2]),
                                 static_cast<float>(q[3]), static_cast<float>(q[4])};
        const CbMatrix4Rf registration =
            device.GetCamToDiscTransformation(ZoCOrbal2AxisChain::NCJointConfiguration(values), true);
        const ZoTMatrix<double> model = objective.BuildTrafo(Objective::m_defaultJointParams, VectorOf(q));
        expectMatrixNear(objective.BuildTrafoWithDefaultParams(VectorOf(q)),
                         cameraToDisc(Objective::m_defaultJointParams, q), 1e-9);
        for (int r = 0; r < 3; ++r) {
            for (int c = 0; c < 3; ++c)
                EXPECT_NEAR(model(r, c), registration(r, c), 1e-6);
            EXPECT_NEAR(model(r, 3), registration(r, 3), 1e-3);  // thousands of units in floats
        }
    }
}

// The transform is the plain composition of the joint matrices with the library's matrix
// product and LU inversion, to the bit.
TEST(ZoCOrbal2AxisCalibrationObjFunction, TrafoIsTheCompositionOfTheJointMatrices) {
    const Objective objective;
    const std::array<Params, 5> chain = perturbedChain();
    for (const std::vector<double>& q : c_configurations) {
        ZoTMatrix<double> P = ZoTMatrix<double>::Identity(4);
        for (int i = 4; i >= 0; --i)
            P = Access::getRelativeTransformation(objective, chain[static_cast<size_t>(i)],
                                                  q[static_cast<size_t>(i)]) *
                P;
        for (int r = 0; r < 3; ++r)
            P(r, 3) *= 40.0;
        ASSERT_TRUE(P.Invert());
        const ZoTMatrix<double> expected = P * toMatrix(rotX(3.14159265358979));
        const ZoTMatrix<double> actual = objective.BuildTrafo(chain.data(), VectorOf(q));
        EXPECT_EQ(std::vector<double>(actual.data, actual.data + 16),
                  std::vector<double>(expected.data, expected.data + 16));
    }
}

TEST(ZoCOrbal2AxisCalibrationObjFunction, WithoutOffsetsTheRecordsJointVariableIsIgnored) {
    const Objective objective(false, false);
    Params joints[5];
    std::copy(std::begin(Objective::m_defaultJointParams), std::end(Objective::m_defaultJointParams), joints);
    joints[1].theta = 33;  // an 'R' joint's theta
    joints[3].d = -12;     // a 'T' joint's d
    const ZoTVector<double> q = VectorOf(c_configurations[2]);
    const ZoTMatrix<double> a = objective.BuildTrafo(joints, q);
    const ZoTMatrix<double> b = objective.BuildTrafo(Objective::m_defaultJointParams, q);
    EXPECT_EQ(std::vector<double>(a.data, a.data + 16), std::vector<double>(b.data, b.data + 16));
}

// -----------------------------------------------------------------------------------------------
// Samples and residuals

TEST(ZoCOrbal2AxisCalibrationObjFunction, FirstSampleIsTheReferenceOfTheStoredResponsesButNotOfReplacedOnes) {
    Objective objective;
    const std::array<Params, 5> chain = perturbedChain();
    const Mat4 first = cameraToDisc(chain.data(), c_configurations[1]);
    const Mat4 second = cameraToDisc(chain.data(), c_configurations[2]);
    objective.AddInputResponseSample(VectorOf(c_configurations[1]), toMatrix(first));
    EXPECT_EQ(objective.GetNumMeasurements(), 0);
    expectMatrixNear(objective.GetSamples()[0].response, translation(0, 0, 0), 1e-12);
    objective.AddInputResponseSample(VectorOf(c_configurations[2]), toMatrix(second));
    EXPECT_EQ(objective.GetNumMeasurements(), 7);
    expectMatrixNear(objective.GetSamples()[1].response, multiply(rigidInverse(first), second), 1e-9);
    objective.AddInputResponseSample(VectorOf(c_configurations[3]), toMatrix(second));
    EXPECT_EQ(objective.GetNumMeasurements(), 14);
    // A replaced sample is stored as given, not relative to the first; the old one comes back.
    const Objective::ZoSInputResponsePair old =
        objective.ReplaceInputResponseSample(1, VectorOf(c_configurations[4]), toMatrix(translation(7, 8, 9)));
    EXPECT_EQ(old.input[4], c_configurations[2][4]);
    expectMatrixNear(old.response, multiply(rigidInverse(first), second), 1e-9);
    EXPECT_EQ(objective.GetSamples()[1].input[4], c_configurations[4][4]);
    expectMatrixNear(objective.GetSamples()[1].response, translation(7, 8, 9), 0.0);
    EXPECT_EQ(objective.GetNumMeasurements(), 14);
}

// Fewer than two samples give no residuals; removing all samples restarts the count.
TEST(ZoCOrbal2AxisCalibrationObjFunction, RemovingAllSamplesRestartsTheCount) {
    Objective objective;
    for (int count = 0; count < 2; ++count) {
        EXPECT_EQ(objective.Error(objective.GetInitialParameters()).size, 0);
        EXPECT_EQ(objective.ComputeTrafoErrors(objective.GetInitialParameters(), false).size, 0);
        objective.AddInputResponseSample(VectorOf(c_configurations[0]), ZoTMatrix<double>::Identity(4));
    }
    objective.RemoveAllSamples();
    for (const std::vector<double>& q : c_configurations)
        objective.AddInputResponseSample(VectorOf(q), objective.BuildTrafoWithDefaultParams(VectorOf(q)));
    EXPECT_EQ(objective.GetNumMeasurements(), 28);
    objective.RemoveAllSamples();
    EXPECT_EQ(objective.GetNumSamples(), 0);
    EXPECT_EQ(objective.GetNumMeasurements(), 0);
    objective.AddInputResponseSample(VectorOf(c_configurations[0]), ZoTMatrix<double>::Identity(4));
    objective.AddInputResponseSample(VectorOf(c_configurations[1]), ZoTMatrix<double>::Identity(4));
    EXPECT_EQ(objective.GetNumMeasurements(), 7);
    EXPECT_EQ(objective.Error(objective.GetInitialParameters()).size, 7);
}

TEST(ZoCOrbal2AxisCalibrationObjFunction, ResidualsVanishAtTheGeneratingParameters) {
    Objective objective;
    const std::array<Params, 5> chain = perturbedChain();
    for (const std::vector<double>& q : c_configurations)
        objective.AddInputResponseSample(VectorOf(q), toMatrix(cameraToDisc(chain.data(), q)));
    const ZoTVector<double> atTruth = objective.Error(objective.ExportJointParameters(chain.data()));
    ASSERT_EQ(atTruth.size, 28);
    EXPECT_LT(atTruth.MaxAbs(), 1e-9);
    const ZoTVector<double> atNominal = objective.Error(objective.GetInitialParameters());
    EXPECT_GT(atNominal.MaxAbs(), 1e-3);
    const ZoTVector<double> errors = objective.ComputeTrafoErrors(objective.GetInitialParameters(), false);
    ASSERT_EQ(errors.size, 4);
    for (int k = 0; k < 4; ++k) {
        double sum = 0;
        for (int i = 0; i < 7; ++i)
            sum += atNominal[7 * k + i] * atNominal[7 * k + i];
        EXPECT_NEAR(errors[k], std::sqrt(sum), 1e-12);
    }
}

namespace {

// Two samples at the same joints: the prediction is the identity, the measured relative response
// a turn by `degrees` about z with the translation (1, 2, 3).
Objective objectiveMeasuringTurnAboutZ(double degrees, int errorsPerSample) {
    Objective objective;
    Access::setErrorsPerSample(objective, errorsPerSample);
    const Mat4 first = multiply(rotZ(40), translation(100, -50, 20));
    const Mat4 relative = multiply(translation(1, 2, 3), rotZ(degrees));
    objective.AddInputResponseSample(VectorOf(c_configurations[1]), toMatrix(first));
    objective.AddInputResponseSample(VectorOf(c_configurations[1]), toMatrix(multiply(first, relative)));
    return objective;
}

}  // namespace

// 7: quaternion and translation differences; 12: rotation and translation differences; 1: the
// norm of the twelve; any other mode grows the count but fills no block.
TEST(ZoCOrbal2AxisCalibrationObjFunction, ResidualModesCompareRotationsAndTranslations) {
    const double c = std::cos(30 * c_dDeg), s = std::sin(30 * c_dDeg), half = 15 * c_dDeg;
    const std::vector<std::pair<int, std::vector<double>>> cases = {
        {7, {1 - std::cos(half), 0, 0, -std::sin(half), -1, -2, -3}},
        {12, {1 - c, s, 0, -s, 1 - c, 0, 0, 0, 0, -1, -2, -3}},
        {1, {std::sqrt(2 * (1 - c) * (1 - c) + 2 * s * s + 14)}},
        {5, {0, 0, 0, 0, 0}}};
    for (const auto& [mode, expected] : cases) {
        Objective objective = objectiveMeasuringTurnAboutZ(30, mode);
        const ZoTVector<double> r = objective.Error(objective.GetInitialParameters());
        ASSERT_EQ(r.size, static_cast<int>(expected.size())) << mode;
        for (int i = 0; i < r.size; ++i)
            EXPECT_NEAR(r[i], expected[static_cast<size_t>(i)], 1e-9) << mode << " " << i;
        if (mode == 5) {
            EXPECT_EQ(r.MaxAbs(), 0.0);
            EXPECT_EQ(Access::trafoDist(objective, ZoTMatrix<double>::Identity(4), ZoTMatrix<double>::Identity(4)).size, 0);
        }
    }
}

TEST(ZoCOrbal2AxisCalibrationObjFunction, VerboseTrafoErrorsPrintEachComparison) {
    Objective objective = objectiveMeasuringTurnAboutZ(30, 7);
    ScopedLogCapture capture;
    const ZoTVector<double> errors = objective.ComputeTrafoErrors(objective.GetInitialParameters(), true);
    const std::vector<std::string> lines = calibtest::Narrow(capture.Sink().Messages("ZoCWinLog"));
    ASSERT_EQ(errors.size, 1);
    char last[64];
    std::snprintf(last, sizeof last, "===> Fehler: %g\n", errors[0]);
    // Separator, 5-vector (header and row), given matrix (header and four rows), simulated matrix.
    ASSERT_EQ(lines.size(), 16u);
    EXPECT_EQ(lines[0], "-----------------------------------\n");
    EXPECT_EQ(lines[1], "5-vector:\n");
    EXPECT_EQ(lines[2], "\t0,\t85,\t20,\t-16,\t290;\n");
    EXPECT_EQ(lines[3], "--- gegeben:\n");
    EXPECT_EQ(lines[4], "4 x 4-matrix:\n");
    EXPECT_EQ(lines[9], "--- simuliert:\n");
    EXPECT_EQ(lines[15], last);
}

// -----------------------------------------------------------------------------------------------
// Quaternions

TEST(ZoCOrbal2AxisCalibrationObjFunction, QuaternionsOfHalfTurnsTakeTheDiagonalBranches) {
    const std::vector<std::vector<double>> cases = {
        {1, 1, 1, 1, 0, 0, 0}, {1, -1, -1, 0, 1, 0, 0}, {-1, 1, -1, 0, 0, 1, 0}, {-1, -1, 1, 0, 0, 0, 1}};
    for (const std::vector<double>& c : cases) {
        ZoTMatrix<double> m(3);
        m(0, 0) = c[0], m(1, 1) = c[1], m(2, 2) = c[2];
        const ZoTVector<double> q = Objective::QuaternionFromRotation(m);
        EXPECT_EQ(std::vector<double>(q.data, q.data + 4), std::vector<double>(c.begin() + 3, c.end()));
    }
    const ZoTVector<double> q = Objective::QuaternionFromRotation(ZoTMatrix<double>::Identity(4));
    EXPECT_EQ(std::vector<double>(q.data, q.data + 4), std::vector<double>({1, 0, 0, 0}));
}

// Every branch: a rotation from a random quaternion gives that quaternion back up to its sign.
TEST(ZoCOrbal2AxisCalibrationObjFunction, QuaternionOfARotationReproducesTheRotation) {
    std::mt19937_64 rng(7);
    std::normal_distribution<double> normal(0.0, 1.0);
    for (int trial = 0; trial < 400; ++trial) {
        ZoTVector<double> q(4);
        for (int i = 0; i < 4; ++i)
            q[i] = normal(rng);
        if (trial % 4 != 0)
            q[0] *= 0.05;  // small w: most rotations near half turns, the diagonal branches
        q = q * (1.0 / q.Norm());
        const ZoTVector<double> back =
            Objective::QuaternionFromRotation(Objective::RotationFromQuaternion(q));
        const double sign = back.Dot(q) < 0 ? -1.0 : 1.0;
        for (int i = 0; i < 4; ++i)
            ASSERT_NEAR(back[i], sign * q[i], 1e-12) << "trial " << trial;
        ASSERT_NEAR(back.Norm(), 1.0, 1e-15);
    }
}

TEST(ZoCOrbal2AxisCalibrationObjFunction, QuaternionAngleAndAxisOfATurn) {
    const double axis[3] = {2.0 / 7, -3.0 / 7, 6.0 / 7};
    for (double angle : {0.3, 1.0, 2.5, 3.1}) {
        const ZoTVector<double> q = VectorOf({std::cos(angle / 2), axis[0] * std::sin(angle / 2),
                                              axis[1] * std::sin(angle / 2), axis[2] * std::sin(angle / 2)});
        EXPECT_NEAR(Objective::QuaternionToAngle(q), angle, 1e-12);
        const ZoTVector<double> u = Objective::QuaternionToAxis(q);
        ASSERT_EQ(u.size, 3);
        for (int i = 0; i < 3; ++i) {
            EXPECT_NEAR(u[i], axis[i], 1e-7);
            EXPECT_EQ(u[i], static_cast<float>(u[i]));  // single precision
        }
    }
    const ZoTVector<double> none = Objective::QuaternionToAxis(VectorOf({1, 0, 0, 0}));
    EXPECT_EQ(std::vector<double>(none.data, none.data + 3), std::vector<double>(3, 0.0));
    // Below the threshold the vector part is returned unscaled.
    const ZoTVector<double> tiny = Objective::QuaternionToAxis(VectorOf({std::sqrt(1 - 1e-8), 1e-4, 0, 0}));
    EXPECT_NEAR(tiny[0], 1e-4, 1e-11);  // single precision
}

TEST(ZoCOrbal2AxisCalibrationObjFunction, EulerAnglesRoundTrip) {
    for (double h : {-2.5, -0.4, 0.0, 1.2, 3.0})
        for (double t : {-1.4, -0.3, 0.0, 0.8, 1.5})
            for (double b : {-3.0, 0.0, 0.7, 2.2}) {
                const ZoTVector<double> angles =
                    Objective::EulerFromQuaternion(Objective::QuaternionFromEuler(h, t, b));
                ASSERT_EQ(angles.size, 3);  // heading, attitude, bank
                EXPECT_NEAR(angles[0], h, 1e-9);
                EXPECT_NEAR(angles[1], t, 1e-9);
                EXPECT_NEAR(angles[2], b, 1e-9);
            }
}

// At the poles heading and bank turn about the same axis: the bank becomes 0 and the heading
// takes the whole turn, so the rotation stays the same.
TEST(ZoCOrbal2AxisCalibrationObjFunction, EulerAnglesAtThePolesPutTheTurnIntoTheHeading) {
    for (double pole : {1.0, -1.0}) {
        const ZoTVector<double> q = Objective::QuaternionFromEuler(0.4, pole * 1.5707963267948966, 0.9);
        const ZoTVector<double> angles = Objective::EulerFromQuaternion(q);
        EXPECT_EQ(angles[1], pole * 1.5707963267949);
        EXPECT_EQ(angles[2], 0.0);
        const ZoTMatrix<double> expected = Objective::RotationFromQuaternion(q);
        const ZoTMatrix<double> actual = Objective::RotationFromQuaternion(
            Objective::QuaternionFromEuler(angles[0], angles[1], angles[2]));
        for (int i = 0; i < 9; ++i)
            EXPECT_NEAR(actual.data[i], expected.data[i], 1e-9);
    }
}

