// The playback graph of the tests: plays in the loop's virtual time.
//
// A file's length comes from the factory's table; a running graph advances
// with virtual time at its rate and, at the end, reads exactly its length.
#pragma once

#include "media/media_graph.h"
#include "platform/event_loop.h"

#include <map>
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

    // The playback breaks where it stands (the output went away, the stream
    // stalled): the position stands still and, `after` later, reads the
    // length, as the platform graphs report a broken playback (at once after
    // an error, after 5 s of a position that stood still). Run, or a seek,
    // plays on from there.
    void breakDown(MonoTime after);
    // Running and short of its end, as the graph reports it (without the
    // failures a test asked for).
    bool playing() const { return running_ && positionNow() < length_; }

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

    ScriptedGraphFactory& factory_;
    EventLoop& loop_;
    std::string path_;
    double length_ = -1;
    bool running_ = false;
    double base_ = 0;  // position when the clock last started or moved
    MonoTime since_{0};
    double rate_ = 1.0;
    long volume_ = 0, balance_ = 0;
    bool broken_ = false;
    MonoTime endReportedAt_{0};
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
