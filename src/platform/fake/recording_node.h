// The node of the tests: records every call in the stand-in's trace format
// (without timestamps) and answers from switches the test sets.
#pragma once

#include "seams/event_loop.h"
#include "seams/node_link.h"

#include <chrono>
#include <cstdint>
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
    NodeBool ptt = 0;  // follows SetPtt; a test may set it (Morse, say)
    NodeBool listedBusy = 0;
    bool cwKeyed = false;  // the node sends Morse: GetPttState is true whatever SetPtt said
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

    // True: calls sent without waiting stay on their way, as the COM link's
    // queue holds them for its worker thread, until deliverSent() runs,
    // until a call that waits for its answer (which comes after them), or
    // until the program's end waits for them (awaitSent). A failure the
    // switches above ask for shows only then, and raises nothing.
    bool sendLate = false;
    // The end's wait finds the node sitting on them: its limit passes
    // (`blocked`) with nothing delivered.
    bool sentStall = false;
    void deliverSent();

    // Internal: what is on its way, and how far the node has taken it.
    std::vector<std::function<void()>> onItsWay;
    std::uint64_t sentNumber = 0, takenNumber = 0, failedNumber = 0;

    // Calls received, e.g. "SetPtt -1", "GetCallsign => \"N0CALL-L\"".
    std::vector<std::string> trace;
    // The trace lines from `from` on, joined with "\n", for compact asserts.
    std::string traceText(std::size_t from = 0) const;
    void clearTrace() { trace.clear(); }

    // Raises an event as the node would: queued on the loop, delivered
    // between handlers.
    void raiseDTMF(const std::string& digits);
    void raiseClosing();
    bool closingRaised = false;  // what the link's closingAnnounced() says

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
