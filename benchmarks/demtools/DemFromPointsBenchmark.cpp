// New DEMs from points and by resampling, against GDAL's programs, each side a whole process from
// file to file:
//   DEM from points - 10 million points sampled from the Olinda DEM (upsampled bilinearly to
//              4000 x 4000, points at random places, heights interpolated, whole centimetres) in one
//              ASCII file "x y z", into cells of about one point each: our gridder (the highest
//              point of each cell) against gdal_rasterize -3d burning the same file's points, which
//              is sorted by height so that the last point burnt into a cell is its highest;
//   resize   - the 4000 x 4000 DEM from 2.5 m to 3.2 m cells: ResampleRasterGDAL (bilinear warp and
//              the program's overview levels) against gdalwarp -r bilinear -tr and gdaladdo.
#include <QFile>
#include <QStringList>

#include <gdal.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "Bench.h"
#include "Data.h"
#include "demtools/DemFromPoints.h"
#include "raster/GDALListener.h"

namespace {

using bench::Args;

const int kDemSide = bench::Scaled(4000);
// A sixteenth of them in a small run, as of the cells.
const long kPoints = bench::Small() ? 625'000 : 10'000'000;
constexpr double kResizeFrom = 2.5;
constexpr double kResizeTo = 3.2;

const bench::Files File("points");

// The points' box and cell size, kept beside them: (xmin, xmax, ymin, ymax, gsd).
bool ReadBox(double box[5]) {
    std::FILE* f = std::fopen(File("box.txt").c_str(), "rb");
    const bool ok =
        f && std::fscanf(f, "%lf %lf %lf %lf %lf", &box[0], &box[1], &box[2], &box[3], &box[4]) == 5;
    if (f) {
        std::fclose(f);
    }
    return ok;
}

bool MakePoints() {
    return File.MakeOnce("1", [] {
        cv::Mat dem;
        double gt[6];
        if (!bench::ReadUpsampled(KV_BENCH_DEM, kDemSide, &dem, gt)) {
            return false;
        }
        // Whole centimetres: every reader of the file gets the same numbers.
        struct Point {
            int64_t x, y, z;
        };
        const int64_t x0 = int64_t(std::ceil(gt[0] * 100)), y1 = int64_t(std::floor(gt[3] * 100));
        const int64_t width = int64_t(gt[1] * kDemSide * 100) - 1,
                      height = int64_t(-gt[5] * kDemSide * 100) - 1;
        std::mt19937_64 rng(5);
        std::uniform_int_distribution<int64_t> across(0, width), down(0, height);
        std::uniform_real_distribution<double> noise(0.0, 0.3);
        std::vector<Point> points(kPoints);
        for (Point& p : points) {
            p.x = x0 + across(rng);
            p.y = y1 - down(rng);
            const double c = (p.x / 100.0 - gt[0]) / gt[1] - 0.5, r = (p.y / 100.0 - gt[3]) / gt[5] - 0.5;
            p.z = std::llround((bench::Bilinear(dem, c, r) + noise(rng)) * 100.0);
        }
        std::sort(points.begin(), points.end(), [](const Point& a, const Point& b) { return a.z < b.z; });
        std::FILE* xyz = std::fopen(File("points.xyz").c_str(), "wb");
        if (!xyz) {
            return false;
        }
        std::fputs("x y z\n", xyz);
        double box[4] = {HUGE_VAL, -HUGE_VAL, HUGE_VAL, -HUGE_VAL};
        for (const Point& p : points) {
            std::fprintf(xyz, "%.2f %.2f %.2f\n", p.x / 100.0, p.y / 100.0, p.z / 100.0);
            box[0] = std::min(box[0], p.x / 100.0);
            box[1] = std::max(box[1], p.x / 100.0);
            box[2] = std::min(box[2], p.y / 100.0);
            box[3] = std::max(box[3], p.y / 100.0);
        }
        // About one point a cell.
        const double gsd = std::sqrt((box[1] - box[0]) * (box[3] - box[2]) / double(kPoints));
        std::FILE* vrt = std::fopen(File("points.vrt").c_str(), "wb");
        std::FILE* boxFile = std::fopen(File("box.txt").c_str(), "wb");
        const bool written =
            vrt && boxFile &&
            std::fprintf(
                vrt,
                "<OGRVRTDataSource><OGRVRTLayer name=\"points\"><SrcDataSource>CSV:%s</SrcDataSource>"
                "<OpenOptions><OOI key=\"SEPARATOR\">SPACE</OOI></OpenOptions><SrcLayer>points</SrcLayer>"
                "<GeometryType>wkbPoint</GeometryType><GeometryField encoding=\"PointFromColumns\" "
                "x=\"x\" y=\"y\" z=\"z\"/></OGRVRTLayer></OGRVRTDataSource>\n",
                File("points.xyz").c_str()) > 0 &&
            std::fprintf(boxFile, "%.17g %.17g %.17g %.17g %.17g\n", box[0], box[1], box[2], box[3], gsd) > 0;
        const bool closed = (!vrt || std::fclose(vrt) == 0) && (!boxFile || std::fclose(boxFile) == 0) &&
                            std::fclose(xyz) == 0;
        // The resize source: the upsampled DEM with 2.5 m cells.
        const double resizeSource[6] = {300000.0, kResizeFrom, 0.0, 9100000.0, 0.0, -kResizeFrom};
        return written && closed && bench::WriteRaster(dem, resizeSource, File("dem.tif"));
    });
}

const bench::PairRegistration kGrid("dem_from_points", [](bench::Pair* pair) {
    double box[5];
    if (!MakePoints() || !ReadBox(box)) {
        return false;
    }
    const double gsd = box[4];
    // Our raster: columns from the westernmost point, rows from the northernmost.
    const int w = int(std::floor((box[1] - box[0]) / gsd)) + 1,
              h = int(std::floor((box[3] - box[2]) / gsd)) + 1;
    const std::string ours = File("ours_grid.tif"), theirs = File("gdal_grid.tif");
    pair->operation = "DEM from points, highest per cell";
    pair->input = bench::Format("%ld points in ASCII x y z, ", kPoints) + std::to_string(w) + " x " +
                  std::to_string(h) + " cells";
    pair->ours = {"ours", {bench::Self("grid-ours", {bench::Number(gsd), File("points.xyz"), ours})}, {ours}};
    pair->peer = {"gdal_rasterize -3d",
                  {{"gdal_rasterize",
                    "-q",
                    "-3d",
                    "-l",
                    "points",
                    "-ot",
                    "Float32",
                    "-init",
                    "-9999",
                    "-a_nodata",
                    "-9999",
                    "-te",
                    bench::Number(box[0]),
                    bench::Number(box[3] - h * gsd),
                    bench::Number(box[0] + w * gsd),
                    bench::Number(box[3]),
                    "-ts",
                    std::to_string(w),
                    std::to_string(h),
                    "-co",
                    "TILED=YES",
                    "-co",
                    "BLOCKXSIZE=128",
                    "-co",
                    "BLOCKYSIZE=128",
                    File("points.vrt"),
                    theirs}},
                  {theirs}};
    // A point on a cell's edge may fall to either side of it.
    pair->check = bench::RastersAgree(ours, theirs, 1e-4, 1e-4, 1e-4);
    return true;
});

const bench::SideRegistration kGridOurs("grid-ours", [](const Args& a) {
    QString error;
    const int result = CreateDemFromPointFiles({QFile::decodeName(a[1].c_str())}, std::atof(a[0].c_str()),
                                               QFile::decodeName(a[2].c_str()), nullptr, &error);
    if (result != PointCloudGridder::Done) {
        std::fprintf(stderr, "%s\n", error.toLocal8Bit().constData());
    }
    return result == PointCloudGridder::Done ? 0 : 1;
});

const bench::PairRegistration kResize("resize", [](bench::Pair* pair) {
    if (!MakePoints()) {
        return false;
    }
    const std::string ours = File("ours_resized.tif"), theirs = File("gdal_resized.tif");
    const int side = int(kDemSide * kResizeFrom / kResizeTo + 0.5);
    pair->operation = "DEM resize 2.5 m to 3.2 m (ResampleRasterGDAL)";
    pair->input = "4000 x 4000 DEM";
    pair->ours = {
        "ours",
        {bench::Self("resize-ours", {bench::Number(kResizeFrom / kResizeTo), File("dem.tif"), ours})},
        {ours}};
    pair->peer = {"gdalwarp -r bilinear -tr + gdaladdo",
                  {{"gdalwarp", "-q", "-r", "bilinear", "-tr", bench::Number(kResizeTo),
                    bench::Number(kResizeTo), "-co", "TILED=YES", "-co", "BLOCKXSIZE=128", "-co",
                    "BLOCKYSIZE=128", "-co", "BIGTIFF=IF_NEEDED", File("dem.tif"), theirs},
                   bench::OverviewsLike(theirs, side, side)},
                  {theirs}};
    pair->check = bench::RastersAgree(ours, theirs, 1e-4);
    return true;
});

const bench::SideRegistration kResizeOurs("resize-ours", [](const Args& a) {
    CGDALListener quiet;
    const char* options[] = {"TILED=YES", "BLOCKXSIZE=128", "BLOCKYSIZE=128", "BIGTIFF=IF_NEEDED", nullptr};
    return ResampleRasterGDAL(QFile::decodeName(a[1].c_str()), QFile::decodeName(a[2].c_str()),
                              std::atof(a[0].c_str()), const_cast<char**>(options), &quiet)
               ? 0
               : 1;
});

}  // namespace
