// The mouse as the windowing system delivers it: events go to the widget's top-level window, which
// finds the widget under the point itself (a widget lying over another takes its clicks, a modal
// dialog blocks the windows under it), rather than straight to the widget.
#pragma once

#include <QPoint>
#include <QTest>
#include <QWidget>

namespace kvtest {

// A left click at the point of the widget (its centre when none).
inline void ClickThroughWindow(QWidget* widget, QPoint at = QPoint(-1, -1)) {
    QWidget* window = widget->window();
    const QPoint local = at == QPoint(-1, -1) ? widget->rect().center() : at;
    QTest::mouseClick(window->windowHandle(), Qt::LeftButton, Qt::NoModifier, widget->mapTo(window, local));
}

// The mouse moved to the point of the widget, no button held.
inline void MoveThroughWindow(QWidget* widget, QPoint at) {
    QWidget* window = widget->window();
    QTest::mouseMove(window->windowHandle(), widget->mapTo(window, at));
}

}  // namespace kvtest
