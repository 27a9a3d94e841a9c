// Simplex over A x <= b, x >= 0, against closed-form cases and brute-force vertex enumeration.
#include "NumericsTestSupport.h"
#include "ZoCLinearProgram.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>
#include <stdexcept>
#include <vector>

namespace {

using testsupport::fromRows;
using testsupport::vectorOf;
using Ints = std::vector<std::vector<long long>>;

long long determinant(const Ints& m) {
    const size_t n = m.size();
    if (n == 1)
        return m[0][0];
    long long sum = 0;
    for (size_t c = 0; c < n; ++c) {
        Ints minor;
        for (size_t r = 1; r < n; ++r) {
            minor.emplace_back(m[r].begin(), m[r].end());
            minor.back().erase(minor.back().begin() + static_cast<long>(c));
        }
        sum += (c % 2 ? -1 : 1) * m[0][c] * determinant(minor);
    }
    return sum;
}

// The programme's rows A x <= b followed by -x_j <= 0, all integer.
struct NSIntegerProgramme {
    Ints rows;
    std::vector<long long> rhs, cost;
    int k = 0;
};

enum class NSOutcome { eInfeasible, eUnbounded, eOptimal };

// Exact enumeration: vertices are the points where k of the halfspaces are tight (Cramer's rule
// in integers), extreme rays of the recession cone the directions where k - 1 homogeneous ones
// are (generalised cross product). With x >= 0 the polyhedron has a vertex whenever it is
// nonempty, and it is unbounded in c exactly when an extreme ray gains.
NSOutcome bruteForce(const NSIntegerProgramme& p, double& best) {
    const int total = static_cast<int>(p.rows.size()), k = p.k;
    bool feasible = false, unbounded = false;
    best = -std::numeric_limits<double>::infinity();
    for (int mask = 0; mask < (1 << total); ++mask) {
        const int tight = __builtin_popcount(static_cast<unsigned>(mask));
        if (tight != k && tight != k - 1)
            continue;
        Ints m;
        std::vector<long long> rhs;
        for (int i = 0; i < total; ++i)
            if (mask & (1 << i)) {
                m.push_back(p.rows[i]);
                rhs.push_back(p.rhs[i]);
            }
        std::vector<long long> num(k);
        long long den = 1;
        if (tight == k) {  // vertex v = num / den
            den = determinant(m);
            if (den == 0)
                continue;
            for (int j = 0; j < k; ++j) {
                Ints mj = m;
                for (int r = 0; r < k; ++r)
                    mj[r][j] = rhs[r];
                num[j] = determinant(mj);
            }
        } else {  // ray direction orthogonal to the k - 1 tight rows
            for (int j = 0; j < k; ++j) {
                Ints mj = m;
                for (auto& row : mj)
                    row.erase(row.begin() + j);
                num[j] = (j % 2 ? -1 : 1) * (k == 1 ? 1 : determinant(mj));
            }
        }
        for (int sign : {1, -1}) {
            if (tight == k && sign < 0)
                break;
            bool inside =
                std::any_of(num.begin(), num.end(), [](long long v) { return v != 0; }) || tight == k;
            for (int i = 0; i < total && inside; ++i) {
                long long ax = 0;
                for (int j = 0; j < k; ++j)
                    ax += p.rows[i][j] * num[j] * sign;
                inside = tight == k ? (den > 0 ? ax <= p.rhs[i] * den : ax >= p.rhs[i] * den) : ax <= 0;
            }
            long long gain = 0;
            for (int j = 0; j < k; ++j)
                gain += p.cost[j] * num[j] * sign;
            if (inside && tight == k) {
                feasible = true;
                best = std::max(best, static_cast<double>(gain) / static_cast<double>(den));
            }
            if (inside && tight == k - 1 && gain > 0)
                unbounded = true;
        }
    }
    if (!feasible)
        return NSOutcome::eInfeasible;
    return unbounded ? NSOutcome::eUnbounded : NSOutcome::eOptimal;
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
    };
    for (const auto& test : cases) {
        ZoCLinearProgram lp(fromRows(test.a), vectorOf(test.b), vectorOf(test.c));
        EXPECT_EQ(lp.GetStatus(), ZoCLinearProgram::eNotSolved);
        EXPECT_EQ(lp.Solve(), test.status != ZoCLinearProgram::eInfeasible);
        EXPECT_EQ(lp.GetStatus(), test.status);
        for (size_t j = 0; j < test.x.size(); ++j)
            EXPECT_NEAR(lp.GetSolution()[static_cast<int>(j)], test.x[j], 1e-12);
    }
}

TEST(ZoCLinearProgram, AgreesWithVertexEnumerationOnRandomIntegerProgrammes) {
    std::mt19937_64 rng(20261206);
    std::uniform_int_distribution<int> coefficient(-3, 3), rightSide(-4, 6), sizes(0, 5);
    int counts[3] = {0, 0, 0};
    for (int trial = 0; trial < 4000; ++trial) {
        NSIntegerProgramme p;
        p.k = 2 + sizes(rng) % 3;
        const int q = 1 + sizes(rng) % 4;
        ZoTMatrix<double> a(q, p.k);
        ZoTVector<double> b(q), c(p.k);
        for (int i = 0; i < q; ++i) {
            p.rows.emplace_back(p.k);
            for (int j = 0; j < p.k; ++j)
                a(i, j) = static_cast<double>(p.rows[i][j] = coefficient(rng));
            b[i] = static_cast<double>(rightSide(rng));
            p.rhs.push_back(static_cast<long long>(b[i]));
        }
        for (int j = 0; j < p.k; ++j) {
            p.rows.emplace_back(p.k, 0);
            p.rows.back()[j] = -1;
            p.rhs.push_back(0);
            p.cost.push_back(coefficient(rng));
            c[j] = static_cast<double>(p.cost[j]);
        }
        double best = 0;
        const NSOutcome expected = bruteForce(p, best);
        ++counts[static_cast<int>(expected)];
        ZoCLinearProgram lp(a, b, c);
        const int c_status[] = {ZoCLinearProgram::eInfeasible, ZoCLinearProgram::eUnbounded,
                                ZoCLinearProgram::eOptimal};
        ASSERT_EQ(lp.Solve(), expected != NSOutcome::eInfeasible) << "trial " << trial;
        ASSERT_EQ(lp.GetStatus(), c_status[static_cast<int>(expected)]) << "trial " << trial;
        if (expected != NSOutcome::eOptimal)
            continue;
        const ZoTVector<double> x = lp.GetSolution(), ax = a * x;
        for (int i = 0; i < q; ++i)
            EXPECT_LE(ax[i], b[i] + 1e-9) << "trial " << trial;
        for (int j = 0; j < p.k; ++j)
            EXPECT_GE(x[j], -1e-9) << "trial " << trial;
        EXPECT_NEAR(c.Dot(x), best, 1e-9) << "trial " << trial;
    }
    // The mix must exercise every outcome.
    EXPECT_GT(std::min({counts[0], counts[1], counts[2]}), 200)
        << counts[0] << " " << counts[1] << " " << counts[2];
}

TEST(ZoCLinearProgram, RefusesShortRightHandSideAndNonFiniteData) {
    EXPECT_THROW(ZoCLinearProgram(fromRows({{1, 0}, {0, 1}}), vectorOf({1}), vectorOf({1, 1})),
                 std::invalid_argument);
    EXPECT_THROW(ZoCLinearProgram(fromRows({{1}}), vectorOf({1}), vectorOf({1, 1})), std::invalid_argument);
    const double nan = std::nan("");
    ZoCLinearProgram lp(fromRows({{1, nan}}), vectorOf({1}), vectorOf({1, 1}));
    EXPECT_FALSE(lp.Solve());
    EXPECT_EQ(lp.GetStatus(), ZoCLinearProgram::eNotSolved);
}
