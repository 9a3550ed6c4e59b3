#include "Bench.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QApplication>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

#include <gdal.h>
#include <opencv2/core.hpp>
#include <opencv2/core/ocl.hpp>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <memory>
#include <tuple>

#include "Data.h"
#include "Unattended.h"
#include "platform/tools/Threads.h"

namespace bench {
namespace {

using Clock = std::chrono::steady_clock;

// A run that takes longer than this is ended: a peer that hangs would stop the whole series.
constexpr unsigned kRunTimeoutSeconds = 900;

const char* const kThreadsVariable = "KV_BENCH_THREADS";
const char* const kSecondsVariable = "KV_BENCH_SECONDS";
const char* const kCheckVariable = "KV_BENCH_CHECK";

struct RegisteredPair {
    std::string id;
    PairFactory factory;
};
struct RegisteredSide {
    SideFunction function;
    Qt qt;
};

std::vector<RegisteredPair>& Pairs() {
    static std::vector<RegisteredPair> pairs;
    return pairs;
}

std::map<std::string, RegisteredSide>& Sides() {
    static std::map<std::string, RegisteredSide> sides;
    return sides;
}

int g_parallelThreads = 0;

std::string SelfPath() {
    char path[4096];
    const ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
    return n > 0 ? std::string(path, size_t(n)) : std::string();
}

void ReportSeconds(double seconds) {
    if (const char* path = std::getenv(kSecondsVariable)) {
        if (std::FILE* f = std::fopen(path, "w")) {
            std::fprintf(f, "%.9f\n", seconds);
            std::fclose(f);
        }
    }
}

double Load() {
    double load[1] = {0.0};
    return getloadavg(load, 1) == 1 ? load[0] : -1.0;
}

// ---- Running one step as a process

struct StepRun {
    double seconds = 0.0;  // wall time of the whole process
    double inside = -1.0;  // what the process reported of its own operation, or -1
    double peakMiB = 0.0;  // its largest resident size, with its waited-for children
    int running = 0;       // the most threads it (and what it started) had running at once
    double cpu = 0.0;      // its CPU time, with its waited-for children
    int status = -1;       // exit status, -1 for a signal, -2 when it was ended for its time
};

volatile pid_t g_running = 0;

void EndRunning(int) {
    if (g_running > 0) {
        kill(-g_running, SIGKILL);
    }
}

// Runs the step through the launcher, in a process group of its own (ended whole when it takes too
// long), with the variables set, its standard output appended to stdoutPath (or dropped) and its
// errors to the log. The launcher pins the step to the processors listed ("3,4"; "-" for none).
StepRun RunStep(const Command& command, const std::vector<std::pair<std::string, std::string>>& env,
                const std::string& stdoutPath, const std::string& logPath, const std::string& secondsPath,
                const std::string& processors = "-") {
    const std::string reportPath = secondsPath + ".run";
    std::vector<char*> argv = {const_cast<char*>(KV_BENCH_LAUNCHER), const_cast<char*>(reportPath.c_str()),
                               const_cast<char*>(processors.c_str())};
    for (const std::string& a : command) {
        argv.push_back(const_cast<char*>(a.c_str()));
    }
    argv.push_back(nullptr);
    std::remove(secondsPath.c_str());
    std::remove(reportPath.c_str());
    struct sigaction action {};
    action.sa_handler = EndRunning;
    sigaction(SIGALRM, &action, nullptr);

    StepRun run;
    const pid_t pid = fork();
    if (pid == 0) {
        setpgid(0, 0);
        for (const auto& [name, value] : env) {
            setenv(name.c_str(), value.c_str(), 1);
        }
        setenv(kSecondsVariable, secondsPath.c_str(), 1);
        const int out = stdoutPath.empty() ? ::open("/dev/null", O_WRONLY)
                                           : ::open(stdoutPath.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
        const int log = ::open(logPath.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
        dup2(out, 1);
        dup2(log, 2);
        execv(argv[0], argv.data());
        std::fprintf(stderr, "cannot start %s: %s\n", argv[0], std::strerror(errno));
        _exit(127);
    }
    if (pid < 0) {
        return run;
    }
    g_running = pid;
    alarm(kRunTimeoutSeconds);
    int status = 0;
    pid_t waited = -1;
    while ((waited = waitpid(pid, &status, 0)) < 0 && errno == EINTR) {
    }
    const unsigned left = alarm(0);
    g_running = 0;
    if (waited == pid && WIFSIGNALED(status) && left == 0) {
        run.status = -2;
        return run;
    }
    long maxrss = 0;
    std::FILE* report = std::fopen(reportPath.c_str(), "r");
    if (report) {
        if (std::fscanf(report, "%d %lf %ld %d %lf", &run.status, &run.seconds, &maxrss, &run.running,
                        &run.cpu) != 5) {
            run.status = -1;
        }
        std::fclose(report);
    }
    run.peakMiB = double(maxrss) / 1024.0;
    if (std::FILE* f = std::fopen(secondsPath.c_str(), "r")) {
        double inside = -1.0;
        if (std::fscanf(f, "%lf", &inside) == 1) {
            run.inside = inside;
        }
        std::fclose(f);
    }
    return run;
}

// ---- One pair

struct SideRun {
    double seconds = 0.0;
    double peakMiB = 0.0;
    int running = 0;      // the most threads running at once in any step
    double cpu = 0.0;     // CPU time of all steps
    double wall = 0.0;    // wall time of all steps' processes
    bool inside = false;  // every step timed its own operation
    bool mixed = false;   // some steps did, others did not
    std::string failure;
};

void RemoveOutput(const std::string& path) {
    const QString p = QString::fromStdString(path);
    if (p.endsWith('/')) {
        QDir(p).removeRecursively();
        QDir().mkpath(p);
        return;
    }
    QFile::remove(p);
    const QFileInfo info(p);
    const QString base = info.path() + '/' + info.completeBaseName();
    for (const char* side : {".aux.xml", ".ovr", ".msk"}) {
        QFile::remove(p + side);
    }
    if (info.suffix() == "shp") {
        for (const char* side : {".shx", ".dbf", ".prj", ".cpg", ".qix"}) {
            QFile::remove(base + side);
        }
    }
    QFile::remove(base + ".tfw");
}

// The processors a pair given that many threads runs on, as the launcher takes them ("6,7"): the
// last ones this process may run on, the same for both sides of the pair.
std::string PinnedProcessors(int threads) {
    const std::vector<int> allowed = kv::AllowedProcessorNumbers();
    if (allowed.empty()) {
        return "-";
    }
    std::string list;
    for (size_t i = allowed.size() - std::min(allowed.size(), size_t(std::max(1, threads)));
         i < allowed.size(); ++i) {
        list += (list.empty() ? "" : ",") + std::to_string(allowed[i]);
    }
    return list;
}

class PairRunner {
public:
    PairRunner(const std::string& id, const Pair& pair) : m_processors(PinnedProcessors(pair.threads)) {
        const QString logs = DataFolder("logs");
        m_log = (logs + '/' + QString::fromStdString(id)).toStdString();
        for (const char* side : {".ours.log", ".peer.log"}) {
            QFile::remove(QString::fromStdString(m_log + side));
        }
        // The program and our own sides take their thread count from the processors they are
        // pinned to; the peers' libraries from these variables. GDAL's pools work beside the
        // thread that starts them, which keeps working: they get one thread fewer.
        m_env = {{kThreadsVariable, std::to_string(pair.threads)},
                 {"GDAL_NUM_THREADS", std::to_string(std::max(1, pair.threads - 1))},
                 {"OMP_NUM_THREADS", std::to_string(pair.threads)},
                 {"OMP_THREAD_LIMIT", std::to_string(pair.threads)},
                 {"QT_QPA_PLATFORM", "offscreen"}};
    }

    const std::string& Processors() const { return m_processors; }

    SideRun Run(const Side& side, bool ours, bool checkRun) {
        SideRun result;
        for (const std::string& output : side.outputs) {
            RemoveOutput(output);
        }
        if (!side.stdoutTo.empty()) {
            std::remove(side.stdoutTo.c_str());
        }
        if (side.before && !side.before()) {
            result.failure = side.name + ": its set-up failed";
            return result;
        }
        return RunSteps(side, side.steps, ours, checkRun, side.stdoutTo);
    }

    // The side's start-up alone; its output is dropped.
    SideRun RunStartup(const Side& side, bool ours) { return RunSteps(side, side.startup, ours, false, {}); }

private:
    SideRun RunSteps(const Side& side, const std::vector<Command>& steps, bool ours, bool checkRun,
                     const std::string& stdoutTo) {
        SideRun result;
        const std::string log = m_log + (ours ? ".ours.log" : ".peer.log");
        auto env = m_env;
        env.emplace_back(kCheckVariable, checkRun ? "1" : "0");
        int inside = 0;
        for (const Command& step : steps) {
            const StepRun run = RunStep(step, env, stdoutTo, log, m_log + ".seconds", m_processors);
            if (run.status != 0) {
                result.failure =
                    side.name + ": " + step[0] +
                    (run.status == -2 ? " was ended after " + std::to_string(kRunTimeoutSeconds) + " s"
                                      : " exited with " + std::to_string(run.status)) +
                    " (" + log + ")";
                return result;
            }
            inside += run.inside >= 0.0;
            result.seconds += run.inside >= 0.0 ? run.inside : run.seconds;
            result.peakMiB = std::max(result.peakMiB, run.peakMiB);
            result.running = std::max(result.running, run.running);
            result.cpu += run.cpu;
            result.wall += run.seconds;
        }
        result.inside = inside == int(steps.size());
        result.mixed = inside > 0 && !result.inside;
        return result;
    }

    std::string m_processors;
    std::string m_log;
    std::vector<std::pair<std::string, std::string>> m_env;
};

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    const size_t n = v.size();
    return n == 0 ? 0.0 : n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2.0;
}

double Min(const std::vector<double>& v) {
    return v.empty() ? 0.0 : *std::min_element(v.begin(), v.end());
}

// Tabs and line ends would break the row.
std::string Field(std::string text) {
    std::replace_if(
        text.begin(), text.end(), [](char c) { return c == '\t' || c == '\n' || c == '\r'; }, ' ');
    return text;
}

// What a side did over the counted runs.
struct SideFigures {
    std::vector<double> seconds, startup;
    std::vector<double> cpuShares;  // CPU time over wall time, run by run
    double peakMiB = 0.0;
    int running = 0;

    void Add(const SideRun& run) {
        seconds.push_back(run.seconds);
        cpuShares.push_back(run.wall > 0.0 ? run.cpu / run.wall : 0.0);
        peakMiB = std::max(peakMiB, run.peakMiB);
        running = std::max(running, run.running);
    }
    // The time of run i without its start-up (the time itself when the side has none).
    double Bare(size_t i) const { return seconds[i] - (i < startup.size() ? startup[i] : 0.0); }
};

// The row's fields, in this order (results.py reads them by position): id, operation, input,
// threads given, timing, ours min and median, peer, peer min and median, ratio min and median,
// peaks ours and peer, load at start and end, check, threads used and CPU share of ours and of the
// peer, start-up median of ours and of the peer, ratio without start-ups min and median.
struct Row {
    std::string id, operation, input, peer, timing, check;
    int threads = 1;
    SideFigures ours, theirs;
    std::vector<double> ratios, bareRatios;
    double loadStart = 0.0, loadEnd = 0.0;
    bool failed = false;

    std::string Tsv() const {
        char numbers[512], used[256];
        std::snprintf(numbers, sizeof numbers,
                      "%.6g\t%.6g\t%s\t%.6g\t%.6g\t%.4g\t%.4g\t%.0f\t%.0f\t%.1f\t%.1f", Min(ours.seconds),
                      Median(ours.seconds), Field(peer).c_str(), Min(theirs.seconds), Median(theirs.seconds),
                      Min(ratios), Median(ratios), ours.peakMiB, theirs.peakMiB, loadStart, loadEnd);
        std::snprintf(used, sizeof used, "%d\t%.2f\t%d\t%.2f\t%.6g\t%.6g\t%.4g\t%.4g", ours.running,
                      Median(ours.cpuShares), theirs.running, Median(theirs.cpuShares), Median(ours.startup),
                      Median(theirs.startup), Min(bareRatios), Median(bareRatios));
        return Field(id) + '\t' + Field(operation) + '\t' + Field(input) + '\t' + std::to_string(threads) +
               '\t' + Field(timing) + '\t' + numbers + '\t' + Field(check) + '\t' + used + '\n';
    }
};

Row RunPair(const RegisteredPair& registered, int runs) {
    Row row;
    row.id = registered.id;
    row.loadStart = Load();
    Pair pair;
    std::fprintf(stderr, "== %s: making the data\n", registered.id.c_str());
    const auto fail = [&](const std::string& why) {
        row.failed = true;
        row.check = "FAILED: " + why;
        row.loadEnd = Load();
        return row;
    };
    if (!registered.factory(&pair)) {
        return fail("the data could not be made");
    }
    row.operation = pair.operation;
    row.input = pair.input;
    row.threads = pair.threads;
    row.peer = pair.peer.name;
    const bool alone = pair.peer.steps.empty();
    PairRunner runner(registered.id, pair);

    // The first run of each side makes the results the check compares; it is not counted.
    std::fprintf(stderr, "== %s: %s against %s, %d thread(s) on processor(s) %s\n", registered.id.c_str(),
                 pair.operation.c_str(), alone ? "nothing" : pair.peer.name.c_str(), pair.threads,
                 runner.Processors().c_str());
    SideRun first[2] = {runner.Run(pair.ours, true, true), SideRun()};
    if (first[0].failure.empty() && !alone) {
        first[1] = runner.Run(pair.peer, false, true);
    }
    for (const SideRun& run : first) {
        if (!run.failure.empty()) {
            return fail(run.failure);
        }
        if (run.mixed) {
            return fail("a side timed some of its steps inside their processes and not others");
        }
    }
    if (!alone && first[0].inside != first[1].inside) {
        return fail("one side timed its operation inside its process, the other as a whole process");
    }
    row.timing = first[0].inside ? "operation" : "process";
    std::string agreed;
    const std::string differs = pair.check ? pair.check(&agreed) : alone ? std::string() : "no check";
    if (!differs.empty()) {
        row.failed = true;
        row.check = "DIFFERS: " + differs;
    } else {
        row.check = agreed;
    }
    const bool startups = !pair.ours.startup.empty() || !pair.peer.startup.empty();
    for (int i = 0; i < runs; ++i) {
        const SideRun ours = runner.Run(pair.ours, true, false);
        const SideRun theirs =
            ours.failure.empty() && !alone ? runner.Run(pair.peer, false, false) : SideRun();
        if (!ours.failure.empty() || !theirs.failure.empty()) {
            return fail(ours.failure.empty() ? theirs.failure : ours.failure);
        }
        row.ours.Add(ours);
        if (!alone) {
            row.theirs.Add(theirs);
            row.ratios.push_back(theirs.seconds > 0.0 ? ours.seconds / theirs.seconds : 0.0);
        }
        // The start-ups in the same turn, so that both see the same machine.
        for (auto [side, figures, isOurs] :
             {std::tuple{&pair.ours, &row.ours, true}, std::tuple{&pair.peer, &row.theirs, false}}) {
            if (!side->startup.empty()) {
                const SideRun startup = runner.RunStartup(*side, isOurs);
                if (!startup.failure.empty()) {
                    return fail(startup.failure + " (start-up)");
                }
                figures->startup.push_back(startup.seconds);
            }
        }
        if (startups && !alone) {
            const size_t k = row.ours.seconds.size() - 1;
            const double bare = row.theirs.Bare(k);
            // A run whose start-up took as long as the whole peer (a busy machine) says nothing.
            if (bare > 0.0) {
                row.bareRatios.push_back(row.ours.Bare(k) / bare);
            }
        }
        std::fprintf(stderr, "   run %d: ours %.4g s, %s %.4g s\n", i + 1, ours.seconds,
                     alone ? "nothing" : pair.peer.name.c_str(), theirs.seconds);
    }
    row.loadEnd = Load();
    // A side that ran more threads at once than it was given was not held to the row's threads.
    std::string over;
    for (const auto& [side, figures] : {std::pair{"ours", &row.ours}, std::pair{"the peer", &row.theirs}}) {
        if (figures->running > pair.threads) {
            over += Format("%s%s ran %d threads at once", over.empty() ? "" : ", ", side, figures->running);
        }
    }
    if (!over.empty()) {
        row.failed = true;
        row.check = Format("OVER THREADS: %s, given %d; ", over.c_str(), pair.threads) + row.check;
    }
    // The results are large: only the logs stay.
    for (const Side* side : {&pair.ours, &pair.peer}) {
        for (const std::string& output : side->outputs) {
            RemoveOutput(output);
        }
    }
    return row;
}

int RunSide(const std::string& name, const Args& args, int argc, char** argv) {
    const auto found = Sides().find(name);
    if (found == Sides().end()) {
        std::fprintf(stderr, "no side %s\n", name.c_str());
        return 2;
    }
    std::unique_ptr<QCoreApplication> app;
    if (found->second.qt == Qt::Widgets) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
        app = std::make_unique<QApplication>(argc, argv);
    } else {
        app = std::make_unique<QCoreApplication>(argc, argv);
    }
    // The side is pinned to as many processors as the pair's threads: the program's own start-up
    // call gives every pool that many.
    kv::UseAllowedProcessors();
    cv::ocl::setUseOpenCL(false);
    GDALAllRegister();
    Unattended unattended;
    kv::SetInteraction(&unattended);
    const int status = found->second.function(args);
    kv::SetInteraction(nullptr);
    return status;
}

}  // namespace

Command Self(const std::string& side, const Args& args) {
    Command command = {SelfPath(), "--side", side};
    command.insert(command.end(), args.begin(), args.end());
    return command;
}

Command PythonStartup(const std::string& module) {
    return {"/usr/bin/python3", "-c",
            "import sys\nfrom osgeo.gdal import deprecation_warn\nfrom osgeo_utils." + module +
                " import *\nfrom osgeo_utils." + module + " import main\n"};
}

bool Small() {
    const char* value = std::getenv("KV_BENCH_SMALL");
    return value && std::strcmp(value, "1") == 0;
}

int Scaled(int size) {
    return Small() ? std::max(1, size / 4) : size;
}

bool Run(const Command& command) {
    const std::string log = (DataFolder("logs") + "/making-data.log").toStdString();
    const StepRun run =
        RunStep(command, {{"QT_QPA_PLATFORM", "offscreen"}}, std::string(), log, log + ".seconds");
    if (run.status != 0) {
        std::fprintf(stderr, "failed (%d): %s; see %s\n", run.status, command[0].c_str(), log.c_str());
    }
    return run.status == 0;
}

PairRegistration::PairRegistration(const std::string& id, PairFactory factory) {
    Pairs().push_back({id, std::move(factory)});
}

SideRegistration::SideRegistration(const std::string& name, SideFunction function, Qt qt) {
    Sides()[name] = {std::move(function), qt};
}

bool TimeOperation(const std::function<bool()>& operation) {
    const auto start = Clock::now();
    const bool ok = operation();
    ReportSeconds(std::chrono::duration<double>(Clock::now() - start).count());
    return ok;
}

void ReportTime(double seconds) {
    ReportSeconds(seconds);
}

bool TimePerCall(const std::function<bool()>& call, const std::function<void()>& reset, double seconds) {
    std::vector<double> calls;
    const auto start = Clock::now();
    do {
        const auto before = Clock::now();
        if (!call()) {
            return false;
        }
        calls.push_back(std::chrono::duration<double>(Clock::now() - before).count());
        if (reset) {
            reset();
        }
    } while (std::chrono::duration<double>(Clock::now() - start).count() < seconds);
    ReportSeconds(Median(calls));
    return true;
}

bool CheckRun() {
    const char* value = std::getenv(kCheckVariable);
    return value && std::strcmp(value, "1") == 0;
}

int Threads() {
    const char* value = std::getenv(kThreadsVariable);
    return value ? std::max(1, std::atoi(value)) : 1;
}

int ParallelThreads() {
    return g_parallelThreads > 0 ? g_parallelThreads : std::max(1, kv::AllowedProcessors() / 2);
}

int Main(int argc, char** argv) {
    if (argc >= 3 && std::strcmp(argv[1], "--side") == 0) {
        return RunSide(argv[2], Args(argv + 3, argv + argc), argc, argv);
    }
    std::string only = ".*", rowsPath;
    int runs = 5;
    bool list = false;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a.rfind("--only=", 0) == 0) {
            only = a.substr(7);
        } else if (a.rfind("--runs=", 0) == 0) {
            runs = std::max(1, std::atoi(a.c_str() + 7));
        } else if (a.rfind("--threads=", 0) == 0) {
            g_parallelThreads = std::max(1, std::atoi(a.c_str() + 10));
        } else if (a.rfind("--rows=", 0) == 0) {
            rowsPath = a.substr(7);
        } else if (a == "--list") {
            list = true;
        } else {
            std::fprintf(stderr,
                         "usage: %s [--only=REGEX] [--runs=N] [--threads=N] [--rows=FILE] [--list]\n"
                         "       %s --side NAME ARGS...\n",
                         argv[0], argv[0]);
            return 2;
        }
    }
    const QRegularExpression selected(QString::fromStdString(only));
    if (!selected.isValid()) {
        std::fprintf(stderr, "not a regular expression: %s\n", only.c_str());
        return 2;
    }
    if (list) {
        for (const RegisteredPair& pair : Pairs()) {
            std::printf("%s\n", pair.id.c_str());
        }
        return 0;
    }
    std::unique_ptr<QApplication> app;
    if (!QCoreApplication::instance()) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
        app = std::make_unique<QApplication>(argc, argv);
    }
    GDALAllRegister();
    bool failed = false;
    for (const RegisteredPair& registered : Pairs()) {
        if (!selected.match(QString::fromStdString(registered.id)).hasMatch()) {
            continue;
        }
        const Row row = RunPair(registered, runs);
        failed = failed || row.failed;
        std::printf(
            "%-24s ours %8.4g s  %-28s %8.4g s  ratio %.3g (min %.3g)  peak %.0f / %.0f MiB  "
            "threads given %d, used %d / %d  %s\n",
            row.id.c_str(), Median(row.ours.seconds), row.peer.c_str(), Median(row.theirs.seconds),
            Median(row.ratios), Min(row.ratios), row.ours.peakMiB, row.theirs.peakMiB, row.threads,
            row.ours.running, row.theirs.running, row.check.c_str());
        std::fflush(stdout);
        if (!rowsPath.empty()) {
            std::ofstream(rowsPath, std::ios::app) << row.Tsv();
        }
    }
    return failed ? 1 : 0;
}

}  // namespace bench
