#include "station/timer_binder.h"

#include "seams/event_loop.h"
#include "window/form.h"

namespace tarnwick {

TimerBinder::TimerBinder(Form& form, EventLoop& loop) : form_(form), loop_(loop) { form_.addObserver(this); }

TimerBinder::~TimerBinder() {
    form_.removeObserver(this);
    for (auto& [t, id] : armed_) loop_.removeTimer(id);
}

void TimerBinder::start() {
    live_ = true;
    for (Timer* t : form_.timers()) {
        if (t->enabled()) arm(*t);
    }
}

void TimerBinder::controlChanged(Control& control, Property property) {
    if (!live_ || control.kind() != ControlKind::Timer) return;
    auto& t = static_cast<Timer&>(control);
    if (property == Property::Enabled) {
        t.enabled() ? arm(t) : disarm(t);
    } else if (property == Property::Interval) {
        disarm(t);
        if (t.enabled()) arm(t);
    }
}

void TimerBinder::arm(Timer& t) {
    if (armed_.count(&t) != 0 || t.interval() <= 0) return;
    armed_[&t] = loop_.addTimer(std::chrono::milliseconds(t.interval()), [&t] { t.tick(); });
}

void TimerBinder::disarm(Timer& t) {
    auto it = armed_.find(&t);
    if (it == armed_.end()) return;
    loop_.removeTimer(it->second);
    armed_.erase(it);
}

}  // namespace tarnwick
