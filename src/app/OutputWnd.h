// The dockable "Output" pane of the main frame. Its one tab, "Command Line", hosts the CAD
// engine's command-line window, created with the pane as a child of the host
// (COutputWnd::CommandLineHost); it always fills the tab, however the pane is resized, docked or
// floated.
#pragma once

#include <QDockWidget>
#include <QPointer>
#include <QWidget>

#include "platform/cad/Cad.h"

class QTabWidget;
class QVBoxLayout;

// The parent of the engine's command-line window; it shows nothing of its own.
class COutputList : public QWidget {
    Q_OBJECT
public:
    explicit COutputList(QWidget* parent = nullptr);

    // Takes the window into the host, filling it. A second call replaces the first window.
    void SetCommandLineWindow(QWidget* window);
    QWidget* GetCommandLineWindow() const { return m_window; }

protected:
    void contextMenuEvent(QContextMenuEvent* event) override;

private:
    QVBoxLayout* m_layout;
    QPointer<QWidget> m_window;
};

class COutputWnd : public QDockWidget {
    Q_OBJECT
public:
    explicit COutputWnd(const QString& caption, QWidget* parent = nullptr);

    COutputList* CommandLineHost() const { return m_list; }
    void SetCommandLineWindow(QWidget* window) { m_list->SetCommandLineWindow(window); }
    // Empties the command line: the lines and the prompt of a project that closed.
    void ClearCommandLine() { CadCWClear(m_list->GetCommandLineWindow()); }
    QTabWidget* Tabs() const { return m_tabs; }

private:
    QTabWidget* m_tabs;
    COutputList* m_list;
};
