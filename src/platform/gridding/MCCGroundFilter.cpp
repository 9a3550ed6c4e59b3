#include "platform/gridding/MCCGroundFilter.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <numeric>
#include <opencv2/imgproc.hpp>
#include <vector>

#include "platform/gridding/GridGaps.h"
#include "platform/las/Las.h"
#include "platform/tools/ProgressSink.h"
#include "platform/tools/ZQT.h"

namespace {

constexpr int kDomains = 3;
constexpr double kDomainScale[kDomains] = {0.5, 1.0, 1.5};
constexpr double kThresholdStep = 0.1;
// A domain ends when an iteration takes off fewer than this share of the remaining ground points.
constexpr double kConvergence[kDomains] = {0.01, 0.001, 0.001};
constexpr int kMaxIterations = 100;
constexpr double kMaxCells = 16.0e6;
// The largest surface grid of a run: one tile of the gap filler's 4096 x 4096 cells.
constexpr double kGridLimit = 4096.0 * 4096.0;
constexpr double kNodesPerPoint = 16.0;
// Scattered points leave a node of their own spacing empty about every third time; at one and a
// half times it, one in ten.
constexpr double kScatteredSpacing = 1.5;
constexpr uint64_t kPumpEvery = 1 << 16;
constexpr uint8_t kGroundClass = 2;
// How far (in height units) the last sweep of the surface's gap filling may still move it.
constexpr double kSurfaceTolerance = 0.01;

// The 3 x 3 mean of the surface, with the grid carried on one cell beyond its edges along their
// slope: a plane comes out as it went in, up to its very edges (a level border would lower the
// uphill edge, and the filter would eat a sloping surface from its borders inwards).
cv::Mat SmoothKeepingSlopes(const cv::Mat& surface) {
    const int rows = surface.rows, cols = surface.cols;
    cv::Mat padded(rows + 2, cols + 2, CV_32F);
    surface.copyTo(padded(cv::Rect(1, 1, cols, rows)));
    const int down = rows > 1 ? 1 : 0, across = cols > 1 ? 1 : 0;
    for (int c = 1; c <= cols; ++c) {
        padded.at<float>(0, c) = 2 * padded.at<float>(1, c) - padded.at<float>(1 + down, c);
        padded.at<float>(rows + 1, c) = 2 * padded.at<float>(rows, c) - padded.at<float>(rows - down, c);
    }
    for (int r = 0; r < rows + 2; ++r) {
        padded.at<float>(r, 0) = 2 * padded.at<float>(r, 1) - padded.at<float>(r, 1 + across);
        padded.at<float>(r, cols + 1) = 2 * padded.at<float>(r, cols) - padded.at<float>(r, cols - across);
    }
    cv::Mat smooth;
    cv::blur(padded, smooth, cv::Size(3, 3), cv::Point(-1, -1), cv::BORDER_REPLICATE);
    return smooth(cv::Rect(1, 1, cols, rows)).clone();
}

// One run: the points as read (integers), which are still ground, and the reporting.
class Run {
public:
    Run(ProgressSink* progress, QString* status, int* abortFlag)
        : m_progress(progress), m_status(status), m_abort(abortFlag) {}

    bool Aborted() const { return (m_abort && *m_abort) || (m_progress && m_progress->IsAborted()); }
    void Report(int pos, const QString& text = QString()) {
        if (m_progress) {
            m_progress->SetPos(std::clamp(pos, 0, 100));
        }
        if (m_status && !text.isEmpty()) {
            *m_status = text;
        }
        ZQT_PumpMessages();
    }
    int Fail(const QString& text) {
        if (m_status) {
            *m_status = text;
        }
        return 0;
    }

    bool Read(LASreader* reader);
    // The surface grid of a domain over the points' extent, its nodes at least the domain's
    // scale apart: false when it would not fit in memory (a file with enormous scale factors or
    // extents). A scale below the spacing of the points gives nodes as far apart as the points
    // (a finer grid only holds more nodes to fill, with nothing to tell the objects by), and
    // points that stand on a lattice (the cells of a raster) get a node on every lattice point
    // or every few, so that no node takes two neighbouring points while the next takes none.
    bool GridSize(double scale, int* cols, int* rows, double* stepX, double* stepY) const;
    // One iteration of a domain: the number of points taken off the ground.
    size_t Classify(double scale, double threshold);
    size_t GroundCount() const { return size_t(std::count(m_ground.begin(), m_ground.end(), 1)); }
    bool Write(LASreader* reader, const QString& outputPath);

private:
    // Plane coordinates from the extent's lowest corner, whatever the sign of the scale factors.
    double X(size_t i) const { return (double(m_xyz[i][0]) - m_min[0]) * std::fabs(m_scale[0]); }
    double Y(size_t i) const { return (double(m_xyz[i][1]) - m_min[1]) * std::fabs(m_scale[1]); }
    double Z(size_t i) const { return m_xyz[i][2] * m_scale[2]; }
    // Where the blocks of the surface grid start, before the lowest corner: half a lattice step,
    // so that every block gathers whole lattice points around its centre, whatever the rounding.
    double Shift(int axis) const {
        return 0.5 * double(m_lattice[size_t(axis)]) * std::fabs(m_scale[size_t(axis)]);
    }

    ProgressSink* m_progress;
    QString* m_status;
    int* m_abort;
    std::vector<std::array<int32_t, 3>> m_xyz;
    std::vector<uint8_t> m_ground;
    std::array<int32_t, 2> m_min{};
    std::array<int32_t, 2> m_max{};
    std::array<double, 3> m_scale{};
    // The lattice of the points in coordinate units (0 when they stand on none), and their mean
    // spacing in map units.
    std::array<int64_t, 2> m_lattice{};
    double m_zBase = 0.0;  // the surface grids hold heights above it, which floats keep exactly
    double m_spacing = 0.0;
    // A thin plate through the ground: it carries the slopes and the rounding of the terrain
    // across the nodes it fills, within the heights of the ground around them, so that a slope
    // whose points were taken off is not filled lower than it stood, which would take the next
    // ring of its ground off in turn, and no pit is filled below the ground around it.
    CGridGaps m_gaps;
};

bool Run::Read(LASreader* reader) {
    m_scale = {reader->header.xScaleFactor, reader->header.yScaleFactor, reader->header.zScaleFactor};
    const uint64_t n = reader->PointCount();
    m_xyz.reserve(size_t(n));
    m_min = {std::numeric_limits<int32_t>::max(), std::numeric_limits<int32_t>::max()};
    m_max = {std::numeric_limits<int32_t>::min(), std::numeric_limits<int32_t>::min()};
    while (reader->ReadPoint()) {
        const LASpoint& p = reader->point;
        m_xyz.push_back({p.X, p.Y, p.Z});
        m_min = {std::min(m_min[0], p.X), std::min(m_min[1], p.Y)};
        m_max = {std::max(m_max[0], p.X), std::max(m_max[1], p.Y)};
        if (m_xyz.size() % kPumpEvery == 0) {
            Report(int(10 * m_xyz.size() / std::max<uint64_t>(n, 1)));
            if (Aborted()) {
                return false;
            }
        }
    }
    m_ground.assign(m_xyz.size(), 1);
    int32_t lowest = std::numeric_limits<int32_t>::max();
    for (const auto& p : m_xyz) {
        lowest = std::min(lowest, p[2]);
    }
    m_zBase = m_xyz.empty() ? 0.0 : lowest * m_scale[2];
    std::array<int64_t, 2> g{0, 0};
    for (const auto& p : m_xyz) {
        for (int a = 0; a < 2 && (g[0] != 1 || g[1] != 1); ++a) {
            g[size_t(a)] = std::gcd(g[size_t(a)], int64_t(p[size_t(a)]) - m_min[size_t(a)]);
        }
    }
    const double width = (double(m_max[0]) - m_min[0]) * std::fabs(m_scale[0]);
    const double height = (double(m_max[1]) - m_min[1]) * std::fabs(m_scale[1]);
    const double points = double(std::max<size_t>(m_xyz.size(), 1));
    // The spacing over the part of the extent the points cover, told by an occupancy grid of
    // twice the spacing they would have over the whole extent.
    const double coarse = 2.0 * std::sqrt(std::max(width * height, 1e-12) / points);
    const double across = width / coarse + 1.0, down = height / coarse + 1.0;
    if (std::isfinite(coarse) && coarse > 0 && across < kGridLimit && down < kGridLimit &&
        across * down < kGridLimit) {
        const int cols = int(width / coarse) + 1, rows = int(height / coarse) + 1;
        std::vector<uint8_t> occupied(size_t(cols) * size_t(rows), 0);
        for (size_t i = 0; i < m_xyz.size(); ++i) {
            occupied[size_t(int(Y(i) / coarse)) * size_t(cols) + size_t(int(X(i) / coarse))] = 1;
        }
        const double covered = double(std::count(occupied.begin(), occupied.end(), 1)) * coarse * coarse;
        m_spacing = std::sqrt(covered / points);
    }
    for (int a = 0; a < 2; ++a) {
        const double step = double(g[size_t(a)]) * std::fabs(m_scale[size_t(a)]);
        m_lattice[size_t(a)] = m_spacing > 0 && step >= 0.5 * m_spacing ? g[size_t(a)] : 0;
    }
    return true;
}

bool Run::GridSize(double scale, int* cols, int* rows, double* stepX, double* stepY) const {
    const double width = (double(m_max[0]) - m_min[0]) * std::fabs(m_scale[0]);
    const double height = (double(m_max[1]) - m_min[1]) * std::fabs(m_scale[1]);
    // Never more nodes than memory allows, nor more than a few for each point.
    const double spread = m_lattice[0] > 0 && m_lattice[1] > 0 ? 0.0 : kScatteredSpacing * m_spacing;
    const double least = std::max({spread, std::sqrt(width * height / kMaxCells),
                                   std::sqrt(width * height / (kNodesPerPoint * double(m_xyz.size())))});
    double step[2] = {std::max(scale, least), std::max(scale, least)};
    for (int a = 0; a < 2; ++a) {
        const double lattice = double(m_lattice[size_t(a)]) * std::fabs(m_scale[size_t(a)]);
        if (lattice > 0) {
            // The lattice multiple nearest the scale, and not below the least step.
            const double times =
                std::max({1.0, std::round(scale / lattice), std::ceil(least / lattice - 1e-9)});
            step[a] = lattice * times;
        }
    }
    const double c = std::floor((width + Shift(0)) / step[0]) + 1.0;
    const double r = std::floor((height + Shift(1)) / step[1]) + 1.0;
    if (!std::isfinite(step[0]) || !std::isfinite(step[1]) || !(step[0] > 0) || !(step[1] > 0) ||
        !std::isfinite(c) || !std::isfinite(r) || c * r > kGridLimit) {
        return false;
    }
    *cols = int(c);
    *rows = int(r);
    *stepX = step[0];
    *stepY = step[1];
    return true;
}

size_t Run::Classify(double scale, double threshold) {
    int cols = 0, rows = 0;
    double stepX = 0, stepY = 0;
    if (!GridSize(scale, &cols, &rows, &stepX, &stepY)) {
        return 0;
    }
    const double sx = 1.0 / stepX, sy = 1.0 / stepY;
    // The height a point may stand above the smoothed surface measures the surface's curvature
    // at the domain's scale: on nodes further apart than the scale (the points are sparser
    // than it), the same curvature stands higher above the mean of the nodes around, by the
    // square of the ratio. Without that, every rounded hilltop of a coarse raster would count
    // as an object, and with it the ring around it once it was filled, down to the valleys.
    threshold *= std::max(1.0, stepX * stepY / (scale * scale));
    const double dx = Shift(0), dy = Shift(1);

    // Mean height of the ground points of each node's block; nodes without one are gaps to fill.
    cv::Mat sum(rows, cols, CV_32F, cv::Scalar(0));
    cv::Mat count(rows, cols, CV_32S, cv::Scalar(0));
    for (size_t i = 0; i < m_xyz.size(); ++i) {
        if (!m_ground[i]) {
            continue;
        }
        const int c = std::min(cols - 1, int((X(i) + dx) * sx));
        const int r = std::min(rows - 1, int((Y(i) + dy) * sy));
        sum.at<float>(r, c) += float(Z(i) - m_zBase);
        ++count.at<int>(r, c);
    }
    cv::Mat surface(rows, cols, CV_32F);
    for (int r = 0; r < rows; ++r) {
        for (int c = 0; c < cols; ++c) {
            const int k = count.at<int>(r, c);
            surface.at<float>(r, c) =
                k > 0 ? sum.at<float>(r, c) / float(k) : std::numeric_limits<float>::quiet_NaN();
        }
    }
    sum.release();
    count.release();
    cv::Mat all(rows, cols, CV_8U, cv::Scalar(255));
    cv::Mat filled = m_gaps.Process(surface, all, std::numeric_limits<float>::quiet_NaN(), kSurfaceTolerance);
    if (filled.empty()) {
        return 0;
    }
    surface = SmoothKeepingSlopes(filled);

    std::vector<size_t> parts(size_t((m_xyz.size() + (1 << 16) - 1) >> 16), 0);
    const auto classify = [&](const cv::Range& range) {
        for (int b = range.start; b < range.end; ++b) {
            size_t removed = 0;
            const size_t end = std::min(m_xyz.size(), size_t(b + 1) << 16);
            for (size_t i = size_t(b) << 16; i < end; ++i) {
                if (!m_ground[i]) {
                    continue;
                }
                // Bilinear height of the surface between its nodes, which stand at the centres of
                // the blocks of points they gather; beyond the last nodes it goes
                // on along the edge's slope rather than level, so that a sloping border is not
                // taken for something standing on the ground.
                const double u = (X(i) + dx) * sx - 0.5, v = (Y(i) + dy) * sy - 0.5;
                const int c0 = std::clamp(int(std::floor(u)), 0, std::max(cols - 2, 0));
                const int r0 = std::clamp(int(std::floor(v)), 0, std::max(rows - 2, 0));
                const int c1 = std::min(c0 + 1, cols - 1), r1 = std::min(r0 + 1, rows - 1);
                const double tu = cols > 1 ? u - c0 : 0.0, tv = rows > 1 ? v - r0 : 0.0;
                const double s =
                    (1 - tv) * ((1 - tu) * surface.at<float>(r0, c0) + tu * surface.at<float>(r0, c1)) +
                    tv * ((1 - tu) * surface.at<float>(r1, c0) + tu * surface.at<float>(r1, c1));
                if (Z(i) - m_zBase - s > threshold) {
                    m_ground[i] = 0;
                    ++removed;
                }
            }
            parts[size_t(b)] = removed;
        }
    };
    // A few blocks are not worth waking the thread pool for.
    if (parts.size() > 2) {
        cv::parallel_for_(cv::Range(0, int(parts.size())), classify);
    } else {
        classify(cv::Range(0, int(parts.size())));
    }
    size_t removed = 0;
    for (size_t p : parts) {
        removed += p;
    }
    return removed;
}

bool Run::Write(LASreader* reader, const QString& outputPath) {
    LASwriteOpener opener;
    opener.SetFileName(outputPath);
    QString error;
    std::unique_ptr<LASwriterLAS> writer = opener.Open(reader->header, &error);
    if (!writer || !reader->Rewind()) {
        Fail(QString("Cannot write the ground points: %1").arg(error));
        return false;
    }
    size_t i = 0;
    while (i < m_ground.size() && reader->ReadPoint()) {
        if (m_ground[i]) {
            LASpoint p = reader->point;
            p.classification = kGroundClass;
            if (!writer->WritePoint(p)) {
                break;
            }
        }
        if (++i % kPumpEvery == 0) {
            Report(90 + int(10 * i / m_ground.size()));
            if (Aborted()) {
                Fail("Aborted");
                return false;
            }
        }
    }
    if (i != m_ground.size() || !writer->Close()) {
        Fail(QString("Cannot write the ground points: %1").arg(writer->Error()));
        return false;
    }
    return true;
}

}  // namespace

int CMCCGroundFilter::Process(double scale, double curvatureThreshold, const QString& inputPath,
                              const QString& outputPath, ProgressSink* progress, QString* status,
                              int* abortFlag) {
    Run run(progress, status, abortFlag);
    if (!(scale > 0) || !std::isfinite(scale) || !std::isfinite(curvatureThreshold)) {
        return run.Fail("Invalid filter parameters");
    }
    if (progress) {
        progress->SetRange(0, 100);
        progress->SetPos(0);
    }
    LASreadOpener opener;
    opener.SetFileName(inputPath);
    QString error;
    std::unique_ptr<LASreader> reader = opener.Open(&error);
    if (!reader) {
        return run.Fail(QString("Cannot open LAS file: %1").arg(error));
    }
    run.Report(0, "Reading points...");
    if (!run.Read(reader.get())) {
        return run.Fail("Aborted");
    }
    if (run.GroundCount() == 0) {
        return run.Fail("The LAS file holds no points");
    }
    // The finest domain has the largest grid.
    int cols = 0, rows = 0;
    double stepX = 0.0, stepY = 0.0;
    if (!run.GridSize(scale * kDomainScale[0], &cols, &rows, &stepX, &stepY)) {
        return run.Fail("The points' extent is too large for a surface grid");
    }
    for (int d = 0; d < kDomains; ++d) {
        const double threshold = curvatureThreshold + kThresholdStep * d;
        for (int it = 0; it < kMaxIterations; ++it) {
            if (run.Aborted()) {
                return run.Fail("Aborted");
            }
            const size_t before = run.GroundCount();
            const size_t removed = run.Classify(scale * kDomainScale[d], threshold);
            run.Report(10 + d * 80 / kDomains + std::min(it, 20) * 80 / kDomains / 21,
                       QString("Scale domain %1, iteration %2: %3 points taken off the ground")
                           .arg(d + 1)
                           .arg(it + 1)
                           .arg(removed));
            if (double(removed) < kConvergence[d] * double(before) || removed == 0) {
                break;
            }
        }
    }
    if (run.Aborted()) {
        return run.Fail("Aborted");
    }
    run.Report(90, "Writing ground points...");
    if (!run.Write(reader.get(), outputPath)) {
        return 0;
    }
    run.Report(100, QString("%1 ground points written").arg(run.GroundCount()));
    return 1;
}
