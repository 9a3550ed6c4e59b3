// The launcher of every timed process: runs the command to its end and writes its exit status,
// its wall time and its peak resident memory to the report file. The harness starts each step
// through it because a process's peak memory includes that of the process it was forked from
// before it replaced itself: forked from the harness, which holds data, a small peer would show
// the harness's size; forked from this small program it shows its own.
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s REPORT COMMAND [ARGS...]\n", argv[0]);
        return 2;
    }
    timespec start{}, end{};
    clock_gettime(CLOCK_MONOTONIC, &start);
    const pid_t pid = fork();
    if (pid == 0) {
        execvp(argv[2], argv + 2);
        std::fprintf(stderr, "cannot start %s: %s\n", argv[2], std::strerror(errno));
        _exit(127);
    }
    if (pid < 0) {
        return 2;
    }
    int status = 0;
    struct rusage usage {};
    while (wait4(pid, &status, 0, &usage) < 0 && errno == EINTR) {
    }
    clock_gettime(CLOCK_MONOTONIC, &end);
    const double seconds = double(end.tv_sec - start.tv_sec) + 1e-9 * double(end.tv_nsec - start.tv_nsec);
    std::FILE* report = std::fopen(argv[1], "w");
    if (!report) {
        return 2;
    }
    const int code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    std::fprintf(report, "%d %.9f %ld\n", code, seconds, usage.ru_maxrss);
    return std::fclose(report) == 0 ? 0 : 2;
}
