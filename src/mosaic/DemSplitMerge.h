// The DEM split by tiles and what it shares with the DEM merge along seamlines: a DEM read from its
// file, windows of a DEM read with no data around them, and the tiled Float32 GeoTIFFs both
// write.
#pragma once

#include <gdal.h>
#include <opencv2/core.hpp>

#include <QString>

class CDEM;
class CKelvaroDoc;

// Makes the DEM read from its file: a grid held in memory (without unsaved edits) is released and
// the file opened again, read-only. False when the DEM then has no dataset.
bool ReopenDemFromFile(CDEM& dem);

// Fills the image (single-channel Float32) with the DEM's cells of the pixel window, of the
// image's size, and -9999 where the window runs past the DEM. False only when a window that meets
// the DEM could not be read.
bool ReadDemWindow(CDEM& dem, const cv::Rect& window, cv::Mat& image);

// A new single-band Float32 GeoTIFF, tiled in 128 × 128 blocks (BigTIFF when it may need it),
// with the geotransform, the projection when it is not empty, and no data -9999. Null when it
// cannot be created; when it would not fit on the disk, *space (when given) says so.
GDALDatasetH CreateDemGeoTiff(const QString& path, int width, int height, const double* geoTransform,
                              const QString& projection, QString* space = nullptr);

// Cuts the DEM into one GeoTIFF per tile of the "Tiles" layer that it meets, in a folder the
// operator picks: Float32 cells sampled from the DEM (copied when the tile lies on the DEM's
// grid, bilinear otherwise), -9999 where the DEM has no data, with overviews. When files already
// stand at the tiles' paths the operator is asked once, before any is written, whether to replace
// them. 1 when at least one tile was written (each tile that was not is named in the command line
// with the cause), 0 otherwise.
int SplitDem(CKelvaroDoc* doc, CDEM* dem);
