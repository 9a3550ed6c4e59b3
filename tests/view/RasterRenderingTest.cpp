// Drawing of raster layers under the drawing: reads, cache, colours of classes, clip and the
// transparent colour, the values kept for the readouts.
#include <QFile>
#include <QImage>
#include <QPainter>

#include <gtest/gtest.h>

#include <opencv2/imgproc.hpp>

#include <cmath>
#include <limits>
#include <set>

#include "platform/raster/ExtractROI.h"
#include "platform/ui/ElevationColorRamp.h"
#include "support/TestEnv.h"
#include "view/CadEventProcs.h"
#include "view/RasterRendering.h"
#include "view/ViewTestSupport.h"

namespace {

constexpr QRgb kBackground = 0xFF202020;
constexpr uint32_t kRed = 0x0000FF;
constexpr uint32_t kGreen = 0x00FF00;
constexpr uint32_t kBlue = 0xFF0000;

class RasterRenderingTest : public ::testing::Test {
protected:
    void SetUp() override {
        BuildElevationColorRamp();
        m_doc = new CKelvaroDoc();
    }
    void TearDown() override { m_doc->OnCloseDocument(); }

    // Paints the image place of the id with the raster's w pixels over W window pixels, its
    // top-left corner at the window's top-left corner.
    int Paint(QImage& canvas, int imageId, int w, int h, int W) {
        canvas = QImage(200, 200, QImage::Format_ARGB32);
        canvas.fill(kBackground);
        QPainter painter(&canvas);
        const CadWinRect update{0, 0, 200, 200};
        const int H = static_cast<int>(static_cast<double>(W) * h / w);
        return OnCadDrawImage(m_doc->m_pCad, &painter, &update, imageId, 0, H, W, H);
    }

    // A DEM of 8 x 8 cells holding the values row by row.
    CDEM* Dem(const std::vector<float>& values, const QString& name = QStringLiteral("dem.tif")) {
        cv::Mat grid(8, 8, CV_32FC1, cv::Scalar(kNoData));
        for (size_t i = 0; i < values.size() && i < 64; ++i) {
            grid.at<float>(static_cast<int>(i / 8), static_cast<int>(i % 8)) = values[i];
        }
        CDEM* dem = kvtest::AddDemLayer(*m_doc, kvtest::WriteRaster(name, grid, GDT_Float32, kNoData));
        dem->m_colorRangeMin = 0.0;
        dem->m_colorRangeMax = 40.0;
        return dem;
    }

    static void SetClasses(CAGColors& colors) {
        colors.m_classes = {{10.0f, 0.0f, kRed, 1, {}, {}},
                            {20.0f, 10.0f, kGreen, 0, {}, {}},
                            {30.0f, 20.0f, kBlue, 1, {}, {}}};
    }

    CKelvaroDoc* m_doc = nullptr;
};

TEST_F(RasterRenderingTest, ZoomedOutRepaintsOfTheSameWindowReadTheRasterOnce) {
    cv::Mat grid(64, 64, CV_32FC1, cv::Scalar(12.0f));
    CDEM* dem = kvtest::AddDemLayer(*m_doc, kvtest::WriteRaster("big.tif", grid, GDT_Float32, kNoData));
    dem->m_colorRangeMin = 0.0;
    dem->m_colorRangeMax = 40.0;
    QImage canvas;
    const long long before = RasterRenderReadCount();
    ASSERT_EQ(Paint(canvas, 1000, 64, 64, 32), 1);
    ASSERT_EQ(Paint(canvas, 1000, 64, 64, 32), 1);
    EXPECT_EQ(RasterRenderReadCount() - before, 1);
    EXPECT_NE(canvas.pixel(10, 10), kBackground);

    // Within a tenth of the scale the cached picture is drawn, and the values follow it to the
    // size on screen: what the readout and the snap read is what is shown.
    ASSERT_EQ(Paint(canvas, 1000, 64, 64, 30), 1);
    EXPECT_EQ(RasterRenderReadCount() - before, 1);
    EXPECT_EQ(dem->m_display.values.cols, 30);
    EXPECT_EQ(dem->m_display.values.rows, 30);

    // Zoomed in, every paint reads again.
    Paint(canvas, 1000, 64, 64, 128);
    Paint(canvas, 1000, 64, 64, 128);
    EXPECT_EQ(RasterRenderReadCount() - before, 3);

    // A DEM being rewritten is not drawn and not read.
    dem->m_busy = 1;
    EXPECT_EQ(Paint(canvas, 1000, 64, 64, 32), 0);
    EXPECT_EQ(RasterRenderReadCount() - before, 3);
}

// The values a target shows, worked out the plain way: the window read at the output size (zoomed
// in: at the raster's size, then enlarged bilinearly where no cell drawn on lacks data), cells
// without data -9999, the others value x scale + offset.
cv::Mat PlainValues(GDALDatasetH dataset, const RasterDrawTarget& t) {
    GDALRasterBandH band = GDALGetRasterBand(dataset, 1);
    int set = 0;
    const double noData = GDALGetRasterNoDataValue(band, &set);
    const bool hasNoData = set != 0;
    const double scale = GDALGetRasterScale(band, nullptr), offset = GDALGetRasterOffset(band, nullptr);
    const cv::Rect rect = t.ReadRect();
    const cv::Size out = t.OutputSize();
    cv::Mat stored(t.scale > 1.0 ? rect.size() : out, CV_32FC1);
    EXPECT_NE(GDALExtractROI(dataset, stored, &rect, kExtractGrid), 0);
    cv::Mat shown(stored.size(), CV_32FC1);
    for (int r = 0; r < stored.rows; ++r) {
        for (int c = 0; c < stored.cols; ++c) {
            const double v = stored.at<float>(r, c);
            const bool empty = !std::isfinite(v) || v == kNoData ||
                               (hasNoData && (v == noData || v == static_cast<float>(noData)));
            shown.at<float>(r, c) = empty ? kNoData : static_cast<float>(v * scale + offset);
        }
    }
    if (shown.size() == out) {
        return shown;
    }
    shown.setTo(std::numeric_limits<float>::quiet_NaN(), shown == kNoData);
    cv::Mat values;
    cv::resize(shown, values, out, 0, 0, cv::INTER_LINEAR);
    cv::patchNaNs(values, kNoData);
    return values;
}

// A picture of values, colour by colour; black and no data transparent.
cv::Mat PlainPicture(const cv::Mat& values, const RasterColouring& colouring) {
    cv::Mat picture(values.size(), CV_8UC3, cv::Scalar::all(0));
    for (int r = 0; r < values.rows; ++r) {
        for (int c = 0; c < values.cols; ++c) {
            const float v = values.at<float>(r, c);
            const uint32_t packed = IsNoData(v) ? 0u : ColourOfValue(v, colouring);
            picture.at<cv::Vec3b>(r, c) = cv::Vec3b(packed >> 16 & 0xFF, packed >> 8 & 0xFF, packed & 0xFF);
        }
    }
    return picture;
}

// The picture drawn the plain way: an ARGB image of its pixels with black transparent, drawn with
// the opacity.
void PlainPaint(QImage& canvas, const cv::Mat& picture, int x, int y, double opacity) {
    QImage image(picture.cols, picture.rows, QImage::Format_ARGB32);
    for (int r = 0; r < picture.rows; ++r) {
        for (int c = 0; c < picture.cols; ++c) {
            const cv::Vec3b p = picture.at<cv::Vec3b>(r, c);
            image.setPixel(c, r, p[0] || p[1] || p[2] ? qRgb(p[2], p[1], p[0]) : 0u);
        }
    }
    QPainter painter(&canvas);
    if (opacity >= 0.0 && opacity < 1.0) {
        painter.setOpacity(opacity);
    }
    painter.drawImage(QPoint(x, y), image);
}

// Heights of 800 x 600 cells, a DEM of them and a map of the same heights stored as (h - 100) / 0.5
// with no data 7, at half opacity: both panned across a window of 640 x 480 pixels zoomed out,
// at one pixel per cell and zoomed in, and a zoomed-out repaint drawn from the cache. Every paint
// shows the values the plain way reads them and paints what the plain way paints, on windows of
// either kind of pixels.
TEST_F(RasterRenderingTest, RepaintsWhilePanningPaintTheValuesOfTheWindowInTheirColours) {
    cv::Mat heights = kvtest::NoisySlope(600, 800, 40.0, 0.37f, 0.11f);
    heights(cv::Rect(100, 200, 60, 50)).setTo(kNoData);
    heights.at<float>(10, 20) = std::numeric_limits<float>::quiet_NaN();
    heights.at<float>(30, 40) = std::numeric_limits<float>::infinity();
    heights.at<float>(50, 60) = -0.0f;
    CDEM* dem = kvtest::AddDemLayer(*m_doc, kvtest::WriteRaster("panned.tif", heights, GDT_Float32, kNoData));
    dem->m_colors.Set_Palette(0, false, 100);
    dem->m_colorRangeMin = 0.0;
    dem->m_colorRangeMax = 400.0;

    cv::Mat stored = (heights - 100.0) / 0.5;
    stored.setTo(7.0f, heights == kNoData);
    CMapData* map =
        kvtest::AddMapLayer(*m_doc, kvtest::WriteRaster("stored.tif", stored, GDT_Float32, 7.0, 0.5, 100.0),
                            QStringLiteral("stored"), 50.0, 350.0);
    map->m_opacity = 0.5;
    SetClasses(map->m_colors);
    map->m_colors.m_classes.push_back({300.0f, 30.0f, 0x336699, 1, {}, {}});

    struct Layer {
        int id;
        GDALDatasetH dataset;
        RasterColouring colouring;
        double opacity;
        const RasterDisplayCache* display;
    };
    const Layer layers[] = {
        {1000, dem->m_pDataset, {0.0, 400.0, &dem->m_colors, false}, 1.0, &dem->m_display},
        {4000, map->m_pDataset, {50.0, 350.0, &map->m_colors, false}, 0.5, &map->m_display}};
    const CadWinRect update{0, 0, 640, 480};
    // What lies under the layers: colours of every kind, through which the map shows.
    cv::Mat under(480, 640, CV_8UC3);
    cv::randu(under, cv::Scalar::all(0), cv::Scalar::all(256));
    for (const QImage::Format format : {QImage::Format_ARGB32, QImage::Format_RGB32}) {
        QImage background(under.data, 640, 480, static_cast<qsizetype>(under.step), QImage::Format_BGR888);
        background = background.convertToFormat(format);
        for (const Layer& layer : layers) {
            for (const int W : {400, 800, 1600}) {
                for (const int pan : {0, 37, 101}) {
                    SCOPED_TRACE(testing::Message() << "format " << format << ", layer " << layer.id << ", "
                                                    << W << " pixels wide, panned by " << pan);
                    const int x0 = -pan, yb = W * 3 / 4 - pan / 2;
                    RasterDrawTarget t;
                    ASSERT_TRUE(LayoutPlace(&update, x0, yb, W, W * 3 / 4, 800, 600, t));
                    QImage canvas = background.copy();
                    QImage expected = background.copy();
                    {
                        QPainter painter(&canvas);
                        ASSERT_EQ(
                            OnCadDrawImage(m_doc->m_pCad, &painter, &update, layer.id, x0, yb, W, W * 3 / 4),
                            1);
                    }
                    const cv::Mat values = PlainValues(layer.dataset, t);
                    ASSERT_EQ(cv::norm(layer.display->values, values, cv::NORM_INF), 0.0);
                    const cv::Mat picture = PlainPicture(values, layer.colouring);
                    PlainPaint(expected, picture, t.x, t.y, layer.opacity);
                    EXPECT_EQ(canvas, expected);

                    // A slightly larger repaint of the same window draws the picture kept.
                    if (W != 400 || pan != 0) {
                        continue;
                    }
                    const long long reads = RasterRenderReadCount();
                    canvas = background.copy();
                    expected = background.copy();
                    {
                        QPainter painter(&canvas);
                        ASSERT_EQ(
                            OnCadDrawImage(m_doc->m_pCad, &painter, &update, layer.id, x0, 450, 420, 315), 1);
                    }
                    EXPECT_EQ(RasterRenderReadCount(), reads);
                    RasterDrawTarget larger;
                    ASSERT_TRUE(LayoutPlace(&update, x0, 450, 420, 315, 800, 600, larger));
                    cv::Mat resized;
                    cv::resize(picture(cv::Rect(0, 0, larger.ReadWidth(), larger.visibleHeight) &
                                       cv::Rect(0, 0, picture.cols, picture.rows)),
                               resized, larger.OutputSize(), 0, 0, cv::INTER_LINEAR);
                    PlainPaint(expected, resized, larger.x, larger.y, layer.opacity);
                    EXPECT_EQ(canvas, expected);
                }
            }
        }
    }
}

TEST_F(RasterRenderingTest, ClassesTakeTheClassOfTheirBoundAndDisabledClassesAndBlackAreTransparent) {
    CDEM* dem = Dem({10, 15, 20, 25, 30, 35, 5, kNoData});
    SetClasses(dem->m_colors);
    QImage canvas;
    ASSERT_EQ(Paint(canvas, 1000, 8, 8, 8), 1);
    EXPECT_EQ(canvas.pixel(0, 0), qRgb(255, 0, 0));  // 10: the bound of the first class
    EXPECT_EQ(canvas.pixel(1, 0), kBackground);      // 15: disabled class
    EXPECT_EQ(canvas.pixel(2, 0), kBackground);      // 20: the bound of the disabled class
    EXPECT_EQ(canvas.pixel(3, 0), qRgb(0, 0, 255));  // 25
    EXPECT_EQ(canvas.pixel(4, 0), qRgb(0, 0, 255));  // 30: the bound of the last class
    EXPECT_EQ(canvas.pixel(5, 0), qRgb(255, 0, 0));  // above the last bound: the first class
    EXPECT_EQ(canvas.pixel(7, 0), kBackground);      // no data
    // A class coloured black is transparent too.
    dem->m_colors.m_classes[0].color = 0;
    dem->ReleaseDisplayCache();
    Paint(canvas, 1000, 8, 8, 8);
    EXPECT_EQ(canvas.pixel(0, 0), kBackground);
}

TEST_F(RasterRenderingTest, PixelsOutsideTheLinkedPolylinesAreTransparent) {
    CDEM* dem = Dem(std::vector<float>(64, 25.0f));
    SetClasses(dem->m_colors);
    // The left half of the raster (model x 0 .. 4).
    CadClearVertices();
    for (auto [x, y] : {std::pair{0.0, 0.0}, {4.0, 0.0}, {4.0, 8.0}, {0.0, 8.0}}) {
        CadAddVertex(x, y, 0.0);
    }
    dem->SeamlinePolylines.push_back(CadAddPolyline(m_doc->m_pCad, 0, 1));
    QImage canvas;
    ASSERT_EQ(Paint(canvas, 1000, 8, 8, 16), 1);
    EXPECT_EQ(canvas.pixel(3, 8), qRgb(0, 0, 255));
    EXPECT_EQ(canvas.pixel(12, 8), kBackground);

    // Edited in memory, the DEM keeps its classes and its clip.
    ASSERT_EQ(dem->LoadData(), 1);
    dem->ReleaseDisplayCache();
    ASSERT_EQ(Paint(canvas, 1000, 8, 8, 16), 1);
    EXPECT_EQ(canvas.pixel(3, 8), qRgb(0, 0, 255));
    EXPECT_EQ(canvas.pixel(12, 8), kBackground);
}

TEST_F(RasterRenderingTest, TheDisplayImageHoldsTheValuesOfTheBandScaleAndOffset) {
    cv::Mat stored(8, 8, CV_16UC1, cv::Scalar(50));
    stored.at<uint16_t>(0, 0) = 0;
    CDEM* dem =
        kvtest::AddDemLayer(*m_doc, kvtest::WriteRaster("scaled.tif", stored, GDT_UInt16, 0, 0.5, 100));
    dem->m_colorRangeMin = 0.0;
    dem->m_colorRangeMax = 200.0;
    QImage canvas;
    ASSERT_EQ(Paint(canvas, 1000, 8, 8, 8), 1);
    EXPECT_FLOAT_EQ(dem->m_display.values.at<float>(3, 3), 125.0f);
    EXPECT_FLOAT_EQ(dem->m_display.values.at<float>(0, 0), kNoData);
}

TEST_F(RasterRenderingTest, AnInfiniteCellIsNoDataForTheRangeTheStatisticsAndEveryRendering) {
    // The Olinda DEM (heights -1 to 88) with the cell of column 10, row 10 at +infinity, as a DEM
    // and as a map.
    const QString folder = kvtest::NewTempFolder("infinite");
    for (const char* name : {"/dem.tif", "/map.tif"}) {
        ASSERT_TRUE(QFile::copy(kvtest::DataPath("dem_one_infinite_cell.tif"), folder + name));
        QFile::setPermissions(folder + name, QFile::ReadOwner | QFile::WriteOwner);
    }
    ASSERT_EQ(m_doc->AddDEM(folder + "/dem.tif", 0), 1);
    CDEM* dem = m_doc->m_DEMs["dem.tif"];
    EXPECT_EQ(dem->m_minElevation, -1.0);
    EXPECT_EQ(dem->m_maxElevation, 88.0);
    EXPECT_EQ(dem->m_colorRangeMax, 88.0);
    MapLayerInfo info;
    info.title = "map";
    info.path = folder + "/map.tif";
    ASSERT_TRUE(m_doc->AddMap(info, 0));
    CMapData* map = m_doc->m_Maps["map"];
    EXPECT_EQ(*map->m_pMax, 88.0);
    EXPECT_TRUE(std::isfinite(*map->m_pMean) && std::isfinite(*map->m_pStdDev));
    EXPECT_EQ(*map->m_pRangeMax, 88.0);

    // The cell is transparent and read back as no data; the heights around it keep their colours.
    auto expectHole = [&](int imageId, int W, const RasterDisplayCache& display) {
        SCOPED_TRACE(W);
        QImage canvas;
        ASSERT_EQ(Paint(canvas, imageId, 111, 111, W), 1);
        const int s = W / 111;
        EXPECT_EQ(canvas.pixel(10 * s, 10 * s), kBackground);
        EXPECT_NE(canvas.pixel(12 * s, 10 * s), kBackground);
        EXPECT_EQ(display.values.at<float>(10 * s, 10 * s), kNoData);
        std::set<QRgb> colours;
        for (int y = 0; y < 100; ++y) {
            for (int x = 0; x < 100; ++x) {
                colours.insert(canvas.pixel(x, y));
            }
        }
        EXPECT_GT(colours.size(), 20u);
    };
    expectHole(1000, 111, dem->m_display);
    expectHole(1000, 222, dem->m_display);
    expectHole(4000, 111, map->m_display);
    ASSERT_EQ(dem->LoadData(), 1);
    EXPECT_EQ(dem->m_grid.at<float>(10, 10), kNoData);
    dem->ReleaseDisplayCache();
    expectHole(1000, 222, dem->m_display);
    // Cells of the grid in memory that are no finite number (an edit may leave one) are no data
    // at its own size and reduced to half of it too.
    dem->m_grid.at<float>(20, 20) = std::numeric_limits<float>::quiet_NaN();
    dem->m_grid.at<float>(30, 30) = -HUGE_VALF;
    for (int W : {111, 55}) {
        dem->ReleaseDisplayCache();
        QImage picture;
        ASSERT_EQ(Paint(picture, 1000, 111, 111, W), 1);
        const int shown = W == 111 ? 1 : 2;  // window pixel n shows cell shown * n
        EXPECT_EQ(dem->m_display.values.at<float>(20 / shown, 20 / shown), kNoData) << W;
        EXPECT_EQ(dem->m_display.values.at<float>(30 / shown, 30 / shown), kNoData) << W;
        EXPECT_EQ(picture.pixel(30 / shown, 30 / shown), kBackground) << W;
        EXPECT_EQ(dem->m_display.values.at<float>(24 / shown, 24 / shown), dem->m_grid.at<float>(24, 24))
            << W;
    }
    // A colour range that ends at infinity, as a project may hold it, draws without a position on
    // the palette for any height.
    dem->m_colorRangeMax = HUGE_VAL;
    dem->ReleaseDisplayCache();
    QImage canvas;
    EXPECT_EQ(Paint(canvas, 1000, 111, 111, 111), 1);
    EXPECT_EQ(canvas.pixel(10, 10), kBackground);
}

TEST_F(RasterRenderingTest, OrthophotosAreTransparentWhereBlackAndWideBandsAreStretched) {
    cv::Mat rgb(8, 8, CV_8UC3, cv::Scalar(40, 120, 200));
    rgb(cv::Rect(0, 0, 4, 8)).setTo(cv::Scalar::all(0));
    kvtest::AddOrthoLayer(*m_doc, kvtest::WriteRaster("ortho.tif", rgb, GDT_Byte, 0));
    QImage canvas;
    ASSERT_EQ(Paint(canvas, 2000, 8, 8, 8), 1);
    EXPECT_EQ(canvas.pixel(1, 1), kBackground);
    EXPECT_EQ(canvas.pixel(6, 1), qRgb(40, 120, 200));

    // 16-bit bands between 1000 and 3000: a plain cut to 8 bits would be white.
    cv::Mat wide(32, 32, CV_16UC3);
    cv::randu(wide, cv::Scalar::all(1000), cv::Scalar::all(3000));
    kvtest::AddOrthoLayer(*m_doc, kvtest::WriteRaster("wide.tif", wide, GDT_UInt16, 0), 1);
    ASSERT_EQ(Paint(canvas, 2001, 32, 32, 32), 1);
    int white = 0;
    double sum = 0;
    for (int y = 0; y < 32; ++y) {
        for (int x = 0; x < 32; ++x) {
            white += canvas.pixel(x, y) == qRgb(255, 255, 255);
            sum += qGray(canvas.pixel(x, y));
        }
    }
    EXPECT_LT(white, 32 * 32 / 10);
    EXPECT_NEAR(sum / (32 * 32), 128, 25);
}

TEST_F(RasterRenderingTest, AFilledPolylineTakesItsTransparencyFromItsUserData) {
    CadClearVertices();
    CadAddVertex(0, 0, 0);
    CadAddVertex(10, 0, 0);
    CadAddVertex(10, 10, 0);
    CadEntity* polyline = CadAddPolyline(m_doc->m_pCad, 0, 1);
    CadEntityPutUserData(polyline, 128);
    QImage canvas(40, 40, QImage::Format_ARGB32);
    canvas.fill(Qt::transparent);
    QPainter painter(&canvas);
    const QPoint points[] = {{0, 0}, {30, 0}, {30, 30}, {0, 30}};
    const int counts[] = {4};
    EXPECT_EQ(OnCadPolyFill(m_doc->m_pCad, polyline, &painter, points, counts, 1, kBlue), 1);
    painter.end();
    EXPECT_EQ(qAlpha(canvas.pixel(15, 15)), 127);
    EXPECT_EQ(qBlue(canvas.pixel(15, 15)), 255);
    EXPECT_EQ(OnCadPolyFill(m_doc->m_pCad, CadAddLine(m_doc->m_pCad, 0, 0, 0, 1, 1, 0), &painter, points,
                            counts, 1, kBlue),
              0);
}

}  // namespace
