// The difference of two DEMs against gdal_calc.py, each side a whole process writing the tiled
// difference raster with the program's overviews: two 4000 x 4000 DEMs from the Olinda DEM
// (upsampled bilinearly to 2.5 m cells), the second shifted by 500 columns and 300 rows, bent by a
// few metres and with a hole, overlapping in 3500 x 3700 cells. Ours is ComputeDemDifference; the
// peer gdal_calc.py --calc="A-B" --extent=intersect and gdaladdo.
#include <QFile>

#include <gdal.h>

#include <cmath>
#include <string>

#include "Bench.h"
#include "Data.h"
#include "analysis/DemDifference.h"
#include "raster/DEM.h"

namespace {

using bench::Args;

const int kSide = bench::Scaled(4000);
const int kShiftColumns = kSide / 8;
const int kShiftRows = kSide * 3 / 40;

const bench::Files File("subtract");

bool MakeDems() {
    return File.MakeOnce("1", [] {
        cv::Mat dem;
        double gt[6];
        if (!bench::ReadUpsampled(KV_BENCH_DEM, kSide, &dem, gt)) {
            return false;
        }
        cv::Mat b(kSide, kSide, CV_32FC1);
        for (int r = 0; r < kSide; ++r) {
            for (int c = 0; c < kSide; ++c) {
                const int sc = std::min(c + kShiftColumns, kSide - 1),
                          sr = std::min(r + kShiftRows, kSide - 1);
                const bool hole =
                    std::abs(c - kSide / 2) < kSide / 40 && std::abs(r - kSide / 2) < kSide / 40;
                b.at<float>(r, c) =
                    hole ? -9999.0f : dem.at<float>(sr, sc) + float(3.0 * std::sin(c * 0.01 + r * 0.003));
            }
        }
        const double gb[6] = {gt[0] + kShiftColumns * gt[1], gt[1], 0.0,
                              gt[3] + kShiftRows * gt[5],    0.0,   gt[5]};
        return bench::WriteRaster(dem, gt, File("a.tif")) && bench::WriteRaster(b, gb, File("b.tif"));
    });
}

const bench::PairRegistration kSubtract("subtract", [](bench::Pair* pair) {
    if (!MakeDems()) {
        return false;
    }
    const std::string ours = File("ours.tif"), theirs = File("gdal_calc.tif");
    pair->operation = "DEM difference (ComputeDemDifference)";
    pair->input = bench::Format("two %d x %d DEMs overlapping in %d x %d cells", kSide, kSide,
                                kSide - kShiftColumns, kSide - kShiftRows);
    pair->ours = {"ours", {bench::Self("subtract-ours", {File("a.tif"), File("b.tif"), ours})}, {ours}};
    pair->peer = {
        "gdal_calc.py + gdaladdo",
        {{"gdal_calc.py", "--quiet", "--overwrite", "-A", File("a.tif"), "-B", File("b.tif"), "--calc=A-B",
          "--extent=intersect", "--type=Float32", "--NoDataValue=-9999", "--co=TILED=YES",
          "--co=BLOCKXSIZE=128", "--co=BLOCKYSIZE=128", "--co=BIGTIFF=IF_NEEDED", "--outfile=" + theirs},
         bench::OverviewsLike(theirs, kSide - kShiftColumns, kSide - kShiftRows)},
        {theirs}};
    pair->peer.startup = {bench::PythonStartup("gdal_calc")};
    pair->check = bench::RastersAgree(ours, theirs, 1e-4);
    return true;
});

bool OpenDem(const std::string& path, CDEM* dem) {
    dem->m_path = QFile::decodeName(path.c_str());
    dem->m_pDataset = GDALOpen(path.c_str(), GA_ReadOnly);
    return dem->m_pDataset && GDALGetGeoTransform(dem->m_pDataset, dem->m_geoTransform) == CE_None;
}

const bench::SideRegistration kOurs("subtract-ours", [](const Args& a) {
    CDEM first(nullptr), second(nullptr);
    if (!OpenDem(a[0], &first) || !OpenDem(a[1], &second)) {
        return 1;
    }
    const DemDifference d =
        ComputeDemDifference(first, second, 0.0, QFile::decodeName(a[2].c_str()), nullptr);
    return d.status == DemDifference::Done ? 0 : 1;
});

}  // namespace
