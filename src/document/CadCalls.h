// The engine calls through which the project document registers its commands and context menus
// and starts commands from the ribbon. Each goes to the CAD engine unchanged; an observer, when
// one is set, sees every call before the engine does, so that a test can check which calls were
// made and in what order.
#pragma once

#include <QString>

#include <functional>

#include "platform/cad/Cad.h"

namespace kv {

struct CadCallRecord {
    enum Kind { AddCommand, Execute, CmdFinish, MenuClear, MenuAdd };
    Kind kind = Execute;
    CadDrawing* drawing = nullptr;
    QWidget* window = nullptr;
    // AddCommand: the command id; Execute: the command; MenuClear and MenuAdd: the menu number.
    int number = 0;
    // MenuAdd: the command of the entry.
    int command = 0;
    // AddCommand: name and alias; MenuAdd: the entry's text.
    QString text;
    QString alias;
    int reserved = 0;
    CadCommandProc procedure = nullptr;
    CadRubberBandProc rubberBand = nullptr;
};

using CadCallObserver = std::function<void(const CadCallRecord&)>;

// Sets the observer (an empty one removes it).
void SetCadCallObserver(CadCallObserver observer);

int DocAddCommand(CadDrawing* drawing, int id, const char* name, const char* alias, int reserved,
                  CadCommandProc procedure, CadRubberBandProc rubberBand);
int DocExecute(CadDrawing* drawing, QWidget* window, int command);
void DocCmdFinish(CadDrawing* drawing);
void DocMenuClear(int menu);
int DocMenuAdd(int menu, const char* text, int command);

}  // namespace kv
