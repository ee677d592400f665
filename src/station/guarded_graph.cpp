#include "station/guarded_graph.h"

#include <utility>

namespace tarnwick {

GuardedGraph::GuardedGraph(std::unique_ptr<MediaGraph> inner, const EventLoop& loop)
    : inner_(std::move(inner)), loop_(loop) {}

void GuardedGraph::forgetWatch() { stillAt_.reset(); }

void GuardedGraph::RenderFile(const std::string& path) {
    inner_->RenderFile(path);
    rendered_ = true;
    running_ = false;
    length_.reset();
    stalled_ = false;
    forgetWatch();
}

void GuardedGraph::Run() {
    inner_->Run();
    // A Run on a running graph changes nothing, the watch included.
    if (!running_) forgetWatch();
    running_ = true;
}

void GuardedGraph::Stop() {
    inner_->Stop();
    running_ = false;
    stalled_ = false;
    forgetWatch();
}

double GuardedGraph::Duration() {
    const double length = inner_->Duration();
    length_ = length;
    return length;
}

double GuardedGraph::CurrentPosition() {
    // The backend's reading comes first even after a stall: it keeps taking
    // in what its playback reports, and its failures are raised as ever.
    const double position = inner_->CurrentPosition();
    if (stalled_) return *length_;
    const std::optional<double> watched = inner_->watchedPosition();
    if (!running_ || !watched) {
        forgetWatch();
        return position;
    }
    const MonoTime now = loop_.now();
    if (!stillAt_ || *watched != *stillAt_) {
        stillAt_ = watched;
        stillSince_ = now;
        return position;
    }
    if (now - stillSince_ < kStallLimit) return position;
    if (!length_) length_ = inner_->Duration();
    stalled_ = true;
    return *length_;
}

void GuardedGraph::SetCurrentPosition(double seconds) {
    inner_->SetCurrentPosition(seconds);
    stalled_ = false;
    forgetWatch();
}

void GuardedGraph::SetRate(double factor) {
    // The window's speed bar sends 0.10 .. 2.00; allow for its rounding.
    // Before a render the backend's own "nothing rendered" comes first.
    if (rendered_ && !(factor >= 0.1 - 1e-9 && factor <= 2.0 + 1e-9))
        throw inner_->refusal("Rate " + std::to_string(factor) + " is outside 0.1 .. 2.0");
    inner_->SetRate(factor);
}

void GuardedGraph::SetVolume(long hundredthsDb) {
    if (hundredthsDb < -10000 || hundredthsDb > 0)
        throw inner_->refusal("Volume " + std::to_string(hundredthsDb) + " is outside -10000 .. 0");
    inner_->SetVolume(hundredthsDb);
}

void GuardedGraph::SetBalance(long hundredthsDb) {
    if (hundredthsDb < -10000 || hundredthsDb > 10000)
        throw inner_->refusal("Balance " + std::to_string(hundredthsDb) + " is outside -10000 .. 10000");
    inner_->SetBalance(hundredthsDb);
}

std::unique_ptr<MediaGraph> GuardedGraphFactory::create() {
    return std::make_unique<GuardedGraph>(backend_.create(), loop_);
}

}  // namespace tarnwick
