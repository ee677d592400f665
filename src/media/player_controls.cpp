#include "media/player_controls.h"

#include "base/errors.h"
#include "media/load_file.h"
#include "station/station.h"

namespace tarnwick {

void Command3_Click(Station& s, MediaState& m) {
    s.form.Text4.setText("");
    LoadFile(s, m, ReLoad::Yes);
}

void H1_Scroll(Station& s) {
    skipOnFailure([&] { s.graph().SetCurrentPosition(s.form.H1.value()); });
}

namespace {

// One bar's value to the graph; without a graph the call fails and is skipped.
void sendVolume(Station& s) {
    skipOnFailure([&] { s.graph().SetVolume(s.form.V1.value()); });
}
void sendBalance(Station& s) {
    skipOnFailure([&] { s.graph().SetBalance(s.form.H2.value()); });
}
void sendRate(Station& s) {
    skipOnFailure([&] { s.graph().SetRate(s.form.V2.value() / 100.0); });
}

}  // namespace

void V1_Change(Station& s) {
    sendVolume(s);
    skipOnFailure([&] { s.form.VolSet.setText(s.numberText(s.form.V1.value())); });
}

void H2_Change(Station& s) { sendBalance(s); }

void V2_Change(Station& s) { sendRate(s); }

void applyBarsToGraph(Station& s) {
    // Skip-and-continue, as the bars' own change rules.
    sendVolume(s);
    sendBalance(s);
    sendRate(s);
}

}  // namespace tarnwick
