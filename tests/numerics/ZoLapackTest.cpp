// LAPACK-backed least squares, SVD, pivoted QR with solution-set parametrisation, Cholesky.
#include "NumericsTestSupport.h"
#include "ZoLapack.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

namespace {

using testsupport::fromRows;
using testsupport::vectorOf;

ZoTMatrix<double> randomMatrix(int rows, int cols, std::mt19937_64& rng) {
    std::uniform_real_distribution<double> uniform(-1.0, 1.0);
    ZoTMatrix<double> m(rows, cols);
    for (int i = 0; i < rows * cols; ++i)
        m.data[i] = uniform(rng);
    return m;
}

ZoTMatrix<double> transposed(ZoTMatrix<double> m) {
    m.Transpose();
    return m;
}

void expectMatrixNear(const ZoTMatrix<double>& a, const ZoTMatrix<double>& b, double tolerance) {
    ASSERT_EQ(a.rows, b.rows);
    ASSERT_EQ(a.cols, b.cols);
    for (int r = 0; r < a.rows; ++r)
        for (int c = 0; c < a.cols; ++c)
            EXPECT_NEAR(a(r, c), b(r, c), tolerance) << r << "," << c;
}

}  // namespace

TEST(LapackLssolve, SolvesSquareSystemExactlyWithConditionAtLeastOne) {
    ZoTMatrix<double> a = fromRows({{4, 1, 0}, {1, 3, 1}, {0, 1, 2}});
    const ZoTVector<double> expected = vectorOf({1, -2, 3});
    const ZoTVector<double> b = a * expected;
    ZoTVector<double> x(3);
    double cond = 0;
    ASSERT_TRUE(lapack::lssolve(a, b, x, &cond));
    for (int i = 0; i < 3; ++i)
        EXPECT_NEAR(x[i], expected[i], 1e-13);
    EXPECT_GE(cond, 1.0);
    EXPECT_LT(cond, 10.0);
}

TEST(LapackLssolve, OverdeterminedSolutionSatisfiesNormalEquations) {
    std::mt19937_64 rng(5489);
    ZoTMatrix<double> a = randomMatrix(20, 4, rng);
    const ZoTMatrix<double> original(a);
    ZoTVector<double> b(20);
    for (int i = 0; i < 20; ++i)
        b[i] = std::sin(i);
    ZoTVector<double> x(4);
    ASSERT_TRUE(lapack::lssolve(a, b, x, nullptr));
    // The residual is orthogonal to the column space: A^T (b - A x) = 0.
    const ZoTVector<double> residual = b - original * x;
    for (int c = 0; c < 4; ++c)
        EXPECT_NEAR(original.Column(c).Dot(residual), 0.0, 1e-12);
}

TEST(LapackLssolve, RefusesWrongLengthsAndEmptySystems) {
    ZoTMatrix<double> a = fromRows({{1, 0}, {0, 1}});
    ZoTVector<double> x(2), shortX(1);
    EXPECT_FALSE(lapack::lssolve(a, vectorOf({1, 2, 3}), x, nullptr));
    EXPECT_FALSE(lapack::lssolve(a, vectorOf({1, 2}), shortX, nullptr));
    ZoTMatrix<double> empty;
    ZoTVector<double> none;
    EXPECT_FALSE(lapack::lssolve(empty, none, none, nullptr));
}

TEST(LapackLssolve, RankDeficientSystemGivesMinimumNormSolution) {
    // x0 + x1 = 2 twice: all solutions lie on a line; the shortest is (1, 1).
    ZoTMatrix<double> a = fromRows({{1, 1}, {1, 1}});
    ZoTVector<double> x(2);
    double cond = 0;
    ASSERT_TRUE(lapack::lssolve(a, vectorOf({2, 2}), x, &cond));
    EXPECT_NEAR(x[0], 1.0, 1e-14);
    EXPECT_NEAR(x[1], 1.0, 1e-14);
    EXPECT_GT(cond, 1e15);
}

TEST(LapackLssolve, MatrixFormSolvesEveryColumn) {
    ZoTMatrix<double> a = fromRows({{2, 0}, {0, 4}, {0, 0}});
    const ZoTMatrix<double> b = fromRows({{2, 4}, {4, 8}, {1, 1}});
    ZoTMatrix<double> x(2, 2);
    ASSERT_TRUE(lapack::lssolve(a, b, x, nullptr));
    expectMatrixNear(x, fromRows({{1, 2}, {1, 2}}), 1e-14);
    ZoTMatrix<double> wrong(3, 2);
    ZoTMatrix<double> a2 = fromRows({{2, 0}, {0, 4}, {0, 0}});
    EXPECT_FALSE(lapack::lssolve(a2, b, wrong, nullptr));
}

TEST(LapackLssolve, SinglePrecisionFormsAgreeWithDouble) {
    ZoTMatrix<float> a(3, 2);
    a(0, 0) = 1;
    a(1, 1) = 2;
    a(2, 0) = 1;
    ZoTVector<float> b(3), x(2);
    b[0] = 1;
    b[1] = 4;
    b[2] = 3;
    float cond = 0;
    ASSERT_TRUE(lapack::lssolve(a, b, x, &cond));
    EXPECT_NEAR(x[0], 2.0f, 1e-6f);
    EXPECT_NEAR(x[1], 2.0f, 1e-6f);
    ZoTMatrix<float> a2(2, 2), B(2, 1), X(2, 1);
    a2(0, 0) = 2;
    a2(1, 1) = 5;
    B(0, 0) = 4;
    B(1, 0) = 10;
    ASSERT_TRUE(lapack::lssolve(a2, B, X, nullptr));
    EXPECT_NEAR(X(0, 0), 2.0f, 1e-6f);
    EXPECT_NEAR(X(1, 0), 2.0f, 1e-6f);
}

TEST(LapackSvd, ReconstructsMatrixFromFactors) {
    std::mt19937_64 rng(47110518);
    for (const auto& [m, n] : std::vector<std::pair<int, int>>{{5, 3}, {3, 5}, {4, 4}}) {
        ZoTMatrix<double> a = randomMatrix(m, n, rng);
        const ZoTMatrix<double> original(a);
        ZoTMatrix<double> u(m), vt(n);
        ZoTVector<double> s(std::min(m, n));
        ASSERT_TRUE(lapack::svd(a, u, s, vt));
        ZoTMatrix<double> sigma(m, n);
        for (int i = 0; i < s.size; ++i)
            sigma(i, i) = s[i];
        expectMatrixNear(u * sigma * vt, original, 1e-13);
        for (int i = 1; i < s.size; ++i)
            EXPECT_GE(s[i - 1], s[i]);
    }
}

TEST(LapackSvd, SinglePrecisionAndWronglySizedOutputs) {
    ZoTMatrix<float> a(2, 2), u(2), vt(2);
    a(0, 0) = 3;
    a(1, 1) = -4;
    ZoTVector<float> s(2);
    ASSERT_TRUE(lapack::svd(a, u, s, vt));
    EXPECT_NEAR(s[0], 4.0f, 1e-6f);
    EXPECT_NEAR(s[1], 3.0f, 1e-6f);
    ZoTMatrix<double> ad(2, 2), ud(3), vtd(2);
    ZoTVector<double> sd(2);
    EXPECT_FALSE(lapack::svd(ad, ud, sd, vtd));
}

TEST(LapackQrp, FactorsWithOrthogonalQAndReportsPermutation) {
    std::mt19937_64 rng(47110815);
    ZoTMatrix<double> a = randomMatrix(6, 4, rng);
    for (int r = 0; r < 6; ++r)
        a(r, 2) *= 100.0;  // the largest column should be pivoted first
    const ZoTMatrix<double> original(a);
    ZoTMatrix<double> q(6), r(6, 4);
    ZoCPMatrix p(4);
    for (int j = 0; j < 4; ++j)
        p.order[j] = 0;  // all columns free to pivot
    ASSERT_TRUE(lapack::qrp(a, q, r, p));
    EXPECT_EQ(p.order[0], 2);
    expectMatrixNear(transposed(q) * q, ZoTMatrix<double>::Identity(6), 1e-13);
    ZoTMatrix<double> permuted(6, 4);
    for (int j = 0; j < 4; ++j)
        for (int i = 0; i < 6; ++i)
            permuted(i, j) = original(i, p.order[j]);
    expectMatrixNear(q * r, permuted, 1e-12);
    for (int c = 0; c < 4; ++c)
        for (int i = c + 1; i < 6; ++i)
            EXPECT_EQ(r(i, c), 0.0);
}

TEST(LapackQrp, FreshPermutationKeepsColumnOrder) {
    ZoTMatrix<double> a = fromRows({{1, 100}, {0, 0}, {0, 1}});
    ZoTMatrix<double> q(3), r(3, 2);
    ZoCPMatrix p(2);
    ASSERT_TRUE(lapack::qrp(a, q, r, p));
    EXPECT_EQ(p.order[0], 0);
    EXPECT_EQ(p.order[1], 1);
    EXPECT_NEAR(std::abs(r(0, 0)), 1.0, 1e-15);
}

TEST(LapackQrp, RefusesWronglyShapedOutputs) {
    ZoTMatrix<double> a(3, 2), wrongQ(2), r(3, 2), q(3), wrongR(2, 2);
    ZoCPMatrix p(2), wrongP(3);
    EXPECT_FALSE(lapack::qrp(a, wrongQ, r, p));
    EXPECT_FALSE(lapack::qrp(a, q, wrongR, p));
    EXPECT_FALSE(lapack::qrp(a, q, r, wrongP));
}

TEST(LapackQrpKernel, SingleEquationGivesBasicSolutionAndNullDirection) {
    ZoTMatrix<double> a = fromRows({{1, 1}});
    ZoTVector<double> b = vectorOf({2});
    ZoCPMatrix p(2);
    const ZoTMatrix<double> k = lapack::qrp_kernel(a, b, p);
    ASSERT_EQ(k.rows, 2);
    ASSERT_EQ(k.cols, 2);
    EXPECT_NEAR(k(0, 0), 2.0, 1e-15);
    EXPECT_NEAR(k(1, 0), 0.0, 1e-15);
    EXPECT_NEAR(k(0, 1), -1.0, 1e-15);
    EXPECT_NEAR(k(1, 1), 1.0, 1e-15);
}

TEST(LapackQrpKernel, EveryParametrisedPointSolvesTheSystem) {
    std::mt19937_64 rng(5489);
    // Three equations in five unknowns, the third the sum of the first two (rank 2).
    ZoTMatrix<double> a = randomMatrix(3, 5, rng);
    for (int c = 0; c < 5; ++c)
        a(2, c) = a(0, c) + a(1, c);
    const ZoTMatrix<double> original(a);
    ZoTVector<double> b = vectorOf({1.0, -2.0, -1.0});
    ZoCPMatrix p(5);
    for (int j = 0; j < 5; ++j)
        p.order[j] = 0;
    const ZoTMatrix<double> k = lapack::qrp_kernel(a, b, p);
    ASSERT_EQ(k.rows, 5);
    ASSERT_EQ(k.cols, 4);  // rank 2: three free variables
    std::uniform_real_distribution<double> uniform(-3.0, 3.0);
    for (int trial = 0; trial < 5; ++trial) {
        ZoTVector<double> x = k.Column(0);
        for (int j = 1; j < k.cols; ++j)
            x = x + k.Column(j) * uniform(rng);
        const ZoTVector<double> ax = original * x;
        for (int i = 0; i < 3; ++i)
            EXPECT_NEAR(ax[i], b[i], 1e-12) << "trial " << trial;
    }
}

TEST(LapackQrpKernel, FailedFactorisationGivesEmptyMatrix) {
    ZoTMatrix<double> a(2, 3);
    ZoTVector<double> b(2);
    ZoCPMatrix wrong(2);
    const ZoTMatrix<double> k = lapack::qrp_kernel(a, b, wrong);
    EXPECT_EQ(k.rows, 0);
    EXPECT_EQ(k.cols, 0);
}

TEST(LapackCholesky, FactorOfOneByOneAndProductOfFactors) {
    ZoTMatrix<double> four = fromRows({{4}});
    ASSERT_TRUE(cholesky(four));
    EXPECT_EQ(four(0, 0), 2.0);

    const ZoTMatrix<double> spd = fromRows({{4, 2, 0.4}, {2, 5, 1}, {0.4, 1, 3}});
    ZoTMatrix<double> u(spd);
    ASSERT_TRUE(cholesky(u));
    for (int c = 0; c < 3; ++c)
        for (int r = c + 1; r < 3; ++r)
            EXPECT_EQ(u(r, c), 0.0);
    expectMatrixNear(transposed(u) * u, spd, 1e-14);
}

TEST(LapackCholesky, RejectsIndefiniteNonSquareAndEmpty) {
    ZoTMatrix<double> indefinite = fromRows({{1, 2}, {2, 1}});
    EXPECT_FALSE(cholesky(indefinite));
    ZoTMatrix<double> rectangular(2, 3);
    EXPECT_FALSE(cholesky(rectangular));
    ZoTMatrix<double> empty;
    EXPECT_FALSE(cholesky(empty));
}

TEST(LapackCholesky, InverseFromFactorMatchesLuInverse) {
    const ZoTMatrix<double> spd = fromRows({{4, 2, 0.4}, {2, 5, 1}, {0.4, 1, 3}});
    ZoTMatrix<double> u(spd);
    ASSERT_TRUE(cholesky(u));
    ZoTMatrix<double> inverse;
    choleskyInverse(u, inverse);
    ZoTMatrix<double> luInverse(spd);
    ASSERT_TRUE(luInverse.Invert());
    expectMatrixNear(inverse, luInverse, 1e-14);
    ZoTMatrix<double> empty, emptyInverse(2);
    choleskyInverse(empty, emptyInverse);
    EXPECT_EQ(emptyInverse.rows, 0);
}
