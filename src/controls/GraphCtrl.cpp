#include "controls/GraphCtrl.h"

#include <QFont>
#include <QFontMetrics>
#include <QPaintDevice>
#include <QPainter>
#include <algorithm>

namespace {
constexpr int kMaxLabel = 255;
constexpr int kMaxUnit = 15;
}  // namespace

CGraphCtrl::CGraphCtrl(QWidget* parent) : QWidget(parent) {
    setAttribute(Qt::WA_OpaquePaintEvent);
}

int CGraphCtrl::AddBar(int value, COLORREF color, const QString& label) {
    m_Bars.push_back({value, color, label.left(kMaxLabel)});
    return static_cast<int>(m_Bars.size());
}

void CGraphCtrl::SetTitle(const QString& title) {
    m_strUnit = title.left(kMaxUnit);
}

void CGraphCtrl::SetRange(int minimum, int maximum) {
    m_nMin = minimum;
    m_nMax = maximum;
}

int CGraphCtrl::PixelsPerStep(int height) const {
    if (m_nStep <= 0) {
        return 0;
    }
    const int steps = (m_nMax - m_nMin) / m_nStep;
    if (steps <= 0) {
        return 0;
    }
    // Even, so that the minor ticks fall halfway and the bars meet the scale's labels.
    int d = (height - m_nBottomMargin - 5) / steps;
    d -= d % 2;
    return d >= 2 ? d : 0;
}

void CGraphCtrl::DrawGraph() {
    update();
}

void CGraphCtrl::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    DrawGraph(painter, size());
}

void CGraphCtrl::DrawGraph(QPainter& painter, const QSize& size) const {
    const int W = size.width();
    const int H = size.height();
    const int L = m_nLeftMargin;
    const int B = m_nBottomMargin;
    const int axisY = H - B;

    painter.save();
    painter.fillRect(QRect(0, 0, W, H), kv::ToQColor(m_crBackground));
    const QColor axis = kv::ToQColor(m_crAxis);
    painter.fillRect(QRect(L - 8, 0, 2, axisY + 2), axis);
    painter.fillRect(QRect(L, axisY, W - L, 2), axis);

    const int d = PixelsPerStep(H);
    if (d == 0) {
        painter.restore();
        return;
    }

    QFont font(QStringLiteral("Arial"));
    const int dpi = painter.device() != nullptr ? painter.device()->logicalDpiY() : 96;
    font.setPixelSize(std::max(1, 9 * dpi / 72));
    font.setBold(true);
    painter.setFont(font);
    const QFontMetrics fm(font);
    painter.setPen(kv::ToQColor(m_crText));

    if (m_bShowLabels != 0) {
        painter.save();
        painter.translate(0, axisY - 20);
        painter.rotate(-90.0);
        painter.drawText(QPoint(0, fm.ascent()), QStringLiteral("%1 =>").arg(m_strUnit));
        painter.restore();
    }

    const int half = d / 2;
    for (int i = 0; i * half <= axisY + 5; ++i) {
        const int y = axisY - i * half;
        const bool major = i % 2 == 0;
        painter.fillRect(QRect(L - 16, y, major ? 8 : 4, 1), axis);
        if (major && m_bShowLabels != 0) {
            painter.drawText(QPoint(17, y - 8 + fm.ascent()), QString::number(m_nMin + (i / 2) * m_nStep));
        }
    }

    const int n = static_cast<int>(m_Bars.size());
    if (n > 0) {
        const int width = (W - L) / n;
        for (int k = 0; k < n; ++k) {
            const BAR_DATA& bar = m_Bars[static_cast<size_t>(k)];
            const int x = L + k * width;
            const int h = static_cast<int>(static_cast<float>(bar.value - m_nMin) /
                                           static_cast<float>(m_nStep) * static_cast<float>(d));
            if (h > 0) {
                const QColor color = kv::ToQColor(bar.color);
                const QRect r(x, axisY - h, width, h);
                painter.fillRect(r, color);
                // A raised edge: white on the top and left (the bottom and right keep the bar's colour).
                painter.fillRect(QRect(r.left(), r.top(), r.width() - 1, 1), Qt::white);
                painter.fillRect(QRect(r.left(), r.top(), 1, r.height() - 1), Qt::white);
            }
            painter.drawText(QPoint(x, axisY + 2 + fm.ascent()), bar.label);
        }
    }
    painter.restore();
}
