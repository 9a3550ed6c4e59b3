// Points as the benchmarks hand them to both sides: a CSV file of x, y, z that our side reads as
// plainly as a drawing holds points and GDAL's tools read through a VRT, and gdal_grid over it.
#pragma once

#include <string>
#include <vector>

#include "Bench.h"
#include "platform/math/Wml.h"

namespace bench {

// Writes the points as a CSV file with the columns x, y, z, each number in the printf format
// ("%.2f"), and the VRT through which GDAL reads it as the point layer "points". False when either
// cannot be written.
bool WritePointsCsv(const std::string& csv, const std::string& vrt, const std::vector<Wml::Point3>& points,
                    const char* format);
// The points of such a CSV file.
std::vector<Wml::Point3> ReadPointsCsv(const std::string& path);
// The box of the points: (xmin, xmax, ymin, ymax).
void BoxOf(const std::vector<Wml::Point3>& points, double box[4]);

// gdal_grid with the algorithm over the points of the VRT into a tiled Float32 GeoTIFF of w x h
// cells between x0 and x1 and between y0 and y1 (in the order gdal_grid takes them).
Command GdalGrid(const std::string& algorithm, double x0, double x1, double y0, double y1, int w, int h,
                 const std::string& vrt, const std::string& output);

}  // namespace bench
