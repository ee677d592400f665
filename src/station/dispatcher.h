// The uncaught-error regime: every event handler runs through deliver().
//
// A Failure (or any other exception) that escapes a handler shows the
// standard error report, a modal message with the failure's number and
// description, and then ends the program at once. Before the report opens,
// the transmitter is put in a safe state (the system's `safeState` hook):
// nothing runs while the report is open, so nothing else would unkey. From
// the moment an exit path begins (beginExit, the report, endProgram), no
// further event is delivered: not the ticks that fall due while a box is
// open, not a node event, not a click.
#pragma once

#include "base/errors.h"
#include "window/controls.h"

#include <functional>
#include <string>

namespace tarnwick {

class Dialogs;
class EventLoop;
class StationLog;

class Dispatcher {
public:
    Dispatcher(Dialogs& dialogs, EventLoop& loop) : dialogs_(dialogs), loop_(loop) {}

    // Runs `handler`; failures end the program after the report.
    void deliver(const Handler& handler);

    // Shows the standard error report for `f` and ends the program.
    [[noreturn]] void report(const Failure& f);

    // Ends the program at once; no event is delivered after this.
    [[noreturn]] void endProgram(int status);

    // An exit path has begun: the handler running now finishes it, and no
    // other event is delivered from here on (its boxes wait alone).
    void beginExit() { ending_ = true; }
    bool ending() const { return ending_; }

    // Run once before the error report opens; must not raise.
    void setSafeState(std::function<void()> makeSafe) { safeState_ = std::move(makeSafe); }
    // A node that quits as soon as it has raised Closing fails the calls
    // made before that event's turn: when `announced` says the node has
    // raised it, a failed handler runs `closedPath` (the node-closed exit,
    // which saves) instead of the error report, once.
    void setNodeClosing(std::function<bool()> announced, Handler closedPath) {
        closingAnnounced_ = std::move(announced);
        closedPath_ = std::move(closedPath);
    }
    // Run as the program ends, on every path through here (after the
    // report too); must not raise. The process ends right after it.
    void setAtEnd(std::function<void()> atEnd) { atEnd_ = std::move(atEnd); }
    // Where the report's text and the exit it brings are written.
    void setLog(StationLog* log) { log_ = log; }

    // The text of the standard error report for `f`.
    static std::string reportText(const Failure& f);

private:
    // A handler failed with `f`.
    void failed(const Failure& f);

    Dialogs& dialogs_;
    EventLoop& loop_;
    bool ending_ = false;
    std::function<void()> safeState_;
    std::function<void()> atEnd_;
    std::function<bool()> closingAnnounced_;
    Handler closedPath_;
    StationLog* log_ = nullptr;
};

}  // namespace tarnwick
