#include "konvertel/DrawingShape.h"

#include <QString>

#include <algorithm>
#include <cmath>

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kTwoPi = 2 * kPi;

// Angles beyond this many radians are brought back to one turn.
constexpr double kManyTurns = 64 * kPi;

// Relative tolerance for "the same scale" and "at right angles".
constexpr double kSameScale = 1e-9;

bool IsWholeTurn(double a0, double a1) {
    return std::fabs(std::fabs(a1 - a0) - kTwoPi) < 1e-12;
}

ShapePoint MapVector(const ShapeAffine& m, double x, double y) {
    return {m.a * x + m.b * y, m.c * x + m.d * y, 0};
}

// The ellipse c + M cos t + N sin t (t from t0 to t1) under the map, in the engine's terms:
// centre, radii, turn of the first axis and parameter range.
DrawingShape MapEllipse(const DrawingShape& base, const ShapePoint& c, const ShapePoint& M,
                        const ShapePoint& N, double t0, double t1, const ShapeAffine& m) {
    const ShapePoint Mm = MapVector(m, M.x, M.y), Nm = MapVector(m, N.x, N.y);
    const double mm = Mm.x * Mm.x + Mm.y * Mm.y, nn = Nm.x * Nm.x + Nm.y * Nm.y,
                 mn = Mm.x * Nm.x + Mm.y * Nm.y;
    // The parameter of the longest radius of the mapped curve.
    const double tm = 0.5 * std::atan2(2 * mn, mm - nn);
    const double cs = std::cos(tm), sn = std::sin(tm);
    const ShapePoint U{Mm.x * cs + Nm.x * sn, Mm.y * cs + Nm.y * sn, 0};
    const ShapePoint V{-Mm.x * sn + Nm.x * cs, -Mm.y * sn + Nm.y * cs, 0};
    DrawingShape s = base;
    s.kind = CAD_ENT_ELLIPSE;
    s.pts = {m.Apply(c)};
    s.v[0] = std::hypot(U.x, U.y);
    s.v[1] = std::hypot(V.x, V.y);
    s.v[2] = std::atan2(U.y, U.x);
    const bool whole = IsWholeTurn(t0, t1);
    if (U.x * V.y - U.y * V.x >= 0) {
        s.v[3] = whole ? 0 : t0 - tm;
        s.v[4] = whole ? kTwoPi : t1 - tm;
    } else {
        // The mapped curve runs clockwise: the same points at the negated parameters.
        s.v[3] = whole ? 0 : -(t1 - tm);
        s.v[4] = whole ? kTwoPi : -(t0 - tm);
    }
    s.ival = 0;
    return s;
}

}  // namespace

ShapeAffine ShapeAffine::operator*(const ShapeAffine& o) const {
    ShapeAffine r;
    r.a = a * o.a + b * o.c;
    r.b = a * o.b + b * o.d;
    r.c = c * o.a + d * o.c;
    r.d = c * o.b + d * o.d;
    r.tx = a * o.tx + b * o.ty + tx;
    r.ty = c * o.tx + d * o.ty + ty;
    r.zs = zs * o.zs;
    r.tz = zs * o.tz + tz;
    return r;
}

bool ShapeAffine::IsSimilarity(double* scale, double* turn, bool* mirrored) const {
    const double s1 = std::hypot(a, c), s2 = std::hypot(b, d);
    if (!(s1 > 0) || std::fabs(s1 - s2) > kSameScale * s1 || std::fabs(a * b + c * d) > kSameScale * s1 * s2)
        return false;
    if (scale)
        *scale = s1;
    if (turn)
        *turn = std::atan2(c, a);
    if (mirrored)
        *mirrored = Det() < 0;
    return true;
}

bool ShapeAffine::IsProperSimilarity(double* scale, double* turn) const {
    bool mirrored = false;
    return IsSimilarity(scale, turn, &mirrored) && !mirrored;
}

ShapeAffine ShapeAffine::Translation(double x, double y, double z) {
    ShapeAffine m;
    m.tx = x;
    m.ty = y;
    m.tz = z;
    return m;
}

ShapeAffine ShapeAffine::ScaleTurn(double sx, double sy, double sz, double turn) {
    const double cs = std::cos(turn), sn = std::sin(turn);
    ShapeAffine m;
    m.a = cs * sx;
    m.b = -sn * sy;
    m.c = sn * sx;
    m.d = cs * sy;
    m.zs = sz;
    return m;
}

void TransformShape(const DrawingShape& in, const ShapeAffine& m, std::vector<DrawingShape>& out) {
    double scale = 1, turn = 0;
    bool mirrored = false;
    const bool similar = m.IsSimilarity(&scale, &turn, &mirrored);
    DrawingShape s = in;
    for (ShapePoint& p : s.pts)
        p = m.Apply(p);
    switch (in.kind) {
        case CAD_ENT_ARC: {
            if (in.pts.empty())
                return;
            const double r = in.v[0];
            if (similar) {
                s.v[0] = r * scale;
                if (in.ival != 1) {
                    if (mirrored) {
                        s.v[1] = turn - in.v[2];
                        s.v[2] = turn - in.v[1];
                    } else {
                        s.v[1] = in.v[1] + turn;
                        s.v[2] = in.v[2] + turn;
                    }
                }
                out.push_back(std::move(s));
                return;
            }
            const double t0 = in.ival == 1 ? 0 : in.v[1], t1 = in.ival == 1 ? kTwoPi : in.v[2];
            out.push_back(MapEllipse(in, in.pts[0], {r, 0, 0}, {0, r, 0}, t0, t1, m));
            return;
        }
        case CAD_ENT_ELLIPSE: {
            if (in.pts.empty())
                return;
            const double cs = std::cos(in.v[2]), sn = std::sin(in.v[2]);
            const ShapePoint M{in.v[0] * cs, in.v[0] * sn, 0}, N{-in.v[1] * sn, in.v[1] * cs, 0};
            out.push_back(MapEllipse(in, in.pts[0], M, N, in.v[3], in.v[4], m));
            return;
        }
        case CAD_ENT_RECT: {
            if (in.pts.empty())
                return;
            if (similar && !mirrored) {
                s.v[0] = in.v[0] * scale;
                s.v[1] = in.v[1] * scale;
                s.v[2] = in.v[2] + turn;
                out.push_back(std::move(s));
                return;
            }
            const double hw = in.v[0] / 2, hh = in.v[1] / 2, cs = std::cos(in.v[2]), sn = std::sin(in.v[2]);
            const double xs[4] = {-hw, hw, hw, -hw}, ys[4] = {-hh, -hh, hh, hh};
            s.kind = CAD_ENT_POLYLINE;
            s.pts.clear();
            for (int i = 0; i < 4; ++i)
                s.pts.push_back(m.Apply({in.pts[0].x + xs[i] * cs - ys[i] * sn,
                                         in.pts[0].y + xs[i] * sn + ys[i] * cs, in.pts[0].z}));
            s.closed = true;
            s.fit = 0;
            out.push_back(std::move(s));
            return;
        }
        case CAD_ENT_TEXT: {
            const double a = in.v[1];
            const ShapePoint along = MapVector(m, std::cos(a), std::sin(a));
            const ShapePoint up = MapVector(m, -std::sin(a), std::cos(a));
            s.v[0] = in.v[0] * std::hypot(up.x, up.y);
            s.v[1] = std::atan2(along.y, along.x);
            out.push_back(std::move(s));
            return;
        }
        case CAD_ENT_HATCH: {
            const double a = in.v[1];
            const ShapePoint along = MapVector(m, std::cos(a), std::sin(a));
            s.v[0] = in.v[0] * std::sqrt(std::fabs(m.Det()));
            s.v[1] = std::atan2(along.y, along.x);
            out.push_back(std::move(s));
            return;
        }
        case CAD_ENT_DIMENSION: {
            // Its text height and arrow and tick sizes grow with the map.
            const double k = std::sqrt(std::fabs(m.Det()));
            for (int i = 0; i < 3; ++i)
                s.v[i] = in.v[i] * k;
            out.push_back(std::move(s));
            return;
        }
        case CAD_ENT_INSERT:
            return;
        default:
            out.push_back(std::move(s));
            return;
    }
}

double ArcSweep(double from, double to) {
    double d = std::fmod(to - from, kTwoPi);
    if (!std::isfinite(d))
        return kTwoPi;
    if (d <= 0)
        d += kTwoPi;
    return d;
}

void AppendArcPoints(std::vector<ShapePoint>& out, double cx, double cy, double z, double r, double a0,
                     double a1, double maxStep) {
    const double sweep = a1 - a0;
    const double steps = std::ceil(std::fabs(sweep) / maxStep);
    const int n = !(steps < 1000) ? 1000 : steps < 1 ? 1 : int(steps);
    for (int i = 0; i <= n; ++i) {
        const double a = a0 + sweep * i / n;
        out.push_back({cx + r * std::cos(a), cy + r * std::sin(a), z});
    }
}

void AppendBulgePoints(std::vector<ShapePoint>& out, const ShapePoint& from, const ShapePoint& to,
                       double bulge) {
    const double dx = to.x - from.x, dy = to.y - from.y, chord = std::hypot(dx, dy);
    if (std::fabs(bulge) < 1e-12 || chord <= 0) {
        out.push_back(to);
        return;
    }
    // The arc's angle is 4 atan(bulge); its centre lies on the chord's perpendicular bisector.
    const double sweep = 4 * std::atan(bulge);
    const double r = chord / (2 * std::sin(std::fabs(sweep) / 2));
    const double mx = (from.x + to.x) / 2, my = (from.y + to.y) / 2;
    // Signed distance of the centre from the chord, to the left for counter-clockwise arcs of
    // less than a half turn; larger arcs have it on the other side (the cosine turns negative).
    const double h = r * std::cos(std::fabs(sweep) / 2);
    const double side = bulge > 0 ? 1 : -1;
    const double nx = -dy / chord * side, ny = dx / chord * side;
    const double cx = mx + nx * h, cy = my + ny * h;
    const double a0 = std::atan2(from.y - cy, from.x - cx);
    std::vector<ShapePoint> arc;
    AppendArcPoints(arc, cx, cy, 0, r, a0, a0 + sweep);
    const size_t n = arc.size();
    for (size_t i = 1; i + 1 < n; ++i) {
        const double t = double(i) / double(n - 1);
        out.push_back({arc[i].x, arc[i].y, from.z + (to.z - from.z) * t});
    }
    out.push_back(to);
}

std::string ShapeNameKey(const std::string& name) {
    return QString::fromStdString(name).toUpper().toStdString();
}

DrawingBuilder::DrawingBuilder(CadDrawing* drawing) : d_(drawing) {
    for (CadLayer* l = CadGetFirstLayer(d_); l; l = CadGetNextLayer(d_, l))
        layers_.emplace(ShapeNameKey(CadTextOf(CadLayerGetName, l)), CadLayerGetID(l));
}

void DrawingBuilder::DefineLayer(const std::string& name, int colour, uint32_t lineType, int lineWeight,
                                 bool visible, bool locked) {
    if (name.empty())
        return;
    if (colour < 1 || colour > 255)
        colour = CAD_COLOR_FOREGROUND;
    if (lineType == CAD_LTYPE_BYLAYER)
        lineType = CAD_LTYPE_CONTINUOUS;
    CadLayer* l = CadGetLayerByID(d_, LayerId(name));
    if (!l)
        return;
    CadLayerPutColor(l, colour);
    CadLayerPutLineType(l, lineType);
    CadLayerPutLineWeight(l, lineWeight);
    CadLayerPutVisible(l, visible ? 1 : 0);
    CadLayerPutLock(l, locked ? 1 : 0);
}

int DrawingBuilder::LayerId(const std::string& name) {
    const std::string key = ShapeNameKey(name.empty() ? std::string("0") : name);
    auto it = layers_.find(key);
    if (it != layers_.end())
        return it->second;
    CadLayer* l =
        CadAddLayer(d_, name.c_str(), CAD_COLOR_FOREGROUND, CAD_LTYPE_CONTINUOUS, CAD_LWEIGHT_DEFAULT);
    const int id = l ? CadLayerGetID(l) : 0;
    layers_.emplace(key, id);
    return id;
}

CadEntity* DrawingBuilder::Create(const DrawingShape& s) {
    const auto& p = s.pts;
    auto vertices = [&] {
        CadClearVertices();
        for (const ShapePoint& q : p)
            CadAddVertex(q.x, q.y, q.z);
    };
    switch (s.kind) {
        case CAD_ENT_POINT:
            return p.empty() ? nullptr : CadAddPoint(d_, p[0].x, p[0].y, p[0].z);
        case CAD_ENT_LINE:
            return p.size() < 2 ? nullptr : CadAddLine(d_, p[0].x, p[0].y, p[0].z, p[1].x, p[1].y, p[1].z);
        case CAD_ENT_POLYLINE:
            vertices();
            return CadAddPolyline(d_, s.fit, s.closed ? 1 : 0);
        case CAD_ENT_POLYGON:
            vertices();
            return CadAddPolygon(d_, s.colour, 0);
        case CAD_ENT_SPLINE:
            vertices();
            return CadAddSpline(d_, s.closed ? 1 : 0);
        case CAD_ENT_HATCH:
            vertices();
            return CadAddHatch(d_, s.ival, s.v[0], s.v[1]);
        case CAD_ENT_ARC:
            if (p.empty())
                return nullptr;
            if (s.ival == 1)
                return CadAddCircle(d_, p[0].x, p[0].y, p[0].z, s.v[0]);
            return CadAddArc(d_, p[0].x, p[0].y, p[0].z, s.v[0], s.v[1], s.v[2]);
        case CAD_ENT_ELLIPSE:
            return p.empty()
                       ? nullptr
                       : CadAddEllipse(d_, p[0].x, p[0].y, p[0].z, s.v[0], s.v[1], s.v[2], s.v[3], s.v[4]);
        case CAD_ENT_RECT:
            return p.empty() ? nullptr : CadAddRect(d_, p[0].x, p[0].y, p[0].z, s.v[0], s.v[1], s.v[2]);
        case CAD_ENT_TEXT: {
            if (p.empty())
                return nullptr;
            CadEntity* e = CadAddText(d_, s.text.c_str(), p[0].x, p[0].y, p[0].z);
            if (e) {
                CadTextPutHeight(e, s.v[0]);
                CadTextPutAngle(e, s.v[1]);
                CadTextPutAlign(e, s.ival);
            }
            return e;
        }
        case CAD_ENT_DIMENSION: {
            if (p.size() < 3)
                return nullptr;
            CadEntity* e = CadAddDimension(d_, s.ival, p[0].x, p[0].y, p[1].x, p[1].y, p[2].x, p[2].y);
            CadDimensionPutText(e, s.text.c_str());
            CadDimensionPutStyle(e, s.v[0], s.v[1], s.v[2]);
            return e;
        }
        default:
            return nullptr;
    }
}

void DrawingBuilder::ApplyAttributes(CadEntity* e, const DrawingShape& s) {
    CadEntityPutLayerID(e, LayerId(s.layer));
    CadEntityPutColor(e, s.colour);
    CadEntityPutLineType(e, s.lineType);
    CadEntityPutLineWeight(e, s.lineWeight);
    if (!s.visible)
        CadEntityPutVisible(e, 0);
    if (s.filled >= 0)
        CadEntityPutFilled(e, s.filled);
    if (s.hasUserData)
        CadEntityPutUserData(e, s.userData);
    if (!s.exData.empty())
        CadEntityPutExData(e, s.exData.data(), int(s.exData.size()));
}

CadEntity* DrawingBuilder::Add(const DrawingShape& in) {
    // Numbers that overflowed on the way (a huge block scaled again) make no entity; angles of
    // many turns are brought to one turn with the same arc, as the engine walks them in turns.
    for (const ShapePoint& p : in.pts)
        if (!std::isfinite(p.x) || !std::isfinite(p.y) || !std::isfinite(p.z)) {
            ++refused_;
            return nullptr;
        }
    for (double v : in.v)
        if (!std::isfinite(v)) {
            ++refused_;
            return nullptr;
        }
    DrawingShape s = in;
    const int first = s.kind == CAD_ENT_ARC ? 1 : s.kind == CAD_ENT_ELLIPSE ? 3 : -1;
    if (first > 0 && (std::fabs(s.v[first]) > kManyTurns || std::fabs(s.v[first + 1]) > kManyTurns)) {
        const double sweep = ArcSweep(s.v[first], s.v[first + 1]);
        s.v[first] = std::fmod(s.v[first], kTwoPi);
        s.v[first + 1] = s.v[first] + sweep;
    }
    CadEntity* e = Create(s);
    if (!e) {
        ++refused_;
        return nullptr;
    }
    ApplyAttributes(e, s);
    return e;
}

CadEntity* DrawingBuilder::AddInsert(const DrawingShape& attributes, int blockId, const ShapePoint& at,
                                     double scale, double turn) {
    CadEntity* e = CadAddInsBlock(d_, blockId, at.x, at.y, at.z, scale, turn);
    if (!e) {
        ++refused_;
        return nullptr;
    }
    ApplyAttributes(e, attributes);
    return e;
}

int DrawingBuilder::DefineBlock(const std::string& name, const ShapePoint& base,
                                const std::vector<DrawingShape>& shapes) {
    CadBlock* b = CadAddBlock(d_, name.c_str(), base.x, base.y, base.z);
    if (!b)
        return 0;
    for (const DrawingShape& s : shapes) {
        if (s.kind == CAD_ENT_INSERT)
            continue;
        if (CadEntity* e = Add(s))
            CadBlockAddEntity(b, e);
    }
    return CadBlockGetID(b);
}
