// The terrain section of a DEM along a line of the plan, and its graph: x is the distance along
// the line from its first vertex, y the elevation times the vertical exaggeration (Z scale).
#pragma once

#include <QString>

#include <optional>
#include <vector>

#include "platform/math/Wml.h"

class CDEM;
struct CadDrawing;
struct CadLayer;

struct ProfileSection {
    // The sampled pieces, each a polyline of (distance, elevation); a break at no data starts a
    // new piece.
    std::vector<std::vector<Wml::Point2>> pieces;
    // The ranges of the samples with data.
    double minDistance = 0.0;
    double maxDistance = 0.0;
    double minElevation = 0.0;
    double maxElevation = 0.0;
    bool empty = true;  // no sample had data
};

// Samples the DEM's elevation along the line (x and y of its vertices): from each vertex every
// step units along its segment, and the segment's end once more when the last step fell short of
// it; a vertex shared by two segments is sampled once, and segments of no length are skipped.
// Samples without data are left out; with breakOnNoData they also end the current piece.
ProfileSection SampleProfile(CDEM& dem, const std::vector<Wml::Point3>& line, double step,
                             bool breakOnNoData);

// Draws the section's graph into the drawing: the pieces as polylines on the layer, and on the
// current layer the horizontal rules every fifth of the elevation range with their labels, the
// vertical rules every fifth of the distance range and the reference line with its label. A flat
// section gets one horizontal rule at its height, a section of one distance one vertical rule.
void DrawProfileGraph(CadDrawing* drawing, CadLayer* layer, const ProfileSection& section, double reference,
                      double zScale);

// The plan point at that distance along the line, walking its segments from the first vertex
// (segments of no length are skipped); none beyond its end.
std::optional<Wml::Point2> PointAtDistance(const std::vector<Wml::Point3>& line, double distance);

// Where the vertical through x, from above top to below bottom, first cuts an open polyline of the
// layer; none when it cuts none.
std::optional<Wml::Point2> CutProfile(CadLayer* layer, double x, double top, double bottom);

// The readout of a point of the graph at graph height y: the absolute elevation and, against the
// reference, the relative one (the absolute one again without a reference).
struct ProfileReadout {
    QString absolute;    // "Absolute Z: %.3lf"
    QString relative;    // "Relative Z: %.3lf"
    bool below = false;  // below the reference: drawn in red, else in green
};
ProfileReadout ReadoutAt(double y, double zScale, double reference);
