// The counting and statistics pass of the colour classification's export against GDAL's statistics
// and histogram, timed in process over an 8000 x 8000 NDVI map (the NDVI of the Landsat scene
// upsampled bilinearly, no data -9999): ours is ClassifyValues with five classes over the map's
// range (counts, mean, standard deviation and the circle picture); the peer computes the band's
// statistics and its histogram of 256 buckets, as gdalinfo -stats -hist does. Both must find the
// same mean.
#include <QFile>

#include <gdal.h>
#include <gdal_utils.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "Bench.h"
#include "Data.h"
#include "document/KelvaroDoc.h"
#include "products/VegetationIndex.h"
#include "raster/ClassReport.h"
#include "raster/RasterIO.h"

namespace {

using bench::Args;

const int kSide = bench::Scaled(8000);

const bench::Files File("classification");

// The scene's NDVI upsampled to kSide x kSide, tiled and with its overviews, as the program's maps are.
bool MakeMap() {
    return File.MakeOnce("1", [] {
        GDALDatasetH scene = GDALOpen(KV_BENCH_SCENE, GA_ReadOnly);
        if (!scene) {
            return false;
        }
        CKelvaroDoc doc;
        const bool index =
            ComputeVegetationIndex(&doc, nullptr, GDALGetRasterBand(scene, 3), GDALGetRasterBand(scene, 4),
                                   0.0f, QFile::decodeName(File("ndvi_small.tif").c_str()), nullptr) == 1;
        GDALClose(scene);
        const std::string side = std::to_string(kSide);
        const char* args[] = {"-outsize",  side.c_str(), side.c_str(),     "-r",  "bilinear",       "-co",
                              "TILED=YES", "-co",        "BLOCKXSIZE=256", "-co", "BLOCKYSIZE=256", nullptr};
        GDALTranslateOptions* options = GDALTranslateOptionsNew(const_cast<char**>(args), nullptr);
        GDALDatasetH in = index ? GDALOpen(File("ndvi_small.tif").c_str(), GA_ReadOnly) : nullptr;
        GDALDatasetH out = in ? GDALTranslate(File("ndvi.tif").c_str(), in, options, nullptr) : nullptr;
        GDALTranslateOptionsFree(options);
        const bool ok = out && kv::BuildOverviews(out, nullptr, 5) != 0;
        for (GDALDatasetH ds : {out, in}) {
            if (ds) {
                GDALClose(ds);
            }
        }
        return ok;
    });
}

const bench::PairRegistration kClassify("classification", [](bench::Pair* pair) {
    if (!MakeMap()) {
        return false;
    }
    GDALDatasetH map = GDALOpen(File("ndvi.tif").c_str(), GA_ReadOnly);
    double range[2] = {0.0, 0.0};
    const bool ok = map && GDALComputeRasterMinMax(GDALGetRasterBand(map, 1), FALSE, range) == CE_None;
    if (map) {
        GDALClose(map);
    }
    if (!ok) {
        return false;
    }
    const std::string ours = File("ours.txt"), theirs = File("gdal.txt");
    pair->operation = "Classification statistics (ClassifyValues, 5 classes)";
    pair->input = bench::Format("%d x %d NDVI map", kSide, kSide);
    pair->ours = {"ours",
                  {bench::Self("classify-ours", {bench::Number(range[0]), bench::Number(range[1]), ours})},
                  {ours}};
    pair->peer = {"GDALComputeRasterStatistics + GDALGetRasterHistogramEx (gdalinfo -stats -hist)",
                  {bench::Self("classify-gdal", {theirs})},
                  {theirs, File("ndvi.tif.aux.xml")}};
    pair->check = [ours, theirs](std::string* agreed) {
        double a[2] = {0, 0}, b[2] = {0, 0};
        const bool read = std::sscanf(bench::ReadText(ours).c_str(), "%lf %lf", &a[0], &a[1]) == 2 &&
                          std::sscanf(bench::ReadText(theirs).c_str(), "%lf %lf", &b[0], &b[1]) == 2;
        char text[160];
        std::snprintf(text, sizeof text, "cells %.0f / %.0f, mean %.9g / %.9g", a[0], b[0], a[1], b[1]);
        *agreed = text;
        return read && a[0] == b[0] && a[0] > 0 &&
                       std::abs(a[1] - b[1]) <= 1e-6 * std::max(1.0, std::abs(b[1]))
                   ? std::string()
                   : *agreed;
    };
    return true;
});

const bench::SideRegistration kOurs("classify-ours", [](const Args& a) {
    GDALDatasetH map = GDALOpen(File("ndvi.tif").c_str(), GA_ReadOnly);
    if (!map) {
        return 1;
    }
    GDALRasterBandH band = GDALGetRasterBand(map, 1);
    const double lo = std::atof(a[0].c_str()), hi = std::atof(a[1].c_str());
    kv::ClassStyle style;
    for (int i = 1; i < 5; ++i) {
        style.upperBounds.push_back(lo + (hi - lo) * i / 5);
    }
    style.colours = {0x0000FF, 0x0080FF, 0x00FFFF, 0x00FF00, 0xFF0000};
    style.background = 200;
    style.radius = 3;
    kv::ClassTally tally;
    const bool ok = bench::TimeOperation([&] {
        return kv::ClassifyValues(band, kv::WholeRasterWindow(kSide, kSide),
                                  GDALGetRasterNoDataValue(band, nullptr), style, nullptr,
                                  &tally) == kv::WalkResult::Done;
    });
    GDALClose(map);
    char text[96];
    std::snprintf(text, sizeof text, "%lld %.17g", static_cast<long long>(tally.total), tally.mean);
    return ok && bench::KeepText(text, a[2]) ? 0 : 1;
});

const bench::SideRegistration kGdal("classify-gdal", [](const Args& a) {
    GDALDatasetH map = GDALOpen(File("ndvi.tif").c_str(), GA_ReadOnly);
    if (!map) {
        return 1;
    }
    GDALRasterBandH band = GDALGetRasterBand(map, 1);
    double stats[4] = {0, 0, 0, 0};
    GUIntBig total = 0;
    const bool ok = bench::TimeOperation([&] {
        if (GDALComputeRasterStatistics(band, FALSE, &stats[0], &stats[1], &stats[2], &stats[3], nullptr,
                                        nullptr) != CE_None) {
            return false;
        }
        std::vector<GUIntBig> buckets(256);
        const double width = (stats[1] - stats[0]) / 255.0;
        if (GDALGetRasterHistogramEx(band, stats[0] - width / 2, stats[1] + width / 2, 256, buckets.data(),
                                     FALSE, FALSE, nullptr, nullptr) != CE_None) {
            return false;
        }
        for (GUIntBig n : buckets) {
            total += n;
        }
        return true;
    });
    GDALClose(map);
    char text[96];
    std::snprintf(text, sizeof text, "%llu %.17g", static_cast<unsigned long long>(total), stats[2]);
    return ok && bench::KeepText(text, a[0]) ? 0 : 1;
});

}  // namespace
