// Patch: the cells of an area are replaced by a thin-plate spline fitted through valid cells of a
// ring around it and, optionally, through a constraint point with a typed elevation.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include <opencv2/core.hpp>

#include "demtools/DemEditArea.h"
#include "platform/math/Wml.h"

class CDEM;
class ProgressSink;

// The ring the spline is fitted to: cells within this many 3 x 3 steps of the area, outside it.
inline constexpr int kPatchRingSteps = 6;
// At most this many ring cells, drawn at random, carry the spline, so that its system stays small.
inline constexpr int kPatchSamples = 128;

// Each patch draws its ring samples with a generator of its own, seeded from the clock, so that
// repeated patches of one area differ slightly. Once a seed is set, every later patch seeds its
// generator with it instead and gives the same cells on every run (tests); no seed returns to the
// clock.
void SetPatchDrawSeed(std::optional<uint32_t> seed);

// Fills every cell of the float image with the height at (column, row) of the thin-plate spline
// (basis r^2 log r with an affine part) that passes through the points (x column, y row, z
// height). Returns 0 and leaves the image untouched with fewer than three points or when no
// spline passes through them (all points on one line).
int FillByThinPlateSpline(cv::Mat& spline, const std::vector<cv::Point3f>& points);

// The window's values with the area's cells replaced by the spline through the valid cells of
// the ring around the mask (and through the constraint, in window cells, when given). Area cells
// beyond the bounding box of the valid ring cells keep their values, and so does the whole area
// when the spline cannot be fitted.
cv::Mat SamplePatchBorder(const cv::Mat& values, const cv::Mat& mask, const cv::Point3f* constraint);

// Patches every piece of the area on the DEM, each in a window reaching half the piece's size
// beyond it on the left and top and the rest of its size on the right and bottom (cut at the
// grid's edge); the whole window is written back. The constraint (world x, y and the typed
// elevation as z) is used by the piece whose cells contain it, and lands on the cell that
// contains it. Returns the number of windows written.
int PatchDem(CDEM& dem, const CPgon& area, const Wml::Point3* constraint, ProgressSink* progress,
             const DemEditRecorder& record = {});
