#include "settings/settings.h"

#include "base/convert.h"
#include "base/errors.h"
#include "seams/dialogs.h"
#include "seams/profile_store.h"
#include "seams/window_frame.h"
#include "station/field_rules.h"
#include "station/station.h"

#include <algorithm>
#include <cmath>
#include <optional>

namespace tarnwick {

namespace {

// Values the profile functions can return are at most 255 characters.
constexpr std::size_t kValueBuffer = 256;

enum class Kind { Text, Check, Position };
// How a stored text value must look to be usable. Text is taken as written,
// as the profile functions give it (a schedule time that can never match is
// the user's to fix), except where the program computes with it: a beacon or
// break period and the break's length must read as a number (else the first
// tick that counts with it would end the program), and the volume must round
// to a whole number on its bar.
enum class TextRule { Any, Number, Volume };

struct Row {
    const char* readKey;
    const char* writeKey;
    Kind kind;
    const char* defaultValue;
    TextBox Form::*text = nullptr;
    CheckBox Form::*check = nullptr;
    TextRule rule = TextRule::Any;
    bool left = false;  // position rows: LEFT or TOP
};

// The keys in the order they are read and written. Key 19 is spelt
// DTMFInfo3 by the reader and DTMFINFO3 by the writer; the store matches keys
// without regard to case, so both name the same entry.
const std::vector<Row>& rows() {
    static const std::vector<Row> table = {
        {"TEXT6", "TEXT6", Kind::Text, "50", &Form::Text6, nullptr, TextRule::Number},
        {"BEACONPERIOD8", "BEACONPERIOD8", Kind::Text, "50", &Form::BeaconPeriod8, nullptr, TextRule::Number},
        {"BEACONPERIOD6", "BEACONPERIOD6", Kind::Text, "15", &Form::BeaconPeriod6, nullptr, TextRule::Number},
        {"STOPCLOCK8", "STOPCLOCK8", Kind::Check, "0", nullptr, &Form::StopClock8},
        {"LISTASBUSYCHECK", "LISTASBUSYCHECK", Kind::Check, "0", nullptr, &Form::ListAsBusyCheck},
        {"STOPCLOCK7", "STOPCLOCK7", Kind::Check, "0", nullptr, &Form::StopClock7},
        {"BEACONPERIOD7", "BEACONPERIOD7", Kind::Text, "15", &Form::BeaconPeriod7, nullptr, TextRule::Number},
        {"CWCALLSIGN", "CWCALLSIGN", Kind::Text, "Your Call", &Form::CWCallsign},
        {"TEXT4", "TEXT4", Kind::Text, "", &Form::Text4},
        {"SUN3", "SUN3", Kind::Check, "0", nullptr, &Form::Sun3},
        {"MON3", "MON3", Kind::Check, "0", nullptr, &Form::Mon3},
        {"TUE3", "TUE3", Kind::Check, "0", nullptr, &Form::Tue3},
        {"WED3", "WED3", Kind::Check, "0", nullptr, &Form::Wed3},
        {"THUR3", "THUR3", Kind::Check, "0", nullptr, &Form::Thur3},
        {"FRI3", "FRI3", Kind::Check, "0", nullptr, &Form::Fri3},
        {"SAT3", "SAT3", Kind::Check, "0", nullptr, &Form::Sat3},
        {"HOUR3", "HOUR3", Kind::Text, "24", &Form::Hour3},
        {"MINS3", "MINS3", Kind::Text, "00", &Form::Mins3},
        {"DTMFInfo3", "DTMFINFO3", Kind::Text, "BB", &Form::DTMFInfo3},
        {"VOLSET", "VOLSET", Kind::Text, "0", &Form::VolSet, nullptr, TextRule::Volume},
        {"CHECK2", "CHECK2", Kind::Check, "1", nullptr, &Form::Check2},
        {"STOPCLOCK6", "STOPCLOCK6", Kind::Check, "0", nullptr, &Form::StopClock6},
        {"LEFT", "LEFT", Kind::Position, "300", nullptr, nullptr, TextRule::Any, true},
        {"TOP", "TOP", Kind::Position, "300", nullptr, nullptr, TextRule::Any, false},
    };
    return table;
}

// Why a stored value cannot be used, or nullopt when it can.
std::optional<std::string> unusable(const Row& row, const std::string& value, const std::string& sep) {
    switch (row.kind) {
        case Kind::Text:
            // Empty is what a cleared field saves; its change rule makes it "0".
            if (row.rule == TextRule::Number && !value.empty()) {
                try {
                    textToNumber(value, sep);
                } catch (const Failure&) {
                    return "is not a number";
                }
            }
            if (row.rule == TextRule::Volume) {
                try {
                    textToWhole(value, -3000, 0, sep);  // rounded as every whole-number field is
                } catch (const Failure&) {
                    return "is not a number from -3000 to 0";
                }
            }
            return std::nullopt;
        case Kind::Check:
            try {
                textToWhole(value, 0, 2, sep);
            } catch (const Failure&) {
                return "is not 0, 1 or 2";
            }
            return std::nullopt;
        case Kind::Position:
            try {
                toInt32(textToNumber(value, sep));
            } catch (const Failure&) {
                return "is not a number";
            }
            return std::nullopt;
    }
    return std::nullopt;
}

// Keeps the window reachable: a stored position that puts the title bar on
// no screen (a screen that is gone, or a position saved while minimised)
// moves the window into the nearest screen. The file changes only with the
// next save.
void keepOnScreen(WindowFrame& frame) {
    const auto screens = frame.screens();
    if (screens.empty()) return;
    // In 64 bits: a stored position may be anywhere in the 32-bit range, and
    // its far edge or its distance to a screen beyond it.
    using Twips = long long;
    const Twips left = frame.left(), top = frame.top();
    const Twips width = std::max(frame.outerWidth(), 1);
    // The strip a user grabs to move the window: the top 300 twips.
    const Twips grab = std::min(300, std::max(frame.outerHeight(), 1));
    auto overlap = [&](const TwipsRect& s) {
        const Twips w = std::min(left + width, Twips{s.left} + s.width) - std::max(left, Twips{s.left});
        const Twips h = std::min(top + grab, Twips{s.top} + s.height) - std::max(top, Twips{s.top});
        return (w > 0 && h > 0) ? w * h : 0LL;
    };
    // Enough of the title bar to grab it with the mouse.
    const Twips enough = std::min<Twips>(width, 1500) * grab;
    for (const auto& s : screens) {
        if (overlap(s) >= enough) return;
    }
    // Pick the screen nearest to the stored position.
    const TwipsRect* best = &screens.front();
    double bestDist = -1;
    for (const auto& s : screens) {
        const Twips dx = std::max({s.left - left, Twips{0}, left - (Twips{s.left} + s.width)});
        const Twips dy = std::max({s.top - top, Twips{0}, top - (Twips{s.top} + s.height)});
        const double d = static_cast<double>(dx) * dx + static_cast<double>(dy) * dy;
        if (bestDist < 0 || d < bestDist) {
            bestDist = d;
            best = &s;
        }
    }
    const Twips newLeft =
        std::clamp(left, Twips{best->left}, std::max<Twips>(best->left, Twips{best->left} + best->width - width));
    const Twips newTop = std::clamp(top, Twips{best->top},
                                    std::max<Twips>(best->top, Twips{best->top} + best->height - frame.outerHeight()));
    frame.moveTo(static_cast<int>(newLeft), static_cast<int>(newTop));
}

}  // namespace

std::string LoadSettings(Station& s) {
    Form& f = s.form;
    ProfileStore& store = s.platform.profile;
    WindowFrame& frame = s.platform.frame;
    const std::string& sep = s.decimalSeparator();
    std::vector<UnusableSetting> bad;

    for (const Row& row : rows()) {
        std::string value = store.getString(kSettingsSection, row.readKey, row.defaultValue, kValueBuffer);
        if (auto why = unusable(row, value, sep)) {
            bad.push_back({row.readKey, value, *why, row.defaultValue});
            value = row.defaultValue;
        }
        switch (row.kind) {
            case Kind::Text:
                // Runs the field's change rule, also when the text is unchanged.
                (f.*row.text).setText(value);
                break;
            case Kind::Check:
                (f.*row.check).setValue(static_cast<int>(textToWhole(value, 0, 2, sep)));
                break;
            case Kind::Position: {
                const int twips = toInt32(textToNumber(value, sep));
                if (row.left) {
                    frame.moveTo(twips, frame.top());
                } else {
                    frame.moveTo(frame.left(), twips);
                }
                break;
            }
        }
    }
    // Mirrors the volume into its bar; the bar's change rule runs only when
    // the value differs.
    f.V1.setValue(static_cast<int>(textToWhole(f.VolSet.text(), -3000, 0, sep)));
    keepOnScreen(frame);

    return bad.empty() ? std::string() : unusableSettingsMessage(store.location(), bad);
}

std::string unusableSettingsMessage(const std::string& file, const std::vector<UnusableSetting>& bad) {
    std::string text = "Some settings stored in " + file + " cannot be used. Their defaults are used instead:\r\n\r\n";
    for (const auto& b : bad) {
        text += b.key + "=\"" + b.value + "\" " + b.why + "; the default \"" + b.defaultValue + "\" is used.\r\n";
    }
    text += "\r\nThe file is left as it is until the settings are saved.";
    return text;
}

void SaveData(Station& s, AfterSave after) {
    Form& f = s.form;
    WindowFrame& frame = s.platform.frame;
    std::vector<std::pair<std::string, std::string>> entries;
    entries.reserve(rows().size());
    for (const Row& row : rows()) {
        std::string value;
        switch (row.kind) {
            case Kind::Text:
                value = (f.*row.text).text();
                break;
            case Kind::Check:
                value = s.numberText((f.*row.check).value());
                break;
            case Kind::Position:
                value = s.numberText(row.left ? frame.left() : frame.top());
                break;
        }
        entries.emplace_back(row.writeKey, std::move(value));
    }
    const auto problems = s.platform.profile.putStrings(kSettingsSection, entries);
    if (problems.empty()) s.log.note("settings saved: " + s.platform.profile.location());
    if (!problems.empty()) {
        const SaveProblem& p = problems.front();
        s.log.note("settings not saved: " + p.file + ": " + p.reason);
        // On an exit path the window is about to go: say what the file holds.
        const std::string outcome = after == AfterSave::Exit
                                        ? "Tarnwick is closing now, so the settings in the window that could "
                                          "not be saved are lost."
                                        : "The settings in the window are kept; correct the problem and save again.";
        s.platform.dialogs.messageBox(
            "The settings could not be saved to " + p.file + ".\r\n\r\n" + p.reason + "\r\n\r\n" + outcome,
            kProductName, mb::kOk | mb::kIconExclamation);
    }
}

void Hour3_Change(Station& s) {
    skipOnFailure([&] { applyDigitsOnly(s.form.Hour3); });
}

void Mins3_Change(Station& s) {
    skipOnFailure([&] { applyDigitsOnly(s.form.Mins3); });
}

void Command5_Click(Station& s) { SaveData(s); }

}  // namespace tarnwick
