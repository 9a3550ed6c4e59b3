#include "platform/geometry/Pgon.h"

#include <algorithm>
#include <cmath>
#include <memory>

#include <geos_c.h>

namespace {

// Walks the ring's edges for the ray from (x, y) towards +x: answers true when the point lies on
// an edge or vertex, otherwise flips `inside` once for every edge the ray crosses. Both decisions
// use the same cross product, so they never contradict each other; with integer coordinates (cell
// positions) the test is exact.
template <class VertexAt>
bool RingParity(int n, VertexAt vertex, double x, double y, bool& inside) {
    if (n < 3)
        return false;
    Wml::Point2 prev = vertex(n - 1);
    for (int i = 0; i < n; ++i) {
        Wml::Point2 cur = vertex(i);
        double cross = (prev.X() - cur.X()) * (y - cur.Y()) - (x - cur.X()) * (prev.Y() - cur.Y());
        if (cross == 0.0 && x >= std::min(cur.X(), prev.X()) && x <= std::max(cur.X(), prev.X()) &&
            y >= std::min(cur.Y(), prev.Y()) && y <= std::max(cur.Y(), prev.Y())) {
            return true;
        }
        if ((cur.Y() > y) != (prev.Y() > y) && (cross > 0.0) == (prev.Y() > cur.Y()))
            inside = !inside;
        prev = cur;
    }
    return false;
}

// Area enclosed by a ring, taken relative to its first vertex so that map coordinates of millions
// of metres keep their precision.
double RingArea(const std::vector<Wml::Point2>& ring) {
    if (ring.size() < 3)
        return 0.0;
    const Wml::Point2& o = ring[0];
    double twice = 0.0;
    for (size_t i = 1; i + 1 < ring.size(); ++i) {
        Wml::Vector2 a = ring[i] - o, b = ring[i + 1] - o;
        twice += a.X() * b.Y() - a.Y() * b.X();
    }
    return std::fabs(twice) / 2.0;
}

// One GEOS context for this thread; the program works on one thread, so that is one context.
class GeosContext {
public:
    GeosContext() : m_handle(GEOS_init_r()) {}
    ~GeosContext() { GEOS_finish_r(m_handle); }
    GeosContext(const GeosContext&) = delete;
    GeosContext& operator=(const GeosContext&) = delete;
    GEOSContextHandle_t Handle() const { return m_handle; }

private:
    GEOSContextHandle_t m_handle;
};

GEOSContextHandle_t Geos() {
    thread_local GeosContext context;
    return context.Handle();
}

struct GeomFree {
    void operator()(GEOSGeometry* g) const { GEOSGeom_destroy_r(Geos(), g); }
};
using Geom = std::unique_ptr<GEOSGeometry, GeomFree>;

}  // namespace

// Conversions between contour sets and GEOS geometries. GEOS works on coordinates relative to an
// origin near the data (an integer point, so that integer cell coordinates stay exact), which
// keeps the overlay's arithmetic well inside double precision for map coordinates.
class PgonGeos {
public:
    explicit PgonGeos(Wml::Point2 origin) : m_origin(origin) {}

    static Wml::Point2 OriginOf(const CPgon& a, const CPgon& b) {
        for (const CPgon* p : {&a, &b}) {
            for (const CPgon::Contour& c : p->m_contours) {
                if (!c.points.empty()) {
                    return Wml::Point2(std::floor(c.points[0].X()), std::floor(c.points[0].Y()));
                }
            }
        }
        return Wml::Point2();
    }

    // The region the set covers, as a valid polygonal geometry.
    Geom ToGeos(const CPgon& set) const {
        if (set.m_valid) {
            std::vector<GEOSGeometry*> polygons;
            for (size_t i = 0; i < set.m_contours.size();) {
                GEOSGeometry* shell = Ring(set.m_contours[i++].points);
                std::vector<GEOSGeometry*> holes;
                for (; i < set.m_contours.size() && set.m_contours[i].hole; ++i) {
                    if (GEOSGeometry* hole = Ring(set.m_contours[i].points))
                        holes.push_back(hole);
                }
                GEOSGeometry* poly =
                    shell ? GEOSGeom_createPolygon_r(Geos(), shell, holes.data(), unsigned(holes.size()))
                          : nullptr;
                if (poly) {
                    polygons.push_back(poly);
                } else if (!shell) {
                    for (GEOSGeometry* h : holes)
                        GEOSGeom_destroy_r(Geos(), h);
                }
            }
            Geom multi(GEOSGeom_createCollection_r(Geos(), GEOS_MULTIPOLYGON, polygons.data(),
                                                   unsigned(polygons.size())));
            if (multi && GEOSisValid_r(Geos(), multi.get()) == 1)
                return multi;
        }
        // Even-odd over the contours: each contour made valid by itself, then their symmetric
        // difference.
        Geom region;
        for (const CPgon::Contour& c : set.m_contours) {
            GEOSGeometry* ring = Ring(c.points);
            if (!ring)
                continue;
            Geom piece(GEOSGeom_createPolygon_r(Geos(), ring, nullptr, 0));
            if (piece && GEOSisValid_r(Geos(), piece.get()) != 1) {
                piece = Polygonal(Geom(GEOSMakeValid_r(Geos(), piece.get())));
            }
            if (!piece)
                return nullptr;
            region = region ? Polygonal(Geom(GEOSSymDifference_r(Geos(), region.get(), piece.get())))
                            : std::move(piece);
            if (!region)
                return nullptr;
        }
        return region ? std::move(region) : Geom(GEOSGeom_createEmptyPolygon_r(Geos()));
    }

    // The polygons of a GEOS result as a valid set: each outer contour followed by its holes.
    CPgon FromGeos(const GEOSGeometry* g) const {
        CPgon set;
        if (!g)
            return set;
        int n = GEOSGetNumGeometries_r(Geos(), g);
        for (int i = 0; i < n; ++i) {
            const GEOSGeometry* poly = GEOSGetGeometryN_r(Geos(), g, i);
            double area = 0.0;
            if (GEOSGeomTypeId_r(Geos(), poly) != GEOS_POLYGON || GEOSArea_r(Geos(), poly, &area) != 1 ||
                !(area > 0.0)) {
                continue;
            }
            set.m_contours.push_back({Vertices(GEOSGetExteriorRing_r(Geos(), poly)), false});
            int holes = GEOSGetNumInteriorRings_r(Geos(), poly);
            for (int h = 0; h < holes; ++h) {
                set.m_contours.push_back({Vertices(GEOSGetInteriorRingN_r(Geos(), poly, h)), true});
            }
        }
        return set;
    }

    // Only the areal part of a geometry (overlays and repairs may add lines and points).
    static Geom Polygonal(Geom g) {
        if (!g)
            return g;
        int type = GEOSGeomTypeId_r(Geos(), g.get());
        if (type == GEOS_POLYGON || type == GEOS_MULTIPOLYGON)
            return g;
        std::vector<GEOSGeometry*> parts;
        int n = type == GEOS_GEOMETRYCOLLECTION ? GEOSGetNumGeometries_r(Geos(), g.get()) : 0;
        for (int i = 0; i < n; ++i) {
            const GEOSGeometry* part = GEOSGetGeometryN_r(Geos(), g.get(), i);
            int partType = GEOSGeomTypeId_r(Geos(), part);
            if (partType == GEOS_POLYGON) {
                parts.push_back(GEOSGeom_clone_r(Geos(), part));
            } else if (partType == GEOS_MULTIPOLYGON) {
                int m = GEOSGetNumGeometries_r(Geos(), part);
                for (int k = 0; k < m; ++k)
                    parts.push_back(GEOSGeom_clone_r(Geos(), GEOSGetGeometryN_r(Geos(), part, k)));
            }
        }
        return Geom(
            GEOSGeom_createCollection_r(Geos(), GEOS_MULTIPOLYGON, parts.data(), unsigned(parts.size())));
    }

private:
    // A closed ring of the contour, or null when it has fewer than three vertices.
    GEOSGeometry* Ring(const std::vector<Wml::Point2>& points) const {
        if (points.size() < 3)
            return nullptr;
        std::vector<double> xy;
        xy.reserve(2 * points.size() + 2);
        for (const Wml::Point2& p : points) {
            xy.push_back(p.X() - m_origin.X());
            xy.push_back(p.Y() - m_origin.Y());
        }
        xy.push_back(xy[0]);
        xy.push_back(xy[1]);
        GEOSCoordSequence* seq =
            GEOSCoordSeq_copyFromBuffer_r(Geos(), xy.data(), unsigned(xy.size() / 2), 0, 0);
        return seq ? GEOSGeom_createLinearRing_r(Geos(), seq) : nullptr;
    }

    std::vector<Wml::Point2> Vertices(const GEOSGeometry* ring) const {
        std::vector<Wml::Point2> points;
        const GEOSCoordSequence* seq = ring ? GEOSGeom_getCoordSeq_r(Geos(), ring) : nullptr;
        unsigned int size = 0;
        if (!seq || GEOSCoordSeq_getSize_r(Geos(), seq, &size) != 1 || size < 2)
            return points;
        std::vector<double> xy(2 * size);
        if (GEOSCoordSeq_copyToBuffer_r(Geos(), seq, xy.data(), 0, 0) != 1)
            return points;
        points.reserve(size - 1);  // the closing vertex repeats the first
        for (unsigned int i = 0; i + 1 < size; ++i) {
            points.emplace_back(xy[2 * i] + m_origin.X(), xy[2 * i + 1] + m_origin.Y());
        }
        return points;
    }

    Wml::Point2 m_origin;
};

CPgon::CPgon(const Wml::Point2* points, int count) {
    AddContour(points, count);
}

CPgon::CPgon(const cv::Point* points, int count) {
    std::vector<Wml::Point2> pts;
    for (int i = 0; points && i < count; ++i)
        pts.emplace_back(points[i].x, points[i].y);
    AddContour(pts.data(), int(pts.size()));
}

void CPgon::AddContour(const Wml::Point2* points, int count, bool hole) {
    if (!points || count <= 0)
        return;
    m_contours.push_back({std::vector<Wml::Point2>(points, points + count), hole});
    m_valid = false;
}

const std::vector<Wml::Point2>& CPgon::GetContour(int contour) const {
    static const std::vector<Wml::Point2> none;
    return contour >= 0 && contour < GetNumContours() ? m_contours[contour].points : none;
}

int CPgon::IsHole(int contour) const {
    return contour >= 0 && contour < GetNumContours() && m_contours[contour].hole ? 1 : 0;
}

CPgon CPgon::Combine(const CPgon& other, Op op) const {
    PgonGeos geos(PgonGeos::OriginOf(*this, other));
    Geom a = geos.ToGeos(*this), b = geos.ToGeos(other);
    if (!a || !b)
        return CPgon();
    GEOSGeometry* r = nullptr;
    switch (op) {
        case Op::Union:
            r = GEOSUnion_r(Geos(), a.get(), b.get());
            break;
        case Op::Intersection:
            r = GEOSIntersection_r(Geos(), a.get(), b.get());
            break;
        case Op::Difference:
            r = GEOSDifference_r(Geos(), a.get(), b.get());
            break;
    }
    Geom result = PgonGeos::Polygonal(Geom(r));
    return geos.FromGeos(result.get());
}

CPgon CPgon::operator|(const CPgon& other) const {
    return Combine(other, Op::Union);
}
CPgon CPgon::operator&(const CPgon& other) const {
    return Combine(other, Op::Intersection);
}
CPgon CPgon::operator-(const CPgon& other) const {
    return Combine(other, Op::Difference);
}

double CPgon::GetArea() const {
    if (m_valid) {
        double area = 0.0;
        for (const Contour& c : m_contours)
            area += c.hole ? -RingArea(c.points) : RingArea(c.points);
        return area;
    }
    PgonGeos geos(PgonGeos::OriginOf(*this, *this));
    Geom g = geos.ToGeos(*this);
    double area = 0.0;
    return g && GEOSArea_r(Geos(), g.get(), &area) == 1 ? area : 0.0;
}

double CPgon::GetArea(int contour) const {
    return RingArea(GetContour(contour));
}

int CPgon::GetBoundingBox(int contour, Wml::Point2& minCorner, Wml::Point2& maxCorner) const {
    const std::vector<Wml::Point2>& pts = GetContour(contour);
    if (pts.empty())
        return 0;
    Wml::Point2 lo = pts[0], hi = pts[0];
    for (const Wml::Point2& p : pts) {
        lo = Wml::Point2(std::min(lo.X(), p.X()), std::min(lo.Y(), p.Y()));
        hi = Wml::Point2(std::max(hi.X(), p.X()), std::max(hi.Y(), p.Y()));
    }
    minCorner = lo;
    maxCorner = hi;
    return 1;
}

int CPgon::GetBoundingBox(Wml::Point2& minCorner, Wml::Point2& maxCorner) const {
    int found = 0;
    for (int i = 0; i < GetNumContours(); ++i) {
        Wml::Point2 lo, hi;
        if (!GetBoundingBox(i, lo, hi))
            continue;
        if (found++) {
            lo = Wml::Point2(std::min(lo.X(), minCorner.X()), std::min(lo.Y(), minCorner.Y()));
            hi = Wml::Point2(std::max(hi.X(), maxCorner.X()), std::max(hi.Y(), maxCorner.Y()));
        }
        minCorner = lo;
        maxCorner = hi;
    }
    return found ? 1 : 0;
}

int CPgon::PtInPolygon(double x, double y) const {
    bool inside = false;
    for (const Contour& c : m_contours) {
        const std::vector<Wml::Point2>& pts = c.points;
        if (RingParity(
                int(pts.size()), [&pts](int i) { return pts[i]; }, x, y, inside))
            return 1;
    }
    return inside ? 1 : 0;
}

int point_in_polygon(int count, const double* xs, const double* ys, double x, double y) {
    if (!xs || !ys)
        return 0;
    bool inside = false;
    if (RingParity(
            count, [xs, ys](int i) { return Wml::Point2(xs[i], ys[i]); }, x, y, inside))
        return 1;
    return inside ? 1 : 0;
}
