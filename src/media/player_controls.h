// The player's bars: volume, balance and speed reach the graph when a bar
// changes. Every step ignores failures (no graph loaded, for instance).
#pragma once

namespace tarnwick {

class System;

void V1_Change(System& s);  // volume, and its value written back into VolSet

}  // namespace tarnwick
