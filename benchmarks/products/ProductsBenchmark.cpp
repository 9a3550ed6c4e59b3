// The products side by side with GDAL doing the same work:
//   slope grid    - ComputeSlopeGrid of a 4000 x 4000 DEM (the Olinda DEM upsampled bilinearly,
//                   no data -9999) against GDALDEMProcessing "slope" of the same file, which reads,
//                   computes and writes; the whole slope-map step (read, fit, tiled write with
//                   overviews) is timed as well;
//   annotated map - SaveImageAsGeoTiff of an 8000 x 8000 three-band image (the Landsat scene's
//                   bands 3, 2, 1 upsampled, with arrows burnt in) against GDALTranslate of the
//                   same image to the same tiled GeoTIFF followed by nearest overviews 2, 4, 8.
// The files are made once, in /tmp. The fastest repetition is the figure compared.
#include <QCoreApplication>
#include <QFile>

#include <benchmark/benchmark.h>
#include <cpl_error.h>
#include <gdal.h>
#include <gdal_utils.h>
#include <opencv2/core/utility.hpp>
#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <cstdio>
#include <vector>

#include "products/SlopeArrows.h"
#include "products/SlopeMap.h"
#include "raster/RasterIO.h"

namespace {

constexpr int kDemSide = 4000;
constexpr int kOrthoSide = 8000;
const char* const kDemPath = "/tmp/kv_bench_slope_dem_4000.tif";
const char* const kOrthoPath = "/tmp/kv_bench_annotated_8000.tif";
const char* const kOutPath = "/tmp/kv_bench_products_out.tif";

cv::Mat g_dem;
double g_demGt[6];
cv::Mat g_ortho;
double g_orthoGt[6];

bool ReadBands(const char* path, int bands, int type, cv::Mat* image, double* gt) {
    GDALDatasetH ds = GDALOpen(path, GA_ReadOnly);
    if (!ds) {
        return false;
    }
    const int w = GDALGetRasterXSize(ds), h = GDALGetRasterYSize(ds);
    image->create(h, w, CV_MAKETYPE(type == GDT_Byte ? CV_8U : CV_32F, bands));
    int map[3] = {3, 2, 1};
    const int cell = type == GDT_Byte ? 1 : 4;
    const bool ok = GDALGetGeoTransform(ds, gt) == CE_None &&
                    GDALDatasetRasterIO(ds, GF_Read, 0, 0, w, h, image->data, w, h, GDALDataType(type), bands,
                                        bands == 3 ? map : nullptr, cell * bands,
                                        static_cast<GSpacing>(image->step), cell) == CE_None;
    GDALClose(ds);
    return ok;
}

bool Prepare() {
    cv::Mat source;
    if (!ReadBands(KV_BENCH_DEM, 1, GDT_Float32, &source, g_demGt)) {
        return false;
    }
    cv::resize(source, g_dem, cv::Size(kDemSide, kDemSide), 0, 0, cv::INTER_LINEAR);
    g_demGt[1] *= double(source.cols) / kDemSide;
    g_demGt[5] *= double(source.rows) / kDemSide;
    if (!SaveImageAsGeoTiff(g_dem, g_demGt, QString(), -9999.0, kDemPath, nullptr)) {
        return false;
    }
    if (!ReadBands(KV_BENCH_ORTHO, 3, GDT_Byte, &source, g_orthoGt)) {
        return false;
    }
    cv::resize(source, g_ortho, cv::Size(kOrthoSide, kOrthoSide), 0, 0, cv::INTER_LINEAR);
    g_orthoGt[1] *= double(source.cols) / kOrthoSide;
    g_orthoGt[5] *= double(source.rows) / kOrthoSide;
    // Arrows of the DEM's slope burnt in, as the arrow map has them.
    const cv::Mat slope = ComputeSlopeGrid(g_dem, -9999.0, g_demGt[1], g_demGt[5]);
    DrawSlopeArrows(g_ortho, g_orthoGt, slope, g_demGt, -9999.0,
                    MakeArrowScale(18.0, 0.7, 12.0, g_demGt[1], g_orthoGt[1]));
    // The peer's source: the same image as an untiled GeoTIFF.
    const char* options[] = {"TILED=NO", nullptr};
    GDALDatasetH ds = GDALCreate(GDALGetDriverByName("GTiff"), kOrthoPath, kOrthoSide, kOrthoSide, 3,
                                 GDT_Byte, const_cast<char**>(options));
    if (!ds) {
        return false;
    }
    GDALSetGeoTransform(ds, g_orthoGt);
    const bool ok =
        GDALDatasetRasterIO(ds, GF_Write, 0, 0, kOrthoSide, kOrthoSide, g_ortho.data, kOrthoSide, kOrthoSide,
                            GDT_Byte, 3, nullptr, 3, static_cast<GSpacing>(g_ortho.step), 1) == CE_None;
    GDALClose(ds);
    return ok;
}

void BM_ComputeSlopeGrid(benchmark::State& state) {
    for (auto _ : state) {
        cv::Mat slope = ComputeSlopeGrid(g_dem, -9999.0, g_demGt[1], g_demGt[5]);
        benchmark::DoNotOptimize(slope.data);
    }
}

void BM_ComputeSlopeGridOneThread(benchmark::State& state) {
    const int threads = cv::getNumThreads();
    cv::setNumThreads(1);
    for (auto _ : state) {
        cv::Mat slope = ComputeSlopeGrid(g_dem, -9999.0, g_demGt[1], g_demGt[5]);
        benchmark::DoNotOptimize(slope.data);
    }
    cv::setNumThreads(threads);
}

void BM_SlopeMapWholeStep(benchmark::State& state) {
    for (auto _ : state) {
        SlopeDtm dtm;
        if (!ReadSlopeDtm(kDemPath, &dtm)) {
            state.SkipWithError("read failed");
            break;
        }
        const cv::Mat slope =
            ComputeSlopeGrid(dtm.grid, dtm.noData, dtm.geoTransform[1], dtm.geoTransform[5]);
        if (!SaveImageAsGeoTiff(slope, dtm.geoTransform, dtm.projection, dtm.noData, kOutPath, nullptr)) {
            state.SkipWithError("write failed");
            break;
        }
    }
}

void BM_GdalDemSlope(benchmark::State& state) {
    const char* args[] = {"-p", nullptr};
    GDALDEMProcessingOptions* options = GDALDEMProcessingOptionsNew(const_cast<char**>(args), nullptr);
    for (auto _ : state) {
        GDALDatasetH source = GDALOpen(kDemPath, GA_ReadOnly);
        GDALDatasetH out = GDALDEMProcessing(kOutPath, source, "slope", nullptr, options, nullptr);
        if (!out) {
            state.SkipWithError("gdaldem failed");
        }
        GDALClose(out);
        GDALClose(source);
    }
    GDALDEMProcessingOptionsFree(options);
}

void BM_SaveImageAsGeoTiff(benchmark::State& state) {
    for (auto _ : state) {
        if (!SaveImageAsGeoTiff(g_ortho, g_orthoGt, QString(), 0.0, kOutPath, nullptr)) {
            state.SkipWithError("write failed");
            break;
        }
    }
}

void BM_GdalTranslateAddo(benchmark::State& state) {
    const char* args[] = {"-co",       "TILED=YES",
                          "-co",       "BLOCKXSIZE=128",
                          "-co",       "BLOCKYSIZE=128",
                          "-co",       "BIGTIFF=IF_SAFER",
                          "-a_nodata", "0",
                          nullptr};
    GDALTranslateOptions* options = GDALTranslateOptionsNew(const_cast<char**>(args), nullptr);
    int levels[3] = {2, 4, 8};
    for (auto _ : state) {
        GDALDatasetH source = GDALOpen(kOrthoPath, GA_ReadOnly);
        GDALDatasetH out = GDALTranslate(kOutPath, source, options, nullptr);
        if (!out || GDALBuildOverviews(out, "NEAREST", 3, levels, 0, nullptr, nullptr, nullptr) != CE_None) {
            state.SkipWithError("translate failed");
        }
        GDALClose(out);
        GDALClose(source);
    }
    GDALTranslateOptionsFree(options);
}

double Fastest(const std::vector<double>& times) {
    return *std::min_element(times.begin(), times.end());
}

#define KV_PRODUCTS_BENCH(name)         \
    BENCHMARK(name)                     \
        ->Unit(benchmark::kMillisecond) \
        ->UseRealTime()                 \
        ->Iterations(1)                 \
        ->Repetitions(5)                \
        ->ComputeStatistics("min", Fastest)

KV_PRODUCTS_BENCH(BM_GdalDemSlope);
KV_PRODUCTS_BENCH(BM_ComputeSlopeGrid);
KV_PRODUCTS_BENCH(BM_ComputeSlopeGridOneThread);
KV_PRODUCTS_BENCH(BM_SlopeMapWholeStep);
KV_PRODUCTS_BENCH(BM_GdalTranslateAddo);
KV_PRODUCTS_BENCH(BM_SaveImageAsGeoTiff);

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    GDALAllRegister();
    CPLSetErrorHandler(CPLQuietErrorHandler);
    if (!Prepare()) {
        std::fprintf(stderr, "cannot prepare the benchmark files in /tmp\n");
        return 1;
    }
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    QFile::remove(kOutPath);
    return 0;
}
