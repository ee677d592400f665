#include "aircheck/air_check.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <sstream>

namespace tarnwick::air {
namespace {

unsigned get16(const std::string& in, std::size_t at) {
    return static_cast<unsigned char>(in[at]) | static_cast<unsigned char>(in[at + 1]) << 8;
}
std::uint32_t get32(const std::string& in, std::size_t at) { return get16(in, at) | get16(in, at + 2) << 16; }

bool readWav(const std::string& path, AirRecording& out, std::string& error) {
    std::ifstream in(path, std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (bytes.size() < 12 || bytes.compare(0, 4, "RIFF") != 0 || bytes.compare(8, 4, "WAVE") != 0) {
        error = path + ": not a WAV file";
        return false;
    }
    unsigned bits = 0;
    for (std::size_t at = 12; at + 8 <= bytes.size();) {
        const std::string id = bytes.substr(at, 4);
        const std::size_t size = get32(bytes, at + 4);
        if (id == "fmt " && at + 24 <= bytes.size()) {
            out.channels = static_cast<int>(get16(bytes, at + 10));
            out.rate = static_cast<int>(get32(bytes, at + 12));
            bits = get16(bytes, at + 22);
        } else if (id == "data") {
            const std::size_t data = at + 8;
            // A recording that was never finished claims too much.
            const std::size_t length = std::min(size, bytes.size() - data) / 2 * 2;
            out.samples.resize(length / 2);
            for (std::size_t i = 0; i < out.samples.size(); ++i)
                out.samples[i] = static_cast<std::int16_t>(get16(bytes, data + 2 * i));
            if (bits != 16 || out.channels < 1 || out.rate <= 0) break;
            out.samples.resize(out.samples.size() / out.channels * out.channels);
            return true;
        }
        at += 8 + size + (size & 1);
    }
    error = path + ": no 16-bit PCM data";
    return false;
}

double lowReading(std::vector<double> offsets) {
    std::sort(offsets.begin(), offsets.end());
    return offsets[offsets.size() / 10];
}

}  // namespace

std::optional<StreamClock> fitStreamClock(const std::vector<std::pair<double, double>>& streamAndWallMs) {
    // A stream time that has not moved since the reading before (a stream
    // that has not started, or stalls) says nothing of when it will play.
    std::vector<std::pair<double, double>> readings;
    double previous = 0;
    for (const auto& reading : streamAndWallMs) {
        if (reading.first > previous) readings.push_back(reading);
        previous = reading.first;
    }
    if (readings.empty()) return std::nullopt;
    std::sort(readings.begin(), readings.end());
    // One low reading a second of stream time, where there are enough.
    std::vector<std::pair<double, double>> points;  // stream ms, wall - stream
    for (std::size_t i = 0; i < readings.size();) {
        std::size_t j = i;
        std::vector<double> offsets;
        while (j < readings.size() && readings[j].first < readings[i].first + 1000) {
            offsets.push_back(readings[j].second - readings[j].first);
            ++j;
        }
        if (offsets.size() >= 5) points.emplace_back(readings[(i + j) / 2].first, lowReading(offsets));
        i = j;
    }
    StreamClock clock;
    if (points.size() < 2) {
        std::vector<double> offsets;
        for (const auto& [stream, wall] : readings) offsets.push_back(wall - stream);
        clock.zeroMs = lowReading(offsets);
        return clock;
    }
    // Least squares of wall - stream = zero + (scale - 1) * stream, about the
    // points' means for precision.
    double meanX = 0, meanY = 0;
    for (const auto& [x, y] : points) meanX += x, meanY += y;
    meanX /= static_cast<double>(points.size());
    meanY /= static_cast<double>(points.size());
    double sxx = 0, sxy = 0;
    for (const auto& [x, y] : points) sxx += (x - meanX) * (x - meanX), sxy += (x - meanX) * (y - meanY);
    const double slope = sxx > 0 ? sxy / sxx : 0;
    clock.scale = 1 + slope;
    clock.zeroMs = meanY - slope * meanX;
    return clock;
}

bool readAirRecording(const std::string& wavPath, AirRecording& out, std::string& error) {
    out = AirRecording{};
    if (!readWav(wavPath, out, error)) return false;
    out.msPerFrame = 1000.0 / out.rate;
    bool timed = false;
    std::ifstream clock(wavPath + ".clock");
    for (std::string key; clock >> key;) {
        if (key == "first_sample_ms")
            timed = static_cast<bool>(clock >> out.firstSampleMs);
        else if (key == "ms_per_frame")
            clock >> out.msPerFrame;
        clock.ignore(1 << 20, '\n');
    }
    if (!timed || !(out.msPerFrame > 0))
        error = wavPath + ".clock: no first_sample_ms (was the recording ended by SIGINT or SIGTERM?)";
    return timed && out.msPerFrame > 0;
}

std::vector<KeyedSpan> keyedSpans(std::istream& trace) {
    std::vector<KeyedSpan> spans;
    bool keyed = false;
    for (std::string line; std::getline(trace, line);) {
        std::istringstream words(line);
        std::int64_t ms = 0;
        std::string operation, rest;
        int value = 0;
        if (!(words >> ms >> operation) || operation != "SetPtt" || !(words >> value)) continue;
        if (std::getline(words, rest) && rest.find("=> error") != std::string::npos) continue;
        if (value != 0 && !keyed) {
            spans.push_back({ms, std::nullopt});
            keyed = true;
        } else if (value == 0 && keyed) {
            spans.back().unkeyMs = ms;
            keyed = false;
        }
    }
    return spans;
}

std::vector<SoundRun> soundRuns(const AirRecording& recording) {
    std::vector<SoundRun> runs;
    const std::int64_t gapFrames = std::llround(kGapMs * recording.rate / 1000.0);
    const std::int64_t frames = recording.frames();
    for (std::int64_t f = 0; f < frames; ++f) {
        bool loud = false;
        for (int c = 0; c < recording.channels && !loud; ++c)
            loud = std::abs(recording.samples[static_cast<std::size_t>(f * recording.channels + c)]) >= kSoundThreshold;
        if (!loud) continue;
        if (!runs.empty() && f - runs.back().end < gapFrames)
            runs.back().end = f + 1;
        else
            runs.push_back({f, f + 1});
    }
    return runs;
}

AirReport airReport(const AirRecording& recording, const std::vector<KeyedSpan>& spans) {
    AirReport report;
    const std::vector<SoundRun> runs = soundRuns(recording);
    const double frames = static_cast<double>(recording.frames());
    auto msOfFrames = [&](double n) { return n * recording.msPerFrame; };
    auto fileMsOfFrames = [&](double n) { return n * 1000.0 / recording.rate; };
    for (const SoundRun& run : runs) report.soundMs += fileMsOfFrames(static_cast<double>(run.end - run.begin));

    // The first and last frame of sound on the air in each span, for the
    // breaks between them.
    std::vector<std::optional<std::pair<double, double>>> onAir(spans.size());
    for (std::size_t i = 0; i < spans.size(); ++i) {
        const KeyedSpan& span = spans[i];
        SpanReport out;
        out.span = span;
        const double keyF = recording.frameOfMs(static_cast<double>(span.keyMs));
        const double unkeyF = span.unkeyMs ? recording.frameOfMs(static_cast<double>(*span.unkeyMs)) : frames;
        const double nextKeyF = i + 1 < spans.size()
                                    ? std::min(frames, recording.frameOfMs(static_cast<double>(spans[i + 1].keyMs)))
                                    : frames;
        out.keyRecorded = keyF >= 0 && keyF <= frames;
        out.unkeyRecorded = span.unkeyMs && unkeyF >= 0 && unkeyF <= frames;
        const double from = std::max(keyF, 0.0), to = std::min(unkeyF, frames);

        double sumSquares = 0, lost = 0;
        std::int64_t soundFrames = 0;
        std::optional<double> first, last, lastRunEnd, previousEnd;
        for (const SoundRun& run : runs) {
            const double begin = static_cast<double>(run.begin), end = static_cast<double>(run.end);
            lost += std::max(0.0, std::min(end, nextKeyF) - std::max(begin, to));
            const double b = std::max(begin, from), e = std::min(end, to);
            if (e <= b) continue;
            if (previousEnd) {
                ++out.gaps;
                out.longestGap = std::max(out.longestGap, msOfFrames(b - *previousEnd));
            }
            previousEnd = e;
            if (!first) first = b;
            last = e;
            lastRunEnd = std::min(end, nextKeyF);
            out.onAirMs += fileMsOfFrames(e - b);
            report.onAirMs += fileMsOfFrames(e - b);
            for (auto f = static_cast<std::int64_t>(std::ceil(b)); f < static_cast<std::int64_t>(std::ceil(e)); ++f) {
                ++soundFrames;
                for (int c = 0; c < recording.channels; ++c) {
                    const double v = recording.samples[static_cast<std::size_t>(f * recording.channels + c)];
                    sumSquares += v * v;
                }
            }
        }
        if (out.unkeyRecorded) out.lost = msOfFrames(lost);
        if (first) {
            onAir[i] = std::make_pair(*first, *last);
            if (out.keyRecorded) out.lead = msOfFrames(*first - keyF);
            if (out.unkeyRecorded) out.tail = msOfFrames(unkeyF - *lastRunEnd);
            if (soundFrames > 0) {
                const double meanSquare = sumSquares / static_cast<double>(soundFrames * recording.channels);
                out.levelDbfs = meanSquare > 0 ? 10 * std::log10(meanSquare / (32768.0 * 32768.0)) : -200.0;
            }
        }
        report.spans.push_back(out);
    }

    // A break: sound up to the unkey, sound lost while unkeyed, and sound
    // again from the re-key; up to and from within kBreakSlackMs, since a
    // player short of CPU may drop a little sound just there.
    for (std::size_t i = 0; i + 1 < spans.size(); ++i) {
        SpanReport& span = report.spans[i];
        const SpanReport& next = report.spans[i + 1];
        if (!span.tail || !next.lead || !span.lost || *span.lost <= 0) continue;
        if (*span.tail > kBreakSlackMs || *next.lead > kBreakSlackMs) continue;
        span.breakOff = static_cast<double>(next.span.keyMs - *span.span.unkeyMs);
        span.breakSilence = msOfFrames(onAir[i + 1]->first - onAir[i]->second);
    }
    return report;
}

std::string formatReport(const AirReport& report) {
    auto ms = [](const std::optional<double>& v, bool known) {
        if (!known) return std::string("?");
        if (!v) return std::string("-");
        char text[32];
        std::snprintf(text, sizeof text, "%.1f", *v + 0.0);  // + 0.0: no "-0.0"
        return std::string(text);
    };
    std::string out;
    int n = 0;
    for (const SpanReport& s : report.spans) {
        char level[32] = "-";
        if (s.levelDbfs) std::snprintf(level, sizeof level, "%.2f", *s.levelDbfs);
        out += "span=" + std::to_string(++n) + " key=" + std::to_string(s.span.keyMs) +
               " unkey=" + (s.span.unkeyMs ? std::to_string(*s.span.unkeyMs) : "-") +
               " keyed=" + (s.span.unkeyMs ? std::to_string(*s.span.unkeyMs - s.span.keyMs) : "-") +
               " lead=" + ms(s.lead, s.keyRecorded) + " tail=" + ms(s.tail, s.unkeyRecorded) +
               " lost=" + ms(s.lost, s.unkeyRecorded) + " gaps=" + std::to_string(s.gaps) +
               " longest_gap=" + ms(s.longestGap, true) + " level=" + level + " break_off=" + ms(s.breakOff, true) +
               " break_silence=" + ms(s.breakSilence, true) + " on_air=" + ms(s.onAirMs, true) + "\n";
    }
    out += "total spans=" + std::to_string(report.spans.size()) + " sound=" + ms(report.soundMs, true) +
           " on_air=" + ms(report.onAirMs, true) + " lost=" + ms(report.lostMs(), true) + "\n";
    return out;
}

}  // namespace tarnwick::air
