// Reads DWG drawings where GDAL's read-only CAD driver can (AutoCAD 2000 files): points,
// lines, polylines, curves (as polylines), faces and texts on their layers.
#pragma once

#include <QString>

#include <string>

#include "platform/cad/Cad.h"

// Adds the content of the file to the (new, empty) drawing. Non-zero on success; on failure
// *error says why and the drawing may hold part of the file (discard it).
int DwgReadDrawing(const QString& path, CadDrawing* drawing, std::string* error, int* entities = nullptr);
