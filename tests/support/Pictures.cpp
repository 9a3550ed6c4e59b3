#include "support/Pictures.h"

#include <QDir>
#include <QSet>
#include <QWidget>

#include <cstdlib>

#include "support/TestEnv.h"

namespace kvtest {

namespace {

QRect Area(const QImage& image, const QRect& rect) {
    return rect.isEmpty() ? image.rect() : rect.intersected(image.rect());
}

QString ScreenshotPath(const QString& name) {
    const QString dir = QStringLiteral(KV_SCREENSHOT_DIR);
    QDir().mkpath(dir);
    return dir + '/' + name + ".png";
}

}  // namespace

QString SaveScreenshot(QWidget* widget, const QString& name) {
    const QString path = ScreenshotPath(name);
    widget->grab().save(path);
    return path;
}

QImage Screenshot(QWidget* widget, const QString& name) {
    const QImage image = widget->grab().toImage().convertToFormat(QImage::Format_RGB32);
    image.save(ScreenshotPath(name));
    return image;
}

double ColourShare(const QImage& image, const QColor& colour, const QRect& rect, int tolerance) {
    const QRect area = Area(image, rect);
    if (area.isEmpty()) {
        return 0.0;
    }
    long hits = 0;
    for (int y = area.top(); y <= area.bottom(); ++y) {
        for (int x = area.left(); x <= area.right(); ++x) {
            const QRgb p = image.pixel(x, y);
            if (std::abs(qRed(p) - colour.red()) <= tolerance &&
                std::abs(qGreen(p) - colour.green()) <= tolerance &&
                std::abs(qBlue(p) - colour.blue()) <= tolerance) {
                ++hits;
            }
        }
    }
    return static_cast<double>(hits) / (static_cast<double>(area.width()) * area.height());
}

QRect PlaceIn(const QWidget* child, const QWidget* ancestor) {
    return QRect(child->mapTo(ancestor, QPoint(0, 0)), child->size());
}

int ColourCount(const QImage& image, const QRect& rect) {
    const QRect area = Area(image, rect);
    QSet<QRgb> colours;
    for (int y = area.top(); y <= area.bottom(); ++y) {
        for (int x = area.left(); x <= area.right(); ++x) {
            colours.insert(image.pixel(x, y) | 0xFF000000u);
        }
    }
    return static_cast<int>(colours.size());
}

}  // namespace kvtest
