// The sample project of the repository: how it is made with the program's own save, and that it
// opens in the running program with its DEM, orthophoto and drawing wherever the repository lies.
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QTest>
#include <QWheelEvent>

#include <gdal.h>
#include <gtest/gtest.h>
#include <algorithm>

#include "AppTestSupport.h"
#include "app/MainFrm.h"
#include "app/Ribbon.h"
#include "document/KelvaroDoc.h"
#include "platform/cad/Cad.h"
#include "platform/ui/ActiveCommand.h"
#include "raster/DEM.h"
#include "raster/Ortho.h"
#include "support/Pictures.h"
#include "support/ScriptedInteraction.h"
#include "support/TestEnv.h"

namespace {

const QString kSamples = QStringLiteral(KV_TEST_DATA_DIR "/../../samples");
// UTM 25S coordinates inside the sample's rasters.
constexpr double kX = 291000.0;
constexpr double kY = 9118000.0;

CadEntity* AddOutline(CadDrawing* drawing, double x, double y, double size) {
    CadClearVertices();
    CadAddVertex(x, y, 0);
    CadAddVertex(x + size, y, 0);
    CadAddVertex(x + size, y + size, 0);
    CadAddVertex(x, y + size, 0);
    return CadAddPolyline(drawing, 0, 1);
}

// A new folder with a writable copy of the sample project; empty when a file did not copy.
QString CopySample(const QString& folderName) {
    const QString folder = kvtest::NewTempFolder(folderName);
    for (const char* name : {"olinda.kvp", "olinda.vec", "olinda_dem.tif", "olinda_ortho.tif"}) {
        if (!QFile::copy(kSamples + "/" + name, folder + "/" + name)) {
            ADD_FAILURE() << name;
            return QString();
        }
        QFile::setPermissions(folder + "/" + name, QFile::ReadOwner | QFile::WriteOwner);
    }
    return folder;
}

// Builds the sample project from the sample rasters copied into the folder and saves it there.
int BuildSample(const QString& folder) {
    CKelvaroDoc doc;
    for (const char* name : {"olinda_dem.tif", "olinda_ortho.tif"}) {
        QFile::copy(kSamples + "/" + name, folder + "/" + name);
        QFile::setPermissions(folder + "/" + name, QFile::ReadOwner | QFile::WriteOwner);
    }
    if (!doc.AddDEM(folder + "/olinda_dem.tif", 0) || !doc.AddOrtho(folder + "/olinda_ortho.tif", 0, 0)) {
        return 0;
    }
    CDEM* dem = doc.m_DEMs.at("olinda_dem.tif");
    dem->SeamlinePolylines = {AddOutline(doc.m_pCad, kX, kY, 1500.0),
                             AddOutline(doc.m_pCad, kX + 3000, kY, 1000.0)};
    CadAddLine(doc.m_pCad, kX - 500, kY - 500, 0, kX + 5000, kY + 3000, 0);
    CadAddPoint(doc.m_pCad, kX + 2000, kY + 2500, 0);
    CadAddCircle(doc.m_pCad, kX + 1500, kY + 4000, 0, 400.0);
    CadAddText(doc.m_pCad, "Olinda", kX, kY + 5000, 0);
    doc.m_dOrthoOpacity = 0.6;
    return doc.DoSave(folder + "/olinda.kvp");
}

TEST(SampleProject, IsMadeByTheProgramsOwnSave) {
    GDALAllRegister();
    kvtest::ScriptedInteraction ui;
    const QString folder = kvtest::NewTempFolder("sample");
    ASSERT_EQ(BuildSample(folder), 1);
    {
        CKelvaroDoc doc;
        ASSERT_EQ(doc.OnOpenDocument(folder + "/olinda.kvp"), 1);
        EXPECT_EQ(doc.GetDEMCount(), 1);
        EXPECT_EQ(doc.GetOrthoCount(), 1);
        EXPECT_EQ(doc.m_DEMs.at("olinda_dem.tif")->SeamlinePolylines.size(), 2u);
        EXPECT_TRUE(ui.MessageTexts().isEmpty());
    }
    // KV_WRITE_SAMPLE=1 refreshes the committed sample from this build.
    if (qEnvironmentVariableIsSet("KV_WRITE_SAMPLE")) {
        for (const char* name : {"olinda.kvp", "olinda.vec"}) {
            QFile::remove(kSamples + "/" + name);
            ASSERT_TRUE(QFile::copy(folder + "/" + name, kSamples + "/" + name));
        }
    }
    // The rasters go, so that the paths stored in the sample lead nowhere.
    QDir(folder).removeRecursively();
}

TEST(SampleProject, OpensInTheProgramWithItsLayersAndDrawing) {
    GDALAllRegister();
    kvtest::StoreCompleteUserData();
    kvtest::ScriptedInteraction ui;
    ActiveCadCommandId = 0;
    // A copy, as in a fresh clone: the paths stored in the archive do not exist there.
    const QString folder = CopySample("clone");
    ASSERT_FALSE(folder.isEmpty());
    kvtest::AppUnderTest app;
    ASSERT_NE(app.App().InitInstance(), 0);
    CMainFrame* frame = app.App().GetMainFrame();
    ASSERT_EQ(app.App().OpenDocumentFile(folder + "/olinda.kvp"), 1);
    ASSERT_EQ(CKelvaroDoc::GetOpenDocuments().size(), 1);
    CKelvaroDoc* doc = CKelvaroDoc::GetOpenDocuments()[0];
    EXPECT_TRUE(ui.MessageTexts().isEmpty()) << ui.MessageTexts().join('\n').toStdString();
    ASSERT_EQ(doc->GetDEMCount(), 1);
    ASSERT_EQ(doc->GetOrthoCount(), 1);
    EXPECT_EQ(doc->m_DEMs.at("olinda_dem.tif")->m_path, folder + "/olinda_dem.tif");
    EXPECT_EQ(doc->m_DEMs.at("olinda_dem.tif")->SeamlinePolylines.size(), 2u);
    EXPECT_EQ(CadCountEntities(doc->m_pCad), 2 + 6);
    EXPECT_EQ(frame->GetOpacitySlider()->GetPos(), 60);
    EXPECT_FALSE(doc->IsModified());

    frame->resize(1280, 800);
    frame->show();
    QTest::qWait(100);
    // The orthophoto and the DEM fill much of the drawing window, in many colours over black.
    const QImage shot = kvtest::Screenshot(frame, QStringLiteral("main-window-sample-project"));
    QWidget* cad = CadGetWindow(doc->m_pCad);
    ASSERT_NE(cad, nullptr);
    const QRect drawing = kvtest::PlaceIn(cad, frame);
    EXPECT_LT(kvtest::ColourShare(shot, Qt::black, drawing), 0.75);
    EXPECT_GT(kvtest::ColourCount(shot, drawing), 1000);
    app.App().GetProjectTemplate()->CloseAllDocuments();
}

// How much of the view the drawing's extents fill: the larger of the two ratios of their width
// and height to the view's, 0 when the extents do not lie inside the view.
double ExtentsFill(CadDrawing* drawing, QWidget* cad) {
    double l, b, r, t, vl, vb, vr, vt;
    if (!CadGetExtents(drawing, &l, &b, &r, &t) || !CadGetViewRect(cad, &vl, &vb, &vr, &vt)) {
        return 0.0;
    }
    if (l < vl || r > vr || b < vb || t > vt) {
        return 0.0;
    }
    return std::max((r - l) / (vr - vl), (t - b) / (vt - vb));
}

TEST(SampleProject, OpenedAtStartUpItsWindowIsMaximizedAndTheDrawingFillsTheView) {
    GDALAllRegister();
    kvtest::StoreCompleteUserData();
    kvtest::ScriptedInteraction ui;
    ActiveCadCommandId = 0;
    const QString folder = CopySample("startup_sample");
    ASSERT_FALSE(folder.isEmpty());
    // The project opens before the main window is shown and sized.
    kvtest::AppUnderTest app({folder + "/olinda.kvp"});
    ASSERT_NE(app.App().InitInstance(), 0);
    CMainFrame* frame = app.App().GetMainFrame();
    ASSERT_EQ(CKelvaroDoc::GetOpenDocuments().size(), 1);
    CKelvaroDoc* doc = CKelvaroDoc::GetOpenDocuments()[0];
    QTest::qWait(50);
    ASSERT_EQ(frame->GetMDIArea()->subWindowList().size(), 1);
    EXPECT_TRUE(frame->GetMDIArea()->subWindowList()[0]->isMaximized());
    QWidget* cad = CadGetWindow(doc->m_pCad);
    ASSERT_NE(cad, nullptr);
    EXPECT_GT(cad->width(), 400);
    EXPECT_GT(ExtentsFill(doc->m_pCad, cad), 0.9);

    // Sized again before the operator moved the view, it still shows the whole drawing.
    frame->showNormal();
    frame->resize(1000, 700);
    QTest::qWait(50);
    EXPECT_GT(ExtentsFill(doc->m_pCad, cad), 0.9);
    EXPECT_FALSE(doc->IsModified());

    // Once the operator zoomed, sizing the window keeps the view's scale.
    CadExecute(doc->m_pCad, cad, CAD_CMD_ZOOM_EXTENTS);
    double l0, b0, r0, t0;
    CadGetViewRect(cad, &l0, &b0, &r0, &t0);
    QWheelEvent wheel(QPointF(200, 150), cad->mapToGlobal(QPointF(200, 150)), QPoint(), QPoint(0, 120),
                      Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(cad, &wheel);
    double l1, b1, r1, t1;
    CadGetViewRect(cad, &l1, &b1, &r1, &t1);
    ASSERT_LT(r1 - l1, r0 - l0);
    const double pixel = (r1 - l1) / cad->width();
    frame->resize(900, 650);
    QTest::qWait(50);
    double l2, b2, r2, t2;
    CadGetViewRect(cad, &l2, &b2, &r2, &t2);
    EXPECT_NEAR((r2 - l2) / cad->width(), pixel, pixel * 1e-9);
    app.App().GetProjectTemplate()->CloseAllDocuments();
}

}  // namespace
