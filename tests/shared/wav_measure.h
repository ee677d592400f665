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
};
Sound measure(const std::string& wavPath);

}  // namespace tarnwick::test
