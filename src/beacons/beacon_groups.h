// The three beacon groups (6 timed file beacon, 7 CW ident, 8 transmit
// break) share one countdown scheme: a one-second timer, a period in minutes,
// a count label in seconds and a "Use" box that freezes the count.
#pragma once

namespace tarnwick {

class CheckBox;
class Label;
class System;
class TextBox;
class Timer;

// The period edit of a group: digits-only style, an emptied period becomes
// "0", a zero period (however many zeros) switches the group's timer off and
// any other switches it on, and the count restarts from the full period.
// Every step ignores failures (a period that is not a number leaves the
// count as it was).
void periodEdit(TextBox& period, Timer& timer, Label& count, System& s);

// One countdown tick: with "Use" ticked the count falls by one; returns true
// when the count then reads "0", after resetting it to the full period.
// Raises on a count or period that is not a number.
bool countdownTick(CheckBox& use, Label& count, TextBox& period, System& s);

void BeaconPeriod6_Change(System& s);
void BeaconPeriod7_Change(System& s);
void BeaconPeriod8_Change(System& s);

void Beacon6_Timer(System& s);   // timed file beacon
void Command6_Click(System& s);  // "Send Now"
void Beacon7_Timer(System& s);   // CW ident
void SendCW_Click(System& s);    // "Send ID"
void Beacon8_Timer(System& s);   // keyed seconds to the next transmit break

}  // namespace tarnwick
