#include "media/player_controls.h"

#include "app/system.h"
#include "media/load_file.h"
#include "transmit/monitors.h"
#include "transmit/transmit_sequence.h"
#include "window/convert.h"
#include "window/errors.h"

#include <cmath>
#include <cstdio>

namespace tarnwick {

std::string FormatClock(double seconds) {
    const double t = std::floor(seconds);
    if (!(t >= 1)) return "00:00:00";
    const double h = std::floor(t / 3600);
    const double m = std::floor((t - 3600 * h) / 60);
    const double sec = t - 60 * std::floor(t / 60);
    if (h > 24) return "24:59:59";
    // Hour 24 is shown as it is: read as a time of day it would wrap to 00.
    char buf[16];
    std::snprintf(buf, sizeof buf, "%02d:%02d:%02d", static_cast<int>(h), static_cast<int>(m), static_cast<int>(sec));
    return buf;
}

void Timer1_Timer(System& s) {
    Form& f = s.form;
    // Skip-and-continue: each step ignores failures.
    // The end of the file ends the transmission. While none runs, every tick
    // unkeys and lists free, as after the end of a file: an unkey that failed
    // (Stop, a load that released the playing graph) goes again 10 ms later
    // instead of leaving the transmitter keyed with nothing left to end it.
    if (f.Text2.text() == f.Text3.text() || !s.transmitting) endTransmission(s);
    // Without a graph each step below fails before it writes anything;
    // skipping them saves four failures a tick while idle.
    if (!s.hasGraph()) return;
    skipOnFailure([&] { f.H1.setValue(toInt16(s.graph().CurrentPosition())); });
    skipOnFailure([&] { f.Label22.setCaption(FormatClock(s.graph().Duration() - s.graph().CurrentPosition())); });
    skipOnFailure([&] { f.Text1.setText(s.numberText(s.graph().Duration())); });
    skipOnFailure([&] { f.Text2.setText(s.numberText(s.graph().CurrentPosition())); });
}

void Command1_Click(System& s) { transmitSteps(s, ListBusy::No, "Play"); }

void Command2_Click(System& s) {
    Form& f = s.form;
    const bool ended = s.transmitting;
    s.transmitting = false;
    cancelBreak(s);
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

void Command3_Click(System& s) {
    s.form.Text4.setText("");
    LoadFile(s, ReLoad::Yes);
}

void Command4_Click(System& s) {
    Form& f = s.form;
    // Nothing is keyed without a graph to play.
    if (!s.hasGraph()) {
        s.log.dropped("Resume", "no file loaded");
        return;
    }
    cancelBreak(s);
    skipOnFailure([&] { f.PTT.setCaption("PTT ON"); });
    const bool keyed = skipOnFailure([&] { s.echoLink().SetPtt(kNodeTrue); });
    s.log.transmissionResumed(s.LoadedFile, !keyed);
    s.transmitting = true;
    skipOnFailure([&] { f.Beacon8.setEnabled(true); });
    // As for a start: a graph that does not run ends the transmission.
    if (!skipOnFailure([&] { s.graph().Run(); })) endTransmission(s, "the playback did not start");
}

void H1_Scroll(System& s) {
    skipOnFailure([&] { s.graph().SetCurrentPosition(s.form.H1.value()); });
}

namespace {

// One bar's value to the graph; without a graph the call fails and is skipped.
void sendVolume(System& s) {
    skipOnFailure([&] { s.graph().SetVolume(s.form.V1.value()); });
}
void sendBalance(System& s) {
    skipOnFailure([&] { s.graph().SetBalance(s.form.H2.value()); });
}
void sendRate(System& s) {
    skipOnFailure([&] { s.graph().SetRate(s.form.V2.value() / 100.0); });
}

}  // namespace

void V1_Change(System& s) {
    sendVolume(s);
    skipOnFailure([&] { s.form.VolSet.setText(s.numberText(s.form.V1.value())); });
}

void H2_Change(System& s) { sendBalance(s); }

void V2_Change(System& s) { sendRate(s); }

void applyBarsToGraph(System& s) {
    // Skip-and-continue, as the bars' own change rules.
    sendVolume(s);
    sendBalance(s);
    sendRate(s);
}

}  // namespace tarnwick
