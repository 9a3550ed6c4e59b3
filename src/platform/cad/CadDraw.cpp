// The engine's interactive commands: points, lines, polylines, polygons, ellipses, rectangles,
// circles, arcs, splines, texts, hatches, blocks, dimensions, the distance and area measurements,
// erase, undo and zoom window. Each runs inside the CadExecute call that starts it and reads the
// operator's input through the same waits as the program's own commands: every pick goes through
// the object snaps, the rubber band shows the figure taking shape, and the command line takes
// coordinates ("x,y", "@dx,dy", "@d<angle"), plain numbers where a size or an angle is asked, and
// the option letters shown in the prompts.
#include <QString>
#include <QStringList>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <utility>

#include "platform/cad/CadInternal.h"

namespace cad {
namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr size_t kUndoSteps = 200;

const char* const kPointRequired = "Point or option keyword required.";
const char* const kSizeRequired = "Requires a positive number or a second point.";
const char* const kAngleRequired = "Requires a numeric angle or a second point.";

double Dist(const Vec3& a, const Vec3& b) {
    return std::hypot(b.x - a.x, b.y - a.y);
}
double AngleOf(const Vec3& from, const Vec3& to) {
    return std::atan2(to.y - from.y, to.x - from.x);
}
Vec3 Polar(const Vec3& p, double angle, double r) {
    return {p.x + r * std::cos(angle), p.y + r * std::sin(angle), p.z};
}
Vec3 Mid(const Vec3& a, const Vec3& b) {
    return {(a.x + b.x) / 2, (a.y + b.y) / 2, (a.z + b.z) / 2};
}
// The angle in [0, 2 pi).
double Wrap(double a) {
    a = std::fmod(a, 2 * kPi);
    return a < 0 ? a + 2 * kPi : a;
}
double ToRad(double deg) {
    return deg * kPi / 180;
}
double ToDeg(double rad) {
    return rad * 180 / kPi;
}
std::string Fmt(double v) {
    return QString::number(v, 'g', 10).toStdString();
}
std::string Trimmed(const std::string& s) {
    return QString::fromStdString(s).trimmed().toStdString();
}
// A prompt with the answer Enter takes.
std::string WithDefault(const std::string& text, const std::string& def) {
    return def.empty() ? text + ":" : text + " <" + def + ">:";
}

// Signed area of a ring (counter-clockwise positive) and its length around.
double RingArea(const std::vector<Vec3>& r) {
    double a = 0;
    for (size_t i = 0, j = r.size() - 1; i < r.size(); j = i++)
        a += (r[j].x + r[i].x) * (r[j].y - r[i].y);
    return -a / 2;
}
double RingLength(const std::vector<Vec3>& r) {
    double len = 0;
    for (size_t i = 0, j = r.size() - 1; i < r.size(); j = i++)
        len += Dist(r[j], r[i]);
    return len;
}

// ---------------------------------------------------------------------------------------------
// Rubber-band drawing

void BandPath(const std::vector<Vec3>& v, bool closed = false) {
    for (const Vec3& p : v)
        CadDrawAddVertex(p.x, p.y, p.z);
    CadDrawPolyline(closed ? 1 : 0);
}
void BandLine(const Vec3& a, const Vec3& b) {
    BandPath({a, b});
}
void BandBox(const Vec3& a, const Vec3& b) {
    BandPath({a, {b.x, a.y, a.z}, b, {a.x, b.y, a.z}}, true);
}
void BandArc(const Vec3& c, double r, double a0, double a1) {
    if (!(r > 0))
        return;
    std::vector<Vec3> v;
    ArcPoints(v, c, r, r, 0, a0, a1);
    BandPath(v);
}
void BandCircle(const Vec3& c, double r) {
    BandArc(c, r, 0, 2 * kPi);
}
void BandDimension(int kind, const Vec3& a, const Vec3& b, const Vec3& c) {
    DimShape shape;
    if (MakeDimShape(kind, {a.x, a.y}, {b.x, b.y}, {c.x, c.y}, shape))
        for (const auto& path : shape.paths)
            BandPath(ToModel(path));
}
// The block's entities as a reference would place them.
void BandBlock(const CadBlock* block, const Vec3& at, double scale, double angle) {
    std::vector<Vec3> placed;
    for (CadEntity* e : block->entities) {
        if (!BlockEntityShown(e))
            continue;
        EnsureGeometry(e);
        placed.clear();
        for (const Vec3& v : e->outline)
            placed.push_back(PlaceBlockPoint(at, scale, angle, block->base, v));
        BandPath(placed, IsClosedOutline(e));
    }
}

// ---------------------------------------------------------------------------------------------
// Circles and arcs from what the operator gives

// The circle through three points; false when they lie on one line.
bool CircleThrough(const Vec3& a, const Vec3& b, const Vec3& c, Vec3& centre, double& r) {
    const double bx = b.x - a.x, by = b.y - a.y, cx = c.x - a.x, cy = c.y - a.y;
    const double den = 2 * (bx * cy - by * cx);
    const double size = std::max({std::fabs(bx), std::fabs(by), std::fabs(cx), std::fabs(cy)});
    if (!(std::fabs(den) > 1e-12 * size * size))
        return false;
    const double b2 = bx * bx + by * by, c2 = cx * cx + cy * cy;
    centre = {a.x + (cy * b2 - by * c2) / den, a.y + (bx * c2 - cx * b2) / den, a.z};
    r = Dist(centre, a);
    return true;
}

// An arc: counter-clockwise from angle a0 through sweep (0 < sweep < 2 pi).
struct Arc {
    Vec3 c{0, 0, 0};
    double r = 0, a0 = 0, sweep = 0;
};

bool Valid(const Arc& a) {
    return a.r > 0 && std::isfinite(a.r) && a.sweep > 1e-12 && a.sweep < 2 * kPi;
}

// Counter-clockwise about c from the direction of s to the direction of e, radius |s - c|.
bool ArcAbout(const Vec3& c, const Vec3& s, const Vec3& e, Arc& out) {
    out = {c, Dist(c, s), AngleOf(c, s), 0};
    out.sweep = Wrap(AngleOf(c, e) - out.a0);
    return Valid(out) && Dist(c, e) > 0;
}

bool ArcThreePoints(const Vec3& s, const Vec3& m, const Vec3& e, Arc& out) {
    Vec3 c;
    double r;
    if (!CircleThrough(s, m, e, c, r))
        return false;
    // Counter-clockwise from s to e when that way passes m, else from e to s.
    const double as = AngleOf(c, s);
    return Wrap(AngleOf(c, m) - as) < Wrap(AngleOf(c, e) - as) ? ArcAbout(c, s, e, out)
                                                               : ArcAbout(c, e, s, out);
}

// Start, centre and included angle (counter-clockwise when positive).
bool ArcStartCentreAngle(const Vec3& s, const Vec3& c, double angle, Arc& out) {
    out = {c, Dist(c, s), AngleOf(c, s), std::fabs(angle)};
    if (angle < 0)
        out.a0 -= out.sweep;
    return Valid(out);
}

// Start, centre and chord length: the minor arc counter-clockwise, the major one for a negative length.
bool ArcStartCentreLength(const Vec3& s, const Vec3& c, double chord, Arc& out) {
    const double r = Dist(c, s);
    if (!(r > 0) || std::fabs(chord) > 2 * r || chord == 0)
        return false;
    const double minor = 2 * std::asin(std::fabs(chord) / (2 * r));
    return ArcStartCentreAngle(s, c, chord > 0 ? minor : 2 * kPi - minor, out);
}

// Start, end and included angle (counter-clockwise from start to end when positive).
bool ArcStartEndAngle(const Vec3& s, const Vec3& e, double angle, Arc& out) {
    const double h = Dist(s, e) / 2;
    if (!(h > 0) || angle == 0 || std::fabs(angle) >= 2 * kPi)
        return false;
    const double dir = AngleOf(s, e);
    const Vec3 c = Polar(Mid(s, e), dir + kPi / 2, h / std::tan(angle / 2));
    return angle > 0 ? ArcAbout(c, s, e, out) : ArcAbout(c, e, s, out);
}

// Start, end and the tangent direction at the start.
bool ArcStartEndDirection(const Vec3& s, const Vec3& e, double direction, Arc& out) {
    const double nx = -std::sin(direction), ny = std::cos(direction);  // left of the tangent
    const double wx = e.x - s.x, wy = e.y - s.y, k = nx * wx + ny * wy;
    if (std::fabs(k) <= 1e-12 * std::hypot(wx, wy))
        return false;  // the end lies on the tangent line
    const double t = (wx * wx + wy * wy) / (2 * k);
    const Vec3 c{s.x + nx * t, s.y + ny * t, s.z};
    return t > 0 ? ArcAbout(c, s, e, out) : ArcAbout(c, e, s, out);
}

// Start, end and radius: counter-clockwise from start to end, the minor arc for a positive radius
// and the major one for a negative radius.
bool ArcStartEndRadius(const Vec3& s, const Vec3& e, double radius, Arc& out) {
    const double h = Dist(s, e) / 2, r = std::fabs(radius);
    if (!(h > 0) || r < h * (1 - 1e-12))
        return false;
    const double off = std::sqrt(std::max(0.0, r * r - h * h));
    const Vec3 c = Polar(Mid(s, e), AngleOf(s, e) + (radius > 0 ? kPi / 2 : -kPi / 2), off);
    return ArcAbout(c, s, e, out);
}

void BandOf(const Arc& a) {
    if (Valid(a))
        BandArc(a.c, a.r, a.a0, a.a0 + a.sweep);
}

// ---------------------------------------------------------------------------------------------
// One run of a command: prompts, input, what it made (for undo) and what it reports.

enum class Got { Point, Text, Finish, Cancel, Close, Undo };

struct Reply {
    Got got = Got::Cancel;
    Vec3 p{0, 0, 0};
    std::string text;

    bool Number(double& v) const {
        if (got != Got::Text)
            return false;
        bool ok = false;
        v = QString::fromStdString(text).trimmed().toDouble(&ok);
        return ok && std::isfinite(v);
    }
    // The typed option: its keyword or its short form, case ignored.
    bool Is(const char* keyword, const char* shortForm) const {
        if (got != Got::Text)
            return false;
        const QString t = QString::fromStdString(text).trimmed();
        return t.compare(QString::fromUtf8(keyword), Qt::CaseInsensitive) == 0 ||
               t.compare(QString::fromUtf8(shortForm), Qt::CaseInsensitive) == 0;
    }
    // Enter, Enter Closed or cancel where the command has no use for them: the command ends.
    bool Ends() const { return got == Got::Finish || got == Got::Cancel || got == Got::Close; }
};

class Cmd {
public:
    Cmd(CadDrawing* drawing, int command) : d(drawing), code(command) {}
    ~Cmd() {
        if (!step.added.empty() || !step.erased.empty())
            PushUndo(d, std::move(step));
        CadCmdPrompt(d, keepPrompt_ ? savedPrompt_.c_str() : "", nullptr);
        for (const std::string& line : reports_)
            AddHistory(d, line);
    }
    Cmd(const Cmd&) = delete;
    Cmd& operator=(const Cmd&) = delete;

    Reply Ask(const std::string& prompt, RubberBand band = {}, bool rawText = false) {
        CadCmdPrompt(d, prompt.c_str(), nullptr);
        Reply r;
        switch (WaitInput(d, WaitKind::Input, code, std::move(band), rawText)) {
            case CAD_INPUT_POINT:
                r.got = Got::Point;
                r.p = d->inputPoint;
                break;
            case CAD_INPUT_TEXT:
                r.got = Got::Text;
                r.text = d->inputText;
                break;
            case CAD_INPUT_FINISH:
                r.got = Got::Finish;
                break;
            case kInputClose:
                r.got = Got::Close;
                break;
            case kInputUndo:
                r.got = Got::Undo;
                break;
            default:
                r.got = Got::Cancel;
                break;
        }
        return r;
    }
    // One picked entity: 1 with the entity, 0 on Enter, -1 on cancel.
    int AskEntity(const std::string& prompt, CadEntity*& out) {
        CadCmdPrompt(d, prompt.c_str(), nullptr);
        d->inputEntity = nullptr;
        const int r = WaitInput(d, WaitKind::Entity, code);
        out = r == 1 && Alive(d->inputEntity) ? d->inputEntity : nullptr;
        return out ? 1 : r == CAD_INPUT_CANCEL ? -1 : 0;
    }
    // Picks and windows add to the selection until Enter; false on cancel.
    bool Select(const std::string& prompt) {
        CadCmdPrompt(d, prompt.c_str(), nullptr);
        return WaitInput(d, WaitKind::Select, code) == 1;
    }
    // A new entity of the command: the operator's colour, line type and line weight, kept for undo.
    CadEntity* Keep(CadEntity* e) {
        if (!e)
            return nullptr;
        e->colour = d->drawStyle.colour;
        e->lineType = d->drawStyle.lineType;
        e->lineWeight = d->drawStyle.lineWeight;
        NotifyRepaint(d);
        step.added.push_back(e);
        return e;
    }
    // Takes back the command's last entity (its own "Undo").
    void DropLast() {
        if (step.added.empty())
            return;
        CadEntityErase(step.added.back(), 1);
        step.added.pop_back();
    }
    void Drop(CadEntity* e) {
        auto it = std::find(step.added.begin(), step.added.end(), e);
        if (it == step.added.end())
            return;
        CadEntityErase(e, 1);
        step.added.erase(it);
    }
    void Note(const std::string& line) { AddHistory(d, line); }
    // A result, shown in the command line once the command has ended.
    void Report(const std::string& line) { reports_.push_back(line); }
    // The prompt of the command this one runs inside comes back when it ends.
    void KeepOuterPrompt() {
        keepPrompt_ = true;
        savedPrompt_ = d->prompt;
    }

    CadDrawing* const d;
    const int code;
    UndoStep step;

private:
    std::vector<std::string> reports_;
    bool keepPrompt_ = false;
    std::string savedPrompt_;
};

// Asks for a point until one comes; false when the operator ends the command.
bool AskPoint(Cmd& c, const std::string& prompt, Vec3& out, RubberBand band = {}) {
    for (;;) {
        Reply r = c.Ask(prompt, band);
        if (r.got == Got::Point) {
            out = r.p;
            return true;
        }
        if (r.Ends())
            return false;
        if (r.got == Got::Text)
            c.Note(kPointRequired);
    }
}

// A size: a typed number, or the distance of a picked point from base.
bool SizeOf(const Reply& r, const Vec3* base, double& out) {
    if (r.got == Got::Point && base) {
        out = Dist(*base, r.p);
        return true;
    }
    return r.Number(out);
}

// Asks for a positive size; Enter takes def when it is positive, else ends the command.
bool AskSize(Cmd& c, const std::string& text, const Vec3* base, double def, double& out,
             RubberBand band = {}) {
    for (;;) {
        Reply r = c.Ask(WithDefault(text, def > 0 ? Fmt(def) : ""), band);
        if (r.got == Got::Finish && def > 0) {
            out = def;
            return true;
        }
        if (SizeOf(r, base, out) && out > 0)
            return true;
        if (r.Ends())
            return false;
        if (r.got != Got::Undo)
            c.Note(kSizeRequired);
    }
}

// An angle in radians: typed degrees, or the direction of a picked point from base.
bool AngleOfReply(const Reply& r, const Vec3& base, double& out) {
    double deg;
    if (r.got == Got::Point && Dist(base, r.p) > 0) {
        out = AngleOf(base, r.p);
        return true;
    }
    if (r.Number(deg)) {
        out = ToRad(deg);
        return true;
    }
    return false;
}

// Asks for an angle; Enter takes def (radians).
bool AskAngle(Cmd& c, const std::string& text, const Vec3& base, double def, double& out,
              RubberBand band = {}) {
    for (;;) {
        Reply r = c.Ask(WithDefault(text, Fmt(ToDeg(def))), band);
        if (r.got == Got::Finish) {
            out = def;
            return true;
        }
        if (AngleOfReply(r, base, out))
            return true;
        if (r.Ends())
            return false;
        if (r.got != Got::Undo)
            c.Note(kAngleRequired);
    }
}

// The next point of a chain from `from`: a picked or typed point, or a typed distance along the
// cursor's direction (along the last direction when the cursor is not over the window).
bool NextPoint(Cmd& c, const Reply& r, const Vec3& from, double lastDir, Vec3& out) {
    if (r.got == Got::Point) {
        out = r.p;
        return true;
    }
    double len;
    if (!r.Number(len))
        return false;
    double dir = lastDir;
    if (c.d->haveCursor && Dist(from, c.d->cursor) > 0)
        dir = AngleOf(from, c.d->cursor);
    out = Polar(from, dir, len);
    c.d->lastPoint = out;
    return true;
}

// ---------------------------------------------------------------------------------------------
// Drawing commands

void DrawPoints(Cmd& c) {
    for (;;) {
        Reply r = c.Ask("Specify a point:");
        if (r.got == Got::Point)
            c.Keep(CadAddPoint(c.d, r.p.x, r.p.y, r.p.z));
        else if (r.got == Got::Undo)
            c.DropLast();
        else if (r.got == Got::Text)
            c.Note(kPointRequired);
        else
            return;
    }
}

void DrawLines(Cmd& c) {
    std::vector<Vec3> pts;
    std::vector<CadEntity*> segments;
    double dir = 0;
    for (;;) {
        if (pts.empty()) {
            Vec3 p;
            if (!AskPoint(c, "Specify first point:", p))
                return;
            pts.push_back(p);
            continue;
        }
        const Vec3 from = pts.back();
        Reply r = c.Ask(
            segments.size() >= 2 ? "Specify next point or [Close/Undo]:" : "Specify next point or [Undo]:",
            [from](const Vec3& at) { BandLine(from, at); });
        Vec3 next;
        if (NextPoint(c, r, from, dir, next)) {
            if (Dist(from, next) == 0 && from.z == next.z)
                continue;
            segments.push_back(c.Keep(CadAddLine(c.d, from.x, from.y, from.z, next.x, next.y, next.z)));
            dir = AngleOf(from, next);
            pts.push_back(next);
        } else if (r.got == Got::Undo || r.Is("Undo", "U")) {
            if (!segments.empty()) {
                c.Drop(segments.back());
                segments.pop_back();
            }
            pts.pop_back();
            if (!pts.empty())
                c.d->lastPoint = pts.back();
        } else if (r.got == Got::Close || r.Is("Close", "C")) {
            if (segments.size() >= 2) {
                const Vec3& to = pts.front();
                c.Keep(CadAddLine(c.d, from.x, from.y, from.z, to.x, to.y, to.z));
                return;
            }
            if (r.got == Got::Close)
                return;
            c.Note("Closing needs two segments.");
        } else if (r.got == Got::Text) {
            c.Note(kPointRequired);
        } else {
            return;
        }
    }
}

// Polylines and splines: vertices until Enter; Close closes the figure and Undo takes the last
// vertex back. A cancel keeps what was drawn, as Enter does.
void DrawChain(Cmd& c, bool spline) {
    std::vector<Vec3> v;
    double dir = 0;
    auto make = [&](bool closed) {
        if (v.size() < (closed ? 3u : 2u))
            return false;
        CadClearVertices();
        for (const Vec3& p : v)
            CadAddVertex(p.x, p.y, p.z);
        c.Keep(spline ? CadAddSpline(c.d, closed ? 1 : 0) : CadAddPolyline(c.d, 0, closed ? 1 : 0));
        return true;
    };
    for (;;) {
        if (v.empty()) {
            Vec3 p;
            if (!AskPoint(c, spline ? "Specify first point:" : "Specify start point:", p))
                return;
            v.push_back(p);
            continue;
        }
        const Vec3 from = v.back();
        auto band = [&v, spline](const Vec3& at) {
            std::vector<Vec3> pts = v;
            pts.push_back(at);
            if (spline && pts.size() >= 3) {
                std::vector<Vec3> curve;
                AppendCatmullRom(curve, pts, false);
                BandPath(curve);
            } else {
                BandPath(pts);
            }
        };
        Reply r = c.Ask(
            v.size() >= 3 ? "Specify next point or [Close/Undo]:" : "Specify next point or [Undo]:", band);
        Vec3 next;
        if (NextPoint(c, r, from, dir, next)) {
            if (Dist(from, next) == 0 && from.z == next.z)
                continue;
            dir = AngleOf(from, next);
            v.push_back(next);
        } else if (r.got == Got::Undo || r.Is("Undo", "U")) {
            v.pop_back();
            if (!v.empty())
                c.d->lastPoint = v.back();
        } else if (r.got == Got::Close || r.Is("Close", "C")) {
            if (make(true))
                return;
            if (r.got == Got::Close) {
                make(false);
                return;
            }
            c.Note("Closing needs three points.");
        } else if (r.got == Got::Text) {
            c.Note(kPointRequired);
        } else {
            make(false);
            return;
        }
    }
}

// A regular polygon, inscribed in or circumscribed about a circle, as a closed polyline.
void DrawPolygon(Cmd& c) {
    CommandMemory& m = c.d->memory;
    for (;;) {
        Reply r = c.Ask(WithDefault("Enter number of sides", std::to_string(m.sides)));
        double n;
        if (r.got == Got::Finish)
            break;
        if (r.Number(n) && n >= 3 && n <= 1024 && n == std::floor(n)) {
            m.sides = int(n);
            break;
        }
        if (r.Ends())
            return;
        c.Note("Requires an integer between 3 and 1024.");
    }
    const int sides = m.sides;
    Vec3 centre;
    if (!AskPoint(c, "Specify center of polygon:", centre))
        return;
    for (;;) {
        Reply r = c.Ask(WithDefault("Enter an option [Inscribed in circle/Circumscribed about circle]",
                                    m.circumscribed ? "C" : "I"));
        if (r.got == Got::Finish)
            break;
        if (r.Is("Inscribed", "I") || r.Is("Circumscribed", "C")) {
            m.circumscribed = r.Is("Circumscribed", "C");
            break;
        }
        if (r.Ends())
            return;
        c.Note("Invalid option keyword.");
    }
    const bool circ = m.circumscribed;
    // toward: the direction of a vertex (inscribed) or of an edge's middle (circumscribed).
    auto shape = [sides, circ, centre](double r, double toward) {
        const double big = circ ? r / std::cos(kPi / sides) : r;
        const double first = circ ? toward + kPi / sides : toward;
        std::vector<Vec3> v;
        for (int i = 0; i < sides; ++i)
            v.push_back(Polar(centre, first + 2 * kPi * i / sides, big));
        return v;
    };
    for (;;) {
        Reply r = c.Ask("Specify radius of circle:", [&](const Vec3& at) {
            if (Dist(centre, at) > 0)
                BandPath(shape(Dist(centre, at), AngleOf(centre, at)), true);
        });
        double radius = 0;
        // A typed radius puts the bottom edge level.
        double toward = circ ? -kPi / 2 : -kPi / 2 + kPi / sides;
        if (r.got == Got::Point) {
            radius = Dist(centre, r.p);
            toward = AngleOf(centre, r.p);
        } else if (!r.Number(radius)) {
            if (r.Ends())
                return;
            if (r.got == Got::Text)
                c.Note(kSizeRequired);
            continue;
        }
        if (!(radius > 0)) {
            c.Note(kSizeRequired);
            continue;
        }
        CadClearVertices();
        for (const Vec3& p : shape(radius, toward))
            CadAddVertex(p.x, p.y, p.z);
        c.Keep(CadAddPolyline(c.d, 0, 1));
        return;
    }
}

void DrawEllipse(Cmd& c) {
    Vec3 centre, axis;
    if (!AskPoint(c, "Specify center of ellipse:", centre))
        return;
    for (;;) {
        if (!AskPoint(c, "Specify endpoint of axis:", axis,
                      [centre](const Vec3& at) { BandLine(centre, at); }))
            return;
        if (Dist(centre, axis) > 0)
            break;
        c.Note(kSizeRequired);
    }
    const double rx = Dist(centre, axis), rot = AngleOf(centre, axis);
    double ry;
    if (!AskSize(c, "Specify distance to other axis", &centre, 0, ry, [=](const Vec3& at) {
            std::vector<Vec3> v;
            if (Dist(centre, at) > 0) {
                ArcPoints(v, centre, rx, Dist(centre, at), rot, 0, 2 * kPi);
                BandPath(v);
            }
        }))
        return;
    c.Keep(CadAddEllipse(c.d, centre.x, centre.y, centre.z, rx, ry, rot, 0, 2 * kPi));
}

void DrawRect(Cmd& c) {
    Vec3 a, b;
    if (!AskPoint(c, "Specify first corner point:", a))
        return;
    for (;;) {
        if (!AskPoint(c, "Specify other corner point:", b, [a](const Vec3& at) { BandBox(a, at); }))
            return;
        if (b.x != a.x && b.y != a.y)
            break;
        c.Note("The corners must differ in x and in y.");
    }
    c.Keep(CadAddRect(c.d, (a.x + b.x) / 2, (a.y + b.y) / 2, a.z, std::fabs(b.x - a.x), std::fabs(b.y - a.y),
                      0));
}

enum class CircleBy { Radius, Diameter, TwoPoints, ThreePoints };

void DrawCircle(Cmd& c, CircleBy by) {
    CommandMemory& m = c.d->memory;
    auto keep = [&](const Vec3& centre, double r) {
        m.radius = r;
        c.Keep(CadAddCircle(c.d, centre.x, centre.y, centre.z, r));
    };
    Vec3 centre;
    if (by == CircleBy::Radius || by == CircleBy::Diameter) {
        for (;;) {
            Reply r = c.Ask("Specify center point for circle or [3P/2P]:");
            if (r.got == Got::Point) {
                centre = r.p;
                break;
            }
            if (r.Is("3P", "3P") || r.Is("2P", "2P")) {
                by = r.Is("3P", "3P") ? CircleBy::ThreePoints : CircleBy::TwoPoints;
                break;
            }
            if (r.Ends())
                return;
            if (r.got == Got::Text)
                c.Note(kPointRequired);
        }
    }
    if (by == CircleBy::TwoPoints) {
        Vec3 a, b;
        if (!AskPoint(c, "Specify first end point of circle's diameter:", a))
            return;
        for (;;) {
            if (!AskPoint(c, "Specify second end point of circle's diameter:", b,
                          [a](const Vec3& at) { BandCircle(Mid(a, at), Dist(a, at) / 2); }))
                return;
            if (Dist(a, b) > 0)
                break;
            c.Note(kSizeRequired);
        }
        keep(Mid(a, b), Dist(a, b) / 2);
        return;
    }
    if (by == CircleBy::ThreePoints) {
        Vec3 a, b, p;
        if (!AskPoint(c, "Specify first point on circle:", a) ||
            !AskPoint(c, "Specify second point on circle:", b, [a](const Vec3& at) { BandLine(a, at); }))
            return;
        for (;;) {
            if (!AskPoint(c, "Specify third point on circle:", p, [a, b](const Vec3& at) {
                    Vec3 o;
                    double r;
                    if (CircleThrough(a, b, at, o, r))
                        BandCircle(o, r);
                }))
                return;
            double r;
            if (CircleThrough(a, b, p, centre, r)) {
                keep(centre, r);
                return;
            }
            c.Note("The three points lie on one line.");
        }
    }
    bool diameter = by == CircleBy::Diameter;
    for (;;) {
        const double def = diameter ? 2 * m.radius : m.radius;
        Reply r = diameter
                      ? c.Ask(WithDefault("Specify diameter of circle", def > 0 ? Fmt(def) : ""),
                              [centre](const Vec3& at) { BandCircle(centre, Dist(centre, at) / 2); })
                      : c.Ask(WithDefault("Specify radius of circle or [Diameter]", def > 0 ? Fmt(def) : ""),
                              [centre](const Vec3& at) { BandCircle(centre, Dist(centre, at)); });
        if (!diameter && r.Is("Diameter", "D")) {
            diameter = true;
            continue;
        }
        double size = 0;
        if (r.got == Got::Finish && def > 0)
            size = def;
        else if (!SizeOf(r, &centre, size)) {
            if (r.Ends())
                return;
            if (r.got == Got::Text)
                c.Note(kSizeRequired);
            continue;
        }
        if (!(size > 0)) {
            c.Note(kSizeRequired);
            continue;
        }
        keep(centre, diameter ? size / 2 : size);
        return;
    }
}

enum class ArcBy {
    ThreePoints,
    StartCentreEnd,
    StartCentreAngle,
    StartCentreLength,
    StartEndAngle,
    StartEndDirection,
    StartEndRadius
};

bool KeepArc(Cmd& c, const Arc& a) {
    c.Keep(CadAddArc(c.d, a.c.x, a.c.y, a.c.z, a.r, a.a0, a.a0 + a.sweep));
    return true;
}

// The arc from its start and centre, ended by an end point ('E'), an included angle ('A') or a
// chord length ('L'); the operator may switch with the option letters.
void ArcFromCentre(Cmd& c, const Vec3& s, const Vec3& ctr, char by) {
    const double a0 = AngleOf(ctr, s);
    for (;;) {
        Reply r;
        Arc arc;
        bool ok = false;
        if (by == 'A') {
            r = c.Ask("Specify included angle:", [=](const Vec3& at) {
                Arc x;
                if (ArcStartCentreAngle(s, ctr, Wrap(AngleOf(ctr, at) - a0), x))
                    BandOf(x);
            });
            double deg;
            if (r.got == Got::Point)
                ok = ArcStartCentreAngle(s, ctr, Wrap(AngleOf(ctr, r.p) - a0), arc);
            else if (r.Number(deg))
                ok = ArcStartCentreAngle(s, ctr, ToRad(deg), arc);
        } else if (by == 'L') {
            r = c.Ask("Specify length of chord:", [=](const Vec3& at) {
                Arc x;
                if (ArcStartCentreLength(s, ctr, Dist(s, at), x))
                    BandOf(x);
            });
            double len;
            if (SizeOf(r, &s, len))
                ok = ArcStartCentreLength(s, ctr, len, arc);
        } else {
            r = c.Ask("Specify end point of arc or [Angle/chord Length]:", [=](const Vec3& at) {
                Arc x;
                if (ArcAbout(ctr, s, at, x))
                    BandOf(x);
            });
            if (r.Is("Angle", "A") || r.Is("Length", "L")) {
                by = r.Is("Angle", "A") ? 'A' : 'L';
                continue;
            }
            if (r.got == Got::Point)
                ok = ArcAbout(ctr, s, r.p, arc);
        }
        if (ok) {
            KeepArc(c, arc);
            return;
        }
        if (r.Ends())
            return;
        if (r.got != Got::Undo)
            c.Note("The arc cannot be drawn from that.");
    }
}

// The arc from its start and end, ended by a centre ('C'), an included angle ('A'), the start
// direction ('D') or a radius ('R').
void ArcFromEnds(Cmd& c, const Vec3& s, const Vec3& e, char by) {
    for (;;) {
        Reply r;
        Arc arc;
        bool ok = false;
        double v;
        if (by == 'A') {
            r = c.Ask("Specify included angle:", [=](const Vec3& at) {
                Arc x;
                if (Dist(s, at) > 0 && ArcStartEndAngle(s, e, AngleOf(s, at), x))
                    BandOf(x);
            });
            if (AngleOfReply(r, s, v))
                ok = ArcStartEndAngle(s, e, v, arc);
        } else if (by == 'D') {
            r = c.Ask("Specify tangent direction for the start point of arc:", [=](const Vec3& at) {
                Arc x;
                if (Dist(s, at) > 0 && ArcStartEndDirection(s, e, AngleOf(s, at), x))
                    BandOf(x);
            });
            if (AngleOfReply(r, s, v))
                ok = ArcStartEndDirection(s, e, v, arc);
        } else if (by == 'R') {
            r = c.Ask("Specify radius of arc:", [=](const Vec3& at) {
                Arc x;
                if (ArcStartEndRadius(s, e, Dist(e, at), x))
                    BandOf(x);
            });
            if (SizeOf(r, &e, v))
                ok = ArcStartEndRadius(s, e, v, arc);
        } else {
            r = c.Ask("Specify center point of arc or [Angle/Direction/Radius]:", [=](const Vec3& at) {
                Arc x;
                if (ArcAbout(at, s, e, x))
                    BandOf(x);
            });
            if (r.Is("Angle", "A") || r.Is("Direction", "D") || r.Is("Radius", "R")) {
                by = r.Is("Angle", "A") ? 'A' : r.Is("Direction", "D") ? 'D' : 'R';
                continue;
            }
            if (r.got == Got::Point)
                ok = ArcAbout(r.p, s, e, arc);
        }
        if (ok) {
            KeepArc(c, arc);
            return;
        }
        if (r.Ends())
            return;
        if (r.got != Got::Undo)
            c.Note("The arc cannot be drawn from that.");
    }
}

void DrawArc(Cmd& c, ArcBy by) {
    const bool general = by == ArcBy::ThreePoints;
    Vec3 s, ctr, e;
    bool centreFirst = false;
    for (;;) {
        Reply r = c.Ask(general ? "Specify start point of arc or [Center]:" : "Specify start point of arc:");
        if (r.got == Got::Point) {
            s = r.p;
            break;
        }
        if (general && r.Is("Center", "C")) {
            centreFirst = true;
            break;
        }
        if (r.Ends())
            return;
        if (r.got == Got::Text)
            c.Note(kPointRequired);
    }
    if (centreFirst) {
        if (!AskPoint(c, "Specify center point of arc:", ctr) ||
            !AskPoint(c, "Specify start point of arc:", s, [&ctr](const Vec3& at) { BandLine(ctr, at); }))
            return;
        ArcFromCentre(c, s, ctr, 'E');
        return;
    }
    // What follows the start: the general form asks which way the operator goes on.
    char path = 0;  // 'C' centre, 'E' end, 'P' second point
    switch (by) {
        case ArcBy::StartCentreEnd:
        case ArcBy::StartCentreAngle:
        case ArcBy::StartCentreLength:
            path = 'C';
            break;
        case ArcBy::StartEndAngle:
        case ArcBy::StartEndDirection:
        case ArcBy::StartEndRadius:
            path = 'E';
            break;
        default:
            break;
    }
    Vec3 second;
    while (!path) {
        Reply r =
            c.Ask("Specify second point of arc or [Center/End]:", [&s](const Vec3& at) { BandLine(s, at); });
        if (r.got == Got::Point) {
            second = r.p;
            path = 'P';
        } else if (r.Is("Center", "C") || r.Is("End", "E")) {
            path = r.Is("Center", "C") ? 'C' : 'E';
        } else if (r.Ends()) {
            return;
        } else if (r.got == Got::Text) {
            c.Note(kPointRequired);
        }
    }
    if (path == 'C') {
        if (!AskPoint(c, "Specify center point of arc:", ctr, [&s](const Vec3& at) { BandLine(s, at); }))
            return;
        ArcFromCentre(c, s, ctr,
                      by == ArcBy::StartCentreAngle    ? 'A'
                      : by == ArcBy::StartCentreLength ? 'L'
                                                       : 'E');
        return;
    }
    if (path == 'E') {
        for (;;) {
            if (!AskPoint(c, "Specify end point of arc:", e, [&s](const Vec3& at) { BandLine(s, at); }))
                return;
            if (Dist(s, e) > 0)
                break;
            c.Note("The end must differ from the start.");
        }
        ArcFromEnds(c, s, e,
                    by == ArcBy::StartEndAngle       ? 'A'
                    : by == ArcBy::StartEndDirection ? 'D'
                    : by == ArcBy::StartEndRadius    ? 'R'
                                                     : 'C');
        return;
    }
    for (;;) {
        if (!AskPoint(c, "Specify end point of arc:", e, [s, second](const Vec3& at) {
                Arc x;
                if (ArcThreePoints(s, second, at, x))
                    BandOf(x);
            }))
            return;
        Arc arc;
        if (ArcThreePoints(s, second, e, arc)) {
            KeepArc(c, arc);
            return;
        }
        c.Note("The three points lie on one line.");
    }
}

// Single-line texts: position, height and angle, then one line per typed text, each below the
// last, until an empty line.
void DrawText(Cmd& c) {
    CommandMemory& m = c.d->memory;
    Vec3 at;
    if (!AskPoint(c, "Specify start point of text:", at))
        return;
    double height, angle;
    auto line = [&at](const Vec3& p) { BandLine(at, p); };
    if (!AskSize(c, "Specify height", &at, m.textHeight, height, line) ||
        !AskAngle(c, "Specify rotation angle of text", at, m.textAngle, angle, line))
        return;
    m.textHeight = height;
    m.textAngle = angle;
    for (Vec3 p = at;;) {
        Reply r = c.Ask("Enter text:", {}, true);
        if (r.got != Got::Text || r.text.empty())
            return;
        CadEntity* e = c.Keep(CadAddText(c.d, r.text.c_str(), p.x, p.y, p.z));
        CadTextPutHeight(e, height);
        CadTextPutAngle(e, angle);
        p = Polar(p, angle - kPi / 2, 1.5 * height);
    }
}

// Entities whose outline can bound a hatch or an area.
bool Encloses(const CadEntity* e) {
    switch (e->type) {
        case CAD_ENT_POLYLINE:
        case CAD_ENT_SPLINE:
        case CAD_ENT_RECT:
        case CAD_ENT_POLYGON:
        case CAD_ENT_ARC:
        case CAD_ENT_ELLIPSE:
            return IsClosedOutline(e);
        default:
            return false;
    }
}

// The smallest closed outline around the point among the entities shown.
CadEntity* BoundaryAround(CadDrawing* d, double x, double y) {
    CadEntity* best = nullptr;
    double bestArea = 0;
    Box q;
    q.Add(x, y);
    IndexOf(d).Query(q, [&](const IndexItem& it) {
        CadEntity* e = it.entity;
        if (e == best || !EntityShown(e) || !Encloses(e) || !CadPlineContainPoint(e, x, y))
            return;
        const double area = std::fabs(RingArea(e->outline));
        if (!best || area < bestArea) {
            best = e;
            bestArea = area;
        }
    });
    return best;
}

// Hatches inside closed outlines: an internal point finds the smallest outline around it, or the
// operator picks the outline; the pattern stays for the next hatch.
void DrawHatch(Cmd& c) {
    static const char* const kPatterns[3] = {"Solid", "Lines", "Cross"};
    int& pattern = c.d->memory.hatchPattern;
    pattern = std::clamp(pattern, 0, 2);
    for (;;) {
        Reply r = c.Ask("Pick an internal point or [Select object/Pattern]:");
        CadEntity* boundary = nullptr;
        if (r.got == Got::Point) {
            // The point before the snaps: a snap would put it on the outline itself.
            boundary = BoundaryAround(c.d, c.d->inputRaw.x, c.d->inputRaw.y);
            if (!boundary) {
                c.Note("No closed boundary around the point.");
                continue;
            }
        } else if (r.Is("Select", "S")) {
            CadEntity* e = nullptr;
            const int got = c.AskEntity("Select a closed object:", e);
            if (got < 0)
                return;
            if (!e)
                continue;
            if (!Encloses(e)) {
                c.Note("The object is not closed.");
                continue;
            }
            boundary = e;
        } else if (r.Is("Pattern", "P")) {
            Reply p = c.Ask(WithDefault("Enter a pattern [Solid/Lines/Cross]", kPatterns[pattern]));
            for (int i = 0; i < 3; ++i)
                if (p.Is(kPatterns[i], std::string(1, kPatterns[i][0]).c_str()))
                    pattern = i;
            if (p.got == Got::Cancel)
                return;
            continue;
        } else if (r.got == Got::Undo) {
            c.DropLast();
            continue;
        } else if (r.got == Got::Text) {
            c.Note(kPointRequired);
            continue;
        } else {
            return;
        }
        EnsureGeometry(boundary);
        CadClearVertices();
        for (const Vec3& v : boundary->outline)
            CadAddVertex(v.x, v.y, v.z);
        c.Keep(CadAddHatch(c.d, pattern, 1, 0));
    }
}

void InsertBlock(Cmd& c) {
    CadDrawing* d = c.d;
    CommandMemory& m = d->memory;
    if (d->blocks.empty()) {
        c.Note("The drawing has no blocks.");
        return;
    }
    std::string def = CadGetBlockByName(d, m.block.c_str()) ? m.block : std::string();
    if (def.empty() && d->blocks.size() == 1)
        def = d->blocks.front()->name;
    CadBlock* block = nullptr;
    while (!block) {
        Reply r = c.Ask(WithDefault("Enter block name or [?]", def), {}, true);
        const std::string name = r.got == Got::Finish ? def : Trimmed(r.text);
        if (r.got != Got::Text && (r.got != Got::Finish || def.empty()))
            return;
        if (name == "?") {
            std::string list = "Blocks:";
            for (const CadBlock* b : d->blocks)
                list += " " + b->name;
            c.Note(list);
            continue;
        }
        block = CadGetBlockByName(d, name.c_str());
        if (!block)
            c.Note("Block \"" + name + "\" not found.");
    }
    m.block = block->name;
    Vec3 at;
    const double scale0 = m.insertScale, angle0 = m.insertAngle;
    if (!AskPoint(c, "Specify insertion point:", at,
                  [=](const Vec3& p) { BandBlock(block, p, scale0, angle0); }))
        return;
    double scale, angle;
    if (!AskSize(c, "Enter scale factor", &at, scale0, scale, [=](const Vec3& p) {
            if (Dist(at, p) > 0)
                BandBlock(block, at, Dist(at, p), angle0);
        }))
        return;
    if (!AskAngle(c, "Specify rotation angle", at, angle0, angle, [=](const Vec3& p) {
            if (Dist(at, p) > 0)
                BandBlock(block, at, scale, AngleOf(at, p));
        }))
        return;
    m.insertScale = scale;
    m.insertAngle = angle;
    c.Keep(CadAddInsBlock(d, block->id, at.x, at.y, at.z, scale, angle));
}

// A new block from selected entities: they go into the definition and one reference to it takes
// their place in the drawing.
void NewBlock(Cmd& c) {
    CadDrawing* d = c.d;
    std::string name;
    for (;;) {
        Reply r = c.Ask("Enter block name:", {}, true);
        if (r.got != Got::Text)
            return;
        name = Trimmed(r.text);
        if (name.empty())
            return;
        if (!CadGetBlockByName(d, name.c_str()))
            break;
        c.Note("A block named \"" + name + "\" already exists.");
    }
    Vec3 base;
    if (!AskPoint(c, "Specify insertion base point:", base) || !c.Select("Select objects:"))
        return;
    std::vector<CadEntity*> take;
    for (CadEntity* e : d->selection) {
        CadLayer* l = LayerOf(e);
        if (Alive(e) && e->seq >= 0 && e->type != CAD_ENT_INSERT && e->type != CAD_ENT_IMAGE &&
            !(l && l->locked))
            take.push_back(e);
    }
    if (take.empty()) {
        c.Note("No objects selected.");
        return;
    }
    CadBlock* b = CadAddBlock(d, name.c_str(), base.x, base.y, base.z);
    if (!b)
        return;
    for (CadEntity* e : take)
        CadBlockAddEntity(b, e);
    CadSelectClear(d);
    CadAddInsBlock(d, b->id, base.x, base.y, base.z, 1, 0);
    c.Report("Block \"" + name + "\" holds " + std::to_string(take.size()) + " objects.");
}

// ---------------------------------------------------------------------------------------------
// Dimensions

void KeepDimension(Cmd& c, int kind, const Vec3& a, const Vec3& b, const Vec3& at) {
    CadEntity* e = c.Keep(CadAddDimension(c.d, kind, a.x, a.y, b.x, b.y, at.x, at.y));
    c.Report("Dimension text = " + DimLabel(kind, CadDimensionGetValue(e), c.d->dimStyle.decimals));
}

// Asks for the place of the dimension line until the dimension measures something.
bool AskDimensionPlace(Cmd& c, const std::string& prompt, int kind, const Vec3& a,
                       const std::function<Vec3(const Vec3&)>& second, Vec3& at) {
    for (;;) {
        if (!AskPoint(c, prompt, at, [&](const Vec3& p) { BandDimension(kind, a, second(p), p); }))
            return false;
        DimShape shape;
        const Vec3 b = second(at);
        if (MakeDimShape(kind, {a.x, a.y}, {b.x, b.y}, {at.x, at.y}, shape))
            return true;
        c.Note("The dimension would measure nothing there.");
    }
}

void DimLengths(Cmd& c, int kind) {
    Vec3 a, b, at;
    if (!AskPoint(c, "Specify first extension line origin:", a))
        return;
    for (;;) {
        if (!AskPoint(c, "Specify second extension line origin:", b, [a](const Vec3& p) { BandLine(a, p); }))
            return;
        if (Dist(a, b) > 0)
            break;
        c.Note("The two origins must differ.");
    }
    if (AskDimensionPlace(
            c, "Specify dimension line location:", kind, a, [b](const Vec3&) { return b; }, at))
        KeepDimension(c, kind, a, b, at);
}

void DimOrdinate(Cmd& c) {
    Vec3 f, at;
    if (AskPoint(c, "Specify feature location:", f) &&
        AskDimensionPlace(
            c, "Specify leader endpoint location:", CAD_DIM_ORDINATE, f, [f](const Vec3&) { return f; }, at))
        KeepDimension(c, CAD_DIM_ORDINATE, f, f, at);
}

void DimCircle(Cmd& c, int kind) {
    CadEntity* e = nullptr;
    for (;;) {
        if (c.AskEntity("Select arc or circle:", e) <= 0)
            return;
        if (e->type == CAD_ENT_ARC && e->p[0] > 0)
            break;
        c.Note("Object selected is not a circle or arc.");
    }
    const Vec3 ctr = e->pts[0];
    const double r = e->p[0];
    auto onCircle = [ctr, r](const Vec3& p) { return Polar(ctr, Dist(ctr, p) > 0 ? AngleOf(ctr, p) : 0, r); };
    Vec3 at;
    if (AskDimensionPlace(c, "Specify dimension line location:", kind, ctr, onCircle, at))
        KeepDimension(c, kind, ctr, onCircle(at), at);
}

// The legs of an angular dimension: of the candidate leg directions (each may be reversed when
// the legs are lines), the pair whose counter-clockwise sweep holds the direction of `at` and is
// the smallest.
bool AngularLegs(double d1, double d2, bool lines, const Vec3& v, const Vec3& at, double& a1, double& a2) {
    const double t = AngleOf(v, at);
    double best = 3 * kPi;
    for (int flip1 = 0; flip1 < (lines ? 2 : 1); ++flip1)
        for (int flip2 = 0; flip2 < (lines ? 2 : 1); ++flip2)
            for (int swap = 0; swap < 2; ++swap) {
                double x = d1 + flip1 * kPi, y = d2 + flip2 * kPi;
                if (swap)
                    std::swap(x, y);
                const double sweep = Wrap(y - x);
                if (sweep > 1e-12 && Wrap(t - x) <= sweep && sweep < best) {
                    best = sweep;
                    a1 = x;
                    a2 = y;
                }
            }
    return best < 3 * kPi;
}

void DimAngular(Cmd& c) {
    Vec3 v;
    double d1 = 0, d2 = 0;
    bool lines = false;
    CadEntity* first = nullptr;
    const int got = c.AskEntity("Select first line or <specify vertex>:", first);
    if (got < 0)
        return;
    if (got == 0) {
        Vec3 p1, p2;
        if (!AskPoint(c, "Specify angle vertex:", v) ||
            !AskPoint(c, "Specify first angle endpoint:", p1, [&v](const Vec3& p) { BandLine(v, p); }) ||
            !AskPoint(c, "Specify second angle endpoint:", p2, [&v](const Vec3& p) { BandLine(v, p); }))
            return;
        if (!(Dist(v, p1) > 0 && Dist(v, p2) > 0)) {
            c.Note("The endpoints must differ from the vertex.");
            return;
        }
        d1 = AngleOf(v, p1);
        d2 = AngleOf(v, p2);
    } else {
        CadEntity* second = nullptr;
        while (first->type != CAD_ENT_LINE) {
            c.Note("Object selected is not a line.");
            if (c.AskEntity("Select first line:", first) <= 0)
                return;
        }
        for (;;) {
            if (c.AskEntity("Select second line:", second) <= 0)
                return;
            if (second->type == CAD_ENT_LINE && second != first)
                break;
            c.Note("Select another line.");
        }
        const Vec3 &a = first->pts[0], &b = first->pts[1], &p = second->pts[0], &q = second->pts[1];
        const double ux = b.x - a.x, uy = b.y - a.y, wx = q.x - p.x, wy = q.y - p.y;
        const double den = ux * wy - uy * wx;
        if (std::fabs(den) <= 1e-12 * std::hypot(ux, uy) * std::hypot(wx, wy)) {
            c.Note("The lines are parallel.");
            return;
        }
        const double t = ((p.x - a.x) * wy - (p.y - a.y) * wx) / den;
        v = {a.x + t * ux, a.y + t * uy, a.z};
        d1 = std::atan2(uy, ux);
        d2 = std::atan2(wy, wx);
        lines = true;
    }
    auto legs = [=](const Vec3& at, Vec3& l1, Vec3& l2) {
        double a1, a2;
        const double r = Dist(v, at);
        if (!(r > 0) || !AngularLegs(d1, d2, lines, v, at, a1, a2))
            return false;
        l1 = Polar(v, a1, r);
        l2 = Polar(v, a2, r);
        return true;
    };
    Vec3 at, l1, l2;
    for (;;) {
        if (!AskPoint(c, "Specify dimension arc line location:", at, [&](const Vec3& p) {
                Vec3 x1, x2;
                if (legs(p, x1, x2))
                    BandDimension(CAD_DIM_ANGULAR, v, x1, x2);
            }))
            return;
        if (legs(at, l1, l2))
            break;
        c.Note("The arc must pass away from the vertex.");
    }
    KeepDimension(c, CAD_DIM_ANGULAR, v, l1, l2);
}

// ---------------------------------------------------------------------------------------------
// Measurements

void MeasureDistance(Cmd& c) {
    Vec3 a, b;
    if (!AskPoint(c, "Specify first point:", a) ||
        !AskPoint(c, "Specify second point:", b, [a](const Vec3& p) { BandLine(a, p); }))
        return;
    char line[256];
    std::snprintf(line, sizeof line,
                  "Distance = %.4f,  Angle in XY Plane = %.4f,  Delta X = %.4f,  Delta Y = %.4f", Dist(a, b),
                  ToDeg(Wrap(AngleOf(a, b))), b.x - a.x, b.y - a.y);
    c.Report(line);
}

void ReportArea(Cmd& c, double area, double perimeter) {
    char line[128];
    std::snprintf(line, sizeof line, "Area = %.4f,  Perimeter = %.4f", area, perimeter);
    c.Report(line);
}

// The area of the polygon of picked corners (Enter gives the total), or of a closed object.
void MeasureArea(Cmd& c) {
    std::vector<Vec3> v;
    for (;;) {
        const char* prompt = v.empty()      ? "Specify first corner point or [Object]:"
                             : v.size() < 3 ? "Specify next corner point or [Undo]:"
                                            : "Specify next corner point or press ENTER for total:";
        Reply r = c.Ask(prompt, [&v](const Vec3& at) {
            std::vector<Vec3> pts = v;
            pts.push_back(at);
            BandPath(pts, pts.size() > 2);
        });
        if (r.got == Got::Point) {
            v.push_back(r.p);
        } else if (v.empty() && r.Is("Object", "O")) {
            CadEntity* e = nullptr;
            if (c.AskEntity("Select object:", e) <= 0)
                return;
            if (!Encloses(e)) {
                c.Note("The object is not closed.");
                continue;
            }
            if (e->type == CAD_ENT_ARC) {
                ReportArea(c, kPi * e->p[0] * e->p[0], 2 * kPi * e->p[0]);
            } else if (e->type == CAD_ENT_ELLIPSE) {
                const double a = e->p[0], b = e->p[1], h = (a - b) * (a - b) / ((a + b) * (a + b));
                ReportArea(c, kPi * a * b, kPi * (a + b) * (1 + 3 * h / (10 + std::sqrt(4 - 3 * h))));
            } else {
                EnsureGeometry(e);
                ReportArea(c, std::fabs(RingArea(e->outline)), RingLength(e->outline));
            }
            return;
        } else if (r.got == Got::Undo || r.Is("Undo", "U")) {
            if (!v.empty())
                v.pop_back();
        } else if ((r.got == Got::Finish || r.got == Got::Close) && v.size() >= 3) {
            ReportArea(c, std::fabs(RingArea(v)), RingLength(v));
            return;
        } else if (r.got == Got::Text) {
            c.Note(kPointRequired);
        } else if (r.got == Got::Cancel || v.empty()) {
            return;
        } else {
            c.Note("The area needs three corners.");
        }
    }
}

// ---------------------------------------------------------------------------------------------
// Erase and zoom

// Erases the selection, or the entities the operator selects when there is none; entities on
// locked layers stay.
void Erase(Cmd& c) {
    CadDrawing* d = c.d;
    if (d->selection.empty() && !c.Select("Select objects:"))
        return;
    const std::vector<CadEntity*> sel = d->selection;
    size_t locked = 0;
    for (CadEntity* e : sel) {
        CadLayer* l = LayerOf(e);
        if (l && l->locked) {
            CadSelectEntity(e, 0);
            ++locked;
        } else if (Alive(e) && CadEntityErase(e, 1)) {
            c.step.erased.push_back(e);
        }
    }
    if (locked)
        c.Report(std::to_string(locked) + " objects were on a locked layer.");
}

void ZoomWindow(Cmd& c, QWidget* window, const Vec3* firstCorner) {
    Vec3 a, b;
    if (firstCorner)
        a = *firstCorner;
    else if (!AskPoint(c, "Specify first corner:", a))
        return;
    if (AskPoint(c, "Specify opposite corner:", b, [a](const Vec3& p) { BandBox(a, p); }) && a.x != b.x &&
        a.y != b.y)
        ZoomToRect(c.d, window, a, b);
}

void Zoom(Cmd& c, QWidget* window) {
    for (;;) {
        Reply r = c.Ask("Specify corner of window or [Extents/Previous/Window] <Window>:");
        if (r.got == Got::Point) {
            ZoomWindow(c, window, &r.p);
        } else if (r.Is("Extents", "E") || r.Is("Previous", "P")) {
            ZoomCommand(c.d, window ? window : CadGetWindow(c.d),
                        r.Is("Extents", "E") ? CAD_CMD_ZOOM_EXTENTS : CAD_CMD_ZOOM_PREVIOUS);
        } else if (r.got == Got::Finish || r.Is("Window", "W")) {
            ZoomWindow(c, window, nullptr);
        } else if (r.got == Got::Text) {
            c.Note("Invalid option keyword.");
            continue;
        }
        return;
    }
}

// ---------------------------------------------------------------------------------------------
// Typed names

struct TypedName {
    const char* name;
    const char* aliases;  // separated by spaces
    int command;
};

const TypedName kTypedNames[] = {
    {"POINT", "PO", CAD_CMD_DRAW_POINT},
    {"LINE", "L", CAD_CMD_DRAW_LINE},
    {"PLINE", "PL", CAD_CMD_DRAW_POLYLINE},
    {"POLYGON", "POL", CAD_CMD_DRAW_POLYGON},
    {"ELLIPSE", "EL", CAD_CMD_DRAW_ELLIPSE},
    {"RECTANG", "REC RECTANGLE", CAD_CMD_DRAW_RECT},
    {"CIRCLE", "C", CAD_CMD_DRAW_CIRCLE_CR},
    {"ARC", "A", CAD_CMD_DRAW_ARC_3P},
    {"SPLINE", "SPL", CAD_CMD_DRAW_SPLINE},
    {"TEXT", "DT", CAD_CMD_DRAW_TEXT},
    {"HATCH", "H", CAD_CMD_DRAW_HATCH},
    {"INSERT", "I", CAD_CMD_INSERT_BLOCK},
    {"BLOCK", "B", CAD_CMD_NEW_BLOCK},
    {"DIMLINEAR", "DLI", CAD_CMD_DIM_LINEAR},
    {"DIMALIGNED", "DAL", CAD_CMD_DIM_ALIGNED},
    {"DIMORDINATE", "DOR", CAD_CMD_DIM_ORDINATE},
    {"DIMRADIUS", "DRA", CAD_CMD_DIM_RADIUS},
    {"DIMDIAMETER", "DDI", CAD_CMD_DIM_DIAMETER},
    {"DIMANGULAR", "DAN", CAD_CMD_DIM_ANGULAR},
    {"DIMSTYLE", "D", CAD_CMD_DIMSTYLES},
    {"LAYER", "LA", CAD_CMD_LAYERS},
    {"LINETYPE", "LT", CAD_CMD_LINETYPES},
    {"LWEIGHT", "LW", CAD_CMD_LINEWEIGHTS},
    {"PTYPE", "DDPTYPE", CAD_CMD_POINTSTYLE},
    {"OSNAP", "OS", CAD_CMD_SNAP_PANE},
    {"DIST", "DI", CAD_CMD_DIST},
    {"AREA", "AA", CAD_CMD_AREA},
    {"PROPERTIES", "PR", CAD_CMD_PROPERTIES},
    {"ERASE", "E", CAD_CMD_ERASE},
    {"UNDO", "U", CAD_CMD_UNDO_VERTEX},
    {"ZOOM", "Z", kCmdZoom},
};

}  // namespace

int EngineCommandByName(const std::string& typed) {
    const QString t = QString::fromStdString(typed).trimmed();
    if (t.isEmpty())
        return 0;
    for (const TypedName& n : kTypedNames) {
        if (t.compare(QString::fromUtf8(n.name), Qt::CaseInsensitive) == 0)
            return n.command;
        for (const QString& a : QString::fromUtf8(n.aliases).split(' ', Qt::SkipEmptyParts))
            if (t.compare(a, Qt::CaseInsensitive) == 0)
                return n.command;
    }
    return 0;
}

bool IsInteractiveCommand(int command) {
    switch (command) {
        case CAD_CMD_ZOOM_WINDOW:
        case kCmdZoom:
        case CAD_CMD_DIST:
        case CAD_CMD_AREA:
            return true;
        default:
            return IsEditingCommand(command);
    }
}

bool IsEditingCommand(int command) {
    switch (command) {
        case CAD_CMD_DRAW_POINT:
        case CAD_CMD_DRAW_LINE:
        case CAD_CMD_DRAW_POLYLINE:
        case CAD_CMD_DRAW_POLYGON:
        case CAD_CMD_DRAW_ELLIPSE:
        case CAD_CMD_DRAW_RECT:
        case CAD_CMD_DRAW_CIRCLE_CR:
        case CAD_CMD_DRAW_CIRCLE_CD:
        case CAD_CMD_DRAW_CIRCLE_2P:
        case CAD_CMD_DRAW_CIRCLE_3P:
        case CAD_CMD_DRAW_ARC_3P:
        case CAD_CMD_DRAW_ARC_SCE:
        case CAD_CMD_DRAW_ARC_SCA:
        case CAD_CMD_DRAW_ARC_SEA:
        case CAD_CMD_DRAW_ARC_SED:
        case CAD_CMD_DRAW_ARC_SER:
        case CAD_CMD_DRAW_ARC_SCL:
        case CAD_CMD_DRAW_SPLINE:
        case CAD_CMD_DRAW_TEXT:
        case CAD_CMD_DRAW_HATCH:
        case CAD_CMD_INSERT_BLOCK:
        case CAD_CMD_NEW_BLOCK:
        case CAD_CMD_DIM_LINEAR:
        case CAD_CMD_DIM_ALIGNED:
        case CAD_CMD_DIM_ORDINATE:
        case CAD_CMD_DIM_RADIUS:
        case CAD_CMD_DIM_DIAMETER:
        case CAD_CMD_DIM_ANGULAR:
        case CAD_CMD_ERASE:
            return true;
        default:
            return false;
    }
}

bool RunInteractiveCommand(CadDrawing* d, QWidget* window, int command) {
    if (!IsInteractiveCommand(command))
        return false;
    Cmd c(d, command);
    switch (command) {
        case CAD_CMD_DRAW_POINT:
            DrawPoints(c);
            break;
        case CAD_CMD_DRAW_LINE:
            DrawLines(c);
            break;
        case CAD_CMD_DRAW_POLYLINE:
            DrawChain(c, false);
            break;
        case CAD_CMD_DRAW_SPLINE:
            DrawChain(c, true);
            break;
        case CAD_CMD_DRAW_POLYGON:
            DrawPolygon(c);
            break;
        case CAD_CMD_DRAW_ELLIPSE:
            DrawEllipse(c);
            break;
        case CAD_CMD_DRAW_RECT:
            DrawRect(c);
            break;
        case CAD_CMD_DRAW_CIRCLE_CR:
            DrawCircle(c, CircleBy::Radius);
            break;
        case CAD_CMD_DRAW_CIRCLE_CD:
            DrawCircle(c, CircleBy::Diameter);
            break;
        case CAD_CMD_DRAW_CIRCLE_2P:
            DrawCircle(c, CircleBy::TwoPoints);
            break;
        case CAD_CMD_DRAW_CIRCLE_3P:
            DrawCircle(c, CircleBy::ThreePoints);
            break;
        case CAD_CMD_DRAW_ARC_3P:
            DrawArc(c, ArcBy::ThreePoints);
            break;
        case CAD_CMD_DRAW_ARC_SCE:
            DrawArc(c, ArcBy::StartCentreEnd);
            break;
        case CAD_CMD_DRAW_ARC_SCA:
            DrawArc(c, ArcBy::StartCentreAngle);
            break;
        case CAD_CMD_DRAW_ARC_SCL:
            DrawArc(c, ArcBy::StartCentreLength);
            break;
        case CAD_CMD_DRAW_ARC_SEA:
            DrawArc(c, ArcBy::StartEndAngle);
            break;
        case CAD_CMD_DRAW_ARC_SED:
            DrawArc(c, ArcBy::StartEndDirection);
            break;
        case CAD_CMD_DRAW_ARC_SER:
            DrawArc(c, ArcBy::StartEndRadius);
            break;
        case CAD_CMD_DRAW_TEXT:
            DrawText(c);
            break;
        case CAD_CMD_DRAW_HATCH:
            DrawHatch(c);
            break;
        case CAD_CMD_INSERT_BLOCK:
            InsertBlock(c);
            break;
        case CAD_CMD_NEW_BLOCK:
            NewBlock(c);
            break;
        case CAD_CMD_DIM_LINEAR:
        case CAD_CMD_DIM_ALIGNED:
            DimLengths(c, command == CAD_CMD_DIM_LINEAR ? CAD_DIM_LINEAR : CAD_DIM_ALIGNED);
            break;
        case CAD_CMD_DIM_ORDINATE:
            DimOrdinate(c);
            break;
        case CAD_CMD_DIM_RADIUS:
        case CAD_CMD_DIM_DIAMETER:
            DimCircle(c, command == CAD_CMD_DIM_RADIUS ? CAD_DIM_RADIUS : CAD_DIM_DIAMETER);
            break;
        case CAD_CMD_DIM_ANGULAR:
            DimAngular(c);
            break;
        case CAD_CMD_DIST:
            MeasureDistance(c);
            break;
        case CAD_CMD_AREA:
            MeasureArea(c);
            break;
        case CAD_CMD_ERASE:
            Erase(c);
            break;
        case CAD_CMD_ZOOM_WINDOW: {
            // Runs inside whatever waits: that command's prompt and last point come back after.
            c.KeepOuterPrompt();
            const Vec3 last = d->lastPoint;
            ZoomWindow(c, window, nullptr);
            d->lastPoint = last;
            break;
        }
        case kCmdZoom:
            Zoom(c, window);
            break;
        default:
            break;
    }
    return true;
}

void PushUndo(CadDrawing* d, UndoStep step) {
    d->undo.push_back(std::move(step));
    if (d->undo.size() > kUndoSteps)
        d->undo.erase(d->undo.begin());
}

bool UndoLastOperation(CadDrawing* d) {
    // Entities the program purged or moved into a block since are passed over; a step with
    // nothing left to take back does not count.
    while (!d->undo.empty()) {
        UndoStep step = std::move(d->undo.back());
        d->undo.pop_back();
        bool any = false;
        for (auto it = step.added.rbegin(); it != step.added.rend(); ++it)
            if (Alive(*it) && (*it)->seq >= 0 && !(*it)->block) {
                CadEntityErase(*it, 1);
                any = true;
            }
        for (CadEntity* e : step.erased)
            if (e->linked && e->erased && e->seq >= 0 && !e->block) {
                CadEntityErase(e, 0);
                any = true;
            }
        if (any)
            return true;
    }
    AddHistory(d, "Nothing to undo.");
    return false;
}

}  // namespace cad
