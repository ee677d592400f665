#include "station/dispatcher.h"

#include "seams/dialogs.h"
#include "seams/event_loop.h"
#include "station/station_log.h"
#include "station/version.h"

#include <cstdlib>
#include <exception>

namespace tarnwick {

void Dispatcher::deliver(const Handler& handler) {
    if (ending_ || !handler) return;
    try {
        handler();
    } catch (const Failure& f) {
        failed(f);
    } catch (const std::exception& e) {
        failed(Failure(err::kInternal, e.what()));
    }
}

void Dispatcher::failed(const Failure& f) {
    // An exit path that failed on its way stays failed: its own steps are
    // what went wrong.
    if (!ending_ && closedPath_ && closingAnnounced_ && closingAnnounced_()) {
        if (log_ != nullptr) log_->note("a node call failed as the node was closing: " + f.description());
        Handler closed = std::move(closedPath_);
        closedPath_ = nullptr;  // once: if it fails too, the report follows
        deliver(closed);
        return;
    }
    report(f);
}

std::string Dispatcher::reportText(const Failure& f) {
    return "Run-time error '" + std::to_string(f.number()) + "':\r\n\r\n" + f.description();
}

void Dispatcher::report(const Failure& f) {
    // Stop deliveries first: the report is modal, and ticks falling due
    // while it is open must not run any more handlers. So no end-of-file
    // tick would unkey: the transmitter is made safe before the box opens.
    ending_ = true;
    if (safeState_) safeState_();
    if (log_ != nullptr) {
        log_->errorReport(reportText(f));
        log_->exiting("error report");
    }
    dialogs_.messageBox(reportText(f), kProductName, mb::kOk | mb::kIconError);
    if (atEnd_) atEnd_();
    loop_.endProgram(1);
    std::abort();  // an event loop whose endProgram returns is broken
}

void Dispatcher::endProgram(int status) {
    ending_ = true;
    if (atEnd_) atEnd_();
    loop_.endProgram(status);
    std::abort();  // an event loop whose endProgram returns is broken
}

}  // namespace tarnwick
