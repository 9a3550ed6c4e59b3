#include "demtools/DemEditArea.h"

#include <QString>

#include <algorithm>
#include <climits>
#include <cmath>
#include <opencv2/imgproc.hpp>

#include <unistd.h>

#include "platform/tools/ProgressSink.h"
#include "raster/DEM.h"

int TruncToCell(double v) {
    constexpr double kLimit = double(INT_MAX / 4);
    if (std::isnan(v)) {
        return 0;
    }
    return int(std::trunc(std::clamp(v, -kLimit, kLimit)));
}

namespace {

std::vector<cv::Point> RoundContour(const std::vector<Wml::Point2>& contour) {
    std::vector<cv::Point> cells;
    cells.reserve(contour.size());
    for (const Wml::Point2& p : contour) {
        // nearbyint rounds halves to even in the default rounding mode.
        cells.emplace_back(int(std::nearbyint(p.X())), int(std::nearbyint(p.Y())));
    }
    return cells;
}

}  // namespace

std::vector<DemAreaPiece> ClipDemArea(const CDEM& dem, const CPgon& worldArea) {
    std::vector<DemAreaPiece> pieces;
    const int w = dem.Width(), h = dem.Height();
    const double* gt = dem.m_geoTransform;
    if (w <= 0 || h <= 0 || gt[1] == 0.0 || gt[5] == 0.0) {
        return pieces;
    }
    CPgon pixel;
    for (int c = 0; c < worldArea.GetNumContours(); ++c) {
        std::vector<Wml::Point2> cells;
        for (const Wml::Point2& p : worldArea.GetContour(c)) {
            cells.emplace_back(TruncToCell((p.X() - gt[0]) / gt[1]), TruncToCell((p.Y() - gt[3]) / gt[5]));
        }
        pixel.AddContour(cells.data(), int(cells.size()), worldArea.IsHole(c) != 0);
    }
    const cv::Point corners[4] = {{0, 0}, {w - 1, 0}, {w - 1, h - 1}, {0, h - 1}};
    const CPgon clipped = pixel & CPgon(corners, 4);
    for (int c = 0; c < clipped.GetNumContours(); ++c) {
        const std::vector<Wml::Point2>& contour = clipped.GetContour(c);
        if (clipped.IsHole(c)) {
            // The clipped set lists each outer contour before its holes.
            if (!pieces.empty()) {
                pieces.back().holes.push_back(RoundContour(contour));
                pieces.back().exact.AddContour(contour.data(), int(contour.size()), true);
            }
            continue;
        }
        DemAreaPiece piece;
        piece.outline = RoundContour(contour);
        piece.exact.AddContour(contour.data(), int(contour.size()));
        piece.bounds = cv::boundingRect(piece.outline);
        pieces.push_back(std::move(piece));
    }
    return pieces;
}

cv::Point DemCellAt(const CDEM& dem, double x, double y) {
    const double* gt = dem.m_geoTransform;
    const double c = std::floor((x - gt[0]) / gt[1]);
    const double r = std::floor((y - gt[3]) / gt[5]);
    if (!std::isfinite(c) || !std::isfinite(r)) {
        return cv::Point(-1, -1);
    }
    // Far-off positions stay off the grid without overflowing.
    constexpr double kLimit = double(INT_MAX / 4);
    return cv::Point(int(std::clamp(c, -1.0, kLimit)), int(std::clamp(r, -1.0, kLimit)));
}

cv::Mat AreaMask(const DemAreaPiece& piece, const cv::Rect& window) {
    cv::Mat mask(window.size(), CV_8UC1, cv::Scalar(0));
    const cv::Point offset(-window.x, -window.y);
    auto draw = [&](const std::vector<cv::Point>& contour, double value) {
        const cv::Point* points = contour.data();
        const int count = int(contour.size());
        cv::fillPoly(mask, &points, &count, 1, cv::Scalar(value), cv::LINE_8, 0, offset);
    };
    auto outline = [&](const std::vector<cv::Point>& contour) {
        std::vector<cv::Point> shifted;
        for (const cv::Point& p : contour) {
            shifted.push_back(p + offset);
        }
        cv::polylines(mask, shifted, true, cv::Scalar(255), 1, cv::LINE_8);
    };
    draw(piece.outline, 255);
    outline(piece.outline);
    for (const auto& hole : piece.holes) {
        draw(hole, 0);
        outline(hole);
    }
    return mask;
}

namespace {

// Rows of a window handled by one task of the parallel loops below.
constexpr int kRowsPerTask = 64;

// Calls f(first row, end row) for the rows of an image of that height, in parallel: the scratch
// images of a large window are made and written at the speed of the memory, not of one core.
template <typename F>
void ForRowBands(int rows, const F& f) {
    const int tasks = (rows + kRowsPerTask - 1) / kRowsPerTask;
    cv::parallel_for_(cv::Range(0, tasks), [&](const cv::Range& range) {
        f(range.start * kRowsPerTask, std::min(rows, range.end * kRowsPerTask));
    });
}

}  // namespace

cv::Mat MaskedCopy(const cv::Mat& values, const cv::Mat& mask) {
    if (values.type() != CV_32FC1 || mask.type() != CV_8UC1 || values.size() != mask.size()) {
        cv::Mat copy(values.size(), CV_32FC1, cv::Scalar(kNotEdited));
        values.copyTo(copy, mask);
        return copy;
    }
    cv::Mat copy = cv::Mat(values.size(), CV_32FC1);
    ForRowBands(values.rows, [&](int first, int end) {
        for (int r = first; r < end; ++r) {
            const float* v = values.ptr<float>(r);
            const uchar* m = mask.ptr<uchar>(r);
            float* o = copy.ptr<float>(r);
            for (int c = 0; c < values.cols; ++c) {
                o[c] = m[c] ? v[c] : kNotEdited;
            }
        }
    });
    return copy;
}

cv::Mat RuleResult(const cv::Mat& values, const cv::Mat& mask, const DemCellRule& rule) {
    if (values.type() != CV_32FC1 || mask.type() != CV_8UC1 || values.size() != mask.size()) {
        return cv::Mat();
    }
    cv::Mat after = cv::Mat(values.size(), CV_32FC1);
    ForRowBands(values.rows, [&](int first, int end) { after.rowRange(first, end).setTo(kNotEdited); });
    rule(values, mask, after);
    return after;
}

bool FitsInMemory(double cells) {
    const double memory = double(sysconf(_SC_PHYS_PAGES)) * double(sysconf(_SC_PAGE_SIZE));
    return cells >= 0.0 && cells * sizeof(float) <= memory / 2;
}

int PrepareDemGrid(CDEM& dem, ProgressSink* progress) {
    if (!dem.m_grid.empty()) {
        return dem.m_grid.type() == CV_32FC1;
    }
    if (progress) {
        progress->SetCaption(QStringLiteral("Preparing DEM to edit..."));
    }
    return dem.LoadData(progress) && dem.m_grid.type() == CV_32FC1;
}

void FinishDemEdit(CDEM& dem) {
    dem.ReleaseDisplayCache();
    dem.m_modified = 1;
    dem.m_busy = 0;
}

namespace {

// Hands a window to the recorder: its cells block by block as cells(block, before, after) makes
// them. True when there is no recorder or it takes the window.
bool RecordWindow(CDEM& dem, const DemAreaPiece& piece, const cv::Rect& window,
                  std::function<void(const cv::Rect&, cv::Mat&, cv::Mat&)> cells, bool fewCells,
                  ProgressSink* progress, const DemEditRecorder& record) {
    if (!record) {
        return true;
    }
    if (progress) {
        progress->SetCaption(QStringLiteral("Generate UNDO..."));
    }
    DemEditWindow edit;
    edit.window = window;
    for (const cv::Point& p : piece.outline) {
        edit.contour.push_back(p - window.tl());
    }
    edit.cells = std::move(cells);
    edit.fewCells = fewCells;
    return record(dem, edit) != 0;
}

// The window of each piece of the area on the DEM with its mask, the DEM busy while
// edit(piece, window, mask) rewrites it. Returns the number of windows written.
template <class Edit>
int ForEachAreaWindow(CDEM& dem, const CPgon& worldArea, ProgressSink* progress, const Edit& edit) {
    const std::vector<DemAreaPiece> pieces = ClipDemArea(dem, worldArea);
    if (pieces.empty() || !PrepareDemGrid(dem, progress)) {
        return 0;
    }
    int written = 0;
    for (const DemAreaPiece& piece : pieces) {
        const cv::Rect window = piece.bounds & cv::Rect(0, 0, dem.m_grid.cols, dem.m_grid.rows);
        if (window.empty()) {
            continue;
        }
        dem.m_busy = 1;
        written += edit(piece, window, AreaMask(piece, window));
        dem.m_busy = 0;
    }
    return written;
}

}  // namespace

int CommitDemWindow(CDEM& dem, const DemAreaPiece& piece, const cv::Rect& window, const cv::Mat& before,
                    const cv::Mat& after, const cv::Mat& mask, ProgressSink* progress,
                    const DemEditRecorder& record) {
    if (after.size() != window.size() || after.type() != CV_32FC1) {
        return 0;
    }
    auto cells = [&before, &after](const cv::Rect& block, cv::Mat& b, cv::Mat& a) {
        b = before(block);
        a = after(block);
    };
    if (!RecordWindow(dem, piece, window, cells, false, progress, record)) {
        return 0;
    }
    cv::Mat target = dem.m_grid(window);
    if (mask.empty()) {
        after.copyTo(target);
    } else {
        ForRowBands(window.height, [&](int first, int end) {
            after.rowRange(first, end).copyTo(target.rowRange(first, end), mask.rowRange(first, end));
        });
    }
    FinishDemEdit(dem);
    return 1;
}

int EditDemArea(CDEM& dem, const CPgon& worldArea, const DemCellRule& rule, ProgressSink* progress,
                const DemEditRecorder& record) {
    return ForEachAreaWindow(dem, worldArea, progress,
                             [&](const DemAreaPiece& piece, const cv::Rect& window, const cv::Mat& mask) {
                                 cv::Mat values = dem.m_grid(window);
                                 if (record) {
                                     const cv::Mat before = MaskedCopy(values, mask);
                                     const cv::Mat after = RuleResult(values, mask, rule);
                                     return CommitDemWindow(dem, piece, window, before, after, mask, progress,
                                                            record);
                                 }
                                 rule(values, mask, values);
                                 FinishDemEdit(dem);
                                 return 1;
                             });
}

int EditDemAreaCells(CDEM& dem, const CPgon& worldArea, const DemChangeRule& rule, ProgressSink* progress,
                     const DemEditRecorder& record) {
    return ForEachAreaWindow(
        dem, worldArea, progress,
        [&](const DemAreaPiece& piece, const cv::Rect& window, const cv::Mat& mask) {
            cv::Mat values = dem.m_grid(window);
            DemCellChanges changes;
            rule(values, mask, &changes);
            if (changes.rowStart.size() != size_t(window.height) + 1) {
                changes.rowStart.assign(size_t(window.height) + 1, 0);
            }
            // Calls f(column, height) for the changes of window row r that lie in [left, right).
            auto changesOf = [&changes](int r, int left, int right, auto&& f) {
                for (size_t k = changes.rowStart[size_t(r)]; k < changes.rowStart[size_t(r) + 1]; ++k) {
                    if (changes.columns[k] >= left && changes.columns[k] < right) {
                        f(changes.columns[k], changes.heights[k]);
                    }
                }
            };
            // The images of a block hold the changed cells alone, before and after, and
            // kNotEdited elsewhere: the other cells under the mask keep their values, so writing
            // the changed ones back restores the window. Two images of the largest block asked
            // for are filled once; the cells a block set are cleared again when the next is made,
            // and the block handed over is a view of them, valid until then.
            cv::Mat beforeCells, afterCells;
            std::vector<size_t> set;  // the cells set, as offsets into the images' rows
            auto cells = [&](const cv::Rect& block, cv::Mat& before, cv::Mat& after) {
                if (beforeCells.cols < block.width || beforeCells.rows < block.height) {
                    const cv::Size size(std::max(beforeCells.cols, block.width),
                                        std::max(beforeCells.rows, block.height));
                    beforeCells.create(size, CV_32FC1);
                    beforeCells.setTo(kNotEdited);
                    afterCells.create(size, CV_32FC1);
                    afterCells.setTo(kNotEdited);
                    set.clear();
                }
                float* b = beforeCells.ptr<float>();
                float* a = afterCells.ptr<float>();
                for (const size_t k : set) {
                    b[k] = kNotEdited;
                    a[k] = kNotEdited;
                }
                set.clear();
                const size_t stride = beforeCells.step1();
                for (int r = 0; r < block.height; ++r) {
                    const float* v = values.ptr<float>(block.y + r);
                    const size_t row = size_t(r) * stride;
                    changesOf(block.y + r, block.x, block.x + block.width, [&](int c, float height) {
                        const size_t k = row + size_t(c - block.x);
                        b[k] = v[c];
                        a[k] = height;
                        set.push_back(k);
                    });
                }
                before = beforeCells(cv::Rect(cv::Point(), block.size()));
                after = afterCells(cv::Rect(cv::Point(), block.size()));
            };
            if (!RecordWindow(dem, piece, window, cells, true, progress, record)) {
                return 0;
            }
            ForRowBands(window.height, [&](int first, int end) {
                for (int r = first; r < end; ++r) {
                    float* row = values.ptr<float>(r);
                    changesOf(r, 0, window.width, [&](int c, float height) { row[c] = height; });
                }
            });
            FinishDemEdit(dem);
            return 1;
        });
}
