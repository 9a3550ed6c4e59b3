#include "analysis/DemDifference.h"

#include <QFile>

#include <gdal.h>
#include <opencv2/core.hpp>

#include <algorithm>
#include <climits>
#include <cmath>
#include <limits>

#include "platform/raster/RasterSpace.h"
#include "platform/tools/ProgressSink.h"
#include "platform/tools/ZQT.h"
#include "raster/DEM.h"
#include "raster/GDALListener.h"
#include "raster/RasterIO.h"

namespace {

bool SameSize(double a, double b) {
    return std::abs(a - b) <= 1e-6 * std::max(std::abs(a), std::abs(b));
}

// A's projection: from its open dataset, else from its file opened for reading.
QString ProjectionOf(const CDEM& dem) {
    if (dem.m_pDataset) {
        const char* wkt = GDALGetProjectionRef(dem.m_pDataset);
        return wkt ? QString::fromUtf8(wkt) : QString();
    }
    GDALDatasetH ds = GDALOpen(QFile::encodeName(dem.m_path).constData(), GA_ReadOnly);
    if (!ds) {
        return dem.m_projection;
    }
    const char* wkt = GDALGetProjectionRef(ds);
    QString projection = wkt ? QString::fromUtf8(wkt) : QString();
    GDALClose(ds);
    return projection;
}

// Reads the window of the DEM into the tile image (-9999 where the window runs past the raster).
// answers false for a window that misses the raster, and sets failed when a read fails.
bool ReadWindow(CDEM& dem, const cv::Rect& window, cv::Mat& tile, bool* failed) {
    if ((window & cv::Rect(0, 0, dem.Width(), dem.Height())).empty()) {
        return false;
    }
    if (!dem.GetRegion(&window, tile)) {
        *failed = true;
        return false;
    }
    return true;
}

}  // namespace

DemPairCheck CheckDemPair(const CDEM& a, const CDEM& b, DemPairGrid* grid) {
    const double* ga = a.m_geoTransform;
    const double* gb = b.m_geoTransform;
    const double w = ga[1];
    // The result is written north-up with square cells of A's width: both DEMs must be laid out so.
    if (a.Width() <= 0 || a.Height() <= 0 || b.Width() <= 0 || b.Height() <= 0 || !(w > 0.0) ||
        !SameSize(w, gb[1]) || !SameSize(w, -ga[5]) || !SameSize(w, -gb[5])) {
        return DemPairCheck::DifferentResolution;
    }
    const double left = std::max(ga[0], gb[0]);
    const double right = std::min(ga[0] + a.Width() * w, gb[0] + b.Width() * gb[1]);
    const double top = std::min(ga[3], gb[3]);
    const double bottom = std::max(ga[3] + a.Height() * ga[5], gb[3] + b.Height() * gb[5]);
    const double columns = std::rint((right - left) / w);
    const double rows = std::rint((top - bottom) / w);
    if (!(columns >= 1.0 && rows >= 1.0 && columns <= INT_MAX && rows <= INT_MAX)) {
        return DemPairCheck::NoOverlap;
    }
    if (grid) {
        *grid = {left, top, w, static_cast<int>(columns), static_cast<int>(rows)};
    }
    return DemPairCheck::Ok;
}

int DifferenceTileCount(int n) {
    return n < kDifferenceTile ? 1 : (n - kDifferenceTile) / kDifferenceTileStep + 2;
}

DemDifference ComputeDemDifference(CDEM& a, CDEM& b, double tolerance, const QString& path,
                                   ProgressSink* progress) {
    DemDifference result;
    result.minimum = std::numeric_limits<float>::max();
    result.maximum = std::numeric_limits<float>::lowest();
    switch (CheckDemPair(a, b, &result.grid)) {
        case DemPairCheck::DifferentResolution:
            result.status = DemDifference::DifferentResolution;
            return result;
        case DemPairCheck::NoOverlap:
            result.status = DemDifference::NoOverlap;
            return result;
        case DemPairCheck::Ok:
            break;
    }
    const DemPairGrid& grid = result.grid;
    const double w = grid.cell;

    GDALDriverH gtiff = GDALGetDriverByName("GTiff");
    const char* options[] = {"TILED=YES", "BLOCKXSIZE=128", "BLOCKYSIZE=128", "BIGTIFF=IF_NEEDED", nullptr};
    GDALDatasetH ds = gtiff && kv::RasterFitsOnDisk(path, grid.columns, grid.rows, 1, GDT_Float32)
                          ? GDALCreate(gtiff, QFile::encodeName(path).constData(), grid.columns, grid.rows, 1,
                                       GDT_Float32, const_cast<char**>(options))
                          : nullptr;
    if (!ds) {
        kv::RemoveRasterFile(path);
        result.status = DemDifference::CannotCreate;
        return result;
    }
    double gt[6] = {grid.left, w, 0.0, grid.top, 0.0, -w};
    GDALSetGeoTransform(ds, gt);
    const QString projection = ProjectionOf(a);
    if (!projection.isEmpty()) {
        GDALSetProjection(ds, projection.toUtf8().constData());
    }
    GDALRasterBandH band = GDALGetRasterBand(ds, 1);
    GDALSetRasterNoDataValue(band, kNoData);

    const int across = DifferenceTileCount(grid.columns);
    const int down = DifferenceTileCount(grid.rows);
    if (progress) {
        progress->SetRange(0, across * down);
        progress->SetStartTime();
    }
    const float t = static_cast<float>(tolerance);
    cv::Mat tileA, tileB, out;
    bool ok = true;
    for (int j = 0; j < down && ok; ++j) {
        for (int i = 0; i < across && ok; ++i) {
            if (progress) {
                progress->SetPos(j * across + i + 1);
            }
            ZQT_PumpMessages();
            const int x0 = i * kDifferenceTileStep;
            const int y0 = j * kDifferenceTileStep;
            const cv::Size size(std::min(kDifferenceTile, grid.columns - x0),
                                std::min(kDifferenceTile, grid.rows - y0));
            tileA.create(size, CV_32FC1);
            tileB.create(size, CV_32FC1);
            out.create(size, CV_32FC1);
            out.setTo(kNoData);
            // The tile's windows in A and B: the same cells, found by their world position.
            const double tileLeft = grid.left + x0 * w;
            const double tileTop = grid.top - y0 * w;
            const auto windowOf = [&](const CDEM& dem) {
                const double* g = dem.m_geoTransform;
                return cv::Rect(static_cast<int>(std::rint((tileLeft - g[0]) / g[1])),
                                static_cast<int>(std::rint((tileTop - g[3]) / g[5])), size.width,
                                size.height);
            };
            bool failed = false;
            const bool readA = ReadWindow(a, windowOf(a), tileA, &failed);
            const bool readB = !failed && ReadWindow(b, windowOf(b), tileB, &failed);
            if (failed) {
                result.status = DemDifference::ReadFailed;
                ok = false;
                break;
            }
            if (readA && readB) {
                for (int r = 0; r < size.height; ++r) {
                    if (r % 64 == 63) {
                        ZQT_PumpMessages();
                    }
                    const float* pa = tileA.ptr<float>(r);
                    const float* pb = tileB.ptr<float>(r);
                    float* po = out.ptr<float>(r);
                    for (int c = 0; c < size.width; ++c) {
                        if (pa[c] == kNoData || pb[c] == kNoData) {
                            continue;
                        }
                        float d = pa[c] - pb[c];
                        if (t > std::abs(d)) {
                            d = 0.0f;
                        }
                        po[c] = d;
                        result.minimum = std::min(result.minimum, d);
                        result.maximum = std::max(result.maximum, d);
                    }
                }
            }
            // Each of two neighbouring tiles writes its half of the 8 cells they share.
            const int c0 = i > 0 ? 4 : 0;
            const int c1 = i < across - 1 ? kDifferenceTile - 4 : size.width;
            const int r0 = j > 0 ? 4 : 0;
            const int r1 = j < down - 1 ? kDifferenceTile - 4 : size.height;
            const cv::Mat part = out(cv::Rect(c0, r0, c1 - c0, r1 - r0));
            if (GDALRasterIO(band, GF_Write, x0 + c0, y0 + r0, part.cols, part.rows,
                             const_cast<uchar*>(part.data), part.cols, part.rows, GDT_Float32, 0,
                             static_cast<int>(part.step)) != CE_None) {
                result.status = DemDifference::WriteFailed;
                ok = false;
            }
        }
    }
    if (progress) {
        progress->SetPos(0);
    }
    if (ok) {
        if (progress) {
            progress->SetRange(0, 100);
            progress->SetBarText(QStringLiteral("Building overviews..."));
        }
        CGDALListener listener(progress);
        if (!kv::BuildOverviews(ds, &listener)) {
            result.status = DemDifference::WriteFailed;
            ok = false;
        }
        if (progress) {
            progress->SetBarText(QString());
            progress->SetPos(0);
        }
    }
    if (!kv::CloseDataset(ds) && ok) {
        result.status = DemDifference::WriteFailed;
        ok = false;
    }
    if (!ok) {
        kv::RemoveRasterFile(path);
    }
    return result;
}
