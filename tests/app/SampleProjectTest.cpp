// The sample project of the repository: how it is made with the program's own save, and that it
// opens in the running program with its DEM, orthophoto and drawing wherever the repository lies.
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMdiArea>
#include <QTest>

#include <gdal.h>
#include <gtest/gtest.h>

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
    dem->m_linkedEntities = {AddOutline(doc.m_pCad, kX, kY, 1500.0),
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
        EXPECT_EQ(doc.m_DEMs.at("olinda_dem.tif")->m_linkedEntities.size(), 2u);
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
    const QString folder = kvtest::NewTempFolder("clone");
    for (const char* name : {"olinda.kvp", "olinda.vec", "olinda_dem.tif", "olinda_ortho.tif"}) {
        ASSERT_TRUE(QFile::copy(kSamples + "/" + name, folder + "/" + name)) << name;
        QFile::setPermissions(folder + "/" + name, QFile::ReadOwner | QFile::WriteOwner);
    }
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
    EXPECT_EQ(doc->m_DEMs.at("olinda_dem.tif")->m_linkedEntities.size(), 2u);
    EXPECT_EQ(CadCountEntities(doc->m_pCad), 2 + 6);
    EXPECT_EQ(frame->GetOpacitySlider()->GetPos(), 60);
    EXPECT_FALSE(doc->IsModified());

    frame->resize(1280, 800);
    frame->show();
    if (QWidget* cad = CadGetWindow(doc->m_pCad)) {
        CadExecute(doc->m_pCad, cad, CAD_CMD_ZOOM_EXTENTS);
    }
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

}  // namespace
