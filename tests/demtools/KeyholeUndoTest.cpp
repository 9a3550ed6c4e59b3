// Undo and Redo of the area edits give back the whole DEM exactly, for any area: also for a single
// closed "keyhole" polyline (outer ring and inner ring joined by a slit), whose inner ring is a
// hole the edit leaves alone. Checked on a generated DEM for every edit kind, and on the real
// Olinda DEM through the saved file.
#include <QFile>

#include <gdal.h>
#include <gtest/gtest.h>

#include <functional>
#include <opencv2/core.hpp>

#include "demtools/DemEditCommands.h"
#include "document/KelvaroDoc.h"
#include "document/undo/DemUndoRound.h"
#include "platform/cad/Cad.h"
#include "platform/ui/ActiveCommand.h"
#include "raster/DEM.h"
#include "support/ScriptedInteraction.h"
#include "support/TestEnv.h"

namespace {

// The grid of band 1 of a GeoTIFF, as Float32.
cv::Mat ReadGrid(const QString& path) {
    GDALDatasetH ds = GDALOpen(QFile::encodeName(path).constData(), GA_ReadOnly);
    EXPECT_NE(ds, nullptr);
    if (!ds) {
        return cv::Mat();
    }
    const int w = GDALGetRasterXSize(ds), h = GDALGetRasterYSize(ds);
    cv::Mat grid(h, w, CV_32FC1);
    EXPECT_EQ(GDALRasterIO(GDALGetRasterBand(ds, 1), GF_Read, 0, 0, w, h, grid.data, w, h, GDT_Float32, 0, 0),
              CE_None);
    GDALClose(ds);
    return grid;
}

// Writes a Float32 GeoTIFF with no data -9999.
void WriteGrid(const QString& path, const cv::Mat& grid, const double gt[6]) {
    GDALDatasetH ds = GDALCreate(GDALGetDriverByName("GTiff"), QFile::encodeName(path).constData(), grid.cols,
                                 grid.rows, 1, GDT_Float32, nullptr);
    ASSERT_NE(ds, nullptr);
    GDALSetGeoTransform(ds, const_cast<double*>(gt));
    GDALRasterBandH band = GDALGetRasterBand(ds, 1);
    GDALSetRasterNoDataValue(band, -9999.0);
    cv::Mat cells = grid.clone();
    EXPECT_EQ(GDALRasterIO(band, GF_Write, 0, 0, grid.cols, grid.rows, cells.data, grid.cols, grid.rows,
                           GDT_Float32, 0, 0),
              CE_None);
    GDALClose(ds);
}

// Whole grids equal cell by cell (no data included).
bool SameGrid(const cv::Mat& a, const cv::Mat& b) {
    return a.size() == b.size() && a.type() == b.type() && cv::norm(a, b, cv::NORM_INF) == 0.0;
}

// One closed polyline around a ring of cells: the outer square (o0..o1), a slit along row `slit`
// from the outer left edge to the inner square (i0..i1), the inner square walked the other way,
// and back along the slit.
std::vector<cv::Point> Keyhole(int o0, int o1, int i0, int i1, int slit) {
    return {{o0, o0}, {o1, o0}, {o1, o1}, {o0, o1}, {o0, slit}, {i0, slit},
            {i0, i1}, {i1, i1}, {i1, i0}, {i0, i0}, {i0, slit}, {o0, slit}};
}

// Picks the centres of the cells as a new area; a repeating command is then ended by an empty
// area.
void PushCellArea(CadDrawing* d, const CDEM& dem, const std::vector<cv::Point>& cells, bool repeats) {
    const double* gt = dem.m_geoTransform;
    for (const cv::Point& c : cells) {
        CadScriptPushPoint(d, gt[0] + (c.x + 0.5) * gt[1], gt[3] + (c.y + 0.5) * gt[5], 0.0);
    }
    CadScriptPushFinish(d);
    if (repeats) {
        CadScriptPushFinish(d);
    }
}

struct EditKind {
    const char* name;
    std::function<void(CadDrawing*)> run;  // runs the command once over the pushed area
    bool offset;                           // the command asks for the offset first
};

const std::vector<EditKind>& EditKinds() {
    static const std::vector<EditKind> kinds = {
        {"hole", CmdDemHole, false},
        {"gap closing", CmdDemGridGaps, false},
        {"offset", CmdDemOffset, true},
        {"erode", CmdDemErode, false},
    };
    return kinds;
}

// Runs one edit kind over the keyhole area through its command, as the operator would.
void RunKeyholeEdit(kvtest::ScriptedInteraction& ui, CKelvaroDoc& doc, CDEM& dem, const EditKind& kind,
                    const std::vector<cv::Point>& keyhole) {
    CadDrawing* d = doc.m_pCad;
    if (kind.offset) {
        CadScriptPushText(d, "-2.5");
    }
    ui.AnswerModal(101);
    PushCellArea(d, dem, keyhole, !kind.offset);
    kind.run(d);
    EXPECT_EQ(ActiveCadCommandId, 0) << kind.name;
    EXPECT_EQ(CadScriptPending(d), 0) << kind.name;
}

class KeyholeUndoTest : public ::testing::Test {
protected:
    void SetUp() override {
        ActiveCadCommandId = 0;
        CadScriptSetStrict(1);
    }
    void TearDown() override { CadScriptSetStrict(0); }
};

TEST_F(KeyholeUndoTest, EveryEditKindIsUndoneAndRedoneExactlyOverAKeyholeArea) {
    // A sloping DEM with no-data spots inside the ring, inside the keyhole's hole and outside
    // the area, so that gap closing and erode have work on both sides of the inner ring.
    cv::Mat grid(90, 90, CV_32FC1);
    for (int r = 0; r < grid.rows; ++r) {
        for (int c = 0; c < grid.cols; ++c) {
            grid.at<float>(r, c) = 100.0f + 0.5f * float(c) + 0.25f * float(r);
        }
    }
    for (const cv::Rect& spot :
         {cv::Rect(15, 20, 3, 3), cv::Rect(42, 42, 4, 4), cv::Rect(70, 70, 2, 5), cv::Rect(2, 2, 2, 2)}) {
        grid(spot).setTo(-9999.0f);
    }
    const double gt[6] = {1000.0, 2.0, 0.0, 5000.0, 0.0, -2.0};
    const std::vector<cv::Point> keyhole = Keyhole(8, 80, 30, 58, 44);

    for (const EditKind& kind : EditKinds()) {
        SCOPED_TRACE(kind.name);
        kvtest::ScriptedInteraction ui;
        CKelvaroDoc doc;
        const QString path = kvtest::NewTempFolder("keyhole") + "/k.tif";
        WriteGrid(path, grid, gt);
        ASSERT_EQ(doc.AddDEM(path, 0), 1);
        CDEM* dem = doc.m_DEMs.begin()->second;
        ASSERT_TRUE(dem->LoadData());
        const cv::Mat before = dem->m_grid.clone();

        RunKeyholeEdit(ui, doc, *dem, kind, keyhole);
        ASSERT_EQ(doc.DemUndoHistory().Count(), 1);
        const cv::Mat after = dem->m_grid.clone();
        EXPECT_FALSE(SameGrid(after, before));
        // The inner ring is the area's hole: the edit leaves it alone.
        EXPECT_TRUE(SameGrid(after(cv::Rect(32, 32, 25, 25)), before(cv::Rect(32, 32, 25, 25))));

        doc.OnButtonDemundo();
        EXPECT_TRUE(SameGrid(dem->m_grid, before));
        EXPECT_EQ(cv::countNonZero(dem->m_grid == -10000.0f), 0);
        doc.OnButtonDemredo();
        EXPECT_TRUE(SameGrid(dem->m_grid, after));
        doc.OnButtonDemundo();
        EXPECT_TRUE(SameGrid(dem->m_grid, before));
    }
}

TEST_F(KeyholeUndoTest, OnTheOlindaDemEachUndoneEditLeavesTheSavedFileAsItWas) {
    // The Olinda DEM with a few cells cut out, so that gap closing and erode change cells.
    const cv::Mat source = ReadGrid(kvtest::DataPath("olinda_dem_utm25s.tif"));
    ASSERT_EQ(source.size(), cv::Size(111, 111));
    cv::Mat original = source.clone();
    for (const cv::Rect& cut : {cv::Rect(30, 48, 4, 3), cv::Rect(52, 52, 5, 5), cv::Rect(85, 70, 3, 6)}) {
        original(cut).setTo(-9999.0f);
    }
    GDALDatasetH ds = GDALOpen(QFile::encodeName(kvtest::DataPath("olinda_dem_utm25s.tif")), GA_ReadOnly);
    ASSERT_NE(ds, nullptr);
    double gt[6];
    ASSERT_EQ(GDALGetGeoTransform(ds, gt), CE_None);
    GDALClose(ds);
    const QString folder = kvtest::NewTempFolder("olinda_keyhole");
    const QString demPath = folder + "/olinda.tif";
    WriteGrid(demPath, original, gt);

    kvtest::ScriptedInteraction ui;
    CKelvaroDoc doc;
    ASSERT_EQ(doc.AddDEM(demPath, 0), 1);
    CDEM* dem = doc.m_DEMs.begin()->second;
    const std::vector<cv::Point> keyhole = Keyhole(15, 95, 40, 70, 55);
    const QString project = folder + "/olinda.kvp";

    for (const EditKind& kind : EditKinds()) {
        SCOPED_TRACE(kind.name);
        RunKeyholeEdit(ui, doc, *dem, kind, keyhole);
        ASSERT_FALSE(dem->m_grid.empty());
        EXPECT_FALSE(SameGrid(dem->m_grid, original));
        doc.OnButtonDemundo();
        ASSERT_EQ(doc.DoSave(project), 1);
        EXPECT_TRUE(SameGrid(ReadGrid(demPath), original));
    }
    EXPECT_TRUE(ui.MessageTexts().isEmpty());
}

}  // namespace
