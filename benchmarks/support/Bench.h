// The harness every benchmark program shares. A program registers pairs: what our side runs and
// what its peer runs, each as one or more processes. The harness makes the pair (its data),
// runs both sides once and checks that they produced the same result, then runs them in turn,
// ours, peer, ours, peer, ..., and prints one row per pair: the times of both sides (minimum and
// median), their ratio run by run (minimum and median), the peak memory of each side's processes
// and the load average around the pair.
//
// A side that is a library call rather than a program (ours, OpenCV, CGAL, GDAL's algorithms)
// runs in a process of its own too: the program runs itself with "--side NAME ARGS...". Such a
// side may time its operation itself (TimeOperation): the pair is then timed inside both sides'
// processes, the data set-up left out, and the harness refuses a pair where only one side does.
// Peak memory is always that of the whole process, measured by the kernel for both sides alike.
//
// Both sides of a pair are given the same number of threads, and run on as many processors, the
// same ones for both: the launcher pins each side's process to them before it starts, so that its
// processes can use no more. The program and our own sides take their thread count from the
// processors they may run on (kv::UseAllowedProcessors); the peers' libraries are told it through
// GDAL's and OpenMP's variables as well. What each side then really used is measured, not assumed:
// the most threads its processes had running or ready to run at once, and its CPU time over its
// wall time. A side that had more threads at once than it was given fails its row.
//
// A side whose program pays a fixed start-up before its work (Python's interpreter and imports)
// may name commands that do that start-up alone: they run in turn with the sides and the row gives
// the ratio with and without them. A pair without a peer is a row of our side alone (the program's
// own start-up).
//
// KV_BENCH_SMALL=1 makes the pairs that honour it (Scaled) work on data of a sixteenth of the
// cells, in a data folder of their own: every row runs and every check works in a fraction of the
// full run's time, and the figures mean nothing.
#pragma once

#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace bench {

// A program and its arguments; the program is looked up on the PATH.
using Command = std::vector<std::string>;
using Args = std::vector<std::string>;

// One side of a pair: its steps run one after the other, their times add up and its peak memory
// is the largest of theirs. Before each run the outputs are removed (with the side files GDAL
// and shapefiles keep beside them; a path ending in '/' is a folder, emptied) and then `before`
// runs; neither is timed. The steps' standard output goes to `stdoutTo` when it is given.
struct Side {
    Side() = default;
    Side(std::string name, std::vector<Command> steps, std::vector<std::string> outputs = {},
         std::function<bool()> before = {}, std::string stdoutTo = {})
        : name(std::move(name)),
          steps(std::move(steps)),
          outputs(std::move(outputs)),
          before(std::move(before)),
          stdoutTo(std::move(stdoutTo)) {}

    std::string name;
    std::vector<Command> steps;
    std::vector<std::string> outputs;
    std::function<bool()> before;
    std::string stdoutTo;
    // What the side's program does before its work, run and timed apart (see above).
    std::vector<Command> startup;
};

struct Pair {
    std::string operation;
    std::string input;
    int threads = 1;
    Side ours;
    Side peer;
    // Compares what the two sides left after their first runs: an empty text when they agree,
    // otherwise what differs (the row carries it and the program fails). What was compared, and
    // how close the results came, goes to *agreed.
    std::function<std::string(std::string* agreed)> check;
};

// The command that runs a registered side of this program.
Command Self(const std::string& side, const Args& args = {});

// The start-up of a GDAL Python program (gdal_calc.py runs osgeo_utils.gdal_calc): the same
// interpreter with the same imports, and nothing else.
Command PythonStartup(const std::string& module);

// Whether this is a small run (KV_BENCH_SMALL=1), and a size of the full run as the run takes it
// (a quarter of it on each side in a small run).
bool Small();
int Scaled(int size);

// Runs a command to its end, untimed (a factory making data through a side); true when it exits
// with 0.
bool Run(const Command& command);

// Registers a pair under an id (what `scripts/bench NAME` selects). The factory makes the pair's
// data, untimed, and fills the pair; it runs only when the pair is selected. False when the data
// cannot be made (the pair is then reported as failed).
using PairFactory = std::function<bool(Pair* pair)>;
struct PairRegistration {
    PairRegistration(const std::string& id, PairFactory factory);
};

// What a side process sets up before the side runs: a core application, or a widget
// application on the offscreen platform (for documents and drawings).
enum class Qt { Core, Widgets };

// Registers a side that runs in this program's own process; it returns the process's exit status.
using SideFunction = std::function<int(const Args& args)>;
struct SideRegistration {
    SideRegistration(const std::string& name, SideFunction function, Qt qt = Qt::Core);
};

// Inside a side process: runs the operation and reports its wall time as the time of this run of
// the side. Returns what the operation returns.
bool TimeOperation(const std::function<bool()>& operation);
// Inside a side process: reports the time of this run of the side, measured by other means (a
// frame time the program itself gave).
void ReportTime(double seconds);
// Inside a side process: runs the call repeatedly for at least `seconds` and reports the median
// time of one call; reset, when given, runs untimed after each call. False as soon as a call
// returns false.
bool TimePerCall(const std::function<bool()>& call, const std::function<void()>& reset = {},
                 double seconds = 0.3);
// Inside a side process: whether this is the run whose results the pair's check reads (a side
// that keeps its result only in memory writes it out then, after its timed operation).
bool CheckRun();
// Inside a side process: the threads both sides of the pair run with.
int Threads();
// For a pair factory: the threads a pair whose peer can run threaded gives both sides (--threads,
// half the processors unless told).
int ParallelThreads();

// The benchmark program's main: "--side NAME ARGS..." runs one side; otherwise the selected pairs
// are run (--only=REGEX on the pair ids, --runs=N counted runs per side, --threads=N for pairs
// that run threaded, --rows=FILE to append the rows as tab-separated text, --list for the ids).
int Main(int argc, char** argv);

}  // namespace bench
