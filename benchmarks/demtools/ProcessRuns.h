// The benchmarks' process runs: a program run to its end as a process of its own, with its wall
// time and peak resident memory, and a benchmark iteration made of such runs.
#pragma once

#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <string>
#include <vector>

struct ProcessRun {
    double seconds = 0.0;
    double peakMiB = 0.0;
    int status = -1;
};

// Runs the program (looked up on PATH) with its standard output thrown away.
inline ProcessRun RunProcess(const std::vector<std::string>& args) {
    std::vector<char*> argv;
    for (const std::string& a : args) {
        argv.push_back(const_cast<char*>(a.c_str()));
    }
    argv.push_back(nullptr);
    const auto start = std::chrono::steady_clock::now();
    const pid_t pid = fork();
    if (pid == 0) {
        const int devnull = ::open("/dev/null", O_WRONLY);
        dup2(devnull, 1);
        execvp(argv[0], argv.data());
        _exit(127);
    }
    ProcessRun run;
    struct rusage usage {};
    int status = 0;
    wait4(pid, &status, 0, &usage);
    run.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    run.peakMiB = usage.ru_maxrss / 1024.0;
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return run;
}

// One iteration: the steps in turn, their times summed and the largest peak kept; prepare runs
// untimed before them.
inline void ReportProcesses(benchmark::State& state, const std::vector<std::vector<std::string>>& steps,
                            const std::function<void()>& prepare = {}) {
    for (auto _ : state) {
        if (prepare) {
            prepare();
        }
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
