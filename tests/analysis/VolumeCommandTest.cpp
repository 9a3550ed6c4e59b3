// VOLUME driven as the operator drives it on the Olinda DEM: the area drawn and picked in the
// drawing, the reference picked on the DEM and chosen in the dialog, the CSV written, and every
// way out leaving no active command and no prompt behind.
#include <QFile>
#include <QRegularExpression>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include "AnalysisTestSupport.h"
#include "analysis/VolumeCommand.h"
#include "analysis/VolumeDlg.h"
#include "document/KelvaroDoc.h"
#include "platform/cad/Cad.h"
#include "platform/ui/ActiveCommand.h"
#include "raster/Ortho.h"
#include "support/Pictures.h"
#include "support/ScriptedInteraction.h"

namespace {

class VolumeCommandTest : public ::testing::Test {
protected:
    void SetUp() override {
        ActiveCadCommandId = 0;
        CadScriptSetStrict(1);
    }
    void TearDown() override { CadScriptSetStrict(0); }

    // The command ended cleanly: no active command, no prompt, no state left.
    void ExpectEnded(CKelvaroDoc& doc) {
        EXPECT_EQ(ActiveCadCommandId, 0);
        EXPECT_TRUE(doc.m_strCommandPrompt.isEmpty());
        char prompt[256] = {};
        CadCmdGetPrompt(doc.m_pCad, prompt, sizeof prompt);
        EXPECT_STREQ(prompt, "");
        EXPECT_EQ(VolumeState().dem, nullptr);
        EXPECT_TRUE(VolumeState().aoi.empty());
    }
};

// The command line's lines, newest first.
QString History(CadDrawing* drawing, int lines = 12) {
    QString text;
    char line[512];
    for (int i = 0; i < lines && CadCmdGetHistory(drawing, i, line, sizeof line); ++i) {
        text += QString::fromUtf8(line) + '\n';
    }
    return text;
}

CVolumeDlg& Volume(QDialog& dialog) {
    return static_cast<CVolumeDlg&>(dialog);
}

TEST_F(VolumeCommandTest, OnTheOlindaDemTheAreaTheReferenceAndTheCsvFollowTheOperator) {
    kvtest::ScriptedInteraction ui;
    CKelvaroDoc doc;
    ASSERT_EQ(doc.AddDEM(atest::OlindaCopy("volume_command"), 0), 1);
    CadDrawing* d = doc.m_pCad;
    const QString csv = kvtest::NewTempFolder("volume_csv") + "/volumes.csv";

    // 1. Nothing measured yet: the results stay empty and the pick, reference and export wait.
    ui.AnswerModal([](QDialog& dialog) {
        CVolumeDlg& v = Volume(dialog);
        v.OnTimer(CVolumeDlg::kComputeTimer);
        EXPECT_TRUE(v.m_editOverReference.text().isEmpty());
        EXPECT_FALSE(v.m_btnExport.isEnabled());
        EXPECT_FALSE(v.m_btnPickElevation.isEnabled());
        EXPECT_FALSE(v.m_editReference.isEnabled());
        EXPECT_FALSE(v.m_btnUseThisElevation.isEnabled());
        v.m_btnDrawAoi.click();
        return -1;
    });
    // Two vertices on the DEM, two off it: no plane can be fitted.
    CadScriptPushPoint(d, 290000, 9112000, 0);
    CadScriptPushPoint(d, 296000, 9112000, 0);
    CadScriptPushText(d, "ignored");
    CadScriptPushPoint(d, 300000, 9119000, 0);
    CadScriptPushPoint(d, 280000, 9119000, 0);
    CadScriptPushFinish(d);

    // 2. Measured with the vertices minimum as the reference; then the reference is picked.
    ui.AnswerModal([&](QDialog& dialog) {
        CVolumeDlg& v = Volume(dialog);
        // Nothing to export before the first run.
        EXPECT_FALSE(v.m_btnExport.isEnabled());
        v.OnTimer(CVolumeDlg::kComputeTimer);
        // Abort serves a run only.
        EXPECT_FALSE(v.m_btnAbort.isEnabled());
        EXPECT_EQ(VolumeState().aoi.size(), 4u);
        EXPECT_NE(VolumeState().reference, kUnsetReference);
        EXPECT_EQ(v.m_editReference.text(), QString::asprintf("%.3lf", VolumeState().reference));
        EXPECT_EQ(v.m_editOverPlane.text(), "---");
        EXPECT_EQ(v.m_editUnderPlane.text(), "---");
        EXPECT_NE(v.m_editOverReference.text(), "---");
        EXPECT_TRUE(v.m_btnExport.isEnabled());
        EXPECT_TRUE(v.m_btnUseAoiMin.isEnabled());
        EXPECT_TRUE(v.m_btnUseAoiMin.text().startsWith("Use AOI minimum elevation ("));
        v.m_btnPickElevation.click();
        return -1;
    });
    CadScriptPushPoint(d, 280000, 9115000, 0);  // off the DEM
    CadScriptPushPoint(d, 293000, 9115000, 0);

    // 3. The picked elevation, the AOI minimum, a refused text and 12.5 typed; then the export.
    double picked = 0.0;
    ui.AnswerModal([&](QDialog& dialog) {
        CVolumeDlg& v = Volume(dialog);
        picked = VolumeState().reference;
        v.OnTimer(CVolumeDlg::kComputeTimer);
        EXPECT_EQ(v.m_editReference.text(), QString::asprintf("%.3lf", picked));
        v.m_btnUseAoiMin.click();
        EXPECT_EQ(VolumeState().reference, v.m_dAoiMin);
        EXPECT_EQ(v.m_editReference.text(), QString::asprintf("%.3lf", v.m_dAoiMin));
        EXPECT_EQ(v.m_editUnderReference.text(), "0.000");

        const QString before = v.m_editOverReference.text();
        v.m_editReference.clear();
        QTest::keyClicks(&v.m_editReference, "abc");
        v.m_btnUseThisElevation.click();
        EXPECT_EQ(ui.MessageTexts().value(0), "Invalid reference elevation!");
        EXPECT_EQ(v.m_editOverReference.text(), before);

        v.m_editReference.clear();
        QTest::keyClicks(&v.m_editReference, "12.5");
        v.m_btnUseThisElevation.click();
        EXPECT_EQ(VolumeState().reference, 12.5);
        kvtest::Screenshot(&v, "volume_dialog");
        ui.AnswerFile(csv);
        v.m_btnExport.click();
        v.m_btnDrawAoi.click();
        return -1;
    });
    // 4. Right click after two vertices keeps the AOI (and its reference).
    CadScriptPushPoint(d, 291000, 9113000, 0);
    CadScriptPushPoint(d, 292000, 9113000, 0);
    CadScriptPushFinish(d);
    ui.AnswerModal([](QDialog& dialog) {
        EXPECT_EQ(VolumeState().aoi.size(), 4u);
        EXPECT_EQ(VolumeState().reference, 12.5);
        Volume(dialog).m_btnClose.click();
        return -1;
    });
    CmdVolume(d);

    EXPECT_NE(picked, kUnsetReference);
    EXPECT_TRUE(History(d).contains("Pick reference elevation on DEM No elevation data found!"));
    ExpectEnded(doc);
    const QString text = QString::fromUtf8(kvtest::FileBytes(csv));
    EXPECT_TRUE(
        text.startsWith("Volume on reference elevation (12,500 du);;;Volume on interpolated plane;;\n"))
        << text.toStdString();
    EXPECT_TRUE(
        text.contains(QRegularExpression("\nVolume over \\(du\\^3\\);[0-9]+,[0-9]{3};;Volume over "
                                         "\\(du\\^3\\);---;\nVolume under \\(du\\^3\\);[0-9]+,[0-9]{3};;"
                                         "Volume under \\(du\\^3\\);---;\n$")))
        << text.toStdString();
}

TEST_F(VolumeCommandTest, WithTwoDemsTheDemIsPickedAndEveryWayOutEndsTheCommand) {
    kvtest::ScriptedInteraction ui;
    CKelvaroDoc doc;
    ASSERT_EQ(doc.AddDEM(atest::OlindaCopy("volume_first", "first.tif"), 0), 1);
    ASSERT_EQ(doc.AddDEM(atest::OlindaCopy("volume_second", "second.tif"), 0), 1);
    // An orthophoto over the same place.
    kvtest::RasterSpec rgb;
    rgb.width = 100;
    rgb.height = 100;
    rgb.bands = 3;
    rgb.type = GDT_Byte;
    rgb.hasNoData = false;
    rgb.geoTransform = {289000.0, 50.0, 0.0, 9120000.0, 0.0, -50.0};
    const QString ortho = kvtest::WriteRaster(kvtest::NewTempFolder("volume_ortho") + "/ortho.tif", rgb,
                                              [](int c, int r, int b) { return (c + r * b) % 200 + 20; });
    ASSERT_EQ(doc.AddOrtho(ortho, 0, 0), 1);
    CadDrawing* d = doc.m_pCad;
    CDEM* second = doc.m_DEMs.at("second.tif");

    // An orthophoto is no DEM; the second DEM is taken; Escape leaves.
    CadScriptPushEntity(d, doc.m_Orthos.begin()->second->m_imageEntity);
    CadScriptPushEntity(d, second->m_imageEntity);
    ui.AnswerModal([&](QDialog&) {
        EXPECT_EQ(VolumeState().dem, second);
        return IDCANCEL;
    });
    CmdVolume(d);
    EXPECT_TRUE(History(d).contains("Select DEM Invalid entity")) << History(d).toStdString();
    EXPECT_TRUE(History(d).contains("Select DEM second.tif")) << History(d).toStdString();
    ExpectEnded(doc);

    // Cancel while the DEM is chosen.
    CadScriptPushCancel(d);
    CmdVolume(d);
    ExpectEnded(doc);

    // The AOI picked as a DEM's image place; a right click at "Select closed polyline" ends it all.
    CadScriptPushEntity(d, second->m_imageEntity);
    ui.AnswerModal([](QDialog& dialog) {
        Volume(dialog).m_btnPickPolyline.click();
        return -1;
    });
    CadScriptPushEntity(d, second->m_imageEntity);
    ui.AnswerModal([](QDialog& dialog) {
        EXPECT_EQ(VolumeState().aoi.size(), 4u);
        Volume(dialog).m_btnPickPolyline.click();
        return -1;
    });
    CadScriptPushFinish(d);
    CmdVolume(d);
    ExpectEnded(doc);

    // Abort during a run: asked, answered Yes, the dialog ends and so does the command.
    ui.Clear();
    CadScriptPushEntity(d, second->m_imageEntity);
    ui.AnswerModal([](QDialog& dialog) {
        Volume(dialog).m_btnPickPolyline.click();
        return -1;
    });
    CadScriptPushEntity(d, second->m_imageEntity);
    ui.AnswerMessage(IDYES);
    int result = 0;
    ui.AnswerModal([&](QDialog& dialog) {
        CVolumeDlg& v = Volume(dialog);
        QTimer::singleShot(0, &v, [&v] {
            EXPECT_TRUE(v.IsComputing());
            v.m_btnAbort.click();
        });
        v.OnTimer(CVolumeDlg::kComputeTimer);
        result = v.result();
        return -1;
    });
    CmdVolume(d);
    EXPECT_EQ(ui.MessageTexts(), QStringList{"Abort process?"});
    EXPECT_EQ(result, IDCANCEL);
    ExpectEnded(doc);

    // Escape during a run stops it without a question; the stopped run ends the dialog.
    ui.Clear();
    CadScriptPushEntity(d, second->m_imageEntity);
    ui.AnswerModal([](QDialog& dialog) {
        Volume(dialog).m_btnPickPolyline.click();
        return -1;
    });
    CadScriptPushEntity(d, second->m_imageEntity);
    ui.AnswerModal([&](QDialog& dialog) {
        CVolumeDlg& v = Volume(dialog);
        QTimer::singleShot(0, &v, [&v] { v.reject(); });
        v.OnTimer(CVolumeDlg::kComputeTimer);
        result = v.result();
        return -1;
    });
    CmdVolume(d);
    EXPECT_TRUE(ui.MessageTexts().isEmpty());
    EXPECT_EQ(result, IDCANCEL);
    ExpectEnded(doc);
}

TEST_F(VolumeCommandTest, AnAreaOffTheDemHasNoVolumesItsCsvSaysSoAndAFileThatCannotBeWrittenIsSaid) {
    kvtest::ScriptedInteraction ui;
    CKelvaroDoc doc;
    ASSERT_EQ(doc.AddDEM(atest::OlindaCopy("volume_off"), 0), 1);
    CadDrawing* d = doc.m_pCad;
    const QString csv = kvtest::NewTempFolder("volume_off_csv") + "/off.csv";
    ui.AnswerModal([](QDialog& dialog) {
        Volume(dialog).m_btnDrawAoi.click();
        return -1;
    });
    for (const auto& [x, y] : {std::pair{270000, 9112000}, {275000, 9112000}, {275000, 9118000}}) {
        CadScriptPushPoint(d, x, y, 0);
    }
    CadScriptPushFinish(d);
    ui.AnswerModal([&](QDialog& dialog) {
        CVolumeDlg& v = Volume(dialog);
        v.OnTimer(CVolumeDlg::kComputeTimer);
        for (QLineEdit* field :
             {&v.m_editOverReference, &v.m_editUnderReference, &v.m_editOverPlane, &v.m_editUnderPlane}) {
            EXPECT_EQ(field->text(), "---");
        }
        EXPECT_TRUE(v.m_editReference.text().isEmpty());
        ui.AnswerFile(csv);
        v.m_btnExport.click();
        ui.AnswerFile(kvtest::TempDir() + "/no such folder/off.csv");
        v.m_btnExport.click();
        return IDOK;
    });
    CmdVolume(d);
    // No reference was set: its place says so rather than giving -9999 as an elevation.
    EXPECT_EQ(QString::fromUtf8(kvtest::FileBytes(csv)),
              "Volume on reference elevation (--- du);;;Volume on interpolated plane;;\n"
              "Volume over (du^3);---;;Volume over (du^3);---;\n"
              "Volume under (du^3);---;;Volume under (du^3);---;\n");
    EXPECT_EQ(ui.MessageTexts(), QStringList{"Unable to write file!"});
    ExpectEnded(doc);
}

TEST_F(VolumeCommandTest, WithoutADemTheCommandSaysSoAndEnds) {
    kvtest::ScriptedInteraction ui;
    CKelvaroDoc doc;
    CmdVolume(doc.m_pCad);
    char prompt[256] = {};
    CadCmdGetPrompt(doc.m_pCad, prompt, sizeof prompt);
    EXPECT_STREQ(prompt, "No DEM loaded");
    EXPECT_EQ(ActiveCadCommandId, 0);
    EXPECT_TRUE(ui.Dialogs().isEmpty());
}

}  // namespace
