// The DEM merge along seamlines and the DEM split by tiles, as the operator runs them: the pyramid
// blend on its own; two and three DEMs of the Olinda model merged from the ribbon with seamlines
// built from the ribbon, without a step along the seam and without temporaries left behind; the
// refusals in their own words; what a merge keeps that the bare pairwise writes would lose; the
// tiles of a DEM copied or resampled onto their own grids.
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

#include <cpl_conv.h>
#include <gdal.h>
#include <gdal_utils.h>
#include <ogr_srs_api.h>
#include <opencv2/core.hpp>

#include <cerrno>
#include <cmath>
#include <limits>
#include <map>
#include <memory>

#include "MosaicFixtures.h"
#include "controls/ProgressTimeToComplete.h"
#include "demtools/DemToolsTestSupport.h"
#include "document/KelvaroDoc.h"
#include "document/UserCommands.h"
#include "mosaic/DEMMergeDlg.h"
#include "mosaic/DemSplitMerge.h"
#include "mosaic/LaplacianBlend.h"
#include "mosaic/MosaicCommands.h"
#include "mosaic/SeamRouting.h"
#include "mosaic/SeamlineEdit.h"
#include "mosaic/SeamlinesGenerationDlg.h"
#include "mosaic/TileLayout.h"
#include "mosaic/TilesGenerationDlg.h"
#include "platform/cad/Cad.h"
#include "platform/tools/SafeFile.h"
#include "platform/ui/ActiveCommand.h"
#include "platform/ui/CommandIds.h"
#include "platform/ui/DemUndoFolder.h"
#include "raster/DEM.h"
#include "support/Pictures.h"
#include "support/ScriptedInteraction.h"
#include "support/TestEnv.h"

namespace {

using GenerationRunner = mtest::DialogRunner<CSeamlinesGenerationDlg, TProgressTimeToComplete>;
using MergeRunner = mtest::DialogRunner<CDEMMergeDlg, KvProgressBar>;

constexpr double kCell = 10.0;

std::string Native(const QString& path) {
    return QFile::encodeName(path).toStdString();
}

// The Olinda model warped to 10 m cells (999 × 999), Float32 with no data -9999.
QString Olinda10(const QString& target) {
    GDALDatasetH in = GDALOpen(Native(kvtest::DataPath("olinda_dem_utm25s.tif")).c_str(), GA_ReadOnly);
    const char* args[] = {"-of",      "GTiff", "-tr",     "10",         "10",    "-r",
                          "bilinear", "-ot",   "Float32", "-dstnodata", "-9999", nullptr};
    GDALWarpAppOptions* options = GDALWarpAppOptionsNew(const_cast<char**>(args), nullptr);
    GDALDatasetH out = GDALWarp(Native(target).c_str(), nullptr, 1, &in, options, nullptr);
    GDALWarpAppOptionsFree(options);
    GDALClose(in);
    EXPECT_NE(out, nullptr);
    GDALClose(out);
    return target;
}

// Columns [column, column + width) of the source, every height raised by `raise`.
QString Cut(const QString& source, const QString& target, int column, int width, float raise = 0.0f) {
    GDALDatasetH in = GDALOpen(Native(source).c_str(), GA_ReadOnly);
    const int rows = GDALGetRasterYSize(in);
    const std::string x = std::to_string(column), w = std::to_string(width), h = std::to_string(rows);
    const char* args[] = {"-of", "GTiff", "-srcwin", x.c_str(), "0", w.c_str(), h.c_str(), nullptr};
    GDALTranslateOptions* options = GDALTranslateOptionsNew(const_cast<char**>(args), nullptr);
    GDALDatasetH out = GDALTranslate(Native(target).c_str(), in, options, nullptr);
    GDALTranslateOptionsFree(options);
    GDALClose(in);
    EXPECT_NE(out, nullptr);
    if (raise != 0.0f) {
        cv::Mat cells(rows, width, CV_32FC1);
        GDALRasterBandH band = GDALGetRasterBand(out, 1);
        EXPECT_EQ(GDALRasterIO(band, GF_Read, 0, 0, width, rows, cells.data, width, rows, GDT_Float32, 0, 0),
                  CE_None);
        cv::add(cells, raise, cells, cells != kNoData);
        EXPECT_EQ(GDALRasterIO(band, GF_Write, 0, 0, width, rows, cells.data, width, rows, GDT_Float32, 0, 0),
                  CE_None);
    }
    GDALClose(out);
    return target;
}

// A Float32 DEM with no data -9999 of the cells, whose top-left corner is (x, y).
QString WriteDem(const QString& path, const cv::Mat& cells, double x, double y, double pixel,
                 const char* projection = "EPSG:31985") {
    GDALDatasetH ds = GDALCreate(GDALGetDriverByName("GTiff"), Native(path).c_str(), cells.cols, cells.rows,
                                 1, GDT_Float32, nullptr);
    double gt[6] = {x, pixel, 0, y, 0, -pixel};
    GDALSetGeoTransform(ds, gt);
    OGRSpatialReferenceH srs = OSRNewSpatialReference(nullptr);
    OSRSetFromUserInput(srs, projection);
    char* wkt = nullptr;
    OSRExportToWkt(srs, &wkt);
    GDALSetProjection(ds, wkt);
    CPLFree(wkt);
    OSRDestroySpatialReference(srs);
    GDALRasterBandH band = GDALGetRasterBand(ds, 1);
    GDALSetRasterNoDataValue(band, kNoData);
    EXPECT_EQ(GDALRasterIO(band, GF_Write, 0, 0, cells.cols, cells.rows, const_cast<uchar*>(cells.data),
                           cells.cols, cells.rows, GDT_Float32, 0, int(cells.step)),
              CE_None);
    GDALClose(ds);
    return path;
}

cv::Mat ReadCells(const QString& path) {
    const dtest::Raster r = dtest::ReadRaster(path);
    return cv::Mat(r.height, r.width, CV_32FC1, const_cast<float*>(r.cells.data())).clone();
}

// A closed polyline of the corners on the layer, made the DEM's seamline.
void AddSeamline(CKelvaroDoc& doc, CDEM* dem, std::initializer_list<std::pair<double, double>> corners) {
    CadLayer* layer = CadGetLayerByName(doc.m_pCad, "SeamLines_DEM");
    if (!layer) {
        layer = CadAddLayer(doc.m_pCad, "SeamLines_DEM", 7, 0, 0);
    }
    CadSetCurLayer(doc.m_pCad, layer);
    CadClearVertices();
    for (const auto& corner : corners) {
        CadAddVertex(corner.first, corner.second, 0);
    }
    CadEntity* polyline = CadAddPolyline(doc.m_pCad, 0, 1);
    CadSetCurLayerByName(doc.m_pCad, "0");
    CadEntityPutUserPtr(polyline, dem);
    dem->SeamlinePolylines.push_back(polyline);
}

// A named rectangle on "Tiles", made as the tile layout makes its tiles.
void AddTile(CKelvaroDoc& doc, const char* name, double x0, double y0, double x1, double y1) {
    AddTile(doc.m_pCad, GetTileLayer(doc.m_pCad, kTilesLayer), name,
            {{x0, y0, 0}, {x1, y0, 0}, {x1, y1, 0}, {x0, y1, 0}}, kTileColour);
}

// The largest difference between neighbouring cells (across and down) in the columns
// [first, last) where both cells have data.
float LargestStep(const cv::Mat& cells, int first, int last) {
    float largest = 0.0f;
    for (int r = 0; r + 1 < cells.rows; ++r) {
        for (int c = first; c + 1 < last; ++c) {
            const float v = cells.at<float>(r, c);
            for (float n : {cells.at<float>(r, c + 1), cells.at<float>(r + 1, c)}) {
                if (!IsNoData(v) && !IsNoData(n)) {
                    largest = std::max(largest, std::fabs(v - n));
                }
            }
        }
    }
    return largest;
}

QStringList TemporaryDems() {
    return QDir(GetDemUndoFolder() + "DEMMerge").entryList({"*.gtif", "*.ovr", "*.aux.xml"}, QDir::Files);
}

class DemMergeSplit : public ::testing::Test {
protected:
    void SetUp() override {
        folder = mtest::PrepareMosaicCommands();
        SetSeamlinesGenerationDelay(0);
        SetDemMergeDelay(0);
        SetMaskContourJitterSeed(29);
        doc = std::make_unique<CKelvaroDoc>();
    }
    void TearDown() override {
        doc.reset();
        GetDocumentProcedures().Reset();
        SetSeamlinesGenerationDelay(1000);
        SetDemMergeDelay(1000);
        SetMaskContourJitterSeed(-1);
    }
    QString File(const QString& relative) const { return folder + "/" + relative; }
    CDEM* Add(const QString& path) {
        EXPECT_EQ(doc->AddDEM(path, 0), 1) << path.toStdString();
        return doc->m_DEMs.at(QFileInfo(path).fileName().toLower());
    }
    // Saves the project and builds the DEMs' seamlines from the ribbon.
    void BuildSeamlines() {
        ASSERT_EQ(doc->DoSave(File("site.kvp")), 1);
        GenerationRunner generation{ui, &CSeamlinesGenerationDlg::m_ProgressCtrl};
        ASSERT_EQ(generation.Press(*doc, ID_DEMSPLITMERGE_BUILDSEAMLINES), IDOK);
    }
    // Presses "Merge DEMs", selects the DEMs in that order and names the output.
    int PressMerge(MergeRunner& runner, const std::vector<CDEM*>& dems, const QString& output) {
        for (CDEM* dem : dems) {
            CadScriptPushEntity(doc->m_pCad, dem->m_imageEntity);
        }
        CadScriptPushFinish(doc->m_pCad);
        ui.AnswerFile(output);
        return runner.Press(*doc, ID_DEMSPLITMERGE_MERGE);
    }
    int Merge(const std::vector<CDEM*>& dems, const QString& output, int* abort = nullptr) {
        return CDEMMergeDlg::MergeDEMs(doc.get(), dems, output, nullptr, nullptr, nullptr, nullptr, nullptr,
                                       nullptr, abort);
    }

    kvtest::ScriptedInteraction ui;
    QString folder;
    std::unique_ptr<CKelvaroDoc> doc;
};

}  // namespace

TEST(LaplacianPyramidBlend, EachSourceWinsUnderItsWeightOddSizesStayAndNoDataSpreads) {
    cv::Mat left(777, 1023, CV_32FC1), right(777, 1023, CV_32FC1);
    cv::randu(left, 0.0f, 90.0f);
    cv::randu(right, -20.0f, 40.0f);
    cv::Mat result;
    LaplacianPyramidBlend(result, left, right, cv::Mat::ones(left.size(), CV_32FC1));
    ASSERT_EQ(result.size(), left.size());
    ASSERT_EQ(result.type(), CV_32FC1);
    EXPECT_LT(cv::norm(result, left, cv::NORM_INF), 1e-5);
    LaplacianPyramidBlend(result, left, right, cv::Mat::zeros(left.size(), CV_32FC1));
    EXPECT_LT(cv::norm(result, right, cv::NORM_INF), 1e-5);

    // A hole in one source: the blend has none near it and its value far from it.
    left.at<float>(400, 500) = std::numeric_limits<float>::quiet_NaN();
    cv::Mat mask = cv::Mat::zeros(left.size(), CV_32FC1);
    mask.colRange(0, 512).setTo(1.0f);
    LaplacianPyramidBlend(result, left, right, mask);
    EXPECT_TRUE(std::isnan(result.at<float>(400, 500)));
    EXPECT_TRUE(std::isnan(result.at<float>(403, 497)));
    EXPECT_FALSE(std::isnan(result.at<float>(100, 100)));
    EXPECT_NEAR(result.at<float>(100, 100), left.at<float>(100, 100), 1e-4);
    EXPECT_NEAR(result.at<float>(700, 1000), right.at<float>(700, 1000), 1e-4);

    // A narrow overlap (24 columns, the seam in the middle, the sources 5 m apart): each edge
    // keeps close to its own source, so no step is left where the overlap meets the cells of one
    // DEM, and the change across the seam is spread over several cells.
    cv::Mat low(111, 24, CV_32FC1, cv::Scalar(0.0f)), high(111, 24, CV_32FC1, cv::Scalar(5.0f));
    cv::Mat seam = cv::Mat::zeros(low.size(), CV_32FC1);
    seam.colRange(0, 12).setTo(1.0f);
    LaplacianPyramidBlend(result, low, high, seam);
    float largestStep = 0.0f;
    for (int c = 1; c < result.cols; ++c) {
        largestStep = std::max(largestStep, std::abs(result.at<float>(55, c) - result.at<float>(55, c - 1)));
    }
    EXPECT_NEAR(result.at<float>(55, 0), 0.0f, 0.25f);
    EXPECT_NEAR(result.at<float>(55, 23), 5.0f, 0.25f);
    EXPECT_LT(largestStep, 2.5f);
}

TEST_F(DemMergeSplit, TwoDemsMergeInOnePassIntoTheOperatorsFileWithoutAStepAlongTheSeam) {
    const QString olinda = Olinda10(File("olinda10.tif"));
    CDEM* west = Add(Cut(olinda, File("west.tif"), 0, 650));
    CDEM* east = Add(Cut(olinda, File("east.tif"), 350, 649, 5.0f));
    BuildSeamlines();

    MergeRunner runner{ui, &CDEMMergeDlg::m_progressStep};
    bool pictured = false;
    runner.onProgress = [&](CDEMMergeDlg& dialog, int value) {
        if (pictured || value < 3 || dialog.m_progressOverall.GetPos() != 1) {
            return;
        }
        pictured = true;
        const QImage shot = kvtest::Screenshot(&dialog, "CDEMMergeDlg");
        EXPECT_EQ(dialog.windowTitle(), "Kelvaro - DEM Merge");
        EXPECT_EQ(dialog.m_lblOverallPercent.text(), "50%");
        EXPECT_TRUE(dialog.m_btnAbort.isEnabled());
        EXPECT_FALSE(shot.isNull());
    };
    const QString output = File("Merged/Site_DEM.tif");
    QDir().mkpath(File("Merged"));
    ASSERT_EQ(PressMerge(runner, {west, east}, output), IDOK);
    EXPECT_TRUE(pictured);
    EXPECT_EQ(ui.MessageTexts().last(), "Process completed");
    EXPECT_EQ(ActiveCadCommandId, 0);

    // The file keeps the operator's case and joins the project; nothing temporary is left.
    ASSERT_TRUE(QFile::exists(output));
    EXPECT_FALSE(QFile::exists(File("Merged/site_dem.tif")));
    EXPECT_EQ(QDir(File("Merged")).entryList(QDir::Files | QDir::Hidden), QStringList({"Site_DEM.tif"}));
    EXPECT_TRUE(TemporaryDems().isEmpty());
    ASSERT_EQ(doc->GetDEMCount(), 3);
    CDEM* merged = doc->m_DEMs.at("site_dem.tif");
    EXPECT_EQ(QFileInfo(merged->m_path).fileName(), "Site_DEM.tif");

    const dtest::Raster r = dtest::ReadRaster(output);
    EXPECT_EQ(r.type, GDT_Float32);
    EXPECT_EQ(r.blockX, 128);
    EXPECT_EQ(r.blockY, 128);
    EXPECT_TRUE(r.hasNoData);
    EXPECT_EQ(r.noData, -9999.0);
    EXPECT_EQ(r.width, 999);
    EXPECT_EQ(r.gt[1], kCell);
    GDALDatasetH ds = GDALOpen(Native(output).c_str(), GA_ReadOnly);
    EXPECT_FALSE(QString::fromUtf8(GDALGetProjectionRef(ds)).isEmpty());
    GDALClose(ds);

    // Away from the overlap (columns 350 to 649) each cell is its source's.
    const cv::Mat cells = ReadCells(output);
    const cv::Mat westCells = ReadCells(File("west.tif"));
    const cv::Mat eastCells = ReadCells(File("east.tif"));
    EXPECT_EQ(cv::norm(cells.colRange(0, 350), westCells.colRange(0, 350), cv::NORM_INF), 0.0);
    EXPECT_EQ(cv::norm(cells.colRange(650, 999), eastCells.colRange(300, 649), cv::NORM_INF), 0.0);
    // In the overlap the 5 m between the two surfaces is spread out: no step much larger than the
    // ground's own (a hard cut along the seam gives about 6.5 m here).
    const float own = LargestStep(westCells, 350, 650);
    const float step = LargestStep(cells, 340, 660);
    EXPECT_LT(step, own + 0.5f) << "ground " << own;
}

TEST_F(DemMergeSplit, ThreeDemsMergePairwiseLeavingNoTemporaryAndAnAbortLeavesNoOutput) {
    const QString olinda = Olinda10(File("olinda10.tif"));
    CDEM* d1 = Add(Cut(olinda, File("d1.tif"), 0, 500));
    CDEM* d2 = Add(Cut(olinda, File("d2.tif"), 600, 399));
    CDEM* d3 = Add(Cut(olinda, File("d3.tif"), 300, 400));
    BuildSeamlines();
    // A seamline edit made before the merge: a band from D1 across D3's region.
    const double* g = d1->m_geoTransform;
    const double top = g[3] - 450 * kCell, bottom = g[3] - 550 * kCell;
    ASSERT_EQ(ApplyDemSeamlineArea(*doc, d1,
                                   {{g[0] + 200 * kCell, bottom},
                                    {g[0] + 550 * kCell, bottom},
                                    {g[0] + 550 * kCell, top},
                                    {g[0] + 200 * kCell, top}}),
              1);
    auto undoEnabled = [this] {
        kv::CommandUI state;
        state.id = ID_DEMSPLITMERGE_UNDOEDITSEAMLINES;
        EXPECT_TRUE(doc->OnUpdateCommand(state));
        return state.enabled;
    };
    ASSERT_TRUE(undoEnabled());

    // A name typed without its suffix whose completed name exists is asked about: No keeps that
    // file and no merge runs.
    const QString output = File("All.tif");
    QFile(output).open(QIODevice::WriteOnly);
    for (CDEM* dem : {d1, d2, d3}) {
        CadScriptPushEntity(doc->m_pCad, dem->m_imageEntity);
    }
    CadScriptPushFinish(doc->m_pCad);
    ui.Clear();
    ui.AnswerFile(File("All"));
    ui.AnswerMessage(IDNO);
    EXPECT_TRUE(RunDocCommand(*doc, ID_DEMSPLITMERGE_MERGE));
    EXPECT_EQ(ui.MessageTexts(), QStringList({"All.tif already exists.\nDo you want to replace it?"}));
    EXPECT_EQ(ui.Choosers().size(), 2);
    EXPECT_EQ(QFileInfo(output).size(), 0);
    EXPECT_EQ(doc->GetDEMCount(), 3);

    // D1 and D3 overlap most: their merge is the temporary that pass 2 merges with D2.
    MergeRunner runner{ui, &CDEMMergeDlg::m_progressOverall};
    QString temporary;
    runner.onProgress = [&](CDEMMergeDlg&, int value) {
        if (value != 2) {
            return;
        }
        EXPECT_EQ(doc->GetDEMCount(), 4);
        for (const auto& entry : doc->m_DEMs) {
            if (entry.second->m_path.endsWith(".gtif")) {
                temporary = entry.second->m_path;
            }
        }
    };
    ASSERT_EQ(PressMerge(runner, {d1, d2, d3}, output), IDOK);
    ASSERT_FALSE(temporary.isEmpty());
    EXPECT_TRUE(temporary.startsWith(GetDemUndoFolder() + "DEMMerge/"));
    EXPECT_FALSE(QFile::exists(temporary));
    EXPECT_EQ(CadGetLayerByName(doc->m_pCad, QFileInfo(temporary).fileName().toLower().toUtf8().constData()),
              nullptr);
    EXPECT_TRUE(TemporaryDems().isEmpty());
    EXPECT_EQ(doc->GetDEMCount(), 4);
    const cv::Mat cells = ReadCells(output);
    ASSERT_EQ(cells.cols, 999);
    EXPECT_EQ(cv::norm(cells.colRange(0, 300), ReadCells(File("d1.tif")).colRange(0, 300), cv::NORM_INF),
              0.0);
    EXPECT_EQ(cv::norm(cells.colRange(700, 999), ReadCells(File("d2.tif")).colRange(100, 399), cv::NORM_INF),
              0.0);
    EXPECT_EQ(cv::countNonZero(cells == kNoData), 0);
    // The temporary DEM came and went without touching the edit's round: it can still be undone.
    EXPECT_TRUE(undoEnabled());
    EXPECT_EQ(doc->UndoDemSeamlineRound(), 1);

    // Abort in pass 2: the button says so, the temporary DEM of pass 1 goes and the file already
    // at the path stays as it was.
    const QString kept = File("Kept.tif");
    QFile(kept).open(QIODevice::WriteOnly);
    runner.onProgress = [this](CDEMMergeDlg& dialog, int value) {
        if (value == 2 && dialog.m_btnAbort.isEnabled()) {
            EXPECT_EQ(doc->GetDEMCount(), 5);
            EXPECT_EQ(TemporaryDems().size(), 1);
            dialog.m_btnAbort.click();
            EXPECT_EQ(dialog.m_btnAbort.text(), "Aborting..");
        }
    };
    ui.Clear();
    EXPECT_EQ(PressMerge(runner, {d1, d2, d3}, kept), IDCANCEL);
    EXPECT_EQ(ui.MessageTexts(), QStringList{"Kept.tif already exists.\nDo you want to replace it?"});
    EXPECT_EQ(QFileInfo(kept).size(), 0);
    EXPECT_TRUE(TemporaryDems().isEmpty());
    EXPECT_EQ(QDir(folder).entryList({"*Kept*"}, QDir::Files | QDir::Hidden), QStringList({"Kept.tif"}));
    EXPECT_EQ(doc->GetDEMCount(), 4);

    // Fewer than two DEMs selected, or in the project.
    ui.Clear();
    CadScriptPushEntity(doc->m_pCad, d1->m_imageEntity);
    CadScriptPushFinish(doc->m_pCad);
    EXPECT_TRUE(RunDocCommand(*doc, ID_DEMSPLITMERGE_MERGE));
    EXPECT_EQ(ui.MessageTexts(), QStringList({"Please selected at least 2 DEMs!"}));
    for (CDEM* dem : {d2, d3}) {
        const QString name = dem->m_name;
        doc->RemoveDEM(name);
    }
    doc->RemoveDEM("all.tif");
    EXPECT_TRUE(RunDocCommand(*doc, ID_DEMSPLITMERGE_MERGE));
    EXPECT_TRUE(dtest::CommandLineHistory(doc->m_pCad, 2).contains("At least 2 DEMs must be loaded"));
    EXPECT_EQ(ActiveCadCommandId, 0);
}

TEST_F(DemMergeSplit, MergeRefusesWhatItCannotJoinAndLosesNoCellThatEitherDemHas) {
    // a: 60 × 40 cells of 100 m height from x = 0; b: 60 × 40 cells of 200 m from x = 40.
    cv::Mat aCells(40, 60, CV_32FC1, cv::Scalar(100.0f)), bCells(40, 60, CV_32FC1, cv::Scalar(200.0f));
    aCells.at<float>(20, 45) = kNoData;            // inside b's island
    bCells(cv::Rect(12, 2, 4, 4)).setTo(kNoData);  // b's own hole, in its region of the overlap
    CDEM* a = Add(WriteDem(File("a.tif"), aCells, 0, 40, 1.0));
    CDEM* b = Add(WriteDem(File("b.tif"), bCells, 40, 40, 1.0));
    const QString output = File("ab.tif");

    ui.Clear();
    EXPECT_EQ(Merge({a, b}, output), 0);
    EXPECT_EQ(ui.MessageTexts(), QStringList({"Selected DEM does not have seamlines defined"}));
    // a's region has a hole: b's island inside it. b's region reaches past b's own left edge at
    // x = 40 over a's cells in its top ten rows.
    AddSeamline(*doc, a, {{0, 0}, {50, 0}, {50, 40}, {0, 40}});
    AddSeamline(*doc, a, {{42, 15}, {48, 15}, {48, 25}, {42, 25}});
    AddSeamline(*doc, b, {{30, 30}, {30, 40}, {100, 40}, {100, 0}, {50, 0}, {50, 30}});
    AddSeamline(*doc, b, {{42, 15}, {48, 15}, {48, 25}, {42, 25}});
    a->m_modified = 1;
    ui.Clear();
    EXPECT_EQ(Merge({a, b}, output), 0);
    EXPECT_EQ(ui.MessageTexts(), QStringList({"Selected DEM is modified.\nPlease save the project before"}));
    a->m_modified = 0;
    // The output may not be the file of a loaded layer.
    ui.Clear();
    EXPECT_EQ(Merge({a, b}, File("a.tif")), 0);
    EXPECT_EQ(ui.MessageTexts(), QStringList({"Unable to save target DEM!"}));
    EXPECT_EQ(cv::norm(ReadCells(File("a.tif")), aCells, cv::NORM_INF), 0.0);

    // A DEM held in memory without edits is read from its file again.
    ASSERT_EQ(a->LoadData(), 1);
    ui.Clear();
    ASSERT_EQ(Merge({a, b}, output), 1);
    EXPECT_TRUE(ui.MessageTexts().isEmpty());
    EXPECT_TRUE(a->m_grid.empty());
    EXPECT_NE(a->m_pDataset, nullptr);
    const cv::Mat cells = ReadCells(output);
    ASSERT_EQ(cells.size(), cv::Size(100, 40));
    // Cells of a inside b's seamline but outside b keep a's heights.
    EXPECT_EQ(cv::countNonZero(cells.colRange(0, 40) != 100.0f), 0);
    EXPECT_EQ(cv::countNonZero(cells.colRange(60, 100) != 200.0f), 0);
    // Where the blend has no value (near a's hole and b's), the island is b's and b's hole a's.
    EXPECT_EQ(cells.at<float>(20, 46), 200.0f);
    EXPECT_EQ(cells.at<float>(20, 45), 200.0f);
    EXPECT_EQ(cells.at<float>(3, 53), 100.0f);
    EXPECT_EQ(cv::countNonZero(cells == kNoData), 0);
    GDALDatasetH ds = GDALOpen(Native(output).c_str(), GA_ReadOnly);
    EXPECT_TRUE(QString::fromUtf8(GDALGetProjectionRef(ds)).contains("SIRGAS 2000 / UTM zone 25S"));
    GDALClose(ds);
    EXPECT_EQ(doc->GetDEMCount(), 3);

    // Pixel sizes are compared exactly; DEMs that do not meet are not merged.
    CDEM* fine = Add(WriteDem(File("fine.tif"), aCells, 0, 40, 0.5));
    CDEM* finer = Add(WriteDem(File("finer.tif"), aCells, 0, 40, 0.50000001));
    CDEM* far = Add(WriteDem(File("far.tif"), bCells, 500, 40, 1.0));
    AddSeamline(*doc, fine, {{0, 0}, {30, 0}, {30, 20}, {0, 20}});
    AddSeamline(*doc, far, {{500, 0}, {560, 0}, {560, 40}, {500, 40}});
    ui.Clear();
    EXPECT_EQ(Merge({fine, finer}, File("ff.tif")), 0);
    EXPECT_EQ(Merge({a, far}, File("af.tif")), 0);
    EXPECT_EQ(ui.MessageTexts(),
              QStringList({"Selected DEMs must have the same GSD!", "Selected DEMs are not overlapping"}));
    EXPECT_FALSE(QFile::exists(File("ff.tif")));
    EXPECT_FALSE(QFile::exists(File("af.tif")));
    EXPECT_TRUE(TemporaryDems().isEmpty());
}

TEST_F(DemMergeSplit, MergedDemsGetOverviewsOnlyAbove1024Cells) {
    const std::pair<int, std::vector<int>> cases[] = {{1024, {}}, {2048, {1024}}, {4100, {2050, 1025}}};
    for (const auto& [width, overviews] : cases) {
        const int half = width / 2 + 10;
        cv::Mat cells(8, half, CV_32FC1, cv::Scalar(10.0f));
        const QString tag = QString::number(width);
        CDEM* a = Add(WriteDem(File("w" + tag + ".tif"), cells, 0, 8, 1.0));
        CDEM* b = Add(WriteDem(File("e" + tag + ".tif"), cells, width - half, 8, 1.0));
        AddSeamline(*doc, a, {{0, 0}, {width / 2.0, 0}, {width / 2.0, 8}, {0, 8}});
        AddSeamline(*doc, b, {{width / 2.0, 0}, {double(width), 0}, {double(width), 8}, {width / 2.0, 8}});
        const QString output = File("m" + tag + ".tif");
        ASSERT_EQ(Merge({a, b}, output), 1);
        GDALDatasetH ds = GDALOpen(Native(output).c_str(), GA_ReadOnly);
        GDALRasterBandH band = GDALGetRasterBand(ds, 1);
        EXPECT_EQ(GDALGetRasterXSize(ds), width);
        std::vector<int> sizes;
        for (int i = 0; i < GDALGetOverviewCount(band); ++i) {
            sizes.push_back(GDALGetRasterBandXSize(GDALGetOverview(band, i)));
        }
        EXPECT_EQ(sizes, overviews) << width;
        GDALClose(ds);
    }
}

TEST_F(DemMergeSplit, SplitCopiesCellsOnTheGridResamplesOffItAndDeclaresMinus9999) {
    const QString olinda = Olinda10(File("olinda10.tif"));
    CDEM* dem = Add(olinda);
    const cv::Mat source = ReadCells(olinda);
    ASSERT_EQ(source.size(), cv::Size(999, 999));
    const double* gt = dem->m_geoTransform;
    const double bottom = gt[3] - 999 * kCell;
    ASSERT_EQ(doc->DoSave(File("site.kvp")), 1);

    ui.Clear();
    EXPECT_EQ(SplitDem(doc.get(), nullptr), 0);
    EXPECT_EQ(SplitDem(doc.get(), dem), 0);
    EXPECT_EQ(ui.MessageTexts(), QStringList({"Please selected a valid DEM!", "No tiles defined!"}));
    // A tile that only touches the DEM along its right edge is no tile of it.
    const double right = gt[0] + 999 * kCell;
    AddTile(*doc, "edge", right, gt[3] - 1000, right + 500, gt[3]);
    ui.Clear();
    ui.AnswerFile(File("none"));
    EXPECT_EQ(SplitDem(doc.get(), dem), 0);
    EXPECT_EQ(ui.MessageTexts(), QStringList({"No valid tiles defined!"}));

    // A 2 × 2 grid of 5 km tiles from Setup Tiles, from the DEM's lower-left corner: the top row
    // and the right column run one cell past the DEM. A tile of another layout has the name of the
    // first.
    ui.AnswerModal([&](QDialog& window) {
        auto& dialog = static_cast<CTilesGenerationDlg&>(window);
        dialog.m_editOriginX.setText(QString::number(gt[0], 'f', 6));
        dialog.m_editOriginY.setText(QString::number(bottom, 'f', 6));
        dialog.m_editWidth.setText("5000");
        dialog.m_editHeight.setText("5000");
        dialog.m_editOverlapX.setText("0");
        dialog.m_editOverlapY.setText("0");
        dialog.m_btnPreview.click();
        EXPECT_EQ(dialog.m_previewHandles.size(), 8u);
        dialog.m_btnOK.click();
        return dialog.isVisible() ? IDCANCEL : -1;
    });
    ASSERT_TRUE(RunDocCommand(*doc, ID_MOSAICMERGE_SETUPTILES));
    AddTile(*doc, "T-00-00", gt[0], gt[3] - 1000, gt[0] + 1000, gt[3]);
    // A folder where no tile can be written is refused, not reported as done.
    ui.Clear();
    ui.AnswerFile(File("missing/deeper"));
    EXPECT_EQ(SplitDem(doc.get(), dem), 0);
    EXPECT_EQ(ui.MessageTexts(), QStringList({"No tile written!"}));
    EXPECT_TRUE(dtest::CommandLineHistory(doc->m_pCad, 1).contains("not written"));
    QDir().mkpath(File("tiles"));
    ui.Clear();
    ui.AnswerFile(File("tiles"));
    ASSERT_TRUE(RunDocCommand(*doc, ID_DEMSPLITMERGE_SPLIT));
    EXPECT_EQ(ui.MessageTexts(), QStringList({"Process completed"}));
    EXPECT_TRUE(dtest::CommandLineHistory(doc->m_pCad, 3).contains("Tile T-00-00 not written"));
    EXPECT_EQ(QDir(File("tiles")).entryList(QDir::Files | QDir::Hidden),
              QStringList({"T-00-00.gtif", "T-00-01.gtif", "T-01-00.gtif", "T-01-01.gtif"}));
    for (int r = 0; r < 2; ++r) {
        for (int c = 0; c < 2; ++c) {
            const QString name =
                QString("tiles/T-%1-%2.gtif").arg(r, 2, 10, QChar('0')).arg(c, 2, 10, QChar('0'));
            const dtest::Raster tile = dtest::ReadRaster(File(name));
            ASSERT_EQ(tile.width, 500);
            ASSERT_EQ(tile.height, 500);
            EXPECT_EQ(tile.noData, -9999.0);
            EXPECT_EQ(tile.blockX, 128);
            // Rows count from the bottom: the tile's top row is the DEM's row 499 - 500 r.
            cv::Mat expected(500, 500, CV_32FC1, cv::Scalar(kNoData));
            const cv::Rect onDem = cv::Rect(500 * c, 499 - 500 * r, 500, 500) & cv::Rect(0, 0, 999, 999);
            source(onDem).copyTo(expected(onDem - cv::Point(500 * c, 499 - 500 * r)));
            const cv::Mat cells(500, 500, CV_32FC1, const_cast<float*>(tile.cells.data()));
            EXPECT_EQ(cv::norm(cells, expected, cv::NORM_INF), 0.0) << name.toStdString();
        }
    }

    // Shifted by half a cell, a tile holds the mean of four cells.
    RunRemoveAllTiles(*doc);
    AddTile(*doc, "half", gt[0] + 105, gt[3] - 105 - 500, gt[0] + 105 + 500, gt[3] - 105);
    QDir().mkpath(File("half"));
    ui.Clear();
    ui.AnswerFile(File("half"));
    ASSERT_EQ(SplitDem(doc.get(), dem), 1);
    const cv::Mat half = ReadCells(File("half/half.gtif"));
    ASSERT_EQ(half.size(), cv::Size(50, 50));
    for (const auto& [c, r] : {std::pair{0, 0}, std::pair{20, 31}, std::pair{49, 49}}) {
        const float mean = (source.at<float>(10 + r, 10 + c) + source.at<float>(10 + r, 11 + c) +
                            source.at<float>(11 + r, 10 + c) + source.at<float>(11 + r, 11 + c)) /
                           4.0f;
        EXPECT_NEAR(half.at<float>(r, c), mean, 1e-3) << c << ", " << r;
    }
}

TEST_F(DemMergeSplit, SplitOfADemWithAnotherNoDataWritesMinus9999AndTheCommandNeedsADem) {
    EXPECT_TRUE(RunDocCommand(*doc, ID_DEMSPLITMERGE_SPLIT));
    EXPECT_TRUE(dtest::CommandLineHistory(doc->m_pCad, 2).contains("No DEM loaded"));

    QFile::copy(kvtest::DataPath("elev.tif"), File("elev.tif"));
    CDEM* dem = Add(File("elev.tif"));
    const double* gt = dem->m_geoTransform;
    AddTile(*doc, "west", gt[0] - 10 * gt[1], gt[3] + 90 * gt[5], gt[0] + 40 * gt[1], gt[3]);
    ui.AnswerFile(folder);
    ASSERT_EQ(SplitDem(doc.get(), dem), 1);
    const dtest::Raster tile = dtest::ReadRaster(File("west.gtif"));
    EXPECT_EQ(tile.noData, -9999.0);
    ASSERT_EQ(tile.width, 50);
    const dtest::Raster elev = dtest::ReadRaster(File("elev.tif"));
    // Columns 10 to 49 of the tile are the DEM's first 40; its no data there is -9999 too.
    int cellsWithData = 0;
    for (int r = 0; r < 90; ++r) {
        EXPECT_EQ(tile.cells[size_t(r * 50)], -9999.0f);
        for (int c = 0; c < 40; ++c) {
            const float height = elev.cells[size_t(r * 95 + c)];
            cellsWithData += height != -32768.0f;
            ASSERT_EQ(tile.cells[size_t(r * 50 + 10 + c)], height == -32768.0f ? -9999.0f : height)
                << c << ", " << r;
        }
    }
    EXPECT_GT(cellsWithData, 1000);
}

TEST_F(DemMergeSplit, SplitAsksBeforeReplacingFilesAndNamesTheCauseOfEveryTileNotWritten) {
    ASSERT_TRUE(QFile::copy(kvtest::DataPath("olinda_dem_nodata.tif"), File("olinda.tif")));
    CDEM* dem = Add(File("olinda.tif"));
    const double* gt = dem->m_geoTransform;
    const QString out = File("tiles");
    ASSERT_TRUE(QDir().mkpath(out + "/dir.gtif"));
    QFile mine(out + "/a.gtif");
    ASSERT_TRUE(mine.open(QIODevice::WriteOnly));
    mine.write("mine");
    mine.close();
    ASSERT_TRUE(QFile::copy(kvtest::DataPath("olinda_dem_nodata.tif"), out + "/loaded.gtif"));
    Add(out + "/loaded.gtif");
    // The operator's overviews and statistics beside "a" and at the path of "side", where no
    // raster stands: putting a tile there removes them.
    const std::map<QString, QByteArray> sideFiles = {{"a.gtif.aux.xml", "<PAMDataset>a</PAMDataset>"},
                                                     {"side.gtif.ovr", "overviews"},
                                                     {"side.gtif.aux.xml", "<PAMDataset/>"}};
    for (const auto& [name, bytes] : sideFiles) {
        QFile file(out + "/" + name);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(bytes);
    }
    // Tiles of 1 km along the DEM's top edge; "b" twice in two spellings, and one whose name is
    // only dots.
    const char* names[] = {"a", "b", "B", "loaded", "dir", "full", "..", "side"};
    for (int i = 0; i < 8; ++i) {
        AddTile(*doc, names[i], gt[0] + 1000 * i, gt[3] - 1000, gt[0] + 1000 * (i + 1), gt[3]);
    }
    const QStringList before = QDir(out).entryList(QDir::Files | QDir::Hidden);

    // No: not a file is written, replaced, removed or left behind.
    ui.AnswerFile(out);
    ui.AnswerMessage(IDNO);
    EXPECT_EQ(SplitDem(doc.get(), dem), 0);
    ASSERT_EQ(ui.MessageTexts(),
              QStringList{QString("1 file in %1 would be replaced and 3 removed. Continue?").arg(out)});
    ASSERT_TRUE(mine.open(QIODevice::ReadOnly));
    EXPECT_EQ(mine.readAll(), "mine");
    mine.close();
    for (const auto& [name, bytes] : sideFiles) {
        QFile file(out + "/" + name);
        ASSERT_TRUE(file.open(QIODevice::ReadOnly)) << name.toStdString();
        EXPECT_EQ(file.readAll(), bytes) << name.toStdString();
    }
    EXPECT_EQ(QDir(out).entryList(QDir::Files | QDir::Hidden), before);

    // Yes: each tile is written or named in the command line with its cause; a full disk is
    // told as the system tells it.
    kv::SetFileFaultHook([](kv::FileStep step, const QString& target) {
        return step == kv::FileStep::Sync && target.endsWith("/full.gtif") ? ENOSPC : 0;
    });
    ui.Clear();
    CadScriptPushEntity(doc->m_pCad, dem->m_imageEntity);
    ui.AnswerFile(out);
    ui.AnswerMessage(IDYES);
    ASSERT_TRUE(RunDocCommand(*doc, ID_DEMSPLITMERGE_SPLIT));
    kv::SetFileFaultHook({});
    EXPECT_EQ(ui.MessageTexts().size(), 2);
    EXPECT_EQ(ui.MessageTexts().back(), "Process completed");
    const QString said = dtest::CommandLineHistory(doc->m_pCad, 8);
    for (const char* line :
         {"Tile .. not written: a name of only dots names no file",
          "Tile B not written: another tile is written to the same file",
          "Tile loaded not written: The file is used by a loaded layer",
          "Tile dir not written: Is a directory", "Tile full not written: No space left on device"}) {
        EXPECT_TRUE(said.contains(line)) << line << " in\n" << said.toStdString();
    }
    EXPECT_EQ(dtest::ReadRaster(out + "/a.gtif").width, 12);
    EXPECT_EQ(dtest::ReadRaster(out + "/side.gtif").width, 12);
    // The side files described what stood there before: none of the operator's is left.
    QStringList written = QDir(out).entryList(QDir::Files | QDir::Hidden);
    for (const auto& [name, bytes] : sideFiles) {
        QFile file(out + "/" + name);
        if (file.open(QIODevice::ReadOnly)) {
            EXPECT_NE(file.readAll(), bytes) << name.toStdString();
            written.removeOne(name);
        }
    }
    EXPECT_EQ(written, QStringList({"a.gtif", "b.gtif", "loaded.gtif", "side.gtif"}));
    QFile loaded(out + "/loaded.gtif"), source(kvtest::DataPath("olinda_dem_nodata.tif"));
    ASSERT_TRUE(loaded.open(QIODevice::ReadOnly) && source.open(QIODevice::ReadOnly));
    EXPECT_EQ(loaded.readAll(), source.readAll());

    // A folder that cannot hold the tiles: what GDAL said of it.
    ui.Clear();
    ui.AnswerFile(File("missing/deeper"));
    EXPECT_EQ(SplitDem(doc.get(), dem), 0);
    EXPECT_EQ(ui.MessageTexts(), QStringList({"No tile written!"}));
    const QString missing = dtest::CommandLineHistory(doc->m_pCad, 6);
    EXPECT_TRUE(missing.contains(QRegularExpression("Tile a not written: .*No such file or directory")))
        << missing.toStdString();
}
