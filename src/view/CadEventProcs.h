// The CAD event procedures of the plan view: the engine calls them from a project's drawing
// window to draw the rasters under the drawing, follow the mouse, fill polylines, snap to a DEM
// and draw the colour legend. Each finds its project with FindDocByCad; a drawing without a
// project gets the engine's default answer.
#pragma once

#include <cstdint>

#include "platform/cad/Cad.h"
#include "platform/ui/CadCommandIds.h"

int OnCadDrawImage(CadDrawing* drawing, QPainter* dc, const CadWinRect* update, int imageId, int placeLeft,
                   int placeBottom, int placeWidth, int placeHeight);
int OnCadMouseMove(CadDrawing* drawing, int keyFlags, double x, double y);
int OnCadPreMouseDown(CadDrawing* drawing, int button, double x, double y);
int OnCadMouseUp(CadDrawing* drawing, int button);
int OnCadMouseWheel(CadDrawing* drawing, int keyFlags, int delta);
int OnCadPolyFill(CadDrawing* drawing, CadEntity* entity, QPainter* dc, const QPoint* points,
                  const int* ringCounts, int ringCount, uint32_t colour);
int OnCadEntErase(CadDrawing* drawing, CadEntity* entity);
int OnCadDrawCursor(CadDrawing* drawing, QPainter* dc, int x, int y);
int OnCadSnapToImagePlace(CadDrawing* drawing, CadEntity* imagePlace, double x, double y, double* outX,
                          double* outY, double* outZ);
int OnCadPaint(CadDrawing* drawing, QPainter* dc, int windowWidth);

// Registers the ten procedures with the engine, in the order the engine documents its events:
// draw image, mouse move, pre-mouse-down, mouse up, mouse wheel, polygon fill, entity erase, draw
// cursor, snap to image place, paint. A new project calls it (SetCadEventInstaller).
void RegisterDocumentEventProcs();

// The label-brush mouse handlers of the seamline editing of orthophotos (CMD_SEAMLINELABELBRUSH)
// and of DEMs (CMD_DEMSEAMLINELABELBRUSH). While one of these commands is active, the press, release and
// wheel procedures hand left-button presses, left-button releases and wheel turns to its handlers; a handler
// that answers non-zero consumed the event. The mosaic tools hand them in at start-up; a command without
// handlers leaves every event to the engine.
struct SeamlineEditHandlers {
    int (*mouseDown)(CadDrawing* drawing, double x, double y) = nullptr;
    int (*mouseUp)(CadDrawing* drawing) = nullptr;
    int (*mouseWheel)(CadDrawing* drawing, int keyFlags, int delta) = nullptr;
};
// Sets the handlers of one of the two commands; other ids are ignored.
void SetSeamlineEditHandlers(int commandId, const SeamlineEditHandlers& handlers);
