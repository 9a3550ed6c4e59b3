// The first stage of seamline generation: one straight-edged seam polygon per image (the Voronoi
// cell of the image's centre cut to the area the images cover), and the split of every polygon
// outline into seam segments that know which image lies on their other side.
#pragma once

#include <vtkPointLocator.h>
#include <vtkSmartPointer.h>

#include <cstdint>
#include <vector>

#include "platform/geometry/Pgon.h"
#include "platform/math/Wml.h"

class CDEM;
class COrtho;
class ProgressSink;

// One edge of a seam polygon, from vertex k to vertex k + 1 of its contour (the last back to
// vertex 0), in map coordinates. neighbour: the index of the image on the other side, -1 for an
// edge on the outline of the covered area.
struct SeamSegment {
    int32_t neighbour = -1;
    Wml::Point2 start;
    Wml::Point2 end;
};

// An indexed vertex of another polygon found at a polygon's vertex.
struct SeamVertexImage {
    int image = -1;
    int vertex = -1;
};

// Per polygon, its segments in contour and vertex order.
using SeamSegmentLists = std::vector<std::vector<SeamSegment>>;
// Per polygon, per vertex (contours one after the other), the indexed vertices of other images
// that lie at it.
using SeamVertexImageLists = std::vector<std::vector<std::vector<SeamVertexImage>>>;

// Seam polygons of orthophotos (and, below, of DEMs), one per image in list order. Each image's
// site is its raster's centre; its polygon is the Voronoi cell of the site (in the box of all the
// raster extents) cut to the union of the images' extents in the drawing (the bounding boxes of
// their raster entities). Also gives the largest raster pixel count and the median one (the upper
// of the two middle values for an even count). False when the list is empty, an image is missing
// or has no raster (an orthophoto without dataset; a DEM without dataset and grid), or the cells
// cannot be built; the progress position is set to 0.
bool BuildVoronoiSeamPolygons(const std::vector<COrtho*>& images, std::vector<CPgon>& polygons,
                              int64_t& largestPixelCount, int64_t& medianPixelCount, ProgressSink* progress);
bool BuildVoronoiDemSeamPolygons(const std::vector<CDEM*>& images, std::vector<CPgon>& polygons,
                                 int64_t& largestPixelCount, int64_t& medianPixelCount,
                                 ProgressSink* progress);

// The vertex index: every vertex (z 0, kept in double precision) of every polygon of exactly one
// contour, in polygon and vertex order, with the integer point arrays "ImageIndex" and "ImagePointIndex", and
// a point locator built on it. Polygons of several contours (a region cut in pieces, or with holes)
// contribute no vertices.
vtkSmartPointer<vtkPointLocator> BuildSeamVertexIndex(const std::vector<CPgon>& polygons);

// Splits every polygon into its segments. The neighbour of the segment from vertex k to k + 1 is
// the image of the first indexed vertex within r = mean pixel size / 100 of vertex k + 1 that
// belongs to another image also found within r of vertex k; -1 when there is none. Fills one list
// per polygon in both outputs (the vertex lists record every other image's indexed vertex found at
// each vertex). Returns 1 on success; 0 when the locator or an output is missing or the locator's
// data set is not a poly-data whose "ImageIndex" and "ImagePointIndex" integer arrays name the
// given polygons.
int CollectVertexImages(const std::vector<CPgon>& polygons, vtkPointLocator* locator, double meanPixelSize,
                        SeamSegmentLists* segments, SeamVertexImageLists* vertexImages,
                        ProgressSink* progress);
