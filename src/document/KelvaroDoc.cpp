#include "document/KelvaroDoc.h"

#include <QFileInfo>
#include <QRect>
#include <QWidget>

#include <cmath>
#include <exception>
#include <new>

#include "document/CadCalls.h"
#include "document/DocView.h"
#include "document/LayerFiles.h"
#include "document/MapToolWindows.h"
#include "document/UserCommands.h"
#include "platform/cad/Cad.h"
#include "platform/tools/BusyScope.h"
#include "platform/tools/ZQT.h"
#include "platform/ui/ActiveCommand.h"
#include "platform/ui/CloseGuard.h"
#include "platform/ui/CommandIds.h"
#include "platform/ui/Interaction.h"
#include "raster/DEM.h"
#include "raster/MapData.h"
#include "raster/Ortho.h"

namespace {

CadEventInstaller g_eventInstaller = nullptr;
MapToolWindowMaker g_mapToolWindowMaker = nullptr;

QList<CKelvaroDoc*>& OpenDocuments() {
    static QList<CKelvaroDoc*> documents;
    return documents;
}

enum UpdateRule {
    NeedsDem,
    NeedsDemIdle,
    NeedsTwoDemsIdle,
    CheckOnly,
    Idle,
    TwoDemsIdleUnchecked,
    OwnRule,
    NoRule
};

struct Starter {
    int ribbonId;
    void (CKelvaroDoc::*handler)();
    int commandId;
    UpdateRule rule;
};

#define KV_STARTER_ROW(ribbonId, handler, commandId, guarded, rule) \
    {ribbonId, &CKelvaroDoc::handler, commandId, rule},
const Starter kStarters[] = {KV_DOC_STARTERS(KV_STARTER_ROW)};
#undef KV_STARTER_ROW

const Starter* FindStarter(int ribbonId) {
    for (const Starter& s : kStarters) {
        if (s.ribbonId == ribbonId) {
            return &s;
        }
    }
    return nullptr;
}

struct MenuEntry {
    const char* text;
    int command;
};

// The engine's context menus: with nothing selected, with a selection, inside a command.
const MenuEntry kDefaultMenu[] = {{"*REPEAT*", CAD_CMD_REPEAT},
                                  {"-", 0},
                                  {"Zoom Extents", CAD_CMD_ZOOM_EXTENTS},
                                  {"Zoom Window", CAD_CMD_ZOOM_WINDOW},
                                  {"Zoom Previous", CAD_CMD_ZOOM_PREVIOUS},
                                  {"-", 0},
                                  {"Properties...", CAD_CMD_PROPERTIES}};
const MenuEntry kSelectionMenu[] = {{"Unselect All", CAD_CMD_UNSELECT_ALL},
                                    {"-", 0},
                                    {"Erase", CAD_CMD_ERASE},
                                    {"-", 0},
                                    {"Properties...", CAD_CMD_PROPERTIES}};
const MenuEntry kCommandMenu[] = {{"Enter", CAD_CMD_ENTER},
                                  {"Enter Closed", CAD_CMD_ENTER_CLOSED},
                                  {"-", 0},
                                  {"Undo", CAD_CMD_UNDO_VERTEX},
                                  {"-", 0},
                                  {"Cancel", CAD_CMD_CANCEL}};

template <size_t N>
void FillMenu(int menu, const MenuEntry (&entries)[N]) {
    kv::DocMenuClear(menu);
    for (const MenuEntry& e : entries) {
        kv::DocMenuAdd(menu, e.text, e.command);
    }
}

}  // namespace

void SetCadEventInstaller(CadEventInstaller installer) {
    g_eventInstaller = installer;
}

CadEventInstaller GetCadEventInstaller() {
    return g_eventInstaller;
}

void SetMapToolWindowMaker(MapToolWindowMaker maker) {
    g_mapToolWindowMaker = maker;
}

MapToolWindowMaker GetMapToolWindowMaker() {
    return g_mapToolWindowMaker;
}

CKelvaroDoc::CKelvaroDoc()
    : m_demUndo([this](uint64_t serial) -> CDEM* {
          for (const auto& entry : m_DEMs) {
              if (entry.second->m_serial == serial) {
                  return entry.second;
              }
          }
          return nullptr;
      }) {
    m_pCad = CadCreate();
    if (g_eventInstaller) {
        g_eventInstaller();
    }
    RegisterUserCommands(m_pCad);
    FillContextMenus();
    if (g_mapToolWindowMaker) {
        m_pMapRepresentationDlg = g_mapToolWindowMaker(MapToolWindowKind::MapRepresentation);
        m_pColorClassificationDlg = g_mapToolWindowMaker(MapToolWindowKind::ColorClassification);
    }
    OpenDocuments().append(this);
}

CKelvaroDoc::~CKelvaroDoc() {
    OpenDocuments().removeAll(this);
    if (kv::GetCommandTarget() == this) {
        kv::SetCommandTarget(nullptr);
    }
    RemoveAllDEMs();
    RemoveAllOrthos();
    RemoveAllMaps();
    delete m_pMapRepresentationDlg;
    m_pMapRepresentationDlg = nullptr;
    delete m_pColorClassificationDlg;
    m_pColorClassificationDlg = nullptr;
    m_ColorLegend.release();
    // The rounds let their polylines go while the drawing still exists.
    ClearSeamlineRounds();
    ClearDemSeamlineRounds();
    CadDelete(m_pCad);
    m_pCad = nullptr;
    m_Tiles.clear();
}

const QList<CKelvaroDoc*>& CKelvaroDoc::GetOpenDocuments() {
    return OpenDocuments();
}

void CKelvaroDoc::FillContextMenus() {
    FillMenu(CAD_MENU_DEFAULT, kDefaultMenu);
    FillMenu(CAD_MENU_SELECTION, kSelectionMenu);
    FillMenu(CAD_MENU_COMMAND, kCommandMenu);
}

// ---------------------------------------------------------------------------------------------
// New, open, save, close

int CKelvaroDoc::OnNewDocument() {
    SetModifiedFlag(0);
    if (kv::MainWindowService* main = kv::GetMainWindowService()) {
        main->SetOpacitySliderPos(static_cast<int>(std::lround(m_dOrthoOpacity * 100.0)));
    }
    return 1;
}

void CKelvaroDoc::OnCloseDocument() {
    QWidget* window = CadGetWindow(m_pCad);
    if (ActiveCadCommandId != 0) {
        kv::DocCmdFinish(m_pCad);
    }
    kv::DocExecute(m_pCad, window, CAD_CMD_UNSELECT_ALL);
    kv::DocCmdFinish(m_pCad);
    StoreAndCloseLayersOrderWindow();
    // The project windows go once control is back in the event loop (one of them may be closing
    // right now); the document goes at once, so nothing finds it any more.
    OpenDocuments().removeAll(this);
    for (CView* view : m_views) {
        if (QWidget* frame = view->GetParentFrame()) {
            frame->hide();
            frame->deleteLater();
        }
    }
    // Its readout and its command line's lines go with it.
    if (kv::MainWindowService* main = kv::GetMainWindowService()) {
        main->ProjectClosed();
    }
    delete this;
}

int CKelvaroDoc::SaveModified() {
    if (!IsModified()) {
        return 1;
    }
    QString name = m_strPathName.isEmpty() ? m_strTitle : m_strPathName;
    switch (
        KvMessageBox(QStringLiteral("Save changes to %1?").arg(name), MB_YESNOCANCEL | MB_ICONEXCLAMATION)) {
        case IDCANCEL:
            return 0;
        case IDYES:
            return DoFileSave();
        default:
            return 1;
    }
}

int CKelvaroDoc::CanCloseFrame(QWidget*) {
    return SaveModified();
}

int CKelvaroDoc::DoFileSave() {
    return DoSave(m_strPathName);
}

int CKelvaroDoc::DoSave(const QString& path) {
    QString target = path;
    if (target.isEmpty()) {
        QString suggestion = m_strPathName.isEmpty() ? m_strTitle + QStringLiteral(".kvp") : m_strPathName;
        target = ChooseOutputFile(QStringLiteral("Kelvaro Files (*.kvp);;All Files (*)"), QString(), {},
                                  suggestion);
        if (target.isEmpty()) {
            return 0;
        }
    }
    if (!OnSaveDocument(target)) {
        return 0;
    }
    SetPathName(target);
    SetModifiedFlag(0);
    return 1;
}

void CKelvaroDoc::MarkModifiedIfEdited() {
    bool edited = CadGetDirty(m_pCad) != 0;
    for (const auto& entry : m_DEMs) {
        edited = edited || entry.second->m_modified != 0;
    }
    if (edited) {
        SetModifiedFlag(1);
    }
}

void CKelvaroDoc::SetModifiedFlag(int modified) {
    int value = modified ? 1 : 0;
    if (value != m_bModified) {
        m_bModified = value;
        emit TitleChanged();
    }
}

void CKelvaroDoc::SetPathName(const QString& path) {
    m_strPathName = path;
    SetTitle(QFileInfo(path).fileName());
}

void CKelvaroDoc::SetTitle(const QString& title) {
    m_strTitle = title;
    emit TitleChanged();
}

void CKelvaroDoc::AddView(CView* view) {
    if (view && !m_views.contains(view)) {
        m_views.append(view);
    }
}

void CKelvaroDoc::RemoveView(CView* view) {
    m_views.removeAll(view);
}

CView* CKelvaroDoc::GetFirstView() const {
    return m_views.isEmpty() ? nullptr : m_views.first();
}

// ---------------------------------------------------------------------------------------------
// Commands

bool CKelvaroDoc::OnCommand(int id) {
    switch (id) {
        case ID_FILE_SAVE:
            OnFileSave();
            return true;
        case ID_FILE_SAVE_AS:
            OnFileSaveAs();
            return true;
        case ID_FILE_CLOSE:
            OnFileClose();
            return true;
        case ID_BUTTON_DEMUNDO:
            OnButtonDemundo();
            return true;
        case ID_BUTTON_DEMREDO:
            OnButtonDemredo();
            return true;
        case ID_BUTTON_IMPORTDRAWING:
            OnButtonImportdrawing();
            return true;
        case ID_BUTTON_EXPORTDRAWING:
            OnButtonExportdrawing();
            return true;
        case ID_BUTTON_BUILDSEAMLINES:
            OnButtonBuildseamlines();
            return true;
        case ID_DEMSPLITMERGE_BUILDSEAMLINES:
            OnDemsplitmergeBuildseamlines();
            return true;
        default:
            break;
    }
    if (OnMosaicCommand(id)) {
        return true;
    }
    if (const Starter* starter = FindStarter(id)) {
        (this->*starter->handler)();
        return true;
    }
    return OnDrawingCommand(id);
}

bool CKelvaroDoc::OnUpdateCommand(kv::CommandUI& ui) {
    switch (ui.id) {
        case ID_FILE_SAVE:
        case ID_FILE_SAVE_AS:
        case ID_FILE_CLOSE:
        case ID_BUTTON_IMPORTDRAWING:
        case ID_BUTTON_EXPORTDRAWING:
            return true;
        case ID_BUTTON_DEMUNDO:
            OnUpdateButtonDemundo(ui);
            return true;
        case ID_BUTTON_DEMREDO:
            OnUpdateButtonDemredo(ui);
            return true;
        case ID_BUTTON_BUILDSEAMLINES:
            OnUpdateButtonBuildseamlines(ui);
            return true;
        case ID_DEMSPLITMERGE_BUILDSEAMLINES:
            OnUpdateDemsplitmergeBuildseamlines(ui);
            return true;
        default:
            break;
    }
    if (OnUpdateMosaicCommand(ui)) {
        return true;
    }
    const Starter* starter = FindStarter(ui.id);
    if (!starter) {
        return OnUpdateDrawingCommand(ui);
    }
    const bool idle = ActiveCadCommandId == 0;
    const bool running = ActiveCadCommandId == starter->commandId;
    const int dems = GetDEMCount();
    switch (starter->rule) {
        case NeedsDem:
            ui.enabled = dems >= 1;
            ui.checked = running;
            break;
        case NeedsDemIdle:
            ui.enabled = dems >= 1 && idle;
            ui.checked = running;
            break;
        case NeedsTwoDemsIdle:
            ui.enabled = dems >= 2 && idle;
            ui.checked = running;
            break;
        case CheckOnly:
            ui.checked = running;
            break;
        case Idle:
            OnUpdateEnableWhenIdle(ui);
            break;
        case TwoDemsIdleUnchecked:
            ui.enabled = dems >= 2 && idle;
            break;
        case OwnRule:
        case NoRule:
            break;
    }
    return true;
}

void CKelvaroDoc::RunDocumentProcedure(int ribbonId, bool guarded) {
    if (guarded && ActiveCadCommandId != 0) {
        KvMessageBox(QStringLiteral("Close active command before"), MB_OK | MB_ICONINFORMATION);
        return;
    }
    const DocumentProcedure procedure = GetDocumentProcedures().Find(ribbonId);
    if (!procedure) {
        return;
    }
    kv::BusyScope busy;
    try {
        procedure(*this);
    } catch (const std::bad_alloc&) {
        KvMessageBox(QStringLiteral("Not enough memory"), MB_OK | MB_ICONERROR);
    } catch (const std::exception& e) {
        KvMessageBox(QString::fromUtf8(e.what()), MB_OK | MB_ICONERROR);
    }
}

void CKelvaroDoc::OnButtonBuildseamlines() {
    RunDocumentProcedure(ID_BUTTON_BUILDSEAMLINES);
}

void CKelvaroDoc::OnUpdateButtonBuildseamlines(kv::CommandUI& ui) {
    ui.enabled = GetOrthoCount() >= 2 && ActiveCadCommandId == 0 &&
                 GetDocumentProcedures().Find(ID_BUTTON_BUILDSEAMLINES) != nullptr;
}

void CKelvaroDoc::OnDemsplitmergeBuildseamlines() {
    RunDocumentProcedure(ID_DEMSPLITMERGE_BUILDSEAMLINES);
}

void CKelvaroDoc::OnUpdateDemsplitmergeBuildseamlines(kv::CommandUI& ui) {
    ui.enabled = GetDEMCount() >= 2 && ActiveCadCommandId == 0 &&
                 GetDocumentProcedures().Find(ID_DEMSPLITMERGE_BUILDSEAMLINES) != nullptr;
}

void CKelvaroDoc::OnUpdateEnableWhenIdle(kv::CommandUI& ui) {
    ui.enabled = ActiveCadCommandId == 0;
}

void CKelvaroDoc::OnFileSave() {
    DoFileSave();
}

void CKelvaroDoc::OnFileSaveAs() {
    DoSave(QString());
}

void CKelvaroDoc::OnFileClose() {
    if (kv::RefuseCloseWhileBusy()) {
        return;
    }
    MarkModifiedIfEdited();
    if (!SaveModified()) {
        return;
    }
    OnCloseDocument();
}

void CKelvaroDoc::StartUserCommand(int commandId, bool guarded) {
    if (guarded && ActiveCadCommandId != 0) {
        KvMessageBox(QStringLiteral("Close active command before"), MB_OK | MB_ICONINFORMATION);
        return;
    }
    QWidget* window = CadGetWindow(m_pCad);
    kv::DocExecute(m_pCad, window, CAD_CMD_UNSELECT_ALL);
    kv::DocCmdFinish(m_pCad);
    kv::DocExecute(m_pCad, window, commandId);
}

#define KV_DEFINE_STARTER(ribbonId, handler, commandId, guarded, rule) \
    void CKelvaroDoc::handler() {                                      \
        StartUserCommand(commandId, guarded);                          \
    }
KV_DOC_STARTERS(KV_DEFINE_STARTER)
#undef KV_DEFINE_STARTER

// ---------------------------------------------------------------------------------------------
// Lookups of the command procedures

CKelvaroDoc* FindDocByCad(CadDrawing* drawing) {
    if (!drawing) {
        return nullptr;
    }
    for (CKelvaroDoc* doc : OpenDocuments()) {
        if (doc->m_pCad == drawing) {
            return doc;
        }
    }
    return nullptr;
}

void SetDocCommandPrompt(CadDrawing* drawing, const QString& text) {
    if (CKelvaroDoc* doc = FindDocByCad(drawing)) {
        doc->m_strCommandPrompt = text;
    }
}

QString FailureLine(const QString& what, const QString& cause) {
    return cause.isEmpty() ? what : what + QStringLiteral(": ") + cause;
}

void PrintFailure(CadDrawing* drawing, const QString& what, const QString& cause) {
    CadCmdPrint(drawing, FailureLine(what, cause).toUtf8().constData());
}
