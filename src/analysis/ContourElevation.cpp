#include "analysis/ContourElevation.h"

#include <algorithm>
#include <cmath>

#include "demtools/EntityElevation.h"
#include "document/KelvaroDoc.h"
#include "document/undo/DemUndoRound.h"
#include "platform/cad/Cad.h"
#include "platform/tools/ProgressSink.h"
#include "raster/DEM.h"

namespace {

// First and last cell of one axis from the quotients of the box's two ends.
void AxisCells(double qa, double qb, int count, int& first, int& last) {
    const double lo = std::min(qa, qb);
    const double hi = std::max(qa, qb);
    const double maxIndex = count - 1;
    first = int(std::clamp(std::trunc(lo), 0.0, maxIndex));
    last = int(std::clamp(hi < 0.0 ? 0.0 : std::trunc(hi) + 1.0, 0.0, maxIndex));
}

}  // namespace

cv::Rect ContourCellWindow(const double* gt, int width, int height, const Wml::Point2& minCorner,
                           const Wml::Point2& maxCorner) {
    if (!gt || width <= 0 || height <= 0 || !(gt[1] != 0.0) || !(gt[5] != 0.0))
        return cv::Rect();
    for (double v : {minCorner.X(), minCorner.Y(), maxCorner.X(), maxCorner.Y()})
        if (!std::isfinite(v))
            return cv::Rect();
    int c0, c1, r0, r1;
    AxisCells((minCorner.X() - gt[0]) / gt[1], (maxCorner.X() - gt[0]) / gt[1], width, c0, c1);
    AxisCells((maxCorner.Y() - gt[3]) / gt[5], (minCorner.Y() - gt[3]) / gt[5], height, r0, r1);
    if (c1 < c0 || r1 < r0)
        return cv::Rect();
    return cv::Rect(c0, r0, c1 - c0 + 1, r1 - r0 + 1);
}

ContourEditResult SetContourElevation(CKelvaroDoc* doc, CDEM* dem, const std::vector<Wml::Point2>& polygon,
                                      double elevation, ProgressSink* progress, int* cells) {
    if (cells)
        *cells = 0;
    if (!dem || polygon.size() < 3 || !std::isfinite(elevation))
        return ContourEditResult::BadInput;
    const CPgon area(polygon.data(), int(polygon.size()));
    Wml::Point2 lo, hi;
    if (!area.GetBoundingBox(0, lo, hi))
        return ContourEditResult::BadInput;
    const cv::Rect window = ContourCellWindow(dem->m_geoTransform, dem->Width(), dem->Height(), lo, hi);
    if (window.empty())
        return ContourEditResult::NoCells;
    const cv::Mat inside = CornersInside(area, dem->m_geoTransform, window);
    const int count = cv::countNonZero(inside);
    if (count == 0)
        return ContourEditResult::NoCells;

    if (dem->m_grid.empty()) {
        if (progress)
            progress->SetCaption(QStringLiteral("Preparing DEM to edit..."));
        if (!dem->LoadData(progress) || dem->m_grid.empty())
            return ContourEditResult::NotLoaded;
    }
    if (dem->m_grid.type() != CV_32FC1 || dem->m_grid.cols != dem->Width() ||
        dem->m_grid.rows != dem->Height())
        return ContourEditResult::NotLoaded;

    // The undo record's mask covers the grid with a border of one cell.
    cv::Mat mask = cv::Mat::zeros(dem->m_grid.rows + 2, dem->m_grid.cols + 2, CV_8UC1);
    inside.copyTo(mask(window + cv::Point(1, 1)));
    if (progress)
        progress->SetCaption(QStringLiteral("Generate UNDO..."));
    dem->m_busy = 1;
    const CUndoDEM record(dem, doc, mask, window, float(elevation), progress);
    dem->m_busy = 0;
    if (!record.IsValid())
        return ContourEditResult::NotSaved;
    if (doc) {
        DemUndoRound round;
        round.Add(record);
        doc->PushDemUndoRound(round);
    } else {
        // No history to keep the record: its file would be left behind.
        record.DeleteFile();
    }
    dem->m_modified = 1;
    dem->ReleaseDisplayCache();
    if (doc) {
        if (QWidget* window = CadGetWindow(doc->m_pCad))
            CadWndRedraw(window);
    }
    if (cells)
        *cells = count;
    return ContourEditResult::Done;
}
