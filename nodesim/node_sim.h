// The stand-in node's behaviour, shared by its platform faces.
//
// NodeSim plays the node's side of the automation interface: it holds the
// transmitter, the listed state and the three switches, answers the eight
// operations (and SysopInfo's GetCallsign), and writes every call it
// receives and every event it raises to the trace. It knows nothing about
// D-Bus or COM: a face (nodesim/linux, nodesim/windows) turns bus or COM
// calls into calls of this class and its answers into replies.
//
// Time comes from two injected clocks, so that tests can run it on virtual
// time: a wall clock for the trace stamps and a monotonic clock for the
// Morse keying (and an injected sleep for a stalled call). Everything runs
// on one thread.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>

#include "nodesim/morse.h"
#include "nodesim/trace.h"

namespace tarnwick::nodesim {

// Booleans cross the interface as 16-bit values: -1 true, 0 false. Any value
// other than 0 that a caller passes counts as true.
using Bool16 = std::int16_t;
inline constexpr Bool16 kTrue = -1;
inline constexpr Bool16 kFalse = 0;
inline constexpr Bool16 bool16(bool b) { return b ? kTrue : kFalse; }

// Milliseconds on a monotonic clock with an arbitrary origin.
using MonoClock = std::function<std::int64_t()>;
MonoClock steadyClockMs();
// Blocks the calling thread for `ms` milliseconds.
void sleepForMs(std::int64_t ms);

// The operations a caller can make, named as the interface names them.
// GetCallsign belongs to the SysopInfo object that GetSysopInfo hands out.
enum class Operation {
    SetPtt,
    GetBusyFlagA,
    GetReceivingSignal,
    GetPttState,
    GetBusyFlagB,
    SendCwText,
    GetSysopInfo,
    GetCallsign,
    SetListedBusy,
};
const char* operationName(Operation op);
// The operation with this name (letter case ignored), or nullopt.
std::optional<Operation> parseOperation(std::string_view name);
// "SetPtt, GetBusyFlagA, ...": for usage and error messages.
std::string operationNames();

inline constexpr const char* kDefaultCallsign = "N0CALL-L";
inline constexpr int kDefaultCwWpm = 20;

class NodeSim {
public:
    struct Config {
        std::string callsign = kDefaultCallsign;
        int cwWpm = kDefaultCwWpm;  // Morse speed of SendCwText, 1..kMaxWpm
    };

    // `trace` receives one line per call and per event; it must outlive the
    // node. `mono` times the Morse keying.
    NodeSim(Config config, TraceWriter& trace, MonoClock mono);

    // ---- The node's operations, as a caller makes them ----------------
    // Each one traces the call. A call made to fail (failNext) has no
    // effect, is traced with " => error" and returns false or nullopt; the
    // face then answers with its error reply.
    bool SetPtt(Bool16 on);
    std::optional<Bool16> GetBusyFlagA();
    std::optional<Bool16> GetReceivingSignal();
    // True while SetPtt(true) holds or a SendCwText is being sent.
    std::optional<Bool16> GetPttState();
    std::optional<Bool16> GetBusyFlagB();
    // Keys the transmitter by itself for the Morse time of `text`; a text
    // sent while another is still going out follows it.
    bool SendCwText(std::int32_t mode, const std::string& text);
    // The face hands out its SysopInfo object when this returns true.
    bool GetSysopInfo();
    std::optional<std::string> GetCallsign();
    bool SetListedBusy(Bool16 busy);

    // A call the face refused before it reached the node (for instance
    // SendCwText with a variant that holds no string): traced as
    // "<op> <args> => error".
    void traceRejected(Operation op, std::string_view args);

    // ---- Control: the window and --ctl --------------------------------
    // The switches are not calls and are not traced.
    void setReceiving(bool on);
    void setBusyA(bool on);
    void setBusyB(bool on);
    // The next call of `op` fails; each request fails one more call.
    void failNext(Operation op);
    // The next call, whichever it is, is answered only after `ms`
    // milliseconds, as by a node program whose thread is busy elsewhere (a
    // dialog of its own, a directory reconnect): nothing else is answered
    // meanwhile. The stall is traced as "stall MS" when that call arrives;
    // the call's own line follows once it is answered. A second request
    // before the call replaces the first.
    void stallNext(std::int64_t ms);
    // How a stall is waited out: the answering thread sleeps. Tests move
    // their clocks instead.
    std::function<void(std::int64_t ms)> sleep = sleepForMs;
    // Traces the event; the face then raises it on its bus.
    void noteDtmf(const std::string& digits);
    void noteClosing();

    // ---- What the window and --ctl state show --------------------------
    bool keyed() const;  // PTT held or Morse being sent, now
    // How long the transmitter has been keyed without a break, if keyed.
    std::optional<std::int64_t> keyedForMs() const;
    bool pttHeld() const { return pttHeld_; }
    bool listedBusy() const { return listedBusy_; }
    bool receiving() const { return receiving_; }
    bool busyA() const { return busyA_; }
    bool busyB() const { return busyB_; }
    const std::string& callsign() const { return config_.callsign; }
    const std::string& lastCwText() const { return lastCw_; }
    int cwWpm() const { return config_.cwWpm; }
    // `ptt=-1 listed_busy=0 rx=0 busy_a=0 busy_b=0 cw="N0CALL"`.
    std::string stateText() const;

    // Called after every change of what the accessors above report (not
    // when Morse ends by itself: a window that shows the lamp polls).
    std::function<void()> onChange;
    // Called with the text of each SendCwText that was answered.
    std::function<void(const std::string&)> onCwText;

private:
    // Every call comes in here first: a stall asked for is waited out.
    void arrive();
    // True (and the failure consumed) when the next call of `op` must fail.
    bool takeFailure(Operation op);
    // Traces and answers a query whose answer is `value`, or fails it.
    std::optional<Bool16> answerQuery(Operation op, bool value);
    // Notes the start of a keying if the transmitter was off until now.
    void beginKeying(std::int64_t now);
    void changed();

    Config config_;
    TraceWriter& trace_;
    MonoClock mono_;

    bool pttHeld_ = false;
    std::int64_t cwUntil_ = 0;     // mono ms at which the queued Morse ends
    std::int64_t keyedSince_ = 0;  // mono ms at which the current keying began
    bool listedBusy_ = false;
    bool receiving_ = false;
    bool busyA_ = false;
    bool busyB_ = false;
    std::string lastCw_;
    std::map<Operation, int> pendingFailures_;
    std::int64_t pendingStallMs_ = 0;
};

}  // namespace tarnwick::nodesim
