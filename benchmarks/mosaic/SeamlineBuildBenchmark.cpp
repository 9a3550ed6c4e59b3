// The seamline build of the four orthophotos of FourCrops.h against OpenCV's seam finders, timed in
// process: ours is BuildOrthoSeamlines, everything from reading the images at the working scale
// (s = 4, 500 x 500 each) to the regions in the temporary drawing with the "pol" and "sml" files
// written into the project folder; the peers read the same four images at the same scale and find
// the seams among them with the dynamic-programming (COLOR_GRAD) or the graph-cut (COST_COLOR)
// seam finder. The two partitions are compared cell by cell: the share of the mosaic to which both
// give the same image.
#include <QFile>

#include <gdal.h>

#include <opencv2/imgproc.hpp>
#include <opencv2/stitching/detail/seam_finders.hpp>

#include <cmath>
#include <cstdio>
#include <memory>
#include <vector>

#include "Bench.h"
#include "Checks.h"
#include "Data.h"
#include "FourCrops.h"
#include "document/KelvaroDoc.h"
#include "platform/cad/Cad.h"
#include "raster/Ortho.h"

namespace {

using bench::Args;

constexpr int kScale = 4;

const bench::Files File("seamlines");

// The share of the mosaic's cells (at the working scale) to which both sides give the same image.
// The seams of the two differ by design (ours routed by the A* search between image centres, the
// peer's by its own cost): the check asks that they part on few cells, which a wrong image for a
// region or a region missing would exceed.
constexpr double kSameShare = 0.85;

bool SeamPair(bench::Pair* pair, const char* peer, const char* side) {
    if (bench::FourCrops().isEmpty()) {
        return false;
    }
    const std::string ours = File("ours.tif"), theirs = File(std::string(side) + ".tif");
    pair->operation = "Seamline build of four orthophotos (BuildOrthoSeamlines)";
    pair->input = "four 2000 x 2000 crops, working scale 1/4";
    pair->ours = {"ours", {bench::Self("seamlines-ours", {ours})}, {ours}};
    pair->peer = {peer, {bench::Self(side, {theirs})}, {theirs}};
    pair->check = bench::PartitionsAgree(ours, theirs, kSameShare);
    return true;
}

const bench::PairRegistration kDp("seamlines_dp", [](bench::Pair* pair) {
    return SeamPair(pair, "cv::detail::DpSeamFinder", "seamlines-dp");
});
const bench::PairRegistration kGraphCut("seamlines_graphcut", [](bench::Pair* pair) {
    return SeamPair(pair, "cv::detail::GraphCutSeamFinder", "seamlines-graphcut");
});

// The mosaic's cells (at the working scale) labelled with the image whose mask alone covers them
// (1 to 4), 255 where several masks cover a cell and 0 where none does; each mask placed at its
// corner. Kept for the check as a raster.
bool KeepLabels(const std::vector<cv::Mat>& masks, const std::vector<cv::Point>& corners,
                const std::string& path) {
    if (!bench::CheckRun()) {
        return true;
    }
    cv::Rect all;
    for (size_t i = 0; i < masks.size(); ++i) {
        all |= cv::Rect(corners[i], masks[i].size());
    }
    cv::Mat count(all.size(), CV_8UC1, cv::Scalar(0)), labels(all.size(), CV_8UC1, cv::Scalar(0));
    for (size_t i = 0; i < masks.size(); ++i) {
        const cv::Rect place(corners[i] - all.tl(), masks[i].size());
        cv::Mat counted = count(place), labelled = labels(place);
        cv::add(counted, cv::Scalar(1), counted, masks[i]);
        labelled.setTo(cv::Scalar(double(i + 1)), masks[i]);
    }
    labels.setTo(cv::Scalar(255), count > 1);
    return bench::WriteRaster(labels, nullptr, path, 0.0);
}

const bench::SideRegistration kOurs(
    "seamlines-ours",
    [](const Args& a) {
        bench::CropsProject project;
        if (!project.Open() || !bench::TimeOperation([&] { return project.BuildSeamlines(); })) {
            return 1;
        }
        const std::vector<COrtho*>& images = project.images;
        // The regions rasterised at the working scale over the mosaic's box.
        std::vector<cv::Mat> masks;
        std::vector<cv::Point> corners;
        const double pixel = bench::kPixel * kScale;
        for (COrtho* image : images) {
            const double* gt = image->m_geoTransform;
            std::vector<std::vector<cv::Point>> rings;
            for (CadEntity* e : image->SeamlinePolylines) {
                std::vector<cv::Point>& ring = rings.emplace_back();
                for (int k = 0; k < CadPlineGetNumVers(e); ++k) {
                    double x, y, z;
                    CadPlineGetVer(e, k, &x, &y, &z);
                    ring.emplace_back(int(std::lround((x - gt[0]) / pixel)),
                                      int(std::lround((gt[3] - y) / pixel)));
                }
            }
            cv::Mat mask(bench::kCrop / kScale, bench::kCrop / kScale, CV_8UC1, cv::Scalar(0));
            cv::fillPoly(mask, rings, cv::Scalar(255));
            masks.push_back(mask);
        }
        // Placed where the peers place them.
        for (const cv::Point& corner : bench::kCorners) {
            corners.emplace_back(corner.x / kScale, corner.y / kScale);
        }
        return KeepLabels(masks, corners, a[0]) ? 0 : 1;
    },
    bench::Qt::Widgets);

// The crops read at the working scale from their overviews, as the build reads them.
template <class Finder>
int FindSeams(Finder& finder, const std::string& output) {
    const QStringList paths = bench::FourCrops();
    std::vector<cv::Mat> masks(4);
    std::vector<cv::Point> corners;
    for (const cv::Point& corner : bench::kCorners) {
        corners.emplace_back(corner.x / kScale, corner.y / kScale);
    }
    const bool ok = bench::TimeOperation([&] {
        std::vector<cv::UMat> images(4), found(4);
        for (int i = 0; i < 4; ++i) {
            GDALDatasetH ds = GDALOpen(QFile::encodeName(paths[i]).constData(), GA_ReadOnly);
            const int side = bench::kCrop / kScale;
            cv::Mat image(side, side, CV_8UC3);
            const bool read =
                ds && GDALDatasetRasterIO(ds, GF_Read, 0, 0, bench::kCrop, bench::kCrop, image.data, side,
                                          side, GDT_Byte, 3, nullptr, 3, GSpacing(image.step), 1) == CE_None;
            if (ds) {
                GDALClose(ds);
            }
            if (!read) {
                return false;
            }
            image.convertTo(images[i], CV_32FC3);
            cv::Mat(image.size(), CV_8U, cv::Scalar(255)).copyTo(found[i]);
        }
        finder.find(images, corners, found);
        for (int i = 0; i < 4; ++i) {
            found[i].copyTo(masks[i]);
        }
        return true;
    });
    return ok && KeepLabels(masks, corners, output) ? 0 : 1;
}

const bench::SideRegistration kDpSide("seamlines-dp", [](const Args& a) {
    cv::detail::DpSeamFinder finder(cv::detail::DpSeamFinder::COLOR_GRAD);
    return FindSeams(finder, a[0]);
});

const bench::SideRegistration kGraphCutSide("seamlines-graphcut", [](const Args& a) {
    cv::detail::GraphCutSeamFinder finder(cv::detail::GraphCutSeamFinderBase::COST_COLOR);
    return FindSeams(finder, a[0]);
});

}  // namespace
