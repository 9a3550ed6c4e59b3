// Small geometric value types over double: points and vectors in the plane and in space, 3 x 3
// matrices and planes, plus the least-squares plane fit. Points and vectors share one type, so
// point - point gives a vector and point + vector a point without conversions.
#pragma once

#include <cmath>
#include <cstddef>

namespace Wml {

template <class Real, int N>
class VectorT {
public:
    constexpr VectorT() : m_v{} {}
    constexpr VectorT(Real x, Real y) requires(N == 2) : m_v{x, y} {}
    constexpr VectorT(Real x, Real y, Real z) requires(N == 3) : m_v{x, y, z} {}

    constexpr Real& operator[](int i) { return m_v[i]; }
    constexpr const Real& operator[](int i) const { return m_v[i]; }

    constexpr Real& X() { return m_v[0]; }
    constexpr Real X() const { return m_v[0]; }
    constexpr Real& Y() { return m_v[1]; }
    constexpr Real Y() const { return m_v[1]; }
    constexpr Real& Z() requires(N >= 3) { return m_v[2]; }
    constexpr Real Z() const requires(N >= 3) { return m_v[2]; }

    constexpr VectorT& operator+=(const VectorT& o) {
        for (int i = 0; i < N; ++i)
            m_v[i] += o.m_v[i];
        return *this;
    }
    constexpr VectorT& operator-=(const VectorT& o) {
        for (int i = 0; i < N; ++i)
            m_v[i] -= o.m_v[i];
        return *this;
    }
    constexpr VectorT& operator*=(Real s) {
        for (int i = 0; i < N; ++i)
            m_v[i] *= s;
        return *this;
    }
    constexpr VectorT& operator/=(Real s) {
        for (int i = 0; i < N; ++i)
            m_v[i] /= s;
        return *this;
    }
    friend constexpr VectorT operator+(VectorT a, const VectorT& b) { return a += b; }
    friend constexpr VectorT operator-(VectorT a, const VectorT& b) { return a -= b; }
    friend constexpr VectorT operator*(VectorT a, Real s) { return a *= s; }
    friend constexpr VectorT operator*(Real s, VectorT a) { return a *= s; }
    friend constexpr VectorT operator/(VectorT a, Real s) { return a /= s; }
    constexpr VectorT operator-() const { return VectorT() - *this; }
    friend constexpr bool operator==(const VectorT&, const VectorT&) = default;

    constexpr Real Dot(const VectorT& o) const {
        Real s = 0;
        for (int i = 0; i < N; ++i)
            s += m_v[i] * o.m_v[i];
        return s;
    }
    constexpr Real SquaredLength() const { return Dot(*this); }
    Real Length() const { return std::sqrt(SquaredLength()); }

    // Scales the vector to unit length and returns its former length; a zero vector stays zero
    // and answers 0.
    Real Normalize() {
        Real len = Length();
        if (len > Real(0)) {
            *this /= len;
        } else {
            *this = VectorT();
        }
        return len;
    }

    constexpr VectorT Cross(const VectorT& o) const requires(N == 3) {
        return VectorT(m_v[1] * o.m_v[2] - m_v[2] * o.m_v[1], m_v[2] * o.m_v[0] - m_v[0] * o.m_v[2],
                       m_v[0] * o.m_v[1] - m_v[1] * o.m_v[0]);
    }

private:
    Real m_v[N];
};

using Vector2 = VectorT<double, 2>;
using Vector3 = VectorT<double, 3>;
using Point2 = Vector2;
using Point3 = Vector3;

// Row-major 3 x 3 matrix.
class Matrix3 {
public:
    // The zero matrix, or the identity when asked for.
    constexpr explicit Matrix3(bool identity = false) : m_a{} {
        if (identity)
            m_a[0] = m_a[4] = m_a[8] = 1.0;
    }
    constexpr Matrix3(double m00, double m01, double m02, double m10, double m11, double m12, double m20,
                      double m21, double m22)
        : m_a{m00, m01, m02, m10, m11, m12, m20, m21, m22} {}

    constexpr double& operator()(int row, int col) { return m_a[3 * row + col]; }
    constexpr double operator()(int row, int col) const { return m_a[3 * row + col]; }

    constexpr Matrix3 operator*(const Matrix3& o) const {
        Matrix3 r;
        for (int i = 0; i < 3; ++i)
            for (int j = 0; j < 3; ++j)
                for (int k = 0; k < 3; ++k)
                    r(i, j) += (*this)(i, k) * o(k, j);
        return r;
    }
    constexpr Vector3 operator*(const Vector3& v) const {
        Vector3 r;
        for (int i = 0; i < 3; ++i)
            r[i] = (*this)(i, 0) * v[0] + (*this)(i, 1) * v[1] + (*this)(i, 2) * v[2];
        return r;
    }
    constexpr Matrix3 Transpose() const {
        Matrix3 r;
        for (int i = 0; i < 3; ++i)
            for (int j = 0; j < 3; ++j)
                r(i, j) = (*this)(j, i);
        return r;
    }
    constexpr double Determinant() const {
        const Matrix3& m = *this;
        return m(0, 0) * (m(1, 1) * m(2, 2) - m(1, 2) * m(2, 1)) -
               m(0, 1) * (m(1, 0) * m(2, 2) - m(1, 2) * m(2, 0)) +
               m(0, 2) * (m(1, 0) * m(2, 1) - m(1, 1) * m(2, 0));
    }
    friend constexpr bool operator==(const Matrix3&, const Matrix3&) = default;

private:
    double m_a[9];
};

// The plane of points X with Normal . X = Constant.
class Plane3 {
public:
    Plane3() = default;
    Plane3(const Vector3& normal, double constant) : Normal(normal), Constant(constant) {}
    Plane3(const Vector3& normal, const Point3& point) : Normal(normal), Constant(normal.Dot(point)) {}
    // Through three points, the normal along (p1 - p0) x (p2 - p0), unit length.
    Plane3(const Point3& p0, const Point3& p1, const Point3& p2) : Normal((p1 - p0).Cross(p2 - p0)) {
        Normal.Normalize();
        Constant = Normal.Dot(p0);
    }

    // Signed distance (in units of the normal's length): positive on the side the normal points to.
    double DistanceTo(const Point3& p) const { return Normal.Dot(p) - Constant; }

    Vector3 Normal;
    double Constant = 0.0;
};

// Total-least-squares plane through the points: the plane through their centroid whose normal is
// the direction of least spread. Writes the centroid and the unit normal and, when asked, the
// three spreads (eigenvalues of the covariance, smallest first). Returns the smallest spread (the
// mean squared distance of the points from the plane); NaN, with NaN outputs, when no plane can be
// fitted: fewer than three points, points that are all on one line, or non-finite coordinates.
double OrthogonalPlaneFit(int count, const Point3* points, Point3& outPoint, Vector3& outNormal,
                          double* outSpreads = nullptr);

}  // namespace Wml
