// Reads DWG drawings where GDAL's read-only CAD driver can (AutoCAD 2000 files): points,
// lines, polylines, curves (as polylines), faces and texts on their layers.
#pragma once

#include <QString>

#include <gdal.h>

#include <string>

#include "platform/cad/Cad.h"

// Adds the content of the file to the (new, empty) drawing. Non-zero on success; on failure
// *error says why and the drawing may hold part of the file (discard it).
int DwgReadDrawing(const QString& path, CadDrawing* drawing, std::string* error, int* entities = nullptr);

// The features of an open OGR data source as entities: one layer of ours per OGR layer; points,
// line strings, polygon rings (as closed polylines) and curves (as polylines); points with a
// label style or a "text" field as texts; colours from a red, green, blue "color" field.
int OgrReadDrawing(GDALDatasetH dataset, CadDrawing* drawing, int* entities = nullptr);
