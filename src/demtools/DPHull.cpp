#include "demtools/DPHull.h"

#include <QFile>
#include <QFileInfo>

#include <gdal.h>
#include <ogr_api.h>
#include <ogr_geometry.h>

#include <algorithm>
#include <cmath>

#include "demtools/ShapefileFiles.h"
#include "platform/tools/SafeFile.h"
#include "raster/RasterIO.h"

namespace {

enum : int { kPushed = 0, kPoppedTop = 1, kPoppedBottom = 2 };

// Spans shorter than this many segments are scanned vertex by vertex; hulls of at most this many
// entries are scanned instead of bisected.
constexpr int kScanSpan = 8;

struct Vec {
    double x, y;
};

Vec At(const double* xy, int i) {
    return {xy[2 * i], xy[2 * i + 1]};
}

double Cross(Vec u, Vec v) {
    return u.x * v.y - u.y * v.x;
}

Vec Minus(Vec a, Vec b) {
    return {a.x - b.x, a.y - b.y};
}

// c lies strictly left of the directed line from a to b.
bool Left(Vec a, Vec b, Vec c) {
    return Cross(Minus(b, a), Minus(c, a)) > 0.0;
}

// The chord's measure of a vertex: its distance from the line through a and b times the chord's
// length, taken relative to a so that map coordinates keep their precision.
double Measure(Vec a, Vec b, Vec p) {
    return std::fabs(Cross(Minus(b, a), Minus(p, a)));
}

// Where a direction lies clockwise from a reference direction: 0 for [0, pi), 1 for [pi, 2 pi).
int Half(Vec reference, Vec v) {
    const double cross = Cross(reference, v);
    return cross < 0.0 || (cross == 0.0 && reference.x * v.x + reference.y * v.y > 0.0) ? 0 : 1;
}

// The clockwise angle from the reference to u is below that to v.
bool ClockwiseBefore(Vec reference, Vec u, Vec v) {
    const int hu = Half(reference, u);
    const int hv = Half(reference, v);
    return hu != hv ? hu < hv : Cross(u, v) < 0.0;
}

}  // namespace

// ---- CPathHull

void CPathHull::Init(int n) {
    m_n = n;
    m_op.assign(size_t(3 * n), 0);
    m_elt.assign(size_t(2 * n), 0);
    m_helt.assign(size_t(3 * n), 0);
    m_top = m_bot = m_n;
    m_hp = -1;
}

void CPathHull::Push(int p) {
    m_elt[size_t(++m_top)] = p;
    m_elt[size_t(--m_bot)] = p;
    m_helt[size_t(++m_hp)] = p;
    m_op[size_t(m_hp)] = kPushed;
}

void CPathHull::PopTop() {
    m_helt[size_t(++m_hp)] = m_elt[size_t(m_top--)];
    m_op[size_t(m_hp)] = kPoppedTop;
}

void CPathHull::PopBot() {
    m_helt[size_t(++m_hp)] = m_elt[size_t(m_bot++)];
    m_op[size_t(m_hp)] = kPoppedBottom;
}

void CPathHull::Start(const double* /*xy*/, int tag, int second) {
    m_elt[size_t(m_n)] = tag;
    m_top = m_n + 1;
    m_bot = m_n - 1;
    m_elt[size_t(m_top)] = m_elt[size_t(m_bot)] = second;
    m_hp = 0;
    m_helt[0] = second;
    m_op[0] = kPushed;
}

void CPathHull::Add(const double* xy, int p) {
    const Vec v = At(xy, p);
    if (m_top - m_bot == 2) {
        // Two points so far: a third on their line either lies between them or moves an end.
        const Vec e0 = At(xy, m_elt[size_t(m_bot + 1)]);
        const Vec e1 = At(xy, m_elt[size_t(m_top)]);
        if (Cross(Minus(e1, e0), Minus(v, e0)) == 0.0) {
            const Vec along = Minus(e1, e0);
            const double beyondEnd = (v.x - e1.x) * along.x + (v.y - e1.y) * along.y;
            const double beforeStart = (e0.x - v.x) * along.x + (e0.y - v.y) * along.y;
            if ((v.x == e1.x && v.y == e1.y) || (v.x == e0.x && v.y == e0.y)) {
                return;
            }
            if ((along.x == 0.0 && along.y == 0.0) || beyondEnd > 0.0) {
                PopTop();
                PopBot();
                Push(p);
            } else if (beforeStart > 0.0) {
                PopTop();
                PopTop();
                Push(p);
            }
            return;
        }
    }
    bool top = Left(At(xy, m_elt[size_t(m_top - 1)]), At(xy, m_elt[size_t(m_top)]), v);
    bool bottom = Left(At(xy, m_elt[size_t(m_bot)]), At(xy, m_elt[size_t(m_bot + 1)]), v);
    if (!top && !bottom) {
        return;  // inside the hull
    }
    while (top && m_top - m_bot > 1) {
        PopTop();
        top = Left(At(xy, m_elt[size_t(m_top - 1)]), At(xy, m_elt[size_t(m_top)]), v);
    }
    while (bottom && m_top - m_bot > 1) {
        PopBot();
        bottom = Left(At(xy, m_elt[size_t(m_bot)]), At(xy, m_elt[size_t(m_bot + 1)]), v);
    }
    Push(p);
}

void CPathHull::RollBackTo(int p) {
    while (m_hp > 0 && !(m_op[size_t(m_hp)] == kPushed && m_helt[size_t(m_hp)] == p)) {
        switch (m_op[size_t(m_hp)]) {
            case kPushed:
                --m_top;
                ++m_bot;
                break;
            case kPoppedTop:
                m_elt[size_t(++m_top)] = m_helt[size_t(m_hp)];
                break;
            case kPoppedBottom:
                m_elt[size_t(--m_bot)] = m_helt[size_t(m_hp)];
                break;
        }
        --m_hp;
    }
}

int CPathHull::Farthest(const double* xy, int a, int b, double* distance) const {
    *distance = 0.0;
    if (m_top < m_bot) {
        return -1;
    }
    const Vec va = At(xy, a);
    const Vec vb = At(xy, b);
    const int entries = m_top - m_bot;
    if (entries <= kScanSpan) {
        int best = m_elt[size_t(m_bot)];
        double bestMeasure = -1.0;
        for (int k = m_bot; k <= m_top; ++k) {
            const double measure = Measure(va, vb, At(xy, m_elt[size_t(k)]));
            if (measure > bestMeasure) {
                bestMeasure = measure;
                best = m_elt[size_t(k)];
            }
        }
        *distance = bestMeasure;
        return best;
    }
    // Bottom to top runs clockwise round the hull, so the edges' directions turn clockwise; the
    // vertex farthest on either side of the chord is where they pass the chord's direction (and
    // its reverse). Both are found by bisection over the edges.
    const Vec chord = Minus(vb, va);
    const auto vertex = [&](int k) { return At(xy, m_elt[size_t(m_bot + k)]); };
    const auto edge = [&](int k) { return Minus(vertex(k + 1), vertex(k)); };
    const Vec reference = edge(0);
    const auto firstPast = [&](Vec direction) {
        int lo = 0;
        int hi = entries;
        while (lo < hi) {
            const int mid = lo + (hi - lo) / 2;
            if (ClockwiseBefore(reference, edge(mid), direction)) {
                lo = mid + 1;
            } else {
                hi = mid;
            }
        }
        return lo == entries ? 0 : lo;
    };
    const int high = firstPast(chord);
    const int low = firstPast({-chord.x, -chord.y});
    const double highMeasure = Measure(va, vb, vertex(high));
    const double lowMeasure = Measure(va, vb, vertex(low));
    if (lowMeasure > highMeasure) {
        *distance = lowMeasure;
        return m_elt[size_t(m_bot + low)];
    }
    *distance = highMeasure;
    return m_elt[size_t(m_bot + high)];
}

// ---- CDPHull

CDPHull::CDPHull(const double* xy, int count, double tolerance)
    : m_count(count), m_xy(xy), m_tolerance(std::max(0.0, tolerance)) {
    m_kept.reserve(size_t(std::max(count, 0)));
    m_right.Init(count + 1);
    m_left.Init(count + 1);
}

void CDPHull::BuildHull(int i, int j) {
    if (j - i < 2) {
        return;
    }
    m_tag = i + (j - i) / 2;
    m_left.Start(m_xy, m_tag, m_tag - 1);
    for (int k = m_tag - 2; k >= i; --k) {
        m_left.Add(m_xy, k);
    }
    m_right.Start(m_xy, m_tag, m_tag + 1);
    for (int k = m_tag + 2; k <= j; ++k) {
        m_right.Add(m_xy, k);
    }
}

bool CDPHull::FarEnough(int i, int j, double distance) const {
    const Vec chord = Minus(At(m_xy, j), At(m_xy, i));
    return distance * distance > m_tolerance * (chord.x * chord.x + chord.y * chord.y);
}

int CDPHull::FindSplit(int i, int j, bool* leftHull, double* distance) const {
    *leftHull = false;
    *distance = 0.0;
    const Vec a = At(m_xy, i);
    const Vec b = At(m_xy, j);
    int split = -1;
    if (j - i < kScanSpan) {
        for (int k = i + 1; k < j; ++k) {
            const double measure = Measure(a, b, At(m_xy, k));
            if (split < 0 || measure > *distance) {
                split = k;
                *distance = measure;
            }
        }
        return split;
    }
    double leftDistance = 0.0;
    double rightDistance = 0.0;
    const int left = m_left.Farthest(m_xy, i, j, &leftDistance);
    const int right = m_right.Farthest(m_xy, i, j, &rightDistance);
    if (leftDistance > rightDistance) {
        *leftHull = true;
        *distance = leftDistance;
        split = left;
    } else {
        *distance = rightDistance;
        split = right;
    }
    // The chord's own ends are never split at (they measure 0).
    return split > i && split < j ? split : -1;
}

int CDPHull::Simplify(int i, int j) {
    // The spans still to finish, innermost last, by their right ends; the span in work runs from
    // `from` to the last of them. A split works on its left part first, then continues with the
    // right part, so the kept vertices come out in order.
    std::vector<int> ends{j};
    int from = i;
    for (;;) {
        const int to = ends.back();
        bool leftHull = false;
        double distance = 0.0;
        const int split = FindSplit(from, to, &leftHull, &distance);
        if (split >= 0 && FarEnough(from, to, distance)) {
            if (split - from >= kScanSpan) {
                // The later hull, rolled back to the split vertex, with the earlier one is the
                // pair of hulls of the left part.
                if (to - from >= kScanSpan && !leftHull && split != m_tag) {
                    m_right.RollBackTo(split);
                } else {
                    BuildHull(from, split);
                }
            }
            ends.push_back(split);
            continue;
        }
        ends.pop_back();
        if (ends.empty()) {
            return to;
        }
        m_kept.push_back(to);
        from = to;
        if (ends.back() - from >= kScanSpan) {
            BuildHull(from, ends.back());
        }
    }
}

std::vector<int> SimplifyLine(const double* xy, int count, double tolerance) {
    std::vector<int> kept;
    if (count <= 2) {
        for (int k = 0; k < count; ++k) {
            kept.push_back(k);
        }
        return kept;
    }
    CDPHull hull(xy, count, tolerance);
    hull.BuildHull(0, count - 1);
    hull.m_kept.push_back(0);
    hull.m_kept.push_back(hull.Simplify(0, count - 1));
    return hull.m_kept;
}

// ---- The shapefile

namespace {

// The line simplified (more than 4 vertices) or copied, every vertex with the first one's Z; a
// closed line loses its closing vertex for the simplification and gets it back afterwards.
OGRGeometryH SimplifiedLine(OGRGeometryH line, double tolerance, std::vector<double>& xy) {
    const int points = OGR_G_GetPointCount(line);
    const double z = OGR_G_GetZ(line, 0);
    OGRGeometryH simplified = OGR_G_CreateGeometry(wkbLineString25D);
    if (points <= 4) {
        for (int k = 0; k < points; ++k) {
            OGR_G_AddPoint(simplified, OGR_G_GetX(line, k), OGR_G_GetY(line, k), z);
        }
        return simplified;
    }
    const bool closed = OGRGeometry::FromHandle(line)->toLineString()->get_IsClosed();
    const int count = closed ? points - 1 : points;
    xy.resize(size_t(2 * count));
    for (int k = 0; k < count; ++k) {
        xy[size_t(2 * k)] = OGR_G_GetX(line, k);
        xy[size_t(2 * k + 1)] = OGR_G_GetY(line, k);
    }
    for (int k : SimplifyLine(xy.data(), count, tolerance)) {
        OGR_G_AddPoint(simplified, xy[size_t(2 * k)], xy[size_t(2 * k + 1)], z);
    }
    if (closed) {
        OGR_G_AddPoint(simplified, xy[0], xy[1], z);
    }
    return simplified;
}

}  // namespace

int SimplifyContourShapefile(const QString& source, const QString& target, double tolerance) {
    if (!(tolerance > 0.0)) {
        return 0;
    }
    OGRSFDriverH driver = OGRGetDriverByName("ESRI Shapefile");
    if (!driver) {
        return 0;
    }
    OGRDataSourceH in = OGROpen(QFile::encodeName(source).constData(), FALSE, nullptr);
    if (!in) {
        return 0;
    }
    OGRLayerH inLayer = OGR_DS_GetLayer(in, 0);
    const OGRwkbGeometryType type = inLayer ? OGR_L_GetGeomType(inLayer) : wkbUnknown;
    if (!inLayer || wkbFlatten(type) != wkbLineString) {
        GDALClose(static_cast<GDALDatasetH>(in));
        return 0;
    }
    // Written under a temporary name beside the target, which it replaces as one set once complete.
    const QString written = kv::TemporaryPathFor(target) + QStringLiteral(".shp");
    OGRDataSourceH out = OGR_Dr_CreateDataSource(driver, QFile::encodeName(written).constData(), nullptr);
    if (!out) {
        GDALClose(static_cast<GDALDatasetH>(in));
        RemoveShapefile(written);
        return 0;
    }
    OGRLayerH outLayer =
        OGR_DS_CreateLayer(out, OGR_L_GetName(inLayer), OGR_L_GetSpatialRef(inLayer), type, nullptr);
    if (!outLayer) {
        GDALClose(static_cast<GDALDatasetH>(out));
        GDALClose(static_cast<GDALDatasetH>(in));
        RemoveShapefile(written);
        return 0;
    }
    bool ok = true;
    std::vector<double> xy;
    OGR_L_ResetReading(inLayer);
    while (ok) {
        OGRFeatureH feature = OGR_L_GetNextFeature(inLayer);
        if (!feature) {
            break;
        }
        OGRGeometryH line = OGR_F_GetGeometryRef(feature);
        const int points = line ? OGR_G_GetPointCount(line) : 0;
        if (points > 0 && wkbFlatten(OGR_G_GetGeometryType(line)) == wkbLineString) {
            OGRGeometryH simplified = SimplifiedLine(line, tolerance, xy);
            OGRFeatureH copy = OGR_F_Create(OGR_L_GetLayerDefn(outLayer));
            OGR_F_SetGeometryDirectly(copy, simplified);
            ok = OGR_L_CreateFeature(outLayer, copy) == OGRERR_NONE;
            OGR_F_Destroy(copy);
        }
        OGR_F_Destroy(feature);
    }
    ok = kv::CloseDataset(static_cast<GDALDatasetH>(out)) && ok;
    GDALClose(static_cast<GDALDatasetH>(in));
    if (!ok) {
        RemoveShapefile(written);
        return 0;
    }
    return PlaceShapefile(written, target) ? 1 : 0;
}
