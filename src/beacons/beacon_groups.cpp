#include "beacons/beacon_groups.h"

#include "app/system.h"
#include "settings/settings.h"
#include "window/errors.h"

namespace tarnwick {

void periodEdit(TextBox& period, Timer& timer, Label& count, System& s) {
    // Skip-and-continue: each step ignores failures.
    skipOnFailure([&] { applyDigitsOnly(period); });
    const bool wasEmpty = period.text().empty();
    skipOnFailure([&] {
        if (wasEmpty) period.setText("0");  // runs this edit once more, nested, for "0"
    });
    skipOnFailure([&] { timer.setEnabled(!(wasEmpty || period.text() == "0")); });
    skipOnFailure([&] { count.setCaption(s.numberText(s.textNumber(period.text()) * 60)); });
}

void BeaconPeriod6_Change(System& s) { periodEdit(s.form.BeaconPeriod6, s.form.Beacon6, s.form.BeaconSeconds6, s); }
void BeaconPeriod7_Change(System& s) { periodEdit(s.form.BeaconPeriod7, s.form.Beacon7, s.form.BeaconSeconds7, s); }
void BeaconPeriod8_Change(System& s) { periodEdit(s.form.BeaconPeriod8, s.form.Beacon8, s.form.BeaconSeconds8, s); }

}  // namespace tarnwick
