#include "transmit/monitors.h"

#include "app/system.h"
#include "platform/event_loop.h"
#include "window/errors.h"

#include <algorithm>
#include <chrono>
#include <cmath>

namespace tarnwick {

void Timer4_Timer(System& s) {
    const bool receiving = s.echoLink().GetReceivingSignal() != 0;
    s.form.PTT2.setCaption(receiving ? "Receiving Signal" : "      ");
}

void Timer5_Timer(System& s) {
    s.platform.loop.processPendingEvents();
    if (s.echoLink().GetPttState() != 0) {
        s.form.PTT.setForeColour(kRed);
        s.form.PTT.setCaption("PTT ON");
    } else {
        s.form.PTT.setForeColour(kGreen);
        s.form.PTT.setCaption("PTT OFF");
    }
}

void startBreak(System& s) {
    Form& f = s.form;
    f.Timer3.setEnabled(true);
    f.Beacon8.setEnabled(false);
    f.PTT.setCaption("PTT OFF");
    s.echoLink().SetPtt(kNodeFalse);
    s.log.breakStarted(f.Text6.text());
    s.breakActive = true;
    s.breakElapsed = MonoTime{0};
    s.breakLastTick = s.platform.loop.now();
    f.Label18.setCaption(f.Text6.text());
}

void cancelBreak(System& s) {
    if (!s.breakActive) return;
    s.breakActive = false;
    skipOnFailure([&] { s.form.Timer3.setEnabled(false); });
    skipOnFailure([&] { s.form.Label18.setCaption(s.form.Text6.text()); });
}

void Timer3_Timer(System& s) {
    Form& f = s.form;
    if (!s.breakActive) {
        f.Timer3.setEnabled(false);
        return;
    }
    const MonoTime now = s.platform.loop.now();
    // "Use" unticked freezes the break as it freezes the keyed-seconds count.
    if (f.StopClock8.value() != 0) s.breakElapsed += now - s.breakLastTick;
    s.breakLastTick = now;

    const double length = s.textNumber(f.Text6.text());
    const double elapsedMs = std::chrono::duration<double, std::milli>(s.breakElapsed).count();
    f.Label18.setCaption(s.numberText(std::max(0.0, std::ceil(length - elapsedMs))));
    if (f.Label18.caption() != "0") return;

    f.Timer3.setEnabled(false);
    s.breakActive = false;
    f.PTT.setCaption("PTT ON");
    f.Beacon8.setEnabled(true);
    s.echoLink().SetPtt(kNodeTrue);
    s.log.breakEnded();
    f.Label18.setCaption(f.Text6.text());
}

}  // namespace tarnwick
