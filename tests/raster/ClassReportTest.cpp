// The class reports' passes over a map window: the window of an area, the counts, mean and
// deviation against an independent count, the picture against drawing every cell's circle in
// processing order, and the ends of a pass (abort, a read that fails).
#include <QFile>
#include <QFileInfo>

#include <gdal.h>
#include <gtest/gtest.h>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include <cmath>
#include <limits>

#include "RecordingProgress.h"
#include "raster/ClassReport.h"
#include "support/RasterFixtures.h"
#include "support/TestEnv.h"

namespace {

GDALDatasetH Open(const QString& path) {
    return GDALOpen(QFile::encodeName(path).constData(), GA_ReadOnly);
}

// A value of every kind a map holds: ordinary values on both sides of the thresholds, values
// exactly on them, no data and NaN.
double MapValue(int c, int r) {
    const int k = (c * 7 + r * 13) % 23;
    if (k == 0) {
        return -9999.0;
    }
    if (k == 1) {
        return std::numeric_limits<double>::quiet_NaN();
    }
    if (k == 2) {
        return 0.25;  // a threshold
    }
    return std::sin(c * 0.05) * std::cos(r * 0.07);
}

}  // namespace

TEST(ClassReport, AreaWindowIsThePixelPolygonCutToTheRaster) {
    const double gt[6] = {1000.0, 2.0, 0.0, 2000.0, 0.0, -2.0};
    kv::ClassWindow window;
    // Pixels (5, 5) - (150, 50): past the right edge of a 100 x 80 raster.
    const std::vector<Wml::Point2> area = {
        {1010.0, 1990.0}, {1300.5, 1990.0}, {1300.5, 1899.5}, {1010.0, 1899.5}};
    ASSERT_TRUE(kv::AreaClassWindow(area, gt, 99, 79, 100, 80, &window));
    EXPECT_EQ(window.column, 5);
    EXPECT_EQ(window.row, 5);
    EXPECT_EQ(window.width, 95);
    EXPECT_EQ(window.height, 46);
    EXPECT_TRUE(window.restricted);
    EXPECT_TRUE(window.area.PtInPolygon(99, 50));
    EXPECT_FALSE(window.area.PtInPolygon(4, 20));
    // A rectangle to the raster's outer corner is still cut to the cells it has.
    ASSERT_TRUE(kv::AreaClassWindow(area, gt, 100, 80, 100, 80, &window));
    EXPECT_EQ(window.width, 95);
    // Vertices truncate toward zero: -0.75 and -0.25 become pixel 0.
    const std::vector<Wml::Point2> corner = {{998.5, 2001.5}, {1005.0, 2001.5}, {1005.0, 1995.0}};
    ASSERT_TRUE(kv::AreaClassWindow(corner, gt, 99, 79, 100, 80, &window));
    EXPECT_EQ(window.column, 0);
    EXPECT_EQ(window.row, 0);
    EXPECT_EQ(window.width, 3);
    EXPECT_EQ(window.height, 3);

    const std::vector<Wml::Point2> outside = {{500.0, 1990.0}, {600.0, 1990.0}, {600.0, 1900.0}};
    EXPECT_FALSE(kv::AreaClassWindow(outside, gt, 99, 79, 100, 80, &window));
    EXPECT_FALSE(kv::AreaClassWindow({{1010.0, 1990.0}, {1100.0, 1900.0}}, gt, 99, 79, 100, 80, &window));
}

TEST(ClassReport, CountsMeanAndDeviationMatchAnIndependentCount) {
    const QString folder = kvtest::NewTempFolder("class_counts");
    kvtest::RasterSpec spec;
    spec.width = 300;
    spec.height = 200;
    spec.geoTransform = {1000.0, 2.0, 0.0, 2000.0, 0.0, -2.0};
    const QString path =
        kvtest::WriteRaster(folder + "/map.tif", spec, [](int c, int r, int) { return MapValue(c, r); });
    GDALDatasetH ds = Open(path);
    ASSERT_TRUE(ds);
    GDALRasterBandH band = GDALGetRasterBand(ds, 1);

    // A triangle inside the raster: its pixel polygon is the triangle of the truncated vertices.
    const std::vector<Wml::Point2> area = {{1021.3, 1990.1}, {1561.9, 1951.7}, {1201.2, 1621.0}};
    kv::ClassWindow window;
    ASSERT_TRUE(kv::AreaClassWindow(area, spec.geoTransform.data(), 299, 199, 300, 200, &window));
    const double xs[3] = {10, 280, 100}, ys[3] = {4, 24, 189};
    const std::vector<double> bounds = {-0.5, 0.0, 0.25, 0.5};

    std::vector<int64_t> counts(5, 0);
    std::vector<double> values;
    double lo = 1e300, hi = -1e300;
    for (int r = 0; r < 200; ++r) {
        for (int c = 0; c < 300; ++c) {
            const double v = double(float(MapValue(c, r)));
            if (v == -9999.0 || std::isnan(v) || !point_in_polygon(3, xs, ys, c, r)) {
                continue;
            }
            int k = 0;
            while (k < 4 && v > bounds[size_t(k)]) {
                ++k;
            }
            ++counts[size_t(k)];
            values.push_back(v);
            lo = std::min(lo, v);
            hi = std::max(hi, v);
        }
    }
    double sum = 0.0;
    for (double v : values) {
        sum += v;
    }
    const double mean = sum / double(values.size());
    double squares = 0.0;
    for (double v : values) {
        squares += (v - mean) * (v - mean);
    }
    ASSERT_GT(counts[2], 100);  // the threshold values were counted in the class below them

    kv::ValueScan scan;
    rtest::RecordingProgress progress;
    ASSERT_EQ(kv::ScanValues(band, window, -9999.0, &progress, &scan), kv::WalkResult::Done);
    EXPECT_EQ(scan.count, int64_t(values.size()));
    EXPECT_EQ(scan.minimum, lo);
    EXPECT_EQ(scan.maximum, hi);
    EXPECT_EQ(progress.positions.back(), 100);

    kv::ClassStyle style{bounds, {0x0000FF, 0x0080FF, 0x00FFFF, 0x00FF80, 0x00FF00}, 230, 3};
    kv::ClassTally tally;
    ASSERT_EQ(kv::ClassifyValues(band, window, -9999.0, style, nullptr, &tally), kv::WalkResult::Done);
    EXPECT_EQ(tally.counts, counts);
    EXPECT_EQ(tally.total, int64_t(values.size()));
    EXPECT_NEAR(tally.mean, mean, 1e-12);
    EXPECT_NEAR(tally.standardDeviation, std::sqrt(squares / double(values.size())), 1e-9);

    // The whole raster, with NaN as the declared no-data value: -9999 is a value then.
    ASSERT_EQ(kv::ClassifyValues(band, kv::WholeRasterWindow(300, 200), std::nan(""), style, nullptr, &tally),
              kv::WalkResult::Done);
    int64_t lowest = 0;
    for (int r = 0; r < 200; ++r) {
        for (int c = 0; c < 300; ++c) {
            lowest += MapValue(c, r) <= -0.5;  // NaN compares false
        }
    }
    EXPECT_EQ(tally.counts[0], lowest);
    GDALClose(ds);
}

TEST(ClassReport, PictureIsEveryCellsCircleDrawnInProcessingOrder) {
    const QString folder = kvtest::NewTempFolder("class_picture");
    const std::vector<double> bounds = {0.2, 0.4, 0.6, 0.8};
    const std::vector<COLORREF> colours = {0x0000FF, 0x0080FF, 0x00FFFF, 0x00FF80, 0x00FF00};
    // A wide window shares picture centres among cells and spans three column blocks; a small
    // one gives every cell its own centre.
    for (const cv::Size size : {cv::Size(4300, 40), cv::Size(37, 23)}) {
        kvtest::RasterSpec spec;
        spec.width = size.width;
        spec.height = size.height;
        const QString path =
            kvtest::WriteRaster(folder + QString("/map_%1.tif").arg(size.width), spec, [](int c, int r, int) {
                const int k = (c * 31 + r * 17) % 11;
                return k == 10 ? -9999.0 : k / 10.0;
            });
        GDALDatasetH ds = Open(path);
        ASSERT_TRUE(ds);
        const kv::ClassWindow window = kv::WholeRasterWindow(size.width, size.height);
        const int radius = size.width > 100 ? 3 : 7;
        kv::ClassTally tally;
        ASSERT_EQ(kv::ClassifyValues(GDALGetRasterBand(ds, 1), window, -9999.0,
                                     {bounds, colours, 200, radius}, nullptr, &tally),
                  kv::WalkResult::Done);
        GDALClose(ds);

        const cv::Size pictureSize = kv::ClassPictureSize(size.width, size.height);
        ASSERT_EQ(tally.picture.size(), pictureSize);
        cv::Mat expected(pictureSize, CV_8UC3, cv::Scalar::all(200));
        for (int by = 0; by < size.height; by += 2048) {
            for (int bx = 0; bx < size.width; bx += 2048) {
                for (int r = by; r < std::min(by + 2048, size.height); ++r) {
                    for (int c = bx; c < std::min(bx + 2048, size.width); ++c) {
                        const int k = (c * 31 + r * 17) % 11;
                        if (k == 10) {
                            continue;
                        }
                        const COLORREF colour = colours[size_t(kv::ClassOf(double(float(k / 10.0)), bounds))];
                        const cv::Point centre(int(int64_t(c) * pictureSize.width / size.width),
                                               int(int64_t(r) * pictureSize.height / size.height));
                        cv::circle(expected, centre, radius,
                                   cv::Scalar(colour >> 16 & 0xFF, colour >> 8 & 0xFF, colour & 0xFF),
                                   cv::FILLED, cv::LINE_8);
                    }
                }
            }
        }
        EXPECT_EQ(cv::norm(tally.picture, expected, cv::NORM_INF), 0.0) << size.width;
    }
    EXPECT_EQ(kv::ClassCircleRadius(49.9), 7);
    EXPECT_EQ(kv::ClassCircleRadius(149.9), 5);
    EXPECT_EQ(kv::ClassCircleRadius(250.0), 3);

    // The picture file and the scratch folder of the swatches.
    cv::Mat picture(15, 20, CV_8UC3, cv::Scalar(10, 200, 30));
    ASSERT_TRUE(kv::WriteJpeg(picture, folder + "/picture.jpg"));
    EXPECT_EQ(cv::imread((folder + "/picture.jpg").toStdString()).size(), cv::Size(20, 15));
    EXPECT_FALSE(kv::WriteJpeg(picture, folder + "/missing/picture.jpg"));
    const QString scratch = kv::ReportScratchFolder();
    EXPECT_TRUE(scratch.endsWith("/tempReport"));
    EXPECT_TRUE(QFileInfo(scratch).isDir());
}

TEST(ClassReport, AbortAndFailedReadEndThePass) {
    const QString folder = kvtest::NewTempFolder("class_ends");
    kvtest::RasterSpec spec;
    spec.width = 64;
    spec.height = 4000;
    spec.options = {"TILED=YES", "BLOCKXSIZE=64", "BLOCKYSIZE=64", "COMPRESS=DEFLATE"};
    const QString path =
        kvtest::WriteRaster(folder + "/map.tif", spec, [](int c, int r, int) { return c + r; });
    GDALDatasetH ds = Open(path);
    ASSERT_TRUE(ds);
    rtest::RecordingProgress progress;
    progress.abortWhen = [](int pos) { return pos >= 30; };
    kv::ClassTally tally;
    tally.total = -1;
    EXPECT_EQ(kv::ClassifyValues(GDALGetRasterBand(ds, 1), kv::WholeRasterWindow(64, 4000), -9999.0,
                                 {{10.0}, {0, 0}, 200, 3}, &progress, &tally),
              kv::WalkResult::Aborted);
    EXPECT_EQ(tally.total, -1);  // nothing handed back
    EXPECT_LE(progress.positions.back(), 31);
    GDALClose(ds);

    // A file cut short opens and fails only where its blocks are read.
    QByteArray bytes = kvtest::FileBytes(path);
    ASSERT_TRUE(kvtest::WriteFileBytes(folder + "/cut.tif", bytes.left(bytes.size() * 2 / 3)));
    ds = Open(folder + "/cut.tif");
    ASSERT_TRUE(ds);
    kv::ValueScan scan;
    EXPECT_EQ(
        kv::ScanValues(GDALGetRasterBand(ds, 1), kv::WholeRasterWindow(64, 4000), -9999.0, nullptr, &scan),
        kv::WalkResult::ReadFailed);
    GDALClose(ds);
}
