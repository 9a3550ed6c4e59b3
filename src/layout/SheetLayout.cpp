#include "layout/SheetLayout.h"

#include <algorithm>
#include <cmath>
#include <numbers>

#include "platform/tools/ZQT.h"

namespace {

// Frame gap, tick length and title height as fractions of the smaller side.
constexpr double kFrameGap = 1.0 / 25.0;
constexpr double kTick = 1.0 / 50.0;
constexpr double kTitle = 1.0 / 40.0;

double SmallerSide(const SheetExtent& e) {
    return std::min(e.width, e.height);
}

SheetShape MakeLine(SheetLayer layer, double x1, double y1, double x2, double y2) {
    SheetShape s;
    s.kind = SheetShape::Line;
    s.layer = layer;
    s.x = x1;
    s.y = y1;
    s.x2 = x2;
    s.y2 = y2;
    return s;
}

SheetShape MakeText(SheetLayer layer, const QString& text, double x, double y, double height, double angle) {
    SheetShape s;
    s.kind = SheetShape::Text;
    s.layer = layer;
    s.text = text;
    s.x = x;
    s.y = y;
    s.textHeight = height;
    s.angle = angle;
    return s;
}

SheetShape MakeRect(double cx, double cy, double width, double height) {
    SheetShape s;
    s.kind = SheetShape::Rect;
    s.layer = SheetLayer::Borders;
    s.x = cx;
    s.y = cy;
    s.width = width;
    s.height = height;
    return s;
}

QString Label(double value, int decimals) {
    // Adding 0 turns a negative zero (the first position of a start just below 0) into "0".
    return ZQT_DoubleToString(value + 0.0, decimals < 0 ? 2 : decimals);
}

}  // namespace

double SheetFirstGridPosition(double start, double step) {
    if (start >= 0) {
        return (std::trunc(start / step) + 1.0) * step;
    }
    return -std::trunc(std::fabs(start) / step) * step;
}

bool SheetStepUsable(double start, double end, double step) {
    if (!(step > 0) || !std::isfinite(step) || !std::isfinite(start) || !std::isfinite(end)) {
        return false;
    }
    const double first = SheetFirstGridPosition(start, step);
    return !(first < end) || (end - first) / step <= kSheetMaxGridPositions;
}

std::vector<double> SheetGridPositions(double start, double end, double step) {
    std::vector<double> positions;
    if (!(step > 0) || !std::isfinite(step)) {
        return positions;
    }
    const double first = SheetFirstGridPosition(start, step);
    // Each position from the first one by multiplication: adding the step over and over drifts,
    // and a last position that should fall on the frame would land just inside it.
    for (int i = 0; i <= kSheetMaxGridPositions; ++i) {
        const double position = first + i * step;
        if (!(position < end)) {
            break;
        }
        positions.push_back(position);
    }
    return positions;
}

int SheetRefusedStep(const SheetExtent& e, const SheetGrid& grid) {
    const double x1 = e.x0 + e.width;
    const double y1 = e.y0 + e.height;
    if (!SheetStepUsable(e.x0, x1, grid.stepX)) {
        return 1;
    }
    if (!SheetStepUsable(e.y0, y1, grid.stepY)) {
        return 2;
    }
    if (grid.style == SheetStyle::Cross) {
        const double nx = static_cast<double>(SheetGridPositions(e.x0, x1, grid.stepX).size());
        const double ny = static_cast<double>(SheetGridPositions(e.y0, y1, grid.stepY).size());
        if (nx * ny > kSheetMaxCrosses) {
            return nx >= ny ? 1 : 2;
        }
    }
    return 0;
}

std::vector<SheetShape> SheetBorders(const SheetExtent& e) {
    const double gap = SmallerSide(e) * kFrameGap;
    const double cx = e.x0 + e.width / 2.0;
    const double cy = e.y0 + e.height / 2.0;
    return {MakeRect(cx, cy, e.width, e.height), MakeRect(cx, cy, e.width + 2.0 * gap, e.height + 2.0 * gap)};
}

std::vector<SheetShape> SheetCoordinates(const SheetExtent& e, const SheetGrid& grid) {
    const double x1 = e.x0 + e.width;
    const double y1 = e.y0 + e.height;
    const double d = SmallerSide(e) * kTick;
    const double labelHeight = d / 2.0;
    const std::vector<double> xs = SheetGridPositions(e.x0, x1, grid.stepX);
    const std::vector<double> ys = SheetGridPositions(e.y0, y1, grid.stepY);
    std::vector<SheetShape> shapes;
    for (double x : xs) {
        const QString label = Label(x, grid.decimals);
        shapes.push_back(MakeLine(SheetLayer::Parameters, x, e.y0, x, e.y0 - d));
        shapes.push_back(MakeLine(SheetLayer::Parameters, x, y1, x, y1 + d));
        shapes.push_back(MakeText(SheetLayer::Coordinates, label, x, e.y0 - 0.75 * d, labelHeight, 0.0));
        shapes.push_back(MakeText(SheetLayer::Coordinates, label, x, y1 + 0.25 * d, labelHeight, 0.0));
    }
    // The labels of the left and right sides read upwards.
    constexpr double kUpwards = std::numbers::pi / 2.0;
    for (double y : ys) {
        const QString label = Label(y, grid.decimals);
        shapes.push_back(MakeLine(SheetLayer::Parameters, e.x0, y, e.x0 - d, y));
        shapes.push_back(MakeLine(SheetLayer::Parameters, x1, y, x1 + d, y));
        shapes.push_back(MakeText(SheetLayer::Coordinates, label, e.x0 - 0.25 * d, y, labelHeight, kUpwards));
        shapes.push_back(MakeText(SheetLayer::Coordinates, label, x1 + 0.75 * d, y, labelHeight, kUpwards));
    }
    switch (grid.style) {
        case SheetStyle::Line:
            for (double x : xs) {
                shapes.push_back(MakeLine(SheetLayer::Parameters, x, e.y0, x, y1));
            }
            for (double y : ys) {
                shapes.push_back(MakeLine(SheetLayer::Parameters, e.x0, y, x1, y));
            }
            break;
        case SheetStyle::Cross: {
            const double half = grid.crossSize / 2.0;
            for (double y : ys) {
                for (double x : xs) {
                    shapes.push_back(MakeLine(SheetLayer::Parameters, x - half, y, x + half, y));
                    shapes.push_back(MakeLine(SheetLayer::Parameters, x, y - half, x, y + half));
                }
            }
            break;
        }
        case SheetStyle::Simple:
            break;
    }
    return shapes;
}

std::vector<SheetShape> SheetComments(const SheetExtent& e, const SheetTexts& texts) {
    const double h = SmallerSide(e) * kTitle;
    const double cx = e.x0 + e.width / 2.0;
    const double y1 = e.y0 + e.height;
    std::vector<SheetShape> shapes;
    auto add = [&](const QString& text, double height, double y) {
        if (text.isEmpty()) {
            return;
        }
        const double x = cx - text.size() * height / 2.0;
        shapes.push_back(MakeText(SheetLayer::Comments, text, x, y, height, 0.0));
    };
    add(texts.title, h, y1 + 6.5 * h);
    add(texts.site, 0.7 * h, y1 + 5.0 * h);
    if (!texts.scale.isEmpty()) {
        add(QStringLiteral("1:") + texts.scale, 0.7 * h, y1 + 3.5 * h);
    }
    add(texts.date, 0.7 * h, y1 + 2.0 * h);
    return shapes;
}
