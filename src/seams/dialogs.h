// Modal message boxes, the file-open dialog and the about window.
//
// Modal calls return when the user answers; while they wait, the event loop
// keeps delivering timer ticks and node events (nested inside the caller).
// A handler that ends the program from inside such a nested event never
// returns to the waiting caller.
#pragma once

#include <string>
#include <vector>

namespace tarnwick {

// Message box styles, as the window system numbers them: buttons plus icon.
namespace mb {
inline constexpr int kOk = 0;
inline constexpr int kYesNo = 4;
inline constexpr int kIconError = 16;
inline constexpr int kIconQuestion = 32;
inline constexpr int kIconExclamation = 48;
inline constexpr int kIconInformation = 64;
inline constexpr int kButtonsMask = 0x0F;
inline constexpr int kIconMask = 0xF0;
}  // namespace mb

enum class MsgResult { Ok = 1, Yes = 6, No = 7 };

struct AboutInfo {
    std::string product;
    std::string version;  // "1.0.5"
    std::string summary;  // one line on what it does
    std::string link;     // the product's web address
    // The station log: where it is, its latest lines (oldest first), and
    // why it cannot be written ("" while it can).
    std::string logPlace;
    std::vector<std::string> logLines;
    std::string logProblem;
};

class Dialogs {
public:
    virtual ~Dialogs() = default;

    // Shows a modal message box with `text` (may hold "\r\n" line breaks),
    // `title` and `style` (mb::*). Returns the button pressed.
    virtual MsgResult messageBox(const std::string& text, const std::string& title, int style) = 0;

    // Shows the modal file-open dialog starting at `fileName`, offering
    // `filter` ("description|patterns", patterns separated by ';'). Returns
    // the chosen path, or "" after Cancel.
    virtual std::string openFile(const std::string& fileName, const std::string& filter) = 0;

    // Shows the about window, creating it on first use; it is not modal.
    virtual void showAbout(const AboutInfo& info) = 0;
};

}  // namespace tarnwick
