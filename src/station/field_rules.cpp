#include "station/field_rules.h"

#include "base/errors.h"
#include "station/station.h"

namespace tarnwick {

void applyDigitsOnly(TextBox& box) { box.setStyle(box.style() | kEsNumber); }

bool isZeroPeriod(const std::string& text, const Station& s) {
    try {
        return !text.empty() && s.textNumber(text) == 0;
    } catch (const Failure&) {
        return false;
    }
}

void periodEdit(TextBox& period, Timer& timer, Label& count, Station& s) {
    // Skip-and-continue: each step ignores failures.
    skipOnFailure([&] { applyDigitsOnly(period); });
    const bool wasEmpty = period.text().empty();
    skipOnFailure([&] {
        if (wasEmpty) period.setText("0");  // runs this edit once more, nested, for "0"
    });
    skipOnFailure([&] { timer.setEnabled(!(wasEmpty || isZeroPeriod(period.text(), s))); });
    skipOnFailure([&] { count.setCaption(s.numberText(s.textNumber(period.text()) * 60)); });
}

bool countdownTick(CheckBox& use, Label& count, TextBox& period, Station& s) {
    if (use.value() != 0) count.setCaption(s.numberText(s.textNumber(count.caption()) - 1));
    if (count.caption() != "0") return false;
    count.setCaption(s.numberText(s.textNumber(period.text()) * 60));
    return true;
}

}  // namespace tarnwick
