// Simplex over A x <= b, x >= 0, against closed-form cases and brute-force vertex enumeration.
#include "NumericsTestSupport.h"
#include "ZoCLinearProgram.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>
#include <stdexcept>
#include <vector>

using namespace testsupport;
using Ints = std::vector<std::vector<long long>>;
using Row = std::vector<long long>;

namespace {

// Fraction-free elimination (Bareiss): every intermediate is a minor, so the division is exact.
long long determinant(Ints m) {
    const size_t n = m.size();
    long long sign = 1, previous = 1;
    for (size_t p = 0; p + 1 < n; ++p) {
        for (size_t r = p + 1; m[p][p] == 0 && r < n; ++r)
            if (m[r][p] != 0) {
                std::swap(m[p], m[r]);
                sign = -sign;
            }
        if (m[p][p] == 0)
            return 0;
        for (size_t i = p + 1; i < n; ++i)
            for (size_t j = p + 1; j < n; ++j)
                m[i][j] = (m[i][j] * m[p][p] - m[i][p] * m[p][j]) / previous;
        previous = m[p][p];
    }
    return sign * m[n - 1][n - 1];
}

// The largest c.x over the vertices of {x : rows x <= rhs} (rows that include x >= 0), each the point
// where k independent rows are tight, by Cramer's rule in integers; -inf when there is none. With
// x >= 0 the polyhedron has a vertex whenever it is not empty.
double bestVertex(const Ints& rows, const Row& rhs, const Row& c) {
    const int total = static_cast<int>(rows.size()), k = static_cast<int>(c.size());
    double best = -std::numeric_limits<double>::infinity();
    for (int mask = 0; mask < (1 << total); ++mask) {
        if (__builtin_popcount(static_cast<unsigned>(mask)) != k)
            continue;
        Ints m;
        Row tight, num(k);
        for (int i = 0; i < total; ++i)
            if (mask & (1 << i)) {
                m.push_back(rows[i]);
                tight.push_back(rhs[i]);
            }
        const long long den = determinant(m);
        for (int j = 0; j < k && den != 0; ++j) {
            Ints mj = m;
            for (int t = 0; t < k; ++t)
                mj[t][j] = tight[t];
            num[j] = determinant(mj);
        }
        bool inside = den != 0;
        for (int i = 0; i < total && inside; ++i) {
            long long ax = 0;
            for (int j = 0; j < k; ++j)
                ax += rows[i][j] * num[j];
            inside = den > 0 ? ax <= rhs[i] * den : ax >= rhs[i] * den;
        }
        long long gain = 0;
        for (int j = 0; j < k; ++j)
            gain += c[j] * num[j];
        if (inside)
            best = std::max(best, static_cast<double>(gain) / static_cast<double>(den));
    }
    return best;
}

}  // namespace

TEST(ZoCLinearProgram, ClosedFormProgrammes) {
    struct {
        std::vector<std::vector<double>> a;
        std::vector<double> b, c;
        int status;
        std::vector<double> x;
    } cases[] = {
        {{{1}}, {3}, {1}, ZoCLinearProgram::eOptimal, {3}},
        {{{-1}}, {-1}, {1}, ZoCLinearProgram::eUnbounded, {}},
        {{{1}}, {-1}, {1}, ZoCLinearProgram::eInfeasible, {}},
        // maximise 3x + 5y, x <= 4, 2y <= 12, 3x + 2y <= 18: (2, 6).
        {{{1, 0}, {0, 2}, {3, 2}}, {4, 12, 18}, {3, 5}, ZoCLinearProgram::eOptimal, {2, 6}},
        // the origin is infeasible (x + y >= 2): minimise x + 2y gives (2, 0).
        {{{-1, -1}, {1, 0}, {0, 1}}, {-2, 3, 3}, {-1, -2}, ZoCLinearProgram::eOptimal, {2, 0}},
        // a redundant row pair (x = y written twice) keeps the initialisation's variable basic.
        {{{1, -1}, {-1, 1}, {1, -1}, {0, 1}}, {0, 0, 0, 2}, {1, 1}, ZoCLinearProgram::eOptimal, {2, 2}},
        // degenerate at the origin, unbounded along x3 (its column is <= 0, its gain 1): ties broken by
        // the smallest basic index keep the simplex from cycling there until its pivot limit.
        {{{-1, 1, -1, -1, 2, -2}, {-3, -2, 1, -3, 2, -3}, {0, 1, 0, -3, -2, -1}, {2, 0, 3, -1, -3, -2}},
         {0, 0, 0, 0},
         {-3, -2, 2, 1, 1, 2},
         ZoCLinearProgram::eUnbounded,
         {}},
    };
    for (const auto& test : cases) {
        ZoCLinearProgram lp(fromRows(test.a), vectorOf(test.b), vectorOf(test.c));
        EXPECT_EQ(lp.GetStatus(), ZoCLinearProgram::eNotSolved);
        EXPECT_EQ(lp.Solve(), test.status != ZoCLinearProgram::eInfeasible);
        EXPECT_EQ(lp.GetStatus(), test.status);
        if (!test.x.empty()) {
            EXPECT_LT((lp.GetSolution() - vectorOf(test.x)).MaxAbs(), 1e-12);
        }
    }
}

// Max c.x over A x <= b, x >= 0 is infeasible when it has no vertex, unbounded when its dual
// (min b.y over A^T y >= c, y >= 0) has none, and otherwise has the best vertex's value.
TEST(ZoCLinearProgram, AgreesWithVertexEnumerationOnRandomIntegerProgrammes) {
    std::mt19937_64 rng(20261206);
    std::uniform_int_distribution<int> coefficient(-3, 3), rightSide(-4, 6), sizes(0, 5);
    int counts[4] = {0, 0, 0, 0};  // by status + 1
    for (int trial = 0; trial < 4000; ++trial) {
        const int k = 2 + sizes(rng) % 3, q = 1 + sizes(rng) % 4;
        Ints primal(q + k, Row(k)), dual(k + q, Row(q));
        Row b(q), c(k), primalRhs(q + k), dualRhs(k + q);
        Mat a(q, k);
        for (int i = 0; i < q; ++i) {
            for (int j = 0; j < k; ++j)
                a(i, j) = static_cast<double>(primal[i][j] = coefficient(rng));
            primalRhs[i] = b[i] = rightSide(rng);
            dual[k + i][i] = -1;
        }
        for (int j = 0; j < k; ++j) {
            primal[q + j][j] = -1;
            dualRhs[j] = -(c[j] = coefficient(rng));
            for (int i = 0; i < q; ++i)
                dual[j][i] = -primal[i][j];
        }
        const double best = bestVertex(primal, primalRhs, c);
        const int expected = std::isinf(best)                           ? ZoCLinearProgram::eInfeasible
                             : std::isinf(bestVertex(dual, dualRhs, b)) ? ZoCLinearProgram::eUnbounded
                                                                        : ZoCLinearProgram::eOptimal;
        ++counts[expected + 1];
        ZoCLinearProgram lp(a, vectorOf(std::vector<double>(b.begin(), b.end())),
                            vectorOf(std::vector<double>(c.begin(), c.end())));
        ASSERT_EQ(lp.Solve(), expected != ZoCLinearProgram::eInfeasible) << "trial " << trial;
        ASSERT_EQ(lp.GetStatus(), expected) << "trial " << trial;
        if (expected != ZoCLinearProgram::eOptimal)
            continue;
        const Vec x = lp.GetSolution(), ax = a * x;
        for (int i = 0; i < q; ++i)
            EXPECT_LE(ax[i], b[i] + 1e-9) << "trial " << trial;
        for (int j = 0; j < k; ++j)
            EXPECT_GE(x[j], -1e-9) << "trial " << trial;
        EXPECT_NEAR(vectorOf(std::vector<double>(c.begin(), c.end())).Dot(x), best, 1e-9)
            << "trial " << trial;
    }
    // The mix must exercise every outcome.
    EXPECT_GT(std::min({counts[0], counts[2], counts[3]}), 200)
        << counts[0] << " " << counts[2] << " " << counts[3];
}

TEST(ZoCLinearProgram, RefusesShortRightHandSideAndNonFiniteData) {
    EXPECT_THROW(ZoCLinearProgram(fromRows({{1, 0}, {0, 1}}), vectorOf({1}), vectorOf({1, 1})),
                 std::invalid_argument);
    EXPECT_THROW(ZoCLinearProgram(fromRows({{1}}), vectorOf({1}), vectorOf({1, 1})), std::invalid_argument);
    ZoCLinearProgram lp(fromRows({{1, NAN}}), vectorOf({1}), vectorOf({1, 1}));
    EXPECT_FALSE(lp.Solve());
    EXPECT_EQ(lp.GetStatus(), ZoCLinearProgram::eNotSolved);
}
