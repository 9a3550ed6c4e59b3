// Gap filling of an elevation grid: the no-data cells inside an area get a smooth surface that
// passes through the valid cells of the same area (a membrane: every filled cell is the mean of
// its neighbours), solved coarse to fine so that wide gaps cost little more than narrow ones.
#pragma once

#include <opencv2/core.hpp>

class CGridGaps {
public:
    CGridGaps() = default;

    // image: one float channel; mask: one 8-bit channel of the same size, non-zero inside the
    // area; noData: the value of the gaps (NaN cells count as gaps too); tolerance: the
    // relaxation of a level stops once no filled cell moves by more than this between two sweeps.
    // Returns a new image of the same size: gaps inside the area filled from the valid cells
    // inside the area (valid cells outside it are not used), every other cell as given. A gap
    // whose part of the area holds no valid cell stays no data. Returns an empty image when the
    // inputs do not match or the area holds no valid cell at all.
    cv::Mat Process(const cv::Mat& image, const cv::Mat& mask, float noData, double tolerance);
};
