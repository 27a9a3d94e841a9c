// Polynomial evaluation, derivative and least-squares fit.
#include "ZoCPolynomial.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>
#include <vector>

TEST(ZoCPolynomial, FitRecoversExactAndMinimumNormCoefficients) {
    struct {
        std::vector<double> x, y, c;
    } cases[] = {
        {{-1, 0.5, 2}, {2, 2.75, 17}, {1, 2, 3}},  // three points on 1 + 2x + 3x^2
        {{0, 1}, {1, 3}, {1, 1, 1}},               // c0 = 1, c1 + c2 = 2: shortest c1 = c2 = 1
    };
    for (auto& test : cases) {
        const ZoCPolynomial p = ZoCPolynomial::Fit(test.x.size(), test.x.data(), test.y.data(), 2);
        ASSERT_EQ(p.GetDegree(), 2);
        for (size_t k = 0; k < 3; ++k)
            EXPECT_NEAR(p[k], test.c[k], 1e-13);
    }
    // Noisy samples: the residual is orthogonal to 1, x and x^2, and the float form agrees.
    std::mt19937_64 rng(47110518);
    std::normal_distribution<double> noise(0.0, 0.1);
    std::vector<double> x(40), y(40);
    std::vector<float> xf(40), yf(40);
    for (int i = 0; i < 40; ++i) {
        xf[i] = static_cast<float>(x[i] = -2 + 0.125 * i);
        yf[i] = static_cast<float>(y[i] = static_cast<float>(0.5 - x[i] + 0.25 * x[i] * x[i] + noise(rng)));
    }
    const ZoCPolynomial p = ZoCPolynomial::Fit(40, x.data(), y.data(), 2);
    const ZoCPolynomial pf = ZoCPolynomial::Fit(40, xf.data(), yf.data(), 2);
    for (int k = 0; k <= 2; ++k) {
        double dot = 0;
        for (int i = 0; i < 40; ++i)
            dot += std::pow(x[i], k) * (y[i] - p(x[i]));
        EXPECT_NEAR(dot, 0.0, 1e-11) << "power " << k;
        EXPECT_EQ(pf[static_cast<size_t>(k)], p[static_cast<size_t>(k)]);
    }
}

TEST(ZoCPolynomial, FitWithoutUsableSamplesIsInvalid) {
    const double nan = std::nan(""), inf = std::numeric_limits<double>::infinity();
    struct {
        std::vector<double> x, y;
        size_t degree;
    } cases[] = {
        {{}, {}, 2},
        {{0, nan, 2}, {1, 2, 3}, 2},
        {{0, inf, 2}, {1, 2, 3}, 2},
        {{0, 1, 2}, {1, -inf, 3}, 1},
        {{1e300, 1e300, 0, 2}, {1, 2, 3, 4}, 4},  // finite samples whose powers overflow
    };
    for (auto& test : cases) {
        const ZoCPolynomial p = ZoCPolynomial::Fit(test.x.size(), test.x.data(), test.y.data(), test.degree);
        EXPECT_FALSE(p);
        EXPECT_EQ(p.GetDegree(), -1);
        EXPECT_TRUE(std::isnan(p(1.0)));
    }
}

TEST(ZoCPolynomial, DerivativeEvaluationAndCopies) {
    ZoCPolynomial p(2);
    p[0] = 1, p[1] = 2, p[2] = 3;
    EXPECT_EQ(p(2.0), 17.0);
    const ZoCPolynomial d = p.GetDerivative();
    ASSERT_EQ(d.GetDegree(), 1);
    EXPECT_EQ(d(1.0), 8.0);  // 2 + 6x
    EXPECT_EQ(d[0], 2.0);
    ZoCPolynomial constant(0);
    constant[0] = 7;
    const ZoCPolynomial zero = constant.GetDerivative();
    ASSERT_EQ(zero.GetDegree(), 0);
    EXPECT_EQ(zero[0], 0.0);
    EXPECT_FALSE(ZoCPolynomial().GetDerivative());
    ZoCPolynomial copy(p);
    copy[1] = 5;
    EXPECT_EQ(p(1.0), 6.0);
    EXPECT_EQ(copy(1.0), 9.0);
    copy = ZoCPolynomial();
    EXPECT_FALSE(copy);
    ZoCPolynomial& alias = p;
    p = alias;
    EXPECT_EQ(p(1.0), 6.0);
}
