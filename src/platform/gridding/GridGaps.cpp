#include "platform/gridding/GridGaps.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <vector>

// The gap cells form one linear system: each is the mean of its neighbours inside the area, the
// valid cells being fixed values. It is solved by conjugate gradients, preconditioned by one
// multigrid cycle: cells are merged two by two into coarser grids whose equations are the sums
// of the finer ones, so a wide gap is smoothed out on a coarse grid in a few steps. The cycle is
// symmetric (red-black sweeps in mirrored order), as conjugate gradients need. Every parallel
// loop either writes disjoint cells from values it does not write, or sums in fixed blocks, so
// the result does not depend on the number of threads.
namespace {

constexpr int kMaxIterations = 200;
constexpr size_t kCoarsestCells = 16;
constexpr int kCoarsestSweeps = 20;
constexpr double kDefaultTolerance = 0.01;
// The coarse correction is scaled up: merged cells underestimate how far a smooth error reaches,
// and the scaled cycle (still symmetric) roughly halves the iterations.
constexpr double kCoarseScale = 1.5;
constexpr size_t kBlock = 4096;

// The equations of one grid: for active cell i,
//   diag[i] * e[i] - sum over its four neighbours k of weight[i][k] * e[nbr[i][k]] = rhs[i].
struct Level {
    int w = 0, h = 0;
    std::vector<int32_t> cellOf;  // active index -> grid cell
    std::vector<double> diag;
    std::vector<std::array<int32_t, 4>> nbr;  // left, right, up, down; -1 for none
    std::vector<std::array<float, 4>> weight;
    std::vector<int32_t> parent;       // active index on the next coarser level
    std::vector<int32_t> colour[2];    // active indices by checkerboard colour
    std::vector<double> rhs, e, work;  // the cycle's work space
    size_t Size() const { return cellOf.size(); }

    void Reset(int width, int height) {
        w = width;
        h = height;
        cellOf.clear();
        colour[0].clear();
        colour[1].clear();
    }
    void Allocate() {
        diag.assign(Size(), 0.0);
        nbr.assign(Size(), {-1, -1, -1, -1});
        weight.assign(Size(), {0, 0, 0, 0});
    }
    void Colour() {
        for (size_t i = 0; i < Size(); ++i) {
            colour[((cellOf[i] % w) + (cellOf[i] / w)) & 1].push_back(int32_t(i));
        }
    }
};

template <class Body>
void ForBlocks(size_t n, const Body& body) {
    cv::parallel_for_(cv::Range(0, int((n + kBlock - 1) / kBlock)), [&](const cv::Range& r) {
        for (int k = r.start; k < r.end; ++k) {
            body(size_t(k), size_t(k) * kBlock, std::min(n, size_t(k + 1) * kBlock));
        }
    });
}

// The next coarser grid: each cell sums the equations of its (up to four) children.
void Coarsen(Level* fine, Level* c, std::vector<int32_t>* at) {
    c->Reset((fine->w + 1) / 2, (fine->h + 1) / 2);
    at->assign(size_t(c->w) * c->h, -1);
    fine->parent.resize(fine->Size());
    for (size_t i = 0; i < fine->Size(); ++i) {
        const int cell = fine->cellOf[i];
        const int coarse = ((cell / fine->w) / 2) * c->w + (cell % fine->w) / 2;
        int32_t& index = (*at)[size_t(coarse)];
        if (index < 0) {
            index = int32_t(c->cellOf.size());
            c->cellOf.push_back(coarse);
        }
        fine->parent[i] = index;
    }
    c->Allocate();
    for (size_t i = 0; i < fine->Size(); ++i) {
        const size_t p = size_t(fine->parent[i]);
        c->diag[p] += fine->diag[i];
        for (size_t k = 0; k < 4; ++k) {
            const int32_t j = fine->nbr[i][k];
            if (j < 0) {
                continue;
            }
            const int32_t q = fine->parent[size_t(j)];
            if (size_t(q) == p) {
                c->diag[p] -= fine->weight[i][k];  // an edge inside the coarse cell
            } else {
                // Fine neighbours in different parents: the parents are neighbours the same way.
                c->nbr[p][k] = q;
                c->weight[p][k] += fine->weight[i][k];
            }
        }
    }
    c->Colour();
}

// out = A e on one level.
void Apply(const Level& L, const std::vector<double>& e, std::vector<double>& out) {
    ForBlocks(L.Size(), [&](size_t, size_t begin, size_t end) {
        for (size_t i = begin; i < end; ++i) {
            double s = L.diag[i] * e[i];
            for (size_t k = 0; k < 4; ++k) {
                if (L.nbr[i][k] >= 0) {
                    s -= L.weight[i][k] * e[size_t(L.nbr[i][k])];
                }
            }
            out[i] = s;
        }
    });
}

// One Gauss-Seidel half sweep over the cells of one colour, which read only the other colour.
void Sweep(Level& L, int colour) {
    const std::vector<int32_t>& cells = L.colour[colour];
    ForBlocks(cells.size(), [&](size_t, size_t begin, size_t end) {
        for (size_t c = begin; c < end; ++c) {
            const size_t i = size_t(cells[c]);
            if (L.diag[i] <= 0) {
                continue;
            }
            double s = L.rhs[i];
            for (size_t k = 0; k < 4; ++k) {
                if (L.nbr[i][k] >= 0) {
                    s += L.weight[i][k] * L.e[size_t(L.nbr[i][k])];
                }
            }
            L.e[i] = s / L.diag[i];
        }
    });
}

// e = (approximately) A^-1 rhs by one V-cycle from level l, on the level's own rhs and e; a
// symmetric linear operator.
void Cycle(std::vector<Level>& levels, size_t l, size_t count) {
    Level& L = levels[l];
    L.e.assign(L.Size(), 0.0);
    if (l + 1 == count) {
        for (int s = 0; s < 2 * kCoarsestSweeps; ++s) {
            Sweep(L, (s < kCoarsestSweeps ? s : s + 1) & 1);  // red, black, ..., black, red
        }
        return;
    }
    Sweep(L, 0);
    Sweep(L, 1);
    L.work.resize(L.Size());
    Apply(L, L.e, L.work);
    Level& C = levels[l + 1];
    C.rhs.assign(C.Size(), 0.0);
    for (size_t i = 0; i < L.Size(); ++i) {
        C.rhs[size_t(L.parent[i])] += L.rhs[i] - L.work[i];
    }
    Cycle(levels, l + 1, count);
    ForBlocks(L.Size(), [&](size_t, size_t begin, size_t end) {
        for (size_t i = begin; i < end; ++i) {
            L.e[i] += kCoarseScale * C.e[size_t(L.parent[i])];
        }
    });
    Sweep(L, 1);
    Sweep(L, 0);
}

// Summed in fixed blocks, so the result does not depend on the number of threads.
double Dot(const std::vector<double>& a, const std::vector<double>& b, std::vector<double>* parts) {
    parts->assign((a.size() + kBlock - 1) / kBlock, 0.0);
    ForBlocks(a.size(), [&](size_t block, size_t begin, size_t end) {
        double s = 0;
        for (size_t i = begin; i < end; ++i) {
            s += a[i] * b[i];
        }
        (*parts)[block] = s;
    });
    double s = 0;
    for (double p : *parts) {
        s += p;
    }
    return s;
}

}  // namespace

struct CGridGaps::Workspace {
    std::vector<Level> levels;
    std::vector<size_t> rowStart;
    std::vector<int32_t> at, reach, queue, renumber;
    std::vector<double> b, x, r, p, ap, parts;
    // The last image returned: once its caller has let it go, its buffer serves the next result.
    cv::Mat lastResult;
};

CGridGaps::CGridGaps() : m_work(std::make_unique<Workspace>()) {}
CGridGaps::~CGridGaps() = default;

cv::Mat CGridGaps::Process(const cv::Mat& image, const cv::Mat& mask, float noData, double tolerance) {
    if (image.empty() || image.type() != CV_32FC1 || mask.type() != CV_8UC1 || mask.size() != image.size()) {
        return cv::Mat();
    }
    if (!(tolerance > 0) || !std::isfinite(tolerance)) {
        tolerance = kDefaultTolerance;
    }
    const bool nanNoData = std::isnan(noData);
    const int w = image.cols, h = image.rows;
    auto isGap = [&](float v) { return std::isnan(v) || (!nanNoData && v == noData); };
    Workspace& ws = *m_work;
    if (ws.levels.empty()) {
        ws.levels.resize(1);
    }

    // The finest level: the gaps inside the area, row by row, with the fixed values around them.
    Level& L0 = ws.levels[0];
    L0.Reset(w, h);
    ws.rowStart.assign(size_t(h) + 1, 0);
    bool anySource = false;
    for (int y = 0; y < h; ++y) {
        ws.rowStart[size_t(y)] = L0.cellOf.size();
        const float* v = image.ptr<float>(y);
        const uint8_t* m = mask.ptr<uint8_t>(y);
        for (int x = 0; x < w; ++x) {
            if (m[x]) {
                if (isGap(v[x])) {
                    L0.cellOf.push_back(y * w + x);
                } else {
                    anySource = true;
                }
            }
        }
    }
    ws.rowStart[size_t(h)] = L0.cellOf.size();
    if (!anySource) {
        return cv::Mat();
    }
    cv::Mat result;
    if (ws.lastResult.u && ws.lastResult.u->refcount == 1 && ws.lastResult.size() == image.size()) {
        result = ws.lastResult;
    }
    image.copyTo(result);
    ws.lastResult = result;
    size_t n = L0.Size();
    if (n == 0) {
        return result;
    }
    L0.Allocate();
    std::vector<double>& b = ws.b;
    b.assign(n, 0.0);
    double fixedSum = 0, fixedCount = 0;
    for (int y = 0; y < h; ++y) {
        // Walks along the rows above and below to find the index of a gap cell there.
        size_t up = y > 0 ? ws.rowStart[size_t(y) - 1] : 0, down = y + 1 < h ? ws.rowStart[size_t(y) + 1] : 0;
        for (size_t i = ws.rowStart[size_t(y)]; i < ws.rowStart[size_t(y) + 1]; ++i) {
            const int x = L0.cellOf[i] % w;
            const int nx[4] = {x - 1, x + 1, x, x};
            const int ny[4] = {y, y, y - 1, y + 1};
            for (size_t k = 0; k < 4; ++k) {
                if (nx[k] < 0 || ny[k] < 0 || nx[k] >= w || ny[k] >= h || !mask.at<uint8_t>(ny[k], nx[k])) {
                    continue;  // outside the area: no part of the equation
                }
                L0.diag[i] += 1.0;
                const float value = image.at<float>(ny[k], nx[k]);
                if (!isGap(value)) {
                    b[i] += value;
                    fixedSum += value;
                    fixedCount += 1;
                    continue;
                }
                size_t j = k == 0 ? i - 1 : i + 1;
                if (k >= 2) {
                    size_t& walk = k == 2 ? up : down;
                    while (L0.cellOf[walk] < ny[k] * w + x) {
                        ++walk;
                    }
                    j = walk;
                }
                L0.nbr[i][k] = int32_t(j);
                L0.weight[i][k] = 1.0f;
            }
        }
    }

    // Breadth-first from the gap cells beside a valid one: how far the gaps reach from their
    // edges (a smooth error grows across a gap with about the square of its width), and which
    // gaps touch no valid cell at all (those stay no data).
    ws.reach.assign(n, -1);
    ws.queue.clear();
    for (size_t i = 0; i < n; ++i) {
        int inside = 0;
        for (int32_t j : L0.nbr[i]) {
            inside += j >= 0 ? 1 : 0;
        }
        if (L0.diag[i] > inside) {
            ws.reach[i] = 1;
            ws.queue.push_back(int32_t(i));
        }
    }
    for (size_t q = 0; q < ws.queue.size(); ++q) {
        for (int32_t j : L0.nbr[size_t(ws.queue[q])]) {
            if (j >= 0 && ws.reach[size_t(j)] < 0) {
                ws.reach[size_t(j)] = ws.reach[size_t(ws.queue[q])] + 1;
                ws.queue.push_back(j);
            }
        }
    }
    const double width = ws.queue.empty() ? 1.0 : 2.0 * ws.reach[size_t(ws.queue.back())];
    const double eps = tolerance / std::max(1.0, width * width / 10.0);
    if (ws.queue.size() < n) {
        // Drop the unreachable gaps (no reached cell neighbours one of them), in place.
        ws.renumber.assign(n, -1);
        size_t kept = 0;
        for (size_t i = 0; i < n; ++i) {
            ws.renumber[i] = ws.reach[i] >= 0 ? int32_t(kept++) : -1;
        }
        for (size_t i = 0; i < n; ++i) {
            const int32_t k = ws.renumber[i];
            if (k < 0) {
                continue;
            }
            L0.cellOf[size_t(k)] = L0.cellOf[i];
            L0.diag[size_t(k)] = L0.diag[i];
            L0.weight[size_t(k)] = L0.weight[i];
            b[size_t(k)] = b[i];
            for (size_t e = 0; e < 4; ++e) {
                const int32_t j = L0.nbr[i][e];
                L0.nbr[size_t(k)][e] = j >= 0 ? ws.renumber[size_t(j)] : -1;
            }
        }
        n = kept;
        L0.cellOf.resize(n);
        L0.diag.resize(n);
        L0.nbr.resize(n);
        L0.weight.resize(n);
        b.resize(n);
        if (n == 0) {
            return result;
        }
    }
    L0.Colour();
    size_t count = 1;
    while (ws.levels[count - 1].Size() > kCoarsestCells &&
           (ws.levels[count - 1].w > 1 || ws.levels[count - 1].h > 1)) {
        if (ws.levels.size() == count) {
            ws.levels.emplace_back();
        }
        Coarsen(&ws.levels[count - 1], &ws.levels[count], &ws.at);
        ++count;
    }

    // Preconditioned conjugate gradients from the mean of the fixed values around the gaps; stop
    // once no cell is further from the mean of its neighbours than eps.
    std::vector<double>&x = ws.x, &r = ws.r, &p = ws.p, &ap = ws.ap, &z = ws.levels[0].e;
    x.assign(n, fixedCount > 0 ? fixedSum / fixedCount : 0.0);
    r.resize(n);
    ap.resize(n);
    Level& top = ws.levels[0];
    Apply(top, x, ap);
    for (size_t i = 0; i < n; ++i) {
        r[i] = b[i] - ap[i];
    }
    top.rhs = r;
    Cycle(ws.levels, 0, count);
    p = z;
    double rz = Dot(r, z, &ws.parts);
    for (int it = 0; it < kMaxIterations; ++it) {
        ws.parts.assign((n + kBlock - 1) / kBlock, 0.0);
        ForBlocks(n, [&](size_t block, size_t begin, size_t end) {
            double m = 0;
            for (size_t i = begin; i < end; ++i) {
                m = std::max(m, std::fabs(r[i]) / top.diag[i]);
            }
            ws.parts[block] = m;
        });
        if (*std::max_element(ws.parts.begin(), ws.parts.end()) <= eps) {
            break;
        }
        Apply(top, p, ap);
        const double pap = Dot(p, ap, &ws.parts);
        if (!(pap > 0)) {
            break;
        }
        const double alpha = rz / pap;
        ForBlocks(n, [&](size_t, size_t begin, size_t end) {
            for (size_t i = begin; i < end; ++i) {
                x[i] += alpha * p[i];
                r[i] -= alpha * ap[i];
            }
        });
        top.rhs = r;
        Cycle(ws.levels, 0, count);
        const double rzNew = Dot(r, z, &ws.parts);
        if (!(rzNew > 0)) {
            break;  // converged to rounding
        }
        const double beta = rzNew / rz;
        rz = rzNew;
        ForBlocks(n, [&](size_t, size_t begin, size_t end) {
            for (size_t i = begin; i < end; ++i) {
                p[i] = z[i] + beta * p[i];
            }
        });
    }
    for (size_t i = 0; i < n; ++i) {
        result.at<float>(top.cellOf[i] / w, top.cellOf[i] % w) = float(x[i]);
    }
    return result;
}
