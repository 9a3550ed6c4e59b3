// The shared part of the area-restricted DEM edits: how an area drawn in the plan view falls on
// one DEM (pieces, windows and masks in grid cells), the scratch images the undo records take,
// and the loop that applies one cell rule to every window of a DEM.
#pragma once

#include <functional>
#include <vector>

#include <opencv2/core.hpp>

#include "platform/geometry/Pgon.h"

class CDEM;
class ProgressSink;

// The value of a scratch cell that is not part of an edit.
inline constexpr float kNotEdited = -10000.0f;

// One piece of an area on a DEM: an outer contour of the area clipped to the raster, with the
// holes it encloses. The contours are in grid cells (column, row).
struct DemAreaPiece {
    std::vector<cv::Point> outline;  // vertices rounded to cells (halves to even)
    std::vector<std::vector<cv::Point>> holes;
    CPgon exact;      // the same piece before rounding, for point tests
    cv::Rect bounds;  // bounding box of the rounded outline: the window the piece edits
};

// The pieces of an area on a DEM, in the order the clipping gives them. The area's vertices are
// in world coordinates; each becomes column = (x - origin x) / pixel width and row = (y - origin
// y) / pixel height, truncated toward zero, and the result is clipped to the raster's cells (grid
// size, or the dataset's raster size when the grid is not loaded). Empty when they do not meet.
std::vector<DemAreaPiece> ClipDemArea(const CDEM& dem, const CPgon& worldArea);

// A cell index: the number truncated toward zero, kept well inside the int range (0 for NaN), so
// that a position far off the raster still clips correctly instead of overflowing.
int TruncToCell(double v);

// The cell of the DEM's grid that contains a world position (the pixel coordinates rounded
// down); it may lie outside the grid, and is (-1, -1) for a position that maps to no cell.
cv::Point DemCellAt(const CDEM& dem, double x, double y);

// An 8-bit image of the window's size: 255 on the piece's cells (boundary cells included, the
// cells of its holes left out but their boundary kept), 0 elsewhere.
cv::Mat AreaMask(const DemAreaPiece& piece, const cv::Rect& window);

// A cell rule: writes the new values of the cells under the mask into `out`, a float image of
// the window's size, and leaves its other cells alone. `out` may be the window's values
// themselves: a rule reads every value it needs before it writes.
using DemCellRule = std::function<void(const cv::Mat& values, const cv::Mat& mask, cv::Mat& out)>;

// A float image of the values' size holding kNotEdited outside the mask and the values under it:
// the "before" image of an undo record.
cv::Mat MaskedCopy(const cv::Mat& values, const cv::Mat& mask);
// The "after" image of an undo record: the rule's result under the mask, kNotEdited elsewhere.
cv::Mat RuleResult(const cv::Mat& values, const cv::Mat& mask, const DemCellRule& rule);

// One window of an edit as its undo record describes it.
struct DemEditWindow {
    cv::Rect window;                 // in grid cells
    std::vector<cv::Point> contour;  // the piece's outline relative to the window's top-left
    // The cells of a block of the window (relative to its top-left) before and after the edit,
    // kNotEdited where the edit does not reach: views of the edit's images where it made whole
    // images, otherwise made for the block alone.
    std::function<void(const cv::Rect& block, cv::Mat& before, cv::Mat& after)> cells;
    // Whether the images hold few cells other than kNotEdited: a record worth compressing.
    bool fewCells = false;
};

// Called for each window after its result is computed and before the grid changes: the place of
// the undo record. Returning 0 leaves that window of the grid as it was.
using DemEditRecorder = std::function<int(CDEM& dem, const DemEditWindow& edit)>;

// Applies a cell rule to every piece of the area on the DEM, each in its own window: in place
// without a recorder, through before and after images with one. Loads the grid when it is not in
// memory and the area meets the raster. While a window is rewritten the
// DEM is busy; afterwards it is modified and its display cache is dropped. Returns the number of
// windows written (0 when the area misses the DEM or the grid cannot be loaded).
int EditDemArea(CDEM& dem, const CPgon& worldArea, const DemCellRule& rule, ProgressSink* progress,
                const DemEditRecorder& record);

// The cells an edit changes in its window, row by row: those of window row r are columns[k] with
// heights[k] for k from rowStart[r] to rowStart[r + 1] (rowStart has a row more than the window,
// or is empty when nothing changes).
struct DemCellChanges {
    std::vector<size_t> rowStart;
    std::vector<int> columns;
    std::vector<float> heights;
};
// A rule that changes few of the cells under its mask: it gives the changed cells (all under the
// mask) instead of a whole image, and the cells under the mask it leaves out keep their values.
using DemChangeRule =
    std::function<void(const cv::Mat& values, const cv::Mat& mask, DemCellChanges* changes)>;
// EditDemArea for such a rule: the same windows, records and result as the cell rule that writes
// the changed cells and copies the others under the mask, without an image of the window.
int EditDemAreaCells(CDEM& dem, const CPgon& worldArea, const DemChangeRule& rule, ProgressSink* progress,
                     const DemEditRecorder& record);

// Hands one computed window to the recorder and, unless it refuses, writes the after image into
// the grid: under the mask, or the whole window for an empty mask. Returns 1 when written.
int CommitDemWindow(CDEM& dem, const DemAreaPiece& piece, const cv::Rect& window, const cv::Mat& before,
                    const cv::Mat& after, const cv::Mat& mask, ProgressSink* progress,
                    const DemEditRecorder& record);

// Whether a Float32 image of that many cells fits in half the machine's memory: the largest
// scratch raster a DEM tool takes on.
bool FitsInMemory(double cells);

// Brings the DEM's grid into memory for an edit; 0 when it cannot be.
int PrepareDemGrid(CDEM& dem, ProgressSink* progress);
// Marks the DEM as changed by an edit: modified, display cache dropped, no longer busy.
void FinishDemEdit(CDEM& dem);
