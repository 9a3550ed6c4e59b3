#include "demtools/TinRaster.h"

#include <CGAL/Exact_predicates_inexact_constructions_kernel.h>

#include <vtkCellArray.h>
#include <vtkCellArrayIterator.h>
#include <vtkDoubleArray.h>
#include <vtkPoints.h>
#include <vtkPolyData.h>
#include <vtkSmartPointer.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <exception>
#include <limits>
#include <vector>

#include "platform/geometry/Pgon.h"
#include "platform/tools/ProgressSink.h"
#include "platform/tools/ZQT.h"
#include "raster/DEM.h"

namespace {

using Kernel = CGAL::Exact_predicates_inexact_constructions_kernel;
using Point2 = Kernel::Point_2;

struct Corner {
    double x, y, z;
};

// One triangle of a TIN with the plane through its corners, z = z0 + gx (x - x0) + gy (y - y0).
// A triangle that is vertical in plan has no plane.
struct Triangle {
    Corner p[3];
    CGAL::Orientation turn = CGAL::COLLINEAR;
    double gx = 0.0, gy = 0.0;

    explicit Triangle(const Corner corners[3]) {
        std::copy(corners, corners + 3, p);
        turn = CGAL::orientation(Point2(p[0].x, p[0].y), Point2(p[1].x, p[1].y), Point2(p[2].x, p[2].y));
        const double ax = p[1].x - p[0].x, ay = p[1].y - p[0].y, az = p[1].z - p[0].z;
        const double bx = p[2].x - p[0].x, by = p[2].y - p[0].y, bz = p[2].z - p[0].z;
        const double det = ax * by - bx * ay;
        if (turn == CGAL::COLLINEAR || det == 0.0) {
            turn = CGAL::COLLINEAR;
            return;
        }
        gx = (az * by - bz * ay) / det;
        gy = (ax * bz - bx * az) / det;
    }
    bool HasPlane() const { return turn != CGAL::COLLINEAR && std::isfinite(gx) && std::isfinite(gy); }
    double HeightAt(double x, double y) const { return p[0].z + gx * (x - p[0].x) + gy * (y - p[0].y); }
    // Whether the point lies in the closed triangle, decided exactly on the corners as given: a
    // point on an edge shared by two triangles lies in at least one of them.
    bool Holds(double x, double y) const {
        const Point2 q(x, y);
        for (int k = 0; k < 3; ++k) {
            const Corner& a = p[k];
            const Corner& b = p[(k + 1) % 3];
            const CGAL::Orientation side = CGAL::orientation(Point2(a.x, a.y), Point2(b.x, b.y), q);
            if (side != CGAL::COLLINEAR && side != turn) {
                return false;
            }
        }
        return true;
    }
};

// Stores a height in a Float32 cell; a height beyond what the cell can hold (the extrapolated plane
// of a triangle that is almost vertical in plan) leaves the cell as it is.
void StoreHeight(float& cell, double height) {
    if (std::abs(height) <= double(std::numeric_limits<float>::max())) {
        cell = float(height);
    }
}

// The centres of a grid's cells: cell (c, r) lies at (x0 + c dx, y0 + r dy).
struct CellCentres {
    double x0, y0, dx, dy;
};

// A cell index from a whole number, kept inside the int range so that a far point cannot overflow.
int ToIndex(double v) {
    constexpr double kLimit = double(INT_MAX / 2);
    return std::isnan(v) ? 0 : int(std::clamp(v, -kLimit, kLimit));
}

// Calls visit(column, row, x, y) for every cell of the rectangle whose centre lies in the closed
// triangle. Row by row, the cells between the triangle's edges are taken at once and only those
// on an edge are tested exactly.
template <class Visit>
void ForEachCentreIn(const Triangle& t, const CellCentres& g, const cv::Rect& cells, Visit visit) {
    double miny = t.p[0].y, maxy = t.p[0].y;
    for (int k = 1; k < 3; ++k) {
        miny = std::min(miny, t.p[k].y);
        maxy = std::max(maxy, t.p[k].y);
    }
    const double va = (miny - g.y0) / g.dy, vb = (maxy - g.y0) / g.dy;
    const int r0 = std::max(cells.y, ToIndex(std::ceil(std::min(va, vb))) - 1);
    const int r1 = std::min(cells.y + cells.height - 1, ToIndex(std::floor(std::max(va, vb))) + 1);
    for (int r = r0; r <= r1; ++r) {
        const double y = g.y0 + r * g.dy;
        if (!(y >= miny && y <= maxy)) {
            continue;
        }
        double xl = INFINITY, xr = -INFINITY;
        for (int k = 0; k < 3; ++k) {
            const Corner& a = t.p[k];
            const Corner& b = t.p[(k + 1) % 3];
            if (a.y == b.y) {
                if (a.y == y) {
                    xl = std::min({xl, a.x, b.x});
                    xr = std::max({xr, a.x, b.x});
                }
            } else if ((a.y <= y && y <= b.y) || (b.y <= y && y <= a.y)) {
                const double x = a.x + (y - a.y) * (b.x - a.x) / (b.y - a.y);
                xl = std::min(xl, x);
                xr = std::max(xr, x);
            }
        }
        if (!(xl <= xr)) {
            continue;
        }
        // The edges' places in columns: cells further than kDoubt inside are taken at once, those
        // closer to an edge than rounding can tell are decided exactly.
        constexpr double kDoubt = 1e-4;
        const double ua = (xl - g.x0) / g.dx, ub = (xr - g.x0) / g.dx;
        const double lo = std::min(ua, ub), hi = std::max(ua, ub);
        const int c0 = std::max(cells.x, ToIndex(std::ceil(lo - kDoubt)));
        const int c1 = std::min(cells.x + cells.width - 1, ToIndex(std::floor(hi + kDoubt)));
        for (int c = c0; c <= c1; ++c) {
            const double x = g.x0 + c * g.dx;
            if ((c > lo + kDoubt && c < hi - kDoubt) || t.Holds(x, y)) {
                visit(c, r, x, y);
            }
        }
    }
}

// Moves the bar once per whole percent of the steps and lets pending events through then.
class StepProgress {
public:
    StepProgress(ProgressSink* progress, size_t total)
        : m_progress(progress), m_total(std::max<size_t>(total, 1)) {
        if (m_progress) {
            m_progress->SetRange(0, 100);
            m_progress->SetPos(0);
        }
    }
    ~StepProgress() {
        if (m_progress) {
            m_progress->SetPos(0);
        }
    }
    StepProgress(const StepProgress&) = delete;
    StepProgress& operator=(const StepProgress&) = delete;
    void Step(size_t done) {
        const int percent = int(done * 100 / m_total);
        if (percent == m_percent) {
            return;
        }
        m_percent = percent;
        if (m_progress) {
            m_progress->SetPos(percent);
        }
        ZQT_PumpMessages();
    }

private:
    ProgressSink* m_progress;
    size_t m_total;
    int m_percent = 0;
};

// The triangles of the TIN's polygon array, in order; other polygons are left out.
std::vector<Triangle> TrianglesOf(vtkPolyData* tin) {
    std::vector<Triangle> triangles;
    vtkCellArray* polys = tin ? tin->GetPolys() : nullptr;
    vtkPoints* points = tin ? tin->GetPoints() : nullptr;
    if (!polys || !points || polys->GetNumberOfCells() == 0) {
        return triangles;
    }
    triangles.reserve(size_t(polys->GetNumberOfCells()));
    const vtkIdType pointCount = points->GetNumberOfPoints();
    vtkDoubleArray* doubles = vtkDoubleArray::SafeDownCast(points->GetData());
    const double* xyzs = doubles && doubles->GetNumberOfComponents() == 3 ? doubles->GetPointer(0) : nullptr;
    auto it = vtk::TakeSmartPointer(polys->NewIterator());
    for (it->GoToFirstCell(); !it->IsDoneWithTraversal(); it->GoToNextCell()) {
        vtkIdType count = 0;
        const vtkIdType* ids = nullptr;
        it->GetCurrentCell(count, ids);
        if (count != 3) {
            continue;
        }
        Corner corners[3];
        bool valid = true;
        for (int k = 0; k < 3; ++k) {
            if (ids[k] < 0 || ids[k] >= pointCount) {
                valid = false;
                break;
            }
            double xyz[3];
            if (xyzs) {
                std::copy(xyzs + 3 * ids[k], xyzs + 3 * ids[k] + 3, xyz);
            } else {
                points->GetPoint(ids[k], xyz);
            }
            corners[k] = {xyz[0], xyz[1], xyz[2]};
            if (!(std::isfinite(xyz[0]) && std::isfinite(xyz[1]) && std::isfinite(xyz[2]))) {
                valid = false;
                break;
            }
        }
        if (valid) {
            triangles.emplace_back(corners);
        }
    }
    return triangles;
}

// Writes the heights of the triangles into the raster at the cells whose centres they hold, the
// later triangle over the earlier one. Each triangle is one step of the progress.
void WriteTriangles(const std::vector<Triangle>& triangles, const CellCentres& g, const cv::Rect& cells,
                    cv::Mat& raster, StepProgress& progress, size_t& done) {
    for (const Triangle& t : triangles) {
        progress.Step(++done);
        if (!t.HasPlane()) {
            continue;
        }
        ForEachCentreIn(t, g, cells, [&](int c, int r, double x, double y) {
            StoreHeight(raster.at<float>(r, c), t.HeightAt(x, y));
        });
    }
}

// Fills cells that still hold no data near the TIN's edges: each triangle's corners pushed `reach`
// further from its centroid (in 3-D), its extrapolated plane written into the cells of its box
// (rounded to the nearest cell lines) whose centres the pushed triangle holds.
void ExtendTriangles(const std::vector<Triangle>& triangles, const double bounds[4], double w, double h,
                     double reach, const cv::Rect& cells, cv::Mat& raster, StepProgress& progress,
                     size_t& done) {
    for (const Triangle& t : triangles) {
        progress.Step(++done);
        if (!t.HasPlane()) {
            continue;
        }
        const Corner m = {(t.p[0].x + t.p[1].x + t.p[2].x) / 3.0, (t.p[0].y + t.p[1].y + t.p[2].y) / 3.0,
                          (t.p[0].z + t.p[1].z + t.p[2].z) / 3.0};
        double qx[3], qy[3];
        bool valid = true;
        double minx = t.p[0].x, maxx = t.p[0].x, miny = t.p[0].y, maxy = t.p[0].y;
        for (int k = 0; k < 3; ++k) {
            const double dx = t.p[k].x - m.x, dy = t.p[k].y - m.y, dz = t.p[k].z - m.z;
            const double length = std::sqrt(dx * dx + dy * dy + dz * dz);
            if (!(length > 0.0) || !std::isfinite(length)) {
                valid = false;
                break;
            }
            const double scale = (length + reach) / length;
            qx[k] = m.x + dx * scale;
            qy[k] = m.y + dy * scale;
            minx = std::min(minx, t.p[k].x);
            maxx = std::max(maxx, t.p[k].x);
            miny = std::min(miny, t.p[k].y);
            maxy = std::max(maxy, t.p[k].y);
        }
        if (!valid) {
            continue;
        }
        const int c0 = std::max(cells.x, ToIndex(std::nearbyint((minx - bounds[0]) / w)));
        const int c1 = std::min(cells.x + cells.width, ToIndex(std::nearbyint((maxx - bounds[0]) / w)));
        const int r0 = std::max(cells.y, ToIndex(std::nearbyint((bounds[3] - maxy) / h)));
        const int r1 = std::min(cells.y + cells.height, ToIndex(std::nearbyint((bounds[3] - miny) / h)));
        for (int r = r0; r < r1; ++r) {
            float* row = raster.ptr<float>(r);
            const double y = bounds[3] - (r + 0.5) * h;
            // Only the cells near the pushed triangle's span on this row can lie in it: a long,
            // thin triangle has a wide box but a short span on each row.
            double xl = INFINITY, xr = -INFINITY;
            for (int k = 0; k < 3; ++k) {
                const double ax = qx[k], ay = qy[k], bx = qx[(k + 1) % 3], by = qy[(k + 1) % 3];
                if (ay == by) {
                    if (ay == y) {
                        xl = std::min({xl, ax, bx});
                        xr = std::max({xr, ax, bx});
                    }
                } else if ((ay <= y && y <= by) || (by <= y && y <= ay)) {
                    const double x = ax + (y - ay) * (bx - ax) / (by - ay);
                    xl = std::min(xl, x);
                    xr = std::max(xr, x);
                }
            }
            if (!(xl <= xr)) {
                continue;
            }
            const int from = std::max(c0, ToIndex(std::floor((xl - bounds[0]) / w - 0.5)) - 1);
            const int to = std::min(c1, ToIndex(std::ceil((xr - bounds[0]) / w - 0.5)) + 2);
            for (int c = from; c < to; ++c) {
                const double x = bounds[0] + (c + 0.5) * w;
                if (row[c] == kNoData && point_in_polygon(3, qx, qy, x, y)) {
                    StoreHeight(row[c], t.HeightAt(x, y));
                }
            }
        }
    }
}

// The raster of both rasterisers; empty when it has no cell or cannot be allocated.
cv::Mat Rasterize(vtkPolyData* tin, const double bounds[4], double w, double h, ProgressSink* progress,
                  bool needTriangles) {
    w = std::fabs(w);
    h = std::fabs(h);
    const double columns = std::trunc((bounds[1] - bounds[0]) / w);
    const double rows = std::trunc((bounds[3] - bounds[2]) / h);
    if (!(columns >= 1.0 && rows >= 1.0) || columns > INT_MAX || rows > INT_MAX ||
        !FitsInMemory(columns * rows)) {
        return cv::Mat();
    }
    try {
        const std::vector<Triangle> triangles = TrianglesOf(tin);
        if (needTriangles && triangles.empty()) {
            return cv::Mat();
        }
        cv::Mat raster(int(rows), int(columns), CV_32FC1, cv::Scalar(kNoData));
        const cv::Rect inner(1, 1, raster.cols - 2, raster.rows - 2);
        if (inner.width <= 0 || inner.height <= 0) {
            return raster;
        }
        StepProgress steps(progress, 2 * triangles.size());
        size_t done = 0;
        const CellCentres centres = {bounds[0] + 0.5 * w, bounds[3] - 0.5 * h, w, -h};
        WriteTriangles(triangles, centres, inner, raster, steps, done);
        ExtendTriangles(triangles, bounds, w, h, 2.0 * std::max(w, h), inner, raster, steps, done);
        return raster;
    } catch (const std::exception&) {
        return cv::Mat();
    }
}

}  // namespace

cv::Mat RasterizeTin(vtkPolyData* tin, const double bounds[4], double cellSize, ProgressSink* progress) {
    return Rasterize(tin, bounds, cellSize, cellSize, progress, true);
}

cv::Mat RasterizeTinToGrid(vtkPolyData* tin, double cellWidth, double cellHeight, const double bounds[4]) {
    return Rasterize(tin, bounds, cellWidth, cellHeight, nullptr, false);
}

int EditDemFromTin(CDEM& dem, vtkPolyData* tin, const double centre[3], ProgressSink* progress,
                   const DemEditRecorder& record) {
    if (!tin || !PrepareDemGrid(dem, progress)) {
        return 0;
    }
    const std::vector<Triangle> triangles = TrianglesOf(tin);
    if (triangles.empty()) {
        return 0;
    }
    const double* gt = dem.m_geoTransform;
    if (!(std::isfinite(gt[1]) && gt[1] != 0.0 && std::isfinite(gt[5]) && gt[5] != 0.0)) {
        return 0;
    }
    double tinBounds[6];
    tin->GetBounds(tinBounds);
    // The cells whose centres lie within the TIN's box, in the TIN's frame.
    const double ox = gt[0] - centre[0], oy = gt[3] - centre[1];
    const double ca = (tinBounds[0] - ox) / gt[1] - 0.5, cb = (tinBounds[1] - ox) / gt[1] - 0.5;
    const double ra = (tinBounds[3] - oy) / gt[5] - 0.5, rb = (tinBounds[2] - oy) / gt[5] - 0.5;
    const int c0 = std::max(0, ToIndex(std::ceil(std::min(ca, cb))));
    const int c1 = std::min(dem.m_grid.cols - 1, ToIndex(std::floor(std::max(ca, cb))));
    const int r0 = std::max(0, ToIndex(std::ceil(std::min(ra, rb))));
    const int r1 = std::min(dem.m_grid.rows - 1, ToIndex(std::floor(std::max(ra, rb))));
    if (c0 > c1 || r0 > r1) {
        return 0;
    }
    const cv::Rect window(c0, r0, c1 - c0 + 1, r1 - r0 + 1);

    dem.m_busy = 1;
    const cv::Mat before = dem.m_grid(window).clone();
    cv::Mat after = before.clone();
    {
        StepProgress steps(progress, triangles.size());
        size_t done = 0;
        const CellCentres centres = {ox + (c0 + 0.5) * gt[1], oy + (r0 + 0.5) * gt[5], gt[1], gt[5]};
        WriteTriangles(triangles, centres, cv::Rect(0, 0, window.width, window.height), after, steps, done);
    }
    DemAreaPiece piece;
    piece.bounds = window;
    piece.outline = {window.tl(), window.tl() + cv::Point(0, window.height - 1),
                     window.tl() + cv::Point(window.width - 1, window.height - 1),
                     window.tl() + cv::Point(window.width - 1, 0)};
    const int written = CommitDemWindow(dem, piece, window, before, after, cv::Mat(), progress, record);
    dem.m_busy = 0;
    return written;
}
