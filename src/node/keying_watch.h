// Tells an observer outside the node link whether Tarnwick has the node's
// transmitter keyed: the guardian, a separate process that unkeys the node
// if Tarnwick's process ends while it had it keyed.
//
// KeyingWatch wraps the platform's link and passes every call on unchanged.
// It reports only changes of Tarnwick's own keying, never the progress
// tick's idle unkey a hundred times a second:
//   * "keyed" before a key (SetPtt with any value other than 0) is sent, so
//     that a process killed inside the call still counts as keyed;
//   * "unkeyed" once an unkey has been sent without failure. An unkey that
//     fails leaves the state at "keyed": the node may still be on the air.
// Nothing else changes the state (a Morse text keys the node by itself and
// ends by itself).
#pragma once

#include "node/node_link.h"

#include <memory>

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

    NodeBool GetBusyFlagA() override { return link_->GetBusyFlagA(); }
    NodeBool GetReceivingSignal() override { return link_->GetReceivingSignal(); }
    NodeBool GetPttState() override { return link_->GetPttState(); }
    NodeBool GetBusyFlagB() override { return link_->GetBusyFlagB(); }
    void SendCwText(std::int32_t mode, const std::string& text) override { link_->SendCwText(mode, text); }
    std::unique_ptr<SysopInfo> GetSysopInfo() override { return link_->GetSysopInfo(); }
    void SetListedBusy(NodeBool busy) override { link_->SetListedBusy(busy); }
    void SetListedBusyIgnoringAnswer(NodeBool busy) override { link_->SetListedBusyIgnoringAnswer(busy); }

    bool keyed() const { return keyed_; }

private:
    template <typename Send>
    void setPtt(NodeBool on, Send send);

    std::unique_ptr<NodeLink> link_;
    KeyingObserver& observer_;
    bool keyed_ = false;
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
