// The transmit break: after BeaconPeriod8 minutes keyed (counted while
// "Use" is ticked) the transmitter is unkeyed for Text6 milliseconds, then
// keyed again while the file plays on. Its state, its two timers (Beacon8
// counts the keyed seconds, Timer3 the break), its fields' rules and its
// cancel live here.
#pragma once

#include "seams/event_loop.h"

namespace tarnwick {

class Station;
struct Transmission;

// A transmit break in progress: how long it has run (while "Use" is
// ticked) and when Timer3 last looked.
struct TransmitBreak {
    bool active = false;
    MonoTime elapsed{0};
    MonoTime lastTick{0};
};

// Starts a break: unkeys, stops the keyed-seconds count and starts Timer3.
void startBreak(Station& s, TransmitBreak& b);
// Ends a break early (the transmission ended or started again): Timer3
// off, Label18 back to the break length.
void cancelBreak(Station& s, TransmitBreak& b);

// Timer3: counts a transmit break down in Label18 and keys again at its
// end. The break lasts Text6 milliseconds of wall-clock time while "Use" is
// ticked (a platform cannot deliver a tick every millisecond). A countdown
// that is not a break of a running transmission (the break length's rule
// switches Timer3 on at start-up) never keys: it stops at its first tick.
void Timer3_Timer(Station& s, TransmitBreak& b);

// Beacon8: the keyed seconds to the next break; at "0" a break of some
// length starts and the count restarts from the full period.
void Beacon8_Timer(Station& s, TransmitBreak& b);

// The break period's edit: the group's period rule, and the keyed-seconds
// count stays off unless a transmission is keyed.
void BeaconPeriod8_Change(Station& s, const Transmission& t);

// The break length's rule (Text6): digits only, emptied becomes "0", Timer3
// on for a length other than "0", Label18 shows the length.
void Text6_Change(Station& s);

}  // namespace tarnwick
