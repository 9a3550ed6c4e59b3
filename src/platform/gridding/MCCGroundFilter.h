// Ground filter of a LAS point cloud by multiscale curvature classification: over three scale
// domains, a surface is interpolated from the points still taken as ground, smoothed, and every
// point that stands higher above it than the threshold is taken off the ground; each domain
// repeats until hardly any point goes. Buildings go ring by ring from their edges inwards. The
// surface is a thin plate through the ground nodes (the gap filler's), so that terrain keeps its
// rounding where points were taken off; its nodes are never closer than the points (the cells
// of a raster's lattice, or one and a half times the spacing of scattered points), and where
// they stand further apart than the domain's scale the threshold grows with the square of the
// ratio, as the same curvature stands higher above coarser surroundings.
#pragma once

#include <QString>

class ProgressSink;

class CMCCGroundFilter {
public:
    CMCCGroundFilter() = default;

    // scale: the scale of the surfaces in map units (about the point spacing; larger for larger
    // objects); the three domains use 0.5, 1 and 1.5 times it. curvatureThreshold: how
    // far (in height units) a point may stand above the surface of the first domain, growing by
    // 0.1 in each following domain. Writes the ground points, with classification 2 and all
    // their other fields as read, to outputPath in the input's format. progress (may be null)
    // runs from 0 to 100; status (may be null) receives the current step or the reason of a
    // failure; a non-zero *abortFlag (or an aborted progress) stops the run. Non-zero on success.
    int Process(double scale, double curvatureThreshold, const QString& inputPath, const QString& outputPath,
                ProgressSink* progress, QString* status, int* abortFlag);
};
