// New DEMs from points and by resampling, side by side with GDAL's command-line tools, each run as
// a process of its own so that its time and peak memory are the whole process's:
//   gridding - 10 million points sampled from the Olinda DEM (upsampled bilinearly to 4000 x 4000,
//              points at random places, their heights interpolated) into cells of about one point
//              each: our worker reading the points from LAS and from ASCII x y z, against
//              gdal_grid -a maximum:radius1=g/2:radius2=g/2 reading them from CSV;
//   spacing  - the spacing estimate the command runs before it asks for the cell size (in
//              process, LAS);
//   resize   - the 4000 x 4000 DEM from 2.5 m to 3.2 m cells: ResampleRasterGDAL (bilinear warp and
//              the overview levels of the program-wide rule) against gdalwarp -r bilinear -tr and
//              gdaladdo -r nearest for the same levels.
// The data are made once in /tmp/kv_bench_points. The program runs itself with --grid or --resize
// for our side of each pair.
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <benchmark/benchmark.h>
#include <gdal.h>
#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "BenchProcess.h"
#include "UpsampledDem.h"
#include "demtools/DemFromPoints.h"
#include "platform/las/Las.h"
#include "raster/GDALListener.h"
#include "raster/RasterIO.h"

namespace {

constexpr int kDemSide = 4000;
constexpr long kPoints = 10'000'000;
constexpr double kResizeFrom = 2.5;
constexpr double kResizeTo = 3.2;
const QString kFolder = QStringLiteral("/tmp/kv_bench_points");

struct Data {
    QString las, xyz, vrt, dem;
    double gsd = 0.0;
    double xmin = 0.0, xmax = 0.0, ymin = 0.0, ymax = 0.0;
    int width = 0, height = 0;
};
Data g_data;
std::string g_self;

bool MakeData() {
    QDir().mkpath(kFolder);
    g_data.las = kFolder + "/points.las";
    g_data.xyz = kFolder + "/points.xyz";
    g_data.vrt = kFolder + "/points.vrt";
    g_data.dem = kFolder + "/dem.tif";
    cv::Mat dem;
    double gt[6];
    if (!ReadUpsampled(KV_BENCH_DEM, kDemSide, &dem, gt)) {
        return false;
    }
    g_data.xmin = gt[0];
    g_data.xmax = gt[0] + gt[1] * kDemSide;
    g_data.ymax = gt[3];
    g_data.ymin = gt[3] + gt[5] * kDemSide;
    // About one point a cell.
    g_data.gsd = std::sqrt((g_data.xmax - g_data.xmin) * (g_data.ymax - g_data.ymin) / double(kPoints));
    if (QFileInfo::exists(kFolder + "/complete")) {
        return true;
    }
    // The resize source: the upsampled DEM with 2.5 m cells.
    const double resizeSource[6] = {300000.0, kResizeFrom, 0.0, 9100000.0, 0.0, -kResizeFrom};
    if (!WriteDemFile(dem, resizeSource, QFile::encodeName(g_data.dem).constData())) {
        return false;
    }
    LASheader header;
    header.pointDataFormat = 1;
    header.pointDataRecordLength = 28;
    header.xOffset = std::floor(g_data.xmin);
    header.yOffset = std::floor(g_data.ymin);
    LASwriteOpener opener;
    opener.SetFileName(g_data.las);
    auto las = opener.Open(header);
    std::FILE* xyz = std::fopen(QFile::encodeName(g_data.xyz).constData(), "wb");
    std::FILE* csv = std::fopen(QFile::encodeName(kFolder + "/points.csv").constData(), "wb");
    if (!las || !xyz || !csv) {
        return false;
    }
    std::fputs("x,y,z\n", csv);
    std::mt19937_64 rng(5);
    std::uniform_real_distribution<double> u(0.0, 1.0);
    LASpoint point;
    for (long i = 0; i < kPoints; ++i) {
        // Whole centimetres, as the LAS file holds them, so that every file carries the same points.
        point.X = int32_t(
            std::floor(u(rng) * (g_data.xmax - g_data.xmin) * 100.0 + (g_data.xmin - header.xOffset) * 100));
        point.Y = int32_t(
            std::floor(u(rng) * (g_data.ymax - g_data.ymin) * 100.0 + (g_data.ymin - header.yOffset) * 100));
        const double x = point.X * 0.01 + header.xOffset, y = point.Y * 0.01 + header.yOffset;
        point.Z = int32_t(std::lround(
            (Bilinear(dem, (x - gt[0]) / gt[1] - 0.5, (y - gt[3]) / gt[5] - 0.5) + 0.3 * u(rng)) * 100.0));
        const double z = point.Z * 0.01;
        if (!las->WritePoint(point)) {
            return false;
        }
        std::fprintf(xyz, "%.2f %.2f %.2f\n", x, y, z);
        std::fprintf(csv, "%.2f,%.2f,%.2f\n", x, y, z);
    }
    std::fclose(xyz);
    std::fclose(csv);
    if (!las->Close()) {
        return false;
    }
    if (!WritePointsVrt(g_data.vrt.toStdString(), (kFolder + "/points.csv").toStdString())) {
        return false;
    }
    QFile(kFolder + "/complete").open(QIODevice::WriteOnly);
    return true;
}

void BM_OursGridLas(benchmark::State& state) {
    ReportProcesses(state, {{g_self, "--grid", NumberArg(g_data.gsd), "/tmp/kv_bench_points/ours_las.tif",
                             g_data.las.toStdString()}});
}

void BM_OursGridXyz(benchmark::State& state) {
    ReportProcesses(state, {{g_self, "--grid", NumberArg(g_data.gsd), "/tmp/kv_bench_points/ours_xyz.tif",
                             g_data.xyz.toStdString()}});
}

void BM_GdalGrid(benchmark::State& state) {
    // The same cells as ours: the raster's corners from the extent of the points.
    PointCloudGridder gridder({g_data.las});
    if (gridder.Scan(nullptr) != PointCloudGridder::Done) {
        state.SkipWithError("cannot read the points");
        return;
    }
    int w = 0, h = 0;
    gridder.RasterSize(g_data.gsd, &w, &h);
    double xmin = HUGE_VAL, ymax = -HUGE_VAL;
    for (const PointFileSummary& f : gridder.Files()) {
        xmin = std::min(xmin, f.xmin);
        ymax = std::max(ymax, f.ymax);
    }
    const double r = g_data.gsd / 2;
    ReportProcesses(state, {GdalGridCommand("maximum:radius1=" + NumberArg(r) + ":radius2=" + NumberArg(r) +
                                                ":nodata=-9999",
                                            xmin, xmin + w * g_data.gsd, ymax - h * g_data.gsd, ymax, w, h,
                                            g_data.vrt.toStdString(), "/tmp/kv_bench_points/gdal_grid.tif")});
}

void BM_SpacingEstimateLas(benchmark::State& state) {
    for (auto _ : state) {
        PointCloudGridder gridder({g_data.las});
        if (gridder.Scan(nullptr) != PointCloudGridder::Done ||
            gridder.EstimateSpacing(nullptr) != PointCloudGridder::Done) {
            state.SkipWithError("cannot read the points");
            return;
        }
        benchmark::DoNotOptimize(gridder.ProposedGsd());
    }
}

void BM_OursResize(benchmark::State& state) {
    ReportProcesses(state, {{g_self, "--resize", NumberArg(kResizeFrom / kResizeTo), g_data.dem.toStdString(),
                             "/tmp/kv_bench_points/ours_resized.tif"}});
}

void BM_GdalwarpGdaladdo(benchmark::State& state) {
    const std::string out = "/tmp/kv_bench_points/gdal_resized.tif";
    const int side = int(kDemSide * kResizeFrom / kResizeTo + 0.5);
    std::vector<std::string> addo = {"gdaladdo", "-q", "-r", "nearest", out};
    for (int level = 2, n = kv::OverviewLevelCount(side, side); n > 0; level *= 2, --n) {
        addo.push_back(std::to_string(level));
    }
    ReportProcesses(state, {{"gdalwarp", "-q", "-overwrite", "-r", "bilinear", "-tr", NumberArg(kResizeTo),
                             NumberArg(kResizeTo), "-co", "TILED=YES", "-co", "BLOCKXSIZE=128", "-co",
                             "BLOCKYSIZE=128", "-co", "BIGTIFF=IF_NEEDED", g_data.dem.toStdString(), out},
                            addo});
}

// Our side of each pair as a process of its own.
int RunOurs(int argc, char** argv) {
    GDALAllRegister();
    const std::string mode = argv[1];
    if (mode == "--grid" && argc >= 5) {
        QStringList files;
        for (int i = 4; i < argc; ++i) {
            files << QString::fromLocal8Bit(argv[i]);
        }
        QString error;
        const int result = CreateDemFromPointFiles(files, std::atof(argv[2]), QString::fromLocal8Bit(argv[3]),
                                                   nullptr, &error);
        if (result != PointCloudGridder::Done) {
            std::fprintf(stderr, "%s\n", error.toLocal8Bit().constData());
        }
        return result == PointCloudGridder::Done ? 0 : 1;
    }
    if (mode == "--resize" && argc == 5) {
        CGDALListener quiet;
        const char* options[] = {"TILED=YES", "BLOCKXSIZE=128", "BLOCKYSIZE=128", "BIGTIFF=IF_NEEDED",
                                 nullptr};
        return ResampleRasterGDAL(QString::fromLocal8Bit(argv[3]), QString::fromLocal8Bit(argv[4]),
                                  std::atof(argv[2]), const_cast<char**>(options), &quiet)
                   ? 0
                   : 1;
    }
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    if (argc > 1 && (std::string(argv[1]) == "--grid" || std::string(argv[1]) == "--resize")) {
        return RunOurs(argc, argv);
    }
    GDALAllRegister();
    g_self = QCoreApplication::applicationFilePath().toStdString();
    if (!MakeData()) {
        std::fprintf(stderr, "cannot make the benchmark data in %s\n", kFolder.toLocal8Bit().constData());
        return 1;
    }
    std::printf("%ld points, cells of %.4f m: %s\n", kPoints, g_data.gsd,
                g_data.las.toLocal8Bit().constData());
    for (auto* b : {benchmark::RegisterBenchmark("Grid/ours_las", BM_OursGridLas),
                    benchmark::RegisterBenchmark("Grid/ours_xyz", BM_OursGridXyz),
                    benchmark::RegisterBenchmark("Grid/gdal_grid_csv", BM_GdalGrid),
                    benchmark::RegisterBenchmark("Resize/ours", BM_OursResize),
                    benchmark::RegisterBenchmark("Resize/gdalwarp_gdaladdo", BM_GdalwarpGdaladdo)}) {
        b->UseManualTime()->Iterations(1)->Repetitions(3)->Unit(benchmark::kMillisecond);
    }
    benchmark::RegisterBenchmark("Spacing/ours_las_in_process", BM_SpacingEstimateLas)
        ->Iterations(1)
        ->Unit(benchmark::kMillisecond);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
