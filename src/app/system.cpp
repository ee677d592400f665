#include "app/system.h"

#include "app/lifecycle.h"
#include "beacons/beacon_groups.h"
#include "media/player_controls.h"
#include "schedule/schedule.h"
#include "transmit/monitors.h"
#include "platform/locale.h"
#include "settings/settings.h"
#include "window/convert.h"

namespace tarnwick {

System::System(Platform p)
    : platform(p),
      log(p.log, p.locale, p.loop),
      dispatcher(p.dialogs, p.loop),
      timers(form, p.loop),
      graphs(p.graphs, p.loop) {
    decimalSeparator_ = platform.locale.decimalSeparator();
    // Every control event runs under the uncaught-error regime.
    form.setEventGate([this](Control&, const char*, const Handler& h) { dispatcher.deliver(h); });
    dispatcher.setSafeState([this] { makeSafe(); });
    dispatcher.setNodeClosing([this] { return EchoLink && EchoLink->closingAnnounced(); }, [this] { nodeClosed(); });
    // The process takes with it what the link still holds: an unkey sent
    // without waiting (makeSafe, unkeyAgain, the last end of a file) would
    // be lost, the node left keyed.
    dispatcher.setAtEnd([this] {
        if (EchoLink) EchoLink->awaitSent(kSentCallsWaitAtEnd);
    });
    dispatcher.setLog(&log);
    bindHandlers();
}

void System::makeSafe() {
    transmitting = false;
    if (EchoLink) {
        skipOnFailure([&] { EchoLink->SetPttIgnoringAnswer(kNodeFalse); });
        skipOnFailure([&] { EchoLink->SetListedBusyIgnoringAnswer(kNodeFalse); });
    }
    skipOnFailure([&] {
        if (graph_) graph_->Stop();
    });
}

System::~System() = default;

void System::bindHandlers() {
    Form& f = form;
    f.Text6.onChange = [this] { Text6_Change(*this); };
    f.Hour3.onChange = [this] { Hour3_Change(*this); };
    f.Mins3.onChange = [this] { Mins3_Change(*this); };
    f.Command5.onClick = [this] { Command5_Click(*this); };

    f.BeaconPeriod6.onChange = [this] { BeaconPeriod6_Change(*this); };
    f.BeaconPeriod7.onChange = [this] { BeaconPeriod7_Change(*this); };
    f.BeaconPeriod8.onChange = [this] { BeaconPeriod8_Change(*this); };
    f.Beacon6.onTick = [this] { Beacon6_Timer(*this); };
    f.Command6.onClick = [this] { Command6_Click(*this); };
    f.Beacon7.onTick = [this] { Beacon7_Timer(*this); };
    f.SendCW.onClick = [this] { SendCW_Click(*this); };
    f.Timer2.onTick = [this] { Timer2_Timer(*this); };
    f.Beacon8.onTick = [this] { Beacon8_Timer(*this); };
    f.Timer3.onTick = [this] { Timer3_Timer(*this); };
    f.Timer4.onTick = [this] { Timer4_Timer(*this); };
    f.Timer5.onTick = [this] { Timer5_Timer(*this); };

    f.Timer1.onTick = [this] { Timer1_Timer(*this); };
    f.Command1.onClick = [this] { Command1_Click(*this); };
    f.Command2.onClick = [this] { Command2_Click(*this); };
    f.Command3.onClick = [this] { Command3_Click(*this); };
    f.Command4.onClick = [this] { Command4_Click(*this); };
    f.H1.onScroll = [this] { H1_Scroll(*this); };
    f.V1.onChange = [this] { V1_Change(*this); };
    f.H2.onChange = [this] { H2_Change(*this); };
    f.V2.onChange = [this] { V2_Change(*this); };

    f.SaveAndExit.onClick = [this] { SaveAndExit_Click(*this); };
    f.Command7.onClick = [this] { Command7_Click(*this); };
}

void System::Form_Load() {
    dispatcher.deliver([this] { tarnwick::Form_Load(*this); });
}

void System::requestClose() {
    dispatcher.deliver([this] { Form_QueryUnload(*this); });
}

void System::DTMFString(const std::string& digits) {
    // Before the window and its timers are up nothing would end a
    // transmission; after an exit began the dispatcher drops it anyway.
    if (phase_ != Phase::Running) return;
    dispatcher.deliver([this, digits] { EchoLink_DTMFString(*this, digits); });
}

void System::Closing() {
    dispatcher.deliver([this] { nodeClosed(); });
}

void System::nodeClosed() {
    // The node goes away before the settings were even read: there is
    // nothing of the user's to save, and saving the window's design values
    // would overwrite the file.
    if (phase_ == Phase::Starting) {
        beginExit();
        log.exiting("node closing during start-up");
        makeSafe();
        endProgram(0);
    }
    EchoLink_Closing(*this);
}

NodeLink& System::echoLink() {
    if (!EchoLink) throw Failure(err::kObjectNotSet, "Object variable or With block variable not set");
    return *EchoLink;
}

MediaGraph& System::graph() {
    if (!graph_) throw Failure(err::kObjectNotSet, "Object variable or With block variable not set");
    return *graph_;
}

std::string System::numberText(double v) const { return numberToText(v, decimalSeparator_); }

double System::textNumber(const std::string& text) const { return textToNumber(text, decimalSeparator_); }

}  // namespace tarnwick
