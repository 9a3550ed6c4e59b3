// The CAD user commands of a project: the table of the 47 commands every project registers on its
// drawing, and the registry through which the tool folders hand in the procedures they build;
// beside it, the table through which they hand in the procedures of the ribbon commands that the
// document runs without a CAD user command.
//
// Every row is registered with the engine under one shared procedure that looks the running
// command up (CadCmdGetActive) and calls the row's procedure. That shared procedure is the
// command boundary: it keeps the program busy while the command runs (no project can close
// under it), turns an exception that escapes the procedure into a message, and afterwards gives
// ActiveCadCommandId back the value it had when the command started: 0 normally, or the id of
// the command whose input wait this one interrupted, which still runs.
#pragma once

#include <map>
#include <vector>

#include "platform/cad/Cad.h"

class CKelvaroDoc;

// One registration of a CAD user command.
struct CadUserCommand {
    int id = 0;
    const char* name = "";
    const char* alias = "";
    int reserved = 0;
    CadCommandProc procedure = nullptr;
    // The command's own rubber band, the shared empty one, or none.
    CadRubberBandProc drawProcedure = nullptr;
};

// The rubber band a row registers.
enum class RubberBandKind { Own, Empty, None };

// The table of commands, in registration order, with the procedures handed in so far. A row whose
// tool has not handed in its procedure runs CmdNotAvailableYet; a row with a rubber band of its
// own draws nothing until the tool hands in its procedure.
class CommandRegistry {
public:
    CommandRegistry();

    // Hands in the procedures of a command. drawProcedure is taken only by rows with a rubber
    // band of their own (the others keep the empty one or none). 0 for an unknown id or a null
    // procedure.
    int Supply(int id, CadCommandProc procedure, CadRubberBandProc drawProcedure = nullptr);
    // Back to the table as it starts (tests).
    void Reset();

    const std::vector<CadUserCommand>& Commands() const { return m_commands; }
    const CadUserCommand* Find(int id) const;
    RubberBandKind KindOf(int id) const;

private:
    std::vector<CadUserCommand> m_commands;
};

// The registry of the process.
CommandRegistry& GetCommandRegistry();

// A ribbon command that the project hands to a tool folder without a CAD user command (a tool
// that runs a modal dialog for the project, for example). It runs inside the document's
// handler, which has refused it already while a CAD user command is active.
using DocumentProcedure = void (*)(CKelvaroDoc& doc);

// The procedures of such ribbon commands by ribbon id. A button whose procedure has not been
// handed in stays disabled.
class DocumentProcedureTable {
public:
    // Hands in the procedure of the ribbon command (a later one replaces it). 0 for a null
    // procedure.
    int Supply(int ribbonId, DocumentProcedure procedure);
    // Null when none was handed in.
    DocumentProcedure Find(int ribbonId) const;
    // Empties the table (tests).
    void Reset() { m_procedures.clear(); }

private:
    std::map<int, DocumentProcedure> m_procedures;
};

// The table of the process.
DocumentProcedureTable& GetDocumentProcedures();

// Registers every command of the registry on the drawing, in table order.
void RegisterUserCommands(CadDrawing* drawing);

// The rubber band of commands that draw nothing while they wait.
void CmdEmptyDraw(CadDrawing* drawing, QPainter* painter, double x, double y, double z);
// The procedure of a command whose tool is not built yet: says so in the command line
// ("VOLUME: not available yet") and ends at once.
void CmdNotAvailableYet(CadDrawing* drawing);
