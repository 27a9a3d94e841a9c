// The calibration objective: tables, layouts, bounds, kinematics, residual modes, quaternions.
#include "CalibrationTestSupport.h"

namespace {

using Objective = ZoCOrbal2AxisCalibrationObjFunction;
using Access = ZoCOrbal2AxisCalibrationObjFunctionTestAccess;
using Params = Objective::ZoSJointParams;
using Mat4 = Eigen::Matrix4d;  // the tests' own arithmetic
using calibtest::Entries;
using calibtest::VectorOf;
using testing::DoubleNear;
using testing::Pointwise;

constexpr double c_dDeg = 3.14159265358979 / 180.0;

Mat4 rotation(double radians, const Eigen::Vector3d& axis) {
    return Eigen::Affine3d(Eigen::AngleAxisd(radians, axis)).matrix();
}
Mat4 translation(double x, double y, double z) {
    return Eigen::Affine3d(Eigen::Translation3d(x, y, z)).matrix();
}
// camera -> disc for records in the model's convention (joint value added to theta or d).
Mat4 cameraToDisc(const Params joints[5], const std::vector<double>& q) {
    Mat4 p = Mat4::Identity();
    for (size_t i = 0; i < 5; ++i) {
        const Params& j = joints[i];
        const double theta = j.theta + (j.type == 'R' ? q[i] : 0.0), d = j.d + (j.type == 'R' ? 0.0 : q[i]);
        p = p * rotation(theta * c_dDeg, Eigen::Vector3d::UnitZ()) * translation(j.a, 0, d) *
            rotation(j.alpha * c_dDeg, Eigen::Vector3d::UnitX());
    }
    p.topRightCorner<3, 1>() *= 40.0;
    return p.inverse() * rotation(3.14159265358979, Eigen::Vector3d::UnitX());
}

void expectMatrixNear(const ZoTMatrix<double>& actual, const Mat4& expected, double tolerance) {
    EXPECT_THAT(Entries(actual),
                Pointwise(DoubleNear(tolerance), std::vector(expected.data(), expected.data() + 16)));
}
ZoTMatrix<double> toMatrix(const Mat4& m) {
    ZoTMatrix<double> out(4);
    Eigen::Map<Mat4>(out.data) = m;
    return out;
}

// A chain in the model's convention close to the nominal one.
std::array<Params, 5> perturbedChain() {
    std::array<Params, 5> j;
    std::copy_n(Objective::m_defaultJointParams, 5, j.begin());
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

// The nominal table and the home-position table differ only in the tilt angles (by 90 degrees).
TEST(ZoCOrbal2AxisCalibrationObjFunction, DefaultTablesDifferOnlyInTheTiltAngles) {
    const Params *nominal = Objective::m_defaultJointParams,
                 *home = Objective::GetDefaultHomePositionJointParams();
    auto fields = [](const Params& p, double turn) {
        return std::make_tuple(p.theta + turn, p.d, p.a, p.alpha, p.type, p.minValue, p.maxValue);
    };
    for (int j = 0; j < 5; ++j)
        EXPECT_EQ(fields(nominal[j], j == 1 || j == 2 ? 90.0 : 0.0), fields(home[j], 0.0)) << j;
}

// Field k of joint j holds 10 j + k; import puts each entry back, the rest from the working records.
TEST(ZoCOrbal2AxisCalibrationObjFunction, ExportsAndImportsTheLayoutOfEachFlagCombination) {
    Params records[5];
    for (int j = 0; j < 5; ++j)
        records[j] = {10.0 * j, 10.0 * j + 1, 10.0 * j + 2, 10.0 * j + 3, 'X', 0, 0};
    const struct {
        bool first, offsets;
        std::vector<double> layout;
    } cases[] = {{false, true, {0, 1, 2, 3, 10, 11, 12, 13, 20, 21, 22, 23, 30, 31, 32, 33, 40, 41, 42, 43}},
                 {false, false, {0, 2, 3, 11, 12, 13, 21, 22, 23, 30, 32, 33, 41, 42, 43}},
                 {true, true, {0, 1, 2, 3}},
                 {true, false, {0, 2, 3}}};
    auto values = [](const Params& p) { return std::vector<double>({p.theta, p.d, p.a, p.alpha}); };
    auto limits = [](const Params& p) { return std::make_tuple(p.type, p.minValue, p.maxValue); };
    const Params* nominal = Objective::m_defaultJointParams;
    for (const auto& c : cases) {
        const Objective objective(c.first, c.offsets);
        EXPECT_EQ(Entries(objective.ExportJointParameters(records)), c.layout) << c.first << c.offsets;
        EXPECT_EQ(objective.GetNumParams(), static_cast<int>(c.layout.size()));
        const std::unique_ptr<Params[]> back = objective.ImportJointParameters(VectorOf(c.layout));
        for (int j = 0; j < 5; ++j) {
            std::vector<double> expected = values(nominal[j]);
            for (size_t k = 0; k < 4; ++k)
                if (std::count(c.layout.begin(), c.layout.end(), 10.0 * j + static_cast<double>(k)) > 0)
                    expected[k] = 10.0 * j + static_cast<double>(k);
            EXPECT_EQ(std::make_pair(values(back[j]), limits(back[j])),
                      std::make_pair(expected, limits(nominal[j])));
            EXPECT_EQ(values(objective.ImportJointParameters(VectorOf(c.layout), j)), expected) << j;
        }
    }
}

// Bounds of the first three joints; the lift (126.869896, not the table's value) and disc are fixed.
TEST(ZoCOrbal2AxisCalibrationObjFunction, BoundsTheFirstThreeJointsAndFixesTheLiftAndTheDisc) {
    const Objective objective;
    Eigen::MatrixXd A = Eigen::MatrixXd::Zero(24, 20);
    for (int i = 0; i < 12; ++i) {
        A(2 * i, i) = -1, A(2 * i + 1, i) = 1;
        EXPECT_TRUE(objective.IsBounded(i)) << i;
    }
    const ZoTMatrix<double>& lhs = objective.GetInequalitiesLHS();
    ASSERT_EQ(std::make_pair(lhs.rows, lhs.cols), std::make_pair(24, 20));
    EXPECT_TRUE(calibtest::AsEigen(lhs) == A);
    EXPECT_EQ(Entries(objective.GetInequalitiesRHS()),
              std::vector<double>({180, 180, 178, 25,  150, 150, 180, 180, 1e5, 1e5, 150, 150,
                                   150, 150, 180, 180, 1e5, 1e5, 150, 150, 150, 150, 180, 180}));
    std::vector<int> free = Entries(objective.GetFreeVariablesIndices());
    std::sort(free.begin(), free.end());  // in the elimination's order
    EXPECT_EQ(free, std::vector<int>({0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11}));
    const ZoTVector<double> x = objective.BuildParamsFromFree(ZoTVector<double>(12));
    EXPECT_EQ(x[12], 126.869896);
    for (int i = 13; i < 20; ++i)
        EXPECT_TRUE(x[i] == 0.0 && objective.IsConstant(i)) << i;
    const Objective without(false, false), firstOnly(true, true);
    const ZoTVector<double>&bWithout = without.GetInequalitiesRHS(), &bFirst = firstOnly.GetInequalitiesRHS();
    EXPECT_EQ(
        std::make_tuple(bWithout.size, without.GetFreeVariablesIndices().size, bWithout[0], bWithout[2]),
        std::make_tuple(18, 9, 180.0, 150.0));  // joint 1's theta, then a (no d)
    EXPECT_EQ(std::make_tuple(bFirst.size, firstOnly.HasEqualities(), bFirst[3]),
              std::make_tuple(8, false, 25.0));
}

// The DH matrices composed, scaled by 40, inverted and turned half about x.
TEST(ZoCOrbal2AxisCalibrationObjFunction, TrafoIsTheInverseCompositionOfTheJointMatrices) {
    const Objective objective;
    const std::array<Params, 5> chain = perturbedChain();
    for (const std::vector<double>& q : c_configurations) {
        SCOPED_TRACE(q[4]);
        expectMatrixNear(objective.BuildTrafoWithDefaultParams(VectorOf(q)),
                         cameraToDisc(Objective::m_defaultJointParams, q), 1e-9);
        expectMatrixNear(objective.BuildTrafo(chain.data(), VectorOf(q)), cameraToDisc(chain.data(), q),
                         1e-8);
    }
    std::array<Params, 5> without = chain;
    for (Params& joint : without)
        (joint.type == 'R' ? joint.theta : joint.d) = 0.0;
    expectMatrixNear(Objective(false, false).BuildTrafo(chain.data(), VectorOf(c_configurations[2])),
                     cameraToDisc(without.data(), c_configurations[2]), 1e-8);
}

// Responses are stored relative to the first sample's; a replaced one as given, the old one returned.
TEST(ZoCOrbal2AxisCalibrationObjFunction, FirstSampleIsTheReferenceOfTheStoredResponsesButNotOfReplacedOnes) {
    Objective objective;
    const std::array<Params, 5> chain = perturbedChain();
    const Mat4 first = cameraToDisc(chain.data(), c_configurations[1]);
    const Mat4 second = cameraToDisc(chain.data(), c_configurations[2]);
    EXPECT_EQ(objective.Error(objective.GetInitialParameters()).size, 0);
    objective.AddInputResponseSample(VectorOf(c_configurations[1]), toMatrix(first));
    EXPECT_EQ(std::make_pair(objective.GetNumMeasurements(),
                             objective.ComputeTrafoErrors(objective.GetInitialParameters(), false).size),
              std::make_pair(0, 0));
    expectMatrixNear(objective.GetSamples()[0].response, Mat4::Identity(), 1e-12);
    objective.AddInputResponseSample(VectorOf(c_configurations[2]), toMatrix(second));
    EXPECT_EQ(objective.GetNumMeasurements(), 7);
    expectMatrixNear(objective.GetSamples()[1].response, first.inverse() * second, 1e-9);
    objective.AddInputResponseSample(VectorOf(c_configurations[3]), toMatrix(second));
    const Objective::ZoSInputResponsePair old = objective.ReplaceInputResponseSample(
        1, VectorOf(c_configurations[4]), toMatrix(translation(7, 8, 9)));
    expectMatrixNear(old.response, first.inverse() * second, 1e-9);
    expectMatrixNear(objective.GetSamples()[1].response, translation(7, 8, 9), 0.0);
    EXPECT_EQ(
        std::make_tuple(old.input[4], objective.GetSamples()[1].input[4], objective.GetNumMeasurements()),
        std::make_tuple(c_configurations[2][4], c_configurations[4][4], 14));
    objective.RemoveAllSamples();
    objective.AddInputResponseSample(VectorOf(c_configurations[0]), ZoTMatrix<double>::Identity(4));
    objective.AddInputResponseSample(VectorOf(c_configurations[1]), ZoTMatrix<double>::Identity(4));
    EXPECT_EQ(std::make_tuple(objective.GetNumSamples(), objective.GetNumMeasurements(),
                              objective.Error(objective.GetInitialParameters()).size),
              std::make_tuple(2, 7, 7));
}

// Residuals vanish at the generating chain's parameters; a trafo error is a sample's residual norm.
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
    const Eigen::VectorXd norms = Eigen::Map<const Eigen::MatrixXd>(atNominal.data, 7, 4).colwise().norm();
    EXPECT_THAT(Entries(objective.ComputeTrafoErrors(objective.GetInitialParameters(), false)),
                Pointwise(DoubleNear(1e-12), std::vector<double>(norms.data(), norms.data() + 4)));
}

namespace {

// Two samples at the same joints, measured apart by a shift (1, 2, 3) and a 30-degree turn about z.
Objective objectiveMeasuringATurnAboutZ(int errorsPerSample) {
    Objective objective;
    Access::setErrorsPerSample(objective, errorsPerSample);
    const Mat4 first = rotation(40 * c_dDeg, Eigen::Vector3d::UnitZ()) * translation(100, -50, 20);
    objective.AddInputResponseSample(VectorOf(c_configurations[1]), toMatrix(first));
    objective.AddInputResponseSample(
        VectorOf(c_configurations[1]),
        toMatrix(first * translation(1, 2, 3) * rotation(30 * c_dDeg, Eigen::Vector3d::UnitZ())));
    return objective;
}

}  // namespace

// 7: quaternion and translation differences; 12: rotation and translation; 1: their norm.
TEST(ZoCOrbal2AxisCalibrationObjFunction, ResidualModesCompareRotationsAndTranslations) {
    const double c = std::cos(30 * c_dDeg), s = std::sin(30 * c_dDeg), half = 15 * c_dDeg;
    const std::vector<std::pair<int, std::vector<double>>> cases = {
        {7, {1 - std::cos(half), 0, 0, -std::sin(half), -1, -2, -3}},
        {12, {1 - c, s, 0, -s, 1 - c, 0, 0, 0, 0, -1, -2, -3}},
        {1, {std::sqrt(2 * (1 - c) * (1 - c) + 2 * s * s + 14)}},
        {5, {0, 0, 0, 0, 0}}};
    for (const auto& [mode, expected] : cases) {
        Objective objective = objectiveMeasuringATurnAboutZ(mode);
        EXPECT_THAT(Entries(objective.Error(objective.GetInitialParameters())),
                    Pointwise(DoubleNear(1e-9), expected))
            << mode;
    }
}

// Half turns take the diagonal branches exactly; random quaternions come back up to their sign.
TEST(ZoCOrbal2AxisCalibrationObjFunction, QuaternionOfARotationReproducesTheRotation) {
    const std::vector<std::vector<double>> halfTurns = {
        {1, 1, 1, 1, 0, 0, 0}, {1, -1, -1, 0, 1, 0, 0}, {-1, 1, -1, 0, 0, 1, 0}, {-1, -1, 1, 0, 0, 0, 1}};
    for (const std::vector<double>& c : halfTurns) {
        ZoTMatrix<double> m(4);  // a transform's rotation block
        m(0, 0) = c[0], m(1, 1) = c[1], m(2, 2) = c[2];
        EXPECT_EQ(Entries(Objective::QuaternionFromRotation(m)), std::vector<double>(c.begin() + 3, c.end()));
    }
    std::mt19937_64 rng(7);
    std::normal_distribution<double> normal(0.0, 1.0);
    for (int trial = 0; trial < 400; ++trial) {
        ZoTVector<double> q(4);
        for (int i = 0; i < 4; ++i)
            q[i] = normal(rng) * (i == 0 && trial % 4 != 0 ? 0.05 : 1.0);
        q = q * (1.0 / q.Norm());
        const ZoTVector<double> back =
            Objective::QuaternionFromRotation(Objective::RotationFromQuaternion(q));
        ASSERT_THAT(Entries(back * (back.Dot(q) < 0 ? -1.0 : 1.0)), Pointwise(DoubleNear(1e-12), Entries(q)))
            << trial;
    }
}

// Angle and axis of a turn; below the threshold the vector part comes unscaled.
TEST(ZoCOrbal2AxisCalibrationObjFunction, QuaternionAngleAndAxisOfATurn) {
    const double axis[3] = {2.0 / 7, -3.0 / 7, 6.0 / 7};
    for (double angle : {0.3, 1.0, 2.5, 3.1}) {
        const double s = std::sin(angle / 2);
        const ZoTVector<double> q = VectorOf({std::cos(angle / 2), axis[0] * s, axis[1] * s, axis[2] * s});
        EXPECT_NEAR(Objective::QuaternionToAngle(q), angle, 1e-12);
        EXPECT_THAT(Entries(Objective::QuaternionToAxis(q)), Pointwise(DoubleNear(1e-7), axis));
    }
    EXPECT_EQ(Entries(Objective::QuaternionToAxis(VectorOf({1, 0, 0, 0}))), std::vector<double>(3, 0.0));
    EXPECT_NEAR(Objective::QuaternionToAxis(VectorOf({std::sqrt(1 - 1e-8), 1e-4, 0, 0}))[0], 1e-4, 1e-11);
}

// Heading, attitude and bank round-trip; at the poles the heading takes the bank's turn.
TEST(ZoCOrbal2AxisCalibrationObjFunction, EulerAnglesRoundTripAndPutThePolesTurnIntoTheHeading) {
    const double pole = 1.5707963267948966, cases[][6] = {{-2.5, -1.4, -3.0, -2.5, -1.4, -3.0},
                                                          {1.2, 0.3, 0.7, 1.2, 0.3, 0.7},
                                                          {0.4, pole, 0.9, 1.3, 1.5707963267949, 0},
                                                          {0.4, -pole, 0.9, -0.5, -1.5707963267949, 0}};
    for (const auto& c : cases)
        EXPECT_THAT(Entries(Objective::EulerFromQuaternion(Objective::QuaternionFromEuler(c[0], c[1], c[2]))),
                    Pointwise(DoubleNear(1e-9), std::vector<double>(c + 3, c + 6)));
}
