// Gap filling of an elevation grid: the no-data cells inside an area get a smooth surface that
// passes through the valid cells of the same area (a membrane: every filled cell is the mean of
// its neighbours), solved by multigrid-preconditioned conjugate gradients so that wide gaps cost
// little more than narrow ones.
#pragma once

#include <memory>
#include <opencv2/core.hpp>

class CGridGaps {
public:
    CGridGaps();
    ~CGridGaps();
    CGridGaps(const CGridGaps&) = delete;
    CGridGaps& operator=(const CGridGaps&) = delete;

    // image: one float channel; mask: one 8-bit channel of the same size, non-zero inside the
    // area; noData: the value of the gaps (NaN cells count as gaps too); tolerance: how far (in
    // height units) the filled cells may be from the exact membrane.
    // Returns a new image of the same size: gaps inside the area filled from the valid cells
    // inside the area (valid cells outside it are not used), every other cell as given. A gap
    // whose part of the area holds no valid cell stays no data. Returns an empty image when the
    // inputs do not match or the area holds no valid cell at all.
    // The object keeps its work space from one call to the next, so one object serves a series
    // of grids faster than a new one for each.
    cv::Mat Process(const cv::Mat& image, const cv::Mat& mask, float noData, double tolerance);

private:
    struct Workspace;
    std::unique_ptr<Workspace> m_work;
};
