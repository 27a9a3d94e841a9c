// LAPACK-backed least squares, SVD, pivoted QR with the solution-set parametrisation, Cholesky.
#include "NumericsTestSupport.h"
#include "ZoLapack.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>
#include <vector>

namespace {

using testsupport::fromRows;
using testsupport::maxDifference;
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

}  // namespace

// Properties that hold for every factorisation, on seeded random shapes and entries; a third of
// the matrices carry one NaN or Inf, which every wrapper must refuse before LAPACK sees it
// (reference LAPACK's SVD iteration never returns on them).
TEST(Lapack, RandomSystemsSatisfyTheirFactorisationsAndNonFiniteOnesAreRefused) {
    std::mt19937_64 rng(20261206);
    std::uniform_int_distribution<int> size(1, 6);
    for (int trial = 0; trial < 300; ++trial) {
        const int m = size(rng), n = size(rng);
        ZoTMatrix<double> a = randomMatrix(m, n, rng);
        const bool poisoned = trial % 3 == 0;
        if (poisoned)
            a.data[rng() % static_cast<unsigned>(m * n)] =
                trial % 2 ? std::nan("") : std::numeric_limits<double>::infinity();
        const ZoTMatrix<double> b = randomMatrix(m, 2, rng);

        ZoTMatrix<double> work(a);
        ZoTVector<double> x(n);
        double cond = 0;
        ASSERT_EQ(lapack::lssolve(work, b.Column(0), x, &cond), !poisoned) << trial;
        ZoTMatrix<double> X(n, 2);
        work = a;
        ASSERT_EQ(lapack::lssolve(work, b, X, nullptr), !poisoned) << trial;
        work = a;
        ZoTMatrix<double> u(m), vt(n), q(m), r(m, n);
        ZoTVector<double> s(std::min(m, n));
        ASSERT_EQ(lapack::svd(work, u, s, vt), !poisoned) << trial;
        work = a;
        ZoCPMatrix p(n);
        for (int j = 0; j < n; ++j)
            p.order[j] = 0;  // every column free to pivot
        ASSERT_EQ(lapack::qrp(work, q, r, p), !poisoned) << trial;
        ZoTMatrix<double> g = transposed(a) * a;
        for (int i = 0; i < n; ++i)
            g(i, i) += 1.0;
        ZoTMatrix<double> factor(g);
        ASSERT_EQ(cholesky(factor), !poisoned) << trial;
        if (poisoned)
            continue;
        // Least squares: the residual is orthogonal to the columns, both forms agree.
        const ZoTVector<double> residual = b.Column(0) - a * x;
        for (int c = 0; c < n; ++c)
            EXPECT_NEAR(a.Column(c).Dot(residual), 0.0, 1e-9) << trial;
        work = a;
        ZoTVector<double> x1(n);
        ASSERT_TRUE(lapack::lssolve(work, b.Column(1), x1, nullptr));
        for (int i = 0; i < n; ++i) {
            EXPECT_NEAR(X(i, 0), x[i], 1e-12) << trial;
            EXPECT_NEAR(X(i, 1), x1[i], 1e-12) << trial;
        }
        EXPECT_GE(cond, 1.0);
        // SVD: U diag(s) VT = A with descending s.
        ZoTMatrix<double> sigma(m, n);
        for (int i = 0; i < s.size; ++i) {
            sigma(i, i) = s[i];
            EXPECT_TRUE(i == 0 || s[i - 1] >= s[i]);
        }
        EXPECT_LT(maxDifference(u * sigma * vt, a), 1e-12) << trial;
        // QR: Q orthogonal, R upper triangular, Q R = A P.
        ZoTMatrix<double> permuted(m, n);
        for (int j = 0; j < n; ++j)
            for (int i = 0; i < m; ++i) {
                permuted(i, j) = a(i, p.order[j]);
                EXPECT_TRUE(i <= j || r(i, j) == 0.0);
            }
        EXPECT_LT(maxDifference(transposed(q) * q, ZoTMatrix<double>::Identity(m)), 1e-13) << trial;
        EXPECT_LT(maxDifference(q * r, permuted), 1e-12) << trial;
        // Cholesky: U^T U = G, U upper; its inverse times G is the identity.
        EXPECT_LT(maxDifference(transposed(factor) * factor, g), 1e-12) << trial;
        ZoTMatrix<double> inverse;
        choleskyInverse(factor, inverse);
        EXPECT_LT(maxDifference(inverse * g, ZoTMatrix<double>::Identity(n)), 1e-10) << trial;
    }
}

TEST(LapackLssolve, ClosedFormSystemsAndTheirConditionNumbers) {
    const double inf = std::numeric_limits<double>::infinity();
    struct {
        std::vector<std::vector<double>> a;
        std::vector<double> b, x;
        double condLow, condHigh;
    } cases[] = {
        {{{4, 1, 0}, {1, 3, 1}, {0, 1, 2}}, {2, -2, 4}, {1, -2, 3}, 1.0, 10.0},  // exact, well conditioned
        {{{1, 1}, {1, 1}}, {2, 2}, {1, 1}, 1e15, inf},                           // minimum norm
        {{{0, 0}, {0, 0}}, {1, 2}, {0, 0}, inf, inf},                            // zero matrix: cond infinite
    };
    for (const auto& test : cases) {
        ZoTMatrix<double> a = fromRows(test.a);
        ZoTVector<double> x(a.cols);
        double cond = 0;
        ASSERT_TRUE(lapack::lssolve(a, vectorOf(test.b), x, &cond));
        for (int i = 0; i < x.size; ++i)
            EXPECT_NEAR(x[i], test.x[static_cast<size_t>(i)], 1e-13);
        EXPECT_GE(cond, test.condLow);
        EXPECT_LE(cond, test.condHigh);
    }
}

TEST(Lapack, RefusesWrongShapesEmptySystemsAndNonFiniteRightHandSides) {
    ZoTMatrix<double> a = fromRows({{1, 0}, {0, 1}}), empty, wrongX(3, 2), u(3), vt(2);
    ZoTVector<double> x(2), shortX(1), none, s(2);
    EXPECT_FALSE(lapack::lssolve(a, vectorOf({1, 2, 3}), x, nullptr));
    EXPECT_FALSE(lapack::lssolve(a, vectorOf({1, 2}), shortX, nullptr));
    EXPECT_FALSE(lapack::lssolve(a, vectorOf({1, std::nan("")}), x, nullptr));
    EXPECT_FALSE(lapack::lssolve(empty, none, none, nullptr));
    EXPECT_FALSE(lapack::lssolve(a, fromRows({{1, 2}, {3, 4}}), wrongX, nullptr));
    EXPECT_FALSE(lapack::svd(a, u, s, vt));
    // The 3 x 3 case on which LAPACK itself never returns.
    ZoTMatrix<double> hang = fromRows({{std::nan(""), 1, 0}, {0, 1, 0}, {0, 0, 2}});
    ZoTVector<double> x3(3);
    EXPECT_FALSE(lapack::lssolve(hang, vectorOf({1, 1, 1}), x3, nullptr));
    // Pivoted QR: wrong shapes refused; a fresh permutation keeps the column order.
    ZoTMatrix<double> b = fromRows({{1, 100}, {0, 0}, {0, 1}}), q(3), r(3, 2), wrongQ(2), wrongR(2, 2);
    ZoCPMatrix p(2), wrongP(3);
    EXPECT_FALSE(lapack::qrp(b, wrongQ, r, p) || lapack::qrp(b, q, wrongR, p) ||
                 lapack::qrp(b, q, r, wrongP));
    ASSERT_TRUE(lapack::qrp(b, q, r, p));
    EXPECT_EQ(p.order[0], 0);
    EXPECT_EQ(p.order[1], 1);
    EXPECT_NEAR(std::abs(r(0, 0)), 1.0, 1e-15);
}

TEST(LapackLssolve, SinglePrecisionFormsSolveLikeDouble) {
    ZoTMatrix<float> a(3, 2), a2(2, 2), B(2, 1), X(2, 1), u(2), vt(2);
    a(0, 0) = 1, a(1, 1) = 2, a(2, 0) = 1;
    ZoTVector<float> b(3), x(2), s(2);
    b[0] = 1, b[1] = 4, b[2] = 3;
    ASSERT_TRUE(lapack::lssolve(a, b, x, nullptr));
    EXPECT_NEAR(x[0], 2.0f, 1e-6f);
    EXPECT_NEAR(x[1], 2.0f, 1e-6f);
    a2(0, 0) = 2, a2(1, 1) = 5, B(0, 0) = 4, B(1, 0) = 10;
    ASSERT_TRUE(lapack::lssolve(a2, B, X, nullptr));
    EXPECT_NEAR(X(1, 0), 2.0f, 1e-6f);
    a2 = ZoTMatrix<float>(2, 2);
    a2(0, 0) = -5, a2(1, 1) = 3;
    ASSERT_TRUE(lapack::svd(a2, u, s, vt));
    EXPECT_NEAR(s[0], 5.0f, 1e-6f);
    a2(0, 0) = std::numeric_limits<float>::infinity();
    EXPECT_FALSE(lapack::lssolve(a2, B, X, nullptr));
}

TEST(LapackQrpKernel, ParametrisesEverySolution) {
    ZoTMatrix<double> single = fromRows({{1, 1}});
    ZoTVector<double> two = vectorOf({2});
    ZoCPMatrix fresh(2);
    EXPECT_EQ(maxDifference(lapack::qrp_kernel(single, two, fresh), fromRows({{2, -1}, {0, 1}})), 0.0);
    // Three equations in five unknowns, the third the sum of the first two: rank 2.
    std::mt19937_64 rng(5489);
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
    ASSERT_EQ(k.cols, 4);
    std::uniform_real_distribution<double> uniform(-3.0, 3.0);
    for (int trial = 0; trial < 5; ++trial) {
        ZoTVector<double> x = k.Column(0);
        for (int j = 1; j < k.cols; ++j)
            x = x + k.Column(j) * uniform(rng);
        EXPECT_LT((original * x - b).MaxAbs(), 1e-12) << trial;
    }
    ZoCPMatrix wrong(2);
    EXPECT_EQ(lapack::qrp_kernel(a, b, wrong).rows, 0);
}

extern "C" void dpotrf_(const char*, const int*, double*, const int*, int*, std::size_t);

// LAPACK's own report of an illegal argument must not stop the host: it comes back as INFO.
TEST(Lapack, IllegalArgumentIsReportedNotFatal) {
    ScopedLogCapture capture;
    const int order = -1;
    int info = 0;
    double a = 1.0;
    dpotrf_("U", &order, &a, &order, &info, 1);
    EXPECT_EQ(info, -2);
    const auto lines = testsupport::logLines(capture);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].rfind("(LAPACK) illegal argument 2 in DPOTRF", 0), 0u);
}

TEST(LapackCholesky, FactorOfFourIsTwoAndUnfactorableMatricesAreRefused) {
    ZoTMatrix<double> four = fromRows({{4}});
    ASSERT_TRUE(cholesky(four));
    EXPECT_EQ(four(0, 0), 2.0);
    ZoTMatrix<double> indefinite = fromRows({{1, 2}, {2, 1}}), rectangular(2, 3), empty;
    EXPECT_FALSE(cholesky(indefinite));
    EXPECT_FALSE(cholesky(rectangular));
    EXPECT_FALSE(cholesky(empty));  // LAPACK has no factorisation of order 0
    ZoTMatrix<double> inverse;
    choleskyInverse(fromRows({{std::nan(""), 0}, {0, 1}}), inverse);
    EXPECT_TRUE(std::isnan(inverse(1, 1)));
}
