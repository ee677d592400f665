#include "nodesim/node_sim.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <chrono>
#include <thread>
#include <utility>

namespace tarnwick::nodesim {

namespace {

constexpr std::array<Operation, 9> kOperations = {
    Operation::SetPtt,       Operation::GetBusyFlagA, Operation::GetReceivingSignal,
    Operation::GetPttState,  Operation::GetBusyFlagB, Operation::SendCwText,
    Operation::GetSysopInfo, Operation::GetCallsign,  Operation::SetListedBusy,
};

constexpr std::string_view kError = "error";

std::string number(std::int64_t v) { return std::to_string(v); }

bool equalsIgnoringCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
           });
}

// Cap on the keyed time a queue of Morse texts can build up, so that a
// runaway caller cannot key the stand-in for days.
constexpr std::int64_t kMaxCwBacklogMs = 10 * 60 * 1000;

}  // namespace

MonoClock steadyClockMs() {
    return [] {
        using namespace std::chrono;
        return static_cast<std::int64_t>(duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
    };
}

void sleepForMs(std::int64_t ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

const char* operationName(Operation op) {
    switch (op) {
        case Operation::SetPtt:
            return "SetPtt";
        case Operation::GetBusyFlagA:
            return "GetBusyFlagA";
        case Operation::GetReceivingSignal:
            return "GetReceivingSignal";
        case Operation::GetPttState:
            return "GetPttState";
        case Operation::GetBusyFlagB:
            return "GetBusyFlagB";
        case Operation::SendCwText:
            return "SendCwText";
        case Operation::GetSysopInfo:
            return "GetSysopInfo";
        case Operation::GetCallsign:
            return "GetCallsign";
        case Operation::SetListedBusy:
            return "SetListedBusy";
    }
    return "?";
}

std::optional<Operation> parseOperation(std::string_view name) {
    for (const Operation op : kOperations) {
        if (equalsIgnoringCase(name, operationName(op))) return op;
    }
    return std::nullopt;
}

std::string operationNames() {
    std::string names;
    for (const Operation op : kOperations) {
        if (!names.empty()) names += ", ";
        names += operationName(op);
    }
    return names;
}

NodeSim::NodeSim(Config config, TraceWriter& trace, MonoClock mono)
    : config_(std::move(config)), trace_(trace), mono_(std::move(mono)) {
    config_.cwWpm = std::clamp(config_.cwWpm, kMinWpm, kMaxWpm);
}

void NodeSim::arrive() {
    if (pendingStallMs_ <= 0) return;
    const std::int64_t ms = pendingStallMs_;
    pendingStallMs_ = 0;
    trace_.write("stall", number(ms));
    sleep(ms);
}

bool NodeSim::takeFailure(Operation op) {
    const auto it = pendingFailures_.find(op);
    if (it == pendingFailures_.end()) return false;
    if (--it->second == 0) pendingFailures_.erase(it);
    return true;
}

bool NodeSim::keyed() const { return pttHeld_ || mono_() < cwUntil_; }

std::optional<std::int64_t> NodeSim::keyedForMs() const {
    if (!keyed()) return std::nullopt;
    return mono_() - keyedSince_;
}

void NodeSim::beginKeying(std::int64_t now) {
    if (!pttHeld_ && now >= cwUntil_) keyedSince_ = now;
}

void NodeSim::changed() {
    if (onChange) onChange();
}

bool NodeSim::SetPtt(Bool16 on) {
    arrive();
    const std::string args = number(on);
    if (takeFailure(Operation::SetPtt)) {
        trace_.write("SetPtt", args, kError);
        return false;
    }
    trace_.write("SetPtt", args);
    if (on != 0) beginKeying(mono_());
    pttHeld_ = on != 0;
    changed();
    return true;
}

std::optional<Bool16> NodeSim::answerQuery(Operation op, bool value) {
    arrive();
    if (takeFailure(op)) {
        trace_.write(operationName(op), {}, kError);
        return std::nullopt;
    }
    const Bool16 answer = bool16(value);
    trace_.write(operationName(op), {}, number(answer));
    return answer;
}

std::optional<Bool16> NodeSim::GetBusyFlagA() { return answerQuery(Operation::GetBusyFlagA, busyA_); }
std::optional<Bool16> NodeSim::GetReceivingSignal() { return answerQuery(Operation::GetReceivingSignal, receiving_); }
std::optional<Bool16> NodeSim::GetPttState() { return answerQuery(Operation::GetPttState, keyed()); }
std::optional<Bool16> NodeSim::GetBusyFlagB() { return answerQuery(Operation::GetBusyFlagB, busyB_); }

bool NodeSim::SendCwText(std::int32_t mode, const std::string& text) {
    arrive();
    const std::string args = number(mode) + " " + quoted(text);
    if (takeFailure(Operation::SendCwText)) {
        trace_.write("SendCwText", args, kError);
        return false;
    }
    trace_.write("SendCwText", args);
    const std::int64_t duration = morseDurationMs(text, config_.cwWpm);
    if (duration > 0) {
        const std::int64_t now = mono_();
        beginKeying(now);
        // A node sends one text after the other, so a new text waits for
        // the one still going out.
        const std::int64_t start = std::max(now, cwUntil_);
        cwUntil_ = std::min(start + duration, now + kMaxCwBacklogMs);
    }
    lastCw_ = text;
    if (onCwText) onCwText(text);
    changed();
    return true;
}

bool NodeSim::GetSysopInfo() {
    arrive();
    if (takeFailure(Operation::GetSysopInfo)) {
        trace_.write("GetSysopInfo", {}, kError);
        return false;
    }
    trace_.write("GetSysopInfo");
    return true;
}

std::optional<std::string> NodeSim::GetCallsign() {
    arrive();
    if (takeFailure(Operation::GetCallsign)) {
        trace_.write("GetCallsign", {}, kError);
        return std::nullopt;
    }
    trace_.write("GetCallsign", {}, quoted(config_.callsign));
    return config_.callsign;
}

bool NodeSim::SetListedBusy(Bool16 busy) {
    arrive();
    const std::string args = number(busy);
    if (takeFailure(Operation::SetListedBusy)) {
        trace_.write("SetListedBusy", args, kError);
        return false;
    }
    trace_.write("SetListedBusy", args);
    listedBusy_ = busy != 0;
    changed();
    return true;
}

void NodeSim::traceRejected(Operation op, std::string_view args) {
    arrive();
    trace_.write(operationName(op), args, kError);
}

void NodeSim::setReceiving(bool on) {
    receiving_ = on;
    changed();
}

void NodeSim::setBusyA(bool on) {
    busyA_ = on;
    changed();
}

void NodeSim::setBusyB(bool on) {
    busyB_ = on;
    changed();
}

void NodeSim::failNext(Operation op) { ++pendingFailures_[op]; }

void NodeSim::stallNext(std::int64_t ms) { pendingStallMs_ = ms; }

void NodeSim::noteDtmf(const std::string& digits) { trace_.write("event", "DTMFString " + quoted(digits)); }

void NodeSim::noteClosing() { trace_.write("event", "Closing"); }

std::string NodeSim::stateText() const {
    return "ptt=" + number(bool16(keyed())) + " listed_busy=" + number(bool16(listedBusy_)) +
           " rx=" + number(bool16(receiving_)) + " busy_a=" + number(bool16(busyA_)) +
           " busy_b=" + number(bool16(busyB_)) + " cw=" + quoted(lastCw_);
}

}  // namespace tarnwick::nodesim
