// Reads a pixel rectangle of a raster into an image of any size: the reader behind every preview,
// thumbnail, region and rendering read of the raster layers.
#pragma once

#include <gdal.h>
#include <opencv2/core/mat.hpp>

// Grid read: band 1 into a one-channel image of its own depth (8U, 16U, 16S, 32S, 32F, 64F).
constexpr int kExtractGrid = -1;
// Colour read: bands 1, 2, 3 (red, green, blue) into an 8-bit three-channel image in blue, green,
// red order; a raster of one or two bands gives band 1 as grey in all three channels.
constexpr int kExtractColour = -2;

// Fills the allocated image with the pixel rectangle `rect` of the dataset (a GDALDatasetH or a
// GDALDataset*; the whole raster when `rect` is null) resampled to the image's size (nearest
// neighbour; GDAL takes overviews when reducing). A rectangle that reaches past the raster's edge
// is read where it overlaps the raster; the rest of the image gets the band's no-data value in
// the image's type (-9999 for a float image when the band has none, 0 for an integer image) or
// black in a colour read. `reserved` is unused. Returns non-zero on success; 0 when the arguments
// do not fit (no dataset, empty image or rectangle, wrong image type or mode, a rectangle wholly
// outside the raster) or any read fails, in which case the image's content is undefined.
int GDALExtractROI(GDALDatasetH dataset, cv::Mat& image, const cv::Rect* rect, int mode,
                   void* reserved = nullptr);
