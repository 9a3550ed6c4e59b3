#include "products/TerrainMeshExport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <vtkFloatArray.h>
#include <vtkNew.h>
#include <vtkPointData.h>
#include <vtkPoints.h>
#include <vtkPolyData.h>
#include <vtkXMLPolyDataReader.h>

#include <cmath>
#include <vector>

#include "demtools/Tin.h"
#include "demtools/TinObj.h"
#include "document/KelvaroDoc.h"
#include "document/LayerFiles.h"
#include "platform/tools/ZQT.h"
#include "platform/ui/Interaction.h"
#include "products/ProductsSupport.h"
#include "products/TerrainMeshFiles.h"
#include "raster/DEM.h"

namespace products {

bool IsMeshTerrain(GDALDatasetH dataset) {
    return CDEM::IsValidDemDataset(dataset) &&
           GDALGetRasterDataType(GDALGetRasterBand(dataset, 1)) == GDT_Float32;
}

vtkSmartPointer<vtkPolyData> BuildTerrainMesh(GDALDatasetH terrain, const TextureFootprint& texture,
                                              double offset[3]) {
    const int w = GDALGetRasterXSize(terrain), h = GDALGetRasterYSize(terrain);
    double gt[6];
    GDALGetGeoTransform(terrain, gt);
    GDALRasterBandH band = GDALGetRasterBand(terrain, 1);
    const float noData = float(GDALGetRasterNoDataValue(band, nullptr));
    offset[0] = w * gt[1] + gt[0];
    offset[1] = h * gt[5] + gt[3];
    offset[2] = 0.0;

    const double* ogt = texture.gt;
    std::vector<Wml::Point3> points;
    std::vector<float> uv;
    std::vector<float> row(size_t(std::max(w, 0)));
    for (int r = 0; r < h; ++r) {
        if (GDALRasterIO(band, GF_Read, 0, r, w, 1, row.data(), w, 1, GDT_Float32, 0, 0) != CE_None) {
            return nullptr;
        }
        ZQT_PumpMessages();
        const double y = gt[3] + (r + 0.5) * gt[5];
        for (int c = 0; c < w; ++c) {
            const float v = row[size_t(c)];
            if (v == noData || std::isnan(v)) {
                continue;
            }
            const double x = gt[0] + (c + 0.5) * gt[1];
            points.emplace_back(x - offset[0], y - offset[1], double(v));
            uv.push_back(float(((x - ogt[0]) / ogt[1]) / texture.width));
            uv.push_back(float((texture.height - (y - ogt[3]) / ogt[5]) / texture.height));
        }
    }
    vtkSmartPointer<vtkPolyData> mesh = TriangulateTin(points, {});
    // Cell centres never share a place, so the mesh keeps the points in their order.
    if (!mesh || mesh->GetNumberOfPoints() != vtkIdType(points.size())) {
        return nullptr;
    }
    vtkNew<vtkFloatArray> coordinates;
    coordinates->SetName("Texture");
    coordinates->SetNumberOfComponents(2);
    coordinates->SetNumberOfTuples(vtkIdType(points.size()));
    std::copy(uv.begin(), uv.end(), coordinates->GetPointer(0));
    mesh->GetPointData()->SetTCoords(coordinates);
    return mesh;
}

int WriteObjFromPolyDataFile(const QString& vtpPath, const QString& texturePath, const QString& objPath) {
    vtkNew<vtkXMLPolyDataReader> reader;
    reader->SetFileName(QFile::encodeName(vtpPath).constData());
    reader->Update();
    if (reader->GetErrorCode() != 0) {
        return -1;
    }
    vtkPolyData* mesh = reader->GetOutput();
    vtkPoints* points = mesh ? mesh->GetPoints() : nullptr;
    if (!points || points->GetNumberOfPoints() == 0) {
        return 0;
    }
    for (vtkIdType i = 0; i < points->GetNumberOfPoints(); ++i) {
        double p[3];
        points->GetPoint(i, p);
        p[2] *= 2.5;
        points->SetPoint(i, p);
    }
    return WriteTinObj(mesh, texturePath, objPath) ? 1 : -1;
}

}  // namespace products

namespace {

QString ChooseInput(const QString& filter) {
    return kv::GetInteraction().ChooseOpenFile(QStringLiteral("Open"), QString(), filter);
}

// The orthophoto's size and geotransform; false after the message when it does not open or has
// no geotransform.
bool ReadTextureFootprint(const QString& path, products::TextureFootprint* footprint) {
    GDALDatasetH ds = GDALOpen(QFile::encodeName(path).constData(), GA_ReadOnly);
    if (!ds) {
        KvMessageBox(QStringLiteral("Unable to load OrthoPhoto!"), MB_OK);
        return false;
    }
    const bool placed = GDALGetGeoTransform(ds, footprint->gt) == CE_None;
    footprint->width = GDALGetRasterXSize(ds);
    footprint->height = GDALGetRasterYSize(ds);
    GDALClose(ds);
    if (!placed) {
        KvMessageBox(QStringLiteral("Invalid OrthoPhoto selected!"), MB_OK);
    }
    return placed;
}

}  // namespace

void CmdWriteObj(CadDrawing* drawing) {
    if (!FindDocByCad(drawing)) {
        return;
    }
    const QString terrainPath = ChooseInput(QStringLiteral("DTM (*.tif)"));
    if (terrainPath.isEmpty()) {
        return;
    }
    const QString orthoPath = products::ChooseOrthophotoFile();
    if (orthoPath.isEmpty()) {
        return;
    }
    const QFileInfo info(terrainPath);
    const QString base = QDir(info.absolutePath()).filePath(info.completeBaseName());
    const QString vtp = base + QStringLiteral(".vtp"), vtw = base + QStringLiteral(".vtw");
    const QString obj = base + QStringLiteral(".obj"), mtl = base + QStringLiteral(".mtl");
    if (RefuseOutputOverInputs({vtp, vtw, obj, mtl}, {terrainPath, orthoPath})) {
        return;
    }

    GDALDatasetH terrain = GDALOpen(QFile::encodeName(terrainPath).constData(), GA_ReadOnly);
    if (!terrain) {
        KvMessageBox(QStringLiteral("Unable to load DEM!"), MB_OK);
        return;
    }
    if (!products::IsMeshTerrain(terrain)) {
        GDALClose(terrain);
        KvMessageBox(QStringLiteral("Invalid DEM selected!"), MB_OK);
        return;
    }
    products::TextureFootprint footprint;
    if (!ReadTextureFootprint(orthoPath, &footprint)) {
        GDALClose(terrain);
        return;
    }
    double offset[3];
    vtkSmartPointer<vtkPolyData> mesh = products::BuildTerrainMesh(terrain, footprint, offset);
    GDALClose(terrain);
    if (!mesh) {
        KvMessageBox(QStringLiteral("Unable to load DEM!"), MB_OK);
        return;
    }
    const bool written = products::WriteMeshFiles(mesh, offset, vtp, vtw);
    mesh = nullptr;
    if (!written) {
        KvMessageBox(QStringLiteral("Unable to save obj!"), MB_OK | MB_ICONWARNING);
        return;
    }

    const QString texture = ChooseInput(QStringLiteral("texture img (*.tif *.jpg)"));
    if (texture.isEmpty() || RefuseOutputOverInputs({obj, mtl}, {texture})) {
        return;
    }
    const int made = products::WriteObjFromPolyDataFile(vtp, texture, obj);
    if (made > 0) {
        KvMessageBox(QStringLiteral("obj created"), MB_OK | MB_ICONINFORMATION);
    } else if (made < 0) {
        KvMessageBox(QStringLiteral("Unable to save obj!"), MB_OK | MB_ICONWARNING);
    }
}
