// What every node link must do (seams/node_link.h), checked the same way on
// each: the recording node in virtual time, the D-Bus and the COM link
// against the stand-in node. Each backend says how to reach its node, how
// to make it fail, stall or hang, raise an event, and read its trace.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "base/errors.h"
#include "seams/node_link.h"

namespace tarnwick::test {

using Lines = std::vector<std::string>;

// A stand-in's trace file: each line "<wall clock in ms since the epoch>
// <body>".
struct StampedTrace {
    std::vector<std::int64_t> stamps;
    Lines bodies;
};
inline StampedTrace stampedTrace(const std::string& text) {
    StampedTrace t;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        if (line.empty()) continue;
        const std::size_t blank = std::min(line.find(' '), line.size());
        t.stamps.push_back(std::stoll(line.substr(0, blank)));
        t.bodies.push_back(blank < line.size() ? line.substr(blank + 1) : std::string());
    }
    return t;
}

struct NodeBench {
    std::function<std::unique_ptr<NodeLink>(NodeEvents&)> connect;
    // A link whose call limit is a second or two, for a hung node.
    std::function<std::unique_ptr<NodeLink>(NodeEvents&)> connectHasty;
    // Runs the loop until `done` holds; false when it never did.
    std::function<bool(const std::function<bool()>&)> pumpUntil;
    // What the node has traced: a stand-in's file, or the bodies alone.
    std::function<std::string()> stampedText;
    std::function<Lines()> bodies;
    Lines trace() const { return stampedText ? stampedTrace(stampedText()).bodies : bodies(); }
    std::string cwText = "CQ \"x\" \\";  // with the characters the trace escapes
    // "rx", "busy-a" or "busy-b".
    std::function<void(const std::string& flag, bool on)> setFlag;
    // The next call of `op` fails with `failedNumber` and a description
    // that starts with failedText(op).
    std::function<void(const std::string& op)> failNext;
    long failedNumber = err::kAutomationError;
    std::function<std::string(const std::string& op)> failedText;
    // The node sits on its next call for `d` and then answers (a node with
    // a clock of its own: not the recording node).
    std::function<void(std::chrono::milliseconds d)> slowNext;
    // The node stops answering; a hasty link's next call fails with
    // `timedOutNumber` and timedOutText(op). `afterHang` checks what the
    // backend adds (the COM link's recovery).
    std::function<void()> hang;
    long timedOutNumber = err::kAutomationError;
    std::function<std::string(const std::string& op)> timedOutText;
    std::function<void(NodeLink&)> afterHang = [](NodeLink&) {};
    // The node raises DTMFString or Closing (and stays); `vanish`: raises
    // Closing and quits at once, and returns once it has gone.
    std::function<void(const std::string& digits)> raiseDtmf;
    std::function<void()> raiseClosing;
    std::function<void()> vanish;
};

struct EventLog : NodeEvents {
    void DTMFString(const std::string& digits) override { events.push_back("DTMFString " + digits); }
    void Closing() override { events.push_back("Closing"); }
    Lines events;
};

// The Failure `call` raises; a test that expects one fails without it.
inline Failure failureOf(const std::function<void()>& call) {
    try {
        call();
    } catch (const Failure& f) {
        return f;
    }
    ADD_FAILURE() << "no Failure raised";
    return Failure(0, "");
}

inline std::string traceQuoted(const std::string& s) {
    std::string out = "\"";
    for (char c : s) {
        if (c == '"' || c == '\\') out.push_back('\\');
        out.push_back(c);
    }
    return out + "\"";
}

// A failed call as "SetPtt => error": the stand-in also traces what it was
// given, the recording node only the operation.
inline Lines failuresByName(Lines lines) {
    for (std::string& l : lines)
        if (l.ends_with(" => error")) l = l.substr(0, l.find(' ')) + " => error";
    return lines;
}

inline std::int64_t epochMs() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
}

// Booleans go as they are given (1, 5) and come back as the node gives
// them; NodeInUse asks all three flags, in order, each time.
inline void everyOperationIsAnswered(const NodeBench& bench) {
    EventLog events;
    auto link = bench.connect(events);
    EXPECT_EQ(link->GetSysopInfo()->GetCallsign(), "N0CALL-L");
    const std::int64_t beforeKey = epochMs();
    link->SetPtt(1);
    const std::int64_t afterKey = epochMs();
    EXPECT_EQ(link->GetPttState(), kNodeTrue);
    const std::int64_t beforeUnkey = epochMs();
    link->SetPtt(kNodeFalse);
    const std::int64_t afterUnkey = epochMs();
    EXPECT_EQ(link->GetPttState(), kNodeFalse);
    EXPECT_FALSE(NodeInUse(*link));
    for (const char* flag : {"busy-a", "rx", "busy-b"}) {
        bench.setFlag(flag, true);
        EXPECT_TRUE(NodeInUse(*link)) << flag;
        bench.setFlag(flag, false);
    }
    link->SetListedBusy(5);
    link->SendCwText(0, bench.cwText);
    Lines expected{"GetSysopInfo",    R"(GetCallsign => "N0CALL-L")", "SetPtt 1", "GetPttState => -1", "SetPtt 0",
                   "GetPttState => 0"};
    const char* flags[] = {"GetBusyFlagA", "GetReceivingSignal", "GetBusyFlagB"};
    for (int set = -1; set < 3; ++set)  // none, then each in turn
        for (int i = 0; i < 3; ++i) expected.push_back(flags[i] + std::string(i == set ? " => -1" : " => 0"));
    expected.push_back("SetListedBusy 5");
    expected.push_back("SendCwText 0 " + traceQuoted(bench.cwText));
    EXPECT_EQ(bench.trace(), expected);
    // An air check reads the keying's stamps as the node's clock: the node
    // has the call by the time it returns.
    if (!bench.stampedText) return;
    const StampedTrace stamped = stampedTrace(bench.stampedText());
    for (std::int64_t stamp : stamped.stamps) {
        EXPECT_GE(stamp, beforeKey - 1000);
        EXPECT_LE(stamp, epochMs() + 1000);
    }
    auto stampOf = [&](const std::string& body) {
        const auto at = std::find(stamped.bodies.begin(), stamped.bodies.end(), body);
        return at == stamped.bodies.end() ? -1 : stamped.stamps[at - stamped.bodies.begin()];
    };
    EXPECT_GE(stampOf("SetPtt 1"), beforeKey);
    EXPECT_LE(stampOf("SetPtt 1"), afterKey);
    EXPECT_GE(stampOf("SetPtt 0"), beforeUnkey);
    EXPECT_LE(stampOf("SetPtt 0"), afterUnkey);
}

// Each call sent without waiting arrives, in the order made, whether it
// went out at once, ahead of the next waited call, or alone; the end's
// wait finds it taken.
inline void sentCallsKeepTheirOrder(const NodeBench& bench) {
    EventLog events;
    auto link = bench.connect(events);
    link->SetListedBusyIgnoringAnswer(kNodeTrue);
    link->SetPttIgnoringAnswer(kNodeTrue);
    EXPECT_EQ(link->GetPttState(), kNodeTrue);
    link->SetListedBusyIgnoringAnswer(kNodeFalse);
    EXPECT_EQ(link->GetBusyFlagA(), kNodeFalse);
    for (int i = 0; i < 500; ++i) {
        link->SetListedBusyIgnoringAnswer(nodeBool(i % 2 == 0));
        link->SetPttIgnoringAnswer(nodeBool(i % 2 == 1));
    }
    EXPECT_EQ(link->GetPttState(), kNodeTrue);
    link->SetListedBusyIgnoringAnswer(kNodeTrue);  // alone
    link->awaitSent(kSentCallsWaitAtEnd);
    EXPECT_TRUE(link->taken(link->lastSent()));

    Lines expected{"SetListedBusy -1", "SetPtt -1", "GetPttState => -1", "SetListedBusy 0", "GetBusyFlagA => 0"};
    for (int i = 0; i < 500; ++i) {
        expected.push_back(i % 2 == 0 ? "SetListedBusy -1" : "SetListedBusy 0");
        expected.push_back(i % 2 == 1 ? "SetPtt -1" : "SetPtt 0");
    }
    expected.push_back("GetPttState => -1");
    expected.push_back("SetListedBusy -1");
    EXPECT_TRUE(bench.pumpUntil([&] { return bench.trace().size() >= expected.size(); }));
    EXPECT_EQ(bench.trace(), expected);
}

// A node busy for a few seconds is slow, not gone: the call is answered
// once the node gets to it, and a call sent meanwhile is taken after it;
// a link that holds such calls does not claim one the node sits on.
inline void aSlowNodeIsWaitedFor(const NodeBench& bench) {
    EventLog events;
    auto link = bench.connect(events);
    bench.slowNext(std::chrono::milliseconds(3000));
    const std::int64_t asked = epochMs();
    EXPECT_EQ(link->GetPttState(), kNodeFalse);
    EXPECT_GE(epochMs() - asked, 3000 - 16);  // the coarsest clock's grain (Windows' tick count)
    bench.slowNext(std::chrono::milliseconds(3000));
    link->SetPttIgnoringAnswer(kNodeTrue);  // the call the node sits on
    const std::uint64_t key = link->lastSent();
    if (key != 0) {
        link->awaitSent(std::chrono::milliseconds(500));
        EXPECT_FALSE(link->taken(key));
    }
    link->awaitSent(std::chrono::milliseconds(5000));
    EXPECT_TRUE(link->taken(key));
    EXPECT_EQ(link->GetPttState(), kNodeTrue);
    EXPECT_EQ(bench.trace(), (Lines{"stall 3000", "GetPttState => 0", "stall 3000", "SetPtt -1", "GetPttState => -1"}));
}

// A failed call raises the node's number and says which operation failed;
// it takes no effect, and only that call fails.
inline void aFailedCallTakesNoEffect(const NodeBench& bench) {
    EventLog events;
    auto link = bench.connect(events);
    auto failsAsTold = [&](const std::string& op, const std::function<void()>& call) {
        bench.failNext(op);
        const Failure f = failureOf(call);
        EXPECT_EQ(f.number(), bench.failedNumber) << f.description();
        EXPECT_EQ(f.description().rfind(bench.failedText(op), 0), 0u) << f.description();
    };
    failsAsTold("GetPttState", [&] { link->GetPttState(); });
    EXPECT_EQ(link->GetPttState(), kNodeFalse);
    failsAsTold("SetPtt", [&] { link->SetPtt(kNodeTrue); });
    EXPECT_EQ(link->GetPttState(), kNodeFalse);
    auto info = link->GetSysopInfo();
    failsAsTold("GetCallsign", [&] { info->GetCallsign(); });
    EXPECT_EQ(failuresByName(bench.trace()), (Lines{"GetPttState => error", "GetPttState => 0", "SetPtt => error",
                                                    "GetPttState => 0", "GetSysopInfo", "GetCallsign => error"}));
}

// A node that stays silent past the link's call limit fails the call.
inline void aHungNodeFailsTheCall(const NodeBench& bench) {
    EventLog events;
    auto link = bench.connectHasty(events);
    ASSERT_EQ(link->GetPttState(), kNodeFalse);
    bench.hang();
    const std::int64_t asked = epochMs();
    const Failure f = failureOf([&] { link->GetPttState(); });
    EXPECT_LT(epochMs() - asked, 10'000);
    EXPECT_EQ(f.number(), bench.timedOutNumber) << f.description();
    EXPECT_EQ(f.description().rfind(bench.timedOutText("GetPttState"), 0), 0u) << f.description();
    bench.afterHang(*link);
}

// The node's events reach NodeEvents from the loop, never inside a call.
inline void eventsComeFromTheLoop(const NodeBench& bench) {
    EventLog events;
    auto link = bench.connect(events);
    bench.raiseDtmf("1234");
    EXPECT_EQ(link->GetPttState(), kNodeFalse);
    EXPECT_TRUE(events.events.empty());
    ASSERT_TRUE(bench.pumpUntil([&] { return !events.events.empty(); }));
    EXPECT_EQ(events.events, Lines{"DTMFString 1234"});
    EXPECT_FALSE(link->closingAnnounced());

    bench.raiseClosing();
    ASSERT_TRUE(bench.pumpUntil([&] { return events.events.size() == 2; }));
    EXPECT_EQ(events.events.back(), "Closing");
    EXPECT_EQ(bench.trace(), (Lines{R"(event DTMFString "1234")", "GetPttState => 0", "event Closing"}));
}

// A node program that quits as soon as it has raised Closing: the event
// arrives, and the unkey that follows fails at once instead of waiting out
// the call limit; the link knows the node was closing.
inline void aVanishingNodeLetsGoAtOnce(const NodeBench& bench) {
    EventLog events;
    auto link = bench.connect(events);
    EXPECT_EQ(link->GetPttState(), kNodeFalse);
    bench.vanish();
    ASSERT_TRUE(bench.pumpUntil([&] { return !events.events.empty(); }));
    EXPECT_EQ(events.events, Lines{"Closing"});
    const std::int64_t asked = epochMs();
    const Failure f = failureOf([&] { link->SetPtt(kNodeFalse); });
    EXPECT_LT(epochMs() - asked, 2000) << f.description();
    EXPECT_TRUE(link->closingAnnounced());
    EXPECT_EQ(bench.trace(), (Lines{"GetPttState => 0", "event Closing"}));
}

}  // namespace tarnwick::test

// The cases above but the slow node's, for a fixture whose bench() reaches a
// node of the case's own.
#define TARNWICK_NODE_LINK_CONTRACT(Fixture)                                                           \
    TEST_F(Fixture, EveryOperationIsAnswered) { ::tarnwick::test::everyOperationIsAnswered(bench()); } \
    TEST_F(Fixture, SentCallsKeepTheirOrder) { ::tarnwick::test::sentCallsKeepTheirOrder(bench()); }   \
    TEST_F(Fixture, AFailedCallTakesNoEffect) { ::tarnwick::test::aFailedCallTakesNoEffect(bench()); } \
    TEST_F(Fixture, AHungNodeFailsTheCall) { ::tarnwick::test::aHungNodeFailsTheCall(bench()); }       \
    TEST_F(Fixture, EventsComeFromTheLoop) { ::tarnwick::test::eventsComeFromTheLoop(bench()); }       \
    TEST_F(Fixture, AVanishingNodeLetsGoAtOnce) { ::tarnwick::test::aVanishingNodeLetsGoAtOnce(bench()); }
