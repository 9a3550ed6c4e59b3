#include "mosaic/MosaicCommands.h"

#include "document/UserCommands.h"
#include "mosaic/BuildMosaicDlg.h"
#include "mosaic/SeamlinesGenerationDlg.h"
#include "platform/ui/CommandIds.h"

void RunOrthoSeamlinesGeneration(CKelvaroDoc& doc) {
    CSeamlinesGenerationDlg dialog(&doc, CSeamlinesGenerationDlg::kOrthophotos);
    dialog.DoModal();
}

void RunDemSeamlinesGeneration(CKelvaroDoc& doc) {
    CSeamlinesGenerationDlg dialog(&doc, CSeamlinesGenerationDlg::kDems);
    dialog.DoModal();
}

void RegisterMosaicCommands(CommandRegistry& /*registry*/, DocumentProcedureTable& procedures) {
    procedures.Supply(ID_BUTTON_BUILDSEAMLINES, RunOrthoSeamlinesGeneration);
    procedures.Supply(ID_DEMSPLITMERGE_BUILDSEAMLINES, RunDemSeamlinesGeneration);
    procedures.Supply(ID_MOSAICMERGE_BUILDMOSAIC, RunBuildMosaic);
}
