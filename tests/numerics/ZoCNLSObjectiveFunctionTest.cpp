// Least-squares problem description: constraints, free variables, derivatives, statistics.
#include "NumericsTestSupport.h"

#include <gtest/gtest.h>

#include <cmath>
#include <stdexcept>
#include <vector>

using namespace testsupport;
using Ints = std::vector<int>;

namespace {

// A linear model r = J x: its Jacobian is J exactly (the stencil is exact for lines).
LambdaObjective linearModel(const Rows& rows) {
    const int m = static_cast<int>(rows.size()), n = m ? static_cast<int>(rows.front().size()) : 2;
    return LambdaObjective(n, m, [rows](const Vec& x) { return rows.empty() ? Vec() : fromRows(rows) * x; });
}

}  // namespace

// Fresh: all free; bounds append lower then upper row; bounded from both sides only by
// both bounds (x >= 0 assumed) or as a constant; out-of-range indices and short free values refused.
TEST(ZoCNLSObjectiveFunction, FreshProblemHasAllParametersFreeAndBoundsAppendLowerThenUpperRow) {
    LambdaObjective f = linearModel({Reals(3)});
    EXPECT_EQ(values(f.GetFreeVariablesIndices()), (Ints{0, 1, 2}));
    EXPECT_FALSE(f.HasEqualities() || f.HasInequalities() || !f.IsVariable(0) || !f.IsVariable(2) ||
                 f.IsBounded(0));
    f.AddBounds(1, -2, 5);
    f.AddInequality(vectorOf({1, 1, -1}), 9);  // leaves x2 unbounded above
    EXPECT_THROW(f.AddBounds(3, 0, 1), std::invalid_argument);
    EXPECT_THROW(f.AddLowerBound(-1, 0), std::invalid_argument);
    EXPECT_THROW(f.BuildParamsFromFree(vectorOf({1, 2})), std::invalid_argument);
    EXPECT_EQ(maxDifference(f.GetInequalitiesLHS(), fromRows({{0, -1, 0}, {0, 1, 0}, {1, 1, -1}})), 0);
    EXPECT_TRUE(f.IsBounded(1) && !f.IsBounded(2));
    EXPECT_EQ(values(f.GetInequalitiesRHS()), (Reals{2, 5, 9}));
}

// A fixed parameter leaves the free set and the free variables' inequalities; a repeated equality changes
// nothing, a contradicting one or one on a missing parameter is refused; SetNumParams resets the kernel only.
TEST(ZoCNLSObjectiveFunction, EqualitiesFixFreeAndRefuseContradictions) {
    LambdaObjective f = linearModel({Reals(2)});
    ASSERT_TRUE(f.AddEquality(0, 1.5));
    EXPECT_EQ(values(f.GetFreeVariablesIndices()), Ints{1});
    EXPECT_TRUE(f.IsConstant(0) && f.IsBounded(0) && f.IsVariable(1));
    EXPECT_EQ(std::vector<bool>({f.AddEquality(0, 1.5), f.AddEquality(0, 2.0), f.AddEquality(2, 1.0)}),
              std::vector<bool>({true, false, false}));
    f.AddInequality(vectorOf({1, 2}), 10);  // with x0 = 1.5: 2 x1 <= 8.5
    Mat af;
    Vec bf;
    f.GetFreeVariablesInequalities(af, bf);
    EXPECT_EQ(maxDifference(af, fromRows({{2}})), 0);
    EXPECT_EQ(values(bf), Reals{8.5});
    // x0 + x1 = 2: the diagonal keeps the pivot on the tie, x1 is free.
    LambdaObjective sum = linearModel({Reals(2)});
    ASSERT_TRUE(sum.AddEquality(vectorOf({1, 1}), 2));
    EXPECT_EQ(values(sum.GetFreeVariablesIndices()), Ints{1});
    EXPECT_EQ(maxDifference(sum.GetEqualityConstraintsKernel(), fromRows({{2, -1}, {0, 1}})), 0);
    f.SetNumParams(2);
    EXPECT_EQ(maxDifference(f.GetEqualityConstraintsKernel(), fromRows({{0, 1, 0}, {0, 0, 1}})), 0);
    EXPECT_EQ(Ints({f.GetInequalitiesRHS().size, f.GetEqualitiesRHS().size}), (Ints{1, 1}));
}

// Every free-variable combination satisfies all equalities and keeps the free values.
TEST(ZoCNLSObjectiveFunction, LargestCoefficientBecomesPivotAndParametrisationSolvesAllEqualities) {
    LambdaObjective f = linearModel({Reals(4)});
    ASSERT_TRUE(f.AddEquality(vectorOf({1, 3, 0, 0}), 2));  // pivot on x1 (largest entry)
    EXPECT_EQ(values(f.GetFreeVariablesIndices()), (Ints{0, 2, 3}));
    ASSERT_TRUE(f.AddEquality(vectorOf({0, 1, -2, 1}), -1));
    EXPECT_FALSE(f.AddEquality(vectorOf({1, 4, -2, 1}), 0));  // sum of both rows, wrong rhs
    EXPECT_TRUE(f.AddEquality(vectorOf({1, 4, -2, 1}), 1));   // sum of both rows: implied
    ASSERT_EQ(Ints({f.GetFreeVariablesIndices().size, f.GetEqualitiesLHS().rows}), Ints({2, 2}));
    for (const auto& z : {vectorOf({0, 0}), vectorOf({1.5, -2}), vectorOf({-3, 0.25})}) {
        const Vec x = f.BuildParamsFromFree(z);
        EXPECT_LT((f.GetEqualitiesLHS() * x - f.GetEqualitiesRHS()).MaxAbs(), 1e-14);
        EXPECT_EQ(Reals({x[f.GetFreeVariablesIndices()[0]], x[f.GetFreeVariablesIndices()[1]]}), values(z));
    }
}

// One difference-quotient column per free variable (four evaluations each), none without residuals; a
// stencil of order p is exact for degree p and restores x; order 2 on the cube is off by h^2.
TEST(ZoCNLSObjectiveFunction, JacobianHasOneColumnPerFreeVariableExactForItsStencilsDegree) {
    LambdaObjective g = linearModel({{1, 2, 3}});
    ASSERT_TRUE(g.AddEquality(1, 5.0));
    EXPECT_LT(maxDifference(g.Jacobian(vectorOf({0, 0})), fromRows({{1, 3}})), 1e-10);
    EXPECT_EQ(g.evaluations, 8);
    EXPECT_EQ(maxDifference(linearModel({}).Jacobian(vectorOf({1, 2})), Mat()), 0);
    LambdaObjective shortResiduals(1, 3, [](const Vec& x) { return vectorOf({x[0]}); });
    EXPECT_THROW(shortResiduals.Jacobian(vectorOf({1})), std::length_error);
    LambdaObjective cube(1, 1, [](const Vec& x) { return vectorOf({x[0] * x[0] * x[0]}); });
    LambdaObjective line(1, 1, [](const Vec& x) { return vectorOf({4 * x[0] - 1}); });
    Vec x = vectorOf({1.25});
    for (int order = 1; order <= 6; ++order) {
        const double derivative = (order >= 3 ? cube : line).errorFDDerivatives(x, 0, 0.01, order)[0];
        EXPECT_NEAR(derivative, order >= 3 ? 3 * 1.25 * 1.25 : 4.0, 1e-9) << "order " << order;
        EXPECT_EQ(x[0], 1.25);
    }
    EXPECT_NEAR(cube.errorFDDerivatives(x, 0, 0.01, 2)[0], 3 * 1.25 * 1.25 + 0.0001, 1e-9);
}

// Covariance (J^T W J)^-1, infinite where the data do not determine a parameter (fewer measurements than
// free parameters: the first determined); x0 = 2 - x1 perfectly anti-correlated, a constant without variance.
// The D-criterion is det(J^T J), 0 where it is singular.
TEST(ZoCNLSObjectiveFunction, CovarianceInvertsTheWeightedNormalMatrixAndDCriterionIsItsDeterminant) {
    const double d = 66.5, rho = 1.5 / std::sqrt(6.25 * 11);  // J^T J = [[11, -1.5], [-1.5, 6.25]]
    struct {
        Rows j, covariance;
        Reals stdDev;
    } cases[] = {
        {{{1, 0.5}, {0, 2}, {1, 1}, {3, -1}}, {{6.25 / d, 1.5 / d}, {1.5 / d, 11 / d}}, {}},
        {{{1}, {1}}, {{1 / (1 / 0.25 + 1 / 4.0)}}, {0.5, 2.0}},
        {{{1, 0}, {2, 0}, {2, 0}}, {{1.0 / 9, c_dInf}, {c_dInf, c_dInf}}, {}},
        {{{1, 2}}, {{1, c_dInf}, {c_dInf, c_dInf}}, {}},
        {{}, {{c_dInf, c_dInf}, {c_dInf, c_dInf}}, {}},
    };
    for (const auto& t : cases) {
        LambdaObjective f = linearModel(t.j);
        f.stdDev = t.stdDev;
        EXPECT_LT(maxDifference(f.GetCovariance(Vec(f.GetNumParams()), 1e-8), fromRows(t.covariance)), 1e-12);
    }
    LambdaObjective f = linearModel(cases[0].j);
    EXPECT_LT(maxDifference(f.GetCorrelation(vectorOf({0.3, -0.7}), 1e-8), fromRows({{1, rho}, {rho, 1}})),
              1e-12);
    EXPECT_NEAR(f.GetDCriterionValue(vectorOf({0.3, -0.7})), d, 1e-9);
    EXPECT_EQ(linearModel(cases[2].j).GetDCriterionValue(Vec(2)), 0.0);
    LambdaObjective constrained = linearModel({{1, 0, 0}, {0, 1, 0}, {0, 0, 1}});
    ASSERT_TRUE(constrained.AddEquality(vectorOf({1, 1, 0}), 2) &&
                constrained.AddEquality(vectorOf({0, 0, 1}), 0.5));
    EXPECT_LT(maxDifference(constrained.GetCovariance(vectorOf({1, 1, 0.5}), 1e-8),
                            fromRows({{1, -1, 0}, {-1, 1, 0}, {0, 0, 0}})),
              1e-12);
}
