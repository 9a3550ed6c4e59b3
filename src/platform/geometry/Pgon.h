// Polygon sets: the clipping areas of the area-restricted tools, seam regions and raster extents.
#pragma once

#include <vector>

#include <opencv2/core/types.hpp>

#include "platform/math/Wml.h"

// A set of closed contours over doubles (the first vertex is not repeated at the end).
//
// The region a set covers follows the even-odd rule over its contours: a point is inside when it
// lies within an odd number of them. A contour inside another is therefore a hole whether or not
// it is flagged as one, and a set read back from contours without their flags means the same
// region. A contour that crosses itself (an operator-drawn bow-tie) covers the parts it encloses
// an odd number of times. Points on a contour's boundary count as inside.
//
// The results of |, & and - are valid sets: outer contours that do not overlap, each followed by
// its holes, with the hole flags set. Empty results have no contour and area exactly 0, so two
// polygons that only touch or lie apart intersect in area 0.
class CPgon {
public:
    CPgon() = default;
    // One contour of count points (no contour when count is 0).
    CPgon(const Wml::Point2* points, int count);
    CPgon(const cv::Point* points, int count);

    CPgon operator|(const CPgon& other) const;
    CPgon operator&(const CPgon& other) const;
    CPgon operator-(const CPgon& other) const;

    int GetNumContours() const { return int(m_contours.size()); }
    // Empty for an index out of range.
    const std::vector<Wml::Point2>& GetContour(int contour) const;
    // Zero for an index out of range.
    int IsHole(int contour) const;

    // Adds a contour of count points (none when count is 0).
    void AddContour(const Wml::Point2* points, int count, bool hole = false);

    // The area the set covers.
    double GetArea() const;
    // The area one contour encloses (positive for holes too); 0 for an index out of range.
    double GetArea(int contour) const;

    // Lower-left and upper-right corner of one contour, or of all contours; 0 when there is no
    // such contour (the corners are then left alone).
    int GetBoundingBox(int contour, Wml::Point2& minCorner, Wml::Point2& maxCorner) const;
    int GetBoundingBox(Wml::Point2& minCorner, Wml::Point2& maxCorner) const;

    // Non-zero when (x, y) lies inside the set or on a contour.
    int PtInPolygon(double x, double y) const;

private:
    struct Contour {
        std::vector<Wml::Point2> points;
        bool hole = false;
    };
    enum class Op { Union, Intersection, Difference };
    CPgon Combine(const CPgon& other, Op op) const;

    std::vector<Contour> m_contours;
    // Set for the results of the boolean operators, whose contours come as outer contours each
    // followed by its holes.
    bool m_valid = true;

    friend class PgonGeos;
};

// Non-zero when (x, y) lies inside the polygon of count vertices xs[i], ys[i] or on its boundary;
// the even-odd rule decides for a polygon that crosses itself.
int point_in_polygon(int count, const double* xs, const double* ys, double x, double y);
