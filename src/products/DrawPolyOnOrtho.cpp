#include "products/DrawPolyOnOrtho.h"

#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <cmath>

#include "demtools/DemEditCommands.h"
#include "document/KelvaroDoc.h"
#include "platform/cad/Cad.h"
#include "platform/ui/ActiveCommand.h"
#include "platform/ui/CadCommandIds.h"
#include "platform/ui/Interaction.h"
#include "products/DrawPolyOnOrthoDlg.h"
#include "products/ProductsSupport.h"
#include "raster/RasterIO.h"

namespace {

constexpr int kSegmentSteps = 1000;
constexpr int kSegmentStepPixels = 20;

cv::Scalar DrawingColour(COLORREF colour) {
    return products::BandColor(kv::RedOf(colour), kv::GreenOf(colour), kv::BlueOf(colour));
}

int Thickness(int weight) {
    return std::clamp(weight, 1, 255);
}

std::vector<cv::Point> RoundedPixels(const double* gt, const std::vector<Wml::Point3>& vertices, size_t first,
                                     size_t last) {
    std::vector<cv::Point> points;
    for (size_t i = first; i < last; ++i) {
        points.push_back(products::PixelRounded(gt, vertices[i].X(), vertices[i].Y()));
    }
    return points;
}

// Runs 1, 3, 5, ... of `step` vertices, each closed on itself.
void DrawDashedPolyline(cv::Mat& image, const double* gt, const std::vector<Wml::Point3>& vertices, int step,
                        int weight) {
    const size_t run = static_cast<size_t>(std::max(step, 1));
    for (size_t first = 0; first < vertices.size(); first += 2 * run) {
        const size_t last = std::min(first + run, vertices.size());
        if (last - first < 2) {
            continue;
        }
        const std::vector<cv::Point> points = RoundedPixels(gt, vertices, first, last);
        cv::polylines(image, points, true, products::BandColor(255, 255, 255), Thickness(weight),
                      cv::LINE_AA);
    }
}

// From the upper end (the left one when both lie on one row) 1000 steps of 20 pixels down its column
// or along its row, every other step drawn; nothing for a segment on neither.
void DrawDashedSegment(cv::Mat& image, const double* gt, const std::vector<Wml::Point3>& vertices,
                       int weight) {
    const Wml::Point3* a = &vertices[0];
    const Wml::Point3* b = &vertices[1];
    if (b->X() < a->X()) {
        std::swap(a, b);
    }
    if (b->Y() > a->Y()) {
        std::swap(a, b);
    }
    const cv::Point pa = products::PixelTruncated(gt, a->X(), a->Y());
    const cv::Point pb = products::PixelTruncated(gt, b->X(), b->Y());
    cv::Point direction;
    if (pa.x == pb.x) {
        direction = cv::Point(0, 1);
    } else if (pa.y == pb.y) {
        direction = cv::Point(1, 0);
    } else {
        return;
    }
    for (int k = 0; k < kSegmentSteps; k += 2) {
        const cv::Point2d from = cv::Point2d(pa) + cv::Point2d(direction) * double(k * kSegmentStepPixels);
        const cv::Point2d to = from + cv::Point2d(direction) * double(kSegmentStepPixels);
        cv::line(image, cv::Point(products::Truncate(from.x), products::Truncate(from.y)),
                 cv::Point(products::Truncate(to.x), products::Truncate(to.y)), products::BandColor(0, 0, 0),
                 Thickness(weight), cv::LINE_8);
    }
}

EntityDrawing DrawPolyline(cv::Mat& image, const double* gt, CadEntity* entity, const OrthoLineStyle& style,
                           std::vector<Wml::Point3>& picked) {
    const int count = CadPlineGetNumVers(entity);
    if (count < 2) {
        return EntityDrawing::Invalid;
    }
    for (int i = 0; i < count; ++i) {
        double x = 0.0, y = 0.0, z = 0.0;
        CadPlineGetVer(entity, i, &x, &y, &z);
        picked.emplace_back(x, y, z);
    }
    if (style.dashedPoly) {
        DrawDashedPolyline(image, gt, picked, style.step, style.weight);
    } else if (style.dashedSegment) {
        DrawDashedSegment(image, gt, picked, style.weight);
    } else {
        const std::vector<cv::Point> points = RoundedPixels(gt, picked, 0, picked.size());
        if (style.filled) {
            cv::fillPoly(image, std::vector<std::vector<cv::Point>>{points}, DrawingColour(style.colour),
                         cv::LINE_8);
        } else {
            cv::polylines(image, points, CadPlineGetClosed(entity) != 0, DrawingColour(style.colour),
                          Thickness(style.weight), cv::LINE_8);
        }
    }
    return EntityDrawing::Drawn;
}

// Radii far beyond any image would take the drawing functions past their coordinate range.
bool DrawableRadius(int radius) {
    return radius >= 0 && radius < (1 << 24);
}

EntityDrawing DrawArc(cv::Mat& image, const double* gt, CadEntity* entity, const OrthoLineStyle& style) {
    if (!style.arc && !style.circle) {
        return EntityDrawing::Ignored;
    }
    double x = 0.0, y = 0.0, z = 0.0, radius = 0.0, start = 0.0, end = 0.0;
    CadArcGet(entity, &x, &y, &z, &radius, &start, &end);
    const cv::Point centre = products::PixelTruncated(gt, x, y);
    const int axis = products::Truncate(radius / gt[1]);
    if (!DrawableRadius(axis)) {
        return EntityDrawing::Drawn;
    }
    const cv::Size axes(axis, axis);
    if (style.arc) {
        double sweep = end - start;
        if (sweep <= 0.0) {
            sweep += 2.0 * M_PI;
        }
        const double from = 360.0 - start * 180.0 / M_PI;
        const double to = 360.0 - (start + sweep) * 180.0 / M_PI;
        cv::ellipse(image, centre, axes, 0.0, from, to, DrawingColour(style.colour), Thickness(style.weight),
                    cv::LINE_AA);
    } else {
        cv::ellipse(image, centre, axes, 0.0, 0.0, 360.0, DrawingColour(style.colour), cv::FILLED,
                    cv::LINE_AA);
        cv::ellipse(image, centre, axes, 0.0, 0.0, 360.0, products::BandColor(0, 0, 0), 6, cv::LINE_AA);
    }
    return EntityDrawing::Drawn;
}

}  // namespace

OrthoLineStyle StyleOf(const CDrawPolyOnOrthoDlg& dialog) {
    OrthoLineStyle style;
    style.step = dialog.m_nStep;
    style.weight = dialog.m_nWeight;
    style.colour = dialog.m_Color;
    style.arc = dialog.m_bArc;
    style.dashedPoly = dialog.m_bDashedPoly;
    style.dashedSegment = dialog.m_bDashedSegment;
    style.filled = dialog.m_bFilled;
    style.circle = dialog.m_bCircle;
    return style;
}

EntityDrawing DrawEntityOnOrtho(cv::Mat& image, const double* gt, CadEntity* entity,
                                const OrthoLineStyle& style, std::vector<Wml::Point3>& picked) {
    switch (CadEntityGetType(entity)) {
        case CAD_ENT_POLYLINE:
            return DrawPolyline(image, gt, entity, style, picked);
        case CAD_ENT_ARC:
            return DrawArc(image, gt, entity, style);
        default:
            return EntityDrawing::Invalid;
    }
}

void CmdDrawPolylineOnOrtho(CadDrawing* drawing) {
    CKelvaroDoc* doc = FindDocByCad(drawing);
    if (!doc) {
        return;
    }
    products::DrawingProgress progress;
    if (!products::HasOrthophotoLayer(*doc)) {
        ActiveCadCommandId = 0;
        SetDocCommandPrompt(drawing, QString());
        CadCmdPrompt(drawing, "No Ortho loaded", "");
        return;
    }
    products::OrthophotoCopy ortho;
    if (!products::ChooseOrthophotoCopy({"%s_Bordered"}, &ortho)) {
        return;
    }
    cv::Mat& image = ortho.image;
    const double* gt = ortho.gt;
    ActiveCommandScope active(drawing, CMD_DRAWPOLYLINEONORTHO);
    std::vector<Wml::Point3>& picked = doc->m_AreaVertices;
    struct PickedClear {
        std::vector<Wml::Point3>& list;
        ~PickedClear() { list.clear(); }
    } clearPicked{picked};

    CDrawPolyOnOrthoDlg dialog;
    if (dialog.DoModal() == CDrawPolyOnOrthoDlg::IDC_CANCEL_DRAWING) {
        return;
    }
    for (;;) {
        picked.clear();
        Prompt(drawing, QStringLiteral("Select entity"));
        if (CadEntity* entity = CadCmdUserGetEntity(drawing)) {
            CadSelectEntity(entity, 1);
            CadUpdate(drawing);
            if (DrawEntityOnOrtho(image, gt, entity, StyleOf(dialog), picked) == EntityDrawing::Invalid) {
                CadCmdPrompt(drawing, "Invalid entity", "");
            }
            continue;
        }
        const int answer = dialog.DoModal();
        if (answer == CDrawPolyOnOrthoDlg::IDC_CANCEL_DRAWING) {
            return;
        }
        if (answer == CDrawPolyOnOrthoDlg::IDC_DRAW_ALL || answer == IDCANCEL || answer == 0) {
            break;
        }
    }
    picked.clear();
    progress.show();
    const bool written = SaveImageAsGeoTiff(image, gt, QString(), 0.0, ortho.outputs[0], &progress);
    progress.hide();
    if (written) {
        KvMessageBox(QStringLiteral("Image generation done"), MB_OK | MB_ICONINFORMATION);
    } else {
        KvMessageBox(QStringLiteral("Unable to save image!"), MB_OK | MB_ICONEXCLAMATION);
    }
}

void CmdDrawPolylineOnOrthoDraw(CadDrawing* drawing, QPainter* /*painter*/, double x, double y, double z) {
    const CKelvaroDoc* doc = FindDocByCad(drawing);
    if (!doc || doc->m_AreaVertices.empty()) {
        return;
    }
    for (const Wml::Point3& p : doc->m_AreaVertices) {
        CadDrawAddVertex(p.X(), p.Y(), p.Z());
    }
    CadDrawAddVertex(x, y, z);
    const Wml::Point3& first = doc->m_AreaVertices.front();
    CadDrawAddVertex(first.X(), first.Y(), first.Z());
    CadDrawPolyline(0);
}
