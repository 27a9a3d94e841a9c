// Dense matrix owning its elements, stored column by column so that the array can be handed to
// LAPACK as it is: element (r, c) is data[c * rows + r].
#pragma once

#include "ZoDebugPrint.h"
#include "ZoTVector.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <stdexcept>
#include <utility>

template <typename T>
class ZoTMatrix {
  public:
    int rows = 0;
    int cols = 0;
    T* data = nullptr;  // owned; null when rows * cols is 0

    ZoTMatrix() = default;
    // A column count of -1 makes the matrix square.
    explicit ZoTMatrix(int numRows, int numCols = -1) { allocate(numRows, numCols < 0 ? numRows : numCols); }
    ZoTMatrix(const ZoTMatrix& other) {
        allocate(other.rows, other.cols);
        std::copy(other.data, other.data + count(), data);
    }
    ZoTMatrix(ZoTMatrix&& other) noexcept
        : rows(std::exchange(other.rows, 0)),
          cols(std::exchange(other.cols, 0)),
          data(std::exchange(other.data, nullptr)) {}
    // Not virtual: matrices are never deleted through a base pointer.
    ~ZoTMatrix() { delete[] data; }

    ZoTMatrix& operator=(const ZoTMatrix& other) {
        if (this == &other)
            return *this;
        ZoTMatrix copy(other);
        swap(copy);
        return *this;
    }
    ZoTMatrix& operator=(ZoTMatrix&& other) noexcept {
        swap(other);
        return *this;
    }
    void swap(ZoTMatrix& other) noexcept {
        std::swap(rows, other.rows);
        std::swap(cols, other.cols);
        std::swap(data, other.data);
    }

    static ZoTMatrix Identity(int numRows, int numCols = -1) {
        ZoTMatrix identity(numRows, numCols);
        const int diagonal = std::min(identity.rows, identity.cols);
        for (int i = 0; i < diagonal; ++i)
            identity(i, i) = 1;
        return identity;
    }

    // Keeps the content when the shape does not change; otherwise all elements become zero.
    void Resize(int numRows, int numCols) {
        if (numRows == rows && numCols == cols)
            return;
        ZoTMatrix fresh(numRows, numCols);
        swap(fresh);
    }

    T& operator()(int r, int c) { return data[c * rows + r]; }
    const T& operator()(int r, int c) const { return data[c * rows + r]; }

    virtual void Transpose();

    // No shape check: callers pass conforming operands.
    ZoTMatrix operator*(const ZoTMatrix& other) const {
        ZoTMatrix product(rows, other.cols);
        for (int c = 0; c < other.cols; ++c)
            for (int k = 0; k < cols; ++k)
                for (int r = 0; r < rows; ++r)
                    product(r, c) += (*this)(r, k) * other(k, c);
        return product;
    }
    ZoTVector<T> operator*(const ZoTVector<T>& v) const {
        ZoTVector<T> product(rows);
        for (int c = 0; c < cols; ++c)
            for (int r = 0; r < rows; ++r)
                product[r] += (*this)(r, c) * v[c];
        return product;
    }

    // Largest absolute row sum; 0 without rows.
    T NormInf() const {
        T best = 0;
        for (int r = 0; r < rows; ++r) {
            T sum = 0;
            for (int c = 0; c < cols; ++c)
                sum += std::abs((*this)(r, c));
            best = std::max(best, sum);
        }
        return best;
    }

    ZoTVector<T> Row(int r) const {
        ZoTVector<T> row(cols);
        for (int c = 0; c < cols; ++c)
            row[c] = (*this)(r, c);
        return row;
    }
    ZoTVector<T> Column(int c) const {
        ZoTVector<T> column(rows);
        for (int r = 0; r < rows; ++r)
            column[r] = (*this)(r, c);
        return column;
    }

    bool Invert();
    void Print() const;

  private:
    int count() const { return rows * cols; }
    // Element access computes c * rows + r in int, so the element count must fit in an int.
    void allocate(int numRows, int numCols) {
        if (static_cast<long long>(std::max(numRows, 0)) * std::max(numCols, 0) > INT_MAX)
            throw std::length_error("ZoTMatrix: rows x cols exceeds the int range");
        rows = std::max(numRows, 0);
        cols = std::max(numCols, 0);
        data = count() > 0 ? new T[count()]() : nullptr;
    }
    void swapRows(int a, int b) {
        for (int c = 0; c < cols; ++c)
            std::swap((*this)(a, c), (*this)(b, c));
    }
};

template <typename T>
void ZoTMatrix<T>::Transpose() {
    if (rows == cols) {
        for (int c = 0; c < cols; ++c)
            for (int r = c + 1; r < rows; ++r)
                std::swap((*this)(r, c), (*this)(c, r));
        return;
    }
    const ZoTMatrix original(*this);
    std::swap(rows, cols);
    for (int r = 0; r < original.rows; ++r)
        for (int c = 0; c < original.cols; ++c)
            (*this)(c, r) = original(r, c);
}

// LU decomposition with partial row pivoting on a copy, so that a singular matrix leaves this
// one untouched. Non-square matrices have no inverse and are refused as well.
template <typename T>
bool ZoTMatrix<T>::Invert() {
    if (rows != cols)
        return false;
    const int n = rows;
    ZoTMatrix lu(*this);
    ZoTVector<int> permutation(n);
    for (int i = 0; i < n; ++i)
        permutation[i] = i;
    for (int k = 0; k < n; ++k) {
        int pivot = k;
        for (int r = k + 1; r < n; ++r)
            if (std::abs(lu(r, k)) > std::abs(lu(pivot, k)))
                pivot = r;
        if (lu(pivot, k) == T(0))
            return false;
        if (pivot != k) {
            lu.swapRows(pivot, k);
            std::swap(permutation[pivot], permutation[k]);
        }
        for (int r = k + 1; r < n; ++r) {
            lu(r, k) /= lu(k, k);
            for (int c = k + 1; c < n; ++c)
                lu(r, c) -= lu(r, k) * lu(k, c);
        }
    }
    // Column j of the inverse solves L U x = P e_j.
    ZoTMatrix inverse(n);
    for (int j = 0; j < n; ++j) {
        for (int r = 0; r < n; ++r)
            inverse(r, j) = permutation[r] == j ? T(1) : T(0);
        for (int r = 1; r < n; ++r)
            for (int k = 0; k < r; ++k)
                inverse(r, j) -= lu(r, k) * inverse(k, j);
        for (int r = n - 1; r >= 0; --r) {
            for (int k = r + 1; k < n; ++k)
                inverse(r, j) -= lu(r, k) * inverse(k, j);
            inverse(r, j) /= lu(r, r);
        }
    }
    swap(inverse);
    return true;
}

// At most ten rows of at most ten elements, one log entry per row.
template <typename T>
void ZoTMatrix<T>::Print() const {
    ZoDebugPrint("%i x %i-matrix:\n", rows, cols);
    const int shownRows = std::min(rows, 10);
    const int shownCols = std::min(cols, 10);
    for (int r = 0; r < shownRows; ++r) {
        for (int c = 0; c < shownCols; ++c)
            ZoPrintElement((*this)(r, c), c, cols);
        ZoDebugPrint("\n");
    }
}

// Product of the transpose of A with B, the workhorse of normal equations.
template <typename T>
ZoTMatrix<T> ZoTransposedProduct(const ZoTMatrix<T>& a, const ZoTMatrix<T>& b) {
    ZoTMatrix<T> product(a.cols, b.cols);
    for (int c = 0; c < b.cols; ++c)
        for (int r = 0; r < a.cols; ++r) {
            T sum = 0;
            for (int k = 0; k < a.rows; ++k)
                sum += a(k, r) * b(k, c);
            product(r, c) = sum;
        }
    return product;
}
