#include "analysis/AnalysisCommands.h"

#include "analysis/SurfaceCommands.h"
#include "document/UserCommands.h"
#include "platform/ui/CadCommandIds.h"

void RegisterAnalysisCommands(CommandRegistry& registry) {
    registry.Supply(CMD_SUBTRACTDEM, CmdSubtractDem);
    registry.Supply(CMD_COMPAREDEM, CmdCompareDem);
}
