#include "analysis/AnalysisCommands.h"

#include "analysis/DemAnalysis.h"
#include "analysis/GroundFilteringCommand.h"
#include "document/UserCommands.h"
#include "platform/ui/CadCommandIds.h"

void RegisterAnalysisCommands(CommandRegistry& registry) {
    registry.Supply(CMD_GROUNDFILTERING, CmdGroundFiltering, CmdGroundFilteringDraw);
    registry.Supply(CMD_DEMANALYSIS, CmdDemAnalysis);
}
