// The volume above and below a base level inside a rectangle of a 4000 x 4000 DEM (the Olinda DEM
// upsampled bilinearly, 3000 x 3000 cells inside the rectangle), side by side with SAGA's Grid
// Volume (saga_cmd grid_calculus 2) on the DEM cut to that rectangle with gdal_translate, each run
// as a process of its own so that its time and peak memory are the whole process's. Our worker
// takes nine bicubic samples per cell where SAGA sums the cells; the volumes must agree within
// 0.5 %. The data are made once in /tmp/kv_bench_volume. The program runs itself with --volume for
// our side.
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <benchmark/benchmark.h>
#include <gdal.h>
#include <gdal_utils.h>

#include <cmath>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "../demtools/ProcessRun.h"
#include "../demtools/UpsampledDem.h"
#include "analysis/VolumeWorker.h"
#include "raster/DEM.h"

namespace {

constexpr int kDemSide = 4000;
constexpr int kFirst = 500;  // the rectangle: cells kFirst to kFirst + kCells - 1 on both axes
constexpr int kCells = 3000;
const QString kFolder = QStringLiteral("/tmp/kv_bench_volume");

struct Data {
    std::string dem, cut;
    double left = 0.0, right = 0.0, top = 0.0, bottom = 0.0;
    double level = 0.0;
};
Data g_data;
std::string g_self;
// The volumes each side reported, by benchmark name: above and below the level.
std::map<std::string, std::pair<double, double>> g_volumes;

bool MakeData() {
    QDir().mkpath(kFolder);
    g_data.dem = (kFolder + "/dem.tif").toStdString();
    g_data.cut = (kFolder + "/cut.tif").toStdString();
    cv::Mat dem;
    double gt[6];
    if (!ReadUpsampled(KV_BENCH_DEM, kDemSide, &dem, gt)) {
        return false;
    }
    g_data.left = gt[0] + kFirst * gt[1];
    g_data.right = gt[0] + (kFirst + kCells) * gt[1];
    g_data.top = gt[3] + kFirst * gt[5];
    g_data.bottom = gt[3] + (kFirst + kCells) * gt[5];
    // The mean height inside the rectangle: a base level with terrain on both sides of it.
    g_data.level = std::round(cv::mean(dem(cv::Rect(kFirst, kFirst, kCells, kCells)))[0]);
    if (QFileInfo::exists(kFolder + "/complete")) {
        return true;
    }
    if (!WriteDemFile(dem, gt, g_data.dem.c_str())) {
        return false;
    }
    GDALDatasetH source = GDALOpen(g_data.dem.c_str(), GA_ReadOnly);
    const std::string first = std::to_string(kFirst), cells = std::to_string(kCells);
    const char* args[] = {"-srcwin", first.c_str(), first.c_str(), cells.c_str(), cells.c_str(), nullptr};
    GDALTranslateOptions* options = GDALTranslateOptionsNew(const_cast<char**>(args), nullptr);
    GDALDatasetH cut = source ? GDALTranslate(g_data.cut.c_str(), source, options, nullptr) : nullptr;
    GDALTranslateOptionsFree(options);
    if (source) {
        GDALClose(source);
    }
    if (!cut) {
        return false;
    }
    GDALClose(cut);
    QFile(kFolder + "/complete").open(QIODevice::WriteOnly);
    return true;
}

// Runs a program to its end (ProcessRun.h) and keeps its standard output.
struct Run : ProcessRun {
    std::string output;
};
Run RunKeepingOutput(const std::vector<std::string>& args) {
    const std::string path = (kFolder + "/output.txt").toStdString();
    Run run;
    static_cast<ProcessRun&>(run) = RunProcess(args, path);
    QFile file(QString::fromStdString(path));
    if (file.open(QIODevice::ReadOnly)) {
        run.output = file.readAll().toStdString();
    }
    return run;
}

std::string Text(double v) {
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%.17g", v);
    return buffer;
}

// The number after the last "Volume: " of SAGA's report.
double SagaVolume(const std::string& output) {
    const size_t at = output.rfind("Volume: ");
    return at == std::string::npos ? NAN : std::atof(output.c_str() + at + 8);
}

void BM_Ours(benchmark::State& state) {
    for (auto _ : state) {
        const Run run =
            RunKeepingOutput({g_self, "--volume", g_data.dem, Text(g_data.left), Text(g_data.bottom),
                              Text(g_data.right), Text(g_data.top), Text(g_data.level)});
        double over = NAN, under = NAN;
        if (run.status != 0 || std::sscanf(run.output.c_str(), "%lf %lf", &over, &under) != 2) {
            state.SkipWithError("our volume failed");
            return;
        }
        g_volumes["ours"] = {over, under};
        state.SetIterationTime(run.seconds);
        state.counters["peak_MiB"] = run.peakMiB;
    }
}

void BM_Saga(benchmark::State& state) {
    for (auto _ : state) {
        double seconds = 0.0, peak = 0.0;
        double volumes[2] = {NAN, NAN};
        // Above the level, then below it: SAGA measures one side per run.
        for (int method = 0; method < 2; ++method) {
            const Run run =
                RunKeepingOutput({"saga_cmd", "grid_calculus", "2", "-GRID", g_data.cut, "-METHOD",
                                  std::to_string(method), "-LEVEL", Text(g_data.level)});
            volumes[method] = std::fabs(SagaVolume(run.output));
            if (run.status != 0 || std::isnan(volumes[method])) {
                state.SkipWithError("saga_cmd failed");
                return;
            }
            seconds += run.seconds;
            peak = std::max(peak, run.peakMiB);
        }
        g_volumes["saga"] = {volumes[0], volumes[1]};
        state.SetIterationTime(seconds);
        state.counters["peak_MiB"] = peak;
    }
}

// Our side: the worker on the DEM file with the rectangle as the area.
int RunOurs(int argc, char** argv) {
    if (argc != 8) {
        return 2;
    }
    GDALAllRegister();
    CDEM dem(nullptr);
    dem.m_pDataset = GDALOpen(argv[2], GA_ReadOnly);
    if (!dem.m_pDataset || GDALGetGeoTransform(dem.m_pDataset, dem.m_geoTransform) != CE_None) {
        return 1;
    }
    const double left = std::atof(argv[3]), bottom = std::atof(argv[4]);
    const double right = std::atof(argv[5]), top = std::atof(argv[6]);
    const std::vector<Wml::Point3> aoi = {
        {left, top, 0.0}, {right, top, 0.0}, {right, bottom, 0.0}, {left, bottom, 0.0}};
    const AoiVolumes volumes = ComputeAoiVolumes(dem, aoi, std::atof(argv[7]));
    if (!volumes.overReference || !volumes.underReference) {
        return 1;
    }
    std::printf("%.6f %.6f %lld\n", *volumes.overReference, *volumes.underReference, volumes.samples);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    if (argc > 1 && std::string(argv[1]) == "--volume") {
        return RunOurs(argc, argv);
    }
    GDALAllRegister();
    g_self = QCoreApplication::applicationFilePath().toStdString();
    if (!MakeData()) {
        std::fprintf(stderr, "cannot make the benchmark data in %s\n", kFolder.toLocal8Bit().constData());
        return 1;
    }
    std::printf("%d x %d DEM, %d x %d cells inside the area, base level %.1f: %s\n", kDemSide, kDemSide,
                kCells, kCells, g_data.level, g_data.dem.c_str());
    for (auto* b : {benchmark::RegisterBenchmark("Volume/ours", BM_Ours),
                    benchmark::RegisterBenchmark("Volume/saga_cmd_grid_volume", BM_Saga)}) {
        b->UseManualTime()->Iterations(1)->Repetitions(3)->Unit(benchmark::kMillisecond);
    }
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    if (g_volumes.count("ours") && g_volumes.count("saga")) {
        const auto& ours = g_volumes["ours"];
        const auto& saga = g_volumes["saga"];
        const double overDiff = std::fabs(ours.first - saga.first) / saga.first;
        const double underDiff = std::fabs(ours.second - saga.second) / saga.second;
        std::printf("volume above: ours %.1f, saga %.1f (%.3f %%); below: ours %.1f, saga %.1f (%.3f %%)\n",
                    ours.first, saga.first, overDiff * 100.0, ours.second, saga.second, underDiff * 100.0);
        if (overDiff > 0.005 || underDiff > 0.005) {
            std::printf("the volumes differ by more than 0.5 %%\n");
            return 1;
        }
    }
    return 0;
}
