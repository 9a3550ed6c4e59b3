// The DEM merge along seamlines and the DEM split by tiles, measured beside GDAL's command-line
// tools on the same files.
//
// Input: the Olinda model of the test data warped bilinearly to 4000 x 4000 cells (about 2.5 m),
// Float32 with no data -9999, and two DEMs cut from it: columns 0-2599 and 1400-3999 (2600 x 4000
// each, overlapping in 1200 columns), each with a straight seamline in the middle of the overlap.
//   BM_DemMerge  - CDEMMergeDlg::MergeDEMs of the two: the overlap blended, the 4000 x 4000 result
//                  written in blocks with its overviews and loaded into the project (dropped from
//                  it after each run);
//   BM_DemSplit  - SplitDem of the 4000 x 4000 DEM into the 16 tiles of 1000 x 1000 cells of a
//                  4 x 4 layout on "Tiles".
//
// The peers, which do not blend, are timed beside it with a process timer on the files this
// program leaves when given --keep=<folder>:
//   gdalwarp west.tif east.tif merged.tif;  gdal_merge.py -o merged.tif west.tif east.tif;
//   gdal_retile.py -ps 1000 1000 -targetDir tiles olinda4000.tif
// The outputs are written through the synced write layer; with TMPDIR=/dev/shm the figures are
// those of the computation alone.
#include <benchmark/benchmark.h>
#include <gdal.h>
#include <gdal_utils.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <cstdio>

#include "FourCrops.h"
#include "document/KelvaroDoc.h"
#include "mosaic/DEMMergeDlg.h"
#include "mosaic/DemSplitMerge.h"
#include "platform/cad/Cad.h"
#include "platform/tools/ZQT.h"
#include "platform/ui/Interaction.h"
#include "raster/DEM.h"
#include "raster/RasterIO.h"

namespace {

constexpr int kSide = 4000;
constexpr int kCut = 2600;

CKelvaroDoc* g_doc = nullptr;
QString g_folder;
CDEM* g_west = nullptr;
CDEM* g_east = nullptr;
CDEM* g_whole = nullptr;

// Answers the split's folder chooser with the tiles folder; every message with its first button.
class FolderAnswer : public kv::QtInteraction {
public:
    int ShowMessage(const QString& text, unsigned, const QString&) override {
        std::fprintf(stderr, "%s\n", text.toLocal8Bit().constData());
        return IDOK;
    }
    QString ChooseFolder(const QString&, const QString&) override { return g_folder + "/tiles"; }
};

bool Run(const char* const* args, bool warp, const QString& source, const QString& target) {
    GDALDatasetH in = GDALOpen(QFile::encodeName(source).constData(), GA_ReadOnly);
    if (!in) {
        return false;
    }
    GDALDatasetH out = nullptr;
    if (warp) {
        GDALWarpAppOptions* options = GDALWarpAppOptionsNew(const_cast<char**>(args), nullptr);
        out = GDALWarp(QFile::encodeName(target).constData(), nullptr, 1, &in, options, nullptr);
        GDALWarpAppOptionsFree(options);
    } else {
        GDALTranslateOptions* options = GDALTranslateOptionsNew(const_cast<char**>(args), nullptr);
        out = GDALTranslate(QFile::encodeName(target).constData(), in, options, nullptr);
        GDALTranslateOptionsFree(options);
    }
    GDALClose(in);
    GDALClose(out);
    return out != nullptr;
}

void AddPolyline(CadLayer* layer, double x0, double y0, double x1, double y1) {
    CadSetCurLayer(g_doc->m_pCad, layer);
    CadClearVertices();
    CadAddVertex(x0, y0, 0);
    CadAddVertex(x1, y0, 0);
    CadAddVertex(x1, y1, 0);
    CadAddVertex(x0, y1, 0);
}

void AddSeamline(CDEM* dem, double x0, double x1) {
    CadLayer* layer = CadGetLayerByName(g_doc->m_pCad, "SeamLines_DEM");
    const double* gt = dem->m_geoTransform;
    AddPolyline(layer, x0, gt[3] + kSide * gt[5], x1, gt[3]);
    CadEntity* e = CadAddPolyline(g_doc->m_pCad, 0, 1);
    CadEntityPutUserPtr(e, dem);
    dem->SeamlinePolylines.push_back(e);
}

void BM_DemMerge(benchmark::State& state) {
    const QString output = g_folder + "/merged.tif";
    for (auto _ : state) {
        if (!CDEMMergeDlg::MergeDEMs(g_doc, {g_west, g_east}, output, nullptr, nullptr, nullptr, nullptr,
                                     nullptr, nullptr, nullptr)) {
            state.SkipWithError("the merge failed");
        }
        state.PauseTiming();
        g_doc->RemoveDEM("merged.tif");
        kv::RemoveRasterFile(output);
        state.ResumeTiming();
    }
}

void BM_DemSplit(benchmark::State& state) {
    for (auto _ : state) {
        if (!SplitDem(g_doc, g_whole)) {
            state.SkipWithError("the split failed");
        }
        state.PauseTiming();
        for (const QString& name : QDir(g_folder + "/tiles").entryList(QDir::Files)) {
            QFile::remove(g_folder + "/tiles/" + name);
        }
        state.ResumeTiming();
    }
}

BENCHMARK(BM_DemMerge)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_DemSplit)->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace

int main(int argc, char** argv) {
    const auto app = bench::StartProgram(argc, argv);
    QTemporaryDir temporary;
    g_folder = bench::OutputFolder(argc, argv, temporary.path());
    QDir().mkpath(g_folder + "/tiles");
    ZQT_SetSpecialFolderRoot(temporary.path() + "/work");
    FolderAnswer answers;
    kv::SetInteraction(&answers);

    const QString whole = g_folder + "/olinda4000.tif";
    const std::string side = std::to_string(kSide), cut = std::to_string(kCut),
                      east = std::to_string(kSide - kCut);
    const char* warp[] = {"-of",      "GTiff", "-ts",     side.c_str(), side.c_str(), "-r",
                          "bilinear", "-ot",   "Float32", "-dstnodata", "-9999",      nullptr};
    const char* westCut[] = {"-srcwin", "0", "0", cut.c_str(), side.c_str(), nullptr};
    const char* eastCut[] = {"-srcwin", east.c_str(), "0", cut.c_str(), side.c_str(), nullptr};
    if (!Run(warp, true, KV_BENCH_DEM, whole) || !Run(westCut, false, whole, g_folder + "/west.tif") ||
        !Run(eastCut, false, whole, g_folder + "/east.tif")) {
        std::fprintf(stderr, "could not make the DEMs\n");
        return 1;
    }

    CKelvaroDoc doc;
    g_doc = &doc;
    doc.SetPathName(g_folder + "/bench.kvp");
    if (!doc.AddDEM(g_folder + "/west.tif", 0) || !doc.AddDEM(g_folder + "/east.tif", 0) ||
        !doc.AddDEM(whole, 0)) {
        std::fprintf(stderr, "could not load the DEMs\n");
        return 1;
    }
    g_west = doc.m_DEMs.at("west.tif");
    g_east = doc.m_DEMs.at("east.tif");
    g_whole = doc.m_DEMs.at("olinda4000.tif");
    const double* gt = g_whole->m_geoTransform;
    CadAddLayer(doc.m_pCad, "SeamLines_DEM", 7, 0, 0);
    const double seam = gt[0] + (kSide / 2) * gt[1];
    AddSeamline(g_west, gt[0], seam);
    AddSeamline(g_east, seam, gt[0] + kSide * gt[1]);
    CadLayer* tiles = CadAddLayer(doc.m_pCad, "Tiles", 7, 0, 0);
    for (int r = 0; r < 4; ++r) {
        for (int c = 0; c < 4; ++c) {
            const double x0 = gt[0] + c * 1000 * gt[1], y0 = gt[3] + r * 1000 * gt[5];
            AddPolyline(tiles, x0, y0 + 1000 * gt[5], x0 + 1000 * gt[1], y0);
            CadEntity* e = CadAddPolyline(doc.m_pCad, 0, 1);
            char name[256] = {};
            std::snprintf(name, sizeof name, "T-%02d-%02d", r, c);
            CadEntityPutExData(e, name, 256);
        }
    }
    CadSetCurLayerByName(doc.m_pCad, "0");
    std::printf(
        "two DEMs of %d x %d (%.2f m) overlapping in %d columns; split into 16 tiles of 1000 x 1000\n", kCut,
        kSide, gt[1], 2 * kCut - kSide);

    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    kv::SetInteraction(nullptr);
    return 0;
}
