// Heights between drawing entities and DEMs: a closed polyline's triangulated surface written into
// the cells inside it, and points, lines and polylines burnt into the cells they pass over.
#pragma once

#include <vtkPolyData.h>
#include <vtkSmartPointer.h>

#include <opencv2/core.hpp>

#include <vector>

#include "demtools/DemEditArea.h"
#include "platform/geometry/Pgon.h"
#include "platform/math/Wml.h"

class CDEM;
class ProgressSink;

// Cells of a DEM about to be written: the window in grid cells, a mask of the window's size (255
// on the cells written) and their new heights (Float32, the window's size, kNotEdited off the
// mask: the "after" image of the undo record as it stands).
struct DemCellWrite {
    cv::Rect window;
    cv::Mat mask;
    cv::Mat heights;
    bool Empty() const { return window.empty() || cv::countNonZero(mask) == 0; }
};

// Hands the cells to the recorder and, unless it refuses, writes them into the grid, which must be
// in memory: one record for each run of touched 256 x 256 blocks along a row of blocks of the
// window (the before image, kNotEdited off the mask, the heights as the after image, the run's
// top-left cell, no outline), so that cells far from every written one are never copied or saved.
// The DEM is busy meanwhile and afterwards modified, its display cache dropped. 1 when every run
// was written; 0 for nothing to write, a window off the grid, or a refusal (the runs after it are
// left as they were).
int WriteDemCells(CDEM& dem, const DemCellWrite& cells, ProgressSink* progress,
                  const DemEditRecorder& record);

// ---- Elevation by entities.

// A closed polyline as a surface: its outline in plan and the triangulation of its vertices with
// every side, the closing one too, kept as an edge.
struct EntityPatch {
    CPgon outline;
    vtkSmartPointer<vtkPolyData> tin;  // null when the triangulation failed
};
EntityPatch MakeEntityPatch(const std::vector<Wml::Point3>& vertices);

// The cells of the DEM the patch writes: those whose top-left corner lies inside the part of the
// outline over the DEM, or on its edge, and whose centre the surface reaches (the triangulation's
// heights sampled at cell centres, a little beyond its edge). Nothing when the outline meets the
// DEM's extent in other than exactly one piece, the DEM's size is unknown, or it is not north up.
// Needs only the DEM's size and geotransform, not its grid.
DemCellWrite SamplePatchOnDem(const CDEM& dem, const EntityPatch& patch);

// The cells of a window whose top-left corner lies inside the polygon (every contour, even-odd)
// or on its outline, exactly as CPgon::PtInPolygon decides for the corner (column c at x = ox +
// c * pw, row r at y = oy + r * ph): an 8-bit mask of the window's size, 255 inside. Decided row
// by row from the edges that reach the row.
cv::Mat CornersInside(const CPgon& polygon, const double geoTransform[6], const cv::Rect& window);

// ---- Rasterised entities.

// A drawing entity to burn into a DEM: one vertex for a point; two or more for a line or a
// polyline, whose closing side counts when it is closed.
struct BurnShape {
    std::vector<Wml::Point3> vertices;
    bool closed = false;
};

// The cells the shapes write, in order (a later write replaces an earlier one). A point writes its
// height into the cell that contains it. A side from P1 (z1) to P2 (z2) writes z1 into P1's cell
// and z2 into P2's, then walks from P1 towards P2 in steps of an eighth of the pixel width: step k
// of n = trunc(length / step) writes z1 + k (z2 - z1) / n, for k = 0 .. n - 1. Only cells of the
// grid are written. A side of many steps is walked cell by cell, each cell it crosses written once
// with the height of its last step in it; the grid's rows are burnt in bands side by side.
// Needs only the DEM's size and geotransform.
DemCellWrite BurnShapes(const CDEM& dem, const std::vector<BurnShape>& shapes);
