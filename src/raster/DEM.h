// One elevation raster of a project. On file, its GDAL dataset is open and nothing is held in
// memory; in memory, the whole band is a Float32 grid and the dataset is closed. Inside the grid
// and in every image handed out, no data is -9999.
#pragma once

#include <gdal.h>
#include <opencv2/core.hpp>

#include <QString>

#include <cmath>
#include <cstdint>

#include "raster/AGColors.h"
#include "raster/LayerEntities.h"
#include "raster/LayerRecords.h"
#include "raster/RasterDisplayCache.h"

class CKelvaroDoc;
class ProgressSink;
struct CadLayer;

// The value of a cell without data in grids and region images.
inline constexpr float kNoData = -9999.0f;

// True for a cell without data: -9999, or a value that is no finite number (NaN and the
// infinities never count as heights or values).
inline bool IsNoData(float value) {
    return value == kNoData || !std::isfinite(value);
}

// The same for a value read from a band whose no-data value is noData.
inline bool IsNoDataValue(double value, double noData) {
    return value == noData || !std::isfinite(value);
}

// Turns every cell of a Float32 image that is no finite number into -9999.
void PatchNonFinite(cv::Mat& image);

// Widens low to high to take in every height of a single-channel Float32 image (no data as
// IsNoData says). A range that starts with low above high and stays so holds no height.
void ExtendHeightRange(const cv::Mat& heights, float* low, float* high);

class CDEM {
public:
    explicit CDEM(CKelvaroDoc* owner);
    virtual ~CDEM();
    CDEM(const CDEM&) = delete;
    CDEM& operator=(const CDEM&) = delete;

    // Brings the whole band into the grid and closes the dataset. 1 on success (at once when the
    // grid is there), 0 without grid and dataset or when a read fails (the DEM stays on file). A
    // failed read of the file is told to the operator (kv::ReportUnreadableRaster), as it is by
    // GetRegion and what reads through it.
    int LoadData(ProgressSink* progress = nullptr);
    // Writes the grid to the file at the path: WriteSaveCopy, then the copy replaces the file.
    // 0 when nothing could be written or any block, overview or the replacement failed; the
    // file is then as it was.
    int SaveData(ProgressSink* progress = nullptr);
    // Writes the grid to a new file beside the path, in the layout of the file there (format, cell
    // type, tiling, compression, no data, offset and scale, geotransform, projection, metadata)
    // or as a new Float32 GeoTIFF when there is no file, with overviews built. On success the
    // synced copy's path is in *temporary, for kv::MoveIntoPlace; the file at the path is not
    // touched. 0 when the copy could not be written completely (nothing is left behind) or the
    // file at the path may not be written.
    int WriteSaveCopy(ProgressSink* progress, QString* temporary);
    // Fills a single-channel Float32 image with the cells of the pixel rectangle (the whole raster
    // for none) resampled to the image's size; -9999 where the rectangle runs past the raster.
    int GetRegion(const cv::Rect* rect, cv::Mat& image);
    // A new image of the size filled by GetRegion; empty when the region cannot be read.
    cv::Mat CreateRegionImage(const cv::Rect* rect, cv::Size size);
    // The height of the cell that contains the world position, or -9999.
    double GetElevation(double x, double y);
    // The same height as the grid or the file holds it, for the plan view's readout and snap at
    // every move of the cursor: a cell of the file comes with the square of cells around it,
    // which the display cache keeps until the cursor leaves it or the DEM is drawn anew after an
    // edit. A square whose read fails gives -9999 without a message, and is not read again while
    // the cursor stays in it.
    float GetCellHeight(double x, double y);

    // Traces contour lines at the levels minimum, minimum + step, ... below maximum into the
    // shapefile "<name>_Contours" in the project's folder (simplified with the squared-distance
    // tolerance when it is above 0) and loads them onto the locked CAD layer of that name, labels
    // hidden when showLabels is 0. Reads the grid while it is in memory and leaves the DEM as it
    // is. The previous files and lines stay until the new ones are complete. 1 on success.
    // Defined with the DEM tools, which reach the drawing.
    int BuildContours(double minimum, double maximum, double step, ProgressSink* progress, double tolerance,
                      int showLabels);
    // Adds every line of the shapefile to the drawing as a polyline on the layer, with its
    // elevation as a label. 1 on success.
    int LoadContoursToCad(const QString& path, CadLayer* layer, int showLabels);

    // Raster size, from the grid or the dataset.
    int Width() const;
    int Height() const;
    // Drops the pictures of the DEM's rendering so that the next paint rebuilds them.
    void ReleaseDisplayCache() { m_display.Release(); }

    // One band of type UInt16 to Float64 with a no-data value, and a geotransform.
    static bool IsValidDemDataset(GDALDatasetH dataset);

    // The layer's record in the project archive.
    DemArchiveRecord ArchiveRecord() const;
    // Takes a record read from an archive: name, path, elevation range, the mask path beside the
    // file, the linked entities found by their ids in the drawing (ids it does not hold are
    // dropped) and the colour settings. A record without colour settings gives palette 0 with 100
    // colours and leaves the colour range pending.
    void ApplyArchiveRecord(const DemArchiveRecord& record, CadDrawing* drawing);
    // Writes the record in the current archive version; reads one of an archive of the given
    // version and takes it. 1 on success, 0 when the stream failed (nothing taken then).
    int Serialize(kv::ArchiveWriter& out) const;
    int Serialize(kv::ArchiveReader& in, int version, CadDrawing* drawing);
    // Takes the elevation range as the colour range when the archive left it pending; the
    // document calls it once the DEM is loaded.
    void ApplyPendingColorRange();

    // Given at construction, never reused within the process: what undo records keep to find
    // their DEM again, where a pointer could name a later DEM at the same address.
    const uint64_t m_serial;
    CKelvaroDoc* m_pDoc = nullptr;
    GDALDatasetH m_pDataset = nullptr;
    cv::Mat m_grid;
    int m_modified = 0;
    double m_geoTransform[6] = {0, 0, 0, 0, 0, 0};
    QString m_projection;
    RasterDisplayCache m_display;
    double m_minElevation = 0.0;
    double m_maxElevation = 5000.0;
    CAGColors m_colors;
    // Heights at the two ends of the palette; -9999 / 9999 until a range is chosen.
    double m_colorRangeMin = -9999.0;
    double m_colorRangeMax = 9999.0;
    // 1: the colour range is to be taken from the elevations (a DEM of an archive that did not
    // store colour settings).
    int m_colorRangePending = 0;
    int m_imageDefId = -1;
    CadEntity* m_imageEntity = nullptr;
    // The second image of the layer: its label mask.
    int m_labelImageDefId = -1;
    CadEntity* m_labelImageEntity = nullptr;
    QString m_name;
    QString m_path;
    QString m_maskPath;
    cv::Mat m_workImage;
    int m_sampleWindowSize = 5;
    cv::Mat m_sampleWindow;
    int m_busy = 0;
    // The closed polylines of the drawing tied to the layer: its seamline regions. The layer is
    // drawn only inside them (unclipped while the list is empty); they are archived by id
    // with the project and each carries the layer as user pointer and its image place's id as user
    // data.
    CadEntityList SeamlinePolylines;
    // Labels painted on the grid (8-bit, grid size): 0 blue, 2 green, 3 red, others transparent.
    cv::Mat m_labelMask;
    int m_labelMaskModified = 0;
    RasterDisplayCache m_labelDisplay;

private:
    int ReadRegionFromFile(const cv::Rect& source, cv::Mat& target);
};

// How a band stores heights: its data type, its no-data value, and offset and scale (a height is
// value x scale + offset).
struct HeightEncoding {
    GDALDataType type = GDT_Float32;
    double noData = kNoData;
    double offset = 0.0;
    double scale = 1.0;
};
// The encoding of a band (Float32 with -9999 for none).
HeightEncoding BandHeightEncoding(GDALRasterBandH band);
// Heights (Float32, no data as IsNoData says) as the cells SaveData writes for them into a band of
// that encoding: no data becomes the band's no-data value, every other height (value - offset) /
// scale, rounded for integer types. cells must have the heights' size and the depth of the type.
void EncodeHeights(const cv::Mat& heights, cv::Mat& cells, const HeightEncoding& encoding);

// Sampling of single-channel Float32 images with no data as IsNoData says; cells are addressed
// as column, row.
double SampleGrid(const cv::Mat& image, double x, double y);
double InterpolateBicubic(const cv::Mat& image, int column, int row, double fx, double fy);
// The cubic through p[0], p[1], p[2], p[3] (at -1, 0, 1, 2) at t: the bicubic interpolation
// applies it along each of four rows, then down the column of their results. Workers that sample
// one grid many times apply it themselves to reuse the row results, with the same bits.
inline double CubicThrough(const double p[4], double t) {
    const double d1 = p[0] - p[1];
    const double d2 = p[2] - p[1];
    const double d3 = p[3] - p[1];
    return p[1] + t * (d2 - d1 / 3 - d3 / 6) + t * t * (d1 / 2 + d2 / 2) +
           t * t * t * (d3 / 6 - d1 / 6 - d2 / 2);
}
double InterpolateBilinear(const cv::Mat& image, int column, int row, double fx, double fy);
