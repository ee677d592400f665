// The event loop seam: the one thread on which everything runs.
//
// Implementations: the Qt loop (platform/linux/qt_event_loop.h), the Win32
// message loop (platform/windows/win32_event_loop.h) and the virtual-time
// loop of the tests (platform/fake/virtual_event_loop.h). All of them are
// QueuedEventLoops (seams/queued_event_loop.h): timers and posted
// functions follow the same code everywhere, and tests/shared/
// event_loop_contract.h checks this contract on each of them.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>

namespace tarnwick {

// Monotonic time since an arbitrary origin.
using MonoTime = std::chrono::nanoseconds;
using TimerId = std::uint64_t;

class EventLoop {
public:
    virtual ~EventLoop() = default;

    // Monotonic now. Virtual in the fake.
    virtual MonoTime now() const = 0;

    // Starts a periodic timer: `tick` runs on the loop thread every
    // `interval` from now on, with deadlines at start + k x interval (no
    // drift). Due timers tick earliest deadline first. A tick that is late
    // by more than one interval is delivered once, not once per missed
    // interval. Timers keep ticking inside the nested loops that handlers
    // run (a modal box waiting for the user), but a timer's tick never
    // re-enters itself: while its handler runs, its own due ticks are
    // dropped. Returns an id for removeTimer(). May be called from a tick.
    virtual TimerId addTimer(std::chrono::milliseconds interval, std::function<void()> tick) = 0;
    // Stops a timer; a removed timer's pending tick is not delivered.
    // Removing an unknown id does nothing. May be called from a tick.
    virtual void removeTimer(TimerId id) = 0;

    // Queues `fn` to run on the loop thread after the current handler, in
    // the order of the calls (also inside nested loops). Loop thread only.
    virtual void post(std::function<void()> fn) = 0;

    // Runs every event that is pending now (posted functions, due timers,
    // input, node events), then returns. Handlers may run nested inside.
    virtual void processPendingEvents() = 0;

    // Runs the loop until endProgram().
    virtual void run() = 0;

    // Ends the program at once: no further handler runs, no pending event is
    // delivered, and nothing after this call executes. The real loops flush
    // stdio and terminate the process (no atexit function or destructor
    // runs); the test loop unwinds to the test with ProgramEnded.
    [[noreturn]] virtual void endProgram(int status) = 0;
};

}  // namespace tarnwick
