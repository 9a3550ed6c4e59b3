// Which timers a dialog has pending, so that the runner leaves alone a dialog that is about to act
// by itself (a progress window that starts its work from a timer, a dialog that makes its first
// computation once it shows) and answers it only once it waits for the operator.
//
// Qt keeps no public list of a thread's pending timers: its event dispatcher answers only which
// timers a given object has (QAbstractEventDispatcher::registeredTimers). The dialog's own tree is
// walked directly, but a timer need not stand in it: a QTimer member made without a parent, a
// QTimer::singleShot (whose timer object Qt parents to the dispatcher) or a QTimer the dialog
// hands to the application. So the census keeps every live QObject, through the object hooks
// that QtCore exports for debugging tools (qtHookData: called from every QObject's constructor
// and destructor; versioned, and chained to hooks already set), and asks the dispatcher about each
// of them. Without the hooks (another Qt) it still sees the dialog's tree and the single-shot
// timers.
#pragma once

#include <set>
#include <utility>

class QDialog;
class QObject;

namespace kvscenario {

class TimerCensus {
public:
    // The timers registered at one moment, by object and timer id.
    using Snapshot = std::set<std::pair<const QObject*, int>>;

    // Installs the object hooks; one census at a time.
    TimerCensus();
    ~TimerCensus();
    TimerCensus(const TimerCensus&) = delete;
    TimerCensus& operator=(const TimerCensus&) = delete;

    // The timers registered now in the calling thread.
    Snapshot Take() const;

    // How many timers the dialog has pending: those of the dialog itself and of the objects it
    // holds that are no widgets (reached through such objects only), and, among the timers
    // registered since `before` was taken, those of QTimers that no widget holds and of single-shot
    // timers. The timers of widgets and of what they hold (blinking cursors, style animations,
    // tooltips) are the widgets' own and never end by themselves; those of `ignore` and of the
    // objects below it are left out too.
    int Pending(const QDialog& dialog, const Snapshot& before, const QObject* ignore) const;

    // Whether the object hooks are in place.
    bool Tracking() const;
};

}  // namespace kvscenario
