// The checks of pairs whose results are not plain rasters of one grid: contour lines compared
// vertex by vertex, triangulations triangle by triangle, partitions of a mosaic cell by cell,
// lines burnt into a DEM cell by cell with the cells the two rules are known to part on, figures
// where lower is better against a stated margin, and several checks that must all hold. Each gives
// an empty text when the results agree and what differs otherwise, and describes the agreement in
// *agreed (Bench.h, Pair::check).
#pragma once

#include <ogr_api.h>

#include <array>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "Data.h"
#include "platform/math/Wml.h"

class vtkPolyData;

namespace bench {

// Calls visit with every line of a line file's first layer, the parts of multi-lines one by one;
// false when the file does not open.
bool ForEachLine(const std::string& path, const std::function<void(OGRGeometryH line)>& visit);

// ---- Lines (contours): their vertices, wherever each side starts a line or whichever way it runs.

// The lines of two line files and the share of each side's vertices that lie within `tolerance`
// (in x, y and z) of a vertex of the other side.
struct LineAgreement {
    std::string error;
    long lines[2] = {0, 0};
    long vertices[2] = {0, 0};
    long matched[2] = {0, 0};  // vertices of each side with a partner on the other
};
// A box of map coordinates: x0, y0, x1, y1 (x0 <= x1, y0 <= y1).
using Box = std::array<double, 4>;
// Vertices within a box of leftOut (its sides included) are left out on both sides.
LineAgreement CompareLineVertices(const std::string& ours, const std::string& theirs, double tolerance,
                                  const std::vector<Box>& leftOut = {});
// Passes when both have the same number of lines and at least `share` of each side's vertices have
// a partner.
Check LinesAgree(const std::string& ours, const std::string& theirs, double tolerance, double share = 0.999);
// The lines of two grids that differ only inside the boxes (a few cells changed): outside them every
// vertex of each side has a partner; the lines themselves may part and join inside, so their
// numbers may differ.
Check LinesAgreeOutside(const std::string& ours, const std::string& theirs, double tolerance,
                        const std::vector<Box>& leftOut);

// ---- Triangulations: the triangles themselves, as triples of indices of the points both sides
// were given.

using Triangle = std::array<int, 3>;
// For each point, the index of the first point at the same place: both sides name a point given
// twice alike, whichever copy their triangulation kept.
std::vector<int> FirstOfEach(const std::vector<Wml::Point3>& points);
// The triangles of a triangulation, each point named by names[id] (a point past the names, such as
// a crossing the triangulation added, by -1 - id).
std::vector<Triangle> TrianglesOf(vtkPolyData& tin, const std::vector<int>& names);
// Writes the triangles (in the check run only, as KeepRaster); true when nothing had to be written
// or it was written.
bool KeepTriangles(const std::vector<Triangle>& triangles, const std::string& path);
// Passes when each side has at least `share` of its triangles in common with the other (the same
// three points, in any order).
Check TrianglesAgree(const std::string& ours, const std::string& theirs, double share = 0.999);

// ---- Partitions: 8-bit label rasters of one grid, 0 for a cell no part covers.

// Passes when at least `share` of the cells either side labels carry the same label on both.
Check PartitionsAgree(const std::string& ours, const std::string& theirs, double share);

// ---- Pictures (8-bit, of one size): passes when at most `share` of the cells differ by more than
// `levels` in a channel, with one picture shifted by at most a pixel each way (the shift that
// leaves the fewest cells apart).
Check PicturesAgree(const std::string& ours, const std::string& theirs, int levels, double share);

// ---- Lines burnt into a DEM.

// Ours writes the cells its walk along each side crosses, GDAL's -at every cell a line touches:
// the two may part on a cell a line only grazes (crosses between two of its sides, no vertex
// inside, by less than `grazing` cell widths; runs within a hundredth of a cell of one of its
// sides, where GDAL's test may place the line on either side; touches at a corner), whatever other
// line crosses it. Passes when every cell further apart than `tolerance`, or filled by one side
// only, is such a cell.
Check BurntLinesAgree(const std::string& ours, const std::string& theirs, const std::string& lines,
                      double tolerance, double grazing);

// ---- Slope maps: ours (three bands, the slope's tangent in the third, from planes fitted to 7 x 7
// cells) against gdaldem slope -p (percent, from Horn's 3 x 3 gradient). The two gradients differ
// where the terrain bends within 7 cells: passes when the median difference is below half a
// percentage point and at most 2 % of the cells are more than 5 points apart.
Check SlopesAgree(const std::string& ours, const std::string& theirs);

// ---- Figures where lower is better.

// Empty when ours is at most the peer's plus `absolute` plus `relative` times the peer's; else a
// text naming the figure and both values.
std::string NoWorse(const std::string& figure, double ours, double peer, double absolute, double relative);

// How much a filter changed a bare-earth DEM, over the cells both hold.
struct BareEarthChange {
    bool read = false;
    double median = 0.0;   // median absolute change
    double lowered = 0.0;  // share of the cells lowered by more than 1
    double within = 0.0;   // share of the cells changed by at most 1
    double lowest = 0.0;   // the largest lowering (a positive number)
    std::string Text() const;
};
BareEarthChange ChangeOfBareEarth(const std::string& input, const std::string& result);

// ---- Several checks that must all hold: the first that fails names itself; *agreed joins all.
Check AllAgree(std::vector<std::pair<std::string, Check>> checks);

}  // namespace bench
