// B-spline curves as drawings store them: evaluation of a (rational) B-spline from its control
// points and knots, and the cubic B-spline that passes through given points.
#pragma once

#include <vector>

#include "konvertel/DrawingShape.h"

struct BSplineCurve {
    int degree = 3;
    std::vector<double> knots;  // control point count + degree + 1 values, not decreasing
    std::vector<ShapePoint> control;
    std::vector<double> weights;  // empty, or one per control point
};

// Points along the curve: samplesPerSpan points in every knot span, both ends included. A curve
// whose knots do not fit its control points is read with uniform clamped knots; the degree is
// lowered when there are too few control points. Empty when there are fewer than 2.
std::vector<ShapePoint> BSplineSample(BSplineCurve curve, int samplesPerSpan);

// The cubic (or, for fewer points, lower degree) B-spline through the points, with chord-length
// parameters and averaged knots. Consecutive equal points are passed over. False when fewer
// than two distinct points remain.
bool BSplineInterpolate(const std::vector<ShapePoint>& points, BSplineCurve& curve);
