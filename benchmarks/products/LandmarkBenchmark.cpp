// The landmark transform's re-gridding against gdal_grid -a linear, each side a whole process with
// the same threads: the Olinda DEM upsampled bilinearly to 1000 x 1000 cells (a million points),
// its cell centres moved by a similarity (5 degrees, scale 1.01, a shift) in the terrain's local
// frame and written to CSV without loss. Our side reads them, triangulates them and samples the TIN
// on the grid the landmark transform lays over them (cell centres on the moved points' west and
// north extremes, the DEM's cell size), then writes the GeoTIFF with the program's overviews;
// gdal_grid reads the same CSV and fills the same grid, and gdaladdo adds the same overviews.
//
// The moved cell centres keep the DEM's squares, whose four corners lie on one circle, so either
// diagonal of a square is a Delaunay edge: where the two triangulations chose differently (about a
// third of the cells), a cell may differ by the bend of its square, a few decimetres at most.
#include <vtkPolyData.h>
#include <vtkTransform.h>

#include <cmath>
#include <cstdlib>
#include <string>
#include <vector>

#include "Bench.h"
#include "Data.h"
#include "Points.h"
#include "demtools/Tin.h"
#include "products/LandmarkTransform.h"
#include "raster/DEM.h"
#include "raster/RasterIO.h"

namespace {

using bench::Args;

// As it is in a small run too: a smaller grid moves too few points for the check's thresholds.
constexpr int kDemSide = 1000;

const bench::Files File("landmark");

vtkSmartPointer<vtkTransform> Similarity() {
    auto transform = vtkSmartPointer<vtkTransform>::New();
    transform->PostMultiply();
    transform->RotateZ(5.0);
    transform->Scale(1.01, 1.01, 1.01);
    transform->Translate(120.0, -80.0, 3.0);
    return transform;
}

bool MakePoints(double* cell) {
    cv::Mat dem;
    double gt[6];
    if (!bench::ReadUpsampled(KV_BENCH_DEM, kDemSide, &dem, gt)) {
        return false;
    }
    *cell = gt[1];
    return File.MakeOnce("1", [&] {
        const double offset[3] = {gt[0] + gt[1] * kDemSide / 2, gt[3] + gt[5] * kDemSide / 2, 0.0};
        double extent[4];
        const std::vector<Wml::Point3> points =
            products::TerrainCellPoints(dem, gt, offset, Similarity(), extent);
        return bench::WritePointsCsv(File("points.csv"), File("points.vrt"), points, "%.17g");
    });
}

const bench::PairRegistration kRegrid("landmark_regrid", [](bench::Pair* pair) {
    double p = 0.0;
    if (!MakePoints(&p)) {
        return false;
    }
    // The grid of both sides is laid over the points as the file holds them.
    double extent[4];
    bench::BoxOf(bench::ReadPointsCsv(File("points.csv")), extent);
    const int w = int(std::nearbyint((extent[1] - extent[0]) / p)) + 1;
    const int h = int(std::nearbyint((extent[3] - extent[2]) / p)) + 1;
    const double x0 = extent[0] - p / 2, y0 = extent[3] + p / 2;
    const std::string ours = File("ours.tif"), theirs = File("gdal_grid.tif");
    pair->operation = "Landmark transform re-gridding (TriangulateTin + GridTerrainTin)";
    pair->input = bench::Format("%.3g M moved cell centres, ", kDemSide * double(kDemSide) / 1e6) +
                  std::to_string(w) + " x " + std::to_string(h) + " cells";
    pair->threads = bench::ParallelThreads();
    pair->ours = {"ours", {bench::Self("regrid-ours", {File("points.csv"), bench::Number(p), ours})}, {ours}};
    pair->peer = {"gdal_grid -a linear + gdaladdo",
                  {bench::GdalGrid("linear:radius=0:nodata=-9999", x0, x0 + w * p, y0, y0 - h * p, w, h,
                                   File("points.vrt"), theirs),
                   bench::OverviewsLike(theirs, w, h)},
                  {theirs}};
    pair->check = bench::RastersAgree(ours, theirs, 0.5, 0.0, 1e-3, 1);
    return true;
});

const bench::SideRegistration kRegridOurs("regrid-ours", [](const Args& a) {
    const std::vector<Wml::Point3> points = bench::ReadPointsCsv(a[0]);
    const double cell = std::atof(a[1].c_str());
    double extent[4];
    bench::BoxOf(points, extent);
    vtkSmartPointer<vtkPolyData> tin = TriangulateTin(points, {});
    if (!tin) {
        return 1;
    }
    double corner[2];
    const cv::Mat grid = products::GridTerrainTin(tin, extent, cell, cell, corner);
    tin = nullptr;
    const double gt[6] = {corner[0], cell, 0.0, corner[1], 0.0, -cell};
    return !grid.empty() &&
                   SaveImageAsGeoTiff(grid, gt, QString(), kNoData, QString::fromStdString(a[2]), nullptr)
               ? 0
               : 1;
});

}  // namespace
