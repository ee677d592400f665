#include "platform/fake/fake_platform.h"

#include "base/errors.h"
#include "seams/civil_time.h"

#include <chrono>

namespace tarnwick {

MsgResult ScriptedDialogs::messageBox(const std::string& text, const std::string& title, int style) {
    boxes.push_back({text, title, style});
    const bool yesNo = (style & mb::kButtonsMask) == mb::kYesNo;
    if (answers.empty()) return yesNo ? (defaultYes ? MsgResult::Yes : MsgResult::No) : MsgResult::Ok;
    Answer a = std::move(answers.front());
    answers.pop_front();
    if (a.whileOpen) a.whileOpen();
    return a.result;
}

std::string ScriptedDialogs::openFile(const std::string& fileName, const std::string& filter) {
    fileDialogs.push_back({fileName, filter});
    if (fileAnswers.empty()) return "";
    FileAnswer a = std::move(fileAnswers.front());
    fileAnswers.pop_front();
    if (a.whileOpen) a.whileOpen();
    return a.path;
}

void ScriptedDialogs::showAbout(const AboutInfo& info) {
    ++aboutShown;
    lastAbout = info;
}

LocalTime FakeLocale::localNow() const {
    if (loop == nullptr) return time;
    const long long ms =
        std::chrono::duration_cast<std::chrono::milliseconds>(loop->now()).count() + offsetMs + time.millisecond;
    long long secs = wallSeconds(time) + ms / 1000;
    long long rem = ms % 1000;
    if (rem < 0) {
        rem += 1000;
        --secs;
    }
    LocalTime t = fromWallSeconds(secs);
    t.millisecond = static_cast<int>(rem);
    t.utcOffsetMinutes = time.utcOffsetMinutes;
    return t;
}

std::filesystem::path FakeLocale::filePath(const std::string& text) const {
    const auto it = files.find(text);
    return it != files.end() ? it->second : std::filesystem::path(text);
}

}  // namespace tarnwick
