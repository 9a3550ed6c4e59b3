// ROTATEFROMPOLY: the control-point file for warping an orthophoto. The vertices of a source
// polyline lie on features of the orthophoto, those of a target polyline give the same features'
// true map positions in the same order; each pair becomes one control point (the image column
// and row of the source vertex, the map coordinates of the target vertex) in a ".cpt" file beside
// the orthophoto.
#pragma once

#include <QByteArray>

#include <vector>

#include "platform/math/Wml.h"

struct CadDrawing;

namespace products {

// The file's text: the header "Collimazioni - N" and an empty line, then one row per target
// vertex, named 00, 01, ..., with the target's x, y, z and the source's column and row in the
// image of geotransform gt. The source holds at least as many vertices as the target.
QByteArray ControlPointText(const std::vector<Wml::Point3>& source, const std::vector<Wml::Point3>& target,
                            const double gt[6]);

}  // namespace products

void CmdRotateFromPoly(CadDrawing* drawing);
