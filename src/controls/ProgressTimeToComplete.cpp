#include "controls/ProgressTimeToComplete.h"

#include <QFontMetrics>
#include <QPainter>
#include <QRegion>
#include <algorithm>
#include <chrono>
#include <cmath>

#include "platform/tools/ZQT.h"

TProgressTimeToComplete::TProgressTimeToComplete(QWidget* parent)
    : KvProgressBar(parent), m_nStartTime(Clock()) {
    m_fontNormal = font();
    m_fontNormal.setPointSize(9);
    m_crBar = palette().color(QPalette::Highlight);
    setAttribute(Qt::WA_OpaquePaintEvent);
}

qint64 TProgressTimeToComplete::Clock() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

void TProgressTimeToComplete::SetPos(int pos) {
    ZQT_PumpMessages();
    KvProgressBar::SetPos(pos);
}

void TProgressTimeToComplete::SetText(QString text) {
    m_strStatus = std::move(text);
    update();
}

void TProgressTimeToComplete::SetCaption(const QString& text) {
    if (!text.isNull()) {
        SetText(text);
    }
    ZQT_PumpMessages();
}

void TProgressTimeToComplete::SetStartTime() {
    m_nStartTime = Clock();
}

void TProgressTimeToComplete::RestartClock() {
    SetStartTime();
    ZQT_PumpMessages();
}

QString TProgressTimeToComplete::GetRemainingTimeText(double, double remaining) const {
    if (m_nShowTime == 0) {
        return QString();
    }
    if (remaining >= 60.0) {
        return QStringLiteral("%1 minutes, %2 seconds remaining")
            .arg(static_cast<long long>(remaining / 60.0))
            .arg(static_cast<long long>(std::fmod(remaining, 60.0)));
    }
    if (static_cast<long long>(remaining) >= 1) {
        return QStringLiteral("%1 seconds remaining").arg(static_cast<long long>(remaining));
    }
    return QStringLiteral("Wait for process ending");
}

QString TProgressTimeToComplete::GetBarText(double fraction, double remaining) const {
    if (fraction <= 0.02) {
        return m_strIdleText;
    }
    const QString time = GetRemainingTimeText(fraction, remaining);
    if (m_strStatus.isEmpty()) {
        return time;
    }
    return m_strStatus + ' ' + time;
}

void TProgressTimeToComplete::SetSmooth(bool smooth) {
    m_bSmooth = smooth;
    update();
}

int TProgressTimeToComplete::BlocksFor(double fraction) {
    return std::clamp(static_cast<int>(kBlockCount * fraction + 0.9), 0, kBlockCount);
}

void TProgressTimeToComplete::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    const QRect client = rect();
    const QWidget* owner = parentWidget();
    painter.fillRect(client, (owner != nullptr ? owner->palette() : palette()).brush(QPalette::Window));

    m_dFraction = Fraction();
    const double shown = std::clamp(m_dFraction, 0.0, 1.0);
    const bool vertical = orientation() == Qt::Vertical;
    QRect filled = client;
    if (vertical) {
        filled.setTop(client.top() + client.height() - static_cast<int>(client.height() * shown));
    } else {
        filled.setWidth(static_cast<int>(client.width() * shown));
    }

    if (m_bSmooth) {
        painter.fillRect(filled, m_crBar);
    } else {
        // The blocks and the 2-pixel gaps between them fill the bar exactly at 100 %.
        const int gaps = 2 * (kBlockCount - 1);
        const int blocks = BlocksFor(m_dFraction);
        if (vertical) {
            const int size = (client.height() - gaps) / kBlockCount;
            for (int i = 0; i < blocks; ++i) {
                const int bottom = client.top() + client.height() - i * (size + 2);
                painter.fillRect(QRect(client.left(), bottom - size, client.width(), size), m_crBar);
            }
        } else {
            const int size = (client.width() - gaps) / kBlockCount;
            for (int i = 0; i < blocks; ++i) {
                painter.fillRect(QRect(client.left() + i * (size + 2), client.top(), size, client.height()),
                                 m_crBar);
            }
        }
    }

    double remaining = 0.0;
    if (m_dFraction > 0.02) {
        const double elapsed = static_cast<double>(Clock() - m_nStartTime) / 1000.0;
        remaining = elapsed / m_dFraction * (1.0 - m_dFraction);
    }
    const QString text = GetBarText(m_dFraction, remaining);
    if (text.isEmpty()) {
        return;
    }

    // Drawn twice, so that the letters change colour where the bar passes under them.
    painter.setFont(m_fontNormal);
    const QFontMetrics fm(m_fontNormal);
    const QRegion inside(filled);
    const QRegion outside = QRegion(client).subtracted(inside);
    const std::pair<const QRegion*, QPalette::ColorRole> passes[2] = {{&inside, QPalette::HighlightedText},
                                                                      {&outside, QPalette::WindowText}};
    for (const auto& [clip, role] : passes) {
        if (clip->isEmpty()) {
            continue;
        }
        painter.save();
        painter.setClipRegion(*clip);
        painter.setPen(palette().color(role));
        if (vertical) {
            const int x = (client.width() - fm.height()) / 2;
            const int y = client.bottom() - (client.height() - fm.horizontalAdvance(text)) / 2;
            painter.translate(x, y);
            painter.rotate(-90.0);
            painter.drawText(QPoint(0, fm.ascent()), text);
        } else {
            painter.drawText(client, Qt::AlignCenter | Qt::TextSingleLine, text);
        }
        painter.restore();
    }
}
