// Helpers of the DirectShow graph tests (tarnwick_dshow_tests.exe): the test
// media and the recordings of the null sink, both of which only the Linux
// side can make.
//
// The program runs under windows/dshow_media_run.sh, which makes the media
// with sox and gst-launch-1.0 into a fresh folder named by
// TARNWICK_DSHOW_MEDIA (a Unix path, read here through Wine's Z: drive) and
// records the sink "radio" with parec when asked through files in that
// folder: NAME.start starts a recording into NAME.wav and is answered by
// NAME.recording; NAME.stop ends it and is answered by NAME.done.
#pragma once

#include <string>

#include "shared/wav_measure.h"

namespace tarnwick::testing {

// The media folder as a Windows path, or "" when the program was not
// started by the wrapper.
std::string mediaDir();
// A file of the media folder (Windows path); "" when it was not made.
std::string media(const std::string& name);

// Records the null sink's monitor into NAME.wav of the media folder from
// construction to stop(). Construction returns once the recording runs (or
// the wrapper did not answer: running() is then false).
class MonitorRecording {
public:
    explicit MonitorRecording(std::string name);
    ~MonitorRecording();
    MonitorRecording(const MonitorRecording&) = delete;
    MonitorRecording& operator=(const MonitorRecording&) = delete;
    bool running() const { return running_; }
    // Lets the tail of the sound arrive, ends the recording (which completes
    // the wav) and returns the file's Windows path.
    const std::string& stop();

private:
    std::string name_;
    std::string wav_;
    bool running_ = false;
    bool stopped_ = false;
};

using test::measure;
using test::Sound;

}  // namespace tarnwick::testing
