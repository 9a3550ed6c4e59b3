// One side of a Google Benchmark pair run as a process of its own, through the harness's launcher
// (support/Launch.cpp), so that its time and peak memory are the whole process's and not those of
// the benchmark program it was started from.
#pragma once

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

struct ProcessRun {
    double seconds = 0.0;
    double peakMiB = 0.0;
    int status = -1;
};

// Runs the program (args[0], looked up on the PATH) to its end; its standard output goes to the
// file at outputPath, or nowhere when none is given.
inline ProcessRun RunProcess(const std::vector<std::string>& args,
                             const std::string& outputPath = std::string()) {
    const std::string report = "/tmp/kv_bench_run_" + std::to_string(getpid()) + ".txt";
    std::vector<char*> argv = {const_cast<char*>(KV_BENCH_LAUNCHER), const_cast<char*>(report.c_str())};
    for (const std::string& a : args) {
        argv.push_back(const_cast<char*>(a.c_str()));
    }
    argv.push_back(nullptr);
    ProcessRun run;
    const pid_t pid = fork();
    if (pid == 0) {
        const int out = outputPath.empty() ? ::open("/dev/null", O_WRONLY)
                                           : ::open(outputPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        dup2(out, 1);
        execv(argv[0], argv.data());
        _exit(127);
    }
    int status = 0;
    if (pid < 0 || waitpid(pid, &status, 0) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        return run;
    }
    long maxrss = 0;
    if (std::FILE* f = std::fopen(report.c_str(), "r")) {
        if (std::fscanf(f, "%d %lf %ld", &run.status, &run.seconds, &maxrss) != 3) {
            run.status = -1;
        }
        std::fclose(f);
    }
    std::remove(report.c_str());
    run.peakMiB = double(maxrss) / 1024.0;
    return run;
}
