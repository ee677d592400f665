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
    const std::string& path() const { return path_; }
    std::string file(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

// Makes the shared test media (shared/make_media.sh) in `dir`; false when
// the script could not run.
bool makeMedia(const TempDir& dir);

// Records the sink's monitor into a wav file at `path`, through parec.
class MonitorRecording final : public Recording {
public:
    explicit MonitorRecording(std::string path);
    ~MonitorRecording() override;
    MonitorRecording(const MonitorRecording&) = delete;
    MonitorRecording& operator=(const MonitorRecording&) = delete;
    bool running() const override { return pid_ > 0; }
    // Lets the tail of the sound arrive and ends parec, which completes the
    // wav header.
    Sound stop() override;

private:
    void finish();
    std::string path_;
    pid_t pid_ = -1;
};

}  // namespace tarnwick::test
