#include "demtools/EntityElevation.h"

#include <vtkPolyData.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>

#include "demtools/Tin.h"
#include "demtools/TinRaster.h"
#include "raster/DEM.h"

namespace {

// The first index of [0, n) where `holds` is false, for a predicate that is true on a prefix.
template <class Pred>
int FirstFalse(int n, Pred holds) {
    int lo = 0, hi = n;
    while (lo < hi) {
        const int mid = lo + (hi - lo) / 2;
        if (holds(mid)) {
            lo = mid + 1;
        } else {
            hi = mid;
        }
    }
    return lo;
}

// Fewest rows of a band of a burn run on its own thread.
constexpr int kBurnBandRows = 256;

// Side of the blocks whose touched runs become the undo records of a cell write.
constexpr int kWriteBlock = 256;

bool NorthUp(const CDEM& dem) {
    const double* gt = dem.m_geoTransform;
    return std::isfinite(gt[0]) && std::isfinite(gt[3]) && std::isfinite(gt[1]) && std::isfinite(gt[5]) &&
           gt[1] > 0.0 && gt[5] < 0.0 && gt[2] == 0.0 && gt[4] == 0.0;
}

}  // namespace

int WriteDemCells(CDEM& dem, const DemCellWrite& cells, ProgressSink* progress,
                  const DemEditRecorder& record) {
    if (dem.m_grid.empty() || dem.m_grid.type() != CV_32FC1 || cells.Empty()) {
        return 0;
    }
    const cv::Rect grid(0, 0, dem.m_grid.cols, dem.m_grid.rows);
    if ((cells.window & grid) != cells.window || cells.mask.size() != cells.window.size() ||
        cells.mask.type() != CV_8UC1 || cells.heights.size() != cells.window.size() ||
        cells.heights.type() != CV_32FC1) {
        return 0;
    }
    // One record for each run of touched blocks along a row of blocks: cells far from every
    // written one are neither copied nor saved.
    const cv::Size size = cells.window.size();
    for (int y = 0; y < size.height; y += kWriteBlock) {
        const int rows = std::min(kWriteBlock, size.height - y);
        auto touched = [&](int x) {
            return cv::countNonZero(cells.mask(cv::Rect(x, y, std::min(kWriteBlock, size.width - x), rows))) >
                   0;
        };
        for (int x = 0; x < size.width; x += kWriteBlock) {
            if (!touched(x)) {
                continue;
            }
            int end = x + kWriteBlock;
            while (end < size.width && touched(end)) {
                end += kWriteBlock;
            }
            const cv::Rect part(x, y, std::min(end, size.width) - x, rows);
            const cv::Rect target = part + cells.window.tl();
            dem.m_busy = 1;
            const cv::Mat mask = cells.mask(part);
            // The cells as they were, for the record only.
            const cv::Mat before = record ? MaskedCopy(dem.m_grid(target), mask) : cv::Mat();
            DemAreaPiece piece;
            piece.bounds = target;
            const int written =
                CommitDemWindow(dem, piece, target, before, cells.heights(part), mask, progress, record);
            dem.m_busy = 0;
            if (!written) {
                return 0;
            }
            x = end - kWriteBlock;
        }
    }
    return 1;
}

EntityPatch MakeEntityPatch(const std::vector<Wml::Point3>& vertices) {
    EntityPatch patch;
    std::vector<Wml::Point2> plan;
    std::vector<TinSegment> sides;
    const int n = int(vertices.size());
    for (int i = 0; i < n; ++i) {
        plan.emplace_back(vertices[size_t(i)].X(), vertices[size_t(i)].Y());
        sides.push_back({i, (i + 1) % n});
    }
    patch.outline = CPgon(plan.data(), n);
    patch.tin = TriangulateTin(vertices, sides);
    return patch;
}

cv::Mat CornersInside(const CPgon& polygon, const double gt[6], const cv::Rect& window) {
    cv::Mat mask(std::max(window.height, 0), std::max(window.width, 0), CV_8UC1, cv::Scalar(0));
    if (window.empty() || !gt || polygon.GetNumContours() == 0) {
        return mask;
    }
    if (!(gt[1] > 0.0) || gt[5] == 0.0 || !std::isfinite(gt[5])) {
        // Columns that do not grow eastwards: the point test cell by cell.
        for (int r = 0; r < window.height; ++r) {
            uint8_t* row = mask.ptr<uint8_t>(r);
            for (int c = 0; c < window.width; ++c) {
                row[c] = polygon.PtInPolygon(gt[0] + (window.x + c) * gt[1], gt[3] + (window.y + r) * gt[5])
                             ? 255
                             : 0;
            }
        }
        return mask;
    }
    // The edges as the point test walks them (from the previous vertex to the current one), each
    // with the rows of the window it may reach.
    struct Edge {
        Wml::Point2 prev, cur;
        double ylo, yhi;
        int firstRow, lastRow;
    };
    // The parity runs over the edges of every contour together, as the point test's does.
    std::vector<Edge> edges;
    for (int k = 0; k < polygon.GetNumContours(); ++k) {
        const std::vector<Wml::Point2>& ring = polygon.GetContour(k);
        const int n = int(ring.size());
        for (int i = 0; i < n; ++i) {
            Edge e{ring[size_t((i + n - 1) % n)], ring[size_t(i)], 0.0, 0.0, 0, 0};
            e.ylo = std::min(e.prev.Y(), e.cur.Y());
            e.yhi = std::max(e.prev.Y(), e.cur.Y());
            const double ra = (e.ylo - gt[3]) / gt[5], rb = (e.yhi - gt[3]) / gt[5];
            e.firstRow = std::max(window.y, TruncToCell(std::floor(std::min(ra, rb))) - 1);
            e.lastRow = std::min(window.y + window.height - 1, TruncToCell(std::ceil(std::max(ra, rb))) + 1);
            if (e.firstRow <= e.lastRow) {
                edges.push_back(e);
            }
        }
    }
    std::sort(edges.begin(), edges.end(),
              [](const Edge& a, const Edge& b) { return a.firstRow < b.firstRow; });

    const int cols = window.width;
    std::vector<uint8_t> toggles(size_t(cols) + 1);
    std::vector<int> onEdge(size_t(cols) + 1);
    std::vector<const Edge*> active;
    size_t next = 0;
    for (int r = window.y; r < window.y + window.height; ++r) {
        active.erase(
            std::remove_if(active.begin(), active.end(), [r](const Edge* e) { return e->lastRow < r; }),
            active.end());
        while (next < edges.size() && edges[next].firstRow <= r) {
            active.push_back(&edges[next++]);
        }
        if (active.empty()) {
            continue;
        }
        const double y = gt[3] + r * gt[5];
        std::fill(toggles.begin(), toggles.end(), 0);
        std::fill(onEdge.begin(), onEdge.end(), 0);
        bool any = false;
        for (const Edge* e : active) {
            if (!(e->ylo <= y && y <= e->yhi)) {
                continue;
            }
            any = true;
            const Wml::Point2& p = e->prev;
            const Wml::Point2& q = e->cur;
            // The point test's own cross product: its sign is monotone along the row, so the
            // columns where it decides one way form one run, found by bisection.
            auto cross = [&](int c) {
                const double x = gt[0] + (window.x + c) * gt[1];
                return (p.X() - q.X()) * (y - q.Y()) - (x - q.X()) * (p.Y() - q.Y());
            };
            if ((q.Y() > y) != (p.Y() > y)) {
                // The ray towards +x crosses the edge from the columns left of it.
                const bool falling = p.Y() > q.Y();
                const int k = FirstFalse(cols, [&](int c) { return (cross(c) > 0.0) == falling; });
                toggles[0] ^= 1;
                toggles[size_t(k)] ^= 1;
            }
            // Corners on the edge: cross product 0 between the ends' x.
            const double xlo = std::min(p.X(), q.X()), xhi = std::max(p.X(), q.X());
            const int a = FirstFalse(cols, [&](int c) { return gt[0] + (window.x + c) * gt[1] < xlo; });
            const int b = FirstFalse(cols, [&](int c) { return gt[0] + (window.x + c) * gt[1] <= xhi; });
            if (a >= b) {
                continue;
            }
            int lo = 0, hi = 0;
            if (p.Y() - q.Y() >= 0.0) {  // the cross product falls along the row
                lo = a + FirstFalse(b - a, [&](int c) { return cross(a + c) > 0.0; });
                hi = a + FirstFalse(b - a, [&](int c) { return cross(a + c) >= 0.0; });
            } else {
                lo = a + FirstFalse(b - a, [&](int c) { return cross(a + c) < 0.0; });
                hi = a + FirstFalse(b - a, [&](int c) { return cross(a + c) <= 0.0; });
            }
            if (lo < hi) {
                ++onEdge[size_t(lo)];
                --onEdge[size_t(hi)];
            }
        }
        if (!any) {
            continue;
        }
        uint8_t* row = mask.ptr<uint8_t>(r - window.y);
        uint8_t parity = 0;
        int edgesHere = 0;
        for (int c = 0; c < cols; ++c) {
            parity ^= toggles[size_t(c)];
            edgesHere += onEdge[size_t(c)];
            row[c] = (parity || edgesHere > 0) ? 255 : 0;
        }
    }
    return mask;
}

DemCellWrite SamplePatchOnDem(const CDEM& dem, const EntityPatch& patch) {
    DemCellWrite out;
    const int w = dem.Width(), h = dem.Height();
    if (!patch.tin || w <= 0 || h <= 0 || !NorthUp(dem)) {
        return out;
    }
    const double* gt = dem.m_geoTransform;
    const double ox = gt[0], oy = gt[3], pw = gt[1], ph = gt[5];
    const Wml::Point2 extent[4] = {
        {ox, oy + h * ph}, {ox + w * pw, oy + h * ph}, {ox + w * pw, oy}, {ox, oy}};
    const CPgon piece = patch.outline & CPgon(extent, 4);
    if (piece.GetNumContours() != 1) {
        return out;
    }
    Wml::Point2 lo, hi;
    piece.GetBoundingBox(0, lo, hi);
    // The piece's box widened to the grid lines, and by one cell more on every side: the sampled
    // raster's outer ring, which never holds heights, then lies on cells whose corners are outside
    // the piece, and every cell whose corner is inside gets its sample.
    const int c0 = TruncToCell(std::floor((lo.X() - ox) / pw)) - 1;
    const int c1 = TruncToCell(std::ceil((hi.X() - ox) / pw)) + 1;
    const int r0 = TruncToCell(std::floor((hi.Y() - oy) / ph)) - 1;
    const int r1 = TruncToCell(std::ceil((lo.Y() - oy) / ph)) + 1;
    const int cols = c1 - c0, rows = r1 - r0;
    if (cols <= 2 || rows <= 2) {
        return out;
    }
    // Half a cell of slack, so that the raster's count of whole cells cannot lose one to rounding.
    const double xmin = ox + c0 * pw, ymax = oy + r0 * ph;
    const double bounds[4] = {xmin, xmin + (cols + 0.5) * pw, ymax + (rows + 0.5) * ph, ymax};
    const cv::Mat sampled = RasterizeTinToGrid(patch.tin, pw, -ph, bounds);
    if (sampled.rows != rows || sampled.cols != cols) {
        return out;
    }
    const cv::Rect window = cv::Rect(c0, r0, cols, rows) & cv::Rect(0, 0, w, h);
    if (window.empty()) {
        return out;
    }
    cv::Mat valid;
    const cv::Mat heights = sampled(window - cv::Point(c0, r0));
    cv::compare(heights, kNoData, valid, cv::CMP_NE);
    out.window = window;
    out.mask = CornersInside(piece, gt, window) & valid;
    out.heights = heights.clone();
    out.heights.setTo(kNotEdited, ~out.mask);
    return out;
}

DemCellWrite BurnShapes(const CDEM& dem, const std::vector<BurnShape>& shapes) {
    DemCellWrite out;
    const int w = dem.Width(), h = dem.Height();
    const double* gt = dem.m_geoTransform;
    if (w <= 0 || h <= 0 || !std::isfinite(gt[1]) || !std::isfinite(gt[5]) || gt[1] == 0.0 || gt[5] == 0.0) {
        return out;
    }
    // The window: the cells of the shapes' box, one more on every side against rounding, on the grid.
    double minx = HUGE_VAL, maxx = -HUGE_VAL, miny = HUGE_VAL, maxy = -HUGE_VAL;
    for (const BurnShape& shape : shapes) {
        for (const Wml::Point3& p : shape.vertices) {
            if (std::isfinite(p.X()) && std::isfinite(p.Y())) {
                minx = std::min(minx, p.X());
                maxx = std::max(maxx, p.X());
                miny = std::min(miny, p.Y());
                maxy = std::max(maxy, p.Y());
            }
        }
    }
    if (!(minx <= maxx && miny <= maxy)) {
        return out;
    }
    const cv::Point a = DemCellAt(dem, minx, miny), b = DemCellAt(dem, maxx, maxy);
    const cv::Rect box(cv::Point(std::min(a.x, b.x) - 1, std::min(a.y, b.y) - 1),
                       cv::Point(std::max(a.x, b.x) + 2, std::max(a.y, b.y) + 2));
    const cv::Rect window = box & cv::Rect(0, 0, w, h);
    if (window.empty()) {
        return out;
    }
    // Each band sets its own rows of these first.
    cv::Mat heights(window.size(), CV_32FC1);
    cv::Mat mask(window.size(), CV_8UC1);
    // The cell that contains a world point, as DemCellAt finds it (rounding down): the window's
    // edges are whole cells, so testing the pixel coordinates against them before truncating gives
    // the same cells, and far or invalid points fall out without a cast.
    const double ox = gt[0], oy = gt[3], pw = gt[1], ph = gt[5];
    const double left = window.x, right = window.x + window.width;
    const int windowTop = window.y;
    float* const heightCells = heights.ptr<float>();
    uint8_t* const maskCells = mask.ptr<uint8_t>();
    const size_t stride = size_t(window.width);
    // The cell index (position - origin) / size rounded down, the rounding done through
    // truncation, which needs no call.
    auto cellIndex = [](double offset, double size) {
        const double v = offset / size;
        if (std::abs(v) < 1e15) {
            const double f = double(int64_t(v));
            return f > v ? f - 1.0 : f;
        }
        return std::floor(v);
    };
    auto columnOf = [=](double x) { return cellIndex(x - ox, pw); };
    auto rowOf = [=](double y) { return cellIndex(y - oy, ph); };
    // The writes of every shape, in order, into the rows top .. bottom - 1 of the grid only: bands
    // of rows are burnt side by side, each as the whole burn would write them.
    auto burnBand = [&](double top, double bottom) {
        const cv::Range rows(int(top) - windowTop, int(bottom) - windowTop);
        heights.rowRange(rows).setTo(kNotEdited);
        mask.rowRange(rows).setTo(0);
        auto putCell = [=](double c, double r, double z) {
            if (c >= left && c < right && r >= top && r < bottom) {
                const size_t at = size_t(int(r) - windowTop) * stride + size_t(int(c) - int(left));
                heightCells[at] = float(z);
                maskCells[at] = 255;
            }
        };
        // A point's cell, tested against the window before it is rounded, as the walk in steps did.
        auto put = [=](double x, double y, double z) {
            const double c = (x - ox) / pw, r = (y - oy) / ph;
            if (c >= left && c < right && r >= top && r < bottom) {
                const size_t at = size_t(int(r) - windowTop) * stride + size_t(int(c) - int(left));
                heightCells[at] = float(z);
                maskCells[at] = 255;
            }
        };
        // The window in world coordinates with one cell to spare: steps outside it write nothing.
        const double wx0 = ox + left * pw, wx1 = ox + right * pw;
        const double wy0 = oy + top * ph, wy1 = oy + bottom * ph;
        const double spare = std::abs(pw) + std::abs(ph);
        const double xa = std::min(wx0, wx1) - spare, xb = std::max(wx0, wx1) + spare;
        const double ya = std::min(wy0, wy1) - spare, yb = std::max(wy0, wy1) + spare;
        auto inBox = [&](const Wml::Point3& p) {
            return p.X() >= xa && p.X() <= xb && p.Y() >= ya && p.Y() <= yb;
        };
        const double step = std::abs(pw) * 0.125;
        // Sides of fewer steps than this are stepped through: finding where their few cells begin and
        // end would cost more than the steps themselves.
        constexpr int64_t kShortWalk = 32;

        // A side is walked as if in steps of an eighth of a cell, but each cell it crosses is visited
        // once: the steps that fall into one cell form one run (the cells of a straight walk change
        // monotonically, so a cell is never entered twice), and only the run's last step, the one
        // that would have been written last, is written. The ends of each run are found from the
        // crossing of the cell's edges and settled on the very expressions of the step's position.
        auto side = [&](const Wml::Point3& p1, const Wml::Point3& p2) {
            // A side wholly beside the band's box writes nothing there.
            if (std::max(p1.Y(), p2.Y()) < ya || std::min(p1.Y(), p2.Y()) > yb ||
                std::max(p1.X(), p2.X()) < xa || std::min(p1.X(), p2.X()) > xb) {
                return;
            }
            const double dx = p2.X() - p1.X(), dy = p2.Y() - p1.Y();
            const double length = std::sqrt(dx * dx + dy * dy);
            const double n = std::trunc(length / step);
            if (!(n >= 1.0) || !std::isfinite(n)) {
                put(p1.X(), p1.Y(), p1.Z());
                put(p2.X(), p2.Y(), p2.Z());
                return;
            }
            // P1's own height would be replaced by the first step, which stands on P1 (or, for a
            // side that starts off the window, written nowhere): only P2's goes first.
            put(p2.X(), p2.Y(), p2.Z());
            const double ux = dx / length, uy = dy / length;
            // The distances along the side at which it lies inside the spare window: all of it for a
            // side whose ends lie there (the box is convex).
            double t0 = 0.0, t1 = (n - 1.0) * step;
            auto clip = [&](double start, double dir, double low, double high) {
                if (dir == 0.0) {
                    if (start < low || start > high) {
                        t1 = -1.0;
                    }
                    return;
                }
                double ta = (low - start) / dir, tb = (high - start) / dir;
                if (ta > tb) {
                    std::swap(ta, tb);
                }
                t0 = std::max(t0, ta);
                t1 = std::min(t1, tb);
            };
            if (!inBox(p1) || !inBox(p2)) {
                clip(p1.X(), ux, xa, xb);
                clip(p1.Y(), uy, ya, yb);
                if (!(t0 <= t1)) {
                    return;
                }
            }
            const int64_t k0 = int64_t(std::max(0.0, std::floor(t0 / step)));
            const int64_t k1 = int64_t(std::min(n - 1.0, std::ceil(t1 / step)));
            const double rise = (p2.Z() - p1.Z()) / n;
            // The position of step k, as put() receives it, and its column and row (rounded down).
            auto xAt = [&](int64_t k) { return p1.X() + (double(k) * step) * ux; };
            auto yAt = [&](int64_t k) { return p1.Y() + (double(k) * step) * uy; };
            auto column = [&](int64_t k) { return columnOf(xAt(k)); };
            auto row = [&](int64_t k) { return rowOf(yAt(k)); };
            // The first step after k whose cell index differs from `at` (k1 + 1 for none), starting
            // from the first step past the cell's edge; `index` changes monotonically along the side.
            auto leave = [&](int64_t k, double at, double dirCells, double start, double origin, double size,
                             double dir, const auto& index) {
                if (dirCells == 0.0) {
                    return k1 + 1;
                }
                const double edge = origin + (dirCells > 0.0 ? at + 1.0 : at) * size;
                const double guess = std::ceil((edge - start) / (step * dir));
                int64_t next = k + 1;
                if (std::isfinite(guess) && guess > double(k + 1)) {
                    next = guess < double(k1 + 1) ? int64_t(guess) : k1 + 1;
                }
                while (next > k + 1 && index(next - 1) != at) {
                    --next;
                }
                while (next <= k1 && index(next) == at) {
                    ++next;
                }
                return next;
            };
            if (k1 - k0 < kShortWalk) {
                // A side of a few cells: its steps one by one, each written over the one before in
                // the same cell.
                for (int64_t k = k0; k <= k1; ++k) {
                    const double d = double(k) * step;
                    put(p1.X() + d * ux, p1.Y() + d * uy, p1.Z() + double(k) * rise);
                }
                return;
            }
            // Each cell's run ends where the side next leaves its column or its row; only the edge
            // that was crossed is looked for again.
            const double colDir = ux / pw, rowDir = uy / ph;
            double c = column(k0), r = row(k0);
            int64_t nextColumn = leave(k0, c, colDir, p1.X(), ox, pw, ux, column);
            int64_t nextRow = leave(k0, r, rowDir, p1.Y(), oy, ph, uy, row);
            for (;;) {
                const int64_t next = std::min(nextColumn, nextRow);
                // The run's last step lies in the run's cell.
                putCell(c, r, p1.Z() + double(next - 1) * rise);
                if (next > k1) {
                    break;
                }
                if (nextColumn == next) {
                    c = column(next);
                    nextColumn = leave(next, c, colDir, p1.X(), ox, pw, ux, column);
                }
                if (nextRow == next) {
                    r = row(next);
                    nextRow = leave(next, r, rowDir, p1.Y(), oy, ph, uy, row);
                }
            }
        };
        for (const BurnShape& shape : shapes) {
            const std::vector<Wml::Point3>& v = shape.vertices;
            if (v.size() == 1) {
                put(v[0].X(), v[0].Y(), v[0].Z());
                continue;
            }
            for (size_t i = 0; i + 1 < v.size(); ++i) {
                side(v[i], v[i + 1]);
            }
            if (shape.closed) {
                side(v.back(), v.front());
            }
        }
    };
    const int threads = std::max(1, cv::getNumThreads());
    const int bandRows = std::max(kBurnBandRows, (window.height + threads - 1) / threads);
    const int bands = (window.height + bandRows - 1) / bandRows;
    cv::parallel_for_(cv::Range(0, bands), [&](const cv::Range& range) {
        for (int b = range.start; b < range.end; ++b) {
            burnBand(window.y + b * bandRows,
                     std::min(window.y + window.height, window.y + (b + 1) * bandRows));
        }
    });
    out.window = window;
    out.mask = mask;
    out.heights = heights;
    return out;
}
