// The volume of terrain inside an area of interest (AOI) over a DEM: above and below a reference
// elevation, and above and below the plane fitted through the AOI's vertices.
#pragma once

#include <optional>
#include <vector>

#include "platform/math/Wml.h"

class CDEM;
class ProgressSink;

// The reference elevation of a run that has none.
inline constexpr double kUnsetReference = -9999.0;

struct AoiVolumes {
    // In cubic drawing units; empty when the run could not measure them (no reference, no plane,
    // or a DEM window that could not be read).
    std::optional<double> overReference;
    std::optional<double> underReference;
    std::optional<double> overPlane;
    std::optional<double> underPlane;
    // The lowest DEM elevation among the AOI's vertices on data, and the lowest elevation sampled
    // inside the AOI.
    std::optional<double> verticesMinimum;
    std::optional<double> aoiMinimum;
    // The reference the run measured against: the one given, or the vertices minimum when none
    // was given; kUnsetReference when there was neither.
    double reference = kUnsetReference;
    // Samples that lay inside the AOI on data.
    long long samples = 0;
    // The operator stopped the run; the volumes hold what was summed until then.
    bool aborted = false;
};

// Samples the DEM inside the AOI (its vertices in world coordinates, implicitly closed; x and y
// are used) on a lattice of a third of the DEM's pixel width: samples at (min x + i·g, min y + j·g)
// of the AOI's bounding box, each standing for g·g, its elevation interpolated between the cell
// centres (SampleAtCellCentres) in one window of the DEM read around the AOI. Samples on the AOI's
// outline count as inside; an AOI that encloses no area counts none. A sample whose cell has no
// data, or that lies off the DEM, is skipped.
//
// The reference is kUnsetReference for none. The plane is fitted through the vertices on data
// (three or more); a sample's plane height is where the vertical through it meets the plane.
//
// Progress goes from 0 to 100 over the lattice. Between blocks of rows the worker lets pending
// events through (when the rounded progress changes, and otherwise about every 50 ms) and stops
// once *abortFlag is non-zero or the sink reports an abort. Rows are sampled in parallel; the sums
// are kept per row and added in row order, so every run gives the same bits. With fewer than
// three vertices nothing is measured.
AoiVolumes ComputeAoiVolumes(CDEM& dem, const std::vector<Wml::Point3>& aoi, double reference,
                             ProgressSink* progress = nullptr, const int* abortFlag = nullptr);
