// The check of a benchmark pair that both write a Float32 raster of the same grid: the two
// rasters read back and compared cell by cell.
#pragma once

#include <QFile>
#include <QString>

#include <benchmark/benchmark.h>
#include <gdal.h>
#include <opencv2/core.hpp>

#include <algorithm>
#include <cmath>
#include <functional>
#include <string>

// Reads band 1 and the geotransform of a raster.
inline bool ReadBand(const QString& path, cv::Mat* cells, double gt[6]) {
    GDALDatasetH ds = GDALOpen(QFile::encodeName(path).constData(), GA_ReadOnly);
    if (!ds) {
        return false;
    }
    *cells = cv::Mat(GDALGetRasterYSize(ds), GDALGetRasterXSize(ds), CV_32FC1);
    const bool ok = GDALGetGeoTransform(ds, gt) == CE_None &&
                    GDALRasterIO(GDALGetRasterBand(ds, 1), GF_Read, 0, 0, cells->cols, cells->rows,
                                 cells->data, cells->cols, cells->rows, GDT_Float32, 0, 0) == CE_None;
    GDALClose(ds);
    return ok;
}

// What else a pair checks per cell: column, row, the cell centre (x, y) and both values.
using CellVisit = std::function<void(int c, int r, double x, double y, float ours, float theirs)>;

// Reads both rasters (the step's time) and compares them off the outer ring: the cells both fill
// must agree within 1e-3; cells only one of them fills (no data -9999) are counted. The counts go
// to the state's counters; visit, when given, sees every compared cell.
inline void CompareRasterPair(benchmark::State& state, const QString& oursPath, const QString& theirsPath,
                              const CellVisit& visit = {}) {
    cv::Mat ours, theirs;
    double a[6], b[6];
    for (auto _ : state) {
        if (!ReadBand(oursPath, &ours, a) || !ReadBand(theirsPath, &theirs, b)) {
            state.SkipWithError("run both sides first");
            return;
        }
    }
    if (ours.size() != theirs.size() || std::abs(a[0] - b[0]) > 1e-6 || std::abs(a[3] - b[3]) > 1e-6) {
        state.SkipWithError("the grids differ");
        return;
    }
    constexpr float kNoValue = -9999.0f;
    long both = 0, apart = 0, onlyOne = 0;
    double worst = 0.0;
    for (int r = 1; r < ours.rows - 1; ++r) {
        for (int c = 1; c < ours.cols - 1; ++c) {
            const float p = ours.at<float>(r, c), q = theirs.at<float>(r, c);
            if (visit) {
                visit(c, r, a[0] + (c + 0.5) * a[1], a[3] + (r + 0.5) * a[5], p, q);
            }
            if ((p == kNoValue) != (q == kNoValue)) {
                ++onlyOne;
            } else if (p != kNoValue) {
                ++both;
                worst = std::max(worst, double(std::abs(p - q)));
                apart += std::abs(p - q) > 1e-3;
            }
        }
    }
    state.counters["cells_compared"] = double(both);
    state.counters["cells_apart_1e-3"] = double(apart);
    state.counters["cells_filled_by_one"] = double(onlyOne);
    state.counters["largest_difference"] = worst;
}

// Registers a pair whose sides run as processes (three repetitions of one run each, manual time)
// as "<name>/ours" and "<name>/<peer>", then its comparison as "<name>/compare".
inline void RegisterRasterPair(const std::string& name, void (*ours)(benchmark::State&),
                               const std::string& peer, void (*theirs)(benchmark::State&),
                               void (*compare)(benchmark::State&)) {
    for (auto* b : {benchmark::RegisterBenchmark((name + "/ours").c_str(), ours),
                    benchmark::RegisterBenchmark((name + "/" + peer).c_str(), theirs)}) {
        b->UseManualTime()->Iterations(1)->Repetitions(3)->Unit(benchmark::kMillisecond);
    }
    benchmark::RegisterBenchmark((name + "/compare").c_str(), compare)->Iterations(1);
}
