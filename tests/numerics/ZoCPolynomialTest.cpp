// Polynomial evaluation, derivative and least-squares fit.
#include "ZoCPolynomial.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

TEST(ZoCPolynomial, FitThroughThreePointsRecoversQuadratic) {
    double x[] = {-1, 0.5, 2};
    double y[3];
    for (int i = 0; i < 3; ++i)
        y[i] = 1 + 2 * x[i] + 3 * x[i] * x[i];
    const ZoCPolynomial p = ZoCPolynomial::Fit(3, x, y, 2);
    ASSERT_TRUE(p);
    ASSERT_EQ(p.GetDegree(), 2);
    EXPECT_NEAR(p[0], 1.0, 1e-13);
    EXPECT_NEAR(p[1], 2.0, 1e-13);
    EXPECT_NEAR(p[2], 3.0, 1e-13);
    EXPECT_NEAR(p(2.0), 17.0, 1e-12);
}

TEST(ZoCPolynomial, FloatFitMatchesDoubleFit) {
    float xf[] = {0, 1, 2, 3, 4};
    float yf[] = {1.5f, 2.0f, 4.5f, 9.0f, 15.5f};
    double xd[5], yd[5];
    for (int i = 0; i < 5; ++i) {
        xd[i] = xf[i];
        yd[i] = yf[i];
    }
    const ZoCPolynomial pf = ZoCPolynomial::Fit(5, xf, yf, 2);
    const ZoCPolynomial pd = ZoCPolynomial::Fit(5, xd, yd, 2);
    for (size_t k = 0; k <= 2; ++k)
        EXPECT_EQ(pf[k], pd[k]);
}

TEST(ZoCPolynomial, NoisyFitSatisfiesNormalEquations) {
    std::mt19937_64 rng(47110518);
    std::normal_distribution<double> noise(0.0, 0.1);
    std::vector<double> x(40), y(40);
    for (int i = 0; i < 40; ++i) {
        x[i] = -2 + 0.1 * i;
        y[i] = 0.5 - x[i] + 0.25 * x[i] * x[i] + noise(rng);
    }
    const ZoCPolynomial p = ZoCPolynomial::Fit(40, x.data(), y.data(), 2);
    ASSERT_TRUE(p);
    // The residual is orthogonal to 1, x and x^2.
    for (int k = 0; k <= 2; ++k) {
        double dot = 0;
        for (int i = 0; i < 40; ++i)
            dot += std::pow(x[i], k) * (y[i] - p(x[i]));
        EXPECT_NEAR(dot, 0.0, 1e-11) << "power " << k;
    }
}

TEST(ZoCPolynomial, UnderdeterminedFitIsMinimumNormNotFailure) {
    double x[] = {0, 1};
    double y[] = {1, 3};
    const ZoCPolynomial p = ZoCPolynomial::Fit(2, x, y, 2);
    ASSERT_TRUE(p);
    // c0 = 1 and c1 + c2 = 2: the shortest such vector has c1 = c2 = 1.
    EXPECT_NEAR(p[0], 1.0, 1e-14);
    EXPECT_NEAR(p[1], 1.0, 1e-14);
    EXPECT_NEAR(p[2], 1.0, 1e-14);
}

TEST(ZoCPolynomial, FitWithoutPointsIsInvalid) {
    const ZoCPolynomial p = ZoCPolynomial::Fit(0, static_cast<double*>(nullptr), nullptr, 2);
    EXPECT_FALSE(p);
    EXPECT_EQ(p.GetDegree(), -1);
}

TEST(ZoCPolynomial, DerivativeOfQuadraticConstantAndInvalid) {
    ZoCPolynomial p(2);
    p[0] = 1;
    p[1] = 2;
    p[2] = 3;
    const ZoCPolynomial d = p.GetDerivative();
    ASSERT_EQ(d.GetDegree(), 1);
    EXPECT_EQ(d[0], 2.0);
    EXPECT_EQ(d[1], 6.0);
    ZoCPolynomial constant(0);
    constant[0] = 7;
    const ZoCPolynomial zero = constant.GetDerivative();
    ASSERT_TRUE(zero);
    EXPECT_EQ(zero.GetDegree(), 0);
    EXPECT_EQ(zero[0], 0.0);
    ZoCPolynomial invalid;
    EXPECT_FALSE(invalid.GetDerivative());
    EXPECT_EQ(invalid.GetDegree(), -1);
}

TEST(ZoCPolynomial, InvalidEvaluatesToNaNAndCopiesStayIndependent) {
    const ZoCPolynomial invalid;
    EXPECT_TRUE(std::isnan(invalid(1.0)));
    ZoCPolynomial p(1);
    p[0] = 1;
    p[1] = -1;
    ZoCPolynomial copy(p);
    copy[1] = 5;
    EXPECT_EQ(p(2.0), -1.0);
    EXPECT_EQ(copy(2.0), 11.0);
    copy = invalid;
    EXPECT_FALSE(copy);
    ZoCPolynomial& alias = p;
    p = alias;
    EXPECT_EQ(p(3.0), -2.0);
}
