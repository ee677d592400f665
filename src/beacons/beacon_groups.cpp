#include "beacons/beacon_groups.h"

#include "station/field_rules.h"
#include "station/station.h"

namespace tarnwick {

namespace {

// The automatic transmissions hold back while the node is in use, when
// Check2 asks for it (exactly 1): why, or "" when they go. Raises on a
// failing node query.
std::string heldBack(Station& s) { return s.form.Check2.value() == 1 ? askNodeUse(s.echoLink()).why() : std::string(); }

// A start path that goes unless the node is in use.
void transmitUnlessHeldBack(Station& s, const std::string& trigger) {
    if (const std::string why = heldBack(s); !why.empty()) {
        s.log.dropped(trigger, why);
        return;
    }
    s.transmit(ListBusy::No, trigger);
}

}  // namespace

void BeaconPeriod6_Change(Station& s) { periodEdit(s.form.BeaconPeriod6, s.form.Beacon6, s.form.BeaconSeconds6, s); }
void BeaconPeriod7_Change(Station& s) { periodEdit(s.form.BeaconPeriod7, s.form.Beacon7, s.form.BeaconSeconds7, s); }

void Beacon6_Timer(Station& s) {
    Form& f = s.form;
    if (!countdownTick(f.StopClock6, f.BeaconSeconds6, f.BeaconPeriod6, s)) return;
    // A beacon that falls due while the node is in use is dropped; the next
    // comes a full period later.
    transmitUnlessHeldBack(s, "timed beacon");
}

void Command6_Click(Station& s) { transmitUnlessHeldBack(s, "Send Now"); }

void Beacon7_Timer(Station& s) {
    Form& f = s.form;
    if (!countdownTick(f.StopClock7, f.BeaconSeconds7, f.BeaconPeriod7, s)) return;
    // The node sends the text by itself and keys for it: no keying here, no
    // node-in-use test, and the text goes as it is, even empty.
    s.echoLink().SendCwText(0, f.CWCallsign.text());
    s.log.morseIdent("CW ident beacon", f.CWCallsign.text());
}

void SendCW_Click(Station& s) {
    Form& f = s.form;
    if (f.CWCallsign.text().empty()) f.CWCallsign.setText("No Call");
    s.echoLink().SendCwText(0, f.CWCallsign.text());
    s.log.morseIdent("Send ID", f.CWCallsign.text());
}

}  // namespace tarnwick
