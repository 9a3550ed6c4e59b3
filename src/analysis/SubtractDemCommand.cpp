// The subtract command: DEM A and DEM B picked in the drawing, their pair checked, then the
// subtract dialog.
#include <gdal.h>

#include "analysis/DemDifference.h"
#include "analysis/SubtractDEMDlg.h"
#include "analysis/SurfaceCommands.h"
#include "demtools/DemEditCommands.h"
#include "document/KelvaroDoc.h"
#include "platform/cad/Cad.h"
#include "platform/ui/CadCommandIds.h"
#include "platform/ui/Interaction.h"
#include "raster/DEM.h"
#include "view/CadEventProcs.h"

namespace {

// Asks for a DEM until one other than `other` is picked; null when the pick is ended.
CDEM* PickDemOtherThan(CadDrawing* drawing, CKelvaroDoc& doc, const QString& prompt, const CDEM* other) {
    for (;;) {
        Prompt(drawing, prompt);
        CadEntity* entity = CadCmdUserGetImagePlace(drawing, DemImages(doc));
        if (!entity) {
            return nullptr;
        }
        CDEM* dem = DemOfEntity(doc, entity);
        if (!dem) {
            CadCmdPromptAdd(drawing, " Invalid entity");
        } else if (dem == other) {
            CadCmdPromptAdd(drawing, " DEM 'A' and DEM 'B' can't be the same");
        } else {
            CadCmdPromptAdd(drawing, (QStringLiteral(" ") + dem->m_name).toUtf8().constData());
            return dem;
        }
    }
}

}  // namespace

void CmdSubtractDem(CadDrawing* drawing) {
    CKelvaroDoc* doc = FindDocByCad(drawing);
    if (!GDALGetDriverByName("GTiff") || !doc) {
        return;
    }
    ActiveCommandScope scope(drawing, CMD_SUBTRACTDEM);
    if (doc->m_DEMs.size() < 2) {
        Prompt(drawing, QStringLiteral("Two DEMs are needed"));
        return;
    }
    CDEM* a = PickDemOtherThan(drawing, *doc, QStringLiteral("Select DEM A (A - B = C)"), nullptr);
    if (!a) {
        return;
    }
    CDEM* b = PickDemOtherThan(drawing, *doc, QStringLiteral("Select DEM B (A - B = C)"), a);
    if (!b) {
        return;
    }
    switch (CheckDemPair(*a, *b)) {
        case DemPairCheck::DifferentResolution:
            KvMessageBox(QStringLiteral("Selected DEMs must have same resolution!"),
                         MB_OK | MB_ICONEXCLAMATION);
            return;
        case DemPairCheck::NoOverlap:
            KvMessageBox(QStringLiteral("Selected DEMs must have overlapping area!"),
                         MB_OK | MB_ICONEXCLAMATION);
            return;
        case DemPairCheck::Ok:
            break;
    }
    {
        CSubtractDEMDlg dialog(doc, a, b, kv::DialogParent());
        dialog.DoModal();
    }
    // The dialog drew into a window of its own; the project's procedures draw the plan view again.
    CadOnEventDrawImage(OnCadDrawImage);
    CadOnEventMouseMove(OnCadMouseMove);
    if (QWidget* window = CadGetWindow(drawing)) {
        CadWndRedraw(window);
    }
}
