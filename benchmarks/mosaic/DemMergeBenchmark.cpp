// The DEM merge along seamlines and the DEM split by tiles against GDAL doing the same, timed in
// process (ours needs its project set up first), each side writing tiled GeoTIFFs with the
// program's overviews. The Olinda DEM of the test data warped bilinearly to 4000 x 4000 cells
// (about 2.5 m), Float32 with no data -9999, and two DEMs cut from it: columns 0-2599 and
// 1400-3999 (2600 x 4000 each, overlapping in 1200 columns), each with a straight seamline in the
// middle of the overlap.
//   merge - CDEMMergeDlg::MergeDEMs of the two (the overlap blended, the result written in blocks
//           and loaded into the project) against GDALWarp of both into one raster, as gdalwarp
//           does it (no blend);
//   split - SplitDem of the 4000 x 4000 DEM into the 16 tiles of 1000 x 1000 cells of a 4 x 4
//           layout on "Tiles" against GDALTranslate of each tile's window, as gdal_retile.py does it.
// The two DEMs hold the same heights where they overlap, so both merges must give the same cells.
#include <QDir>
#include <QFile>

#include <gdal.h>
#include <gdal_utils.h>

#include <cstdio>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "Bench.h"
#include "Data.h"
#include "Unattended.h"
#include "document/KelvaroDoc.h"
#include "mosaic/DEMMergeDlg.h"
#include "mosaic/DemSplitMerge.h"
#include "platform/cad/Cad.h"
#include "platform/tools/ZQT.h"
#include "platform/ui/Interaction.h"
#include "raster/DEM.h"

namespace {

using bench::Args;

const int kSide = bench::Scaled(4000);
const int kCut = kSide * 13 / 20;
const int kTile = kSide / 4;

const bench::Files File("demmerge");

bool Translate(GDALDatasetH source, const std::vector<std::string>& args, const std::string& target) {
    std::vector<char*> argv;
    for (const std::string& a : args) {
        argv.push_back(const_cast<char*>(a.c_str()));
    }
    argv.push_back(nullptr);
    GDALTranslateOptions* options = GDALTranslateOptionsNew(argv.data(), nullptr);
    GDALDatasetH out = GDALTranslate(target.c_str(), source, options, nullptr);
    GDALTranslateOptionsFree(options);
    const bool ok = out && bench::BuildOverviewsLike(out);
    if (out) {
        GDALClose(out);
    }
    return ok;
}

bool MakeDems() {
    return File.MakeOnce("1", [] {
        if (!bench::WriteUpsampled(KV_BENCH_DEM, kSide, File("olinda4000.tif"), true)) {
            return false;
        }
        // With overviews, as a loaded DEM has them (the layer would ask for them).
        GDALDatasetH whole = GDALOpen(File("olinda4000.tif").c_str(), GA_Update);
        if (!whole || !bench::BuildOverviewsLike(whole)) {
            return false;
        }
        const std::string cut = std::to_string(kCut), side = std::to_string(kSide);
        const bool ok =
            whole && Translate(whole, {"-srcwin", "0", "0", cut, side}, File("west.tif")) &&
            Translate(whole, {"-srcwin", std::to_string(kSide - kCut), "0", cut, side}, File("east.tif"));
        if (whole) {
            GDALClose(whole);
        }
        return ok;
    });
}

// Answers the split's folder chooser with the tiles folder.
class Answers : public bench::Unattended {
public:
    explicit Answers(QString folder) : m_folder(std::move(folder)) {}
    QString ChooseFolder(const QString&, const QString&) override { return m_folder; }

private:
    QString m_folder;
};

void AddRectangle(CKelvaroDoc& doc, const char* layer, double x0, double y0, double x1, double y1) {
    CadSetCurLayer(doc.m_pCad, CadGetLayerByName(doc.m_pCad, layer));
    CadClearVertices();
    CadAddVertex(x0, y0, 0);
    CadAddVertex(x1, y0, 0);
    CadAddVertex(x1, y1, 0);
    CadAddVertex(x0, y1, 0);
}

// ---- merge

const bench::PairRegistration kMerge("dem_merge", [](bench::Pair* pair) {
    if (!MakeDems()) {
        return false;
    }
    const std::string ours = File("ours_merged.tif"), theirs = File("gdal_merged.tif");
    pair->operation = "DEM merge along seamlines (MergeDEMs)";
    pair->input = bench::Format("two %d x %d DEMs overlapping in %d columns", kCut, kSide, 2 * kCut - kSide);
    pair->ours = {"ours", {bench::Self("merge-ours", {ours})}, {ours}};
    pair->peer = {
        "GDALWarp (gdalwarp) + overviews, no blend", {bench::Self("merge-gdal", {theirs})}, {theirs}};
    pair->check = bench::RastersAgree(ours, theirs, 1e-3);
    return true;
});

const bench::SideRegistration kMergeOurs(
    "merge-ours",
    [](const Args& a) {
        ZQT_SetSpecialFolderRoot(File.Folder() + "/work");
        CKelvaroDoc doc;
        doc.SetPathName(File.Folder() + "/bench.kvp");
        if (!doc.AddDEM(QFile::decodeName(File("west.tif").c_str()), 0) ||
            !doc.AddDEM(QFile::decodeName(File("east.tif").c_str()), 0)) {
            return 1;
        }
        CDEM* west = doc.m_DEMs.at("west.tif");
        CDEM* east = doc.m_DEMs.at("east.tif");
        const double* gt = west->m_geoTransform;
        const double seam = gt[0] + (kSide / 2) * gt[1], bottom = gt[3] + kSide * gt[5];
        CadAddLayer(doc.m_pCad, "SeamLines_DEM", 7, 0, 0);
        for (const auto& [dem, x0, x1] :
             {std::tuple{west, gt[0], seam}, std::tuple{east, seam, gt[0] + kSide * gt[1]}}) {
            AddRectangle(doc, "SeamLines_DEM", x0, bottom, x1, gt[3]);
            CadEntity* e = CadAddPolyline(doc.m_pCad, 0, 1);
            CadEntityPutUserPtr(e, dem);
            dem->SeamlinePolylines.push_back(e);
        }
        const bool ok = bench::TimeOperation([&] {
            return CDEMMergeDlg::MergeDEMs(&doc, {west, east}, QFile::decodeName(a[0].c_str()), nullptr,
                                           nullptr, nullptr, nullptr, nullptr, nullptr, nullptr) != 0;
        });
        return ok ? 0 : 1;
    },
    bench::Qt::Widgets);

const bench::SideRegistration kMergeGdal("merge-gdal", [](const Args& a) {
    return bench::TimeOperation([&] {
        GDALDatasetH dems[2] = {GDALOpen(File("west.tif").c_str(), GA_ReadOnly),
                                GDALOpen(File("east.tif").c_str(), GA_ReadOnly)};
        const char* args[] = {"-of", "GTiff",          "-co",        "TILED=YES", "-co",  "BLOCKXSIZE=128",
                              "-co", "BLOCKYSIZE=128", "-dstnodata", "-9999",     nullptr};
        GDALWarpAppOptions* options = GDALWarpAppOptionsNew(const_cast<char**>(args), nullptr);
        GDALDatasetH out =
            dems[0] && dems[1] ? GDALWarp(a[0].c_str(), nullptr, 2, dems, options, nullptr) : nullptr;
        GDALWarpAppOptionsFree(options);
        const bool ok = out && bench::BuildOverviewsLike(out);
        for (GDALDatasetH ds : {out, dems[0], dems[1]}) {
            if (ds) {
                GDALClose(ds);
            }
        }
        return ok;
    })
               ? 0
               : 1;
});

// ---- split

std::string TileName(int r, int c) {
    char name[32];
    std::snprintf(name, sizeof name, "T-%02d-%02d", r, c);
    return name;
}

const bench::PairRegistration kSplit("dem_split", [](bench::Pair* pair) {
    if (!MakeDems()) {
        return false;
    }
    const std::string ours = File("ours_tiles/"), theirs = File("gdal_tiles/");
    pair->operation = "DEM split into 16 tiles (SplitDem)";
    pair->input = bench::Format("%d x %d DEM, tiles of %d x %d", kSide, kSide, kTile, kTile);
    pair->ours = {"ours", {bench::Self("split-ours", {ours})}, {ours}};
    pair->peer = {"GDALTranslate per tile (gdal_retile.py) + overviews",
                  {bench::Self("split-gdal", {theirs})},
                  {theirs}};
    pair->check = [ours, theirs](std::string* agreed) {
        bench::Agreement all;
        for (int r = 0; r < kSide / kTile; ++r) {
            for (int c = 0; c < kSide / kTile; ++c) {
                const bench::Agreement a = bench::CompareRasters(ours + TileName(r, c) + ".gtif",
                                                                 theirs + TileName(r, c) + ".tif", 1e-4);
                if (!a.error.empty()) {
                    return TileName(r, c) + ": " + a.error;
                }
                all.compared += a.compared;
                all.apart += a.apart;
                all.onlyOne += a.onlyOne;
                all.largest = std::max(all.largest, a.largest);
                all.meanAbs += a.meanAbs / 16;
                for (int k = 0; k < 2; ++k) {
                    all.overviews[k] = std::max(all.overviews[k], a.overviews[k]);
                }
            }
        }
        return bench::Judge(all, 0.0, 0.0, agreed);
    };
    return true;
});

const bench::SideRegistration kSplitOurs(
    "split-ours",
    [](const Args& a) {
        Answers answers(QFile::decodeName(a[0].c_str()));
        kv::SetInteraction(&answers);
        CKelvaroDoc doc;
        doc.SetPathName(File.Folder() + "/bench.kvp");
        if (!doc.AddDEM(QFile::decodeName(File("olinda4000.tif").c_str()), 0)) {
            return 1;
        }
        CDEM* dem = doc.m_DEMs.at("olinda4000.tif");
        const double* gt = dem->m_geoTransform;
        CadAddLayer(doc.m_pCad, "Tiles", 7, 0, 0);
        for (int r = 0; r < kSide / kTile; ++r) {
            for (int c = 0; c < kSide / kTile; ++c) {
                const double x0 = gt[0] + c * kTile * gt[1], y0 = gt[3] + r * kTile * gt[5];
                AddRectangle(doc, "Tiles", x0, y0 + kTile * gt[5], x0 + kTile * gt[1], y0);
                CadEntity* e = CadAddPolyline(doc.m_pCad, 0, 1);
                char name[256] = {};
                std::snprintf(name, sizeof name, "%s", TileName(r, c).c_str());
                CadEntityPutExData(e, name, 256);
            }
        }
        CadSetCurLayerByName(doc.m_pCad, "0");
        return bench::TimeOperation([&] { return SplitDem(&doc, dem) != 0; }) ? 0 : 1;
    },
    bench::Qt::Widgets);

const bench::SideRegistration kSplitGdal("split-gdal", [](const Args& a) {
    return bench::TimeOperation([&] {
        GDALDatasetH dem = GDALOpen(File("olinda4000.tif").c_str(), GA_ReadOnly);
        bool ok = dem != nullptr;
        for (int r = 0; r < kSide / kTile && ok; ++r) {
            for (int c = 0; c < kSide / kTile && ok; ++c) {
                ok = Translate(dem,
                               {"-srcwin", std::to_string(c * kTile), std::to_string(r * kTile),
                                std::to_string(kTile), std::to_string(kTile), "-co", "TILED=YES", "-co",
                                "BLOCKXSIZE=128", "-co", "BLOCKYSIZE=128"},
                               a[0] + TileName(r, c) + ".tif");
            }
        }
        if (dem) {
            GDALClose(dem);
        }
        return ok;
    })
               ? 0
               : 1;
});

}  // namespace
