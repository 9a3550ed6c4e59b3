#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <opencv2/core/utility.hpp>
#include <opencv2/imgproc.hpp>
#include <vector>

#include <gtest/gtest.h>

#include "platform/gridding/GridGaps.h"

namespace {

constexpr float kNoData = -9999.0f;

// A tilted plane: a thin plate through its valid cells is the plane itself.
cv::Mat Plane(int w, int h) {
    cv::Mat m(h, w, CV_32F);
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            m.at<float>(y, x) = 100.0f + 0.5f * x - 0.25f * y;
        }
    }
    return m;
}

// A round hill, 300 x 200 cells, its top at 100 in the middle.
cv::Mat Hill() {
    cv::Mat hill(200, 300, CV_32F);
    for (int y = 0; y < hill.rows; ++y) {
        for (int x = 0; x < hill.cols; ++x) {
            hill.at<float>(y, x) = 100.0f - 0.002f * float((x - 150) * (x - 150) + (y - 100) * (y - 100));
        }
    }
    return hill;
}

cv::Mat Everywhere(const cv::Mat& image) {
    return cv::Mat(image.size(), CV_8U, cv::Scalar(255));
}

// Filled cells that lie below the lowest or above the highest valid cell of the area around their
// gap (the cells that touch it, across a corner too).
int Overshoots(const cv::Mat& holes, const cv::Mat& mask, const cv::Mat& filled) {
    cv::Mat labels;
    const int count = cv::connectedComponents((holes == kNoData) & (mask != 0), labels, 4, CV_32S);
    std::vector<float> lo(size_t(count), FLT_MAX), hi(size_t(count), -FLT_MAX);
    for (int y = 0; y < holes.rows; ++y) {
        for (int x = 0; x < holes.cols; ++x) {
            const float v = holes.at<float>(y, x);
            for (int dy = -1; dy <= 1 && v != kNoData && mask.at<uint8_t>(y, x); ++dy) {
                for (int dx = -1; dx <= 1; ++dx) {
                    const int nx = x + dx, ny = y + dy;
                    if (nx >= 0 && ny >= 0 && nx < holes.cols && ny < holes.rows) {
                        const size_t label = size_t(labels.at<int>(ny, nx));
                        lo[label] = std::min(lo[label], v);
                        hi[label] = std::max(hi[label], v);
                    }
                }
            }
        }
    }
    int beyond = 0;
    for (int y = 0; y < holes.rows; ++y) {
        for (int x = 0; x < holes.cols; ++x) {
            const size_t label = size_t(labels.at<int>(y, x));
            const float v = filled.at<float>(y, x);
            beyond += label > 0 && v != kNoData && (v < lo[label] || v > hi[label]);
        }
    }
    return beyond;
}

// Numbers from a linear congruential generator, the same on every machine.
struct Numbers {
    uint32_t state;
    uint32_t Next() {
        state = state * 1664525u + 1013904223u;
        return state >> 8;
    }
};

// A rough surface of w x h cells, made with integer arithmetic and sums in a fixed order, so that
// it is the same on every machine.
cv::Mat Rough(int w, int h, Numbers& numbers) {
    cv::Mat noise(h, w, CV_32F);
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            noise.at<float>(y, x) = float(numbers.Next() % 1000) / 10.0f;
        }
    }
    cv::Mat grid(h, w, CV_32F);
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            double sum = 0.0;
            for (int dy = -2; dy <= 2; ++dy) {
                for (int dx = -2; dx <= 2; ++dx) {
                    sum += noise.at<float>(std::clamp(y + dy, 0, h - 1), std::clamp(x + dx, 0, w - 1));
                }
            }
            grid.at<float>(y, x) = float(sum / 25.0 + 0.1 * x - 0.05 * y);
        }
    }
    return grid;
}

// Sets the cells of the grid within r of (cx, cy) to the value.
void Disk(cv::Mat& grid, int cx, int cy, int r, float value) {
    for (int y = std::max(0, cy - r); y <= std::min(grid.rows - 1, cy + r); ++y) {
        for (int x = std::max(0, cx - r); x <= std::min(grid.cols - 1, cx + r); ++x) {
            if ((x - cx) * (x - cx) + (y - cy) * (y - cy) <= r * r) {
                grid.at<float>(y, x) = value;
            }
        }
    }
}

// A rough grid of 360 x 280 cells with gaps of every kind: one gap too wide for a single
// thread, sixty small ones, NaN cells, gaps on the grid's edges and on the area's, gaps outside
// the area, and a gap of the area that touches no valid cell of it. The area leaves out a strip
// on the left and the ring around that last gap, and marks a band of rows with 1 instead of 255.
cv::Mat RoughWithGaps(cv::Mat* area) {
    const int w = 360, h = 280;
    Numbers numbers{12345};
    cv::Mat grid = Rough(w, h, numbers);
    Disk(grid, 250, 140, 58, kNoData);
    for (int k = 0; k < 60; ++k) {
        const int x = int(numbers.Next() % uint32_t(w)), y = int(numbers.Next() % uint32_t(h));
        Disk(grid, x, y, k % 6, kNoData);
    }
    for (int k = 0; k < 10; ++k) {
        const int x = int(numbers.Next() % uint32_t(w)), y = int(numbers.Next() % uint32_t(h));
        grid.at<float>(y, x) = std::numeric_limits<float>::quiet_NaN();
    }
    Disk(grid, 120, 0, 8, kNoData);
    Disk(grid, w - 1, 60, 6, kNoData);
    Disk(grid, 16, 100, 5, kNoData);  // across the area's edge
    *area = cv::Mat(h, w, CV_8U, cv::Scalar(255));
    area->colRange(0, 15).setTo(0);
    area->rowRange(200, 210).setTo(1);
    (*area)(cv::Rect(38, 238, 9, 9)).setTo(0);
    (*area)(cv::Rect(40, 240, 5, 5)).setTo(255);
    grid(cv::Rect(40, 240, 5, 5)).setTo(kNoData);
    return grid;
}

// A rough grid of 520 x 440 cells with wide holes, 50 to 200 cells across: two that overlap,
// one cut by the grid's edge, one with a valid island in it.
cv::Mat RoughWithWideHoles() {
    Numbers numbers{2024};
    cv::Mat grid = Rough(520, 440, numbers);
    Disk(grid, 150, 150, 100, kNoData);
    Disk(grid, 380, 300, 70, kNoData);
    Disk(grid, 440, 250, 40, kNoData);
    Disk(grid, 500, 60, 45, kNoData);
    Disk(grid, 120, 380, 25, kNoData);
    Disk(grid, 150, 150, 6, 0.0f);
    return grid;
}

// FNV-1a over the bits of every cell.
uint64_t Digest(const cv::Mat& image) {
    uint64_t hash = 1469598103934665603ull;
    for (int y = 0; y < image.rows; ++y) {
        const uint8_t* p = image.ptr<uint8_t>(y);
        for (size_t i = 0; i < image.cols * image.elemSize(); ++i) {
            hash = (hash ^ p[i]) * 1099511628211ull;
        }
    }
    return hash;
}

}  // namespace

TEST(GapsFill, HolesOfEverySizeInAPlaneGetThePlaneBack) {
    const cv::Mat plane = Plane(300, 200);
    cv::Mat holes = plane.clone();
    cv::circle(holes, {40, 40}, 1, cv::Scalar(kNoData), cv::FILLED);
    cv::circle(holes, {150, 100}, 60, cv::Scalar(kNoData), cv::FILLED);
    cv::rectangle(holes, cv::Rect(230, 20, 50, 8), cv::Scalar(kNoData), cv::FILLED);
    holes.at<float>(180, 20) = std::numeric_limits<float>::quiet_NaN();  // NaN is a gap too

    cv::Mat filled = CGridGaps().Process(holes, Everywhere(holes), kNoData, 0.1);
    ASSERT_FALSE(filled.empty());
    ASSERT_EQ(filled.type(), CV_32FC1);
    ASSERT_EQ(filled.size(), holes.size());
    double worst = 0;
    for (int y = 0; y < plane.rows; ++y) {
        for (int x = 0; x < plane.cols; ++x) {
            worst = std::max(worst, double(std::fabs(filled.at<float>(y, x) - plane.at<float>(y, x))));
        }
    }
    EXPECT_LT(worst, 0.5);  // over a gap 120 cells wide with a 30 m rise across it
    EXPECT_NE(filled.data, holes.data);
    EXPECT_EQ(holes.at<float>(100, 150), kNoData);  // the input is left alone
}

TEST(GapsFill, OnlyCellsOfTheAreaAreUsedAndChanged) {
    cv::Mat image = Plane(120, 80);
    cv::Mat mask(image.size(), CV_8U, cv::Scalar(0));
    cv::rectangle(mask, cv::Rect(10, 10, 50, 50), cv::Scalar(255), cv::FILLED);  // area A
    cv::rectangle(mask, cv::Rect(80, 10, 30, 30), cv::Scalar(255), cv::FILLED);  // area B: all gap
    cv::rectangle(image, cv::Rect(20, 20, 30, 30), cv::Scalar(kNoData), cv::FILLED);
    cv::rectangle(image, cv::Rect(80, 10, 30, 30), cv::Scalar(kNoData), cv::FILLED);
    // Wild values and gaps just outside area A must neither feed the fill nor change.
    cv::rectangle(image, cv::Rect(60, 10, 10, 50), cv::Scalar(5000), cv::FILLED);
    image.at<float>(5, 5) = kNoData;

    cv::Mat filled = CGridGaps().Process(image, mask, kNoData, 0.1);
    ASSERT_FALSE(filled.empty());
    for (int y = 0; y < image.rows; ++y) {
        for (int x = 0; x < image.cols; ++x) {
            float in = image.at<float>(y, x), out = filled.at<float>(y, x);
            bool areaA = x >= 10 && x < 60 && y >= 10 && y < 60;
            if (areaA && in == kNoData) {
                EXPECT_LT(out, 200.0f) << x << "," << y;
                EXPECT_GT(out, 50.0f) << x << "," << y;
            } else {
                // Outside the area, valid cells inside it, and the gaps of area B, which holds
                // no valid cell, stay as they were.
                EXPECT_EQ(out, in) << x << "," << y;
            }
        }
    }
}

TEST(GapsFill, NothingToFillFromOrMismatchedInputsGiveNoImage) {
    CGridGaps gaps;
    cv::Mat empty(50, 50, CV_32F, cv::Scalar(kNoData));
    EXPECT_TRUE(gaps.Process(empty, Everywhere(empty), kNoData, 0.1).empty());
    cv::Mat plane = Plane(50, 50);
    cv::Mat none(plane.size(), CV_8U, cv::Scalar(0));
    EXPECT_TRUE(gaps.Process(plane, none, kNoData, 0.1).empty());  // valid cells, but none in the area
    EXPECT_TRUE(gaps.Process(plane, cv::Mat(40, 50, CV_8U, cv::Scalar(255)), kNoData, 0.1).empty());
    cv::Mat doubles;
    plane.convertTo(doubles, CV_64F);
    EXPECT_TRUE(gaps.Process(doubles, Everywhere(plane), kNoData, 0.1).empty());
    EXPECT_TRUE(gaps.Process(cv::Mat(), cv::Mat(), kNoData, 0.1).empty());

    // Without gaps the answer is a copy; with NaN as the no-data value NaN cells are filled.
    cv::Mat copy = gaps.Process(plane, Everywhere(plane), kNoData, 0.1);
    ASSERT_FALSE(copy.empty());
    EXPECT_EQ(cv::norm(copy, plane, cv::NORM_INF), 0.0);
    plane.at<float>(25, 25) = std::numeric_limits<float>::quiet_NaN();
    cv::Mat filled = gaps.Process(plane, Everywhere(plane), std::numeric_limits<float>::quiet_NaN(), 0.001);
    ASSERT_FALSE(filled.empty());
    EXPECT_NEAR(filled.at<float>(25, 25), 100.0f + 12.5f - 6.25f, 0.001);
}

// A thin plate carries the slopes at a gap's rim on into it, which would take a fill below the
// lowest or above the highest cell around the gap: pits and peaks that were never there. Holes of
// every size in rough terrain, in the whole grid and in an area, stay within their rims.
TEST(GapsFill, NoFilledCellLiesBeyondTheValidCellsAroundItsGap) {
    cv::Mat rough(256, 256, CV_32F);
    cv::randu(rough, cv::Scalar(10), cv::Scalar(90));
    cv::GaussianBlur(rough, rough, cv::Size(0, 0), 4);
    cv::Mat holes = rough.clone();
    cv::RNG rng(11);
    for (int i = 0; i < 40; ++i) {
        cv::circle(holes, {rng.uniform(0, 256), rng.uniform(0, 256)}, rng.uniform(1, 25), cv::Scalar(kNoData),
                   cv::FILLED);
    }
    cv::Mat area(holes.size(), CV_8U, cv::Scalar(0));
    cv::circle(area, {128, 128}, 90, cv::Scalar(255), cv::FILLED);
    for (const cv::Mat& mask : {Everywhere(holes), area}) {
        const cv::Mat filled = CGridGaps().Process(holes, mask, kNoData, 0.01);
        ASSERT_FALSE(filled.empty());
        EXPECT_EQ(Overshoots(holes, mask, filled), 0);
        EXPECT_EQ(cv::countNonZero((filled == kNoData) & (mask != 0)), 0);
    }
}

TEST(GapsFill, AFillerReusedForAnotherGridAnswersAsANewOne) {
    cv::Mat big = Plane(300, 200);
    cv::circle(big, {150, 100}, 60, cv::Scalar(kNoData), cv::FILLED);
    cv::Mat small(64, 48, CV_32F);
    cv::randu(small, cv::Scalar(0), cv::Scalar(10));
    cv::rectangle(small, cv::Rect(5, 5, 20, 30), cv::Scalar(kNoData), cv::FILLED);
    cv::Mat mask(small.size(), CV_8U, cv::Scalar(255));
    mask.colRange(30, 32).setTo(0);  // two parts, the right one all valid

    CGridGaps reused;
    ASSERT_FALSE(reused.Process(big, Everywhere(big), kNoData, 0.1).empty());
    cv::Mat again = reused.Process(small, mask, kNoData, 0.1);
    cv::Mat fresh = CGridGaps().Process(small, mask, kNoData, 0.1);
    ASSERT_FALSE(again.empty());
    EXPECT_EQ(cv::norm(again, fresh, cv::NORM_INF), 0.0);

    // A result the caller still holds is never written over by the next call.
    cv::Mat other = small.clone();
    other.setTo(3.0f, other != kNoData);
    cv::Mat third = reused.Process(other, mask, kNoData, 0.1);
    EXPECT_EQ(cv::norm(again, fresh, cv::NORM_INF), 0.0);
    EXPECT_NE(third.data, again.data);
    EXPECT_NEAR(third.at<float>(20, 10), 3.0f, 1e-4);
}

// A hole 80 cells across on a round hill's flank, and half of the cells inside the hill's edge
// gone at random: the fill carries the hill's rounding on across them, as a membrane (the least
// slope) cannot, in time that grows with the cells rather than with the width of the hole. With
// the top itself cut out, the fill rises level with the highest cell around the hole and no
// higher.
TEST(GapsFill, AHillsRoundingGoesOnAcrossAHoleUpToItsRim) {
    const cv::Mat hill = Hill();
    cv::Mat flank = hill.clone();
    cv::circle(flank, {90, 100}, 40, cv::Scalar(kNoData), cv::FILLED);
    cv::Mat scattered = hill.clone();
    cv::RNG rng(5);
    for (int y = 1; y + 1 < hill.rows; ++y) {
        for (int x = 1; x + 1 < hill.cols; ++x) {
            if (rng.uniform(0.0, 1.0) < 0.5) {
                scattered.at<float>(y, x) = kNoData;
            }
        }
    }
    for (const cv::Mat* holes : {&flank, &scattered}) {
        const cv::Mat filled = CGridGaps().Process(*holes, Everywhere(*holes), kNoData, 0.01);
        ASSERT_FALSE(filled.empty());
        EXPECT_LT(cv::norm(filled, hill, cv::NORM_INF), 0.1);
    }
    // A membrane sags: the middle of the hole comes out metres low.
    const cv::Mat sagging = CGridGaps(1.0).Process(flank, Everywhere(flank), kNoData, 0.01);
    EXPECT_LT(sagging.at<float>(100, 90), hill.at<float>(100, 90) - 2.0f);

    cv::Mat top = hill.clone();
    cv::circle(top, {150, 100}, 60, cv::Scalar(kNoData), cv::FILLED);
    double rim = 0, highest = 0;
    cv::minMaxLoc(top, nullptr, &rim);  // the highest valid cell lies on the rim
    const cv::Mat level = CGridGaps().Process(top, Everywhere(top), kNoData, 0.01);
    cv::minMaxLoc(level, nullptr, &highest);
    EXPECT_EQ(highest, rim);
    EXPECT_EQ(level.at<float>(100, 150), float(rim));
}

// Gaps further apart than the stencil reaches are separate systems: a small hole comes out the
// same, to the bit, whether or not a wide gap elsewhere needs many more steps; and the two
// halves of a hole split by a single valid column, which do enter each other's equations, are
// still filled as one surface.
TEST(GapsFill, AHoleIsFilledAloneWhateverOtherGapsLieBeyondItsReach) {
    const cv::Mat hill = Hill();
    cv::Mat small = hill.clone();
    cv::circle(small, {30, 30}, 6, cv::Scalar(kNoData), cv::FILLED);
    cv::Mat both = small.clone();
    cv::circle(both, {220, 110}, 60, cv::Scalar(kNoData), cv::FILLED);
    hill.col(220).copyTo(both.col(220));  // one valid column splits the wide gap
    CGridGaps filler;
    const cv::Mat alone = filler.Process(small, Everywhere(small), kNoData, 0.01).clone();
    const cv::Mat together = filler.Process(both, Everywhere(both), kNoData, 0.01);
    ASSERT_FALSE(alone.empty());
    ASSERT_FALSE(together.empty());
    const cv::Rect hole(20, 20, 21, 21);
    EXPECT_EQ(cv::norm(alone(hole), together(hole), cv::NORM_INF), 0.0);
    EXPECT_LT(cv::norm(together, hill, cv::NORM_INF), 0.1);
}

// The heights of a fill are those the filler has always given, to the bit, whatever the number
// of threads: the digests below were taken from the filler that solved one region after the
// other on a copy of the whole grid, one cell at a time (the wide holes' from the filler that
// took its cells one at a time). The cells it lists are exactly the cells it changes.
TEST(GapsFill, TheFilledHeightsAreTheRecordedOnesToTheBitOnAnyNumberOfThreads) {
    cv::Mat area;
    const cv::Mat grid = RoughWithGaps(&area);
    ASSERT_EQ(Digest(grid), 0x74578597598566acull);  // the input itself
    const cv::Mat wide = RoughWithWideHoles();
    ASSERT_EQ(Digest(wide), 0xb9c5225603895336ull);
    const int threads = cv::getNumThreads();
    for (int n : {1, threads}) {
        cv::setNumThreads(n);
        CGridGaps filler;
        const cv::Mat filled = filler.Process(grid, area, kNoData, 0.1);
        EXPECT_EQ(Digest(filled), 0xed6dcb61986f8d5cull) << n << " threads";
        EXPECT_EQ(Digest(filler.Process(wide, Everywhere(wide), kNoData, 0.1)), 0x2fa3fcc1a77ac303ull)
            << n << " threads";
        EXPECT_EQ(Digest(CGridGaps(0.3).Process(wide, Everywhere(wide), kNoData, 0.01)),
                  0xc6e84874df7e5b39ull)
            << n << " threads";
        EXPECT_EQ(filled.at<float>(242, 42), kNoData);  // the gap that touches no valid cell
        const cv::Mat nan = CGridGaps(0.3).Process(grid, area, std::numeric_limits<float>::quiet_NaN(), 0.01);
        EXPECT_EQ(Digest(nan), 0x069493806de09145ull) << n << " threads";

        CGridGaps::Cells cells;
        ASSERT_TRUE(filler.Fill(grid, area, kNoData, 0.1, &cells));
        ASSERT_EQ(cells.rowStart.size(), size_t(grid.rows) + 1);
        cv::Mat listed = grid.clone();
        cv::Mat marked(grid.size(), CV_8U, cv::Scalar(0));
        for (int y = 0; y < grid.rows; ++y) {
            for (size_t k = cells.rowStart[size_t(y)]; k < cells.rowStart[size_t(y) + 1]; ++k) {
                listed.at<float>(y, cells.columns[k]) = cells.heights[k];
                marked.at<uint8_t>(y, cells.columns[k]) = 255;
            }
        }
        EXPECT_EQ(Digest(listed), Digest(filled));
        int unlisted = 0;
        for (int y = 0; y < grid.rows; ++y) {
            for (int x = 0; x < grid.cols; ++x) {
                const bool same =
                    std::memcmp(&grid.at<float>(y, x), &filled.at<float>(y, x), sizeof(float)) == 0;
                unlisted += same == (marked.at<uint8_t>(y, x) != 0);
            }
        }
        EXPECT_EQ(unlisted, 0);
    }
    cv::setNumThreads(threads);
}
