// DEM edits whose undo record cannot be written: the operator is told, and the DEMs stay as they
// were before the run, with nothing pushed into the history.
#include <QDir>
#include <QFile>

#include <gdal.h>
#include <gtest/gtest.h>
#include <opencv2/core.hpp>

#include "demtools/DemEditCommands.h"
#include "demtools/EntityElevationCommands.h"
#include "document/KelvaroDoc.h"
#include "document/undo/DemUndoRound.h"
#include "platform/cad/Cad.h"
#include "platform/ui/ActiveCommand.h"
#include "platform/ui/DemUndoFolder.h"
#include "raster/DEM.h"
#include "support/ScriptedInteraction.h"
#include "support/TestEnv.h"

namespace {

// A 60 x 60 GeoTIFF, 2 m cells, origin (originX, 5000), value 100 + column, a hole at (30, 30).
QString WriteDem(const QString& path, double originX) {
    GDALDatasetH ds = GDALCreate(GDALGetDriverByName("GTiff"), QFile::encodeName(path).constData(), 60, 60, 1,
                                 GDT_Float32, nullptr);
    EXPECT_NE(ds, nullptr);
    double gt[6] = {originX, 2.0, 0.0, 5000.0, 0.0, -2.0};
    GDALSetGeoTransform(ds, gt);
    std::vector<float> cells(60 * 60);
    for (int r = 0; r < 60; ++r)
        for (int c = 0; c < 60; ++c)
            cells[r * 60 + c] = float(100 + c);
    cells[30 * 60 + 30] = -9999.0f;
    GDALRasterBandH band = GDALGetRasterBand(ds, 1);
    GDALSetRasterNoDataValue(band, -9999.0);
    EXPECT_EQ(GDALRasterIO(band, GF_Write, 0, 0, 60, 60, cells.data(), 60, 60, GDT_Float32, 0, 0), CE_None);
    GDALClose(ds);
    return path;
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

class UndoFailureTest : public ::testing::Test {
protected:
    void SetUp() override {
        ActiveCadCommandId = 0;
        CadScriptSetStrict(1);
        const QString folder = kvtest::NewTempFolder("undofail");
        ASSERT_EQ(m_doc.AddDEM(WriteDem(folder + "/a.tif", 1000.0), 0), 1);
        ASSERT_EQ(m_doc.AddDEM(WriteDem(folder + "/b.tif", 1060.0), 0), 1);
        for (const auto& [name, dem] : m_doc.m_DEMs) {
            ASSERT_EQ(dem->LoadData(), 1);
            m_original[name] = dem->m_grid.clone();
        }
    }
    void TearDown() override { CadScriptSetStrict(0); }

    // Every DEM holds its original cells, no round was pushed and the operator was told once.
    void ExpectToldAndUnchanged() {
        EXPECT_EQ(ActiveCadCommandId, 0);
        EXPECT_EQ(m_ui.MessageTexts(), QStringList{"Unable to create undo data"});
        EXPECT_EQ(m_doc.DemUndoHistory().Count(), 0);
        for (const auto& [name, dem] : m_doc.m_DEMs) {
            EXPECT_EQ(cv::norm(dem->m_grid, m_original[name], cv::NORM_INF), 0.0) << name.toStdString();
        }
        EXPECT_TRUE(QDir(GetDemUndoFolder()).entryList({"*.demundo"}, QDir::Files).isEmpty());
        m_ui.Clear();
    }
    // The world position of the centre of a cell (column, row) of a.tif.
    static double X(double c) { return 1000.0 + 2.0 * c + 1.0; }
    static double Y(double r) { return 5000.0 - 2.0 * r - 1.0; }

    kvtest::ScriptedInteraction m_ui;
    CKelvaroDoc m_doc;
    std::map<QString, cv::Mat> m_original;
};

TEST_F(UndoFailureTest, AreaEditsRasteriseAndElevationByEntitiesAreToldAndChangeNothing) {
    CadDrawing* d = m_doc.m_pCad;
    // An area over both DEMs, and entities across both.
    auto pushArea = [&] {
        for (cv::Point c : {cv::Point(20, 20), cv::Point(90, 20), cv::Point(90, 40), cv::Point(20, 40)})
            CadScriptPushPoint(d, X(c.x), Y(c.y), 0.0);
        CadScriptPushFinish(d);
    };
    BlockedUndoFolder blocked;

    m_ui.AnswerModal(101);
    pushArea();
    CadScriptPushCancel(d);
    CmdDemErode(d);
    ExpectToldAndUnchanged();

    m_ui.AnswerModal(101);
    pushArea();
    CadScriptPushCancel(d);
    CmdDemHole(d);
    ExpectToldAndUnchanged();

    // The flood fill of the hole (a region record).
    CadScriptPushText(d, "55");
    CadScriptPushPoint(d, X(30), Y(30), 0.0);
    CadScriptPushFinish(d);
    CmdDemFloodFill(d);
    ExpectToldAndUnchanged();

    CadScriptPushEntity(d, m_doc.m_DEMs["a.tif"]->m_imageEntity);
    CadScriptPushEntity(d, CadAddLine(d, X(1), Y(1), 7.0, X(50), Y(50), 9.0));
    CadScriptPushFinish(d);
    CmdRasterizeEntitiesOnDem(d);
    ExpectToldAndUnchanged();

    CadClearVertices();
    for (cv::Point c : {cv::Point(10, 10), cv::Point(100, 10), cv::Point(100, 50), cv::Point(10, 50)})
        CadAddVertex(X(c.x), Y(c.y), 500.0);
    CadEntity* outline = CadAddPolyline(d, 0, 1);
    CadScriptPushEntity(d, outline);
    CadScriptPushFinish(d);
    CadScriptPushFinish(d);  // an empty selection ends the command
    CmdDemElevationByEntities(d);
    ExpectToldAndUnchanged();
}

TEST_F(UndoFailureTest, AnIncompleteRoundTakesBackTheWindowsItRecorded) {
    // The first window of a run was recorded and written; a later one could not be recorded.
    CDEM* a = m_doc.m_DEMs["a.tif"];
    kvtest::ScriptedInteraction& ui = m_ui;
    DemUndoRound round;
    const cv::Mat before = a->m_grid(cv::Rect(5, 5, 10, 10)).clone();
    cv::Mat after(10, 10, CV_32FC1, cv::Scalar(1.0f));
    ASSERT_EQ(KeepUndoRecord(round, CUndoDEM(a, &m_doc, before, after, {5, 5}, {})), 1);
    after.copyTo(a->m_grid(cv::Rect(5, 5, 10, 10)));
    EXPECT_EQ(KeepUndoRecord(round, CUndoDEM()), 0);
    EXPECT_TRUE(round.IsIncomplete());
    // Later records of the run are refused without a second message.
    EXPECT_EQ(KeepUndoRecord(round, CUndoDEM(a, &m_doc, before, after, {5, 5}, {})), 0);
    EXPECT_EQ(ui.MessageTexts(), QStringList{"Unable to create undo data"});

    EXPECT_EQ(PushEditRound(&m_doc, round), 0);
    EXPECT_EQ(cv::norm(a->m_grid, m_original["a.tif"], cv::NORM_INF), 0.0);
    EXPECT_EQ(m_doc.DemUndoHistory().Count(), 0);
    EXPECT_TRUE(QDir(GetDemUndoFolder()).entryList({"*.demundo"}, QDir::Files).isEmpty());
}

}  // namespace
