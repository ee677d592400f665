// NodeLink: the EchoLink node, reached through its automation server.
//
// Backends: the D-Bus link (platform/linux/dbus_node.h), the COM link
// (platform/windows/com_node.h) and the recording node of the tests
// (platform/fake/recording_node.h). Each keeps to what this header says,
// checked on all three by tests/shared/node_link_contract.h; their headers
// add only their wire and their threads.
//
// Calls. Every call is made on the loop thread and waits for the node's
// answer (but see the two IgnoringAnswer calls); the node takes the calls
// in the order they were made, and a call that returns has reached it.
// Booleans cross as 16-bit values as they are given: the system passes -1
// for true and 0 for false, the node reads any value other than 0 as true,
// and what the node returns is handed on as it is.
//
// Failures. A call the node answers with an error, a node that has gone,
// or one that does not answer within the call limit (30 s: a node busy for
// a few seconds is slow, not gone) raises Failure: the backend's number
// (err::kAutomationError, or the HRESULT on COM) and a description that
// names the operation. A failed call takes no effect, and fails only
// itself: the next call is made afresh. The calling handler's regime
// decides what follows. A node that has gone after raising Closing fails
// the calls made to it at once, not after the call limit.
//
// Events. DTMFString and Closing reach NodeEvents from the loop, between
// other handlers, never inside a node call; only the node the link was
// made for raises them.
#pragma once

#include <chrono>
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

// The node's two events (see Events above).
class NodeEvents {
public:
    virtual ~NodeEvents() = default;
    virtual void DTMFString(const std::string& digits) = 0;
    virtual void Closing() = 0;
};

class NodeLink {
public:
    virtual ~NodeLink() = default;
    virtual void SetPtt(NodeBool on) = 0;  // key (-1) or unkey (0) the transmitter
    virtual NodeBool GetBusyFlagA() = 0;
    virtual NodeBool GetReceivingSignal() = 0;  // the receiver hears a signal
    virtual NodeBool GetPttState() = 0;         // the transmitter is keyed
    virtual NodeBool GetBusyFlagB() = 0;
    virtual void SendCwText(std::int32_t mode, const std::string& text) = 0;  // the node sends Morse by itself
    virtual std::unique_ptr<SysopInfo> GetSysopInfo() = 0;
    virtual void SetListedBusy(NodeBool busy) = 0;  // list the node busy (-1) or free (0)

    // The same two calls for a step that ignores failures: a link may send
    // them without waiting for the node's answer, which nobody would read.
    // The node still takes its calls in the order they were sent; a failure
    // of one may go unseen (a link that does not wait raises none). Idle, the
    // progress tick makes two of these a hundred times a second; waiting
    // for each answer was most of what an idle program cost.
    virtual void SetPttIgnoringAnswer(NodeBool on) { SetPtt(on); }
    virtual void SetListedBusyIgnoringAnswer(NodeBool busy) { SetListedBusy(busy); }

    // True once the node has raised Closing, whether or not the event has
    // been delivered yet: at the latest once a call made after it has
    // returned or failed. A node program may quit as soon as it has raised
    // it, and a call already on its way, or made before the event's turn
    // comes, then fails: that failure is the node closing, not a fault.
    virtual bool closingAnnounced() const { return false; }

    // A link may still hold those calls when they return (the COM link
    // hands them to its worker thread), and a process that ends then takes
    // them with it. They are numbered from 1 in the order sent:
    //   lastSent(): the number of the latest one, 0 before the first;
    //   taken(n): call n has reached the node without failure, and every
    //     earlier one has reached it too (a link that never reads the
    //     answers: n has left the process and cannot be lost with it). A
    //     link may answer false for a call that went through (it keeps only
    //     its latest failure), never true for one that did not;
    //   awaitSent(limit): waits up to `limit` until every call sent so far
    //     has been taken or has failed. Called before the program ends.
    // A link that sends them synchronously (the default) has nothing on
    // its way: every call is taken once it has returned.
    virtual std::uint64_t lastSent() const { return 0; }
    virtual bool taken(std::uint64_t /*n*/) const { return true; }
    virtual void awaitSent(std::chrono::milliseconds /*limit*/) {}
};

// How long the end of the program waits for calls still on their way.
// Normally they left long before (a COM call to the node takes about a
// millisecond, a few tens on a loaded machine under Wine). A node that has
// not taken them within this is stalled, and waiting for it longer would
// only hold the window: whoever is told the node may still be keyed (the
// guardian, see keying_watch.h) keeps trying for a minute after the end.
// Short of the 5 s after which Windows ends a program that holds up a
// shutdown.
inline constexpr std::chrono::milliseconds kSentCallsWaitAtEnd{2000};

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
