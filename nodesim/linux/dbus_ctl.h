// `tarnwick-nodesim --ctl ...`: tells the running stand-in what to do.
#pragma once

#include "nodesim/options.h"

namespace tarnwick::nodesim {

// Sends one control command to the stand-in on the session bus and prints
// what it answered (the state, for `state`). Returns the exit status: 0 on
// success, 1 with a message on stderr when no stand-in runs or the command
// failed. Needs a QCoreApplication.
int runControl(const CommandLine& line);

}  // namespace tarnwick::nodesim
