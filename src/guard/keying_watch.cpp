#include "guard/keying_watch.h"

namespace tarnwick {

template <typename Send>
void KeyingWatch::setPtt(NodeBool on, bool awaited, Send send) {
    if (on != 0) {
        unkeyOnItsWay_.reset();
        if (!keyed_) {
            keyed_ = true;
            observer_.keyingChanged(true);
        }
        send();
        return;
    }
    send();  // a failure raises here and leaves the state at "keyed"
    if (!keyed_) return;
    if (awaited) {
        unkeyOnItsWay_.reset();
        keyed_ = false;
        observer_.keyingChanged(false);
        return;
    }
    unkeyOnItsWay_ = link_->lastSent();
    settled();
}

NodeLink& KeyingWatch::settled() {
    // Calls reach the node in order: once the latest unkey is taken, the
    // node is off the air whatever happened to the ones before it.
    if (unkeyOnItsWay_ && link_->taken(*unkeyOnItsWay_)) {
        unkeyOnItsWay_.reset();
        keyed_ = false;
        observer_.keyingChanged(false);
    }
    return *link_;
}

void KeyingWatch::SetPtt(NodeBool on) {
    settled();
    setPtt(on, true, [&] { link_->SetPtt(on); });
}

void KeyingWatch::SetPttIgnoringAnswer(NodeBool on) {
    settled();
    setPtt(on, false, [&] { link_->SetPttIgnoringAnswer(on); });
}

void KeyingWatch::awaitSent(std::chrono::milliseconds limit) {
    link_->awaitSent(limit);
    settled();
}

std::unique_ptr<NodeLink> KeyingWatchConnector::create(NodeEvents& events) {
    return std::make_unique<KeyingWatch>(connector_.create(events), observer_);
}

}  // namespace tarnwick
