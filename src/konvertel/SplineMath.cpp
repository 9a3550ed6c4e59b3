#include "konvertel/SplineMath.h"

#include <Eigen/Sparse>
#include <Eigen/SparseLU>

#include <algorithm>
#include <cmath>

namespace {

// The knot span that holds u: knots[span] <= u < knots[span + 1], the last span for u at the end.
int FindSpan(int lastControl, int degree, double u, const std::vector<double>& k) {
    if (u >= k[size_t(lastControl) + 1])
        return lastControl;
    if (u <= k[size_t(degree)])
        return degree;
    int lo = degree, hi = lastControl + 1;
    while (hi - lo > 1) {
        const int mid = (lo + hi) / 2;
        if (u < k[size_t(mid)])
            hi = mid;
        else
            lo = mid;
    }
    return lo;
}

// The degree + 1 basis functions that are not zero at u in the span.
void Basis(int span, double u, int degree, const std::vector<double>& k, std::vector<double>& n) {
    n.assign(size_t(degree) + 1, 0.0);
    std::vector<double> left(size_t(degree) + 1), right(size_t(degree) + 1);
    n[0] = 1;
    for (int j = 1; j <= degree; ++j) {
        left[size_t(j)] = u - k[size_t(span + 1 - j)];
        right[size_t(j)] = k[size_t(span + j)] - u;
        double saved = 0;
        for (int r = 0; r < j; ++r) {
            const double den = right[size_t(r) + 1] + left[size_t(j - r)];
            const double t = den != 0 ? n[size_t(r)] / den : 0;
            n[size_t(r)] = saved + right[size_t(r) + 1] * t;
            saved = left[size_t(j - r)] * t;
        }
        n[size_t(j)] = saved;
    }
}

bool KnotsFit(const BSplineCurve& c) {
    const size_t need = c.control.size() + size_t(c.degree) + 1;
    if (c.knots.size() != need)
        return false;
    for (size_t i = 1; i < c.knots.size(); ++i)
        if (!(c.knots[i] >= c.knots[i - 1]))
            return false;
    return c.knots[size_t(c.degree)] < c.knots[c.control.size()];
}

void ClampedUniformKnots(BSplineCurve& c) {
    const int n = int(c.control.size()), p = c.degree;
    c.knots.assign(size_t(n + p + 1), 0.0);
    const int inner = n - p;  // spans
    for (int i = 0; i <= n + p; ++i) {
        if (i <= p)
            c.knots[size_t(i)] = 0;
        else if (i >= n)
            c.knots[size_t(i)] = 1;
        else
            c.knots[size_t(i)] = double(i - p) / inner;
    }
}

}  // namespace

std::vector<ShapePoint> BSplineSample(BSplineCurve c, int samplesPerSpan) {
    std::vector<ShapePoint> out;
    const int n = int(c.control.size());
    if (n < 2)
        return out;
    c.degree = std::clamp(c.degree, 1, std::min(n - 1, 25));
    if (!KnotsFit(c))
        ClampedUniformKnots(c);
    const bool rational = c.weights.size() == c.control.size();
    const int p = c.degree;
    samplesPerSpan = std::max(1, samplesPerSpan);
    std::vector<double> basis;
    auto at = [&](double u) {
        const int s = FindSpan(n - 1, p, u, c.knots);
        Basis(s, u, p, c.knots, basis);
        double x = 0, y = 0, z = 0, w = 0;
        for (int j = 0; j <= p; ++j) {
            const size_t idx = size_t(s - p + j);
            const double f = basis[size_t(j)] * (rational ? c.weights[idx] : 1.0);
            x += f * c.control[idx].x;
            y += f * c.control[idx].y;
            z += f * c.control[idx].z;
            w += f;
        }
        if (w != 0 && std::isfinite(x / w) && std::isfinite(y / w) && std::isfinite(z / w))
            out.push_back({x / w, y / w, z / w});
    };
    for (int span = p; span < n; ++span) {
        const double u0 = c.knots[size_t(span)], u1 = c.knots[size_t(span) + 1];
        if (!(u1 > u0))
            continue;
        for (int i = 0; i < samplesPerSpan; ++i)
            at(u0 + (u1 - u0) * double(i) / samplesPerSpan);
    }
    at(c.knots[size_t(n)]);
    return out;
}

bool BSplineInterpolate(const std::vector<ShapePoint>& points, BSplineCurve& curve) {
    std::vector<ShapePoint> q;
    for (const ShapePoint& pt : points)
        if (q.empty() || pt.x != q.back().x || pt.y != q.back().y || pt.z != q.back().z)
            q.push_back(pt);
    const int m = int(q.size());
    if (m < 2)
        return false;
    const int p = std::min(3, m - 1);
    std::vector<double> ub(size_t(m), 0.0);
    double total = 0;
    for (int k = 1; k < m; ++k) {
        const ShapePoint &a = q[size_t(k) - 1], &b = q[size_t(k)];
        total += std::sqrt((b.x - a.x) * (b.x - a.x) + (b.y - a.y) * (b.y - a.y) + (b.z - a.z) * (b.z - a.z));
        ub[size_t(k)] = total;
    }
    if (!(total > 0))
        return false;
    for (double& u : ub)
        u /= total;
    ub.back() = 1;
    curve.degree = p;
    curve.control.clear();
    curve.weights.clear();
    curve.knots.assign(size_t(m + p + 1), 0.0);
    for (int i = 0; i <= p; ++i)
        curve.knots[size_t(m + i)] = 1;
    for (int j = 1; j <= m - 1 - p; ++j) {
        double sum = 0;
        for (int i = j; i < j + p; ++i)
            sum += ub[size_t(i)];
        curve.knots[size_t(j + p)] = sum / p;
    }
    Eigen::SparseMatrix<double> a(m, m);
    std::vector<Eigen::Triplet<double>> entries;
    entries.reserve(size_t(m) * size_t(p + 1));
    std::vector<double> basis;
    for (int k = 0; k < m; ++k) {
        const int span = FindSpan(m - 1, p, ub[size_t(k)], curve.knots);
        Basis(span, ub[size_t(k)], p, curve.knots, basis);
        for (int j = 0; j <= p; ++j)
            if (basis[size_t(j)] != 0)
                entries.emplace_back(k, span - p + j, basis[size_t(j)]);
    }
    a.setFromTriplets(entries.begin(), entries.end());
    Eigen::SparseLU<Eigen::SparseMatrix<double>> lu;
    lu.compute(a);
    if (lu.info() != Eigen::Success)
        return false;
    Eigen::MatrixXd rhs(m, 3);
    for (int k = 0; k < m; ++k)
        rhs.row(k) << q[size_t(k)].x, q[size_t(k)].y, q[size_t(k)].z;
    const Eigen::MatrixXd sol = lu.solve(rhs);
    if (lu.info() != Eigen::Success || !sol.allFinite())
        return false;
    for (int k = 0; k < m; ++k)
        curve.control.push_back({sol(k, 0), sol(k, 1), sol(k, 2)});
    return true;
}
