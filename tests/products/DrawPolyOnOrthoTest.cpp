// DRAWPOLYLINEONORTHO driven as the operator drives it: the style dialog answered, entities of the
// drawing picked, and the "%s_Bordered" copy read back pixel by pixel. The orthophoto is 300 x 300
// grey pixels of 1 m with its top-left corner at (0, 300), so world (x, y) is pixel (x, 300 - y).
#include <QFile>

#include <gtest/gtest.h>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include <cmath>

#include "ProductsFixtures.h"
#include "document/KelvaroDoc.h"
#include "platform/cad/Cad.h"
#include "platform/tools/ZQT.h"
#include "platform/ui/ActiveCommand.h"
#include "products/DrawPolyOnOrtho.h"
#include "products/DrawPolyOnOrthoDlg.h"
#include "support/Pictures.h"
#include "support/ScriptedInteraction.h"
#include "support/TestEnv.h"

namespace {

const cv::Vec3b kGrey(100, 100, 100);

CadEntity* Polyline(CadDrawing* d, const std::vector<cv::Point2d>& points, int closed) {
    CadClearVertices();
    for (const cv::Point2d& p : points)
        CadAddVertex(p.x, p.y, 0.0);
    return CadAddPolyline(d, 0, closed);
}

// The dialog script: a line type, a preset, an optional weight, then OK.
std::function<int(QDialog&)> Style(QRadioButton CDrawPolyOnOrthoDlg::*type, const char* preset = nullptr,
                                   const char* weight = nullptr, bool filled = false) {
    return [=](QDialog& d) {
        auto& dialog = static_cast<CDrawPolyOnOrthoDlg&>(d);
        (dialog.*type).click();
        for (QPushButton* button : dialog.Presets())
            if (preset && button->text() == preset)
                button->click();
        if (weight)
            dialog.m_editWeight.setText(weight);
        if (filled)
            dialog.m_checkFilled.click();
        dialog.m_btnOK.click();
        return -1;
    };
}

class DrawPolyOnOrthoTest : public ::testing::Test {
protected:
    void SetUp() override {
        ActiveCadCommandId = 0;
        CadScriptSetStrict(1);
        folder = kvtest::NewTempFolder("bordered");
        ortho = ptest::GreyOrtho(folder + "/field.tif", 300, 300, 1.0, 0.0, 300.0);
        ASSERT_EQ(doc.AddOrtho(ortho, 0, 0), 1);
        d = doc.m_pCad;
    }
    void TearDown() override { CadScriptSetStrict(0); }

    cv::Mat Bordered() { return ptest::ReadRaster(folder + "/field_Bordered.tif"); }

    ptest::FreshProfile profile;
    kvtest::ScriptedInteraction ui;
    CKelvaroDoc doc;
    CadDrawing* d = nullptr;
    QString folder, ortho;
};

TEST_F(DrawPolyOnOrthoTest, EachLineTypeBurnsItsEntityAndDrawAllWritesTheCopy) {
    // Dashed polyline: 25 vertices 10 m apart along y = 250; runs 1 (x 0..90) and 3 (x 200..240).
    std::vector<cv::Point2d> row;
    for (int i = 0; i < 25; ++i)
        row.emplace_back(10.0 * i + 5.0, 250.0);
    CadEntity* dashed = Polyline(d, row, 0);
    CadEntity* diagonal = Polyline(d, {{20.5, 200.5}, {60.5, 180.5}}, 0);
    CadEntity* vertical = Polyline(d, {{280.5, 100.5}, {280.5, 180.5}}, 0);
    CadEntity* square = Polyline(d, {{100, 100}, {140, 100}, {140, 140}, {100, 140}}, 1);
    CadEntity* arc = CadAddArc(d, 200.0, 150.0, 0.0, 40.0, 0.0, M_PI / 2);
    CadEntity* circle = CadAddCircle(d, 60.0, 60.0, 0.0, 20.0);
    CadEntity* point = CadAddPoint(d, 10.0, 10.0, 0.0);

    ui.AnswerFile(ortho);
    ui.AnswerModal([](QDialog& d) {
        auto& dialog = static_cast<CDrawPolyOnOrthoDlg&>(d);
        const QImage shot = kvtest::Screenshot(&dialog, QStringLiteral("CDrawPolyOnOrthoDlg"));
        // The colour button shows the stored type's white; the presets are drawn.
        EXPECT_GT(kvtest::ColourShare(shot, Qt::white, kvtest::PlaceIn(&dialog.m_btnColor, &dialog)), 0.2);
        EXPECT_GT(kvtest::ColourCount(shot, kvtest::PlaceIn(dialog.Presets().front(), &dialog)), 3);
        return Style(&CDrawPolyOnOrthoDlg::m_radioDashedPoly, nullptr, "3")(d);
    });
    CadScriptPushEntity(d, dashed);
    CadScriptPushEntity(d, point);  // refused, the pick goes on
    CadScriptPushFinish(d);
    ui.AnswerModal(Style(&CDrawPolyOnOrthoDlg::m_radioDashedSegment));
    CadScriptPushEntity(d, diagonal);
    CadScriptPushEntity(d, vertical);
    CadScriptPushFinish(d);
    ui.AnswerModal(Style(&CDrawPolyOnOrthoDlg::m_radioContinua, "Water", nullptr, true));
    CadScriptPushEntity(d, square);
    CadScriptPushFinish(d);
    ui.AnswerModal(Style(&CDrawPolyOnOrthoDlg::m_radioArc, "Yellow", "4"));
    CadScriptPushEntity(d, arc);
    CadScriptPushFinish(d);
    ui.AnswerModal(Style(&CDrawPolyOnOrthoDlg::m_radioCircle, "Red"));
    CadScriptPushEntity(d, circle);
    CadScriptPushFinish(d);
    ui.AnswerModal([](QDialog& d) {
        static_cast<CDrawPolyOnOrthoDlg&>(d).m_btnDrawAll.click();
        return -1;
    });
    CmdDrawPolylineOnOrtho(d);

    EXPECT_EQ(ui.MessageTexts(), QStringList{"Image generation done"});
    EXPECT_EQ(ActiveCadCommandId, 0);
    EXPECT_TRUE(doc.m_AreaVertices.empty());
    char history[256] = {};
    bool refused = false;
    for (int i = 0; CadCmdGetHistory(d, i, history, sizeof history); ++i)
        refused = refused || QString::fromUtf8(history) == "Invalid entity";
    EXPECT_TRUE(refused);

    const cv::Mat image = Bordered();
    ASSERT_EQ(image.size(), cv::Size(300, 300));
    // Runs 1 and 3 in white, the second run's pixels untouched.
    EXPECT_EQ(image.at<cv::Vec3b>(50, 45), cv::Vec3b(255, 255, 255));
    EXPECT_EQ(image.at<cv::Vec3b>(50, 225), cv::Vec3b(255, 255, 255));
    for (int x = 110; x <= 190; ++x)
        EXPECT_EQ(image.at<cv::Vec3b>(50, x), kGrey) << x;
    // The diagonal segment draws nothing; the vertical one black dashes of 20 pixels from its top.
    EXPECT_EQ(image.at<cv::Vec3b>(110, 40), kGrey);
    EXPECT_EQ(image.at<cv::Vec3b>(130, 280), cv::Vec3b(0, 0, 0));
    EXPECT_EQ(image.at<cv::Vec3b>(150, 280), kGrey);
    EXPECT_EQ(image.at<cv::Vec3b>(170, 280), cv::Vec3b(0, 0, 0));
    // The filled square in the water colour.
    EXPECT_EQ(image.at<cv::Vec3b>(180, 120), cv::Vec3b(0, 255, 255));
    // The arc's quarter from east to north, the other quarters untouched.
    const cv::Point onArc(200 + int(std::lround(40 * std::cos(M_PI / 4))),
                          150 - int(std::lround(40 * std::sin(M_PI / 4))));
    EXPECT_EQ(image.at<cv::Vec3b>(onArc), cv::Vec3b(255, 255, 0));
    EXPECT_EQ(image.at<cv::Vec3b>(150 + 28, 200 - 28), kGrey);
    // The circle: a red disc with a black outline.
    EXPECT_EQ(image.at<cv::Vec3b>(240, 60), cv::Vec3b(255, 0, 0));
    EXPECT_EQ(image.at<cv::Vec3b>(240, 80), cv::Vec3b(0, 0, 0));

    cv::Mat bgr;
    cv::cvtColor(image, bgr, cv::COLOR_RGB2BGR);
    cv::imwrite(QStringLiteral(KV_SCREENSHOT_DIR "/DrawPolyOnOrtho_bordered.png").toStdString(), bgr);
}

TEST_F(DrawPolyOnOrthoTest, CancelWritesNothingEscapeWritesAndAStoredArcChecksNoType) {
    ZQT_WriteUserProfileString("Line type", "Line type", "Arc");
    ui.AnswerFile(ortho);
    ui.AnswerModal([](QDialog& d) {
        auto& dialog = static_cast<CDrawPolyOnOrthoDlg&>(d);
        EXPECT_FALSE(dialog.m_radioArc.isChecked());
        EXPECT_FALSE(dialog.m_radioDashedPoly.isChecked());
        EXPECT_EQ(dialog.m_editStep.text(), "10");
        EXPECT_EQ(dialog.m_editWeight.text(), "8");
        dialog.m_btnCancel.click();
        return -1;
    });
    CmdDrawPolylineOnOrtho(d);
    EXPECT_FALSE(QFile::exists(folder + "/field_Bordered.tif"));
    EXPECT_TRUE(ui.Messages().empty());
    EXPECT_EQ(ActiveCadCommandId, 0);
    EXPECT_TRUE(doc.m_strCommandPrompt.isEmpty());

    // OK stores the style; the reopened dialog starts from it; Escape there writes.
    CadEntity* line = Polyline(d, {{10, 290}, {290, 290}}, 0);
    ui.AnswerFile(ortho);
    ui.AnswerModal([](QDialog& d) {
        auto& dialog = static_cast<CDrawPolyOnOrthoDlg&>(d);
        dialog.m_radioContinuaLunga.click();
        dialog.m_editWeight.setText("");  // empty: the weight of the last OK stays
        dialog.m_btnOK.click();
        EXPECT_EQ(dialog.m_nWeight, 8);
        return -1;
    });
    CadScriptPushEntity(d, line);
    CadScriptPushFinish(d);
    ui.AnswerModal([](QDialog& d) {
        auto& dialog = static_cast<CDrawPolyOnOrthoDlg&>(d);
        EXPECT_TRUE(dialog.m_radioContinuaLunga.isChecked());
        EXPECT_EQ(dialog.m_editWeight.text(), "35");
        return IDCANCEL;
    });
    CmdDrawPolylineOnOrtho(d);
    EXPECT_EQ(ZQT_GetUserProfileString("Line type", "Line type", ""), "ContinuaLunga");
    EXPECT_EQ(ZQT_GetUserProfileString("Line Color", "color", ""), "102;51;0");
    EXPECT_EQ(ui.MessageTexts(), QStringList{"Image generation done"});
    EXPECT_EQ(Bordered().at<cv::Vec3b>(10, 150), cv::Vec3b(102, 51, 0));

    // Once a layer shows the copy, the command refuses to write over it and asks nothing more.
    ASSERT_EQ(doc.AddOrtho(folder + "/field_Bordered.tif", 0, 0), 1);
    ui.Clear();
    ui.AnswerFile(ortho);
    CmdDrawPolylineOnOrtho(d);
    EXPECT_EQ(ui.MessageTexts(), QStringList{"The file is used by a loaded layer"});
    EXPECT_TRUE(ui.Dialogs().isEmpty());
    EXPECT_EQ(ActiveCadCommandId, 0);

    // A project without orthophoto layers says so and asks nothing.
    CKelvaroDoc empty;
    ui.Clear();
    CmdDrawPolylineOnOrtho(empty.m_pCad);
    EXPECT_TRUE(ui.Choosers().empty());
    char prompt[64] = {};
    CadCmdGetPrompt(empty.m_pCad, prompt, sizeof prompt);
    EXPECT_STREQ(prompt, "No Ortho loaded");
}

TEST_F(DrawPolyOnOrthoTest, StepsBelowOneAndWeightsOutsideTheDrawableRangeAreBounded) {
    cv::Mat image(300, 300, CV_8UC3, cv::Scalar::all(100));
    const double gt[6] = {0, 1, 0, 300, 0, -1};
    std::vector<Wml::Point3> picked;
    CadEntity* line = Polyline(d, {{10, 150}, {150, 150}, {290, 150}}, 0);
    OrthoLineStyle style;
    style.dashedPoly = 1;
    style.step = 0;  // runs of one vertex: nothing to draw, and no endless loop
    EXPECT_EQ(DrawEntityOnOrtho(image, gt, line, style, picked), EntityDrawing::Drawn);
    EXPECT_EQ(cv::countNonZero(image.reshape(1) != 100), 0);
    EXPECT_EQ(picked.size(), 3u);

    style = OrthoLineStyle();
    style.colour = kv::Rgb(255, 0, 0);
    style.weight = 0;  // one pixel
    picked.clear();
    EXPECT_EQ(DrawEntityOnOrtho(image, gt, line, style, picked), EntityDrawing::Drawn);
    EXPECT_EQ(image.at<cv::Vec3b>(150, 100), cv::Vec3b(255, 0, 0));
    EXPECT_EQ(image.at<cv::Vec3b>(152, 100), kGrey);
    style.weight = 100000;  // held to 255 pixels
    style.colour = kv::Rgb(0, 0, 255);
    picked.clear();
    EXPECT_EQ(DrawEntityOnOrtho(image, gt, line, style, picked), EntityDrawing::Drawn);
    EXPECT_EQ(image.at<cv::Vec3b>(150 + 120, 150), cv::Vec3b(0, 0, 255));
    EXPECT_EQ(image.at<cv::Vec3b>(150 + 140, 150), kGrey);

    // Ellipses are no entity to draw; a circle with neither arc nor circle type is left alone.
    picked.clear();
    EXPECT_EQ(
        DrawEntityOnOrtho(image, gt, CadAddEllipse(d, 150, 150, 0, 40, 20, 0.3, 0, 2 * M_PI), style, picked),
        EntityDrawing::Invalid);
    EXPECT_EQ(DrawEntityOnOrtho(image, gt, CadAddCircle(d, 150, 150, 0, 40), style, picked),
              EntityDrawing::Ignored);
}

}  // namespace
