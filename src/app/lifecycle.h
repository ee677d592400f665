// Start-up and the exit paths of the main window.
#pragma once

#include <string>

namespace tarnwick {

class NodeEvents;
class Station;

// The text of the refusal shown when the node does not run in Sysop mode.
std::string sysopRefusalText();
// "Tarnwick" + four blanks + call sign + three blanks + "v1.0.5".
std::string windowCaption(const std::string& callsign, int major, int minor, int revision);

// The node it creates sends its events to `events`.
void Form_Load(Station& s, NodeEvents& events);
// Close with confirmation: returns only when the user answers No.
void Form_QueryUnload(Station& s);
void SaveAndExit_Click(Station& s);
void EchoLink_Closing(Station& s);
void Command7_Click(Station& s);

}  // namespace tarnwick
