// The settings: LoadSettings and SaveData over the profile store, and the
// input rules of the settings fields.
#pragma once

#include <string>
#include <vector>

namespace tarnwick {

class Station;

inline constexpr const char* kSettingsFile = "tarnwick.ini";
inline constexpr const char* kSettingsSection = "SETTINGS";

// Reads the 24 keys in order into the controls (running the fields' change
// rules), then sets V1 from VolSet and keeps the window on a screen. A stored
// value that cannot be used is replaced by its key's default; the text of the
// one message that reports them is returned ("" when every value was usable)
// for start-up to show once the station runs. The file is not changed.
// Called once by start-up. Raises only on a failing control or node (not on
// stored values).
std::string LoadSettings(Station& s);

// What follows a save: the program runs on, or it ends right after.
enum class AfterSave { KeepRunning, Exit };

// Writes the 24 keys in order from the controls. A save that does not reach
// the disk is reported in a message naming the file and the reason, which
// says what becomes of the settings in the window.
void SaveData(Station& s, AfterSave after = AfterSave::KeepRunning);

// Change rules of the schedule's time fields, and the "Save" button. (The
// break length's rule is the break's.)
void Hour3_Change(Station& s);
void Mins3_Change(Station& s);
void Command5_Click(Station& s);

// One stored value that LoadSettings could not use (for its message).
struct UnusableSetting {
    std::string key;
    std::string value;
    std::string why;
    std::string defaultValue;
};
std::string unusableSettingsMessage(const std::string& file, const std::vector<UnusableSetting>& bad);

}  // namespace tarnwick
