// A progress bar that paints its own bar and, inside it, the estimated time still needed
// ("2 minutes, 5 seconds remaining"), after the name of the current operation. Setting its
// position lets pending events through, so the window stays alive while a worker runs.
//
// Time is measured on a monotonic wall clock in milliseconds (Clock()); the estimate counts from
// m_nStartTime, which is the construction time until an owner restarts it for a new phase.
#pragma once

#include <QColor>
#include <QFont>
#include <QString>

#include "controls/KvProgressBar.h"

class TProgressTimeToComplete : public KvProgressBar {
    Q_OBJECT
public:
    // Blocks of a bar that is not smooth.
    static constexpr int kBlockCount = 18;

    explicit TProgressTimeToComplete(QWidget* parent = nullptr);

    // The monotonic clock the estimate is measured on, in milliseconds.
    static qint64 Clock();

    // Sets the position after letting pending events through.
    void SetPos(int pos) override;
    // The name of the current operation, shown before the time estimate.
    void SetText(QString text);
    // Sets the operation's name like SetText (a null text keeps the present one), then lets
    // pending events through.
    void SetCaption(const QString& text) override;
    // The same for the name a long raster operation gives its steps.
    void SetBarText(const QString& text) override { SetCaption(text); }
    // Takes a new start time.
    void SetStartTime() override;
    // Takes a new start time and lets pending events through.
    void RestartClock();

    // The remaining-time part of the text: "%d minutes, %d seconds remaining", "%d seconds
    // remaining" or "Wait for process ending"; empty while the show-time switch is 0.
    virtual QString GetRemainingTimeText(double fraction, double remaining) const;
    // The whole text painted for that fraction done and remaining time: the idle text up to 2 %,
    // else the status text, one blank and the remaining-time text (just the latter when there is
    // no status text).
    QString GetBarText(double fraction, double remaining) const;

    void SetSmooth(bool smooth);
    bool IsSmooth() const { return m_bSmooth; }
    // The number of blocks a bar that is not smooth paints at that fraction done.
    static int BlocksFor(double fraction);

    qint64 m_nStartTime = 0;
    int m_nShowTime = 1;
    QString m_strIdleText;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    double m_dFraction = 0.0;
    QFont m_fontNormal;
    QString m_strStatus;
    QColor m_crBar;
    bool m_bSmooth = false;
};
