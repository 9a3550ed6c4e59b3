// The volume above and below a base level inside a rectangle of a 4000 x 4000 DEM (the Olinda DEM
// upsampled bilinearly, 3000 x 3000 cells inside the rectangle) against SAGA's Grid Volume, each
// side a whole process on one thread (SAGA's tool uses no more): ours is ComputeAoiVolumes on the DEM file,
// nine bicubic samples per cell; the peer cuts the rectangle out with gdal_translate and runs saga_cmd
// grid_calculus 2 once for each side of the level, summing cells. The volumes must agree within 0.5 %.
#include <QFile>

#include <gdal.h>

#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "Bench.h"
#include "Data.h"
#include "analysis/VolumeWorker.h"
#include "raster/DEM.h"

namespace {

using bench::Args;

const int kDemSide = bench::Scaled(4000);
// The rectangle: cells kFirst to kFirst + kCells - 1 on both axes.
const int kFirst = kDemSide / 8;
const int kCells = kDemSide * 3 / 4;

const bench::Files File("volume");

// The volumes SAGA reported, in order: the number after "Volume: ", which each run repeats.
std::vector<double> VolumesIn(const std::string& path) {
    std::vector<double> volumes;
    QFile file(QFile::decodeName(path.c_str()));
    if (file.open(QIODevice::ReadOnly)) {
        const std::string text = file.readAll().toStdString();
        for (size_t at = text.find("Volume: "); at != std::string::npos; at = text.find("Volume: ", at + 8)) {
            const char next = text.c_str()[at + 8];
            const double v = std::fabs(std::atof(text.c_str() + at + 8));
            if ((std::isdigit(static_cast<unsigned char>(next)) || next == '-') &&
                (volumes.empty() || volumes.back() != v)) {
                volumes.push_back(v);
            }
        }
    }
    return volumes;
}

const bench::PairRegistration kVolume("volume", [](bench::Pair* pair) {
    cv::Mat dem;
    double gt[6];
    if (!bench::ReadUpsampled(KV_BENCH_DEM, kDemSide, &dem, gt) ||
        !File.MakeOnce("1", [&] { return bench::WriteRaster(dem, gt, File("dem.tif")); })) {
        return false;
    }
    // The mean height inside the rectangle: a base level with terrain on both sides of it.
    const double level = std::round(cv::mean(dem(cv::Rect(kFirst, kFirst, kCells, kCells)))[0]);
    const double left = gt[0] + kFirst * gt[1], right = gt[0] + (kFirst + kCells) * gt[1];
    const double top = gt[3] + kFirst * gt[5], bottom = gt[3] + (kFirst + kCells) * gt[5];
    const std::string ours = File("ours.txt"), theirs = File("saga.txt"), cut = File("cut.tif");
    pair->operation = "Volume inside a rectangle (ComputeAoiVolumes)";
    pair->input = bench::Format("%d x %d DEM, %d x %d cells inside", kDemSide, kDemSide, kCells, kCells);
    // SAGA's Grid Volume sums its cells on one core whatever it is given: ours runs on one thread.
    pair->threads = 1;
    const std::string cores = "-c=" + std::to_string(pair->threads), first = std::to_string(kFirst),
                      cells = std::to_string(kCells);
    pair->ours = {
        "ours",
        {bench::Self("volume-ours", {File("dem.tif"), bench::Number(left), bench::Number(bottom),
                                     bench::Number(right), bench::Number(top), bench::Number(level), ours})},
        {ours}};
    std::vector<bench::Command> steps = {
        {"gdal_translate", "-q", "-srcwin", first, first, cells, cells, File("dem.tif"), cut}};
    // Above the level, then below it: SAGA measures one side per run.
    for (const char* method : {"0", "1"}) {
        steps.push_back({"saga_cmd", cores, "grid_calculus", "2", "-GRID", cut, "-METHOD", method, "-LEVEL",
                         bench::Number(level)});
    }
    pair->peer = {"gdal_translate + saga_cmd grid_calculus 2 (twice)", steps, {cut}, {}, theirs};
    pair->check = [ours, theirs](std::string* agreed) {
        double a[2] = {0, 0};
        const std::vector<double> b = VolumesIn(theirs);
        const bool read =
            std::sscanf(bench::ReadText(ours).c_str(), "%lf %lf", &a[0], &a[1]) == 2 && b.size() == 2;
        char text[160];
        std::snprintf(text, sizeof text, "above %.1f / %.1f, below %.1f / %.1f", a[0], read ? b[0] : 0.0,
                      a[1], read ? b[1] : 0.0);
        *agreed = text;
        return read && std::abs(a[0] - b[0]) <= 0.005 * b[0] && std::abs(a[1] - b[1]) <= 0.005 * b[1]
                   ? std::string()
                   : *agreed;
    };
    return true;
});

const bench::SideRegistration kOurs("volume-ours", [](const Args& a) {
    CDEM dem(nullptr);
    dem.m_pDataset = GDALOpen(a[0].c_str(), GA_ReadOnly);
    if (!dem.m_pDataset || GDALGetGeoTransform(dem.m_pDataset, dem.m_geoTransform) != CE_None) {
        return 1;
    }
    const double left = std::atof(a[1].c_str()), bottom = std::atof(a[2].c_str());
    const double right = std::atof(a[3].c_str()), top = std::atof(a[4].c_str());
    const std::vector<Wml::Point3> aoi = {
        {left, top, 0.0}, {right, top, 0.0}, {right, bottom, 0.0}, {left, bottom, 0.0}};
    const AoiVolumes volumes = ComputeAoiVolumes(dem, aoi, std::atof(a[5].c_str()));
    if (!volumes.overReference || !volumes.underReference) {
        return 1;
    }
    std::FILE* f = std::fopen(a[6].c_str(), "w");
    return f && std::fprintf(f, "%.6f %.6f\n", *volumes.overReference, *volumes.underReference) > 0 &&
                   std::fclose(f) == 0
               ? 0
               : 1;
});

}  // namespace
