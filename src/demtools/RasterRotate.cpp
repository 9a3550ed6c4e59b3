// The rotation of a raster about a base point into a new north-up raster: a perspective warp from
// the source's cells to the output's, done block by block so that neither raster is ever held
// whole and every source window stays small.
#include <opencv2/core/utility.hpp>
#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <cmath>
#include <future>
#include <limits>
#include <vector>

#include "demtools/RasterCutRotate.h"
#include "demtools/RasterJobOutput.h"
#include "platform/tools/ProgressSink.h"
#include "platform/tools/Threads.h"
#include "platform/tools/ZQT.h"
#include "raster/DEM.h"

namespace {

// The warp places samples at 1/32 of a cell.
constexpr int kSubCells = 32;

cv::Point2d Map(const cv::Matx33d& m, double x, double y) {
    const double w = m(2, 0) * x + m(2, 1) * y + m(2, 2);
    return {(m(0, 0) * x + m(0, 1) * y + m(0, 2)) / w, (m(1, 0) * x + m(1, 1) * y + m(1, 2)) / w};
}

// The source cells the output block draws on (the bilinear neighbours with a margin), clipped to
// the source; empty when the block lies wholly outside it.
cv::Rect SourceWindow(const cv::Matx33d& inverse, const cv::Rect& block, cv::Size source) {
    double minX = std::numeric_limits<double>::infinity();
    double minY = minX;
    double maxX = -minX;
    double maxY = -minX;
    for (int corner = 0; corner < 4; ++corner) {
        const cv::Point2d p = Map(inverse, block.x + (corner & 1 ? block.width - 1 : 0),
                                  block.y + (corner & 2 ? block.height - 1 : 0));
        if (!std::isfinite(p.x) || !std::isfinite(p.y)) {
            return cv::Rect(cv::Point(0, 0), source);
        }
        minX = std::min(minX, p.x);
        maxX = std::max(maxX, p.x);
        minY = std::min(minY, p.y);
        maxY = std::max(maxY, p.y);
    }
    const auto clamp = [](double v, int limit) { return int(std::clamp(v, -1.0, double(limit))); };
    const int x0 = clamp(std::floor(minX) - 1, source.width);
    const int y0 = clamp(std::floor(minY) - 1, source.height);
    const int x1 = clamp(std::floor(maxX) + 3, source.width);
    const int y1 = clamp(std::floor(maxY) + 3, source.height);
    return cv::Rect(x0, y0, x1 - x0, y1 - y0) & cv::Rect(cv::Point(0, 0), source);
}

// Turns the cells that hold the no-data value, or no finite number, into NaN.
void MarkNoData(cv::Mat& window, float noData) {
    cv::parallel_for_(cv::Range(0, window.rows), [&](const cv::Range& rows) {
        for (int y = rows.start; y < rows.end; ++y) {
            float* row = window.ptr<float>(y);
            for (int x = 0; x < window.cols; ++x) {
                if (IsNoDataValue(row[x], noData)) {
                    row[x] = std::numeric_limits<float>::quiet_NaN();
                }
            }
        }
    });
}

// One row of a block (see RescueZeroWeights).
void RescueRow(const cv::Mat& source, const cv::Matx33d& inverse, int y, float* row, int width) {
    for (int x = 0; x < width; ++x) {
        if (!std::isnan(row[x])) {
            continue;
        }
        double w = inverse(2, 0) * x + inverse(2, 1) * y + inverse(2, 2);
        if (w == 0.0) {
            continue;
        }
        w = kSubCells / w;
        const double fx = (inverse(0, 0) * x + inverse(0, 1) * y + inverse(0, 2)) * w;
        const double fy = (inverse(1, 0) * x + inverse(1, 1) * y + inverse(1, 2)) * w;
        if (!(fx >= 0.0 && fy >= 0.0 && fx < double(source.cols) * kSubCells &&
              fy < double(source.rows) * kSubCells)) {
            continue;
        }
        const int ix = cvRound(fx);
        const int iy = cvRound(fy);
        const int cx = ix / kSubCells;
        const int cy = iy / kSubCells;
        const float ax = float(ix % kSubCells) / kSubCells;
        const float ay = float(iy % kSubCells) / kSubCells;
        const float weights[4] = {(1.f - ay) * (1.f - ax), (1.f - ay) * ax, ay * (1.f - ax), ay * ax};
        float sum = 0.f;
        bool valid = true;
        for (int k = 0; k < 4 && valid; ++k) {
            if (weights[k] == 0.f) {
                continue;
            }
            const int sx = cx + (k & 1);
            const int sy = cy + (k >> 1);
            valid = sx < source.cols && sy < source.rows && !std::isnan(source.at<float>(sy, sx));
            if (valid) {
                sum += source.at<float>(sy, sx) * weights[k];
            }
        }
        if (valid) {
            row[x] = sum;
        }
    }
}

// The warp makes a cell no data whenever one of its four neighbours is outside the source or no
// data, even one whose weight is zero (a sample that falls exactly on a cell). Such cells get the
// bilinear value of their weighted neighbours, sampled where the warp samples them.
void RescueZeroWeights(const cv::Mat& source, const cv::Matx33d& inverse, cv::Mat& block) {
    // Rows are independent: each cell reads the source and writes only itself.
    cv::parallel_for_(cv::Range(0, block.rows), [&](const cv::Range& rows) {
        for (int y = rows.start; y < rows.end; ++y) {
            RescueRow(source, inverse, y, block.ptr<float>(y), block.cols);
        }
    });
}

// One block of the output: where it lies, the source cells it draws on and their transform, and
// for each band the source window read and the block warped from it.
struct BlockWork {
    cv::Rect place;
    cv::Rect part;
    cv::Matx33d local;
    std::vector<cv::Mat> windows;
    std::vector<cv::Mat> blocks;
};

// The threads of OpenCV's parallel loops while it lives; their count before, after.
class WarpThreads {
public:
    explicit WarpThreads(int threads) : m_previous(cv::getNumThreads()) {
        if (threads != m_previous) {
            cv::setNumThreads(threads);
        }
    }
    ~WarpThreads() {
        if (cv::getNumThreads() != m_previous) {
            cv::setNumThreads(m_previous);
        }
    }
    WarpThreads(const WarpThreads&) = delete;
    WarpThreads& operator=(const WarpThreads&) = delete;

private:
    int m_previous;
};

}  // namespace

Wml::Point2 RotatePoint2D(const Wml::Point2& point, double angle, const Wml::Point2& base) {
    const double c = std::cos(angle);
    const double s = std::sin(angle);
    const double dx = point.X() - base.X();
    const double dy = point.Y() - base.Y();
    return Wml::Point2(dx * c - dy * s + base.X(), dx * s + dy * c + base.Y());
}

bool RotationGridOf(int width, int height, const double* gt, double angle, const Wml::Point2& base,
                    RotationGrid* grid) {
    if (width < 1 || height < 1 || !(gt[1] != 0.0) || !(gt[5] != 0.0) || !std::isfinite(angle)) {
        return false;
    }
    const cv::Point2f corners[4] = {
        {0.f, 0.f}, {float(width), 0.f}, {float(width), float(height)}, {0.f, float(height)}};
    Wml::Point2 turned[4];
    double minX = std::numeric_limits<double>::infinity();
    double minY = minX;
    double maxX = -minX;
    double maxY = -minX;
    for (int k = 0; k < 4; ++k) {
        turned[k] = RotatePoint2D(Wml::Point2(gt[0] + corners[k].x * gt[1], gt[3] + corners[k].y * gt[5]),
                                  angle, base);
        minX = std::min(minX, turned[k].X());
        maxX = std::max(maxX, turned[k].X());
        minY = std::min(minY, turned[k].Y());
        maxY = std::max(maxY, turned[k].Y());
    }
    const double w = std::trunc((maxX - minX) / std::fabs(gt[1]) + 0.5);
    const double h = std::trunc((maxY - minY) / std::fabs(gt[5]) + 0.5);
    if (!(w >= 1.0 && h >= 1.0 && w < 2147483647.0 && h < 2147483647.0)) {
        return false;
    }
    cv::Point2f target[4];
    for (int k = 0; k < 4; ++k) {
        target[k] = cv::Point2f(float((turned[k].X() - minX) / gt[1]), float((turned[k].Y() - maxY) / gt[5]));
    }
    grid->width = int(w);
    grid->height = int(h);
    const double geoTransform[6] = {minX, gt[1], 0.0, maxY, 0.0, gt[5]};
    std::copy(geoTransform, geoTransform + 6, grid->geoTransform);
    // The corners map in cell units, where a cell spans [c, c + 1); the warp samples a cell's value
    // at its integer position, so the transform runs between cell centres. (From the corners as
    // they are, the output would lie up to a cell away from the source and lose an edge row or
    // column at a quarter turn.)
    grid->transform = cv::Matx33d(1, 0, -0.5, 0, 1, -0.5, 0, 0, 1) *
                      cv::Matx33d(cv::getPerspectiveTransform(corners, target)) *
                      cv::Matx33d(1, 0, 0.5, 0, 1, 0.5, 0, 0, 1);
    return true;
}

RasterJob RotateRasterToFile(const RasterSource& source, double angle, const Wml::Point2& base,
                             const QString& path, ProgressSink* progress) {
    double gt[6];
    if (!source.dataset || GDALGetGeoTransform(source.dataset, gt) != CE_None) {
        return RasterJob::NothingToDo;
    }
    const cv::Size sourceSize(GDALGetRasterXSize(source.dataset), GDALGetRasterYSize(source.dataset));
    RotationGrid grid;
    if (!RotationGridOf(sourceSize.width, sourceSize.height, gt, angle, base, &grid)) {
        return RasterJob::NothingToDo;
    }
    cv::Matx33d inverse;
    if (cv::invert(grid.transform, inverse, cv::DECOMP_LU) == 0.0) {
        return RasterJob::NothingToDo;
    }
    RasterJobOutput output(source, path, grid.width, grid.height);
    if (!output.Opened()) {
        return RasterJob::CannotCreate;
    }
    // Byte rasters are warped as bytes (0 outside), all others as 32-bit floats with NaN outside;
    // the cells of a single band that hold its no-data value are NaN while they are warped.
    const bool bytes =
        !source.heights && GDALGetRasterDataType(GDALGetRasterBand(source.dataset, 1)) == GDT_Byte;
    const GDALDataType working = bytes ? GDT_Byte : GDT_Float32;
    const int depth = bytes ? CV_8U : CV_32F;
    const bool marksNoData = !bytes && output.Bands() == 1;
    const double outside = bytes ? 0.0 : std::numeric_limits<double>::quiet_NaN();

    const int across = (grid.width + kRasterJobBlock - 1) / kRasterJobBlock;
    const int down = (grid.height + kRasterJobBlock - 1) / kRasterJobBlock;
    const int count = across * down;
    if (progress) {
        progress->SetRange(0, count);
    }
    const auto setUp = [&](int k, BlockWork* work) {
        const int bx = (k % across) * kRasterJobBlock;
        const int by = (k / across) * kRasterJobBlock;
        work->place = cv::Rect(bx, by, std::min(kRasterJobBlock, grid.width - bx),
                               std::min(kRasterJobBlock, grid.height - by));
        work->part = SourceWindow(inverse, work->place, sourceSize);
        // The transform from this block's cells to the window's.
        work->local = cv::Matx33d(1, 0, -work->part.x, 0, 1, -work->part.y, 0, 0, 1) * inverse *
                      cv::Matx33d(1, 0, work->place.x, 0, 1, work->place.y, 0, 0, 1);
        work->windows.resize(size_t(output.Bands()));
        work->blocks.resize(size_t(output.Bands()));
    };
    const auto read = [&](BlockWork* work) {
        for (int b = 1; b <= output.Bands() && !work->part.empty(); ++b) {
            cv::Mat& window = work->windows[size_t(b - 1)];
            window.create(work->part.size(), depth);
            if (GDALRasterIOEx(GDALGetRasterBand(source.dataset, b), GF_Read, work->part.x, work->part.y,
                               work->part.width, work->part.height, window.data, work->part.width,
                               work->part.height, working, static_cast<GSpacing>(window.elemSize()),
                               static_cast<GSpacing>(window.step[0]), nullptr) != CE_None) {
                return false;
            }
        }
        return true;
    };
    const auto warp = [&](BlockWork* work) {
        for (int b = 1; b <= output.Bands(); ++b) {
            cv::Mat& window = work->windows[size_t(b - 1)];
            cv::Mat& block = work->blocks[size_t(b - 1)];
            block.create(work->place.size(), depth);
            block.setTo(cv::Scalar::all(outside));
            if (!work->part.empty()) {
                if (marksNoData) {
                    MarkNoData(window, float(output.Fill(b)));
                }
                cv::warpPerspective(window, block, work->local, work->place.size(),
                                    cv::INTER_LINEAR | cv::WARP_INVERSE_MAP, cv::BORDER_CONSTANT,
                                    cv::Scalar::all(outside));
                if (!bytes) {
                    RescueZeroWeights(window, work->local, block);
                }
            }
            if (marksNoData) {
                cv::patchNaNs(block, output.Fill(b));
            }
        }
    };
    const auto write = [&](const BlockWork& work) {
        for (int b = 1; b <= output.Bands(); ++b) {
            if (!output.Write(b, work.place.x, work.place.y, work.blocks[size_t(b - 1)], working)) {
                return false;
            }
        }
        // Stored now, on the thread that writes, rather than all at once when the overviews start.
        for (int b = 1; b <= output.Bands(); ++b) {
            if (GDALFlushRasterCache(output.Band(b)) != CE_None) {
                return false;
            }
        }
        return true;
    };

    // While a block is warped, one thread writes the block before it and reads the block after it:
    // GDAL's datasets are only ever used by one thread at a time, and the warp gets the other threads.
    const bool overlap = kv::ProgramThreads() > 1;
    const WarpThreads warpThreads(overlap ? kv::ProgramThreads() - 1 : cv::getNumThreads());
    BlockWork work[3];
    setUp(0, &work[0]);
    if (!read(&work[0])) {
        return RasterJob::Failed;
    }
    for (int k = 0; k < count; ++k) {
        if (progress) {
            progress->SetPos(k);
        }
        ZQT_PumpMessages();
        if (progress && progress->IsAborted()) {
            return RasterJob::Aborted;
        }
        BlockWork* done = k > 0 ? &work[(k - 1) % 3] : nullptr;
        BlockWork* next = k + 1 < count ? &work[(k + 1) % 3] : nullptr;
        if (next) {
            setUp(k + 1, next);
        }
        std::future<bool> io =
            std::async(overlap ? std::launch::async : std::launch::deferred,
                       [&, done, next] { return (!done || write(*done)) && (!next || read(next)); });
        warp(&work[k % 3]);
        if (!io.get()) {
            return RasterJob::Failed;
        }
    }
    if (!write(work[(count - 1) % 3])) {
        return RasterJob::Failed;
    }
    ZQT_PumpMessages();
    return output.Finish(grid.geoTransform, progress) ? RasterJob::Done : RasterJob::Failed;
}
