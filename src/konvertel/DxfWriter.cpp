#include "konvertel/DxfWriter.h"

#include <charconv>
#include <cmath>
#include <map>
#include <set>
#include <vector>

#include "konvertel/DrawingShape.h"
#include "konvertel/DxfGroups.h"
#include "konvertel/DxfXData.h"
#include "konvertel/SplineMath.h"
#include "platform/cad/CadDimension.h"
#include "platform/tools/SafeFile.h"

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kDeg = 180.0 / kPi;

// Handles of the fixed objects; the others are numbered from kFirstHandle on.
enum : uint64_t {
    kBlockRecordTable = 1,
    kLayerTable = 2,
    kStyleTable = 3,
    kLtypeTable = 5,
    kViewTable = 6,
    kUcsTable = 7,
    kVportTable = 8,
    kAppIdTable = 9,
    kDimStyleTable = 0xA,
    kRootDictionary = 0xC,
    kGroupDictionary = 0xD,
    kFirstHandle = 0x20,
};

const char* LineTypeName(uint32_t t) {
    switch (t) {
        case CAD_LTYPE_DASHED:
            return "DASHED";
        case CAD_LTYPE_DOTTED:
            return "DOT";
        case CAD_LTYPE_DASHDOT:
            return "DASHDOT";
        default:
            return "CONTINUOUS";
    }
}

// Horizontal (72) and vertical (73) justification of an engine alignment.
void Justification(int align, int& h, int& v) {
    static const int hs[12] = {0, 1, 2, 0, 0, 0, 1, 1, 1, 2, 2, 2};
    static const int vs[12] = {0, 0, 0, 1, 2, 3, 2, 1, 3, 1, 2, 3};
    const int a = align >= 0 && align < 12 ? align : 0;
    h = hs[a];
    v = vs[a];
}

// MTEXT attachment point of an engine alignment.
int Attachment(int align) {
    int h, v;
    Justification(align, h, v);
    const int row = v == 3 ? 0 : v == 2 ? 1 : 2;
    return row * 3 + h + 1;
}

// A measured value with two decimals and a point, whatever the locale.
std::string Number(double v) {
    char buf[64];
    const auto r = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::fixed, 2);
    return r.ec == std::errc() ? std::string(buf, r.ptr) : std::string("0.00");
}

struct Picture {
    std::vector<std::pair<ShapePoint, ShapePoint>> lines;
    std::vector<ShapePoint> arc;  // points of one arc, drawn as a polyline
    std::string label;
    ShapePoint at;      // the middle of the text's baseline
    ShapePoint anchor;  // the point on the dimension line (or arc) the text stands above
    double angle = 0;   // the text's direction, degrees
    double height = 1;
};

ShapePoint ToShape(const cad::DimPoint& p) {
    return {p.x, p.y, 0};
}

// What a dimension looks like, for programs that draw the picture block rather than computing
// the dimension: extension and dimension lines, the arc of an angle, leaders, arrowheads or
// ticks, and its text above the line. The shape is the drawing window's; sizes are the
// dimension's own where it has them, else a twentieth of what it measures.
Picture DimensionPicture(int kind, const ShapePoint& a, const ShapePoint& b, const ShapePoint& c,
                         const std::string& ownText, double textHeight, double arrowSize, double tickSize) {
    Picture p;
    cad::DimShape shape;
    if (!cad::MakeDimShape(kind, {a.x, a.y}, {b.x, b.y}, {c.x, c.y}, shape)) {
        p.label = cad::DimensionText(ownText, Number(0));
        p.at = c;
        return p;
    }
    for (const auto& path : shape.paths) {
        if (path.size() > 2) {
            for (const cad::DimPoint& q : path)
                p.arc.push_back(ToShape(q));
            continue;
        }
        for (size_t i = 1; i < path.size(); ++i)
            p.lines.push_back({ToShape(path[i - 1]), ToShape(path[i])});
    }
    std::string measured = Number(shape.value);
    if (kind == CAD_DIM_RADIUS)
        measured = "R" + measured;
    else if (kind == CAD_DIM_DIAMETER)
        measured = "%%c" + measured;
    else if (kind == CAD_DIM_ANGULAR)
        measured += "%%d";
    p.label = cad::DimensionText(ownText, measured);

    double size = std::fabs(shape.value);
    if (kind == CAD_DIM_ANGULAR || kind == CAD_DIM_ORDINATE)
        size = std::hypot(b.x - a.x, b.y - a.y) + std::hypot(c.x - a.x, c.y - a.y);
    p.height = textHeight > 0 ? textHeight : size > 0 ? size / 20 : 1;
    const double arrow = tickSize > 0 ? tickSize : arrowSize > 0 ? arrowSize : p.height;
    for (const auto& [tip, from] : shape.arrows) {
        const double dir = std::atan2(from.y - tip.y, from.x - tip.x);
        const ShapePoint t = ToShape(tip);
        if (tickSize > 0) {
            const double h = arrow / 2, turn = dir + kPi / 4;
            p.lines.push_back({{t.x - h * std::cos(turn), t.y - h * std::sin(turn), 0},
                               {t.x + h * std::cos(turn), t.y + h * std::sin(turn), 0}});
            continue;
        }
        for (double side : {-0.35, 0.35})
            p.lines.push_back(
                {t, {t.x + arrow * std::cos(dir + side), t.y + arrow * std::sin(dir + side), 0}});
    }
    const cad::DimPoint up = cad::DimTextUp(shape);
    const double gap = p.height / 4;
    p.anchor = ToShape(shape.textAt);
    p.at = {shape.textAt.x + up.x * gap, shape.textAt.y + up.y * gap, 0};
    p.angle = shape.textAngle * kDeg;
    return p;
}

class DxfWriter {
public:
    explicit DxfWriter(CadDrawing* d) : d_(d) {}
    std::string Write(DxfWriteReport* report);

private:
    uint64_t NewHandle() { return next_++; }
    const std::string& LayerName(int layerId);
    void Common(DxfGroupWriter& w, const char* type, CadEntity* e, uint64_t owner, uint64_t handle);
    // One entity with the given owner; false when it is left out.
    bool Entity(DxfGroupWriter& w, CadEntity* e, uint64_t owner);
    void Polyline(DxfGroupWriter& w, CadEntity* e, uint64_t owner, const KelvaroXData& x);
    void Text(DxfGroupWriter& w, CadEntity* e, uint64_t owner, const KelvaroXData& x);
    void Spline(DxfGroupWriter& w, CadEntity* e, uint64_t owner, const KelvaroXData& x);
    void Hatch(DxfGroupWriter& w, CadEntity* e, uint64_t owner, const KelvaroXData& x, bool polygon);
    void Dimension(DxfGroupWriter& w, CadEntity* e, uint64_t owner, const KelvaroXData& x);
    void Header(DxfGroupWriter& w);
    void Tables(DxfGroupWriter& w);
    void TableHead(DxfGroupWriter& w, const char* name, uint64_t handle, int count);
    void BlockBegin(DxfGroupWriter& w, const std::string& name, uint64_t record, const ShapePoint& base,
                    int flags);
    void BlockEnd(DxfGroupWriter& w, uint64_t record);

    struct BlockOut {
        std::string name;
        uint64_t record = 0;
        ShapePoint base;
        int flags = 0;
        std::string body;  // its entities
    };

    CadDrawing* d_;
    uint64_t next_ = kFirstHandle;
    uint64_t modelRecord_ = 0, paperRecord_ = 0;
    std::map<int, std::string> layerNames_;
    std::map<int, std::string> blockNames_;  // engine block id -> name in the file
    std::set<std::string> usedBlockKeys_;
    std::vector<BlockOut> blocks_;
    int dimensionBlocks_ = 0;
    int entities_ = 0, skipped_ = 0;
};

const std::string& DxfWriter::LayerName(int layerId) {
    auto it = layerNames_.find(layerId);
    if (it != layerNames_.end())
        return it->second;
    static const std::string zero = "0";
    return zero;
}

void DxfWriter::Common(DxfGroupWriter& w, const char* type, CadEntity* e, uint64_t owner, uint64_t handle) {
    w.Str(0, type);
    w.Hex(5, handle);
    w.Hex(330, owner);
    w.Str(100, "AcDbEntity");
    w.Str(8, LayerName(CadEntityGetLayerID(e)));
    const uint32_t lt = CadEntityGetLineType(e);
    if (lt != CAD_LTYPE_BYLAYER)
        w.Str(6, LineTypeName(lt));
    const int colour = CadEntityGetColor(e);
    if (colour != CAD_COLOR_BYLAYER)
        w.Int(62, colour);
    const int lw = CadEntityGetLineWeight(e);
    if (lw != CAD_LWEIGHT_BYLAYER)
        w.Int(370, lw);
    if (!CadEntityGetVisible(e))
        w.Int(60, 1);
}

bool DxfWriter::Entity(DxfGroupWriter& w, CadEntity* e, uint64_t owner) {
    const int type = CadEntityGetType(e);
    KelvaroXData x;
    const bool filledByKind = type == CAD_ENT_POLYGON || (type == CAD_ENT_HATCH && [&] {
                                  int pattern = 0;
                                  CadHatchGet(e, &pattern, nullptr, nullptr);
                                  return pattern == 0;
                              }());
    if ((CadEntityGetFilled(e) != 0) != filledByKind)
        x.filled = CadEntityGetFilled(e) != 0 ? 1 : 0;
    if (CadEntityGetUserData(e) != 0) {
        x.hasUserData = true;
        x.userData = CadEntityGetUserData(e);
    }
    const int exSize = CadEntityGetExData(e, nullptr, 0);
    if (exSize > 0) {
        x.exData.resize(size_t(exSize));
        CadEntityGetExData(e, x.exData.data(), exSize);
    }
    double px, py, pz, qx, qy, qz, r, a0, a1;
    switch (type) {
        case CAD_ENT_POINT:
            CadPointGet(e, &px, &py, &pz);
            Common(w, "POINT", e, owner, NewHandle());
            w.Str(100, "AcDbPoint");
            w.Point(10, px, py, pz);
            break;
        case CAD_ENT_LINE:
            CadLineGet(e, &px, &py, &pz, &qx, &qy, &qz);
            Common(w, "LINE", e, owner, NewHandle());
            w.Str(100, "AcDbLine");
            w.Point(10, px, py, pz);
            w.Point(11, qx, qy, qz);
            break;
        case CAD_ENT_POLYLINE:
            Polyline(w, e, owner, x);
            return true;
        case CAD_ENT_RECT: {
            double wd, ht, turn;
            CadRectGet(e, &px, &py, &pz, &wd, &ht, &turn);
            x.rect = true;
            x.rectCentre = {px, py, pz};
            x.rectWidth = wd;
            x.rectHeight = ht;
            x.rectTurn = turn;
            Common(w, "LWPOLYLINE", e, owner, NewHandle());
            w.Str(100, "AcDbPolyline");
            w.Int(90, 4);
            w.Int(70, 1);
            if (pz != 0)
                w.Real(38, pz);
            const double c = std::cos(turn), s = std::sin(turn), hw = wd / 2, hh = ht / 2;
            const double xs[4] = {-hw, hw, hw, -hw}, ys[4] = {-hh, -hh, hh, hh};
            for (int i = 0; i < 4; ++i)
                w.Point2(10, px + xs[i] * c - ys[i] * s, py + xs[i] * s + ys[i] * c);
            break;
        }
        case CAD_ENT_ARC:
            CadArcGet(e, &px, &py, &pz, &r, &a0, &a1);
            if (CadArcIsCircle(e)) {
                Common(w, "CIRCLE", e, owner, NewHandle());
                w.Str(100, "AcDbCircle");
                w.Point(10, px, py, pz);
                w.Real(40, r);
            } else {
                Common(w, "ARC", e, owner, NewHandle());
                w.Str(100, "AcDbCircle");
                w.Point(10, px, py, pz);
                w.Real(40, r);
                w.Str(100, "AcDbArc");
                w.Real(50, a0 * kDeg);
                w.Real(51, a1 * kDeg);
            }
            break;
        case CAD_ENT_ELLIPSE: {
            double rx, ry, turn, t0, t1;
            CadEllipseGet(e, &px, &py, &pz, &rx, &ry, &turn, &t0, &t1);
            // The file names the longer axis; a taller ellipse counts its parameter from the
            // other axis.
            double mx = rx * std::cos(turn), my = rx * std::sin(turn), ratio = rx > 0 ? ry / rx : 1;
            if (ry > rx) {
                mx = -ry * std::sin(turn);
                my = ry * std::cos(turn);
                ratio = rx / ry;
                if (std::fabs(std::fabs(t1 - t0) - 2 * kPi) > 1e-12) {
                    t0 -= kPi / 2;
                    t1 -= kPi / 2;
                }
            }
            Common(w, "ELLIPSE", e, owner, NewHandle());
            w.Str(100, "AcDbEllipse");
            w.Point(10, px, py, pz);
            w.Point(11, mx, my, 0);
            w.Point(210, 0, 0, 1);
            w.Real(40, ratio);
            w.Real(41, t0);
            w.Real(42, t1);
            break;
        }
        case CAD_ENT_TEXT:
            Text(w, e, owner, x);
            return true;
        case CAD_ENT_SPLINE:
            Spline(w, e, owner, x);
            return true;
        case CAD_ENT_HATCH:
            Hatch(w, e, owner, x, false);
            return true;
        case CAD_ENT_POLYGON:
            x.polygon = true;
            Hatch(w, e, owner, x, true);
            return true;
        case CAD_ENT_DIMENSION:
            Dimension(w, e, owner, x);
            return true;
        case CAD_ENT_INSERT: {
            int blockId = 0;
            double scale = 1, turn = 0;
            CadInsertGet(e, &blockId, &px, &py, &pz, &scale, &turn);
            auto it = blockNames_.find(blockId);
            if (it == blockNames_.end())
                return false;
            Common(w, "INSERT", e, owner, NewHandle());
            w.Str(100, "AcDbBlockReference");
            w.Str(2, it->second);
            w.Point(10, px, py, pz);
            w.Real(41, scale);
            w.Real(42, scale);
            w.Real(43, scale);
            w.Real(50, turn * kDeg);
            break;
        }
        default:
            return false;
    }
    x.Write(w);
    return true;
}

void DxfWriter::Polyline(DxfGroupWriter& w, CadEntity* e, uint64_t owner, const KelvaroXData& x) {
    const int n = CadPlineGetNumVers(e);
    std::vector<ShapePoint> v(size_t(std::max(n, 0)));
    for (int i = 0; i < n; ++i)
        CadPlineGetVer(e, i, &v[size_t(i)].x, &v[size_t(i)].y, &v[size_t(i)].z);
    const bool closed = CadPlineGetClosed(e) != 0, fit = CadPlineGetFit(e) != 0;
    bool planar = true;
    for (const ShapePoint& p : v)
        planar = planar && p.z == v[0].z;
    const double elevation = v.empty() ? 0 : v[0].z;
    const uint64_t handle = NewHandle();
    if (planar && !fit) {
        Common(w, "LWPOLYLINE", e, owner, handle);
        w.Str(100, "AcDbPolyline");
        w.Int(90, n);
        w.Int(70, closed ? 1 : 0);
        if (elevation != 0)
            w.Real(38, elevation);
        for (const ShapePoint& p : v)
            w.Point2(10, p.x, p.y);
        x.Write(w);
        return;
    }
    // Smooth and three-dimensional polylines need the older form with a record per vertex.
    Common(w, "POLYLINE", e, owner, handle);
    w.Str(100, planar ? "AcDb2dPolyline" : "AcDb3dPolyline");
    w.Int(66, 1);
    w.Point(10, 0, 0, planar ? elevation : 0);
    w.Int(70, (closed ? 1 : 0) | (fit ? 2 : 0) | (planar ? 0 : 8));
    x.Write(w);
    const std::string& layer = LayerName(CadEntityGetLayerID(e));
    for (const ShapePoint& p : v) {
        w.Str(0, "VERTEX");
        w.Hex(5, NewHandle());
        w.Hex(330, handle);
        w.Str(100, "AcDbEntity");
        w.Str(8, layer);
        w.Str(100, "AcDbVertex");
        w.Str(100, planar ? "AcDb2dVertex" : "AcDb3dPolylineVertex");
        w.Point(10, p.x, p.y, p.z);
        w.Int(70, planar ? 0 : 32);
    }
    w.Str(0, "SEQEND");
    w.Hex(5, NewHandle());
    w.Hex(330, handle);
    w.Str(100, "AcDbEntity");
    w.Str(8, layer);
}

void DxfWriter::Text(DxfGroupWriter& w, CadEntity* e, uint64_t owner, const KelvaroXData& x) {
    const std::string text = CadTextOf(CadTextGetText, e);
    double px, py, pz;
    CadTextGetPoint(e, &px, &py, &pz);
    const double height = CadTextGetHeight(e), turn = CadTextGetAngle(e);
    const int align = CadTextGetAlign(e);
    if (text.find('\n') != std::string::npos) {
        // Several lines: a paragraph text.
        Common(w, "MTEXT", e, owner, NewHandle());
        w.Str(100, "AcDbMText");
        w.Point(10, px, py, pz);
        w.Real(40, height);
        w.Real(41, 0);
        w.Int(71, Attachment(align));
        w.Int(72, 1);
        const std::string value = DxfEncodeText(DxfMTextFromPlain(text));
        size_t at = 0;
        while (value.size() - at > 250) {
            w.Str(3, std::string_view(value).substr(at, 250));
            at += 250;
        }
        w.Str(1, std::string_view(value).substr(at));
        w.Point(11, std::cos(turn), std::sin(turn), 0);
    } else {
        int h, v;
        Justification(align, h, v);
        // "%%" starts a control code in a file's text: percent signs are written as "%%%".
        std::string plain;
        if (text.find("%%") != std::string::npos) {
            for (char c : text)
                plain += c == '%' ? std::string("%%%") : std::string(1, c);
        } else {
            plain = text;
        }
        Common(w, "TEXT", e, owner, NewHandle());
        w.Str(100, "AcDbText");
        w.Point(10, px, py, pz);
        w.Real(40, height);
        w.Str(1, DxfEncodeText(plain));
        if (turn != 0)
            w.Real(50, turn * kDeg);
        if (h != 0)
            w.Int(72, h);
        if (h != 0 || v != 0)
            w.Point(11, px, py, pz);
        w.Str(100, "AcDbText");
        if (v != 0)
            w.Int(73, v);
    }
    x.Write(w);
}

void DxfWriter::Spline(DxfGroupWriter& w, CadEntity* e, uint64_t owner, const KelvaroXData& x) {
    const int n = CadPlineGetNumVers(e);
    std::vector<ShapePoint> fit(size_t(std::max(n, 0)));
    for (int i = 0; i < n; ++i)
        CadPlineGetVer(e, i, &fit[size_t(i)].x, &fit[size_t(i)].y, &fit[size_t(i)].z);
    const bool closed = CadPlineGetClosed(e) != 0;
    if (closed && !fit.empty())
        fit.push_back(fit.front());
    bool planar = true;
    for (const ShapePoint& p : fit)
        planar = planar && p.z == fit[0].z;
    // The curve through the points as control points and knots, for programs that draw from
    // those; the points themselves follow as fit points.
    BSplineCurve curve;
    const bool haveCurve = BSplineInterpolate(fit, curve);
    Common(w, "SPLINE", e, owner, NewHandle());
    w.Str(100, "AcDbSpline");
    if (planar)
        w.Point(210, 0, 0, 1);
    w.Int(70, (closed ? 1 : 0) | (planar ? 8 : 0));
    w.Int(71, haveCurve ? curve.degree : 3);
    w.Int(72, haveCurve ? int(curve.knots.size()) : 0);
    w.Int(73, haveCurve ? int(curve.control.size()) : 0);
    w.Int(74, int(fit.size()));
    w.Real(42, 1e-10);
    w.Real(43, 1e-10);
    w.Real(44, 1e-10);
    if (haveCurve) {
        for (double k : curve.knots)
            w.Real(40, k);
        for (const ShapePoint& p : curve.control)
            w.Point(10, p.x, p.y, p.z);
    }
    for (const ShapePoint& p : fit)
        w.Point(11, p.x, p.y, p.z);
    x.Write(w);
}

void DxfWriter::Hatch(DxfGroupWriter& w, CadEntity* e, uint64_t owner, const KelvaroXData& xin,
                      bool polygon) {
    KelvaroXData x = xin;
    const int n = CadPlineGetNumVers(e);
    std::vector<ShapePoint> v(size_t(std::max(n, 0)));
    for (int i = 0; i < n; ++i)
        CadPlineGetVer(e, i, &v[size_t(i)].x, &v[size_t(i)].y, &v[size_t(i)].z);
    int pattern = 0;
    double scale = 1, angle = 0;
    if (!polygon)
        CadHatchGet(e, &pattern, &scale, &angle);
    const bool solid = pattern == 0;
    Common(w, "HATCH", e, owner, NewHandle());
    w.Str(100, "AcDbHatch");
    w.Point(10, 0, 0, v.empty() ? 0 : v[0].z);
    w.Point(210, 0, 0, 1);
    w.Str(2, solid ? "SOLID" : "_USER");
    w.Int(70, solid ? 1 : 0);
    w.Int(71, 0);
    w.Int(91, 1);
    w.Int(92, 3);  // an outer boundary given as a polyline
    w.Int(72, 0);
    w.Int(73, 1);
    w.Int(93, n);
    for (const ShapePoint& p : v)
        w.Point2(10, p.x, p.y);
    w.Int(97, 0);
    w.Int(75, 0);
    w.Int(76, solid ? 1 : 0);
    if (!solid) {
        // Lines (crossed for pattern 2) at the angle, spaced by the scale.
        w.Real(52, angle * kDeg);
        w.Real(41, scale);
        w.Int(77, pattern == 2 ? 1 : 0);
        const int lines = pattern == 2 ? 2 : 1;
        w.Int(78, lines);
        for (int k = 0; k < lines; ++k) {
            const double a = angle + k * kPi / 2;
            w.Real(53, a * kDeg);
            w.Real(43, 0);
            w.Real(44, 0);
            w.Real(45, -scale * std::sin(a));
            w.Real(46, scale * std::cos(a));
            w.Int(79, 0);
        }
    } else if (!polygon && (scale != 1 || angle != 0)) {
        // A solid fill has no pattern data in the file; its numbers travel with our own data.
        x.hasPattern = true;
        x.patternScale = scale;
        x.patternAngle = angle;
    }
    w.Int(98, 0);
    x.Write(w);
}

void DxfWriter::Dimension(DxfGroupWriter& w, CadEntity* e, uint64_t owner, const KelvaroXData& xin) {
    int kind = 0;
    ShapePoint a, b, c;
    CadDimensionGet(e, &kind, &a.x, &a.y, &b.x, &b.y, &c.x, &c.y);
    double textHeight = 0, arrowSize = 0, tickSize = 0;
    CadDimensionGetStyle(e, &textHeight, &arrowSize, &tickSize);
    const std::string ownText = DxfEncodeText(CadTextOf(CadDimensionGetText, e));
    KelvaroXData x = xin;
    const Picture pic = DimensionPicture(kind, a, b, c, ownText, textHeight, arrowSize, tickSize);

    // The picture block, entities in drawing coordinates on layer "0" coloured by block.
    BlockOut blk;
    do {
        blk.name = "*D" + std::to_string(++dimensionBlocks_);
    } while (usedBlockKeys_.count(ShapeNameKey(blk.name)));
    usedBlockKeys_.insert(ShapeNameKey(blk.name));
    blk.record = NewHandle();
    blk.flags = 1;
    DxfGroupWriter bw;
    auto head = [&](const char* type) {
        bw.Str(0, type);
        bw.Hex(5, NewHandle());
        bw.Hex(330, blk.record);
        bw.Str(100, "AcDbEntity");
        bw.Str(8, "0");
        bw.Int(62, 0);
    };
    for (const auto& [p, q] : pic.lines) {
        head("LINE");
        bw.Str(100, "AcDbLine");
        bw.Point(10, p.x, p.y, 0);
        bw.Point(11, q.x, q.y, 0);
    }
    if (!pic.arc.empty()) {
        head("LWPOLYLINE");
        bw.Str(100, "AcDbPolyline");
        bw.Int(90, int(pic.arc.size()));
        bw.Int(70, 0);
        for (const ShapePoint& p : pic.arc)
            bw.Point2(10, p.x, p.y);
    }
    head("TEXT");
    bw.Str(100, "AcDbText");
    bw.Point(10, pic.at.x, pic.at.y, 0);
    bw.Real(40, pic.height);
    bw.Str(1, pic.label);
    if (pic.angle != 0)
        bw.Real(50, pic.angle);
    bw.Int(72, 1);
    bw.Point(11, pic.at.x, pic.at.y, 0);
    bw.Str(100, "AcDbText");
    bw.Int(73, 0);
    blk.body = std::move(bw.Text());
    const std::string blockName = blk.name;
    blocks_.push_back(std::move(blk));

    // The dimension's own text, then its style.
    auto StyleAndText = [&] {
        if (!ownText.empty())
            w.Str(1, ownText);
        w.Str(3, "Standard");
    };
    Common(w, "DIMENSION", e, owner, NewHandle());
    w.Str(100, "AcDbDimension");
    w.Str(2, blockName);
    switch (kind) {
        case CAD_DIM_RADIUS:
        case CAD_DIM_DIAMETER: {
            const ShapePoint far = kind == CAD_DIM_RADIUS ? a : ShapePoint{2 * a.x - b.x, 2 * a.y - b.y, 0};
            w.Point(10, far.x, far.y, 0);
            w.Point(11, c.x, c.y, 0);
            w.Int(70, (kind == CAD_DIM_RADIUS ? 4 : 3) | 32);
            StyleAndText();
            w.Str(100, kind == CAD_DIM_RADIUS ? "AcDbRadialDimension" : "AcDbDiametricDimension");
            w.Point(15, b.x, b.y, 0);
            w.Real(40, 0);
            break;
        }
        case CAD_DIM_ANGULAR: {
            w.Point(10, pic.anchor.x, pic.anchor.y, 0);
            w.Point(11, pic.at.x, pic.at.y, 0);
            w.Int(70, 5 | 32);
            StyleAndText();
            w.Str(100, "AcDb3PointAngularDimension");
            w.Point(13, b.x, b.y, 0);
            w.Point(14, c.x, c.y, 0);
            w.Point(15, a.x, a.y, 0);
            break;
        }
        case CAD_DIM_ORDINATE: {
            const bool alongX = std::fabs(c.x - a.x) < std::fabs(c.y - a.y);
            w.Point(10, 0, 0, 0);
            w.Point(11, c.x, c.y, 0);
            w.Int(70, 6 | 32 | (alongX ? 64 : 0));
            StyleAndText();
            w.Str(100, "AcDbOrdinateDimension");
            w.Point(13, a.x, a.y, 0);
            w.Point(14, c.x, c.y, 0);
            if (b.x != a.x || b.y != a.y) {
                x.hasOrdinate = true;
                x.ordinate = b;
            }
            break;
        }
        default: {
            const bool linear = kind == CAD_DIM_LINEAR;
            const double mx = (a.x + b.x) / 2, my = (a.y + b.y) / 2;
            const bool horizontal = std::fabs(c.y - my) >= std::fabs(c.x - mx);
            w.Point(10, c.x, c.y, 0);
            w.Point(11, pic.at.x, pic.at.y, 0);
            w.Int(70, (linear ? 0 : 1) | 32);
            StyleAndText();
            w.Str(100, "AcDbAlignedDimension");
            w.Point(13, a.x, a.y, 0);
            w.Point(14, b.x, b.y, 0);
            if (linear) {
                w.Real(50, horizontal ? 0.0 : 90.0);
                w.Str(100, "AcDbRotatedDimension");
            }
            break;
        }
    }
    // Sizes of its own override the style, as other programs write them.
    if (textHeight > 0 || arrowSize > 0 || tickSize > 0) {
        w.Str(1001, "ACAD");
        w.Str(1000, "DSTYLE");
        w.Str(1002, "{");
        const std::pair<int, double> sizes[] = {{140, textHeight}, {41, arrowSize}, {142, tickSize}};
        for (const auto& [code, value] : sizes) {
            if (value > 0) {
                w.Int(1070, code);
                w.Real(1040, value);
            }
        }
        w.Str(1002, "}");
    }
    x.Write(w);
}

void DxfWriter::TableHead(DxfGroupWriter& w, const char* name, uint64_t handle, int count) {
    w.Str(0, "TABLE");
    w.Str(2, name);
    w.Hex(5, handle);
    w.Hex(330, 0);
    w.Str(100, "AcDbSymbolTable");
    w.Int(70, count);
}

void DxfWriter::BlockBegin(DxfGroupWriter& w, const std::string& name, uint64_t record,
                           const ShapePoint& base, int flags) {
    w.Str(0, "BLOCK");
    w.Hex(5, NewHandle());
    w.Hex(330, record);
    w.Str(100, "AcDbEntity");
    w.Str(8, "0");
    w.Str(100, "AcDbBlockBegin");
    w.Str(2, name);
    w.Int(70, flags);
    w.Point(10, base.x, base.y, base.z);
    w.Str(3, name);
    w.Str(1, "");
}

void DxfWriter::BlockEnd(DxfGroupWriter& w, uint64_t record) {
    w.Str(0, "ENDBLK");
    w.Hex(5, NewHandle());
    w.Hex(330, record);
    w.Str(100, "AcDbEntity");
    w.Str(8, "0");
    w.Str(100, "AcDbBlockEnd");
}

void DxfWriter::Header(DxfGroupWriter& w) {
    double l = 0, b = 0, r = 0, t = 0;
    if (!CadGetExtents(d_, &l, &b, &r, &t))
        l = b = r = t = 0;
    w.Str(0, "SECTION");
    w.Str(2, "HEADER");
    w.Str(9, "$ACADVER");
    w.Str(1, "AC1015");
    w.Str(9, "$DWGCODEPAGE");
    w.Str(3, "ANSI_1252");
    w.Str(9, "$INSBASE");
    w.Point(10, 0, 0, 0);
    w.Str(9, "$EXTMIN");
    w.Point(10, l, b, 0);
    w.Str(9, "$EXTMAX");
    w.Point(10, r, t, 0);
    w.Str(9, "$HANDSEED");
    w.Hex(5, next_);
    w.Str(0, "ENDSEC");
}

void DxfWriter::Tables(DxfGroupWriter& w) {
    w.Str(0, "SECTION");
    w.Str(2, "TABLES");

    // The view the drawing opens with: its extents.
    double l = 0, b = 0, r = 0, t = 0;
    if (!CadGetExtents(d_, &l, &b, &r, &t))
        l = b = 0, r = t = 1;
    TableHead(w, "VPORT", kVportTable, 1);
    w.Str(0, "VPORT");
    w.Hex(5, NewHandle());
    w.Hex(330, kVportTable);
    w.Str(100, "AcDbSymbolTableRecord");
    w.Str(100, "AcDbViewportTableRecord");
    w.Str(2, "*ACTIVE");
    w.Int(70, 0);
    w.Point2(10, 0, 0);
    w.Point2(11, 1, 1);
    w.Point2(12, (l + r) / 2, (b + t) / 2);
    w.Point2(13, 0, 0);
    w.Point2(14, 1, 1);
    w.Point2(15, 1, 1);
    w.Point(16, 0, 0, 1);
    w.Point(17, 0, 0, 0);
    w.Real(40, std::max(t - b, (r - l) / 1.5) * 1.1 + (t > b || r > l ? 0 : 1));
    w.Real(41, 1.5);
    w.Real(42, 50);
    w.Real(43, 0);
    w.Real(44, 0);
    w.Real(50, 0);
    w.Real(51, 0);
    w.Int(71, 0);
    w.Int(72, 100);
    w.Int(73, 1);
    w.Int(74, 3);
    w.Int(75, 0);
    w.Int(76, 0);
    w.Int(77, 0);
    w.Int(78, 0);
    w.Str(0, "ENDTAB");

    struct Ltype {
        const char* name;
        const char* text;
        std::vector<double> pattern;
    };
    const std::vector<Ltype> ltypes = {
        {"ByBlock", "", {}},
        {"ByLayer", "", {}},
        {"CONTINUOUS", "Solid line", {}},
        {"DASHED", "Dashed __ __ __ __", {0.5, -0.25}},
        {"DOT", "Dot . . . . . . . .", {0.0, -0.25}},
        {"DASHDOT", "Dash dot __ . __ . __", {0.5, -0.25, 0.0, -0.25}},
    };
    TableHead(w, "LTYPE", kLtypeTable, int(ltypes.size()));
    for (const Ltype& lt : ltypes) {
        w.Str(0, "LTYPE");
        w.Hex(5, NewHandle());
        w.Hex(330, kLtypeTable);
        w.Str(100, "AcDbSymbolTableRecord");
        w.Str(100, "AcDbLinetypeTableRecord");
        w.Str(2, lt.name);
        w.Int(70, 0);
        w.Str(3, lt.text);
        w.Int(72, 65);
        w.Int(73, int(lt.pattern.size()));
        double total = 0;
        for (double v : lt.pattern)
            total += std::fabs(v);
        w.Real(40, total);
        for (double v : lt.pattern) {
            w.Real(49, v);
            w.Int(74, 0);
        }
    }
    w.Str(0, "ENDTAB");

    std::vector<CadLayer*> layers;
    for (CadLayer* ly = CadGetFirstLayer(d_); ly; ly = CadGetNextLayer(d_, ly))
        if (!CadLayerGetDeleted(ly))
            layers.push_back(ly);
    TableHead(w, "LAYER", kLayerTable, int(layers.size()));
    for (CadLayer* ly : layers) {
        const int colour = CadLayerGetColor(ly);
        w.Str(0, "LAYER");
        w.Hex(5, NewHandle());
        w.Hex(330, kLayerTable);
        w.Str(100, "AcDbSymbolTableRecord");
        w.Str(100, "AcDbLayerTableRecord");
        w.Str(2, LayerName(CadLayerGetID(ly)));
        w.Int(70, CadLayerGetLock(ly) ? 4 : 0);
        w.Int(62, CadLayerGetVisible(ly) ? colour : -colour);
        w.Str(6, LineTypeName(CadLayerGetLineType(ly)));
        w.Int(370, CadLayerGetLineWeight(ly));
    }
    w.Str(0, "ENDTAB");

    TableHead(w, "STYLE", kStyleTable, 1);
    w.Str(0, "STYLE");
    w.Hex(5, NewHandle());
    w.Hex(330, kStyleTable);
    w.Str(100, "AcDbSymbolTableRecord");
    w.Str(100, "AcDbTextStyleTableRecord");
    w.Str(2, "Standard");
    w.Int(70, 0);
    w.Real(40, 0);
    w.Real(41, 1);
    w.Real(50, 0);
    w.Int(71, 0);
    w.Real(42, 2.5);
    w.Str(3, "txt");
    w.Str(4, "");
    w.Str(0, "ENDTAB");

    TableHead(w, "VIEW", kViewTable, 0);
    w.Str(0, "ENDTAB");
    TableHead(w, "UCS", kUcsTable, 0);
    w.Str(0, "ENDTAB");

    TableHead(w, "APPID", kAppIdTable, 2);
    for (const char* app : {"ACAD", kKelvaroAppId}) {
        w.Str(0, "APPID");
        w.Hex(5, NewHandle());
        w.Hex(330, kAppIdTable);
        w.Str(100, "AcDbSymbolTableRecord");
        w.Str(100, "AcDbRegAppTableRecord");
        w.Str(2, app);
        w.Int(70, 0);
    }
    w.Str(0, "ENDTAB");

    TableHead(w, "DIMSTYLE", kDimStyleTable, 1);
    w.Str(100, "AcDbDimStyleTable");
    w.Str(0, "DIMSTYLE");
    w.Hex(105, NewHandle());
    w.Hex(330, kDimStyleTable);
    w.Str(100, "AcDbSymbolTableRecord");
    w.Str(100, "AcDbDimStyleTableRecord");
    w.Str(2, "Standard");
    w.Int(70, 0);
    w.Str(0, "ENDTAB");

    TableHead(w, "BLOCK_RECORD", kBlockRecordTable, int(blocks_.size()) + 2);
    auto record = [&](uint64_t handle, const std::string& name) {
        w.Str(0, "BLOCK_RECORD");
        w.Hex(5, handle);
        w.Hex(330, kBlockRecordTable);
        w.Str(100, "AcDbSymbolTableRecord");
        w.Str(100, "AcDbBlockTableRecord");
        w.Str(2, name);
    };
    record(modelRecord_, "*Model_Space");
    record(paperRecord_, "*Paper_Space");
    for (const BlockOut& bo : blocks_)
        record(bo.record, bo.name);
    w.Str(0, "ENDTAB");
    w.Str(0, "ENDSEC");
}

std::string DxfWriter::Write(DxfWriteReport* report) {
    modelRecord_ = NewHandle();
    paperRecord_ = NewHandle();
    for (CadLayer* ly = CadGetFirstLayer(d_); ly; ly = CadGetNextLayer(d_, ly))
        layerNames_[CadLayerGetID(ly)] = DxfEncodeText(CadTextOf(CadLayerGetName, ly));
    for (CadBlock* b = CadGetFirstBlock(d_); b; b = CadGetNextBlock(d_, b))
        usedBlockKeys_.insert(ShapeNameKey(CadTextOf(CadBlockGetName, b)));

    // Block definitions, then the drawing's entities (which add the dimensions' pictures).
    for (CadBlock* b = CadGetFirstBlock(d_); b; b = CadGetNextBlock(d_, b)) {
        BlockOut bo;
        bo.name = DxfEncodeText(CadTextOf(CadBlockGetName, b));
        if (bo.name.empty())
            continue;
        bo.record = NewHandle();
        CadBlockGetBase(b, &bo.base.x, &bo.base.y, &bo.base.z);
        blockNames_[CadBlockGetID(b)] = bo.name;
        DxfGroupWriter bw;
        for (CadEntity* e = CadBlockGetFirstEntity(b); e; e = CadBlockGetNextEntity(b, e)) {
            if (Entity(bw, e, bo.record))
                ++entities_;
            else
                ++skipped_;
        }
        bo.body = std::move(bw.Text());
        blocks_.push_back(std::move(bo));
    }
    DxfGroupWriter ents;
    for (CadEntity* e = CadGetFirstEntity(d_); e; e = CadGetNextEntity(d_, e)) {
        if (Entity(ents, e, modelRecord_))
            ++entities_;
        else
            ++skipped_;
    }

    DxfGroupWriter tables;
    Tables(tables);
    DxfGroupWriter blocks;
    blocks.Str(0, "SECTION");
    blocks.Str(2, "BLOCKS");
    BlockBegin(blocks, "*Model_Space", modelRecord_, {}, 0);
    BlockEnd(blocks, modelRecord_);
    BlockBegin(blocks, "*Paper_Space", paperRecord_, {}, 0);
    BlockEnd(blocks, paperRecord_);
    for (const BlockOut& bo : blocks_) {
        BlockBegin(blocks, bo.name, bo.record, bo.base, bo.flags);
        blocks.Text() += bo.body;
        BlockEnd(blocks, bo.record);
    }
    blocks.Str(0, "ENDSEC");

    DxfGroupWriter out;
    Header(out);
    std::string& text = out.Text();
    out.Str(0, "SECTION");
    out.Str(2, "CLASSES");
    out.Str(0, "ENDSEC");
    text.reserve(text.size() + tables.Text().size() + blocks.Text().size() + ents.Text().size() + 512);
    text += tables.Text();
    text += blocks.Text();
    out.Str(0, "SECTION");
    out.Str(2, "ENTITIES");
    text += ents.Text();
    out.Str(0, "ENDSEC");
    out.Str(0, "SECTION");
    out.Str(2, "OBJECTS");
    out.Str(0, "DICTIONARY");
    out.Hex(5, kRootDictionary);
    out.Hex(330, 0);
    out.Str(100, "AcDbDictionary");
    out.Int(281, 1);
    out.Str(3, "ACAD_GROUP");
    out.Hex(350, kGroupDictionary);
    out.Str(0, "DICTIONARY");
    out.Hex(5, kGroupDictionary);
    out.Hex(330, kRootDictionary);
    out.Str(100, "AcDbDictionary");
    out.Int(281, 1);
    out.Str(0, "ENDSEC");
    out.Str(0, "EOF");
    if (report) {
        report->entities = entities_;
        report->skipped = skipped_;
    }
    return std::move(text);
}

}  // namespace

std::string DxfDrawingText(CadDrawing* drawing, DxfWriteReport* report) {
    DxfWriter writer(drawing);
    return writer.Write(report);
}

int DxfWriteDrawing(CadDrawing* drawing, const QString& path, std::string* error, DxfWriteReport* report) {
    if (!drawing) {
        if (error)
            *error = "no drawing";
        return 0;
    }
    const std::string text = DxfDrawingText(drawing, report);
    kv::SafeFile f(path);
    if (!f.open(QIODevice::WriteOnly)) {
        if (error)
            *error = "cannot create " + path.toStdString() + ": " + f.errorString().toStdString();
        return 0;
    }
    if (f.write(text.data(), qint64(text.size())) != qint64(text.size()) || !f.commit()) {
        if (error)
            *error = "cannot write " + path.toStdString() + ": " + f.errorString().toStdString();
        f.cancelWriting();
        return 0;
    }
    return 1;
}
