// What the benchmarks share of their data: the folder each keeps its files in, the real-derived
// DEM (a DEM of the test data upsampled bilinearly), rasters read and written plainly, the
// comparison of two sides' rasters, and the commands that give a peer's output the overviews ours
// gets.
#pragma once

#include <QString>

#include <gdal.h>
#include <opencv2/core.hpp>

#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "Bench.h"
#include "platform/geometry/Pgon.h"

class CDEM;

namespace bench {

// A folder of the benchmarks' data under the temporary folder, made when missing.
QString DataFolder(const QString& name);
// Runs make once for the folder: a folder whose marker of that version is there is complete. The
// marker is written only when make succeeds.
bool MakeOnce(const QString& folder, const char* version, const std::function<bool()>& make);

// The files of one data folder: File("dem.tif") is a path for commands.
class Files {
public:
    explicit Files(const char* folder) : m_folder(folder) {}
    QString Folder() const { return DataFolder(QString::fromLatin1(m_folder)); }
    std::string operator()(const std::string& name) const;
    bool MakeOnce(const char* version, const std::function<bool()>& make) const {
        return bench::MakeOnce(Folder(), version, make);
    }

private:
    const char* m_folder;
};

// Copies a file over another, for a side that works on a copy in place.
bool CopyFile(const std::string& from, const std::string& to);
// Writes band 1 of the DEM file upsampled bilinearly to side x side cells (ReadUpsampled) as a
// DEM to path, with the source's projection when asked.
bool WriteUpsampled(const char* source, int side, const std::string& path, bool projection = false);

// A number as a command-line argument, without loss.
std::string Number(double v);
// A text made by printf's format (up to 511 characters).
template <class... Values>
std::string Format(const char* format, Values... values) {
    char text[512];
    std::snprintf(text, sizeof text, format, values...);
    return text;
}

// Band 1 of a raster file upsampled bilinearly to side x side cells, its geotransform scaled to
// match.
bool ReadUpsampled(const char* path, int side, cv::Mat* dem, double geoTransform[6]);
// Irregular holes in a side x side grid: the lowest `share` of a smooth random field made of a
// coarse and a fine component (a hundredth and a tenth of the side), so that blobs of a few cells
// and of a hundred cells both occur. 255 in the holes.
cv::Mat HolePattern(int side, double share);
// The grid's value at (column c, row r) between cell centres, bilinearly; clamped to the grid.
double Bilinear(const cv::Mat& grid, double c, double r);
// Writes the image (one band per channel) as a GeoTIFF tiled in 256 x 256 blocks, with the no-data
// value on every band and the projection when one is given; no overviews.
bool WriteRaster(const cv::Mat& image, const double geoTransform[6], const std::string& path,
                 double noData = -9999.0, const std::string& projection = std::string());
// Reads every band of a raster into an image of that many channels (Float32 cells, or the file's
// Byte cells when asked); the geotransform when asked for (GDAL's default for a file without one).
// False when the file cannot be opened or read.
bool ReadRaster(const std::string& path, cv::Mat* image, double geoTransform[6] = nullptr,
                bool bytes = false);
// What a side that keeps its result in memory leaves for the check, in the check run only: the
// grid as a raster, or a line of text. True when nothing had to be written or it was written.
bool KeepRaster(const cv::Mat& grid, const double geoTransform[6], const std::string& path);
bool KeepText(const std::string& text, const std::string& path);
// The first line of a text file ("" when there is none).
std::string ReadText(const std::string& path);
// The projection of a raster file ("" when none or unreadable).
std::string ProjectionOf(const char* path);

// A DEM layer on the file as the program opens it, its grid loaded; null when that fails.
std::unique_ptr<CDEM> LoadDem(const std::string& path, bool forUpdate = false);
// An area over every cell of the DEM (reaching a cell beyond its edges).
CPgon WholeArea(const CDEM& dem);

// gdaladdo giving the raster the levels 2, 4, ... 2^levels with the program's nearest resampling.
Command Gdaladdo(const std::string& path, int levels);
// The overview levels a raster of that size gets from the program (kv::OverviewLevelCount), by
// gdaladdo.
Command OverviewsLike(const std::string& path, int width, int height);

// Builds those levels into an open dataset, as the peer of a side that writes them; false when the
// build fails.
bool BuildOverviewsLike(GDALDatasetH dataset);

// The peer of gap closing: gdal_fillnodata.py -md DISTANCE from the input to a tiled output, then
// gdaladdo giving it the program's overviews of a side x side raster; with its Python start-up.
Side FillNodataPeer(const std::string& input, const std::string& output, int distance, int side);
// gdal_calc.py computing (B - A) / (B + A) of band aBand of a and band bBand of b into a tiled
// Float32 GeoTIFF of that block size, with its world file when asked.
Command GdalCalcIndex(const std::string& a, int aBand, const std::string& b, int bBand,
                      const std::string& output, int block, bool worldFile);
// The bands of a raster's top-left square of `square` cells upsampled bilinearly to side x side,
// tiled in 256 x 256 blocks; false when it cannot be written.
bool TranslateBands(const char* source, const std::vector<int>& bands, int square, int side,
                    const std::string& path);

// How two rasters of the same grid agree, cell by cell, off an outer ring of `ring` cells.
struct Agreement {
    std::string error;     // when they cannot be compared (unreadable, other grids)
    long compared = 0;     // cells both fill
    long apart = 0;        // of those, cells further apart than the tolerance
    long onlyOne = 0;      // cells only one of them fills
    double largest = 0.0;  // largest difference of the cells both fill
    double meanAbs = 0.0;  // mean absolute difference of the cells both fill
    int overviews[2] = {0, 0};
};
// With `common`, rasters of the same origin and cell size may differ in size: their common cells
// are compared. Two cells are apart when they differ by more than the tolerance plus `relative`
// times the peer's value. With `only` (8-bit, of the grid's size), only the cells it marks are
// compared.
Agreement CompareRasters(const std::string& ours, const std::string& theirs, double tolerance, int ring = 0,
                         double noData = -9999.0, bool common = false, double relative = 0.0,
                         const cv::Mat& only = cv::Mat());
// The check of a pair whose sides leave rasters of the same grid: CompareRasters, then Judge.
using Check = std::function<std::string(std::string* agreed)>;
Check RastersAgree(const std::string& ours, const std::string& theirs, double tolerance,
                   double apartShare = 0.0, double onlyOneShare = 0.0, int ring = 0, double noData = -9999.0,
                   bool common = false, double relative = 0.0);
// The check of a pair whose sides fill the no-data cells (-9999) of the input: over those cells, the
// fills agree as RastersAgree has them (the share counted of those cells alone) and every one of
// them is filled by both; every other cell is the same on both sides.
Check FillsAgree(const std::string& ours, const std::string& theirs, const std::string& input,
                 double tolerance, double apartShare);
// The check of a pair whose sides leave a line of text each: the two must be the same; *agreed is
// the label with both texts.
Check SameText(const std::string& ours, const std::string& theirs, const std::string& label);

// The check of a pair from an agreement: "" when at most the given shares of the compared cells
// are apart and filled by one side only and both have the same overviews; what differs otherwise.
// *agreed describes the agreement.
std::string Judge(const Agreement& a, double apartShare, double onlyOneShare, std::string* agreed);

}  // namespace bench
