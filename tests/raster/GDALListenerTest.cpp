#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLabel>

#include <gtest/gtest.h>

#include <cmath>

#include "RecordingProgress.h"
#include "raster/GDALListener.h"
#include "support/RasterFixtures.h"
#include "support/TestEnv.h"

TEST(GdalProgress, MovesTheBarOncePerPercentAndStopsOnAbort) {
    EXPECT_EQ(GDALListenerProgress(0.5, "x", nullptr), 1);

    rtest::RecordingProgress bar;
    QLabel percent;
    QLabel message;
    CGDALListener listener(&bar, &percent);
    listener.m_pMessage = &message;
    EXPECT_EQ(GDALListenerProgress(0.371, "Building overviews", &listener), 1);
    EXPECT_EQ(GDALListenerProgress(0.374, "Building overviews", &listener), 1);
    EXPECT_EQ(GDALListenerProgress(0.38, nullptr, &listener), 1);
    EXPECT_EQ(bar.positions, (std::vector<int>{37, 38}));
    EXPECT_EQ(percent.text(), "38 %");
    EXPECT_EQ(message.text(), "Building overviews");
    EXPECT_EQ(listener.m_lastPercentage, 38);

    listener.m_abort = 1;
    EXPECT_EQ(GDALListenerProgress(0.9, nullptr, &listener), 0);
    EXPECT_EQ(bar.positions.size(), 2u);

    // The progress window's own abort request stops as well.
    rtest::RecordingProgress aborting;
    aborting.aborted = true;
    CGDALListener second(&aborting);
    EXPECT_EQ(GDALListenerProgress(0.1, nullptr, &second), 0);
}

namespace {

kvtest::RasterSpec DemSpec(int w, int h) {
    kvtest::RasterSpec spec;
    spec.width = w;
    spec.height = h;
    spec.geoTransform[1] = 3.0;
    spec.geoTransform[5] = -3.0;
    return spec;
}

}  // namespace

TEST(Resample, SizesPixelSizesAndValues) {
    QString dir = kvtest::NewTempFolder("resample");
    QString big =
        kvtest::WriteRaster(dir + "/big.tif", DemSpec(1001, 1001), [](int c, int r, int) { return c + r; });
    ASSERT_TRUE(ResampleRasterGDAL(big, dir + "/Half.tif", 0.5, nullptr, nullptr));
    kvtest::RasterFacts f = kvtest::Inspect(dir + "/Half.tif");
    EXPECT_EQ(f.width, 501);
    EXPECT_EQ(f.height, 501);
    EXPECT_EQ(f.geoTransform[1], 6.0);
    EXPECT_EQ(f.geoTransform[5], -6.0);
    EXPECT_EQ(f.geoTransform[0], 500000.0);
    EXPECT_EQ(f.noData, -9999.0);
    EXPECT_EQ(f.type, GDT_Float32);

    kvtest::RasterSpec spec = DemSpec(3, 3);
    spec.type = GDT_Int16;
    spec.noData = -32768;
    QString small = kvtest::WriteRaster(dir + "/small.tif", spec, [](int c, int, int) { return 10 * c; });
    const char* options[] = {"TILED=YES", "BLOCKXSIZE=128", "BLOCKYSIZE=128", "BIGTIFF=IF_NEEDED", nullptr};
    CGDALListener listener;
    ASSERT_TRUE(ResampleRasterGDAL(small, dir + "/double.tif", 2.0, const_cast<char**>(options), &listener));
    f = kvtest::Inspect(dir + "/double.tif");
    EXPECT_EQ(f.width, 6);
    EXPECT_EQ(f.height, 6);
    EXPECT_EQ(f.geoTransform[1], 1.5);
    EXPECT_EQ(f.type, GDT_Int16);
    EXPECT_EQ(f.blockX, 128);
    std::vector<double> cells = kvtest::ReadBand(dir + "/double.tif");
    EXPECT_EQ(cells[2], 8.0);  // 7.5, a quarter of the way from column 1 back to column 0, rounded
    EXPECT_EQ(listener.m_lastPercentage, 100);

    EXPECT_FALSE(ResampleRasterGDAL(small, dir + "/zero.tif", 0.0, nullptr, nullptr));
    EXPECT_FALSE(ResampleRasterGDAL(dir + "/absent.tif", dir + "/x.tif", 1.0, nullptr, nullptr));
    EXPECT_FALSE(ResampleRasterGDAL(small, QString(), 1.0, nullptr, nullptr));
    EXPECT_FALSE(QFileInfo::exists(dir + "/zero.tif"));
    // A target cell size of 0 (an infinite factor) and sides beyond an int are refused, not
    // turned into an undefined size.
    EXPECT_FALSE(ResampleRasterGDAL(small, dir + "/inf.tif", HUGE_VAL, nullptr, nullptr));
    EXPECT_FALSE(ResampleRasterGDAL(small, dir + "/nan.tif", std::nan(""), nullptr, nullptr));
    EXPECT_FALSE(ResampleRasterGDAL(small, dir + "/huge.tif", 1e12, nullptr, nullptr));
    EXPECT_TRUE(QDir(dir).entryList({"inf*", "nan*", "huge*"}, QDir::Files).isEmpty());
}

TEST(Resample, OutputIsGeoTiffWhateverTheSourceAndKeepsItsProjection) {
    QString dir = kvtest::NewTempFolder("resample_fmt");
    kvtest::RasterSpec spec = DemSpec(20, 20);
    spec.driver = "HFA";
    QString img = kvtest::WriteRaster(dir + "/dem.img", spec, [](int c, int, int) { return c; });
    GDALDatasetH ds = GDALOpen(QFile::encodeName(img).constData(), GA_Update);
    ASSERT_NE(ds, nullptr);
    GDALSetProjection(
        ds,
        "PROJCS[\"WGS 84 / UTM zone 25S\",GEOGCS[\"WGS 84\",DATUM[\"WGS_1984\",SPHEROID[\"WGS 84\","
        "6378137,298.257223563]],PRIMEM[\"Greenwich\",0],UNIT[\"degree\",0.0174532925199433]],"
        "PROJECTION[\"Transverse_Mercator\"],PARAMETER[\"latitude_of_origin\",0],"
        "PARAMETER[\"central_meridian\",-33],PARAMETER[\"scale_factor\",0.9996],"
        "PARAMETER[\"false_easting\",500000],PARAMETER[\"false_northing\",10000000],"
        "UNIT[\"metre\",1]]");
    GDALClose(ds);
    ASSERT_TRUE(ResampleRasterGDAL(img, dir + "/out.img", 0.5, nullptr, nullptr));
    kvtest::RasterFacts f = kvtest::Inspect(dir + "/out.img");
    EXPECT_EQ(f.driver, "GTiff");
    EXPECT_EQ(f.width, 10);
    EXPECT_NE(f.projection.find("UTM zone 25S"), std::string::npos);
}

TEST(Resample, AbortDuringWarpOrOverviewsLeavesNoFile) {
    QString dir = kvtest::NewTempFolder("resample_abort");
    kvtest::RasterSpec spec = DemSpec(3000, 3000);
    spec.type = GDT_Byte;
    spec.noData = 0;
    QString src = kvtest::WriteRaster(dir + "/src.tif", spec, [](int c, int, int) { return c % 200 + 1; });

    // Stopped while the overviews are built: the warp has finished (100 %), then the first
    // overview step asks to stop.
    rtest::RecordingProgress bar;
    bool warped = false;
    bar.abortWhen = [&](int pos) {
        if (pos == 100) {
            warped = true;
            return false;
        }
        return warped;
    };
    CGDALListener listener(&bar);
    EXPECT_FALSE(ResampleRasterGDAL(src, dir + "/ovr.tif", 1.0, nullptr, &listener));
    EXPECT_TRUE(warped);
    EXPECT_FALSE(QFileInfo::exists(dir + "/ovr.tif"));

    // Stopped during the warp: an earlier file at the target stays as it was.
    QFile keep(dir + "/warp.tif");
    ASSERT_TRUE(keep.open(QIODevice::WriteOnly));
    keep.write("earlier");
    keep.close();
    rtest::RecordingProgress early;
    early.abortWhen = [](int pos) { return pos > 0; };
    CGDALListener stop(&early);
    EXPECT_FALSE(ResampleRasterGDAL(src, dir + "/warp.tif", 1.0, nullptr, &stop));
    ASSERT_TRUE(keep.open(QIODevice::ReadOnly));
    EXPECT_EQ(keep.readAll(), "earlier");
    EXPECT_EQ(QDir(dir).entryList(QDir::Files), (QStringList{"src.tif", "warp.tif"}));
}

TEST(AutoLevels, StretchesUsedLevelsAndLeavesFullRangesAndBlackAlone) {
    cv::Mat grey(4, 64, CV_8UC3);
    for (int c = 0; c < 64; ++c) {
        grey.col(c).setTo(cv::Scalar::all(c * 4 + (c == 63 ? 3 : 0)));
    }
    grey.at<cv::Vec3b>(0, 0) = cv::Vec3b(0, 0, 0);
    cv::Mat out;
    AutoLevelsRGB(grey, out);
    grey.at<cv::Vec3b>(0, 0) = cv::Vec3b(0, 0, 0);
    EXPECT_EQ(cv::norm(grey, out, cv::NORM_INF), 0.0);

    cv::Mat mid(1, 3, CV_8UC3);
    mid.at<cv::Vec3b>(0, 0) = cv::Vec3b(50, 255, 0);
    mid.at<cv::Vec3b>(0, 1) = cv::Vec3b(150, 7, 9);
    mid.at<cv::Vec3b>(0, 2) = cv::Vec3b(0, 0, 0);
    cv::Mat target(1, 3, CV_8UC3, cv::Scalar(1, 2, 3));
    AutoLevelsRGB(mid, target);
    // Channel 0 uses 50 .. 150: lo 49, hi 151, factor 104 / 256.
    EXPECT_EQ(target.at<cv::Vec3b>(0, 0)[0], static_cast<uchar>((50 - 49) * 256.0 / 104 + 49));
    EXPECT_EQ(target.at<cv::Vec3b>(0, 1)[0], 255);
    // Channel 1 touches 255 and channel 2 touches 0: copied as they are.
    EXPECT_EQ(target.at<cv::Vec3b>(0, 0)[1], 255);
    EXPECT_EQ(target.at<cv::Vec3b>(0, 1)[1], 7);
    EXPECT_EQ(target.at<cv::Vec3b>(0, 1)[2], 9);
    // The black pixel is not written.
    EXPECT_EQ(target.at<cv::Vec3b>(0, 2), cv::Vec3b(1, 2, 3));
}
