// The seamline edit rounds of a project and the ribbon of "Mosaic Merge" and "DEM Split / Merge":
// the two round stacks with their undo and redo, the enabling rules of the seamline, mosaic and
// tile buttons, and the layer toggles.
#include <QWidget>

#include "document/KelvaroDoc.h"
#include "document/UserCommands.h"
#include "platform/cad/Cad.h"
#include "platform/ui/ActiveCommand.h"
#include "platform/ui/CommandIds.h"
#include "raster/DEM.h"
#include "raster/Ortho.h"

namespace {

constexpr char kOrthoSeamlineLayer[] = "SeamLines";
constexpr char kDemSeamlineLayer[] = "SeamLines_DEM";
constexpr char kTileLayer[] = "Tiles";

using PolylineLists = std::vector<std::vector<CadEntity*>>;

void HoldLists(const PolylineLists& lists, int hold) {
    for (const std::vector<CadEntity*>& list : lists) {
        for (CadEntity* entity : list) {
            CadEntityHold(entity, hold);
        }
    }
}

void FreeRound(UndoRoundData* round) {
    HoldLists(round->before, 0);
    HoldLists(round->after, 0);
    delete round;
}

void FreeRounds(std::vector<UndoRoundData*>& rounds, int& index) {
    for (UndoRoundData* round : rounds) {
        FreeRound(round);
    }
    rounds.clear();
    index = -1;
}

// Drops the undone rounds above the index and appends a new one, holding its polylines.
UndoRoundData* PushRound(std::vector<UndoRoundData*>& rounds, int& index, CadDrawing* drawing,
                         const PolylineLists& before, const PolylineLists& after) {
    while (static_cast<int>(rounds.size()) > index + 1) {
        FreeRound(rounds.back());
        rounds.pop_back();
    }
    auto* round = new UndoRoundData;
    round->drawing = drawing;
    round->before = before;
    round->after = after;
    HoldLists(round->before, 1);
    HoldLists(round->after, 1);
    rounds.push_back(round);
    index = static_cast<int>(rounds.size()) - 1;
    return round;
}

// Gives every image of the round the polylines of `shown` (restored) and erases those of
// `hidden`; the images' renderings are rebuilt at the next paint.
template <typename Image>
void ShowRoundSide(const UndoRoundData& round, const std::vector<Image*>& images, const PolylineLists& shown,
                   const PolylineLists& hidden) {
    for (size_t i = 0; i < images.size(); ++i) {
        Image* image = images[i];
        if (i < hidden.size()) {
            for (CadEntity* entity : hidden[i]) {
                CadEntityErase(entity, 1);
            }
        }
        if (i < shown.size()) {
            image->SeamlinePolylines = shown[i];
            for (CadEntity* entity : shown[i]) {
                CadEntityErase(entity, 0);
            }
        }
        image->ReleaseDisplayCache();
    }
    // The entity calls above have told the drawing what changed; a regeneration would rebuild
    // every entity's outline and the spatial index for nothing.
    CadUpdate(round.drawing);
    CadWndRedraw(CadGetWindow(round.drawing));
}

template <typename Image>
int UndoRound(std::vector<UndoRoundData*>& rounds, int& index, std::vector<Image*> UndoRoundData::*images) {
    if (index < 0 || index >= static_cast<int>(rounds.size())) {
        return 0;
    }
    const UndoRoundData& round = *rounds[index];
    ShowRoundSide(round, round.*images, round.before, round.after);
    --index;
    return 1;
}

template <typename Image>
int RedoRound(std::vector<UndoRoundData*>& rounds, int& index, std::vector<Image*> UndoRoundData::*images) {
    if (index + 1 >= static_cast<int>(rounds.size())) {
        return 0;
    }
    const UndoRoundData& round = *rounds[index + 1];
    ShowRoundSide(round, round.*images, round.after, round.before);
    ++index;
    return 1;
}

bool LayerHasEntities(CadDrawing* drawing, const char* name) {
    CadLayer* layer = CadGetLayerByName(drawing, name);
    return layer && CadLayerGetFirstEntity(layer) != nullptr;
}

// A layer toggle: disabled when the layer is missing or empty, checked when it is visible.
void UpdateLayerToggle(CadDrawing* drawing, const char* name, kv::CommandUI& ui) {
    CadLayer* layer = CadGetLayerByName(drawing, name);
    if (!layer) {
        ui.enabled = false;
        return;
    }
    ui.enabled = CadLayerGetFirstEntity(layer) != nullptr;
    ui.checked = CadLayerGetVisible(layer) != 0;
}

void ToggleLayer(CadDrawing* drawing, const char* name) {
    CadLayer* layer = CadGetLayerByName(drawing, name);
    if (!layer) {
        return;
    }
    CadLayerPutVisible(layer, CadLayerGetVisible(layer) ? 0 : 1);
    CadUpdate(drawing);
}

// "Edit" and "Edit Seamlines": enabled with two images of the kind, seamlines to edit and no
// active command; checked while the edit runs.
void UpdateEditSeamlines(CadDrawing* drawing, const char* layer, int images, int commandId,
                         kv::CommandUI& ui) {
    if (!LayerHasEntities(drawing, layer)) {
        ui.enabled = false;
        return;
    }
    ui.enabled = images >= 2 && ActiveCadCommandId == 0;
    ui.checked = ActiveCadCommandId == commandId;
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Round stacks

void CKelvaroDoc::PushSeamlineRound(CadDrawing* drawing, const std::vector<COrtho*>& images,
                                    const PolylineLists& before, const PolylineLists& after) {
    PushRound(m_SeamlineRounds, m_nCurrentSeamlineRound, drawing, before, after)->orthos = images;
}

void CKelvaroDoc::PushDemSeamlineRound(CadDrawing* drawing, const std::vector<CDEM*>& images,
                                       const PolylineLists& before, const PolylineLists& after) {
    PushRound(m_DemSeamlineRounds, m_nCurrentDemSeamlineRound, drawing, before, after)->dems = images;
}

// An undone or redone round changes what a save would write, so closing must ask.
int CKelvaroDoc::UndoSeamlineRound() {
    const int done = UndoRound(m_SeamlineRounds, m_nCurrentSeamlineRound, &UndoRoundData::orthos);
    if (done) {
        SetModifiedFlag(1);
    }
    return done;
}

int CKelvaroDoc::RedoSeamlineRound() {
    const int done = RedoRound(m_SeamlineRounds, m_nCurrentSeamlineRound, &UndoRoundData::orthos);
    if (done) {
        SetModifiedFlag(1);
    }
    return done;
}

int CKelvaroDoc::UndoDemSeamlineRound() {
    const int done = UndoRound(m_DemSeamlineRounds, m_nCurrentDemSeamlineRound, &UndoRoundData::dems);
    if (done) {
        SetModifiedFlag(1);
    }
    return done;
}

int CKelvaroDoc::RedoDemSeamlineRound() {
    const int done = RedoRound(m_DemSeamlineRounds, m_nCurrentDemSeamlineRound, &UndoRoundData::dems);
    if (done) {
        SetModifiedFlag(1);
    }
    return done;
}

void CKelvaroDoc::ClearSeamlineRounds() {
    FreeRounds(m_SeamlineRounds, m_nCurrentSeamlineRound);
}

void CKelvaroDoc::ClearDemSeamlineRounds() {
    FreeRounds(m_DemSeamlineRounds, m_nCurrentDemSeamlineRound);
}

// ---------------------------------------------------------------------------------------------
// Ribbon

bool CKelvaroDoc::OnMosaicCommand(int id) {
    switch (id) {
        case ID_MOSAICMERGE_BUILDMOSAIC:
            OnMosaicmergeBuildmosaic();
            return true;
        case ID_MOSAICMERGE_SETUPTILES:
            OnMosaicmergeSetuptiles();
            return true;
        case ID_MOSAICMERGE_IMPORTTILES:
            OnMosaicmergeImporttiles();
            return true;
        case ID_MOSAICMERGE_REMOVEALLTILES:
            OnMosaicmergeRemovealltiles();
            return true;
        case ID_BUTTON_VIEWSEAMLINES:
            OnButtonViewseamlines();
            return true;
        case ID_BUTTON_VIEWTILES:
            OnButtonViewtiles();
            return true;
        case ID_DEMSPLITMERGE_VIEWSEAMLINES:
            OnDemsplitmergeViewseamlines();
            return true;
        default:
            return false;
    }
}

bool CKelvaroDoc::OnUpdateMosaicCommand(kv::CommandUI& ui) {
    switch (ui.id) {
        case ID_MOSAICMERGE_EDITSEAMLINES:
            OnUpdateMosaicmergeEditseamlines(ui);
            return true;
        case ID_MOSAICMERGE_UNDOEDITSEAMLINES:
            OnUpdateMosaicmergeUndoeditseamlines(ui);
            return true;
        case ID_MOSAICMERGE_REDOEDITSEAMLINES:
            OnUpdateMosaicmergeRedoeditseamlines(ui);
            return true;
        case ID_DEMSPLITMERGE_EDITSEAMLINES:
            OnUpdateDemsplitmergeEditseamlines(ui);
            return true;
        case ID_DEMSPLITMERGE_UNDOEDITSEAMLINES:
            OnUpdateDemsplitmergeUndoeditseamlines(ui);
            return true;
        case ID_DEMSPLITMERGE_REDOEDITSEAMLINES:
            OnUpdateDemsplitmergeRedoeditseamlines(ui);
            return true;
        case ID_MOSAICMERGE_BUILDMOSAIC:
            OnUpdateMosaicmergeBuildmosaic(ui);
            return true;
        case ID_MOSAICMERGE_SETUPTILES:
        case ID_MOSAICMERGE_IMPORTTILES:
            // Tools not handed in leave their buttons disabled.
            OnUpdateEnableWhenIdle(ui);
            ui.enabled = ui.enabled && GetDocumentProcedures().Find(ui.id) != nullptr;
            return true;
        case ID_MOSAICMERGE_REMOVEALLTILES:
            OnUpdateMosaicmergeRemovealltiles(ui);
            return true;
        case ID_BUTTON_VIEWSEAMLINES:
            OnUpdateButtonViewseamlines(ui);
            return true;
        case ID_BUTTON_VIEWTILES:
            OnUpdateButtonViewtiles(ui);
            return true;
        case ID_DEMSPLITMERGE_VIEWSEAMLINES:
            OnUpdateDemsplitmergeViewseamlines(ui);
            return true;
        default:
            return false;
    }
}

void CKelvaroDoc::OnUpdateMosaicmergeEditseamlines(kv::CommandUI& ui) {
    UpdateEditSeamlines(m_pCad, kOrthoSeamlineLayer, GetOrthoCount(), CMD_EDITSEAMLINESROUND, ui);
}

void CKelvaroDoc::OnUpdateMosaicmergeUndoeditseamlines(kv::CommandUI& ui) {
    ui.enabled = ActiveCadCommandId == 0 && m_nCurrentSeamlineRound >= 0;
}

void CKelvaroDoc::OnUpdateMosaicmergeRedoeditseamlines(kv::CommandUI& ui) {
    ui.enabled =
        ActiveCadCommandId == 0 && m_nCurrentSeamlineRound < static_cast<int>(m_SeamlineRounds.size()) - 1;
}

void CKelvaroDoc::OnUpdateDemsplitmergeEditseamlines(kv::CommandUI& ui) {
    UpdateEditSeamlines(m_pCad, kDemSeamlineLayer, GetDEMCount(), CMD_EDITDEMSEAMLINESROUND, ui);
}

void CKelvaroDoc::OnUpdateDemsplitmergeUndoeditseamlines(kv::CommandUI& ui) {
    ui.enabled = ActiveCadCommandId == 0 && m_nCurrentDemSeamlineRound >= 0;
}

void CKelvaroDoc::OnUpdateDemsplitmergeRedoeditseamlines(kv::CommandUI& ui) {
    ui.enabled = ActiveCadCommandId == 0 &&
                 m_nCurrentDemSeamlineRound < static_cast<int>(m_DemSeamlineRounds.size()) - 1;
}

void CKelvaroDoc::OnMosaicmergeBuildmosaic() {
    RunDocumentProcedure(ID_MOSAICMERGE_BUILDMOSAIC);
}

void CKelvaroDoc::OnUpdateMosaicmergeBuildmosaic(kv::CommandUI& ui) {
    if (GetOrthoCount() <= 1) {
        ui.enabled = false;
        return;
    }
    ui.enabled = LayerHasEntities(m_pCad, kOrthoSeamlineLayer) && ActiveCadCommandId == 0 &&
                 GetDocumentProcedures().Find(ID_MOSAICMERGE_BUILDMOSAIC) != nullptr;
}

// The tile commands have no guard of their own: their buttons are disabled while a command runs,
// and "Remove All Tiles" may run then.
void CKelvaroDoc::OnMosaicmergeSetuptiles() {
    RunDocumentProcedure(ID_MOSAICMERGE_SETUPTILES, false);
}

void CKelvaroDoc::OnMosaicmergeImporttiles() {
    RunDocumentProcedure(ID_MOSAICMERGE_IMPORTTILES, false);
}

void CKelvaroDoc::OnMosaicmergeRemovealltiles() {
    RunDocumentProcedure(ID_MOSAICMERGE_REMOVEALLTILES, false);
}

void CKelvaroDoc::OnUpdateMosaicmergeRemovealltiles(kv::CommandUI& ui) {
    CadLayer* layer = CadGetLayerByName(m_pCad, kTileLayer);
    ui.enabled = layer && !CadLayerGetDeleted(layer) && CadLayerGetFirstEntity(layer) != nullptr &&
                 GetDocumentProcedures().Find(ID_MOSAICMERGE_REMOVEALLTILES) != nullptr;
}

void CKelvaroDoc::OnButtonViewseamlines() {
    ToggleLayer(m_pCad, kOrthoSeamlineLayer);
}

void CKelvaroDoc::OnUpdateButtonViewseamlines(kv::CommandUI& ui) {
    UpdateLayerToggle(m_pCad, kOrthoSeamlineLayer, ui);
}

void CKelvaroDoc::OnButtonViewtiles() {
    ToggleLayer(m_pCad, kTileLayer);
}

void CKelvaroDoc::OnUpdateButtonViewtiles(kv::CommandUI& ui) {
    UpdateLayerToggle(m_pCad, kTileLayer, ui);
}

void CKelvaroDoc::OnDemsplitmergeViewseamlines() {
    ToggleLayer(m_pCad, kDemSeamlineLayer);
}

void CKelvaroDoc::OnUpdateDemsplitmergeViewseamlines(kv::CommandUI& ui) {
    UpdateLayerToggle(m_pCad, kDemSeamlineLayer, ui);
}
