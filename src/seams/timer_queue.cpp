#include "seams/timer_queue.h"

#include <algorithm>

namespace tarnwick {

TimerId TimerQueue::add(std::chrono::milliseconds interval, MonoTime now, std::function<void()> tick) {
    // A zero interval would spin; the window system's timers never fire
    // faster than their resolution, so take 1 ms as the floor.
    MonoTime iv = std::max<MonoTime>(interval, std::chrono::milliseconds(1));
    TimerId id = nextId_++;
    timers_.emplace(id, Entry{iv, now + iv, std::move(tick)});
    return id;
}

void TimerQueue::remove(TimerId id) { timers_.erase(id); }

std::optional<MonoTime> TimerQueue::nextDeadline() const {
    std::optional<MonoTime> best;
    for (const auto& [id, e] : timers_) {
        if (e.running) continue;
        if (!best || e.deadline < *best) best = e.deadline;
    }
    return best;
}

int TimerQueue::runDue(MonoTime now) {
    int delivered = 0;
    for (;;) {
        // Pick the earliest due timer that is not running.
        TimerId pick = 0;
        const Entry* best = nullptr;
        for (const auto& [id, e] : timers_) {
            if (e.running || e.deadline > now) continue;
            if (best == nullptr || e.deadline < best->deadline) {
                best = &e;
                pick = id;
            }
        }
        if (best == nullptr) return delivered;

        Entry& e = timers_.at(pick);
        // Advance on the grid past `now` before the tick runs, so that a
        // nested runDue does not deliver it again and missed ticks collapse.
        const auto late = (now - e.deadline) / e.interval;
        e.deadline += e.interval * (late + 1);
        e.running = true;
        auto tick = e.tick;  // the entry may be removed by its own handler
        ++delivered;
        struct Reset {
            TimerQueue* q;
            TimerId id;
            ~Reset() {
                auto it = q->timers_.find(id);
                if (it != q->timers_.end()) it->second.running = false;
            }
        } reset{this, pick};
        tick();
    }
}

}  // namespace tarnwick
