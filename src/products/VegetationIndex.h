// Vegetation index maps: NDVI, or SAVI with a soil brightness factor, of a red and a
// near-infrared band of the project's layers, over an area of the drawing or the bands' common
// extent. The NDVISAVI command asks for the area and runs the dialog; the worker writes the map
// as a tiled Float32 GeoTIFF with overviews, which the dialog adds to the project.
#pragma once

#include <QString>

#include <gdal.h>

class CKelvaroDoc;
class ProgressSink;
class QPainter;
struct CadDrawing;
struct CadEntity;

// NDVISAVI: the area (an existing closed polyline, one drawn now, or the whole common extent),
// then the dialog.
void CmdNdviSavi(CadDrawing* drawing);
// The rubber band of the area being drawn.
void CmdNdviSaviDraw(CadDrawing* drawing, QPainter* painter, double x, double y, double z);

// Writes the index of the two bands (Byte, UInt16 or Float32) to path: the box of the area's
// polyline, or without an area the bands' common extent, at the coarser of their pixel sizes, in
// blocks of 1024 x 1024. A sample is normalised over its band type's range, except that a Float32
// band's samples and, beside a Float32 NIR band, the red samples are used as they are; a pixel
// whose upper-left corner lies outside the area or off either band, a sample that is its band's
// no-data value, NaN or -10000, and red + NIR = 0 give -9999; otherwise the value is
// (nir - red) / (nir + red + L) * (1 + L) in single precision. The map gets no data -9999, the red
// band's projection, a world file and overviews at factors 2, 4, ... until the larger side is 512
// or less; it is written under a temporary name and put in place only when complete.
//
// Tells the operator every failure ("Both channels must be defined!", "Channels must be
// different!", "Data type error", "Data not comparable", "Process error") and answers 0; an abort
// through the progress sink (polled before every row of blocks) answers 0 in silence. Either way
// nothing is left at path. 1 when the map was written.
int ComputeVegetationIndex(CKelvaroDoc* doc, CadEntity* area, GDALRasterBandH red, GDALRasterBandH nir,
                           float soilBrightness, const QString& path, ProgressSink* progress);
