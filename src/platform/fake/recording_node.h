// The node of the tests: records every call in the stand-in's trace format
// (without timestamps) and answers from switches the test sets.
#pragma once

#include "node/node_link.h"
#include "platform/event_loop.h"

#include <set>
#include <string>
#include <vector>

namespace tarnwick {

class RecordingNode {
public:
    // Switches.
    std::string callsign = "N0CALL-L";
    NodeBool busyA = 0, busyB = 0, rx = 0;
    NodeBool ptt = 0;        // follows SetPtt; a test may set it (Morse, say)
    NodeBool listedBusy = 0;
    bool cwKeyed = false;    // the node sends Morse: GetPttState is true whatever SetPtt said
    // Operations whose calls fail from now on (until erased), as a node that
    // has gone would.
    std::set<std::string> failing;

    // Calls received, e.g. "SetPtt -1", "GetCallsign => \"N0CALL-L\"".
    std::vector<std::string> trace;
    // The trace lines from `from` on, joined with "\n", for compact asserts.
    std::string traceText(std::size_t from = 0) const;
    void clearTrace() { trace.clear(); }

    // Raises an event as the node would: queued on the loop, delivered
    // between handlers.
    void raiseDTMF(const std::string& digits);
    void raiseClosing();

    // Whether create() may succeed (false: no node to be had).
    bool available = true;

    // Internal: the link and the subscription.
    NodeEvents* events = nullptr;
    EventLoop* loop = nullptr;
    void record(std::string line) { trace.push_back(std::move(line)); }
    void check(const std::string& op);
};

class RecordingNodeConnector : public NodeConnector {
public:
    RecordingNodeConnector(RecordingNode& node, EventLoop& loop) : node_(node), loop_(loop) {}
    std::unique_ptr<NodeLink> create(NodeEvents& events) override;

private:
    RecordingNode& node_;
    EventLoop& loop_;
};

}  // namespace tarnwick
