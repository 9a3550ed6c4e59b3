#include "analysis/AnalysisCommands.h"

#include <QString>

#include "analysis/DemAnalysis.h"
#include "analysis/GroundFilteringCommand.h"
#include "analysis/ObjectElevation.h"
#include "analysis/ProfileCommand.h"
#include "analysis/SurfaceCommands.h"
#include "analysis/VolumeCommand.h"
#include "document/KelvaroDoc.h"
#include "document/UserCommands.h"
#include "platform/cad/Cad.h"
#include "platform/ui/CadCommandIds.h"

void RegisterAnalysisCommands(CommandRegistry& registry) {
    registry.Supply(CMD_VOLUME, CmdVolume, CmdVolumeDraw);
    registry.Supply(CMD_PROFILE, CmdProfile, CmdProfileDraw);
    registry.Supply(CMD_OBJECTELEVATION, CmdObjectElevation, CmdObjectElevationDraw);
    registry.Supply(CMD_GROUNDFILTERING, CmdGroundFiltering, CmdGroundFilteringDraw);
    registry.Supply(CMD_DEMANALYSIS, CmdDemAnalysis);
    registry.Supply(CMD_SUBTRACTDEM, CmdSubtractDem);
    registry.Supply(CMD_COMPAREDEM, CmdCompareDem);
}

bool DemLoaded(CadDrawing* drawing, CKelvaroDoc& doc) {
    if (!doc.m_DEMs.empty()) {
        return true;
    }
    SetDocCommandPrompt(drawing, QString());
    CadCmdPrompt(drawing, "No DEM loaded", "");
    return false;
}
