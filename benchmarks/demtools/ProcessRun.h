// One side of a benchmark pair run as a process of its own, so that its time and peak memory are
// the whole process's.
#pragma once

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
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
    std::vector<char*> argv;
    for (const std::string& a : args) {
        argv.push_back(const_cast<char*>(a.c_str()));
    }
    argv.push_back(nullptr);
    const auto start = std::chrono::steady_clock::now();
    const pid_t pid = fork();
    if (pid == 0) {
        const int out = outputPath.empty() ? ::open("/dev/null", O_WRONLY)
                                           : ::open(outputPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        dup2(out, 1);
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
