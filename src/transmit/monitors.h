// The PTT and receiver monitors, and the end of a transmit break.
#pragma once

namespace tarnwick {

class System;

// Timer4, every 100 ms: "Receiving Signal" while the node hears a signal.
void Timer4_Timer(System& s);

// Timer5, every 100 ms: lets pending events run, then shows the node's own
// transmitter state in PTT ("PTT ON" red, "PTT OFF" green), overriding what
// the transmit paths wrote.
void Timer5_Timer(System& s);

// Timer3: counts a transmit break down in Label18 and keys again at its
// end. The break lasts Text6 milliseconds of wall-clock time while "Use" is
// ticked (a platform cannot deliver a tick every millisecond). A countdown
// that is not a break of a running transmission (the break length's rule
// switches Timer3 on at start-up) never keys: it stops at its first tick.
void Timer3_Timer(System& s);

// Starts a break: unkeys, stops the keyed-seconds count and starts Timer3.
void startBreak(System& s);
// Ends a break early (the transmission ended): Timer3 off, Label18 back
// to the break length.
void cancelBreak(System& s);

}  // namespace tarnwick
