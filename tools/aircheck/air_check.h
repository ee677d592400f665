// The air check: what went out over the air when a node's transmitter is
// keyed by the stand-in's trace and fed by the sound server's sink.
//
// A recording of the sink's monitor knows the wall-clock time at which its
// first sample was played (air_recorder.h); the trace knows when the node was
// keyed and unkeyed. What played while the node was keyed went out; what
// played while it was not is lost. This file reads both and reports, for each
// keyed span, the dead carrier before the sound (lead) and after it (tail),
// the sound lost after the unkey, the silences inside the span and the level.
#pragma once

#include <cstdint>
#include <istream>
#include <optional>
#include <string>
#include <vector>

namespace tarnwick::air {

// A sample counts as sound when one of its channels is above 1 % of full
// scale (-40 dBFS), as the other recorded-sound checks count it; sounds
// less than kGapMs apart are one sound, so a gap is a silence of at least
// kGapMs.
constexpr int kSoundThreshold = 328;
constexpr double kGapMs = 5.0;
// A break's sound reaches the unkey and the re-key within this.
constexpr double kBreakSlackMs = 50.0;

// When a sound server played a stream's samples, on the wall clock. A sink
// keeps its own time, which need not run at the wall clock's pace (a null
// sink that renders 1 ms at a time runs about 0.07 % fast, since it counts
// each 44-frame block as a whole number of microseconds): over a minute that
// would be 40 ms.
struct StreamClock {
    double zeroMs = 0;  // wall clock (ms since the epoch) at which stream time 0 played
    double scale = 1;   // wall ms per ms of stream time
    double wallMs(double streamMs) const { return zeroMs + scale * streamMs; }
};

// Fits the clock to readings of the stream's time (ms played, as the server
// reports it) each paired with the wall clock when it was read, in the order
// read; a reading whose stream time has not moved since the one before is
// left out (the stream has not started, or stalls). A reading
// comes late when it waited to be read, never early, and the stream's time
// itself is off by a millisecond or two either way, now and then by
// several: so in each second of stream time a low reading (the 10th
// percentile of wall - stream) is taken, clear of the rare early outliers
// and below those that came late, and a line is fitted through them. Empty
// without readings.
std::optional<StreamClock> fitStreamClock(const std::vector<std::pair<double, double>>& streamAndWallMs);

// Interleaved 16-bit samples and the wall-clock time (ms since the epoch,
// fractional) at which each was played into the sink.
struct AirRecording {
    int rate = 0;
    int channels = 0;
    double firstSampleMs = 0;
    double msPerFrame = 0;  // on the wall clock
    std::vector<std::int16_t> samples;

    std::int64_t frames() const { return channels > 0 ? static_cast<std::int64_t>(samples.size()) / channels : 0; }
    double msOfFrame(double frame) const { return firstSampleMs + frame * msPerFrame; }
    double frameOfMs(double ms) const { return (ms - firstSampleMs) / msPerFrame; }
};

// Reads WAV (16-bit PCM) and its clock file WAV.clock (first_sample_ms MS,
// and ms_per_frame MS unless it is 1000 / rate); false with `error` set when
// either is missing or unreadable.
bool readAirRecording(const std::string& wavPath, AirRecording& out, std::string& error);

// A stretch during which the node's transmitter was keyed by SetPtt, on the
// node's clock: from a `SetPtt -1` that found it unkeyed to the next
// `SetPtt 0` (none while it is still keyed at the end of the trace). The
// idle repeats of either and calls traced as failed change nothing.
struct KeyedSpan {
    std::int64_t keyMs = 0;
    std::optional<std::int64_t> unkeyMs;
};
std::vector<KeyedSpan> keyedSpans(std::istream& trace);

// A sound: from its first sample above the threshold to just after its last,
// in frames of the recording.
struct SoundRun {
    std::int64_t begin = 0;
    std::int64_t end = 0;
};
std::vector<SoundRun> soundRuns(const AirRecording& recording);

// What one keyed span put on the air. Times in ms. Lead, tail and level are
// empty when no sound went out in the span, and so is what the recording
// cannot tell: the lead when it began after the key, the tail and the loss
// when it ended before the unkey.
struct SpanReport {
    KeyedSpan span;
    bool keyRecorded = false;    // the recording ran at the key
    bool unkeyRecorded = false;  // ... and at the unkey
    std::optional<double> lead;  // key to the first sound on the air (0: sound was playing at the key)
    std::optional<double> tail;  // last sound to the unkey; negative: the sound went on after it (cut)
    std::optional<double> lost;  // sound played after the unkey, up to the next key or the recording's end
    int gaps = 0;                // silences of kGapMs or more between the span's first and last sound
    double longestGap = 0;
    std::optional<double> levelDbfs;  // RMS of the sound on the air (a full-scale square wave is 0 dBFS)
    // When the next span re-keys within the same sound (a transmit break:
    // the sound plays on through the unkey to the re-key, within
    // kBreakSlackMs of each): the unkey to re-key on the node's clock, and
    // the silence heard, from the last sound before the unkey to the first
    // after the re-key.
    std::optional<double> breakOff;
    std::optional<double> breakSilence;
    double onAirMs = 0;  // the span's sound on the air, by its samples
};

// The totals count the sound by its samples, at the recording's own rate:
// how much of the files played went out, whatever pace the sink kept.
struct AirReport {
    std::vector<SpanReport> spans;
    double soundMs = 0;  // all the sound recorded
    double onAirMs = 0;  // of which played while keyed
    double lostMs() const { return soundMs - onAirMs; }
};
AirReport airReport(const AirRecording& recording, const std::vector<KeyedSpan>& spans);

// One line a span, then one for the whole:
//   span=1 key=MS unkey=MS keyed=MS lead=MS tail=MS lost=MS gaps=N longest_gap=MS level=DBFS break_off=MS
//   break_silence=MS on_air=MS total spans=N sound=MS on_air=MS lost=MS
// with "-" for what does not apply and "?" for what the recording cannot tell.
std::string formatReport(const AirReport& report);

}  // namespace tarnwick::air
