// Ground filtering side by side with SAGA, each side a process of its own, run in turn (ours,
// peer, ours, ...) at least five times each:
//   ours - the worker of the GROUNDFILTERING command with the Suburban preset at the DEM's own
//          cell size (factor 4 / cell, curvature threshold 0.3), written as GeoTIFF, with OpenCV
//          held to N threads;
//   peer - saga_cmd -c=N grid_filter 7 (DTM Filter, slope-based, its defaults), then grid_tools 7
//          (Close Gaps) on its result.
// Inputs, made once in /tmp/kv_bench_groundfilter:
//   autzen  - the real lidar of the test data gridded at 5 feet (highest point per cell); both
//             results are judged against the terrain the file's own ground points (class 2) give:
//             median and 95th percentile of the absolute differences over all cells, and the
//             median change of the open-ground cells (the surface model within 0.5 of the ground);
//   olinda4m, elev4m - the real DEMs of the test data (bare earth) resampled bilinearly to 4 m
//             cells (the Luxembourg DEM first reprojected to UTM 32N and cut to its central 6 km):
//             judged by how much they change: median change, share of cells lowered by more than
//             1 m, share within 1 m, largest lowering;
//   hilly1000, hilly4000 - the Olinda DEM upsampled bilinearly to 1000 x 1000 and 4000 x 4000
//             cells, for the time against the cells.
// Printed per input: the minimum and median time of each side, their ratio (ours / peer) pair by
// pair, and the peak memory of each. Arguments: [threads N] [runs R] [only NAME].
#include <QCoreApplication>
#include <QDir>
#include <QFile>

#include <gdal.h>
#include <gdal_utils.h>
#include <opencv2/core.hpp>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "../demtools/ProcessRun.h"
#include "../demtools/UpsampledDem.h"
#include "analysis/GroundFiltering.h"
#include "demtools/DemFromPoints.h"
#include "raster/DEM.h"
#include "support/TerrainTruth.h"

namespace {

const QString kFolder = QStringLiteral("/tmp/kv_bench_groundfilter");

std::string Path(const std::string& name) {
    return kFolder.toStdString() + "/" + name;
}

int RunOurs(const QString& input, const QString& output, int threads) {
    cv::setNumThreads(threads);
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

std::string NumberText(double v) {
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%.6f", v);
    return buffer;
}

// gdalwarp with the arguments, from the source to the target; false when it fails.
bool Warp(const char* source, const std::string& target, std::vector<std::string> args) {
    std::vector<char*> argv;
    for (std::string& a : args) {
        argv.push_back(a.data());
    }
    argv.push_back(nullptr);
    GDALWarpAppOptions* options = GDALWarpAppOptionsNew(argv.data(), nullptr);
    GDALDatasetH in = GDALOpen(source, GA_ReadOnly);
    if (!options || !in) {
        return false;
    }
    int usageError = 0;
    GDALDatasetH out = GDALWarp(target.c_str(), nullptr, 1, &in, options, &usageError);
    GDALWarpAppOptionsFree(options);
    GDALClose(in);
    if (!out) {
        return false;
    }
    GDALClose(out);
    return true;
}

bool MakeInputs() {
    QDir().mkpath(kFolder);
    QString error;
    if (!QFile::exists(kFolder + "/autzen.tif") &&
        CreateDemFromPointFiles({QStringLiteral(KV_BENCH_LAS)}, 5.0, kFolder + "/autzen.tif", nullptr,
                                &error) != PointCloudGridder::Done) {
        std::fprintf(stderr, "cannot grid the lidar: %s\n", error.toLocal8Bit().constData());
        return false;
    }
    if (!QFile::exists(kFolder + "/olinda4m.tif") &&
        !Warp(KV_BENCH_OLINDA, Path("olinda4m.tif"), {"-ot", "Float32", "-tr", "4", "4", "-r", "bilinear"})) {
        return false;
    }
    if (!QFile::exists(kFolder + "/elev4m.tif")) {
        // The centre of the Luxembourg DEM in UTM 32N, and 3 km around it.
        if (!Warp(KV_BENCH_ELEV, Path("elev_utm.tif"),
                  {"-ot", "Float32", "-t_srs", "EPSG:32632", "-r", "bilinear"})) {
            return false;
        }
        GDALDatasetH utm = GDALOpen(Path("elev_utm.tif").c_str(), GA_ReadOnly);
        double gt[6];
        GDALGetGeoTransform(utm, gt);
        const double cx = gt[0] + gt[1] * GDALGetRasterXSize(utm) / 2,
                     cy = gt[3] + gt[5] * GDALGetRasterYSize(utm) / 2;
        GDALClose(utm);
        if (!Warp(KV_BENCH_ELEV, Path("elev4m.tif"),
                  {"-ot", "Float32", "-t_srs", "EPSG:32632", "-tr", "4", "4", "-r", "bilinear", "-te",
                   NumberText(cx - 3000), NumberText(cy - 3000), NumberText(cx + 3000),
                   NumberText(cy + 3000)})) {
            return false;
        }
    }
    for (int side : {1000, 4000}) {
        const std::string name = Path("hilly" + std::to_string(side) + ".tif");
        cv::Mat dem;
        double gt[6];
        if (!QFile::exists(QString::fromStdString(name)) &&
            (!ReadUpsampled(KV_BENCH_OLINDA, side, &dem, gt) || !WriteDemFile(dem, gt, name.c_str()))) {
            return false;
        }
    }
    return true;
}

struct Side {
    std::vector<double> seconds;
    double peakMiB = 0.0;
};

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0.0 : v[v.size() / 2];
}

// Runs the steps of a side one after the other: false when one fails.
bool RunSide(const std::vector<std::vector<std::string>>& steps, Side* side) {
    double seconds = 0.0;
    for (const auto& step : steps) {
        const ProcessRun run = RunProcess(step);
        if (run.status != 0) {
            std::fprintf(stderr, "failed: %s\n", step[0].c_str());
            return false;
        }
        seconds += run.seconds;
        side->peakMiB = std::max(side->peakMiB, run.peakMiB);
    }
    side->seconds.push_back(seconds);
    return true;
}

void Time(const std::string& name, const std::string& self, int threads, int runs) {
    const std::string input = Path(name + ".tif");
    const std::vector<std::vector<std::string>> ours = {
        {self, "--filter", input, Path(name + "_ours.gtif"), std::to_string(threads)}};
    const std::string cores = "-c=" + std::to_string(threads);
    const std::vector<std::vector<std::string>> peer = {
        {"saga_cmd", cores, "grid_filter", "7", "-INPUT", input, "-GROUND", Path(name + "_saga_bare.sdat")},
        {"saga_cmd", cores, "grid_tools", "7", "-INPUT", Path(name + "_saga_bare.sdat"), "-RESULT",
         Path(name + "_saga.sdat")}};
    Side a, b;
    std::vector<double> ratios;
    for (int i = 0; i < runs; ++i) {
        if (!RunSide(ours, &a) || !RunSide(peer, &b)) {
            return;
        }
        ratios.push_back(a.seconds.back() / b.seconds.back());
    }
    const cv::Mat grid = kvtest::ReadGrid(QString::fromStdString(input));
    std::printf(
        "%-10s %9zu cells  ours %7.2f s (min %7.2f)  peer %7.2f s (min %7.2f)  ratio %5.2f (min %5.2f)"
        "  peak MiB ours %7.1f peer %7.1f\n",
        name.c_str(), grid.total(), Median(a.seconds), *std::min_element(a.seconds.begin(), a.seconds.end()),
        Median(b.seconds), *std::min_element(b.seconds.begin(), b.seconds.end()), Median(ratios),
        *std::min_element(ratios.begin(), ratios.end()), a.peakMiB, b.peakMiB);
}

// How far a result lies from the lidar's own ground, and how much it changed the open ground.
void JudgeLidar(const char* side, const std::string& path) {
    double noData = -9999.0, gt[6];
    const cv::Mat surface = kvtest::ReadGrid(QString::fromStdString(Path("autzen.tif")));
    GDALDatasetH ds = GDALOpen(Path("autzen.tif").c_str(), GA_ReadOnly);
    GDALGetGeoTransform(ds, gt);
    GDALClose(ds);
    const cv::Mat ground =
        kvtest::GridPointsMax(QStringLiteral(KV_BENCH_LAS), gt, surface.cols, surface.rows, 2);
    const cv::Mat grid = kvtest::ReadGrid(QString::fromStdString(path), &noData);
    if (grid.size() != ground.size()) {
        std::printf("  %-14s no result\n", side);
        return;
    }
    const kvtest::Deviation all = kvtest::DeviationFrom(grid, ground, cv::Mat(), float(noData));
    const cv::Mat open = (cv::abs(surface - ground) < 0.5f) & (ground != -9999.0f) & (surface != -9999.0f);
    const kvtest::Deviation change = kvtest::DeviationFrom(grid, surface, open, float(noData));
    std::printf(
        "  %-14s median %6.3f  p95 %7.3f  (%zu cells); open ground changed by %6.3f (median, %zu cells)\n",
        side, all.median, all.p95, all.cells, change.median, change.cells);
}

// How much a result changed a bare-earth DEM.
void JudgeBare(const char* side, const std::string& input, const std::string& path) {
    double noData = -9999.0, inputNoData = -9999.0;
    const cv::Mat source = kvtest::ReadGrid(QString::fromStdString(input), &inputNoData);
    const cv::Mat grid = kvtest::ReadGrid(QString::fromStdString(path), &noData);
    if (grid.size() != source.size()) {
        std::printf("  %-14s no result\n", side);
        return;
    }
    std::vector<double> change;
    size_t lowered = 0, within = 0;
    double lowest = 0.0;
    for (int r = 0; r < grid.rows; ++r) {
        for (int c = 0; c < grid.cols; ++c) {
            const float a = grid.at<float>(r, c), s = source.at<float>(r, c);
            if (!std::isfinite(a) || a == float(noData) || s == float(inputNoData)) {
                continue;
            }
            const double d = double(a) - s;
            change.push_back(std::fabs(d));
            lowered += d < -1.0;
            within += std::fabs(d) <= 1.0;
            lowest = std::min(lowest, d);
        }
    }
    const double n = double(std::max<size_t>(change.size(), 1));
    std::printf(
        "  %-14s median change %7.3f  lowered > 1 m %5.1f %%  within 1 m %5.1f %%  largest lowering %7.2f\n",
        side, Median(change), 100.0 * lowered / n, 100.0 * within / n, -lowest);
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    if (argc == 5 && std::string(argv[1]) == "--filter") {
        return RunOurs(QString::fromLocal8Bit(argv[2]), QString::fromLocal8Bit(argv[3]), std::atoi(argv[4]));
    }
    int threads = std::max(1u, std::thread::hardware_concurrency() / 2), runs = 5;
    std::string only;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string key = argv[i];
        if (key == "threads") {
            threads = std::max(1, std::atoi(argv[i + 1]));
        } else if (key == "runs") {
            runs = std::max(1, std::atoi(argv[i + 1]));
        } else if (key == "only") {
            only = argv[i + 1];
        }
    }
    GDALAllRegister();
    if (!MakeInputs()) {
        std::fprintf(stderr, "cannot make the inputs in %s\n", kFolder.toLocal8Bit().constData());
        return 1;
    }
    const std::string self = QCoreApplication::applicationFilePath().toStdString();
    std::printf("ground filtering, ours against saga_cmd, %d threads each, %d runs each\n", threads, runs);
    for (const char* name : {"autzen", "olinda4m", "elev4m", "hilly1000", "hilly4000"}) {
        if (!only.empty() && only != name) {
            continue;
        }
        Time(name, self, threads, runs);
        const std::string base(name);
        if (base == "autzen") {
            JudgeLidar("surface model", Path("autzen.tif"));
            JudgeLidar("ours", Path("autzen_ours.gtif"));
            JudgeLidar("peer", Path("autzen_saga.sdat"));
        } else {
            JudgeBare("ours", Path(base + ".tif"), Path(base + "_ours.gtif"));
            JudgeBare("peer", Path(base + ".tif"), Path(base + "_saga.sdat"));
        }
    }
    return 0;
}
