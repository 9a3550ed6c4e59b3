// The DEM edit commands driven as the operator drives them: the area dialog answered, the area
// drawn through scripted picks, the grids and the undo history checked afterwards.
#include <QFile>

#include <gdal.h>
#include <gtest/gtest.h>

#include "demtools/DemEditCommands.h"
#include "document/KelvaroDoc.h"
#include "document/undo/DemUndoRound.h"
#include "platform/cad/Cad.h"
#include "platform/ui/ActiveCommand.h"
#include "raster/DEM.h"
#include "support/ScriptedInteraction.h"
#include "support/TestEnv.h"

namespace {

// A 100 x 100 GeoTIFF, 2 m cells, origin (1000, 5000), value 100 + column, with the given
// no-data cells.
QString WriteDem(const QString& path, const std::vector<cv::Point>& holes, double originX = 1000.0) {
    GDALDatasetH ds = GDALCreate(GDALGetDriverByName("GTiff"), QFile::encodeName(path).constData(), 100, 100,
                                 1, GDT_Float32, nullptr);
    EXPECT_NE(ds, nullptr);
    double gt[6] = {originX, 2.0, 0.0, 5000.0, 0.0, -2.0};
    GDALSetGeoTransform(ds, gt);
    std::vector<float> cells(100 * 100);
    for (int r = 0; r < 100; ++r)
        for (int c = 0; c < 100; ++c)
            cells[r * 100 + c] = float(100 + c);
    for (const cv::Point& p : holes)
        cells[p.y * 100 + p.x] = -9999.0f;
    GDALRasterBandH band = GDALGetRasterBand(ds, 1);
    GDALSetRasterNoDataValue(band, -9999.0);
    EXPECT_EQ(GDALRasterIO(band, GF_Write, 0, 0, 100, 100, cells.data(), 100, 100, GDT_Float32, 0, 0),
              CE_None);
    GDALClose(ds);
    return path;
}

class DemEditCommandsTest : public ::testing::Test {
protected:
    void SetUp() override {
        ActiveCadCommandId = 0;
        CadScriptSetStrict(1);
    }
    void TearDown() override { CadScriptSetStrict(0); }

    // Picks the cell centres (column, row) of the DEM at origin (1000, 5000) as area vertices.
    void PushArea(CadDrawing* d, std::initializer_list<cv::Point> cells) {
        for (const cv::Point& c : cells)
            CadScriptPushPoint(d, 1000.0 + 2.0 * c.x + 1.0, 5000.0 - 2.0 * c.y - 1.0, 0.0);
        CadScriptPushFinish(d);
    }
};

int CountNoData(const cv::Mat& grid) {
    int n = 0;
    for (int r = 0; r < grid.rows; ++r)
        for (int c = 0; c < grid.cols; ++c)
            n += grid.at<float>(r, c) == -9999.0f;
    return n;
}

TEST_F(DemEditCommandsTest, ErodeGrowsOneHoleIntoASquareAndPushesARoundEvenWithoutNoData) {
    kvtest::ScriptedInteraction ui;
    CKelvaroDoc doc;
    ASSERT_EQ(doc.AddDEM(WriteDem(kvtest::NewTempFolder("erode") + "/e.tif", {{50, 50}}), 0), 1);
    CDEM* dem = doc.m_DEMs.begin()->second;
    CadDrawing* d = doc.m_pCad;

    ui.AnswerModal(101);
    PushArea(d, {{5, 5}, {95, 5}, {95, 95}, {5, 95}});
    // The second area has no no data in its window.
    PushArea(d, {{60, 0}, {99, 0}, {99, 30}});
    CadScriptPushFinish(d);  // an empty area ends the command
    CmdDemErode(d);

    EXPECT_EQ(ActiveCadCommandId, 0);
    ASSERT_FALSE(dem->m_grid.empty());
    EXPECT_EQ(CountNoData(dem->m_grid), 21 * 21);
    EXPECT_EQ(dem->m_grid.at<float>(40, 40), -9999.0f);
    EXPECT_EQ(dem->m_grid.at<float>(39, 40), 140.0f);
    EXPECT_EQ(dem->m_modified, 1);
    EXPECT_EQ(doc.DemUndoHistory().Count(), 2);

    // Undo of both rounds restores the single cell.
    doc.OnButtonDemundo();
    doc.OnButtonDemundo();
    EXPECT_EQ(CountNoData(dem->m_grid), 1);
}

TEST_F(DemEditCommandsTest, OneRoundCoversTwoDemsAndNothingIsPushedOutsideOrOnLockedLayers) {
    kvtest::ScriptedInteraction ui;
    CKelvaroDoc doc;
    const QString folder = kvtest::NewTempFolder("two");
    ASSERT_EQ(doc.AddDEM(WriteDem(folder + "/a.tif", {}), 0), 1);
    ASSERT_EQ(doc.AddDEM(WriteDem(folder + "/b.tif", {}, 1100.0), 0), 1);
    CadDrawing* d = doc.m_pCad;

    // Columns 40 to 80 of the first DEM: the second starts at its column 50; the area also runs
    // past the first one's bottom edge.
    ui.AnswerModal(101);
    PushArea(d, {{40, 80}, {80, 80}, {80, 130}, {40, 130}});
    CadScriptPushCancel(d);
    CmdDemHole(d);
    EXPECT_EQ(ActiveCadCommandId, 0);
    ASSERT_EQ(doc.DemUndoHistory().Count(), 1);
    EXPECT_EQ(doc.DemUndoHistory().Round(0).Records().size(), 2u);
    CDEM* a = doc.m_DEMs["a.tif"];
    CDEM* b = doc.m_DEMs["b.tif"];
    EXPECT_EQ(a->m_grid.at<float>(99, 60), -9999.0f);
    EXPECT_EQ(a->m_grid.at<float>(79, 60), 160.0f);
    EXPECT_EQ(b->m_grid.at<float>(90, 10), -9999.0f);
    EXPECT_EQ(b->m_grid.at<float>(90, 31), 131.0f);

    doc.OnButtonDemundo();
    EXPECT_EQ(CountNoData(a->m_grid), 0);
    EXPECT_EQ(CountNoData(b->m_grid), 0);

    // Outside every DEM, and over a locked layer: nothing changes, nothing is pushed.
    ui.AnswerModal(101);
    PushArea(d, {{300, 300}, {310, 300}, {310, 310}});
    CadScriptPushCancel(d);
    CmdDemHole(d);
    for (const auto& [name, dem] : doc.m_DEMs)
        CadLayerPutLock(CadGetLayerByID(d, CadEntityGetLayerID(dem->m_imageEntity)), 1);
    ui.AnswerModal(101);
    PushArea(d, {{10, 10}, {20, 10}, {20, 20}});
    CadScriptPushCancel(d);
    CmdDemHole(d);
    EXPECT_EQ(doc.DemUndoHistory().Count(), 1);
    EXPECT_EQ(CountNoData(a->m_grid), 0);
}

TEST_F(DemEditCommandsTest, OffsetAndPromptsAndEveryWayOut) {
    kvtest::ScriptedInteraction ui;
    CKelvaroDoc doc;
    ASSERT_EQ(doc.AddDEM(WriteDem(kvtest::NewTempFolder("off") + "/o.tif", {{20, 20}}), 0), 1);
    CDEM* dem = doc.m_DEMs.begin()->second;
    CadDrawing* d = doc.m_pCad;

    CadScriptPushText(d, "-2.5");
    ui.AnswerModal(101);
    PushArea(d, {{10, 10}, {30, 10}, {30, 30}, {10, 30}});
    CmdDemOffset(d);
    EXPECT_EQ(ActiveCadCommandId, 0);
    EXPECT_FLOAT_EQ(dem->m_grid.at<float>(15, 15), 112.5f);
    EXPECT_EQ(dem->m_grid.at<float>(20, 20), -9999.0f);

    // Text that is no number, and 0, are refused.
    CadScriptPushText(d, "abc");
    CmdDemOffset(d);
    CadScriptPushText(d, "0.0");
    CmdDemOffset(d);
    EXPECT_EQ(ui.MessageTexts(), QStringList({"Offset is not valid", "Offset is not valid"}));
    EXPECT_EQ(doc.DemUndoHistory().Count(), 1);

    // The prompts of a drawn area, and right click at the first pick.
    QStringList prompts;
    ui.AnswerModal(101);
    for (int i = 0; i < 3; ++i) {
        CadScriptPushCall(d, [&] {
            char text[256] = {};
            CadCmdGetPrompt(d, text, sizeof text);
            prompts << text;
            EXPECT_EQ(ActiveCadCommandId, 11009);
        });
        if (i < 2)
            CadScriptPushPoint(d, 1100.0, 4900.0, 0.0);
    }
    CadScriptPushFinish(d);  // two vertices: the worker ignores them
    CadScriptPushFinish(d);  // right click with no vertex ends
    CmdDemHole(d);
    EXPECT_EQ(prompts,
              QStringList({"Pick first area vertex (right click to terminate)", "Pick second area vertex",
                           "Pick next area vertex (right click to confirm)"}));
    EXPECT_EQ(ActiveCadCommandId, 0);

    // Dialog closed, and "Exit".
    ui.AnswerModal(2);
    CmdDemErode(d);
    EXPECT_EQ(ActiveCadCommandId, 0);
    ui.AnswerModal(102);
    CmdDemGridGaps(d);
    EXPECT_EQ(ActiveCadCommandId, 0);
    EXPECT_EQ(doc.DemUndoHistory().Count(), 1);
}

TEST_F(DemEditCommandsTest, FloodFillAndPatchThroughTheirCommands) {
    kvtest::ScriptedInteraction ui;
    CKelvaroDoc doc;
    ASSERT_EQ(
        doc.AddDEM(WriteDem(kvtest::NewTempFolder("fill") + "/f.tif", {{20, 20}, {21, 20}, {40, 40}}), 0), 1);
    CDEM* dem = doc.m_DEMs.begin()->second;
    CadDrawing* d = doc.m_pCad;

    CadScriptPushPoint(d, 1041.0, 4959.0, 0.0);  // ignored: no reference yet
    CadScriptPushText(d, "-9999");               // not taken
    CadScriptPushText(d, "55");
    CadScriptPushPoint(d, 1041.0, 4959.0, 0.0);  // cell (20, 20)
    CadScriptPushFinish(d);
    CmdDemFloodFill(d);
    EXPECT_EQ(ActiveCadCommandId, 0);
    EXPECT_EQ(dem->m_grid.at<float>(20, 20), 55.0f);
    EXPECT_EQ(dem->m_grid.at<float>(20, 21), 55.0f);
    EXPECT_EQ(dem->m_grid.at<float>(40, 40), -9999.0f);
    EXPECT_EQ(doc.DemUndoHistory().Count(), 1);

    // Patch over the other hole with a constraint typed after a non-number.
    CadScriptPushText(d, "x");
    CadScriptPushText(d, "140");
    CadScriptPushPoint(d, 1081.0, 4919.0, 0.0);
    PushArea(d, {{36, 36}, {44, 36}, {44, 44}, {36, 44}});
    CmdDemPatchIt(d);
    EXPECT_EQ(ActiveCadCommandId, 0);
    EXPECT_NEAR(dem->m_grid.at<float>(40, 40), 140.0f, 1.0f);
    EXPECT_EQ(doc.DemUndoHistory().Count(), 2);
}

}  // namespace
