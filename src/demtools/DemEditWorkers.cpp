#include "demtools/DemEditWorkers.h"

#include <QString>

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstring>
#include <opencv2/imgproc.hpp>
#include <vector>

#include "platform/gridding/GridGaps.h"
#include "platform/ui/ProgressSink.h"
#include "raster/DEM.h"

namespace {

// The tolerance handed to the gap filler: how far (in height units) a filled cell may stay from
// the exact surface.
constexpr double kGapTolerance = 0.1;

// after = cell(value) under the mask, kNotEdited elsewhere; rows run in parallel, each cell on
// its own, so the result is the sequential one.
template <class Cell>
cv::Mat MaskedRule(const cv::Mat& values, const cv::Mat& mask, const Cell& cell) {
    cv::Mat after(values.size(), CV_32FC1);
    cv::parallel_for_(cv::Range(0, values.rows), [&](const cv::Range& rows) {
        for (int r = rows.start; r < rows.end; ++r) {
            const float* v = values.ptr<float>(r);
            const uchar* m = mask.ptr<uchar>(r);
            float* a = after.ptr<float>(r);
            for (int c = 0; c < values.cols; ++c) {
                a[c] = m[c] ? cell(v[c], r, c) : kNotEdited;
            }
        }
    });
    return after;
}

bool FitsWindow(const cv::Mat& values, const cv::Mat& mask) {
    return values.type() == CV_32FC1 && mask.type() == CV_8UC1 && values.size() == mask.size();
}

// Span-by-span fill of the cells that `same` accepts, marking them in the fill mask.
template <class Same>
int ScanFill(const cv::Mat& grid, cv::Point seed, cv::Mat& mask, cv::Rect& bounds, const Same& same) {
    const int w = grid.cols, h = grid.rows;
    int count = 0;
    int minX = seed.x, maxX = seed.x, minY = seed.y, maxY = seed.y;
    std::vector<cv::Point> stack{seed};
    while (!stack.empty()) {
        const cv::Point p = stack.back();
        stack.pop_back();
        const float* row = grid.ptr<float>(p.y);
        uchar* done = mask.ptr<uchar>(p.y + 1) + 1;
        if (done[p.x] || !same(row[p.x])) {
            continue;
        }
        int left = p.x, right = p.x;
        while (left > 0 && !done[left - 1] && same(row[left - 1])) {
            --left;
        }
        while (right < w - 1 && !done[right + 1] && same(row[right + 1])) {
            ++right;
        }
        std::memset(done + left, 255, size_t(right - left + 1));
        count += right - left + 1;
        minX = std::min(minX, left);
        maxX = std::max(maxX, right);
        minY = std::min(minY, p.y);
        maxY = std::max(maxY, p.y);
        for (int y = p.y - 1; y <= p.y + 1; y += 2) {
            if (y < 0 || y >= h) {
                continue;
            }
            const float* next = grid.ptr<float>(y);
            const uchar* nextDone = mask.ptr<uchar>(y + 1) + 1;
            bool inRun = false;
            for (int x = left; x <= right; ++x) {
                const bool open = !nextDone[x] && same(next[x]);
                if (open && !inRun) {
                    stack.emplace_back(x, y);
                }
                inRun = open;
            }
        }
    }
    bounds = cv::Rect(minX, minY, maxX - minX + 1, maxY - minY + 1);
    return count;
}

}  // namespace

cv::Mat MakeDemHole(const cv::Mat& values, const cv::Mat& mask) {
    if (!FitsWindow(values, mask)) {
        return cv::Mat();
    }
    cv::Mat after(values.size(), CV_32FC1, cv::Scalar(kNotEdited));
    after.setTo(kNoData, mask);
    return after;
}

int MakeDemHole(CDEM& dem, const CPgon& area, ProgressSink* progress, const DemEditRecorder& record) {
    return EditDemArea(
        dem, area, [](const cv::Mat& v, const cv::Mat& m) { return MakeDemHole(v, m); }, progress, record);
}

cv::Mat CloseDemGaps(const cv::Mat& values, const cv::Mat& mask) {
    if (!FitsWindow(values, mask)) {
        return cv::Mat();
    }
    // Outside the area the filler sees no data, so it fills from the area's own cells.
    cv::Mat input(values.size(), CV_32FC1, cv::Scalar(kNoData));
    values.copyTo(input, mask);
    cv::Mat filled = CGridGaps().Process(input, mask, kNoData, kGapTolerance);
    if (filled.size() != values.size() || filled.type() != CV_32FC1) {
        return MaskedCopy(values, mask);
    }
    return MaskedCopy(filled, mask);
}

int CloseDemGaps(CDEM& dem, const CPgon& area, ProgressSink* progress, const DemEditRecorder& record) {
    return EditDemArea(
        dem, area, [](const cv::Mat& v, const cv::Mat& m) { return CloseDemGaps(v, m); }, progress, record);
}

cv::Mat OffsetDemArea(const cv::Mat& values, const cv::Mat& mask, double offset) {
    if (!FitsWindow(values, mask)) {
        return cv::Mat();
    }
    return MaskedRule(values, mask,
                      [offset](float v, int, int) { return IsNoData(v) ? v : float(double(v) + offset); });
}

int OffsetDemArea(CDEM& dem, const CPgon& area, double offset, ProgressSink* progress,
                  const DemEditRecorder& record) {
    return EditDemArea(
        dem, area, [offset](const cv::Mat& v, const cv::Mat& m) { return OffsetDemArea(v, m, offset); },
        progress, record);
}

cv::Mat ErodeDem(const cv::Mat& values, const cv::Mat& mask) {
    if (!FitsWindow(values, mask)) {
        return cv::Mat();
    }
    // Valid is strictly above -9999 (NaN compares false); one square of 2 * reach + 1 equals the
    // reach steps of a 3 x 3 square. Cells beyond the window count as valid.
    cv::Mat valid, kept;
    cv::compare(values, kNoData, valid, cv::CMP_GT);
    const int side = 2 * kErodeReach + 1;
    cv::erode(valid, kept, cv::getStructuringElement(cv::MORPH_RECT, cv::Size(side, side)), cv::Point(-1, -1),
              1, cv::BORDER_CONSTANT, cv::morphologyDefaultBorderValue());
    return MaskedRule(values, mask,
                      [&kept](float v, int r, int c) { return kept.at<uchar>(r, c) ? v : kNoData; });
}

int ErodeDem(CDEM& dem, const CPgon& area, ProgressSink* progress, const DemEditRecorder& record) {
    return EditDemArea(
        dem, area, [](const cv::Mat& v, const cv::Mat& m) { return ErodeDem(v, m); }, progress, record);
}

int FloodFillComponent(const cv::Mat& grid, cv::Point seed, cv::Mat& fillMask, cv::Rect& bounds) {
    bounds = cv::Rect();
    if (grid.type() != CV_32FC1 || seed.x < 0 || seed.y < 0 || seed.x >= grid.cols || seed.y >= grid.rows) {
        fillMask.release();
        return 0;
    }
    fillMask.create(grid.rows + 2, grid.cols + 2, CV_8UC1);
    fillMask.setTo(0);
    const float target = grid.at<float>(seed);
    if (IsNoData(target)) {
        return ScanFill(grid, seed, fillMask, bounds, [](float v) { return IsNoData(v); });
    }
    return ScanFill(grid, seed, fillMask, bounds, [target](float v) { return v == target; });
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
    const int count = FloodFillComponent(dem.m_grid, seed, fillMask, bounds);
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
    dem.m_grid(bounds).setTo(reference, fillMask(bounds + cv::Point(1, 1)));
    FinishDemEdit(dem);
    return count;
}
