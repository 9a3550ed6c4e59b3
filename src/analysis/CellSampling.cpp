#include "analysis/CellSampling.h"

#include <algorithm>
#include <cmath>

#include "raster/DEM.h"

double SampleAtCellCentres(const cv::Mat& grid, double column, double row) {
    if (grid.empty() || !(column >= 0.0 && row >= 0.0 && column < grid.cols && row < grid.rows)) {
        return kNoData;
    }
    const float own = grid.at<float>(static_cast<int>(row), static_cast<int>(column));
    if (IsNoData(own)) {
        return kNoData;
    }
    CentreBase x = CentreBaseOf(column);
    CentreBase y = CentreBaseOf(row);
    if (x.cell >= 0 && x.cell + 1 < grid.cols && y.cell >= 0 && y.cell + 1 < grid.rows) {
        return InterpolateBicubic(grid, x.cell, y.cell, x.fraction, y.fraction);
    }
    // Beyond the outermost centres: the four nearest centres, the position outside them.
    const auto inward = [](CentreBase& base, double position, int count) {
        if (count < 2) {
            base = {0, 0.0};
            return;
        }
        base.cell = std::clamp(base.cell, 0, count - 2);
        base.fraction = position - 0.5 - base.cell;
    };
    inward(x, column, grid.cols);
    inward(y, row, grid.rows);
    for (int r = y.cell; r <= std::min(y.cell + 1, grid.rows - 1); ++r) {
        for (int c = x.cell; c <= std::min(x.cell + 1, grid.cols - 1); ++c) {
            if (IsNoData(grid.at<float>(r, c))) {
                return own;
            }
        }
    }
    return InterpolateBilinear(grid, x.cell, y.cell, x.fraction, y.fraction);
}
