// The stand-in's names on the session bus. The node's own names are the
// contract every node program keeps; the control object is the stand-in's
// alone and is what `tarnwick-nodesim --ctl` talks to.
#pragma once

namespace tarnwick::nodesim {

inline constexpr const char* kBusName = "org.tarnwick.Node";
inline constexpr const char* kNodePath = "/org/tarnwick/Node";
inline constexpr const char* kNodeInterface = "org.tarnwick.Node";
inline constexpr const char* kSysopInfoPath = "/org/tarnwick/Node/SysopInfo";
inline constexpr const char* kSysopInfoInterface = "org.tarnwick.SysopInfo";
inline constexpr const char* kControlPath = "/org/tarnwick/NodeSim";
inline constexpr const char* kControlInterface = "org.tarnwick.NodeSim";
// The error a call made to fail answers with.
inline constexpr const char* kFailedError = "org.tarnwick.Node.Error.Failed";
inline constexpr const char* kUnknownOperationError = "org.tarnwick.NodeSim.Error.UnknownOperation";

}  // namespace tarnwick::nodesim
