#include "products/SlopeMap.h"

#include <QFile>

#include <gdal.h>
#include <Eigen/Eigenvalues>
#include <opencv2/core/utility.hpp>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

#include "document/KelvaroDoc.h"
#include "document/LayerFiles.h"
#include "platform/raster/RasterSpace.h"
#include "platform/ui/Interaction.h"
#include "products/ProductsSupport.h"
#include "raster/GDALListener.h"
#include "raster/RasterIO.h"

namespace {

constexpr int kHalf = 3;  // the window is 7 x 7 cells
constexpr int kMinSamples = 16;
constexpr double kFullWindow = 49.0;
// The sum of the squared offsets -3 ... 3 over a full window: 7 x 28.
constexpr double kFullOffsetSquares = 196.0;

// What the samples of one window add up to, in cell offsets (dx, dy) from the window's centre and
// elevations z taken relative to a reference of the row: their count and the sums of dx, dy, z
// and of their pairwise products. The covariance follows from these without a second pass, and
// the small offsets keep the sums exact for the positions and well conditioned for z.
struct WindowSums {
    double n = 0, x = 0, y = 0, z = 0, xx = 0, xy = 0, yy = 0, xz = 0, yz = 0, zz = 0;
};

// The column sums of one column of a window: what its 7 samples add, by dy.
struct ColumnSums {
    double n = 0, y = 0, yy = 0, z = 0, yz = 0, zz = 0;
};

// The slope bands of an upward normal (any length, z above 0) into cell c of the rows of the three
// bands: its unit horizontal components and the tangent of its angle from the vertical.
void StoreSlope(double nx, double ny, double nz, float* const bands[3], int c) {
    const double horizontal = std::sqrt(nx * nx + ny * ny);
    const double length = std::sqrt(nx * nx + ny * ny + nz * nz);
    bands[0][c] = static_cast<float>(nx / length);
    bands[1][c] = static_cast<float>(ny / length);
    bands[2][c] = static_cast<float>(horizontal / nz);
}

// A full window on square cells: the x and y spreads are equal (a) and independent, so the
// covariance is [a 0 p; 0 a q; p q c]. Its least eigenvalue l solves (a - l)(c - l) = p^2 + q^2,
// and (-p, -q, a - l) is its eigenvector. False when that vector is not determined (no tilt and a
// vertical spread at least the horizontal one).
bool SquareWindowNormal(double a, double p, double q, double c, double normal[3]) {
    const double r2 = p * p + q * q;
    const double larger = 0.5 * ((a + c) + std::sqrt((a - c) * (a - c) + 4.0 * r2));
    if (!(larger > 0.0)) {
        return false;
    }
    // The product of the two roots over the larger one: no cancellation for a near-perfect plane.
    const double least = (a * c - r2) / larger;
    const double d = a - least;
    if (!(d > 0.0) || !std::isfinite(d + r2)) {
        return false;
    }
    normal[0] = -p;
    normal[1] = -q;
    normal[2] = d;
    return true;
}

// A full window on cells of any width and height: the x and y spreads (a and b) are independent,
// so the covariance is [a 0 p; 0 b q; p q c]. Its least eigenvalue l is the root below min(a, b)
// of g(l) = (a - l)(b - l)(c - l) - p^2 (b - l) - q^2 (a - l), and (-p (b - l), -q (a - l),
// (a - l)(b - l)) is its eigenvector. Up to that root g falls and is convex, so Newton's steps
// from 0 (a window without residual) reach it from below, in two or three steps for terrain.
// False, for the solver to take the window, when the root does not settle or lies close to the
// next eigenvalue, or when the vertical spread dwarfs the horizontal ones (no plane then).
bool GridWindowNormal(double a, double b, double p, double q, double c, double normal[3]) {
    const double lower = std::min(a, b);
    // The middle eigenvalue is at least min(a, b) and the largest at most the trace.
    if (!std::isfinite(p + q + c) || !(a + b + c < 1e9 * lower)) {
        return false;
    }
    // The normal at the root l, where it lies clear of the next eigenvalue.
    const auto normalAt = [&](double l) {
        const double da = a - l, db = b - l;
        if (!(da > 1e-6 * lower && db > 1e-6 * lower)) {
            return false;
        }
        normal[0] = -p * db;
        normal[1] = -q * da;
        normal[2] = da * db;
        return true;
    };
    const double pp = p * p, qq = q * q;
    double l = 0.0;
    for (int k = 0; k < 32; ++k) {
        const double da = a - l, db = b - l, dc = c - l;
        const double g = da * db * dc - pp * db - qq * da;
        const double slope = pp + qq - da * db - dc * (da + db);
        const double step = g / slope;
        // From below every step rises; one that does not is rounding at the root.
        if (k > 0 && !(step < 0.0)) {
            return normalAt(l);
        }
        l -= step;
        if (!(l < lower)) {
            return false;
        }
        // Close to the root each step leaves about step^2 g'' / (2 g') to go, g'' being
        // 2 (da + db + dc): done when that is below the rounding of l.
        if (std::abs(step * step * (da + db + dc)) <= 1e-16 * lower * std::abs(slope) ||
            std::abs(step) <= 1e-15 * lower) {
            return normalAt(l);
        }
    }
    return false;
}

// The upward normal of the total-least-squares plane of a covariance (entries in map units), or
// false when no plane is determined: non-finite entries, or points spread along one line at most.
bool FitNormal(double cxx, double cxy, double cyy, double cxz, double cyz, double czz, double normal[3]) {
    if (!std::isfinite(cxx + cxy + cyy + cxz + cyz + czz)) {
        return false;
    }
    Eigen::Matrix3d cov;
    cov << cxx, cxy, cxz, cxy, cyy, cyz, cxz, cyz, czz;
    Eigen::SelfAdjointEigenSolver<Eigen::Matrix3d> solver;
    solver.computeDirect(cov);
    Eigen::Vector3d values = solver.eigenvalues();
    // The closed form loses digits when the two smallest spreads come close; the iterative solver
    // then gives the same normal as a fit of the points one by one.
    if (!(values[1] - values[0] > 1e-6 * std::abs(values[2]))) {
        solver.compute(cov);
        if (solver.info() != Eigen::Success) {
            return false;
        }
        values = solver.eigenvalues();
    }
    if (!(values[1] > values[2] * 1e-10)) {
        return false;
    }
    const Eigen::Vector3d n = solver.eigenvectors().col(0).normalized();
    const double sign = n[2] < 0.0 ? -1.0 : 1.0;
    normal[0] = sign * n[0];
    normal[1] = sign * n[1];
    normal[2] = sign * n[2];
    return std::isfinite(normal[0] + normal[1] + normal[2]) && normal[2] > 0.0;
}

// How a cell's window went in the vector pass: fitted there, left without a fit (too few
// samples), or left to the fit of the cell alone.
constexpr double kFitted = 1.0;
constexpr double kUnfitted = 0.0;
constexpr double kAlone = 2.0;

// The column sums of one row's windows, a column a cell: the samples of the 7 rows around it, their
// elevations z (from the row's reference), dy z and z^2.
struct ColumnArrays {
    std::vector<double> n, z, yz, zz;
};

// What the vector pass leaves of each cell of a row: its samples, the covariances of the full
// window in map units (x z, y z, z z), the normal of its plane and whether that was determined
// (1) or not (0), its slope bands and how its fit went.
struct CellArrays {
    std::vector<double> n, cxz, cyz, czz, nx, ny, nz, determined, state;
};

// The sums of the 7 rows at `rows` over the columns, taking the samples that are no no-data (NaN
// cells of a model whose no-data value is a number included: they poison their windows). Each
// sample worked out and then chosen, so that the loop is vector code.
template <bool kNaNNoData>
__attribute__((always_inline)) inline void SumColumnsOf(const float* const* rows, int cols, double reference,
                                                        float noData, ColumnArrays& out) {
    double* __restrict const n = out.n.data();
    double* __restrict const z = out.z.data();
    double* __restrict const yz = out.yz.data();
    double* __restrict const zz = out.zz.data();
    const float* __restrict const row0 = rows[0];
    const float* __restrict const row1 = rows[1];
    const float* __restrict const row2 = rows[2];
    const float* __restrict const row3 = rows[3];
    const float* __restrict const row4 = rows[4];
    const float* __restrict const row5 = rows[5];
    const float* __restrict const row6 = rows[6];
#pragma omp simd
    for (int i = 0; i < cols; ++i) {
        const float column[2 * kHalf + 1] = {row0[i], row1[i], row2[i], row3[i], row4[i], row5[i], row6[i]};
        double an = 0.0, az = 0.0, ayz = 0.0, azz = 0.0;
#pragma GCC unroll 7
        for (int k = 0; k < 2 * kHalf + 1; ++k) {
            const float v = column[k];
            const bool gathered = kNaNNoData ? v == v : v != noData;
            const double difference = double(v) - reference;
            const double d = gathered ? difference : 0.0;
            an += gathered ? 1.0 : 0.0;
            az += d;
            ayz += double(k - kHalf) * d;
            azz += d * d;
        }
        n[i] = an;
        z[i] = az;
        yz[i] = ayz;
        zz[i] = azz;
    }
}

// Built for the wider vector units too, the best one chosen when the program loads.
__attribute__((target_clones("avx2", "default"))) void SumColumns(const float* const* rows, int cols,
                                                                  double reference, float noData,
                                                                  bool nanNoData, ColumnArrays& out) {
    if (nanNoData) {
        SumColumnsOf<true>(rows, cols, reference, noData, out);
    } else {
        SumColumnsOf<false>(rows, cols, reference, noData, out);
    }
}

// The window sums of the cells from kHalf to cols - kHalf and the covariances of their windows as
// full ones (x z, y z and z z in map units).
__attribute__((target_clones("avx2", "default"))) void WindowCovariances(const ColumnArrays& columns,
                                                                         int cols, double pixelWidth,
                                                                         double term5, CellArrays& cells) {
    const double* __restrict const cn = columns.n.data();
    const double* __restrict const cz = columns.z.data();
    const double* __restrict const cyz = columns.yz.data();
    const double* __restrict const czz = columns.zz.data();
    double* __restrict const outN = cells.n.data();
    double* __restrict const outXz = cells.cxz.data();
    double* __restrict const outYz = cells.cyz.data();
    double* __restrict const outZz = cells.czz.data();
#pragma omp simd
    for (int c = kHalf; c < cols - kHalf; ++c) {
        double n = 0.0, z = 0.0, xz = 0.0, yz = 0.0, zz = 0.0;
#pragma GCC unroll 7
        for (int k = 0; k < 2 * kHalf + 1; ++k) {
            n += cn[c - kHalf + k];
        }
#pragma GCC unroll 7
        for (int k = 0; k < 2 * kHalf + 1; ++k) {
            const int i = c - kHalf + k;
            z += cz[i];
            xz += double(k - kHalf) * cz[i];
            yz += cyz[i];
            zz += czz[i];
        }
        // As a full window: every offset once in each column and row, their means 0.
        const double inv = 1.0 / kFullWindow;
        const double mx = 0.0 * inv, my = 0.0 * inv, mz = z * inv;
        outN[c] = n;
        outXz[c] = (xz * inv - mx * mz) * pixelWidth;
        outYz[c] = (yz * inv - my * mz) * term5;
        outZz[c] = zz * inv - mz * mz;
    }
}

// Whether a number is finite, as a comparison that vector code takes.
inline bool Finite(double v) {
    return std::abs(v) <= std::numeric_limits<double>::max();
}

// The slope bands (StoreSlope) of the normals that the vector pass determined into the rows of the
// bands, the no-data value where none was, and the state of every cell: fitted when its window is
// full and its normal was determined, else without a fit for too few samples or left to the fit
// of the cell alone.
__attribute__((target_clones("avx2", "default"))) void SlopeBands(int cols, float noData, CellArrays& cells,
                                                                  float* const bands[3]) {
    const double* __restrict const n = cells.n.data();
    const double* __restrict const nx = cells.nx.data();
    const double* __restrict const ny = cells.ny.data();
    const double* __restrict const nz = cells.nz.data();
    const double* __restrict const determined = cells.determined.data();
    float* __restrict const band1 = bands[0];
    float* __restrict const band2 = bands[1];
    float* __restrict const band3 = bands[2];
    double* __restrict const state = cells.state.data();
#pragma omp simd
    for (int c = kHalf; c < cols - kHalf; ++c) {
        const double horizontal = std::sqrt(nx[c] * nx[c] + ny[c] * ny[c]);
        const double length = std::sqrt(nx[c] * nx[c] + ny[c] * ny[c] + nz[c] * nz[c]);
        const bool fitted = (n[c] == kFullWindow) & (determined[c] != 0.0);
        band1[c] = fitted ? static_cast<float>(nx[c] / length) : noData;
        band2[c] = fitted ? static_cast<float>(ny[c] / length) : noData;
        band3[c] = fitted ? static_cast<float>(horizontal / nz[c]) : noData;
        state[c] = fitted ? kFitted : n[c] < kMinSamples ? kUnfitted : kAlone;
    }
}

// SquareWindowNormal of every cell's window on square cells (spread: the x and y spread of a full
// window), worked out for every cell and kept where it holds.
__attribute__((target_clones("avx2", "default"))) void SquareNormals(int cols, double spread,
                                                                     CellArrays& cells) {
    const double* __restrict const cxz = cells.cxz.data();
    const double* __restrict const cyz = cells.cyz.data();
    const double* __restrict const czz = cells.czz.data();
    double* __restrict const nx = cells.nx.data();
    double* __restrict const ny = cells.ny.data();
    double* __restrict const nz = cells.nz.data();
    double* __restrict const determined = cells.determined.data();
#pragma omp simd
    for (int c = kHalf; c < cols - kHalf; ++c) {
        const double p = cxz[c], q = cyz[c], v = czz[c];
        const double r2 = p * p + q * q;
        const double larger = 0.5 * ((spread + v) + std::sqrt((spread - v) * (spread - v) + 4.0 * r2));
        const double least = (spread * v - r2) / larger;
        const double d = spread - least;
        nx[c] = -p;
        ny[c] = -q;
        nz[c] = d;
        determined[c] = ((larger > 0.0) & (d > 0.0) & Finite(d + r2)) ? 1.0 : 0.0;
    }
}

// Doubles taken by the vector units at once and the masks of their comparisons: two, or four
// where the processor has the wide units.
using Doubles2 = double __attribute__((vector_size(16)));
using Masks2 = long __attribute__((vector_size(16)));
using Doubles4 = double __attribute__((vector_size(32)));
using Masks4 = long __attribute__((vector_size(32)));

// Newton's steps of GridWindowNormal that the cells of a vector take at once: a cell stops where
// that function returns, with the same root; one still going after these steps is left to the fit
// of the cell alone, as are the last cells of a row that fill no vector.
constexpr int kVectorSteps = 6;

// GridWindowNormal of every cell's window on cells whose full-window x and y spreads are a and b.
template <class Doubles, class Masks>
__attribute__((always_inline)) inline void GridNormalsOf(int cols, double a, double b, CellArrays& cells) {
    const double lower = std::min(a, b);
    const Masks none = {};
    constexpr int kLanes = sizeof(Doubles) / sizeof(double);
    int c = kHalf;
    for (; c + kLanes <= cols - kHalf; c += kLanes) {
        Doubles p, q, v;
        std::memcpy(&p, cells.cxz.data() + c, sizeof(p));
        std::memcpy(&q, cells.cyz.data() + c, sizeof(q));
        std::memcpy(&v, cells.czz.data() + c, sizeof(v));
        // Magnitudes are taken as (x < 0 ? -x : x), which keeps NaN a NaN as std::abs does.
        const Doubles sum = p + q + v;
        Masks going =
            ((sum < 0.0 ? -sum : sum) <= std::numeric_limits<double>::max()) & (a + b + v < 1e9 * lower);
        Masks settled = none;
        const Doubles pp = p * p, qq = q * q;
        Doubles l = {};
        for (int k = 0; k < kVectorSteps; ++k) {
            const Doubles da = a - l, db = b - l, dc = v - l;
            const Doubles g = da * db * dc - pp * db - qq * da;
            const Doubles slope = pp + qq - da * db - dc * (da + db);
            const Doubles step = g / slope;
            // A step that does not rise settles at l; one that leaves the range ends without a
            // root; one small enough settles at the new l.
            const Masks rounding = k > 0 ? going & ~(step < 0.0) : none;
            const Masks stepping = going & ~rounding;
            const Doubles next = l - step;
            const Masks outside = stepping & ~(next < lower);
            const Doubles rest = step * step * (da + db + dc);
            const Doubles restSize = rest < 0.0 ? -rest : rest;
            const Doubles slopeSize = slope < 0.0 ? -slope : slope;
            const Doubles stepSize = step < 0.0 ? -step : step;
            const Masks close =
                stepping & ~outside & ((restSize <= 1e-16 * lower * slopeSize) | (stepSize <= 1e-15 * lower));
            l = stepping != 0 ? next : l;
            settled |= rounding | close;
            going = stepping & ~outside & ~close;
            long any = 0;
            for (int lane = 0; lane < kLanes; ++lane) {
                any |= going[lane];
            }
            if (any == 0) {
                break;
            }
        }
        const Doubles da = a - l, db = b - l;
        const Masks clear = (da > 1e-6 * lower) & (db > 1e-6 * lower);
        const Doubles nx = -p * db, ny = -q * da, nz = da * db;
        const Doubles determined = (settled & clear) != 0 ? Doubles{} + 1.0 : Doubles{};
        std::memcpy(cells.nx.data() + c, &nx, sizeof(nx));
        std::memcpy(cells.ny.data() + c, &ny, sizeof(ny));
        std::memcpy(cells.nz.data() + c, &nz, sizeof(nz));
        std::memcpy(cells.determined.data() + c, &determined, sizeof(determined));
    }
    for (; c < cols - kHalf; ++c) {
        cells.nx[c] = cells.ny[c] = cells.nz[c] = 1.0;
        cells.determined[c] = 0.0;
    }
}

__attribute__((target("avx2"))) void GridNormalsWide(int cols, double a, double b, CellArrays& cells) {
    GridNormalsOf<Doubles4, Masks4>(cols, a, b, cells);
}

void GridNormalsNarrow(int cols, double a, double b, CellArrays& cells) {
    GridNormalsOf<Doubles2, Masks2>(cols, a, b, cells);
}

void GridNormals(int cols, double a, double b, CellArrays& cells) {
    static const bool wide = __builtin_cpu_supports("avx2");
    if (wide) {
        GridNormalsWide(cols, a, b, cells);
    } else {
        GridNormalsNarrow(cols, a, b, cells);
    }
}

// Fits the cells of the centre rows of the range: rows of dem, a window of the terrain model that
// holds the 3 rows around each of them; out holds the three slope bands one after the other,
// planeRows rows each, and band b of dem row r goes to its row b planeRows + r - outFirstRow.
// The sums of a row's windows are worked out for the whole row at once, column by column and then
// window by window, and full windows fitted there; the cells that need more are fitted alone.
class SlopeRows : public cv::ParallelLoopBody {
public:
    SlopeRows(const cv::Mat& dem, cv::Mat& out, int outFirstRow, int planeRows, double noData,
              double pixelWidth, double term5)
        : m_dem(dem),
          m_out(out),
          m_outFirstRow(outFirstRow),
          m_planeRows(planeRows),
          m_noData(static_cast<float>(noData)),
          m_noDataIsNaN(std::isnan(noData)),
          m_pw(pixelWidth),
          m_t5(term5),
          m_squareCells(std::abs(pixelWidth) == std::abs(term5)),
          m_fullSpreadX(kFullOffsetSquares / kFullWindow * pixelWidth * pixelWidth),
          m_fullSpreadY(kFullOffsetSquares / kFullWindow * term5 * term5) {}

    void operator()(const cv::Range& rows) const override {
        const size_t cols = static_cast<size_t>(m_dem.cols);
        ColumnArrays columns;
        for (std::vector<double>* v : {&columns.n, &columns.z, &columns.yz, &columns.zz}) {
            v->resize(cols);
        }
        CellArrays cells;
        for (std::vector<double>* v : {&cells.n, &cells.cxz, &cells.cyz, &cells.czz, &cells.nx, &cells.ny,
                                       &cells.nz, &cells.determined, &cells.state}) {
            v->resize(cols);
        }
        for (int r = rows.start; r < rows.end; ++r) {
            const double reference = RowReference(r);
            const float* window[2 * kHalf + 1];
            for (int k = 0; k < 2 * kHalf + 1; ++k) {
                window[k] = m_dem.ptr<float>(r - kHalf + k);
            }
            SumColumns(window, m_dem.cols, reference, m_noData, m_noDataIsNaN, columns);
            WindowCovariances(columns, m_dem.cols, m_pw, m_t5, cells);
            if (m_squareCells) {
                SquareNormals(m_dem.cols, m_fullSpreadX, cells);
            } else {
                GridNormals(m_dem.cols, m_fullSpreadX, m_fullSpreadY, cells);
            }
            float* const bands[3] = {m_out.ptr<float>(r - m_outFirstRow),
                                     m_out.ptr<float>(m_planeRows + r - m_outFirstRow),
                                     m_out.ptr<float>(2 * m_planeRows + r - m_outFirstRow)};
            SlopeBands(m_dem.cols, m_noData, cells, bands);
            FitRest(r, reference, cells, bands);
        }
    }

private:
    // The cells hold the no-data value as a float: compared as such, a value that a float cannot
    // hold exactly (-9999.1) still finds its cells.
    bool Gathered(float v) const { return m_noDataIsNaN ? !std::isnan(v) : v != m_noData; }

    // An elevation of the window rows around r, so that the sums hold differences of a few metres
    // rather than elevations of thousands.
    double RowReference(int r) const {
        for (int j = r - kHalf; j <= r + kHalf; ++j) {
            const float* row = m_dem.ptr<float>(j);
            for (int i = 0; i < m_dem.cols; ++i) {
                if (Gathered(row[i]) && std::isfinite(row[i])) {
                    return row[i];
                }
            }
        }
        return 0.0;
    }

    // Fits the windows of row r with enough samples that the vector pass left to the fit alone.
    void FitRest(int r, double reference, const CellArrays& cells, float* const bands[3]) const {
        for (int c = kHalf; c < m_dem.cols - kHalf; ++c) {
            if (cells.state[c] == kAlone) {
                FitAlone(r, c, reference, bands);
            }
        }
    }

    // The fit of the window of cell (c, r) from all its sums: a window with missing samples, or a
    // full one whose normal the shortcuts leave undetermined.
    void FitAlone(int r, int c, double reference, float* const bands[3]) const {
        ColumnSums window[2 * kHalf + 1];
        for (int dy = -kHalf; dy <= kHalf; ++dy) {
            const float* row = m_dem.ptr<float>(r + dy);
            for (int k = 0; k < 2 * kHalf + 1; ++k) {
                const float v = row[c - kHalf + k];
                if (!Gathered(v)) {
                    continue;
                }
                // A NaN sample is gathered here and poisons the sums of its windows.
                const double z = double(v) - reference;
                ColumnSums& s = window[k];
                s.n += 1.0;
                s.y += dy;
                s.yy += dy * dy;
                s.z += z;
                s.yz += dy * z;
                s.zz += z * z;
            }
        }
        WindowSums s;
        for (int k = 0; k < 2 * kHalf + 1; ++k) {
            s.n += window[k].n;
        }
        if (s.n < kMinSamples) {
            return;
        }
        for (int k = 0, dx = -kHalf; k < 2 * kHalf + 1; ++k, ++dx) {
            s.z += window[k].z;
            s.xz += dx * window[k].z;
            s.yz += window[k].yz;
            s.zz += window[k].zz;
        }
        if (s.n == kFullWindow) {
            // Every offset once in each column and row: the position sums are known.
            s.xx = s.yy = kFullOffsetSquares;
        } else {
            for (int k = 0, dx = -kHalf; k < 2 * kHalf + 1; ++k, ++dx) {
                s.x += dx * window[k].n;
                s.xx += dx * dx * window[k].n;
                s.y += window[k].y;
                s.xy += dx * window[k].y;
                s.yy += window[k].yy;
            }
        }
        const double inv = 1.0 / s.n;
        const double mx = s.x * inv, my = s.y * inv, mz = s.z * inv;
        const double cxz = (s.xz * inv - mx * mz) * m_pw;
        const double cyz = (s.yz * inv - my * mz) * m_t5;
        const double czz = s.zz * inv - mz * mz;
        double normal[3];
        if (s.n == kFullWindow &&
            (m_squareCells ? SquareWindowNormal(m_fullSpreadX, cxz, cyz, czz, normal)
                           : GridWindowNormal(m_fullSpreadX, m_fullSpreadY, cxz, cyz, czz, normal))) {
            StoreSlope(normal[0], normal[1], normal[2], bands, c);
            return;
        }
        const double cxx = (s.xx * inv - mx * mx) * m_pw * m_pw;
        const double cyy = (s.yy * inv - my * my) * m_t5 * m_t5;
        const double cxy = (s.xy * inv - mx * my) * m_pw * m_t5;
        if (FitNormal(cxx, cxy, cyy, cxz, cyz, czz, normal)) {
            StoreSlope(normal[0], normal[1], normal[2], bands, c);
        }
    }

    const cv::Mat& m_dem;
    cv::Mat& m_out;
    int m_outFirstRow;
    int m_planeRows;
    float m_noData;
    bool m_noDataIsNaN;
    double m_pw;
    double m_t5;
    bool m_squareCells;
    // The spreads of a full window's x and y positions: 4 cell widths and heights squared.
    double m_fullSpreadX;
    double m_fullSpreadY;
};

}  // namespace

cv::Mat ComputeSlopeGrid(const cv::Mat& dem, double noData, double pixelWidth, double term5) {
    CV_Assert(dem.empty() || dem.type() == CV_32FC1);
    const float fill = static_cast<float>(noData);
    cv::Mat out(dem.rows, dem.cols, CV_32FC3, cv::Scalar::all(fill));
    if (dem.cols < 2 * kHalf + 1 || dem.rows < 2 * kHalf + 1) {
        return out;
    }
    cv::Mat planes(3 * dem.rows, dem.cols, CV_32FC1, cv::Scalar::all(fill));
    SlopeRows body(dem, planes, 0, dem.rows, noData, pixelWidth, term5);
    cv::parallel_for_(cv::Range(kHalf, dem.rows - kHalf), body);
    const cv::Mat bands[3] = {planes.rowRange(0, dem.rows), planes.rowRange(dem.rows, 2 * dem.rows),
                              planes.rowRange(2 * dem.rows, 3 * dem.rows)};
    cv::merge(bands, 3, out);
    return out;
}

namespace {

// Rows of the terrain model fitted and written at once: two tile rows of the output, fewer for a
// model so wide that they would hold more than about two million cells.
constexpr int kBlockRows = 256;
constexpr int kTileRows = 128;
constexpr int64_t kBlockCells = int64_t(1) << 21;
// GDAL's block cache while the slope map is written: the written tiles leave it as it fills, and
// so do the tiles its overviews are built from, instead of every tile of the map staying in
// memory.
constexpr GIntBig kWriteCacheBytes = GIntBig(64) << 20;

// Opens the terrain model read-only and checks it (a geotransform, exactly one Float32 band with a
// no-data value), filling everything of dtm but the grid. Tells the operator why a file is refused
// and answers null then.
GDALDatasetH OpenSlopeDtm(const QString& path, SlopeDtm* dtm) {
    GDALDatasetH ds = GDALOpen(QFile::encodeName(path).constData(), GA_ReadOnly);
    if (!ds) {
        KvMessageBox(QStringLiteral("Unable to open DTM file!"), MB_OK | MB_ICONEXCLAMATION);
        return nullptr;
    }
    GDALRasterBandH band = GDALGetRasterCount(ds) == 1 ? GDALGetRasterBand(ds, 1) : nullptr;
    int hasNoData = 0;
    bool valid = band && GDALGetGeoTransform(ds, dtm->geoTransform) == CE_None &&
                 GDALGetRasterDataType(band) == GDT_Float32;
    if (valid) {
        dtm->noData = GDALGetRasterNoDataValue(band, &hasNoData);
        valid = hasNoData != 0;
    }
    if (!valid) {
        GDALClose(ds);
        KvMessageBox(QStringLiteral("Invalid DTM file!"), MB_OK | MB_ICONEXCLAMATION);
        return nullptr;
    }
    const char* wkt = GDALGetProjectionRef(ds);
    dtm->projection = wkt ? QString::fromUtf8(wkt) : QString();
    return ds;
}

enum class SlopeWrite { Done, ReadFailed, WriteFailed };

// Computes the slope grid of the terrain model block by block, each block of rows read with the 3
// rows around it that its windows take in, and writes it to path as a tiled GeoTIFF of three
// Float32 bands with overviews (what SaveImageAsGeoTiff writes of the whole grid).
SlopeWrite WriteSlopeMap(GDALDatasetH ds, const SlopeDtm& dtm, const QString& path) {
    GDALRasterBandH band = GDALGetRasterBand(ds, 1);
    const int w = GDALGetRasterXSize(ds), h = GDALGetRasterYSize(ds);
    kv::NewFloatRaster output(path);
    const char* const options[] = {"TILED=YES", "BLOCKXSIZE=128", "BLOCKYSIZE=128", "BIGTIFF=IF_SAFER",
                                   nullptr};
    if (!output.Create(w, h, options, dtm.geoTransform, dtm.noData, dtm.projection.toUtf8(), 3)) {
        return SlopeWrite::WriteFailed;
    }
    const kv::BlockCacheCap cap(kWriteCacheBytes);
    int rows = int(std::clamp<int64_t>(kBlockCells / std::max(w, 1), 1, kBlockRows));
    if (rows > kTileRows) {
        rows -= rows % kTileRows;
    }
    const bool fits = w >= 2 * kHalf + 1 && h >= 2 * kHalf + 1;
    cv::Mat window, block;
    try {
        window.create(std::min(h, rows + 2 * kHalf), w, CV_32FC1);
        // The three bands one after the other, rows rows each: each band's rows are copied whole
        // into the file's blocks.
        block.create(3 * std::min(h, rows), w, CV_32FC1);
    } catch (const cv::Exception&) {
        return SlopeWrite::WriteFailed;
    }
    for (int first = 0; first < h; first += rows) {
        const int end = std::min(h, first + rows);
        // The model's rows the block's windows reach, and the block's rows that have full windows.
        const int top = std::max(0, first - kHalf), bottom = std::min(h, end + kHalf);
        cv::Mat in = window.rowRange(0, bottom - top);
        const int planeRows = block.rows / 3;
        if (GDALRasterIO(band, GF_Read, 0, top, w, bottom - top, in.data, w, bottom - top, GDT_Float32, 0,
                         static_cast<GSpacing>(in.step)) != CE_None) {
            return SlopeWrite::ReadFailed;
        }
        block.setTo(cv::Scalar::all(static_cast<float>(dtm.noData)));
        const int from = std::max(first, kHalf), to = std::min(end, h - kHalf);
        if (fits && from < to) {
            SlopeRows body(in, block, first - top, planeRows, dtm.noData, dtm.geoTransform[1],
                           dtm.geoTransform[5]);
            cv::parallel_for_(cv::Range(from - top, to - top), body);
        }
        if (GDALDatasetRasterIO(output.Dataset(), GF_Write, 0, first, w, end - first, block.data, w,
                                end - first, GDT_Float32, 3, nullptr, sizeof(float),
                                static_cast<GSpacing>(block.step),
                                static_cast<GSpacing>(block.step) * planeRows) != CE_None) {
            return SlopeWrite::WriteFailed;
        }
    }
    window.release();
    block.release();
    CGDALListener listener(nullptr);
    if (!kv::BuildOverviews(output.Dataset(), &listener) || !output.Place()) {
        return SlopeWrite::WriteFailed;
    }
    return SlopeWrite::Done;
}

}  // namespace

bool ReadSlopeDtm(const QString& path, SlopeDtm* dtm) {
    GDALDatasetH ds = OpenSlopeDtm(path, dtm);
    if (!ds) {
        return false;
    }
    const int w = GDALGetRasterXSize(ds), h = GDALGetRasterYSize(ds);
    dtm->grid.create(h, w, CV_32FC1);
    const bool valid = GDALRasterIO(GDALGetRasterBand(ds, 1), GF_Read, 0, 0, w, h, dtm->grid.data, w, h,
                                    GDT_Float32, 0, static_cast<GSpacing>(dtm->grid.step)) == CE_None;
    GDALClose(ds);
    if (!valid) {
        dtm->grid.release();
        KvMessageBox(QStringLiteral("Invalid DTM file!"), MB_OK | MB_ICONEXCLAMATION);
    }
    return valid;
}

bool MakeSlopeMap(const QString& dtmPath, const QString& outputPath, double* noData) {
    SlopeDtm dtm;
    GDALDatasetH ds = OpenSlopeDtm(dtmPath, &dtm);
    if (!ds) {
        return false;
    }
    QString space;
    if (!kv::RasterFitsOnDisk(outputPath, GDALGetRasterXSize(ds), GDALGetRasterYSize(ds), 3, GDT_Float32,
                              &space)) {
        GDALClose(ds);
        KvMessageBox(space, MB_OK | MB_ICONEXCLAMATION);
        return false;
    }
    const SlopeWrite written = WriteSlopeMap(ds, dtm, outputPath);
    GDALClose(ds);
    if (written == SlopeWrite::ReadFailed) {
        KvMessageBox(QStringLiteral("Invalid DTM file!"), MB_OK | MB_ICONEXCLAMATION);
        return false;
    }
    if (written != SlopeWrite::Done) {
        KvMessageBox(QStringLiteral("Unable to save Slope Map!"), MB_OK | MB_ICONEXCLAMATION);
        return false;
    }
    KvMessageBox(QStringLiteral("SlopeMap generation done"), MB_OK | MB_ICONINFORMATION);
    if (noData) {
        *noData = dtm.noData;
    }
    return true;
}

void CmdCreateSlopeMap(CadDrawing* /*drawing*/) {
    const QString dtmPath = products::ChooseDtmFile();
    if (dtmPath.isEmpty()) {
        return;
    }
    const QString output = products::OutputPathBeside(dtmPath, "%s_SlopeMap");
    if (RefuseOutputOverInputs({output}, {dtmPath})) {
        return;
    }
    MakeSlopeMap(dtmPath, output, nullptr);
}
