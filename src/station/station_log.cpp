#include "station/station_log.h"

#include "seams/locale.h"
#include "seams/log_sink.h"

#include <charconv>
#include <chrono>
#include <cstdio>
#include <cstdlib>

namespace tarnwick {

namespace {

// One line per event: the line breaks of a message become blanks.
std::string folded(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    bool breaking = false;
    for (char c : text) {
        if (c == '\r' || c == '\n') {
            breaking = true;
            continue;
        }
        if (breaking && !out.empty() && out.back() != ' ') out += ' ';
        breaking = false;
        out += c;
    }
    return out;
}

std::string quoted(const std::string& text) { return "\"" + text + "\""; }

}  // namespace

StationLog::StationLog(LogSink* sink, const Locale& locale, const EventLoop& loop)
    : sink_(sink), locale_(locale), loop_(loop) {}

std::string StationLog::stamp(const LocalTime& t) {
    const int offset = std::abs(t.utcOffsetMinutes);
    char text[48];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d.%03d %c%02d%02d", t.year, t.month, t.day, t.hour,
                  t.minute, t.second, t.millisecond, t.utcOffsetMinutes < 0 ? '-' : '+', offset / 60, offset % 60);
    return text;
}

void StationLog::write(const std::string& text) noexcept {
    if (sink_ == nullptr) return;
    try {
        sink_->append(stamp(locale_.localNow()) + " " + folded(text));
    } catch (const std::exception&) {
        // Out of memory building the line: the line is lost, nothing else.
    }
}

std::string StationLog::keyedFor() const {
    if (!keyedSince_) return "during its break";
    const double seconds = std::chrono::duration<double>(loop_.now() - *keyedSince_).count();
    // to_chars: the log reads the same under every numeric locale ("12.5",
    // never "12,5"), as the station's numbers do.
    char number[32];
    const auto written = std::to_chars(number, number + sizeof number, seconds, std::chars_format::fixed, 1);
    return "after " + std::string(number, written.ptr) + " s keyed";
}

void StationLog::startUp(const std::string& product, const std::string& version) {
    write("start-up: " + product + " " + version);
}

void StationLog::nodeInSysopMode(const std::string& callsign) {
    write("start-up: node " + callsign + " in Sysop mode");
}

void StationLog::transmissionStarted(const std::string& trigger, const std::string& file, Key key) {
    write(std::string(running_ ? "transmission restarted: " : "transmission started: ") + trigger + ", " + file +
          (key == Key::Refused ? " (the node refused the key)" : ""));
    running_ = true;
    keyedSince_ = loop_.now();
}

void StationLog::transmissionResumed(const std::string& file, Key key) {
    write("transmission resumed: Resume, " + file + (key == Key::Refused ? " (the node refused the key)" : ""));
    running_ = true;
    if (!keyedSince_) keyedSince_ = loop_.now();
}

void StationLog::breakStarted(const std::string& breakMs) {
    write("transmission unkeyed: break of " + breakMs + " ms, " + keyedFor());
    keyedSince_.reset();
}

void StationLog::breakEnded() {
    write("transmission keyed again: end of the break");
    keyedSince_ = loop_.now();
}

void StationLog::transmissionEnded(const std::string& how) {
    if (!running_) return;
    write("transmission ended: " + how + ", " + keyedFor());
    running_ = false;
    keyedSince_.reset();
}

void StationLog::dropped(const std::string& trigger, const std::string& why) {
    write("trigger dropped: " + trigger + ", " + why);
}

void StationLog::morseIdent(const std::string& trigger, const std::string& text) {
    write("Morse ident sent: " + trigger + ", " + quoted(text));
}

void StationLog::errorReport(const std::string& text) { write("error report: " + text); }

void StationLog::exiting(const std::string& how) {
    transmissionEnded(how);
    write("exit: " + how);
}

void StationLog::note(const std::string& text) { write(text); }

std::string StationLog::place() const { return sink_ != nullptr ? sink_->place() : std::string(); }

std::vector<std::string> StationLog::latest(std::size_t count) const {
    return sink_ != nullptr ? sink_->latest(count) : std::vector<std::string>();
}

std::string StationLog::problem() const { return sink_ != nullptr ? sink_->problem() : std::string(); }

}  // namespace tarnwick
