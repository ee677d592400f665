#include "app/session_end.h"

#include "app/system.h"
#include "window/errors.h"

namespace tarnwick {

void EndSession(System& s, int status) {
    Form& f = s.form;
    // Skip-and-continue: every step ignores failures.
    skipOnFailure([&] { f.PTT.setCaption("PTT OFF"); });
    skipOnFailure([&] { s.node().SetPtt(kNodeFalse); });
    skipOnFailure([&] { f.Beacon8.setEnabled(false); });
    skipOnFailure([&] { s.node().SetListedBusy(kNodeFalse); });
    s.endProgram(status);
}

}  // namespace tarnwick
