// Pictures of the surface tools for a person to look at (build/screenshots): the comparison
// dialog, the report's page and the subtract dialog, each checked for what it must show.
#include <gtest/gtest.h>

#include <QDesktopServices>
#include <QImage>
#include <QProcess>
#include <QTest>

#include "analysis/CompareDEMDlg.h"
#include "analysis/SubtractDEMDlg.h"
#include "analysis/SurfaceCommands.h"
#include "document/KelvaroDoc.h"
#include "platform/cad/Cad.h"
#include "platform/ui/ElevationColorRamp.h"
#include "raster/DEM.h"
#include "support/Pictures.h"
#include "support/RasterFixtures.h"
#include "support/ScriptedInteraction.h"
#include "support/TestEnv.h"

namespace {

QString Dem(const QString& path, double left, const std::function<double(int, int, int)>& value) {
    kvtest::RasterSpec spec;
    spec.width = 80;
    spec.height = 60;
    spec.geoTransform = {left, 1.0, 0.0, 60.0, 0.0, -1.0};
    return kvtest::WriteRaster(path, spec, value);
}

TEST(SurfaceScreenshotTest, TheComparisonDialogAndTheReportPageShowTheirContent) {
    const QString folder = kvtest::NewTempFolder("screens");
    const QString reference =
        Dem(folder + "/Reference.tif", 0.0, [](int c, int r, int) { return 50 + c * 0.2 + r * 0.1; });
    const QString compared = Dem(folder + "/Compared.tif", 20.0, [](int c, int r, int) {
        return 50 + (c + 20) * 0.2 + r * 0.1 + (c < 20 ? 0.3 : c < 45 ? 2.0 : 7.0);
    });
    kvtest::ScriptedInteraction ui;
    QDesktopServices::setUrlHandler("file", nullptr, nullptr);
    CKelvaroDoc doc;
    QImage dialogPicture;
    ui.AnswerModal([&](QDialog& d) {
        auto& dlg = static_cast<CCompareDEMDlg&>(d);
        dlg.m_btnBrowseReference.click();
        dlg.m_btnBrowseCompared.click();
        dialogPicture = kvtest::Screenshot(&dlg, "compare_dem_dialog");
        dlg.m_btnOK.click();
        return -1;
    });
    ui.AnswerFile(reference);
    ui.AnswerFile(compared);
    CmdCompareDem(doc.m_pCad);
    ASSERT_FALSE(dialogPicture.isNull());
    // The three colour buttons show the class colours.
    EXPECT_GT(kvtest::ColourShare(dialogPicture, QColor(0, 255, 0)), 0.0);
    EXPECT_GT(kvtest::ColourShare(dialogPicture, QColor(255, 255, 0)), 0.0);
    EXPECT_GT(kvtest::ColourShare(dialogPicture, QColor(255, 0, 0)), 0.0);

    const QString page = QStringLiteral(KV_SCREENSHOT_DIR) + "/comparison_report";
    QProcess run;
    run.start("pdftoppm", {"-png", "-r", "72", "-singlefile", folder + "/Reference_comparison.pdf", page});
    ASSERT_TRUE(run.waitForFinished(30000));
    const QImage report(page + ".png");
    ASSERT_FALSE(report.isNull());
    // White paper, black text and the picture's three class colours (JPEG: within a tolerance).
    EXPECT_GT(kvtest::ColourShare(report, Qt::white), 0.5);
    EXPECT_GT(kvtest::ColourShare(report, Qt::black, QRect(), 40), 0.0);
    for (const QColor& colour : {QColor(0, 255, 0), QColor(255, 255, 0), QColor(255, 0, 0)}) {
        EXPECT_GT(kvtest::ColourShare(report, colour, QRect(), 60), 0.001) << colour.name().toStdString();
    }
}

// A - B is 0.5 on the western 20 columns of the overlap and 2 on the rest; the tolerance is 0.5.
TEST(SurfaceScreenshotTest, TheSubtractPreviewDrawsTheDifferenceAndTheReadoutNamesItUnderTheCursor) {
    const QString folder = kvtest::NewTempFolder("screens-subtract");
    BuildElevationColorRamp();  // the application builds it at start
    kvtest::ScriptedInteraction ui;
    CKelvaroDoc doc;
    ASSERT_EQ(doc.AddDEM(Dem(folder + "/a.tif", 0.0,
                             [](int c, int r, int) { return 50 + r * 0.25 + (c < 30 ? 0.5 : 2.0); }),
                         0),
              1);
    ASSERT_EQ(doc.AddDEM(Dem(folder + "/b.tif", 10.0, [](int, int r, int) { return 50 + r * 0.25; }), 0), 1);
    CSubtractDEMDlg dlg(&doc, doc.m_DEMs["a.tif"], doc.m_DEMs["b.tif"]);
    dlg.show();
    dlg.m_editTolerance.setText("0.5");
    ASSERT_TRUE(QTest::qWaitFor([&] { return dlg.Result() != nullptr; }, 10000));
    EXPECT_EQ(dlg.m_editMin.text(), "0.500");
    EXPECT_EQ(dlg.m_editMax.text(), "2.000");
    QWidget* window = dlg.Preview().Window();
    ASSERT_NE(window, nullptr);
    window->repaint();
    const auto label = [&] {
        char text[128] = {0};
        if (dlg.ReadoutLabel()) {
            CadTextGetText(dlg.ReadoutLabel(), text, sizeof text);
        }
        return QString::fromUtf8(text);
    };
    dlg.OnCadMouseMove(0, 15.5, 30.5);
    EXPECT_EQ(label(), "No difference");
    dlg.OnCadMouseMove(0, 75.5, 30.5);
    EXPECT_EQ(label(), "Difference Z: 2.000");
    window->repaint();
    const QImage picture = kvtest::Screenshot(&dlg, "subtract_dem_dialog");
    // The preview shows the two values in the two end colours of the elevation ramp.
    for (const uint32_t c : {ElevationColorRamp[0], ElevationColorRamp[ElevationColorRampSize - 1]}) {
        EXPECT_GT(kvtest::ColourShare(picture, QColor(c & 0xFF, (c >> 8) & 0xFF, (c >> 16) & 0xFF),
                                      kvtest::PlaceIn(window, &dlg)),
                  0.05);
    }
    dlg.OnCadMouseMove(0, 200.0, 30.5);  // off the result: the label stays where it was
    EXPECT_EQ(label(), "Difference Z: 2.000");
}

}  // namespace
