#include "transmit/transmit_sequence.h"

#include "app/system.h"
#include "media/load_file.h"
#include "transmit/monitors.h"
#include "window/errors.h"

namespace tarnwick {

void transmitSteps(System& s, bool listBusy) {
    Form& f = s.form;
    // Skip-and-continue: each step ignores failures.
    if (!LoadFile(s, false)) return;
    skipOnFailure([&] { f.Text2.setText("00:00:00"); });
    if (listBusy) {
        skipOnFailure([&] {
            if (f.ListAsBusyCheck.value() == 1) s.node().SetListedBusy(kNodeTrue);
        });
    }
    skipOnFailure([&] { f.PTT.setCaption("PTT ON"); });
    // A break in progress ends: the restart keys the transmitter now.
    cancelBreak(s);
    skipOnFailure([&] { s.node().SetPtt(kNodeTrue); });
    s.transmitting = true;
    skipOnFailure([&] { f.Beacon8.setEnabled(true); });
    if (!skipOnFailure([&] { s.graph().Run(); })) {
        // Nothing plays, so nothing would ever reach the end of the file:
        // the transmitter must not stay keyed with no sound.
        endTransmission(s);
        return;
    }
    skipOnFailure([&] { s.graph().SetCurrentPosition(0); });
}

void TXFile(System& s) { transmitSteps(s, true); }

void endTransmission(System& s) {
    s.transmitting = false;
    cancelBreak(s);
    skipOnFailure([&] { s.node().SetListedBusyIgnoringAnswer(kNodeFalse); });
    skipOnFailure([&] { s.node().SetPttIgnoringAnswer(kNodeFalse); });
    skipOnFailure([&] { s.form.Beacon8.setEnabled(false); });
}

}  // namespace tarnwick
