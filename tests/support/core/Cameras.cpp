#include "support/core/Cameras.h"

#include <QFileInfo>

#include <opencv2/core.hpp>
#include <opencv2/core/persistence.hpp>

namespace kvtest {

SyntheticCamera LookAtCamera(const Wml::Point3& center, const Wml::Point3& target, int width, int height,
                             double focal) {
    SyntheticCamera cam;
    cam.width = width;
    cam.height = height;
    cam.fx = cam.fy = focal;
    cam.cx = (width - 1) / 2.0;
    cam.cy = (height - 1) / 2.0;
    cam.center = center;
    Wml::Vector3 z = target - center;
    z.Normalize();
    Wml::Vector3 up(0.0, 1.0, 0.0);
    if (std::abs(z.Dot(up)) > 0.99)
        up = Wml::Vector3(0.0, 0.0, 1.0);
    Wml::Vector3 x = z.Cross(up);
    x.Normalize();
    Wml::Vector3 y = z.Cross(x);
    cam.rotation = Wml::Matrix3(x.X(), x.Y(), x.Z(), y.X(), y.Y(), y.Z(), z.X(), z.Y(), z.Z());
    return cam;
}

bool WriteOrientation(const QString& imagePath, const SyntheticCamera& camera) {
    QFileInfo info(imagePath);
    QString path = info.path() + '/' + info.completeBaseName() + ".yml";
    try {
        cv::FileStorage fs(path.toStdString(), cv::FileStorage::WRITE);
        if (!fs.isOpened())
            return false;
        fs << "image_width" << camera.width;
        fs << "image_height" << camera.height;
        fs << "camera_matrix"
           << cv::Mat(cv::Matx33d(camera.fx, 0.0, camera.cx, 0.0, camera.fy, camera.cy, 0.0, 0.0, 1.0));
        fs << "distortion_coefficients" << cv::Mat(cv::Matx<double, 1, 5>(camera.distortion.data()));
        fs << "projection_center"
           << cv::Mat(cv::Vec3d(camera.center.X(), camera.center.Y(), camera.center.Z()));
        cv::Matx33d r;
        for (int i = 0; i < 3; ++i)
            for (int j = 0; j < 3; ++j)
                r(i, j) = camera.rotation(i, j);
        fs << "rotation" << cv::Mat(r);
        fs.release();
        return true;
    } catch (const cv::Exception&) {
        return false;
    }
}

}  // namespace kvtest
