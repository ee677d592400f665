// The station log: one line for everything a sysop may need to know about
// afterwards, when an identification did not go out at 3 a.m. and nobody
// was there to see why: each start-up, each transmission with what started
// and what ended it, each trigger that was dropped and why, each Morse
// ident, each error report and each exit.
//
// A line is the local time to the millisecond with its zone offset, a
// blank, and the event in plain words:
//   2026-12-08 03:00:00.012 +0100 transmission started: schedule 03:00, /var/lib/tarnwick/id.wav
// Lines are written only when something happens: the progress tick's unkey
// every 10 ms while idle is no event, and neither is a poll.
//
// Other programs may append their own lines in the same shape, through the
// same file (the guardian does: its lines begin "Guardian: "); the About
// window shows them among the system's own.
//
// Nothing here raises or shows a box: a log that cannot be written is the
// sink's to report (once), and the station goes on transmitting.
#pragma once

#include "seams/event_loop.h"

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

namespace tarnwick {

class Locale;
class LogSink;
struct LocalTime;

class StationLog {
public:
    // Without a sink (benchmarks) the lines go nowhere.
    StationLog(LogSink* sink, const Locale& locale, const EventLoop& loop);

    // "2026-12-08 03:00:00.012 +0100": the start of every line.
    static std::string stamp(const LocalTime& t);

    void startUp(const std::string& product, const std::string& version);
    void nodeInSysopMode(const std::string& callsign);

    // A start path keyed the node for `file`. `trigger` names it as the
    // sysop knows it: "Play", "timed beacon", "Send Now", "schedule 03:00",
    // "DTMF \"73A\"". A start while a transmission runs restarts it.
    // `key`: whether the node took the key or refused it (the file plays
    // unheard).
    enum class Key { Taken, Refused };
    void transmissionStarted(const std::string& trigger, const std::string& file, Key key = Key::Taken);
    void transmissionResumed(const std::string& file, Key key = Key::Taken);
    // The transmit break unkeys for `breakMs`, and keys again at its end.
    void breakStarted(const std::string& breakMs);
    void breakEnded();
    // The running transmission ended: "end of file", "Stop", ... Nothing
    // is written when none runs.
    void transmissionEnded(const std::string& how);
    bool transmissionRunning() const { return running_; }

    // A trigger that would have keyed the node and did not, and why.
    void dropped(const std::string& trigger, const std::string& why);
    // The node sent the call sign in Morse.
    void morseIdent(const std::string& trigger, const std::string& text);
    // The standard error report, as it is shown (its line breaks folded).
    void errorReport(const std::string& text);
    // An exit path begins; a running transmission ends with it.
    void exiting(const std::string& how);
    // Any other event worth a line (file loads, settings).
    void note(const std::string& text);

    // For the About window: where the log is, its latest lines, and why it
    // cannot be written ("" when it can).
    std::string place() const;
    std::vector<std::string> latest(std::size_t count) const;
    std::string problem() const;

private:
    void write(const std::string& text) noexcept;
    std::string keyedFor() const;

    LogSink* sink_;
    const Locale& locale_;
    const EventLoop& loop_;
    bool running_ = false;                // a transmission started and has not ended
    std::optional<MonoTime> keyedSince_;  // keyed by it, and since when (not during a break)
};

}  // namespace tarnwick
