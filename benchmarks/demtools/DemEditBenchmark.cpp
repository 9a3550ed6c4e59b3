// The area edits of a 4000 x 4000 DEM (the Olinda DEM upsampled bilinearly) with 4.5 % of its
// cells cut out as irregular holes, over the whole DEM:
//   erode, flood fill, offset - the worker on the grid in memory against OpenCV doing the same to
//       the same grid (the validity mask eroded and no data written where it fell, the fill of the
//       seed's component, the add under the validity mask), timed in process; the grids must match;
//   gap filler - CGridGaps against GDALFillNodata, image in and image out, timed in process;
//   gap closing - the command's work from file to file: the DEM loaded, its gaps closed and saved
//       (a new file with its overviews, put in place) against gdal_fillnodata.py writing the filled
//       DEM and gdaladdo giving it the same overviews.
#include <QFile>

#include <gdal.h>
#include <gdal_alg.h>
#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <cstdlib>
#include <vector>

#include "Bench.h"
#include "Data.h"
#include "demtools/DemEditWorkers.h"
#include "platform/gridding/GridGaps.h"
#include "raster/DEM.h"

namespace {

using bench::Args;

const int kSide = bench::Scaled(4000);
constexpr double kHoleShare = 0.045;
constexpr float kNoValue = -9999.0f;
constexpr int kGdalSearchDistance = 100;

const bench::Files File("demedit");

bool MakeHoledDem() {
    return File.MakeOnce("1", [] {
        cv::Mat dem;
        double gt[6];
        if (!bench::ReadUpsampled(KV_BENCH_DEM, kSide, &dem, gt)) {
            return false;
        }
        dem.setTo(kNoValue, bench::HolePattern(kSide, kHoleShare));
        return bench::WriteRaster(dem, gt, File("dem.tif"));
    });
}

const std::string kHoles = std::to_string(kSide) + " x " + std::to_string(kSide) + " DEM, 4.5 % holes";

// A pair of two sides of this program that leave their grids for a cell by cell comparison.
bool InMemoryPair(bench::Pair* pair, const char* operation, const char* peer, const char* name, Args extra,
                  double tolerance, int threads) {
    if (!MakeHoledDem()) {
        return false;
    }
    pair->operation = operation;
    pair->input = kHoles;
    pair->threads = threads;
    const std::string ours = File(std::string(name) + "_ours.tif");
    const std::string theirs = File(std::string(name) + "_peer.tif");
    Args args = {File("dem.tif")};
    args.insert(args.end(), extra.begin(), extra.end());
    Args oursArgs = args, theirArgs = args;
    oursArgs.push_back(ours);
    theirArgs.push_back(theirs);
    pair->ours = {"ours", {bench::Self(std::string(name) + "-ours", oursArgs)}, {ours}};
    pair->peer = {peer, {bench::Self(std::string(name) + "-peer", theirArgs)}, {theirs}};
    pair->check = bench::RastersAgree(ours, theirs, tolerance);
    return true;
}

// ---- erode

// The peers of erode and offset (cv::erode, compare, setTo, add) do their work on one core,
// whatever OpenCV is given: ours runs on one thread too.
const bench::PairRegistration kErode("erode", [](bench::Pair* pair) {
    return InMemoryPair(pair, "Erode (ErodeDem, whole DEM)", "cv::erode of the valid mask", "erode", {}, 0.0,
                        1);
});

const bench::SideRegistration kErodeOurs("erode-ours", [](const Args& a) {
    auto dem = bench::LoadDem(a[0]);
    if (!dem) {
        return 1;
    }
    const CPgon whole = bench::WholeArea(*dem);
    const bool ok = bench::TimeOperation([&] { return ErodeDem(*dem, whole, nullptr) > 0; });
    return ok && bench::KeepRaster(dem->m_grid, dem->m_geoTransform, a[1]) ? 0 : 1;
});

const bench::SideRegistration kErodePeer("erode-peer", [](const Args& a) {
    cv::Mat grid;
    double gt[6];
    if (!bench::ReadRaster(a[0], &grid, gt)) {
        return 1;
    }
    const cv::Mat square =
        cv::getStructuringElement(cv::MORPH_RECT, cv::Size(2 * kErodeReach + 1, 2 * kErodeReach + 1));
    bench::TimeOperation([&] {
        cv::Mat eroded;
        cv::erode(grid != kNoValue, eroded, square);
        grid.setTo(kNoValue, eroded == 0);
        return true;
    });
    return bench::KeepRaster(grid, gt, a[1]) ? 0 : 1;
});

// ---- flood fill: the flat sea, the largest component of zeros

// The seed of the flood fill: the valid cell of height 0 whose component is the largest.
bool FindSea(cv::Point* seed, int* cells) {
    cv::Mat grid;
    if (!bench::ReadRaster(File("dem.tif"), &grid)) {
        return false;
    }
    cv::Mat fillMask;
    cv::Rect bounds;
    *cells = 0;
    for (int r = 0; r < kSide; r += 97) {
        for (int c = 0; c < kSide; c += 97) {
            if (grid.at<float>(r, c) == 0.0f) {
                const int n = FloodFillComponent(grid, cv::Point(c, r), fillMask, bounds);
                if (n > *cells) {
                    *cells = n;
                    *seed = cv::Point(c, r);
                }
            }
        }
    }
    return *cells > 0;
}

constexpr float kFillHeight = 1111.0f;

const bench::PairRegistration kFlood("flood_fill", [](bench::Pair* pair) {
    cv::Point sea;
    int cells = 0;
    if (!MakeHoledDem() || !FindSea(&sea, &cells) ||
        !InMemoryPair(pair, "Flood fill (FloodFillDem)", "cv::floodFill", "flood",
                      {std::to_string(sea.x), std::to_string(sea.y)}, 0.0, 1)) {
        return false;
    }
    pair->input = std::string(kHoles) + ", the sea of " + std::to_string(cells) + " cells";
    return true;
});

const bench::SideRegistration kFloodOurs("flood-ours", [](const Args& a) {
    auto dem = bench::LoadDem(a[0]);
    if (!dem) {
        return 1;
    }
    const double* gt = dem->m_geoTransform;
    const double x = gt[0] + (std::atoi(a[1].c_str()) + 0.5) * gt[1];
    const double y = gt[3] + (std::atoi(a[2].c_str()) + 0.5) * gt[5];
    const bool ok = bench::TimeOperation([&] { return FloodFillDem(*dem, x, y, kFillHeight, nullptr) > 0; });
    return ok && bench::KeepRaster(dem->m_grid, gt, a[3]) ? 0 : 1;
});

const bench::SideRegistration kFloodPeer("flood-peer", [](const Args& a) {
    cv::Mat grid;
    double gt[6];
    if (!bench::ReadRaster(a[0], &grid, gt)) {
        return 1;
    }
    const cv::Point seed(std::atoi(a[1].c_str()), std::atoi(a[2].c_str()));
    const bool ok = bench::TimeOperation([&] {
        return cv::floodFill(grid, seed, kFillHeight, nullptr, 0, 0, 4 | cv::FLOODFILL_FIXED_RANGE) > 0;
    });
    return ok && bench::KeepRaster(grid, gt, a[3]) ? 0 : 1;
});

// ---- offset

constexpr double kOffset = 0.5;

const bench::PairRegistration kOffsetPair("offset", [](bench::Pair* pair) {
    return InMemoryPair(pair, "Offset (OffsetDemArea, whole DEM)", "cv::add under the valid mask", "offset",
                        {}, 1e-4, 1);
});

const bench::SideRegistration kOffsetOurs("offset-ours", [](const Args& a) {
    auto dem = bench::LoadDem(a[0]);
    if (!dem) {
        return 1;
    }
    const CPgon whole = bench::WholeArea(*dem);
    const bool ok = bench::TimeOperation([&] { return OffsetDemArea(*dem, whole, kOffset, nullptr) > 0; });
    return ok && bench::KeepRaster(dem->m_grid, dem->m_geoTransform, a[1]) ? 0 : 1;
});

const bench::SideRegistration kOffsetPeer("offset-peer", [](const Args& a) {
    cv::Mat grid;
    double gt[6];
    if (!bench::ReadRaster(a[0], &grid, gt)) {
        return 1;
    }
    bench::TimeOperation([&] {
        cv::add(grid, cv::Scalar(kOffset), grid, grid != kNoValue);
        return true;
    });
    return bench::KeepRaster(grid, gt, a[1]) ? 0 : 1;
});

// ---- the gap filler alone, image in and image out

// Filled values of two fillers differ: the check asks for the same cells filled and heights
// that stay close to each other.
constexpr double kFillTolerance = 2.0;

const bench::PairRegistration kGapFiller("gap_filler", [](bench::Pair* pair) {
    if (!InMemoryPair(pair, "Gap filler (CGridGaps)", "GDALFillNodata", "filler", {}, kFillTolerance, 1)) {
        return false;
    }
    const std::string ours = File("filler_ours.tif"), theirs = File("filler_peer.tif");
    pair->check = bench::RastersAgree(ours, theirs, kFillTolerance, 0.01, 0.0);
    return true;
});

const bench::SideRegistration kFillerOurs("filler-ours", [](const Args& a) {
    cv::Mat grid, filled;
    double gt[6];
    if (!bench::ReadRaster(a[0], &grid, gt)) {
        return 1;
    }
    const cv::Mat all(grid.size(), CV_8UC1, cv::Scalar(255));
    bench::TimeOperation([&] {
        filled = CGridGaps().Process(grid, all, kNoValue, 0.1);
        return !filled.empty();
    });
    return !filled.empty() && bench::KeepRaster(filled, gt, a[1]) ? 0 : 1;
});

const bench::SideRegistration kFillerPeer("filler-peer", [](const Args& a) {
    cv::Mat grid, filled;
    double gt[6];
    if (!bench::ReadRaster(a[0], &grid, gt)) {
        return 1;
    }
    const bool ok = bench::TimeOperation([&] {
        GDALDatasetH ds =
            GDALCreate(GDALGetDriverByName("MEM"), "", grid.cols, grid.rows, 1, GDT_Float32, nullptr);
        if (!ds) {
            return false;
        }
        GDALRasterBandH band = GDALGetRasterBand(ds, 1);
        filled.create(grid.size(), CV_32FC1);
        const bool done =
            GDALSetRasterNoDataValue(band, kNoValue) == CE_None &&
            GDALRasterIO(band, GF_Write, 0, 0, grid.cols, grid.rows, grid.data, grid.cols, grid.rows,
                         GDT_Float32, 0, 0) == CE_None &&
            GDALFillNodata(band, nullptr, kGdalSearchDistance, 0, 0, nullptr, nullptr, nullptr) == CE_None &&
            GDALRasterIO(band, GF_Read, 0, 0, grid.cols, grid.rows, filled.data, grid.cols, grid.rows,
                         GDT_Float32, 0, 0) == CE_None;
        GDALClose(ds);
        return done;
    });
    return ok && bench::KeepRaster(filled, gt, a[1]) ? 0 : 1;
});

// ---- gap closing from file to file

const bench::PairRegistration kCloseGaps("close_gaps", [](bench::Pair* pair) {
    if (!MakeHoledDem()) {
        return false;
    }
    const std::string ours = File("close_ours.tif"), theirs = File("close_peer.tif");
    pair->operation = "Gap closing (CloseDemGaps, DEM loaded and saved)";
    pair->input = kHoles;
    pair->ours = {"ours", {bench::Self("close-ours", {ours})}, {}, [ours] {
                      return bench::CopyFile(File("dem.tif"), ours);
                  }};
    pair->peer = bench::FillNodataPeer(File("dem.tif"), theirs, kGdalSearchDistance, kSide);
    pair->check = bench::RastersAgree(ours, theirs, kFillTolerance, 0.01, 0.0);
    return true;
});

const bench::SideRegistration kCloseOurs("close-ours", [](const Args& a) {
    auto dem = bench::LoadDem(a[0], true);
    return dem && CloseDemGaps(*dem, bench::WholeArea(*dem), nullptr) > 0 && dem->SaveData() ? 0 : 1;
});

}  // namespace
