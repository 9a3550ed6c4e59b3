// The engine's own drawing, dimension, block, measurement, erase and undo commands, driven the way
// an operator drives them: picks (through the object snaps), typed coordinates and values, the
// context menu's Enter, Enter Closed and Undo, and typed command names.
#include <QApplication>
#include <QTest>

#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/cad/Cad.h"
#include "platform/ui/CadCommandIds.h"
#include "support/Pictures.h"
#include "support/TestEnv.h"

namespace {

constexpr double kPi = 3.14159265358979323846;

CadEntity* LastEntity(CadDrawing* d) {
    CadEntity* last = nullptr;
    for (CadEntity* e = CadGetFirstEntity(d); e; e = CadGetNextEntity(d, e))
        last = e;
    return last;
}

bool HistoryHas(CadDrawing* d, const std::string& text) {
    char line[512];
    for (int i = 0; CadCmdGetHistory(d, i, line, sizeof line); ++i)
        if (std::strstr(line, text.c_str()))
            return true;
    return false;
}

double Sweep(double a0, double a1) {
    double s = std::fmod(a1 - a0, 2 * kPi);
    return s <= 0 ? s + 2 * kPi : s;
}

void PushPoints(CadDrawing* d, std::initializer_list<std::pair<double, double>> pts) {
    for (const auto& [x, y] : pts)
        CadScriptPushPoint(d, x, y, 0);
}

std::vector<std::string> g_userLog;
void UserCommand(CadDrawing*) {
    g_userLog.push_back("user");
}

class CadDraw : public ::testing::Test {
protected:
    void SetUp() override {
        d = CadCreate();
        wnd = CadWndCreate(d, nullptr, 0, 0, 400, 300);
        CadViewRect(wnd, 0, 0, 400, 300);  // one model unit per pixel: picks snap within 6 units
        CadScriptSetStrict(1);
    }
    void TearDown() override {
        CadScriptSetStrict(0);
        CadDelete(d);
        QApplication::processEvents();
    }
    int Run(int command) { return CadExecute(d, wnd, command); }
    CadDrawing* d = nullptr;
    QWidget* wnd = nullptr;
};

}  // namespace

TEST_F(CadDraw, CirclesFromPointsAndTypedSizes) {
    // Three points on the circle of centre (3, 4) and radius 5.
    PushPoints(d, {{8, 4}, {3, 9}, {-2, 4}});
    Run(CAD_CMD_DRAW_CIRCLE_3P);
    double x, y, z, r, a0, a1;
    CadEntity* e = LastEntity(d);
    ASSERT_TRUE(CadArcGet(e, &x, &y, &z, &r, &a0, &a1));
    EXPECT_EQ(CadArcIsCircle(e), 1);
    EXPECT_NEAR(x, 3, 1e-9);
    EXPECT_NEAR(y, 4, 1e-9);
    EXPECT_NEAR(r, 5, 1e-9);

    // Points on one line make no circle: the third point is asked again.
    PushPoints(d, {{0, 0}, {10, 10}, {20, 20}, {10, 0}});
    Run(CAD_CMD_DRAW_CIRCLE_3P);
    CadArcGet(LastEntity(d), &x, &y, &z, &r, &a0, &a1);
    EXPECT_NEAR(x, 5, 1e-9);
    EXPECT_NEAR(y, 5, 1e-9);
    EXPECT_TRUE(HistoryHas(d, "The three points lie on one line."));

    // Centre and typed radius; centre and diameter through a point; Enter takes the last radius.
    CadScriptPushPoint(d, 50, 50, 0);
    CadScriptPushText(d, "12.5");
    Run(CAD_CMD_DRAW_CIRCLE_CR);
    CadArcGet(LastEntity(d), &x, &y, &z, &r, &a0, &a1);
    EXPECT_NEAR(r, 12.5, 1e-12);
    PushPoints(d, {{50, 50}, {50, 70}});
    Run(CAD_CMD_DRAW_CIRCLE_CD);
    CadArcGet(LastEntity(d), &x, &y, &z, &r, &a0, &a1);
    EXPECT_NEAR(r, 10, 1e-12);
    CadScriptPushPoint(d, 200, 200, 0);
    CadScriptPushFinish(d);
    Run(CAD_CMD_DRAW_CIRCLE_CR);
    CadArcGet(LastEntity(d), &x, &y, &z, &r, &a0, &a1);
    EXPECT_NEAR(r, 10, 1e-12);

    // Two points of a diameter; the "2P" option of the general command.
    CadScriptPushText(d, "2p");
    PushPoints(d, {{0, 100}, {20, 100}});
    Run(CAD_CMD_DRAW_CIRCLE_CR);
    CadArcGet(LastEntity(d), &x, &y, &z, &r, &a0, &a1);
    EXPECT_NEAR(x, 10, 1e-12);
    EXPECT_NEAR(r, 10, 1e-12);
}

TEST_F(CadDraw, ArcsByEveryCombinationHaveTheirCentreAndSweep) {
    struct Case {
        int command;
        std::vector<std::string> input;  // "x,y" points and typed values, in order
        double cx, cy, r, startDeg, sweepDeg;
    };
    const std::vector<Case> cases = {
        // start, second, end: counter-clockwise through the second point, whichever way it was given
        {CAD_CMD_DRAW_ARC_3P, {"10,0", "0,10", "-10,0"}, 0, 0, 10, 0, 180},
        {CAD_CMD_DRAW_ARC_3P, {"-10,0", "0,-10", "10,0"}, 0, 0, 10, 180, 180},
        {CAD_CMD_DRAW_ARC_3P, {"-10,0", "0,10", "10,0"}, 0, 0, 10, 0, 180},
        {CAD_CMD_DRAW_ARC_SCE, {"10,0", "0,0", "0,30"}, 0, 0, 10, 0, 90},
        {CAD_CMD_DRAW_ARC_SCA, {"10,0", "0,0", "-90"}, 0, 0, 10, 270, 90},
        {CAD_CMD_DRAW_ARC_SCL, {"10,0", "0,0", "14.142135623730951"}, 0, 0, 10, 0, 90},
        {CAD_CMD_DRAW_ARC_SEA, {"10,0", "0,10", "90"}, 0, 0, 10, 0, 90},
        {CAD_CMD_DRAW_ARC_SEA, {"10,0", "0,10", "-90"}, 10, 10, 10, 180, 90},
        {CAD_CMD_DRAW_ARC_SED, {"10,0", "0,10", "90"}, 0, 0, 10, 0, 90},
        {CAD_CMD_DRAW_ARC_SER, {"10,0", "0,10", "10"}, 0, 0, 10, 0, 90},
        {CAD_CMD_DRAW_ARC_SER, {"10,0", "0,10", "-10"}, 10, 10, 10, 270, 270},
        // the general command's options: start, Center, then an angle
        {CAD_CMD_DRAW_ARC_3P, {"10,0", "c", "0,0", "a", "45"}, 0, 0, 10, 0, 45},
        {CAD_CMD_DRAW_ARC_3P, {"10,0", "e", "0,10", "r", "10"}, 0, 0, 10, 0, 90},
    };
    for (const Case& c : cases) {
        for (const std::string& s : c.input)
            CadScriptPushText(d, s.c_str());
        const int before = CadCountEntities(d);
        Run(c.command);
        ASSERT_EQ(CadCountEntities(d), before + 1) << c.command << " " << c.input.back();
        double x, y, z, r, a0, a1;
        ASSERT_TRUE(CadArcGet(LastEntity(d), &x, &y, &z, &r, &a0, &a1));
        const std::string what = std::to_string(c.command) + " " + c.input.back();
        EXPECT_NEAR(x, c.cx, 1e-9) << what;
        EXPECT_NEAR(y, c.cy, 1e-9) << what;
        EXPECT_NEAR(r, c.r, 1e-9) << what;
        const double startOff = std::fmod(a0 * 180 / kPi - c.startDeg + 720 + 180, 360) - 180;
        EXPECT_NEAR(startOff, 0, 1e-7) << what;
        EXPECT_NEAR(Sweep(a0, a1) * 180 / kPi, c.sweepDeg, 1e-7) << what;
    }
    // A radius shorter than half the chord draws nothing and asks again.
    for (const char* s : {"10,0", "0,10", "5", "10"})
        CadScriptPushText(d, s);
    Run(CAD_CMD_DRAW_ARC_SER);
    EXPECT_TRUE(HistoryHas(d, "The arc cannot be drawn from that."));
    double r;
    CadArcGet(LastEntity(d), nullptr, nullptr, nullptr, &r, nullptr, nullptr);
    EXPECT_NEAR(r, 10, 1e-9);
}

TEST_F(CadDraw, PolylinesCloseUndoAndKeepTheirVertices) {
    // Typed "U" takes a vertex back; typed "C" closes.
    PushPoints(d, {{0, 0}, {10, 0}, {77, 77}});
    CadScriptPushText(d, "u");
    PushPoints(d, {{10, 10}, {0, 10}});
    CadScriptPushText(d, "C");
    Run(CAD_CMD_DRAW_POLYLINE);
    CadEntity* e = LastEntity(d);
    ASSERT_EQ(CadEntityGetType(e), CAD_ENT_POLYLINE);
    EXPECT_EQ(CadPlineGetClosed(e), 1);
    ASSERT_EQ(CadPlineGetNumVers(e), 4);
    const double expect[4][2] = {{0, 0}, {10, 0}, {10, 10}, {0, 10}};
    for (int i = 0; i < 4; ++i) {
        double x, y;
        CadPlineGetVer(e, i, &x, &y, nullptr);
        EXPECT_EQ(x, expect[i][0]);
        EXPECT_EQ(y, expect[i][1]);
    }

    // The context menu's Undo and Enter Closed do the same.
    PushPoints(d, {{100, 0}, {110, 0}, {150, 50}});
    CadScriptPushCall(d, [this] { Run(CAD_CMD_UNDO_VERTEX); });
    PushPoints(d, {{110, 10}});
    CadScriptPushCall(d, [this] { Run(CAD_CMD_ENTER_CLOSED); });
    Run(CAD_CMD_DRAW_POLYLINE);
    e = LastEntity(d);
    EXPECT_EQ(CadPlineGetClosed(e), 1);
    EXPECT_EQ(CadPlineGetNumVers(e), 3);

    // Enter leaves it open; a single vertex makes nothing.
    PushPoints(d, {{200, 0}, {210, 0}});
    CadScriptPushFinish(d);
    Run(CAD_CMD_DRAW_POLYLINE);
    EXPECT_EQ(CadPlineGetClosed(LastEntity(d)), 0);
    const int count = CadCountEntities(d);
    PushPoints(d, {{300, 0}});
    CadScriptPushFinish(d);
    Run(CAD_CMD_DRAW_POLYLINE);
    EXPECT_EQ(CadCountEntities(d), count);

    // A spline closes the same way.
    PushPoints(d, {{0, 200}, {50, 250}, {100, 200}});
    CadScriptPushText(d, "c");
    Run(CAD_CMD_DRAW_SPLINE);
    EXPECT_EQ(CadEntityGetType(LastEntity(d)), CAD_ENT_SPLINE);
    EXPECT_EQ(CadPlineGetClosed(LastEntity(d)), 1);
}

TEST_F(CadDraw, TypedCoordinatesRelativePolarAndDistances) {
    CadScriptPushText(d, "0,0");
    CadScriptPushText(d, "@10,0");
    CadScriptPushText(d, "@10<90");
    CadScriptPushText(d, "5");  // a distance along the last direction (no cursor over the window)
    CadScriptPushText(d, "x");  // neither point nor option: asked again
    CadScriptPushText(d, "c");
    Run(CAD_CMD_DRAW_LINE);
    std::vector<std::vector<double>> lines;
    for (CadEntity* e = CadGetFirstEntity(d); e; e = CadGetNextEntity(d, e)) {
        double x1, y1, x2, y2;
        CadLineGet(e, &x1, &y1, nullptr, &x2, &y2, nullptr);
        lines.push_back({x1, y1, x2, y2});
    }
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(lines[0], (std::vector<double>{0, 0, 10, 0}));
    EXPECT_NEAR(lines[1][2], 10, 1e-12);
    EXPECT_NEAR(lines[1][3], 10, 1e-12);
    EXPECT_NEAR(lines[2][2], 10, 1e-12);
    EXPECT_NEAR(lines[2][3], 15, 1e-12);
    EXPECT_NEAR(lines[3][2], 0, 1e-12);  // closed back to the first point
    EXPECT_NEAR(lines[3][3], 0, 1e-12);
    EXPECT_TRUE(HistoryHas(d, "Point or option keyword required."));

    // A text line that reads like a point stays text.
    CadScriptPushText(d, "20,20");
    CadScriptPushText(d, "3");
    CadScriptPushText(d, "90");
    CadScriptPushText(d, "Quote 12,5");
    CadScriptPushFinish(d);
    Run(CAD_CMD_DRAW_TEXT);
    CadEntity* t = LastEntity(d);
    char text[64];
    CadTextGetText(t, text, sizeof text);
    EXPECT_STREQ(text, "Quote 12,5");
    EXPECT_EQ(CadTextGetHeight(t), 3);
    EXPECT_NEAR(CadTextGetAngle(t), kPi / 2, 1e-12);
}

TEST_F(CadDraw, PolygonEllipseRectangleAndHatch) {
    CadScriptPushText(d, "6");
    CadScriptPushPoint(d, 100, 100, 0);
    CadScriptPushFinish(d);  // inscribed
    CadScriptPushText(d, "10");
    Run(CAD_CMD_DRAW_POLYGON);
    CadEntity* p = LastEntity(d);
    ASSERT_EQ(CadPlineGetNumVers(p), 6);
    EXPECT_EQ(CadPlineGetClosed(p), 1);
    for (int i = 0; i < 6; ++i) {
        double x, y;
        CadPlineGetVer(p, i, &x, &y, nullptr);
        EXPECT_NEAR(std::hypot(x - 100, y - 100), 10, 1e-9);
    }

    PushPoints(d, {{50, 50}, {70, 50}});
    CadScriptPushText(d, "5");
    Run(CAD_CMD_DRAW_ELLIPSE);
    double rx, ry, angle;
    ASSERT_TRUE(CadEllipseGet(LastEntity(d), nullptr, nullptr, nullptr, &rx, &ry, &angle, nullptr, nullptr));
    EXPECT_EQ(rx, 20);
    EXPECT_EQ(ry, 5);
    EXPECT_EQ(angle, 0);

    CadScriptPushPoint(d, 200, 200, 0);
    CadScriptPushText(d, "@30,-20");
    Run(CAD_CMD_DRAW_RECT);
    CadEntity* rect = LastEntity(d);
    double cx, cy, w, h;
    ASSERT_TRUE(CadRectGet(rect, &cx, &cy, nullptr, &w, &h, nullptr));
    EXPECT_EQ(cx, 215);
    EXPECT_EQ(cy, 190);
    EXPECT_EQ(w, 30);
    EXPECT_EQ(h, 20);

    // An internal point finds the rectangle; a point outside every outline finds nothing.
    CadScriptPushPoint(d, 350, 20, 0);
    CadScriptPushPoint(d, 210, 190, 0);
    CadScriptPushFinish(d);
    Run(CAD_CMD_DRAW_HATCH);
    EXPECT_TRUE(HistoryHas(d, "No closed boundary around the point."));
    CadEntity* hatch = LastEntity(d);
    ASSERT_EQ(CadEntityGetType(hatch), CAD_ENT_HATCH);
    EXPECT_EQ(CadPlineGetNumVers(hatch), 4);
    EXPECT_EQ(CadEntityGetLeft(hatch), 200);
    EXPECT_EQ(CadEntityGetRight(hatch), 230);
}

TEST_F(CadDraw, DimensionsMeasureWhatWasPicked) {
    // Linear: horizontal or vertical by where the dimension line passes; aligned: the distance.
    struct Case {
        int command;
        double lx, ly;
        double value;
    };
    for (const Case& c : {Case{CAD_CMD_DIM_LINEAR, 15, 60, 30}, Case{CAD_CMD_DIM_LINEAR, 50, 20, 40},
                          Case{CAD_CMD_DIM_ALIGNED, 0, 40, 50}}) {
        PushPoints(d, {{0, 0}, {30, 40}, {c.lx, c.ly}});
        Run(c.command);
        CadEntity* e = LastEntity(d);
        ASSERT_EQ(CadEntityGetType(e), CAD_ENT_DIMENSION);
        EXPECT_NEAR(CadDimensionGetValue(e), c.value, 1e-9);
    }
    EXPECT_TRUE(HistoryHas(d, "Dimension text = 50.00"));

    // Radius and diameter of a picked circle; the pick of a line is refused.
    CadEntity* circle = CadAddCircle(d, 200, 100, 0, 25);
    CadEntity* line = CadAddLine(d, 100, 200, 0, 300, 200, 0);
    CadScriptPushEntity(d, line);
    CadScriptPushEntity(d, circle);
    CadScriptPushPoint(d, 250, 150, 0);
    Run(CAD_CMD_DIM_RADIUS);
    EXPECT_TRUE(HistoryHas(d, "Object selected is not a circle or arc."));
    EXPECT_NEAR(CadDimensionGetValue(LastEntity(d)), 25, 1e-9);
    CadScriptPushEntity(d, circle);
    CadScriptPushPoint(d, 150, 100, 0);
    Run(CAD_CMD_DIM_DIAMETER);
    EXPECT_NEAR(CadDimensionGetValue(LastEntity(d)), 50, 1e-9);

    // Angular between two lines: the location picks which of the four angles.
    CadEntity* a = CadAddLine(d, 0, 0, 0, 100, 0, 0);
    CadEntity* b = CadAddLine(d, 50, -50, 0, 150, 50, 0);  // meets the first at (100, 0), 45 degrees
    CadScriptPushEntity(d, a);
    CadScriptPushEntity(d, b);
    CadScriptPushPoint(d, 130, 10, 0);
    Run(CAD_CMD_DIM_ANGULAR);
    EXPECT_NEAR(CadDimensionGetValue(LastEntity(d)), 45, 1e-9);
    CadScriptPushEntity(d, a);
    CadScriptPushEntity(d, b);
    CadScriptPushPoint(d, 80, 10, 0);
    Run(CAD_CMD_DIM_ANGULAR);
    EXPECT_NEAR(CadDimensionGetValue(LastEntity(d)), 135, 1e-9);
    // By vertex and two end points.
    CadScriptPushFinish(d);
    PushPoints(d, {{300, 300}, {340, 300}, {300, 340}, {320, 320}});
    Run(CAD_CMD_DIM_ANGULAR);
    EXPECT_NEAR(CadDimensionGetValue(LastEntity(d)), 90, 1e-9);

    PushPoints(d, {{12, 34}, {12, 80}});
    Run(CAD_CMD_DIM_ORDINATE);
    EXPECT_NEAR(CadDimensionGetValue(LastEntity(d)), 12, 1e-9);
    // Every dimension is drawn where it lies.
    CadWinPaint(wnd);
    const QImage shot = kvtest::Screenshot(wnd, "cad_dimensions");
    int dimensions = 0;
    for (CadEntity* e = CadGetFirstEntity(d); e; e = CadGetNextEntity(d, e)) {
        if (CadEntityGetType(e) != CAD_ENT_DIMENSION || CadEntityGetDeleted(e))
            continue;
        ++dimensions;
        int left, top, right, bottom;
        CadCoordModelToWin(wnd, CadEntityGetLeft(e), CadEntityGetTop(e), &left, &top);
        CadCoordModelToWin(wnd, CadEntityGetRight(e), CadEntityGetBottom(e), &right, &bottom);
        const QRect box = QRect(QPoint(left, top), QPoint(right, bottom)).normalized().adjusted(-2, -2, 2, 2);
        EXPECT_LT(kvtest::ColourShare(shot, Qt::black, box), 1.0) << CadEntityGetID(e);
    }
    EXPECT_EQ(dimensions, 9);
    // On the black of the drawing window.
    EXPECT_GT(kvtest::ColourShare(shot, Qt::black), 0.8);
}

TEST_F(CadDraw, ABlockOfTwoLinesInsertedScaledAndTurnedLiesWhereItShould) {
    CadEntity* l1 = CadAddLine(d, 0, 0, 0, 10, 0, 0);
    CadEntity* l2 = CadAddLine(d, 0, 0, 0, 0, 5, 0);
    CadEntity* other = CadAddPoint(d, 60, 60, 0);
    CadScriptPushText(d, "PEG");
    CadScriptPushPoint(d, 0, 0, 0);
    PushPoints(d, {{5, 0}, {0, 2.5}});  // picks of the two lines
    CadScriptPushFinish(d);
    Run(CAD_CMD_NEW_BLOCK);
    CadBlock* block = CadGetBlockByName(d, "peg");
    ASSERT_NE(block, nullptr);
    EXPECT_EQ(CadBlockGetFirstEntity(block), l1);
    EXPECT_EQ(CadBlockGetNextEntity(block, l1), l2);
    // The lines left the drawing for one reference in their place; the point stayed.
    EXPECT_EQ(CadCountEntities(d), 2);
    EXPECT_EQ(CadEntityGetType(LastEntity(d)), CAD_ENT_INSERT);
    EXPECT_EQ(CadEntityGetDeleted(other), 0);

    CadScriptPushText(d, "PEG");
    CadScriptPushPoint(d, 100, 100, 0);
    CadScriptPushText(d, "2");
    CadScriptPushText(d, "90");
    Run(CAD_CMD_INSERT_BLOCK);
    CadEntity* ref = LastEntity(d);
    int id;
    double x, y, scale, angle;
    ASSERT_TRUE(CadInsertGet(ref, &id, &x, &y, nullptr, &scale, &angle));
    EXPECT_EQ(id, CadBlockGetID(block));
    EXPECT_EQ(scale, 2);
    EXPECT_NEAR(angle, kPi / 2, 1e-12);
    // (10, 0) lands at (100, 120) and (0, 5) at (90, 100).
    EXPECT_NEAR(CadEntityGetLeft(ref), 90, 1e-9);
    EXPECT_NEAR(CadEntityGetRight(ref), 100, 1e-9);
    EXPECT_NEAR(CadEntityGetBottom(ref), 100, 1e-9);
    EXPECT_NEAR(CadEntityGetTop(ref), 120, 1e-9);

    // The end points of the placed lines are snap targets.
    CadSnapPutMode(d, CAD_SNAP_END);
    CadSnapPutOn(d, 1);
    PushPoints(d, {{101.5, 118.7}, {91.2, 101.1}});
    Run(CAD_CMD_DRAW_POINT);
    double px, py;
    CadEntity* p2 = LastEntity(d);
    CadPointGet(p2, &px, &py, nullptr);
    EXPECT_NEAR(px, 90, 1e-9);
    EXPECT_NEAR(py, 100, 1e-9);
}

TEST_F(CadDraw, EndPointAndIntersectionSnapsPutPicksExactlyThere) {
    CadAddLine(d, 0, 0, 0, 100, 0, 0);
    CadAddLine(d, 50, -50, 0, 50, 50, 0);
    CadSnapPutMode(d, CAD_SNAP_END | CAD_SNAP_INTERSECTION);
    CadSnapPutOn(d, 1);
    PushPoints(d, {{98.2, 1.7}, {51.5, -2.2}, {120, 30}});
    Run(CAD_CMD_DRAW_LINE);
    std::vector<CadEntity*> made;
    for (CadEntity* e = CadGetFirstEntity(d); e; e = CadGetNextEntity(d, e))
        made.push_back(e);
    ASSERT_EQ(made.size(), 4u);
    double x1, y1, x2, y2;
    CadLineGet(made[2], &x1, &y1, nullptr, &x2, &y2, nullptr);
    EXPECT_EQ(x1, 100);
    EXPECT_EQ(y1, 0);
    EXPECT_EQ(x2, 50);
    EXPECT_EQ(y2, 0);
    CadLineGet(made[3], &x1, &y1, nullptr, &x2, &y2, nullptr);
    EXPECT_EQ(x2, 120);  // nothing to snap to there
    EXPECT_EQ(y2, 30);

    // Relative input starts from the snapped point; "None" turns the snaps off.
    CadScriptPushPoint(d, 1.1, -0.9, 0);
    CadScriptPushText(d, "@0,25");
    Run(CAD_CMD_DRAW_LINE);
    CadLineGet(LastEntity(d), &x1, &y1, nullptr, &x2, &y2, nullptr);
    EXPECT_EQ(x2, 0);
    EXPECT_EQ(y2, 25);
    Run(CAD_CMD_SNAP_NONE);
    CadScriptPushPoint(d, 1.1, -0.9, 0);
    CadScriptPushPoint(d, 7, 7, 0);
    Run(CAD_CMD_DRAW_LINE);
    CadLineGet(LastEntity(d), &x1, &y1, nullptr, nullptr, nullptr, nullptr);
    EXPECT_EQ(x1, 1.1);
}

TEST_F(CadDraw, DistanceAndAreaPrintTheirResults) {
    PushPoints(d, {{10, 10}, {40, 50}});
    Run(CAD_CMD_DIST);
    EXPECT_TRUE(HistoryHas(d, "Distance = 50.0000"));
    EXPECT_TRUE(HistoryHas(d, "Delta X = 30.0000,  Delta Y = 40.0000"));
    EXPECT_EQ(CadCountEntities(d), 0);

    PushPoints(d, {{0, 0}, {10, 0}, {10, 10}, {0, 10}});
    CadScriptPushFinish(d);
    Run(CAD_CMD_AREA);
    EXPECT_TRUE(HistoryHas(d, "Area = 100.0000,  Perimeter = 40.0000"));

    CadEntity* circle = CadAddCircle(d, 100, 100, 0, 10);
    CadScriptPushText(d, "o");
    CadScriptPushEntity(d, circle);
    Run(CAD_CMD_AREA);
    char expected[64];
    std::snprintf(expected, sizeof expected, "Area = %.4f", kPi * 100);
    EXPECT_TRUE(HistoryHas(d, expected));
}

TEST_F(CadDraw, UndoTakesBackTheLastOperationAndNothingElse) {
    CadEntity* mine = CadAddLine(d, -10, -10, 0, -20, -20, 0);  // the program's own
    PushPoints(d, {{0, 0}, {10, 0}, {10, 10}});
    Run(CAD_CMD_DRAW_LINE);
    CadEntity* segment = LastEntity(d);
    CadScriptPushPoint(d, 50, 50, 0);
    CadScriptPushText(d, "5");
    Run(CAD_CMD_DRAW_CIRCLE_CR);
    CadEntity* circle = LastEntity(d);
    EXPECT_EQ(CadCountEntities(d), 4);

    EXPECT_EQ(Run(CAD_CMD_UNDO_VERTEX), 1);
    EXPECT_EQ(CadEntityGetDeleted(circle), 1);
    EXPECT_EQ(CadEntityGetDeleted(segment), 0);
    EXPECT_EQ(CadCountEntities(d), 3);

    // An erase is an operation too: undo brings the entity back.
    CadSelectEntity(mine, 1);
    Run(CAD_CMD_ERASE);
    EXPECT_EQ(CadEntityGetDeleted(mine), 1);
    Run(CAD_CMD_UNDO_VERTEX);
    EXPECT_EQ(CadEntityGetDeleted(mine), 0);

    // The whole line command goes at once; then there is nothing left of the operator's.
    Run(CAD_CMD_UNDO_VERTEX);
    EXPECT_EQ(CadCountEntities(d), 1);
    EXPECT_EQ(Run(CAD_CMD_UNDO_VERTEX), 0);
    EXPECT_TRUE(HistoryHas(d, "Nothing to undo."));
    EXPECT_EQ(CadEntityGetDeleted(mine), 0);
}

TEST_F(CadDraw, TypedNamesStartEngineCommandsButNeverShadowUserCommands) {
    g_userLog.clear();
    ASSERT_TRUE(CadAddCommand(d, CMD_CUT, "CUT", "L", 0, UserCommand, nullptr));
    CadScriptSetStrict(0);
    wnd->show();
    QApplication::processEvents();
    auto type = [this](const char* text) {
        QTest::keyClicks(wnd, text);
        QTest::keyClick(wnd, Qt::Key_Return);
    };

    type("l");  // the user command's alias
    EXPECT_EQ(g_userLog.size(), 1u);
    EXPECT_EQ(CadCountEntities(d), 0);

    CadScriptSetStrict(1);
    PushPoints(d, {{0, 0}, {10, 0}});
    type("line");
    EXPECT_EQ(CadCountEntities(d), 1);
    EXPECT_TRUE(HistoryHas(d, "Command: line"));
    EXPECT_EQ(g_userLog.size(), 1u);

    // Enter on an empty line and "repeat" start the last command again.
    PushPoints(d, {{0, 10}, {10, 10}});
    type("");
    EXPECT_EQ(CadCountEntities(d), 2);
    PushPoints(d, {{0, 20}, {10, 20}});
    EXPECT_EQ(Run(CAD_CMD_REPEAT), 1);
    EXPECT_EQ(CadCountEntities(d), 3);

    PushPoints(d, {{5, 5}});
    CadScriptPushText(d, "3");
    type("C");
    EXPECT_EQ(CadEntityGetType(LastEntity(d)), CAD_ENT_ARC);
    type("u");
    EXPECT_EQ(CadCountEntities(d), 3);
    type("CUT");
    EXPECT_EQ(g_userLog.size(), 2u);
}

TEST_F(CadDraw, AReadOnlyDrawingRefusesTheOperatorsEditsButMeasures) {
    CadPutReadOnly(d, 1);
    PushPoints(d, {{0, 0}, {10, 0}});
    EXPECT_EQ(Run(CAD_CMD_DRAW_LINE), 0);
    EXPECT_EQ(CadCountEntities(d), 0);
    CadScriptClear(d);
    PushPoints(d, {{0, 0}, {3, 4}});
    EXPECT_EQ(Run(CAD_CMD_DIST), 1);
    EXPECT_TRUE(HistoryHas(d, "Distance = 5.0000"));
}

TEST_F(CadDraw, ZoomWindowRunsInsideAWaitingCommand) {
    CadScriptPushPoint(d, 0, 0, 0);
    // The operator zooms while the line waits for its second point.
    CadScriptPushCall(d, [this] { Run(CAD_CMD_ZOOM_WINDOW); });
    CadScriptPushPoint(d, 100, 100, 0);
    CadScriptPushPoint(d, 140, 130, 0);
    CadScriptPushPoint(d, 120, 110, 0);
    Run(CAD_CMD_DRAW_LINE);
    double l, b, r, t;
    CadGetViewRect(wnd, &l, &b, &r, &t);
    EXPECT_NEAR(l, 100, 1);
    EXPECT_NEAR(r, 140, 1);
    EXPECT_LE(b, 100 + 1e-9);
    EXPECT_GE(t, 130 - 1e-9);
    double x1, y1, x2, y2;
    ASSERT_TRUE(CadLineGet(LastEntity(d), &x1, &y1, nullptr, &x2, &y2, nullptr));
    EXPECT_EQ(x1, 0);
    EXPECT_EQ(x2, 120);
    Run(CAD_CMD_ZOOM_PREVIOUS);
    CadGetViewRect(wnd, &l, &b, &r, &t);
    EXPECT_NEAR(l, 0, 1e-9);
}

namespace {

// The command line's transcript, oldest line first.
std::vector<std::string> Transcript(CadDrawing* d) {
    std::vector<std::string> lines;
    char line[512];
    for (int i = 0; CadCmdGetHistory(d, i, line, sizeof line); ++i)
        lines.insert(lines.begin(), line);
    return lines;
}

// The operator types a line into the drawing window and presses Enter while the next prompt waits.
void PushTyped(CadDrawing* d, QWidget* wnd, const std::string& text) {
    CadScriptPushCall(d, [wnd, text] {
        QTest::keyClicks(wnd, QString::fromStdString(text));
        QTest::keyClick(wnd, Qt::Key_Return);
    });
}

void AskTwice(CadDrawing* d) {
    CadCmdPrompt(d, "Insert the elevation offset", "");
    CadCmdUserInput(d);
    CadCmdPrompt(d, "Insert the elevation offset", "");
    CadCmdUserInput(d);
    CadCmdPromptAdd(d, " (taken)");
    CadCmdPrompt(d, "No DEM loaded", "");
    CadCmdPrompt(d, "", "");
}

}  // namespace

TEST_F(CadDraw, TheTranscriptHasOneLinePerAnsweredPromptWithTheAnswerAfterIt) {
    // Typed, clicked, typed again and Enter: each prompt once, as it read when answered.
    PushTyped(d, wnd, "0,0");
    CadScriptPushPoint(d, 100, 0, 0);
    PushTyped(d, wnd, "100,100");
    PushTyped(d, wnd, "");
    QTest::keyClicks(wnd, "LINE");
    QTest::keyClick(wnd, Qt::Key_Return);
    EXPECT_EQ(CadCountEntities(d), 2);
    // A zoom answered by an option, then by two corners.
    PushTyped(d, wnd, "E");
    QTest::keyClicks(wnd, "Z");
    QTest::keyClick(wnd, Qt::Key_Return);
    CadScriptPushPoint(d, 10, 10, 0);
    CadScriptPushPoint(d, 50, 50, 0);
    QTest::keyClicks(wnd, "Z");
    QTest::keyClick(wnd, Qt::Key_Return);
    EXPECT_EQ(Transcript(d), (std::vector<std::string>{
                                 "Command: LINE",
                                 "Specify first point: 0,0",
                                 "Specify next point or [Undo]:",
                                 "Specify next point or [Undo]: 100,100",
                                 "Specify next point or [Close/Undo]:",
                                 "Command: Z",
                                 "Specify corner of window or [Extents/Previous/Window] <Window>: E",
                                 "Command: Z",
                                 "Specify corner of window or [Extents/Previous/Window] <Window>:",
                                 "Specify opposite corner:",
                             }));

    // A program's command: the same prompt asked again is answered again, text added to an
    // answered prompt follows its answer, and a message nobody answers still gets its line.
    ASSERT_TRUE(CadAddCommand(d, CMD_DEMOFFSET, "DEMOFFSET", "DO", 0, AskTwice, nullptr));
    CadScriptClear(d);
    PushTyped(d, wnd, "abc");
    CadScriptPushPoint(d, 5, 5, 0);
    const size_t before = Transcript(d).size();
    Run(CMD_DEMOFFSET);
    const std::vector<std::string> lines = Transcript(d);
    EXPECT_EQ(std::vector<std::string>(lines.begin() + long(before), lines.end()),
              (std::vector<std::string>{"Insert the elevation offset abc",
                                        "Insert the elevation offset (taken)", "No DEM loaded"}));
}

namespace {

// Whether anything is drawn in a rectangle of the picture (the background is black).
bool DrawnIn(const QImage& img, const QRect& r) {
    return kvtest::ColourShare(img, Qt::black, r, 60) < 1.0;
}

}  // namespace

TEST_F(CadDraw, DimensionsHaveArrowheadsAndTheirTextCentredAboveTheLine) {
    // One model unit per pixel; model y 150 is window row 150. A horizontal dimension of
    // (100, 100)-(300, 100) whose line passes through y = 150.
    CadAddDimension(d, CAD_DIM_LINEAR, 100, 100, 300, 100, 200, 150);
    CadWinPaint(wnd);
    QImage img = wnd->grab().toImage();
    int row = 0;
    ASSERT_TRUE(CadCoordModelToWin(wnd, 100, 150, nullptr, &row));
    // Arrowheads: both wings beside each tip, pointing outwards.
    for (int tipX : {100, 300}) {
        const int inward = tipX == 100 ? 1 : -1;
        const QRect above =
            QRect(QPoint(tipX + inward * 3, row - 4), QPoint(tipX + inward * 9, row - 1)).normalized();
        const QRect below =
            QRect(QPoint(tipX + inward * 3, row + 1), QPoint(tipX + inward * 9, row + 4)).normalized();
        EXPECT_TRUE(DrawnIn(img, above)) << tipX;
        EXPECT_TRUE(DrawnIn(img, below)) << tipX;
    }
    // The text: above the line, on both sides of its middle, nothing of it below.
    EXPECT_TRUE(DrawnIn(img, QRect(QPoint(150, row - 30), QPoint(199, row - 2))));
    EXPECT_TRUE(DrawnIn(img, QRect(QPoint(201, row - 30), QPoint(250, row - 2))));
    EXPECT_FALSE(DrawnIn(img, QRect(QPoint(115, row + 2), QPoint(285, row + 40))));

    // A vertical one reads upwards: its text lies left of the line, across its middle.
    CadEntityErase(LastEntity(d), 1);
    CadAddDimension(d, CAD_DIM_LINEAR, 300, 50, 300, 250, 250, 150);
    CadWinPaint(wnd);
    img = wnd->grab().toImage();
    int col = 0, mid = 0;
    ASSERT_TRUE(CadCoordModelToWin(wnd, 250, 150, &col, &mid));
    EXPECT_TRUE(DrawnIn(img, QRect(QPoint(col - 30, mid - 40), QPoint(col - 2, mid - 1))));
    EXPECT_TRUE(DrawnIn(img, QRect(QPoint(col - 30, mid + 1), QPoint(col - 2, mid + 40))));
    EXPECT_FALSE(DrawnIn(img, QRect(QPoint(col + 2, mid - 40), QPoint(col + 40, mid + 40))));
    kvtest::SaveScreenshot(wnd, "cad_dimension_text_above");
}
