// What the plan view last drew of a layer: the values and the picture at screen resolution, the
// raster window and scale they were made for, and where they lie in the model; and the layer's own
// cells last read under the cursor.
#pragma once

#include <opencv2/core.hpp>

#include <functional>

struct RasterDisplayCache {
    cv::Mat values;  // Float32, one value per window pixel, -9999 for no data; empty for pictures
    // 8-bit: three channels (blue, green, red) with black transparent, or four holding ARGB pixels
    // that are opaque or 0 (transparent)
    cv::Mat picture;
    // The raster window (pixels) and the scale (window pixels per raster pixel) drawn.
    int left = 0;
    int top = 0;
    int width = 0;
    int height = 0;
    double scale = 1.0;
    // Display geotransform in GDAL order: left, cell width, 0, top, 0, -cell width.
    double geoTransform[6] = {0, 0, 0, 0, 0, 0};
    double zoom = 1.0;
    // The square of the layer's cells around the cell last read under the cursor, as the layer
    // shows them (Float32, -9999 for no data), its rectangle in raster pixels and the dataset it
    // was read from. A square that could not be read is kept without cells, so that moves of the
    // cursor over it do not read it again.
    cv::Mat cells;
    cv::Rect cellsRect;
    const void* cellsSource = nullptr;

    // Drops the images and the cells, so that the next paint renders anew and the next readout
    // reads the layer again.
    void Release() {
        values.release();
        picture.release();
        cells.release();
        cellsSource = nullptr;
    }

    // The value of cell (column, row) of a layer of the size read from source, -9999 outside it,
    // for no data and where the read failed. Cells kept from source answer at once; otherwise the
    // square of cells that holds it is read (read fills a Float32 image of the rectangle's size,
    // -9999 for no data, and answers false when it cannot) and kept, or its failure, for the next
    // cells asked for.
    float CellValue(const void* source, cv::Size size, cv::Point cell,
                    const std::function<bool(const cv::Rect&, cv::Mat&)>& read);
};

// The cell of a raster of the size and geotransform that contains the world position; false
// outside the raster.
bool CellOfPosition(const double* geoTransform, cv::Size size, double x, double y, cv::Point* cell);
