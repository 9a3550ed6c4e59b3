// The procedures of the orthophoto product and agricultural map tools that the project's command table runs.
#pragma once

class CommandRegistry;

// Hands the command table the procedures of the orthophoto product and agricultural map tools, and the
// projects the maker of their two modeless map windows (called once at start-up).
void RegisterProductsCommands(CommandRegistry& registry);
