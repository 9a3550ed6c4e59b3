// What the harness must get right for its figures to be trusted, on pairs of this program's own
// sides: each side's peak memory is its own process's, both sides are pinned to the processors of
// their threads and the threads they really ran are counted (more than given fail the row), its CPU
// share gives back the CPU time it is known to use, the sides run in turn and the ratio is taken run
// by run, with and without a side's start-up, a pair timed inside one side only is refused, results
// that differ fail the row, and every kind of check fails on a result spoilt on purpose.
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <QApplication>
#include <QTemporaryDir>

#include <gdal.h>
#include <ogr_api.h>
#include <opencv2/core.hpp>

#include <array>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <mutex>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "Bench.h"
#include "Checks.h"
#include "Data.h"
#include "platform/tools/Threads.h"

namespace {

using bench::Args;

// Holds (and touches) a number of MiB for a moment.
const bench::SideRegistration kHold("hold", [](const Args& a) {
    std::vector<char> block(size_t(std::atoi(a[0].c_str())) << 20, 1);
    return block[block.size() / 2] == 1 ? 0 : 1;
});

// Appends its name to a file, then sleeps for the milliseconds given (timed inside when asked).
const bench::SideRegistration kMark("mark", [](const Args& a) {
    std::ofstream(a[0], std::ios::app) << a[1];
    const auto sleep = [&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(std::atoi(a[2].c_str())));
        return true;
    };
    return a[3] == "inside" ? (bench::TimeOperation(sleep) ? 0 : 1) : (sleep() ? 0 : 1);
});

// Keeps that many threads busy for the milliseconds given; false when none turned.
bool Spin(int threads, int ms) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    std::atomic<long> turns{0};
    const auto spin = [&] {
        while (std::chrono::steady_clock::now() < until) {
            turns.fetch_add(1, std::memory_order_relaxed);
        }
    };
    std::vector<std::thread> others;
    for (int i = 1; i < threads; ++i) {
        others.emplace_back(spin);
    }
    spin();
    for (std::thread& t : others) {
        t.join();
    }
    return turns.load() > 0;
}

const bench::SideRegistration kSpin("spin", [](const Args& a) {
    return Spin(std::atoi(a[0].c_str()), std::atoi(a[1].c_str())) ? 0 : 1;
});

// Busy on one thread until that thread has used the milliseconds of processor time given, however
// long the machine's load makes that take: its CPU time is known, its wall time is not.
const bench::SideRegistration kBusy("busy", [](const Args& a) {
    const auto used = [] {
        timespec now{};
        clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
        return double(now.tv_sec) + 1e-9 * double(now.tv_nsec);
    };
    // Counted from here: the CPU time the start-up took comes on top.
    const double until = used() + std::atoi(a[0].c_str()) / 1000.0;
    while (used() < until) {
    }
    return 0;
});

// Keeps two threads busy in a process of its own and two in this one, for the milliseconds given.
const bench::SideRegistration kFamily("spin-family", [](const Args& a) {
    const pid_t child = fork();
    const bool turned = Spin(2, std::atoi(a[0].c_str()));
    if (child == 0) {
        _exit(turned ? 0 : 1);
    }
    int status = 0;
    return child > 0 && waitpid(child, &status, 0) == child && turned && WIFEXITED(status) &&
                   WEXITSTATUS(status) == 0
               ? 0
               : 1;
});

std::string g_folder;

// Keeps an OpenCV parallel loop busy for the milliseconds given, then writes to the file the
// processors the side may run on and the threads the loop ran on.
const bench::SideRegistration kParallel("parallel", [](const Args& a) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(std::atoi(a[1].c_str()));
    std::mutex lock;
    std::set<std::thread::id> ran;
    cv::parallel_for_(cv::Range(0, 64), [&](const cv::Range&) {
        while (std::chrono::steady_clock::now() < until) {
        }
        const std::lock_guard<std::mutex> hold(lock);
        ran.insert(std::this_thread::get_id());
    });
    std::ofstream(a[0]) << kv::AllowedProcessors() << ' ' << ran.size();
    return 0;
});

std::string Path(const char* name) {
    return g_folder + "/" + name;
}

bench::Side Marking(const char* name, int ms, const char* timing) {
    return bench::Side(name, {bench::Self("mark", {Path("order.txt"), name, std::to_string(ms), timing})});
}

const bench::PairRegistration kMemory("memory", [](bench::Pair* pair) {
    pair->operation = "memory";
    pair->ours = bench::Side("ours", {bench::Self("hold", {"200"})});
    pair->peer = bench::Side("peer", {bench::Self("hold", {"1"})});
    pair->check = [](std::string*) { return std::string(); };
    return true;
});

const bench::PairRegistration kTurns("turns", [](bench::Pair* pair) {
    pair->operation = "turns";
    pair->ours = Marking("o", 200, "inside");
    pair->peer = Marking("p", 100, "inside");
    pair->check = [](std::string*) { return std::string(); };
    return true;
});

const bench::PairRegistration kMixed("mixed", [](bench::Pair* pair) {
    pair->operation = "mixed";
    pair->ours = Marking("o", 10, "inside");
    pair->peer = Marking("p", 10, "whole");
    pair->check = [](std::string*) { return std::string(); };
    return true;
});

const bench::PairRegistration kApart("apart", [](bench::Pair* pair) {
    pair->operation = "apart";
    pair->ours = Marking("o", 10, "whole");
    pair->peer = Marking("p", 10, "whole");
    pair->check = [](std::string*) { return std::string("3 cells apart"); };
    return true;
});

// Given one thread and then two, both sides run OpenCV's parallel loops.
void RegisterPinned(const char* id, int threads) {
    static std::vector<bench::PairRegistration> registrations;
    registrations.emplace_back(id, [id, threads](bench::Pair* pair) {
        pair->operation = id;
        pair->threads = threads;
        pair->ours = bench::Side("ours", {bench::Self("parallel", {Path("ours.txt"), "400"})});
        pair->peer = bench::Side("peer", {bench::Self("parallel", {Path("peer.txt"), "400"})});
        pair->check = [](std::string*) { return std::string(); };
        return true;
    });
}
const bool kPinned = [] {
    RegisterPinned("pinned", 1);
    RegisterPinned("pinned-two", 2);
    return true;
}();

// Told one thread, ours runs three.
const bench::PairRegistration kThreads("threads", [](bench::Pair* pair) {
    pair->operation = "threads";
    pair->ours = bench::Side("ours", {bench::Self("spin", {"3", "400"})});
    pair->peer = bench::Side("peer", {bench::Self("spin", {"1", "400"})});
    pair->check = [](std::string*) { return std::string(); };
    return true;
});

// Ours uses 600 ms of one processor, the peer sleeps for 600 ms.
const bench::PairRegistration kShares("shares", [](bench::Pair* pair) {
    pair->operation = "shares";
    pair->ours = bench::Side("ours", {bench::Self("busy", {"600"})});
    pair->peer = Marking("p", 600, "whole");
    pair->check = [](std::string*) { return std::string(); };
    return true;
});

// Ours runs two threads in each of two processes.
// Given four threads, ours runs two threads in each of two processes.
const bench::PairRegistration kFamilyPair("family", [](bench::Pair* pair) {
    pair->operation = "family";
    pair->threads = 4;
    pair->ours = bench::Side("ours", {bench::Self("spin-family", {"400"})});
    pair->peer = bench::Side("peer", {bench::Self("spin", {"1", "400"})});
    pair->check = [](std::string*) { return std::string(); };
    return true;
});

// The peer's program starts for 350 ms and then works for 250 ms; ours works for 600 ms.
const bench::PairRegistration kStartup("startup", [](bench::Pair* pair) {
    pair->operation = "startup";
    pair->ours = Marking("o", 600, "whole");
    pair->peer = Marking("p", 600, "whole");
    pair->peer.startup = {bench::Self("mark", {Path("order.txt"), "s", "350", "whole"})};
    pair->check = [](std::string*) { return std::string(); };
    return true;
});

const bench::PairRegistration kAlone("alone", [](bench::Pair* pair) {
    pair->operation = "alone";
    pair->ours = Marking("o", 10, "whole");
    return true;
});

// Runs the pairs the expression selects (three counted runs each): the exit status and the rows,
// each split into its fields.
int RunPairs(const char* only, std::vector<std::vector<std::string>>* rows) {
    const std::string rowsPath = Path("rows.tsv");
    std::remove(rowsPath.c_str());
    std::remove(Path("order.txt").c_str());
    std::string onlyArg = std::string("--only=^(") + only + ")$", rowsArg = "--rows=" + rowsPath;
    char name[] = "harness-test", runs[] = "--runs=3";
    char* argv[] = {name, onlyArg.data(), runs, rowsArg.data(), nullptr};
    const int status = bench::Main(4, argv);
    std::ifstream in(rowsPath);
    for (std::string line; std::getline(in, line);) {
        std::vector<std::string>& fields = rows->emplace_back();
        std::stringstream split(line);
        for (std::string field; std::getline(split, field, '\t');) {
            fields.push_back(field);
        }
    }
    return status;
}

// The fields of a row (see the harness's row): 5, 6 ours min and median; 7 the peer; 8, 9 the
// peer's; 10, 11 the ratio; 12, 13 the peaks; 16 the check; 17, 18 the threads ours ran and its
// CPU share, 19, 20 the peer's; 21, 22 the start-ups; 23, 24 the ratio without them.
TEST(Harness, EachSidesPeakMemoryIsItsOwnProcesssNotTheHarnesss) {
    // The harness holds far more than either side.
    std::vector<char> held(size_t(600) << 20, 1);
    std::vector<std::vector<std::string>> rows;
    ASSERT_EQ(RunPairs("memory", &rows), 0);
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_GT(std::atof(rows[0][12].c_str()), 200.0);
    EXPECT_LT(std::atof(rows[0][12].c_str()), 500.0);
    EXPECT_LT(std::atof(rows[0][13].c_str()), 300.0);
    EXPECT_EQ(held[held.size() / 2], 1);
}

TEST(Harness, SidesRunInTurnAfterTheCheckRunAndTheRatioIsTakenRunByRun) {
    std::vector<std::vector<std::string>> rows;
    ASSERT_EQ(RunPairs("turns", &rows), 0);
    ASSERT_EQ(rows.size(), 1u);
    std::ifstream order(Path("order.txt"));
    std::string sequence;
    order >> sequence;
    EXPECT_EQ(sequence, "opopopop");
    EXPECT_EQ(rows[0][4], "operation");
    // 200 ms against 100 ms, measured inside the sides: their process start is not counted.
    EXPECT_NEAR(std::atof(rows[0][6].c_str()), 0.2, 0.05);
    EXPECT_NEAR(std::atof(rows[0][9].c_str()), 0.1, 0.05);
    EXPECT_NEAR(std::atof(rows[0][11].c_str()), 2.0, 0.5);
}

TEST(Harness, TheThreadsASideRanAreCountedWhateverItWasGivenAndMoreThanGivenFailItsRow) {
    std::vector<std::vector<std::string>> rows;
    ASSERT_EQ(RunPairs("threads", &rows), 1);
    ASSERT_EQ(rows.size(), 1u);
    ASSERT_EQ(rows[0].size(), 25u);
    EXPECT_EQ(rows[0][3], "1");
    // Pinned to one processor, the three threads of ours take turns on it: at least two of them ran
    // between two samples.
    const int ours = std::atoi(rows[0][17].c_str()), peer = std::atoi(rows[0][19].c_str());
    EXPECT_GE(ours, 2);
    EXPECT_GE(peer, 1);
    EXPECT_LT(peer, ours);
    EXPECT_EQ(rows[0][16].rfind("OVER THREADS: ours ran " + rows[0][17] + " threads at once, given 1", 0), 0u)
        << rows[0][16];

    // The threads of the processes a side starts are its too: four on four processors, where the
    // side's own process has two busy.
    if (kv::AllowedProcessors() < 4) {
        return;
    }
    rows.clear();
    RunPairs("family", &rows);
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_GE(std::atoi(rows[0][17].c_str()), 4);
}

// A side's CPU share is its CPU time over its wall time, and the load of the machine only lengthens
// the wall time. So the share times the wall time gives back the CPU time a side is known to use
// (600 ms busy, besides its start-up; next to nothing asleep), and one busy thread never gets more
// than one processor, however loaded the machine.
TEST(Harness, ACpuShareTimesTheWallTimeIsTheCpuTimeASideUsed) {
    std::vector<std::vector<std::string>> rows;
    ASSERT_EQ(RunPairs("shares", &rows), 0);
    ASSERT_EQ(rows.size(), 1u);
    // The share of the median run and the median wall time belong to one run: the CPU time is
    // the same in every run, so the shares fall as the wall times grow.
    const double busyShare = std::atof(rows[0][18].c_str()), busyWall = std::atof(rows[0][6].c_str());
    const double sleepShare = std::atof(rows[0][20].c_str()), sleepWall = std::atof(rows[0][9].c_str());
    // Both sides are the same program, so their start-ups cost about the same CPU time, whatever
    // the load makes of it: the busy side used 600 ms more.
    const double busyCpu = busyShare * busyWall, sleepCpu = sleepShare * sleepWall;
    EXPECT_GE(busyWall, 0.6);
    EXPECT_LE(busyShare, 1.1);
    EXPECT_GE(busyCpu, 0.6) << busyShare << " of " << busyWall << " s";
    EXPECT_GE(sleepWall, 0.6);
    EXPECT_NEAR(busyCpu - sleepCpu, 0.6, 0.15) << busyCpu << " s against " << sleepCpu << " s";
}

TEST(Harness, BothSidesArePinnedToTheProcessorsOfTheirThreadsAndTheirLoopsUseNoMore) {
    // One processor: the side's parallel loop runs on its calling thread alone, and one thread is
    // all the harness sees running.
    // What each side wrote: the processors it could run on and the threads its loop ran on.
    const auto expectRan = [](int count) {
        for (const char* side : {"ours.txt", "peer.txt"}) {
            std::ifstream report(Path(side));
            int processors = 0, ran = 0;
            report >> processors >> ran;
            EXPECT_EQ(processors, count) << side;
            EXPECT_EQ(ran, count) << side;
        }
    };
    std::vector<std::vector<std::string>> rows;
    ASSERT_EQ(RunPairs("pinned", &rows), 0);
    ASSERT_EQ(rows.size(), 1u);
    expectRan(1);
    EXPECT_EQ(rows[0][17], "1");
    EXPECT_EQ(rows[0][19], "1");
    EXPECT_LT(std::atof(rows[0][18].c_str()), 1.1);

    // Two, where the machine has them: each side may run on two and its loop runs on two.
    if (kv::AllowedProcessors() < 2) {
        return;
    }
    rows.clear();
    ASSERT_EQ(RunPairs("pinned-two", &rows), 0);
    ASSERT_EQ(rows.size(), 1u);
    expectRan(2);
    EXPECT_LE(std::atoi(rows[0][17].c_str()), 2);
    EXPECT_LE(std::atoi(rows[0][19].c_str()), 2);
}

TEST(Harness, AStartUpRunsInTurnAndIsTakenOffTheRatioAndAPairMayHaveNoPeer) {
    std::vector<std::vector<std::string>> rows;
    ASSERT_EQ(RunPairs("startup", &rows), 0);
    ASSERT_EQ(rows.size(), 1u);
    std::ifstream order(Path("order.txt"));
    std::string sequence;
    order >> sequence;
    EXPECT_EQ(sequence, "opopsopsops");
    // Without its start-up the peer took less in every run, so the ratio without is the larger
    // (by how much, the machine's load decides).
    const double with = std::atof(rows[0][11].c_str()), without = std::atof(rows[0][24].c_str());
    EXPECT_GT(with, 0.0);
    EXPECT_GT(without, with);
    EXPECT_GE(std::atof(rows[0][22].c_str()), 0.35);
    EXPECT_EQ(std::atof(rows[0][21].c_str()), 0.0);

    rows.clear();
    ASSERT_EQ(RunPairs("alone", &rows), 0);
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0][7], "");
    EXPECT_EQ(rows[0][16], "");
    EXPECT_GT(std::atof(rows[0][6].c_str()), 0.0);
}

TEST(Harness, APairTimedInsideOneSideOnlyOrWithResultsApartFailsItsRow) {
    std::vector<std::vector<std::string>> rows;
    EXPECT_EQ(RunPairs("mixed|apart", &rows), 1);
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0][16].rfind("FAILED: one side timed its operation inside", 0), 0u) << rows[0][16];
    EXPECT_EQ(rows[1][16], "DIFFERS: 3 cells apart");
}

TEST(Harness, RasterComparisonFindsCellsApartCellsFilledByOneAndOtherOverviews) {
    cv::Mat grid(64, 64, CV_32FC1);
    cv::randu(grid, 0.0, 100.0);
    const double gt[6] = {1000.0, 2.0, 0.0, 5000.0, 0.0, -2.0};
    cv::Mat other = grid.clone();
    other.at<float>(10, 10) += 1.0f;
    other.at<float>(20, 20) = -9999.0f;
    ASSERT_TRUE(bench::WriteRaster(grid, gt, Path("a.tif")));
    ASSERT_TRUE(bench::WriteRaster(other, gt, Path("b.tif")));
    ASSERT_TRUE(bench::WriteRaster(grid, gt, Path("c.tif")));
    GDALDatasetH c = GDALOpen(Path("c.tif").c_str(), GA_Update);
    const int level = 2;
    ASSERT_EQ(GDALBuildOverviews(c, "NEAREST", 1, &level, 0, nullptr, nullptr, nullptr), CE_None);
    GDALClose(c);

    const bench::Agreement same = bench::CompareRasters(Path("a.tif"), Path("a.tif"), 0.0);
    std::string agreed;
    EXPECT_EQ(bench::Judge(same, 0.0, 0.0, &agreed), "");
    EXPECT_EQ(same.compared, 64 * 64);

    const bench::Agreement apart = bench::CompareRasters(Path("a.tif"), Path("b.tif"), 0.5);
    EXPECT_EQ(apart.apart, 1);
    EXPECT_EQ(apart.onlyOne, 1);
    EXPECT_NE(bench::Judge(apart, 0.0, 0.0, &agreed), "");
    EXPECT_EQ(bench::Judge(apart, 0.01, 0.01, &agreed), "");

    EXPECT_NE(bench::Judge(bench::CompareRasters(Path("a.tif"), Path("c.tif"), 0.0), 0.0, 0.0, &agreed), "");
}

// ---- The checks, each on results that agree and on one spoilt on purpose

using Line = std::vector<std::array<double, 3>>;

bool WriteLines(const std::string& path, const std::vector<Line>& lines) {
    GDALDatasetH ds =
        GDALCreate(GDALGetDriverByName("ESRI Shapefile"), path.c_str(), 0, 0, 0, GDT_Unknown, nullptr);
    OGRLayerH layer = ds ? GDALDatasetCreateLayer(ds, "lines", nullptr, wkbLineString25D, nullptr) : nullptr;
    bool ok = layer != nullptr;
    for (const Line& line : lines) {
        OGRFeatureH feature = OGR_F_Create(OGR_L_GetLayerDefn(layer));
        OGRGeometryH geometry = OGR_G_CreateGeometry(wkbLineString25D);
        for (const auto& v : line) {
            OGR_G_AddPoint(geometry, v[0], v[1], v[2]);
        }
        OGR_F_SetGeometryDirectly(feature, geometry);
        ok = ok && OGR_L_CreateFeature(layer, feature) == OGRERR_NONE;
        OGR_F_Destroy(feature);
    }
    if (ds) {
        GDALClose(ds);
    }
    return ok;
}

std::string Checked(const bench::Check& check) {
    std::string agreed;
    return check(&agreed);
}

TEST(Checks, ContourLinesAgreeVertexByVertexWhereverALineStartsOrWhicheverWayItRuns) {
    const Line open = {{0, 0, 10}, {1.5, 0.5, 10}, {3, 0.25, 10}};
    const Line ring = {{5, 5, 11}, {6, 5, 11}, {6, 6, 11}, {5, 5, 11}};
    ASSERT_TRUE(WriteLines(Path("ours.shp"), {open, ring}));
    // The same lines, the other way round, the ring from another vertex, in the other order.
    ASSERT_TRUE(WriteLines(Path("same.shp"), {{{6, 5, 11}, {6, 6, 11}, {5, 5, 11}, {6, 5, 11}},
                                              {{3, 0.25, 10}, {1.5, 0.5, 10}, {0, 0, 10}}}));
    ASSERT_TRUE(WriteLines(Path("moved.shp"), {{{0, 0, 10}, {1.5, 0.52, 10}, {3, 0.25, 10}}, ring}));
    ASSERT_TRUE(WriteLines(Path("level.shp"), {open, {{5, 5, 12}, {6, 5, 12}, {6, 6, 12}, {5, 5, 12}}}));
    ASSERT_TRUE(WriteLines(Path("fewer.shp"), {open}));
    EXPECT_EQ(Checked(bench::LinesAgree(Path("ours.shp"), Path("same.shp"), 0.001)), "");
    EXPECT_NE(Checked(bench::LinesAgree(Path("ours.shp"), Path("moved.shp"), 0.001)), "");
    EXPECT_NE(Checked(bench::LinesAgree(Path("ours.shp"), Path("level.shp"), 0.001)), "");
    EXPECT_NE(Checked(bench::LinesAgree(Path("ours.shp"), Path("fewer.shp"), 0.001)), "");
}

TEST(Checks, BurntLinesMayPartOnlyOnCellsALineGrazes) {
    // A line across a 20 x 20 grid of unit cells; GDAL burns every cell it touches. Ours burns
    // only the cells it crosses by a quarter of a cell or more.
    const double gt[6] = {0.0, 1.0, 0.0, 20.0, 0.0, -1.0};
    const Line line = {{0.5, 19.9, 7}, {19.5, 0.3, 7}};
    ASSERT_TRUE(WriteLines(Path("burnt.shp"), {line}));
    cv::Mat touched(20, 20, CV_32FC1, cv::Scalar(1.0f)), crossed = touched.clone();
    for (int step = 0; step <= 100000; ++step) {
        const double t = step / 100000.0;
        const double x = 0.5 + 19.0 * t, y = 19.9 - 19.6 * t;
        touched.at<float>(int(20.0 - y), int(x)) = 7.0f;
    }
    for (int step = 0; step <= 8 * 28; ++step) {
        const double t = step / (8.0 * 28);
        crossed.at<float>(int(20.0 - (19.9 - 19.6 * t)), int(0.5 + 19.0 * t)) = 7.0f;
    }
    ASSERT_GT(cv::countNonZero(touched != crossed), 0);
    ASSERT_TRUE(bench::WriteRaster(crossed, gt, Path("crossed.tif")));
    ASSERT_TRUE(bench::WriteRaster(touched, gt, Path("touched.tif")));
    EXPECT_EQ(Checked(bench::BurntLinesAgree(Path("crossed.tif"), Path("touched.tif"), Path("burnt.shp"),
                                             1e-3, 0.25)),
              "");
    // A line along a row's boundary, a thousandth of a cell off it: GDAL may burn the row on
    // either side.
    const Line along = {{2.5, 5.001, 3}, {8.5, 5.001, 3}};
    ASSERT_TRUE(WriteLines(Path("along.shp"), {along}));
    cv::Mat above(20, 20, CV_32FC1, cv::Scalar(1.0f)), below = above.clone();
    above(cv::Range(14, 15), cv::Range(2, 9)).setTo(3.0f);
    below(cv::Range(15, 16), cv::Range(2, 9)).setTo(3.0f);
    ASSERT_TRUE(bench::WriteRaster(above, gt, Path("above.tif")));
    ASSERT_TRUE(bench::WriteRaster(below, gt, Path("below.tif")));
    EXPECT_EQ(
        Checked(bench::BurntLinesAgree(Path("below.tif"), Path("above.tif"), Path("along.shp"), 1e-3, 0.25)),
        "");
    // A cell in the line's way left as it was.
    cv::Mat missed = crossed.clone();
    missed.at<float>(10, 10) = 1.0f;
    ASSERT_EQ(touched.at<float>(10, 10), 7.0f);
    ASSERT_TRUE(bench::WriteRaster(missed, gt, Path("missed.tif")));
    EXPECT_NE(Checked(bench::BurntLinesAgree(Path("missed.tif"), Path("touched.tif"), Path("burnt.shp"), 1e-3,
                                             0.25)),
              "");
}

TEST(Checks, PicturesAgreeAPixelApartButNotWithAPartRecoloured) {
    cv::Mat picture(60, 80, CV_8UC3);
    cv::randu(picture, 0, 255);
    cv::Mat shifted(picture.size(), picture.type(), cv::Scalar(0, 0, 0)), recoloured = picture.clone();
    picture(cv::Rect(0, 0, 79, 59)).copyTo(shifted(cv::Rect(1, 1, 79, 59)));
    recoloured(cv::Rect(0, 0, 20, 20)) += cv::Scalar(40, 0, 0);
    ASSERT_TRUE(bench::WriteRaster(picture, nullptr, Path("picture.tif"), 0.0));
    ASSERT_TRUE(bench::WriteRaster(shifted, nullptr, Path("shifted.tif"), 0.0));
    ASSERT_TRUE(bench::WriteRaster(recoloured, nullptr, Path("recoloured.tif"), 0.0));
    EXPECT_EQ(Checked(bench::PicturesAgree(Path("picture.tif"), Path("shifted.tif"), 8, 0.01)), "");
    EXPECT_NE(Checked(bench::PicturesAgree(Path("picture.tif"), Path("recoloured.tif"), 8, 0.01)), "");
}

TEST(Checks, SlopeMapsAgreeWhereTheTangentMatchesThePercentage) {
    // Ours holds the tangent in its third band, the peer percent in its only one.
    cv::Mat ours(20, 20, CV_32FC3, cv::Scalar(0.0f, 0.0f, 0.3f));
    const cv::Mat same(20, 20, CV_32FC1, cv::Scalar(30.0f)), steeper(20, 20, CV_32FC1, cv::Scalar(45.0f));
    const double gt[6] = {0.0, 1.0, 0.0, 20.0, 0.0, -1.0};
    ASSERT_TRUE(bench::WriteRaster(ours, gt, Path("slope_ours.tif")));
    ASSERT_TRUE(bench::WriteRaster(same, gt, Path("slope_same.tif")));
    ASSERT_TRUE(bench::WriteRaster(steeper, gt, Path("slope_steeper.tif")));
    EXPECT_EQ(Checked(bench::SlopesAgree(Path("slope_ours.tif"), Path("slope_same.tif"))), "");
    EXPECT_NE(Checked(bench::SlopesAgree(Path("slope_ours.tif"), Path("slope_steeper.tif"))), "");
}

TEST(Checks, TrianglesAndPartitionsAgreeOnlyWhenTheyAreTheSame) {
    // Two triangles over a square, named from any corner; the other diagonal makes two others.
    const std::vector<bench::Triangle> square = {{0, 1, 2}, {0, 2, 3}}, rotated = {{2, 3, 0}, {1, 2, 0}},
                                       flipped = {{0, 1, 3}, {1, 2, 3}};
    ::setenv("KV_BENCH_CHECK", "1", 1);
    ASSERT_TRUE(bench::KeepTriangles(square, Path("square.tri")));
    ASSERT_TRUE(bench::KeepTriangles(rotated, Path("rotated.tri")));
    ASSERT_TRUE(bench::KeepTriangles(flipped, Path("flipped.tri")));
    ::unsetenv("KV_BENCH_CHECK");
    EXPECT_EQ(Checked(bench::TrianglesAgree(Path("square.tri"), Path("rotated.tri"))), "");
    EXPECT_NE(Checked(bench::TrianglesAgree(Path("square.tri"), Path("flipped.tri"))), "");
    // A point given twice is named by its first copy.
    EXPECT_EQ(bench::FirstOfEach({{1, 1, 0}, {2, 2, 0}, {1, 1, 5}, {2, 2, 0}}),
              (std::vector<int>{0, 1, 0, 1}));

    cv::Mat parts(40, 40, CV_8UC1, cv::Scalar(1));
    parts(cv::Rect(20, 0, 20, 40)).setTo(2);
    cv::Mat shifted = parts.clone(), swapped = parts.clone();
    shifted(cv::Rect(19, 0, 1, 40)).setTo(2);
    swapped(cv::Rect(0, 0, 10, 10)).setTo(2);
    ASSERT_TRUE(bench::WriteRaster(parts, nullptr, Path("parts.tif"), 0.0));
    ASSERT_TRUE(bench::WriteRaster(shifted, nullptr, Path("shifted.tif"), 0.0));
    ASSERT_TRUE(bench::WriteRaster(swapped, nullptr, Path("swapped.tif"), 0.0));
    EXPECT_EQ(Checked(bench::PartitionsAgree(Path("parts.tif"), Path("shifted.tif"), 0.95)), "");
    EXPECT_NE(Checked(bench::PartitionsAgree(Path("parts.tif"), Path("swapped.tif"), 0.95)), "");
}

TEST(Checks, OursWorseThanThePeerBeyondTheMarginFailsAndEveryProductIsChecked) {
    EXPECT_EQ(bench::NoWorse("p95", 4.9, 4.69, 0.1, 0.1), "");
    EXPECT_NE(bench::NoWorse("p95", 5.3, 4.69, 0.1, 0.1), "");
    // A bare-earth DEM lowered by 3 m on a tenth of its cells.
    cv::Mat ground(50, 50, CV_32FC1);
    cv::randu(ground, 10.0, 20.0);
    cv::Mat lowered = ground.clone();
    lowered(cv::Rect(0, 0, 50, 5)) -= 3.0f;
    const double gt[6] = {0.0, 1.0, 0.0, 50.0, 0.0, -1.0};
    ASSERT_TRUE(bench::WriteRaster(ground, gt, Path("ground.tif")));
    ASSERT_TRUE(bench::WriteRaster(lowered, gt, Path("lowered.tif")));
    const bench::BareEarthChange kept = bench::ChangeOfBareEarth(Path("ground.tif"), Path("ground.tif"));
    const bench::BareEarthChange spoilt = bench::ChangeOfBareEarth(Path("ground.tif"), Path("lowered.tif"));
    ASSERT_TRUE(kept.read && spoilt.read);
    EXPECT_NEAR(spoilt.lowered, 0.1, 1e-9);
    EXPECT_NEAR(spoilt.lowest, 3.0, 1e-5);
    EXPECT_EQ(bench::NoWorse("lowered", kept.lowered, spoilt.lowered, 0.01, 0.1), "");
    EXPECT_NE(bench::NoWorse("lowered", spoilt.lowered, kept.lowered, 0.01, 0.1), "");

    // Of three products, the one that differs fails the whole and names itself.
    const bench::Check same = bench::RastersAgree(Path("ground.tif"), Path("ground.tif"), 1e-3);
    const bench::Check apart = bench::RastersAgree(Path("ground.tif"), Path("lowered.tif"), 1e-3);
    EXPECT_EQ(Checked(bench::AllAgree({{"slope", same}, {"wetness", same}})), "");
    EXPECT_EQ(Checked(bench::AllAgree({{"slope", same}, {"catchment", apart}, {"wetness", same}}))
                  .rfind("catchment: ", 0),
              0u);
}

TEST(Checks, FillsAgreeOverTheHoleCellsAloneAndLinesOutsideTheBoxesOnly) {
    // A hole of 20 x 20 cells, 4 % of the grid; another fill 3 apart on a fifth of the hole's cells
    // (under 1 % of the grid's), one that leaves a hole cell empty, one that moves a cell outside.
    cv::Mat input(100, 100, CV_32FC1);
    cv::randu(input, 10.0, 20.0);
    const cv::Mat filled = input.clone();
    input(cv::Rect(40, 40, 20, 20)).setTo(-9999.0f);
    cv::Mat apart = filled.clone(), unfilled = filled.clone(), outside = filled.clone();
    apart(cv::Rect(40, 40, 20, 4)) += 3.0f;
    unfilled.at<float>(50, 50) = -9999.0f;
    outside.at<float>(5, 5) += 0.5f;
    const double gt[6] = {0.0, 1.0, 0.0, 100.0, 0.0, -1.0};
    const std::pair<const cv::Mat*, const char*> grids[] = {{&input, "input.tif"},
                                                            {&filled, "filled.tif"},
                                                            {&apart, "apart.tif"},
                                                            {&unfilled, "unfilled.tif"},
                                                            {&outside, "outside.tif"}};
    for (const auto& [grid, name] : grids) {
        ASSERT_TRUE(bench::WriteRaster(*grid, gt, Path(name)));
    }
    const auto fills = [](const char* other) {
        return Checked(bench::FillsAgree(Path("filled.tif"), Path(other), Path("input.tif"), 2.0, 0.01));
    };
    EXPECT_EQ(Checked(bench::RastersAgree(Path("filled.tif"), Path("apart.tif"), 2.0, 0.01)), "");
    EXPECT_EQ(fills("filled.tif"), "");
    EXPECT_NE(fills("apart.tif"), "");
    EXPECT_NE(fills("unfilled.tif"), "");
    EXPECT_NE(fills("outside.tif"), "");

    // Lines that part only inside a box (a ring more around a changed cell) agree outside it.
    const Line open = {{0, 0, 10}, {1.5, 0.5, 10}, {3, 0.25, 10}};
    const Line ring = {{5, 5, 11}, {6, 5, 11}, {6, 6, 11}, {5, 5, 11}};
    ASSERT_TRUE(WriteLines(Path("ours.shp"), {open, ring}));
    ASSERT_TRUE(WriteLines(Path("fewer.shp"), {open}));
    ASSERT_TRUE(WriteLines(Path("moved.shp"), {{{0, 0, 10}, {1.5, 0.52, 10}, {3, 0.25, 10}}}));
    const std::vector<bench::Box> box = {{4.5, 4.5, 6.5, 6.5}};
    EXPECT_EQ(Checked(bench::LinesAgreeOutside(Path("ours.shp"), Path("fewer.shp"), 0.001, box)), "");
    EXPECT_NE(Checked(bench::LinesAgreeOutside(Path("ours.shp"), Path("fewer.shp"), 0.001, {})), "");
    EXPECT_NE(Checked(bench::LinesAgreeOutside(Path("ours.shp"), Path("moved.shp"), 0.001, box)), "");
}

}  // namespace

int main(int argc, char** argv) {
    if (argc >= 3 && std::strcmp(argv[1], "--side") == 0) {
        return bench::Main(argc, argv);
    }
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    GDALAllRegister();
    QTemporaryDir folder;
    g_folder = folder.path().toStdString();
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
