// The engine's interaction: event procedure registration and answers, set-up calls, user
// commands, the input calls with their nested event loops, scripted input, object snaps,
// context menus and the deletion of drawings.
#include <QEventLoop>
#include <QGuiApplication>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <map>

#include "platform/cad/CadInternal.h"

namespace cad {

namespace {

EventCall* g_event = nullptr;  // innermost event procedure call
int g_keyFlags = 0;
bool g_keyFlagsValid = false;
bool g_strict = false;
bool g_accel = false;
CadDrawing* g_active = nullptr;
std::map<int, int> g_params;
std::map<std::string, std::string> g_imageReaders;
std::map<int, std::vector<std::pair<std::string, int>>> g_menus;
std::vector<CadDrawing*> g_drawings;  // live drawings, to validate the active one

int KeyFlagsNow() {
    Qt::KeyboardModifiers m = QGuiApplication::queryKeyboardModifiers();
    return (m & Qt::ShiftModifier ? CAD_KEY_SHIFT : 0) | (m & Qt::ControlModifier ? CAD_KEY_CONTROL : 0) |
           (m & Qt::AltModifier ? CAD_KEY_ALT : 0);
}

const UserCommand* FindCommand(CadDrawing* d, int id) {
    for (const UserCommand& c : d->commands)
        if (c.id == id)
            return &c;
    return nullptr;
}

const UserCommand* FindCommandByName(CadDrawing* d, const std::string& typed) {
    QString t = QString::fromStdString(typed).trimmed();
    if (t.isEmpty())
        return nullptr;
    for (const UserCommand& c : d->commands)
        if (QString::fromStdString(c.name).compare(t, Qt::CaseInsensitive) == 0)
            return &c;
    for (const UserCommand& c : d->commands)
        if (!c.alias.empty() && QString::fromStdString(c.alias).compare(t, Qt::CaseInsensitive) == 0)
            return &c;
    return nullptr;
}

// A typed point: "x,y" or "x,y,z"; "@dx,dy[,dz]" from the last point; polar "d<angle" (degrees,
// counter-clockwise from the x axis) from the origin or "@d<angle" from the last point; "@" alone
// is the last point.
bool ParsePoint(const std::string& text, const Vec3& last, Vec3& p) {
    QString t = QString::fromStdString(text).trimmed();
    const bool relative = t.startsWith('@');
    if (relative)
        t = t.mid(1).trimmed();
    const Vec3 base = relative ? last : Vec3{0, 0, 0};
    if (relative && t.isEmpty()) {
        p = last;
        return true;
    }
    const int lt = t.indexOf('<');
    if (lt >= 0) {
        bool ok1 = false, ok2 = false;
        const double dist = t.left(lt).trimmed().toDouble(&ok1);
        const double deg = t.mid(lt + 1).trimmed().toDouble(&ok2);
        if (!ok1 || !ok2 || !std::isfinite(dist) || !std::isfinite(deg))
            return false;
        const double a = deg * 3.14159265358979323846 / 180.0;
        p = {base.x + dist * std::cos(a), base.y + dist * std::sin(a), base.z};
        return true;
    }
    QStringList parts = t.split(',');
    if (parts.size() < 2 || parts.size() > 3)
        return false;
    bool ok = true;
    double v[3] = {0, 0, 0};
    for (int i = 0; i < parts.size() && ok; ++i) {
        v[i] = parts[i].trimmed().toDouble(&ok);
        ok = ok && std::isfinite(v[i]);
    }
    if (!ok)
        return false;
    p = {base.x + v[0], base.y + v[1], base.z + v[2]};
    return true;
}

void Finish(WaitFrame* f, int answer) {
    f->done = true;
    f->answer = answer;
    if (f->loop)
        f->loop->quit();
}

void FreeDrawing(CadDrawing* d) {
    g_drawings.erase(std::remove(g_drawings.begin(), g_drawings.end(), d), g_drawings.end());
    if (g_active == d)
        g_active = g_drawings.empty() ? nullptr : g_drawings.back();
    delete d;
}

bool SegmentMeetsBox(const Vec3& s0, const Vec3& s1, const Box& w) {
    // Liang-Barsky clip of the segment against the box.
    double t0 = 0, t1 = 1, dx = s1.x - s0.x, dy = s1.y - s0.y;
    const double pp[4] = {-dx, dx, -dy, dy};
    const double qq[4] = {s0.x - w.l, w.r - s0.x, s0.y - w.b, w.t - s0.y};
    for (int k = 0; k < 4; ++k) {
        if (pp[k] == 0) {
            if (qq[k] < 0)
                return false;
        } else {
            double r = qq[k] / pp[k];
            if (pp[k] < 0)
                t0 = std::max(t0, r);
            else
                t1 = std::min(t1, r);
        }
    }
    return t0 <= t1;
}

}  // namespace

void SelectWindow(CadDrawing* d, const Vec3& a, const Vec3& b) {
    Box w;
    w.Add(a.x, a.y);
    w.Add(b.x, b.y);
    const bool crossing = b.x < a.x;
    IndexOf(d).Query(w, [&](const IndexItem& it) {
        CadEntity* e = it.entity;
        if (e->selected || !EntityShown(e))
            return;
        CadLayer* l = LayerOf(e);
        if (l && l->locked)
            return;
        EnsureGeometry(e);
        bool hit = w.Contains(e->box);
        if (!hit && crossing) {
            const OutlineReader o(e->outline);
            const int n = int(o.size());
            const int first = it.count == 0 ? 0 : it.first;
            const int last = it.count == 0 ? n - 1 : std::min(n - 1, it.first + it.count - 1);
            if (n == 1)
                hit = w.Contains(e->box);
            for (int i = first; !hit && i < last; ++i)
                hit = SegmentMeetsBox(o[size_t(i)], o[size_t(i) + 1], w);
            if (!hit && n > 2)
                hit = SegmentMeetsBox(o[size_t(n) - 1], o[0], w) && CadPlineGetClosed(e);
            if (!hit && n > 2 && it.count == 0)
                hit = CadPlineContainPoint(e, w.l, w.b) && e->type == CAD_ENT_IMAGE;
        }
        if (hit) {
            e->selected = true;
            d->selection.push_back(e);
        }
    });
    NotifyRepaint(d);
}

// Waits until the innermost frame of this call is answered or cancelled.
int WaitInput(CadDrawing* d, WaitKind kind, int engine, RubberBand band, bool rawText,
              std::function<CadEntity*(double x, double y)> pickAt) {
    WaitFrame f;
    f.kind = kind;
    f.engine = engine;
    f.band = std::move(band);
    f.rawText = rawText;
    f.pickAt = std::move(pickAt);
    if (!engine && !d->runningCommands.empty()) {
        const UserCommand* c = FindCommand(d, d->runningCommands.back());
        f.rubberBand = c ? c->rubberBand : nullptr;
    }
    d->waits.push_back(&f);
    NotifyRepaint(d);
    while (!f.done && !f.cancelled) {
        if (!d->script.empty()) {
            ScriptItem item = std::move(d->script.front());
            d->script.pop_front();
            if (item.kind == ScriptKind::Call) {
                if (item.call)
                    item.call();
                continue;
            }
            DeliverInput(d, item);
            continue;
        }
        if (g_strict || d->deletePending) {
            f.cancelled = true;
            break;
        }
        QEventLoop loop;
        f.loop = &loop;
        loop.exec();
        f.loop = nullptr;
    }
    d->waits.erase(std::remove(d->waits.begin(), d->waits.end(), &f), d->waits.end());
    NotifyRepaint(d);
    if (f.cancelled && !f.done) {
        d->inputEntity = nullptr;
        return CAD_INPUT_CANCEL;
    }
    return f.answer;
}

EventProcs& Events() {
    static EventProcs p;
    return p;
}

EventCall::EventCall(int keyFlags)
    : outer_(g_event), flags_(keyFlags), savedFlags_(g_keyFlags), savedValid_(g_keyFlagsValid) {
    g_event = this;
    g_keyFlags = flags_;
    g_keyFlagsValid = true;
}

EventCall::~EventCall() {
    g_event = outer_;
    g_keyFlags = savedFlags_;
    g_keyFlagsValid = savedValid_;
}

int EventCall::Answer(int returned) const {
    return set ? value : returned;
}

void SetKeyFlags(int flags) {
    g_keyFlags = flags;
    g_keyFlagsValid = true;
}

CadDrawing* ActiveDrawing() {
    if (g_active && std::find(g_drawings.begin(), g_drawings.end(), g_active) == g_drawings.end())
        g_active = nullptr;
    return g_active;
}

void SetActiveDrawing(CadDrawing* d) {
    if (d && g_active != d) {
        g_active = d;
        PromptChanged(d);
    }
}

bool AcceleratorsOn() {
    return g_accel;
}

CadDrawing* RegisterDrawing(CadDrawing* d) {
    g_drawings.push_back(d);
    if (!g_active)
        g_active = d;
    return d;
}

const std::vector<std::pair<std::string, int>>& MenuItems(int menu) {
    return g_menus[menu];
}

void FireEntErase(CadDrawing* d, CadEntity* e) {
    if (Events().entErase)
        CallEvent(CadGetKeyFlags(), [&] { return Events().entErase(d, e); });
}

double ApertureOf(CadDrawing* d) {
    double px = PixelSizeOf(d);
    if (px > 0)
        return 6.0 * px;
    double l, b, r, t;
    if (CadGetExtents(d, &l, &b, &r, &t))
        return std::max(std::hypot(r - l, t - b) * 0.002, 1e-9);
    return 1e-9;
}

CadEntity* PickEntity(CadDrawing* d, double x, double y, double aperture) {
    CadEntity* best = nullptr;
    double bestD = aperture;
    int bestRank = -1;
    // Later layers in the drawing order lie on top; within a layer, later entities.
    std::unordered_map<int, int> layerRank;
    for (size_t i = 0; i < d->layers.size(); ++i)
        layerRank[d->layers[i]->id] = int(i);
    Box q;
    q.Add(x - aperture, y - aperture);
    q.Add(x + aperture, y + aperture);
    IndexOf(d).Query(q, [&](const IndexItem& it) {
        CadEntity* e = it.entity;
        if (!EntityShown(e))
            return;
        double dist = DistanceToEntity(e, x, y, it.first, it.count);
        if (dist > aperture)
            return;
        int rank = layerRank.count(e->layerId) ? layerRank[e->layerId] : 0;
        // Lines win over areas they lie in: areas count as a little farther.
        if (dist == 0 && (e->type == CAD_ENT_IMAGE || e->type == CAD_ENT_POLYGON || e->filled))
            dist = aperture * 0.5;
        if (!best || dist < bestD - 1e-12 ||
            (std::fabs(dist - bestD) <= 1e-12 &&
             (rank > bestRank || (rank == bestRank && e->seq > best->seq)))) {
            best = e;
            bestD = dist;
            bestRank = rank;
        }
    });
    return best;
}

std::vector<CadEntity*> ImagePlacesAt(CadDrawing* d, double x, double y, const CadImagePlaceFilter& accept) {
    std::unordered_map<int, int> layerRank;
    for (size_t i = 0; i < d->layers.size(); ++i)
        layerRank[d->layers[i]->id] = int(i);
    std::vector<CadEntity*> found;
    Box q;
    q.Add(x, y);
    IndexOf(d).Query(q, [&](const IndexItem& it) {
        CadEntity* e = it.entity;
        if (e->type != CAD_ENT_IMAGE || !EntityShown(e) ||
            std::find(found.begin(), found.end(), e) != found.end() || !CadPlineContainPoint(e, x, y) ||
            (accept && !accept(e)))
            return;
        found.push_back(e);
    });
    // Later layers in the drawing order lie on top; within a layer, later entities.
    auto rank = [&](const CadEntity* e) {
        const auto r = layerRank.find(e->layerId);
        return std::make_pair(r == layerRank.end() ? 0 : r->second, e->seq);
    };
    std::sort(found.begin(), found.end(),
              [&](const CadEntity* a, const CadEntity* b) { return rank(a) > rank(b); });
    return found;
}

Vec3 SnapPoint(CadDrawing* d, double x, double y, double aperture, int* kindOut) {
    Vec3 raw{x, y, 0};
    if (kindOut)
        *kindOut = 0;
    if (!d->snapOn || d->snapMode == 0)
        return raw;
    const int mode = d->snapMode;
    Vec3 best = raw;
    double bestD = 1e300;
    int bestKind = 0;
    auto offer = [&](const Vec3& p, int kind, double penalty) {
        if (std::fabs(p.x - x) > aperture || std::fabs(p.y - y) > aperture)
            return;
        double dist = std::hypot(p.x - x, p.y - y);
        if (dist > aperture)
            return;
        dist += penalty;
        if (dist < bestD) {
            bestD = dist;
            best = p;
            bestKind = kind;
        }
    };
    Box q;
    q.Add(x - aperture, y - aperture);
    q.Add(x + aperture, y + aperture);
    std::vector<std::pair<Vec3, Vec3>> segs;  // near segments, for intersections
    const bool havePrev = !d->waits.empty();
    const Vec3 prev = d->lastPoint;
    // The snaps of one outline: vertices a to b, with the side from the last vertex back to the
    // first when closingSide; centre is the entity's defining point.
    auto snapShape = [&](int type, const auto& o, const Vec3* centre, int a, int b, bool closingSide) {
        const int n = int(o.size());
        const bool isCurve = type == CAD_ENT_ARC || type == CAD_ENT_ELLIPSE;
        if ((mode & CAD_SNAP_NODE) && centre && (type == CAD_ENT_POINT || type == CAD_ENT_TEXT))
            offer(*centre, CAD_SNAP_NODE, 0);
        if ((mode & CAD_SNAP_CENTER) && centre && isCurve)
            offer(*centre, CAD_SNAP_CENTER, 0);
        if (type == CAD_ENT_POINT || type == CAD_ENT_TEXT)
            return;
        const bool vertexSnaps = !isCurve || type == CAD_ENT_ARC;
        for (int i = a; i <= b && i < n; ++i) {
            bool end = i == 0 || i == n - 1;
            if ((mode & CAD_SNAP_END) && vertexSnaps && (end || !isCurve))
                offer(o[size_t(i)], CAD_SNAP_END, 0);
        }
        // Only the segments that pass through the aperture can give a snap point.
        std::vector<std::pair<Vec3, Vec3>> mine;
        auto near = [&](const Vec3& u, const Vec3& v) {
            return std::min(u.x, v.x) <= q.r && std::max(u.x, v.x) >= q.l && std::min(u.y, v.y) <= q.t &&
                   std::max(u.y, v.y) >= q.b;
        };
        for (int i = a; i < b; ++i)
            if (near(o[size_t(i)], o[size_t(i) + 1]))
                mine.push_back({o[size_t(i)], o[size_t(i) + 1]});
        if (closingSide && n > 2 && near(o[size_t(n) - 1], o[0]))
            mine.push_back({o[size_t(n) - 1], o[0]});
        for (const auto& s : mine) {
            double dx = s.second.x - s.first.x, dy = s.second.y - s.first.y, len2 = dx * dx + dy * dy;
            if ((mode & CAD_SNAP_MID) && !isCurve)
                offer({(s.first.x + s.second.x) / 2, (s.first.y + s.second.y) / 2,
                       (s.first.z + s.second.z) / 2},
                      CAD_SNAP_MID, 0);
            if (len2 <= 0)
                continue;
            if (mode & CAD_SNAP_NEAREST) {
                double t = std::clamp(((x - s.first.x) * dx + (y - s.first.y) * dy) / len2, 0.0, 1.0);
                offer({s.first.x + t * dx, s.first.y + t * dy, s.first.z + t * (s.second.z - s.first.z)},
                      CAD_SNAP_NEAREST, aperture * 0.5);
            }
            if ((mode & CAD_SNAP_PERPENDICULAR) && havePrev) {
                double t = ((prev.x - s.first.x) * dx + (prev.y - s.first.y) * dy) / len2;
                if (t >= 0 && t <= 1)
                    offer({s.first.x + t * dx, s.first.y + t * dy, s.first.z + t * (s.second.z - s.first.z)},
                          CAD_SNAP_PERPENDICULAR, 0);
            }
            if (mode & CAD_SNAP_INTERSECTION)
                segs.push_back(s);
        }
    };
    auto closedRing = [](const CadEntity* e) {
        return e->closed || e->type == CAD_ENT_RECT || e->type == CAD_ENT_POLYGON || e->type == CAD_ENT_HATCH;
    };
    IndexOf(d).Query(q, [&](const IndexItem& it) {
        CadEntity* e = it.entity;
        if (!EntityShown(e) || e->type == CAD_ENT_IMAGE)
            return;
        EnsureGeometry(e);
        if (e->type == CAD_ENT_INSERT) {
            // The insertion point, and the snaps of the block's entities where the reference puts them.
            if (mode & CAD_SNAP_NODE)
                offer(e->pts[0], CAD_SNAP_NODE, 0);
            CadBlock* b = CadGetBlockByID(d, e->ival);
            if (!b)
                return;
            std::vector<Vec3> placed;
            for (CadEntity* be : b->entities) {
                if (!BlockEntityShown(be) || be->type == CAD_ENT_INSERT || be->pts.empty())
                    continue;
                EnsureGeometry(be);
                placed.clear();
                for (const Vec3& v : be->outline)
                    placed.push_back(PlaceInBlockRef(e, b, v));
                const Vec3 centre = PlaceInBlockRef(e, b, be->pts[0]);
                snapShape(be->type, placed, &centre, 0, int(placed.size()) - 1, closedRing(be));
            }
            return;
        }
        const int n = int(e->outline.size());
        const int a = it.count == 0 ? 0 : it.first;
        const int b = it.count == 0 ? n - 1 : std::min(n - 1, it.first + it.count - 1);
        const Vec3* centre = e->pts.empty() ? nullptr : &e->pts[0];
        snapShape(e->type, OutlineReader(e->outline), centre, a, b,
                  closedRing(e) && (it.count == 0 || it.first + it.count >= n));
    });
    if ((mode & CAD_SNAP_INTERSECTION) && segs.size() > 1 && segs.size() < 4000) {
        for (size_t i = 0; i < segs.size(); ++i)
            for (size_t j = i + 1; j < segs.size(); ++j) {
                const Vec3 &p = segs[i].first, &p2 = segs[i].second, &r = segs[j].first, &r2 = segs[j].second;
                double ax = p2.x - p.x, ay = p2.y - p.y, bx = r2.x - r.x, by = r2.y - r.y;
                double den = ax * by - ay * bx;
                if (std::fabs(den) < 1e-300)
                    continue;
                double t = ((r.x - p.x) * by - (r.y - p.y) * bx) / den;
                double u = ((r.x - p.x) * ay - (r.y - p.y) * ax) / den;
                if (t < 0 || t > 1 || u < 0 || u > 1)
                    continue;
                offer({p.x + t * ax, p.y + t * ay, p.z + t * (p2.z - p.z)}, CAD_SNAP_INTERSECTION, 0);
            }
    }
    if (bestKind == 0 && (mode & CAD_SNAP_IMAGEPLACE) && Events().snapToImagePlace) {
        // The top-most visible image place under the point answers through the event.
        CadEntity* place = nullptr;
        Box pt;
        pt.Add(x, y);
        std::unordered_map<int, int> layerRank;
        for (size_t i = 0; i < d->layers.size(); ++i)
            layerRank[d->layers[i]->id] = int(i);
        int rank = -1;
        IndexOf(d).Query(pt, [&](const IndexItem& it) {
            CadEntity* e = it.entity;
            if (e->type != CAD_ENT_IMAGE || !EntityShown(e))
                return;
            int r = layerRank.count(e->layerId) ? layerRank[e->layerId] : 0;
            if (!place || r > rank || (r == rank && e->seq > place->seq)) {
                place = e;
                rank = r;
            }
        });
        if (place) {
            double ox = x, oy = y, oz = 0;
            int answer = CallEvent(CadGetKeyFlags(),
                                   [&] { return Events().snapToImagePlace(d, place, x, y, &ox, &oy, &oz); });
            if (answer) {
                best = {ox, oy, oz};
                bestKind = CAD_SNAP_IMAGEPLACE;
            }
        }
    }
    if (kindOut)
        *kindOut = bestKind;
    return best;
}

namespace {

// The transcript's line of the prompt just answered: the prompt as it read, then what the operator
// typed (nothing for a pick, Enter or a cancel). One line per answered prompt.
void LogAnswer(CadDrawing* d, const std::string& typed) {
    if (d->promptLogged)
        return;
    if (!d->prompt.empty())
        AddHistory(d, typed.empty() ? d->prompt : d->prompt + " " + typed);
    else if (!typed.empty())
        AddHistory(d, typed);
    d->promptLogged = true;
}

bool TakeInput(CadDrawing* d, WaitFrame* f, const ScriptItem& item) {
    switch (item.kind) {
        case ScriptKind::Cancel:
            d->inputEntity = nullptr;
            f->cancelled = true;
            Finish(f, CAD_INPUT_CANCEL);
            return true;
        case ScriptKind::Close:
            if (f->engine && f->kind == WaitKind::Input) {
                Finish(f, kInputClose);
                return true;
            }
            [[fallthrough]];  // elsewhere "Enter Closed" is an Enter
        case ScriptKind::Finish:
            d->inputEntity = nullptr;
            Finish(f, f->kind == WaitKind::Input ? CAD_INPUT_FINISH : f->kind == WaitKind::Select ? 1 : 0);
            return true;
        case ScriptKind::Undo:
            if (!f->engine || f->kind != WaitKind::Input)
                return false;
            Finish(f, kInputUndo);
            return true;
        case ScriptKind::Text: {
            Vec3 p{0, 0, 0};
            bool isPoint = !f->rawText && ParsePoint(item.text, d->lastPoint, p);
            if (f->kind == WaitKind::Input) {
                d->inputText = item.text;
                if (isPoint) {
                    d->inputPoint = d->inputRaw = d->lastPoint = p;
                    SetKeyFlags(item.keyFlags);
                    Finish(f, CAD_INPUT_POINT);
                } else {
                    Finish(f, CAD_INPUT_TEXT);
                }
                return true;
            }
            if (f->kind == WaitKind::Point && isPoint) {
                d->inputPoint = d->inputRaw = d->lastPoint = p;
                Finish(f, 1);
                return true;
            }
            return false;
        }
        case ScriptKind::Entity:
            if (f->kind == WaitKind::Entity && Alive(item.entity) && item.entity->drawing == d) {
                d->inputEntity = item.entity;
                SetKeyFlags(item.keyFlags);
                Finish(f, 1);
                return true;
            }
            if (f->kind == WaitKind::Select && Alive(item.entity) && item.entity->drawing == d) {
                CadSelectEntity(item.entity, 1);
                return true;
            }
            return false;
        case ScriptKind::Point: {
            SetKeyFlags(item.keyFlags);
            if (f->kind == WaitKind::Input || f->kind == WaitKind::Point) {
                d->inputPoint = SnapPoint(d, item.point.x, item.point.y, ApertureOf(d));
                if (d->inputPoint.z == 0 && item.point.z != 0)
                    d->inputPoint.z = item.point.z;
                d->inputRaw = item.point;
                d->lastPoint = d->inputPoint;
                d->inputKeyFlags = item.keyFlags;
                Finish(f, f->kind == WaitKind::Input ? CAD_INPUT_POINT : 1);
                return true;
            }
            if (f->kind == WaitKind::Entity) {
                CadEntity* e = f->pickAt ? f->pickAt(item.point.x, item.point.y)
                                         : PickEntity(d, item.point.x, item.point.y, ApertureOf(d));
                if (!e)
                    return false;
                d->inputEntity = e;
                Finish(f, 1);
                return true;
            }
            CadEntity* e = PickEntity(d, item.point.x, item.point.y, ApertureOf(d));
            // Selection: a pick adds the entity; on empty space two points make a window.
            if (e && !f->haveCorner) {
                CadLayer* l = LayerOf(e);
                if (!l || !l->locked)
                    CadSelectEntity(e, 1);
            } else if (!f->haveCorner) {
                f->haveCorner = true;
                f->corner = item.point;
            } else {
                f->haveCorner = false;
                SelectWindow(d, f->corner, item.point);
            }
            return true;
        }
        case ScriptKind::Call:
            return false;
    }
    return false;
}

}  // namespace

bool DeliverInput(CadDrawing* d, const ScriptItem& item) {
    if (d->waits.empty())
        return false;
    WaitFrame* f = d->waits.back();
    if (f->done || f->cancelled)
        return false;
    const bool taken = TakeInput(d, f, item);
    if (taken && (f->done || f->cancelled)) {
        LogAnswer(d, item.kind == ScriptKind::Text ? QString::fromStdString(item.text).trimmed().toStdString()
                                                   : std::string());
    }
    return taken;
}

void SubmitTyped(CadDrawing* d, const std::string& text) {
    if (!d)
        return;
    if (!d->waits.empty()) {
        WaitFrame* f = d->waits.back();
        std::string t = QString::fromStdString(text).trimmed().toStdString();
        ScriptItem item;
        item.kind = t.empty() ? ScriptKind::Finish : ScriptKind::Text;
        item.text = t;
        item.keyFlags = 0;
        if (!t.empty() && (f->kind == WaitKind::Entity || f->kind == WaitKind::Select))
            return;
        DeliverInput(d, item);
        return;
    }
    std::string t = QString::fromStdString(text).trimmed().toStdString();
    if (t.empty()) {
        if (d->lastCommand)
            CadExecute(d, CadGetWindow(d), d->lastCommand);
        return;
    }
    AddHistory(d, "Command: " + t);
    // The program's commands come first: their names and aliases never reach an engine command.
    if (const UserCommand* c = FindCommandByName(d, t)) {
        CadExecute(d, CadGetWindow(d), c->id);
        return;
    }
    if (int code = EngineCommandByName(t)) {
        CadExecute(d, CadGetWindow(d), code);
        return;
    }
    AddHistory(d, "Unknown command \"" + t + "\"");
}

}  // namespace cad

using namespace cad;

// ---------------------------------------------------------------------------------------------
// Events

void CadOnEventDrawImage(CadEventDrawImage p) {
    Events().drawImage = p;
}
void CadOnEventMouseMove(CadEventMouseMove p) {
    Events().mouseMove = p;
}
void CadOnEventPreMouseDown(CadEventPreMouseDown p) {
    Events().preMouseDown = p;
}
void CadOnEventMouseDown(CadEventMouseDown p) {
    Events().mouseDown = p;
}
void CadOnEventMouseUp(CadEventMouseUp p) {
    Events().mouseUp = p;
}
void CadOnEventMouseWheel(CadEventMouseWheel p) {
    Events().mouseWheel = p;
}
void CadOnEventPolyFill(CadEventPolyFill p, int) {
    Events().polyFill = p;
}
void CadOnEventEntErase(CadEventEntErase p) {
    Events().entErase = p;
}
void CadOnEventDrawCursor(CadEventDrawCursor p) {
    Events().drawCursor = p;
}
void CadOnEventSnapToImagePlace(CadEventSnapToImagePlace p) {
    Events().snapToImagePlace = p;
}
void CadOnEventPaint(CadEventPaint p) {
    Events().paint = p;
}
void CadOnEventKeyDown(CadEventKeyDown p) {
    Events().keyDown = p;
}

void CadSetReturnInt(int value) {
    if (!g_event)
        return;
    g_event->set = true;
    g_event->value = value;
}

int CadGetKeyFlags() {
    return g_keyFlagsValid ? g_keyFlags : KeyFlagsNow();
}

// ---------------------------------------------------------------------------------------------
// Set-up

void CadAccelSetDefault() {
    g_accel = true;
}

int CadPluginImageRead(const char* extension, const char* kind, const char* readerName, int enable) {
    if (!extension || !*extension || !readerName)
        return 0;
    if (kind && std::strcmp(kind, "image") != 0)
        return 0;
    if (enable)
        g_imageReaders[QString::fromUtf8(extension).toLower().toStdString()] = readerName;
    else
        g_imageReaders.erase(QString::fromUtf8(extension).toLower().toStdString());
    return 1;
}

int CadSetParam(int param, int value) {
    g_params[param] = value;
    return 1;
}

int CadGetParam(int param) {
    auto it = g_params.find(param);
    return it == g_params.end() ? 0 : it->second;
}

// ---------------------------------------------------------------------------------------------
// Drawings: creation is in the model; deletion waits for the procedures that still use it.

void CadDelete(CadDrawing* d) {
    if (!d || std::find(g_drawings.begin(), g_drawings.end(), d) == g_drawings.end() || d->deletePending)
        return;
    DestroyWindowOf(d);
    CloseLayersOrderOf(d);
    d->script.clear();
    if (d->busy > 0 || !d->waits.empty()) {
        // A procedure of this drawing is still on the stack: cancel its waits and free the
        // drawing when it returns.
        d->deletePending = true;
        for (WaitFrame* f : d->waits) {
            f->cancelled = true;
            if (f->loop)
                f->loop->quit();
        }
        return;
    }
    FreeDrawing(d);
}

// ---------------------------------------------------------------------------------------------
// Menus and snaps

void CadMenuClear(int menu) {
    g_menus[menu].clear();
}

int CadMenuAdd(int menu, const char* text, int command) {
    if (!text)
        return 0;
    g_menus[menu].push_back({text, command});
    return 1;
}

int CadSnapGetMode(CadDrawing* d) {
    return d ? d->snapMode : 0;
}
void CadSnapPutMode(CadDrawing* d, int mode) {
    if (d)
        d->snapMode = mode;
}
int CadSnapGetOn(CadDrawing* d) {
    return d && d->snapOn ? 1 : 0;
}
void CadSnapPutOn(CadDrawing* d, int on) {
    if (d)
        d->snapOn = on != 0;
}

// ---------------------------------------------------------------------------------------------
// Commands

int CadAddCommand(CadDrawing* d, int id, const char* name, const char* alias, int, CadCommandProc procedure,
                  CadRubberBandProc rubberBand) {
    if (!d || !procedure || !name || !*name || FindCommand(d, id))
        return 0;
    d->commands.push_back({id, name, alias ? alias : "", procedure, rubberBand});
    return 1;
}

namespace {

// Runs a command with the drawing kept alive meanwhile: a CadDelete that comes while it runs
// frees the drawing once the last procedure on the stack has returned. False when it is gone.
bool RunGuarded(CadDrawing* d, const std::function<void()>& run) {
    ++d->busy;
    run();
    --d->busy;
    if (d->deletePending && d->busy == 0 && d->waits.empty()) {
        FreeDrawing(d);
        return false;
    }
    NotifyRepaint(d);
    return true;
}

// Commands that the operator's "repeat" does not start again.
bool Repeatable(int command) {
    switch (command) {
        case CAD_CMD_ENTER:
        case CAD_CMD_ENTER_CLOSED:
        case CAD_CMD_CANCEL:
        case CAD_CMD_UNDO_VERTEX:
        case CAD_CMD_REPEAT:
        case CAD_CMD_UNSELECT_ALL:
            return false;
        default:
            return true;
    }
}

}  // namespace

int CadExecute(CadDrawing* d, QWidget* window, int command) {
    if (!d || d->deletePending)
        return 0;
    if (const UserCommand* c = FindCommand(d, command)) {
        // A command started while input waits cancels that input and runs on top of it.
        CadCmdFinish(d);
        CadCommandProc proc = c->procedure;
        d->lastCommand = command;
        d->runningCommands.push_back(command);
        ++d->commandRuns;
        RunGuarded(d, [d, proc, command] {
            proc(d);
            auto& run = d->runningCommands;
            auto it = std::find(run.rbegin(), run.rend(), command);
            if (it != run.rend())
                run.erase(std::next(it).base());
        });
        return 1;
    }
    if (IsInteractiveCommand(command)) {
        if (d->readOnly && IsEditingCommand(command))
            return 0;
        // Zoom window nests in whatever waits, and an erase of the selection needs no input; the
        // other commands cancel the waiting input and run on top of it, as user commands do.
        const bool transparent =
            command == CAD_CMD_ZOOM_WINDOW || (command == CAD_CMD_ERASE && !d->selection.empty());
        if (!transparent)
            CadCmdFinish(d);
        if (Repeatable(command))
            d->lastCommand = command;
        RunGuarded(d, [d, window, command] { RunInteractiveCommand(d, window, command); });
        return 1;
    }
    // Dialogs run modally on top of whatever waits and keep the drawing alive the same way.
    bool dialog = false;
    if (!RunGuarded(d, [&] { dialog = RunDialogCommand(d, window, command); }))
        return dialog ? 1 : 0;
    if (dialog) {
        d->lastCommand = command;
        return 1;
    }
    switch (command) {
        case CAD_CMD_UNSELECT_ALL:
            CadSelectClear(d);
            if (!d->waits.empty() && d->waits.back()->kind == WaitKind::Select)
                d->waits.back()->haveCorner = false;
            return 1;
        case CAD_CMD_ZOOM_EXTENTS:
        case CAD_CMD_ZOOM_IN:
        case CAD_CMD_ZOOM_OUT:
        case CAD_CMD_ZOOM_PREVIOUS:
            ZoomCommand(d, window ? window : CadGetWindow(d), command);
            return 1;
        case CAD_CMD_LAYERS_ORDER:
            ToggleLayersOrder(d);
            return 1;
        case CAD_CMD_ENTER:
        case CAD_CMD_ENTER_CLOSED:
        case CAD_CMD_CANCEL:
        case CAD_CMD_UNDO_VERTEX: {
            // Inside a command these answer its input; "Undo" with nothing waiting takes back the
            // operator's last operation.
            ScriptItem item;
            item.kind = command == CAD_CMD_ENTER          ? ScriptKind::Finish
                        : command == CAD_CMD_ENTER_CLOSED ? ScriptKind::Close
                        : command == CAD_CMD_CANCEL       ? ScriptKind::Cancel
                                                          : ScriptKind::Undo;
            if (!d->waits.empty())
                return DeliverInput(d, item) ? 1 : 0;
            if (command == CAD_CMD_UNDO_VERTEX)
                return !d->readOnly && UndoLastOperation(d) ? 1 : 0;
            return 1;
        }
        case CAD_CMD_REPEAT:
            return d->lastCommand && d->waits.empty() ? CadExecute(d, window, d->lastCommand) : 0;
        case CAD_CMD_SNAP_NONE:
            d->snapMode = 0;
            return 1;
        default:
            return 0;
    }
}

void CadCmdFinish(CadDrawing* d) {
    if (!d)
        return;
    for (WaitFrame* f : d->waits) {
        if (f->done)
            continue;
        f->cancelled = true;
        if (f->loop)
            f->loop->quit();
    }
}

int CadCmdGetActive(CadDrawing* d) {
    return d && !d->runningCommands.empty() ? d->runningCommands.back() : 0;
}

void CadCmdPrompt(CadDrawing* d, const char* text, const char* defaultText) {
    if (!d)
        return;
    std::string p = text ? text : "";
    if (defaultText && *defaultText)
        p += std::string(" <") + defaultText + ">";
    // A prompt nobody answered (a message) keeps its line once it is replaced; an answered one has
    // its line already. Shown again, a prompt is answered again.
    if (!d->prompt.empty() && !d->promptLogged && d->prompt != p)
        AddHistory(d, d->prompt);
    d->prompt = p;
    d->promptLogged = false;
    PromptChanged(d);
}

void CadCmdPromptAdd(CadDrawing* d, const char* text) {
    if (!d || !text)
        return;
    d->prompt += text;
    // Added to an answered prompt, the text follows the answer on its line.
    if (d->promptLogged)
        AppendToHistory(d, text);
    PromptChanged(d);
}

int CadCmdGetPrompt(CadDrawing* d, char* buffer, int size) {
    return d ? CopyOut(d->prompt, buffer, size) : 0;
}

int CadCmdGetHistory(CadDrawing* d, int index, char* buffer, int size) {
    if (!d || index < 0 || size_t(index) >= d->history.size())
        return 0;
    CopyOut(d->history[d->history.size() - 1 - size_t(index)], buffer, size);
    return 1;
}

void CadCmdPrint(CadDrawing* d, const char* text) {
    if (d && text)
        AddHistory(d, text);
}

int CadCmdUserInput(CadDrawing* d) {
    if (!d || d->deletePending)
        return CAD_INPUT_CANCEL;
    return WaitInput(d, WaitKind::Input);
}

int CadCmdGetWaiting(CadDrawing* d) {
    // Input already queued for the waiting call is about to be taken: nothing waits for the
    // operator until the call has seen it (its event loop may still be finishing a pass).
    if (!d || d->waits.empty() || !d->script.empty())
        return 0;
    const WaitFrame* f = d->waits.back();
    if (f->done || f->cancelled)
        return 0;
    switch (f->kind) {
        case WaitKind::Input:
            return CAD_WAIT_INPUT;
        case WaitKind::Entity:
            return CAD_WAIT_ENTITY;
        case WaitKind::Select:
            return CAD_WAIT_SELECT;
        case WaitKind::Point:
            return CAD_WAIT_POINT;
    }
    return 0;
}

int CadCmdGetInputPoint(CadDrawing* d, double* x, double* y, double* z) {
    if (!d)
        return 0;
    if (x)
        *x = d->inputPoint.x;
    if (y)
        *y = d->inputPoint.y;
    if (z)
        *z = d->inputPoint.z;
    return 1;
}

int CadCmdGetInputStr(CadDrawing* d, char* buffer, int size) {
    if (!d)
        return 0;
    CopyOut(d->inputText, buffer, size);
    return 1;
}

CadEntity* CadCmdUserGetEntity(CadDrawing* d) {
    if (!d || d->deletePending)
        return nullptr;
    d->inputEntity = nullptr;
    int r = WaitInput(d, WaitKind::Entity);
    if (r != 1 || !Alive(d->inputEntity))
        return nullptr;
    return d->inputEntity;
}

CadEntity* CadCmdUserGetImagePlace(CadDrawing* d, CadImagePlaceFilter accept) {
    if (!d || d->deletePending)
        return nullptr;
    d->inputEntity = nullptr;
    auto pickAt = [d, &accept](double x, double y) -> CadEntity* {
        const std::vector<CadEntity*> stack = ImagePlacesAt(d, x, y, accept);
        if (stack.empty())
            return PickEntity(d, x, y, ApertureOf(d));
        size_t take = 0;
        if (d->imagePickRun == d->commandRuns && Alive(d->imagePicked) &&
            std::hypot(x - d->imagePickAt.x, y - d->imagePickAt.y) <= ApertureOf(d)) {
            const auto below = std::find(stack.begin(), stack.end(), d->imagePicked);
            if (below != stack.end())
                take = size_t(below - stack.begin() + 1) % stack.size();
        }
        d->imagePickAt = {x, y, 0};
        d->imagePicked = stack[take];
        d->imagePickRun = d->commandRuns;
        return stack[take];
    };
    int r = WaitInput(d, WaitKind::Entity, 0, {}, false, pickAt);
    if (r != 1 || !Alive(d->inputEntity))
        return nullptr;
    return d->inputEntity;
}

int CadCmdUserSelect(CadDrawing* d) {
    if (!d || d->deletePending)
        return 0;
    return WaitInput(d, WaitKind::Select) == 1 ? int(d->selection.size()) : 0;
}

int CadToolGetPickedPoint(CadDrawing* d, double* x, double* y, double* z) {
    if (!d || d->deletePending)
        return 0;
    if (WaitInput(d, WaitKind::Point) != 1)
        return 0;
    return CadCmdGetInputPoint(d, x, y, z);
}

// ---------------------------------------------------------------------------------------------
// Script

static void Push(CadDrawing* d, ScriptItem item) {
    if (!d)
        return;
    d->script.push_back(std::move(item));
    // A call waiting in its event loop takes the item now, as it would take a click.
    if (!d->waits.empty() && d->waits.back()->loop)
        d->waits.back()->loop->quit();
}

void CadScriptPushPoint(CadDrawing* d, double x, double y, double z, int keyFlags) {
    ScriptItem i;
    i.kind = ScriptKind::Point;
    i.point = {x, y, z};
    i.keyFlags = keyFlags;
    Push(d, std::move(i));
}

void CadScriptPushFinish(CadDrawing* d) {
    ScriptItem i;
    i.kind = ScriptKind::Finish;
    Push(d, std::move(i));
}

void CadScriptPushText(CadDrawing* d, const char* text) {
    ScriptItem i;
    i.kind = ScriptKind::Text;
    i.text = text ? text : "";
    Push(d, std::move(i));
}

void CadScriptPushCancel(CadDrawing* d) {
    ScriptItem i;
    i.kind = ScriptKind::Cancel;
    Push(d, std::move(i));
}

void CadScriptPushEntity(CadDrawing* d, CadEntity* e) {
    ScriptItem i;
    i.kind = ScriptKind::Entity;
    i.entity = e;
    Push(d, std::move(i));
}

void CadScriptPushCall(CadDrawing* d, std::function<void()> call) {
    ScriptItem i;
    i.kind = ScriptKind::Call;
    i.call = std::move(call);
    Push(d, std::move(i));
}

void CadScriptClear(CadDrawing* d) {
    if (d)
        d->script.clear();
}

int CadScriptPending(CadDrawing* d) {
    return d ? int(d->script.size()) : 0;
}

void CadScriptSetStrict(int strict) {
    g_strict = strict != 0;
}
