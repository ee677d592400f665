// The event loop of the tests: virtual time, deterministic order.
//
// Nothing happens until the test advances time; advance() delivers posted
// functions and every timer tick that falls due, in deadline order, moving
// the virtual clock to each deadline. Handlers may advance time themselves
// (a scripted modal box does), which nests ticks inside the waiting
// handler as a real modal loop would.
#pragma once

#include "platform/event_loop.h"
#include "platform/timer_queue.h"

#include <deque>
#include <functional>

namespace tarnwick {

// Thrown by VirtualEventLoop::endProgram. Deliberately not a std::exception
// or a Failure, so that no handler's error guard can swallow it.
struct ProgramEnded {
    int status;
};

class VirtualEventLoop : public EventLoop {
public:
    MonoTime now() const override { return now_; }
    TimerId addTimer(std::chrono::milliseconds interval, std::function<void()> tick) override;
    void removeTimer(TimerId id) override;
    void post(std::function<void()> fn) override { posted_.push_back(std::move(fn)); }
    void processPendingEvents() override;
    void run() override;
    [[noreturn]] void endProgram(int status) override;

    // Advances virtual time by `d`, delivering everything due on the way.
    // Returns false if the program ended meanwhile.
    bool advance(MonoTime d);
    bool advanceTo(MonoTime t);
    // Delivers posted functions only.
    void runPosted();
    // The loop's thread is held in a call for `d` (a node that does not
    // answer): time passes and nothing is delivered meanwhile.
    void block(MonoTime d) { now_ += d; }

    bool ended() const { return ended_; }
    int exitStatus() const { return status_; }
    std::size_t timerCount() const { return timerCount_; }
    // Ticks delivered so far.
    long long ticksDelivered() const { return ticks_; }

private:
    TimerQueue queue_;
    std::deque<std::function<void()>> posted_;
    MonoTime now_{0};
    bool ended_ = false;
    int status_ = 0;
    std::size_t timerCount_ = 0;
    long long ticks_ = 0;
    int depth_ = 0;
};

}  // namespace tarnwick
