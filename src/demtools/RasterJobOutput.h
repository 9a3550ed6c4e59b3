// What the cut and the rotation share: the new GeoTIFF made beside its path under a temporary
// name, with the source's bands, no-data values, scales and offsets, and finished with its
// georeferencing and overviews before it is renamed into place.
#pragma once

#include <gdal.h>
#include <opencv2/core.hpp>

#include <QString>

#include <vector>

#include "demtools/RasterCutRotate.h"

class RasterJobOutput {
public:
    // Creates the output of that size: the source's band count and the data type of its band 1 (of
    // the file's band for heights). Opened() tells whether it was made.
    RasterJobOutput(const RasterSource& source, const QString& path, int width, int height);
    // Removes the temporary file unless Finish moved it into place.
    ~RasterJobOutput();
    RasterJobOutput(const RasterJobOutput&) = delete;
    RasterJobOutput& operator=(const RasterJobOutput&) = delete;

    bool Opened() const { return m_dataset != nullptr; }
    int Bands() const { return int(m_fill.size()); }
    GDALDataType Type() const { return m_type; }
    // The value of band b (from 1) for cells without data: its no-data value, or 0 without one.
    double Fill(int band) const { return m_fill[size_t(band - 1)]; }
    GDALRasterBandH Band(int band) const { return GDALGetRasterBand(m_dataset, band); }

    // Writes a block of band b at (x, y); the block's depth gives the cells' type (32-bit float,
    // 8-bit, or the output type). Heights of a heights source are encoded first.
    bool Write(int band, int x, int y, const cv::Mat& block, GDALDataType type);

    // Sets the georeferencing (the source's projection), builds the overviews, closes the file and
    // renames it into place. False when anything of it failed (nothing is left then).
    bool Finish(const double* geoTransform, ProgressSink* progress);

private:
    const RasterSource& m_source;
    QString m_path;
    QString m_temporary;
    GDALDatasetH m_dataset = nullptr;
    GDALDataType m_type = GDT_Unknown;
    std::vector<double> m_fill;
    bool m_done = false;
};

// Depth of an image of the GDAL data type's cells (32-bit cells for UInt32 as their bits).
int CellDepth(GDALDataType type);
// The bytes of one cell of the type holding value as GDAL converts it.
std::vector<uchar> CellBytes(double value, GDALDataType type);
