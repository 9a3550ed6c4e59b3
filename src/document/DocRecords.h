// Records that the tools keep in the project document between commands.
#pragma once

#include <QString>

#include <vector>

struct CadDrawing;
struct CadEntity;
class CDEM;
class COrtho;

// Inputs of the object-elevation command, held by the document: empty until something supplies
// them.
struct ObjectElevationSetup {
    QString text1;
    // The DEM whose elevations seed the vertices picked in the drawing.
    CDEM* elevationDEM = nullptr;
    QString text2;
    // The DEM that the command's Apply writes into.
    CDEM* targetDEM = nullptr;
    // Folder searched for the oriented images ("*.jpg").
    QString imagesFolder;
    QString text4;
    // Copied by the command's dialog, not used.
    void* value = nullptr;
    // The closed polyline being refined while the command runs.
    CadEntity* contour = nullptr;
};

// One seamline edit round: the images whose seamline polylines were replaced at once, with the
// polylines before (erased in the drawing, kept for undo) and after, per image in the order of
// the image list. Owned by its stack in the document.
struct UndoRoundData {
    CadDrawing* drawing = nullptr;
    std::vector<COrtho*> orthos;  // rounds of the orthophoto seamlines
    std::vector<CDEM*> dems;      // rounds of the DEM seamlines
    std::vector<std::vector<CadEntity*>> before;
    std::vector<std::vector<CadEntity*>> after;
};

// One tile of the mosaic tile layout: its outline and its label in the drawing.
struct TileHandleStruct {
    CadEntity* outline = nullptr;
    CadEntity* label = nullptr;
};
