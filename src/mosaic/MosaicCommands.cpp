#include "mosaic/MosaicCommands.h"

#include "document/UserCommands.h"
#include "mosaic/BuildMosaicDlg.h"
#include "mosaic/LabelBrush.h"
#include "mosaic/SeamlineEdit.h"
#include "mosaic/SeamlinesGenerationDlg.h"
#include "mosaic/TileLayout.h"
#include "platform/ui/CadCommandIds.h"
#include "platform/ui/CommandIds.h"

void RunOrthoSeamlinesGeneration(CKelvaroDoc& doc) {
    CSeamlinesGenerationDlg dialog(&doc, CSeamlinesGenerationDlg::kOrthophotos);
    dialog.DoModal();
}

void RunDemSeamlinesGeneration(CKelvaroDoc& doc) {
    CSeamlinesGenerationDlg dialog(&doc, CSeamlinesGenerationDlg::kDems);
    dialog.DoModal();
}

void RegisterMosaicCommands(CommandRegistry& registry, DocumentProcedureTable& procedures) {
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
