// The whole system assembled on the fakes, in virtual time.
#pragma once

#include "app/system.h"
#include "platform/fake/fake_platform.h"
#include "platform/fake/memory_profile_store.h"
#include "platform/fake/recording_node.h"
#include "platform/fake/virtual_event_loop.h"

#include <chrono>
#include <memory>
#include <string>

namespace tarnwick::test {

using namespace std::chrono_literals;

struct Rig {
    VirtualEventLoop loop;
    ScriptedDialogs dialogs;
    FakeFrame frame;
    FakeLocale locale;
    MemoryProfileStore store;
    RecordingNode node;
    RecordingNodeConnector connector{node, loop};
    NoGraphFactory graphs;
    std::unique_ptr<System> sys;

    System& system() {
        if (!sys) {
            sys = std::make_unique<System>(
                Platform{loop, dialogs, frame, locale, store, connector, graphs, VersionInfo{1, 0, 0, 5}});
        }
        return *sys;
    }
    Form& form() { return system().form; }

    // Runs start-up. Returns false when the program ended during it.
    bool start() {
        System& s = system();
        try {
            s.Form_Load();
        } catch (const ProgramEnded&) {
            return false;
        }
        return !loop.ended();
    }

    // Runs `action` as a handler would run on the loop (a click, say).
    // Returns false when the program ended.
    template <typename F>
    bool act(F&& action) {
        try {
            action();
        } catch (const ProgramEnded&) {
            return false;
        }
        return !loop.ended();
    }
};

}  // namespace tarnwick::test
