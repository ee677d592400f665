// The node over COM: the Windows face of EchoLink's automation server
// (seams/node_link.h says what every link does).
//
// The node is the object of class {D1FB3C9A-BB2D-446A-A74A-E771F134ED56}
// (EchoLink's own server, or the stand-in tarnwick-nodesim.exe registered
// for it). Every operation is called by name through IDispatch: the ids are
// looked up with GetIDsOfNames on first use and cached, so nothing depends
// on where an operation sits in the interface. Booleans cross as
// VARIANT_BOOL. SendCwText passes its text as a VARIANT holding a BSTR made
// from the ANSI text.
//
// Threads. The calls themselves run on a worker thread of the process's
// multi-threaded apartment, and the loop thread waits for each one without
// dispatching anything. Two things follow:
//   * no handler, timer tick or node event runs inside a node call: the
//     re-entrancy that a call from the loop's own apartment would allow
//     (COM dispatches incoming calls while an outgoing one waits) cannot
//     happen;
//   * a call that does not answer within kNodeCallTimeoutMs fails with
//     RPC_E_TIMEOUT. Wine's COM keeps waiting for a call that a message
//     filter cancels, so a waiting worker is the one bound that holds there
//     as it does on Windows. While that call is still out, further calls
//     fail at once the same way; once it returns, the link works again.
//   * SetPttIgnoringAnswer and SetListedBusyIgnoringAnswer only queue the
//     call for the worker and return; a process that ends before the
//     worker made it loses it. lastSent/taken/awaitSent say where the
//     worker is with them.
// Events arrive on COM's threads, are queued, and are handed to NodeEvents
// from the loop thread's message queue.
//
// Failures raise Failure with the HRESULT as its number (a signed long) and
// "<operation>: <description>", the description being the node's own error
// text where it gives one (EXCEPINFO) and the system's text for the HRESULT
// otherwise.
#pragma once

#include <oaidl.h>

#include <chrono>

#include "platform/windows/win32_platform.h"
#include "seams/node_link.h"
#include "wire/node_com.h"

namespace tarnwick {

// The node's identifiers, shared with the stand-in node.
using wire::kNodeClassId;
using wire::kNodeEventsId;
using wire::kNodeLibraryId;
using wire::kNodeLibraryMajor;
using wire::kNodeLibraryMinor;

inline constexpr std::chrono::milliseconds kNodeCallTimeoutMs{30000};
// Creating the object may start the node's program; COM itself gives that
// about 30 seconds.
inline constexpr std::chrono::milliseconds kNodeCreateTimeoutMs{35000};

// The dispatch ids of the two events the system handles.
struct NodeEventIds {
    DISPID dtmfString = 1;
    DISPID closing = 2;
    bool operator==(const NodeEventIds&) const = default;
};

// The ids as `library` describes the event interface; 1 and 2 (their places
// in the interface) for an id it does not give, or when `library` is null.
NodeEventIds eventIdsFrom(ITypeLib* library);
// The same from the registered type library {4CF5B97B-...} 1.8, or 1 and 2
// when none is registered.
NodeEventIds registeredEventIds();

class ComNodeConnector : public NodeConnector {
public:
    struct Timeouts {
        std::chrono::milliseconds call = kNodeCallTimeoutMs;
        std::chrono::milliseconds create = kNodeCreateTimeoutMs;
    };
    ComNodeConnector() = default;
    explicit ComNodeConnector(Timeouts timeouts) : timeouts_(timeouts) {}

    // Creates the node object (CLSCTX_LOCAL_SERVER | CLSCTX_INPROC_SERVER),
    // connects an event sink to its connection point for {6F55F7AF-...} and
    // returns the link. Must be called on a thread with a message loop; the
    // events run from that loop. Raises Failure with the HRESULT and "no
    // EchoLink node: ..." when no node object can be had or its events
    // cannot be subscribed to.
    std::unique_ptr<NodeLink> create(NodeEvents& events) override;

private:
    Timeouts timeouts_;
};

}  // namespace tarnwick
