// RASTERIZEMAP: the drawing over the Olinda DEM rendered at the pixel size typed, the limits of
// that size, the stored size and the picture's format.
#include <QDir>
#include <QFile>

#include <gtest/gtest.h>
#include <opencv2/imgcodecs.hpp>

#include "ProductsFixtures.h"
#include "controls/InputValueDlg.h"
#include "document/KelvaroDoc.h"
#include "platform/cad/Cad.h"
#include "platform/tools/ZQT.h"
#include "platform/ui/ActiveCommand.h"
#include "products/RasterizeMap.h"
#include "raster/DEM.h"
#include "support/ScriptedInteraction.h"
#include "support/TestEnv.h"

namespace {

class RasterizeMapTest : public ::testing::Test {
protected:
    void SetUp() override {
        ActiveCadCommandId = 0;
        CadScriptSetStrict(1);
        folder = kvtest::NewTempFolder("rasterize");
    }
    void TearDown() override { CadScriptSetStrict(0); }

    // Answers the pixel-size dialog with the text; keeps the text it showed.
    void AnswerSize(const QString& text) {
        ui.AnswerModal([this, text](QDialog& dialog) {
            auto& input = static_cast<CInputValueDlg&>(dialog);
            EXPECT_EQ(input.windowTitle(), "Insert size [m] of pixels");
            shown.push_back(input.m_Edit.text());
            input.m_Edit.setText(text);
            input.m_btnOK.click();
            return -1;
        });
    }
    static QStringList TemporaryPictures() {
        return QDir(ZQT_GetSpecialFolder(35, 1, 1) + "/tempRasterize").entryList(QDir::Files | QDir::Hidden);
    }

    ptest::FreshProfile profile;
    kvtest::ScriptedInteraction ui;
    QString folder;
    QStringList shown;
};

TEST_F(RasterizeMapTest, TheDrawingOverThePickedDemAtTheTypedPixelSize) {
    CKelvaroDoc doc;
    CadDrawing* d = doc.m_pCad;
    ASSERT_EQ(doc.AddDEM(ptest::OlindaDtm(folder), 0), 1);
    ASSERT_EQ(doc.AddOrtho(ptest::LandsatOrtho(folder), 0, 0), 1);
    ui.Clear();
    CDEM* dem = doc.m_DEMs.begin()->second;
    const double* gt = dem->m_geoTransform;
    // A diagonal from the DEM's top-left corner to its bottom-right one.
    CadClearVertices();
    CadAddVertex(gt[0], gt[3], 0.0);
    CadAddVertex(gt[0] + 111 * gt[1], gt[3] + 111 * gt[5], 0.0);
    CadAddPolyline(d, 0, 0);
    CadEntity* stray = CadAddPoint(d, gt[0] + 50.0, gt[3] - 50.0, 0.0);

    CadScriptPushEntity(d, stray);  // not a layer: asked again
    CadScriptPushEntity(d, dem->m_imageEntity);
    AnswerSize("10");
    ui.AnswerFile(folder + "/map.jpg");
    CmdRasterizeMap(d);
    EXPECT_EQ(ui.MessageTexts(), QStringList{"Image successfully saved"});
    EXPECT_EQ(ui.Messages()[0].icon(), kv::MessageIcon::Information);
    EXPECT_EQ(shown, QStringList{"1"});
    EXPECT_EQ(ZQT_GetUserProfileString("Rasterize", "invScale", ""), "10.00");
    EXPECT_EQ(ActiveCadCommandId, 0);
    EXPECT_TRUE(TemporaryPictures().isEmpty());

    const cv::Mat picture = cv::imread((folder + "/map.jpg").toStdString(), cv::IMREAD_GRAYSCALE);
    ASSERT_EQ(picture.cols, 999);
    ASSERT_EQ(picture.rows, 999);
    // The diagonal shows all along; away from it the picture stays dark.
    for (int i = 20; i < 980; i += 60) {
        double brightest = 0.0;
        cv::minMaxLoc(picture(cv::Rect(i - 2, i - 2, 5, 5)), nullptr, &brightest);
        EXPECT_GT(brightest, 100.0) << i;
    }
    double away = 0.0;
    cv::minMaxLoc(picture(cv::Rect(700, 100, 200, 200)), nullptr, &away);
    EXPECT_LT(away, 30.0);

    // Finer than the engine renders: refused before rendering, nothing stored.
    ui.Clear();
    CadScriptPushEntity(d, dem->m_imageEntity);
    AnswerSize("0.30");
    CmdRasterizeMap(d);
    EXPECT_EQ(ui.MessageTexts(), QStringList{"Invalid value"});
    EXPECT_EQ(ui.PendingFileAnswers(), 0);
    EXPECT_EQ(ZQT_GetUserProfileString("Rasterize", "invScale", ""), "10.00");
    EXPECT_EQ(shown.last(), "10.00");
    EXPECT_TRUE(TemporaryPictures().isEmpty());
}

TEST_F(RasterizeMapTest, TheOnlyLayerIsTakenAndTheSizeLimitsHold) {
    // One orthophoto of 100 m a side, taken without asking.
    CKelvaroDoc doc;
    CadDrawing* d = doc.m_pCad;
    ASSERT_EQ(doc.AddOrtho(ptest::GreyOrtho(folder + "/site.tif", 100, 100, 1.0, 0.0, 100.0), 0, 0), 1);
    ui.Clear();
    CadAddLine(d, 10.0, 10.0, 0.0, 90.0, 90.0, 0.0);
    for (const char* size : {"0.04", "-1", "0", "abc"}) {
        AnswerSize(size);
        CmdRasterizeMap(d);
    }
    EXPECT_EQ(ui.MessageTexts(), QStringList(4, "Invalid value"));
    ui.Clear();
    AnswerSize("0.05");
    ui.AnswerFile(folder + "/site_map.bmp");
    CmdRasterizeMap(d);
    EXPECT_EQ(ui.MessageTexts(), QStringList{"Image successfully saved"});
    EXPECT_EQ(ZQT_GetUserProfileString("Rasterize", "invScale", ""), "0.05");
    QFile bmp(folder + "/site_map.bmp");
    ASSERT_TRUE(bmp.open(QIODevice::ReadOnly));
    EXPECT_EQ(bmp.read(2), "BM");
    const cv::Mat picture = cv::imread((folder + "/site_map.bmp").toStdString());
    EXPECT_EQ(picture.size(), cv::Size(2000, 2000));

    // A name whose format there is no writer for.
    ui.Clear();
    AnswerSize("1");
    ui.AnswerFile(folder + "/site_map.xyz");
    CmdRasterizeMap(d);
    EXPECT_EQ(ui.MessageTexts(), QStringList{"Error on saving the image"});
    EXPECT_FALSE(QFile::exists(folder + "/site_map.xyz"));
    EXPECT_TRUE(TemporaryPictures().isEmpty());
}

}  // namespace
