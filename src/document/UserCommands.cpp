#include "document/UserCommands.h"

#include <QString>

#include <exception>
#include <new>

#include "document/CadCalls.h"
#include "document/KelvaroDoc.h"
#include "platform/ui/ActiveCommand.h"
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
    {11004, "VOLUME", "VOL", Own},
    {11005, "PROFILE", "EP", Own},
    {11006, "SUBTRACTDEM", "SUBDEM", Empty},
    {11007, "GROUNDFILTERING", "GF", Own},
    {11008, "OBJECTELEVATION", "OE", Own},
    {11009, "DEMHOLE", "DEMHOLE", Own},
    {11010, "DEMGRIDGAPS", "DEMGRIDGAPS", Own},
    {11011, "DEMFLOODFILL", "DEMFLOODFILL", Empty},
    {11012, "DEMOFFSET", "DEMOFFSET", Own},
    {11013, "DEMPATCHIT", "DEMPATCHIT", Own},
    {11014, "EDITSEAMLINESROUND", "RD", Own},
    {11015, "EDITSEAMLINESROUNDUNDO", "RDU", None},
    {11016, "EDITSEAMLINESROUNDREDO", "RDR", None},
    {11017, "DEMELEVATIONBYENTITIES", "DEE", Empty},
    {11018, "CONTOURS", "CON", Empty},
    {11019, "CUT", "CUT", Own},
    {11020, "ROTATE", "ROT", Own},
    {11021, "ADDQUOTES", "QUOT", Empty},
    {11022, "DRAWPOLYLINEONORTHO", "DPOO", Own},
    {11023, "CREATESLOPEMAP", "SLOPE", Empty},
    {11024, "DRAWARROW", "ARROW", Empty},
    {11025, "LANDMARKTRANSFORM", "LMT", Empty},
    {11026, "ROTATEFROMPOLY", "RFP", Empty},
    {11027, "ADDPOINTS", "PTS", Empty},
    {11028, "WRITEOBJ", "OBJ", Empty},
    {11029, "LANDMARKTRANSFORMGPS", "LMTGPS", Empty},
    {11030, "DEMSPLIT", "DEMSPLIT", Empty},
    {11031, "DEMMERGE", "DEMMERGE", Empty},
    {11032, "COMPAREDEM", "COMPAREDEM", Empty},
    {11033, "RESIZEDEM", "RESIZEDEM", Empty},
    {11034, "DEMFROMTIN", "DEMFROMTIN", Own},
    {11037, "EDITDEMSEAMLINESROUND", "DRD", Own},
    {11038, "EDITDEMSEAMLINESROUNDUNDO", "DRDU", None},
    {11039, "EDITDEMSEAMLINESROUNDREDO", "DRDR", None},
    {11040, "SETENTELEVATIONFROMDEM", "SEEFD", None},
    {11041, "RASTERIZEENTITIESONDEM", "RETD", None},
    {11042, "CREATEDEMFROMLAS", "RETD", None},
    {11043, "DEMANALYSIS", "RETD", None},
    {11044, "NDVISAVI", "NDVISAVI", Own},
    {11045, "RASTERCALCULATOR", "RC", None},
    {11046, "MAPREPRESENTATION", "MR", None},
    {11047, "RASTERIZEMAP", "RM", None},
    {11048, "COLORCLASSIFICATION", "CC", Own},
    {11049, "EXPORTNDVIRESULTS", "ENR", Own},
    {11050, "EDITDEMFROMTIN", "EDFT", Own},
    {11051, "ADDLONGMEAS", "", None},
    {11052, "DEMERODE", "DEMERODE", Own},
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

void RegisterUserCommands(CadDrawing* drawing) {
    for (const CadUserCommand& command : GetCommandRegistry().Commands()) {
        kv::DocAddCommand(drawing, command.id, command.name, command.alias, command.reserved, RunUserCommand,
                          command.drawProcedure ? DrawUserCommand : nullptr);
    }
}
