// The transmit sequence: key the node and play the file from its start,
// the player's Play, Stop and Resume, and the progress tick that ends a
// transmission at the end of the file.
#pragma once

#include "station/station.h"
#include "transmit/transmit_break.h"

#include <string>

namespace tarnwick {

// The transmit feature's state.
struct Transmission {
    bool running = false;  // a start path keyed the node and nothing has ended it
    TransmitBreak transmitBreak;
};

// The transmit steps shared by every start path (Play, the timed beacon, the
// DTMF command and TXFile): load the file if none was loaded, clear the
// position text, list the node busy when `listBusy` is Yes and
// ListAsBusyCheck is 1, key, start the break count, run from 0. Each step ignores failures.
// When there is nothing to play (no graph after the load, or the load was
// refused) nothing is keyed or listed: a keyed transmitter with no audio
// would stay on the air until someone notices. `trigger` names the start
// path in the station log ("Play", "timed beacon", ...), which also says
// why a start keyed nothing.
void transmitSteps(Station& s, Transmission& t, ListBusy listBusy, const std::string& trigger);

// TXFile: the transmit steps with the node listed busy when asked.
void TXFile(Station& s, Transmission& t, const std::string& trigger = "schedule");

// Ends a transmission as at the end of the file: listed free, unkeyed, the
// break count stopped. Each step ignores failures. The station log hears of
// it (as `how`) only when a transmission was running: idle, the progress
// tick calls this every 10 ms.
void endTransmission(Station& s, Transmission& t, const std::string& how = "end of file");

// The transmitter's safe state, for paths on which no tick will run again
// (the error report, the node closing during start-up): unkey, list the
// node free, stop the playback, each step skipped if it fails. The node
// calls are sent without waiting for answers, so a node that stopped
// answering cannot hold the unkey back.
void makeSafe(Station& s, Transmission& t);

// The graph was released (a new load): a transmission running on it ends
// as at the end of the file, since nothing else would ever unkey it.
void graphReleased(Station& s, Transmission& t);

// Timer1, every 10 ms: ends the transmission once the position text equals
// the length text (on every tick while they stay equal, and while no
// transmission runs), then shows the position, the time left, the length
// and the position text. Each step ignores failures (no graph: steps 2 to 5
// do nothing).
void Timer1_Timer(Station& s, Transmission& t);

void Command1_Click(Station& s, Transmission& t);  // Play: the transmit steps, not listed busy
void Command2_Click(Station& s, Transmission& t);  // Stop: unkey, halt and list the node free
void Command4_Click(Station& s, Transmission& t);  // Resume: key and continue where it stands

}  // namespace tarnwick
