#include "analysis/GroundFilteringCommand.h"

#include <QString>

#include <cmath>
#include <vector>

#include "analysis/AnalysisCommands.h"
#include "analysis/GroundFilteringDlg.h"
#include "controls/GenericSelectionDlg.h"
#include "demtools/DemEditCommands.h"
#include "document/DocView.h"
#include "document/KelvaroDoc.h"
#include "platform/cad/Cad.h"
#include "platform/geometry/Pgon.h"
#include "platform/ui/ActiveCommand.h"
#include "platform/ui/CadCommandIds.h"
#include "platform/ui/Interaction.h"
#include "raster/DEM.h"

namespace {

// The command's state, shared with its rubber band and its progress window.
CDEM* g_dem = nullptr;
std::vector<Wml::Point3> g_area;

// Forgets the command's state and the document's area on every way out.
class StateEnd {
public:
    explicit StateEnd(CKelvaroDoc* doc) : m_doc(doc) {}
    ~StateEnd() {
        g_dem = nullptr;
        g_area.clear();
        m_doc->m_AreaVertices.clear();
    }
    StateEnd(const StateEnd&) = delete;
    StateEnd& operator=(const StateEnd&) = delete;

private:
    CKelvaroDoc* m_doc;
};

// Whether the area, as cells of the DEM, meets the DEM's cell rectangle.
bool AreaMeetsDem(const CDEM& dem, const std::vector<Wml::Point3>& area) {
    const double* gt = dem.m_geoTransform;
    std::vector<Wml::Point2> cells;
    for (const Wml::Point3& p : area) {
        cells.emplace_back(std::rint((p.X() - gt[0]) / gt[1]), std::rint((p.Y() - gt[3]) / gt[5]));
    }
    const double w = dem.Width() - 1, h = dem.Height() - 1;
    const Wml::Point2 frame[4] = {{0.0, 0.0}, {w, 0.0}, {w, h}, {0.0, h}};
    return (CPgon(cells.data(), int(cells.size())) & CPgon(frame, 4)).GetArea() > 0.0;
}

}  // namespace

CDEM* GroundFilteringCommandDem() {
    return g_dem;
}

void CmdGroundFiltering(CadDrawing* drawing) {
    CKelvaroDoc* doc = FindDocByCad(drawing);
    if (!doc) {
        return;
    }
    doc->m_AreaVertices.clear();
    g_area.clear();
    if (!DemLoaded(drawing, *doc)) {
        return;
    }
    ActiveCommandScope scope(drawing, CMD_GROUNDFILTERING);
    StateEnd end(doc);
    g_dem = PickDem(drawing, *doc, true);
    if (!g_dem) {
        return;
    }
    if (g_dem->m_modified) {
        KvMessageBox(QStringLiteral("DEM has been edited. Save project before proceding"),
                     MB_OK | MB_ICONINFORMATION);
        return;
    }
    if (!g_dem->m_imageEntity || (!g_dem->m_pDataset && g_dem->m_grid.empty())) {
        return;
    }
    const int choice =
        AskAreaChoice(doc, QStringLiteral("Area selection"), QStringLiteral("Use total area"), 1);
    AreaResult result = AreaResult::Area;
    switch (choice) {
        case CGenericSelectionDlg::IDC_LEFT:
            result = PickExistingArea(drawing, QStringLiteral("Select existing area"), g_area);
            break;
        case CGenericSelectionDlg::IDC_MIDDLE:
            result = DrawNewArea(drawing, kAreaVertexPrompts, g_area);
            break;
        case CGenericSelectionDlg::IDC_RIGHT:
            break;
        default:
            return;
    }
    if (choice != CGenericSelectionDlg::IDC_RIGHT) {
        if (result != AreaResult::Area || g_area.size() < 3) {
            return;
        }
        if (!AreaMeetsDem(*g_dem, g_area)) {
            KvMessageBox(QStringLiteral("Selected area is out of selected DEM"), MB_OK | MB_ICONSTOP);
            return;
        }
    }
    Prompt(drawing, QString());
    doc->m_AreaVertices = g_area;
    int abortFlag = 0;
    QWidget* parent = doc->GetFirstView() ? doc->GetFirstView()->GetParentFrame() : kv::DialogParent();
    CGroundFilteringDlg progress(doc, &abortFlag, parent);
    progress.DoModal();
}

void CmdGroundFilteringDraw(CadDrawing* /*drawing*/, QPainter* /*painter*/, double x, double y, double z) {
    DrawArea(g_area, x, y, z);
}
