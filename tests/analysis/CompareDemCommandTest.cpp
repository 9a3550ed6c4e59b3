// The surface comparison as the operator runs it: the dialog with its picks, browses and checks,
// then the picture and the report beside the reference, and the runs that end without a report.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QImage>
#include <QRegularExpression>

#include <gdal.h>

#include "analysis/CompareDEMDlg.h"
#include "analysis/ComparisonReport.h"
#include "analysis/SurfaceCommands.h"
#include "document/KelvaroDoc.h"
#include "platform/cad/Cad.h"
#include "platform/ui/ActiveCommand.h"
#include "raster/DEM.h"
#include "support/OpenedFiles.h"
#include "support/Pictures.h"
#include "support/RasterFixtures.h"
#include "support/ScriptedInteraction.h"
#include "support/TestEnv.h"

namespace {

QString Dem(const QString& path, double left, double top, const std::function<double(int, int, int)>& value) {
    kvtest::RasterSpec spec;
    spec.width = 60;
    spec.height = 40;
    spec.geoTransform = {left, 1.0, 0.0, top, 0.0, -1.0};
    return kvtest::WriteRaster(path, spec, value);
}

class CompareDemCommandTest : public ::testing::Test {
protected:
    void SetUp() override {
        ActiveCadCommandId = 0;
        m_folder = kvtest::NewTempFolder("compare");
        m_reference =
            Dem(m_folder + "/Reference.tif", 0.0, 40.0, [](int c, int, int) { return 100.0 + c * 0.1; });
        // 0.5, 3 and 7 m above in three bands from west to east; 10 m of it lie apart.
        m_compared = Dem(m_folder + "/Compared.tif", 10.0, 40.0, [](int c, int, int) {
            return 100.0 + (c + 10) * 0.1 + (c < 20 ? 0.5 : c < 40 ? 3.0 : 7.0);
        });
    }
    // Answers the dialog: browse both DEMs, take its picture when asked, OK.
    void BrowseBothAndConfirm(kvtest::ScriptedInteraction& ui, QImage* picture = nullptr) {
        ui.AnswerModal([picture](QDialog& d) {
            auto& dlg = static_cast<CCompareDEMDlg&>(d);
            dlg.m_btnBrowseReference.click();
            dlg.m_btnBrowseCompared.click();
            if (picture) {
                *picture = kvtest::Screenshot(&dlg, "compare_dem_dialog");
            }
            dlg.m_btnOK.click();
            return -1;
        });
        ui.AnswerFile(m_reference);
        ui.AnswerFile(m_compared);
    }
    QString m_folder, m_reference, m_compared;
};

TEST_F(CompareDemCommandTest, TwoDemsGiveAPictureAndAReportBesideTheReferenceWhichIsOpened) {
    kvtest::ScriptedInteraction ui;
    kvtest::OpenedFiles opened;
    CKelvaroDoc doc;
    QImage dialog;
    BrowseBothAndConfirm(ui, &dialog);
    CmdCompareDem(doc.m_pCad);
    EXPECT_TRUE(ui.MessageTexts().isEmpty()) << ui.MessageTexts().join("|").toStdString();
    EXPECT_EQ(ActiveCadCommandId, 0);
    const QString report = m_folder + "/Reference_comparison.pdf";
    EXPECT_EQ(opened.files, QStringList{report});
    EXPECT_TRUE(QFileInfo::exists(m_folder + "/Reference_comparison.jpg"));
    const QString text = kvtest::PdfText(report);
    EXPECT_TRUE(text.contains("Report of the comparison between:")) << text.toStdString();
    EXPECT_TRUE(text.contains("Reference.tif and Compared.tif"));
    // The overlap is 50 x 40 m sampled every metre: 51 x 41 places, the last column and row off
    // the grids. The places lie on cell edges, halfway between centres: 0.5 m apart in the first
    // 19 columns, 3 m and 7 m in the bands further east, and at the two seams the cubic through
    // the bands' centres gives 0.34375, 1.75, 3.15625 and 2.75, 5, 7.25 (the straight line between
    // two centres in the three rows at the northern and southern edges): 20 columns below 1 m, 21
    // between and 9 above 5 m, and the mean of a row stays 2.735 m.
    EXPECT_TRUE(text.contains(QRegularExpression("Number of compared points:\\s+2000")))
        << text.toStdString();
    EXPECT_TRUE(text.contains(QRegularExpression("below 1.00 m:\\s+800\\(40%\\)")));
    EXPECT_TRUE(text.contains(QRegularExpression("between 1.00 and 5.00 m:\\s+840\\(42%\\)")));
    EXPECT_TRUE(text.contains(QRegularExpression("over 5.00 m:\\s+360\\(18%\\)")));
    EXPECT_TRUE(text.contains(QRegularExpression("is:\\s+2.7350 m")));
    EXPECT_TRUE(text.contains(QRegularExpression("deviation is:\\s+2.3400 m")));
    EXPECT_TRUE(text.contains(report));
    EXPECT_TRUE(QDir(ReportSwatchFolder()).entryList(QDir::Files).isEmpty());

    // The pictures for a person: the dialog with its three colour buttons, the report's page with
    // white paper, black text and the picture's dots in the three class colours.
    const QColor classes[3] = {QColor(0, 255, 0), QColor(255, 255, 0), QColor(255, 0, 0)};
    for (const QColor& colour : classes) {
        EXPECT_GT(kvtest::ColourShare(dialog, colour), 0.0) << colour.name().toStdString();
    }
    const QImage shown = kvtest::PdfPage(report, "comparison_report");
    ASSERT_FALSE(shown.isNull());
    EXPECT_GT(kvtest::ColourShare(shown, Qt::white), 0.5);
    EXPECT_GT(kvtest::ColourShare(shown, Qt::black, QRect(), 40), 0.0);
    for (const QColor& colour : classes) {
        EXPECT_GT(kvtest::ColourShare(shown, colour, QRect(), 60), 0.001) << colour.name().toStdString();
    }
}

// Here no program can show a PDF: the command line still says where the report went.
TEST_F(CompareDemCommandTest, WithoutAProgramToShowTheReportTheCommandLineSaysWhereItIs) {
    kvtest::ScriptedInteraction ui;
    CKelvaroDoc doc;
    BrowseBothAndConfirm(ui);
    CmdCompareDem(doc.m_pCad);
    const QString report = m_folder + "/Reference_comparison.pdf";
    ASSERT_TRUE(QFileInfo::exists(report));
    QStringList history;
    char line[1024];
    for (int i = 0; CadCmdGetHistory(doc.m_pCad, i, line, sizeof line); ++i) {
        history << QString::fromUtf8(line);
    }
    EXPECT_TRUE(history.contains("Results are located in: " + report)) << history.join('\n').toStdString();
    EXPECT_TRUE(doc.m_strCommandPrompt.isEmpty());
}

TEST_F(CompareDemCommandTest, ALibharuErrorOrAnUnwritableReportLeaveTheEarlierReportAndEndInOrder) {
    kvtest::ScriptedInteraction ui;
    kvtest::OpenedFiles opened;
    CKelvaroDoc doc;
    const QString report = m_folder + "/Reference_comparison.pdf";
    ASSERT_TRUE(kvtest::WriteFileBytes(report, "earlier report"));
    // A swatch that cannot be written is a picture libharu cannot read.
    const QString blocker = ReportSwatchFolder() + "/colNoDiff.jpg";
    ASSERT_TRUE(QDir().mkpath(blocker + "/inside"));
    BrowseBothAndConfirm(ui);
    testing::internal::CaptureStdout();
    CmdCompareDem(doc.m_pCad);
    const std::string printed = testing::internal::GetCapturedStdout();
    QDir(blocker).removeRecursively();
    EXPECT_NE(printed.find("ERROR: error_no="), std::string::npos) << printed;
    EXPECT_EQ(kvtest::FileBytes(report), QByteArray("earlier report"));
    EXPECT_TRUE(opened.files.isEmpty());
    EXPECT_EQ(ActiveCadCommandId, 0);
    // No temporary is left beside the outputs.
    EXPECT_EQ(QDir(m_folder).entryList(QDir::Files | QDir::Hidden),
              (QStringList{"Compared.tif", "Reference.tif", "Reference_comparison.jpg",
                           "Reference_comparison.pdf"}));

    // The report's name is taken by a folder: "Unable to save file!".
    ASSERT_TRUE(QFile::remove(report));
    ASSERT_TRUE(QDir().mkpath(report + "/inside"));
    ui.Clear();
    BrowseBothAndConfirm(ui);
    CmdCompareDem(doc.m_pCad);
    EXPECT_EQ(ui.MessageTexts(), QStringList{"Unable to save file!"});
    EXPECT_TRUE(opened.files.isEmpty());
}

TEST_F(CompareDemCommandTest, NoValueToCompareKeepsThePictureAndStepZeroIsRefused) {
    kvtest::ScriptedInteraction ui;
    CKelvaroDoc doc;
    m_compared = Dem(m_folder + "/Empty.tif", 10.0, 40.0, [](int, int, int) { return -9999.0; });
    ui.AnswerModal([](QDialog& d) {
        auto& dlg = static_cast<CCompareDEMDlg&>(d);
        dlg.m_btnBrowseReference.click();
        dlg.m_btnBrowseCompared.click();
        dlg.m_editStep.setText("0");
        dlg.m_btnOK.click();  // refused, the dialog stays
        EXPECT_TRUE(dlg.isVisible());
        dlg.m_editStep.setText("2");
        dlg.m_btnOK.click();
        return -1;
    });
    ui.AnswerFile(m_reference);
    ui.AnswerFile(m_compared);
    CmdCompareDem(doc.m_pCad);
    EXPECT_EQ(ui.MessageTexts(), (QStringList{"Invalid comparison step!", "No value to compare!"}));
    EXPECT_TRUE(QFileInfo::exists(m_folder + "/Reference_comparison.jpg"));
    EXPECT_FALSE(QFileInfo::exists(m_folder + "/Reference_comparison.pdf"));
}

TEST_F(CompareDemCommandTest, PicksReopenTheDialogWithItsDefaultsAndWrongChoicesAreRefused) {
    kvtest::ScriptedInteraction ui;
    CKelvaroDoc doc;
    ui.AnswerMessage(IDNO);
    ASSERT_EQ(doc.AddDEM(m_reference, 0), 1);
    CDEM* dem = doc.m_DEMs.begin()->second;
    const QString xyz = m_folder + "/points.xyz", las = kvtest::DataPath("simple.las");
    ASSERT_TRUE(kvtest::WriteFileBytes(xyz, "1 2 3\n"));
    ui.Clear();
    QStringList seen;
    ui.AnswerModal([&](QDialog& d) {
        auto& dlg = static_cast<CCompareDEMDlg&>(d);
        dlg.m_editValue1.setText("2.5");
        dlg.m_btnBelow.SetColor(0x123456);
        dlg.m_btnBrowseCompared.click();  // .xyz with .las
        dlg.m_btnBrowseCompared.click();  // two DEMs
        dlg.m_btnPickReference.click();
        return -1;
    });
    ui.AnswerFile(xyz + "\n" + las);
    ui.AnswerFile(m_reference + "\n" + m_compared);
    CadScriptPushEntity(doc.m_pCad, dem->m_imageEntity);
    ui.AnswerModal([&](QDialog& d) {
        auto& dlg = static_cast<CCompareDEMDlg&>(d);
        seen << dlg.m_editReference.text() << dlg.m_editReferenceGsd.text() << dlg.m_editValue1.text()
             << dlg.m_editValue2.text() << QString::number(dlg.m_btnBelow.GetColor(), 16)
             << QString::number(dlg.m_btnBetween.GetColor(), 16)
             << QString::number(dlg.m_btnAbove.GetColor(), 16) << QString::number(dlg.m_editStep.isEnabled());
        dlg.m_btnCancel.click();
        return -1;
    });
    CmdCompareDem(doc.m_pCad);
    EXPECT_EQ(ui.MessageTexts(),
              (QStringList{"The extension of selected files does not match", "Only 1 DEM allowed"}));
    EXPECT_EQ(seen, (QStringList{m_reference, "1.0000", "1.00", "5.00", "ff00", "ffff", "ff", "0"}));
    EXPECT_EQ(ActiveCadCommandId, 0);
    EXPECT_EQ(ComparisonStepText(0.5), "0.50");
    EXPECT_EQ(ComparisonStepText(0.0025), "0.003");
    EXPECT_EQ(ComparisonStepText(0.00083333), "0.001");
}

}  // namespace
