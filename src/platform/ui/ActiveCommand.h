// The CAD user command in progress, shared by the command procedures, the ribbon starters and
// their update handlers, and the frames' close guards.
#pragma once

// Id of the CAD user command whose interaction is running, 0 when none. A command procedure sets
// it to its own id before its first pick or dialog and back to 0 on every way out.
extern int ActiveCadCommandId;
