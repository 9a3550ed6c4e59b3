#include "controls/ButtonST.h"

#include <QEnterEvent>
#include <QPainter>
#include <QStyleOptionFocusRect>
#include <algorithm>

#include "controls/KvIcons.h"

CButtonST::CButtonST(QWidget* parent) : QPushButton(parent) {
    Init();
}

CButtonST::CButtonST(const QString& text, QWidget* parent) : QPushButton(text, parent) {
    Init();
}

void CButtonST::Init() {
    setAttribute(Qt::WA_Hover);
    SetDefaultColors();
}

void CButtonST::SetDefaultColors() {
    const COLORREF face = kv::ToColorRef(palette().color(QPalette::Button));
    const COLORREF text = kv::ToColorRef(palette().color(QPalette::ButtonText));
    m_crColors[BK_HOT] = m_crColors[BK_FOCUS] = m_crColors[BK_PLAIN] = face;
    m_crColors[FG_HOT] = m_crColors[FG_FOCUS] = m_crColors[FG_PLAIN] = text;
}

int CButtonST::SetIcon(const QPixmap& normal, const QPixmap& disabled) {
    m_icons[0] = QPixmap();
    m_icons[1] = QPixmap();
    int result = 0;
    if (normal.isNull()) {
        result = 1;
    } else {
        m_icons[0] = normal;
        m_icons[1] = disabled;
    }
    updateGeometry();
    update();
    return result;
}

int CButtonST::SetIcon(int normalId, int disabledId) {
    const QPixmap disabled = disabledId != 0 ? KvLoadIcon(disabledId) : QPixmap();
    if (disabledId != 0 && disabled.isNull()) {
        return SetIcon(QPixmap());  // an unknown icon number fails like a missing icon
    }
    return SetIcon(KvLoadIcon(normalId), disabled);
}

void CButtonST::SetTooltipText(const QString& text) {
    if (text.isNull()) {
        return;
    }
    setToolTip(text);
}

void CButtonST::SetFlat(bool flat) {
    m_bIsFlat = flat;
    update();
}

const QPixmap& CButtonST::CurrentIcon() const {
    if (!isEnabled() && !m_icons[1].isNull()) {
        return m_icons[1];
    }
    return m_icons[0];
}

QSize CButtonST::sizeHint() const {
    QSize hint = QPushButton::sizeHint();
    if (!m_icons[0].isNull()) {
        const QSize icon = m_icons[0].deviceIndependentSize().toSize();
        hint.rwidth() += icon.width() + m_nIconMargin;
        hint.setHeight(std::max(hint.height(), icon.height() + 6));
    }
    return hint;
}

bool CButtonST::IsPressedLook() const {
    return isDown() || (isCheckable() && isChecked());
}

COLORREF CButtonST::BackColor() const {
    if (m_bMouseOnButton || IsPressedLook()) {
        return m_crColors[BK_HOT];
    }
    return hasFocus() ? m_crColors[BK_FOCUS] : m_crColors[BK_PLAIN];
}

COLORREF CButtonST::TextColor() const {
    if (m_bMouseOnButton || IsPressedLook()) {
        return m_crColors[FG_HOT];
    }
    return hasFocus() ? m_crColors[FG_FOCUS] : m_crColors[FG_PLAIN];
}

void CButtonST::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    const QRect item = rect();
    OnDrawBackground(painter, item);
    OnDrawBorder(painter, item);
    QRect caption = item;
    if (!m_icons[0].isNull()) {
        PaintIcon(painter, item, &caption);
    }
    if (!text().isEmpty()) {
        PaintText(painter, caption);
    }
    if (!m_bIsFlat && hasFocus()) {
        QStyleOptionFocusRect focus;
        focus.initFrom(this);
        focus.rect = item.adjusted(3, 3, -3, -3);
        style()->drawPrimitive(QStyle::PE_FrameFocusRect, &focus, &painter, this);
    }
}

void CButtonST::OnDrawBackground(QPainter& painter, const QRect& rect) {
    painter.fillRect(rect, kv::ToQColor(BackColor()));
}

void CButtonST::OnDrawBorder(QPainter& painter, const QRect& rect) {
    if (!m_bDrawBorder) {
        return;
    }
    const bool pressed = IsPressedLook();
    if (!pressed && !m_bMouseOnButton && m_bIsFlat) {
        return;
    }
    const QColor shadow = palette().color(QPalette::Dark);
    const QColor light = palette().color(QPalette::Light);
    const QColor& topLeft = pressed ? shadow : light;
    const QColor& bottomRight = pressed ? light : shadow;
    const QRect r = rect.adjusted(0, 0, -1, -1);
    painter.setPen(topLeft);
    painter.drawLine(r.topLeft(), r.topRight());
    painter.drawLine(r.topLeft(), r.bottomLeft());
    painter.setPen(bottomRight);
    painter.drawLine(r.bottomLeft(), r.bottomRight());
    painter.drawLine(r.topRight(), r.bottomRight());
}

void CButtonST::PaintIcon(QPainter& painter, const QRect& rect, QRect* captionRect) {
    const QPixmap& icon = CurrentIcon();
    const QSize size = icon.deviceIndependentSize().toSize();
    QPoint at;
    if (text().isEmpty()) {
        at.setX(rect.left() + (rect.width() - size.width()) / 2);
    } else {
        at.setX(rect.left() + m_nIconMargin);
        captionRect->setLeft(rect.left() + size.width() + m_nIconMargin);
    }
    at.setY(rect.top() + (rect.height() - size.height()) / 2);
    if (isDown() && !isCheckable()) {
        at += m_ptPressedOffset;
    }
    painter.drawPixmap(at, icon);
}

void CButtonST::PaintText(QPainter& painter, const QRect& captionRect) {
    QRect r = captionRect;
    if (isDown() && !isCheckable()) {
        r.translate(m_ptPressedOffset);
    }
    const int flags = Qt::AlignCenter | Qt::TextWordWrap | Qt::TextShowMnemonic;
    painter.setFont(font());
    if (!isEnabled()) {
        painter.setPen(palette().color(QPalette::Light));
        painter.drawText(r.translated(1, 1), flags, text());
        painter.setPen(palette().color(QPalette::Dark));
        painter.drawText(r, flags, text());
        return;
    }
    painter.setPen(kv::ToQColor(TextColor()));
    painter.drawText(r, flags, text());
}

void CButtonST::enterEvent(QEnterEvent* event) {
    if (!m_bMouseOnButton) {
        m_bMouseOnButton = true;
        update();
    }
    QPushButton::enterEvent(event);
}

void CButtonST::leaveEvent(QEvent* event) {
    MouseLeft();
    QPushButton::leaveEvent(event);
}

void CButtonST::focusOutEvent(QFocusEvent* event) {
    MouseLeft();
    QPushButton::focusOutEvent(event);
}

void CButtonST::MouseLeft() {
    if (m_bMouseOnButton) {
        m_bMouseOnButton = false;
        update();
    }
}

// A disabled button hands the focus on to the next control of its window in tab order, or to its
// parent, so that the keyboard never stays on a button that cannot act.
void CButtonST::MoveFocusAway() {
    for (QWidget* w = nextInFocusChain(); w != nullptr && w != this; w = w->nextInFocusChain()) {
        if (w->window() == window() && w->isEnabled() && w->isVisibleTo(window()) &&
            (w->focusPolicy() & Qt::TabFocus)) {
            w->setFocus(Qt::TabFocusReason);
            return;
        }
    }
    if (parentWidget() != nullptr) {
        parentWidget()->setFocus(Qt::OtherFocusReason);
    }
}

void CButtonST::changeEvent(QEvent* event) {
    switch (event->type()) {
        case QEvent::EnabledChange:
            if (!isEnabled()) {
                MoveFocusAway();
                MouseLeft();
            }
            break;
        case QEvent::ActivationChange:
            if (!isActiveWindow()) {
                MouseLeft();
            }
            break;
        case QEvent::PaletteChange:
            SetDefaultColors();
            update();
            break;
        default:
            break;
    }
    QPushButton::changeEvent(event);
}

bool CButtonST::event(QEvent* event) {
    // A grab taken by another widget (a menu, a drag) cancels the hover look.
    if (event->type() == QEvent::UngrabMouse) {
        MouseLeft();
    }
    return QPushButton::event(event);
}
