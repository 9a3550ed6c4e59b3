// DRAWPOLYLINEONORTHO: the operator picks polylines, arcs and circles of the drawing one at a time;
// each is burnt at once into a copy of an orthophoto in the style of CDrawPolyOnOrthoDlg, and the
// copy is written as "%s_Bordered" beside the orthophoto at the end.
#pragma once

#include <opencv2/core.hpp>

#include <vector>

#include "controls/ColorRef.h"
#include "platform/math/Wml.h"

struct CadDrawing;
struct CadEntity;
class CDrawPolyOnOrthoDlg;
class QPainter;

// The style an entity is drawn in.
struct OrthoLineStyle {
    int step = 10;
    int weight = 8;
    COLORREF colour = kv::Rgb(255, 255, 255);
    int arc = 0;
    int dashedPoly = 0;
    int dashedSegment = 0;
    int filled = 0;
    int circle = 0;
};
OrthoLineStyle StyleOf(const CDrawPolyOnOrthoDlg& dialog);

enum class EntityDrawing { Drawn, Ignored, Invalid };

// Burns the entity into the 8-bit three-channel image of geotransform gt:
// - a polyline of two or more vertices (its vertices also go into picked): a dashed polyline draws
//   every other run of `step` vertices as a closed white outline; a dashed segment draws a black
//   dashed line of 1000 steps of 20 pixels down or right from its upper (or left) end when its two
//   first vertices share a pixel column or row; any other type draws the outline (or, filled, the
//   area) in the style's colour;
// - an arc or circle: with the arc type its arc, with the circle type a filled disc outlined in
//   black; with another type it is ignored.
// Anything else (points, ellipses, a polyline of one vertex) is invalid. Steps below 1 count as 1
// and weights are held to 1 ... 255, the thicknesses the drawing functions take.
EntityDrawing DrawEntityOnOrtho(cv::Mat& image, const double* gt, CadEntity* entity,
                                const OrthoLineStyle& style, std::vector<Wml::Point3>& picked);

void CmdDrawPolylineOnOrtho(CadDrawing* drawing);
// The rubber band: the vertices picked so far, the cursor and back to the first vertex.
void CmdDrawPolylineOnOrthoDraw(CadDrawing* drawing, QPainter* painter, double x, double y, double z);
