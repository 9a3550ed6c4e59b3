// What the plan view last drew of a layer: the values and the picture at screen resolution, the
// raster window and scale they were made for, and where they lie in the model.
#pragma once

#include <opencv2/core.hpp>

struct RasterDisplayCache {
    cv::Mat values;   // Float32, one value per window pixel, -9999 for no data; empty for pictures
    cv::Mat picture;  // 8-bit, three channels (blue, green, red); black is transparent
    // The raster window (pixels) and the scale (window pixels per raster pixel) drawn.
    int left = 0;
    int top = 0;
    int width = 0;
    int height = 0;
    double scale = 1.0;
    // Display geotransform in GDAL order: left, cell width, 0, top, 0, -cell width.
    double geoTransform[6] = {0, 0, 0, 0, 0, 0};
    double zoom = 1.0;

    // Drops the images, so that the next paint renders anew.
    void Release() {
        values.release();
        picture.release();
    }
};
