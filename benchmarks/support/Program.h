// The whole program as the operator runs it: the scenario runner (kv_scenario, built with the
// tests from tests/support/scenario) starts the real program offscreen with its main window and
// drives it through a script (docs/scenarios.md). A side of a pair that runs such a script is
// timed as a whole process, the runner's own start-up included; its start-up alone is a row of
// its own.
#pragma once

#include <string>

#include "Bench.h"

namespace bench {

// Whether this build has the scenario runner.
bool HaveScenarioRunner();
// The command that runs the script in the program with `work` as its working folder, which stays
// (the files the script wrote are there for the check).
Command Scenario(const std::string& script, const std::string& work);
// Writes the text of a script; false when it cannot be written.
bool WriteScript(const std::string& path, const std::string& text);
// Gives the working folder `work` the program's own folder as a first start left it (made once):
// the operator's profile and the desktop's registration of the program's file types. A start on
// it is the start of an operator who has started the program before, which writes no
// registration and starts none of the desktop's tools to read one (on a folder of its own, every
// run would be a first start, with those tools running beside the command). False when it
// cannot be made or copied.
bool StartedBefore(const std::string& work);

}  // namespace bench
