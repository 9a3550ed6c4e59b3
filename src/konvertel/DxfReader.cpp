#include "konvertel/DxfReader.h"

#include <QFile>

#include <algorithm>
#include <cmath>
#include <map>
#include <set>

#include "konvertel/DrawingShape.h"
#include "konvertel/DxfGroups.h"
#include "konvertel/DxfXData.h"
#include "konvertel/SplineMath.h"

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kDeg = kPi / 180.0;
// Entities a file may expand to through block references before the read is refused: a few
// lines can otherwise ask for billions of copies.
constexpr int64_t kEntityBudget = 20'000'000;
constexpr int kMaxNesting = 32;

// One record of a section: its type (the value of group 0) and its other groups.
struct Record {
    std::string_view type;
    std::vector<DxfGroup> g;
    int64_t line = 0;

    const DxfGroup* Find(int code) const {
        for (const DxfGroup& x : g) {
            if (x.code == 1001)
                break;  // extended data follows
            if (x.code == code)
                return &x;
        }
        return nullptr;
    }
    bool Has(int code) const { return Find(code) != nullptr; }
    double R(int code, double def = 0) const {
        const DxfGroup* x = Find(code);
        return x ? x->Real() : def;
    }
    int I(int code, int def = 0) const {
        const DxfGroup* x = Find(code);
        return x ? x->Int() : def;
    }
    std::string_view S(int code) const {
        const DxfGroup* x = Find(code);
        return x ? x->value : std::string_view();
    }
    ShapePoint P(int code) const { return {R(code), R(code + 10), R(code + 20)}; }
};

// The sizes a dimension style gives (negative: not given): scale, arrowheads, text, ticks.
struct DimSizes {
    double scale = -1, arrow = -1, text = -1, tick = -1;

    // Sets the size of a style variable by its group code; false for other codes.
    bool Set(int code, double value) {
        switch (code) {
            case 40:
                scale = value;
                return true;
            case 41:
                arrow = value;
                return true;
            case 140:
                text = value;
                return true;
            case 142:
                tick = value;
                return true;
            default:
                return false;
        }
    }
    // The given sizes of this one over those of the other.
    DimSizes Over(const DimSizes& o) const {
        auto pick = [](double mine, double theirs) { return mine >= 0 ? mine : theirs; };
        return {pick(scale, o.scale), pick(arrow, o.arrow), pick(text, o.text), pick(tick, o.tick)};
    }
};

// The object coordinate system of a planar entity, from its extrusion direction.
struct Ocs {
    ShapePoint ax{1, 0, 0}, ay{0, 1, 0}, az{0, 0, 1};
    bool flat = true;  // the extrusion is the z axis or its opposite
    ShapeAffine plane;

    explicit Ocs(ShapePoint n) {
        const double len = std::sqrt(n.x * n.x + n.y * n.y + n.z * n.z);
        if (!(len > 0))
            n = {0, 0, 1};
        else
            n = {n.x / len, n.y / len, n.z / len};
        az = n;
        // The arbitrary axis rule of the format.
        ShapePoint x;
        if (std::fabs(n.x) < 1.0 / 64 && std::fabs(n.y) < 1.0 / 64)
            x = {n.z, 0, -n.x};  // world y cross n
        else
            x = {-n.y, n.x, 0};  // world z cross n
        const double xl = std::sqrt(x.x * x.x + x.y * x.y + x.z * x.z);
        ax = {x.x / xl, x.y / xl, x.z / xl};
        ay = {n.y * ax.z - n.z * ax.y, n.z * ax.x - n.x * ax.z, n.x * ax.y - n.y * ax.x};
        flat = std::fabs(n.x) < 1e-9 && std::fabs(n.y) < 1e-9;
        plane.a = ax.x;
        plane.b = ay.x;
        plane.c = ax.y;
        plane.d = ay.y;
        plane.zs = az.z;
    }
    ShapePoint ToWorld(const ShapePoint& p) const {
        return {ax.x * p.x + ay.x * p.y + az.x * p.z, ax.y * p.x + ay.y * p.y + az.y * p.z,
                ax.z * p.x + ay.z * p.y + az.z * p.z};
    }
};

struct LayerDef {
    std::string name;
    int colour = CAD_COLOR_FOREGROUND;
    bool visible = true;
    bool locked = false;
    std::string lineType;
    int lineWeight = CAD_LWEIGHT_DEFAULT;
};

struct BlockDef {
    std::string name;
    ShapePoint base;
    std::vector<DrawingShape> shapes;
    int engineId = 0;
    bool resolving = false;
};

int AlignOf(int h, int v) {
    static const int table[3][4] = {
        {CAD_TA_LEFT_BASE, CAD_TA_LEFT_BOTTOM, CAD_TA_LEFT_MIDDLE, CAD_TA_LEFT_TOP},
        {CAD_TA_CENTER_BASE, CAD_TA_CENTER_BOTTOM, CAD_TA_CENTER_MIDDLE, CAD_TA_CENTER_TOP},
        {CAD_TA_RIGHT_BASE, CAD_TA_RIGHT_BOTTOM, CAD_TA_RIGHT_MIDDLE, CAD_TA_RIGHT_TOP},
    };
    return table[std::clamp(h, 0, 2)][std::clamp(v, 0, 3)];
}

bool SamePoint(const ShapePoint& a, const ShapePoint& b) {
    return a.x == b.x && a.y == b.y && a.z == b.z;
}

void DropClosingPoint(std::vector<ShapePoint>& pts) {
    if (pts.size() > 2 && SamePoint(pts.front(), pts.back()))
        pts.pop_back();
}

double Cross(double ax, double ay, double bx, double by) {
    return ax * by - ay * bx;
}

// The counter-clockwise turn from one direction to another, in [0, 2 pi).
double CcwSweep(double from, double to) {
    double d = std::fmod(to - from, 2 * kPi);
    if (d < 0)
        d += 2 * kPi;
    return d;
}

// The points of a polyline whose segments may bulge into arcs (bulge i belongs to the segment
// from vertex i); a closed one without its first point repeated at the end.
std::vector<ShapePoint> BulgedPoints(const std::vector<ShapePoint>& v, const std::vector<double>& bulge,
                                     bool closed) {
    if (v.empty())
        return {};
    std::vector<ShapePoint> pts{v[0]};
    const size_t segs = closed ? v.size() : v.size() - 1;
    for (size_t i = 0; i < segs; ++i)
        AppendBulgePoints(pts, v[i], v[(i + 1) % v.size()], bulge[i]);
    if (closed && pts.size() > 1)
        pts.pop_back();  // the closing segment came back to the first vertex
    return pts;
}

// A polyline of the vertices (in the object coordinates when ocs is given), or a point when
// there is only one.
void EmitPolyline(DrawingShape s, const std::vector<ShapePoint>& v, const std::vector<double>& bulge,
                  bool closed, const Ocs* ocs, std::vector<DrawingShape>& out) {
    std::vector<ShapePoint> pts = BulgedPoints(v, bulge, closed);
    if (pts.empty())
        return;
    if (ocs)
        for (ShapePoint& p : pts)
            p = ocs->ToWorld(p);
    s.kind = pts.size() == 1 ? CAD_ENT_POINT : CAD_ENT_POLYLINE;
    s.closed = closed && pts.size() > 2;
    s.pts = std::move(pts);
    out.push_back(std::move(s));
}

// The style sizes an entity overrides in its ACAD extended data ("DSTYLE" followed by pairs of
// a 1070 group naming the variable's code and a group holding its value).
DimSizes DimStyleOverrides(const std::vector<DxfGroup>& g) {
    DimSizes sizes;
    size_t i = 0;
    while (i < g.size() && !(g[i].code == 1001 && g[i].value == "ACAD"))
        ++i;
    for (++i; i < g.size() && g[i].code != 1001; ++i) {
        if (g[i].code != 1000 || g[i].value != "DSTYLE")
            continue;
        for (++i; i + 1 < g.size() && g[i].code != 1001; ++i) {
            if (g[i].code == 1002 && g[i].value == "}")
                return sizes;
            if (g[i].code == 1070 && (g[i + 1].code == 1040 || g[i + 1].code == 1070)) {
                sizes.Set(g[i].Int(), g[i + 1].Real());
                ++i;
            }
        }
        break;
    }
    return sizes;
}

class DxfParser {
public:
    explicit DxfParser(const QByteArray& data) : in_(data) {}

    bool Parse(std::string* error);
    bool Build(CadDrawing* drawing, std::string* error, DxfReadReport* report);

private:
    bool Fail(const std::string& why) {
        if (error_.empty())
            error_ = why;
        return false;
    }
    bool ReadRecord(Record& r);
    void UnreadRecord(Record&& r) {
        pending_ = std::move(r);
        hasPending_ = true;
    }
    bool SkipSection(const std::string& name);
    bool ParseHeader();
    bool ParseTables();
    bool ParseBlocks();
    // Entities up to a record of one of the stop types, which is handed back in stop.
    bool ParseEntityList(std::vector<DrawingShape>& out, bool modelSpace, Record& stop);
    void ParseEntity(const Record& r, std::vector<DrawingShape>& out, bool modelSpace);
    void ParsePolyline(const Record& head, const std::vector<Record>& vertices,
                       std::vector<DrawingShape>& out, bool modelSpace);
    bool Common(const Record& r, DrawingShape& s, bool modelSpace);
    std::string Text(std::string_view raw) const { return codec_.Decode(raw); }
    uint32_t LineTypeOf(std::string_view name);
    void Skip(std::string_view kind) {
        ++skipped_;
        skippedKinds_.insert(std::string(kind));
    }

    void Circle(const Record& r, DrawingShape s, const Ocs& ocs, std::vector<DrawingShape>& out);
    void Ellipse(const Record& r, DrawingShape s, std::vector<DrawingShape>& out);
    void LwPolyline(const Record& r, DrawingShape s, const KelvaroXData& x, std::vector<DrawingShape>& out);
    void TextEntity(const Record& r, DrawingShape s, const Ocs& ocs, int verticalCode,
                    std::vector<DrawingShape>& out);
    void MText(const Record& r, DrawingShape s, std::vector<DrawingShape>& out);
    void Spline(const Record& r, DrawingShape s, std::vector<DrawingShape>& out);
    void Hatch(const Record& r, DrawingShape s, const KelvaroXData& x, std::vector<DrawingShape>& out);
    void Dimension(const Record& r, DrawingShape s, const KelvaroXData& x, std::vector<DrawingShape>& out);
    void Insert(const Record& r, DrawingShape s, const Ocs& ocs, std::vector<DrawingShape>& out);

    // Block resolution.
    BlockDef* FindBlock(const std::string& name);
    bool Expand(const DrawingShape& insert, const ShapeAffine& outer, int depth, const DrawingShape* owner,
                std::vector<DrawingShape>& out);
    bool ResolveBlock(BlockDef& b, std::vector<DrawingShape>& out);
    bool Spend(int64_t n) {
        budget_ -= n;
        return budget_ >= 0 || Fail("the drawing expands through its block references to more than " +
                                    std::to_string(kEntityBudget) + " entities");
    }

    DxfGroupReader in_;
    DxfTextCodec codec_;
    std::string version_, codePage_;
    Record pending_;
    bool hasPending_ = false;
    std::vector<LayerDef> layers_;
    std::map<std::string, std::vector<double>> lineTypes_;  // upper-case name -> pattern
    // Dimension styles: the header's variables, its current style, and the DIMSTYLE table.
    DimSizes headerDim_;
    std::string headerDimStyle_;
    std::map<std::string, DimSizes> dimStyles_;  // upper-case name -> sizes
    std::vector<BlockDef> blocks_;
    std::map<std::string, size_t> blockIndex_;  // upper-case name -> index
    std::vector<DrawingShape> model_;
    std::string error_;
    int skipped_ = 0;
    std::set<std::string> skippedKinds_;
    int64_t budget_ = kEntityBudget;
    bool sawSection_ = false;
};

bool DxfParser::ReadRecord(Record& r) {
    if (hasPending_) {
        r = std::move(pending_);
        hasPending_ = false;
        return true;
    }
    DxfGroup g;
    do {
        if (!in_.Next(g))
            return false;
    } while (g.code == 999);
    if (g.code != 0)
        return Fail("line " + std::to_string(in_.Line()) + ": a record was expected (group 0)");
    r.type = g.value;
    r.line = in_.Line();
    r.g.clear();
    while (in_.Next(g)) {
        if (g.code == 0) {
            in_.PushBack();
            break;
        }
        if (g.code != 999)
            r.g.push_back(g);
    }
    return !in_.Failed();
}

bool DxfParser::Parse(std::string* error) {
    DxfGroup g;
    bool ended = false;
    while (!ended && in_.Next(g)) {
        if (g.code == 999)
            continue;
        if (g.code != 0) {
            Fail("line " + std::to_string(in_.Line()) + ": a section was expected");
            break;
        }
        if (g.value == "EOF") {
            ended = true;
            break;
        }
        if (g.value != "SECTION") {
            Fail("line " + std::to_string(in_.Line()) + ": " + std::string(g.value) + " outside a section");
            break;
        }
        if (!in_.Next(g) || g.code != 2) {
            Fail("line " + std::to_string(in_.Line()) + ": a section without a name");
            break;
        }
        const std::string name(g.value);
        sawSection_ = true;
        bool ok;
        if (name == "HEADER")
            ok = ParseHeader();
        else if (name == "TABLES")
            ok = ParseTables();
        else if (name == "BLOCKS")
            ok = ParseBlocks();
        else if (name == "ENTITIES") {
            Record stop;
            ok = ParseEntityList(model_, true, stop);
            if (ok && stop.type != "ENDSEC")
                ok = Fail("line " + std::to_string(stop.line) + ": " + std::string(stop.type) +
                          " inside the ENTITIES section");
        } else
            ok = SkipSection(name);
        if (!ok)
            break;
    }
    if (error_.empty() && in_.Failed())
        error_ = in_.Error();
    if (error_.empty() && !sawSection_)
        error_ = "no DXF sections found: not a DXF drawing";
    if (!error_.empty()) {
        if (error)
            *error = error_;
        return false;
    }
    return true;
}

bool DxfParser::SkipSection(const std::string& name) {
    DxfGroup g;
    while (in_.Next(g))
        if (g.code == 0 && g.value == "ENDSEC")
            return true;
    return Fail(in_.Failed() ? in_.Error() : "the file ends inside the " + name + " section");
}

bool DxfParser::ParseHeader() {
    DxfGroup g;
    std::string var;
    while (in_.Next(g)) {
        if (g.code == 0) {
            if (g.value != "ENDSEC")
                return Fail("line " + std::to_string(in_.Line()) + ": " + std::string(g.value) +
                            " inside the HEADER section");
            codec_.Configure(codePage_, version_);
            return true;
        }
        if (g.code == 9)
            var = std::string(g.value);
        else if (var == "$ACADVER" && g.code == 1)
            version_ = std::string(g.value);
        else if (var == "$DWGCODEPAGE" && g.code == 3)
            codePage_ = std::string(g.value);
        else if (var == "$DIMSTYLE" && g.code == 2)
            headerDimStyle_ = std::string(g.value);
        else if (g.code == 40 &&
                 (var == "$DIMSCALE" || var == "$DIMASZ" || var == "$DIMTXT" || var == "$DIMTSZ"))
            headerDim_.Set(var == "$DIMSCALE" ? 40
                           : var == "$DIMASZ" ? 41
                           : var == "$DIMTXT" ? 140
                                              : 142,
                           g.Real());
    }
    return Fail(in_.Failed() ? in_.Error() : "the file ends inside the HEADER section");
}

bool DxfParser::ParseTables() {
    Record r;
    while (ReadRecord(r)) {
        if (r.type == "ENDSEC")
            return true;
        if (r.type == "LAYER") {
            LayerDef l;
            l.name = Text(r.S(2));
            if (l.name.empty())
                continue;
            const int colour = r.I(62, CAD_COLOR_FOREGROUND);
            const int flags = r.I(70);
            l.visible = colour >= 0 && !(flags & 1);
            l.colour = std::abs(colour);
            if (r.Has(420))
                l.colour = CadColorSeek(DxfTrueColourToColourRef(uint32_t(r.I(420))));
            if (l.colour < 1 || l.colour > 255)
                l.colour = CAD_COLOR_FOREGROUND;
            l.locked = (flags & 4) != 0;
            l.lineType = Text(r.S(6));
            l.lineWeight = r.I(370, CAD_LWEIGHT_DEFAULT);
            layers_.push_back(std::move(l));
        } else if (r.type == "DIMSTYLE") {
            DimSizes sizes;
            for (int code : {40, 41, 140, 142})
                if (r.Has(code))
                    sizes.Set(code, r.R(code));
            dimStyles_[ShapeNameKey(std::string(r.S(2)))] = sizes;
        } else if (r.type == "LTYPE") {
            std::vector<double> pattern;
            for (const DxfGroup& x : r.g)
                if (x.code == 49)
                    pattern.push_back(x.Real());
            lineTypes_[ShapeNameKey(Text(r.S(2)))] = std::move(pattern);
        }
    }
    return Fail(in_.Failed() ? in_.Error() : "the file ends inside the TABLES section");
}

bool DxfParser::ParseBlocks() {
    Record r;
    while (ReadRecord(r)) {
        if (r.type == "ENDSEC")
            return true;
        if (r.type != "BLOCK")
            continue;  // stray records between blocks
        BlockDef b;
        b.name = Text(r.Has(2) ? r.S(2) : r.S(3));
        b.base = r.P(10);
        Record stop;
        if (!ParseEntityList(b.shapes, false, stop))
            return false;
        if (!b.name.empty()) {
            const std::string key = ShapeNameKey(b.name);
            if (!blockIndex_.count(key)) {
                blockIndex_[key] = blocks_.size();
                blocks_.push_back(std::move(b));
            }
        }
        if (stop.type == "ENDSEC")
            return true;  // the last block lacked its end
        if (stop.type == "BLOCK")
            UnreadRecord(std::move(stop));
    }
    return Fail(in_.Failed() ? in_.Error() : "the file ends inside the BLOCKS section");
}

bool DxfParser::ParseEntityList(std::vector<DrawingShape>& out, bool modelSpace, Record& stop) {
    Record r;
    while (ReadRecord(r)) {
        if (r.type == "ENDSEC" || r.type == "ENDBLK" || r.type == "BLOCK") {
            stop = std::move(r);
            return true;
        }
        if (r.type == "POLYLINE") {
            std::vector<Record> vertices;
            Record v;
            while (ReadRecord(v)) {
                if (v.type == "VERTEX") {
                    vertices.push_back(std::move(v));
                    continue;
                }
                if (v.type != "SEQEND")
                    UnreadRecord(std::move(v));
                break;
            }
            if (!error_.empty() || in_.Failed())
                break;
            ParsePolyline(r, vertices, out, modelSpace);
            continue;
        }
        if (r.type == "INSERT") {
            ParseEntity(r, out, modelSpace);
            // Attributes follow their insert, closed by SEQEND.
            Record a;
            bool any = false;
            while (ReadRecord(a)) {
                if (a.type == "ATTRIB") {
                    any = true;
                    ParseEntity(a, out, modelSpace);
                    continue;
                }
                if (!(a.type == "SEQEND" && any))
                    UnreadRecord(std::move(a));
                break;
            }
            if (!error_.empty() || in_.Failed())
                break;
            continue;
        }
        ParseEntity(r, out, modelSpace);
        if (!error_.empty())
            return false;
    }
    return Fail(in_.Failed() ? in_.Error() : "the file ends inside a list of entities");
}

uint32_t DxfParser::LineTypeOf(std::string_view name) {
    if (name.empty())
        return CAD_LTYPE_BYLAYER;
    const std::string text = Text(name);
    auto it = lineTypes_.find(ShapeNameKey(text));
    return DxfLineTypeCode(text, it == lineTypes_.end() ? std::vector<double>() : it->second);
}

bool DxfParser::Common(const Record& r, DrawingShape& s, bool modelSpace) {
    if (modelSpace && r.I(67) == 1)
        return false;  // paper space
    s.layer = r.Has(8) ? Text(r.S(8)) : std::string("0");
    if (s.layer.empty())
        s.layer = "0";
    s.colour = r.I(62, CAD_COLOR_BYLAYER);
    if (s.colour < 0) {
        s.visible = false;
        s.colour = -s.colour;
    }
    if (r.Has(420))
        s.colour = CadColorSeek(DxfTrueColourToColourRef(uint32_t(r.I(420))));
    if (s.colour > 256)
        s.colour = CAD_COLOR_BYLAYER;
    s.lineType = LineTypeOf(r.S(6));
    s.lineWeight = r.I(370, CAD_LWEIGHT_BYLAYER);
    if (r.I(60) == 1)
        s.visible = false;
    return true;
}

void DxfParser::ParseEntity(const Record& r, std::vector<DrawingShape>& out, bool modelSpace) {
    DrawingShape s;
    if (!Common(r, s, modelSpace))
        return;
    const KelvaroXData x = KelvaroXData::Parse(r.g);
    x.ApplyTo(s);
    const Ocs ocs(r.Has(210) ? r.P(210) : ShapePoint{0, 0, 1});
    const std::string_view t = r.type;
    if (t == "POINT") {
        s.kind = CAD_ENT_POINT;
        s.pts = {r.P(10)};
        out.push_back(std::move(s));
    } else if (t == "LINE") {
        s.kind = CAD_ENT_LINE;
        s.pts = {r.P(10), r.P(11)};
        out.push_back(std::move(s));
    } else if (t == "CIRCLE" || t == "ARC") {
        Circle(r, std::move(s), ocs, out);
    } else if (t == "ELLIPSE") {
        Ellipse(r, std::move(s), out);
    } else if (t == "LWPOLYLINE") {
        LwPolyline(r, std::move(s), x, out);
    } else if (t == "TEXT") {
        TextEntity(r, std::move(s), ocs, 73, out);
    } else if (t == "ATTRIB") {
        if (!(r.I(70) & 1))
            TextEntity(r, std::move(s), ocs, 74, out);
    } else if (t == "MTEXT") {
        MText(r, std::move(s), out);
    } else if (t == "SPLINE") {
        Spline(r, std::move(s), out);
    } else if (t == "HATCH") {
        Hatch(r, std::move(s), x, out);
    } else if (t == "DIMENSION") {
        Dimension(r, std::move(s), x, out);
    } else if (t == "INSERT") {
        Insert(r, std::move(s), ocs, out);
    } else if (t == "SOLID" || t == "TRACE" || t == "3DFACE") {
        const bool solid = t != "3DFACE";
        const ShapePoint c0 = r.P(10), c1 = r.P(11), c2 = r.P(12), c3 = r.Has(13) ? r.P(13) : r.P(12);
        // A solid's corners run 1, 2, 4, 3; a face's 1, 2, 3, 4.
        std::vector<ShapePoint> pts =
            solid ? std::vector<ShapePoint>{c0, c1, c3, c2} : std::vector<ShapePoint>{c0, c1, c2, c3};
        std::vector<ShapePoint> ring;
        for (ShapePoint p : pts) {
            if (solid)
                p = ocs.ToWorld(p);
            if (ring.empty() || !SamePoint(ring.back(), p))
                ring.push_back(p);
        }
        DropClosingPoint(ring);
        s.pts = std::move(ring);
        s.closed = true;
        s.kind = solid && s.pts.size() >= 3 ? CAD_ENT_POLYGON : CAD_ENT_POLYLINE;
        out.push_back(std::move(s));
    } else if (t == "LEADER") {
        s.kind = CAD_ENT_POLYLINE;
        for (size_t i = 0; i < r.g.size(); ++i)
            if (r.g[i].code == 10)
                s.pts.push_back({r.g[i].Real(),
                                 i + 1 < r.g.size() && r.g[i + 1].code == 20 ? r.g[i + 1].Real() : 0,
                                 i + 2 < r.g.size() && r.g[i + 2].code == 30 ? r.g[i + 2].Real() : 0});
        out.push_back(std::move(s));
    } else if (t == "ATTDEF" || t == "VERTEX" || t == "SEQEND" || t == "VIEWPORT") {
        // Attribute templates of blocks, strays of a sequence, and paper-space windows.
    } else {
        Skip(t);
    }
}

void DxfParser::Circle(const Record& r, DrawingShape s, const Ocs& ocs, std::vector<DrawingShape>& out) {
    const bool circle = r.type == "CIRCLE";
    const ShapePoint c = r.P(10);
    const double radius = r.R(40);
    const double a0 = circle ? 0 : r.R(50) * kDeg, a1 = circle ? 2 * kPi : r.R(51) * kDeg;
    if (!ocs.flat) {
        // Tilted out of the plane: the curve as a polyline through its points in space.
        std::vector<ShapePoint> pts;
        AppendArcPoints(pts, c.x, c.y, c.z, radius, a0, a0 + ArcSweep(a0, a1));
        for (ShapePoint& p : pts)
            p = ocs.ToWorld(p);
        if (circle)
            DropClosingPoint(pts);
        s.kind = CAD_ENT_POLYLINE;
        s.closed = circle;
        s.pts = std::move(pts);
        out.push_back(std::move(s));
        return;
    }
    s.kind = CAD_ENT_ARC;
    s.ival = circle ? 1 : 0;
    s.pts = {c};
    s.v[0] = radius;
    s.v[1] = a0;
    s.v[2] = a1;
    TransformShape(s, ocs.plane, out);
}

void DxfParser::Ellipse(const Record& r, DrawingShape s, std::vector<DrawingShape>& out) {
    const ShapePoint c = r.P(10), m = r.P(11);
    const ShapePoint n = r.Has(210) ? r.P(210) : ShapePoint{0, 0, 1};
    const double ratio = r.R(40, 1), t0 = r.R(41, 0), t1 = r.R(42, 2 * kPi);
    const double major = std::sqrt(m.x * m.x + m.y * m.y + m.z * m.z);
    const Ocs ocs(n);
    if (!ocs.flat || std::fabs(m.z) > 1e-9 * std::max(1.0, major)) {
        // The minor axis is n x m scaled by the ratio.
        const ShapePoint& z = ocs.az;
        const ShapePoint mi{ratio * (z.y * m.z - z.z * m.y), ratio * (z.z * m.x - z.x * m.z),
                            ratio * (z.x * m.y - z.y * m.x)};
        const double end = t0 + ArcSweep(t0, t1);
        const int steps = std::clamp(int(std::ceil((end - t0) / (5 * kDeg))), 4, 1000);
        for (int i = 0; i <= steps; ++i) {
            const double t = t0 + (end - t0) * i / steps, cs = std::cos(t), sn = std::sin(t);
            s.pts.push_back(
                {c.x + m.x * cs + mi.x * sn, c.y + m.y * cs + mi.y * sn, c.z + m.z * cs + mi.z * sn});
        }
        const bool whole = std::fabs(end - t0 - 2 * kPi) < 1e-9;
        if (whole)
            DropClosingPoint(s.pts);
        s.kind = CAD_ENT_POLYLINE;
        s.closed = whole;
        out.push_back(std::move(s));
        return;
    }
    s.kind = CAD_ENT_ELLIPSE;
    s.pts = {c};
    s.v[0] = major;
    s.v[1] = major * ratio;
    s.v[2] = std::atan2(m.y, m.x);
    const bool whole = std::fabs(std::fabs(t1 - t0) - 2 * kPi) < 1e-12;
    if (n.z < 0 && !whole) {
        // Seen from below the curve runs the other way round.
        s.v[3] = -t1;
        s.v[4] = -t0;
    } else {
        s.v[3] = t0;
        s.v[4] = t1;
    }
    out.push_back(std::move(s));
}

void DxfParser::LwPolyline(const Record& r, DrawingShape s, const KelvaroXData& x,
                           std::vector<DrawingShape>& out) {
    const Ocs ocs(r.Has(210) ? r.P(210) : ShapePoint{0, 0, 1});
    const double elevation = r.R(38);
    std::vector<ShapePoint> v;
    std::vector<double> bulge;
    for (const DxfGroup& g : r.g) {
        if (g.code == 1001)
            break;
        if (g.code == 10) {
            v.push_back({g.Real(), 0, elevation});
            bulge.push_back(0);
        } else if (g.code == 20 && !v.empty()) {
            v.back().y = g.Real();
        } else if (g.code == 42 && !v.empty()) {
            bulge.back() = g.Real();
        }
    }
    if (x.rect) {
        s.kind = CAD_ENT_RECT;
        s.pts = {x.rectCentre};
        s.v[0] = x.rectWidth;
        s.v[1] = x.rectHeight;
        s.v[2] = x.rectTurn;
        out.push_back(std::move(s));
        return;
    }
    EmitPolyline(std::move(s), v, bulge, (r.I(70) & 1) != 0, &ocs, out);
}

void DxfParser::ParsePolyline(const Record& head, const std::vector<Record>& vertices,
                              std::vector<DrawingShape>& out, bool modelSpace) {
    DrawingShape s;
    if (!Common(head, s, modelSpace))
        return;
    const KelvaroXData x = KelvaroXData::Parse(head.g);
    x.ApplyTo(s);
    const int flags = head.I(70);
    const Ocs ocs(head.Has(210) ? head.P(210) : ShapePoint{0, 0, 1});
    s.kind = CAD_ENT_POLYLINE;
    if (flags & 64) {
        // A polyface mesh: position vertices, then faces that index them (from 1; a negative
        // index hides the edge that starts there).
        std::vector<ShapePoint> positions;
        for (const Record& v : vertices) {
            const int vf = v.I(70);
            if ((vf & 128) && (vf & 64)) {
                positions.push_back(v.P(10));
            } else if (vf & 128) {
                DrawingShape f = s;
                for (int code = 71; code <= 74; ++code) {
                    const int idx = std::abs(v.I(code));
                    if (idx >= 1 && size_t(idx) <= positions.size() &&
                        (f.pts.empty() || !SamePoint(f.pts.back(), positions[size_t(idx) - 1])))
                        f.pts.push_back(positions[size_t(idx) - 1]);
                }
                DropClosingPoint(f.pts);
                if (f.pts.size() >= 2) {
                    f.closed = f.pts.size() > 2;
                    out.push_back(std::move(f));
                }
            }
        }
        return;
    }
    if (flags & 16) {
        // A polygon mesh of m rows of n vertices: its rows and its columns.
        const int m = head.I(71), n = head.I(72);
        if (m < 1 || n < 1 || size_t(m) * size_t(n) > vertices.size())
            return;
        auto at = [&](int i, int j) { return vertices[size_t(i) * size_t(n) + size_t(j)].P(10); };
        for (int i = 0; i < m && n > 1; ++i) {
            DrawingShape row = s;
            for (int j = 0; j < n; ++j)
                row.pts.push_back(at(i, j));
            row.closed = (flags & 32) != 0;
            out.push_back(std::move(row));
        }
        for (int j = 0; j < n && m > 1; ++j) {
            DrawingShape col = s;
            for (int i = 0; i < m; ++i)
                col.pts.push_back(at(i, j));
            col.closed = (flags & 1) != 0;
            out.push_back(std::move(col));
        }
        return;
    }
    const bool is3d = (flags & 8) != 0;
    bool haveSplinePoints = false;
    for (const Record& v : vertices)
        if (v.I(70) & 8)
            haveSplinePoints = true;
    std::vector<ShapePoint> v;
    std::vector<double> bulge;
    for (const Record& rec : vertices) {
        const int vf = rec.I(70);
        if (flags & 4) {
            // Spline-fit: the curve's own points when given, else its frame drawn smooth.
            if (haveSplinePoints ? !(vf & 8) : !(vf & 16))
                continue;
            if (!haveSplinePoints)
                s.fit = 1;
        } else {
            if (vf & 16)
                continue;  // frame of a spline
            if ((flags & 2) && (vf & 1)) {
                s.fit = 1;  // points added by curve fitting: the engine draws its own curve
                continue;
            }
        }
        ShapePoint p = rec.P(10);
        if (!is3d)
            p.z = head.R(30);
        v.push_back(p);
        bulge.push_back(is3d ? 0 : rec.R(42));
    }
    if (flags & 2)
        s.fit = 1;
    if (s.fit)
        bulge.assign(bulge.size(), 0.0);
    EmitPolyline(std::move(s), v, bulge, (flags & 1) != 0, is3d ? nullptr : &ocs, out);
}

void DxfParser::TextEntity(const Record& r, DrawingShape s, const Ocs& ocs, int verticalCode,
                           std::vector<DrawingShape>& out) {
    s.kind = CAD_ENT_TEXT;
    s.text = DxfResolveTextCodes(Text(r.S(1)));
    s.v[0] = r.R(40, 1);
    s.v[1] = r.R(50) * kDeg;
    const int h = r.I(72), v = r.I(verticalCode);
    ShapePoint p = r.P(10);
    if (h == 3 || h == 5) {
        // Aligned and fitted texts run from the first to the second point.
        const ShapePoint q = r.P(11);
        if (r.Has(11) && (q.x != p.x || q.y != p.y))
            s.v[1] = std::atan2(q.y - p.y, q.x - p.x);
        s.ival = CAD_TA_LEFT_BASE;
    } else if (h == 4) {
        if (r.Has(11))
            p = r.P(11);
        s.ival = CAD_TA_CENTER_MIDDLE;
    } else {
        if ((h != 0 || v != 0) && r.Has(11))
            p = r.P(11);
        s.ival = AlignOf(h, v);
    }
    s.pts = {p};
    if (ocs.flat) {
        TransformShape(s, ocs.plane, out);
    } else {
        s.pts[0] = ocs.ToWorld(p);
        out.push_back(std::move(s));
    }
}

void DxfParser::MText(const Record& r, DrawingShape s, std::vector<DrawingShape>& out) {
    std::string raw;
    for (const DxfGroup& g : r.g) {
        if (g.code == 1001)
            break;
        if (g.code == 3)
            raw += g.value;
    }
    raw += r.S(1);
    std::string text = DxfPlainMText(Text(raw));
    while (!text.empty() && (text.back() == '\n' || text.back() == ' '))
        text.pop_back();
    s.kind = CAD_ENT_TEXT;
    s.text = std::move(text);
    s.v[0] = r.R(40, 1);
    if (r.Has(11)) {
        const ShapePoint d = r.P(11);
        s.v[1] = (d.x != 0 || d.y != 0) ? std::atan2(d.y, d.x) : 0;
    } else {
        // AutoCAD itself reads this angle in degrees.
        s.v[1] = r.R(50) * kDeg;
    }
    static const int attach[10] = {CAD_TA_LEFT_TOP,     CAD_TA_LEFT_TOP,    CAD_TA_CENTER_TOP,
                                   CAD_TA_RIGHT_TOP,    CAD_TA_LEFT_MIDDLE, CAD_TA_CENTER_MIDDLE,
                                   CAD_TA_RIGHT_MIDDLE, CAD_TA_LEFT_BOTTOM, CAD_TA_CENTER_BOTTOM,
                                   CAD_TA_RIGHT_BOTTOM};
    s.ival = attach[std::clamp(r.I(71, 1), 0, 9)];
    s.pts = {r.P(10)};
    out.push_back(std::move(s));
}

void DxfParser::Spline(const Record& r, DrawingShape s, std::vector<DrawingShape>& out) {
    BSplineCurve c;
    std::vector<ShapePoint> fit;
    c.degree = r.I(71, 3);
    for (size_t i = 0; i < r.g.size(); ++i) {
        const DxfGroup& g = r.g[i];
        if (g.code == 1001)
            break;
        auto point = [&] {
            ShapePoint p{g.Real(), 0, 0};
            if (i + 1 < r.g.size() && r.g[i + 1].code == g.code + 10)
                p.y = r.g[i + 1].Real();
            if (i + 2 < r.g.size() && r.g[i + 2].code == g.code + 20)
                p.z = r.g[i + 2].Real();
            return p;
        };
        if (g.code == 40)
            c.knots.push_back(g.Real());
        else if (g.code == 41)
            c.weights.push_back(g.Real());
        else if (g.code == 10)
            c.control.push_back(point());
        else if (g.code == 11)
            fit.push_back(point());
    }
    const int flags = r.I(70);
    const bool closed = (flags & 1) != 0 || (flags & 2) != 0;
    s.kind = CAD_ENT_SPLINE;
    if (fit.size() >= 2) {
        s.pts = std::move(fit);
    } else {
        s.pts = BSplineSample(c, 8);
        if (s.pts.size() < 2)
            return;
        if (closed || SamePoint(s.pts.front(), s.pts.back())) {
            // A sampled closed curve ends where it started.
            const ShapePoint &a = s.pts.front(), &b = s.pts.back();
            if (std::hypot(a.x - b.x, a.y - b.y) < 1e-9 * (1 + std::fabs(a.x) + std::fabs(a.y)))
                s.pts.pop_back();
        }
    }
    if (closed)
        DropClosingPoint(s.pts);
    s.closed = closed;
    out.push_back(std::move(s));
}

void DxfParser::Hatch(const Record& r, DrawingShape s, const KelvaroXData& x,
                      std::vector<DrawingShape>& out) {
    const auto& g = r.g;
    size_t i = 0;
    const size_t n = g.size();
    auto at = [&](int code) { return i < n && g[i].code == code; };
    auto real = [&](int code, double def = 0) { return at(code) ? g[i++].Real() : def; };
    auto integer = [&](int code, int def = 0) { return at(code) ? g[i++].Int() : def; };
    // The fixed part up to the boundary count.
    while (i < n && g[i].code != 91 && g[i].code != 1001)
        ++i;
    const Ocs ocs(r.Has(210) ? r.P(210) : ShapePoint{0, 0, 1});
    const double elevation = r.R(30);
    const int paths = at(91) ? g[i++].Int() : 0;
    std::vector<std::vector<ShapePoint>> loops;
    for (int p = 0; p < paths && i < n; ++p) {
        while (i < n && g[i].code != 92 && g[i].code != 1001)
            ++i;
        if (!at(92))
            break;
        const int type = g[i++].Int();
        std::vector<ShapePoint> loop;
        auto add = [&](const ShapePoint& q) {
            if (loop.empty() || !SamePoint(loop.back(), q))
                loop.push_back(q);
        };
        if (type & 2) {
            const bool hasBulge = integer(72) != 0;
            integer(73);
            const int count = std::min(integer(93), int(n));
            std::vector<ShapePoint> v;
            std::vector<double> b;
            for (int k = 0; k < count && i < n; ++k) {
                const double px = real(10), py = real(20);
                v.push_back({px, py, elevation});
                b.push_back(hasBulge ? real(42) : 0);
            }
            for (const ShapePoint& q : BulgedPoints(v, b, true))
                add(q);
        } else {
            const int edges = std::min(integer(93), int(n));
            for (int e = 0; e < edges && i < n; ++e) {
                const int et = integer(72);
                std::vector<ShapePoint> pts;
                if (et == 1) {
                    const double x0 = real(10), y0 = real(20), x1 = real(11), y1 = real(21);
                    pts = {{x0, y0, elevation}, {x1, y1, elevation}};
                } else if (et == 2 || et == 3) {
                    const double cx = real(10), cy = real(20);
                    double mx = 0, my = 0;
                    if (et == 3) {
                        mx = real(11);
                        my = real(21);
                    }
                    const double rr = real(40);
                    double a0 = real(50) * kDeg, a1 = real(51) * kDeg;
                    const bool ccw = integer(73, 1) != 0;
                    // Clockwise edges store their angles negated.
                    if (!ccw) {
                        a0 = -a0;
                        a1 = a0 - ArcSweep(-a1, a0);
                    } else {
                        a1 = a0 + ArcSweep(a0, a1);
                    }
                    if (et == 2) {
                        AppendArcPoints(pts, cx, cy, elevation, rr, a0, a1);
                    } else {
                        // Elliptic edge: major axis end (relative), ratio of the minor axis.
                        std::vector<ShapePoint> unit;
                        AppendArcPoints(unit, 0, 0, elevation, 1, a0, a1);
                        for (const ShapePoint& u : unit)
                            pts.push_back(
                                {cx + mx * u.x - my * rr * u.y, cy + my * u.x + mx * rr * u.y, elevation});
                    }
                } else if (et == 4) {
                    BSplineCurve c;
                    c.degree = integer(94, 3);
                    const bool rational = integer(73) != 0;
                    integer(74);
                    const int nk = std::min(integer(95), int(n)), nc = std::min(integer(96), int(n));
                    for (int k = 0; k < nk && at(40); ++k)
                        c.knots.push_back(real(40));
                    for (int k = 0; k < nc && at(10); ++k) {
                        const double px = real(10), py = real(20);
                        c.control.push_back({px, py, elevation});
                        if (rational || at(42))
                            c.weights.push_back(real(42, 1));
                    }
                    const int nf = at(97) ? std::min(integer(97), int(n)) : 0;
                    std::vector<ShapePoint> fitPts;
                    for (int k = 0; k < nf && at(11); ++k) {
                        const double px = real(11), py = real(21);
                        fitPts.push_back({px, py, elevation});
                    }
                    for (int code : {12, 22, 13, 23})
                        real(code);
                    pts = c.control.size() >= 2 ? BSplineSample(c, 8) : fitPts;
                } else {
                    break;  // an edge type this reader does not know: the rest cannot be followed
                }
                for (const ShapePoint& q : pts)
                    add(q);
            }
        }
        DropClosingPoint(loop);
        for (ShapePoint& q : loop)
            q = ocs.ToWorld(q);
        if (loop.size() >= 3)
            loops.push_back(std::move(loop));
    }
    // Pattern: solid, or lines (crossed when doubled or when the pattern has lines at several
    // angles). Scale and angle as written.
    int pattern = r.I(70) == 1 ? 0 : 1;
    double scale = 1, angle = 0;
    {
        size_t k = i;
        std::set<long long> angles;
        for (; k < n && g[k].code != 1001; ++k) {
            if (g[k].code == 52)
                angle = g[k].Real() * kDeg;
            else if (g[k].code == 41)
                scale = g[k].Real();
            else if (g[k].code == 77 && g[k].Int() != 0 && pattern != 0)
                pattern = 2;
            else if (g[k].code == 53)
                angles.insert(std::llround(std::fmod(g[k].Real() + 360.0, 180.0) * 1000));
        }
        if (pattern != 0 && angles.size() > 1)
            pattern = 2;
    }
    // Each loop that lies inside an even number of others is an outer boundary; the engine's
    // hatch has one boundary, so every outer loop becomes a hatch and the holes are left out.
    auto inside = [](const std::vector<ShapePoint>& ring, const ShapePoint& p) {
        bool in = false;
        for (size_t a = 0, b = ring.size() - 1; a < ring.size(); b = a++)
            if ((ring[a].y > p.y) != (ring[b].y > p.y) &&
                p.x < (ring[b].x - ring[a].x) * (p.y - ring[a].y) / (ring[b].y - ring[a].y) + ring[a].x)
                in = !in;
        return in;
    };
    for (size_t a = 0; a < loops.size(); ++a) {
        int depth = 0;
        for (size_t b = 0; b < loops.size(); ++b)
            if (a != b && inside(loops[b], loops[a][0]))
                ++depth;
        if (depth % 2)
            continue;
        DrawingShape h = s;
        h.pts = loops[a];
        h.closed = true;
        if (x.polygon) {
            h.kind = CAD_ENT_POLYGON;
        } else {
            h.kind = CAD_ENT_HATCH;
            h.ival = pattern;
            h.v[0] = x.hasPattern ? x.patternScale : scale;
            h.v[1] = x.hasPattern ? x.patternAngle : angle;
        }
        out.push_back(std::move(h));
    }
}

void DxfParser::Dimension(const Record& r, DrawingShape s, const KelvaroXData& x,
                          std::vector<DrawingShape>& out) {
    const int type = r.I(70) & 7;
    const ShapePoint p10 = r.P(10), p11 = r.P(11), p13 = r.P(13), p14 = r.P(14), p15 = r.P(15), p16 = r.P(16);
    ShapePoint a, b, c;
    int kind = -1;
    auto picture = [&] {
        // A dimension the engine cannot express: its picture block, already in place.
        const std::string block = Text(r.S(2));
        if (block.empty())
            return;
        DrawingShape ins = s;
        ins.kind = CAD_ENT_INSERT;
        ins.text = block;
        ins.ival = 1;
        out.push_back(std::move(ins));
    };
    switch (type) {
        case 0: {
            // Rotated: horizontal and vertical ones are the engine's linear dimensions.
            a = p13;
            b = p14;
            c = p10;
            const double rot = std::fmod(std::fabs(r.R(50)), 180.0);
            const double mx = (a.x + b.x) / 2, my = (a.y + b.y) / 2;
            const bool horizontalByPoints = std::fabs(c.y - my) >= std::fabs(c.x - mx);
            if (rot < 1e-9 || rot > 180 - 1e-9) {
                kind = CAD_DIM_LINEAR;
                if (!horizontalByPoints)
                    c = {mx, c.y, 0};
            } else if (std::fabs(rot - 90) < 1e-9) {
                kind = CAD_DIM_LINEAR;
                if (horizontalByPoints)
                    c = {c.x, my, 0};
            } else {
                const double dir = std::atan2(b.y - a.y, b.x - a.x) / kDeg;
                if (std::fabs(std::fmod(std::fabs(dir - r.R(50)) + 1e-9, 180.0)) < 2e-9)
                    kind = CAD_DIM_ALIGNED;
                else
                    return picture();
            }
            break;
        }
        case 1:
            kind = CAD_DIM_ALIGNED;
            a = p13;
            b = p14;
            c = p10;
            break;
        case 2: {
            // Two lines (13-14 and 15-10); the arc passes through 16.
            const double ux = p14.x - p13.x, uy = p14.y - p13.y, vx = p10.x - p15.x, vy = p10.y - p15.y;
            const double den = Cross(ux, uy, vx, vy);
            if (std::fabs(den) < 1e-15)
                return picture();
            const double t = Cross(p15.x - p13.x, p15.y - p13.y, vx, vy) / den;
            a = {p13.x + ux * t, p13.y + uy * t, 0};
            const double rad = std::hypot(p16.x - a.x, p16.y - a.y);
            const double aq = std::atan2(p16.y - a.y, p16.x - a.x);
            // Of the legs' four directions, the two that enclose the arc point, in the order
            // that runs counter-clockwise through it.
            const double au = std::atan2(uy, ux), av = std::atan2(vy, vx);
            const double firsts[4] = {au, au + kPi, av, av + kPi}, seconds[4] = {av, av + kPi, au, au + kPi};
            double first = au, second = av;
            for (int f = 0; f < 4; ++f)
                for (int k = 0; k < 2; ++k) {
                    const double s1 = firsts[f], s2 = seconds[(f < 2 ? 0 : 2) + k];
                    const double sweep = CcwSweep(s1, s2);
                    if (sweep < kPi && CcwSweep(s1, aq) <= sweep) {
                        first = s1;
                        second = s2;
                    }
                }
            if (!(rad > 0))
                return picture();
            kind = CAD_DIM_ANGULAR;
            b = {a.x + rad * std::cos(first), a.y + rad * std::sin(first), 0};
            c = {a.x + rad * std::cos(second), a.y + rad * std::sin(second), 0};
            break;
        }
        case 5: {
            kind = CAD_DIM_ANGULAR;
            a = p15;
            b = p13;
            c = p14;
            // The arc passes through 10; the engine draws it at the first leg's length.
            const double rad = std::hypot(p10.x - a.x, p10.y - a.y), l = std::hypot(b.x - a.x, b.y - a.y);
            if (l > 0 && rad > 0 && std::fabs(rad - l) > 1e-12 * rad)
                b = {a.x + (b.x - a.x) / l * rad, a.y + (b.y - a.y) / l * rad, 0};
            // The engine measures counter-clockwise from the first leg to the second: take the
            // legs in the order that puts the arc point between them.
            const double ab = std::atan2(b.y - a.y, b.x - a.x), ac = std::atan2(c.y - a.y, c.x - a.x);
            const double aq = std::atan2(p10.y - a.y, p10.x - a.x);
            if (CcwSweep(ab, aq) > CcwSweep(ab, ac)) {
                b = {a.x + rad * std::cos(ac), a.y + rad * std::sin(ac), 0};
                c = {a.x + rad * std::cos(ab), a.y + rad * std::sin(ab), 0};
            }
            break;
        }
        case 3:
            kind = CAD_DIM_DIAMETER;
            a = {(p10.x + p15.x) / 2, (p10.y + p15.y) / 2, 0};
            b = p15;
            c = p11;
            break;
        case 4:
            kind = CAD_DIM_RADIUS;
            a = p10;
            b = p15;
            c = p11;
            break;
        case 6:
            kind = CAD_DIM_ORDINATE;
            a = p13;
            b = x.hasOrdinate ? x.ordinate : p13;
            c = p14;
            break;
        default:
            return picture();
    }
    s.kind = CAD_ENT_DIMENSION;
    s.ival = kind;
    s.pts = {{a.x, a.y, 0}, {b.x, b.y, 0}, {c.x, c.y, 0}};
    // Its own text, and the sizes of its style: overrides, then the named style, then the header.
    s.text = Text(r.S(1));
    std::string styleName(r.S(3));
    if (styleName.empty())
        styleName = headerDimStyle_.empty() ? std::string("Standard") : headerDimStyle_;
    const auto named = dimStyles_.find(ShapeNameKey(styleName));
    DimSizes sizes =
        DimStyleOverrides(r.g).Over(named != dimStyles_.end() ? named->second : DimSizes()).Over(headerDim_);
    const double scale = sizes.scale > 0 ? sizes.scale : 1;
    s.v[0] = std::max(0.0, sizes.text) * scale;
    s.v[1] = std::max(0.0, sizes.arrow) * scale;
    s.v[2] = std::max(0.0, sizes.tick) * scale;
    out.push_back(std::move(s));
}

void DxfParser::Insert(const Record& r, DrawingShape s, const Ocs& ocs, std::vector<DrawingShape>& out) {
    s.kind = CAD_ENT_INSERT;
    s.text = Text(r.S(2));
    if (s.text.empty())
        return;
    const ShapePoint at = r.P(10);
    const double sx = r.R(41, 1), sy = r.R(42, 1), sz = r.R(43, 1), turn = r.R(50) * kDeg;
    const int columns = std::max(1, r.I(70, 1)), rows = std::max(1, r.I(71, 1));
    const double cs = r.R(44), rs = r.R(45);
    if (!Spend(int64_t(columns) * rows))
        return;
    const ShapeAffine shape = ShapeAffine::ScaleTurn(sx, sy, sz, turn);
    const double c = std::cos(turn), sn = std::sin(turn);
    for (int row = 0; row < rows; ++row)
        for (int col = 0; col < columns; ++col) {
            const double dx = col * cs, dy = row * rs;
            const ShapePoint p{at.x + dx * c - dy * sn, at.y + dx * sn + dy * c, at.z};
            DrawingShape one = s;
            if (ocs.flat) {
                one.placement = ocs.plane * ShapeAffine::Translation(p.x, p.y, p.z) * shape;
            } else {
                const ShapePoint w = ocs.ToWorld(p);
                one.placement = ShapeAffine::Translation(w.x, w.y, w.z) * shape;
            }
            out.push_back(std::move(one));
        }
}

BlockDef* DxfParser::FindBlock(const std::string& name) {
    auto it = blockIndex_.find(ShapeNameKey(name));
    return it == blockIndex_.end() ? nullptr : &blocks_[it->second];
}

bool DxfParser::Expand(const DrawingShape& insert, const ShapeAffine& outer, int depth,
                       const DrawingShape* owner, std::vector<DrawingShape>& out) {
    BlockDef* b = FindBlock(insert.text);
    if (!b || depth > kMaxNesting || b->resolving)
        return true;  // a missing block, or one that contains itself: nothing to draw
    const ShapeAffine map =
        insert.ival == 1
            ? outer
            : outer * insert.placement * ShapeAffine::Translation(-b->base.x, -b->base.y, -b->base.z);
    // What the reference passes on to the block's entities: its layer to those on layer "0",
    // its colour to those coloured "by block".
    const DrawingShape& from = owner ? *owner : insert;
    b->resolving = true;
    bool ok = true;
    for (const DrawingShape& s : b->shapes) {
        if (s.kind == CAD_ENT_INSERT) {
            DrawingShape nested = s;
            if (nested.layer == "0")
                nested.layer = from.layer;
            if (nested.colour == CAD_COLOR_BYBLOCK)
                nested.colour = from.colour;
            ok = Expand(nested, map, depth + 1, &nested, out);
        } else {
            if (!Spend(1)) {
                ok = false;
                break;
            }
            const size_t first = out.size();
            TransformShape(s, map, out);
            for (size_t k = first; k < out.size(); ++k) {
                if (out[k].layer == "0")
                    out[k].layer = from.layer;
                if (out[k].colour == CAD_COLOR_BYBLOCK)
                    out[k].colour = from.colour;
            }
        }
        if (!ok)
            break;
    }
    b->resolving = false;
    return ok;
}

bool DxfParser::ResolveBlock(BlockDef& b, std::vector<DrawingShape>& out) {
    b.resolving = true;
    bool ok = true;
    for (const DrawingShape& s : b.shapes) {
        if (s.kind == CAD_ENT_INSERT) {
            // Nested references become the entities they stand for, as the nested reference
            // passes on its layer and colour.
            BlockDef* inner = FindBlock(s.text);
            if (!inner || inner->resolving)
                continue;
            std::vector<DrawingShape> part;
            ok = Expand(s, ShapeAffine(), 1, nullptr, part);
            for (DrawingShape& p : part)
                out.push_back(std::move(p));
        } else {
            ok = Spend(1);
            out.push_back(s);
        }
        if (!ok)
            break;
    }
    b.resolving = false;
    return ok;
}

bool DxfParser::Build(CadDrawing* drawing, std::string* error, DxfReadReport* report) {
    DrawingBuilder builder(drawing);
    for (const LayerDef& l : layers_) {
        const uint32_t lt = l.lineType.empty() ? CAD_LTYPE_CONTINUOUS : LineTypeOf(l.lineType);
        builder.DefineLayer(l.name, l.colour, lt, l.lineWeight, l.visible, l.locked);
    }
    // Blocks the engine keeps: every named block, and the anonymous ones that a reference the
    // engine can keep uses. They are made before the drawing's entities (moving an entity into
    // a block is cheap while the drawing is small).
    double scale = 0, turn = 0;
    std::set<std::string> wanted;
    for (const BlockDef& b : blocks_)
        if (!b.name.empty() && b.name[0] != '*')
            wanted.insert(ShapeNameKey(b.name));
    for (const DrawingShape& s : model_)
        if (s.kind == CAD_ENT_INSERT && s.ival == 0 && s.placement.IsProperSimilarity(&scale, &turn))
            wanted.insert(ShapeNameKey(s.text));
    for (BlockDef& b : blocks_) {
        if (!wanted.count(ShapeNameKey(b.name)))
            continue;
        std::vector<DrawingShape> flat;
        if (!ResolveBlock(b, flat))
            break;
        b.engineId = builder.DefineBlock(b.name, b.base, flat);
    }
    int entities = 0;
    for (const DrawingShape& s : model_) {
        if (!error_.empty())
            break;
        if (s.kind != CAD_ENT_INSERT) {
            entities += builder.Add(s) ? 1 : 0;
            continue;
        }
        BlockDef* b = FindBlock(s.text);
        if (!b)
            continue;
        if (s.ival == 0 && b->engineId && s.placement.IsProperSimilarity(&scale, &turn)) {
            const ShapePoint at{s.placement.tx, s.placement.ty, s.placement.tz};
            entities += builder.AddInsert(s, b->engineId, at, scale, turn) ? 1 : 0;
            continue;
        }
        std::vector<DrawingShape> parts;
        if (!Expand(s, ShapeAffine(), 0, nullptr, parts))
            break;
        for (const DrawingShape& p : parts)
            entities += builder.Add(p) ? 1 : 0;
    }
    if (!error_.empty()) {
        if (error)
            *error = error_;
        return false;
    }
    if (report) {
        report->entities = entities;
        report->skipped = skipped_;
        report->skippedKinds.clear();
        for (const std::string& k : skippedKinds_)
            report->skippedKinds += (report->skippedKinds.empty() ? "" : ", ") + k;
    }
    return true;
}

}  // namespace

uint32_t DxfLineTypeCode(const std::string& name, const std::vector<double>& pattern) {
    const std::string n = ShapeNameKey(name);
    if (n.empty() || n == "BYLAYER" || n == "BYBLOCK")
        return CAD_LTYPE_BYLAYER;
    if (n == "CONTINUOUS")
        return CAD_LTYPE_CONTINUOUS;
    const bool dash = n.find("DASH") != std::string::npos || n.find("HIDDEN") != std::string::npos;
    const bool dot = n.find("DOT") != std::string::npos;
    if ((dash && dot) || n.find("CENTER") != std::string::npos || n.find("PHANTOM") != std::string::npos ||
        n.find("DIVIDE") != std::string::npos || n.find("BORDER") != std::string::npos)
        return CAD_LTYPE_DASHDOT;
    if (dot)
        return CAD_LTYPE_DOTTED;
    if (dash)
        return CAD_LTYPE_DASHED;
    // An unknown name: what its pattern draws.
    bool dashes = false, dots = false;
    for (double v : pattern) {
        if (v > 0)
            dashes = true;
        else if (v == 0)
            dots = true;
    }
    if (dashes && dots)
        return CAD_LTYPE_DASHDOT;
    if (dots)
        return CAD_LTYPE_DOTTED;
    if (dashes)
        return CAD_LTYPE_DASHED;
    return CAD_LTYPE_CONTINUOUS;
}

int DxfReadDrawingData(const QByteArray& data, CadDrawing* drawing, std::string* error,
                       DxfReadReport* report) {
    if (!drawing) {
        if (error)
            *error = "no drawing";
        return 0;
    }
    DxfParser parser(data);
    if (!parser.Parse(error))
        return 0;
    return parser.Build(drawing, error, report) ? 1 : 0;
}

int DxfReadDrawing(const QString& path, CadDrawing* drawing, std::string* error, DxfReadReport* report) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) {
        if (error)
            *error = "cannot open the file: " + f.errorString().toStdString();
        return 0;
    }
    const QByteArray data = f.readAll();
    if (f.error() != QFileDevice::NoError) {
        if (error)
            *error = "cannot read the file: " + f.errorString().toStdString();
        return 0;
    }
    return DxfReadDrawingData(data, drawing, error, report);
}
