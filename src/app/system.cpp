#include "app/system.h"

#include "app/lifecycle.h"
#include "beacons/beacon_groups.h"
#include "media/player_controls.h"
#include "settings/settings.h"
#include "transmit/monitors.h"

namespace tarnwick {

System::System(Platform p) : station(p), form(station.form) {
    Station& s = station;
    // Every control event runs under the uncaught-error regime.
    form.setEventGate([this](Control&, const char*, const Handler& h) { station.dispatcher.deliver(h); });
    s.dispatcher.setSafeState([this] { makeSafe(); });
    s.dispatcher.setNodeClosing([this] { return station.EchoLink && station.EchoLink->closingAnnounced(); },
                                [this] { nodeClosed(); });
    // The process takes with it what the link still holds: an unkey sent
    // without waiting (makeSafe, unkeyAgain, the last end of a file) would
    // be lost, the node left keyed. Then the graph goes, before the process
    // does: ended with its streaming threads still running, Wine's
    // DirectShow crashed the program on its way out (5 exits of 8 where the
    // node had vanished while keyed; none once the graph was released).
    s.dispatcher.setAtEnd([this] {
        if (station.EchoLink) station.EchoLink->awaitSent(kSentCallsWaitAtEnd);
        station.releaseGraph();
    });
    s.dispatcher.setLog(&s.log);
    bindHooks();
    bindHandlers();
}

System::~System() = default;

void System::bindHooks() {
    StationHooks& h = station.hooks;
    h.transmit = [this](ListBusy listBusy, const std::string& trigger) {
        transmitSteps(station, transmission, listBusy, trigger);
    };
    h.graphReleased = [this] { graphReleased(station, transmission); };
    h.loadFile = [this] { return LoadFile(station, media, ReLoad::No); };
    h.loadWaiting = [this] { return media.loadInProgress; };
    h.loadedFile = [this] { return media.LoadedFile; };
}

void System::bindHandlers() {
    Station& s = station;
    Form& f = form;
    f.Text6.onChange = [&s] { Text6_Change(s); };
    f.Hour3.onChange = [&s] { Hour3_Change(s); };
    f.Mins3.onChange = [&s] { Mins3_Change(s); };
    f.Command5.onClick = [&s] { Command5_Click(s); };

    f.BeaconPeriod6.onChange = [&s] { BeaconPeriod6_Change(s); };
    f.BeaconPeriod7.onChange = [&s] { BeaconPeriod7_Change(s); };
    f.BeaconPeriod8.onChange = [this] { BeaconPeriod8_Change(station, transmission); };
    f.Beacon6.onTick = [&s] { Beacon6_Timer(s); };
    f.Command6.onClick = [&s] { Command6_Click(s); };
    f.Beacon7.onTick = [&s] { Beacon7_Timer(s); };
    f.SendCW.onClick = [&s] { SendCW_Click(s); };
    f.Timer2.onTick = [this] { Timer2_Timer(station, schedule); };
    f.Beacon8.onTick = [this] { Beacon8_Timer(station, transmission.transmitBreak); };
    f.Timer3.onTick = [this] { Timer3_Timer(station, transmission.transmitBreak); };
    f.Timer4.onTick = [&s] { Timer4_Timer(s); };
    f.Timer5.onTick = [&s] { Timer5_Timer(s); };

    f.Timer1.onTick = [this] { Timer1_Timer(station, transmission); };
    f.Command1.onClick = [this] { Command1_Click(station, transmission); };
    f.Command2.onClick = [this] { Command2_Click(station, transmission); };
    f.Command3.onClick = [this] { Command3_Click(station, media); };
    f.Command4.onClick = [this] { Command4_Click(station, transmission); };
    f.H1.onScroll = [&s] { H1_Scroll(s); };
    f.V1.onChange = [&s] { V1_Change(s); };
    f.H2.onChange = [&s] { H2_Change(s); };
    f.V2.onChange = [&s] { V2_Change(s); };

    f.SaveAndExit.onClick = [&s] { SaveAndExit_Click(s); };
    f.Command7.onClick = [&s] { Command7_Click(s); };
}

void System::Form_Load() {
    station.dispatcher.deliver([this] { tarnwick::Form_Load(station, *this); });
}

void System::requestClose() {
    station.dispatcher.deliver([this] { Form_QueryUnload(station); });
}

void System::DTMFString(const std::string& digits) {
    // Before the window and its timers are up nothing would end a
    // transmission; after an exit began the dispatcher drops it anyway.
    if (station.phase() != Station::Phase::Running) return;
    station.dispatcher.deliver([this, digits] { EchoLink_DTMFString(station, digits); });
}

void System::Closing() {
    station.dispatcher.deliver([this] { nodeClosed(); });
}

void System::nodeClosed() {
    Station& s = station;
    // The node goes away before the settings were even read: there is
    // nothing of the user's to save, and saving the window's design values
    // would overwrite the file.
    if (s.phase() == Station::Phase::Starting) {
        s.beginExit();
        s.log.exiting("node closing during start-up");
        makeSafe();
        s.endProgram(0);
    }
    EchoLink_Closing(s);
}

}  // namespace tarnwick
