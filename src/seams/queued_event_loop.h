// The part of every event loop that does not depend on the platform: the
// system's timers in one TimerQueue, and the posted functions in one queue.
//
// A platform supplies only what its loop does its own way: the clock
// (now), one wake-up armed for the next deadline (wake), the hand-over of a
// posted function to the loop thread (handOverPosted), and running its
// events (pumpPending, run). Its loop calls fireDue() when the wake-up comes
// and runOnePosted() once per hand-over.
//
// The wake-up is armed again after every change of the queue, and also
// before each tick handler runs, for the other timers: the handler may open
// a modal box, whose nested loop must still be woken for them. By then the
// queue has moved the ticking timer's deadline on and marked it running, so
// the wake-up does not count it.
#pragma once

#include <cstddef>
#include <deque>
#include <functional>
#include <optional>

#include "seams/event_loop.h"
#include "seams/timer_queue.h"

namespace tarnwick {

class QueuedEventLoop : public EventLoop {
public:
    QueuedEventLoop() = default;
    QueuedEventLoop(const QueuedEventLoop&) = delete;
    QueuedEventLoop& operator=(const QueuedEventLoop&) = delete;

    TimerId addTimer(std::chrono::milliseconds interval, std::function<void()> tick) override;
    void removeTimer(TimerId id) override;
    void post(std::function<void()> fn) override;
    // The platform's pending events (pumpPending), then every timer due by now.
    void processPendingEvents() override;

protected:
    // Arms the platform's one wake-up for `deadline`, replacing the one
    // armed before; disarms it when no timer may fire. Round the wait up:
    // a wake-up that comes early finds nothing due and only arms again.
    virtual void wake(std::optional<MonoTime> deadline) = 0;
    // Has the loop thread call runOnePosted() once, after what its queue
    // holds already.
    virtual void handOverPosted() = 0;
    // Runs what the platform has pending now, once.
    virtual void pumpPending() = 0;

    // Delivers every due timer, then arms the wake-up afresh: whatever ran,
    // nested loops included, the next deadline is taken from the queue.
    void fireDue();
    // Runs the oldest posted function. Returns false when none was waiting.
    bool runOnePosted();
    void dropPosted() { posted_.clear(); }

    std::optional<MonoTime> nextDeadline() const { return queue_.nextDeadline(); }
    std::size_t timerCount() const { return queue_.size(); }
    // Ticks delivered so far.
    long long ticksDelivered() const { return ticks_; }

private:
    void rearm() { wake(queue_.nextDeadline()); }

    TimerQueue queue_;
    std::deque<std::function<void()>> posted_;
    long long ticks_ = 0;
};

}  // namespace tarnwick
