// Polynomial evaluation, derivative and least-squares fit.
#include "ZoCPolynomial.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

using Reals = std::vector<double>;

// Exact, least-squares and minimum-norm fits; fits without usable samples (none, a missing array, a
// non-finite one, powers that overflow) are invalid; the float form computes as the double one.
TEST(ZoCPolynomial, FitRecoversExactLeastSquaresAndMinimumNormCoefficientsAndRefusesUnusableSamples) {
    const double inf = std::numeric_limits<double>::infinity();
    struct {
        Reals x, y, c;  // c empty: invalid
        size_t degree;
    } cases[] = {
        {{-1, 0.5, 2}, {2, 2.75, 17}, {1, 2, 3}, 2},  // three points on 1 + 2x + 3x^2
        // normal equations [[5, 0, 10], [0, 10, 0], [10, 0, 34]] c = (11, 1, 37)
        {{-2, -1, 0, 1, 2}, {4, 1, 1, 0, 5}, {2.0 / 35, 0.1, 15.0 / 14}, 2},
        {{0, 1}, {1, 3}, {1, 1, 1}, 2},  // c0 = 1, c1 + c2 = 2: shortest c1 = c2 = 1
        {{}, {}, {}, 2},
        {{0, inf, 2}, {1, 2, 3}, {}, 2},
        {{0, 1, 2}, {1, -inf, 3}, {}, 1},
        {{1e300, 1e300, 0, 2}, {1, 2, 3, 4}, {}, 4},
    };
    for (auto& t : cases) {
        const ZoCPolynomial p = ZoCPolynomial::Fit(t.x.size(), t.x.data(), t.y.data(), t.degree);
        ASSERT_EQ(p.GetDegree(), static_cast<int>(t.c.size()) - 1) << t.x.size();
        EXPECT_TRUE(t.c.empty()
                        ? !p && std::isnan(p(1.0))
                        : std::abs(p[0] - t.c[0]) + std::abs(p[1] - t.c[1]) + std::abs(p[2] - t.c[2]) <
                              1e-13);
    }
    Reals& x = cases[1].x;
    std::vector<float> xf(x.begin(), x.end()), yf(cases[1].y.begin(), cases[1].y.end());
    const ZoCPolynomial p = ZoCPolynomial::Fit(5, x.data(), cases[1].y.data(), 2),
                        pf = ZoCPolynomial::Fit(5, xf.data(), yf.data(), 2);
    EXPECT_EQ(Reals({pf[0], pf[1], pf[2]}), Reals({p[0], p[1], p[2]}));
    double* none = nullptr;  // samples missing on one side
    EXPECT_FALSE(ZoCPolynomial::Fit(5, x.data(), none, 2) || ZoCPolynomial::Fit(5, none, x.data(), 2));
}

// 1 + 2x + 3x^2: value 17 at 2, derivative 2 + 6x; a constant's derivative is the zero constant,
// an empty polynomial has none; copies are independent and self-assignment harmless.
TEST(ZoCPolynomial, DerivativeEvaluationAndCopies) {
    ZoCPolynomial p(2), constant(0);
    p[0] = 1, p[1] = 2, p[2] = 3, constant[0] = 7;
    const ZoCPolynomial d = p.GetDerivative(), zero = constant.GetDerivative();
    EXPECT_EQ(Reals({p(2.0), d(1.0), d[0], zero[0]}), Reals({17, 8, 2, 0}));
    EXPECT_EQ(std::vector<int>({d.GetDegree(), zero.GetDegree()}), std::vector<int>({1, 0}));
    EXPECT_FALSE(ZoCPolynomial().GetDerivative());
    ZoCPolynomial copy(p);
    copy[1] = 5;
    ZoCPolynomial& alias = p;
    p = alias;
    EXPECT_EQ(Reals({p(1.0), copy(1.0)}), Reals({6, 9}));
    copy = ZoCPolynomial();
    EXPECT_FALSE(copy);
}
