// The real-derived DEM as the benchmark programs of their own (those that run their pairs
// themselves, outside the harness) take it: the harness's data helpers under their names there.
#pragma once

#include <opencv2/core.hpp>

#include "Data.h"

// Band 1 of a DEM file upsampled bilinearly to side x side cells, its geotransform scaled to match.
inline bool ReadUpsampled(const char* path, int side, cv::Mat* dem, double* geoTransform) {
    return bench::ReadUpsampled(path, side, dem, geoTransform);
}

// The grid's value at (column c, row r) between cell centres, bilinearly; clamped to the grid.
inline double Bilinear(const cv::Mat& grid, double c, double r) {
    return bench::Bilinear(grid, c, r);
}

// Writes the grid as a tiled Float32 GeoTIFF with no data -9999, as the program writes DEMs.
inline bool WriteDemFile(const cv::Mat& dem, const double* geoTransform, const char* path) {
    return bench::WriteRaster(dem, geoTransform, path);
}
