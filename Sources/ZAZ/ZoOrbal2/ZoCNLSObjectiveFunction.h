// A nonlinear least-squares problem for ZoCNLSSolver: n parameters, m residuals computed by a
// derived class, per-residual standard deviations and linear constraints.
//
// Equalities are kept in solved form: every x with E x = f is x = K(:, 0) + K1 z, where z holds
// the free variables (K1 = columns 1..k of K), and the solver iterates on z only. Inequalities,
// bounds included, are rows of A x <= b.
#pragma once

#include "ZoTMatrix.h"
#include "ZoTVector.h"

class ZoCNLSObjectiveFunction {
  public:
    ZoCNLSObjectiveFunction(int numParams, int numMeasurements);
    ZoCNLSObjectiveFunction(const ZoCNLSObjectiveFunction&) = default;
    ZoCNLSObjectiveFunction& operator=(const ZoCNLSObjectiveFunction&) = default;
    virtual ~ZoCNLSObjectiveFunction() = default;

    // The m residuals at the full parameter vector x.
    virtual ZoTVector<double> Error(const ZoTVector<double>& x) = 0;
    // Standard deviations of the residuals; all 1 unless a derived problem knows better.
    virtual ZoTVector<double> StdDev();
    // m x k derivative of the residuals with respect to the free variables at z, by central
    // differences of order 4 with the absolute step 0.000123 in each free parameter. A problem
    // that knows its derivatives (or wants a step suited to its scale) overrides it; the solver
    // calls it once per accepted point. std::length_error when Error() does not return m values.
    virtual ZoTMatrix<double> Jacobian(const ZoTVector<double>& z);
    // Resets the equality kernel to "all parameters free"; the constraints stay as they are.
    virtual void SetNumParams(unsigned int n);
    virtual int GetNumParams() const { return m_numParams; }
    virtual int GetNumMeasurements() const { return m_numMeasurements; }
    virtual void SetNumMeasurements(int m) { m_numMeasurements = m; }

    // Bounds on parameter i; std::invalid_argument unless 0 <= i < n.
    void AddBounds(int i, double lower, double upper);
    void AddLowerBound(int i, double v) { addBound(i, v, true); }
    void AddUpperBound(int i, double v) { addBound(i, v, false); }
    // Appends a x <= rhs as it is (no normalisation).
    void AddInequality(const ZoTVector<double>& a, double rhs);
    void SetInequalities(const ZoTMatrix<double>& A, const ZoTVector<double>& b);
    // Adds a x = rhs and re-solves the equalities. False (nothing changed) when the system
    // becomes inconsistent; true without change when the row is implied by the others.
    bool AddEquality(const ZoTVector<double>& a, double rhs);
    // Fixes x_i = v.
    bool AddEquality(int i, double v);
    // Replaces E and f only; the kernel and the free indices stay as they were.
    void SetEqualities(const ZoTMatrix<double>& E, const ZoTVector<double>& f);

    const ZoTMatrix<double>& GetEqualitiesLHS() const { return m_equalitiesLHS; }
    const ZoTVector<double>& GetEqualitiesRHS() const { return m_equalitiesRHS; }
    const ZoTMatrix<double>& GetEqualityConstraintsKernel() const { return m_equalityKernel; }
    const ZoTVector<int>& GetFreeVariablesIndices() const { return m_freeIndices; }
    const ZoTMatrix<double>& GetInequalitiesLHS() const { return m_inequalitiesLHS; }
    const ZoTVector<double>& GetInequalitiesRHS() const { return m_inequalitiesRHS; }
    bool HasEqualities() const { return m_equalitiesRHS.size > 0; }
    bool HasInequalities() const { return m_inequalitiesRHS.size > 0; }

    // A parameter is variable when some free variable moves it.
    bool IsVariable(int i) const;
    bool IsConstant(int i) const { return !IsVariable(i); }
    // Whether the inequalities bound parameter i from both sides (constants are bounded).
    bool IsBounded(int i) const;
    bool IsUnbounded(int i) const { return !IsBounded(i); }

    // x = K(:, 0) + K1 z; std::invalid_argument when z has fewer entries than free variables.
    ZoTVector<double> BuildParamsFromFree(const ZoTVector<double>& z) const;
    // The inequalities in terms of z: Af z <= bf.
    void GetFreeVariablesInequalities(ZoTMatrix<double>& Af, ZoTVector<double>& bf) const;

    // n x n covariance of the parameters at x: +inf everywhere without measurements, +inf in the
    // rows and columns of parameters beyond the numerical rank (relative tolerance tol).
    ZoTMatrix<double> GetCovariance(const ZoTVector<double>& x, double tol);
    ZoTMatrix<double> GetCorrelation(const ZoTVector<double>& x, double tol);
    // A covariance scaled by its standard deviations: C(r, c) / (sd_r sd_c).
    static ZoTMatrix<double> CorrelationOfCovariance(ZoTMatrix<double> C);
    // det(J^T J) of the unweighted Jacobian at z; 0 when J^T J is not positive definite.
    double GetDCriterionValue(const ZoTVector<double>& z);

  protected:
    // The Jacobian's finite differences: central differences of order 4 with an absolute step;
    // the calibration's parameters are all of moderate size, so one absolute step serves them
    // all. A derived problem that evaluates the same differences faster uses these.
    static constexpr double c_dJacobianStep = 0.000123;
    static constexpr int c_iJacobianOrder = 4;
    // Coefficients for the offsets -floor(order / 2) .. floor((order + 1) / 2); orders outside
    // 1..6 are clamped into that range.
    static const double* FiniteDifferenceStencil(int order);

    void addBound(int i, double v, bool lower);
    // k x k covariance of the free variables from their m x k Jacobian; rankDeficient receives
    // the free variables beyond the numerical rank.
    ZoTMatrix<double> getCovariance(ZoTMatrix<double> J, ZoTVector<int>& rankDeficient, double tol);
    // Finite-difference derivative of Error with respect to x[index] (absolute step h); order
    // 1..6 selects the stencil, values outside are clamped into that range.
    ZoTVector<double> errorFDDerivatives(ZoTVector<double>& x, int index, double h, int order);

    int m_numParams;
    int m_numMeasurements;
    ZoTMatrix<double> m_equalitiesLHS;
    ZoTVector<double> m_equalitiesRHS;
    ZoTMatrix<double> m_inequalitiesLHS;
    ZoTVector<double> m_inequalitiesRHS;
    ZoTMatrix<double> m_equalityKernel;
    ZoTVector<int> m_freeIndices;

  private:
    void resetKernel();
    bool isFreeIndex(int i) const;
};
