#include "controls/KvProgressBar.h"

#include <algorithm>
#include <cstdint>

KvProgressBar::KvProgressBar(QWidget* parent) : QProgressBar(parent) {
    setTextVisible(false);
    QProgressBar::setRange(m_nLower, m_nUpper);
    QProgressBar::setValue(m_nPos);
}

void KvProgressBar::SetRange(int lower, int upper) {
    m_nLower = lower;
    m_nUpper = upper;
    QProgressBar::setRange(lower, std::max(lower, upper));
    QProgressBar::setValue(std::clamp(m_nPos, minimum(), maximum()));
    update();
}

void KvProgressBar::SetRange16(int lower, int upper) {
    SetRange(static_cast<std::uint16_t>(lower), static_cast<std::uint16_t>(upper));
}

void KvProgressBar::SetPos(int pos) {
    m_nPos = pos;
    QProgressBar::setValue(std::clamp(pos, minimum(), maximum()));
    update();
}

double KvProgressBar::Fraction() const {
    if (m_nUpper == m_nLower) {
        return 0.0;
    }
    return static_cast<double>(m_nPos - m_nLower) / (static_cast<double>(m_nUpper) - m_nLower);
}
