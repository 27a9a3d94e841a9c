// Polynomial evaluation, derivative and least-squares fit.
#include "ZoCPolynomial.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>
#include <vector>

using Reals = std::vector<double>;

// Exact and minimum-norm fits; fits without usable samples (none, a missing array, a non-finite one,
// powers that overflow) are invalid; on noisy samples the residual is orthogonal to 1, x and x^2 and
// the float form agrees with the double one.
TEST(ZoCPolynomial, FitRecoversExactAndMinimumNormCoefficientsAndRefusesUnusableSamples) {
    const double inf = std::numeric_limits<double>::infinity();
    struct {
        Reals x, y;
        size_t degree;
        Reals c;  // empty: invalid
    } cases[] = {
        {{-1, 0.5, 2}, {2, 2.75, 17}, 2, {1, 2, 3}},  // three points on 1 + 2x + 3x^2
        {{0, 1}, {1, 3}, 2, {1, 1, 1}},               // c0 = 1, c1 + c2 = 2: shortest c1 = c2 = 1
        {{}, {}, 2, {}},
        {{0, NAN, 2}, {1, 2, 3}, 2, {}},
        {{0, inf, 2}, {1, 2, 3}, 2, {}},
        {{0, 1, 2}, {1, -inf, 3}, 1, {}},
        {{1e300, 1e300, 0, 2}, {1, 2, 3, 4}, 4, {}},
    };
    for (auto& t : cases) {
        const ZoCPolynomial p = ZoCPolynomial::Fit(t.x.size(), t.x.data(), t.y.data(), t.degree);
        ASSERT_EQ(p.GetDegree(), static_cast<int>(t.c.size()) - 1) << t.x.size();
        EXPECT_TRUE(t.c.empty()
                        ? !p && std::isnan(p(1.0))
                        : std::abs(p[0] - t.c[0]) + std::abs(p[1] - t.c[1]) + std::abs(p[2] - t.c[2]) <
                              1e-13);
    }
    std::mt19937_64 rng(47110518);
    std::normal_distribution<double> noise(0.0, 0.1);
    Reals x(40), y(40);
    std::vector<float> xf(40), yf(40);
    for (int i = 0; i < 40; ++i) {
        xf[i] = static_cast<float>(x[i] = -2 + 0.125 * i);
        yf[i] = static_cast<float>(y[i] = static_cast<float>(0.5 - x[i] + 0.25 * x[i] * x[i] + noise(rng)));
    }
    double* none = nullptr;  // samples missing on one side
    EXPECT_FALSE(ZoCPolynomial::Fit(40, x.data(), none, 2) || ZoCPolynomial::Fit(40, none, y.data(), 2));
    const ZoCPolynomial p = ZoCPolynomial::Fit(40, x.data(), y.data(), 2),
                        pf = ZoCPolynomial::Fit(40, xf.data(), yf.data(), 2);
    for (size_t k = 0; k <= 2; ++k) {
        double dot = 0;
        for (int i = 0; i < 40; ++i)
            dot += std::pow(x[i], k) * (y[i] - p(x[i]));
        EXPECT_NEAR(dot, 0.0, 1e-11) << "power " << k;
        EXPECT_EQ(pf[k], p[k]);
    }
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
