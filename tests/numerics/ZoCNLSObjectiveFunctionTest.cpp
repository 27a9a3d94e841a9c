// Least-squares problem description: constraints, free variables, derivatives, statistics.
#include "NumericsTestSupport.h"
#include "ZoCNLSObjectiveFunction.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <limits>
#include <stdexcept>
#include <vector>

namespace {

using testsupport::vectorOf;

using testsupport::LambdaObjective;

// A linear model r = J x - y: its Jacobian is J exactly (the stencil is exact for lines).
LambdaObjective linearModel(const std::vector<std::vector<double>>& rows) {
    const int m = static_cast<int>(rows.size()), n = static_cast<int>(rows.front().size());
    return LambdaObjective(n, m, [rows, m, n](const ZoTVector<double>& x) {
        ZoTVector<double> r(m);
        for (int i = 0; i < m; ++i)
            for (int j = 0; j < n; ++j)
                r[i] += rows[i][j] * x[j];
        return r;
    });
}

LambdaObjective unused(int n) {
    return LambdaObjective(n, 1, [](const ZoTVector<double>&) { return ZoTVector<double>(1); });
}

constexpr double c_dInf = std::numeric_limits<double>::infinity();

}  // namespace

TEST(ZoCNLSObjectiveFunction, FreshProblemHasAllParametersFree) {
    LambdaObjective f = unused(3);
    const ZoTMatrix<double>& k = f.GetEqualityConstraintsKernel();
    ASSERT_EQ(k.rows, 3);
    ASSERT_EQ(k.cols, 4);
    for (int r = 0; r < 3; ++r) {
        EXPECT_EQ(k(r, 0), 0.0);
        for (int c = 1; c < 4; ++c)
            EXPECT_EQ(k(r, c), r == c - 1 ? 1.0 : 0.0);
        EXPECT_EQ(f.GetFreeVariablesIndices()[r], r);
        EXPECT_TRUE(f.IsVariable(r));
    }
    const ZoTVector<double> x = f.BuildParamsFromFree(vectorOf({1.5, -2, 7}));
    EXPECT_EQ(x[0], 1.5);
    EXPECT_EQ(x[1], -2.0);
    EXPECT_EQ(x[2], 7.0);
    EXPECT_FALSE(f.HasEqualities());
    EXPECT_FALSE(f.HasInequalities());
}

TEST(ZoCNLSObjectiveFunction, BoundsAppendLowerThenUpperRow) {
    LambdaObjective f = unused(3);
    f.AddBounds(1, -2, 5);
    const ZoTMatrix<double>& a = f.GetInequalitiesLHS();
    const ZoTVector<double>& b = f.GetInequalitiesRHS();
    ASSERT_EQ(a.rows, 2);
    ASSERT_EQ(a.cols, 3);
    EXPECT_EQ(a(0, 0), 0.0);
    EXPECT_EQ(a(0, 1), -1.0);
    EXPECT_EQ(a(0, 2), 0.0);
    EXPECT_EQ(b[0], 2.0);
    EXPECT_EQ(a(1, 1), 1.0);
    EXPECT_EQ(b[1], 5.0);
    f.AddInequality(vectorOf({1, 1, 1}), 9);
    ASSERT_EQ(f.GetInequalitiesLHS().rows, 3);
    EXPECT_EQ(f.GetInequalitiesLHS()(1, 1), 1.0);  // old rows stay first
    EXPECT_EQ(f.GetInequalitiesRHS()[2], 9.0);
    EXPECT_THROW(f.AddBounds(3, 0, 1), std::invalid_argument);
    EXPECT_THROW(f.AddLowerBound(-1, 0), std::invalid_argument);
    EXPECT_THROW(f.BuildParamsFromFree(vectorOf({1, 2})), std::invalid_argument);
    EXPECT_EQ(f.GetInequalitiesRHS().size, 3);
}

TEST(ZoCNLSObjectiveFunction, EqualitiesFixFreeAndRefuseContradictions) {
    LambdaObjective f = unused(2);
    ASSERT_TRUE(f.AddEquality(0, 1.5));
    ASSERT_EQ(f.GetFreeVariablesIndices().size, 1);
    EXPECT_EQ(f.GetFreeVariablesIndices()[0], 1);
    const ZoTVector<double> x = f.BuildParamsFromFree(vectorOf({7}));
    EXPECT_EQ(x[0], 1.5);
    EXPECT_EQ(x[1], 7.0);
    EXPECT_TRUE(f.IsConstant(0));
    EXPECT_TRUE(f.IsVariable(1));
    EXPECT_TRUE(f.AddEquality(0, 1.5));  // repeated: implied, nothing changes
    EXPECT_FALSE(f.AddEquality(0, 2.0));
    EXPECT_FALSE(f.AddEquality(2, 1.0));  // no such parameter
    EXPECT_EQ(f.GetEqualitiesRHS().size, 1);
    // x0 + x1 = 2: the diagonal keeps the pivot on the tie, x1 is free.
    LambdaObjective sum = unused(2);
    ASSERT_TRUE(sum.AddEquality(vectorOf({1, 1}), 2));
    EXPECT_EQ(sum.GetFreeVariablesIndices()[0], 1);
    const ZoTMatrix<double>& k = sum.GetEqualityConstraintsKernel();
    ASSERT_EQ(k.cols, 2);
    EXPECT_EQ(k(0, 0), 2.0);
    EXPECT_EQ(k(1, 0), 0.0);
    EXPECT_EQ(k(0, 1), -1.0);
    EXPECT_EQ(k(1, 1), 1.0);
}

TEST(ZoCNLSObjectiveFunction, LargestCoefficientBecomesPivotAndParametrisationSolvesAllEqualities) {
    LambdaObjective f = unused(4);
    ASSERT_TRUE(f.AddEquality(vectorOf({1, 3, 0, 0}), 2));  // pivot on x1 (largest entry)
    EXPECT_EQ(f.GetFreeVariablesIndices().size, 3);
    EXPECT_EQ(f.GetFreeVariablesIndices()[0], 0);
    ASSERT_TRUE(f.AddEquality(vectorOf({0, 1, -2, 1}), -1));
    ASSERT_EQ(f.GetFreeVariablesIndices().size, 2);
    EXPECT_FALSE(f.AddEquality(vectorOf({1, 4, -2, 1}), 0));  // sum of both rows, wrong rhs
    EXPECT_TRUE(f.AddEquality(vectorOf({1, 4, -2, 1}), 1));   // sum of both rows: implied
    const ZoTMatrix<double>& e = f.GetEqualitiesLHS();
    const ZoTVector<double>& rhs = f.GetEqualitiesRHS();
    ASSERT_EQ(e.rows, 2);
    for (const auto& z : {vectorOf({0, 0}), vectorOf({1.5, -2}), vectorOf({-3, 0.25})}) {
        const ZoTVector<double> x = f.BuildParamsFromFree(z);
        const ZoTVector<double> ex = e * x;
        for (int i = 0; i < 2; ++i)
            EXPECT_NEAR(ex[i], rhs[i], 1e-14);
        for (int j = 0; j < 2; ++j)
            EXPECT_EQ(x[f.GetFreeVariablesIndices()[j]], z[j]);
    }
}

TEST(ZoCNLSObjectiveFunction, SetNumParamsResetsKernelButNotConstraints) {
    LambdaObjective f = unused(2);
    f.AddBounds(0, 0, 1);
    ASSERT_TRUE(f.AddEquality(0, 0.5));
    f.SetNumParams(2);
    EXPECT_EQ(f.GetFreeVariablesIndices().size, 2);
    // The kernel had shape 2 x 2 (one free variable), so column 0 starts again from zero.
    EXPECT_EQ(f.GetEqualityConstraintsKernel()(0, 0), 0.0);
    EXPECT_EQ(f.GetEqualityConstraintsKernel()(0, 1), 1.0);
    EXPECT_EQ(f.GetInequalitiesRHS().size, 2);
    EXPECT_EQ(f.GetEqualitiesRHS().size, 1);
}

TEST(ZoCNLSObjectiveFunction, InequalitiesExpressedInFreeVariables) {
    LambdaObjective f = unused(2);
    f.AddInequality(vectorOf({1, 2}), 10);  // x0 + 2 x1 <= 10
    ASSERT_TRUE(f.AddEquality(0, 4));       // x0 = 4  ->  2 z <= 6
    ZoTMatrix<double> af;
    ZoTVector<double> bf;
    f.GetFreeVariablesInequalities(af, bf);
    ASSERT_EQ(af.rows, 1);
    ASSERT_EQ(af.cols, 1);
    EXPECT_EQ(af(0, 0), 2.0);
    EXPECT_EQ(bf[0], 6.0);
}

TEST(ZoCNLSObjectiveFunction, BoundedOnlyWithBothBounds) {
    LambdaObjective f = unused(2);
    f.AddLowerBound(0, 1.0);
    EXPECT_FALSE(f.IsBounded(0));
    f.AddUpperBound(0, 3.0);
    EXPECT_TRUE(f.IsBounded(0));
    EXPECT_TRUE(f.IsUnbounded(1));
    LambdaObjective fixed = unused(2);
    ASSERT_TRUE(fixed.AddEquality(1, 2.0));
    EXPECT_TRUE(fixed.IsBounded(1));  // a constant is bounded
    EXPECT_FALSE(fixed.IsBounded(0));
}

TEST(ZoCNLSObjectiveFunction, JacobianMatchesAnalyticDerivatives) {
    LambdaObjective f(2, 2, [](const ZoTVector<double>& x) { return vectorOf({x[0] * x[0], x[1]}); });
    const ZoTMatrix<double> j = f.Jacobian(vectorOf({1, 2}));
    ASSERT_EQ(j.rows, 2);
    ASSERT_EQ(j.cols, 2);
    EXPECT_NEAR(j(0, 0), 2.0, 1e-10);
    EXPECT_NEAR(j(0, 1), 0.0, 1e-12);
    EXPECT_NEAR(j(1, 0), 0.0, 1e-12);
    EXPECT_NEAR(j(1, 1), 1.0, 1e-10);
    EXPECT_EQ(f.evaluations, 8);  // four evaluations per free variable

    LambdaObjective none(2, 0, [](const ZoTVector<double>&) { return ZoTVector<double>(); });
    const ZoTMatrix<double> empty = none.Jacobian(vectorOf({1, 2}));
    EXPECT_EQ(empty.rows, 0);
    EXPECT_EQ(empty.cols, 0);
    LambdaObjective shortResiduals(1, 3, [](const ZoTVector<double>& x) { return vectorOf({x[0]}); });
    EXPECT_THROW(shortResiduals.Jacobian(vectorOf({1})), std::length_error);
}

TEST(ZoCNLSObjectiveFunction, JacobianHasOneColumnPerFreeVariable) {
    LambdaObjective f(3, 1,
                      [](const ZoTVector<double>& x) { return vectorOf({x[0] + 2 * x[1] + 3 * x[2]}); });
    ASSERT_TRUE(f.AddEquality(1, 5.0));
    const ZoTMatrix<double> j = f.Jacobian(vectorOf({0, 0}));
    ASSERT_EQ(j.cols, 2);
    EXPECT_NEAR(j(0, 0), 1.0, 1e-10);
    EXPECT_NEAR(j(0, 1), 3.0, 1e-10);
}

TEST(ZoCNLSObjectiveFunction, EveryFiniteDifferenceOrderIsExactForItsPolynomialDegree) {
    // A stencil of order p differentiates polynomials of degree p exactly; check on the cube
    // for p >= 3 and on the line for lower orders, and that x is restored.
    LambdaObjective cube(1, 1, [](const ZoTVector<double>& x) { return vectorOf({x[0] * x[0] * x[0]}); });
    LambdaObjective line(1, 1, [](const ZoTVector<double>& x) { return vectorOf({4 * x[0] - 1}); });
    ZoTVector<double> x = vectorOf({1.25});
    for (int order = 1; order <= 6; ++order) {
        LambdaObjective& f = order >= 3 ? cube : line;
        const double expected = order >= 3 ? 3 * 1.25 * 1.25 : 4.0;
        EXPECT_NEAR(f.errorFDDerivatives(x, 0, 0.01, order)[0], expected, 1e-9) << "order " << order;
        EXPECT_EQ(x[0], 1.25);
    }
    // Central order 2 on the cube is off by h^2 (the stencil's leading error term).
    EXPECT_NEAR(cube.errorFDDerivatives(x, 0, 0.01, 2)[0], 3 * 1.25 * 1.25 + 0.0001, 1e-9);
}

TEST(ZoCNLSObjectiveFunction, CovarianceOfLinearModelIsInverseNormalMatrix) {
    LambdaObjective f = linearModel({{1, 0.5}, {0, 2}, {1, 1}, {3, -1}});
    const ZoTMatrix<double> c = f.GetCovariance(vectorOf({0.3, -0.7}), 1e-8);
    // Independent computation: (J^T J)^-1 by LU inversion.
    ZoTMatrix<double> jtj(2);
    const double rows[4][2] = {{1, 0.5}, {0, 2}, {1, 1}, {3, -1}};
    for (const auto& row : rows)
        for (int a = 0; a < 2; ++a)
            for (int b = 0; b < 2; ++b)
                jtj(a, b) += row[a] * row[b];
    ASSERT_TRUE(jtj.Invert());
    ASSERT_EQ(c.rows, 2);
    for (int a = 0; a < 2; ++a)
        for (int b = 0; b < 2; ++b)
            EXPECT_NEAR(c(a, b), jtj(a, b), 1e-10);
    const ZoTMatrix<double> correlation = f.GetCorrelation(vectorOf({0.3, -0.7}), 1e-8);
    EXPECT_NEAR(correlation(0, 0), 1.0, 1e-12);
    EXPECT_NEAR(correlation(0, 1), jtj(0, 1) / std::sqrt(jtj(0, 0) * jtj(1, 1)), 1e-10);
}

TEST(ZoCNLSObjectiveFunction, CovarianceMarksUndeterminedParameterInfinite) {
    LambdaObjective f = linearModel({{1, 0}, {2, 0}, {2, 0}});
    const ZoTMatrix<double> c = f.GetCovariance(vectorOf({1, 1}), 1e-8);
    EXPECT_NEAR(c(0, 0), 1.0 / 9.0, 1e-12);
    EXPECT_EQ(c(0, 1), c_dInf);
    EXPECT_EQ(c(1, 0), c_dInf);
    EXPECT_EQ(c(1, 1), c_dInf);
    ZoTVector<int> deficient;
    const ZoTMatrix<double> cf = f.getCovariance(f.Jacobian(vectorOf({1, 1})), deficient, 1e-8);
    ASSERT_EQ(deficient.size, 1);
    EXPECT_EQ(deficient[0], 1);
    EXPECT_EQ(cf(1, 1), c_dInf);
}

TEST(ZoCNLSObjectiveFunction, CovarianceIsScaledByResidualDeviations) {
    class Weighted : public LambdaObjective {
      public:
        Weighted()
            : LambdaObjective(1, 2, [](const ZoTVector<double>& x) {
                  return vectorOf({x[0], x[0]});
              }) {}
        ZoTVector<double> StdDev() override { return vectorOf({0.5, 2.0}); }
    } f;
    // 1 / (1 / 0.25 + 1 / 4).
    EXPECT_NEAR(f.GetCovariance(vectorOf({0}), 1e-8)(0, 0), 1.0 / 4.25, 1e-12);
}

TEST(ZoCNLSObjectiveFunction, CovarianceWithoutMeasurementsIsInfinite) {
    LambdaObjective none(2, 0, [](const ZoTVector<double>&) { return ZoTVector<double>(); });
    const ZoTMatrix<double> c = none.GetCovariance(vectorOf({1, 2}), 1e-8);
    ASSERT_EQ(c.rows, 2);
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(c.data[i], c_dInf);
    EXPECT_EQ(none.GetDCriterionValue(vectorOf({1, 2})), 0.0);
}

TEST(ZoCNLSObjectiveFunction, CovarianceOfConstrainedProblemFollowsKernel) {
    // r = (x0, x1, x2) with x0 + x1 = 2: x1 is free, x0 = 2 - x1 depends on it; x2 is free too.
    LambdaObjective f = linearModel({{1, 0, 0}, {0, 1, 0}, {0, 0, 1}});
    ASSERT_TRUE(f.AddEquality(vectorOf({1, 1, 0}), 2));
    ASSERT_TRUE(f.AddEquality(vectorOf({0, 0, 1}), 0.5));
    // Only x1 is free now; its column of the (finite-difference) Jacobian is e1.
    const ZoTMatrix<double> c = f.GetCovariance(vectorOf({1, 1, 0.5}), 1e-8);
    EXPECT_NEAR(c(1, 1), 1.0, 1e-12);
    EXPECT_NEAR(c(0, 0), 1.0, 1e-12);   // x0 = 2 - x1: same variance
    EXPECT_NEAR(c(0, 1), -1.0, 1e-12);  // perfectly anti-correlated
    EXPECT_EQ(c(2, 2), 0.0);            // a constant
    EXPECT_EQ(c(0, 2), 0.0);
}

TEST(ZoCNLSObjectiveFunction, DCriterionIsDeterminantOfNormalMatrix) {
    LambdaObjective f = linearModel({{1, 2}, {3, 4}, {0, 1}});
    // J^T J = [[10, 14], [14, 21]], determinant 14.
    EXPECT_NEAR(f.GetDCriterionValue(vectorOf({0.1, 0.2})), 14.0, 1e-8);
    LambdaObjective singular = linearModel({{1, 2}, {2, 4}});
    EXPECT_EQ(singular.GetDCriterionValue(vectorOf({0, 0})), 0.0);
    // Every parameter fixed: J^T J is 0 x 0, which has no Cholesky factor.
    LambdaObjective fixed = linearModel({{1}, {2}});
    ASSERT_TRUE(fixed.AddEquality(0, 3.0));
    EXPECT_EQ(fixed.GetDCriterionValue(ZoTVector<double>()), 0.0);
}
