// The surface comparison's sampling, classes, pictures and statistics, on generated DEMs, on a real
// Int16 DEM with holes and on a real LiDAR point cloud.
#include <gtest/gtest.h>

#include <QFile>

#include <gdal.h>
#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <cmath>

#include "analysis/SurfaceComparison.h"
#include "demtools/DemFromPoints.h"
#include "support/RasterFixtures.h"
#include "support/TestEnv.h"

namespace {

QString Dem(const QString& path, int width, int height, double left, double top, double cell,
            const std::function<double(int, int, int)>& value, GDALDataType type = GDT_Float32,
            double noData = -9999.0, double cellHeight = 0.0) {
    kvtest::RasterSpec spec;
    spec.width = width;
    spec.height = height;
    spec.type = type;
    spec.noData = noData;
    spec.geoTransform = {left, cell, 0.0, top, 0.0, cellHeight != 0.0 ? cellHeight : -cell};
    return kvtest::WriteRaster(path, spec, value);
}

ComparisonGrid Grid(const QString& path) {
    ComparisonGrid grid;
    EXPECT_EQ(ReadComparisonGrid(path, &grid), GridRead::Ok) << path.toStdString();
    return grid;
}

// Pixels of the picture in the colour (a COLORREF).
int PixelsOf(const cv::Mat& picture, uint32_t colour) {
    const cv::Vec3b bgr((colour >> 16) & 0xFF, (colour >> 8) & 0xFF, colour & 0xFF);
    int n = 0;
    for (int r = 0; r < picture.rows; ++r) {
        for (int c = 0; c < picture.cols; ++c) {
            n += picture.at<cv::Vec3b>(r, c) == bgr;
        }
    }
    return n;
}

class SurfaceComparisonTest : public ::testing::Test {
protected:
    void SetUp() override { m_folder = kvtest::NewTempFolder("comparison"); }
    QString m_folder;
};

TEST_F(SurfaceComparisonTest,
       DifferencesOnTheThresholdsFallInTheClassBelowThemAndTheDeviationDividesByTheCount) {
    const ComparisonGrid reference =
        Grid(Dem(m_folder + "/ref.tif", 60, 20, 0.0, 20.0, 1.0, [](int, int, int) { return 10.0; }));
    const ComparisonGrid one =
        Grid(Dem(m_folder + "/one.tif", 60, 20, 0.0, 20.0, 1.0, [](int, int, int) { return 11.0; }));
    const ComparisonGrid five =
        Grid(Dem(m_folder + "/five.tif", 60, 20, 0.0, 20.0, 1.0, [](int, int, int) { return 15.0; }));
    ComparisonSettings settings;  // 1 and 5, step 1
    const ComparisonResult low = CompareDemToDem(reference, one, settings, nullptr);
    ASSERT_EQ(low.status, ComparisonResult::Done);
    ASSERT_FALSE(low.differences.empty());
    EXPECT_EQ(low.between + low.above, 0);
    const ComparisonResult middle = CompareDemToDem(reference, five, settings, nullptr);
    EXPECT_EQ(middle.between, int64_t(middle.differences.size()));
    EXPECT_EQ(middle.above, 0);
    // Wider than high: 2000 pixels for the span and a margin of 20.
    EXPECT_EQ(low.picture.cols, 2020);
    EXPECT_EQ(low.picture.rows, int(20.0 / (60.0 / 2000.0) + 15.0));
    EXPECT_GT(PixelsOf(low.picture, settings.colourBelow), 0);
    EXPECT_EQ(PixelsOf(middle.picture, settings.colourBelow), 0);
    EXPECT_GT(PixelsOf(middle.picture, settings.colourBetween), 0);

    ComparisonResult made;
    made.differences = {1.0, 3.0, 2.0, 6.0};
    made.sum = 12.0;
    made.between = 2;
    made.above = 1;
    const ComparisonStatistics s = Summarise(made);
    EXPECT_EQ(s.count, 4);
    EXPECT_EQ(s.below, 1);
    EXPECT_DOUBLE_EQ(s.mean, 3.0);
    EXPECT_DOUBLE_EQ(s.deviation, std::sqrt((4.0 + 0.0 + 1.0 + 9.0) / 4.0));

    settings.step = 0.0;
    EXPECT_EQ(CompareDemToDem(reference, one, settings, nullptr).status, ComparisonResult::InvalidStep);
    settings.step = -1.0;
    EXPECT_EQ(CompareDemToDem(reference, one, settings, nullptr).status, ComparisonResult::InvalidStep);
}

TEST_F(SurfaceComparisonTest, ACompareDemWithoutDataGivesGreyDotsOnlyAndDemsApartShareNoArea) {
    const ComparisonGrid reference =
        Grid(Dem(m_folder + "/ref.tif", 30, 30, 0.0, 30.0, 1.0, [](int c, int, int) { return c; }));
    const ComparisonGrid empty =
        Grid(Dem(m_folder + "/empty.tif", 30, 30, 5.0, 25.0, 1.0, [](int, int, int) { return -9999.0; }));
    const ComparisonGrid apart =
        Grid(Dem(m_folder + "/apart.tif", 30, 30, 30.0, 30.0, 1.0, [](int, int, int) { return 1.0; }));
    const ComparisonResult result = CompareDemToDem(reference, empty, ComparisonSettings(), nullptr);
    ASSERT_EQ(result.status, ComparisonResult::Done);
    EXPECT_TRUE(result.differences.empty());
    EXPECT_EQ(Summarise(result).count, 0);
    EXPECT_GT(PixelsOf(result.picture, 0xC8C8C8), 0);
    EXPECT_EQ(PixelsOf(result.picture, 0xF0F0F0) + PixelsOf(result.picture, 0xC8C8C8),
              result.picture.rows * result.picture.cols);
    EXPECT_EQ(CompareDemToDem(reference, apart, ComparisonSettings(), nullptr).status,
              ComparisonResult::NoOverlap);
}

// elev.tif: Int16 with no data -32768 and holes. The compared copy is Float32, raised by 1.5 on its
// western half.
TEST_F(SurfaceComparisonTest, AnInt16ReferenceWithHolesComparesLikeItsFloatCopyWithoutFalseDifferences) {
    const QString original = kvtest::DataPath("elev.tif");
    const std::vector<double> cells = kvtest::ReadBand(original);
    GDALDatasetH ds = GDALOpen(QFile::encodeName(original).constData(), GA_ReadOnly);
    ASSERT_NE(ds, nullptr);
    const int w = GDALGetRasterXSize(ds), h = GDALGetRasterYSize(ds);
    double gt[6];
    GDALGetGeoTransform(ds, gt);
    GDALClose(ds);
    const auto copy = [&](const QString& name, double raise) {
        return Dem(
            m_folder + name, w, h, gt[0], gt[3], gt[1],
            [&](int c, int r, int) {
                const double v = cells[size_t(r * w + c)];
                return v == -32768.0 ? -9999.0 : v + (c < w / 2 ? raise : 0.0);
            },
            GDT_Float32, -9999.0, gt[5]);
    };
    const ComparisonGrid int16 = Grid(original);
    EXPECT_EQ(int16.noData, -32768.0);
    const ComparisonGrid float32 = Grid(copy("/float.tif", 0.0));
    const ComparisonGrid raised = Grid(copy("/raised.tif", 1.5));
    ComparisonSettings settings;
    settings.step = gt[1];
    const ComparisonResult fromInt = CompareDemToDem(int16, raised, settings, nullptr);
    const ComparisonResult fromFloat = CompareDemToDem(float32, raised, settings, nullptr);
    ASSERT_EQ(fromInt.status, ComparisonResult::Done);
    EXPECT_EQ(fromInt.differences, fromFloat.differences);
    EXPECT_EQ(fromInt.above, 0);
    int zero = 0, raisedOnes = 0, seam = 0;
    for (double d : fromInt.differences) {
        // The cubic through a step overshoots it by a sixteenth halfway between two centres.
        EXPECT_LE(d, 1.5 * 17.0 / 16.0 + 1e-3);
        zero += d < 1e-3;
        raisedOnes += std::abs(d - 1.5) < 1e-3;
        seam += d >= 1e-3 && std::abs(d - 1.5) >= 1e-3;
    }
    // Only samples within two cells of the seam (four columns of each row) mix the halves.
    const int rows = int(std::ceil(h * -gt[5] / gt[1]));
    EXPECT_LE(seam, 4 * rows);
    EXPECT_GT(zero, 1000);
    EXPECT_GT(raisedOnes, 1000);
    EXPECT_EQ(fromInt.between,
              raisedOnes + std::count_if(fromInt.differences.begin(), fromInt.differences.end(),
                                         [](double d) { return d > 1.0 && std::abs(d - 1.5) >= 1e-3; }));
}

// A cell's value stands at the cell's centre, for DEMs and for points alike: one plane held at 1 m
// and at 2 m compares without a difference, and so do the Olinda DEM and its own cell centres as
// points (offsets from the first point in single precision cost a few tenths of a millimetre).
TEST_F(SurfaceComparisonTest, BothSurfacesAreSampledWhereTheirCellsValuesStand) {
    const ComparisonGrid fine = Grid(kvtest::DataPath("plane_1m.tif"));
    const ComparisonGrid coarse = Grid(kvtest::DataPath("plane_2m.tif"));
    for (double step : {1.0, 0.7}) {
        ComparisonSettings settings;
        settings.step = step;
        for (const auto& [reference, compared] : {std::pair(&fine, &coarse), std::pair(&coarse, &fine)}) {
            const ComparisonResult result = CompareDemToDem(*reference, *compared, settings, nullptr);
            ASSERT_EQ(result.status, ComparisonResult::Done);
            // Every place on the common area has both values, out to its edges (places on its
            // eastern and southern edges lie off both).
            EXPECT_EQ(result.differences.size(), size_t(std::ceil(100.0 / step) * std::floor(80.0 / step)));
            const ComparisonStatistics s = Summarise(result);
            EXPECT_NEAR(s.mean, 0.0, 1e-6) << step;
            EXPECT_LT(*std::max_element(result.differences.begin(), result.differences.end()), 1e-6);
        }
    }

    const QString olinda = kvtest::DataPath("olinda_dem_nodata.tif");
    const std::vector<double> cells = kvtest::ReadBand(olinda);
    const ComparisonGrid dem = Grid(olinda);
    const double* gt = dem.geoTransform;
    QByteArray xyz;
    for (int r = 0; r < dem.grid.rows; ++r) {
        for (int c = 0; c < dem.grid.cols; ++c) {
            xyz += QByteArray::number(gt[0] + (c + 0.5) * gt[1], 'f', 3) + ' ' +
                   QByteArray::number(gt[3] + (r + 0.5) * gt[5], 'f', 3) + ' ' +
                   QByteArray::number(cells[size_t(r * dem.grid.cols + c)], 'g', 9) + '\n';
        }
    }
    const QString centres = m_folder + "/centres.xyz";
    ASSERT_TRUE(kvtest::WriteFileBytes(centres, xyz));
    PointCloud cloud;
    ASSERT_TRUE(ReadPointCloud({centres}, PointFileReader::Kind::Ascii, nullptr, &cloud));
    const ComparisonResult own =
        ComparePointsToDem(dem, cloud, PointFileReader::Kind::Ascii, ComparisonSettings(), nullptr);
    ASSERT_EQ(own.status, ComparisonResult::Done);
    EXPECT_EQ(own.differences.size(), cells.size());
    EXPECT_LT(Summarise(own).mean, 1e-3);
}

TEST_F(SurfaceComparisonTest, LasPointsAgainstADemOfTheirOwnGiveA4000PixelPictureAndEveryKthPoint) {
    const QString las = kvtest::DataPath("autzen_trim.las");
    PointCloudGridder gridder({las});
    ASSERT_EQ(gridder.Scan(nullptr), PointCloudGridder::Done);
    ASSERT_EQ(gridder.Grid(2.0, m_folder + "/own.tif", nullptr), PointCloudGridder::Done);
    const ComparisonGrid dem = Grid(m_folder + "/own.tif");

    PointCloud cloud;
    ASSERT_TRUE(ReadPointCloud({las}, PointFileReader::Kind::Las, nullptr, &cloud));
    ASSERT_GT(cloud.offsets.size(), 100000u);
    // Offsets from the first point keep centimetres at these map coordinates.
    EXPECT_GT(cloud.originX, 600000.0);
    EXPECT_NEAR(cloud.originX + cloud.offsets.back().x, cloud.maxX, cloud.maxX - cloud.minX);

    ComparisonSettings settings;
    settings.step = 0.5;
    const ComparisonResult all =
        ComparePointsToDem(dem, cloud, PointFileReader::Kind::Las, settings, nullptr);
    settings.step = 2.7;
    const ComparisonResult half =
        ComparePointsToDem(dem, cloud, PointFileReader::Kind::Las, settings, nullptr);
    ASSERT_EQ(all.status, ComparisonResult::Done);
    EXPECT_EQ(std::max(all.picture.cols, all.picture.rows), 4000);
    // Nearly every point lies on a cell of the DEM gridded from them.
    const ComparisonStatistics s = Summarise(all);
    EXPECT_GT(s.count, int64_t(cloud.offsets.size() * 9 / 10));
    const int64_t halfCount = Summarise(half).count;
    EXPECT_NEAR(double(halfCount), double(s.count) / 2.0, double(s.count) * 0.01);

    EXPECT_FALSE(
        ReadPointCloud({las, m_folder + "/missing.las"}, PointFileReader::Kind::Las, nullptr, &cloud));
}

TEST_F(SurfaceComparisonTest,
       AsciiPointsAreReadPastBadLinesAndDrawnAsDotsOfTheirClassOrGreyWithoutReference) {
    const ComparisonGrid reference = Grid(Dem(m_folder + "/ref.tif", 50, 50, 100.0, 150.0, 1.0,
                                              [](int c, int, int) { return c < 10 ? -9999.0 : 7.0; }));
    const QString xyz = m_folder + "/points.xyz";
    ASSERT_TRUE(kvtest::WriteFileBytes(xyz,
                                       "120.5 130.5 7.2\nnot a point\n125.5 131.5\n130.5 120.5 9.5\n"
                                       "400 400 7\n121.5 121.5 20\n105.5 125.5 7\n"));
    PointCloud cloud;
    ASSERT_TRUE(ReadPointCloud({xyz}, PointFileReader::Kind::Ascii, nullptr, &cloud));
    ASSERT_EQ(cloud.offsets.size(), 5u);
    const ComparisonResult result =
        ComparePointsToDem(reference, cloud, PointFileReader::Kind::Ascii, ComparisonSettings(), nullptr);
    ASSERT_EQ(result.status, ComparisonResult::Done);
    ASSERT_EQ(result.differences.size(), 3u);
    EXPECT_NEAR(result.differences[0], 0.2, 1e-5);
    EXPECT_EQ(result.between, 1);
    EXPECT_EQ(result.above, 1);
    // The picture, drawn here with OpenCV's own circles: 2000 pixels for the 44.5 m span of the
    // common area and a margin of 10, each point's dot of radius 5 in its class colour.
    const double x0 = 105.5, y0 = 120.5, sx = 150.0 - x0, sy = 150.0 - y0, scale = sx / 2000.0;
    cv::Mat expected(int(sy / scale + 10), int(sx / scale + 10), CV_8UC3, cv::Scalar(240, 240, 240));
    const cv::Scalar colours[5] = {{0, 255, 0}, {0, 255, 255}, {200, 200, 200}, {0, 0, 255}, {200, 200, 200}};
    for (size_t i = 0; i < 5; ++i) {
        const cv::Point3f& p = cloud.offsets[i];
        const cv::Point at(int(std::floor((p.x - (x0 - cloud.originX)) / scale + 5.0)),
                           int(std::floor(sy / scale - (p.y - (y0 - cloud.originY)) / scale + 5.0)));
        cv::circle(expected, at, 5, colours[i], cv::FILLED, cv::LINE_8);
    }
    ASSERT_EQ(result.picture.size(), expected.size());
    EXPECT_EQ(cv::norm(result.picture, expected, cv::NORM_INF), 0.0);

    const QString far = m_folder + "/far.xyz";
    ASSERT_TRUE(kvtest::WriteFileBytes(far, "1000 1000 1\n1010 1010 1\n"));
    ASSERT_TRUE(ReadPointCloud({far}, PointFileReader::Kind::Ascii, nullptr, &cloud));
    EXPECT_EQ(
        ComparePointsToDem(reference, cloud, PointFileReader::Kind::Ascii, ComparisonSettings(), nullptr)
            .status,
        ComparisonResult::NoOverlap);
}

}  // namespace
