// The event procedures in a project window: readouts in the status bar and beside the cursor,
// the snap to a DEM, the seamline editing's mouse hook, and pictures of real layers.
#include <QCoreApplication>
#include <QDir>
#include <QMdiArea>
#include <QPainter>
#include <QTest>
#include <QWindow>

#include <gtest/gtest.h>

#include <gdal_utils.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <functional>
#include <set>

#include "platform/ui/ActiveCommand.h"
#include "platform/ui/ElevationColorRamp.h"
#include "support/MouseInput.h"
#include "support/Pictures.h"
#include "support/TestEnv.h"
#include "view/CadEventProcs.h"
#include "view/KelvaroFrame.h"
#include "view/KelvaroView.h"
#include "view/RasterRendering.h"
#include "view/ViewTestSupport.h"

namespace {

// How far the pixels of the rectangle are from grey on average: the largest channel less the
// smallest. The DEM's colour ramp is far from grey, the Landsat scene close to it.
double MeanChroma(const QImage& image, const QRect& rect) {
    double sum = 0.0;
    int n = 0;
    for (int y = rect.top(); y <= rect.bottom(); ++y) {
        for (int x = rect.left(); x <= rect.right(); ++x) {
            const QRgb p = image.pixel(x, y);
            sum += std::max({qRed(p), qGreen(p), qBlue(p)}) - std::min({qRed(p), qGreen(p), qBlue(p)});
            ++n;
        }
    }
    return n > 0 ? sum / n : 0.0;
}

// Moves the mouse across the view through its window, every `step` pixels each way, and counts the
// readouts in the status bar that differ from what `expected` gives for the model point (x, y);
// points where it gives a null text are skipped. More than `least` points must be read.
int Misreadings(QWidget* view, const kvtest::StatusRecorder& status, QPoint step, int least,
                const std::function<QString(double, double)>& expected) {
    int wrong = 0, read = 0;
    for (int py = 3; py < view->height(); py += step.y()) {
        for (int px = 3; px < view->width(); px += step.x()) {
            kvtest::MoveThroughWindow(view, QPoint(px, py));
            double x = 0, y = 0;
            CadCoordWinToModel(view, px, py, &x, &y);
            const QString text = expected(x, y);
            if (text.isNull()) {
                continue;
            }
            ++read;
            wrong += status.texts.empty() || status.texts.back() != text;
        }
    }
    EXPECT_GT(read, least);
    return wrong;
}

class CadEventProcsTest : public ::testing::Test {
protected:
    void SetUp() override {
        BuildElevationColorRamp();
        ActiveCadCommandId = 0;
        SetCadEventInstaller(RegisterDocumentEventProcs);
        m_area.resize(640, 480);
        m_area.show();
        m_doc = new CKelvaroDoc();
    }
    void TearDown() override {
        ActiveCadCommandId = 0;
        CadScriptSetStrict(0);
        m_doc->OnCloseDocument();
        SetCadEventInstaller(nullptr);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }

    // Opens the project window, zooms to the layers and paints the drawing once.
    QWidget* ShowAndPaint() {
        CKelvaroFrame* frame = CreateProjectWindow(m_doc, &m_area);
        m_area.setViewMode(QMdiArea::SubWindowView);
        frame->showMaximized();
        QCoreApplication::processEvents();
        QWidget* cad = frame->GetView()->GetCadWindow();
        CadExecute(m_doc->m_pCad, cad, CAD_CMD_ZOOM_EXTENTS);
        cad->grab();
        return cad;
    }

    QMdiArea m_area;
    CKelvaroDoc* m_doc = nullptr;
};

TEST_F(CadEventProcsTest, TheStatusBarAndTheCursorShowTheValueUnderTheMouse) {
    cv::Mat grid(8, 8, CV_32FC1, cv::Scalar(50.0f));
    grid(cv::Rect(0, 0, 3, 3)).setTo(kNoData);
    CDEM* dem = kvtest::AddDemLayer(*m_doc, kvtest::WriteRaster("dem.tif", grid, GDT_Float32, kNoData));
    dem->m_colorRangeMin = 0.0;
    dem->m_colorRangeMax = 100.0;
    kvtest::StatusRecorder status;
    ShowAndPaint();
    ASSERT_FALSE(dem->m_display.values.empty());

    m_doc->m_strCommandPrompt = QStringLiteral("old");
    OnCadMouseMove(m_doc->m_pCad, 0, 1.5, 6.5);
    ASSERT_EQ(status.texts.size(), 1u);
    EXPECT_EQ(status.texts.back(), QStringLiteral("1.500, 6.500"));
    EXPECT_TRUE(m_doc->m_strCommandPrompt.isEmpty());
    OnCadMouseMove(m_doc->m_pCad, 0, 5.5, 2.5);
    EXPECT_EQ(status.texts.back(), QStringLiteral("5.500, 2.500, 50.000 (dem.tif)"));

    // A slope map on top: the value in percent, beside the cursor as well.
    cv::Mat slope(8, 8, CV_32FC1, cv::Scalar(0.1f));
    const QString path = kvtest::WriteRaster("slope.tif", slope, GDT_Float32, kNoData);
    auto* map = new CMapData(m_doc);
    map->m_name = QStringLiteral("slope");
    map->m_path = path;
    map->m_pDataset = GDALOpen(path.toUtf8().constData(), GA_ReadOnly);
    GDALGetGeoTransform(map->m_pDataset, map->m_geoTransform);
    map->m_mapType = MapTypeSlope;
    map->m_pRangeMin = std::make_unique<double>(0.0);
    map->m_pRangeMax = std::make_unique<double>(0.5);
    map->m_imageDefId = 4000;
    map->m_imageEntity = kvtest::AddImagePlace(*m_doc, map->m_name, 4000, 8, 8, map->m_geoTransform);
    m_doc->m_Maps[map->m_name] = map;
    m_doc->m_MapIdNames[4000] = map->m_name;
    m_doc->m_MapHandleNames[map->m_imageEntity] = map->m_name;
    CadGetWindow(m_doc->m_pCad)->grab();
    ASSERT_FALSE(map->m_display.values.empty());

    OnCadMouseMove(m_doc->m_pCad, 0, 5.5, 2.5);
    EXPECT_EQ(status.texts.back(), QStringLiteral("5.500, 2.500, 10.033 (slope)"));
    EXPECT_EQ(m_doc->m_strCommandPrompt, QStringLiteral("10.033 %"));
    // The same with the mouse over the map in the window.
    m_doc->m_strCommandPrompt.clear();
    QWidget* cad = CadGetWindow(m_doc->m_pCad);
    int px = 0, py = 0;
    ASSERT_TRUE(CadCoordModelToWin(cad, 5.5, 2.5, &px, &py));
    QTest::mouseMove(cad, QPoint(px, py));
    EXPECT_TRUE(status.texts.back().endsWith(QStringLiteral(", 10.033 (slope)")))
        << status.texts.back().toStdString();
    EXPECT_EQ(m_doc->m_strCommandPrompt, QStringLiteral("10.033 %"));

    // With key flag 4 nothing changes.
    const size_t shown = status.texts.size();
    OnCadMouseMove(m_doc->m_pCad, CAD_KEY_SHIFT, 1.5, 6.5);
    EXPECT_EQ(status.texts.size(), shown);
    EXPECT_EQ(m_doc->m_strCommandPrompt, QStringLiteral("10.033 %"));
}

TEST_F(CadEventProcsTest, APickWithTheImageSnapTakesTheHeightOfTheDemsCell) {
    cv::Mat grid(8, 8, CV_32FC1);
    for (int r = 0; r < 8; ++r) {
        for (int c = 0; c < 8; ++c) {
            grid.at<float>(r, c) = static_cast<float>(100 + 10 * r + c);
        }
    }
    CDEM* dem = kvtest::AddDemLayer(*m_doc, kvtest::WriteRaster("dem.tif", grid, GDT_Float32, kNoData));
    dem->m_colorRangeMin = 100.0;
    dem->m_colorRangeMax = 180.0;
    ShowAndPaint();
    CadSnapPutMode(m_doc->m_pCad, CAD_SNAP_IMAGEPLACE);
    CadSnapPutOn(m_doc->m_pCad, 1);
    CadScriptSetStrict(1);
    // Model point (2.5, 4.5) lies in column 2, row 3.
    CadScriptPushPoint(m_doc->m_pCad, 2.5, 4.5, 0.0);
    double x = 0, y = 0, z = 0;
    ASSERT_NE(CadToolGetPickedPoint(m_doc->m_pCad, &x, &y, &z), 0);
    // Zoomed in, the picture blends the cells around the point; the snap takes the cell itself.
    EXPECT_EQ(z, 132.0);
    EXPECT_NEAR(x, 2.5, 1e-9);
    // Orthophotos and points outside the DEM do not snap.
    double outZ = 0;
    EXPECT_EQ(OnCadSnapToImagePlace(m_doc->m_pCad, dem->m_imageEntity, 20.0, 4.5, nullptr, nullptr, &outZ),
              0);
}

TEST_F(CadEventProcsTest, ErasingTheImagePlaceOfADemRemovesItAndKeepsItsCadLayer) {
    cv::Mat grid(8, 8, CV_32FC1, cv::Scalar(5.0f));
    CDEM* dem = kvtest::AddDemLayer(*m_doc, kvtest::WriteRaster("gone.tif", grid, GDT_Float32, kNoData));
    CadEntityErase(dem->m_imageEntity, 1);
    EXPECT_EQ(m_doc->m_DEMs.count(QStringLiteral("gone.tif")), 0u);
    EXPECT_NE(CadGetLayerByName(m_doc->m_pCad, "gone.tif"), nullptr);
}

// Every cell of a DEM of 1039 x 1094 cells holds its own height, and every cell of a map over
// part of it its own value. With the mouse moved over the plan view at full view, at a middle zoom
// and zoomed in, the status bar names the cell under the cursor: the map's where it lies.
TEST_F(CadEventProcsTest, TheStatusBarNamesTheCellUnderTheMouseAtEveryZoom) {
    cv::Mat heights(1094, 1039, CV_32FC1);
    for (int r = 0; r < heights.rows; ++r) {
        for (int c = 0; c < heights.cols; ++c) {
            heights.at<float>(r, c) = 100.0f + c + 1100.0f * r;
        }
    }
    CDEM* dem = kvtest::AddDemLayer(*m_doc, kvtest::WriteRaster("usgs.tif", heights, GDT_Float32, kNoData));
    dem->m_colorRangeMin = 0.0;
    dem->m_colorRangeMax = 1.3e6;
    cv::Mat values(300, 400, CV_32FC1);
    for (int r = 0; r < values.rows; ++r) {
        for (int c = 0; c < values.cols; ++c) {
            values.at<float>(r, c) = 0.5f + c + 400.0f * r;
        }
    }
    kvtest::AddMapLayer(*m_doc, kvtest::WriteRaster("cells.tif", values, GDT_Float32, kNoData),
                        QStringLiteral("cells"), 0.0, 120000.0);
    kvtest::StatusRecorder status;
    QWidget* view = ShowAndPaint();

    // Mouse moves across the window; the readouts that do not name the cell under the cursor.
    const auto misreadings = [&] {
        return Misreadings(view, status, QPoint(29, 23), 100, [&](double x, double y) {
            const int column = int(std::floor(x)), row = int(std::floor(1094.0 - y));
            const int mapRow = int(std::floor(300.0 - y));
            if (column >= 0 && column < 400 && mapRow >= 0 && mapRow < 300) {
                return QString::asprintf("%.3f, %.3f, %.3f (cells)", x, y, values.at<float>(mapRow, column));
            }
            if (column >= 0 && column < 1039 && row >= 0 && row < 1094) {
                return QString::asprintf("%.3f, %.3f, %.3f (usgs.tif)", x, y, heights.at<float>(row, column));
            }
            return QString();
        });
    };
    EXPECT_EQ(misreadings(), 0) << "full view";
    for (const std::array<double, 4>& zoom :
         {std::array<double, 4>{300, 200, 700, 500}, std::array<double, 4>{390, 290, 410, 310}}) {
        CadViewRect(view, zoom[0], zoom[1], zoom[2], zoom[3]);
        view->grab();
        EXPECT_EQ(misreadings(), 0) << "view from " << zoom[0] << ", " << zoom[1];
    }
}

// A map that stores Int16 cells with a scale of 0.25 and an offset of 300 (no data -32768 in a
// corner) is drawn as value x 0.25 + 300; with the mouse moved over the plan view at full view and
// zoomed in, the status bar names that value of the cell under the cursor, and only coordinates
// over no data.
TEST_F(CadEventProcsTest, TheReadoutOfAMapWithAScaleAndAnOffsetIsTheValueThePlanViewShows) {
    cv::Mat stored(40, 60, CV_16SC1);
    for (int r = 0; r < stored.rows; ++r) {
        for (int c = 0; c < stored.cols; ++c) {
            stored.at<int16_t>(r, c) = static_cast<int16_t>(c + 60 * r - 1000);
        }
    }
    stored(cv::Rect(0, 0, 10, 8)).setTo(-32768);
    CMapData* map = kvtest::AddMapLayer(
        *m_doc, kvtest::WriteRaster("scaled.tif", stored, GDT_Int16, -32768.0, 0.25, 300.0),
        QStringLiteral("scaled"), 0.0, 900.0);
    kvtest::StatusRecorder status;
    QWidget* view = ShowAndPaint();
    ASSERT_FALSE(map->m_display.values.empty());
    // The picture holds the values shown: the range 0 to 900 covers them all.
    double low = 0.0, high = 0.0;
    cv::Mat shown = map->m_display.values.clone();
    shown.setTo(500.0f, shown == kNoData);
    cv::minMaxLoc(shown, &low, &high);
    EXPECT_GE(low, 300.0 - 250.0);
    EXPECT_LE(high, 300.0 + 0.25 * 1400.0);

    const auto misreadings = [&] {
        return Misreadings(view, status, QPoint(19, 17), 50, [&](double x, double y) {
            const int column = int(std::floor(x)), row = int(std::floor(40.0 - y));
            if (column < 0 || column >= 60 || row < 0 || row >= 40) {
                return QString();
            }
            const int16_t cell = stored.at<int16_t>(row, column);
            return cell == -32768 ? QString::asprintf("%.3f, %.3f", x, y)
                                  : QString::asprintf("%.3f, %.3f, %.3f (scaled)", x, y, cell * 0.25 + 300.0);
        });
    };
    EXPECT_EQ(misreadings(), 0) << "full view";
    CadViewRect(view, 5.0, 25.0, 15.0, 35.0);
    view->grab();
    EXPECT_EQ(misreadings(), 0) << "zoomed in";
}

// A DEM of 900 x 700 heights in the project window, dragged with the middle button as the
// operator pans, at one pixel per cell and zoomed out. After every move the values kept for the
// readouts are the cells of the window (one per pixel at one pixel per cell), and every pixel of
// the view (but the cursor and the legend) shows the colour of its value: the DEM's palette, no
// data transparent.
TEST_F(CadEventProcsTest, DraggingThePlanViewShowsTheColourOfEveryValueWhereItLies) {
    cv::Mat heights = kvtest::NoisySlope(700, 900, 25.0, 0.2f, 0.1f);
    heights(cv::Rect(380, 250, 90, 60)).setTo(kNoData);
    CDEM* dem =
        kvtest::AddDemLayer(*m_doc, kvtest::WriteRaster("dragged.tif", heights, GDT_Float32, kNoData));
    dem->m_colors.Set_Palette(0, false, 100);
    dem->m_colorRangeMin = 0.0;
    dem->m_colorRangeMax = 270.0;
    const RasterColouring colouring{0.0, 270.0, &dem->m_colors, false};
    QWidget* view = ShowAndPaint();
    QWindow* window = view->window()->windowHandle();

    for (const double cellsPerPixel : {1.0, 2.0}) {
        SCOPED_TRACE(cellsPerPixel);
        // The window's edges on the cells' edges.
        const double left = 450 - view->width() / 2 * cellsPerPixel;
        const double bottom = 350 - view->height() / 2 * cellsPerPixel;
        CadViewRect(view, left, bottom, left + view->width() * cellsPerPixel,
                    bottom + view->height() * cellsPerPixel);
        view->grab();
        QPoint at = view->rect().center();
        QTest::mousePress(window, Qt::MiddleButton, Qt::NoModifier, view->mapTo(view->window(), at));
        double lastLeft = 0.0, lastTop = 0.0;
        CadCoordWinToModel(view, 0, 0, &lastLeft, &lastTop);
        for (int move = 0; move < 4; ++move) {
            SCOPED_TRACE(move);
            at += QPoint(-23, -17);
            QTest::mouseMove(window, view->mapTo(view->window(), at));
            const QImage shot = view->grab().toImage().convertToFormat(QImage::Format_RGB32);
            // The view moved with the mouse.
            double viewLeft = 0.0, viewTop = 0.0;
            CadCoordWinToModel(view, 0, 0, &viewLeft, &viewTop);
            EXPECT_EQ(viewLeft - lastLeft, 23.0 * cellsPerPixel);
            lastLeft = viewLeft;
            const double* gt = dem->m_display.geoTransform;
            const cv::Mat& values = dem->m_display.values;
            int X = 0, Y = 0;
            CadCoordModelToWin(view, gt[0], gt[3], &X, &Y);
            if (cellsPerPixel == 1.0) {
                const cv::Rect cells(static_cast<int>(std::lround(gt[0])),
                                     static_cast<int>(std::lround(700 - gt[3])), values.cols, values.rows);
                const cv::Rect inside = cells & cv::Rect(0, 0, 900, 700);
                ASSERT_EQ(inside.width, std::min(values.cols, 900 - cells.x));
                ASSERT_EQ(inside.height, values.rows);
                EXPECT_EQ(cv::norm(values(inside - cells.tl()), heights(inside), cv::NORM_INF), 0.0);
            }
            int wrong = 0, shown = 0;
            std::set<QRgb> empty;
            for (int y = 0; y < shot.height(); ++y) {
                for (int x = 0; x < shot.width(); ++x) {
                    const int r = y - Y, c = x - X;
                    // Not under the cursor or the colour legend at the right.
                    if ((std::abs(x - at.x()) < 25 && std::abs(y - at.y()) < 25) || x >= shot.width() - 110 ||
                        r < 0 || c < 0 || r >= values.rows || c >= values.cols) {
                        continue;
                    }
                    const float v = values.at<float>(r, c);
                    if (IsNoData(v)) {
                        empty.insert(shot.pixel(x, y));
                        continue;
                    }
                    const uint32_t packed = ColourOfValue(v, colouring);
                    ++shown;
                    wrong += shot.pixel(x, y) != qRgb(packed & 0xFF, packed >> 8 & 0xFF, packed >> 16 & 0xFF);
                }
            }
            EXPECT_GT(shown, view->width() * view->height() / 3);
            EXPECT_EQ(wrong, 0);
            EXPECT_EQ(empty.size(), 1u);
        }
        QTest::mouseRelease(window, Qt::MiddleButton, Qt::NoModifier, view->mapTo(view->window(), at));
    }
}

int g_downs = 0;
int g_ups = 0;

TEST_F(CadEventProcsTest, TheSeamlineEditingGetsTheMouseWhileItsCommandIsActive) {
    SeamlineEditHandlers handlers;
    handlers.mouseDown = [](CadDrawing*, double, double) { return ++g_downs; };
    handlers.mouseUp = [](CadDrawing*) { return ++g_ups; };
    handlers.mouseWheel = [](CadDrawing*, int, int) { return 0; };
    SetSeamlineEditHandlers(CMD_DEMSEAMLINELABELBRUSH, handlers);
    CadDrawing* drawing = m_doc->m_pCad;
    EXPECT_EQ(OnCadPreMouseDown(drawing, CAD_BUTTON_LEFT, 1, 1), 1);
    ActiveCadCommandId = CMD_SEAMLINELABELBRUSH;  // no handlers for this one
    EXPECT_EQ(OnCadPreMouseDown(drawing, CAD_BUTTON_LEFT, 1, 1), 1);
    EXPECT_EQ(OnCadMouseUp(drawing, CAD_BUTTON_LEFT), 0);
    ActiveCadCommandId = CMD_DEMSEAMLINELABELBRUSH;
    EXPECT_EQ(OnCadPreMouseDown(drawing, CAD_BUTTON_RIGHT, 1, 1), 1);
    EXPECT_EQ(OnCadPreMouseDown(drawing, CAD_BUTTON_LEFT, 1, 1), 0);
    EXPECT_EQ(OnCadMouseUp(drawing, CAD_BUTTON_LEFT), 1);
    EXPECT_EQ(OnCadMouseWheel(drawing, 0, 120), 0);
    EXPECT_EQ(g_downs, 1);
    EXPECT_EQ(g_ups, 1);
    SetSeamlineEditHandlers(CMD_DEMSEAMLINELABELBRUSH, SeamlineEditHandlers{});
}

TEST_F(CadEventProcsTest, PicturesOfTheOlindaDemUnderTheLandsatOrthophoto) {
    // The DEM with -9999 as its no-data value, and bands 3, 2, 1 of the Landsat scene.
    const QString demPath = QDir(kvtest::TempDir()).filePath("olinda_dem.tif");
    GDALDatasetH source =
        GDALOpen(kvtest::DataPath("olinda_dem_utm25s.tif").toUtf8().constData(), GA_ReadOnly);
    ASSERT_NE(source, nullptr);
    GDALDatasetH copy = GDALCreateCopy(GDALGetDriverByName("GTiff"), demPath.toUtf8().constData(), source, 0,
                                       nullptr, nullptr, nullptr);
    GDALClose(source);
    ASSERT_NE(copy, nullptr);
    GDALSetRasterNoDataValue(GDALGetRasterBand(copy, 1), kNoData);
    double minMax[2];
    GDALComputeRasterMinMax(GDALGetRasterBand(copy, 1), FALSE, minMax);
    GDALClose(copy);
    const QString orthoPath = QDir(kvtest::TempDir()).filePath("l7_321.tif");
    source = GDALOpen(kvtest::DataPath("L7_ETMs.tif").toUtf8().constData(), GA_ReadOnly);
    ASSERT_NE(source, nullptr);
    const char* bands[] = {"-b", "3", "-b", "2", "-b", "1", nullptr};
    GDALTranslateOptions* options = GDALTranslateOptionsNew(const_cast<char**>(bands), nullptr);
    GDALDatasetH rgb = GDALTranslate(orthoPath.toUtf8().constData(), source, options, nullptr);
    GDALTranslateOptionsFree(options);
    GDALClose(source);
    ASSERT_NE(rgb, nullptr);
    GDALClose(rgb);

    COrtho* ortho = kvtest::AddOrthoLayer(*m_doc, orthoPath);
    CDEM* dem = kvtest::AddDemLayer(*m_doc, demPath);
    dem->m_colorRangeMin = minMax[0];
    dem->m_colorRangeMax = minMax[1];
    dem->m_colors.Set_Palette(0, false, 100);
    // The DEM is shown inside a polygon over the middle of the scene.
    const double* gt = dem->m_geoTransform;
    const double w = dem->Width() * gt[1];
    const double h = -dem->Height() * gt[5];
    CadClearVertices();
    CadAddVertex(gt[0] + 0.2 * w, gt[3] - 0.15 * h, 0);
    CadAddVertex(gt[0] + 0.85 * w, gt[3] - 0.3 * h, 0);
    CadAddVertex(gt[0] + 0.7 * w, gt[3] - 0.85 * h, 0);
    CadAddVertex(gt[0] + 0.25 * w, gt[3] - 0.7 * h, 0);
    dem->SeamlinePolylines.push_back(CadAddPolyline(m_doc->m_pCad, 0, 1));

    QWidget* cad = ShowAndPaint();
    ASSERT_FALSE(ortho->m_display.picture.empty());
    ASSERT_FALSE(dem->m_display.values.empty());
    const QImage top = kvtest::Screenshot(cad, "view_olinda_dem_over_landsat");
    // Where a fraction of the DEM's width and height lies in the window.
    auto around = [&](double fx, double fy) {
        int x = 0, y = 0;
        CadCoordModelToWin(cad, gt[0] + fx * w, gt[3] - fy * h, &x, &y);
        return QRect(x - 6, y - 6, 13, 13);
    };
    // Inside the polygon the DEM's colours, outside it the scene, around it black; the legend
    // stands at the right.
    EXPECT_GT(MeanChroma(top, around(0.5, 0.5)), 120.0);
    EXPECT_GT(MeanChroma(top, around(0.3, 0.3)), 120.0);
    const double sceneChroma = MeanChroma(top, around(0.08, 0.92));
    EXPECT_LT(sceneChroma, 60.0);
    EXPECT_LT(kvtest::ColourShare(top, Qt::black, around(0.08, 0.92)), 0.5);
    EXPECT_EQ(kvtest::ColourShare(top, Qt::black, QRect(0, 0, 8, 8)), 1.0);
    EXPECT_GT(MeanChroma(top, QRect(top.width() - 95, 80, 10, 200)), 120.0);
    // The legend is there, and its refresh inside the paint asks for no further paint: zoomed in,
    // every paint would read the DEM again.
    EXPECT_FALSE(m_doc->m_ColorLegend.empty());
    const long long reads = RasterRenderReadCount();
    for (int i = 0; i < 5; ++i) {
        QCoreApplication::processEvents();
    }
    EXPECT_EQ(RasterRenderReadCount(), reads);

    // The orthophoto on top at half opacity over the whole DEM.
    dem->SeamlinePolylines.clear();
    dem->ReleaseDisplayCache();
    CadLayer* orthoLayer = CadGetLayerByName(m_doc->m_pCad, ortho->m_name.toUtf8().constData());
    CadLayer* demLayer = CadGetLayerByName(m_doc->m_pCad, dem->m_name.toUtf8().constData());
    CadLayerPutLevel(orthoLayer, 1);
    CadLayerPutLevel(demLayer, 10);
    CadSortLayers(m_doc->m_pCad);
    m_doc->m_dOrthoOpacity = 0.5;
    CadUpdate(m_doc->m_pCad);
    // The whole DEM now shows through the scene: outside the polygon too.
    const QImage under = kvtest::Screenshot(cad, "view_landsat_over_olinda_dem");
    EXPECT_GT(MeanChroma(under, around(0.08, 0.92)), sceneChroma + 30.0);
    EXPECT_GT(MeanChroma(under, around(0.5, 0.5)), 40.0);
    EXPECT_EQ(kvtest::ColourShare(under, Qt::black, QRect(0, 0, 8, 8)), 1.0);
}

}  // namespace
