// The vegetation index and the raster calculator side by side with GDAL's command-line tools,
// each side run as a process of its own so that its time and peak memory are the whole process's:
//   ndvi       - ComputeVegetationIndex of a red and a near-infrared band of 8000 x 8000 (bands 3
//                and 4 of the Landsat scene upsampled bilinearly), with its tiled output and its
//                overviews 2 to 16, against gdal_calc.py writing the same index to the same tiled
//                GeoTIFF followed by gdaladdo -r nearest 2 4 8 16;
//   calculator - "(B<1>-A<1>)/(B<1>+A<1>)" over the same two bands (layers A and B) with its
//                overviews 2 to 8, against gdal_calc.py with the same formula.
// The data are made once in /tmp/kv_bench_indices. The program runs itself with --ndvi or --calc
// for our side of each pair.
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
#include "document/KelvaroDoc.h"
#include "products/RasterCalculator.h"
#include "products/VegetationIndex.h"

namespace {

constexpr int kSide = 8000;
const QString kFolder = QStringLiteral("/tmp/kv_bench_indices");
std::string g_self;

QString Path(const char* name) {
    return kFolder + '/' + QLatin1String(name);
}

// Band b of the scene upsampled bilinearly to kSide x kSide, tiled as the program's maps are.
bool MakeBand(int band, const QString& path) {
    if (QFileInfo::exists(path)) {
        return true;
    }
    const std::string b = std::to_string(band), side = std::to_string(kSide);
    const char* args[] = {
        "-b",        b.c_str(), "-outsize",       side.c_str(), side.c_str(),     "-r",   "bilinear", "-co",
        "TILED=YES", "-co",     "BLOCKXSIZE=256", "-co",        "BLOCKYSIZE=256", nullptr};
    GDALTranslateOptions* options = GDALTranslateOptionsNew(const_cast<char**>(args), nullptr);
    GDALDatasetH in = GDALOpen(KV_BENCH_SCENE, GA_ReadOnly);
    GDALDatasetH out =
        in ? GDALTranslate(QFile::encodeName(path).constData(), in, options, nullptr) : nullptr;
    const bool ok = out != nullptr;
    GDALClose(out);
    GDALClose(in);
    GDALTranslateOptionsFree(options);
    return ok;
}

std::vector<std::string> GdalCalc(const std::string& output) {
    return {"gdal_calc.py",
            "--quiet",
            "--overwrite",
            "-A",
            Path("A.tif").toStdString(),
            "-B",
            Path("B.tif").toStdString(),
            "--outfile=" + output,
            "--calc=(B.astype(float32)-A)/(B.astype(float32)+A)",
            "--type=Float32",
            "--NoDataValue=-9999",
            "--co=TILED=YES",
            "--co=BLOCKXSIZE=64",
            "--co=BLOCKYSIZE=64"};
}

void BM_OursNdvi(benchmark::State& state) {
    ReportProcesses(state, {{g_self, "--ndvi", Path("ours_ndvi.gtif").toStdString()}});
}

void BM_GdalCalcGdaladdo(benchmark::State& state) {
    const std::string out = Path("gdal_ndvi.tif").toStdString();
    ReportProcesses(state, {GdalCalc(out), {"gdaladdo", "-q", "-r", "nearest", out, "2", "4", "8", "16"}});
}

void BM_OursCalculator(benchmark::State& state) {
    ReportProcesses(state, {{g_self, "--calc", Path("ours_calc.gtif").toStdString()}});
}

void BM_GdalCalc(benchmark::State& state) {
    ReportProcesses(state, {GdalCalc(Path("gdal_calc.tif").toStdString())});
}

GDALDatasetH OpenBand(const char* name) {
    return GDALOpen(QFile::encodeName(Path(name)).constData(), GA_ReadOnly);
}

// Our side of each pair as a process of its own.
int RunOurs(const std::string& mode, const QString& output) {
    GDALDatasetH a = OpenBand("A.tif");
    GDALDatasetH b = OpenBand("B.tif");
    if (!a || !b) {
        return 1;
    }
    int result = 1;
    if (mode == "--ndvi") {
        CKelvaroDoc doc;
        result = ComputeVegetationIndex(&doc, nullptr, GDALGetRasterBand(a, 1), GDALGetRasterBand(b, 1), 0.0f,
                                        output, nullptr)
                     ? 0
                     : 1;
    } else if (mode == "--calc") {
        const std::vector<calc::LayerRow> rows = {{"A", a}, {"B", b}};
        calc::BuildBandTable(rows);
        const calc::Rewritten formula = calc::RewriteFormula("(B<1>-A<1>)/(B<1>+A<1>)", rows);
        QString message;
        result = calc::EvaluateFormula(formula, calc::OutputGrid(formula.datasets), output, nullptr,
                                       &message) == calc::Result::Done
                     ? 0
                     : 1;
    }
    GDALClose(a);
    GDALClose(b);
    return result;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 3 && (std::string(argv[1]) == "--ndvi" || std::string(argv[1]) == "--calc")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
        QApplication app(argc, argv);
        GDALAllRegister();
        return RunOurs(argv[1], QString::fromLocal8Bit(argv[2]));
    }
    QCoreApplication app(argc, argv);
    GDALAllRegister();
    g_self = QCoreApplication::applicationFilePath().toStdString();
    if (!QDir().mkpath(kFolder) || !MakeBand(3, Path("A.tif")) || !MakeBand(4, Path("B.tif"))) {
        std::fprintf(stderr, "cannot make the benchmark data in %s\n", kFolder.toLocal8Bit().constData());
        return 1;
    }
    for (auto* bench : {benchmark::RegisterBenchmark("Ndvi/ours", BM_OursNdvi),
                        benchmark::RegisterBenchmark("Ndvi/gdal_calc_gdaladdo", BM_GdalCalcGdaladdo),
                        benchmark::RegisterBenchmark("Calculator/ours", BM_OursCalculator),
                        benchmark::RegisterBenchmark("Calculator/gdal_calc", BM_GdalCalc)}) {
        bench->UseManualTime()->Iterations(1)->Repetitions(3)->Unit(benchmark::kMillisecond);
    }
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
