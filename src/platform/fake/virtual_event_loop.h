// The event loop of the tests: virtual time, deterministic order.
//
// Nothing happens until the test advances time; advance() delivers posted
// functions and every timer tick that falls due, in deadline order, moving
// the virtual clock to each deadline. Handlers may advance time themselves
// (a scripted modal box does), which nests ticks inside the waiting
// handler as a real modal loop would.
#pragma once

#include "seams/queued_event_loop.h"

namespace tarnwick {

// Thrown by VirtualEventLoop::endProgram. Deliberately not a std::exception
// or a Failure, so that no handler's error guard can swallow it.
struct ProgramEnded {
    int status;
};

class VirtualEventLoop : public QueuedEventLoop {
public:
    MonoTime now() const override { return now_; }
    // Raises std::logic_error: tests drive time with advance().
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
    using QueuedEventLoop::ticksDelivered;
    using QueuedEventLoop::timerCount;

private:
    // Virtual time wakes nobody: advance() looks for the next deadline.
    void wake(std::optional<MonoTime>) override {}
    void handOverPosted() override {}
    void pumpPending() override { runPosted(); }

    MonoTime now_{0};
    bool ended_ = false;
    int status_ = 0;
    int depth_ = 0;
};

}  // namespace tarnwick
