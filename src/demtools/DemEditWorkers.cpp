#include "demtools/DemEditWorkers.h"

#include <QString>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <opencv2/imgproc.hpp>
#include <vector>

#include "platform/gridding/GridGaps.h"
#include "platform/tools/ProgressSink.h"
#include "raster/DEM.h"

namespace {

// The tolerance handed to the gap filler: how far (in height units) a filled cell may stay from
// the exact surface.
constexpr double kGapTolerance = 0.1;

// Rows of one band of the erosion; each band reads the valid cells of its neighbours' rows, so
// the bands together give the erosion of the whole window.
constexpr int kErodeBand = 128;

// 255 where a cell keeps its value under erosion: no cell of the window within kErodeReach of it
// in both directions holds no data. Cells beyond the window count as valid.
cv::Mat ErodeKeptCells(const cv::Mat& values) {
    cv::Mat valid(values.size(), CV_8UC1), kept(values.size(), CV_8UC1);
    // Valid is strictly above -9999: NaN and anything at or below -9999 is no data.
    cv::parallel_for_(cv::Range(0, values.rows), [&](const cv::Range& rows) {
        cv::Mat target = valid.rowRange(rows);
        cv::compare(values.rowRange(rows), kNoData, target, cv::CMP_GT);
    });
    // One square of 2 * reach + 1 equals reach steps of a 3 x 3 square. A band is eroded as a
    // part of the whole valid image, so the filter reads the real rows above and below it and
    // the constant border only beyond the window.
    const int side = 2 * kErodeReach + 1;
    const cv::Mat square = cv::getStructuringElement(cv::MORPH_RECT, cv::Size(side, side));
    const int bands = (values.rows + kErodeBand - 1) / kErodeBand;
    cv::parallel_for_(cv::Range(0, bands), [&](const cv::Range& range) {
        for (int b = range.start; b < range.end; ++b) {
            const cv::Range rows(b * kErodeBand, std::min(values.rows, (b + 1) * kErodeBand));
            cv::Mat target = kept.rowRange(rows);
            cv::erode(valid.rowRange(rows), target, square, cv::Point(-1, -1), 1, cv::BORDER_CONSTANT,
                      cv::morphologyDefaultBorderValue());
        }
    });
    return kept;
}

// One run of filled cells: row, first and last column.
struct FillSpan {
    int row, left, right;
};

// A run of filled cells on the row before `row` (row - dir): its cells from left to right are
// the ones to look at on `row`.
struct FillSegment {
    int row, left, right, dir;
};

// Seed fill by runs: every run is filled at once, continued in its direction, and turned back
// only where it reaches beyond the run it came from, so each cell is looked at about once.
template <class Same>
int ScanFill(const cv::Mat& grid, cv::Point seed, cv::Mat& mask, cv::Rect& bounds, const Same& same,
             std::vector<FillSpan>* spans) {
    const int w = grid.cols, h = grid.rows;
    int count = 0;
    int minX = seed.x, maxX = seed.x, minY = seed.y, maxY = seed.y;
    std::vector<FillSegment> stack;
    auto push = [&](int row, int left, int right, int dir) {
        if (row >= 0 && row < h) {
            stack.push_back({row, left, right, dir});
        }
    };
    auto fill = [&](int row, int left, int right) {
        std::memset(mask.ptr<uchar>(row + 1) + 1 + left, 255, size_t(right - left + 1));
        count += right - left + 1;
        minX = std::min(minX, left);
        maxX = std::max(maxX, right);
        minY = std::min(minY, row);
        maxY = std::max(maxY, row);
        if (spans) {
            spans->push_back({row, left, right});
        }
    };
    // The seed as if reached from both sides.
    push(seed.y, seed.x, seed.x, 1);
    push(seed.y - 1, seed.x, seed.x, -1);
    while (!stack.empty()) {
        const FillSegment s = stack.back();
        stack.pop_back();
        const float* values = grid.ptr<float>(s.row);
        const uchar* done = mask.ptr<uchar>(s.row + 1) + 1;
        auto open = [&](int x) { return !done[x] && same(values[x]); };
        for (int x = s.left; x <= s.right; ++x) {
            if (!open(x)) {
                continue;
            }
            int left = x, right = x;
            if (x == s.left) {
                while (left > 0 && open(left - 1)) {
                    --left;
                }
            }
            while (right < w - 1 && open(right + 1)) {
                ++right;
            }
            fill(s.row, left, right);
            push(s.row + s.dir, left, right, s.dir);
            if (left < s.left) {
                push(s.row - s.dir, left, s.left - 1, -s.dir);
            }
            if (right > s.right) {
                push(s.row - s.dir, s.right + 1, right, -s.dir);
            }
            x = right + 1;
        }
    }
    bounds = cv::Rect(minX, minY, maxX - minX + 1, maxY - minY + 1);
    return count;
}

// The component of the seed; its runs go to spans when given.
int FillComponent(const cv::Mat& grid, cv::Point seed, cv::Mat& fillMask, cv::Rect& bounds,
                  std::vector<FillSpan>* spans) {
    bounds = cv::Rect();
    if (grid.type() != CV_32FC1 || seed.x < 0 || seed.y < 0 || seed.x >= grid.cols || seed.y >= grid.rows) {
        fillMask.release();
        return 0;
    }
    fillMask.create(grid.rows + 2, grid.cols + 2, CV_8UC1);
    fillMask.setTo(0);
    const float target = grid.at<float>(seed);
    if (IsNoData(target)) {
        return ScanFill(
            grid, seed, fillMask, bounds, [](float v) { return IsNoData(v); }, spans);
    }
    return ScanFill(
        grid, seed, fillMask, bounds, [target](float v) { return v == target; }, spans);
}

void HoleRule(const cv::Mat&, const cv::Mat& mask, cv::Mat& out) {
    out.setTo(kNoData, mask);
}

void GapsRule(const cv::Mat& values, const cv::Mat& mask, cv::Mat& out) {
    // The filler uses the valid cells inside the area only.
    const cv::Mat filled = CGridGaps().Process(values, mask, kNoData, kGapTolerance);
    if (filled.size() == values.size() && filled.type() == CV_32FC1) {
        filled.copyTo(out, mask);
    } else if (out.data != values.data) {
        values.copyTo(out, mask);
    }
}

// The same gaps and heights as GapsRule, as the changed cells.
void GapsChanges(const cv::Mat& values, const cv::Mat& mask, DemCellChanges* changes) {
    CGridGaps::Cells filled;
    if (CGridGaps().Fill(values, mask, kNoData, kGapTolerance, &filled)) {
        changes->rowStart = std::move(filled.rowStart);
        changes->columns = std::move(filled.columns);
        changes->heights = std::move(filled.heights);
    }
}

void ErodeRule(const cv::Mat& values, const cv::Mat& mask, cv::Mat& out) {
    const cv::Mat kept = ErodeKeptCells(values);
    const bool inPlace = out.data == values.data;
    // Every cell on its own: the result is the sequential one.
    cv::parallel_for_(cv::Range(0, values.rows), [&](const cv::Range& rows) {
        for (int r = rows.start; r < rows.end; ++r) {
            const float* v = values.ptr<float>(r);
            const uchar* m = mask.ptr<uchar>(r);
            const uchar* k = kept.ptr<uchar>(r);
            float* o = out.ptr<float>(r);
            int c = 0;
            if (inPlace) {
                // Only the cells that lose their value are written; eight cells at a time are
                // passed over when none of them does.
                for (; c + 8 <= values.cols; c += 8) {
                    uint64_t inside, keep;
                    std::memcpy(&inside, m + c, 8);
                    std::memcpy(&keep, k + c, 8);
                    if ((inside & ~keep) != 0) {
                        for (int j = c; j < c + 8; ++j) {
                            o[j] = m[j] && !k[j] ? kNoData : o[j];
                        }
                    }
                }
            }
            for (; c < values.cols; ++c) {
                o[c] = m[c] ? (k[c] ? v[c] : kNoData) : o[c];
            }
        }
    });
}

DemCellRule OffsetRule(double offset) {
    // Rows run in parallel, every cell on its own: the result is the sequential one.
    return [offset](const cv::Mat& values, const cv::Mat& mask, cv::Mat& out) {
        cv::parallel_for_(cv::Range(0, values.rows), [&](const cv::Range& rows) {
            for (int r = rows.start; r < rows.end; ++r) {
                const float* v = values.ptr<float>(r);
                const uchar* m = mask.ptr<uchar>(r);
                float* o = out.ptr<float>(r);
#pragma omp simd
                for (int c = 0; c < values.cols; ++c) {
                    const float moved = float(double(v[c]) + offset);
                    o[c] = m[c] ? (IsNoData(v[c]) ? v[c] : moved) : o[c];
                }
            }
        });
    };
}

}  // namespace

cv::Mat MakeDemHole(const cv::Mat& values, const cv::Mat& mask) {
    return RuleResult(values, mask, HoleRule);
}

int MakeDemHole(CDEM& dem, const CPgon& area, ProgressSink* progress, const DemEditRecorder& record) {
    return EditDemArea(dem, area, HoleRule, progress, record);
}

cv::Mat CloseDemGaps(const cv::Mat& values, const cv::Mat& mask) {
    return RuleResult(values, mask, GapsRule);
}

int CloseDemGaps(CDEM& dem, const CPgon& area, ProgressSink* progress, const DemEditRecorder& record) {
    return EditDemAreaCells(dem, area, GapsChanges, progress, record);
}

cv::Mat OffsetDemArea(const cv::Mat& values, const cv::Mat& mask, double offset) {
    return RuleResult(values, mask, OffsetRule(offset));
}

int OffsetDemArea(CDEM& dem, const CPgon& area, double offset, ProgressSink* progress,
                  const DemEditRecorder& record) {
    return EditDemArea(dem, area, OffsetRule(offset), progress, record);
}

cv::Mat ErodeDem(const cv::Mat& values, const cv::Mat& mask) {
    return RuleResult(values, mask, ErodeRule);
}

int ErodeDem(CDEM& dem, const CPgon& area, ProgressSink* progress, const DemEditRecorder& record) {
    return EditDemArea(dem, area, ErodeRule, progress, record);
}

int FloodFillComponent(const cv::Mat& grid, cv::Point seed, cv::Mat& fillMask, cv::Rect& bounds) {
    return FillComponent(grid, seed, fillMask, bounds, nullptr);
}

int FloodFillDem(CDEM& dem, double x, double y, float reference, ProgressSink* progress,
                 const FloodFillRecorder& record) {
    const cv::Point seed = DemCellAt(dem, x, y);
    if (IsNoData(reference) || seed.x < 0 || seed.y < 0 || seed.x >= dem.Width() || seed.y >= dem.Height() ||
        !PrepareDemGrid(dem, progress)) {
        return 0;
    }
    cv::Mat fillMask;
    cv::Rect bounds;
    std::vector<FillSpan> spans;
    const int count = FillComponent(dem.m_grid, seed, fillMask, bounds, &spans);
    if (count == 0) {
        return 0;
    }
    dem.m_busy = 1;
    if (record) {
        if (progress) {
            progress->SetCaption(QStringLiteral("Generate UNDO..."));
        }
        if (!record(dem, fillMask, bounds, reference)) {
            dem.m_busy = 0;
            return 0;
        }
    }
    for (const FillSpan& span : spans) {
        float* row = dem.m_grid.ptr<float>(span.row);
        std::fill(row + span.left, row + span.right + 1, reference);
    }
    FinishDemEdit(dem);
    return count;
}
