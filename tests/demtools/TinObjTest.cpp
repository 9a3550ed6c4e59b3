// The textured mesh writer: the OBJ and MTL files byte for byte in each face form, and the files
// it refuses to leave behind.
#include <QDir>
#include <QFile>

#include <gtest/gtest.h>

#include <cerrno>

#include <vtkCellArray.h>
#include <vtkDoubleArray.h>
#include <vtkFloatArray.h>
#include <vtkNew.h>
#include <vtkPointData.h>
#include <vtkPoints.h>
#include <vtkPolyData.h>
#include <vtkSmartPointer.h>

#include "demtools/TinObj.h"
#include "platform/tools/SafeFile.h"
#include "support/TestEnv.h"

namespace {

// Four points, two triangles and a cell of two points (which gives no face).
vtkSmartPointer<vtkPolyData> Square() {
    auto mesh = vtkSmartPointer<vtkPolyData>::New();
    vtkNew<vtkPoints> points;
    points->SetDataTypeToDouble();
    points->InsertNextPoint(0.0, 0.0, 12.5);
    points->InsertNextPoint(10.25, -0.0000004, 13.0);
    points->InsertNextPoint(10.25, 20.0, -1.1234567);
    points->InsertNextPoint(0.0, 20.0, 1e7 / 3.0);
    vtkNew<vtkCellArray> polys;
    const vtkIdType a[3] = {0, 1, 2}, b[3] = {0, 2, 3}, edge[2] = {1, 3};
    polys->InsertNextCell(3, a);
    polys->InsertNextCell(2, edge);
    polys->InsertNextCell(3, b);
    mesh->SetPoints(points);
    mesh->SetPolys(polys);
    return mesh;
}

void AddNormals(vtkPolyData* mesh) {
    vtkNew<vtkFloatArray> normals;
    normals->SetNumberOfComponents(3);
    for (int i = 0; i < 4; ++i) {
        normals->InsertNextTuple3(0.0, i * 0.25, 1.0);
    }
    mesh->GetPointData()->SetNormals(normals);
}

void AddTextureCoordinates(vtkPolyData* mesh, int count = 4) {
    vtkNew<vtkFloatArray> coordinates;
    coordinates->SetNumberOfComponents(2);
    for (int i = 0; i < count; ++i) {
        coordinates->InsertNextTuple2(i * 0.5, 1.0 - i * 0.125);
    }
    mesh->GetPointData()->SetTCoords(coordinates);
}

// The files of the folder, hidden ones (temporaries) included.
std::string Files(const QString& folder) {
    return QDir(folder).entryList(QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot).join(", ").toStdString();
}

const char* const kVertices =
    "v 0.000000 0.000000 12.500000\n"
    "v 10.250000 -0.000000 13.000000\n"
    "v 10.250000 20.000000 -1.123457\n"
    "v 0.000000 20.000000 3333333.333333\n";
const char* const kNormals =
    "vn 0.000000 0.000000 1.000000\n"
    "vn 0.000000 0.250000 1.000000\n"
    "vn 0.000000 0.500000 1.000000\n"
    "vn 0.000000 0.750000 1.000000\n";
const char* const kTextureCoordinates =
    "vt 0.000000 1.000000\n"
    "vt 0.500000 0.875000\n"
    "vt 1.000000 0.750000\n"
    "vt 1.500000 0.625000\n";

}  // namespace

TEST(TinObj, WritesEachFaceFormByteForByteAndTheMaterialBesideIt) {
    const QString folder = kvtest::NewTempFolder("obj");
    const QString obj = folder + "/terrain.v1.obj", mtl = folder + "/terrain.v1.mtl";
    const QString texture = folder + "/ortho.photo.png";

    vtkSmartPointer<vtkPolyData> mesh = Square();
    ASSERT_EQ(WriteTinObj(mesh, texture, obj), 1);
    EXPECT_EQ(kvtest::FileBytes(obj), QByteArray(kVertices) + "f 1 2 3\nf 1 3 4\n");
    EXPECT_FALSE(QFile::exists(mtl));

    AddNormals(mesh);
    ASSERT_EQ(WriteTinObj(mesh, QString(), obj), 1);
    EXPECT_EQ(kvtest::FileBytes(obj),
              QByteArray(kVertices) + kNormals + "f 1//1 2//2 3//3\nf 1//1 3//3 4//4\n");
    EXPECT_FALSE(QFile::exists(mtl));

    const QByteArray material =
        "newmtl ortho.photo\n"
        "Ka 0.000000 0.000000 0.000000\n"
        "Kd 0.513725 0.509804 0.505882\n"
        "Ks 0.330000 0.330000 0.330000\n"
        "map_Kd  ortho.photo.png\n";
    AddTextureCoordinates(mesh);
    ASSERT_EQ(WriteTinObj(mesh, texture, obj), 1);
    EXPECT_EQ(kvtest::FileBytes(obj), "mtllib terrain.v1.mtl\n" + QByteArray(kVertices) + kNormals +
                                          kTextureCoordinates +
                                          "usemtl ortho.photo\nf 1/1/1 2/2/2 3/3/3\nf 1/1/1 3/3/3 4/4/4\n");
    EXPECT_EQ(kvtest::FileBytes(mtl), material);

    mesh->GetPointData()->SetNormals(nullptr);
    ASSERT_TRUE(QDir(folder).mkdir("textures"));
    ASSERT_EQ(WriteTinObj(mesh, folder + "/textures/ortho.photo.png", obj), 1);
    EXPECT_EQ(kvtest::FileBytes(obj), "mtllib terrain.v1.mtl\n" + QByteArray(kVertices) +
                                          kTextureCoordinates +
                                          "usemtl ortho.photo\nf 1/1 2/2 3/3\nf 1/1 3/3 4/4\n");
    EXPECT_TRUE(kvtest::FileBytes(mtl).endsWith("map_Kd  textures/ortho.photo.png\n"));

    // Normals of doubles and texture coordinates shorter than the points count as absent.
    vtkNew<vtkDoubleArray> doubles;
    doubles->SetNumberOfComponents(3);
    for (int i = 0; i < 4; ++i) {
        doubles->InsertNextTuple3(0.0, 0.0, 1.0);
    }
    mesh->GetPointData()->SetNormals(doubles);
    AddTextureCoordinates(mesh, 3);
    ASSERT_EQ(WriteTinObj(mesh, QString(), obj), 1);
    EXPECT_EQ(kvtest::FileBytes(obj), QByteArray(kVertices) + "f 1 2 3\nf 1 3 4\n");
}

TEST(TinObj, RefusalsAndAMaterialThatCannotBeCreatedLeaveNoFile) {
    const QString folder = kvtest::NewTempFolder("obj-refused");
    const QString obj = folder + "/mesh.obj";
    vtkSmartPointer<vtkPolyData> mesh = Square();
    AddTextureCoordinates(mesh);

    EXPECT_EQ(WriteTinObj(nullptr, folder + "/t.png", obj), 0);
    EXPECT_EQ(WriteTinObj(mesh, folder + "/t.png", QString()), 0);
    EXPECT_EQ(WriteTinObj(mesh, QString(), obj), 0);
    vtkNew<vtkPolyData> empty;
    EXPECT_EQ(WriteTinObj(empty, folder + "/t.png", obj), 0);
    // The material's place is taken by a folder.
    ASSERT_TRUE(QDir(folder).mkdir("mesh.mtl"));
    EXPECT_EQ(WriteTinObj(mesh, folder + "/t.png", obj), 0);
    EXPECT_EQ(Files(folder), "");
    // A folder that does not exist.
    EXPECT_EQ(WriteTinObj(Square(), QString(), folder + "/missing/mesh.obj"), 0);

    // A write of the mesh that fails on the way: the material written first goes again.
    ASSERT_TRUE(QDir(folder).rmdir("mesh.mtl"));
    kv::SetFileFaultHook([obj](kv::FileStep step, const QString& target) {
        return step == kv::FileStep::Write && target == obj ? ENOSPC : 0;
    });
    const int written = WriteTinObj(mesh, folder + "/t.png", obj);
    kv::SetFileFaultHook({});
    EXPECT_EQ(written, 0);
    EXPECT_EQ(Files(folder), "");
}
