#include "beacons/beacon_groups.h"

#include "app/system.h"
#include "settings/settings.h"
#include "transmit/monitors.h"
#include "transmit/transmit_sequence.h"
#include "window/errors.h"

namespace tarnwick {

namespace {

// "0", "00", "000": a period of no minutes. Any other spelling of zero would
// leave the timer running on a count that never comes round again.
// A period of no minutes, however spelt: typed ("0", "00", "000") or stored
// ("0.0", "0e1").
bool isZeroPeriod(const std::string& text, const System& s) {
    try {
        return !text.empty() && s.textNumber(text) == 0;
    } catch (const Failure&) {
        return false;
    }
}

// The automatic transmissions hold back while the node is in use, when
// Check2 asks for it (exactly 1): why, or "" when they go. Raises on a
// failing node query.
std::string heldBack(System& s) { return s.form.Check2.value() == 1 ? askNodeUse(s.echoLink()).why() : std::string(); }

// A start path that goes unless the node is in use.
void transmitUnlessHeldBack(System& s, const std::string& trigger) {
    if (const std::string why = heldBack(s); !why.empty()) {
        s.log.dropped(trigger, why);
        return;
    }
    transmitSteps(s, ListBusy::No, trigger);
}

}  // namespace

void periodEdit(TextBox& period, Timer& timer, Label& count, System& s) {
    // Skip-and-continue: each step ignores failures.
    skipOnFailure([&] { applyDigitsOnly(period); });
    const bool wasEmpty = period.text().empty();
    skipOnFailure([&] {
        if (wasEmpty) period.setText("0");  // runs this edit once more, nested, for "0"
    });
    skipOnFailure([&] { timer.setEnabled(!(wasEmpty || isZeroPeriod(period.text(), s))); });
    skipOnFailure([&] { count.setCaption(s.numberText(s.textNumber(period.text()) * 60)); });
}

bool countdownTick(CheckBox& use, Label& count, TextBox& period, System& s) {
    if (use.value() != 0) count.setCaption(s.numberText(s.textNumber(count.caption()) - 1));
    if (count.caption() != "0") return false;
    count.setCaption(s.numberText(s.textNumber(period.text()) * 60));
    return true;
}

void BeaconPeriod6_Change(System& s) { periodEdit(s.form.BeaconPeriod6, s.form.Beacon6, s.form.BeaconSeconds6, s); }
void BeaconPeriod7_Change(System& s) { periodEdit(s.form.BeaconPeriod7, s.form.Beacon7, s.form.BeaconSeconds7, s); }
void BeaconPeriod8_Change(System& s) {
    Form& f = s.form;
    periodEdit(f.BeaconPeriod8, f.Beacon8, f.BeaconSeconds8, s);
    // The keyed-seconds count runs only while a transmission is keyed: an
    // edit while idle (the settings load at start-up) must not start it,
    // or its break would end by keying an idle transmitter.
    skipOnFailure([&] {
        if (!s.transmitting || s.breakActive) f.Beacon8.setEnabled(false);
    });
}

void Beacon8_Timer(System& s) {
    Form& f = s.form;
    // A period of no minutes means no break, as it means no beacon for the
    // other two groups. Every transmit start enables this timer whatever the
    // period; left running, it would find the count at "0" and start a break
    // that "Use" unticked never lets end: the rest of the file off the air.
    if (isZeroPeriod(f.BeaconPeriod8.text(), s)) {
        f.Beacon8.setEnabled(false);
        return;
    }
    if (f.StopClock8.value() != 0)
        f.BeaconSeconds8.setCaption(s.numberText(s.textNumber(f.BeaconSeconds8.caption()) - 1));
    if (f.BeaconSeconds8.caption() != "0") return;
    // A break of no length is no break: the transmitter stays keyed.
    if (s.textNumber(f.Text6.text()) > 0) startBreak(s);
    f.BeaconSeconds8.setCaption(s.numberText(s.textNumber(f.BeaconPeriod8.text()) * 60));
}

void Beacon6_Timer(System& s) {
    Form& f = s.form;
    if (!countdownTick(f.StopClock6, f.BeaconSeconds6, f.BeaconPeriod6, s)) return;
    // A beacon that falls due while the node is in use is dropped; the next
    // comes a full period later.
    transmitUnlessHeldBack(s, "timed beacon");
}

void Command6_Click(System& s) { transmitUnlessHeldBack(s, "Send Now"); }

void Beacon7_Timer(System& s) {
    Form& f = s.form;
    if (!countdownTick(f.StopClock7, f.BeaconSeconds7, f.BeaconPeriod7, s)) return;
    // The node sends the text by itself and keys for it: no keying here, no
    // node-in-use test, and the text goes as it is, even empty.
    s.echoLink().SendCwText(0, f.CWCallsign.text());
    s.log.morseIdent("CW ident beacon", f.CWCallsign.text());
}

void SendCW_Click(System& s) {
    Form& f = s.form;
    if (f.CWCallsign.text().empty()) f.CWCallsign.setText("No Call");
    s.echoLink().SendCwText(0, f.CWCallsign.text());
    s.log.morseIdent("Send ID", f.CWCallsign.text());
}

}  // namespace tarnwick
