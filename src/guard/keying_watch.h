// Tells an observer outside the node link whether Tarnwick has the node's
// transmitter keyed: the guardian, a separate process that unkeys the node
// if Tarnwick's process ends while it had it keyed.
//
// KeyingWatch wraps the platform's link and passes every call on unchanged.
// It reports only changes of Tarnwick's own keying, never the progress
// tick's idle unkey a hundred times a second:
//   * "keyed" before a key (SetPtt with any value other than 0) is sent, so
//     that a process killed inside the call still counts as keyed;
//   * "unkeyed" once an unkey has reached the node without failure. An
//     unkey that fails leaves the state at "keyed": the node may still be
//     on the air. So does one sent without waiting (SetPttIgnoringAnswer)
//     while the link still holds it (NodeLink::taken): a process that ends
//     then loses it, and the guardian must still unkey. The change is told
//     on the watch's first call after the link has it on its way for good,
//     or when the program's end waits for it (awaitSent).
// Nothing else changes the state (a Morse text keys the node by itself and
// ends by itself).
#pragma once

#include "seams/node_link.h"

#include <memory>
#include <optional>

namespace tarnwick {

// Receives the changes. Called on the loop thread, inside the node call
// that caused them; must not raise and must be quick.
class KeyingObserver {
public:
    virtual ~KeyingObserver() = default;
    virtual void keyingChanged(bool keyed) = 0;
};

class KeyingWatch : public NodeLink {
public:
    // Starts as "unkeyed": nothing is on the air before the first key.
    KeyingWatch(std::unique_ptr<NodeLink> link, KeyingObserver& observer)
        : link_(std::move(link)), observer_(observer) {}

    void SetPtt(NodeBool on) override;
    void SetPttIgnoringAnswer(NodeBool on) override;

    NodeBool GetBusyFlagA() override { return settled().GetBusyFlagA(); }
    NodeBool GetReceivingSignal() override { return settled().GetReceivingSignal(); }
    NodeBool GetPttState() override { return settled().GetPttState(); }
    NodeBool GetBusyFlagB() override { return settled().GetBusyFlagB(); }
    void SendCwText(std::int32_t mode, const std::string& text) override { settled().SendCwText(mode, text); }
    std::unique_ptr<SysopInfo> GetSysopInfo() override { return settled().GetSysopInfo(); }
    void SetListedBusy(NodeBool busy) override { settled().SetListedBusy(busy); }
    void SetListedBusyIgnoringAnswer(NodeBool busy) override { settled().SetListedBusyIgnoringAnswer(busy); }

    bool closingAnnounced() const override { return link_->closingAnnounced(); }
    std::uint64_t lastSent() const override { return link_->lastSent(); }
    bool taken(std::uint64_t n) const override { return link_->taken(n); }
    void awaitSent(std::chrono::milliseconds limit) override;

    // What the observer was last told.
    bool keyed() const { return keyed_; }

private:
    template <typename Send>
    void setPtt(NodeBool on, bool awaited, Send send);
    // Tells "unkeyed" once the unkey still on its way has been taken.
    NodeLink& settled();

    std::unique_ptr<NodeLink> link_;
    KeyingObserver& observer_;
    bool keyed_ = false;
    std::optional<std::uint64_t> unkeyOnItsWay_;  // the latest unkey sent without waiting while keyed
};

// Wraps every link that `connector` creates in a KeyingWatch for `observer`.
class KeyingWatchConnector : public NodeConnector {
public:
    KeyingWatchConnector(NodeConnector& connector, KeyingObserver& observer)
        : connector_(connector), observer_(observer) {}
    std::unique_ptr<NodeLink> create(NodeEvents& events) override;

private:
    NodeConnector& connector_;
    KeyingObserver& observer_;
};

}  // namespace tarnwick
