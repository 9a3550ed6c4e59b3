#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <opencv2/imgproc.hpp>

#include "DemEditFixtures.h"
#include "demtools/DemEditWorkers.h"

using namespace dtest;

namespace {

double Ramp(int c, int r) {
    return 10.0 + c + 0.01 * r;
}

}  // namespace

TEST(DemEditArea, AreaCrossingTheDemEdgeEditsOnlyTheCellsOnTheDem) {
    const cv::Mat grid = MakeGrid(80, 60, Ramp);
    auto dem = GridDem(grid);
    WindowLog log;
    EXPECT_EQ(MakeDemHole(*dem, CellRect(*dem, -20, -15, 30, 25), nullptr, log.Recorder()), 1);
    ASSERT_EQ(log.entries.size(), 1u);
    EXPECT_EQ(log.entries[0].window, cv::Rect(0, 0, 31, 26));
    EXPECT_EQ(cv::countNonZero(NoDataCells(dem->m_grid)), 31 * 26);
    EXPECT_EQ(cv::countNonZero(NoDataCells(dem->m_grid(cv::Rect(0, 0, 31, 26)))), 31 * 26);
}

TEST(DemEditArea, ConcaveAreaFallingApartGivesOneWindowPerPiece) {
    const cv::Mat grid = MakeGrid(80, 60, Ramp);
    auto dem = GridDem(grid);
    // An arch whose bar lies above the raster: its two legs are separate pieces.
    const CPgon arch =
        CellArea(*dem, {{20, -20}, {50, -20}, {50, 25}, {42, 25}, {42, -5}, {28, -5}, {28, 25}, {20, 25}});
    WindowLog log;
    EXPECT_EQ(OffsetDemArea(*dem, arch, 1.0, nullptr, log.Recorder()), 2);
    ASSERT_EQ(log.entries.size(), 2u);
    std::vector<cv::Rect> windows{log.entries[0].window, log.entries[1].window};
    std::sort(windows.begin(), windows.end(), [](const cv::Rect& a, const cv::Rect& b) { return a.x < b.x; });
    EXPECT_EQ(windows[0], cv::Rect(20, 0, 9, 26));
    EXPECT_EQ(windows[1], cv::Rect(42, 0, 9, 26));
    cv::Mat changed = dem->m_grid != grid;
    EXPECT_EQ(cv::countNonZero(changed), 2 * 9 * 26);
    EXPECT_EQ(cv::countNonZero(changed(cv::Rect(29, 0, 13, 60))), 0);
    // The contour handed to the undo record is relative to its window.
    for (const auto& e : log.entries) {
        EXPECT_EQ(cv::boundingRect(e.contour), cv::Rect(0, 0, 9, 26));
    }
}

// The cells between two rectangles (first and last column and row of each) as an area with a hole.
CPgon Ring(const CDEM& dem, std::array<int, 4> outer, std::array<int, 4> inner) {
    CPgon ring = CellRect(dem, outer[0], outer[1], outer[2], outer[3]);
    const CPgon hole = CellRect(dem, inner[0], inner[1], inner[2], inner[3]);
    ring.AddContour(hole.GetContour(0).data(), int(hole.GetContour(0).size()), true);
    return ring;
}

TEST(DemEditArea, AreaWithAHoleEditsTheRingOnly) {
    const cv::Mat grid = MakeGrid(100, 100, Ramp);
    auto dem = GridDem(grid);
    const CPgon ring = Ring(*dem, {10, 10, 90, 90}, {30, 30, 70, 70});
    WindowLog log;
    EXPECT_EQ(MakeDemHole(*dem, ring, nullptr, log.Recorder()), 1);
    // The hole's own cells keep their values, its outline belongs to the area.
    EXPECT_EQ(cv::countNonZero(NoDataCells(dem->m_grid)), 81 * 81 - 39 * 39);
    EXPECT_EQ(dem->m_grid.at<float>(50, 50), grid.at<float>(50, 50));
    EXPECT_EQ(dem->m_grid.at<float>(30, 50), kNoData);
    ASSERT_EQ(log.entries.size(), 1u);
    EXPECT_EQ(log.entries[0].before.at<float>(40, 40), kNotEdited);

    // Over a window of many rows: the record's images hold the old and new values of exactly the
    // ring's cells and -10000 on every other cell, and the grid changed on the ring only.
    const cv::Mat large = MakeGrid(230, 300, Ramp);
    auto wide = GridDem(large);
    const CPgon band = Ring(*wide, {3, 5, 220, 290}, {40, 70, 200, 250});
    WindowLog wideLog;
    ASSERT_EQ(MakeDemHole(*wide, band, nullptr, wideLog.Recorder()), 1);
    const WindowLog::Entry& entry = wideLog.entries.at(0);
    const cv::Mat holed = NoDataCells(wide->m_grid)(entry.window);
    cv::Mat before(entry.window.size(), CV_32FC1, cv::Scalar(kNotEdited)), after = before.clone();
    large(entry.window).copyTo(before, holed);
    after.setTo(kNoData, holed);
    EXPECT_EQ(cv::countNonZero(entry.before != before), 0);
    EXPECT_EQ(cv::countNonZero(entry.after != after), 0);
    EXPECT_EQ(cv::countNonZero(NoDataCells(wide->m_grid)), 218 * 286 - 159 * 179);
}

TEST(DemEditArea, NothingHappensOffTheDemOrWhenTheRecordIsRefused) {
    const cv::Mat grid = MakeGrid(80, 60, Ramp);
    auto dem = GridDem(grid);
    WindowLog log;
    EXPECT_EQ(MakeDemHole(*dem, CellRect(*dem, 100, 10, 130, 40), nullptr, log.Recorder()), 0);
    EXPECT_TRUE(log.entries.empty());
    log.answer = 0;
    EXPECT_EQ(MakeDemHole(*dem, CellRect(*dem, 10, 10, 30, 40), nullptr, log.Recorder()), 0);
    EXPECT_EQ(log.entries.size(), 1u);
    EXPECT_EQ(cv::norm(dem->m_grid, grid, cv::NORM_INF), 0.0);
    EXPECT_EQ(dem->m_modified, 0);
    EXPECT_EQ(dem->m_busy, 0);
    // An area of fewer than three vertices covers nothing.
    EXPECT_EQ(MakeDemHole(*dem, CellArea(*dem, {{10, 10}, {30, 40}}), nullptr), 0);
}

TEST(DemEditArea, DemOnFileIsLoadedOnlyWhenTheAreaMeetsIt) {
    auto dem = OlindaDem();
    ASSERT_NE(dem, nullptr);
    EXPECT_EQ(MakeDemHole(*dem, CellRect(*dem, 200, 10, 230, 40), nullptr), 0);
    EXPECT_TRUE(dem->m_grid.empty());
    EXPECT_EQ(MakeDemHole(*dem, CellRect(*dem, 10, 10, 30, 40), nullptr), 1);
    ASSERT_FALSE(dem->m_grid.empty());
    EXPECT_EQ(cv::countNonZero(NoDataCells(dem->m_grid)), 21 * 31);
    EXPECT_EQ(dem->m_modified, 1);
}
