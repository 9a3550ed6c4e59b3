#include "mosaic/MosaicCommands.h"

#include <vector>

#include "demtools/DemEditCommands.h"
#include "document/KelvaroDoc.h"
#include "document/UserCommands.h"
#include "mosaic/BuildMosaicDlg.h"
#include "mosaic/DEMMergeDlg.h"
#include "mosaic/DemSplitMerge.h"
#include "mosaic/LabelBrush.h"
#include "mosaic/SeamlineEdit.h"
#include "mosaic/SeamlinesGenerationDlg.h"
#include "mosaic/TileLayout.h"
#include "platform/cad/Cad.h"
#include "platform/ui/ActiveCommand.h"
#include "platform/ui/CadCommandIds.h"
#include "platform/ui/CommandIds.h"
#include "platform/ui/Interaction.h"
#include "raster/DEM.h"

void RunOrthoSeamlinesGeneration(CKelvaroDoc& doc) {
    CSeamlinesGenerationDlg dialog(&doc, CSeamlinesGenerationDlg::kOrthophotos);
    dialog.DoModal();
}

void RunDemSeamlinesGeneration(CKelvaroDoc& doc) {
    CSeamlinesGenerationDlg dialog(&doc, CSeamlinesGenerationDlg::kDems);
    dialog.DoModal();
}

namespace {

// Unselects every entity and redraws.
void UnselectAll(CadDrawing* drawing) {
    CadSelectClear(drawing);
    CadUpdate(drawing);
}

}  // namespace

void CmdDemMerge(CadDrawing* drawing) {
    CKelvaroDoc* doc = FindDocByCad(drawing);
    if (!doc) {
        return;
    }
    ActiveCommandScope scope(drawing, CMD_DEMMERGE);
    if (doc->GetDEMCount() < 2) {
        SetDocCommandPrompt(drawing, QString());
        CadCmdPrompt(drawing, "At least 2 DEMs must be loaded", "");
        return;
    }
    UnselectAll(drawing);
    Prompt(drawing, QStringLiteral("Select DEMs (right click - stop)"));
    const int selected = CadCmdUserSelect(drawing);
    Prompt(drawing, QString());
    if (selected <= 0) {
        UnselectAll(drawing);
        return;
    }
    std::vector<CDEM*> dems;
    for (CadEntity* e = CadSelGetFirst(drawing); e; e = CadSelGetNext(drawing, e)) {
        CDEM* dem = DemOfEntity(*doc, e);
        if (dem && std::find(dems.begin(), dems.end(), dem) == dems.end()) {
            dems.push_back(dem);
        }
    }
    UnselectAll(drawing);
    if (dems.size() < 2) {
        KvMessageBox(QStringLiteral("Please selected at least 2 DEMs!"), MB_OK | MB_ICONEXCLAMATION);
        return;
    }
    const QString path = ChooseOutputFile(QStringLiteral("GeoTiff DEM (*.tif)"), QStringLiteral("tif"));
    if (path.isEmpty()) {
        return;
    }
    CDEMMergeDlg dialog(doc, dems, path, kv::DialogParent());
    dialog.DoModal();
}

void CmdDemSplit(CadDrawing* drawing) {
    CKelvaroDoc* doc = FindDocByCad(drawing);
    if (!doc) {
        return;
    }
    int result = 0;
    {
        ActiveCommandScope scope(drawing, CMD_DEMSPLIT);
        if (doc->m_DEMs.empty()) {
            SetDocCommandPrompt(drawing, QString());
            CadCmdPrompt(drawing, "No DEM loaded", "");
            return;
        }
        CDEM* dem = PickDem(drawing, *doc, true);
        if (!dem || !dem->m_imageEntity) {
            return;
        }
        result = SplitDem(doc, dem);
    }
    if (result == 1) {
        KvMessageBox(QStringLiteral("Process completed"), MB_OK | MB_ICONINFORMATION);
    }
}

void RegisterMosaicCommands(CommandRegistry& registry, DocumentProcedureTable& procedures) {
    registry.Supply(CMD_DEMMERGE, CmdDemMerge);
    registry.Supply(CMD_DEMSPLIT, CmdDemSplit);
    procedures.Supply(ID_BUTTON_BUILDSEAMLINES, RunOrthoSeamlinesGeneration);
    procedures.Supply(ID_DEMSPLITMERGE_BUILDSEAMLINES, RunDemSeamlinesGeneration);
    procedures.Supply(ID_MOSAICMERGE_BUILDMOSAIC, RunBuildMosaic);
    procedures.Supply(ID_MOSAICMERGE_SETUPTILES, RunTilesSetup);
    procedures.Supply(ID_MOSAICMERGE_IMPORTTILES, RunTilesImport);
    procedures.Supply(ID_MOSAICMERGE_REMOVEALLTILES, RunRemoveAllTiles);

    registry.Supply(CMD_EDITSEAMLINESROUND, CmdEditSeamlinesRound, CmdEditSeamlinesRoundDraw);
    registry.Supply(CMD_EDITDEMSEAMLINESROUND, CmdEditDemSeamlinesRound, CmdEditDemSeamlinesRoundDraw);
    registry.Supply(CMD_EDITSEAMLINESROUNDUNDO, CmdEditSeamlinesRoundUndo);
    registry.Supply(CMD_EDITSEAMLINESROUNDREDO, CmdEditSeamlinesRoundRedo);
    registry.Supply(CMD_EDITDEMSEAMLINESROUNDUNDO, CmdEditDemSeamlinesRoundUndo);
    registry.Supply(CMD_EDITDEMSEAMLINESROUNDREDO, CmdEditDemSeamlinesRoundRedo);

    InstallLabelBrushes();
}
