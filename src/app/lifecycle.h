// Start-up and the exit paths of the main window.
#pragma once

#include <string>

namespace tarnwick {

class System;

// The text of the refusal shown when the node does not run in Sysop mode.
std::string sysopRefusalText();
// "Tarnwick" + four blanks + call sign + three blanks + "v1.0.5".
std::string windowCaption(const std::string& callsign, int major, int minor, int revision);

void Form_Load(System& s);
// Close with confirmation: returns only when the user answers No.
void Form_QueryUnload(System& s);
void SaveAndExit_Click(System& s);
void EchoLink_Closing(System& s);
void Command7_Click(System& s);

}  // namespace tarnwick
