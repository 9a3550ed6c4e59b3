// The edits on a real DEM: the Olinda DEM with holes cut into it.
#include <gtest/gtest.h>

#include "DemEditFixtures.h"
#include "demtools/DemEditWorkers.h"

using namespace dtest;

namespace {

std::unique_ptr<CDEM> LoadedOlinda() {
    auto dem = OlindaDem();
    if (dem && !dem->LoadData()) {
        ADD_FAILURE() << "Olinda DEM not loaded";
        return nullptr;
    }
    return dem;
}

}  // namespace

TEST(OlindaEdits, ErodeGrowsACutHoleByTenCellsEachWay) {
    auto dem = LoadedOlinda();
    ASSERT_NE(dem, nullptr);
    dem->m_grid(cv::Rect(54, 54, 3, 3)).setTo(kNoData);
    const cv::Mat before = dem->m_grid.clone();
    EXPECT_EQ(ErodeDem(*dem, CellRect(*dem, 20, 20, 90, 90), nullptr), 1);
    const cv::Mat holes = NoDataCells(dem->m_grid);
    EXPECT_EQ(cv::countNonZero(holes), 23 * 23);
    EXPECT_EQ(cv::countNonZero(holes(cv::Rect(44, 44, 23, 23))), 23 * 23);
    cv::Mat same = (dem->m_grid == before) | holes;
    EXPECT_EQ(cv::countNonZero(same), before.rows * before.cols);
}

TEST(OlindaEdits, GapClosingFillsTheCutHolesCloseToTheTerrain) {
    auto dem = LoadedOlinda();
    ASSERT_NE(dem, nullptr);
    const cv::Mat original = dem->m_grid.clone();
    const cv::Rect cuts[] = {{30, 30, 5, 4}, {60, 35, 2, 9}, {45, 70, 6, 6}, {75, 75, 1, 1}};
    for (const cv::Rect& cut : cuts) {
        dem->m_grid(cut).setTo(kNoData);
    }
    dem->m_grid(cv::Rect(5, 5, 4, 4)).setTo(kNoData);  // outside the area
    EXPECT_EQ(CloseDemGaps(*dem, CellRect(*dem, 20, 20, 90, 90), nullptr), 1);
    EXPECT_EQ(cv::countNonZero(NoDataCells(dem->m_grid)), 16);
    for (const cv::Rect& cut : cuts) {
        EXPECT_LT(cv::norm(dem->m_grid(cut), original(cut), cv::NORM_L1) / cut.area(), 5.0) << cut;
    }
}

TEST(OlindaEdits, OffsetAndFloodFillOnTheRealGrid) {
    auto dem = LoadedOlinda();
    ASSERT_NE(dem, nullptr);
    dem->m_grid(cv::Rect(40, 40, 4, 1)).setTo(kNoData);
    dem->m_grid(cv::Rect(41, 41, 1, 3)).setTo(kNoData);
    const cv::Mat before = dem->m_grid.clone();
    EXPECT_EQ(OffsetDemArea(*dem, CellRect(*dem, 30, 30, 60, 60), -2.5, nullptr), 1);
    const cv::Mat area = dem->m_grid(cv::Rect(30, 30, 31, 31)), old = before(cv::Rect(30, 30, 31, 31));
    cv::Mat expected = old - 2.5f;
    old.copyTo(expected, old == kNoData);
    EXPECT_EQ(cv::norm(area, expected, cv::NORM_INF), 0.0);

    const Wml::Point2 click = World(*dem, 41.3, 42.8);
    EXPECT_EQ(FloodFillDem(*dem, click.X(), click.Y(), 12.0f, nullptr), 7);
    EXPECT_EQ(cv::countNonZero(NoDataCells(dem->m_grid)), 0);
}
