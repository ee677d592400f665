// Helpers of the playback adapter tests: test media made at run time and a
// recorder on the null sink's monitor (shared/wav_measure measures it).
//
// The tests run under support/with-session.sh --pulse, whose private
// PulseAudio server has one null sink (PULSE_SINK, "radio"); what the graph
// plays there is recorded from its monitor with parec.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

#include "shared/wav_measure.h"

namespace tarnwick::test {

// A fresh directory under /tmp, removed with everything in it at the end.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    std::string file(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

// Runs a shell command; true when it exits with status 0.
bool shell(const std::string& command);
std::string quoted(const std::string& text);  // for the shell, in single quotes

// Test media. Each returns the path it wrote, or "" when its tool failed.
// A 1 kHz sine at half of full scale, `seconds` long, stereo or mono.
std::string makeTone(const TempDir& dir, const std::string& name, double seconds, int channels);
// The 2 s stereo tone encoded as mp3 or mp2, or as the sound track of a
// small mpg (MPEG-2 video, MP2 audio) or avi (JPEG video, PCM audio).
std::string makeEncoded(const TempDir& dir, const std::string& wav, const std::string& format);
// One organ note of 1 s in a standard MIDI file.
std::string makeMidi(const TempDir& dir);
// A 16 x 16 picture; `extension` (bmp, jpg) names its format.
std::string makePicture(const TempDir& dir, const std::string& extension);

// Records the null sink's monitor into a wav file from construction to
// stop(). Construction waits a moment so that the recording is running
// before anything plays.
class MonitorRecording {
public:
    explicit MonitorRecording(std::string path);
    ~MonitorRecording();
    MonitorRecording(const MonitorRecording&) = delete;
    MonitorRecording& operator=(const MonitorRecording&) = delete;
    bool running() const { return pid_ > 0; }
    // Lets the tail of the sound arrive, ends parec (which completes the wav
    // header) and returns the file's path.
    const std::string& stop();

private:
    std::string path_;
    pid_t pid_ = -1;
};

}  // namespace tarnwick::test
