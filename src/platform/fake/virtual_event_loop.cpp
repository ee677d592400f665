#include "platform/fake/virtual_event_loop.h"

#include <stdexcept>

namespace tarnwick {

void VirtualEventLoop::runPosted() {
    while (!ended_ && runOnePosted()) {
    }
}

void VirtualEventLoop::run() { throw std::logic_error("VirtualEventLoop::run: tests drive time with advance()"); }

void VirtualEventLoop::endProgram(int status) {
    ended_ = true;
    status_ = status;
    dropPosted();
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
            auto next = nextDeadline();
            if (!next || *next > t) break;
            if (*next > now_) now_ = *next;
            fireDue();
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
