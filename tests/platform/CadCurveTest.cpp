// Fitted polylines, as contour lines are drawn: their extents, measures, pictures, selection and
// snaps are those of the straight polylines through the points of their smooth curve, and a
// drawing of many long ones costs little more memory than their vertices.
#include <QApplication>
#include <QImage>

#include <algorithm>
#include <array>
#include <cmath>
#include <memory>
#include <new>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "platform/cad/Cad.h"
#include "support/Limits.h"
#include "support/TestEnv.h"

namespace {

using Point = std::array<double, 3>;
using Line = std::pair<std::vector<Point>, bool>;  // vertices, closed

struct DrawingDeleter {
    void operator()(CadDrawing* d) const { CadDelete(d); }
};
using Drawing = std::unique_ptr<CadDrawing, DrawingDeleter>;

constexpr double kX = 290000, kY = 9115000;  // where contour lines of a UTM DEM lie
constexpr double kPi = 3.14159265358979323846;

// The curve the drawing shows through the vertices: each side from p1 to p2 a Catmull-Rom cubic
// (p0 before, p3 after; an open line's ends repeat), at t = k / 8, ending on the last vertex (a
// closed curve goes round to the first).
std::vector<Point> SmoothCurve(const std::vector<Point>& p, bool closed) {
    const int n = int(p.size());
    auto at = [&](int i) { return closed ? p[size_t((i + n) % n)] : p[size_t(std::clamp(i, 0, n - 1))]; };
    std::vector<Point> out;
    for (int i = 0; i < (closed ? n : n - 1); ++i) {
        const Point a = at(i - 1), b = at(i), c = at(i + 1), d = at(i + 2);
        for (int k = 0; k < 8; ++k) {
            const double t = k / 8.0, t2 = t * t, t3 = t2 * t;
            Point q;
            for (int j = 0; j < 3; ++j)
                q[size_t(j)] =
                    0.5 * (2 * b[j] + (-a[j] + c[j]) * t + (2 * a[j] - 5 * b[j] + 4 * c[j] - d[j]) * t2 +
                           (-a[j] + 3 * b[j] - 3 * c[j] + d[j]) * t3);
            out.push_back(q);
        }
    }
    out.push_back(closed ? p[0] : p[size_t(n) - 1]);
    return out;
}

// Lines as traced contours come: a long wavy one with sharp turns (the curve swings beyond its
// vertices there), a ring that repeats its first vertex, and the shortest open and closed ones.
std::vector<Line> ContourLikeLines() {
    std::vector<Point> wavy, ring;
    for (int i = 0; i < 600; ++i)
        wavy.push_back({kX + 2 * i, kY + 40 * std::sin(i * 0.07) + (i % 7 == 0 ? 6 : 0), 12.5});
    for (int i = 0; i < 300; ++i) {
        const double a = 2 * kPi * i / 300, r = 150 + 20 * std::sin(5 * a) + (i % 11 == 0 ? 15 : 0);
        ring.push_back({kX + 600 + r * std::cos(a), kY + 300 + r * std::sin(a), 20});
    }
    ring.push_back(ring.front());
    return {{wavy, false},
            {ring, true},
            {{{kX + 100, kY + 200, 5}, {kX + 130, kY + 260, 5}, {kX + 170, kY + 210, 5}}, false},
            {{{kX + 900, kY - 20, 7}, {kX + 960, kY + 30, 7}, {kX + 1000, kY - 40, 7}}, true}};
}

CadEntity* AddLine(CadDrawing* d, const std::vector<Point>& points, int fit, bool closed) {
    CadClearVertices();
    for (const Point& p : points)
        CadAddVertex(p[0], p[1], p[2]);
    return CadAddPolyline(d, fit, closed ? 1 : 0);
}

std::vector<CadEntity*> Entities(CadDrawing* d) {
    std::vector<CadEntity*> all;
    for (CadEntity* e = CadGetFirstEntity(d); e; e = CadGetNextEntity(d, e))
        all.push_back(e);
    return all;
}

QImage Picture(CadDrawing* d, const char* name, double left, double bottom, double right, double top,
               double scale) {
    const QString path = kvtest::TempDir() + "/" + name + ".png";
    EXPECT_NE(CadRasterize(d, path.toUtf8().constData(), left, bottom, right, top, scale), 0);
    return QImage(path);
}

// A million vertices (24 MB) in 400 fitted lines, drawn whole and zoomed in, selected and
// measured; true when all of it went through.
bool DrawLongLines() {
    Drawing d(CadCreate());
    for (int line = 0; line < 400; ++line) {
        CadClearVertices();
        for (int i = 0; i < 2500; ++i)
            CadAddVertex(kX + 4 * i, kY + 10 * line + 3 * std::sin(i * 0.05 + line), line);
        if (!CadAddPolyline(d.get(), 5, 0))
            return false;
    }
    const double right = kX + 10000, top = kY + 4000;
    if (Picture(d.get(), "whole", kX, kY - 5, right, top, 0.1).isNull() ||
        Picture(d.get(), "part", kX + 3000, kY + 1000, kX + 3500, kY + 1400, 2).isNull())
        return false;
    CadEntity* area = AddLine(d.get(), {{kX + 10, kY + 5, 0}, {right, kY + 5, 0}, {right, top, 0}}, 0, true);
    double length = 0;
    for (CadEntity* e : Entities(d.get()))
        length += CadPlineGetLength(e);
    return CadSelectByPolygon(d.get(), area, 1, 1) > 0 && length > 400 * 9996.0;
}

}  // namespace

TEST(CadCurve, FittedPolylinesAreTheirSmoothCurveInQueriesPicturesSelectionAndSnaps) {
    // The fitted lines, and straight lines through their curves' points, in two drawings.
    Drawing smooth(CadCreate()), straight(CadCreate());
    std::vector<std::pair<CadEntity*, CadEntity*>> pairs;
    for (const auto& [points, closed] : ContourLikeLines())
        pairs.emplace_back(AddLine(smooth.get(), points, 5, closed),
                           AddLine(straight.get(), SmoothCurve(points, closed), 0, false));

    for (const auto& [e, f] : pairs) {
        EXPECT_EQ(CadEntityGetLeft(e), CadEntityGetLeft(f));
        EXPECT_EQ(CadEntityGetRight(e), CadEntityGetRight(f));
        EXPECT_EQ(CadEntityGetBottom(e), CadEntityGetBottom(f));
        EXPECT_EQ(CadEntityGetTop(e), CadEntityGetTop(f));
        const double length = CadPlineGetLength(e);
        EXPECT_EQ(length, CadPlineGetLength(f));
        for (double share : {0.0, 0.37, 0.5, 0.99}) {
            double x, y, z, u, v, w;
            ASSERT_NE(CadPlineGetDistPoint(e, share * length, &x, &y, &z), 0);
            ASSERT_NE(CadPlineGetDistPoint(f, share * length, &u, &v, &w), 0);
            EXPECT_EQ(x, u);
            EXPECT_EQ(y, v);
            EXPECT_EQ(z, w);
        }
        // Across the line's extents, through its middle.
        const double l = CadEntityGetLeft(e), r = CadEntityGetRight(e), b = CadEntityGetBottom(e),
                     t = CadEntityGetTop(e);
        for (const auto& [px, py] :
             {std::pair(0.5 * (l + r), 0.5 * (b + t)), std::pair(0.3 * l + 0.7 * r, b + 2)})
            EXPECT_EQ(CadPlineContainPoint(e, px, py), CadPlineContainPoint(f, px, py));
        double x, y, u, v;
        const int crossed =
            CadPlineGetInterPoint(e, l - 1, 0.4 * b + 0.6 * t, r + 1, 0.6 * b + 0.4 * t, &x, &y);
        ASSERT_EQ(crossed,
                  CadPlineGetInterPoint(f, l - 1, 0.4 * b + 0.6 * t, r + 1, 0.6 * b + 0.4 * t, &u, &v));
        if (crossed) {
            EXPECT_EQ(x, u);
            EXPECT_EQ(y, v);
        }
    }

    // The same pixels, zoomed out (where lines are drawn simplified), in between and close up.
    const struct {
        double left, bottom, right, top, scale;
    } views[] = {{kX - 50, kY - 60, kX + 1250, kY + 480, 0.5},
                 {kX + 380, kY + 100, kX + 820, kY + 420, 2},
                 {kX + 440, kY + 280, kX + 452, kY + 292, 50}};
    for (const auto& v : views) {
        const QImage a = Picture(smooth.get(), "smooth", v.left, v.bottom, v.right, v.top, v.scale);
        const QImage b = Picture(straight.get(), "straight", v.left, v.bottom, v.right, v.top, v.scale);
        ASSERT_FALSE(a.isNull());
        int drawn = 0;
        for (int y = 0; y < a.height(); ++y)
            for (int x = 0; x < a.width(); ++x)
                drawn += qAlpha(a.pixel(x, y)) > 0;
        EXPECT_GT(drawn, 200);
        EXPECT_TRUE(a == b) << "at " << v.scale << " pixels a unit";
    }

    // A window selection and a crossing one take the same lines.
    for (int crossing : {0, 1}) {
        std::vector<std::vector<size_t>> taken;
        for (CadDrawing* d : {smooth.get(), straight.get()}) {
            CadSelectClear(d);
            CadEntity* area = AddLine(d,
                                      {{kX + 80, kY + 40, 0},
                                       {kX + 520, kY + 40, 0},
                                       {kX + 980, kY + 320, 0},
                                       {kX + 980, kY + 460, 0},
                                       {kX + 80, kY + 460, 0}},
                                      0, true);
            CadSelectByPolygon(d, area, crossing, 1);
            const std::vector<CadEntity*> all = Entities(d);
            taken.emplace_back();
            for (size_t i = 0; i < pairs.size(); ++i)
                if (CadEntityGetSelected(all[i]))
                    taken.back().push_back(i);
            CadEntityErase(area, 1);
        }
        EXPECT_EQ(taken[0], taken[1]) << "crossing " << crossing;
        EXPECT_FALSE(taken[0].empty()) << "crossing " << crossing;
    }

    // Points picked near the lines snap to the same places: vertices of the curve, midpoints and
    // nearest points of its segments, crossings, feet of perpendiculars.
    std::vector<std::vector<Point>> placed;
    for (CadDrawing* d : {smooth.get(), straight.get()}) {
        CadSelectClear(d);
        QWidget* window = CadWndCreate(d, nullptr, 0, 0, 400, 300);
        CadViewRect(window, kX + 60, kY + 150, kX + 260, kY + 300);  // half a unit a pixel
        CadSnapPutMode(d, CAD_SNAP_END | CAD_SNAP_MID | CAD_SNAP_NEAREST | CAD_SNAP_INTERSECTION |
                              CAD_SNAP_PERPENDICULAR);
        CadSnapPutOn(d, 1);
        for (const auto& [x, y] : {std::pair(kX + 131.1, kY + 258.2), std::pair(kX + 151.7, kY + 236.4),
                                   std::pair(kX + 110.2, kY + 221.9), std::pair(kX + 166.3, kY + 213.8),
                                   std::pair(kX + 200.6, kY + 176.1)})
            CadScriptPushPoint(d, x, y, 0);
        CadScriptPushFinish(d);
        CadExecute(d, window, CAD_CMD_DRAW_POINT);
        placed.emplace_back();
        for (CadEntity* e : Entities(d))
            if (CadEntityGetType(e) == CAD_ENT_POINT) {
                Point p;
                CadPointGet(e, &p[0], &p[1], &p[2]);
                placed.back().push_back(p);
            }
        CadScriptClear(d);
        QApplication::processEvents();
    }
    ASSERT_EQ(placed[0].size(), 5u);
    EXPECT_EQ(std::count_if(placed[0].begin(), placed[0].end(), [](const Point& p) { return p[2] == 5; }), 4);
    EXPECT_TRUE(placed[0] == placed[1]);
}

TEST(CadCurve, ManyLongFittedPolylinesCostLittleBeyondTheirVertices) {
    // Within 64 MB: what the drawing derives from a million vertices stays far below a point of
    // their curves kept for every point (8 a vertex, 192 MB).
    EXPECT_TRUE(kvtest::RunWithinMemory(64u << 20, [] {
        try {
            return DrawLongLines();
        } catch (const std::bad_alloc&) {
            return false;
        }
    }));
}
