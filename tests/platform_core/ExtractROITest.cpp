#include <QFile>
#include <memory>
#include <vector>

#include <gdal.h>
#include <gtest/gtest.h>
#include <opencv2/core.hpp>

#include "platform/raster/ExtractROI.h"
#include "support/TestEnv.h"

namespace {

struct DatasetClose {
    void operator()(void* ds) const { GDALClose(ds); }
};
using Dataset = std::unique_ptr<void, DatasetClose>;

Dataset Open(const QString& path) {
    return Dataset(GDALOpen(path.toUtf8().constData(), GA_ReadOnly));
}

// The whole of one band at full resolution, as doubles.
cv::Mat ReadBand(GDALDatasetH ds, int band) {
    cv::Mat m(GDALGetRasterYSize(ds), GDALGetRasterXSize(ds), CV_64F);
    EXPECT_EQ(GDALRasterIO(GDALGetRasterBand(ds, band), GF_Read, 0, 0, m.cols, m.rows, m.data, m.cols, m.rows,
                           GDT_Float64, 0, 0),
              CE_None);
    return m;
}

}  // namespace

TEST(ExtractROI, WholeRasterAndReducedReadsTakeTheNearestCells) {
    Dataset ds = Open(kvtest::DataPath("olinda_dem_utm25s.tif"));
    ASSERT_TRUE(ds);
    cv::Mat full = ReadBand(ds.get(), 1);

    cv::Mat same(111, 111, CV_32F);
    ASSERT_NE(GDALExtractROI(ds.get(), same, nullptr, kExtractGrid, nullptr), 0);
    cv::Mat same64;
    same.convertTo(same64, CV_64F);
    EXPECT_EQ(cv::norm(same64, full, cv::NORM_INF), 0.0);

    // A third of the size: output cell i takes source cell 3 i + 1.
    cv::Mat small(37, 37, CV_32F);
    ASSERT_NE(GDALExtractROI(ds.get(), small, nullptr, kExtractGrid, nullptr), 0);
    for (int r : {0, 18, 36})
        for (int c : {0, 20, 36})
            EXPECT_EQ(small.at<float>(r, c), float(full.at<double>(3 * r + 1, 3 * c + 1)));
}

TEST(ExtractROI, RectangleHalfOutsideFillsTheOutsideWithNoData) {
    // The Olinda DEM has no no-data value: outside cells of a float image are -9999.
    Dataset dem = Open(kvtest::DataPath("olinda_dem_utm25s.tif"));
    ASSERT_TRUE(dem);
    cv::Mat full = ReadBand(dem.get(), 1);
    cv::Rect rect(-50, 61, 100, 100);  // runs off the left and the bottom
    cv::Mat img(50, 50, CV_32F, cv::Scalar(7));
    ASSERT_NE(GDALExtractROI(dem.get(), img, &rect, kExtractGrid, nullptr), 0);
    EXPECT_EQ(img.at<float>(0, 0), -9999.0f);
    EXPECT_EQ(img.at<float>(0, 24), -9999.0f);
    EXPECT_EQ(img.at<float>(25, 30), -9999.0f);
    for (int r : {0, 10, 24})
        for (int c : {25, 30, 49}) {
            EXPECT_EQ(img.at<float>(r, c), float(full.at<double>(61 + 2 * r + 1, 2 * (c - 25) + 1)));
        }

    // elev.tif is Int16 with no-data -32768: outside cells get -32768 in its own type and in float.
    Dataset elev = Open(kvtest::DataPath("elev.tif"));
    ASSERT_TRUE(elev);
    cv::Mat elevFull = ReadBand(elev.get(), 1);
    cv::Rect edge(30, 75, 20, 30);  // runs 15 rows past the bottom
    cv::Mat i16(30, 20, CV_16S, cv::Scalar(1));
    ASSERT_NE(GDALExtractROI(elev.get(), i16, &edge, kExtractGrid, nullptr), 0);
    cv::Mat f32(30, 20, CV_32F, cv::Scalar(1));
    ASSERT_NE(GDALExtractROI(elev.get(), f32, &edge, kExtractGrid, nullptr), 0);
    EXPECT_EQ(i16.at<short>(15, 5), -32768);
    EXPECT_EQ(i16.at<short>(29, 19), -32768);
    EXPECT_EQ(f32.at<float>(20, 0), -32768.0f);
    ASSERT_EQ(elevFull.at<double>(80, 30), 292.0);
    EXPECT_EQ(i16.at<short>(5, 0), 292);
    EXPECT_EQ(f32.at<float>(5, 0), 292.0f);
    EXPECT_EQ(f32.at<float>(7, 3), float(elevFull.at<double>(82, 33)));

    // Wholly outside there is nothing to read.
    cv::Rect away(200, 0, 10, 10);
    EXPECT_EQ(GDALExtractROI(elev.get(), i16, &away, kExtractGrid, nullptr), 0);
}

TEST(ExtractROI, ColourReadIsBlueGreenRed) {
    Dataset ds = Open(kvtest::DataPath("L7_ETMs.tif"));
    ASSERT_TRUE(ds);
    cv::Mat b1 = ReadBand(ds.get(), 1), b2 = ReadBand(ds.get(), 2), b3 = ReadBand(ds.get(), 3);
    cv::Rect rect(300, 100, 100, 40);  // 49 columns inside, 51 past the right edge
    cv::Mat img(40, 100, CV_8UC3, cv::Scalar(9, 9, 9));
    ASSERT_NE(GDALExtractROI(ds.get(), img, &rect, kExtractColour, nullptr), 0);
    for (int c : {0, 20, 48}) {
        cv::Vec3b px = img.at<cv::Vec3b>(10, c);
        EXPECT_EQ(px[0], b3.at<double>(110, 300 + c));
        EXPECT_EQ(px[1], b2.at<double>(110, 300 + c));
        EXPECT_EQ(px[2], b1.at<double>(110, 300 + c));
    }
    EXPECT_EQ(img.at<cv::Vec3b>(10, 49), cv::Vec3b(0, 0, 0));
    EXPECT_EQ(img.at<cv::Vec3b>(39, 99), cv::Vec3b(0, 0, 0));

    // One band gives grey.
    GDALDatasetH mem = GDALCreate(GDALGetDriverByName("MEM"), "", 4, 3, 1, GDT_Byte, nullptr);
    ASSERT_TRUE(mem);
    std::vector<unsigned char> grey = {10, 20, 30, 40, 50, 60, 70, 80, 90, 100, 110, 120};
    ASSERT_EQ(
        GDALRasterIO(GDALGetRasterBand(mem, 1), GF_Write, 0, 0, 4, 3, grey.data(), 4, 3, GDT_Byte, 0, 0),
        CE_None);
    cv::Mat g(3, 4, CV_8UC3);
    EXPECT_NE(GDALExtractROI(mem, g, nullptr, kExtractColour, nullptr), 0);
    EXPECT_EQ(g.at<cv::Vec3b>(1, 2), cv::Vec3b(70, 70, 70));
    GDALClose(mem);

    // Images that do not fit the mode are refused.
    cv::Mat f(3, 4, CV_32F), rgb(3, 4, CV_8UC3);
    EXPECT_EQ(GDALExtractROI(ds.get(), f, nullptr, kExtractColour, nullptr), 0);
    EXPECT_EQ(GDALExtractROI(ds.get(), rgb, nullptr, kExtractGrid, nullptr), 0);
    EXPECT_EQ(GDALExtractROI(ds.get(), rgb, nullptr, 3, nullptr), 0);
}

TEST(ExtractROI, TruncatedGeoTiffFailsInsteadOfGivingZeros) {
    Dataset src = Open(kvtest::DataPath("olinda_dem_utm25s.tif"));
    ASSERT_TRUE(src);
    QString path = kvtest::NewTempFolder("truncated") + "/dem.tif";
    const char* options[] = {"TILED=NO", "COMPRESS=NONE", nullptr};
    GDALDatasetH copy = GDALCreateCopy(GDALGetDriverByName("GTiff"), path.toUtf8().constData(), src.get(),
                                       FALSE, const_cast<char**>(options), nullptr, nullptr);
    ASSERT_TRUE(copy);
    GDALClose(copy);
    QFile file(path);
    ASSERT_TRUE(file.resize(file.size() * 2 / 3));

    Dataset cut = Open(path);
    ASSERT_TRUE(cut) << "the header must survive the cut";
    cv::Mat img(111, 111, CV_32F, cv::Scalar(0));
    EXPECT_EQ(GDALExtractROI(cut.get(), img, nullptr, kExtractGrid, nullptr), 0);
    // What is still in the file reads.
    cv::Rect top(0, 0, 111, 10);
    cv::Mat rows(10, 111, CV_32F);
    EXPECT_NE(GDALExtractROI(cut.get(), rows, &top, kExtractGrid, nullptr), 0);
}

TEST(ExtractROI, SignedIntegerGridsKeepEveryValue) {
    // Values a float buffer would round: the grid must travel as 32-bit integers.
    GDALDatasetH ds = GDALCreate(GDALGetDriverByName("MEM"), "", 4, 2, 1, GDT_Int32, nullptr);
    ASSERT_NE(ds, nullptr);
    Dataset owner(ds);
    const int cells[8] = {16777217, -2147483647, 2147483647, 0, -16777219, 5, 123456789, -1};
    ASSERT_EQ(GDALRasterIO(GDALGetRasterBand(ds, 1), GF_Write, 0, 0, 4, 2, const_cast<int*>(cells), 4, 2,
                           GDT_Int32, 0, 0),
              CE_None);
    cv::Mat grid(2, 4, CV_32S, cv::Scalar(42));
    ASSERT_NE(GDALExtractROI(ds, grid, nullptr, kExtractGrid, nullptr), 0);
    EXPECT_EQ(cv::countNonZero(grid != cv::Mat(2, 4, CV_32S, const_cast<int*>(cells))), 0);
    // Past the raster's edge an integer grid without no-data gets 0.
    cv::Rect rect(2, 0, 4, 2);
    ASSERT_NE(GDALExtractROI(ds, grid, &rect, kExtractGrid, nullptr), 0);
    EXPECT_EQ(grid.at<int>(0, 0), 2147483647);
    EXPECT_EQ(grid.at<int>(1, 1), -1);
    EXPECT_EQ(grid.at<int>(0, 2), 0);
}
