// The node over the session D-Bus: the Linux face of the automation server
// (seams/node_link.h says what every link does).
//
// The node is whoever owns the bus name org.tarnwick.Node (the stand-in
// tarnwick-nodesim, or any node program with the same interface): object
// /org/tarnwick/Node, interface org.tarnwick.Node. Booleans are int16. A
// failed call raises err::kAutomationError with the bus's error name and
// message (org.freedesktop.DBus.Error.NoReply past kNodeCallTimeoutMs).
// The window stands still while a call waits. The calls sent without
// waiting are messages whose replies nobody reads, written to the bus's
// socket at once (a listing may wait for the next write, at the latest
// until the thread waits or awaitSent): written, they outlive the process.
// Events arrive as the signals DTMFString(s) and Closing() from the name's
// owner when the link was made, and are handed on from the Qt event loop.
#pragma once

#include "seams/node_link.h"
#include "wire/node_dbus.h"

#include <QDBusConnection>
#include <chrono>

namespace tarnwick {

using wire::kNodeInterface;
using wire::kNodePath;
using wire::kSysopInfoInterface;
inline constexpr const char* kNodeService = wire::kNodeBusName;
inline constexpr std::chrono::milliseconds kNodeCallTimeoutMs{30000};
// What the bus daemon itself is given to answer (who owns the node's name)
// or to take a message sent without waiting: it does not wait on the node.
inline constexpr std::chrono::milliseconds kBusTimeoutMs{2000};

class DbusNodeConnector : public NodeConnector {
public:
    explicit DbusNodeConnector(QDBusConnection bus = QDBusConnection::sessionBus(),
                               std::chrono::milliseconds callTimeout = kNodeCallTimeoutMs);
    // Raises Failure when the bus cannot be reached or no node owns the name.
    std::unique_ptr<NodeLink> create(NodeEvents& events) override;

private:
    QDBusConnection bus_;
    std::chrono::milliseconds callTimeout_;
};

}  // namespace tarnwick
