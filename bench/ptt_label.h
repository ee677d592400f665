// How quickly the PTT label follows the node: the stand-in keys itself
// while it sends the call sign in Morse ("Send ID"), and unkeys when the
// Morse ends; the label must show each change within 110 ms. Shared by the
// Linux and the Windows benchmark, each with its own loop, clock and trace.
#pragma once

#include "app/system.h"
#include "nodesim/morse.h"

#include <algorithm>
#include <cstdio>
#include <functional>
#include <random>
#include <string>
#include <vector>

namespace tarnwick::bench {

inline constexpr double kPttLabelGoalMs = 110;

struct PttLabelClock {
    std::function<void(int ms)> runFor;            // runs the program's loop for a while
    std::function<double()> epochMs;               // the trace's clock, now
    std::function<std::vector<double>()> cwSends;  // times of the trace's SendCwText lines
    int wpm = 20;                                  // the stand-in's Morse speed
};

// Notes when the PTT label's caption changes, and to what.
class PttCaptionWatch : public ControlObserver {
public:
    PttCaptionWatch(Form& form, std::function<double()> clock) : form_(form), clock_(std::move(clock)) {
        form.addObserver(this);
        last_ = form.PTT.caption();
    }
    void controlChanged(Control& c, Property p) override {
        if (&c != &form_.PTT || p != Property::Caption || form_.PTT.caption() == last_) return;
        last_ = form_.PTT.caption();
        changes.emplace_back(clock_(), last_);
    }
    // The first change to `caption` at or after `from`, or a negative number.
    double firstAfter(double from, const std::string& caption) const {
        for (const auto& [when, text] : changes) {
            if (when >= from && text == caption) return when;
        }
        return -1;
    }
    std::vector<std::pair<double, std::string>> changes;

private:
    Form& form_;
    std::function<double()> clock_;
    std::string last_;
};

// Clicks "Send ID" `runs` times at random phases of the monitor's tick and
// prints the label's lag behind the node's key and unkey.
inline void measurePttLabel(System& s, const PttLabelClock& clock, const char* platform, int runs = 20) {
    const std::string text = "TT";
    s.form.CWCallsign.setText(text);
    const double morseMs = static_cast<double>(nodesim::morseDurationMs(text, clock.wpm));
    PttCaptionWatch watch(s.form, clock.epochMs);
    std::mt19937 random(7);
    std::vector<double> lags;
    int missed = 0;
    for (int run = 0; run < runs; ++run) {
        const std::size_t before = clock.cwSends().size();
        clock.runFor(200 + static_cast<int>(random() % 100));
        s.form.SendCW.userClick();
        clock.runFor(static_cast<int>(morseMs) + 400);
        const std::vector<double> sends = clock.cwSends();
        if (sends.size() <= before) {
            ++missed;
            continue;
        }
        // The trace's times are whole milliseconds, cut down.
        const double keyed = sends[before], unkeyed = keyed + morseMs;
        const double on = watch.firstAfter(keyed, "PTT ON"), off = watch.firstAfter(unkeyed, "PTT OFF");
        if (on < 0 || off < 0) {
            ++missed;
            continue;
        }
        lags.push_back(on - keyed);
        lags.push_back(off - unkeyed);
    }
    if (lags.empty()) {
        std::printf("PTT label follows the node (%s): no change was seen MISS\n", platform);
        return;
    }
    std::sort(lags.begin(), lags.end());
    const double worst = lags.back(), median = lags[lags.size() / 2];
    std::printf(
        "PTT label follows the node (%s): median %.0f ms, worst %.0f ms over %zu key changes (goal <= %.0f ms) %s%s\n",
        platform, median, worst, lags.size(), kPttLabelGoalMs, worst <= kPttLabelGoalMs ? "PASS" : "MISS",
        missed > 0 ? (", " + std::to_string(missed) + " runs not seen").c_str() : "");
}

}  // namespace tarnwick::bench
