// The time-of-day schedule and the DTMF command.
#pragma once

#include <optional>
#include <string>

namespace tarnwick {

class Station;
struct LocalTime;

// The schedule's memory: the last second a tick stood for, and the last
// second it transmitted in (local wall-clock seconds).
struct ScheduleMemory {
    std::optional<long long> lastSecond;
    std::optional<long long> firedSecond;
    std::optional<long long> droppedSecond;  // the last target second held back (logged once)
};

// The clock text of a local time: always 24-hour "HH:MM:SS". The schedule
// compares its target with exactly this text, so a 12-hour text (with its
// day-period suffix) would never match any target.
std::string timeOfDayText(const LocalTime& t);

// Timer2, every second: shows the clock, then, with Check2 at 1, asks the
// node whether it is in use (and stops if so), then transmits (listed busy when asked)
// when the target "Hour3:Mins3:00" is the clock text of a second on a ticked
// weekday. Each target second is acted on exactly once: a tick that comes
// late still finds the second it passed over (up to a few seconds back), and
// a second already acted on is not acted on again. A target second held
// back while the node is in use is dropped, with one line in the station
// log. Node failures end the program (the uncaught regime).
void Timer2_Timer(Station& s, ScheduleMemory& m);

// The node's DTMFString event: with Check2 at 1 and the node in use the
// command is dropped; a string equal to DTMFInfo3 (exactly) transmits. The
// station log gets a line for every string: transmitted, dropped (and why)
// or ignored as not the code.
void EchoLink_DTMFString(Station& s, const std::string& digits);

}  // namespace tarnwick
