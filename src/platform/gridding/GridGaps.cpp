#include "platform/gridding/GridGaps.h"

#include <algorithm>
#include <bit>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstring>
#ifdef __SSE2__
#include <emmintrin.h>
#endif
#include <limits>
#include <memory>
#include <mutex>
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
// colour is relaxed in parallel with a result that does not depend on the number of threads,
// and several cells of a colour at once in the lanes of a vector register.
// Gaps more than the stencil's reach apart do not enter each other's equations: each region of
// gaps within that reach of each other is solved on its own box, to its own tolerance, and the
// regions are solved side by side on the threads.
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

// The stencil of cells whose neighbours are all inside with both axes (the whole stencil), for
// several cells at once: V is a vector of doubles, a lane for each cell, and each lane goes
// through the very steps of the stencil of its one cell, so that it gives the same bits. The
// helpers take their vectors by reference, so that a wide vector never passes by value where the
// processor may lack its registers.
template <class V>
__attribute__((always_inline)) inline void Gather(V& v, const float* const* at, int offset) {
    if constexpr (sizeof(V) == 2 * sizeof(double)) {
        v = V{at[0][offset], at[1][offset]};
    } else {
        v = V{at[0][offset], at[1][offset], at[2][offset], at[3][offset]};
    }
}

// The curvature at a cell from its four neighbours: the sum of its second differences across and
// down, from 0.
template <class V>
__attribute__((always_inline)) inline void Curvature(V& sum, const V& centre, const V& left, const V& right,
                                                     const V& up, const V& down) {
    sum = V{};
    sum += left + right - 2.0 * centre;
    sum += up + down - 2.0 * centre;
}

// Adds the terms of a neighbour n of the cells c (n's own neighbours left, right, up and down) to
// the gradient g: n's curvature, and the slope from n to c.
template <class V>
__attribute__((always_inline)) inline void Neighbour(V& g, const V& c, const V& n, const V& left,
                                                     const V& right, const V& up, const V& down, double bend,
                                                     double tension) {
    V curv;
    Curvature(curv, n, left, right, up, down);
    g += bend * curv;
    g += tension * (c - n);
}

// Half the energy's gradient at the cells at[0 .. lanes - 1] of x, whose row stride is s, into
// out[0 .. lanes - 1].
template <class V>
__attribute__((always_inline)) inline void WholeStencils(const float* x, const int32_t* at, int s,
                                                         double bend, double tension, double* out) {
    constexpr size_t kLanes = sizeof(V) / sizeof(double);
    const float* cell[kLanes];
    if constexpr (kLanes == 2) {
        cell[0] = x + at[0];
        cell[1] = x + at[1];
    } else {
        cell[0] = x + at[0];
        cell[1] = x + at[1];
        cell[2] = x + at[2];
        cell[3] = x + at[3];
    }
    // The thirteen cells of the stencil, each read once.
    V c, l, r, u, d, ll, rr, uu, dd, ul, ur, dl, dr;
    Gather<V>(c, cell, 0);
    Gather<V>(l, cell, -1);
    Gather<V>(r, cell, 1);
    Gather<V>(u, cell, -s);
    Gather<V>(d, cell, s);
    Gather<V>(ll, cell, -2);
    Gather<V>(rr, cell, 2);
    Gather<V>(uu, cell, -2 * s);
    Gather<V>(dd, cell, 2 * s);
    Gather<V>(ul, cell, -s - 1);
    Gather<V>(ur, cell, -s + 1);
    Gather<V>(dl, cell, s - 1);
    Gather<V>(dr, cell, s + 1);
    V curv;
    Curvature(curv, c, l, r, u, d);
    V g = -2.0 * kAxisCount[3] * bend * curv;
    Neighbour(g, c, l, ll, c, ul, dl, bend, tension);
    Neighbour(g, c, r, c, rr, ur, dr, bend, tension);
    Neighbour(g, c, u, ul, ur, uu, c, bend, tension);
    Neighbour(g, c, d, dl, dr, c, dd, bend, tension);
    std::memcpy(out, &g, sizeof g);
}

typedef double Pair __attribute__((vector_size(16)));
#if defined(__x86_64__) || defined(__i386__)
#define KV_GAPS_AVX 1
typedef double Quad __attribute__((vector_size(32)));
// Four cells at once on processors with AVX: the same operations, on twice as many lanes.
__attribute__((target("avx"), noinline)) void WholeStencils4(const float* x, const int32_t* at, int s,
                                                             double bend, double tension, double* out) {
    WholeStencils<Quad>(x, at, s, bend, tension, out);
}
bool HaveAvx() {
    static const bool avx = [] {
        __builtin_cpu_init();
        return __builtin_cpu_supports("avx") != 0;
    }();
    return avx;
}
#endif

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
    std::vector<float> res;        // the residual of a cycle, at the gap cells
    std::vector<int32_t> cells;    // the gap cells, colour after colour
    std::vector<cv::Point> where;  // their columns and rows
    // Whether the gap cell and its four neighbours are inside with both axes: the stencil of most
    // cells, which then takes no branch.
    std::vector<uint8_t> whole;
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
        where.clear();
        whole.clear();
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
                    bool allAxes = axes[size_t(i)] == 3;
                    for (int k = 0; k < 4; ++k) {
                        const int j = i + Offset(k);
                        if (state[size_t(j)]) {
                            curvature += axes[size_t(j)] & Axis(k) ? 1.0 : 0.0;
                            slope += 1.0;
                        }
                        allAxes = allAxes && state[size_t(j)] && axes[size_t(j)] == 3;
                    }
                    cells.push_back(i);
                    where.emplace_back(x, y);
                    whole.push_back(allAxes ? 1 : 0);
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
    // The same for a cell whose neighbours are all inside with both axes, in the same steps.
    double WholeStencil(const float* x, int i) const {
        const int32_t at[2] = {i, i};
        double g[2];
        WholeStencils<Pair>(x, at, stride, bend, tension, g);
        return g[0];
    }
    // (A x) at the n-th gap cell.
    double StencilOf(const float* x, size_t n) const {
        return whole[n] ? WholeStencil(x, cells[n]) : Stencil(x, cells[n]);
    }
    // f(n, (A x) at the n-th gap cell) for the gap cells from begin to end: several at a time
    // where they all have the whole stencil.
    template <class F>
    void Stencils(const float* x, size_t begin, size_t end, const F& f) const;
    // The four neighbours: left, right, up, down; and the axis each lies along.
    int Offset(int k) const { return k == 0 ? -1 : k == 1 ? 1 : k == 2 ? -stride : stride; }
    static uint8_t Axis(int k) { return k < 2 ? 1 : 2; }
};

template <class F>
void Level::Stencils(const float* x, size_t begin, size_t end, const F& f) const {
    const int32_t* at = cells.data();
    double g[4];
    // Two cells from n on: together where both have the whole stencil.
    auto two = [&](size_t n) {
        if (whole[n] & whole[n + 1]) {
            WholeStencils<Pair>(x, at + n, stride, bend, tension, g);
            f(n, g[0]);
            f(n + 1, g[1]);
        } else {
            f(n, StencilOf(x, n));
            f(n + 1, StencilOf(x, n + 1));
        }
    };
    size_t n = begin;
#ifdef KV_GAPS_AVX
    if (HaveAvx()) {
        for (; n + 3 < end; n += 4) {
            uint32_t four;
            std::memcpy(&four, &whole[n], sizeof four);
            if (four == 0x01010101u) {
                WholeStencils4(x, at + n, stride, bend, tension, g);
                for (size_t k = 0; k < 4; ++k) {
                    f(n + k, g[k]);
                }
            } else {
                two(n);
                two(n + 2);
            }
        }
    }
#endif
    for (; n + 1 < end; n += 2) {
        two(n);
    }
    if (n < end) {
        f(n, StencilOf(x, n));
    }
}

// Gauss-Seidel sweeps of A x = rhs over the gap cells, colour by colour (forwards, or backwards
// for the mirror sweep). Returns whether any cell changed: a sweep that changes none leaves each
// cell where the next sweep, in either direction, finds it, so every further sweep changes none.
bool Sweep(Level& L, const std::vector<double>* rhs, bool backwards, std::vector<double>* parts) {
    float* x = L.u.data();
    bool changed = false;
    for (int k = 0; k < kColours; ++k) {
        const int c = backwards ? kColours - 1 - k : k;
        const size_t first = L.start[c], count = L.start[c + 1] - first;
        parts->assign((count + kBlock - 1) / kBlock, 0.0);
        // The cells of one colour do not enter each other's equations: each moves by what the
        // cells of the other colours give it, whatever the order.
        ForBlocks(count, [&](size_t block, size_t begin, size_t end) {
            uint32_t moved = 0;
            // The cell moves by (its gradient - its right-hand side) / its diagonal; without a
            // right-hand side by its gradient alone (g - 0 is g, to the bit).
            auto step = [&](size_t n, double d) {
                float& cell = x[L.cells[n]];
                const float now = float(cell - d * L.inverse[n]);
                moved |= std::bit_cast<uint32_t>(now) ^ std::bit_cast<uint32_t>(cell);
                cell = now;
            };
            if (rhs) {
                const double* r = rhs->data();
                L.Stencils(x, first + begin, first + end, [&](size_t n, double g) { step(n, g - r[n]); });
            } else {
                L.Stencils(x, first + begin, first + end, step);
            }
            (*parts)[block] = moved ? 1.0 : 0.0;
        });
        for (double p : *parts) {
            changed = changed || p != 0.0;
        }
    }
    return changed;
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

// Bilinear weights of fine cell (x, y) on the coarse cells (x / 2, y / 2) and beyond. A coarse
// cell past the level's right or bottom edge is its border, which is outside.
template <class Body>
void CoarseNeighbours(const Level& C, cv::Point fine, const Body& body) {
    const int j = C.Index(fine.x / 2, fine.y / 2);
    const double fx = (fine.x % 2) * 0.5, fy = (fine.y % 2) * 0.5;
    const int step[2][2] = {{0, 1}, {C.stride, C.stride + 1}};
    for (int dy = 0; dy < 2; ++dy) {
        for (int dx = 0; dx < 2; ++dx) {
            const double weight = (dx ? fx : 1.0 - fx) * (dy ? fy : 1.0 - fy);
            if (weight > 0.0) {
                body(j + step[dy][dx], weight);
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
            CoarseNeighbours(C, F->where[n], [&](int j, double weight) {
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
        for (int k = 0; k < kCoarsestSweeps && Sweep(L, &L.rhs, k % 2 == 1, parts); ++k) {
        }
        return;
    }
    for (int k = 0; k < kSmoothing; ++k) {
        Sweep(L, &L.rhs, false, parts);
    }
    L.res.assign(L.u.size(), 0.0f);
    ForBlocks(L.cells.size(), [&](size_t, size_t begin, size_t end) {
        L.Stencils(L.u.data(), begin, end,
                   [&](size_t n, double g) { L.res[size_t(L.cells[n])] = float(L.rhs[n] - g); });
    });
    Level& C = levels[l + 1];
    ForBlocks(C.cells.size(), [&](size_t, size_t begin, size_t end) {
        // The fine cells around one past the level's edges are its border, whose residual is
        // 0: adding it leaves the sum as it is (a sum from +0 never is -0).
        const int s = L.stride;
        for (size_t n = begin; n < end; ++n) {
            const float* r = L.res.data() + L.Index(2 * C.where[n].x, 2 * C.where[n].y);
            double sum = 0.0;
            sum += 0.25 * r[-s - 1];
            sum += 0.5 * r[-s];
            sum += 0.25 * r[-s + 1];
            sum += 0.5 * r[-1];
            sum += 1.0 * r[0];
            sum += 0.5 * r[1];
            sum += 0.25 * r[s - 1];
            sum += 0.5 * r[s];
            sum += 0.25 * r[s + 1];
            C.rhs[n] = sum;
        }
    });
    Cycle(levels, l + 1, count, parts);
    ForBlocks(L.cells.size(), [&](size_t, size_t begin, size_t end) {
        for (size_t n = begin; n < end; ++n) {
            const int i = L.cells[n];
            double sum = 0.0;
            CoarseNeighbours(C, L.where[n], [&](int j, double weight) {
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
    std::vector<int32_t> held;  // the cells of the gap being held to its rim
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
        for (int k = 0; k < sweeps && Sweep(L, nullptr, k % 2 == 1, &ws.parts); ++k) {
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
        L0.Stencils(ws.x.data(), begin, end, [&](size_t k, double g) { ws.r[k] = -g; });
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
            L0.Stencils(ws.p.data(), begin, end, [&](size_t k, double g) { ws.ap[k] = g; });
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
// filled gap (its filled cells linked side by side) is held to the heights of the valid cells of
// the area that touch it, across a corner too. Runs on the finest level of a region as solved,
// its heights in x: the region's own gaps are all its gap cells (the cells that touch a gap side
// by side are its own gaps, and the cells around it lie within the box).
template <class IsGap>
void HoldGapsToTheirRims(Level& L, std::vector<float>& x, const cv::Mat& image, const cv::Rect& sub,
                         const IsGap& isGap, std::vector<int32_t>* queue) {
    const int s = L.stride;
    std::vector<uint8_t>& state = L.state;
    auto filledGap = [&](int i) { return state[size_t(i)] == kGap && !isGap(x[size_t(i)]); };
    for (int seed : L.cells) {
        if (!filledGap(seed)) {
            continue;
        }
        queue->assign(1, seed);
        state[size_t(seed)] = kReached;
        float lowest = std::numeric_limits<float>::max(), highest = std::numeric_limits<float>::lowest();
        for (size_t q = 0; q < queue->size(); ++q) {
            const int i = (*queue)[q];
            for (int dy = -1; dy <= 1; ++dy) {
                for (int dx = -1; dx <= 1; ++dx) {
                    const int j = i + dy * s + dx;
                    if (state[size_t(j)] == kFixed) {
                        const float v = image.at<float>(sub.y + j / s - 1, sub.x + j % s - 1);
                        lowest = std::min(lowest, v);
                        highest = std::max(highest, v);
                    } else if ((dx == 0) != (dy == 0) && filledGap(j)) {
                        state[size_t(j)] = kReached;
                        queue->push_back(j);
                    }
                }
            }
        }
        if (lowest > highest) {
            continue;  // no valid cell touches it (a filled gap always has one)
        }
        for (int i : *queue) {
            x[size_t(i)] = std::clamp(x[size_t(i)], lowest, highest);
        }
    }
}

// Calls body(first row, end row) for the bands of kRowBand rows in parallel.
constexpr int kRowBand = 64;
template <class Body>
void ForRows(int rows, const Body& body) {
    cv::parallel_for_(cv::Range(0, (rows + kRowBand - 1) / kRowBand), [&](const cv::Range& r) {
        for (int k = r.start; k < r.end; ++k) {
            body(k * kRowBand, std::min(rows, (k + 1) * kRowBand));
        }
    });
}

// The class of each cell of a row: outside the area, valid, or a gap (the no-data value or NaN).
void ClassifyRow(const float* v, const uint8_t* m, float noData, int n, uint8_t* c) {
    int x = 0;
#ifdef __SSE2__
    // Sixteen cells at a time: a gap's comparisons give -1, and 1 - (-1) is the gap's class.
    const __m128 none = _mm_set1_ps(noData);
    const __m128i one = _mm_set1_epi8(kFixed), zero = _mm_setzero_si128();
    static_assert(kFixed == 1 && kGap == 2);
    for (; x + 16 <= n; x += 16) {
        __m128i gap[4];
        for (int k = 0; k < 4; ++k) {
            const __m128 cells = _mm_loadu_ps(v + x + 4 * k);
            gap[k] = _mm_castps_si128(_mm_or_ps(_mm_cmpunord_ps(cells, cells), _mm_cmpeq_ps(cells, none)));
        }
        const __m128i gaps =
            _mm_packs_epi16(_mm_packs_epi32(gap[0], gap[1]), _mm_packs_epi32(gap[2], gap[3]));
        const __m128i inside = _mm_cmpeq_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(m + x)), zero);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(c + x),
                         _mm_andnot_si128(inside, _mm_sub_epi8(one, gaps)));
    }
#endif
    for (; x < n; ++x) {
        const bool gap = v[x] != v[x] || v[x] == noData;
        c[x] = uint8_t((m[x] != 0) * (kFixed + gap));
    }
}

// The classes of the image's cells besides outside, valid, gap and reached: a gap being linked
// to its neighbours, a gap already in a region. The class map has a border of two cells outside.
constexpr uint8_t kComponent = 4, kRegion = 5;
constexpr int kBorder = 2;

}  // namespace

struct CGridGaps::Workspace {
    // Solve spaces, one for each region solved at the same time; kept for the next call.
    std::mutex poolMutex;
    std::vector<std::unique_ptr<SolveSpace>> pool;
    // The image's class map (outside, valid, gap), then its gaps linked to a valid cell (reached)
    // and those already in a region.
    std::vector<uint8_t> classes;
    std::vector<int64_t> queue;
    // The gap cells of the box, region after region, where each region's cells start, and each
    // region's box.
    std::vector<cv::Point> regionCells;
    std::vector<size_t> regionStart;
    std::vector<cv::Rect> regionBoxes;
    // What each region filled, at its cells' places: row, column and height.
    std::vector<int32_t> rows, columns;
    std::vector<float> heights;
    // The cells of the last Process, and the last image returned: once its caller has let it go,
    // its buffer serves the next result.
    Cells cells;
    cv::Mat lastResult;

    std::unique_ptr<SolveSpace> Take() {
        std::lock_guard<std::mutex> lock(poolMutex);
        if (pool.empty()) {
            auto space = std::make_unique<SolveSpace>();
            space->levels.resize(kLevels);
            return space;
        }
        std::unique_ptr<SolveSpace> space = std::move(pool.back());
        pool.pop_back();
        return space;
    }
    void Give(std::unique_ptr<SolveSpace> space) {
        std::lock_guard<std::mutex> lock(poolMutex);
        pool.push_back(std::move(space));
    }
};

CGridGaps::CGridGaps(double tension)
    : m_tension(std::clamp(std::isfinite(tension) ? tension : kDefaultTension, kMinTension, 1.0)),
      m_work(std::make_unique<Workspace>()) {}
CGridGaps::~CGridGaps() = default;

bool CGridGaps::Fill(const cv::Mat& image, const cv::Mat& mask, float noData, double tolerance,
                     Cells* filled) {
    filled->rowStart.clear();
    filled->columns.clear();
    filled->heights.clear();
    if (image.empty() || image.type() != CV_32FC1 || mask.type() != CV_8UC1 || mask.size() != image.size()) {
        return false;
    }
    if (!(tolerance > 0) || !std::isfinite(tolerance)) {
        tolerance = kDefaultTolerance;
    }
    // A NaN no-data value equals no cell: NaN cells are gaps whatever the value.
    auto isGap = [noData](float v) { return v != v || v == noData; };
    Workspace& ws = *m_work;

    // The cells told apart (outside the area, valid, gap) in a map of the image with a border of
    // two cells outside, the box of the gaps and whether the area holds any valid cell: bands of
    // rows in parallel, each with its own answer.
    const int64_t s = image.cols + 2 * kBorder;
    auto at = [&](int x, int y) { return (int64_t(y) + kBorder) * s + x + kBorder; };
    std::vector<uint8_t>& classes = ws.classes;
    classes.resize(size_t(s * (image.rows + 2 * kBorder)));
    std::fill(classes.begin(), classes.begin() + at(-kBorder, 0), kOutside);
    std::fill(classes.begin() + at(-kBorder, image.rows), classes.end(), kOutside);
    struct Band {
        int x0 = INT_MAX, y0 = INT_MAX, x1 = -1, y1 = -1;
        bool anySource = false;
    };
    std::vector<Band> bands(size_t((image.rows + kRowBand - 1) / kRowBand));
    ForRows(image.rows, [&](int first, int end) {
        Band& b = bands[size_t(first / kRowBand)];
        for (int y = first; y < end; ++y) {
            const float* v = image.ptr<float>(y);
            const uint8_t* m = mask.ptr<uint8_t>(y);
            uint8_t* c = classes.data() + at(0, y);
            std::fill(c - kBorder, c, kOutside);
            std::fill(c + image.cols, c + image.cols + kBorder, kOutside);
            ClassifyRow(v, m, noData, image.cols, c);
            b.anySource = b.anySource || std::memchr(c, kFixed, size_t(image.cols));
            const void* gap = std::memchr(c, kGap, size_t(image.cols));
            if (gap) {
                b.x0 = std::min(b.x0, int(static_cast<const uint8_t*>(gap) - c));
                b.x1 = std::max(b.x1,
                                int(static_cast<const uint8_t*>(memrchr(c, kGap, size_t(image.cols))) - c));
                b.y0 = std::min(b.y0, y);
                b.y1 = y;
            }
        }
    });
    Band all;
    for (const Band& b : bands) {
        all.x0 = std::min(all.x0, b.x0);
        all.y0 = std::min(all.y0, b.y0);
        all.x1 = std::max(all.x1, b.x1);
        all.y1 = std::max(all.y1, b.y1);
        all.anySource = all.anySource || b.anySource;
    }
    if (!all.anySource) {
        return false;
    }
    filled->rowStart.assign(size_t(image.rows) + 1, 0);
    if (all.x1 < 0) {
        return true;
    }
    // The box of the gaps with a margin: every gap and the cells around it.
    const cv::Rect box = cv::Rect(cv::Point(all.x0 - kMargin, all.y0 - kMargin),
                                  cv::Point(all.x1 + kMargin + 1, all.y1 + kMargin + 1)) &
                         cv::Rect(0, 0, image.cols, image.rows);

    // Gaps that no path through the area links to a valid cell stay no data: each gap linked side
    // by side is reached when a cell of it touches a valid cell side by side.
    const int64_t side[4] = {-1, 1, -s, s};
    for (int y = box.y; y < box.y + box.height; ++y) {
        uint8_t* row = classes.data() + at(box.x, y);
        for (uint8_t* p = row;
             (p = static_cast<uint8_t*>(std::memchr(p, kGap, size_t(row + box.width - p))));) {
            const int64_t seed = p - classes.data();
            ws.queue.assign(1, seed);
            classes[size_t(seed)] = kComponent;
            bool reached = false;
            for (size_t q = 0; q < ws.queue.size(); ++q) {
                for (int64_t d : side) {
                    const int64_t j = ws.queue[q] + d;
                    reached = reached || classes[size_t(j)] == kFixed;
                    if (classes[size_t(j)] == kGap) {
                        classes[size_t(j)] = kComponent;
                        ws.queue.push_back(j);
                    }
                }
            }
            for (int64_t i : ws.queue) {
                classes[size_t(i)] = reached ? kReached : kOutside;
            }
        }
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
    for (int y = box.y; y < box.y + box.height; ++y) {
        uint8_t* row = classes.data() + at(box.x, y);
        for (uint8_t* p = row;
             (p = static_cast<uint8_t*>(std::memchr(p, kReached, size_t(row + box.width - p))));) {
            const cv::Point seed(box.x + int(p - row), y);
            const size_t first = ws.regionCells.size();
            ws.regionStart.push_back(first);
            *p = kRegion;
            ws.regionCells.push_back(seed);
            cv::Point low = seed, high = seed;
            for (size_t q = first; q < ws.regionCells.size(); ++q) {
                const cv::Point c = ws.regionCells[q];
                low = cv::Point(std::min(low.x, c.x), std::min(low.y, c.y));
                high = cv::Point(std::max(high.x, c.x), std::max(high.y, c.y));
                for (const auto& d : kReach) {
                    uint8_t& j = classes[size_t(at(c.x + d[0], c.y + d[1]))];
                    if (j == kReached) {
                        j = kRegion;
                        ws.regionCells.emplace_back(c.x + d[0], c.y + d[1]);
                    }
                }
            }
            ws.regionBoxes.push_back(
                cv::Rect(low - cv::Point(kMargin, kMargin), high + cv::Point(kMargin + 1, kMargin + 1)) &
                cv::Rect(0, 0, image.cols, image.rows));
        }
    }
    ws.regionStart.push_back(ws.regionCells.size());
    const size_t found = ws.regionCells.size();
    ws.rows.resize(found);
    ws.columns.resize(found);
    ws.heights.resize(found);

    auto solveRegion = [&](SolveSpace& space, size_t region) {
        // The region's box: its own gaps, the valid cells of the area, every other cell outside
        // (the other regions' gaps lie beyond the reach of this one's equations).
        const cv::Rect sub = ws.regionBoxes[region];
        Level& L0 = space.levels[0];
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
            const cv::Point c = ws.regionCells[k];
            L0.state[size_t(L0.Index(c.x - sub.x, c.y - sub.y))] = kGap;
        }
        Solve(space, m_tension, tolerance);
        for (int i : L0.cells) {
            space.x[size_t(i)] = float(space.x[size_t(i)] + subReference);
        }
        HoldGapsToTheirRims(L0, space.x, image, sub, isGap, &space.held);
        size_t k = ws.regionStart[region];
        for (size_t n = 0; n < L0.cells.size(); ++n, ++k) {
            ws.rows[k] = sub.y + L0.where[n].y;
            ws.columns[k] = sub.x + L0.where[n].x;
            ws.heights[k] = space.x[size_t(L0.cells[n])];
        }
    };
    // Regions wide enough to share their own steps among the threads are solved one after the
    // other; the others side by side, each on a solve space of its own. A region's heights depend
    // on its cells alone, so the result does not depend on the number of threads.
    std::vector<size_t> small;
    {
        std::unique_ptr<SolveSpace> space = ws.Take();
        for (size_t region = 0; region + 1 < ws.regionStart.size(); ++region) {
            if (ws.regionStart[region + 1] - ws.regionStart[region] >= kParallelFrom) {
                solveRegion(*space, region);
            } else {
                small.push_back(region);
            }
        }
        ws.Give(std::move(space));
    }
    cv::parallel_for_(cv::Range(0, int(small.size())), [&](const cv::Range& r) {
        std::unique_ptr<SolveSpace> space = ws.Take();
        for (int k = r.start; k < r.end; ++k) {
            solveRegion(*space, small[size_t(k)]);
        }
        ws.Give(std::move(space));
    });

    // The filled cells row by row.
    for (int32_t row : ws.rows) {
        ++filled->rowStart[size_t(row) + 1];
    }
    for (size_t r = 1; r < filled->rowStart.size(); ++r) {
        filled->rowStart[r] += filled->rowStart[r - 1];
    }
    filled->columns.resize(found);
    filled->heights.resize(found);
    std::vector<size_t> next(filled->rowStart.begin(), filled->rowStart.end() - 1);
    for (size_t k = 0; k < found; ++k) {
        const size_t to = next[size_t(ws.rows[k])]++;
        filled->columns[to] = ws.columns[k];
        filled->heights[to] = ws.heights[k];
    }
    return true;
}

cv::Mat CGridGaps::Process(const cv::Mat& image, const cv::Mat& mask, float noData, double tolerance) {
    Workspace& ws = *m_work;
    if (!Fill(image, mask, noData, tolerance, &ws.cells)) {
        return cv::Mat();
    }
    cv::Mat result;
    if (ws.lastResult.u && ws.lastResult.u->refcount == 1 && ws.lastResult.size() == image.size()) {
        result = ws.lastResult;
    }
    image.copyTo(result);
    ws.lastResult = result;
    for (int y = 0; y < image.rows; ++y) {
        float* row = result.ptr<float>(y);
        for (size_t k = ws.cells.rowStart[size_t(y)]; k < ws.cells.rowStart[size_t(y) + 1]; ++k) {
            row[ws.cells.columns[k]] = ws.cells.heights[k];
        }
    }
    return result;
}
