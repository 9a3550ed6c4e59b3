// The difference raster of two DEMs side by side with GDAL's command-line tools, each run as a
// process of its own so that its time and peak memory are the whole process's:
//   subtract - two 4000 x 4000 DEMs from the Olinda DEM (upsampled bilinearly to 2.5 m cells), the
//              second shifted by 500 columns and 300 rows and bent by a few metres, overlapping in
//              3500 x 3700 cells: ComputeDemDifference (tiles, 128 x 128 blocks, the program-wide
//              overview levels) against gdal_calc.py --calc="A-B" --extent=intersect and
//              gdaladdo -r nearest for the same levels;
//   compare  - the comparison of the same two DEMs sampled every cell (in process: both DEMs read
//              whole, sampled, the picture drawn).
// The data are made once in /tmp/kv_bench_subtract. The program runs itself with --subtract for
// our side of the pair.
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <benchmark/benchmark.h>
#include <gdal.h>

#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "BenchProcess.h"
#include "UpsampledDem.h"
#include "analysis/DemDifference.h"
#include "analysis/SurfaceComparison.h"
#include "raster/DEM.h"
#include "raster/RasterIO.h"

namespace {

constexpr int kSide = 4000;
constexpr int kShiftColumns = 500;
constexpr int kShiftRows = 300;
const QString kFolder = QStringLiteral("/tmp/kv_bench_subtract");
std::string g_self;
std::string g_a, g_b;
double g_gsd = 0.0;

bool MakeData() {
    QDir().mkpath(kFolder);
    g_a = (kFolder + "/a.tif").toStdString();
    g_b = (kFolder + "/b.tif").toStdString();
    cv::Mat dem;
    double gt[6];
    if (!ReadUpsampled(KV_BENCH_DEM, kSide, &dem, gt)) {
        return false;
    }
    g_gsd = gt[1];
    if (QFileInfo::exists(kFolder + "/complete")) {
        return true;
    }
    // B: the surface of A shifted by whole cells, bent by a few metres and with a hole.
    cv::Mat b(kSide, kSide, CV_32FC1);
    for (int r = 0; r < kSide; ++r) {
        for (int c = 0; c < kSide; ++c) {
            const int sc = std::min(c + kShiftColumns, kSide - 1), sr = std::min(r + kShiftRows, kSide - 1);
            const bool hole = std::abs(c - 2000) < 100 && std::abs(r - 2000) < 100;
            b.at<float>(r, c) =
                hole ? -9999.0f : dem.at<float>(sr, sc) + float(3.0 * std::sin(c * 0.01 + r * 0.003));
        }
    }
    double gb[6] = {gt[0] + kShiftColumns * gt[1], gt[1], 0.0, gt[3] + kShiftRows * gt[5], 0.0, gt[5]};
    if (!WriteDemFile(dem, gt, g_a.c_str()) || !WriteDemFile(b, gb, g_b.c_str())) {
        return false;
    }
    QFile(kFolder + "/complete").open(QIODevice::WriteOnly);
    return true;
}

void BM_OursSubtract(benchmark::State& state) {
    const std::string out = (kFolder + "/ours.tif").toStdString();
    QFile::remove(QString::fromStdString(out));
    ReportProcesses(state, {{g_self, "--subtract", g_a, g_b, out}});
}

void BM_GdalCalcGdaladdo(benchmark::State& state) {
    const std::string out = (kFolder + "/gdal_calc.tif").toStdString();
    std::vector<std::string> addo = {"gdaladdo", "-q", "-r", "nearest", out};
    for (int level = 2, n = kv::OverviewLevelCount(kSide - kShiftColumns, kSide - kShiftRows); n > 0;
         level *= 2, --n) {
        addo.push_back(std::to_string(level));
    }
    ReportProcesses(
        state, {{"gdal_calc.py", "--quiet", "--overwrite", "-A", g_a, "-B", g_b, "--calc=A-B",
                 "--extent=intersect", "--type=Float32", "--NoDataValue=-9999", "--co=TILED=YES",
                 "--co=BLOCKXSIZE=128", "--co=BLOCKYSIZE=128", "--co=BIGTIFF=IF_NEEDED", "--outfile=" + out},
                addo});
}

void BM_OursCompareAtGsd(benchmark::State& state) {
    for (auto _ : state) {
        ComparisonGrid a, b;
        if (ReadComparisonGrid(QString::fromStdString(g_a), &a) != GridRead::Ok ||
            ReadComparisonGrid(QString::fromStdString(g_b), &b) != GridRead::Ok) {
            state.SkipWithError("cannot read the DEMs");
            return;
        }
        ComparisonSettings settings;
        settings.step = g_gsd;
        const ComparisonResult result = CompareDemToDem(a, b, settings, nullptr);
        state.counters["compared"] = double(result.differences.size());
        benchmark::DoNotOptimize(Summarise(result).mean);
    }
}

// A DEM of the benchmark opened for reading, as the project holds one.
bool OpenDem(const char* path, CDEM* dem) {
    dem->m_pDataset = GDALOpen(path, GA_ReadOnly);
    return dem->m_pDataset && GDALGetGeoTransform(dem->m_pDataset, dem->m_geoTransform) == CE_None;
}

int RunOurs(int argc, char** argv) {
    GDALAllRegister();
    if (argc != 5) {
        return 2;
    }
    CDEM a(nullptr), b(nullptr);
    if (!OpenDem(argv[2], &a) || !OpenDem(argv[3], &b)) {
        return 1;
    }
    a.m_path = QString::fromLocal8Bit(argv[2]);
    const DemDifference d = ComputeDemDifference(a, b, 0.0, QString::fromLocal8Bit(argv[4]), nullptr);
    return d.status == DemDifference::Done ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    if (argc > 1 && std::string(argv[1]) == "--subtract") {
        return RunOurs(argc, argv);
    }
    GDALAllRegister();
    g_self = QCoreApplication::applicationFilePath().toStdString();
    if (!MakeData()) {
        std::fprintf(stderr, "cannot make the benchmark data in %s\n", kFolder.toLocal8Bit().constData());
        return 1;
    }
    std::printf("two %d x %d DEMs of %.4f m cells overlapping in %d x %d: %s\n", kSide, kSide, g_gsd,
                kSide - kShiftColumns, kSide - kShiftRows, kFolder.toLocal8Bit().constData());
    for (auto* b : {benchmark::RegisterBenchmark("Subtract/ours", BM_OursSubtract),
                    benchmark::RegisterBenchmark("Subtract/gdal_calc_gdaladdo", BM_GdalCalcGdaladdo)}) {
        b->UseManualTime()->Iterations(1)->Repetitions(5)->Unit(benchmark::kMillisecond);
    }
    benchmark::RegisterBenchmark("Compare/ours_step_gsd_in_process", BM_OursCompareAtGsd)
        ->Iterations(1)
        ->Repetitions(3)
        ->Unit(benchmark::kMillisecond);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
