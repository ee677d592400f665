// The assembly: builds the station and each feature's state, sets the
// station's hooks to the features' actions, and binds every control, timer
// and node event to its handler.
//
// A platform shell builds its services, hands them over in Platform, calls
// Form_Load() and, if that returns, shows nothing itself: start-up shows the
// window and starts the timers. From then on the shell only passes user
// input into the model (the controls' user* entries, requestClose()) and
// node events arrive through the NodeEvents face.
#pragma once

#include "media/load_file.h"
#include "schedule/schedule.h"
#include "station/station.h"
#include "transmit/transmit_sequence.h"

#include <string>

namespace tarnwick {

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

    // Ends the program at once (the last step of every exit path).
    [[noreturn]] void endProgram(int status) { station.endProgram(status); }

    // The transmitter's safe state (transmit's makeSafe), for paths on which
    // no tick will run again.
    void makeSafe() { tarnwick::makeSafe(station, transmission); }

    Station station;
    Form& form;  // the station's window model, which the shells bind

    // The features' state.
    Transmission transmission;
    MediaState media;
    ScheduleMemory schedule;

private:
    void bindHooks();
    void bindHandlers();
};

}  // namespace tarnwick
