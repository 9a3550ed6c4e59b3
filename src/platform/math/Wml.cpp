#include "platform/math/Wml.h"

#include <Eigen/Eigenvalues>
#include <limits>

namespace Wml {

double OrthogonalPlaneFit(int count, const Point3* points, Point3& outPoint, Vector3& outNormal,
                          double* outSpreads) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    outPoint = Point3(nan, nan, nan);
    outNormal = Vector3(nan, nan, nan);
    if (outSpreads)
        outSpreads[0] = outSpreads[1] = outSpreads[2] = nan;
    if (count < 3 || !points)
        return nan;

    // Two passes: the centroid first, then the covariance about it, so that map coordinates of
    // millions of metres do not swamp the spread of the points.
    Point3 mean;
    for (int i = 0; i < count; ++i)
        mean += points[i];
    mean /= double(count);
    Eigen::Matrix3d cov = Eigen::Matrix3d::Zero();
    for (int i = 0; i < count; ++i) {
        Vector3 d = points[i] - mean;
        Eigen::Vector3d e(d[0], d[1], d[2]);
        cov += e * e.transpose();
    }
    cov /= double(count);
    if (!cov.allFinite())
        return nan;

    Eigen::SelfAdjointEigenSolver<Eigen::Matrix3d> solver(cov);
    if (solver.info() != Eigen::Success)
        return nan;
    const Eigen::Vector3d& ev = solver.eigenvalues();  // ascending
    // A line (or a single point) spreads in at most one direction: its plane is not determined.
    if (!(ev[1] > ev[2] * 1e-10))
        return nan;

    Eigen::Vector3d n = solver.eigenvectors().col(0).normalized();
    outPoint = mean;
    outNormal = Vector3(n[0], n[1], n[2]);
    if (outSpreads) {
        for (int i = 0; i < 3; ++i)
            outSpreads[i] = ev[i];
    }
    return ev[0] < 0.0 ? 0.0 : ev[0];
}

}  // namespace Wml
