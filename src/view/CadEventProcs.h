// The CAD event procedures of the plan view: the engine calls them from a project's drawing
// window to draw the rasters under the drawing, follow the mouse, fill polylines, snap to a DEM
// and draw the colour legend. Each finds its project with FindDocByCad. Until the layers are drawn
// each gives the engine its default answer, so the engine draws and handles everything itself.
#pragma once

#include <cstdint>

#include "platform/cad/Cad.h"

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
