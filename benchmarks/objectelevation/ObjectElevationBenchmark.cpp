// The object-elevation DEM update side by side with gdal_rasterize:
//   ours  - SetContourElevation of a 200-vertex contour (an irregular star about 2400 cells
//           across) on a 4000 x 4000 DEM in memory (the Olinda DEM upsampled bilinearly): cell
//           test, undo record written to its file, cells set;
//   peer  - gdal_rasterize -burn of the same contour into a copy of the DEM as a tiled GeoTIFF,
//           run as a process of its own; the copy is made outside the timing. GDAL burns the
//           cells whose centre is inside, so the contour it gets is moved by half a cell, which
//           makes its rule pick the cells whose top-left corner lies inside the contour;
//   algorithm - GDALRasterizeGeometries of the moved contour into an in-memory copy, for the cost
//           of the burning alone.
// Before timing, both sides are run once and the cells they set compared; a difference stops
// the program. The files live in /tmp/kv_bench_objectelevation.
#include <QDir>
#include <QFile>

#include <benchmark/benchmark.h>
#include <gdal.h>
#include <gdal_alg.h>
#include <ogr_api.h>
#include <opencv2/imgproc.hpp>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "../demtools/UpsampledDem.h"
#include "analysis/ContourElevation.h"
#include "platform/tools/ZQT.h"
#include "raster/DEM.h"

namespace {

constexpr int kSide = 4000;
constexpr int kVertices = 200;
constexpr double kElevation = 57.25;
const QString kFolder = QStringLiteral("/tmp/kv_bench_objectelevation");

cv::Mat g_grid;
double g_gt[6];
std::vector<Wml::Point2> g_contour;
std::unique_ptr<CDEM> g_dem;
QString g_source, g_copy, g_shape;

// An irregular star around the DEM's middle: radius 700 to 1200 cells, vertices off the cell
// lattice.
void MakeContour() {
    const double cx = g_gt[0] + kSide / 2.0 * g_gt[1], cy = g_gt[3] + kSide / 2.0 * g_gt[5];
    for (int i = 0; i < kVertices; ++i) {
        const double a = 2.0 * M_PI * (i + 0.3) / kVertices;
        const double r =
            (950.0 + 250.0 * std::sin(7.0 * a) * std::cos(3.0 * a) + 0.37 + 0.11 * (i % 5)) * g_gt[1];
        g_contour.emplace_back(cx + r * std::cos(a), cy + r * std::sin(a));
    }
}

bool WriteSource() {
    const char* options[] = {"TILED=YES", "BLOCKXSIZE=256", "BLOCKYSIZE=256", nullptr};
    GDALDatasetH ds = GDALCreate(GDALGetDriverByName("GTiff"), QFile::encodeName(g_source).constData(), kSide,
                                 kSide, 1, GDT_Float32, const_cast<char**>(options));
    if (!ds) {
        return false;
    }
    GDALSetGeoTransform(ds, g_gt);
    GDALRasterBandH band = GDALGetRasterBand(ds, 1);
    GDALSetRasterNoDataValue(band, -9999.0);
    const bool ok = GDALRasterIO(band, GF_Write, 0, 0, kSide, kSide, g_grid.data, kSide, kSide, GDT_Float32,
                                 0, 0) == CE_None;
    GDALClose(ds);
    return ok;
}

// The contour moved by half a cell, as GeoJSON for gdal_rasterize and as an OGR geometry.
std::string MovedWkt() {
    std::string wkt = "POLYGON((";
    char buffer[80];
    for (int i = 0; i <= kVertices; ++i) {
        const Wml::Point2& p = g_contour[size_t(i % kVertices)];
        std::snprintf(buffer, sizeof buffer, "%s%.6f %.6f", i ? "," : "", p.X() + g_gt[1] / 2,
                      p.Y() + g_gt[5] / 2);
        wkt += buffer;
    }
    return wkt + "))";
}

bool WriteShape() {
    std::FILE* f = std::fopen(QFile::encodeName(g_shape).constData(), "wb");
    if (!f) {
        return false;
    }
    std::fprintf(f, "id,WKT\n1,\"%s\"\n", MovedWkt().c_str());
    return std::fclose(f) == 0;
}

bool CopySource() {
    QFile::remove(g_copy);
    return QFile::copy(g_source, g_copy);
}

std::string RasterizeCommand() {
    return "gdal_rasterize -q -burn " + std::to_string(kElevation) + " -l contour " +
           QFile::encodeName(g_shape).toStdString() + " " + QFile::encodeName(g_copy).toStdString();
}

cv::Mat ReadCopy() {
    cv::Mat grid(kSide, kSide, CV_32FC1);
    GDALDatasetH ds = GDALOpen(QFile::encodeName(g_copy).constData(), GA_ReadOnly);
    if (!ds || GDALRasterIO(GDALGetRasterBand(ds, 1), GF_Read, 0, 0, kSide, kSide, grid.data, kSide, kSide,
                            GDT_Float32, 0, 0) != CE_None) {
        grid.release();
    }
    if (ds) {
        GDALClose(ds);
    }
    return grid;
}

bool Prepare() {
    ZQT_SetSpecialFolderRoot(kFolder + "/work");
    QDir().mkpath(kFolder);
    g_source = kFolder + "/dem.tif";
    g_copy = kFolder + "/copy.tif";
    g_shape = kFolder + "/contour.csv";
    if (!ReadUpsampled(KV_BENCH_DEM, kSide, &g_grid, g_gt) || !WriteSource()) {
        return false;
    }
    MakeContour();
    if (!WriteShape()) {
        return false;
    }
    g_dem = std::make_unique<CDEM>(nullptr);
    std::memcpy(g_dem->m_geoTransform, g_gt, sizeof g_gt);
    g_dem->m_grid = g_grid.clone();
    int cells = 0;
    if (SetContourElevation(nullptr, g_dem.get(), g_contour, kElevation, nullptr, &cells) !=
        ContourEditResult::Done) {
        std::fprintf(stderr, "the update failed\n");
        return false;
    }
    if (!CopySource() || std::system(RasterizeCommand().c_str()) != 0) {
        std::fprintf(stderr, "gdal_rasterize failed\n");
        return false;
    }
    const cv::Mat burnt = ReadCopy();
    const cv::Mat oursSet = g_dem->m_grid != g_grid;
    const cv::Mat peerSet = burnt != g_grid;
    const int differ = burnt.empty() ? -1 : cv::countNonZero(oursSet != peerSet);
    std::printf("cells set: ours %d, gdal_rasterize %d, cells that differ: %d\n", cells,
                cv::countNonZero(peerSet), differ);
    if (differ > 0) {
        std::vector<cv::Point> where;
        cv::findNonZero(oursSet != peerSet, where);
        for (const cv::Point& p : where)
            std::printf("  cell %d %d ours %d\n", p.x, p.y, oursSet.at<uchar>(p) ? 1 : 0);
    }
    return differ == 0;
}

void BM_SetContourElevation(benchmark::State& state) {
    for (auto _ : state) {
        if (SetContourElevation(nullptr, g_dem.get(), g_contour, kElevation, nullptr) !=
            ContourEditResult::Done) {
            state.SkipWithError("update failed");
            break;
        }
    }
}

void BM_GdalRasterizeProcess(benchmark::State& state) {
    const std::string command = RasterizeCommand();
    for (auto _ : state) {
        state.PauseTiming();
        const bool copied = CopySource();
        state.ResumeTiming();
        if (!copied || std::system(command.c_str()) != 0) {
            state.SkipWithError("gdal_rasterize failed");
            break;
        }
    }
}

void BM_GdalRasterizeGeometriesInMemory(benchmark::State& state) {
    OGRGeometryH geometry = nullptr;
    std::string wkt = MovedWkt();
    char* text = wkt.data();
    if (OGR_G_CreateFromWkt(&text, nullptr, &geometry) != OGRERR_NONE) {
        state.SkipWithError("no geometry");
        return;
    }
    GDALDatasetH mem = GDALCreate(GDALGetDriverByName("MEM"), "", kSide, kSide, 1, GDT_Float32, nullptr);
    GDALSetGeoTransform(mem, g_gt);
    int band = 1;
    double burn = kElevation;
    for (auto _ : state) {
        if (GDALRasterizeGeometries(mem, 1, &band, 1, &geometry, nullptr, nullptr, &burn, nullptr, nullptr,
                                    nullptr) != CE_None) {
            state.SkipWithError("rasterize failed");
            break;
        }
    }
    GDALClose(mem);
    OGR_G_DestroyGeometry(geometry);
}

}  // namespace

BENCHMARK(BM_SetContourElevation)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_GdalRasterizeProcess)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_GdalRasterizeGeometriesInMemory)->Unit(benchmark::kMillisecond)->UseRealTime();

int main(int argc, char** argv) {
    GDALAllRegister();
    if (!Prepare()) {
        return 1;
    }
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
