// Dialog units, the measure the program's dialog layouts are given in: one horizontal unit is a
// quarter of the font's average character width, one vertical unit an eighth of its height, so a
// layout keeps its proportions with any font.
#pragma once

#include <QRect>
#include <QSize>

#include <initializer_list>

class QWidget;

namespace kv {

// The rectangle in pixels of a rectangle in dialog units, for the widget's font.
QRect DluRect(const QWidget* widget, int x, int y, int width, int height);
QSize DluSize(const QWidget* widget, int width, int height);

// A control of a dialog layout: its rectangle in dialog units within its parent, and its control
// id (0 for none), which becomes its object name so that scripts and tests find it by the id.
struct DluControl {
    QWidget* widget;
    int id;
    QRect rect;
};
// Places each control by its rectangle, measured in the dialog's font, and names it by its id.
void PlaceControls(const QWidget* dialog, std::initializer_list<DluControl> controls);

}  // namespace kv
