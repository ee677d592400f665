// The assembled system: the window model, the platform's services, and the
// handlers of every control and node event, wired together.
//
// A platform shell builds its services, hands them over in Platform, calls
// Form_Load() and, if that returns, shows nothing itself: start-up shows the
// window and starts the timers. From then on the shell only passes user
// input into the model (the controls' user* entries, requestClose()) and
// node events arrive through the NodeEvents face.
#pragma once

#include "app/dispatcher.h"
#include "app/station_log.h"
#include "app/timer_binder.h"
#include "app/version.h"
#include "media/guarded_graph.h"
#include "media/media_graph.h"
#include "node/node_link.h"
#include "platform/event_loop.h"
#include "window/form.h"

#include <memory>
#include <optional>
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
    GraphFactory& graphs;  // the backend's; System guards every graph it makes
    VersionInfo version;
    LogSink* log = nullptr;  // the station log's file; none: the lines go nowhere
};

class System : public NodeEvents {
public:
    explicit System(Platform platform);
    ~System() override;

    // Start-up: the window's load event. Returns with the window shown and
    // the timers running, or ends the program.
    void Form_Load();

    // The window system asks the window to close (close box, system menu,
    // log-off). Returns only when the user answered No.
    void requestClose();

    // NodeEvents, delivered through the dispatcher.
    void DTMFString(const std::string& digits) override;
    void Closing() override;
    // The node-closed path, as the Closing event runs it.
    void nodeClosed();

    // The node object held in `EchoLink`; raises Failure 91 before start-up
    // created it.
    NodeLink& echoLink();
    // The current graph; raises Failure 91 when there is none.
    MediaGraph& graph();
    bool hasGraph() const { return graph_ != nullptr; }

    const std::string& decimalSeparator() const { return decimalSeparator_; }
    std::string numberText(double v) const;
    double textNumber(const std::string& text) const;

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
    // The transmitter's safe state, for paths on which no tick will run
    // again: unkey, list the node free, stop the playback, each step skipped
    // if it fails. The node calls are sent without waiting for answers, so a
    // node that stopped answering cannot hold the unkey back.
    void makeSafe();

    Platform platform;
    StationLog log;
    Form form;
    Dispatcher dispatcher;
    TimerBinder timers;
    // Every graph the program makes: the platform's, wrapped in the stall
    // watch and the range checks.
    GuardedGraphFactory graphs;

    std::unique_ptr<NodeLink> EchoLink;  // the node, from start-up to the end
    std::unique_ptr<MediaGraph> graph_;  // the current playback graph, if any
    std::string LoadedFile;              // the path the current graph was built from
    bool transmitting = false;           // a start path keyed the node and nothing has ended it
    bool loadInProgress = false;         // LoadFile waits in its dialog or a message
    // The schedule's memory: the last second a tick stood for, and the last
    // second it transmitted in (local wall-clock seconds).
    std::optional<long long> scheduleLastSecond;
    std::optional<long long> scheduleFiredSecond;
    std::optional<long long> scheduleDroppedSecond;  // the last target second held back (logged once)
    // A transmit break in progress: how long it has run (while "Use" is
    // ticked) and when Timer3 last looked.
    bool breakActive = false;
    MonoTime breakElapsed{0};
    MonoTime breakLastTick{0};

private:
    void bindHandlers();
    std::string decimalSeparator_ = ".";
    Phase phase_ = Phase::Starting;
};

}  // namespace tarnwick
