#include "media/player_controls.h"

#include "app/system.h"
#include "window/errors.h"

namespace tarnwick {

void V1_Change(System& s) {
    skipOnFailure([&] { s.graph().SetVolume(s.form.V1.value()); });
    skipOnFailure([&] { s.form.VolSet.setText(s.numberText(s.form.V1.value())); });
}

}  // namespace tarnwick
