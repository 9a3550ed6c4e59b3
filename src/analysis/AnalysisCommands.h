// The procedures of the measurement and surface analysis tools that the project's command table runs.
#pragma once

class CommandRegistry;

// Hands the command table the procedures of the measurement and surface analysis tools (called once at
// start-up).
void RegisterAnalysisCommands(CommandRegistry& registry);
