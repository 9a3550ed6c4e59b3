// Generated rasters for the tests of every folder, and reads of what the code under test wrote.
#pragma once

#include <gdal.h>

#include <QString>

#include <array>
#include <functional>
#include <string>
#include <vector>

namespace kvtest {

struct RasterSpec {
    int width = 10;
    int height = 10;
    int bands = 1;
    GDALDataType type = GDT_Float32;
    bool hasNoData = true;
    double noData = -9999.0;
    bool hasScaleOffset = false;
    double scale = 1.0;
    double offset = 0.0;
    bool hasGeoTransform = true;
    std::array<double, 6> geoTransform = {500000.0, 2.0, 0.0, 9000000.0, 0.0, -2.0};
    std::string driver = "GTiff";
    std::vector<std::string> options;
};

// Writes a raster whose cell (column, row) of band b (from 1) is value(column, row, b); without a
// value function the cells are left as the driver creates them (0), which keeps large rasters
// quick to make. Returns the path, empty on failure.
QString WriteRaster(const QString& path, const RasterSpec& spec,
                    const std::function<double(int, int, int)>& value);

// Band b of a file, row by row, as doubles (raw stored values, no scale or offset).
std::vector<double> ReadBand(const QString& path, int band = 1);
// Raw bits of band 1 of a 32-bit band.
std::vector<uint32_t> ReadBits32(const QString& path);

struct RasterFacts {
    bool opened = false;
    int width = 0;
    int height = 0;
    int bands = 0;
    GDALDataType type = GDT_Unknown;
    int overviews = 0;
    std::vector<int> overviewWidths;
    int blockX = 0;
    int blockY = 0;
    bool hasNoData = false;
    double noData = 0.0;
    double geoTransform[6] = {0, 0, 0, 0, 0, 0};
    std::string driver;
    std::string projection;
};
RasterFacts Inspect(const QString& path);

}  // namespace kvtest
