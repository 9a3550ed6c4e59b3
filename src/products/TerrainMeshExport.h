// WRITEOBJ: a terrain model file and an orthophoto turned into a triangulated, textured mesh. The
// mesh is written beside the terrain model as a VTK PolyData file (".vtp", coordinates relative
// to the terrain's far corner, texture coordinates "Texture" over the orthophoto's footprint) with
// its offset file (".vtw"), then read back and written as a Wavefront OBJ with its material file,
// the heights exaggerated 2.5 times. The project is not touched.
#pragma once

#include <QString>

#include <gdal.h>
#include <vtkSmartPointer.h>

class vtkPolyData;
struct CadDrawing;

namespace products {

// Where the texture lies: the orthophoto's geotransform and size in pixels.
struct TextureFootprint {
    double gt[6] = {0, 1, 0, 0, 0, -1};
    int width = 0;
    int height = 0;
};

// Whether the dataset is a terrain model the mesh is made of: one Float32 band with a no-data
// value, and a geotransform.
bool IsMeshTerrain(GDALDatasetH dataset);

// The mesh of the terrain's cells with data (neither the no-data value nor NaN), one point at each
// cell's centre, read one row at a time: coordinates relative to offset, which receives the
// terrain's far corner (x, y, 0), true heights, texture coordinates over the footprint (u to the
// east, v to the north, 0 to 1 across the orthophoto) and the Delaunay triangles. Null when a row
// cannot be read or the triangulation fails.
vtkSmartPointer<vtkPolyData> BuildTerrainMesh(GDALDatasetH terrain, const TextureFootprint& texture,
                                              double offset[3]);

// Reads the mesh file back and writes it as OBJ with the texture, heights times 2.5. 1 when
// written, 0 when the file holds no point (nothing written), -1 when it cannot be read or the OBJ
// cannot be written.
int WriteObjFromPolyDataFile(const QString& vtpPath, const QString& texturePath, const QString& objPath);

}  // namespace products

void CmdWriteObj(CadDrawing* drawing);
