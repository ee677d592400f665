// What every set of dialogs must do (seams/dialogs.h), checked the same way
// on Qt's and on the Windows boxes: each is answered as its user would,
// from inside its own modal loop.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "seams/dialogs.h"

namespace tarnwick::test {

// An open message box: its text, its buttons ("OK" or "Yes No"), and the
// button to press.
struct OpenBox {
    std::string text, buttons;
    std::function<void(MsgResult)> press{};
};
// An open file dialog: its first file type, and the path to choose ("" to
// cancel).
struct OpenFileDialog {
    std::string firstType;
    std::function<void(const std::string&)> choose{};
};
// The about window as its user sees it; `window` tells one window from another.
struct AboutSeen {
    const void* window = nullptr;
    bool shown = false, modal = false, besideTheMainWindow = false;
    std::string place, lines, problem;  // problem "" while not shown
};

// The functions start empty ({}) and are set one by one after the reference.
struct DialogsDriver {
    Dialogs& dialogs;
    // Runs `answer` on the next box or dialog once it is open.
    std::function<void(std::function<void(OpenBox&)>)> whenBoxOpens{};
    std::function<void(std::function<void(OpenFileDialog&)>)> whenFileDialogOpens{};
    std::function<AboutSeen()> about{};
    std::function<void()> closeAbout{};
};

inline std::string lines(std::string text) {
    std::erase(text, '\r');
    return text;
}

inline void aMessageBoxShowsItsButtonsAndTextAndGivesTheAnswer(const DialogsDriver& d) {
    struct Case {
        int style;
        MsgResult press;
    };
    for (const Case c : {Case{0, MsgResult::Ok}, Case{36, MsgResult::Yes}, Case{36, MsgResult::No},
                         Case{16, MsgResult::Ok}, Case{48, MsgResult::Ok}, Case{64, MsgResult::Ok}}) {
        std::string text, buttons;
        d.whenBoxOpens([&](OpenBox& box) {
            text = box.text;
            buttons = box.buttons;
            box.press(c.press);
        });
        EXPECT_EQ(d.dialogs.messageBox("First line\r\n\r\nSecond line ", "Exit Program", c.style), c.press);
        EXPECT_EQ(buttons, (c.style & mb::kButtonsMask) == mb::kYesNo ? "Yes No" : "OK") << c.style;
        EXPECT_EQ(lines(text), "First line\n\nSecond line ");
    }
}

// The dialog opens at `nowhere`, a place that does not exist, and is
// cancelled; then at `start` and `chosen`, a file there, is chosen.
inline void theFileDialogShowsTheFilterAndGivesTheChoiceOrNothing(const DialogsDriver& d, const std::string& start,
                                                                  const std::string& chosen,
                                                                  const std::string& nowhere) {
    constexpr const char* kMediaFilter =
        "*.wav, *.mp2, *.mp3, *.bmp, *.jpg, *.mpg, *.avi, *.mid|*.wav;*.mp2;*.mp3;*.bmp;*.jpg;*.mpg;*.avi;*.mid";
    d.whenFileDialogOpens([](OpenFileDialog& dialog) { dialog.choose(""); });
    EXPECT_EQ(d.dialogs.openFile(nowhere, kMediaFilter), "");
    std::string firstType;
    d.whenFileDialogOpens([&](OpenFileDialog& dialog) {
        firstType = dialog.firstType;
        dialog.choose(chosen);
    });
    EXPECT_EQ(d.dialogs.openFile(start, kMediaFilter), chosen);
    EXPECT_EQ(firstType, "*.wav, *.mp2, *.mp3, *.bmp, *.jpg, *.mpg, *.avi, *.mid");
}

inline void theAboutWindowShowsTheStationLogBesideTheMainWindow(const DialogsDriver& d, const std::string& log) {
    AboutInfo info{"Tarnwick",           "1.0.5", "Station identification.", "https://tarnwick.example.org/", log,
                   {"line 1", "line 2"}, ""};
    d.dialogs.showAbout(info);
    const AboutSeen first = d.about();
    EXPECT_TRUE(first.shown);
    EXPECT_FALSE(first.modal);
    EXPECT_TRUE(first.besideTheMainWindow);  // the main window stays in sight
    EXPECT_EQ(first.place, "File: " + log);
    EXPECT_EQ(lines(first.lines), "line 1\nline 2");
    EXPECT_EQ(first.problem, "");

    // Closed and asked for again: the same window, with what the log holds now.
    d.closeAbout();
    EXPECT_FALSE(d.about().shown);
    info.logLines.clear();
    info.logProblem = "cannot open " + log + " to append to it: Permission denied";
    d.dialogs.showAbout(info);
    const AboutSeen again = d.about();
    EXPECT_EQ(again.window, first.window);
    EXPECT_TRUE(again.shown);
    EXPECT_EQ(again.problem, "Cannot be written: " + info.logProblem);
    EXPECT_EQ(again.lines, "(no lines yet)");
}

}  // namespace tarnwick::test
