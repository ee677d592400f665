// The node of the tests: records every call in the stand-in's trace format
// (without timestamps) and answers from switches the test sets.
#pragma once

#include "node/node_link.h"
#include "platform/event_loop.h"

#include <chrono>
#include <functional>
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
    // One-shot faults, as the stand-in's --ctl fail and --ctl stall make
    // them. `failNext`: the next call of each named operation fails with an
    // error status. `stallNext`: the next call that waits for its answer,
    // whatever it is, gets none within the links' call limit: `blocked`
    // (when set) is given that limit, for the loop's clock to pass it with
    // nothing delivered, and the call fails as a timed-out call does. A
    // call sent without waiting neither stalls nor uses up the stall.
    // Neither kind of call takes effect.
    std::set<std::string> failNext;
    // Asked before every call, when set: true makes that call fail (a node
    // that fails now and then). `awaited`: the caller waits for the answer.
    std::function<bool(const std::string& op, bool awaited)> failsNow;
    bool stallNext = false;
    std::chrono::milliseconds callLimit{30000};
    std::function<void(std::chrono::milliseconds)> blocked;
    // False: calls are not written to `trace` (long randomised runs).
    bool tracing = true;

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
    void record(std::string line) {
        if (tracing) trace.push_back(std::move(line));
    }
    // Raises the failure the switches above ask for; `awaited`: the caller
    // waits for the answer.
    void check(const std::string& op, bool awaited = true);
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
