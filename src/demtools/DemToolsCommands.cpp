#include "demtools/DemToolsCommands.h"

#include "demtools/DemContours.h"
#include "demtools/DemEditCommands.h"
#include "demtools/DemOutputCommands.h"
#include "demtools/EntityElevationCommands.h"
#include "demtools/RasterCutRotate.h"
#include "demtools/TinCommands.h"
#include "document/UserCommands.h"
#include "platform/ui/CadCommandIds.h"

void RegisterDemToolsCommands(CommandRegistry& registry) {
    registry.Supply(CMD_DEMHOLE, CmdDemHole, CmdDemHoleDraw);
    registry.Supply(CMD_DEMGRIDGAPS, CmdDemGridGaps, CmdDemGridGapsDraw);
    registry.Supply(CMD_DEMFLOODFILL, CmdDemFloodFill);
    registry.Supply(CMD_DEMOFFSET, CmdDemOffset, CmdDemOffsetDraw);
    registry.Supply(CMD_DEMPATCHIT, CmdDemPatchIt, CmdDemPatchItDraw);
    registry.Supply(CMD_RESIZEDEM, CmdResizeDem);
    registry.Supply(CMD_CREATEDEMFROMLAS, CmdCreateDemFromLas);
    registry.Supply(CMD_DEMERODE, CmdDemErode, CmdDemErodeDraw);
    registry.Supply(CMD_DEMFROMTIN, CmdDemFromTin, CmdDemFromTinDraw);
    registry.Supply(CMD_EDITDEMFROMTIN, CmdEditDemFromTin, CmdEditDemFromTinDraw);
    registry.Supply(CMD_DEMELEVATIONBYENTITIES, CmdDemElevationByEntities);
    registry.Supply(CMD_RASTERIZEENTITIESONDEM, CmdRasterizeEntitiesOnDem);
    registry.Supply(CMD_SETENTELEVATIONFROMDEM, CmdSetEntElevationFromDem);
    registry.Supply(CMD_CONTOURS, CmdContours);
    registry.Supply(CMD_CUT, CmdCut, CmdCutDraw);
    registry.Supply(CMD_ROTATE, CmdRotate, CmdRotateDraw);
}
