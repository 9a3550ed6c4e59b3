// The history of DEM edits: the rounds that the edit commands push, and the Undo and Redo
// commands that replay them.
#include <QCoreApplication>

#include "controls/SingleProgressDlg.h"
#include "document/KelvaroDoc.h"
#include "platform/ui/CloseGuard.h"

namespace {

// The framework's idle pass, so that the Undo and Redo buttons show the new state.
void RefreshCommandUI() {
    if (kv::MainWindowService* main = kv::GetMainWindowService()) {
        main->UpdateCommandUI();
    }
}

}  // namespace

void CKelvaroDoc::PushDemUndoRound(DemUndoRound round) {
    m_demUndo.Push(round);
    m_nCurrentDemUndoRound = m_demUndo.CurrentIndex();
    RefreshCommandUI();
}

void CKelvaroDoc::ReplayDemUndo(bool undo) {
    // A round replayed under a running command or worker would change the grid beneath it.
    if (kv::IsCloseRefused() || !(undo ? m_demUndo.CanUndo() : m_demUndo.CanRedo())) {
        return;
    }
    CSingleProgressDlg progress;
    progress.Create();
    progress.SetCaption(undo ? QStringLiteral("Undo...") : QStringLiteral("Redo..."));
    progress.show();
    if (undo) {
        m_demUndo.Undo(&progress);
    } else {
        m_demUndo.Redo(&progress);
    }
    m_nCurrentDemUndoRound = m_demUndo.CurrentIndex();
    progress.hide();
    RefreshCommandUI();
}

void CKelvaroDoc::OnButtonDemundo() {
    ReplayDemUndo(true);
}

void CKelvaroDoc::OnButtonDemredo() {
    ReplayDemUndo(false);
}

void CKelvaroDoc::OnUpdateButtonDemundo(kv::CommandUI& ui) {
    ui.enabled = m_demUndo.CanUndo() && !kv::IsCloseRefused();
}

void CKelvaroDoc::OnUpdateButtonDemredo(kv::CommandUI& ui) {
    ui.enabled = m_demUndo.CanRedo() && !kv::IsCloseRefused();
}
