#include "view/CadEventProcs.h"

int OnCadDrawImage(CadDrawing*, QPainter*, const CadWinRect*, int, int, int, int, int) {
    return 0;  // not drawn
}

int OnCadMouseMove(CadDrawing*, int, double, double) {
    return 0;
}

int OnCadPreMouseDown(CadDrawing*, int, double, double) {
    return 1;  // the engine handles the press
}

int OnCadMouseUp(CadDrawing*, int) {
    return 0;  // not consumed
}

int OnCadMouseWheel(CadDrawing*, int, int) {
    return 0;  // not consumed: the engine zooms
}

int OnCadPolyFill(CadDrawing*, CadEntity*, QPainter*, const QPoint*, const int*, int, uint32_t) {
    return 0;  // the engine fills it
}

int OnCadEntErase(CadDrawing*, CadEntity*) {
    return 0;
}

int OnCadDrawCursor(CadDrawing*, QPainter*, int, int) {
    return 0;
}

int OnCadSnapToImagePlace(CadDrawing*, CadEntity*, double, double, double*, double*, double*) {
    return 0;  // not snapped
}

int OnCadPaint(CadDrawing*, QPainter*, int) {
    return 0;
}

void RegisterDocumentEventProcs() {
    CadOnEventDrawImage(OnCadDrawImage);
    CadOnEventMouseMove(OnCadMouseMove);
    CadOnEventPreMouseDown(OnCadPreMouseDown);
    CadOnEventMouseUp(OnCadMouseUp);
    CadOnEventMouseWheel(OnCadMouseWheel);
    CadOnEventPolyFill(OnCadPolyFill, 0);
    CadOnEventEntErase(OnCadEntErase);
    CadOnEventDrawCursor(OnCadDrawCursor);
    CadOnEventSnapToImagePlace(OnCadSnapToImagePlace);
    CadOnEventPaint(OnCadPaint);
}
