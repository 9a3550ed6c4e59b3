// How long a step has waited for what it awaits. Time in which the program is at work (a worker
// pumping its messages between blocks) does not count against the step's limit, since a long
// computation is no failure; but only up to a limit of its own, so that work that never ends
// fails its step instead of holding the run for ever.
#pragma once

#include <QtGlobal>

#include <algorithm>

namespace kvscenario {

class StepClock {
public:
    // Work may take this many times the step's limit.
    static constexpr qint64 kWorkFactor = 20;
    // A pause between two looks longer than this is time the event loop did not run.
    static constexpr qint64 kLookShareMs = 250;

    explicit StepClock(qint64 limitMs) : m_limitMs(limitMs) {}

    void Restart() { m_waitedMs = m_workedMs = 0; }
    // One look at the program, msSinceLast after the previous one.
    void Add(qint64 msSinceLast, bool atWork) {
        (atWork ? m_workedMs : m_waitedMs) += std::min(msSinceLast, kLookShareMs);
    }
    bool WaitedOut() const { return m_waitedMs >= m_limitMs; }
    bool WorkedOut() const { return m_workedMs >= kWorkFactor * m_limitMs; }
    qint64 LimitMs() const { return m_limitMs; }

private:
    qint64 m_limitMs;
    qint64 m_waitedMs = 0;
    qint64 m_workedMs = 0;
};

}  // namespace kvscenario
