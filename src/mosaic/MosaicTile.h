// One output raster of the orthophoto mosaic: where it lies, its pixel grid, the orthophotos that
// may contribute to it and how the seams between them are softened, and the writing of the tile:
// a tiled GeoTIFF filled orthophoto by orthophoto along the seamlines, with its world file and
// overviews, added to the project as an orthophoto.
#pragma once

#include <cfloat>
#include <vector>

#include <gdal.h>
#include <opencv2/core/mat.hpp>

#include <QString>

#include "platform/geometry/Pgon.h"

class CKelvaroDoc;
class COrtho;
class ProgressSink;

class CMosaicTile {
public:
    explicit CMosaicTile(CKelvaroDoc* doc);
    virtual ~CMosaicTile();
    CMosaicTile(const CMosaicTile&) = delete;
    CMosaicTile& operator=(const CMosaicTile&) = delete;

    // Results of WriteTile.
    enum { kWritten = 0, kAborted = 1, kFailed = 2 };

    // Writes the tile from its contributing orthophotos in centre-first order, each corrected
    // radiometrically first when applyBalancing is set. progress shows the work inside the tile
    // (may be null); abort points to the flag an Abort button raises (may be null). Returns
    // kWritten (also when no orthophoto contributes: then no file is left), kAborted (the tile
    // file removed) or kFailed (told as "unable to create PATH file", with its cause in the
    // command line, when the file could not be made).
    int WriteTile(int applyBalancing, ProgressSink* progress, int* abort);

    // Those of the orthophotos with a seamline polygon that overlaps the outline, in their order.
    std::vector<COrtho*> ContributingOrthos() const;
    // Replaces the orthophoto list by its contributing orthophotos; returns their count.
    int CollectContributingOrthos();
    // The label map of the ordered orthophotos: per cell of the working scale the index of the
    // owning orthophoto as three bytes (high byte in channel 0), white where none owns it. It
    // reaches margin cells beyond the tile on every side, so that the seam masks know who owns
    // the land around the tile: a region that crosses the tile's edge is not blurred there.
    cv::Mat BuildLabelMap(double workingScale, int margin) const;
    // Copies the orthophoto with label k into the open tile along its blurred seam mask. Returns 1
    // when the orthophoto was processed, 0 without dataset or when the abort flag was seen.
    int FillFromOrtho(int label, COrtho* ortho, const cv::Mat& labels, ProgressSink* progress, int* abort,
                      double balancingScale, int applyBalancing, double divisor);
    // Fits the orthophoto's correction grids to the project's balancing map. 1 on success.
    int ComputeColorTransform(COrtho* ortho);

    CKelvaroDoc* m_pDoc;
    QString m_strOutputPath;
    QString m_strName;
    CPgon m_Outline;
    std::vector<COrtho*> m_Orthos;
    GDALDatasetH m_pDataset = nullptr;
    double m_geoTransform[6] = {0, 0, 0, 0, 0, 0};
    int m_width = 0;
    int m_height = 0;
    double m_minX = DBL_MAX;
    double m_maxX = -DBL_MAX;
    double m_minY = DBL_MAX;
    double m_maxY = -DBL_MAX;
    int m_nTransitionMode = 1;
    int m_nCustomTransitionWidth = 15;

private:
    int m_nLabelMargin = 0;
    int m_nBands = 0;
    GDALDataType m_type = GDT_Unknown;
};

// The working scale of the seam masks: the project's seamline scale factor, at least 1 (a project
// whose seamlines were never built has 0).
double SeamlineWorkingScale(double seamlineScaleFactor);
// The pixels that cover a length: ceil(|length| / |pixel|), where a millionth of a pixel beyond a
// whole count is the rounding of the coordinates, not one more pixel.
int PixelSpan(double length, double pixel);
// Width in working-scale cells of the seam transition of a mode (0: hard seams).
int TransitionWidth(int mode, int customWidth);
// The side of the Gaussian kernel that blurs a seam of that width (odd).
int TransitionKernelSize(int width);
// Cells by which a block's extent is widened when asking whether the orthophoto owns any of it.
int BlockMargin(double workingScale);
// Values that blended and corrected pixels are held within: each type's extremes are kept out.
void GetMosaicValueRange(GDALDataType type, double* lo, double* hi);
// The divisor that turns 8-bit corrections into the type's range.
double CorrectionDivisor(GDALDataType type);

// A new image of the size whose cells have the type's depth, or an empty one for types outside
// Byte ... Float64.
cv::Mat CreateImageForGDALType(cv::Size size, GDALDataType type, int channels);
// Writes one pixel's band values; integer types take them truncated toward zero.
void SetImagePixelFromDoubles(cv::Mat& image, GDALDataType type, int column, int row, const double* values);

// The world file beside a raster (extension "tfw").
QString WorldFilePath(const QString& rasterPath);
// Its text for a geotransform: six "%.30lf" lines (pixel width, the two rotation terms, pixel
// height, the centre of the upper-left pixel) without a final newline.
QString WorldFileText(const double* geoTransform);
// Writes the world file at path through the write layer; with temporary given, the complete file
// is left under the temporary name it names, for the caller to put in place with its raster.
bool WriteWorldFile(const QString& path, const double* geoTransform, QString* temporary = nullptr);
