// ADDQUOTES, ADDPOINTS and ADDLONGMEAS driven through the choosers, the orthophoto pick and the
// operator's points; the texts of the written copies are compared with what cv::putText draws.
#include <QDir>
#include <QFile>

#include <gtest/gtest.h>
#include <opencv2/imgproc.hpp>

#include "ProductsFixtures.h"
#include "document/KelvaroDoc.h"
#include "platform/cad/Cad.h"
#include "platform/ui/ActiveCommand.h"
#include "products/OrthoAnnotations.h"
#include "raster/Ortho.h"
#include "support/ScriptedInteraction.h"
#include "support/TestEnv.h"

namespace {

const cv::Vec3b kGrey(100, 100, 100);
constexpr int kDuplex = cv::FONT_HERSHEY_DUPLEX;

class OrthoAnnotationsTest : public ::testing::Test {
protected:
    void SetUp() override {
        ActiveCadCommandId = 0;
        CadScriptSetStrict(1);
        d = doc.m_pCad;
    }
    void TearDown() override { CadScriptSetStrict(0); }

    // An orthophoto layer of the project and its image place.
    CadEntity* AddOrthoLayer(const QString& path) {
        EXPECT_EQ(doc.AddOrtho(path, 0, 0), 1);
        ui.Clear();  // the question about overview levels
        for (const auto& [name, ortho] : doc.m_Orthos)
            if (ortho->m_path == path)
                return ortho->m_imageEntity;
        return nullptr;
    }
    bool History(const char* line) { return ptest::InHistory(d, line); }

    kvtest::ScriptedInteraction ui;
    CKelvaroDoc doc;
    CadDrawing* d = nullptr;
};

TEST_F(OrthoAnnotationsTest, QuotesAreHeightsAboveTheBaseInMetresAndInInches) {
    const QString folder = kvtest::NewTempFolder("quotes");
    // Terrain of 1 m cells rising 0.5 m per column; orthophoto of 0.25 m pixels over it.
    cv::Mat heights(100, 100, CV_32FC1);
    for (int c = 0; c < 100; ++c)
        heights.col(c).setTo(10.0 + 0.5 * c);
    const double gt[6] = {0, 1, 0, 100, 0, -1};
    const double nd = -9999;
    const QString dtm = ptest::WriteGrid(folder + "/terrain.tif", heights, gt, &nd);
    const QString ortho = ptest::GreyOrtho(folder + "/site.tif", 400, 400, 0.25, 0.0, 100.0);
    CadEntity* place = AddOrthoLayer(ortho);
    CadEntity* stray = CadAddPoint(d, 5.0, 5.0, 0.0);

    ui.AnswerFile(dtm);
    ui.AnswerFile(ortho);
    CadScriptPushEntity(d, stray);  // not an orthophoto: asked again
    CadScriptPushEntity(d, place);
    CadScriptPushPoint(d, 500.0, 500.0, 0.0);  // off the terrain: asked again
    CadScriptPushPoint(d, 10.5, 50.5, 0.0);    // base, 15.0 m
    CadScriptPushPoint(d, 13.5, 40.5, 0.0);    // 16.5 m
    CadScriptPushFinish(d);
    CmdAddQuotes(d);

    EXPECT_EQ(ui.MessageTexts(), QStringList{"OrthoQuotes image generation done"});
    EXPECT_EQ(ActiveCadCommandId, 0);
    EXPECT_TRUE(History("Invalid entity"));
    int points = 0;
    for (CadLayer* layer = CadGetFirstLayer(d); layer; layer = CadGetNextLayer(d, layer))
        for (CadEntity* e = CadLayerGetFirstEntity(layer); e; e = CadLayerGetNextEntity(layer, e))
            points += CadEntityGetType(e) == CAD_ENT_POINT;
    EXPECT_EQ(points, 1 + 3);  // the stray point and the three picks

    const cv::Mat metres = ptest::ReadRaster(folder + "/site_OrthoQuotes.tif");
    const cv::Mat inches = ptest::ReadRaster(folder + "/site_OrthoQuotes_YRD.tif");
    ASSERT_EQ(metres.size(), cv::Size(400, 400));
    ASSERT_EQ(inches.size(), cv::Size(400, 400));
    // g = 4 pixels per cell; the quote at pixel (54, 238), its text 4 pixels above it.
    const cv::Scalar black(0, 0, 0);
    EXPECT_TRUE(ptest::ShowsText(metres, " 1.50", {54, 234}, kDuplex, 2.0, black, 2, kGrey));
    EXPECT_TRUE(ptest::ShowsText(inches, "59.06", {69, 234}, kDuplex, 2.0, black, 2, kGrey));
    // The base at pixel (42, 198): a red disc under its black rim, "0" above it.
    EXPECT_EQ(metres.at<cv::Vec3b>(198, 42), cv::Vec3b(255, 0, 0));
    EXPECT_EQ(inches.at<cv::Vec3b>(198, 42), cv::Vec3b(255, 0, 0));
    EXPECT_TRUE(ptest::ShowsText(metres, "0", {47, 174}, kDuplex, 2.0, black, 2, kGrey));

    // The second image cannot be written (a folder holds its name): the operator is told.
    QFile::remove(folder + "/site_OrthoQuotes_YRD.tif");
    ASSERT_TRUE(QDir().mkpath(folder + "/site_OrthoQuotes_YRD.tif"));
    ui.Clear();
    ui.AnswerFile(dtm);
    ui.AnswerFile(ortho);
    CadScriptPushEntity(d, place);
    CadScriptPushPoint(d, 10.5, 50.5, 0.0);
    CadScriptPushFinish(d);
    CmdAddQuotes(d);
    EXPECT_EQ(ui.MessageTexts(), QStringList{"Unable to save OrthoQuotes image!"});
    EXPECT_EQ(ActiveCadCommandId, 0);
}

TEST_F(OrthoAnnotationsTest, WidthAndLengthInMetresAndYardsAndARightClickSkipsTheWidth) {
    const QString folder = kvtest::NewTempFolder("points");
    const QString ortho = ptest::GreyOrtho(folder + "/hole.tif", 1000, 600, 0.05, 0.0, 30.0);
    CadEntity* place = AddOrthoLayer(ortho);
    auto pixel = [&](double column, double row) {
        CadScriptPushPoint(d, column * 0.05, 30.0 - row * 0.05, 0.0);
    };

    ui.AnswerFile(ortho);
    CadScriptPushEntity(d, place);
    pixel(100, 300);
    pixel(200, 310);  // 100 pixels apart: 5 m
    pixel(50, 100);
    pixel(55, 140);  // 40 pixels down: 2 m
    CmdAddPoints(d);
    EXPECT_EQ(ui.MessageTexts(), QStringList{"image generation done"});
    const cv::Scalar black(0, 0, 0);
    cv::Mat image = ptest::ReadRaster(folder + "/hole_ortho_Meas.tif");
    EXPECT_TRUE(ptest::ShowsText(image, "width = 5.0 5.5", {500, 80}, kDuplex, 4.0, black, 2, kGrey));
    EXPECT_TRUE(ptest::ShowsText(image, "lenght = 2.0 2.2", {20, 300}, kDuplex, 4.0, black, 2, kGrey));

    ui.Clear();
    ui.AnswerFile(ortho);
    CadScriptPushEntity(d, place);
    pixel(100, 300);
    CadScriptPushFinish(d);  // before the second width point
    pixel(50, 100);
    pixel(55, 140);
    CmdAddPoints(d);
    EXPECT_EQ(ui.MessageTexts(), QStringList{"image generation done"});
    image = ptest::ReadRaster(folder + "/hole_ortho_Meas.tif");
    EXPECT_TRUE(ptest::IsPlain(image, cv::Rect(500, 0, 500, 90), kGrey));
    EXPECT_TRUE(ptest::ShowsText(image, "lenght = 2.0 2.2", {20, 300}, kDuplex, 4.0, black, 2, kGrey));
    EXPECT_EQ(ActiveCadCommandId, 0);
}

TEST(FormatYardageTest, MetresAndYardsToOneDecimal) {
    EXPECT_EQ(FormatYardage(200, 0.5), "100.0 109.4");
    EXPECT_EQ(FormatYardage(0, 0.5), "0.0 0.0");
    EXPECT_EQ(FormatYardage(std::hypot(30, 40), 0.1), "5.0 5.5");
}

TEST_F(OrthoAnnotationsTest, LongMeasurementsSkipWhatTheOperatorSkipped) {
    const QString folder = kvtest::NewTempFolder("long");
    const QString ortho = ptest::GreyOrtho(folder + "/tee.tif", 1500, 1500, 0.5, 0.0, 750.0);
    AddOrthoLayer(ortho);  // the only orthophoto layer: taken without a pick
    auto pixel = [&](double column, double row) {
        CadScriptPushPoint(d, column * 0.5 + 0.1, 750.0 - row * 0.5 - 0.1, 0.0);
    };
    ui.AnswerFile(ortho);
    pixel(100, 100);         // white
    CadScriptPushFinish(d);  // yellow skipped
    pixel(1400, 100);        // blue
    pixel(300, 1000);        // red
    CadScriptPushFinish(d);  // green
    CadScriptPushFinish(d);  // orange
    CadScriptPushFinish(d);  // second ref skipped: its measuring step is left out
    pixel(500, 1000);        // from the tees: 200 pixels from red
    CadScriptPushFinish(d);
    CadScriptPushFinish(d);  // no end of green
    CmdAddLongMeas(d);

    EXPECT_EQ(ui.MessageTexts(), QStringList{"image generation done"});
    EXPECT_EQ(ActiveCadCommandId, 0);
    EXPECT_TRUE(History("select point to measure from tee"));
    EXPECT_FALSE(History("select point to measure from second ref point"));
    const cv::Mat image = ptest::ReadRaster(folder + "/tee_ortho_Meas.tif");
    EXPECT_EQ(image.at<cv::Vec3b>(1000, 500), cv::Vec3b(0, 0, 0));
    EXPECT_TRUE(
        ptest::ShowsText(image, "100.0 109.4", {500, 888}, kDuplex, 4.0, cv::Scalar(255, 0, 0), 3, kGrey));
    // Where the yellow distance would stand, nothing.
    EXPECT_TRUE(ptest::IsPlain(image, cv::Rect(490, 892, 700, 100), kGrey));

    // A second reference in column 0 is a real one: its step runs. Cancel at the end of the green
    // then ends the command without a file.
    QFile::remove(folder + "/tee_ortho_Meas.tif");
    ui.Clear();
    ui.AnswerFile(ortho);
    for (int i = 0; i < 6; ++i)
        CadScriptPushFinish(d);
    pixel(0, 500);           // second ref
    CadScriptPushFinish(d);  // no point from the tees
    pixel(300, 500);
    CadScriptPushFinish(d);
    CadScriptPushCancel(d);  // at "select end of green"
    CmdAddLongMeas(d);
    EXPECT_TRUE(History("select point to measure from second ref point"));
    EXPECT_TRUE(ui.Messages().empty());
    EXPECT_FALSE(QFile::exists(folder + "/tee_ortho_Meas.tif"));
    EXPECT_EQ(ActiveCadCommandId, 0);
    EXPECT_TRUE(doc.m_strCommandPrompt.isEmpty());
}

}  // namespace
