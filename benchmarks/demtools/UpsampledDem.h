// The benchmarks' real-derived DEM: a DEM file upsampled bilinearly to side x side cells, its
// geotransform scaled to match; and a grid written as the program writes DEMs.
#pragma once

#include <gdal.h>
#include <opencv2/imgproc.hpp>

#include <algorithm>

inline bool ReadUpsampled(const char* path, int side, cv::Mat* dem, double* geoTransform) {
    GDALDatasetH ds = GDALOpen(path, GA_ReadOnly);
    if (!ds) {
        return false;
    }
    const int w = GDALGetRasterXSize(ds), h = GDALGetRasterYSize(ds);
    cv::Mat source(h, w, CV_32FC1);
    const bool ok = GDALGetGeoTransform(ds, geoTransform) == CE_None &&
                    GDALRasterIO(GDALGetRasterBand(ds, 1), GF_Read, 0, 0, w, h, source.data, w, h,
                                 GDT_Float32, 0, 0) == CE_None;
    GDALClose(ds);
    if (!ok) {
        return false;
    }
    cv::resize(source, *dem, cv::Size(side, side), 0, 0, cv::INTER_LINEAR);
    geoTransform[1] *= double(w) / side;
    geoTransform[5] *= double(h) / side;
    return true;
}

// The grid's value at (column c, row r) between cell centres, bilinearly; clamped to the grid.
inline double Bilinear(const cv::Mat& grid, double c, double r) {
    c = std::clamp(c, 0.0, double(grid.cols - 1));
    r = std::clamp(r, 0.0, double(grid.rows - 1));
    const int c0 = std::min(int(c), grid.cols - 2), r0 = std::min(int(r), grid.rows - 2);
    const double fc = c - c0, fr = r - r0;
    const float* a = grid.ptr<float>(r0);
    const float* b = grid.ptr<float>(r0 + 1);
    return (a[c0] * (1 - fc) + a[c0 + 1] * fc) * (1 - fr) + (b[c0] * (1 - fc) + b[c0 + 1] * fc) * fr;
}

// Writes the grid as a Float32 GeoTIFF tiled in 256 x 256 blocks with no data -9999, as the program
// writes DEMs.
inline bool WriteDemFile(const cv::Mat& dem, const double* geoTransform, const char* path) {
    const char* options[] = {"TILED=YES", "BLOCKXSIZE=256", "BLOCKYSIZE=256", nullptr};
    GDALDatasetH ds = GDALCreate(GDALGetDriverByName("GTiff"), path, dem.cols, dem.rows, 1, GDT_Float32,
                                 const_cast<char**>(options));
    if (!ds) {
        return false;
    }
    GDALSetGeoTransform(ds, const_cast<double*>(geoTransform));
    GDALRasterBandH band = GDALGetRasterBand(ds, 1);
    GDALSetRasterNoDataValue(band, -9999.0);
    const bool ok = GDALRasterIO(band, GF_Write, 0, 0, dem.cols, dem.rows, const_cast<uchar*>(dem.data),
                                 dem.cols, dem.rows, GDT_Float32, 0, 0) == CE_None;
    CPLErrorReset();
    GDALClose(ds);
    return ok && CPLGetLastErrorType() < CE_Failure;
}
