// Raster input and output shared by the layers and the tools: orthophotos into memory, images out
// as tiled GeoTIFFs with overviews, GDAL data types and image depths, pixel values, valid-area
// masks, resampled image regions and DEM files into new layers.
#pragma once

#include <cpl_error.h>
#include <gdal.h>
#include <opencv2/core.hpp>

#include <QString>
#include <QStringList>

#include <functional>
#include <vector>

#include "platform/tools/SafeFile.h"

class CDEM;
class CGDALListener;
class ProgressSink;

// Image depth (CV_8U ...) of a GDAL data type, -1 for a type without one. UInt32 cells are kept
// in a 32-bit buffer as their bits; the depth only says how wide the buffer's cells are.
int GetCVDepth(GDALDataType type);
// GDAL data type of an image depth; GDT_Unknown for depths that are never written (32-bit
// signed among them).
GDALDataType GetGDALDataType(int depth);
// Bounds of the values of a data type as the value writers use them.
void GetGDALDataTypeRange(GDALDataType type, double* lower, double* upper);

// Reads every channel of pixel (column, row) of an interleaved buffer whose cells have the given
// data type into values (one double per channel, zeroed first); returns the channel count.
int GetPixelValues(const cv::Mat& image, GDALDataType type, int column, int row, double* values);

// Reads bands 1 to 3 of an orthophoto (three or four Byte bands with a geotransform) into an
// 8-bit three-channel image. The caller's image is released first and its geotransform, when
// given, receives the file's. Shows a message and returns false when the file is refused.
bool LoadOrthophotoImage(const QString& path, cv::Mat& image, double* geoTransform);

// Writes the image as a tiled GeoTIFF, one band per channel, every band with the no-data value.
// Returns false, and leaves no file, when the file cannot be created or any write fails.
bool SaveImageAsGeoTiff(const cv::Mat& image, const double* geoTransform, const QString& projection,
                        double noData, const QString& path, ProgressSink* progress);

// Mask of the image's valid area: 255 where the grey value is above 1, holes up to about ten
// pixels closed, two pixels taken off the outer edge. Empty for images of 2 or 5+ channels.
cv::Mat BuildValidAreaMask(const cv::Mat& image);

// An image of the given size, of the source's depth and channels, filled with fillValue, into
// which the rectangle of the source (the whole source when rect is null) is resampled
// bilinearly. Empty when the size or the rectangle leave nothing to draw.
cv::Mat ResizeImageRegion(const cv::Mat& image, const cv::Rect* rect, cv::Size size, double fillValue);

// A new DEM without owner on the file, with its elevation range taken from a preview. Shows a
// message and returns nullptr when the file is refused, "Unable to read ..." when its blocks
// cannot be read. The caller owns the DEM. The file is opened for update, or for reading only
// when the DEM is only read.
CDEM* LoadDemFromGeoTiff(const QString& path, bool readOnly = false);

namespace kv {

// The number of integer halvings that bring the larger side of a raster to 512 or less.
int OverviewHalvings(int width, int height);
// Number n of overview levels (2, 4, ... 2^n) that a raster of this size gets: the halvings of
// the larger side while it is above 512, less one.
int OverviewLevelCount(int width, int height);
// Builds the OverviewLevelCount levels with "NEAREST", reporting through the listener when one is
// given. Returns 1 when done (or nothing to do), 0 when the build failed or was stopped.
int BuildOverviews(GDALDatasetH dataset, CGDALListener* listener);
// The same with the levels 2, 4, ... 2^levels (nothing for levels below 1).
int BuildOverviews(GDALDatasetH dataset, CGDALListener* listener, int levels);

// Closes the dataset and answers whether everything written to it reached the file.
bool CloseDataset(GDALDatasetH dataset);

// What GDAL said first while the watch lived; a plain "read error" when a read failed without
// GDAL saying anything.
QString ReadFailureText(const GdalFailureWatch& watch);

// Whether the blocks of the raster can be read, checked cheaply: of every band and of every
// overview level of it, wherever the level is stored, the block whose bytes end last in its file
// is read from the file (the last block where the driver does not tell where its blocks lie), so
// that a file cut short anywhere fails here, as does any failure GDAL reports meanwhile. On
// failure *cause holds what GDAL said.
bool CheckRasterReadable(GDALDatasetH dataset, QString* cause);
// Reads every block of every band from the file, reporting through the listener when one is
// given: what must succeed before anything is written into or beside the file. On failure *cause
// holds what GDAL said.
bool ReadEveryBlock(GDALDatasetH dataset, CGDALListener* listener, QString* cause);

// The message of a raster whose blocks cannot be read: "Unable to read <file>: <cause>".
QString UnreadableRasterText(const QString& path, const QString& cause);
// Shows that message (exclamation icon) for a layer whose read failed, once per file within one
// piece of work (kv::BusyEpisode: a command from its start to its end), so that a command that
// reads a file many times says it once; outside any work, every time. Nothing is shown while a
// QuietReadFailures lives.
void ReportUnreadableRaster(const QString& path, const QString& cause);
// Runs a read through a layer for a caller that tells the operator itself: the layer's own report
// stays quiet, and when the read hands back nothing *cause holds what GDAL said.
cv::Mat ReadQuietly(const std::function<cv::Mat()>& read, QString* cause);
// While it lives, ReportUnreadableRaster shows nothing: for callers that say it themselves.
class QuietReadFailures {
public:
    QuietReadFailures();
    ~QuietReadFailures();
    QuietReadFailures(const QuietReadFailures&) = delete;
    QuietReadFailures& operator=(const QuietReadFailures&) = delete;
};

// Keeps GDAL's block cache at most the given size while it lives and gives it back its size:
// while a whole raster is written, the written blocks leave the cache as it fills, and so do the
// blocks its overviews are built from, instead of every block of the raster staying in memory.
class BlockCacheCap {
public:
    explicit BlockCacheCap(GIntBig bytes);
    ~BlockCacheCap();
    BlockCacheCap(const BlockCacheCap&) = delete;
    BlockCacheCap& operator=(const BlockCacheCap&) = delete;

private:
    GIntBig m_previous;
};

// The side files that GDAL reads beside the raster at path, its external overviews and its
// auxiliary file (statistics, metadata): MoveIntoPlace replaces or removes each of them with the
// raster, RemoveRasterFile removes them.
QStringList RasterSideFiles(const QString& path);
// Syncs the finished temporary raster and puts it over path as one set with its side files
// (kv::PlaceFileSet): the side files that described the old raster go first, the raster replaces
// the old one in one step, then the side files GDAL wrote beside the temporary (its external
// overviews, its auxiliary file) follow it, and the extra files that go with it (a world file
// written beside the temporary). Whatever stops it, the raster at path stands with side files of
// its own only. On failure the temporary and its side files are removed and errno tells why.
bool MoveIntoPlace(const QString& temporary, const QString& path, const std::vector<SetFile>& extra = {});
// Removes a temporary GeoTIFF and the side files GDAL may have made for it.
void RemoveRasterFile(const QString& path);

// A new Float32 GeoTIFF (one band unless asked for more) written under a temporary name beside
// its target: Place() puts it, and the world file GDAL wrote beside it when asked to ("TFW=YES"),
// in place as one set once it is complete (MoveIntoPlace); otherwise the destructor removes it
// with its side files.
class NewFloatRaster {
public:
    explicit NewFloatRaster(const QString& path);
    ~NewFloatRaster();
    NewFloatRaster(const NewFloatRaster&) = delete;
    NewFloatRaster& operator=(const NewFloatRaster&) = delete;

    // Creates the raster with the GTiff creation options (null-terminated), the geotransform, the
    // no-data value of every band and the projection (none when empty). False when any of it fails.
    bool Create(int columns, int rows, const char* const* options, const double* gt, double noData,
                const QByteArray& projection, int bands = 1);
    GDALDatasetH Dataset() const { return m_dataset; }
    GDALRasterBandH Band() const { return m_dataset ? GDALGetRasterBand(m_dataset, 1) : nullptr; }
    // Closes the raster and puts it in place; false when anything written did not reach the file
    // or the rename failed (nothing is left then).
    bool Place();

private:
    QString m_path;
    QString m_temporary;
    GDALDatasetH m_dataset = nullptr;
    bool m_placed = false;
};

// Where the rectangle of a source lands in a target of another size: the rectangle is clipped to
// the source and the target part scaled by target size / rectangle size. False when the
// rectangle misses the source or a part would be empty.
bool MapRegion(const cv::Rect& rect, cv::Size source, cv::Size target, cv::Rect* sourcePart,
               cv::Rect* targetPart);

}  // namespace kv
