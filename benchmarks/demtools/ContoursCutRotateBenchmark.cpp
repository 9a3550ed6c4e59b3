// Contour lines, their simplification, the raster cut and the raster rotation side by side with
// their peers, each side run as a process of its own so that its time and peak memory are the
// whole process's:
//   contours - the contour shapefile of a 4000 x 4000 DEM (the Olinda DEM upsampled bilinearly,
//              2.5 m cells) every metre: TraceContours against gdal_contour -i 1 -3d; the load of
//              the lines into a drawing (polylines and labels) is timed apart, in process;
//   simplify - those lines with a tolerance of 1 m (1 square metre for ours, whose tolerance is a
//              squared distance): SimplifyContourShapefile against ogr2ogr -simplify 1, with the
//              vertices each keeps;
//   cut      - a hexagon over most of an 8000 x 8000 DEM: CutRasterToFile against
//              gdalwarp -cutline -crop_to_cutline with gdaladdo for the same overview levels;
//   rotate   - the 8000 x 8000 DEM turned by 30 degrees: RotateRasterToFile (block by block)
//              against the single perspective warp of the whole raster held in memory, written
//              and given overviews the same way.
// The data are made once in /tmp/kv_bench_contours. The program runs itself with --trace,
// --simplify, --cut, --rotate or --warp-whole for our side of each pair.
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <benchmark/benchmark.h>
#include <gdal.h>
#include <ogr_api.h>
#include <opencv2/imgproc.hpp>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "BenchProcess.h"
#include "UpsampledDem.h"
#include "demtools/ContourLinesDlg.h"
#include "demtools/DPHull.h"
#include "demtools/DemContours.h"
#include "demtools/RasterCutRotate.h"
#include "document/KelvaroDoc.h"
#include "platform/cad/Cad.h"
#include "raster/DEM.h"
#include "raster/GDALListener.h"
#include "raster/RasterIO.h"

namespace {

const QString kFolder = QStringLiteral("/tmp/kv_bench_contours");
constexpr double kAngle = M_PI / 6;
std::string g_self;

std::string Path(const char* name) {
    return (kFolder + "/" + name).toStdString();
}

// The projection of the source DEM: gdalwarp takes a cutline without one as given in it.
std::string SourceProjection() {
    GDALDatasetH ds = GDALOpen(KV_BENCH_DEM, GA_ReadOnly);
    const std::string wkt = ds ? GDALGetProjectionRef(ds) : "";
    if (ds) {
        GDALClose(ds);
    }
    return wkt;
}

bool WriteDem(const cv::Mat& dem, const double* gt, const std::string& path) {
    const char* options[] = {"TILED=YES", "BLOCKXSIZE=256", "BLOCKYSIZE=256", "BIGTIFF=IF_NEEDED", nullptr};
    GDALDatasetH ds = GDALCreate(GDALGetDriverByName("GTiff"), path.c_str(), dem.cols, dem.rows, 1,
                                 GDT_Float32, const_cast<char**>(options));
    if (!ds) {
        return false;
    }
    GDALSetGeoTransform(ds, const_cast<double*>(gt));
    GDALSetProjection(ds, SourceProjection().c_str());
    GDALRasterBandH band = GDALGetRasterBand(ds, 1);
    GDALSetRasterNoDataValue(band, -9999.0);
    const bool ok = GDALRasterIO(band, GF_Write, 0, 0, dem.cols, dem.rows, const_cast<uchar*>(dem.data),
                                 dem.cols, dem.rows, GDT_Float32, 0, 0) == CE_None;
    return kv::CloseDataset(ds) && ok;
}

// The hexagon of the cut, in world coordinates of the 8000 x 8000 DEM.
std::vector<Wml::Point3> Hexagon(const double* gt, int side) {
    std::vector<Wml::Point3> vertices;
    for (int k = 0; k < 6; ++k) {
        const double a = M_PI / 3 * k + 0.1;
        const double c = side / 2.0 + 0.45 * side * std::cos(a), r = side / 2.0 + 0.45 * side * std::sin(a);
        vertices.emplace_back(gt[0] + c * gt[1], gt[3] + r * gt[5], 0.0);
    }
    return vertices;
}

bool MakeData() {
    QDir().mkpath(kFolder);
    if (QFileInfo::exists(kFolder + "/complete")) {
        return true;
    }
    cv::Mat dem;
    double gt[6];
    if (!ReadUpsampled(KV_BENCH_DEM, 4000, &dem, gt) || !WriteDem(dem, gt, Path("dem4000.tif"))) {
        return false;
    }
    if (!ReadUpsampled(KV_BENCH_DEM, 8000, &dem, gt) || !WriteDem(dem, gt, Path("dem8000.tif"))) {
        return false;
    }
    // The cut's hexagon for gdalwarp, as well-known text in a table without a spatial reference.
    QFile cutline(kFolder + "/hexagon.csv");
    if (!cutline.open(QIODevice::WriteOnly)) {
        return false;
    }
    std::string ring;
    const std::vector<Wml::Point3> hexagon = Hexagon(gt, 8000);
    for (size_t k = 0; k <= hexagon.size(); ++k) {
        const Wml::Point3& v = hexagon[k % hexagon.size()];
        char point[96];
        std::snprintf(point, sizeof point, "%s%.6f %.6f", k ? "," : "", v.X(), v.Y());
        ring += point;
    }
    cutline.write(("id,WKT\n1,\"POLYGON((" + ring + "))\"\n").c_str());
    cutline.close();
    QFile(kFolder + "/complete").open(QIODevice::WriteOnly);
    return true;
}

int Vertices(const std::string& shp) {
    OGRDataSourceH ds = OGROpen(shp.c_str(), FALSE, nullptr);
    if (!ds) {
        return -1;
    }
    int count = 0;
    OGRLayerH layer = OGR_DS_GetLayer(ds, 0);
    while (OGRFeatureH feature = OGR_L_GetNextFeature(layer)) {
        if (OGRGeometryH g = OGR_F_GetGeometryRef(feature)) {
            count += OGR_G_GetPointCount(g);
        }
        OGR_F_Destroy(feature);
    }
    GDALClose(static_cast<GDALDatasetH>(ds));
    return count;
}

// ---- The pairs

void BM_OursContours(benchmark::State& state) {
    ReportProcesses(state, {{g_self, "--trace", Path("dem4000.tif"), Path("ours_contours.shp")}});
    state.counters["lines_vertices"] = Vertices(Path("ours_contours.shp"));
}

void BM_GdalContour(benchmark::State& state) {
    // gdal_contour makes no file over an old one: the shell that starts it removes that first.
    ReportProcesses(state,
                    {{"sh", "-c",
                      "rm -f " + Path("gdal_contours.*") + "; exec gdal_contour -q -3d -i 1 -a Elevation " +
                          Path("dem4000.tif") + " " + Path("gdal_contours.shp")}});
    state.counters["lines_vertices"] = Vertices(Path("gdal_contours.shp"));
}

// The drawing load of our lines, in process: one polyline and one label per line.
void BM_OursDrawingLoad(benchmark::State& state) {
    for (auto _ : state) {
        state.PauseTiming();
        auto doc = std::make_unique<CKelvaroDoc>();
        CDEM dem(doc.get());
        CadLayer* layer =
            CadAddLayer(doc->m_pCad, "dem_Contours", 7, CAD_LTYPE_CONTINUOUS, CAD_LWEIGHT_DEFAULT);
        state.ResumeTiming();
        if (!dem.LoadContoursToCad(kFolder + "/ours_contours.shp", layer, 1)) {
            state.SkipWithError("cannot load the lines");
            return;
        }
        CadRegen(doc->m_pCad);
        state.PauseTiming();
        state.counters["entities"] = CadCountEntities(doc->m_pCad);
        doc.reset();
        state.ResumeTiming();
    }
}

void BM_OursSimplify(benchmark::State& state) {
    ReportProcesses(state,
                    {{g_self, "--simplify", Path("ours_contours.shp"), Path("ours_simplified.shp"), "1"}});
    state.counters["vertices"] = Vertices(Path("ours_simplified.shp"));
}

void BM_Ogr2ogrSimplify(benchmark::State& state) {
    ReportProcesses(state, {{"ogr2ogr", "-overwrite", "-simplify", "1", Path("gdal_simplified.shp"),
                             Path("ours_contours.shp")}});
    state.counters["vertices"] = Vertices(Path("gdal_simplified.shp"));
}

void BM_OursCut(benchmark::State& state) {
    ReportProcesses(state, {{g_self, "--cut", Path("dem8000.tif"), Path("ours_cut.tif")}});
}

void BM_GdalwarpCutline(benchmark::State& state) {
    // gdaladdo gives the crop the overview levels our cut gives it.
    const std::string out = Path("gdal_cut.tif");
    GDALDatasetH dem = GDALOpen(Path("dem8000.tif").c_str(), GA_ReadOnly);
    double gt[6];
    GDALGetGeoTransform(dem, gt);
    Wml::Point2 low, high;
    CutArea(dem, Hexagon(gt, GDALGetRasterXSize(dem))).GetBoundingBox(low, high);
    GDALClose(dem);
    std::vector<std::string> addo = {"gdaladdo", "-q", "-r", "nearest", out};
    for (int level = 2, n = kv::OverviewLevelCount(int(high.X() - low.X()) + 1, int(high.Y() - low.Y()) + 1);
         n > 0; level *= 2, --n) {
        addo.push_back(std::to_string(level));
    }
    ReportProcesses(
        state, {{"gdalwarp", "-q", "-overwrite", "-cutline", Path("hexagon.csv"), "-crop_to_cutline",
                 "-dstnodata", "-9999", "-co", "TILED=YES", "-co", "BLOCKXSIZE=128", "-co", "BLOCKYSIZE=128",
                 "-co", "BIGTIFF=IF_SAFER", Path("dem8000.tif"), out},
                addo});
}

void BM_OursRotate(benchmark::State& state) {
    ReportProcesses(state, {{g_self, "--rotate", Path("dem8000.tif"), Path("ours_rotated.tif")}});
}

void BM_SingleWarp(benchmark::State& state) {
    ReportProcesses(state, {{g_self, "--warp-whole", Path("dem8000.tif"), Path("whole_rotated.tif")}});
}

// ---- Our side of each pair, and the single warp, as processes of their own

int Trace(const char* dem, const char* shp) {
    std::unique_ptr<CDEM> layer(LoadDemFromGeoTiff(QString::fromLocal8Bit(dem)));
    if (!layer) {
        return 1;
    }
    const double lowest = std::floor(layer->m_minElevation), highest = std::floor(layer->m_maxElevation) + 1;
    return TraceContours(*layer, ContourLevels(lowest, highest, 1.0), 1.0, 0.0, QString::fromLocal8Bit(shp),
                         nullptr)
               ? 0
               : 1;
}

RasterSource Open(const char* path) {
    RasterSource source;
    source.dataset = GDALOpen(path, GA_ReadOnly);
    return source;
}

// The rotation as one warp of the whole raster in memory, written whole.
int WarpWhole(const char* from, const char* to) {
    RasterSource source = Open(from);
    double gt[6];
    if (!source.dataset || GDALGetGeoTransform(source.dataset, gt) != CE_None) {
        return 1;
    }
    const int w = GDALGetRasterXSize(source.dataset), h = GDALGetRasterYSize(source.dataset);
    RotationGrid grid;
    if (!RotationGridOf(w, h, gt, kAngle, Wml::Point2(gt[0] + w * gt[1] / 2, gt[3] + h * gt[5] / 2), &grid)) {
        return 1;
    }
    cv::Mat whole(h, w, CV_32FC1);
    if (GDALRasterIO(GDALGetRasterBand(source.dataset, 1), GF_Read, 0, 0, w, h, whole.data, w, h, GDT_Float32,
                     0, 0) != CE_None) {
        return 1;
    }
    whole.setTo(std::numeric_limits<float>::quiet_NaN(), whole == -9999.0f);
    cv::Mat turned;
    cv::warpPerspective(whole, turned, grid.transform, cv::Size(grid.width, grid.height), cv::INTER_LINEAR,
                        cv::BORDER_CONSTANT, cv::Scalar::all(std::numeric_limits<double>::quiet_NaN()));
    whole.release();
    cv::patchNaNs(turned, -9999.0);
    const char* options[] = {"TILED=YES", "BLOCKXSIZE=128", "BLOCKYSIZE=128", "BIGTIFF=IF_SAFER", nullptr};
    GDALDatasetH out = GDALCreate(GDALGetDriverByName("GTiff"), to, grid.width, grid.height, 1, GDT_Float32,
                                  const_cast<char**>(options));
    GDALClose(source.dataset);
    if (!out) {
        return 1;
    }
    GDALSetGeoTransform(out, grid.geoTransform);
    GDALSetRasterNoDataValue(GDALGetRasterBand(out, 1), -9999.0);
    bool ok = GDALRasterIO(GDALGetRasterBand(out, 1), GF_Write, 0, 0, grid.width, grid.height, turned.data,
                           grid.width, grid.height, GDT_Float32, 0, 0) == CE_None;
    CGDALListener quiet;
    ok = kv::BuildOverviews(out, &quiet) && ok;
    return kv::CloseDataset(out) && ok ? 0 : 1;
}

int RunOurs(int argc, char** argv) {
    GDALAllRegister();
    const std::string mode = argv[1];
    if (argc < 4) {
        return 2;
    }
    if (mode == "--trace" && argc == 4) {
        return Trace(argv[2], argv[3]);
    }
    if (mode == "--simplify" && argc == 5) {
        return SimplifyContourShapefile(QString::fromLocal8Bit(argv[2]), QString::fromLocal8Bit(argv[3]),
                                        std::atof(argv[4]))
                   ? 0
                   : 1;
    }
    RasterSource source = Open(argv[2]);
    double gt[6];
    const bool opened = source.dataset && GDALGetGeoTransform(source.dataset, gt) == CE_None;
    const int w = opened ? GDALGetRasterXSize(source.dataset) : 0,
              h = opened ? GDALGetRasterYSize(source.dataset) : 0;
    RasterJob job = RasterJob::Failed;
    if (opened && mode == "--cut" && argc == 4) {
        job = CutRasterToFile(source, CutArea(source.dataset, Hexagon(gt, w)),
                              QString::fromLocal8Bit(argv[3]), nullptr);
    } else if (opened && mode == "--rotate" && argc == 4) {
        job = RotateRasterToFile(source, kAngle, Wml::Point2(gt[0] + w * gt[1] / 2, gt[3] + h * gt[5] / 2),
                                 QString::fromLocal8Bit(argv[3]), nullptr);
    }
    if (source.dataset) {
        GDALClose(source.dataset);
    }
    if (mode == "--cut" || mode == "--rotate") {
        return job == RasterJob::Done ? 0 : 1;
    }
    if (mode == "--warp-whole" && argc == 4) {
        return WarpWhole(argv[2], argv[3]);
    }
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc > 1 && std::string(argv[1]).rfind("--", 0) == 0 &&
        std::string(argv[1]).find('=') == std::string::npos) {
        QCoreApplication app(argc, argv);
        return RunOurs(argc, argv);
    }
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    GDALAllRegister();
    g_self = QCoreApplication::applicationFilePath().toStdString();
    if (!MakeData()) {
        std::fprintf(stderr, "cannot make the benchmark data in %s\n", kFolder.toLocal8Bit().constData());
        return 1;
    }
    for (auto* b : {benchmark::RegisterBenchmark("Contours/ours_trace", BM_OursContours),
                    benchmark::RegisterBenchmark("Contours/gdal_contour", BM_GdalContour),
                    benchmark::RegisterBenchmark("Simplify/ours", BM_OursSimplify),
                    benchmark::RegisterBenchmark("Simplify/ogr2ogr", BM_Ogr2ogrSimplify),
                    benchmark::RegisterBenchmark("Cut/ours", BM_OursCut),
                    benchmark::RegisterBenchmark("Cut/gdalwarp_cutline", BM_GdalwarpCutline),
                    benchmark::RegisterBenchmark("Rotate/ours_blocks", BM_OursRotate),
                    benchmark::RegisterBenchmark("Rotate/single_warp", BM_SingleWarp)}) {
        b->UseManualTime()->Iterations(1)->Repetitions(3)->Unit(benchmark::kMillisecond);
    }
    benchmark::RegisterBenchmark("Contours/ours_drawing_load_in_process", BM_OursDrawingLoad)
        ->Iterations(1)
        ->Repetitions(3)
        ->Unit(benchmark::kMillisecond);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
