// LAPACK-backed least squares, SVD, pivoted QR with the solution-set parametrisation, Cholesky.
#include "NumericsTestSupport.h"
#include "ZoLapack.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <string>
#include <vector>

using namespace testsupport;
using Lines = std::vector<std::string>;

namespace {

Mat randomMatrix(int rows, int cols, std::mt19937_64& rng) {
    std::uniform_real_distribution<double> uniform(-1.0, 1.0);
    Mat m(rows, cols);
    for (int i = 0; i < rows * cols; ++i)
        m.data[i] = uniform(rng);
    return m;
}

// A permutation whose every column may pivot.
ZoCPMatrix freePivots(int n) {
    ZoCPMatrix p(n);
    p.order = ZoTVector<int>(n);
    return p;
}

}  // namespace

// Every factorisation's defining properties on seeded random shapes; a third of the matrices carry a NaN
// or Inf, which every wrapper refuses before LAPACK sees it (its SVD iteration never returns on them).
TEST(Lapack, RandomSystemsSatisfyTheirFactorisationsAndNonFiniteOnesAreRefused) {
    std::mt19937_64 rng(20261206);
    std::uniform_int_distribution<int> size(1, 6);
    for (int trial = 0; trial < 300; ++trial) {
        const int m = size(rng), n = size(rng);
        Mat a = randomMatrix(m, n, rng);
        const bool poisoned = trial % 3 == 0;
        if (poisoned)
            a.data[rng() % static_cast<unsigned>(m * n)] = trial % 2 ? NAN : c_dInf;
        const Mat b = randomMatrix(m, 2, rng);
        Mat g = ZoTransposedProduct(a, a);
        for (int i = 0; i < n; ++i)
            g(i, i) += 1.0;
        Mat work(a), X(n, 2), u(m), vt(n), q(m), r(m, n), factor(g), sigma(m, n), permuted(m, n), inverse,
            triangle;
        Vec x(n), s(std::min(m, n));
        double cond = 0;
        ZoCPMatrix p = freePivots(n), p2 = freePivots(n);
        ASSERT_EQ(std::vector<bool>(
                      {lapack::lssolve(work, b.Column(0), x, &cond), lapack::lssolve(work = a, b, X, nullptr),
                       lapack::svd(work = a, u, s, vt), lapack::qrp(work = a, q, r, p), cholesky(factor)}),
                  std::vector<bool>(5, !poisoned))
            << trial;
        if (poisoned)
            continue;
        // Least squares: the residuals are orthogonal to the columns, both forms agree, cond >= 1.
        EXPECT_LT(maxDifference(ZoTransposedProduct(a, b), ZoTransposedProduct(a, a * X)), 1e-9) << trial;
        EXPECT_LT((X.Column(0) - x).MaxAbs(), 1e-12) << trial;
        EXPECT_GE(cond, 1.0);
        // SVD: U diag(s) VT = A with descending s.
        for (int i = 0; i < s.size; ++i)
            sigma(i, i) = s[i];
        EXPECT_TRUE(std::is_sorted(s.data, s.data + s.size, std::greater<>())) << trial;
        EXPECT_LT(maxDifference(u * sigma * vt, a), 1e-12) << trial;
        // QR: Q orthogonal, R upper triangular, Q R = A P.
        for (int j = 0; j < n; ++j)
            for (int i = 0; i < m; ++i) {
                permuted(i, j) = a(i, p.order[j]);
                EXPECT_TRUE(i <= j || r(i, j) == 0.0);
            }
        EXPECT_LT(maxDifference(ZoTransposedProduct(q, q), Mat::Identity(m)), 1e-13) << trial;
        EXPECT_LT(maxDifference(q * r, permuted), 1e-12) << trial;
        // The triangle alone is qrp's to the bit, for tall matrices; wide ones are refused.
        ASSERT_EQ(lapack::qrpTriangle(work = a, triangle, p2), m >= n) << trial;
        EXPECT_TRUE(m < n || (maxDifference(triangle, r) == 0.0 && values(p.order) == values(p2.order)))
            << trial;
        // Cholesky: U^T U = G; its inverse times G is the identity.
        EXPECT_LT(maxDifference(ZoTransposedProduct(factor, factor), g), 1e-12) << trial;
        choleskyInverse(factor, inverse);
        EXPECT_LT(maxDifference(inverse * g, Mat::Identity(n)), 1e-10) << trial;
    }
}

// Minimum-norm solutions of singular systems (the zero matrix infinitely ill-conditioned); single precision.
TEST(LapackLssolve, ClosedFormSystemsAndTheirConditionNumbers) {
    Mat ones = fromRows({{1, 1}, {1, 1}}), zero(2, 2);
    Vec x(2), y(2);
    double cond = 0, zeroCond = 0;
    ASSERT_TRUE(lapack::lssolve(ones, vectorOf({2, 2}), x, &cond) &&
                lapack::lssolve(zero, vectorOf({1, 2}), y, &zeroCond));
    EXPECT_LT((x - vectorOf({1, 1})).MaxAbs() + y.MaxAbs(), 1e-13);
    EXPECT_TRUE(cond >= 1e15 && zeroCond == c_dInf) << cond;
    ZoTMatrix<float> a(2, 2), B(2, 1), X(2, 1), u(2), vt(2);
    ZoTVector<float> b(2), xf(2), s(2);
    a(0, 0) = 2, a(1, 1) = -5, b[0] = B(0, 0) = 4, b[1] = B(1, 0) = 10;  // x = (2, -2); singular values 5, 2
    ZoTMatrix<float> a2(a), a3(a);
    ASSERT_TRUE(lapack::lssolve(a, b, xf, nullptr) && lapack::lssolve(a2, B, X, nullptr) &&
                lapack::svd(a3, u, s, vt));
    EXPECT_LT(std::abs(xf[0] - 2) + std::abs(xf[1] + 2) + std::abs(X(1, 0) + 2) + std::abs(s[0] - 5), 1e-5f);
}

extern "C" void dpotrf_(const char*, const int*, double*, const int*, int*, std::size_t);

// Wrong shapes, empty systems, NaN right-hand sides (also the 3 x 3 case on which LAPACK never returns)
// and what Cholesky cannot factor are refused; a fresh permutation keeps the column order; LAPACK's own
// report of an illegal argument does not stop the host: it comes back as INFO, logged.
TEST(Lapack, RefusesWrongShapesEmptySystemsAndNonFiniteRightHandSides) {
    Mat a = fromRows({{1, 0}, {0, 1}}), empty, wrongX(3, 2), u(3), vt(2), inverse, q(3), r(3, 2), wrongQ(2),
        wrongR(2, 2), rectangular(2, 3), indefinite = fromRows({{1, 2}, {2, 1}}), u2(2), wideVT(2, 3);
    Mat hang = fromRows({{NAN, 1, 0}, {0, 1, 0}, {0, 0, 2}}), b = fromRows({{1, 100}, {0, 0}, {0, 1}});
    Vec x(2), shortX(1), none, s(2), x3(3);
    ZoCPMatrix p(2), wrongP(3);
    EXPECT_FALSE(
        lapack::lssolve(a, vectorOf({1, 2, 3}), x, nullptr) ||
        lapack::lssolve(a, vectorOf({1, 2}), shortX, nullptr) ||
        lapack::lssolve(a, vectorOf({1, NAN}), x, nullptr) || lapack::lssolve(empty, none, none, nullptr) ||
        lapack::lssolve(a, fromRows({{1, 2}, {3, 4}}), wrongX, nullptr) || lapack::svd(a, u, s, vt) ||
        lapack::svd(a, u2, s, wideVT) || lapack::lssolve(hang, vectorOf({1, 1, 1}), x3, nullptr));
    EXPECT_FALSE(lapack::qrp(b, wrongQ, r, p) || lapack::qrp(b, q, wrongR, p) ||
                 lapack::qrp(b, q, r, wrongP));
    EXPECT_FALSE(cholesky(indefinite) || cholesky(rectangular) || cholesky(empty));
    ASSERT_TRUE(lapack::qrp(b, q, r, p));
    EXPECT_EQ(values(p.order), (std::vector<int>{0, 1}));
    choleskyInverse(fromRows({{NAN, 0}, {0, 1}}), inverse);
    EXPECT_TRUE(std::isnan(inverse(1, 1)));
    ScopedLogCapture capture;
    int order = -1, info = 0;
    double one = 1.0;
    dpotrf_("U", &order, &one, &order, &info, 1);
    EXPECT_EQ(info, -2);
    EXPECT_EQ(logLines(capture), Lines{"(LAPACK) illegal argument 2 in DPOTRF\n"});
}

// A K = [b | 0]: a particular solution, then kernel directions; a wrongly sized permutation gives none.
TEST(LapackQrpKernel, ParametrisesEverySolution) {
    Mat single = fromRows({{1, 1}});
    Vec two = vectorOf({2}), b = vectorOf({1.0, -2.0, -1.0});
    ZoCPMatrix fresh(2), wrong(2);
    EXPECT_EQ(maxDifference(lapack::qrp_kernel(single, two, fresh), fromRows({{2, -1}, {0, 1}})), 0.0);
    // Three equations in five unknowns, the third the sum of the first two: rank 2.
    std::mt19937_64 rng(5489);
    Mat a = randomMatrix(3, 5, rng);
    for (int c = 0; c < 5; ++c)
        a(2, c) = a(0, c) + a(1, c);
    const Mat original(a);
    ZoCPMatrix p = freePivots(5);
    const Mat k = lapack::qrp_kernel(a, b, p);
    ASSERT_EQ(std::vector<int>({k.rows, k.cols}), std::vector<int>({5, 4}));
    EXPECT_LT(maxDifference(original * k, fromRows({{1, 0, 0, 0}, {-2, 0, 0, 0}, {-1, 0, 0, 0}})), 1e-12);
    EXPECT_EQ(lapack::qrp_kernel(a, b, wrong).rows, 0);
}
