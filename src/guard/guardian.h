// The guardian: a small program that Tarnwick starts beside itself, so that
// the node is unkeyed even when Tarnwick's process ends without doing it (a
// kill -9, TerminateProcess, a crash). Its behaviour, shared by its Linux
// and Windows mains.
//
// Tarnwick writes one byte to the guardian per change of its own keying
// (guard/keying_watch.h). The guardian blocks on reading them and holds the
// last one; it polls nothing and calls the node only once the feed has
// ended (Tarnwick's process is gone, however it ended) while the last word
// was "keyed". Then it unkeys the node and lists it free, trying again for
// a while if the node does not answer, and exits. Otherwise it exits with
// Tarnwick, quietly.
#pragma once

#include "seams/node_link.h"

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace tarnwick::guard {

// The bytes on the channel from Tarnwick to the guardian; and the one the
// guardian sends back (or signals) once it is reading.
inline constexpr char kKeyed = 'K';
inline constexpr char kUnkeyed = 'U';
inline constexpr char kReady = 'R';

// How long the guardian keeps trying a node that does not answer, and how
// long it waits between two tries.
inline constexpr std::chrono::milliseconds kPatience{60000};
inline constexpr std::chrono::milliseconds kRetryPause{250};

// The guardian's end of the channel.
class KeyingFeed {
public:
    virtual ~KeyingFeed() = default;
    // Blocks until Tarnwick writes the next byte. nullopt once the channel
    // has ended: Tarnwick's process has gone (or closed it).
    virtual std::optional<char> next() = 0;
};

// Reads the feed to its end. True when Tarnwick's last word was "keyed";
// bytes that are neither word are ignored.
bool endedKeyed(KeyingFeed& feed);

// What making the node safe needs from the platform.
struct NodeAccess {
    // A fresh link to the node; raises Failure when none can be had.
    std::function<std::unique_ptr<NodeLink>()> connect;
    std::function<std::chrono::steady_clock::time_point()> now;
    std::function<void(std::chrono::milliseconds)> sleep;
    // One line of what the guardian did, for the station log and stderr.
    std::function<void(const std::string&)> report;
    // True once no try can succeed any more (the session bus itself has
    // gone with the session): the guardian stops trying. May be empty.
    std::function<bool()> lostForGood;
};

struct SafeOutcome {
    bool unkeyed = false;
    bool listedFree = false;
    bool done() const { return unkeyed && listedFree; }
};

// Unkeys the node and lists it free. A step that fails (no node, an error,
// no answer within the link's timeout) is tried again on a fresh link
// after `pause`, until both are done or `patience` has passed. Reports the
// first failure (once, not every retry) and the outcome. Stops early when
// the node is lost for good. `whom` names the
// process that ended ("Tarnwick (process 4711)").
SafeOutcome makeNodeSafe(NodeAccess& access, const std::string& whom, std::chrono::milliseconds patience = kPatience,
                         std::chrono::milliseconds pause = kRetryPause);

}  // namespace tarnwick::guard
