#include "controls/HyperLink.h"

#include <QFontMetrics>
#include <QMouseEvent>
#include <QPainter>
#include <algorithm>

#include "platform/tools/ZQT.h"

namespace {
// Room for an icon left or right of the text (these links carry none, but keep the room).
constexpr int kLeftIconFlags = 0x2 | 0x20 | 0x200;
constexpr int kRightIconFlags = 0x4 | 0x40 | 0x400;
constexpr int kIconRoom = 19;
}  // namespace

CHyperLink::CHyperLink(QWidget* parent) : QWidget(parent) {
    InitLink();
}

CHyperLink::CHyperLink(const QString& text, QWidget* parent) : QWidget(parent), m_strCaption(text) {
    InitLink();
}

void CHyperLink::InitLink() {
    m_strURL.clear();
    m_bUnderlineAlways = 0;
    m_bOpenOnClick = 1;
    m_bTextOffset = 0;
    m_Font = QFont(QStringLiteral("Arial"));
    m_Font.setPixelSize(14);
    m_Font.setWeight(QFont::Normal);
    m_Font.setStyleStrategy(QFont::PreferAntialias);
    m_crLink = kv::Rgb(0, 0, 255);
    m_crHover = kv::Rgb(255, 0, 0);
    m_crPressed = kv::Rgb(200, 0, 225);
    m_crBackground = kv::ToColorRef(palette().color(QPalette::Button));
    m_nIconFlags = 0x333;
    m_bHover = 0;
    m_bPressed = 0;
    m_bSizePending = 1;
    setMouseTracking(true);
    setCursor(Qt::PointingHandCursor);
}

void CHyperLink::SetURL(const QString& url) {
    m_strURL = url;
    setToolTip(url);
}

void CHyperLink::setText(const QString& text) {
    m_strCaption = text;
    updateGeometry();
    update();
}

QSize CHyperLink::sizeHint() const {
    const QFontMetrics fm(m_Font);
    int width = fm.horizontalAdvance(m_strCaption) + 2;
    if ((m_nIconFlags & kLeftIconFlags) != 0 || m_bTextOffset != 0) {
        width += kIconRoom;
    }
    if ((m_nIconFlags & kRightIconFlags) != 0) {
        width += kIconRoom;
    }
    return QSize(width, std::max(fm.height() + 2, 18));
}

void CHyperLink::showEvent(QShowEvent* event) {
    if (m_bSizePending != 0 && m_nIconFlags != 0) {
        resize(sizeHint());
        m_bSizePending = 0;
    }
    QWidget::showEvent(event);
}

COLORREF CHyperLink::CurrentTextColor() const {
    if (IsDisabled()) {
        return kv::ToColorRef(palette().color(QPalette::Dark));
    }
    if (m_bHover != 0) {
        return m_bPressed != 0 ? m_crPressed : m_crHover;
    }
    return m_crLink;
}

void CHyperLink::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect(), kv::ToQColor(m_crBackground));
    painter.setFont(m_Font);
    const QFontMetrics fm(m_Font);

    const QColor text = kv::ToQColor(CurrentTextColor());
    QColor underline = text;
    if (!IsDisabled() && m_bHover == 0 && m_bUnderlineAlways == 0) {
        underline = kv::ToQColor(m_crBackground);
    }

    const int x = m_bTextOffset != 0 ? 20 : 1;
    const int top = (height() - fm.height()) / 2;
    painter.setPen(text);
    painter.drawText(QPoint(x, top + fm.ascent()), m_strCaption);
    const int bottom = top + fm.height() - 1;
    painter.setPen(underline);
    painter.drawLine(x, bottom, x + fm.horizontalAdvance(m_strCaption), bottom);
}

void CHyperLink::StartHover(bool leftButtonDown) {
    if (m_bHover == 0) {
        m_bHover = 1;
        m_bPressed = leftButtonDown ? 1 : 0;
        update();
    }
}

void CHyperLink::enterEvent(QEnterEvent* event) {
    if (!IsDisabled()) {
        StartHover(event->buttons() & Qt::LeftButton);
    }
    QWidget::enterEvent(event);
}

void CHyperLink::mouseMoveEvent(QMouseEvent* event) {
    if (!IsDisabled()) {
        StartHover(event->buttons() & Qt::LeftButton);
    }
    QWidget::mouseMoveEvent(event);
}

void CHyperLink::leaveEvent(QEvent* event) {
    m_bHover = 0;
    m_bPressed = 0;
    update();
    QWidget::leaveEvent(event);
}

void CHyperLink::mousePressEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton) {
        m_bPressed = 1;
        update();
    }
}

void CHyperLink::mouseDoubleClickEvent(QMouseEvent* event) {
    mousePressEvent(event);
}

void CHyperLink::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) {
        return;
    }
    m_bPressed = 0;
    update();
    if (IsDisabled()) {
        return;
    }
    if (!m_strURL.isEmpty() && m_bOpenOnClick != 0) {
        ZQT_ShellExecute(QStringLiteral("open"), m_strURL, QString(), 1);
    }
    emit clicked();
}

void CHyperLink::changeEvent(QEvent* event) {
    if (event->type() == QEvent::EnabledChange) {
        if (IsDisabled()) {
            unsetCursor();
            m_bHover = 0;
            m_bPressed = 0;
        } else {
            setCursor(Qt::PointingHandCursor);
        }
        update();
    }
    QWidget::changeEvent(event);
}
