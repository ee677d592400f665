#include "platform/fake/scripted_graph.h"

#include "base/convert.h"
#include "base/errors.h"

#include <algorithm>
#include <chrono>

namespace tarnwick {

ScriptedGraph::ScriptedGraph(ScriptedGraphFactory& factory, EventLoop& loop) : factory_(factory), loop_(loop) {
    factory_.current = this;
}

ScriptedGraph::~ScriptedGraph() {
    if (factory_.current == this) factory_.current = nullptr;
    factory_.calls.push_back("Release");
}

void ScriptedGraph::requireRendered() const {
    if (length_ < 0) throw Failure(-2147467259, "Unspecified error");
}

void ScriptedGraph::failIfAsked(const char* op) const {
    if (factory_.failing.count(op) != 0) throw Failure(-2147467263, "Not implemented");
}

void ScriptedGraph::failIfAskedOnce(const char* op) {
    if (!factory_.failNext.empty() && factory_.failNext.erase(op) != 0)
        throw Failure(-2147467259, std::string(op) + " failed");
}

Failure ScriptedGraph::refusal(const std::string& what) const { return Failure(-2147024809, what); }

double ScriptedGraph::positionNow() const {
    if (fault_ == Fault::Broken) return length_;
    if (fault_ == Fault::Stalled) return base_;
    if (!running_) return base_;
    const double elapsed = std::chrono::duration<double>(loop_.now() - since_).count();
    return std::min(length_, base_ + elapsed * rate_);
}

void ScriptedGraph::RenderFile(const std::string& path) {
    factory_.calls.push_back("RenderFile " + path);
    failIfAskedOnce("RenderFile");
    auto it = factory_.lengths.find(path);
    if (it == factory_.lengths.end()) throw Failure(-2147220890, "Cannot render the file");
    path_ = path;
    length_ = it->second;
}

void ScriptedGraph::Run() {
    factory_.calls.push_back("Run");
    requireRendered();
    failIfAskedOnce("Run");
    if (running_ && fault_ == Fault::None) return;
    fault_ = Fault::None;
    running_ = true;
    since_ = loop_.now();
}

void ScriptedGraph::breakDown() {
    base_ = positionNow();
    fault_ = Fault::Broken;
}

void ScriptedGraph::stall() {
    base_ = positionNow();
    fault_ = Fault::Stalled;
    stalledAt_ = loop_.now();
}

bool ScriptedGraph::playing() const {
    if (fault_ == Fault::Stalled) return running_ && loop_.now() - stalledAt_ < std::chrono::seconds(5);
    return running_ && positionNow() < length_;
}

void ScriptedGraph::Stop() {
    factory_.calls.push_back("Stop");
    requireRendered();
    failIfAskedOnce("Stop");
    base_ = positionNow();
    running_ = false;
}

double ScriptedGraph::Duration() {
    requireRendered();
    failIfAskedOnce("Duration");
    return length_;
}

double ScriptedGraph::CurrentPosition() {
    requireRendered();
    failIfAskedOnce("CurrentPosition");
    const double position = positionNow();
    // Halted, the last reading stays, as GStreamer's does: telling a Stop
    // from a stall is the guard's.
    if (running_) watched_ = position < length_ ? std::optional<double>(position) : std::nullopt;
    return position;
}

void ScriptedGraph::SetCurrentPosition(double seconds) {
    factory_.calls.push_back("SetCurrentPosition " + numberToText(seconds));
    requireRendered();
    failIfAskedOnce("SetCurrentPosition");
    fault_ = Fault::None;
    base_ = std::clamp(seconds, 0.0, length_);
    since_ = loop_.now();
}

void ScriptedGraph::SetRate(double factor) {
    factory_.calls.push_back("SetRate " + numberToText(factor));
    requireRendered();
    failIfAsked("SetRate");
    base_ = positionNow();
    since_ = loop_.now();
    rate_ = factor;
}

void ScriptedGraph::SetVolume(long v) {
    factory_.calls.push_back("SetVolume " + std::to_string(v));
    requireRendered();
    failIfAsked("SetVolume");
    volume_ = v;
}

void ScriptedGraph::SetBalance(long b) {
    factory_.calls.push_back("SetBalance " + std::to_string(b));
    requireRendered();
    failIfAsked("SetBalance");
    balance_ = b;
}

std::unique_ptr<MediaGraph> ScriptedGraphFactory::create() {
    if (failCreate) throw Failure(429, "ActiveX component can't create object");
    ++created;
    return std::make_unique<ScriptedGraph>(*this, loop_);
}

}  // namespace tarnwick
