#include <gtest/gtest.h>

#include <cmath>

#include "DemEditFixtures.h"
#include "demtools/DemPatch.h"

using namespace dtest;

namespace {

double Plane(int c, int r) {
    return 200.0 + 0.3 * c - 0.2 * r;
}

double WorstOffPlane(const cv::Mat& grid, const cv::Rect& cells) {
    double worst = 0.0;
    for (int r = cells.y; r < cells.br().y; ++r) {
        for (int c = cells.x; c < cells.br().x; ++c) {
            worst = std::max(worst, std::abs(grid.at<float>(r, c) - Plane(c, r)));
        }
    }
    return worst;
}

Wml::Point3 ConstraintAt(const CDEM& dem, int c, int r, double z) {
    const Wml::Point2 p = World(dem, c + 0.5, r + 0.5);
    return Wml::Point3(p.X(), p.Y(), z);
}

// While it lives, every patch draws its ring samples from the one seed, so that a test gives the
// same cells on every run.
struct SeededDraw {
    explicit SeededDraw(uint32_t seed = 20240611u) { SetPatchDrawSeed(seed); }
    ~SeededDraw() { SetPatchDrawSeed(std::nullopt); }
};

}  // namespace

TEST(PatchDem, HoleInAPlaneIsPatchedBackToThePlane) {
    const SeededDraw seeded;
    cv::Mat grid = MakeGrid(100, 100, Plane);
    grid(cv::Rect(40, 45, 16, 16)).setTo(kNoData);
    auto dem = GridDem(grid);
    WindowLog log;
    EXPECT_EQ(PatchDem(*dem, CellRect(*dem, 38, 43, 57, 62), nullptr, nullptr, log.Recorder()), 1);
    EXPECT_LT(WorstOffPlane(dem->m_grid, cv::Rect(38, 43, 20, 20)), 1e-3);
    // Outside the area nothing changes; the window reaches half the area's size beyond it.
    cv::Mat changed = dem->m_grid != grid;
    EXPECT_EQ(cv::countNonZero(changed), cv::countNonZero(changed(cv::Rect(38, 43, 20, 20))));
    ASSERT_EQ(log.entries.size(), 1u);
    EXPECT_EQ(log.entries[0].window, cv::Rect(28, 33, 40, 40));
    EXPECT_EQ(log.entries[0].before.at<float>(12, 12), kNoData);
}

TEST(PatchDem, EachPatchDrawsAfreshFromTheClockUnlessASeedIsSet) {
    const SeededDraw seeded;
    // A rolling surface: its ring holds far more valid cells than are drawn, and which are drawn
    // shows in the cells.
    const cv::Mat grid = MakeGrid(
        80, 80, [](int c, int r) { return 100.0 + 8.0 * std::sin(c / 5.0) + 6.0 * std::cos(r / 7.0); });
    auto patch = [&grid] {
        auto dem = GridDem(grid);
        EXPECT_EQ(PatchDem(*dem, CellRect(*dem, 30, 30, 49, 49), nullptr, nullptr), 1);
        return dem->m_grid.clone();
    };
    const cv::Mat first = patch();
    EXPECT_GT(cv::norm(first, grid, cv::NORM_INF), 0.0);
    EXPECT_EQ(cv::norm(first, patch(), cv::NORM_INF), 0.0);
    SetPatchDrawSeed(7u);
    EXPECT_GT(cv::norm(first, patch(), cv::NORM_INF), 0.0);
    SetPatchDrawSeed(std::nullopt);
    EXPECT_GT(cv::norm(patch(), patch(), cv::NORM_INF), 0.0);
}

TEST(PatchDem, ConstraintPointPullsOnlyThePieceThatHoldsIt) {
    const SeededDraw seeded;
    const cv::Mat grid = MakeGrid(80, 60, Plane);
    auto dem = GridDem(grid);
    // Two legs of an arch whose bar lies above the raster; the constraint is in the left leg.
    const CPgon arch =
        CellArea(*dem, {{20, -20}, {50, -20}, {50, 25}, {42, 25}, {42, -5}, {28, -5}, {28, 25}, {20, 25}});
    const double typed = Plane(24, 12) + 30.0;
    const Wml::Point3 constraint = ConstraintAt(*dem, 24, 12, typed);
    EXPECT_EQ(PatchDem(*dem, arch, &constraint, nullptr), 2);
    EXPECT_NEAR(dem->m_grid.at<float>(12, 24), typed, 1e-2);
    EXPECT_GT(dem->m_grid.at<float>(12, 25), Plane(25, 12) + 20.0);  // the cells around follow
    EXPECT_LT(WorstOffPlane(dem->m_grid, cv::Rect(42, 0, 9, 26)), 1e-3);

    // A constraint outside the area is not used at all.
    auto other = GridDem(grid);
    const Wml::Point3 outside = ConstraintAt(*other, 35, 12, typed);
    PatchDem(*other, arch, &outside, nullptr);
    EXPECT_LT(WorstOffPlane(other->m_grid, cv::Rect(0, 0, 80, 60)), 1e-3);
}

TEST(PatchDem, AreaWithoutValidRingKeepsItsValues) {
    const SeededDraw seeded;
    cv::Mat grid = MakeGrid(60, 60, Plane);
    grid(cv::Rect(5, 5, 50, 50)).setTo(kNoData);
    grid.at<float>(30, 30) = 7.0f;
    auto dem = GridDem(grid);
    WindowLog log;
    EXPECT_EQ(PatchDem(*dem, CellRect(*dem, 25, 25, 35, 35), nullptr, nullptr, log.Recorder()), 1);
    EXPECT_EQ(cv::norm(dem->m_grid, grid, cv::NORM_INF), 0.0);
    EXPECT_EQ(log.entries.size(), 1u);  // the undo record is still made
}

TEST(FillByThinPlateSpline, PassesThroughItsPointsAndRefusesTooFewOrCollinear) {
    cv::Mat spline(20, 30, CV_32FC1, cv::Scalar(-1));
    EXPECT_EQ(FillByThinPlateSpline(spline, {{1, 1, 5}, {8, 3, 6}}), 0);
    EXPECT_EQ(FillByThinPlateSpline(spline, {{1, 1, 5}, {2, 2, 6}, {3, 3, 9}}), 0);
    EXPECT_EQ(cv::countNonZero(spline != -1.0f), 0);
    const std::vector<cv::Point3f> points{{2, 3, 10}, {25, 4, 12}, {14, 17, 30}, {6, 12, 5}, {20, 10, 0}};
    ASSERT_EQ(FillByThinPlateSpline(spline, points), 1);
    for (const cv::Point3f& p : points) {
        EXPECT_NEAR(spline.at<float>(int(p.y), int(p.x)), p.z, 1e-3);
    }
}

TEST(PatchDem, OlindaHolePatchedSmoothlyFromItsSurroundings) {
    const SeededDraw seeded;
    auto dem = OlindaDem();
    ASSERT_NE(dem, nullptr);
    ASSERT_EQ(dem->LoadData(), 1);
    const cv::Mat original = dem->m_grid.clone();
    const cv::Rect area(50, 40, 8, 8);
    double lo = 1e9, hi = -1e9;
    cv::minMaxLoc(original(cv::Rect(44, 34, 20, 20)), &lo, &hi);
    // The mean absolute error of this hole depends on the 128 ring cells drawn. Over the seeds
    // 0 to 9999 it lies between 5.17 and 12.39 m (median 7.23, mean 7.30, standard deviation
    // 0.73, 21 seeds at 10 m or more), so no seed passes 13 m; the mean of 64 seeds lies within
    // 0.1 m of 7.3, and a spline one cell off its samples raises it to 8.3.
    double sum = 0.0;
    const int draws = 64;
    for (int seed = 0; seed < draws; ++seed) {
        SCOPED_TRACE(seed);
        SetPatchDrawSeed(uint32_t(seed));
        original.copyTo(dem->m_grid);
        dem->m_grid(area).setTo(kNoData);
        ASSERT_EQ(PatchDem(*dem, CellRect(*dem, 50, 40, 57, 47), nullptr, nullptr), 1);
        const cv::Mat patched = dem->m_grid(area);
        double pLo = 0, pHi = 0;
        cv::minMaxLoc(patched, &pLo, &pHi);
        EXPECT_GT(pLo, lo - 10.0);
        EXPECT_LT(pHi, hi + 10.0);
        const double error = cv::norm(patched, original(area), cv::NORM_L1) / area.area();
        EXPECT_LT(error, 13.0);
        sum += error;
    }
    EXPECT_LT(sum / draws, 8.0);
}
