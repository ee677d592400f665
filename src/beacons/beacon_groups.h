// The three beacon groups (6 timed file beacon, 7 CW ident, 8 transmit
// break) share one countdown scheme: a one-second timer, a period in minutes,
// a count label in seconds and a "Use" box that freezes the count.
#pragma once

namespace tarnwick {

class Label;
class System;
class TextBox;
class Timer;

// The period edit of a group: digits-only style, an emptied period becomes
// "0", an empty or "0" period switches the group's timer off and any other
// switches it on, and the count restarts from the full period. Every step
// ignores failures (a period that is not a number leaves the count as it was).
void periodEdit(TextBox& period, Timer& timer, Label& count, System& s);

void BeaconPeriod6_Change(System& s);
void BeaconPeriod7_Change(System& s);
void BeaconPeriod8_Change(System& s);

}  // namespace tarnwick
