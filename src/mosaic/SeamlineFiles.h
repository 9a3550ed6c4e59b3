// How a finished seamline partition is kept: the seamline layers of the project's drawing, the
// working grid in which seams are routed, and the two polygon files per image ("pol": the routed
// seam polygon in working-grid cells; "sml": the final region in map coordinates).
//
// Both files share one layout (little-endian, no padding): int32 format word 1, int32 contour count,
// then per contour an int32 vertex count and that many pairs of float64 x, y. Contours are closed
// implicitly. A file is named by its image's layer name with ".pol" or ".sml" appended, so that
// "a.tif" and "a.img" never share a file.
#pragma once

#include <QString>

#include <cstdint>
#include <vector>

#include "platform/cad/Cad.h"
#include "platform/geometry/Pgon.h"
#include "platform/math/Wml.h"

// Layers of the seamline polylines, and the folders beside the project that hold the files.
inline constexpr char kSeamLinesLayer[] = "SeamLines";         // orthophotos; also their "sml" folder
inline constexpr char kSeamLinesDemLayer[] = "SeamLines_DEM";  // DEMs; also their "sml" folder
inline constexpr char kSeamPolygonFolder[] = "POL";            // the "pol" files of both kinds
// Attributes of a seamline layer added by the program (those of every layer the system creates).
constexpr int kSeamLayerColour = 7;
constexpr uint32_t kSeamLayerLineType = CAD_LTYPE_CONTINUOUS;
constexpr int kSeamLayerLineWeight = -3;

// The drawing's layer of that name, added with the seamline layer attributes when missing.
CadLayer* GetSeamlineLayer(CadDrawing* drawing, const char* name);

// The plan positions (x, y) of a polyline's vertices, in order.
std::vector<Wml::Point2> PolylinePoints(CadEntity* polyline);

// The working grid of a seamline build: x counts cells to the right and y cells downwards from the
// top-left corner (minX, maxY) of the union of the images' extents; one cell is the images' common
// pixel size times the build's scale factor.
// The value rounded to single precision. The round trip goes through memory: GCC 12 drops a
// float round trip when it vectorises the loop around it.
inline double RoundToSingle(double value) {
    volatile float single = float(value);
    return single;
}

struct SeamlineGrid {
    double minX = 0.0;
    double maxY = 0.0;
    double pixelSize = 1.0;  // p
    double scale = 1.0;      // s, the seamline scale factor

    Wml::Point2 ToGrid(double x, double y) const {
        return Wml::Point2((x - minX) / pixelSize / scale, -(y - maxY) / pixelSize / scale);
    }
    // The stored map position of a grid point: the cell offsets pass through single precision
    // (x = minX + float(gx·s)·p, y = maxY − float(s·gy)·p), as every seamline vertex is written.
    Wml::Point2 ToMap(double gx, double gy) const {
        return Wml::Point2(minX + RoundToSingle(gx * scale) * pixelSize,
                           maxY - RoundToSingle(scale * gy) * pixelSize);
    }
};

// Every vertex of the polygon taken from the working grid to map coordinates (ToMap).
CPgon SeamlineGridToMap(const CPgon& grid, const SeamlineGrid& frame);

// folder/name.pol or folder/name.sml.
QString SeamPolygonFilePath(const QString& folder, const QString& name, const char* extension);

// Writes the polygon as name.pol in the folder (written beside it and renamed into place when
// complete). Returns 1 when written; 0 for an empty name or when the file cannot be written.
int WritePgonFile(const QString& name, const QString& polFolder, const CPgon& polygon);

// Reads a polygon file. A missing file, or one whose format word is 0 or negative, is an empty
// polygon. Returns 1 when read; 0, with the polygon emptied, when the file cannot be read, ends
// early, holds a negative count or a count larger than the rest of the file can hold, or holds a
// coordinate that is not a finite number.
int ReadPgonFile(const QString& path, CPgon& polygon);

// Writes the region (map coordinates) as name.sml in the folder. Each failed write is tried again,
// up to five times after a pause of one second and then once more; after that the operator is
// asked "Unable to write seamlines.\nRetry?" until a write succeeds or the answer is No.
// Returns 0 when written, -2 when the operator gave up.
int WriteSmlFile(const QString& folder, const QString& name, const CPgon& region);
// The pause between the first tries of WriteSmlFile in milliseconds (1000; tests shorten it).
void SetSeamlineRetryPause(int milliseconds);

// Deletes every "pol" file directly in the folder (sub-folders are left alone).
void DeletePgonFiles(const QString& polFolder);
