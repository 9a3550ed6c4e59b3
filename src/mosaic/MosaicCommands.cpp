#include "mosaic/MosaicCommands.h"

#include "document/UserCommands.h"

void RegisterMosaicCommands(CommandRegistry& /*registry*/) {
    // No procedure of the mosaicking, seamline and DEM merge tools is handed in yet: their commands say so
    // when started.
}
