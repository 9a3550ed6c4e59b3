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
    std::FILE* csv = std::fopen(g_csv.c_str(), "wb");
    if (!csv) {
        return false;
    }
    std::fputs("x,y,z\n", csv);
    for (const Wml::Point3& p : g_points) {
        std::fprintf(csv, "%.2f,%.2f,%.2f\n", p.X(), p.Y(), p.Z());
    }
    std::fclose(csv);
    if (!WritePointsVrt(g_vrt, g_csv)) {
        return false;
    }
    QFile(kFolder + "/complete").open(QIODevice::WriteOnly);
    return true;
}

// The points of the CSV file, read as plainly as a drawing holds them.
std::vector<Wml::Point3> ReadCsv(const char* path) {
    std::vector<Wml::Point3> points;
    std::FILE* f = std::fopen(path, "rb");
    if (!f) {
        return points;
    }
    char line[256];
    std::fgets(line, sizeof line, f);
    while (std::fgets(line, sizeof line, f)) {
        char* end = line;
        const double x = std::strtod(end, &end);
        const double y = std::strtod(end + 1, &end);
        const double z = std::strtod(end + 1, &end);
        points.emplace_back(x, y, z);
    }
    std::fclose(f);
    return points;
}

// The box of the points: (xmin, xmax, ymin, ymax).
void BoxOf(const std::vector<Wml::Point3>& points, double box[4]) {
    box[0] = box[2] = HUGE_VAL;
    box[1] = box[3] = -HUGE_VAL;
    for (const Wml::Point3& p : points) {
        box[0] = std::min(box[0], p.X());
        box[1] = std::max(box[1], p.X());
        box[2] = std::min(box[2], p.Y());
        box[3] = std::max(box[3], p.Y());
    }
}

// Our side: what DEM from TIN does with the points once they are taken from the drawing.
int RunOurs(const char* csv, double cell, const char* output) {
    GDALAllRegister();
    std::vector<Wml::Point3> points = ReadCsv(csv);
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

// Reads band 1 and the geotransform of a raster.
bool ReadBand(const QString& path, cv::Mat* cells, double gt[6]) {
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

// The two rasters of the pair, cell by cell: off the outer ring, the cells both fill must agree
// within 1e-3; cells only one of them fills are counted.
void BM_CompareRasters(benchmark::State& state) {
    cv::Mat ours, theirs;
    double a[6], b[6];
    for (auto _ : state) {
        if (!ReadBand(kFolder + "/ours.tif", &ours, a) || !ReadBand(kFolder + "/gdal_grid.tif", &theirs, b)) {
            state.SkipWithError("run both sides first");
            return;
        }
    }
    if (ours.size() != theirs.size() || std::abs(a[0] - b[0]) > 1e-6 || std::abs(a[3] - b[3]) > 1e-6) {
        state.SkipWithError("the grids differ");
        return;
    }
    long both = 0, apart = 0, onlyOne = 0;
    double worst = 0.0;
    for (int r = 1; r < ours.rows - 1; ++r) {
        for (int c = 1; c < ours.cols - 1; ++c) {
            const float p = ours.at<float>(r, c), q = theirs.at<float>(r, c);
            if ((p == kNoData) != (q == kNoData)) {
                ++onlyOne;
            } else if (p != kNoData) {
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
    for (auto* b : {benchmark::RegisterBenchmark("DemFromTin/ours", BM_OursDemFromTin),
                    benchmark::RegisterBenchmark("DemFromTin/gdal_grid_linear", BM_GdalGridLinear)}) {
        b->UseManualTime()->Iterations(1)->Repetitions(3)->Unit(benchmark::kMillisecond);
    }
    benchmark::RegisterBenchmark("DemFromTin/compare", BM_CompareRasters)->Iterations(1);
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
