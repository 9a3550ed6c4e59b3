#include "demtools/DemToolsCommands.h"

#include "document/UserCommands.h"

void RegisterDemToolsCommands(CommandRegistry& /*registry*/) {
    // No procedure of the DEM tools is handed in yet: their commands say so when started.
}
