#include "app/session_end.h"

#include "app/system.h"
#include "base/errors.h"

#include <string>

namespace tarnwick {

void EndSession(System& system, int status) {
    Station& s = system.station;
    Form& f = s.form;
    s.log.exiting(status > 128 ? "ended from outside (signal " + std::to_string(status - 128) + ")"
                               : "ended from outside (the session is ending)");
    // Skip-and-continue: every step ignores failures.
    skipOnFailure([&] { f.PTT.setCaption("PTT OFF"); });
    skipOnFailure([&] { s.echoLink().SetPtt(kNodeFalse); });
    skipOnFailure([&] { f.Beacon8.setEnabled(false); });
    skipOnFailure([&] { s.echoLink().SetListedBusy(kNodeFalse); });
    s.endProgram(status);
}

}  // namespace tarnwick
