// The DEM update of object elevation against GDAL burning the same contour, timed in process on a
// 4000 x 4000 DEM in memory (the Olinda DEM upsampled bilinearly) and a 200-vertex contour (an
// irregular star about 2400 cells across):
//   ours - SetContourElevation: the cells whose top-left corner lies inside, saved to an undo
//          record file (the window before and after), then set;
//   GDAL - the same work with GDAL: the contour's window written as a two-band GeoTIFF (before and
//          after) and GDALRasterizeGeometries burning the elevation into the grid's window. GDAL
//          burns the cells whose centre is inside, so the contour it gets is moved by half a cell,
//          which makes its rule pick the cells whose top-left corner lies inside the contour.
// Both must set the same cells.
#include <QFile>

#include <gdal.h>
#include <gdal_alg.h>
#include <ogr_api.h>

#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "Bench.h"
#include "Data.h"
#include "analysis/ContourElevation.h"
#include "platform/tools/ZQT.h"
#include "raster/DEM.h"

namespace {

using bench::Args;

const int kSide = bench::Scaled(4000);
constexpr int kVertices = 200;
constexpr double kElevation = 57.25;

const bench::Files File("objectelevation");

// An irregular star around the DEM's middle: radius 700 to 1200 cells, vertices off the cell
// lattice.
std::vector<Wml::Point2> Contour(const double* gt) {
    std::vector<Wml::Point2> contour;
    const double cx = gt[0] + kSide / 2.0 * gt[1], cy = gt[3] + kSide / 2.0 * gt[5];
    for (int i = 0; i < kVertices; ++i) {
        const double a = 2.0 * M_PI * (i + 0.3) / kVertices;
        const double r =
            (950.0 + 250.0 * std::sin(7.0 * a) * std::cos(3.0 * a) + 0.37 + 0.11 * (i % 5)) * gt[1];
        contour.emplace_back(cx + r * std::cos(a), cy + r * std::sin(a));
    }
    return contour;
}

const bench::PairRegistration kObjectElevation("object_elevation", [](bench::Pair* pair) {
    if (!File.MakeOnce("1", [] { return bench::WriteUpsampled(KV_BENCH_DEM, kSide, File("dem.tif")); })) {
        return false;
    }
    const std::string ours = File("ours.tif"), theirs = File("gdal.tif");
    pair->operation = "Object elevation DEM update (SetContourElevation)";
    pair->input = bench::Format("%d x %d DEM in memory, %d-vertex contour", kSide, kSide, kVertices);
    pair->ours = {"ours", {bench::Self("object-ours", {ours})}, {ours}};
    pair->peer = {
        "GDALRasterizeGeometries + the window saved", {bench::Self("object-gdal", {theirs})}, {theirs}};
    pair->check = bench::RastersAgree(ours, theirs, 0.0);
    return true;
});

const bench::SideRegistration kOurs("object-ours", [](const Args& a) {
    ZQT_SetSpecialFolderRoot(File.Folder() + "/work");
    auto dem = bench::LoadDem(File("dem.tif"));
    if (!dem) {
        return 1;
    }
    const std::vector<Wml::Point2> contour = Contour(dem->m_geoTransform);
    const bool ok = bench::TimeOperation([&] {
        return SetContourElevation(nullptr, dem.get(), contour, kElevation, nullptr) ==
               ContourEditResult::Done;
    });
    return ok && bench::KeepRaster(dem->m_grid, dem->m_geoTransform, a[0]) ? 0 : 1;
});

const bench::SideRegistration kGdal("object-gdal", [](const Args& a) {
    cv::Mat grid;
    double gt[6];
    if (!bench::ReadRaster(File("dem.tif"), &grid, gt)) {
        return 1;
    }
    const std::vector<Wml::Point2> contour = Contour(gt);
    // The contour moved by half a cell, as an OGR polygon.
    OGRGeometryH ring = OGR_G_CreateGeometry(wkbLinearRing);
    double x0 = HUGE_VAL, x1 = -HUGE_VAL, y0 = HUGE_VAL, y1 = -HUGE_VAL;
    for (int i = 0; i <= kVertices; ++i) {
        const Wml::Point2& p = contour[size_t(i % kVertices)];
        OGR_G_AddPoint_2D(ring, p.X() + gt[1] / 2, p.Y() + gt[5] / 2);
        x0 = std::min(x0, p.X());
        x1 = std::max(x1, p.X());
        y0 = std::min(y0, p.Y());
        y1 = std::max(y1, p.Y());
    }
    OGRGeometryH polygon = OGR_G_CreateGeometry(wkbPolygon);
    OGR_G_AddGeometryDirectly(polygon, ring);
    const std::string undo = File("gdal_undo.tif");
    const bool ok = bench::TimeOperation([&] {
        // The contour's window, a cell wider on each side.
        const int c0 = std::max(0, int((x0 - gt[0]) / gt[1]) - 1),
                  c1 = std::min(kSide, int((x1 - gt[0]) / gt[1]) + 2);
        const int r0 = std::max(0, int((y1 - gt[3]) / gt[5]) - 1),
                  r1 = std::min(kSide, int((y0 - gt[3]) / gt[5]) + 2);
        const cv::Rect window(c0, r0, c1 - c0, r1 - r0);
        cv::Mat after = grid(window).clone();
        GDALDatasetH mem =
            GDALCreate(GDALGetDriverByName("MEM"), "", window.width, window.height, 1, GDT_Float32, nullptr);
        const double windowGt[6] = {gt[0] + c0 * gt[1], gt[1], 0.0, gt[3] + r0 * gt[5], 0.0, gt[5]};
        int band = 1;
        double burn = kElevation;
        bool done = mem && GDALSetGeoTransform(mem, const_cast<double*>(windowGt)) == CE_None &&
                    GDALRasterIO(GDALGetRasterBand(mem, 1), GF_Write, 0, 0, window.width, window.height,
                                 after.data, window.width, window.height, GDT_Float32, 0, 0) == CE_None &&
                    GDALRasterizeGeometries(mem, 1, &band, 1, &polygon, nullptr, nullptr, &burn, nullptr,
                                            nullptr, nullptr) == CE_None &&
                    GDALRasterIO(GDALGetRasterBand(mem, 1), GF_Read, 0, 0, window.width, window.height,
                                 after.data, window.width, window.height, GDT_Float32, 0, 0) == CE_None;
        if (mem) {
            GDALClose(mem);
        }
        // The record of the window, before and after, then the grid.
        cv::Mat record;
        cv::merge(std::vector<cv::Mat>{grid(window), after}, record);
        done = done && bench::WriteRaster(record, windowGt, undo);
        after.copyTo(grid(window));
        return done;
    });
    OGR_G_DestroyGeometry(polygon);
    std::remove(undo.c_str());
    return ok && bench::KeepRaster(grid, gt, a[0]) ? 0 : 1;
});

}  // namespace
