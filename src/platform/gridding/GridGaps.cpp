#include "platform/gridding/GridGaps.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <opencv2/imgproc.hpp>
#include <vector>

// The gap cells form one linear system: each is the mean of its neighbours inside the area, the
// valid cells being fixed values. It is solved by conjugate gradients, preconditioned by one
// multigrid cycle: cells are merged two by two into coarser grids whose equations are the sums
// of the finer ones, so a wide gap is smoothed out on a coarse grid in a few steps. The cycle is
// symmetric (red-black sweeps in mirrored order), as conjugate gradients need.
namespace {

constexpr int kMaxIterations = 200;
constexpr int kCoarsestCells = 16;
constexpr int kCoarsestSweeps = 20;
constexpr double kDefaultTolerance = 0.01;
// The coarse correction is scaled up: merged cells underestimate how far a smooth error reaches,
// and the scaled cycle (still symmetric) roughly halves the iterations.
constexpr double kCoarseScale = 1.5;

// The equations of one grid: for active cell i,
//   diag[i] * e[i] - sum over its four neighbours k of weight[i][k] * e[nbr[i][k]] = rhs[i].
struct Level {
    int w = 0, h = 0;
    std::vector<int32_t> cellOf;  // active index -> grid cell
    std::vector<double> diag;
    std::vector<std::array<int32_t, 4>> nbr;  // left, right, up, down; -1 for none
    std::vector<std::array<float, 4>> weight;
    std::vector<int32_t> parent;     // active index on the next coarser level
    std::vector<int32_t> colour[2];  // active indices by checkerboard colour
    size_t Size() const { return cellOf.size(); }
};

void Colour(Level* level) {
    for (size_t i = 0; i < level->Size(); ++i) {
        int c = level->cellOf[i];
        level->colour[((c % level->w) + (c / level->w)) & 1].push_back(int32_t(i));
    }
}

// The next coarser grid: each cell sums the equations of its (up to four) children.
Level Coarsen(Level* fine) {
    Level c;
    c.w = (fine->w + 1) / 2;
    c.h = (fine->h + 1) / 2;
    std::vector<int32_t> at(size_t(c.w) * c.h, -1);
    fine->parent.resize(fine->Size());
    for (size_t i = 0; i < fine->Size(); ++i) {
        int cell = fine->cellOf[i];
        int coarse = ((cell / fine->w) / 2) * c.w + (cell % fine->w) / 2;
        if (at[size_t(coarse)] < 0) {
            at[size_t(coarse)] = int32_t(c.cellOf.size());
            c.cellOf.push_back(coarse);
        }
        fine->parent[i] = at[size_t(coarse)];
    }
    const size_t n = c.cellOf.size();
    c.diag.assign(n, 0.0);
    c.nbr.assign(n, {-1, -1, -1, -1});
    c.weight.assign(n, {0, 0, 0, 0});
    for (size_t i = 0; i < fine->Size(); ++i) {
        const int32_t p = fine->parent[i];
        c.diag[size_t(p)] += fine->diag[i];
        for (int k = 0; k < 4; ++k) {
            const int32_t j = fine->nbr[i][k];
            if (j < 0) {
                continue;
            }
            const int32_t q = fine->parent[size_t(j)];
            if (q == p) {
                c.diag[size_t(p)] -= fine->weight[i][k];  // an edge inside the coarse cell
            } else {
                // Neighbouring fine cells in different parents: the parents are neighbours in
                // the same direction.
                c.nbr[size_t(p)][k] = q;
                c.weight[size_t(p)][k] += fine->weight[i][k];
            }
        }
    }
    Colour(&c);
    return c;
}

// out = A e on one level.
void Apply(const Level& L, const std::vector<double>& e, std::vector<double>& out) {
    cv::parallel_for_(cv::Range(0, int((L.Size() + 4095) / 4096)), [&](const cv::Range& r) {
        for (size_t i = size_t(r.start) * 4096; i < std::min(L.Size(), size_t(r.end) * 4096); ++i) {
            double s = L.diag[i] * e[i];
            for (int k = 0; k < 4; ++k) {
                if (L.nbr[i][k] >= 0) {
                    s -= L.weight[i][k] * e[size_t(L.nbr[i][k])];
                }
            }
            out[i] = s;
        }
    });
}

// One Gauss-Seidel half sweep over the cells of one colour, which read only the other colour.
void Sweep(const Level& L, int colour, const std::vector<double>& rhs, std::vector<double>& e) {
    const std::vector<int32_t>& cells = L.colour[colour];
    cv::parallel_for_(cv::Range(0, int((cells.size() + 4095) / 4096)), [&](const cv::Range& r) {
        for (size_t k = size_t(r.start) * 4096; k < std::min(cells.size(), size_t(r.end) * 4096); ++k) {
            const size_t i = size_t(cells[k]);
            if (L.diag[i] <= 0) {
                continue;
            }
            double s = rhs[i];
            for (int n = 0; n < 4; ++n) {
                if (L.nbr[i][n] >= 0) {
                    s += L.weight[i][n] * e[size_t(L.nbr[i][n])];
                }
            }
            e[i] = s / L.diag[i];
        }
    });
}

// e = (approximately) A^-1 rhs by one V-cycle from level l; a symmetric linear operator.
void Cycle(const std::vector<Level>& levels, size_t l, const std::vector<double>& rhs,
           std::vector<double>& e) {
    const Level& L = levels[l];
    e.assign(L.Size(), 0.0);
    if (l + 1 == levels.size()) {
        for (int s = 0; s < kCoarsestSweeps; ++s) {
            Sweep(L, s & 1, rhs, e);
        }
        for (int s = 0; s < kCoarsestSweeps; ++s) {
            Sweep(L, (s + 1) & 1, rhs, e);
        }
        return;
    }
    Sweep(L, 0, rhs, e);
    Sweep(L, 1, rhs, e);
    std::vector<double> residual(L.Size());
    Apply(L, e, residual);
    std::vector<double> coarseRhs(levels[l + 1].Size(), 0.0);
    for (size_t i = 0; i < L.Size(); ++i) {
        coarseRhs[size_t(L.parent[i])] += rhs[i] - residual[i];
    }
    std::vector<double> correction;
    Cycle(levels, l + 1, coarseRhs, correction);
    for (size_t i = 0; i < L.Size(); ++i) {
        e[i] += kCoarseScale * correction[size_t(L.parent[i])];
    }
    Sweep(L, 1, rhs, e);
    Sweep(L, 0, rhs, e);
}

double Dot(const std::vector<double>& a, const std::vector<double>& b) {
    // Summed in fixed blocks, so the result does not depend on the number of threads.
    const int blocks = int((a.size() + 4095) / 4096);
    std::vector<double> part(size_t(blocks), 0.0);
    cv::parallel_for_(cv::Range(0, blocks), [&](const cv::Range& r) {
        for (int k = r.start; k < r.end; ++k) {
            double s = 0;
            for (size_t i = size_t(k) * 4096; i < std::min(a.size(), size_t(k + 1) * 4096); ++i) {
                s += a[i] * b[i];
            }
            part[size_t(k)] = s;
        }
    });
    double s = 0;
    for (double p : part) {
        s += p;
    }
    return s;
}

}  // namespace

cv::Mat CGridGaps::Process(const cv::Mat& image, const cv::Mat& mask, float noData, double tolerance) {
    if (image.empty() || image.type() != CV_32FC1 || mask.type() != CV_8UC1 || mask.size() != image.size()) {
        return cv::Mat();
    }
    if (!(tolerance > 0) || !std::isfinite(tolerance)) {
        tolerance = kDefaultTolerance;
    }
    const bool nanNoData = std::isnan(noData);
    auto isGap = [&](float v) { return std::isnan(v) || (!nanNoData && v == noData); };
    const int w = image.cols, h = image.rows;

    // A gap can be filled only from valid cells of its own connected part of the area.
    cv::Mat labels;
    const int parts = cv::connectedComponents(mask != 0, labels, 4, CV_32S);
    std::vector<uint8_t> hasSource(size_t(std::max(parts, 1)), 0);
    bool anySource = false;
    for (int y = 0; y < h; ++y) {
        const float* v = image.ptr<float>(y);
        const uint8_t* m = mask.ptr<uint8_t>(y);
        const int* l = labels.ptr<int>(y);
        for (int x = 0; x < w; ++x) {
            if (m[x] && !isGap(v[x])) {
                hasSource[size_t(l[x])] = 1;
                anySource = true;
            }
        }
    }
    if (!anySource) {
        return cv::Mat();
    }
    // The finest level: the gaps that can be filled, with the fixed values around them.
    std::vector<Level> levels(1);
    levels.reserve(64);  // more than any grid needs: L0 stays where it is
    Level& L0 = levels[0];
    L0.w = w;
    L0.h = h;
    std::vector<int32_t> at(size_t(w) * h, -1);
    for (int y = 0; y < h; ++y) {
        const float* v = image.ptr<float>(y);
        const uint8_t* m = mask.ptr<uint8_t>(y);
        const int* l = labels.ptr<int>(y);
        for (int x = 0; x < w; ++x) {
            if (m[x] && isGap(v[x]) && hasSource[size_t(l[x])]) {
                at[size_t(y) * w + x] = int32_t(L0.cellOf.size());
                L0.cellOf.push_back(y * w + x);
            }
        }
    }
    labels.release();
    cv::Mat result = image.clone();
    const size_t n = L0.Size();
    if (n == 0) {
        return result;
    }
    L0.diag.assign(n, 0.0);
    L0.nbr.assign(n, {-1, -1, -1, -1});
    L0.weight.assign(n, {0, 0, 0, 0});
    std::vector<double> b(n, 0.0);
    double fixedSum = 0, fixedCount = 0;
    for (size_t i = 0; i < n; ++i) {
        const int x = L0.cellOf[i] % w, y = L0.cellOf[i] / w;
        const int nx[4] = {x - 1, x + 1, x, x};
        const int ny[4] = {y, y, y - 1, y + 1};
        for (int k = 0; k < 4; ++k) {
            if (nx[k] < 0 || ny[k] < 0 || nx[k] >= w || ny[k] >= h || !mask.at<uint8_t>(ny[k], nx[k])) {
                continue;  // outside the area: no part of the equation
            }
            L0.diag[i] += 1.0;
            const int32_t j = at[size_t(ny[k]) * w + nx[k]];
            if (j >= 0) {
                L0.nbr[i][k] = j;
                L0.weight[i][k] = 1.0;
            } else {
                b[i] += image.at<float>(ny[k], nx[k]);
                fixedSum += image.at<float>(ny[k], nx[k]);
                fixedCount += 1;
            }
        }
    }
    // How far the gaps reach from their edges, breadth-first from the cells beside a valid one:
    // a smooth error grows across a gap with about the square of its width.
    std::vector<int32_t> reach(n, -1), queue;
    queue.reserve(n);
    for (size_t i = 0; i < n; ++i) {
        int inside = 0;
        for (int32_t j : L0.nbr[i]) {
            inside += j >= 0 ? 1 : 0;
        }
        if (L0.diag[i] > inside) {
            reach[i] = 1;
            queue.push_back(int32_t(i));
        }
    }
    for (size_t q = 0; q < queue.size(); ++q) {
        for (int32_t j : L0.nbr[size_t(queue[q])]) {
            if (j >= 0 && reach[size_t(j)] < 0) {
                reach[size_t(j)] = reach[size_t(queue[q])] + 1;
                queue.push_back(j);
            }
        }
    }
    const double width = queue.empty() ? 1.0 : 2.0 * reach[size_t(queue.back())];
    const double eps = tolerance / std::max(1.0, width * width / 10.0);

    Colour(&L0);
    while (levels.back().Size() > size_t(kCoarsestCells) && (levels.back().w > 1 || levels.back().h > 1)) {
        levels.push_back(Coarsen(&levels.back()));
    }

    // Preconditioned conjugate gradients from the mean of the fixed values around the gaps; stop
    // once no cell is further from the mean of its neighbours than eps.
    std::vector<double> x(n, fixedCount > 0 ? fixedSum / fixedCount : 0.0), r(n), z, p, ap(n);
    Apply(L0, x, ap);
    for (size_t i = 0; i < n; ++i) {
        r[i] = b[i] - ap[i];
    }
    Cycle(levels, 0, r, z);
    p = z;
    double rz = Dot(r, z);
    for (int it = 0; it < kMaxIterations; ++it) {
        double worst = 0;
        for (size_t i = 0; i < n; ++i) {
            worst = std::max(worst, std::fabs(r[i]) / L0.diag[i]);
        }
        if (worst <= eps) {
            break;
        }
        Apply(L0, p, ap);
        const double pap = Dot(p, ap);
        if (!(pap > 0)) {
            break;
        }
        const double alpha = rz / pap;
        for (size_t i = 0; i < n; ++i) {
            x[i] += alpha * p[i];
            r[i] -= alpha * ap[i];
        }
        Cycle(levels, 0, r, z);
        const double rzNew = Dot(r, z);
        if (!(rzNew > 0)) {
            break;  // converged to rounding
        }
        const double beta = rzNew / rz;
        rz = rzNew;
        for (size_t i = 0; i < n; ++i) {
            p[i] = z[i] + beta * p[i];
        }
    }
    for (size_t i = 0; i < n; ++i) {
        result.at<float>(L0.cellOf[i] / w, L0.cellOf[i] % w) = float(x[i]);
    }
    return result;
}
