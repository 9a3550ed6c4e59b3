// A dialog's progress bar and Abort flag as the progress sink of the worker the dialog runs.
#pragma once

#include "controls/ProgressTimeToComplete.h"
#include "platform/tools/ProgressSink.h"

namespace products {

class DialogProgress : public ProgressSink {
public:
    DialogProgress(TProgressTimeToComplete& bar, const int& abort) : m_bar(bar), m_abort(abort) {}
    void SetRange(int lower, int upper) override { m_bar.SetRange(lower, upper); }
    void SetPos(int pos) override { m_bar.SetPos(pos); }
    void SetCaption(const QString& caption) override { m_bar.SetCaption(caption); }
    void SetBarText(const QString& text) override { m_bar.SetBarText(text); }
    void SetStartTime() override { m_bar.RestartClock(); }
    // True once the dialog's Abort button set the flag.
    bool IsAborted() const override { return m_abort != 0; }

private:
    TProgressTimeToComplete& m_bar;
    const int& m_abort;
};

}  // namespace products
