// The vegetation-index report on the NDVI map of the Landsat scene: classes, areas, shares, mean
// and deviation against an independent count, as the PDF's text shows them, with the picture
// beside it and the swatches gone; the maps and areas refused, the dialog's checks and defaults,
// and Abort.
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>

#include <gdal.h>
#include <gtest/gtest.h>
#include <opencv2/imgcodecs.hpp>

#include <cmath>

#include "ProductsFixtures.h"
#include "controls/AbortSingleProgressDlg.h"
#include "document/KelvaroDoc.h"
#include "platform/cad/Cad.h"
#include "platform/tools/ZQT.h"
#include "platform/ui/ActiveCommand.h"
#include "platform/ui/CadCommandIds.h"
#include "products/ExportNDVIDataDlg.h"
#include "products/NdviReport.h"
#include "products/VegetationIndex.h"
#include "raster/ClassReport.h"
#include "support/OpenedFiles.h"
#include "support/Pictures.h"
#include "support/RasterFixtures.h"
#include "support/ScriptedInteraction.h"
#include "support/TestEnv.h"

namespace {

// A threshold as the dialog shows it and reads it back.
double Shown(double v) {
    return std::atof(QString::asprintf("%.3lf", v).toLatin1().constData());
}

CExportNDVIDataDlg& Dialog(QDialog& d) {
    return static_cast<CExportNDVIDataDlg&>(d);
}

// A progress window whose Abort is pressed once the bar passes the position.
class AbortingProgress : public CAbortSingleProgressDlg {
public:
    void SetPos(int pos) override {
        CAbortSingleProgressDlg::SetPos(pos);
        if (armed && pos >= 50) {
            m_btnAbort.click();
        }
    }
    bool armed = true;
};

class NdviReportTest : public ::testing::Test {
protected:
    void SetUp() override {
        ActiveCadCommandId = 0;
        folder = kvtest::NewTempFolder("ndvi_report");
        ndvi = ptest::SceneNdvi(doc, folder);
        ASSERT_FALSE(ndvi.isEmpty());
        MapLayerInfo info;
        info.title = "ndvi";
        info.mapType = MapTypeNDVI;
        info.path = ndvi;
        ASSERT_TRUE(doc.AddMap(info, 1));
        map = doc.m_Maps["ndvi"];
        progress.Create();
    }
    QStringList Scratch() const {
        return QDir(kv::ReportScratchFolder()).entryList(QDir::Files).filter(".jpg");
    }

    ptest::FreshProfile profile;
    kvtest::ScriptedInteraction ui;
    kvtest::OpenedFiles opened;
    CKelvaroDoc doc;
    QString folder, ndvi;
    CMapData* map = nullptr;
    CAbortSingleProgressDlg progress;
};

}  // namespace

TEST_F(NdviReportTest, ClassesAreasMeanAndDeviationMatchAnIndependentCount) {
    const std::vector<double> values = kvtest::ReadBand(ndvi);
    double lo = 1e300, hi = -1e300;
    for (double v : values) {
        if (v != -9999.0) {
            lo = std::min(lo, v);
            hi = std::max(hi, v);
        }
    }
    // The only map is taken without a pick; the whole map is reported on once.
    ui.AnswerModal(102);  // "Use total area"
    ui.AnswerModal([&](QDialog& d) {
        CExportNDVIDataDlg& dialog = Dialog(d);
        const QImage shot = kvtest::Screenshot(&dialog, QStringLiteral("CExportNDVIDataDlg"));
        EXPECT_GT(
            kvtest::ColourShare(shot, QColor(255, 128, 0), kvtest::PlaceIn(&dialog.m_btnColor[1], &dialog)),
            0.2);
        EXPECT_EQ(dialog.m_editName.text(), "ndvi_report");
        EXPECT_EQ(dialog.m_editThreshold[0].text(), QString::asprintf("%.3lf", lo + 0.01));
        EXPECT_EQ(dialog.m_editThreshold[3].text(), QString::asprintf("%.3lf", lo + 3 * (hi - lo) / 4));
        EXPECT_EQ(dialog.m_editOver.text(), QString::asprintf(">%.3lf", lo + 3 * (hi - lo) / 4));
        EXPECT_EQ(dialog.m_editMaximum.text(), QString::asprintf("%.3lf", hi));
        EXPECT_TRUE(dialog.m_chkOpenReport.isChecked());
        EXPECT_EQ(ActiveCadCommandId, CMD_EXPORTNDVIRESULTS);
        dialog.m_btnOK.click();
        return -1;
    });
    CmdExportNdviResults(doc.m_pCad);
    EXPECT_EQ(ActiveCadCommandId, 0);
    EXPECT_EQ(ui.Dialogs(), (QStringList{"CGenericSelectionDlg", "CExportNDVIDataDlg"}));
    EXPECT_TRUE(ui.MessageTexts().isEmpty()) << ui.MessageTexts().join("|").toStdString();

    const double q = (hi - lo) / 4;
    const double t[4] = {Shown(lo + 0.01), Shown(lo + q), Shown(lo + 2 * q), Shown(lo + 3 * q)};
    int64_t counts[5] = {0, 0, 0, 0, 0};
    double sum = 0.0;
    int64_t n = 0;
    for (double v : values) {
        if (v == -9999.0) {
            continue;
        }
        int k = 0;
        while (k < 4 && v > t[k]) {
            ++k;
        }
        ++counts[k];
        sum += v;
        ++n;
    }
    const double mean = sum / double(n);
    double squares = 0.0;
    for (double v : values) {
        squares += v == -9999.0 ? 0.0 : (v - mean) * (v - mean);
    }
    const double cell = map->m_geoTransform[1] * map->m_geoTransform[1];
    const QString pdf = folder + "/ndvi_report.pdf";
    const QString text = kvtest::PdfText(pdf).simplified();
    EXPECT_TRUE(text.contains("Report of: ndvi_report")) << text.toStdString();
    EXPECT_TRUE(text.contains(QString::asprintf("Total Area [m^2]: %.3lf", cell * double(n))));
    double shares = 0.0;
    for (int k = 0; k < 5; ++k) {
        const QString label = k < 4 ? QString::asprintf("Area with index under %.3lf", t[k])
                                    : QString::asprintf("Area with index over %.3lf", t[3]);
        const double share = double(counts[k]) * 100.0 / double(n);
        shares += share;
        EXPECT_TRUE(
            text.contains(label + QString::asprintf(" %.3lf (%.2lf%%)", cell * double(counts[k]), share)))
            << label.toStdString();
    }
    EXPECT_NEAR(shares, 100.0, 1e-9);
    EXPECT_TRUE(text.contains(QString::asprintf("Mean index: %.4lf", mean)));
    EXPECT_TRUE(
        text.contains(QString::asprintf("Standard deviation is: %.4lf", std::sqrt(squares / double(n)))));
    EXPECT_TRUE(text.contains("Results are located in:"));
    EXPECT_TRUE(text.contains(pdf));

    // The page for a person to look at: white paper, black text, the picture in the class colours.
    const QImage shown = kvtest::PdfPage(pdf, "ndvi_report_page");
    ASSERT_FALSE(shown.isNull());
    EXPECT_GT(kvtest::ColourShare(shown, Qt::white), 0.3);
    EXPECT_GT(kvtest::ColourShare(shown, Qt::black, QRect(), 40), 0.0);
    for (const QColor& colour : {QColor(255, 0, 0), QColor(255, 255, 0), QColor(0, 255, 0)}) {
        EXPECT_GT(kvtest::ColourShare(shown, colour, QRect(), 60), 0.0001) << colour.name().toStdString();
    }
    const cv::Mat picture = cv::imread((folder + "/ndvi_report.jpg").toStdString());
    EXPECT_EQ(picture.size(), kv::ClassPictureSize(349, 352));
    EXPECT_TRUE(Scratch().isEmpty());
    EXPECT_EQ(opened.files, QStringList{pdf});
    // The command line says where the report lies.
    char line[1024];
    bool told = false;
    for (int i = 0; CadCmdGetHistory(doc.m_pCad, i, line, sizeof line); ++i) {
        told = told || QString::fromUtf8(line) == "Results are located in: " + pdf;
    }
    EXPECT_TRUE(told);
    EXPECT_TRUE(QDir(folder).entryList(QDir::Files | QDir::Hidden).filter("kvsave").isEmpty());
}

TEST_F(NdviReportTest, RefusedMapsAndAreasDialogChecksDefaultsAndAbort) {
    const double* gt = map->m_geoTransform;
    int stopped = 0;
    // A SAVI map, an area drawn off the map, an area of two vertices: the command ends with the
    // message.
    map->m_mapType = MapTypeSAVI;
    ui.AnswerModal(102);
    CmdExportNdviResults(doc.m_pCad);
    map->m_mapType = MapTypeNDVI;
    ui.AnswerModal(101);  // "Draw new area"
    for (const auto& [x, y] :
         {std::pair{gt[0] - 900, gt[3]}, {gt[0] - 100, gt[3]}, {gt[0] - 100, gt[3] - 900}}) {
        CadScriptPushPoint(doc.m_pCad, x, y, 0);
    }
    CadScriptPushFinish(doc.m_pCad);
    CmdExportNdviResults(doc.m_pCad);
    EXPECT_EQ(ActiveCadCommandId, 0);
    EXPECT_EQ(ui.MessageTexts(), (QStringList{"Error generating report", "Error generating report"}));
    EXPECT_EQ(ui.Dialogs(), (QStringList{"CGenericSelectionDlg", "CGenericSelectionDlg"}));
    EXPECT_EQ(ExportNdviReport(map, {{gt[0] + 100, gt[3] - 100, 0}, {gt[0] + 900, gt[3] - 900, 0}}, progress,
                               &stopped),
              0);
    ui.Clear();

    // The name is checked, and a report of that name is never replaced; Cancel writes nothing.
    ASSERT_TRUE(kvtest::WriteFileBytes(folder + "/taken.pdf", "%PDF"));
    ui.AnswerModal([&](QDialog& d) {
        CExportNDVIDataDlg& dialog = Dialog(d);
        dialog.m_editName.setText("a/b");
        dialog.m_btnOK.click();
        dialog.m_editName.setText("taken");
        dialog.m_btnOK.click();
        EXPECT_TRUE(dialog.isVisible());
        // Defaults: stored from the edits and colours, cleared, used again.
        dialog.m_editThreshold[0].setText("0.1");
        dialog.m_editThreshold[3].setText("0.7");
        EXPECT_EQ(dialog.m_editOver.text(), ">0.700");
        dialog.m_btnColor[4].SetColor(kv::Rgb(1, 2, 3));
        dialog.m_btnSaveDefaults.click();
        EXPECT_EQ(ZQT_GetUserProfileString("ExportNDVIResults", "Default Color Over3", ""), "1;2;3");
        dialog.m_btnClearDefaults.click();
        EXPECT_EQ(ZQT_GetUserProfileString("ExportNDVIResults", "Default value", ""),
                  "0.000;0.000;0.000;0.000");
        EXPECT_EQ(dialog.m_btnColor[4].GetColor(), kv::Rgb(0, 255, 0));
        dialog.m_chkUseDefaults.click();  // all stored thresholds 0: the computed ones stay
        EXPECT_NE(dialog.m_editThreshold[0].text(), "0.100");
        dialog.m_editThreshold[0].setText("0.1");
        dialog.m_btnColor[4].SetColor(kv::Rgb(1, 2, 3));
        dialog.m_btnSaveDefaults.click();
        dialog.m_editThreshold[0].setText("5");
        dialog.m_btnColor[4].SetColor(kv::Rgb(9, 9, 9));
        dialog.m_chkUseDefaults.click();
        dialog.m_chkUseDefaults.click();
        EXPECT_EQ(dialog.m_editThreshold[0].text(), "0.100");
        EXPECT_EQ(dialog.m_btnColor[4].GetColor(), kv::Rgb(1, 2, 3));
        dialog.m_btnCancel.click();
        return -1;
    });
    EXPECT_EQ(ExportNdviReport(map, {}, progress, &stopped), 1);
    EXPECT_EQ(ui.MessageTexts(), (QStringList{"Invalid file name", "A file with this name already exist"}));
    EXPECT_EQ(ZQT_GetUserProfileString("ExportNDVIResults", "check default", ""), "1");
    EXPECT_EQ(stopped, 0);

    // Only no data in the area: nothing to report, the command goes on to the next area, and ends
    // when no area is picked.
    ui.Clear();
    cv::Mat blank(352, 349, CV_32FC1, cv::Scalar(-9999));
    const double noData = -9999;
    ptest::WriteGrid(folder + "/blank.tif", blank, gt, &noData);
    MapLayerInfo info;
    info.title = "blank";
    info.mapType = MapTypeNDVI;
    info.path = folder + "/blank.tif";
    ASSERT_TRUE(doc.AddMap(info, 0));
    CadClearVertices();
    for (const auto& [x, y] :
         {std::pair{gt[0] + 1, gt[3] - 1}, {gt[0] + 40, gt[3] - 1}, {gt[0] + 1, gt[3] - 40}}) {
        CadAddVertex(x, y, 0);
    }
    CadEntity* corner = CadAddPolyline(doc.m_pCad, 0, 1);
    ASSERT_TRUE(corner);
    CadScriptPushEntity(doc.m_pCad, corner);  // not a map: "Invalid entity"
    CadScriptPushEntity(doc.m_pCad, doc.m_Maps["blank"]->m_imageEntity);
    ui.AnswerModal(100);                                                  // "Select existing area"
    CadScriptPushEntity(doc.m_pCad, doc.m_Maps["blank"]->m_imageEntity);  // not an area: passed over
    CadScriptPushEntity(doc.m_pCad, corner);
    CadScriptPushFinish(doc.m_pCad);  // the next area: none
    CmdExportNdviResults(doc.m_pCad);
    EXPECT_EQ(ActiveCadCommandId, 0);
    EXPECT_EQ(ui.MessageTexts(), QStringList{"No value to compare"});

    // Abort in the first pass, then in the second: the command is stopped and nothing written.
    for (int pass = 0; pass < 2; ++pass) {
        AbortingProgress aborting;
        aborting.Create();
        if (pass == 1) {
            // Armed only once the first pass is through and the thresholds are confirmed.
            aborting.armed = false;
            ui.AnswerModal([&aborting](QDialog& d) {
                aborting.armed = true;
                Dialog(d).m_btnOK.click();
                return -1;
            });
        }
        stopped = 0;
        EXPECT_EQ(ExportNdviReport(map, {}, aborting, &stopped), 1) << pass;
        EXPECT_EQ(stopped, 1) << pass;
    }
    EXPECT_FALSE(QFileInfo::exists(folder + "/ndvi_report.pdf"));
    EXPECT_FALSE(QFileInfo::exists(folder + "/ndvi_report.jpg"));
    EXPECT_TRUE(Scratch().isEmpty());
    EXPECT_TRUE(opened.files.isEmpty());
}
