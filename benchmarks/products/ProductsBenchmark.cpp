// The slope map and the write of an annotated orthophoto against GDAL's programs, each side a whole
// process from file to file with the program's overviews:
//   slope map - MakeSlopeMap of 1000 x 1000, 4000 x 4000 and 8000 x 8000 DEMs (the Olinda DEM
//               upsampled bilinearly, no data -9999): a plane fitted to the 7 x 7 cells around each cell,
//               three bands written, against gdaldem slope -p (Horn's 3 x 3 gradient, one band) and gdaladdo.
//               The check compares our slope tangent with GDAL's percentage;
//   annotated orthophoto - SaveImageAsGeoTiff of an 8000 x 8000 three-band image (the Landsat
//               scene's bands 3, 2, 1 upsampled, slope arrows burnt in) read from an untiled file,
//               against gdal_translate to the same tiled GeoTIFF and gdaladdo.
#include <QFile>

#include <gdal.h>
#include <opencv2/imgproc.hpp>

#include <cmath>
#include <cstdio>
#include <string>

#include "Bench.h"
#include "Checks.h"
#include "Data.h"
#include "products/SlopeArrows.h"
#include "products/SlopeMap.h"
#include "raster/RasterIO.h"

namespace {

using bench::Args;

const int kDemSide = bench::Scaled(4000);
const int kOrthoSide = bench::Scaled(8000);

const bench::Files File("products");

// Bands 3, 2, 1 of the scene as an 8-bit three-channel image.
bool ReadRgb(const char* path, cv::Mat* image, double* gt) {
    GDALDatasetH ds = GDALOpen(path, GA_ReadOnly);
    if (!ds) {
        return false;
    }
    const int w = GDALGetRasterXSize(ds), h = GDALGetRasterYSize(ds);
    image->create(h, w, CV_8UC3);
    int bands[3] = {3, 2, 1};
    const bool ok = GDALGetGeoTransform(ds, gt) == CE_None &&
                    GDALDatasetRasterIO(ds, GF_Read, 0, 0, w, h, image->data, w, h, GDT_Byte, 3, bands, 3,
                                        GSpacing(image->step), 1) == CE_None;
    GDALClose(ds);
    return ok;
}

bool MakeData() {
    return File.MakeOnce("1", [] {
        cv::Mat dem, ortho, scene;
        double demGt[6], orthoGt[6];
        if (!bench::ReadUpsampled(KV_BENCH_DEM, kDemSide, &dem, demGt) ||
            !bench::WriteRaster(dem, demGt, File("dem.tif"), -9999.0, bench::ProjectionOf(KV_BENCH_DEM)) ||
            !ReadRgb(KV_BENCH_ORTHO, &scene, orthoGt)) {
            return false;
        }
        // Upsampled, with the arrows of the DEM's slope burnt in as the arrow map has them.
        cv::resize(scene, ortho, cv::Size(kOrthoSide, kOrthoSide), 0, 0, cv::INTER_LINEAR);
        orthoGt[1] *= double(scene.cols) / kOrthoSide;
        orthoGt[5] *= double(scene.rows) / kOrthoSide;
        const cv::Mat slope = ComputeSlopeGrid(dem, -9999.0, demGt[1], demGt[5]);
        DrawSlopeArrows(ortho, orthoGt, slope, demGt, -9999.0,
                        MakeArrowScale(18.0, 0.7, 12.0, demGt[1], orthoGt[1]));
        // The source of both sides: an untiled GeoTIFF.
        const char* options[] = {"TILED=NO", nullptr};
        GDALDatasetH ds = GDALCreate(GDALGetDriverByName("GTiff"), File("ortho.tif").c_str(), kOrthoSide,
                                     kOrthoSide, 3, GDT_Byte, const_cast<char**>(options));
        if (!ds) {
            return false;
        }
        GDALSetGeoTransform(ds, orthoGt);
        const bool ok =
            GDALDatasetRasterIO(ds, GF_Write, 0, 0, kOrthoSide, kOrthoSide, ortho.data, kOrthoSide,
                                kOrthoSide, GDT_Byte, 3, nullptr, 3, GSpacing(ortho.step), 1) == CE_None;
        return kv::CloseDataset(ds) && ok;
    });
}

// ---- slope map

// The DEM of the slope map at that size (the 4000 x 4000 one is the arrows' DEM).
std::string SlopeDem(int side) {
    return side == kDemSide ? File("dem.tif") : File("dem" + std::to_string(side) + ".tif");
}

void RegisterSlope(const char* id, int side) {
    // The registration itself puts the pair on the harness's list.
    const bench::PairRegistration registration(id, [side](bench::Pair* pair) {
        if (!MakeData() || !File.MakeOnce("slope-sizes-1", [] {
                for (int other : {1000, bench::Scaled(8000)}) {
                    if (!bench::WriteUpsampled(KV_BENCH_DEM, other, SlopeDem(other), true)) {
                        return false;
                    }
                }
                return true;
            })) {
            return false;
        }
        const std::string dem = SlopeDem(side), ours = File("ours_slope.tif"),
                          theirs = File("gdal_slope.tif");
        pair->operation = "Slope map (MakeSlopeMap)";
        pair->input = std::to_string(side) + " x " + std::to_string(side) +
                      " DEM; ours fits 7 x 7 planes into 3 bands, the peer 3 x 3 into 1";
        pair->ours = {"ours", {bench::Self("slope-ours", {dem, ours})}, {ours}};
        pair->peer = {"gdaldem slope -p + gdaladdo",
                      {{"gdaldem", "slope", "-q", "-p", "-co", "TILED=YES", "-co", "BLOCKXSIZE=128", "-co",
                        "BLOCKYSIZE=128", dem, theirs},
                       bench::OverviewsLike(theirs, side, side)},
                      {theirs}};
        pair->check = bench::SlopesAgree(ours, theirs);
        return true;
    });
}

const bool kSlopes = [] {
    // The smallest stays as it is in a small run: the check's thresholds hold from 1000 x 1000 on.
    RegisterSlope("slope_map_1000", 1000);
    RegisterSlope("slope_map_4000", kDemSide);
    RegisterSlope("slope_map_8000", bench::Scaled(8000));
    return true;
}();

const bench::SideRegistration kSlopeOurs("slope-ours", [](const Args& a) {
    double noData = 0.0;
    return MakeSlopeMap(QFile::decodeName(a[0].c_str()), QFile::decodeName(a[1].c_str()), &noData) ? 0 : 1;
});

// ---- annotated orthophoto

const bench::PairRegistration kOrthoWrite("annotated_ortho", [](bench::Pair* pair) {
    if (!MakeData()) {
        return false;
    }
    const std::string ours = File("ours_ortho.tif"), theirs = File("gdal_ortho.tif");
    pair->operation = "Annotated orthophoto written (SaveImageAsGeoTiff)";
    pair->input = bench::Format("%d x %d RGB, read from an untiled GeoTIFF", kOrthoSide, kOrthoSide);
    pair->ours = {"ours", {bench::Self("ortho-ours", {File("ortho.tif"), ours})}, {ours}};
    pair->peer = {"gdal_translate + gdaladdo",
                  {{"gdal_translate", "-q", "-co", "TILED=YES", "-co", "BLOCKXSIZE=128", "-co",
                    "BLOCKYSIZE=128", "-co", "BIGTIFF=IF_SAFER", "-a_nodata", "0", File("ortho.tif"), theirs},
                   bench::OverviewsLike(theirs, kOrthoSide, kOrthoSide)},
                  {theirs}};
    pair->check = bench::RastersAgree(ours, theirs, 0.0, 0.0, 0.0, 0, -1.0);
    return true;
});

const bench::SideRegistration kOrthoOurs("ortho-ours", [](const Args& a) {
    cv::Mat image;
    double gt[6];
    return bench::ReadRaster(a[0], &image, gt, true) &&
                   SaveImageAsGeoTiff(image, gt, QString(), 0.0, QFile::decodeName(a[1].c_str()), nullptr)
               ? 0
               : 1;
});

}  // namespace
