// The mosaic of four orthophotos into one tile, side by side with OpenCV's blenders on the same
// images in memory.
//
// Input: the four 2000 x 2000 crops of FourCrops.h (3490 x 3520 mosaic of 2.85 m cells), loaded as
// the orthophotos of a project, with the seamlines of the seamline build (run once, untimed).
//   BM_MosaicTile          - CMosaicTile::WriteTile of one tile over the whole mosaic without
//                            balancing: label map, blocks, blend, the tiled GeoTIFF, world file and
//                            overviews (the tile is dropped from the project after each run);
//   BM_BalancingMap        - BuildRadiometricBalancingMap alone;
//   BM_MosaicTileBalanced  - the tile with balancing (the map built once before);
//   BM_FeatherBlender      - cv::detail::FeatherBlender (sharpness 0.02) over the four crops read
//                            into memory, fed as 16-bit images with full masks, blended;
//   BM_MultiBandBlender    - cv::detail::MultiBandBlender (5 bands) on the same.
//
// The peer command chain, which does no blending, is timed beside it with farm-bench on the crops
// this program leaves when given --keep=<folder>:
//   gdalbuildvrt all.vrt crop_*.tif && gdal_translate -co TILED=YES all.vrt all.tif && gdaladdo all.tif
// The tiles are written through the synced write layer; with TMPDIR=/dev/shm the figures are those
// of the computation alone.
#include <benchmark/benchmark.h>
#include <gdal.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <opencv2/stitching/detail/blenders.hpp>

#include <cstdio>
#include <memory>
#include <vector>

#include "FourCrops.h"
#include "document/KelvaroDoc.h"
#include "mosaic/MosaicTile.h"
#include "mosaic/RadiometricBalancing.h"
#include "mosaic/SeamlineBuilders.h"
#include "platform/cad/Cad.h"
#include "raster/Ortho.h"
#include "raster/RasterIO.h"

namespace {

CKelvaroDoc* g_doc = nullptr;
QString g_folder;
std::vector<COrtho*> g_images;
MosaicBox g_box;
int g_width = 0, g_height = 0;
std::vector<cv::Mat> g_crops;  // 16-bit copies of the crops for the blenders

// Builds the seamlines and links each region polyline to its orthophoto.
bool BuildSeamlines(CadDrawing** temporary) {
    int abortFlag = 0;
    const CCentralImagineryParams central(0, 4.0, 128.0, 0);
    if (BuildOrthoSeamlines(g_doc, g_images, temporary, bench::kPixel, central, nullptr, &abortFlag) != 0) {
        return false;
    }
    for (CadEntity* e = CadGetFirstEntity(*temporary); e; e = CadGetNextEntity(*temporary, e)) {
        static_cast<COrtho*>(CadEntityGetUserPtr(e))->SeamlinePolylines.push_back(e);
    }
    return true;
}

std::unique_ptr<CMosaicTile> WholeTile(const QString& name) {
    auto tile = std::make_unique<CMosaicTile>(g_doc);
    tile->m_strOutputPath = g_folder + "/" + name + ".tif";
    tile->m_strName = name;
    tile->m_minX = g_box.minX;
    tile->m_maxX = g_box.maxX;
    tile->m_minY = g_box.minY;
    tile->m_maxY = g_box.maxY;
    const double gt[6] = {g_box.minX, g_box.pixelWidth, 0, g_box.maxY, 0, g_box.pixelHeight};
    std::copy(gt, gt + 6, tile->m_geoTransform);
    tile->m_width = g_width;
    tile->m_height = g_height;
    const Wml::Point2 corners[4] = {{g_box.minX, g_box.minY},
                                    {g_box.maxX, g_box.minY},
                                    {g_box.maxX, g_box.maxY},
                                    {g_box.minX, g_box.maxY}};
    tile->m_Outline = CPgon(corners, 4);
    tile->m_Orthos = g_images;
    tile->m_nTransitionMode = 4;
    return tile;
}

void WriteTiles(benchmark::State& state, int balance, const char* name) {
    for (auto _ : state) {
        auto tile = WholeTile(name);
        if (tile->WriteTile(balance, nullptr, nullptr) != CMosaicTile::kWritten) {
            state.SkipWithError("the tile failed");
        }
        state.PauseTiming();
        g_doc->RemoveOrtho(QString::fromLatin1(name) + ".tif");
        kv::RemoveRasterFile(tile->m_strOutputPath);
        state.ResumeTiming();
    }
}

void BM_MosaicTile(benchmark::State& state) {
    WriteTiles(state, 0, "mosaic");
}

void BM_BalancingMap(benchmark::State& state) {
    for (auto _ : state) {
        std::vector<COrtho*> images = g_images;
        if (!BuildRadiometricBalancingMap(g_doc, images, QString(), g_width, g_height, GDT_Byte, g_box,
                                          nullptr, nullptr)) {
            state.SkipWithError("the map failed");
        }
    }
}

void BM_MosaicTileBalanced(benchmark::State& state) {
    WriteTiles(state, 1, "balanced");
}

template <class Blender>
void RunBlender(benchmark::State& state, Blender& blender) {
    for (auto _ : state) {
        blender.prepare(cv::Rect(0, 0, g_width, g_height));
        for (size_t i = 0; i < g_crops.size(); ++i) {
            blender.feed(g_crops[i], cv::Mat(g_crops[i].size(), CV_8U, cv::Scalar(255)), bench::kCorners[i]);
        }
        cv::Mat result, mask;
        blender.blend(result, mask);
        benchmark::DoNotOptimize(result.data);
    }
}

void BM_FeatherBlender(benchmark::State& state) {
    cv::detail::FeatherBlender blender(0.02f);
    RunBlender(state, blender);
}

void BM_MultiBandBlender(benchmark::State& state) {
    cv::detail::MultiBandBlender blender(false, 5);
    RunBlender(state, blender);
}

BENCHMARK(BM_MosaicTile)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_BalancingMap)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_MosaicTileBalanced)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_FeatherBlender)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_MultiBandBlender)->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace

int main(int argc, char** argv) {
    const auto app = bench::StartProgram(argc, argv);
    QTemporaryDir temporary;
    g_folder = bench::OutputFolder(argc, argv, temporary.path());
    CKelvaroDoc doc;
    g_doc = &doc;
    QStringList paths;
    if (!temporary.isValid() || !bench::MakeFourCrops(KV_BENCH_SCENE, g_folder, &doc, &paths)) {
        std::fprintf(stderr, "could not make the four orthophotos\n");
        return 1;
    }
    doc.SetPathName(g_folder + "/bench.kvp");
    for (const auto& entry : doc.m_Orthos) {
        g_images.push_back(entry.second);
    }
    CadDrawing* seamlines = nullptr;
    if (!BuildSeamlines(&seamlines)) {
        std::fprintf(stderr, "could not build the seamlines\n");
        return 1;
    }
    g_box.minX = g_box.minY = 1e300;
    g_box.maxX = g_box.maxY = -1e300;
    for (COrtho* o : g_images) {
        const double* gt = o->m_geoTransform;
        g_box.minX = std::min(g_box.minX, gt[0]);
        g_box.maxX = std::max(g_box.maxX, gt[0] + o->m_width * gt[1]);
        g_box.minY = std::min(g_box.minY, gt[3] + o->m_height * gt[5]);
        g_box.maxY = std::max(g_box.maxY, gt[3]);
        g_box.pixelWidth = gt[1];
        g_box.pixelHeight = gt[5];
    }
    g_width = PixelSpan(g_box.maxX - g_box.minX, g_box.pixelWidth);
    g_height = PixelSpan(g_box.maxY - g_box.minY, g_box.pixelHeight);
    for (const QString& path : paths) {
        cv::Mat image;
        if (!LoadOrthophotoImage(path, image, nullptr)) {
            return 1;
        }
        cv::Mat wide;
        image.convertTo(wide, CV_16SC3);
        g_crops.push_back(wide);
    }
    std::vector<COrtho*> images = g_images;
    BuildRadiometricBalancingMap(&doc, images, QString(), g_width, g_height, GDT_Byte, g_box, nullptr,
                                 nullptr);
    std::printf("four crops of %d x %d at %.2f m into one tile of %d x %d; s = %.0f, f = %.0f\n",
                bench::kCrop, bench::kCrop, bench::kPixel, g_width, g_height, doc.SeamlineScaleFactor,
                doc.BalancingScaleFactor);

    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    g_images.clear();
    CadDelete(seamlines);
    return 0;
}
