// The terrain products of the landmark transform and the mesh export, measured on the Olinda DEM
// upsampled bilinearly to 1000 x 1000 cells (a million points):
//   re-gridding - the cell centres moved by a similarity (5 degrees, scale 1.01, a shift) in the
//                 terrain's local frame, written to CSV without loss; our side reads them, triangulates
//                 them and samples the TIN on the grid the landmark transform lays over them (cell centres on
//                 the moved points' west and north extremes, the DEM's cell size), then writes the GeoTIFF;
//                 gdal_grid -a linear reads the same CSV and fills the same grid. Both run as processes of
//                 their own; their rasters are compared afterwards (cells off the outer ring, tolerance
//                 1e-3);
//   mesh export - what WRITEOBJ does with the same DEM as a file: the textured mesh built row by
//                 row and triangulated, the VTK PolyData and offset files written, read back and
//                 written as OBJ with its material (in process).
// The data are made once in /tmp/kv_bench_landmark. The program runs itself with --regrid for
// our side of the pair.
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <benchmark/benchmark.h>
#include <gdal.h>
#include <vtkNew.h>
#include <vtkObject.h>
#include <vtkPolyData.h>
#include <vtkTransform.h>

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "BenchProcess.h"
#include "RasterPair.h"
#include "UpsampledDem.h"
#include "demtools/Tin.h"
#include "products/LandmarkTransform.h"
#include "products/TerrainMeshExport.h"
#include "products/TerrainMeshFiles.h"
#include "raster/DEM.h"
#include "raster/RasterIO.h"

namespace {

constexpr int kDemSide = 1000;
const QString kFolder = QStringLiteral("/tmp/kv_bench_landmark");

cv::Mat g_dem;
double g_gt[6];
double g_extent[4];
std::string g_self, g_csv, g_vrt, g_dtm;

// The similarity of the run, in the local frame.
vtkSmartPointer<vtkTransform> Similarity() {
    auto transform = vtkSmartPointer<vtkTransform>::New();
    transform->PostMultiply();
    transform->RotateZ(5.0);
    transform->Scale(1.01, 1.01, 1.01);
    transform->Translate(120.0, -80.0, 3.0);
    return transform;
}

// The extent of the points as the CSV file holds them.
bool ReadExtent() {
    const std::vector<Wml::Point3> points = ReadPointsCsv(g_csv.c_str());
    BoxOf(points, g_extent);
    return !points.empty();
}

bool MakeData() {
    if (!ReadUpsampled(KV_BENCH_DEM, kDemSide, &g_dem, g_gt)) {
        return false;
    }
    QDir().mkpath(kFolder);
    g_csv = (kFolder + "/points.csv").toStdString();
    g_vrt = (kFolder + "/points.vrt").toStdString();
    g_dtm = (kFolder + "/dtm.tif").toStdString();
    const double offset[3] = {g_gt[0] + g_gt[1] * kDemSide / 2, g_gt[3] + g_gt[5] * kDemSide / 2, 0.0};
    double extent[4];
    const std::vector<Wml::Point3> points =
        products::TerrainCellPoints(g_dem, g_gt, offset, Similarity(), extent);
    if (QFileInfo::exists(kFolder + "/complete")) {
        return ReadExtent();
    }
    if (!SaveImageAsGeoTiff(g_dem, g_gt, QString(), kNoData, QString::fromStdString(g_dtm), nullptr)) {
        return false;
    }
    if (!WritePointsCsv(g_csv, points, "%.17g") || !WritePointsVrt(g_vrt, g_csv)) {
        return false;
    }
    QFile(kFolder + "/complete").open(QIODevice::WriteOnly);
    // The grid of both sides is laid over the points as the file holds them.
    return ReadExtent();
}

// Our side: the landmark transform's re-gridding of the moved points.
int RunOurs(const char* csv, double cell, const char* output) {
    GDALAllRegister();
    double extent[4];
    const std::vector<Wml::Point3> points = ReadPointsCsv(csv);
    BoxOf(points, extent);
    vtkSmartPointer<vtkPolyData> tin = TriangulateTin(points, {});
    if (!tin) {
        return 1;
    }
    double corner[2];
    const cv::Mat grid = products::GridTerrainTin(tin, extent, cell, cell, corner);
    tin = nullptr;
    const double gt[6] = {corner[0], cell, 0.0, corner[1], 0.0, -cell};
    return !grid.empty() &&
                   SaveImageAsGeoTiff(grid, gt, QString(), kNoData, QString::fromLocal8Bit(output), nullptr)
               ? 0
               : 1;
}

void BM_OursRegrid(benchmark::State& state) {
    ReportProcesses(state,
                    {{g_self, "--regrid", g_csv, NumberArg(g_gt[1]), (kFolder + "/ours.tif").toStdString()}});
}

void BM_GdalGridLinear(benchmark::State& state) {
    const double p = g_gt[1];
    const int w = int(std::nearbyint((g_extent[1] - g_extent[0]) / p)) + 1;
    const int h = int(std::nearbyint((g_extent[3] - g_extent[2]) / p)) + 1;
    const double x0 = g_extent[0] - p / 2, y0 = g_extent[3] + p / 2;
    ReportProcesses(state, {GdalGridCommand("linear:radius=0:nodata=-9999", x0, x0 + w * p, y0, y0 - h * p, w,
                                            h, g_vrt, (kFolder + "/gdal_grid.tif").toStdString())});
}

// Whether the height of the cell at (x, y) of the moved grid lies between the moved heights of the
// four DEM cells around the place it came from (within 1e-3), as any triangulation of them gives;
// places off the DEM count as between.
bool BetweenCorners(vtkLinearTransform* back, double x, double y, float height) {
    const double moved[3] = {x, y, 0.0};
    double from[3];
    back->TransformPoint(moved, from);
    const double c = from[0] / g_gt[1] + kDemSide / 2 - 0.5, r = from[1] / g_gt[5] + kDemSide / 2 - 0.5;
    if (!(c >= 0.0 && r >= 0.0 && c < kDemSide - 1 && r < kDemSide - 1)) {
        return true;
    }
    const cv::Mat corners = g_dem(cv::Rect(int(c), int(r), 2, 2));
    double lo = 0.0, hi = 0.0;
    cv::minMaxLoc(corners, &lo, &hi);
    const double z[3] = {0.0, 0.0, 1.0};
    double unit[3];
    back->GetLinearInverse()->TransformVector(z, unit);  // the scale of heights
    const double offsetZ = back->GetLinearInverse()->TransformDoublePoint(0.0, 0.0, 0.0)[2];
    return height >= lo * unit[2] + offsetZ - 1e-3 && height <= hi * unit[2] + offsetZ + 1e-3;
}

// The two rasters cell by cell off the outer ring: the cells both fill must agree within 1e-3;
// cells only one of them fills are counted. Where they differ, both may still be right: the moved
// cell centres keep the DEM's squares, whose four corners lie on one circle, so either diagonal
// is a Delaunay edge. Each side's cells are therefore also checked against the heights of the
// four corners around them.
void BM_CompareRasters(benchmark::State& state) {
    const vtkSmartPointer<vtkTransform> similarity = Similarity();
    vtkLinearTransform* back = similarity->GetLinearInverse();
    long oursOff = 0, theirsOff = 0;
    CompareRasterPair(state, kFolder + "/ours.tif", kFolder + "/gdal_grid.tif",
                      [&](int, int, double x, double y, float ours, float theirs) {
                          oursOff += ours != kNoData && !BetweenCorners(back, x, y, ours);
                          theirsOff += theirs != kNoData && !BetweenCorners(back, x, y, theirs);
                      });
    state.counters["ours_off_corners"] = double(oursOff);
    state.counters["theirs_off_corners"] = double(theirsOff);
}

// WRITEOBJ from file to file, the orthophoto's footprint that of the DEM.
void BM_OursMeshExport(benchmark::State& state) {
    products::TextureFootprint footprint;
    std::copy(g_gt, g_gt + 6, footprint.gt);
    footprint.width = footprint.height = kDemSide;
    const QString vtp = kFolder + "/mesh.vtp", vtw = kFolder + "/mesh.vtw", obj = kFolder + "/mesh.obj";
    const QString texture = QString::fromStdString(g_dtm);
    for (auto _ : state) {
        GDALDatasetH dtm = GDALOpen(g_dtm.c_str(), GA_ReadOnly);
        double offset[3];
        vtkSmartPointer<vtkPolyData> mesh = products::BuildTerrainMesh(dtm, footprint, offset);
        GDALClose(dtm);
        const bool written =
            mesh && products::WritePolyDataFile(mesh, vtp) && products::WriteMeshOffsetFile(vtw, offset);
        mesh = nullptr;
        if (!written || products::WriteObjFromPolyDataFile(vtp, texture, obj) != 1) {
            state.SkipWithError("the mesh was not written");
            return;
        }
    }
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    if (argc == 5 && std::strcmp(argv[1], "--regrid") == 0) {
        return RunOurs(argv[2], std::atof(argv[3]), argv[4]);
    }
    GDALAllRegister();
    vtkObject::GlobalWarningDisplayOff();
    g_self = QCoreApplication::applicationFilePath().toStdString();
    if (!MakeData()) {
        std::fprintf(stderr, "cannot make the benchmark data in %s\n", kFolder.toLocal8Bit().constData());
        return 1;
    }
    RegisterRasterPair("Regrid", BM_OursRegrid, "gdal_grid_linear", BM_GdalGridLinear, BM_CompareRasters);
    benchmark::RegisterBenchmark("MeshExport/ours", BM_OursMeshExport)
        ->Iterations(3)
        ->Unit(benchmark::kMillisecond);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
