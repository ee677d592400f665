// Drives the window model's Timer controls from the event loop.
//
// Until start() the timers only hold their state (start-up runs before any
// tick); from then on an enabled timer ticks every interval, a disabled one
// not at all, and a new interval restarts the timer's period.
#pragma once

#include "window/controls.h"

#include <map>

namespace tarnwick {

class EventLoop;
class Form;

class TimerBinder : public ControlObserver {
public:
    TimerBinder(Form& form, EventLoop& loop);
    ~TimerBinder() override;

    void start();
    void controlChanged(Control& control, Property property) override;

private:
    void arm(Timer& t);
    void disarm(Timer& t);

    Form& form_;
    EventLoop& loop_;
    bool live_ = false;
    std::map<Timer*, std::uint64_t> armed_;
};

}  // namespace tarnwick
