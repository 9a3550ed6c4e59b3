// Seamline generation as the operator runs it from the ribbon: the regions of two Landsat crops
// and their polylines on the seamline layer, kept with the project and clipping the plan view;
// the refusals and failures in their own words; what a failed or aborted build leaves alone; the
// polygon files of empty images, slivers, fewer images and the other kind; DEMs coloured on one
// scale, an edited one read from its grid in memory, with their seams kept to the cells where both
// have data.
#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEvent>
#include <QFile>
#include <QFileInfo>

#include <gdal.h>
#include <gdal_utils.h>

#include <cmath>
#include <functional>
#include <memory>

#include "MosaicFixtures.h"
#include "document/KelvaroDoc.h"
#include "document/UserCommands.h"
#include "mosaic/MosaicCommands.h"
#include "mosaic/SeamlineBuilders.h"
#include "mosaic/SeamlinesGenerationDlg.h"
#include "platform/ui/ActiveCommand.h"
#include "platform/ui/CadCommandIds.h"
#include "platform/ui/CommandIds.h"
#include "raster/DEM.h"
#include "raster/Ortho.h"
#include "support/Pictures.h"
#include "support/ScriptedInteraction.h"
#include "support/TestEnv.h"
#include "view/CadEventProcs.h"

namespace {

constexpr double kLandsatPixel = mtest::LandsatPair::kPixel;
const QString kReplaceQuestion = QStringLiteral(
    "Some seamlines are already present. Any previous editing will be lost.\nDo you want to proceed?");

using GenerationRunner = mtest::DialogRunner<CSeamlinesGenerationDlg, TProgressTimeToComplete>;

// Everything a build may change about the seamlines of a kind.
struct SeamlineState {
    std::vector<CadEntity*> handles;
    std::vector<void*> owners;
    std::vector<int> userData;
    std::vector<int> erased;
    bool operator==(const SeamlineState&) const = default;
};

template <class Record>
SeamlineState StateOf(const std::map<QString, Record*>& table) {
    SeamlineState state;
    for (const auto& entry : table) {
        for (CadEntity* e : entry.second->SeamlinePolylines) {
            state.handles.push_back(e);
            state.owners.push_back(CadEntityGetUserPtr(e));
            state.userData.push_back(CadEntityGetUserData(e));
            state.erased.push_back(CadEntityGetDeleted(e));
        }
    }
    return state;
}

CPgon PolygonOf(CadEntity* polyline) {
    std::vector<Wml::Point2> points;
    for (int i = 0; i < CadPlineGetNumVers(polyline); ++i) {
        double x, y, z;
        CadPlineGetVer(polyline, i, &x, &y, &z);
        points.emplace_back(x, y);
    }
    return CPgon(points.data(), int(points.size()));
}

CPgon RegionOf(const CadEntityList& polylines) {
    CPgon region;
    for (CadEntity* e : polylines) {
        region = region | PolygonOf(e);
    }
    return region;
}

int CountLayerEntities(CadDrawing* drawing, const char* name) {
    CadLayer* layer = CadGetLayerByName(drawing, name);
    int count = 0;
    for (CadEntity* e = layer ? CadLayerGetFirstEntity(layer) : nullptr; e;
         e = CadLayerGetNextEntity(layer, e)) {
        ++count;
    }
    return count;
}

// The polylines of a record as the seamline layer must hold them.
template <class Record>
void ExpectLinked(Record* record, const char* layerName) {
    ASSERT_FALSE(record->SeamlinePolylines.empty()) << record->m_name.toStdString();
    CadLayer* layer = CadGetLayerByName(record->m_pDoc->m_pCad, layerName);
    for (CadEntity* e : record->SeamlinePolylines) {
        EXPECT_EQ(CadEntityGetType(e), CAD_ENT_POLYLINE);
        EXPECT_TRUE(CadPlineGetClosed(e));
        EXPECT_GE(CadPlineGetNumVers(e), 3);
        EXPECT_FALSE(CadEntityGetDeleted(e));
        EXPECT_EQ(CadEntityGetUserPtr(e), record);
        EXPECT_EQ(CadEntityGetUserData(e), CadEntityGetID(record->m_imageEntity));
        EXPECT_EQ(CadEntityGetLayer(e), layer);
    }
}

// Bands 3, 2, 1 of a Landsat crop warped to other cells (bilinear).
QString WarpedLandsat(const QString& source, const QString& target, double width, double height) {
    GDALDatasetH in = GDALOpen(QFile::encodeName(source).constData(), GA_ReadOnly);
    const std::string w = std::to_string(width), h = std::to_string(height);
    const char* args[] = {"-of", "GTiff", "-tr", w.c_str(), h.c_str(), "-r", "bilinear", nullptr};
    GDALWarpAppOptions* options = GDALWarpAppOptionsNew(const_cast<char**>(args), nullptr);
    GDALDatasetH out = GDALWarp(QFile::encodeName(target).constData(), nullptr, 1, &in, options, nullptr);
    GDALWarpAppOptionsFree(options);
    GDALClose(in);
    EXPECT_NE(out, nullptr);
    GDALClose(out);
    return target;
}

// An orthophoto of three black bands over the pixel window of the Landsat scene.
QString BlackLandsat(const QString& target, int column, int width) {
    const QString path = mtest::CutLandsat(target, column, 0, width, 352);
    GDALDatasetH ds = GDALOpen(QFile::encodeName(path).constData(), GA_Update);
    for (int b = 1; b <= 3; ++b) {
        GDALFillRaster(GDALGetRasterBand(ds, b), 0.0, 0.0);
    }
    GDALClose(ds);
    return path;
}

// Columns of the Olinda DEM as a Float32 GeoTIFF with no data -9999, the first `empty` columns
// without data.
QString OlindaCrop(const QString& target, int column, int width, int empty) {
    GDALDatasetH in =
        GDALOpen(QFile::encodeName(kvtest::DataPath(QStringLiteral("olinda_dem_utm25s.tif"))).constData(),
                 GA_ReadOnly);
    const std::string x = std::to_string(column), w = std::to_string(width);
    const char* args[] = {"-of",     "GTiff",   "-ot", "Float32", "-a_nodata", "-9999",
                          "-srcwin", x.c_str(), "0",   w.c_str(), "111",       nullptr};
    GDALTranslateOptions* options = GDALTranslateOptionsNew(const_cast<char**>(args), nullptr);
    GDALDatasetH out = GDALTranslate(QFile::encodeName(target).constData(), in, options, nullptr);
    GDALTranslateOptionsFree(options);
    GDALClose(in);
    EXPECT_NE(out, nullptr);
    if (empty > 0) {
        std::vector<float> cells(size_t(empty) * 111, kNoData);
        EXPECT_EQ(GDALRasterIO(GDALGetRasterBand(out, 1), GF_Write, 0, 0, empty, 111, cells.data(), empty,
                               111, GDT_Float32, 0, 0),
                  CE_None);
    }
    GDALClose(out);
    return target;
}

class SeamlineGeneration : public ::testing::Test {
protected:
    void SetUp() override {
        folder = mtest::PrepareMosaicCommands();
        SetSeamlinesGenerationDelay(0);
        SetMaskContourJitterSeed(26);
        doc = std::make_unique<CKelvaroDoc>();
    }
    void TearDown() override {
        doc.reset();
        GetDocumentProcedures().Reset();
        SetSeamlinesGenerationDelay(1000);
        SetMaskContourJitterSeed(-1);
    }

    // The Landsat pair as the project's orthophotos, saved as site.kvp.
    void AddLandsatPair(bool save = true) {
        pair = std::make_unique<mtest::LandsatPair>(folder);
        ASSERT_EQ(doc->AddOrtho(pair->paths[0], 0, 0), 1);
        ASSERT_EQ(doc->AddOrtho(pair->paths[1], 0, 0), 1);
        a = doc->m_Orthos.at("scene_a.tif");
        b = doc->m_Orthos.at("scene_b.tif");
        if (save) {
            ASSERT_EQ(doc->DoSave(ProjectPath()), 1);
        }
    }
    QString ProjectPath() const { return folder + "/site.kvp"; }
    QString File(const QString& relative) const { return folder + "/" + relative; }

    kvtest::ScriptedInteraction ui;
    GenerationRunner runner{ui, &CSeamlinesGenerationDlg::m_ProgressCtrl};
    QString folder;
    std::unique_ptr<CKelvaroDoc> doc;
    std::unique_ptr<mtest::LandsatPair> pair;
    COrtho* a = nullptr;
    COrtho* b = nullptr;
};

}  // namespace

TEST_F(SeamlineGeneration, TwoCropsGetTwoRegionsSharingOneRoutedSeamKeptWithTheProject) {
    AddLandsatPair();
    runner.onProgress = [](CSeamlinesGenerationDlg& dialog, int value) {
        if (value != 1 || !dialog.m_btnAbort.isEnabled()) {
            return;
        }
        const QImage shot = kvtest::Screenshot(&dialog, "CSeamlinesGenerationDlg");
        EXPECT_EQ(dialog.windowTitle(), "Seamlines Generation");
        EXPECT_GT(kvtest::ColourCount(shot, kvtest::PlaceIn(&dialog.m_btnAbort, &dialog)), 3);
        const QColor bar = dialog.m_ProgressCtrl.palette().color(QPalette::Highlight);
        EXPECT_GT(kvtest::ColourShare(shot, bar, kvtest::PlaceIn(&dialog.m_ProgressCtrl, &dialog), 8), 0.1);
    };
    ASSERT_EQ(runner.Press(*doc, ID_BUTTON_BUILDSEAMLINES), IDOK);
    EXPECT_TRUE(ui.MessageTexts().isEmpty()) << ui.MessageTexts().join("|").toStdString();
    EXPECT_EQ(doc->SeamlineScaleFactor, 1.0);

    CadLayer* layer = CadGetLayerByName(doc->m_pCad, "SeamLines");
    ASSERT_NE(layer, nullptr);
    EXPECT_TRUE(CadLayerGetLock(layer));
    EXPECT_EQ(CadLayerGetColor(layer), 7);
    EXPECT_FALSE(CadGetReadOnly(doc->m_pCad));
    ExpectLinked(a, "SeamLines");
    ExpectLinked(b, "SeamLines");
    EXPECT_EQ(CountLayerEntities(doc->m_pCad, "SeamLines"),
              int(a->SeamlinePolylines.size() + b->SeamlinePolylines.size()));

    // Two regions that cover the pair's extent without overlapping, sharing a seam that is not the
    // straight bisector.
    const CPgon regionA = RegionOf(a->SeamlinePolylines), regionB = RegionOf(b->SeamlinePolylines);
    const double cell = kLandsatPixel * kLandsatPixel;
    EXPECT_NEAR((regionA | regionB).GetArea(), 349.0 * 352.0 * cell, 400 * cell);
    EXPECT_LT((regionA & regionB).GetArea(), 20 * cell);
    std::vector<Wml::Point2> shared;
    const CPgon outlineA = PolygonOf(a->SeamlinePolylines.front()),
                outlineB = PolygonOf(b->SeamlinePolylines.front());
    for (const Wml::Point2& p : outlineA.GetContour(0)) {
        const std::vector<Wml::Point2>& other = outlineB.GetContour(0);
        if (std::find(other.begin(), other.end(), p) != other.end()) {
            shared.push_back(p);
        }
    }
    ASSERT_GE(shared.size(), 4u);
    const auto [left, right] =
        std::minmax_element(shared.begin(), shared.end(), [](auto& p, auto& q) { return p.X() < q.X(); });
    EXPECT_GT(right->X() - left->X(), 2 * kLandsatPixel);

    // The files: each region as its "sml" (the polylines' vertices), each routed outline as its "pol".
    for (COrtho* ortho : {a, b}) {
        CPgon sml, pol;
        ASSERT_EQ(ReadPgonFile(File("SeamLines/" + ortho->m_name + ".sml"), sml), 1);
        ASSERT_EQ(sml.GetNumContours(), int(ortho->SeamlinePolylines.size()));
        EXPECT_EQ(sml.GetContour(0), PolygonOf(ortho->SeamlinePolylines.front()).GetContour(0));
        ASSERT_EQ(ReadPgonFile(File("POL/" + ortho->m_name + ".pol"), pol), 1);
        EXPECT_EQ(pol.GetNumContours(), 1);
    }

    // The plan view draws each orthophoto only inside its region.
    RegisterDocumentEventProcs();
    QWidget* window = CadWndCreate(doc->m_pCad, nullptr, 0, 0, 700, 400);
    ASSERT_NE(window, nullptr);
    CadExecute(doc->m_pCad, window, CAD_CMD_ZOOM_EXTENTS);
    const QImage both = kvtest::Screenshot(window, "seamlines_landsat");
    auto pixelAt = [window](const QImage& image, double x, double y) {
        int wx = 0, wy = 0;
        CadCoordModelToWin(window, x, y, &wx, &wy);
        return image.pixel(wx, wy);
    };
    const double* gtA = pair->geoTransforms[0];
    const double top = gtA[3], leftX = gtA[0];
    // The pair is about as high as wide: the window's right end shows its background.
    const QRgb background = both.pixel(both.width() - 3, both.height() / 2);
    EXPECT_EQ(pixelAt(both, leftX - 40 * kLandsatPixel, top - 100 * kLandsatPixel), background);
    for (COrtho* shown : {a, b}) {
        COrtho* hidden = shown == a ? b : a;
        CadEntityPutVisible(hidden->m_imageEntity, 0);
        CadWinPaint(window);
        const QImage alone = window->grab().toImage();
        const double* gt = shown->m_geoTransform;
        const CPgon region = PolygonOf(shown->SeamlinePolylines.front());
        int inside = 0, outside = 0;
        for (int row = 20; row < 340; row += 40) {
            for (int column = 5; column < shown->m_width - 5; column += 9) {
                const double x = gt[0] + (column + 0.5) * gt[1], y = gt[3] + (row + 0.5) * gt[5];
                // Points within three cells of a region's outline are left out.
                bool agree = true;
                const bool here = region.PtInPolygon(x, y);
                for (double d : {-3.0, 3.0}) {
                    agree = agree &&
                            bool(PolygonOf(shown->SeamlinePolylines.front()).PtInPolygon(x + d * gt[1], y)) ==
                                here;
                }
                if (!agree) {
                    continue;
                }
                if (here) {
                    ++inside;
                    EXPECT_NE(pixelAt(alone, x, y), background) << column << "," << row;
                } else {
                    ++outside;
                    EXPECT_EQ(pixelAt(alone, x, y), background) << column << "," << row;
                }
            }
        }
        EXPECT_GT(inside, 50);
        EXPECT_GT(outside, 20);
        CadEntityPutVisible(hidden->m_imageEntity, 1);
    }
    EXPECT_NE(pixelAt(both, gtA[0] + 20 * kLandsatPixel, top - 100 * kLandsatPixel), background);
    EXPECT_NE(pixelAt(both, gtA[0] + 330 * kLandsatPixel, top - 100 * kLandsatPixel), background);
    CadWndDestroy(window);

    // Saved, closed and opened again, the polylines come back linked to their orthophotos.
    const std::vector<Wml::Point2> vertices = PolygonOf(a->SeamlinePolylines.front()).GetContour(0);
    const size_t counts[2] = {a->SeamlinePolylines.size(), b->SeamlinePolylines.size()};
    ASSERT_EQ(doc->DoSave(ProjectPath()), 1);
    doc = std::make_unique<CKelvaroDoc>();
    ASSERT_EQ(doc->OnOpenDocument(ProjectPath()), 1);
    a = doc->m_Orthos.at("scene_a.tif");
    b = doc->m_Orthos.at("scene_b.tif");
    ExpectLinked(a, "SeamLines");
    ExpectLinked(b, "SeamLines");
    EXPECT_EQ(a->SeamlinePolylines.size(), counts[0]);
    EXPECT_EQ(b->SeamlinePolylines.size(), counts[1]);
    EXPECT_EQ(PolygonOf(a->SeamlinePolylines.front()).GetContour(0), vertices);
}

TEST_F(SeamlineGeneration, RefusalsAreToldInTheirOwnWords) {
    // One orthophoto, one DEM.
    const QString single = mtest::CutLandsat(File("single.tif"), 0, 0, 100, 100);
    ASSERT_EQ(doc->AddOrtho(single, 0, 0), 1);
    ASSERT_EQ(doc->AddDEM(OlindaCrop(File("dem.tif"), 0, 50, 0), 0), 1);
    ASSERT_EQ(doc->DoSave(ProjectPath()), 1);
    EXPECT_EQ(runner.Press(*doc, ID_BUTTON_BUILDSEAMLINES), IDCANCEL);
    EXPECT_EQ(runner.Press(*doc, ID_DEMSPLITMERGE_BUILDSEAMLINES), IDCANCEL);
    EXPECT_EQ(ui.MessageTexts(), QStringList({"At least 2 images are needed", "At least 2 DEMs are needed"}));
    EXPECT_EQ(ui.Messages()[0].icon(), kv::MessageIcon::Information);

    // A project never saved.
    ui.Clear();
    doc = std::make_unique<CKelvaroDoc>();
    AddLandsatPair(false);
    EXPECT_EQ(runner.Press(*doc, ID_BUTTON_BUILDSEAMLINES), IDCANCEL);
    EXPECT_EQ(ui.MessageTexts(), QStringList({"Save the project before start seamlines process"}));

    // Another cell width, and another cell height alone: the working grid's square cells would
    // misplace that image.
    for (auto [width, height] : {std::pair{30.0, 30.0}, {28.5, 30.0}}) {
        ui.Clear();
        doc = std::make_unique<CKelvaroDoc>();
        ASSERT_EQ(doc->AddOrtho(mtest::CutLandsat(File("gsd_a.tif"), 0, 0, 220, 352), 0, 0), 1);
        const QString warped = WarpedLandsat(mtest::CutLandsat(File("gsd_b_source.tif"), 130, 0, 219, 352),
                                             File(QStringLiteral("gsd_b_%1.tif").arg(width)), width, height);
        ASSERT_EQ(doc->AddOrtho(warped, 0, 0), 1);
        ASSERT_EQ(doc->DoSave(ProjectPath()), 1);
        EXPECT_EQ(runner.Press(*doc, ID_BUTTON_BUILDSEAMLINES), IDCANCEL);
        EXPECT_EQ(ui.MessageTexts(), QStringList({"Orthophotos must have the same GSD"})) << height;
    }

    // No image shown: nothing to build from, and no folder made.
    ui.Clear();
    doc = std::make_unique<CKelvaroDoc>();
    QDir(folder).removeRecursively();
    QDir().mkpath(folder);
    AddLandsatPair();
    CadLayerPutVisible(CadGetLayerByName(doc->m_pCad, "scene_a.tif"), 0);
    CadEntityPutVisible(b->m_imageEntity, 0);
    EXPECT_EQ(runner.Press(*doc, ID_BUTTON_BUILDSEAMLINES), IDCANCEL);
    EXPECT_EQ(ui.MessageTexts(), QStringList({"Unable to build seamlines"}));
    EXPECT_FALSE(QFileInfo::exists(File("POL")));

    // Declining to replace the seamlines keeps them and their files, and closes with OK.
    CadLayerPutVisible(CadGetLayerByName(doc->m_pCad, "scene_a.tif"), 1);
    CadEntityPutVisible(b->m_imageEntity, 1);
    ASSERT_EQ(runner.Press(*doc, ID_BUTTON_BUILDSEAMLINES), IDOK);
    const SeamlineState before = StateOf(doc->m_Orthos);
    const QByteArray sml = kvtest::FileBytes(File("SeamLines/scene_a.tif.sml"));
    ui.Clear();
    ui.AnswerMessage(IDNO);
    EXPECT_EQ(runner.Press(*doc, ID_BUTTON_BUILDSEAMLINES), IDOK);
    EXPECT_EQ(ui.MessageTexts(), QStringList({kReplaceQuestion}));
    EXPECT_EQ(ui.Messages()[0].icon(), kv::MessageIcon::Question);
    EXPECT_EQ(StateOf(doc->m_Orthos), before);
    EXPECT_EQ(kvtest::FileBytes(File("SeamLines/scene_a.tif.sml")), sml);

    // While a CAD command runs the button is refused.
    ui.Clear();
    ActiveCadCommandId = CMD_VOLUME;
    EXPECT_TRUE(doc->OnCommand(ID_BUTTON_BUILDSEAMLINES));
    EXPECT_EQ(ui.MessageTexts(), QStringList({"Close active command before"}));
    EXPECT_TRUE(ui.Dialogs().isEmpty());
    ActiveCadCommandId = 0;
}

TEST_F(SeamlineGeneration, AFailedOrAbortedBuildLeavesThePreviousSeamlinesAlone) {
    AddLandsatPair();
    ASSERT_EQ(runner.Press(*doc, ID_BUTTON_BUILDSEAMLINES), IDOK);
    doc->m_SeamlineRounds.push_back(new UndoRoundData{doc->m_pCad, {a}, {}, {a->SeamlinePolylines}, {}});
    doc->m_nCurrentSeamlineRound = 0;
    const SeamlineState before = StateOf(doc->m_Orthos);
    auto expectUntouched = [&](const char* what) {
        EXPECT_EQ(StateOf(doc->m_Orthos), before) << what;
        EXPECT_EQ(doc->m_SeamlineRounds.size(), 1u) << what;
        EXPECT_EQ(doc->m_nCurrentSeamlineRound, 0) << what;
        EXPECT_EQ(CountLayerEntities(doc->m_pCad, "SeamLines"), int(before.handles.size())) << what;
    };

    // Abort pressed while the images are routed: the builder stops.
    runner.onProgress = [](CSeamlinesGenerationDlg& dialog, int value) {
        if (value == 1 && dialog.m_btnAbort.isEnabled()) {
            dialog.m_btnAbort.click();
        }
    };
    EXPECT_EQ(runner.Press(*doc, ID_BUTTON_BUILDSEAMLINES), IDCANCEL);
    EXPECT_EQ(ui.MessageTexts(), QStringList({kReplaceQuestion, "Unable to build seamlines"}));
    EXPECT_EQ(ui.Messages()[1].icon(), kv::MessageIcon::Warning);
    expectUntouched("abort while routing");

    // Abort pressed once the builder has passed its last check (as it resets its bar).
    ui.Clear();
    bool trimmed = false;
    runner.onProgress = [&trimmed](CSeamlinesGenerationDlg& dialog, int value) {
        trimmed = trimmed || value == dialog.m_ProgressCtrl.GetUpper();
        if (trimmed && value == 0 && dialog.m_btnAbort.isEnabled()) {
            dialog.m_btnAbort.click();
        }
    };
    EXPECT_EQ(runner.Press(*doc, ID_BUTTON_BUILDSEAMLINES), IDCANCEL);
    EXPECT_EQ(ui.MessageTexts(), QStringList({kReplaceQuestion, "Process aborted by user"}));
    expectUntouched("abort after the last check");

    // An image whose raster cannot be read fails the build and is named in the command line,
    // rather than leaving a hole in the partition.
    ui.Clear();
    runner.onProgress = nullptr;
    ASSERT_TRUE(QFile::rename(pair->paths[1], pair->paths[1] + ".moved"));
    EXPECT_EQ(runner.Press(*doc, ID_BUTTON_BUILDSEAMLINES), IDCANCEL);
    EXPECT_EQ(ui.MessageTexts(), QStringList({kReplaceQuestion, "Unable to build seamlines"}));
    char prompt[256] = {};
    CadCmdGetPrompt(doc->m_pCad, prompt, sizeof prompt);
    EXPECT_STREQ(prompt, "Unable to read scene_b.tif");
    expectUntouched("unreadable image");

    // A build that succeeds replaces the polylines and empties the edit rounds that named the old
    // ones.
    ASSERT_TRUE(QFile::rename(pair->paths[1] + ".moved", pair->paths[1]));
    ASSERT_EQ(runner.Press(*doc, ID_BUTTON_BUILDSEAMLINES), IDOK);
    EXPECT_TRUE(doc->m_SeamlineRounds.empty());
    EXPECT_EQ(doc->m_nCurrentSeamlineRound, -1);
    ExpectLinked(a, "SeamLines");
    for (CadEntity* old : before.handles) {
        EXPECT_EQ(std::count(a->SeamlinePolylines.begin(), a->SeamlinePolylines.end(), old), 0);
        EXPECT_EQ(CadGetEntityByID(doc->m_pCad, CadEntityGetID(old)), nullptr);
    }
}

TEST_F(SeamlineGeneration, PolygonFilesOfEmptyImagesFewerImagesAndTheOtherKind) {
    // A third orthophoto, all black, over the right part of the pair.
    AddLandsatPair(false);
    ASSERT_EQ(doc->AddOrtho(BlackLandsat(File("black.tif"), 250, 99), 0, 0), 1);
    ASSERT_EQ(doc->AddDEM(OlindaCrop(File("dem_a.tif"), 0, 70, 0), 0), 1);
    ASSERT_EQ(doc->AddDEM(OlindaCrop(File("dem_b.tif"), 40, 71, 0), 0), 1);
    ASSERT_EQ(doc->DoSave(ProjectPath()), 1);
    ASSERT_EQ(runner.Press(*doc, ID_BUTTON_BUILDSEAMLINES), IDOK);
    EXPECT_EQ(kvtest::FileBytes(File("POL/black.tif.pol")),
              QByteArray("\x01\x00\x00\x00\x00\x00\x00\x00", 8));
    EXPECT_FALSE(QFileInfo::exists(File("SeamLines/black.tif.sml")));
    EXPECT_TRUE(doc->m_Orthos.at("black.tif")->SeamlinePolylines.empty());
    ExpectLinked(a, "SeamLines");
    ExpectLinked(b, "SeamLines");

    // Without scene_b the build keeps its "sml" file and writes every "pol" file anew: scene_b's
    // goes, and so does any other; the polylines of scene_b go too.
    const QByteArray smlB = kvtest::FileBytes(File("SeamLines/scene_b.tif.sml"));
    ASSERT_TRUE(kvtest::WriteFileBytes(File("POL/scene_a.tif.pol"), "damaged"));
    ASSERT_TRUE(kvtest::WriteFileBytes(File("POL/stale.pol"), "old"));
    CadLayerPutVisible(CadGetLayerByName(doc->m_pCad, "scene_b.tif"), 0);
    ASSERT_EQ(runner.Press(*doc, ID_BUTTON_BUILDSEAMLINES), IDOK);
    EXPECT_EQ(kvtest::FileBytes(File("SeamLines/scene_b.tif.sml")), smlB);
    EXPECT_EQ(QDir(File("POL")).entryList(QDir::Files), QStringList({"black.tif.pol", "scene_a.tif.pol"}));
    CPgon polA;
    ASSERT_EQ(ReadPgonFile(File("POL/scene_a.tif.pol"), polA), 1);
    EXPECT_EQ(polA.GetNumContours(), 1);
    EXPECT_TRUE(b->SeamlinePolylines.empty());
    ExpectLinked(a, "SeamLines");

    // The DEMs' build shares the "POL" folder: the orthophotos' "pol" files go, their "sml" files stay.
    const QStringList smlFiles = QDir(File("SeamLines")).entryList(QDir::Files);
    ASSERT_EQ(runner.Press(*doc, ID_DEMSPLITMERGE_BUILDSEAMLINES), IDOK);
    EXPECT_EQ(QDir(File("SeamLines")).entryList(QDir::Files), smlFiles);
    EXPECT_EQ(QDir(File("POL")).entryList(QDir::Files), QStringList({"dem_a.tif.pol", "dem_b.tif.pol"}));
    EXPECT_EQ(QDir(File("SeamLines_DEM")).entryList(QDir::Files),
              QStringList({"dem_a.tif.sml", "dem_b.tif.sml"}));
    ExpectLinked(a, "SeamLines");
}

TEST_F(SeamlineGeneration, RegionsTrimmedToSliversGetAnEmptySmlAndNoPolyline) {
    AddLandsatPair();
    OrthoSeamlineImages images({a, b});
    int abortFlag = 0;
    SeamlineBuild build(doc.get(), images, kLandsatPixel, CCentralImagineryParams(0, 4, 128, 0), nullptr,
                        &abortFlag);
    ASSERT_EQ(build.Prepare(), 0);
    ASSERT_EQ(build.RoutePass(), 0);
    // scene_a's region reaches 1.5 cells beyond scene_b's on one side only: trimmed by it, a
    // sliver of 15 square cells is left.
    const Wml::Point2 regionA[4] = {{0, 0}, {10, 0}, {10, 11.5}, {0, 11.5}};
    const Wml::Point2 regionB[4] = {{0, 0}, {10, 0}, {10, 10}, {0, 10}};
    ASSERT_EQ(WritePgonFile("scene_a.tif", build.PolFolder(), CPgon(regionA, 4)), 1);
    ASSERT_EQ(WritePgonFile("scene_b.tif", build.PolFolder(), CPgon(regionB, 4)), 1);
    ASSERT_EQ(build.ReadBackPass(), 0);
    ASSERT_EQ(build.TrimPass(), 0);
    CadDrawing* temporary = nullptr;
    ASSERT_EQ(build.Finish(&temporary), 0);
    ASSERT_NE(temporary, nullptr);

    EXPECT_EQ(kvtest::FileBytes(File("SeamLines/scene_a.tif.sml")),
              QByteArray("\x01\x00\x00\x00\x00\x00\x00\x00", 8));
    CPgon smlB;
    ASSERT_EQ(ReadPgonFile(File("SeamLines/scene_b.tif.sml"), smlB), 1);
    EXPECT_EQ(smlB.GetNumContours(), 1);
    int polylines = 0;
    for (CadEntity* e = CadGetFirstEntity(temporary); e; e = CadGetNextEntity(temporary, e), ++polylines) {
        EXPECT_EQ(CadEntityGetUserPtr(e), b);
    }
    EXPECT_EQ(polylines, 1);
    CadDelete(temporary);
}

TEST_F(SeamlineGeneration, DemSeamsKeepToTheCellsWhereBothDemsHaveData) {
    // Jet colours at the ends of the range (blue, green, red order) and black for no data.
    cv::Mat heights = (cv::Mat_<float>(1, 4) << 10.0f, 30.0f, kNoData, NAN);
    cv::Mat jet = DemToJetImage(heights, cv::Vec2f(10, 30));
    EXPECT_EQ(jet.at<cv::Vec3b>(0, 0), cv::Vec3b(128, 0, 0));
    EXPECT_EQ(jet.at<cv::Vec3b>(0, 1), cv::Vec3b(0, 0, 128));
    for (int c = 2; c < 4; ++c) {
        EXPECT_EQ(jet.at<cv::Vec3b>(0, c), cv::Vec3b(0, 0, 0)) << c;
    }
    jet = DemToJetImage(heights, cv::Vec2f(30, 30));
    EXPECT_EQ(jet.at<cv::Vec3b>(0, 1), cv::Vec3b(128, 0, 0));
    // No elevation is coloured black, which would count as no data.
    cv::Mat ramp(1, 256, CV_32FC1);
    for (int v = 0; v < 256; ++v) {
        ramp.at<float>(0, v) = float(v);
    }
    const cv::Mat colours = DemToJetImage(ramp, cv::Vec2f(0, 255));
    for (int v = 0; v < 256; ++v) {
        const cv::Vec3b c = colours.at<cv::Vec3b>(0, v);
        EXPECT_GE(std::max({c[0], c[1], c[2]}), 128) << v;
    }

    // Columns 0-69 and 40-110 of the Olinda DEM; the second has no data in its first 10 columns on
    // file, and in 5 more in its grid, edited in memory (its dataset closed).
    ASSERT_EQ(doc->AddDEM(OlindaCrop(File("west.tif"), 0, 70, 0), 0), 1);
    ASSERT_EQ(doc->AddDEM(OlindaCrop(File("east.tif"), 40, 71, 10), 0), 1);
    ASSERT_EQ(doc->DoSave(ProjectPath()), 1);
    CDEM* west = doc->m_DEMs.at("west.tif");
    CDEM* east = doc->m_DEMs.at("east.tif");
    ASSERT_EQ(east->LoadData(), 1);
    ASSERT_EQ(east->m_pDataset, nullptr);
    east->m_grid.colRange(10, 15).setTo(kNoData);
    east->m_modified = 1;
    ASSERT_EQ(runner.Press(*doc, ID_DEMSPLITMERGE_BUILDSEAMLINES), IDOK);
    EXPECT_TRUE(ui.MessageTexts().isEmpty()) << ui.MessageTexts().join("|").toStdString();
    ExpectLinked(west, "SeamLines_DEM");
    ExpectLinked(east, "SeamLines_DEM");
    EXPECT_TRUE(CadLayerGetLock(CadGetLayerByName(doc->m_pCad, "SeamLines_DEM")));
    EXPECT_EQ(CadGetLayerByName(doc->m_pCad, "SeamLines"), nullptr);

    // In cells of the west DEM (the working grid here), both have data in columns 55 to 69. Every
    // point of the west region's outline inside the pair (away from its outer edges and from the
    // end circles of radius 8 around the seam's ends) lies within them, up to the simplification's
    // half cell.
    const double* gt = west->m_geoTransform;
    const double cell = gt[1];
    const std::vector<Wml::Point2> outline = PolygonOf(west->SeamlinePolylines.front()).GetContour(0);
    std::vector<Wml::Point2> seam;
    for (size_t i = 0; i < outline.size(); ++i) {
        const Wml::Point2 p = outline[i], q = outline[(i + 1) % outline.size()];
        for (double t = 0; t < 1.0; t += 0.05) {
            const double x = (p.X() + (q.X() - p.X()) * t - gt[0]) / cell;
            const double y = (gt[3] - (p.Y() + (q.Y() - p.Y()) * t)) / cell;
            if (x > 1 && y > 1 && y < 110) {
                seam.emplace_back(x, y);
            }
        }
    }
    ASSERT_GT(seam.size(), 50u);
    const auto ends =
        std::minmax_element(seam.begin(), seam.end(), [](auto& p, auto& q) { return p.Y() < q.Y(); });
    const Wml::Point2 first = *ends.first, last = *ends.second;
    int checked = 0;
    for (const Wml::Point2& p : seam) {
        if ((p - first).Length() > 10 && (p - last).Length() > 10) {
            ++checked;
            EXPECT_GE(p.X(), 54.5) << p.X() << "," << p.Y();
            EXPECT_LE(p.X(), 69.5) << p.X() << "," << p.Y();
        }
    }
    EXPECT_GT(checked, 50);
}

TEST(SeamlineScaleFactor, GrowsWithTheMedianOrTheLargestImageAndIsNeverBelowOne) {
    // Small images would round to 0, which would leave the working grid without a size.
    EXPECT_EQ(SeamlineScaleFactorFor(100 * 100, 100 * 100), 1.0);
    EXPECT_EQ(SeamlineScaleFactorFor(0, 0), 1.0);
    // Four 2000 x 2000 crops: the median rules.
    EXPECT_EQ(SeamlineScaleFactorFor(4000000, 4000000), 4.0);
    EXPECT_EQ(SeamlineScaleFactorFor(2600000, 2600000), 3.0);
    // One large image among small ones: the largest rules, by the square root.
    EXPECT_EQ(SeamlineScaleFactorFor(600000000, 1000000), 10.0);
}
