// The program's progress bar: a Qt progress bar that keeps the range and position a worker sets,
// as the classic control does, and takes them through the progress-sink calls. The position is
// kept as given, also beyond the range; the bar shows it cut to the range.
#pragma once

#include <QProgressBar>

#include "platform/tools/ProgressSink.h"

class KvProgressBar : public QProgressBar, public ProgressSink {
    Q_OBJECT
public:
    explicit KvProgressBar(QWidget* parent = nullptr);

    // The range with 32-bit bounds.
    void SetRange(int lower, int upper) override;
    // The range with 16-bit bounds, as the short range message carries them (0 to 65535).
    void SetRange16(int lower, int upper);
    void SetPos(int pos) override;
    int GetPos() const { return m_nPos; }
    int GetLower() const { return m_nLower; }
    int GetUpper() const { return m_nUpper; }
    // The part of the range done: (position - lower) / (upper - lower); 0 for an empty range.
    double Fraction() const;

private:
    int m_nLower = 0;
    int m_nUpper = 100;
    int m_nPos = 0;
};
