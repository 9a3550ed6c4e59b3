#include "analysis/GroundFilteringCommand.h"

#include <QString>

#include <vector>

#include "analysis/AnalysisCommands.h"
#include "analysis/GroundFiltering.h"
#include "analysis/GroundFilteringDlg.h"
#include "controls/GenericSelectionDlg.h"
#include "demtools/DemEditCommands.h"
#include "document/DocView.h"
#include "document/KelvaroDoc.h"
#include "platform/cad/Cad.h"
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
        if (AreaCells(g_area, g_dem->m_geoTransform, g_dem->Width(), g_dem->Height()).GetArea() <= 0.0) {
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
