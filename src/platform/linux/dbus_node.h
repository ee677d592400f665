// The node over the session D-Bus: the Linux face of the automation server.
//
// The node is whoever owns the bus name org.tarnwick.Node (the stand-in
// tarnwick-nodesim, or any node program with the same interface): object
// /org/tarnwick/Node, interface org.tarnwick.Node. Booleans are int16.
// A call that gets an error reply, or no answer within two seconds, raises
// Failure (err::kAutomationError) with the bus's error name and message.
// Events arrive as the signals DTMFString(s) and Closing() and are handed to
// NodeEvents from the Qt event loop, never inside a call.
#pragma once

#include "node/node_link.h"

#include <QDBusConnection>

namespace tarnwick {

inline constexpr const char* kNodeService = "org.tarnwick.Node";
inline constexpr const char* kNodePath = "/org/tarnwick/Node";
inline constexpr const char* kNodeInterface = "org.tarnwick.Node";
inline constexpr const char* kSysopInfoInterface = "org.tarnwick.SysopInfo";
inline constexpr int kNodeCallTimeoutMs = 2000;

class DbusNodeConnector : public NodeConnector {
public:
    explicit DbusNodeConnector(QDBusConnection bus = QDBusConnection::sessionBus());
    // Raises Failure when the bus cannot be reached or no node owns the name.
    std::unique_ptr<NodeLink> create(NodeEvents& events) override;

private:
    QDBusConnection bus_;
};

}  // namespace tarnwick
