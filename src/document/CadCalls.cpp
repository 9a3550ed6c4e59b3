#include "document/CadCalls.h"

namespace kv {
namespace {

CadCallObserver& Observer() {
    static CadCallObserver observer;
    return observer;
}

void Notify(const CadCallRecord& record) {
    if (Observer()) {
        Observer()(record);
    }
}

}  // namespace

void SetCadCallObserver(CadCallObserver observer) {
    Observer() = std::move(observer);
}

int DocAddCommand(CadDrawing* drawing, int id, const char* name, const char* alias, int reserved,
                  CadCommandProc procedure, CadRubberBandProc rubberBand) {
    CadCallRecord r;
    r.kind = CadCallRecord::AddCommand;
    r.drawing = drawing;
    r.number = id;
    r.text = QString::fromUtf8(name);
    r.alias = QString::fromUtf8(alias);
    r.reserved = reserved;
    r.procedure = procedure;
    r.rubberBand = rubberBand;
    Notify(r);
    return CadAddCommand(drawing, id, name, alias, reserved, procedure, rubberBand);
}

int DocExecute(CadDrawing* drawing, QWidget* window, int command) {
    CadCallRecord r;
    r.kind = CadCallRecord::Execute;
    r.drawing = drawing;
    r.window = window;
    r.number = command;
    Notify(r);
    return CadExecute(drawing, window, command);
}

void DocCmdFinish(CadDrawing* drawing) {
    CadCallRecord r;
    r.kind = CadCallRecord::CmdFinish;
    r.drawing = drawing;
    Notify(r);
    CadCmdFinish(drawing);
}

void DocMenuClear(int menu) {
    CadCallRecord r;
    r.kind = CadCallRecord::MenuClear;
    r.number = menu;
    Notify(r);
    CadMenuClear(menu);
}

int DocMenuAdd(int menu, const char* text, int command) {
    CadCallRecord r;
    r.kind = CadCallRecord::MenuAdd;
    r.number = menu;
    r.command = command;
    r.text = QString::fromUtf8(text);
    Notify(r);
    return CadMenuAdd(menu, text, command);
}

}  // namespace kv
