// Polynomial in one variable with coefficients in ascending powers, fitted to samples by
// linear least squares. A polynomial without coefficients is invalid (a failed fit).
#pragma once

#include <cstddef>

class ZoCPolynomial {
  public:
    ZoCPolynomial() = default;
    explicit ZoCPolynomial(size_t degree);
    ZoCPolynomial(const ZoCPolynomial& other);
    ZoCPolynomial& operator=(const ZoCPolynomial& other);
    ~ZoCPolynomial();

    // Coefficient of x^k; k must not exceed the degree and the polynomial must be valid.
    double& operator[](size_t k) { return m_pdCoefficients[k]; }
    const double& operator[](size_t k) const { return m_pdCoefficients[k]; }
    explicit operator bool() const { return m_pdCoefficients != nullptr; }
    // NaN for an invalid polynomial.
    double operator()(double x) const;
    // -1 for an invalid polynomial.
    int GetDegree() const;
    ZoCPolynomial GetDerivative();

    // Least-squares fit of the given degree to n points; the minimum-norm solution when the
    // points do not determine it. Invalid when the solve fails (no points, a NaN or an infinity
    // among the samples or their powers, null arrays, sizes beyond int).
    static ZoCPolynomial Fit(size_t n, double* x, double* y, size_t degree);
    static ZoCPolynomial Fit(size_t n, float* x, float* y, size_t degree);

  private:
    size_t m_sDegree = 0;
    double* m_pdCoefficients = nullptr;  // m_sDegree + 1 entries, owned
};
