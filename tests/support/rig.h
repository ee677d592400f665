// The whole system assembled on the fakes, in virtual time.
#pragma once

#include "app/system.h"
#include "platform/fake/fake_platform.h"
#include "platform/fake/memory_log_sink.h"
#include "platform/fake/memory_profile_store.h"
#include "platform/fake/recording_node.h"
#include "platform/fake/scripted_graph.h"
#include "platform/fake/virtual_event_loop.h"

#include <chrono>
#include <filesystem>
#include <fstream>
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
    ScriptedGraphFactory graphs{loop};
    MemoryLogSink log;
    std::unique_ptr<System> sys;

    Rig() { locale.loop = &loop; }
    Rig(const Rig&) = delete;
    ~Rig() {
        sys.reset();
        if (!mediaDir.empty()) {
            std::error_code ec;
            std::filesystem::remove_all(mediaDir, ec);
        }
    }

    // A real (empty) file that the scripted graph plays for `seconds`.
    std::string mediaFile(const std::string& name, double seconds) {
        if (mediaDir.empty()) {
            mediaDir = std::filesystem::temp_directory_path() /
                       ("tarnwick-test-" + std::to_string(reinterpret_cast<std::uintptr_t>(this)));
            std::filesystem::create_directories(mediaDir);
        }
        const std::string path = (mediaDir / name).string();
        std::ofstream(path) << "";
        graphs.lengths[path] = seconds;
        return path;
    }
    std::filesystem::path mediaDir;

    System& system() {
        if (!sys) {
            sys = std::make_unique<System>(
                Platform{loop, dialogs, frame, locale, store, connector, graphs, VersionInfo{1, 0, 0, 5}, &log});
        }
        return *sys;
    }
    Station& station() { return system().station; }
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

    // Runs start-up on a settings file of the [SETTINGS] `lines`.
    bool startWith(const std::string& lines) {
        store.text = "[SETTINGS]\n" + lines;
        return start();
    }

    // Whether the settings file holds `line` ("KEY=value").
    bool saved(const std::string& line) const { return store.text && store.text->find(line) != std::string::npos; }

    // Stops the two 100 ms monitors, whose node queries would fill traces
    // that are about something else.
    void quietMonitors() {
        form().Timer4.setEnabled(false);
        form().Timer5.setEnabled(false);
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
