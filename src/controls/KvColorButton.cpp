#include "controls/KvColorButton.h"

#include <QColorDialog>
#include <QPainter>

#include "platform/ui/Interaction.h"

namespace {

// Gap between the button's edge and the colour swatch, in pixels.
constexpr int kSwatchMargin = 5;

}  // namespace

KvColorButton::KvColorButton(QWidget* parent) : QPushButton(parent) {
    setAutoDefault(false);
    connect(this, &QPushButton::clicked, this, [this] { ChooseColor(); });
}

void KvColorButton::SetColor(COLORREF colour) {
    colour &= 0x00FFFFFFu;
    if (colour == m_color) {
        return;
    }
    m_color = colour;
    update();
}

bool KvColorButton::ChooseColor() {
    QColorDialog chooser(kv::ToQColor(m_color), window());
    if (kv::GetInteraction().RunModal(chooser) != IDOK) {
        return false;
    }
    const COLORREF chosen = kv::ToColorRef(chooser.currentColor());
    if (chosen != m_color) {
        SetColor(chosen);
        emit ColorChanged(chosen);
    }
    return true;
}

QSize KvColorButton::sizeHint() const {
    return QSize(60, QPushButton::sizeHint().height());
}

void KvColorButton::paintEvent(QPaintEvent* event) {
    QPushButton::paintEvent(event);
    QPainter painter(this);
    const QRect swatch =
        rect().adjusted(kSwatchMargin, kSwatchMargin, -kSwatchMargin - 1, -kSwatchMargin - 1);
    if (swatch.width() <= 0 || swatch.height() <= 0) {
        return;
    }
    QColor fill = kv::ToQColor(m_color);
    QColor edge = palette().color(QPalette::WindowText);
    if (!isEnabled()) {
        // Washed out toward the button's own colour, as disabled controls look.
        const QColor back = palette().color(QPalette::Button);
        fill = QColor((fill.red() + back.red()) / 2, (fill.green() + back.green()) / 2,
                      (fill.blue() + back.blue()) / 2);
        edge = palette().color(QPalette::Disabled, QPalette::WindowText);
    }
    painter.fillRect(swatch, fill);
    painter.setPen(edge);
    painter.drawRect(swatch);
}
