#include "guard/guardian.h"

#include "base/errors.h"

namespace tarnwick::guard {

namespace {

// "15 ms", "3.2 s".
std::string durationText(std::chrono::steady_clock::duration d) {
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(d).count();
    if (ms < 1000) return std::to_string(ms) + " ms";
    return std::to_string(ms / 1000) + "." + std::to_string(ms % 1000 / 100) + " s";
}

}  // namespace

bool endedKeyed(KeyingFeed& feed) {
    bool keyed = false;
    while (const std::optional<char> word = feed.next()) {
        if (*word == kKeyed) keyed = true;
        if (*word == kUnkeyed) keyed = false;
    }
    return keyed;
}

SafeOutcome makeNodeSafe(NodeAccess& access, const std::string& whom, std::chrono::milliseconds patience,
                         std::chrono::milliseconds pause) {
    const auto start = access.now();
    const auto deadline = start + patience;
    SafeOutcome out;
    std::string lastError;
    bool toldFailure = false;
    for (;;) {
        try {
            std::unique_ptr<NodeLink> link = access.connect();
            if (!out.unkeyed) {
                link->SetPtt(kNodeFalse);
                out.unkeyed = true;
            }
            link->SetListedBusy(kNodeFalse);
            out.listedFree = true;
            break;
        } catch (const Failure& f) {
            lastError = f.description();
        }
        if (!toldFailure) {
            toldFailure = true;
            access.report(whom + " ended with the transmitter keyed, and the node did not take the " +
                          (out.unkeyed ? "listing free" : "unkey") + " (" + lastError + "); trying again for up to " +
                          durationText(patience));
        }
        if (access.now() + pause > deadline || (access.lostForGood && access.lostForGood())) break;
        access.sleep(pause);
    }

    const std::string after = durationText(access.now() - start);
    if (out.done()) {
        access.report(whom + " ended with the transmitter keyed; the guardian unkeyed the node and listed it free (" +
                      after + " after it ended)");
    } else if (out.unkeyed) {
        access.report("the guardian unkeyed the node, but gave up listing it free after " + after + " (" + lastError +
                      "); it may still be listed busy");
    } else {
        access.report("the guardian gave up after " + after + ": the node did not take the unkey (" + lastError +
                      "); it may still be keyed");
    }
    return out;
}

}  // namespace tarnwick::guard
