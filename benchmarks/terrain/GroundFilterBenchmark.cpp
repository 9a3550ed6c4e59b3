// Ground filtering against SAGA, each side a whole process with the same threads:
//   ours - the worker of the GROUNDFILTERING command with the Suburban preset at the DEM's own
//          cell size (factor 4 / cell, curvature threshold 0.3), written as GeoTIFF;
//   peer - saga_cmd -c=N grid_filter 7 (DTM Filter, slope-based, its defaults), then grid_tools 7
//          (Close Gaps) on its result.
// Inputs, made once:
//   autzen   - the real lidar of the test data gridded at 5 feet (highest point per cell); both
//              results are judged against the terrain the file's own ground points (class 2)
//              give: median and 95th percentile of the absolute differences over all cells, and
//              the median change of the open-ground cells (the surface within 0.5 of the ground);
//   olinda4m, elev4m - the real DEMs of the test data (bare earth) resampled bilinearly to 4 m
//              cells (the Luxembourg DEM first reprojected to UTM 32N and cut to its central 6 km),
//              judged by how much they change: median change, share of cells lowered by more than
//              1 m, share within 1 m, largest lowering;
//   hilly1000, hilly4000 - the Olinda DEM upsampled bilinearly to 1000 x 1000 and 4000 x 4000
//              cells, for the time against the cells.
// The two filters differ by design: the check reports how close each came to the ground and fails
// when ours is worse than SAGA beyond a stated margin (see kP95Margin).
#include <QFile>

#include <gdal.h>
#include <gdal_utils.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "Bench.h"
#include "Checks.h"
#include "Data.h"
#include "analysis/GroundFiltering.h"
#include "demtools/DemFromPoints.h"
#include "raster/DEM.h"
#include "support/TerrainTruth.h"

namespace {

using bench::Args;

const bench::Files File("groundfilter");

// gdalwarp with the arguments, from the source to the target; false when it fails.
bool Warp(const char* source, const std::string& target, std::vector<std::string> args) {
    std::vector<char*> argv;
    for (std::string& a : args) {
        argv.push_back(a.data());
    }
    argv.push_back(nullptr);
    GDALWarpAppOptions* options = GDALWarpAppOptionsNew(argv.data(), nullptr);
    GDALDatasetH in = GDALOpen(source, GA_ReadOnly);
    GDALDatasetH out = options && in ? GDALWarp(target.c_str(), nullptr, 1, &in, options, nullptr) : nullptr;
    if (options) {
        GDALWarpAppOptionsFree(options);
    }
    if (in) {
        GDALClose(in);
    }
    if (!out) {
        return false;
    }
    GDALClose(out);
    return true;
}

// The inputs, made in a side of their own (the lidar is gridded by the program's own gridder).
const bench::SideRegistration kData("groundfilter-data", [](const Args&) {
    QString error;
    if (CreateDemFromPointFiles({QStringLiteral(KV_BENCH_LAS)}, 5.0,
                                QFile::decodeName(File("autzen.tif").c_str()), nullptr,
                                &error) != PointCloudGridder::Done) {
        std::fprintf(stderr, "cannot grid the lidar: %s\n", error.toLocal8Bit().constData());
        return 1;
    }
    if (!Warp(KV_BENCH_OLINDA, File("olinda4m.tif"), {"-ot", "Float32", "-tr", "4", "4", "-r", "bilinear"})) {
        return 1;
    }
    // The centre of the Luxembourg DEM in UTM 32N, and 3 km around it.
    if (!Warp(KV_BENCH_ELEV, File("elev_utm.tif"),
              {"-ot", "Float32", "-t_srs", "EPSG:32632", "-r", "bilinear"})) {
        return 1;
    }
    GDALDatasetH utm = GDALOpen(File("elev_utm.tif").c_str(), GA_ReadOnly);
    double gt[6];
    GDALGetGeoTransform(utm, gt);
    const double cx = gt[0] + gt[1] * GDALGetRasterXSize(utm) / 2,
                 cy = gt[3] + gt[5] * GDALGetRasterYSize(utm) / 2;
    GDALClose(utm);
    if (!Warp(KV_BENCH_ELEV, File("elev4m.tif"),
              {"-ot", "Float32", "-t_srs", "EPSG:32632", "-tr", "4", "4", "-r", "bilinear", "-te",
               bench::Number(cx - 3000), bench::Number(cy - 3000), bench::Number(cx + 3000),
               bench::Number(cy + 3000)})) {
        return 1;
    }
    return bench::WriteUpsampled(KV_BENCH_OLINDA, bench::Scaled(1000), File("hilly1000.tif")) &&
                   bench::WriteUpsampled(KV_BENCH_OLINDA, bench::Scaled(4000), File("hilly4000.tif"))
               ? 0
               : 1;
});

bool MakeData() {
    return File.MakeOnce("1", [] { return bench::Run(bench::Self("groundfilter-data")); });
}

using bench::Format;

// How far a result lies from the lidar's own ground, and how much it changed the open ground.
struct LidarFigures {
    bool read = false;
    double median = 0.0, p95 = 0.0, openChanged = 0.0;
    std::string Text() const {
        return Format("median %.3f, p95 %.3f, open ground changed %.3f", median, p95, openChanged);
    }
};

LidarFigures JudgeLidar(const std::string& path) {
    LidarFigures figures;
    double noData = -9999.0, gt[6];
    const cv::Mat surface = kvtest::ReadGrid(QString::fromStdString(File("autzen.tif")));
    GDALDatasetH ds = GDALOpen(File("autzen.tif").c_str(), GA_ReadOnly);
    if (!ds) {
        return figures;
    }
    GDALGetGeoTransform(ds, gt);
    GDALClose(ds);
    const cv::Mat ground =
        kvtest::GridPointsMax(QStringLiteral(KV_BENCH_LAS), gt, surface.cols, surface.rows, 2);
    const cv::Mat grid = kvtest::ReadGrid(QString::fromStdString(path), &noData);
    if (grid.empty() || grid.size() != ground.size()) {
        return figures;
    }
    const kvtest::Deviation all = kvtest::DeviationFrom(grid, ground, cv::Mat(), float(noData));
    const cv::Mat open = (cv::abs(surface - ground) < 0.5f) & (ground != -9999.0f) & (surface != -9999.0f);
    const kvtest::Deviation change = kvtest::DeviationFrom(grid, surface, open, float(noData));
    figures.read = true;
    figures.median = all.median;
    figures.p95 = all.p95;
    figures.openChanged = change.median;
    return figures;
}

// Ours fails the row when it is worse than SAGA, beyond these margins, on the figure that says
// how well each filter does its work: how far it leaves the lidar's terrain at the 95th
// percentile (in the data's unit), and the share of bare earth it lowers by more than 1 m.
constexpr double kP95Margin = 0.1, kLoweredMargin = 0.01, kRelativeMargin = 0.1;

std::string UpsampledText(int side) {
    return bench::Format("Olinda DEM upsampled to %d x %d cells", bench::Scaled(side), bench::Scaled(side));
}

void Register(const char* id, const char* name, const std::string& input, bool lidar) {
    // The registration itself puts the pair on the harness's list.
    const bench::PairRegistration registration(id, [=](bench::Pair* pair) {
        if (!MakeData()) {
            return false;
        }
        const std::string source = File(std::string(name) + ".tif"),
                          ours = File(std::string(name) + "_ours.tif"),
                          bare = File(std::string(name) + "_saga_bare.sdat"),
                          theirs = File(std::string(name) + "_saga.sdat");
        pair->operation = "Ground filtering, Suburban (FilterGroundToFile)";
        pair->input = input;
        pair->threads = bench::ParallelThreads();
        const std::string cores = "-c=" + std::to_string(pair->threads);
        pair->ours = {"ours", {bench::Self("groundfilter-ours", {source, ours})}, {ours}};
        pair->peer = {"saga_cmd grid_filter 7 + grid_tools 7",
                      {{"saga_cmd", cores, "grid_filter", "7", "-INPUT", source, "-GROUND", bare},
                       {"saga_cmd", cores, "grid_tools", "7", "-INPUT", bare, "-RESULT", theirs}},
                      {bare, theirs}};
        pair->check = [=](std::string* agreed) {
            if (lidar) {
                const LidarFigures a = JudgeLidar(ours), b = JudgeLidar(theirs);
                if (!a.read || !b.read) {
                    return std::string(!a.read ? "our result cannot be read"
                                               : "the peer's result cannot be read");
                }
                *agreed = "ours " + a.Text() + "; SAGA " + b.Text() + "; the surface itself " +
                          JudgeLidar(source).Text();
                return bench::NoWorse("p95", a.p95, b.p95, kP95Margin, kRelativeMargin);
            }
            const bench::BareEarthChange a = bench::ChangeOfBareEarth(source, ours),
                                         b = bench::ChangeOfBareEarth(source, theirs);
            if (!a.read || !b.read) {
                return std::string(!a.read ? "our result cannot be read"
                                           : "the peer's result cannot be read");
            }
            *agreed = "ours " + a.Text() + "; SAGA " + b.Text();
            return bench::NoWorse("share lowered by more than 1 m", a.lowered, b.lowered, kLoweredMargin,
                                  kRelativeMargin);
        };
        return true;
    });
}

const bool kRegistered = [] {
    Register("groundfilter_autzen", "autzen", "autzen_trim.las gridded at 5 ft, 1178 x 563 cells", true);
    Register("groundfilter_olinda", "olinda4m", "Olinda DEM (bare earth) at 4 m cells", false);
    Register("groundfilter_elev", "elev4m", "Luxembourg DEM (bare earth), 6 km at 4 m cells, 1500 x 1500",
             false);
    Register("groundfilter_hilly1000", "hilly1000", UpsampledText(1000), false);
    Register("groundfilter_hilly4000", "hilly4000", UpsampledText(4000), false);
    return true;
}();

const bench::SideRegistration kOurs("groundfilter-ours", [](const Args& a) {
    CDEM dem(nullptr);
    dem.m_path = QFile::decodeName(a[0].c_str());
    GDALDatasetH ds = GDALOpen(a[0].c_str(), GA_ReadOnly);
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
    if (FilterGroundToFile(dem, QFile::decodeName(a[1].c_str()), settings, {}, nullptr, nullptr, nullptr,
                           &error) != GroundFilterDone) {
        std::fprintf(stderr, "%s\n", error.toLocal8Bit().constData());
        return 1;
    }
    return 0;
});

}  // namespace
