// Deadline arithmetic for periodic timers, shared by every event loop.
//
// A loop asks nextDeadline() when to wake, and calls runDue(now) when it
// wakes. Deadlines are kept on the grid start + k x interval, so a timer does
// not drift however late its ticks are delivered.
#pragma once

#include "seams/event_loop.h"

#include <functional>
#include <map>
#include <optional>

namespace tarnwick {

class TimerQueue {
public:
    TimerId add(std::chrono::milliseconds interval, MonoTime now, std::function<void()> tick);
    void remove(TimerId id);
    std::size_t size() const { return timers_.size(); }

    // The earliest deadline of a timer that may fire (not one whose handler
    // is running).
    std::optional<MonoTime> nextDeadline() const;

    // Delivers each due timer once, earliest deadline first (ties in the
    // order the timers were added). Safe against handlers that add or remove
    // timers or run nested loops that call runDue again. Returns the number
    // of ticks delivered.
    int runDue(MonoTime now);

private:
    struct Entry {
        MonoTime interval;
        MonoTime deadline;
        std::function<void()> tick;
        bool running = false;
    };
    // Ids grow, so the map's order is the order of creation.
    std::map<TimerId, Entry> timers_;
    TimerId nextId_ = 1;
};

}  // namespace tarnwick
