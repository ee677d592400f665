// Scripted dialogs, window frame and locale for the tests.
#pragma once

#include "seams/dialogs.h"
#include "seams/event_loop.h"
#include "seams/locale.h"
#include "seams/media_graph.h"
#include "seams/window_frame.h"

#include <deque>
#include <functional>
#include <map>
#include <string>
#include <vector>

namespace tarnwick {

// Records every box and answers from a script. Each scripted answer may run
// an action while the box is "open" (advance time, raise node events): that
// is how tests put ticks and events inside a modal wait.
class ScriptedDialogs : public Dialogs {
public:
    struct Shown {
        std::string text, title;
        int style;
    };
    struct Answer {
        MsgResult result;
        std::function<void()> whileOpen;
    };
    struct FileAnswer {
        std::string path;  // "" = Cancel
        std::function<void()> whileOpen;
    };

    std::vector<Shown> boxes;
    std::deque<Answer> answers;  // used in order; when empty: OK, or Yes/No per `defaultYes`
    bool defaultYes = false;

    struct FileShown {
        std::string fileName, filter;
    };
    std::vector<FileShown> fileDialogs;
    std::deque<FileAnswer> fileAnswers;  // when empty: Cancel

    int aboutShown = 0;
    AboutInfo lastAbout;

    MsgResult messageBox(const std::string& text, const std::string& title, int style) override;
    std::string openFile(const std::string& fileName, const std::string& filter) override;
    void showAbout(const AboutInfo& info) override;
};

class FakeFrame : public WindowFrame {
public:
    int leftTwips = 0, topTwips = 0;
    int width = 6255 + 90, height = 6465 + 405;  // client plus a typical border and title
    std::vector<TwipsRect> screenRects = {{0, 0, 1920 * 15, 1080 * 15}};
    bool shown = false;
    std::vector<std::pair<int, int>> moves;

    void moveTo(int l, int t) override {
        leftTwips = l;
        topTwips = t;
        moves.emplace_back(l, t);
    }
    int left() const override { return leftTwips; }
    int top() const override { return topTwips; }
    int outerWidth() const override { return width; }
    int outerHeight() const override { return height; }
    std::vector<TwipsRect> screens() const override { return screenRects; }
    void show() override { shown = true; }
};

// Without a loop the clock stands at `time`; with one it runs from `time`
// with the loop's virtual time, plus `offsetMs` (a test may nudge it).
// A path text names the file of its own bytes, unless `files` reads it as
// another (as a code page other than the file system's would).
class FakeLocale : public Locale {
public:
    std::string separator = ".";
    LocalTime time;
    const EventLoop* loop = nullptr;
    long long offsetMs = 0;
    std::map<std::string, std::filesystem::path> files;
    std::string decimalSeparator() const override { return separator; }
    LocalTime localNow() const override;
    std::filesystem::path filePath(const std::string& text) const override;
};

}  // namespace tarnwick
