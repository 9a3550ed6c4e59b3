// What a Google Benchmark program shares that runs each side of a pair as a process of its own
// (ProcessRun.h): the timing of a pair's side and number arguments.
#pragma once

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "ProcessRun.h"

// Times the steps, one after the other, as one iteration of the benchmark (manual time), with the
// largest peak memory of them as the counter peak_MiB.
inline void ReportProcesses(benchmark::State& state, const std::vector<std::vector<std::string>>& steps) {
    for (auto _ : state) {
        double seconds = 0.0, peak = 0.0;
        for (const auto& step : steps) {
            const ProcessRun run = RunProcess(step);
            if (run.status != 0) {
                state.SkipWithError(("failed: " + step[0]).c_str());
                return;
            }
            seconds += run.seconds;
            peak = std::max(peak, run.peakMiB);
        }
        state.SetIterationTime(seconds);
        state.counters["peak_MiB"] = peak;
    }
}

// A number as a command-line argument, without loss.
inline std::string NumberArg(double v) {
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%.17g", v);
    return buffer;
}
