#include "raster/RasterDisplayCache.h"

#include <cmath>

namespace {

// The side of the squares of cells a readout reads at once: a mouse move within one reads nothing.
constexpr int kCellSquare = 64;
constexpr float kNoCell = -9999.0f;

}  // namespace

float RasterDisplayCache::CellValue(const void* source, cv::Size size, cv::Point cell,
                                    const std::function<bool(const cv::Rect&, cv::Mat&)>& read) {
    if (!source || !cv::Rect(cv::Point(), size).contains(cell)) {
        return kNoCell;
    }
    if (cellsSource != source || !cellsRect.contains(cell)) {
        const cv::Rect square(cell.x / kCellSquare * kCellSquare, cell.y / kCellSquare * kCellSquare,
                              kCellSquare, kCellSquare);
        const cv::Rect rect = square & cv::Rect(cv::Point(), size);
        cv::Mat fresh(rect.size(), CV_32FC1, cv::Scalar(kNoCell));
        cells.release();
        cellsRect = rect;
        cellsSource = source;
        if (read(rect, fresh)) {
            cells = fresh;
        }
    }
    // A square that could not be read has no cells.
    return cells.empty() ? kNoCell : cells.at<float>(cell - cellsRect.tl());
}

bool CellOfPosition(const double* geoTransform, cv::Size size, double x, double y, cv::Point* cell) {
    if (geoTransform[1] == 0.0 || geoTransform[5] == 0.0) {
        return false;
    }
    const double column = std::floor((x - geoTransform[0]) / geoTransform[1]);
    const double row = std::floor((y - geoTransform[3]) / geoTransform[5]);
    if (!(column >= 0.0 && row >= 0.0 && column < size.width && row < size.height)) {
        return false;
    }
    *cell = cv::Point(static_cast<int>(column), static_cast<int>(row));
    return true;
}
