// Editing seamline regions by hand as the operator does it from the ribbon: an area moves ground
// from the neighbours to the clicked image in one round; rounds are undone and redone with their
// very polylines, survive a purge, and go when their layer goes; the ribbon's enabling rules; the
// label brush.
#include <gtest/gtest.h>

#include <QFile>

#include <opencv2/imgproc.hpp>

#include <memory>

#include "MosaicFixtures.h"
#include "document/KelvaroDoc.h"
#include "document/UserCommands.h"
#include "mosaic/LabelBrush.h"
#include "mosaic/MosaicCommands.h"
#include "mosaic/SeamlineEdit.h"
#include "mosaic/SeamlineFiles.h"
#include "mosaic/TilesGenerationDlg.h"
#include "platform/ui/ActiveCommand.h"
#include "platform/ui/CadCommandIds.h"
#include "platform/ui/CommandIds.h"
#include "raster/DEM.h"
#include "raster/Ortho.h"
#include "support/ScriptedInteraction.h"
#include "support/TestEnv.h"
#include "view/CadEventProcs.h"

namespace {

constexpr double kPixel = mtest::LandsatPair::kPixel;

using Points = std::vector<Wml::Point2>;

CPgon RegionOf(const CadEntityList& polylines) {
    CPgon region;
    for (CadEntity* polyline : polylines) {
        std::vector<Wml::Point2> contour;
        for (int v = 0; v < CadPlineGetNumVers(polyline); ++v) {
            double x = 0, y = 0, z = 0;
            CadPlineGetVer(polyline, v, &x, &y, &z);
            contour.emplace_back(x, y);
        }
        region.AddContour(contour.data(), int(contour.size()));
    }
    return region;
}

CPgon Box(double x0, double y0, double x1, double y1) {
    const Wml::Point2 corners[4] = {{x0, y0}, {x1, y0}, {x1, y1}, {x0, y1}};
    return CPgon(corners, 4);
}

Points BoxPoints(double x0, double y0, double x1, double y1) {
    return {{x0, y0}, {x1, y0}, {x1, y1}, {x0, y1}};
}

QString Prompt(CadDrawing* drawing) {
    char text[256] = {};
    CadCmdGetPrompt(drawing, text, sizeof text);
    return QString::fromUtf8(text);
}

class SeamlineEdit : public ::testing::Test {
protected:
    void SetUp() override {
        GDALAllRegister();
        GetCommandRegistry().Reset();
        GetDocumentProcedures().Reset();
        RegisterMosaicCommands(GetCommandRegistry(), GetDocumentProcedures());
        CadScriptSetStrict(1);
        ActiveCadCommandId = 0;
        folder = kvtest::NewTempFolder(
            QString::fromLatin1(::testing::UnitTest::GetInstance()->current_test_info()->name()));
        doc = std::make_unique<CKelvaroDoc>();
        d = doc->m_pCad;
    }
    void TearDown() override {
        doc.reset();
        CadScriptSetStrict(0);
        GetDocumentProcedures().Reset();
    }

    // The Landsat crops as orthophotos with square regions side by side: A left of xm, B right.
    void AddOrthos() {
        pair = std::make_unique<mtest::LandsatPair>(folder);
        ASSERT_EQ(doc->AddOrtho(pair->paths[0], 0, 0), 1);
        ASSERT_EQ(doc->AddOrtho(pair->paths[1], 0, 0), 1);
        a = doc->m_Orthos.at("scene_a.tif");
        b = doc->m_Orthos.at("scene_b.tif");
        x0 = a->m_geoTransform[0];
        y1 = a->m_geoTransform[3];
        y0 = y1 - 352 * kPixel;
        xm = x0 + 175 * kPixel;
        x1 = x0 + 349 * kPixel;
        ym = (y0 + y1) / 2;
        AddRegion(a, kSeamLinesLayer, Box(x0, y0, xm, y1));
        AddRegion(b, kSeamLinesLayer, Box(xm, y0, x1, y1));
        CadLayerPutLock(CadGetLayerByName(d, kSeamLinesLayer), 1);
    }

    // The region as the image's seamline polylines, linked as the generation links them.
    template <typename Image>
    void AddRegion(Image* image, const char* layer, const CPgon& region) {
        CadLayer* seamLayer = GetSeamlineLayer(d, layer);
        for (int c = 0; c < region.GetNumContours(); ++c) {
            CadClearVertices();
            for (const Wml::Point2& p : region.GetContour(c)) {
                CadAddVertex(p.X(), p.Y(), 0);
            }
            CadEntity* polyline = CadAddPolyline(d, 0, 1);
            CadEntityPutLayerID(polyline, CadLayerGetID(seamLayer));
            CadEntityPutUserPtr(polyline, image);
            CadEntityPutUserData(polyline, CadEntityGetID(image->m_imageEntity));
            image->SeamlinePolylines.push_back(polyline);
        }
        CadClearVertices();
    }

    // One area drawn from its first point (which picks the image) and applied with a right click.
    void PushArea(const Points& area) {
        for (const Wml::Point2& p : area) {
            CadScriptPushPoint(d, p.X(), p.Y(), 0);
        }
        CadScriptPushFinish(d);
    }
    // Runs the orthophoto edit from the ribbon with the areas, then ends it with a right click.
    void Edit(const std::vector<Points>& areas, int ribbonId = ID_MOSAICMERGE_EDITSEAMLINES) {
        for (const Points& area : areas) {
            PushArea(area);
        }
        CadScriptPushFinish(d);
        EXPECT_TRUE(doc->OnCommand(ribbonId));
        EXPECT_EQ(ActiveCadCommandId, 0);
    }

    bool Enabled(int id, bool* checked = nullptr) {
        kv::CommandUI ui;
        ui.id = id;
        EXPECT_TRUE(doc->OnUpdateCommand(ui));
        if (checked) {
            *checked = ui.checked;
        }
        return ui.enabled;
    }

    kvtest::ScriptedInteraction ui;
    QString folder;
    std::unique_ptr<CKelvaroDoc> doc;
    CadDrawing* d = nullptr;
    std::unique_ptr<mtest::LandsatPair> pair;
    COrtho* a = nullptr;
    COrtho* b = nullptr;
    double x0 = 0, x1 = 0, xm = 0, y0 = 0, y1 = 0, ym = 0;
};

}  // namespace

TEST_F(SeamlineEdit, AnAreaMovesGroundFromTheNeighboursToTheClickedImageInOneRound) {
    AddOrthos();
    // A DEM whose polyline sits on the orthophotos' layer inside the area: it is no orthophoto
    // and takes no part.
    ASSERT_TRUE(QFile::copy(kvtest::DataPath("olinda_dem_nodata.tif"), folder + "/dem.tif"));
    ASSERT_EQ(doc->AddDEM(folder + "/dem.tif", 0), 1);
    CDEM* dem = doc->m_DEMs.begin()->second;
    CadLayerPutLock(CadGetLayerByName(d, kSeamLinesLayer), 0);
    AddRegion(dem, kSeamLinesLayer, Box(xm - 2 * kPixel, ym - 2 * kPixel, xm + 2 * kPixel, ym + 2 * kPixel));
    CadLayerPutLock(CadGetLayerByName(d, kSeamLinesLayer), 1);
    CadEntity* demPolyline = dem->SeamlinePolylines.front();

    const CadEntityList oldA = a->SeamlinePolylines, oldB = b->SeamlinePolylines;
    const CPgon regionA = RegionOf(oldA), regionB = RegionOf(oldB);
    const Points area = BoxPoints(xm - 10 * kPixel, ym - 10 * kPixel, xm + 20 * kPixel, ym + 10 * kPixel);
    const CPgon areaPgon(area.data(), 4);

    QStringList prompts;
    auto record = [&] {
        CadScriptPushCall(d, [&] {
            prompts << Prompt(d);
            EXPECT_EQ(ActiveCadCommandId, CMD_EDITSEAMLINESROUND);
        });
    };
    record();
    CadScriptPushPoint(d, area[0].X(), area[0].Y(), 0);
    record();
    for (int i = 1; i < 4; ++i) {
        CadScriptPushPoint(d, area[i].X(), area[i].Y(), 0);
    }
    CadScriptPushFinish(d);
    record();
    CadScriptPushFinish(d);
    doc->SetModifiedFlag(0);
    ASSERT_TRUE(doc->OnCommand(ID_MOSAICMERGE_EDITSEAMLINES));
    EXPECT_EQ(ActiveCadCommandId, 0);
    EXPECT_EQ(prompts,
              QStringList({"Click inside the seamline to edit",
                           "(scene_a.tif) - Click to draw an area. Press right mouse button to apply "
                           "changes",
                           "Click to draw an area"}));
    EXPECT_EQ(Prompt(d), "");

    // A grows by the area, B loses it; both as one round, the project modified.
    const double tolerance = 1e-9 * regionA.GetArea();
    EXPECT_NEAR(RegionOf(a->SeamlinePolylines).GetArea(), (regionA | areaPgon).GetArea(), tolerance);
    EXPECT_NEAR((RegionOf(a->SeamlinePolylines) - (regionA | areaPgon)).GetArea(), 0.0, tolerance);
    EXPECT_NEAR(RegionOf(b->SeamlinePolylines).GetArea(), (regionB - areaPgon).GetArea(), tolerance);
    EXPECT_NEAR((RegionOf(b->SeamlinePolylines) & areaPgon).GetArea(), 0.0, tolerance);
    ASSERT_EQ(doc->m_SeamlineRounds.size(), 1u);
    EXPECT_EQ(doc->m_nCurrentSeamlineRound, 0);
    EXPECT_EQ(doc->m_SeamlineRounds[0]->orthos.size(), 2u);
    EXPECT_TRUE(doc->IsModified());
    for (CadEntity* polyline : a->SeamlinePolylines) {
        EXPECT_EQ(CadEntityGetUserPtr(polyline), a);
        EXPECT_EQ(CadEntityGetUserData(polyline), CadEntityGetID(a->m_imageEntity));
        EXPECT_EQ(CadEntityGetLayerID(polyline), CadLayerGetID(CadGetLayerByName(d, kSeamLinesLayer)));
    }
    // The old polylines are erased but stay for undo, even through a purge.
    CadPurge(d, CAD_PURGE_ALL);
    for (CadEntity* polyline : {oldA[0], oldB[0]}) {
        EXPECT_TRUE(CadEntityGetDeleted(polyline));
        EXPECT_EQ(CadPlineGetNumVers(polyline), 4);
    }
    EXPECT_FALSE(CadEntityGetDeleted(demPolyline));
    EXPECT_EQ(dem->SeamlinePolylines, CadEntityList{demPolyline});

    // A band through the whole of B cuts it in two, both pieces linked alike; on the layer hidden
    // as the mosaic build leaves it, and hidden and locked still afterwards.
    CadLayer* seamLayer = CadGetLayerByName(d, kSeamLinesLayer);
    CadLayerPutVisible(seamLayer, 0);
    Edit({BoxPoints(xm - 5 * kPixel, ym - 3 * kPixel, x1 + 5 * kPixel, ym + 3 * kPixel)});
    ASSERT_EQ(b->SeamlinePolylines.size(), 2u);
    EXPECT_EQ(CadEntityGetUserData(b->SeamlinePolylines[0]), CadEntityGetUserData(b->SeamlinePolylines[1]));
    EXPECT_EQ(CadEntityGetUserPtr(b->SeamlinePolylines[1]), b);
    EXPECT_EQ(CadLayerGetVisible(seamLayer), 0);
    EXPECT_EQ(CadLayerGetLock(seamLayer), 1);

    // An area inside A that crosses no seamline, a click outside every region, right clicks after
    // one and two points and typed text change nothing.
    CadScriptPushPoint(d, x0 - 100 * kPixel, ym, 0);
    CadScriptPushText(d, "12,5");
    PushArea({{x0 + 10 * kPixel, y0 + 10 * kPixel}});
    PushArea({{x0 + 10 * kPixel, y0 + 10 * kPixel}, {x0 + 30 * kPixel, y0 + 10 * kPixel}});
    CadScriptPushPoint(d, x0 + 10 * kPixel, y0 + 10 * kPixel, 0);
    CadScriptPushText(d, "abc");
    CadScriptPushPoint(d, x0 + 30 * kPixel, y0 + 10 * kPixel, 0);
    CadScriptPushPoint(d, x0 + 30 * kPixel, y0 + 30 * kPixel, 0);
    CadScriptPushFinish(d);
    Edit({});
    EXPECT_EQ(doc->m_SeamlineRounds.size(), 2u);
    EXPECT_EQ(a->SeamlinePolylines.size(), 1u);

    // Covering B's whole region leaves it without polylines; cancel ends the command.
    PushArea({{xm - 5 * kPixel, ym},
              {xm - 5 * kPixel, y0 - 10 * kPixel},
              {x1 + 10 * kPixel, y0 - 10 * kPixel},
              {x1 + 10 * kPixel, y1 + 10 * kPixel},
              {xm - 5 * kPixel, y1 + 10 * kPixel}});
    CadScriptPushCancel(d);
    ASSERT_TRUE(doc->OnCommand(ID_MOSAICMERGE_EDITSEAMLINES));
    EXPECT_EQ(ActiveCadCommandId, 0);
    EXPECT_TRUE(b->SeamlinePolylines.empty());
    EXPECT_NEAR(((regionA | regionB) - RegionOf(a->SeamlinePolylines)).GetArea(), 0.0, tolerance);
    EXPECT_EQ(doc->m_SeamlineRounds.size(), 3u);
}

TEST_F(SeamlineEdit, RoundsAreUndoneAndRedoneWithTheirVeryPolylinesPerKind) {
    AddOrthos();
    auto undo = [&](int id) {
        EXPECT_TRUE(doc->OnCommand(id));
        return Prompt(d);
    };
    CadCmdPrompt(d, "", "");
    for (int i = 0; i < 3; ++i) {
        Edit({BoxPoints(xm - 5 * kPixel, y0 + (10 + 30 * i) * kPixel, xm + 10 * kPixel,
                        y0 + (20 + 30 * i) * kPixel)});
    }
    ASSERT_EQ(doc->m_SeamlineRounds.size(), 3u);
    const CadEntityList third = b->SeamlinePolylines;
    EXPECT_EQ(undo(ID_MOSAICMERGE_UNDOEDITSEAMLINES), "");
    EXPECT_EQ(undo(ID_MOSAICMERGE_UNDOEDITSEAMLINES), "");
    EXPECT_EQ(doc->m_nCurrentSeamlineRound, 0);
    const CadEntityList afterFirst = b->SeamlinePolylines;
    EXPECT_FALSE(CadEntityGetDeleted(afterFirst[0]));
    EXPECT_TRUE(CadEntityGetDeleted(third[0]));

    // A new edit drops the undone rounds.
    Edit({BoxPoints(xm - 5 * kPixel, y0 + 200 * kPixel, xm + 10 * kPixel, y0 + 210 * kPixel)});
    EXPECT_EQ(doc->m_SeamlineRounds.size(), 2u);
    EXPECT_EQ(doc->m_nCurrentSeamlineRound, 1);
    EXPECT_EQ(undo(ID_MOSAICMERGE_REDOEDITSEAMLINES), "Redo buffer empty");
    EXPECT_EQ(ActiveCadCommandId, 0);

    // Undo then redo give back the very handles; a tile preview's purge in between takes none.
    const CadEntityList editedA = a->SeamlinePolylines, editedB = b->SeamlinePolylines;
    CadCmdPrompt(d, "", "");
    EXPECT_EQ(undo(ID_MOSAICMERGE_UNDOEDITSEAMLINES), "");
    EXPECT_EQ(b->SeamlinePolylines, afterFirst);
    ui.AnswerModal([](QDialog& dialog) {
        auto& tiles = static_cast<CTilesGenerationDlg&>(dialog);
        tiles.OnBnClickedPreview();
        EXPECT_FALSE(tiles.m_previewHandles.empty());
        tiles.OnBnClickedCancel();
        return -1;
    });
    ASSERT_TRUE(doc->OnCommand(ID_MOSAICMERGE_SETUPTILES));
    EXPECT_EQ(ui.Dialogs(), QStringList({"CTilesGenerationDlg"}));
    doc->SetModifiedFlag(0);
    EXPECT_EQ(undo(ID_MOSAICMERGE_REDOEDITSEAMLINES), "");
    EXPECT_TRUE(doc->IsModified());
    EXPECT_EQ(a->SeamlinePolylines, editedA);
    EXPECT_EQ(b->SeamlinePolylines, editedB);
    EXPECT_FALSE(CadEntityGetDeleted(editedB[0]));
    EXPECT_GT(CadPlineGetNumVers(editedB[0]), 3);
    doc->SetModifiedFlag(0);
    EXPECT_EQ(undo(ID_MOSAICMERGE_UNDOEDITSEAMLINES), "");
    EXPECT_TRUE(doc->IsModified());
    EXPECT_EQ(b->SeamlinePolylines, afterFirst);
    EXPECT_GT(CadPlineGetNumVers(afterFirst[0]), 3);

    // The DEM stack is its own: empty while the orthophoto one holds rounds, and its edit leaves
    // the orthophoto rounds alone.
    EXPECT_EQ(undo(ID_DEMSPLITMERGE_UNDOEDITSEAMLINES), "Undo buffer empty");
    EXPECT_EQ(undo(ID_DEMSPLITMERGE_REDOEDITSEAMLINES), "Redo buffer empty");
    for (const char* name : {"dem_a.tif", "dem_b.tif"}) {
        ASSERT_TRUE(QFile::copy(kvtest::DataPath("olinda_dem_nodata.tif"), folder + "/" + name));
        ASSERT_EQ(doc->AddDEM(folder + "/" + name, 0), 1);
    }
    CDEM* demA = doc->m_DEMs.at("dem_a.tif");
    CDEM* demB = doc->m_DEMs.at("dem_b.tif");
    AddRegion(demA, kSeamLinesDemLayer, Box(0, 0, 100, 100));
    AddRegion(demB, kSeamLinesDemLayer, Box(100, 0, 200, 100));
    Edit({BoxPoints(90, 40, 120, 60)}, ID_DEMSPLITMERGE_EDITSEAMLINES);
    EXPECT_NEAR(RegionOf(demA->SeamlinePolylines).GetArea(), 100 * 100 + 20 * 20, 1e-6);
    EXPECT_NEAR(RegionOf(demB->SeamlinePolylines).GetArea(), 100 * 100 - 20 * 20, 1e-6);
    EXPECT_EQ(doc->m_DemSeamlineRounds.size(), 1u);
    EXPECT_EQ(doc->m_SeamlineRounds.size(), 2u);
    EXPECT_EQ(doc->m_nCurrentSeamlineRound, 0);

    // Removing an orthophoto empties its kind's stack, and undo says so.
    doc->RemoveOrtho("scene_b.tif");
    EXPECT_TRUE(doc->m_SeamlineRounds.empty());
    EXPECT_EQ(doc->m_nCurrentSeamlineRound, -1);
    EXPECT_EQ(undo(ID_MOSAICMERGE_UNDOEDITSEAMLINES), "Undo buffer empty");
    EXPECT_EQ(doc->m_DemSeamlineRounds.size(), 1u);
    CadPurge(d, CAD_PURGE_ALL);
    EXPECT_EQ(CadEntityGetHolds(third[0]), 0);
    EXPECT_EQ(CadPlineGetNumVers(third[0]), 0);
}

TEST_F(SeamlineEdit, TheRibbonEnablesEditingUndoMosaicTilesAndTogglesByTheProjectsState) {
    const int ids[] = {ID_BUTTON_BUILDSEAMLINES, ID_MOSAICMERGE_EDITSEAMLINES, ID_MOSAICMERGE_BUILDMOSAIC};
    // One orthophoto with seamlines still on the layer: nothing to build or edit.
    pair = std::make_unique<mtest::LandsatPair>(folder);
    ASSERT_EQ(doc->AddOrtho(pair->paths[0], 0, 0), 1);
    a = doc->m_Orthos.at("scene_a.tif");
    AddRegion(a, kSeamLinesLayer, Box(0, 0, 10, 10));
    GetDocumentProcedures().Supply(ID_MOSAICMERGE_BUILDMOSAIC, [](CKelvaroDoc&) {});
    for (int id : ids) {
        EXPECT_FALSE(Enabled(id)) << id;
    }
    ASSERT_EQ(doc->AddOrtho(pair->paths[1], 0, 0), 1);
    for (int id : ids) {
        EXPECT_TRUE(Enabled(id)) << id;
    }
    EXPECT_FALSE(Enabled(ID_MOSAICMERGE_UNDOEDITSEAMLINES));
    EXPECT_FALSE(Enabled(ID_MOSAICMERGE_REDOEDITSEAMLINES));
    EXPECT_FALSE(Enabled(ID_DEMSPLITMERGE_EDITSEAMLINES));

    // The layer toggles: disabled on an empty or missing layer, checked by its visibility.
    bool checked = false;
    EXPECT_FALSE(Enabled(ID_BUTTON_VIEWTILES));
    EXPECT_FALSE(Enabled(ID_MOSAICMERGE_REMOVEALLTILES));
    CadLayer* tiles = CadAddLayer(d, "Tiles", 6, CAD_LTYPE_CONTINUOUS, -3);
    EXPECT_FALSE(Enabled(ID_BUTTON_VIEWTILES, &checked));
    EXPECT_TRUE(checked);
    CadLayerPutVisible(tiles, 0);
    EXPECT_FALSE(Enabled(ID_BUTTON_VIEWTILES, &checked));
    EXPECT_FALSE(checked);
    CadEntity* line = CadAddLine(d, 0, 0, 0, 1, 1, 0);
    CadEntityPutLayerID(line, CadLayerGetID(tiles));
    EXPECT_TRUE(Enabled(ID_BUTTON_VIEWTILES, &checked));
    EXPECT_FALSE(checked);
    ASSERT_TRUE(doc->OnCommand(ID_BUTTON_VIEWTILES));
    EXPECT_TRUE(CadLayerGetVisible(tiles));
    ASSERT_TRUE(doc->OnCommand(ID_BUTTON_VIEWSEAMLINES));
    EXPECT_FALSE(CadLayerGetVisible(CadGetLayerByName(d, kSeamLinesLayer)));
    EXPECT_TRUE(doc->OnCommand(ID_DEMSPLITMERGE_VIEWSEAMLINES));  // no layer: nothing happens
    EXPECT_FALSE(Enabled(ID_DEMSPLITMERGE_VIEWSEAMLINES));

    ASSERT_TRUE(doc->OnCommand(ID_BUTTON_VIEWSEAMLINES));
    // While the edit runs: Edit checked and disabled, undo, redo, Setup and Import disabled;
    // Remove All Tiles and the toggles usable.
    AddRegion(a, kSeamLinesLayer, Box(20, 0, 30, 10));
    Edit({BoxPoints(5, 2, 25, 8)});
    ASSERT_EQ(doc->m_SeamlineRounds.size(), 1u);
    EXPECT_TRUE(Enabled(ID_MOSAICMERGE_UNDOEDITSEAMLINES));
    EXPECT_TRUE(Enabled(ID_MOSAICMERGE_SETUPTILES));
    EXPECT_TRUE(Enabled(ID_MOSAICMERGE_IMPORTTILES));
    std::map<int, std::pair<bool, bool>> during;
    CadScriptPushCall(d, [&] {
        for (int id :
             {ID_MOSAICMERGE_EDITSEAMLINES, ID_MOSAICMERGE_UNDOEDITSEAMLINES,
              ID_MOSAICMERGE_REDOEDITSEAMLINES, ID_MOSAICMERGE_SETUPTILES, ID_MOSAICMERGE_IMPORTTILES,
              ID_MOSAICMERGE_REMOVEALLTILES, ID_BUTTON_VIEWTILES, ID_MOSAICMERGE_BUILDMOSAIC}) {
            bool check = false;
            const bool enabled = Enabled(id, &check);
            during[id] = {enabled, check};
        }
        // The edit's own ribbon buttons refuse while it runs.
        doc->OnCommand(ID_MOSAICMERGE_UNDOEDITSEAMLINES);
    });
    CadScriptPushFinish(d);
    ASSERT_TRUE(doc->OnCommand(ID_MOSAICMERGE_EDITSEAMLINES));
    const std::map<int, std::pair<bool, bool>> expected = {
        {ID_MOSAICMERGE_EDITSEAMLINES, {false, true}},
        {ID_MOSAICMERGE_UNDOEDITSEAMLINES, {false, false}},
        {ID_MOSAICMERGE_REDOEDITSEAMLINES, {false, false}},
        {ID_MOSAICMERGE_SETUPTILES, {false, false}},
        {ID_MOSAICMERGE_IMPORTTILES, {false, false}},
        {ID_MOSAICMERGE_REMOVEALLTILES, {true, false}},
        {ID_BUTTON_VIEWTILES, {true, true}},
        {ID_MOSAICMERGE_BUILDMOSAIC, {false, false}},
    };
    EXPECT_EQ(during, expected);
    EXPECT_EQ(ui.MessageTexts(), QStringList({"Close active command before"}));
    EXPECT_EQ(doc->m_nCurrentSeamlineRound, 0);
}

TEST_F(SeamlineEdit, TheLabelBrushPaintsDiscsOfItsLabelIntoTheTargetsMask) {
    ASSERT_TRUE(QFile::copy(kvtest::DataPath("olinda_dem_nodata.tif"), folder + "/dem.tif"));
    ASSERT_EQ(doc->AddDEM(folder + "/dem.tif", 0), 1);
    CDEM* dem = doc->m_DEMs.begin()->second;
    const double* gt = dem->m_geoTransform;
    auto at = [&](int column, int row, double* x, double* y) {
        *x = gt[0] + (column + 0.5) * gt[1];
        *y = gt[3] + (row + 0.5) * gt[5];
    };
    SetLabelBrushTarget(CMD_SEAMLINELABELBRUSH, dem);
    SetLabelBrushTarget(CMD_DEMSEAMLINELABELBRUSH, dem);
    double x = 0, y = 0;
    at(40, 50, &x, &y);

    // Without a mask every handler leaves the event to the engine.
    ActiveCadCommandId = CMD_SEAMLINELABELBRUSH;
    EXPECT_EQ(OnCadPreMouseDown(d, CAD_BUTTON_LEFT, x, y), 1);
    EXPECT_EQ(OnCadMouseUp(d, CAD_BUTTON_LEFT), 0);
    EXPECT_EQ(OnCadMouseWheel(d, CAD_KEY_LBUTTON, 120), 0);

    dem->m_labelMask = cv::Mat::zeros(dem->m_grid.empty() ? 111 : dem->m_grid.rows,
                                      dem->m_grid.empty() ? 111 : dem->m_grid.cols, CV_8UC1);
    if (dem->m_pDataset) {
        dem->m_labelMask =
            cv::Mat::zeros(GDALGetRasterYSize(dem->m_pDataset), GDALGetRasterXSize(dem->m_pDataset), CV_8UC1);
    }
    // Press and release paint a disc of radius 10 of label 2 at the pressed cell.
    EXPECT_EQ(OnCadPreMouseDown(d, CAD_BUTTON_LEFT, x, y), 0);  // consumed
    EXPECT_EQ(OnCadMouseUp(d, CAD_BUTTON_LEFT), 1);
    EXPECT_EQ(dem->m_labelMaskModified, 1);
    EXPECT_EQ(dem->m_labelMask.at<uchar>(50, 40), 2);
    EXPECT_EQ(dem->m_labelMask.at<uchar>(50, 50), 2);
    EXPECT_EQ(dem->m_labelMask.at<uchar>(50, 51), 0);
    EXPECT_EQ(cv::countNonZero(dem->m_labelMask), cv::countNonZero([] {
                  cv::Mat disc = cv::Mat::zeros(41, 41, CV_8UC1);
                  cv::circle(disc, {20, 20}, 10, 1, cv::FILLED, cv::LINE_8);
                  return disc;
              }()));
    // The wheel without the left button, or another button, does nothing.
    EXPECT_EQ(OnCadMouseWheel(d, 0, 120), 0);
    EXPECT_EQ(OnCadPreMouseDown(d, 2, x, y), 1);
    EXPECT_EQ(GetLabelBrushRadius(CMD_SEAMLINELABELBRUSH), 10);

    // CTRL at the press paints the neutral label 1.
    at(100, 50, &x, &y);
    auto keys = [&](int flags) {  // the engine's key flags, as a click with them leaves them
        CadScriptPushPoint(d, x, y, 0, flags);
        EXPECT_EQ(CadCmdUserInput(d), CAD_INPUT_POINT);
    };
    keys(CAD_KEY_CONTROL);
    EXPECT_EQ(LabelBrushMouseDown(d, x, y), 1);
    keys(0);
    EXPECT_EQ(LabelBrushMouseUp(d), 1);
    EXPECT_EQ(dem->m_labelMask.at<uchar>(50, 100), 1);
    EXPECT_EQ(dem->m_labelMask.at<uchar>(50, 40), 2);

    // The second set paints label 3; the wheel with the left button changes its own radius.
    ActiveCadCommandId = CMD_DEMSEAMLINELABELBRUSH;
    EXPECT_EQ(OnCadMouseWheel(d, CAD_KEY_LBUTTON, -120), 1);
    EXPECT_EQ(GetLabelBrushRadius(CMD_DEMSEAMLINELABELBRUSH), 9);
    at(40, 90, &x, &y);
    EXPECT_EQ(OnCadPreMouseDown(d, CAD_BUTTON_LEFT, x, y), 0);
    EXPECT_EQ(OnCadMouseUp(d, CAD_BUTTON_LEFT), 1);
    EXPECT_EQ(dem->m_labelMask.at<uchar>(90, 40), 3);
    EXPECT_EQ(dem->m_labelMask.at<uchar>(90, 49), 3);
    EXPECT_EQ(dem->m_labelMask.at<uchar>(90, 50), 0);
    // The radius never falls below 1.
    for (int i = 0; i < 20; ++i) {
        OnCadMouseWheel(d, CAD_KEY_LBUTTON, -120);
    }
    EXPECT_EQ(GetLabelBrushRadius(CMD_DEMSEAMLINELABELBRUSH), 1);
    ActiveCadCommandId = 0;

    // A DEM that leaves the project is no longer painted.
    doc->RemoveDEM(dem->m_name);
    EXPECT_EQ(GetLabelBrushTarget(CMD_SEAMLINELABELBRUSH), nullptr);
    EXPECT_EQ(GetLabelBrushTarget(CMD_DEMSEAMLINELABELBRUSH), nullptr);
    EXPECT_EQ(LabelBrushMouseDown(d, x, y), 0);
}
