// New rasters from a layer's raster: the part inside a polygon (CUT) and a copy turned about a base
// point (ROTATE), each written as a new tiled GeoTIFF in blocks of at most 2048 x 2048 cells,
// under a temporary name renamed into place once complete. The source layer is not changed and the
// new file is not loaded.
#pragma once

#include <gdal.h>
#include <opencv2/core.hpp>

#include <QString>

#include <vector>

#include "platform/geometry/Pgon.h"
#include "platform/math/Wml.h"
#include "raster/DEM.h"

class ProgressSink;
class QPainter;
struct CadDrawing;

// What a cut or a rotation reads: a dataset and how its cells reach the output. A DEM whose grid
// is in memory is read from the grid as heights (-9999 for none), which are written back in the
// encoding of the DEM's file; every other source is copied cell for cell.
struct RasterSource {
    GDALDatasetH dataset = nullptr;
    bool heights = false;
    HeightEncoding encoding;
};

enum class RasterJob {
    Done,
    NothingToDo,   // nothing of the raster to write
    CannotCreate,  // the output file could not be made
    Failed,        // a read or a write failed; nothing is left at the output path
    Aborted,       // the operator stopped it; nothing is left at the output path
};

// Side of the blocks the cut and the rotation work in.
inline constexpr int kRasterJobBlock = 2048;

// ---- Cut

void CmdCut(CadDrawing* drawing);
// The rubber band: the picked vertices, the cursor and back to the first vertex.
void CmdCutDraw(CadDrawing* drawing, QPainter* painter, double x, double y, double z);
// Cuts the source by the polygon of the vertices (world coordinates): asks for the output file,
// shows the progress, tells a failure. On success *output holds the file's path.
void CutRaster(CadDrawing* drawing, const RasterSource& source, std::vector<Wml::Point3> vertices,
               QString* output);
// The polygon of the vertices in cell coordinates (each vertex truncated to its cell) clipped to
// the raster's cells; empty for fewer than 3 vertices, a polygon outside the raster or a source
// without geotransform.
CPgon CutArea(GDALDatasetH dataset, const std::vector<Wml::Point3>& vertices);
// Writes the cells of the area's bounding box to path; cells outside the area get each band's
// no-data value (0 for a band without one).
RasterJob CutRasterToFile(const RasterSource& source, const CPgon& area, const QString& path,
                          ProgressSink* progress);

// ---- Rotate

void CmdRotate(CadDrawing* drawing);
void CmdRotateDraw(CadDrawing* drawing, QPainter* painter, double x, double y, double z);
// base + R(angle) x (point - base).
Wml::Point2 RotatePoint2D(const Wml::Point2& point, double angle, const Wml::Point2& base);
// Rotates the source counter-clockwise by angle (radians) about the base (world coordinates): asks
// for the output file, shows the progress, tells a failure. On success *output holds the path.
void RotateRaster(CadDrawing* drawing, const RasterSource& source, double angle, const Wml::Point2& base,
                  QString* output);

// The north-up grid of a rotated raster: its size, its geotransform and the perspective transform
// from source cells to output cells (between cell centres, the position a warp samples a cell at).
struct RotationGrid {
    int width = 0;
    int height = 0;
    double geoTransform[6] = {0, 0, 0, 0, 0, 0};
    cv::Matx33d transform;
};
// False when the source has no usable geotransform or the output would have no cell or more
// cells per side than a GeoTIFF holds.
bool RotationGridOf(int width, int height, const double* geoTransform, double angle, const Wml::Point2& base,
                    RotationGrid* grid);
// Writes the rotated raster to path: bilinear, cells outside the turned raster no data (0 for
// Byte rasters and bands without a no-data value). The result equals one perspective warp of the
// whole raster with that transform, except that a neighbour of zero weight never turns a cell into
// no data, while only the source window each output block needs is read.
RasterJob RotateRasterToFile(const RasterSource& source, double angle, const Wml::Point2& base,
                             const QString& path, ProgressSink* progress);
