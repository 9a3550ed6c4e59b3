// The main window: the ribbon, the project windows as tabs, the dockable "Output" pane with the
// CAD command line, and the status bar. It owns the visual style, the help commands and the
// close guard, and routes every command of the ribbon: first to the active project (the command
// target of MainWindowService.h), then to its own handlers, then to the application's.
#pragma once

#include <QMainWindow>
#include <QString>
#include <QTimer>
#include <memory>

#include "platform/ui/CommandIds.h"

class CRibbonBar;
class CRibbonBaseElement;
class CRibbonCategory;
class CRibbonSlider;
class COutputWnd;
class QLabel;
class QMdiArea;
class QMdiSubWindow;

namespace kv {
struct CommandUI;
}

class CMainFrame : public QMainWindow {
    Q_OBJECT
public:
    CMainFrame();
    ~CMainFrame() override;

    // Creates the frame's parts (ribbon, status bar, output pane, look, title).
    // Non-zero on success; on failure the frame must not be shown.
    int LoadFrame();
    // Once start-up went through: half a second later the one-shot step after it runs (user
    // data, crash reporter, news feed).
    void StartStartupStep();

    // Sets the text of the first status-bar pane.
    void SetStatusText(const QString& text);
    // The first ribbon element with the id, walking every category and panel in order (by
    // default the orthophoto opacity slider); null when there is none.
    CRibbonBaseElement* FindRibbonElement(int id = ID_SLIDER_ORTHOOPACITY) const;
    // The first ribbon category with exactly that name; null when there is none.
    CRibbonCategory* GetRibbonCategory(const QString& name) const;

    CRibbonBar* GetRibbonBar() const { return m_wndRibbonBar; }
    COutputWnd* GetOutputWnd() const { return m_wndOutput; }
    QMdiArea* GetMDIArea() const { return m_mdiArea; }
    // The opacity slider found at creation; null when the ribbon has none.
    CRibbonSlider* GetOpacitySlider() const { return m_pSliderOrthoOpacity; }
    // The status-bar panes: 0 the message pane, 1 the maker's pane.
    QLabel* GetStatusPane(int index) const;
    // The title without the name of the active project.
    QString GetTitle() const { return m_strTitle; }
    int GetApplicationLook() const { return m_nAppLook; }

    // Routes a command to the active project, the frame and the application. True when handled.
    bool OnCmdMsg(int id);
    // Asks the update handlers for the state of every ribbon element and shows it.
    void UpdateCommandUI();
    // The state of one command: the handler's answer, or disabled when nobody handles it.
    void QueryCommandUI(kv::CommandUI& ui);

    void OnApplicationLook(int id);
    void OnButtonUserdata();
    void OnButtonAbout();
    void OnButtonTutorial();
    void OnButtonCommandline();
    void OnButtonFeedback();
    void OnHelpChangelog();
    void OnWindowManager();

protected:
    void closeEvent(QCloseEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    class Service;

    bool OnFrameCommand(int id);
    bool OnUpdateFrameCommand(kv::CommandUI& ui);
    void OnStartupTimer();
    void OnSubWindowActivated(QMdiSubWindow* window);
    // Run whenever the program is about to wait for input: the ribbon's states, the projects'
    // modified marks and the title.
    void OnIdle();
    // The title: the current project's name before the program's.
    void UpdateFrameTitle();

    CRibbonBar* m_wndRibbonBar = nullptr;
    COutputWnd* m_wndOutput = nullptr;
    QMdiArea* m_mdiArea = nullptr;
    QLabel* m_statusPanes[2] = {nullptr, nullptr};
    CRibbonSlider* m_pSliderOrthoOpacity = nullptr;
    QString m_strTitle;
    int m_nAppLook = 0;
    // The one-shot start-up step (timer 100): installs the crash reporter and the change log.
    QTimer m_startupTimer;
    std::unique_ptr<Service> m_service;
};
