// ROTATEFROMPOLY and WRITEOBJ: the control-point file byte for byte and what abandoned picks and
// failed writes leave; the textured mesh of the Olinda DEM, its texture coordinates, the OBJ's
// heights and material, cells without data and write-protected inputs.
#include <QFile>
#include <QFileInfo>

#include <gtest/gtest.h>
#include <vtkDataArray.h>
#include <vtkNew.h>
#include <vtkPointData.h>
#include <vtkPolyData.h>
#include <vtkXMLPolyDataReader.h>
#include <opencv2/imgcodecs.hpp>

#include <cerrno>
#include <cmath>
#include <limits>

#include "ProductsFixtures.h"
#include "document/KelvaroDoc.h"
#include "platform/cad/Cad.h"
#include "platform/tools/SafeFile.h"
#include "platform/ui/ActiveCommand.h"
#include "products/ControlPointFile.h"
#include "products/TerrainMeshExport.h"
#include "support/ScriptedInteraction.h"
#include "support/TestEnv.h"

namespace {

class TerrainFilesTest : public ::testing::Test {
protected:
    void SetUp() override {
        ActiveCadCommandId = 0;
        CadScriptSetStrict(1);
        d = doc.m_pCad;
    }
    void TearDown() override {
        CadScriptSetStrict(0);
        kv::SetFileFaultHook({});
    }
    CadEntity* Polyline(const std::vector<Wml::Point3>& vertices) {
        CadClearVertices();
        for (const Wml::Point3& v : vertices)
            CadAddVertex(v.X(), v.Y(), v.Z());
        return CadAddPolyline(d, 0, 0);
    }
    static QByteArray Read(const QString& path) {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

    kvtest::ScriptedInteraction ui;
    CKelvaroDoc doc;
    CadDrawing* d = nullptr;
};

TEST_F(TerrainFilesTest, ControlPointFileRowsAndWhatAbandonedPicksLeave) {
    const QString folder = kvtest::NewTempFolder("cpt");
    const QString ortho = ptest::GreyOrtho(folder + "/ortho.tif", 100, 100, 0.5, 1000.0, 2000.0);
    const QString cpt = folder + "/ortho.cpt";
    CadEntity* source = Polyline(
        {{1000.0, 2000.0, 0.0}, {1010.0, 1990.0, 0.0}, {1025.25, 1980.0, 1.0}, {1001.0, 1999.0, 3.0}});
    CadEntity* target = Polyline({{500000.5, 4000000.25, 12.5},
                                  {500020.0, 4000010.0, 13.0},
                                  {500030.125, 4000000.0, -1.5},
                                  {500001.0, 4000001.0, 0.0}});
    CadEntity* longer = Polyline({{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}, {0, 2, 0}});
    ui.AnswerFile(ortho);
    CadScriptPushEntity(d, source);
    CadScriptPushEntity(d, longer);  // more vertices than the source: refused
    CadScriptPushEntity(d, target);
    CmdRotateFromPoly(d);
    EXPECT_EQ(ui.MessageTexts(), QStringList{"Process done"});
    EXPECT_EQ(ActiveCadCommandId, 0);
    const QByteArray expected =
        "Collimazioni - 4\n\n"
        "00;500000.500000;4000000.250000;12.500000;0.000000;0.000000;0.1;0.1;0.0;0.0;0.0;1;3;0;\n"
        "01;500020.000000;4000010.000000;13.000000;20.000000;20.000000;0.1;0.1;0.0;0.0;0.0;1;3;0;\n"
        "02;500030.125000;4000000.000000;-1.500000;50.500000;40.000000;0.1;0.1;0.0;0.0;0.0;1;3;0;\n"
        "03;500001.000000;4000001.000000;0.000000;2.000000;2.000000;0.1;0.1;0.0;0.0;0.0;1;3;0;\n";
    EXPECT_EQ(Read(cpt), expected);

    // A right click at either prompt leaves the file as it was; so does a file that cannot be put
    // in place, which the operator is warned of.
    ui.Clear();
    ui.AnswerFile(ortho);
    CadScriptPushFinish(d);
    CmdRotateFromPoly(d);
    ui.AnswerFile(ortho);
    CadScriptPushEntity(d, source);
    CadScriptPushFinish(d);
    CmdRotateFromPoly(d);
    kv::SetFileFaultHook(
        [](kv::FileStep step, const QString&) { return step == kv::FileStep::Rename ? ENOSPC : 0; });
    ui.AnswerFile(ortho);
    CadScriptPushEntity(d, source);
    CadScriptPushEntity(d, Polyline({{7, 7, 7}, {8, 8, 8}}));
    CmdRotateFromPoly(d);
    kv::SetFileFaultHook({});
    EXPECT_EQ(ui.MessageTexts(), QStringList{"Unable to export file!"});
    EXPECT_EQ(ActiveCadCommandId, 0);
    EXPECT_EQ(Read(cpt), expected);

    // A shorter target pairs with the first source vertices.
    ui.AnswerFile(ortho);
    CadScriptPushEntity(d, source);
    CadScriptPushEntity(d, Polyline({{1, 2, 3}, {4, 5, 6}}));
    CmdRotateFromPoly(d);
    EXPECT_EQ(Read(cpt),
              "Collimazioni - 2\n\n"
              "00;1.000000;2.000000;3.000000;0.000000;0.000000;0.1;0.1;0.0;0.0;0.0;1;3;0;\n"
              "01;4.000000;5.000000;6.000000;20.000000;20.000000;0.1;0.1;0.0;0.0;0.0;1;3;0;\n");
}

// The points and texture coordinates of a mesh file.
struct MeshFile {
    vtkNew<vtkXMLPolyDataReader> reader;
    vtkPolyData* mesh = nullptr;
    vtkDataArray* uv = nullptr;
    explicit MeshFile(const QString& path) {
        reader->SetFileName(QFile::encodeName(path).constData());
        reader->Update();
        mesh = reader->GetOutput();
        uv = mesh->GetPointData()->GetTCoords();
    }
};

TEST_F(TerrainFilesTest, TexturedMeshOfTheOlindaDemFromWriteProtectedFiles) {
    const QString folder = kvtest::NewTempFolder("obj");
    const QString dtm = ptest::OlindaDtm(folder);
    double gt[6];
    const cv::Mat heights = ptest::ReadRaster(dtm, gt);
    // The orthophoto's corners lie on the centres of the DEM's corner cells.
    const QString ortho =
        ptest::GreyOrtho(folder + "/ortho.tif", 110, 110, gt[1], gt[0] + gt[1] / 2, gt[3] + gt[5] / 2);
    const QString texture = folder + "/texture.jpg";
    ASSERT_TRUE(cv::imwrite(texture.toStdString(), cv::Mat(64, 64, CV_8UC3, cv::Scalar(10, 200, 30))));
    for (const QString& input : {dtm, ortho, texture})
        QFile::setPermissions(input, QFileDevice::ReadOwner);

    ui.AnswerFile(dtm);
    ui.AnswerFile(ortho);
    ui.AnswerFile(texture);
    CmdWriteObj(d);
    EXPECT_EQ(ui.MessageTexts(), QStringList{"obj created"});
    EXPECT_EQ(ui.Messages()[0].icon(), kv::MessageIcon::Information);

    MeshFile vtp(folder + "/olinda_dem.vtp");
    ASSERT_EQ(vtp.mesh->GetNumberOfPoints(), 111 * 111);
    EXPECT_GT(vtp.mesh->GetNumberOfPolys(), 2 * 100 * 100);
    ASSERT_NE(vtp.uv, nullptr);
    EXPECT_STREQ(vtp.uv->GetName(), "Texture");
    // Offset at the far corner; points at the cell centres with their heights.
    const double ox = 111 * gt[1] + gt[0], oy = 111 * gt[5] + gt[3];
    EXPECT_EQ(Read(folder + "/olinda_dem.vtw"),
              QString::asprintf("[PolyData Offset]\nX=%lf\nY=%lf\nZ=0.000000\n", ox, oy).toLatin1());
    double p[3];
    vtp.mesh->GetPoint(0, p);
    EXPECT_NEAR(p[0] + ox, gt[0] + gt[1] / 2, 1e-6);
    EXPECT_NEAR(p[1] + oy, gt[3] + gt[5] / 2, 1e-6);
    EXPECT_FLOAT_EQ(float(p[2]), heights.at<float>(0, 0));
    // Top-left cell at (0, 1), bottom-right at (1, 0).
    EXPECT_NEAR(vtp.uv->GetComponent(0, 0), 0.0, 1e-6);
    EXPECT_NEAR(vtp.uv->GetComponent(0, 1), 1.0, 1e-6);
    EXPECT_NEAR(vtp.uv->GetComponent(111 * 111 - 1, 0), 1.0, 1e-6);
    EXPECT_NEAR(vtp.uv->GetComponent(111 * 111 - 1, 1), 0.0, 1e-6);

    // The OBJ: the mesh's points with heights times 2.5, its texture coordinates and triangles.
    QFile obj(folder + "/olinda_dem.obj");
    ASSERT_TRUE(obj.open(QIODevice::ReadOnly | QIODevice::Text));
    EXPECT_EQ(obj.readLine(), "mtllib olinda_dem.mtl\n");
    int v = 0, faces = 0;
    double worst = 0.0;
    while (!obj.atEnd()) {
        const QList<QByteArray> fields = obj.readLine().trimmed().split(' ');
        if (fields[0] == "v") {
            vtp.mesh->GetPoint(v++, p);
            worst = std::max(worst, std::abs(fields[3].toDouble() - 2.5 * p[2]));
        } else if (fields[0] == "f") {
            ++faces;
        }
    }
    EXPECT_EQ(v, 111 * 111);
    EXPECT_EQ(faces, vtp.mesh->GetNumberOfPolys());
    EXPECT_LE(worst, 5e-7);
    EXPECT_EQ(Read(folder + "/olinda_dem.mtl"),
              "newmtl texture\nKa 0.000000 0.000000 0.000000\nKd 0.513725 0.509804 0.505882\n"
              "Ks 0.330000 0.330000 0.330000\nmap_Kd  texture.jpg\n");
}

TEST_F(TerrainFilesTest, CellsWithoutDataMakeNoVertices) {
    const QString folder = kvtest::NewTempFolder("obj_nodata");
    const double gt[6] = {100.0, 2.0, 0.0, 200.0, 0.0, -2.0};
    const double noData = -9999.0;
    cv::Mat cells(3, 3, CV_32FC1, cv::Scalar(10.0));
    cells.at<float>(1, 1) = std::numeric_limits<float>::quiet_NaN();
    cells.at<float>(0, 2) = -9999.0f;
    const QString dtm = ptest::WriteGrid(folder + "/holes.tif", cells, gt, &noData);
    const QString empty =
        ptest::WriteGrid(folder + "/empty.tif", cv::Mat(3, 3, CV_32FC1, cv::Scalar(-9999.0)), gt, &noData);
    const QString ortho = ptest::GreyOrtho(folder + "/ortho.tif", 10, 10, 1.0, 100.0, 200.0);
    const QString texture = ptest::GreyOrtho(folder + "/texture.tif", 10, 10, 1.0);

    ui.AnswerFile(dtm);
    ui.AnswerFile(ortho);
    ui.AnswerFile(texture);
    CmdWriteObj(d);
    EXPECT_EQ(ui.MessageTexts(), QStringList{"obj created"});
    MeshFile holes(folder + "/holes.vtp");
    EXPECT_EQ(holes.mesh->GetNumberOfPoints(), 7);
    EXPECT_FALSE(Read(folder + "/holes.obj").contains("nan"));

    // An OBJ that cannot be written is reported, not announced.
    ui.Clear();
    kv::SetFileFaultHook([](kv::FileStep step, const QString& target) {
        return step == kv::FileStep::Write && target.endsWith(".obj") ? ENOSPC : 0;
    });
    QFile::remove(folder + "/holes.obj");
    ui.AnswerFile(dtm);
    ui.AnswerFile(ortho);
    ui.AnswerFile(texture);
    CmdWriteObj(d);
    kv::SetFileFaultHook({});
    EXPECT_EQ(ui.MessageTexts(), QStringList{"Unable to save obj!"});
    EXPECT_FALSE(QFileInfo::exists(folder + "/holes.obj"));

    // Nothing but no data: an empty mesh file, no OBJ, no message.
    ui.Clear();
    ui.AnswerFile(empty);
    ui.AnswerFile(ortho);
    ui.AnswerFile(texture);
    CmdWriteObj(d);
    EXPECT_TRUE(ui.MessageTexts().isEmpty());
    EXPECT_TRUE(QFileInfo::exists(folder + "/empty.vtp"));
    EXPECT_FALSE(QFileInfo::exists(folder + "/empty.obj"));

    // A terrain model that is not one Float32 band with no data.
    ui.AnswerFile(ortho);
    ui.AnswerFile(ortho);
    CmdWriteObj(d);
    EXPECT_EQ(ui.MessageTexts(), QStringList{"Invalid DEM selected!"});
}

}  // namespace
