// The textured mesh writer: a triangulated surface as a Wavefront OBJ file and, when it carries
// texture coordinates, the MTL material file beside it that drapes one texture image over it.
#pragma once

#include <QString>

class vtkPolyData;

// Writes the mesh to objPath: "v" lines for the points as they are (the caller shifts or scales
// them first), "vn" lines when the point data has float normals of three components, "vt" lines
// (the first two components) when it has float texture coordinates, then one "f" line per polygon
// of three or more points with one-based indices in the forms i, i/i, i//i or i/i/i. A normal or
// texture array of another type, or shorter than the points, counts as absent.
//
// With texture coordinates, the MTL file takes the OBJ's name with the extension "mtl": one
// material named after the texture's file name without folder and extension, whose "map_Kd" gives
// the texture's path relative to the OBJ's folder; the OBJ names it in its first line and uses
// the material before its faces. Numbers are written with six decimals whatever the locale, lines
// end with LF; both files are written out under temporary names and take their own only when both
// are complete, as one set (kv::PlaceFileSet): whatever stops that leaves the old pair, the new
// pair, or no OBJ.
//
// 1 when written. 0, with the files at both paths as they were (or no OBJ when putting the set in
// place failed), when the mesh is null or has no point, the OBJ path is empty, texture coordinates
// come without a texture path, or a file cannot be created or written.
int WriteTinObj(vtkPolyData* mesh, const QString& texturePath, const QString& objPath);
