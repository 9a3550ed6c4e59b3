#include "demtools/DemPatch.h"

#include <Eigen/Dense>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <opencv2/imgproc.hpp>
#include <random>

#include "raster/DEM.h"

namespace {

std::optional<uint32_t> g_drawSeed;

// The generator of one patch's draw: seeded from the low 32 bits of the clock's tick count, or
// from the seed set.
std::mt19937 PatchDrawGenerator() {
    return std::mt19937(g_drawSeed ? *g_drawSeed
                                   : uint32_t(std::chrono::steady_clock::now().time_since_epoch().count()));
}

// r^2 log r from the squared distance, without the square root; 0 at r = 0.
inline double Basis(double r2) {
    return r2 > 0.0 ? 0.5 * r2 * std::log(r2) : 0.0;
}

}  // namespace

void SetPatchDrawSeed(std::optional<uint32_t> seed) {
    g_drawSeed = seed;
}

int FillByThinPlateSpline(cv::Mat& spline, const std::vector<cv::Point3f>& points) {
    const int n = int(points.size());
    if (n < 3 || spline.type() != CV_32FC1) {
        return 0;
    }
    // The spline does not change under a shift and scale of the plane, and the system is much
    // better conditioned on coordinates of order one.
    double minX = points[0].x, maxX = minX, minY = points[0].y, maxY = minY;
    for (const cv::Point3f& p : points) {
        minX = std::min(minX, double(p.x));
        maxX = std::max(maxX, double(p.x));
        minY = std::min(minY, double(p.y));
        maxY = std::max(maxY, double(p.y));
    }
    const double cx = 0.5 * (minX + maxX), cy = 0.5 * (minY + maxY);
    const double scale = std::max({maxX - minX, maxY - minY, 1.0});
    Eigen::VectorXd px(n), py(n);
    for (int i = 0; i < n; ++i) {
        px[i] = (points[i].x - cx) / scale;
        py[i] = (points[i].y - cy) / scale;
    }
    // [K P; P' 0] [w; a] = [z; 0] with K the basis between the points and P the rows (1, x, y).
    Eigen::MatrixXd system = Eigen::MatrixXd::Zero(n + 3, n + 3);
    Eigen::VectorXd rhs = Eigen::VectorXd::Zero(n + 3);
    for (int i = 0; i < n; ++i) {
        for (int j = 0; j < i; ++j) {
            const double dx = px[i] - px[j], dy = py[i] - py[j];
            system(i, j) = system(j, i) = Basis(dx * dx + dy * dy);
        }
        system(i, n) = system(n, i) = 1.0;
        system(i, n + 1) = system(n + 1, i) = px[i];
        system(i, n + 2) = system(n + 2, i) = py[i];
        rhs[i] = points[i].z;
    }
    Eigen::FullPivLU<Eigen::MatrixXd> lu(system);
    if (!lu.isInvertible()) {
        return 0;
    }
    const Eigen::VectorXd coef = lu.solve(rhs);
    if (!coef.allFinite()) {
        return 0;
    }
    cv::parallel_for_(cv::Range(0, spline.rows), [&](const cv::Range& rows) {
        for (int r = rows.start; r < rows.end; ++r) {
            const double y = (r - cy) / scale;
            float* out = spline.ptr<float>(r);
            for (int c = 0; c < spline.cols; ++c) {
                const double x = (c - cx) / scale;
                double z = coef[n] + coef[n + 1] * x + coef[n + 2] * y;
                for (int i = 0; i < n; ++i) {
                    const double dx = x - px[i], dy = y - py[i];
                    z += coef[i] * Basis(dx * dx + dy * dy);
                }
                out[c] = float(z);
            }
        }
    });
    return 1;
}

cv::Mat SamplePatchBorder(const cv::Mat& values, const cv::Mat& mask, const cv::Point3f* constraint) {
    cv::Mat result = values.clone();
    if (values.type() != CV_32FC1 || mask.type() != CV_8UC1 || mask.size() != values.size()) {
        return result;
    }
    cv::Mat ring;
    const int side = 2 * kPatchRingSteps + 1;
    cv::dilate(mask, ring, cv::getStructuringElement(cv::MORPH_RECT, cv::Size(side, side)));
    cv::subtract(ring, mask, ring);

    std::vector<cv::Point3f> samples;
    int minC = values.cols, minR = values.rows, maxC = -1, maxR = -1;
    for (int r = 0; r < values.rows; ++r) {
        const uchar* m = ring.ptr<uchar>(r);
        const float* v = values.ptr<float>(r);
        for (int c = 0; c < values.cols; ++c) {
            if (m[c] && !IsNoData(v[c])) {
                samples.emplace_back(float(c), float(r), v[c]);
                minC = std::min(minC, c);
                maxC = std::max(maxC, c);
                minR = std::min(minR, r);
                maxR = std::max(maxR, r);
            }
        }
    }
    if (samples.empty()) {
        return result;
    }
    std::mt19937 rng = PatchDrawGenerator();
    std::shuffle(samples.begin(), samples.end(), rng);
    if (samples.size() > size_t(kPatchSamples)) {
        samples.resize(size_t(kPatchSamples));
    }
    for (cv::Point3f& s : samples) {
        s.x -= float(minC);
        s.y -= float(minR);
    }
    if (constraint) {
        samples.emplace_back(constraint->x - float(minC), constraint->y - float(minR), constraint->z);
    }
    const cv::Rect frame(minC, minR, maxC - minC + 1, maxR - minR + 1);
    cv::Mat spline(frame.size(), CV_32FC1, cv::Scalar(0));
    if (!FillByThinPlateSpline(spline, samples)) {
        return result;
    }
    spline.copyTo(result(frame), mask(frame));
    return result;
}

int PatchDem(CDEM& dem, const CPgon& area, const Wml::Point3* constraint, ProgressSink* progress,
             const DemEditRecorder& record) {
    const std::vector<DemAreaPiece> pieces = ClipDemArea(dem, area);
    if (pieces.empty() || !PrepareDemGrid(dem, progress)) {
        return 0;
    }
    const int gridW = dem.m_grid.cols, gridH = dem.m_grid.rows;
    // The constraint in pixel coordinates; the cell that contains it is where its height goes.
    double cpx = 0.0, cpy = 0.0;
    cv::Point constraintCell(-1, -1);
    if (constraint) {
        cpx = (constraint->X() - dem.m_geoTransform[0]) / dem.m_geoTransform[1];
        cpy = (constraint->Y() - dem.m_geoTransform[3]) / dem.m_geoTransform[5];
        constraintCell = DemCellAt(dem, constraint->X(), constraint->Y());
    }
    int written = 0;
    for (const DemAreaPiece& piece : pieces) {
        const cv::Rect& box = piece.bounds;
        int left = box.x - box.width / 2, top = box.y - box.height / 2;
        const int dx = std::max(0, -left), dy = std::max(0, -top);
        left = std::max(0, left);
        top = std::max(0, top);
        const cv::Rect window(left, top, std::min(2 * box.width - dx, gridW - left),
                              std::min(2 * box.height - dy, gridH - top));
        if (window.width <= 0 || window.height <= 0) {
            continue;
        }
        dem.m_busy = 1;
        const cv::Mat before = dem.m_grid(window).clone();
        const cv::Mat mask = AreaMask(piece, window);
        cv::Point3f local;
        const cv::Point3f* kept = nullptr;
        if (constraint && window.contains(constraintCell)) {
            if (mask.at<uchar>(constraintCell - window.tl())) {
                // Samples stand at their cells' indices, so the cell's centre is its index.
                local = cv::Point3f(float(cpx - 0.5 - left), float(cpy - 0.5 - top), float(constraint->Z()));
                kept = &local;
            }
        }
        const cv::Mat after = SamplePatchBorder(before, mask, kept);
        written += CommitDemWindow(dem, piece, window, before, after, cv::Mat(), progress, record);
        dem.m_busy = 0;
    }
    return written;
}
