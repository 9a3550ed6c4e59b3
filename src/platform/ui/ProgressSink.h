// What a long worker reports to: the progress windows and the time-to-complete bar implement it,
// tests implement it to record or to abort.
#pragma once

#include <QString>

class ProgressSink {
public:
    virtual ~ProgressSink() = default;
    virtual void SetRange(int lower, int upper) = 0;
    virtual void SetPos(int pos) = 0;
    // Text shown with the bar (the time-to-complete bar puts it before the remaining time).
    virtual void SetCaption(const QString& /*caption*/) {}
    // Marks the start of the step whose remaining time is estimated.
    virtual void SetStartTime() {}
    // True once the operator asked to stop.
    virtual bool IsAborted() const { return false; }
};
