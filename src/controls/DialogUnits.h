// Dialog units, the measure the program's dialog layouts are given in: one horizontal unit is a
// quarter of the font's average character width, one vertical unit an eighth of its height, so a
// layout keeps its proportions with any font.
#pragma once

#include <QRect>
#include <QSize>

class QWidget;

namespace kv {

// The rectangle in pixels of a rectangle in dialog units, for the widget's font.
QRect DluRect(const QWidget* widget, int x, int y, int width, int height);
QSize DluSize(const QWidget* widget, int width, int height);

}  // namespace kv
