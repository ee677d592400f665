// The uncaught-error regime: every event handler runs through deliver().
//
// A Failure (or any other exception) that escapes a handler shows the
// standard error report, a modal message with the failure's number and
// description, and then ends the program at once. From the moment the
// program starts to end, no further event is delivered: not the ticks that
// fall due while the report is open, not a node event.
#pragma once

#include "window/controls.h"
#include "window/errors.h"

#include <string>

namespace tarnwick {

class Dialogs;
class EventLoop;

class Dispatcher {
public:
    Dispatcher(Dialogs& dialogs, EventLoop& loop) : dialogs_(dialogs), loop_(loop) {}

    // Runs `handler`; failures end the program after the report.
    void deliver(const Handler& handler);

    // Shows the standard error report for `f` and ends the program.
    [[noreturn]] void report(const Failure& f);

    // Ends the program at once; no event is delivered after this.
    [[noreturn]] void endProgram(int status);

    bool ending() const { return ending_; }

    // The text of the standard error report for `f`.
    static std::string reportText(const Failure& f);

private:
    Dialogs& dialogs_;
    EventLoop& loop_;
    bool ending_ = false;
};

}  // namespace tarnwick
