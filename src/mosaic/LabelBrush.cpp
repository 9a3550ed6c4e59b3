#include "mosaic/LabelBrush.h"

#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <cmath>
#include <vector>

#include "document/KelvaroDoc.h"
#include "platform/math/Wml.h"
#include "platform/ui/CadCommandIds.h"
#include "raster/DEM.h"
#include "view/CadEventProcs.h"

namespace {

// The largest radius whose stroke the drawing routines accept (a line is twice as thick).
constexpr int kMaxRadius = 16383;

struct Brush {
    explicit Brush(int paints) : label(paints) {}
    int label;
    CDEM* target = nullptr;
    int ctrl = 0;
    bool captured = false;
    std::vector<Wml::Point2> points;
    std::vector<cv::Point> pixels;
    int radius = 10;
};

Brush g_brushes[2] = {Brush(2), Brush(3)};

Brush* BrushOf(int commandId) {
    if (commandId == CMD_SEAMLINELABELBRUSH) {
        return &g_brushes[0];
    }
    if (commandId == CMD_DEMSEAMLINELABELBRUSH) {
        return &g_brushes[1];
    }
    return nullptr;
}

bool CanPaint(const Brush& brush) {
    return brush.target && !brush.target->m_labelMask.empty();
}

int MouseDown(Brush& brush, double x, double y) {
    if (!CanPaint(brush)) {
        return 0;
    }
    const double* gt = brush.target->m_geoTransform;
    brush.ctrl = (CadGetKeyFlags() & CAD_KEY_CONTROL) ? 1 : 0;
    brush.points.emplace_back(x, y);
    brush.pixels.emplace_back(static_cast<int>(std::trunc((x - gt[0]) / gt[1])),
                              static_cast<int>(std::trunc((y - gt[3]) / gt[5])));
    brush.captured = true;
    return 1;
}

int MouseUp(Brush& brush, CadDrawing* drawing) {
    if (!CanPaint(brush)) {
        return 0;
    }
    brush.captured = false;
    if (brush.pixels.empty()) {
        return 1;
    }
    CDEM* dem = brush.target;
    const cv::Scalar colour = cv::Scalar::all(brush.ctrl ? 1 : brush.label);
    if (brush.pixels.size() == 1) {
        cv::circle(dem->m_labelMask, brush.pixels.front(), brush.radius, colour, cv::FILLED, cv::LINE_8);
    } else {
        const std::vector<std::vector<cv::Point>> stroke = {brush.pixels};
        cv::polylines(dem->m_labelMask, stroke, false, colour, 2 * brush.radius, cv::LINE_8);
    }
    dem->m_labelMaskModified = 1;
    brush.points.clear();
    brush.pixels.clear();
    dem->m_labelDisplay.Release();
    CadWndRedraw(CadGetWindow(drawing));
    return 1;
}

int MouseWheel(Brush& brush, CadDrawing* drawing, int keyFlags, int delta) {
    if (!CanPaint(brush) || brush.captured || !(keyFlags & CAD_KEY_LBUTTON) || delta == 0) {
        return 0;
    }
    brush.radius = std::clamp(brush.radius + (delta > 0 ? 1 : -1), 1, kMaxRadius);
    CadWndRedraw(CadGetWindow(drawing));
    return 1;
}

void ForgetDem(CDEM* dem) {
    for (Brush& brush : g_brushes) {
        if (brush.target == dem) {
            brush.target = nullptr;
            brush.points.clear();
            brush.pixels.clear();
            brush.captured = false;
        }
    }
}

}  // namespace

int LabelBrushMouseDown(CadDrawing* /*drawing*/, double x, double y) {
    return MouseDown(g_brushes[0], x, y);
}

int LabelBrushMouseUp(CadDrawing* drawing) {
    return MouseUp(g_brushes[0], drawing);
}

int LabelBrushMouseWheel(CadDrawing* drawing, int keyFlags, int delta) {
    return MouseWheel(g_brushes[0], drawing, keyFlags, delta);
}

int LabelBrush2MouseDown(CadDrawing* /*drawing*/, double x, double y) {
    return MouseDown(g_brushes[1], x, y);
}

int LabelBrush2MouseUp(CadDrawing* drawing) {
    return MouseUp(g_brushes[1], drawing);
}

int LabelBrush2MouseWheel(CadDrawing* drawing, int keyFlags, int delta) {
    return MouseWheel(g_brushes[1], drawing, keyFlags, delta);
}

void SetLabelBrushTarget(int commandId, CDEM* dem) {
    if (Brush* brush = BrushOf(commandId)) {
        brush->target = dem;
        brush->points.clear();
        brush->pixels.clear();
        brush->captured = false;
    }
}

CDEM* GetLabelBrushTarget(int commandId) {
    const Brush* brush = BrushOf(commandId);
    return brush ? brush->target : nullptr;
}

int GetLabelBrushRadius(int commandId) {
    const Brush* brush = BrushOf(commandId);
    return brush ? brush->radius : 0;
}

void InstallLabelBrushes() {
    SetSeamlineEditHandlers(CMD_SEAMLINELABELBRUSH,
                            {LabelBrushMouseDown, LabelBrushMouseUp, LabelBrushMouseWheel});
    SetSeamlineEditHandlers(CMD_DEMSEAMLINELABELBRUSH,
                            {LabelBrush2MouseDown, LabelBrush2MouseUp, LabelBrush2MouseWheel});
    SetDemRemovalListener(ForgetDem);
}
