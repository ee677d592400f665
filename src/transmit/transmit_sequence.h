// The transmit sequence: key the node and play the file from its start.
#pragma once

#include <string>

namespace tarnwick {

class System;

// Whether a start path lists the node busy (TXFile does, when
// ListAsBusyCheck is 1; the other start paths never do).
enum class ListBusy { No, Yes };

// The transmit steps shared by every start path (Play, the timed beacon, the
// DTMF command and TXFile): load the file if none was loaded, clear the
// position text, list the node busy when `listBusy` is Yes and
// ListAsBusyCheck is 1, key, start the break count, run from 0. Each step ignores failures.
// When there is nothing to play (no graph after the load, or the load was
// refused) nothing is keyed or listed: a keyed transmitter with no audio
// would stay on the air until someone notices. `trigger` names the start
// path in the station log ("Play", "timed beacon", ...), which also says
// why a start keyed nothing.
void transmitSteps(System& s, ListBusy listBusy, const std::string& trigger);

// TXFile: the transmit steps with the node listed busy when asked.
void TXFile(System& s, const std::string& trigger = "schedule");

// Ends a transmission as at the end of the file: listed free, unkeyed, the
// break count stopped. Each step ignores failures. The station log hears of
// it (as `how`) only when a transmission was running: idle, the progress
// tick calls this every 10 ms.
void endTransmission(System& s, const std::string& how = "end of file");

}  // namespace tarnwick
