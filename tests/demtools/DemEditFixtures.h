// DEMs and areas for the edit tests: generated grids in memory, the Olinda DEM with no data
// -9999, areas given by the cells their vertices fall in, and a recorder that keeps every window.
#pragma once

#include <memory>
#include <vector>

#include <opencv2/core.hpp>

#include "demtools/DemEditArea.h"
#include "raster/DEM.h"

namespace dtest {

// A DEM in memory (no file) with 2 m cells and its origin at (1000, 5000), north up.
std::unique_ptr<CDEM> GridDem(const cv::Mat& grid);
// A grid of w x h cells holding value(column, row).
template <class F>
cv::Mat MakeGrid(int w, int h, const F& value) {
    cv::Mat grid(h, w, CV_32FC1);
    for (int r = 0; r < h; ++r) {
        for (int c = 0; c < w; ++c) {
            grid.at<float>(r, c) = float(value(c, r));
        }
    }
    return grid;
}
// The Olinda DEM (111 x 111 cells) copied with no data -9999 and opened from the copy, not loaded.
std::unique_ptr<CDEM> OlindaDem();

// The world position of a point given in pixel coordinates of the DEM.
Wml::Point2 World(const CDEM& dem, double column, double row);
// An area whose vertices lie at the centres of the given cells.
CPgon CellArea(const CDEM& dem, const std::vector<cv::Point>& cells);
// The rectangle of cells from (c0, r0) to (c1, r1), both included.
CPgon CellRect(const CDEM& dem, int c0, int r0, int c1, int r1);

// Cells of a grid that hold no data, as a mask.
cv::Mat NoDataCells(const cv::Mat& grid);

// Keeps a copy of every window handed to it; answers with `answer`.
struct WindowLog {
    struct Entry {
        cv::Rect window;
        std::vector<cv::Point> contour;
        cv::Mat before, after;
    };
    std::vector<Entry> entries;
    int answer = 1;
    DemEditRecorder Recorder();
};

}  // namespace dtest
