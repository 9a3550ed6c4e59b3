// DEM analysis side by side with SAGA's command line, each run as a process of its own:
//   ours  - the DEM analysis worker (SAGA's tools loaded in process: import, basic terrain
//           analysis, GeoTIFF export of slope, catchment area and wetness);
//   saga  - saga_cmd ta_compound 0 with the same three outputs, in SAGA's own grid format; once
//           with SAGA's own choice of threads and once with as many as ours takes.
// The DEM is the Olinda DEM of the test data upsampled bilinearly to 4000 x 4000 cells, made once
// in /tmp/kv_bench_demanalysis. After the runs the slopes of both sides are compared cell by cell.
#include <QCoreApplication>
#include <QDir>
#include <QFile>

#include <benchmark/benchmark.h>
#include <gdal.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "../demtools/BenchProcess.h"
#include "../demtools/UpsampledDem.h"
#include "analysis/DemAnalysis.h"
#include "support/TerrainTruth.h"

namespace {

constexpr int kDemSide = 4000;
const QString kFolder = QStringLiteral("/tmp/kv_bench_demanalysis");
std::string g_self;

std::string Path(const char* name) {
    return (kFolder + QLatin1Char('/') + QString::fromLatin1(name)).toStdString();
}

bool MakeDem() {
    QDir().mkpath(kFolder);
    if (QFile::exists(kFolder + "/dem.tif")) {
        return true;
    }
    cv::Mat dem;
    double gt[6];
    if (!ReadUpsampled(KV_BENCH_DEM, kDemSide, &dem, gt)) {
        return false;
    }
    return WriteDemFile(dem, gt, Path("dem.tif").c_str());
}

void BM_Ours(benchmark::State& state) {
    ReportProcesses(state, {{g_self, "--analysis", Path("dem.tif")}});
}

void BM_Saga(benchmark::State& state, const std::vector<std::string>& cores) {
    std::vector<std::string> run = {"saga_cmd"};
    run.insert(run.end(), cores.begin(), cores.end());
    run.insert(run.end(),
               {"ta_compound", "0", "-ELEVATION", Path("dem.tif"), "-SLOPE", Path("saga_slope.sdat"), "-FLOW",
                Path("saga_flow.sdat"), "-WETNESS", Path("saga_wetness.sdat")});
    ReportProcesses(state, {run});
}

int RunOurs(const QString& dem) {
    GDALAllRegister();
    DemAnalysisChoice choice;
    choice.shade = choice.lsFactor = 0;
    const DemAnalysisResult result = RunDemAnalysis(dem, choice, nullptr);
    return result.ran && result.notCreated.isEmpty() ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    if (argc == 3 && std::string(argv[1]) == "--analysis") {
        return RunOurs(QString::fromLocal8Bit(argv[2]));
    }
    GDALAllRegister();
    g_self = QCoreApplication::applicationFilePath().toStdString();
    if (!MakeDem()) {
        std::fprintf(stderr, "cannot make the benchmark DEM in %s\n", kFolder.toLocal8Bit().constData());
        return 1;
    }
    double load[1] = {0.0};
    getloadavg(load, 1);
    std::printf("%d x %d DEM: %s; %u processors, load %.1f\n", kDemSide, kDemSide, Path("dem.tif").c_str(),
                std::thread::hardware_concurrency(), load[0]);
    for (auto* b : {benchmark::RegisterBenchmark("DemAnalysis/ours", BM_Ours),
                    benchmark::RegisterBenchmark("DemAnalysis/saga_cmd_ta_compound", BM_Saga,
                                                 std::vector<std::string>()),
                    benchmark::RegisterBenchmark("DemAnalysis/saga_cmd_ta_compound_1core", BM_Saga,
                                                 std::vector<std::string>{"--cores=1"})}) {
        b->UseManualTime()->Iterations(1)->Repetitions(1)->Unit(benchmark::kMillisecond);
    }
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();

    const cv::Mat ours = kvtest::ReadGrid(QString::fromStdString(Path("dem_SLOPE.tif")));
    const cv::Mat theirs = kvtest::ReadGrid(QString::fromStdString(Path("saga_slope.sdat")));
    if (!ours.empty() && ours.size() == theirs.size()) {
        cv::Mat differ = cv::abs(ours - theirs) > 1e-5 * cv::max(cv::abs(theirs), 1.0);
        std::printf("slope cells that differ from SAGA's: %d of %d\n", cv::countNonZero(differ),
                    int(ours.total()));
    }
    return 0;
}
