#include "app/OutputWnd.h"

#include <QContextMenuEvent>
#include <QTabWidget>
#include <QVBoxLayout>

#include "app/AppIcons.h"
#include "platform/cad/Cad.h"

COutputList::COutputList(QWidget* parent) : QWidget(parent), m_layout(new QVBoxLayout(this)) {
    m_layout->setContentsMargins(0, 0, 0, 0);
    m_layout->setSpacing(0);
    setBackgroundRole(QPalette::Base);
    setAutoFillBackground(true);
}

void COutputList::SetCommandLineWindow(QWidget* window) {
    if (m_window && m_window != window) {
        m_layout->removeWidget(m_window);
    }
    m_window = window;
    if (window) {
        window->setParent(this);
        m_layout->addWidget(window);
        window->show();
    }
}

void COutputList::contextMenuEvent(QContextMenuEvent* event) {
    // The host has no menu of its own.
    event->accept();
}

COutputWnd::COutputWnd(const QString& caption, QWidget* parent) : QDockWidget(caption, parent) {
    setObjectName(QStringLiteral("OutputPane"));
    setFeatures(QDockWidget::DockWidgetClosable | QDockWidget::DockWidgetMovable |
                QDockWidget::DockWidgetFloatable);
    setAllowedAreas(Qt::AllDockWidgetAreas);
    setWindowIcon(KvAppIcon(QStringLiteral("output")));
    m_tabs = new QTabWidget(this);
    m_tabs->setTabPosition(QTabWidget::South);
    m_tabs->setDocumentMode(true);
    m_list = new COutputList(m_tabs);
    m_tabs->addTab(m_list, KvAppIcon(QStringLiteral("output")), QStringLiteral("Command Line"));
    m_tabs->setMinimumSize(100, 100);
    setWidget(m_tabs);
    // The engine's command line, typed into for the drawing whose window was active last.
    SetCommandLineWindow(CadCWCreate(m_list, 0, 0, m_list->width(), m_list->height()));
}
