#include "ObjectElevationFixtures.h"

#include <QFile>

#include <gdal.h>
#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>

#include "support/TestEnv.h"

namespace oetest {

namespace {

// The Landsat scene as a blue-green-red picture (bands 1, 2, 3) with its geotransform.
struct Scene {
    cv::Mat picture;
    double gt[6] = {0, 1, 0, 0, 0, -1};
};

const Scene& LandsatScene() {
    static Scene scene = [] {
        Scene s;
        GDALDatasetH ds =
            GDALOpen(QFile::encodeName(kvtest::DataPath("L7_ETMs.tif")).constData(), GA_ReadOnly);
        if (!ds) {
            return s;
        }
        GDALGetGeoTransform(ds, s.gt);
        const int w = GDALGetRasterXSize(ds), h = GDALGetRasterYSize(ds);
        s.picture.create(h, w, CV_8UC3);
        int bands[3] = {1, 2, 3};
        if (GDALDatasetRasterIO(ds, GF_Read, 0, 0, w, h, s.picture.data, w, h, GDT_Byte, 3, bands, 3,
                                int(s.picture.step), 1) != CE_None) {
            s.picture.release();
        }
        GDALClose(ds);
        // The scene is dark: stretched so that the pictures show it.
        s.picture.convertTo(s.picture, CV_8UC3, 2.5, 10.0);
        return s;
    }();
    return scene;
}

}  // namespace

kvtest::SyntheticCamera CameraOver(const Wml::Point3& target, double dx, double dy, double height, double lx,
                                   double ly, int width, int height_, double f) {
    const Wml::Point3 centre(target.X() + dx, target.Y() + dy, target.Z() + height);
    const Wml::Point3 look(target.X() + lx, target.Y() + ly, target.Z());
    return kvtest::LookAtCamera(centre, look, width, height_, f);
}

bool WriteOrientedImage(const QString& path, const kvtest::SyntheticCamera& cam, bool withOrientation,
                        double groundZ) {
    const Scene& scene = LandsatScene();
    if (scene.picture.empty()) {
        return false;
    }
    cv::Mat image(cam.height, cam.width, CV_8UC3, cv::Scalar::all(0));
    const Wml::Matrix3 toWorld = cam.rotation.Transpose();
    for (int r = 0; r < cam.height; ++r) {
        for (int c = 0; c < cam.width; ++c) {
            // The ray through the pixel's centre, to the ground.
            const Wml::Vector3 dir =
                toWorld * Wml::Vector3((c - cam.cx) / cam.fx, (r - cam.cy) / cam.fy, 1.0);
            if (dir.Z() >= 0.0) {
                continue;
            }
            const double t = (groundZ - cam.center.Z()) / dir.Z();
            const double x = cam.center.X() + t * dir.X();
            const double y = cam.center.Y() + t * dir.Y();
            const int sc = int(std::floor((x - scene.gt[0]) / scene.gt[1]));
            const int sr = int(std::floor((y - scene.gt[3]) / scene.gt[5]));
            if (sc >= 0 && sr >= 0 && sc < scene.picture.cols && sr < scene.picture.rows) {
                image.at<cv::Vec3b>(r, c) = scene.picture.at<cv::Vec3b>(sr, sc);
            }
        }
    }
    if (!cv::imwrite(QFile::encodeName(path).toStdString(), image)) {
        return false;
    }
    return !withOrientation || kvtest::WriteOrientation(path, cam);
}

QString OlindaDemCopy(const QString& folder, const QString& name) {
    const QString copy = folder + '/' + name;
    GDALDatasetH source =
        GDALOpen(QFile::encodeName(kvtest::DataPath("olinda_dem_nodata.tif")).constData(), GA_ReadOnly);
    if (!source) {
        return QString();
    }
    GDALDatasetH target = GDALCreateCopy(GDALGetDriverByName("GTiff"), QFile::encodeName(copy).constData(),
                                         source, FALSE, nullptr, nullptr, nullptr);
    GDALClose(source);
    if (!target) {
        return QString();
    }
    GDALClose(target);
    return copy;
}

}  // namespace oetest
