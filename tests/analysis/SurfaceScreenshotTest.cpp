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

TEST(SurfaceScreenshotTest, TheSubtractDialogShowsItsRange) {
    const QString folder = kvtest::NewTempFolder("screens-subtract");
    kvtest::ScriptedInteraction ui;
    CKelvaroDoc doc;
    ASSERT_EQ(doc.AddDEM(Dem(folder + "/a.tif", 0.0, [](int c, int, int) { return 50 + c * 0.5; }), 0), 1);
    ASSERT_EQ(doc.AddDEM(Dem(folder + "/b.tif", 10.0, [](int, int r, int) { return 60 + r * 0.2; }), 0), 1);
    CSubtractDEMDlg dlg(&doc, doc.m_DEMs["a.tif"], doc.m_DEMs["b.tif"]);
    dlg.show();
    ASSERT_TRUE(QTest::qWaitFor([&] { return dlg.Result() != nullptr; }, 10000));
    const QImage picture = kvtest::Screenshot(&dlg, "subtract_dem_dialog");
    EXPECT_EQ(dlg.m_editMin.text(), "-16.800");
    EXPECT_EQ(dlg.m_editMax.text(), "29.500");
    EXPECT_GT(kvtest::ColourCount(picture), 10);
}

}  // namespace
