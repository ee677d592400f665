#include "seams/queued_event_loop.h"

namespace tarnwick {

TimerId QueuedEventLoop::addTimer(std::chrono::milliseconds interval, std::function<void()> tick) {
    auto guarded = [this, tick = std::move(tick)] {
        rearm();
        tick();
    };
    const TimerId id = queue_.add(interval, now(), std::move(guarded));
    rearm();
    return id;
}

void QueuedEventLoop::removeTimer(TimerId id) {
    queue_.remove(id);
    rearm();
}

void QueuedEventLoop::post(std::function<void()> fn) {
    posted_.push_back(std::move(fn));
    handOverPosted();
}

void QueuedEventLoop::processPendingEvents() {
    pumpPending();
    fireDue();
}

void QueuedEventLoop::fireDue() {
    ticks_ += queue_.runDue(now());
    rearm();
}

bool QueuedEventLoop::runOnePosted() {
    if (posted_.empty()) return false;
    std::function<void()> fn = std::move(posted_.front());
    posted_.pop_front();
    fn();
    return true;
}

}  // namespace tarnwick
