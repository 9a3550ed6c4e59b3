// The terrain a classified LAS file gives of itself, a raster read as a grid, and how far a DEM lies
// from the terrain: what the ground filter tests and benchmarks judge a filtered surface by.
#pragma once

#include <QFile>
#include <QString>

#include <gdal.h>

#include <opencv2/core.hpp>

#include <algorithm>
#include <cmath>
#include <memory>
#include <vector>

#include "platform/las/Las.h"

namespace kvtest {

// Band 1 of a raster file as a Float32 grid, with its no-data value (-9999 when it has none);
// empty when the file does not read.
inline cv::Mat ReadGrid(const QString& path, double* noData = nullptr) {
    GDALDatasetH ds = GDALOpen(QFile::encodeName(path).constData(), GA_ReadOnly);
    if (!ds) {
        return cv::Mat();
    }
    const int w = GDALGetRasterXSize(ds), h = GDALGetRasterYSize(ds);
    cv::Mat grid(h, w, CV_32F);
    GDALRasterBandH band = GDALGetRasterBand(ds, 1);
    int hasNoData = 0;
    const double value = GDALGetRasterNoDataValue(band, &hasNoData);
    if (noData) {
        *noData = hasNoData ? value : -9999.0;
    }
    const bool ok = GDALRasterIO(band, GF_Read, 0, 0, w, h, grid.data, w, h, GDT_Float32, 0, 0) == CE_None;
    GDALClose(ds);
    return ok ? grid : cv::Mat();
}

// The highest z of the points of the class (every point for a class below 0) in each cell of the
// grid: column floor((x - g0) / g1), row floor((y - g3) / g5). -9999 where no point falls.
inline cv::Mat GridPointsMax(const QString& lasPath, const double gt[6], int width, int height, int cls) {
    cv::Mat grid(height, width, CV_32F, cv::Scalar(-9999.0f));
    LASreadOpener opener;
    opener.SetFileName(lasPath);
    std::unique_ptr<LASreader> reader = opener.Open();
    if (!reader) {
        return cv::Mat();
    }
    while (reader->ReadPoint()) {
        if (cls >= 0 && reader->point.classification != cls) {
            continue;
        }
        const double c = std::floor((reader->GetX() - gt[0]) / gt[1]);
        const double r = std::floor((reader->GetY() - gt[3]) / gt[5]);
        if (c < 0 || r < 0 || c >= width || r >= height) {
            continue;
        }
        float& cell = grid.at<float>(int(r), int(c));
        const float z = float(reader->GetZ());
        cell = cell == -9999.0f ? z : std::max(cell, z);
    }
    return grid;
}

struct Deviation {
    double median = 0.0;
    double p95 = 0.0;
    size_t cells = 0;
};

// The absolute differences between a DEM and the truth (Float32 grids of one size) over the
// cells where both hold data (neither -9999 nor NaN nor the DEM's own no-data value) and, with a
// mask, the mask is set.
inline Deviation DeviationFrom(const cv::Mat& dem, const cv::Mat& truth, const cv::Mat& mask = cv::Mat(),
                               float demNoData = -9999.0f) {
    std::vector<double> d;
    for (int r = 0; r < dem.rows; ++r) {
        for (int c = 0; c < dem.cols; ++c) {
            const float a = dem.at<float>(r, c), b = truth.at<float>(r, c);
            if (std::isfinite(a) && a != -9999.0f && a != demNoData && b != -9999.0f &&
                (mask.empty() || mask.at<uchar>(r, c))) {
                d.push_back(std::fabs(double(a) - double(b)));
            }
        }
    }
    Deviation out;
    out.cells = d.size();
    if (d.empty()) {
        return out;
    }
    std::sort(d.begin(), d.end());
    out.median = d[d.size() / 2];
    out.p95 = d[std::min(d.size() - 1, size_t(double(d.size()) * 0.95))];
    return out;
}

}  // namespace kvtest
