#include "analysis/AnalysisCommands.h"

#include "document/UserCommands.h"

void RegisterAnalysisCommands(CommandRegistry& /*registry*/) {
    // No procedure of the measurement and surface analysis tools is handed in yet: their commands say so when
    // started.
}
