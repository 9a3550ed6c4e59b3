#include <chrono>
#include <cmath>
#include <cstdlib>
#include <future>
#include <thread>

#include <gtest/gtest.h>

#include <opencv2/core/persistence.hpp>

#include "platform/photo/Orientation.h"
#include "platform/photo/OrientationFile.h"
#include "support/TestEnv.h"
#include "support/core/Cameras.h"

namespace {

using Wml::Point2;
using Wml::Point3;
using zqc::CMultiImageIntersection;
using zqc::COrientation;

// A point on the Olinda DEM, in its UTM coordinates, and three cameras about 1500 m above it.
const Point3 kTarget(293770.9, 9115766.1, 32.0);

kvtest::SyntheticCamera Camera(double dx, double dy, double height, const std::array<double, 5>& distortion) {
    Point3 center(kTarget.X() + dx, kTarget.Y() + dy, kTarget.Z() + height);
    Point3 lookAt(kTarget.X() + dx * 0.3, kTarget.Y() + dy * 0.3, kTarget.Z());
    kvtest::SyntheticCamera cam = kvtest::LookAtCamera(center, lookAt, 4000, 3000, 3500.0);
    cam.fy = 3498.0;
    cam.cx = 2003.7;
    cam.cy = 1496.2;
    cam.distortion = distortion;
    return cam;
}

COrientation Load(const QString& folder, const QString& name, const kvtest::SyntheticCamera& cam) {
    QString image = folder + '/' + name + ".jpg";
    EXPECT_TRUE(kvtest::WriteOrientation(image, cam));
    COrientation o(1);
    EXPECT_EQ(o.Load(image.toUtf8().constData()), 1) << name.toStdString();
    return o;
}

struct ThreeCameras {
    COrientation o[3];
    explicit ThreeCameras(const QString& folder) {
        // Barrel distortion, a little tangential distortion, different per camera.
        o[0] = Load(folder, "a", Camera(-400.0, -250.0, 1500.0, {-0.12, 0.05, 1e-4, -2e-4, -0.01}));
        o[1] = Load(folder, "b", Camera(450.0, -150.0, 1550.0, {-0.08, 0.02, -3e-4, 1e-4, 0.0}));
        o[2] = Load(folder, "C", Camera(50.0, 500.0, 1480.0, {0.05, -0.01, 0.0, 0.0, 0.002}));
    }
};

double Distance(const Point3& a, const Point3& b) {
    return (a - b).Length();
}

// What OpenCV's file storage reads from an orientation file that it can read: the oracle the
// program's own reader must agree with.
bool ReadWithFileStorage(const QString& path, zqc::OrientationValues* v) {
    cv::FileStorage fs(path.toStdString(), cv::FileStorage::READ);
    if (!fs.isOpened() || !fs["image_width"].isInt() || !fs["image_height"].isInt()) {
        return false;
    }
    v->width = int(fs["image_width"]);
    v->height = int(fs["image_height"]);
    const auto numbers = [&](const char* key, int count, double* out) {
        cv::FileNode node = fs[key];
        if (node.isMap()) {
            node = node["data"];
        }
        if (!node.isSeq() || int(node.size()) != count) {
            return false;
        }
        int i = 0;
        for (const cv::FileNode& item : node) {
            out[i++] = double(item);
        }
        return true;
    };
    return numbers("camera_matrix", 9, v->camera) && numbers("distortion_coefficients", 5, v->distortion) &&
           numbers("projection_center", 3, v->center) && numbers("rotation", 9, v->rotation);
}

bool SameValues(const zqc::OrientationValues& a, const zqc::OrientationValues& b) {
    const auto same = [](const double* x, const double* y, int n) {
        for (int i = 0; i < n; ++i) {
            if (x[i] != y[i]) {
                return false;
            }
        }
        return true;
    };
    return a.width == b.width && a.height == b.height && same(a.camera, b.camera, 9) &&
           same(a.distortion, b.distortion, 5) && same(a.center, b.center, 3) &&
           same(a.rotation, b.rotation, 9);
}

// Loads the orientation of the image on a thread of its own and waits for it; a load that does not
// end within the time fails the test and ends the program, since the thread cannot be stopped.
int LoadWithin(const QString& image, std::chrono::seconds limit) {
    std::packaged_task<int()> task([image] { return COrientation(1).Load(image.toUtf8().constData()); });
    std::future<int> result = task.get_future();
    std::thread(std::move(task)).detach();
    if (result.wait_for(limit) != std::future_status::ready) {
        ADD_FAILURE() << "loading " << image.toStdString() << " did not end";
        std::_Exit(1);
    }
    return result.get();
}

}  // namespace

// The files OpenCV's file storage writes and reads, and variants by hand in the forms the format
// allows, read to the same bits; a damaged file on which the file storage never ends is refused
// at once.
TEST(Orientation, TheFilesReadLikeOpenCvsFileStorageReadsThemAndADamagedOneEndsAtOnce) {
    const QString folder = kvtest::NewTempFolder("orient_reader");
    const QString image = folder + "/img.jpg";
    kvtest::SyntheticCamera cam = Camera(-400.0, -250.0, 1500.0, {-0.12, 0.05, 1e-4, -2e-4, -0.01});
    ASSERT_TRUE(kvtest::WriteOrientation(image, cam));
    const QByteArray written = kvtest::FileBytes(folder + "/img.yml");
    ASSERT_TRUE(written.contains("!!opencv-matrix"));

    const auto rewritten = [&](const char* from, const char* to) {
        QByteArray b = written;
        EXPECT_TRUE(b.contains(from)) << from;
        return b.replace(from, to);
    };
    QByteArray windows = written;
    windows.replace("\n", "\r\n");
    QByteArray byHand = rewritten("image_width: 4000", "image_width: 0x0FA0   # in hex");
    byHand.replace("image_height: 3000", "image_height : +3000");
    byHand.replace("projection_center:", "projection_centre_old:");
    byHand += "projection_center:\n   - " + QByteArray::number(cam.center.X(), 'f', 4) + "\n   - " +
              QByteArray::number(cam.center.Y(), 'e', 12) + "\n   -   " + QByteArray::number(cam.center.Z()) +
              "\n# the end\n";
    QByteArray flow = written;
    const int from = flow.indexOf("rotation:");
    flow = flow.left(from) +
           "rotation: {rows: 3, cols: 3, dt: d, data: [ 1., 0, 0.,\n  0., -1., 0.,\n  0., 0., -1. ]}\n";

    for (const QByteArray& text : {written, windows, byHand, flow}) {
        SCOPED_TRACE(text.toStdString());
        ASSERT_TRUE(kvtest::WriteFileBytes(folder + "/img.yml", text));
        zqc::OrientationValues ours, theirs;
        ASSERT_TRUE(ReadWithFileStorage(folder + "/img.yml", &theirs));
        ASSERT_TRUE(
            zqc::ParseOrientationText(std::string_view(text.constData(), size_t(text.size())), &ours));
        EXPECT_TRUE(SameValues(ours, theirs));
    }
    ASSERT_TRUE(kvtest::WriteFileBytes(folder + "/img.yml", flow));
    EXPECT_EQ(LoadWithin(image, std::chrono::seconds(10)), 1);

    const QString damaged = folder + "/damaged.jpg";
    ASSERT_TRUE(kvtest::WriteFileBytes(folder + "/damaged.yml",
                                       kvtest::FileBytes(kvtest::DataPath("orientation_hang.yml"))));
    EXPECT_EQ(LoadWithin(damaged, std::chrono::seconds(10)), 0);
    // Nesting far deeper than any file needs is refused, not followed down.
    zqc::OrientationValues ignored;
    EXPECT_FALSE(
        zqc::ParseOrientationText("a: " + std::string(200000, '[') + std::string(200000, ']'), &ignored));
}

TEST(Orientation, ProjectedPixelsIntersectBackToThePointWithDistortion) {
    ThreeCameras cams(kvtest::NewTempFolder("orient_roundtrip"));
    EXPECT_EQ(cams.o[0].GetImageWidth(), 4000);
    EXPECT_EQ(cams.o[0].GetImageHeight(), 3000);
    EXPECT_NEAR(cams.o[1].GetProjectionCenter().Y(), kTarget.Y() - 150.0, 1e-6);

    CMultiImageIntersection inter(3, cams.o);
    ASSERT_EQ(inter.GetCount(), 3);
    // Points spread over the images, out towards their corners where distortion is strongest.
    for (double dx : {-300.0, 0.0, 250.0})
        for (double dy : {-200.0, 0.0, 180.0}) {
            Point3 p(kTarget.X() + dx, kTarget.Y() + dy, kTarget.Z() + dx * 0.05);
            Point2 pix[3];
            const Point2* used[3];
            for (int i = 0; i < 3; ++i) {
                pix[i] = cams.o[i].Pt3dToPix(p);
                ASSERT_GE(pix[i].X(), 0.0);
                ASSERT_LT(pix[i].X(), 4000.0);
                ASSERT_GE(pix[i].Y(), 0.0);
                ASSERT_LT(pix[i].Y(), 3000.0);
                used[i] = &pix[i];
            }
            Point3 got;
            ASSERT_EQ(inter.Intersect(used, got, 0), 1);
            EXPECT_LT(Distance(got, p), 0.001) << dx << " " << dy;

            // Any two images are enough.
            const Point2* two[3] = {&pix[0], nullptr, &pix[2]};
            ASSERT_EQ(inter.Intersect(two, got, 0), 1);
            EXPECT_LT(Distance(got, p), 0.001);
        }

    // Noisy measurements are pulled to the least reprojection error: half a pixel off in each
    // image moves the point by well under a metre at 1.5 km.
    Point2 pix[3];
    const Point2* used[3];
    for (int i = 0; i < 3; ++i) {
        pix[i] = cams.o[i].Pt3dToPix(kTarget) + Point2(i == 1 ? -0.5 : 0.5, 0.5);
        used[i] = &pix[i];
    }
    Point3 got;
    ASSERT_EQ(inter.Intersect(used, got, 0), 1);
    EXPECT_LT(Distance(got, kTarget), 1.0);
}

TEST(Orientation, PixelsCountFromTheImagesCornerAndPointsBehindHaveNone) {
    QString folder = kvtest::NewTempFolder("orient_pixels");
    // Straight down, no distortion: the point under the camera is the principal point, and pixel
    // (c, r) covers c .. c + 1, so the matrix's whole-number pixel centres move by half a pixel.
    kvtest::SyntheticCamera cam =
        kvtest::LookAtCamera({1000.0, 2000.0, 500.0}, {1000.0, 2000.0, 0.0}, 64, 48, 100.0);
    cam.cx = 10.0;
    cam.cy = 20.0;
    COrientation o = Load(folder, "nadir", cam);
    Point2 pix = o.Pt3dToPix({1000.0, 2000.0, 0.0});
    EXPECT_NEAR(pix.X(), 10.5, 1e-9);
    EXPECT_NEAR(pix.Y(), 20.5, 1e-9);
    // East is right and north is up in the image.
    pix = o.Pt3dToPix({1050.0, 2050.0, 0.0});
    EXPECT_NEAR(pix.X(), 20.5, 1e-9);
    EXPECT_NEAR(pix.Y(), 10.5, 1e-9);
    // Above the camera: no pixel on the image.
    pix = o.Pt3dToPix({1000.0, 2000.0, 600.0});
    EXPECT_TRUE(pix.X() < 0.0 && pix.Y() < 0.0);
}

TEST(Orientation, IntersectionRefusesSingleParallelAndBackwardRays) {
    QString folder = kvtest::NewTempFolder("orient_refuse");
    COrientation o[3];
    // Two cameras side by side looking straight down, and one far off looking at them sideways.
    o[0] =
        Load(folder, "left", kvtest::LookAtCamera({0.0, 0.0, 1000.0}, {0.0, 0.0, 0.0}, 1000, 1000, 1000.0));
    o[1] = Load(folder, "right",
                kvtest::LookAtCamera({10.0, 0.0, 1000.0}, {10.0, 0.0, 0.0}, 1000, 1000, 1000.0));
    o[2] = Load(folder, "side",
                kvtest::LookAtCamera({3000.0, 0.0, 1000.0}, {0.0, 0.0, 0.0}, 1000, 1000, 1000.0));
    CMultiImageIntersection inter(3, o);
    const Point3 before(1.0, 2.0, 3.0);
    Point3 got = before;

    // The ground point under both nadir cameras: their rays differ by 0.57 degrees.
    Point3 ground(5.0, 0.0, 0.0);
    Point2 p0 = o[0].Pt3dToPix(ground), p1 = o[1].Pt3dToPix(ground), p2 = o[2].Pt3dToPix(ground);
    const Point2* nearlyParallel[3] = {&p0, &p1, nullptr};
    EXPECT_EQ(inter.Intersect(nearlyParallel, got, 0), 0);
    const Point2* single[3] = {nullptr, nullptr, &p2};
    EXPECT_EQ(inter.Intersect(single, got, 0), 0);
    const Point2* none[3] = {nullptr, nullptr, nullptr};
    EXPECT_EQ(inter.Intersect(none, got, 0), 0);
    EXPECT_EQ(got, before);
    // With the third camera the same two pixels fix the point.
    const Point2* all[3] = {&p0, &p1, &p2};
    ASSERT_EQ(inter.Intersect(all, got, 0), 1);
    EXPECT_LT(Distance(got, ground), 0.001);

    // Rays that part downwards meet only above the cameras, behind them.
    got = before;
    Point2 west = o[0].Pt3dToPix({-400.0, 0.0, 0.0});
    Point2 east = o[2].Pt3dToPix({0.0, 0.0, 2500.0});
    const Point2* apart[3] = {&west, nullptr, &east};
    EXPECT_EQ(inter.Intersect(apart, got, 0), 0);
    EXPECT_EQ(got, before);
}

TEST(Orientation, MissingOrDamagedFilesAreNotLoaded) {
    QString folder = kvtest::NewTempFolder("orient_damaged");
    COrientation o(1);
    EXPECT_EQ(o.Load((folder + "/nothing.jpg").toUtf8().constData()), 0);
    EXPECT_EQ(o.Load(""), 0);
    EXPECT_EQ(o.Load(nullptr), 0);
    EXPECT_EQ(o.IsLoaded(), 0);

    QString image = folder + "/img.JPG";
    kvtest::SyntheticCamera cam = Camera(0.0, 0.0, 1500.0, {-0.1, 0.0, 0.0, 0.0, 0.0});
    ASSERT_TRUE(kvtest::WriteOrientation(image, cam));
    const QByteArray good = kvtest::FileBytes(folder + "/img.yml");
    ASSERT_FALSE(good.isEmpty());
    ASSERT_EQ(o.Load(image.toUtf8().constData()), 1);
    const Point2 reference = o.Pt3dToPix(kTarget);

    auto loadBytes = [&](const QByteArray& bytes) {
        EXPECT_TRUE(kvtest::WriteFileBytes(folder + "/img.yml", bytes));
        COrientation fresh(1);
        return fresh.Load(image.toUtf8().constData());
    };
    auto replaced = [&](const char* from, const char* to) {
        QByteArray b = good;
        EXPECT_TRUE(b.contains(from)) << from;
        return b.replace(from, to);
    };
    // Values that cannot describe a camera.
    EXPECT_EQ(loadBytes(replaced("image_width: 4000", "image_width: 0")), 0);
    EXPECT_EQ(loadBytes(replaced("image_height: 3000", "image_height: -3")), 0);
    EXPECT_EQ(loadBytes(replaced("image_width: 4000", "image_width: \"wide\"")), 0);
    EXPECT_EQ(loadBytes(replaced("rotation", "rotations")), 0);
    EXPECT_EQ(loadBytes(replaced("rows: 3", "rows: 1")), 0);
    EXPECT_EQ(loadBytes(replaced("cols: 5", "cols: 4")), 0);
    // A matrix size the file cannot hold is refused before any memory is asked for it.
    EXPECT_EQ(loadBytes(replaced("rows: 3", "rows: 2000000000")), 0);
    // A rotation scaled by 2 is no rotation.
    kvtest::SyntheticCamera scaled = cam;
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j)
            scaled.rotation(i, j) *= 2.0;
    ASSERT_TRUE(kvtest::WriteOrientation(image, scaled));
    EXPECT_EQ(COrientation(1).Load(image.toUtf8().constData()), 0);
    // Plain sequences are read like matrices.
    QByteArray plain = replaced("projection_center", "projection_centre_old");
    plain += QByteArray("projection_center: [") + QByteArray::number(cam.center.X(), 'f', 6) + ", " +
             QByteArray::number(cam.center.Y(), 'f', 6) + ", " + QByteArray::number(cam.center.Z(), 'f', 6) +
             "]\n";
    EXPECT_EQ(loadBytes(plain), 1);

    // A failed load keeps what was loaded before.
    ASSERT_TRUE(kvtest::WriteFileBytes(folder + "/img.yml", good.left(good.size() / 2)));
    EXPECT_EQ(o.Load(image.toUtf8().constData()), 0);
    EXPECT_EQ(o.IsLoaded(), 1);
    EXPECT_EQ(o.Pt3dToPix(kTarget), reference);
}
