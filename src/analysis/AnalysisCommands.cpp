#include "analysis/AnalysisCommands.h"

#include "analysis/ObjectElevation.h"
#include "document/UserCommands.h"
#include "platform/ui/CadCommandIds.h"

void RegisterAnalysisCommands(CommandRegistry& registry) {
    registry.Supply(CMD_OBJECTELEVATION, CmdObjectElevation, CmdObjectElevationDraw);
}
