#include "platform/gridding/GridGaps.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <vector>

// The filled surface u minimises, over the gap cells,
//   (1 - T) * sum over the cells inside of (their curvature)^2
//   + T * sum of (u_a - u_b)^2 over the pairs of neighbouring cells inside,
// with the valid cells fixed. A cell's curvature sums its second differences along the axes on
// which both its neighbours are inside (the Laplacian inside the area), so the borders of the
// area and of the grid add no slope of their own.
//
// The solve: a first estimate coarse to fine (every level takes every second cell of the finer
// one, its valid cells keeping their values, and starts from the bilinear interpolation of the
// level below it), then conjugate gradients on the finest level preconditioned by one multigrid
// V-cycle per step (the same energy on the coarser levels, the bending weighed by a quarter per
// level as cells twice as wide measure it), until no step moves a cell by more than the
// tolerance or a bounded number of steps is done. The Gauss-Seidel sweeps visit the cells in
// five colours ((x + 2y) mod 5), no two of which touch within the 13-cell stencil, so each
// colour is relaxed in parallel with a result that does not depend on the number of threads.
// Gaps more than the stencil's reach apart do not enter each other's equations: each region of
// gaps within that reach of each other is solved on its own box, to its own tolerance.
namespace {

constexpr uint8_t kOutside = 0, kFixed = 1, kGap = 2, kReached = 3;
constexpr int kColours = 5;
// Conjugate-gradient steps at most; each costs one V-cycle.
constexpr int kMaxIterations = 60;
// Gauss-Seidel sweeps before and after the coarse correction, and on the coarsest level.
constexpr int kSmoothing = 2;
constexpr int kCoarsestSweeps = 40;
// Sweeps of each level of the first, coarse-to-fine estimate.
constexpr int kStartSweeps = 4;
constexpr size_t kCoarsestGaps = 64;
constexpr size_t kLevels = 40;
// Cells kept around the box of the gaps: the stencil reaches two cells.
constexpr int kMargin = 4;
constexpr size_t kBlock = 4096;
constexpr double kDefaultTolerance = 0.01;
constexpr double kMinTension = 1e-6;
constexpr double kAxisCount[4] = {0.0, 1.0, 1.0, 2.0};
// Loops shorter than this run on the calling thread: waking the pool costs more.
constexpr size_t kParallelFrom = 2 * 4096;

template <class Body>
void ForBlocks(size_t n, const Body& body) {
    if (n < kParallelFrom) {
        for (size_t k = 0; k * kBlock < n; ++k) {
            body(k, k * kBlock, std::min(n, (k + 1) * kBlock));
        }
        return;
    }
    cv::parallel_for_(cv::Range(0, int((n + kBlock - 1) / kBlock)), [&](const cv::Range& r) {
        for (int k = r.start; k < r.end; ++k) {
            body(size_t(k), size_t(k) * kBlock, std::min(n, size_t(k + 1) * kBlock));
        }
    });
}

// One grid level with a border of outside cells all round, so that no neighbour needs a bounds
// test. Level l is every 2^l-th cell of the finest; its bending weighs 4^-l as much as there
// (the same energy measured on cells twice as wide), its tension the same.
struct Level {
    int w = 0, h = 0, stride = 0;
    double bend = 1.0, tension = 0.0;
    std::vector<uint8_t> state;
    // The axes along which the cell and both its neighbours are inside (1 across, 2 down): the
    // curvature of a cell is the sum of its second differences along them, the Laplacian inside
    // the area and the bending along the edge on its borders.
    std::vector<uint8_t> axes;
    // The finest level's solution, or a coarse level's estimate and then its correction: 0 on
    // valid cells while it is a correction.
    std::vector<float> u;
    std::vector<float> res;      // the residual of a cycle, at the gap cells
    std::vector<int32_t> cells;  // the gap cells, colour after colour
    std::vector<float> inverse;  // 1 / the diagonal of each
    std::vector<double> rhs;     // the right-hand side of a cycle, per gap cell
    size_t start[kColours + 1] = {};

    int Index(int x, int y) const { return (y + 1) * stride + x + 1; }
    void Reset(int width, int height) {
        w = width;
        h = height;
        stride = w + 2;
        const size_t size = size_t(stride) * size_t(h + 2);
        state.assign(size, kOutside);
        u.assign(size, 0.0f);
        axes.assign(size, 0);
        res.clear();
        cells.clear();
        inverse.clear();
    }
    size_t Gaps() const { return cells.size(); }
    // The stencil flags, and the gap cells by colour with their diagonals.
    void Prepare(double bendWeight, double tensionWeight) {
        bend = bendWeight;
        tension = tensionWeight;
        for (int y = 0; y < h; ++y) {
            for (int x = 0; x < w; ++x) {
                const int i = Index(x, y);
                if (state[size_t(i)]) {
                    axes[size_t(i)] =
                        uint8_t((state[size_t(i - 1)] && state[size_t(i + 1)] ? 1 : 0) |
                                (state[size_t(i - stride)] && state[size_t(i + stride)] ? 2 : 0));
                }
            }
        }
        for (int colour = 0; colour < kColours; ++colour) {
            start[colour] = cells.size();
            for (int y = 0; y < h; ++y) {
                for (int x = (colour + 3 * y) % kColours; x < w; x += kColours) {
                    // (x + 2y) mod 5 == colour
                    const int i = Index(x, y);
                    if (state[size_t(i)] != kGap) {
                        continue;
                    }
                    const double own = 2.0 * kAxisCount[axes[size_t(i)]];
                    double curvature = own * own, slope = 0.0;
                    for (int k = 0; k < 4; ++k) {
                        const int j = i + Offset(k);
                        if (state[size_t(j)]) {
                            curvature += axes[size_t(j)] & Axis(k) ? 1.0 : 0.0;
                            slope += 1.0;
                        }
                    }
                    cells.push_back(i);
                    inverse.push_back(float(1.0 / (bend * curvature + tension * slope)));
                }
            }
        }
        start[kColours] = cells.size();
        rhs.assign(cells.size(), 0.0);
    }
    // Half the energy's gradient at gap cell i: (A x)_i, valid cells of x taken as they are.
    double Stencil(const float* x, int i) const {
        const int s = stride;
        const uint8_t* st = state.data();
        const uint8_t* ax = axes.data();
        auto curv = [&](int k) {
            double c = 0.0;
            if (ax[k] & 1) {
                c += double(x[k - 1]) + double(x[k + 1]) - 2.0 * x[k];
            }
            if (ax[k] & 2) {
                c += double(x[k - s]) + double(x[k + s]) - 2.0 * x[k];
            }
            return c;
        };
        double g = ax[i] ? -2.0 * kAxisCount[ax[i]] * bend * curv(i) : 0.0;
        for (int k = 0; k < 4; ++k) {
            const int j = i + Offset(k);
            if (st[j]) {
                if (ax[j] & Axis(k)) {
                    g += bend * curv(j);
                }
                g += tension * (double(x[i]) - double(x[j]));
            }
        }
        return g;
    }
    // The four neighbours: left, right, up, down; and the axis each lies along.
    int Offset(int k) const { return k == 0 ? -1 : k == 1 ? 1 : k == 2 ? -stride : stride; }
    static uint8_t Axis(int k) { return k < 2 ? 1 : 2; }
};

// Gauss-Seidel sweeps of A x = rhs over the gap cells, colour by colour (forwards, or backwards
// for the mirror sweep). Returns the largest move.
double Sweep(Level& L, const std::vector<double>* rhs, bool backwards, std::vector<double>* parts) {
    float* x = L.u.data();
    double worst = 0.0;
    for (int k = 0; k < kColours; ++k) {
        const int c = backwards ? kColours - 1 - k : k;
        const size_t first = L.start[c], count = L.start[c + 1] - first;
        parts->assign((count + kBlock - 1) / kBlock, 0.0);
        ForBlocks(count, [&](size_t block, size_t begin, size_t end) {
            double most = 0.0;
            for (size_t n = first + begin; n < first + end; ++n) {
                const int i = L.cells[n];
                const double move = (L.Stencil(x, i) - (rhs ? (*rhs)[n] : 0.0)) * L.inverse[n];
                x[i] = float(x[i] - move);
                most = std::max(most, std::fabs(move));
            }
            (*parts)[block] = most;
        });
        for (double p : *parts) {
            worst = std::max(worst, p);
        }
    }
    return worst;
}

// The next coarser level, on every second cell of the finer one: a cell is valid with the value
// of the fine cell it stands on, so that the coarse data hold no bias of position (the mean of
// the valid cells of a block stands elsewhere than the block's centre); it is a gap when that
// cell is not valid but some cell of its 2 x 2 block is inside. False when no valid cell is left.
bool Coarsen(const Level& F, Level* C) {
    C->Reset((F.w + 1) / 2, (F.h + 1) / 2);
    bool anyFixed = false;
    for (int Y = 0; Y < C->h; ++Y) {
        for (int X = 0; X < C->w; ++X) {
            const int i = C->Index(X, Y);
            const int f = F.Index(2 * X, 2 * Y);
            if (F.state[size_t(f)] == kFixed) {
                C->state[size_t(i)] = kFixed;
                C->u[size_t(i)] = F.u[size_t(f)];
                anyFixed = true;
                continue;
            }
            bool inside = F.state[size_t(f)] != kOutside;
            for (int d : {1, F.stride, F.stride + 1}) {
                inside = inside || F.state[size_t(f + d)] != kOutside;
            }
            C->state[size_t(i)] = inside ? kGap : kOutside;
        }
    }
    return anyFixed;
}

// Bilinear weights of fine cell (x, y) on the coarse cells (x / 2, y / 2) and beyond.
template <class Body>
void CoarseNeighbours(const Level& C, int x, int y, const Body& body) {
    const int x0 = x / 2, y0 = y / 2;
    const double fx = (x % 2) * 0.5, fy = (y % 2) * 0.5;
    for (int dy = 0; dy < 2; ++dy) {
        for (int dx = 0; dx < 2; ++dx) {
            const double weight = (dx ? fx : 1.0 - fx) * (dy ? fy : 1.0 - fy);
            if (weight > 0.0 && x0 + dx < C.w && y0 + dy < C.h) {
                body(C.Index(x0 + dx, y0 + dy), weight);
            }
        }
    }
}

// The first estimate of a finer level's gap cells: the coarser estimate interpolated from its
// cells inside; where none is inside around, the cell keeps what it has.
void StartFrom(const Level& C, Level* F) {
    ForBlocks(F->cells.size(), [&](size_t, size_t begin, size_t end) {
        for (size_t n = begin; n < end; ++n) {
            const int i = F->cells[n];
            double sum = 0.0, weights = 0.0;
            CoarseNeighbours(C, i % F->stride - 1, i / F->stride - 1, [&](int j, double weight) {
                if (C.state[size_t(j)] != kOutside) {
                    sum += weight * C.u[size_t(j)];
                    weights += weight;
                }
            });
            if (weights > 0.0) {
                F->u[size_t(i)] = float(sum / weights);
            }
        }
    });
}

// e = (approximately) A^-1 rhs on level l and below by one V-cycle, a symmetric operator: forward
// sweeps, the residual carried to the coarser level by the transpose of the bilinear
// interpolation, its correction interpolated back, mirror sweeps.
void Cycle(std::vector<Level>& levels, size_t l, size_t count, std::vector<double>* parts) {
    Level& L = levels[l];
    for (int i : L.cells) {
        L.u[size_t(i)] = 0.0f;
    }
    if (l + 1 == count) {
        for (int k = 0; k < kCoarsestSweeps; ++k) {
            Sweep(L, &L.rhs, k % 2 == 1, parts);
        }
        return;
    }
    for (int k = 0; k < kSmoothing; ++k) {
        Sweep(L, &L.rhs, false, parts);
    }
    L.res.assign(L.u.size(), 0.0f);
    ForBlocks(L.cells.size(), [&](size_t, size_t begin, size_t end) {
        for (size_t n = begin; n < end; ++n) {
            L.res[size_t(L.cells[n])] = float(L.rhs[n] - L.Stencil(L.u.data(), L.cells[n]));
        }
    });
    Level& C = levels[l + 1];
    ForBlocks(C.cells.size(), [&](size_t, size_t begin, size_t end) {
        for (size_t n = begin; n < end; ++n) {
            const int j = C.cells[n];
            const int X = j % C.stride - 1, Y = j / C.stride - 1;
            double sum = 0.0;
            for (int dy = -1; dy <= 1; ++dy) {
                for (int dx = -1; dx <= 1; ++dx) {
                    const int x = 2 * X + dx, y = 2 * Y + dy;
                    if (x >= 0 && y >= 0 && x < L.w && y < L.h) {
                        sum += (dx ? 0.5 : 1.0) * (dy ? 0.5 : 1.0) * L.res[size_t(L.Index(x, y))];
                    }
                }
            }
            C.rhs[n] = sum;
        }
    });
    Cycle(levels, l + 1, count, parts);
    ForBlocks(L.cells.size(), [&](size_t, size_t begin, size_t end) {
        for (size_t n = begin; n < end; ++n) {
            const int i = L.cells[n];
            double sum = 0.0;
            CoarseNeighbours(C, i % L.stride - 1, i / L.stride - 1, [&](int j, double weight) {
                if (C.state[size_t(j)] == kGap) {
                    sum += weight * C.u[size_t(j)];
                }
            });
            L.u[size_t(i)] = float(L.u[size_t(i)] + sum);
        }
    });
    for (int k = 0; k < kSmoothing; ++k) {
        Sweep(L, &L.rhs, true, parts);
    }
}

// Summed in fixed blocks, so the result does not depend on the number of threads.
template <class Term>
double Sum(size_t n, std::vector<double>* parts, const Term& term) {
    parts->assign((n + kBlock - 1) / kBlock, 0.0);
    ForBlocks(n, [&](size_t block, size_t begin, size_t end) {
        double s = 0.0;
        for (size_t i = begin; i < end; ++i) {
            s += term(i);
        }
        (*parts)[block] = s;
    });
    double s = 0.0;
    for (double p : *parts) {
        s += p;
    }
    return s;
}

// What a solve keeps from one call to the next: the levels and the vectors of the gradients.
struct SolveSpace {
    std::vector<Level> levels;
    std::vector<double> parts, r, ap;
    std::vector<float> x, p;
};

// Solves the finest level as it is set (its valid cells and gaps) into ws.x: the levels below
// it, a first estimate coarse to fine, then conjugate gradients preconditioned by V-cycles.
void Solve(SolveSpace& ws, double tensionWeight, double tolerance) {
    Level& L0 = ws.levels[0];
    // The levels: the finest, then every second cell, down to a few gaps.
    const double bend = 1.0 - tensionWeight;
    L0.Prepare(bend, tensionWeight);
    size_t count = 1;
    while (count < kLevels && ws.levels[count - 1].Gaps() > kCoarsestGaps &&
           (ws.levels[count - 1].w > 2 || ws.levels[count - 1].h > 2)) {
        if (!Coarsen(ws.levels[count - 1], &ws.levels[count])) {
            break;
        }
        ws.levels[count].Prepare(bend / std::pow(4.0, double(count)), tensionWeight);
        ++count;
    }

    // A first estimate coarse to fine, each level from the one below it.
    for (size_t l = count; l-- > 0;) {
        Level& L = ws.levels[l];
        if (l + 1 < count) {
            StartFrom(ws.levels[l + 1], &L);
        }
        const int sweeps = l + 1 == count ? kCoarsestSweeps : kStartSweeps;
        for (int k = 0; k < sweeps; ++k) {
            Sweep(L, nullptr, k % 2 == 1, &ws.parts);
        }
    }

    // Then conjugate gradients on the finest level, preconditioned by V-cycles, until a step
    // moves no cell by more than the tolerance.
    const size_t n = L0.Gaps();
    ws.x.assign(L0.u.begin(), L0.u.end());  // the solution, while L0.u serves the cycles
    for (size_t l = 0; l < count; ++l) {
        Level& L = ws.levels[l];
        for (size_t i = 0; i < L.u.size(); ++i) {
            if (L.state[i] == kFixed) {
                L.u[i] = 0.0f;  // a correction leaves the valid cells as they are
            }
        }
    }
    const std::vector<float>& z = L0.u;
    ws.r.resize(n);
    ws.p.assign(z.size(), 0.0f);
    ws.ap.resize(n);
    ForBlocks(n, [&](size_t, size_t begin, size_t end) {
        for (size_t k = begin; k < end; ++k) {
            ws.r[k] = -L0.Stencil(ws.x.data(), L0.cells[k]);
        }
    });
    auto precondition = [&] {
        L0.rhs.assign(ws.r.begin(), ws.r.end());
        Cycle(ws.levels, 0, count, &ws.parts);
    };
    precondition();
    for (size_t k = 0; k < n; ++k) {
        ws.p[size_t(L0.cells[k])] = z[size_t(L0.cells[k])];
    }
    double rz = Sum(n, &ws.parts, [&](size_t k) { return ws.r[k] * double(z[size_t(L0.cells[k])]); });
    for (int it = 0; it < kMaxIterations && rz > 0.0; ++it) {
        ForBlocks(n, [&](size_t, size_t begin, size_t end) {
            for (size_t k = begin; k < end; ++k) {
                ws.ap[k] = L0.Stencil(ws.p.data(), L0.cells[k]);
            }
        });
        const double pap =
            Sum(n, &ws.parts, [&](size_t k) { return double(ws.p[size_t(L0.cells[k])]) * ws.ap[k]; });
        if (!(pap > 0.0)) {
            break;
        }
        const double alpha = rz / pap;
        ws.parts.assign((n + kBlock - 1) / kBlock, 0.0);
        ForBlocks(n, [&](size_t block, size_t begin, size_t end) {
            double most = 0.0;
            for (size_t k = begin; k < end; ++k) {
                const size_t i = size_t(L0.cells[k]);
                const double step = alpha * ws.p[i];
                ws.x[i] = float(ws.x[i] + step);
                ws.r[k] -= alpha * ws.ap[k];
                most = std::max(most, std::fabs(step));
            }
            ws.parts[block] = most;
        });
        if (*std::max_element(ws.parts.begin(), ws.parts.end()) <= tolerance) {
            break;
        }
        precondition();
        const double rzNew =
            Sum(n, &ws.parts, [&](size_t k) { return ws.r[k] * double(z[size_t(L0.cells[k])]); });
        const double beta = rzNew / rz;
        rz = rzNew;
        ForBlocks(n, [&](size_t, size_t begin, size_t end) {
            for (size_t k = begin; k < end; ++k) {
                const size_t i = size_t(L0.cells[k]);
                ws.p[i] = float(z[i] + beta * ws.p[i]);
            }
        });
    }
}

// A thin plate carries the slopes at a gap's rim on into the gap, and would take it below the
// lowest or above the highest valid cell around it: a pit or a peak that was never there. Each
// filled gap of the box (its cells linked side by side) is held to the heights of the valid cells
// of the area that touch it, across a corner too.
template <class IsGap>
void HoldGapsToTheirRims(const cv::Mat& image, const cv::Mat& mask, const cv::Rect& box, const IsGap& isGap,
                         cv::Mat* result, std::vector<uint8_t>* bounded, std::vector<int32_t>* queue) {
    bounded->assign(size_t(box.width) * size_t(box.height), 0);
    auto seen = [&](int x, int y) -> uint8_t& {
        return (*bounded)[size_t(y - box.y) * size_t(box.width) + size_t(x - box.x)];
    };
    auto filledGap = [&](int x, int y) {
        return x >= box.x && y >= box.y && x < box.x + box.width && y < box.y + box.height &&
               mask.at<uint8_t>(y, x) && isGap(image.at<float>(y, x)) && !isGap(result->at<float>(y, x)) &&
               !seen(x, y);
    };
    for (int y = box.y; y < box.y + box.height; ++y) {
        for (int x = box.x; x < box.x + box.width; ++x) {
            if (!filledGap(x, y)) {
                continue;
            }
            queue->assign(1, y * image.cols + x);
            seen(x, y) = 1;
            float lowest = std::numeric_limits<float>::max(), highest = std::numeric_limits<float>::lowest();
            for (size_t q = 0; q < queue->size(); ++q) {
                const int cx = (*queue)[q] % image.cols, cy = (*queue)[q] / image.cols;
                for (int dy = -1; dy <= 1; ++dy) {
                    for (int dx = -1; dx <= 1; ++dx) {
                        const int nx = cx + dx, ny = cy + dy;
                        if (nx < 0 || ny < 0 || nx >= image.cols || ny >= image.rows) {
                            continue;
                        }
                        const float v = image.at<float>(ny, nx);
                        if (!isGap(v)) {
                            if (mask.at<uint8_t>(ny, nx)) {
                                lowest = std::min(lowest, v);
                                highest = std::max(highest, v);
                            }
                        } else if ((dx == 0) != (dy == 0) && filledGap(nx, ny)) {
                            seen(nx, ny) = 1;
                            queue->push_back(ny * image.cols + nx);
                        }
                    }
                }
            }
            if (lowest > highest) {
                continue;  // no valid cell touches it (a filled gap always has one)
            }
            for (int cell : *queue) {
                float& v = result->at<float>(cell / image.cols, cell % image.cols);
                v = std::clamp(v, lowest, highest);
            }
        }
    }
}

}  // namespace

struct CGridGaps::Workspace : SolveSpace {
    std::vector<int32_t> queue;
    // The gap cells of the box, region after region (image cells, y * width + x), where each
    // region's cells start, and each region's box.
    std::vector<int32_t> regionCells;
    std::vector<size_t> regionStart;
    std::vector<cv::Rect> regionBoxes;
    // The last image returned: once its caller has let it go, its buffer serves the next result.
    cv::Mat lastResult;
    // The gap cells of the box already held to the heights around their gap.
    std::vector<uint8_t> bounded;
};

CGridGaps::CGridGaps(double tension)
    : m_tension(std::clamp(std::isfinite(tension) ? tension : kDefaultTension, kMinTension, 1.0)),
      m_work(std::make_unique<Workspace>()) {}
CGridGaps::~CGridGaps() = default;

cv::Mat CGridGaps::Process(const cv::Mat& image, const cv::Mat& mask, float noData, double tolerance) {
    if (image.empty() || image.type() != CV_32FC1 || mask.type() != CV_8UC1 || mask.size() != image.size()) {
        return cv::Mat();
    }
    if (!(tolerance > 0) || !std::isfinite(tolerance)) {
        tolerance = kDefaultTolerance;
    }
    const bool nanNoData = std::isnan(noData);
    auto isGap = [&](float v) { return std::isnan(v) || (!nanNoData && v == noData); };

    // The box of the gaps inside the area, and whether the area holds any valid cell.
    int x0 = image.cols, y0 = image.rows, x1 = -1, y1 = -1;
    bool anySource = false;
    for (int y = 0; y < image.rows; ++y) {
        const float* v = image.ptr<float>(y);
        const uint8_t* m = mask.ptr<uint8_t>(y);
        for (int x = 0; x < image.cols; ++x) {
            if (!m[x]) {
                continue;
            }
            if (isGap(v[x])) {
                x0 = std::min(x0, x);
                x1 = std::max(x1, x);
                y0 = std::min(y0, y);
                y1 = std::max(y1, y);
            } else {
                anySource = true;
            }
        }
    }
    if (!anySource) {
        return cv::Mat();
    }
    Workspace& ws = *m_work;
    cv::Mat result;
    if (ws.lastResult.u && ws.lastResult.u->refcount == 1 && ws.lastResult.size() == image.size()) {
        result = ws.lastResult;
    }
    image.copyTo(result);
    ws.lastResult = result;
    if (x1 < 0) {
        return result;
    }

    // The box of the gaps with a margin, where the cells are told apart: outside the area, valid,
    // gap.
    const cv::Rect box =
        cv::Rect(cv::Point(x0 - kMargin, y0 - kMargin), cv::Point(x1 + kMargin + 1, y1 + kMargin + 1)) &
        cv::Rect(0, 0, image.cols, image.rows);
    // Enough levels for any grid that fits in memory: each halves the sides.
    if (ws.levels.size() < kLevels) {
        ws.levels.resize(kLevels);
    }
    Level& L0 = ws.levels[0];
    L0.Reset(box.width, box.height);
    size_t fixedCount = 0;
    for (int y = 0; y < box.height; ++y) {
        const float* v = image.ptr<float>(box.y + y) + box.x;
        const uint8_t* m = mask.ptr<uint8_t>(box.y + y) + box.x;
        for (int x = 0; x < box.width; ++x) {
            if (m[x]) {
                const bool gap = isGap(v[x]);
                L0.state[size_t(L0.Index(x, y))] = gap ? kGap : kFixed;
                fixedCount += !gap;
            }
        }
    }
    if (fixedCount == 0) {
        return result;  // the gaps of the box touch no valid cell
    }

    // Gaps that no path through the area links to a valid cell stay no data.
    ws.queue.clear();
    std::vector<uint8_t>& state = L0.state;
    const int s = L0.stride;
    for (int y = 0; y < box.height; ++y) {
        for (int x = 0; x < box.width; ++x) {
            const int i = L0.Index(x, y);
            if (state[size_t(i)] == kFixed) {
                for (int j : {i - 1, i + 1, i - s, i + s}) {
                    if (state[size_t(j)] == kGap) {
                        state[size_t(j)] = kReached;
                        ws.queue.push_back(j);
                    }
                }
            }
        }
    }
    for (size_t q = 0; q < ws.queue.size(); ++q) {
        const int i = ws.queue[q];
        for (int j : {i - 1, i + 1, i - s, i + s}) {
            if (state[size_t(j)] == kGap) {
                state[size_t(j)] = kReached;
                ws.queue.push_back(j);
            }
        }
    }
    for (uint8_t& v : state) {
        v = v == kGap ? kOutside : v == kReached ? kGap : v;
    }
    if (ws.queue.empty()) {
        return result;
    }

    // Gap cells couple only within the stencil's reach (two cells along an axis, one across a
    // corner): each region of gaps linked within that reach is a system of its own, solved on
    // its own box, so that a small hole needs only the steps of its own few cells and not those
    // of the widest gap of the grid.
    ws.regionCells.clear();
    ws.regionStart.clear();
    ws.regionBoxes.clear();
    static constexpr int kReach[12][2] = {{-1, 0}, {1, 0}, {0, -1},  {0, 1},  {-2, 0}, {2, 0},
                                          {0, -2}, {0, 2}, {-1, -1}, {1, -1}, {-1, 1}, {1, 1}};
    for (int y = 0; y < box.height; ++y) {
        for (int x = 0; x < box.width; ++x) {
            if (state[size_t(L0.Index(x, y))] != kGap) {
                continue;
            }
            const size_t first = ws.regionCells.size();
            ws.regionStart.push_back(first);
            state[size_t(L0.Index(x, y))] = kReached;
            ws.regionCells.push_back((box.y + y) * image.cols + box.x + x);
            int rx0 = x, ry0 = y, rx1 = x, ry1 = y;
            for (size_t q = first; q < ws.regionCells.size(); ++q) {
                const int cx = ws.regionCells[q] % image.cols - box.x,
                          cy = ws.regionCells[q] / image.cols - box.y;
                rx0 = std::min(rx0, cx);
                rx1 = std::max(rx1, cx);
                ry0 = std::min(ry0, cy);
                ry1 = std::max(ry1, cy);
                for (const auto& d : kReach) {
                    const int nx = cx + d[0], ny = cy + d[1];
                    if (nx < 0 || ny < 0 || nx >= box.width || ny >= box.height) {
                        continue;
                    }
                    uint8_t& v = state[size_t(L0.Index(nx, ny))];
                    if (v == kGap) {
                        v = kReached;
                        ws.regionCells.push_back((box.y + ny) * image.cols + box.x + nx);
                    }
                }
            }
            ws.regionBoxes.push_back(
                cv::Rect(cv::Point(box.x + rx0 - kMargin, box.y + ry0 - kMargin),
                         cv::Point(box.x + rx1 + kMargin + 1, box.y + ry1 + kMargin + 1)) &
                cv::Rect(0, 0, image.cols, image.rows));
        }
    }
    ws.regionStart.push_back(ws.regionCells.size());

    for (size_t region = 0; region < ws.regionBoxes.size(); ++region) {
        // The region's box: its own gaps, the valid cells of the area, every other cell outside
        // (the other regions' gaps lie beyond the reach of this one's equations).
        const cv::Rect sub = ws.regionBoxes[region];
        L0.Reset(sub.width, sub.height);
        double subReference = 0.0;
        size_t subFixed = 0;
        for (int y = 0; y < sub.height; ++y) {
            const float* v = image.ptr<float>(sub.y + y) + sub.x;
            const uint8_t* m = mask.ptr<uint8_t>(sub.y + y) + sub.x;
            for (int x = 0; x < sub.width; ++x) {
                if (m[x] && !isGap(v[x])) {
                    subReference += v[x];
                    ++subFixed;
                }
            }
        }
        subReference /= double(std::max<size_t>(subFixed, 1));
        for (int y = 0; y < sub.height; ++y) {
            const float* v = image.ptr<float>(sub.y + y) + sub.x;
            const uint8_t* m = mask.ptr<uint8_t>(sub.y + y) + sub.x;
            for (int x = 0; x < sub.width; ++x) {
                if (m[x] && !isGap(v[x])) {
                    const int i = L0.Index(x, y);
                    L0.state[size_t(i)] = kFixed;
                    L0.u[size_t(i)] = float(v[x] - subReference);
                }
            }
        }
        for (size_t k = ws.regionStart[region]; k < ws.regionStart[region + 1]; ++k) {
            const int cell = ws.regionCells[k];
            L0.state[size_t(L0.Index(cell % image.cols - sub.x, cell / image.cols - sub.y))] = kGap;
        }
        Solve(ws, m_tension, tolerance);
        const int subStride = L0.stride;
        for (int i : L0.cells) {
            const int cx = i % subStride - 1, cy = i / subStride - 1;
            result.at<float>(sub.y + cy, sub.x + cx) = float(ws.x[size_t(i)] + subReference);
        }
    }

    HoldGapsToTheirRims(image, mask, box, isGap, &result, &ws.bounded, &ws.queue);
    return result;
}
