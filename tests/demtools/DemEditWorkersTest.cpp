#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <vector>

#include <opencv2/imgproc.hpp>

#include "DemEditFixtures.h"
#include "demtools/DemEditWorkers.h"

using namespace dtest;

namespace {

float At(const cv::Mat& grid, int c, int r) {
    return grid.at<float>(r, c);
}
void Set(cv::Mat& grid, int c, int r, float v) {
    grid.at<float>(r, c) = v;
}
double Ramp(int c, int r) {
    return 100.0 + 0.25 * c + 0.5 * r;
}
// The triangle of cells (20, 20), (180, 20), (20, 180): its long side is the diagonal c + r = 200.
bool InTriangle(int c, int r) {
    return c >= 20 && r >= 20 && c + r <= 200;
}
bool Near(int c, int r, cv::Point hole, int reach) {
    return std::abs(c - hole.x) <= reach && std::abs(r - hole.y) <= reach;
}

// Every cell is no data exactly where `expectHole` says, and keeps its original value elsewhere.
template <class F>
void ExpectHoles(const cv::Mat& grid, const cv::Mat& original, const F& expectHole) {
    int wrong = 0;
    for (int r = 0; r < grid.rows; ++r) {
        for (int c = 0; c < grid.cols; ++c) {
            const float expected = expectHole(c, r) ? kNoData : At(original, c, r);
            if (!(At(grid, c, r) == expected || (std::isnan(expected) && std::isnan(At(grid, c, r))))) {
                if (++wrong < 5) {
                    ADD_FAILURE() << "cell " << c << ", " << r << ": " << At(grid, c, r) << " not "
                                  << expected;
                }
            }
        }
    }
    EXPECT_EQ(wrong, 0);
}

}  // namespace

TEST(ErodeDem, SingleHoleGrowsIntoTheSquareCutByTheArea) {
    cv::Mat grid = MakeGrid(200, 200, Ramp);
    const cv::Point inner(100, 100), nearEdge(25, 60);
    Set(grid, inner.x, inner.y, kNoData);
    Set(grid, nearEdge.x, nearEdge.y, kNoData);
    auto dem = GridDem(grid);
    EXPECT_EQ(ErodeDem(*dem, CellRect(*dem, 20, 20, 180, 180), nullptr), 1);
    // The hole at column 25 spreads to column 15, but the area starts at 20.
    ExpectHoles(dem->m_grid, grid, [&](int c, int r) {
        return (c == nearEdge.x && r == nearEdge.y) || (c >= 20 && c <= 180 && r >= 20 && r <= 180 &&
                                                        (Near(c, r, inner, 10) || Near(c, r, nearEdge, 10)));
    });
    EXPECT_EQ(cv::countNonZero(NoDataCells(dem->m_grid)), 21 * 21 + 16 * 21);
    EXPECT_EQ(dem->m_modified, 1);
    EXPECT_EQ(dem->m_busy, 0);

    // A second run widens the holes by ten more cells.
    ErodeDem(*dem, CellRect(*dem, 20, 20, 180, 180), nullptr);
    ExpectHoles(dem->m_grid, grid, [&](int c, int r) {
        return (c == nearEdge.x && r == nearEdge.y) || (c >= 20 && c <= 180 && r >= 20 && r <= 180 &&
                                                        (Near(c, r, inner, 20) || Near(c, r, nearEdge, 20)));
    });
}

TEST(ErodeDem, NeitherTheDemEdgeNorTheWindowEdgeErodes) {
    cv::Mat grid = MakeGrid(120, 80, Ramp);
    Set(grid, 3, 40, kNoData);
    Set(grid, 45, 20, std::numeric_limits<float>::quiet_NaN());  // NaN is no data too
    auto dem = GridDem(grid);
    ErodeDem(*dem, CellRect(*dem, 0, 0, 119, 79), nullptr);
    ExpectHoles(dem->m_grid, grid, [](int c, int r) {
        return Near(c, r, {3, 40}, 10) || Near(c, r, {45, 20}, 10);
    });

    // A hole just outside the area's bounding box does not reach into it.
    cv::Mat fresh = MakeGrid(120, 80, Ramp);
    Set(fresh, 45, 40, kNoData);
    auto other = GridDem(fresh);
    ErodeDem(*other, CellRect(*other, 50, 10, 100, 70), nullptr);
    ExpectHoles(other->m_grid, fresh, [](int c, int r) { return c == 45 && r == 40; });
}

TEST(ErodeDem, HoleInsideTheBoundingBoxButOutsideTheAreaErodesIt) {
    cv::Mat grid = MakeGrid(200, 200, Ramp);
    const cv::Point hole(105, 105);  // beyond the triangle's long side
    Set(grid, hole.x, hole.y, kNoData);
    auto dem = GridDem(grid);
    WindowLog log;
    ErodeDem(*dem, CellArea(*dem, {{20, 20}, {180, 20}, {20, 180}}), nullptr, log.Recorder());
    ExpectHoles(dem->m_grid, grid, [&](int c, int r) {
        return (c == hole.x && r == hole.y) || (InTriangle(c, r) && Near(c, r, hole, 10));
    });

    // The undo record sees the area only: -10000 beyond it in both images.
    ASSERT_EQ(log.entries.size(), 1u);
    const auto& e = log.entries[0];
    EXPECT_EQ(e.window, cv::Rect(20, 20, 161, 161));
    for (int r = 0; r < e.window.height; r += 7) {
        for (int c = 0; c < e.window.width; c += 7) {
            const bool inside = InTriangle(c + 20, r + 20);
            EXPECT_EQ(At(e.before, c, r), inside ? At(grid, c + 20, r + 20) : kNotEdited);
            EXPECT_EQ(At(e.after, c, r), inside ? At(dem->m_grid, c + 20, r + 20) : kNotEdited);
        }
    }
}

TEST(ErodeDem, ScatteredHolesGiveTheSquareRuleAcrossTheWholeWindow) {
    cv::Mat grid = MakeGrid(300, 520, Ramp);
    cv::RNG rng(5);
    for (int k = 0; k < 60; ++k) {
        Set(grid, rng.uniform(0, 300), rng.uniform(0, 520), kNoData);
    }
    auto dem = GridDem(grid);
    ErodeDem(*dem, CellRect(*dem, 0, 0, 299, 519), nullptr);
    ExpectHoles(dem->m_grid, grid, [&](int c, int r) {
        for (int y = std::max(0, r - 10); y <= std::min(519, r + 10); ++y) {
            for (int x = std::max(0, c - 10); x <= std::min(299, c + 10); ++x) {
                if (At(grid, x, y) == kNoData) {
                    return true;
                }
            }
        }
        return false;
    });
}

TEST(ErodeDem, AreaWithoutNoDataChangesNothing) {
    const cv::Mat grid = MakeGrid(200, 200, Ramp);
    auto dem = GridDem(grid);
    WindowLog log;
    EXPECT_EQ(ErodeDem(*dem, CellArea(*dem, {{20, 20}, {180, 20}, {20, 180}}), nullptr, log.Recorder()), 1);
    EXPECT_EQ(cv::norm(dem->m_grid, grid, cv::NORM_INF), 0.0);
    ASSERT_EQ(log.entries.size(), 1u);
    EXPECT_EQ(cv::norm(log.entries[0].before, log.entries[0].after, cv::NORM_INF), 0.0);
}

TEST(MakeDemHole, EveryCellOfTheAreaBecomesNoData) {
    cv::Mat grid = MakeGrid(120, 120, Ramp);
    grid(cv::Rect(60, 60, 11, 11)).setTo(kNoData);
    auto dem = GridDem(grid);
    WindowLog log;
    EXPECT_EQ(MakeDemHole(*dem, CellRect(*dem, 50, 50, 90, 90), nullptr, log.Recorder()), 1);
    ExpectHoles(dem->m_grid, grid, [](int c, int r) { return c >= 50 && c <= 90 && r >= 50 && r <= 90; });
    // The cells that were no data already are still recorded, with their old -9999.
    ASSERT_EQ(log.entries.size(), 1u);
    EXPECT_EQ(At(log.entries[0].before, 15, 15), kNoData);
    EXPECT_EQ(At(log.entries[0].before, 0, 0), At(grid, 50, 50));
}

TEST(OffsetDemArea, MovesValidCellsAndKeepsHoles) {
    cv::Mat grid = MakeGrid(200, 200, Ramp);
    grid(cv::Rect(40, 40, 10, 10)).setTo(kNoData);
    auto dem = GridDem(grid);
    EXPECT_EQ(OffsetDemArea(*dem, CellArea(*dem, {{20, 20}, {180, 20}, {20, 180}}), -2.5, nullptr), 1);
    int wrong = 0;
    for (int r = 0; r < 200; ++r) {
        for (int c = 0; c < 200; ++c) {
            const float old = At(grid, c, r);
            const float expected = InTriangle(c, r) && old != kNoData ? float(double(old) - 2.5) : old;
            wrong += At(dem->m_grid, c, r) != expected;
        }
    }
    EXPECT_EQ(wrong, 0);
    EXPECT_EQ(At(dem->m_grid, 45, 45), kNoData);
}

TEST(CloseDemGaps, FillsEveryGapOfTheAreaFromTheAreaOnly) {
    auto plane = [](int c, int r) { return 50.0 + 0.1 * c + 0.2 * r; };
    cv::Mat grid = MakeGrid(120, 120, plane);
    // Valid cells far off the plane around the area must not pull the fill.
    grid.setTo(500.0f);
    MakeGrid(61, 61, [&](int c, int r) {
        return plane(c + 30, r + 30);
    }).copyTo(grid(cv::Rect(30, 30, 61, 61)));
    grid(cv::Rect(30, 40, 12, 6)).setTo(kNoData);  // touches the area's edge
    grid(cv::Rect(70, 60, 3, 21)).setTo(kNoData);
    Set(grid, 55, 55, kNoData);
    Set(grid, 10, 10, kNoData);  // outside the area
    auto dem = GridDem(grid);
    EXPECT_EQ(CloseDemGaps(*dem, CellRect(*dem, 30, 30, 90, 90), nullptr), 1);
    double worst = 0.0;
    for (int r = 30; r <= 90; ++r) {
        for (int c = 30; c <= 90; ++c) {
            ASSERT_NE(At(dem->m_grid, c, r), kNoData) << c << ", " << r;
            worst = std::max(worst, std::abs(At(dem->m_grid, c, r) - plane(c, r)));
        }
    }
    // A membrane bends a little where a gap meets the area's edge.
    EXPECT_LT(worst, 0.5);
    EXPECT_EQ(At(dem->m_grid, 10, 10), kNoData);
    EXPECT_EQ(At(dem->m_grid, 29, 40), 500.0f);
}

TEST(CloseDemGaps, AreaWithoutValidCellsKeepsItsValues) {
    cv::Mat grid = MakeGrid(60, 60, Ramp);
    grid(cv::Rect(10, 10, 25, 25)).setTo(kNoData);
    auto dem = GridDem(grid);
    WindowLog log;
    EXPECT_EQ(CloseDemGaps(*dem, CellRect(*dem, 12, 12, 30, 30), nullptr, log.Recorder()), 1);
    EXPECT_EQ(cv::norm(dem->m_grid, grid, cv::NORM_INF), 0.0);
    ASSERT_EQ(log.entries.size(), 1u);
    EXPECT_EQ(cv::norm(log.entries[0].before, log.entries[0].after, cv::NORM_INF), 0.0);
}

// The worker changes and records only the cells the filler fills, yet its grid is, to the bit,
// that of the rule on the whole window, and its undo images hold exactly the cells that differ
// between the rule's images (kNotEdited elsewhere), so that writing them back restores the grid.
// An area with a hole, away from the grid's corner, gaps of every kind; a recorder that refuses
// leaves the grid alone.
TEST(CloseDemGaps, TheWorkerWritesAndRecordsWhatTheRuleGivesTheWholeWindow) {
    cv::Mat grid = MakeGrid(
        150, 130, [](int c, int r) { return 40.0 + 0.3 * c - 0.2 * r + ((c * 7 + r * 3) % 11) * 0.5; });
    cv::circle(grid, {70, 60}, 18, cv::Scalar(kNoData), cv::FILLED);
    cv::circle(grid, {30, 100}, 4, cv::Scalar(kNoData), cv::FILLED);  // across the area's edge
    cv::circle(grid, {110, 40}, 3, cv::Scalar(kNoData), cv::FILLED);  // in the area's hole
    Set(grid, 90, 95, std::numeric_limits<float>::quiet_NaN());
    Set(grid, 5, 5, kNoData);  // outside the area
    auto dem = GridDem(grid);
    CPgon area = CellArea(*dem, {{20, 15}, {140, 25}, {125, 120}, {35, 100}});
    const std::vector<Wml::Point2> hole = {World(*dem, 100, 30), World(*dem, 120, 30), World(*dem, 120, 50),
                                           World(*dem, 100, 50)};
    area.AddContour(hole.data(), int(hole.size()), true);

    const std::vector<DemAreaPiece> pieces = ClipDemArea(*dem, area);
    ASSERT_EQ(pieces.size(), 1u);
    const cv::Rect window = pieces[0].bounds;
    const cv::Mat mask = AreaMask(pieces[0], window);
    const cv::Mat before = MaskedCopy(grid(window), mask);
    const cv::Mat after = CloseDemGaps(grid(window), mask);
    cv::Mat expected = grid.clone();
    cv::Mat target = expected(window);
    after.copyTo(target, mask);
    auto same = [](const cv::Mat& a, const cv::Mat& b) {
        return a.size() == b.size() && a.type() == b.type() &&
               std::equal(a.begin<float>(), a.end<float>(), b.begin<float>(),
                          [](float x, float y) { return std::memcmp(&x, &y, sizeof x) == 0; });
    };
    auto bits = [](float v) {
        uint32_t b = 0;
        std::memcpy(&b, &v, sizeof b);
        return b;
    };
    // The rule's images cut down to the cells they change.
    auto changedOnly = [&](const cv::Mat& from, const cv::Mat& to, cv::Mat* b, cv::Mat* a) {
        *b = cv::Mat(from.size(), CV_32FC1, cv::Scalar(kNotEdited));
        *a = b->clone();
        for (int r = 0; r < from.rows; ++r) {
            for (int c = 0; c < from.cols; ++c) {
                if (bits(from.at<float>(r, c)) != bits(to.at<float>(r, c))) {
                    b->at<float>(r, c) = from.at<float>(r, c);
                    a->at<float>(r, c) = to.at<float>(r, c);
                }
            }
        }
    };
    // The grid with the record's before image written back where it holds a cell.
    auto undone = [&](const cv::Mat& now, const cv::Rect& at, const cv::Mat& recorded) {
        cv::Mat restored = now.clone();
        for (int r = 0; r < recorded.rows; ++r) {
            for (int c = 0; c < recorded.cols; ++c) {
                if (bits(recorded.at<float>(r, c)) != bits(kNotEdited)) {
                    restored.at<float>(r + at.y, c + at.x) = recorded.at<float>(r, c);
                }
            }
        }
        return restored;
    };
    ASSERT_GT(cv::countNonZero(after != before), 1000);

    WindowLog refusing;
    refusing.answer = 0;
    EXPECT_EQ(CloseDemGaps(*dem, area, nullptr, refusing.Recorder()), 0);
    EXPECT_TRUE(same(dem->m_grid, grid));

    WindowLog log;
    EXPECT_EQ(CloseDemGaps(*dem, area, nullptr, log.Recorder()), 1);
    ASSERT_EQ(log.entries.size(), 1u);
    EXPECT_EQ(log.entries[0].window, window);
    cv::Mat changedBefore, changedAfter;
    changedOnly(before, after, &changedBefore, &changedAfter);
    EXPECT_TRUE(same(log.entries[0].before, changedBefore));
    EXPECT_TRUE(same(log.entries[0].after, changedAfter));
    EXPECT_TRUE(same(dem->m_grid, expected));
    EXPECT_TRUE(same(undone(dem->m_grid, window, log.entries[0].before), grid));
    EXPECT_EQ(At(dem->m_grid, 5, 5), kNoData);
    EXPECT_EQ(At(dem->m_grid, 110, 40), kNoData);
    EXPECT_EQ(dem->m_modified, 1);

    // An area beyond every side of the grid: the record spans the whole grid and holds its
    // changed cells as they were, NaN included, and as they are after.
    auto whole = GridDem(grid);
    WindowLog wholeLog;
    EXPECT_EQ(
        CloseDemGaps(*whole, CellRect(*whole, -1, -1, grid.cols, grid.rows), nullptr, wholeLog.Recorder()),
        1);
    ASSERT_EQ(wholeLog.entries.size(), 1u);
    changedOnly(grid, whole->m_grid, &changedBefore, &changedAfter);
    EXPECT_TRUE(same(wholeLog.entries[0].before, changedBefore));
    EXPECT_TRUE(same(wholeLog.entries[0].after, changedAfter));
    EXPECT_TRUE(
        same(undone(whole->m_grid, cv::Rect(0, 0, grid.cols, grid.rows), wholeLog.entries[0].before), grid));
    EXPECT_TRUE(same(whole->m_grid, CloseDemGaps(grid, cv::Mat(grid.size(), CV_8UC1, cv::Scalar(255)))));
}

TEST(FloodFillDem, FillsTheFourConnectedRunOfTheClickedCell) {
    cv::Mat grid = MakeGrid(100, 100, Ramp);
    // Hole A (one cell NaN, which is no data as well) and hole B, touching A only at a corner.
    for (cv::Point p : {cv::Point(30, 30), {29, 30}, {31, 30}, {30, 29}, {30, 31}, {32, 30}}) {
        Set(grid, p.x, p.y, kNoData);
    }
    Set(grid, 29, 30, std::numeric_limits<float>::quiet_NaN());
    Set(grid, 33, 31, kNoData);
    Set(grid, 34, 31, kNoData);
    auto dem = GridDem(grid);
    cv::Mat recordedMask;
    cv::Rect recordedBounds;
    auto record = [&](CDEM&, const cv::Mat& mask, const cv::Rect& bounds, float reference) {
        EXPECT_EQ(reference, 42.5f);
        recordedMask = mask.clone();
        recordedBounds = bounds;
        return 1;
    };
    const Wml::Point2 click = World(*dem, 30.5, 30.5);
    EXPECT_EQ(FloodFillDem(*dem, click.X(), click.Y(), 42.5f, nullptr, record), 6);
    EXPECT_EQ(recordedBounds, cv::Rect(29, 29, 4, 3));
    EXPECT_EQ(recordedMask.size(), cv::Size(102, 102));
    EXPECT_EQ(cv::countNonZero(recordedMask), 6);
    EXPECT_EQ(recordedMask.at<uchar>(31, 33), 255);  // cell (32, 30), one in from the top-left
    EXPECT_EQ(cv::countNonZero(dem->m_grid == 42.5f), 6);
    EXPECT_EQ(At(dem->m_grid, 29, 30), 42.5f);
    EXPECT_EQ(At(dem->m_grid, 32, 30), 42.5f);
    EXPECT_EQ(At(dem->m_grid, 33, 31), kNoData);
    EXPECT_EQ(cv::countNonZero(NoDataCells(dem->m_grid)), 2);
    EXPECT_EQ(dem->m_modified, 1);

    // A valid cell fills the run of exactly its value.
    grid = MakeGrid(100, 100, Ramp);
    grid(cv::Rect(60, 60, 5, 5)).setTo(77.0f);
    auto flat = GridDem(grid);
    const Wml::Point2 onFlat = World(*flat, 62.2, 61.7);
    EXPECT_EQ(FloodFillDem(*flat, onFlat.X(), onFlat.Y(), 10.0f, nullptr), 25);
    EXPECT_EQ(cv::countNonZero(flat->m_grid == 10.0f), 25);
}

TEST(FloodFillComponent, SameCellsAsAFixedRangeFourWayFill) {
    // Two values at random make a maze of runs that turn back on themselves.
    cv::Mat grid(150, 200, CV_32FC1);
    cv::RNG rng(3);
    for (int r = 0; r < grid.rows; ++r) {
        for (int c = 0; c < grid.cols; ++c) {
            grid.at<float>(r, c) = rng.uniform(0.0, 1.0) < 0.45 ? kNoData : 1.0f;
        }
    }
    for (int k = 0; k < 20; ++k) {
        const cv::Point seed(rng.uniform(0, grid.cols), rng.uniform(0, grid.rows));
        cv::Mat ours, reference(grid.rows + 2, grid.cols + 2, CV_8UC1, cv::Scalar(0));
        cv::Rect bounds, referenceBounds;
        const int count = FloodFillComponent(grid, seed, ours, bounds);
        const int expected =
            cv::floodFill(grid, reference, seed, 0, &referenceBounds, 0, 0,
                          4 | cv::FLOODFILL_FIXED_RANGE | cv::FLOODFILL_MASK_ONLY | (255 << 8));
        EXPECT_EQ(count, expected);
        EXPECT_EQ(bounds, referenceBounds);
        // OpenCV marks the mask's frame as well.
        const cv::Rect inner(1, 1, grid.cols, grid.rows);
        EXPECT_EQ(cv::countNonZero(ours(inner) != reference(inner)), 0);
    }
}

TEST(FloodFillDem, SeedIsTheCellThatContainsTheClick) {
    cv::Mat grid = MakeGrid(100, 100, Ramp);
    Set(grid, 60, 60, kNoData);
    Set(grid, 61, 61, kNoData);
    auto dem = GridDem(grid);
    // In the lower right part of cell (60, 60), nearer to the centre of (61, 61).
    const Wml::Point2 click = World(*dem, 60.9, 60.9);
    EXPECT_EQ(FloodFillDem(*dem, click.X(), click.Y(), 5.0f, nullptr), 1);
    EXPECT_EQ(At(dem->m_grid, 60, 60), 5.0f);
    EXPECT_EQ(At(dem->m_grid, 61, 61), kNoData);

    // No reference, a click off the grid and a refusing recorder change nothing.
    const cv::Mat before = dem->m_grid.clone();
    const Wml::Point2 onHole = World(*dem, 61.5, 61.5), off = World(*dem, -0.5, 50.0);
    EXPECT_EQ(FloodFillDem(*dem, onHole.X(), onHole.Y(), kNoData, nullptr), 0);
    EXPECT_EQ(FloodFillDem(*dem, off.X(), off.Y(), 5.0f, nullptr), 0);
    EXPECT_EQ(FloodFillDem(*dem, onHole.X(), onHole.Y(), 5.0f, nullptr,
                           [](CDEM&, const cv::Mat&, const cv::Rect&, float) { return 0; }),
              0);
    EXPECT_EQ(cv::norm(dem->m_grid, before, cv::NORM_INF), 0.0);
}
