#include "platform/fake/virtual_event_loop.h"

#include <stdexcept>

namespace tarnwick {

TimerId VirtualEventLoop::addTimer(std::chrono::milliseconds interval, std::function<void()> tick) {
    ++timerCount_;
    return queue_.add(interval, now_, std::move(tick));
}

void VirtualEventLoop::removeTimer(TimerId id) {
    queue_.remove(id);
    if (timerCount_ > 0) --timerCount_;
}

void VirtualEventLoop::runPosted() {
    while (!posted_.empty() && !ended_) {
        auto fn = std::move(posted_.front());
        posted_.pop_front();
        fn();
    }
}

void VirtualEventLoop::processPendingEvents() {
    runPosted();
    ticks_ += queue_.runDue(now_);
}

void VirtualEventLoop::run() { throw std::logic_error("VirtualEventLoop::run: tests drive time with advance()"); }

void VirtualEventLoop::endProgram(int status) {
    ended_ = true;
    status_ = status;
    posted_.clear();
    throw ProgramEnded{status};
}

bool VirtualEventLoop::advance(MonoTime d) { return advanceTo(now_ + d); }

bool VirtualEventLoop::advanceTo(MonoTime t) {
    if (ended_) return false;
    // Only the outermost advance (the test's own) stops the unwinding of an
    // ended program; a nested one (inside a scripted modal box) must let it
    // pass, or the waiting handler would run on after the end.
    struct Depth {
        int& d;
        explicit Depth(int& x) : d(x) { ++d; }
        ~Depth() { --d; }
    } depth(depth_);
    try {
        for (;;) {
            runPosted();
            auto next = queue_.nextDeadline();
            if (!next || *next > t) break;
            if (*next > now_) now_ = *next;
            ticks_ += queue_.runDue(now_);
        }
        if (t > now_) now_ = t;
        runPosted();
    } catch (const ProgramEnded&) {
        if (depth_ > 1) throw;
        return false;
    }
    return !ended_;
}

}  // namespace tarnwick
