#include "analysis/VolumeWorker.h"

#include <QElapsedTimer>

#include <vtkPlane.h>
#include <opencv2/core.hpp>

#include <algorithm>
#include <cmath>
#include <limits>

#include "analysis/CellSampling.h"
#include "analysis/Lattice.h"
#include "platform/geometry/Pgon.h"
#include "platform/tools/BusyScope.h"
#include "platform/tools/ProgressSink.h"
#include "platform/tools/ZQT.h"
#include "raster/DEM.h"

namespace {

// Half-length of the vertical segment a sample is cut with the plane along.
constexpr double kPlaneProbe = 1000000.0;
// Samples per block of rows between two looks at the operator.
constexpr long long kBlockSamples = 1 << 20;
constexpr qint64 kPumpIntervalMs = 50;

struct Plane {
    double point[3];
    double normal[3];
};

// What one row of samples adds: sums of the differences (not yet multiplied by g·g), the count
// and the lowest elevation.
struct RowSums {
    double overReference = 0.0;
    double underReference = 0.0;
    double overPlane = 0.0;
    double underPlane = 0.0;
    double minimum = std::numeric_limits<double>::max();
    long long samples = 0;
};

// The window of the DEM the samples are read from, in DEM pixels.
struct Window {
    cv::Rect rect;
    double x0 = 0.0;  // world position of the window's top-left corner
    double y0 = 0.0;
};

// The window around the vertices' pixel box with a margin of 10 pixels, cut to the raster:
// samples beyond the raster have no data either way, an AOI far larger than the DEM must not cost
// a window of its size, and where the AOI reaches the raster's edge the window's edge is the
// raster's, so that the sampling there sees the raster's own border.
bool WindowOf(const CDEM& dem, double minPx, double maxPx, double minPy, double maxPy, Window& window) {
    constexpr int kMargin = 10;
    const double w = dem.Width();
    const double h = dem.Height();
    auto clampPx = [](double v, double limit) {
        return std::clamp(v, -2.0 * kMargin, limit + 2.0 * kMargin);
    };
    const int left = std::max(static_cast<int>(std::trunc(clampPx(minPx, w))) - kMargin, 0);
    const int top = std::max(static_cast<int>(std::trunc(clampPx(minPy, h))) - kMargin, 0);
    const int right = std::min(static_cast<int>(std::trunc(clampPx(maxPx, w))) + kMargin, int(w));
    const int bottom = std::min(static_cast<int>(std::trunc(clampPx(maxPy, h))) + kMargin, int(h));
    if (right <= left || bottom <= top) {
        return false;
    }
    window.rect = cv::Rect(left, top, right - left, bottom - top);
    window.x0 = dem.m_geoTransform[0] + left * dem.m_geoTransform[1];
    window.y0 = dem.m_geoTransform[3] + top * dem.m_geoTransform[5];
    return true;
}

// Whether the samples of one lattice row lie inside the AOI. The inside can change only where the
// row meets the outline, so between two such places one test of the polygon serves every sample;
// samples next to a meeting place are tested one by one. Every answer is the polygon's own.
class RowInside {
public:
    RowInside(const CPgon& polygon, const std::vector<Wml::Point2>& outline, double y, double tolerance)
        : m_polygon(polygon), m_y(y), m_tolerance(tolerance) {
        const size_t n = outline.size();
        for (size_t i = 0; i < n; ++i) {
            const Wml::Point2& a = outline[i];
            const Wml::Point2& b = outline[(i + 1) % n];
            if (a.Y() == y && b.Y() == y) {
                m_meets.push_back(a.X());
                m_meets.push_back(b.X());
            } else if (std::min(a.Y(), b.Y()) <= y && y <= std::max(a.Y(), b.Y())) {
                m_meets.push_back(a.X() + (y - a.Y()) * (b.X() - a.X()) / (b.Y() - a.Y()));
            }
        }
        std::sort(m_meets.begin(), m_meets.end());
    }

    // Samples must be asked for from left to right.
    bool Inside(double x) {
        while (m_next < m_meets.size() && m_meets[m_next] < x - m_tolerance) {
            ++m_next;
            m_known = false;
        }
        if (m_next < m_meets.size() && m_meets[m_next] <= x + m_tolerance) {
            return m_polygon.PtInPolygon(x, m_y) != 0;
        }
        if (!m_known) {
            m_inside = m_polygon.PtInPolygon(x, m_y) != 0;
            m_known = true;
        }
        return m_inside;
    }

private:
    const CPgon& m_polygon;
    double m_y;
    double m_tolerance;
    std::vector<double> m_meets;
    size_t m_next = 0;
    bool m_known = false;
    bool m_inside = false;
};

// Samples the window at the lattice positions. Each sample is SampleAtCellCentres' value at its
// window position; where that interpolates bicubically, the four row results of a sample are
// shared by every sample of the same lattice column whose centre rows are the same, so they are
// computed once per window row and block of lattice rows (with the same kernel, so the bits are
// the same).
class LatticeSampler {
public:
    LatticeSampler(const cv::Mat& image, const Window& window, const double* gt, double minX, double minY,
                   double g, long long firstColumn, long long lastColumn)
        : m_image(image), m_window(window), m_gt(gt), m_minY(minY), m_g(g) {
        for (long long k = firstColumn; k <= lastColumn; ++k) {
            const double x = minX + double(k) * g;
            const double column = (x - window.x0) / gt[1];
            const CentreBase base = CentreBaseOf(column);
            m_x.push_back(x);
            m_column.push_back(column);
            m_base.push_back(base.cell);
            m_bicubic.push_back(column >= 0.0 && column < image.cols && Bicubic(base.cell, image.cols));
            m_fraction.push_back(base.fraction);
        }
    }

    size_t Columns() const { return m_x.size(); }
    double X(size_t i) const { return m_x[i]; }
    double Y(long long row) const { return m_minY + double(row) * m_g; }

    // Computes the row results that the lattice rows first to last need.
    void PrepareRows(long long first, long long last) {
        m_firstCell = std::numeric_limits<int>::max();
        int lastCell = -1;
        for (long long j = first; j <= last; ++j) {
            const int r = CentreBaseOf(ImageRow(j)).cell;
            if (Bicubic(r, m_image.rows)) {
                m_firstCell = std::min(m_firstCell, r - 1);
                lastCell = std::max(lastCell, r + 2);
            }
        }
        if (lastCell < 0) {
            m_cells = 0;
            return;
        }
        m_cells = lastCell - m_firstCell + 1;
        const size_t n = m_x.size();
        m_rowResults.resize(size_t(m_cells) * n);
        cv::parallel_for_(cv::Range(0, m_cells), [&](const cv::Range& range) {
            for (int i = range.start; i < range.end; ++i) {
                const float* line = m_image.ptr<float>(m_firstCell + i);
                double* out = &m_rowResults[size_t(i) * n];
                for (size_t k = 0; k < n; ++k) {
                    const int c = m_base[k];
                    out[k] = kNoRowResult;
                    if (!m_bicubic[k]) {
                        continue;
                    }
                    double p[4];
                    bool valid = true;
                    for (int t = 0; t < 4 && valid; ++t) {
                        const float v = line[c - 1 + t];
                        valid = !IsNoData(v);
                        p[t] = v;
                    }
                    if (valid) {
                        out[k] = CubicThrough(p, m_fraction[k]);
                    }
                }
            }
        });
    }

    // The elevation at lattice column i of lattice row j (prepared), -9999 without data.
    double Sample(size_t i, long long j) const {
        const double imageRow = ImageRow(j);
        if (m_bicubic[i] && imageRow >= 0.0 && imageRow < m_image.rows &&
            !IsNoData(m_image.at<float>(static_cast<int>(imageRow), static_cast<int>(m_column[i])))) {
            const CentreBase row = CentreBaseOf(imageRow);
            if (Bicubic(row.cell, m_image.rows)) {
                const size_t n = m_x.size();
                const double* first = &m_rowResults[size_t(row.cell - 1 - m_firstCell) * n + i];
                const double rows[4] = {first[0], first[n], first[2 * n], first[3 * n]};
                if (!std::isnan(rows[0]) && !std::isnan(rows[1]) && !std::isnan(rows[2]) &&
                    !std::isnan(rows[3])) {
                    return CubicThrough(rows, row.fraction);
                }
            }
        }
        return SampleAtCellCentres(m_image, m_column[i], imageRow);
    }

private:
    static constexpr double kNoRowResult = std::numeric_limits<double>::quiet_NaN();

    // Whether the four centres from cell - 1 to cell + 2 lie on the window.
    static bool Bicubic(int cell, int count) { return cell >= 1 && cell + 2 < count; }
    double ImageRow(long long j) const { return (Y(j) - m_window.y0) / m_gt[5]; }

    const cv::Mat& m_image;
    const Window& m_window;
    const double* m_gt;
    double m_minY;
    double m_g;
    std::vector<double> m_x;
    std::vector<double> m_column;
    std::vector<int> m_base;      // the window column of the first of the four centres
    std::vector<char> m_bicubic;  // the sixteen centres of this column can lie on the window
    std::vector<double> m_fraction;
    int m_firstCell = 0;
    int m_cells = 0;
    std::vector<double> m_rowResults;
};

}  // namespace

AoiVolumes ComputeAoiVolumes(CDEM& dem, const std::vector<Wml::Point3>& aoi, double reference,
                             ProgressSink* progress, const int* abortFlag) {
    AoiVolumes result;
    const double* gt = dem.m_geoTransform;
    if (aoi.size() < 3 || !(gt[1] != 0.0) || !(gt[5] != 0.0)) {
        return result;
    }

    // The vertices: their boxes in world and pixel coordinates, and those on data.
    double minX = aoi[0].X(), maxX = minX, minY = aoi[0].Y(), maxY = minY;
    double minPx = std::numeric_limits<double>::max(), maxPx = -minPx, minPy = minPx, maxPy = -minPx;
    std::vector<Wml::Point3> elevated;
    std::vector<Wml::Point2> outline;
    for (const Wml::Point3& v : aoi) {
        const double px = (v.X() - gt[0]) / gt[1];
        const double py = (v.Y() - gt[3]) / gt[5];
        minPx = std::min(minPx, px);
        maxPx = std::max(maxPx, px);
        minPy = std::min(minPy, py);
        maxPy = std::max(maxPy, py);
        minX = std::min(minX, v.X());
        maxX = std::max(maxX, v.X());
        minY = std::min(minY, v.Y());
        maxY = std::max(maxY, v.Y());
        outline.emplace_back(v.X(), v.Y());
        const double z = dem.GetElevation(v.X(), v.Y());
        if (z != kNoData) {
            elevated.emplace_back(v.X(), v.Y(), z);
            result.verticesMinimum = std::min(result.verticesMinimum.value_or(z), z);
        }
    }
    const CPgon polygon(outline.data(), int(outline.size()));

    Window window;
    cv::Mat image;
    if (WindowOf(dem, minPx, maxPx, minPy, maxPy, window)) {
        image = dem.CreateRegionImage(&window.rect, window.rect.size());
    }
    if (image.empty()) {
        return result;
    }

    std::optional<Plane> plane;
    if (elevated.size() >= 3) {
        Wml::Point3 point;
        Wml::Vector3 normal;
        if (!std::isnan(Wml::OrthogonalPlaneFit(int(elevated.size()), elevated.data(), point, normal))) {
            plane = Plane{{point.X(), point.Y(), point.Z()}, {normal.X(), normal.Y(), normal.Z()}};
        }
    }
    if (reference == kUnsetReference && result.verticesMinimum) {
        reference = *result.verticesMinimum;
    }
    result.reference = reference;
    const bool byReference = reference != kUnsetReference;

    // The lattice over the AOI's box, and the part of it that falls on the window (samples
    // beyond it have no data).
    const double g = std::fabs(gt[1]) / 3.0;
    const long long columns = LatticeCount(minX, maxX, g);
    const long long rows = LatticeCount(minY, maxY, g);
    auto onWindow = [g](double origin, double a, double b, long long count, long long* first,
                        long long* last) {
        const double limit = double(count) + 2.0;
        const double lo = std::clamp(std::floor((std::min(a, b) - origin) / g) - 1.0, 0.0, limit);
        const double hi = std::clamp(std::ceil((std::max(a, b) - origin) / g) + 1.0, -1.0, limit);
        *first = std::min(static_cast<long long>(lo), count);
        *last = std::min(static_cast<long long>(hi), count - 1);
    };
    long long firstColumn = 0, lastColumn = -1, firstRow = 0, lastRow = -1;
    onWindow(minX, window.x0, window.x0 + window.rect.width * gt[1], columns, &firstColumn, &lastColumn);
    onWindow(minY, window.y0, window.y0 + window.rect.height * gt[5], rows, &firstRow, &lastRow);
    // An outline that encloses nothing has no inside, though samples lie on it.
    if (!(polygon.GetArea() > 0.0)) {
        lastRow = firstRow - 1;
    }
    LatticeSampler sampler(image, window, gt, minX, minY, g, firstColumn, lastColumn);
    // Samples closer than this to where a row meets the outline are tested one by one.
    const double tolerance = g * 1e-6;

    const double n = std::trunc(((maxY - minY) / g) * ((maxX - minX) / g));
    const double step = 100.0 / std::max(n, 1.0);
    if (progress) {
        progress->SetPos(0);
        progress->SetStartTime();
    }

    RowSums total;
    const long long rowsPerBlock =
        std::max<long long>(1, kBlockSamples / std::max<size_t>(1, sampler.Columns()));
    std::vector<RowSums> sums;
    kv::BusyScope busy;
    QElapsedTimer sincePump;
    sincePump.start();
    int shown = 0;
    double done = double(firstRow) * double(columns);
    for (long long blockStart = firstRow; blockStart <= lastRow; blockStart += rowsPerBlock) {
        const long long blockRows = std::min(rowsPerBlock, lastRow - blockStart + 1);
        sampler.PrepareRows(blockStart, blockStart + blockRows - 1);
        sums.assign(size_t(blockRows), RowSums());
        cv::parallel_for_(cv::Range(0, int(blockRows)), [&](const cv::Range& range) {
            for (int i = range.start; i < range.end; ++i) {
                const long long j = blockStart + i;
                const double y = sampler.Y(j);
                RowSums& row = sums[size_t(i)];
                RowInside inside(polygon, outline, y, tolerance);
                for (size_t k = 0; k < sampler.Columns(); ++k) {
                    const double x = sampler.X(k);
                    if (!inside.Inside(x)) {
                        continue;
                    }
                    const double z = sampler.Sample(k, j);
                    if (z == kNoData || !std::isfinite(z)) {
                        continue;
                    }
                    ++row.samples;
                    row.minimum = std::min(row.minimum, z);
                    if (byReference) {
                        const double d = z - reference;
                        if (d > 0.0) {
                            row.overReference += d;
                        } else {
                            row.underReference -= d;
                        }
                    }
                    if (plane) {
                        double top[3] = {x, y, z + kPlaneProbe};
                        double bottom[3] = {x, y, z - kPlaneProbe};
                        double normal[3] = {plane->normal[0], plane->normal[1], plane->normal[2]};
                        double origin[3] = {plane->point[0], plane->point[1], plane->point[2]};
                        double t = 0.0;
                        double meet[3];
                        if (vtkPlane::IntersectWithLine(top, bottom, normal, origin, t, meet)) {
                            const double d = z - meet[2];
                            if (d > 0.0) {
                                row.overPlane += d;
                            } else {
                                row.underPlane -= d;
                            }
                        }
                    }
                }
            }
        });
        for (const RowSums& row : sums) {
            total.overReference += row.overReference;
            total.underReference += row.underReference;
            total.overPlane += row.overPlane;
            total.underPlane += row.underPlane;
            total.minimum = std::min(total.minimum, row.minimum);
            total.samples += row.samples;
        }

        done += double(blockRows) * double(columns);
        const int rounded = static_cast<int>(std::lround(std::min(100.0, done * step)));
        if (rounded != shown) {
            shown = rounded;
            if (progress) {
                progress->SetPos(rounded);
            }
            ZQT_PumpMessages();
            sincePump.restart();
        } else if (sincePump.elapsed() >= kPumpIntervalMs) {
            ZQT_PumpMessages();
            sincePump.restart();
        }
        if ((abortFlag && *abortFlag) || (progress && progress->IsAborted())) {
            result.aborted = true;
            break;
        }
    }

    const double cell = g * g;
    if (byReference) {
        result.overReference = total.overReference * cell;
        result.underReference = total.underReference * cell;
    }
    if (plane) {
        result.overPlane = total.overPlane * cell;
        result.underPlane = total.underPlane * cell;
    }
    if (total.samples > 0) {
        result.aoiMinimum = total.minimum;
    }
    result.samples = total.samples;
    return result;
}
