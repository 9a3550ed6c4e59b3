// Gap filling side by side: CGridGaps and GDALFillNodata fill the same 4000 x 4000 DEM (the Olinda
// DEM upsampled bilinearly) in which 4.5 % of the cells were cut out as holes of many sizes. Before
// timing, both fills are compared with each other and with the values that were cut out.
#include <benchmark/benchmark.h>
#include <cpl_conv.h>
#include <gdal.h>
#include <gdal_alg.h>

#include <cmath>
#include <cstdio>
#include <opencv2/imgproc.hpp>
#include <random>

#include "platform/gridding/GridGaps.h"

namespace {

constexpr int kSize = 4000;
constexpr float kNoData = -9999.0f;
constexpr double kHoleShare = 0.045;
constexpr double kSearchDistance = 100;  // GDAL's: beyond the widest hole

cv::Mat g_original, g_holes, g_mask;

bool LoadDem(const char* path, cv::Mat* dem) {
    GDALDatasetH ds = GDALOpen(path, GA_ReadOnly);
    if (!ds) {
        return false;
    }
    const int w = GDALGetRasterXSize(ds), h = GDALGetRasterYSize(ds);
    cv::Mat small(h, w, CV_32F);
    CPLErr err =
        GDALRasterIO(GDALGetRasterBand(ds, 1), GF_Read, 0, 0, w, h, small.data, w, h, GDT_Float32, 0, 0);
    GDALClose(ds);
    if (err != CE_None) {
        return false;
    }
    cv::resize(small, *dem, cv::Size(kSize, kSize), 0, 0, cv::INTER_LINEAR);
    return true;
}

// Round and square holes, radius 1 to 60 cells spread evenly in log scale, until 4.5 % is gone.
cv::Mat CutHoles(const cv::Mat& dem) {
    cv::Mat holes = dem.clone();
    std::mt19937 rng(2024);
    std::uniform_int_distribution<int> pos(0, kSize - 1);
    std::uniform_real_distribution<double> logRadius(0.0, std::log(60.0));
    const double target = kHoleShare * kSize * kSize;
    cv::Mat cut(dem.size(), CV_8U, cv::Scalar(0));
    for (int shape = 0; cv::countNonZero(cut) < target; ++shape) {
        for (int k = 0; k < 10; ++k, ++shape) {
            cv::Point c(pos(rng), pos(rng));
            int r = int(std::lround(std::exp(logRadius(rng))));
            if (shape % 2) {
                cv::circle(cut, c, r, cv::Scalar(255), cv::FILLED);
            } else {
                cv::rectangle(cut, cv::Rect(c.x - r, c.y - r / 2, 2 * r + 1, r + 1), cv::Scalar(255),
                              cv::FILLED);
            }
        }
    }
    holes.setTo(kNoData, cut);
    return holes;
}

// GDALFillNodata on an in-memory copy of the holed DEM; false when GDAL fails. With a state, only
// the fill itself is timed, unless whole is set: then also making the band and reading it back,
// the same work as CGridGaps' image in, new image out.
bool GdalFill(const cv::Mat& holes, cv::Mat* filled, benchmark::State* state = nullptr, bool whole = false) {
    GDALDriverH mem = GDALGetDriverByName("MEM");
    GDALDatasetH ds = mem ? GDALCreate(mem, "", kSize, kSize, 1, GDT_Float32, nullptr) : nullptr;
    if (!ds) {
        return false;
    }
    GDALRasterBandH band = GDALGetRasterBand(ds, 1);
    bool ok = GDALSetRasterNoDataValue(band, kNoData) == CE_None &&
              GDALRasterIO(band, GF_Write, 0, 0, kSize, kSize, const_cast<uchar*>(holes.data), kSize, kSize,
                           GDT_Float32, 0, 0) == CE_None;
    if (state && !whole) {
        state->ResumeTiming();
    }
    ok = ok && GDALFillNodata(band, nullptr, kSearchDistance, 0, 0, nullptr, nullptr, nullptr) == CE_None;
    if (state && !whole) {
        state->PauseTiming();
    }
    if (ok && filled) {
        filled->create(kSize, kSize, CV_32F);
        ok = GDALRasterIO(band, GF_Read, 0, 0, kSize, kSize, filled->data, kSize, kSize, GDT_Float32, 0, 0) ==
             CE_None;
    }
    GDALClose(ds);
    return ok;
}

double MeanAbsOverHoles(const cv::Mat& a, const cv::Mat& b) {
    cv::Mat diff;
    cv::absdiff(a, b, diff);
    return cv::mean(diff, g_holes == kNoData)[0];
}

// A new filler for each grid, as the area tools use it.
void BM_CGridGaps_NewObject(benchmark::State& state) {
    for (auto _ : state) {
        cv::Mat filled = CGridGaps().Process(g_holes, g_mask, kNoData, 0.1);
        benchmark::DoNotOptimize(filled.data);
    }
}

// One filler for a series of grids, as the ground filter uses it.
void BM_CGridGaps_Reused(benchmark::State& state) {
    CGridGaps gaps;
    for (auto _ : state) {
        cv::Mat filled = gaps.Process(g_holes, g_mask, kNoData, 0.1);
        benchmark::DoNotOptimize(filled.data);
    }
}

void BM_GDALFillNodata(benchmark::State& state) {
    for (auto _ : state) {
        state.PauseTiming();
        if (!GdalFill(g_holes, nullptr, &state)) {
            state.SkipWithError("GDALFillNodata failed");
        }
        state.ResumeTiming();
    }
}

void BM_GDALFillNodata_ImageInImageOut(benchmark::State& state) {
    for (auto _ : state) {
        cv::Mat filled;
        if (!GdalFill(g_holes, &filled, &state, true)) {
            state.SkipWithError("GDALFillNodata failed");
        }
    }
}

BENCHMARK(BM_CGridGaps_NewObject)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_CGridGaps_Reused)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_GDALFillNodata)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_GDALFillNodata_ImageInImageOut)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
    GDALAllRegister();
    if (!LoadDem(KV_BENCH_DEM, &g_original)) {
        std::fprintf(stderr, "cannot read %s\n", KV_BENCH_DEM);
        return 1;
    }
    g_holes = CutHoles(g_original);
    g_mask = cv::Mat(g_holes.size(), CV_8U, cv::Scalar(255));
    const double share = double(cv::countNonZero(g_holes == kNoData)) / (double(kSize) * kSize);
    cv::Mat ours = CGridGaps().Process(g_holes, g_mask, kNoData, 0.1);
    cv::Mat gdal;
    if (ours.empty() || !GdalFill(g_holes, &gdal)) {
        std::fprintf(stderr, "a fill failed\n");
        return 1;
    }
    double lo, hi;
    cv::minMaxLoc(g_original, &lo, &hi);
    std::printf("DEM %d x %d, heights %.1f to %.1f, holes %.2f %% of the cells\n", kSize, kSize, lo, hi,
                100 * share);
    std::printf(
        "mean absolute difference over the holes: CGridGaps vs original %.3f, GDALFillNodata vs original "
        "%.3f, CGridGaps vs GDALFillNodata %.3f\n",
        MeanAbsOverHoles(ours, g_original), MeanAbsOverHoles(gdal, g_original), MeanAbsOverHoles(ours, gdal));
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
