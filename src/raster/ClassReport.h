// What the class reports of a map layer share: the pixel window an area covers, the passes over
// the window's valid values (their count and extremes; their classes, mean and standard
// deviation, drawn as coloured circles), the picture written beside the map and the folder where
// a report keeps its colour swatches while it is built.
//
//     kv::ClassWindow window;
//     if (!kv::AreaClassWindow(area, gt, cols - 1, rows - 1, cols, rows, &window)) { ... }
//     kv::ClassStyle style{{t1, t2, t3, t4}, {red, orange, yellow, lime, green}, 230, radius};
//     kv::ClassTally tally;
//     switch (kv::ClassifyValues(band, window, noData, style, &progress, &tally)) { ... }
//     kv::WriteJpeg(tally.picture, picturePath);
//
// A cell is valid when it differs from the no-data value and is a number. The window is read in
// blocks of at most 2048 x 2048 Float64 samples, row blocks outermost, then column blocks, then
// the rows and cells of a block: "processing order". Before every row of a block the pending
// events are let through and the progress sink is asked whether the operator aborted.
#pragma once

#include <gdal.h>
#include <opencv2/core.hpp>

#include <QString>

#include <cstdint>
#include <vector>

#include "controls/ColorRef.h"
#include "platform/geometry/Pgon.h"
#include "platform/math/Wml.h"

class ProgressSink;

namespace kv {

// The cells of a raster a report counts: a rectangle of the raster and, when the report is
// restricted to an area, the area in pixel coordinates (a cell counts when its column and row
// lie inside the area or on its outline).
struct ClassWindow {
    int column = 0;
    int row = 0;
    int width = 0;
    int height = 0;
    bool restricted = false;
    CPgon area;
};

// The whole raster, every cell counted.
ClassWindow WholeRasterWindow(int columns, int rows);

// The window of an area given in map coordinates: each vertex becomes the pixel
// ((int)((x - gt[0]) / gt[1]), (int)((y - gt[3]) / gt[5])), truncated toward zero; that polygon
// is intersected with the rectangle (0, 0) - (right, bottom) in pixel coordinates; the window is
// the intersection's bounding box (origin floor of the smallest column and row, size ceil(largest
// - origin + 1)), cut to the raster's columns x rows. False for fewer than three vertices, an
// empty intersection or a geotransform without size.
bool AreaClassWindow(const std::vector<Wml::Point2>& area, const double* gt, double right, double bottom,
                     int columns, int rows, ClassWindow* window);

enum class WalkResult { Done, Aborted, ReadFailed };

// The valid cells of a window: how many, and the smallest and largest value.
struct ValueScan {
    int64_t count = 0;
    double minimum = 0.0;
    double maximum = 0.0;
};
// Counts the valid cells of band's window. Progress goes to the sink as 0 to 100 per cent.
WalkResult ScanValues(GDALRasterBandH band, const ClassWindow& window, double noData, ProgressSink* progress,
                      ValueScan* scan);

// The classes: upperBounds holds the inclusive upper bounds of every class but the last, in
// ascending order; a value belongs to the first class whose bound it does not exceed, else to the
// last class. One colour per class (COLORREF). The picture has the background grey in every
// channel and draws every valid cell as a filled circle of the radius.
struct ClassStyle {
    std::vector<double> upperBounds;
    std::vector<COLORREF> colours;
    int background = 230;
    int radius = 3;
};
// The class of a value.
int ClassOf(double value, const std::vector<double>& upperBounds);

// The picture of a window of columns x rows cells: s = max(columns, rows) / 3000, the picture is
// (int)(columns / s + 20) x (int)(rows / s + 15) pixels, and the cell (c, r) of the window is
// drawn centred at (c * width div columns, r * height div rows).
cv::Size ClassPictureSize(int columns, int rows);
// The circle radius for a report of that ground area: 7 below 50, 6 below 100, 5 below 150,
// 4 below 250, else 3.
int ClassCircleRadius(double area);

// What a classification pass found: the cells per class, the valid cells, their sum, mean and
// standard deviation (over all valid cells, divided by their count), and the picture (8-bit,
// three channels in OpenCV's blue-green-red order, ready for WriteJpeg).
struct ClassTally {
    std::vector<int64_t> counts;
    int64_t total = 0;
    double sum = 0.0;
    double mean = 0.0;
    double standardDeviation = 0.0;
    cv::Mat picture;
};
// Classifies the valid cells of band's window and draws them. The picture is the one drawing
// every cell's circle in processing order would give; a circle centre shared by several cells is
// drawn once, in the colour and at the turn of the last of them. Progress goes to the sink as 0
// to 100 per cent.
WalkResult ClassifyValues(GDALRasterBandH band, const ClassWindow& window, double noData,
                          const ClassStyle& style, ProgressSink* progress, ClassTally* tally);

// Writes the picture as a JPEG through the write layer: the file at path is replaced only by a
// complete picture. False when it cannot be encoded or written. With temporary given, the
// complete picture is left under the temporary name it names, for the caller to put in place
// (kv::CommitTemporary) or remove once the files written with it are complete.
bool WriteJpeg(const cv::Mat& picture, const QString& path, QString* temporary = nullptr);

// The folder "tempReport" of the working folder, where a report writes its colour swatches;
// created when missing. Empty when it cannot be made.
QString ReportScratchFolder();

}  // namespace kv
