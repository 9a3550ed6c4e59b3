// Every command that writes files beside its inputs, run where the operator already has a file
// under one of its output names: a symbolic or hard link to one of the command's own input files.
// The command refuses with "The file is used by a loaded layer" before it writes anything, and
// the link and the file it names stay as they were.
#include <QDialog>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <functional>

#include "analysis/CompareDEMDlg.h"
#include "analysis/SurfaceCommands.h"
#include "demtools/ContourLinesDlg.h"
#include "demtools/DemContours.h"
#include "document/KelvaroDoc.h"
#include "platform/cad/Cad.h"
#include "platform/ui/ActiveCommand.h"
#include "products/ControlPointFile.h"
#include "products/LandmarkTransform.h"
#include "products/OrthoAnnotations.h"
#include "products/SlopeArrows.h"
#include "products/SlopeMap.h"
#include "products/TerrainMeshExport.h"
#include "raster/DEM.h"
#include "support/RasterFixtures.h"
#include "support/ScriptedInteraction.h"
#include "support/TestEnv.h"

namespace {

// A link under an output name of a command: symbolic, or hard (another name of the same file).
struct Link {
    QString path;
    QString target;
    bool hard = false;
};

ino_t InodeOf(const QString& path) {
    struct stat s {};
    return ::stat(QFile::encodeName(path).constData(), &s) == 0 ? s.st_ino : 0;
}

// What a row prepares: the inputs, the link, the answers of the operator; then it runs the command.
struct Row {
    const char* command;
    std::function<Link(const QString& folder, CKelvaroDoc& doc, kvtest::ScriptedInteraction& ui)> prepare;
    std::function<void(CadDrawing* drawing)> run;
};

// A terrain model: one Float32 band with no data, 60 x 60 cells of 1 m, a tilted plane.
QString Terrain(const QString& path) {
    kvtest::RasterSpec spec;
    spec.width = spec.height = 60;
    spec.geoTransform = {1000.0, 1.0, 0.0, 2000.0, 0.0, -1.0};
    return kvtest::WriteRaster(path, spec, [](int c, int r, int) { return 10.0 + 0.2 * c + 0.1 * r; });
}

// An orthophoto of the same place: three Byte bands, 0.5 m pixels.
QString Orthophoto(const QString& path) {
    kvtest::RasterSpec spec;
    spec.width = spec.height = 120;
    spec.bands = 3;
    spec.type = GDT_Byte;
    spec.hasNoData = false;
    spec.geoTransform = {1000.0, 0.5, 0.0, 2000.0, 0.0, -0.5};
    return kvtest::WriteRaster(path, spec,
                               [](int c, int r, int b) { return (c * 7 + r * 3 + b * 50) % 256; });
}

Link SymbolicLink(const QString& path, const QString& target) {
    EXPECT_TRUE(QFile::link(target, path)) << path.toStdString();
    return {path, target, false};
}

Link HardLink(const QString& path, const QString& target) {
    EXPECT_EQ(::link(QFile::encodeName(target).constData(), QFile::encodeName(path).constData()), 0)
        << path.toStdString();
    return {path, target, true};
}

const Row kRows[] = {
    {"CONTOURS",
     [](const QString& folder, CKelvaroDoc& doc, kvtest::ScriptedInteraction& ui) {
         const QString dem = Terrain(folder + "/dem.tif");
         EXPECT_EQ(doc.AddDEM(dem, 0), 1);
         EXPECT_EQ(doc.DoSave(folder + "/project.kvp"), 1);
         ui.AnswerModal([](QDialog& d) {
             static_cast<CContourLinesDlg&>(d).m_btnGenerate.click();
             return -1;
         });
         return SymbolicLink(folder + "/dem.tif_Contours.shp", dem);
     },
     [](CadDrawing* drawing) { CmdContours(drawing); }},
    {"COMPAREDEM",
     [](const QString& folder, CKelvaroDoc&, kvtest::ScriptedInteraction& ui) {
         const QString reference = Terrain(folder + "/reference.tif");
         const QString compared = Terrain(folder + "/compared.tif");
         ui.AnswerModal([](QDialog& d) {
             auto& dialog = static_cast<CCompareDEMDlg&>(d);
             dialog.m_btnBrowseReference.click();
             dialog.m_btnBrowseCompared.click();
             dialog.m_btnOK.click();
             return -1;
         });
         ui.AnswerFile(reference);
         ui.AnswerFile(compared);
         return HardLink(folder + "/reference_comparison.jpg", compared);
     },
     [](CadDrawing* drawing) { CmdCompareDem(drawing); }},
    {"CREATESLOPEMAP",
     [](const QString& folder, CKelvaroDoc&, kvtest::ScriptedInteraction& ui) {
         const QString dtm = Terrain(folder + "/dtm.tif");
         ui.AnswerFile(dtm);
         return SymbolicLink(folder + "/dtm_SlopeMap.tif", dtm);
     },
     [](CadDrawing* drawing) { CmdCreateSlopeMap(drawing); }},
    {"DRAWARROW",
     [](const QString& folder, CKelvaroDoc&, kvtest::ScriptedInteraction& ui) {
         const QString dtm = Terrain(folder + "/dtm.tif");
         const QString ortho = Orthophoto(folder + "/ortho.tif");
         ui.AnswerFile(dtm);
         ui.AnswerFile(ortho);
         ui.AnswerModal(IDOK);
         return HardLink(folder + "/dtm_arrow_map.tif", ortho);
     },
     [](CadDrawing* drawing) { CmdDrawArrow(drawing); }},
    {"ADDQUOTES",
     [](const QString& folder, CKelvaroDoc&, kvtest::ScriptedInteraction& ui) {
         const QString dtm = Terrain(folder + "/dtm.tif");
         const QString ortho = Orthophoto(folder + "/ortho.tif");
         ui.AnswerFile(dtm);
         ui.AnswerFile(ortho);
         return SymbolicLink(folder + "/ortho_OrthoQuotes_YRD.tif", dtm);
     },
     [](CadDrawing* drawing) { CmdAddQuotes(drawing); }},
    {"LANDMARKTRANSFORM",
     [](const QString& folder, CKelvaroDoc&, kvtest::ScriptedInteraction& ui) {
         const QString terrain = Terrain(folder + "/terrain.tif");
         ui.AnswerFile(terrain);
         return SymbolicLink(folder + "/terrain_LMT.gtif", terrain);
     },
     [](CadDrawing* drawing) { CmdLandmarkTransform(drawing); }},
    {"WRITEOBJ",
     [](const QString& folder, CKelvaroDoc&, kvtest::ScriptedInteraction& ui) {
         const QString terrain = Terrain(folder + "/terrain.tif");
         const QString ortho = Orthophoto(folder + "/ortho.tif");
         ui.AnswerFile(terrain);
         ui.AnswerFile(ortho);
         return HardLink(folder + "/terrain.mtl", ortho);
     },
     [](CadDrawing* drawing) { CmdWriteObj(drawing); }},
    {"ROTATEFROMPOLY",
     [](const QString& folder, CKelvaroDoc&, kvtest::ScriptedInteraction& ui) {
         const QString ortho = Orthophoto(folder + "/ortho.tif");
         ui.AnswerFile(ortho);
         return SymbolicLink(folder + "/ortho.cpt", ortho);
     },
     [](CadDrawing* drawing) { CmdRotateFromPoly(drawing); }},
};

class CommandOutputsTest : public ::testing::Test {
protected:
    void SetUp() override {
        ActiveCadCommandId = 0;
        CadScriptSetStrict(1);
    }
    void TearDown() override { CadScriptSetStrict(0); }
};

TEST_F(CommandOutputsTest, AnOutputNamedByALinkToAnInputIsRefusedAndTheLinkStays) {
    for (const Row& row : kRows) {
        SCOPED_TRACE(row.command);
        const QString folder = kvtest::NewTempFolder(QString::fromLatin1(row.command).toLower());
        kvtest::ScriptedInteraction ui;
        CKelvaroDoc doc;
        const Link link = row.prepare(folder, doc, ui);
        const QByteArray bytes = kvtest::FileBytes(link.target);
        const ino_t inode = InodeOf(link.target);
        ASSERT_FALSE(bytes.isEmpty());
        row.run(doc.m_pCad);

        EXPECT_TRUE(ui.MessageTexts().contains("The file is used by a loaded layer"))
            << ui.MessageTexts().join(" | ").toStdString();
        EXPECT_TRUE(kvtest::FileBytes(link.target) == bytes);
        if (link.hard) {
            EXPECT_EQ(InodeOf(link.path), inode);
        } else {
            EXPECT_EQ(QFileInfo(link.path).symLinkTarget(), link.target);
        }
        EXPECT_EQ(QDir(folder).entryList({"*.kvsave*"}, QDir::Files | QDir::Hidden), QStringList());
        EXPECT_EQ(ActiveCadCommandId, 0);
    }
}

}  // namespace
