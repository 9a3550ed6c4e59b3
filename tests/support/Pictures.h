// What a picture of a widget shows: screenshot tests assert colours at known places with these,
// so that a blank, black or half-drawn picture fails.
#pragma once

#include <QColor>
#include <QImage>
#include <QRect>
#include <QString>

class QWidget;

namespace kvtest {

// Grabs the widget, saves the picture under build/screenshots/<name>.png and returns it.
QImage Screenshot(QWidget* widget, const QString& name);

// Share (0 to 1) of the pixels of the rectangle (the whole picture when it is empty) whose red,
// green and blue each lie within tolerance of the colour's.
double ColourShare(const QImage& image, const QColor& colour, const QRect& rect = QRect(), int tolerance = 0);

// The rectangle a child widget covers in the picture of one of its ancestors.
QRect PlaceIn(const QWidget* child, const QWidget* ancestor);

// Number of different colours in the rectangle (the whole picture when it is empty): 1 for a
// blank one.
int ColourCount(const QImage& image, const QRect& rect = QRect());

}  // namespace kvtest
