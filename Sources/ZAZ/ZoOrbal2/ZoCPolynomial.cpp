#include "ZoCPolynomial.h"

#include "ZoLapack.h"

#include <algorithm>
#include <limits>
#include <vector>

ZoCPolynomial::ZoCPolynomial(size_t degree) : m_sDegree(degree), m_pdCoefficients(new double[degree + 1]()) {}

ZoCPolynomial::ZoCPolynomial(const ZoCPolynomial& other) : m_sDegree(other.m_sDegree) {
    if (!other.m_pdCoefficients)
        return;
    m_pdCoefficients = new double[m_sDegree + 1];
    std::copy(other.m_pdCoefficients, other.m_pdCoefficients + m_sDegree + 1, m_pdCoefficients);
}

ZoCPolynomial& ZoCPolynomial::operator=(const ZoCPolynomial& other) {
    if (this == &other)
        return *this;
    ZoCPolynomial copy(other);
    std::swap(m_sDegree, copy.m_sDegree);
    std::swap(m_pdCoefficients, copy.m_pdCoefficients);
    return *this;
}

ZoCPolynomial::~ZoCPolynomial() {
    delete[] m_pdCoefficients;
}

// Running powers from x^0 upwards (not Horner), the order in which the fit formed its matrix.
double ZoCPolynomial::operator()(double x) const {
    if (!m_pdCoefficients)
        return std::numeric_limits<double>::quiet_NaN();
    double sum = 0.0, power = 1.0;
    for (size_t k = 0; k <= m_sDegree; ++k) {
        sum += m_pdCoefficients[k] * power;
        power *= x;
    }
    return sum;
}

int ZoCPolynomial::GetDegree() const {
    return m_pdCoefficients ? static_cast<int>(m_sDegree) : -1;
}

ZoCPolynomial ZoCPolynomial::GetDerivative() {
    if (!m_pdCoefficients)
        return ZoCPolynomial();
    if (m_sDegree == 0)
        return ZoCPolynomial(0);
    ZoCPolynomial derivative(m_sDegree - 1);
    for (size_t k = 1; k <= m_sDegree; ++k)
        derivative[k - 1] = static_cast<double>(k) * m_pdCoefficients[k];
    return derivative;
}

// Samples that are not finite, or whose powers overflow, give an invalid polynomial: the
// least-squares solve refuses a matrix with NaN or Inf. So does a system too large to index.
ZoCPolynomial ZoCPolynomial::Fit(size_t n, double* x, double* y, size_t degree) {
    const size_t limit = static_cast<size_t>(std::numeric_limits<int>::max());
    if (degree >= limit || n > limit / (degree + 1) || (n > 0 && (!x || !y)))
        return ZoCPolynomial();
    const int rows = static_cast<int>(n), cols = static_cast<int>(degree + 1);
    ZoTMatrix<double> V(rows, cols);
    ZoTVector<double> b(rows);
    for (int i = 0; i < rows; ++i) {
        double power = 1.0;
        for (int k = 0; k < cols; ++k) {
            V(i, k) = power;
            power *= x[i];
        }
        b[i] = y[i];
    }
    ZoTVector<double> c(cols);
    if (!lapack::lssolve(V, b, c, nullptr))
        return ZoCPolynomial();
    ZoCPolynomial fitted(degree);
    std::copy(c.data, c.data + cols, fitted.m_pdCoefficients);
    return fitted;
}

ZoCPolynomial ZoCPolynomial::Fit(size_t n, float* x, float* y, size_t degree) {
    if (n > 0 && (!x || !y))
        return ZoCPolynomial();
    std::vector<double> xd(x, x + n), yd(y, y + n);
    return Fit(n, xd.data(), yd.data(), degree);
}
