// The playback graph of the tests: plays in the loop's virtual time.
//
// A file's length comes from the factory's table; a running graph advances
// with virtual time at its rate and, at the end, reads exactly its length.
#pragma once

#include "seams/event_loop.h"
#include "seams/media_graph.h"

#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace tarnwick {

class ScriptedGraphFactory;

class ScriptedGraph : public MediaGraph {
public:
    ScriptedGraph(ScriptedGraphFactory& factory, EventLoop& loop);
    ~ScriptedGraph() override;

    void RenderFile(const std::string& path) override;
    void Run() override;
    void Stop() override;
    double Duration() override;
    double CurrentPosition() override;
    void SetCurrentPosition(double seconds) override;
    void SetRate(double factor) override;
    void SetVolume(long v) override;
    void SetBalance(long b) override;

    // The playback breaks where it stands (the output went away): it reads
    // the length at once, as a backend reports a playback error.
    void breakDown();
    // The playback stalls where it stands (a sink that stopped taking sound):
    // the position stands still while the graph runs and never reaches the
    // end by itself; the program's stall watch is to count it as ended.
    // After either, Run or a seek plays on from where it stood.
    void stall();
    // Running and short of its end, as the program must take it: a stall is
    // given 5 s (the stall watch's limit) before it counts as ended.
    bool playing() const;

    bool running() const { return running_; }
    double rate() const { return rate_; }
    long volume() const { return volume_; }
    long balance() const { return balance_; }
    const std::string& path() const { return path_; }

private:
    void requireRendered() const;
    void failIfAsked(const char* op) const;
    double positionNow() const;
    void failIfAskedOnce(const char* op);
    std::optional<double> watchedPosition() const override { return watched_; }
    Failure refusal(const std::string& what) const override;

    ScriptedGraphFactory& factory_;
    EventLoop& loop_;
    std::string path_;
    double length_ = -1;
    bool running_ = false;
    double base_ = 0;  // position when the clock last started or moved
    MonoTime since_{0};
    double rate_ = 1.0;
    long volume_ = 0, balance_ = 0;
    enum class Fault { None, Broken, Stalled } fault_ = Fault::None;
    MonoTime stalledAt_{0};
    std::optional<double> watched_;  // the last reading of a running playback short of its end
};

class ScriptedGraphFactory : public GraphFactory {
public:
    explicit ScriptedGraphFactory(EventLoop& loop) : loop_(loop) {}
    std::unique_ptr<MediaGraph> create() override;

    std::map<std::string, double> lengths;  // path -> seconds; others fail to render
    bool failCreate = false;
    std::set<std::string> failing;  // "SetVolume", "SetBalance", "SetRate": raise after being recorded
    // The next call of each named operation fails, whichever it is
    // ("RenderFile", "Run", "Stop", "Duration", "CurrentPosition", ...).
    std::set<std::string> failNext;
    int created = 0;
    ScriptedGraph* current = nullptr;  // the graph that lives now, if any
    std::vector<std::string> calls;    // "RenderFile /x.wav", "Run", "Stop", "SetCurrentPosition 0", ...

private:
    EventLoop& loop_;
};

}  // namespace tarnwick
