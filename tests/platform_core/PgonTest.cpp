#include <vector>

#include <gtest/gtest.h>

#include "platform/geometry/Pgon.h"

namespace {

using Wml::Point2;

CPgon Rect(double x0, double y0, double x1, double y1) {
    Point2 pts[] = {{x0, y0}, {x1, y0}, {x1, y1}, {x0, y1}};
    return CPgon(pts, 4);
}

}  // namespace

TEST(Pgon, DisjointOrTouchingPolygonsIntersectInAreaExactlyZero) {
    CPgon a = Rect(0, 0, 10, 10);
    CPgon apart = a & Rect(20, 0, 30, 10);
    EXPECT_EQ(apart.GetNumContours(), 0);
    EXPECT_EQ(apart.GetArea(), 0.0);

    // Sharing an edge or a corner is no overlap either.
    EXPECT_EQ((a & Rect(10, 0, 20, 10)).GetArea(), 0.0);
    EXPECT_EQ((a & Rect(10, 10, 20, 20)).GetArea(), 0.0);
    EXPECT_EQ((a & CPgon()).GetArea(), 0.0);
    // The smallest real overlap is not 0.
    EXPECT_GT((a & Rect(9.999, 0, 20, 10)).GetArea(), 0.0);
}

TEST(Pgon, UnionDifferenceAndHoles) {
    CPgon a = Rect(0, 0, 10, 10);
    CPgon u = a | Rect(5, 5, 15, 15);
    EXPECT_EQ(u.GetNumContours(), 1);
    EXPECT_DOUBLE_EQ(u.GetArea(), 175.0);
    EXPECT_EQ((a | Rect(20, 20, 21, 21)).GetNumContours(), 2);

    // A square punched out of the middle leaves an outer contour and a hole.
    CPgon ring = a - Rect(4, 4, 6, 6);
    ASSERT_EQ(ring.GetNumContours(), 2);
    EXPECT_EQ(ring.IsHole(0), 0);
    EXPECT_EQ(ring.IsHole(1), 1);
    EXPECT_DOUBLE_EQ(ring.GetArea(), 96.0);
    EXPECT_DOUBLE_EQ(ring.GetArea(1), 4.0);
    EXPECT_EQ(ring.GetContour(1).size(), 4u);
    EXPECT_EQ(ring.PtInPolygon(5, 5), 0);
    EXPECT_EQ(ring.PtInPolygon(2, 2), 1);
    EXPECT_EQ(ring.PtInPolygon(4, 5), 1);  // on the hole's edge
    Point2 lo, hi;
    ASSERT_EQ(ring.GetBoundingBox(1, lo, hi), 1);
    EXPECT_EQ(lo, Point2(4, 4));
    EXPECT_EQ(hi, Point2(6, 6));
    EXPECT_EQ(ring.GetBoundingBox(2, lo, hi), 0);

    // The same region rebuilt from its contours without their flags (as stored in files) is
    // still a ring: the inner contour is a hole by the even-odd rule.
    CPgon reread;
    for (int i = 0; i < ring.GetNumContours(); ++i) {
        reread.AddContour(ring.GetContour(i).data(), int(ring.GetContour(i).size()));
    }
    EXPECT_EQ(reread.PtInPolygon(5, 5), 0);
    EXPECT_DOUBLE_EQ(reread.GetArea(), 96.0);
    EXPECT_DOUBLE_EQ((reread & Rect(0, 0, 5, 5)).GetArea(), 24.0);

    // Copies are independent.
    CPgon copy = ring;
    copy = copy | Rect(4, 4, 6, 6);
    EXPECT_EQ(copy.GetNumContours(), 1);
    EXPECT_EQ(ring.GetNumContours(), 2);
}

TEST(Pgon, ConcaveAreaClippedToRasterFallsApartAndCountsItsEdges) {
    // A U-shaped area in cell coordinates whose arms reach below a 10 x 10 raster: clipped to the
    // raster rectangle (0, 0)-(9, 9) it falls apart into the two arms.
    cv::Point u[] = {{1, 5}, {3, 5}, {3, 12}, {6, 12}, {6, 5}, {8, 5}, {8, 14}, {1, 14}};
    CPgon area(u, 8);
    EXPECT_EQ(area.PtInPolygon(4, 8), 0);  // in the notch
    EXPECT_EQ(area.PtInPolygon(2, 8), 1);
    EXPECT_EQ(area.PtInPolygon(3, 8), 1);   // on an inner edge
    EXPECT_EQ(area.PtInPolygon(1, 14), 1);  // on a vertex

    cv::Point raster[] = {{0, 0}, {9, 0}, {9, 9}, {0, 9}};
    CPgon clipped = CPgon(raster, 4) & area;
    ASSERT_EQ(clipped.GetNumContours(), 2);
    EXPECT_DOUBLE_EQ(clipped.GetArea(), 2 * 2 * 4.0);
    Point2 lo, hi;
    ASSERT_EQ(clipped.GetBoundingBox(lo, hi), 1);
    EXPECT_EQ(lo, Point2(1, 5));
    EXPECT_EQ(hi, Point2(8, 9));
    // Cells on the raster's last row still belong to the area.
    EXPECT_EQ(clipped.PtInPolygon(2, 9), 1);
    EXPECT_EQ(clipped.PtInPolygon(8, 9), 1);
    EXPECT_EQ(clipped.PtInPolygon(4, 9), 0);
    EXPECT_EQ(clipped.PtInPolygon(2, 10), 0);
}

TEST(Pgon, MapCoordinatesKeepMillimetres) {
    const double x0 = 500000.123, y0 = 5000000.456;
    CPgon a = Rect(x0, y0, x0 + 10, y0 + 10);
    CPgon b = Rect(x0 + 9.999, y0 + 0.002, x0 + 30, y0 + 9.997);
    CPgon strip = a & b;
    ASSERT_EQ(strip.GetNumContours(), 1);
    EXPECT_NEAR(strip.GetArea(), 0.001 * 9.995, 1e-9);
    Point2 lo, hi;
    strip.GetBoundingBox(0, lo, hi);
    EXPECT_NEAR(lo.X(), x0 + 9.999, 1e-7);
    EXPECT_NEAR(lo.Y(), y0 + 0.002, 1e-7);
    EXPECT_NEAR(hi.X(), x0 + 10, 1e-7);
    EXPECT_NEAR(hi.Y(), y0 + 9.997, 1e-7);
    EXPECT_EQ(strip.PtInPolygon(x0 + 9.9995, y0 + 5), 1);
    EXPECT_EQ(strip.PtInPolygon(x0 + 9.9985, y0 + 5), 0);
    EXPECT_EQ(strip.PtInPolygon(x0 + 9.9995, y0 + 0.0015), 0);

    CPgon u = a | b;
    EXPECT_NEAR(u.GetArea(), 100 + 20.001 * 9.995 - 0.001 * 9.995, 1e-6);
    EXPECT_NEAR((a - b).GetArea(), 100 - 0.001 * 9.995, 1e-6);
}

TEST(Pgon, SelfCrossingOutlineIsRepairedNotRefused) {
    // A bow-tie: two triangles meeting at (1, 1).
    Point2 bow[] = {{0, 0}, {2, 2}, {2, 0}, {0, 2}};
    CPgon tie(bow, 4);
    EXPECT_EQ(tie.PtInPolygon(0.5, 1), 1);
    EXPECT_EQ(tie.PtInPolygon(1.5, 1), 1);
    EXPECT_EQ(tie.PtInPolygon(1, 0.5), 0);
    EXPECT_DOUBLE_EQ(tie.GetArea(), 2.0);

    CPgon clipped = tie & Rect(0, 0, 2, 2);
    EXPECT_EQ(clipped.GetNumContours(), 2);
    EXPECT_DOUBLE_EQ(clipped.GetArea(), 2.0);
    EXPECT_DOUBLE_EQ((tie & Rect(0, 0, 1, 2)).GetArea(), 1.0);
    EXPECT_DOUBLE_EQ((Rect(0, 0, 2, 2) - tie).GetArea(), 2.0);
    EXPECT_EQ((tie | CPgon()).GetNumContours(), 2);
}

TEST(Pgon, DegenerateInput) {
    Point2 line[] = {{0, 0}, {1, 1}, {2, 2}};
    CPgon flat(line, 3);
    EXPECT_EQ(flat.GetNumContours(), 1);  // kept as given
    EXPECT_EQ(flat.GetArea(), 0.0);
    EXPECT_EQ((flat & Rect(-5, -5, 5, 5)).GetNumContours(), 0);
    EXPECT_EQ((Rect(0, 0, 1, 1) | flat).GetNumContours(), 1);
    EXPECT_EQ(CPgon(line, 2).PtInPolygon(0, 0), 0);
    EXPECT_TRUE(CPgon().GetContour(0).empty());
    EXPECT_EQ(CPgon(line, 0).GetNumContours(), 0);
}

TEST(Pgon, PointInPolygonArrays) {
    const double xs[] = {0, 4, 0}, ys[] = {0, 0, 4};
    EXPECT_EQ(point_in_polygon(3, xs, ys, 1, 1), 1);
    EXPECT_EQ(point_in_polygon(3, xs, ys, 2, 2), 1);  // on the slanted edge
    EXPECT_EQ(point_in_polygon(3, xs, ys, 0, 0), 1);
    EXPECT_EQ(point_in_polygon(3, xs, ys, 2.5, 2), 0);
    EXPECT_EQ(point_in_polygon(3, xs, ys, -1, 0), 0);
    EXPECT_EQ(point_in_polygon(2, xs, ys, 0, 0), 0);
}
