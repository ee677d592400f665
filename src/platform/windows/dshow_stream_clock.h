// The stream clock of a DirectShow graph, read the way its renderers read
// it: a filter of our own, without pins, that the graph manager starts,
// pauses and stops with every other filter. It therefore learns the graph's
// reference clock (SetSyncSource) and the reference time that every filter
// was given as stream time zero at the latest Run, which is when the audio
// renderer presents the first sample of the stream. The graph's own
// position cannot stand in for it: under Wine the graph manager starts its
// filters 200 ms after the time from which it counts its position.
//
// The filter says it is no renderer (IAMFilterMiscFlags 0), so the graph
// does not wait for an EC_COMPLETE from it. Its methods may be called on
// any thread (the graph manager may start the filters from a worker
// thread); streamTime() on any thread too.
#pragma once

#include <optional>

#include "platform/windows/win32_platform.h"

struct IBaseFilter;

namespace tarnwick {

class StreamClockFilter;

// Owns one reference to the filter.
class StreamClock {
public:
    StreamClock();
    ~StreamClock();
    StreamClock(const StreamClock&) = delete;
    StreamClock& operator=(const StreamClock&) = delete;

    // The filter, to be added to the graph (IFilterGraph::AddFilter takes
    // its own reference).
    IBaseFilter* filter() const;

    // Stream time in seconds: the reference clock's time minus the start
    // time of the latest Run, negative before the first sample is due.
    // Empty unless the graph is running with a reference clock.
    std::optional<double> streamTime() const;
    // How many times the graph has been run (a new start time each).
    unsigned long runs() const;

private:
    StreamClockFilter* filter_;
};

}  // namespace tarnwick
