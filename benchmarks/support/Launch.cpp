// The launcher of every timed process: runs the command to its end, pinned to the processors it is
// given, and writes its exit status, its wall time, its peak resident memory, the most threads it
// had running at once and the CPU time it used to the report file. The harness starts each step
// through it because a process's peak memory includes that of the process it was forked from
// before it replaced itself: forked from the harness, which holds data, a small peer would show
// the harness's size; forked from this small program it shows its own.
//
// Threads are counted, not taken from what a side was told: every few milliseconds the threads of
// the process and of the processes it started are read from /proc, and those that were running or
// ready to run all the time since the sample before (in that state in both samples, without a wait
// of their own between them) and ran in between are counted; the largest count is the side's.
// Idle threads (a pool waiting for work) do not count; neither does a hand-over, where a thread
// gives work to another and waits for it: it is woken for an instant each time a piece of the work
// is done, or kept from its processor by the other until it gets to wait, without running. Neither
// does the sampling itself, which runs in this program, on any processor: only
// the command is pinned (in its process, before it starts; what it starts inherits the pinning).
#include <dirent.h>
#include <sched.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <thread>
#include <vector>

namespace {

constexpr auto kSampleEvery = std::chrono::milliseconds(5);

// A thread as a sample saw it: its id, how often it had waited and how long it had run by then.
struct Seen {
    long id = 0;
    long waits = 0;
    long long ran = 0;
    bool operator<(const Seen& other) const { return id < other.id; }
};

// The nanoseconds a thread has run, from its schedstat file (-1 when unreadable).
long long RanOf(const std::string& schedstatPath) {
    std::FILE* f = std::fopen(schedstatPath.c_str(), "r");
    if (!f) {
        return -1;
    }
    long long ran = -1;
    if (std::fscanf(f, "%lld", &ran) != 1) {
        ran = -1;
    }
    std::fclose(f);
    return ran;
}

// The times a thread gave up its processor to wait, from its status file (-1 when unreadable).
long WaitsOf(const std::string& statusPath) {
    std::FILE* f = std::fopen(statusPath.c_str(), "r");
    if (!f) {
        return -1;
    }
    long waits = -1;
    char line[256];
    while (std::fgets(line, sizeof line, f)) {
        if (std::sscanf(line, "voluntary_ctxt_switches: %ld", &waits) == 1) {
            break;
        }
    }
    std::fclose(f);
    return waits;
}

// The state letter of a thread from its stat line ("pid (name) S ..."; the name may hold blanks
// and parentheses, so the state follows the last ')').
char StateOf(const std::string& statPath) {
    std::FILE* f = std::fopen(statPath.c_str(), "r");
    if (!f) {
        return 0;
    }
    char line[512];
    const size_t n = std::fread(line, 1, sizeof line - 1, f);
    std::fclose(f);
    line[n] = 0;
    const char* close = std::strrchr(line, ')');
    return close && close[1] == ' ' ? close[2] : 0;
}

// The process and every process below it: each thread's "children" file names the processes it
// started.
void Tree(pid_t pid, std::vector<pid_t>* pids) {
    pids->push_back(pid);
    const std::string tasks = "/proc/" + std::to_string(pid) + "/task";
    DIR* dir = opendir(tasks.c_str());
    if (!dir) {
        return;
    }
    std::vector<pid_t> children;
    while (const dirent* entry = readdir(dir)) {
        if (entry->d_name[0] == '.') {
            continue;
        }
        if (std::FILE* f = std::fopen((tasks + '/' + entry->d_name + "/children").c_str(), "r")) {
            long child = 0;
            while (std::fscanf(f, "%ld", &child) == 1) {
                children.push_back(pid_t(child));
            }
            std::fclose(f);
        }
    }
    closedir(dir);
    for (const pid_t child : children) {
        Tree(child, pids);
    }
}

// The threads of the process tree that are running or ready to run, sorted by id.
std::vector<Seen> Running(pid_t root) {
    std::vector<pid_t> pids;
    Tree(root, &pids);
    std::vector<Seen> running;
    for (const pid_t pid : pids) {
        const std::string tasks = "/proc/" + std::to_string(pid) + "/task";
        DIR* dir = opendir(tasks.c_str());
        if (!dir) {
            continue;
        }
        while (const dirent* entry = readdir(dir)) {
            const std::string task = tasks + '/' + entry->d_name;
            if (entry->d_name[0] != '.' && StateOf(task + "/stat") == 'R') {
                running.push_back(
                    {std::atol(entry->d_name), WaitsOf(task + "/status"), RanOf(task + "/schedstat")});
            }
        }
        closedir(dir);
    }
    std::sort(running.begin(), running.end());
    return running;
}

double Seconds(const timeval& t) {
    return double(t.tv_sec) + 1e-6 * double(t.tv_usec);
}

// Pins the calling process to the processors of the list ("3,4"); "-" leaves it as it is. False
// when the list is not one or the system refuses it.
bool Pin(const char* list) {
    if (std::strcmp(list, "-") == 0) {
        return true;
    }
    cpu_set_t set;
    CPU_ZERO(&set);
    for (const char* p = list; *p;) {
        char* end = nullptr;
        const long cpu = std::strtol(p, &end, 10);
        if (end == p || cpu < 0 || cpu >= CPU_SETSIZE || (*end != ',' && *end != 0)) {
            return false;
        }
        CPU_SET(int(cpu), &set);
        p = *end == ',' ? end + 1 : end;
    }
    return CPU_COUNT(&set) > 0 && sched_setaffinity(0, sizeof set, &set) == 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 4) {
        std::fprintf(stderr, "usage: %s REPORT PROCESSORS|- COMMAND [ARGS...]\n", argv[0]);
        return 2;
    }
    timespec start{}, end{};
    clock_gettime(CLOCK_MONOTONIC, &start);
    const pid_t pid = fork();
    if (pid == 0) {
        if (!Pin(argv[2])) {
            std::fprintf(stderr, "cannot pin %s to the processors %s: %s\n", argv[3], argv[2],
                         std::strerror(errno));
            _exit(126);
        }
        execvp(argv[3], argv + 3);
        std::fprintf(stderr, "cannot start %s: %s\n", argv[3], std::strerror(errno));
        _exit(127);
    }
    if (pid < 0) {
        return 2;
    }
    std::atomic<bool> ended{false};
    std::atomic<int> peakRunning{0};
    std::thread sampler([&] {
        std::vector<Seen> before;
        while (!ended.load()) {
            std::vector<Seen> now = Running(pid);
            int throughout = 0;
            for (const Seen& thread : now) {
                const auto earlier = std::lower_bound(before.begin(), before.end(), thread);
                throughout += earlier != before.end() && earlier->id == thread.id && thread.waits >= 0 &&
                              earlier->waits == thread.waits && thread.ran > earlier->ran;
            }
            if (throughout > peakRunning.load()) {
                peakRunning.store(throughout);
            }
            before = std::move(now);
            std::this_thread::sleep_for(kSampleEvery);
        }
    });
    int status = 0;
    struct rusage usage {};
    while (wait4(pid, &status, 0, &usage) < 0 && errno == EINTR) {
    }
    clock_gettime(CLOCK_MONOTONIC, &end);
    ended.store(true);
    sampler.join();
    const double seconds = double(end.tv_sec - start.tv_sec) + 1e-9 * double(end.tv_nsec - start.tv_nsec);
    std::FILE* report = std::fopen(argv[1], "w");
    if (!report) {
        return 2;
    }
    const int code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    // A process shorter than one sample still ran on a thread.
    std::fprintf(report, "%d %.9f %ld %d %.6f\n", code, seconds, usage.ru_maxrss,
                 std::max(1, peakRunning.load()), Seconds(usage.ru_utime) + Seconds(usage.ru_stime));
    return std::fclose(report) == 0 ? 0 : 2;
}
