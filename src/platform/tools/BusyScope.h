// The busy state of the program: code that is in the middle of work marks it, and every close
// path refuses while it is set (CloseGuard.h). Long workers hold it around the loop in which
// they pump messages, ZQT_PumpMessages holds it while it dispatches, and the project document
// holds it while a command procedure runs.
#pragma once

namespace kv {

// Marks the program busy for as long as it lives.
class BusyScope {
public:
    BusyScope();
    ~BusyScope();
    BusyScope(const BusyScope&) = delete;
    BusyScope& operator=(const BusyScope&) = delete;
};

// Marks a worker dispatching the pending messages between its blocks (ZQT_PumpMessages) for as
// long as it lives: the program is at work, and the event loop runs only because it pumps.
class PumpScope {
public:
    PumpScope();
    ~PumpScope();
    PumpScope(const PumpScope&) = delete;
    PumpScope& operator=(const PumpScope&) = delete;
};

// Whether a PumpScope lives: code that runs from the event loop now runs inside a worker's pump.
bool Pumping();

// Number of live BusyScope objects.
int BusyCount();
// Number of times the program has become busy: one piece of work, a command from its start to
// its end for example, is one episode however often it pumps messages.
int BusyEpisode();

}  // namespace kv
