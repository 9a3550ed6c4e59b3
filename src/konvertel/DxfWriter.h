// Writes a drawing of ours as an ASCII DXF drawing of AutoCAD 2000 (AC1015): layers with
// colour, line type and line weight, block definitions and references, and every entity kind
// of the engine except image places (their pixels live in the program's own rasters).
// Dimensions carry their own texts and sizes (as style overrides) and a picture block drawn as
// the drawing window draws them, so programs that do not compute dimensions show them; what
// DXF cannot say about an entity of ours travels as the program's extended data.
#pragma once

#include <QString>

#include <string>

#include "platform/cad/Cad.h"

struct DxfWriteReport {
    int entities = 0;  // entities written (block contents included)
    int skipped = 0;   // image places left out
};

// The drawing as DXF text.
std::string DxfDrawingText(CadDrawing* drawing, DxfWriteReport* report = nullptr);

// Writes the file through a temporary file beside it that replaces it only when complete, so an
// existing file survives a failed write. Non-zero on success; otherwise *error says why.
int DxfWriteDrawing(CadDrawing* drawing, const QString& path, std::string* error,
                    DxfWriteReport* report = nullptr);
