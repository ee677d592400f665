// The PTT and receiver monitors.
#pragma once

namespace tarnwick {

class Station;

// Timer4, every 100 ms: "Receiving Signal" while the node hears a signal.
void Timer4_Timer(Station& s);

// Timer5, every 100 ms: lets pending events run, then shows the node's own
// transmitter state in PTT ("PTT ON" red, "PTT OFF" green), overriding what
// the transmit paths wrote.
void Timer5_Timer(Station& s);

}  // namespace tarnwick
