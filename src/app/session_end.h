// The end that comes from outside the window: the process is told to end
// (SIGTERM, SIGINT, SIGHUP on Linux) or the session ends without asking (a
// forced log-off or shutdown on Windows).
#pragma once

namespace tarnwick {

class System;

// Nobody can be asked and the end comes whatever the node answers, so this
// is the close-with-Yes path without the question, each step skipped if it
// fails: "PTT OFF", unkey, Beacon8 off, list the node free, then end the
// program with `status`. Nothing is saved, as when the window is closed.
// Runs directly, not through the dispatcher: it must also end a program
// whose error report is open. The unkey and the listing wait for their
// answers (each bounded by the node's call timeout), so that both have
// left before the process ends.
[[noreturn]] void EndSession(System& s, int status);

}  // namespace tarnwick
