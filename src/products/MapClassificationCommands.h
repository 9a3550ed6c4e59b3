// The commands that bind the two modeless map dialogs of a project: COLORCLASSIFICATION chooses a
// map and an area and shows the colour classification; MAPREPRESENTATION chooses a map or a DEM and
// shows its palette settings. Both end as soon as their dialog is shown.
#pragma once

struct CadDrawing;
class QPainter;

// COLORCLASSIFICATION: the map (the only one, or picked), then the area: an existing closed
// polyline, one drawn now, or the whole map; then the dialog bound to them.
void CmdColorClassification(CadDrawing* drawing);
// The rubber band of the area being drawn.
void CmdColorClassificationDraw(CadDrawing* drawing, QPainter* painter, double x, double y, double z);

// MAPREPRESENTATION: the layer (the only map or DEM, or picked), then the dialog bound to it.
void CmdMapRepresentation(CadDrawing* drawing);
