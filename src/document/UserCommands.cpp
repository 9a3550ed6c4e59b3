#include "document/UserCommands.h"

#include <QString>

#include <exception>
#include <new>

#include "document/CadCalls.h"
#include "document/KelvaroDoc.h"
#include "platform/ui/ActiveCommand.h"
#include "platform/ui/CadCommandIds.h"
#include "platform/ui/CloseGuard.h"
#include "platform/ui/Interaction.h"

namespace {

struct CommandRow {
    int id;
    const char* name;
    const char* alias;
    RubberBandKind rubberBand;
};

constexpr RubberBandKind Own = RubberBandKind::Own;
constexpr RubberBandKind Empty = RubberBandKind::Empty;
constexpr RubberBandKind None = RubberBandKind::None;

// Ids 11035 and 11036 are not used. "RETD" is the alias of three commands: typed, it starts the
// first of them.
const CommandRow kCommandTable[] = {
    {CMD_VOLUME, "VOLUME", "VOL", Own},
    {CMD_PROFILE, "PROFILE", "EP", Own},
    {CMD_SUBTRACTDEM, "SUBTRACTDEM", "SUBDEM", Empty},
    {CMD_GROUNDFILTERING, "GROUNDFILTERING", "GF", Own},
    {CMD_OBJECTELEVATION, "OBJECTELEVATION", "OE", Own},
    {CMD_DEMHOLE, "DEMHOLE", "DEMHOLE", Own},
    {CMD_DEMGRIDGAPS, "DEMGRIDGAPS", "DEMGRIDGAPS", Own},
    {CMD_DEMFLOODFILL, "DEMFLOODFILL", "DEMFLOODFILL", Empty},
    {CMD_DEMOFFSET, "DEMOFFSET", "DEMOFFSET", Own},
    {CMD_DEMPATCHIT, "DEMPATCHIT", "DEMPATCHIT", Own},
    {CMD_EDITSEAMLINESROUND, "EDITSEAMLINESROUND", "RD", Own},
    {CMD_EDITSEAMLINESROUNDUNDO, "EDITSEAMLINESROUNDUNDO", "RDU", None},
    {CMD_EDITSEAMLINESROUNDREDO, "EDITSEAMLINESROUNDREDO", "RDR", None},
    {CMD_DEMELEVATIONBYENTITIES, "DEMELEVATIONBYENTITIES", "DEE", Empty},
    {CMD_CONTOURS, "CONTOURS", "CON", Empty},
    {CMD_CUT, "CUT", "CUT", Own},
    {CMD_ROTATE, "ROTATE", "ROT", Own},
    {CMD_ADDQUOTES, "ADDQUOTES", "QUOT", Empty},
    {CMD_DRAWPOLYLINEONORTHO, "DRAWPOLYLINEONORTHO", "DPOO", Own},
    {CMD_CREATESLOPEMAP, "CREATESLOPEMAP", "SLOPE", Empty},
    {CMD_DRAWARROW, "DRAWARROW", "ARROW", Empty},
    {CMD_LANDMARKTRANSFORM, "LANDMARKTRANSFORM", "LMT", Empty},
    {CMD_ROTATEFROMPOLY, "ROTATEFROMPOLY", "RFP", Empty},
    {CMD_ADDPOINTS, "ADDPOINTS", "PTS", Empty},
    {CMD_WRITEOBJ, "WRITEOBJ", "OBJ", Empty},
    {CMD_LANDMARKTRANSFORMGPS, "LANDMARKTRANSFORMGPS", "LMTGPS", Empty},
    {CMD_DEMSPLIT, "DEMSPLIT", "DEMSPLIT", Empty},
    {CMD_DEMMERGE, "DEMMERGE", "DEMMERGE", Empty},
    {CMD_COMPAREDEM, "COMPAREDEM", "COMPAREDEM", Empty},
    {CMD_RESIZEDEM, "RESIZEDEM", "RESIZEDEM", Empty},
    {CMD_DEMFROMTIN, "DEMFROMTIN", "DEMFROMTIN", Own},
    {CMD_EDITDEMSEAMLINESROUND, "EDITDEMSEAMLINESROUND", "DRD", Own},
    {CMD_EDITDEMSEAMLINESROUNDUNDO, "EDITDEMSEAMLINESROUNDUNDO", "DRDU", None},
    {CMD_EDITDEMSEAMLINESROUNDREDO, "EDITDEMSEAMLINESROUNDREDO", "DRDR", None},
    {CMD_SETENTELEVATIONFROMDEM, "SETENTELEVATIONFROMDEM", "SEEFD", None},
    {CMD_RASTERIZEENTITIESONDEM, "RASTERIZEENTITIESONDEM", "RETD", None},
    {CMD_CREATEDEMFROMLAS, "CREATEDEMFROMLAS", "RETD", None},
    {CMD_DEMANALYSIS, "DEMANALYSIS", "RETD", None},
    {CMD_NDVISAVI, "NDVISAVI", "NDVISAVI", Own},
    {CMD_RASTERCALCULATOR, "RASTERCALCULATOR", "RC", None},
    {CMD_MAPREPRESENTATION, "MAPREPRESENTATION", "MR", None},
    {CMD_RASTERIZEMAP, "RASTERIZEMAP", "RM", None},
    {CMD_COLORCLASSIFICATION, "COLORCLASSIFICATION", "CC", Own},
    {CMD_EXPORTNDVIRESULTS, "EXPORTNDVIRESULTS", "ENR", Own},
    {CMD_EDITDEMFROMTIN, "EDITDEMFROMTIN", "EDFT", Own},
    {CMD_ADDLONGMEAS, "ADDLONGMEAS", "", None},
    {CMD_DEMERODE, "DEMERODE", "DEMERODE", Own},
};

const CommandRow* RowOf(int id) {
    for (const CommandRow& row : kCommandTable) {
        if (row.id == id) {
            return &row;
        }
    }
    return nullptr;
}

void ReportEscapedException(CadDrawing* drawing, const QString& text) {
    SetDocCommandPrompt(drawing, QString());
    KvMessageBox(text, MB_OK | MB_ICONERROR);
}

// The procedure the engine runs for every row.
void RunUserCommand(CadDrawing* drawing) {
    const CadUserCommand* found = GetCommandRegistry().Find(CadCmdGetActive(drawing));
    if (!found || !found->procedure) {
        return;
    }
    const CadUserCommand command = *found;
    kv::BusyScope busy;
    const int interrupted = ActiveCadCommandId;
    try {
        command.procedure(drawing);
    } catch (const std::bad_alloc&) {
        ReportEscapedException(drawing, QStringLiteral("%1: not enough memory").arg(command.name));
    } catch (const std::exception& e) {
        ReportEscapedException(drawing,
                               QStringLiteral("%1: %2").arg(command.name, QString::fromUtf8(e.what())));
    } catch (...) {
        ReportEscapedException(drawing, QStringLiteral("%1: unexpected error").arg(command.name));
    }
    ActiveCadCommandId = interrupted;
}

// The rubber band the engine runs for every row that has one.
void DrawUserCommand(CadDrawing* drawing, QPainter* painter, double x, double y, double z) {
    const CadUserCommand* command = GetCommandRegistry().Find(CadCmdGetActive(drawing));
    if (command && command->drawProcedure) {
        command->drawProcedure(drawing, painter, x, y, z);
    }
}

}  // namespace

void CmdEmptyDraw(CadDrawing*, QPainter*, double, double, double) {}

void CmdNotAvailableYet(CadDrawing* drawing) {
    const CadUserCommand* command = GetCommandRegistry().Find(CadCmdGetActive(drawing));
    if (!command) {
        return;
    }
    QByteArray text = QStringLiteral("%1: not available yet").arg(command->name).toUtf8();
    CadCmdPrompt(drawing, text.constData(), nullptr);
}

CommandRegistry::CommandRegistry() {
    Reset();
}

void CommandRegistry::Reset() {
    m_commands.clear();
    for (const CommandRow& row : kCommandTable) {
        CadUserCommand command;
        command.id = row.id;
        command.name = row.name;
        command.alias = row.alias;
        command.procedure = CmdNotAvailableYet;
        command.drawProcedure = row.rubberBand == RubberBandKind::None ? nullptr : CmdEmptyDraw;
        m_commands.push_back(command);
    }
}

int CommandRegistry::Supply(int id, CadCommandProc procedure, CadRubberBandProc drawProcedure) {
    if (!procedure) {
        return 0;
    }
    for (CadUserCommand& command : m_commands) {
        if (command.id != id) {
            continue;
        }
        command.procedure = procedure;
        if (KindOf(id) == RubberBandKind::Own && drawProcedure) {
            command.drawProcedure = drawProcedure;
        }
        return 1;
    }
    return 0;
}

const CadUserCommand* CommandRegistry::Find(int id) const {
    for (const CadUserCommand& command : m_commands) {
        if (command.id == id) {
            return &command;
        }
    }
    return nullptr;
}

RubberBandKind CommandRegistry::KindOf(int id) const {
    const CommandRow* row = RowOf(id);
    return row ? row->rubberBand : RubberBandKind::None;
}

CommandRegistry& GetCommandRegistry() {
    static CommandRegistry registry;
    return registry;
}

int DocumentProcedureTable::Supply(int ribbonId, DocumentProcedure procedure) {
    if (!procedure) {
        return 0;
    }
    m_procedures[ribbonId] = procedure;
    return 1;
}

DocumentProcedure DocumentProcedureTable::Find(int ribbonId) const {
    const auto found = m_procedures.find(ribbonId);
    return found == m_procedures.end() ? nullptr : found->second;
}

DocumentProcedureTable& GetDocumentProcedures() {
    static DocumentProcedureTable table;
    return table;
}

void RegisterUserCommands(CadDrawing* drawing) {
    for (const CadUserCommand& command : GetCommandRegistry().Commands()) {
        kv::DocAddCommand(drawing, command.id, command.name, command.alias, command.reserved, RunUserCommand,
                          command.drawProcedure ? DrawUserCommand : nullptr);
    }
}
