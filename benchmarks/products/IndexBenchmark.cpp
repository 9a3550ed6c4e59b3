// The vegetation index and the raster calculator against gdal_calc.py, each side a whole process
// writing a tiled Float32 GeoTIFF with the overviews ours gives it (gdaladdo on the peer's side),
// over two 8000 x 8000 bands (bands 3 and 4 of the Landsat scene's square part upsampled
// bilinearly):
//   NDVI       - ComputeVegetationIndex of the red and near-infrared bands (overviews 2 to 16);
//   calculator - "(B<1>-A<1>)/(B<1>+A<1>)" over the same two bands as layers A and B (overviews 2
//                to 8; its grid has a column and a row more than the bands, by its rule).
#include <QFile>

#include <gdal.h>

#include <string>
#include <vector>

#include "Bench.h"
#include "Data.h"
#include "document/KelvaroDoc.h"
#include "products/RasterCalculator.h"
#include "products/VegetationIndex.h"
#include "raster/RasterIO.h"

namespace {

using bench::Args;

const int kSide = bench::Scaled(8000);

const bench::Files File("indices");

// Bands 3 and 4 of the scene's square part (349 x 349) upsampled bilinearly to kSide x kSide,
// tiled as the program's maps are: square cells, so that both sides keep the bands' grid.
bool MakeBands() {
    return File.MakeOnce("2", [] {
        return bench::TranslateBands(KV_BENCH_SCENE, {3}, 349, kSide, File("A.tif")) &&
               bench::TranslateBands(KV_BENCH_SCENE, {4}, 349, kSide, File("B.tif"));
    });
}

bool IndexPair(bench::Pair* pair, const char* side, int block, int levels, bool common) {
    if (!MakeBands()) {
        return false;
    }
    const std::string ours = File(std::string(side) + "_ours.tif"),
                      theirs = File(std::string(side) + "_gdal.tif");
    pair->input = bench::Format("two %d x %d bands", kSide, kSide);
    pair->ours = {"ours", {bench::Self(side, {ours})}, {ours}};
    pair->peer = {"gdal_calc.py + gdaladdo",
                  {bench::GdalCalcIndex(File("A.tif"), 1, File("B.tif"), 1, theirs, block, false),
                   bench::Gdaladdo(theirs, levels)},
                  {theirs}};
    pair->peer.startup = {bench::PythonStartup("gdal_calc")};
    pair->check = bench::RastersAgree(ours, theirs, 1e-5, 0.0, 0.0, 0, -9999.0, common);
    return true;
}

const bench::PairRegistration kNdvi("ndvi", [](bench::Pair* pair) {
    pair->operation = "NDVI (ComputeVegetationIndex)";
    return IndexPair(pair, "ndvi-ours", 64, kv::OverviewHalvings(kSide, kSide), false);
});

const bench::PairRegistration kCalculator("calculator", [](bench::Pair* pair) {
    pair->operation = "Raster calculator, (B<1>-A<1>)/(B<1>+A<1>)";
    return IndexPair(pair, "calculator-ours", 256, kv::OverviewLevelCount(kSide + 1, kSide + 1), true);
});

GDALDatasetH OpenBand(const char* name) {
    return GDALOpen(File(name).c_str(), GA_ReadOnly);
}

const bench::SideRegistration kNdviOurs(
    "ndvi-ours",
    [](const Args& a) {
        GDALDatasetH red = OpenBand("A.tif"), nir = OpenBand("B.tif");
        CKelvaroDoc doc;
        const bool ok =
            red && nir &&
            ComputeVegetationIndex(&doc, nullptr, GDALGetRasterBand(red, 1), GDALGetRasterBand(nir, 1), 0.0f,
                                   QFile::decodeName(a[0].c_str()), nullptr);
        for (GDALDatasetH ds : {red, nir}) {
            if (ds) {
                GDALClose(ds);
            }
        }
        return ok ? 0 : 1;
    },
    bench::Qt::Widgets);

const bench::SideRegistration kCalculatorOurs("calculator-ours", [](const Args& a) {
    GDALDatasetH layerA = OpenBand("A.tif"), layerB = OpenBand("B.tif");
    if (!layerA || !layerB) {
        return 1;
    }
    const std::vector<calc::LayerRow> rows = {{"A", layerA}, {"B", layerB}};
    calc::BuildBandTable(rows);
    const calc::Rewritten formula = calc::RewriteFormula("(B<1>-A<1>)/(B<1>+A<1>)", rows);
    QString message;
    const bool ok =
        calc::EvaluateFormula(formula, calc::OutputGrid(formula.datasets), QFile::decodeName(a[0].c_str()),
                              nullptr, &message) == calc::Result::Done;
    GDALClose(layerA);
    GDALClose(layerB);
    return ok ? 0 : 1;
});

}  // namespace
