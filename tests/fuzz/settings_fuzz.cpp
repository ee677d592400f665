// Arbitrary bytes as the settings file: start-up reads every key through the
// Linux store from a real file, the timers run a few seconds on what it read,
// "Save" writes the file back, and a second start-up reads that.
//
// Beyond the sanitizers, it checks what a station relies on:
// - no settings file stops start-up or makes a timer end the program;
// - a save always lands, and a second save with nothing changed leaves the
//   file untouched;
// - after a save, the next start finds nothing to refuse and shows exactly
//   what the first one showed, unless a value holds something the profile
//   semantics do not keep (blanks at its ends, enclosing quotes, a CR or NUL).
//
// The first byte picks the user's decimal separator ("0" a point, "1" a comma,
// "2" the Arabic one); "@MEDIA@" in the rest stands for a playable file, so
// that inputs can reach a transmission.
#include "app/system.h"
#include "platform/fake/fake_platform.h"
#include "platform/fake/recording_node.h"
#include "platform/fake/scripted_graph.h"
#include "platform/fake/virtual_event_loop.h"
#include "platform/linux/file_profile_store.h"

#include <sys/stat.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <string_view>
#include <unistd.h>

using namespace tarnwick;
using namespace std::chrono_literals;

namespace {

const std::filesystem::path& workDir() {
    // In TARNWICK_FUZZ_TMP (tests/fuzz/run.sh points it at tmpfs, since
    // every save flushes the file to disk) or the system's temporary folder.
    static const std::filesystem::path dir = [] {
        const char* base = std::getenv("TARNWICK_FUZZ_TMP");
        std::string tmpl = (base && *base ? std::filesystem::path(base) : std::filesystem::temp_directory_path()) /
                           "tarnwick-fuzz-XXXXXX";
        if (!::mkdtemp(tmpl.data())) std::abort();
        std::filesystem::path p(tmpl);
        std::ofstream(p / "id.wav") << "";
        std::atexit([] { std::filesystem::remove_all(workDir()); });
        return p;
    }();
    return dir;
}

const std::string& mediaPath() {
    static const std::string path = (workDir() / "id.wav").string();
    return path;
}

std::string settingsPath() { return (workDir() / "tarnwick.ini").string(); }

// One run of the program on the fakes, with the real store.
struct Program {
    VirtualEventLoop loop;
    ScriptedDialogs dialogs;
    FakeFrame frame;
    FakeLocale locale;
    FileProfileStore store{workDir().string()};
    RecordingNode node;
    RecordingNodeConnector connector{node, loop};
    ScriptedGraphFactory graphs{loop};
    std::unique_ptr<System> sys;

    explicit Program(const std::string& separator) {
        locale.loop = &loop;
        locale.separator = separator;
        // A Monday just before 14:30, so that a stored schedule can fire and
        // its transmission end within the run.
        locale.time = LocalTime{2026, 12, 7, 14, 29, 59, 800, 2};
        graphs.lengths[mediaPath()] = 1.0;
        sys = std::make_unique<System>(
            Platform{loop, dialogs, frame, locale, store, connector, graphs, VersionInfo{1, 0, 0, 5}});
    }

    // Start-up, then a few seconds of timers, then "Save". Aborts when the
    // program ended on the way.
    void startRunSave() {
        try {
            sys->Form_Load();
            if (loop.ended()) fail("start-up ended the program");
            if (!loop.advance(2s)) fail("a timer ended the program");
            sys->form.Command5.userClick();
        } catch (const ProgramEnded&) {
            fail("the program ended");
        }
        if (loop.ended()) fail("the save ended the program");
    }

    bool refusedSomething() const { return boxStartingWith("Some settings stored in"); }
    bool saveFailed() const { return boxStartingWith("The settings could not be saved"); }

    bool boxStartingWith(std::string_view start) const {
        for (const auto& b : dialogs.boxes) {
            if (b.text.starts_with(start)) return true;
        }
        return false;
    }

    // What the window shows: every control's text, caption, value or state,
    // and where the window stands.
    std::string shown() const {
        std::string out = "window " + std::to_string(frame.left()) + "," + std::to_string(frame.top()) + "\n";
        for (const Control* c : sys->form.controls()) {
            out += c->name() + " ";
            if (auto* t = dynamic_cast<const TextBox*>(c)) {
                out += "text \"" + t->text() + "\"";
            } else if (auto* b = dynamic_cast<const CheckBox*>(c)) {
                out += "value " + std::to_string(b->value());
            } else if (auto* s = dynamic_cast<const ScrollBar*>(c)) {
                out += "value " + std::to_string(s->value());
            } else if (auto* tm = dynamic_cast<const Timer*>(c)) {
                out += tm->enabled() ? "on" : "off";
            } else if (auto* l = dynamic_cast<const Captioned*>(c)) {
                out += "caption \"" + l->caption() + "\"";
            }
            out += "\n";
        }
        return out;
    }

    [[noreturn]] static void fail(const char* what) {
        std::fprintf(stderr, "settings fuzz: %s\n", what);
        std::abort();
    }
};

std::string fileText() {
    std::ifstream in(settingsPath(), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

struct FileId {
    ino_t inode = 0;
    long long mtimeNs = 0;
    bool operator==(const FileId&) const = default;
};

FileId fileId() {
    struct stat st {};
    if (::stat(settingsPath().c_str(), &st) != 0) return {};
    return {st.st_ino, static_cast<long long>(st.st_mtim.tv_sec) * 1000000000LL + st.st_mtim.tv_nsec};
}

// A text the profile functions give back as it was written.
bool keptByTheFile(const std::string& v) {
    if (v.find_first_of(std::string_view("\r\n\0", 3)) != std::string::npos) return false;
    auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\v' || c == '\f' || c == '\x1a'; };
    if (!v.empty() && (blank(v.front()) || blank(v.back()))) return false;
    if (v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front()) return false;
    return true;
}

bool everyTextKept(const Program& s) {
    for (const Control* c : s.sys->form.controls()) {
        if (auto* t = dynamic_cast<const TextBox*>(c); t && !keptByTheFile(t->text())) return false;
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    static const char* const separators[] = {".", ",", "\xD9\xAB"};
    const std::string separator = separators[data[0] % 3];
    std::string text(reinterpret_cast<const char*>(data) + 1, size - 1);
    for (std::size_t at; (at = text.find("@MEDIA@")) != std::string::npos;) text.replace(at, 7, mediaPath());
    {
        std::ofstream out(settingsPath(), std::ios::binary | std::ios::trunc);
        out << text;
    }

    std::string firstShown, saved;
    bool kept = false;
    {
        Program first(separator);
        first.startRunSave();
        if (first.saveFailed()) Program::fail("the save did not land");
        saved = fileText();
        const FileId id = fileId();
        first.sys->form.Command5.userClick();
        if (fileText() != saved || !(fileId() == id)) Program::fail("a second save changed the file");
        firstShown = first.shown();
        kept = everyTextKept(first);
    }
    if (!kept) return 0;

    Program second(separator);
    second.startRunSave();
    if (second.refusedSomething()) Program::fail("a saved value was refused at the next start");
    if (fileText() != saved) Program::fail("saving what was read changed the file");
    if (second.shown() != firstShown) {
        std::fprintf(stderr, "first start:\n%s\nsecond start:\n%s\n", firstShown.c_str(), second.shown().c_str());
        Program::fail("the next start shows something else");
    }
    return 0;
}
