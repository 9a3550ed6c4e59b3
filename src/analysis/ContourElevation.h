// Writing one elevation into a DEM inside a contour: the object-elevation tool's DEM update, an
// edit like every other DEM edit (grid in memory, cells saved to the undo history first, one undo
// round).
#pragma once

#include <vector>

#include <opencv2/core.hpp>

#include "platform/geometry/Pgon.h"

class CDEM;
class CKelvaroDoc;
class ProgressSink;

// The cells of a width x height raster with geotransform gt that the bounding box of a contour
// spans: the columns from trunc((min x - x0) / pixel width) to trunc((max x - x0) / pixel width) + 1
// and the rows from trunc((max y - y0) / pixel height) to trunc((min y - y0) / pixel height) + 1,
// each clamped to the raster (a negative quotient gives 0 for the last one). Both ends are
// included. Empty for an empty raster or a geotransform without pixel size.
cv::Rect ContourCellWindow(const double* gt, int width, int height, const Wml::Point2& minCorner,
                           const Wml::Point2& maxCorner);

// What SetContourElevation did.
enum class ContourEditResult {
    Done,       // cells set, one undo round pushed
    NoCells,    // no cell corner lies inside the contour: nothing changed
    NotLoaded,  // the DEM's grid could not be brought into memory
    NotSaved,   // the cells could not be saved for undo: nothing changed
    BadInput,   // no DEM, fewer than 3 vertices, or an elevation that is not a number
};

// Sets every cell of the DEM whose top-left corner lies inside the polygon (vertices in map
// coordinates), within the window ContourCellWindow gives, to the elevation. The grid is brought
// into memory first; the cells are saved to an undo record before they change and the record is
// pushed to the document's history as one round (when a document is given). The DEM is then
// modified and its display cache released. `cells`, when given, receives the number of cells set.
ContourEditResult SetContourElevation(CKelvaroDoc* doc, CDEM* dem, const std::vector<Wml::Point2>& polygon,
                                      double elevation, ProgressSink* progress, int* cells = nullptr);
