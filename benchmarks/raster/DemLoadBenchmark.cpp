// Loading a whole 8000 x 8000 Float32 DEM into memory, timed in process: CDEM::LoadData against one
// GDAL RasterIO call reading the same band. The file is made once as the program's DEM writer
// makes them (tiled, no data -9999); both sides must hold the same cells.
#include <QFile>

#include <gdal.h>

#include <string>
#include <vector>

#include "Bench.h"
#include "Data.h"
#include "raster/DEM.h"

namespace {

using bench::Args;

const int kSide = bench::Scaled(8000);

const bench::Files File("demload");

bool MakeDem() {
    return File.MakeOnce("1", [] {
        cv::Mat dem(kSide, kSide, CV_32FC1);
        for (int r = 0; r < kSide; ++r) {
            float* row = dem.ptr<float>(r);
            for (int c = 0; c < kSide; ++c) {
                row[c] = (c + r) % 997 == 0 ? -9999.0f : 100.0f + 0.01f * c + 0.02f * r;
            }
        }
        const double gt[6] = {500000.0, 0.5, 0.0, 9000000.0, 0.0, -0.5};
        return bench::WriteRaster(dem, gt, File("dem.tif"));
    });
}

const bench::PairRegistration kLoad("dem_load", [](bench::Pair* pair) {
    if (!MakeDem()) {
        return false;
    }
    const std::string ours = File("ours.tif"), theirs = File("rasterio.tif");
    pair->operation = "DEM load (CDEM::LoadData)";
    pair->input = bench::Format("%d x %d Float32 DEM, 256 x 256 tiles", kSide, kSide);
    pair->ours = {"ours", {bench::Self("load-ours", {File("dem.tif"), ours})}, {ours}};
    pair->peer = {
        "GDALRasterIO of the band", {bench::Self("load-rasterio", {File("dem.tif"), theirs})}, {theirs}};
    pair->check = bench::RastersAgree(ours, theirs, 0.0);
    return true;
});

const bench::SideRegistration kOurs("load-ours", [](const Args& a) {
    CDEM dem(nullptr);
    const bool ok = bench::TimeOperation([&] {
        dem.m_pDataset = GDALOpen(a[0].c_str(), GA_ReadOnly);
        return dem.m_pDataset && dem.LoadData();
    });
    GDALDatasetH ds = GDALOpen(a[0].c_str(), GA_ReadOnly);
    double gt[6] = {0, 1, 0, 0, 0, -1};
    if (ds) {
        GDALGetGeoTransform(ds, gt);
        GDALClose(ds);
    }
    return ok && bench::KeepRaster(dem.m_grid, gt, a[1]) ? 0 : 1;
});

const bench::SideRegistration kRasterIO("load-rasterio", [](const Args& a) {
    cv::Mat grid(kSide, kSide, CV_32FC1);
    double gt[6] = {0, 1, 0, 0, 0, -1};
    const bool ok = bench::TimeOperation([&] {
        GDALDatasetH ds = GDALOpen(a[0].c_str(), GA_ReadOnly);
        const bool read = ds && GDALGetGeoTransform(ds, gt) == CE_None &&
                          GDALRasterIO(GDALGetRasterBand(ds, 1), GF_Read, 0, 0, kSide, kSide, grid.data,
                                       kSide, kSide, GDT_Float32, 0, 0) == CE_None;
        if (ds) {
            GDALClose(ds);
        }
        return read;
    });
    return ok && bench::KeepRaster(grid, gt, a[1]) ? 0 : 1;
});

}  // namespace
