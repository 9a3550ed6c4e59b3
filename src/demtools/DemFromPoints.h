// New DEMs from point files (LAS or ASCII x y z): every cell holds the highest point that falls
// in it, cells without points hold no data (-9999); nothing is interpolated.
//
// The raster covers the box of all points: with the cell size g, the cell of a point is column
// floor((x - xmin) / g) and row floor((ymax - y) / g), the raster has floor((xmax - xmin) / g) + 1
// columns and floor((ymax - ymin) / g) + 1 rows, and its geotransform is (xmin, g, 0, ymax, 0, -g).
// It is written as one tiled Float32 GeoTIFF band under a temporary name and takes its own name
// only when complete. It carries the coordinate system of the first file that holds one.
//
// The points are read in passes (box, spacing, gridding). They are kept in memory between passes
// up to a budget; a file beyond it is read again, with the same result.
#pragma once

#include <QString>
#include <QStringList>

#include <cstddef>
#include <cstdint>
#include <vector>

#include "platform/las/PointFile.h"

class ProgressSink;

// What the first pass found in one file.
struct PointFileSummary {
    QString path;
    PointFileReader::Kind kind = PointFileReader::Kind::Las;
    uint64_t points = 0;
    // The box of the points; meaningful only when the file has points.
    double xmin = 0.0, xmax = 0.0, ymin = 0.0, ymax = 0.0;
    // What the reader found wrong but read around (empty when nothing).
    QString warning;
    // The file's coordinate system as WKT (empty when it holds none).
    QString coordinateSystem;
    // The mean distance from a few sampled points to their nearest distinct neighbours, and the
    // number of samples that had one (no mean without any).
    double meanSpacing = 0.0;
    int spacingSamples = 0;
};

class PointCloudGridder {
public:
    // Results of the long steps.
    enum Result { Done = 1, Failed = 0, Aborted = -3 };
    // Bytes of points kept in memory between passes, over all files.
    static constexpr size_t kDefaultCacheBytes = size_t(512) << 20;

    explicit PointCloudGridder(QStringList files, size_t cacheBytes = kDefaultCacheBytes);
    ~PointCloudGridder();
    PointCloudGridder(const PointCloudGridder&) = delete;
    PointCloudGridder& operator=(const PointCloudGridder&) = delete;

    // Reads every file once: its points, box and warnings ("Reading LAS file..." or "Reading
    // ASCII file..."). A file that cannot be opened fails the step.
    int Scan(ProgressSink* progress);
    // The spacing of each file with points ("Computing GSD..."): the points at the indices 0, s,
    // 2s, ... (s = the point count / 5, at least 1), each with its distance in the plane to the
    // nearest other point that does not coincide with it.
    int EstimateSpacing(ProgressSink* progress);
    // The mean of the files' spacings (files without one left out); 0 when none has one.
    double ProposedGsd() const;

    uint64_t TotalPoints() const;
    const std::vector<PointFileSummary>& Files() const { return m_files; }
    // A cell size that gives a raster of int sides over the points: positive and finite.
    bool IsValidGsd(double gsd) const;
    // Columns and rows of the raster for the cell size (valid sizes only).
    void RasterSize(double gsd, int* width, int* height) const;
    // Writes the DEM ("Generating DEM..."), file by file. Failed and Aborted leave no file at the
    // output and keep a file that was there.
    int Grid(double gsd, const QString& output, ProgressSink* progress);

    // Why the last step failed.
    const QString& Error() const { return m_error; }

private:
    struct Cache;
    // Calls visit(xyz, count) for every batch of the file's points, from memory or from the
    // file, with the bar following the share read.
    template <class Visit>
    int ForEachBatch(size_t file, ProgressSink* progress, Visit visit);
    int Fail(const QString& error);

    QStringList m_paths;
    std::vector<PointFileSummary> m_files;
    std::vector<Cache> m_caches;
    size_t m_cacheBudget;
    QString m_error;
};

// Grids the files into a new DEM at output with the cell size: the files are read, the raster
// written. Done, Failed (with the reason in error) or Aborted.
int CreateDemFromPointFiles(const QStringList& files, double gsd, const QString& output,
                            ProgressSink* progress, QString* error = nullptr);
