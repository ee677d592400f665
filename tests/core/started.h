// A started system for the tests of what the program sends: a file of
// `seconds` saved as the one to play (none when 0), the 100 ms monitors and,
// unless the settings set CHECK2, the schedule's node queries kept out of the
// trace, which starts empty.
#pragma once

#include "base/errors.h"
#include "support/rig.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

namespace tarnwick::test {

struct StartedRig {
    Rig r;
    std::string file;

    void start(const std::string& settings = "", double seconds = 60) {
        std::string text = "[SETTINGS]\n";
        if (seconds > 0) {
            file = r.mediaFile("id.wav", seconds);
            text += "TEXT4=" + file + "\n";
        }
        text += settings;
        if (settings.find("CHECK2=") == std::string::npos) text += "CHECK2=0\n";
        r.store.text = text;
        ASSERT_TRUE(r.start());
        r.quietMonitors();
        r.node.clearTrace();
    }
    Form& f() { return r.form(); }
    void click(CommandButton& b) {
        ASSERT_TRUE(r.act([&] { b.userClick(); }));
    }

    // Trace lines starting with `prefix`.
    int count(const std::string& prefix) const {
        return static_cast<int>(std::count_if(r.node.trace.begin(), r.node.trace.end(),
                                              [&](const std::string& l) { return l.rfind(prefix, 0) == 0; }));
    }
    int keys() const { return count("SetPtt -1"); }

    // The node calls made during the next `ms` of ticks.
    std::string callsDuring(std::chrono::milliseconds ms) {
        const auto mark = r.node.trace.size();
        r.loop.advance(ms);
        return r.node.traceText(mark);
    }
    // The node calls a click on `b` makes, with those of the `then` of ticks after it.
    std::string clicked(CommandButton& b, std::chrono::milliseconds then = std::chrono::milliseconds(0)) {
        const auto mark = r.node.trace.size();
        click(b);
        if (then.count() > 0) r.loop.advance(then);
        return r.node.traceText(mark);
    }
};

struct Started : ::testing::Test, StartedRig {};

// The error number of the Failure `call` raises; 0 when it raises none.
template <typename F>
int failureNumber(F&& call) {
    try {
        call();
    } catch (const Failure& f) {
        return f.number();
    }
    return 0;
}

}  // namespace tarnwick::test
