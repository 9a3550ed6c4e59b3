#include "demtools/DemFromPoints.h"

#include <QFile>
#include <QFileInfo>

#include <cpl_error.h>
#include <gdal.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <limits>
#include <new>

#include "demtools/DemEditArea.h"
#include "platform/raster/RasterSpace.h"
#include "platform/tools/ProgressSink.h"
#include "raster/DEM.h"
#include "raster/RasterIO.h"

namespace {

// Points handed to a pass at a time.
constexpr size_t kBatchPoints = 1 << 16;

// Follows a share of the work on the bar (0 to 100), moving it only when its whole-number
// position changes; says whether the operator asked to stop.
class BarFollower {
public:
    explicit BarFollower(ProgressSink* progress) : m_progress(progress) {
        if (m_progress) {
            m_progress->SetRange(0, 100);
            m_progress->SetPos(0);
        }
    }
    bool Update(double fraction) {
        if (!m_progress) {
            return false;
        }
        const int pos = std::clamp(int(fraction * 100.0), 0, 100);
        if (pos != m_pos) {
            m_pos = pos;
            m_progress->SetPos(pos);
        }
        return m_progress->IsAborted();
    }

private:
    ProgressSink* m_progress;
    int m_pos = 0;
};

// The cell index along an axis: how many whole cells the distance from the raster's edge spans.
inline int64_t CellIndex(double distance, double gsd) {
    return int64_t(std::floor(distance / gsd));
}

}  // namespace

// The points of one file kept between passes, in the batches they were read in (no batch is
// ever moved, so keeping them costs their own size only).
struct PointCloudGridder::Cache {
    std::vector<std::vector<double>> batches;
    bool complete = false;
};

PointCloudGridder::PointCloudGridder(QStringList files, size_t cacheBytes)
    : m_paths(std::move(files)), m_cacheBudget(cacheBytes) {}

PointCloudGridder::~PointCloudGridder() = default;

int PointCloudGridder::Fail(const QString& error) {
    m_error = error;
    return Failed;
}

template <class Visit>
int PointCloudGridder::ForEachBatch(size_t file, ProgressSink* progress, Visit visit) {
    BarFollower bar(progress);
    const Cache& cache = m_caches[file];
    const PointFileSummary& summary = m_files[file];
    if (cache.complete) {
        uint64_t done = 0;
        for (const std::vector<double>& batch : cache.batches) {
            visit(batch.data(), batch.size() / 3);
            done += batch.size() / 3;
            if (bar.Update(double(done) / double(summary.points))) {
                return Aborted;
            }
        }
        return Done;
    }
    QString error;
    std::unique_ptr<PointFileReader> reader = PointFileReader::Open(summary.path, summary.kind, &error);
    if (!reader) {
        return Fail(QString("%1: %2").arg(summary.path, error));
    }
    std::vector<double> batch(3 * kBatchPoints);
    uint64_t seen = 0;
    while (const size_t n = reader->Read(batch.data(), kBatchPoints)) {
        seen += n;
        visit(batch.data(), n);
        if (bar.Update(reader->Fraction())) {
            return Aborted;
        }
    }
    if (seen != summary.points) {
        return Fail(QString("%1 changed while it was being read").arg(summary.path));
    }
    return Done;
}

int PointCloudGridder::Scan(ProgressSink* progress) {
    m_files.clear();
    m_caches.clear();
    m_files.resize(size_t(m_paths.size()));
    m_caches.resize(size_t(m_paths.size()));
    size_t budget = m_cacheBudget / (3 * sizeof(double));  // points that may still be kept
    std::vector<double> batch(3 * kBatchPoints);
    for (size_t f = 0; f < m_files.size(); ++f) {
        PointFileSummary& summary = m_files[f];
        summary.path = m_paths[int(f)];
        if (!PointFileReader::KindOf(summary.path, &summary.kind)) {
            return Fail(QString("%1 is neither a LAS nor an ASCII x y z file").arg(summary.path));
        }
        if (progress) {
            progress->SetCaption(summary.kind == PointFileReader::Kind::Las
                                     ? QStringLiteral("Reading LAS file...")
                                     : QStringLiteral("Reading ASCII file..."));
        }
        QString error;
        std::unique_ptr<PointFileReader> reader = PointFileReader::Open(summary.path, summary.kind, &error);
        if (!reader) {
            return Fail(QString("%1: %2").arg(summary.path, error));
        }
        BarFollower bar(progress);
        Cache& cache = m_caches[f];
        bool keep = budget > 0;
        summary.xmin = summary.ymin = std::numeric_limits<double>::max();
        summary.xmax = summary.ymax = std::numeric_limits<double>::lowest();
        while (const size_t n = reader->Read(batch.data(), kBatchPoints)) {
            for (size_t i = 0; i < n; ++i) {
                const double x = batch[3 * i], y = batch[3 * i + 1];
                summary.xmin = std::min(summary.xmin, x);
                summary.xmax = std::max(summary.xmax, x);
                summary.ymin = std::min(summary.ymin, y);
                summary.ymax = std::max(summary.ymax, y);
            }
            summary.points += n;
            if (keep && summary.points <= budget) {
                cache.batches.emplace_back(batch.begin(), batch.begin() + ptrdiff_t(3 * n));
            } else if (keep) {
                // Beyond the budget this file is read again in each pass.
                keep = false;
                std::vector<std::vector<double>>().swap(cache.batches);
            }
            if (bar.Update(reader->Fraction())) {
                return Aborted;
            }
        }
        summary.warning = reader->Warning();
        summary.coordinateSystem = reader->CoordinateSystem();
        cache.complete = keep;
        if (keep) {
            budget -= summary.points;
        }
        if (summary.points == 0) {
            summary.xmin = summary.xmax = summary.ymin = summary.ymax = 0.0;
        }
    }
    return Done;
}

int PointCloudGridder::EstimateSpacing(ProgressSink* progress) {
    if (progress) {
        progress->SetCaption(QStringLiteral("Computing GSD..."));
    }
    for (size_t f = 0; f < m_files.size(); ++f) {
        PointFileSummary& summary = m_files[f];
        summary.meanSpacing = 0.0;
        summary.spacingSamples = 0;
        const uint64_t n = summary.points;
        if (n == 0) {
            continue;
        }
        const uint64_t step = std::max<uint64_t>(1, n / 5);
        std::vector<double> samples;  // x, y of each sample
        uint64_t index = 0;
        const int sampled = ForEachBatch(f, progress, [&](const double* xyz, size_t count) {
            for (size_t i = 0; i < count; ++i, ++index) {
                if (index % step == 0) {
                    samples.push_back(xyz[3 * i]);
                    samples.push_back(xyz[3 * i + 1]);
                }
            }
        });
        if (sampled != Done) {
            return sampled;
        }
        const size_t count = samples.size() / 2;
        // Squared distances: the root of the smallest is the smallest root.
        std::vector<double> nearest(count, std::numeric_limits<double>::infinity());
        const int read = ForEachBatch(f, progress, [&](const double* xyz, size_t points) {
            for (size_t i = 0; i < points; ++i) {
                for (size_t s = 0; s < count; ++s) {
                    const double dx = xyz[3 * i] - samples[2 * s];
                    const double dy = xyz[3 * i + 1] - samples[2 * s + 1];
                    const double d2 = dx * dx + dy * dy;
                    if (d2 != 0.0 && d2 < nearest[s]) {
                        nearest[s] = d2;
                    }
                }
            }
        });
        if (read != Done) {
            return read;
        }
        double sum = 0.0;
        for (double d2 : nearest) {
            // A sample without a distinct neighbour says nothing about the spacing.
            if (std::isfinite(d2)) {
                sum += std::sqrt(d2);
                ++summary.spacingSamples;
            }
        }
        if (summary.spacingSamples > 0) {
            summary.meanSpacing = sum / summary.spacingSamples;
        }
    }
    return Done;
}

double PointCloudGridder::ProposedGsd() const {
    double sum = 0.0;
    int files = 0;
    for (const PointFileSummary& summary : m_files) {
        if (summary.spacingSamples > 0) {
            sum += summary.meanSpacing;
            ++files;
        }
    }
    return files ? sum / files : 0.0;
}

uint64_t PointCloudGridder::TotalPoints() const {
    uint64_t total = 0;
    for (const PointFileSummary& summary : m_files) {
        total += summary.points;
    }
    return total;
}

namespace {

struct Extent {
    double xmin = std::numeric_limits<double>::max();
    double xmax = std::numeric_limits<double>::lowest();
    double ymin = std::numeric_limits<double>::max();
    double ymax = std::numeric_limits<double>::lowest();
};

Extent ExtentOf(const std::vector<PointFileSummary>& files) {
    Extent e;
    for (const PointFileSummary& f : files) {
        if (f.points > 0) {
            e.xmin = std::min(e.xmin, f.xmin);
            e.xmax = std::max(e.xmax, f.xmax);
            e.ymin = std::min(e.ymin, f.ymin);
            e.ymax = std::max(e.ymax, f.ymax);
        }
    }
    return e;
}

// The cells of the file's box.
cv::Rect WindowOf(const PointFileSummary& file, const Extent& e, double gsd) {
    const int64_t c0 = CellIndex(file.xmin - e.xmin, gsd);
    const int64_t c1 = CellIndex(file.xmax - e.xmin, gsd);
    const int64_t r0 = CellIndex(e.ymax - file.ymax, gsd);
    const int64_t r1 = CellIndex(e.ymax - file.ymin, gsd);
    return cv::Rect(int(c0), int(r0), int(c1 - c0 + 1), int(r1 - r0 + 1));
}

}  // namespace

bool PointCloudGridder::IsValidGsd(double gsd) const {
    if (!std::isfinite(gsd) || gsd <= 0.0) {
        return false;
    }
    if (TotalPoints() == 0) {
        return true;
    }
    const Extent e = ExtentOf(m_files);
    const double columns = (e.xmax - e.xmin) / gsd;
    const double rows = (e.ymax - e.ymin) / gsd;
    // Both sides, one more than the whole cells the extent spans, must be ints.
    return columns < double(INT_MAX) - 1.0 && rows < double(INT_MAX) - 1.0;
}

void PointCloudGridder::RasterSize(double gsd, int* width, int* height) const {
    const Extent e = ExtentOf(m_files);
    *width = int(CellIndex(e.xmax - e.xmin, gsd)) + 1;
    *height = int(CellIndex(e.ymax - e.ymin, gsd)) + 1;
}

int PointCloudGridder::Grid(double gsd, const QString& output, ProgressSink* progress) {
    if (TotalPoints() == 0) {
        return Fail(QStringLiteral("No point found in the selected files"));
    }
    if (!IsValidGsd(gsd)) {
        return Fail(QStringLiteral("invalid GSD value"));
    }
    if (progress) {
        progress->SetCaption(QStringLiteral("Generating DEM..."));
    }
    const Extent e = ExtentOf(m_files);
    int width = 0, height = 0;
    RasterSize(gsd, &width, &height);

    // A raster or a window that cannot fit is refused before anything is written: a GeoTIFF
    // closed after a failure still gets every tile written out.
    QString space;
    if (!kv::RasterFitsOnDisk(output, width, height, 1, GDT_Float32, &space)) {
        return Fail(space);
    }
    for (const PointFileSummary& summary : m_files) {
        const cv::Rect rect = WindowOf(summary, e, gsd);
        if (summary.points > 0 && !FitsInMemory(double(rect.width) * double(rect.height))) {
            return Fail(
                QString("not enough memory for a window of %1 x %2 cells").arg(rect.width).arg(rect.height));
        }
    }
    GDALDriverH gtiff = GDALGetDriverByName("GTiff");
    if (!gtiff) {
        return Fail(QStringLiteral("the GeoTIFF driver is missing"));
    }
    const QString temporary = kv::TemporaryPathFor(output);
    const char* options[] = {"TILED=YES", "BLOCKXSIZE=128", "BLOCKYSIZE=128", "BIGTIFF=IF_NEEDED", nullptr};
    CPLErrorReset();
    GDALDatasetH ds = GDALCreate(gtiff, QFile::encodeName(temporary).constData(), width, height, 1,
                                 GDT_Float32, const_cast<char**>(options));
    if (!ds) {
        kv::RemoveRasterFile(temporary);
        return Fail(QString("cannot create %1: %2").arg(temporary, QString::fromUtf8(CPLGetLastErrorMsg())));
    }
    auto abandon = [&](int result, const QString& error) {
        GDALClose(ds);
        kv::RemoveRasterFile(temporary);
        if (result == Failed) {
            m_error = error;
        }
        return result;
    };
    double gt[6] = {e.xmin, gsd, 0.0, e.ymax, 0.0, -gsd};
    GDALRasterBandH band = GDALGetRasterBand(ds, 1);
    if (GDALSetGeoTransform(ds, gt) != CE_None || GDALSetRasterNoDataValue(band, kNoData) != CE_None) {
        return abandon(Failed, QString("cannot write %1").arg(temporary));
    }
    const auto system = std::find_if(m_files.begin(), m_files.end(), [](const PointFileSummary& summary) {
        return !summary.coordinateSystem.isEmpty();
    });
    if (system != m_files.end() &&
        GDALSetProjection(ds, system->coordinateSystem.toUtf8().constData()) != CE_None) {
        return abandon(Failed, QString("cannot write %1").arg(temporary));
    }
    // Cells no file touches keep no data: the driver fills tiles that were never written with it.
    std::vector<cv::Rect> written;
    std::vector<float> window;
    for (size_t f = 0; f < m_files.size(); ++f) {
        const PointFileSummary& summary = m_files[f];
        if (summary.points == 0) {
            continue;
        }
        const cv::Rect rect = WindowOf(summary, e, gsd);
        const int64_t c0 = rect.x, r0 = rect.y;
        try {
            window.assign(size_t(rect.width) * size_t(rect.height), kNoData);
        } catch (const std::bad_alloc&) {
            return abandon(
                Failed,
                QString("not enough memory for a window of %1 x %2 cells").arg(rect.width).arg(rect.height));
        }
        // A window that overlaps one written before starts from what is in the raster.
        const bool overlaps = std::any_of(written.begin(), written.end(),
                                          [&](const cv::Rect& w) { return (w & rect).area() > 0; });
        if (overlaps && GDALRasterIO(band, GF_Read, rect.x, rect.y, rect.width, rect.height, window.data(),
                                     rect.width, rect.height, GDT_Float32, 0, 0) != CE_None) {
            return abandon(Failed, QString("cannot read back %1").arg(temporary));
        }
        const size_t w = size_t(rect.width), h = size_t(rect.height);
        float* cells = window.data();
        const int read = ForEachBatch(f, progress, [&](const double* xyz, size_t count) {
            for (size_t i = 0; i < count; ++i) {
                const double* p = xyz + 3 * i;
                const uint64_t c = uint64_t(CellIndex(p[0] - e.xmin, gsd) - c0);
                const uint64_t r = uint64_t(CellIndex(e.ymax - p[1], gsd) - r0);
                if (c >= w || r >= h) {
                    continue;
                }
                const float z = float(p[2]);
                float& cell = cells[r * w + c];
                if (z > cell) {
                    cell = z;
                }
            }
        });
        if (read != Done) {
            return abandon(read, m_error);
        }
        if (GDALRasterIO(band, GF_Write, rect.x, rect.y, rect.width, rect.height, window.data(), rect.width,
                         rect.height, GDT_Float32, 0, 0) != CE_None) {
            return abandon(
                Failed,
                QString("cannot write %1: %2").arg(temporary, QString::fromUtf8(CPLGetLastErrorMsg())));
        }
        written.push_back(rect);
    }
    std::vector<float>().swap(window);
    if (!kv::CloseDataset(ds)) {
        kv::RemoveRasterFile(temporary);
        return Fail(QString("cannot write %1").arg(temporary));
    }
    if (!kv::MoveIntoPlace(temporary, output)) {
        kv::RemoveRasterFile(temporary);
        return Fail(QString("cannot replace %1").arg(output));
    }
    return Done;
}

int CreateDemFromPointFiles(const QStringList& files, double gsd, const QString& output,
                            ProgressSink* progress, QString* error) {
    PointCloudGridder gridder(files);
    int result = gridder.Scan(progress);
    if (result == PointCloudGridder::Done) {
        result = gridder.Grid(gsd, output, progress);
    }
    if (result == PointCloudGridder::Failed && error) {
        *error = gridder.Error();
    }
    return result;
}
