// Files for the product tests: the Olinda DEM copied with no data -9999, the Landsat scene of the
// same area as a three-band orthophoto, generated rasters, and reading back what a command wrote.
#pragma once

#include <QString>

#include <gdal.h>
#include <opencv2/core.hpp>

#include <vector>

namespace ptest {

// The Olinda DEM copied into the folder under the name, with no data -9999.
QString OlindaDtm(const QString& folder, const QString& name = QStringLiteral("olinda_dem.tif"));
// Bands 3, 2, 1 of the Landsat scene as a three-band Byte orthophoto in the folder.
QString LandsatOrtho(const QString& folder, const QString& name = QStringLiteral("landsat.tif"));
// A GeoTIFF of the grid's type and channels (one band each) with the geotransform and, when
// given, a no-data value on every band.
QString WriteRaster(const QString& path, const cv::Mat& grid, const double* gt,
                    const double* noData = nullptr);
// A grey orthophoto of w x h pixels (three Byte bands, value 100) with north-up pixels of the given
// size whose top-left corner is at (x0, y0).
QString GreyOrtho(const QString& path, int w, int h, double pixel, double x0 = 0.0, double y0 = 0.0);

// Points the per-user profile at an empty file of its own while it lives.
class FreshProfile {
public:
    FreshProfile();
    ~FreshProfile();
    FreshProfile(const FreshProfile&) = delete;
    FreshProfile& operator=(const FreshProfile&) = delete;

private:
    QString m_previous;
};

// Every band of a raster file, interleaved (empty when it does not open), and its geotransform.
cv::Mat ReadRaster(const QString& path, double* gt = nullptr);

}  // namespace ptest
