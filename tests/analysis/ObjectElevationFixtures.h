// Oriented images for the object-elevation tests: synthetic cameras looking down on the Olinda
// DEM, each with a JPEG of what it sees of the Landsat scene of the same area and its
// orientation file.
#pragma once

#include <QString>

#include "platform/math/Wml.h"
#include "support/core/Cameras.h"

namespace oetest {

// The middle of the Olinda DEM, in its coordinates.
inline const Wml::Point3 kOlindaCentre(293770.9, 9115766.1, 0.0);

// A camera `height` metres above the point (dx, dy) from `target`, looking at the point (lx, ly)
// from `target` on the ground; f is the focal length in pixels.
kvtest::SyntheticCamera CameraOver(const Wml::Point3& target, double dx, double dy, double height, double lx,
                                   double ly, int width = 640, int height_ = 480, double f = 700.0);

// Writes the JPEG at path (the scene seen by the camera, the ground taken at groundZ) and, unless
// withOrientation is false, its orientation file. True when written.
bool WriteOrientedImage(const QString& path, const kvtest::SyntheticCamera& camera,
                        bool withOrientation = true, double groundZ = 20.0);

// The Olinda DEM with no data -9999, copied into the folder under the name.
QString OlindaDemCopy(const QString& folder, const QString& name);

}  // namespace oetest
