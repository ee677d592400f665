// The time-of-day schedule and the DTMF command.
#pragma once

#include <string>

namespace tarnwick {

class System;
struct LocalTime;

// The clock text of a local time: always 24-hour "HH:MM:SS". The schedule
// compares its target with exactly this text, so a 12-hour text (with its
// day-period suffix) would never match any target.
std::string timeOfDayText(const LocalTime& t);

// Timer2, every second: shows the clock, then, with Check2 at 1, asks the
// node whether it is in use (and stops if so), then transmits with TXFile
// when the target "Hour3:Mins3:00" is the clock text of a second on a ticked
// weekday. Each target second is acted on exactly once: a tick that comes
// late still finds the second it passed over (up to a few seconds back), and
// a second already acted on is not acted on again. A target second held
// back while the node is in use is dropped, with one line in the station
// log. Node failures end the program (the uncaught regime).
void Timer2_Timer(System& s);

// The node's DTMFString event: with Check2 at 1 and the node in use the
// command is dropped; a string equal to DTMFInfo3 (exactly) transmits. The
// station log gets a line for every string: transmitted, dropped (and why)
// or ignored as not the code.
void EchoLink_DTMFString(System& s, const std::string& digits);

}  // namespace tarnwick
