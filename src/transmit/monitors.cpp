#include "transmit/monitors.h"

#include "seams/event_loop.h"
#include "station/station.h"

namespace tarnwick {

void Timer4_Timer(Station& s) {
    const bool receiving = s.echoLink().GetReceivingSignal() != 0;
    s.form.PTT2.setCaption(receiving ? "Receiving Signal" : "      ");
}

void Timer5_Timer(Station& s) {
    s.platform.loop.processPendingEvents();
    if (s.echoLink().GetPttState() != 0) {
        s.form.PTT.setForeColour(kRed);
        s.form.PTT.setCaption("PTT ON");
    } else {
        s.form.PTT.setForeColour(kGreen);
        s.form.PTT.setCaption("PTT OFF");
    }
}

}  // namespace tarnwick
