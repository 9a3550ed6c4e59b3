// A DEM's heights as a GDAL dataset for GDAL's algorithms and the raster writers, whichever state
// the DEM is in, without changing the DEM: no saving, no release of its grid, no reopening.
#pragma once

#include <gdal.h>
#include <opencv2/core.hpp>

#include <QString>

#include "raster/DEM.h"

// A dataset of one Float32 band with no data -9999 that holds the DEM's heights: over the grid
// while the grid is in memory (no copy; the grid must not change while this lives), otherwise a
// dataset over the DEM's own that applies the band's no-data value, scale and offset and makes
// every cell that is no finite number no data (reads of a Float32 band without scale or offset and
// with no data -9999 or none go straight to it).
class DemHeights {
public:
    explicit DemHeights(CDEM& dem);
    ~DemHeights();
    DemHeights(const DemHeights&) = delete;
    DemHeights& operator=(const DemHeights&) = delete;

    // Null when the DEM has neither grid nor dataset.
    GDALDatasetH Dataset() const { return m_dataset; }
    GDALRasterBandH Band() const { return m_dataset ? GDALGetRasterBand(m_dataset, 1) : nullptr; }

private:
    GDALDatasetH m_dataset = nullptr;
    // The datasets made here, closed with this object (the virtual one before what it reads).
    GDALDatasetH m_owned = nullptr;
};

// A dataset of one Float32 band over the cells of a single-channel Float32 image (no copy), with
// no data -9999, the geotransform and the projection. The image must outlive the dataset. Null
// for an empty or other image.
GDALDatasetH WrapGridAsDataset(const cv::Mat& grid, const double* geoTransform, const QString& projection);

// How the DEM's file stores heights (its band 1); Float32 with -9999 when the file cannot be read.
HeightEncoding DemFileEncoding(const CDEM& dem);
