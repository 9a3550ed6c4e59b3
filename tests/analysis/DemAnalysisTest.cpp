// DEM analysis on the real Olinda DEM: the three rasters beside it, cell by cell as SAGA's own
// command-line run makes them, the map layers, the choices kept per user, every way a product is
// not written, and a DEM whose cells cannot all be read.
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QMdiArea>
#include <QProcess>
#include <QRegularExpression>
#include <QSettings>
#include <QStandardPaths>
#include <QTest>

#include <gtest/gtest.h>

#include <cpl_string.h>
#include <gdal.h>

#include <algorithm>
#include <cmath>

#include <saga_api/api_core.h>

#include "analysis/AnalysisCommands.h"
#include "analysis/DemAnalysis.h"
#include "analysis/SagaRunner.h"
#include "document/KelvaroDoc.h"
#include "document/UserCommands.h"
#include "platform/cad/Cad.h"
#include "platform/tools/ProgressSink.h"
#include "platform/tools/ZQT.h"
#include "platform/ui/ActiveCommand.h"
#include "platform/ui/CadCommandIds.h"
#include "platform/ui/MainWindowService.h"
#include "raster/DEM.h"
#include "raster/MapData.h"
#include "raster/RasterIO.h"
#include "support/MouseInput.h"
#include "support/Pictures.h"
#include "support/RasterFixtures.h"
#include "support/ScriptedInteraction.h"
#include "support/TestEnv.h"
#include "view/CadEventProcs.h"
#include "view/KelvaroFrame.h"
#include "view/KelvaroView.h"

namespace {

// The dialog answered after the script ticked its boxes.
std::function<int(QDialog&)> Tick(std::function<void(CDEMAnalysisDlg&)> tick = {}) {
    return [tick](QDialog& d) {
        auto& dialog = static_cast<CDEMAnalysisDlg&>(d);
        if (tick) {
            tick(dialog);
        }
        dialog.accept();
        return -1;
    };
}

void ForgetChoices() {
    QSettings profile(ZQT_GetUserProfilePath(), QSettings::IniFormat);
    profile.remove(QStringLiteral("CompoundAnalysis"));
}

class RecordingSink : public ProgressSink {
public:
    void SetRange(int lower, int upper) override {
        this->lower = lower;
        this->upper = upper;
    }
    void SetPos(int pos) override { positions.push_back(pos); }
    int lower = -1, upper = -1;
    std::vector<int> positions;
};

class DemAnalysisTest : public ::testing::Test {
protected:
    void SetUp() override {
        ActiveCadCommandId = 0;
        ForgetChoices();
        m_folder = kvtest::NewTempFolder("dem_analysis");
        m_dem = m_folder + "/olinda.tif";
        ASSERT_TRUE(QFile::copy(kvtest::DataPath("olinda_dem_nodata.tif"), m_dem));
        QFile(m_dem).setPermissions(QFile::ReadOwner | QFile::WriteOwner);
    }
    void TearDown() override {
        if (QWidget* layers = CadLayersOrderWindow()) {
            layers->close();
        }
    }
    QString Product(const char* suffix) const { return m_folder + "/olinda_" + suffix + ".tif"; }

    QString m_folder;
    QString m_dem;
};

// The command line's last lines, oldest first.
QStringList LastLines(CadDrawing* drawing, int count) {
    QStringList lines;
    char line[1024];
    for (int i = 0; i < count && CadCmdGetHistory(drawing, i, line, sizeof line); ++i) {
        lines.prepend(QString::fromUtf8(line));
    }
    return lines;
}

// The cells of band 1 as floats.
std::vector<double> Cells(const QString& path) {
    return kvtest::ReadBand(path);
}

TEST_F(DemAnalysisTest, TheThreeRastersMatchSagasOwnRunAndBecomeMapLayers) {
    kvtest::ScriptedInteraction ui;
    CKelvaroDoc doc;
    ASSERT_EQ(doc.AddDEM(m_dem, 0), 1);
    bool allTicked = false;
    ui.AnswerModal(Tick([&](CDEMAnalysisDlg& dialog) {
        // Nothing stored yet: every box is ticked.
        allTicked = dialog.m_checkSlope.isChecked() && dialog.m_checkCatchmentArea.isChecked() &&
                    dialog.m_checkWetness.isChecked() && dialog.m_checkLSFactor.isChecked() &&
                    dialog.m_checkShade.isChecked();
    }));
    CmdDemAnalysis(doc.m_pCad);
    EXPECT_TRUE(allTicked);
    EXPECT_EQ(ActiveCadCommandId, 0);
    EXPECT_EQ(ui.MessageTexts(), QStringList());
    // Shade and slope length make nothing.
    EXPECT_EQ(QDir(m_folder).entryList(QDir::Files | QDir::Hidden),
              QStringList({"olinda.tif", "olinda_CAREA.tif", "olinda_SLOPE.tif", "olinda_WETNESS.tif"}));
    ASSERT_EQ(doc.m_Maps.size(), 3u);
    EXPECT_EQ(doc.m_Maps.at("olinda_SLOPE.tif")->m_mapType, MapTypeSlope);
    EXPECT_EQ(doc.m_Maps.at("olinda_SLOPE.tif")->GetUnitName(), "%");
    EXPECT_EQ(doc.m_Maps.at("olinda_CAREA.tif")->m_mapType, MapTypeCatchment);
    EXPECT_EQ(doc.m_Maps.at("olinda_WETNESS.tif")->m_mapType, MapTypeWetness);
    EXPECT_NE(CadLayersOrderWindow(), nullptr);

    const kvtest::RasterFacts dem = kvtest::Inspect(m_dem);
    const QString saga = QStandardPaths::findExecutable(QStringLiteral("saga_cmd"));
    ASSERT_FALSE(saga.isEmpty()) << "SAGA's command-line program is part of the stack";
    QProcess run;
    run.start(saga,
              {"--cores=2", "ta_compound", "0", "-ELEVATION", m_dem, "-SLOPE", m_folder + "/saga_slope.sdat",
               "-FLOW", m_folder + "/saga_flow.sdat", "-WETNESS", m_folder + "/saga_wetness.sdat"});
    ASSERT_TRUE(run.waitForFinished(300000));
    ASSERT_EQ(run.exitCode(), 0) << run.readAllStandardError().toStdString();
    const std::pair<const char*, const char*> pairs[] = {
        {"SLOPE", "saga_slope"}, {"CAREA", "saga_flow"}, {"WETNESS", "saga_wetness"}};
    for (const auto& [ours, theirs] : pairs) {
        SCOPED_TRACE(ours);
        const kvtest::RasterFacts facts = kvtest::Inspect(Product(ours));
        EXPECT_EQ(facts.width, dem.width);
        EXPECT_EQ(facts.height, dem.height);
        for (int i = 0; i < 6; ++i) {
            EXPECT_NEAR(facts.geoTransform[i], dem.geoTransform[i], 1e-6);
        }
        const std::vector<double> a = Cells(Product(ours));
        const std::vector<double> b = Cells(m_folder + "/" + theirs + ".sdat");
        ASSERT_EQ(a.size(), b.size());
        if (std::string(ours) == "SLOPE") {
            // The slope map holds SAGA's angle in radians: the steepest cell is 34.6 %.
            EXPECT_NEAR(*std::max_element(a.begin(), a.end()), std::atan(0.346), 1e-3);
        }
        int differ = 0;
        for (size_t i = 0; i < a.size(); ++i) {
            differ += std::fabs(a[i] - b[i]) > 1e-5 * std::max(1.0, std::fabs(b[i]));
        }
        EXPECT_EQ(differ, 0);
    }
}

TEST_F(DemAnalysisTest, NoBoxTickedRunsTheToolsAndAddsNothing) {
    RecordingSink progress;
    const DemAnalysisResult result = RunDemAnalysis(m_dem, {0, 0, 0, 0, 0}, &progress);
    EXPECT_EQ(result.ran, 1);
    EXPECT_TRUE(result.written.empty());
    EXPECT_EQ(progress.lower, 0);
    EXPECT_EQ(progress.upper, 2);
    EXPECT_EQ(progress.positions, std::vector<int>({0, 1, 2}));

    kvtest::ScriptedInteraction ui;
    CKelvaroDoc doc;
    ASSERT_EQ(doc.AddDEM(m_dem, 0), 1);
    ui.AnswerModal(Tick([](CDEMAnalysisDlg& dialog) {
        for (QCheckBox* box : {&dialog.m_checkSlope, &dialog.m_checkCatchmentArea, &dialog.m_checkWetness,
                               &dialog.m_checkLSFactor, &dialog.m_checkShade}) {
            box->setChecked(false);
        }
    }));
    CmdDemAnalysis(doc.m_pCad);
    EXPECT_TRUE(doc.m_Maps.empty());
    EXPECT_EQ(ui.MessageTexts(), QStringList());
    EXPECT_EQ(QDir(m_folder).entryList(QDir::Files | QDir::Hidden), QStringList({"olinda.tif"}));
    // The choices are kept: the next dialog opens with every box clear.
    bool anyTicked = true;
    ui.AnswerModal([&](QDialog& d) {
        auto& dialog = static_cast<CDEMAnalysisDlg&>(d);
        anyTicked = dialog.m_checkSlope.isChecked() || dialog.m_checkShade.isChecked();
        return int(IDCANCEL);
    });
    CmdDemAnalysis(doc.m_pCad);
    EXPECT_FALSE(anyTicked);
    EXPECT_EQ(ZQT_GetUserProfileString("CompoundAnalysis", "lsfactor", "1"), QStringLiteral("0"));
    EXPECT_EQ(ActiveCadCommandId, 0);
}

TEST_F(DemAnalysisTest, AProductThatCannotBeWrittenIsListedAndTheOthersStillComeIn) {
    kvtest::ScriptedInteraction ui;
    CKelvaroDoc doc;
    ASSERT_EQ(doc.AddDEM(m_dem, 0), 1);
    // The catchment area's name is taken by a folder: its file cannot take its place.
    ASSERT_TRUE(QDir().mkpath(Product("CAREA")));
    // Older files of products not asked for stay as they are.
    ASSERT_TRUE(kvtest::WriteFileBytes(Product("SHADE"), "older shade"));
    ASSERT_TRUE(kvtest::WriteFileBytes(Product("LSFACTOR"), "older factor"));
    ui.AnswerModal(Tick());
    CmdDemAnalysis(doc.m_pCad);
    EXPECT_EQ(ui.MessageTexts(), QStringList({"Following data were not created:\nCMap\n"}));
    EXPECT_EQ(ui.Messages()[0].icon(), kv::MessageIcon::Warning);
    // The command line says why.
    EXPECT_EQ(LastLines(doc.m_pCad, 1), QStringList{"CMap: Is a directory"});
    EXPECT_EQ(doc.m_Maps.size(), 2u);
    EXPECT_TRUE(doc.m_Maps.count("olinda_SLOPE.tif"));
    EXPECT_EQ(kvtest::FileBytes(Product("SHADE")), QByteArray("older shade"));
    EXPECT_EQ(kvtest::FileBytes(Product("LSFACTOR")), QByteArray("older factor"));
    // No temporary file is left beside the DEM.
    EXPECT_EQ(QDir(m_folder).entryList(QDir::Files | QDir::Hidden),
              QStringList({"olinda.tif", "olinda_LSFACTOR.tif", "olinda_SHADE.tif", "olinda_SLOPE.tif",
                           "olinda_WETNESS.tif"}));

    // A second run: the slope and wetness files are loaded maps now and are not replaced under
    // them; an old slope file of an unticked product would stay too.
    const QByteArray slope = kvtest::FileBytes(Product("SLOPE"));
    ui.Clear();
    ui.AnswerModal(Tick([](CDEMAnalysisDlg& dialog) { dialog.m_checkCatchmentArea.setChecked(false); }));
    CmdDemAnalysis(doc.m_pCad);
    EXPECT_EQ(ui.MessageTexts(), QStringList({"Following data were not created:\nSlope\nWetness\n"}));
    EXPECT_EQ(LastLines(doc.m_pCad, 2), QStringList({"Slope: The file is used by a loaded layer",
                                                     "Wetness: The file is used by a loaded layer"}));
    EXPECT_EQ(kvtest::FileBytes(Product("SLOPE")), slope);
    EXPECT_EQ(doc.m_Maps.size(), 2u);
    EXPECT_EQ(ActiveCadCommandId, 0);
}

TEST_F(DemAnalysisTest, FineDemsAreQuestionedBelowHalfAUnitAndAnUnreadableDemGivesError) {
    kvtest::ScriptedInteraction ui;
    for (double pixel : {0.5, 0.4}) {
        SCOPED_TRACE(pixel);
        kvtest::RasterSpec spec;
        spec.width = spec.height = 20;
        spec.geoTransform = {1000.0, pixel, 0.0, 2000.0, 0.0, -pixel};
        const QString path = kvtest::WriteRaster(m_folder + QString("/fine%1.tif").arg(pixel * 10), spec,
                                                 [](int c, int r, int) { return 10.0 + c + r; });
        CKelvaroDoc doc;
        ASSERT_EQ(doc.AddDEM(path, 0), 1);
        ui.Clear();
        if (pixel == 0.5) {
            ui.AnswerModal(IDCANCEL);
        } else {
            ui.AnswerMessage(IDNO);
        }
        CmdDemAnalysis(doc.m_pCad);
        if (pixel == 0.5) {
            EXPECT_EQ(ui.MessageTexts(), QStringList());
            EXPECT_EQ(ui.Dialogs(), QStringList({"CDEMAnalysisDlg"}));
        } else {
            EXPECT_EQ(ui.MessageTexts(),
                      QStringList({"This process is best when used with DTM.\n With selected DEM "
                                   "process may be slow, proceed anyway?"}));
            EXPECT_EQ(ui.Dialogs(), QStringList());
        }
        EXPECT_EQ(ActiveCadCommandId, 0);
    }

    // The DEM's file is gone when the import reads it.
    CKelvaroDoc doc;
    ASSERT_EQ(doc.AddDEM(m_dem, 0), 1);
    ASSERT_TRUE(QFile::remove(m_dem));
    ui.Clear();
    ui.AnswerModal(Tick());
    CmdDemAnalysis(doc.m_pCad);
    EXPECT_EQ(ui.MessageTexts(), QStringList({"Error"}));
    EXPECT_TRUE(doc.m_Maps.empty());
    EXPECT_EQ(ActiveCadCommandId, 0);

    // Without a DEM.
    CKelvaroDoc empty;
    ui.Clear();
    CmdDemAnalysis(empty.m_pCad);
    EXPECT_EQ(ui.MessageTexts(), QStringList({"No DEM loaded"}));
    EXPECT_EQ(ui.Messages()[0].icon(), kv::MessageIcon::None);
}

// Records the status-bar text.
class StatusRecorder : public kv::MainWindowService {
public:
    StatusRecorder() { kv::SetMainWindowService(this); }
    ~StatusRecorder() override { kv::SetMainWindowService(nullptr); }
    void SetStatusText(const QString& text) override { last = text; }
    int OpacitySliderPos() const override { return -1; }
    void SetOpacitySliderPos(int) override {}
    QWidget* MainWindow() const override { return nullptr; }
    void UpdateCommandUI() override {}
    QString last;
};

// Overwrites the bytes of block (x, y) of band 1 of a compressed GeoTIFF with zeros, which do not
// decompress.
void ZeroBlock(const QString& path, int x, int y) {
    GDALDatasetH ds = GDALOpen(QFile::encodeName(path).constData(), GA_ReadOnly);
    ASSERT_NE(ds, nullptr);
    GDALRasterBandH band = GDALGetRasterBand(ds, 1);
    const QByteArray offset = GDALGetMetadataItem(band, CPLSPrintf("BLOCK_OFFSET_%d_%d", x, y), "TIFF");
    const QByteArray size = GDALGetMetadataItem(band, CPLSPrintf("BLOCK_SIZE_%d_%d", x, y), "TIFF");
    GDALClose(ds);
    ASSERT_FALSE(offset.isEmpty() || size.isEmpty());
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::ReadWrite));
    ASSERT_TRUE(file.seek(offset.toLongLong()));
    ASSERT_EQ(file.write(QByteArray(size.toInt(), '\0')), size.toInt());
}

// A DEFLATE DEM of 2048 x 2048 cells in tiles of 256 whose overviews are whole but whose middle
// tile was zeroed: the add, which reads the blocks stored last, takes it, and the plan view draws
// it from its overviews. The mouse moved over the damaged tile shows no height and no message;
// the next command that reads the DEM, DEM analysis, says once that it cannot be read, ends with
// "Error", names the cause in the command line and writes nothing.
TEST_F(DemAnalysisTest, ADemWithATileThatCannotBeReadIsNotAnalysedAndTheMouseOverItShowsNoMessage) {
    kvtest::ScriptedInteraction ui;
    StatusRecorder status;
    kvtest::RasterSpec spec;
    spec.width = spec.height = 2048;
    spec.geoTransform = {1000.0, 1.0, 0.0, 5000.0, 0.0, -1.0};
    spec.options = {"TILED=YES", "COMPRESS=DEFLATE"};
    const QString path = kvtest::WriteRaster(m_folder + "/tiles.tif", spec,
                                             [](int c, int r, int) { return 100.0 + 0.01 * c + 0.02 * r; });
    GDALDatasetH ds = GDALOpen(QFile::encodeName(path).constData(), GA_Update);
    ASSERT_NE(ds, nullptr);
    ASSERT_EQ(kv::BuildOverviews(ds, nullptr, 3), 1);
    GDALClose(ds);
    // Columns and rows 1024 to 1279: x 2024 to 2280, y 3976 down to 3720.
    ZeroBlock(path, 4, 4);

    SetCadEventInstaller(RegisterDocumentEventProcs);
    RegisterAnalysisCommands(GetCommandRegistry());
    QMdiArea area;
    area.resize(800, 600);
    area.show();
    auto* doc = new CKelvaroDoc();
    ASSERT_EQ(doc->AddDEM(path, 1), 1);
    CKelvaroFrame* frame = CreateProjectWindow(doc, &area);
    frame->showMaximized();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&area));
    QWidget* view = frame->GetView()->GetCadWindow();
    CadExecute(doc->m_pCad, view, CAD_CMD_ZOOM_EXTENTS);
    view->grab();
    ASSERT_FALSE(doc->m_DEMs.at("tiles.tif")->m_display.values.empty());

    // Over the damaged tile, back and forth, and beside it.
    int moves = 0, shown = 0;
    for (int pass = 0; pass < 3; ++pass) {
        for (double x = 2030.0; x < 2400.0; x += 40.0) {
            int px = 0, py = 0;
            CadCoordModelToWin(view, x, 3850.0, &px, &py);
            kvtest::MoveThroughWindow(view, QPoint(px, py));
            ++moves;
            shown += status.last.count(QLatin1Char(',')) == 2;
            if (x < 2270.0) {
                EXPECT_EQ(status.last.count(QLatin1Char(',')), 1) << status.last.toStdString();
            }
        }
    }
    EXPECT_GT(shown, 0) << "the cells beside the damaged tile show their heights";
    EXPECT_TRUE(ui.MessageTexts().isEmpty())
        << ui.MessageTexts().size() << " messages over " << moves << " moves";

    ui.AnswerModal(Tick());
    CadExecute(doc->m_pCad, view, CMD_DEMANALYSIS);
    const QStringList texts = ui.MessageTexts();
    ASSERT_EQ(texts.size(), 2) << texts.join(" | ").toStdString();
    const QRegularExpression unreadable("^Unable to read " + QRegularExpression::escape(path) + ": \\S");
    EXPECT_TRUE(unreadable.match(texts[0]).hasMatch()) << texts[0].toStdString();
    EXPECT_EQ(texts[1], QStringLiteral("Error"));
    const QString line = LastLines(doc->m_pCad, 1).value(0);
    EXPECT_TRUE(line.startsWith(QStringLiteral("Error: ") + texts[0])) << line.toStdString();
    EXPECT_EQ(QDir(m_folder).entryList(QDir::Files | QDir::Hidden), QStringList({"olinda.tif", "tiles.tif"}));
    EXPECT_TRUE(doc->m_Maps.empty());
    EXPECT_EQ(ActiveCadCommandId, 0);
    doc->OnCloseDocument();
    SetCadEventInstaller(nullptr);
}

TEST(SagaRunner, LibrariesLoadOnceAndUnknownOnesAndToolsAreRefused) {
    EXPECT_TRUE(kv::saga::LoadToolLibrary("io_gdal"));
    EXPECT_TRUE(kv::saga::LoadToolLibrary("io_gdal"));
    EXPECT_FALSE(kv::saga::LoadToolLibrary("no_such_library"));
    kv::saga::Tool missing("io_gdal", 999);
    EXPECT_FALSE(missing.Valid());
    EXPECT_FALSE(missing.Execute());
    kv::saga::Tool unloaded("no_such_library", 0);
    EXPECT_FALSE(unloaded.Valid());
}

TEST(SagaRunner, AHeldThreadCountIsTheOneEveryToolRunsWith) {
    ASSERT_TRUE(kv::saga::LoadToolLibrary("io_gdal"));
    // The count is set as a tool starts, whether or not it then runs through.
    for (const int held : {1, 2}) {
        kv::saga::HoldThreads(held);
        kv::saga::Tool tool("io_gdal", 0);
        ASSERT_TRUE(tool.Valid());
        tool.Execute();
        EXPECT_EQ(SG_OMP_Get_Max_Num_Threads(), std::min(held, SG_OMP_Get_Max_Num_Procs()));
    }
    // Let go, the count is reckoned again: half the processors at most.
    kv::saga::HoldThreads(0);
    kv::saga::Tool tool("io_gdal", 0);
    tool.Execute();
    EXPECT_GE(SG_OMP_Get_Max_Num_Threads(), 1);
    EXPECT_LE(SG_OMP_Get_Max_Num_Threads(), std::max(1, SG_OMP_Get_Max_Num_Procs() / 2));
}

TEST(DemAnalysisDialog, Picture) {
    kvtest::ScriptedInteraction ui;
    CKelvaroDoc doc;
    CDEMAnalysisDlg dialog(&doc);
    dialog.show();
    EXPECT_EQ(dialog.windowTitle(), QStringLiteral("DEM Analysis"));
    EXPECT_EQ(dialog.m_checkLSFactor.text(), QStringLiteral("Slope Lenght"));
    const QImage shot = kvtest::Screenshot(&dialog, QStringLiteral("CDEMAnalysisDlg"));
    EXPECT_GT(kvtest::ColourCount(shot), 20);
    EXPECT_FALSE(dialog.m_btnOK.NormalIcon().isNull());

    // Without a project it ends at once.
    CDEMAnalysisDlg orphan(nullptr);
    ui.AnswerModal([](QDialog& d) { return d.result(); });
    QApplication::processEvents();
    EXPECT_EQ(orphan.DoModal(), CDEMAnalysisDlg::IDC_CANCEL);
}

}  // namespace
