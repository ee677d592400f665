// Test media made at run time, and a parec recorder on the monitor of the
// private null sink (PULSE_SINK) that support/with-session.sh --pulse sets up.
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

bool shell(const std::string& command);       // true on exit status 0
std::string quoted(const std::string& text);  // for the shell, in single quotes

// Each returns the path it wrote, or "" when its tool failed.
// A 1 kHz sine at half of full scale.
std::string makeTone(const TempDir& dir, const std::string& name, double seconds, int channels);
// The 2 s stereo tone encoded as mp3 or mp2, or as the sound track of a
// small mpg (MPEG-2 video, MP2 audio) or avi (JPEG video, PCM audio).
std::string makeEncoded(const TempDir& dir, const std::string& wav, const std::string& format);
// One organ note of 1 s in a standard MIDI file.
std::string makeMidi(const TempDir& dir);
// A 16 x 16 picture; `extension` (bmp, jpg) names its format.
std::string makePicture(const TempDir& dir, const std::string& extension);

// Records the sink's monitor into a wav file from construction (which waits
// until parec runs) to stop().
class MonitorRecording {
public:
    explicit MonitorRecording(std::string path);
    ~MonitorRecording();
    MonitorRecording(const MonitorRecording&) = delete;
    MonitorRecording& operator=(const MonitorRecording&) = delete;
    bool running() const { return pid_ > 0; }
    // Lets the tail of the sound arrive, ends parec (which completes the wav
    // header); the file's path.
    const std::string& stop();

private:
    std::string path_;
    pid_t pid_ = -1;
};

}  // namespace tarnwick::test
