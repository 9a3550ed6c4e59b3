// Oriented images: where a photograph was taken from, how its camera maps directions to pixels,
// and the point in space that the same feature, measured in several photographs, comes from.
//
// The orientation of "name.jpg" is the file "name.yml" beside it (docs/orientation-files.md).
#pragma once

#include <vector>

#include "platform/math/Wml.h"

namespace zqc {

class CMultiImageIntersection;

// Interior orientation (camera matrix and lens distortion) and exterior orientation (projection
// centre and rotation) of one image.
//
// Pixel positions are (column, row) with the image's top-left corner at (0, 0) and pixel (c, r)
// covering c .. c + 1 and r .. r + 1, so a position lies on the image when 0 <= column < width and
// 0 <= row < height. (The camera matrix of the file counts whole numbers at pixel centres, as
// calibration tools do; the half pixel is added here.)
class COrientation {
public:
    explicit COrientation(int mode = 1);

    // Reads the orientation of the image at imagePath from the ".yml" file of the same name beside
    // it. Non-zero when the file was read and every value is usable; 0 for a missing, unreadable
    // or incomplete file or unusable values, and the orientation is then left as it was.
    int Load(const char* imagePath);
    int IsLoaded() const { return m_loaded ? 1 : 0; }

    // The pixel position of a point in the DEM's coordinates. A point behind the camera (or in the
    // plane of the projection centre) has no pixel: it answers a position far outside the image.
    Wml::Point2 Pt3dToPix(const Wml::Point3& point) const;

    int GetImageWidth() const { return m_width; }
    int GetImageHeight() const { return m_height; }
    const Wml::Point3& GetProjectionCenter() const { return m_center; }

private:
    friend class CMultiImageIntersection;

    // Camera-axis coordinates (x right, y down, z along the view) of a point: the offset from the
    // projection centre, rotated.
    Wml::Vector3 ToCamera(const Wml::Point3& point) const;
    // Pixel position of a camera-axis point in front of the camera.
    Wml::Point2 CameraToPix(const Wml::Vector3& cam) const;
    // Unit direction, in the DEM's coordinates, of the ray from the projection centre through a
    // pixel position; 0 when the lens model cannot be inverted there.
    int PixToRay(const Wml::Point2& pix, Wml::Vector3& direction) const;
    // Lens distortion of ideal image-plane coordinates.
    void Distort(double x, double y, double& xd, double& yd) const;

    int m_mode;
    bool m_loaded = false;
    int m_width = 0;
    int m_height = 0;
    // Camera matrix: focal lengths, skew and principal point, in pixels.
    double m_fx = 1.0, m_fy = 1.0, m_skew = 0.0, m_cx = 0.0, m_cy = 0.0;
    // Radial (k1, k2, k3) and tangential (p1, p2) distortion.
    double m_k1 = 0.0, m_k2 = 0.0, m_p1 = 0.0, m_p2 = 0.0, m_k3 = 0.0;
    Wml::Point3 m_center;
    // World to camera.
    Wml::Matrix3 m_rotation{true};
};

// The point that pixels measured in several oriented images come from.
class CMultiImageIntersection {
public:
    // Keeps copies of the count orientations.
    CMultiImageIntersection(int count, const COrientation* orientations);

    int GetCount() const { return int(m_orientations.size()); }

    // pixels holds one pointer per orientation: the pixel position measured in that image, or
    // null for an image not used. Non-zero, with the point, when the rays of the given pixels meet:
    // the point nearest to all rays in least squares, refined to the least reprojection error.
    // Fails (0, point unchanged) for fewer than two usable rays, rays within about 1 degree of
    // parallel, or a result behind one of the cameras. `reserved` is unused.
    int Intersect(const Wml::Point2* const* pixels, Wml::Point3& point, int reserved = 0) const;

private:
    std::vector<COrientation> m_orientations;
};

}  // namespace zqc
