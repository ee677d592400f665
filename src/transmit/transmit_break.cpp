#include "transmit/transmit_break.h"

#include "base/errors.h"
#include "station/field_rules.h"
#include "station/station.h"
#include "transmit/transmit_sequence.h"

#include <algorithm>
#include <chrono>
#include <cmath>

namespace tarnwick {

void startBreak(Station& s, TransmitBreak& b) {
    Form& f = s.form;
    f.Timer3.setEnabled(true);
    f.Beacon8.setEnabled(false);
    f.PTT.setCaption("PTT OFF");
    s.echoLink().SetPtt(kNodeFalse);
    s.log.breakStarted(f.Text6.text());
    b.active = true;
    b.elapsed = MonoTime{0};
    b.lastTick = s.platform.loop.now();
    f.Label18.setCaption(f.Text6.text());
}

void cancelBreak(Station& s, TransmitBreak& b) {
    if (!b.active) return;
    b.active = false;
    skipOnFailure([&] { s.form.Timer3.setEnabled(false); });
    skipOnFailure([&] { s.form.Label18.setCaption(s.form.Text6.text()); });
}

void Timer3_Timer(Station& s, TransmitBreak& b) {
    Form& f = s.form;
    if (!b.active) {
        f.Timer3.setEnabled(false);
        return;
    }
    const MonoTime now = s.platform.loop.now();
    // "Use" unticked freezes the break as it freezes the keyed-seconds count.
    if (f.StopClock8.value() != 0) b.elapsed += now - b.lastTick;
    b.lastTick = now;

    const double length = s.textNumber(f.Text6.text());
    const double elapsedMs = std::chrono::duration<double, std::milli>(b.elapsed).count();
    f.Label18.setCaption(s.numberText(std::max(0.0, std::ceil(length - elapsedMs))));
    if (f.Label18.caption() != "0") return;

    f.Timer3.setEnabled(false);
    b.active = false;
    f.PTT.setCaption("PTT ON");
    f.Beacon8.setEnabled(true);
    s.echoLink().SetPtt(kNodeTrue);
    s.log.breakEnded();
    f.Label18.setCaption(f.Text6.text());
}

void Beacon8_Timer(Station& s, TransmitBreak& b) {
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
    if (s.textNumber(f.Text6.text()) > 0) startBreak(s, b);
    f.BeaconSeconds8.setCaption(s.numberText(s.textNumber(f.BeaconPeriod8.text()) * 60));
}

void BeaconPeriod8_Change(Station& s, const Transmission& t) {
    Form& f = s.form;
    periodEdit(f.BeaconPeriod8, f.Beacon8, f.BeaconSeconds8, s);
    // The keyed-seconds count runs only while a transmission is keyed: an
    // edit while idle (the settings load at start-up) must not start it,
    // or its break would end by keying an idle transmitter.
    skipOnFailure([&] {
        if (!t.running || t.transmitBreak.active) f.Beacon8.setEnabled(false);
    });
}

void Text6_Change(Station& s) {
    TextBox& t = s.form.Text6;
    // Skip-and-continue: each step of this rule ignores failures.
    skipOnFailure([&] { applyDigitsOnly(t); });
    const bool wasEmpty = t.text().empty();
    skipOnFailure([&] {
        if (wasEmpty) t.setText("0");  // runs this rule once more, nested, for "0"
    });
    skipOnFailure([&] { s.form.Timer3.setEnabled(!(wasEmpty || t.text() == "0")); });
    skipOnFailure([&] { s.form.Label18.setCaption(t.text()); });
}

}  // namespace tarnwick
