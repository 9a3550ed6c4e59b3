// The order in which orthophotos are written into a mosaic, and the colour statistics that
// compare two images where both have data.
#pragma once

#include <vector>

#include <opencv2/core/mat.hpp>

#include "platform/math/Wml.h"

class COrtho;
class ProgressSink;

// Reorders the orthophotos so that the mosaic grows outwards as a compact patch: first the one
// whose centre lies nearest the start point (the mean of all centres when there is none), then
// each time the one nearest the mean centre of those already taken (ties go to the earlier one).
// largest receives the largest pixel count, median the pixel count at index count / 2 of the
// ascending counts. Returns 1, or 0 for an empty list (outputs untouched).
int SortOrthophotosFromCenter(std::vector<COrtho*>& orthos, ProgressSink* progress, const Wml::Point2* start,
                              double* largest, double* median);

// Robust colour means of two equally sized 8-bit images over the pixels valid in both (not
// black): for three- or four-channel images the red, green and blue means of each image, for
// one-channel images the grey mean; only pixels whose values all lie within one standard
// deviation of their means are summed, and the means are truncated. Returns 1 when means were
// produced, 0 when the images do not match or no pixel qualifies.
struct OverlapMeans {
    int red = 0, green = 0, blue = 0, grey = 0;
};
int ComputeOverlapColorMeans(const cv::Mat& first, OverlapMeans& firstMeans, const cv::Mat& second,
                             OverlapMeans& secondMeans);
