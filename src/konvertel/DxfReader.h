// Reads ASCII DXF drawings (R12 and later) into a drawing of ours: layers with their colours,
// line types and line weights, block definitions and references, and the model-space entities.
// Dimensions keep their own texts and the sizes of their dimension styles (overrides, the named
// style, the header's variables, in that order). Block references the engine cannot keep as such
// (nested, unevenly scaled, mirrored, arrayed along a tilted plane) are resolved into plain
// entities; paper-space entities are left out.
#pragma once

#include <QByteArray>
#include <QString>

#include <string>

#include "platform/cad/Cad.h"

// What a read brought, for the converter's report.
struct DxfReadReport {
    int entities = 0;          // entities added to the drawing
    int skipped = 0;           // entities of kinds the drawing cannot hold
    std::string skippedKinds;  // their kinds, for a note
};

// Adds the content of the file to the (new, empty) drawing. Non-zero on success; on failure
// *error says why and the drawing may hold part of the file (discard it).
int DxfReadDrawing(const QString& path, CadDrawing* drawing, std::string* error,
                   DxfReadReport* report = nullptr);
int DxfReadDrawingData(const QByteArray& data, CadDrawing* drawing, std::string* error,
                       DxfReadReport* report = nullptr);

// The engine's line type for a DXF line type: by its name, else by its dash pattern (lengths
// as the LTYPE table gives them: dashes positive, gaps negative, dots zero).
uint32_t DxfLineTypeCode(const std::string& name, const std::vector<double>& pattern);
