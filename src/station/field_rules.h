// Input rules and the countdown scheme that several features share: the
// three beacon-style groups (6 timed file beacon, 7 CW ident, 8 keyed seconds
// to the next transmit break) each have a one-second timer, a period in
// minutes, a count label in seconds and a "Use" box that freezes the count.
#pragma once

#include <string>

namespace tarnwick {

class CheckBox;
class Label;
class Station;
class TextBox;
class Timer;

// The digits-only rule: adds the edit style that restricts typing to 0-9.
void applyDigitsOnly(TextBox& box);

// A period of no minutes, however spelt: typed ("0", "00", "000") or stored
// ("0.0", "0e1"). Any other spelling of zero would leave a timer running on
// a count that never comes round again.
bool isZeroPeriod(const std::string& text, const Station& s);

// The period edit of a group: digits-only style, an emptied period becomes
// "0", a zero period (however many zeros) switches the group's timer off and
// any other switches it on, and the count restarts from the full period.
// Every step ignores failures (a period that is not a number leaves the
// count as it was).
void periodEdit(TextBox& period, Timer& timer, Label& count, Station& s);

// One countdown tick: with "Use" ticked the count falls by one; returns true
// when the count then reads "0", after resetting it to the full period.
// Raises on a count or period that is not a number.
bool countdownTick(CheckBox& use, Label& count, TextBox& period, Station& s);

}  // namespace tarnwick
