// The station: what every feature stands on. The window model, the
// platform's services, the node and the current playback graph, the number
// format, the station log, where the program is in its life, and the hooks
// through which one feature asks for another's action.
//
// A feature takes a Station& and its own state; it never sees the assembly
// (System) nor another feature. System builds the station, sets its hooks
// and binds the handlers.
#pragma once

#include "seams/media_graph.h"
#include "seams/node_link.h"
#include "station/dispatcher.h"
#include "station/guarded_graph.h"
#include "station/station_log.h"
#include "station/timer_binder.h"
#include "station/version.h"
#include "window/form.h"

#include <functional>
#include <memory>
#include <string>

namespace tarnwick {

class Dialogs;
class EventLoop;
class Locale;
class LogSink;
class ProfileStore;
class WindowFrame;

struct Platform {
    EventLoop& loop;
    Dialogs& dialogs;
    WindowFrame& frame;
    Locale& locale;
    ProfileStore& profile;
    NodeConnector& nodes;
    GraphFactory& graphs;  // the backend's; the station guards every graph it makes
    VersionInfo version;
    LogSink* log = nullptr;  // the station log's file; none: the lines go nowhere
};

// Whether a start path lists the node busy (TXFile does, when
// ListAsBusyCheck is 1; the other start paths never do).
enum class ListBusy { No, Yes };

// One feature's action that another needs, set up by the assembly. The
// features call them through the Station's members of the same names; a
// hook that is not set does nothing (answers false, "").
struct StationHooks {
    // A start path (a beacon, the schedule, a DTMF command) asks for the
    // transmit steps.
    std::function<void(ListBusy, const std::string& trigger)> transmit;
    // The playback graph was released: a transmission running on it ends,
    // as nothing else would ever unkey it.
    std::function<void()> graphReleased;
    // The transmit steps ask the media for the file to play: a graph built
    // unless one is (LoadFile without a new choice). Returns whether a graph
    // is there to play.
    std::function<bool()> loadFile;
    // Whether a load waits in its dialog or message right now.
    std::function<bool()> loadWaiting;
    // The path the current graph was built from ("" before the first load).
    std::function<std::string()> loadedFile;
};

class Station {
public:
    explicit Station(Platform platform);

    // The node object held in `EchoLink`; raises Failure 91 before start-up
    // created it.
    NodeLink& echoLink();

    // The current graph; raises Failure 91 when there is none.
    MediaGraph& graph();
    bool hasGraph() const { return graph_ != nullptr; }
    // A newly built graph takes the place of none (the media's load).
    MediaGraph& holdGraph(std::unique_ptr<MediaGraph> graph);
    // Releases the graph, with no Stop first. Returns whether there was one.
    bool releaseGraph();

    const std::string& decimalSeparator() const { return decimalSeparator_; }
    std::string numberText(double v) const;
    double textNumber(const std::string& text) const;

    // The hooks, called by the features.
    void transmit(ListBusy listBusy, const std::string& trigger) {
        if (hooks.transmit) hooks.transmit(listBusy, trigger);
    }
    void graphReleased() {
        if (hooks.graphReleased) hooks.graphReleased();
    }
    bool loadFile() { return hooks.loadFile && hooks.loadFile(); }
    bool loadWaiting() const { return hooks.loadWaiting && hooks.loadWaiting(); }
    std::string loadedFile() const { return hooks.loadedFile ? hooks.loadedFile() : std::string(); }

    // Ends the program at once (the last step of every exit path).
    [[noreturn]] void endProgram(int status) { dispatcher.endProgram(status); }

    // Where the program is in its life. Nothing keys the node before
    // start-up has shown the window with its timers running (the end-of-file
    // tick among them), nor once an exit path has begun.
    enum class Phase { Starting, Running, Exiting };
    Phase phase() const { return phase_; }
    // Start-up is done: the window is shown and the timers run.
    void startRunning() { phase_ = Phase::Running; }
    // An exit path begins: no further event is delivered while it ends.
    void beginExit() {
        phase_ = Phase::Exiting;
        dispatcher.beginExit();
    }

    Platform platform;
    StationLog log;
    Form form;
    Dispatcher dispatcher;
    TimerBinder timers;
    // Every graph the program makes: the platform's, wrapped in the stall
    // watch and the range checks.
    GuardedGraphFactory graphs;
    StationHooks hooks;

    std::unique_ptr<NodeLink> EchoLink;  // the node, from start-up to the end

private:
    std::unique_ptr<MediaGraph> graph_;  // the current playback graph, if any
    std::string decimalSeparator_ = ".";
    Phase phase_ = Phase::Starting;
};

}  // namespace tarnwick
