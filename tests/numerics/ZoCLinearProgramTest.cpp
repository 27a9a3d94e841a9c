// Simplex over A x <= b, x >= 0, against closed-form cases and brute-force vertex enumeration.
#include "NumericsTestSupport.h"
#include "ZoCLinearProgram.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <numeric>
#include <random>
#include <stdexcept>
#include <vector>

using namespace testsupport;
using testing::Each, testing::Ge;
using LP = ZoCLinearProgram;
using Ints = std::vector<std::vector<long long>>;
using Row = std::vector<long long>;

namespace {

// Laplace expansion along row r over the columns not yet used: exact in integers, without copies.
long long determinant(const Ints& m, size_t r = 0, unsigned used = 0) {
    long long sum = r == m.size(), sign = 1;
    for (size_t j = 0; r < m.size() && j < m.size(); ++j)
        if (!(used >> j & 1)) {
            sum += sign * m[r][j] * determinant(m, r + 1, used | 1u << j);
            sign = -sign;
        }
    return sum;
}

// The largest c.x over the vertices of {x : rows x <= rhs} (rows including x >= 0, so a vertex exists
// when it is not empty), each where k independent rows are tight, by Cramer's rule; -inf when none.
double bestVertex(const Ints& rows, const Row& rhs, const Row& c) {
    const int total = static_cast<int>(rows.size()), k = static_cast<int>(c.size());
    double best = -std::numeric_limits<double>::infinity();
    for (int mask = 0; mask < (1 << total); ++mask) {
        if (__builtin_popcount(static_cast<unsigned>(mask)) != k)
            continue;
        Ints m;
        Row tight, num(k);
        for (int i = 0; i < total; ++i)
            if (mask & (1 << i))
                m.push_back(rows[i]), tight.push_back(rhs[i]);
        const long long den = determinant(m);
        for (int j = 0; j < k && den != 0; ++j) {
            Ints mj = m;
            for (int t = 0; t < k; ++t)
                mj[t][j] = tight[t];
            num[j] = determinant(mj);
        }
        bool inside = den != 0;
        for (int i = 0; i < total && inside; ++i)
            inside =
                den * (std::inner_product(num.begin(), num.end(), rows[i].begin(), 0LL) - rhs[i] * den) <= 0;
        if (inside)
            best = std::max(best, std::inner_product(num.begin(), num.end(), c.begin(), 0LL) / double(den));
    }
    return best;
}

}  // namespace

// A redundant row pair and a cycling-prone degenerate programme; a short b or c throws, non-finite data
// leave the programme unsolved.
TEST(ZoCLinearProgram, ClosedFormProgrammesAndRefusals) {
    struct {
        Rows a;
        Reals b, c, x;
        int status;
    } cases[] = {
        {{{1, NAN}}, {1}, {1, 1}, {}, LP::eNotSolved},
        // a redundant row pair (x = y written twice) keeps the initialisation's variable basic.
        {{{1, -1}, {-1, 1}, {1, -1}, {0, 1}}, {0, 0, 0, 2}, {1, 1}, {2, 2}, LP::eOptimal},
        // degenerate at the origin, unbounded along x3 (its column is <= 0, its gain 1): ties broken by
        // the smallest basic index keep the simplex from cycling there until its pivot limit.
        {{{-1, 1, -1, -1, 2, -2}, {-3, -2, 1, -3, 2, -3}, {0, 1, 0, -3, -2, -1}, {2, 0, 3, -1, -3, -2}},
         {0, 0, 0, 0},
         {-3, -2, 2, 1, 1, 2},
         {},
         LP::eUnbounded},
    };
    for (const auto& t : cases) {
        LP lp(fromRows(t.a), vectorOf(t.b), vectorOf(t.c));
        EXPECT_EQ(lp.Solve(), t.status == LP::eOptimal || t.status == LP::eUnbounded);
        EXPECT_EQ(lp.GetStatus(), t.status);
        EXPECT_TRUE(t.x.empty() || (lp.GetSolution() - vectorOf(t.x)).MaxAbs() < 1e-12);
    }
    EXPECT_THROW(LP(fromRows({{1, 0}, {0, 1}}), vectorOf({1}), vectorOf({1, 1})), std::invalid_argument);
    EXPECT_THROW(LP(fromRows({{1}}), vectorOf({1}), vectorOf({1, 1})), std::invalid_argument);
}

// Max c.x over A x <= b, x >= 0 is infeasible when it has no vertex, unbounded when its dual
// (min b.y over A^T y >= c, y >= 0) has none, and otherwise has the best vertex's value.
TEST(ZoCLinearProgram, AgreesWithVertexEnumerationOnRandomIntegerProgrammes) {
    std::mt19937_64 rng(20261206);
    std::uniform_int_distribution<int> coefficient(-3, 3), rightSide(-4, 6), sizes(0, 5);
    int counts[4] = {0, 0, 0, 0};  // by status + 1
    for (int trial = 0; trial < 4000; ++trial) {
        const int k = 2 + sizes(rng) % 3, q = 1 + sizes(rng) % 4;
        Ints primal(q + k, Row(k)), dual(k + q, Row(q));  // A x <= b, -x <= 0; -A^T y <= -c, -y <= 0
        Row c(k), primalRhs(q + k), dualRhs(k + q);
        Mat a(q, k);
        for (int i = 0; i < q; ++i) {
            for (int j = 0; j < k; ++j)
                a(i, j) = static_cast<double>(primal[i][j] = coefficient(rng));
            primalRhs[i] = rightSide(rng);
            dual[k + i][i] = -1;
        }
        for (int j = 0; j < k; ++j) {
            primal[q + j][j] = -1;
            dualRhs[j] = -(c[j] = coefficient(rng));
            for (int i = 0; i < q; ++i)
                dual[j][i] = -primal[i][j];
        }
        const Row b(primalRhs.begin(), primalRhs.begin() + q);
        const Vec bv = vectorOf(Reals(b.begin(), b.end())), cv = vectorOf(Reals(c.begin(), c.end()));
        const double best = bestVertex(primal, primalRhs, c);
        const int expected = std::isinf(best)                           ? LP::eInfeasible
                             : std::isinf(bestVertex(dual, dualRhs, b)) ? LP::eUnbounded
                                                                        : LP::eOptimal;
        ++counts[expected + 1];
        SCOPED_TRACE(trial);
        LP lp(a, bv, cv);
        ASSERT_EQ(lp.Solve(), expected != LP::eInfeasible);
        ASSERT_EQ(lp.GetStatus(), expected);
        if (expected != LP::eOptimal)
            continue;
        const Vec x = lp.GetSolution();
        EXPECT_THAT(values(x), Each(Ge(-1e-9)));
        EXPECT_THAT(values(bv - a * x), Each(Ge(-1e-9)));
        EXPECT_NEAR(cv.Dot(x), best, 1e-9);
    }
    EXPECT_GT(std::min({counts[0], counts[2], counts[3]}), 200);  // every outcome exercised
}
