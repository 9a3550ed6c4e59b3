#include "scenario/TimerCensus.h"

#include <QAbstractEventDispatcher>
#include <QDialog>
#include <QTimer>

#include <mutex>
#include <unordered_set>

// QtCore's table of hooks for debugging tools; no public header declares it.
extern quintptr Q_CORE_EXPORT qtHookData[];

namespace kvscenario {
namespace {

// The slots of qtHookData that the census uses.
constexpr int kHookDataVersion = 0;
constexpr int kHookDataSize = 1;
constexpr int kAddObject = 3;
constexpr int kRemoveObject = 4;

using ObjectHook = void (*)(QObject*);

// Every QObject alive since the hooks went in. Objects of other threads are kept as well; they
// are only compared, never touched, unless this thread's dispatcher holds a timer of theirs.
struct LiveObjects {
    std::mutex mutex;
    std::unordered_set<QObject*> objects;
    ObjectHook previousAdd = nullptr;
    ObjectHook previousRemove = nullptr;
    bool tracking = false;
};

LiveObjects& Live() {
    static LiveObjects live;
    return live;
}

void Added(QObject* object) {
    LiveObjects& live = Live();
    {
        std::lock_guard<std::mutex> lock(live.mutex);
        if (live.tracking) {
            live.objects.insert(object);
        }
    }
    if (live.previousAdd) {
        live.previousAdd(object);
    }
}

void Removed(QObject* object) {
    LiveObjects& live = Live();
    {
        std::lock_guard<std::mutex> lock(live.mutex);
        live.objects.erase(object);
    }
    if (live.previousRemove) {
        live.previousRemove(object);
    }
}

quintptr HookValue(ObjectHook hook) {
    return reinterpret_cast<quintptr>(hook);
}

// The objects to ask the dispatcher about: every live one, and what can be reached from the
// dialog and the dispatcher (all there is to ask about without the hooks).
std::unordered_set<QObject*> Candidates(const QDialog* dialog, QAbstractEventDispatcher* dispatcher) {
    std::unordered_set<QObject*> objects;
    LiveObjects& live = Live();
    {
        std::lock_guard<std::mutex> lock(live.mutex);
        objects = live.objects;
    }
    const QObjectList timers = dispatcher->children();
    objects.insert(timers.begin(), timers.end());
    if (dialog) {
        objects.insert(const_cast<QDialog*>(dialog));
        const QList<QObject*> inside = dialog->findChildren<QObject*>();
        objects.insert(inside.begin(), inside.end());
    }
    return objects;
}

}  // namespace

TimerCensus::TimerCensus() {
    LiveObjects& live = Live();
    if (qtHookData[kHookDataVersion] < 1 || qtHookData[kHookDataSize] <= quintptr(kRemoveObject)) {
        return;
    }
    std::lock_guard<std::mutex> lock(live.mutex);
    live.previousAdd = reinterpret_cast<ObjectHook>(qtHookData[kAddObject]);
    live.previousRemove = reinterpret_cast<ObjectHook>(qtHookData[kRemoveObject]);
    live.objects.clear();
    live.tracking = true;
    qtHookData[kAddObject] = HookValue(&Added);
    qtHookData[kRemoveObject] = HookValue(&Removed);
}

TimerCensus::~TimerCensus() {
    LiveObjects& live = Live();
    std::lock_guard<std::mutex> lock(live.mutex);
    if (!live.tracking) {
        return;
    }
    live.tracking = false;
    live.objects.clear();
    // Hooks set on top of ours since stay, and keep calling ours, which then only passes on.
    if (qtHookData[kAddObject] == HookValue(&Added) && qtHookData[kRemoveObject] == HookValue(&Removed)) {
        qtHookData[kAddObject] = HookValue(live.previousAdd);
        qtHookData[kRemoveObject] = HookValue(live.previousRemove);
        live.previousAdd = live.previousRemove = nullptr;
    }
}

bool TimerCensus::Tracking() const {
    LiveObjects& live = Live();
    std::lock_guard<std::mutex> lock(live.mutex);
    return live.tracking;
}

TimerCensus::Snapshot TimerCensus::Take() const {
    Snapshot timers;
    QAbstractEventDispatcher* dispatcher = QAbstractEventDispatcher::instance();
    if (!dispatcher) {
        return timers;
    }
    for (QObject* object : Candidates(nullptr, dispatcher)) {
        for (const QAbstractEventDispatcher::TimerInfo& timer : dispatcher->registeredTimers(object)) {
            timers.emplace(object, timer.timerId);
        }
    }
    return timers;
}

int TimerCensus::Pending(const QDialog& dialog, const Snapshot& before, const QObject* ignore) const {
    QAbstractEventDispatcher* dispatcher = QAbstractEventDispatcher::instance(dialog.thread());
    if (!dispatcher) {
        return 0;
    }
    int pending = 0;
    for (QObject* object : Candidates(&dialog, dispatcher)) {
        const QList<QAbstractEventDispatcher::TimerInfo> timers = dispatcher->registeredTimers(object);
        if (timers.isEmpty()) {
            continue;
        }
        // The object has a timer in this thread, so it lives here and may be looked at.
        bool widget = false, inDialog = false, ignored = false;
        for (const QObject* up = object; up; up = up->parent()) {
            if (up == ignore) {
                ignored = true;
                break;
            }
            if (up == &dialog) {
                inDialog = !widget;
                break;
            }
            widget = widget || up->isWidgetType();
        }
        if (ignored) {
            continue;
        }
        if (inDialog) {
            pending += int(timers.size());
            continue;
        }
        if (widget || (!qobject_cast<const QTimer*>(object) && object->parent() != dispatcher)) {
            continue;
        }
        for (const QAbstractEventDispatcher::TimerInfo& timer : timers) {
            pending += before.count({object, timer.timerId}) == 0;
        }
    }
    return pending;
}

}  // namespace kvscenario
