// Slope maps of terrain models: per cell, a plane fitted by total least squares to the 7 x 7 cells
// around it gives the horizontal components of its upward unit normal and the tangent of its
// slope angle. The CREATESLOPEMAP command writes them as the three bands of "%s_SlopeMap" beside
// the terrain model; the slope-arrow command starts the same way.
#pragma once

#include <QString>

#include <opencv2/core.hpp>

struct CadDrawing;

// The slope grid of a Float32 elevation grid: three Float32 channels (x and y components of the
// upward unit normal, tangent of the slope angle), every channel noData where a cell has no fit.
// Samples are placed at x = column * pixelWidth, y = row * term5 (geotransform terms 1 and 5), so
// on a north-up grid (band 1, band 2) points down the slope in map coordinates. Only full 7 x 7
// windows are fitted (a border of 3 cells stays noData), from the samples that are not noData, and
// only when there are at least 16 of them. A NaN sample (when noData itself is not NaN) leaves
// every window it is in without a fit. Runs in parallel; the result is the same as one by one.
cv::Mat ComputeSlopeGrid(const cv::Mat& dem, double noData, double pixelWidth, double term5);

// A terrain model held whole for the slope computation.
struct SlopeDtm {
    cv::Mat grid;  // Float32
    double geoTransform[6] = {0, 0, 0, 0, 0, 0};
    QString projection;
    double noData = 0.0;
};

// Reads the terrain model at the path, opened read-only: a raster with a geotransform, exactly one
// Float32 band and a no-data value on it. Tells the operator "Unable to open DTM file!" or
// "Invalid DTM file!" (a file refused, or one whose cells cannot be read) and answers false.
bool ReadSlopeDtm(const QString& path, SlopeDtm* dtm);

// Reads the terrain model, computes its slope grid and writes it to the output path (tiled
// GeoTIFF of three Float32 bands with the model's geotransform, projection and no data). Tells the
// operator every outcome: the reader's refusals, "Unable to save Slope Map!" or "SlopeMap
// generation done". True when written; *noData then holds the model's no-data value.
bool MakeSlopeMap(const QString& dtmPath, const QString& outputPath, double* noData);

// CREATESLOPEMAP: a terrain model file in, its "%s_SlopeMap" beside it. Works from file to file:
// the project's layers are not touched and the command does not hold the drawing.
void CmdCreateSlopeMap(CadDrawing* drawing);
