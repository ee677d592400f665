// What a recording of the null sink holds, for the playback tests of both
// programs (the recordings are the same 16-bit wav files from parec).
#pragma once

#include <string>

namespace tarnwick::test {

// Measured in 10 ms windows. A window is sounding when either channel's RMS
// is above about -40 dBFS.
struct Sound {
    bool readable = false;
    double soundingSeconds = 0;  // total length of the sounding windows
    double leftRms = 0;          // median RMS of the sounding windows, 0 .. 32767
    double rightRms = 0;
    double loudestRms = 0;  // the loudest window's RMS, either channel
    // Seconds from the recording's start to its first and last sample above
    // 1 % of full scale, either channel; -1 when there is none.
    double firstAbove1Percent = -1, lastAbove1Percent = -1;
};
Sound measure(const std::string& wavPath);

// Records the sink's monitor from construction (once the recorder runs) to
// stop().
class Recording {
public:
    virtual ~Recording() = default;
    virtual bool running() const = 0;
    virtual Sound stop() = 0;
};

}  // namespace tarnwick::test
