// Calls whose implementation is still to come answer failure.
#include "platform/cad/CadInternal.h"

void CadOnEventDrawImage(CadEventDrawImage) {}
void CadOnEventMouseMove(CadEventMouseMove) {}
void CadOnEventPreMouseDown(CadEventPreMouseDown) {}
void CadOnEventMouseDown(CadEventMouseDown) {}
void CadOnEventMouseUp(CadEventMouseUp) {}
void CadOnEventMouseWheel(CadEventMouseWheel) {}
void CadOnEventPolyFill(CadEventPolyFill, int) {}
void CadOnEventEntErase(CadEventEntErase) {}
void CadOnEventDrawCursor(CadEventDrawCursor) {}
void CadOnEventSnapToImagePlace(CadEventSnapToImagePlace) {}
void CadOnEventPaint(CadEventPaint) {}
void CadOnEventKeyDown(CadEventKeyDown) {}
void CadSetReturnInt(int) {}
int CadGetKeyFlags() {
    return 0;
}
void CadAccelSetDefault() {}
int CadPluginImageRead(const char*, const char*, const char*, int) {
    return 0;
}
int CadSetParam(int, int) {
    return 0;
}
int CadGetParam(int) {
    return 0;
}
void CadDelete(CadDrawing* d) {
    delete d;
}
int CadRasterize(CadDrawing*, const char*, double, double, double, double, double) {
    return 0;
}
QWidget* CadWndCreate(CadDrawing*, QWidget*, int, int, int, int) {
    return nullptr;
}
void CadWndDestroy(QWidget*) {}
int CadWndResize(QWidget*, int, int, int, int) {
    return 0;
}
QWidget* CadGetWindow(CadDrawing*) {
    return nullptr;
}
CadDrawing* CadWndGetDrawing(QWidget*) {
    return nullptr;
}
void CadWinSetFocus(QWidget*) {}
void CadWndRedraw(QWidget*) {}
void CadWinPaint(QWidget*) {}
int CadViewRect(QWidget*, double, double, double, double) {
    return 0;
}
int CadGetViewRect(QWidget*, double*, double*, double*, double*) {
    return 0;
}
int CadCoordWinToModel(QWidget*, int, int, double*, double*) {
    return 0;
}
int CadCoordModelToWin(QWidget*, double, double, int*, int*) {
    return 0;
}
double CadDistWinToModel(QWidget*, double) {
    return 0;
}
QWidget* CadLayersOrderWindow() {
    return nullptr;
}
QWidget* CadCWCreate(QWidget*, int, int, int, int) {
    return nullptr;
}
int CadCWResize(QWidget*, int, int, int, int) {
    return 0;
}
void CadMenuClear(int) {}
int CadMenuAdd(int, const char*, int) {
    return 0;
}
int CadSnapGetMode(CadDrawing*) {
    return 0;
}
void CadSnapPutMode(CadDrawing*, int) {}
int CadSnapGetOn(CadDrawing*) {
    return 0;
}
void CadSnapPutOn(CadDrawing*, int) {}
int CadAddCommand(CadDrawing*, int, const char*, const char*, int, CadCommandProc, CadRubberBandProc) {
    return 0;
}
int CadExecute(CadDrawing*, QWidget*, int) {
    return 0;
}
void CadCmdFinish(CadDrawing*) {}
int CadCmdGetActive(CadDrawing*) {
    return 0;
}
void CadCmdPrompt(CadDrawing*, const char*, const char*) {}
void CadCmdPromptAdd(CadDrawing*, const char*) {}
int CadCmdGetPrompt(CadDrawing*, char*, int) {
    return 0;
}
int CadCmdUserInput(CadDrawing*) {
    return 0;
}
int CadCmdGetInputPoint(CadDrawing*, double*, double*, double*) {
    return 0;
}
int CadCmdGetInputStr(CadDrawing*, char*, int) {
    return 0;
}
CadEntity* CadCmdUserGetEntity(CadDrawing*) {
    return nullptr;
}
int CadCmdUserSelect(CadDrawing*) {
    return 0;
}
int CadToolGetPickedPoint(CadDrawing*, double*, double*, double*) {
    return 0;
}
void CadDrawAddVertex(double, double, double) {}
void CadDrawPolyline(int) {}
void CadScriptPushPoint(CadDrawing*, double, double, double, int) {}
void CadScriptPushFinish(CadDrawing*) {}
void CadScriptPushText(CadDrawing*, const char*) {}
void CadScriptPushCancel(CadDrawing*) {}
void CadScriptPushEntity(CadDrawing*, CadEntity*) {}
void CadScriptPushCall(CadDrawing*, std::function<void()>) {}
void CadScriptClear(CadDrawing*) {}
int CadScriptPending(CadDrawing*) {
    return 0;
}
void CadScriptSetStrict(int) {}
namespace cad {
void FireEntErase(CadDrawing*, CadEntity*) {}
void NotifyRepaint(CadDrawing*) {}
}  // namespace cad
