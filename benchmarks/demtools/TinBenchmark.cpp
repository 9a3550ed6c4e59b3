// The TIN tools, measured on points of the Olinda DEM (upsampled bilinearly to 4000 x 4000 cells of
// 2.5 m; points at random places, their heights interpolated):
//   DEM from TIN - 1,000,000 points triangulated and sampled at cell centres on a 2000 x 2000
//                  grid of 5 m cells, written as a GeoTIFF: our
//                  side reads the points from CSV and runs the triangulation, the rasteriser and
//                  the GeoTIFF writer; gdal_grid -a linear reads the same CSV and fills the same
//                  grid. Both run as processes of their own; their rasters are compared afterwards
//                  (cells inside the points' hull and off the outer ring, tolerance 1e-3);
//   triangulation - TriangulateTin against vtkDelaunay2D at 100,000 points (in process, once);
//   remesh       - EditDemFromTin of a 4000 x 4000 window under a TIN of 1,000,000 points, per
//                  million cells (in process).
// The data are made once in /tmp/kv_bench_tin. The program runs itself with --tin for our side.
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <benchmark/benchmark.h>
#include <gdal.h>
#include <vtkDelaunay2D.h>
#include <vtkNew.h>
#include <vtkPoints.h>
#include <vtkPolyData.h>
#include <opencv2/imgproc.hpp>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "BenchProcess.h"
#include "RasterPair.h"
#include "UpsampledDem.h"
#include "demtools/Tin.h"
#include "demtools/TinRaster.h"
#include "raster/DEM.h"
#include "raster/RasterIO.h"

namespace {

constexpr int kDemSide = 4000;
constexpr long kPoints = 1'000'000;
constexpr int kSmallPoints = 100'000;
constexpr double kCell = 5.0;
const QString kFolder = QStringLiteral("/tmp/kv_bench_tin");

cv::Mat g_dem;
double g_gt[6];
std::vector<Wml::Point3> g_points;
std::string g_self, g_csv, g_vrt;

bool MakeData() {
    if (!ReadUpsampled(KV_BENCH_DEM, kDemSide, &g_dem, g_gt)) {
        return false;
    }
    // In a frame whose origin is the DEM's lower-left corner: gdal_grid triangulates the points as
    // they come, and at northings of 9,000 km its triangulation loses precision (about 0.5 % of
    // the cells then differ by up to 0.6 m from the exact one, which ours gives in either frame).
    g_gt[0] = 0.0;
    g_gt[3] = -g_gt[5] * kDemSide;
    const double xmin = g_gt[0], xmax = g_gt[0] + g_gt[1] * kDemSide;
    const double ymax = g_gt[3], ymin = g_gt[3] + g_gt[5] * kDemSide;
    std::mt19937_64 rng(17);
    std::uniform_real_distribution<double> u(0.0, 1.0);
    g_points.reserve(kPoints);
    for (long i = 0; i < kPoints; ++i) {
        // Whole centimetres, as the CSV holds them.
        const double x = std::round((xmin + u(rng) * (xmax - xmin)) * 100.0) / 100.0;
        const double y = std::round((ymin + u(rng) * (ymax - ymin)) * 100.0) / 100.0;
        const double z =
            std::round(Bilinear(g_dem, (x - g_gt[0]) / g_gt[1] - 0.5, (y - g_gt[3]) / g_gt[5] - 0.5) *
                       100.0) /
            100.0;
        g_points.emplace_back(x, y, z);
    }
    QDir().mkpath(kFolder);
    g_csv = (kFolder + "/points.csv").toStdString();
    g_vrt = (kFolder + "/points.vrt").toStdString();
    if (QFileInfo::exists(kFolder + "/complete")) {
        return true;
    }
    if (!WritePointsCsv(g_csv, g_points, "%.2f") || !WritePointsVrt(g_vrt, g_csv)) {
        return false;
    }
    QFile(kFolder + "/complete").open(QIODevice::WriteOnly);
    return true;
}

// Our side: what DEM from TIN does with the points once they are taken from the drawing.
int RunOurs(const char* csv, double cell, const char* output) {
    GDALAllRegister();
    std::vector<Wml::Point3> points = ReadPointsCsv(csv);
    double box[4];
    BoxOf(points, box);
    const double cx = (box[0] + box[1]) / 2.0, cy = (box[2] + box[3]) / 2.0;
    for (Wml::Point3& p : points) {
        p = Wml::Point3(p.X() - cx, p.Y() - cy, p.Z());
    }
    vtkSmartPointer<vtkPolyData> tin = TriangulateTin(points, {});
    if (!tin) {
        return 1;
    }
    double bounds[6];
    tin->GetBounds(bounds);
    const cv::Mat raster = RasterizeTin(tin, bounds, cell, nullptr);
    tin = nullptr;
    const double gt[6] = {cx + bounds[0], cell, 0.0, cy + bounds[3], 0.0, -cell};
    return !raster.empty() &&
                   SaveImageAsGeoTiff(raster, gt, QString(), kNoData, QString::fromLocal8Bit(output), nullptr)
               ? 0
               : 1;
}

void BM_OursDemFromTin(benchmark::State& state) {
    ReportProcesses(state,
                    {{g_self, "--tin", g_csv, NumberArg(kCell), (kFolder + "/ours.tif").toStdString()}});
}

void BM_GdalGridLinear(benchmark::State& state) {
    // Our grid: from the points' box, whole cells only.
    double box[4];
    BoxOf(g_points, box);
    const int w = int((box[1] - box[0]) / kCell), h = int((box[3] - box[2]) / kCell);
    ReportProcesses(state, {GdalGridCommand("linear:radius=0:nodata=-9999", box[0], box[0] + w * kCell,
                                            box[3], box[3] - h * kCell, w, h, g_vrt,
                                            (kFolder + "/gdal_grid.tif").toStdString())});
}

// The two rasters of the pair, cell by cell: off the outer ring, the cells both fill must agree
// within 1e-3; cells only one of them fills are counted.
void BM_CompareRasters(benchmark::State& state) {
    CompareRasterPair(state, kFolder + "/ours.tif", kFolder + "/gdal_grid.tif");
}

std::vector<Wml::Point3> FirstPoints(int count) {
    return std::vector<Wml::Point3>(g_points.begin(), g_points.begin() + count);
}

void BM_OursTriangulation100k(benchmark::State& state) {
    const std::vector<Wml::Point3> points = FirstPoints(kSmallPoints);
    for (auto _ : state) {
        benchmark::DoNotOptimize(TriangulateTin(points, {}));
    }
}

void BM_VtkDelaunay2D100k(benchmark::State& state) {
    vtkNew<vtkPoints> points;
    points->SetDataTypeToDouble();
    for (const Wml::Point3& p : FirstPoints(kSmallPoints)) {
        points->InsertNextPoint(p.X(), p.Y(), p.Z());
    }
    vtkNew<vtkPolyData> input;
    input->SetPoints(points);
    for (auto _ : state) {
        vtkNew<vtkDelaunay2D> delaunay;
        delaunay->SetInputData(input);
        delaunay->SetTolerance(0.0);
        delaunay->Update();
        benchmark::DoNotOptimize(delaunay->GetOutput()->GetNumberOfPolys());
    }
}

void BM_OursRemesh4000(benchmark::State& state) {
    CDEM dem(nullptr);
    std::copy(g_gt, g_gt + 6, dem.m_geoTransform);
    const double centre[3] = {g_gt[0] + g_gt[1] * kDemSide / 2, g_gt[3] + g_gt[5] * kDemSide / 2, 0.0};
    std::vector<Wml::Point3> points = g_points;
    for (Wml::Point3& p : points) {
        p = Wml::Point3(p.X() - centre[0], p.Y() - centre[1], p.Z());
    }
    vtkSmartPointer<vtkPolyData> tin = TriangulateTin(points, {});
    long cells = 0;
    for (auto _ : state) {
        state.PauseTiming();
        dem.m_grid = g_dem.clone();
        state.ResumeTiming();
        cv::Rect window;
        EditDemFromTin(dem, tin, centre, nullptr, [&](CDEM&, const DemEditWindow& edit) {
            window = edit.window;
            return 1;
        });
        cells += window.area();
    }
    state.counters["window_cells"] = double(cells) / double(state.iterations());
    state.counters["s_per_million_cells"] =
        benchmark::Counter(double(cells) / 1e6, benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    if (argc == 5 && std::strcmp(argv[1], "--tin") == 0) {
        return RunOurs(argv[2], std::atof(argv[3]), argv[4]);
    }
    GDALAllRegister();
    vtkObject::GlobalWarningDisplayOff();
    g_self = QCoreApplication::applicationFilePath().toStdString();
    if (!MakeData()) {
        std::fprintf(stderr, "cannot make the benchmark data in %s\n", kFolder.toLocal8Bit().constData());
        return 1;
    }
    RegisterRasterPair("DemFromTin", BM_OursDemFromTin, "gdal_grid_linear", BM_GdalGridLinear,
                       BM_CompareRasters);
    benchmark::RegisterBenchmark("Triangulation100k/ours", BM_OursTriangulation100k)
        ->Iterations(3)
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("Triangulation100k/vtkDelaunay2D", BM_VtkDelaunay2D100k)
        ->Iterations(1)
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("Remesh4000/ours", BM_OursRemesh4000)
        ->Iterations(3)
        ->Unit(benchmark::kMillisecond);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
