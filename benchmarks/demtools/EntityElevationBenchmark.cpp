// Heights between drawing entities and DEMs, on the Olinda DEM upsampled bilinearly to 4000 x 4000
// cells of 2.5 m:
//   rasterise - the DEM's own 1 m contour lines (3-D lines from GDAL's contour generator) burnt
//               into it: our side loads the DEM, burns the lines as the command does and saves the
//               DEM (a new file with the program's overviews); gdal_rasterize -3d -at (every cell a
//               line touches, as our walk along each side writes every cell it crosses) burns the
//               same lines into a copy of the DEM in place, and gdaladdo gives it the same
//               overviews. Whole processes; the copy is made untimed;
//   polyline  - one closed polyline of 100,000 vertices triangulated with its sides as edges:
//               MakeEntityPatch against a plain CGAL constrained Delaunay triangulation of the same
//               vertices (inserted in spatial order) and sides, timed in process.
#include <QFile>

#include <gdal.h>
#include <gdal_alg.h>
#include <ogr_api.h>
#include <vtkPolyData.h>

#include <CGAL/Constrained_Delaunay_triangulation_2.h>
#include <CGAL/Exact_predicates_inexact_constructions_kernel.h>
#include <CGAL/Spatial_sort_traits_adapter_2.h>
#include <CGAL/property_map.h>
#include <CGAL/spatial_sort.h>

#include <cmath>
#include <map>
#include <memory>
#include <numeric>
#include <string>
#include <vector>

#include "Bench.h"
#include "Checks.h"
#include "Data.h"
#include "demtools/EntityElevation.h"
#include "raster/DEM.h"

namespace {

using bench::Args;

const int kDemSide = bench::Scaled(4000);
constexpr int kPolylineVertices = 100'000;
// The longest piece of a line in a cell that our walk may step over, in cell widths.
constexpr double kGrazing = 0.25;

const bench::Files File("entity");

// The upsampled DEM and its 1 m contour lines as 3-D lines in a shapefile.
bool MakeData() {
    return File.MakeOnce("1", [] {
        if (!bench::WriteUpsampled(KV_BENCH_DEM, kDemSide, File("dem.tif"))) {
            return false;
        }
        GDALDatasetH source = GDALOpen(File("dem.tif").c_str(), GA_ReadOnly);
        GDALDriverH shp = GDALGetDriverByName("ESRI Shapefile");
        GDALDatasetH vectors =
            source && shp ? GDALCreate(shp, File("contours.shp").c_str(), 0, 0, 0, GDT_Unknown, nullptr)
                          : nullptr;
        bool ok = false;
        if (vectors) {
            OGRLayerH layer = GDALDatasetCreateLayer(vectors, "contours", nullptr, wkbLineString25D, nullptr);
            OGRFieldDefnH field = OGR_Fld_Create("elev", OFTReal);
            ok = layer && OGR_L_CreateField(layer, field, TRUE) == OGRERR_NONE;
            OGR_Fld_Destroy(field);
            const char* options[] = {"LEVEL_INTERVAL=1", "ELEV_FIELD=0", "NODATA=-9999", nullptr};
            ok = ok && GDALContourGenerateEx(GDALGetRasterBand(source, 1), layer, const_cast<char**>(options),
                                             nullptr, nullptr) == CE_None;
            GDALClose(vectors);
        }
        if (source) {
            GDALClose(source);
        }
        return ok;
    });
}

// The 3-D lines of the shapefile as the drawing would hold them: one polyline each.
std::vector<BurnShape> ReadLines(const std::string& path) {
    std::vector<BurnShape> shapes;
    bench::ForEachLine(path, [&](OGRGeometryH line) {
        BurnShape shape;
        for (int i = 0; i < OGR_G_GetPointCount(line); ++i) {
            shape.vertices.emplace_back(OGR_G_GetX(line, i), OGR_G_GetY(line, i), OGR_G_GetZ(line, i));
        }
        if (shape.vertices.size() >= 2) {
            shapes.push_back(std::move(shape));
        }
    });
    return shapes;
}

const bench::PairRegistration kRasterise("rasterise", [](bench::Pair* pair) {
    if (!MakeData()) {
        return false;
    }
    const std::string ours = File("ours.tif"), theirs = File("gdal_rasterize.tif");
    pair->operation = "Rasterise contour lines into the DEM";
    pair->input =
        std::to_string(kDemSide) + " x " + std::to_string(kDemSide) + " DEM, its contour lines of 1 m";
    pair->ours = {"ours", {bench::Self("rasterise-ours", {ours, File("contours.shp")})}, {}, [ours] {
                      return bench::CopyFile(File("dem.tif"), ours);
                  }};
    pair->peer = {"gdal_rasterize -3d -at + gdaladdo",
                  {{"gdal_rasterize", "-q", "-3d", "-at", "-l", "contours", File("contours.shp"), theirs},
                   bench::OverviewsLike(theirs, kDemSide, kDemSide)},
                  {},
                  [theirs] { return bench::CopyFile(File("dem.tif"), theirs); }};
    // Our walk in steps of an eighth of a cell may step over a cell a line crosses by less than two
    // steps; GDAL writes every cell a line touches. Those cells alone may differ.
    pair->check = bench::BurntLinesAgree(ours, theirs, File("contours.shp"), 1e-3, kGrazing);
    return true;
});

const bench::SideRegistration kRasteriseOurs("rasterise-ours", [](const Args& a) {
    auto dem = bench::LoadDem(a[0], true);
    if (!dem) {
        return 1;
    }
    const DemCellWrite cells = BurnShapes(*dem, ReadLines(a[1]));
    return WriteDemCells(*dem, cells, nullptr, {}) && dem->SaveData() ? 0 : 1;
});

// ---- the closed polyline

// A star-shaped closed polyline over the middle of the DEM, heights from the DEM.
std::vector<Wml::Point3> Polyline() {
    cv::Mat dem;
    double gt[6];
    std::vector<Wml::Point3> vertices;
    if (!bench::ReadRaster(File("dem.tif"), &dem, gt)) {
        return vertices;
    }
    const double cx = gt[0] + gt[1] * kDemSide / 2, cy = gt[3] + gt[5] * kDemSide / 2;
    const double radius = 0.45 * gt[1] * kDemSide;
    for (int i = 0; i < kPolylineVertices; ++i) {
        const double a = 2.0 * M_PI * i / kPolylineVertices;
        const double r = radius * (0.7 + 0.2 * std::sin(5.0 * a) + 0.05 * std::sin(37.0 * a));
        const double x = cx + r * std::cos(a), y = cy + r * std::sin(a);
        vertices.emplace_back(x, y,
                              bench::Bilinear(dem, (x - gt[0]) / gt[1] - 0.5, (y - gt[3]) / gt[5] - 0.5));
    }
    return vertices;
}

const bench::PairRegistration kPolyline("polyline_tin", [](bench::Pair* pair) {
    if (!MakeData()) {
        return false;
    }
    const std::string ours = File("ours_triangles.tri"), theirs = File("cgal_triangles.tri");
    pair->operation = "Closed polyline triangulated with its sides (MakeEntityPatch)";
    pair->input = "100,000 vertices";
    pair->ours = {"ours", {bench::Self("polyline-ours", {ours})}, {ours}};
    pair->peer = {
        "CGAL Constrained_Delaunay_triangulation_2", {bench::Self("polyline-peer", {theirs})}, {theirs}};
    // The constrained Delaunay triangulation is unique where no four vertices lie on one circle.
    pair->check = bench::TrianglesAgree(ours, theirs);
    return true;
});

const bench::SideRegistration kPolylineOurs("polyline-ours", [](const Args& a) {
    const std::vector<Wml::Point3> vertices = Polyline();
    EntityPatch patch;
    const bool ok = bench::TimeOperation([&] {
        patch = MakeEntityPatch(vertices);
        return patch.tin != nullptr;
    });
    if (!ok) {
        return 1;
    }
    std::vector<int> names(vertices.size());
    std::iota(names.begin(), names.end(), 0);
    return bench::KeepTriangles(bench::TrianglesOf(*patch.tin, names), a[0]) ? 0 : 1;
});

using Kernel = CGAL::Exact_predicates_inexact_constructions_kernel;
using Cdt = CGAL::Constrained_Delaunay_triangulation_2<Kernel, CGAL::Default, CGAL::Exact_predicates_tag>;

const bench::SideRegistration kPolylinePeer("polyline-peer", [](const Args& a) {
    const std::vector<Wml::Point3> vertices = Polyline();
    // Made and destroyed outside the timed part, as our side's result is.
    Cdt cdt;
    std::vector<Cdt::Vertex_handle> handles(vertices.size()), corners;
    bench::TimeOperation([&] {
        std::vector<Kernel::Point_2> ring;
        ring.reserve(vertices.size());
        for (const Wml::Point3& v : vertices) {
            ring.emplace_back(v.X(), v.Y());
        }
        // The vertices first, in spatial order (in the order of the ring each insertion would
        // flip its way around the ring), then the sides between them.
        std::vector<std::size_t> order(ring.size());
        std::iota(order.begin(), order.end(), 0);
        using SortTraits =
            CGAL::Spatial_sort_traits_adapter_2<Kernel, CGAL::Pointer_property_map<Kernel::Point_2>::type>;
        CGAL::spatial_sort(order.begin(), order.end(), SortTraits(CGAL::make_property_map(ring)));
        Cdt::Face_handle hint;
        for (const std::size_t i : order) {
            handles[i] = cdt.insert(ring[i], hint);
            hint = handles[i]->face();
        }
        for (size_t i = 0; i < handles.size(); ++i) {
            cdt.insert_constraint(handles[i], handles[(i + 1) % handles.size()]);
        }
        // The triangles listed, as ours hands them on.
        corners.reserve(3 * cdt.number_of_faces());
        for (auto f = cdt.finite_faces_begin(); f != cdt.finite_faces_end(); ++f) {
            corners.insert(corners.end(), {f->vertex(0), f->vertex(1), f->vertex(2)});
        }
        return true;
    });
    if (!bench::CheckRun()) {
        return 0;
    }
    std::map<Cdt::Vertex_handle, int> names;
    for (size_t i = 0; i < handles.size(); ++i) {
        names.emplace(handles[i], int(i));
    }
    std::vector<bench::Triangle> named;
    for (size_t k = 0; k + 2 < corners.size(); k += 3) {
        named.push_back({names.at(corners[k]), names.at(corners[k + 1]), names.at(corners[k + 2])});
    }
    return bench::KeepTriangles(named, a[0]) ? 0 : 1;
});

}  // namespace
