// Entities on their way from a foreign drawing into one of ours: each reader turns what it
// reads into shapes in the engine's own terms, and the builder adds them to the drawing with
// their layers and blocks. Shapes can be moved, turned, scaled and mirrored, so that block
// references the engine cannot keep as references (nested or unevenly scaled ones) are resolved
// into plain entities.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "platform/cad/Cad.h"

struct ShapePoint {
    double x = 0, y = 0, z = 0;
};

// A map of the plane with a separate map of heights: x' = a*x + b*y + tx, y' = c*x + d*y + ty,
// z' = zs*z + tz.
struct ShapeAffine {
    double a = 1, b = 0, c = 0, d = 1, tx = 0, ty = 0, zs = 1, tz = 0;

    ShapePoint Apply(const ShapePoint& p) const {
        return {a * p.x + b * p.y + tx, c * p.x + d * p.y + ty, zs * p.z + tz};
    }
    // This map after another: (this * o)(p) = this(o(p)).
    ShapeAffine operator*(const ShapeAffine& o) const;
    double Det() const { return a * d - b * c; }
    // Whether the map keeps shapes (turn and uniform scale, no mirror); gives scale and turn.
    bool IsProperSimilarity(double* scale, double* turn) const;
    // Whether the map keeps circles (possibly mirrored); gives scale, turn of the x axis and
    // whether it mirrors.
    bool IsSimilarity(double* scale, double* turn, bool* mirrored) const;

    static ShapeAffine Translation(double x, double y, double z);
    // Scale, then turn (radians) about the origin.
    static ShapeAffine ScaleTurn(double sx, double sy, double sz, double turn);
};

struct DrawingShape {
    int kind = 0;  // CAD_ENT_...
    std::string layer = "0";
    int colour = CAD_COLOR_BYLAYER;
    uint32_t lineType = CAD_LTYPE_BYLAYER;
    int lineWeight = CAD_LWEIGHT_BYLAYER;
    bool visible = true;

    // Outline kinds (polyline, spline, hatch, polygon): the vertices. Point, line: one and two
    // points. Arc, ellipse, rectangle, text, insert: the centre or insertion point. Dimension:
    // the three defining points.
    std::vector<ShapePoint> pts;
    bool closed = false;
    int fit = 0;
    // Arc: radius, start, end angle (radians). Ellipse: radii, turn, start, end parameter.
    // Rectangle: width, height, turn. Text: height, angle. Hatch: pattern scale, angle.
    // Dimension: its own text height, arrow size and tick size (0: the drawing's style).
    double v[5] = {0, 0, 0, 0, 0};
    // Arc: 1 for a whole circle. Text: alignment. Hatch: pattern. Dimension: kind.
    // Insert: see placement.
    int ival = 0;
    std::string text;  // a text's text, a dimension's own text, an insert's block name

    // Insert: where the block goes; maps block coordinates, taken relative to the block's base
    // point, into the drawing. With ival 1 the block's entities are already in drawing
    // coordinates (the picture block of a dimension).
    ShapeAffine placement;

    // What the program keeps with an entity: the fill flag (-1 the kind's own), its user
    // number and byte block.
    int filled = -1;
    bool hasUserData = false;
    int userData = 0;
    std::vector<uint8_t> exData;
};

// The shapes a shape becomes under a map (a circle under an uneven scale becomes an ellipse, a
// rectangle a closed polyline). Inserts are not mapped here: their blocks are resolved by the
// caller.
void TransformShape(const DrawingShape& in, const ShapeAffine& m, std::vector<DrawingShape>& out);

// The counter-clockwise turn of an arc from one angle to another (radians), in (0, 2 pi]: equal
// angles make a whole turn.
double ArcSweep(double from, double to);

// Points along a circular arc from a0 to a1 (radians; counter-clockwise when a1 > a0, clockwise
// when a1 < a0), both ends included, with at most maxStep radians between points.
void AppendArcPoints(std::vector<ShapePoint>& out, double cx, double cy, double z, double r, double a0,
                     double a1,
                     double maxStep = 0.0872664626);  // 5 degrees
// Points along a polyline segment with a bulge (the tangent of a quarter of the arc's angle;
// negative bulges turn clockwise): the points after `from`, `to` included.
void AppendBulgePoints(std::vector<ShapePoint>& out, const ShapePoint& from, const ShapePoint& to,
                       double bulge);

// Adds shapes, layers and blocks to a drawing. Layer names are matched without regard to case,
// as drawings of other programs do; the first spelling seen is the one kept.
class DrawingBuilder {
public:
    explicit DrawingBuilder(CadDrawing* drawing);

    // Defines or updates a layer; an empty line type name keeps "continuous".
    void DefineLayer(const std::string& name, int colour, uint32_t lineType, int lineWeight, bool visible,
                     bool locked);
    int LayerId(const std::string& name);
    // A block definition with its entities (inserts among them are refused); the block's id,
    // or 0 when the name is taken or empty.
    int DefineBlock(const std::string& name, const ShapePoint& base, const std::vector<DrawingShape>& shapes);
    // A plain entity (not an insert) in the drawing; null when the engine refuses it.
    CadEntity* Add(const DrawingShape& shape);
    // A reference to a defined block at a point, uniformly scaled and turned.
    CadEntity* AddInsert(const DrawingShape& attributes, int blockId, const ShapePoint& at, double scale,
                         double turn);

    // Entities the engine refused (too few vertices, unknown kinds).
    int Refused() const { return refused_; }

private:
    CadEntity* Create(const DrawingShape& s);
    void ApplyAttributes(CadEntity* e, const DrawingShape& s);
    CadDrawing* d_;
    std::map<std::string, int> layers_;  // upper-case name -> layer id
    int refused_ = 0;
};

// A text the engine hands out through a buffer (names, a text's text), whatever its length.
template <class Handle>
std::string CadTextOf(int (*get)(Handle*, char*, int), Handle* h) {
    const int n = get(h, nullptr, 0);
    if (n <= 0)
        return std::string();
    std::string s(size_t(n) + 1, '\0');
    get(h, s.data(), n + 1);
    s.resize(size_t(n));
    return s;
}

// Upper case of an ASCII or UTF-8 name, for case-insensitive lookups.
std::string ShapeNameKey(const std::string& name);
