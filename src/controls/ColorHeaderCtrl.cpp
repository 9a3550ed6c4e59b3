#include "controls/ColorHeaderCtrl.h"

#include <QFontMetrics>
#include <QPainter>

CColorHeaderCtrl::CColorHeaderCtrl(QWidget* parent) : QHeaderView(Qt::Horizontal, parent) {
    connect(this, &QHeaderView::sectionPressed, this, [this](int logicalIndex) {
        m_nPressed = logicalIndex;
        viewport()->update();
    });
}

void CColorHeaderCtrl::mouseReleaseEvent(QMouseEvent* event) {
    if (m_nPressed >= 0) {
        m_nPressed = -1;
        viewport()->update();
    }
    QHeaderView::mouseReleaseEvent(event);
}

void CColorHeaderCtrl::SetColumnColor(int column, COLORREF color) {
    if (column < 0) {
        return;
    }
    m_colors[column] = color;
    viewport()->update();
}

int CColorHeaderCtrl::RemoveColumnColor(int column) {
    if (column < 0 || m_colors.empty()) {
        return 0;
    }
    const int highest = m_colors.rbegin()->first;
    if (column > highest) {
        return 0;
    }
    // Each later column takes the place of the one before it, a column without a colour too.
    for (int k = column; k < highest; ++k) {
        auto next = m_colors.find(k + 1);
        if (next != m_colors.end()) {
            m_colors[k] = next->second;
        } else {
            m_colors.erase(k);
        }
    }
    m_colors.erase(highest);
    viewport()->update();
    return 1;
}

COLORREF CColorHeaderCtrl::GetColumnColor(int column) const {
    auto it = m_colors.find(column);
    return it != m_colors.end() ? it->second : 0;
}

COLORREF CColorHeaderCtrl::GetTitleColor(int column) const {
    auto it = m_colors.find(column);
    if (it == m_colors.end()) {
        return kv::Rgb(255, 255, 255);
    }
    const COLORREF c = it->second;
    const int sum = kv::RedOf(c) + kv::GreenOf(c) + kv::BlueOf(c);
    return sum >= 384 ? kv::Rgb(0, 0, 0) : kv::Rgb(255, 255, 255);
}

void CColorHeaderCtrl::paintSection(QPainter* painter, const QRect& rect, int logicalIndex) const {
    if (!HasColumnColor(logicalIndex)) {
        QHeaderView::paintSection(painter, rect, logicalIndex);
        return;
    }
    DrawItem(*painter, rect, logicalIndex);
}

void CColorHeaderCtrl::DrawItem(QPainter& painter, const QRect& rect, int logicalIndex) const {
    painter.save();
    painter.setClipRect(rect);
    painter.fillRect(rect, kv::ToQColor(GetColumnColor(logicalIndex)));

    const QFontMetrics fm(font());
    const int space = fm.horizontalAdvance(QLatin1Char(' '));
    QRect textRect = rect.adjusted(2 * space, 0, -2 * space, 0);
    if (logicalIndex == m_nPressed) {
        textRect.translate(1, 2);
    }
    if (textRect.width() > 0) {
        const QString title =
            model() != nullptr ? model()->headerData(logicalIndex, orientation(), Qt::DisplayRole).toString()
                               : QString();
        Qt::Alignment align = Qt::AlignLeft;
        if (model() != nullptr) {
            const QVariant a = model()->headerData(logicalIndex, orientation(), Qt::TextAlignmentRole);
            if (a.isValid()) {
                align = Qt::Alignment(a.toInt()) & Qt::AlignHorizontal_Mask;
            } else {
                align = defaultAlignment() & Qt::AlignHorizontal_Mask;
            }
        }
        if (align & Qt::AlignHCenter) {
            align = Qt::AlignHCenter;
        } else if (align & Qt::AlignRight) {
            align = Qt::AlignRight;
        } else {
            align = Qt::AlignLeft;
        }
        painter.setFont(font());
        painter.setPen(kv::ToQColor(GetTitleColor(logicalIndex)));
        const QString shown = fm.elidedText(title.left(255), Qt::ElideRight, textRect.width());
        painter.drawText(textRect, int(align | Qt::AlignVCenter) | Qt::TextSingleLine, shown);
    }
    painter.restore();
}
