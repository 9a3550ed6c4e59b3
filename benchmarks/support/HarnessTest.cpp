// What the harness must get right for its figures to be trusted, on pairs of this program's own
// sides: each side's peak memory is its own process's, the sides run in turn and the ratio is taken
// run by run, a pair timed inside one side only is refused, and results that differ fail the row.
#include <gtest/gtest.h>

#include <QApplication>
#include <QTemporaryDir>

#include <opencv2/core.hpp>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "Bench.h"
#include "Data.h"

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

std::string g_folder;

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

// The fields of a row (see the harness's row): 5, 6 ours min and median; 8, 9 the peer's; 10, 11
// the ratio; 12, 13 the peaks; 16 the check.
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
