// GuardedGraph: what every backend's graph gets wrapped in (GuardedGraphFactory
// wraps each graph the program makes), so that the promises of MediaGraph
// that need no component are kept once, on the event loop's clock.
//
//   * The stall watch: a running graph whose position (watchedPosition) has
//     stood still for kStallLimit reads the end. A running graph's position
//     follows its clock, so it stands still only when the playback will never
//     reach its end by itself, and the transmitter would stay keyed for ever.
//     The watch starts afresh on a Run after a Stop, and on a seek (a
//     backend that seeks for a new rate, GStreamer, has no reading while
//     the seek is in flight, which starts it afresh too).
//   * The ranges of SetVolume, SetBalance and SetRate: a value outside raises
//     the backend's own refusal before the backend sees it.
#pragma once

#include <chrono>
#include <memory>
#include <optional>
#include <string>

#include "seams/event_loop.h"
#include "seams/media_graph.h"

namespace tarnwick {

class GuardedGraph final : public MediaGraph {
public:
    static constexpr MonoTime kStallLimit = std::chrono::seconds(5);

    GuardedGraph(std::unique_ptr<MediaGraph> inner, const EventLoop& loop);

    void RenderFile(const std::string& path) override;
    void Run() override;
    void Stop() override;
    double Duration() override;
    double CurrentPosition() override;
    void SetCurrentPosition(double seconds) override;
    void SetRate(double factor) override;
    void SetVolume(long hundredthsDb) override;
    void SetBalance(long hundredthsDb) override;

    // The backend's graph, for tests and benchmarks that read what only it
    // knows.
    MediaGraph& inner() { return *inner_; }

private:
    std::optional<double> watchedPosition() const override { return inner_->watchedPosition(); }
    Failure refusal(const std::string& what) const override { return inner_->refusal(what); }
    void forgetWatch();

    std::unique_ptr<MediaGraph> inner_;
    const EventLoop& loop_;
    bool rendered_ = false;  // a RenderFile has succeeded
    bool running_ = false;   // Run was the last of Run and Stop to succeed
    std::optional<double> length_;
    // The stall watch: the position last read and since when it has stood
    // there, and whether it stood for kStallLimit (the end, until a seek or Stop).
    std::optional<double> stillAt_;
    MonoTime stillSince_{0};
    bool stalled_ = false;
};

class GuardedGraphFactory : public GraphFactory {
public:
    GuardedGraphFactory(GraphFactory& backend, const EventLoop& loop) : backend_(backend), loop_(loop) {}
    std::unique_ptr<MediaGraph> create() override;

private:
    GraphFactory& backend_;
    const EventLoop& loop_;
};

}  // namespace tarnwick
