// Whether a project or the program may close now. Closing is refused while a CAD user command is
// active (ActiveCadCommandId), while a command procedure is still on the stack (some leave the
// active id alone while they wait for input), and while a long worker pumps messages: in each
// case code that is still running holds the project, and deleting it would pull the ground from
// under that code. Every close path (the main window, a project window, File Close) asks here.
#pragma once

#include "platform/tools/BusyScope.h"

namespace kv {

// True when a close must be refused now.
bool IsCloseRefused();

// When a close must be refused, tells the operator "Close active command before exit" and
// answers true; otherwise answers false and shows nothing.
bool RefuseCloseWhileBusy();

}  // namespace kv
