// Sampling a TIN on a grid of cells: new rasters from a TIN, and a DEM remeshed under a TIN.
//
// A cell takes the height of the TIN at its centre: the plane of the triangle whose closed area
// holds the centre (on an edge shared by two triangles both give the same height). Triangles that
// are vertical in plan have no height and write nothing.
#pragma once

#include <opencv2/core.hpp>

#include "demtools/DemEditArea.h"

class CDEM;
class ProgressSink;
class vtkPolyData;

// A Float32 raster of the TIN over the bounds (xmin, xmax, ymin, ymax, in the TIN's own
// coordinates) with cells of the given width and height: trunc((xmax - xmin) / width) columns,
// trunc((ymax - ymin) / height) rows, cell (c, r) centred at (xmin + (c + 0.5) width,
// ymax - (r + 0.5) height). No data is -9999.
//
// The cells whose centre lies in a triangle take its height. Near the edges of the TIN, cells
// that still hold no data take the extrapolated plane of the first triangle that reaches them
// when each triangle's corners are pushed two cells further from its centroid, within the
// triangle's box. The outermost ring of cells always holds no data.
//
// RasterizeTin: one cell size; the progress sink (may be null) follows the triangles from 0 to
// 100 and is set back to 0. Empty when the raster has no cell, the TIN no triangle, or the
// raster cannot be allocated.
cv::Mat RasterizeTin(vtkPolyData* tin, const double bounds[4], double cellSize, ProgressSink* progress);
// The same without progress, with cell width and height apart (the cells of a DEM whose pixels
// are not square): a TIN without triangles gives the raster all no data.
cv::Mat RasterizeTinToGrid(vtkPolyData* tin, double cellWidth, double cellHeight, const double bounds[4]);

// Remeshes the DEM under the TIN: every cell whose centre lies in a triangle of the TIN takes the
// TIN's height there; the other cells keep their values. The TIN's coordinates are relative to
// centre (x, y; heights absolute). The window of the edit is the rectangle of cells whose centres
// lie within the TIN's box; the recorder gets it whole (before and after, its rectangle as the
// outline) before the grid changes. Loads the grid when needed. 1 when the DEM was edited; 0
// when there is no TIN or triangle, the window misses the DEM, the grid cannot be loaded or the
// recorder refuses.
int EditDemFromTin(CDEM& dem, vtkPolyData* tin, const double centre[3], ProgressSink* progress,
                   const DemEditRecorder& record);
