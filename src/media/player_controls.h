// The player's "Load File" button and its bars.
#pragma once

namespace tarnwick {

class Station;
struct MediaState;

void Command3_Click(Station& s, MediaState& m);  // Load File: always asks for a file
void H1_Scroll(Station& s);                      // seek while the thumb is dragged
void V1_Change(Station& s);                      // volume, written back into VolSet
void H2_Change(Station& s);                      // balance
void V2_Change(Station& s);                      // speed, percent

// Gives a newly built graph the volume, balance and speed the bars show: a
// graph starts at the component's own full level, and the bars' change rules
// may have run while there was no graph (the stored volume at start-up) or
// for the graph a load replaced. Each step ignores failures.
void applyBarsToGraph(Station& s);

}  // namespace tarnwick
