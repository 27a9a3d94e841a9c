#include "ZoLapack.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <limits>
#include <vector>

// Reference LAPACK through its Fortran symbols. Every argument is passed by address; matrices
// are column-major with a leading dimension (LDA, LDB, ...) of at least max(1, rows). The
// trailing size_t arguments are the hidden lengths of character arguments (gfortran ABI).
// INFO: 0 success; -i the i-th argument was illegal; > 0 a routine-specific numerical failure.
// A work length LWORK of -1 is a workspace query: the optimal length comes back in WORK[0].
extern "C" {
// Least squares min ||B - A X|| via SVD. A: M x N (overwritten by its right singular vectors),
// B: LDB x NRHS with LDB >= max(M, N) (overwritten by X in its first N rows), S: min(M, N)
// singular values (descending), RCOND: singular values <= RCOND * S(1) count as zero (< 0:
// machine precision), RANK: the effective rank. INFO > 0: the SVD did not converge.
void dgelss_(const int* m, const int* n, const int* nrhs, double* a, const int* lda, double* b,
             const int* ldb, double* s, const double* rcond, int* rank, double* work, const int* lwork,
             int* info);
void sgelss_(const int* m, const int* n, const int* nrhs, float* a, const int* lda, float* b, const int* ldb,
             float* s, const float* rcond, int* rank, float* work, const int* lwork, int* info);
// A = U S VT. JOBU/JOBVT 'A': all M columns of U (LDU >= M), all N rows of VT (LDVT >= N).
// A is destroyed. INFO > 0: the bidiagonal QR iteration did not converge.
void dgesvd_(const char* jobu, const char* jobvt, const int* m, const int* n, double* a, const int* lda,
             double* s, double* u, const int* ldu, double* vt, const int* ldvt, double* work,
             const int* lwork, int* info, std::size_t jobuLength, std::size_t jobvtLength);
void sgesvd_(const char* jobu, const char* jobvt, const int* m, const int* n, float* a, const int* lda,
             float* s, float* u, const int* ldu, float* vt, const int* ldvt, float* work, const int* lwork,
             int* info, std::size_t jobuLength, std::size_t jobvtLength);
// A P = Q R with column pivoting. JPVT (N, one-based on return): on entry nonzero marks a
// column moved to the front and kept there, zero a free column. A returns R in its upper
// triangle and the Householder vectors below it; TAU (min(M, N)) their scalars.
void dgeqp3_(const int* m, const int* n, double* a, const int* lda, int* jpvt, double* tau, double* work,
             const int* lwork, int* info);
// C := op(Q) C (SIDE 'L') with Q the product of K reflectors stored in A as by DGEQP3/DGEQRF.
// C: M x N with LDC >= M; A: LDA x K with LDA >= M for SIDE 'L'.
void dormqr_(const char* side, const char* trans, const int* m, const int* n, const int* k, const double* a,
             const int* lda, const double* tau, double* c, const int* ldc, double* work, const int* lwork,
             int* info, std::size_t sideLength, std::size_t transLength);
// Cholesky A = U^T U (UPLO 'U'), U in the upper triangle; the strict lower triangle is not
// referenced. INFO > 0: the leading minor of that order is not positive definite.
void dpotrf_(const char* uplo, const int* n, double* a, const int* lda, int* info, std::size_t uploLength);
// (U^T U)^-1 from the factor of DPOTRF, into the upper triangle. INFO > 0: U(i, i) is zero.
void dpotri_(const char* uplo, const int* n, double* a, const int* lda, int* info, std::size_t uploLength);
}

// Reference LAPACK reports an illegal argument through XERBLA, whose stock version prints a
// line and STOPs the process. A host embeds this library and must never be stopped: this one
// takes its place, logs the routine and the argument, and returns, so that the routine comes
// back with INFO < 0 and the wrapper returns false. (The wrappers check shapes and values
// first; this is the last guard, not the contract.)
extern "C" void xerbla_(const char* routine, const int* info, std::size_t routineLength) {
    ZoDebugPrint("(LAPACK) illegal argument %d in %.*s\n", info ? *info : 0, static_cast<int>(routineLength),
                 routine ? routine : "");
}

namespace {

void gelss(int m, int n, int nrhs, double* a, int lda, double* b, int ldb, double* s, double rcond, int* rank,
           double* work, int lwork, int* info) {
    dgelss_(&m, &n, &nrhs, a, &lda, b, &ldb, s, &rcond, rank, work, &lwork, info);
}
void gelss(int m, int n, int nrhs, float* a, int lda, float* b, int ldb, float* s, float rcond, int* rank,
           float* work, int lwork, int* info) {
    sgelss_(&m, &n, &nrhs, a, &lda, b, &ldb, s, &rcond, rank, work, &lwork, info);
}
void gesvd(int m, int n, double* a, double* s, double* u, double* vt, double* work, int lwork, int* info) {
    dgesvd_("A", "A", &m, &n, a, &m, s, u, &m, vt, &n, work, &lwork, info, 1, 1);
}
void gesvd(int m, int n, float* a, float* s, float* u, float* vt, float* work, int lwork, int* info) {
    sgesvd_("A", "A", &m, &n, a, &m, s, u, &m, vt, &n, work, &lwork, info, 1, 1);
}

// Reference LAPACK does not promise to terminate on NaN or Inf (the SVD iteration of xGELSS
// and xGESVD spins on them), so no non-finite value is ever handed over.
template <typename T>
bool allFinite(const T* values, std::size_t count) {
    return std::all_of(values, values + count, [](T v) { return std::isfinite(v); });
}
template <typename T>
bool allFinite(const ZoTMatrix<T>& A) {
    return allFinite(A.data, static_cast<std::size_t>(A.rows) * static_cast<std::size_t>(A.cols));
}

template <typename T>
int optimalLength(T queried) {
    return std::max(1, static_cast<int>(queried));
}

// Solves for all columns of B (m x nrhs, stored in `rhs` with leading dimension max(m, n)).
// The empty system is refused: LAPACK requires leading dimensions of at least 1 and there is
// nothing to solve for.
template <typename T>
bool gelssSolve(ZoTMatrix<T>& A, std::vector<T>& rhs, int nrhs, T* cond) {
    const int m = A.rows, n = A.cols;
    if (m == 0 || n == 0 || nrhs == 0 || !allFinite(A) || !allFinite(rhs.data(), rhs.size()))
        return false;
    const int ldb = std::max(m, n);
    std::vector<T> singular(static_cast<size_t>(std::min(m, n)));
    int rank = 0, info = 0;
    T query = 0;
    gelss(m, n, nrhs, A.data, m, rhs.data(), ldb, singular.data(), T(-1), &rank, &query, -1, &info);
    if (info != 0)
        return false;
    std::vector<T> work(static_cast<size_t>(optimalLength(query)));
    gelss(m, n, nrhs, A.data, m, rhs.data(), ldb, singular.data(), T(-1), &rank, work.data(),
          static_cast<int>(work.size()), &info);
    if (info != 0)
        return false;
    // A zero singular value means rank deficiency: the condition is infinite (also for the
    // zero matrix, where the quotient would be 0 / 0).
    if (cond)
        *cond =
            singular.back() == T(0) ? std::numeric_limits<T>::infinity() : singular.front() / singular.back();
    return true;
}

template <typename T>
bool lssolveVector(ZoTMatrix<T>& A, const ZoTVector<T>& b, ZoTVector<T>& x, T* cond) {
    const int m = A.rows, n = A.cols;
    if (b.size != m || x.size != n)
        return false;
    std::vector<T> rhs(static_cast<size_t>(std::max(m, n)), T(0));
    std::copy(b.data, b.data + m, rhs.begin());
    if (!gelssSolve(A, rhs, 1, cond))
        return false;
    std::copy(rhs.begin(), rhs.begin() + n, x.data);
    return true;
}

template <typename T>
bool lssolveMatrix(ZoTMatrix<T>& A, const ZoTMatrix<T>& B, ZoTMatrix<T>& X, T* cond) {
    const int m = A.rows, n = A.cols, nrhs = B.cols;
    if (B.rows != m || X.cols != nrhs || X.rows != n)
        return false;
    const int ldb = std::max(m, n);
    std::vector<T> rhs(static_cast<size_t>(ldb) * static_cast<size_t>(nrhs), T(0));
    for (int c = 0; c < nrhs; ++c)
        for (int r = 0; r < m; ++r)
            rhs[static_cast<size_t>(c) * static_cast<size_t>(ldb) + static_cast<size_t>(r)] = B(r, c);
    if (!gelssSolve(A, rhs, nrhs, cond))
        return false;
    for (int c = 0; c < nrhs; ++c)
        for (int r = 0; r < n; ++r)
            X(r, c) = rhs[static_cast<size_t>(c) * static_cast<size_t>(ldb) + static_cast<size_t>(r)];
    return true;
}

template <typename T>
bool svdAll(ZoTMatrix<T>& A, ZoTMatrix<T>& U, ZoTVector<T>& s, ZoTMatrix<T>& VT) {
    const int m = A.rows, n = A.cols;
    if (U.rows != m || U.cols != m || VT.rows != n || VT.cols != n || s.size != std::min(m, n))
        return false;
    if (m == 0 || n == 0 || !allFinite(A))
        return false;
    int info = 0;
    T query = 0;
    gesvd(m, n, A.data, s.data, U.data, VT.data, &query, -1, &info);
    if (info != 0)
        return false;
    std::vector<T> work(static_cast<size_t>(optimalLength(query)));
    gesvd(m, n, A.data, s.data, U.data, VT.data, work.data(), static_cast<int>(work.size()), &info);
    return info == 0;
}

// Factorisation of a matrix without rows or columns: nothing to factor, Q the identity and the
// columns kept in order. Handled here because LAPACK rejects leading dimensions of 0.
void qrpEmpty(ZoTMatrix<double>& Q, ZoTMatrix<double>& R, ZoCPMatrix& P) {
    Q = ZoTMatrix<double>::Identity(Q.rows);
    R = ZoTMatrix<double>(R.rows, R.cols);
    for (int j = 0; j < P.order.size; ++j)
        P.order[j] = j;
}

// Q := Q_reflectors * I, the explicit orthogonal factor.
bool formQ(const ZoTMatrix<double>& factored, const std::vector<double>& tau, ZoTMatrix<double>& Q) {
    const int m = factored.rows, k = static_cast<int>(tau.size());
    Q = ZoTMatrix<double>::Identity(m);
    int info = 0, lwork = -1;
    double query = 0;
    dormqr_("L", "N", &m, &m, &k, factored.data, &m, tau.data(), Q.data, &m, &query, &lwork, &info, 1, 1);
    if (info != 0)
        return false;
    std::vector<double> work(static_cast<size_t>(optimalLength(query)));
    lwork = static_cast<int>(work.size());
    dormqr_("L", "N", &m, &m, &k, factored.data, &m, tau.data(), Q.data, &m, work.data(), &lwork, &info, 1,
            1);
    return info == 0;
}

// Back substitution with the leading r x r triangle of R for several right-hand sides at once
// (the columns of rhs, r rows each).
void solveUpper(const ZoTMatrix<double>& R, int r, ZoTMatrix<double>& rhs) {
    for (int c = 0; c < rhs.cols; ++c)
        for (int i = r - 1; i >= 0; --i) {
            double sum = rhs(i, c);
            for (int j = i + 1; j < r; ++j)
                sum -= R(i, j) * rhs(j, c);
            rhs(i, c) = sum / R(i, i);
        }
}

}  // namespace

namespace lapack {

bool lssolve(ZoTMatrix<double>& A, const ZoTVector<double>& b, ZoTVector<double>& x, double* cond) {
    return lssolveVector(A, b, x, cond);
}
bool lssolve(ZoTMatrix<float>& A, const ZoTVector<float>& b, ZoTVector<float>& x, float* cond) {
    return lssolveVector(A, b, x, cond);
}
bool lssolve(ZoTMatrix<double>& A, const ZoTMatrix<double>& B, ZoTMatrix<double>& X, double* cond) {
    return lssolveMatrix(A, B, X, cond);
}
bool lssolve(ZoTMatrix<float>& A, const ZoTMatrix<float>& B, ZoTMatrix<float>& X, float* cond) {
    return lssolveMatrix(A, B, X, cond);
}

bool svd(ZoTMatrix<double>& A, ZoTMatrix<double>& U, ZoTVector<double>& s, ZoTMatrix<double>& VT) {
    return svdAll(A, U, s, VT);
}
bool svd(ZoTMatrix<float>& A, ZoTMatrix<float>& U, ZoTVector<float>& s, ZoTMatrix<float>& VT) {
    return svdAll(A, U, s, VT);
}

namespace {
// DGEQP3 on A (m x n, both at least 1, all finite): R and the Householder vectors in A, the
// reflectors' scalars in tau, P.order from its marks to the columns' order. False where LAPACK
// reports an error.
bool factorQRP(ZoTMatrix<double>& A, std::vector<double>& tau, ZoCPMatrix& P) {
    const int m = A.rows, n = A.cols;
    std::vector<int> pivots(P.order.data, P.order.data + n);
    tau.assign(static_cast<size_t>(std::min(m, n)), 0.0);
    int info = 0, lwork = -1;
    double query = 0;
    dgeqp3_(&m, &n, A.data, &m, pivots.data(), tau.data(), &query, &lwork, &info);
    if (info != 0)
        return false;
    std::vector<double> work(static_cast<size_t>(optimalLength(query)));
    lwork = static_cast<int>(work.size());
    dgeqp3_(&m, &n, A.data, &m, pivots.data(), tau.data(), work.data(), &lwork, &info);
    if (info != 0)
        return false;
    for (int j = 0; j < n; ++j)
        P.order[j] = pivots[static_cast<size_t>(j)] - 1;
    return true;
}

void copyTriangle(const ZoTMatrix<double>& A, ZoTMatrix<double>& R) {
    for (int c = 0; c < A.cols; ++c)
        for (int r = 0; r < A.rows; ++r)
            R(r, c) = r <= std::min(A.rows - 1, c) ? A(r, c) : 0.0;
}
}  // namespace

bool qrp(ZoTMatrix<double>& A, ZoTMatrix<double>& Q, ZoTMatrix<double>& R, ZoCPMatrix& P) {
    const int m = A.rows, n = A.cols;
    if (Q.rows != m || Q.cols != m || R.rows != m || R.cols != n || P.order.size != n)
        return false;
    if (m == 0 || n == 0) {
        qrpEmpty(Q, R, P);
        return true;
    }
    std::vector<double> tau;
    if (!allFinite(A) || !factorQRP(A, tau, P))
        return false;
    copyTriangle(A, R);
    return formQ(A, tau, Q);
}

bool qrpTriangle(ZoTMatrix<double>& A, ZoTMatrix<double>& R, ZoCPMatrix& P) {
    const int m = A.rows, n = A.cols;
    std::vector<double> tau;
    if (m < n || n == 0 || P.order.size != n || !allFinite(A) || !factorQRP(A, tau, P))
        return false;
    R = ZoTMatrix<double>(m, n);
    copyTriangle(A, R);
    return true;
}

ZoTMatrix<double> qrp_kernel(ZoTMatrix<double>& A, ZoTVector<double>& b, ZoCPMatrix& P) {
    const int m = A.rows, n = A.cols;
    ZoTMatrix<double> Q(m), R(m, n);
    if (b.size != m || !allFinite(b.data, static_cast<std::size_t>(m)) || !qrp(A, Q, R, P))
        return ZoTMatrix<double>();
    // Absolute tolerance: rows of R whose trailing entries are all below it count as zero.
    const double tolerance = std::max(m, n) * 10.0 * 2.220446049250313e-16;
    int rank = std::min(m, n);
    auto trailingRowIsZero = [&](int row) {
        for (int c = row; c < n; ++c)
            if (std::abs(R(row, c)) > tolerance)
                return false;
        return true;
    };
    while (rank > 0 && trailingRowIsZero(rank - 1))
        --rank;
    // Right-hand sides: Q^T b in column 0, then R12 (the non-basic columns of the first rows).
    ZoTMatrix<double> rhs(rank, 1 + n - rank);
    for (int i = 0; i < rank; ++i) {
        for (int r = 0; r < m; ++r)
            rhs(i, 0) += Q(r, i) * b[r];
        for (int j = 0; j < n - rank; ++j)
            rhs(i, 1 + j) = R(i, rank + j);
    }
    solveUpper(R, rank, rhs);
    ZoTMatrix<double> K(n, n - rank + 1);
    for (int k = 0; k < rank; ++k) {
        K(P.order[k], 0) = rhs(k, 0);
        for (int j = 0; j < n - rank; ++j)
            K(P.order[k], 1 + j) = -rhs(k, 1 + j);
    }
    for (int j = 0; j < n - rank; ++j)
        K(P.order[rank + j], 1 + j) = 1.0;
    return K;
}

}  // namespace lapack

template <typename T>
bool cholesky(ZoTMatrix<T>& A) {
    if (A.rows != A.cols)
        return false;
    const int n = A.rows;
    // LAPACK reports an error for order 0, and a non-finite matrix has no factor.
    if (n == 0 || !allFinite(A))
        return false;
    int info = 0;
    dpotrf_("U", &n, A.data, &n, &info, 1);
    if (info != 0)
        return false;
    for (int c = 0; c < n; ++c)
        for (int r = c + 1; r < n; ++r)
            A(r, c) = 0;
    return true;
}

template <typename T>
void choleskyInverse(const ZoTMatrix<T>& U, ZoTMatrix<T>& Ainv) {
    Ainv = U;
    const int n = Ainv.rows;
    if (n == 0 || Ainv.cols != n)
        return;
    if (!allFinite(Ainv)) {  // no inverse to report: every entry NaN rather than a stale copy
        std::fill(Ainv.data, Ainv.data + static_cast<std::size_t>(n) * static_cast<std::size_t>(n),
                  std::numeric_limits<T>::quiet_NaN());
        return;
    }
    int info = 0;
    dpotri_("U", &n, Ainv.data, &n, &info, 1);
    for (int c = 0; c < n; ++c)
        for (int r = c + 1; r < n; ++r)
            Ainv(r, c) = Ainv(c, r);
}

template bool cholesky<double>(ZoTMatrix<double>&);
template void choleskyInverse<double>(const ZoTMatrix<double>&, ZoTMatrix<double>&);
