// The benchmarks that run each side of a pair as a process of its own, so that its time and peak
// memory are the whole process's.
#pragma once

#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

// A program run to its end: its wall time, the peak resident memory of the process, and its exit
// status (-1 when it did not exit).
struct BenchRun {
    double seconds = 0.0;
    double peakMiB = 0.0;
    int status = -1;
};

// Runs the program (the first argument, looked up on the path) with its standard output dropped.
inline BenchRun RunProcess(const std::vector<std::string>& args) {
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
    BenchRun run;
    struct rusage usage {};
    int status = 0;
    wait4(pid, &status, 0, &usage);
    run.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    run.peakMiB = usage.ru_maxrss / 1024.0;
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return run;
}

// Times the steps, one after the other, as one iteration of the benchmark (manual time), with the
// largest peak memory of them as the counter peak_MiB.
inline void ReportProcesses(benchmark::State& state, const std::vector<std::vector<std::string>>& steps) {
    for (auto _ : state) {
        double seconds = 0.0, peak = 0.0;
        for (const auto& step : steps) {
            const BenchRun run = RunProcess(step);
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
