// The procedures of the DEM tools that the project's command table runs.
#pragma once

class CommandRegistry;

// Hands the command table the procedures of the DEM tools (called once at start-up).
void RegisterDemToolsCommands(CommandRegistry& registry);
