// Synthetic oriented cameras for the tests: their orientation files, written as a calibration and
// orientation program would write them.
#pragma once

#include <array>

#include <QString>

#include "platform/math/Wml.h"

namespace kvtest {

struct SyntheticCamera {
    int width = 640;
    int height = 480;
    double fx = 800.0;
    double fy = 800.0;
    double cx = 319.5;
    double cy = 239.5;
    // k1, k2, p1, p2, k3
    std::array<double, 5> distortion{};
    Wml::Point3 center;
    // World to camera (x right, y down, z along the view).
    Wml::Matrix3 rotation{true};
};

// A camera at `center` that looks at `target`, with the image's top towards north (or, for a
// camera looking north, towards the zenith), a principal point in the image's middle and the
// given focal length in pixels.
SyntheticCamera LookAtCamera(const Wml::Point3& center, const Wml::Point3& target, int width, int height,
                             double focal);

// Writes the orientation file of the image at imagePath ("name.yml" beside "name.jpg").
bool WriteOrientation(const QString& imagePath, const SyntheticCamera& camera);

}  // namespace kvtest
