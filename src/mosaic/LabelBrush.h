// The label brush: paints labels into the label mask of a DEM layer with a round brush while the
// command CMD_SEAMLINELABELBRUSH (first set: label 2) or CMD_DEMSEAMLINELABELBRUSH (second set:
// label 3) is active. A press adds a stroke point, the release paints the stroke (a disc for one
// point, a line of twice the radius for several), CTRL at the press paints the neutral label 1,
// and the wheel with the left button held changes the radius (10 at start, never below 1). The
// event procedures of the plan view route the mouse here (SetSeamlineEditHandlers).
#pragma once

#include "platform/cad/Cad.h"

class CDEM;

int LabelBrushMouseDown(CadDrawing* drawing, double x, double y);
int LabelBrushMouseUp(CadDrawing* drawing);
int LabelBrushMouseWheel(CadDrawing* drawing, int keyFlags, int delta);
int LabelBrush2MouseDown(CadDrawing* drawing, double x, double y);
int LabelBrush2MouseUp(CadDrawing* drawing);
int LabelBrush2MouseWheel(CadDrawing* drawing, int keyFlags, int delta);

// The DEM whose label mask a set paints (commandId CMD_SEAMLINELABELBRUSH or
// CMD_DEMSEAMLINELABELBRUSH); null stops it. A DEM that leaves its project stops both sets that
// point at it.
void SetLabelBrushTarget(int commandId, CDEM* dem);
CDEM* GetLabelBrushTarget(int commandId);
int GetLabelBrushRadius(int commandId);

// Hands the handlers to the plan view's event procedures and has removed DEMs forgotten.
void InstallLabelBrushes();
