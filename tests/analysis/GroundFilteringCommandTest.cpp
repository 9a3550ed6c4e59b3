// The ground filtering command and its two dialogs as the operator meets them: the DEM and area
// choices, the parameters and their refusals, the run under the progress window, the new layer.
#include <QApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QMdiArea>

#include <gtest/gtest.h>

#include <cerrno>

#include "analysis/GroundFiltering.h"
#include "analysis/GroundFilteringCommand.h"
#include "analysis/GroundFilteringDlg.h"
#include "controls/GenericSelectionDlg.h"
#include "demtools/DemFromPoints.h"
#include "document/KelvaroDoc.h"
#include "platform/cad/Cad.h"
#include "platform/ui/ActiveCommand.h"
#include "raster/DEM.h"
#include "support/Limits.h"
#include "support/Pictures.h"
#include "support/RasterFixtures.h"
#include "support/ScriptedInteraction.h"
#include "support/TestEnv.h"
#include "view/CadEventProcs.h"
#include "view/KelvaroFrame.h"

namespace {

// A 60 x 60 surface model with 1 m cells at (1000, 2000): a tilted plane with one building.
QString WriteDsm(const QString& path) {
    kvtest::RasterSpec spec;
    spec.width = spec.height = 60;
    spec.geoTransform = {1000.0, 1.0, 0.0, 2000.0, 0.0, -1.0};
    return kvtest::WriteRaster(path, spec, [](int c, int r, int) {
        const double ground = 20.0 + 0.1 * c + 0.05 * r;
        return c >= 20 && c < 32 && r >= 25 && r < 35 ? ground + 8.0 : ground;
    });
}

// Runs the event loop until the dialog closes (its timer runs the whole job).
int WaitUntilFinished(QDialog& dialog) {
    bool finished = false;
    QObject::connect(&dialog, &QDialog::finished, [&finished] { finished = true; });
    QElapsedTimer clock;
    clock.start();
    while (!finished && clock.elapsed() < 60000) {
        QApplication::processEvents(QEventLoop::AllEvents, 50);
    }
    return dialog.result();
}

// The parameters dialog answered with OK after the script changed it.
std::function<int(QDialog&)> Parameters(std::function<void(CMCCGroundFilterParametersDlg&)> change = {}) {
    return [change](QDialog& d) {
        auto& dialog = static_cast<CMCCGroundFilterParametersDlg&>(d);
        if (change) {
            change(dialog);
        }
        dialog.accept();
        return -1;
    };
}

class GroundFilteringCommandTest : public ::testing::Test {
protected:
    void SetUp() override {
        ActiveCadCommandId = 0;
        CadScriptSetStrict(1);
        m_folder = kvtest::NewTempFolder("gf_command");
        m_dsm = WriteDsm(m_folder + "/dsm.tif");
    }
    void TearDown() override { CadScriptSetStrict(0); }

    QString m_folder;
    QString m_dsm;
};

TEST_F(GroundFilteringCommandTest, TheParametersFollowTheGroundTypeAndTheGsd) {
    kvtest::ScriptedInteraction ui;
    CDEM dem(nullptr);
    dem.m_geoTransform[1] = 5.0;
    CMCCGroundFilterParametersDlg dialog(&dem);
    dialog.show();
    EXPECT_EQ(dialog.windowTitle(), QStringLiteral("Ground Filtering"));
    EXPECT_EQ(dialog.m_comboGroundType.currentText(), QStringLiteral("Suburban"));
    EXPECT_EQ(dialog.m_comboGroundType.count(), 5);
    EXPECT_EQ(dialog.m_editCurvature.text(), QStringLiteral("0.300"));
    // The GSD is the larger of the pixel width and 2.5, and the factor shown is 4 / GSD.
    EXPECT_EQ(dialog.m_editGSD.text(), QStringLiteral("5.0"));
    EXPECT_EQ(dialog.m_editFactor.text(), QStringLiteral("0.8"));
    EXPECT_FALSE(dialog.m_editFactor.isEnabled());
    dialog.m_sliderCurvature.setValue(450);
    EXPECT_EQ(dialog.m_editCurvature.text(), QStringLiteral("0.450"));
    dialog.m_comboGroundType.setCurrentIndex(2);
    dialog.OnCbnSelchangeGroundType();
    EXPECT_EQ(dialog.m_editFactor.text(), QStringLiteral("3.2"));
    dialog.m_editGSD.setText(QStringLiteral("4"));
    EXPECT_EQ(dialog.m_editFactor.text(), QStringLiteral("2.0"));
    dialog.m_comboGroundType.setCurrentIndex(4);
    dialog.OnCbnSelchangeGroundType();
    EXPECT_TRUE(dialog.m_editFactor.isEnabled());
    EXPECT_EQ(dialog.m_editFactor.text(), QString());
    const QImage shot = kvtest::Screenshot(&dialog, QStringLiteral("CMCCGroundFilterParametersDlg"));
    EXPECT_GT(kvtest::ColourCount(shot), 20);
}

TEST_F(GroundFilteringCommandTest, OkRefusesWhatTheFilterCannotTakeAndKeepsTheDialogOpen) {
    kvtest::ScriptedInteraction ui;
    CDEM dem(nullptr);
    dem.m_geoTransform[1] = 1.0;
    struct Case {
        int type;
        QString factor, threshold, gsd, message;
    };
    const QString tooBig = QStringLiteral("Source GSD is 1.0000\nSelected GSD is too big");
    const QString badThreshold =
        QStringLiteral("Invalid curvature threshold! (it must be bigger than zero and smaller than PI/2)");
    const std::vector<Case> cases = {
        {-1, "", "0.3", "2.5", "Select ground type!"},
        {4, "-1", "0.3", "2.5", "invalid ground type factor!"},
        {1, "", "0", "2.5", badThreshold},
        {1, "", "1.5707963267948966", "2.5", badThreshold},
        {1, "", "x", "2.5", badThreshold},
        {1, "", "0.3", "100.0001", tooBig},
        {1, "", "0.3", "0", "Invalid GSD value!"},
        // Accepted: a GSD of exactly 100 pixel widths, a custom factor of 0, a threshold just
        // under pi/2.
        {0, "", "0.3", "100", ""},
        {4, "0", "0.3", "2.5", ""},
        {3, "", "1.5707", "8", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.message.toStdString() + " " + c.gsd.toStdString());
        ui.Clear();
        CMCCGroundFilterParametersDlg dialog(&dem);
        dialog.show();
        dialog.m_comboGroundType.setCurrentIndex(c.type);
        dialog.OnCbnSelchangeGroundType();
        if (c.type == 4) {
            dialog.m_editFactor.setText(c.factor);
        }
        dialog.m_editCurvature.setText(c.threshold);
        dialog.m_editGSD.setText(c.gsd);
        dialog.setResult(0);
        dialog.accept();
        if (c.message.isEmpty()) {
            EXPECT_EQ(ui.MessageTexts(), QStringList());
            EXPECT_EQ(dialog.result(), IDOK);
        } else {
            EXPECT_EQ(ui.MessageTexts(), QStringList({c.message}));
            EXPECT_NE(dialog.result(), IDOK);
        }
    }
    // What OK hands over: the presets give the filter the scales 2.5, 4, 8 and 16.
    CMCCGroundFilterParametersDlg dialog(&dem);
    dialog.show();
    dialog.m_comboGroundType.setCurrentIndex(3);
    dialog.m_editGSD.setText(QStringLiteral("4"));
    dialog.m_sliderCurvature.setValue(500);
    dialog.accept();
    EXPECT_DOUBLE_EQ(dialog.m_dFactor, 16.0 / 4.0);
    EXPECT_DOUBLE_EQ(dialog.m_dGSD, 4.0);
    EXPECT_DOUBLE_EQ(dialog.m_dCurvatureThreshold, 0.5);
}

TEST_F(GroundFilteringCommandTest, TheWholeDemIsFilteredIntoANewLayerWithoutAskingForTheOnlyDem) {
    kvtest::ScriptedInteraction ui;
    CKelvaroDoc doc;
    ASSERT_EQ(doc.AddDEM(m_dsm, 0), 1);
    CadDrawing* d = doc.m_pCad;
    const QString output = m_folder + "/dtm";
    ui.AnswerModal([](QDialog& dialog) {
        EXPECT_EQ(dialog.windowTitle(), QStringLiteral("Area selection"));
        EXPECT_EQ(static_cast<CGenericSelectionDlg&>(dialog).m_strRightCaption,
                  QStringLiteral("Use total area"));
        return int(CGenericSelectionDlg::IDC_RIGHT);
    });
    ui.AnswerModal([](QDialog& dialog) {
        EXPECT_EQ(dialog.windowTitle(), QStringLiteral("Ground Filtering"));
        return WaitUntilFinished(dialog);
    });
    ui.AnswerModal(
        Parameters([](CMCCGroundFilterParametersDlg& p) { p.m_editGSD.setText(QStringLiteral("1")); }));
    // The DEM's own file, then a name already loaded as a DEM, are refused before the new one; the
    // name given without its suffix names an existing file, which is replaced only the second time.
    ASSERT_TRUE(kvtest::WriteFileBytes(output + ".gtif", "an older file"));
    ui.AnswerFile(m_dsm);
    ui.AnswerFile(m_folder + "/other/DSM.TIF");
    ui.AnswerFile(output);
    ui.AnswerMessage(IDOK);
    ui.AnswerMessage(IDOK);
    ui.AnswerMessage(IDNO);
    ui.AnswerFile(output);
    ui.AnswerMessage(IDYES);
    CmdGroundFiltering(d);

    EXPECT_EQ(ActiveCadCommandId, 0);
    EXPECT_EQ(ui.Dialogs(),
              QStringList({"CGenericSelectionDlg", "CGroundFilteringDlg", "CMCCGroundFilterParametersDlg"}));
    const QString exists = QStringLiteral("dtm.gtif already exists.\nDo you want to replace it?");
    EXPECT_EQ(ui.MessageTexts(), QStringList({"The file is used by a loaded layer",
                                              "A DEM with this name is already loaded!", exists, exists}));
    ASSERT_EQ(doc.m_DEMs.size(), 2u);
    ASSERT_TRUE(doc.m_DEMs.count("dtm.gtif"));
    CDEM* dtm = doc.m_DEMs.at("dtm.gtif");
    // The building is gone: its cells lie on the plane again.
    EXPECT_NEAR(dtm->GetElevation(1025.5, 2000 - 30.5), 20.0 + 0.1 * 25 + 0.05 * 30, 0.2);
    EXPECT_TRUE(doc.m_AreaVertices.empty());
    EXPECT_EQ(GroundFilteringCommandDem(), nullptr);
    EXPECT_EQ(kvtest::Inspect(output + ".gtif").noData, -9999.0);
}

TEST_F(GroundFilteringCommandTest, EveryEarlyEndLeavesNoCommandAndRunsNothing) {
    kvtest::ScriptedInteraction ui;
    CKelvaroDoc doc;
    CadDrawing* d = doc.m_pCad;
    CmdGroundFiltering(d);
    char prompt[256] = {0};
    CadCmdGetPrompt(d, prompt, sizeof prompt);
    EXPECT_STREQ(prompt, "No DEM loaded");
    EXPECT_EQ(ui.Dialogs(), QStringList());

    ASSERT_EQ(doc.AddDEM(m_dsm, 0), 1);
    CDEM* dem = doc.m_DEMs.begin()->second;

    // An edited DEM.
    dem->m_modified = 1;
    CmdGroundFiltering(d);
    EXPECT_EQ(ui.MessageTexts(), QStringList({"DEM has been edited. Save project before proceding"}));
    EXPECT_EQ(ActiveCadCommandId, 0);
    dem->m_modified = 0;

    // A drawn area of two vertices ends silently.
    ui.Clear();
    ui.AnswerModal(CGenericSelectionDlg::IDC_MIDDLE);
    CadScriptPushPoint(d, 1010, 1990, 0);
    CadScriptPushPoint(d, 1020, 1980, 0);
    CadScriptPushFinish(d);
    CmdGroundFiltering(d);
    EXPECT_EQ(ui.MessageTexts(), QStringList());
    EXPECT_EQ(ui.Dialogs(), QStringList({"CGenericSelectionDlg"}));
    EXPECT_EQ(ActiveCadCommandId, 0);

    // An area beside the DEM.
    ui.Clear();
    ui.AnswerModal(CGenericSelectionDlg::IDC_MIDDLE);
    for (double x : {1100.0, 1120.0, 1120.0}) {
        CadScriptPushPoint(d, x, x == 1100.0 ? 1990.0 : 1980.0 + (x - 1100.0), 0);
    }
    CadScriptPushFinish(d);
    CmdGroundFiltering(d);
    EXPECT_EQ(ui.MessageTexts(), QStringList({"Selected area is out of selected DEM"}));
    EXPECT_EQ(ui.Messages()[0].icon(), kv::MessageIcon::Error);
    EXPECT_EQ(ActiveCadCommandId, 0);

    // Cancel in the parameters: no file is asked for, nothing is added.
    ui.Clear();
    ui.AnswerModal(CGenericSelectionDlg::IDC_RIGHT);
    ui.AnswerModal([](QDialog& dialog) { return WaitUntilFinished(dialog); });
    ui.AnswerModal(IDCANCEL);
    CmdGroundFiltering(d);
    EXPECT_EQ(ui.Choosers(), QStringList());
    EXPECT_EQ(ui.MessageTexts(), QStringList());
    EXPECT_EQ(doc.m_DEMs.size(), 1u);
    EXPECT_EQ(ActiveCadCommandId, 0);

    // A cancelled file chooser ends as a failed run does.
    ui.Clear();
    ui.AnswerModal(CGenericSelectionDlg::IDC_RIGHT);
    ui.AnswerModal([](QDialog& dialog) { return WaitUntilFinished(dialog); });
    ui.AnswerModal(Parameters());
    ui.AnswerFile(QString());
    CmdGroundFiltering(d);
    EXPECT_EQ(ui.MessageTexts(),
              QStringList({"Unable to filter this DEM. Please check the input data consistency"}));
    EXPECT_EQ(doc.m_DEMs.size(), 1u);
    EXPECT_EQ(ActiveCadCommandId, 0);
    CadCmdGetPrompt(d, prompt, sizeof prompt);
    EXPECT_STREQ(prompt, "");
}

// A run that fails says why after the message: a DEM without a valid cell is no longer only
// "check the input data consistency".
TEST_F(GroundFilteringCommandTest, AFailedRunLeavesItsCauseInTheCommandLine) {
    kvtest::ScriptedInteraction ui;
    kvtest::RasterSpec spec;
    spec.width = spec.height = 40;
    spec.geoTransform = {1000.0, 1.0, 0.0, 2000.0, 0.0, -1.0};
    const QString empty =
        kvtest::WriteRaster(m_folder + "/empty.tif", spec, [](int, int, int) { return -9999.0; });
    CKelvaroDoc doc;
    ASSERT_EQ(doc.AddDEM(empty, 0), 1);
    CadDrawing* d = doc.m_pCad;
    ui.AnswerModal(CGenericSelectionDlg::IDC_RIGHT);
    ui.AnswerModal([](QDialog& dialog) { return WaitUntilFinished(dialog); });
    ui.AnswerModal(
        Parameters([](CMCCGroundFilterParametersDlg& p) { p.m_editGSD.setText(QStringLiteral("1")); }));
    ui.AnswerFile(m_folder + "/nothing.gtif");
    CmdGroundFiltering(d);
    EXPECT_EQ(ui.MessageTexts(),
              QStringList({"Unable to filter this DEM. Please check the input data consistency"}));
    char line[256] = {0};
    ASSERT_NE(CadCmdGetHistory(d, 0, line, sizeof line), 0);
    EXPECT_STREQ(line, "The DEM holds no valid cell");
    char prompt[256] = {0};
    CadCmdGetPrompt(d, prompt, sizeof prompt);
    EXPECT_STREQ(prompt, "");
    EXPECT_EQ(ActiveCadCommandId, 0);
    EXPECT_FALSE(QFileInfo::exists(m_folder + "/nothing.gtif"));

    // A disk that is full when the filtered DEM is put in place, and one that is read-only when the
    // point cloud of the work folder is: the message names the input data, the command line the
    // disk.
    ASSERT_EQ(doc.AddDEM(m_dsm, 0), 1);
    const struct {
        kv::FileStep step;
        int error;
        QString file, said;
    } faults[] = {
        {kv::FileStep::Sync, ENOSPC, "full.gtif", "Unable to save DEM: No space left on device"},
        {kv::FileStep::Rename, EROFS, ".las", ": Read-only file system"},
    };
    for (const auto& fault : faults) {
        ui.Clear();
        ui.AnswerModal(CGenericSelectionDlg::IDC_RIGHT);
        ui.AnswerModal([](QDialog& dialog) { return WaitUntilFinished(dialog); });
        ui.AnswerModal(
            Parameters([](CMCCGroundFilterParametersDlg& p) { p.m_editGSD.setText(QStringLiteral("1")); }));
        ui.AnswerFile(m_folder + "/full.gtif");
        CadScriptPushEntity(d, doc.m_DEMs.at("dsm.tif")->m_imageEntity);
        {
            kvtest::FileFault failing(fault.step, fault.error, fault.file);
            CmdGroundFiltering(d);
        }
        EXPECT_EQ(ui.MessageTexts(),
                  QStringList({"Unable to filter this DEM. Please check the input data consistency"}));
        ASSERT_NE(CadCmdGetHistory(d, 0, line, sizeof line), 0);
        EXPECT_TRUE(QString(line).endsWith(fault.said)) << line;
        EXPECT_FALSE(QFileInfo::exists(m_folder + "/full.gtif"));
        EXPECT_EQ(doc.GetDEMCount(), 2);
    }
}

TEST_F(GroundFilteringCommandTest, AnAreaDrawnOnTheDemLimitsTheFilterAndTheAbortButtonAsksFirst) {
    kvtest::ScriptedInteraction ui;
    CKelvaroDoc doc;
    ASSERT_EQ(doc.AddDEM(m_dsm, 0), 1);
    CadDrawing* d = doc.m_pCad;
    ui.AnswerModal(CGenericSelectionDlg::IDC_MIDDLE);
    // Around the building's left half only.
    for (const auto& [x, y] :
         std::vector<std::pair<double, double>>{{1015, 1980}, {1026, 1980}, {1026, 1960}, {1015, 1960}}) {
        CadScriptPushPoint(d, x, y, 0);
    }
    CadScriptPushFinish(d);
    int areaSize = 0;
    ui.AnswerModal([&](QDialog& dialog) {
        areaSize = int(doc.m_AreaVertices.size());
        auto& progress = static_cast<CGroundFilteringDlg&>(dialog);
        EXPECT_TRUE(progress.m_btnAbort.isVisibleTo(&progress));
        return WaitUntilFinished(dialog);
    });
    ui.AnswerModal(
        Parameters([](CMCCGroundFilterParametersDlg& p) { p.m_editGSD.setText(QStringLiteral("1")); }));
    ui.AnswerFile(m_folder + "/part.gtif");
    CmdGroundFiltering(d);
    EXPECT_EQ(areaSize, 4);
    EXPECT_TRUE(doc.m_AreaVertices.empty());
    ASSERT_TRUE(doc.m_DEMs.count("part.gtif"));
    CDEM* part = doc.m_DEMs.at("part.gtif");
    EXPECT_NEAR(part->GetElevation(1022.5, 1969.5), 20.0 + 0.1 * 22 + 0.05 * 30, 0.2);
    // The other half of the building is outside the area and stays.
    EXPECT_NEAR(part->GetElevation(1029.5, 1969.5), 20.0 + 0.1 * 29 + 0.05 * 30 + 8.0, 1e-4);

    // Abort asks, and No leaves the run alone; Yes raises the flag and greys the button.
    int flag = 0;
    CGroundFilteringDlg progress(&doc, &flag);
    ui.AnswerMessage(IDNO);
    progress.OnBnClickedAbort();
    EXPECT_EQ(flag, 0);
    ui.AnswerMessage(IDYES);
    progress.OnBnClickedAbort();
    EXPECT_EQ(flag, 1);
    EXPECT_FALSE(progress.m_btnAbort.isEnabled());
    EXPECT_EQ(ui.MessageTexts().last(), QStringLiteral("Abort process?"));
    EXPECT_EQ(ActiveCadCommandId, 0);
}

TEST_F(GroundFilteringCommandTest, PicturesOfTheProgressWindowAndOfTheFilteredDemInThePlanView) {
    kvtest::ScriptedInteraction ui;
    SetCadEventInstaller(RegisterDocumentEventProcs);
    QMdiArea area;
    area.resize(800, 600);
    area.show();
    auto* doc = new CKelvaroDoc();
    CKelvaroFrame* frame = CreateProjectWindow(doc, &area);
    frame->showMaximized();
    int flag = 0;
    CGroundFilteringDlg progress(doc, &flag);
    progress.show();
    progress.m_progressOverall.SetRange(0, 8);
    progress.m_progressOverall.SetPos(5);
    progress.m_progressPhase.SetRange(0, 100);
    progress.m_progressPhase.SetPos(40);
    const QImage bars = kvtest::Screenshot(&progress, QStringLiteral("CGroundFilteringDlg"));
    EXPECT_GT(kvtest::ColourCount(bars), 10);
    progress.done(IDCANCEL);

    // The terrain of the real lidar file: a surface model of 5-unit cells, filtered as Suburban.
    QString error;
    const QString dsm = m_folder + "/autzen.tif";
    ASSERT_EQ(CreateDemFromPointFiles({kvtest::DataPath("autzen_trim.las")}, 5.0, dsm, nullptr, &error),
              PointCloudGridder::Done);
    CDEM source(nullptr);
    source.m_path = dsm;
    source.m_geoTransform[1] = 5.0;
    GroundFilterSettings settings;
    settings.gsd = 5.0;
    settings.factor = 4.0 / 5.0;
    ASSERT_EQ(
        FilterGroundToFile(source, m_folder + "/view.gtif", settings, {}, nullptr, nullptr, nullptr, &error),
        GroundFilterDone)
        << error.toStdString();
    ASSERT_EQ(doc->AddDEM(m_folder + "/view.gtif", 0), 1);
    QApplication::processEvents();
    const QImage plan = kvtest::Screenshot(frame, QStringLiteral("GroundFiltering-plan-view"));
    EXPECT_GT(kvtest::ColourCount(plan), 50);
    doc->OnCloseDocument();
    SetCadEventInstaller(nullptr);
}

}  // namespace
