// The node's names on the session bus, as every node program keeps them:
// the program's D-Bus link calls them and the stand-in node answers on them.
// Declared once here so that the two cannot drift apart. Booleans on the
// wire are int16 (0 false, -1 true), as the COM node's are.
#pragma once

namespace tarnwick::wire {

inline constexpr const char* kNodeBusName = "org.tarnwick.Node";
inline constexpr const char* kNodePath = "/org/tarnwick/Node";
inline constexpr const char* kNodeInterface = "org.tarnwick.Node";
inline constexpr const char* kSysopInfoPath = "/org/tarnwick/Node/SysopInfo";
inline constexpr const char* kSysopInfoInterface = "org.tarnwick.SysopInfo";
// The error a node answers a call with when the call failed.
inline constexpr const char* kNodeFailedError = "org.tarnwick.Node.Error.Failed";

}  // namespace tarnwick::wire
