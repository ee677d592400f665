#include "node/keying_watch.h"

namespace tarnwick {

template <typename Send>
void KeyingWatch::setPtt(NodeBool on, Send send) {
    if (on != 0) {
        if (!keyed_) {
            keyed_ = true;
            observer_.keyingChanged(true);
        }
        send();
        return;
    }
    send();  // a failure raises here and leaves the state at "keyed"
    if (keyed_) {
        keyed_ = false;
        observer_.keyingChanged(false);
    }
}

void KeyingWatch::SetPtt(NodeBool on) {
    setPtt(on, [&] { link_->SetPtt(on); });
}

void KeyingWatch::SetPttIgnoringAnswer(NodeBool on) {
    setPtt(on, [&] { link_->SetPttIgnoringAnswer(on); });
}

std::unique_ptr<NodeLink> KeyingWatchConnector::create(NodeEvents& events) {
    return std::make_unique<KeyingWatch>(connector_.create(events), observer_);
}

}  // namespace tarnwick
