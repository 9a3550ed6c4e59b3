// The export of a colour classification side by side with gdalinfo -stats -hist, each side run
// as a process of its own so that its time and peak memory are the whole process's:
//   classify - the counting and statistics pass of the export (classes, mean, standard deviation
//              and the circle picture) over an 8000 x 8000 NDVI map (the NDVI of the Landsat
//              scene upsampled bilinearly, no data -9999), five classes over its value range;
//   export   - the whole export: the same pass, the JPEG picture and the PDF report; the picture
//              and the PDF are the difference of the two;
//   gdalinfo - gdalinfo -stats -hist of the same map, its statistics file removed before each run
//              so that it reads every cell.
// The data are made once in /tmp/kv_bench_classification. Under the offscreen platform the report
// is not opened in a viewer. The program runs itself with
// --classify or --export for our side of each pair.
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <benchmark/benchmark.h>
#include <gdal.h>
#include <gdal_utils.h>

#include <cstdio>
#include <string>
#include <vector>

#include "BenchProcess.h"
#include "controls/AbortSingleProgressDlg.h"
#include "document/KelvaroDoc.h"
#include "products/ClassificationExport.h"
#include "products/VegetationIndex.h"
#include "raster/ClassReport.h"
#include "raster/MapData.h"
#include "raster/RasterIO.h"

namespace {

constexpr int kSide = 8000;
const QString kFolder = QStringLiteral("/tmp/kv_bench_classification");
std::string g_self;

QString Path(const char* name) {
    return kFolder + '/' + QLatin1String(name);
}

// The scene's NDVI upsampled to kSide x kSide, tiled as the program's maps are.
bool MakeMap(const QString& path) {
    if (QFileInfo::exists(path)) {
        return true;
    }
    GDALDatasetH scene = GDALOpen(KV_BENCH_SCENE, GA_ReadOnly);
    if (!scene) {
        return false;
    }
    CKelvaroDoc doc;
    const QString small = Path("ndvi_small.gtif");
    const bool index = ComputeVegetationIndex(&doc, nullptr, GDALGetRasterBand(scene, 3),
                                              GDALGetRasterBand(scene, 4), 0.0f, small, nullptr) == 1;
    GDALClose(scene);
    if (!index) {
        return false;
    }
    const std::string side = std::to_string(kSide);
    const char* args[] = {"-outsize",  side.c_str(), side.c_str(),     "-r",  "bilinear",       "-co",
                          "TILED=YES", "-co",        "BLOCKXSIZE=256", "-co", "BLOCKYSIZE=256", nullptr};
    GDALTranslateOptions* options = GDALTranslateOptionsNew(const_cast<char**>(args), nullptr);
    GDALDatasetH in = GDALOpen(QFile::encodeName(small).constData(), GA_ReadOnly);
    GDALDatasetH out =
        in ? GDALTranslate(QFile::encodeName(path).constData(), in, options, nullptr) : nullptr;
    // With its overviews, as the program's maps are: the map then loads without asking for them.
    const bool ok = out != nullptr && kv::BuildOverviews(out, nullptr, 5) != 0;
    GDALClose(out);
    GDALClose(in);
    GDALTranslateOptionsFree(options);
    return ok;
}

void BM_OursClassify(benchmark::State& state) {
    ReportProcesses(state, {{g_self, "--classify"}});
}

void BM_OursExport(benchmark::State& state) {
    ReportProcesses(state, {{g_self, "--export"}});
}

void BM_GdalinfoStatsHist(benchmark::State& state) {
    const std::string map = Path("ndvi.tif").toStdString();
    ReportProcesses(state, {{"rm", "-f", map + ".aux.xml"}, {"gdalinfo", "-stats", "-hist", map}});
}

// Five classes evenly over the map's value range, coloured red to blue.
std::vector<ExportClass> FiveClasses(const CMapData& map) {
    const double lo = map.m_pMin ? *map.m_pMin : -1.0, hi = map.m_pMax ? *map.m_pMax : 1.0;
    const COLORREF colours[5] = {0x0000FF, 0x0080FF, 0x00FFFF, 0x00FF00, 0xFF0000};
    std::vector<ExportClass> classes;
    for (int i = 0; i < 5; ++i) {
        classes.push_back({lo + (hi - lo) * i / 5, colours[i]});
    }
    return classes;
}

// A sink that neither shows nor aborts.
class QuietProgress : public ProgressSink {
public:
    void SetRange(int, int) override {}
    void SetPos(int) override {}
};

// Our side of each pair as a process of its own.
int RunOurs(const std::string& mode) {
    CKelvaroDoc doc;
    MapLayerInfo info;
    info.title = QStringLiteral("ndvi");
    info.mapType = MapTypeNDVI;
    info.path = Path("ndvi.tif");
    if (!doc.AddMap(info, 0)) {
        return 1;
    }
    CMapData* map = doc.m_Maps["ndvi"];
    const std::vector<ExportClass> classes = FiveClasses(*map);
    if (mode == "--export") {
        CAbortSingleProgressDlg progress;
        progress.Create();
        return ExportClassification(map, classes, progress) == ExportResult::Written ? 0 : 1;
    }
    kv::ClassStyle style;
    for (size_t i = 1; i < classes.size(); ++i) {
        style.upperBounds.push_back(classes[i].threshold);
    }
    for (const ExportClass& c : classes) {
        style.colours.push_back(c.colour);
    }
    style.background = 200;
    style.radius = 3;
    kv::ClassTally tally;
    QuietProgress quiet;
    GDALRasterBandH band = GDALGetRasterBand(map->m_pDataset, 1);
    return kv::ClassifyValues(band, kv::WholeRasterWindow(kSide, kSide),
                              GDALGetRasterNoDataValue(band, nullptr), style, &quiet,
                              &tally) == kv::WalkResult::Done
               ? 0
               : 1;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 2 && (std::string(argv[1]) == "--classify" || std::string(argv[1]) == "--export")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
        QApplication app(argc, argv);
        GDALAllRegister();
        return RunOurs(argv[1]);
    }
    // Making the data computes an index through a document, which needs a widget application.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    GDALAllRegister();
    g_self = QCoreApplication::applicationFilePath().toStdString();
    if (!QDir().mkpath(kFolder) || !MakeMap(Path("ndvi.tif"))) {
        std::fprintf(stderr, "cannot make the benchmark data in %s\n", kFolder.toLocal8Bit().constData());
        return 1;
    }
    for (auto* bench :
         {benchmark::RegisterBenchmark("Classification/classify_ours", BM_OursClassify),
          benchmark::RegisterBenchmark("Classification/export_ours", BM_OursExport),
          benchmark::RegisterBenchmark("Classification/gdalinfo_stats_hist", BM_GdalinfoStatsHist)}) {
        bench->UseManualTime()->Iterations(1)->Repetitions(3)->Unit(benchmark::kMillisecond);
    }
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
