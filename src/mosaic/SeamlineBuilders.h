// The seamline builders: the joint area of several orthophotos (or DEMs) of one pixel size is
// partitioned into one region per image, each shared boundary routed through the overlap of its
// two images, and the regions are kept as the "pol" and "sml" files of SeamlineFiles.h and handed
// back as closed polylines in a temporary drawing, each pointing to its image.
//
// A build runs in passes over the images, in list order:
//   Prepare       the seam polygons and segments, the working grid and its scale factor s, the
//                 folders beside the project; the "pol" files of the last build are deleted;
//   RoutePass     each image read at 1 / s, its seams routed, its outline written as its "pol";
//   ReadBackPass  every "pol" file read back as the image's region;
//   TrimPass      each region trimmed by the others (slivers under 20 square cells dropped),
//                 written as its "sml" file and added to the temporary drawing.
// DEMs are first coloured on one elevation scale shared by all of them (DemToJetImage), and from
// then on treated as orthophotos.
//
// Results: 0 success, -2 failure, -3 aborted by the operator (the abort flag, polled between
// steps while messages are pumped), -4 the project was never saved. Files written before a
// failure stay on disk; the project's drawing and layers are not touched by a build.
#pragma once

#include <QString>

#include <opencv2/core.hpp>

#include <cstdint>
#include <memory>
#include <vector>

#include "mosaic/CentralImagineryParams.h"
#include "mosaic/SeamPolygons.h"
#include "mosaic/SeamRouting.h"
#include "mosaic/SeamlineFiles.h"
#include "platform/cad/Cad.h"
#include "platform/geometry/Pgon.h"
#include "raster/DEM.h"

class CKelvaroDoc;
class COrtho;
class ProgressSink;

constexpr int kSeamlineBuildDone = 0;
constexpr int kSeamlineBuildFailed = -2;
constexpr int kSeamlineBuildAborted = -3;
constexpr int kSeamlineProjectNotSaved = -4;

// Regions of fewer square working-grid cells are dropped by the trimming.
constexpr double kSeamlineMinimumArea = 20.0;

// The build's reduction factor s: max(1, rint(max(median / 1000000, sqrt(largest / 6000000))))
// for the median and largest raster pixel counts.
double SeamlineScaleFactorFor(int64_t largestPixelCount, int64_t medianPixelCount);

// A DEM grid (single-channel Float32) coloured for seam routing: value v becomes
// rint(255 · (v − lo) / (hi − lo)), limited to 0 ... 255, coloured with OpenCV's jet map
// (blue-green-red; none of its colours is black). Cells without data (-9999 or NaN) are black,
// so that masks, overlaps and seams keep to the cells with data. With hi ≤ lo every cell with data
// takes the colour of 0. Empty for another image type.
cv::Mat DemToJetImage(const cv::Mat& heights, cv::Vec2f range);

// A DEM as seam routing sees it: its heights (from the grid in memory, else from its file, with
// the band's scale, offset and no data) read whole at trunc(width / s) by trunc(height / s) cells,
// coloured on the range and blacked out outside its valid area; its geotransform too. 1 on
// success; 0 when the DEM has no raster, reduces to nothing or cannot be read.
int ReadDemSeamImage(CDEM* dem, double scale, cv::Vec2f range, cv::Mat& image, double geoTransform[6]);

// The DEMs of a build read through their layers (CDEM::GetRegion), coloured on the shared range and
// masked like the image being routed.
class DemSeamImageSource : public SeamImageSource {
public:
    DemSeamImageSource(std::vector<CDEM*> dems, cv::Vec2f range) : m_dems(std::move(dems)), m_range(range) {}
    bool Open(int index, double geoTransform[6]) override;
    bool Read(const cv::Rect& window, cv::Mat& image) override;
    void Close() override { m_open = nullptr; }

private:
    std::vector<CDEM*> m_dems;
    cv::Vec2f m_range;
    CDEM* m_open = nullptr;
};

// What a build keeps of one image.
struct SeamlineImage {
    QString name;                 // the layer name, which names its files
    QString path;                 // its raster
    void* record = nullptr;       // its COrtho or CDEM: the user pointer of its polylines
    CadEntity* entity = nullptr;  // its image place, whose extent it covers in the drawing
    double pixelWidth = 0.0;
};

// The images of one build and how they are read: orthophotos or DEMs.
class SeamlineImageSet {
public:
    virtual ~SeamlineImageSet() = default;
    // The layer of the temporary drawing, which also names the folder of the "sml" files.
    virtual const char* Layer() const = 0;
    const std::vector<SeamlineImage>& Images() const { return m_images; }
    // The straight-edged seam polygons and the pixel counts (SeamPolygons.h).
    virtual bool BuildPolygons(std::vector<CPgon>& polygons, int64_t& largestPixelCount,
                               int64_t& medianPixelCount, ProgressSink* progress) = 0;
    // Image `index` whole at 1 / scale as the router takes it (ReadOrthoSeamImage). 1 or 0.
    virtual int ReadImage(int index, double scale, cv::Mat& image, double geoTransform[6]) = 0;
    // The reader of the later image of a routed pair.
    virtual SeamImageSource& Neighbours() = 0;

protected:
    std::vector<SeamlineImage> m_images;
};

class OrthoSeamlineImages : public SeamlineImageSet {
public:
    explicit OrthoSeamlineImages(const std::vector<COrtho*>& images);
    const char* Layer() const override { return kSeamLinesLayer; }
    bool BuildPolygons(std::vector<CPgon>& polygons, int64_t& largestPixelCount, int64_t& medianPixelCount,
                       ProgressSink* progress) override;
    int ReadImage(int index, double scale, cv::Mat& image, double geoTransform[6]) override;
    SeamImageSource& Neighbours() override { return *m_neighbours; }

private:
    std::vector<COrtho*> m_records;
    std::unique_ptr<OrthoSeamImageSource> m_neighbours;
};

// DEMs, coloured on the joint range: the smallest minimum elevation to the largest maximum.
class DemSeamlineImages : public SeamlineImageSet {
public:
    explicit DemSeamlineImages(const std::vector<CDEM*>& images);
    const char* Layer() const override { return kSeamLinesDemLayer; }
    bool BuildPolygons(std::vector<CPgon>& polygons, int64_t& largestPixelCount, int64_t& medianPixelCount,
                       ProgressSink* progress) override;
    int ReadImage(int index, double scale, cv::Mat& image, double geoTransform[6]) override;
    SeamImageSource& Neighbours() override { return *m_neighbours; }
    cv::Vec2f Range() const { return m_range; }

private:
    std::vector<CDEM*> m_records;
    cv::Vec2f m_range;
    std::unique_ptr<DemSeamImageSource> m_neighbours;
};

// One build, pass by pass (Run does them all). Each pass returns 0 or a negative result, after
// which the build goes no further. An image whose raster cannot be read, or a polygon file that
// cannot be written or read back, fails the build (-2) and names the file in the project's command
// line: a partition with a hole would otherwise pass for a complete one.
class SeamlineBuild {
public:
    SeamlineBuild(CKelvaroDoc* doc, SeamlineImageSet& images, double pixelSize,
                  const CCentralImagineryParams& centralImagery, ProgressSink* progress,
                  const int* abortFlag);
    ~SeamlineBuild();
    SeamlineBuild(const SeamlineBuild&) = delete;
    SeamlineBuild& operator=(const SeamlineBuild&) = delete;

    int Prepare();
    int RoutePass();
    int ReadBackPass();
    int TrimPass();
    // Hands the temporary drawing over, writes the scale factor into the document
    // (SeamlineScaleFactor) and resets the progress position; 0.
    int Finish(CadDrawing** temporary);
    // Deletes the drawing the handle holds, then runs every pass and finishes.
    int Run(CadDrawing** temporary);

    double Scale() const { return m_grid.scale; }
    const SeamlineGrid& Grid() const { return m_grid; }
    QString PolFolder() const;
    QString SmlFolder() const;
    // The regions in working-grid cells: as read back, then as trimmed.
    const std::vector<CPgon>& Regions() const { return m_regions; }

private:
    bool Aborted() const { return m_abortFlag && *m_abortFlag; }
    // Pumps messages and tells whether the operator asked to stop.
    bool PumpAborted() const;
    void SetPos(int pos) const;
    // Names the cause of a failure in the project's command line; -2.
    int Fail(const QString& text) const;
    void DropDrawing();

    CKelvaroDoc* m_doc;
    SeamlineImageSet& m_images;
    double m_pixelSize;
    CCentralImagineryParams m_centralImagery;
    ProgressSink* m_progress;
    const int* m_abortFlag;

    QString m_projectFolder;
    double m_meanPixelSize = 0.0;
    SeamlineGrid m_grid;
    std::vector<CPgon> m_polygons;
    SeamSegmentLists m_segments;
    std::vector<CPgon> m_regions;
    CadDrawing* m_drawing = nullptr;
};

// The builds the seamline generation runs: orthophotos (layer "SeamLines") and DEMs (layer
// "SeamLines_DEM"), all of the same pixel size p. On success *temporary holds the new drawing,
// which the caller deletes; otherwise it holds none.
int BuildOrthoSeamlines(CKelvaroDoc* doc, const std::vector<COrtho*>& images, CadDrawing** temporary,
                        double pixelSize, CCentralImagineryParams centralImagery, ProgressSink* progress,
                        const int* abortFlag);
int BuildDemSeamlines(CKelvaroDoc* doc, const std::vector<CDEM*>& images, CadDrawing** temporary,
                      double pixelSize, CCentralImagineryParams centralImagery, ProgressSink* progress,
                      const int* abortFlag);
