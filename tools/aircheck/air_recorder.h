// Records what the sound server plays into a sink, with the wall-clock time
// of each sample, for the air check (air_check.h).
//
// It reads `parec -v --raw` of the sink's monitor. parec's verbose lines
// give the stream's own time (pa_stream_get_time: how much of the stream
// has been played at that moment, on the sound server's clock) about every
// 50 ms; each is stamped with the wall clock when read, and the clock fitted
// to them (fitStreamClock) gives the wall-clock time of every sample. It is
// written beside the WAV file, in WAV.clock, as "first_sample_ms MS" and
// "ms_per_frame MS".
#pragma once

#include <csignal>
#include <string>

namespace tarnwick::air {

// Records `source` (a PulseAudio source name, e.g. "radio.monitor") into
// `wavPath` (16-bit PCM at the source's own rate and channels, so that the
// server resamples nothing) and its clock file, until `stop` becomes
// non-zero (a signal handler sets it); false with `error` set when parec
// could not record or never reported its time.
bool recordAir(const std::string& source, const std::string& wavPath, const volatile std::sig_atomic_t& stop,
               std::string& error);

}  // namespace tarnwick::air
