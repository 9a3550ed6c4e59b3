// The area edits side by side with their nearest peers, on a 4000 x 4000 DEM made from the Olinda
// DEM by bilinear upsampling, with 4.5 % of its cells cut out as irregular holes:
//   erode        - ErodeDem over the whole DEM against cv::erode of the same valid mask;
//   gap closing  - CloseDemGaps over the whole DEM against GDALFillNodata (filled values compared
//                  before timing), and the gap filler on its own;
//   flood fill   - FloodFillDem of the flat sea against cv::floodFill of the same seed;
//   offset       - OffsetDemArea over the whole DEM against cv::add under the valid mask.
// Flood fill and offset report cells per second, so that their cost per million cells reads off.
#include <benchmark/benchmark.h>
#include <gdal.h>
#include <gdal_alg.h>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <opencv2/imgproc.hpp>
#include <vector>

#include "UpsampledDem.h"
#include "demtools/DemEditWorkers.h"
#include "platform/gridding/GridGaps.h"
#include "raster/DEM.h"

namespace {

constexpr int kSize = 4000;
constexpr double kHoleShare = 0.045;
constexpr double kGdalSearchDistance = 100;

cv::Mat g_holed;  // the upsampled DEM with its holes
cv::Mat g_valid;  // 255 where g_holed holds data
std::unique_ptr<CDEM> g_dem;
CPgon g_whole;  // an area over every cell of the DEM
cv::Point g_sea;
int g_seaCells = 0;

// Irregular holes: the lowest 4.5 % of a smooth random field made of a coarse and a fine
// component, so that blobs of a few cells and of a hundred cells both occur.
cv::Mat HolePattern() {
    cv::RNG rng(11);
    cv::Mat coarse(40, 40, CV_32FC1), fine(400, 400, CV_32FC1), a, b;
    rng.fill(coarse, cv::RNG::UNIFORM, 0.0, 1.0);
    rng.fill(fine, cv::RNG::UNIFORM, 0.0, 1.0);
    cv::resize(coarse, a, cv::Size(kSize, kSize), 0, 0, cv::INTER_CUBIC);
    cv::resize(fine, b, cv::Size(kSize, kSize), 0, 0, cv::INTER_CUBIC);
    cv::Mat field = a + 0.6 * b;
    std::vector<float> sorted(field.begin<float>(), field.end<float>());
    auto at = sorted.begin() + ptrdiff_t(kHoleShare * double(sorted.size()));
    std::nth_element(sorted.begin(), at, sorted.end());
    return field < *at;
}

void ResetGrid() {
    g_holed.copyTo(g_dem->m_grid);
}

void BM_ErodeDem(benchmark::State& state) {
    for (auto _ : state) {
        state.PauseTiming();
        ResetGrid();
        state.ResumeTiming();
        ErodeDem(*g_dem, g_whole, nullptr);
    }
}

// As the command runs it: the before and after images of the undo record are made as well.
void BM_ErodeDem_WithUndoImages(benchmark::State& state) {
    const DemEditRecorder keep = [](CDEM&, const DemEditWindow& edit) {
        benchmark::DoNotOptimize(edit.before->data);
        return 1;
    };
    for (auto _ : state) {
        state.PauseTiming();
        ResetGrid();
        state.ResumeTiming();
        ErodeDem(*g_dem, g_whole, nullptr, keep);
    }
}

void BM_CvErode(benchmark::State& state) {
    cv::Mat eroded;
    const cv::Mat square = cv::getStructuringElement(cv::MORPH_RECT, cv::Size(3, 3));
    for (auto _ : state) {
        cv::erode(g_valid, eroded, square, cv::Point(-1, -1), kErodeReach);
        benchmark::DoNotOptimize(eroded.data);
    }
}

void BM_CloseDemGaps(benchmark::State& state) {
    for (auto _ : state) {
        state.PauseTiming();
        ResetGrid();
        state.ResumeTiming();
        CloseDemGaps(*g_dem, g_whole, nullptr);
    }
}

// The gap filler by itself on the same grid and area: what the worker adds is the difference.
void BM_CGridGapsAlone(benchmark::State& state) {
    const cv::Mat all(kSize, kSize, CV_8UC1, cv::Scalar(255));
    for (auto _ : state) {
        cv::Mat filled = CGridGaps().Process(g_holed, all, kNoData, 0.1);
        benchmark::DoNotOptimize(filled.data);
    }
}

// GDALFillNodata on an in-memory band holding the holed grid; only the fill is timed when a state
// is given. False when GDAL fails.
bool GdalFillNodata(cv::Mat* filled, benchmark::State* state) {
    GDALDriverH driver = GDALGetDriverByName("MEM");
    GDALDatasetH ds = driver ? GDALCreate(driver, "", kSize, kSize, 1, GDT_Float32, nullptr) : nullptr;
    if (!ds) {
        return false;
    }
    GDALRasterBandH band = GDALGetRasterBand(ds, 1);
    bool ok = GDALSetRasterNoDataValue(band, kNoData) == CE_None &&
              GDALRasterIO(band, GF_Write, 0, 0, kSize, kSize, g_holed.data, kSize, kSize, GDT_Float32, 0,
                           0) == CE_None;
    if (state) {
        state->ResumeTiming();
    }
    ok = ok && GDALFillNodata(band, nullptr, kGdalSearchDistance, 0, 0, nullptr, nullptr, nullptr) == CE_None;
    if (state) {
        state->PauseTiming();
    }
    if (ok && filled) {
        filled->create(kSize, kSize, CV_32FC1);
        ok = GDALRasterIO(band, GF_Read, 0, 0, kSize, kSize, filled->data, kSize, kSize, GDT_Float32, 0, 0) ==
             CE_None;
    }
    GDALClose(ds);
    return ok;
}

void BM_GDALFillNodata(benchmark::State& state) {
    for (auto _ : state) {
        state.PauseTiming();
        if (!GdalFillNodata(nullptr, &state)) {
            state.SkipWithError("GDALFillNodata failed");
        }
        state.ResumeTiming();
    }
}

void BM_FloodFillDem(benchmark::State& state) {
    ResetGrid();
    const double* gt = g_dem->m_geoTransform;
    const double x = gt[0] + (g_sea.x + 0.5) * gt[1], y = gt[3] + (g_sea.y + 0.5) * gt[5];
    float reference = 1111.0f;
    for (auto _ : state) {
        // Each fill turns the sea to the other reference, so the next one fills the same cells.
        if (FloodFillDem(*g_dem, x, y, reference, nullptr) != g_seaCells) {
            state.SkipWithError("flood fill reached other cells");
        }
        reference = reference == 1111.0f ? 2222.0f : 1111.0f;
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * g_seaCells);
}

void BM_CvFloodFill(benchmark::State& state) {
    ResetGrid();
    cv::Mat mask(kSize + 2, kSize + 2, CV_8UC1);
    const int flags = 4 | cv::FLOODFILL_FIXED_RANGE | cv::FLOODFILL_MASK_ONLY | (255 << 8);
    for (auto _ : state) {
        mask.setTo(0);
        if (cv::floodFill(g_dem->m_grid, mask, g_sea, 0, nullptr, 0, 0, flags) != g_seaCells) {
            state.SkipWithError("cv::floodFill reached other cells");
        }
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * g_seaCells);
}

void BM_OffsetDemArea(benchmark::State& state) {
    ResetGrid();
    double offset = 0.5;
    for (auto _ : state) {
        OffsetDemArea(*g_dem, g_whole, offset, nullptr);
        offset = -offset;
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * kSize * kSize);
}

void BM_CvAddUnderMask(benchmark::State& state) {
    ResetGrid();
    double offset = 0.5;
    for (auto _ : state) {
        cv::add(g_dem->m_grid, cv::Scalar(offset), g_dem->m_grid, g_valid);
        offset = -offset;
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * kSize * kSize);
}

BENCHMARK(BM_ErodeDem)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_ErodeDem_WithUndoImages)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_CvErode)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_CloseDemGaps)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_CGridGapsAlone)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_GDALFillNodata)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_FloodFillDem)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_CvFloodFill)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_OffsetDemArea)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_CvAddUnderMask)->Unit(benchmark::kMillisecond)->UseRealTime();

double MeanAbsDiff(const cv::Mat& a, const cv::Mat& b, const cv::Mat& where) {
    cv::Mat diff;
    cv::absdiff(a, b, diff);
    return cv::mean(diff, where)[0];
}

}  // namespace

int main(int argc, char** argv) {
    GDALAllRegister();
    cv::Mat original;
    g_dem = std::make_unique<CDEM>(nullptr);
    if (!ReadUpsampled(KV_BENCH_DEM, kSize, &original, g_dem->m_geoTransform)) {
        std::fprintf(stderr, "cannot read %s\n", KV_BENCH_DEM);
        return 1;
    }
    const cv::Mat holes = HolePattern();
    g_holed = original.clone();
    g_holed.setTo(kNoData, holes);
    g_valid = ~holes;
    ResetGrid();
    const double* gt = g_dem->m_geoTransform;
    const Wml::Point2 corners[4] = {{gt[0] + 0.5 * gt[1], gt[3] + 0.5 * gt[5]},
                                    {gt[0] + (kSize - 0.5) * gt[1], gt[3] + 0.5 * gt[5]},
                                    {gt[0] + (kSize - 0.5) * gt[1], gt[3] + (kSize - 0.5) * gt[5]},
                                    {gt[0] + 0.5 * gt[1], gt[3] + (kSize - 0.5) * gt[5]}};
    g_whole = CPgon(corners, 4);

    // The flood fill's seed: the valid sea cell (height 0) with the largest run of zeros.
    cv::Mat fillMask;
    cv::Rect bounds;
    for (int r = 0; r < kSize; r += 97) {
        for (int c = 0; c < kSize; c += 97) {
            if (g_holed.at<float>(r, c) == 0.0f) {
                const int cells = FloodFillComponent(g_holed, cv::Point(c, r), fillMask, bounds);
                if (cells > g_seaCells) {
                    g_seaCells = cells;
                    g_sea = cv::Point(c, r);
                }
            }
        }
    }

    // Gap closing compared with GDAL's fill and with the cut-out heights.
    CloseDemGaps(*g_dem, g_whole, nullptr);
    const cv::Mat ours = g_dem->m_grid.clone();
    ResetGrid();
    cv::Mat gdal;
    if (!GdalFillNodata(&gdal, nullptr)) {
        std::fprintf(stderr, "GDALFillNodata failed\n");
        return 1;
    }
    double lo = 0, hi = 0;
    cv::minMaxLoc(original, &lo, &hi);
    std::printf("DEM %d x %d, heights %.1f to %.1f; holes %.2f %% of the cells (%d left by CloseDemGaps)\n",
                kSize, kSize, lo, hi, 100.0 * cv::countNonZero(holes) / (double(kSize) * kSize),
                cv::countNonZero(ours == kNoData));
    std::printf("flood fill seed (%d, %d): %d cells of the sea\n", g_sea.x, g_sea.y, g_seaCells);
    std::printf(
        "mean absolute difference over the holes: CloseDemGaps vs original %.3f, GDALFillNodata vs "
        "original %.3f, CloseDemGaps vs GDALFillNodata %.3f\n",
        MeanAbsDiff(ours, original, holes), MeanAbsDiff(gdal, original, holes),
        MeanAbsDiff(ours, gdal, holes));

    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
