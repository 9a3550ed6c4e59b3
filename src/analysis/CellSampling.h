// Sampling a DEM's grid between its cells for the measurement tools. A cell's value stands at the
// cell's centre, as GDAL and every other tool here take it: a grid of a plane gives back the plane
// at every position on it.
#pragma once

#include <opencv2/core.hpp>

// The height at a position of a single-channel Float32 grid (-9999 or NaN for no data), given in
// cells from the grid's top-left corner (column = (x - x0) / pixel width, row = (y - y0) / pixel
// height): -9999 off the grid or in a cell without data. Elsewhere the bicubic interpolation
// between the sixteen cell centres around it; where some of them are missing, the bilinear one of
// the four around it over those with data. In the outer half of a border cell, where the grid has
// no centre beyond, the slope of its two nearest centres goes on (the cell's own value when one of
// them has no data).
double SampleAtCellCentres(const cv::Mat& grid, double column, double row);

// The column (or row) of the first of the four centres that a position's interpolation stands on,
// and the position's fraction beyond that centre.
struct CentreBase {
    int cell;
    double fraction;
};
inline CentreBase CentreBaseOf(double position) {
    const double u = position - 0.5;
    const double cell = std::floor(u);
    return {static_cast<int>(cell), u - cell};
}
