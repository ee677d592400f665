// The progress tick and the player's buttons and bars.
#pragma once

#include <string>

namespace tarnwick {

class System;

// "hh:mm:ss" for a number of seconds: "00:00:00" below one second,
// "24:59:59" beyond 24 h 59 min 59 s.
std::string FormatClock(double seconds);

// Timer1, every 10 ms: ends the transmission once the position text equals
// the length text (on every tick while they stay equal, and while no
// transmission runs), then shows the position, the time left, the length
// and the position text. Each step ignores failures (no graph: steps 2 to 5
// do nothing).
void Timer1_Timer(System& s);

void Command1_Click(System& s);  // Play: the transmit steps, not listed busy
void Command2_Click(System& s);  // Stop: unkey, halt and list the node free
void Command3_Click(System& s);  // Load File: always asks for a file
void Command4_Click(System& s);  // Resume: key and continue where it stands
void H1_Scroll(System& s);       // seek while the thumb is dragged
void V1_Change(System& s);       // volume, written back into VolSet
void H2_Change(System& s);       // balance
void V2_Change(System& s);       // speed, percent

// Gives a newly built graph the volume, balance and speed the bars show: a
// graph starts at the component's own full level, and the bars' change rules
// may have run while there was no graph (the stored volume at start-up) or
// for the graph a load replaced. Each step ignores failures.
void applyBarsToGraph(System& s);

}  // namespace tarnwick
