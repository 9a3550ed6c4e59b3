// The slope grid on generated planes and windows, and CREATESLOPEMAP on the Olinda DEM checked
// against a direct plane fit of every window and against GDAL's own slope; the map of a model
// taller than one block against the whole grid written at once.
#include <QFile>
#include <QFileInfo>

#include <gdal_utils.h>
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "ProductsFixtures.h"
#include "platform/math/Wml.h"
#include "platform/ui/ActiveCommand.h"
#include "products/SlopeMap.h"
#include "raster/RasterIO.h"
#include "support/RasterFixtures.h"
#include "support/ScriptedInteraction.h"
#include "support/TestEnv.h"

namespace {

constexpr float kNd = -9999.0f;

template <class F>
cv::Mat Grid(int w, int h, const F& value) {
    cv::Mat grid(h, w, CV_32FC1);
    for (int r = 0; r < h; ++r)
        for (int c = 0; c < w; ++c)
            grid.at<float>(r, c) = float(value(c, r));
    return grid;
}

bool IsNoDataCell(const cv::Mat& slope, int c, int r) {
    const cv::Vec3f v = slope.at<cv::Vec3f>(r, c);
    return v[0] == kNd && v[1] == kNd && v[2] == kNd;
}

// The slope of cell (c, r) by a fit of its window's samples one by one.
bool DirectFit(const cv::Mat& dem, int c, int r, double pw, double t5, float out[3]) {
    std::vector<Wml::Point3> points;
    for (int j = r - 3; j <= r + 3; ++j)
        for (int i = c - 3; i <= c + 3; ++i)
            if (dem.at<float>(j, i) != kNd)
                points.emplace_back(i * pw, j * t5, dem.at<float>(j, i));
    if (points.size() < 16)
        return false;
    Wml::Point3 origin;
    Wml::Vector3 normal;
    Wml::OrthogonalPlaneFit(int(points.size()), points.data(), origin, normal);
    if (normal.Z() < 0)
        normal = -normal;
    out[0] = float(normal.X());
    out[1] = float(normal.Y());
    out[2] = float(std::tan(std::abs(std::acos(normal.Z()))));
    return true;
}

TEST(ComputeSlopeGridTest, PlanesGiveTheirNormalsAndTheBorderStaysNoData) {
    const cv::Mat flat = ComputeSlopeGrid(Grid(20, 15, [](int, int) { return 250.0; }), kNd, 2.0, -2.0);
    ASSERT_EQ(flat.type(), CV_32FC3);
    for (int r = 0; r < 15; ++r) {
        for (int c = 0; c < 20; ++c) {
            const bool interior = r >= 3 && r < 12 && c >= 3 && c < 17;
            if (interior) {
                EXPECT_EQ(flat.at<cv::Vec3f>(r, c), cv::Vec3f(0, 0, 0)) << c << "," << r;
            } else {
                EXPECT_TRUE(IsNoDataCell(flat, c, r)) << c << "," << r;
            }
        }
    }

    // Rising 1 m per metre to the east: 45 degrees, the normal leans west (down the slope).
    const cv::Vec3f east =
        ComputeSlopeGrid(Grid(20, 20, [](int c, int) { return 100.0 + 2.0 * c; }), kNd, 2.0, -2.0)
            .at<cv::Vec3f>(10, 10);
    EXPECT_NEAR(east[2], 1.0, 1e-6);
    EXPECT_NEAR(east[0], -std::sqrt(0.5), 1e-6);
    EXPECT_NEAR(east[1], 0.0, 1e-6);

    // Rising to the north (rows run south): the normal leans south, band 2 negative.
    const cv::Vec3f north =
        ComputeSlopeGrid(Grid(20, 20, [](int, int r) { return 100.0 - 0.5 * r; }), kNd, 2.0, -2.0)
            .at<cv::Vec3f>(10, 10);
    EXPECT_LT(north[1], -0.2f);
    EXPECT_NEAR(north[0], 0.0, 1e-6);
    EXPECT_NEAR(north[2], 0.25, 1e-6);

    // Six cells wide: no full window, all no data, the grid still of the input's size.
    const cv::Mat narrow = ComputeSlopeGrid(Grid(6, 30, [](int c, int) { return c; }), kNd, 1.0, -1.0);
    ASSERT_EQ(narrow.size(), cv::Size(6, 30));
    for (int r = 0; r < 30; ++r)
        for (int c = 0; c < 6; ++c)
            EXPECT_TRUE(IsNoDataCell(narrow, c, r));
}

TEST(ComputeSlopeGridTest, AWindowNeedsSixteenSamplesAndANaNCellLeavesItsWindowsWithoutFit) {
    // One 7 x 7 window: the first k cells in row order hold a tilted plane, the rest no data.
    auto window = [](int k) {
        return Grid(7, 7, [k](int c, int r) { return r * 7 + c < k ? 10.0 + 0.3 * c - 0.1 * r : kNd; });
    };
    EXPECT_TRUE(IsNoDataCell(ComputeSlopeGrid(window(15), kNd, 1.0, -1.0), 3, 3));
    // A no-data value a float cannot hold exactly still marks the cells that hold it.
    cv::Mat odd = window(15);
    odd.setTo(float(-9999.1), odd == kNd);
    EXPECT_EQ(ComputeSlopeGrid(odd, -9999.1, 1.0, -1.0).at<cv::Vec3f>(3, 3)[2], float(-9999.1));
    const cv::Mat sixteen = window(16);
    const cv::Vec3f fitted = ComputeSlopeGrid(sixteen, kNd, 1.0, -1.0).at<cv::Vec3f>(3, 3);
    float expected[3];
    ASSERT_TRUE(DirectFit(sixteen, 3, 3, 1.0, -1.0, expected));
    for (int k = 0; k < 3; ++k)
        EXPECT_NEAR(fitted[k], expected[k], 1e-6);

    // A NaN in a plane with a declared no-data value: the 49 windows that hold it have no fit,
    // every other window keeps its slope.
    cv::Mat plane = Grid(25, 25, [](int c, int r) { return 50.0 + 0.2 * c + 0.1 * r; });
    plane.at<float>(12, 12) = std::numeric_limits<float>::quiet_NaN();
    const cv::Mat slope = ComputeSlopeGrid(plane, kNd, 1.0, -1.0);
    for (int r = 3; r < 22; ++r) {
        for (int c = 3; c < 22; ++c) {
            const bool touches = std::abs(r - 12) <= 3 && std::abs(c - 12) <= 3;
            EXPECT_EQ(IsNoDataCell(slope, c, r), touches) << c << "," << r;
            EXPECT_FALSE(std::isnan(slope.at<cv::Vec3f>(r, c)[2]));
        }
    }

    // When NaN is the declared no data, NaN cells are simply left out of the fit.
    const cv::Mat nanNoData = ComputeSlopeGrid(plane, std::numeric_limits<double>::quiet_NaN(), 1.0, -1.0);
    EXPECT_NEAR(nanNoData.at<cv::Vec3f>(12, 12)[2], slope.at<cv::Vec3f>(3, 3)[2], 1e-6);
}

TEST(ComputeSlopeGridTest, CellsThatAreNotSquareGiveTheFitOfEveryWindowsPointsOneByOne) {
    // Rough terrain: slopes from flat to steep, with a noise of about a metre, and a few holes so
    // that full windows and windows with gaps meet.
    cv::RNG rng(7);
    cv::Mat dem = Grid(60, 50, [&rng](int c, int r) {
        return 200.0 + 40.0 * std::sin(c * 0.11) * std::cos(r * 0.07) + 0.02 * c * r + rng.gaussian(1.0);
    });
    dem(cv::Rect(20, 20, 3, 2)).setTo(kNd);
    dem.at<float>(40, 45) = kNd;
    for (const double height : {-1.0001, -3.0, 1.0001}) {
        const cv::Mat slope = ComputeSlopeGrid(dem, kNd, 1.0, height);
        for (int r = 3; r < dem.rows - 3; ++r) {
            for (int c = 3; c < dem.cols - 3; ++c) {
                float expected[3];
                ASSERT_TRUE(DirectFit(dem, c, r, 1.0, height, expected));
                const cv::Vec3f got = slope.at<cv::Vec3f>(r, c);
                for (int k = 0; k < 3; ++k) {
                    ASSERT_NEAR(got[k], expected[k], 1e-6 * std::max(1.0f, std::abs(expected[k])))
                        << "band " << k + 1 << " at " << c << "," << r << ", cells 1 x " << height;
                }
            }
        }
    }
}

class CreateSlopeMapTest : public ::testing::Test {
protected:
    void SetUp() override { ActiveCadCommandId = 0; }
    kvtest::ScriptedInteraction ui;
};

TEST_F(CreateSlopeMapTest, FilesThatAreNoFloatDtmWithNoDataAreRefused) {
    const QString folder = kvtest::NewTempFolder("refused");
    const double gt[6] = {0, 1, 0, 0, 0, -1};
    const double nd = -9999;
    const QString int16 =
        ptest::WriteGrid(folder + "/int16.tif", cv::Mat(20, 20, CV_16SC1, cv::Scalar(5)), gt, &nd);
    const QString twoBands =
        ptest::WriteGrid(folder + "/two.tif", cv::Mat(20, 20, CV_32FC2, cv::Scalar(5, 5)), gt, &nd);
    for (const QString& path : {kvtest::DataPath("olinda_dem_utm25s.tif"), int16, twoBands}) {
        ui.Clear();
        ui.AnswerFile(path);
        CmdCreateSlopeMap(nullptr);
        EXPECT_EQ(ui.MessageTexts(), QStringList{"Invalid DTM file!"}) << path.toStdString();
        const QFileInfo input(path);
        EXPECT_FALSE(QFile::exists(input.absolutePath() + '/' + input.completeBaseName() + "_SlopeMap.tif"));
    }
    ui.Clear();
    ui.AnswerFile(folder + "/absent.tif");
    CmdCreateSlopeMap(nullptr);
    EXPECT_EQ(ui.MessageTexts(), QStringList{"Unable to open DTM file!"});
    ui.Clear();
    CmdCreateSlopeMap(nullptr);  // the chooser refused
    EXPECT_TRUE(ui.Messages().empty());
}

TEST_F(CreateSlopeMapTest, OlindaSlopeMapEqualsADirectFitOfEveryWindowAndSmoothsGdalSlope) {
    const QString folder = kvtest::NewTempFolder("olinda_slope");
    const QString dtm = ptest::OlindaDtm(folder);
    ui.AnswerFile(dtm);
    CmdCreateSlopeMap(nullptr);
    EXPECT_EQ(ui.MessageTexts(), QStringList{"SlopeMap generation done"});
    EXPECT_EQ(ui.Messages().at(0).icon(), kv::MessageIcon::Information);
    EXPECT_EQ(ActiveCadCommandId, 0);

    const QString output = folder + "/olinda_dem_SlopeMap.tif";
    const kvtest::RasterFacts in = kvtest::Inspect(dtm);
    const kvtest::RasterFacts out = kvtest::Inspect(output);
    ASSERT_TRUE(out.opened);
    EXPECT_EQ(out.bands, 3);
    EXPECT_EQ(out.type, GDT_Float32);
    EXPECT_EQ(out.blockX, 128);
    EXPECT_EQ(out.blockY, 128);
    EXPECT_TRUE(out.hasNoData);
    EXPECT_EQ(out.noData, -9999.0);
    EXPECT_EQ(out.projection, in.projection);
    for (int k = 0; k < 6; ++k)
        EXPECT_EQ(out.geoTransform[k], in.geoTransform[k]);
    // Every band carries the no data.
    GDALDatasetH ds = GDALOpen(QFile::encodeName(output).constData(), GA_ReadOnly);
    for (int b = 2; b <= 3; ++b) {
        int has = 0;
        EXPECT_EQ(GDALGetRasterNoDataValue(GDALGetRasterBand(ds, b), &has), -9999.0);
        EXPECT_TRUE(has);
    }
    GDALClose(ds);
    const double* gtIn = in.geoTransform;

    const cv::Mat dem = ptest::ReadRaster(dtm);
    const cv::Mat slope = ptest::ReadRaster(output);
    ASSERT_EQ(slope.type(), CV_32FC3);
    double sum = 0.0;
    int interior = 0;
    for (int r = 3; r < dem.rows - 3; ++r) {
        for (int c = 3; c < dem.cols - 3; ++c) {
            float expected[3];
            ASSERT_TRUE(DirectFit(dem, c, r, gtIn[1], gtIn[5], expected));
            const cv::Vec3f got = slope.at<cv::Vec3f>(r, c);
            for (int k = 0; k < 3; ++k)
                ASSERT_NEAR(got[k], expected[k], 1e-5) << "band " << k + 1 << " at " << c << "," << r;
            sum += 100.0 * got[2];
            ++interior;
        }
    }
    const double ours = sum / interior;

    // GDAL's slope in percent from the 3 x 3 neighbourhood over the same cells.
    const char* args[] = {"-p", nullptr};
    GDALDEMProcessingOptions* options = GDALDEMProcessingOptionsNew(const_cast<char**>(args), nullptr);
    GDALDatasetH source = GDALOpen(QFile::encodeName(dtm).constData(), GA_ReadOnly);
    const QString gdalPath = folder + "/gdal_slope.tif";
    GDALClose(GDALDEMProcessing(QFile::encodeName(gdalPath).constData(), source, "slope", nullptr, options,
                                nullptr));
    GDALClose(source);
    GDALDEMProcessingOptionsFree(options);
    const cv::Mat gdal = ptest::ReadRaster(gdalPath);
    ASSERT_FALSE(gdal.empty());
    double gdalSum = 0.0;
    for (int r = 3; r < dem.rows - 3; ++r)
        for (int c = 3; c < dem.cols - 3; ++c)
            gdalSum += gdal.at<float>(r, c);
    const double theirs = gdalSum / interior;
    EXPECT_NEAR(ours, 2.32, 0.01);
    EXPECT_NEAR(theirs, 4.71, 0.01);
}

TEST_F(CreateSlopeMapTest, AModelWrittenBlockByBlockGivesTheFileOfTheWholeGridWrittenAtOnce) {
    const QString folder = kvtest::NewTempFolder("slope_blocks");
    // Five blocks of rows; holes and a NaN cell where the windows of two blocks meet, so that a
    // block's margin rows decide its edge cells.
    cv::Mat grid = Grid(150, 1100, [](int c, int r) {
        if ((r >= 250 && r <= 262 && c >= 40 && c < 60) || (r >= 509 && r <= 515 && c >= 100 && c < 104)) {
            return double(kNd);
        }
        return 100.0 + 0.3 * c + 0.05 * r + 3.0 * std::sin(c * 0.1) + 2.0 * std::cos(r * 0.07);
    });
    grid.at<float>(511, 70) = std::numeric_limits<float>::quiet_NaN();
    grid.at<float>(256, 10) = std::numeric_limits<float>::quiet_NaN();
    const double gt[6] = {300000.0, 2.5, 0.0, 9100000.0, 0.0, -2.5};
    const double nd = kNd;
    const QString dtm = ptest::WriteGrid(folder + "/tall.tif", grid, gt, &nd);
    ui.AnswerFile(dtm);
    CmdCreateSlopeMap(nullptr);
    EXPECT_EQ(ui.MessageTexts(), QStringList{"SlopeMap generation done"});

    const cv::Mat whole = ComputeSlopeGrid(grid, nd, gt[1], gt[5]);
    const QString reference = folder + "/reference.tif";
    ASSERT_TRUE(SaveImageAsGeoTiff(whole, gt, QString(), nd, reference, nullptr));
    const QString output = folder + "/tall_SlopeMap.tif";
    const kvtest::RasterFacts got = kvtest::Inspect(output), want = kvtest::Inspect(reference);
    ASSERT_TRUE(got.opened);
    EXPECT_EQ(got.bands, 3);
    EXPECT_EQ(got.blockX, want.blockX);
    EXPECT_EQ(got.blockY, want.blockY);
    EXPECT_EQ(got.noData, want.noData);
    EXPECT_EQ(got.overviewWidths, want.overviewWidths);
    EXPECT_EQ(got.overviews, 1);  // 1100 rows: one level
    for (int b = 1; b <= 3; ++b) {
        const std::vector<double> a = kvtest::ReadBand(output, b), e = kvtest::ReadBand(reference, b);
        ASSERT_EQ(a.size(), e.size());
        for (size_t i = 0; i < a.size(); ++i) {
            ASSERT_EQ(float(a[i]), float(e[i])) << "band " << b << " at " << i % 150 << "," << i / 150;
        }
    }
    int fitted = 0;
    for (int r = 0; r < whole.rows; ++r)
        for (int c = 0; c < whole.cols; ++c)
            fitted += !IsNoDataCell(whole, c, r);
    EXPECT_GT(fitted, 150000);
}

}  // namespace
