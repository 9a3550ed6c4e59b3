#include "platform/raster/ExtractROI.h"

#include <algorithm>
#include <cmath>

#include <opencv2/core.hpp>

#include "platform/raster/DepthTypes.h"

namespace {

// What a grid cell outside the raster holds.
cv::Scalar OutsideValue(GDALRasterBandH band, int depth) {
    int hasNoData = 0;
    double noData = GDALGetRasterNoDataValue(band, &hasNoData);
    if (hasNoData)
        return cv::Scalar::all(noData);
    return cv::Scalar::all(depth == CV_32F || depth == CV_64F ? -9999.0 : 0.0);
}

// The output pixels [first, last) whose source falls inside [0, size) when `count` output pixels
// cover the source span [start, start + span).
void InsideRange(int start, int span, int size, int count, int& first, int& last) {
    double scale = double(count) / span;
    first = std::clamp(int(std::lround((std::max(start, 0) - start) * scale)), 0, count);
    last = std::clamp(int(std::lround((std::min(start + span, size) - start) * scale)), 0, count);
}

}  // namespace

int GDALExtractROI(GDALDatasetH dataset, cv::Mat& image, const cv::Rect* rect, int mode, void*) {
    if (!dataset || image.empty() || image.dims != 2)
        return 0;
    const int width = GDALGetRasterXSize(dataset), height = GDALGetRasterYSize(dataset);
    const int bands = GDALGetRasterCount(dataset);
    if (bands < 1)
        return 0;
    GDALRasterBandH band1 = GDALGetRasterBand(dataset, 1);
    if (!band1)
        return 0;

    GDALDataType type = GDT_Byte;
    cv::Scalar outside = cv::Scalar::all(0);
    if (mode == kExtractGrid) {
        type = kv::GDALTypeOfDepth(image.depth());
        if (image.channels() != 1 || type == GDT_Unknown)
            return 0;
        outside = OutsideValue(band1, image.depth());
    } else if (mode == kExtractColour) {
        if (image.type() != CV_8UC3)
            return 0;
    } else {
        return 0;
    }

    cv::Rect src = rect ? *rect : cv::Rect(0, 0, width, height);
    if (src.width <= 0 || src.height <= 0)
        return 0;
    cv::Rect inside = src & cv::Rect(0, 0, width, height);
    if (inside.empty())
        return 0;

    // Where the part inside the raster lands in the image.
    int x0, x1, y0, y1;
    InsideRange(src.x, src.width, width, image.cols, x0, x1);
    InsideRange(src.y, src.height, height, image.rows, y0, y1);
    if (x0 > 0 || y0 > 0 || x1 < image.cols || y1 < image.rows)
        image.setTo(outside);
    if (x1 <= x0 || y1 <= y0)
        return 1;  // the overlap is thinner than one image pixel
    cv::Mat target = image(cv::Rect(x0, y0, x1 - x0, y1 - y0));

    CPLErr err;
    if (mode == kExtractGrid) {
        err = GDALRasterIO(band1, GF_Read, inside.x, inside.y, inside.width, inside.height, target.data,
                           target.cols, target.rows, type, 0, int(target.step[0]));
    } else {
        // Channel 0 takes blue (band 3), channel 2 red (band 1); grey rasters repeat band 1.
        int bandMap[3] = {3, 2, 1};
        if (bands < 3)
            std::fill(bandMap, bandMap + 3, 1);
        err = GDALDatasetRasterIO(dataset, GF_Read, inside.x, inside.y, inside.width, inside.height,
                                  target.data, target.cols, target.rows, GDT_Byte, 3, bandMap, 3,
                                  int(target.step[0]), 1);
    }
    return err == CE_None ? 1 : 0;
}
