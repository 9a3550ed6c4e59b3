// The benchmarks' real-derived DEM: a DEM file upsampled bilinearly to side x side cells, its
// geotransform scaled to match.
#pragma once

#include <gdal.h>
#include <opencv2/imgproc.hpp>

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
