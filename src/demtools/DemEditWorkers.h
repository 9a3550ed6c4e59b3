// The cell rules of the area-restricted DEM edits (hole, gap closing, offset, erode) and the
// flood fill. Each edit comes twice: as the rule on one window (the window's values and the area
// mask in, the window's new values out, kNotEdited outside the mask), and as the worker that
// applies it to every window an area makes on one DEM, changing the grid in place. The command
// calls the worker once for each editable DEM, with a recorder that makes the undo record.
#pragma once

#include <functional>

#include <opencv2/core.hpp>

#include "demtools/DemEditArea.h"

class CDEM;
class ProgressSink;

// How far no data spreads in one erode run: cells within this many cells (in both directions).
inline constexpr int kErodeReach = 10;

// Hole: every cell of the area becomes no data, whatever it held.
cv::Mat MakeDemHole(const cv::Mat& values, const cv::Mat& mask);
int MakeDemHole(CDEM& dem, const CPgon& area, ProgressSink* progress, const DemEditRecorder& record = {});

// Gap closing: the no-data cells of the area are filled from the valid cells of the same area
// (cells outside the area are not used). When the filler gives nothing (no valid cell in the
// area), the window keeps its values.
cv::Mat CloseDemGaps(const cv::Mat& values, const cv::Mat& mask);
int CloseDemGaps(CDEM& dem, const CPgon& area, ProgressSink* progress, const DemEditRecorder& record = {});

// Offset: every valid cell of the area is raised by the offset (summed in double precision);
// no-data cells stay as they are.
cv::Mat OffsetDemArea(const cv::Mat& values, const cv::Mat& mask, double offset);
int OffsetDemArea(CDEM& dem, const CPgon& area, double offset, ProgressSink* progress,
                  const DemEditRecorder& record = {});

// Erode: a cell of the area becomes no data when it, or any cell of the window within
// kErodeReach cells of it in both directions, holds no data. Only the window's own cells count:
// its edge (and so the DEM's edge) does not erode.
cv::Mat ErodeDem(const cv::Mat& values, const cv::Mat& mask);
int ErodeDem(CDEM& dem, const CPgon& area, ProgressSink* progress, const DemEditRecorder& record = {});

// The 4-connected component of the seed in a float grid: the cells reachable through edge
// neighbours that are of the seed's kind, which is no data (-9999 or NaN) when the seed holds no
// data and exactly the seed's value otherwise. The fill mask is made two cells wider and higher
// than the grid, with the component's cells set to 255 one cell in from its top-left; bounds is
// the component's bounding rectangle in grid cells. Returns the number of cells (0 for a seed
// outside the grid).
int FloodFillComponent(const cv::Mat& grid, cv::Point seed, cv::Mat& fillMask, cv::Rect& bounds);

// Called with the component before the reference is written into it: the place of the undo
// record. Returning 0 leaves the grid as it was.
using FloodFillRecorder =
    std::function<int(CDEM& dem, const cv::Mat& fillMask, const cv::Rect& bounds, float reference)>;

// Flood fill: the component of the cell that contains the world position takes the reference
// elevation. Loads the grid when needed. Returns the number of cells filled (0 when the position
// lies off the DEM, the grid cannot be loaded or the reference is no data).
int FloodFillDem(CDEM& dem, double x, double y, float reference, ProgressSink* progress,
                 const FloodFillRecorder& record = {});
