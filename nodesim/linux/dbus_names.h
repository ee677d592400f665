// The stand-in's names on the session bus. The node's own names are the
// contract every node program keeps (wire/node_dbus.h, shared with the
// program's link); the control object is the stand-in's alone and is what
// `tarnwick-nodesim --ctl` talks to.
#pragma once

#include "wire/node_dbus.h"

namespace tarnwick::nodesim {

inline constexpr const char* kBusName = wire::kNodeBusName;
using wire::kNodeInterface;
using wire::kNodePath;
using wire::kSysopInfoInterface;
using wire::kSysopInfoPath;
// The error a call made to fail answers with.
inline constexpr const char* kFailedError = wire::kNodeFailedError;
inline constexpr const char* kControlPath = "/org/tarnwick/NodeSim";
inline constexpr const char* kControlInterface = "org.tarnwick.NodeSim";
inline constexpr const char* kUnknownOperationError = "org.tarnwick.NodeSim.Error.UnknownOperation";

}  // namespace tarnwick::nodesim
