// Gap filling of an elevation grid: the no-data cells inside an area get a surface that passes
// through the valid cells of the same area and bends as little as it can (a thin plate with a
// little tension), so that slopes and the rounding of hills and valleys go on across a gap
// instead of sagging towards the mean of its rim; no filled cell lies below the lowest or above
// the highest valid cell around its gap. It is solved coarse to fine: each grid level
// starts from the level twice as coarse and is relaxed until it changes less than the tolerance
// (or a bounded number of sweeps), so the time grows linearly with the cells.
#pragma once

#include <cstddef>
#include <memory>
#include <opencv2/core.hpp>
#include <vector>

class CGridGaps {
public:
    // tension: 0 for a pure thin plate (the least curvature), 1 for a membrane (the least slope);
    // clamped to [0.01, 1].
    explicit CGridGaps(double tension = kDefaultTension);
    ~CGridGaps();
    CGridGaps(const CGridGaps&) = delete;
    CGridGaps& operator=(const CGridGaps&) = delete;

    static constexpr double kDefaultTension = 1e-5;

    // image: one float channel; mask: one 8-bit channel of the same size, non-zero inside the
    // area; noData: the value of the gaps (NaN cells count as gaps too); tolerance: how far (in
    // height units) a relaxation sweep may still move the filled cells when it stops.
    // Returns a new image of the same size: gaps inside the area filled from the valid cells
    // inside the area (valid cells outside it are not used), each gap within the heights of the
    // valid cells of the area that touch it, every other cell as given. A gap
    // whose part of the area holds no valid cell stays no data. Returns an empty image when the
    // inputs do not match or the area holds no valid cell at all.
    // The object keeps its work space from one call to the next, so one object serves a series
    // of grids faster than a new one for each.
    cv::Mat Process(const cv::Mat& image, const cv::Mat& mask, float noData, double tolerance);

    // Cells of a grid, row by row: those of row r are columns[k] with heights[k] for k from
    // rowStart[r] to rowStart[r + 1] (rowStart holds one entry more than the grid has rows).
    struct Cells {
        std::vector<size_t> rowStart;
        std::vector<int> columns;
        std::vector<float> heights;
    };
    // The cells that Process changes and their heights, without a copy of the image: for a grid
    // with few gaps, a small fraction of its size. False where Process gives no image (the cells
    // are then empty).
    bool Fill(const cv::Mat& image, const cv::Mat& mask, float noData, double tolerance, Cells* filled);

private:
    struct Workspace;
    double m_tension;
    std::unique_ptr<Workspace> m_work;
};
