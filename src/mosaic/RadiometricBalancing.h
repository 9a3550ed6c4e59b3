// Radiometric balancing of a mosaic: a reduced reference picture of the whole mosaic made by
// feather-blending reduced copies of its orthophotos (the balancing map), the correction grids of
// one orthophoto fitted to that map with thin-plate splines, and the correction of one pixel.
#pragma once

#include <vector>

#include <gdal.h>

#include <QString>

class CKelvaroDoc;
class COrtho;
class ProgressSink;

// The reduction of the balancing: a tenth of the median orthophoto's pixel count in millions,
// at least 1 (a smaller factor would make the map and the grids larger than the orthophotos).
double BalancingScaleFactorFor(double medianPixels);

// The box of a mosaic in map units and its pixel size.
struct MosaicBox {
    double minX = 0, maxX = 0, minY = 0, maxY = 0;
    double pixelWidth = 0, pixelHeight = 0;
};

// Builds "RadiometricBalancingMap.tif" beside the project for a mosaic of width × height pixels:
// orders the orthophotos from the start orthophoto's centre (or their mean centre), sets the
// project's BalancingScaleFactor and BalancingMapPath, and writes the level-stretched blend
// with its geotransform and overviews. Orthophotos that cannot be read are left out; an abort
// stops the copy of the blend, which is saved as it stands. Returns 1, or 0 when the map cannot
// be made.
int BuildRadiometricBalancingMap(CKelvaroDoc* doc, std::vector<COrtho*>& orthos, const QString& startName,
                                 int width, int height, GDALDataType type, const MosaicBox& box,
                                 ProgressSink* progress, int* abort);

// Fits the orthophoto's correction of bands 1 to min(bands, 4) to the balancing map at mapPath
// and samples it into the orthophoto's correction grids. Returns 1, or 0 when the reduced
// orthophoto or the map cannot be read.
int ComputeOrthoCorrection(COrtho* ortho, int bands, const QString& mapPath, double factor);

// Adds the orthophoto's correction at pixel (column, row) to the band values, divided by
// divisor (rounded for integer types) and held within lo ... hi. Pixels without data, two-band
// and five-band pixels, orthophotos without grids and pixels outside the grids are left alone.
void CorrectOrthoPixel(const COrtho* ortho, double* values, int column, int row, int bands, GDALDataType type,
                       double divisor, double lo, double hi, double factor);
