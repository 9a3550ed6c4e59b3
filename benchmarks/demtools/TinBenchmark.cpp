// The TIN tools, on 1,000,000 points of the Olinda DEM (upsampled bilinearly to 4000 x 4000 cells of
// 2.5 m; points at random places, their heights interpolated, in a frame whose origin is the DEM's
// lower-left corner, whole centimetres in one CSV file):
//   DEM from TIN  - the points triangulated and sampled at cell centres on a grid of 5 m cells,
//                   written with the program's overviews: our side reads the CSV and runs the
//                   triangulation, the rasteriser and the GeoTIFF writer; gdal_grid -a linear reads
//                   the same CSV and fills the same grid, and gdaladdo adds the same overviews.
//                   Whole processes, with the same threads;
//   triangulation - TriangulateTin of the points against a plain CGAL Delaunay triangulation of
//                   them that lists its triangles, timed in process on the points in memory; the
//                   triangles themselves are compared, as triples of the points' indices.
// (At northings of 9,000 km gdal_grid's triangulation loses precision, hence the local frame.)
#include <gdal.h>
#include <vtkPolyData.h>

#include <CGAL/Delaunay_triangulation_2.h>
#include <CGAL/Exact_predicates_inexact_constructions_kernel.h>
#include <CGAL/Triangulation_vertex_base_with_info_2.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "Bench.h"
#include "Checks.h"
#include "Data.h"
#include "Points.h"
#include "demtools/Tin.h"
#include "demtools/TinRaster.h"
#include "raster/DEM.h"
#include "raster/RasterIO.h"

namespace {

using bench::Args;

const int kDemSide = bench::Scaled(4000);
// A sixteenth of them in a small run, as of the cells.
const long kPoints = bench::Small() ? 62'500 : 1'000'000;
constexpr double kCell = 5.0;

const bench::Files File("tin");

bool MakePoints() {
    return File.MakeOnce("1", [] {
        cv::Mat dem;
        double gt[6];
        if (!bench::ReadUpsampled(KV_BENCH_DEM, kDemSide, &dem, gt)) {
            return false;
        }
        gt[0] = 0.0;
        gt[3] = -gt[5] * kDemSide;
        const double xmax = gt[1] * kDemSide, ymax = gt[3];
        std::mt19937_64 rng(17);
        std::uniform_real_distribution<double> u(0.0, 1.0);
        std::vector<Wml::Point3> points;
        points.reserve(kPoints);
        for (long i = 0; i < kPoints; ++i) {
            const double x = std::round(u(rng) * xmax * 100.0) / 100.0;
            const double y = std::round(u(rng) * ymax * 100.0) / 100.0;
            const double z = bench::Bilinear(dem, (x - gt[0]) / gt[1] - 0.5, (y - gt[3]) / gt[5] - 0.5);
            points.emplace_back(x, y, std::round(z * 100.0) / 100.0);
        }
        return bench::WritePointsCsv(File("points.csv"), File("points.vrt"), points, "%.2f");
    });
}

// ---- DEM from TIN

const bench::PairRegistration kDemFromTin("dem_from_tin", [](bench::Pair* pair) {
    if (!MakePoints()) {
        return false;
    }
    double box[4];
    bench::BoxOf(bench::ReadPointsCsv(File("points.csv")), box);
    // Our grid: from the points' box, whole cells only.
    const int w = int((box[1] - box[0]) / kCell), h = int((box[3] - box[2]) / kCell);
    const std::string ours = File("ours.tif"), theirs = File("gdal_grid.tif");
    pair->operation = "DEM from TIN, 5 m cells";
    pair->input = bench::Format("%ld points in CSV, ", kPoints) + std::to_string(w) + " x " +
                  std::to_string(h) + " cells";
    pair->threads = bench::ParallelThreads();
    pair->ours = {
        "ours", {bench::Self("tin-ours", {File("points.csv"), bench::Number(kCell), ours})}, {ours}};
    pair->peer = {"gdal_grid -a linear + gdaladdo",
                  {bench::GdalGrid("linear:radius=0:nodata=-9999", box[0], box[0] + w * kCell, box[3],
                                   box[3] - h * kCell, w, h, File("points.vrt"), theirs),
                   bench::OverviewsLike(theirs, w, h)},
                  {theirs}};
    pair->check = bench::RastersAgree(ours, theirs, 1e-3, 1e-4, 1e-3, 1);
    return true;
});

// What DEM from TIN does with the points once they are taken from the drawing.
const bench::SideRegistration kTinOurs("tin-ours", [](const Args& a) {
    std::vector<Wml::Point3> points = bench::ReadPointsCsv(a[0]);
    const double cell = std::atof(a[1].c_str());
    double box[4];
    bench::BoxOf(points, box);
    const double cx = (box[0] + box[1]) / 2.0, cy = (box[2] + box[3]) / 2.0;
    for (Wml::Point3& p : points) {
        p = Wml::Point3(p.X() - cx, p.Y() - cy, p.Z());
    }
    vtkSmartPointer<vtkPolyData> tin = TriangulateTin(points, {});
    if (!tin) {
        return 1;
    }
    double bounds[6];
    tin->GetBounds(bounds);
    const cv::Mat raster = RasterizeTin(tin, bounds, cell, nullptr);
    tin = nullptr;
    const double gt[6] = {cx + bounds[0], cell, 0.0, cy + bounds[3], 0.0, -cell};
    return !raster.empty() &&
                   SaveImageAsGeoTiff(raster, gt, QString(), kNoData, QString::fromStdString(a[2]), nullptr)
               ? 0
               : 1;
});

// ---- the triangulation alone

const bench::PairRegistration kTriangulation("triangulation", [](bench::Pair* pair) {
    if (!MakePoints()) {
        return false;
    }
    const std::string ours = File("ours_triangles.tri"), theirs = File("cgal_triangles.tri");
    pair->operation = "Triangulation (TriangulateTin)";
    pair->input = bench::Format("%ld points", kPoints);
    pair->ours = {"ours", {bench::Self("triangulation-ours", {File("points.csv"), ours})}, {ours}};
    pair->peer = {"CGAL Delaunay_triangulation_2",
                  {bench::Self("triangulation-peer", {File("points.csv"), theirs})},
                  {theirs}};
    // Where no four points lie on one circle the Delaunay triangulation is unique: both must list
    // the same triangles.
    pair->check = bench::TrianglesAgree(ours, theirs);
    return true;
});

const bench::SideRegistration kTriangulationOurs("triangulation-ours", [](const Args& a) {
    const std::vector<Wml::Point3> points = bench::ReadPointsCsv(a[0]);
    vtkSmartPointer<vtkPolyData> tin;
    const bool ok = bench::TimeOperation([&] { return (tin = TriangulateTin(points, {})) != nullptr; });
    if (!ok || !bench::CheckRun()) {
        return ok ? 0 : 1;
    }
    // The triangulation keeps each place once, in the order of its first point.
    const std::vector<int> first = bench::FirstOfEach(points);
    std::vector<int> kept;
    for (size_t i = 0; i < points.size(); ++i) {
        if (first[i] == int(i)) {
            kept.push_back(int(i));
        }
    }
    return bench::KeepTriangles(bench::TrianglesOf(*tin, kept), a[1]) ? 0 : 1;
});

using Kernel = CGAL::Exact_predicates_inexact_constructions_kernel;
using Vertex = CGAL::Triangulation_vertex_base_with_info_2<int, Kernel>;
using Delaunay = CGAL::Delaunay_triangulation_2<
    Kernel, CGAL::Triangulation_data_structure_2<Vertex, CGAL::Triangulation_face_base_2<Kernel>>>;

const bench::SideRegistration kTriangulationPeer("triangulation-peer", [](const Args& a) {
    const std::vector<Wml::Point3> points = bench::ReadPointsCsv(a[0]);
    std::vector<bench::Triangle> triangles;
    bench::TimeOperation([&] {
        std::vector<std::pair<Kernel::Point_2, int>> indexed;
        indexed.reserve(points.size());
        for (size_t i = 0; i < points.size(); ++i) {
            indexed.emplace_back(Kernel::Point_2(points[i].X(), points[i].Y()), int(i));
        }
        Delaunay dt(indexed.begin(), indexed.end());
        triangles.reserve(dt.number_of_faces());
        for (auto f = dt.finite_faces_begin(); f != dt.finite_faces_end(); ++f) {
            triangles.push_back({f->vertex(0)->info(), f->vertex(1)->info(), f->vertex(2)->info()});
        }
        return true;
    });
    // A place given twice keeps one of its points: it is named by the first.
    const std::vector<int> first = bench::FirstOfEach(points);
    for (bench::Triangle& t : triangles) {
        for (int& i : t) {
            i = first[size_t(i)];
        }
    }
    return bench::KeepTriangles(triangles, a[1]) ? 0 : 1;
});

}  // namespace
