// What a long worker reports to: the progress windows and the time-to-complete bar implement it,
// tests implement it to record or to abort.
#pragma once

#include <QString>

class ProgressSink {
public:
    virtual ~ProgressSink() = default;
    virtual void SetRange(int lower, int upper) = 0;
    virtual void SetPos(int pos) = 0;
    // The caption of the step, which the caller that owns the progress window gives it (a
    // progress window's title; the time-to-complete bar puts it before the remaining time).
    virtual void SetCaption(const QString& /*caption*/) {}
    // The name of the operation a long raster operation runs ("Loading DEM..."), shown only by
    // the time-to-complete bar before the remaining time. Progress windows keep their caller's
    // caption: a block walk moves only their bar.
    virtual void SetBarText(const QString& /*text*/) {}
    // Marks the start of the step whose remaining time is estimated.
    virtual void SetStartTime() {}
    // True once the operator asked to stop.
    virtual bool IsAborted() const { return false; }
};
