// Ground filtering side by side with SAGA, each run as a process of its own:
//   ours  - the worker of the GROUNDFILTERING command with the Suburban preset at the surface
//           model's own cell size (factor 4 / 5, curvature threshold 0.3), written as GeoTIFF;
//   saga  - saga_cmd grid_filter 7 (DTM Filter, slope-based, its defaults) and grid_tools 7 (Close
//           Gaps) on its result; once with SAGA's own choice of threads and once with one.
// The surface model is the real lidar of the test data gridded at 5 feet (highest point per
// cell); after the runs both results are compared with the terrain the file's own ground points
// (class 2) give on the same cells: median and 95th percentile of the absolute differences over
// all cells and over the cells of objects (where the surface model stands more than a foot above
// the ground). The data are made in /tmp/kv_bench_groundfilter.
#include <QCoreApplication>
#include <QDir>
#include <QFile>

#include <benchmark/benchmark.h>
#include <gdal.h>

#include <cstdio>
#include <string>
#include <vector>

#include "../demtools/BenchProcess.h"
#include "analysis/GroundFiltering.h"
#include "demtools/DemFromPoints.h"
#include "raster/DEM.h"
#include "support/TerrainTruth.h"

namespace {

const QString kFolder = QStringLiteral("/tmp/kv_bench_groundfilter");
constexpr double kCell = 5.0;
std::string g_self;

std::string Path(const char* name) {
    return (kFolder + QLatin1Char('/') + QString::fromLatin1(name)).toStdString();
}

void BM_Ours(benchmark::State& state) {
    ReportProcesses(state, {{g_self, "--filter", Path("dsm.tif"), Path("ours.gtif")}});
}

void BM_Saga(benchmark::State& state, const std::vector<std::string>& cores) {
    std::vector<std::string> filter = {"saga_cmd"};
    filter.insert(filter.end(), cores.begin(), cores.end());
    std::vector<std::string> close = filter;
    for (const char* a : {"grid_filter", "7", "-INPUT"}) {
        filter.push_back(a);
    }
    filter.insert(filter.end(), {Path("dsm.tif"), "-GROUND", Path("saga_bare.sdat")});
    for (const char* a : {"grid_tools", "7", "-INPUT"}) {
        close.push_back(a);
    }
    close.insert(close.end(), {Path("saga_bare.sdat"), "-RESULT", Path("saga.sdat")});
    ReportProcesses(state, {filter, close});
}

int RunOurs(const QString& input, const QString& output) {
    GDALAllRegister();
    CDEM dem(nullptr);
    dem.m_path = input;
    GDALDatasetH ds = GDALOpen(QFile::encodeName(input).constData(), GA_ReadOnly);
    if (!ds) {
        return 1;
    }
    GDALGetGeoTransform(ds, dem.m_geoTransform);
    GDALClose(ds);
    GroundFilterSettings settings;
    settings.gsd = dem.m_geoTransform[1];
    settings.factor = 4.0 / settings.gsd;
    settings.curvatureThreshold = 0.3;
    QString error;
    if (FilterGroundToFile(dem, output, settings, {}, nullptr, nullptr, nullptr, &error) !=
        GroundFilterDone) {
        std::fprintf(stderr, "%s\n", error.toLocal8Bit().constData());
        return 1;
    }
    return 0;
}

// The figures of one result against the ground of the file.
void Judge(const char* name, const std::string& path, const cv::Mat& ground, const cv::Mat& objects) {
    double noData = -9999.0;
    const cv::Mat grid = kvtest::ReadGrid(QString::fromStdString(path), &noData);
    if (grid.size() != ground.size()) {
        std::printf("%-22s no result\n", name);
        return;
    }
    const kvtest::Deviation all = kvtest::DeviationFrom(grid, ground, cv::Mat(), float(noData));
    const kvtest::Deviation over = kvtest::DeviationFrom(grid, ground, objects, float(noData));
    std::printf(
        "%-22s all cells: median %6.3f p95 %7.3f (%zu cells); objects: median %6.3f p95 %7.3f (%zu cells)\n",
        name, all.median, all.p95, all.cells, over.median, over.p95, over.cells);
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    if (argc == 4 && std::string(argv[1]) == "--filter") {
        return RunOurs(QString::fromLocal8Bit(argv[2]), QString::fromLocal8Bit(argv[3]));
    }
    GDALAllRegister();
    g_self = QCoreApplication::applicationFilePath().toStdString();
    QDir().mkpath(kFolder);
    QString error;
    if (!QFile::exists(kFolder + "/dsm.tif") &&
        CreateDemFromPointFiles({QStringLiteral(KV_BENCH_LAS)}, kCell, kFolder + "/dsm.tif", nullptr,
                                &error) != PointCloudGridder::Done) {
        std::fprintf(stderr, "cannot grid the lidar: %s\n", error.toLocal8Bit().constData());
        return 1;
    }
    for (auto* b : {benchmark::RegisterBenchmark("GroundFilter/ours", BM_Ours),
                    benchmark::RegisterBenchmark("GroundFilter/saga_cmd_filter_close", BM_Saga,
                                                 std::vector<std::string>()),
                    benchmark::RegisterBenchmark("GroundFilter/saga_cmd_filter_close_1core", BM_Saga,
                                                 std::vector<std::string>{"--cores=1"})}) {
        b->UseManualTime()->Iterations(1)->Repetitions(5)->Unit(benchmark::kMillisecond);
    }
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();

    double noData = -9999.0;
    const cv::Mat surface = kvtest::ReadGrid(QString::fromStdString(Path("dsm.tif")), &noData);
    double gt[6];
    GDALDatasetH ds = GDALOpen(Path("dsm.tif").c_str(), GA_ReadOnly);
    GDALGetGeoTransform(ds, gt);
    GDALClose(ds);
    const cv::Mat ground =
        kvtest::GridPointsMax(QStringLiteral(KV_BENCH_LAS), gt, surface.cols, surface.rows, 2);
    const cv::Mat objects = (surface - ground > 1.0f) & (ground != -9999.0f);
    Judge("surface model", Path("dsm.tif"), ground, objects);
    Judge("ours", Path("ours.gtif"), ground, objects);
    Judge("saga filter + close", Path("saga.sdat"), ground, objects);
    return 0;
}
