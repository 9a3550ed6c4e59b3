#include "platform/photo/Orientation.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <numbers>
#include <string>

#include <Eigen/Dense>

#include "platform/photo/OrientationFile.h"

namespace zqc {

namespace {

// Where Pt3dToPix puts a point that has no pixel: far outside every image.
constexpr double kNoPixel = -1.0e7;
// Rays closer to parallel than this cannot fix a point along them.
constexpr double kMinRayAngle = 1.0 * std::numbers::pi / 180.0;

}  // namespace

COrientation::COrientation(int mode) : m_mode(mode) {}

int COrientation::Load(const char* imagePath) {
    if (!imagePath || !*imagePath)
        return 0;
    std::filesystem::path path(imagePath);
    path.replace_extension(".yml");
    std::error_code ec;
    if (!std::filesystem::is_regular_file(path, ec))
        return 0;

    // Read whole, up to the size an orientation file can sensibly have.
    const std::uintmax_t size = std::filesystem::file_size(path, ec);
    if (ec || size > std::uintmax_t(kMaxOrientationFileBytes))
        return 0;
    std::ifstream file(path, std::ios::binary);
    std::string text(size, '\0');
    if (!file || !file.read(text.data(), std::streamsize(size)) || file.gcount() != std::streamsize(size))
        return 0;
    OrientationValues v;
    if (!ParseOrientationText(text, &v))
        return 0;

    COrientation o(m_mode);
    o.m_width = v.width;
    o.m_height = v.height;
    const double* k = v.camera;
    // An upper-triangular camera matrix with positive focal lengths.
    if (k[0] <= 0.0 || k[4] <= 0.0 || k[3] != 0.0 || k[6] != 0.0 || k[7] != 0.0 || k[8] != 1.0)
        return 0;
    o.m_fx = k[0];
    o.m_skew = k[1];
    o.m_cx = k[2];
    o.m_fy = k[4];
    o.m_cy = k[5];
    o.m_k1 = v.distortion[0];
    o.m_k2 = v.distortion[1];
    o.m_p1 = v.distortion[2];
    o.m_p2 = v.distortion[3];
    o.m_k3 = v.distortion[4];
    o.m_center = Wml::Point3(v.center[0], v.center[1], v.center[2]);
    const double* r = v.rotation;
    o.m_rotation = Wml::Matrix3(r[0], r[1], r[2], r[3], r[4], r[5], r[6], r[7], r[8]);
    // A rotation: orthonormal and right-handed.
    Wml::Matrix3 rrt = o.m_rotation * o.m_rotation.Transpose();
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j)
            if (std::abs(rrt(i, j) - (i == j ? 1.0 : 0.0)) > 1e-6)
                return 0;
    if (o.m_rotation.Determinant() <= 0.0)
        return 0;
    o.m_loaded = true;
    *this = o;
    return 1;
}

Wml::Vector3 COrientation::ToCamera(const Wml::Point3& point) const {
    // The offset first: map coordinates in the millions keep their precision.
    return m_rotation * (point - m_center);
}

void COrientation::Distort(double x, double y, double& xd, double& yd) const {
    double r2 = x * x + y * y;
    double radial = 1.0 + r2 * (m_k1 + r2 * (m_k2 + r2 * m_k3));
    xd = x * radial + 2.0 * m_p1 * x * y + m_p2 * (r2 + 2.0 * x * x);
    yd = y * radial + m_p1 * (r2 + 2.0 * y * y) + 2.0 * m_p2 * x * y;
}

Wml::Point2 COrientation::CameraToPix(const Wml::Vector3& cam) const {
    double xd, yd;
    Distort(cam.X() / cam.Z(), cam.Y() / cam.Z(), xd, yd);
    return Wml::Point2(m_fx * xd + m_skew * yd + m_cx + 0.5, m_fy * yd + m_cy + 0.5);
}

Wml::Point2 COrientation::Pt3dToPix(const Wml::Point3& point) const {
    Wml::Vector3 cam = ToCamera(point);
    if (!(cam.Z() > 1e-12 * cam.Length()))
        return Wml::Point2(kNoPixel, kNoPixel);
    Wml::Point2 pix = CameraToPix(cam);
    if (!std::isfinite(pix.X()) || !std::isfinite(pix.Y()))
        return Wml::Point2(kNoPixel, kNoPixel);
    return pix;
}

int COrientation::PixToRay(const Wml::Point2& pix, Wml::Vector3& direction) const {
    if (!std::isfinite(pix.X()) || !std::isfinite(pix.Y()))
        return 0;
    double yd = (pix.Y() - 0.5 - m_cy) / m_fy;
    double xd = (pix.X() - 0.5 - m_cx - m_skew * yd) / m_fx;
    // Newton's method on the distortion, from the distorted position.
    double x = xd, y = yd;
    bool converged = false;
    for (int it = 0; it < 50; ++it) {
        double fx, fy;
        Distort(x, y, fx, fy);
        fx -= xd;
        fy -= yd;
        double r2 = x * x + y * y;
        double radial = 1.0 + r2 * (m_k1 + r2 * (m_k2 + r2 * m_k3));
        double dRadial = 2.0 * (m_k1 + r2 * (2.0 * m_k2 + 3.0 * r2 * m_k3));
        double a = radial + x * x * dRadial + 2.0 * m_p1 * y + 6.0 * m_p2 * x;
        double b = x * y * dRadial + 2.0 * m_p1 * x + 2.0 * m_p2 * y;
        double d = radial + y * y * dRadial + 6.0 * m_p1 * y + 2.0 * m_p2 * x;
        double det = a * d - b * b;
        // The lens model folds over where its Jacobian is not positive: no unique ray there.
        if (!(det > 1e-12))
            return 0;
        if (std::abs(fx) + std::abs(fy) < 1e-15) {
            converged = true;
            break;
        }
        x -= (d * fx - b * fy) / det;
        y -= (a * fy - b * fx) / det;
    }
    if (!converged) {
        double fx, fy;
        Distort(x, y, fx, fy);
        if (!(std::abs(fx - xd) + std::abs(fy - yd) < 1e-11))
            return 0;
    }
    direction = m_rotation.Transpose() * Wml::Vector3(x, y, 1.0);
    direction.Normalize();
    return 1;
}

CMultiImageIntersection::CMultiImageIntersection(int count, const COrientation* orientations) {
    if (count > 0 && orientations)
        m_orientations.assign(orientations, orientations + count);
}

int CMultiImageIntersection::Intersect(const Wml::Point2* const* pixels, Wml::Point3& point, int) const {
    if (!pixels)
        return 0;
    struct Ray {
        const COrientation* orientation;
        Wml::Point2 pix;
        Wml::Vector3 direction;
    };
    std::vector<Ray> rays;
    for (size_t i = 0; i < m_orientations.size(); ++i) {
        const COrientation& o = m_orientations[i];
        if (!pixels[i] || !o.IsLoaded())
            continue;
        Ray ray{&o, *pixels[i], {}};
        if (o.PixToRay(ray.pix, ray.direction))
            rays.push_back(ray);
    }
    if (rays.size() < 2)
        return 0;

    double widest = 0.0;
    for (size_t i = 0; i < rays.size(); ++i)
        for (size_t j = i + 1; j < rays.size(); ++j) {
            const Wml::Vector3& a = rays[i].direction;
            const Wml::Vector3& b = rays[j].direction;
            widest = std::max(widest, std::atan2(a.Cross(b).Length(), a.Dot(b)));
        }
    if (widest < kMinRayAngle)
        return 0;

    // Everything is solved relative to the first projection centre, so that map coordinates in
    // the millions do not eat the precision of the offsets.
    const Wml::Point3 origin = rays[0].orientation->GetProjectionCenter();
    auto offsetOf = [&](const Ray& r) { return r.orientation->GetProjectionCenter() - origin; };

    // The point nearest to all rays: sum over rays of (I - d d^T) (x - c) = 0.
    Eigen::Matrix3d a = Eigen::Matrix3d::Zero();
    Eigen::Vector3d b = Eigen::Vector3d::Zero();
    for (const Ray& r : rays) {
        Eigen::Vector3d d(r.direction.X(), r.direction.Y(), r.direction.Z());
        Wml::Vector3 co = offsetOf(r);
        Eigen::Matrix3d p = Eigen::Matrix3d::Identity() - d * d.transpose();
        a += p;
        b += p * Eigen::Vector3d(co.X(), co.Y(), co.Z());
    }
    Eigen::Vector3d x = a.ldlt().solve(b);
    if (!x.allFinite())
        return 0;

    // Refinement on the reprojection error (Levenberg-Marquardt over the three coordinates).
    const int m = int(rays.size()) * 2;
    auto residuals = [&](const Eigen::Vector3d& at, Eigen::VectorXd& res) {
        res.resize(m);
        for (int i = 0; i < int(rays.size()); ++i) {
            const Ray& r = rays[i];
            Wml::Vector3 rel = Wml::Vector3(at.x(), at.y(), at.z()) - offsetOf(r);
            Wml::Vector3 cam = r.orientation->m_rotation * rel;
            if (!(cam.Z() > 0.0))
                return false;
            Wml::Point2 pix = r.orientation->CameraToPix(cam);
            res[2 * i] = pix.X() - r.pix.X();
            res[2 * i + 1] = pix.Y() - r.pix.Y();
        }
        return res.allFinite();
    };
    Eigen::VectorXd res, resStep;
    if (residuals(x, res)) {
        double cost = res.squaredNorm();
        double lambda = 1e-3;
        for (int it = 0; it < 100 && cost > 0.0; ++it) {
            double scale = 1.0;
            for (const Ray& r : rays) {
                Wml::Vector3 rel = Wml::Vector3(x.x(), x.y(), x.z()) - offsetOf(r);
                scale = std::max(scale, rel.Length());
            }
            const double h = 1e-7 * scale;
            Eigen::MatrixXd jac(m, 3);
            bool ok = true;
            for (int k = 0; k < 3 && ok; ++k) {
                Eigen::Vector3d xp = x, xm = x;
                xp[k] += h;
                xm[k] -= h;
                Eigen::VectorXd rp, rm;
                ok = residuals(xp, rp) && residuals(xm, rm);
                if (ok)
                    jac.col(k) = (rp - rm) / (2.0 * h);
            }
            if (!ok)
                break;
            Eigen::Matrix3d hess = jac.transpose() * jac;
            Eigen::Vector3d grad = jac.transpose() * res;
            Eigen::Matrix3d damped = hess;
            damped.diagonal() *= 1.0 + lambda;
            Eigen::Vector3d step = damped.ldlt().solve(-grad);
            if (!step.allFinite())
                break;
            Eigen::Vector3d next = x + step;
            if (residuals(next, resStep) && resStep.squaredNorm() < cost) {
                x = next;
                res = resStep;
                cost = res.squaredNorm();
                lambda = std::max(lambda * 0.1, 1e-12);
                if (step.norm() < 1e-12 * scale)
                    break;
            } else {
                lambda *= 10.0;
                if (lambda > 1e12)
                    break;
            }
        }
    }

    // The point must lie in front of every camera that saw it.
    for (const Ray& r : rays) {
        Wml::Vector3 rel = Wml::Vector3(x.x(), x.y(), x.z()) - offsetOf(r);
        if (!((r.orientation->m_rotation * rel).Z() > 0.0))
            return 0;
    }
    Wml::Point3 result = origin + Wml::Vector3(x.x(), x.y(), x.z());
    if (!std::isfinite(result.X()) || !std::isfinite(result.Y()) || !std::isfinite(result.Z()))
        return 0;
    point = result;
    return 1;
}

}  // namespace zqc
