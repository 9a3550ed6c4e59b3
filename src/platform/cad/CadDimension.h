// What a dimension looks like, worked out once for everyone who draws one: the drawing window,
// the drawing commands' rubber band, and the drawing converter's picture blocks. Coordinates are
// model units; angles are radians unless said otherwise.
#pragma once

#include <cmath>
#include <string>
#include <utility>
#include <vector>

namespace cad {

struct DimPoint {
    double x = 0, y = 0;
};

struct DimShape {
    // Extension lines, the dimension line or arc, leaders.
    std::vector<std::vector<DimPoint>> paths;
    // The arrowheads (or ticks): where each one's tip is, and a point on the line it lies on,
    // away from which it points.
    std::vector<std::pair<DimPoint, DimPoint>> arrows;
    // The text sits centred above this point, its baseline a gap away in the direction the text
    // reads "up", turned by textAngle (counter-clockwise from the x axis, so that the text never
    // reads upside down).
    DimPoint textAt;
    double textAngle = 0;
    // The measured value: a length, an ordinate, or an angle in degrees.
    double value = 0;
};

// The shape of a dimension of the given kind (CAD_DIM_...) from its three defining points:
// linear and aligned: the two measured points and a point of the dimension line; radius and
// diameter: the centre, a point of the circle and the text's place; angular: the vertex and
// the ends of the two legs; ordinate: the measured point, a second point and the text's place.
// False when the dimension measures nothing (coinciding points).
bool MakeDimShape(int kind, const DimPoint& a, const DimPoint& b, const DimPoint& c, DimShape& out);

// The text a dimension shows: the measured value's text where the text of its own is empty,
// otherwise its own text with every "<>" in it standing for the measured value.
std::string DimensionText(const std::string& own, const std::string& measured);

// The unit vector in which the text of a dimension reads "up".
inline DimPoint DimTextUp(const DimShape& shape) {
    return {-std::sin(shape.textAngle), std::cos(shape.textAngle)};
}

}  // namespace cad
