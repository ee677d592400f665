// MediaGraph: the playback graph of the current file.
//
// One graph per load: created empty by a GraphFactory, built by RenderFile,
// released by destruction (which discards playback with no Stop first).
// Every operation raises Failure when it cannot be done.
#pragma once

#include <memory>
#include <string>

namespace tarnwick {

class MediaGraph {
public:
    virtual ~MediaGraph() = default;

    // Builds the playback chain for the file; fails when the file cannot be
    // played or no output device exists.
    virtual void RenderFile(const std::string& path) = 0;
    virtual void Run() = 0;  // start, or continue from the current position
    virtual void Stop() = 0;
    virtual double Duration() = 0;  // seconds
    // Seconds; after the file has played to its end it reads exactly Duration.
    virtual double CurrentPosition() = 0;
    virtual void SetCurrentPosition(double seconds) = 0;
    virtual void SetRate(double factor) = 0;         // 1.0 normal
    virtual void SetVolume(long hundredthsDb) = 0;   // 0 full, -10000 silent
    virtual void SetBalance(long hundredthsDb) = 0;  // -10000 left only, 10000 right only
};

class GraphFactory {
public:
    virtual ~GraphFactory() = default;
    // A new, empty graph; raises Failure when none can be made.
    virtual std::unique_ptr<MediaGraph> create() = 0;
};

}  // namespace tarnwick
