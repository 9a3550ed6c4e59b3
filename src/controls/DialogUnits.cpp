#include "controls/DialogUnits.h"

#include <QFontMetrics>
#include <QWidget>

namespace kv {
namespace {

struct BaseUnits {
    int x;
    int y;
};

BaseUnits BaseUnitsOf(const QWidget* widget) {
    const QFontMetrics fm = widget->fontMetrics();
    static const QString kSample = QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz");
    const int x = (fm.horizontalAdvance(kSample) / 26 + 1) / 2;
    return {x > 0 ? x : 1, fm.height() > 0 ? fm.height() : 1};
}

}  // namespace

QRect DluRect(const QWidget* widget, int x, int y, int width, int height) {
    const BaseUnits b = BaseUnitsOf(widget);
    return QRect(x * b.x / 4, y * b.y / 8, width * b.x / 4, height * b.y / 8);
}

QSize DluSize(const QWidget* widget, int width, int height) {
    return DluRect(widget, 0, 0, width, height).size();
}

void PlaceControls(const QWidget* dialog, std::initializer_list<DluControl> controls) {
    for (const DluControl& c : controls) {
        c.widget->setGeometry(DluRect(dialog, c.rect.x(), c.rect.y(), c.rect.width(), c.rect.height()));
        if (c.id) {
            c.widget->setObjectName(QString::number(c.id));
        }
    }
}

}  // namespace kv
