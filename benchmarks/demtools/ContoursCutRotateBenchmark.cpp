// Contour lines, their simplification, the raster cut and the raster rotation against GDAL's
// programs, each side a whole process from file to file:
//   contours - a 4000 x 4000 DEM (the Olinda DEM upsampled bilinearly, 2.5 m cells) every metre:
//              TraceContours against gdal_contour -i 1 -3d; every vertex of each side must lie at
//              a vertex of the other;
//   contours_command - the whole command on the 4000 x 4000 and 8000 x 8000 DEMs (with overviews):
//              the DEM loaded into a project, the lines traced into the project's shapefile and
//              loaded into the drawing with their labels, against gdal_contour -i 1 -3d;
//   simplify - those lines with a tolerance of 1 m (1 square metre for ours, whose tolerance is a
//              squared distance): SimplifyContourShapefile against ogr2ogr -simplify 1;
//   cut      - a hexagon over most of an 8000 x 8000 DEM: CutRasterToFile against gdalwarp -cutline
//              onto the same grid (the cells of the hexagon's box), with gdaladdo for our overview
//              levels;
//   rotate   - the 8000 x 8000 DEM turned by 30 degrees about its centre: RotateRasterToFile
//              against gdalwarp of the DEM given the turned geotransform (a VRT) onto our output
//              grid, bilinear, with gdaladdo for our overview levels.
#include <QDir>
#include <QFile>

#include <gdal.h>
#include <ogr_api.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "Bench.h"
#include "Checks.h"
#include "Data.h"
#include "demtools/ContourLinesDlg.h"
#include "demtools/DPHull.h"
#include "demtools/DemContours.h"
#include "demtools/RasterCutRotate.h"
#include "document/KelvaroDoc.h"
#include "platform/cad/Cad.h"
#include "raster/DEM.h"
#include "raster/RasterIO.h"

namespace {

using bench::Args;

constexpr double kAngle = M_PI / 6;
const int kSmall = bench::Scaled(4000);
const int kLarge = bench::Scaled(8000);
// Two tracings of the same lines put a vertex at the same place within this share of a cell.
constexpr double kVertexTolerance = 0.001;

const bench::Files File("contours");

bool MakeDems() {
    return File.MakeOnce("1", [] {
        for (const auto& [side, name] :
             {std::pair{kSmall, "dem4000.tif"}, std::pair{kLarge, "dem8000.tif"}}) {
            if (!bench::WriteUpsampled(KV_BENCH_DEM, side, File(name), true)) {
                return false;
            }
        }
        return true;
    });
}

bool GeoTransformOf(const std::string& path, double gt[6], int* w, int* h) {
    GDALDatasetH ds = GDALOpen(path.c_str(), GA_ReadOnly);
    const bool ok = ds && GDALGetGeoTransform(ds, gt) == CE_None;
    if (ds) {
        *w = GDALGetRasterXSize(ds);
        *h = GDALGetRasterYSize(ds);
        GDALClose(ds);
    }
    return ok;
}

std::string SideText(int side) {
    return std::to_string(side) + " x " + std::to_string(side);
}

double CellWidth(const std::string& path) {
    double gt[6] = {0, 1, 0, 0, 0, -1};
    int w = 0, h = 0;
    GeoTransformOf(path, gt, &w, &h);
    return gt[1];
}

std::string CellText(const std::string& path) {
    char text[32];
    std::snprintf(text, sizeof text, "%.3g m cells", CellWidth(path));
    return text;
}

// Lines and vertices of a shapefile's first layer.
bool CountLines(const std::string& shp, long* lines, long* vertices) {
    *lines = *vertices = 0;
    return bench::ForEachLine(shp, [&](OGRGeometryH line) {
        ++*lines;
        *vertices += OGR_G_GetPointCount(line);
    });
}

// The check of two line files: the same lines, their vertices within the share of each other.
std::string CompareLines(const std::string& ours, const std::string& theirs, double vertexShare,
                         std::string* agreed) {
    long lines[2], vertices[2];
    if (!CountLines(ours, &lines[0], &vertices[0]) || !CountLines(theirs, &lines[1], &vertices[1])) {
        return "a result cannot be read";
    }
    char text[160];
    std::snprintf(text, sizeof text, "lines %ld / %ld, vertices %ld / %ld", lines[0], lines[1], vertices[0],
                  vertices[1]);
    *agreed = text;
    const bool same = lines[0] == lines[1] && lines[0] > 0 &&
                      std::abs(double(vertices[0] - vertices[1])) <= vertexShare * double(vertices[1]);
    return same ? std::string() : text;
}

// ---- contours

const bench::PairRegistration kContours("contours", [](bench::Pair* pair) {
    if (!MakeDems()) {
        return false;
    }
    const std::string ours = File("ours_contours.shp"), theirs = File("gdal_contours.shp");
    pair->operation = "Contour lines every 1 m (TraceContours)";
    pair->input = SideText(kSmall) + " DEM, " + CellText(File("dem4000.tif"));
    pair->ours = {"ours", {bench::Self("contours-ours", {File("dem4000.tif"), ours})}, {ours}};
    pair->peer = {"gdal_contour -i 1 -3d",
                  {{"gdal_contour", "-q", "-3d", "-i", "1", "-a", "Elevation", File("dem4000.tif"), theirs}},
                  {theirs}};
    pair->check = bench::LinesAgree(ours, theirs, kVertexTolerance * CellWidth(File("dem4000.tif")));
    return true;
});

const bench::SideRegistration kContoursOurs("contours-ours", [](const Args& a) {
    std::unique_ptr<CDEM> dem(LoadDemFromGeoTiff(QFile::decodeName(a[0].c_str()), true));
    if (!dem) {
        return 1;
    }
    const double lowest = std::floor(dem->m_minElevation), highest = std::floor(dem->m_maxElevation) + 1;
    return TraceContours(*dem, ContourLevels(lowest, highest, 1.0), 1.0, 0.0, QFile::decodeName(a[1].c_str()),
                         nullptr)
               ? 0
               : 1;
});

// ---- the whole command: the DEM loaded into a project as the program loads it, the lines traced
// into the project's shapefile and loaded into the drawing with their labels (BuildContours, what
// CONTOURS runs once its dialog is answered), against gdal_contour writing the same lines

void RegisterCommand(const char* id, int side, const std::string& name) {
    const std::string folder = File("command" + std::to_string(side)) + "/";
    // The registration itself puts the pair on the harness's list.
    const bench::PairRegistration registration(id, [=](bench::Pair* pair) {
        // The DEM with its overviews, as a DEM the program has loaded before.
        if (!MakeDems() || !File.MakeOnce("overviews-1", [&] {
                return bench::Run(bench::OverviewsLike(File(name), side, side));
            })) {
            return false;
        }
        const std::string ours = folder + name + "_Contours.shp", theirs = File("gdal_command.shp");
        pair->operation =
            "Contour command every 1 m (BuildContours: lines traced, saved and drawn with labels)";
        pair->input = SideText(side) + " DEM, " + CellText(File(name));
        pair->ours = {"ours", {bench::Self("command-ours", {File(name), folder})}, {folder}};
        pair->peer = {"gdal_contour -i 1 -3d",
                      {{"gdal_contour", "-q", "-3d", "-i", "1", "-a", "Elevation", File(name), theirs}},
                      {theirs}};
        pair->check = bench::LinesAgree(ours, theirs, kVertexTolerance * CellWidth(File(name)));
        return true;
    });
}

const bool kCommands = [] {
    RegisterCommand("contours_command_4000", kSmall, "dem4000.tif");
    RegisterCommand("contours_command_8000", kLarge, "dem8000.tif");
    return true;
}();

const bench::SideRegistration kCommandOurs(
    "command-ours",
    [](const Args& a) {
        const QString folder = QFile::decodeName(a[1].c_str());
        QDir().mkpath(folder);
        CKelvaroDoc doc;
        doc.SetPathName(folder + "/bench.kvp");
        if (!doc.AddDEM(QFile::decodeName(a[0].c_str()), 0) || doc.m_DEMs.size() != 1) {
            return 1;
        }
        CDEM* dem = doc.m_DEMs.begin()->second;
        const double lowest = std::floor(dem->m_minElevation), highest = std::floor(dem->m_maxElevation) + 1;
        if (!dem->BuildContours(lowest, highest, 1.0, nullptr, 0.0, 1)) {
            return 1;
        }
        // Every line is in the drawing with its label.
        long lines = 0, labels = 0;
        for (CadEntity* e = CadGetFirstEntity(doc.m_pCad); e; e = CadGetNextEntity(doc.m_pCad, e)) {
            lines += CadEntityGetType(e) == CAD_ENT_POLYLINE;
            labels += CadEntityGetType(e) == CAD_ENT_TEXT;
        }
        std::fprintf(stderr, "drawing: %ld lines, %ld labels\n", lines, labels);
        return lines > 0 && lines == labels ? 0 : 1;
    },
    bench::Qt::Widgets);

// ---- simplify: both simplify the same lines, which our tracing writes once

const bench::PairRegistration kSimplify("simplify", [](bench::Pair* pair) {
    const std::string lines = File("lines.shp");
    if (!MakeDems() || !File.MakeOnce("lines-1", [&] {
            return bench::Run(bench::Self("contours-ours", {File("dem4000.tif"), lines}));
        })) {
        return false;
    }
    const std::string ours = File("ours_simplified.shp"), theirs = File("gdal_simplified.shp");
    pair->operation = "Contour simplification, 1 m (SimplifyContourShapefile)";
    pair->input = "the 1 m contour lines of the " + SideText(kSmall) + " DEM";
    pair->ours = {"ours", {bench::Self("simplify-ours", {lines, ours})}, {ours}};
    pair->peer = {"ogr2ogr -simplify 1", {{"ogr2ogr", "-simplify", "1", theirs, lines}}, {theirs}};
    pair->check = [ours, theirs](std::string* agreed) { return CompareLines(ours, theirs, 0.05, agreed); };
    return true;
});

const bench::SideRegistration kSimplifyOurs("simplify-ours", [](const Args& a) {
    return SimplifyContourShapefile(QFile::decodeName(a[0].c_str()), QFile::decodeName(a[1].c_str()), 1.0)
               ? 0
               : 1;
});

// ---- cut

// The hexagon of the cut, in world coordinates of the DEM.
std::vector<Wml::Point3> Hexagon(const double* gt, int side) {
    std::vector<Wml::Point3> vertices;
    for (int k = 0; k < 6; ++k) {
        const double a = M_PI / 3 * k + 0.1;
        const double c = side / 2.0 + 0.45 * side * std::cos(a), r = side / 2.0 + 0.45 * side * std::sin(a);
        vertices.emplace_back(gt[0] + c * gt[1], gt[3] + r * gt[5], 0.0);
    }
    return vertices;
}

// The hexagon as gdalwarp takes a cutline: well-known text in a table.
bool WriteCutline(const std::vector<Wml::Point3>& hexagon, const std::string& path) {
    std::string ring;
    for (size_t k = 0; k <= hexagon.size(); ++k) {
        const Wml::Point3& v = hexagon[k % hexagon.size()];
        ring += (k ? "," : "") + bench::Number(v.X()) + " " + bench::Number(v.Y());
    }
    std::FILE* f = std::fopen(path.c_str(), "wb");
    return f && std::fprintf(f, "id,WKT\n1,\"POLYGON((%s))\"\n", ring.c_str()) > 0 && std::fclose(f) == 0;
}

RasterSource Open(const std::string& path) {
    RasterSource source;
    source.dataset = GDALOpen(path.c_str(), GA_ReadOnly);
    return source;
}

const char* const kTiled[] = {"-co", "TILED=YES",      "-co", "BLOCKXSIZE=128",
                              "-co", "BLOCKYSIZE=128", "-co", "BIGTIFF=IF_SAFER"};

bench::Command WithTiles(bench::Command command) {
    command.insert(command.end() - 2, std::begin(kTiled), std::end(kTiled));
    return command;
}

const bench::PairRegistration kCut("cut", [](bench::Pair* pair) {
    double gt[6];
    int w = 0, h = 0;
    if (!MakeDems() || !GeoTransformOf(File("dem8000.tif"), gt, &w, &h) ||
        !WriteCutline(Hexagon(gt, w), File("hexagon.csv"))) {
        return false;
    }
    // Our output is the hexagon's box of cells.
    GDALDatasetH dem = GDALOpen(File("dem8000.tif").c_str(), GA_ReadOnly);
    Wml::Point2 low, high;
    CutArea(dem, Hexagon(gt, w)).GetBoundingBox(low, high);
    GDALClose(dem);
    const std::string ours = File("ours_cut.tif"), theirs = File("gdal_cut.tif");
    const int cw = int(high.X() - low.X()) + 1, ch = int(high.Y() - low.Y()) + 1;
    const double x0 = gt[0] + low.X() * gt[1], y0 = gt[3] + low.Y() * gt[5];
    pair->operation = "Cut by a hexagon (CutRasterToFile)";
    pair->input = SideText(kLarge) + " DEM";
    pair->ours = {"ours", {bench::Self("cut-ours", {File("dem8000.tif"), ours})}, {ours}};
    // Onto our output's grid: the cells of the hexagon's box.
    pair->peer = {"gdalwarp -cutline + gdaladdo",
                  {WithTiles({"gdalwarp", "-q", "-cutline", File("hexagon.csv"), "-te", bench::Number(x0),
                              bench::Number(y0 + ch * gt[5]), bench::Number(x0 + cw * gt[1]),
                              bench::Number(y0), "-ts", std::to_string(cw), std::to_string(ch), "-dstnodata",
                              "-9999", File("dem8000.tif"), theirs}),
                   bench::OverviewsLike(theirs, cw, ch)},
                  {theirs}};
    pair->check = bench::RastersAgree(ours, theirs, 0.0, 0.0, 0.001);
    return true;
});

const bench::SideRegistration kCutOurs("cut-ours", [](const Args& a) {
    RasterSource source = Open(a[0]);
    double gt[6];
    if (!source.dataset || GDALGetGeoTransform(source.dataset, gt) != CE_None) {
        return 1;
    }
    const RasterJob job =
        CutRasterToFile(source, CutArea(source.dataset, Hexagon(gt, GDALGetRasterXSize(source.dataset))),
                        QFile::decodeName(a[1].c_str()), nullptr);
    GDALClose(source.dataset);
    return job == RasterJob::Done ? 0 : 1;
});

// ---- rotate

Wml::Point2 Centre(const double* gt, int w, int h) {
    return Wml::Point2(gt[0] + w * gt[1] / 2, gt[3] + h * gt[5] / 2);
}

// The DEM as a VRT whose geotransform places every cell where the rotation puts it: gdalwarp then
// resamples it onto the north-up grid.
bool WriteTurnedVrt(const std::string& from, const std::string& to) {
    GDALDatasetH source = GDALOpen(from.c_str(), GA_ReadOnly);
    double gt[6];
    if (!source || GDALGetGeoTransform(source, gt) != CE_None) {
        return false;
    }
    const Wml::Point2 base = Centre(gt, GDALGetRasterXSize(source), GDALGetRasterYSize(source));
    const Wml::Point2 origin = RotatePoint2D(Wml::Point2(gt[0], gt[3]), kAngle, base);
    const double c = std::cos(kAngle), s = std::sin(kAngle);
    double turned[6] = {origin.X(), gt[1] * c, -gt[5] * s, origin.Y(), gt[1] * s, gt[5] * c};
    GDALDatasetH vrt =
        GDALCreateCopy(GDALGetDriverByName("VRT"), to.c_str(), source, FALSE, nullptr, nullptr, nullptr);
    const bool ok = vrt && GDALSetGeoTransform(vrt, turned) == CE_None;
    if (vrt) {
        GDALClose(vrt);
    }
    GDALClose(source);
    return ok;
}

const bench::PairRegistration kRotate("rotate", [](bench::Pair* pair) {
    double gt[6];
    int w = 0, h = 0;
    RotationGrid grid;
    if (!MakeDems() || !GeoTransformOf(File("dem8000.tif"), gt, &w, &h) ||
        !RotationGridOf(w, h, gt, kAngle, Centre(gt, w, h), &grid) ||
        !WriteTurnedVrt(File("dem8000.tif"), File("turned.vrt"))) {
        return false;
    }
    const double* g = grid.geoTransform;
    const std::string ours = File("ours_rotated.tif"), theirs = File("gdal_rotated.tif");
    pair->operation = "Rotate by 30 degrees (RotateRasterToFile)";
    pair->input = SideText(kLarge) + " DEM";
    pair->threads = bench::ParallelThreads();
    pair->ours = {"ours", {bench::Self("rotate-ours", {File("dem8000.tif"), ours})}, {ours}};
    // -multi reads and writes on a thread of its own beside the warping threads: those are one fewer.
    pair->peer = {
        "gdalwarp -r bilinear -multi + gdaladdo",
        {WithTiles({"gdalwarp", "-q", "-multi", "-wo",
                    "NUM_THREADS=" + std::to_string(std::max(1, pair->threads - 1)), "-r", "bilinear",
                    "-dstnodata", "-9999", "-te", bench::Number(g[0]),
                    bench::Number(g[3] + grid.height * g[5]), bench::Number(g[0] + grid.width * g[1]),
                    bench::Number(g[3]), "-ts", std::to_string(grid.width), std::to_string(grid.height),
                    File("turned.vrt"), theirs}),
         bench::OverviewsLike(theirs, grid.width, grid.height)},
        {theirs}};
    // Both interpolate bilinearly, ours at positions rounded to 1/32 of a cell (heights then differ
    // by up to a 64th of a cell's rise); along the raster's edge each decides differently which
    // cells still have enough neighbours. A cell's rise grows with its width: 0.25 on the 8000 x
    // 8000 DEM, in proportion on a smaller one.
    pair->check = bench::RastersAgree(ours, theirs, 0.25 * 8000.0 / kLarge, 0.0, 0.001);
    return true;
});

const bench::SideRegistration kRotateOurs("rotate-ours", [](const Args& a) {
    RasterSource source = Open(a[0]);
    double gt[6];
    if (!source.dataset || GDALGetGeoTransform(source.dataset, gt) != CE_None) {
        return 1;
    }
    const RasterJob job = RotateRasterToFile(
        source, kAngle, Centre(gt, GDALGetRasterXSize(source.dataset), GDALGetRasterYSize(source.dataset)),
        QFile::decodeName(a[1].c_str()), nullptr);
    GDALClose(source.dataset);
    return job == RasterJob::Done ? 0 : 1;
});

}  // namespace
