// The drawing model: drawings, layers, entities, blocks, selection and the geometry queries on
// them. Entities are owned by their drawing for its whole life; erasing flags them and a purge
// unlinks them, so handles the program keeps never dangle.
#include <QColor>

#include <algorithm>
#include <cmath>
#include <cstring>

#include "platform/cad/CadInternal.h"

namespace cad {

void FireEntErase(CadDrawing* d, CadEntity* e);  // CadEvents.cpp

namespace {

std::vector<Vec3>& PendingVertices() {
    static std::vector<Vec3> v;
    return v;
}

constexpr double kPi = 3.14159265358979323846;

// The engine's colour table: the classic seven, greys, then hue rows of varied value and
// saturation, then a grey ramp.
const std::vector<uint32_t>& ColourTable() {
    static const std::vector<uint32_t> table = [] {
        std::vector<uint32_t> t(256, 0);
        auto rgb = [](int r, int g, int b) { return uint32_t(r) | (uint32_t(g) << 8) | (uint32_t(b) << 16); };
        t[0] = rgb(255, 255, 255);
        t[1] = rgb(255, 0, 0);
        t[2] = rgb(255, 255, 0);
        t[3] = rgb(0, 255, 0);
        t[4] = rgb(0, 255, 255);
        t[5] = rgb(0, 0, 255);
        t[6] = rgb(255, 0, 255);
        t[7] = rgb(255, 255, 255);
        t[8] = rgb(128, 128, 128);
        t[9] = rgb(192, 192, 192);
        for (int i = 10; i < 250; ++i) {
            int hue = ((i - 10) / 10) * 15;
            int k = (i - 10) % 10;
            static const int vals[5] = {255, 204, 153, 127, 76};
            int v = vals[k / 2];
            int s = (k % 2 == 0) ? 255 : 127;
            QColor c = QColor::fromHsv(hue, s, v);
            t[i] = rgb(c.red(), c.green(), c.blue());
        }
        static const int greys[6] = {51, 80, 105, 130, 190, 255};
        for (int i = 0; i < 6; ++i)
            t[250 + i] = rgb(greys[i], greys[i], greys[i]);
        return t;
    }();
    return table;
}

}  // namespace

void AppendCatmullRom(std::vector<Vec3>& out, const std::vector<Vec3>& p, bool closed) {
    const size_t n = p.size();
    if (n < 3) {
        out = p;
        if (closed && n > 0)
            out.push_back(p[0]);
        return;
    }
    const size_t sides = closed ? n : n - 1;
    out.clear();
    out.reserve(sides * kCurveSteps + 1);
    CurveSide side;
    for (size_t i = 0; i < sides; ++i) {
        const Vec3* q[4];
        CurveSidePoints(p, closed, i, q);
        side.Set(*q[0], *q[1], *q[2], *q[3]);
        for (int k = 0; k < kCurveSteps; ++k)
            out.push_back(side.At(k));
    }
    out.push_back(closed ? p[0] : p[n - 1]);
}

void ArcPoints(std::vector<Vec3>& out, const Vec3& c, double rx, double ry, double rot, double a0,
               double a1) {
    // Angles from files can be of any size: bring the sweep into (0, 2 pi] without looping.
    double sweep = std::isfinite(a1 - a0) ? std::fmod(a1 - a0, 2 * kPi) : 2 * kPi;
    if (sweep <= 0) {
        sweep += 2 * kPi;
    }
    if (sweep <= 0 || sweep > 2 * kPi) {
        sweep = 2 * kPi;
    }
    int n = std::max(8, int(std::ceil(sweep / (2 * kPi) * 96)));
    double cr = std::cos(rot), sr = std::sin(rot);
    out.clear();
    out.reserve(size_t(n) + 1);
    for (int i = 0; i <= n; ++i) {
        double a = a0 + sweep * i / n;
        double x = rx * std::cos(a), y = ry * std::sin(a);
        out.push_back({c.x + x * cr - y * sr, c.y + x * sr + y * cr, c.z});
    }
}

namespace {

double SegDist2(double px, double py, const Vec3& a, const Vec3& b) {
    double dx = b.x - a.x, dy = b.y - a.y;
    double len2 = dx * dx + dy * dy;
    double t = len2 > 0 ? ((px - a.x) * dx + (py - a.y) * dy) / len2 : 0;
    t = std::clamp(t, 0.0, 1.0);
    double qx = a.x + t * dx - px, qy = a.y + t * dy - py;
    return qx * qx + qy * qy;
}

template <typename Ring>
bool PointInRing(const Ring& r, double x, double y) {
    bool inside = false;
    const size_t n = r.size();
    if (n == 0)
        return false;
    Vec3 b = r[n - 1];
    for (size_t i = 0; i < n; ++i) {
        const Vec3 a = r[i];
        if (((a.y > y) != (b.y > y)) && (x < (b.x - a.x) * (y - a.y) / (b.y - a.y) + a.x))
            inside = !inside;
        b = a;
    }
    return inside;
}

}  // namespace

QString ToQ(const char* s) {
    return s ? QString::fromUtf8(s) : QString();
}

int CopyOut(const std::string& s, char* buffer, int size) {
    if (!buffer || size <= 0)
        return int(s.size());
    size_t n = std::min(s.size(), size_t(size - 1));
    std::memcpy(buffer, s.data(), n);
    buffer[n] = 0;
    return int(s.size());
}

bool Alive(const CadEntity* e) {
    return e && e->linked && !e->erased;
}

CadLayer* LayerOf(const CadEntity* e) {
    if (!e || !e->drawing)
        return nullptr;
    for (CadLayer* l : e->drawing->layers)
        if (l->id == e->layerId)
            return l;
    return nullptr;
}

bool EntityShown(const CadEntity* e) {
    if (!Alive(e) || !e->visible)
        return false;
    CadLayer* l = LayerOf(e);
    return !l || (l->visible && !l->deleted);
}

void Touch(CadDrawing* d) {
    if (!d)
        return;
    d->dirty = true;
    ++d->version;
    NotifyRepaint(d);
}

void TouchEntity(CadEntity* e) {
    CadDrawing* d = e->drawing;
    if (!d)
        return;
    const bool indexValid = d->indexVersion == d->version;
    d->dirty = true;
    ++d->version;
    if (indexValid && d->index.AddChanged(e))
        d->indexVersion = d->version;
    NotifyRepaint(d);
}

void TouchLook(CadDrawing* d) {
    if (!d)
        return;
    d->dirty = true;
    NotifyRepaint(d);
}

// Text box corners (model) for the given text entity: width estimated from the glyph count.
static void TextCorners(const CadEntity* e, Vec3 out[4]) {
    double h = e->p[0] > 0 ? e->p[0] : 1.0;
    double w = h * 0.6 * std::max<size_t>(1, QString::fromStdString(e->text).size());
    double ox = 0, oy = 0;
    switch (e->ival) {
        case CAD_TA_CENTER_BASE:
            ox = -w / 2;
            break;
        case CAD_TA_RIGHT_BASE:
            ox = -w;
            break;
        case CAD_TA_LEFT_BOTTOM:
            oy = 0;
            break;
        case CAD_TA_LEFT_MIDDLE:
            oy = -h / 2;
            break;
        case CAD_TA_LEFT_TOP:
            oy = -h;
            break;
        case CAD_TA_CENTER_MIDDLE:
            ox = -w / 2, oy = -h / 2;
            break;
        case CAD_TA_CENTER_BOTTOM:
            ox = -w / 2;
            break;
        case CAD_TA_CENTER_TOP:
            ox = -w / 2, oy = -h;
            break;
        case CAD_TA_RIGHT_BOTTOM:
            ox = -w;
            break;
        case CAD_TA_RIGHT_MIDDLE:
            ox = -w, oy = -h / 2;
            break;
        case CAD_TA_RIGHT_TOP:
            ox = -w, oy = -h;
            break;
        default:
            break;
    }
    double c = std::cos(e->p[1]), s = std::sin(e->p[1]);
    const double xs[4] = {ox, ox + w, ox + w, ox}, ys[4] = {oy, oy, oy + h, oy + h};
    for (int i = 0; i < 4; ++i)
        out[i] = {e->pts[0].x + xs[i] * c - ys[i] * s, e->pts[0].y + xs[i] * s + ys[i] * c, e->pts[0].z};
}

namespace {

// The extents of the points of the smooth curve through p (at least three), the same as those of
// every point read from its outline. Each side's first point is its defining vertex, and its
// other points lie within 4/27 of the two tangents' lengths of the span between its vertices
// (the Hermite form of the side): a side within the vertices' extents by that much needs no point
// evaluated.
Box CurveBox(const std::vector<Vec3>& p, bool closed) {
    Box box;
    for (const Vec3& v : p) {
        // Points beyond any drawing's reach are placed where the curve's arithmetic puts them.
        if (!(std::fabs(v.x) < 1e300 && std::fabs(v.y) < 1e300))
            return Box();
        box.Add(v.x, v.y);
    }
    const size_t sides = closed ? p.size() : p.size() - 1;
    CurveSide at;
    for (size_t s = 0; s < sides; ++s) {
        const Vec3* q[4];
        CurveSidePoints(p, closed, s, q);
        // 0.15 above 4/27, and a margin far above the rounding of the points' evaluation.
        const double bx = 0.15 * (std::fabs(q[2]->x - q[0]->x) + std::fabs(q[3]->x - q[1]->x)) * 0.5;
        const double by = 0.15 * (std::fabs(q[2]->y - q[0]->y) + std::fabs(q[3]->y - q[1]->y)) * 0.5;
        double size = 1;
        for (const Vec3* v : q)
            size = std::max({size, std::fabs(v->x), std::fabs(v->y)});
        const double margin = 1e-12 * size;
        const double l = std::min(q[1]->x, q[2]->x) - bx - margin,
                     r = std::max(q[1]->x, q[2]->x) + bx + margin;
        const double b = std::min(q[1]->y, q[2]->y) - by - margin,
                     t = std::max(q[1]->y, q[2]->y) + by + margin;
        if (box.l <= l && r <= box.r && box.b <= b && t <= box.t)
            continue;
        at.Set(*q[0], *q[1], *q[2], *q[3]);
        for (int k = 1; k < kCurveSteps; ++k)
            box.Add(at.x[k], at.y[k]);
    }
    return box;
}

}  // namespace

void EnsureGeometry(CadEntity* e) {
    if (e->cacheValid)
        return;
    e->cacheValid = true;
    e->detail.clear();
    e->box = Box();
    e->outline.Own();
    switch (e->type) {
        case CAD_ENT_POINT:
        case CAD_ENT_LINE:
        case CAD_ENT_POLYGON:
        case CAD_ENT_DIMENSION:
            e->outline.UseDefining(&e->pts);
            break;
        case CAD_ENT_POLYLINE:
        case CAD_ENT_SPLINE:
        case CAD_ENT_HATCH:
            if ((e->fit != 0 || e->type == CAD_ENT_SPLINE) && e->pts.size() >= 3)
                e->outline.UseCurve(&e->pts, e->closed);
            else
                e->outline.UseDefining(&e->pts);
            break;
        case CAD_ENT_ARC:
            if (!e->pts.empty())
                ArcPoints(e->outline.Own(), e->pts[0], e->p[0], e->p[0], 0, e->p[1], e->p[2]);
            break;
        case CAD_ENT_ELLIPSE:
            if (!e->pts.empty())
                ArcPoints(e->outline.Own(), e->pts[0], e->p[0], e->p[1], e->p[2], e->p[3], e->p[4]);
            break;
        case CAD_ENT_RECT: {
            if (e->pts.empty())
                break;
            double hw = e->p[0] / 2, hh = e->p[1] / 2, c = std::cos(e->p[2]), s = std::sin(e->p[2]);
            const double xs[4] = {-hw, hw, hw, -hw}, ys[4] = {-hh, -hh, hh, hh};
            std::vector<Vec3>& own = e->outline.Own();
            for (int i = 0; i < 4; ++i)
                own.push_back(
                    {e->pts[0].x + xs[i] * c - ys[i] * s, e->pts[0].y + xs[i] * s + ys[i] * c, e->pts[0].z});
            break;
        }
        case CAD_ENT_TEXT: {
            if (e->pts.empty())
                break;
            Vec3 c[4];
            TextCorners(e, c);
            e->outline.Own().assign(c, c + 4);
            break;
        }
        case CAD_ENT_IMAGE:
            if (!e->pts.empty() && e->p[2] > 0) {
                double w = e->p[0] / e->p[2], h = e->p[1] / e->p[2];
                const Vec3& o = e->pts[0];
                e->outline.Own() = {
                    {o.x, o.y, o.z}, {o.x + w, o.y, o.z}, {o.x + w, o.y + h, o.z}, {o.x, o.y + h, o.z}};
            }
            break;
        case CAD_ENT_INSERT: {
            if (e->pts.empty() || !e->drawing)
                break;
            CadBlock* b = CadGetBlockByID(e->drawing, e->ival);
            if (!b)
                break;
            // The outline is the placed box of the block (a click inside picks the reference);
            // the extents are those of the placed entities themselves.
            Box bb;
            for (CadEntity* be : b->entities) {
                if (be->erased || be->type == CAD_ENT_INSERT)
                    continue;  // no nesting through inserts
                EnsureGeometry(be);
                bb.Add(be->box);
                for (const Vec3& v : be->outline) {
                    Vec3 q = PlaceInBlockRef(e, b, v);
                    e->box.Add(q.x, q.y);
                }
            }
            if (bb.Empty())
                break;
            const double xs[4] = {bb.l, bb.r, bb.r, bb.l}, ys[4] = {bb.b, bb.b, bb.t, bb.t};
            std::vector<Vec3>& own = e->outline.Own();
            for (int i = 0; i < 4; ++i)
                own.push_back(PlaceInBlockRef(e, b, {xs[i], ys[i], b->base.z}));
            return;
        }
        default:
            break;
    }
    if (e->outline.IsCurve()) {
        e->box = CurveBox(e->pts, e->closed);
        if (!e->box.Empty())
            return;
    }
    for (const Vec3& v : e->outline)
        e->box.Add(v.x, v.y);
    if (e->type == CAD_ENT_POINT && !e->pts.empty())
        e->box.Add(e->pts[0].x, e->pts[0].y);
}

Vec3 PlaceBlockPoint(const Vec3& at, double scale, double angle, const Vec3& base, const Vec3& p) {
    const double c = std::cos(angle), s = std::sin(angle);
    const double x = (p.x - base.x) * scale, y = (p.y - base.y) * scale;
    return {at.x + x * c - y * s, at.y + x * s + y * c, at.z + (p.z - base.z) * scale};
}

Vec3 PlaceInBlockRef(const CadEntity* insert, const CadBlock* block, const Vec3& p) {
    return PlaceBlockPoint(insert->pts[0], insert->p[0] == 0 ? 1 : insert->p[0], insert->p[1], block->base,
                           p);
}

bool BlockEntityShown(const CadEntity* e) {
    if (e->erased || !e->visible)
        return false;
    if (e->layerId == 0)
        return true;
    CadLayer* l = LayerOf(e);
    return !l || (l->visible && !l->deleted);
}

// Whether the entity's outline is a closed ring for containment and crossings.
bool IsClosedOutline(const CadEntity* e) {
    switch (e->type) {
        case CAD_ENT_POLYGON:
        case CAD_ENT_RECT:
        case CAD_ENT_TEXT:
        case CAD_ENT_IMAGE:
        case CAD_ENT_INSERT:
        case CAD_ENT_HATCH:
            return true;
        case CAD_ENT_POLYLINE:
        case CAD_ENT_SPLINE:
            return e->closed;
        case CAD_ENT_ARC:
            return e->ival == 1;
        case CAD_ENT_ELLIPSE:
            return std::fabs(e->p[4] - e->p[3]) >= 2 * kPi - 1e-9;
        default:
            return false;
    }
}

// Entities that count as an area for picking: a click inside picks them.
static bool PickInside(const CadEntity* e) {
    return e->type == CAD_ENT_IMAGE || e->type == CAD_ENT_TEXT || e->type == CAD_ENT_INSERT ||
           ((e->type == CAD_ENT_POLYGON || e->type == CAD_ENT_HATCH || e->filled) && IsClosedOutline(e));
}

double DistanceToEntity(CadEntity* e, double x, double y, int first, int count) {
    EnsureGeometry(e);
    const OutlineReader o(e->outline);
    if (o.size() == 0)
        return 1e300;
    if (PickInside(e) && count == 0 && PointInRing(o, x, y))
        return 0;
    if (o.size() == 1)
        return std::hypot(o[0].x - x, o[0].y - y);
    int n = int(o.size());
    int a = count == 0 ? 0 : first;
    int b = count == 0 ? n - 1 : std::min(n - 1, first + count - 1);
    double best = 1e300;
    for (int i = a; i < b; ++i)
        best = std::min(best, SegDist2(x, y, o[i], o[i + 1]));
    bool closing = IsClosedOutline(e) && (count == 0 || first + count >= n);
    if (closing)
        best = std::min(best, SegDist2(x, y, o[n - 1], o[0]));
    if (count != 0 && PickInside(e) && a == 0 && PointInRing(o, x, y))
        best = 0;
    return std::sqrt(best);
}

uint32_t ResolveColour(const CadEntity* e) {
    int c = e->colour;
    if (c == CAD_COLOR_BYLAYER || c < 0 || c > 255) {
        CadLayer* l = LayerOf(e);
        c = l ? l->colour : CAD_COLOR_FOREGROUND;
    }
    if (c < 0 || c > 255)
        c = CAD_COLOR_FOREGROUND;
    return ColourTable()[size_t(c)];
}

int ResolveLineWeight(const CadEntity* e) {
    int w = e->lineWeight;
    if (w == CAD_LWEIGHT_BYLAYER || w == CAD_LWEIGHT_BYBLOCK) {
        CadLayer* l = LayerOf(e);
        w = l ? l->lineWeight : CAD_LWEIGHT_DEFAULT;
    }
    return w;
}

uint32_t ResolveLineType(const CadEntity* e) {
    uint32_t t = e->lineType;
    if (t == CAD_LTYPE_BYLAYER) {
        CadLayer* l = LayerOf(e);
        t = l ? l->lineType : CAD_LTYPE_CONTINUOUS;
    }
    return t;
}

void AppendEntity(CadDrawing* d, CadEntity* e) {
    e->drawing = d;
    e->seq = int(d->order.size());
    e->linked = true;
    d->order.push_back(e);
    d->byId[e->id] = e;
    e->cacheValid = false;
    TouchEntity(e);
}

CadEntity* NewEntity(CadDrawing* d, int type) {
    if (!d)
        return nullptr;
    auto e = std::make_unique<CadEntity>();
    e->drawing = d;
    e->type = type;
    e->id = d->nextEntityId++;
    CadLayer* cur = CadGetCurLayer(d);
    e->layerId = cur ? cur->id : 0;
    CadEntity* raw = e.get();
    d->allEntities.push_back(std::move(e));
    AppendEntity(d, raw);
    return raw;
}

CadEntity* CloneEntity(CadDrawing* target, const CadEntity* src) {
    auto e = std::make_unique<CadEntity>();
    CadEntity* raw = e.get();
    raw->drawing = target;
    raw->type = src->type;
    raw->layerId = src->layerId;
    raw->colour = src->colour;
    raw->lineType = src->lineType;
    raw->lineWeight = src->lineWeight;
    raw->visible = src->visible;
    raw->filled = src->filled;
    raw->userData = src->userData;
    raw->exData = src->exData;
    raw->pts = src->pts;
    raw->fit = src->fit;
    raw->closed = src->closed;
    std::memcpy(raw->p, src->p, sizeof raw->p);
    raw->ival = src->ival;
    raw->text = src->text;
    raw->linked = false;
    target->allEntities.push_back(std::move(e));
    return raw;
}

void RemoveFromSelection(CadDrawing* d, CadEntity* e) {
    if (!e->selected)
        return;
    e->selected = false;
    auto it = std::find(d->selection.begin(), d->selection.end(), e);
    if (it != d->selection.end())
        d->selection.erase(it);
}

// An unlinked entity keeps its handle object but gives its geometry and data back.
static void Release(CadEntity* e) {
    e->linked = false;
    e->seq = -1;
    e->selected = false;
    std::vector<Vec3>().swap(e->pts);
    e->outline.Release();
    std::vector<std::pair<int, std::vector<uint32_t>>>().swap(e->detail);
    std::vector<uint8_t>().swap(e->exData);
    std::string().swap(e->text);
    e->box = Box();
    e->cacheValid = true;
}

void ReplaceContent(CadDrawing* d, CadDrawing* from) {
    for (CadEntity* e : d->order)
        Release(e);
    for (CadLayer* l : d->layers)
        l->linked = false;
    for (CadBlock* b : d->blocks) {
        b->linked = false;
        for (CadEntity* e : b->entities)
            e->linked = false;
    }
    d->selection.clear();
    d->undo.clear();
    d->order.clear();
    d->byId.clear();
    d->layers.clear();
    d->blocks.clear();
    for (auto& e : from->allEntities) {
        e->drawing = d;
        d->allEntities.push_back(std::move(e));
    }
    for (auto& l : from->allLayers) {
        l->drawing = d;
        d->allLayers.push_back(std::move(l));
    }
    for (auto& b : from->allBlocks) {
        b->drawing = d;
        d->allBlocks.push_back(std::move(b));
    }
    d->order = std::move(from->order);
    for (size_t i = 0; i < d->order.size(); ++i) {
        d->order[i]->seq = int(i);
        d->order[i]->linked = true;
        d->order[i]->cacheValid = false;
        d->byId[d->order[i]->id] = d->order[i];
    }
    d->layers = std::move(from->layers);
    d->blocks = std::move(from->blocks);
    d->currentLayerId = from->currentLayerId;
    d->nextEntityId = from->nextEntityId;
    d->nextLayerId = from->nextLayerId;
    d->nextBlockId = from->nextBlockId;
    d->lwDisplay = from->lwDisplay;
    d->drawStyle = from->drawStyle;
    d->dimStyle = from->dimStyle;
    d->pointStyle = from->pointStyle;
    from->allEntities.clear();
    from->allLayers.clear();
    from->allBlocks.clear();
    Touch(d);
}

// ---------------------------------------------------------------------------------------------
// Spatial index

void SpatialIndex::Clear() {
    for (CadEntity* e : changed_)
        e->indexChanged = false;
    changed_.clear();
    items_.clear();
    cells_.clear();
    nx_ = ny_ = 0;
}

bool SpatialIndex::AddChanged(CadEntity* e) {
    if (e->indexChanged)
        return true;
    // Many changes, or a long outline that would be searched whole: better build again.
    if (changed_.size() >= 256 || e->pts.size() > 4096)
        return false;
    e->indexChanged = true;
    changed_.push_back(e);
    return true;
}

void SpatialIndex::Build(const std::vector<CadEntity*>& entities) {
    Clear();
    world_ = Box();
    for (CadEntity* e : entities) {
        if (!Alive(e))
            continue;
        EnsureGeometry(e);
        if (e->box.Empty())
            continue;
        world_.Add(e->box);
        const OutlineReader outline(e->outline);
        const int n = int(outline.size());
        bool chunked = n > kChunk + 1 && e->type != CAD_ENT_IMAGE && e->type != CAD_ENT_TEXT &&
                       e->type != CAD_ENT_INSERT && !PickInside(e);
        if (!chunked) {
            items_.push_back({e, 0, 0, e->box});
            continue;
        }
        // A curve's runs follow its defining sides, so that its items grow with the vertices
        // and not with the points it is drawn with.
        const int run = e->outline.IsCurve() ? kChunk * kCurveSteps : kChunk;
        for (int s = 0; s < n - 1; s += run) {
            int cnt = std::min(run + 1, n - s);
            Box b;
            for (int i = s; i < s + cnt; ++i) {
                const auto [x, y] = outline.XY(size_t(i));
                b.Add(x, y);
            }
            items_.push_back({e, s, cnt, b});
        }
        if (IsClosedOutline(e)) {
            Box b;
            const Vec3 last = outline[size_t(n) - 1], first = outline[0];
            b.Add(last.x, last.y);
            b.Add(first.x, first.y);
            items_.push_back({e, n - 1, 1, b});  // the closing segment
        }
    }
    if (items_.empty())
        return;
    double w = std::max(world_.r - world_.l, 1e-9), h = std::max(world_.t - world_.b, 1e-9);
    double cells = std::clamp(double(items_.size()), 1.0, 262144.0);
    double side = std::sqrt(cells * w / h);
    nx_ = std::clamp(int(side), 1, 1024);
    ny_ = std::clamp(int(cells / nx_), 1, 1024);
    cw_ = w / nx_;
    ch_ = h / ny_;
    cells_.assign(size_t(nx_) * size_t(ny_) + 1, {});  // the last cell holds the very large items
    stamp_.assign(items_.size(), 0);
    const size_t big = size_t(nx_) * size_t(ny_) / 4 + 4;
    for (size_t i = 0; i < items_.size(); ++i) {
        int x0, y0, x1, y1;
        CellRange(items_[i].box, x0, y0, x1, y1);
        if (size_t(x1 - x0 + 1) * size_t(y1 - y0 + 1) > big) {
            cells_.back().push_back(int(i));
            continue;
        }
        for (int y = y0; y <= y1; ++y)
            for (int x = x0; x <= x1; ++x)
                cells_[size_t(y) * size_t(nx_) + size_t(x)].push_back(int(i));
    }
}

void SpatialIndex::CellRange(const Box& b, int& x0, int& y0, int& x1, int& y1) const {
    x0 = std::clamp(int(std::floor((b.l - world_.l) / cw_)), 0, nx_ - 1);
    x1 = std::clamp(int(std::floor((b.r - world_.l) / cw_)), 0, nx_ - 1);
    y0 = std::clamp(int(std::floor((b.b - world_.b) / ch_)), 0, ny_ - 1);
    y1 = std::clamp(int(std::floor((b.t - world_.b) / ch_)), 0, ny_ - 1);
}

void SpatialIndex::Query(const Box& q, const std::function<void(const IndexItem&)>& fn) const {
    if (items_.empty() || !q.Intersects(world_)) {
        if (!items_.empty())
            for (int i : cells_.back())
                if (!items_[size_t(i)].entity->indexChanged && items_[size_t(i)].box.Intersects(q))
                    fn(items_[size_t(i)]);
        QueryChanged(q, fn);
        return;
    }
    if (++stampValue_ == 0) {
        std::fill(stamp_.begin(), stamp_.end(), 0);
        stampValue_ = 1;
    }
    int x0, y0, x1, y1;
    CellRange(q, x0, y0, x1, y1);
    auto visit = [&](const std::vector<int>& cell) {
        for (int i : cell) {
            if (stamp_[size_t(i)] == stampValue_)
                continue;
            stamp_[size_t(i)] = stampValue_;
            const IndexItem& it = items_[size_t(i)];
            if (!it.entity->indexChanged && it.box.Intersects(q))
                fn(it);
        }
    };
    for (int y = y0; y <= y1; ++y)
        for (int x = x0; x <= x1; ++x)
            visit(cells_[size_t(y) * size_t(nx_) + size_t(x)]);
    visit(cells_.back());
    QueryChanged(q, fn);
}

void SpatialIndex::QueryChanged(const Box& q, const std::function<void(const IndexItem&)>& fn) const {
    for (CadEntity* e : changed_) {
        if (!Alive(e))
            continue;
        EnsureGeometry(e);
        if (e->box.Intersects(q))
            fn(IndexItem{e, 0, 0, e->box});
    }
}

const SpatialIndex& IndexOf(CadDrawing* d) {
    if (d->indexVersion != d->version) {
        d->index.Build(d->order);
        d->indexVersion = d->version;
    }
    return d->index;
}

}  // namespace cad

using namespace cad;

void CadEntity::Invalidate() {
    cacheValid = false;
    if (drawing && seq >= 0)
        TouchEntity(this);
}

// ---------------------------------------------------------------------------------------------
// Drawings

// A drawing with its layer "0", not known to the engine's list of drawings.
static CadDrawing* NewDrawing() {
    auto* d = new CadDrawing();
    auto l = std::make_unique<CadLayer>();
    l->drawing = d;
    l->id = 0;
    l->name = "0";
    d->layers.push_back(l.get());
    d->allLayers.push_back(std::move(l));
    d->currentLayerId = 0;
    return d;
}

CadDrawing* CadCreate() {
    return RegisterDrawing(NewDrawing());
}

int CadPurge(CadDrawing* d, int mode) {
    if (!d)
        return 0;
    std::vector<CadEntity*> kept;
    kept.reserve(d->order.size());
    for (CadEntity* e : d->order) {
        if (e->erased && e->holds == 0) {
            RemoveFromSelection(d, e);
            d->byId.erase(e->id);
            Release(e);
        } else {
            e->seq = int(kept.size());
            kept.push_back(e);
        }
    }
    d->order.swap(kept);
    if (mode & 2) {
        std::vector<CadLayer*> layers;
        for (CadLayer* l : d->layers) {
            bool used = l->id == 0 || l->id == d->currentLayerId;
            if (!used && l->deleted)
                for (CadEntity* e : d->order)
                    if (e->layerId == l->id) {
                        used = true;
                        break;
                    }
            if (l->deleted && !used)
                l->linked = false;
            else
                layers.push_back(l);
        }
        d->layers.swap(layers);
        std::vector<CadBlock*> blocks;
        for (CadBlock* b : d->blocks) {
            bool used = false;
            for (CadEntity* e : d->order)
                if (e->type == CAD_ENT_INSERT && e->ival == b->id) {
                    used = true;
                    break;
                }
            if (used)
                blocks.push_back(b);
            else
                b->linked = false;
        }
        d->blocks.swap(blocks);
    }
    ++d->version;
    NotifyRepaint(d);
    return 1;
}

int CadGetDirty(CadDrawing* d) {
    return d && d->dirty ? 1 : 0;
}
void CadPutDirty(CadDrawing* d, int dirty) {
    if (d)
        d->dirty = dirty != 0;
}
int CadGetReadOnly(CadDrawing* d) {
    return d && d->readOnly ? 1 : 0;
}
void CadPutReadOnly(CadDrawing* d, int ro) {
    if (d)
        d->readOnly = ro != 0;
}
void CadPutLwDisplay(CadDrawing* d, int show) {
    if (!d)
        return;
    d->lwDisplay = show != 0;
    NotifyRepaint(d);
}
int CadGetLwDisplay(CadDrawing* d) {
    return d && d->lwDisplay ? 1 : 0;
}

int CadCountEntities(CadDrawing* d) {
    if (!d)
        return 0;
    int n = 0;
    for (CadEntity* e : d->order)
        n += e->erased ? 0 : 1;
    return n;
}

CadEntity* CadGetFirstEntity(CadDrawing* d) {
    if (!d)
        return nullptr;
    for (CadEntity* e : d->order)
        if (!e->erased)
            return e;
    return nullptr;
}

CadEntity* CadGetNextEntity(CadDrawing* d, CadEntity* e) {
    if (!d || !e || e->drawing != d || e->seq < 0)
        return nullptr;
    for (size_t i = size_t(e->seq) + 1; i < d->order.size(); ++i)
        if (!d->order[i]->erased)
            return d->order[i];
    return nullptr;
}

CadEntity* CadGetEntityByID(CadDrawing* d, int id) {
    if (!d)
        return nullptr;
    auto it = d->byId.find(id);
    if (it == d->byId.end() || !Alive(it->second))
        return nullptr;
    return it->second;
}

int CadGetExtents(CadDrawing* d, double* l, double* b, double* r, double* t) {
    if (!d)
        return 0;
    Box box;
    for (CadEntity* e : d->order) {
        if (!EntityShown(e))
            continue;
        EnsureGeometry(e);
        box.Add(e->box);
    }
    if (box.Empty())
        return 0;
    if (l)
        *l = box.l;
    if (b)
        *b = box.b;
    if (r)
        *r = box.r;
    if (t)
        *t = box.t;
    return 1;
}

void CadRegen(CadDrawing* d) {
    if (!d)
        return;
    for (CadEntity* e : d->order)
        e->cacheValid = false;
    ++d->version;
    NotifyRepaint(d);
}

void CadUpdate(CadDrawing* d) {
    if (d)
        NotifyRepaint(d);
}

int CadColorSeek(uint32_t colour) {
    const auto& t = ColourTable();
    int best = 7;
    long bestD = -1;
    int r = int(colour & 255), g = int((colour >> 8) & 255), b = int((colour >> 16) & 255);
    for (int i = 1; i < 256; ++i) {
        int dr = int(t[size_t(i)] & 255) - r, dg = int((t[size_t(i)] >> 8) & 255) - g,
            db = int((t[size_t(i)] >> 16) & 255) - b;
        long dist = long(dr) * dr + long(dg) * dg + long(db) * db;
        if (bestD < 0 || dist < bestD) {
            bestD = dist;
            best = i;
        }
    }
    return best;
}

uint32_t CadColorGetRGB(int index) {
    if (index < 0 || index > 255)
        index = CAD_COLOR_FOREGROUND;
    return ColourTable()[size_t(index)];
}

// ---------------------------------------------------------------------------------------------
// Layers

static bool LayerOk(CadLayer* l) {
    return l && l->linked;
}

CadLayer* CadAddLayer(CadDrawing* d, const char* name, int colour, uint32_t lineType, int lineWeight) {
    if (!d || !name || !*name || CadGetLayerByName(d, name))
        return nullptr;
    auto l = std::make_unique<CadLayer>();
    l->drawing = d;
    l->id = d->nextLayerId++;
    l->name = name;
    l->colour = (colour >= 0 && colour <= 255) ? colour : CAD_COLOR_FOREGROUND;
    l->lineType = lineType == CAD_LTYPE_BYLAYER ? CAD_LTYPE_CONTINUOUS : lineType;
    l->lineWeight = lineWeight;
    CadLayer* raw = l.get();
    d->allLayers.push_back(std::move(l));
    d->layers.push_back(raw);
    TouchLook(d);
    return raw;
}

CadLayer* CadGetLayerByName(CadDrawing* d, const char* name) {
    if (!d || !name)
        return nullptr;
    for (CadLayer* l : d->layers)
        if (l->name == name)
            return l;
    return nullptr;
}

CadLayer* CadGetLayerByID(CadDrawing* d, int id) {
    if (!d)
        return nullptr;
    for (CadLayer* l : d->layers)
        if (l->id == id)
            return l;
    return nullptr;
}

CadLayer* CadGetCurLayer(CadDrawing* d) {
    if (!d)
        return nullptr;
    CadLayer* l = CadGetLayerByID(d, d->currentLayerId);
    if (!l || l->deleted)
        l = CadGetLayerByID(d, 0);
    return l;
}

int CadSetCurLayer(CadDrawing* d, CadLayer* l) {
    if (!d || !LayerOk(l) || l->drawing != d)
        return 0;
    d->currentLayerId = l->id;
    return 1;
}

int CadSetCurLayerByName(CadDrawing* d, const char* name) {
    return CadSetCurLayer(d, CadGetLayerByName(d, name));
}

int CadCountLayers(CadDrawing* d) {
    return d ? int(d->layers.size()) : 0;
}

CadLayer* CadGetFirstLayer(CadDrawing* d) {
    return d && !d->layers.empty() ? d->layers.front() : nullptr;
}

CadLayer* CadGetNextLayer(CadDrawing* d, CadLayer* l) {
    if (!d || !l)
        return nullptr;
    auto it = std::find(d->layers.begin(), d->layers.end(), l);
    if (it == d->layers.end() || ++it == d->layers.end())
        return nullptr;
    return *it;
}

void CadSortLayers(CadDrawing* d) {
    if (!d)
        return;
    std::stable_sort(d->layers.begin(), d->layers.end(),
                     [](const CadLayer* a, const CadLayer* b) { return a->level > b->level; });
    d->dirty = true;
    NotifyRepaint(d);
}

int CadDeleteLayer(CadDrawing* d, CadLayer* l) {
    if (!d || !LayerOk(l) || l->drawing != d || l->id == 0)
        return 0;
    l->deleted = true;
    for (size_t i = 0; i < d->order.size(); ++i)
        if (d->order[i]->layerId == l->id && !d->order[i]->erased)
            CadEntityErase(d->order[i], 1);
    if (d->currentLayerId == l->id)
        d->currentLayerId = 0;
    TouchLook(d);
    return 1;
}

int CadLayerGetID(CadLayer* l) {
    return l ? l->id : -1;
}
int CadLayerGetName(CadLayer* l, char* buffer, int size) {
    return l ? CopyOut(l->name, buffer, size) : 0;
}
int CadLayerPutName(CadLayer* l, const char* name) {
    if (!LayerOk(l) || !name || !*name)
        return 0;
    CadLayer* other = CadGetLayerByName(l->drawing, name);
    if (other && other != l)
        return 0;
    l->name = name;
    TouchLook(l->drawing);
    return 1;
}
int CadLayerGetColor(CadLayer* l) {
    return l ? l->colour : 0;
}
void CadLayerPutColor(CadLayer* l, int c) {
    if (!LayerOk(l))
        return;
    l->colour = c;
    TouchLook(l->drawing);
}
uint32_t CadLayerGetLineType(CadLayer* l) {
    return l ? l->lineType : 0;
}
void CadLayerPutLineType(CadLayer* l, uint32_t t) {
    if (!LayerOk(l))
        return;
    l->lineType = t;
    TouchLook(l->drawing);
}
int CadLayerGetLineWeight(CadLayer* l) {
    return l ? l->lineWeight : 0;
}
void CadLayerPutLineWeight(CadLayer* l, int w) {
    if (!LayerOk(l))
        return;
    l->lineWeight = w;
    TouchLook(l->drawing);
}
int CadLayerGetVisible(CadLayer* l) {
    return l && l->visible ? 1 : 0;
}
void CadLayerPutVisible(CadLayer* l, int v) {
    if (!LayerOk(l))
        return;
    l->visible = v != 0;
    l->drawing->dirty = true;
    NotifyRepaint(l->drawing);
}
int CadLayerGetLock(CadLayer* l) {
    return l && l->locked ? 1 : 0;
}
void CadLayerPutLock(CadLayer* l, int v) {
    if (!LayerOk(l))
        return;
    l->locked = v != 0;
    l->drawing->dirty = true;
}
int CadLayerGetDeleted(CadLayer* l) {
    return l && l->deleted ? 1 : 0;
}
void CadLayerPutDeleted(CadLayer* l, int v) {
    if (!LayerOk(l))
        return;
    if (v)
        CadDeleteLayer(l->drawing, l);
    else {
        l->deleted = false;
        TouchLook(l->drawing);
    }
}
int CadLayerGetLevel(CadLayer* l) {
    return l ? l->level : 0;
}
void CadLayerPutLevel(CadLayer* l, int level) {
    if (!LayerOk(l))
        return;
    l->level = level;
    l->drawing->dirty = true;
}

CadEntity* CadLayerGetFirstEntity(CadLayer* l) {
    if (!LayerOk(l))
        return nullptr;
    for (CadEntity* e : l->drawing->order)
        if (!e->erased && e->layerId == l->id)
            return e;
    return nullptr;
}

CadEntity* CadLayerGetNextEntity(CadLayer* l, CadEntity* e) {
    if (!LayerOk(l) || !e || e->drawing != l->drawing || e->seq < 0)
        return nullptr;
    const auto& order = l->drawing->order;
    for (size_t i = size_t(e->seq) + 1; i < order.size(); ++i)
        if (!order[i]->erased && order[i]->layerId == l->id)
            return order[i];
    return nullptr;
}

// ---------------------------------------------------------------------------------------------
// Entities

void CadClearVertices() {
    PendingVertices().clear();
}
void CadAddVertex(double x, double y, double z) {
    PendingVertices().push_back({x, y, z});
}

// The pending vertices, in a list of their own size (an entity keeps it for its life); the pending
// list keeps its room for the next entity unless it grew very large.
static std::vector<Vec3> TakePending() {
    std::vector<Vec3>& pending = PendingVertices();
    std::vector<Vec3> v(pending.begin(), pending.end());
    pending.clear();
    if (pending.capacity() > (size_t(1) << 16))
        std::vector<Vec3>().swap(pending);
    return v;
}

CadEntity* CadAddPoint(CadDrawing* d, double x, double y, double z) {
    CadEntity* e = NewEntity(d, CAD_ENT_POINT);
    if (e)
        e->pts = {{x, y, z}};
    return e;
}

CadEntity* CadAddLine(CadDrawing* d, double x1, double y1, double z1, double x2, double y2, double z2) {
    CadEntity* e = NewEntity(d, CAD_ENT_LINE);
    if (e)
        e->pts = {{x1, y1, z1}, {x2, y2, z2}};
    return e;
}

static CadEntity* AddOutline(CadDrawing* d, int type, size_t minVertices) {
    if (!d)
        return nullptr;
    std::vector<Vec3> v = TakePending();
    if (v.size() < minVertices)
        return nullptr;
    CadEntity* e = NewEntity(d, type);
    e->pts = std::move(v);
    return e;
}

CadEntity* CadAddPolyline(CadDrawing* d, int fit, int closed) {
    CadEntity* e = AddOutline(d, CAD_ENT_POLYLINE, 2);
    if (e) {
        e->fit = fit;
        e->closed = closed != 0;
    }
    return e;
}

CadEntity* CadAddPolygon(CadDrawing* d, int colour, int) {
    CadEntity* e = AddOutline(d, CAD_ENT_POLYGON, 3);
    if (e) {
        e->closed = true;
        e->filled = true;
        e->colour = colour;
    }
    return e;
}

CadEntity* CadAddRect(CadDrawing* d, double x, double y, double z, double w, double h, double angle) {
    CadEntity* e = NewEntity(d, CAD_ENT_RECT);
    if (!e)
        return nullptr;
    e->pts = {{x, y, z}};
    e->p[0] = w;
    e->p[1] = h;
    e->p[2] = angle;
    e->closed = true;
    return e;
}

CadEntity* CadAddCircle(CadDrawing* d, double x, double y, double z, double radius) {
    CadEntity* e = NewEntity(d, CAD_ENT_ARC);
    if (!e)
        return nullptr;
    e->pts = {{x, y, z}};
    e->p[0] = radius;
    e->p[1] = 0;
    e->p[2] = 2 * kPi;
    e->ival = 1;
    return e;
}

CadEntity* CadAddArc(CadDrawing* d, double x, double y, double z, double radius, double a0, double a1) {
    CadEntity* e = NewEntity(d, CAD_ENT_ARC);
    if (!e)
        return nullptr;
    e->pts = {{x, y, z}};
    e->p[0] = radius;
    e->p[1] = a0;
    e->p[2] = a1;
    return e;
}

CadEntity* CadAddEllipse(CadDrawing* d, double x, double y, double z, double rx, double ry, double angle,
                         double t0, double t1) {
    CadEntity* e = NewEntity(d, CAD_ENT_ELLIPSE);
    if (!e)
        return nullptr;
    e->pts = {{x, y, z}};
    e->p[0] = rx;
    e->p[1] = ry;
    e->p[2] = angle;
    e->p[3] = t0;
    e->p[4] = t1;
    return e;
}

CadEntity* CadAddSpline(CadDrawing* d, int closed) {
    CadEntity* e = AddOutline(d, CAD_ENT_SPLINE, 2);
    if (e) {
        e->closed = closed != 0;
        e->fit = 1;
    }
    return e;
}

CadEntity* CadAddHatch(CadDrawing* d, int pattern, double scale, double angle) {
    CadEntity* e = AddOutline(d, CAD_ENT_HATCH, 3);
    if (e) {
        e->closed = true;
        e->filled = pattern == 0;
        e->ival = pattern;
        e->p[0] = scale;
        e->p[1] = angle;
    }
    return e;
}

CadEntity* CadAddDimension(CadDrawing* d, int kind, double x1, double y1, double x2, double y2, double x3,
                           double y3) {
    CadEntity* e = NewEntity(d, CAD_ENT_DIMENSION);
    if (!e)
        return nullptr;
    e->ival = kind;
    e->pts = {{x1, y1, 0}, {x2, y2, 0}, {x3, y3, 0}};
    return e;
}

CadEntity* CadAddText(CadDrawing* d, const char* text, double x, double y, double z) {
    CadEntity* e = NewEntity(d, CAD_ENT_TEXT);
    if (!e)
        return nullptr;
    e->text = text ? text : "";
    e->pts = {{x, y, z}};
    e->p[0] = 1.0;
    return e;
}

CadEntity* CadAddImagePlace(CadDrawing* d, int imageId, int width, int height, double x, double y, double z,
                            double scale) {
    if (!d || width <= 0 || height <= 0 || !(scale > 0))
        return nullptr;
    CadEntity* e = NewEntity(d, CAD_ENT_IMAGE);
    e->ival = imageId;
    e->pts = {{x, y, z}};
    e->p[0] = width;
    e->p[1] = height;
    e->p[2] = scale;
    return e;
}

static bool Ok(const CadEntity* e) {
    return e && e->linked;
}

int CadEntityGetID(CadEntity* e) {
    return e ? e->id : 0;
}
int CadEntityGetType(CadEntity* e) {
    return e ? e->type : 0;
}
CadDrawing* CadEntityGetDrawing(CadEntity* e) {
    return e ? e->drawing : nullptr;
}

static const Box& BoxOf(CadEntity* e) {
    EnsureGeometry(e);
    return e->box;
}
double CadEntityGetLeft(CadEntity* e) {
    return Ok(e) && !BoxOf(e).Empty() ? e->box.l : 0;
}
double CadEntityGetTop(CadEntity* e) {
    return Ok(e) && !BoxOf(e).Empty() ? e->box.t : 0;
}
double CadEntityGetRight(CadEntity* e) {
    return Ok(e) && !BoxOf(e).Empty() ? e->box.r : 0;
}
double CadEntityGetBottom(CadEntity* e) {
    return Ok(e) && !BoxOf(e).Empty() ? e->box.b : 0;
}

int CadEntityGetLayerID(CadEntity* e) {
    return e ? e->layerId : -1;
}
int CadEntityPutLayerID(CadEntity* e, int id) {
    if (!Ok(e) || !CadGetLayerByID(e->drawing, id))
        return 0;
    e->layerId = id;
    TouchEntity(e);
    return 1;
}
CadLayer* CadEntityGetLayer(CadEntity* e) {
    return Ok(e) ? LayerOf(e) : nullptr;
}
int CadEntityGetColor(CadEntity* e) {
    return e ? e->colour : 0;
}
void CadEntityPutColor(CadEntity* e, int c) {
    if (!Ok(e))
        return;
    e->colour = c;
    e->drawing->dirty = true;
    NotifyRepaint(e->drawing);
}
int CadEntityGetLineWeight(CadEntity* e) {
    return e ? e->lineWeight : 0;
}
void CadEntityPutLineWeight(CadEntity* e, int w) {
    if (!Ok(e))
        return;
    e->lineWeight = w;
    e->drawing->dirty = true;
    NotifyRepaint(e->drawing);
}
uint32_t CadEntityGetLineType(CadEntity* e) {
    return e ? e->lineType : 0;
}
void CadEntityPutLineType(CadEntity* e, uint32_t t) {
    if (!Ok(e))
        return;
    e->lineType = t;
    e->drawing->dirty = true;
    NotifyRepaint(e->drawing);
}
int CadEntityGetVisible(CadEntity* e) {
    return e && e->visible ? 1 : 0;
}
void CadEntityPutVisible(CadEntity* e, int v) {
    if (!Ok(e))
        return;
    e->visible = v != 0;
    e->drawing->dirty = true;
    NotifyRepaint(e->drawing);
}
int CadEntityGetFilled(CadEntity* e) {
    return e && e->filled ? 1 : 0;
}
void CadEntityPutFilled(CadEntity* e, int v) {
    if (!Ok(e))
        return;
    e->filled = v != 0;
    TouchEntity(e);
}
int CadEntityGetDeleted(CadEntity* e) {
    return !e || e->erased || !e->linked ? 1 : 0;
}

int CadEntityErase(CadEntity* e, int erase) {
    if (!Ok(e) || !e->drawing)
        return 0;
    CadDrawing* d = e->drawing;
    if (e->block) {  // entities of block definitions only flip their flag
        e->erased = erase != 0;
        return 1;
    }
    if ((erase != 0) == e->erased)
        return 1;
    e->erased = erase != 0;
    if (e->erased)
        RemoveFromSelection(d, e);
    TouchEntity(e);
    if (e->erased)
        FireEntErase(d, e);
    return 1;
}

int CadEntityHold(CadEntity* e, int hold) {
    if (!e || !e->linked)
        return 0;
    if (hold)
        ++e->holds;
    else if (e->holds > 0)
        --e->holds;
    return e->holds;
}

int CadEntityGetHolds(CadEntity* e) {
    return e && e->linked ? e->holds : 0;
}

int CadEntityGetSelected(CadEntity* e) {
    return e && e->selected ? 1 : 0;
}
int CadSelectEntity(CadEntity* e, int select) {
    if (!Alive(e) || e->seq < 0)
        return 0;
    CadDrawing* d = e->drawing;
    if (select && !e->selected) {
        e->selected = true;
        d->selection.push_back(e);
    } else if (!select) {
        RemoveFromSelection(d, e);
    }
    NotifyRepaint(d);
    return 1;
}

void CadEntityPutUserPtr(CadEntity* e, void* p) {
    if (e)
        e->userPtr = p;
}
void* CadEntityGetUserPtr(CadEntity* e) {
    return e ? e->userPtr : nullptr;
}
void CadEntityPutUserData(CadEntity* e, int v) {
    if (!Ok(e))
        return;
    e->userData = v;
    e->drawing->dirty = true;
}
int CadEntityGetUserData(CadEntity* e) {
    return e ? e->userData : 0;
}

int CadEntityPutExData(CadEntity* e, const void* data, int size) {
    if (!Ok(e) || size < 0 || (size > 0 && !data))
        return 0;
    e->exData.assign(static_cast<const uint8_t*>(data), static_cast<const uint8_t*>(data) + size);
    e->drawing->dirty = true;
    return 1;
}

int CadEntityGetExData(CadEntity* e, void* buffer, int size) {
    if (!e)
        return 0;
    if (buffer && size > 0)
        std::memcpy(buffer, e->exData.data(), std::min(size_t(size), e->exData.size()));
    return int(e->exData.size());
}

// Vertex access: the defining vertices of outlines, the corners of rectangles.
static bool HasVertices(const CadEntity* e) {
    return e && (e->type == CAD_ENT_POLYLINE || e->type == CAD_ENT_POLYGON || e->type == CAD_ENT_SPLINE ||
                 e->type == CAD_ENT_HATCH || e->type == CAD_ENT_RECT);
}

// Calls fn with the entity's vertices: a rectangle's corners are its outline.
template <typename Fn>
static auto WithVertices(CadEntity* e, Fn fn) {
    if (e->type == CAD_ENT_RECT) {
        EnsureGeometry(e);
        return fn(e->outline);
    }
    return fn(e->pts);
}

int CadPlineGetNumVers(CadEntity* e) {
    return HasVertices(e) ? WithVertices(e, [](const auto& v) { return int(v.size()); }) : 0;
}

int CadPlineGetVer(CadEntity* e, int i, double* x, double* y, double* z) {
    if (!HasVertices(e))
        return 0;
    Vec3 v;
    const bool inside = WithVertices(e, [i, &v](const auto& all) {
        if (i < 0 || i >= int(all.size()))
            return false;
        v = all[size_t(i)];
        return true;
    });
    if (!inside)
        return 0;
    if (x)
        *x = v.x;
    if (y)
        *y = v.y;
    if (z)
        *z = v.z;
    return 1;
}

int CadPlinePutVer(CadEntity* e, int i, double x, double y, double z) {
    if (!Ok(e) || !HasVertices(e) || e->type == CAD_ENT_RECT || i < 0 || i >= int(e->pts.size()))
        return 0;
    e->pts[size_t(i)] = {x, y, z};
    e->Invalidate();
    return 1;
}

int CadPlineGetClosed(CadEntity* e) {
    return HasVertices(e) && (e->closed || e->type == CAD_ENT_RECT) ? 1 : 0;
}
void CadPlinePutClosed(CadEntity* e, int c) {
    if (!Ok(e) || !HasVertices(e) || e->type == CAD_ENT_RECT)
        return;
    e->closed = c != 0;
    e->Invalidate();
}
int CadPlineGetFit(CadEntity* e) {
    return e && e->type == CAD_ENT_POLYLINE ? e->fit : 0;
}

int CadPlineContainPoint(CadEntity* e, double x, double y) {
    if (!Ok(e))
        return 0;
    EnsureGeometry(e);
    if (e->outline.size() < 3)
        return 0;
    return PointInRing(OutlineReader(e->outline), x, y) ? 1 : 0;
}

int CadPlineGetInterPoint(CadEntity* e, double x1, double y1, double x2, double y2, double* x, double* y) {
    if (!Ok(e))
        return 0;
    EnsureGeometry(e);
    const OutlineReader o(e->outline);
    const size_t n = o.size();
    if (n < 2)
        return 0;
    double best = 2;
    double bx = 0, by = 0;
    auto test = [&](const Vec3& a, const Vec3& b) {
        double rx = x2 - x1, ry = y2 - y1, sx = b.x - a.x, sy = b.y - a.y;
        double den = rx * sy - ry * sx;
        if (std::fabs(den) < 1e-300)
            return;
        double t = ((a.x - x1) * sy - (a.y - y1) * sx) / den;
        double u = ((a.x - x1) * ry - (a.y - y1) * rx) / den;
        if (t < 0 || t > 1 || u < 0 || u > 1)
            return;
        if (t < best) {
            best = t;
            bx = x1 + t * rx;
            by = y1 + t * ry;
        }
    };
    Vec3 a = o[0];
    for (size_t i = 0; i + 1 < n; ++i) {
        const Vec3 b = o[i + 1];
        test(a, b);
        a = b;
    }
    if (IsClosedOutline(e))
        test(o[n - 1], o[0]);
    if (best > 1)
        return 0;
    if (x)
        *x = bx;
    if (y)
        *y = by;
    return 1;
}

double CadPlineGetLength(CadEntity* e) {
    if (!Ok(e))
        return 0;
    EnsureGeometry(e);
    const OutlineReader o(e->outline);
    double len = 0;
    if (o.empty())
        return len;
    Vec3 a = o[0];
    for (size_t i = 0; i + 1 < o.size(); ++i) {
        const Vec3 b = o[i + 1];
        len += std::hypot(b.x - a.x, b.y - a.y);
        a = b;
    }
    if (IsClosedOutline(e) && o.size() > 2)
        len += std::hypot(o.front().x - o.back().x, o.front().y - o.back().y);
    return len;
}

int CadPlineGetDistPoint(CadEntity* e, double dist, double* x, double* y, double* z) {
    if (!Ok(e))
        return 0;
    EnsureGeometry(e);
    std::vector<Vec3> o = e->outline;
    if (o.empty())
        return 0;
    if (IsClosedOutline(e) && o.size() > 2)
        o.push_back(o.front());
    Vec3 r = o.front();
    double left = std::max(0.0, dist);
    for (size_t i = 0; i + 1 < o.size(); ++i) {
        double seg = std::hypot(o[i + 1].x - o[i].x, o[i + 1].y - o[i].y);
        if (left <= seg && seg > 0) {
            double t = left / seg;
            r = {o[i].x + t * (o[i + 1].x - o[i].x), o[i].y + t * (o[i + 1].y - o[i].y),
                 o[i].z + t * (o[i + 1].z - o[i].z)};
            left = -1;
            break;
        }
        left -= seg;
    }
    if (left >= 0)
        r = o.back();
    if (x)
        *x = r.x;
    if (y)
        *y = r.y;
    if (z)
        *z = r.z;
    return 1;
}

static int Out3(const Vec3& v, double* x, double* y, double* z) {
    if (x)
        *x = v.x;
    if (y)
        *y = v.y;
    if (z)
        *z = v.z;
    return 1;
}

int CadPointGet(CadEntity* e, double* x, double* y, double* z) {
    if (!e || e->type != CAD_ENT_POINT || e->pts.empty())
        return 0;
    return Out3(e->pts[0], x, y, z);
}

int CadLineGet(CadEntity* e, double* x1, double* y1, double* z1, double* x2, double* y2, double* z2) {
    if (!e || e->type != CAD_ENT_LINE || e->pts.size() < 2)
        return 0;
    Out3(e->pts[0], x1, y1, z1);
    return Out3(e->pts[1], x2, y2, z2);
}

int CadPointPut(CadEntity* e, double x, double y, double z) {
    if (!Ok(e) || e->type != CAD_ENT_POINT || e->pts.empty())
        return 0;
    e->pts[0] = {x, y, z};
    e->Invalidate();
    return 1;
}

int CadLinePut(CadEntity* e, double x1, double y1, double z1, double x2, double y2, double z2) {
    if (!Ok(e) || e->type != CAD_ENT_LINE || e->pts.size() < 2)
        return 0;
    e->pts[0] = {x1, y1, z1};
    e->pts[1] = {x2, y2, z2};
    e->Invalidate();
    return 1;
}

int CadArcGet(CadEntity* e, double* x, double* y, double* z, double* r, double* a0, double* a1) {
    if (!e || e->type != CAD_ENT_ARC || e->pts.empty())
        return 0;
    Out3(e->pts[0], x, y, z);
    if (r)
        *r = e->p[0];
    if (a0)
        *a0 = e->p[1];
    if (a1)
        *a1 = e->p[2];
    return 1;
}

int CadArcIsCircle(CadEntity* e) {
    return e && e->type == CAD_ENT_ARC && e->ival == 1 ? 1 : 0;
}

int CadEllipseGet(CadEntity* e, double* x, double* y, double* z, double* rx, double* ry, double* angle,
                  double* t0, double* t1) {
    if (!e || e->type != CAD_ENT_ELLIPSE || e->pts.empty())
        return 0;
    Out3(e->pts[0], x, y, z);
    if (rx)
        *rx = e->p[0];
    if (ry)
        *ry = e->p[1];
    if (angle)
        *angle = e->p[2];
    if (t0)
        *t0 = e->p[3];
    if (t1)
        *t1 = e->p[4];
    return 1;
}

int CadRectGet(CadEntity* e, double* x, double* y, double* z, double* w, double* h, double* angle) {
    if (!e || e->type != CAD_ENT_RECT || e->pts.empty())
        return 0;
    Out3(e->pts[0], x, y, z);
    if (w)
        *w = e->p[0];
    if (h)
        *h = e->p[1];
    if (angle)
        *angle = e->p[2];
    return 1;
}

int CadHatchGet(CadEntity* e, int* pattern, double* scale, double* angle) {
    if (!e || e->type != CAD_ENT_HATCH)
        return 0;
    if (pattern)
        *pattern = e->ival;
    if (scale)
        *scale = e->p[0];
    if (angle)
        *angle = e->p[1];
    return 1;
}

int CadDimensionGet(CadEntity* e, int* kind, double* x1, double* y1, double* x2, double* y2, double* x3,
                    double* y3) {
    if (!e || e->type != CAD_ENT_DIMENSION || e->pts.size() < 3)
        return 0;
    if (kind)
        *kind = e->ival;
    Out3(e->pts[0], x1, y1, nullptr);
    Out3(e->pts[1], x2, y2, nullptr);
    Out3(e->pts[2], x3, y3, nullptr);
    return 1;
}

static bool IsDimension(const CadEntity* e) {
    return e && e->type == CAD_ENT_DIMENSION;
}

int CadDimensionGetText(CadEntity* e, char* buffer, int size) {
    return IsDimension(e) ? CopyOut(e->text, buffer, size) : 0;
}

int CadDimensionPutText(CadEntity* e, const char* text) {
    if (!IsDimension(e))
        return 0;
    e->text = text ? text : "";
    TouchEntity(e);
    return 1;
}

int CadDimensionGetStyle(CadEntity* e, double* textHeight, double* arrowSize, double* tickSize) {
    if (!IsDimension(e))
        return 0;
    if (textHeight)
        *textHeight = e->p[0];
    if (arrowSize)
        *arrowSize = e->p[1];
    if (tickSize)
        *tickSize = e->p[2];
    return 1;
}

int CadDimensionPutStyle(CadEntity* e, double textHeight, double arrowSize, double tickSize) {
    if (!IsDimension(e))
        return 0;
    auto size = [](double v) { return std::isfinite(v) && v > 0 ? v : 0.0; };
    e->p[0] = size(textHeight);
    e->p[1] = size(arrowSize);
    e->p[2] = size(tickSize);
    TouchEntity(e);
    return 1;
}

static bool IsText(const CadEntity* e) {
    return e && e->type == CAD_ENT_TEXT && !e->pts.empty();
}

int CadTextGetText(CadEntity* e, char* buffer, int size) {
    return IsText(e) ? CopyOut(e->text, buffer, size) : 0;
}
int CadTextPutText(CadEntity* e, const char* text) {
    if (!IsText(e) || !e->linked)
        return 0;
    e->text = text ? text : "";
    e->Invalidate();
    return 1;
}
double CadTextGetHeight(CadEntity* e) {
    return IsText(e) ? e->p[0] : 0;
}
void CadTextPutHeight(CadEntity* e, double h) {
    if (!IsText(e) || !e->linked || !(h > 0))
        return;
    e->p[0] = h;
    e->Invalidate();
}
double CadTextGetAngle(CadEntity* e) {
    return IsText(e) ? e->p[1] : 0;
}
void CadTextPutAngle(CadEntity* e, double a) {
    if (!IsText(e) || !e->linked)
        return;
    e->p[1] = a;
    e->Invalidate();
}
int CadTextGetAlign(CadEntity* e) {
    return IsText(e) ? e->ival : 0;
}
void CadTextPutAlign(CadEntity* e, int a) {
    if (!IsText(e) || !e->linked)
        return;
    e->ival = std::clamp(a, 0, int(CAD_TA_RIGHT_TOP));
    e->Invalidate();
}
int CadTextGetPoint(CadEntity* e, double* x, double* y, double* z) {
    return IsText(e) ? Out3(e->pts[0], x, y, z) : 0;
}

static bool IsImage(const CadEntity* e) {
    return e && e->type == CAD_ENT_IMAGE && !e->pts.empty();
}

int CadImageGetDefID(CadEntity* e) {
    return IsImage(e) ? e->ival : -1;
}
int CadImagePutFile(CadEntity* e, const char* name) {
    if (!IsImage(e) || !e->linked)
        return 0;
    e->text = name ? name : "";
    e->drawing->dirty = true;
    return 1;
}
int CadImageGetFile(CadEntity* e, char* buffer, int size) {
    return IsImage(e) ? CopyOut(e->text, buffer, size) : 0;
}
int CadImageGetPlace(CadEntity* e, int* w, int* h, double* x, double* y, double* z, double* scale) {
    if (!IsImage(e))
        return 0;
    if (w)
        *w = int(e->p[0]);
    if (h)
        *h = int(e->p[1]);
    if (scale)
        *scale = e->p[2];
    return Out3(e->pts[0], x, y, z);
}

// ---------------------------------------------------------------------------------------------
// Blocks

CadBlock* CadAddBlock(CadDrawing* d, const char* name, double x, double y, double z) {
    if (!d || !name || !*name || CadGetBlockByName(d, name))
        return nullptr;
    auto b = std::make_unique<CadBlock>();
    b->drawing = d;
    b->id = d->nextBlockId++;
    b->name = name;
    b->base = {x, y, z};
    CadBlock* raw = b.get();
    d->allBlocks.push_back(std::move(b));
    d->blocks.push_back(raw);
    d->dirty = true;
    return raw;
}

int CadBlockGetID(CadBlock* b) {
    return b ? b->id : 0;
}
CadBlock* CadGetBlockByID(CadDrawing* d, int id) {
    if (!d)
        return nullptr;
    for (CadBlock* b : d->blocks)
        if (b->id == id)
            return b;
    return nullptr;
}
CadBlock* CadGetBlockByName(CadDrawing* d, const char* name) {
    if (!d || !name)
        return nullptr;
    for (CadBlock* b : d->blocks)
        if (QString::fromStdString(b->name).compare(QString::fromUtf8(name), Qt::CaseInsensitive) == 0)
            return b;
    return nullptr;
}
int CadBlockGetName(CadBlock* b, char* buffer, int size) {
    return b ? CopyOut(b->name, buffer, size) : 0;
}
int CadBlockGetBase(CadBlock* b, double* x, double* y, double* z) {
    return b ? Out3(b->base, x, y, z) : 0;
}

int CadBlockAddEntity(CadBlock* b, CadEntity* e) {
    if (!b || !b->linked || !Alive(e) || e->drawing != b->drawing || e->block || e->seq < 0)
        return 0;
    if (e->type == CAD_ENT_INSERT || e->type == CAD_ENT_IMAGE)
        return 0;
    CadDrawing* d = b->drawing;
    RemoveFromSelection(d, e);
    d->order.erase(d->order.begin() + e->seq);
    for (size_t i = size_t(e->seq); i < d->order.size(); ++i)
        d->order[i]->seq = int(i);
    d->byId.erase(e->id);
    e->seq = -1;
    e->block = b;
    b->entities.push_back(e);
    for (CadEntity* o : d->order)
        if (o->type == CAD_ENT_INSERT && o->ival == b->id)
            o->cacheValid = false;
    Touch(d);
    return 1;
}

CadEntity* CadBlockGetFirstEntity(CadBlock* b) {
    if (!b)
        return nullptr;
    for (CadEntity* e : b->entities)
        if (!e->erased)
            return e;
    return nullptr;
}

CadEntity* CadBlockGetNextEntity(CadBlock* b, CadEntity* e) {
    if (!b || !e)
        return nullptr;
    auto it = std::find(b->entities.begin(), b->entities.end(), e);
    if (it == b->entities.end())
        return nullptr;
    for (++it; it != b->entities.end(); ++it)
        if (!(*it)->erased)
            return *it;
    return nullptr;
}

CadBlock* CadGetFirstBlock(CadDrawing* d) {
    return d && !d->blocks.empty() ? d->blocks.front() : nullptr;
}
CadBlock* CadGetNextBlock(CadDrawing* d, CadBlock* b) {
    if (!d || !b)
        return nullptr;
    auto it = std::find(d->blocks.begin(), d->blocks.end(), b);
    if (it == d->blocks.end() || ++it == d->blocks.end())
        return nullptr;
    return *it;
}

CadEntity* CadAddInsBlock(CadDrawing* d, int blockId, double x, double y, double z, double scale,
                          double angle) {
    if (!CadGetBlockByID(d, blockId))
        return nullptr;
    CadEntity* e = NewEntity(d, CAD_ENT_INSERT);
    e->ival = blockId;
    e->pts = {{x, y, z}};
    e->p[0] = scale == 0 ? 1 : scale;
    e->p[1] = angle;
    return e;
}

int CadInsertGet(CadEntity* e, int* blockId, double* x, double* y, double* z, double* scale, double* angle) {
    if (!e || e->type != CAD_ENT_INSERT || e->pts.empty())
        return 0;
    if (blockId)
        *blockId = e->ival;
    if (scale)
        *scale = e->p[0];
    if (angle)
        *angle = e->p[1];
    return Out3(e->pts[0], x, y, z);
}

// ---------------------------------------------------------------------------------------------
// Selection

static bool Selectable(CadEntity* e) {
    if (!EntityShown(e) || e->seq < 0)
        return false;
    CadLayer* l = LayerOf(e);
    return !l || !l->locked;
}

int CadSelectByPolygon(CadDrawing* d, CadEntity* poly, int crossing, int select) {
    if (!d || !Alive(poly) || poly->drawing != d)
        return 0;
    EnsureGeometry(poly);
    if (poly->outline.size() < 3)
        return 0;
    std::vector<Vec3> ring = poly->outline;
    Box pb = poly->box;
    auto segCross = [](const Vec3& a, const Vec3& b, const Vec3& c, const Vec3& dd) {
        auto orient = [](const Vec3& p, const Vec3& q, const Vec3& r) {
            double v = (q.x - p.x) * (r.y - p.y) - (q.y - p.y) * (r.x - p.x);
            return (v > 0) - (v < 0);
        };
        int o1 = orient(a, b, c), o2 = orient(a, b, dd), o3 = orient(c, dd, a), o4 = orient(c, dd, b);
        return o1 != o2 && o3 != o4;
    };
    std::vector<CadEntity*> hits;
    IndexOf(d).Query(pb, [&](const IndexItem& it) {
        if (std::find(hits.begin(), hits.end(), it.entity) == hits.end())
            hits.push_back(it.entity);
    });
    std::sort(hits.begin(), hits.end(), [](CadEntity* a, CadEntity* b) { return a->seq < b->seq; });
    int changed = 0;
    for (CadEntity* e : hits) {
        if (!Selectable(e))
            continue;
        EnsureGeometry(e);
        const OutlineReader o(e->outline);
        bool allInside = !o.empty();
        bool anyInside = false;
        for (size_t i = 0; i < o.size(); ++i) {
            const Vec3 v = o[i];
            bool in = PointInRing(ring, v.x, v.y);
            allInside = allInside && in;
            anyInside = anyInside || in;
        }
        bool hit = allInside;
        if (!hit && crossing) {
            hit = anyInside;
            if (!hit && e == poly)
                hit = true;
            if (!hit && o.size() >= 1 && PointInRing(o, ring[0].x, ring[0].y) && PickInside(e))
                hit = true;
            // A closed outline's closing side counts as well.
            const size_t sides = o.size() < 2 ? 0 : IsClosedOutline(e) ? o.size() : o.size() - 1;
            for (size_t i = 0; !hit && i < sides; ++i)
                for (size_t j = 0; !hit && j < ring.size(); ++j)
                    hit = segCross(o[i], o[(i + 1) % o.size()], ring[j], ring[(j + 1) % ring.size()]);
        }
        if (!hit)
            continue;
        if (select && !e->selected) {
            e->selected = true;
            d->selection.push_back(e);
            ++changed;
        } else if (!select && e->selected) {
            RemoveFromSelection(d, e);
            ++changed;
        }
    }
    NotifyRepaint(d);
    return changed;
}

void CadSelectClear(CadDrawing* d) {
    if (!d)
        return;
    for (CadEntity* e : d->selection)
        e->selected = false;
    d->selection.clear();
    NotifyRepaint(d);
}

int CadSelCount(CadDrawing* d) {
    return d ? int(d->selection.size()) : 0;
}
CadEntity* CadSelGetFirst(CadDrawing* d) {
    return d && !d->selection.empty() ? d->selection.front() : nullptr;
}
CadEntity* CadSelGetNext(CadDrawing* d, CadEntity* e) {
    if (!d || !e)
        return nullptr;
    auto it = std::find(d->selection.begin(), d->selection.end(), e);
    if (it == d->selection.end() || ++it == d->selection.end())
        return nullptr;
    return *it;
}

void CadSelectAll(CadDrawing* d) {
    if (!d)
        return;
    for (CadEntity* e : d->order)
        if (!e->selected && Selectable(e)) {
            e->selected = true;
            d->selection.push_back(e);
        }
    NotifyRepaint(d);
}

// ---------------------------------------------------------------------------------------------
// Clipboard

namespace {
struct Clipboard {
    std::unique_ptr<CadDrawing> content;
};
Clipboard& Board() {
    static Clipboard c;
    return c;
}
}  // namespace

int CadCbCopy(CadDrawing* d, QWidget*) {
    if (!d)
        return 0;
    auto board = std::unique_ptr<CadDrawing>(NewDrawing());
    for (CadEntity* e : d->selection) {
        if (!Alive(e))
            continue;
        CadLayer* l = LayerOf(e);
        if (l && !CadGetLayerByID(board.get(), l->id)) {
            auto copy = std::make_unique<CadLayer>(*l);
            copy->drawing = board.get();
            copy->linked = true;
            board->layers.push_back(copy.get());
            board->allLayers.push_back(std::move(copy));
        }
        if (e->type == CAD_ENT_INSERT) {
            CadBlock* b = CadGetBlockByID(d, e->ival);
            if (b && !CadGetBlockByID(board.get(), b->id)) {
                auto nb = std::make_unique<CadBlock>();
                nb->drawing = board.get();
                nb->id = b->id;
                nb->name = b->name;
                nb->base = b->base;
                for (CadEntity* be : b->entities) {
                    CadEntity* c = CloneEntity(board.get(), be);
                    c->block = nb.get();
                    nb->entities.push_back(c);
                }
                board->blocks.push_back(nb.get());
                board->allBlocks.push_back(std::move(nb));
            }
        }
        CadEntity* c = CloneEntity(board.get(), e);
        c->id = board->nextEntityId++;
        AppendEntity(board.get(), c);
    }
    Board().content = std::move(board);
    return 1;
}

int CadCbPaste(CadDrawing* d, double dx, double dy, double dz) {
    CadDrawing* src = Board().content.get();
    if (!d || !src)
        return 0;
    std::unordered_map<int, int> layerMap, blockMap;
    for (CadLayer* l : src->layers) {
        CadLayer* t = CadGetLayerByName(d, l->name.c_str());
        if (!t) {
            t = CadAddLayer(d, l->name.c_str(), l->colour, l->lineType, l->lineWeight);
            if (t) {
                t->visible = l->visible;
                t->locked = l->locked;
                t->level = l->level;
            }
        }
        layerMap[l->id] = t ? t->id : 0;
    }
    auto shift = [&](CadEntity* c) {
        for (Vec3& v : c->pts)
            v = {v.x + dx, v.y + dy, v.z + dz};
    };
    for (CadBlock* b : src->blocks) {
        std::string name = b->name;
        for (int k = 1; CadGetBlockByName(d, name.c_str()); ++k)
            name = b->name + "_" + std::to_string(k);
        CadBlock* nb = CadAddBlock(d, name.c_str(), b->base.x, b->base.y, b->base.z);
        for (CadEntity* be : b->entities) {
            CadEntity* c = CloneEntity(d, be);
            c->id = d->nextEntityId++;
            c->layerId = layerMap.count(be->layerId) ? layerMap[be->layerId] : 0;
            c->block = nb;
            c->linked = true;
            nb->entities.push_back(c);
        }
        blockMap[b->id] = nb->id;
    }
    int n = 0;
    for (CadEntity* e : src->order) {
        if (!Alive(e))
            continue;
        CadEntity* c = CloneEntity(d, e);
        c->id = d->nextEntityId++;
        c->layerId = layerMap.count(e->layerId) ? layerMap[e->layerId] : 0;
        if (c->type == CAD_ENT_INSERT)
            c->ival = blockMap.count(e->ival) ? blockMap[e->ival] : c->ival;
        shift(c);
        AppendEntity(d, c);
        ++n;
    }
    return n;
}
