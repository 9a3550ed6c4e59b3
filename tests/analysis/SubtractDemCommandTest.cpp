// The subtract command as the operator runs it: the picks of A and B and the pairs refused, then
// the dialog's first computation, Update, Export and Close with the files it leaves.
#include <gtest/gtest.h>

#include <QDir>
#include <QFileInfo>
#include <QMdiArea>
#include <QTest>
#include <QTimer>

#include "analysis/AnalysisCommands.h"
#include "analysis/SubtractDEMDlg.h"
#include "analysis/SurfaceCommands.h"
#include "document/KelvaroDoc.h"
#include "document/UserCommands.h"
#include "platform/cad/Cad.h"
#include "platform/tools/ZQT.h"
#include "platform/ui/ActiveCommand.h"
#include "platform/ui/CadCommandIds.h"
#include "platform/ui/ElevationColorRamp.h"
#include "raster/DEM.h"
#include "support/MouseInput.h"
#include "support/Pictures.h"
#include "support/RasterFixtures.h"
#include "support/ScriptedInteraction.h"
#include "support/TestEnv.h"
#include "view/KelvaroFrame.h"
#include "view/KelvaroView.h"

namespace {

QString Dem(const QString& path, double left, double cell,
            const std::function<double(int, int, int)>& value) {
    kvtest::RasterSpec spec;
    spec.width = 50;
    spec.height = 40;
    spec.geoTransform = {left, cell, 0.0, 1000.0, 0.0, -cell};
    return kvtest::WriteRaster(path, spec, value);
}

QString History(CadDrawing* drawing, int lines) {
    QString text;
    char line[1024];
    for (int i = 0; i < lines && CadCmdGetHistory(drawing, i, line, sizeof line); ++i) {
        text += QString::fromUtf8(line) + '\n';
    }
    return text;
}

QStringList WorkingFiles() {
    return QDir(ZQT_GetSpecialFolder(CSIDL_COMMON_APPDATA, 1, 1)).entryList({"*.gtif"}, QDir::Files);
}

class SubtractDemCommandTest : public ::testing::Test {
protected:
    void SetUp() override {
        ActiveCadCommandId = 0;
        CadScriptSetStrict(1);
        m_folder = kvtest::NewTempFolder("subtract");
    }
    void TearDown() override { CadScriptSetStrict(0); }
    CDEM* Add(CKelvaroDoc& doc, const QString& path) {
        EXPECT_EQ(doc.AddDEM(path, 0), 1) << path.toStdString();
        return doc.m_DEMs[QFileInfo(path).fileName().toLower()];
    }
    QString m_folder;
};

TEST_F(SubtractDemCommandTest, PicksNeedTwoDifferentDemsOfTheSameCellsThatOverlap) {
    kvtest::ScriptedInteraction ui;
    CKelvaroDoc doc;
    CadDrawing* d = doc.m_pCad;
    CDEM* a = Add(doc, Dem(m_folder + "/a.tif", 0.0, 1.0, [](int, int, int) { return 10.0; }));
    CmdSubtractDem(d);
    EXPECT_TRUE(History(d, 2).contains("Two DEMs are needed")) << History(d, 2).toStdString();
    EXPECT_EQ(ActiveCadCommandId, 0);

    CDEM* coarse = Add(doc, Dem(m_folder + "/coarse.tif", 0.0, 2.0, [](int, int, int) { return 10.0; }));
    CDEM* apart = Add(doc, Dem(m_folder + "/apart.tif", 100.0, 1.0, [](int, int, int) { return 10.0; }));
    CadScriptPushEntity(d, a->m_imageEntity);
    CadScriptPushEntity(d, a->m_imageEntity);  // B the same as A: asked again
    CadScriptPushEntity(d, coarse->m_imageEntity);
    CmdSubtractDem(d);
    CadScriptPushEntity(d, a->m_imageEntity);
    CadScriptPushEntity(d, apart->m_imageEntity);
    CmdSubtractDem(d);
    EXPECT_TRUE(History(d, 8).contains("Select DEM B (A - B = C) DEM 'A' and DEM 'B' can't be the same"))
        << History(d, 8).toStdString();
    EXPECT_EQ(ui.MessageTexts(), (QStringList{"Selected DEMs must have same resolution!",
                                              "Selected DEMs must have overlapping area!"}));
    EXPECT_TRUE(ui.Dialogs().isEmpty());
    EXPECT_EQ(ActiveCadCommandId, 0);
}

TEST_F(SubtractDemCommandTest, TheDialogComputesUpdatesExportsAndLeavesNoTemporaryFile) {
    kvtest::ScriptedInteraction ui;
    CKelvaroDoc doc;
    CadDrawing* d = doc.m_pCad;
    CDEM* a = Add(doc, Dem(m_folder + "/a.tif", 0.0, 1.0, [](int c, int, int) { return 10.0 + c * 0.25; }));
    CDEM* b =
        Add(doc, Dem(m_folder + "/b.tif", 10.0, 1.0, [](int, int r, int) { return r < 5 ? -9999.0 : 10.0; }));
    const QStringList before = WorkingFiles();
    CadScriptPushEntity(d, a->m_imageEntity);
    CadScriptPushEntity(d, b->m_imageEntity);
    QStringList seen;
    ui.AnswerModal([&](QDialog& dialog) {
        auto& dlg = static_cast<CSubtractDEMDlg&>(dialog);
        EXPECT_TRUE(QTest::qWaitFor([&] { return dlg.Result() != nullptr; }, 10000));
        seen << dlg.windowTitle() << dlg.m_editMin.text() << dlg.m_editMax.text();
        const CDEM* first = dlg.Result();
        EXPECT_EQ(first->m_imageDefId, 1000);
        EXPECT_EQ(WorkingFiles().size(), before.size() + 1);
        // The same tolerance again does nothing; a bad one is refused and the result stays.
        dlg.m_editTolerance.setText("0.000");
        dlg.m_btnUpdate.click();
        dlg.m_editTolerance.setText("-1");
        dlg.m_btnUpdate.click();
        EXPECT_EQ(dlg.Result(), first);
        dlg.m_editTolerance.setText("5");
        dlg.m_btnUpdate.click();
        EXPECT_EQ(dlg.Tolerance(), 5.0);
        seen << dlg.m_editMin.text() << dlg.m_editMax.text();
        EXPECT_EQ(WorkingFiles().size(), before.size() + 1);
        dlg.m_btnExport.click();  // onto A's own file: refused, then a new file
        dlg.m_btnClose.click();
        return -1;
    });
    ui.AnswerFile(m_folder + "/a.tif");
    ui.AnswerFile(m_folder + "/exported");
    CmdSubtractDem(d);
    EXPECT_EQ(seen, (QStringList{"Subctract DEMs: a.tif - b.tif", "2.500", "12.250", "0.000", "12.250"}));
    EXPECT_EQ(ui.MessageTexts(),
              (QStringList{"Invalid tolerance value!", "The file is used by a loaded layer"}));
    EXPECT_EQ(WorkingFiles(), before);
    const auto exported = kvtest::ReadBand(m_folder + "/exported.gtif");
    ASSERT_EQ(exported.size(), size_t(40 * 40));
    EXPECT_EQ(exported[0], -9999.0);
    EXPECT_EQ(exported[5 * 40 + 39], 12.25);
    EXPECT_EQ(exported[5 * 40 + 0], 0.0);
    EXPECT_EQ(ActiveCadCommandId, 0);
}

TEST_F(SubtractDemCommandTest, WithoutCommonDataTheRangeShowsDashesAndCloseWaitsForTheComputation) {
    kvtest::ScriptedInteraction ui;
    CKelvaroDoc doc;
    CDEM* a = Add(doc, Dem(m_folder + "/a.tif", 0.0, 1.0, [](int, int, int) { return 10.0; }));
    CDEM* b = Add(doc, Dem(m_folder + "/b.tif", 10.0, 1.0, [](int, int, int) { return -9999.0; }));
    CSubtractDEMDlg dlg(&doc, a, b);
    dlg.show();
    // Close and the window's close are pressed while the computation lets events through: both
    // wait, so the result the computation is making is not taken from under it.
    QTimer::singleShot(0, &dlg, [&] {
        dlg.m_btnClose.click();
        dlg.reject();
    });
    ASSERT_EQ(dlg.ComputeDifference(0.0, true), 1);
    EXPECT_TRUE(dlg.isVisible());
    EXPECT_NE(dlg.Result(), nullptr);
    EXPECT_EQ(dlg.m_editMin.text(), "---");
    EXPECT_EQ(dlg.m_editMax.text(), "---");
    EXPECT_EQ(dlg.Result()->m_imageEntity, nullptr);
}

// A - B is 0.5 on the western 20 columns of the overlap and 2 on the rest; the tolerance is 0.5.
TEST_F(SubtractDemCommandTest, ThePreviewDrawsTheDifferenceAndTheReadoutNamesItUnderTheCursor) {
    BuildElevationColorRamp();  // the application builds it at start
    kvtest::ScriptedInteraction ui;
    CKelvaroDoc doc;
    CDEM* a = Add(doc, Dem(m_folder + "/a.tif", 0.0, 1.0,
                           [](int c, int r, int) { return 50 + r * 0.25 + (c < 30 ? 0.5 : 2.0); }));
    CDEM* b = Add(doc, Dem(m_folder + "/b.tif", 10.0, 1.0, [](int, int r, int) { return 50 + r * 0.25; }));
    CSubtractDEMDlg dlg(&doc, a, b);
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
    dlg.OnCadMouseMove(0, 15.5, 980.5);
    EXPECT_EQ(label(), "No difference");
    dlg.OnCadMouseMove(0, 45.5, 980.5);
    EXPECT_EQ(label(), "Difference Z: 2.000");
    window->repaint();
    const QImage picture = kvtest::Screenshot(&dlg, "subtract_dem_dialog");
    // The preview shows the two values in the two end colours of the elevation ramp.
    for (const uint32_t c : {ElevationColorRamp[0], ElevationColorRamp[ElevationColorRampSize - 1]}) {
        EXPECT_GT(kvtest::ColourShare(picture, QColor(c & 0xFF, (c >> 8) & 0xFF, (c >> 16) & 0xFF),
                                      kvtest::PlaceIn(window, &dlg)),
                  0.05);
    }
    dlg.OnCadMouseMove(0, 200.0, 980.5);  // off the result: the label stays where it was
    EXPECT_EQ(label(), "Difference Z: 2.000");
}

// Every cell of the difference holds its own value (A - B = 1000 + column + 100 row of A). At the
// preview's full view, and zoomed in, the readout names the cell under the cursor.
TEST_F(SubtractDemCommandTest, TheReadoutNamesTheCellUnderTheCursorAtEveryZoom) {
    BuildElevationColorRamp();
    kvtest::ScriptedInteraction ui;
    CKelvaroDoc doc;
    CDEM* a = Add(
        doc, Dem(m_folder + "/a.tif", 0.0, 1.0, [](int c, int r, int) { return 1000.0 + c + 100.0 * r; }));
    CDEM* b = Add(doc, Dem(m_folder + "/b.tif", 10.0, 1.0, [](int, int, int) { return 0.0; }));
    CSubtractDEMDlg dlg(&doc, a, b);
    dlg.show();
    ASSERT_TRUE(QTest::qWaitFor([&] { return dlg.Result() != nullptr; }, 10000));
    QWidget* window = dlg.Preview().Window();
    ASSERT_NE(window, nullptr);
    const auto label = [&] {
        char text[128] = {0};
        if (dlg.ReadoutLabel()) {
            CadTextGetText(dlg.ReadoutLabel(), text, sizeof text);
        }
        return QString::fromUtf8(text);
    };
    const auto zoom = [&](double left, double bottom, double right, double top) {
        CadViewRect(window, left, bottom, right, top);
        window->repaint();
    };
    for (const auto& view :
         {std::array<double, 4>{10, 960, 50, 1000}, std::array<double, 4>{20, 975, 30, 985}}) {
        SCOPED_TRACE(view[0]);
        zoom(view[0], view[1], view[2], view[3]);
        int wrong = 0, read = 0;
        // Positions across the cells of the view, near their edges too.
        for (double y = view[1] + 0.05; y < view[3]; y += 1.3) {
            for (double x = view[0] + 0.05; x < view[2]; x += 1.3) {
                dlg.OnCadMouseMove(0, x, y);
                const int column = int(std::floor(x)), row = int(std::floor(1000.0 - y));
                const QString expected =
                    QString::asprintf("Difference Z: %.3lf", 1000.0 + column + 100.0 * row);
                wrong += label() != expected;
                ++read;
            }
        }
        EXPECT_EQ(wrong, 0) << "of " << read;
    }
}

// Contour lines lie over two DEMs of the same cells. The operator clicks on a line: "Select DEM
// A" takes the DEM on top, "Select DEM B" at the same place the one below it, and DEM analysis's
// "Select DEM" a DEM as well.
TEST_F(SubtractDemCommandTest, ClicksOnContourLinesTakeTheDemsBelowThemOneAfterTheOther) {
    kvtest::ScriptedInteraction ui;
    ui.AnswerModal(IDCANCEL);
    ui.AnswerModal(IDCANCEL);
    RegisterAnalysisCommands(GetCommandRegistry());
    CadScriptSetStrict(0);
    auto* doc = new CKelvaroDoc();
    CadDrawing* d = doc->m_pCad;
    Add(*doc, Dem(m_folder + "/lower.tif", 0.0, 1.0, [](int, int, int) { return 10.0; }));
    Add(*doc, Dem(m_folder + "/upper.tif", 0.0, 1.0, [](int c, int, int) { return 20.0 + c; }));
    CadLayer* contours = CadAddLayer(d, "upper.tif_Contours", 7, 0xEE6BA7FD, -3);
    CadClearVertices();
    CadAddVertex(0.0, 980.0, 30.0);
    CadAddVertex(50.0, 980.0, 30.0);
    CadEntityPutLayerID(CadAddPolyline(d, 5, 0), CadLayerGetID(contours));
    QMdiArea area;
    area.resize(800, 600);
    area.show();
    CKelvaroFrame* frame = CreateProjectWindow(doc, &area);
    frame->showMaximized();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&area));
    QWidget* view = frame->GetView()->GetCadWindow();
    CadExecute(d, view, CAD_CMD_ZOOM_EXTENTS);

    // Each pick answered by one click at the place given, the run ended when the clicks are used up.
    const auto runWithClicks = [&](int command, const std::vector<double>& xs) {
        size_t clicks = 0;
        QTimer hand;
        hand.setInterval(10);
        QObject::connect(&hand, &QTimer::timeout, [&] {
            if (CadCmdGetWaiting(d) != CAD_WAIT_ENTITY) {
                return;
            }
            if (clicks == xs.size()) {
                CadCmdFinish(d);
                return;
            }
            int x = 0, y = 0;
            CadCoordModelToWin(view, xs[clicks++], 980.0, &x, &y);
            kvtest::MoveThroughWindow(view, QPoint(x, y));
            kvtest::ClickThroughWindow(view, QPoint(x, y));
        });
        hand.start();
        CadExecute(d, view, command);
        EXPECT_EQ(clicks, xs.size());
    };
    runWithClicks(CMD_SUBTRACTDEM, {20.0, 20.0});
    EXPECT_EQ(History(d, 2).toStdString(),
              "Select DEM B (A - B = C) lower.tif\nSelect DEM A (A - B = C) upper.tif\n");
    runWithClicks(CMD_DEMANALYSIS, {35.0});
    EXPECT_EQ(History(d, 1).toStdString(), "Select DEM upper.tif\n");
    EXPECT_EQ(ui.Dialogs().join(' ').toStdString(), "CSubtractDEMDlg CDEMAnalysisDlg");
    EXPECT_EQ(ActiveCadCommandId, 0);
    doc->OnCloseDocument();
}

}  // namespace
