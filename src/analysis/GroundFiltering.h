// Ground filtering: a surface model (a DEM that still carries buildings and vegetation) becomes a
// terrain model. Every valid cell of the DEM, at the chosen ground sampling distance (GSD),
// becomes a point of a LAS file; the ground filter keeps the points of the ground; these are
// gridded back onto the cells, the holes the removed objects leave are filled, the result is
// smoothed and, with an area, only the cells inside the area change.
//
// The run works in eight phases, each one step of the overall bar: preparation, the work raster
// (the DEM resampled to the GSD, or copied when the GSD is not larger than its pixel width), the
// points written to the LAS file, the LAS header completed, the filter, the ground points
// gridded, gaps filled and smoothed in tiles, overviews. The DEM is streamed in blocks; only the
// area restriction reads whole rasters.
#pragma once

#include <QString>

#include <gdal.h>

#include <vector>

#include "platform/geometry/Pgon.h"
#include "platform/math/Wml.h"

class CDEM;
class ProgressSink;

// One tile of the fill-and-smooth pass along one side of the raster: the cells it reads
// [start, start + size) and those it writes [writeBegin, writeEnd). Tiles are at most 4096 cells
// and start every 3072; 512 cells are left out where a tile borders the next one.
struct GroundFilterTile {
    int start = 0;
    int size = 0;
    int writeBegin = 0;
    int writeEnd = 0;
};
std::vector<GroundFilterTile> GroundFilterTiles(int side);

// The part of an area (world coordinates) on a raster of that geotransform and size, in cells: the
// vertices rounded to the nearest cell corner (column rint((x - g0) / g1), row rint((y - g3) /
// g5)) and clipped to the cell rectangle (0, 0) - (width - 1, height - 1). Its area is 0 when the
// area misses the raster.
CPgon AreaCells(const std::vector<Wml::Point3>& area, const double geoTransform[6], int width, int height);

struct GroundFilterSettings {
    double gsd = 2.5;                 // output pixel size
    double factor = 1.6;              // ground-type factor: the filter's scale is |pixel width| x factor
    double curvatureThreshold = 0.3;  // handed to the filter unchanged
};

enum GroundFilterResult {
    GroundFilterDone = 1,
    GroundFilterFailed = 0,
    // The area does not meet the raster ("Selected area is out of selected DEM" was shown).
    GroundFilterAreaOutside = -2,
    GroundFilterAborted = -3,
};

// Writes z of every ground point (class 2) of the LAS file into the cell of the band whose corner
// the point stands on (column rint((x - g0) / g1), row rint((y - g3) / g5)); a later point
// replaces an earlier one, points of other classes and points outside the raster are left out,
// and every other cell holds noData. The band is written through one cache of about 2048 x 2048
// cells. Done, Failed (the reason in error) or Aborted (the progress sink asked to stop).
int GridGroundPoints(const QString& lasPath, GDALRasterBandH band, const double geoTransform[6], float noData,
                     ProgressSink* progress, QString* error = nullptr);

// The folder of the run's work files: "GroundFiltering" in the working folder (made when missing).
QString GroundFilteringWorkFolder();

// Filters the DEM's file into a new GeoTIFF at output (Float32, the work raster's size and
// geotransform, the DEM's projection, the input's no-data value; -9999 for a NaN one). With an
// area of three or more vertices (world coordinates), cells outside it keep the (resampled) input
// and the file's no data is -9999. overall runs from 0 to 8, phase through each phase; both may
// be null; a non-zero *abortFlag (or an aborted sink) stops the run at its next test. The output
// is written under a temporary name and takes its name only when complete; every exit deletes
// the work files, and a run that does not finish leaves the output path as it was. error, when
// given, receives the reason of a failure.
int FilterGroundToFile(const CDEM& dem, const QString& output, const GroundFilterSettings& settings,
                       const std::vector<Wml::Point3>& area, ProgressSink* overall, ProgressSink* phase,
                       int* abortFlag, QString* error = nullptr);

// Asks for the output file (the file of a loaded layer, and a name already loaded as a DEM, are
// refused; an existing file is replaced only when the operator agrees), filters the DEM into it
// with the area the DEM's project holds, and adds the result to the project as a new DEM layer.
// Non-zero when the layer was added; 0 otherwise (a cancelled chooser and an abort included).
// error, when given, receives the reason of a failed run (empty for a cancelled chooser).
int RunGroundFiltering(CDEM* dem, double gsd, double factor, double curvatureThreshold, ProgressSink* overall,
                       ProgressSink* phase, int* abortFlag, QString* error = nullptr);
