// Heights between drawing entities and DEMs, measured on the Olinda DEM upsampled bilinearly to
// 4000 x 4000 cells of 2.5 m:
//   rasterise   - the DEM's own 1 m contour lines (3-D lines from GDAL's contour generator) burnt
//                 into it. Our side reads the DEM and the lines, burns them as the command does
//                 (with its undo record) and writes the DEM as a GeoTIFF; gdal_rasterize -3d burns
//                 the same lines into a copy of the same DEM in place. Both run as processes of
//                 their own; the two rasters are compared afterwards (cells each side changed,
//                 cells changed by one side only, cells both changed to values 1e-3 apart);
//                 and in process the command's own work (burn, undo record, grid written) and the
//                 burn alone, on the grid and lines in memory;
//   elevation   - one closed polyline of 100,000 vertices over the DEM, heights from the DEM:
//                 triangulated as the command does against vtkDelaunay2D with the same points and
//                 sides as constraints (offset 2.0), and the whole edit of the DEM (triangulation,
//                 sampling, mask, undo record, write) for the record.
// The data are made once in /tmp/kv_bench_entity. The program runs itself with --burn for our side.
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <benchmark/benchmark.h>
#include <gdal.h>
#include <gdal_alg.h>
#include <ogr_api.h>
#include <ogr_srs_api.h>
#include <vtkCellArray.h>
#include <vtkDelaunay2D.h>
#include <vtkNew.h>
#include <vtkPoints.h>
#include <vtkPolyData.h>

#include <chrono>
#include <cmath>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "BenchProcess.h"
#include "UpsampledDem.h"
#include "demtools/EntityElevation.h"
#include "document/undo/UndoDEM.h"
#include "platform/tools/ZQT.h"
#include "raster/DEM.h"
#include "raster/RasterIO.h"

namespace {

constexpr int kDemSide = 4000;
constexpr int kPolylineVertices = 100'000;
const QString kFolder = QStringLiteral("/tmp/kv_bench_entity");

cv::Mat g_dem;
double g_gt[6];
std::string g_self, g_demPath, g_contours, g_oursOut, g_gdalOut;

std::string Path(const char* name) {
    return (kFolder + "/" + name).toStdString();
}

// The upsampled DEM as a GeoTIFF and its 1 m contour lines as 3-D lines in a shapefile.
bool MakeData() {
    if (!ReadUpsampled(KV_BENCH_DEM, kDemSide, &g_dem, g_gt)) {
        return false;
    }
    QDir().mkpath(kFolder);
    g_demPath = Path("dem.tif");
    g_contours = Path("contours.shp");
    g_oursOut = Path("ours.tif");
    g_gdalOut = Path("gdal_rasterize.tif");
    if (QFileInfo::exists(kFolder + "/complete")) {
        return true;
    }
    if (!SaveImageAsGeoTiff(g_dem, g_gt, QString(), kNoData, QString::fromStdString(g_demPath), nullptr)) {
        return false;
    }
    GDALDatasetH dem = GDALOpen(g_demPath.c_str(), GA_ReadOnly);
    GDALDriverH shp = GDALGetDriverByName("ESRI Shapefile");
    GDALDatasetH vectors =
        dem && shp ? GDALCreate(shp, g_contours.c_str(), 0, 0, 0, GDT_Unknown, nullptr) : nullptr;
    bool ok = false;
    if (vectors) {
        OGRLayerH layer = GDALDatasetCreateLayer(vectors, "contours", nullptr, wkbLineString25D, nullptr);
        OGRFieldDefnH field = OGR_Fld_Create("elev", OFTReal);
        ok = layer && OGR_L_CreateField(layer, field, TRUE) == OGRERR_NONE;
        OGR_Fld_Destroy(field);
        const char* options[] = {"LEVEL_INTERVAL=1", "ELEV_FIELD=0", "NODATA=-9999", nullptr};
        ok = ok && GDALContourGenerateEx(GDALGetRasterBand(dem, 1), layer, const_cast<char**>(options),
                                         nullptr, nullptr) == CE_None;
        GDALClose(vectors);
    }
    if (dem) {
        GDALClose(dem);
    }
    if (ok) {
        QFile(kFolder + "/complete").open(QIODevice::WriteOnly);
    }
    return ok;
}

// The 3-D lines of the shapefile as the drawing would hold them: one polyline each.
std::vector<BurnShape> ReadLines(const char* path) {
    std::vector<BurnShape> shapes;
    GDALDatasetH ds = GDALOpenEx(path, GDAL_OF_VECTOR, nullptr, nullptr, nullptr);
    if (!ds) {
        return shapes;
    }
    OGRLayerH layer = GDALDatasetGetLayer(ds, 0);
    OGR_L_ResetReading(layer);
    while (OGRFeatureH feature = OGR_L_GetNextFeature(layer)) {
        OGRGeometryH geometry = OGR_F_GetGeometryRef(feature);
        const int parts =
            geometry && OGR_G_GetGeometryCount(geometry) > 0 ? OGR_G_GetGeometryCount(geometry) : 1;
        for (int k = 0; geometry && k < parts; ++k) {
            OGRGeometryH line =
                OGR_G_GetGeometryCount(geometry) > 0 ? OGR_G_GetGeometryRef(geometry, k) : geometry;
            BurnShape shape;
            for (int i = 0; i < OGR_G_GetPointCount(line); ++i) {
                double x, y, z;
                OGR_G_GetPoint(line, i, &x, &y, &z);
                shape.vertices.emplace_back(x, y, z);
            }
            if (shape.vertices.size() >= 2) {
                shapes.push_back(std::move(shape));
            }
        }
        OGR_F_Destroy(feature);
    }
    GDALClose(ds);
    return shapes;
}

// The recorder of the benchmark: the command's undo record, written and then removed.
DemEditRecorder UndoFileRecorder() {
    return [](CDEM& dem, const DemEditWindow& edit) {
        const CUndoDEM record(&dem, nullptr, *edit.before, *edit.after, edit.window.tl(), edit.contour);
        record.DeleteFile();
        return record.IsValid();
    };
}

// Our side as a process: what the program holds (the DEM's grid, the lines), then the command's
// work and the DEM written.
int RunOurs(const char* dem, const char* lines, const char* output) {
    GDALAllRegister();
    ZQT_SetSpecialFolderRoot(kFolder + "/work");
    std::unique_ptr<CDEM> layer(LoadDemFromGeoTiff(QString::fromLocal8Bit(dem), true));
    if (!layer || !layer->LoadData()) {
        return 1;
    }
    const std::vector<BurnShape> shapes = ReadLines(lines);
    if (!WriteDemCells(*layer, BurnShapes(*layer, shapes), nullptr, UndoFileRecorder())) {
        return 1;
    }
    return SaveImageAsGeoTiff(layer->m_grid, layer->m_geoTransform, QString(), kNoData,
                              QString::fromLocal8Bit(output), nullptr)
               ? 0
               : 1;
}

// Times one process per iteration, after an untimed copy of the DEM where the process wants one.
void TimeProcess(benchmark::State& state, const std::vector<std::string>& command,
                 const std::string& copyTo) {
    for (auto _ : state) {
        if (!copyTo.empty()) {
            QFile::remove(QString::fromStdString(copyTo));
            if (!QFile::copy(QString::fromStdString(g_demPath), QString::fromStdString(copyTo))) {
                state.SkipWithError("cannot copy the DEM");
                return;
            }
        }
        const ProcessRun run = RunProcess(command);
        if (run.status != 0) {
            state.SkipWithError(("failed: " + command[0]).c_str());
            return;
        }
        state.SetIterationTime(run.seconds);
        state.counters["peak_MiB"] = run.peakMiB;
    }
}

void BM_OursRasterise(benchmark::State& state) {
    TimeProcess(state, {g_self, "--burn", g_demPath, g_contours, g_oursOut}, std::string());
}

void BM_GdalRasterise(benchmark::State& state) {
    TimeProcess(state, {"gdal_rasterize", "-q", "-3d", "-l", "contours", g_contours, g_gdalOut}, g_gdalOut);
}

// The command's own work in process, on what the program holds (the grid in memory, the lines
// read from the drawing): the burn, the undo record and the grid written; and the burn alone.
void BM_OursCommandWork(benchmark::State& state, bool withUndo) {
    ZQT_SetSpecialFolderRoot(kFolder + "/work");
    CDEM dem(nullptr);
    std::copy(g_gt, g_gt + 6, dem.m_geoTransform);
    const std::vector<BurnShape> shapes = ReadLines(g_contours.c_str());
    size_t vertices = 0;
    for (const BurnShape& s : shapes) {
        vertices += s.vertices.size();
    }
    for (auto _ : state) {
        state.PauseTiming();
        dem.m_grid = g_dem.clone();
        state.ResumeTiming();
        const DemCellWrite cells = BurnShapes(dem, shapes);
        if (withUndo) {
            WriteDemCells(dem, cells, nullptr, UndoFileRecorder());
        }
    }
    state.counters["lines"] = double(shapes.size());
    state.counters["vertices"] = double(vertices);
}

bool ReadBand(const std::string& path, cv::Mat* cells) {
    GDALDatasetH ds = GDALOpen(path.c_str(), GA_ReadOnly);
    if (!ds) {
        return false;
    }
    *cells = cv::Mat(GDALGetRasterYSize(ds), GDALGetRasterXSize(ds), CV_32FC1);
    const bool ok = GDALRasterIO(GDALGetRasterBand(ds, 1), GF_Read, 0, 0, cells->cols, cells->rows,
                                 cells->data, cells->cols, cells->rows, GDT_Float32, 0, 0) == CE_None;
    GDALClose(ds);
    return ok;
}

void BM_CompareRasterised(benchmark::State& state) {
    cv::Mat original, ours, theirs;
    for (auto _ : state) {
        if (!ReadBand(g_demPath, &original) || !ReadBand(g_oursOut, &ours) || !ReadBand(g_gdalOut, &theirs)) {
            state.SkipWithError("run both sides first");
            return;
        }
    }
    long oursChanged = 0, theirsChanged = 0, onlyOurs = 0, onlyTheirs = 0, apart = 0;
    for (int r = 0; r < original.rows; ++r) {
        for (int c = 0; c < original.cols; ++c) {
            const float o = original.at<float>(r, c), p = ours.at<float>(r, c), q = theirs.at<float>(r, c);
            const bool a = p != o, b = q != o;
            oursChanged += a;
            theirsChanged += b;
            onlyOurs += a && !b;
            onlyTheirs += b && !a;
            apart += a && b && std::abs(p - q) > 1e-3f;
        }
    }
    state.counters["cells_changed_ours"] = double(oursChanged);
    state.counters["cells_changed_gdal"] = double(theirsChanged);
    state.counters["cells_only_ours"] = double(onlyOurs);
    state.counters["cells_only_gdal"] = double(onlyTheirs);
    state.counters["cells_both_apart_1e-3"] = double(apart);
}

// A star-shaped closed polyline over the middle of the DEM, heights from the DEM.
std::vector<Wml::Point3> Polyline() {
    std::vector<Wml::Point3> vertices;
    const double cx = g_gt[0] + g_gt[1] * kDemSide / 2, cy = g_gt[3] + g_gt[5] * kDemSide / 2;
    const double radius = 0.45 * g_gt[1] * kDemSide;
    for (int i = 0; i < kPolylineVertices; ++i) {
        const double a = 2.0 * M_PI * i / kPolylineVertices;
        const double r = radius * (0.7 + 0.2 * std::sin(5.0 * a) + 0.05 * std::sin(37.0 * a));
        const double x = cx + r * std::cos(a), y = cy + r * std::sin(a);
        vertices.emplace_back(x, y,
                              Bilinear(g_dem, (x - g_gt[0]) / g_gt[1] - 0.5, (y - g_gt[3]) / g_gt[5] - 0.5));
    }
    return vertices;
}

void BM_OursPolylineTriangulation(benchmark::State& state) {
    const std::vector<Wml::Point3> vertices = Polyline();
    for (auto _ : state) {
        benchmark::DoNotOptimize(MakeEntityPatch(vertices).tin.Get());
    }
}

void BM_VtkDelaunay2DPolyline(benchmark::State& state) {
    vtkNew<vtkPoints> points;
    points->SetDataTypeToDouble();
    vtkNew<vtkCellArray> lines;
    for (const Wml::Point3& p : Polyline()) {
        points->InsertNextPoint(p.X(), p.Y(), p.Z());
    }
    for (vtkIdType i = 0; i < kPolylineVertices; ++i) {
        const vtkIdType side[2] = {i, (i + 1) % kPolylineVertices};
        lines->InsertNextCell(2, side);
    }
    vtkNew<vtkPolyData> input;
    input->SetPoints(points);
    input->SetLines(lines);
    for (auto _ : state) {
        vtkNew<vtkDelaunay2D> delaunay;
        delaunay->SetInputData(input);
        delaunay->SetSourceData(input);
        delaunay->SetOffset(2.0);
        delaunay->Update();
        state.counters["triangles"] = double(delaunay->GetOutput()->GetNumberOfPolys());
    }
}

// The command's whole edit of one DEM under the polyline, with the seconds of its three stages
// (triangulation, sampling with the mask, undo record and write) as counters.
void BM_OursElevationByPolyline(benchmark::State& state) {
    ZQT_SetSpecialFolderRoot(kFolder + "/work");
    const std::vector<Wml::Point3> vertices = Polyline();
    CDEM dem(nullptr);
    std::copy(g_gt, g_gt + 6, dem.m_geoTransform);
    long cells = 0;
    double stages[3] = {0.0, 0.0, 0.0};
    using Clock = std::chrono::steady_clock;
    auto seconds = [](Clock::time_point a, Clock::time_point b) {
        return std::chrono::duration<double>(b - a).count();
    };
    for (auto _ : state) {
        state.PauseTiming();
        dem.m_grid = g_dem.clone();
        state.ResumeTiming();
        const auto t0 = Clock::now();
        const EntityPatch patch = MakeEntityPatch(vertices);
        const auto t1 = Clock::now();
        const DemCellWrite write = SamplePatchOnDem(dem, patch);
        const auto t2 = Clock::now();
        cells = cv::countNonZero(write.mask);
        WriteDemCells(dem, write, nullptr, UndoFileRecorder());
        const auto t3 = Clock::now();
        stages[0] += seconds(t0, t1);
        stages[1] += seconds(t1, t2);
        stages[2] += seconds(t2, t3);
    }
    const double runs = double(state.iterations());
    state.counters["cells_written"] = double(cells);
    state.counters["s_triangulate"] = stages[0] / runs;
    state.counters["s_sample"] = stages[1] / runs;
    state.counters["s_write_with_undo"] = stages[2] / runs;
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    if (argc == 5 && std::strcmp(argv[1], "--burn") == 0) {
        return RunOurs(argv[2], argv[3], argv[4]);
    }
    GDALAllRegister();
    vtkObject::GlobalWarningDisplayOff();
    g_self = QCoreApplication::applicationFilePath().toStdString();
    if (!MakeData()) {
        std::fprintf(stderr, "cannot make the benchmark data in %s\n", kFolder.toLocal8Bit().constData());
        return 1;
    }
    for (auto* b : {benchmark::RegisterBenchmark("Rasterise/ours", BM_OursRasterise),
                    benchmark::RegisterBenchmark("Rasterise/gdal_rasterize_3d", BM_GdalRasterise)}) {
        b->UseManualTime()->Iterations(1)->Repetitions(3)->Unit(benchmark::kMillisecond);
    }
    benchmark::RegisterBenchmark("Rasterise/compare", BM_CompareRasterised)->Iterations(1);
    benchmark::RegisterBenchmark("Rasterise/ours_command_work", BM_OursCommandWork, true)
        ->Iterations(3)
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("Rasterise/ours_burn_only", BM_OursCommandWork, false)
        ->Iterations(3)
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("Polyline100k/ours_triangulation", BM_OursPolylineTriangulation)
        ->Iterations(3)
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("Polyline100k/vtkDelaunay2D", BM_VtkDelaunay2DPolyline)
        ->Iterations(1)
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("Polyline100k/ours_whole_edit", BM_OursElevationByPolyline)
        ->Iterations(3)
        ->Unit(benchmark::kMillisecond);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
