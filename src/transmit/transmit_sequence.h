// The transmit sequence: key the node and play the file from its start.
#pragma once

namespace tarnwick {

class System;

// The transmit steps shared by every start path (Play, the timed beacon, the
// DTMF command and TXFile): load the file if none was loaded, clear the
// position text, list the node busy when `listBusy` and ListAsBusyCheck is
// 1, key, start the break count, run from 0. Each step ignores failures.
// When there is nothing to play (no graph after the load, or the load was
// refused) nothing is keyed or listed: a keyed transmitter with no audio
// would stay on the air until someone notices.
void transmitSteps(System& s, bool listBusy);

// TXFile: the transmit steps with the node listed busy when asked.
void TXFile(System& s);

// Ends a transmission as at the end of the file: listed free, unkeyed, the
// break count stopped. Each step ignores failures.
void endTransmission(System& s);

}  // namespace tarnwick
