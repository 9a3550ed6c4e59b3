// The DEM edit commands driven as the operator drives them: the area dialog answered, the area
// drawn through scripted picks, the grids and the undo history checked afterwards.
#include <QCoreApplication>
#include <QDir>
#include <QEvent>
#include <QFile>
#include <QWidget>

#include <gdal.h>
#include <gtest/gtest.h>

#include <cstring>
#include <limits>
#include <map>

#include "controls/SingleProgressDlg.h"
#include "demtools/DemEditCommands.h"
#include "demtools/EntityElevationCommands.h"
#include "document/KelvaroDoc.h"
#include "document/undo/DemUndoRound.h"
#include "platform/cad/Cad.h"
#include "platform/ui/ActiveCommand.h"
#include "platform/ui/CadCommandIds.h"
#include "platform/ui/DemUndoFolder.h"
#include "raster/DEM.h"
#include "support/ScriptedInteraction.h"
#include "support/TestEnv.h"

#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>

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

// The cells of a grid that differ between two states, as a mask.
cv::Mat Changed(const cv::Mat& a, const cv::Mat& b) {
    cv::Mat diff;
    cv::compare(a, b, diff, cv::CMP_NE);
    return diff;
}

// The layer of the drawing a DEM's image place is on.
CadLayer* DemLayer(CadDrawing* d, CDEM* dem) {
    return CadGetLayerByID(d, CadEntityGetLayerID(dem->m_imageEntity));
}

cv::Mat NoDataMask(const cv::Mat& grid) {
    cv::Mat mask;
    cv::compare(grid, -9999.0f, mask, cv::CMP_EQ);
    return mask;
}

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
            EXPECT_EQ(ActiveCadCommandId, CMD_DEMHOLE);
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

TEST_F(DemEditCommandsTest, HoleThenGapClosingOnTheRealDemAndBothUndoneExactly) {
    kvtest::ScriptedInteraction ui;
    // A copy of the Olinda DEM that declares -9999 as no data.
    const QString copy = kvtest::NewTempFolder("olinda_cmd") + "/olinda.tif";
    GDALDatasetH source = GDALOpen(QFile::encodeName(kvtest::DataPath("olinda_dem_utm25s.tif")), GA_ReadOnly);
    ASSERT_NE(source, nullptr);
    GDALDatasetH target = GDALCreateCopy(GDALGetDriverByName("GTiff"), QFile::encodeName(copy).constData(),
                                         source, FALSE, nullptr, nullptr, nullptr);
    GDALClose(source);
    ASSERT_NE(target, nullptr);
    ASSERT_EQ(GDALSetRasterNoDataValue(GDALGetRasterBand(target, 1), -9999.0), CE_None);
    const int w = GDALGetRasterXSize(target), h = GDALGetRasterYSize(target);
    cv::Mat original(h, w, CV_32FC1);
    ASSERT_EQ(GDALRasterIO(GDALGetRasterBand(target, 1), GF_Read, 0, 0, w, h, original.data, w, h,
                           GDT_Float32, 0, 0),
              CE_None);
    GDALClose(target);
    ASSERT_EQ(CountNoData(original), 0);

    CKelvaroDoc doc;
    ASSERT_EQ(doc.AddDEM(copy, 0), 1);
    CDEM* dem = doc.m_DEMs.begin()->second;
    CadDrawing* d = doc.m_pCad;
    const double* gt = dem->m_geoTransform;
    auto pushArea = [&](const std::vector<cv::Point>& cells) {
        for (const cv::Point& c : cells)
            CadScriptPushPoint(d, gt[0] + (c.x + 0.5) * gt[1], gt[3] + (c.y + 0.5) * gt[5], 0.0);
        CadScriptPushFinish(d);
        CadScriptPushFinish(d);
    };

    // A five-sided hole over the middle of the DEM, vertices at cell centres.
    ui.AnswerModal(101);
    pushArea({{30, 25}, {80, 30}, {85, 70}, {55, 90}, {25, 65}});
    CmdDemHole(d);
    ASSERT_EQ(dem->m_grid.size(), original.size());
    const cv::Mat holed = dem->m_grid.clone();
    const int holes = CountNoData(holed);
    EXPECT_GT(holes, 1500);
    // Only no data was written, and only inside the area's bounds.
    EXPECT_EQ(cv::countNonZero(Changed(holed, original)), holes);
    EXPECT_EQ(cv::countNonZero(Changed(holed, original)(cv::Rect(25, 25, 61, 66))), holes);

    // The filler takes the valid cells of its own area only: drawn around the hole, it closes it.
    ui.AnswerModal(101);
    pushArea({{20, 15}, {92, 20}, {97, 78}, {55, 102}, {12, 73}});
    CmdDemGridGaps(d);
    EXPECT_EQ(ActiveCadCommandId, 0);
    EXPECT_EQ(CountNoData(dem->m_grid), 0);
    const cv::Mat changed = Changed(dem->m_grid, original);
    EXPECT_EQ(cv::countNonZero(changed), cv::countNonZero(changed(cv::Rect(12, 15, 86, 88))));
    ASSERT_EQ(doc.DemUndoHistory().Count(), 2);

    doc.OnButtonDemundo();
    EXPECT_EQ(cv::norm(dem->m_grid, holed, cv::NORM_INF), 0.0);
    doc.OnButtonDemundo();
    EXPECT_EQ(cv::norm(dem->m_grid, original, cv::NORM_INF), 0.0);
}

// Gap closing over a DEM of several blocks of the undo file, with holes in every block, a NaN
// among them and valid cells that hold -10000: undo gives back every cell to the bit, redo the
// closed grid, and undo again the original.
TEST_F(DemEditCommandsTest, GapClosingOverManyBlocksIsUndoneAndRedoneExactly) {
    kvtest::ScriptedInteraction ui;
    const QString path = kvtest::NewTempFolder("gaps_blocks") + "/blocks.tif";
    const int w = 2100, h = 1100;
    cv::Mat original(h, w, CV_32FC1);
    for (int r = 0; r < h; ++r)
        for (int c = 0; c < w; ++c)
            original.at<float>(r, c) = float(50.0 + 0.01 * c + 0.02 * r + ((c * 7 + r * 3) % 5) * 0.1);
    cv::RNG rng(3);
    for (int k = 0; k < 400; ++k)
        cv::circle(original, {rng.uniform(0, w), rng.uniform(0, h)}, rng.uniform(1, 6), cv::Scalar(-9999.0),
                   cv::FILLED);
    original.at<float>(500, 1500) = std::numeric_limits<float>::quiet_NaN();
    original(cv::Rect(1030, 10, 40, 3)).setTo(-10000.0f);
    GDALDatasetH ds = GDALCreate(GDALGetDriverByName("GTiff"), QFile::encodeName(path).constData(), w, h, 1,
                                 GDT_Float32, nullptr);
    ASSERT_NE(ds, nullptr);
    double gt[6] = {1000.0, 2.0, 0.0, 5000.0, 0.0, -2.0};
    GDALSetGeoTransform(ds, gt);
    GDALSetRasterNoDataValue(GDALGetRasterBand(ds, 1), -9999.0);
    ASSERT_EQ(
        GDALRasterIO(GDALGetRasterBand(ds, 1), GF_Write, 0, 0, w, h, original.data, w, h, GDT_Float32, 0, 0),
        CE_None);
    GDALClose(ds);

    CKelvaroDoc doc;
    ASSERT_EQ(doc.AddDEM(path, 0), 1);
    CDEM* dem = doc.m_DEMs.begin()->second;
    ASSERT_TRUE(dem->LoadData(nullptr));
    const cv::Mat loaded = dem->m_grid.clone();
    ui.AnswerModal(101);
    PushArea(doc.m_pCad, {{-5, -5}, {w + 5, -5}, {w + 5, h + 5}, {-5, h + 5}});
    CadScriptPushFinish(doc.m_pCad);
    CmdDemGridGaps(doc.m_pCad);
    ASSERT_EQ(doc.DemUndoHistory().Count(), 1);
    EXPECT_EQ(CountNoData(dem->m_grid), 0);
    const cv::Mat closed = dem->m_grid.clone();
    auto same = [](const cv::Mat& a, const cv::Mat& b) {
        return a.size() == b.size() && std::memcmp(a.data, b.data, a.total() * a.elemSize()) == 0;
    };
    ASSERT_FALSE(same(closed, loaded));

    doc.OnButtonDemundo();
    EXPECT_TRUE(same(dem->m_grid, loaded));
    doc.OnButtonDemredo();
    EXPECT_TRUE(same(dem->m_grid, closed));
    doc.OnButtonDemundo();
    EXPECT_TRUE(same(dem->m_grid, loaded));
}

TEST_F(DemEditCommandsTest, AnExistingClosedPolylineIsTheArea) {
    kvtest::ScriptedInteraction ui;
    CKelvaroDoc doc;
    ASSERT_EQ(doc.AddDEM(WriteDem(kvtest::NewTempFolder("pick") + "/p.tif", {}), 0), 1);
    CDEM* dem = doc.m_DEMs.begin()->second;
    CadDrawing* d = doc.m_pCad;
    auto polyline = [&](int closed) {
        CadClearVertices();
        for (const cv::Point& c : std::vector<cv::Point>{{10, 10}, {30, 10}, {30, 20}, {10, 20}})
            CadAddVertex(1000.0 + 2.0 * c.x + 1.0, 5000.0 - 2.0 * c.y - 1.0, 0.0);
        return CadAddPolyline(d, 0, closed);
    };
    CadEntity* open = polyline(0);
    CadEntity* closed = polyline(1);
    ASSERT_NE(open, nullptr);
    ASSERT_NE(closed, nullptr);

    // The open polyline is passed over; the closed one is taken; nothing more ends the command.
    ui.AnswerModal(100);
    CadScriptPushEntity(d, open);
    CadScriptPushEntity(d, closed);
    CmdDemHole(d);
    EXPECT_EQ(ActiveCadCommandId, 0);
    EXPECT_EQ(ui.Dialogs().size(), 1);
    ASSERT_EQ(doc.DemUndoHistory().Count(), 1);
    EXPECT_EQ(CountNoData(dem->m_grid), 21 * 11);
    EXPECT_EQ(cv::countNonZero(NoDataMask(dem->m_grid)(cv::Rect(10, 10, 21, 11))), 21 * 11);
}

TEST_F(DemEditCommandsTest, AConcaveAreaCutInTwoByTheEdgeIsOneRoundOfTwoWindows) {
    kvtest::ScriptedInteraction ui;
    CKelvaroDoc doc;
    ASSERT_EQ(doc.AddDEM(WriteDem(kvtest::NewTempFolder("concave") + "/c.tif", {}), 0), 1);
    CDEM* dem = doc.m_DEMs.begin()->second;
    CadDrawing* d = doc.m_pCad;

    // A U whose bottom lies below the DEM: on the grid only its two arms remain.
    ui.AnswerModal(101);
    PushArea(d, {{10, 50}, {30, 50}, {30, 120}, {60, 120}, {60, 50}, {80, 50}, {80, 150}, {10, 150}});
    CadScriptPushFinish(d);
    CmdDemHole(d);
    ASSERT_EQ(doc.DemUndoHistory().Count(), 1);
    EXPECT_EQ(doc.DemUndoHistory().Round(0).Records().size(), 2u);

    const cv::Mat holes = NoDataMask(dem->m_grid);
    EXPECT_EQ(cv::countNonZero(holes(cv::Rect(10, 50, 21, 50))), 21 * 50);
    EXPECT_EQ(cv::countNonZero(holes(cv::Rect(60, 50, 21, 50))), 21 * 50);
    EXPECT_EQ(cv::countNonZero(holes), 2 * 21 * 50);
    EXPECT_EQ(dem->m_grid.at<float>(99, 45), 145.0f);

    doc.OnButtonDemundo();
    EXPECT_EQ(CountNoData(dem->m_grid), 0);
}

TEST_F(DemEditCommandsTest, AHiddenDemIsLeftAloneAndNoRoundIsPushed) {
    kvtest::ScriptedInteraction ui;
    CKelvaroDoc doc;
    const QString folder = kvtest::NewTempFolder("hidden");
    ASSERT_EQ(doc.AddDEM(WriteDem(folder + "/h.tif", {{20, 20}}), 0), 1);
    CDEM* dem = doc.m_DEMs.begin()->second;
    CadDrawing* d = doc.m_pCad;
    CadLayerPutVisible(DemLayer(d, dem), 0);

    ui.AnswerModal(101);
    PushArea(d, {{10, 10}, {30, 10}, {30, 30}, {10, 30}});
    CadScriptPushFinish(d);
    CmdDemErode(d);
    CadScriptPushText(d, "5");
    ui.AnswerModal(101);
    PushArea(d, {{10, 10}, {30, 10}, {30, 30}, {10, 30}});
    CmdDemOffset(d);
    CadScriptPushText(d, "50");
    CadScriptPushPoint(d, 1041.0, 4959.0, 0.0);
    CadScriptPushFinish(d);
    CmdDemFloodFill(d);
    EXPECT_EQ(ActiveCadCommandId, 0);
    EXPECT_EQ(doc.DemUndoHistory().Count(), 0);
    if (!dem->m_grid.empty()) {
        EXPECT_EQ(CountNoData(dem->m_grid), 1);
        EXPECT_EQ(dem->m_grid.at<float>(15, 15), 115.0f);
    }
    EXPECT_EQ(dem->m_modified, 0);
}

TEST_F(DemEditCommandsTest, AShiftClickOnADemCellTakesItsElevationAsTheFillValue) {
    kvtest::ScriptedInteraction ui;
    CKelvaroDoc doc;
    ASSERT_EQ(doc.AddDEM(WriteDem(kvtest::NewTempFolder("shift") + "/s.tif", {{20, 20}, {60, 60}}), 0), 1);
    CDEM* dem = doc.m_DEMs.begin()->second;
    CadDrawing* d = doc.m_pCad;

    QString prompt;
    CadScriptPushPoint(d, 1041.0, 4959.0, 0.0, CAD_KEY_SHIFT);  // a no-data cell gives no reference
    CadScriptPushPoint(d, 1041.0, 4959.0, 0.0);                 // so this click fills nothing
    CadScriptPushPoint(d, 1141.0, 4859.0, 0.0, CAD_KEY_SHIFT);  // cell (70, 70): 170
    CadScriptPushCall(d, [&] {
        char text[256] = {};
        CadCmdGetPrompt(d, text, sizeof text);
        prompt = text;
    });
    CadScriptPushPoint(d, 1041.0, 4959.0, 0.0);  // cell (20, 20)
    CadScriptPushFinish(d);
    CmdDemFloodFill(d);
    EXPECT_EQ(ActiveCadCommandId, 0);
    EXPECT_EQ(prompt, "Click inside area to fill with elevation 170.00");
    EXPECT_EQ(dem->m_grid.at<float>(20, 20), 170.0f);
    EXPECT_EQ(dem->m_grid.at<float>(60, 60), -9999.0f);
    EXPECT_EQ(dem->m_grid.at<float>(70, 70), 170.0f);
    EXPECT_EQ(doc.DemUndoHistory().Count(), 1);
}

// Records every title a progress window takes while it lives.
class ProgressTitles : public QObject {
public:
    ProgressTitles() { QCoreApplication::instance()->installEventFilter(this); }
    ~ProgressTitles() override { QCoreApplication::instance()->removeEventFilter(this); }
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::WindowTitleChange) {
            if (auto* window = qobject_cast<KvProgressDialog*>(watched)) {
                titles << window->windowTitle();
            }
        }
        return false;
    }
    QStringList titles;
};

TEST_F(DemEditCommandsTest, ProgressWindowsKeepTheCaptionsOfTheirStepsWhileBlocksAreReadAndWritten) {
    kvtest::ScriptedInteraction ui;
    CKelvaroDoc doc;
    ASSERT_EQ(doc.AddDEM(WriteDem(kvtest::NewTempFolder("captions") + "/c.tif", {}), 0), 1);
    CDEM* dem = doc.m_DEMs.begin()->second;
    ASSERT_TRUE(dem->m_grid.empty());
    CadDrawing* d = doc.m_pCad;

    ProgressTitles seen;
    // The grid is loaded for the edit, the undo file written, then read back twice.
    ui.AnswerModal(101);
    PushArea(d, {{10, 10}, {30, 10}, {30, 30}, {10, 30}});
    CadScriptPushFinish(d);
    CmdDemHole(d);
    ASSERT_EQ(doc.DemUndoHistory().Count(), 1);
    doc.OnButtonDemundo();
    doc.OnButtonDemredo();
    EXPECT_EQ(dem->m_grid.at<float>(20, 20), -9999.0f);
    seen.titles.removeDuplicates();
    EXPECT_EQ(seen.titles.join(" | "),
              "Kelvaro | Preparing DEM to edit... | Generate UNDO... | Undo... | Redo...");
}

// While it lives, a plain file stands where the undo folder was, so no record can be written.
class BlockedUndoFolder {
public:
    BlockedUndoFolder() : m_folder(GetDemUndoFolder().chopped(1)), m_aside(m_folder + "-aside") {
        EXPECT_TRUE(QDir().rename(m_folder, m_aside));
        QFile blocker(m_folder);
        EXPECT_TRUE(blocker.open(QIODevice::WriteOnly));
    }
    ~BlockedUndoFolder() {
        QFile::remove(m_folder);
        EXPECT_TRUE(QDir().rename(m_aside, m_folder));
    }

private:
    QString m_folder, m_aside;
};

QStringList UndoFiles() {
    return QDir(GetDemUndoFolder()).entryList({"*.demundo"}, QDir::Files);
}

TEST_F(DemEditCommandsTest, EditsWhoseUndoCannotBeWrittenAreToldAndChangeNothing) {
    kvtest::ScriptedInteraction ui;
    CKelvaroDoc doc;
    const QString folder = kvtest::NewTempFolder("undofail");
    ASSERT_EQ(doc.AddDEM(WriteDem(folder + "/a.tif", {{30, 30}}), 0), 1);
    ASSERT_EQ(doc.AddDEM(WriteDem(folder + "/b.tif", {}, 1100.0), 0), 1);
    std::map<QString, cv::Mat> original;
    for (const auto& [name, dem] : doc.m_DEMs) {
        ASSERT_EQ(dem->LoadData(), 1);
        original[name] = dem->m_grid.clone();
    }
    CadDrawing* d = doc.m_pCad;
    // Every DEM holds its original cells, no round was pushed and the operator was told once.
    auto expectToldAndUnchanged = [&](const char* what) {
        EXPECT_EQ(ActiveCadCommandId, 0) << what;
        EXPECT_EQ(ui.MessageTexts(), QStringList{"Unable to create undo data"}) << what;
        EXPECT_EQ(doc.DemUndoHistory().Count(), 0) << what;
        for (const auto& [name, dem] : doc.m_DEMs) {
            EXPECT_EQ(cv::norm(dem->m_grid, original[name], cv::NORM_INF), 0.0) << what;
        }
        EXPECT_TRUE(UndoFiles().isEmpty()) << what;
        ui.Clear();
    };
    BlockedUndoFolder blocked;

    // Areas over both DEMs.
    ui.AnswerModal(101);
    PushArea(d, {{20, 20}, {90, 20}, {90, 40}, {20, 40}});
    CadScriptPushCancel(d);
    CmdDemErode(d);
    expectToldAndUnchanged("erode");
    ui.AnswerModal(101);
    PushArea(d, {{20, 20}, {90, 20}, {90, 40}, {20, 40}});
    CadScriptPushCancel(d);
    CmdDemHole(d);
    expectToldAndUnchanged("hole");
    // The flood fill of the hole: a region record.
    CadScriptPushText(d, "55");
    CadScriptPushPoint(d, 1061.0, 4939.0, 0.0);
    CadScriptPushFinish(d);
    CmdDemFloodFill(d);
    expectToldAndUnchanged("flood fill");
    // Entities burnt into a.tif, and a closed polyline over both DEMs.
    CadScriptPushEntity(d, doc.m_DEMs["a.tif"]->m_imageEntity);
    CadScriptPushEntity(d, CadAddLine(d, 1003.0, 4997.0, 7.0, 1101.0, 4899.0, 9.0));
    CadScriptPushFinish(d);
    CmdRasterizeEntitiesOnDem(d);
    expectToldAndUnchanged("rasterise");
    CadClearVertices();
    for (cv::Point c : {cv::Point(10, 10), cv::Point(150, 10), cv::Point(150, 50), cv::Point(10, 50)})
        CadAddVertex(1000.0 + 2.0 * c.x + 1.0, 5000.0 - 2.0 * c.y - 1.0, 500.0);
    CadScriptPushEntity(d, CadAddPolyline(d, 0, 1));
    CadScriptPushFinish(d);
    CadScriptPushFinish(d);  // an empty selection ends the command
    CmdDemElevationByEntities(d);
    expectToldAndUnchanged("elevation by entities");
}

TEST_F(DemEditCommandsTest, AnIncompleteRoundTakesBackTheWindowsItRecorded) {
    // The first window of a run was recorded and written; a later one could not be recorded.
    kvtest::ScriptedInteraction ui;
    CKelvaroDoc doc;
    ASSERT_EQ(doc.AddDEM(WriteDem(kvtest::NewTempFolder("incomplete") + "/a.tif", {}), 0), 1);
    CDEM* a = doc.m_DEMs.begin()->second;
    ASSERT_EQ(a->LoadData(), 1);
    const cv::Mat original = a->m_grid.clone();
    DemUndoRound round;
    const cv::Mat before = a->m_grid(cv::Rect(5, 5, 10, 10)).clone();
    cv::Mat after(10, 10, CV_32FC1, cv::Scalar(1.0f));
    ASSERT_EQ(KeepUndoRecord(round, CUndoDEM(a, &doc, before, after, {5, 5}, {})), 1);
    after.copyTo(a->m_grid(cv::Rect(5, 5, 10, 10)));
    EXPECT_EQ(KeepUndoRecord(round, CUndoDEM()), 0);
    EXPECT_TRUE(round.IsIncomplete());
    // Later records of the run are refused without a second message.
    EXPECT_EQ(KeepUndoRecord(round, CUndoDEM(a, &doc, before, after, {5, 5}, {})), 0);
    EXPECT_EQ(ui.MessageTexts(), QStringList{"Unable to create undo data"});

    EXPECT_EQ(PushEditRound(&doc, round), 0);
    EXPECT_EQ(cv::norm(a->m_grid, original, cv::NORM_INF), 0.0);
    EXPECT_EQ(doc.DemUndoHistory().Count(), 0);
    EXPECT_TRUE(UndoFiles().isEmpty());
}

}  // namespace
