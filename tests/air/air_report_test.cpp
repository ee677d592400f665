// The air check's report on made-up recordings and traces: what counts as on
// the air, lost, a gap or a break, at sample precision.
#include <gtest/gtest.h>

#include <cmath>
#include <sstream>
#include <string>

#include "aircheck/air_check.h"

namespace tarnwick::air {
namespace {

constexpr double kT0 = 1765053600000.0;  // when the made-up recording's first sample played
constexpr int kRate = 44100;

// A stereo recording of silence, with 1 kHz tones at half of full scale
// (-9.03 dBFS RMS) put in by wall-clock milliseconds from kT0.
struct Made {
    AirRecording rec;
    explicit Made(double seconds) {
        rec.rate = kRate;
        rec.channels = 2;
        rec.firstSampleMs = kT0;
        rec.msPerFrame = 1000.0 / kRate;
        rec.samples.assign(static_cast<std::size_t>(seconds * kRate) * 2, 0);
    }
    Made& tone(double fromMs, double toMs) {
        const auto from = static_cast<std::size_t>(std::lround(fromMs * kRate / 1000));
        const auto to = static_cast<std::size_t>(std::lround(toMs * kRate / 1000));
        for (std::size_t f = from; f < to; ++f) {
            const auto v = static_cast<std::int16_t>(16384 * std::sin(2 * M_PI * 1000.0 * (f - from) / kRate));
            rec.samples[2 * f] = rec.samples[2 * f + 1] = v;
        }
        return *this;
    }
};

// A trace with SetPtt lines at ms from kT0, among the lines the node's idle
// ticks and monitors write.
std::vector<KeyedSpan> trace(const std::string& text) {
    std::istringstream lines(text);
    std::string stamped, rest;
    for (long offset; lines >> offset && std::getline(lines, rest);)
        stamped += std::to_string(static_cast<std::int64_t>(kT0) + offset) + rest + "\n";
    std::istringstream in(stamped);
    return keyedSpans(in);
}

TEST(AirReport, TheWholeSoundOnTheAirHasALeadATailAndItsLevel) {
    const Made made = Made(3).tone(50, 2050);
    const AirReport report = airReport(made.rec, trace("-20 SetListedBusy 0\n"
                                                       "-20 SetPtt 0\n"
                                                       "-10 SetPtt 0\n"
                                                       "0 SetPtt -1\n"
                                                       "40 GetPttState => -1\n"
                                                       "900 SetPtt -1\n"
                                                       "2074 SetListedBusy 0\n"
                                                       "2075 SetPtt 0\n"
                                                       "2085 SetPtt 0\n"));
    ASSERT_EQ(report.spans.size(), 1u);
    const SpanReport& s = report.spans[0];
    EXPECT_NEAR(*s.lead, 50, 0.1);
    EXPECT_NEAR(*s.tail, 25, 0.1);
    EXPECT_NEAR(*s.lost, 0, 0.01);
    EXPECT_EQ(s.gaps, 0);
    EXPECT_NEAR(*s.levelDbfs, -9.03, 0.05);
    EXPECT_FALSE(s.breakOff.has_value());
    EXPECT_NEAR(report.soundMs, 2000, 0.1);
    EXPECT_NEAR(report.onAirMs, 2000, 0.1);
}

// Sound before the key and after the unkey went nowhere; sound already
// playing at the key leaves no dead carrier.
TEST(AirReport, AGapIsASilenceOfFiveMsOrMoreInsideTheSpanAndSoundOutsideItIsLost) {
    const Made made = Made(2).tone(0, 500).tone(504, 800).tone(820, 1000).tone(1500, 1600);
    const AirReport report = airReport(made.rec, trace("100 SetPtt -1\n1100 SetPtt 0\n"));
    const SpanReport& s = report.spans.at(0);
    EXPECT_EQ(s.gaps, 1) << "the 4 ms dropout is no gap, the 20 ms one is; the silence after the last sound is tail";
    EXPECT_NEAR(s.longestGap, 20, 0.1);
    EXPECT_NEAR(*s.lead, 0, 0.01);
    EXPECT_NEAR(*s.tail, 100, 0.1);
    EXPECT_NEAR(*s.lost, 100, 0.1) << "the sound after the unkey";
    EXPECT_NEAR(report.onAirMs, 880, 0.1) << "the 4 ms dropout is part of its sound";
    EXPECT_NEAR(report.lostMs(), 200, 0.1) << "100 ms before the key, 100 ms after the unkey";
}

TEST(AirReport, ABreakIsAnUnkeyAndReKeyWhileTheSoundPlaysOn) {
    const Made through = Made(4).tone(0, 3000);
    const AirReport broken =
        airReport(through.rec, trace("0 SetPtt -1\n1500 SetPtt 0\n1900 SetPtt -1\n3100 SetPtt 0\n"));
    ASSERT_EQ(broken.spans.size(), 2u);
    EXPECT_NEAR(*broken.spans[0].tail, -400, 0.1) << "the sound played on to the re-key";
    EXPECT_NEAR(*broken.spans[0].lost, 400, 0.1);
    EXPECT_NEAR(*broken.spans[0].breakOff, 400, 0.01);
    EXPECT_NEAR(*broken.spans[0].breakSilence, 400, 0.1);
    EXPECT_NEAR(*broken.spans[1].lead, 0, 0.01);
    EXPECT_NEAR(*broken.spans[1].tail, 100, 0.1);

    // A player short of CPU dropped 20 ms just before the unkey: still a
    // break, heard as 20 ms more silence.
    const Made dropped = Made(4).tone(0, 1480).tone(1500, 3000);
    const AirReport late = airReport(dropped.rec, trace("0 SetPtt -1\n1500 SetPtt 0\n1900 SetPtt -1\n3100 SetPtt 0\n"));
    EXPECT_NEAR(*late.spans[0].breakOff, 400, 0.01);
    EXPECT_NEAR(*late.spans[0].breakSilence, 420, 0.1);

    // Two transmissions, each sound whole: the silence between is no break.
    const Made two = Made(4).tone(0, 1000).tone(2000, 3000);
    const AirReport apart = airReport(two.rec, trace("-30 SetPtt -1\n1020 SetPtt 0\n1960 SetPtt -1\n3020 SetPtt 0\n"));
    ASSERT_EQ(apart.spans.size(), 2u);
    EXPECT_FALSE(apart.spans[0].breakOff.has_value());
    EXPECT_NEAR(*apart.spans[1].lead, 40, 0.1);
}

// Failed calls key nothing; what the recording did not hear is not guessed.
TEST(AirReport, FailedCallsAndSpansBeyondTheRecordingAreReportedAsUnknown) {
    const Made made = Made(2).tone(100, 300).tone(1500, 1900);
    const auto spans = trace(
        "-500 SetPtt -1\n"
        "200 SetPtt 0\n"
        "1000 SetPtt -1 => error\n"
        "1400 SetPtt 0 => error\n"
        "1450 SetPtt -1\n");
    ASSERT_EQ(spans.size(), 2u);
    EXPECT_FALSE(spans[1].unkeyMs.has_value());
    EXPECT_EQ(spans[1].keyMs, static_cast<std::int64_t>(kT0) + 1450);
    EXPECT_EQ(formatReport(airReport(made.rec, spans)),
              "span=1 key=1765053599500 unkey=1765053600200 keyed=700 lead=? tail=-100.0 lost=100.0 gaps=0 "
              "longest_gap=0.0 level=-9.03 break_off=- break_silence=- on_air=100.0\n"
              "span=2 key=1765053601450 unkey=- keyed=- lead=50.0 tail=? lost=? gaps=0 longest_gap=0.0 level=-9.03 "
              "break_off=- break_silence=- on_air=400.0\n"
              "total spans=2 sound=600.0 on_air=500.0 lost=100.0\n");
}

// Readings of a stream that plays 0.07 % fast, from 0.5 s late, read up to
// 30 ms late, a few early by a few ms, and at first stuck at 0 while the
// stream had not started: the fitted clock still places each sample within
// 1 ms over a minute (late by a low reading's lateness, here 0.5 ms).
TEST(StreamClockFit, FindsWhenEachSamplePlayedFromReadingsThatComeLateOrWobble) {
    const StreamClock truth{kT0 + 500, 1 / 1.0007};
    std::vector<std::pair<double, double>> readings;
    for (int i = 0; i < 20; ++i) readings.emplace_back(0, kT0 + i * 25);  // not started yet
    unsigned noise = 12345;
    for (double stream = 50; stream < 60000; stream += 50) {
        noise = noise * 1103515245 + 12345;
        const double late = (noise >> 16) % 100 < 70 ? ((noise >> 8) % 300) / 10.0 : ((noise >> 4) % 15) / 10.0;
        const double early = (noise >> 16) % 100 == 99 ? 4 : 0;
        readings.emplace_back(stream, truth.wallMs(stream) + late - early);
    }
    const auto fit = fitStreamClock(readings);
    ASSERT_TRUE(fit.has_value());
    for (double stream : {0.0, 30000.0, 60000.0}) EXPECT_NEAR(fit->wallMs(stream), truth.wallMs(stream), 1) << stream;

    EXPECT_FALSE(fitStreamClock({{0, kT0}, {0, kT0 + 50}}).has_value()) << "a stream that never started";
}

}  // namespace
}  // namespace tarnwick::air
