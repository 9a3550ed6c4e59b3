#include "Program.h"

#include <cstdio>

namespace bench {

namespace {

#ifdef KV_BENCH_SCENARIO
const char* const kRunner = KV_BENCH_SCENARIO;
#else
const char* const kRunner = nullptr;
#endif

// A step waits this long for what it awaits in the event loop; a command that works longer is not
// counted against it (docs/scenarios.md).
const char* const kStepTimeout = "3600";

}  // namespace

bool HaveScenarioRunner() {
    return kRunner != nullptr;
}

Command Scenario(const std::string& script, const std::string& work) {
    return {kRunner ? kRunner : "kv_scenario", script, "--keep", work, "--timeout", kStepTimeout};
}

bool WriteScript(const std::string& path, const std::string& text) {
    std::FILE* f = std::fopen(path.c_str(), "wb");
    return f && std::fputs(text.c_str(), f) >= 0 && std::fclose(f) == 0;
}

}  // namespace bench
