#include <cmath>
#include <limits>
#include <vector>

#include <gtest/gtest.h>

#include "platform/math/Wml.h"

using Wml::Point3;
using Wml::Vector3;

TEST(Wml, VectorBasics) {
    Vector3 v(3, 4, 12);
    EXPECT_DOUBLE_EQ(v.Length(), 13.0);
    EXPECT_EQ(v[2], v.Z());
    EXPECT_DOUBLE_EQ(v.Normalize(), 13.0);
    EXPECT_NEAR(v.Length(), 1.0, 1e-15);
    Vector3 zero;
    EXPECT_EQ(zero.Normalize(), 0.0);
    EXPECT_EQ(zero, Vector3(0, 0, 0));
    EXPECT_EQ(Vector3(1, 0, 0).Cross(Vector3(0, 1, 0)), Vector3(0, 0, 1));
    EXPECT_EQ(Wml::Point2(5, 7) - Wml::Point2(1, 2), Wml::Vector2(4, 5));

    Wml::Matrix3 m(0, -1, 0, 1, 0, 0, 0, 0, 1);  // quarter turn about z
    EXPECT_EQ(m * Vector3(1, 0, 0), Vector3(0, 1, 0));
    EXPECT_EQ(m * m.Transpose(), Wml::Matrix3(true));
    EXPECT_EQ(m.Determinant(), 1.0);

    Wml::Plane3 p(Point3(0, 0, 1), Point3(1, 0, 1), Point3(0, 1, 1));
    EXPECT_EQ(p.Normal, Vector3(0, 0, 1));
    EXPECT_DOUBLE_EQ(p.DistanceTo(Point3(5, 5, 4)), 3.0);
}

TEST(Wml, OrthogonalPlaneFitRecoversAnExactPlaneAtMapCoordinates) {
    // z = 0.5 x - 0.25 y + c over a grid of map coordinates.
    const double x0 = 500000.0, y0 = 5000000.0;
    auto height = [&](double x, double y) { return 0.5 * (x - x0) - 0.25 * (y - y0) + 120.0; };
    std::vector<Point3> pts;
    for (int j = 0; j < 7; ++j)
        for (int i = 0; i < 7; ++i)
            pts.emplace_back(x0 + 30 * i, y0 - 30 * j, height(x0 + 30 * i, y0 - 30 * j));

    Point3 origin;
    Vector3 normal;
    double spreads[3];
    double r = Wml::OrthogonalPlaneFit(int(pts.size()), pts.data(), origin, normal, spreads);
    EXPECT_NEAR(r, 0.0, 1e-6);
    EXPECT_NEAR(normal.Length(), 1.0, 1e-12);
    Vector3 expected(-0.5, 0.25, 1.0);
    expected.Normalize();
    EXPECT_NEAR(std::fabs(normal.Dot(expected)), 1.0, 1e-12);
    EXPECT_NEAR(origin.Z(), height(origin.X(), origin.Y()), 1e-6);
    EXPECT_LE(spreads[0], spreads[1]);
    EXPECT_LE(spreads[1], spreads[2]);
}

TEST(Wml, OrthogonalPlaneFitWithoutAPlaneIsNaN) {
    Point3 origin;
    Vector3 normal;
    std::vector<Point3> line = {{0, 0, 0}, {1, 1, 1}, {2, 2, 2}, {5, 5, 5}};
    EXPECT_TRUE(std::isnan(Wml::OrthogonalPlaneFit(4, line.data(), origin, normal)));
    EXPECT_TRUE(std::isnan(normal.X()));
    EXPECT_TRUE(std::isnan(Wml::OrthogonalPlaneFit(2, line.data(), origin, normal)));
    std::vector<Point3> same(5, Point3(1, 2, 3));
    EXPECT_TRUE(std::isnan(Wml::OrthogonalPlaneFit(5, same.data(), origin, normal)));
    std::vector<Point3> withNaN = {{0, 0, 0}, {1, 0, 0}, {0, 1, std::numeric_limits<double>::quiet_NaN()}};
    EXPECT_TRUE(std::isnan(Wml::OrthogonalPlaneFit(3, withNaN.data(), origin, normal)));

    // Three points in general position do make a plane.
    std::vector<Point3> tri = {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}};
    EXPECT_FALSE(std::isnan(Wml::OrthogonalPlaneFit(3, tri.data(), origin, normal)));
    EXPECT_NEAR(std::fabs(normal.Z()), 1.0, 1e-12);
}
