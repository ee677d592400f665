#include "transmit/transmit_sequence.h"

#include "app/system.h"
#include "media/load_file.h"
#include "transmit/monitors.h"
#include "window/errors.h"

namespace tarnwick {

namespace {

// Why LoadFile left nothing to play, for the station log. `refused`: a load
// was already waiting in its dialog or message when the trigger came.
std::string nothingToPlay(const System& s, bool refused) {
    if (refused) return "load refused (a file dialog or load message is open)";
    if (s.LoadedFile.empty()) return "no file";
    return "no file loaded (" + s.LoadedFile + " could not be loaded)";
}

}  // namespace

void transmitSteps(System& s, ListBusy listBusy, const std::string& trigger) {
    Form& f = s.form;
    // Skip-and-continue: each step ignores failures.
    const bool refused = s.loadInProgress;
    if (!LoadFile(s, ReLoad::No)) {
        s.log.dropped(trigger, nothingToPlay(s, refused));
        return;
    }
    skipOnFailure([&] { f.Text2.setText("00:00:00"); });
    if (listBusy == ListBusy::Yes) {
        skipOnFailure([&] {
            if (f.ListAsBusyCheck.value() == 1) s.echoLink().SetListedBusy(kNodeTrue);
        });
    }
    skipOnFailure([&] { f.PTT.setCaption("PTT ON"); });
    // A break in progress ends: the restart keys the transmitter now.
    cancelBreak(s);
    const bool keyed = skipOnFailure([&] { s.echoLink().SetPtt(kNodeTrue); });
    s.log.transmissionStarted(trigger, s.LoadedFile, !keyed);
    s.transmitting = true;
    skipOnFailure([&] { f.Beacon8.setEnabled(true); });
    if (!skipOnFailure([&] { s.graph().Run(); })) {
        // Nothing plays, so nothing would ever reach the end of the file:
        // the transmitter must not stay keyed with no sound.
        endTransmission(s, "the playback did not start");
        return;
    }
    skipOnFailure([&] { s.graph().SetCurrentPosition(0); });
}

void TXFile(System& s, const std::string& trigger) { transmitSteps(s, ListBusy::Yes, trigger); }

void endTransmission(System& s, const std::string& how) {
    const bool ended = s.transmitting;
    s.transmitting = false;
    cancelBreak(s);
    skipOnFailure([&] { s.echoLink().SetListedBusyIgnoringAnswer(kNodeFalse); });
    skipOnFailure([&] { s.echoLink().SetPttIgnoringAnswer(kNodeFalse); });
    skipOnFailure([&] { s.form.Beacon8.setEnabled(false); });
    // After the unkey, which must not wait for the disk.
    if (ended) s.log.transmissionEnded(how);
}

}  // namespace tarnwick
