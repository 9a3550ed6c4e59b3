// The DEM resize as the operator runs it: a DEM picked in the drawing or browsed for, the target
// cell size, the output file; wrong picks, bad targets and cancelled choices.
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

#include <gdal.h>
#include <gtest/gtest.h>

#include <vector>

#include "DemToolsTestSupport.h"
#include "demtools/DemEditCommands.h"
#include "demtools/DemOutputCommands.h"
#include "demtools/ResizeDEMDlg.h"
#include "document/KelvaroDoc.h"
#include "platform/cad/Cad.h"
#include "platform/ui/ActiveCommand.h"
#include "raster/DEM.h"
#include "raster/Ortho.h"
#include "support/Pictures.h"
#include "support/ScriptedInteraction.h"
#include "support/TestEnv.h"

namespace {

// A north-up Float32 DEM with no data -9999: a slope with a hole in its middle.
QString WriteDem(const QString& path, int width, int height, double gsd) {
    GDALDatasetH ds = GDALCreate(GDALGetDriverByName("GTiff"), QFile::encodeName(path).constData(), width,
                                 height, 1, GDT_Float32, nullptr);
    EXPECT_NE(ds, nullptr);
    double gt[6] = {500000.0, gsd, 0.0, 4000000.0, 0.0, -gsd};
    GDALSetGeoTransform(ds, gt);
    GDALRasterBandH band = GDALGetRasterBand(ds, 1);
    GDALSetRasterNoDataValue(band, -9999.0);
    std::vector<float> row(static_cast<size_t>(width));
    for (int r = 0; r < height; ++r) {
        for (int c = 0; c < width; ++c) {
            const bool hole = std::abs(c - width / 2) < width / 10 && std::abs(r - height / 2) < height / 10;
            row[size_t(c)] = hole ? -9999.0f : float(100.0 + 0.01 * c + 0.02 * r);
        }
        EXPECT_EQ(GDALRasterIO(band, GF_Write, 0, r, width, 1, row.data(), width, 1, GDT_Float32, 0, 0),
                  CE_None);
    }
    GDALClose(ds);
    return path;
}

// A three-band Byte GeoTIFF: an orthophoto.
QString WriteOrtho(const QString& path) {
    GDALDatasetH ds = GDALCreate(GDALGetDriverByName("GTiff"), QFile::encodeName(path).constData(), 64, 64, 3,
                                 GDT_Byte, nullptr);
    double gt[6] = {500100.0, 1.0, 0.0, 4000100.0, 0.0, -1.0};
    GDALSetGeoTransform(ds, gt);
    GDALClose(ds);
    return path;
}

// The dialog answered by a script on the dialog itself.
void AnswerDialog(kvtest::ScriptedInteraction& ui, std::function<void(CResizeDEMDlg&)> script) {
    ui.AnswerModal([script](QDialog& dialog) {
        auto& resize = static_cast<CResizeDEMDlg&>(dialog);
        EXPECT_EQ(resize.windowTitle(), "Resize DEM");
        script(resize);
        return -1;
    });
}

void PressSelectDem(kvtest::ScriptedInteraction& ui) {
    AnswerDialog(ui, [](CResizeDEMDlg& d) { d.m_btnSelectDem.click(); });
}

void ConfirmTarget(kvtest::ScriptedInteraction& ui, const QString& target, QString* shownGsd = nullptr) {
    AnswerDialog(ui, [target, shownGsd](CResizeDEMDlg& d) {
        if (shownGsd) {
            *shownGsd = d.m_editCurrent.text();
        }
        d.m_editTarget.setText(target);
        d.m_btnOK.click();
    });
}

class DemResizeTest : public ::testing::Test {
protected:
    void SetUp() override {
        ActiveCadCommandId = 0;
        CadScriptSetStrict(1);
        m_folder = kvtest::NewTempFolder("resize");
    }
    void TearDown() override { CadScriptSetStrict(0); }
    QString m_folder;
};

TEST_F(DemResizeTest, PickedDemOfOneMetreBecomesALayerOfTheTargetCellSize) {
    kvtest::ScriptedInteraction ui;
    CKelvaroDoc doc;
    ui.AnswerMessage(IDNO);  // no overview levels for the source
    ASSERT_EQ(doc.AddDEM(WriteDem(m_folder + "/Big.tif", 4000, 3000, 1.0), 1), 1);
    CDEM* source = doc.m_DEMs["big.tif"];
    ui.Clear();

    PressSelectDem(ui);
    CadScriptPushEntity(doc.m_pCad, source->m_imageEntity);
    QString shown;
    ConfirmTarget(ui, "2.5", &shown);
    ui.AnswerFile(m_folder + "/Small");
    CmdResizeDem(doc.m_pCad);

    EXPECT_EQ(shown, "1.0000");
    EXPECT_EQ(ui.MessageTexts(), QStringList{"Resizing done"});
    EXPECT_EQ(ui.Messages().back().icon(), kv::MessageIcon::Information);
    EXPECT_EQ(ActiveCadCommandId, 0);
    EXPECT_TRUE(dtest::CommandLineHistory(doc.m_pCad, 3).contains("Select DEM big.tif"))
        << dtest::CommandLineHistory(doc.m_pCad, 3).toStdString();
    ASSERT_EQ(doc.m_DEMs.count("small.gtif"), 1u);
    const dtest::Raster p = dtest::ReadRaster(m_folder + "/Small.gtif");
    EXPECT_EQ(p.width, 1600);
    EXPECT_EQ(p.height, 1200);
    EXPECT_EQ(p.gt[1], 2.5);
    EXPECT_EQ(p.bands, 1);
    EXPECT_EQ(p.type, GDT_Float32);
    EXPECT_EQ(p.noData, -9999.0);
    CDEM* copy = doc.m_DEMs["small.gtif"];
    EXPECT_NEAR(copy->GetElevation(500000.0 + 100.0, 4000000.0 - 100.0), 100.0 + 0.01 * 100 + 0.02 * 100,
                0.05);
    EXPECT_EQ(copy->GetElevation(500000.0 + 2000.0, 4000000.0 - 1500.0), -9999.0);
}

TEST_F(DemResizeTest, BrowsedDemIsResizedByItsOwnCellSizeAndOtherFilesAreRefused) {
    kvtest::ScriptedInteraction ui;
    CKelvaroDoc doc;
    const QString dem = WriteDem(m_folder + "/browsed.tif", 300, 200, 2.0);
    const QString ortho = WriteOrtho(m_folder + "/ortho.tif");
    QString shown;
    AnswerDialog(ui, [&](CResizeDEMDlg& d) {
        // Before a DEM is chosen only the path can be set.
        EXPECT_FALSE(d.m_editTarget.isEnabled());
        d.m_btnBrowse.click();  // a missing file
        d.m_btnBrowse.click();  // an orthophoto
        d.m_btnBrowse.click();  // the DEM
        EXPECT_TRUE(d.m_editTarget.isEnabled());
        shown = d.m_editCurrent.text();
        d.m_editTarget.setText("4");
        d.m_btnOK.click();
    });
    ui.AnswerFile(m_folder + "/missing.tif");
    ui.AnswerFile(ortho);
    ui.AnswerFile(dem);
    // The browsed file itself, through a link, is no output although it is not loaded: the
    // chooser opens again.
    ASSERT_TRUE(QFile::link(dem, m_folder + "/link.tif"));
    ui.AnswerFile(m_folder + "/link.tif");
    ui.AnswerFile(m_folder + "/half.gtif");
    CmdResizeDem(doc.m_pCad);
    EXPECT_EQ(shown, "2.000000");
    EXPECT_EQ(ui.MessageTexts(), (QStringList{"Unable to open selected file!", "Invalid DEM file!",
                                              "The file is used by a loaded layer", "Resizing done"}));
    const dtest::Raster p = dtest::ReadRaster(m_folder + "/half.gtif");
    EXPECT_EQ(p.width, 150);
    EXPECT_EQ(p.height, 100);
    EXPECT_EQ(p.gt[1], 4.0);
    EXPECT_EQ(dtest::ReadRaster(dem).width, 300);
}

TEST_F(DemResizeTest, PickingAnythingButADemSaysInvalidEntityAndAsksAgain) {
    kvtest::ScriptedInteraction ui;
    CKelvaroDoc doc;
    ASSERT_EQ(doc.AddDEM(WriteDem(m_folder + "/dem.tif", 100, 100, 1.0), 0), 1);
    ASSERT_EQ(doc.AddOrtho(WriteOrtho(m_folder + "/ortho.tif"), 0, 0), 1);
    CadDrawing* d = doc.m_pCad;
    CadEntity* line = CadAddLine(d, 0, 0, 0, 10, 10, 0);
    // Tools that take the only DEM get it without a pick.
    EXPECT_EQ(PickDem(d, doc, true), doc.m_DEMs.begin()->second);
    EXPECT_EQ(CadScriptPending(d), 0);

    PressSelectDem(ui);
    CadScriptPushEntity(d, doc.m_Orthos.begin()->second->m_imageEntity);
    CadScriptPushEntity(d, line);
    CadScriptPushEntity(d, doc.m_DEMs.begin()->second->m_imageEntity);
    // Right click on the next pick: the dialog comes back with the DEM still chosen.
    PressSelectDem(ui);
    CadScriptPushFinish(d);
    QString shown;
    AnswerDialog(ui, [&shown](CResizeDEMDlg& d) {
        shown = d.m_editPath.text();
        d.m_btnCancel.click();
    });
    CmdResizeDem(d);
    EXPECT_EQ(shown, m_folder + "/dem.tif");
    const QString history = dtest::CommandLineHistory(d, 6);
    EXPECT_EQ(history.count("Select DEM Invalid entity"), 2) << history.toStdString();
    EXPECT_TRUE(history.contains("Select DEM dem.tif")) << history.toStdString();
    EXPECT_TRUE(ui.MessageTexts().isEmpty());
    EXPECT_EQ(ActiveCadCommandId, 0);
    EXPECT_EQ(doc.GetDEMCount(), 1);
}

TEST_F(DemResizeTest, BadTargetsCancelledChoicesAndTheDemsOwnFileWriteNothing) {
    kvtest::ScriptedInteraction ui;
    CKelvaroDoc doc;
    ASSERT_EQ(doc.AddDEM(WriteDem(m_folder + "/dem.tif", 100, 100, 1.0), 0), 1);
    CadDrawing* d = doc.m_pCad;
    CadEntity* image = doc.m_DEMs.begin()->second->m_imageEntity;
    const auto files = [this] { return QDir(m_folder).entryList(QDir::Files); };
    const QStringList before = files();

    for (const char* target : {"0", "abc"}) {
        ui.Clear();
        PressSelectDem(ui);
        CadScriptPushEntity(d, image);
        ConfirmTarget(ui, target);
        ui.AnswerFile(m_folder + "/out.gtif");
        CmdResizeDem(d);
        EXPECT_EQ(ui.MessageTexts(), QStringList{"error resizing the file"}) << target;
        EXPECT_EQ(ui.Messages().back().icon(), kv::MessageIcon::Error);
        EXPECT_EQ(files(), before);
    }

    // Cancelled output chooser; OK without a DEM; the DEM's own file, also written another way.
    ui.Clear();
    PressSelectDem(ui);
    CadScriptPushEntity(d, image);
    ConfirmTarget(ui, "2");
    ui.AnswerFile("");
    CmdResizeDem(d);
    ConfirmTarget(ui, "2");
    CmdResizeDem(d);
    PressSelectDem(ui);
    CadScriptPushEntity(d, image);
    ConfirmTarget(ui, "2");
    ui.AnswerFile(m_folder + "/dem.tif");
    ui.AnswerFile(m_folder + "/../" + QFileInfo(m_folder).fileName() + "/dem.tif");
    ui.AnswerFile("");
    CmdResizeDem(d);
    EXPECT_EQ(ui.MessageTexts(), (QStringList{"unable to read DEM", "The file is used by a loaded layer",
                                              "The file is used by a loaded layer"}));
    EXPECT_EQ(ui.Choosers().size(), 4);
    EXPECT_EQ(files(), before);
    EXPECT_EQ(doc.GetDEMCount(), 1);
    EXPECT_EQ(ActiveCadCommandId, 0);
    EXPECT_EQ(dtest::ReadRaster(m_folder + "/dem.tif").width, 100);
}

// The DEM's file is cut short after it was added: the resize says "error resizing the file", the
// command line says that the DEM cannot be read and what GDAL said, and nothing is written.
TEST_F(DemResizeTest, ADemCutShortAfterItWasAddedIsNamedAsTheCause) {
    kvtest::ScriptedInteraction ui;
    CKelvaroDoc doc;
    const QString path = WriteDem(m_folder + "/cut.tif", 300, 200, 1.0);
    ASSERT_EQ(doc.AddDEM(path, 0), 1);
    ASSERT_TRUE(QFile::resize(path, QFileInfo(path).size() * 2 / 5));
    const QStringList before = QDir(m_folder).entryList(QDir::Files | QDir::Hidden);
    PressSelectDem(ui);
    CadScriptPushEntity(doc.m_pCad, doc.m_DEMs.begin()->second->m_imageEntity);
    ConfirmTarget(ui, "2");
    ui.AnswerFile(m_folder + "/half.gtif");
    CmdResizeDem(doc.m_pCad);
    EXPECT_EQ(ui.MessageTexts(), QStringList{"error resizing the file"});
    const QString line = dtest::CommandLineHistory(doc.m_pCad, 1).trimmed();
    EXPECT_TRUE(QRegularExpression("^error resizing the file: Unable to read " +
                                   QRegularExpression::escape(path) + ": \\S")
                    .match(line)
                    .hasMatch())
        << line.toStdString();
    EXPECT_EQ(QDir(m_folder).entryList(QDir::Files | QDir::Hidden), before);
    EXPECT_EQ(doc.GetDEMCount(), 1);
    EXPECT_EQ(ActiveCadCommandId, 0);
}

TEST_F(DemResizeTest, DialogScreenshot) {
    CResizeDEMDlg dialog(nullptr, nullptr, "/data/survey/dtm_2023.tif", 0.5);
    dialog.show();
    dialog.m_editTarget.setText("2.0000");
    const QImage shot = kvtest::Screenshot(&dialog, "ResizeDEMDlg");
    // The path and both cell sizes are written in their fields; OK and Cancel carry their icons.
    for (const QWidget* field :
         {static_cast<QWidget*>(&dialog.m_editPath), static_cast<QWidget*>(&dialog.m_editCurrent),
          static_cast<QWidget*>(&dialog.m_editTarget)}) {
        const QRect place = kvtest::PlaceIn(field, &dialog);
        EXPECT_GT(kvtest::ColourShare(shot, Qt::white, place, 8), 0.5);
        EXPECT_GT(kvtest::ColourShare(shot, Qt::black, place, 96), 0.01);
    }
    EXPECT_GT(kvtest::ColourShare(shot, QColor(0, 160, 0), kvtest::PlaceIn(&dialog.m_btnOK, &dialog), 90),
              0.005);
    EXPECT_GT(kvtest::ColourShare(shot, QColor(200, 0, 0), kvtest::PlaceIn(&dialog.m_btnCancel, &dialog), 90),
              0.005);
    EXPECT_EQ(dialog.findChild<QWidget*>("1591"), &dialog.m_editTarget);
    EXPECT_TRUE(dialog.m_editTarget.isEnabled());
}

}  // namespace
