// The drawing window, offscreen: zoom to extents, the draw-image event, the layer order, object
// snaps including the snap to an image place, operator clicks and keys, the rubber band and the
// "Layers Order" window.
#include <QApplication>
#include <QDialog>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPainter>
#include <QPlainTextEdit>
#include <QTest>
#include <QTimer>
#include <QWheelEvent>

#include <array>
#include <cmath>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/cad/Cad.h"
#include "platform/ui/CadCommandIds.h"
#include "support/Pictures.h"
#include "support/TestEnv.h"

namespace {

// The id of the one-input command these tests register on the engine.
constexpr int kOne = 11004;

struct ImageCall {
    int id;
    CadWinRect update;
    int left, bottom, width, height;
};
std::vector<ImageCall> g_imageCalls;

int DrawImageRed(CadDrawing*, QPainter* dc, const CadWinRect* update, int id, int left, int bottom, int width,
                 int height) {
    g_imageCalls.push_back({id, *update, left, bottom, width, height});
    dc->fillRect(QRect(left, bottom - height, width, height), QColor(255, 0, 0));
    CadSetReturnInt(1);
    return 0;
}

CadEntity* g_snapPlace = nullptr;
int g_snapCalls = 0;
int SnapToDem(CadDrawing*, CadEntity* place, double x, double y, double* ox, double* oy, double* oz) {
    ++g_snapCalls;
    g_snapPlace = place;
    if (ox)
        *ox = std::floor(x) + 0.5;  // the centre of the raster cell
    if (oy)
        *oy = std::floor(y) + 0.5;
    if (oz)
        *oz = 77.0;
    return 1;
}

std::vector<std::string> g_log;
void ReadOne(CadDrawing* d) {
    int code = CadCmdUserInput(d);
    double x = 0, y = 0, z = 0;
    CadCmdGetInputPoint(d, &x, &y, &z);
    char buf[128];
    std::snprintf(buf, sizeof buf, "%d %.3f %.3f %.3f keys %d", code, x, y, z, CadGetKeyFlags());
    g_log.push_back(buf);
}

std::vector<std::array<double, 3>> g_rubber;
void Rubber(CadDrawing*, QPainter*, double x, double y, double z) {
    g_rubber.push_back({x, y, z});
    CadDrawAddVertex(0, 0, 0);
    CadDrawAddVertex(x, y, z);
    CadDrawPolyline(0);
}

int g_preDown = 1;
int PreMouseDown(CadDrawing*, int, double, double) {
    CadSetReturnInt(g_preDown);
    return 0;
}

class CadWindow : public ::testing::Test {
protected:
    void SetUp() override {
        g_imageCalls.clear();
        g_log.clear();
        g_rubber.clear();
        d = CadCreate();
        wnd = CadWndCreate(d, nullptr, 0, 0, 400, 300);
        ASSERT_NE(wnd, nullptr);
        QApplication::processEvents();
    }
    void TearDown() override {
        CadOnEventDrawImage(nullptr);
        CadOnEventSnapToImagePlace(nullptr);
        CadOnEventPreMouseDown(nullptr);
        CadScriptSetStrict(0);
        CadDelete(d);
        QApplication::processEvents();
    }
    QImage Grab() {
        CadWinPaint(wnd);
        return wnd->grab().toImage();
    }
    QPoint Win(double x, double y) {
        int wx, wy;
        CadCoordModelToWin(wnd, x, y, &wx, &wy);
        return {wx, wy};
    }
    CadDrawing* d = nullptr;
    QWidget* wnd = nullptr;
};

}  // namespace

TEST_F(CadWindow, ZoomExtentsShowsEveryEntity) {
    std::vector<std::array<double, 2>> spots = {{-5000, 200}, {12000, -300}, {4000, 9000}, {0, 0}};
    for (const auto& s : spots)
        CadAddCircle(d, s[0], s[1], 0, 50);
    CadAddLine(d, -5000, 200, 0, 12000, -300, 0);
    CadExecute(d, wnd, CAD_CMD_ZOOM_EXTENTS);
    CadWinPaint(wnd);
    const QImage img = kvtest::Screenshot(wnd, "cad_zoom_extents");
    EXPECT_GT(kvtest::ColourShare(img, Qt::black), 0.9);  // thin outlines on the window's black
    for (CadEntity* e = CadGetFirstEntity(d); e; e = CadGetNextEntity(d, e)) {
        QPoint lt = Win(CadEntityGetLeft(e), CadEntityGetTop(e));
        QPoint rb = Win(CadEntityGetRight(e), CadEntityGetBottom(e));
        EXPECT_TRUE(wnd->rect().contains(lt) && wnd->rect().contains(rb)) << CadEntityGetID(e);
    }
    for (const auto& s : spots) {
        QPoint c = Win(s[0] + 50, s[1]);  // a point on each circle
        bool lit = false;
        for (int dy = -1; dy <= 1; ++dy)
            for (int dx = -1; dx <= 1; ++dx)
                lit = lit || QColor(img.pixel(c + QPoint(dx, dy))).value() > 0;
        EXPECT_TRUE(lit) << s[0] << " " << s[1];
    }

    // Zoom previous goes back, a view rectangle is shown whole.
    double l, b, r, t;
    CadViewRect(wnd, 0, 0, 100, 50);
    CadGetViewRect(wnd, &l, &b, &r, &t);
    EXPECT_LE(l, 0);
    EXPECT_GE(r, 100);
    EXPECT_LE(b, 0);
    EXPECT_GE(t, 50);
    CadExecute(d, wnd, CAD_CMD_ZOOM_PREVIOUS);
    CadGetViewRect(wnd, &l, &b, &r, &t);
    EXPECT_LE(l, -5000);
}

TEST_F(CadWindow, ADenseOutlineIsDrawnThroughEveryVertexAtAnyZoom) {
    CadClearVertices();
    for (int i = 0; i < 20000; ++i)
        CadAddVertex(i * 0.5, 40 * std::sin(i * 0.5 / 150.0) + 9 * std::sin(i * 0.5 / 37.0), 0);
    CadEntity* wave = CadAddPolyline(d, 0, 0);
    for (double zoom : {1.0, 4.0, 37.0}) {
        CadExecute(d, wnd, CAD_CMD_ZOOM_EXTENTS);
        double l, b, r, t, cx, cy;
        CadGetViewRect(wnd, &l, &b, &r, &t);
        CadPlineGetVer(wave, 10000, &cx, &cy, nullptr);
        const double hw = (r - l) / zoom / 2, hh = (t - b) / zoom / 2;
        CadViewRect(wnd, cx - hw, cy - hh, cx + hw, cy + hh);
        QImage img = Grab();
        int missed = 0, seen = 0;
        for (int i = 0; i < CadPlineGetNumVers(wave); i += 7) {
            double x, y;
            CadPlineGetVer(wave, i, &x, &y, nullptr);
            QPoint p = Win(x, y);
            if (!QRect(2, 2, img.width() - 4, img.height() - 4).contains(p))
                continue;
            ++seen;
            bool lit = false;
            // Simplification and pixel rounding together stay within two pixels.
            for (int dy = -2; dy <= 2 && !lit; ++dy)
                for (int dx = -2; dx <= 2 && !lit; ++dx)
                    lit = QColor(img.pixel(p + QPoint(dx, dy))).value() > 0;
            missed += lit ? 0 : 1;
        }
        EXPECT_GT(seen, 50) << zoom;
        EXPECT_EQ(missed, 0) << zoom;
    }
}

TEST_F(CadWindow, DrawImageIsCalledOncePerVisibleImagePlacePerPaint) {
    CadOnEventDrawImage(DrawImageRed);
    CadLayer* hiddenLayer = CadAddLayer(d, "hidden", 7, CAD_LTYPE_CONTINUOUS, -3);
    CadEntity* shown = CadAddImagePlace(d, 1000, 200, 100, 0, 0, 0, 2.0);  // 100 x 50 model units
    CadEntity* hidden = CadAddImagePlace(d, 2000, 10, 10, 0, 0, 0, 1.0);
    CadEntityPutVisible(hidden, 0);
    CadEntity* onHidden = CadAddImagePlace(d, 4000, 10, 10, 0, 0, 0, 1.0);
    CadEntityPutLayerID(onHidden, CadLayerGetID(hiddenLayer));
    CadLayerPutVisible(hiddenLayer, 0);
    CadAddLine(d, 0, 25, 0, 100, 25, 0);  // over the image
    CadViewRect(wnd, -10, -10, 110, 60);

    QImage img = Grab();
    ASSERT_EQ(g_imageCalls.size(), 1u);
    const ImageCall& c = g_imageCalls[0];
    EXPECT_EQ(c.id, 1000);
    EXPECT_EQ(c.update.left, 0);
    EXPECT_EQ(c.update.top, 0);
    EXPECT_EQ(c.update.right, wnd->width());
    EXPECT_EQ(c.update.bottom, wnd->height());
    QPoint ll = Win(0, 0), ur = Win(100, 50);
    EXPECT_NEAR(c.left, ll.x(), 1);
    EXPECT_NEAR(c.bottom, ll.y(), 1);
    EXPECT_NEAR(c.width, ur.x() - ll.x(), 1);
    EXPECT_NEAR(c.height, ll.y() - ur.y(), 1);
    // The vectors lie on top of the image.
    QPoint onLine = Win(50, 25), offLine = Win(50, 40);
    EXPECT_EQ(QColor(img.pixel(onLine)), QColor(255, 255, 255));
    EXPECT_EQ(QColor(img.pixel(offLine)), QColor(255, 0, 0));

    Grab();
    EXPECT_EQ(g_imageCalls.size(), 2u);
    CadEntityPutVisible(shown, 0);
    Grab();
    EXPECT_EQ(g_imageCalls.size(), 2u);
}

// A draw-image procedure that opens a modal dialog (as a question asked while a layer is drawn
// would) on its second call and grabs the drawing window while the dialog is up.
QImage g_behindDialog;
int g_modalCall = 0;
int DrawImageAskingOnce(CadDrawing* d, QPainter* dc, const CadWinRect* update, int id, int left, int bottom,
                        int width, int height) {
    if (++g_modalCall == 2) {
        QDialog question;
        QTimer::singleShot(0, &question, [&question, d] {
            g_behindDialog = CadGetWindow(d)->grab().toImage();
            question.reject();
        });
        question.exec();
    }
    return DrawImageRed(d, dc, update, id, left, bottom, width, height);
}

TEST_F(CadWindow, TheViewBehindAModalDialogKeepsItsLastPicture) {
    CadOnEventDrawImage(DrawImageAskingOnce);
    g_modalCall = 0;
    CadAddImagePlace(d, 1000, 200, 100, 0, 0, 0, 2.0);
    CadViewRect(wnd, -10, -10, 110, 60);
    const QImage first = Grab();
    const QPoint inside = Win(50, 40);
    ASSERT_EQ(QColor(first.pixel(inside)), QColor(255, 0, 0));

    // Drawn again: while the dialog is up the window shows its last complete picture, not the
    // half-drawn one.
    CadWndRedraw(wnd);
    const QImage second = Grab();
    ASSERT_GE(g_modalCall, 2);
    ASSERT_FALSE(g_behindDialog.isNull());
    EXPECT_EQ(QColor(g_behindDialog.pixel(inside)), QColor(255, 0, 0));
    EXPECT_EQ(g_behindDialog, first);
    EXPECT_EQ(QColor(second.pixel(inside)), QColor(255, 0, 0));
}

TEST_F(CadWindow, TheLayerOfLevelOneIsDrawnOnTop) {
    CadLayer* blue = CadAddLayer(d, "blue", CAD_COLOR_BLUE, CAD_LTYPE_CONTINUOUS, -3);
    CadLayer* green = CadAddLayer(d, "green", CAD_COLOR_GREEN, CAD_LTYPE_CONTINUOUS, -3);
    for (CadLayer* l : {blue, green}) {
        CadSetCurLayer(d, l);
        CadClearVertices();
        CadAddVertex(0, 0, 0);
        CadAddVertex(10, 0, 0);
        CadAddVertex(10, 10, 0);
        CadAddVertex(0, 10, 0);
        CadAddPolygon(d, CAD_COLOR_BYLAYER, 0);
    }
    CadViewRect(wnd, -1, -1, 11, 11);
    auto order = [&](CadLayer* top) {
        int n = CadCountLayers(d), k = 0;
        for (CadLayer* l = CadGetFirstLayer(d); l; l = CadGetNextLayer(d, l))
            CadLayerPutLevel(l, (n - k++) * 10);
        CadLayerPutLevel(top, 1);
        CadSortLayers(d);
        return QColor(Grab().pixel(Win(5, 5)));
    };
    EXPECT_EQ(order(blue), QColor(0, 0, 255));
    EXPECT_EQ(order(green), QColor(0, 255, 0));
    EXPECT_EQ(order(blue), QColor(0, 0, 255));
}

TEST_F(CadWindow, SnapToImagePlaceAsksTheEventAndUsesItsAnswer) {
    CadOnEventSnapToImagePlace(SnapToDem);
    CadEntity* place = CadAddImagePlace(d, 1000, 100, 100, 0, 0, 0, 1.0);
    CadAddLine(d, 0, 0, 0, 100, 0, 0);
    CadViewRect(wnd, -10, -10, 110, 110);
    ASSERT_TRUE(CadAddCommand(d, kOne, "ONE", "", 0, ReadOne, nullptr));
    CadScriptSetStrict(1);
    CadSnapPutOn(d, 1);

    CadSnapPutMode(d, CAD_SNAP_IMAGEPLACE);
    CadScriptPushPoint(d, 10.2, 20.7, 0);
    CadExecute(d, wnd, kOne);
    EXPECT_EQ(g_log.back(), "1 10.500 20.500 77.000 keys 0");
    EXPECT_EQ(g_snapPlace, place);

    // An end point within the aperture wins over the raster; without bit 512 no event.
    CadSnapPutMode(d, CAD_SNAP_END | CAD_SNAP_IMAGEPLACE);
    CadScriptPushPoint(d, 99.5, 0.4, 0);
    CadExecute(d, wnd, kOne);
    EXPECT_EQ(g_log.back(), "1 100.000 0.000 0.000 keys 0");
    g_snapCalls = 0;
    CadSnapPutMode(d, CAD_SNAP_MID);
    CadScriptPushPoint(d, 30.2, 40.7, 0);
    CadExecute(d, wnd, kOne);
    EXPECT_EQ(g_log.back(), "1 30.200 40.700 0.000 keys 0");
    CadScriptPushPoint(d, 50.5, 0.5, 0);
    CadExecute(d, wnd, kOne);
    EXPECT_EQ(g_log.back(), "1 50.000 0.000 0.000 keys 0");
    EXPECT_EQ(g_snapCalls, 0);
    CadSnapPutOn(d, 0);
    CadScriptPushPoint(d, 50.5, 0.5, 0);
    CadExecute(d, wnd, kOne);
    EXPECT_EQ(g_log.back(), "1 50.500 0.500 0.000 keys 0");
}

TEST_F(CadWindow, OperatorClicksKeysAndTypedCommands) {
    ASSERT_TRUE(CadAddCommand(d, kOne, "ONE", "O", 0, ReadOne, Rubber));
    CadViewRect(wnd, 0, 0, 400, 300);
    const QPoint at(120, 80);
    double mx, my;
    CadCoordWinToModel(wnd, at.x(), at.y(), &mx, &my);
    char expected[128];
    std::snprintf(expected, sizeof expected, "1 %.3f %.3f 0.000 keys %d", mx, my,
                  CAD_KEY_SHIFT | CAD_KEY_LBUTTON);

    QTimer::singleShot(0, [&] {
        QTest::mouseMove(wnd, at);
        QTest::mouseClick(wnd, Qt::LeftButton, Qt::ShiftModifier, at);
    });
    CadExecute(d, wnd, kOne);
    ASSERT_EQ(g_log.size(), 1u);
    EXPECT_EQ(g_log[0], expected);

    // The rubber band follows the cursor while the command waits.
    QTimer::singleShot(0, [&] {
        QTest::mouseMove(wnd, QPoint(200, 100));
        wnd->repaint();
        QTest::mouseClick(wnd, Qt::RightButton, Qt::NoModifier, QPoint(200, 100));
    });
    CadExecute(d, wnd, kOne);
    EXPECT_EQ(g_log.back().substr(0, 2), "2 ");
    ASSERT_FALSE(g_rubber.empty());
    double rx, ry;
    CadCoordWinToModel(wnd, 200, 100, &rx, &ry);
    EXPECT_NEAR(g_rubber.back()[0], rx, 1e-9);
    EXPECT_NEAR(g_rubber.back()[1], ry, 1e-9);

    // A press the program consumes never reaches the waiting input; Escape cancels.
    CadOnEventPreMouseDown(PreMouseDown);
    g_preDown = 0;
    QTimer::singleShot(0, [&] {
        QTest::mouseClick(wnd, Qt::LeftButton, Qt::NoModifier, at);
        QTest::keyClick(wnd, Qt::Key_Escape);
    });
    CadExecute(d, wnd, kOne);
    EXPECT_EQ(g_log.back().substr(0, 2), "4 ");
    g_preDown = 1;

    // Typed text: the alias starts the command, then the typed line is its input.
    QTimer::singleShot(0, [&] {
        QTest::keyClicks(wnd, "12.5");
        QTest::keyClick(wnd, Qt::Key_Return);
    });
    QTest::keyClicks(wnd, "o");
    QTest::keyClick(wnd, Qt::Key_Return);
    EXPECT_EQ(g_log.back().substr(0, 2), "3 ");
    EXPECT_EQ(g_log.size(), 4u);
}

void LogFirst(CadDrawing*) {
    g_log.push_back("first");
}
void LogSecond(CadDrawing*) {
    g_log.push_back("second");
}

TEST_F(CadWindow, TypedNamesAndSharedAliasesStartCommands) {
    ASSERT_TRUE(
        CadAddCommand(d, CMD_RASTERIZEENTITIESONDEM, "RASTERIZEENTITIESONDEM", "RETD", 0, LogFirst, nullptr));
    ASSERT_TRUE(CadAddCommand(d, CMD_CREATEDEMFROMLAS, "CREATEDEMFROMLAS", "RETD", 0, LogSecond, nullptr));
    QTest::keyClicks(wnd, "retd");
    QTest::keyClick(wnd, Qt::Key_Return);
    QTest::keyClicks(wnd, "CreateDemFromLas");
    QTest::keyClick(wnd, Qt::Key_Return);
    QTest::keyClicks(wnd, "nothing");
    QTest::keyClick(wnd, Qt::Key_Return);
    EXPECT_EQ(g_log, (std::vector<std::string>{"first", "second"}));
}

TEST_F(CadWindow, CommandLineShowsThePromptAndTakesTypedInput) {
    QWidget host;
    QWidget* cw = CadCWCreate(&host, 0, 0, 500, 120);
    ASSERT_NE(cw, nullptr);
    ASSERT_TRUE(CadAddCommand(d, kOne, "ONE", "", 0, ReadOne, nullptr));
    CadWinSetFocus(wnd);
    QLineEdit* edit = cw->findChild<QLineEdit*>();
    QLabel* prompt = cw->findChild<QLabel*>();
    ASSERT_TRUE(edit && prompt);
    QTimer::singleShot(0, [&] {
        CadCmdPromptAdd(d, " (right click to end)");
        EXPECT_EQ(prompt->text(), QString("Pick first vertex (right click to end)"));
        QTest::keyClicks(edit, "10,20,5");
        QTest::keyClick(edit, Qt::Key_Return);
    });
    CadCmdPrompt(d, "Pick first vertex", nullptr);
    QTest::keyClicks(edit, "ONE");
    QTest::keyClick(edit, Qt::Key_Return);
    ASSERT_EQ(g_log.size(), 1u);
    EXPECT_EQ(g_log[0], "1 10.000 20.000 5.000 keys 0");
    EXPECT_TRUE(cw->findChild<QPlainTextEdit*>()->toPlainText().contains("Command: ONE"));
    CadCWResize(cw, 0, 0, 300, 100);
    EXPECT_EQ(cw->size(), QSize(300, 100));
}

TEST_F(CadWindow, WheelZoomsUnlessTheProgramTakesIt) {
    CadViewRect(wnd, 0, 0, 400, 300);
    double l0, b0, r0, t0, l1, b1, r1, t1;
    CadGetViewRect(wnd, &l0, &b0, &r0, &t0);
    QWheelEvent in(QPointF(200, 150), wnd->mapToGlobal(QPointF(200, 150)), QPoint(), QPoint(0, 120),
                   Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(wnd, &in);
    CadGetViewRect(wnd, &l1, &b1, &r1, &t1);
    EXPECT_LT(r1 - l1, r0 - l0);
    CadOnEventMouseWheel([](CadDrawing*, int, int) { return 1; });
    QApplication::sendEvent(wnd, &in);
    double l2, b2, r2, t2;
    CadGetViewRect(wnd, &l2, &b2, &r2, &t2);
    EXPECT_DOUBLE_EQ(r2 - l2, r1 - l1);
    CadOnEventMouseWheel(nullptr);
}

TEST_F(CadWindow, LayersOrderWindowToggles) {
    CadAddLayer(d, "dem.tif", 7, CAD_LTYPE_CONTINUOUS, -3);
    EXPECT_EQ(CadLayersOrderWindow(), nullptr);
    CadExecute(d, wnd, CAD_CMD_LAYERS_ORDER);
    QWidget* w = CadLayersOrderWindow();
    ASSERT_NE(w, nullptr);
    EXPECT_TRUE(w->isWindow());
    EXPECT_EQ(w->windowTitle(), QString("Layers Order"));
    w->setGeometry(30, 40, 250, 300);
    EXPECT_EQ(w->geometry(), QRect(30, 40, 250, 300));
    CadExecute(d, wnd, CAD_CMD_LAYERS_ORDER);
    EXPECT_EQ(CadLayersOrderWindow(), nullptr);
}

TEST_F(CadWindow, LayersOrderWindowShowsTheLayersAfterEveryChange) {
    CadAddLayer(d, "a.tif", 7, CAD_LTYPE_CONTINUOUS, -3);
    CadExecute(d, wnd, CAD_CMD_LAYERS_ORDER);
    QWidget* w = CadLayersOrderWindow();
    ASSERT_NE(w, nullptr);
    auto* list = w->findChild<QListWidget*>();
    ASSERT_NE(list, nullptr);
    // The rows as the window draws them, from the top: each where the view puts it.
    auto shown = [&] {
        QApplication::processEvents();
        QStringList rows;
        for (int y = 1; y < list->viewport()->height(); ++y) {
            const QModelIndex at = list->indexAt(QPoint(5, y));
            if (at.isValid() && (rows.isEmpty() || rows.back() != at.data().toString())) {
                rows << at.data().toString();
            }
        }
        return rows;
    };
    EXPECT_EQ(shown().join(", "), "a.tif, 0");
    CadAddLayer(d, "b.tif", 7, CAD_LTYPE_CONTINUOUS, -3);
    CadAddLayer(d, "c.tif", 7, CAD_LTYPE_CONTINUOUS, -3);
    EXPECT_EQ(shown().join(", "), "c.tif, b.tif, a.tif, 0");
    CadLayerPutName(CadGetLayerByName(d, "b.tif"), "renamed.tif");
    CadDeleteLayer(d, CadGetLayerByName(d, "a.tif"));
    EXPECT_EQ(shown().join(", "), "c.tif, renamed.tif, 0");
    // Layer "0" put on top, as a new raster layer does it.
    int level = 10;
    for (CadLayer* l = CadGetFirstLayer(d); l; l = CadGetNextLayer(d, l)) {
        CadLayerPutLevel(l, CadLayerGetID(l) == 0 ? 1 : level += 10);
    }
    CadSortLayers(d);
    EXPECT_EQ(shown().join(", "), "0, renamed.tif, c.tif");
    CadExecute(d, wnd, CAD_CMD_LAYERS_ORDER);
}
