// Landmark transforms of a terrain model and of drawing polylines: a similarity (rotation,
// uniform scale, translation in 3D) fitted to landmark pairs moves the whole terrain and the
// polylines the operator chose.
//
// LANDMARKTRANSFORM takes the landmarks from the vertices of a source and a target polyline and
// the terrain from a file; LANDMARKTRANSFORMGPS pairs the terrain under each vertex of a GPS
// polyline with the polyline's measured height, on a DEM layer of the project. Beside the
// terrain's file, named "<base>_LMT" or "<base>_LMTGPS", they write the transformed terrain as a
// triangulated VTK PolyData file (".vtp", in a local frame centred on the terrain) with its offset
// file (".vtw"), as a GeoTIFF re-gridded at the terrain's cell size (".gtif"), and the
// transformed polylines as a DXF drawing (".dxf"). The project itself is not changed.
#pragma once

#include <QString>

#include <opencv2/core.hpp>

#include <vector>

#include "platform/math/Wml.h"

class vtkLinearTransform;
class vtkPolyData;
struct CadDrawing;

namespace products {

// Whether the points span a plane: three of them not on one line. A similarity needs that much
// of both landmark sets; with fewer, the turn about their line is left open.
bool SpansPlane(const std::vector<Wml::Point3>& points);

// The landmark report: "id=%d dx=%.3lf dy=%.3lf dz=%.3lf" per landmark (the transformed source
// minus the target), then an empty line and "Procedere?".
QString LandmarkReport(const std::vector<Wml::Point3>& source, const std::vector<Wml::Point3>& target,
                       vtkLinearTransform* transform);

// The terrain's cells with data as points at their centres in the local frame (map coordinates
// less the offset; heights as they are), moved by the transform (none: unmoved). Rows first,
// then columns. extent receives (min x, max x, min y, max y) of the moved points.
std::vector<Wml::Point3> TerrainCellPoints(const cv::Mat& grid, const double gt[6], const double offset[3],
                                           vtkLinearTransform* transform, double extent[4]);

// The triangulated points re-gridded at cells of the given width and height: the grid is laid so
// that its cell centres start at the points' west and north extremes, round((x1 - x0) / width)
// + 1 columns and round((y1 - y0) / height) + 1 rows, each cell taking the TIN's height at its
// centre (no data -9999, the outer ring always no data). corner receives the grid's top-left
// corner (x, y). Empty when the points have no extent or the grid would not fit in memory.
cv::Mat GridTerrainTin(vtkPolyData* tin, const double extent[4], double cellWidth, double cellHeight,
                       double corner[2]);

}  // namespace products

void CmdLandmarkTransform(CadDrawing* drawing);
void CmdLandmarkTransformGps(CadDrawing* drawing);
