#include "platform/fake/fake_platform.h"

#include "window/errors.h"

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

std::unique_ptr<MediaGraph> NoGraphFactory::create() {
    throw Failure(429, "ActiveX component can't create object");
}

}  // namespace tarnwick
