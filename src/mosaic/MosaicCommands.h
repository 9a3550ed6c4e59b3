// The procedures of the mosaicking, seamline and DEM merge tools that the project's command table runs.
#pragma once

class CommandRegistry;

// Hands the command table the procedures of the mosaicking, seamline and DEM merge tools (called once at
// start-up).
void RegisterMosaicCommands(CommandRegistry& registry);
