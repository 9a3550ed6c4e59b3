// Repaints of a 16000 x 16000 Float32 DEM and an 8-bit RGB orthophoto of the same size, panned
// across at three zoom levels: milliseconds per repaint and the bytes the process read from the
// files per repaint (from /proc/self/io), beside the bytes of the visible window at screen
// resolution.
// The files are made once in /tmp, tiled 256 x 256 with overviews.
#include <QApplication>
#include <QImage>
#include <QPainter>

#include <benchmark/benchmark.h>
#include <cpl_error.h>
#include <gdal.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "document/KelvaroDoc.h"
#include "platform/cad/Cad.h"
#include "platform/ui/ElevationColorRamp.h"
#include "raster/DEM.h"
#include "raster/Ortho.h"
#include "raster/RasterIO.h"
#include "view/CadEventProcs.h"
#include "view/RasterRendering.h"

namespace {

constexpr int kSide = 16000;
constexpr int kWindowWidth = 1280;
constexpr int kWindowHeight = 800;
const char* const kDemPath = "/tmp/kv_bench_view_dem_16000.tif";
const char* const kOrthoPath = "/tmp/kv_bench_view_rgb_16000.tif";

bool MakeRaster(const char* path, int bands, GDALDataType type) {
    CPLPushErrorHandler(CPLQuietErrorHandler);
    GDALDatasetH existing = GDALOpen(path, GA_ReadOnly);
    CPLPopErrorHandler();
    if (existing) {
        const bool fits = GDALGetRasterXSize(existing) == kSide && GDALGetRasterCount(existing) == bands &&
                          GDALGetOverviewCount(GDALGetRasterBand(existing, 1)) > 0;
        GDALClose(existing);
        if (fits) {
            return true;
        }
    }
    const char* options[] = {"TILED=YES",   "BLOCKXSIZE=256",   "BLOCKYSIZE=256",
                             "BIGTIFF=YES", "INTERLEAVE=PIXEL", nullptr};
    GDALDatasetH ds = GDALCreate(GDALGetDriverByName("GTiff"), path, kSide, kSide, bands, type,
                                 const_cast<char**>(options));
    if (!ds) {
        return false;
    }
    double gt[6] = {500000.0, 0.5, 0.0, 9000000.0, 0.0, -0.5};
    GDALSetGeoTransform(ds, gt);
    std::vector<float> strip(static_cast<size_t>(kSide) * 256 * bands);
    bool ok = true;
    for (int y = 0; y < kSide && ok; y += 256) {
        const int rows = std::min(256, kSide - y);
        for (int r = 0; r < rows; ++r) {
            for (int x = 0; x < kSide; ++x) {
                for (int b = 0; b < bands; ++b) {
                    strip[(static_cast<size_t>(r) * kSide + x) * bands + b] =
                        static_cast<float>(((x / 7 + (y + r) / 5 + b * 40) % 200) + 20);
                }
            }
        }
        ok = GDALDatasetRasterIO(ds, GF_Write, 0, y, kSide, rows, strip.data(), kSide, rows, GDT_Float32,
                                 bands, nullptr, 4 * bands, 4 * bands * kSide, 4) == CE_None;
    }
    if (bands == 1) {
        GDALSetRasterNoDataValue(GDALGetRasterBand(ds, 1), -9999.0);
    }
    ok = ok && kv::BuildOverviews(ds, nullptr) != 0;
    GDALClose(ds);
    return ok;
}

long long ReadBytes() {
    std::ifstream io("/proc/self/io");
    std::string key;
    long long value = 0;
    while (io >> key >> value) {
        if (key == "rchar:") {
            return value;
        }
    }
    return 0;
}

struct Scene {
    CKelvaroDoc* doc = nullptr;
    CDEM* dem = nullptr;
    COrtho* ortho = nullptr;
};

Scene& GetScene() {
    static Scene scene = [] {
        Scene s;
        BuildElevationColorRamp();
        if (!MakeRaster(kDemPath, 1, GDT_Float32) || !MakeRaster(kOrthoPath, 3, GDT_Byte)) {
            return s;
        }
        s.doc = new CKelvaroDoc();
        s.dem = new CDEM(s.doc);
        s.dem->m_name = "dem.tif";
        s.dem->m_pDataset = GDALOpen(kDemPath, GA_ReadOnly);
        s.dem->m_colorRangeMin = 0;
        s.dem->m_colorRangeMax = 250;
        s.dem->m_imageEntity = CadAddImagePlace(s.doc->m_pCad, 1000, kSide, kSide, 0, 0, 0, 1);
        s.doc->m_DEMs[s.dem->m_name] = s.dem;
        s.doc->m_DEMIdNames[1000] = s.dem->m_name;
        s.ortho = new COrtho(s.doc);
        s.ortho->m_name = "ortho.tif";
        s.ortho->m_pDataset = GDALOpen(kOrthoPath, GA_ReadOnly);
        s.ortho->m_imageEntity = CadAddImagePlace(s.doc->m_pCad, 2000, kSide, kSide, 0, 0, 0, 1);
        s.doc->m_Orthos[s.ortho->m_name] = s.ortho;
        s.doc->m_OrthoIdNames[2000] = s.ortho->m_name;
        return s;
    }();
    return scene;
}

// Arguments: image id, window pixels per 1000 raster pixels.
void BM_PanRepaint(benchmark::State& state) {
    Scene& scene = GetScene();
    if (!scene.doc) {
        state.SkipWithError("the rasters could not be made in /tmp");
        return;
    }
    const int imageId = static_cast<int>(state.range(0));
    const double s = state.range(1) / 1000.0;
    const int W = static_cast<int>(kSide * s);
    QImage canvas(kWindowWidth, kWindowHeight, QImage::Format_ARGB32);
    QPainter painter(&canvas);
    const CadWinRect update{0, 0, kWindowWidth, kWindowHeight};
    long long bytes = 0;
    long long visible = 0;
    int step = 0;
    // Pans across the raster diagonally, one screen step of 97 pixels per repaint.
    const int room = std::max(1, W - kWindowWidth);
    for (auto _ : state) {
        const int offset = (step++ * 97) % room;
        const long long before = ReadBytes();
        const int drawn = OnCadDrawImage(scene.doc->m_pCad, &painter, &update, imageId, -offset,
                                         W - offset * kWindowHeight / kWindowWidth, W, W);
        bytes += ReadBytes() - before;
        benchmark::DoNotOptimize(drawn);
        const int vw = std::min(kWindowWidth, W);
        const int vh = std::min(kWindowHeight, W);
        visible += static_cast<long long>(vw) * vh * (imageId == 1000 ? 4 : 3);
    }
    state.counters["file_bytes_per_repaint"] =
        benchmark::Counter(static_cast<double>(bytes) / state.iterations());
    state.counters["window_bytes_per_repaint"] =
        benchmark::Counter(static_cast<double>(visible) / state.iterations());
}
BENCHMARK(BM_PanRepaint)
    ->ArgsProduct({{1000, 2000}, {100, 500, 2000}})
    ->Unit(benchmark::kMillisecond)
    ->ArgNames({"id", "scale_permille"});

}  // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    GDALAllRegister();
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
