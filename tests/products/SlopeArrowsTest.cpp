// DRAWARROW on the Olinda DEM with the Landsat scene as orthophoto: the four files, an arrow at every
// sampled slope, the summary and legend drawn from the extremes, and the dialog's profile values
// and refusal of a maximum slope that is not above 0.
#include <QDir>
#include <QFile>
#include <QLineEdit>

#include <gdal.h>
#include <gtest/gtest.h>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include <cmath>
#include <limits>

#include "ProductsFixtures.h"
#include "document/KelvaroDoc.h"
#include "platform/tools/ZQT.h"
#include "platform/ui/ActiveCommand.h"
#include "products/DrawArrowDlg.h"
#include "products/SlopeArrows.h"
#include "support/Pictures.h"
#include "support/ScriptedInteraction.h"
#include "support/TestEnv.h"

namespace {

void SaveView(const cv::Mat& rgb, const QString& name) {
    QDir().mkpath(QStringLiteral(KV_SCREENSHOT_DIR));
    cv::Mat bgr;
    cv::cvtColor(rgb, bgr, cv::COLOR_RGB2BGR);
    cv::imwrite((QStringLiteral(KV_SCREENSHOT_DIR) + '/' + name + ".png").toStdString(), bgr);
}

// Fills the three edits and presses OK.
int PressOk(QDialog& d, const QString& minLength, const QString& multiplier, const QString& maxSlope) {
    auto& dialog = static_cast<CDrawArrowDlg&>(d);
    dialog.m_editMinLength.setText(minLength);
    dialog.m_editMaxMultiplier.setText(multiplier);
    dialog.m_editMaxSlope.setText(maxSlope);
    dialog.m_btnOK.click();
    return -1;
}

class DrawArrowTest : public ::testing::Test {
protected:
    void SetUp() override { ActiveCadCommandId = 0; }
    ptest::FreshProfile profile;
    kvtest::ScriptedInteraction ui;
};

TEST_F(DrawArrowTest, OlindaArrowMapHasAnArrowAtEverySlopeAndItsLegendAndSummary) {
    CKelvaroDoc doc;
    const QString folder = kvtest::NewTempFolder("arrows");
    const QString dtm = ptest::OlindaDtm(folder);
    const QString ortho = ptest::LandsatOrtho(folder);
    ui.AnswerFile(dtm);
    ui.AnswerFile(ortho);
    ui.AnswerFile(folder + "/olinda_dem_SlopeMap.tif");  // the dialog offers the map just written
    QString offered;
    ui.AnswerModal([&](QDialog& d) {
        auto& dialog = static_cast<CDrawArrowDlg&>(d);
        offered = dialog.m_editMaxSlope.text();
        const QImage shot = kvtest::Screenshot(&dialog, QStringLiteral("CDrawArrowDlg"));
        const QRect edit = dialog.m_editMaxSlope.geometry();
        EXPECT_GT(kvtest::ColourShare(shot, dialog.m_editMaxSlope.palette().color(QPalette::Base), edit),
                  0.5);
        EXPECT_GT(kvtest::ColourShare(shot, dialog.m_editMaxSlope.palette().color(QPalette::Text), edit, 96),
                  0.0);
        EXPECT_GT(kvtest::ColourCount(shot, dialog.m_btnOK.geometry()), 3);
        return PressOk(d, "18", "0.7", offered);
    });
    CmdDrawArrow(doc.m_pCad);
    EXPECT_EQ(ui.MessageTexts(), (QStringList{"SlopeMap generation done", "Arrow Map generation done"}));
    EXPECT_EQ(ActiveCadCommandId, 0);
    EXPECT_EQ(ZQT_GetUserProfileString("Max vec lenght MLT", "Max vec lenght MLT", "x"), "0.7");

    double sgt[6], ogt[6], agt[6];
    const cv::Mat slope = ptest::ReadRaster(folder + "/olinda_dem_SlopeMap.tif", sgt);
    const cv::Mat landsat = ptest::ReadRaster(ortho, ogt);
    const cv::Mat arrows = ptest::ReadRaster(folder + "/olinda_dem_arrow_map.tif", agt);
    ASSERT_EQ(arrows.size(), cv::Size(349, 352));
    ASSERT_EQ(arrows.type(), CV_8UC3);
    for (int k = 0; k < 6; ++k)
        EXPECT_EQ(agt[k], ogt[k]);
    GDALDatasetH map =
        GDALOpen(QFile::encodeName(folder + "/olinda_dem_arrow_map.tif").constData(), GA_ReadOnly);
    GDALDatasetH dem = GDALOpen(QFile::encodeName(dtm).constData(), GA_ReadOnly);
    EXPECT_STREQ(GDALGetProjectionRef(map), GDALGetProjectionRef(dem));
    int hasNoData = 0;
    EXPECT_EQ(GDALGetRasterNoDataValue(GDALGetRasterBand(map, 3), &hasNoData), 0.0);
    EXPECT_TRUE(hasNoData);
    GDALClose(map);
    GDALClose(dem);

    // The extremes and every arrow, as the command must have drawn them.
    const float maxSlope = offered.toFloat();
    const float maxLen = float(sgt[1] / ogt[1] * 10.0 * 0.7f);
    const float K = maxLen / (maxSlope / 100.0f);
    ArrowStats stats{std::numeric_limits<float>::max(), std::numeric_limits<float>::lowest(),
                     std::numeric_limits<float>::max(), std::numeric_limits<float>::lowest()};
    int arrowsChecked = 0;
    for (int r = 0; r < slope.rows; r += 10) {
        for (int c = 0; c < slope.cols; c += 10) {
            const cv::Vec3f v = slope.at<cv::Vec3f>(r, c);
            if (v[0] == -9999.0f)
                continue;
            const float D = 100.0f * v[2];
            const float E = std::min(maxLen, 18.0f + K * v[2]);
            stats.Dmin = std::min(stats.Dmin, D);
            stats.Dmax = std::max(stats.Dmax, D);
            stats.Emin = std::min(stats.Emin, E);
            stats.Emax = std::max(stats.Emax, E);
            if (D <= 0.0f)
                continue;
            const double px = std::trunc((c * sgt[1] + sgt[0] - ogt[0]) / ogt[1]);
            const double py = std::trunc((r * sgt[5] + sgt[3] - ogt[3]) / ogt[5]);
            const double norm = std::hypot(v[0], v[1]);
            const cv::Point at(int(std::lround(px + 2.0 / 3.0 * E * v[0] / norm)),
                               int(std::lround(py - 2.0 / 3.0 * E * v[1] / norm)));
            if (!cv::Rect(0, 0, arrows.cols, arrows.rows).contains(at))
                continue;
            EXPECT_EQ(arrows.at<cv::Vec3b>(at), cv::Vec3b(255, 255, 255))
                << "arrow of cell " << c << "," << r;
            ++arrowsChecked;
        }
    }
    EXPECT_GT(arrowsChecked, 50);
    EXPECT_GT(cv::norm(arrows, landsat, cv::NORM_L1), 0.0);

    const cv::Mat legend = cv::imread((folder + "/olinda_dem_LGND.tif").toStdString());
    const cv::Mat summary = cv::imread((folder + "/olinda_dem_summary.tif").toStdString());
    ASSERT_EQ(legend.size(), cv::Size(450, 460));
    ASSERT_EQ(summary.size(), cv::Size(450, 80));
    // The summary's texts from the extremes found here.
    cv::Mat expected(80, 450, CV_8UC3, cv::Scalar::all(255));
    const float deg = 180.0f / float(M_PI);
    const std::pair<std::string, cv::Point> texts[] = {
        {"max%", {40, 30}},
        {"min%", {140, 30}},
        {"mxGR", {240, 30}},
        {"mnGR", {340, 30}},
        {cv::format("%.2f", double(stats.Dmax)), {40, 70}},
        {cv::format("%.2f", double(stats.Dmin)), {140, 70}},
        {cv::format("%.2f", double(std::atan(stats.Dmax / 100.0f) * deg)), {240, 70}},
        {cv::format("%.2f", double(std::atan(stats.Dmin / 100.0f) * deg)), {340, 70}}};
    for (const auto& [text, at] : texts)
        cv::putText(expected, text, at, cv::FONT_HERSHEY_PLAIN, 2.0, cv::Scalar::all(0), 2, cv::LINE_AA);
    EXPECT_EQ(cv::norm(summary, expected, cv::NORM_INF), 0.0);
    // The legend's longest arrow, at row 40, is black in its head.
    EXPECT_EQ(legend.at<cv::Vec3b>(40, 100 + int(std::lround(2.2 / 3.0 * stats.Emax))), cv::Vec3b(0, 0, 0));

    SaveView(arrows, QStringLiteral("DrawArrow_arrow_map"));
    SaveView(legend, QStringLiteral("DrawArrow_legend"));
    SaveView(summary, QStringLiteral("DrawArrow_summary"));
}

TEST_F(DrawArrowTest, TheDialogRefusesAMaximumSlopeNotAboveZeroAndKeepsTheProfileOnEscape) {
    CKelvaroDoc doc;
    ZQT_WriteUserProfileString("Max Slope", "Max Slope", "7.5");
    {
        CDrawArrowDlg dialog(&doc);
        ui.AnswerModal([&](QDialog& d) {
            PressOk(d, "20", "0.4", "0");
            EXPECT_EQ(ui.MessageTexts(), QStringList{"Invalid value"});
            EXPECT_TRUE(d.isVisible());
            PressOk(d, "20", "0.4", "abc");
            EXPECT_TRUE(d.isVisible());
            return PressOk(d, "20", "0.4", "3.5");
        });
        EXPECT_EQ(dialog.DoModal(), IDOK);
        EXPECT_EQ(dialog.m_dMaxSlope, 3.5);
        EXPECT_EQ(dialog.m_dMaxLengthMultiplier, 0.4);
    }
    // Escape with no slope map chosen: 18 and 0.7, and the stored maximum slope.
    CDrawArrowDlg escaped(&doc);
    ui.AnswerModal(IDCANCEL);
    EXPECT_EQ(escaped.DoModal(), IDCANCEL);
    EXPECT_EQ(escaped.m_editMaxMultiplier.text(), "0.4");
    EXPECT_EQ(escaped.m_dMinVectorLength, 18.0);
    EXPECT_EQ(escaped.m_dMaxLengthMultiplier, 0.7);
    EXPECT_EQ(escaped.m_dMaxSlope, 3.5);
}

TEST_F(DrawArrowTest, ATerrainModelWithoutDataStillGivesAllFourFiles) {
    CKelvaroDoc doc;
    const QString folder = kvtest::NewTempFolder("arrows_empty");
    const double gt[6] = {0, 10, 0, 1000, 0, -10};
    const double nd = -9999;
    const QString dtm =
        ptest::WriteGrid(folder + "/empty.tif", cv::Mat(40, 40, CV_32FC1, cv::Scalar(-9999)), gt, &nd);
    ui.AnswerFile(dtm);
    ui.AnswerFile(ptest::GreyOrtho(folder + "/grey.tif", 100, 100, 4.0, 0.0, 1000.0));
    CmdDrawArrow(doc.m_pCad);
    EXPECT_EQ(ui.MessageTexts(), (QStringList{"SlopeMap generation done", "Arrow Map generation done"}));
    for (const char* name :
         {"empty_SlopeMap.tif", "empty_arrow_map.tif", "empty_LGND.tif", "empty_summary.tif"})
        EXPECT_TRUE(QFile::exists(folder + '/' + name)) << name;
    // A legend that cannot be written (a folder holds its name) is not reported as done.
    ui.Clear();
    QFile::remove(folder + "/empty_LGND.tif");
    ASSERT_TRUE(QDir().mkpath(folder + "/empty_LGND.tif"));
    ui.AnswerFile(dtm);
    ui.AnswerFile(folder + "/grey.tif");
    CmdDrawArrow(doc.m_pCad);
    EXPECT_EQ(ui.MessageTexts(), (QStringList{"SlopeMap generation done", "Unable to save Arrow Map!"}));
    // Nothing was sampled: the orthophoto comes back as it was.
    EXPECT_EQ(cv::norm(ptest::ReadRaster(folder + "/empty_arrow_map.tif"),
                       cv::Mat(100, 100, CV_8UC3, cv::Scalar::all(100)), cv::NORM_INF),
              0.0);
}

}  // namespace
