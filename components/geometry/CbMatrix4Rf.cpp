// 4x4 homogeneous transformation.
#include "Geometry.h"

const CbMatrix4Rf c_matIdentity;

CbMatrix4Rf::CbMatrix4Rf() : m_e{1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1} {}

CbMatrix4Rf CbMatrix4Rf::FromRows(const std::array<float, 16>& rowMajor) {
    CbMatrix4Rf m;
    for (int r = 0; r < 4; ++r)
        for (int c = 0; c < 4; ++c) m(r, c) = rowMajor[static_cast<size_t>(4 * r + c)];
    return m;
}

CbMatrix4Rf CbMatrix4Rf::Translation(float x, float y, float z) {
    CbMatrix4Rf m;
    m[12] = x;
    m[13] = y;
    m[14] = z;
    return m;
}

CbMatrix4Rf CbMatrix4Rf::RotationX(float a) {
    const float c = std::cos(a), s = std::sin(a);
    return FromRows({1, 0, 0, 0, 0, c, -s, 0, 0, s, c, 0, 0, 0, 0, 1});
}

CbMatrix4Rf CbMatrix4Rf::RotationY(float a) {
    const float c = std::cos(a), s = std::sin(a);
    return FromRows({c, 0, s, 0, 0, 1, 0, 0, -s, 0, c, 0, 0, 0, 0, 1});
}

CbMatrix4Rf CbMatrix4Rf::RotationZ(float a) {
    const float c = std::cos(a), s = std::sin(a);
    return FromRows({c, -s, 0, 0, s, c, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1});
}

CbMatrix4Rf CbMatrix4Rf::Scaling(float s) { return FromRows({s, 0, 0, 0, 0, s, 0, 0, 0, 0, s, 0, 0, 0, 0, 1}); }

CbMatrix4Rf CbMatrix4Rf::operator*(const CbMatrix4Rf& o) const {
    CbMatrix4Rf m;
    for (int r = 0; r < 4; ++r)
        for (int c = 0; c < 4; ++c) {
            float sum = 0;
            for (int k = 0; k < 4; ++k) sum += (*this)(r, k) * o(k, c);
            m(r, c) = sum;
        }
    return m;
}

CbVector3f CbMatrix4Rf::TransformPoint(const CbVector3f& p) const {
    const float* e = m_e.data();
    const float x = p.x * e[0] + p.y * e[4] + p.z * e[8] + e[12];
    const float y = p.x * e[1] + p.y * e[5] + p.z * e[9] + e[13];
    const float z = p.x * e[2] + p.y * e[6] + p.z * e[10] + e[14];
    const float w = p.x * e[3] + p.y * e[7] + p.z * e[11] + e[15];
    return {x / w, y / w, z / w};
}

CbVector3f CbMatrix4Rf::TransformDirection(const CbVector3f& d) const {
    const float* e = m_e.data();
    return {d.x * e[0] + d.y * e[4] + d.z * e[8], d.x * e[1] + d.y * e[5] + d.z * e[9],
            d.x * e[2] + d.y * e[6] + d.z * e[10]};
}

namespace {
// Cofactor expansion in double precision; `inverse` receives the adjugate.
double adjugateAndDeterminant(const std::array<float, 16>& m, std::array<double, 16>& adj) {
    double a[16];
    for (int i = 0; i < 16; ++i) a[i] = m[static_cast<size_t>(i)];
    adj[0] = a[5] * a[10] * a[15] - a[5] * a[11] * a[14] - a[9] * a[6] * a[15] + a[9] * a[7] * a[14] +
             a[13] * a[6] * a[11] - a[13] * a[7] * a[10];
    adj[4] = -a[4] * a[10] * a[15] + a[4] * a[11] * a[14] + a[8] * a[6] * a[15] - a[8] * a[7] * a[14] -
             a[12] * a[6] * a[11] + a[12] * a[7] * a[10];
    adj[8] = a[4] * a[9] * a[15] - a[4] * a[11] * a[13] - a[8] * a[5] * a[15] + a[8] * a[7] * a[13] +
             a[12] * a[5] * a[11] - a[12] * a[7] * a[9];
    adj[12] = -a[4] * a[9] * a[14] + a[4] * a[10] * a[13] + a[8] * a[5] * a[14] - a[8] * a[6] * a[13] -
              a[12] * a[5] * a[10] + a[12] * a[6] * a[9];
    adj[1] = -a[1] * a[10] * a[15] + a[1] * a[11] * a[14] + a[9] * a[2] * a[15] - a[9] * a[3] * a[14] -
             a[13] * a[2] * a[11] + a[13] * a[3] * a[10];
    adj[5] = a[0] * a[10] * a[15] - a[0] * a[11] * a[14] - a[8] * a[2] * a[15] + a[8] * a[3] * a[14] +
             a[12] * a[2] * a[11] - a[12] * a[3] * a[10];
    adj[9] = -a[0] * a[9] * a[15] + a[0] * a[11] * a[13] + a[8] * a[1] * a[15] - a[8] * a[3] * a[13] -
             a[12] * a[1] * a[11] + a[12] * a[3] * a[9];
    adj[13] = a[0] * a[9] * a[14] - a[0] * a[10] * a[13] - a[8] * a[1] * a[14] + a[8] * a[2] * a[13] +
              a[12] * a[1] * a[10] - a[12] * a[2] * a[9];
    adj[2] = a[1] * a[6] * a[15] - a[1] * a[7] * a[14] - a[5] * a[2] * a[15] + a[5] * a[3] * a[14] +
             a[13] * a[2] * a[7] - a[13] * a[3] * a[6];
    adj[6] = -a[0] * a[6] * a[15] + a[0] * a[7] * a[14] + a[4] * a[2] * a[15] - a[4] * a[3] * a[14] -
             a[12] * a[2] * a[7] + a[12] * a[3] * a[6];
    adj[10] = a[0] * a[5] * a[15] - a[0] * a[7] * a[13] - a[4] * a[1] * a[15] + a[4] * a[3] * a[13] +
              a[12] * a[1] * a[7] - a[12] * a[3] * a[5];
    adj[14] = -a[0] * a[5] * a[14] + a[0] * a[6] * a[13] + a[4] * a[1] * a[14] - a[4] * a[2] * a[13] -
              a[12] * a[1] * a[6] + a[12] * a[2] * a[5];
    adj[3] = -a[1] * a[6] * a[11] + a[1] * a[7] * a[10] + a[5] * a[2] * a[11] - a[5] * a[3] * a[10] -
             a[9] * a[2] * a[7] + a[9] * a[3] * a[6];
    adj[7] = a[0] * a[6] * a[11] - a[0] * a[7] * a[10] - a[4] * a[2] * a[11] + a[4] * a[3] * a[10] +
             a[8] * a[2] * a[7] - a[8] * a[3] * a[6];
    adj[11] = -a[0] * a[5] * a[11] + a[0] * a[7] * a[9] + a[4] * a[1] * a[11] - a[4] * a[3] * a[9] -
              a[8] * a[1] * a[7] + a[8] * a[3] * a[5];
    adj[15] = a[0] * a[5] * a[10] - a[0] * a[6] * a[9] - a[4] * a[1] * a[10] + a[4] * a[2] * a[9] +
              a[8] * a[1] * a[6] - a[8] * a[2] * a[5];
    return a[0] * adj[0] + a[1] * adj[4] + a[2] * adj[8] + a[3] * adj[12];
}
}  // namespace

double CbMatrix4Rf::Determinant() const {
    std::array<double, 16> adj;
    return adjugateAndDeterminant(m_e, adj);
}

void CbMatrix4Rf::Invert() {
    std::array<double, 16> adj;
    const double det = adjugateAndDeterminant(m_e, adj);
    if (det == 0.0 || !std::isfinite(det))
        throw CyExceptionNotInvertible("CbMatrixInternal::CyBaseMatrix4x4<class CbMatrix4Rf>::Invert");
    for (int i = 0; i < 16; ++i) m_e[static_cast<size_t>(i)] = static_cast<float>(adj[static_cast<size_t>(i)] / det);
}

void CbMatrix4Rf::NegateRow(int row) {
    for (int c = 0; c < 4; ++c) (*this)(row, c) = -(*this)(row, c);
}

void CbMatrix4Rf::NegateColumn(int col) {
    for (int r = 0; r < 4; ++r) (*this)(r, col) = -(*this)(r, col);
}
