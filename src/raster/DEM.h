// One elevation raster of a project. On file, its GDAL dataset is open and nothing is held in
// memory; in memory, the whole band is a Float32 grid and the dataset is closed. Inside the grid
// and in every image handed out, no data is -9999.
#pragma once

#include <gdal.h>
#include <opencv2/core.hpp>

#include <QString>

#include <cmath>

#include "raster/AGColors.h"
#include "raster/LayerEntities.h"
#include "raster/RasterDisplayCache.h"

class CKelvaroDoc;
class ProgressSink;

// The value of a cell without data in grids and region images.
inline constexpr float kNoData = -9999.0f;

// True for a cell without data: -9999, or NaN, which never counts as a value.
inline bool IsNoData(float value) {
    return value == kNoData || std::isnan(value);
}

class CDEM {
public:
    explicit CDEM(CKelvaroDoc* owner);
    virtual ~CDEM();
    CDEM(const CDEM&) = delete;
    CDEM& operator=(const CDEM&) = delete;

    // Brings the whole band into the grid and closes the dataset. 1 on success (at once when the
    // grid is there), 0 without grid and dataset or when a read fails (the DEM stays on file).
    int LoadData(ProgressSink* progress = nullptr);
    // Writes the grid to the file at the path: the file is updated in place when it opens for
    // update, otherwise a new Float32 GeoTIFF is made. 0 when nothing could be written or any
    // block or overview failed to write.
    int SaveData(ProgressSink* progress = nullptr);
    // Fills a single-channel Float32 image with the cells of the pixel rectangle (the whole raster
    // for none) resampled to the image's size; -9999 where the rectangle runs past the raster.
    int GetRegion(const cv::Rect* rect, cv::Mat& image);
    // A new image of the size filled by GetRegion; empty when the region cannot be read.
    cv::Mat CreateRegionImage(const cv::Rect* rect, cv::Size size);
    // The height of the cell that contains the world position, or -9999.
    double GetElevation(double x, double y);

    // Raster size, from the grid or the dataset.
    int Width() const;
    int Height() const;
    // Drops the pictures of the DEM's rendering so that the next paint rebuilds them.
    void ReleaseDisplayCache() { m_display.Release(); }

    // One band of type UInt16 to Float64 with a no-data value, and a geotransform.
    static bool IsValidDemDataset(GDALDatasetH dataset);

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
    CadEntityList m_linkedEntities;
    CadEntityList SeamlinePolylines;
    // Labels painted on the grid (8-bit, grid size): 0 blue, 2 green, 3 red, others transparent.
    cv::Mat m_labelMask;
    int m_labelMaskModified = 0;
    RasterDisplayCache m_labelDisplay;

private:
    int ReadRegionFromFile(const cv::Rect& source, cv::Mat& target);
};

// Sampling of single-channel Float32 images with -9999 (or NaN) as no data; cells are addressed
// as column, row.
double SampleGrid(const cv::Mat& image, double x, double y);
double InterpolateBicubic(const cv::Mat& image, int column, int row, double fx, double fy);
double InterpolateBilinear(const cv::Mat& image, int column, int row, double fx, double fy);
