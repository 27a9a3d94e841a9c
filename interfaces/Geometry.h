// Geometry component: small vectors, the 4x4 homogeneous transformation, rays, boxes,
// polylines and the Hermite spline that carries the dental arch's skeleton.
#pragma once

#include "BaseLibrary.h"

#include <array>
#include <cmath>
#include <vector>

struct CbVector2f {
    float x = 0, y = 0;
    CbVector2f() = default;
    CbVector2f(float x_, float y_) : x(x_), y(y_) {}
    friend bool operator==(const CbVector2f&, const CbVector2f&) = default;
};

struct CbVector3f {
    float x = 0, y = 0, z = 0;
    CbVector3f() = default;
    CbVector3f(float x_, float y_, float z_) : x(x_), y(y_), z(z_) {}

    float& operator[](int i) { return i == 0 ? x : (i == 1 ? y : z); }
    float operator[](int i) const { return i == 0 ? x : (i == 1 ? y : z); }
    CbVector3f operator+(const CbVector3f& o) const { return {x + o.x, y + o.y, z + o.z}; }
    CbVector3f operator-(const CbVector3f& o) const { return {x - o.x, y - o.y, z - o.z}; }
    CbVector3f operator*(float s) const { return {x * s, y * s, z * s}; }
    CbVector3f operator-() const { return {-x, -y, -z}; }
    CbVector3f& operator+=(const CbVector3f& o) { return *this = *this + o; }
    float Dot(const CbVector3f& o) const { return x * o.x + y * o.y + z * o.z; }
    CbVector3f Cross(const CbVector3f& o) const {
        return {y * o.z - z * o.y, z * o.x - x * o.z, x * o.y - y * o.x};
    }
    float Length() const { return std::sqrt(Dot(*this)); }
    // Unit vector in the same direction; the zero vector stays zero.
    CbVector3f Normalized() const {
        const float l = Length();
        return l > 0 ? *this * (1.0f / l) : *this;
    }
    friend bool operator==(const CbVector3f&, const CbVector3f&) = default;
};

template <class T>
struct CCoordinate3 {
    T x = 0, y = 0, z = 0;
    CCoordinate3() = default;
    CCoordinate3(T x_, T y_, T z_) : x(x_), y(y_), z(z_) {}
    friend bool operator==(const CCoordinate3&, const CCoordinate3&) = default;
};

// 4x4 single-precision homogeneous transformation, stored column by column: element 4*c + r
// is row r, column c, and elements 12..14 are the translation.
class CbMatrix4Rf {
public:
    CbMatrix4Rf();  // identity
    explicit CbMatrix4Rf(const std::array<float, 16>& columnMajor) : m_e(columnMajor) {}
    // From rows, as one writes a matrix down.
    static CbMatrix4Rf FromRows(const std::array<float, 16>& rowMajor);
    static CbMatrix4Rf Translation(float x, float y, float z);
    static CbMatrix4Rf RotationX(float radians);
    static CbMatrix4Rf RotationY(float radians);
    static CbMatrix4Rf RotationZ(float radians);
    static CbMatrix4Rf Scaling(float s);

    float& operator()(int row, int col) { return m_e[4 * col + row]; }
    float operator()(int row, int col) const { return m_e[4 * col + row]; }
    float& operator[](int i) { return m_e[i]; }
    float operator[](int i) const { return m_e[i]; }
    const float* Data() const { return m_e.data(); }

    CbMatrix4Rf operator*(const CbMatrix4Rf& o) const;
    // x*col0 + y*col1 + z*col2 + col3, divided by the resulting w.
    CbVector3f TransformPoint(const CbVector3f& p) const;
    // The rotation part only (no translation, no divide).
    CbVector3f TransformDirection(const CbVector3f& d) const;
    double Determinant() const;
    // Inverts in place; a zero determinant throws CyExceptionNotInvertible and leaves the matrix.
    void Invert();
    CbMatrix4Rf Inverted() const {
        CbMatrix4Rf m = *this;
        m.Invert();
        return m;
    }
    void NegateRow(int row);
    void NegateColumn(int col);
    friend bool operator==(const CbMatrix4Rf&, const CbMatrix4Rf&) = default;

private:
    std::array<float, 16> m_e;
};

extern const CbMatrix4Rf c_matIdentity;

struct CyRay {
    CbVector3f origin;
    CbVector3f direction;
    CyRay() = default;
    CyRay(const CbVector3f& o, const CbVector3f& d) : origin(o), direction(d) {}
    CbVector3f PointAt(float t) const { return origin + direction * t; }
};

class CyBoundingBox3D {
public:
    CyBoundingBox3D();  // empty: minimum above maximum
    CyBoundingBox3D(const CbVector3f& minimum, const CbVector3f& maximum) : m_min(minimum), m_max(maximum) {}

    void Add(const CbVector3f& p);
    bool IsEmpty() const { return m_min.x > m_max.x || m_min.y > m_max.y || m_min.z > m_max.z; }
    const CbVector3f& GetMin() const { return m_min; }
    const CbVector3f& GetMax() const { return m_max; }
    // Corner i (0..7): bit 0 picks maximum x, bit 1 maximum y, bit 2 maximum z.
    CbVector3f GetCorner(int i) const;
    float GetWidth() const { return m_max.x - m_min.x; }
    float GetHeight() const { return m_max.y - m_min.y; }
    float GetDepth() const { return m_max.z - m_min.z; }

private:
    CbVector3f m_min;
    CbVector3f m_max;
};

class CyPolyline3D {
public:
    CyPolyline3D() = default;
    explicit CyPolyline3D(std::vector<CbVector3f> points) : m_points(std::move(points)) {}

    void Add(const CbVector3f& p) { m_points.push_back(p); }
    void Clear() { m_points.clear(); }
    int GetCount() const { return static_cast<int>(m_points.size()); }
    const CbVector3f& operator[](int i) const { return m_points[static_cast<size_t>(i)]; }
    const std::vector<CbVector3f>& Points() const { return m_points; }
    float GetLength() const;
    // Signed area enclosed by the closed polygon, seen along `axis` (counter-clockwise positive).
    float ComputeClosedArea(const CbVector3f& axis) const;

private:
    std::vector<CbVector3f> m_points;
};

// Cubic Hermite spline through control points, with Catmull-Rom tangents. Its parameter t runs
// from 0 at the first to (count - 1) at the last control point. `SubdivideByLength` samples it
// densely and measures arc length, after which positions can be asked by arc length.
class CyHermiteSpline {
public:
    CyHermiteSpline() = default;
    explicit CyHermiteSpline(std::vector<CbVector3f> controlPoints);

    void SetControlPoints(std::vector<CbVector3f> controlPoints);
    void AddControlPoint(const CbVector3f& p);
    const std::vector<CbVector3f>& GetControlPoints() const { return m_points; }
    int GetNumControlPoints() const { return static_cast<int>(m_points.size()); }
    // Recomputes the tangents from the control points (called by the setters).
    void Adjust();

    CbVector3f ComputePosition(float t) const;
    // Unit tangent at t, and a unit normal perpendicular to it in the plane of tangent and z.
    void ComputeDirectionVectors(float t, CbVector3f& tangent, CbVector3f& normal) const;
    // Samples the spline with `samplesPerSegment` points per segment; returns the total length.
    float SubdivideByLength(int samplesPerSegment = 64);
    const CyPolyline3D& GetSubdivision() const { return m_subdivision; }
    float GetLength() const { return m_length; }
    // Position at arc length s along the subdivision (clamped to [0, length]).
    CbVector3f ComputePositionAtLength(float s) const;

private:
    std::vector<CbVector3f> m_points;
    std::vector<CbVector3f> m_tangents;
    CyPolyline3D m_subdivision;
    std::vector<float> m_cumulative;  // arc length at each subdivision point
    float m_length = 0;
};
