// How far a second surface departs from a reference DEM: the reference and a compared DEM read
// whole, or the points of LAS or ASCII x y z files; both surfaces sampled at the same places, each
// absolute height difference sorted into three classes by two thresholds and drawn as a coloured
// dot into a picture; and the statistics of the differences.
#pragma once

#include <QString>
#include <QStringList>

#include <opencv2/core.hpp>

#include <cstdint>
#include <vector>

#include "platform/las/PointFile.h"

class ProgressSink;

// A DEM read whole for the comparison: band 1 as Float32 with the band's no-data value turned into
// -9999, which the sampling knows.
struct ComparisonGrid {
    cv::Mat grid;
    double geoTransform[6] = {0, 1, 0, 0, 0, -1};
    double noData = -9999.0;
};

enum class GridRead { Ok, CannotOpen, Invalid, ReadFailed };

// Reads the DEM at path: one band of type UInt16 to Float64 with a no-data value, and a
// geotransform (Invalid otherwise).
GridRead ReadComparisonGrid(const QString& path, ComparisonGrid* out);

struct ComparisonSettings {
    // Distance between compared places of two DEMs; for point files, every k-th point is compared
    // with k the whole part of the step (at least 1). Must be positive.
    double step = 1.0;
    // Differences up to value 1 are in the lower class, up to value 2 in the middle one.
    double value1 = 1.0;
    double value2 = 5.0;
    // Colours of the classes, COLORREF (0x00BBGGRR).
    uint32_t colourBelow = 0x00FF00;
    uint32_t colourBetween = 0x00FFFF;
    uint32_t colourAbove = 0x0000FF;
};

struct ComparisonResult {
    enum Status { Done, NoOverlap, InvalidStep };
    Status status = Done;
    // 8-bit BGR: grey 240 with a dot at every compared place, grey 200 where a surface has no data.
    cv::Mat picture;
    // Every valid absolute difference in visiting order, and their sum.
    std::vector<double> differences;
    double sum = 0.0;
    int64_t between = 0;
    int64_t above = 0;
};

// Samples both DEMs every step over the bounding box of their common area, each with its cells'
// values at their centres (SampleAtCellCentres). The picture is about 2000 pixels along the longer
// side of that box. Reports percent done.
ComparisonResult CompareDemToDem(const ComparisonGrid& reference, const ComparisonGrid& compared,
                                 const ComparisonSettings& settings, ProgressSink* progress);

// The points of one or more point files: read in double precision, kept as single-precision
// offsets from the first point, which is exact enough at any map coordinates.
struct PointCloud {
    double originX = 0.0;
    double originY = 0.0;
    std::vector<cv::Point3f> offsets;
    double minX = 0.0, maxX = 0.0, minY = 0.0, maxY = 0.0;
};

// Reads every point of the files (all of the kind). False when a file cannot be opened or read;
// failedFile then names it. Reports one step per file.
bool ReadPointCloud(const QStringList& files, PointFileReader::Kind kind, ProgressSink* progress,
                    PointCloud* cloud, QString* failedFile = nullptr);

// Compares every k-th point with the reference (see ComparisonSettings::step). The picture of LAS
// points is 4000 pixels along the longer side of the common area with dots of radius 1; that of
// ASCII points about 2000 pixels with dots of radius 5. Reports percent done.
ComparisonResult ComparePointsToDem(const ComparisonGrid& reference, const PointCloud& cloud,
                                    PointFileReader::Kind kind, const ComparisonSettings& settings,
                                    ProgressSink* progress);

struct ComparisonStatistics {
    int64_t count = 0;
    int64_t below = 0;
    int64_t between = 0;
    int64_t above = 0;
    double mean = 0.0;
    // Standard deviation of the differences, divided by their count.
    double deviation = 0.0;
};
ComparisonStatistics Summarise(const ComparisonResult& result);
