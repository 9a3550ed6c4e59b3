#include "app/MainFrm.h"

#include <QAbstractEventDispatcher>
#include <QApplication>
#include <QCloseEvent>
#include <QDialogButtonBox>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QListWidget>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenu>
#include <QMimeData>
#include <QPushButton>
#include <QStatusBar>
#include <QStyleFactory>
#include <QTabBar>
#include <QVBoxLayout>

#include "app/AboutDlg.h"
#include "app/AppIcons.h"
#include "app/FrameworkSettings.h"
#include "app/KelvaroApp.h"
#include "app/OutputWnd.h"
#include "app/ProgramVersion.h"
#include "app/Ribbon.h"
#include "app/UserDataDlg.h"
#include "app/VisualLook.h"
#include "document/KelvaroDoc.h"
#include "platform/changelog/ChangeLog.h"
#include "platform/tools/MakerInfo.h"
#include "platform/tools/ZQT.h"
#include "platform/ui/CloseGuard.h"
#include "platform/ui/Interaction.h"
#include "platform/ui/KvDialog.h"
#include "platform/ui/MainWindowService.h"

namespace {

const char* const kLookSection = "Settings";
const char* const kLookEntry = "ApplicationLook";
constexpr int kDefaultLook = ID_VIEW_APPLOOK_VS_2008;
// Status-bar texts: the message pane and the maker's pane, each also the pane's width.
const char* const kStatusText = "Kelvaro - Zirozadarazivad - No value             .";
const char* const kMakerPaneText = "Drovane Software                ";

bool IsProjectFile(const QUrl& url) {
    return url.isLocalFile() && QFileInfo(url.toLocalFile()).isFile();
}

// The framework's window list: activates or closes the chosen project windows.
class CWindowsDlg : public KvDialog {
public:
    explicit CWindowsDlg(QMdiArea* area, QWidget* parent) : KvDialog(parent), m_area(area) {
        setWindowTitle(QStringLiteral("Windows"));
        auto* layout = new QHBoxLayout(this);
        m_list = new QListWidget(this);
        m_list->setSelectionMode(QAbstractItemView::ExtendedSelection);
        layout->addWidget(m_list, 1);
        auto* buttons = new QVBoxLayout();
        auto* activate = new QPushButton(QStringLiteral("&Activate"), this);
        auto* close = new QPushButton(QStringLiteral("&Close Window(s)"), this);
        auto* ok = new QPushButton(QStringLiteral("OK"), this);
        buttons->addWidget(activate);
        buttons->addWidget(close);
        buttons->addStretch(1);
        buttons->addWidget(ok);
        layout->addLayout(buttons);
        connect(activate, &QPushButton::clicked, this, [this] {
            if (QListWidgetItem* item = m_list->currentItem()) {
                m_area->setActiveSubWindow(m_area->subWindowList().value(m_list->row(item)));
            }
            EndDialog(IDOK);
        });
        connect(close, &QPushButton::clicked, this, [this] {
            QList<QMdiSubWindow*> windows = m_area->subWindowList();
            for (QListWidgetItem* item : m_list->selectedItems()) {
                if (QMdiSubWindow* w = windows.value(m_list->row(item))) {
                    w->close();
                }
            }
            Fill();
        });
        connect(ok, &QPushButton::clicked, this, [this] { EndDialog(IDOK); });
        connect(m_list, &QListWidget::itemDoubleClicked, activate, &QPushButton::click);
        Fill();
    }

private:
    void Fill() {
        m_list->clear();
        for (QMdiSubWindow* w : m_area->subWindowList()) {
            m_list->addItem(w->windowTitle().remove(QStringLiteral("[*]")));
        }
    }

    QMdiArea* m_area;
    QListWidget* m_list;
};

}  // namespace

// What lower layers reach of the frame.
class CMainFrame::Service : public kv::MainWindowService {
public:
    explicit Service(CMainFrame* frame) : m_frame(frame) {}

    void SetStatusText(const QString& text) override { m_frame->SetStatusText(text); }
    int OpacitySliderPos() const override {
        return m_frame->m_pSliderOrthoOpacity ? m_frame->m_pSliderOrthoOpacity->GetPos() : -1;
    }
    void SetOpacitySliderPos(int pos) override {
        if (m_frame->m_pSliderOrthoOpacity) {
            m_frame->m_pSliderOrthoOpacity->SetPos(pos);
        }
    }
    QWidget* MainWindow() const override { return m_frame; }
    void UpdateCommandUI() override { m_frame->UpdateCommandUI(); }
    void ProjectClosed() override {
        m_frame->SetStatusText(QString::fromLatin1(kStatusText));
        if (m_frame->m_wndOutput) {
            m_frame->m_wndOutput->ClearCommandLine();
        }
    }

private:
    CMainFrame* m_frame;
};

CMainFrame::CMainFrame() {
    m_nAppLook =
        KvGetProfileInt(QString::fromLatin1(kLookSection), QString::fromLatin1(kLookEntry), kDefaultLook);
    if (CKelvaroApp* app = CKelvaroApp::Instance()) {
        app->m_nAppLook = m_nAppLook;
    }
    setObjectName(QStringLiteral("MainFrame"));
    setWindowIcon(KvAppIcon(QStringLiteral("kelvaro")));
    m_startupTimer.setSingleShot(true);
    m_startupTimer.setInterval(500);
    connect(&m_startupTimer, &QTimer::timeout, this, &CMainFrame::OnStartupTimer);
}

CMainFrame::~CMainFrame() {
    // Project windows still open go with the project area, after this frame's members: their
    // activation changes must not reach the frame any more.
    if (m_mdiArea) {
        disconnect(m_mdiArea, nullptr, this, nullptr);
    }
    if (kv::GetMainWindowService() == m_service.get()) {
        kv::SetMainWindowService(nullptr);
    }
    if (kv::DialogParent() == this) {
        kv::SetDialogParent(nullptr);
    }
}

int CMainFrame::LoadFrame() {
    // Project windows as tabs, closable, without icons.
    m_mdiArea = new QMdiArea(this);
    m_mdiArea->setViewMode(QMdiArea::TabbedView);
    m_mdiArea->setTabsClosable(true);
    m_mdiArea->setTabsMovable(true);
    m_mdiArea->setDocumentMode(true);
    setCentralWidget(m_mdiArea);
    connect(m_mdiArea, &QMdiArea::subWindowActivated, this, &CMainFrame::OnSubWindowActivated);
    if (auto* tabs = m_mdiArea->findChild<QTabBar*>()) {
        // The document menu of the tab row: the open windows and the window list.
        tabs->setContextMenuPolicy(Qt::CustomContextMenu);
        connect(tabs, &QTabBar::customContextMenuRequested, this, [this, tabs](const QPoint& at) {
            QMenu menu(this);
            for (QMdiSubWindow* w : m_mdiArea->subWindowList()) {
                menu.addAction(w->windowTitle().remove(QStringLiteral("[*]")), this,
                               [this, w] { m_mdiArea->setActiveSubWindow(w); });
            }
            menu.addSeparator();
            menu.addAction(QStringLiteral("&Windows..."), this, [this] { OnCmdMsg(ID_WINDOW_MANAGER); });
            menu.exec(tabs->mapToGlobal(at));
        });
    }

    // The ribbon, from its definition; then the panel and buttons the program does not offer.
    m_wndRibbonBar = new CRibbonBar(this);
    QFile definition(QStringLiteral(":/kelvaro/ribbon.json"));
    QString error;
    if (!definition.open(QIODevice::ReadOnly) ||
        !m_wndRibbonBar->LoadFromDefinition(definition.readAll(), &error)) {
        return 0;
    }
    setMenuWidget(m_wndRibbonBar);
    connect(m_wndRibbonBar, &CRibbonBar::CommandInvoked, this, [this](int id) {
        OnCmdMsg(id);
        UpdateCommandUI();
    });
    if (CRibbonCategory* main = GetRibbonCategory(QStringLiteral("Main"))) {
        for (int i = main->GetPanelCount() - 1; i >= 0; --i) {
            if (main->GetPanel(i)->GetName() == QLatin1String("Utility_debug")) {
                main->RemovePanel(i);
            }
        }
        for (int i = 0; i < main->GetPanelCount(); ++i) {
            CRibbonPanel* panel = main->GetPanel(i);
            if (panel->GetName() != QLatin1String("DEM Tools")) {
                continue;
            }
            for (int k = panel->GetCount() - 1; k >= 0; --k) {
                int id = panel->GetElement(k)->GetID();
                if (id == ID_CUT_CUTSECTION || id == ID_CUT_ROT) {
                    panel->Remove(k);
                }
            }
        }
    }

    // Status bar: the message pane and the maker's pane, each as wide as its first text.
    for (int i = 0; i < 2; ++i) {
        m_statusPanes[i] = new QLabel(QString::fromLatin1(i == 0 ? kStatusText : kMakerPaneText), this);
        m_statusPanes[i]->setMinimumWidth(
            m_statusPanes[i]->fontMetrics().horizontalAdvance(m_statusPanes[i]->text()) + 8);
    }
    statusBar()->addWidget(m_statusPanes[0], 1);
    statusBar()->addPermanentWidget(m_statusPanes[1]);

    setDockOptions(QMainWindow::AnimatedDocks | QMainWindow::AllowTabbedDocks);
    m_wndOutput = new COutputWnd(QStringLiteral("Output"), this);
    m_wndOutput->resize(100, 100);
    addDockWidget(Qt::BottomDockWidgetArea, m_wndOutput);
    resizeDocks({m_wndOutput}, {130}, Qt::Vertical);

    OnApplicationLook(m_nAppLook);

    if (auto* slider = dynamic_cast<CRibbonSlider*>(FindRibbonElement())) {
        m_pSliderOrthoOpacity = slider;
    }

    m_strTitle =
        QStringLiteral("Kelvaro %1 - " KV_MAKER_NAME " - " KV_MAKER_WEB_ADDRESS).arg(KvGetCutVersion());
    setWindowTitle(m_strTitle);
    setAcceptDrops(true);

    m_service = std::make_unique<Service>(this);
    if (m_pSliderOrthoOpacity) {
        connect(m_pSliderOrthoOpacity, &CRibbonSlider::PosChanged, m_service.get(),
                &kv::MainWindowService::OpacitySliderChanged);
    }
    kv::SetMainWindowService(m_service.get());
    kv::SetDialogParent(this);
    // The update handlers run whenever the program is about to wait for input.
    if (QAbstractEventDispatcher* dispatcher = QAbstractEventDispatcher::instance()) {
        connect(dispatcher, &QAbstractEventDispatcher::aboutToBlock, this, &CMainFrame::OnIdle);
    }
    UpdateCommandUI();
    return 1;
}

void CMainFrame::StartStartupStep() {
    m_startupTimer.start();
}

void CMainFrame::SetStatusText(const QString& text) {
    if (m_statusPanes[0]) {
        m_statusPanes[0]->setText(text);
        statusBar()->update();
    }
}

QLabel* CMainFrame::GetStatusPane(int index) const {
    return index >= 0 && index < 2 ? m_statusPanes[index] : nullptr;
}

CRibbonBaseElement* CMainFrame::FindRibbonElement(int id) const {
    return m_wndRibbonBar ? m_wndRibbonBar->FindByID(id) : nullptr;
}

CRibbonCategory* CMainFrame::GetRibbonCategory(const QString& name) const {
    if (!m_wndRibbonBar) {
        return nullptr;
    }
    for (int i = 0; i < m_wndRibbonBar->GetCategoryCount(); ++i) {
        if (m_wndRibbonBar->GetCategory(i)->GetName() == name) {
            return m_wndRibbonBar->GetCategory(i);
        }
    }
    return nullptr;
}

bool CMainFrame::OnCmdMsg(int id) {
    if (kv::CommandTarget* target = kv::GetCommandTarget(); target && target->OnCommand(id)) {
        return true;
    }
    if (OnFrameCommand(id)) {
        return true;
    }
    CKelvaroApp* app = CKelvaroApp::Instance();
    return app && app->OnCommand(id);
}

void CMainFrame::QueryCommandUI(kv::CommandUI& ui) {
    kv::CommandUI answer = ui;
    if (kv::CommandTarget* target = kv::GetCommandTarget(); target && target->OnUpdateCommand(answer)) {
        ui = answer;
        return;
    }
    answer = ui;
    if (OnUpdateFrameCommand(answer)) {
        ui = answer;
        return;
    }
    answer = ui;
    if (CKelvaroApp* app = CKelvaroApp::Instance(); app && app->OnUpdateCommand(answer)) {
        ui = answer;
        return;
    }
    // Nobody handles the command: its element is disabled.
    ui.enabled = false;
    ui.checked = false;
}

void CMainFrame::UpdateCommandUI() {
    if (m_wndRibbonBar) {
        m_wndRibbonBar->UpdateCommandStates([this](kv::CommandUI& ui) { QueryCommandUI(ui); });
    }
}

bool CMainFrame::OnFrameCommand(int id) {
    if (id >= ID_VIEW_APPLOOK_WIN_2000 && id <= ID_VIEW_APPLOOK_WINDOWS_7) {
        OnApplicationLook(id);
        return true;
    }
    switch (id) {
        case ID_WINDOW_MANAGER:
            OnWindowManager();
            return true;
        case ID_BUTTON_USERDATA:
            OnButtonUserdata();
            return true;
        case ID_BUTTON_ABOUT:
            OnButtonAbout();
            return true;
        case ID_BUTTON_TUTORIAL:
            OnButtonTutorial();
            return true;
        case ID_BUTTON_COMMANDLINE:
            OnButtonCommandline();
            return true;
        case ID_BUTTON_FEEDBACK:
            OnButtonFeedback();
            return true;
        case ID_HELP_CHANGELOG:
            OnHelpChangelog();
            return true;
        default:
            return false;
    }
}

bool CMainFrame::OnUpdateFrameCommand(kv::CommandUI& ui) {
    if (ui.id >= ID_VIEW_APPLOOK_WIN_2000 && ui.id <= ID_VIEW_APPLOOK_WINDOWS_7) {
        ui.checked = ui.id == m_nAppLook;
        return true;
    }
    switch (ui.id) {
        case ID_WINDOW_MANAGER:
        case ID_BUTTON_USERDATA:
        case ID_BUTTON_ABOUT:
        case ID_BUTTON_TUTORIAL:
        case ID_BUTTON_COMMANDLINE:
        case ID_BUTTON_FEEDBACK:
        case ID_HELP_CHANGELOG:
            return true;
        default:
            return false;
    }
}

void CMainFrame::OnApplicationLook(int id) {
    QApplication::setOverrideCursor(Qt::WaitCursor);
    m_nAppLook = id;
    if (CKelvaroApp* app = CKelvaroApp::Instance()) {
        app->m_nAppLook = id;
    }
    CVisualLook look = KvVisualLook(id);
    if (QApplication::style()->name().compare(QLatin1String("fusion"), Qt::CaseInsensitive) != 0) {
        QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
    }
    QApplication::setPalette(look.palette);
    if (m_wndRibbonBar) {
        m_wndRibbonBar->SetLook(look);
    }
    if (m_mdiArea) {
        m_mdiArea->setBackground(look.frame.darker(115));
    }
    update();
    KvWriteProfileInt(QString::fromLatin1(kLookSection), QString::fromLatin1(kLookEntry), id);
    QApplication::restoreOverrideCursor();
}

void CMainFrame::OnButtonUserdata() {
    CUserDataDlg dlg(this);
    dlg.SetValues(ReadUserDataProfile());
    dlg.DoModal();
}

void CMainFrame::OnButtonAbout() {
    CAboutDlg dlg(this);
    dlg.DoModal();
}

void CMainFrame::OnButtonTutorial() {
    QString path =
        QDir(QCoreApplication::applicationDirPath()).filePath(QStringLiteral("tutorial/Kelvaro_IT.pdf"));
    if (QFileInfo::exists(path)) {
        ZQT_ShellExecute(QStringLiteral("open"), path, QString(), 3);
        return;
    }
    KvMessageBox(
        QStringLiteral("Unable to find the tutorial. Please contact Drovane Software (" KV_MAKER_SUPPORT_EMAIL
                       ")"),
        MB_OK | MB_ICONEXCLAMATION);
}

void CMainFrame::OnButtonCommandline() {
    if (!m_wndOutput) {
        return;
    }
    if (m_wndOutput->isHidden()) {
        m_wndOutput->show();
        m_wndOutput->raise();
        m_wndOutput->activateWindow();
    } else {
        m_wndOutput->hide();
    }
}

void CMainFrame::OnButtonFeedback() {
    ZQT_ShellExecute(QStringLiteral("open"), QStringLiteral(KV_MAKER_FEEDBACK_URL), QString(), 3);
}

void CMainFrame::OnHelpChangelog() {
    RSSCL_ShowChangeLogDlg();
}

void CMainFrame::OnWindowManager() {
    CWindowsDlg dlg(m_mdiArea, this);
    dlg.DoModal();
}

void CMainFrame::OnStartupTimer() {
    m_startupTimer.stop();
    if (CKelvaroApp* app = CKelvaroApp::Instance()) {
        app->OnStartupStep();
    }
}

void CMainFrame::OnSubWindowActivated(QMdiSubWindow*) {
    UpdateFrameTitle();
}

void CMainFrame::UpdateFrameTitle() {
    // The current window stays current while a dialog or another program is active.
    QMdiSubWindow* window = m_mdiArea ? m_mdiArea->currentSubWindow() : nullptr;
    QString document = window ? window->windowTitle().remove(QStringLiteral("[*]")) : QString();
    const QString title = document.isEmpty() ? m_strTitle : document + QStringLiteral(" - ") + m_strTitle;
    if (windowTitle() != title) {
        setWindowTitle(title);
    }
}

void CMainFrame::OnIdle() {
    // A project shows as modified as soon as its drawing or one of its DEMs changed.
    for (CKelvaroDoc* doc : CKelvaroDoc::GetOpenDocuments()) {
        doc->MarkModifiedIfEdited();
    }
    UpdateFrameTitle();
    UpdateCommandUI();
}

void CMainFrame::closeEvent(QCloseEvent* event) {
    if (kv::RefuseCloseWhileBusy()) {
        event->ignore();
        return;
    }
    CKelvaroApp* app = CKelvaroApp::Instance();
    if (CProjectTemplate* projects = app ? app->GetProjectTemplate() : nullptr) {
        if (!projects->SaveAllModified()) {
            event->ignore();
            return;
        }
        projects->CloseAllDocuments();
    }
    event->accept();
}

void CMainFrame::dragEnterEvent(QDragEnterEvent* event) {
    const QList<QUrl> urls = event->mimeData()->urls();
    if (std::any_of(urls.begin(), urls.end(), IsProjectFile)) {
        event->acceptProposedAction();
    }
}

void CMainFrame::dropEvent(QDropEvent* event) {
    CKelvaroApp* app = CKelvaroApp::Instance();
    const QList<QUrl> urls = event->mimeData()->urls();
    event->acceptProposedAction();
    activateWindow();
    for (const QUrl& url : urls) {
        if (app && IsProjectFile(url)) {
            app->OpenDocumentFile(url.toLocalFile());
        }
    }
}
