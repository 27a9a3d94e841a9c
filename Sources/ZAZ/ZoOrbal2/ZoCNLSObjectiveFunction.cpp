#include "ZoCNLSObjectiveFunction.h"

#include "ZoCLinearProgram.h"
#include "ZoLapack.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <stdexcept>
#include <utility>
#include <vector>

namespace {

constexpr double c_dEpsilon = 2.220446049250313e-16;
// Kernel entries below this magnitude do not make a parameter variable.
constexpr double c_dVariableThreshold = 2.220446049250313e-15;
constexpr double c_dInfinity = std::numeric_limits<double>::infinity();

// The equalities E x = f after Gaussian elimination with complete pivoting: rows and columns
// permuted so that the leading rank x rank block is upper triangular.
struct NSReducedEqualities {
    ZoTMatrix<double> lhs;
    ZoTVector<double> rhs;
    ZoTVector<int> columns;  // column j of lhs is parameter columns[j]
    int rank = 0;
    bool consistent = true;
};

void swapRows(NSReducedEqualities& s, int a, int b) {
    if (a == b)
        return;
    for (int c = 0; c < s.lhs.cols; ++c)
        std::swap(s.lhs(a, c), s.lhs(b, c));
    std::swap(s.rhs[a], s.rhs[b]);
}

void swapColumns(NSReducedEqualities& s, int a, int b) {
    if (a == b)
        return;
    for (int r = 0; r < s.lhs.rows; ++r)
        std::swap(s.lhs(r, a), s.lhs(r, b));
    std::swap(s.columns[a], s.columns[b]);
}

// The largest remaining entry; the diagonal position wins ties, otherwise the first strictly
// larger entry scanning column by column.
std::pair<int, int> completePivot(const ZoTMatrix<double>& M, int step) {
    std::pair<int, int> best{step, step};
    double bestValue = std::abs(M(step, step));
    for (int c = step; c < M.cols; ++c)
        for (int r = step; r < M.rows; ++r)
            if (std::abs(M(r, c)) > bestValue) {
                bestValue = std::abs(M(r, c));
                best = {r, c};
            }
    return best;
}

NSReducedEqualities reduceEqualities(const ZoTMatrix<double>& E, const ZoTVector<double>& f) {
    NSReducedEqualities s{E, f, ZoTVector<int>(E.cols)};
    for (int c = 0; c < E.cols; ++c)
        s.columns[c] = c;
    const double tolerance = E.NormInf() * std::max(E.rows, 50) * c_dEpsilon;
    const int steps = std::min(E.rows, E.cols);
    for (int step = 0; step < steps; ++step) {
        const auto [row, col] = completePivot(s.lhs, step);
        if (std::abs(s.lhs(row, col)) <= tolerance)
            break;
        swapRows(s, step, row);
        swapColumns(s, step, col);
        for (int r = step + 1; r < E.rows; ++r) {
            const double factor = s.lhs(r, step) / s.lhs(step, step);
            for (int c = step; c < E.cols; ++c)
                s.lhs(r, c) -= factor * s.lhs(step, c);
            s.rhs[r] -= factor * s.rhs[step];
            s.lhs(r, step) = 0.0;
        }
        ++s.rank;
    }
    for (int r = s.rank; r < E.rows; ++r)
        if (std::abs(s.rhs[r]) > tolerance)
            s.consistent = false;
    return s;
}

// Solves the leading triangle for y given the right-hand side (rank entries).
ZoTVector<double> backSubstitute(const NSReducedEqualities& s, ZoTVector<double> y) {
    for (int i = s.rank - 1; i >= 0; --i) {
        for (int j = i + 1; j < s.rank; ++j)
            y[i] -= s.lhs(i, j) * y[j];
        y[i] /= s.lhs(i, i);
    }
    return y;
}

// Column 0: the solution with all non-pivot parameters 0; column 1 + j: the direction in which
// the j-th non-pivot parameter moves by 1 and the pivot parameters follow.
ZoTMatrix<double> parametricSolution(const NSReducedEqualities& s, ZoTVector<int>& freeIndices) {
    const int n = s.lhs.cols, freeCount = n - s.rank;
    ZoTMatrix<double> K(n, freeCount + 1);
    freeIndices = ZoTVector<int>(freeCount);
    ZoTVector<double> y(s.rank);
    for (int i = 0; i < s.rank; ++i)
        y[i] = s.rhs[i];
    y = backSubstitute(s, y);
    for (int i = 0; i < s.rank; ++i)
        K(s.columns[i], 0) = y[i];
    for (int j = 0; j < freeCount; ++j) {
        for (int i = 0; i < s.rank; ++i)
            y[i] = -s.lhs(i, s.rank + j);
        y = backSubstitute(s, y);
        for (int i = 0; i < s.rank; ++i)
            K(s.columns[i], 1 + j) = y[i];
        K(s.columns[s.rank + j], 1 + j) = 1.0;
        freeIndices[j] = s.columns[s.rank + j];
    }
    return K;
}

}  // namespace

const double* ZoCNLSObjectiveFunction::FiniteDifferenceStencil(int order) {
    static const double c_stencils[6][7] = {
        {-1.0, 1.0},
        {-1.0 / 2, 0.0, 1.0 / 2},
        {-1.0 / 3, -1.0 / 2, 1.0, -1.0 / 6},
        {1.0 / 12, -2.0 / 3, 0.0, 2.0 / 3, -1.0 / 12},
        {1.0 / 20, -1.0 / 2, -1.0 / 3, 1.0, -1.0 / 4, 1.0 / 30},
        {-1.0 / 60, 3.0 / 20, -3.0 / 4, 0.0, 3.0 / 4, -3.0 / 20, 1.0 / 60},
    };
    return c_stencils[std::clamp(order, 1, 6) - 1];
}

ZoCNLSObjectiveFunction::ZoCNLSObjectiveFunction(int numParams, int numMeasurements)
    : m_numParams(numParams), m_numMeasurements(numMeasurements) {
    if (numParams >= 1)
        resetKernel();
}

ZoTVector<double> ZoCNLSObjectiveFunction::StdDev() {
    ZoTVector<double> deviations(m_numMeasurements);
    for (int i = 0; i < deviations.size; ++i)
        deviations[i] = 1.0;
    return deviations;
}

void ZoCNLSObjectiveFunction::SetNumParams(unsigned int n) {
    m_numParams = static_cast<int>(n);
    if (m_numParams >= 1)
        resetKernel();
}

// K = [column 0 kept | identity], all parameters free.
void ZoCNLSObjectiveFunction::resetKernel() {
    const int n = m_numParams;
    m_equalityKernel.Resize(n, n + 1);
    for (int c = 1; c <= n; ++c)
        for (int r = 0; r < n; ++r)
            m_equalityKernel(r, c) = r == c - 1 ? 1.0 : 0.0;
    m_freeIndices = ZoTVector<int>(n);
    for (int i = 0; i < n; ++i)
        m_freeIndices[i] = i;
}

void ZoCNLSObjectiveFunction::AddBounds(int i, double lower, double upper) {
    AddLowerBound(i, lower);
    AddUpperBound(i, upper);
}

// A lower bound v <= x_i is stored as -x_i <= -v.
void ZoCNLSObjectiveFunction::addBound(int i, double v, bool lower) {
    if (i < 0 || i >= m_numParams)
        throw std::invalid_argument("ZoCNLSObjectiveFunction: bound on a parameter index out of range");
    ZoTVector<double> row(m_numParams);
    row[i] = lower ? -1.0 : 1.0;
    AddInequality(row, lower ? -v : v);
}

void ZoCNLSObjectiveFunction::AddInequality(const ZoTVector<double>& a, double rhs) {
    const int q = m_inequalitiesRHS.size, n = m_numParams;
    ZoTMatrix<double> A(q + 1, n);
    ZoTVector<double> b(q + 1);
    for (int r = 0; r < q; ++r) {
        for (int c = 0; c < n; ++c)
            A(r, c) = m_inequalitiesLHS(r, c);
        b[r] = m_inequalitiesRHS[r];
    }
    for (int c = 0; c < n && c < a.size; ++c)
        A(q, c) = a[c];
    b[q] = rhs;
    m_inequalitiesLHS = std::move(A);
    m_inequalitiesRHS = std::move(b);
}

void ZoCNLSObjectiveFunction::SetInequalities(const ZoTMatrix<double>& A, const ZoTVector<double>& b) {
    m_inequalitiesLHS = A;
    m_inequalitiesRHS = b;
}

bool ZoCNLSObjectiveFunction::AddEquality(const ZoTVector<double>& a, double rhs) {
    const int p = m_equalitiesRHS.size, n = m_numParams;
    if (n < 1 || a.size != n)
        return false;
    ZoTMatrix<double> E(p + 1, n);
    ZoTVector<double> f(p + 1);
    for (int r = 0; r < p; ++r) {
        for (int c = 0; c < n; ++c)
            E(r, c) = m_equalitiesLHS(r, c);
        f[r] = m_equalitiesRHS[r];
    }
    for (int c = 0; c < n; ++c)
        E(p, c) = a[c];
    f[p] = rhs;
    const NSReducedEqualities reduced = reduceEqualities(E, f);
    if (!reduced.consistent)
        return false;
    if (reduced.rank == p)
        return true;  // implied by the equalities already there
    if (reduced.rank != p + 1)
        return false;
    m_equalityKernel = parametricSolution(reduced, m_freeIndices);
    m_equalitiesLHS = std::move(E);
    m_equalitiesRHS = std::move(f);
    return true;
}

bool ZoCNLSObjectiveFunction::AddEquality(int i, double v) {
    ZoTVector<double> unit(m_numParams);
    if (i < 0 || i >= m_numParams)
        return false;
    unit[i] = 1.0;
    return AddEquality(unit, v);
}

void ZoCNLSObjectiveFunction::SetEqualities(const ZoTMatrix<double>& E, const ZoTVector<double>& f) {
    m_equalitiesLHS = E;
    m_equalitiesRHS = f;
}

bool ZoCNLSObjectiveFunction::IsVariable(int i) const {
    if (m_equalityKernel.cols < 2)
        return false;
    for (int j = 1; j < m_equalityKernel.cols; ++j)
        if (std::abs(m_equalityKernel(i, j)) >= c_dVariableThreshold)
            return true;
    return false;
}

// Maximises x_i and -x_i over the inequalities (the programme adds x >= 0). Only an unbounded
// programme proves the parameter unbounded; anything the programme cannot settle counts as
// bounded.
bool ZoCNLSObjectiveFunction::IsBounded(int i) const {
    if (!IsVariable(i))
        return true;
    if (!HasInequalities())
        return false;
    for (double direction : {1.0, -1.0}) {
        ZoTVector<double> c(m_inequalitiesLHS.cols);
        c[i] = direction;
        ZoCLinearProgram programme(m_inequalitiesLHS, m_inequalitiesRHS, c);
        programme.Solve();
        const int status = programme.GetStatus();
        if (status == ZoCLinearProgram::eUnbounded)
            return false;
        if (status != ZoCLinearProgram::eOptimal)
            return true;
    }
    return true;
}

ZoTVector<double> ZoCNLSObjectiveFunction::BuildParamsFromFree(const ZoTVector<double>& z) const {
    const ZoTMatrix<double>& K = m_equalityKernel;
    if (z.size < K.cols - 1)
        throw std::invalid_argument("ZoCNLSObjectiveFunction: fewer free values than free variables");
    ZoTVector<double> x(K.rows);
    for (int r = 0; r < K.rows; ++r)
        x[r] = K(r, 0);
    for (int j = 1; j < K.cols; ++j)
        for (int r = 0; r < K.rows; ++r)
            x[r] += K(r, j) * z[j - 1];
    return x;
}

// A (K(:, 0) + K1 z) <= b  <=>  (A K1) z <= b - A K(:, 0).
void ZoCNLSObjectiveFunction::GetFreeVariablesInequalities(ZoTMatrix<double>& Af,
                                                           ZoTVector<double>& bf) const {
    if (!HasInequalities()) {
        Af = m_inequalitiesLHS;
        bf = m_inequalitiesRHS;
        return;
    }
    const ZoTMatrix<double> M = m_inequalitiesLHS * m_equalityKernel;
    bf = ZoTVector<double>(M.rows);
    Af = ZoTMatrix<double>(M.rows, M.cols - 1);
    for (int r = 0; r < M.rows; ++r) {
        bf[r] = m_inequalitiesRHS[r] - M(r, 0);
        for (int c = 1; c < M.cols; ++c)
            Af(r, c - 1) = M(r, c);
    }
}

ZoTMatrix<double> ZoCNLSObjectiveFunction::Jacobian(const ZoTVector<double>& z) {
    if (m_numMeasurements == 0)
        return ZoTMatrix<double>();
    ZoTVector<double> x = BuildParamsFromFree(z);
    const int k = m_freeIndices.size;
    ZoTMatrix<double> J(m_numMeasurements, k);
    for (int j = 0; j < k; ++j) {
        const ZoTVector<double> column =
            errorFDDerivatives(x, m_freeIndices[j], c_dJacobianStep, c_iJacobianOrder);
        for (int r = 0; r < J.rows && r < column.size; ++r)
            J(r, j) = column[r];
    }
    return J;
}

ZoTVector<double> ZoCNLSObjectiveFunction::errorFDDerivatives(ZoTVector<double>& x, int index, double h,
                                                              int order) {
    order = std::clamp(order, 1, 6);
    const double* coefficients = FiniteDifferenceStencil(order);
    const double x0 = x[index];
    ZoTVector<double> derivative(m_numMeasurements);
    const int first = -(order / 2), last = (order + 1) / 2;
    for (int offset = first; offset <= last; ++offset) {
        const double c = coefficients[offset - first];
        if (c == 0.0)
            continue;
        x[index] = x0 + offset * h;
        const ZoTVector<double> e = Error(x);
        if (e.size != m_numMeasurements)
            throw std::length_error(
                "ZoCNLSObjectiveFunction: Error() returned another number of residuals "
                "than declared");
        for (int r = 0; r < derivative.size; ++r)
            derivative[r] += c * e[r];
    }
    x[index] = x0;
    for (int r = 0; r < derivative.size; ++r)
        derivative[r] /= h;
    return derivative;
}

bool ZoCNLSObjectiveFunction::isFreeIndex(int i) const {
    for (int j = 0; j < m_freeIndices.size; ++j)
        if (m_freeIndices[j] == i)
            return true;
    return false;
}

// Covariance (J^T W J)^-1 of the free variables from a column-preserving QR of the weighted
// Jacobian: R is inverted up to the first negligible diagonal entry, R1^-1 R1^-T forms the
// covariance of the well-determined columns, and columns beyond the numerical rank get +inf.
ZoTMatrix<double> ZoCNLSObjectiveFunction::getCovariance(ZoTMatrix<double> J, ZoTVector<int>& rankDeficient,
                                                         double tol) {
    const int k = J.cols;
    rankDeficient = ZoTVector<int>();
    if (k == 0)
        return ZoTMatrix<double>();  // nothing free; LAPACK would get an empty matrix
    const ZoTVector<double> deviations = StdDev();
    for (int r = 0; r < J.rows && r < deviations.size; ++r)
        for (int c = 0; c < k; ++c)
            J(r, c) /= deviations[r];
    if (J.rows < k) {
        ZoTMatrix<double> square(k, k);
        for (int c = 0; c < k; ++c)
            for (int r = 0; r < J.rows; ++r)
                square(r, c) = J(r, c);
        J = std::move(square);
    }
    ZoTMatrix<double> R;
    ZoCPMatrix P(k);
    if (!lapack::qrpTriangle(J, R, P))
        return ZoTMatrix<double>();
    const ZoTVector<int>& order = P.order;

    // Inverse of the leading triangle, column by column, up to the numerical rank l.
    const double tolr = std::abs(R(0, 0)) * tol;
    int l = 0;
    for (int c = 0; c < k; ++c) {
        if (std::abs(R(c, c)) <= tolr)
            break;
        R(c, c) = 1.0 / R(c, c);
        for (int j = 0; j < c; ++j) {
            const double t = R(c, c) * R(j, c);
            R(j, c) = 0.0;
            for (int i = 0; i <= j; ++i)
                R(i, c) -= t * R(i, j);
        }
        l = c + 1;
    }
    // Upper triangle of R1^-1 R1^-T.
    for (int c = 0; c < l; ++c) {
        for (int j = 0; j < c; ++j) {
            const double t = R(j, c);
            for (int i = 0; i <= j; ++i)
                R(i, j) += t * R(i, c);
        }
        const double t = R(c, c);
        for (int i = 0; i <= c; ++i)
            R(i, c) *= t;
    }
    // Back to the input column order (lower triangle), singular columns marked with +inf.
    ZoTVector<double> diagonal(k);
    for (int j = 0; j < k; ++j) {
        const int jj = order[j];
        for (int i = 0; i <= j; ++i) {
            if (j >= l)
                R(i, j) = c_dInfinity;
            const int ii = order[i];
            if (ii > jj)
                R(ii, jj) = R(i, j);
            if (ii < jj)
                R(jj, ii) = R(i, j);
        }
        diagonal[jj] = R(j, j);
    }
    ZoTMatrix<double> covariance(k);
    for (int j = 0; j < k; ++j) {
        for (int i = 0; i < j; ++i)
            R(i, j) = R(j, i);
        R(j, j) = diagonal[j];
    }
    for (int c = 0; c < k; ++c)
        for (int r = 0; r < k; ++r)
            covariance(r, c) = R(r, c);
    rankDeficient = ZoTVector<int>(k - l);
    for (int j = l; j < k; ++j)
        rankDeficient[j - l] = order[j];
    return covariance;
}

ZoTMatrix<double> ZoCNLSObjectiveFunction::GetCovariance(const ZoTVector<double>& x, double tol) {
    const int n = m_numParams, k = m_freeIndices.size;
    ZoTMatrix<double> C(n);
    if (m_numMeasurements == 0) {
        for (int i = 0; i < n * n; ++i)
            C.data[i] = c_dInfinity;
        return C;
    }
    if (x.size != n)
        throw std::invalid_argument(
            "ZoCNLSObjectiveFunction::GetCovariance: x must have one entry per parameter");
    ZoTVector<double> z(k);
    for (int j = 0; j < k; ++j)
        z[j] = x[m_freeIndices[j]];
    ZoTVector<int> rankDeficient;
    const ZoTMatrix<double> Cf = getCovariance(Jacobian(z), rankDeficient, tol);
    if (Cf.rows != k)
        return ZoTMatrix<double>();
    for (int a = 0; a < k; ++a)
        for (int b = 0; b < k; ++b)
            C(m_freeIndices[a], m_freeIndices[b]) = Cf(a, b);
    for (int i = 0; i < n; ++i) {
        if (IsVariable(i))
            continue;
        for (int e = 0; e < n; ++e)
            C(i, e) = C(e, i) = 0.0;
    }
    // Dependent parameters: C = K1 Cf K1^T restricted to their rows and columns. Terms with a
    // zero kernel coefficient are skipped, so that an infinite variance does not turn into NaN
    // where the parameter does not depend on that free variable.
    const ZoTMatrix<double>& K = m_equalityKernel;
    for (int d = 0; d < n; ++d) {
        if (!IsVariable(d) || isFreeIndex(d))
            continue;
        for (int e = 0; e < n; ++e) {
            double sum = 0.0;
            for (int a = 0; a < k; ++a)
                for (int b = 0; b < k; ++b)
                    if (K(d, 1 + a) != 0.0 && K(e, 1 + b) != 0.0)
                        sum += K(d, 1 + a) * K(e, 1 + b) * Cf(b, a);
            C(d, e) = C(e, d) = sum;
        }
    }
    return C;
}

ZoTMatrix<double> ZoCNLSObjectiveFunction::GetCorrelation(const ZoTVector<double>& x, double tol) {
    return CorrelationOfCovariance(GetCovariance(x, tol));
}

ZoTMatrix<double> ZoCNLSObjectiveFunction::CorrelationOfCovariance(ZoTMatrix<double> C) {
    ZoTVector<double> deviation(C.rows);
    for (int i = 0; i < C.rows; ++i)
        deviation[i] = std::sqrt(C(i, i));
    for (int c = 0; c < C.cols; ++c)
        for (int r = 0; r < C.rows; ++r)
            C(r, c) /= deviation[r] * deviation[c];
    return C;
}

// det(J^T J) through its Cholesky factor: (prod U(i, i))^2. Without measurements J^T J is the
// k x k zero matrix, which is not positive definite, so the criterion is 0.
double ZoCNLSObjectiveFunction::GetDCriterionValue(const ZoTVector<double>& z) {
    const ZoTMatrix<double> J = Jacobian(z);
    const int k = z.size;
    ZoTMatrix<double> G(k);
    if (J.cols == k)
        G = ZoTransposedProduct(J, J);
    if (!cholesky(G))
        return 0.0;
    double product = 1.0;
    for (int i = 0; i < k; ++i)
        product *= G(i, i);
    return product * product;
}
