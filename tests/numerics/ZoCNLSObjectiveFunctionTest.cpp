// Least-squares problem description: constraints, free variables, derivatives, statistics.
#include "NumericsTestSupport.h"
#include "ZoCNLSObjectiveFunction.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <stdexcept>
#include <vector>

namespace {

using testsupport::fromRows;
using testsupport::LambdaObjective;
using testsupport::maxDifference;
using testsupport::vectorOf;
using Rows = std::vector<std::vector<double>>;

// A linear model r = J x: its Jacobian is J exactly (the stencil is exact for lines).
LambdaObjective linearModel(const Rows& rows) {
    const int m = static_cast<int>(rows.size()), n = static_cast<int>(rows.front().size());
    return LambdaObjective(n, m, [rows](const ZoTVector<double>& x) { return fromRows(rows) * x; });
}

LambdaObjective unused(int n) {
    return LambdaObjective(n, 1, [](const ZoTVector<double>&) { return ZoTVector<double>(1); });
}

std::vector<double> values(const ZoTVector<double>& v) {
    return std::vector<double>(v.data, v.data + v.size);
}

std::vector<int> values(const ZoTVector<int>& v) {
    return std::vector<int>(v.data, v.data + v.size);
}

constexpr double c_dInf = std::numeric_limits<double>::infinity();

}  // namespace

TEST(ZoCNLSObjectiveFunction, FreshProblemHasAllParametersFreeAndBoundsAppendLowerThenUpperRow) {
    LambdaObjective f = unused(3);
    EXPECT_EQ(
        maxDifference(f.GetEqualityConstraintsKernel(), fromRows({{0, 1, 0, 0}, {0, 0, 1, 0}, {0, 0, 0, 1}})),
        0);
    EXPECT_EQ(values(f.GetFreeVariablesIndices()), (std::vector<int>{0, 1, 2}));
    EXPECT_TRUE(f.IsVariable(0) && f.IsVariable(1) && f.IsVariable(2));
    EXPECT_EQ(values(f.BuildParamsFromFree(vectorOf({1.5, -2, 7}))), (std::vector<double>{1.5, -2, 7}));
    EXPECT_FALSE(f.HasEqualities() || f.HasInequalities());
    f.AddBounds(1, -2, 5);
    f.AddInequality(vectorOf({1, 1, 1}), 9);  // old rows stay first
    EXPECT_EQ(maxDifference(f.GetInequalitiesLHS(), fromRows({{0, -1, 0}, {0, 1, 0}, {1, 1, 1}})), 0);
    EXPECT_EQ(values(f.GetInequalitiesRHS()), (std::vector<double>{2, 5, 9}));
    EXPECT_THROW(f.AddBounds(3, 0, 1), std::invalid_argument);
    EXPECT_THROW(f.AddLowerBound(-1, 0), std::invalid_argument);
    EXPECT_THROW(f.BuildParamsFromFree(vectorOf({1, 2})), std::invalid_argument);
    EXPECT_EQ(f.GetInequalitiesRHS().size, 3);
    // Bounded only with both bounds, or as a constant.
    LambdaObjective g = unused(3);
    g.AddLowerBound(0, 1.0);
    EXPECT_FALSE(g.IsBounded(0));
    g.AddUpperBound(0, 3.0);
    ASSERT_TRUE(g.AddEquality(2, 2.0));
    EXPECT_TRUE(g.IsBounded(0) && g.IsBounded(2) && g.IsUnbounded(1));
    EXPECT_FALSE(g.IsBounded(1));
}

TEST(ZoCNLSObjectiveFunction, EqualitiesFixFreeAndRefuseContradictions) {
    LambdaObjective f = unused(2);
    ASSERT_TRUE(f.AddEquality(0, 1.5));
    EXPECT_EQ(values(f.GetFreeVariablesIndices()), std::vector<int>{1});
    EXPECT_EQ(values(f.BuildParamsFromFree(vectorOf({7}))), (std::vector<double>{1.5, 7}));
    EXPECT_TRUE(f.IsConstant(0) && f.IsVariable(1));
    EXPECT_TRUE(f.AddEquality(0, 1.5));  // repeated: implied, nothing changes
    EXPECT_FALSE(f.AddEquality(0, 2.0));
    EXPECT_FALSE(f.AddEquality(2, 1.0));  // no such parameter
    EXPECT_EQ(f.GetEqualitiesRHS().size, 1);
    // x0 + x1 = 2: the diagonal keeps the pivot on the tie, x1 is free.
    LambdaObjective sum = unused(2);
    ASSERT_TRUE(sum.AddEquality(vectorOf({1, 1}), 2));
    EXPECT_EQ(sum.GetFreeVariablesIndices()[0], 1);
    EXPECT_EQ(maxDifference(sum.GetEqualityConstraintsKernel(), fromRows({{2, -1}, {0, 1}})), 0);
    // SetNumParams resets the kernel (its column 0 starts again from zero) but not the constraints.
    f.AddBounds(0, 0, 1);
    f.SetNumParams(2);
    EXPECT_EQ(f.GetFreeVariablesIndices().size, 2);
    EXPECT_EQ(maxDifference(f.GetEqualityConstraintsKernel(), fromRows({{0, 1, 0}, {0, 0, 1}})), 0);
    EXPECT_EQ(f.GetInequalitiesRHS().size, 2);
    EXPECT_EQ(f.GetEqualitiesRHS().size, 1);
}

TEST(ZoCNLSObjectiveFunction, LargestCoefficientBecomesPivotAndParametrisationSolvesAllEqualities) {
    LambdaObjective f = unused(4);
    ASSERT_TRUE(f.AddEquality(vectorOf({1, 3, 0, 0}), 2));  // pivot on x1 (largest entry)
    EXPECT_EQ(values(f.GetFreeVariablesIndices()), (std::vector<int>{0, 2, 3}));
    ASSERT_TRUE(f.AddEquality(vectorOf({0, 1, -2, 1}), -1));
    ASSERT_EQ(f.GetFreeVariablesIndices().size, 2);
    EXPECT_FALSE(f.AddEquality(vectorOf({1, 4, -2, 1}), 0));  // sum of both rows, wrong rhs
    EXPECT_TRUE(f.AddEquality(vectorOf({1, 4, -2, 1}), 1));   // sum of both rows: implied
    ASSERT_EQ(f.GetEqualitiesLHS().rows, 2);
    for (const auto& z : {vectorOf({0, 0}), vectorOf({1.5, -2}), vectorOf({-3, 0.25})}) {
        const ZoTVector<double> x = f.BuildParamsFromFree(z);
        EXPECT_LT((f.GetEqualitiesLHS() * x - f.GetEqualitiesRHS()).MaxAbs(), 1e-14);
        for (int j = 0; j < 2; ++j)
            EXPECT_EQ(x[f.GetFreeVariablesIndices()[j]], z[j]);
    }
    // Inequalities in free variables: x0 + 2 x1 <= 10 with x0 = 4 is 2 z <= 6.
    LambdaObjective g = unused(2);
    g.AddInequality(vectorOf({1, 2}), 10);
    ASSERT_TRUE(g.AddEquality(0, 4));
    ZoTMatrix<double> af;
    ZoTVector<double> bf;
    g.GetFreeVariablesInequalities(af, bf);
    EXPECT_EQ(maxDifference(af, fromRows({{2}})), 0);
    EXPECT_EQ(values(bf), std::vector<double>{6});
}

TEST(ZoCNLSObjectiveFunction, JacobianHasOneAnalyticColumnPerFreeVariable) {
    LambdaObjective f(2, 2, [](const ZoTVector<double>& x) { return vectorOf({x[0] * x[0], x[1]}); });
    EXPECT_LT(maxDifference(f.Jacobian(vectorOf({1, 2})), fromRows({{2, 0}, {0, 1}})), 1e-10);
    EXPECT_EQ(f.evaluations, 8);  // four evaluations per free variable
    LambdaObjective g(3, 1,
                      [](const ZoTVector<double>& x) { return vectorOf({x[0] + 2 * x[1] + 3 * x[2]}); });
    ASSERT_TRUE(g.AddEquality(1, 5.0));
    EXPECT_LT(maxDifference(g.Jacobian(vectorOf({0, 0})), fromRows({{1, 3}})), 1e-10);
    LambdaObjective none(2, 0, [](const ZoTVector<double>&) { return ZoTVector<double>(); });
    const ZoTMatrix<double> empty = none.Jacobian(vectorOf({1, 2}));
    EXPECT_EQ(empty.rows + empty.cols, 0);
    LambdaObjective shortResiduals(1, 3, [](const ZoTVector<double>& x) { return vectorOf({x[0]}); });
    EXPECT_THROW(shortResiduals.Jacobian(vectorOf({1})), std::length_error);
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

// Covariances against (J^T W J)^-1 inverted independently by LU.
TEST(ZoCNLSObjectiveFunction, CovarianceIsInverseWeightedNormalMatrix) {
    const Rows rows = {{1, 0.5}, {0, 2}, {1, 1}, {3, -1}};
    LambdaObjective f = linearModel(rows);
    ZoTMatrix<double> j = fromRows(rows), jt = fromRows(rows);
    jt.Transpose();
    ZoTMatrix<double> inverse = jt * j;
    ASSERT_TRUE(inverse.Invert());
    EXPECT_LT(maxDifference(f.GetCovariance(vectorOf({0.3, -0.7}), 1e-8), inverse), 1e-10);
    const ZoTMatrix<double> correlation = f.GetCorrelation(vectorOf({0.3, -0.7}), 1e-8);
    EXPECT_NEAR(correlation(0, 0), 1.0, 1e-12);
    EXPECT_NEAR(correlation(0, 1), inverse(0, 1) / std::sqrt(inverse(0, 0) * inverse(1, 1)), 1e-10);
    // Deviations 0.5 and 2 weigh the two residuals: 1 / (1 / 0.25 + 1 / 4).
    LambdaObjective weighted = linearModel({{1}, {1}});
    weighted.stdDev = {0.5, 2.0};
    EXPECT_NEAR(weighted.GetCovariance(vectorOf({0}), 1e-8)(0, 0), 1.0 / 4.25, 1e-12);
}

TEST(ZoCNLSObjectiveFunction, CovarianceMarksUndeterminedParametersInfinite) {
    LambdaObjective f = linearModel({{1, 0}, {2, 0}, {2, 0}});
    const ZoTMatrix<double> c = f.GetCovariance(vectorOf({1, 1}), 1e-8);
    EXPECT_NEAR(c(0, 0), 1.0 / 9.0, 1e-12);
    EXPECT_TRUE(c(0, 1) == c_dInf && c(1, 0) == c_dInf && c(1, 1) == c_dInf);
    ZoTVector<int> deficient;
    const ZoTMatrix<double> cf = f.getCovariance(f.Jacobian(vectorOf({1, 1})), deficient, 1e-8);
    EXPECT_EQ(values(deficient), std::vector<int>{1});
    EXPECT_EQ(cf(1, 1), c_dInf);
    // Fewer measurements than free parameters: the columns keep their order, so the first one
    // alone is determined (variance 1 / 1^2) and the second is not.
    const ZoTMatrix<double> under = linearModel({{1, 2}}).GetCovariance(vectorOf({0, 0}), 1e-8);
    EXPECT_NEAR(under(0, 0), 1.0, 1e-12);
    EXPECT_EQ(under(1, 1), c_dInf);
    // Without measurements nothing is determined, and the D-criterion is 0.
    LambdaObjective none(2, 0, [](const ZoTVector<double>&) { return ZoTVector<double>(); });
    const ZoTMatrix<double> unknown = none.GetCovariance(vectorOf({1, 2}), 1e-8);
    ASSERT_EQ(unknown.rows, 2);
    EXPECT_EQ(std::count(unknown.data, unknown.data + 4, c_dInf), 4);
    EXPECT_EQ(none.GetDCriterionValue(vectorOf({1, 2})), 0.0);
}

TEST(ZoCNLSObjectiveFunction, CovarianceOfConstrainedProblemFollowsKernel) {
    // r = (x0, x1, x2) with x0 + x1 = 2 and x2 = 0.5: only x1 is free, x0 = 2 - x1 depends on it.
    LambdaObjective f = linearModel({{1, 0, 0}, {0, 1, 0}, {0, 0, 1}});
    ASSERT_TRUE(f.AddEquality(vectorOf({1, 1, 0}), 2));
    ASSERT_TRUE(f.AddEquality(vectorOf({0, 0, 1}), 0.5));
    // Same variance for x0 and x1, perfectly anti-correlated; the constant x2 has none.
    EXPECT_LT(maxDifference(f.GetCovariance(vectorOf({1, 1, 0.5}), 1e-8),
                            fromRows({{1, -1, 0}, {-1, 1, 0}, {0, 0, 0}})),
              1e-12);
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
