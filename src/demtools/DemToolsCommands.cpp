#include "demtools/DemToolsCommands.h"

#include "demtools/DemEditCommands.h"
#include "demtools/DemOutputCommands.h"
#include "document/UserCommands.h"

void RegisterDemToolsCommands(CommandRegistry& registry) {
    registry.Supply(11009, CmdDemHole, CmdDemHoleDraw);
    registry.Supply(11010, CmdDemGridGaps, CmdDemGridGapsDraw);
    registry.Supply(11011, CmdDemFloodFill);
    registry.Supply(11012, CmdDemOffset, CmdDemOffsetDraw);
    registry.Supply(11013, CmdDemPatchIt, CmdDemPatchItDraw);
    registry.Supply(11033, CmdResizeDem);
    registry.Supply(11042, CmdCreateDemFromLas);
    registry.Supply(11052, CmdDemErode, CmdDemErodeDraw);
}
