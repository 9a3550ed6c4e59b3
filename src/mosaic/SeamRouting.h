// The second stage of seamline generation: each image's seam segments become the outline of its
// region. An outer edge stays straight; an edge shared with a later image is replaced by a seam
// routed by the grid search through the overlap of the two images, along pixels where they look
// alike; an edge shared with an earlier image takes the seam that image routed, so that both
// regions share exactly one boundary. All of it happens in the working grid (SeamlineGrid) on
// rasters reduced by the build's scale factor s.
#pragma once

#include <QString>

#include <gdal.h>
#include <opencv2/core.hpp>

#include <vector>

#include "mosaic/CentralImagineryParams.h"
#include "mosaic/SeamPolygons.h"
#include "mosaic/SeamlineFiles.h"
#include "platform/geometry/Pgon.h"

// The polygon of the outer contours of a binary mask that cover at least 5 % of the mask's area,
// every vertex moved by (dx, dy) less a pseudo-random fraction of a cell (the same for x and y,
// drawn per vertex) so that no two masks give coinciding edges. Empty when no contour qualifies.
CPgon PgonFromMaskContours(const cv::Mat& mask, cv::Point2d offset);
// Seeds the fractions of PgonFromMaskContours with a fixed value (tests); a negative seed goes back
// to seeding from the clock at every call.
void SetMaskContourJitterSeed(long long seed);

// The image of an orthophoto as seam routing sees it: the whole raster read at trunc(width / s) by
// trunc(height / s) pixels (8-bit blue, green, red) and blacked out outside its valid area. Gives
// the raster's geotransform too. 1 on success; 0 when the raster cannot be opened, has no
// geotransform, reduces to nothing or cannot be read.
int ReadOrthoSeamImage(const QString& path, double scale, cv::Mat& image, double geoTransform[6]);
// Sets every channel to 0 outside the image's valid area (BuildValidAreaMask).
void BlackOutsideValidArea(cv::Mat& image);
// 255 where the image's grey value (channel 0 weighted as red) is above 1, else 0. The router
// takes it dilated once with a 3 × 3 element.
cv::Mat SeamValidMask(const cv::Mat& image);

// Overlap mask and cost of two images of the same size (8-bit, three channels): where both have a
// non-zero channel the overlap is 255 and the cost min(254, c1 + c2) with
// c1 = trunc(0.3 · max(a2, b2)) and c2 = trunc((3·|a2 − b2| + |a1 − b1| + |a0 − b0|) / 5 · 0.5);
// elsewhere the overlap is 0 and the cost 254. False (both outputs empty) for images of another
// type or of different sizes.
bool BuildSeamOverlapCost(const cv::Mat& a, const cv::Mat& b, cv::Mat& overlap, cv::Mat& cost);

// The band around the straight seam in which the search may move freely: half-width
// max(16, trunc(mean pixel size · 64 / p / s)) cells, and the cost added per cell beyond it,
// 128 div (2 · half-width).
struct SeamCorridor {
    int halfWidth = 16;
    int slope = 4;
};
SeamCorridor SeamCorridorFor(double meanPixelSize, double pixelSize, double scale);

// Shapes the cost image for a seam from start to end: circles of radius 8 and cost 64 around both
// ends; beyond two cells past either end along the axis every pixel becomes a wall (255) unless it
// lies outside the overlap (254); farther than the half-width from the axis the cost grows by the
// corridor's slope per cell, limited to 254.
void ShapeSeamCost(cv::Mat& cost, cv::Point start, cv::Point end, const SeamCorridor& corridor);

// The seam from start to end over the shaped cost image: the grid search (walls at 255, node cost
// trunc(c^1.5), straight step 14, diagonal step 12, Euclidean heuristic, uniform-cost order),
// its cells shifted by offset and simplified to 0.49 cells. Without a path, the two end cells
// shifted by offset. Returns 1; -3 when the abort flag was raised once the grid was made.
int SearchSeam(const cv::Mat& cost, cv::Point start, cv::Point end, cv::Point2f offset, const int* abortFlag,
               std::vector<cv::Point2f>& seam);

// Reads the other image of a routed seam. The orthophoto builder uses OrthoSeamImageSource; the DEM
// builder gives its own (DEMs rendered in colour on a shared elevation scale).
class SeamImageSource {
public:
    virtual ~SeamImageSource() = default;
    // Opens image `index` and gives its geotransform; false when it cannot be opened or has none.
    virtual bool Open(int index, double geoTransform[6]) = 0;
    // Fills `image` (allocated: 8-bit, three channels, blue-green-red) with the pixel window of the
    // open raster, resampled to the image's size; black where the window reaches past the raster.
    // False when nothing can be read.
    virtual bool Read(const cv::Rect& window, cv::Mat& image) = 0;
    // Releases what Open took.
    virtual void Close() = 0;
};

// Orthophotos by their raster paths (opened read-only for each seam), masked like the image
// being routed (BlackOutsideValidArea).
class OrthoSeamImageSource : public SeamImageSource {
public:
    explicit OrthoSeamImageSource(std::vector<QString> paths) : m_paths(std::move(paths)) {}
    ~OrthoSeamImageSource() override { Close(); }
    bool Open(int index, double geoTransform[6]) override;
    bool Read(const cv::Rect& window, cv::Mat& image) override;
    void Close() override;

private:
    std::vector<QString> m_paths;
    GDALDatasetH m_dataset = nullptr;
};

// A seam in working-grid cells.
using SeamPath = std::vector<cv::Point2f>;

// Routes the images of one build in list order. It keeps, for every segment of every image, the
// seam routed for it, until the image on the segment's other side takes it over.
class SeamRouter {
public:
    // segments: from CollectVertexImages; neighbours: reads the later image of a routed pair;
    // abortFlag: the caller's flag (non-zero: stop), polled between steps. The segment lists and
    // the source must outlive the router.
    SeamRouter(const SeamlineGrid& grid, double meanPixelSize, const CCentralImagineryParams& centralImagery,
               const SeamSegmentLists& segments, SeamImageSource& neighbours, const int* abortFlag);

    // Turns the segments of image `index` into its outline (working-grid points, appended).
    // a: the image as ReadOrthoSeamImage gives it; validMask: SeamValidMask(a) dilated once;
    // geoTransform: the image's. Returns 0 when done; -2 when the central-imagery settings are
    // invalid or the images do not fit (a not 8-bit three-channel, mask of another size); -3 when
    // the abort flag was raised.
    int RouteImage(int index, const cv::Mat& a, const cv::Mat& validMask, const double geoTransform[6],
                   std::vector<Wml::Point2>& outline);

    // The stored seams: one per segment of each image, empty once taken over (or never routed).
    const std::vector<std::vector<SeamPath>>& StoredPaths() const { return m_stored; }

private:
    // Index of the segment of image `earlier` that ends where `segment` starts and starts where
    // it ends (within the match radius), or -1.
    int SharedSegment(int earlier, int later, const SeamSegment& segment) const;
    int RouteSegment(int index, int segmentIndex, const cv::Mat& a, const cv::Mat& validMask,
                     const double geoTransform[6], std::vector<Wml::Point2>& outline);
    bool Aborted() const;

    SeamlineGrid m_grid;
    double m_meanPixelSize;
    CCentralImagineryParams m_centralImagery;
    const SeamSegmentLists& m_segments;
    SeamImageSource& m_neighbours;
    const int* m_abortFlag;
    std::vector<std::vector<SeamPath>> m_stored;
};
