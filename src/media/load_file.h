// Choosing the media file and building its playback graph.
#pragma once

#include <string>

namespace tarnwick {

class Station;

inline constexpr const char* kMediaFilter =
    "*.wav, *.mp2, *.mp3, *.bmp, *.jpg, *.mpg, *.avi, *.mid|*.wav;*.mp2;*.mp3;*.bmp;*.jpg;*.mpg;*.avi;*.mid";

// The media feature's state; the graph itself is held by the station, where
// every feature plays it.
struct MediaState {
    std::string LoadedFile;       // the path the current graph was built from
    bool loadInProgress = false;  // LoadFile waits in its dialog or a message
};

// Whether LoadFile settles the file again (the file dialog, "Load File")
// or only builds a graph for the file already settled.
enum class ReLoad { No, Yes };

// Settles the file and builds its graph. With ReLoad::No it builds only
// when no graph has been built since start (LoadedFile empty); otherwise it
// takes the path from Text4, or asks with the file dialog when Text4 is
// empty. Shows "Please select a file" for no path or a path that is not a
// file, and "Render error no rendering device found" for any failure from
// the release of the old graph on (leaving no graph). A graph it builds
// takes the volume, balance and speed bars' values before it can run.
// Never raises.
//
// Returns whether a graph is there to play afterwards. A call made while an
// earlier one waits in its dialog or message plays the graph in place when
// it would not load (ReLoad::No, a file loaded and built); one that would
// load is refused at once (false): no two dialogs stack and no graph is
// swapped under a running call.
bool LoadFile(Station& s, MediaState& m, ReLoad reload);

// Releases the graph (no Stop first). If a transmission is running on it,
// the station's graphReleased hook ends it as at the end of the file:
// nothing else would ever unkey it.
void CleanUp(Station& s);

}  // namespace tarnwick
