// NodeLink: the EchoLink node, reached through its automation server.
//
// Implementations: the D-Bus client (platform/linux/dbus_node.cpp), the COM
// client (Windows), and the recording node of the tests
// (platform/fake/recording_node.h).
//
// Every call is synchronous (but see the two IgnoringAnswer calls) and made
// on the loop thread. A call that fails
// (the server answers with an error, is gone, or does not answer within 30
// seconds: a node busy for a few seconds is slow, not gone) raises Failure
// with the failure's number and description; the calling handler's regime
// decides what follows.
//
// Booleans cross as 16-bit values: the system passes -1 for true and 0 for
// false, and takes any returned value other than 0 as true.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace tarnwick {

using NodeBool = std::int16_t;
inline constexpr NodeBool kNodeTrue = -1;
inline constexpr NodeBool kNodeFalse = 0;
inline constexpr NodeBool nodeBool(bool b) { return b ? kNodeTrue : kNodeFalse; }

// Returned by GetSysopInfo; used for one read and released at once.
class SysopInfo {
public:
    virtual ~SysopInfo() = default;
    virtual std::string GetCallsign() = 0;
};

// The node's two events. Delivered on the loop thread between other
// handlers, never inside a node call.
class NodeEvents {
public:
    virtual ~NodeEvents() = default;
    virtual void DTMFString(const std::string& digits) = 0;
    virtual void Closing() = 0;
};

class NodeLink {
public:
    virtual ~NodeLink() = default;
    virtual void SetPtt(NodeBool on) = 0;                // key (-1) or unkey (0) the transmitter
    virtual NodeBool GetBusyFlagA() = 0;
    virtual NodeBool GetReceivingSignal() = 0;           // the receiver hears a signal
    virtual NodeBool GetPttState() = 0;                  // the transmitter is keyed
    virtual NodeBool GetBusyFlagB() = 0;
    virtual void SendCwText(std::int32_t mode, const std::string& text) = 0;  // the node sends Morse by itself
    virtual std::unique_ptr<SysopInfo> GetSysopInfo() = 0;
    virtual void SetListedBusy(NodeBool busy) = 0;       // list the node busy (-1) or free (0)

    // The same two calls for a step that ignores failures: a link may send
    // them without waiting for the node's answer, which nobody would read.
    // The node still takes its calls in the order they were sent. Idle, the
    // progress tick makes two of these a hundred times a second; waiting
    // for each answer was most of what an idle program cost.
    virtual void SetPttIgnoringAnswer(NodeBool on) { SetPtt(on); }
    virtual void SetListedBusyIgnoringAnswer(NodeBool busy) { SetListedBusy(busy); }
};

// The platform's component service: creates the node object and subscribes
// `events` to it. Raises Failure when no node can be had.
class NodeConnector {
public:
    virtual ~NodeConnector() = default;
    virtual std::unique_ptr<NodeLink> create(NodeEvents& events) = 0;
};

// True when any of GetBusyFlagA, GetReceivingSignal, GetBusyFlagB returns
// non-zero. All three are always called, in that order.
bool NodeInUse(NodeLink& node);

// The same test, keeping which of the three said "in use", so that a
// trigger held back can say why.
struct NodeUse {
    bool busyA = false, receiving = false, busyB = false;
    bool any() const { return busyA || receiving || busyB; }
    // "node in use (busy flag A, receiving signal)"; "" when not in use.
    std::string why() const;
};
NodeUse askNodeUse(NodeLink& node);

}  // namespace tarnwick
