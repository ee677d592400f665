#include "app/lifecycle.h"

#include "seams/dialogs.h"
#include "seams/window_frame.h"
#include "settings/settings.h"
#include "station/station.h"

namespace tarnwick {

namespace {

// Reads the call sign through a fresh SysopInfo that is released at once.
std::string readCallsign(NodeLink& node) {
    std::unique_ptr<SysopInfo> info = node.GetSysopInfo();
    return info->GetCallsign();
}

std::string versionText(const VersionInfo& v) {
    return std::to_string(v.major) + "." + std::to_string(v.minor) + "." + std::to_string(v.revision);
}

// On an exit that saves, after the unkey failed: the save's message may
// wait a long time for someone to read it, with nothing else running, so
// the unkey goes once more first, without waiting for an answer.
void unkeyAgain(Station& s) {
    skipOnFailure([&] { s.echoLink().SetPttIgnoringAnswer(kNodeFalse); });
}

// The About window's share of the station log.
constexpr std::size_t kAboutLogLines = 20;

}  // namespace

std::string sysopRefusalText() {
    return std::string(20, ' ') + "Quillmoor ONLY Runs in Sysop Mode" + "\r\n\r\n" +
           " Visit the Website for more information.  " + kProductWebAddress;
}

std::string windowCaption(const std::string& callsign, int major, int minor, int revision) {
    return std::string(kProductName) + "    " + callsign + "   v" + std::to_string(major) + "." +
           std::to_string(minor) + "." + std::to_string(revision);
}

// No step is protected: a failure ends the program with the error report,
// and there is no running without the node.
void Form_Load(Station& s, NodeEvents& events) {
    Form& f = s.form;
    s.log.startUp(kProductName, versionText(s.platform.version));
    s.EchoLink = s.platform.nodes.create(events);

    const std::string callsign = readCallsign(s.echoLink());
    if (callsign.find('-') == std::string::npos) {
        // The refusal ends the program, and nothing may run while it is open:
        // a node closing meanwhile would save the window's design values
        // over the user's settings.
        s.beginExit();
        s.log.exiting("the node's call sign " + callsign + " is not in Sysop mode");
        s.platform.dialogs.messageBox(sysopRefusalText(), kProductName, mb::kOk);
        s.endProgram(0);
    }

    const VersionInfo& v = s.platform.version;
    const std::string sysopCallsign = readCallsign(s.echoLink());
    f.setCaption(windowCaption(sysopCallsign, v.major, v.minor, v.revision));
    s.log.nodeInSysopMode(sysopCallsign);
    s.echoLink().SetPtt(kNodeFalse);
    f.Beacon8.setEnabled(false);
    f.PTT.setCaption("PTT OFF");
    const std::string unusable = LoadSettings(s);

    s.platform.frame.show();
    s.timers.start();
    s.startRunning();
    // Shown once the station runs: a station that restarted unattended goes
    // on identifying with the defaults while the message waits for someone.
    if (!unusable.empty()) {
        s.log.note("settings: " + unusable);
        s.platform.dialogs.messageBox(unusable, kProductName, mb::kOk | mb::kIconExclamation);
    }
}

void Form_QueryUnload(Station& s) {
    const MsgResult answer = s.platform.dialogs.messageBox("Quit - Remember to save your settings - Are You Sure ? ",
                                                           "Exit Program", mb::kYesNo | mb::kIconQuestion);
    if (answer != MsgResult::Yes) return;
    s.beginExit();
    s.log.exiting("window closed");
    Form& f = s.form;
    f.PTT.setCaption("PTT OFF");
    s.echoLink().SetPtt(kNodeFalse);
    f.Beacon8.setEnabled(false);
    s.echoLink().SetListedBusy(kNodeFalse);
    s.endProgram(0);
}

// The save comes whatever the node does: a node that fails (or is already
// gone) must not cost the user their settings. Its failure is reported after.
void SaveAndExit_Click(Station& s) {
    Form& f = s.form;
    s.beginExit();
    s.log.exiting("Save / Exit");
    FirstFailure node;
    f.PTT.setCaption("PTT OFF");
    node.attempt([&] { s.echoLink().SetPtt(kNodeFalse); });
    const bool unkeyFailed = node.failure().has_value();
    f.Beacon8.setEnabled(false);
    node.attempt([&] { s.echoLink().SetListedBusy(kNodeFalse); });
    if (unkeyFailed) unkeyAgain(s);
    SaveData(s, AfterSave::Exit);
    if (node.failure()) s.dispatcher.report(*node.failure());
    s.endProgram(0);
}

// The node is going away: whether it still answers the unkey or not, the
// settings are saved, and its failure is not worth a box nobody asked for.
void EchoLink_Closing(Station& s) {
    s.beginExit();
    s.log.exiting("node closing");
    if (!skipOnFailure([&] { s.echoLink().SetPtt(kNodeFalse); })) unkeyAgain(s);
    SaveData(s, AfterSave::Exit);
    s.endProgram(0);
}

void Command7_Click(Station& s) {
    s.platform.dialogs.showAbout({kProductName, versionText(s.platform.version),
                                  "Station identification and beacon player for an EchoLink node in Sysop mode.",
                                  kProductWebAddress, s.log.place(), s.log.latest(kAboutLogLines), s.log.problem()});
}

}  // namespace tarnwick
