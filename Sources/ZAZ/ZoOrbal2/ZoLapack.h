// The library's types handed to reference LAPACK: least squares, singular value decomposition,
// pivoted QR with the parametrisation of a linear system's solution set, and Cholesky.
//
// Every function overwrites its first argument (LAPACK factors in place); pass a copy when the
// matrix is still needed. Failures are silent false results, outputs then partly written.
#pragma once

#include "ZoCPMatrix.h"
#include "ZoTMatrix.h"
#include "ZoTVector.h"

namespace lapack {

// Minimum-norm least-squares solution of A x = b through the SVD (xGELSS). cond, when given,
// receives the largest over the smallest singular value (infinite for a rank-deficient A).
// False when b does not have rows(A) entries, x does not have cols(A) entries, A is empty, A or
// b holds a NaN or an infinity, or LAPACK reports an error. Every wrapper below refuses
// non-finite input the same way.
bool lssolve(ZoTMatrix<double>& A, const ZoTVector<double>& b, ZoTVector<double>& x, double* cond);
bool lssolve(ZoTMatrix<float>& A, const ZoTVector<float>& b, ZoTVector<float>& x, float* cond);
// The same for every column of B; X must be cols(A) x cols(B).
bool lssolve(ZoTMatrix<double>& A, const ZoTMatrix<double>& B, ZoTMatrix<double>& X, double* cond);
bool lssolve(ZoTMatrix<float>& A, const ZoTMatrix<float>& B, ZoTMatrix<float>& X, float* cond);

// A = U diag(s) VT with all of U (m x m) and VT (n x n); the caller sizes U, s (min(m, n)) and
// VT. Wrongly sized outputs are refused with false rather than overrun.
bool svd(ZoTMatrix<double>& A, ZoTMatrix<double>& U, ZoTVector<double>& s, ZoTMatrix<double>& VT);
bool svd(ZoTMatrix<float>& A, ZoTMatrix<float>& U, ZoTVector<float>& s, ZoTMatrix<float>& VT);

// A P = Q R with column pivoting (DGEQP3, DORMQR). On entry P.order marks leading columns
// (nonzero: moved to the front and not pivoted) and free columns (zero: pivoted); on return
// P.order[j] is the input column at position j. Q must be m x m, R m x n, P n entries.
bool qrp(ZoTMatrix<double>& A, ZoTMatrix<double>& Q, ZoTMatrix<double>& R, ZoCPMatrix& P);
// R and P of qrp, to the bit, without forming Q (for a tall A, forming the square Q costs several
// times the factorisation). A must have at least as many rows as columns and one column; R is
// sized here. False as qrp, or for an empty or wide A.
bool qrpTriangle(ZoTMatrix<double>& A, ZoTMatrix<double>& R, ZoCPMatrix& P);

// All solutions of A x = b as x = K(:, 0) + sum_j t_j K(:, j), j >= 1: column 0 is the basic
// solution with the free variables at 0, column 1 + j moves the j-th free variable by 1.
// An empty 0 x 0 matrix when the factorisation fails or b does not have rows(A) entries.
ZoTMatrix<double> qrp_kernel(ZoTMatrix<double>& A, ZoTVector<double>& b, ZoCPMatrix& P);

}  // namespace lapack

// A is replaced by its upper Cholesky factor U, A = U^T U (DPOTRF); entries below the diagonal
// become 0. False when A is not square, empty (LAPACK has no factorisation of order 0), not
// finite or not positive definite.
template <typename T>
bool cholesky(ZoTMatrix<T>& A);

// Ainv = (U^T U)^-1 as a full symmetric matrix, from an upper factor U (DPOTRI); all NaN when U
// is not finite.
template <typename T>
void choleskyInverse(const ZoTMatrix<T>& U, ZoTMatrix<T>& Ainv);
