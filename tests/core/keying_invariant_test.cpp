// Random sequences of what a station lives through: a user at the window,
// the beacons, the node's events, every modal box answered either way and
// left open while time passes, node calls that fail or never answer, graphs
// that fail or break off, and every way the program ends. Looked at after
// everything the loop delivers:
//   * the node is keyed by Tarnwick only while a file plays and the
//     end-of-file tick runs; a break runs only for a file that plays, since
//     it keys again at its end. Either may lag by the two progress ticks
//     that see the end of a file (20 ms), not counting time a node call was
//     held by a node that did not answer;
//   * after every end of the program the node is unkeyed within 1 s, by the
//     program or by the guardian (which unkeys when the last word it had
//     from the program was "keyed");
//   * an exit that saves (Save / Exit, the node closing) leaves the window's
//     values in the settings file, or says that they are lost.
// Each sequence is made from its number alone; a failure names the number
// and runs that sequence again with the node's trace to show it.
// TARNWICK_SEQUENCE=N runs only sequence N, with its trace.
#include "app/session_end.h"
#include "app/system.h"
#include "guard/guardian.h"
#include "guard/keying_watch.h"
#include "platform/fake/fake_platform.h"
#include "platform/fake/memory_profile_store.h"
#include "platform/fake/recording_node.h"
#include "platform/fake/scripted_graph.h"
#include "platform/fake/virtual_event_loop.h"
#include "settings/settings.h"
#include "transmit/transmit_sequence.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace tarnwick::test {
namespace {

using namespace std::chrono_literals;
using std::chrono::milliseconds;

constexpr int kSequences = 100000;

// What the sequences went through, over the whole run: each must have come
// up, or the test proves less than it says.
using Seen = std::map<std::string, int>;
// clang-format off
const char* const kMustSee[] = {
    "keyed", "break", "start-up message", "file dialog", "\"Please select a file\"", "render error",
    "close answered Yes", "close answered No", "save failed", "save failed on the way out", "error report",
    "node call failed", "node call timed out", "graph call failed", "playback broke", "end: Yes to quit",
    "end: Save / Exit", "end: node closing", "the node vanished", "end: session end", "end: killed",
    "end: error report", "guardian unkeyed"};
// clang-format on

// The process is killed (kill -9, a crash): nothing of it runs any more.
struct Killed {};

// What broke the invariant.
struct Violation {
    std::string what;
};

// splitmix64: seeded from a sequence's number alone.
class Dice {
public:
    explicit Dice(std::uint64_t seed) : state_(seed * 0x9E3779B97F4A7C15ull + 1) {}
    int operator()(int n) { return static_cast<int>(next() % static_cast<std::uint64_t>(n)); }
    bool oneIn(int n) { return (*this)(n) == 0; }

private:
    std::uint64_t next() {
        std::uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }
    std::uint64_t state_;
};

// Real (empty) files that every sequence may name; each sequence's graph
// table gives them their lengths. `gone` names no file.
struct MediaFiles {
    std::filesystem::path dir = std::filesystem::temp_directory_path() / "tarnwick-keying-invariant";
    std::string shortFile = make("id.wav"), longFile = make("long.wav"), badFile = make("bad.wav");
    std::string gone = (dir / "gone.wav").string();
    std::string make(const char* name) {
        std::filesystem::create_directories(dir);
        const std::string path = (dir / name).string();
        std::ofstream(path) << "";
        return path;
    }
    ~MediaFiles() {
        std::error_code ec;
        std::filesystem::remove_all(dir, ec);
    }
};

const MediaFiles& media() {
    static const MediaFiles files;
    return files;
}

// A loop that has the station looked at after everything it delivers.
class WatchedLoop : public VirtualEventLoop {
public:
    std::function<void()> delivered;
    TimerId addTimer(milliseconds interval, std::function<void()> tick) override {
        return VirtualEventLoop::addTimer(interval, [this, tick = std::move(tick)] {
            tick();
            delivered();
        });
    }
    void post(std::function<void()> fn) override {
        VirtualEventLoop::post([this, fn = std::move(fn)] {
            fn();
            delivered();
        });
    }
};

// Every box and the file dialog are answered by the sequence, which also
// decides what happens while each is open.
struct SequenceDialogs : Dialogs {
    std::function<MsgResult(const std::string&, int)> box;
    std::function<std::string()> file;
    MsgResult messageBox(const std::string& text, const std::string&, int style) override { return box(text, style); }
    std::string openFile(const std::string&, const std::string&) override { return file(); }
    void showAbout(const AboutInfo&) override {}
};

// One of several things that may happen, some more often than others.
struct Choice {
    int weight;
    const char* what;  // noted for the replay; nullptr: the action notes itself
    std::function<void()> run;
};

class Sequence : KeyingObserver, NodeEvents, NodeConnector {
public:
    Sequence(int number, bool tracing) : number_(number), dice_(static_cast<std::uint64_t>(number)) {
        loop_.delivered = [this] { look(); };
        node_.tracing = tracing;
        node_.blocked = [this](milliseconds d) {
            loop_.block(d);
            blocked_ += d;
        };
        dialogs_.box = [this](const std::string& text, int style) { return answerBox(text, style); };
        dialogs_.file = [this] { return answerFileDialog(); };
        locale_.loop = &loop_;
        graphs_.lengths[media().shortFile] = 0.2 + dice_(30) / 10.0;
        graphs_.lengths[media().longFile] = 6;
        sys_ = std::make_unique<System>(
            Platform{loop_, dialogs_, frame_, locale_, store_, *this, graphs_, VersionInfo{1, 0, 0, 5}});
    }
    ~Sequence() override { sys_.reset(); }  // its node link refers to this

    // Runs the sequence to its end; raises Violation.
    void run(Seen& seen) {
        seen_ = &seen;
        try {
            store_.text = settings();
            // Some stations have a node that answers a keying call with an
            // error now and then, or a disk that is full. Calls sent without
            // waiting (whose failures no link sees) fail only as one-off
            // faults.
            if (dice_.oneIn(4)) {
                node_.failsNow = [this](const std::string& op, bool awaited) {
                    if (!awaited || (op != "SetPtt" && op != "SetListedBusy") || !dice_.oneIn(6)) return false;
                    saw("node call failed");
                    return true;
                };
            }
            if (dice_.oneIn(5)) failNextSave();
            sys_->Form_Load();
            if (loop_.ended()) throw ProgramEnded{loop_.exitStatus()};
            startCountsNearZero();
            look();
            const int steps = 3 + dice_(4);
            for (int i = 0; i < steps; ++i) {
                act();
                wait(pause());
            }
            // The end no one asked for: the power goes, or a crash.
            note("killed at the end");
            throw Killed{};
        } catch (const ProgramEnded& e) {
            afterTheEnd(e.status);
        } catch (const Killed&) {
            saw("end: killed");
            afterTheEnd(-9);
        }
    }

    std::string trace() const { return node_.traceText(); }
    const std::vector<std::string>& steps() const { return steps_; }

private:
    // NodeConnector: the system's node is watched for the guardian, and its
    // events pass through here so that the sequence knows what was handled.
    std::unique_ptr<NodeLink> create(NodeEvents& events) override {
        events_ = &events;
        return watched_.create(*this);
    }
    void DTMFString(const std::string& digits) override { events_->DTMFString(digits); }
    void Closing() override {
        if (!sys_->station.dispatcher.ending() && sys_->station.phase() == Station::Phase::Running) {
            saveOnExit_ = true;
            saw("end: node closing");
        }
        events_->Closing();
    }
    // KeyingObserver: the words the guardian reads.
    void keyingChanged(bool keyed) override { guardianHeard_.push_back(keyed ? guard::kKeyed : guard::kUnkeyed); }

    // The guardian's end of the channel, read once the program has ended.
    struct HeardWords : guard::KeyingFeed {
        const std::string& words;
        std::size_t at = 0;
        explicit HeardWords(const std::string& w) : words(w) {}
        std::optional<char> next() override {
            if (at == words.size()) return std::nullopt;
            return words[at++];
        }
    };

    void saw(const char* what) { ++(*seen_)[what]; }

    void oneOf(const std::vector<Choice>& choices) {
        int total = 0;
        for (const Choice& c : choices) total += c.weight;
        int roll = dice_(total);
        for (const Choice& c : choices) {
            if ((roll -= c.weight) >= 0) continue;
            if (c.what != nullptr) note(c.what);
            return c.run();
        }
    }

    std::string settings() {
        const MediaFiles& m = media();
        const std::string* const paths[] = {nullptr,     &m.shortFile, &m.shortFile, &m.shortFile,
                                            &m.longFile, &m.badFile,   &m.gone};
        const std::string* path = paths[dice_(7)];
        std::string text = "[SETTINGS]\nDTMFINFO3=1\nBEACONPERIOD6=1\nBEACONPERIOD7=1\n";
        text += "TEXT4=" + (path != nullptr ? *path : std::string()) + "\n";
        text += "STOPCLOCK6=" + std::to_string(dice_(2)) + "\nSTOPCLOCK7=" + std::to_string(dice_(3) == 0) + "\n";
        text += "BEACONPERIOD8=" + std::to_string(dice_(3) != 0) + "\nSTOPCLOCK8=" + std::to_string(dice_(2)) + "\n";
        text += "TEXT6=" + std::to_string(dice_(3) * 150) + "\n";
        text += "CHECK2=" + std::to_string(dice_(2)) + "\nLISTASBUSYCHECK=" + std::to_string(dice_(2)) + "\n";
        if (dice_.oneIn(8)) text += "VOLSET=loud\n";  // unusable: the start-up message
        return text;
    }

    // The counts live in their labels: a sequence starts a few seconds
    // before a beacon, an ident and a break fall due.
    void startCountsNearZero() {
        Form& f = sys_->form;
        f.BeaconSeconds6.setCaption(std::to_string(1 + dice_(4)));
        f.BeaconSeconds7.setCaption(std::to_string(1 + dice_(6)));
        f.BeaconSeconds8.setCaption(std::to_string(1 + dice_(3)));
    }

    milliseconds pause() {
        if (dice_.oneIn(4)) return milliseconds(1000 + dice_(3000));  // files end, beacons fall due
        return milliseconds(dice_(400));
    }

    // One thing a user, the node or the machine does.
    void act() {
        System& s = *sys_;
        Form& f = s.form;
        oneOf({
            {3, "Play", [&] { f.Command1.userClick(); }},
            {1, "Stop", [&] { f.Command2.userClick(); }},
            {1, "Resume", [&] { f.Command4.userClick(); }},
            {1, "Load File", [&] { f.Command3.userClick(); }},
            {2, nullptr, [&] { dtmf(); }},
            {1, "Send Now", [&] { f.Command6.userClick(); }},
            {1, "schedule", [&] { s.station.dispatcher.deliver([&] { TXFile(s.station, s.transmission); }); }},
            {1, "Send ID", [&] { f.SendCW.userClick(); }},
            {1, "busy flag A", [&] { node_.busyA = node_.busyA != 0 ? 0 : kNodeTrue; }},
            {1, "Use (break)", [&] { f.StopClock8.userToggle(); }},
            {1, "break period", [&] { f.BeaconPeriod8.userEdit(std::to_string(dice_(3))); }},
            {1, "break length", [&] { f.Text6.userEdit(std::to_string(dice_(3) * 150)); }},
            {1, "call sign", [&] { f.CWCallsign.userEdit("K" + std::to_string(number_)); }},
            {1, "volume", [&] { f.V1.userChange(-dice_(3001)); }},
            {1, "node-in-use check", [&] { f.Check2.userToggle(); }},
            {1, nullptr, [&] { save(); }},
            {1, nullptr, [&] { failNextSave(); }},
            {1, "close the window", [&] { s.requestClose(); }},
            {1, nullptr, [&] { saveAndExit(); }},
            {1, nullptr, [&] { nodeCloses(); }},
            {1, "session ends", [&] { endSession(); }},
            {1, "killed", [] { throw Killed{}; }},
            {2, nullptr, [&] { nodeFault(); }},
            {1, nullptr, [&] { graphFault(); }},
        });
    }

    void dtmf() {
        const bool code = dice_(3) != 0;
        note(code ? "DTMF command" : "DTMF other digits");
        node_.raiseDTMF(code ? "1" : "2");
    }

    void save() {
        if (dice_.oneIn(2)) failNextSave();
        note("Save");
        sys_->form.Command5.userClick();
    }

    void saveAndExit() {
        if (dice_.oneIn(3)) failNextSave();
        note("Save / Exit");
        if (!sys_->station.dispatcher.ending()) {
            saveOnExit_ = true;
            saw("end: Save / Exit");
        }
        sys_->form.SaveAndExit.userClick();
    }

    // The disk is full until a save's failure is shown.
    void failNextSave() {
        note("the disk is full");
        store_.failWith = {SaveProblem{store_.path, "No space left on device"}};
    }

    // The node program closes: it raises Closing and waits for its callers,
    // or (one time in three) it vanishes at once and answers nothing more;
    // its transmitter goes with it.
    void nodeCloses() {
        node_.raiseClosing();
        if (!dice_.oneIn(3)) return note("node closes");
        note("node vanishes");
        saw("the node vanished");
        nodeGone_ = true;
        node_.failing = {"SetPtt",       "GetBusyFlagA", "GetReceivingSignal", "GetPttState",
                         "GetBusyFlagB", "SendCwText",   "GetSysopInfo",       "SetListedBusy"};
    }

    void endSession() {
        loop_.post([this] {
            saw("end: session end");
            EndSession(*sys_, 143);
        });
    }

    // One glitch of the node at a time: a call that fails, or one that is
    // not answered within the call limit.
    void nodeFault() {
        if (node_.stallNext || !node_.failNext.empty()) return;
        if (dice_.oneIn(4)) {
            note("the node stalls");
            node_.stallNext = true;
            return saw("node call timed out");
        }
        static const char* const ops[] = {"SetPtt",      "SetListedBusy", "GetBusyFlagA", "GetReceivingSignal",
                                          "GetPttState", "GetBusyFlagB",  "SendCwText"};
        const char* op = ops[dice_(7)];
        note(std::string("the node fails ") + op);
        node_.failNext.insert(op);
        saw("node call failed");
    }

    void graphFault() {
        ScriptedGraph* g = graphs_.current;
        if (g != nullptr && g->running() && dice_.oneIn(2)) {
            const bool stalled = dice_.oneIn(2);
            note(stalled ? "the playback stalls" : "the playback breaks");
            stalled ? g->stall() : g->breakDown();
            return saw("playback broke");
        }
        static const char* const ops[] = {"RenderFile",        "Run", "Stop", "Duration", "CurrentPosition",
                                          "SetCurrentPosition"};
        const char* op = ops[dice_(6)];
        note(std::string("the graph fails ") + op);
        graphs_.failNext.insert(op);
        saw("graph call failed");
    }

    MsgResult answerBox(const std::string& text, int style) {
        static const std::pair<const char*, const char*> kinds[] = {
            {"Run-time error", "error report"},
            {"Please select a file", "\"Please select a file\""},
            {"Render error no rendering device found", "render error"},
            {"Some settings stored in", "start-up message"}};
        for (const auto& [start, what] : kinds)
            if (text.rfind(start, 0) == 0) saw(what);
        if (text.rfind("The settings could not be saved", 0) == 0) {
            store_.failWith.clear();  // the disk has room again
            saw("save failed");
            if (saveOnExit_) {
                saw("save failed on the way out");
                exitSaveLost_ = true;
                if (text.find("are lost") == std::string::npos)
                    throw Violation{"a save on the way out failed and the box did not say the settings are lost"};
            }
        }
        note("box open: " + text.substr(0, 30));
        whileOpen();
        if ((style & mb::kButtonsMask) != mb::kYesNo) return MsgResult::Ok;
        const bool yes = dice_.oneIn(2);
        note(yes ? "answered Yes" : "answered No");
        saw(yes ? "close answered Yes" : "close answered No");
        if (yes && !sys_->station.dispatcher.ending()) saw("end: Yes to quit");
        return yes ? MsgResult::Yes : MsgResult::No;
    }

    std::string answerFileDialog() {
        saw("file dialog");
        note("file dialog open");
        whileOpen();
        const MediaFiles& m = media();
        const std::string* const answers[] = {&m.shortFile, &m.shortFile, &m.longFile, &m.badFile, &m.gone};
        if (dice_.oneIn(5)) return "";  // Cancel
        return *answers[dice_(5)];
    }

    // What happens while a box waits for its answer: time passes, the node
    // raises its events, the machine ends the program, faults come.
    void whileOpen() {
        struct Depth {
            int& d;
            explicit Depth(int& x) : d(x) { ++d; }
            ~Depth() { --d; }
        } depth(depth_);
        if (depth_ > 2) return wait(milliseconds(dice_(100)));
        auto thenWait = [this](int upTo) { wait(milliseconds(1 + dice_(upTo))); };
        oneOf({
            {3, nullptr, [&] { thenWait(300); }},
            {2, nullptr, [&] { wait(milliseconds(1000 + dice_(3000))); }},
            {1, nullptr, [&] { dtmf(), thenWait(2500); }},
            {1, nullptr, [&] { nodeCloses(), wait(1ms); }},
            {1, "session ends", [&] { endSession(), wait(1ms); }},
            {1, "killed", [] { throw Killed{}; }},
            {1, nullptr, [&] { nodeFault(), thenWait(1000); }},
            {1, nullptr, [&] { graphFault(), thenWait(1000); }},
            {1, nullptr, [&] { failNextSave(), thenWait(1000); }},
            {3, nullptr, [] {}},
        });
    }

    // Lets `d` of virtual time pass; unwinds when the program ends meanwhile.
    void wait(milliseconds d) {
        if (!loop_.advance(d)) throw ProgramEnded{loop_.exitStatus()};
    }

    void note(const std::string& what) {
        if (node_.tracing) steps_.push_back(std::to_string(loop_.now().count() / 1000000) + " ms: " + what);
    }

    // The invariant, after everything the loop delivered.
    void look() {
        const System& s = *sys_;
        const MonoTime now = loop_.now();
        if (bad_) badFor_ += (now - lookedAt_) - (blocked_ - blockedAtLook_);
        lookedAt_ = now;
        blockedAtLook_ = blocked_;
        const bool keyed = node_.ptt != 0 && !nodeGone_;
        ScriptedGraph* g = graphs_.current;
        const bool playing = s.station.hasGraph() && g != nullptr && g->playing();
        const bool ticking = s.form.Timer1.enabled() && !s.station.dispatcher.ending();
        const bool inBreak = s.transmission.transmitBreak.active;
        // A break keys again at its end only while handlers still run.
        bad_ = (keyed && !(playing && ticking)) || (inBreak && ticking && !playing);
        if (!bad_) badFor_ = MonoTime{0};
        if (keyed && !wasKeyed_) saw("keyed");
        if (inBreak && !wasInBreak_) saw("break");
        wasKeyed_ = keyed;
        wasInBreak_ = inBreak;
        if (badFor_ > 20ms) {
            throw Violation{std::string(keyed ? "keyed" : "in a break") + " with " +
                            (!playing ? "nothing playing" : "the program ending") + " for " +
                            std::to_string(std::chrono::duration_cast<milliseconds>(badFor_).count()) + " ms"};
        }
    }

    // The process has ended (`status`, -9 for a kill). The guardian unkeys
    // when the program's last word was "keyed"; then the node must be
    // unkeyed within 1 s of the end, and an exit that saved must have saved
    // the window's values, unless the failed save's message said they are
    // lost.
    void afterTheEnd(int status) {
        note("ended, status " + std::to_string(status));
        if (status == 1) saw("end: error report");
        if (!nodeGone_) {
            MonoTime guardianTook{0};
            HeardWords heard(guardianHeard_);
            if (guard::endedKeyed(heard)) {
                saw("guardian unkeyed");
                guardianTook = guardianMakesSafe();
            }
            if (node_.ptt != 0) throw Violation{"the node is left keyed after the end"};
            if (guardianTook > 1s) throw Violation{"the guardian unkeyed only after a second"};
        }
        if (saveOnExit_ && !exitSaveLost_) {
            store_.failWith.clear();
            const int writes = store_.writes;
            SaveData(sys_->station);  // what the window holds: the exit saved it, so nothing changes
            if (store_.writes != writes) throw Violation{"the exit did not save the window's values"};
        }
    }

    // The guardian's work, on a clock of its own: how long until the node
    // was unkeyed, less the time the node held a call unanswered.
    MonoTime guardianMakesSafe() {
        struct NoEvents : NodeEvents {
            void DTMFString(const std::string&) override {}
            void Closing() override {}
        } noEvents;
        std::chrono::steady_clock::time_point clock{};
        MonoTime held{0};
        node_.blocked = [&](milliseconds d) {
            clock += d;
            held += d;
        };
        std::optional<MonoTime> unkeyedAfter;
        auto since = [&] { return (clock - std::chrono::steady_clock::time_point{}) - held; };
        guard::NodeAccess access{[&] { return plainNodes_.create(noEvents); }, [&] { return clock; },
                                 [&](milliseconds d) { clock += d; }, [](const std::string&) {},
                                 [&] {  // asked after each try that did not finish
                                     if (node_.ptt == 0 && !unkeyedAfter) unkeyedAfter = since();
                                     return false;
                                 }};
        guard::makeNodeSafe(access, "Tarnwick");
        return unkeyedAfter.value_or(since());
    }

    int number_;
    Dice dice_;
    Seen* seen_ = nullptr;
    WatchedLoop loop_;
    SequenceDialogs dialogs_;
    FakeFrame frame_;
    FakeLocale locale_;
    MemoryProfileStore store_;
    RecordingNode node_;
    RecordingNodeConnector plainNodes_{node_, loop_};
    KeyingWatchConnector watched_{plainNodes_, *this};
    ScriptedGraphFactory graphs_{loop_};
    NodeEvents* events_ = nullptr;
    std::vector<std::string> steps_;
    int depth_ = 0;
    std::string guardianHeard_;
    bool saveOnExit_ = false, exitSaveLost_ = false;
    bool nodeGone_ = false;
    bool bad_ = false, wasKeyed_ = false, wasInBreak_ = false;
    MonoTime badFor_{0}, lookedAt_{0}, blocked_{0}, blockedAtLook_{0};
    std::unique_ptr<System> sys_;  // last: goes first
};

// Runs sequence `number` again with its trace, for the failure message.
std::string replay(int number) {
    Seen seen;
    Sequence again(number, true);
    std::string out = "(it passed when run again)\n";
    try {
        again.run(seen);
    } catch (const Violation& v) {
        out = "again: " + v.what + "\n";
    }
    out += "steps:\n";
    for (const std::string& s : again.steps()) out += "  " + s + "\n";
    const std::string trace = again.trace();
    const std::size_t cut = trace.size() > 6000 ? trace.rfind('\n', trace.size() - 6000) : std::string::npos;
    return out +
           (cut != std::string::npos ? "node trace (its end):\n" + trace.substr(cut + 1) : "node trace:\n" + trace);
}

TEST(KeyingInvariant, HoldsThroughEveryBoxFaultAndEnd) {
    Seen seen;
    // TARNWICK_SEQUENCES=N runs the first N: under Wine, where the same
    // portable code runs several times slower, a share of them is enough to
    // show a fault of the other compiler.
    int first = 0, last = kSequences;
    if (const char* count = std::getenv("TARNWICK_SEQUENCES"))
        last = std::max(1, std::min(kSequences, std::atoi(count)));
    const int runs = last;
    if (const char* only = std::getenv("TARNWICK_SEQUENCE")) {
        first = std::atoi(only);
        last = first + 1;
        std::printf("%s\n", replay(first).c_str());
    }
    int failures = 0;
    for (int n = first; n < last && failures < 3; ++n) {
        try {
            Sequence(n, false).run(seen);
        } catch (const Violation& v) {
            ++failures;
            ADD_FAILURE() << "sequence " << n << ": " << v.what << "\n(TARNWICK_SEQUENCE=" << n << " runs it alone)\n"
                          << replay(n);
        }
    }
    if (last - first < runs || runs < 1000) return;
    for (const char* what : kMustSee) EXPECT_GT(seen[what], 20 * runs / kSequences) << "seldom reached: " << what;
}

}  // namespace
}  // namespace tarnwick::test
