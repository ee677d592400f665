#include "transmit/transmit_sequence.h"

#include "base/convert.h"
#include "base/errors.h"

namespace tarnwick {

namespace {

// Whether a load was already waiting in its dialog or message when the
// trigger came (the start's own load was then refused).
enum class EarlierLoad { None, Waiting };

// Why the load left nothing to play, for the station log.
std::string nothingToPlay(const std::string& loadedFile, EarlierLoad earlier) {
    if (earlier == EarlierLoad::Waiting) return "load refused (a file dialog or load message is open)";
    if (loadedFile.empty()) return "no file";
    return "no file loaded (" + loadedFile + " could not be loaded)";
}

}  // namespace

void transmitSteps(Station& s, Transmission& t, ListBusy listBusy, const std::string& trigger) {
    Form& f = s.form;
    // Skip-and-continue: each step ignores failures.
    const EarlierLoad earlier = s.loadWaiting() ? EarlierLoad::Waiting : EarlierLoad::None;
    if (!s.loadFile()) {
        s.log.dropped(trigger, nothingToPlay(s.loadedFile(), earlier));
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
    cancelBreak(s, t.transmitBreak);
    const bool keyed = skipOnFailure([&] { s.echoLink().SetPtt(kNodeTrue); });
    s.log.transmissionStarted(trigger, s.loadedFile(), keyed ? StationLog::Key::Taken : StationLog::Key::Refused);
    t.running = true;
    skipOnFailure([&] { f.Beacon8.setEnabled(true); });
    if (!skipOnFailure([&] { s.graph().Run(); })) {
        // Nothing plays, so nothing would ever reach the end of the file:
        // the transmitter must not stay keyed with no sound.
        endTransmission(s, t, "the playback did not start");
        return;
    }
    skipOnFailure([&] { s.graph().SetCurrentPosition(0); });
}

void TXFile(Station& s, Transmission& t, const std::string& trigger) { transmitSteps(s, t, ListBusy::Yes, trigger); }

void endTransmission(Station& s, Transmission& t, const std::string& how) {
    const bool ended = t.running;
    t.running = false;
    cancelBreak(s, t.transmitBreak);
    skipOnFailure([&] { s.echoLink().SetListedBusyIgnoringAnswer(kNodeFalse); });
    skipOnFailure([&] { s.echoLink().SetPttIgnoringAnswer(kNodeFalse); });
    skipOnFailure([&] { s.form.Beacon8.setEnabled(false); });
    // After the unkey, which must not wait for the disk.
    if (ended) s.log.transmissionEnded(how);
}

void makeSafe(Station& s, Transmission& t) {
    t.running = false;
    if (s.EchoLink) {
        skipOnFailure([&] { s.EchoLink->SetPttIgnoringAnswer(kNodeFalse); });
        skipOnFailure([&] { s.EchoLink->SetListedBusyIgnoringAnswer(kNodeFalse); });
    }
    skipOnFailure([&] {
        if (s.hasGraph()) s.graph().Stop();
    });
}

void graphReleased(Station& s, Transmission& t) {
    if (t.running) endTransmission(s, t, "file unloaded by a new load");
}

void Timer1_Timer(Station& s, Transmission& t) {
    Form& f = s.form;
    // Skip-and-continue: each step ignores failures.
    // The end of the file ends the transmission. While none runs, every tick
    // unkeys and lists free, as after the end of a file: an unkey that failed
    // (Stop, a load that released the playing graph) goes again 10 ms later
    // instead of leaving the transmitter keyed with nothing left to end it.
    if (f.Text2.text() == f.Text3.text() || !t.running) endTransmission(s, t);
    // Without a graph each step below fails before it writes anything;
    // skipping them saves four failures a tick while idle.
    if (!s.hasGraph()) return;
    skipOnFailure([&] { f.H1.setValue(toInt16(s.graph().CurrentPosition())); });
    skipOnFailure([&] { f.Label22.setCaption(FormatClock(s.graph().Duration() - s.graph().CurrentPosition())); });
    skipOnFailure([&] { f.Text1.setText(s.numberText(s.graph().Duration())); });
    skipOnFailure([&] { f.Text2.setText(s.numberText(s.graph().CurrentPosition())); });
}

void Command1_Click(Station& s, Transmission& t) { transmitSteps(s, t, ListBusy::No, "Play"); }

void Command2_Click(Station& s, Transmission& t) {
    Form& f = s.form;
    const bool ended = t.running;
    t.running = false;
    cancelBreak(s, t.transmitBreak);
    skipOnFailure([&] { f.PTT.setCaption("PTT OFF"); });
    skipOnFailure([&] { s.echoLink().SetPtt(kNodeFalse); });
    skipOnFailure([&] { f.Beacon8.setEnabled(false); });
    skipOnFailure([&] { s.graph().Stop(); });
    // A transmission that listed the node busy is not listed free by the
    // progress tick once stopped (the position no longer equals the length):
    // other stations would see the node busy until the next file ends.
    skipOnFailure([&] { s.echoLink().SetListedBusy(kNodeFalse); });
    if (ended) s.log.transmissionEnded("Stop");
}

void Command4_Click(Station& s, Transmission& t) {
    Form& f = s.form;
    // Nothing is keyed without a graph to play.
    if (!s.hasGraph()) {
        s.log.dropped("Resume", "no file loaded");
        return;
    }
    cancelBreak(s, t.transmitBreak);
    skipOnFailure([&] { f.PTT.setCaption("PTT ON"); });
    const bool keyed = skipOnFailure([&] { s.echoLink().SetPtt(kNodeTrue); });
    s.log.transmissionResumed(s.loadedFile(), keyed ? StationLog::Key::Taken : StationLog::Key::Refused);
    t.running = true;
    skipOnFailure([&] { f.Beacon8.setEnabled(true); });
    // As for a start: a graph that does not run ends the transmission.
    if (!skipOnFailure([&] { s.graph().Run(); })) endTransmission(s, t, "the playback did not start");
}

}  // namespace tarnwick
