// The commands that bind the two modeless map dialogs of a project: COLORCLASSIFICATION chooses a
// map and an area and shows the colour classification; MAPREPRESENTATION chooses a map or a DEM and
// shows its palette settings. Both end as soon as their dialog is shown. The dialogs themselves
// are made for every project by MakeMapToolWindow, which the registration of the product tools
// hands to the project (SetMapToolWindowMaker).
#pragma once

#include "document/MapToolWindows.h"

struct CadDrawing;
class CColorClassificationDlg;
class CKelvaroDoc;
class CMapRepresentationDlg;
class QPainter;

// The dialog of the kind, hidden, without its widgets laid out yet.
MapToolWindow* MakeMapToolWindow(MapToolWindowKind kind);
// The project's dialogs; null when the project holds none.
CColorClassificationDlg* ColorClassificationWindow(const CKelvaroDoc& doc);
CMapRepresentationDlg* MapRepresentationWindow(const CKelvaroDoc& doc);

// COLORCLASSIFICATION: the map (the only one, or picked), then the area: an existing closed
// polyline, one drawn now, or the whole map; then the dialog bound to them.
void CmdColorClassification(CadDrawing* drawing);
// The rubber band of the area being drawn.
void CmdColorClassificationDraw(CadDrawing* drawing, QPainter* painter, double x, double y, double z);

// MAPREPRESENTATION: the layer (the only map or DEM, or picked), then the dialog bound to it.
void CmdMapRepresentation(CadDrawing* drawing);
