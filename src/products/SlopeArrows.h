// The slope-arrow map: white arrows burnt into a copy of an orthophoto, one every 10 cells of a
// slope map, pointing down the slope and longer the steeper it is; beside it a legend of five
// reference arrows and a summary of the extreme slopes.
#pragma once

#include <array>

#include <opencv2/core.hpp>

struct CadDrawing;

// The six corners of an arrow of the given length (pixels) anchored at (x, y) and turned by the
// angle (radians, image coordinates): it runs from 2/3 of its length behind the anchor to its full
// length ahead, its shaft 0.4/3 and its head 1.4/3 of the length wide. Corners rounded half to even.
std::array<cv::Point, 6> ArrowPolygon(double length, double angle, double x, double y);

// How arrows are sized: lengths minLen + K x tangent, at most maxLen (pixels); K = maxLen / S.
struct ArrowScale {
    float minLen = 18.0f;
    float maxLen = 0.0f;
    float S = 0.0f;  // the tangent that gets the longest arrow
    float K = 0.0f;
};
// maxLen = (slope cell / orthophoto pixel) x 10 x multiplier; K = maxLen / S.
ArrowScale MakeArrowScale(double minLength, double multiplier, double maxSlopePercent, double slopePixelWidth,
                          double orthoPixelWidth);

// The extremes over the sampled cells: slopes in percent and arrow lengths. Without a sampled cell
// the minima are the largest float and the maxima the lowest.
struct ArrowStats {
    float Dmin, Dmax, Emin, Emax;
    int samples = 0;
};

// Burns the arrows of every 10th row and column of the slope grid (three Float32 channels of
// geotransform sgt, noData where band 1 has none) into the 8-bit three-channel orthophoto of
// geotransform ogt; a sample of slope 0 counts for the extremes but gets no arrow.
ArrowStats DrawSlopeArrows(cv::Mat& ortho, const double* ogt, const cv::Mat& slope, const double* sgt,
                           double noData, const ArrowScale& scale);

// The 450 x 80 summary: maximum and minimum slope in percent and in degrees.
cv::Mat MakeArrowSummary(const ArrowStats& stats);
// The 450 x 460 legend: five reference arrows from the longest to the shortest with their slopes.
cv::Mat MakeArrowLegend(const ArrowStats& stats, const ArrowScale& scale);

// DRAWARROW: the slope map of a terrain model, then the arrow map, legend and summary of an
// orthophoto beside the terrain model. Neither holds the drawing nor changes the project's layers.
void CmdDrawArrow(CadDrawing* drawing);
