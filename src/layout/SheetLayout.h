// The sheet layout as plain geometry: the double frame around an extent, the coordinate ticks
// and labels along its four sides, grid lines or grid crosses inside, and the title block above.
// The dialog adds these shapes to a CAD block; nothing here touches a drawing.
//
// Sizes follow the smaller side m of the extent: the outer frame lies m/25 outside it, ticks are
// m/50 long, coordinate labels half a tick high, and the title m/40 high.
#pragma once

#include <QString>

#include <vector>

// The profile section of the sheet layout's settings.
constexpr const char* kSheetLayoutSection = "SheetLayout";

// The four layers the layout draws on.
enum class SheetLayer { Borders, Parameters, Coordinates, Comments };

// The look of the grid: ticks and labels only, crosses at the grid positions, or lines across.
enum class SheetStyle { Simple = 0, Cross = 1, Line = 2 };

struct SheetShape {
    enum Kind { Line, Rect, Text };
    Kind kind = Line;
    SheetLayer layer = SheetLayer::Borders;
    // Line: from (x, y) to (x2, y2). Rectangle: centre (x, y), size width x height, not turned.
    // Text: insertion point (x, y) at its left base, height textHeight, angle in radians.
    double x = 0.0;
    double y = 0.0;
    double x2 = 0.0;
    double y2 = 0.0;
    double width = 0.0;
    double height = 0.0;
    double textHeight = 0.0;
    double angle = 0.0;
    QString text;
};

struct SheetExtent {
    double x0 = 0.0;  // lower-left corner
    double y0 = 0.0;
    double width = 0.0;
    double height = 0.0;
};

struct SheetGrid {
    double stepX = 100.0;
    double stepY = 100.0;
    int decimals = 2;  // of the coordinate labels
    SheetStyle style = SheetStyle::Simple;
    double crossSize = 1.0;  // length of each of the two lines of a cross
};

struct SheetTexts {
    QString title;
    QString site;
    QString scale;  // the denominator; drawn as "1:" and the text
    QString date;
};

// Most grid positions a step may give along one side of the extent, and most grid crosses in
// all: beyond them the layout would be millions of entities that no sheet can show.
constexpr int kSheetMaxGridPositions = 10000;
constexpr double kSheetMaxCrosses = 1000000.0;

// The first grid position of a side that starts at start: the first multiple of step above a
// start of 0 or more, the first multiple not below a negative start.
double SheetFirstGridPosition(double start, double step);
// The grid positions from the first one on, in steps of step, while they lie below end. Empty
// for a step that is not a positive number.
std::vector<double> SheetGridPositions(double start, double end, double step);
// True when step is a positive finite number that gives at most kSheetMaxGridPositions
// positions between start and end.
bool SheetStepUsable(double start, double end, double step);

// Which step the layout must refuse: 0 none, 1 the x step, 2 the y step. A step must be a
// positive number that gives at most kSheetMaxGridPositions positions along its side; the
// crosses of the Cross style are limited to kSheetMaxCrosses, and the step of the side with
// more positions is refused when there are more.
int SheetRefusedStep(const SheetExtent& extent, const SheetGrid& grid);

// The inner and the outer frame.
std::vector<SheetShape> SheetBorders(const SheetExtent& extent);
// Ticks and coordinate labels on the four sides, then the grid lines or crosses of the style.
std::vector<SheetShape> SheetCoordinates(const SheetExtent& extent, const SheetGrid& grid);
// The texts that are not empty, centred above the frame: title, site, scale, date.
std::vector<SheetShape> SheetComments(const SheetExtent& extent, const SheetTexts& texts);
