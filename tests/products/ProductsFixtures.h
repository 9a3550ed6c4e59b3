// Files for the product tests: the Olinda DEM copied with no data -9999, the Landsat scene of the
// same area as a three-band orthophoto, generated rasters, and reading back what a command wrote.
#pragma once

#include <QString>

#include <gdal.h>
#include <opencv2/core.hpp>

#include <string>
#include <vector>

struct CadDrawing;

class CKelvaroDoc;

namespace ptest {

// The NDVI of the Landsat scene (bands 3 and 4) as the index worker writes it: "ndvi.gtif" in the
// folder, beside a copy of the scene. Empty when it cannot be made.
QString SceneNdvi(CKelvaroDoc& doc, const QString& folder);
// The Olinda DEM copied into the folder under the name, with no data -9999.
QString OlindaDtm(const QString& folder, const QString& name = QStringLiteral("olinda_dem.tif"));
// Bands 3, 2, 1 of the Landsat scene as a three-band Byte orthophoto in the folder.
QString LandsatOrtho(const QString& folder, const QString& name = QStringLiteral("landsat.tif"));
// A GeoTIFF of the grid (one band per channel, Byte, Int16 or Float32) with the geotransform
// and, when given, a no-data value on every band; written by the shared raster writer.
QString WriteGrid(const QString& path, const cv::Mat& grid, const double* gt, const double* noData = nullptr);
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

// Gives the projects made while it lives the product tools' two modeless map windows, as the
// registration of the tools does in the program.
class MapToolWindowsSupplied {
public:
    MapToolWindowsSupplied();
    ~MapToolWindowsSupplied();
    MapToolWindowsSupplied(const MapToolWindowsSupplied&) = delete;
    MapToolWindowsSupplied& operator=(const MapToolWindowsSupplied&) = delete;
};

// Whether the image shows the text just as cv::putText draws it (anti-aliased) on a plain
// background of that colour: the text's box above its baseline (less the two rows next to it),
// clipped to the image, is compared.
bool ShowsText(const cv::Mat& image, const std::string& text, cv::Point baseline, int font, double scale,
               const cv::Scalar& colour, int thickness, const cv::Vec3b& background);
// Whether every pixel of the rectangle (clipped to the image) has the colour.
bool IsPlain(const cv::Mat& image, cv::Rect rect, const cv::Vec3b& colour);

// Whether a line of the drawing's command-line history reads exactly the text.
bool InHistory(CadDrawing* drawing, const char* line);
// What the drawing's command line shows: its prompt, then its history, newest first, one a line.
QString CommandLineText(CadDrawing* drawing);

// Every band of a raster file, interleaved (empty when it does not open), and its geotransform.
cv::Mat ReadRaster(const QString& path, double* gt = nullptr);

}  // namespace ptest
