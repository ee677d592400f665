#include "schedule/schedule.h"

#include "seams/civil_time.h"
#include "seams/locale.h"
#include "station/station.h"

#include <cstdio>

namespace tarnwick {

namespace {

// How far back a late tick looks for a target second it passed over. A
// tick later than that (a machine that was suspended) does not send an
// identification long after its time.
constexpr long long kCatchUpSeconds = 3;

// Where in each second the clock tick should fall: just after the second
// begins, so that a scheduled identification starts at its second and not
// up to a second later. The window lies wholly after the second's start: a
// window timer may fire a few milliseconds early, and a tick that reads the
// clock just before the second would find the target a second late.
constexpr int kTickPhaseMs = 25;
constexpr int kTickEarliestMs = 5;
constexpr int kTickLatestMs = 70;

// Keeps Timer2's 1000 ms tick on the clock's seconds: the next tick comes
// one shortened interval later when this one fell outside the window (at
// start, after the clock was set, or when the timer or the clock drifts).
void alignTick(Timer& timer, const LocalTime& now) {
    const int ms = now.millisecond;
    const bool onTime = ms >= kTickEarliestMs && ms <= kTickLatestMs;
    const int interval = onTime ? 1000 : 1000 - (ms - kTickPhaseMs + 1000) % 1000;
    if (timer.interval() != interval) timer.setInterval(interval);
}

}  // namespace

std::string timeOfDayText(const LocalTime& t) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "%02d:%02d:%02d", t.hour, t.minute, t.second);
    return buf;
}

void Timer2_Timer(Station& s, ScheduleMemory& m) {
    Form& f = s.form;
    const LocalTime now = s.platform.locale.localNow();
    f.ShowTime.setCaption(timeOfDayText(now));
    const std::string target = f.Hour3.text() + ":" + f.Mins3.text() + ":00";

    // The seconds this tick stands for: those since the last tick, at most a
    // few back; after the clock was set back or jumped far ahead, only this
    // one. A second already acted on is never acted on again, so two ticks
    // in one second (or a second that comes round twice when the clock
    // falls back) send once.
    const long long nowSecs = wallSeconds(now);
    long long from = nowSecs;
    if (m.lastSecond) {
        const long long gap = nowSecs - *m.lastSecond;
        if (gap >= 1 && gap <= kCatchUpSeconds) from = *m.lastSecond + 1;
    }
    m.lastSecond = nowSecs;
    alignTick(f.Timer2, now);

    // Asked on every tick, whatever the time: the node sees the same calls.
    const NodeUse use = f.Check2.value() == 1 ? askNodeUse(s.echoLink()) : NodeUse{};

    CheckBox* days[] = {&f.Sun3, &f.Mon3, &f.Tue3, &f.Wed3, &f.Thur3, &f.Fri3, &f.Sat3};
    for (long long sec = from; sec <= nowSecs; ++sec) {
        const LocalTime t = fromWallSeconds(sec);
        if (days[t.weekday - 1]->value() != 1) continue;
        if (timeOfDayText(t) != target) continue;
        if (m.firedSecond && *m.firedSecond == sec) continue;
        const std::string trigger = "schedule " + f.Hour3.text() + ":" + f.Mins3.text();
        if (use.any()) {
            // Dropped, not postponed; logged once, however many ticks fall in its second.
            if (m.droppedSecond != sec) s.log.dropped(trigger, use.why());
            m.droppedSecond = sec;
            return;
        }
        m.firedSecond = sec;
        s.transmit(ListBusy::Yes, trigger);
        return;
    }
}

void EchoLink_DTMFString(Station& s, const std::string& digits) {
    Form& f = s.form;
    const NodeUse use = f.Check2.value() == 1 ? askNodeUse(s.echoLink()) : NodeUse{};
    if (f.DTMFInfo3.text() != digits) {
        s.log.note("DTMF ignored: \"" + digits + "\" is not the command code");
        return;
    }
    const std::string trigger = "DTMF \"" + digits + "\"";
    if (use.any()) {
        s.log.dropped(trigger, use.why());
        return;
    }
    s.transmit(ListBusy::No, trigger);
}

}  // namespace tarnwick
