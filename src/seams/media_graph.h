// MediaGraph: the playback graph of the current file, and what every backend
// (GStreamer, DirectShow, the scripted graph of the tests) promises.
//
// One graph per load: created empty by a GraphFactory, built by RenderFile,
// released by destruction, which discards the playback at once with no Stop
// first. Every operation is called on the event loop's thread and raises
// Failure when it cannot be done; before a successful RenderFile only
// SetVolume and SetBalance may succeed.
//
// The end of the file is what the transmission unkeys on: the progress tick
// compares the position's text with the length's, so at the end the position
// must be that very number, and only there. Hence:
//   * CurrentPosition() stays below Duration() while the file plays, even
//     where the length was only an estimate shorter than the sound;
//   * it reads exactly Duration() once the end has been heard, on every call
//     until the next seek;
//   * a playback that will not reach its end by itself counts as ended, so
//     that the transmitter is never left keyed for it: a playback error (the
//     output went away, a decoder broke) at once, and a running graph whose
//     position stands still for GuardedGraph::kStallLimit (5 s: a sink that
//     stopped taking sound, a graph that never started) then. The stall's
//     end holds until a seek or a Stop.
//
// GuardedGraph (station/guarded_graph.h) wraps every graph the program makes:
// it keeps that stall watch and refuses values out of range, so that the
// backends do neither. What a backend adds of its own is in its header.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "base/errors.h"

namespace tarnwick {

class MediaGraph {
public:
    virtual ~MediaGraph() = default;

    // Builds the playback chain for the file. Fails when the file is missing
    // or cannot be played, has no sound, has no known length, or when no
    // sound output exists (a graph never plays into nowhere). Afterwards the
    // graph stands ready at position 0, not running, at full volume, centre
    // balance and rate 1.0.
    virtual void RenderFile(const std::string& path) = 0;
    // Plays from the current position. At the end of the file it stays at
    // the end; on a running graph it changes nothing.
    virtual void Run() = 0;
    // Halts, keeping the position, so that Run plays on from there.
    virtual void Stop() = 0;
    // The length in seconds, as read by RenderFile. It never changes: the
    // window holds it, and the end is the position reading exactly this.
    virtual double Duration() = 0;
    // The position in seconds (see the end of the file above).
    virtual double CurrentPosition() = 0;
    // Seeks to `seconds`, clamped to 0 .. Duration(), and forgets the end.
    // Keeps the running or halted state and the rate.
    virtual void SetCurrentPosition(double seconds) = 0;
    // Playback speed, 0.10 .. 2.00 (1.0 normal). Neither the length nor the
    // position the end reads changes with it.
    virtual void SetRate(double factor) = 0;
    // Hundredths of a decibel, -10000 (silent) .. 0 (full): the amplitude is
    // scaled by 10^(v/2000).
    virtual void SetVolume(long hundredthsDb) = 0;
    // Hundredths of a decibel taken off the other side: below 0 the right
    // channel is lowered by |b|/100 dB, above 0 the left one; -10000 plays
    // the left channel only, 10000 the right only. Mono files play on both.
    virtual void SetBalance(long hundredthsDb) = 0;
    // A value outside the ranges above raises Failure and changes nothing.

private:
    friend class GuardedGraph;
    // What the last CurrentPosition read from a running playback short of its
    // end, before keeping it below Duration() (it moves on past a length that
    // was an estimate, as long as sound is made); nothing when there was no
    // such reading (at the end, a seek still in flight). Halted, it may keep
    // the last reading: the stall watch looks at it only while the graph runs.
    virtual std::optional<double> watchedPosition() const = 0;
    // The Failure this backend raises for a value out of range, with the
    // number and wording of its other failures.
    virtual Failure refusal(const std::string& what) const = 0;
};

class GraphFactory {
public:
    virtual ~GraphFactory() = default;
    // A new, empty graph; raises Failure when none can be made.
    virtual std::unique_ptr<MediaGraph> create() = 0;
};

}  // namespace tarnwick
