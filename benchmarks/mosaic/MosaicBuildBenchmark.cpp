// The mosaic of the four orthophotos of FourCrops.h into one 3490 x 3520 tile, timed in process,
// every side reading the crops and writing a tiled GeoTIFF with the program's overviews:
//   ours     - CMosaicTile::WriteTile without balancing, seams softened (transition mode 4), on the
//              seamlines of the seamline build (run untimed before);
//   blenders - OpenCV's feather (sharpness 0.02) and multi-band (5 bands) blenders, each crop fed
//              with its region of the same seamlines as its mask;
//   GDAL     - the crops overlaid without blending, as gdalbuildvrt, gdal_translate and gdaladdo do
//              it (their library calls).
// The crops are cut from one image, so every mosaic holds the same pixels: the check compares
// them cell by cell.
#include <QFile>

#include <gdal.h>
#include <gdal_utils.h>

#include <opencv2/imgproc.hpp>
#include <opencv2/stitching/detail/blenders.hpp>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "Bench.h"
#include "Data.h"
#include "FourCrops.h"
#include "document/KelvaroDoc.h"
#include "mosaic/MosaicTile.h"
#include "platform/cad/Cad.h"
#include "raster/Ortho.h"

namespace {

using bench::Args;

constexpr int kWidth = 3490, kHeight = 3520;

const bench::Files File("mosaic");

// The seamline regions of the crops, one line per ring: the crop's index, then x y of each vertex.
bool WriteRegions(const std::vector<COrtho*>& images, const std::string& path) {
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) {
        return false;
    }
    for (size_t i = 0; i < images.size(); ++i) {
        for (CadEntity* e : images[i]->SeamlinePolylines) {
            std::fprintf(f, "%zu", i);
            for (int k = 0; k < CadPlineGetNumVers(e); ++k) {
                double x, y, z;
                CadPlineGetVer(e, k, &x, &y, &z);
                std::fprintf(f, " %.17g %.17g", x, y);
            }
            std::fputc('\n', f);
        }
    }
    return std::fclose(f) == 0;
}

const bench::SideRegistration kRegions(
    "mosaic-regions",
    [](const Args& a) {
        bench::CropsProject project;
        return project.Open() && project.BuildSeamlines() && WriteRegions(project.images, a[0]) ? 0 : 1;
    },
    bench::Qt::Widgets);

// The blenders sum weighted 16-bit pixels, which rounds the pixels near a seam (where the weights
// are small) by up to a few tens: their mosaic must stay that close to ours and close on average.
constexpr double kBlendTolerance = 64.0;
constexpr double kBlendMean = 3.0;

bool MosaicPair(bench::Pair* pair, const char* peer, const char* side, double tolerance) {
    if (bench::FourCrops().isEmpty() || !File.MakeOnce("regions-1", [] {
            return bench::Run(bench::Self("mosaic-regions", {File("regions.txt")}));
        })) {
        return false;
    }
    const std::string ours = File("ours.tif"), theirs = File(std::string(side) + ".tif");
    pair->operation = "Mosaic of four orthophotos into one tile (CMosaicTile::WriteTile)";
    pair->input = "four 2000 x 2000 crops, 3490 x 3520 tile";
    pair->ours = {"ours", {bench::Self("mosaic-ours", {ours})}, {ours}};
    pair->peer = {peer, {bench::Self(side, {File("regions.txt"), theirs})}, {theirs}};
    pair->check = [ours, theirs, tolerance](std::string* agreed) {
        const bench::Agreement a = bench::CompareRasters(ours, theirs, tolerance, 0, -1.0);
        const std::string differs = bench::Judge(a, 0.0, 0.0, agreed);
        return differs.empty() && a.meanAbs > kBlendMean ? *agreed : differs;
    };
    return true;
}

const bench::PairRegistration kFeather("mosaic_feather", [](bench::Pair* pair) {
    return MosaicPair(pair, "cv::detail::FeatherBlender", "mosaic-feather", kBlendTolerance);
});
const bench::PairRegistration kMultiBand("mosaic_multiband", [](bench::Pair* pair) {
    return MosaicPair(pair, "cv::detail::MultiBandBlender", "mosaic-multiband", kBlendTolerance);
});
const bench::PairRegistration kGdal("mosaic_gdal", [](bench::Pair* pair) {
    return MosaicPair(pair, "GDALBuildVRT + GDALTranslate + overviews, no blend", "mosaic-gdal", 1.0);
});

const bench::SideRegistration kOurs(
    "mosaic-ours",
    [](const Args& a) {
        bench::CropsProject project;
        if (!project.Open() || !project.BuildSeamlines()) {
            return 1;
        }
        const double* gt = project.images[0]->m_geoTransform;
        CMosaicTile tile(&project.doc);
        tile.m_strOutputPath = QFile::decodeName(a[0].c_str());
        tile.m_strName = "mosaic";
        tile.m_minX = gt[0];
        tile.m_maxX = gt[0] + kWidth * gt[1];
        tile.m_maxY = gt[3];
        tile.m_minY = gt[3] + kHeight * gt[5];
        const double tileGt[6] = {gt[0], gt[1], 0, gt[3], 0, gt[5]};
        std::copy(tileGt, tileGt + 6, tile.m_geoTransform);
        tile.m_width = kWidth;
        tile.m_height = kHeight;
        const Wml::Point2 corners[4] = {{tile.m_minX, tile.m_minY},
                                        {tile.m_maxX, tile.m_minY},
                                        {tile.m_maxX, tile.m_maxY},
                                        {tile.m_minX, tile.m_maxY}};
        tile.m_Outline = CPgon(corners, 4);
        tile.m_Orthos = project.images;
        tile.m_nTransitionMode = 4;
        return bench::TimeOperation(
                   [&] { return tile.WriteTile(0, nullptr, nullptr) == CMosaicTile::kWritten; })
                   ? 0
                   : 1;
    },
    bench::Qt::Widgets);

// The mosaic as an 8-bit three-band tiled GeoTIFF with the program's overviews.
bool WriteMosaic(const cv::Mat& mosaic, const double* gt, const std::string& path) {
    if (!bench::WriteRaster(mosaic, gt, path, 0.0)) {
        return false;
    }
    GDALDatasetH ds = GDALOpen(path.c_str(), GA_Update);
    const bool ok = ds && bench::BuildOverviewsLike(ds);
    if (ds) {
        GDALClose(ds);
    }
    return ok;
}

// Each crop's region of the seamlines in the crop's cells.
std::vector<cv::Mat> RegionMasks(const std::string& path, const std::vector<const double*>& gts) {
    std::vector<std::vector<std::vector<cv::Point>>> rings(gts.size());
    std::FILE* f = std::fopen(path.c_str(), "rb");
    char line[1 << 16];
    while (f && std::fgets(line, sizeof line, f)) {
        char* at = line;
        const size_t index = std::strtoul(at, &at, 10);
        if (index >= gts.size()) {
            continue;
        }
        std::vector<cv::Point>& ring = rings[index].emplace_back();
        for (char* next = at;; at = next) {
            const double x = std::strtod(at, &next);
            if (next == at) {
                break;
            }
            const double y = std::strtod(at = next, &next);
            const double* gt = gts[index];
            ring.emplace_back(int(std::lround((x - gt[0]) / gt[1])), int(std::lround((y - gt[3]) / gt[5])));
        }
    }
    if (f) {
        std::fclose(f);
    }
    std::vector<cv::Mat> masks;
    for (const auto& r : rings) {
        cv::Mat mask(bench::kCrop, bench::kCrop, CV_8UC1, cv::Scalar(0));
        cv::fillPoly(mask, r, cv::Scalar(255));
        masks.push_back(mask);
    }
    return masks;
}

template <class Blender>
int Blend(Blender& blender, const Args& a) {
    const QStringList paths = bench::FourCrops();
    double gts[4][6];
    for (int i = 0; i < 4; ++i) {
        GDALDatasetH ds = GDALOpen(QFile::encodeName(paths[i]).constData(), GA_ReadOnly);
        if (!ds || GDALGetGeoTransform(ds, gts[i]) != CE_None) {
            return 1;
        }
        GDALClose(ds);
    }
    const std::string regions = a[0];
    return bench::TimeOperation([&] {
        const std::vector<cv::Mat> masks = RegionMasks(regions, {gts[0], gts[1], gts[2], gts[3]});
        blender.prepare(cv::Rect(0, 0, kWidth, kHeight));
        for (int i = 0; i < 4; ++i) {
            cv::Mat crop, wide;
            if (!bench::ReadRaster(QFile::encodeName(paths[i]).toStdString(), &crop, nullptr, true)) {
                return false;
            }
            crop.convertTo(wide, CV_16SC3);
            blender.feed(wide, masks[size_t(i)], bench::kCorners[i]);
        }
        cv::Mat result, mask, mosaic;
        blender.blend(result, mask);
        result.convertTo(mosaic, CV_8UC3);
        return WriteMosaic(mosaic, gts[0], a[1]);
    })
               ? 0
               : 1;
}

const bench::SideRegistration kFeatherSide("mosaic-feather", [](const Args& a) {
    cv::detail::FeatherBlender blender(0.02f);
    return Blend(blender, a);
});

const bench::SideRegistration kMultiBandSide("mosaic-multiband", [](const Args& a) {
    cv::detail::MultiBandBlender blender(false, 5);
    return Blend(blender, a);
});

const bench::SideRegistration kGdalSide("mosaic-gdal", [](const Args& a) {
    const QStringList paths = bench::FourCrops();
    return bench::TimeOperation([&] {
        std::vector<GDALDatasetH> crops;
        for (const QString& path : paths) {
            crops.push_back(GDALOpen(QFile::encodeName(path).constData(), GA_ReadOnly));
        }
        const std::string vrtPath = a[1] + ".vrt";
        GDALDatasetH vrt =
            GDALBuildVRT(vrtPath.c_str(), int(crops.size()), crops.data(), nullptr, nullptr, nullptr);
        const char* args[] = {"-co", "TILED=YES", "-co", "BLOCKXSIZE=128", "-co", "BLOCKYSIZE=128", nullptr};
        GDALTranslateOptions* options = GDALTranslateOptionsNew(const_cast<char**>(args), nullptr);
        GDALDatasetH out = vrt ? GDALTranslate(a[1].c_str(), vrt, options, nullptr) : nullptr;
        GDALTranslateOptionsFree(options);
        const bool ok = out && bench::BuildOverviewsLike(out);
        for (GDALDatasetH ds : {out, vrt}) {
            if (ds) {
                GDALClose(ds);
            }
        }
        for (GDALDatasetH crop : crops) {
            GDALClose(crop);
        }
        std::remove(vrtPath.c_str());
        return ok;
    })
               ? 0
               : 1;
});

}  // namespace
